// The platform layer: the only module that talks to threads, locks, clocks,
// files and host identity. Mutexes, condition variables and threads live in
// one fixed table of 128 slots and are named by their index, so a record can
// hold a lock as a plain integer and the crash handler can walk every running
// thread's stack marker without taking a lock (kinds and markers are atomics).
// The table mutex is statically initialised, so the layer works even when a
// test never calls plat_init, and is never destroyed under a late caller.

#include "plat.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "dalloc.h"
#include "log.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

static const char kSrc[] = "src/plat";

namespace {

constexpr uint32_t kKindFree = 0;
constexpr uint32_t kKindMutex = 1;
constexpr uint32_t kKindCond = 2;
constexpr uint32_t kKindThread = 3;
constexpr uint32_t kKindEnded = 4;

constexpr int32_t kStackScanSize = 8192;
constexpr int kPathMax = 1024;  // buffers hold at most 1023 characters
constexpr const char kDmiProductName[] = "/sys/class/dmi/id/product_name";

struct plat_entry {
  std::atomic<uint32_t> kind;
  std::atomic<uintptr_t> stack_marker;  // thread slots only, 0 otherwise
  bool joined;                          // thread slots: pthread_join done
  pthread_t thread;
  union {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
  };
};

struct thread_start_rec {
  int32_t slot;
  plat_thread_fn fn;
  void* arg;
};

struct plat_state {
  plat_fixed_mutex table_lock;
  plat_entry slots[kPlatSlots];
  bool initialised = false;
  timespec start = {0, 0};  // CLOCK_MONOTONIC at plat_init
  pthread_once_t os_once = PTHREAD_ONCE_INIT;
  char os_text[kPathMax] = {0};
  char temp_dir[kPathMax] = "/tmp";
  std::atomic<plat_thread_wrapper_fn> wrapper{nullptr};
  std::atomic<int64_t (*)(void)> test_clock{nullptr};
  std::atomic<long (*)(void)> test_random{nullptr};
};

plat_state st;


bool slot_ok(plat_slot s) { return s >= 0 && s < kPlatSlots; }

bool slot_is(plat_slot s, uint32_t kind) {
  return slot_ok(s) && st.slots[s].kind.load(std::memory_order_acquire) == kind;
}

// Takes the lowest free slot from `first` and marks it `kind`; -1 when full.
plat_slot take_slot(int first, uint32_t kind) {
  plat_slot found = -1;
  {
    plat_lock_guard g(st.table_lock);
    for (int i = first; i < kPlatSlots; i++) {
      if (st.slots[i].kind.load(std::memory_order_relaxed) == kKindFree) {
        st.slots[i].kind.store(kind, std::memory_order_release);
        st.slots[i].stack_marker.store(0, std::memory_order_relaxed);
        st.slots[i].joined = false;
        found = i;
        break;
      }
    }
  }
  if (found < 0) log(LOG_ERROR, kSrc, "all slots are inuse");
  return found;
}

void release_slot(plat_slot s) {
  plat_lock_guard g(st.table_lock);
  st.slots[s].stack_marker.store(0, std::memory_order_relaxed);
  st.slots[s].kind.store(kKindFree, std::memory_order_release);
}

// Reads the first line of a small text file without its newline; false when
// the file cannot be read or is empty.
bool read_first_line(const char* path, char* out, size_t size) {
  FILE* f = fopen(path, "re");
  if (!f) return false;
  bool ok = fgets(out, (int)size, f) != nullptr;
  fclose(f);
  if (!ok) return false;
  out[strcspn(out, "\r\n")] = 0;
  return out[0] != 0;
}

void make_os_text(void) {
  char release[sizeof(utsname::release)] = "Unknown";
  char model[256] = "Unknown";
  utsname u;
  if (uname(&u) == 0) {
    snprintf(release, sizeof release, "%s", u.release);
  } else {
    log(LOG_OSERR, kSrc, "can't get os release");
  }
  // Containers and many virtual machines have no DMI table: that is not an
  // error worth a log line, the model is simply unknown.
  if (!read_first_line(kDmiProductName, model, sizeof model)) snprintf(model, sizeof model, "Unknown");
  snprintf(st.os_text, sizeof st.os_text, "Linux %s on %s", release, model);
}

int64_t real_ms(void) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (int64_t)(now.tv_sec - st.start.tv_sec) * 1000 + (now.tv_nsec - st.start.tv_nsec) / 1000000;
}

// Runs when a thread is cancelled. Cancellation unwinds the thread's frames
// without the code that clears AddressSanitizer's marks on their locals, and
// the thread's exit path then runs over those marks; clear everything below
// this frame. Without the sanitizer there is nothing to do.
void thread_cancelled(void* frame) {
#if defined(__SANITIZE_ADDRESS__)
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
  void* lo = nullptr;
  size_t size = 0;
  pthread_attr_getstack(&attr, &lo, &size);
  pthread_attr_destroy(&attr);
  if ((char*)frame > (char*)lo) __asan_unpoison_memory_region(lo, (size_t)((char*)frame - (char*)lo));
#else
  (void)frame;
#endif
}

// The start routine of every thread made here.
void* thread_start(void* p) {
  thread_start_rec rec;
  memcpy(&rec, p, sizeof rec);
  dalloc_free(p);
  int marker = 0;
  {
    plat_lock_guard g(st.table_lock);
    st.slots[rec.slot].stack_marker.store((uintptr_t)&marker, std::memory_order_release);
  }
  plat_thread_wrapper_fn wrapper = st.wrapper.load(std::memory_order_acquire);
  pthread_cleanup_push(thread_cancelled, &marker);
  if (wrapper) {
    wrapper(rec.fn, rec.arg);
  } else {
    rec.fn(rec.arg);
  }
  pthread_cleanup_pop(0);
  {
    // The slot may have been freed and handed to another thread meanwhile
    // (a thread that cancelled itself); only our own slot is marked ended.
    plat_lock_guard g(st.table_lock);
    plat_entry& e = st.slots[rec.slot];
    if (e.kind.load(std::memory_order_relaxed) == kKindThread && pthread_equal(e.thread, pthread_self())) {
      e.stack_marker.store(0, std::memory_order_relaxed);
      e.kind.store(kKindEnded, std::memory_order_release);
    }
  }
  return nullptr;
}

// Cancels a thread slot's thread unless it has ended, then joins it unless
// that was done already. The slot itself is left to the caller.
void stop_thread(plat_slot s) {
  pthread_t t;
  bool running;
  {
    plat_lock_guard g(st.table_lock);
    plat_entry& e = st.slots[s];
    if (e.joined) return;
    e.joined = true;  // claimed here, so no second caller joins it
    t = e.thread;
    running = e.kind.load(std::memory_order_relaxed) == kKindThread;
    if (pthread_equal(t, pthread_self())) {
      // A thread cannot join itself: let the system reclaim it on exit.
      pthread_detach(t);
      return;
    }
  }
  if (running) pthread_cancel(t);
  pthread_join(t, nullptr);
}

}  // namespace

int plat_init(void) {
  pthread_once(&st.os_once, make_os_text);
  plat_lock_guard g(st.table_lock);
  if (st.initialised) return 0;  // a second init would drop live slots
  for (plat_entry& e : st.slots) {
    e.kind.store(kKindFree, std::memory_order_relaxed);
    e.stack_marker.store(0, std::memory_order_relaxed);
    e.joined = false;
  }
  clock_gettime(CLOCK_MONOTONIC, &st.start);
  timeval tv;
  gettimeofday(&tv, nullptr);
  srandom((unsigned)(tv.tv_usec ^ getpid()));
  st.initialised = true;
  return 0;
}

void plat_fini(void) {
  for (plat_slot s = 0; s < kPlatSlots; s++) {
    plat_entry& e = st.slots[s];
    uint32_t kind = e.kind.load(std::memory_order_acquire);
    if (kind == kKindThread || kind == kKindEnded) {
      // Cancel and join before the slot is freed, so an ending thread can
      // never write into a slot that has been handed out again.
      stop_thread(s);
      release_slot(s);
    } else if (kind == kKindMutex) {
      plat_lock_guard g(st.table_lock);
      pthread_mutex_destroy(&e.mutex);
      e.kind.store(kKindFree, std::memory_order_release);
    } else if (kind == kKindCond) {
      plat_lock_guard g(st.table_lock);
      pthread_cond_destroy(&e.cond);
      e.kind.store(kKindFree, std::memory_order_release);
    }
  }
  plat_lock_guard g(st.table_lock);
  st.initialised = false;
}

plat_slot plat_mutex_create(void) {
  plat_slot s = take_slot(0, kKindMutex);
  if (s >= 0) pthread_mutex_init(&st.slots[s].mutex, nullptr);
  return s;
}

int plat_fixed_lock(plat_fixed_mutex* m) { return pthread_mutex_lock(&m->m); }
int plat_fixed_unlock(plat_fixed_mutex* m) { return pthread_mutex_unlock(&m->m); }

int plat_mutex_lock(plat_slot s) {
  if (!slot_is(s, kKindMutex)) return EINVAL;
  return pthread_mutex_lock(&st.slots[s].mutex);
}

int plat_mutex_unlock(plat_slot s) {
  if (!slot_is(s, kKindMutex)) return EINVAL;
  return pthread_mutex_unlock(&st.slots[s].mutex);
}

void plat_mutex_destroy(plat_slot s) {
  {
    plat_lock_guard g(st.table_lock);
    if (slot_is(s, kKindMutex)) {
      pthread_mutex_destroy(&st.slots[s].mutex);
      st.slots[s].kind.store(kKindFree, std::memory_order_release);
      return;
    }
  }
  log(LOG_ERROR, kSrc, "slot %d is not a mutex", s);
}

plat_slot plat_cond_create(void) {
  plat_slot s = take_slot(0, kKindCond);
  if (s >= 0) {
    // Timed waits run on the monotonic clock so a change of the wall clock
    // cannot stretch or cut them.
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&st.slots[s].cond, &attr);
    pthread_condattr_destroy(&attr);
  }
  return s;
}

void plat_cond_wait(plat_slot cond, plat_slot mutex) {
  if (!slot_is(cond, kKindCond) || !slot_is(mutex, kKindMutex)) return;
  pthread_cond_wait(&st.slots[cond].cond, &st.slots[mutex].mutex);
}

int plat_cond_timedwait(plat_slot cond, plat_slot mutex, int32_t ms) {
  if (!slot_is(cond, kKindCond) || !slot_is(mutex, kKindMutex)) return 1;
  if (ms < 0) ms = 0;
  timespec due;
  clock_gettime(CLOCK_MONOTONIC, &due);
  due.tv_sec += ms / 1000;
  due.tv_nsec += (long)(ms % 1000) * 1000000;
  if (due.tv_nsec >= 1000000000) {
    due.tv_sec++;
    due.tv_nsec -= 1000000000;
  }
  int rc = pthread_cond_timedwait(&st.slots[cond].cond, &st.slots[mutex].mutex, &due);
  return rc == ETIMEDOUT ? 1 : 0;
}

void plat_cond_signal(plat_slot cond) {
  if (slot_is(cond, kKindCond)) pthread_cond_signal(&st.slots[cond].cond);
}

void plat_cond_broadcast(plat_slot cond) {
  if (slot_is(cond, kKindCond)) pthread_cond_broadcast(&st.slots[cond].cond);
}

void plat_cond_destroy(plat_slot s) {
  {
    plat_lock_guard g(st.table_lock);
    if (slot_is(s, kKindCond)) {
      pthread_cond_destroy(&st.slots[s].cond);
      st.slots[s].kind.store(kKindFree, std::memory_order_release);
      return;
    }
  }
  log(LOG_ERROR, kSrc, "slot %d is not a condition", s);
}

void plat_set_thread_wrapper(plat_thread_wrapper_fn wrapper) {
  st.wrapper.store(wrapper, std::memory_order_release);
}

plat_slot plat_thread_create(plat_thread_fn fn, void* arg) {
  plat_slot s = take_slot(1, kKindThread);  // slot 0 is never a thread
  if (s < 0) return -1;
  auto* rec = (thread_start_rec*)dalloc_alloc((int32_t)sizeof(thread_start_rec));
  rec->slot = s;
  rec->fn = fn;
  rec->arg = arg;
  int rc;
  {
    // The handle is stored under the table mutex before the new thread can
    // read its slot: its start routine takes the same mutex first.
    plat_lock_guard g(st.table_lock);
    rc = pthread_create(&st.slots[s].thread, nullptr, thread_start, rec);
  }
  if (rc != 0) {
    dalloc_free(rec);
    release_slot(s);  // never seen as a running thread
    errno = rc;
    log(LOG_OSERR, kSrc, "failed to create thread");
    return -1;
  }
  return s;
}

void plat_thread_join(plat_slot s) {
  pthread_t t;
  {
    plat_lock_guard g(st.table_lock);
    if (!slot_ok(s)) return;
    plat_entry& e = st.slots[s];
    uint32_t kind = e.kind.load(std::memory_order_relaxed);
    if ((kind != kKindThread && kind != kKindEnded) || e.joined) return;
    if (pthread_equal(e.thread, pthread_self())) return;
    e.joined = true;
    t = e.thread;
  }
  // Joined even when it has ended: otherwise the system keeps its stack.
  pthread_join(t, nullptr);
}

int plat_thread_cancel(plat_slot s) {
  {
    plat_lock_guard g(st.table_lock);
    if (!slot_ok(s)) return 0;
    uint32_t kind = st.slots[s].kind.load(std::memory_order_relaxed);
    if (kind != kKindThread && kind != kKindEnded) return 0;
  }
  stop_thread(s);
  release_slot(s);
  return 0;
}

uintptr_t plat_next_thread_stack(int32_t* cursor) {
  // No lock: the crash handler calls this on a thread that may hold any lock.
  for (int32_t i = *cursor < 0 ? 0 : *cursor; i < kPlatSlots; i++) {
    if (st.slots[i].kind.load(std::memory_order_acquire) != kKindThread) continue;
    uintptr_t marker = st.slots[i].stack_marker.load(std::memory_order_acquire);
    if (marker == 0) continue;
    *cursor = i + 1;
    return marker;
  }
  *cursor = kPlatSlots;
  return 0;
}

int32_t plat_stack_scan_size(void) { return kStackScanSize; }

int64_t plat_ms(void) {
  int64_t (*fn)(void) = st.test_clock.load(std::memory_order_acquire);
  if (fn) return fn();
  return real_ms();
}

int64_t plat_seconds(void) { return plat_ms() / 1000; }

void plat_set_test_clock(int64_t (*fn)(void)) { st.test_clock.store(fn, std::memory_order_release); }

void plat_sleep_ms(int32_t ms) {
  if (ms < 1) {
    sched_yield();
    return;
  }
  timespec left = {ms / 1000, (long)(ms % 1000) * 1000000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int plat_open(const char* path, int32_t flags) {
  // The mode only matters when the flags create the file; passing it always
  // keeps a created file private whatever the access bits are.
  return open(path, flags, 0600);
}

int32_t plat_read_all(int fd, void* buf, int32_t n) {
  if (n < 1) return 0;
  int32_t got = 0;
  while (got < n) {
    ssize_t r = read(fd, (char*)buf + got, (size_t)(n - got));
    if (r > 0) {
      got += (int32_t)r;
    } else if (r == 0) {
      return got;
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A non-blocking descriptor: wait for data rather than spin.
      pollfd pfd = {fd, POLLIN, 0};
      poll(&pfd, 1, -1);
    } else {
      log(LOG_OSERR, kSrc, "read");
      return -1;
    }
  }
  return n;
}

int32_t plat_write_all(int fd, const void* buf, int32_t n) {
  if (n < 1) return 0;
  int32_t put = 0;
  long interrupts = 0;
  while (put < n) {
    ssize_t w = write(fd, (const char*)buf + put, (size_t)(n - put));
    if (w > 0) {
      put += (int32_t)w;
    } else if (w == 0) {
      break;
    } else if (errno == EINTR) {
      interrupts++;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      interrupts++;
      pollfd pfd = {fd, POLLOUT, 0};
      poll(&pfd, 1, -1);
    } else {
      log(LOG_OSERR, kSrc, "write");
      return -1;
    }
  }
  if (interrupts != 0) log(LOG_WARN, kSrc, "%ld interrupts writing %db", interrupts, n);
  return put;
}

int plat_mkdir(const char* path) {
  if (mkdir(path, 0700) == 0 || errno == EEXIST) return 0;
  log(LOG_OSERR, kSrc, "can't mkdir %s", path);
  return -1;
}

char* plat_path_join(char* path, const char* component) {
  size_t len = strlen(path);
  bool sep = len > 0 && path[len - 1] != '/';
  size_t total = len + (sep ? 1 : 0) + strlen(component);
  if (total >= (size_t)kPathMax) {
    log(LOG_ERROR, kSrc, "%s + %s is too long", path, component);
    return nullptr;
  }
  if (sep) path[len++] = '/';
  memcpy(path + len, component, strlen(component) + 1);
  return path;
}

const char* plat_basename(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

const char* plat_native_path(const char* path) { return path; }

char plat_path_separator(void) { return '/'; }

const char* plat_line_end(void) { return "\n"; }

void plat_set_temp_dir(const char* path) {
  snprintf(st.temp_dir, sizeof st.temp_dir, "%s", path);
  size_t len = strlen(st.temp_dir);
  // "/" keeps its separator: stripping it would turn the root into a
  // relative empty path.
  if (len > 1 && st.temp_dir[len - 1] == '/') st.temp_dir[len - 1] = 0;
}

const char* plat_temp_dir(void) { return st.temp_dir; }

const char* plat_os_description(void) {
  pthread_once(&st.os_once, make_os_text);
  return st.os_text;
}

int32_t plat_cpu_count(void) {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n < 1 ? 1 : (int32_t)n;
}

long plat_random(void) {
  long (*fn)(void) = st.test_random.load(std::memory_order_acquire);
  if (fn) return fn();
  return random();
}

void plat_random_bytes(void* buf, int32_t n) {
  auto* out = (unsigned char*)buf;
  for (int32_t i = 0; i < n; i++) out[i] = (unsigned char)(plat_random() & 0xff);
}

void plat_set_test_random(long (*fn)(void)) { st.test_random.store(fn, std::memory_order_release); }
