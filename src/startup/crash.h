// Crash watches and the crash report. A watch is a short labelled marker set
// around risky work; the live watches are mirrored in the crash state file
// "state.txt" at every change, so the next start can tell what a crashed run
// was doing. The report is an HTML form in the Temp folder holding the log
// and the last known state, opened in the web browser for the user to post.
#pragma once
#include <cstdint>
#include <ctime>
#include <string>

constexpr int kCrashWatchStart = 1;
constexpr int kCrashWatchSending = 2;
constexpr int kCrashWatchLoadConfig = 102;

constexpr uint32_t kCrashReportNotCrash = 1;    // a log report
constexpr uint32_t kCrashReportNotCurrent = 2;  // a previous run's crash
constexpr uint32_t kCrashReportKeepState = 4;

// 0, or -1 when the watch lock can't be made (reporting then stays off).
// Reads the previous run's state file and adds the start watch.
int crash_report_init(int send_previous);
// 1 when the previous run's state file held `kind`.
int crash_in_list(int kind);
// The new watch's id; 0 while reporting is off; -1 (ERROR) without a record.
int crash_watch_add(int kind, const char *text);
// 0; -1 with ERROR "can't find crash watch %d" for an unknown id.
int crash_watch_remove(int id);
// Writes the report form and opens it; the opener's result, or -1.
int crash_report_send(uint32_t flags);
void crash_state_remove(void);
void crash_report_shutdown(void);
// The last report file written ("" before any).
const char *crash_report_path(void);
// Cuts a log longer than 100000 characters that has 300 lines or more: the
// first 300 lines, "\n--- CUT %db ---\n" and the tail. Returns the text to send.
std::string crash_report_cut_log(const std::string &log);
// The text with &, <, > and " written as HTML character references.
std::string crash_report_escape(const std::string &text);
// Test seam: the report's time (0 restores the clock).
void crash_report_set_time(time_t t);
