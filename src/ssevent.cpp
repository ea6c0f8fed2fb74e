// Market events: the io thread applies every depth, trade, quote, index,
// state, news and auction change the server reports to the model here, and
// keeps each applied event on its instrument as a list, newest at the newest
// end, for the windows that replay depth and list trades and for change
// notification. The user-interface thread may still stand on an event, a
// depth level or an order after the lock has changed hands, so every list
// link is published with a full barrier and whatever leaves a list goes back
// to its pool only through the deferred-free queue.
#include "ssevent.h"

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

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define EVENT_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define EVENT_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define EVENT_POISON(p, n) ((void)(p), (void)(n))
#define EVENT_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

static const char kSrc[] = "src/ssevent";

namespace {

// Items by which each pool grows when it runs dry.
constexpr int32_t kEventsPerPage = 250000;
constexpr int32_t kDaysPerPage = 100;
constexpr int32_t kResumesPerPage = 50;
// Day-record flags: trades and events loaded.
constexpr uint32_t kDayTradesLoaded = 0x8;
constexpr uint32_t kDayEventsLoaded = 0x10;
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

constexpr payload_row kPayloads[] = {
    {kEvDepthAdd, sizeof(ss_ev_depth_add), 100000},
    {kEvDepthAmend, sizeof(ss_ev_depth_amend), 100000},
    {kEvDepthDelete, sizeof(ss_ev_depth_delete), 100000},
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

static struct {
  bool ready;
  pool events;
  pool payloads[kEvKinds + 1];  // by kind; item_size 0 for kinds without own payload
  // The alert ring: kAlertRingSize events followed by their payloads, in one
  // allocation. Slots are reused in turn without any check.
  ss_event* ring;
  ss_ev_alert* ring_payloads;
  uint32_t ring_next;
  pool days;
  pool batches;     // cut_batch
  int day_records;  // finding a missing day makes it
  pool resumes;     // ss_resume_node
  // Where the last summary put its order, so that the next summary for the
  // same stock, side and price appends without walking the side. It names
  // the stock itself rather than its exchange and code, so that a scratch
  // copy of the stock never links into the live stock's levels. Any change
  // that may move or free the level drops it.
  struct {
    bool valid;
    const ss_stock* stock;
    int side;
    uint32_t price;
    uint32_t position;
    ss_depth_level* level;
    ss_depth_order* order;  // the level's last order
  } memo;
  uint64_t last_amended[kExchanges][2];  // volume of the latest amend
  // Set while change top or delete top runs its inner deletes and summary:
  // they leave the auction and the top-of-book event to the outer operation.
  bool compound;
  struct {
    bool open;
    ss_stock* stock;
    ss_time time;
    uint32_t price;
  } run;  // the open run of trades
  ssevent_alert_fn alert_hook;
} E;

namespace {

pool* payload_pool(uint32_t kind) {
  if (kind == 0 || kind > kEvKinds || E.payloads[kind].item_size == 0) return nullptr;
  return &E.payloads[kind];
}

// A zeroed record from a pool, or null. Under AddressSanitizer a pool's free
// records are poisoned past their free-list link, so a read of a freed event
// is reported.
void* take(pool* p) {
  void* item = pool_alloc(p);
  if (!item) return nullptr;
  EVENT_UNPOISON(item, p->item_size);
  memset(item, 0, p->item_size);
  return item;
}

void give_back(pool* p, void* item) {
  pool_free(p, item);
  EVENT_POISON(static_cast<char*>(item) + sizeof(void*), p->item_size - sizeof(void*));
}

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
// Minimal version: replaced when exchange days and day records are built.

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
  if (pool_init(&E.events, kEventsPerPage, sizeof(ss_event)) < 0) return -1;
  for (const payload_row& row : kPayloads) {
    if (pool_init(&E.payloads[row.kind], row.per_page, row.size) < 0) {
      ssevent_fini();
      return -1;
    }
  }
  if (pool_init(&E.days, kDaysPerPage, sizeof(ss_day)) < 0 ||
      pool_init(&E.resumes, kResumesPerPage, sizeof(ss_resume_node)) < 0 ||
      pool_init(&E.batches, kBatchesPerPage, sizeof(cut_batch)) < 0) {
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
  E.memo.valid = false;
  E.run.open = false;
  E.ready = false;
}

// ===========================================================================
// Records and lists

void* ssevent_new_payload(uint32_t kind) {
  pool* p = E.ready ? payload_pool(kind) : nullptr;
  return p ? take(p) : nullptr;
}

ss_event* ssevent_add_event(instr* in, uint32_t kind, void* payload) {
  ss_event* ev = E.ready ? static_cast<ss_event*>(take(&E.events)) : nullptr;
  if (!ev) {
    log(LOG_ERROR, kSrc, "can't alloc event");
    return nullptr;
  }
  ev->kind = kind;
  ev->payload = payload;
  ev->newer = nullptr;
  ev->older = in->events.newest;
  if (ev->older)
    ssmodel_publish(ev->older->newer, ev);
  else
    ssmodel_publish(in->events.oldest, ev);
  ssmodel_publish(in->events.newest, ev);
  ssmodel_publish(in->events.count, in->events.count + 1);
  return ev;
}

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
// Minimal version: replaced when exchange days and day records are built.

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

// ===========================================================================
// Shared by the market events

namespace {

bool records(const instr* in) { return in->exchange && (in->exchange->flags & kExRecord); }

// A scratch copy made by a reader, or a stock whose list is being loaded: it
// neither tracks prices nor keeps a movement history.
bool scratch(const instr* in) { return (in->flags & kInLoading) != 0; }

const char* ex_name(const instr* in) { return in->exchange ? in->exchange->name : "?"; }

void raise_last(ss_stock* s, ss_time t) {
  if (t > s->last_time) s->last_time = t;
}

template <class T>
T* new_payload(uint32_t kind) {
  return static_cast<T*>(ssevent_new_payload(kind));
}

// Lists an event and records its change bit (none for 0). When the list
// cannot take it the payload goes back to its pool; the bit is recorded
// either way, because the model change it reports stands.
void emit(instr* in, uint32_t kind, void* payload, uint32_t bit) {
  ss_event* ev = payload ? ssevent_add_event(in, kind, payload) : nullptr;
  if (!ev && payload) {
    if (pool* p = payload_pool(kind)) give_back(p, payload);
  }
  if (bit) ssnotify_record(in, bit, ev);
}

// Starts fetching the event this operation will link after: publishing into
// its newer link is a locked store, which stalls until a cold line arrives.
// The market operations call it first, so that the fetch overlaps their walk
// of the book. Only a hint: a prefetch never faults, even on null.
void warm_event_list(const instr* in) { __builtin_prefetch(in->events.newest, 1); }

void fire_alert(instr* in, ss_time time, uint32_t code, void* object) {
  if (!code || !in->exchange || !(in->exchange->flags & kExAlerts)) return;
  if (E.alert_hook) E.alert_hook(in, time, code, object);
  ssalert_fire(in, time, code, object);
}

// The time of an error line: "yyyymmdd hh:mm:ss", or "00:00:00" for none.
struct time_text {
  char text[32];
  explicit time_text(ss_time t) {
    sstime_parts p;
    if (t == 0 || sstime_unpack(&p, t) < 0)
      snprintf(text, sizeof text, "00:00:00");
    else
      snprintf(text, sizeof text, "%04d%02d%02d %02d:%02d:%02d", p.year, p.mon, p.mday, p.hour, p.min, p.sec);
  }
};

// ---------------------------------------------------------------------------
// Depth

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
bool out_of_order(const ss_stock* s) { return (s->flags & kInOutOfOrder) != 0; }
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

ss_depth_order* last_order(ss_depth_level* l, uint32_t* listed) {
  ss_depth_order* last = nullptr;
  uint32_t n = 0;
  for (ss_depth_order* o = l->orders; o; o = o->next, n++) last = o;
  if (listed) *listed = n;
  return last;
}

void count_in(ss_depth_level* l, uint64_t volume) {
  ssmodel_publish(l->count, l->count + 1);
  l->volume += volume;
}

void count_out(ss_depth_level* l, uint64_t volume) {
  ssmodel_publish(l->count, l->count - 1);
  l->volume -= volume;
}

// Links the level after prev (at the head when null).
void link_level(ss_stock* s, int side, ss_depth_level* prev, ss_depth_level* l) {
  ssmodel_publish(l->next, prev ? prev->next : s->levels[side]);
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
  l->count = 1;
  l->volume = volume;
  *order = o;
  return l;
}

void ask_full(ss_stock* s) {
  if (ssclient_private_depth(s) < 0)
    log(LOG_WARN, kSrc, "unable to queue %s %s full depth request, hope for the best", ex_name(s), s->code);
}

void ask_partial(ss_stock* s, int side, const char* what) {
  if (ssclient_private_partial_depth(s, side) < 0)
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
               int32_t ahead, const char* broker, uint32_t old_best) {
  if (check_depth_broker(s, broker) < 0) return -1;
  raise_last(s, time);
  if (records(s)) {
    auto* p = new_payload<ss_ev_depth_add>(kEvDepthAdd);
    if (p) {
      p->time = time;
      p->side = static_cast<uint32_t>(side);
      p->position = position;
      p->count = count;
      p->price = price;
      p->volume = volume;
      p->ahead = ahead;
    }
    emit(s, kEvDepthAdd, p, time ? kChangeDepth : 0);
  }
  uint32_t now = first_price(s, side);
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
void remove_head(ss_stock* s, int side, ss_depth_level* prev, ss_depth_level* l, uint32_t* price, uint64_t* gone) {
  bool summary = out_of_order(s);
  if (summary || l->count <= 1) {
    *price = l->price;
    *gone = !summary && l->orders ? l->orders->volume : l->volume;
    unlink_level(s, side, prev, l);
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
  uint32_t position;
  ss_depth_level* level;
  ss_depth_order* order = nullptr;
  if (!summary && E.memo.valid && E.memo.stock == s && E.memo.side == side && E.memo.price == price) {
    // The memo's order is its level's last: chain the new one after it.
    order = new_order(volume, time, nullptr, broker);
    if (!order) return -1;
    level = E.memo.level;
    ssmodel_publish(E.memo.order->next, order);
    count_in(level, volume);
    position = E.memo.position + 1;
  } else {
    bool reversed = ssutil_nzx_numbered_code(s);
    position = 1;
    ss_depth_level* prev = nullptr;
    ss_depth_level* l = s->levels[side];
    while (l && better(side, reversed, l->price, price)) {
      position += span(l, summary);
      prev = l;
      l = l->next;
    }
    if (l && l->price == price) {
      level = l;
      if (summary) {
        ssmodel_publish(level->count, count);
        level->volume = volume;
      } else {
        ss_depth_order* last = last_order(level, nullptr);
        order = new_order(volume, time, nullptr, broker);
        if (!order) return -1;
        position += level->count;
        if (last)
          ssmodel_publish(last->next, order);
        else
          ssmodel_publish(level->orders, order);
        count_in(level, volume);
      }
    } else {
      level = new_level(price, summary, count, volume, time, &order, broker);
      if (!level) return -1;
      link_level(s, side, prev, level);
    }
  }
  if (summary) {
    E.memo.valid = false;
  } else {
    E.memo.valid = true;
    E.memo.stock = s;
    E.memo.side = side;
    E.memo.price = price;
    E.memo.position = position;
    E.memo.level = level;
    E.memo.order = order;
  }
  return finish_add(s, time, side, position, count, price, volume, -1, broker, old_best);
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
  if (make_level) {
    ss_depth_order* order = nullptr;
    ss_depth_level* level = new_level(price, false, 1, volume, time, &order, broker);
    if (!level) return -1;
    link_level(s, side, prev, level);
  } else {
    ss_depth_order* pred = nullptr;
    ss_depth_order* next = order_at(into, skip, &pred);
    ss_depth_order* order = new_order(volume, time, next, broker);
    if (!order) return -1;
    if (pred)
      ssmodel_publish(pred->next, order);
    else
      ssmodel_publish(into->orders, order);
    count_in(into, volume);
    for (ss_depth_order* o = into->orders; o != order; o = o->next) ahead++;
  }
  return finish_add(s, time, side, position, 1, price, volume, ahead, broker, old_best);
}

int ssevent_amend_depth(ss_stock* s, ss_time time, int side, uint32_t position, uint64_t volume) {
  warm_event_list(s);
  if (!valid_side(s, side)) return -1;
  bool summary = out_of_order(s);
  ss_depth_level* l = s->levels[side];
  uint32_t start = 1;
  while (l && start + span(l, summary) <= position) {
    start += span(l, summary);
    l = l->next;
  }
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
    auto* p = new_payload<ss_ev_depth_amend>(kEvDepthAmend);
    if (p) {
      p->time = time;
      p->side = static_cast<uint32_t>(side);
      p->position = position;
      p->price = price;
      p->volume = volume;
      p->old_volume = old;
    }
    emit(s, kEvDepthAmend, p, kChangeDepth);
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

  ss_depth_level* prev = nullptr;
  ss_depth_level* l = s->levels[side];
  uint32_t start = 1;
  while (l && start + span(l, summary) <= position) {
    start += span(l, summary);
    prev = l;
    l = l->next;
  }
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
    remove_head(s, side, prev, l, &price, &gone);
  } else {
    ss_depth_order* pred = nullptr;
    ss_depth_order* o = order_at(l, position - start, &pred);
    if (o) {
      price = l->price;
      gone = o->volume;
      unlink_order(l, pred, o);
    } else {
      ssevent_dump_queue(s, side);
      log(LOG_ERROR, kSrc, "%s %s %s #%d: bad, level %u lists fewer than its %u orders", ex_name(s), s->code,
          side_word(side), static_cast<int>(position), l->price, l->count);
    }
  }

  if (!s->levels[side] && !loaded(s, side) && !pending(s, side)) {
    log(LOG_WARN, kSrc, "%s %s %s queue is empty after delete, stalling (%x)", ex_name(s), s->code, side_word(side),
        s->flags);
    ask_partial(s, side, side_word(side));
  }
  bool top = false;
  if (position == 1) {
    uint32_t now = first_price(s, side);
    if (now != best_of(s, side)) {
      best_of(s, side) = now;
      top = true;
    }
  }
  if (!E.compound) ssevent_recompute_auction(s, time);
  raise_last(s, time);
  if (records(s)) {
    auto* p = new_payload<ss_ev_depth_delete>(kEvDepthDelete);
    if (p) {
      p->time = time;
      p->side = static_cast<uint32_t>(side);
      p->position = position;
      p->price = price;
      p->volume = gone;
    }
    emit(s, kEvDepthDelete, p, kChangeDepth);
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

// ===========================================================================
// Auctions

namespace {

constexpr uint64_t kNoLevel = UINT64_MAX;  // an auction price for "no such level"
constexpr uint32_t kAlertAuction = 0x2000000;

uint64_t add_sat(uint64_t a, uint64_t b) { return a + b < a ? UINT64_MAX : a + b; }

int64_t clamp_i64(__int128 v) {
  if (v > INT64_MAX) return INT64_MAX;
  if (v < INT64_MIN) return INT64_MIN;
  return static_cast<int64_t>(v);
}

}  // namespace

int ssevent_compute_auction(const ss_stock* s, ss_auction* a) {
  if (ssutil_nzx_numbered_code(s)) return 0;
  uint64_t p = a->price;
  bool crossed = s->offer != 0 && s->offer <= s->bid;
  if (p == 0 || !crossed) {
    ss_auction clear;
    ssmodel_auction_clear(&clear);
    if (ssmodel_auction_differs(a, &clear)) {
      *a = clear;
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
// Trades

namespace {

constexpr uint32_t kAlertTrade = 0x20000;
constexpr uint32_t kAlertTradeNoPrice = 0xA0000;
constexpr uint32_t kAlertTradeHighLow = 0x60000;  // a last-setting trade that counts for high and low
constexpr uint32_t kAlertTradeDown = 0x100005;
constexpr uint32_t kAlertTradeUp = 0x100003;

constexpr int kRankChange = 0;
constexpr int kRankVolume = 1;
constexpr int kRankValue = 2;

// The value a trade adds, in cents: price (hundredths of a cent) x volume x
// contract multiplier, over 100. The product is formed in 128 bits and
// saturates, so corrupt input cannot wrap it.
uint64_t trade_value(const ss_stock* s, uint32_t price, uint64_t volume) {
  int32_t m = static_cast<int32_t>(s->multiplier);
  unsigned __int128 mult = m < 1 ? 1 : static_cast<unsigned>(m);
  unsigned __int128 v = static_cast<unsigned __int128>(price) * volume * mult / 100;
  return v > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(v);
}

uint32_t average_price(uint64_t value, uint64_t volume) {
  double avg = std::rint(static_cast<double>(value) * 100.0 / static_cast<double>(volume));
  if (!(avg >= 0)) return 0;
  return avg >= 4294967295.0 ? 0xFFFFFFFEu : static_cast<uint32_t>(avg);
}

void set_average(ss_stock* s) {
  s->average_price = s->second_volume ? average_price(s->second_value, s->second_volume) : s->close;
}

using rank_compare = int (*)(const ss_stock*, const ss_stock*);
const rank_compare kRankCompare[3] = {ssmodel_rank_change_compare, ssmodel_rank_volume_compare,
                                      ssmodel_rank_value_compare};

// Moves a ranked stock to its place: towards the head while it ranks before
// its neighbour, else towards the tail while it ranks after it. A reader
// standing on the stock follows its new links, as in every relink.
void rank_move(ss_stock* s, int i) {
  ss_exchange* ex = s->exchange;
  ss_list<ss_stock>& list = ex->rank[i];
  if (!s->rank[i].prev && list.head != s) return;  // not ranked
  rank_compare cmp = kRankCompare[i];
  ss_stock* prev = s->rank[i].prev;
  ss_stock* next = s->rank[i].next;
  ss_stock* after;  // the new predecessor; null for the head
  if (prev && cmp(s, prev) < 0) {
    after = prev;
    while (after && cmp(s, after) < 0) after = after->rank[i].prev;
  } else if (next && cmp(s, next) > 0) {
    after = next;
    while (after->rank[i].next && cmp(s, after->rank[i].next) > 0) after = after->rank[i].next;
  } else {
    return;
  }
  if (prev)
    ssmodel_publish(prev->rank[i].next, next);
  else
    ssmodel_publish(list.head, next);
  if (next)
    ssmodel_publish(next->rank[i].prev, prev);
  else
    ssmodel_publish(list.tail, prev);
  ss_stock* before = after ? after->rank[i].next : list.head;
  ssmodel_publish(s->rank[i].prev, after);
  ssmodel_publish(s->rank[i].next, before);
  if (before)
    ssmodel_publish(before->rank[i].prev, s);
  else
    ssmodel_publish(list.tail, s);
  if (after)
    ssmodel_publish(after->rank[i].next, s);
  else
    ssmodel_publish(list.head, s);
}

void rank_all(ss_stock* s) {
  if (!(s->exchange->flags & kExRankings)) return;
  for (int i = 0; i < 3; i++) rank_move(s, i);
}

// The trade a cancel names: `number` counts the day's trades from 0. With
// only the latest trades held, the list's live trades are the last of the
// day's count.
ss_trade* find_trade(ss_stock* s, int32_t number) {
  int64_t index = number;
  if (!(s->flags & kRqTradesLoaded)) {
    int64_t live = 0;
    for (ss_trade* t = s->trades.head; t; t = t->next)
      if (!(t->bits & kTradeCancelled)) live++;
    index = live + number - static_cast<int64_t>(s->trade_count);
  }
  if (index < 0) return nullptr;
  for (ss_trade* t = s->trades.head; t; t = t->next) {
    if (t->bits & kTradeCancelled) continue;
    if (index-- == 0) return t;
  }
  return nullptr;
}

void drop_trade_count(ss_stock* s) {
  if (s->trade_count) s->trade_count--;
}

// Everything but the value fields when the stock's value is not the trades'.
void refold_trades(ss_stock* s) {
  bool values = !ssutil_nzx_special_code(s);
  uint32_t open = 0, last = 0, high = 0, low = 0;
  uint64_t volume = 0, value = 0, second_volume = 0, second_value = 0;
  for (const ss_trade* t = s->trades.head; t; t = t->next) {
    if (t->bits & kTradeCancelled) continue;
    if (t->bits & kTradeSetsLast) {
      if (!open) open = t->price;
      last = t->price;
    }
    if ((t->bits & kTradeHighLow) && t->price) {
      if (t->price > high) high = t->price;
      if (!low || t->price < low) low = t->price;
    }
    if (t->bits & kTradeVolume) {
      volume = add_sat(volume, t->volume);
      value = add_sat(value, trade_value(s, t->price, t->volume));
    }
    if (t->bits & kTradeSecond) {
      second_volume = add_sat(second_volume, t->volume);
      second_value = add_sat(second_value, trade_value(s, t->price, t->volume));
    }
  }
  s->open = open;
  s->last = last;
  s->high = high;
  s->low = low;
  s->volume = volume;
  s->second_volume = second_volume;
  if (values) {
    s->value = value;
    s->second_value = second_value;
  }
  set_average(s);
  ssmodel_stock_derive(s);
}

// After a cancel: the track hears the new last price, or the previous close
// when no last is left.
void track_after_cancel(ss_stock* s, ss_time time, uint32_t old_last) {
  if (scratch(s) || s->last == old_last) return;
  if (s->last != 0 && s->last != kNoPrice)
    sstrack_track_stock(s, time, s->last);
  else if (s->close != 0 && s->close != kNoPrice)
    sstrack_track_stock(s, time, s->close);
}

// The day's prices and totals as the quote and cancel events carry them.
template <class P>
void copy_day_figures(P* p, const ss_stock* s) {
  p->open = s->open;
  p->low = s->low;
  p->high = s->high;
  p->last = s->last;
  p->volume = s->volume;
  p->value = s->value;
}

void cancel_event(ss_stock* s, ss_time time, ss_trade* t, bool totals) {
  auto* p = new_payload<ss_ev_trade_cancel>(kEvTradeCancel);
  if (p) {
    p->time = time;
    if (totals) copy_day_figures(p, s);
    p->trade = t;
  }
  emit(s, kEvTradeCancel, p, kChangeTradeCancel);
}

}  // namespace

int ssevent_apply_trade(ss_stock* s, ss_time time, uint32_t price, uint64_t volume, int sets_last, int high_low,
                        int counts_volume, int counts_second, uint64_t conditions, uint64_t second_value, uint32_t date,
                        const char* buyer, const char* seller) {
  warm_event_list(s);
  __builtin_prefetch(s->trades.tail, 1);  // the trade is linked after it
  uint32_t p = price == kNoPrice ? 0 : price;
  uint32_t old_last = s->last;
  ss_trade* t = ssmodel_add_trade(s, time, p, volume);
  if (!t) {
    log(LOG_ERROR, kSrc, "can't alloc %s %s trade", ex_name(s), s->code);
    return -1;
  }
  uint64_t bits = 0;
  if (sets_last) bits |= kTradeSetsLast;
  if (high_low) bits |= kTradeHighLow;
  if (counts_volume) bits |= kTradeVolume;
  if (counts_second) bits |= kTradeSecond;
  if (conditions) bits |= kTradeConditions;
  if (second_value) bits |= kTradeSecondValue;
  if (date) bits |= kTradeDate;
  t->bits |= bits;

  ss_broker* buy = nullptr;
  ss_broker* sell = nullptr;
  // A stock whose depth is kept as level totals has no broker fields on the
  // wire, trades included, so only ordinary stocks must name both brokers;
  // for the others the codes are taken when given, as on an exchange
  // without brokers.
  if ((s->exchange->flags & kExBrokers) && !out_of_order(s)) {
    if (!buyer || !*buyer) {
      log(LOG_ERROR, kSrc, "expecting a buy broker code");
      return -1;
    }
    if (!seller || !*seller) {
      log(LOG_ERROR, kSrc, "expecting a sell broker code");
      return -1;
    }
    if (!(buy = ssbroker_add(buyer))) {
      log(LOG_ERROR, kSrc, "can't add broker %s", buyer);
      return -1;
    }
    if (!(sell = ssbroker_add(seller))) {
      log(LOG_ERROR, kSrc, "can't add broker %s", seller);
      return -1;
    }
  } else {
    if (buyer && *buyer) buy = ssbroker_add(buyer);
    if (seller && *seller) sell = ssbroker_add(seller);
  }
  if (conditions || second_value || date || buy || sell) {
    if (!ssmodel_set_trade_detail(t, conditions, second_value, date, reinterpret_cast<uintptr_t>(buy),
                                  reinterpret_cast<uintptr_t>(sell))) {
      log(LOG_ERROR, kSrc, "can't alloc %s %s trade detail", ex_name(s), s->code);
      return -1;
    }
  }

  bool values = !ssutil_nzx_special_code(s);
  uint64_t value = values ? trade_value(s, p, volume) : 0;
  if (counts_volume) {
    s->volume = add_sat(s->volume, volume);
    s->value = add_sat(s->value, value);
  }
  if (counts_second) {
    s->second_volume = add_sat(s->second_volume, volume);
    s->second_value = add_sat(s->second_value, value);
    if (s->second_volume) s->average_price = average_price(s->second_value, s->second_volume);
  }
  if (time > s->last_trade_time) s->last_trade_time = time;
  raise_last(s, time);
  // The walk only ever sets the bit, and it can be long (a list of trades at
  // one price is walked to its end), so a stock that has the bit is spared it.
  if (!scratch(s) && !(s->flags & kRqRecentLoaded) && ssmodel_trades_vary(s)) s->flags |= kRqRecentLoaded;
  if (records(s)) emit(s, kEvTrade, t, kChangeTrade);

  uint32_t code = 0;
  if (s->exchange->flags & kExAlerts) {
    code = p == 0 ? kAlertTradeNoPrice : kAlertTrade;
    if (sets_last && p) {
      code = high_low ? kAlertTradeHighLow : kAlertTrade;
      if (p < old_last)
        code += kAlertTradeDown;
      else if (p > old_last)
        code += kAlertTradeUp;
    }
  }
  if (sets_last && p) {
    if (!s->open) s->open = p;
    if (!scratch(s)) {
      ssstate_push_trade_move(s, p);
      sstrack_track_stock(s, time, p);
    }
    s->last = p;
  }
  if (high_low && p) {
    if (!s->low || s->low > p) s->low = p;
    if (s->high < p) s->high = p;
  }
  ssmodel_stock_derive(s);
  fire_alert(s, time, code, t);
  if (s->exchange->flags & kExRankings) {
    if (sets_last) rank_move(s, kRankChange);
    if (counts_volume) {
      rank_move(s, kRankVolume);
      rank_move(s, kRankValue);
    }
  }
  return 0;
}

int ssevent_cancel_trade(ss_stock* s, ss_time time, int32_t number, uint32_t price, uint64_t volume) {
  uint32_t p = price == kNoPrice ? 0 : price;
  bool all = (s->flags & kRqTradesLoaded) != 0;
  ss_trade* t = find_trade(s, number);
  if (!t) {
    if (all) log(LOG_ERROR, kSrc, "can't find %s %s trade #%d to cancel", ex_name(s), s->code, number);
    ssclient_private_events(s);
    return 0;
  }
  if (t->price != p || t->volume != volume) {
    log(LOG_ERROR, kSrc, "%s %s cancel trade mismatch #%d %u/%u %llu/%llu", ex_name(s), s->code, number, p, t->price,
        static_cast<unsigned long long>(volume), static_cast<unsigned long long>(t->volume));
    ssclient_private_events(s);
    return 0;
  }
  uint32_t old_last = s->last;
  t->bits |= kTradeCancelled;
  drop_trade_count(s);
  if (all) refold_trades(s);
  rank_all(s);
  raise_last(s, time);
  track_after_cancel(s, time, old_last);
  if (records(s)) {
    log(LOG_WARN, kSrc, "%s:%s old cancel trade", ex_name(s), s->code);
    cancel_event(s, time, t, false);
  }
  return 0;
}

int ssevent_cancel_trade_totals(ss_stock* s, ss_time time, int32_t number, uint32_t price, uint64_t volume,
                                uint32_t open, uint32_t high, uint32_t low, uint32_t last, uint64_t total_volume,
                                uint64_t value, uint64_t second_volume, uint64_t second_value) {
  uint32_t p = price == kNoPrice ? 0 : price;
  ss_trade* t = find_trade(s, number);
  if (t && t->price == p && t->volume == volume) {
    t->bits |= kTradeCancelled;
  } else if (t) {
    log(LOG_WARN, kSrc, "%s %s cancel trade mismatch #%d %u/%u %llu/%llu", ex_name(s), s->code, number, p, t->price,
        static_cast<unsigned long long>(volume), static_cast<unsigned long long>(t->volume));
    ssclient_private_trades(s);
  } else if (s->flags & kRqTradesLoaded) {
    log(LOG_ERROR, kSrc, "can't find %s %s trade #%d to cancel", ex_name(s), s->code, number);
    ssclient_private_trades(s);
  }
  uint32_t old_last = s->last;
  drop_trade_count(s);
  s->open = open;
  s->high = high;
  s->low = low;
  s->last = last;
  s->volume = total_volume;
  s->second_volume = second_volume;
  if (!ssutil_nzx_special_code(s)) {
    s->value = value;
    s->second_value = second_value;
  }
  set_average(s);
  ssmodel_stock_derive(s);
  rank_all(s);
  raise_last(s, time);
  track_after_cancel(s, time, old_last);
  if (t && records(s)) cancel_event(s, time, t, true);
  return 0;
}

int ssevent_multi_trade_begin(ss_stock* s, ss_time time, uint32_t price, uint32_t count) {
  (void)count;
  E.run.open = true;
  E.run.stock = s;
  E.run.time = time;
  E.run.price = price;
  return 0;
}

int ssevent_multi_trade_add(ss_stock* s, uint64_t volume) {
  if (!E.run.open || (s && s != E.run.stock)) {
    log(LOG_ERROR, kSrc, "multi trade for %s without its begin", s ? s->code : "?");
    return -1;
  }
  return ssevent_apply_trade(E.run.stock, E.run.time, E.run.price, volume, 1, 1, 1, 1, 0, 0, 0, nullptr, nullptr);
}

int ssevent_multi_trade_end(ss_stock* s) {
  (void)s;
  E.run.open = false;
  E.run.stock = nullptr;
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
    if (records(x)) ev = ssevent_add_event(x, kEvIndexTick, tick);
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
