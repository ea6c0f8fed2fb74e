// A small program the terminal's process tests run in child processes:
//   helper argv ARGS...           prints each argument on a line of its own
//   helper crash KIND              sets up the log, the data paths and the
//                                  crash handler as the program does, then
//                                  crashes: segv, trap, fatal, abort, fpe,
//                                  nested (the report's opener aborts),
//                                  exit (a segv
//                                  after shutdown began)
//   helper restart PATH ARGS...    re-executes PATH with the restart list
// The crash report's opener prints "opened TARGET" on standard output.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "abort.h"
#include "appdata.h"
#include "dalloc.h"
#include "log.h"
#include "main.h"
#include "plat.h"
#include "site.h"
#include "startup/crash.h"
#include "ui/launch-linux.h"

static int print_opener(const char *target) {
  printf("opened %s\n", target);
  fflush(stdout);
  return 0;
}

// An opener that fails hard, for a fault inside the crash handler.
static int aborting_opener(const char *) { abort(); }

extern "C" __attribute__((noinline, no_sanitize("undefined", "address"))) void helper_segv_here(volatile int *p) { *p = 42; }
extern "C" __attribute__((noinline)) void helper_trap_here(void) { abort_trap(); }
extern "C" __attribute__((noinline)) void helper_abort_here(void) { abort(); }
extern "C" __attribute__((noinline, no_sanitize("undefined"))) int helper_fpe_here(int d) {
  volatile int v = d;
  return 7 / v;
}
extern "C" __attribute__((noinline)) void helper_fatal_here(void) { log(LOG_FATAL, "helper", "helper gives up"); }

static int crash(const char *kind) {
  volatile char marker = 0;
  main_mark_stack_top(reinterpret_cast<uintptr_t>(&marker));
  if (plat_init() != 0 || log_init() != 0) return 2;
  log_set_memory(1);
  abort_init(1);
  if (dalloc_init() != 0) return 2;
  char exe[1024];
  if (launch_exe_path(exe) != 0 || appdata_init(exe, 0, 0) != 0) return 2;
  log_set_stderr(0);
  log_set_filename(appdata_log_path());
  log_set_fatal_hook(main_fatal_hook);
  crash_report_init(0);
  log_dump();
  log_start();
  site_init();
  launch_set_alert_log(1);
  launch_set_opener(print_opener);
  crash_watch_add(kCrashWatchLoadConfig, "Load Config");
  if (!strcmp(kind, "segv")) helper_segv_here(nullptr);
  if (!strcmp(kind, "trap")) helper_trap_here();
  if (!strcmp(kind, "fatal")) helper_fatal_here();
  if (!strcmp(kind, "abort")) helper_abort_here();
  if (!strcmp(kind, "fpe")) helper_fpe_here(0);
  if (!strcmp(kind, "nested")) {
    launch_set_opener(aborting_opener);
    helper_segv_here(nullptr);
  }
  if (!strcmp(kind, "exit")) {
    main_set_exiting(1);
    helper_segv_here(nullptr);
  }
  return 3;  // not crashed
}

int main(int argc, char **argv) {
  if (argc >= 2 && !strcmp(argv[1], "argv")) {
    for (int i = 0; i < argc; i++) printf("%s\n", argv[i]);
    return 0;
  }
  if (argc == 3 && !strcmp(argv[1], "crash")) return crash(argv[2]);
  if (argc >= 3 && !strcmp(argv[1], "restart")) {
    if (plat_init() != 0 || log_init() != 0) return 2;
    // argv[2] plays the program's own name, the rest its arguments.
    main_restart(argc - 2, argv + 2, argv[2]);
    return 4;
  }
  fprintf(stderr, "usage: helper argv|crash|restart ...\n");
  return 2;
}
