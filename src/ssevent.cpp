// Market events: the io thread applies every depth, trade, quote, index,
// state, news and auction change the server reports to the model here, and
// keeps each applied event on its instrument as a list, newest at the newest
// end, for the windows that replay depth and list trades and for change
// notification. The user-interface thread may still stand on an event, a
// depth level or an order after the lock has changed hands, so every list
// link is published with a release store and whatever leaves a list goes back
// to its pool only through the deferred-free queue.
//
// This file keeps the records and lists, trimming, the alert ring and the day
// records; the market events are in ssevent_depth.cpp (depth),
// ssevent_trade.cpp (trades) and ssevent_quote.cpp (quotes, index ticks,
// states, news and auctions).
#include "ssevent.h"
#include "ssevent_int.h"

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
#include "ssclient.h"
#include "ssnotify.h"
#include "ssstate.h"
#include "sstrack.h"
#include "ssutil.h"


static const char kSrc[] = "src/ssevent";

namespace {

// Items by which each pool grows when it runs dry.
constexpr int32_t kEventsPerPage = 250000;
constexpr int32_t kDaysPerPage = 100;
constexpr int32_t kResumesPerPage = 50;
constexpr int32_t kPrefixesPerPage = 2000;
// Trimming: lists walked side by side, and cut parts per deferred free.
constexpr int kTrimLanes = 8;
constexpr int32_t kCutsPerBatch = 256;
constexpr int32_t kBatchesPerPage = 16;

// The parts of lists cut by one trimming pass, freed together after the
// deferral delay. A part runs from its oldest event up to, not including,
// `stop` (the oldest event kept).
struct cut_batch {
  int32_t count;
  struct {
    ss_event* oldest;
    ss_event* stop;
  } parts[kCutsPerBatch];
};

// Payload record size and pool batch of each kind that owns its payload.
struct payload_row {
  uint32_t kind;
  int32_t size;
  int32_t per_page;
};

// The kinds the stream makes most, whose events the depth changes make
// joined to their payloads (ssevent_add_event still takes a payload made
// apart for them).
constexpr payload_row kJoined[] = {
    {kEvDepthAdd, sizeof(ss_event) + sizeof(ss_ev_depth_add), 100000},
    {kEvDepthAmend, sizeof(ss_event) + sizeof(ss_ev_depth_amend), 100000},
    {kEvDepthDelete, sizeof(ss_event) + sizeof(ss_ev_depth_delete), 100000},
};

constexpr payload_row kPayloads[] = {
    {kEvDepthAdd, sizeof(ss_ev_depth_add), 10000},
    {kEvDepthAmend, sizeof(ss_ev_depth_amend), 10000},
    {kEvDepthDelete, sizeof(ss_ev_depth_delete), 10000},
    {kEvDepthClear, sizeof(ss_ev_depth_clear), 1000},
    {kEvTradeCancel, sizeof(ss_ev_trade_cancel), 1000},
    {kEvState, sizeof(ss_ev_state), 50000},
    {kEvQuoteBasis, sizeof(ss_ev_quote_basis), 1000},
    {kEvTopOfBook, sizeof(ss_ev_top), 50000},
    {kEvAuction, sizeof(ss_ev_auction), 50000},
    {kEvOpenBalance, sizeof(ss_ev_open_balance), 50000},
    {kEvQuote, sizeof(ss_ev_quote), 50000},
};


}  // namespace

event_state ssevent_state;
using namespace ssevent_detail;

namespace {



// Unpoisons the pages first: their addresses may be mapped again by anyone.
void destroy_pool(pool* p) {
  for (char* page = static_cast<char*>(p->pages); page; page = *reinterpret_cast<char**>(page))
    EVENT_UNPOISON(page, static_cast<size_t>(p->items_per_page) * p->item_size + sizeof(void*));
  pool_destroy(p);
}

bool in_ring(const ss_event* ev) { return E.ring && ev >= E.ring && ev < E.ring + kAlertRingSize; }

void give_back_day(void* day) { give_back(&E.days, day); }

void free_list_fn(void* oldest) { ssevent_free_event_list(static_cast<ss_event*>(oldest)); }

// Trimming walks each long list to the oldest event it keeps, and the
// deferred free later walks the part cut off; both are chains of events
// scattered over the pool, one cache miss per step. So lists are trimmed in
// groups of kTrimLanes whose walks advance side by side, and a batch of cut
// parts is freed the same way, so that the misses of several chains overlap.

// One list being trimmed.
struct trim_plan {
  instr* in;
  ss_event* at;     // the walk's cursor; it ends on the oldest event kept
  uint32_t steps;   // still to walk
  bool newer;       // walking from the oldest end
  uint32_t kept;
};

// Works out whether and where the instrument's list is cut; false when it
// is left alone.
bool plan_trim(instr* in, trim_plan* plan) {
  if ((in->flags & kInHeld) || in->hold != 0 || in->events.count <= kEventTrimKeep) return false;
  // The keep point: the oldest event that a pending change entry names, else
  // the newest event. Walk until every named event was met, so that an older
  // entry's events stay as well as a newer one's.
  ss_event* named[2];
  ssnotify_pending_events(in, named);
  int wanted = (named[0] ? 1 : 0) + (named[1] && named[1] != named[0] ? 1 : 0);
  ss_event* keep = in->events.newest;
  uint32_t keep_index = 0;  // counted from the newest, which is 0
  if (wanted) {
    uint32_t index = 0;
    for (ss_event* ev = in->events.newest; ev && wanted; ev = ev->older, index++) {
      if (ev == named[0] || ev == named[1]) {
        keep = ev;
        keep_index = index;
        wanted--;
      }
    }
  }
  // The list keeps the keep point and up to kEventTrimKeep events older than
  // it. The count says how many events lie beyond those, so the oldest one
  // kept is reached from whichever end is nearer: most lists grow by a few
  // events between two housekeeping passes, and walking those (which are
  // about to be freed) beats walking the kEventTrimKeep kept ones.
  const uint32_t kept = keep_index + kEventTrimKeep + 1;
  if (in->events.count <= kept) return false;
  const uint32_t cut = in->events.count - kept;
  plan->in = in;
  plan->kept = kept;
  plan->newer = cut < kEventTrimKeep;
  plan->at = plan->newer ? in->events.oldest : keep;
  plan->steps = plan->newer ? cut : kEventTrimKeep;
  return true;
}

void walk_side_by_side(trim_plan* plans, int n) {
  for (bool moving = true; moving;) {
    moving = false;
    for (int k = 0; k < n; k++) {
      trim_plan& p = plans[k];
      if (!p.steps) continue;
      p.at = p.newer ? p.at->newer : p.at->older;
      p.steps--;
      moving = true;
    }
  }
}

void free_cut_batch(void* p) {
  cut_batch* b = static_cast<cut_batch*>(p);
  struct lane {
    ss_event* at;
    ss_event* stop;
  } lanes[kTrimLanes];
  int busy = 0;
  int32_t next = 0;
  for (;;) {
    while (busy < kTrimLanes && next < b->count) {
      lanes[busy++] = {b->parts[next].oldest, b->parts[next].stop};
      next++;
    }
    if (!busy) break;
    for (int k = 0; k < busy;) {
      lane& l = lanes[k];
      // Only the pointer value of `stop` is compared: it may be gone by now.
      if (!l.at || l.at == l.stop) {
        l = lanes[--busy];
        continue;
      }
      ss_event* newer = l.at->newer;
      __builtin_prefetch(newer, 1);  // read in the next round, after the other lanes
      ssevent_free_event(l.at);
      l.at = newer;
      k++;
    }
  }
  pool_free(&E.batches, b);
}

// Cut parts waiting for one trimming pass to end, and what it cut.
struct trim_pass {
  cut_batch* batch = nullptr;
  uint32_t cut = 0;

  // Hands the batch to the deferred free: the cut parts keep their links
  // into the kept lists, so a reader standing on one can still walk on.
  void send() {
    if (batch) lazyfree_queue(reinterpret_cast<void*>(free_cut_batch), batch, 0, nullptr, nullptr, 0);
    batch = nullptr;
  }

  void cut_at(const trim_plan& p) {
    if (!batch) {
      // Without a record to free it by, the list stays whole until the next
      // pass (pool_alloc has logged).
      batch = static_cast<cut_batch*>(pool_alloc(&E.batches));
      if (!batch) return;
      batch->count = 0;
    }
    instr* in = p.in;
    ss_event* last = p.at;
    batch->parts[batch->count].oldest = in->events.oldest;
    batch->parts[batch->count].stop = last;
    cut += in->events.count - p.kept;
    ssmodel_publish(last->older, nullptr);
    ssmodel_publish(in->events.oldest, last);
    ssmodel_publish(in->events.count, p.kept);
    if (++batch->count == kCutsPerBatch) send();
  }

  void finish(trim_plan* plans, int n) {
    walk_side_by_side(plans, n);
    for (int k = 0; k < n; k++) cut_at(plans[k]);
  }
};

// Day records --------------------------------------------------------------------

ss_day* find_day_record(instr* in, ss_time date) {
  for (ss_day* d = in->days.head; d; d = d->next)
    if (sstime_date_compare(d->date, date) == 0) return d;
  return nullptr;
}

ss_day* make_day_record(instr* in, ss_time date) {
  ss_day* d = E.ready ? static_cast<ss_day*>(take(&E.days)) : nullptr;
  if (!d) {
    log(LOG_ERROR, kSrc, "can't alloc prevday");
    return nullptr;
  }
  d->date = date;
  ss_day* after = in->days.head;
  while (after && sstime_date_compare(after->date, date) < 0) after = after->next;
  d->next = after;
  d->prev = after ? after->prev : in->days.tail;
  if (d->prev)
    ssmodel_publish(d->prev->next, d);
  else
    ssmodel_publish(in->days.head, d);
  if (after)
    ssmodel_publish(after->prev, d);
  else
    ssmodel_publish(in->days.tail, d);
  ssmodel_publish(in->days.count, in->days.count + 1);
  return d;
}

}  // namespace

// ===========================================================================
// Life

int ssevent_init(void) {
  if (E.ready) ssevent_fini();
  memset(E.payloads, 0, sizeof E.payloads);
  memset(E.joined, 0, sizeof E.joined);
  if (pool_init(&E.events, kEventsPerPage, sizeof(ss_event)) < 0) return -1;
  for (const payload_row& row : kPayloads) {
    if (pool_init(&E.payloads[row.kind], row.per_page, row.size) < 0) {
      ssevent_fini();
      return -1;
    }
  }
  for (const payload_row& row : kJoined) {
    if (pool_init(&E.joined[row.kind], row.per_page, row.size) < 0) {
      ssevent_fini();
      return -1;
    }
  }
  if (pool_init(&E.days, kDaysPerPage, sizeof(ss_day)) < 0 ||
      pool_init(&E.resumes, kResumesPerPage, sizeof(ss_resume_node)) < 0 ||
      pool_init(&E.batches, kBatchesPerPage, sizeof(cut_batch)) < 0 ||
      pool_init(&E.prefixes, kPrefixesPerPage, sizeof(ss_depth_prefix)) < 0) {
    ssevent_fini();
    return -1;
  }
  // dalloc ends the process rather than fail, so "can't alloc %d alerts" is
  // never the outcome here.
  size_t bytes = static_cast<size_t>(kAlertRingSize) * (sizeof(ss_event) + sizeof(ss_ev_alert));
  char* block = static_cast<char*>(dalloc_alloc(static_cast<int32_t>(bytes)));
  memset(block, 0, bytes);
  E.ring = reinterpret_cast<ss_event*>(block);
  E.ring_payloads = reinterpret_cast<ss_ev_alert*>(block + kAlertRingSize * sizeof(ss_event));
  for (uint32_t i = 0; i < kAlertRingSize; i++) {
    E.ring[i].kind = kEvAlert;
    E.ring[i].payload = &E.ring_payloads[i];
  }
  E.ring_next = 0;
  if (++E.generation == 0) E.generation = 1;  // a zeroed stock (0) has no prefix
  E.day_records = 0;
  E.memo.valid = false;
  memset(E.last_amended, 0, sizeof E.last_amended);
  E.compound = false;
  E.run.open = false;
  E.ready = true;
  return 0;
}

void ssevent_fini(void) {
  if (E.ring) dalloc_free(E.ring);
  E.ring = nullptr;
  E.ring_payloads = nullptr;
  destroy_pool(&E.events);
  for (pool& p : E.payloads)
    if (p.item_size) destroy_pool(&p);
  memset(E.payloads, 0, sizeof E.payloads);
  for (pool& p : E.joined)
    if (p.item_size) destroy_pool(&p);
  memset(E.joined, 0, sizeof E.joined);
  destroy_pool(&E.days);
  // The resume lists of exchanges still standing name nodes of this pool.
  for (int32_t x = 0; x < kExchanges; x++) {
    ss_exchange* ex = ssmodel_exchange(x);
    if (!ex) continue;
    ssmodel_publish(ex->resumes.head, nullptr);
    ssmodel_publish(ex->resumes.tail, nullptr);
    ssmodel_publish(ex->resumes.count, 0u);
  }
  destroy_pool(&E.resumes);
  destroy_pool(&E.batches);
  destroy_pool(&E.prefixes);
  E.memo.valid = false;
  E.run.open = false;
  E.ready = false;
}

// ===========================================================================
// Records and lists

void* ssevent_new_payload(uint32_t kind) { return new_payload_of(kind); }

ss_event* ssevent_add_event(instr* in, uint32_t kind, void* payload) { return add_event(in, kind, payload); }

ss_time ssevent_event_time(const ss_event* ev) {
  if (!ev || !ev->payload) return 0;
  switch (ev->kind) {
    case kEvTrade:
      return static_cast<const ss_trade*>(ev->payload)->time;
    case kEvNews:
      return static_cast<const ss_news*>(ev->payload)->time;
    case kEvIndexTick:
      return static_cast<ss_time>(static_cast<const ss_tick*>(ev->payload)->time);
    case kEvExchangeMark:
      return 0;
    default:
      // Every payload of the other kinds starts with its time.
      return ev->kind >= 1 && ev->kind <= kEvKinds ? *static_cast<const ss_time*>(ev->payload) : 0;
  }
}

void ssevent_free_event(ss_event* ev) {
  if (!ev || in_ring(ev)) return;
  if (is_joined(ev)) {
    give_back(&E.joined[ev->kind], ev);
    return;
  }
  pool* p = payload_pool(ev->kind);
  if (p && ev->payload) give_back(p, ev->payload);
  give_back(&E.events, ev);
}

void ssevent_free_event_list(ss_event* oldest) {
  while (oldest) {
    ss_event* newer = oldest->newer;
    ssevent_free_event(oldest);
    oldest = newer;
  }
}

void ssevent_free_events(instr* in) {
  // The model detaches a stock's depth together with its events (day reset,
  // fast reset): the summary memo may name a level that is going.
  ssevent_clear_pending();
  ss_event* oldest = in->events.oldest;
  ssmodel_publish(in->events.count, 0u);
  ssmodel_publish(in->events.newest, nullptr);
  ssmodel_publish(in->events.oldest, nullptr);
  if (oldest) lazyfree_later(free_list_fn, oldest);
}

void ssevent_hold(instr* in) { in->hold++; }

// ===========================================================================
// Trimming

uint32_t ssevent_trim_table(chash* table) {
  trim_pass pass;
  trim_plan plans[kTrimLanes];
  int n = 0;
  for (uint64_t i = 0; i < table->count; i++) {
    if (!plan_trim(static_cast<instr*>(table->sorted[i]), &plans[n])) continue;
    if (++n == kTrimLanes) {
      pass.finish(plans, n);
      n = 0;
    }
  }
  pass.finish(plans, n);
  pass.send();
  return pass.cut;
}

void ssevent_trim_all(int flag) {
  (void)flag;  // the full trim and the housekeeping trim do the same here
  for (int32_t x = 0; x < kExchanges; x++) {
    ss_exchange* ex = ssmodel_exchange(x);
    if (!ex) continue;
    ssevent_trim_table(&ex->stocks);
    ssevent_trim_table(&ex->issuers);
    ssevent_trim_table(&ex->indices);
  }
}

void ssevent_trim_due(void) { ssevent_trim_all(0); }
void ssevent_trim_all_now(void) { ssevent_trim_all(1); }

// ===========================================================================
// Alerts

int ssevent_record_alert(instr* in, void* filter, ss_time time, uint32_t code, void* object) {
  if (!in || !in->exchange || !(in->exchange->flags & kExRecord) || !E.ring) return 0;
  uint32_t slot = E.ring_next;
  E.ring_next = slot + 1 == kAlertRingSize ? 0 : slot + 1;
  ss_ev_alert* a = &E.ring_payloads[slot];
  *a = ss_ev_alert{};
  a->time = time;
  a->code = code;
  a->filter = filter;
  if (in->kind == kKindStock) {
    const ss_stock* s = static_cast<const ss_stock*>(in);
    a->bid = s->bid;
    a->offer = s->offer;
    a->last = s->last;
    a->change = s->change;
    a->volume = s->volume;
  } else if (in->kind == kKindIndex) {
    const ss_index* x = static_cast<const ss_index*>(in);
    a->change = x->change;
    a->index_value = x->value;
  }
  a->trade = (code & kAlertCodeTrade) ? static_cast<ss_trade*>(object) : nullptr;
  a->news = (code & kAlertCodeNews) ? static_cast<ss_news*>(object) : nullptr;
  return ssnotify_record(in, kChangeAlert, &E.ring[slot]);
}

uint32_t ssevent_alert_next(void) { return E.ring_next; }

// ===========================================================================
// Day records

void ssevent_enable_day_records(int on) { E.day_records = on ? 1 : 0; }

ss_day* ssevent_find_day(instr* in, ss_time date) {
  ss_day* d = find_day_record(in, date);
  if (!d && E.day_records) d = make_day_record(in, date);
  return d;
}

ss_day* ssevent_get_day(instr* in, ss_time date) {
  ss_day* d = find_day_record(in, date);
  if (d) return d;
  d = make_day_record(in, date);
  if (d && sstime_is_weekend(date)) d->flags |= kDayTradesLoaded | kDayEventsLoaded;
  return d;
}

int ssevent_remove_day(instr* in, ss_time date) {
  ss_day* d = ssevent_find_day(in, date);
  if (!d) return -1;
  if (d->prev)
    ssmodel_publish(d->prev->next, d->next);
  else
    ssmodel_publish(in->days.head, d->next);
  if (d->next)
    ssmodel_publish(d->next->prev, d->prev);
  else
    ssmodel_publish(in->days.tail, d->prev);
  ssmodel_publish(in->days.count, in->days.count - 1);
  ss_event* oldest = d->events.oldest;
  ssmodel_publish(d->events.count, 0u);
  ssmodel_publish(d->events.newest, nullptr);
  ssmodel_publish(d->events.oldest, nullptr);
  if (oldest) lazyfree_later(free_list_fn, oldest);
  if (in->kind == kKindIndex)
    ssmodel_free_day_ticks(d);
  else if (in->kind == kKindStock)
    ssmodel_free_day_trades(d);
  ss_day_bars* bars = d->bars;
  ssmodel_publish(d->bars, nullptr);
  ssevent_free_day_record(bars);
  lazyfree_queue(reinterpret_cast<void*>(give_back_day), d, 0, nullptr, nullptr, 0);
  return 0;
}

void ssevent_remove_days(instr* in) {
  while (ss_day* d = in->days.head) ssevent_remove_day(in, d->date);
}
