// Inside the model: the record store's state and the helpers that
// ssmodel.cpp (life, work sets, exchanges, instruments, current lists, names),
// ssmodel_lists.cpp (depth, trades, ticks, constituents, adjustments, news)
// and ssmodel_day.cpp (exchange clock, batches, the day reset) share. Not part
// of the model's face; nothing outside ssmodel*.cpp includes it.
#pragma once
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <strings.h>

#include "chunk.h"
#include "dalloc.h"
#include "gics.h"
#include "kludge.h"
#include "lazyfree.h"
#include "log.h"
#include "pool.h"
#include "ssevent.h"
#include "ssnotice.h"
#include "ssnotify.h"
#include "sspriority.h"
#include "sstrack.h"
#include "ssuser.h"
#include "ssutil.h"
#include "ssvcmp.h"
#include "ssmodel.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define MODEL_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define MODEL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define MODEL_POISON(p, n) ((void)(p), (void)(n))
#define MODEL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace ssmodel_detail {

// Items per pool page.
constexpr int32_t kStocksPerPage = 10000;
constexpr int32_t kIssuersPerPage = 1000;
constexpr int32_t kIndicesPerPage = 50;
constexpr int32_t kMembersPerPage = 1000;
constexpr int32_t kTradesPerPage = 25000;
constexpr int32_t kDetailsPerPage = 10000;
constexpr int32_t kTradeBreaksPerPage = 10000;
constexpr int32_t kNewsPerPage = 10000;
constexpr int32_t kExchangeNewsPerPage = 1000;
constexpr int32_t kRemovalsPerPage = 100;
constexpr int32_t kOrdersPerPage = 100000;
constexpr int32_t kLevelsPerPage = 10000;
constexpr int32_t kBreaksPerPage = 10000;
constexpr int32_t kTicksPerPage = 10000;
constexpr int32_t kAdjustmentsPerPage = 500;
constexpr int32_t kAliasesPerPage = 500;

constexpr int32_t kZStreamSize = 65536;
constexpr int32_t kZStreamStep = 16384;
constexpr int32_t kStockScratchStep = 500;
constexpr int32_t kIndexScratchStep = 100;
constexpr uint32_t kCapitalUnchanged = 0x7fffffff;
constexpr uint32_t kHistoryMax = 1u << 20;  // points in one daily history array
constexpr size_t kNameMax = 255;            // characters kept of a name
constexpr int32_t kNameArena = 0;           // chunk arena of copied names
constexpr int kRankings = 3;

// The day reset.
constexpr int32_t kResetDays = 7;              // day records dropped before the cut-off
constexpr uint32_t kDayEventsRequested = 0x1000;  // day flag: its events were asked for
constexpr uint32_t kStockDayRequests = 0x7;    // request bits a stock gets back in mode 0
constexpr uint32_t kIndexDayRequest = 0x10;    // the one an index gets back

// The log source of every model file.
inline constexpr char kSrc[] = "src/ssmodel";

}  // namespace ssmodel_detail

// The scratch records and buffer of one work set.
struct work_set {
  ss_exchange* ex;
  ss_stock* stock;  // ssmodel_stock_size() bytes
  ss_index* index;
  ss_issuer* issuer;
  growbuf buffer;
  bool buffer_made;
};

struct model_state {
  uint32_t options;
  ss_exchange* ex[kExchanges];
  pool stocks, issuers, indices, members, trades, details, trade_breaks, news, xnews, removals, orders,
      levels, breaks, ticks, adjustments, aliases;
  bool pools_made;
  work_set work[kWorkSets];
  const char* test_fail;   // test seam: the start-up step made to fail
  uint32_t news_sequence;  // steps on every recent-news entry made
};

extern model_state ssmodel_state;

namespace ssmodel_detail {

inline model_state& M = ssmodel_state;

// ---------------------------------------------------------------------------
// Records and their pools

// A zeroed record from a pool, or null when the pool cannot grow.
template <class T>
inline T* take(pool* p) {
  void* item = pool_alloc(p);
  if (!item) return nullptr;
  MODEL_UNPOISON(item, p->item_size);
  memset(item, 0, p->item_size);
  return static_cast<T*>(item);
}

// Returns a record to its pool now. Under AddressSanitizer everything past the
// pool's free-list link is poisoned, so a read of a freed record is reported.
inline void give_back(void* item, void* p) {
  pool* pl = static_cast<pool*>(p);
  pool_free(pl, item);
  MODEL_POISON(static_cast<char*>(item) + sizeof(void*), pl->item_size - sizeof(void*));
}

// Returns a record to its pool after the deferral delay.
inline void give_back_later(pool* p, void* item) {
  lazyfree_queue(reinterpret_cast<void*>(give_back), item, 1, p, nullptr, 0);
}

inline void free_block(void* p) { dalloc_free(p); }

inline void destroy_pool(pool* p) {
  // Unpoison the pages first: their addresses may be mapped again by anyone.
  for (char* page = static_cast<char*>(p->pages); page; page = *reinterpret_cast<char**>(page))
    MODEL_UNPOISON(page, (size_t)p->items_per_page * p->item_size + sizeof(void*));
  pool_destroy(p);
}

// ---------------------------------------------------------------------------
// Doubly linked lists. L gives the prev and next fields of a record, so one
// set of operations serves records on several lists at once.

template <class T>
struct plain_links {
  T*& prev(T* x) const { return x->prev; }
  T*& next(T* x) const { return x->next; }
};

struct current_links {
  ss_stock*& prev(ss_stock* s) const { return s->current.prev; }
  ss_stock*& next(ss_stock* s) const { return s->current.next; }
};

struct rank_links {
  int i;
  ss_stock*& prev(ss_stock* s) const { return s->rank[i].prev; }
  ss_stock*& next(ss_stock* s) const { return s->rank[i].next; }
};

struct index_links {
  ss_index*& prev(ss_index* x) const { return x->cur_prev; }
  ss_index*& next(ss_index* x) const { return x->cur_next; }
};

// Links n after `after` (at the head when null). The new record's own links
// are set before it becomes reachable, so a walker in either direction always
// finds a complete chain.
template <class T, class L = plain_links<T>>
inline void dl_insert_after(ss_list<T>& l, T* after, T* n, L k = L()) {
  T* next = after ? k.next(after) : l.head;
  ssmodel_publish(k.prev(n), after);
  ssmodel_publish(k.next(n), next);
  if (next)
    ssmodel_publish(k.prev(next), n);
  else
    ssmodel_publish(l.tail, n);
  if (after)
    ssmodel_publish(k.next(after), n);
  else
    ssmodel_publish(l.head, n);
  ssmodel_publish(l.count, l.count + 1);
}

template <class T, class L = plain_links<T>>
inline void dl_insert_before(ss_list<T>& l, T* before, T* n, L k = L()) {
  dl_insert_after(l, before ? k.prev(before) : l.tail, n, k);
}

// Unlinks n. Its own links stay as they were, so a reader standing on it can
// still step on.
template <class T, class L = plain_links<T>>
inline void dl_unlink(ss_list<T>& l, T* n, L k = L()) {
  T* p = k.prev(n);
  T* x = k.next(n);
  if (p)
    ssmodel_publish(k.next(p), x);
  else
    ssmodel_publish(l.head, x);
  if (x)
    ssmodel_publish(k.prev(x), p);
  else
    ssmodel_publish(l.tail, p);
  ssmodel_publish(l.count, l.count - 1);
}

// Empties the list and returns its old head; the chain stays intact.
template <class T>
inline T* dl_detach(ss_list<T>& l) {
  T* head = l.head;
  ssmodel_publish(l.head, nullptr);
  ssmodel_publish(l.tail, nullptr);
  ssmodel_publish(l.count, 0u);
  return head;
}

// Frees a detached chain from `head` up to (not including) `stop`. Each next
// link is read before its record goes back to the pool.
template <class T>
inline pool* pool_of();
template <>
inline pool* pool_of<ss_depth_break>() {
  return &M.breaks;
}
template <>
inline pool* pool_of<ss_trade_break>() {
  return &M.trade_breaks;
}
template <>
inline pool* pool_of<ss_tick>() {
  return &M.ticks;
}
template <>
inline pool* pool_of<ss_exchange_news>() {
  return &M.xnews;
}

template <class T>
inline void free_chain(void* head, void* stop) {
  for (T* x = static_cast<T*>(head); x && x != stop;) {
    T* next = x->next;
    give_back(x, pool_of<T>());
    x = next;
  }
}

inline void free_trade_chain(void* head, void* stop) {
  for (ss_trade* t = static_cast<ss_trade*>(head); t && t != stop;) {
    ss_trade* next = t->next;
    if (t->detail) give_back(t->detail, &M.details);
    give_back(t, &M.trades);
    t = next;
  }
}

inline void free_news_chain(void* head, void* stop) {
  for (ss_news* n = static_cast<ss_news*>(head); n && n != stop;) {
    ss_news* next = n->next;
    if (n->body) dalloc_free(n->body);
    give_back(n, &M.news);
    n = next;
  }
}

inline void free_news_one(void* item) {
  ss_news* n = static_cast<ss_news*>(item);
  if (n->body) dalloc_free(n->body);
  give_back(n, &M.news);
}

inline void free_level_chain(void* head) {
  for (ss_depth_level* l = static_cast<ss_depth_level*>(head); l;) {
    for (ss_depth_order* o = l->orders; o;) {
      ss_depth_order* next = o->next;
      give_back(o, &M.orders);
      o = next;
    }
    ss_depth_level* next = l->next;
    give_back(l, &M.levels);
    l = next;
  }
}

// Queues the freeing of a detached chain.
inline void free_later(void (*fn)(void*, void*), void* head, void* stop = nullptr) {
  if (head) lazyfree_queue(reinterpret_cast<void*>(fn), head, 1, stop, nullptr, 0);
}

// Cuts the entries dated before `cutoff` off the head of a list kept in time
// order; `fn` frees them after the deferral delay, so a reader standing on
// one can still step on. Returns how many were cut.
template <class T>
inline uint32_t cut_before(ss_list<T>& l, ss_time cutoff, void (*fn)(void*, void*)) {
  T* head = l.head;
  T* keep = head;
  uint32_t cut = 0;
  while (keep && keep->time < cutoff) {
    keep = keep->next;
    cut++;
  }
  if (!cut) return 0;
  if (!keep) {
    free_later(fn, dl_detach(l));
  } else {
    ssmodel_publish(l.head, keep);
    ssmodel_publish(keep->prev, nullptr);
    ssmodel_publish(l.count, l.count - cut);
    free_later(fn, head, keep);
  }
  return cut;
}

// ---------------------------------------------------------------------------
// Codes

// The key of a code: its first 11 characters. Every lookup and every add cuts
// the same way, so a longer code finds what adding it made.
inline void code_key(char out[kCodeSize], const char* code) {
  size_t n = code ? strnlen(code, kCodeMax) : 0;
  memcpy(out, code ? code : "", n);
  out[n] = 0;
}

inline bool upper_or_digit(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// A name as the model keeps it: a copy in the name arena, at most kNameMax
// characters, so the caller's text may go away.
inline const char* copy_name(const char* name) {
  char buf[kNameMax + 1];
  size_t n = strnlen(name, kNameMax);
  memcpy(buf, name, n);
  buf[n] = 0;
  return chunk_strdup(kNameArena, buf);
}

// Saturating arithmetic for derived figures.
inline int32_t clamp32(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : (int32_t)v;
}

inline uint64_t clamp64(unsigned __int128 v) { return v > UINT64_MAX ? UINT64_MAX : (uint64_t)v; }

inline uint64_t add_sat(uint64_t a, uint64_t b) { return a + b < a ? UINT64_MAX : a + b; }

// change * 10000 / base, rounded to the nearest integer; 0 without a base.
inline int32_t percent_of(int64_t change, uint32_t base) {
  if (!base) return 0;
  double v = std::round((double)change * 10000.0 / (double)base);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return (int32_t)v;
}

// ---------------------------------------------------------------------------
// Exchanges and tables

// AXO keeps its issuers in ASX's table.
inline ss_exchange* issuer_home(ss_exchange* ex) { return ex->index == kExchangeAxo ? M.ex[kExchangeAsx] : ex; }

inline chash* issuer_table(ss_exchange* ex) {
  ss_exchange* home = issuer_home(ex);
  return home ? &home->issuers : nullptr;
}

inline void on_stream_relocate(growbuf* gb, void* old_data, int32_t old_len) {
  (void)old_data;
  log(LOG_WARN, kSrc, "reallocate exchange buffer from %db to %db!", old_len, gb->maxlen);
}

inline void free_exchange(ss_exchange* ex) {
  chash_free(&ex->stocks);
  chash_free(&ex->indices);
  chash_free(&ex->issuers);
  chash_free(&ex->aliases);
  growbuf_free(&ex->stream);
  growbuf_free(&ex->zstream);
  dalloc_free(ex);
}

template <class T>
inline T* table_record(const chash* t, uint64_t i) {
  return static_cast<T*>(t->sorted[i]);
}

// The position of a code in the ordered part of a table's sorted array (where
// it is or would go).
inline uint64_t sorted_place(const chash* t, const char* code) {
  void** first = t->sorted;
  void** last = t->sorted + t->ordered;
  void** at = std::lower_bound(first, last, code, [](void* rec, const char* key) {
    return strcmp(static_cast<const char*>(rec), key) < 0;
  });
  return (uint64_t)(at - first);
}

// ---------------------------------------------------------------------------
// Current lists and rankings

inline bool in_current(const ss_exchange* ex, const ss_stock* s) { return s->current.prev || ex->current.head == s; }

inline bool in_index_current(const ss_exchange* ex, const ss_index* x) {
  return x->cur_prev || ex->current_indices.head == x;
}

inline bool in_rank(const ss_exchange* ex, const ss_stock* s, int i) { return s->rank[i].prev || ex->rank[i].head == s; }

using rank_compare = int (*)(const ss_stock*, const ss_stock*);
inline const rank_compare kRankCompare[kRankings] = {ssmodel_rank_change_compare, ssmodel_rank_volume_compare,
                                              ssmodel_rank_value_compare};

inline void rank_insert(ss_exchange* ex, ss_stock* s, int i) {
  ss_stock* c = ex->rank[i].head;
  while (c && kRankCompare[i](c, s) < 0) c = c->rank[i].next;
  dl_insert_before(ex->rank[i], c, s, rank_links{i});
}

// Marks the issuer of a current stock current.
inline void mark_issuer_current(ss_stock* s) {
  if (!s->issuer[0]) {
    log(LOG_WARN, kSrc, "no issuer to make %s:%s current", s->exchange->name, s->code);
    return;
  }
  ss_issuer* is = ssmodel_get_issuer(s->exchange, s->issuer);
  if (is) is->flags |= kInCurrent;
}

// Places a record at its code place in a list whose members all sit in `t`:
// the nearest member already linked before it in code order is found by
// walking the ordered part of the table back from the record's own place, and
// by looking through the short tail of records added since the last merge;
// the record goes right after it. Without one the list is walked from the
// head. The walk back is O(unlinked neighbours), which is short when most of
// the table is current (the normal case); a table of mostly non-current codes
// would want a balanced tree here.
template <class T, class L, class Linked>
inline void link_in_code_order(ss_list<T>& l, const chash* t, T* rec, L k, Linked linked) {
  uint64_t pos = sorted_place(t, rec->code);
  T* after = nullptr;
  for (uint64_t i = pos; i-- > 0;) {
    T* c = table_record<T>(t, i);
    if (c != rec && linked(c)) {
      after = c;
      break;
    }
  }
  for (uint64_t i = t->ordered; i < t->count; i++) {
    T* c = table_record<T>(t, i);
    if (c == rec || !linked(c) || strcmp(c->code, rec->code) >= 0) continue;
    if (!after || strcmp(c->code, after->code) > 0) after = c;
  }
  if (after) {
    dl_insert_after(l, after, rec, k);
    return;
  }
  T* c = l.head;
  while (c && strcmp(c->code, rec->code) < 0) c = k.next(c);
  if (c && strcmp(c->code, rec->code) == 0) return;
  dl_insert_before(l, c, rec, k);
}

// Unlinks every member of a list and clears its links, then empties it.
template <class T, class L>
inline void clear_list(ss_list<T>& l, L k) {
  T* c = dl_detach(l);
  while (c) {
    T* next = k.next(c);
    ssmodel_publish(k.prev(c), nullptr);
    ssmodel_publish(k.next(c), nullptr);
    c = next;
  }
}

template <class T, class L>
inline void append(ss_list<T>& l, T* rec, L k) {
  dl_insert_after(l, l.tail, rec, k);
}

// Recomputes the current bit of the issuers of one issuer table from the
// current stocks of every exchange that keeps its issuers there.
inline void recompute_issuer_current(ss_exchange* home) {
  chash* t = &home->issuers;
  for (uint64_t i = 0; i < t->count; i++) table_record<ss_issuer>(t, i)->flags &= ~kInCurrent;
  for (ss_exchange* ex : M.ex) {
    if (!ex || issuer_home(ex) != home) continue;
    for (ss_stock* s = ex->current.head; s; s = s->current.next) mark_issuer_current(s);
  }
}

// ---------------------------------------------------------------------------
// News

inline ss_issuer* issuer_of(instr* in) {
  if (in && in->kind == kKindIssuer) return static_cast<ss_issuer*>(in);
  return nullptr;
}

// News order: time (0 before any other), then number.
inline bool news_after(ss_time t1, uint32_t n1, ss_time t2, uint32_t n2) { return t1 != t2 ? t1 > t2 : n1 > n2; }

// The recent-news order key: date, then minute of the day.
inline uint64_t date_minute(ss_time t) { return ((uint64_t)(t >> 17) << 32) | ((t & kSstimeSecondsMask) / 60); }

// A withdrawn item is no news of the day: no count of the bits takes it.
inline void set_news_bits(instr* in, const ss_news* n) {
  if (n->flags & kNewsWithdrawn) return;
  in->flags |= (n->flags & kNewsFlag4) ? kInNewsFlag4 : kInNewsPlain;
  if (n->flags & kNewsFlag1) in->flags |= kInNewsFlag1;
}

inline void add_exchange_news(ss_exchange* ex, const char* code, const ss_news* item) {
  ss_exchange_news* e = take<ss_exchange_news>(&M.xnews);
  if (!e) return;
  memcpy(e->code, code, kCodeSize);
  e->number = item->number;
  e->time = item->time;
  e->flags = item->flags;
  e->sequence = ++M.news_sequence;
  uint64_t key = date_minute(e->time);
  ss_exchange_news* c = ex->news.tail;
  while (c && date_minute(c->time) > key) c = c->prev;
  for (ss_exchange_news* d = c; d && date_minute(d->time) == key; d = d->prev) {
    if (d->number == e->number && strcmp(d->code, e->code) == 0) {
      give_back(e, &M.xnews);
      return;
    }
  }
  dl_insert_after(ex->news, c, e);
}

// Cuts the items older than `cutoff` off the head of an issuer's news list.
inline void trim_news(instr* in, ss_time cutoff) {
  ss_issuer* is = issuer_of(in);
  if (!is) return;
  if (cut_before(is->news, cutoff, free_news_chain)) ssnotify_record(in, kChangeNewsList, nullptr);
  in->flags &= ~kInHistory;
}

// ---------------------------------------------------------------------------
// Histories

template <class H, class P>
inline int reserve_points(H*& slot, uint32_t n) {
  H* old = slot;
  uint32_t count = old ? old->count : 0;
  uint32_t cap = old ? old->capacity : 0;
  uint64_t want = (uint64_t)count + n;
  if (want <= cap) return 0;
  if (want > kHistoryMax) {
    log(LOG_ERROR, kSrc, "can't alloc %d prices", (int)std::min<uint64_t>(want, INT32_MAX));
    return -1;
  }
  size_t bytes = sizeof(H) + want * sizeof(P);
  H* h = static_cast<H*>(dalloc_alloc((int32_t)bytes));
  // Use all the room of the allocator's size class.
  size_t usable = malloc_usable_size(h);
  uint64_t fits = usable > sizeof(H) ? (usable - sizeof(H)) / sizeof(P) : want;
  h->capacity = (uint32_t)std::min<uint64_t>(std::max<uint64_t>(fits, want), kHistoryMax);
  h->count = count;
  if (count) memcpy(h->points, old->points, count * sizeof(P));
  ssmodel_publish(slot, h);
  if (old) lazyfree_later(free_block, old);
  return 0;
}

// Drops the points dated before `date` from the front of a history array.
template <class H>
inline bool drop_points_before(H* h, ss_time date) {
  if (!h) return false;
  uint32_t n = 0;
  while (n < h->count && h->points[n].date < date) n++;
  if (!n) return false;
  memmove(h->points, h->points + n, (h->count - n) * sizeof(h->points[0]));
  ssmodel_publish(h->count, h->count - n);
  return true;
}

}  // namespace ssmodel_detail
