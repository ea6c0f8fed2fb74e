// Depth events: adds, amends, deletes and summaries on the bid and offer
// queues of a stock, kept as orders within price levels (or one summary per
// level in out-of-order depth), with the best prices, alerts and the events
// each change lists. A reader may stand on a level or order across a hand-over
// of the core lock: links are published with a release store and whatever
// leaves a side is freed through the deferred-free queue.
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "dalloc.h"
#include "kludge.h"
#include "lazyfree.h"
#include "log.h"
#include "pool.h"
#include "ssalert.h"
#include "ssbroker.h"
#include "ssclient.h"  // the request bits of instruments
#include "ssevent.h"
#include "ssevent_int.h"
#include "ssnotify.h"
#include "sspriority.h"
#include "ssstate.h"
#include "sstrack.h"
#include "ssutil.h"

static const char kSrc[] = "src/ssevent";

using namespace ssevent_detail;

namespace {


constexpr uint32_t kLoadedBit[2] = {kRqBidLoaded, kRqOfferLoaded};
constexpr uint32_t kPendingMask[2] = {kDepthPendingBid, kDepthPendingOffer};

// Stock depth alert bits of the alerts module.
constexpr uint32_t kDepthBidFirst = 0x4A0;      // a bid where there was none
constexpr uint32_t kDepthBidBetter = 0x5A0;     // the best bid rose
constexpr uint32_t kDepthBidWorse = 0x6A0;      // the best bid fell
constexpr uint32_t kDepthBid = 0x400;           // any other bid change
constexpr uint32_t kDepthBidZero = 0x800;       // a bid of no volume
constexpr uint32_t kDepthOfferFirst = 0x9020;   // an offer where there was none
constexpr uint32_t kDepthOfferBetter = 0xD020;  // the best offer fell
constexpr uint32_t kDepthOfferWorse = 0xB020;   // the best offer rose
constexpr uint32_t kDepthOffer = 0x8000;
constexpr uint32_t kDepthOfferZero = 0x10000;

// Tick steps of the tick-relative depth messages.
constexpr uint32_t kTickSmallBelow = 20000;
constexpr uint32_t kTickMediumBelow = 200000;
constexpr uint32_t kTickSmall = 50;
constexpr uint32_t kTickMedium = 100;
constexpr uint32_t kTickLarge = 1000;

struct compound_guard {
  bool saved;
  compound_guard() : saved(E.compound) { E.compound = true; }
  ~compound_guard() { E.compound = saved; }
  compound_guard(const compound_guard&) = delete;
  compound_guard& operator=(const compound_guard&) = delete;
};

bool valid_side(const ss_stock* s, int side) {
  if (side == 0 || side == 1) return true;
  log(LOG_ERROR, kSrc, "%s %s: bad depth side %d", ex_name(s), s->code, side);
  return false;
}

const char* side_word(int side) { return side ? "offer" : "bid"; }
bool loaded(const ss_stock* s, int side) { return (s->flags & kLoadedBit[side]) != 0; }
bool pending(const ss_stock* s, int side) { return (s->flags & kPendingMask[side]) != 0; }
uint32_t& best_of(ss_stock* s, int side) { return side ? s->offer : s->bid; }
uint32_t first_price(const ss_stock* s, int side) { return s->levels[side] ? s->levels[side]->price : 0; }

// a is strictly better than b on the side: higher bids and lower offers come
// first, both the other way round for the numbered NZX codes.
bool better(int side, bool reversed, uint32_t a, uint32_t b) {
  bool up = (side == 0) != reversed;
  return up ? a > b : a < b;
}

// Positions a level takes: its orders, or 1 in out-of-order depth.
uint32_t span(const ss_depth_level* l, bool summary) { return summary ? 1 : l->count; }

// The order `index` places into the level's list, and the one before it.
ss_depth_order* order_at(ss_depth_level* l, uint32_t index, ss_depth_order** pred) {
  ss_depth_order* before = nullptr;
  ss_depth_order* o = l->orders;
  for (uint32_t i = 0; o && i < index; i++) {
    before = o;
    o = o->next;
  }
  if (pred) *pred = before;
  return o;
}

// Debug builds: in ordered depth a level counts exactly the orders it lists,
// and its tail pointer names the last of them. Walks the level, so only
// asserted where one order was just linked or unlinked (O(orders of the
// level) per change, debug builds only).
[[maybe_unused]] bool counts_its_orders(const ss_depth_level* l) {
  uint32_t n = 0;
  const ss_depth_order* last = nullptr;
  for (const ss_depth_order* o = l->orders; o; o = o->next, n++) last = o;
  return n == l->count && last == l->last;
}

// ---------------------------------------------------------------------------
// The index of each side's first levels (see ss_depth_prefix)

using side_index = ss_depth_prefix::side_index;

// A stock gets an index once a change had to walk past this many levels of
// a side: a shallow book is found at once without one, and its record and
// the index would be two misses where the book alone is one.
constexpr uint32_t kIndexAfterLevels = 2;

// The stock's own prefix when it has one of this start; null for a scratch
// or loading stock (whose own prefix, if any, is forgotten: its levels change
// without it).
ss_depth_prefix* prefix_of(ss_stock* s) {
  ss_depth_prefix* p = s->depth_prefix_gen == E.generation ? s->depth_prefix : nullptr;
  if (!p || p->owner != s) return nullptr;
  if (!scratch(s)) return p;
  p->side[0].n = 0;
  p->side[1].n = 0;
  return nullptr;
}

// Gives a stock without one an empty prefix (none to a scratch or loading
// stock, or when none can be made).
void make_prefix(ss_stock* s) {
  if (prefix_of(s) || scratch(s) || !E.ready) return;
  auto* p = static_cast<ss_depth_prefix*>(take(&E.prefixes));
  if (!p) return;
  p->owner = s;
  s->depth_prefix = p;
  s->depth_prefix_gen = E.generation;
}

// The side's index, emptied first when its first level is not the side's
// head any more; null as prefix_of.
side_index* index_of(ss_stock* s, int side) {
  ss_depth_prefix* p = prefix_of(s);
  if (!p) return nullptr;
  side_index* x = &p->side[side];
  if (x->n && x->e[0].level != s->levels[side]) x->n = 0;
  return x;
}

// Debug builds: the index lists the side's first levels as they are.
[[maybe_unused]] bool index_agrees(const ss_stock* s, int side, const side_index* x) {
  if (!x) return true;
  const ss_depth_level* l = s->levels[side];
  for (uint32_t i = 0; i < x->n; i++, l = l->next)
    if (!l || x->e[i].level != l || x->e[i].price != l->price || x->e[i].count != l->count) return false;
  return true;
}

// The level at `index` was walked to: it joins the index when it is the
// next one the index lacks.
void index_reach(side_index* x, uint32_t index, ss_depth_level* l) {
  if (!x || index != x->n || index >= kPrefixLevels) return;
  x->e[index] = {l, l->price, l->count};
  x->n++;
}

void index_count(side_index* x, uint32_t index, uint32_t count) {
  if (x && index < x->n) x->e[index].count = count;
}

// A level was linked at `index`: the ones after it move up one place (the
// last falls out of a full index).
void index_insert(side_index* x, uint32_t index, ss_depth_level* l) {
  if (!x || index > x->n || index >= kPrefixLevels) return;
  uint32_t n = x->n < kPrefixLevels ? x->n + 1 : kPrefixLevels;
  for (uint32_t i = n - 1; i > index; i--) x->e[i] = x->e[i - 1];
  x->e[index] = {l, l->price, l->count};
  x->n = n;
}

// The level at `index` was unlinked.
void index_remove(side_index* x, uint32_t index) {
  if (!x || index >= x->n) return;
  for (uint32_t i = index + 1; i < x->n; i++) x->e[i - 1] = x->e[i];
  x->n--;
}

// Where a position falls: the level holding it (null past the side's end),
// the level before, the position of the level's first order and the level's
// index in the side.
struct position_at {
  ss_depth_level* prev;
  ss_depth_level* l;
  uint32_t start;
  uint32_t index;
};

// The first level `stops` accepts, given its price, the positions it takes
// and the position of its first order: looked up in the index, then walked
// on from the index's last level (the levels walked join the index).
template <class Stops>
position_at find_level(ss_stock* s, int side, side_index* x, bool summary, Stops stops) {
  position_at f = {nullptr, s->levels[side], 1, 0};
  if (x && x->n) {
    for (uint32_t i = 0; i < x->n; i++) {
      uint32_t n = summary ? 1 : x->e[i].count;
      if (stops(x->e[i].price, n, f.start)) {
        f.prev = i ? x->e[i - 1].level : nullptr;
        f.l = x->e[i].level;
        f.index = i;
        return f;
      }
      f.start += n;
    }
    f.prev = x->e[x->n - 1].level;
    f.l = f.prev->next;
    f.index = x->n;
  }
  while (f.l && !stops(f.l->price, span(f.l, summary), f.start)) {
    index_reach(x, f.index, f.l);
    f.start += span(f.l, summary);
    f.prev = f.l;
    f.l = f.l->next;
    f.index++;
  }
  if (f.l) index_reach(x, f.index, f.l);
  if (!x && f.index >= kIndexAfterLevels) make_prefix(s);  // indexed from the next change
  return f;
}

position_at find_position(ss_stock* s, int side, side_index* x, bool summary, uint32_t position) {
  return find_level(s, side, x, summary,
                    [position](uint32_t, uint32_t n, uint32_t start) { return start + n > position; });
}

// The first level not better than `price` (null past the side's end).
position_at find_price(ss_stock* s, int side, side_index* x, bool summary, uint32_t price) {
  bool reversed = ssutil_nzx_numbered_code(s);
  return find_level(s, side, x, summary,
                    [side, reversed, price](uint32_t p, uint32_t, uint32_t) { return !better(side, reversed, p, price); });
}

// After the order was linked into the level (it is the tail when nothing
// follows it).
void count_in(ss_depth_level* l, const ss_depth_order* o) {
  if (!o->next) l->last = const_cast<ss_depth_order*>(o);
  ssmodel_publish(l->count, l->count + 1);
  l->volume += o->volume;
  assert(counts_its_orders(l));
}

// After the order was unlinked from the level.
void count_out(ss_depth_level* l, uint64_t volume) {
  ssmodel_publish(l->count, l->count - 1);
  l->volume -= volume;
  assert(counts_its_orders(l));
}

// Links the level between prev (at the head when null) and next, the level
// that follows prev now (passed in: reading prev's link would touch a level
// the change otherwise only stores into).
void link_level(ss_stock* s, int side, ss_depth_level* prev, ss_depth_level* next, ss_depth_level* l) {
  assert(next == (prev ? prev->next : s->levels[side]));
  ssmodel_publish(l->next, next);
  if (prev)
    ssmodel_publish(prev->next, l);
  else
    ssmodel_publish(s->levels[side], l);
}

// Unlinks the level and frees it with its orders after the deferral delay.
// Its own links stay, so a reader standing on it walks on into the side.
void unlink_level(ss_stock* s, int side, ss_depth_level* prev, ss_depth_level* l) {
  if (prev)
    ssmodel_publish(prev->next, l->next);
  else
    ssmodel_publish(s->levels[side], l->next);
  for (ss_depth_order* o = l->orders; o; o = o->next) ssmodel_free_depth_order(o);
  ssmodel_free_depth_level(l);
}

void unlink_order(ss_depth_level* l, ss_depth_order* pred, ss_depth_order* o) {
  if (pred)
    ssmodel_publish(pred->next, o->next);
  else
    ssmodel_publish(l->orders, o->next);
  if (l->last == o) l->last = pred;
  count_out(l, o->volume);
  ssmodel_free_depth_order(o);
}

// The order keeps its broker's record, so the depth writers can send it on.
ss_depth_order* new_order(uint64_t volume, ss_time time, ss_depth_order* next, const char* broker) {
  ss_depth_order* o = ssmodel_new_depth_order(volume, time, nullptr, next);
  if (!o) {
    log(LOG_ERROR, kSrc, "can't alloc depth item");
    return nullptr;
  }
  if (broker && *broker) o->broker = ssbroker_add(broker);
  return o;
}

// A level not yet linked: in ordinary depth with its first order, in
// out-of-order depth with the count and volume given.
ss_depth_level* new_level(uint32_t price, bool summary, uint32_t count, uint64_t volume, ss_time time,
                          ss_depth_order** order, const char* broker) {
  ss_depth_level* l = ssmodel_new_depth_level(price);
  if (!l) {
    log(LOG_ERROR, kSrc, "can't alloc depth break");
    return nullptr;
  }
  if (summary) {
    l->count = count;
    l->volume = volume;
    return l;
  }
  ss_depth_order* o = new_order(volume, time, nullptr, broker);
  if (!o) {
    ssmodel_free_depth_level(l);
    return nullptr;
  }
  l->orders = o;
  l->last = o;
  l->count = 1;
  l->volume = volume;
  *order = o;
  return l;
}

void ask_full(ss_stock* s) {
  if (wish_depth(s) < 0)
    log(LOG_WARN, kSrc, "unable to queue %s %s full depth request, hope for the best", ex_name(s), s->code);
}

void ask_partial(ss_stock* s, int side, const char* what) {
  if (wish_partial_depth(s, side) < 0)
    log(LOG_WARN, kSrc, "unable to queue %s %s partial %s request, hope for the best", ex_name(s), s->code, what);
}

// A side found empty by `op`, which needs its top order. Where the side is
// loaded the book and the feed disagree (-1 after an ERROR); where a refresh
// is already pending the message is dropped; otherwise the side is asked for
// again. Both of those return 0.
int top_side_empty(ss_stock* s, int side, const char* op) {
  if (loaded(s, side)) {
    log(LOG_ERROR, kSrc, "queue is empty for %s %s %s %s (%x)", ex_name(s), s->code, op, side_word(side), s->flags);
    return -1;
  }
  if (pending(s, side)) return 0;
  log(LOG_WARN, kSrc, "%s %s %s queue is empty for change top, stalling (%x)", ex_name(s), s->code, side_word(side),
      s->flags);
  ask_partial(s, side, side_word(side));
  return 0;
}

void dump_both(const ss_stock* s) {
  ssevent_dump_queue(s, 0);
  ssevent_dump_queue(s, 1);
}

// Brokers are carried by the depth of ordinary stocks where the exchange has
// them; an out-of-order stock's messages have no broker field.
int check_depth_broker(const ss_stock* s, const char* broker) {
  if (!(s->exchange->flags & kExBrokers) || out_of_order(s)) return 0;
  if (!broker || !*broker) {
    log(LOG_ERROR, kSrc, "expecting a broker code");
    return -1;
  }
  if (!ssbroker_add(broker)) {
    log(LOG_ERROR, kSrc, "can't add broker %s", broker);
    return -1;
  }
  return 0;
}

uint32_t add_alert_code(int side, uint32_t old_best, uint32_t new_best, uint64_t volume) {
  if (side == 0) {
    uint32_t code = old_best == 0 ? kDepthBidFirst : new_best > old_best ? kDepthBidBetter : kDepthBid;
    return volume == 0 ? code | kDepthBidZero : code;
  }
  uint32_t code = old_best == 0 ? kDepthOfferFirst : new_best < old_best ? kDepthOfferBetter : kDepthOffer;
  return volume == 0 ? code | kDepthOfferZero : code;
}

uint32_t delete_alert_code(int side, uint32_t old_best, uint32_t new_best) {
  if (side == 0) return old_best == 0 ? kDepthBidFirst : new_best < old_best ? kDepthBidWorse : kDepthBid;
  return old_best == 0 ? kDepthOfferFirst : new_best <= old_best ? kDepthOffer : kDepthOfferWorse;
}

// What a summary and an add share once the order or level is in place.
int finish_add(ss_stock* s, ss_time time, int side, uint32_t position, uint32_t count, uint32_t price, uint64_t volume,
               int32_t ahead, const char* broker, uint32_t old_best, const side_index* x) {
  if (check_depth_broker(s, broker) < 0) return -1;
  raise_last(s, time);
  if (records(s)) {
    auto* p = new_joined_payload<ss_ev_depth_add>(kEvDepthAdd);
    if (p) {
      p->time = time;
      p->side = static_cast<uint32_t>(side);
      p->position = position;
      p->count = count;
      p->price = price;
      p->volume = volume;
      p->ahead = ahead;
    }
    emit_joined(s, kEvDepthAdd, p, time ? kChangeDepth : 0);
  }
  uint32_t now = x && x->n ? x->e[0].price : first_price(s, side);
  if (now != old_best || old_best == 0) {
    best_of(s, side) = now;
    ssevent_top_changed(s, side, time);
  }
  ssevent_recompute_auction(s, time);
  fire_alert(s, time, add_alert_code(side, old_best, now, volume), nullptr);
  return 0;
}

// An add the local queue cannot place. A queue that is not loaded is only
// the head of the real one: an order beyond its end is simply not known
// here, while one that contradicts it means the copy is wrong and the full
// queues are asked for again.
int add_disagrees(ss_stock* s, ss_time time, int side, uint32_t price, uint32_t position, char where) {
  if (!loaded(s, side)) {
    if (where == 'C' && !pending(s, side)) ask_full(s);
    return 0;
  }
  dump_both(s);
  log(LOG_ERROR, kSrc, "can't add new %s %s %s #%d to %u @ %s (%x) (%c)", ex_name(s), s->code, side_word(side),
      static_cast<int>(position), price, time_text(time).text, s->flags, where);
  return -1;
}

// Removes the head order of a level, and the level with its last order (in
// out-of-order depth the level itself). A level that promises orders its list
// lacks loses nothing: the side is dumped and the price and volume stay 0.
void remove_head(ss_stock* s, int side, const position_at& f, side_index* x, uint32_t* price, uint64_t* gone) {
  bool summary = out_of_order(s);
  ss_depth_level* l = f.l;
  if (summary || l->count <= 1) {
    *price = l->price;
    *gone = !summary && l->orders ? l->orders->volume : l->volume;
    unlink_level(s, side, f.prev, l);
    index_remove(x, f.index);
    return;
  }
  if (!l->orders) {
    ssevent_dump_queue(s, side);
    log(LOG_ERROR, kSrc, "%s %s %s level %u: bad, %u orders and none listed", ex_name(s), s->code, side_word(side),
        l->price, l->count);
    return;
  }
  *price = l->price;
  *gone = l->orders->volume;
  unlink_order(l, nullptr, l->orders);
  index_count(x, f.index, l->count);
}

}  // namespace

// ===========================================================================
// Depth events

int ssevent_apply_depth_summary(ss_stock* s, ss_time time, int side, uint32_t price, uint64_t volume, uint32_t count,
                                const char* broker) {
  warm_event_list(s);
  if (!valid_side(s, side)) return -1;
  bool summary = out_of_order(s);
  if (summary && count == 0) log(LOG_ERROR, kSrc, "depth summary only with no levels");
  uint32_t old_best = best_of(s, side);
  side_index* x = index_of(s, side);
  uint32_t position;
  uint32_t level_index;
  ss_depth_level* level;
  ss_depth_order* order = nullptr;
  if (!summary && E.memo.valid && E.memo.stock == s && E.memo.side == side && E.memo.price == price) {
    // The memo's order is its level's last: chain the new one after it.
    order = new_order(volume, time, nullptr, broker);
    if (!order) return -1;
    level = E.memo.level;
    level_index = E.memo.level_index;
    ssmodel_publish(E.memo.order->next, order);
    count_in(level, order);
    index_count(x, level_index, level->count);
    position = E.memo.position + 1;
  } else {
    position_at f = find_price(s, side, x, summary, price);
    position = f.start;
    level_index = f.index;
    ss_depth_level* prev = f.prev;
    ss_depth_level* l = f.l;
    // The index knows the level's price: a new level need not touch it.
    uint32_t at_price = !l ? 0 : x && level_index < x->n ? x->e[level_index].price : l->price;
    if (l && at_price == price) {
      level = l;
      if (summary) {
        ssmodel_publish(level->count, count);
        level->volume = volume;
        index_count(x, level_index, count);
      } else {
        ss_depth_order* last = level->last;
        order = new_order(volume, time, nullptr, broker);
        if (!order) return -1;
        position += level->count;
        if (last)
          ssmodel_publish(last->next, order);
        else
          ssmodel_publish(level->orders, order);
        count_in(level, order);
        index_count(x, level_index, level->count);
      }
    } else {
      level = new_level(price, summary, count, volume, time, &order, broker);
      if (!level) return -1;
      link_level(s, side, prev, l, level);
      index_insert(x, level_index, level);
    }
  }
  assert(index_agrees(s, side, x));
  if (order) sspriority_take(s, order, side, position);  // extended model: its waiting details
  if (summary) {
    E.memo.valid = false;
  } else {
    E.memo.valid = true;
    E.memo.stock = s;
    E.memo.side = side;
    E.memo.price = price;
    E.memo.position = position;
    E.memo.level = level;
    E.memo.level_index = level_index;
    E.memo.order = order;
  }
  return finish_add(s, time, side, position, count, price, volume, -1, broker, old_best, x);
}

int ssevent_add_depth(ss_stock* s, ss_time time, int side, uint32_t price, uint64_t volume, uint32_t position,
                      const char* broker) {
  warm_event_list(s);
  if (!valid_side(s, side)) return -1;
  if (out_of_order(s)) {
    log(LOG_ERROR, kSrc, "won't do %s out-of-order summary depth", s->code);
    return -1;
  }
  // A summary after this add must walk: the memo's order may no longer be
  // its level's last.
  ssevent_clear_pending();
  // Adds at a position are rare: the side's index is simply built again.
  if (side_index* x = index_of(s, side)) x->n = 0;
  uint32_t old_best = best_of(s, side);
  bool reversed = ssutil_nzx_numbered_code(s);

  // Where the order goes: into a level after `skip` of its orders, or into a
  // new level after prev; or the queue disagrees (A empty side, B beyond the
  // end, C contradicting the queue).
  ss_depth_level* prev = nullptr;
  ss_depth_level* l = s->levels[side];
  ss_depth_level* into = nullptr;
  uint32_t skip = 0;
  bool make_level = false;
  char where = 0;
  uint32_t start = 1;  // position of the level's first order
  if (!l) {
    if (position == 1)
      make_level = true;
    else
      where = 'A';
  } else {
    while (l && start + l->count <= position) {
      start += l->count;
      prev = l;
      l = l->next;
    }
    if (l) {
      if (position < start)
        where = 'C';  // position 0
      else if (l->price == price) {
        into = l;
        skip = position - start;
      } else if (position == start && prev && prev->price == price) {
        into = prev;
        skip = UINT32_MAX;
      } else if (position == start && better(side, reversed, price, l->price) &&
                 (!prev || better(side, reversed, prev->price, price))) {
        make_level = true;
      } else {
        where = 'C';  // a price that does not belong at this place
      }
    } else if (position != start) {
      where = 'B';
    } else if (prev->price == price) {
      into = prev;
      skip = UINT32_MAX;
    } else if (better(side, reversed, prev->price, price)) {
      make_level = true;
    } else {
      where = 'C';  // an append at the tail against the side's direction
    }
  }
  if (where) return add_disagrees(s, time, side, price, position, where);

  int32_t ahead = 0;
  ss_depth_order* order = nullptr;
  if (make_level) {
    ss_depth_level* level = new_level(price, false, 1, volume, time, &order, broker);
    if (!level) return -1;
    link_level(s, side, prev, l, level);
  } else {
    ss_depth_order* pred = nullptr;
    ss_depth_order* next = order_at(into, skip, &pred);
    order = new_order(volume, time, next, broker);
    if (!order) return -1;
    if (pred)
      ssmodel_publish(pred->next, order);
    else
      ssmodel_publish(into->orders, order);
    count_in(into, order);
    for (ss_depth_order* o = into->orders; o != order; o = o->next) ahead++;
  }
  sspriority_take(s, order, side, position);  // extended model: its waiting details
  return finish_add(s, time, side, position, 1, price, volume, ahead, broker, old_best, nullptr);
}

int ssevent_amend_depth(ss_stock* s, ss_time time, int side, uint32_t position, uint64_t volume) {
  warm_event_list(s);
  if (!valid_side(s, side)) return -1;
  bool summary = out_of_order(s);
  position_at f = find_position(s, side, index_of(s, side), summary, position);
  ss_depth_level* l = f.l;
  uint32_t start = f.start;
  if (!l || position < start) {
    if (!loaded(s, side)) return 0;
    dump_both(s);
    log(LOG_ERROR, kSrc, "can't amend %s %s %s #%d to %llu @ %s (%x)", ex_name(s), s->code, side_word(side),
        static_cast<int>(position), static_cast<unsigned long long>(volume), time_text(time).text, s->flags);
    return -1;
  }
  uint32_t price = 0;
  uint64_t old = 0;
  if (summary) {
    old = l->volume;
    l->volume = volume;
    price = l->price;
  } else if (ss_depth_order* o = order_at(l, position - start, nullptr)) {
    old = o->volume;
    l->volume += volume - old;
    o->volume = volume;
    price = l->price;
  }
  raise_last(s, time);
  if (records(s)) {
    auto* p = new_joined_payload<ss_ev_depth_amend>(kEvDepthAmend);
    if (p) {
      p->time = time;
      p->side = static_cast<uint32_t>(side);
      p->position = position;
      p->price = price;
      p->volume = volume;
      p->old_volume = old;
    }
    emit_joined(s, kEvDepthAmend, p, kChangeDepth);
  }
  ssevent_recompute_auction(s, time);
  s->last_amend = old - volume;
  if (s->exchange->index < static_cast<uint32_t>(kExchanges)) E.last_amended[s->exchange->index][side] = volume;
  return 0;
}

int ssevent_repeat_amend(ss_stock* s, ss_time time, int side) {
  if (!valid_side(s, side)) return -1;
  uint32_t x = s->exchange->index;
  uint64_t volume = x < static_cast<uint32_t>(kExchanges) ? E.last_amended[x][side] : 0;
  return ssevent_amend_depth(s, time, side, 1, volume);
}

int ssevent_delete_depth(ss_stock* s, ss_time time, int side, uint32_t position) {
  warm_event_list(s);
  if (!valid_side(s, side)) return -1;
  ssevent_clear_pending();
  bool summary = out_of_order(s);
  uint32_t old_best = best_of(s, side);
  if (!s->levels[side]) {
    if (!loaded(s, side)) {
      if (!pending(s, side)) {
        log(LOG_WARN, kSrc, "can't delete %s %s %s at %d because the queue is empty, stalling", ex_name(s), s->code,
            side_word(side), static_cast<int>(position));
        ask_partial(s, side, "depth");
      }
      return 0;
    }
    dump_both(s);
    log(LOG_ERROR, kSrc, "can't delete %s %s %s at %d because the queue is empty @ %s (%x)", ex_name(s), s->code,
        side_word(side), static_cast<int>(position), time_text(time).text, s->flags);
    return -1;
  }

  side_index* x = index_of(s, side);
  position_at f = find_position(s, side, x, summary, position);
  ss_depth_level* prev = f.prev;
  ss_depth_level* l = f.l;
  uint32_t start = f.start;
  if (!l || position < start) {
    if (!loaded(s, side)) {
      if (pending(s, side) || s->levels[side]->next) return 0;
      log(LOG_WARN, kSrc, "can't delete %s %s %s #%d yet", ex_name(s), s->code, side_word(side),
          static_cast<int>(position));
      ask_partial(s, side, "depth");
      return 0;
    }
    dump_both(s);
    log(LOG_ERROR, kSrc, "can't delete %s %s %s #%d @ %s (%x) i=%d%s", ex_name(s), s->code, side_word(side),
        static_cast<int>(position), time_text(time).text, s->flags, static_cast<int>(start), summary ? " summary" : "");
    return -1;
  }

  uint32_t price = 0;
  uint64_t gone = 0;
  if (start == position) {
    if (!prev && position > 1) {
      log(LOG_ERROR, kSrc, "%s %s: can't happen!", ex_name(s), s->code);
      return -1;
    }
    remove_head(s, side, f, x, &price, &gone);
  } else {
    ss_depth_order* pred = nullptr;
    ss_depth_order* o = order_at(l, position - start, &pred);
    if (o) {
      price = l->price;
      gone = o->volume;
      unlink_order(l, pred, o);
      index_count(x, f.index, l->count);
    } else {
      ssevent_dump_queue(s, side);
      log(LOG_ERROR, kSrc, "%s %s %s #%d: bad, level %u lists fewer than its %u orders", ex_name(s), s->code,
          side_word(side), static_cast<int>(position), l->price, l->count);
    }
  }

  assert(index_agrees(s, side, x));
  if (!s->levels[side] && !loaded(s, side) && !pending(s, side)) {
    log(LOG_WARN, kSrc, "%s %s %s queue is empty after delete, stalling (%x)", ex_name(s), s->code, side_word(side),
        s->flags);
    ask_partial(s, side, side_word(side));
  }
  bool top = false;
  if (position == 1) {
    uint32_t now = x && x->n ? x->e[0].price : first_price(s, side);
    if (now != best_of(s, side)) {
      best_of(s, side) = now;
      top = true;
    }
  }
  if (!E.compound) ssevent_recompute_auction(s, time);
  raise_last(s, time);
  if (records(s)) {
    auto* p = new_joined_payload<ss_ev_depth_delete>(kEvDepthDelete);
    if (p) {
      p->time = time;
      p->side = static_cast<uint32_t>(side);
      p->position = position;
      p->price = price;
      p->volume = gone;
    }
    emit_joined(s, kEvDepthDelete, p, kChangeDepth);
  }
  if (top) ssevent_top_changed(s, side, time);
  fire_alert(s, time, delete_alert_code(side, old_best, best_of(s, side)), nullptr);
  return 0;
}

int ssevent_change_top(ss_stock* s, ss_time time, int side, uint32_t price, uint64_t volume, const char* broker) {
  if (!valid_side(s, side)) return -1;
  ss_depth_level* head = s->levels[side];
  if (!head) return top_side_empty(s, side, "change top");
  // What the caller keeps comes from the head: its price, and the volume of
  // the head order (in out-of-order depth the head level's volume and count).
  bool summary = out_of_order(s);
  uint32_t count = 1;
  if (price == kNoPrice) price = head->price;
  if (volume == kNoVolume) {
    if (summary) {
      volume = head->volume;
      count = head->count;
    } else {
      volume = head->orders ? head->orders->volume : head->volume;
    }
  }
  uint32_t noted = best_of(s, side);
  {
    compound_guard guard;
    if (ssevent_delete_depth(s, time, side, 1) < 0) return -1;
    if (ssevent_apply_depth_summary(s, time, side, price, volume, count, broker) < 0) return -1;
  }
  ssevent_recompute_auction(s, time);
  if (best_of(s, side) != noted) ssevent_top_changed(s, side, time);
  return 0;
}

int ssevent_delete_top_side(ss_stock* s, ss_time time, int side, int32_t n) {
  if (!valid_side(s, side)) return -1;
  for (int32_t i = 0; i < n; i++) {
    if (!s->levels[side]) return top_side_empty(s, side, "delete multi");
    if (ssevent_delete_depth(s, time, side, 1) < 0) return -1;
  }
  return 1;
}

int ssevent_delete_top(ss_stock* s, ss_time time, int32_t bids, int32_t offers) {
  if (bids < 1 && offers < 1) return 0;
  const int32_t counts[2] = {bids, offers};
  for (int side = 0; side < 2; side++) {
    if (counts[side] < 1) continue;
    uint32_t noted = best_of(s, side);
    int r;
    {
      compound_guard guard;
      r = ssevent_delete_top_side(s, time, side, counts[side]);
    }
    if (r < 1) return r;
    if (best_of(s, side) != noted) ssevent_top_changed(s, side, time);
  }
  ssevent_recompute_auction(s, time);
  return 0;
}

int ssevent_clear_depth(ss_stock* s, ss_time time, int sides) {
  ssevent_clear_pending();
  if (sides < 0 || sides > 2) {
    log(LOG_ERROR, kSrc, "%s %s: bad depth sides %d", ex_name(s), s->code, sides);
    return -1;
  }
  bool named[2] = {sides != 1, sides != 0};
  if ((!named[0] || !s->levels[0]) && (!named[1] || !s->levels[1])) return 0;
  for (int side = 0; side < 2; side++) {
    if (!named[side]) continue;
    ss_depth_level* head = s->levels[side];
    ssmodel_publish(s->levels[side], nullptr);
    ssmodel_free_depth_levels(head);
    if (side_index* x = index_of(s, side)) x->n = 0;
    best_of(s, side) = 0;
  }
  if (time == 0) return 0;
  raise_last(s, time);
  ssevent_recompute_auction(s, time);
  if (records(s)) {
    auto* p = new_payload<ss_ev_depth_clear>(kEvDepthClear);
    if (p) {
      p->time = time;
      p->sides = static_cast<uint32_t>(sides);
    }
    emit(s, kEvDepthClear, p, kChangeDepth);
  }
  return 0;
}

int ssevent_clear_exchange_depth(ss_exchange* ex, ss_time time, uint32_t value) {
  (void)value;
  for (uint64_t i = 0; i < ex->stocks.count; i++)
    if (ssevent_clear_depth(static_cast<ss_stock*>(ex->stocks.sorted[i]), time, 2) < 0) return -1;
  return 0;
}

void ssevent_set_out_of_order(ss_stock* s) {
  s->flags |= kInOutOfOrder;
  ssevent_clear_pending();
}

void ssevent_top_changed(ss_stock* s, int side, ss_time time) {
  if (time == 0 || E.compound || !records(s)) return;
  auto* p = new_payload<ss_ev_top>(kEvTopOfBook);
  if (!p) return;
  const ss_depth_level* bid = s->levels[0];
  const ss_depth_level* offer = s->levels[1];
  p->time = time;
  p->side = static_cast<uint32_t>(side);
  p->bid = bid ? s->bid : 0;
  p->bid_volume = bid ? bid->volume : 0;
  p->offer = offer ? s->offer : 0;
  p->offer_volume = offer ? offer->volume : 0;
  emit(s, kEvTopOfBook, p, 0);
}

void ssevent_clear_pending(void) { E.memo.valid = false; }

void ssevent_forget_depth(ss_stock* s) {
  ss_depth_prefix* p = s->depth_prefix_gen == E.generation ? s->depth_prefix : nullptr;
  if (!p || p->owner != s) return;
  p->side[0].n = 0;
  p->side[1].n = 0;
}

void ssevent_dump_queue(const ss_stock* s, int side) {
  if (side != 0 && side != 1) return;
  fprintf(stderr, "%s %s\n", s->code, side ? "offers" : "bids");
  int total = 0;
  int listed_all = 0;
  for (const ss_depth_level* l = s->levels[side]; l; l = l->next) {
    fprintf(stderr, "%s %c %d %u %llu:", s->code, side ? 'S' : 'B', static_cast<int>(l->count), l->price,
            static_cast<unsigned long long>(l->volume));
    int listed = 0;
    for (const ss_depth_order* o = l->orders; o; o = o->next, listed++)
      fprintf(stderr, " %llu", static_cast<unsigned long long>(o->volume));
    total += static_cast<int>(l->count);
    listed_all += listed;
    fprintf(stderr, " (%d) [%d]\n", listed, total);
  }
  fprintf(stderr, "%s %s %d (%d) %u %u\n", s->code, side_word(side), total, listed_all, s->bid, s->offer);
}

uint32_t ssevent_tick_size(uint32_t price) {
  return price < kTickSmallBelow ? kTickSmall : price < kTickMediumBelow ? kTickMedium : kTickLarge;
}

int ssevent_top_plus_ticks(const ss_stock* s, int side, int32_t ticks, uint32_t* price) {
  if (!valid_side(s, side)) return -1;
  uint32_t top = side ? s->offer : s->bid;
  if (top == 0 || top == kNoPrice) {
    log(LOG_ERROR, kSrc, "%s %s: no %s top to move %d ticks from", ex_name(s), s->code, side_word(side), ticks);
    return -1;
  }
  int64_t moved = static_cast<int64_t>(top) + static_cast<int64_t>(ticks) * ssevent_tick_size(top);
  if (moved < 1 || moved >= static_cast<int64_t>(kNoPrice)) {
    log(LOG_ERROR, kSrc, "%s %s: %s top %u moved %d ticks is no price", ex_name(s), s->code, side_word(side), top,
        ticks);
    return -1;
  }
  *price = static_cast<uint32_t>(moved);
  return 0;
}
