// Watchlists: user-named, ordered lists of instruments kept by hand, global
// to the application, numbered by id and kept in one ordered list (the order
// of the menus). Watchers learn of every change through callbacks; a watcher
// must unwatch inside the callback that announces the deletion (event 3).
// User-interface thread only.
#pragma once
#include <cstdint>

struct instr;
struct wlist;

// Watcher events.
constexpr int kWlistAdded = 0;
constexpr int kWlistRemoved = 1;
constexpr int kWlistRenamed = 2;
constexpr int kWlistDeleted = 3;

constexpr int kWlistNameSize = 32;  // 31 characters and the terminator
constexpr int32_t kWlistGrowth = 32;
constexpr uint32_t kWlistDeleting = 0x1;

typedef void (*wlist_watch_fn)(wlist* wl, int event, instr* in, void* owner, void* arg, uint32_t n);

struct wlist_watcher {
  wlist_watch_fn fn;
  void* owner;
  void* arg;
  uint32_t n;
  wlist_watcher* prev;
  wlist_watcher* next;
};

struct wlist {
  int32_t id;
  char name[kWlistNameSize];
  int32_t count;
  int32_t capacity;
  instr** items;
  int32_t watcher_count;
  wlist_watcher* first_watcher;
  wlist_watcher* last_watcher;
  wlist* prev;
  wlist* next;
  uint32_t position;
  uint32_t flags;
};

int wlist_init(void);  // 0 / -1
// Deletes every watchlist (watched ones are reported and left) and the pools.
void wlist_fini(void);

// Null when the id is taken. A name clashing with existing names gets a
// " (n)" suffix one above the largest in use. Appended at the end.
wlist* wlist_create(const char* name, int32_t id);
// Unlinks (event 3), then frees unless watchers remain (the record then
// survives, unlinked).
void wlist_delete(wlist* wl);
void wlist_unlink(wlist* wl);
void wlist_relink(wlist* wl);  // back at its kept position
int wlist_is_in_use(const wlist* wl);

int wlist_watch(wlist* wl, wlist_watch_fn fn, void* owner, void* arg, uint32_t n);
int wlist_unwatch(wlist* wl, void* owner);
int wlist_is_watched_by(const wlist* wl, const void* owner);

int32_t wlist_total(void);
wlist* wlist_find(int32_t id);
// One global cursor over the list, in list order.
wlist* wlist_iter_begin(void);
wlist* wlist_iter_next(void);
int32_t wlist_id(const wlist* wl);
const char* wlist_name(const wlist* wl);
uint32_t wlist_position(const wlist* wl);
int32_t wlist_count(const wlist* wl);
int32_t wlist_id_at(uint32_t position);  // -1 when none
void wlist_move(uint32_t from, uint32_t to);
void wlist_rename(wlist* wl, const char* name);

// One global cursor over the items of one watchlist.
instr* wlist_item_begin(wlist* wl);
instr* wlist_item_next(void);
instr* wlist_item_at(const wlist* wl, int32_t i);  // null out of range

int wlist_add_item(wlist* wl, instr* in);
int wlist_insert_before(wlist* wl, instr* in, instr* anchor);
int wlist_insert_after(wlist* wl, instr* in, instr* anchor);
int wlist_insert_at(wlist* wl, instr* in, int32_t index);
int wlist_remove(wlist* wl, instr* in);
int32_t wlist_index_of(const wlist* wl, const instr* in);
// Stocks and indices: the very instrument is held. Issuers: a stock of the
// issuer (same exchange, issuer code) is held.
int wlist_contains(const wlist* wl, const instr* in);

// The naming rule shared with scans: `name` (or `default_name`) cut before a
// " (digit" suffix, numbered one above the largest number among the names
// next_name yields that cut to the same base; unchanged without a clash.
// `out` holds kWlistNameSize characters.
void wlist_unique_name(char* out, const char* name, const char* default_name,
                       const char* (*next_name)(void* cursor), void* cursor);

// Configuration: "watchlist %d %s" with "watchlist.instr %I" lines, in list
// order. Loading creates each with its id and appends its instruments.
void wlist_save(void);
int wlist_load(void);  // watchlists made
