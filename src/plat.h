// The platform layer: one table of 128 slots for mutexes, condition variables
// and threads, the clocks, file and path helpers, randomness and host identity.
#pragma once
#include <pthread.h>

#include <cstdint>

typedef int plat_slot;  // 0..127, -1 on failure
constexpr int kPlatSlots = 128;

// plat_init is the first call of the process; a second call before
// plat_fini changes nothing. plat_fini cancels and joins every thread still
// in the table and destroys every mutex and condition, then frees the slots.
int plat_init(void);
void plat_fini(void);

plat_slot plat_mutex_create(void);
int plat_mutex_lock(plat_slot s);
int plat_mutex_unlock(plat_slot s);
void plat_mutex_destroy(plat_slot s);

// A mutex outside the slot table: constant-initialised, so it works before
// plat_init and after plat_fini. Only for locks that must (the table's own
// lock, the log's file lock, the sign-on key, which has no start-up).
struct plat_fixed_mutex {
  pthread_mutex_t m = PTHREAD_MUTEX_INITIALIZER;
};
int plat_fixed_lock(plat_fixed_mutex* m);
int plat_fixed_unlock(plat_fixed_mutex* m);

// The one lock guard of the engine: holds a slot mutex or a fixed mutex for
// its scope, so that every early return releases it. A slot below 0 (a lock
// not made yet, or made only when locking is on) is skipped, as is a slot
// that fails to lock; held() tells. unlock() and lock() release and take it
// again inside the scope, for a wait that must not hold it.
class plat_lock_guard {
 public:
  explicit plat_lock_guard(plat_slot s) : slot_(s) { lock(); }
  explicit plat_lock_guard(plat_fixed_mutex& m) : fixed_(&m) { lock(); }
  ~plat_lock_guard() { unlock(); }
  plat_lock_guard(const plat_lock_guard&) = delete;
  plat_lock_guard& operator=(const plat_lock_guard&) = delete;

  void lock() {
    if (held_) return;
    if (fixed_)
      held_ = plat_fixed_lock(fixed_) == 0;
    else if (slot_ >= 0)
      held_ = plat_mutex_lock(slot_) == 0;
  }
  void unlock() {
    if (!held_) return;
    held_ = false;
    if (fixed_)
      plat_fixed_unlock(fixed_);
    else
      plat_mutex_unlock(slot_);
  }
  bool held() const { return held_; }

 private:
  plat_slot slot_ = -1;
  plat_fixed_mutex* fixed_ = nullptr;
  bool held_ = false;
};

plat_slot plat_cond_create(void);
void plat_cond_wait(plat_slot cond, plat_slot mutex);
// Waits at most `ms` milliseconds; returns 0 when signalled, 1 on time-out.
int plat_cond_timedwait(plat_slot cond, plat_slot mutex, int32_t ms);
void plat_cond_signal(plat_slot cond);
void plat_cond_broadcast(plat_slot cond);
void plat_cond_destroy(plat_slot s);

typedef void (*plat_thread_fn)(void* arg);
typedef void (*plat_thread_wrapper_fn)(plat_thread_fn fn, void* arg);
void plat_set_thread_wrapper(plat_thread_wrapper_fn wrapper);
// Threads take the lowest free slot from 1; -1 after an ERROR line.
plat_slot plat_thread_create(plat_thread_fn fn, void* arg);
// Waits for the thread unless it was joined already; the slot stays taken.
void plat_thread_join(plat_slot s);
// Cancels the thread (it stops at its next cancellation point), joins it and
// then frees the slot. Returns 0.
int plat_thread_cancel(plat_slot s);
// The stack marker of the next running thread at or after *cursor (start at
// 0), moving the cursor past it; 0 when none is left. Takes no lock.
uintptr_t plat_next_thread_stack(int32_t* cursor);
int32_t plat_stack_scan_size(void);

// Milliseconds since plat_init on a monotonic clock (or the test clock).
int64_t plat_ms(void);
// Whole seconds on the same clock, for due times and intervals.
int64_t plat_seconds(void);
// Test seam: while set, plat_ms() returns fn() and plat_seconds() fn()/1000.
// Null restores the real clock.
void plat_set_test_clock(int64_t (*fn)(void));
void plat_sleep_ms(int32_t ms);

// open(2) with mode 0600 for a file the flags create; -1 with errno set and
// no log line, so the caller can tell a missing file from a failure.
int plat_open(const char* path, int32_t flags);
// Read or write all n bytes, retrying interrupted and would-block calls; the
// count done so far at end of file (or a zero-byte write); -1 after an
// OSERR line.
int32_t plat_read_all(int fd, void* buf, int32_t n);
int32_t plat_write_all(int fd, const void* buf, int32_t n);
int plat_mkdir(const char* path);  // mode 0700; an existing entry counts as done
char* plat_path_join(char* path, const char* component);  // path holds 1024 bytes
const char* plat_basename(const char* path);
const char* plat_native_path(const char* path);
char plat_path_separator(void);
const char* plat_line_end(void);
void plat_set_temp_dir(const char* path);  // one trailing "/" is dropped
const char* plat_temp_dir(void);           // "/tmp" until set
// "Linux <kernel release> on <DMI product name or Unknown>".
const char* plat_os_description(void);
int32_t plat_cpu_count(void);

long plat_random(void);
void plat_random_bytes(void* buf, int32_t n);
// Test seam: while set, plat_random() returns fn() (and so do the bytes).
void plat_set_test_random(long (*fn)(void));
