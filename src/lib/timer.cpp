// Timers driven by the frame loop: a table of interval callbacks and one
// backstop run on every pass.
//
// A timer's id is its index in the table, and the lowest free slot is
// handed out first, so ids are small and reused. Callbacks may start and
// stop timers (the table may move as it grows), so timer_run re-reads the
// table and its used count after every call. Scanning every slot per pass is
// O(used); the table holds a few dozen timers, so a heap ordered by due time
// would cost more than it saves.
#include "lib/timer.h"

#include <cstring>

#include "dalloc.h"
#include "log.h"
#include "ui/gui.h"

static const char kSrc[] = "src/lib/timer";

constexpr int32_t kGrowth = 128;

struct timer {
  int64_t interval;
  timer_fn fn;  // null = free slot
  void *arg;
  uint32_t n;
  int64_t start;  // frame time of the first pass that saw the timer, 0 until then
  int64_t last;   // frame time of the last run (at creation: the time of the call)
};

static struct {
  timer *table;
  int32_t used;
  int32_t capacity;
  struct {
    timer_backstop_fn fn;
    void *arg;
    uint32_t n;
    int64_t start;
  } backstop;
} S;

int timer_init() {
  S.backstop = {nullptr, nullptr, 0, 0};
  return 0;
}

void timer_fini() {
  if (S.table) dalloc_free(S.table);
  S.table = nullptr;
  S.used = S.capacity = 0;
}

int32_t timer_used() { return S.used; }

int32_t timer_start(int64_t interval_ms, timer_fn fn, void *arg, uint32_t n) {
  if (!fn) {  // a slot without a callback is a free slot: it can't be a timer
    log(LOG_ERROR, kSrc, "timer without a callback");
    return -1;
  }
  int32_t id = 0;
  while (id < S.used && S.table[id].fn) id++;
  if (id == S.used) {
    if (S.used == S.capacity) {
      int32_t cap = S.capacity + kGrowth;
      auto *t = static_cast<timer *>(dalloc_realloc(S.table, cap * int32_t(sizeof(timer))));
      if (!t) {
        log(LOG_ERROR, kSrc, "can't alloc %d timers", cap);
        timer_fini();
        return -1;
      }
      memset(t + S.capacity, 0, sizeof(timer) * kGrowth);
      S.table = t;
      S.capacity = cap;
    }
    S.used++;
  }
  S.table[id] = {interval_ms, fn, arg, n, 0, gui_time_ms()};
  return id;
}

static bool id_ok(int32_t id) {
  if (id < 0 || id >= S.used || !S.table[id].fn) {
    log(LOG_ERROR, kSrc, "bad id %d", id);
    return false;
  }
  return true;
}

void timer_stop(int32_t id) {
  if (!id_ok(id)) return;
  S.table[id].fn = nullptr;
  while (S.used > 0 && !S.table[S.used - 1].fn) S.used--;
}

void timer_restart(int32_t id) {
  if (id_ok(id)) S.table[id].start = gui_time_ms();
}

void timer_advance(int32_t id) {
  if (!id_ok(id)) return;
  timer &t = S.table[id];
  if (t.last - t.interval > 0)
    t.last -= t.interval;
  else
    t.start = 0;  // too early to move back: the elapsed time starts again at the next pass
}

void timer_run(int64_t now) {
  for (int32_t i = 0; i < S.used; i++) {
    if (!S.table[i].fn) continue;
    timer &t = S.table[i];
    if (t.start == 0) t.start = now;
    if (now - t.last < t.interval) continue;
    int64_t elapsed = now - t.start;
    int keep = t.fn(t.arg, t.n, elapsed, float(elapsed) / 1000.0f);
    // The callback may have grown (moved) the table: index it afresh.
    if (keep) {
      if (i < S.used) S.table[i].last = now;
    }
    else
      timer_stop(i);
  }
  if (S.backstop.fn) {
    if (S.backstop.start == 0) S.backstop.start = now;
    S.backstop.fn(S.backstop.arg, S.backstop.n, float(now - S.backstop.start));
  }
}

int timer_set_backstop(timer_backstop_fn fn, void *arg, uint32_t n) {
  if (S.backstop.fn) {
    log(LOG_WARN, kSrc, "backstop already defined");
    return -1;
  }
  S.backstop = {fn, arg, n, 0};
  return 0;
}

void timer_clear_backstop() { S.backstop = {nullptr, nullptr, 0, 0}; }

void tracer_dump() { log(LOG_WARN, kSrc, "tracer not enabled"); }
