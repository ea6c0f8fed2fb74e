// Deferred calls: a free, or the return of an item to its pool, runs a set
// number of seconds after it was asked for, so a reader that walks the same
// memory without a lock is safe for that long. The queue is one list ordered by
// due time; runs of more than 20 equal requests (same function, kind, extra
// arguments and due second) are packed into a run record of up to 1000 first
// arguments, so dropping thousands of records costs a few todos. There is no
// lock here: callers queue and tick under the lock of the data they free.
#include "lazyfree.h"

#include <atomic>

#include "log.h"
#include "publish.h"
#include "plat.h"
#include "pool.h"

static const char kSrc[] = "src/lazyfree";

constexpr uint32_t kDefaultDelay = 5;   // seconds, until lazyfree_set_delay
constexpr int32_t kTodosPerPage = 10000;
constexpr int32_t kRunsPerPage = 1000;
constexpr int32_t kRunMax = 1000;       // first arguments in one run
constexpr int32_t kPackFrom = 20;       // equal-run counter that makes a run worth packing

namespace {

struct todo {
  void* fn;
  void* a;
  uint32_t kind;  // 0: fn(a), 1: fn(a, b), 2: fn(a, b, c)
  void* b;
  void* c;
  int64_t due;  // seconds on plat_seconds()'s clock
  todo* older;
  todo* newer;
};

struct run {
  void* fn;
  uint32_t kind;
  void* b;
  void* c;
  int32_t count;
  void* args[kRunMax];  // oldest first
};

}  // namespace

static struct {
  bool initialised;
  int32_t enabled;
  uint32_t delay = kDefaultDelay;
  todo* oldest;
  todo* newest;
  int64_t count;
  int32_t equal_run;  // requests in a row equal to the newest todo, less one
  pool todos;
  pool runs;
} S;

namespace {

void call(void* fn, uint32_t kind, void* a, void* b, void* c) {
  switch (kind) {
    case 0:
      reinterpret_cast<lazyfree_fn0>(fn)(a);
      break;
    case 1:
      reinterpret_cast<lazyfree_fn1>(fn)(a, b);
      break;
    default:
      reinterpret_cast<lazyfree_fn2>(fn)(a, b, c);
      break;
  }
}

void run_run(void* p) {
  run* r = static_cast<run*>(p);
  for (int32_t i = 0; i < r->count; i++) call(r->fn, r->kind, r->args[i], r->b, r->c);
  pool_free(&S.runs, r);
}

bool same_request(const todo* t, void* fn, uint32_t kind, void* b, void* c, int64_t due) {
  return t->fn == fn && t->kind == kind && t->b == b && t->c == c && t->due == due;
}

// Links a todo whose fields are all set as the newest. The link is a release
// store, so whoever follows it sees a complete todo.
void link_newest(todo* t) {
  t->newer = nullptr;
  t->older = S.newest;
  if (S.newest)
    publish_link(S.newest->newer, t);
  else
    publish_link(S.oldest, t);
  publish_link(S.newest, t);
  S.count++;
}

todo* unlink_oldest() {
  todo* t = S.oldest;
  S.oldest = t->newer;
  if (S.oldest)
    S.oldest->older = nullptr;
  else
    S.newest = nullptr;
  S.count--;
  return t;
}

// Packs the todos at the newest end that equal the newest one (at most
// kRunMax of them) into one run, queued as an internal todo.
void pack_run() {
  todo* newest = S.newest;
  if (!newest) return;
  run* r = static_cast<run*>(pool_alloc(&S.runs));
  if (!r) {
    log(LOG_ERROR, kSrc, "can't alloc run");
    return;
  }
  todo* first = newest;  // the oldest todo of the run
  int32_t n = 1;
  while (n < kRunMax && first->older &&
         same_request(first->older, newest->fn, newest->kind, newest->b, newest->c, newest->due)) {
    first = first->older;
    n++;
  }
  r->fn = newest->fn;
  r->kind = newest->kind;
  r->b = newest->b;
  r->c = newest->c;
  r->count = n;
  // Cut the run off the newest end, oldest first into the record.
  todo* keep = first->older;
  todo* t = first;
  for (int32_t i = 0; i < n; i++) {
    todo* next = t->newer;
    r->args[i] = t->a;
    pool_free(&S.todos, t);
    t = next;
  }
  S.count -= n;
  S.newest = keep;
  if (keep)
    keep->newer = nullptr;
  else
    S.oldest = nullptr;
  if (lazyfree_queue(reinterpret_cast<void*>(run_run), r, 0, nullptr, nullptr, 1) < 0) {
    log(LOG_ERROR, kSrc, "can't add run");
    pool_free(&S.runs, r);
  }
}

// Runs the due todos; `all` runs every todo whatever its due time.
void run_due(bool all) {
  int64_t now = plat_seconds();
  while (S.oldest && (all || S.oldest->due <= now)) {
    todo* t = unlink_oldest();
    call(t->fn, t->kind, t->a, t->b, t->c);
    pool_free(&S.todos, t);
  }
}

}  // namespace

int lazyfree_init(void) {
  if (S.initialised) {
    log(LOG_WARN, kSrc, "lazyfree already initialised");
    S.enabled = 1;
    return 0;
  }
  if (pool_init(&S.todos, kTodosPerPage, sizeof(todo)) < 0) {
    log(LOG_ERROR, kSrc, "can't make lazy todo pool");
    return -1;
  }
  if (pool_init(&S.runs, kRunsPerPage, sizeof(run)) < 0) {
    log(LOG_ERROR, kSrc, "can't make lazy run pool");
    pool_destroy(&S.todos);
    return -1;
  }
  S.oldest = S.newest = nullptr;
  S.count = 0;
  S.equal_run = 0;
  S.initialised = true;
  log(LOG_WARN, kSrc, "enabling lazyfree");
  S.enabled = 1;
  return 0;
}

void lazyfree_fini(void) {
  run_due(true);
  S.enabled = 0;
  S.equal_run = 0;
  if (S.initialised) {
    pool_destroy(&S.runs);
    pool_destroy(&S.todos);
    S.initialised = false;
  }
}

void lazyfree_set_enabled(int32_t on) {
  if (on) {
    if (!S.enabled) log(LOG_WARN, kSrc, "enabling lazyfree");
    S.enabled = 1;
    return;
  }
  if (S.enabled) log(LOG_WARN, kSrc, "disabling lazyfree");
  S.enabled = 0;
  run_due(false);  // later ones stay queued for the ticks to come
}

void lazyfree_set_delay(uint32_t seconds) { S.delay = seconds; }

int lazyfree_later(lazyfree_fn0 fn, void* a) {
  return lazyfree_queue(reinterpret_cast<void*>(fn), a, 0, nullptr, nullptr, 0);
}

static void return_to_pool(void* item, void* p) { pool_free(static_cast<pool*>(p), item); }

int lazyfree_pool_free(pool* p, void* item) {
  return lazyfree_queue(reinterpret_cast<void*>(return_to_pool), item, 1, p, nullptr, 0);
}

int lazyfree_queue(void* fn, void* a, uint32_t kind, void* b, void* c, int internal) {
  if (kind > 2) {
    log(LOG_ERROR, kSrc, "bad lazy todo kind %u", kind);
    return -1;
  }
  if (!S.enabled) {
    call(fn, kind, a, b, c);
    return 0;
  }
  int64_t due = plat_seconds() + S.delay;
  if (!internal) {
    if (S.newest && same_request(S.newest, fn, kind, b, c, due)) {
      S.equal_run++;
    } else {
      if (S.equal_run >= kPackFrom) pack_run();
      S.equal_run = 0;
    }
  }
  todo* t = static_cast<todo*>(pool_alloc(&S.todos));
  if (!t) {
    log(LOG_ERROR, kSrc, "can't alloc lazy todo");
    return -1;
  }
  t->fn = fn;
  t->a = a;
  t->kind = kind;
  t->b = b;
  t->c = c;
  t->due = due;
  link_newest(t);
  if (!internal && S.equal_run >= kRunMax) {
    pack_run();
    S.equal_run = 0;
  }
  return 0;
}

void lazyfree_tick(void) { run_due(false); }

int32_t lazyfree_queue_shape(int32_t* calls, int32_t max) {
  int32_t n = 0;
  for (const todo* t = S.oldest; t; t = t->newer, n++)
    if (n < max) calls[n] = t->fn == reinterpret_cast<void*>(run_run) ? static_cast<const run*>(t->a)->count : 1;
  return n;
}
