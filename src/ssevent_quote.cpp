// Quote, index tick, state, news and auction events: the day's prices a quote
// carries, index values, trading states of stocks and exchanges, news items
// and the auction (indicative price and volume) of a stock.
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
#include "ssstate.h"
#include "sstrack.h"
#include "ssutil.h"

static const char kSrc[] = "src/ssevent";

using namespace ssevent_detail;

// Auctions

namespace {

constexpr uint64_t kNoLevel = UINT64_MAX;  // an auction price for "no such level"
constexpr uint32_t kAlertAuction = 0x2000000;

// All seven fields zero, as ssmodel_auction_clear leaves them.
bool auction_is_clear(const ss_auction& a) {
  return (a.price | a.matched | static_cast<uint64_t>(a.surplus) | a.bid_price | a.bid_volume | a.offer_price |
          a.offer_volume) == 0;
}

}  // namespace

int ssevent_compute_auction(const ss_stock* s, ss_auction* a) {
  if (ssutil_nzx_numbered_code(s)) return 0;
  uint64_t p = a->price;
  bool crossed = s->offer != 0 && s->offer <= s->bid;
  if (p == 0 || !crossed) {
    if (!auction_is_clear(*a)) {
      ssmodel_auction_clear(a);
      return 1;
    }
    return p == 0 ? 1 : 0;
  }
  if ((s->flags & (kRqBidLoaded | kRqOfferLoaded)) != (kRqBidLoaded | kRqOfferLoaded) && !(s->flags & kRqEventsLoaded))
    return 0;
  // Bids at or above the price and offers at or below it would trade there.
  uint64_t bids = 0;
  const ss_depth_level* next_bid = s->levels[0];
  for (; next_bid && next_bid->price >= p; next_bid = next_bid->next) bids = add_sat(bids, next_bid->volume);
  uint64_t offers = 0;
  const ss_depth_level* next_offer = s->levels[1];
  for (; next_offer && next_offer->price <= p; next_offer = next_offer->next)
    offers = add_sat(offers, next_offer->volume);

  ss_auction r;
  ssmodel_auction_clear(&r);
  r.price = p;
  r.surplus = clamp_i64(static_cast<__int128>(bids) - static_cast<__int128>(offers));
  r.bid_price = next_bid ? next_bid->price : kNoLevel;
  r.bid_volume = next_bid ? next_bid->volume : 0;
  r.offer_price = next_offer ? next_offer->price : kNoLevel;
  r.offer_volume = next_offer ? next_offer->volume : 0;
  if (bids < offers) {
    r.matched = bids;
    r.offer_price = p;
    r.offer_volume = offers - bids;
  } else if (bids > offers) {
    r.matched = offers;
    r.bid_price = p;
    r.bid_volume = bids - offers;
  } else {
    r.matched = bids;
  }
  if (!ssmodel_auction_differs(a, &r)) return 0;
  *a = r;
  return 1;
}

void ssevent_recompute_auction(ss_stock* s, ss_time time) {
  // Every depth change lands here, and nearly every stock has no auction: a
  // clear auction stays clear whatever the book (the computation below would
  // clear it again and find no difference), so there is nothing to do.
  if (auction_is_clear(s->auction)) return;
  if (ssutil_nzx_numbered_code(s)) return;
  ss_auction copy = s->auction;
  if (ssevent_compute_auction(s, &copy)) ssevent_apply_auction(s, time, &copy, 1);
}

int ssevent_auction_from_price(ss_stock* s, ss_time time, uint32_t price, uint64_t volume) {
  ss_auction block;
  ssmodel_auction_clear(&block);
  block.price = price;
  block.matched = volume;
  ssevent_compute_auction(s, &block);
  return ssevent_apply_auction(s, time, &block, 0);
}

int ssevent_auction_from_block(ss_stock* s, ss_time time, const ss_auction* given) {
  ss_auction block = *given;
  ssevent_compute_auction(s, &block);
  return ssevent_apply_auction(s, time, &block, 1);
}

int ssevent_apply_auction(ss_stock* s, ss_time time, const ss_auction* block, int full) {
  (void)full;
  if (!ssmodel_auction_differs(&s->auction, block)) return 0;
  ssmodel_auction_copy(&s->auction, block);
  if (block->price) s->last_auction_price = static_cast<uint32_t>(block->price);
  ssmodel_stock_derive(s);
  if (records(s)) {
    auto* p = new_payload<ss_ev_auction>(kEvAuction);
    if (p) {
      p->time = time;
      p->auction = *block;
    }
    emit(s, kEvAuction, p, kChangeAuction);
  }
  if (block->price) fire_alert(s, time, kAlertAuction, nullptr);
  return 0;
}


// ===========================================================================
// Quotes, index ticks, states, news

namespace {

constexpr uint32_t kQuoteLast = 0x1;
constexpr uint32_t kQuoteUp = 0x2;
constexpr uint32_t kQuoteDown = 0x4;
constexpr uint32_t kQuoteHigh = 0x8;
constexpr uint32_t kQuoteLow = 0x10;
constexpr uint32_t kIndexUp = 0xC00000;
constexpr uint32_t kIndexDown = 0x1400000;
constexpr uint32_t kAlertNews = 0x200000;
// The open balance shares its change bit with the issuer-code change.
constexpr uint32_t kChangeOpenBalance = kChangeIssuer;

// NZX: an index value this far from the back-filled reference is a glitch.
constexpr uint32_t kIndexJumpLimit = 0x200001;
// ASX and NZX index values before 09:59:00 are the previous day's.
constexpr uint32_t kIndexOpenSecond = 35940;

bool given(uint32_t v) { return v != kNoPrice; }
bool given_index(uint32_t v) { return v != 0 && v != kNoPrice; }

// Stores a given value that differs; true when it did.
bool store(uint32_t& field, uint32_t v) {
  if (!given(v) || field == v) return false;
  field = v;
  return true;
}

bool store64(uint64_t& field, uint64_t v) {
  if (v == kNoVolume || field == v) return false;
  field = v;
  return true;
}

}  // namespace

int ssevent_apply_quote(ss_stock* s, ss_time time, uint32_t close, uint32_t open, uint32_t high, uint32_t low,
                        uint32_t last, uint64_t volume, uint64_t value) {
  warm_event_list(s);
  uint32_t bits = 0;
  uint32_t old_last = s->last;
  bool changed = store(s->close, close);
  changed |= store(s->open, open);
  if (store(s->high, high)) bits |= kQuoteHigh;
  if (store(s->low, low)) bits |= kQuoteLow;
  if (store(s->last, last)) bits |= kQuoteLast | (last > old_last ? kQuoteUp : kQuoteDown);
  changed |= bits != 0;
  changed |= store64(s->volume, volume);
  changed |= store64(s->value, value);
  if (!changed) return 0;
  // Derived figures follow the close and the totals as well as the last.
  ssmodel_stock_derive(s);
  if ((bits & kQuoteLast) && !scratch(s)) sstrack_track_stock(s, time, s->last);
  raise_last(s, time);
  fire_alert(s, time, bits, nullptr);
  rank_all(s);
  if (records(s)) {
    auto* p = new_payload<ss_ev_quote>(kEvQuote);
    if (p) {
      p->time = time;
      p->close = s->close;
      copy_day_figures(p, s);
    }
    emit(s, kEvQuote, p, kChangeQuote);
  }
  return 0;
}

int ssevent_index_tick(ss_index* x, ss_time time, uint32_t base, uint32_t open, uint32_t high, uint32_t low,
                       uint32_t value) {
  ss_exchange* ex = x->exchange;
  bool glb = ex->index == static_cast<uint32_t>(kExchangeGlb);
  if (ex->index == static_cast<uint32_t>(kExchangeNzx) && given_index(x->reference) && given_index(value)) {
    uint32_t jump = value > x->reference ? value - x->reference : x->reference - value;
    if (jump >= kIndexJumpLimit) {
      log(LOG_WARN, kSrc, "ignoring index movement from %u to %u", x->reference, value);
      return 0;
    }
  }
  if (kludge_is_main_index(time, x->code)) {
    char when[kSstimeDatetimeLen];
    log(LOG_WARN, kSrc, "ignoring %s %u @ %s (%u -> %u)%s", x->code, value, sstime_format_datetime_into(when, time),
        x->low, x->high, value != kNoPrice && value > x->high ? " HIGH" : "");
    return 0;
  }
  if (!glb && !scratch(x)) {
    if (given_index(value) && value != x->value)
      ssstate_push_index_move(x, value);
    else if (given_index(base) && !x->base)
      ssstate_push_index_move(x, base);
  }
  bool changed = false;
  uint32_t code = 0;
  if (given_index(base) && base != x->base) {
    x->base = base;
    changed = true;
  }
  if (given_index(value)) {
    if (!x->base) {
      x->base = value;
      changed = true;
    }
    bool early =
        (ex->index == static_cast<uint32_t>(kExchangeAsx) || ex->index == static_cast<uint32_t>(kExchangeNzx)) &&
        (time & kSstimeSecondsMask) < kIndexOpenSecond;
    if (!early) {
      if (!x->open) x->open = value;
      if (value != x->value) {
        if (x->value) code = value > x->value ? kIndexUp : kIndexDown;
        x->value = value;
        changed = true;
        if (x->high < value) x->high = value;
        if (!x->low || x->low > value) x->low = value;
      }
    }
  }
  if (given_index(open) && open != x->open) {
    x->open = open;
    changed = true;
  }
  if (given_index(high) && high != x->high) {
    x->high = high;
    changed = true;
  }
  if (given_index(low) && low != x->low) {
    x->low = low;
    changed = true;
  }
  if (!x->value && !x->base) return 0;
  if (!changed && x->last_tick_time > ex->date) return 0;
  if (x->base && x->value) {
    int32_t diff = static_cast<int32_t>(x->value - x->base);
    x->change = diff;
    double pct = static_cast<double>(diff) * 10000.0 / static_cast<double>(static_cast<float>(x->base));
    long r = lroundf(static_cast<float>(pct));
    x->change_pct = r > INT32_MAX ? INT32_MAX : r < INT32_MIN ? INT32_MIN : static_cast<int32_t>(r);
  }
  if (time > x->last_tick_time) x->last_tick_time = time;
  ss_event* ev = nullptr;
  if (!glb && x->value) {
    ss_tick* tick = ssmodel_add_index_tick(x, static_cast<int32_t>(time), x->value);
    if (!tick) {
      log(LOG_ERROR, kSrc, "can't add index tick");
      return -1;
    }
    if (records(x)) ev = add_event(x, kEvIndexTick, tick);
  }
  ssnotify_record(x, kChangeIndexTick, ev);
  fire_alert(x, time, code, nullptr);
  if (!glb && !scratch(x)) sstrack_track_index(x, time, x->value);
  return 0;
}

int ssevent_set_stock_state(ss_stock* s, ss_time time, uint32_t state) {
  if (s->state == state) return 0;
  uint32_t old = s->state;
  s->state = state;
  raise_last(s, time);
  if (records(s)) {
    auto* p = new_payload<ss_ev_state>(kEvState);
    if (p) {
      p->time = time;
      p->state = state;
      p->old_state = old;
    }
    emit(s, kEvState, p, kChangeState);
  }
  return 0;
}

int ssevent_set_exchange_state(ss_exchange* ex, ss_time time, uint32_t state, int all, uint32_t value) {
  (void)value;
  if (ex->state == state) return 0;
  ex->state = state;
  if (all) {
    for (uint64_t i = 0; i < ex->stocks.count; i++)
      if (ssevent_set_stock_state(static_cast<ss_stock*>(ex->stocks.sorted[i]), time, state) < 0) return -1;
  }
  if (ex->flags & kExRecord) ssnotify_record_global(kGlobalExchangeState);
  return 0;
}

namespace {

void unlink_resume(ss_list<ss_resume_node>& l, ss_resume_node* n) {
  if (n->prev)
    ssmodel_publish(n->prev->next, n->next);
  else
    ssmodel_publish(l.head, n->next);
  if (n->next)
    ssmodel_publish(n->next->prev, n->prev);
  else
    ssmodel_publish(l.tail, n->prev);
  ssmodel_publish(l.count, l.count - 1);
}

void give_back_resume(void* node, void* p) { give_back(static_cast<pool*>(p), node); }

}  // namespace

int ssevent_resume_track(ss_stock* s, ss_time time, ss_time resume) {
  s->resume_time = resume;
  if (scratch(s)) return 0;
  ss_list<ss_resume_node>& l = s->exchange->resumes;
  ss_resume_node* n = l.head;
  while (n && n->stock != s) n = n->next;
  if (n)
    unlink_resume(l, n);
  else if (E.ready)
    n = static_cast<ss_resume_node*>(take(&E.resumes));
  if (!n) {
    log(LOG_WARN, kSrc, "can't alloc resume track");
  } else {
    n->stock = s;
    ss_resume_node* before = l.head;
    while (before && before->stock->resume_time < resume) before = before->next;
    ss_resume_node* after = before ? before->prev : l.tail;
    ssmodel_publish(n->prev, after);
    ssmodel_publish(n->next, before);
    if (before)
      ssmodel_publish(before->prev, n);
    else
      ssmodel_publish(l.tail, n);
    if (after)
      ssmodel_publish(after->next, n);
    else
      ssmodel_publish(l.head, n);
    ssmodel_publish(l.count, l.count + 1);
  }
  raise_last(s, time);
  if (records(s)) ssnotify_record(s, kChangeState, nullptr);
  return 0;
}

void ssevent_expire_resumes(void) {
  for (int32_t x = 0; x < kExchanges; x++) {
    ss_exchange* ex = ssmodel_exchange(x);
    if (!ex || !ex->resumes.head) continue;
    ss_time now = ssmodel_exchange_now(ex);
    while (ss_resume_node* n = ex->resumes.head) {
      if (n->stock->resume_time > now) break;
      unlink_resume(ex->resumes, n);
      n->stock->resume_time = 0;
      ssnotify_record(n->stock, kChangeState, nullptr);
      lazyfree_queue(reinterpret_cast<void*>(give_back_resume), n, 1, &E.resumes, nullptr, 0);
    }
  }
}

int ssevent_set_quote_basis(ss_stock* s, ss_time time, uint64_t basis) {
  if (s->quote_basis == basis) return 0;
  s->quote_basis = basis;
  raise_last(s, time);
  if (records(s)) {
    auto* p = new_payload<ss_ev_quote_basis>(kEvQuoteBasis);
    if (p) {
      p->time = time;
      p->basis = basis;
    }
    emit(s, kEvQuoteBasis, p, kChangeQuoteBasis);
  }
  return 0;
}

int ssevent_set_open_balance(ss_stock* s, ss_time time, uint32_t balance) {
  s->open_balance = balance;
  if (records(s)) {
    auto* p = new_payload<ss_ev_open_balance>(kEvOpenBalance);
    if (p) {
      p->time = time;
      p->balance = balance;
    }
    emit(s, kEvOpenBalance, p, kChangeOpenBalance);
  }
  return 0;
}

int ssevent_add_news(instr* in, uint32_t number, ss_time time, const uint32_t* codes, uint32_t flags,
                     const char* headline) {
  ss_news* n = ssmodel_add_news(in, number, time, codes, flags, headline);
  if (!n) {
    log(LOG_ERROR, kSrc, "can't alloc news");
    return -1;
  }
  if (records(in) && time > in->exchange->date) emit(in, kEvNews, n, kChangeNews);
  fire_alert(in, time, kAlertNews, n);
  return 0;
}

int ssevent_state_block_begin(ss_exchange* ex, ss_time time, uint32_t state) {
  (void)ex;
  (void)time;
  (void)state;
  return 0;
}

int ssevent_state_block_end(ss_exchange* ex, ss_time time, uint32_t state) {
  (void)ex;
  (void)time;
  (void)state;
  return 0;
}

void ssevent_set_alert_hook(ssevent_alert_fn fn) { E.alert_hook = fn; }

void ssevent_set_requests(const ssevent_requests* table) { E.requests = table; }
