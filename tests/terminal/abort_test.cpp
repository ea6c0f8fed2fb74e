// The crash handler in child processes: the helper program crashes the way
// the terminal can (a bad pointer, the trap, a FATAL log line, a crash after
// shutdown began) with the data tree in a fresh folder; the log, the crash
// state file and the report form it leaves are read back, and addr2line on
// the logged offsets must name the function that crashed.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <regex>

#include "proc.h"

namespace {

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) out.push_back(l);
  return out;
}

// The functions addr2line names for the offsets (and the bytes before them)
// of the system backtrace
// (the lines after "backtrace (N frames)" and its header, up to the line
// without a trailing "\").
std::vector<std::string> backtrace_functions(const std::vector<std::string> &log) {
  std::vector<std::string> offsets;
  for (size_t i = 0; i < log.size(); i++) {
    if (log[i].find("INFO : backtrace (") == std::string::npos) continue;
    for (size_t j = i + 2; j < log.size(); j++) {
      std::stringstream ss(log[j]);
      for (std::string w; ss >> w;)
        if (w.rfind("0x", 0) == 0) {
          // A return address is just past its call, so it is looked up one
          // byte back too; the faulting address itself is exact.
          char back[32];
          snprintf(back, sizeof back, "0x%llx", std::stoull(w, nullptr, 16) - 1);
          offsets.push_back(w);
          offsets.push_back(back);
        }
      if (log[j].empty() || log[j].back() != '\\') break;
    }
  }
  std::string cmd = std::string("addr2line -f -e ") + AMBIT_HELPER;
  for (const std::string &o : offsets) cmd += " " + o;
  std::vector<std::string> names;
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return names;
  char buf[4096];
  for (int i = 0; fgets(buf, sizeof buf, p); i++) {
    std::string s(buf);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    if (i % 2 == 0) names.push_back(s);
  }
  pclose(p);
  return names;
}

std::vector<std::string> temp_files(const std::string &dir) {
  std::vector<std::string> out;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.') out.push_back(e->d_name);
    closedir(d);
  }
  return out;
}

struct crash_case {
  const char *kind;
  const char *title;     // the handler's title line
  const char *function;  // where it crashed
};

const crash_case kCrashes[] = {
    {"segv", "Segfault", "helper_segv_here"},
    {"trap", "Application Error", "helper_trap_here"},
    {"fatal", "Application Error", "helper_fatal_here"},
    {"abort", "Abort", "helper_abort_here"},
    {"fpe", "Floating Point Exception", "helper_fpe_here"},
};

TEST(CrashHandler, CrashLeavesTracesStateAndReport) {
  for (const crash_case &c : kCrashes) {
    SCOPED_TRACE(c.kind);
    proc_tempdir home;
    proc_result r = proc_run({AMBIT_HELPER, "crash", c.kind}, {{"XDG_DATA_HOME", home.path}});
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.code, 0) << r.err;
    const std::string root = home.path + "/Ambit";
    std::string log = proc_read_file(root + "/log.txt");
    std::vector<std::string> lines = lines_of(log);

    EXPECT_NE(log.find(std::string("ERROR: ") + c.title + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find("image offset "), std::string::npos);
    EXPECT_TRUE(std::regex_search(log, std::regex("INFO : main fwdtrace \\([0-9]+ frames, guessed\\)")));
    EXPECT_TRUE(std::regex_search(log, std::regex("INFO : backtrace \\([0-9]+ frames\\)\nbacktrace x86_64-linux 39293 linux-1\\.27\\.1 \\\\\n")));
    EXPECT_NE(log.find(std::string("ERROR: Fatal Error: ") + c.title), std::string::npos);
    EXPECT_NE(log.find("alert: critical Fatal Error: Ambit has encountered a problem and needs to close:\n\n\t[" +
                       std::string(c.title) + "]\n\nA report will be generated and sent to "),
              std::string::npos);
    EXPECT_NE(log.find("preparing report: crash, current, remove state"), std::string::npos);
    if (!strcmp(c.kind, "fatal")) {
      EXPECT_NE(log.find("FATAL: helper gives up"), std::string::npos);
    }

    // Trace lines: a full line reaches 69 characters and ends in "\".
    for (const std::string &l : lines)
      if (l.rfind("0x", 0) == 0 && l.back() == '\\') {
        EXPECT_GE(l.size(), 70u) << l;
        EXPECT_LT(l.size(), 128u) << l;
      }
    std::vector<std::string> fns = backtrace_functions(lines);
    EXPECT_NE(std::find(fns.begin(), fns.end(), c.function), fns.end()) << ::testing::PrintToString(fns);

    // The watches alive at the crash, newest first.
    std::string state = proc_read_file(root + "/state.txt");
    EXPECT_TRUE(std::regex_match(
        state, std::regex("0002 Sending Report\n0102 Load Config\n0001 Starting [0-9]{4}-[0-9]{2}-[0-9]{2} "
                          "[0-9]{2}:[0-9]{2}:[0-9]{2}\n")))
        << state;

    // The form, written to Temp and handed to the opener.
    std::vector<std::string> reports = temp_files(root + "/Temp");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(std::regex_match(reports[0], std::regex("report_[0-9]{8}_[0-9]{6}\\.htm")));
    const std::string report_path = root + "/Temp/" + reports[0];
    EXPECT_EQ(r.out, "opened " + report_path + "\n");
    std::string form = proc_read_file(report_path);
    EXPECT_EQ(form.rfind("<html>\n<head>\n<title>Ambit Crash Report</title>\n", 0), 0u);
    EXPECT_NE(form.find("<p>Ambit has crashed.</p>\n"), std::string::npos);
    EXPECT_NE(form.find("<input type=\"hidden\" name=\"Flag_Crash\" value=\"1\">\n"), std::string::npos);
    EXPECT_NE(form.find("<textarea name=\"Body_State\" cols=\"100\" rows=\"4\">\n" + state + "</textarea>\n"),
              std::string::npos);
    EXPECT_NE(form.find(std::string("ERROR: Fatal Error: ") + c.title), std::string::npos);
    EXPECT_EQ(form.substr(form.size() - 24), "</form>\n</body>\n</html>\n");
  }
}

TEST(CrashHandler, CrashAfterShutdownBeganIsIgnored) {
  proc_tempdir home;
  proc_result r = proc_run({AMBIT_HELPER, "crash", "exit"}, {{"XDG_DATA_HOME", home.path}});
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.code, 0) << r.err;
  std::string log = proc_read_file(home.path + "/Ambit/log.txt");
  EXPECT_NE(log.find("ERROR: Segfault"), std::string::npos);
  EXPECT_NE(log.find("WARN : ignoring crash at exit"), std::string::npos);
  EXPECT_EQ(log.find("alert:"), std::string::npos);
  EXPECT_EQ(r.out, "");  // no report opened
  EXPECT_TRUE(temp_files(home.path + "/Ambit/Temp").empty());
  EXPECT_NE(access((home.path + "/Ambit/state.txt").c_str(), F_OK), 0);
}

// A fault while the handler runs ends the process instead of re-entering
// the report (or waiting on a lock the thread holds).
TEST(CrashHandler, FaultInsideTheHandlerEndsTheProcess) {
  proc_tempdir home;
  proc_result r = proc_run({AMBIT_HELPER, "crash", "nested"}, {{"XDG_DATA_HOME", home.path}}, 20000);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("fault in the crash handler\n"), std::string::npos) << r.err;
  std::string log = proc_read_file(home.path + "/Ambit/log.txt");
  EXPECT_NE(log.find("ERROR: Segfault"), std::string::npos);
  EXPECT_EQ(log.find("ERROR: Abort"), std::string::npos);
}

}  // namespace
