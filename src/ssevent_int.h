// Inside the event module: the state and the small helpers that ssevent.cpp
// (records, lists, trimming, day records) and the files of the market events
// (ssevent_depth.cpp, ssevent_trade.cpp, ssevent_quote.cpp) share. Not part of
// the module's face; nothing outside ssevent*.cpp includes it.
#pragma once
#include <cstdio>
#include <cassert>
#include <cstring>

#include "log.h"
#include "pool.h"
#include "ssalert.h"
#include "ssevent.h"
#include "ssnotify.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define EVENT_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define EVENT_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define EVENT_POISON(p, n) ((void)(p), (void)(n))
#define EVENT_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

// Day-record flags: trades and events loaded.
constexpr uint32_t kDayTradesLoaded = 0x8;
constexpr uint32_t kDayEventsLoaded = 0x10;

// An index of the first levels of each side of one stock, in side order:
// each level with its price and order count. A depth change finds its level
// here in one or two cache lines instead of one miss per level walked; a
// change beyond the indexed levels walks on from the last of them. The index
// is a true prefix of the side at all times (the depth events keep it; other
// writers forget it with ssevent_forget_depth), and it only ever shrinks by
// a level's removal or grows by a walk past its end.
constexpr uint32_t kPrefixLevels = 8;
struct ss_depth_prefix {
  const ss_stock* owner;  // a copied stock record carries a pointer it does not own
  struct side_index {
    uint32_t n;
    struct entry {
      ss_depth_level* level;
      uint32_t price;
      uint32_t count;
    } e[kPrefixLevels];
  } side[2];
};

// What the module remembers (one instance, in ssevent.cpp).

struct event_state {
  bool ready;
  pool events;
  pool payloads[kEvKinds + 1];  // by kind; item_size 0 for kinds without own payload
  // By kind, for the stream's most frequent events: the event and its payload
  // in one record, the payload right after the event (item_size 0 for the
  // other kinds). One allocation and one or two adjacent lines per event
  // instead of two records apart.
  pool joined[kEvKinds + 1];
  // The alert ring: kAlertRingSize events followed by their payloads, in one
  // allocation. Slots are reused in turn without any check.
  ss_event* ring;
  ss_ev_alert* ring_payloads;
  uint32_t ring_next;
  pool days;
  pool batches;     // cut_batch
  int day_records;  // finding a missing day makes it
  pool resumes;     // ss_resume_node
  pool prefixes;    // ss_depth_prefix, one per stock with depth, freed at fini
  uint32_t generation;  // raised by every start: older stocks' prefixes are gone
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
    uint32_t level_index;   // of the level in its side
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
  const ssevent_requests* requests;  // kept across init and fini
};


extern event_state ssevent_state;

namespace ssevent_detail {

inline event_state& E = ssevent_state;

inline pool* payload_pool(uint32_t kind) {
  if (kind == 0 || kind > kEvKinds || E.payloads[kind].item_size == 0) return nullptr;
  return &E.payloads[kind];
}

// A zeroed record from a pool, or null. Under AddressSanitizer a pool's free
// records are poisoned past their free-list link, so a read of a freed event
// is reported.
inline void* take(pool* p) {
  void* item = pool_alloc(p);
  if (!item) return nullptr;
  EVENT_UNPOISON(item, p->item_size);
  memset(item, 0, p->item_size);
  return item;
}

// take for a pool of N-byte records: the size known here zeroes the record
// with a few inline stores instead of a call (every market event takes one or
// two of these).
template <size_t N>
inline void* take_sized(pool* p) {
  assert(p->item_size == static_cast<int32_t>(N));
  void* item = pool_alloc(p);
  if (!item) return nullptr;
  EVENT_UNPOISON(item, N);
  memset(item, 0, N);
  return item;
}

inline void give_back(pool* p, void* item) {
  pool_free(p, item);
  EVENT_POISON(static_cast<char*>(item) + sizeof(void*), p->item_size - sizeof(void*));
}

inline bool records(const instr* in) { return in->exchange && (in->exchange->flags & kExRecord); }

// A scratch copy made by a reader, or a stock whose list is being loaded: it
// neither tracks prices nor keeps a movement history.
inline bool scratch(const instr* in) { return (in->flags & kInLoading) != 0; }

inline const char* ex_name(const instr* in) { return in->exchange ? in->exchange->name : "?"; }

// The requests the events wish, through the table the client installed.
inline int wish_depth(ss_stock* s) { return E.requests ? E.requests->depth(s) : 0; }
inline int wish_partial_depth(ss_stock* s, int side) { return E.requests ? E.requests->partial_depth(s, side) : 0; }
inline int wish_events(instr* in) { return E.requests ? E.requests->events(in) : 0; }
inline int wish_trades(ss_stock* s) { return E.requests ? E.requests->trades(s) : 0; }

inline bool out_of_order(const ss_stock* s) { return (s->flags & kInOutOfOrder) != 0; }

inline void raise_last(ss_stock* s, ss_time t) {
  if (t > s->last_time) s->last_time = t;
}

// ssevent_new_payload and ssevent_add_event, inline here: every market event
// takes both, and the event files would otherwise call across files for them.
inline void* new_payload_of(uint32_t kind) {
  pool* p = E.ready ? payload_pool(kind) : nullptr;
  return p ? take(p) : nullptr;
}

// Makes `ev` the newest event of the instrument's list.
inline void link_event(instr* in, ss_event* ev) {
  ev->newer = nullptr;
  ev->older = in->events.newest;
  if (ev->older)
    ssmodel_publish(ev->older->newer, ev);
  else
    ssmodel_publish(in->events.oldest, ev);
  ssmodel_publish(in->events.newest, ev);
  ssmodel_publish(in->events.count, in->events.count + 1);
}

inline ss_event* add_event(instr* in, uint32_t kind, void* payload) {
  ss_event* ev = E.ready ? static_cast<ss_event*>(take_sized<sizeof(ss_event)>(&E.events)) : nullptr;
  if (!ev) {
    log(LOG_ERROR, "src/ssevent", "can't alloc event");
    return nullptr;
  }
  ev->kind = kind;
  ev->payload = payload;
  link_event(in, ev);
  return ev;
}

template <class T>
inline T* new_payload(uint32_t kind) {
  pool* p = E.ready ? payload_pool(kind) : nullptr;
  return p ? static_cast<T*>(take_sized<sizeof(T)>(p)) : nullptr;
}

// An event made together with its payload (see event_state::joined): the
// event sits right before the payload. An event is joined exactly when its
// payload pointer names the bytes after it: a payload made apart comes from
// another pool's mapping, never from inside the events pool's page.
inline ss_event* joined_event(void* payload) {
  return reinterpret_cast<ss_event*>(static_cast<char*>(payload) - sizeof(ss_event));
}
inline bool is_joined(const ss_event* ev) {
  return ev->payload == reinterpret_cast<const char*>(ev) + sizeof(ss_event);
}

// The payload of a new joined event of `kind` (zeroed, not listed yet), or
// null. Lists take it with emit_joined.
template <class T>
inline T* new_joined_payload(uint32_t kind) {
  static_assert(sizeof(ss_event) % alignof(T) == 0, "the payload follows the event aligned");
  void* item = E.ready && kind <= kEvKinds && E.joined[kind].item_size
                   ? take_sized<sizeof(ss_event) + sizeof(T)>(&E.joined[kind])
                   : nullptr;
  if (!item) return nullptr;
  ss_event* ev = static_cast<ss_event*>(item);
  ev->payload = static_cast<char*>(item) + sizeof(ss_event);
  return static_cast<T*>(ev->payload);
}

// Lists an event and records its change bit (none for 0). When the list
// cannot take it the payload goes back to its pool; the bit is recorded
// either way, because the model change it reports stands.
inline void emit(instr* in, uint32_t kind, void* payload, uint32_t bit) {
  ss_event* ev = payload ? add_event(in, kind, payload) : nullptr;
  if (!ev && payload) {
    if (pool* p = payload_pool(kind)) give_back(p, payload);
  }
  if (bit) ssnotify_record(in, bit, ev);
}

// emit for a payload from new_joined_payload (or null when none could be made).
inline void emit_joined(instr* in, uint32_t kind, void* payload, uint32_t bit) {
  ss_event* ev = nullptr;
  if (payload) {
    ev = joined_event(payload);
    ev->kind = kind;
    link_event(in, ev);
  }
  if (bit) ssnotify_record(in, bit, ev);
}

// Starts fetching the event this operation will link after: publishing into
// its newer link is a locked store, which stalls until a cold line arrives.
// The market operations call it first, so that the fetch overlaps their walk
// of the book. Only a hint: a prefetch never faults, even on null.
inline void warm_event_list(const instr* in) { __builtin_prefetch(in->events.newest, 1); }

inline void fire_alert(instr* in, ss_time time, uint32_t code, void* object) {
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

inline uint64_t add_sat(uint64_t a, uint64_t b) { return a + b < a ? UINT64_MAX : a + b; }

inline int64_t clamp_i64(__int128 v) {
  if (v > INT64_MAX) return INT64_MAX;
  if (v < INT64_MIN) return INT64_MIN;
  return static_cast<int64_t>(v);
}

// The day's prices and totals as the quote and cancel events carry them.
template <class P>
inline void copy_day_figures(P* p, const ss_stock* s) {
  p->open = s->open;
  p->low = s->low;
  p->high = s->high;
  p->last = s->last;
  p->volume = s->volume;
  p->value = s->value;
}

// Moves a ranked stock to its place in each ranking its exchange keeps
// (ssevent_trade.cpp).
void rank_all(ss_stock* s);

// A trade's value in cents (price x volume x the contract multiplier / 100,
// saturating) and the average price of a value over a volume
// (ssevent_trade.cpp).
uint64_t trade_value(const ss_stock* s, uint32_t price, uint64_t volume);
uint32_t average_price(uint64_t value, uint64_t volume);

}  // namespace ssevent_detail
