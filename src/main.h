// The process entry and the application main: option parsing, the fixed
// order in which the modules start and stop, the login flow and frame loop
// in between, re-execution for a restart after an update, and main_fatal,
// the last stop of every crash and FATAL log line. Main thread.
#pragma once
#include <cstdint>

constexpr int kMainDefaultPort = 6080;
constexpr int kMainRestartArgsMax = 30;
constexpr int kMainProtocol = 6;

// What the command line asks for.
constexpr int kMainPasswordMax = 127;  // characters of a password from the command line

struct main_settings {
  int log_on = 1;
  int alt = 0;
  int cpu = 0;
  const char *host = nullptr;
  int port = kMainDefaultPort;
  const char *site = nullptr;
  const char *user = nullptr;
  const char *password = nullptr;
  int noload = 0, nosave = 0, noupdate = 0, purge = 0, restart = 0;
};

// The process entry: platform layer, log, crash handler, the application
// run through the platform's launch layer, then exit or restart. 0 or 1.
int main_process(int argc, char **argv);
// The whole application: 0 after a normal run and shutdown, 1 when a module
// failed to start or a restart could not be prepared; "version", "help" and
// "-?" return 0 at once.
int main_app(int argc, char **argv);
[[noreturn]] void main_fatal(const char *title);
// The log's FATAL hook: traps into the crash handler.
void main_fatal_hook(const char *text);
uintptr_t main_stack_top(void);
// Records the main thread's stack top (main_app does, first thing).
void main_mark_stack_top(uintptr_t top);
// The exiting flag: 1 once the shutdown sequence has begun.
int main_exiting(void);
void main_set_exiting(int on);

// First pass (log, alternate slot, cpu): before the log file exists.
void main_options_first(int argc, char **argv, main_settings *s);
// Second pass: -1 to go on, else the code main_app returns at once.
int main_options_second(int argc, char **argv, main_settings *s);
// The usage text for program name argv0, on standard error.
void main_usage(const char *argv0);

// The argument list of a restart into `out` (room for kMainRestartArgsMax
// entries plus the closing null); the number of entries.
int main_restart_args(int argc, char **argv, const char *path, int restart, int alt, int log_open,
                      char **out);
// Re-executes `path` with the restart list (closing the log file first);
// returns only when that fails, after the OSERR line.
void main_restart(int argc, char **argv, const char *path);

// Test seam: called with each start step's name (starting 1) and each
// shutdown step's name (starting 0) before it runs; -1 from a start step
// counts as that step failing. Null removes it.
typedef int (*main_step_hook_fn)(const char *step, int starting);
void main_set_step_hook(main_step_hook_fn fn);
