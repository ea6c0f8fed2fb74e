// Deferred calls: a free, or the return of an item to its pool, runs a set
// number of seconds after it was asked for, so a reader that walks the same
// memory without a lock is safe for that long. The queue is ordered by due
// time and kept in blocks of todos, filled at the newest end and emptied at
// the oldest, so that a request costs a few stores rather than a record of
// its own; runs of more than 20 equal requests (same function, kind, extra
// arguments and due second) are packed into a run record of up to 1000 first
// arguments, so dropping thousands of records costs a few todos. There is no
// lock here: callers queue and tick under the lock of the data they free.
#include "lazyfree.h"

#include "log.h"
#include "plat.h"
#include "pool.h"

static const char kSrc[] = "src/lazyfree";

constexpr uint32_t kDefaultDelay = 5;   // seconds, until lazyfree_set_delay
constexpr int32_t kTodosPerBlock = 512;
constexpr int32_t kBlocksPerPage = 16;
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
};

// Every block but the newest is full from its first todo (the oldest block
// from S.first) to its end.
struct block {
  block* older;
  block* newer;
  todo t[kTodosPerBlock];
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
  block* oldest;   // null until the first todo
  block* newest;
  int32_t first;   // the oldest todo's place in `oldest`
  int32_t end;     // one past the newest todo's place in `newest`
  block* spare;    // the last block emptied, kept for the next one needed
  int64_t count;
  int32_t equal_run;  // requests in a row equal to the newest todo, less one
  pool blocks;
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

const todo* newest_todo() { return S.count ? &S.newest->t[S.end - 1] : nullptr; }

void release_block(block* b) {
  if (S.spare) pool_free(&S.blocks, S.spare);
  S.spare = b;
}

// A place for one more todo at the newest end; null (after a log line) when
// no block can be had.
todo* push_place() {
  if (!S.newest || S.end == kTodosPerBlock) {
    block* b = S.spare;
    S.spare = nullptr;
    if (!b) b = static_cast<block*>(pool_alloc(&S.blocks));
    if (!b) return nullptr;
    b->older = S.newest;
    b->newer = nullptr;
    if (S.newest)
      S.newest->newer = b;
    else
      S.oldest = b;
    S.newest = b;
    S.end = 0;
    if (S.oldest == b) S.first = 0;
  }
  S.count++;
  return &S.newest->t[S.end++];
}

// Forgets the oldest todo (which the caller has copied).
void pop_oldest() {
  S.count--;
  if (S.count == 0) {
    S.first = S.end = 0;  // the one block stays, empty
    return;
  }
  if (++S.first == kTodosPerBlock) {
    block* b = S.oldest;
    S.oldest = b->newer;
    S.oldest->older = nullptr;
    S.first = 0;
    release_block(b);
  }
}

// Forgets the newest todo.
void pop_newest() {
  S.count--;
  if (S.count == 0) {
    S.first = S.end = 0;
    return;
  }
  if (--S.end == 0) {
    block* b = S.newest;
    S.newest = b->older;
    S.newest->newer = nullptr;
    S.end = kTodosPerBlock;
    release_block(b);
  }
}

// Packs the todos at the newest end that equal the newest one (at most
// kRunMax of them) into one run, queued as an internal todo.
void pack_run() {
  const todo* newest = newest_todo();
  if (!newest) return;
  run* r = static_cast<run*>(pool_alloc(&S.runs));
  if (!r) {
    log(LOG_ERROR, kSrc, "can't alloc run");
    return;
  }
  r->fn = newest->fn;
  r->kind = newest->kind;
  r->b = newest->b;
  r->c = newest->c;
  const int64_t due = newest->due;
  // Count the run from the newest end back.
  int32_t n = 1;
  const block* b = S.newest;
  int32_t i = S.end - 1;
  while (n < kRunMax && n < S.count) {
    if (i == 0) {
      b = b->older;
      i = kTodosPerBlock;
    }
    if (!same_request(&b->t[--i], r->fn, r->kind, r->b, r->c, due)) break;
    n++;
  }
  // Cut it off the newest end, into the record oldest first.
  r->count = n;
  for (int32_t k = n - 1; k >= 0; k--) {
    r->args[k] = S.newest->t[S.end - 1].a;
    pop_newest();
  }
  if (lazyfree_queue(reinterpret_cast<void*>(run_run), r, 0, nullptr, nullptr, 1) < 0) {
    log(LOG_ERROR, kSrc, "can't add run");
    pool_free(&S.runs, r);
  }
}

// Runs the due todos; `all` runs every todo whatever its due time. A call
// may queue more: the todo is copied and forgotten before it runs.
void run_due(bool all) {
  int64_t now = plat_seconds();
  while (S.count && (all || S.oldest->t[S.first].due <= now)) {
    const todo t = S.oldest->t[S.first];
    pop_oldest();
    call(t.fn, t.kind, t.a, t.b, t.c);
  }
}

// Back to no blocks at all (their pool is about to be destroyed or made).
void forget_blocks() {
  S.oldest = S.newest = S.spare = nullptr;
  S.first = S.end = 0;
  S.count = 0;
  S.equal_run = 0;
}

}  // namespace

int lazyfree_init(void) {
  if (S.initialised) {
    log(LOG_WARN, kSrc, "lazyfree already initialised");
    S.enabled = 1;
    return 0;
  }
  if (pool_init(&S.blocks, kBlocksPerPage, sizeof(block)) < 0) {
    log(LOG_ERROR, kSrc, "can't make lazy todo pool");
    return -1;
  }
  if (pool_init(&S.runs, kRunsPerPage, sizeof(run)) < 0) {
    log(LOG_ERROR, kSrc, "can't make lazy run pool");
    pool_destroy(&S.blocks);
    return -1;
  }
  forget_blocks();
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
    pool_destroy(&S.blocks);
    forget_blocks();
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
    const todo* newest = newest_todo();
    if (newest && same_request(newest, fn, kind, b, c, due)) {
      S.equal_run++;
    } else {
      if (S.equal_run >= kPackFrom) pack_run();
      S.equal_run = 0;
    }
  }
  todo* t = push_place();
  if (!t) {
    log(LOG_ERROR, kSrc, "can't alloc lazy todo");
    return -1;
  }
  *t = todo{fn, a, kind, b, c, due};
  if (!internal && S.equal_run >= kRunMax) {
    pack_run();
    S.equal_run = 0;
  }
  return 0;
}

void lazyfree_tick(void) { run_due(false); }

int32_t lazyfree_queue_shape(int32_t* calls, int32_t max) {
  int32_t n = 0;
  for (const block* b = S.oldest; b && n < S.count; b = b->newer) {
    const int32_t from = b == S.oldest ? S.first : 0, to = b == S.newest ? S.end : kTodosPerBlock;
    for (int32_t i = from; i < to; i++, n++) {
      const todo* t = &b->t[i];
      if (n < max) calls[n] = t->fn == reinterpret_cast<void*>(run_run) ? static_cast<const run*>(t->a)->count : 1;
    }
  }
  return n;
}
