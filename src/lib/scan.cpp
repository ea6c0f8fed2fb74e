// Scans: the record with its clamped settings, the registered and temporary
// lists, watchers, the source-watchlist coupling, the refresh queue on the
// 100 ms scan timer and the configuration keys. The design point a reader
// needs first: every change only marks the scan and moves it to the head of
// the queue; the timer refreshes due scans (due = last refresh + 1000 ms)
// within a budget of a tenth of the queue per tick, so any number of changes
// in a second cost one evaluation. Evaluation itself is scan_refresh.cpp.
#include "lib/scan.h"

#include <cstring>
#include <vector>

#include "config/autosave.h"
#include "config/config.h"
#include "dalloc.h"
#include "lib/filter.h"
#include "lib/ids.h"
#include "lib/olist.h"
#include "lib/scan_refresh.h"
#include "lib/timer.h"
#include "lib/wlist.h"
#include "log.h"
#include "plat.h"
#include "pool.h"
#include "ssmodel.h"
#include "sstrack.h"

static const char kSrc[] = "src/lib/scan.c";
static const char kDefaultName[] = "New Smartlist";
constexpr int32_t kPoolGrowth = 10;

static struct {
  bool started;
  pool scans;
  pool watchers;
  scan* first;  // registered list
  scan* last;
  int32_t count;
  scan* temp_first;  // temporary list
  scan* temp_last;
  int32_t highest_id;
  scan* qfirst;  // refresh queue
  scan* qlast;
  int32_t qcount;
  scan* iter;
  scan* result_scan;
  int32_t result_index;
  int32_t timer;
  int default_exchange;
  bool loading;  // settings applied from the configuration ask for no save
} S;

static void source_event(wlist* wl, int event, instr* in, void* owner, void* arg, uint32_t n);

// Queue ------------------------------------------------------------------------

static void queue_remove(scan* s) {
  if (!s->queued) return;
  (s->qprev ? s->qprev->qnext : S.qfirst) = s->qnext;
  (s->qnext ? s->qnext->qprev : S.qlast) = s->qprev;
  s->qprev = s->qnext = nullptr;
  s->queued = false;
  S.qcount--;
}

// Joins (or moves within) the queue at its head or its tail.
static void queue_put(scan* s, bool head) {
  queue_remove(s);
  scan*& end = head ? S.qfirst : S.qlast;
  (head ? s->qnext : s->qprev) = end;
  (head ? s->qprev : s->qnext) = nullptr;
  if (end)
    (head ? end->qprev : end->qnext) = s;
  else
    (head ? S.qlast : S.qfirst) = s;
  end = s;
  s->queued = true;
  S.qcount++;
}
static void queue_push_head(scan* s) { queue_put(s, true); }
static void queue_push_tail(scan* s) { queue_put(s, false); }

int32_t scan_queue_count(void) { return S.qcount; }

void scan_changed(scan* s, uint32_t kind) {
  s->change_flags |= kind | kScanRequested;
  s->due = 0;
  if (!s->pinned && !s->frozen) queue_push_head(s);
  if ((kind & kScanChangedSettings) && s->registered && !S.loading) config_set_dirty(1);
}

void scan_timer_tick(int64_t now) {
  int32_t n = S.qcount;
  if (!n) return;
  int32_t budget = n / 10;
  // Visit each queued scan once, head first, moving it to the tail.
  std::vector<scan*> order;
  for (scan* s = S.qfirst; s; s = s->qnext) order.push_back(s);
  for (scan* s : order) {
    if (!s->queued) continue;  // left the queue during an earlier refresh
    queue_push_tail(s);
    if (now < s->due) continue;
    if (scan_refresh_now(s) > 0 && --budget < 0) break;
  }
}

static int scan_timer_cb(void* arg, uint32_t n, int64_t elapsed_ms, float elapsed_seconds) {
  (void)arg;
  (void)n;
  (void)elapsed_ms;
  (void)elapsed_seconds;
  scan_timer_tick(plat_ms());
  return 1;
}

// Life ---------------------------------------------------------------------------

static void set_defaults(scan* s) {
  *s = {};
  s->instr_filter = 1;
  s->index_filter = 7;
  s->order = 1;
  s->exchanges[S.default_exchange] = 1;
  s->min_price = s->max_price = kScanNoPrice;
  s->min_volume = s->max_volume = kScanNoU64;
  s->min_turnover = s->max_turnover = kScanNoU64;
  s->min_mktcap = s->max_mktcap = kScanNoU64;
  s->min_trades = s->max_trades = kScanNoTrades;
  s->vcmp = -1;
  s->limit = 100;
  s->tracks[0] = s->tracks[1] = {-1, 0, 0};
}

int scan_init(void) {
  if (S.started) return 0;
  if (wlist_init() < 0 || filter_init() < 0) return -1;
  S = {};
  S.timer = -1;
  if (pool_init(&S.scans, kPoolGrowth, sizeof(scan)) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc scan pool");
    return -1;
  }
  if (pool_init(&S.watchers, kPoolGrowth, sizeof(scan_watcher)) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc watcher pool");
    pool_destroy(&S.scans);
    return -1;
  }
  S.timer = timer_start(kScanTimerMs, scan_timer_cb, nullptr, 0);
  if (S.timer < 0) {
    log(LOG_ERROR, kSrc, "can't start scan timer");
    pool_destroy(&S.watchers);
    pool_destroy(&S.scans);
    return -1;
  }
  if (scan_refresh_init() < 0) {
    timer_stop(S.timer);
    pool_destroy(&S.watchers);
    pool_destroy(&S.scans);
    return -1;
  }
  S.started = true;
  return 0;
}

static void drop_watchers(scan* s) {
  while (scan_watcher* w = s->first_watcher) {
    s->first_watcher = w->next;
    pool_free(&S.watchers, w);
  }
  s->last_watcher = nullptr;
  s->watcher_count = 0;
}

void scan_fini(void) {
  if (!S.started) return;
  scan_refresh_fini();
  if (S.timer >= 0) timer_stop(S.timer);
  for (scan* lists[2] = {S.first, S.temp_first}; scan * head : lists) {
    for (scan* s = head; s;) {
      scan* next = s->next;
      drop_watchers(s);
      scan_delete(s);
      s = next;
    }
  }
  wlist_fini();
  filter_fini();
  pool_destroy(&S.watchers);
  pool_destroy(&S.scans);
  S = {};
}

scan* scan_alloc(void) {
  scan* s = static_cast<scan*>(pool_alloc(&S.scans));
  if (!s) {
    log(LOG_ERROR, kSrc, "can't alloc scan");
    return nullptr;
  }
  set_defaults(s);
  return s;
}

static void link_temp(scan* s) {
  s->registered = false;
  olist_insert_before(s, (scan*)nullptr, S.temp_first, S.temp_last);
}

static void link_registered(scan* s) {
  s->registered = true;
  s->position = (uint32_t)S.count;
  olist_insert_before(s, (scan*)nullptr, S.first, S.last);
  S.count++;
}

static const char* next_scan_name(void* cursor) {
  scan** c = static_cast<scan**>(cursor);
  if (!*c) return nullptr;
  const char* name = (*c)->name;
  *c = (*c)->next;
  return name;
}

scan* scan_create(const char* name, int32_t id) {
  if (id < 1) {
    id = ids_next(S.highest_id, [](int32_t i) { return scan_find(i) != nullptr; });
    if (id < 0) {
      log(LOG_ERROR, kSrc, "no free scan id");
      return nullptr;
    }
  } else if (scan_find(id)) {
    log(LOG_ERROR, kSrc, "scan id %d in use", id);
    return nullptr;
  }
  scan* s = scan_alloc();
  if (!s) return nullptr;
  if (id > S.highest_id) S.highest_id = id;
  s->id = id;
  scan* cursor = S.first;
  wlist_unique_name(s->name, name, kDefaultName, next_scan_name, &cursor);
  link_registered(s);
  return s;
}

scan* scan_new_temp(void) {
  scan* s = scan_alloc();
  if (s) link_temp(s);
  return s;
}

scan* scan_new_preset(const char* name) {
  scan* s = scan_new_temp();
  if (!s) return nullptr;
  snprintf(s->name, sizeof s->name, "%s", name ? name : "");
  s->fixed = 1;
  return s;
}

static bool in_list(const scan* s, const scan* head) {
  for (const scan* x = head; x; x = x->next)
    if (x == s) return true;
  return false;
}

void scan_register(scan* s) {
  if (s->registered) {
    log(LOG_WARN, kSrc, "scan %d is already registered?", s->id);
    return;
  }
  const int32_t id = ids_next(S.highest_id, [](int32_t i) { return scan_find(i) != nullptr; });
  if (id < 0) {
    log(LOG_ERROR, kSrc, "no free scan id");
    return;
  }
  if (in_list(s, S.temp_first)) olist_unlink(s, S.temp_first, S.temp_last);
  if (id > S.highest_id) S.highest_id = id;
  s->id = id;
  link_registered(s);
}

void scan_unlink(scan* s) {
  if (s->change_flags & kScanDeleting) return;
  s->change_flags |= kScanDeleting;
  queue_remove(s);
  if (s->registered) {
    if (in_list(s, S.first)) {
      olist_unlink(s, S.first, S.last);
      S.count--;
    } else {
      log(LOG_ERROR, kSrc, "registered scan %p not in list", (void*)s);
    }
  } else if (in_list(s, S.temp_first)) {
    olist_unlink(s, S.temp_first, S.temp_last);
  } else {
    log(LOG_ERROR, kSrc, "tmp scan %p not in list", (void*)s);
  }
  scan_notify(s, kScanDeleted, 0, nullptr);
  if (s->source && wlist_is_watched_by(s->source, s)) wlist_unwatch(s->source, s);
  s->change_flags &= ~kScanDeleting;
  if (s->registered) config_set_dirty(2);
}

void scan_relink(scan* s) {
  if (s->registered) {
    if (in_list(s, S.first)) return;
    olist_relink(s, S.first, S.last);
    S.count++;
    config_set_dirty(2);
  } else if (!in_list(s, S.temp_first)) {
    link_temp(s);
  }
  if (s->source && wlist_is_in_use(s->source) && !wlist_is_watched_by(s->source, s))
    wlist_watch(s->source, source_event, s, nullptr, 0);
}

int scan_delete(scan* s) {
  if (s->watcher_count) {
    log(LOG_ERROR, kSrc, "can't delete scan %s because people are watching", s->name);
    return -1;
  }
  scan_unlink(s);
  if (S.iter == s) S.iter = nullptr;
  if (S.result_scan == s) S.result_scan = nullptr;
  scan_release_tracks(s);
  if (s->results) dalloc_free(s->results);
  filter_free(s->group_filter);
  pool_free(&S.scans, s);
  return 0;
}

static void copy_fields(scan* dst, const scan* src) {
  dst->instr_filter = src->instr_filter;
  dst->index_filter = src->index_filter;
  dst->price_filter = src->price_filter;
  dst->time_filter = src->time_filter;
  dst->change_filter = src->change_filter;
  dst->order = src->order;
  dst->reversed = src->reversed;
  dst->pinned = src->pinned;
  memcpy(dst->exchanges, src->exchanges, sizeof dst->exchanges);
  dst->min_price = src->min_price;
  dst->max_price = src->max_price;
  dst->min_volume = src->min_volume;
  dst->max_volume = src->max_volume;
  dst->min_turnover = src->min_turnover;
  dst->max_turnover = src->max_turnover;
  dst->min_mktcap = src->min_mktcap;
  dst->max_mktcap = src->max_mktcap;
  dst->min_trades = src->min_trades;
  dst->max_trades = src->max_trades;
  dst->vcmp = src->vcmp;
  memcpy(dst->underlying, src->underlying, sizeof dst->underlying);
  memcpy(dst->keyword, src->keyword, sizeof dst->keyword);
  dst->limit = src->limit;
  dst->frozen = src->frozen;
  filter_free(dst->group_filter);
  dst->group_filter = src->group_filter ? filter_clone(src->group_filter) : nullptr;
  for (int i = 0; i < 2; i++)
    dst->tracks[i] = {-1, src->tracks[i].delta_seconds, src->tracks[i].fixed_point};
}

scan* scan_clone_ex(scan* s, int temporary, int reg) {
  scan* c;
  if (!temporary && (s->registered || reg)) {
    c = scan_create(s->name, 0);
  } else {
    c = scan_new_temp();
    if (c) memcpy(c->name, s->name, sizeof c->name);
  }
  if (!c) {
    log(LOG_ERROR, kSrc, "can't clone scan %s", s->name);
    return nullptr;
  }
  c->fixed = reg ? 0 : s->fixed;
  copy_fields(c, s);
  if (s->source) {
    c->source = s->source;
    if (wlist_is_in_use(s->source)) wlist_watch(s->source, source_event, c, nullptr, 0);
  }
  if (s->pinned || s->frozen) {
    for (int32_t i = 0; i < s->result_count; i++) scan_append_result(c, s->results[i]);
  }
  scan_track_resolve(c);
  c->change_flags |= kScanRequested;
  scan_refresh_now(c);
  return c;
}

scan* scan_clone(scan* s) { return scan_clone_ex(s, 0, 0); }
scan* scan_clone_temp(scan* s) { return scan_clone_ex(s, 1, 0); }

void scan_copy_settings(scan* dst, const scan* src) {
  if (!scan_watcher_count(dst)) scan_release_tracks(dst);
  memcpy(dst->name, src->name, sizeof dst->name);
  if (dst->source != src->source) scan_set_source(dst, src->source);
  copy_fields(dst, src);
  dst->fixed = src->fixed;
  scan_changed(dst, kScanFull | kScanChangedSettings);
}

// Lists ----------------------------------------------------------------------

int32_t scan_count(void) { return S.count; }

scan* scan_find(int32_t id) {
  for (scan* s = S.first; s; s = s->next)
    if (s->id == id) return s;
  return nullptr;
}

scan* scan_iter_begin(void) {
  S.iter = S.first;
  return scan_iter_next();
}

scan* scan_iter_next(void) {
  scan* s = S.iter;
  if (s) S.iter = s->next;
  return s;
}

int scan_name_is_free(const char* name) {
  if (!name || !name[0]) return 0;
  for (scan* s = S.first; s; s = s->next)
    if (strcmp(s->name, name) == 0) return 0;
  return 1;
}

int32_t scan_id(const scan* s) { return s->id; }
const char* scan_name(const scan* s) { return s->name; }
uint32_t scan_position(const scan* s) { return s->position; }

int32_t scan_id_at(uint32_t position) {
  for (scan* s = S.first; s; s = s->next)
    if (s->position == position) return s->id;
  return -1;
}

void scan_move(uint32_t from, uint32_t to) { olist_move(S.first, S.last, S.count, from, to); }

// Results --------------------------------------------------------------------

instr* scan_result_begin(scan* s) {
  S.result_scan = s;
  S.result_index = 0;
  return scan_result_next();
}

instr* scan_result_next(void) {
  scan* s = S.result_scan;
  if (!s || S.result_index >= s->result_count) return nullptr;
  return s->results[S.result_index++];
}

instr* scan_frozen_instr(const scan* s, int32_t i) {
  return i >= 0 && i < s->result_count ? s->results[i] : nullptr;
}

int32_t scan_shown_count(const scan* s) {
  return (int32_t)s->limit < s->matched ? (int32_t)s->limit : s->matched;
}

int scan_reserve_results(scan* s, int32_t n) {
  if (s->result_capacity >= n) return 0;
  int32_t cap = (int32_t)dalloc_round_up((uint32_t)n + 100, 64);
  if (cap <= 0 || (int64_t)cap * (int64_t)sizeof(instr*) > kDallocMax) {
    log(LOG_ERROR, kSrc, "can't realloc %s scan to %d items", s->name, n);
    s->result_count = 0;
    return -1;
  }
  s->results = static_cast<instr**>(dalloc_realloc(s->results, cap * (int32_t)sizeof(instr*)));
  s->result_capacity = cap;
  return 0;
}

int scan_pin_instr(scan* s, instr* in) {
  scan_notify(s, kScanCleared, 0, nullptr);
  s->result_count = 0;
  if (scan_reserve_results(s, 1) < 0) return -1;
  s->results[0] = in;
  s->result_count = 1;
  s->matched = 1;
  scan_notify(s, kScanInserted, 0, in);
  s->pinned = 1;
  queue_remove(s);
  return 0;
}

void scan_freeze(scan* s) {
  if (!s->frozen) {
    s->frozen = 1;
    queue_remove(s);
  } else {
    s->frozen = 0;
    s->change_flags |= kScanRequested;
    scan_refresh_now(s);
  }
}

int scan_is_frozen(const scan* s) { return s->frozen; }

// Refresh --------------------------------------------------------------------

int scan_refresh_now(scan* s) {
  if (s->pinned || s->frozen || !s->watcher_count) return 0;
  if (!(s->change_flags & kScanRequested) && !scan_watcher_count(s)) return 0;
  int rc;
  if (s->source) {
    if (scan_reserve_results(s, wlist_count(s->source)) < 0) return -1;
    rc = scan_refresh_wlist(s);
  } else {
    if (scan_reserve_results(s, (int32_t)s->limit) < 0) return -1;
    rc = scan_refresh(s, (s->change_flags & kScanFull) != 0);
  }
  if (rc < 0) return -1;
  if (s->change_flags & kScanChangedSettings) scan_notify(s, kScanSettings, 0, nullptr);
  s->change_flags = 0;
  s->due = plat_ms() + kScanRefreshMs;
  return 1;
}

// Parameters -----------------------------------------------------------------

template <class T>
static void store(scan* s, T& field, T value, uint32_t kind) {
  if (field == value) return;
  field = value;
  scan_changed(s, kind);
}

void scan_set_instr_filter(scan* s, uint32_t bits) {
  if (bits & kScanSensitive) bits |= kScanNews;
  store(s, s->instr_filter, bits, 4u);
}

void scan_change_instr_filter(scan* s, uint32_t bits, int on) {
  uint32_t v = s->instr_filter;
  if (on) {
    v |= bits;
  } else {
    v &= ~bits;
    if (bits & kScanNews) v &= ~kScanSensitive;
  }
  scan_set_instr_filter(s, v);
}

void scan_set_index_filter(scan* s, uint32_t v) { store(s, s->index_filter, v, 4u); }
void scan_set_price_filter(scan* s, uint32_t v) {
  if (v <= 8) store(s, s->price_filter, v, 4u);
}
void scan_set_time_filter(scan* s, uint32_t v) {
  if (v <= 9) store(s, s->time_filter, v, 4u);
}
void scan_set_change_filter(scan* s, uint32_t v) {
  if (v <= 4) store(s, s->change_filter, v, 4u);
}
void scan_set_order(scan* s, uint32_t v) {
  if (v < (uint32_t)kScanOrders) store(s, s->order, v, 6u);
}
void scan_set_reversed(scan* s, int on) { store(s, s->reversed, on ? 1 : 0, 6u); }

void scan_set_exchange(scan* s, int i, int on) {
  if (i < 0 || i >= kExchanges) return;
  store(s, s->exchanges[i], on ? 1 : 0, 6u);
}

void scan_clear_exchanges(scan* s) {
  for (int i = 0; i < kExchanges; i++) scan_set_exchange(s, i, 0);
}

void scan_set_all_exchanges(scan* s) {
  for (int i = 0; i < kExchanges; i++) scan_set_exchange(s, i, 1);
}

static uint32_t clamp_price(uint32_t v) {
  return v == kScanNoPrice ? v : v > kScanMaxPrice ? kScanMaxPrice : v;
}
static uint64_t clamp_value(uint64_t v) {
  return v == kScanNoU64 ? v : v > kScanMaxValue ? kScanMaxValue : v;
}
static int32_t clamp_trades(int32_t v) {
  return v == kScanNoTrades ? v : v < 0 ? 0 : v > kScanMaxTrades ? kScanMaxTrades : v;
}

void scan_set_min_price(scan* s, uint32_t v) { store(s, s->min_price, clamp_price(v), 6u); }
void scan_set_max_price(scan* s, uint32_t v) { store(s, s->max_price, clamp_price(v), 6u); }
void scan_set_min_volume(scan* s, uint64_t v) { store(s, s->min_volume, clamp_value(v), 6u); }
void scan_set_max_volume(scan* s, uint64_t v) { store(s, s->max_volume, clamp_value(v), 6u); }
void scan_set_min_turnover(scan* s, uint64_t v) { store(s, s->min_turnover, clamp_value(v), 6u); }
void scan_set_max_turnover(scan* s, uint64_t v) { store(s, s->max_turnover, clamp_value(v), 6u); }
void scan_set_min_mktcap(scan* s, uint64_t v) { store(s, s->min_mktcap, clamp_value(v), 6u); }
void scan_set_max_mktcap(scan* s, uint64_t v) { store(s, s->max_mktcap, clamp_value(v), 6u); }
void scan_set_min_trades(scan* s, int32_t v) { store(s, s->min_trades, clamp_trades(v), 6u); }
void scan_set_max_trades(scan* s, int32_t v) { store(s, s->max_trades, clamp_trades(v), 6u); }

int scan_set_vcmp(scan* s, int32_t v) {
  if (v < -1 || v > 2 || v == s->vcmp) return 0;
  s->vcmp = v;
  scan_changed(s, 14u);
  return 1;
}

static void set_text(scan* s, char* field, size_t size, const char* text) {
  char v[kScanNameSize] = {};
  if (text) snprintf(v, size, "%s", text);
  if (strcmp(field, v) == 0) return;
  memcpy(field, v, size);
  scan_changed(s, 6u);
}

void scan_set_underlying(scan* s, const char* code) {
  set_text(s, s->underlying, sizeof s->underlying, code);
}
void scan_set_keyword(scan* s, const char* text) { set_text(s, s->keyword, sizeof s->keyword, text); }

void scan_set_limit(scan* s, uint32_t v) {
  if (s->pinned) return;
  if (v < 1 || v > kScanMaxLimit) v = kScanMaxLimit;
  store(s, s->limit, v, 2u);
}

void scan_touch(scan* s) { scan_changed(s, 6u); }
void scan_set_fixed(scan* s, int on) { s->fixed = on ? 1 : 0; }

int scan_track_set(const scan* s, int i) {
  return i >= 0 && i < 2 && (s->tracks[i].delta_seconds || s->tracks[i].fixed_point);
}

int scan_set_track(scan* s, int i, uint32_t delta_seconds, ss_time fixed_point) {
  if (i < 0 || i > 1) return -1;
  scan_track& t = s->tracks[i];
  if (t.delta_seconds == delta_seconds && t.fixed_point == fixed_point) return 0;
  bool any_before = scan_track_set(s, 0) || scan_track_set(s, 1);
  sstrack_release_client(t.client);
  t = {-1, delta_seconds, fixed_point};
  if (any_before && scan_track_set(s, i)) t.client = sstrack_add_client(delta_seconds, fixed_point);
  scan_changed(s, 14u);
  return 0;
}

void scan_track_resolve(scan* s) {
  for (int i = 0; i < 2; i++)
    if (scan_track_set(s, i) && s->tracks[i].client < 0)
      s->tracks[i].client = sstrack_add_client(s->tracks[i].delta_seconds, s->tracks[i].fixed_point);
}

void scan_release_tracks(scan* s) {
  if (scan_watcher_count(s)) return;
  for (scan_track& t : s->tracks) {
    if (t.client >= 0) sstrack_release_client(t.client);
    t.client = -1;
  }
}

ss_time scan_track_time(const scan* s, int i, int exchange) {
  if (i < 0 || i > 1 || s->tracks[i].client < 0) return 0;
  return sstrack_client_time(s->tracks[i].client, exchange);
}

uint32_t scan_track_value(const scan* s, int i, const ss_stock* stock) {
  if (i < 0 || i > 1 || s->tracks[i].client < 0) return 0;
  return sstrack_client_value(stock, s->tracks[i].client);
}

uint32_t scan_track_value_index(const scan* s, int i, const ss_index* index) {
  if (i < 0 || i > 1 || s->tracks[i].client < 0) return 0;
  return sstrack_client_value(index, s->tracks[i].client);
}

filter* scan_filter(scan* s) {
  if (!s->group_filter) s->group_filter = filter_alloc();
  return s->group_filter;
}
filter* scan_filter_get(const scan* s) { return s->group_filter; }
int scan_has_filter(const scan* s) { return s->group_filter && !filter_is_empty(s->group_filter); }

void scan_set_prepare_hook(scan* s, scan_prepare_fn fn, void* a, void* b) {
  s->prepare = fn;
  s->prepare_a = a;
  s->prepare_b = b;
}
void scan_set_filter_hook(scan* s, scan_filter_fn fn, void* a, void* b) {
  s->filter_hook = fn;
  s->filter_a = a;
  s->filter_b = b;
}
void scan_set_comparator(scan* s, scan_compare_fn fn, void* a, void* b) {
  s->compare = fn;
  s->compare_a = a;
  s->compare_b = b;
}

// Source watchlist -----------------------------------------------------------

static void source_event(wlist* wl, int event, instr* in, void* owner, void* arg, uint32_t n) {
  (void)in;
  (void)arg;
  (void)n;
  scan* s = static_cast<scan*>(owner);
  switch (event) {
    case kWlistAdded:
    case kWlistRemoved:
      s->change_flags |= kScanRequested;
      scan_refresh_now(s);
      break;
    case kWlistRenamed:
      if (strcmp(s->name, wlist_name(wl)) != 0) {
        snprintf(s->name, sizeof s->name, "%s", wlist_name(wl));
        scan_notify(s, kScanRenamed, 0, nullptr);
      }
      break;
    case kWlistDeleted:
      if (s->source != wl) {
        log(LOG_ERROR, kSrc, "notified about different source?");
        break;
      }
      wlist_unwatch(wl, s);
      scan_notify(s, kScanDeleted, 0, nullptr);
      s->source = nullptr;
      break;
  }
}

void scan_set_source(scan* s, wlist* wl) {
  if (s->source && wlist_is_watched_by(s->source, s)) wlist_unwatch(s->source, s);
  s->source = wl;
  if (wl && wlist_is_in_use(wl)) {
    snprintf(s->name, sizeof s->name, "%s", wlist_name(wl));
    wlist_watch(wl, source_event, s, nullptr, 0);
  }
  if (wl && s->group_filter) {
    log(LOG_WARN, kSrc, "dropping group filter from watchlist scan");
    filter_free(s->group_filter);
    s->group_filter = nullptr;
  }
  scan_changed(s, 6u);
}

void scan_set_name(scan* s, const char* name) {
  if (!s->registered && s->source) wlist_rename(s->source, name);
  const char* v = name ? name : "";
  if (strncmp(s->name, v, kScanNameSize - 1) == 0) {
    if (s->registered) config_set_dirty(2);
    return;
  }
  snprintf(s->name, sizeof s->name, "%s", v);
  scan_notify(s, kScanRenamed, 0, nullptr);
  if (s->registered) config_set_dirty(2);
}

// Watchers -------------------------------------------------------------------

int scan_watch(scan* s, scan_watch_fn fn, void* owner, void* arg, uint32_t n) {
  scan_watcher* w = static_cast<scan_watcher*>(pool_alloc(&S.watchers));
  if (!w) {
    log(LOG_ERROR, kSrc, "can't alloc watcher");
    return -1;
  }
  *w = {fn, owner, arg, n, 1, nullptr, nullptr};
  olist_insert_before(w, (scan_watcher*)nullptr, s->first_watcher, s->last_watcher);
  s->watcher_count++;
  if (s->source && wlist_is_in_use(s->source) && !wlist_is_watched_by(s->source, s))
    wlist_watch(s->source, source_event, s, nullptr, 0);
  if (!s->pinned && !s->frozen) {
    s->change_flags |= kScanRequested;
    if (!s->queued) queue_push_head(s);
  }
  return 0;
}

static scan_watcher* find_watcher(const scan* s, const void* owner) {
  for (scan_watcher* w = s->first_watcher; w; w = w->next)
    if (w->owner == owner) return w;
  return nullptr;
}

int scan_unwatch(scan* s, void* owner) {
  scan_watcher* w = find_watcher(s, owner);
  if (!w) {
    if (s->change_flags & kScanDeleting) return 0;
    log(LOG_WARN, kSrc, "can't find watch owner %p for %s", owner, s->name);
    return -1;
  }
  olist_unlink(w, s->first_watcher, s->last_watcher);
  s->watcher_count--;
  pool_free(&S.watchers, w);
  if (!s->watcher_count) {
    queue_remove(s);
    if (!s->registered && !(s->change_flags & kScanDeleting)) scan_delete(s);
  }
  return 0;
}

static int set_enabled(scan* s, void* owner, int on) {
  scan_watcher* w = find_watcher(s, owner);
  if (!w) {
    log(LOG_WARN, kSrc, "can't find watch owner %p for %s", owner, s->name);
    return -1;
  }
  w->enabled = on;
  return 0;
}

int scan_watch_enable(scan* s, void* owner) { return set_enabled(s, owner, 1); }
int scan_watch_disable(scan* s, void* owner) { return set_enabled(s, owner, 0); }

int scan_is_watched_by(const scan* s, const void* owner) {
  scan_watcher* w = find_watcher(s, owner);
  return w ? w->enabled : 0;
}

int32_t scan_watcher_count(const scan* s) {
  int32_t n = 0;
  for (scan_watcher* w = s->first_watcher; w; w = w->next) n += w->enabled ? 1 : 0;
  return n;
}

// Watchers may unwatch (themselves or others) inside the callback; each is
// called only while still registered.
void scan_notify(scan* s, int event, int32_t index, instr* in) {
  if (!s->first_watcher) return;
  if (!s->first_watcher->next) {
    scan_watcher w = *s->first_watcher;
    w.fn(s, event, index, in, w.owner, w.arg, w.n);
    return;
  }
  std::vector<scan_watcher> snapshot;
  for (scan_watcher* w = s->first_watcher; w; w = w->next) snapshot.push_back(*w);
  for (const scan_watcher& w : snapshot) {
    scan_watcher* live = find_watcher(s, w.owner);
    if (live && live->fn == w.fn) w.fn(s, event, index, in, w.owner, w.arg, w.n);
  }
}

int scan_equal(const scan* a, const scan* b) {
  if (a->source != b->source || a->instr_filter != b->instr_filter ||
      a->index_filter != b->index_filter || a->price_filter != b->price_filter ||
      a->time_filter != b->time_filter || a->change_filter != b->change_filter ||
      a->order != b->order || a->reversed != b->reversed || a->pinned != b->pinned ||
      a->min_price != b->min_price || a->max_price != b->max_price ||
      a->min_volume != b->min_volume || a->max_volume != b->max_volume ||
      a->min_turnover != b->min_turnover || a->max_turnover != b->max_turnover ||
      a->min_mktcap != b->min_mktcap || a->max_mktcap != b->max_mktcap ||
      a->min_trades != b->min_trades || a->max_trades != b->max_trades || a->vcmp != b->vcmp ||
      strcmp(a->underlying, b->underlying) != 0 || strcmp(a->keyword, b->keyword) != 0)
    return 0;
  if (!a->group_filter || !b->group_filter) return !a->group_filter && !b->group_filter;
  return filter_equal(a->group_filter, b->group_filter);
}

// Configuration --------------------------------------------------------------

void scan_save(const scan* s) {
  if (s->source) config_printf("source %d", wlist_id(s->source));
  config_printf("instr_filter %x", s->instr_filter);
  config_printf("index_filter %x", s->index_filter);
  config_printf("price_filter %d", (int)s->price_filter);
  config_printf("time_filter %d", (int)s->time_filter);
  config_printf("change_filter %d", (int)s->change_filter);
  config_printf("order %d", (int)s->order);
  config_printf("reversed %b", s->reversed);
  if (s->underlying[0]) config_printf("underlying %s", s->underlying);
  if (s->keyword[0]) config_printf("keyword %s", s->keyword);
  config_printf("fixed %b", s->fixed);
  for (int i = 0; i < kExchanges; i++)
    if (s->exchanges[i]) config_printf("exchange %E", ssmodel_exchange(i));
  if (s->group_filter) {
    if (s->source) {
      log(LOG_WARN, kSrc, "not writing group filter for watchlist scan");
    } else {
      config_printf("group_filter");
      config_out_push("group_filter");
      filter_save(s->group_filter);
      config_out_pop();
    }
  }
  if (s->min_price != kScanNoPrice) config_printf("min_price %d", (int)s->min_price);
  if (s->max_price != kScanNoPrice) config_printf("max_price %d", (int)s->max_price);
  if (s->min_volume != kScanNoU64) config_printf("min_volume %Lu", s->min_volume);
  if (s->max_volume != kScanNoU64) config_printf("max_volume %Lu", s->max_volume);
  if (s->min_turnover != kScanNoU64) config_printf("min_turnover %Lu", s->min_turnover);
  if (s->max_turnover != kScanNoU64) config_printf("max_turnover %Lu", s->max_turnover);
  if (s->min_mktcap != kScanNoU64) config_printf("min_mktcap %Lu", s->min_mktcap);
  if (s->max_mktcap != kScanNoU64) config_printf("max_mktcap %Lu", s->max_mktcap);
  if (s->min_trades != kScanNoTrades) config_printf("min_trades %d", s->min_trades);
  if (s->max_trades != kScanNoTrades) config_printf("max_trades %d", s->max_trades);
  config_printf("vcmp %d", s->vcmp);
  config_printf("frozen %b", s->frozen);
  if (s->frozen) {
    config_out_push("frozen");
    for (int32_t i = 0; i < s->result_count; i++) config_printf("instr %I", s->results[i]);
    config_out_pop();
  }
  for (int i = 0; i < 2; i++) {
    int set = scan_track_set(s, i);
    config_printf("track %d %b", i, set);
    if (!set) continue;
    config_out_push("track");
    if (s->tracks[i].delta_seconds)
      config_printf("delta_seconds %d", (int)s->tracks[i].delta_seconds);
    else
      config_printf("fixed_point %S", s->tracks[i].fixed_point);
    config_out_pop();
  }
}

static void load_keys(scan* s);

// Applies the keys through the setters; loading is not a change the user
// made, so it asks for no save, and an unwatched scan stays out of the queue.
void scan_load(scan* s) {
  S.loading = true;
  load_keys(s);
  S.loading = false;
  if (!s->watcher_count) queue_remove(s);
}

static void load_keys(scan* s) {
  uint32_t bits = config_get_hex("instr_filter");
  if (config_found()) {
    bits &= ~kScanHeld;
    if (bits & kScanSensitive) bits |= kScanNews;
    scan_set_instr_filter(s, bits);
  }
  uint32_t v = config_get_hex("index_filter");
  if (config_found()) scan_set_index_filter(s, v);
  int32_t n = config_get_int("price_filter");
  if (config_found()) scan_set_price_filter(s, (uint32_t)n);
  n = config_get_int("time_filter");
  if (config_found()) scan_set_time_filter(s, (uint32_t)n);
  n = config_get_int("change_filter");
  if (config_found()) scan_set_change_filter(s, (uint32_t)n);
  n = config_get_int("order");
  if (config_found() && n >= 0 && n <= 19) scan_set_order(s, (uint32_t)n);
  scan_set_reversed(s, config_get_bool("reversed"));
  scan_set_underlying(s, config_get_string("underlying"));
  scan_set_keyword(s, config_get_string("keyword"));
  s->fixed = config_get_bool("fixed");
  int32_t source = config_get_int("source");
  if (config_found() && source > 0) {
    if (wlist* wl = wlist_find(source)) {
      scan_set_source(s, wl);
    } else {
      log(LOG_ERROR, kSrc, "can't set scan source to wlist %d", source);
      scan_set_order(s, 1);
    }
  }
  if (config_enter("group_filter")) {
    if (s->source) {
      log(LOG_WARN, kSrc, "not parsing group filter for watchlist scan");
    } else if (filter* f = scan_filter(s)) {
      filter_load(f);
    }
    config_leave();
  }
  scan_clear_exchanges(s);
  if (config_enter("exchange")) {
    while (config_next())
      if (ss_exchange* ex = config_arg_exchange(0)) scan_set_exchange(s, (int)ex->index, 1);
    config_leave();
  }
  n = config_get_int("min_price");
  if (config_found()) scan_set_min_price(s, (uint32_t)n);
  n = config_get_int("max_price");
  if (config_found()) scan_set_max_price(s, (uint32_t)n);
  struct {
    const char* key;
    void (*set)(scan*, uint64_t);
  } u64s[] = {{"min_volume", scan_set_min_volume},     {"max_volume", scan_set_max_volume},
              {"min_turnover", scan_set_min_turnover}, {"max_turnover", scan_set_max_turnover},
              {"min_mktcap", scan_set_min_mktcap},     {"max_mktcap", scan_set_max_mktcap}};
  for (auto& k : u64s) {
    uint64_t x = config_get_u64(k.key);
    if (config_found()) k.set(s, x);
  }
  n = config_get_int("min_trades");
  if (config_found()) scan_set_min_trades(s, n);
  n = config_get_int("max_trades");
  if (config_found()) scan_set_max_trades(s, n);
  n = config_get_int("vcmp");
  if (config_found()) scan_set_vcmp(s, n);
  if (config_get_bool("frozen")) {
    s->frozen = 1;
    queue_remove(s);
    s->result_count = 0;
    if (config_enter("frozen")) {
      if (config_enter("instr")) {
        while (config_next())
          if (instr* in = config_arg_instr(0)) scan_append_result(s, in);
        config_leave();
      }
      config_leave();
    }
    s->matched = s->result_count;
  }
  if (config_enter("track")) {
    while (config_next()) {
      int32_t i = config_arg_int(0);
      int set = config_arg_bool(1);
      if (!set || i < 0 || i > 1) continue;
      int32_t delta = config_get_int("delta_seconds");
      uint32_t fixed = config_get_timestamp("fixed_point");
      scan_set_track(s, i, delta < 0 ? 0 : (uint32_t)delta, fixed);
    }
    config_leave();
  }
}

void scan_save_all(void) {
  for (scan* s = S.first; s; s = s->next) {
    config_printf("scan %d %s", s->id, s->name);
    config_out_push("scan");
    scan_save(s);
    config_out_pop();
  }
}

int scan_load_all(void) {
  int made = 0;
  if (!config_enter("scan")) return 0;
  while (config_next()) {
    config_cell* c = config_base();
    const char* name = c->value_count > 1 ? config_arg_string(1) : "";
    scan* s = scan_create(name, config_arg_int(0));
    if (!s) continue;
    snprintf(s->name, sizeof s->name, "%s", name ? name : "");
    scan_load(s);
    made++;
  }
  config_leave();
  return made;
}
