// The process entry and the application main. main_process brings up the
// platform layer, the log and the crash handler and hands main_app to the
// launch layer; main_app parses the options, starts the modules in a fixed
// order (later modules rely on earlier ones: the gui needs the texture atlas,
// the styles need the gui), runs the login flow and the frame loop, and shuts
// the modules down in a fixed order. The start steps and the shutdown steps
// are tables, so the order reads in one place and a test can watch it.
#include "main.h"

#include <fcntl.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "abort.h"
#include "appdata.h"
#include "charts/cstyle.h"
#include "config/config.h"
#include "config/load_local.h"
#include "config/load_remote.h"
#include "config/save_local.h"
#include "config/save_remote.h"
#include "config/secret.h"
#include "dalloc.h"
#include "dnd.h"
#include "doc/docmgr.h"
#include "doc/pdf.h"
#include "export/clipboard.h"
#include "keyboard.h"
#include "lazyfree.h"
#include "lib/fade.h"
#include "lib/gmap.h"
#include "lib/phash.h"
#include "lib/scan.h"
#include "lib/splash.h"
#include "lib/strbuf.h"
#include "lib/tex.h"
#include "log.h"
#include "plat.h"
#include "rss/rss.h"
#include "site.h"
#include "ssclient.h"
#include "ssio-http.h"
#include "startup/crash.h"
#include "startup/start.h"
#include "style.h"
#include "term/tt_io.h"
#include "trading/trading.h"
#include "ui/gui.h"
#include "ui/launch-linux.h"
#include "undo.h"
#include "version.h"
#include "windows/window.h"

static const char kSrc[] = "src/main";
static const char kAppName[] = "Ambit";
constexpr int kMainPathMax = 1024;
constexpr int32_t kMainAllocWarn = 100000000;
constexpr uint32_t kMainUpdateFlags = 16;
constexpr uint32_t kMainModelOptions = 12;
constexpr uint32_t kMainIoParam = 274;

static struct {
  uintptr_t stack_top = 0;
  char exe_path[kMainPathMax] = "";
  char restart_path[kMainPathMax] = "";
  volatile int exiting = 0;
  main_step_hook_fn hook = nullptr;
} M;

uintptr_t main_stack_top(void) { return M.stack_top; }
void main_mark_stack_top(uintptr_t top) { M.stack_top = top; }
int main_exiting(void) { return M.exiting; }
void main_set_exiting(int on) { M.exiting = on; }
void main_set_step_hook(main_step_hook_fn fn) { M.hook = fn; }

void main_fatal_hook(const char *) { abort_trap(); }

// ---- options ----

// The text after the leading run of dashes, or null for a non-option.
static const char *undash(const char *a) {
  if (a[0] != '-') return nullptr;
  while (*a == '-') a++;
  return a;
}

void main_options_first(int argc, char **argv, main_settings *s) {
  for (int i = 1; i < argc; i++) {
    const char *o = undash(argv[i]);
    if (!o) continue;
    if (!strcmp(o, "log")) {
      s->log_on = 1;
    } else if (!strcmp(o, "nolog")) {
      s->log_on = 0;
    } else if (!strcmp(o, "alt")) {
      s->alt = 1;
    } else if (!strcmp(o, "cpu")) {
      if (i + 1 < argc) sscanf(argv[++i], "%d", &s->cpu);
    } else if (!strcmp(o, "filecodes")) {
      i++;
    }
  }
}

void main_usage(const char *argv0) {
  int w = (int)strlen(argv0) + 1;
  fprintf(stderr,
          "Usage: %s OPTIONS\n      %*s ... [-h host] [-P port] [-s site] [-u user] [-p passwd]\n"
          "      %*s ... [--noupdate] [--noload] [--nosave] [--notrap]\n      %*s ... [--purge]\n"
          "      %*s ... [--log]\n      %*s --version\n      %*s --help\n"
          "      %*s ... [--password-file file]  (\"-p -\" reads it from standard input)\n",
          argv0, w, " ", w, " ", w, " ", w, " ", w, " ", w, " ", w, " ");
}

// The password given on the command line. A password typed after -p stands
// in the process list for anyone to read, so it is copied here and wiped
// from the arguments; "-p -" and "--password-file FILE" keep it out of them
// altogether (the first line of standard input or of the file).
static char g_password[kMainPasswordMax + 1];

static const char *take_password(char *arg) {
  snprintf(g_password, sizeof g_password, "%s", arg);
  memset(arg, 0, strlen(arg));
  return g_password;
}

static const char *read_password(FILE *f, const char *from) {
  if (!f || !fgets(g_password, sizeof g_password, f)) {
    log(LOG_ERROR, kSrc, "can't read a password from %s", from);
    g_password[0] = 0;
  }
  g_password[strcspn(g_password, "\r\n")] = 0;
  return g_password;
}

int main_options_second(int argc, char **argv, main_settings *s) {
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    if (a[0] != '-') {
      log(LOG_ERROR, kSrc, "unrecognized nonoption '%s'", a);
      main_usage(argv[0]);
      continue;
    }
    if (strlen(a) == 2) {
      const char **value = nullptr;
      switch (a[1]) {
        case 'P':
          if (i + 1 < argc) s->port = atoi(argv[++i]);
          continue;
        case 'h': value = &s->host; break;
        case 'p':
          if (i + 1 < argc)
            s->password = strcmp(argv[i + 1], "-") == 0 ? read_password(stdin, "standard input")
                                                          : take_password(argv[i + 1]);
          i++;
          continue;
        case 's': value = &s->site; break;
        case 'u': value = &s->user; break;
        case '?': main_usage(argv[0]); return 0;
        default:
          log(LOG_RAW, kSrc, "unrecognized option '%s'", a);
          main_usage(argv[0]);
          return 1;
      }
      if (i + 1 < argc) *value = argv[++i];
      continue;
    }
    const char *o = undash(a);
    if (!strcmp(o, "noload")) {
      s->noload = 1;
    } else if (!strcmp(o, "nosave")) {
      s->nosave = 1;
    } else if (!strcmp(o, "noupdate")) {
      s->noupdate = 1;
    } else if (!strcmp(o, "purge")) {
      s->purge = 1;
    } else if (!strcmp(o, "restart")) {
      s->restart = 1;
    } else if (!strcmp(o, "log") || !strcmp(o, "nolog") || !strcmp(o, "notrap") ||
               !strcmp(o, "stderr") || !strcmp(o, "alt") || !strcmp(o, "managed") ||
               !strcmp(o, "trace")) {
    } else if (!strcmp(o, "password-file")) {
      if (i + 1 < argc) {
        FILE *f = fopen(argv[++i], "r");
        s->password = read_password(f, argv[i]);
        if (f) fclose(f);
      }
    } else if (!strcmp(o, "cpu") || !strcmp(o, "filecodes")) {
      i++;
    } else if (!strcmp(o, "version")) {
      printf("%s\n", version_build_text());
      fflush(stdout);
      return 0;
    } else if (!strcmp(o, "help")) {
      main_usage(argv[0]);
      return 0;
    } else if (!strncmp(o, "psn_", 4)) {
      // the launcher's process serial number
    } else {
      log(LOG_ERROR, kSrc, "unrecognized option '%s'", a);
      main_usage(argv[0]);
    }
  }
  return -1;
}

// ---- restart ----

int main_restart_args(int argc, char **argv, const char *path, int restart, int alt, int log_open,
                      char **out) {
  int n = 0;
  out[n++] = const_cast<char *>(plat_native_path(path));
  if (restart) out[n++] = const_cast<char *>("--restart");
  if (alt) out[n++] = const_cast<char *>("--alt");
  if (log_open) out[n++] = const_cast<char *>("--log");
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    const char *o = undash(a);
    if (!strcmp(a, "-s") || !strcmp(a, "-u") || !strcmp(a, "-p") || (o && !strcmp(o, "password-file"))) {
      i++;
      continue;
    }
    if (!strcmp(a, "--restart") || !strcmp(a, "--alt") || !strcmp(a, "--log") ||
        !strcmp(a, "--purge") || !strcmp(a, "--noupdate"))
      continue;
    if (n == kMainRestartArgsMax) {
      log(LOG_ERROR, kSrc, "too many args for restart, hoping for the best");
      break;
    }
    out[n++] = argv[i];
  }
  out[n] = nullptr;
  return n;
}

// Every descriptor but the standard three is closed on exec, so the new
// program starts with nothing of this run's open.
static void close_on_exec_all(void) {
  long max = sysconf(_SC_OPEN_MAX);
  if (max < 0 || max > 65536) max = 65536;
  for (int fd = 3; fd < max; fd++) {
    int fl = fcntl(fd, F_GETFD);
    if (fl >= 0) fcntl(fd, F_SETFD, fl | FD_CLOEXEC);
  }
}

void main_restart(int argc, char **argv, const char *path) {
  char *args[kMainRestartArgsMax + 1];
  int had_log = log_has_file();
  // The start flow's flag: the client's own was cleared when the client
  // stopped, before the process gets here.
  main_restart_args(argc, argv, path, restart_pending(), appdata_is_alt(), had_log, args);
  if (had_log) log_close();
  close_on_exec_all();
  execvp(args[0], args);
  if (had_log) log_start();
  log(LOG_OSERR, kSrc, "unable to restart %s %s %s%s", args[0], args[1] ? args[1] : "",
      args[1] && args[2] ? args[2] : "", args[1] && args[2] && args[3] ? "..." : "");
}

// ---- the process entry ----

static void finish_process(void) {
  abort_fini();
  log_fini();
  plat_fini();
}

int main_process(int argc, char **argv) {
  if (plat_init() != 0) {
    fputs("unable to initialize platform functions\n", stderr);
    return 1;
  }
  if (log_init() != 0) {
    fputs("unable to initiate logging\n", stderr);
    return 1;
  }
  log_set_memory(1);
  int trap = 1;
  for (int i = 0; i < argc; i++)
    if (!strcmp(argv[i], "--notrap")) trap = 0;
  abort_init(trap);
  gui_set_app_name(kAppName);
  launch_main(argc, argv, main_app);
  int result = launch_cleanup();
  if (restart_pending()) {
    if (!M.restart_path[0])
      log(LOG_ERROR, kSrc, "can't restart: no exe filename");
    else
      main_restart(argc, argv, M.restart_path);
  }
  finish_process();
  return result ? 1 : 0;
}

// ---- the application main ----

// Runs a start step through the test hook: -1 when the hook fails it.
static bool hook_fails(const char *name) { return M.hook && M.hook(name, 1) == -1; }
static void hook_stop(const char *name) {
  if (M.hook) M.hook(name, 0);
}

namespace {
struct start_step {
  const char *name;
  int (*init)(void);
  bool optional = false;  // its failure does not stop the start
};
struct stop_step {
  const char *name;
  void (*fini)(void);
};
}  // namespace

static int gui_start(void) { return gui_init(kAppName); }
static int gmap_start(void) { return gmap_init(kGmapBudget); }

// The modules after the gui: each failure ends the start.
static const start_step kLateSteps[] = {
    {"style", style_init},   {"scan", scan_init}, {"cstyle", cstyle_init}, {"keyboard", keyboard_init},
    {"docmgr", docmgr_init}, {"rss", rss_init},
    {"pdf", pdf_init, true},  // the program runs without PDF views
    {"tt", tt_init},
};
static const start_step kEarlySteps[] = {
    // The fades first: the styles' colour ramps are fade ranges. They have no
    // stop step: windows freed while the gui quits may leave running fades
    // naming them (the module allows it), so their memory goes with the
    // process.
    {"fade", fade_init},
    {"undo", undo_init}, {"trading", trading_init}, {"clipboard", clipboard_init}, {"gmap", gmap_start},
    {"tex", tex_init},   {"splash", splash_init},   {"phash", phash_init},         {"dnd", dnd_init},
    {"gui", gui_start},
};
static const stop_step kStopSteps[] = {
    {"gmap_flush_cache", gmap_flush_cache},
    {"keyboard", keyboard_fini},
    {"undo", undo_fini},
    {"window_destroy_all", window_destroy_all},
    {"cstyle", cstyle_fini},
    {"phash", phash_fini},
    {"dnd", dnd_fini},
    {"scan", scan_fini},
    {"style", style_fini},
    {"pdf", pdf_shutdown},
    {"splash", splash_fini},
    {"trading", trading_fini},
    {"docmgr", docmgr_shutdown},
    {"rss", rss_shutdown},
    {"tex", tex_fini},
    {"gmap", gmap_fini},
    {"tt", tt_shutdown},
    {"gui", gui_shutdown},
    {"config", config_shutdown},
    {"clipboard", clipboard_shutdown},
    {"ssclient", ssclient_fini},
};

static int run_steps(const start_step *steps, size_t n) {
  for (size_t i = 0; i < n; i++) {
    bool failed = hook_fails(steps[i].name) || steps[i].init() == -1;
    if (failed && !steps[i].optional) return -1;
  }
  return 0;
}

// Machine memory: total and used bytes, load in percent. Used is what is not
// available to a new program ("MemAvailable": free memory plus the caches the
// kernel can drop), falling back to the free count when that line is absent.
static void machine_memory(uint64_t *total, uint64_t *used, int *load) {
  struct sysinfo si{};
  *total = *used = 0;
  *load = 0;
  if (sysinfo(&si) != 0) return;
  *total = (uint64_t)si.totalram * si.mem_unit;
  uint64_t avail = (uint64_t)si.freeram * si.mem_unit;
  if (FILE *f = fopen("/proc/meminfo", "r")) {
    char line[128];
    unsigned long long kb;
    while (fgets(line, sizeof line, f))
      if (sscanf(line, "MemAvailable: %llu kB", &kb) == 1) avail = kb * 1024;
    fclose(f);
  }
  *used = avail < *total ? *total - avail : 0;
  if (*total) *load = (int)(*used * 100 / *total);
}

static void restart_prepare_path(void) {
  const char *p = appdata_restart_exe();
  snprintf(M.restart_path, sizeof M.restart_path, "%s", p ? p : "");
}

int main_app(int argc, char **argv) {
  volatile char marker = 0;
  main_mark_stack_top(reinterpret_cast<uintptr_t>(&marker));
  if (launch_exe_path(M.exe_path) != 0) M.exe_path[0] = 0;
  log(LOG_INFO, kSrc, "running %s", M.exe_path);
  if (dalloc_init() != 0) return 1;
  dalloc_set_warn_size(kMainAllocWarn);

  main_settings s;
  main_options_first(argc, argv, &s);
  if (s.cpu > 0) log(LOG_WARN, kSrc, "don't know how to set processor affinity");
  if (strbuf_init() != 0) return 1;
  log_set_stderr(0);
  if (appdata_init(M.exe_path, s.alt, 0) != 0) return 1;
  log_set_filename(appdata_log_path());
  log_set_fatal_hook(main_fatal_hook);
  crash_report_init(0);
  if (s.log_on) {
    log_dump();
    log_start();
  }
  log(LOG_INFO, kSrc, "starting %s %s %s %s protocol %d", kAppName, version_build_text(),
      version_platform(), version_date(), kMainProtocol);
  if (crash_in_list(100)) log(LOG_WARN, kSrc, "last crash caused by: Test");
  if (crash_in_list(101)) log(LOG_WARN, kSrc, "last crash caused by: PixelFormatDescriptor (can't workaround)");
  if (crash_in_list(103)) log(LOG_WARN, kSrc, "last crash caused by: ShellExecute (todo: disable)");
  if (crash_in_list(104)) log(LOG_WARN, kSrc, "last crash caused by: wglDeleteContext (todo: disable)");
  (void)crash_in_list(105);
  log(LOG_INFO, kSrc, "operating system: %s", plat_os_description());
  uint64_t total, used;
  int load;
  machine_memory(&total, &used, &load);
  log(LOG_INFO, kSrc, "memory total: %llub (load %d%%)", (unsigned long long)total, load);

  int r = main_options_second(argc, argv, &s);
  if (r >= 0) return r;

  if (hook_fails("ssclient") ||
      ssclient_init(s.noupdate ? kMainUpdateFlags : 0, kMainModelOptions, kMainIoParam) != 0)
    return 1;
  if (s.restart) ssclient_set_restart(1);
  ssclient_set_yield(25000, 20);
  ssclient_enable_yield(0);
  ssclient_enable_locking();
  lazyfree_set_enabled(1);
  lazyfree_set_delay(10);
  // "--noload" and "--nosave" govern the user configuration kept on the
  // server; the local settings are always read and written.
  load_remote_enable(!s.noload);
  save_remote_enable(!s.nosave);
  if (s.purge) log(LOG_WARN, kSrc, "purging is ignored");
  ssio_http_set_user_agent("%s-%s", kAppName, version_full());

  if (hook_fails("site") || site_init() == -1) return 1;
  if (hook_fails("config") || config_init() == -1) return 1;
  if (!hook_fails("load_local") && load_local_config() == -1) {
    log(LOG_WARN, kSrc, "error parsing local config, setting to defaults");
    secret_local_defaults();
  }
  local_config *lc = hook_fails("config_local") ? nullptr : config_local();
  if (!lc) log(LOG_WARN, kSrc, "no local config");
  if (run_steps(kEarlySteps, sizeof kEarlySteps / sizeof kEarlySteps[0]) != 0) return 1;
  if (lc && !hook_fails("style_set_scale")) style_set_scale(lc->speed);
  if (run_steps(kLateSteps, sizeof kLateSteps / sizeof kLateSteps[0]) != 0) return 1;

  style_select(0);
  style_set_size(0);
  int started = hook_fails("start_main") ? 1 : start_main(s.site, s.user, s.password, s.host, s.port);
  if (started == 0) gui_main_loop();

  if (restart_pending()) {
    appdata_toggle_alt();
    if (appdata_install_exe() != 0) {
      appdata_toggle_alt();
      if (appdata_install_exe() != 0) {
        log(LOG_ERROR, kSrc, "can't restart with updated exe");
        return 1;
      }
    }
    restart_prepare_path();
  }

  log_set_memory(0);
  hook_stop("start_cleanup");
  start_cleanup();
  M.exiting = 1;
  for (const stop_step &st : kStopSteps) {
    hook_stop(st.name);
    st.fini();
  }
  if (restart_pending()) restart_prepare_path();
  hook_stop("appdata");
  appdata_fini();
  hook_stop("site");
  site_fini();
  hook_stop("strbuf");
  strbuf_fini();
  hook_stop("crash_report");
  crash_report_shutdown();
  hook_stop("dalloc");
  dalloc_fini();
  log(LOG_INFO, kSrc, "stopping %s", kAppName);
  return 0;
}

// ---- fatal errors ----

void main_fatal(const char *title) {
  log(LOG_ERROR, kSrc, "Fatal Error: %s", title);
  uint64_t total, used;
  int load;
  machine_memory(&total, &used, &load);
  dalloc_mem_stats_rec ms{};
  dalloc_mem_stats(&ms);
  log(LOG_INFO, kSrc, "memory load: %d%%", load);
  log(LOG_INFO, kSrc, "      total: %12llub", (unsigned long long)total);
  log(LOG_INFO, kSrc, "       used: %12llub", (unsigned long long)used);
  if (total) log(LOG_INFO, kSrc, " ambit load: %d%%", (int)(ms.resident_size * 100 / total));
  log(LOG_INFO, kSrc, "working set: %12llub", (unsigned long long)ms.resident_size);
  const char *fn = log_filename();
  if (fn && fn[0] && !log_has_file()) log_dump();
  log_flush();
  if (M.exiting) {
    log(LOG_WARN, kSrc, "ignoring crash at exit");
    crash_state_remove();
    log_flush();
    _exit(0);
  }
  static const char kHead[] = "Ambit has encountered a problem and needs to close:";
  const char *shown = dalloc_out_of_memory() ? "Out of Memory" : title;
  const site_row *site = site_current();
  const char *who = site && site->short_name && site->short_name[0] ? site->short_name : "Osprey2";
  size_t cap = strlen(shown) + 1075;
  char *text = static_cast<char *>(malloc(cap));
  if (text) {
    snprintf(text, cap,
             "%s\n\n\t[%s]\n\nA report will be generated and sent to %s help solve the problem.", kHead,
             shown, who);
  }
  launch_alert("Fatal Error", text ? text : kHead, nullptr, 3);
  free(text);
  crash_report_send(0);
  log_flush();
  _exit(0);
}
