// The process-wide levelled log. Each line goes to standard error, the log
// file and the in-memory log, which keeps every line of the run so lines
// written before the file's name is known can be replayed into it, and so a
// log window can show them. The memory log is appended under its own mutex
// but read without any lock: an entry is complete before the atomic link
// that publishes it is stored, and entries are never removed while the
// process runs, so a reader on another thread can walk it at any time.

#include "log.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <pthread.h>
#include <unistd.h>

#include "plat.h"

static const char kSrc[] = "src/log";

namespace {

constexpr int kThreshold = LOG_RAW;  // levels above it are dropped
constexpr int kTextSize = 256;       // text of one line, terminator included
constexpr int kLineSize = 320;       // time, level word and text
constexpr int kDeferredSize = 1024;
constexpr int32_t kBlockSize = 16384;

const char* const kLevelWords[] = {"FATAL", "ERROR", "OSERR", "WARN ", "INFO ", "TRACE", "DEBUG", ""};

// One line of the memory log. `older` is set before the entry is published
// and never changes; `newer` is published later, by the next append.
struct log_entry {
  int32_t level;
  time_t when;
  int64_t ms;
  log_entry* older;
  std::atomic<log_entry*> newer;
  char* text() { return reinterpret_cast<char*>(this + 1); }
};
static_assert(sizeof(log_entry) == 40, "an entry is its text plus 41 bytes");

struct log_block {
  int32_t used;
  log_block* prev;
  alignas(8) unsigned char data[kBlockSize - 16];
};
static_assert(sizeof(log_block) == kBlockSize, "memory log blocks are 16 KB");

struct log_state {
  std::atomic<bool> initialised{false};
  std::atomic<bool> closed{false};  // set by log_fini: later calls return at once
  std::atomic<uint32_t> echo{1};
  std::atomic<uint32_t> autoflush{0};
  std::atomic<uint32_t> memory{0};
  std::atomic<void (*)(const char*)> fatal_hook{nullptr};

  // The file and its name change only under file_lock, which also keeps a
  // line from being written to a file another thread is closing.
  plat_fixed_mutex file_lock;  // fixed: lines are written before plat_init too
  FILE* file = nullptr;
  char* filename = nullptr;

  // The memory log: blocks newest first, written only under `mutex`.
  std::atomic<plat_slot> mutex{-1};
  log_block* blocks = nullptr;
  std::atomic<log_entry*> oldest{nullptr};
  std::atomic<log_entry*> newest{nullptr};
  std::atomic<uint64_t> count{0};  // entries ever added, never reset

  char deferred[kDeferredSize] = {0};
};

log_state st;

// A thread cancelled in the middle of a write would leave the file lock or
// the memory-log mutex held for ever; cancellation waits until the line is out.
struct no_cancel_guard {
  int old = 0;
  no_cancel_guard() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old); }
  ~no_cancel_guard() { pthread_setcancelstate(old, nullptr); }
  no_cancel_guard(const no_cancel_guard&) = delete;
  no_cancel_guard& operator=(const no_cancel_guard&) = delete;
};

struct errno_guard {
  int saved = errno;
  ~errno_guard() { errno = saved; }
};

const char* level_word(int level) {
  return level >= 0 && level <= LOG_RAW ? kLevelWords[level] : "unknown";
}

// "%H:%M:%S.mmm WORD: text\n"; `ms` is the millisecond within the second
// `when`, both read from the wall clock at once, so the stamps of successive
// lines never run backwards inside a second. Returns the length.
int format_line(char* out, time_t when, int64_t ms, int level, const char* text) {
  struct tm tm;
  char clock[16] = "??:??:??";
  if (localtime_r(&when, &tm)) strftime(clock, sizeof clock, "%H:%M:%S", &tm);
  long frac = (long)(((ms % 1000) + 1000) % 1000);
  int n = snprintf(out, kLineSize, "%s.%03ld %s: %s\n", clock, frac, level_word(level), text);
  return n < kLineSize ? n : kLineSize - 1;
}

void write_entries(FILE* f) {
  char line[kLineSize];
  for (log_entry* e = st.oldest.load(std::memory_order_acquire); e; e = e->newer.load(std::memory_order_acquire)) {
    int n = format_line(line, e->when, e->ms, e->level, e->text());
    fwrite(line, 1, (size_t)n, f);
  }
}

void ctime_text(char* out, size_t size) {
  time_t now = time(nullptr);
  char buf[64];
  if (!ctime_r(&now, buf)) snprintf(buf, sizeof buf, "?\n");
  snprintf(out, size, "%s", buf);
}

void memory_append(int level, time_t when, int64_t ms, const char* text, size_t len) {
  plat_lock_guard g(st.mutex.load(std::memory_order_acquire));
  if (!g.held()) return;
  int32_t size = (int32_t)((sizeof(log_entry) + len + 1 + 7) & ~size_t{7});  // keeps entries aligned
  log_block* b = st.blocks;
  if (!b || b->used + size > (int32_t)sizeof b->data) {
    // Straight from the system heap: a failed block drops this line from
    // memory only, where the allocator would end the process.
    auto* nb = (log_block*)malloc(sizeof(log_block));
    if (!nb) return;
    nb->used = 0;
    nb->prev = b;
    st.blocks = b = nb;
  }
  auto* e = new (b->data + b->used) log_entry;
  b->used += size;
  e->level = level;
  e->when = when;
  e->ms = ms;
  memcpy(e->text(), text, len + 1);
  log_entry* prev = st.newest.load(std::memory_order_relaxed);
  e->older = prev;
  e->newer.store(nullptr, std::memory_order_relaxed);
  // Sequentially consistent stores: each is a full barrier, and everything
  // written to the entry above is visible to a reader that loads the link.
  if (prev) {
    prev->newer.store(e, std::memory_order_seq_cst);
  } else {
    st.oldest.store(e, std::memory_order_seq_cst);
  }
  st.newest.store(e, std::memory_order_seq_cst);
  st.count.fetch_add(1, std::memory_order_relaxed);
}

// The wall clock, or the test clock of log_set_test_wall_clock.
std::atomic<int64_t (*)(void)> wall_clock_hook{nullptr};

// Seconds since the epoch and the millisecond within that second, from one
// reading of the wall clock.
void read_wall_clock(time_t* when, int64_t* ms) {
  int64_t (*hook)(void) = wall_clock_hook.load(std::memory_order_acquire);
  int64_t t;
  if (hook) {
    t = hook();
  } else {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    t = (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
  }
  int64_t sec = t / 1000, frac = t % 1000;
  if (frac < 0) {
    frac += 1000;
    sec--;
  }
  *when = (time_t)sec;
  *ms = frac;
}

// Opens the log file line buffered: every line is in the file as soon as it
// is logged, so a reader (or a crash) never misses the last seconds of a run,
// at the cost of one write per line, which the log's rate makes negligible.
FILE* open_line_buffered(const char* name, const char* mode) {
  FILE* f = fopen(name, mode);
  if (f) setvbuf(f, nullptr, _IOLBF, 0);
  return f;
}

void flush_file(void) {
  plat_lock_guard g(st.file_lock);
  if (st.file) fflush(st.file);
}

// Ends the process after a FATAL line. Static destructors must not run while
// other threads still use the objects they tear down, so the exit is _exit
// once every output has been flushed.
[[noreturn]] void fatal_exit(const char* text) {
  static std::atomic<bool> in_fatal{false};
  flush_file();
  fflush(stderr);
  void (*hook)(const char*) = st.fatal_hook.load(std::memory_order_acquire);
  // A FATAL line from inside the hook (or a second thread's) exits at once
  // instead of calling the hook again.
  if (hook && !in_fatal.exchange(true)) {
    hook(text);
    flush_file();
    fflush(stderr);
  }
  _exit(1);
}

}  // namespace

void log(int level, const char* file, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  log_v(level, file, fmt, ap);
  va_end(ap);
}

void log_v(int level, const char* file, const char* fmt, va_list ap) {
  (void)file;  // names the caller for readers of the code; printed nowhere
  errno_guard saved_errno;
  // A FATAL line ends the process even after log_fini: its caller relies on
  // not getting control back.
  if (st.closed.load(std::memory_order_acquire) && level != LOG_FATAL) return;
  if (level > kThreshold) return;
  no_cancel_guard nc;

  char text[kTextSize];
  if (vsnprintf(text, sizeof text, fmt, ap) < 0) text[0] = 0;
  size_t len = strlen(text);
  if (len > 0 && text[len - 1] == '\n') text[--len] = 0;
  if (level == LOG_OSERR) {
    char buf[128];
    const char* why = strerror_r(saved_errno.saved, buf, sizeof buf);
    snprintf(text + len, sizeof text - len, " (%d:%s)", saved_errno.saved, why);
    len = strlen(text);
  }

  time_t when;
  int64_t ms;
  read_wall_clock(&when, &ms);
  char line[kLineSize];
  int n = format_line(line, when, ms, level, text);
  bool flush = st.autoflush.load(std::memory_order_relaxed) != 0;

  if (st.echo.load(std::memory_order_relaxed)) {
    if (level == LOG_RAW) {
      // One write so lines of two threads do not interleave.
      char raw[kTextSize + 1];
      memcpy(raw, text, len);
      raw[len] = '\n';
      fwrite(raw, 1, len + 1, stderr);
    } else {
      fwrite(line, 1, (size_t)n, stderr);
    }
    if (flush) fflush(stderr);
  }
  {
    plat_lock_guard g(st.file_lock);
    if (st.file) {
      fwrite(line, 1, (size_t)n, st.file);
      if (flush) fflush(st.file);
    }
  }
  if (st.memory.load(std::memory_order_relaxed)) memory_append(level, when, ms, text, len);
  if (level == LOG_FATAL) fatal_exit(text);
}

int log_init(void) {
  if (st.initialised.load(std::memory_order_acquire)) return 0;
  plat_slot m = plat_mutex_create();
  if (m < 0) return -1;
  auto* first = (log_block*)malloc(sizeof(log_block));
  if (!first) {
    plat_mutex_destroy(m);
    return -1;
  }
  first->used = 0;
  first->prev = nullptr;
  st.blocks = first;
  st.oldest.store(nullptr, std::memory_order_relaxed);
  st.newest.store(nullptr, std::memory_order_relaxed);
  st.mutex.store(m, std::memory_order_release);
  st.closed.store(false, std::memory_order_release);
  st.initialised.store(true, std::memory_order_release);
  return 0;
}

void log_fini(void) {
  st.closed.store(true, std::memory_order_release);
  {
    plat_lock_guard g(st.file_lock);
    if (st.file) fclose(st.file);
    st.file = nullptr;
    free(st.filename);
    st.filename = nullptr;
  }
  plat_slot m = st.mutex.exchange(-1, std::memory_order_acq_rel);
  {
    plat_lock_guard g(m);
    st.oldest.store(nullptr, std::memory_order_release);
    st.newest.store(nullptr, std::memory_order_release);
    while (st.blocks) {
      log_block* prev = st.blocks->prev;
      free(st.blocks);
      st.blocks = prev;
    }
  }
  if (m >= 0) plat_mutex_destroy(m);
  // Back to the state of process start, ready for another log_init.
  st.echo.store(1, std::memory_order_relaxed);
  st.autoflush.store(0, std::memory_order_relaxed);
  st.memory.store(0, std::memory_order_relaxed);
  st.fatal_hook.store(nullptr, std::memory_order_relaxed);
  wall_clock_hook.store(nullptr, std::memory_order_relaxed);
  st.deferred[0] = 0;
  st.initialised.store(false, std::memory_order_release);
}

int log_set_filename(const char* name) {
  char* copy = name ? strdup(name) : nullptr;
  if (name && !copy) {
    log(LOG_ERROR, kSrc, "can't realloc filename");
    return -1;
  }
  bool reopen;
  {
    plat_lock_guard g(st.file_lock);
    free(st.filename);
    st.filename = copy;
    reopen = st.file != nullptr && copy != nullptr;
  }
  return reopen ? log_open("wtc") : 0;
}

const char* log_filename(void) {
  plat_lock_guard g(st.file_lock);
  return st.filename;
}

// The start of a newly opened log file: the start line and, when the memory
// log is on, everything logged so far. The file lock is held.
static void begin_file() {
  char when[64];
  ctime_text(when, sizeof when);
  fprintf(st.file, "!!! STARTING @ %s", when);
  if (st.memory.load(std::memory_order_relaxed)) write_entries(st.file);
  if (st.autoflush.load(std::memory_order_relaxed)) fflush(st.file);
}

int log_open(const char* mode) {
  char failed[1024];
  {
    plat_lock_guard g(st.file_lock);
    if (!st.filename) {
      failed[0] = 0;
    } else {
      if (st.file) fclose(st.file);
      st.file = open_line_buffered(st.filename, mode);
      if (!st.file) {
        snprintf(failed, sizeof failed, "%s", st.filename);
      } else {
        begin_file();
        return 0;
      }
    }
  }
  // Logged outside the file lock, which the log call takes itself.
  if (!failed[0]) {
    log(LOG_ERROR, kSrc, "no filename to log to");
  } else {
    log(LOG_OSERR, kSrc, "can't write to %s", failed);
  }
  return -1;
}

int log_open_file(FILE* f) {
  if (!f) return -1;
  plat_lock_guard g(st.file_lock);
  if (st.file) fclose(st.file);
  st.file = f;
  begin_file();
  return 0;
}

void log_set_test_wall_clock(int64_t (*fn)(void)) { wall_clock_hook.store(fn, std::memory_order_release); }

void log_start(void) { log_open("wtca"); }

void log_close(void) {
  plat_lock_guard g(st.file_lock);
  if (st.file) fclose(st.file);
  st.file = nullptr;
}

int log_has_file(void) {
  plat_lock_guard g(st.file_lock);
  return st.file != nullptr;
}

int log_dump(void) {
  enum { kOk, kOpen, kNoName, kCantWrite } why = kOk;
  char name[1024] = {0};
  {
    plat_lock_guard g(st.file_lock);
    if (st.file) {
      why = kOpen;
    } else if (!st.filename) {
      why = kNoName;
    } else {
      snprintf(name, sizeof name, "%s", st.filename);
      FILE* f = fopen(st.filename, "wt");
      if (!f) {
        why = kCantWrite;
      } else {
        char when[64];
        ctime_text(when, sizeof when);
        fprintf(f, "!!! DUMPING @ %s", when);
        write_entries(f);
        fclose(f);
      }
    }
  }
  switch (why) {
    case kOk:
      return 0;
    case kOpen:
      log(LOG_ERROR, kSrc, "already dumping log");
      break;
    case kNoName:
      log(LOG_ERROR, kSrc, "no file to dump log to");
      break;
    case kCantWrite:
      log(LOG_OSERR, kSrc, "can't write to %s", name);
      break;
  }
  return -1;
}

uint32_t log_flush(void) {
  flush_file();
  return st.autoflush.load(std::memory_order_relaxed);
}

uint32_t log_set_autoflush(uint32_t on) {
  uint32_t prev = st.autoflush.exchange(on ? 1 : 0, std::memory_order_relaxed);
  if (on) flush_file();
  return prev;
}

void log_set_stderr(uint32_t on) { st.echo.store(on ? 1 : 0, std::memory_order_relaxed); }

void log_set_memory(uint32_t on) { st.memory.store(on ? 1 : 0, std::memory_order_relaxed); }

uint64_t log_count(void) { return st.count.load(std::memory_order_relaxed); }

static void walk_out(log_entry* e, time_t* when, int* level, const char** text, void** cursor) {
  if (when) *when = e->when;
  if (level) *level = e->level;
  if (text) *text = e->text();
  *cursor = e;
}

int log_walk_newer(time_t* when, int* level, const char** text, void** cursor) {
  log_entry* e = *cursor ? static_cast<log_entry*>(*cursor)->older : st.newest.load(std::memory_order_acquire);
  if (!e) return 0;
  walk_out(e, when, level, text, cursor);
  return 1;
}

int log_walk_older(time_t* when, int* level, const char** text, void** cursor) {
  log_entry* e = *cursor ? static_cast<log_entry*>(*cursor)->newer.load(std::memory_order_acquire)
                         : st.oldest.load(std::memory_order_acquire);
  if (!e) return 0;
  walk_out(e, when, level, text, cursor);
  return 1;
}

void log_raw(const char* text, uint32_t n) {
  if (st.closed.load(std::memory_order_acquire)) return;
  no_cancel_guard nc;
  size_t len = n == 0xffffffffu ? strlen(text) : n;
  bool newline = len > 0 && text[len - 1] != '\n';
  bool flush = st.autoflush.load(std::memory_order_relaxed) != 0;
  {
    plat_lock_guard g(st.file_lock);
    if (st.file) {
      fwrite(text, 1, len, st.file);
      if (newline) fputc('\n', st.file);
      if (flush) fflush(st.file);
    }
  }
  if (st.echo.load(std::memory_order_relaxed)) {
    flockfile(stderr);
    fwrite(text, 1, len, stderr);
    if (newline) fputc('\n', stderr);
    if (flush) fflush(stderr);
    funlockfile(stderr);
  }
}

void log_set_fatal_hook(void (*hook)(const char* text)) { st.fatal_hook.store(hook, std::memory_order_release); }

void log_defer(const char* fmt, ...) {
  if (!fmt) {
    st.deferred[0] = 0;
    return;
  }
  va_list ap;
  va_start(ap, fmt);
  if (vsnprintf(st.deferred, sizeof st.deferred, fmt, ap) < 0) st.deferred[0] = 0;
  va_end(ap);
}

void log_deferred(void) {
  if (st.deferred[0]) log(LOG_ERROR, kSrc, "%s", st.deferred);
}
