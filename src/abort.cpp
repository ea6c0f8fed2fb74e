// The crash handler. Fatal signals run abort_signal_handler on an alternate
// stack on the faulting thread; it logs what it can find out (title, guessed
// traces of every thread's stack, the system backtrace) and ends in
// main_fatal. Crashing threads are serialised by the exceptions lock; a
// fault inside the handler on the same thread ends the process at once
// instead of waiting for a lock it holds itself. Logging from a signal
// handler is not async-signal-safe: the process is dying anyway, and the
// log is the only place the trace can go.
#include "abort.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>

#include "appdata.h"
#include "ui/launch-linux.h"
#include "log.h"
#include "main.h"
#include "plat.h"
#include "version.h"

static const char kSrc[] = "src/abort";
constexpr int kAbortMaxFrames = 128;
constexpr int kAbortLineMax = 128;
constexpr int kAbortLineWrap = 69;
constexpr size_t kAbortAltStack = 64 * 1024;

static struct {
  plat_slot lock = -1;
  volatile sig_atomic_t app_error = 0;
  void *frames[kAbortMaxFrames];
  int frame_count = -1;
  char line[kAbortLineMax];
  uint8_t *alt_stack = nullptr;
} A;

static thread_local volatile sig_atomic_t in_handler = 0;

const char *abort_signal_title(int sig) {
  switch (sig) {
    case SIGILL: return "Illegal Instruction";
    case SIGABRT: return "Abort";
    case SIGFPE: return "Floating Point Exception";
    case SIGSEGV: return "Segfault";
    default: return "Exception";
  }
}

static void handler_entry(int sig) { abort_signal_handler(sig); }

void abort_init(int trap) {
  A.lock = plat_mutex_create();
  if (A.lock < 0) log(LOG_WARN, kSrc, "can't lock exceptions");
  // The first call loads libgcc's unwinder; doing it here keeps the
  // allocation out of the handler.
  void *warm[2];
  backtrace(warm, 2);
  if (!trap) return;
  if (!A.alt_stack) {
    A.alt_stack = new uint8_t[kAbortAltStack];
    stack_t ss{};
    ss.ss_sp = A.alt_stack;
    ss.ss_size = kAbortAltStack;
    if (sigaltstack(&ss, nullptr) != 0) log(LOG_OSERR, kSrc, "can't set signal stack");
  }
  struct sigaction sa{};
  sa.sa_handler = handler_entry;
  sa.sa_flags = SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGILL, SIGFPE, SIGSEGV, SIGABRT})
    if (sigaction(sig, &sa, nullptr) != 0) log(LOG_OSERR, kSrc, "can't trap signal %d", sig);
}

void abort_fini(void) {
  if (A.lock >= 0) plat_mutex_destroy(A.lock);
  A.lock = -1;
}

void abort_trap(void) {
  A.app_error = 1;
  __builtin_trap();
}

namespace {
struct slide_search {
  const char *exe;
  intptr_t slide;
  int found;
};
}  // namespace

static int slide_cb(struct dl_phdr_info *info, size_t, void *data) {
  auto *s = static_cast<slide_search *>(data);
  // The main program comes first with an empty name; shared objects carry
  // their paths.
  const char *name = info->dlpi_name;
  if ((!name || !*name) && !s->found) {
    s->slide = (intptr_t)info->dlpi_addr;
    s->found = 1;
    return 0;
  }
  if (name && s->exe[0] && strcmp(name, s->exe) == 0) {
    s->slide = (intptr_t)info->dlpi_addr;
    s->found = 2;
    return 1;
  }
  return 0;
}

intptr_t abort_program_slide(void) {
  char exe[1024] = "";
  if (launch_exe_path(exe) != 0) exe[0] = 0;
  slide_search s{exe, 0, 0};
  dl_iterate_phdr(slide_cb, &s);
  return s.found ? s.slide : 0;
}

namespace {
struct extent_search {
  uintptr_t slide;
  uintptr_t end;
};
}  // namespace

static int extent_cb(struct dl_phdr_info *info, size_t, void *data) {
  auto *e = static_cast<extent_search *>(data);
  if (info->dlpi_name && info->dlpi_name[0]) return 0;
  for (int i = 0; i < info->dlpi_phnum; i++) {
    const ElfW(Phdr) &ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD) continue;
    uintptr_t end = ph.p_vaddr + ph.p_memsz;
    if (end > e->end) e->end = end;
  }
  return 1;
}

// The program's link-time base is 0 on this platform (position-independent
// program), so the load base is the slide. The extent is the larger of the
// stored program file's size and the loaded image's segments, so that a
// program run outside its run slot is still covered.
void abort_program_range(intptr_t slide, uintptr_t *base, uintptr_t *size) {
  extent_search e{(uintptr_t)slide, 0};
  dl_iterate_phdr(extent_cb, &e);
  uintptr_t n = appdata_exe_size();
  if (e.end > n) n = e.end;
  *base = (uintptr_t)slide;
  *size = n;
}

// Reads words anywhere on a live stack, the instrumented redzones included.
__attribute__((no_sanitize("address"))) static uint64_t read_word(uintptr_t at) {
  const volatile uint8_t *p = reinterpret_cast<const volatile uint8_t *>(at);
  uint64_t v = 0;
  for (int i = 7; i >= 0; i--) v = (v << 8) | p[i];
  return v;
}

int abort_forward_trace(const char *label, uintptr_t top, intptr_t slide) {
  if (!top) {
    A.frame_count = -1;
    return -1;
  }
  uintptr_t base, size;
  abort_program_range(slide, &base, &size);
  int n = 0;
  int32_t scan = plat_stack_scan_size();
  uintptr_t prev = 0;
  for (int32_t off = 0; off + 8 <= scan; off += 4) {
    uint64_t w = read_word(top - (uintptr_t)off - 8);
    if (w < base || w >= base + size || w == prev) continue;
    if (n == kAbortMaxFrames) {
      log(LOG_WARN, kSrc, "exceeded %d possible frames", kAbortMaxFrames);
      break;
    }
    A.frames[n++] = reinterpret_cast<void *>(w);
    prev = w;
  }
  A.frame_count = n;
  log(LOG_INFO, kSrc, "%s fwdtrace (%d frames, guessed)", label, n);
  abort_write_backtrace(A.frames, n, slide);
  return n;
}

void abort_write_backtrace(const void *const *frames, int count, intptr_t slide) {
  if (count <= 0) {
    log(LOG_ERROR, kSrc, "no backtrace");
    return;
  }
  char *line = A.line;
  snprintf(line, kAbortLineMax, "backtrace %s %s linux-%s \\", version_platform(), version_build(),
           version_short());
  log_raw(line, 0xffffffffu);
  uintptr_t base, size;
  abort_program_range(slide, &base, &size);
  size_t len = 0;
  line[0] = 0;
  for (int i = 0; i < count; i++) {
    uintptr_t a = reinterpret_cast<uintptr_t>(frames[i]);
    if (a < base || a > base + size) continue;
    len += (size_t)snprintf(line + len, kAbortLineMax - len, "%p ", (void *)(a - (uintptr_t)slide));
    if (len >= kAbortLineWrap) {
      line[len++] = '\\';
      line[len] = 0;
      log_raw(line, 0xffffffffu);
      len = 0;
      line[0] = 0;
    }
  }
  if (len) log_raw(line, 0xffffffffu);
}

void abort_signal_handler(int sig) {
  if (in_handler) {
    // A fault while reporting: the report can't be finished.
    static const char msg[] = "fault in the crash handler\n";
    ssize_t r = write(2, msg, sizeof msg - 1);
    (void)r;
    _exit(1);
  }
  in_handler = 1;
  log_set_autoflush(1);
  if (A.lock >= 0) plat_mutex_lock(A.lock);
  const char *title = A.app_error ? "Application Error" : abort_signal_title(sig);
  log(LOG_ERROR, kSrc, "%s", title);
  intptr_t slide = abort_program_slide();
  log(LOG_WARN, kSrc, "tracer not enabled");
  snprintf(A.line, kAbortLineMax, "image offset %ld", (long)slide);
  log(LOG_RAW, kSrc, "%s", A.line);
  abort_forward_trace("main", main_stack_top(), slide);
  int32_t cursor = 0;
  int t = 1;
  for (uintptr_t top; (top = plat_next_thread_stack(&cursor)) != 0; t++) {
    char label[32];
    snprintf(label, sizeof label, "thread %d", t);
    abort_forward_trace(label, top, slide);
  }
  log_deferred();
  int n = backtrace(A.frames, kAbortMaxFrames);
  if (n <= 0) {
    log(LOG_OSERR, kSrc, "backtrace failed");
  } else {
    A.frame_count = n;
    log(LOG_INFO, kSrc, "backtrace (%d frames)", n);
    abort_write_backtrace(A.frames, n, slide);
    char **syms = backtrace_symbols(A.frames, n);
    for (int i = 0; i < n; i++) {
      Dl_info info;
      if (syms && syms[i]) {
        log(LOG_RAW, kSrc, "%s", syms[i]);
      } else if (dladdr(A.frames[i], &info) && info.dli_fname) {
        log(LOG_RAW, kSrc, "%2d %p %.128s", i, A.frames[i], plat_basename(info.dli_fname));
      } else {
        log(LOG_RAW, kSrc, "%2d %p %s", i, A.frames[i], "unknown");
      }
    }
  }
  if (A.lock >= 0) plat_mutex_unlock(A.lock);
  main_fatal(title);
}
