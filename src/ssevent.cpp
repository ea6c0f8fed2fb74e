// Event records: every market event the io thread applies is kept on its
// instrument as a list, newest at the newest end, for the windows that replay
// depth and list trades, and handed to change notification for the next
// delivery. The user-interface thread may still stand on an event after the
// lock has changed hands, so list links are published with a full barrier and
// events leave a list (trimming, detaching) only into the deferred-free queue;
// trimming also keeps every event a pending change entry still names.
#include "ssevent.h"

#include <cstring>

#include "dalloc.h"
#include "lazyfree.h"
#include "log.h"
#include "pool.h"
#include "ssnotify.h"

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
// Day-record flags: trades and events loaded.
constexpr uint32_t kDayTradesLoaded = 0x8;
constexpr uint32_t kDayEventsLoaded = 0x10;

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
  int day_records;  // finding a missing day makes it
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

// Frees the part of a list cut off by trimming: from its oldest event up to,
// not including, `stop` (the oldest event kept). The cut part keeps its link
// into the kept list, so a reader standing on it can walk on; only the
// pointer value of `stop` is compared, as it may be gone by now.
void free_cut_fn(void* oldest, void* stop) {
  ss_event* ev = static_cast<ss_event*>(oldest);
  while (ev && ev != stop) {
    ss_event* newer = ev->newer;
    ssevent_free_event(ev);
    ev = newer;
  }
}

void trim_instrument(instr* in, uint32_t* cut_total) {
  if ((in->flags & kInHeld) || in->hold != 0 || in->events.count <= kEventTrimKeep) return;
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
  ss_event* last = keep;
  uint32_t steps = 0;
  while (steps < kEventTrimKeep && last->older) {
    last = last->older;
    steps++;
  }
  ss_event* cut_newest = last->older;
  if (!cut_newest) return;
  uint32_t kept = keep_index + steps + 1;
  uint32_t cut = in->events.count - kept;
  ss_event* cut_oldest = in->events.oldest;
  ssmodel_publish(last->older, nullptr);
  ssmodel_publish(in->events.oldest, last);
  ssmodel_publish(in->events.count, kept);
  lazyfree_queue(reinterpret_cast<void*>(free_cut_fn), cut_oldest, 1, last, nullptr, 0);
  *cut_total += cut;
}

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
  if (pool_init(&E.days, kDaysPerPage, sizeof(ss_day)) < 0) {
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
  uint32_t cut = 0;
  for (uint64_t i = 0; i < table->count; i++) trim_instrument(static_cast<instr*>(table->sorted[i]), &cut);
  return cut;
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
  // No reader makes minute-bar records yet, so a day holds none to return.
  lazyfree_queue(reinterpret_cast<void*>(give_back_day), d, 0, nullptr, nullptr, 0);
  return 0;
}

void ssevent_remove_days(instr* in) {
  while (ss_day* d = in->days.head) ssevent_remove_day(in, d->date);
}
