// The feed registry: every news feed the terminal knows, on one of four lists
// (registered, temporary, dead for undo, and the kludge list of feeds deleted
// while their download ran, kept to shutdown so a late data call never meets
// freed memory). A 100 ms poll starts the downloads of watched feeds whose
// period has run out and finishes those that completed; feeds that share a
// URL share one download and its items. Everything runs on the UI thread but
// the data handler, which appends under the registry's lock and only to the
// download whose generation it was started with.
#include "rss/rss.h"

#include <cstring>
#include <vector>

#include "config/autosave.h"
#include "config/config.h"
#include "dalloc.h"
#include "lib/ids.h"
#include "lib/timer.h"
#include "log.h"
#include "plat.h"
#include "pool.h"
#include "rss/html2txt.h"
#include "rss/parse.h"
#include "ssclient.h"

static const char kSrc[] = "rss";
constexpr int kFeedsPerPage = 10;
constexpr int kWatchersPerPage = 10;
constexpr int32_t kBufSize = 65536;
constexpr int64_t kPollMs = 100;

constexpr uint8_t kUnlinking = 1;
constexpr uint8_t kNotifying = 2;
constexpr uint8_t kDeletePending = 4;

struct feed_list {
  rss_feed* first;
  rss_feed* last;
  int32_t count;
};

static const rss_client kRealClient = {ssclient_request_http, ssclient_cancel_http, ssio_state_get_progress};

static struct {
  feed_list reg, temp, dead, kludge;
  int32_t last_id;
  int32_t timer;
  rss_feed* cursor;
  char display[kRssNameLen];
  pool feeds, watchers;
  plat_slot lock;  // the download buffers and generations, against the io thread
  bool ready;
  // Feed records were kept at a shutdown (a download still pointed at them):
  // the feed pool and the lock stay for the life of the process.
  bool kept;
  rss_client client;
  ss_time (*now)(void);
} S = {{}, {}, {}, {}, 0, -1, nullptr, {}, {}, {}, -1, false, false, kRealClient, sstime_now};

void rss_set_client(const rss_client* client) { S.client = client ? *client : kRealClient; }
void rss_set_clock(ss_time (*now)(void)) { S.now = now ? now : sstime_now; }

static const char* cut(const char* s) { return rss_log_text(s); }

// Copies at most n - 1 bytes, never ending inside a UTF-8 sequence.
static void copy_cut(char* dst, const char* src, size_t n) {
  size_t len = strnlen(src, n - 1);
  while (len > 0 && len < strlen(src) && ((unsigned char)src[len] & 0xC0) == 0x80) len--;
  memcpy(dst, src, len);
  dst[len] = 0;
}

static void list_append(feed_list* l, rss_feed* f) {
  f->next = nullptr;
  f->prev = l->last;
  if (l->last) l->last->next = f;
  else l->first = f;
  l->last = f;
  l->count++;
}

static void list_insert_before(feed_list* l, rss_feed* f, rss_feed* before) {
  if (!before) return list_append(l, f);
  f->next = before;
  f->prev = before->prev;
  if (before->prev) before->prev->next = f;
  else l->first = f;
  before->prev = f;
  l->count++;
}

static bool list_holds(const feed_list* l, const rss_feed* f) {
  for (rss_feed* p = l->first; p; p = p->next)
    if (p == f) return true;
  return false;
}

static void list_remove(feed_list* l, rss_feed* f) {
  if (f->prev) f->prev->next = f->next;
  else l->first = f->next;
  if (f->next) f->next->prev = f->prev;
  else l->last = f->prev;
  f->prev = f->next = nullptr;
  l->count--;
  if (S.cursor == f) S.cursor = nullptr;
}

// Takes the feed off the first of the lists that holds it; the list or null.
static feed_list* take_off(rss_feed* f, feed_list* const* order, int n) {
  for (int i = 0; i < n; i++)
    if (list_holds(order[i], f)) {
      list_remove(order[i], f);
      return order[i];
    }
  return nullptr;
}

static void renumber(void) {
  int32_t i = 0;
  for (rss_feed* f = S.reg.first; f; f = f->next) f->position = i++;
}

static rss_feed* at_index(const feed_list* l, int32_t index) {
  rss_feed* f = l->first;
  for (int32_t i = 0; f && i < index; i++) f = f->next;
  return f;
}

static void notify(rss_feed* f, int event) {
  // Callbacks may unwatch (themselves or others): call each owner seen at the
  // start that is still watching, and delete a temporary feed left without
  // watchers only after the last call.
  std::vector<void*> owners;
  for (rss_watcher* w = f->first_watcher; w; w = w->next) owners.push_back(w->owner);
  uint8_t outer = f->flags & kNotifying;
  f->flags |= kNotifying;
  for (void* o : owners)
    for (rss_watcher* w = f->first_watcher; w; w = w->next)
      if (w->owner == o) {
        w->callback(f, event, w->owner, w->user, w->user2);
        break;
      }
  if (!outer) {
    f->flags &= (uint8_t)~kNotifying;
    if (f->flags & kDeletePending) {
      f->flags &= (uint8_t)~kDeletePending;
      if (!f->watcher_count && f->id == 0) rss_feed_delete(f);
    }
  }
}

static uint32_t clamp_period(uint32_t p) { return p < kRssMinPeriod ? kRssMinPeriod : p > kRssMaxPeriod ? kRssMaxPeriod : p; }

// Lifecycle --------------------------------------------------------------------

static int poll_timer(void*, uint32_t, int64_t, float) {
  rss_poll();
  return 1;
}

int rss_init(void) {
  if (S.ready) return 0;
  S.reg = S.temp = S.dead = S.kludge = feed_list{};
  S.last_id = 0;
  S.cursor = nullptr;
  if (!S.kept && pool_init(&S.feeds, kFeedsPerPage, sizeof(rss_feed)) != 0) return -1;
  if (pool_init(&S.watchers, kWatchersPerPage, sizeof(rss_watcher)) != 0) return -1;
  if (S.lock < 0) S.lock = plat_mutex_create();
  if (S.lock < 0) return -1;
  S.timer = timer_start(kPollMs, poll_timer, nullptr, 0);
  if (S.timer < 0) return -1;
  if (rss_parse_init() != 0 || html2txt_init() != 0) return -1;
  S.ready = true;
  return 0;
}

void rss_shutdown(void) {
  if (!S.ready) return;
  if (S.timer >= 0) timer_stop(S.timer);
  S.timer = -1;
  while (S.dead.first) rss_feed_restore(S.dead.first);
  // A feed still watched now has a watcher whose owner may be gone already:
  // its watchers are dropped without a call, so that the feed is deleted (and
  // its download cancelled) like any other, never freed under a running one.
  for (feed_list* l : {&S.reg, &S.temp})
    for (rss_feed* f = l->first; f; f = f->next) {
      if (!f->watcher_count) continue;
      log(LOG_WARN, kSrc, "%s still watched at shutdown", cut(rss_feed_display_name(f)));
      while (rss_watcher* w = f->first_watcher) {
        f->first_watcher = w->next;
        pool_free(&S.watchers, w);
      }
      f->last_watcher = nullptr;
      f->watcher_count = 0;
      f->active = 0;
    }
  while (S.reg.first && rss_feed_delete(S.reg.first) == 0) {}
  while (S.temp.first && rss_feed_delete(S.temp.first) == 0) {}
  int kept = S.kludge.count;
  while (rss_feed* f = S.kludge.first) {
    list_remove(&S.kludge, f);
    rss_str_free(f->url);
    growbuf_free(&f->text);
    growbuf_free(&f->download);
    f->url = nullptr;
  }
  rss_parse_shutdown();
  html2txt_shutdown();
  pool_destroy(&S.watchers);
  // A cancellation reaches the io thread later, through the client's queue:
  // until then (or until the client stops) the io thread may still call the
  // data handler of a cancelled download and write its progress record,
  // which lives in the feed. When any was cancelled, the feed records and the
  // lock stay, so that the call finds request -1 and keeps nothing, and the
  // progress write lands in a live record. The pages are the cost; records
  // kept once stay through later starts and shutdowns.
  if (kept || S.kept) {
    if (kept) log(LOG_INFO, kSrc, "keeping %d cancelled feed records", kept);
    S.kept = true;
  } else {
    pool_destroy(&S.feeds);
    plat_mutex_destroy(S.lock);
    S.lock = -1;
  }
  S.ready = false;
}

rss_feed* rss_feed_create(int32_t id, const char* url, uint32_t period) {
  rss_feed* f = (rss_feed*)pool_alloc(&S.feeds);
  if (!f) {
    log(LOG_ERROR, kSrc, "can't alloc feed");
    return nullptr;
  }
  memset((void*)f, 0, sizeof *f);
  new (&f->request) std::atomic<int32_t>(-1);
  if (url) {
    f->url = rss_strdup(url);
    if (!f->url) {
      log(LOG_ERROR, kSrc, "can't dup feed url");
      pool_free(&S.feeds, f);
      return nullptr;
    }
  }
  f->id = id;
  f->period = clamp_period(period);
  f->position = -1;
  if (growbuf_init(&f->text, kBufSize, kBufSize) != 0 || growbuf_init(&f->download, kBufSize, kBufSize) != 0) {
    rss_str_free(f->url);
    pool_free(&S.feeds, f);
    return nullptr;
  }
  return f;
}

rss_feed* rss_feed_create_registered(const char* url, uint32_t period, int32_t id) {
  if (id < 1) {
    id = ids_next(S.last_id, [](int32_t i) { return rss_feed_find(i) != nullptr; });
    if (id < 0) {
      log(LOG_ERROR, kSrc, "no free feed id");
      return nullptr;
    }
  } else if (rss_feed_find(id)) {
    log(LOG_ERROR, kSrc, "feed id %d in use", id);
    return nullptr;
  }
  rss_feed* f = rss_feed_create(id, url, period);
  if (!f) return nullptr;
  if (id > S.last_id) S.last_id = id;
  f->position = S.reg.count;
  list_append(&S.reg, f);
  return f;
}

rss_feed* rss_feed_create_temp(const char* url, uint32_t period) {
  rss_feed* f = rss_feed_create(0, url, period);
  if (f) list_append(&S.temp, f);
  return f;
}

void rss_feed_register(rss_feed* f) {
  if (f->id > 0) {
    log(LOG_WARN, kSrc, "f %d is already registered?", f->id);
    return;
  }
  const int32_t id = ids_next(S.last_id, [](int32_t i) { return rss_feed_find(i) != nullptr; });
  if (id < 0) {
    log(LOG_ERROR, kSrc, "no free feed id");
    return;
  }
  feed_list* const order[] = {&S.temp, &S.dead, &S.kludge};
  take_off(f, order, 3);
  if (id > S.last_id) S.last_id = id;
  f->id = id;
  f->position = S.reg.count;
  list_append(&S.reg, f);
  config_set_dirty(2);
}

static void rss_feed_unlink(rss_feed* f) {
  if (f->flags & kUnlinking) return;
  f->flags |= kUnlinking;
  notify(f, 1);
  bool tmp = f->id == 0;
  feed_list* const tmp_order[] = {&S.temp, &S.reg, &S.dead, &S.kludge};
  feed_list* const reg_order[] = {&S.reg, &S.temp, &S.dead, &S.kludge};
  feed_list* from = take_off(f, tmp ? tmp_order : reg_order, 4);
  if (!from) log(LOG_WARN, kSrc, tmp ? "tmp feed is not on any list" : "reg feed is not on any list");
  else if (tmp && from == &S.reg) log(LOG_WARN, kSrc, "tmp feed was on reg list");
  else if (from == &S.dead) log(LOG_WARN, kSrc, tmp ? "tmp feed was on dead list" : "reg feed was on dead list");
  else if (from == &S.kludge) log(LOG_WARN, kSrc, tmp ? "tmp feed was on kludge list" : "reg feed was on kludge list");
  else if (!tmp && from == &S.temp) log(LOG_WARN, kSrc, "reg feed was on tmp list");
  if (from == &S.reg) renumber();
  while (rss_watcher* w = f->first_watcher) {
    f->first_watcher = w->next;
    pool_free(&S.watchers, w);
  }
  f->last_watcher = nullptr;
  f->watcher_count = 0;
  f->active = 0;
  f->flags &= (uint8_t)~kUnlinking;
  if (f->id > 0) config_set_dirty(2);
}

int rss_feed_delete(rss_feed* f) {
  if (f->watcher_count) {
    log(LOG_ERROR, kSrc, "can't delete feed %s because people are watching", cut(rss_feed_display_name(f)));
    return -1;
  }
  bool running = f->request.load() != -1;
  if (running) {
    log(LOG_WARN, kSrc, "cancelling %s download", cut(f->url));
    S.client.cancel(f->request.load());
    plat_lock_guard lock(S.lock);
    f->request.exchange(-1);
  }
  rss_feed_unlink(f);
  rss_items_free(f);
  rss_str_free(f->title);
  rss_str_free(f->link);
  rss_str_free(f->description);
  f->title = f->link = f->description = nullptr;
  if (running) {
    // The record and its buffers stay until shutdown: a late data call finds
    // request -1 and an old generation, and appends nothing.
    list_append(&S.kludge, f);
    return 0;
  }
  rss_str_free(f->url);
  growbuf_free(&f->text);
  growbuf_free(&f->download);
  pool_free(&S.feeds, f);
  return 0;
}

void rss_feed_release(rss_feed* f) {
  if (f->flags & kUnlinking) return;
  rss_feed_unlink(f);
  list_append(&S.dead, f);
}

void rss_feed_restore(rss_feed* f) {
  feed_list* const order[] = {&S.reg, &S.temp, &S.dead, &S.kludge};
  take_off(f, order, 4);
  if (f->id != 0) {
    list_insert_before(&S.reg, f, f->position >= 0 ? at_index(&S.reg, f->position) : nullptr);
    renumber();
    if (f->id > 0) config_set_dirty(2);
  } else {
    f->position = -1;
    list_append(&S.temp, f);
  }
}

void rss_feed_relink(rss_feed* f) { rss_feed_restore(f); }

void rss_feed_move(int32_t from, int32_t to) {
  if (to > S.reg.count - 1) to = S.reg.count - 1;
  if (to < 0) to = 0;
  if (to == from) return;
  rss_feed* f = at_index(&S.reg, from);
  if (!f || f->position != from) return;
  list_remove(&S.reg, f);
  list_insert_before(&S.reg, f, at_index(&S.reg, to));
  renumber();
  config_set_dirty(1);
}

int32_t rss_feed_count(void) { return S.reg.count; }
rss_feed* rss_feed_find(int32_t id) {
  for (rss_feed* f = S.reg.first; f; f = f->next)
    if (f->id == id) return f;
  return nullptr;
}
int32_t rss_feed_id_at(int32_t position) {
  rss_feed* f = position >= 0 ? at_index(&S.reg, position) : nullptr;
  return f ? f->id : -1;
}
rss_feed* rss_feed_iter_begin(void) {
  S.cursor = S.reg.first;
  return rss_feed_iter_next();
}
rss_feed* rss_feed_iter_next(void) {
  rss_feed* f = S.cursor;
  if (f) S.cursor = f->next;
  return f;
}
int32_t rss_feed_id(const rss_feed* f) { return f->id; }
bool rss_feed_is_registered(const rss_feed* f) { return f->id > 0; }
bool rss_feed_is_unregistered(const rss_feed* f) { return f->id == 0; }

// Fields -----------------------------------------------------------------------

const char* rss_feed_name(const rss_feed* f) { return f->name; }
bool rss_feed_has_name(const rss_feed* f) { return f->name[0] != 0; }

static void name_changed(rss_feed* f) {
  notify(f, 2);
  if (f->id > 0) config_set_dirty(2);
}

void rss_feed_set_name(rss_feed* f, const char* text) {
  char next[kRssNameLen];
  copy_cut(next, text ? text : "", sizeof next);
  if (strcmp(next, f->name) == 0) return;
  memcpy(f->name, next, sizeof next);
  name_changed(f);
}

bool rss_name_is_unique(const char* text) {
  if (!text || !text[0]) return false;
  for (rss_feed* f = S.reg.first; f; f = f->next)
    if (strcmp(f->name, text) == 0) return false;
  return true;
}

const char* rss_feed_title(const rss_feed* f) { return f->title; }
bool rss_feed_has_title(const rss_feed* f) { return f->title && f->title[0]; }

int rss_feed_set_title(rss_feed* f, const char* text) {
  char* t = rss_strdup(text ? text : "");
  if (!t) {
    log(LOG_ERROR, kSrc, "can't dup rss title");
    return -1;
  }
  rss_str_free(f->title);
  f->title = t;
  return 0;
}

const char* rss_feed_display_name(const rss_feed* f) {
  if (f->name[0]) return f->name;
  if (!rss_feed_has_title(f)) return "RSS Feed";
  const char* t = f->title;
  if (strlen(t) < (size_t)kRssNameLen) return t;
  memcpy(S.display, t, kRssNameLen);
  int end = -1;
  if (t[31] == ' ') end = 31;
  else
    for (int i = 30; i >= 1; i--)
      if (t[i] == ' ') {
        end = i;
        break;
      }
  if (end > 0) S.display[end] = 0;
  else copy_cut(S.display, t, kRssNameLen);  // one long word: its first 31 bytes
  return S.display;
}

const char* rss_feed_url(const rss_feed* f) { return f->url; }
bool rss_feed_has_url(const rss_feed* f) { return f->url && f->url[0]; }
uint32_t rss_feed_period(const rss_feed* f) { return f->period; }
const char* rss_feed_failure(const rss_feed* f) { return f->failure; }

static bool same_url(const rss_feed* a, const rss_feed* b) {
  return a != b && a->url && b->url && strcmp(a->url, b->url) == 0;
}

int rss_feed_set_url(rss_feed* f, const char* url) {
  if (f->url && url && strcmp(f->url, url) == 0) return 0;
  char* u = nullptr;
  if (url) {
    u = rss_strdup(url);
    if (!u) {
      log(LOG_ERROR, kSrc, "can't dup feed url");
      return -1;
    }
  }
  rss_str_free(f->url);
  f->url = u;
  f->last_request = f->last_success = 0;
  for (feed_list* l : {&S.reg, &S.temp})
    for (rss_feed* o = l->first; o; o = o->next)
      if (same_url(o, f)) {
        if (o->last_request > f->last_request) f->last_request = o->last_request;
        if (o->last_success > f->last_success) f->last_success = o->last_success;
      }
  if (f->id <= 0) {
    f->name[0] = 0;
    rss_str_free(f->title);
    rss_str_free(f->description);
    f->title = f->description = nullptr;
  }
  return 0;
}

void rss_feed_set_period(rss_feed* f, uint32_t seconds) {
  if (seconds < kRssMinPeriod) return;
  seconds = clamp_period(seconds);
  if (seconds == f->period) return;
  f->period = seconds;
  notify(f, 2);
}

// Watching ---------------------------------------------------------------------

static rss_watcher* find_watcher(rss_feed* f, void* owner) {
  for (rss_watcher* w = f->first_watcher; w; w = w->next)
    if (w->owner == owner) return w;
  return nullptr;
}

static void recompute_active(rss_feed* f) {
  f->active = 0;
  for (rss_watcher* w = f->first_watcher; w; w = w->next)
    if (w->active) f->active = 1;
}

int rss_feed_watch(rss_feed* f, rss_watch_fn callback, void* owner, uintptr_t user, uint32_t user2) {
  rss_watcher* w = (rss_watcher*)pool_alloc(&S.watchers);
  if (!w) {
    log(LOG_ERROR, kSrc, "can't alloc feed watcher");
    return -1;
  }
  *w = rss_watcher{callback, owner, user, user2, 0, f->last_watcher, nullptr};
  if (f->last_watcher) f->last_watcher->next = w;
  else f->first_watcher = w;
  f->last_watcher = w;
  f->watcher_count++;
  return 0;
}

int rss_feed_unwatch(rss_feed* f, void* owner) {
  rss_watcher* w = find_watcher(f, owner);
  if (!w) {
    if (f->flags & kUnlinking) return 0;
    log(LOG_WARN, kSrc, "can't find watch owner %p for feed %s", owner, cut(rss_feed_display_name(f)));
    return -1;
  }
  w->active = 0;
  if (w->prev) w->prev->next = w->next;
  else f->first_watcher = w->next;
  if (w->next) w->next->prev = w->prev;
  else f->last_watcher = w->prev;
  f->watcher_count--;
  pool_free(&S.watchers, w);
  recompute_active(f);
  if (!f->watcher_count && f->id == 0 && !(f->flags & kUnlinking)) {
    if (f->flags & kNotifying) f->flags |= kDeletePending;
    else rss_feed_delete(f);
  }
  return 0;
}

// Takes the state of another feed with the same URL.
static void take_state(rss_feed* f, const rss_feed* from) {
  if (strcmp(f->name, from->name) != 0) {
    memcpy(f->name, from->name, sizeof f->name);
    name_changed(f);
  }
  if (from->title) rss_feed_set_title(f, from->title);
  f->last_request = from->last_request;
  f->last_success = from->last_success;
  f->period = from->period;
  rss_items_copy(f, from);
}

static rss_feed* other_with_url(const rss_feed* f) {
  for (feed_list* l : {&S.reg, &S.temp})
    for (rss_feed* o = l->first; o; o = o->next)
      if (same_url(o, f)) return o;
  return nullptr;
}

static int start_download(rss_feed* f);

int rss_feed_set_watch_active(rss_feed* f, void* owner, uint32_t active) {
  rss_watcher* w = find_watcher(f, owner);
  if (!w) {
    log(LOG_WARN, kSrc, "can't find watch owner %p for feed %s", owner, cut(rss_feed_display_name(f)));
    return -1;
  }
  w->active = active ? 1 : 0;
  if (!active) {
    recompute_active(f);
    return 0;
  }
  f->active = 1;
  if (f->first_item || !rss_feed_has_url(f)) return 0;
  if (f->request.load() != -1) {
    log(LOG_WARN, kSrc, "already updating %s", cut(f->url));
    return 0;
  }
  if (rss_feed* o = other_with_url(f)) {
    take_state(f, o);
    return 0;
  }
  return start_download(f);
}

int rss_feed_activate(rss_feed* f, void* owner) { return rss_feed_set_watch_active(f, owner, 1); }
int rss_feed_deactivate(rss_feed* f, void* owner) { return rss_feed_set_watch_active(f, owner, 0); }

void rss_feed_refresh(rss_feed* f) {
  if (f->request.load() != -1) return;
  f->last_request = 0;
  if (S.timer >= 0) timer_advance(S.timer);
}

// Downloads --------------------------------------------------------------------

int32_t rss_data_handler(const uint8_t* data, int32_t length, void* context, uint32_t argument) {
  rss_feed* f = (rss_feed*)context;
  plat_lock_guard lock(S.lock);
  if (f->request.load() == -1 || argument != f->generation) {
    log(LOG_WARN, kSrc, "ignoring data on removed feed");
    return length;
  }
  if (length <= 0) return length;
  // A reply announced past the cap (the progress total, 0 when the reply
  // gave no length) is refused at its first bytes, not after the cap's worth
  // of them has come in. The io-state lock is taken inside the registry's,
  // never the other way round.
  ssio_progress p;
  S.client.get_progress(&p, &f->progress);
  if (f->download.len + (int64_t)length > kRssMaxDownload || (int64_t)p.total > kRssMaxDownload) {
    f->overflow = 1;
    return -1;
  }
  if (growbuf_append(&f->download, data, (uint32_t)length) != 0) return -1;
  return length;
}

static int start_download(rss_feed* f) {
  if (!rss_feed_has_url(f)) return 0;
  if (f->request.load() != -1) {
    log(LOG_WARN, kSrc, "already updating %s", cut(f->url));
    return -1;
  }
  log(LOG_INFO, kSrc, "reload %s", cut(f->url));
  uint32_t generation;
  {
    plat_lock_guard lock(S.lock);
    growbuf_reset(&f->text);
    growbuf_reset(&f->download);
    f->overflow = 0;
    generation = ++f->generation;
    f->progress = ssio_progress{};
  }
  int32_t id = S.client.request(f->url, rss_data_handler, f, generation, &f->progress);
  if (id < 0) {
    log(LOG_ERROR, kSrc, "can't request %s", cut(f->url));
    snprintf(f->failure, sizeof f->failure, "can't request");
    return -1;
  }
  f->request.exchange(id);
  f->last_request = S.now();
  for (rss_feed* o = f->next; o; o = o->next)
    if (same_url(o, f)) o->last_request = f->last_request;
  return 0;
}

static void fail(rss_feed* f, const char* reason) {
  snprintf(f->failure, sizeof f->failure, "%s", reason);
}

static void finish_download(rss_feed* f, ss_time now) {
  rss_feed old{};
  {
    plat_lock_guard lock(S.lock);
    f->request.exchange(-1);
    growbuf_reset(&f->text);
    int rc = growbuf_copy(&f->text, &f->download);
    growbuf_reset(&f->download);
    if (rc != 0 || growbuf_append(&f->text, "", 1) != 0) {
      log(LOG_ERROR, kSrc, "can't alloc extra space for rss feed");
      return fail(f, "out of memory");
    }
  }
  old.first_item = f->first_item, old.last_item = f->last_item, old.item_count = f->item_count;
  f->first_item = f->last_item = nullptr;
  f->item_count = 0;
  if (rss_parse(f, (char*)f->text.data) != 0) {
    log(LOG_ERROR, kSrc, "can't decode %s rss", cut(f->url));
    // The old items come back; the partial ones go.
    rss_items_free(f);
    f->first_item = old.first_item, f->last_item = old.last_item, f->item_count = old.item_count;
    return fail(f, "can't decode");
  }
  rss_items_free(&old);
  f->failure[0] = 0;
  if (!f->name[0] && f->title && strcmp(f->title, f->name) != 0) {
    copy_cut(f->name, f->title, sizeof f->name);
    if (f->name[0]) name_changed(f);
  }
  f->last_success = now;
  std::vector<rss_feed*> sharing;
  for (feed_list* l : {&S.reg, &S.temp})
    for (rss_feed* o = l->first; o; o = o->next)
      if (same_url(o, f)) sharing.push_back(o);
  for (rss_feed* o : sharing) take_state(o, f);
  notify(f, 0);
  for (rss_feed* o : sharing) notify(o, 0);
}

static bool due(const rss_feed* f, ss_time now) {
  if (!f->last_request) return true;
  int32_t age = sstime_diff_seconds(now, f->last_request);
  return age < 0 || (uint32_t)age >= f->period;
}

static void poll_feed(rss_feed* f, ss_time now) {
  if (!f->active) return;
  int32_t req = f->request.load();
  if (req == -1) {
    if (due(f, now)) start_download(f);
    return;
  }
  ssio_progress p;
  S.client.get_progress(&p, &f->progress);
  if (p.phase == 6) {
    log(LOG_ERROR, kSrc, "failed to reload %s", cut(f->url));
    plat_lock_guard lock(S.lock);
    f->request.exchange(-1);
    fail(f, f->overflow ? "too large" : "download failed");
  } else if (p.phase == 5) {
    bool overflow;
    {
      plat_lock_guard lock(S.lock);
      overflow = f->overflow;
      if (overflow) f->request.exchange(-1);
    }
    if (overflow) {
      log(LOG_ERROR, kSrc, "failed to reload %s", cut(f->url));
      return fail(f, "too large");
    }
    finish_download(f, now);
  }
}

void rss_poll(void) {
  ss_time now = S.now();
  // Watchers told by a finished download may delete temporary feeds, so the
  // walk collects the feeds first and checks each is still listed.
  std::vector<rss_feed*> feeds;
  for (feed_list* l : {&S.reg, &S.temp})
    for (rss_feed* f = l->first; f; f = f->next) feeds.push_back(f);
  for (rss_feed* f : feeds)
    if (list_holds(&S.reg, f) || list_holds(&S.temp, f)) poll_feed(f, now);
}

// Configuration ----------------------------------------------------------------

void rss_config_save(void) {
  for (rss_feed* f = S.reg.first; f; f = f->next) {
    config_printf("rss_feed %d", f->id);
    config_out_push("rss_feed");
    if (f->url) config_printf("url %s", f->url);
    if (f->name[0]) config_printf("name %s", f->name);
    if (rss_feed_has_title(f)) config_printf("title %s", f->title);
    config_printf("period %d", (int)f->period);
    config_out_pop();
  }
}

int rss_config_load(void) {
  int n = 0;
  if (!config_enter("rss_feed")) return 0;
  while (config_next()) {
    int32_t id = config_arg_int(0);
    const char* url = config_get_string("url");
    int32_t period = config_get_int("period");
    rss_feed* f = rss_feed_create_registered(url, period > 0 ? (uint32_t)period : 0, id);
    if (!f) continue;
    if (const char* name = config_get_string("name")) copy_cut(f->name, name, sizeof f->name);
    if (const char* title = config_get_string("title")) rss_feed_set_title(f, title);
    n++;
  }
  config_leave();
  return n;
}
