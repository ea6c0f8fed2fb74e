// Crash watches and the crash report form. Watches are kept newest first;
// removed records go to a free list and are reused, so adding a watch in a
// low-memory crash path rarely allocates. The state file is rewritten whole
// on every change under the watch lock: it is a handful of short lines, and
// rewriting keeps it exact whichever moment the process dies.
#include "startup/crash.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "appdata.h"
#include "dalloc.h"
#include "ui/launch-linux.h"
#include "log.h"
#include "plat.h"

static const char kSrc[] = "src/startup/crash";
constexpr int kCrashTextMax = 100;
constexpr int kCrashPrevMax = 20;
constexpr size_t kCrashLogMax = 100000;
constexpr int kCrashLogHeadLines = 300;
constexpr int kCrashPad = 26;
// Where the form posts. The host is this product's own.
static const char kCrashEndpoint[] = "http://support.ambit-terminal.invalid/ambit-report";

namespace {
struct crash_watch {
  int32_t id;
  int32_t kind;
  char text[kCrashTextMax];
  crash_watch *next;
};
}  // namespace

static struct {
  int on = 0;
  plat_slot lock = -1;
  char state_path[1024] = "";
  crash_watch *live = nullptr;
  crash_watch *free_list = nullptr;
  int32_t next_id = 1;
  int start_id = 0;
  int prev[kCrashPrevMax];
  int prev_count = 0;
  char report_path[1024] = "";
  time_t fixed_time = 0;
} C;

static time_t now(void) { return C.fixed_time ? C.fixed_time : time(nullptr); }
void crash_report_set_time(time_t t) { C.fixed_time = t; }
const char *crash_report_path(void) { return C.report_path; }

// Under the watch lock.
static void write_state(void) {
  if (!C.state_path[0]) {
    log(LOG_ERROR, kSrc, "no crash filename");
    return;
  }
  // Written beside and renamed over the old file, so that a process killed
  // mid-write leaves the previous state whole rather than half a list.
  char tmp[sizeof C.state_path + 8];
  snprintf(tmp, sizeof tmp, "%s.tmp", C.state_path);
  FILE *f = fopen(tmp, "w");
  if (!f) {
    log(LOG_OSERR, kSrc, "can't write to %s", tmp);
    return;
  }
  for (crash_watch *w = C.live; w; w = w->next) fprintf(f, "%04d %s\n", w->kind, w->text);
  if (fclose(f) != 0 || rename(tmp, C.state_path) != 0) {
    log(LOG_OSERR, kSrc, "can't write to %s", C.state_path);
    unlink(tmp);
  }
}

int crash_report_init(int send_previous) {
  const char *sp = appdata_state_path();
  snprintf(C.state_path, sizeof C.state_path, "%s", sp ? sp : "");
  C.lock = plat_mutex_create();
  if (C.lock < 0) return -1;
  C.on = 1;
  C.prev_count = 0;
  if (FILE *f = C.state_path[0] ? fopen(C.state_path, "r") : nullptr) {
    // Whole lines, so that a stray NUL in one cannot hide its end and take
    // the next line's kind with it.
    char *line = nullptr;
    size_t cap = 0;
    while (getline(&line, &cap, f) > 0) {
      int kind = atoi(line);
      if (C.prev_count < kCrashPrevMax)
        C.prev[C.prev_count++] = kind;
      else
        log(LOG_ERROR, kSrc, "too many crashes!");
    }
    free(line);
    fclose(f);
  }
  if (!crash_in_list(kCrashWatchSending) && send_previous) crash_report_send(kCrashReportNotCurrent);
  char text[64];
  time_t t = now();
  struct tm tm;
  localtime_r(&t, &tm);
  strftime(text, sizeof text, "Starting %Y-%m-%d %H:%M:%S", &tm);
  C.start_id = crash_watch_add(kCrashWatchStart, text);
  return 0;
}

int crash_in_list(int kind) {
  for (int i = 0; i < C.prev_count; i++)
    if (C.prev[i] == kind) return 1;
  return 0;
}

int crash_watch_add(int kind, const char *text) {
  if (!C.on) return 0;
  plat_lock_guard g(C.lock);
  crash_watch *w = C.free_list;
  if (w) {
    C.free_list = w->next;
  } else {
    w = static_cast<crash_watch *>(malloc(sizeof *w));
    if (!w) {
      log(LOG_ERROR, kSrc, "can't alloc crash watch: %s", text);
      return -1;
    }
  }
  w->id = C.next_id++;
  w->kind = kind;
  snprintf(w->text, sizeof w->text, "%s", text);
  w->next = C.live;
  C.live = w;
  write_state();
  return w->id;
}

int crash_watch_remove(int id) {
  if (!C.on) return 0;
  plat_lock_guard g(C.lock);
  for (crash_watch **p = &C.live; *p; p = &(*p)->next) {
    if ((*p)->id != id) continue;
    crash_watch *w = *p;
    *p = w->next;
    w->next = C.free_list;
    C.free_list = w;
    write_state();
    return 0;
  }
  log(LOG_ERROR, kSrc, "can't find crash watch %d", id);
  return -1;
}

void crash_state_remove(void) {
  if (C.state_path[0]) unlink(C.state_path);
}

void crash_report_shutdown(void) {
  if (!C.on) return;
  if (C.start_id > 0) crash_watch_remove(C.start_id);
  C.start_id = 0;
  plat_mutex_destroy(C.lock);
  C.lock = -1;
  C.on = 0;
  bool none = C.live == nullptr;
  for (crash_watch *w = C.live, *n; w; w = n) {
    n = w->next;
    free(w);
  }
  C.live = nullptr;
  if (none) crash_state_remove();
  for (crash_watch *w = C.free_list, *n; w; w = n) {
    n = w->next;
    free(w);
  }
  C.free_list = nullptr;
}

// The whole file, or "" when it is missing or empty; *ok = 0 after a failure.
static std::string read_whole(const char *path) {
  std::string out;
  if (!path || !path[0]) return out;
  FILE *f = fopen(path, "rb");
  if (!f) return out;
  if (fseek(f, 0, SEEK_END) == 0) {
    long n = ftell(f);
    if (n > 0) {
      out.resize((size_t)n);
      rewind(f);
      size_t got = fread(out.data(), 1, (size_t)n, f);
      if (got != (size_t)n) {
        log(LOG_OSERR, kSrc, "can't read %db from %s", (int)n, path);
        out.resize(got);
      }
    }
  }
  fclose(f);
  return out;
}

std::string crash_report_escape(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string crash_report_cut_log(const std::string &log_text) {
  if (log_text.size() <= kCrashLogMax) return log_text;
  size_t head_end = std::string::npos;  // offset of the 300th newline
  size_t pos = 0;
  for (int i = 0; i < kCrashLogHeadLines; i++) {
    size_t nl = log_text.find('\n', pos);
    if (nl == std::string::npos) return log_text;  // fewer than 300 lines
    head_end = nl;
    pos = nl + 1;
  }
  std::string head = log_text.substr(0, head_end + 1);
  long budget = (long)kCrashLogMax - kCrashPad - (long)head_end;
  if (budget < 0) return head;
  size_t tail_from = log_text.size() - (size_t)budget;
  if (tail_from < head.size()) tail_from = head.size();
  size_t nl = log_text.find('\n', tail_from);
  std::string tail = nl == std::string::npos ? std::string() : log_text.substr(nl);
  size_t removed = log_text.size() - head.size() - tail.size();
  char mark[64];
  snprintf(mark, sizeof mark, "\n--- CUT %db ---\n", (int)removed);
  return head + mark + tail;
}

int crash_report_send(uint32_t flags) {
  if (!C.on) {
    log(LOG_ERROR, kSrc, "crash reporting not enabled");
    return 0;
  }
  const bool crash = !(flags & kCrashReportNotCrash);
  if (!(flags & (kCrashReportNotCurrent | kCrashReportKeepState)))
    crash_watch_add(kCrashWatchSending, "Sending Report");
  log(LOG_INFO, kSrc, "preparing report: %s, %s, %s", crash ? "crash" : "not crash",
      (flags & kCrashReportNotCurrent) ? "not current" : "current",
      (flags & kCrashReportKeepState) ? "keep state" : "remove state");
  log_flush();
  std::string state = read_whole(C.state_path);
  std::string logt = read_whole(appdata_log_path());
  if (state.empty() && logt.empty()) {
    log(LOG_ERROR, kSrc, "no crash or log to send");
    return -1;
  }
  // Feed hosts, proxies and the server all put text into the log: in the
  // form it is data, never markup.
  logt = crash_report_escape(crash_report_cut_log(logt));
  state = crash_report_escape(state);

  char name[64];
  time_t t = now();
  struct tm tm;
  localtime_r(&t, &tm);
  strftime(name, sizeof name, "report_%Y%m%d_%H%M%S.htm", &tm);
  snprintf(C.report_path, sizeof C.report_path, "%s/%s", plat_temp_dir(), name);
  FILE *f = fopen(C.report_path, "w");
  if (!f) {
    log(LOG_OSERR, kSrc, "can't write crash report: %s", C.report_path);
    return -1;
  }
  const char *word = crash ? "Crash Report" : "Log";
  fprintf(f,
          "<html>\n<head>\n<title>Ambit %s</title>\n<style>\nbody { font: 10pt arial, sans-serif }\n"
          "</style>\n</head>\n<body>\n<h1>Ambit %s</h1>\n<form method=\"post\" action=\"%s\">\n"
          "<input type=\"hidden\" name=\"Step\" value=\"1\">\n",
          word, word, kCrashEndpoint);
  if (crash) {
    fputs((flags & kCrashReportNotCurrent) ? "<p>Ambit crashed the last time it was run.</p>\n"
                                           : "<p>Ambit has crashed.</p>\n",
          f);
    fputs("<p>Please help us improve Ambit by sending us this report.</p>\n", f);
  }
  fprintf(f,
          "<h3>User Comments</h3>\n<p>Please add any comments that you think may be relevant.<p>\n"
          "<textarea name=\"Body_Comments\" cols=\"100\" rows=\"4\">\n</textarea>\n<br /><br />\n"
          "<input type=\"checkbox\" name=\"Flag_Contact\" /> Have an Osprey2 staff member call me "
          "about this problem.\n<br /><br />\n<input type=\"submit\" value=\"Send %s\">\n<br /><br />\n<hr>\n",
          word);
  if (crash) fputs("<input type=\"hidden\" name=\"Flag_Crash\" value=\"1\">\n", f);
  if (!logt.empty())
    fprintf(f,
            "<h2>Application Log (do not edit)</h2>\n<p>This log does not contain any personal "
            "information apart from your Ambit username.<p>\n<textarea name=\"Report\" cols=\"100\" "
            "rows=\"20\">\n%s</textarea>\n",
            logt.c_str());
  if (!state.empty())
    fprintf(f,
            "<h2>Last Known State (do not edit)</h2>\n<textarea name=\"Body_State\" cols=\"100\" "
            "rows=\"4\">\n%s</textarea>\n",
            state.c_str());
  fputs("</form>\n</body>\n</html>\n", f);
  fclose(f);

  char url[1100];
  snprintf(url, sizeof url, "file://%s", C.report_path);
  int r = launch_open_url(url);
  if (r != 0) {
    log(LOG_ERROR, kSrc, "can't launch crash report");
    launch_alert("Ambit Crash Report",
                 "There was a problem launching a web browser.\n\nPlease open the following file in a "
                 "web browser to submit the report manually:",
                 C.report_path, 3);
  }
  return r;
}
