// The in-memory market: exchanges, their instrument tables and the lists that
// hang off each instrument, with the model's life cycle (every model module
// starts and stops here), the exchange clocks and the day reset. The io thread
// writes it under the core lock; the user-interface thread reads it under the
// same lock and may keep walking a list across a hand-over of the lock. So
// every list link and count is published with a full barrier, unlinked records
// keep their own links, and nothing another thread may still hold goes back to
// its pool at once: a reset detaches lists and frees them through lazyfree.
#include "ssmodel.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <strings.h>
#include <vector>

#include "chunk.h"
#include "dalloc.h"
#include "decsum.h"
#include "encblk.h"
#include "fast_reset.h"
#include "gics.h"
#include "kludge.h"
#include "lazyfree.h"
#include "log.h"
#include "pool.h"
#include "ssalert.h"
#include "ssbroker.h"
#include "sscache.h"
#include "sscurrency.h"
#include "ssevent.h"
#include "ssmsg.h"
#include "ssnotice.h"
#include "ssnotify.h"
#include "sspriority.h"
#include "ssproto.h"
#include "sstrack.h"
#include "ssuser.h"
#include "ssutil.h"
#include "ssvcmp.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define MODEL_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define MODEL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define MODEL_POISON(p, n) ((void)(p), (void)(n))
#define MODEL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

static const char kSrc[] = "src/ssmodel";

namespace {

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

}  // namespace

// The scratch records and buffer of one work set.
struct work_set {
  ss_exchange* ex;
  ss_stock* stock;  // ssmodel_stock_size() bytes
  ss_index* index;
  ss_issuer* issuer;
  growbuf buffer;
  bool buffer_made;
};

static struct {
  uint32_t options;
  bool ready;
  ss_exchange* ex[kExchanges];
  pool stocks, issuers, indices, members, trades, details, trade_breaks, news, xnews, removals, orders,
      levels, breaks, ticks, adjustments, aliases;
  bool pools_made;
  work_set work[kWorkSets];
  uint32_t started;        // bit i: module i of kModules is running
  const char* test_fail;   // test seam: the start-up step made to fail
  uint32_t news_sequence;  // steps on every recent-news entry made
} M;

static const ss_exchange_row kRows[kExchanges] = {
    {'A', "ASX", "ASX", 75000, 10000, 100, 10000, 100000000, 1200},
    {'N', "NZX", "NZX", 2000, 2500, 100, 750, 100000000, 1200},
    {'I', "GLB", "GLOBAL", 100, 100, 100, 10, 1000000, 0},
    {'O', "AXO", "AXO", 100000, 100, 100, 10, 100000000, 1200},
};

namespace {

// ---------------------------------------------------------------------------
// Records and their pools

// A zeroed record from a pool, or null when the pool cannot grow.
template <class T>
T* take(pool* p) {
  void* item = pool_alloc(p);
  if (!item) return nullptr;
  MODEL_UNPOISON(item, p->item_size);
  memset(item, 0, p->item_size);
  return static_cast<T*>(item);
}

// Returns a record to its pool now. Under AddressSanitizer everything past the
// pool's free-list link is poisoned, so a read of a freed record is reported.
void give_back(void* item, void* p) {
  pool* pl = static_cast<pool*>(p);
  pool_free(pl, item);
  MODEL_POISON(static_cast<char*>(item) + sizeof(void*), pl->item_size - sizeof(void*));
}

// Returns a record to its pool after the deferral delay.
void give_back_later(pool* p, void* item) {
  lazyfree_queue(reinterpret_cast<void*>(give_back), item, 1, p, nullptr, 0);
}

void free_block(void* p) { dalloc_free(p); }

void destroy_pool(pool* p) {
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
void dl_insert_after(ss_list<T>& l, T* after, T* n, L k = L()) {
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
void dl_insert_before(ss_list<T>& l, T* before, T* n, L k = L()) {
  dl_insert_after(l, before ? k.prev(before) : l.tail, n, k);
}

// Unlinks n. Its own links stay as they were, so a reader standing on it can
// still step on.
template <class T, class L = plain_links<T>>
void dl_unlink(ss_list<T>& l, T* n, L k = L()) {
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
T* dl_detach(ss_list<T>& l) {
  T* head = l.head;
  ssmodel_publish(l.head, nullptr);
  ssmodel_publish(l.tail, nullptr);
  ssmodel_publish(l.count, 0u);
  return head;
}

// Frees a detached chain from `head` up to (not including) `stop`. Each next
// link is read before its record goes back to the pool.
template <class T>
pool* pool_of();
template <>
pool* pool_of<ss_depth_break>() {
  return &M.breaks;
}
template <>
pool* pool_of<ss_trade_break>() {
  return &M.trade_breaks;
}
template <>
pool* pool_of<ss_tick>() {
  return &M.ticks;
}
template <>
pool* pool_of<ss_exchange_news>() {
  return &M.xnews;
}

template <class T>
void free_chain(void* head, void* stop) {
  for (T* x = static_cast<T*>(head); x && x != stop;) {
    T* next = x->next;
    give_back(x, pool_of<T>());
    x = next;
  }
}

void free_trade_chain(void* head, void* stop) {
  for (ss_trade* t = static_cast<ss_trade*>(head); t && t != stop;) {
    ss_trade* next = t->next;
    if (t->detail) give_back(t->detail, &M.details);
    give_back(t, &M.trades);
    t = next;
  }
}

void free_news_chain(void* head, void* stop) {
  for (ss_news* n = static_cast<ss_news*>(head); n && n != stop;) {
    ss_news* next = n->next;
    if (n->body) dalloc_free(n->body);
    give_back(n, &M.news);
    n = next;
  }
}

void free_news_one(void* item) {
  ss_news* n = static_cast<ss_news*>(item);
  if (n->body) dalloc_free(n->body);
  give_back(n, &M.news);
}

void free_level_chain(void* head) {
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
void free_later(void (*fn)(void*, void*), void* head, void* stop = nullptr) {
  if (head) lazyfree_queue(reinterpret_cast<void*>(fn), head, 1, stop, nullptr, 0);
}

// Cuts the entries dated before `cutoff` off the head of a list kept in time
// order; `fn` frees them after the deferral delay, so a reader standing on
// one can still step on. Returns how many were cut.
template <class T>
uint32_t cut_before(ss_list<T>& l, ss_time cutoff, void (*fn)(void*, void*)) {
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
void code_key(char out[kCodeSize], const char* code) {
  size_t n = code ? strnlen(code, kCodeMax) : 0;
  memcpy(out, code ? code : "", n);
  out[n] = 0;
}

bool upper_or_digit(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// A name as the model keeps it: a copy in the name arena, at most kNameMax
// characters, so the caller's text may go away.
const char* copy_name(const char* name) {
  char buf[kNameMax + 1];
  size_t n = strnlen(name, kNameMax);
  memcpy(buf, name, n);
  buf[n] = 0;
  return chunk_strdup(kNameArena, buf);
}

// Saturating arithmetic for derived figures.
int32_t clamp32(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : (int32_t)v;
}

uint64_t clamp64(unsigned __int128 v) { return v > UINT64_MAX ? UINT64_MAX : (uint64_t)v; }

uint64_t add_sat(uint64_t a, uint64_t b) { return a + b < a ? UINT64_MAX : a + b; }

// change * 10000 / base, rounded to the nearest integer; 0 without a base.
int32_t percent_of(int64_t change, uint32_t base) {
  if (!base) return 0;
  double v = std::round((double)change * 10000.0 / (double)base);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return (int32_t)v;
}

// ---------------------------------------------------------------------------
// Exchanges and tables

// AXO keeps its issuers in ASX's table.
ss_exchange* issuer_home(ss_exchange* ex) { return ex->index == kExchangeAxo ? M.ex[kExchangeAsx] : ex; }

chash* issuer_table(ss_exchange* ex) {
  ss_exchange* home = issuer_home(ex);
  return home ? &home->issuers : nullptr;
}

void on_stream_relocate(growbuf* gb, void* old_data, int32_t old_len) {
  (void)old_data;
  log(LOG_WARN, kSrc, "reallocate exchange buffer from %db to %db!", old_len, gb->maxlen);
}

void free_exchange(ss_exchange* ex) {
  chash_free(&ex->stocks);
  chash_free(&ex->indices);
  chash_free(&ex->issuers);
  chash_free(&ex->aliases);
  growbuf_free(&ex->stream);
  growbuf_free(&ex->zstream);
  dalloc_free(ex);
}

template <class T>
T* table_record(const chash* t, uint64_t i) {
  return static_cast<T*>(t->sorted[i]);
}

// The position of a code in a table's sorted array (where it is or would go).
uint64_t sorted_place(const chash* t, const char* code) {
  void** first = t->sorted;
  void** last = t->sorted + t->count;
  void** at = std::lower_bound(first, last, code, [](void* rec, const char* key) {
    return strcmp(static_cast<const char*>(rec), key) < 0;
  });
  return (uint64_t)(at - first);
}

// ---------------------------------------------------------------------------
// Current lists and rankings

bool in_current(const ss_exchange* ex, const ss_stock* s) { return s->current.prev || ex->current.head == s; }

bool in_index_current(const ss_exchange* ex, const ss_index* x) {
  return x->cur_prev || ex->current_indices.head == x;
}

bool in_rank(const ss_exchange* ex, const ss_stock* s, int i) { return s->rank[i].prev || ex->rank[i].head == s; }

using rank_compare = int (*)(const ss_stock*, const ss_stock*);
const rank_compare kRankCompare[kRankings] = {ssmodel_rank_change_compare, ssmodel_rank_volume_compare,
                                              ssmodel_rank_value_compare};

void rank_insert(ss_exchange* ex, ss_stock* s, int i) {
  ss_stock* c = ex->rank[i].head;
  while (c && kRankCompare[i](c, s) < 0) c = c->rank[i].next;
  dl_insert_before(ex->rank[i], c, s, rank_links{i});
}

// Marks the issuer of a current stock current.
void mark_issuer_current(ss_stock* s) {
  if (!s->issuer[0]) {
    log(LOG_WARN, kSrc, "no issuer to make %s:%s current", s->exchange->name, s->code);
    return;
  }
  ss_issuer* is = ssmodel_get_issuer(s->exchange, s->issuer);
  if (is) is->flags |= kInCurrent;
}

// Places a record at its code place in a list whose members all sit in `t`:
// the table's sorted order is walked back from the record's own place to the
// nearest member already linked, and the record goes right after it. Without
// one the list is walked from the head. The walk back is O(unlinked
// neighbours), which is short when most of the table is current (the normal
// case); a table of mostly non-current codes would want a balanced tree here.
template <class T, class L, class Linked>
void link_in_code_order(ss_list<T>& l, const chash* t, T* rec, L k, Linked linked) {
  uint64_t pos = sorted_place(t, rec->code);
  T* after = nullptr;
  for (uint64_t i = pos; i-- > 0;) {
    T* c = table_record<T>(t, i);
    if (c != rec && linked(c)) {
      after = c;
      break;
    }
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
void clear_list(ss_list<T>& l, L k) {
  T* c = dl_detach(l);
  while (c) {
    T* next = k.next(c);
    ssmodel_publish(k.prev(c), nullptr);
    ssmodel_publish(k.next(c), nullptr);
    c = next;
  }
}

template <class T, class L>
void append(ss_list<T>& l, T* rec, L k) {
  dl_insert_after(l, l.tail, rec, k);
}

// Recomputes the current bit of the issuers of one issuer table from the
// current stocks of every exchange that keeps its issuers there.
void recompute_issuer_current(ss_exchange* home) {
  chash* t = &home->issuers;
  for (uint64_t i = 0; i < t->count; i++) table_record<ss_issuer>(t, i)->flags &= ~kInCurrent;
  for (ss_exchange* ex : M.ex) {
    if (!ex || issuer_home(ex) != home) continue;
    for (ss_stock* s = ex->current.head; s; s = s->current.next) mark_issuer_current(s);
  }
}

// ---------------------------------------------------------------------------
// News

ss_issuer* issuer_of(instr* in) {
  if (in && in->kind == kKindIssuer) return static_cast<ss_issuer*>(in);
  return nullptr;
}

// News order: time (0 before any other), then number.
bool news_after(ss_time t1, uint32_t n1, ss_time t2, uint32_t n2) { return t1 != t2 ? t1 > t2 : n1 > n2; }

// The recent-news order key: date, then minute of the day.
uint64_t date_minute(ss_time t) { return ((uint64_t)(t >> 17) << 32) | ((t & kSstimeSecondsMask) / 60); }

// A withdrawn item is no news of the day: no count of the bits takes it.
void set_news_bits(instr* in, const ss_news* n) {
  if (n->flags & kNewsWithdrawn) return;
  in->flags |= (n->flags & kNewsFlag4) ? kInNewsFlag4 : kInNewsPlain;
  if (n->flags & kNewsFlag1) in->flags |= kInNewsFlag1;
}

void add_exchange_news(ss_exchange* ex, const char* code, const ss_news* item) {
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
void trim_news(instr* in, ss_time cutoff) {
  ss_issuer* is = issuer_of(in);
  if (!is) return;
  if (cut_before(is->news, cutoff, free_news_chain)) ssnotify_record(in, kChangeNewsList, nullptr);
  in->flags &= ~kInHistory;
}

// ---------------------------------------------------------------------------
// Histories

template <class H, class P>
int reserve_points(H*& slot, uint32_t n) {
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
bool drop_points_before(H* h, ss_time date) {
  if (!h) return false;
  uint32_t n = 0;
  while (n < h->count && h->points[n].date < date) n++;
  if (!n) return false;
  memmove(h->points, h->points + n, (h->count - n) * sizeof(h->points[0]));
  ssmodel_publish(h->count, h->count - n);
  return true;
}

}  // namespace

// ===========================================================================
// Life

namespace {

// Every module the model starts, in start-up order. The shutdown order
// (kStopOrder) is not the reverse: it follows which module still needs which
// while the others stop.
struct module_step {
  const char* name;
  int (*init)(void);
  void (*fini)(void);
  const char* failure;  // logged at ERROR when init fails; null: the module logs
};

const module_step kModules[] = {
    {"lazyfree", lazyfree_init, lazyfree_fini, nullptr},
    {"kludge", kludge_init, kludge_fini, nullptr},
    {"chunk", chunk_init, chunk_fini, nullptr},
    {"gics", gics_init, gics_fini, nullptr},
    {"sstime", sstime_init, sstime_fini, nullptr},
    {"ssmsg", ssmsg_init, ssmsg_fini, "can't init msg"},
    {"sspriority", sspriority_init, sspriority_fini, "can't init priority"},
    {"ssevent", ssevent_init, ssevent_fini, "can't init event"},
    {"ssalert", ssalert_init, ssalert_fini, "can't init alert"},
    {"ssproto", ssproto_init, ssproto_fini, "can't init proto"},
    {"ssnotice", ssnotice_init, ssnotice_fini, nullptr},
    {"ssnotify", ssnotify_init, ssnotify_fini, nullptr},
    {"sstrack", sstrack_init, sstrack_fini, nullptr},
    {"ssvcmp", ssvcmp_init, ssvcmp_fini, nullptr},
    {"ssbroker", ssbroker_init, ssbroker_fini, nullptr},
    {"sscache", sscache_init, sscache_fini, nullptr},
    {"sscurrency", sscurrency_init, sscurrency_fini, nullptr},
    {"codec", codec_init, codec_fini, nullptr},
    {"decsum", decsum_init, decsum_fini, nullptr},
    {"fast_reset", fast_reset_init, fast_reset_fini, nullptr},
};
constexpr int kModuleCount = sizeof kModules / sizeof kModules[0];
static_assert(kModuleCount <= 32, "one bit per module in M.started");

// Deferred freeing ends first (see ssmodel_fini); the exchanges are freed
// next; then the rest stop in this order.
const char* const kStopOrder[] = {
    "gics",    "decsum",   "codec",    "ssbroker",   "ssvcmp", "sstrack", "ssnotify", "ssproto", "ssalert",   "sspriority",
    "ssevent", "ssnotice", "sscache",  "sscurrency", "ssmsg",  "sstime",  "chunk",    "kludge",  "fast_reset"};
static_assert(sizeof kStopOrder / sizeof kStopOrder[0] == kModuleCount - 1, "every module but lazyfree stops here");

int module_index(const char* name) {
  for (int i = 0; i < kModuleCount; i++)
    if (strcmp(kModules[i].name, name) == 0) return i;
  return -1;
}

bool started(const char* name) {
  int i = module_index(name);
  return i >= 0 && (M.started & (1u << i));
}

void stop_module(const char* name) {
  int i = module_index(name);
  if (i < 0 || !(M.started & (1u << i))) return;
  M.started &= ~(1u << i);
  kModules[i].fini();
}

bool test_fails(const char* step) { return M.test_fail && strcmp(M.test_fail, step) == 0; }

struct pool_row {
  pool* p;
  int32_t per_page;
  int32_t size;
};

int32_t stock_record_size(uint32_t options) {
  return (options & kOptExtended) ? (int32_t)sizeof(ss_stock_ext) : (int32_t)sizeof(ss_stock);
}

void destroy_pools() {
  if (!M.pools_made) return;
  for (pool* p : {&M.stocks, &M.issuers, &M.indices, &M.members, &M.trades, &M.details, &M.trade_breaks, &M.news,
                  &M.xnews, &M.removals, &M.orders, &M.levels, &M.breaks, &M.ticks, &M.adjustments, &M.aliases})
    destroy_pool(p);
  M.pools_made = false;
}

int make_pools() {
  int32_t order_size = (M.options & kOptExtended) ? sizeof(ss_depth_order_ext) : sizeof(ss_depth_order);
  const pool_row rows[] = {
      {&M.stocks, kStocksPerPage, stock_record_size(M.options)},
      {&M.issuers, kIssuersPerPage, sizeof(ss_issuer)},
      {&M.indices, kIndicesPerPage, sizeof(ss_index)},
      {&M.members, kMembersPerPage, sizeof(ss_index_member)},
      {&M.trades, kTradesPerPage, sizeof(ss_trade)},
      {&M.details, kDetailsPerPage, sizeof(ss_trade_detail)},
      {&M.trade_breaks, kTradeBreaksPerPage, sizeof(ss_trade_break)},
      {&M.news, kNewsPerPage, sizeof(ss_news)},
      {&M.xnews, kExchangeNewsPerPage, sizeof(ss_exchange_news)},
      {&M.removals, kRemovalsPerPage, sizeof(ss_news_removal)},
      {&M.orders, kOrdersPerPage, order_size},
      {&M.levels, kLevelsPerPage, sizeof(ss_depth_level)},
      {&M.breaks, kBreaksPerPage, sizeof(ss_depth_break)},
      {&M.ticks, kTicksPerPage, sizeof(ss_tick)},
      {&M.adjustments, kAdjustmentsPerPage, sizeof(ss_adjustment)},
      {&M.aliases, kAliasesPerPage, sizeof(ss_alias)},
  };
  // pool_init maps nothing, so a later failure leaves nothing behind: every
  // pool is set up (or zeroed) before the flag says they can be destroyed.
  for (const pool_row& r : rows) memset(r.p, 0, sizeof *r.p);
  M.pools_made = true;
  for (const pool_row& r : rows)
    if (pool_init(r.p, r.per_page, r.size) < 0) return -1;
  return 0;
}

void free_work_sets() {
  for (work_set& w : M.work) {
    if (w.stock) growbuf_free(&w.stock->scratch);
    if (w.index) growbuf_free(&w.index->scratch);
    if (w.buffer_made) growbuf_free(&w.buffer);
    // A set that was never made (a first start, or a start that failed
    // part-way) holds null pointers, which dalloc_free reports as errors.
    if (w.ex) dalloc_free(w.ex);
    if (w.stock) dalloc_free(w.stock);
    if (w.index) dalloc_free(w.index);
    if (w.issuer) dalloc_free(w.issuer);
    memset(&w, 0, sizeof w);
  }
}

void* zeroed_block(size_t n) {
  void* p = dalloc_alloc((int32_t)n);
  memset(p, 0, n);
  return p;
}

int make_work_sets() {
  for (int i = 0; i < kWorkSets; i++) {
    work_set& w = M.work[i];
    w.ex = static_cast<ss_exchange*>(zeroed_block(sizeof(ss_exchange)));
    w.stock = static_cast<ss_stock*>(zeroed_block((size_t)stock_record_size(M.options)));
    w.index = static_cast<ss_index*>(zeroed_block(sizeof(ss_index)));
    w.issuer = static_cast<ss_issuer*>(zeroed_block(sizeof(ss_issuer)));
    if (test_fails("work") && i == kWorkSets - 1) {
      log(LOG_ERROR, kSrc, "can't alloc work buffer %d", i);
      return -1;
    }
    if (growbuf_init(&w.buffer, kWorkBufferSize, kWorkBufferStep) < 0) {
      log(LOG_ERROR, kSrc, "can't alloc work buffer %d", i);
      return -1;
    }
    w.buffer_made = true;
  }
  return 0;
}

// Frees what an exchange owns outside the pools (which go whole at the end),
// then the exchange. Runs after deferred freeing has ended, so every free
// below happens at once.
void free_exchange_contents(ss_exchange* ex) {
  for (uint64_t i = 0; i < ex->stocks.count; i++) {
    ss_stock* s = table_record<ss_stock>(&ex->stocks, i);
    if (s->history) dalloc_free(s->history);
    s->history = nullptr;
    growbuf_free(&s->scratch);
  }
  for (uint64_t i = 0; i < ex->indices.count; i++) {
    ss_index* x = table_record<ss_index>(&ex->indices, i);
    if (x->history) dalloc_free(x->history);
    x->history = nullptr;
    growbuf_free(&x->scratch);
  }
  for (uint64_t i = 0; i < ex->issuers.count; i++) {
    ss_issuer* is = table_record<ss_issuer>(&ex->issuers, i);
    ssmodel_free_news_list(is);
    ssnotify_record(is, kChangeNewsList, nullptr);
  }
  // The alias table names stocks and issuers that their own tables own; the
  // alias records themselves go with their pool.
  free_exchange(ex);
}

// Stops whatever is running, in the shutdown order. Also the unwinding of a
// start-up that failed part way.
void stop_all() {
  stop_module("lazyfree");  // runs every pending deferred free while the pools still exist
  if (started("ssnotify")) ssnotify_disable();
  for (ss_exchange*& ex : M.ex) {
    if (!ex) continue;
    free_exchange_contents(ex);
    ex = nullptr;
  }
  for (const char* name : kStopOrder) stop_module(name);
  free_work_sets();
  destroy_pools();
  M.ready = false;
}

}  // namespace

int ssmodel_init(uint32_t options) {
  stop_all();
  M.options = options;
  if (options & kOptAllRequested) M.options |= kOptExtended;
  if (make_pools() < 0 || make_work_sets() < 0) {
    stop_all();
    return -1;
  }
  memset(M.ex, 0, sizeof M.ex);
  M.news_sequence = 0;
  for (int i = 0; i < kModuleCount; i++) {
    const module_step& m = kModules[i];
    if (test_fails(m.name) || m.init() < 0) {
      if (m.failure) log(LOG_ERROR, kSrc, "%s", m.failure);
      stop_all();
      return -1;
    }
    M.started |= 1u << i;
  }
  if (M.options & kOptFastReset) fast_reset_enable(1);
  M.ready = true;
  return 0;
}

void ssmodel_fini(void) { stop_all(); }

void ssmodel_set_test_failure(const char* step) { M.test_fail = step; }

uint32_t ssmodel_options(void) { return M.options; }
int ssmodel_extended(void) { return (M.options & kOptExtended) ? 1 : 0; }
int ssmodel_all_requested(void) { return (M.options & kOptAllRequested) ? 1 : 0; }
int ssmodel_trade_breaks_on(void) { return (M.options & kOptNoTradeBreaks) ? 0 : 1; }
int32_t ssmodel_stock_size(void) { return stock_record_size(M.options); }

// ===========================================================================
// Work sets

namespace {

work_set* work(int32_t set) { return set >= 0 && set < kWorkSets && M.work[set].ex ? &M.work[set] : nullptr; }

// The speed tables are left as they are: with the counts at 0 nothing reads
// them, and they are most of the record's 0.5 MB.
void zero_exchange(ss_exchange* x) { memset(x, 0, offsetof(ss_exchange, speeds)); }

// A scratch record's own buffer is freed before the record is zeroed, so
// reusing a scratch record leaks nothing.
void zero_stock(ss_stock* s) {
  growbuf_free(&s->scratch);
  memset(s, 0, (size_t)ssmodel_stock_size());
}

void zero_index(ss_index* x) {
  growbuf_free(&x->scratch);
  memset(x, 0, sizeof *x);
}

ss_exchange* scratch_exchange_for(work_set* w, const ss_exchange* ex) {
  memcpy(w->ex->name, ex->name, kCodeSize);
  w->ex->index = ex->index;
  w->ex->flags = ex->flags;
  return w->ex;
}

void name_scratch(instr* in, ss_exchange* ex, const char* code, uint32_t kind) {
  code_key(in->code, code);
  in->exchange = ex;
  in->kind = kind;
  in->id = -1;
  in->name1 = in->name2 = in->code;
}

}  // namespace

ss_exchange* ssmodel_scratch_exchange(int32_t set) {
  work_set* w = work(set);
  if (!w) return nullptr;
  zero_exchange(w->ex);
  return w->ex;
}

ss_stock* ssmodel_scratch_stock(int32_t set) {
  work_set* w = work(set);
  if (!w) return nullptr;
  zero_stock(w->stock);
  return w->stock;
}

ss_index* ssmodel_scratch_index(int32_t set) {
  work_set* w = work(set);
  if (!w) return nullptr;
  zero_index(w->index);
  return w->index;
}

ss_stock* ssmodel_scratch_stock_for(int32_t set, const ss_exchange* ex, const char* code) {
  work_set* w = work(set);
  if (!w || !ex || !code) return nullptr;
  ss_stock* s = w->stock;
  zero_stock(s);
  name_scratch(s, scratch_exchange_for(w, ex), code, kKindStock);
  memcpy(s->issuer, s->code, 3);
  s->speed = -1;
  growbuf_init(&s->scratch, 0, kStockScratchStep);
  return s;
}

ss_index* ssmodel_scratch_index_for(int32_t set, const ss_exchange* ex, const char* code) {
  work_set* w = work(set);
  if (!w || !ex || !code) return nullptr;
  ss_index* x = w->index;
  zero_index(x);
  name_scratch(x, scratch_exchange_for(w, ex), code, kKindIndex);
  x->speed = -1;
  growbuf_init(&x->scratch, 0, kIndexScratchStep);
  return x;
}

ss_issuer* ssmodel_scratch_issuer_for(int32_t set, const ss_exchange* ex, const char* code) {
  work_set* w = work(set);
  if (!w || !ex || !code) return nullptr;
  ss_issuer* is = w->issuer;
  memset(is, 0, sizeof *is);
  name_scratch(is, scratch_exchange_for(w, ex), code, kKindIssuer);
  return is;
}

growbuf* ssmodel_work_buffer(int32_t i, int empty) {
  work_set* w = work(i);
  if (!w) return nullptr;
  if (empty) growbuf_reset(&w->buffer);
  return &w->buffer;
}


// ===========================================================================
// Exchanges

const ss_exchange_row* ssmodel_exchange_row(int32_t index) {
  return index >= 0 && index < kExchanges ? &kRows[index] : nullptr;
}

ss_exchange* ssmodel_new_exchange(int32_t index, uint32_t flags) {
  const ss_exchange_row* row = ssmodel_exchange_row(index);
  if (!row) return nullptr;
  if (M.ex[index]) return M.ex[index];
  ss_exchange* ex = static_cast<ss_exchange*>(dalloc_alloc(sizeof(ss_exchange)));
  memset(ex, 0, sizeof *ex);
  strncpy(ex->name, row->name, kCodeSize - 1);
  ex->index = (uint32_t)index;
  ex->constant = row->constant;
  ex->flags = flags;
  ex->notice_seq = -1;
  if (chash_init(&ex->stocks, row->stocks) < 0 || chash_init(&ex->issuers, row->issuers) < 0 ||
      chash_init(&ex->indices, row->indices) < 0 || chash_init(&ex->aliases, row->aliases) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc exchange");
    free_exchange(ex);
    return nullptr;
  }
  // Without streams the buffers start empty, but keep a real growth step.
  if (growbuf_init(&ex->stream, (flags & kExStreams) ? row->stream_size : 0, row->stream_size / 2) < 0) {
    log(LOG_ERROR, kSrc, "can't init exchange growbuf");
    free_exchange(ex);
    return nullptr;
  }
  growbuf_set_relocate(&ex->stream, on_stream_relocate, ex);
  if (growbuf_init(&ex->zstream, (flags & kExStreams) ? kZStreamSize : 0, kZStreamStep) < 0) {
    log(LOG_ERROR, kSrc, "can't init exchange z growbuf");
    free_exchange(ex);
    return nullptr;
  }
  M.ex[index] = ex;
  return ex;
}

ss_exchange* ssmodel_exchange(int32_t index) {
  return index >= 0 && index < kExchanges ? M.ex[index] : nullptr;
}

const char* ssmodel_exchange_name(int32_t index) {
  const ss_exchange_row* row = ssmodel_exchange_row(index);
  return row ? row->name : nullptr;
}

const char* ssmodel_exchange_display_name(int32_t index) {
  const ss_exchange_row* row = ssmodel_exchange_row(index);
  return row ? row->display_name : nullptr;
}

int32_t ssmodel_exchange_by_name(const char* text) {
  if (!text) return -1;
  static const struct {
    const char* name;
    int32_t index;
  } kNames[] = {{"ASX", 0}, {"NZX", 1}, {"GLB", 2}, {"AXO", 3}, {"A", 0},    {"N", 1},
                {"I", 2},   {"O", 3},   {"NZSE", 1}, {"ASXOPT", 3}};
  for (const auto& n : kNames)
    if (strcasecmp(text, n.name) == 0) return n.index;
  return -1;
}

void ssmodel_exchange_set_flags(ss_exchange* ex, uint32_t bits) { ex->flags |= bits; }

void ssmodel_set_date(ss_exchange* ex, ss_time t) {
  ss_time date = t & ~kSstimeSecondsMask;
  if (date == ex->date) return;
  ex->date = date;
  log(LOG_INFO, kSrc, "set %s date %04d-%02d-%02d", ex->name, (int)(date >> 26) + kSstimeFirstYear,
      (int)((date >> 22) & 0xF), (int)((date >> 17) & 0x1F));
}

ss_time ssmodel_exchange_date(int32_t index) {
  ss_exchange* ex = ssmodel_exchange(index);
  return ex ? ex->date : 0;
}

int32_t ssmodel_exchange_offset(int32_t index) {
  ss_exchange* ex = ssmodel_exchange(index);
  return ex ? ex->offset : 0;
}

uint32_t ssmodel_exchange_phase(int32_t index) {
  ss_exchange* ex = ssmodel_exchange(index);
  return ex ? ex->phase : 0;
}

uint32_t ssmodel_exchange_signature(int32_t index) {
  ss_exchange* ex = ssmodel_exchange(index);
  return ex ? ex->signature : 0;
}

void ssmodel_set_signature(int32_t index, uint32_t value) {
  ss_exchange* ex = ssmodel_exchange(index);
  if (!ex) return;
  ex->signature = value;
  log(LOG_INFO, kSrc, "set %s sig %u", ex->name, value);
}

// ===========================================================================
// Instruments

int ssmodel_code_compare(const char* a, const char* b) { return strcmp(a, b); }

ss_stock* ssmodel_find_stock(ss_exchange* ex, const char* code) {
  if (!ex || !code) return nullptr;
  char key[kCodeSize];
  code_key(key, code);
  return static_cast<ss_stock*>(chash_find(&ex->stocks, key));
}

ss_stock* ssmodel_get_stock(ss_exchange* ex, const char* code) {
  ss_stock* s = ssmodel_find_stock(ex, code);
  return s ? s : ssmodel_add_stock(ex, code);
}

ss_stock* ssmodel_add_stock(ss_exchange* ex, const char* code) {
  if (!ex || !code) return nullptr;
  char key[kCodeSize];
  code_key(key, code);
  if (!key[0]) return nullptr;
  if (!upper_or_digit(key[0])) {
    if (!strstr(key, "_CX")) log(LOG_ERROR, kSrc, "won't add stock with code %s", key);
    return nullptr;
  }
  if (strstr(key, "__")) return nullptr;
  ss_stock* s = take<ss_stock>(&M.stocks);
  if (!s) return nullptr;
  memcpy(s->code, key, kCodeSize);
  s->exchange = ex;
  s->kind = kKindStock;
  s->id = -1;
  s->name1 = s->name2 = s->code;
  s->speed = -1;
  memcpy(s->issuer, key, 3);
  if (ssmodel_all_requested()) s->flags |= kInRequestBits;
  growbuf_init(&s->scratch, 0, kStockScratchStep);
  if (chash_add(&ex->stocks, s) < 0) {
    give_back(s, &M.stocks);
    return nullptr;
  }
  ssmodel_get_issuer(ex, s->issuer);
  if (ex->index == kExchangeAsx && (strstr(key, "_CX") || strstr(key, "_PM"))) {
    char base[kCodeSize];
    memcpy(base, key, kCodeSize);
    *strrchr(base, '_') = 0;
    ss_stock* b = ssmodel_find_stock(ex, base);
    if (b) {
      s->name1 = b->name1;
      s->name2 = b->name2;
    }
  }
  return s;
}

ss_index* ssmodel_find_index(ss_exchange* ex, const char* code) {
  if (!ex || !code) return nullptr;
  char key[kCodeSize];
  code_key(key, code);
  return static_cast<ss_index*>(chash_find(&ex->indices, key));
}

ss_index* ssmodel_get_index(ss_exchange* ex, const char* code) {
  ss_index* x = ssmodel_find_index(ex, code);
  return x ? x : ssmodel_add_index(ex, code);
}

ss_index* ssmodel_add_index(ss_exchange* ex, const char* code) {
  if (!ex || !code) return nullptr;
  char key[kCodeSize];
  code_key(key, code);
  if (!key[0]) return nullptr;  // an empty key could never be found again
  ss_index* x = take<ss_index>(&M.indices);
  if (!x) return nullptr;
  memcpy(x->code, key, kCodeSize);
  x->exchange = ex;
  x->kind = kKindIndex;
  x->id = -1;
  x->name1 = x->name2 = x->code;
  x->speed = -1;
  x->sector = gics_code_for_index((int32_t)ex->index, key);
  if (ssmodel_all_requested()) x->flags |= kInRequestBits;
  if (ex->index == kExchangeGlb) x->flags |= kInCurrent;
  growbuf_init(&x->scratch, 0, kIndexScratchStep);
  if (chash_add(&ex->indices, x) < 0) {
    give_back(x, &M.indices);
    return nullptr;
  }
  return x;
}

ss_issuer* ssmodel_find_issuer(ss_exchange* ex, const char* code) {
  if (!ex || !code) return nullptr;
  chash* t = issuer_table(ex);
  if (!t) return nullptr;
  char key[kCodeSize];
  code_key(key, code);
  return static_cast<ss_issuer*>(chash_find(t, key));
}

ss_issuer* ssmodel_get_issuer(ss_exchange* ex, const char* code) {
  ss_issuer* is = ssmodel_find_issuer(ex, code);
  return is ? is : ssmodel_add_issuer(ex, code);
}

ss_issuer* ssmodel_add_issuer(ss_exchange* ex, const char* code) {
  if (!ex || !code) return nullptr;
  char key[kCodeSize];
  code_key(key, code);
  if (!upper_or_digit(key[0])) {
    log(LOG_ERROR, kSrc, "won't add issuer with code %s", key);
    return nullptr;
  }
  ss_exchange* home = issuer_home(ex);
  if (!home) return nullptr;
  ss_issuer* is = take<ss_issuer>(&M.issuers);
  if (!is) return nullptr;
  memcpy(is->code, key, kCodeSize);
  is->exchange = home;
  is->kind = kKindIssuer;
  is->id = -1;
  is->name1 = is->name2 = is->code;
  if (chash_add(&home->issuers, is) < 0) {
    give_back(is, &M.issuers);
    return nullptr;
  }
  return is;
}

ss_alias* ssmodel_find_alias(ss_exchange* ex, const char* code) {
  if (!ex || !code) return nullptr;
  char key[kCodeSize];
  code_key(key, code);
  return static_cast<ss_alias*>(chash_find(&ex->aliases, key));
}

ss_stock* ssmodel_find_stock_or_alias(ss_exchange* ex, const char* code) {
  ss_alias* a = ssmodel_find_alias(ex, code);
  if (a) {
    ss_stock* s = ssmodel_find_stock(ex, a->to);
    if (s) return s;
  }
  return ssmodel_find_stock(ex, code);
}

ss_issuer* ssmodel_find_issuer_or_alias(ss_exchange* ex, const char* code) {
  ss_alias* a = ssmodel_find_alias(ex, code);
  if (a) {
    ss_issuer* is = ssmodel_find_issuer(ex, a->to);
    if (is) return is;
  }
  return ssmodel_find_issuer(ex, code);
}

static void remove_alias(ss_exchange* ex, ss_alias* a) {
  chash_remove(&ex->aliases, a->from);
  give_back_later(&M.aliases, a);
}

int ssmodel_add_alias(ss_exchange* ex, const char* from, const char* to) {
  if (!ex || !from || !to) return -1;
  char fk[kCodeSize], tk[kCodeSize];
  code_key(fk, from);
  code_key(tk, to);
  ss_alias* a = ssmodel_find_alias(ex, fk);
  if (a) {
    if (strcmp(a->to, tk) == 0) return 0;
    if (strcmp(fk, tk) == 0) {
      remove_alias(ex, a);
      return 0;
    }
    memcpy(a->to, tk, kCodeSize);
  } else {
    if (strcmp(fk, tk) == 0) return 0;
    ss_alias* r = ssmodel_find_alias(ex, tk);
    if (r && strcmp(r->to, fk) == 0) remove_alias(ex, r);
    a = take<ss_alias>(&M.aliases);
    if (!a) {
      log(LOG_ERROR, kSrc, "can't alloc alias");
      return -1;
    }
    memcpy(a->from, fk, kCodeSize);
    memcpy(a->to, tk, kCodeSize);
    if (chash_add(&ex->aliases, a) < 0) {
      log(LOG_ERROR, kSrc, "can't add alias %s:%s->%s", ex->name, fk, tk);
      give_back(a, &M.aliases);
      return -1;
    }
  }
  a->issuer = ssmodel_find_issuer(ex, fk);
  a->stock = ssmodel_find_stock(ex, fk);
  int result = 0;
  if (strlen(fk) <= 3 && strlen(tk) <= 3) {
    ss_issuer* fi = a->issuer;
    ss_issuer* ti = ssmodel_get_issuer(ex, tk);
    if (!ti) {
      result = -1;
    } else {
      // The from-issuer's recent news moves to the to-issuer.
      for (ss_exchange_news* e = ex->news.head; e;) {
        ss_exchange_news* next = e->next;
        if (strcmp(e->code, fk) == 0) {
          dl_unlink(ex->news, e);
          give_back_later(&M.xnews, e);
          ss_news* item = fi ? ssmodel_find_news(fi, e->number) : nullptr;
          if (item && !ssmodel_find_news(ti, e->number))
            ssmodel_add_news(ti, item->number, item->time, item->codes, item->flags, item->headline);
        }
        e = next;
      }
      if (fi && (ex->flags & kExRecord) && !(ti->flags & kInMuted)) ssnotify_record(fi, kChangeAlias, nullptr);
    }
  }
  ss_stock* ts = ssmodel_get_stock(ex, tk);
  if (!ts)
    result = -1;
  else if (a->stock && (ex->flags & kExRecord) && !(ts->flags & kInMuted))
    ssnotify_record(a->stock, kChangeAlias, nullptr);
  return result;
}

// ===========================================================================
// Current lists and rankings

void ssmodel_link_current(ss_stock* stock) {
  ss_exchange* ex = stock->exchange;
  if (in_current(ex, stock)) return;
  link_in_code_order(ex->current, &ex->stocks, stock, current_links(),
                     [ex](ss_stock* c) { return in_current(ex, c); });
}

void ssmodel_stock_make_current(ss_stock* stock) {
  ss_exchange* ex = stock->exchange;
  stock->flags |= kInCurrent;
  ssmodel_link_current(stock);
  if (ex->flags & kExRankings)
    for (int i = 0; i < kRankings; i++)
      if (!in_rank(ex, stock, i)) rank_insert(ex, stock, i);
  mark_issuer_current(stock);
}

void ssmodel_link_index_current(ss_index* index) {
  ss_exchange* ex = index->exchange;
  index->flags |= kInCurrent;
  if (in_index_current(ex, index)) return;
  link_in_code_order(ex->current_indices, &ex->indices, index, index_links(),
                     [ex](ss_index* c) { return in_index_current(ex, c); });
}

void ssmodel_clear_current(ss_exchange* ex) {
  clear_list(ex->current, current_links());
  for (int i = 0; i < kRankings; i++) clear_list(ex->rank[i], rank_links{i});
  for (uint64_t i = 0; i < ex->stocks.count; i++) table_record<ss_stock>(&ex->stocks, i)->flags &= ~kInCurrent;
}

void ssmodel_rebuild_current(ss_exchange* ex) {
  clear_list(ex->current, current_links());
  for (int i = 0; i < kRankings; i++) clear_list(ex->rank[i], rank_links{i});
  // The table's sorted array is already in code order.
  std::vector<ss_stock*> current;
  for (uint64_t i = 0; i < ex->stocks.count; i++) {
    ss_stock* s = table_record<ss_stock>(&ex->stocks, i);
    if (!(s->flags & kInCurrent)) continue;
    append(ex->current, s, current_links());
    current.push_back(s);
  }
  if (current.empty()) log(LOG_WARN, kSrc, "no stocks in %s", ex->name);
  if (ex->flags & kExRankings) {
    for (int r = 0; r < kRankings; r++) {
      std::vector<ss_stock*> order = current;
      std::stable_sort(order.begin(), order.end(),
                       [r](const ss_stock* a, const ss_stock* b) { return kRankCompare[r](a, b) < 0; });
      for (ss_stock* s : order) append(ex->rank[r], s, rank_links{r});
    }
  }
  ss_exchange* home = issuer_home(ex);
  if (home) recompute_issuer_current(home);
}

void ssmodel_clear_index_current(ss_exchange* ex) {
  clear_list(ex->current_indices, index_links());
  for (uint64_t i = 0; i < ex->indices.count; i++)
    table_record<ss_index>(&ex->indices, i)->flags &= ~kInCurrent;
}

void ssmodel_rebuild_index_current(ss_exchange* ex) {
  clear_list(ex->current_indices, index_links());
  for (uint64_t i = 0; i < ex->indices.count; i++) {
    ss_index* x = table_record<ss_index>(&ex->indices, i);
    if (x->flags & kInCurrent) append(ex->current_indices, x, index_links());
  }
}

int ssmodel_rank_change_compare(const ss_stock* a, const ss_stock* b) {
  if (a->change_pct != b->change_pct) return a->change_pct < b->change_pct ? -1 : 1;
  if (a->close && b->close) {
    double ra = (double)a->change / a->close, rb = (double)b->change / b->close;
    if (ra != rb) return ra < rb ? -1 : 1;
  }
  int c = strcmp(a->code, b->code);
  return a->change_pct <= 0 ? c : -c;
}

int ssmodel_rank_volume_compare(const ss_stock* a, const ss_stock* b) {
  if (a->volume != b->volume) return a->volume < b->volume ? -1 : 1;
  return strcmp(a->code, b->code);
}

int ssmodel_rank_value_compare(const ss_stock* a, const ss_stock* b) {
  if (a->value != b->value) return a->value < b->value ? -1 : 1;
  return strcmp(a->code, b->code);
}

// ===========================================================================
// Names and fundamentals

// Replaces each given name that is not empty and differs from the code and
// from the present one. True when either changed.
static bool apply_names(ss_stock* s, const char* name1, const char* name2) {
  bool changed = false;
  const char* names[2] = {name1, name2};
  const char** slots[2] = {&s->name1, &s->name2};
  for (int i = 0; i < 2; i++) {
    const char* n = names[i];
    if (!n || !n[0] || strcmp(n, s->code) == 0 || strcmp(n, *slots[i]) == 0) continue;
    const char* copy = copy_name(n);
    if (!copy) continue;
    *slots[i] = copy;
    changed = true;
  }
  return changed;
}

void ssmodel_set_stock_names(ss_stock* stock, const char* name1, const char* name2) {
  ss_exchange* ex = stock->exchange;
  if (apply_names(stock, name1, name2)) {
    stock->flags |= kInNamed;
    if (!(stock->flags & kInMuted) && (ex->flags & kExRecord)) ssnotify_record(stock, kChangeNames, nullptr);
  }
  if (ex->index == kExchangeAsx && stock->kind == kKindStock && strlen(stock->code) < 8) {
    for (const char* suffix : {"_CX", "_PM"}) {
      char code[kCodeSize + 4];
      snprintf(code, sizeof code, "%s%s", stock->code, suffix);
      ss_stock* other = ssmodel_find_stock(ex, code);
      if (other && apply_names(other, name1, name2)) other->flags |= kInNamed;
    }
  }
}

void ssmodel_set_issuer_code(ss_stock* stock, const char* code) {
  char key[kCodeSize];
  code_key(key, code);
  if (strcmp(key, stock->issuer) == 0) return;
  memcpy(stock->issuer, key, kCodeSize);
  if (stock->flags & kInCurrent) mark_issuer_current(stock);
  ssnotify_record(stock, kChangeIssuer, nullptr);
}

void ssmodel_set_capital(ss_stock* stock, uint32_t a, uint32_t b, uint32_t c, uint64_t shares) {
  const uint32_t figures[3] = {a, b, c};
  for (int i = 0; i < 3; i++)
    if (figures[i] != kCapitalUnchanged) stock->capital[i] = figures[i];
  if (shares == UINT64_MAX || shares == stock->shares) return;
  stock->shares = shares;
  uint32_t price = stock->last ? stock->last : stock->close;
  stock->market_cap = clamp64((unsigned __int128)price * shares / 100);
}

void ssmodel_set_option(ss_stock* stock, const char* underlying, uint32_t kind, ss_time expiry, uint32_t first,
                        uint32_t second) {
  code_key(stock->underlying, underlying);
  stock->option_kind = kind;
  stock->expiry = expiry;
  stock->option_number = first;
  stock->multiplier = second;
}

void ssmodel_set_sector(instr* in, uint32_t number) {
  if (in->kind == kKindIndex) static_cast<ss_index*>(in)->sector = number;
}

void ssmodel_set_history_from(instr* in, ss_time date) {
  in->history_from = date;
  if (!date) return;
  if (in->kind == kKindIssuer) {
    ss_issuer* is = static_cast<ss_issuer*>(in);
    if (cut_before(is->news, date, free_news_chain)) ssnotify_record(in, kChangeNewsList, nullptr);
  } else if (in->kind == kKindStock) {
    if (drop_points_before(static_cast<ss_stock*>(in)->history, date)) ssnotify_record(in, kChangeHistory, nullptr);
  } else if (in->kind == kKindIndex) {
    if (drop_points_before(static_cast<ss_index*>(in)->history, date)) ssnotify_record(in, kChangeHistory, nullptr);
  }
}

static bool has_underlying(ss_exchange* ex, const char* key) {
  if (!ex) return false;
  for (uint64_t i = 0; i < ex->stocks.count; i++) {
    ss_stock* s = table_record<ss_stock>(&ex->stocks, i);
    if (s->option_kind && strcmp(s->underlying, key) == 0) return true;
  }
  return false;
}

int ssmodel_is_underlying(ss_exchange* ex, const char* code) {
  if (!ex || !code) return 0;
  char key[kCodeSize];
  code_key(key, code);
  if (ex->index == kExchangeAsx) return has_underlying(ex, key);
  if (ex->index == kExchangeAxo) return has_underlying(ex, key) || has_underlying(M.ex[kExchangeAsx], key);
  return 0;
}

int ssmodel_is_main_index(const char* code) {
  if (!code || ssmodel_all_requested()) return 0;
  if (strcmp(code, "XAO") == 0 && ssuser_exchange_permitted(kExchangeAsx)) return 1;
  if (strcmp(code, "NZ50") == 0 && ssuser_exchange_permitted(kExchangeNzx)) return 1;
  return 0;
}

// Every figure is computed in wider integers (or double) and clamped to its
// field, so extreme prices and volumes saturate rather than wrap.
void ssmodel_stock_derive(ss_stock* s) {
  uint32_t base = s->close ? s->close : s->open;
  uint32_t indicative = (uint32_t)s->auction.price;
  if (s->last) {
    int64_t change = base ? (int64_t)s->last - base : 0;
    s->change = clamp32(change);
    s->change_pct = percent_of(change, base);
    s->disp_price = s->last;
    s->disp_change = s->change;
    s->disp_change_pct = s->change_pct;
    s->disp_volume = s->volume;
    s->disp_value = s->value;
  } else if (indicative) {
    int64_t change = base ? (int64_t)indicative - base : 0;
    s->change = 0;
    s->change_pct = 0;
    s->disp_price = indicative;
    s->disp_change = clamp32(change);
    s->disp_change_pct = percent_of(change, base);
    s->disp_volume = add_sat(s->volume, s->auction.matched);
    uint64_t mult = s->multiplier > 1 ? s->multiplier : 1;
    unsigned __int128 extra = (unsigned __int128)mult * indicative * s->auction.matched;
    // (x × 100) / 10000 is x / 100 in integers, and cannot overflow.
    s->disp_value = add_sat(s->value, clamp64(extra / 100));
  } else {
    s->change = 0;
    s->change_pct = 0;
    s->disp_price = s->close;
    s->disp_change = 0;
    s->disp_change_pct = 0;
    s->disp_volume = s->volume;
    s->disp_value = s->value;
  }
  s->market_cap = clamp64((unsigned __int128)s->disp_price * s->shares / 100);
  ssutil_stock_vcmp_derive(s);
}

void ssmodel_auction_clear(ss_auction* a) { memset(a, 0, sizeof *a); }

void ssmodel_auction_copy(ss_auction* dst, const ss_auction* src) { memcpy(dst, src, sizeof *dst); }

int ssmodel_auction_differs(const ss_auction* a, const ss_auction* b) {
  return a->price != b->price || a->matched != b->matched || a->surplus != b->surplus ||
         a->bid_price != b->bid_price || a->bid_volume != b->bid_volume || a->offer_price != b->offer_price ||
         a->offer_volume != b->offer_volume;
}

void ssmodel_stock_copy_auction(const ss_stock* live, ss_stock* scratch) {
  ssmodel_auction_copy(&scratch->auction, &live->auction);
}

void ssmodel_stock_clear_auction(ss_stock* stock) { ssmodel_auction_clear(&stock->auction); }

int ssmodel_reserve_history(ss_stock* stock, uint32_t n) {
  return reserve_points<ss_stock_history, ss_stock_point>(stock->history, n);
}

int ssmodel_reserve_index_history(ss_index* index, uint32_t n) {
  return reserve_points<ss_index_history, ss_index_point>(index->history, n);
}

void ssmodel_free_history(ss_stock* stock) {
  ss_stock_history* h = stock->history;
  ssmodel_publish(stock->history, nullptr);
  if (h) lazyfree_later(free_block, h);
  stock->flags &= ~kInHistory;
}

void ssmodel_free_index_history(ss_index* index) {
  ss_index_history* h = index->history;
  ssmodel_publish(index->history, nullptr);
  if (h) lazyfree_later(free_block, h);
  index->flags &= ~kInHistory;
}

// ===========================================================================
// Depth

ss_depth_level* ssmodel_new_depth_level(uint32_t price) {
  ss_depth_level* l = take<ss_depth_level>(&M.levels);
  if (l) l->price = price;
  return l;
}

ss_depth_order* ssmodel_new_depth_order(uint64_t volume, uint32_t value, ss_depth_level* level,
                                        ss_depth_order* next) {
  ss_depth_order* o = take<ss_depth_order>(&M.orders);
  if (!o) return nullptr;
  o->volume = volume;
  o->value = value;
  ssmodel_publish(o->next, next);
  if (level) {
    ssmodel_publish(level->count, level->count + 1);
    if (volume != UINT64_MAX) level->volume += volume;
  }
  return o;
}

ss_depth_order* ssmodel_new_depth_order_at(uint64_t volume, uint32_t value, ss_depth_level* level) {
  return ssmodel_new_depth_order(volume, value, level, nullptr);
}

void ssmodel_free_depth(ss_stock* stock) {
  // The event module's summary memo may point into these levels: drop it
  // before they are detached, so a later summary cannot link into them.
  ssevent_clear_pending();
  for (int side = 0; side < 2; side++) {
    ss_depth_level* head = stock->levels[side];
    ssmodel_publish(stock->levels[side], nullptr);
    if (head) lazyfree_later(free_level_chain, head);
  }
}

void ssmodel_free_depth_levels(ss_depth_level* first) {
  if (first) lazyfree_later(free_level_chain, first);
}

void ssmodel_free_depth_level(ss_depth_level* level) {
  if (level) give_back_later(&M.levels, level);
}

void ssmodel_free_depth_order(ss_depth_order* order) {
  if (order) give_back_later(&M.orders, order);
}

ss_depth_break* ssmodel_add_depth_break(ss_stock* stock, int side, int32_t position, uint32_t value) {
  if (side != 0 && side != 1) return nullptr;
  ss_depth_break* b = take<ss_depth_break>(&M.breaks);
  if (!b) return nullptr;
  b->position = position;
  b->value = value;
  ss_list<ss_depth_break>& l = stock->breaks[side];
  ss_depth_break* c = l.tail;
  while (c && c->position > position) c = c->prev;
  dl_insert_after(l, c, b);
  return b;
}

void ssmodel_free_depth_breaks(ss_stock* stock) {
  for (auto& l : stock->breaks) free_later(free_chain<ss_depth_break>, dl_detach(l));
}

// ===========================================================================
// Trades

// Moves the aggregate cursor to the aggregate of `price`, or to where it
// would go; returns the aggregate or null.
static ss_trade_break* seek_trade_break(ss_trade_breaks& tb, uint32_t price, ss_trade_break** before) {
  ss_trade_break* c = tb.cursor ? tb.cursor : tb.head;
  while (c && c->price < price) c = c->next;
  if (!c) c = tb.tail;
  while (c && c->price > price) c = c->prev;
  // c is now the last aggregate whose price is not above `price`, or null.
  if (c && c->price == price) {
    tb.cursor = c;
    return c;
  }
  *before = c ? c->next : tb.head;
  return nullptr;
}

static ss_list<ss_trade_break>& as_list(ss_trade_breaks& tb) {
  static_assert(offsetof(ss_trade_breaks, count) == offsetof(ss_list<ss_trade_break>, count) &&
                    offsetof(ss_trade_breaks, head) == offsetof(ss_list<ss_trade_break>, head) &&
                    offsetof(ss_trade_breaks, tail) == offsetof(ss_list<ss_trade_break>, tail),
                "the aggregate list starts like a list");
  return *reinterpret_cast<ss_list<ss_trade_break>*>(&tb);
}

static void fold_trade(ss_stock* stock, const ss_trade* t) {
  ss_trade_breaks& tb = stock->trade_breaks;
  ss_trade_break* before = nullptr;
  ss_trade_break* b = seek_trade_break(tb, t->price, &before);
  if (b) {
    b->first = std::min(b->first, t->time);
    b->last = std::max(b->last, t->time);
    b->volume += t->volume;
    b->count++;
    return;
  }
  b = take<ss_trade_break>(&M.trade_breaks);
  if (!b) {
    log(LOG_ERROR, kSrc, "can't alloc trade break");
    return;
  }
  b->first = b->last = t->time;
  b->price = t->price;
  b->volume = t->volume;
  b->count = 1;
  dl_insert_before(as_list(tb), before, b);
  tb.cursor = b;
}

ss_trade* ssmodel_add_trade(ss_stock* stock, ss_time time, uint32_t price, uint64_t volume) {
  ss_trade* t = take<ss_trade>(&M.trades);
  if (!t) return nullptr;
  t->time = time;
  t->price = price;
  t->volume = volume;
  ss_trade* c = stock->trades.tail;
  while (c && c->time > time) c = c->prev;
  dl_insert_after(stock->trades, c, t);
  stock->trade_count++;
  ss_exchange* ex = stock->exchange;
  if (ex && time > ex->date) ex->trades_today++;
  if (ssmodel_trade_breaks_on()) fold_trade(stock, t);
  return t;
}

ss_trade_break* ssmodel_find_trade_break(ss_stock* stock, uint32_t price) {
  ss_trade_break* before = nullptr;
  return seek_trade_break(stock->trade_breaks, price, &before);
}

int ssmodel_remove_trade_break(ss_stock* stock, uint32_t price) {
  ss_trade_breaks& tb = stock->trade_breaks;
  ss_trade_break* b = ssmodel_find_trade_break(stock, price);
  if (!b) {
    log(LOG_WARN, kSrc, "can't find %s trade break @ %u to remove", stock->code, price);
    return -1;
  }
  tb.cursor = b->prev ? b->prev : b->next;
  dl_unlink(as_list(tb), b);
  give_back_later(&M.trade_breaks, b);
  return 0;
}

ss_trade_detail* ssmodel_set_trade_detail(ss_trade* trade, uint64_t conditions, uint64_t second_value, uint32_t date,
                                          uint64_t buyer, uint64_t seller) {
  ss_trade_detail* d = take<ss_trade_detail>(&M.details);
  if (!d) return nullptr;
  d->conditions = conditions;
  d->second_value = second_value;
  d->date = date;
  d->buyer = buyer;
  d->seller = seller;
  ss_trade_detail* old = trade->detail;
  ssmodel_publish(trade->detail, d);
  if (old) give_back_later(&M.details, old);
  return d;
}

ss_trade_detail* ssmodel_trade_detail(const ss_trade* trade) { return ssmodel_load(trade->detail); }

int ssmodel_trades_vary(const ss_stock* stock) {
  uint32_t prev = 0;
  int changes = 0;
  for (const ss_trade* t = stock->trades.tail; t; t = t->prev) {
    if (t->price != prev && ++changes >= 10) return 1;
    prev = t->price;
  }
  return 0;
}

static void free_trade_lists(ss_list<ss_trade>& trades, ss_trade_breaks& tb) {
  free_later(free_trade_chain, dl_detach(trades));
  tb.cursor = nullptr;
  free_later(free_chain<ss_trade_break>, dl_detach(as_list(tb)));
}

void ssmodel_free_trades(ss_stock* stock) {
  free_trade_lists(stock->trades, stock->trade_breaks);
  stock->trade_count = 0;
}

void ssmodel_free_day_trades(ss_day* day) { free_trade_lists(day->trades, day->trade_breaks); }

void ssmodel_free_day_ticks(ss_day* day) { free_later(free_chain<ss_tick>, dl_detach(day->ticks)); }

// ===========================================================================
// Index ticks and constituents

ss_tick* ssmodel_add_index_tick(ss_index* index, int32_t time, uint32_t value) {
  ss_tick* t = take<ss_tick>(&M.ticks);
  if (!t) return nullptr;
  t->time = time;
  t->value = value;
  ss_tick* c = index->ticks.tail;
  while (c && c->time > time) c = c->prev;
  dl_insert_after(index->ticks, c, t);
  return t;
}

void ssmodel_free_index_ticks(ss_index* index) { free_later(free_chain<ss_tick>, dl_detach(index->ticks)); }

ss_index_member* ssmodel_add_index_member(ss_index* index, const char* code, uint64_t value) {
  char key[kCodeSize];
  code_key(key, code);
  ss_index_member* c = index->members.head;
  while (c && strcmp(c->code, key) < 0) c = c->next;
  ss_index_member* m = c;
  if (c && strcmp(c->code, key) == 0) {
    c->value = value;
  } else {
    m = take<ss_index_member>(&M.members);
    if (!m) return nullptr;
    memcpy(m->code, key, kCodeSize);
    m->value = value;
    dl_insert_before(index->members, c, m);
  }
  ssmodel_set_benchmark_flag(index, key, 1);
  return m;
}

void ssmodel_remove_index_member(ss_index* index, const char* code) {
  char key[kCodeSize];
  code_key(key, code);
  for (ss_index_member* m = index->members.head; m; m = m->next) {
    if (strcmp(m->code, key) == 0) {
      dl_unlink(index->members, m);
      give_back_later(&M.members, m);
      break;
    }
  }
  ssmodel_set_benchmark_flag(index, key, 0);
}

void ssmodel_set_benchmark_flag(ss_index* index, const char* code, int on) {
  ss_exchange* ex = index->exchange;
  bool benchmark = (ex->index == kExchangeAsx && strcmp(index->code, "XJO") == 0) ||
                   (ex->index == kExchangeNzx && strcmp(index->code, "NZ50") == 0);
  if (!benchmark) return;
  ss_stock* s = ssmodel_find_stock(ex, code);
  if (!s) {
    log(LOG_WARN, kSrc, "can't find %s:%s to %s benchmark flag", ex->name, code, on ? "set" : "clear");
    return;
  }
  if (on)
    s->flags |= kInBenchmark;
  else
    s->flags &= ~kInBenchmark;
}

// ===========================================================================
// Adjustments

int ssmodel_add_adjustment(ss_stock* stock, int32_t date, int32_t factor) {
  ss_adjustment* c = stock->adjustments.tail;
  while (c && c->date > date) c = c->prev;
  if (c && c->date == date) {
    c->factor = factor;
    return 0;
  }
  ss_adjustment* a = take<ss_adjustment>(&M.adjustments);
  if (!a) {
    log(LOG_ERROR, kSrc, "can't alloc adjustment");
    return -1;
  }
  a->date = date;
  a->factor = factor;
  dl_insert_after(stock->adjustments, c, a);
  return 0;
}

int ssmodel_remove_adjustment(ss_stock* stock, int32_t date, int32_t factor) {
  for (ss_adjustment* a = stock->adjustments.tail; a; a = a->prev) {
    if (a->date == date && a->factor == factor) {
      dl_unlink(stock->adjustments, a);
      give_back_later(&M.adjustments, a);
      return 0;
    }
  }
  return -1;
}

// ===========================================================================
// News

ss_news* ssmodel_add_news(instr* in, uint32_t number, ss_time time, const uint32_t* codes, uint32_t flags,
                          const char* headline) {
  ss_issuer* is = issuer_of(in);
  if (!is) {
    log(LOG_ERROR, kSrc, "no news list on %s", in ? in->code : "(null)");
    return nullptr;
  }
  ss_news* n = take<ss_news>(&M.news);
  if (!n) return nullptr;
  n->number = number;
  n->time = time;
  n->flags = flags;
  if (headline) {
    size_t len = strnlen(headline, kHeadlineSize - 1);
    memcpy(n->headline, headline, len);
  }
  for (int i = 0; codes && i < kNewsCodes; i++) {
    n->codes[i] = codes[i];
    if (!codes[i]) break;
  }
  ss_exchange* ex = in->exchange;
  if (ex->index == kExchangeAsx && (flags & kNewsFlag1) && !(flags & kNewsFlag4) && kludge_before_20100606(time) &&
      memchr(n->headline, ':', strnlen(n->headline, 6)))
    n->flags |= kNewsFlag4;

  ss_news* c = is->news.tail;
  while (c && news_after(c->time, c->number, time, number)) c = c->prev;
  if (c && c->time == time && c->number == number) {
    if (!time) {
      log(LOG_WARN, kSrc, "no need to add temp %s news item", in->code);
      give_back(n, &M.news);
      return c;
    }
    c->flags = n->flags;
    memcpy(c->codes, n->codes, sizeof c->codes);
    memcpy(c->headline, n->headline, sizeof c->headline);
    // A re-sent item keeps its body unless the new one brings its own.
    if (n->body) {
      char* old = c->body;
      c->body = n->body;
      if (old) lazyfree_later(free_block, old);
    }
    give_back(n, &M.news);
    if (ex->date && time > ex->date) {
      if (c->flags & kNewsWithdrawn)
        ssmodel_recompute_news_flags(is);  // it may have been counted before
      else
        set_news_bits(in, c);
    }
    return c;
  }
  dl_insert_after(is->news, c, n);
  if (time && (!ex->date || time > sstime_add_months(ex->date, -1))) add_exchange_news(ex, in->code, n);
  if (ex->date && time > ex->date) set_news_bits(in, n);
  return n;
}

ss_news* ssmodel_add_bare_news(instr* in, uint32_t number) {
  return ssmodel_add_news(in, number, 0, nullptr, 0, nullptr);
}

ss_news* ssmodel_find_news(instr* in, uint32_t number) {
  ss_issuer* is = issuer_of(in);
  if (!is) return nullptr;
  for (ss_news* n = is->news.tail; n; n = n->prev)
    if (n->number == number) return n;
  return nullptr;
}

void ssmodel_recompute_news_flags(ss_issuer* issuer) {
  issuer->flags &= ~kInNewsBits;
  ss_time date = issuer->exchange->date;
  for (ss_news* n = issuer->news.tail; n; n = n->prev) {
    // Items known only by their number (time 0) carry nothing to show.
    if (!n->time || n->time < date) continue;
    set_news_bits(issuer, n);
  }
}

int ssmodel_remove_news(ss_issuer* issuer, uint32_t number) {
  ss_list<ss_news_removal>& l = issuer->removals;
  ss_news_removal* c = l.tail;
  while (c && c->number > number) c = c->prev;
  if (!c || c->number != number) {
    ss_news_removal* r = take<ss_news_removal>(&M.removals);
    if (!r) {
      log(LOG_ERROR, kSrc, "can't alloc news removal");
      return -1;
    }
    r->number = number;
    dl_insert_after(l, c, r);
  }
  ss_news* item = ssmodel_find_news(issuer, number);
  if (item) {
    item->flags |= kNewsWithdrawn;
    ssmodel_recompute_news_flags(issuer);
  }
  return 0;
}

void ssmodel_apply_news_removals(ss_issuer* issuer) {
  for (ss_news_removal* r = issuer->removals.head; r; r = r->next) {
    ss_news* item = ssmodel_find_news(issuer, r->number);
    if (!item) continue;
    item->flags |= kNewsWithdrawn;
    ssmodel_recompute_news_flags(issuer);
  }
}

void ssmodel_trim_news_today(instr* in) { trim_news(in, in->exchange->date); }

void ssmodel_trim_news_month(instr* in) {
  ss_time date = in->exchange->date;
  trim_news(in, date ? sstime_add_months(date, -1) : 0);
}

// AXO's issuers and their recent news live with ASX, so a recount of AXO is a
// recount of ASX: clearing ASX's issuers from AXO's (empty) list would drop
// their bits.
void ssmodel_recount_news_flags(ss_exchange* ex) {
  ex = issuer_home(ex);
  if (!ex) return;
  for (uint64_t i = 0; i < ex->issuers.count; i++)
    table_record<ss_issuer>(&ex->issuers, i)->flags &= ~kInNewsBits;
  for (ss_exchange_news* e = ex->news.tail; e && e->time >= ex->date; e = e->prev) {
    ss_issuer* is = ssmodel_find_issuer(ex, e->code);
    ss_news* item = is ? ssmodel_find_news(is, e->number) : nullptr;
    if (item) set_news_bits(is, item);
  }
}

void ssmodel_free_news_item(ss_news* item) {
  if (item) lazyfree_later(free_news_one, item);
}

void ssmodel_free_news_list(ss_issuer* issuer) { free_later(free_news_chain, dl_detach(issuer->news)); }

void ssmodel_free_exchange_news(ss_exchange* ex) { free_later(free_chain<ss_exchange_news>, dl_detach(ex->news)); }

// ===========================================================================
// Exchange clock
//
// All arithmetic on packed times goes through the time module, which carries
// seconds across midnight, month and year ends; a plain difference of two
// packed values is meaningless once their dates differ.

namespace {

bool dated(ss_time t) { return t > kSstimeSecondsMask && t < kSstimeFirstInvalid; }

void set_delta_to(ss_exchange* ex, ss_time target, ss_time local) {
  int32_t delta = sstime_diff_seconds(target, local);
  ssmodel_publish(ex->delta, delta);
  char text[kSstimeDatetimeLen];
  log(LOG_INFO, kSrc, "set %s delta %+ds %+ds (%s)", ex->name, delta, ex->offset,
      sstime_format_datetime_into(text, sstime_add_seconds(local, delta)));
}

// hh:mm:00 on the date of `date` (a time of day when it has none).
ss_time day_time(ss_time date, int32_t hour, int32_t minute) {
  return sstime_set_fields(date & ~kSstimeSecondsMask, 0, minute, hour, -1, -1, -1);
}

ss_time clamp_between(ss_time t, ss_time lo, ss_time hi) { return t < lo ? lo : t > hi ? hi : t; }

}  // namespace

ss_time ssmodel_exchange_now(const ss_exchange* ex) {
  ss_time local = sstime_now();
  return ex ? sstime_add_seconds(local, ssmodel_load(ex->delta)) : local;
}

void ssmodel_set_offset(ss_exchange* ex, int32_t offset) {
  if (!ex) return;
  ss_time local = sstime_now();
  ss_time now = sstime_add_seconds(local, ex->delta);
  int64_t change = (int64_t)offset - ex->offset;
  ss_time target = change < INT32_MIN || change > INT32_MAX ? 0 : sstime_add_seconds(now, (int32_t)change);
  ex->offset = offset;
  char text[kSstimeDatetimeLen];
  log(LOG_INFO, kSrc, "set %s offset %+ds (%s)", ex->name, offset, sstime_format_datetime_into(text, now));
  if (!dated(target) || !dated(local)) {
    log(LOG_WARN, kSrc, "can't move %s clock by %+llds", ex->name, (long long)change);
    return;
  }
  set_delta_to(ex, target, local);
}

void ssmodel_set_delta(ss_exchange* ex, ss_time stamp) {
  if (!ex) return;
  ss_time local = sstime_now();
  if (!dated(stamp) || !dated(local)) {
    log(LOG_WARN, kSrc, "can't set %s clock to %s", ex->name, sstime_format_datetime(stamp));
    return;
  }
  set_delta_to(ex, stamp, local);
}

void ssmodel_track_offset(ss_exchange* ex, ss_time stamp) {
  ss_time local = sstime_now();
  if (!ex || !dated(stamp) || !dated(local)) return;
  int32_t target = sstime_diff_seconds(stamp, local);
  int32_t delta = ex->delta;
  int64_t gap = (int64_t)target - delta;
  if (gap == 0) return;
  if (gap > 1)
    delta++;
  else if (gap < -1)
    delta--;
  else if (delta % 100 != 0)
    delta = target;
  else
    return;  // a delta set from a whole offset is not nudged by one second
  ssmodel_publish(ex->delta, delta);
}

ss_time ssmodel_exchange_preopen_time(const ss_exchange* ex) { return ex ? day_time(ex->date, 8, 0) : 0; }

ss_time ssmodel_exchange_open_time(const ss_exchange* ex) { return ex ? day_time(ex->date, 10, 0) : 0; }

ss_time ssmodel_exchange_close_time(const ss_exchange* ex) {
  if (!ex) return 0;
  switch (ex->index) {
    case kExchangeAsx:
      return day_time(ex->date, 16, 11);
    case kExchangeNzx:
      return day_time(ex->date, 17, 0);
    default:
      return day_time(ex->date, 16, 0);
  }
}

ss_time ssmodel_exchange_day_end(const ss_exchange* ex) {
  if (!ex) return 0;
  return ex->index == kExchangeNzx ? day_time(ex->date, 18, 30) : day_time(ex->date, 19, 0);
}

ss_time ssmodel_day_start_for(int32_t index, ss_time date) {
  if (index == kExchangeAsx || index == kExchangeAxo) return kludge_day_start(date & ~kSstimeSecondsMask);
  return day_time(date, 8, 0);
}

ss_time ssmodel_exchange_day_start(const ss_exchange* ex) {
  return ex ? ssmodel_day_start_for((int32_t)ex->index, ex->date) : 0;
}

ss_time ssmodel_exchange_clamp_time(const ss_exchange* ex, ss_time t) {
  return clamp_between(t, ssmodel_exchange_day_start(ex), ssmodel_exchange_day_end(ex));
}

ss_time ssmodel_exchange_clamp_to_open(const ss_exchange* ex, ss_time t) {
  return clamp_between(t, ssmodel_exchange_open_time(ex), ssmodel_exchange_close_time(ex));
}

ss_time ssmodel_exchange_clamped_now(const ss_exchange* ex) {
  return ssmodel_exchange_clamp_time(ex, ssmodel_exchange_now(ex));
}

// ===========================================================================
// Batches, marks and the day reset

void ssmodel_batch_begin(ss_exchange* ex) {
  if (ex && !(ex->flags & kExBatch)) ex->flags |= kExBatch;
}

void ssmodel_batch_end(ss_exchange* ex) {
  if (!ex) return;
  ex->flags &= ~kExBatch;
  sstrack_update();
}

void ssmodel_mark_all_exchanges(void) {
  for (ss_exchange* ex : M.ex)
    if (ex) ex->flags |= kExMarked;
  ssnotify_record_global(kGlobalMarked);
}

namespace {

// Day records: the seven days before the cut-off go; the rest forget that
// their events were asked for.
void reset_days(instr* in, ss_time cutoff) {
  if (cutoff)
    for (int32_t d = 1; d <= kResetDays; d++) ssevent_remove_day(in, sstime_sub_days(cutoff, d));
  for (ss_day* day = in->days.head; day; day = day->next) day->flags &= ~kDayEventsRequested;
}

void reset_stock(ss_stock* s, int32_t mode, ss_time cutoff) {
  uint32_t request = 0;
  if (mode == 0) request = ssmodel_all_requested() ? kInRequestBits : kStockDayRequests;
  s->flags = (s->flags & ~kInRequestBits) | request;
  s->bid = s->offer = s->close = s->open = s->high = s->low = s->last = 0;
  s->volume = s->value = 0;
  s->change = s->change_pct = 0;
  s->disp_price = 0;
  s->disp_change = s->disp_change_pct = 0;
  s->disp_volume = s->disp_value = 0;
  s->quote_basis = 0;
  s->movement = 0;
  ssmodel_free_depth(s);
  ssmodel_free_depth_breaks(s);
  ssmodel_free_trades(s);  // the trade count too
  ssevent_free_events(s);
  if (ssmodel_extended()) sspriority_clear(s);
  ssmodel_publish(s->current.prev, nullptr);
  ssmodel_publish(s->current.next, nullptr);
  for (auto& r : s->rank) {
    ssmodel_publish(r.prev, nullptr);
    ssmodel_publish(r.next, nullptr);
  }
  s->speed = -1;
  // The stream that follows a reset tells this stock's prices from 0 again,
  // as it does for a stock it adds; a reference left from before the reset
  // would misread every relative price of the replay.
  s->price_ref = 0;
  for (int i = 0; i < 3; i++) {
    s->vcmp_volume[i] = 0;
    s->vcmp_diff[i] = 0;
    s->vcmp_pct[i] = 0;
  }
  s->flags &= ~(kInHistory | kInNewsBits | kInCurrent);
  growbuf_shrink(&s->scratch);
  reset_days(s, cutoff);
}

void reset_index(ss_index* x, int32_t mode, ss_time cutoff) {
  if (mode == 0 && !ssmodel_all_requested())
    x->flags |= kIndexDayRequest;
  else
    x->flags &= ~kIndexDayRequest;
  x->base = x->open = x->high = x->low = x->value = 0;
  x->change = x->change_pct = 0;
  x->movement = 0;
  ssmodel_free_index_ticks(x);
  ssevent_free_events(x);
  ssmodel_publish(x->cur_prev, nullptr);
  ssmodel_publish(x->cur_next, nullptr);
  x->speed = -1;
  x->flags &= ~(kInHistory | kInCurrent);
  growbuf_shrink(&x->scratch);
  reset_days(x, cutoff);
}

}  // namespace

void ssmodel_reset_exchange(ss_exchange* ex, ss_time date, int32_t mode) {
  if (!ex) return;
  ss_time cutoff = 0;
  if (date) {
    char text[kSstimeDateLen];
    log(LOG_INFO, kSrc, "reset %s %s", ex->name, sstime_format_date_into(text, date));
    cutoff = sstime_add_months(date & ~kSstimeSecondsMask, -1);
    ssmodel_set_date(ex, date);
  }

  sstrack_reset_exchange(ex);
  ssvcmp_reset_exchange(ex);
  fast_reset_queue(ex);  // takes the depth and events first when it is on

  log(LOG_INFO, kSrc, "reset %s stocks", ex->name);
  for (uint64_t i = 0; i < ex->stocks.count; i++) reset_stock(table_record<ss_stock>(&ex->stocks, i), mode, cutoff);

  log(LOG_INFO, kSrc, "reset %s indices", ex->name);
  for (uint64_t i = 0; i < ex->indices.count; i++)
    reset_index(table_record<ss_index>(&ex->indices, i), mode, cutoff);

  log(LOG_INFO, kSrc, "reset %s issuers", ex->name);
  for (uint64_t i = 0; i < ex->issuers.count; i++) {
    ss_issuer* is = table_record<ss_issuer>(&ex->issuers, i);
    ssevent_free_events(is);
    is->flags &= ~(kInNewsBits | kInCurrent);
    ssmodel_recompute_news_flags(is);
  }

  // The stocks' and indices' own links were cleared above; a reader walking
  // one of these lists meanwhile just came to an early end.
  ex->state = 0;
  ex->speed_count = 0;
  ex->index_speed_count = 0;
  dl_detach(ex->current);
  for (auto& r : ex->rank) dl_detach(r);
  dl_detach(ex->current_indices);
  memset(ex->resume_code, 0, sizeof ex->resume_code);
  ex->resume_number = 0;
  ex->resume_counter = 0;

  log(LOG_INFO, kSrc, "reset %s news", ex->name);
  if (cutoff) cut_before(ex->news, cutoff, free_chain<ss_exchange_news>);
  for (ss_exchange_news* e = ex->news.tail; e && e->time >= ex->date; e = e->prev) {
    ss_issuer* is = ssmodel_find_issuer(ex, e->code);
    if (is) ssmodel_recompute_news_flags(is);
  }

  log(LOG_INFO, kSrc, "reset %s cache", ex->name);
  sscache_trim_hourly();
}

void ssmodel_reset_exchange_keep_date(ss_exchange* ex, ss_time date) { ssmodel_reset_exchange(ex, date, 0); }

void ssmodel_reset_all(int32_t mode) {
  for (ss_exchange* ex : M.ex)
    if (ex) ssmodel_reset_exchange(ex, ex->date, mode);
  ssnotify_record_global(kGlobalReset);
}

void ssmodel_clear_speeds(void) {
  for (ss_exchange* ex : M.ex) {
    if (!ex) continue;
    for (uint64_t i = 0; i < ex->stocks.count; i++) table_record<ss_stock>(&ex->stocks, i)->speed = -1;
    for (uint64_t i = 0; i < ex->indices.count; i++) table_record<ss_index>(&ex->indices, i)->speed = -1;
    ex->speed_count = 0;
    ex->index_speed_count = 0;
  }
}

int ssmodel_fast_reset_free(void) { return fast_reset_free(); }
