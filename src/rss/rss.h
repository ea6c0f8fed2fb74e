// News feeds: the registry of RSS and Atom feeds, their downloads over the
// client's HTTP side requests, and the watchers (feed windows) told of each
// change. Everything but the download's data handler runs on the
// user-interface thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "growbuf.h"
#include "ssio-state.h"
#include "sstime.h"

struct rss_item {
  char* title;  // owned texts or null
  char* link;
  char* text;
  ss_time date;  // 0 when absent or unreadable
  rss_item* prev;
  rss_item* next;
};

struct rss_feed;
// event 0: items replaced, 1: the feed is going away, 2: name or period changed.
typedef void (*rss_watch_fn)(rss_feed* feed, int event, void* owner, uintptr_t user, uint32_t user2);

struct rss_watcher {
  rss_watch_fn callback;
  void* owner;
  uintptr_t user;
  uint32_t user2;
  uint32_t active;
  rss_watcher* prev;
  rss_watcher* next;
};

constexpr int kRssNameLen = 32;
constexpr uint32_t kRssMinPeriod = 10;
constexpr uint32_t kRssMaxPeriod = 86400;  // a day
constexpr int32_t kRssMaxDownload = 8 << 20;

struct rss_feed {
  char name[kRssNameLen];
  char* title;
  char* link;
  char* description;
  char* url;
  uint32_t period;
  int32_t id;        // 0 temporary, above 0 registered
  int32_t position;  // index in the registered list, -1 otherwise
  ss_time last_request;
  ss_time last_success;
  uint32_t item_count;
  rss_item* first_item;
  rss_item* last_item;
  uint32_t watcher_count;
  rss_watcher* first_watcher;
  rss_watcher* last_watcher;
  uint32_t active;
  std::atomic<int32_t> request;  // -1 while idle
  ssio_progress progress;
  growbuf text;
  growbuf download;
  rss_feed* prev;
  rss_feed* next;
  uint8_t flags;  // bit 0: being unlinked
  // Generation of the running download: the data handler's argument, so a
  // late piece of an old request never lands in a new one.
  uint32_t generation;
  uint8_t overflow;  // the running download passed the size cap
  // The reason of the last failure ("" after a success).
  char failure[64];
};

int rss_init(void);  // 0 / -1
void rss_shutdown(void);

rss_feed* rss_feed_create(int32_t id, const char* url, uint32_t period);
rss_feed* rss_feed_create_registered(const char* url, uint32_t period, int32_t id);
rss_feed* rss_feed_create_temp(const char* url, uint32_t period);
void rss_feed_register(rss_feed* feed);
int rss_feed_delete(rss_feed* feed);
void rss_feed_release(rss_feed* feed);
void rss_feed_restore(rss_feed* feed);
void rss_feed_relink(rss_feed* feed);  // the same as rss_feed_restore
void rss_feed_move(int32_t from, int32_t to);

int32_t rss_feed_count(void);
rss_feed* rss_feed_find(int32_t id);
int32_t rss_feed_id_at(int32_t position);
rss_feed* rss_feed_iter_begin(void);
rss_feed* rss_feed_iter_next(void);
int32_t rss_feed_id(const rss_feed* feed);
bool rss_feed_is_registered(const rss_feed* feed);
bool rss_feed_is_unregistered(const rss_feed* feed);

const char* rss_feed_name(const rss_feed* feed);
bool rss_feed_has_name(const rss_feed* feed);
void rss_feed_set_name(rss_feed* feed, const char* text);
bool rss_name_is_unique(const char* text);
const char* rss_feed_title(const rss_feed* feed);
bool rss_feed_has_title(const rss_feed* feed);
int rss_feed_set_title(rss_feed* feed, const char* text);
// The name, else the title cut to fit 31 characters, else "RSS Feed". Valid
// until the next call.
const char* rss_feed_display_name(const rss_feed* feed);
const char* rss_feed_url(const rss_feed* feed);
bool rss_feed_has_url(const rss_feed* feed);
int rss_feed_set_url(rss_feed* feed, const char* url);
uint32_t rss_feed_period(const rss_feed* feed);
void rss_feed_set_period(rss_feed* feed, uint32_t seconds);
// The reason of the last failed reload, "" when the last one succeeded.
const char* rss_feed_failure(const rss_feed* feed);

int rss_feed_watch(rss_feed* feed, rss_watch_fn callback, void* owner, uintptr_t user, uint32_t user2);
int rss_feed_unwatch(rss_feed* feed, void* owner);
int rss_feed_set_watch_active(rss_feed* feed, void* owner, uint32_t active);
int rss_feed_activate(rss_feed* feed, void* owner);
int rss_feed_deactivate(rss_feed* feed, void* owner);
void rss_feed_refresh(rss_feed* feed);

// One pass of the poll timer (every 100 ms while the registry runs).
void rss_poll(void);

// The registered feeds in the configuration: blocks "rss_feed <id>" holding
// "url", "name" (when set), "title" (when set) and "period". Save writes them
// to the configuration output; load reads the loaded configuration tree and
// creates the feeds, returning how many it created.
void rss_config_save(void);
int rss_config_load(void);

// Test seams: the HTTP side requests and the packed clock. Null restores the
// market-data client's functions and sstime_now.
struct rss_client {
  int32_t (*request)(const char* url, int32_t (*handler)(const uint8_t*, int32_t, void*, uint32_t), void* context,
                     uint32_t argument, ssio_progress* progress);
  int (*cancel)(int32_t id);
  void (*get_progress)(ssio_progress* out, const ssio_progress* progress);
};
void rss_set_client(const rss_client* client);
void rss_set_clock(ss_time (*now)(void));
// The data handler the downloads use (exposed for the tests of late calls).
int32_t rss_data_handler(const uint8_t* data, int32_t length, void* context, uint32_t argument);
