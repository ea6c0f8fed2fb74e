// The launcher's start: the runtime modules it shares with the terminal,
// the install or upgrade, the run slot and the hand-over by exec. Nothing
// passes to the terminal but files of the data tree and the argument list.
//
// Install failures only warn: a stored program that still runs is better
// than none. What must not fail is the run slot copy and the exec; those
// end in an alert that shows the recent log lines, so the user can read
// out what went wrong. The program is executed by its path (execv): a run
// slot file that is not a program must fail, not be read by a shell.
#include "stub/stub.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "appdata.h"
#include "dalloc.h"
#include "localdata.h"
#include "log.h"
#include "plat.h"
#include "stub/install.h"
#include "ui/launch-linux.h"

static const char kSrc[] = "src/stub/stub";
static const char kAlertTitle[] = "Ambit Error";
static const char kAlertMessage[] =
    "There was a problem launching Ambit:\n\n"
    "Please leave this message on your screen and contact Osprey2 for assistance";

static void show_alert(const char *title, const char *text);

static struct {
  stub_alert_fn alert = show_alert;
  int started;  // 1 plat, 2 log, 3 memory, 4 data paths
} S;

void stub_set_alert_hook(stub_alert_fn fn) { S.alert = fn ? fn : show_alert; }

void stub_parse_options(int argc, char **argv, stub_options *out) {
  *out = {0, 1, 0, 0};
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    if (a[0] != '-') continue;
    while (*a == '-') a++;
    if (strcmp(a, "alt") == 0)
      out->alt = 1;
    else if (strcmp(a, "log") == 0)
      out->log = 1;
    else if (strcmp(a, "nolog") == 0)
      out->log = 0;
    else if (strcmp(a, "debug") == 0)
      out->debug = 1;
    else if (strcmp(a, "32bit") == 0)
      out->bits = 32;
  }
}

// A message box needs a display; without one (a terminal session, a test)
// the alert goes to standard error, so it is neither lost nor waited on.
static void show_alert(const char *title, const char *text) {
  const char *x = getenv("DISPLAY"), *w = getenv("WAYLAND_DISPLAY");
  if ((x && *x) || (w && *w)) {
    launch_alert(title, text, nullptr, 3);
    return;
  }
  fprintf(stderr, "%s\n%s\n", title, text);
  fflush(stderr);
}

char *stub_alert_text(char *out, size_t size) {
  // The newest lines that fit, counted back from the end, then written
  // oldest first.
  std::vector<const char *> lines;
  size_t bytes = 0;
  void *cursor = nullptr;
  const char *text;
  while ((int)lines.size() < kStubAlertLogLines &&
         log_walk_newer(nullptr, nullptr, &text, &cursor)) {
    size_t n = strlen(text) + (lines.empty() ? 0 : 1);
    if (bytes + n >= (size_t)kStubAlertLogBytes) break;
    bytes += n;
    lines.push_back(text);
  }
  char recent[kStubAlertLogBytes];
  recent[0] = 0;
  size_t used = 0;
  for (size_t i = lines.size(); i-- > 0;) {
    int n = snprintf(recent + used, sizeof recent - used, "%s%s", lines[i], i ? "\n" : "");
    if (n < 0 || (size_t)n >= sizeof recent - used) break;
    used += (size_t)n;
  }
  snprintf(out, size, "%s\n\n%s", kAlertMessage, recent);
  return out;
}

// Stops what was started, in reverse order.
static void stop_modules() {
  if (S.started >= 4) appdata_fini();
  if (S.started >= 3) dalloc_fini();
  if (S.started >= 2) log_fini();
  if (S.started >= 1) plat_fini();
  S.started = 0;
}

static int fail(int code) {
  // A log file that is named but closed has not seen the lines yet.
  if (log_filename() && !log_has_file()) log_dump();
  char text[kStubAlertMax];
  stub_alert_text(text, sizeof text);
  S.alert(kAlertTitle, text);
  stop_modules();
  return code;
}

// The debugging log lives in the data tree beside the log file, never in
// the shared temporary folder where another user could read it or plant a
// link at its name. It is still never followed, and the file is private.
static void open_debug_log() {
  char name[kAppdataPathMax];
  if (!localdata_path(name, LOCALDATA_ROOT, kStubDebugLogName)) {
    log(LOG_ERROR, kSrc, "can't name the debugging log");
    return;
  }
  log_set_filename(name);
  int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  FILE *f = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (!f) {
    if (fd >= 0) close(fd);
    // Forgotten, so that nothing later (the failure dump) opens it by name.
    log_set_filename(nullptr);
    log(LOG_OSERR, kSrc, "can't write to %s", name);
    return;
  }
  log_set_autoflush(1);
  log_open_file(f);
}

int stub_main(int argc, char **argv) {
  S.started = 0;
  if (plat_init() != 0) return 1;
  S.started = 1;
  if (log_init() != 0) return fail(1);
  S.started = 2;
  log_set_memory(1);
  launch_main(argc, argv, nullptr);
  if (dalloc_init() != 0) return fail(1);
  S.started = 3;

  char program[kAppdataPathMax];
  snprintf(program, sizeof program, "%s", argc > 0 && argv[0] ? argv[0] : "");
  stub_options opt;
  stub_parse_options(argc, argv, &opt);

  if (appdata_init(program, opt.alt, opt.bits) != 0) return fail(1);
  S.started = 4;
  if (opt.debug) {
    open_debug_log();
    log(LOG_INFO, kSrc, "starting stub %s (debugging)", program);
  }
  if (opt.log && !opt.debug && appdata_log_path()) {
    log_set_filename(appdata_log_path());
    log_set_autoflush(1);
    log_open("we");
  }

  if (!appdata_is_installed()) {
    log(LOG_INFO, kSrc, "installing Ambit");
    if (appdata_install() != 0) log(LOG_WARN, kSrc, "installation failed, trying to continue");
  } else if (appdata_needs_upgrade()) {
    log(LOG_INFO, kSrc, "upgrading Ambit");
    if (appdata_install() != 0)
      log(LOG_WARN, kSrc, "installation upgrade failed, trying to continue");
  }
  appdata_clear_run_dirs();

  if (appdata_install_exe() != 0) {
    char stored[kLocaldataPathMax];
    if (localdata_path_into(stored, LOCALDATA_PROGRAM, appdata_stored_exe()) != 0 ||
        access(stored, F_OK) != 0)
      log(LOG_ERROR, kSrc, "Can't find executable");
    log(LOG_ERROR, kSrc, "Can't write executable");
    return fail(255);
  }

  const char *slot = appdata_restart_exe();
  char **args = (char **)calloc((size_t)argc + kStubExtraArgs, sizeof(char *));
  if (!args || !slot) {
    log(LOG_ERROR, kSrc, "can't alloc space for %d args", argc + 1);
    free(args);
    return fail(1);
  }
  int n = 0;
  args[n++] = (char *)plat_native_path(slot);
  for (int i = 1; i < argc; i++)
    if (strcmp(argv[i], "--debug") != 0) args[n++] = argv[i];
  args[n] = nullptr;

  log(LOG_INFO, kSrc, "executing %s with %d args", args[0], argc);
  if (opt.log && !opt.debug)
    log_close();
  else if (opt.debug)
    log_flush();
  execv(args[0], args);
  int err = errno;
  if (opt.log && !opt.debug) log_open("ae");
  if (opt.debug) log_flush();
  errno = err;
  log(LOG_OSERR, kSrc, "can't execute %s", args[0]);
  free(args);
  return fail(1);
}
