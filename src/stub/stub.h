// The launcher: makes sure the terminal is installed in the per-user data
// tree, copies the stored program into a run slot and replaces itself with
// it, passing its own arguments on. Its only window is the failure alert.
#pragma once
#include <cstddef>

constexpr char kStubDebugLogName[] = "ambitlog.txt";  // in the data tree's root
constexpr int kStubAlertMax = 4096;       // bytes of the whole alert text
constexpr int kStubAlertLogBytes = 2048;  // bytes of the log lines in it
constexpr int kStubAlertLogLines = 16;
constexpr int kStubExtraArgs = 7;         // argument list room beyond the count

struct stub_options {
  int alt;    // run slot 1 instead of 0
  int log;    // log to the data tree's "log.txt" (on unless "nolog")
  int debug;  // log to the data tree's kStubDebugLogName, every line flushed
  int bits;   // 32 with "32bit", else 0
};

// Reads the options: every argument after the first that begins with '-',
// its run of leading dashes skipped, matched against "alt", "log", "nolog",
// "debug" and "32bit"; anything else is left for the terminal.
void stub_parse_options(int argc, char **argv, stub_options *out);

// Runs the launcher. Returns only on failure: 1 (start-up, allocation or
// execution failed), 255 (the run slot could not be written).
int stub_main(int argc, char **argv);

// The failure alert's text: the fixed message, a blank line and the last
// log lines of the in-memory log (newest 16 at most, fewer when they would
// reach 2048 bytes), oldest first. Returns `out`.
char *stub_alert_text(char *out, size_t size);

// Where the failure alert goes. The default shows a critical message box,
// or writes to standard error when there is no display. Null restores it.
typedef void (*stub_alert_fn)(const char *title, const char *text);
void stub_set_alert_hook(stub_alert_fn fn);
