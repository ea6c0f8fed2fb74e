// Scans (smartlists): live, ordered selections of instruments, either every
// instrument of the chosen exchanges that passes the scan's filters, ordered
// and cut to a limit, or the items of one source watchlist. Registered scans
// (id > 0) are user objects kept in an ordered list and in the
// configuration; temporary scans (id 0) die with their last watcher. A
// change queues the scan on the 100 ms scan timer, which refreshes each
// queued scan at most once a second. User-interface thread only.
#pragma once
#include <cstdint>

#include "sstime.h"

struct instr;
struct ss_stock;
struct ss_index;
struct filter;
struct wlist;
struct scan;

// Watcher events.
constexpr int kScanInserted = 0;
constexpr int kScanMoved = 1;
constexpr int kScanRemoved = 2;
constexpr int kScanCleared = 3;
constexpr int kScanRenamed = 4;
constexpr int kScanDeleted = 6;
constexpr int kScanSettings = 7;

// instr_filter bits.
constexpr uint32_t kScanTraded = 0x1;
constexpr uint32_t kScanDerivatives = 0x2;
constexpr uint32_t kScanNews = 0x4;
constexpr uint32_t kScanSensitive = 0x8;
constexpr uint32_t kScanHeld = 0x10;
constexpr uint32_t kScanIndices = 0x20;
constexpr uint32_t kScanNoStocks = 0x40;
constexpr uint32_t kScanQuoted = 0x80;
constexpr uint32_t kScanAllVenues = 0x100;
constexpr uint32_t kScanEverything = 34;  // every class and filter test off

// change_flags bits.
constexpr uint32_t kScanDeleting = 0x1;
constexpr uint32_t kScanFull = 0x2;
constexpr uint32_t kScanChangedSettings = 0x4;
constexpr uint32_t kScanRequested = 0x8;

constexpr uint32_t kScanNoPrice = 0xFFFFFFFFu;
constexpr uint64_t kScanNoU64 = ~0ull;
constexpr int32_t kScanNoTrades = -1;
constexpr uint32_t kScanMaxPrice = 10000000;
constexpr uint64_t kScanMaxValue = 1000000000000ull;
constexpr int32_t kScanMaxTrades = 1000000;
constexpr uint32_t kScanMaxLimit = 500;
constexpr int kScanOrders = 20;
constexpr int kScanNameSize = 32;
constexpr int64_t kScanTimerMs = 100;
constexpr int64_t kScanRefreshMs = 1000;

typedef void (*scan_watch_fn)(scan* s, int event, int32_t index, instr* in, void* owner, void* arg,
                              uint32_t n);
typedef void (*scan_prepare_fn)(scan* s, void* a, void* b);
typedef int (*scan_filter_fn)(ss_stock* stock, void* a, void* b);
typedef int (*scan_compare_fn)(const instr* x, const instr* y, void* a, void* b);

struct scan_watcher {
  scan_watch_fn fn;
  void* owner;
  void* arg;
  uint32_t n;
  int enabled;
  scan_watcher* prev;
  scan_watcher* next;
};

struct scan_track {
  int32_t client;
  uint32_t delta_seconds;
  ss_time fixed_point;
};

struct scan {
  int32_t id;
  char name[kScanNameSize];
  wlist* source;
  uint32_t instr_filter;
  uint32_t index_filter;
  uint32_t price_filter;
  uint32_t time_filter;
  uint32_t change_filter;
  uint32_t order;
  int reversed;
  int pinned;
  int fixed;
  int exchanges[4];
  uint32_t min_price, max_price;
  uint64_t min_volume, max_volume;
  uint64_t min_turnover, max_turnover;
  uint64_t min_mktcap, max_mktcap;
  int32_t min_trades, max_trades;
  int32_t vcmp;
  filter* group_filter;
  char underlying[12];
  char keyword[32];
  uint32_t limit;
  int frozen;
  scan_track tracks[2];
  int32_t result_count;
  int32_t result_capacity;
  instr** results;
  int32_t matched;
  int32_t watcher_count;
  scan_watcher* first_watcher;
  scan_watcher* last_watcher;
  scan* prev;
  scan* next;
  uint32_t position;
  bool registered;
  bool queued;
  scan* qprev;
  scan* qnext;
  uint32_t change_flags;
  int64_t due;
  scan_prepare_fn prepare;
  void* prepare_a;
  void* prepare_b;
  scan_filter_fn filter_hook;
  void* filter_a;
  void* filter_b;
  scan_compare_fn compare;
  void* compare_a;
  void* compare_b;
};

// Life ---------------------------------------------------------------------
// Watchlists and filters first, pools, the 100 ms timer, the evaluator.
int scan_init(void);
void scan_fini(void);
scan* scan_alloc(void);  // defaults; not in any list
scan* scan_create(const char* name, int32_t id);  // registered; null when the id is taken
scan* scan_new_temp(void);
scan* scan_new_preset(const char* name);
void scan_register(scan* s);
int scan_delete(scan* s);  // -1 while watched
void scan_unlink(scan* s);
void scan_relink(scan* s);
scan* scan_clone_ex(scan* s, int temporary, int reg);
scan* scan_clone(scan* s);
scan* scan_clone_temp(scan* s);
void scan_copy_settings(scan* dst, const scan* src);

// The scan timer's work, given the clock's now (the timer calls it).
void scan_timer_tick(int64_t now);
int32_t scan_queue_count(void);
// 1 refreshed, 0 skipped, -1 failure.
int scan_refresh_now(scan* s);
void scan_changed(scan* s, uint32_t kind);

// Lists --------------------------------------------------------------------
int32_t scan_count(void);
scan* scan_find(int32_t id);
scan* scan_iter_begin(void);
scan* scan_iter_next(void);
int scan_name_is_free(const char* name);
int32_t scan_id(const scan* s);
const char* scan_name(const scan* s);
uint32_t scan_position(const scan* s);
int32_t scan_id_at(uint32_t position);
void scan_move(uint32_t from, uint32_t to);

// Results ------------------------------------------------------------------
instr* scan_result_begin(scan* s);
instr* scan_result_next(void);
instr* scan_frozen_instr(const scan* s, int32_t i);
int32_t scan_shown_count(const scan* s);
int scan_pin_instr(scan* s, instr* in);
void scan_freeze(scan* s);
int scan_is_frozen(const scan* s);
// Makes room for n results (capacity n + 100 rounded); -1 empties them.
int scan_reserve_results(scan* s, int32_t n);

// Parameters ---------------------------------------------------------------
void scan_set_instr_filter(scan* s, uint32_t bits);
void scan_change_instr_filter(scan* s, uint32_t bits, int on);
void scan_set_index_filter(scan* s, uint32_t v);
void scan_set_price_filter(scan* s, uint32_t v);
void scan_set_time_filter(scan* s, uint32_t v);
void scan_set_change_filter(scan* s, uint32_t v);
void scan_set_order(scan* s, uint32_t v);
void scan_set_reversed(scan* s, int on);
void scan_set_exchange(scan* s, int i, int on);
void scan_clear_exchanges(scan* s);
void scan_set_all_exchanges(scan* s);
void scan_set_min_price(scan* s, uint32_t v);
void scan_set_max_price(scan* s, uint32_t v);
void scan_set_min_volume(scan* s, uint64_t v);
void scan_set_max_volume(scan* s, uint64_t v);
void scan_set_min_turnover(scan* s, uint64_t v);
void scan_set_max_turnover(scan* s, uint64_t v);
void scan_set_min_mktcap(scan* s, uint64_t v);
void scan_set_max_mktcap(scan* s, uint64_t v);
void scan_set_min_trades(scan* s, int32_t v);
void scan_set_max_trades(scan* s, int32_t v);
int scan_set_vcmp(scan* s, int32_t v);  // 1 when changed
void scan_set_underlying(scan* s, const char* code);
void scan_set_keyword(scan* s, const char* text);
void scan_set_limit(scan* s, uint32_t v);
void scan_touch(scan* s);
int scan_set_track(scan* s, int i, uint32_t delta_seconds, ss_time fixed_point);
void scan_set_fixed(scan* s, int on);
void scan_set_source(scan* s, wlist* wl);
void scan_set_name(scan* s, const char* name);
filter* scan_filter(scan* s);  // made on first use
filter* scan_filter_get(const scan* s);
int scan_has_filter(const scan* s);
int scan_track_set(const scan* s, int i);
// Obtains clients for tracks that are set but unresolved (before evaluation).
void scan_track_resolve(scan* s);
void scan_release_tracks(scan* s);
ss_time scan_track_time(const scan* s, int i, int exchange);
uint32_t scan_track_value(const scan* s, int i, const ss_stock* stock);
uint32_t scan_track_value_index(const scan* s, int i, const ss_index* index);
void scan_set_prepare_hook(scan* s, scan_prepare_fn fn, void* a, void* b);
void scan_set_filter_hook(scan* s, scan_filter_fn fn, void* a, void* b);
void scan_set_comparator(scan* s, scan_compare_fn fn, void* a, void* b);

// Watchers -----------------------------------------------------------------
int scan_watch(scan* s, scan_watch_fn fn, void* owner, void* arg, uint32_t n);
int scan_unwatch(scan* s, void* owner);
int scan_watch_enable(scan* s, void* owner);
int scan_watch_disable(scan* s, void* owner);
int scan_is_watched_by(const scan* s, const void* owner);  // the enabled flag
int32_t scan_watcher_count(const scan* s);                 // enabled watchers
void scan_notify(scan* s, int event, int32_t index, instr* in);

int scan_equal(const scan* a, const scan* b);

// Configuration keys inside the owner's open block, in their fixed order.
void scan_save(const scan* s);
void scan_load(scan* s);
// All registered scans as "scan %d %s" blocks; loading registers each.
void scan_save_all(void);
int scan_load_all(void);
