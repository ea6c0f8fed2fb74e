// Crash watches and the report form in process: the state file mirrors the
// live watches, a previous run's state is read back (at most 20 kinds), the
// log sent with a report is cut by the 300-line rule, and a log report
// without a crash keeps its own wording.
#include "startup/crash.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include <unistd.h>

#include "appdata.h"
#include "log.h"
#include "proc.h"
#include "testlog.h"
#include "ui/launch-linux.h"

namespace {

std::string g_opened;
int record_opener(const char *target) {
  g_opened = target;
  return 0;
}

class CrashReport : public ::testing::Test {
 protected:
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    setenv("XDG_DATA_HOME", home_.path.c_str(), 1);
    char exe[1024];
    ASSERT_EQ(launch_exe_path(exe), 0);
    ASSERT_EQ(appdata_init(exe, 0, 0), 0);
    state_ = appdata_state_path();
    launch_set_opener(record_opener);
  }
  void TearDown() override {
    crash_report_shutdown();
    launch_set_opener(nullptr);
    appdata_fini();
    unsetenv("XDG_DATA_HOME");
  }
  void write_state(const std::string &text) {
    FILE *f = fopen(state_.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs(text.c_str(), f);
    fclose(f);
  }
  proc_tempdir home_;
  std::string state_;
};

TEST_F(CrashReport, StateFileMirrorsLiveWatchesNewestFirst) {
  crash_report_set_time(1700000000);
  ASSERT_EQ(crash_report_init(0), 0);
  std::string start = proc_read_file(state_);
  EXPECT_TRUE(start.rfind("0001 Starting ", 0) == 0) << start;
  int a = crash_watch_add(102, "Load Config");
  int b = crash_watch_add(7, std::string(150, 'x').c_str());  // cut at 99
  EXPECT_EQ(b, a + 1);
  EXPECT_EQ(proc_read_file(state_), "0007 " + std::string(99, 'x') + "\n0102 Load Config\n" + start);
  EXPECT_EQ(crash_watch_remove(b), 0);
  EXPECT_EQ(proc_read_file(state_), "0102 Load Config\n" + start);
  uint64_t mark = log_count();
  EXPECT_EQ(crash_watch_remove(b), -1);
  EXPECT_TRUE(logged_since(mark, "can't find crash watch " + std::to_string(b)));
  // A record on the free list is reused.
  EXPECT_EQ(crash_watch_add(3, "again"), b + 1);
  crash_report_set_time(0);
}

TEST_F(CrashReport, CleanShutdownRemovesStateUnlessWatchesRemain) {
  ASSERT_EQ(crash_report_init(0), 0);
  crash_report_shutdown();
  EXPECT_NE(access(state_.c_str(), F_OK), 0);
  ASSERT_EQ(crash_report_init(0), 0);
  crash_watch_add(102, "Load Config");
  crash_report_shutdown();
  EXPECT_EQ(proc_read_file(state_), "0102 Load Config\n");
}

TEST_F(CrashReport, PreviousStateGivesAtMostTwentyKinds) {
  std::string text;
  for (int i = 0; i < 25; i++) text += std::to_string(100 + i) + " watch\n";
  write_state(text);
  uint64_t mark = log_count();
  ASSERT_EQ(crash_report_init(0), 0);
  int errors = 0;
  for (const std::string &l : logged_lines(mark)) errors += l.find("too many crashes!") != std::string::npos;
  EXPECT_EQ(errors, 5);
  EXPECT_EQ(crash_in_list(100), 1);
  EXPECT_EQ(crash_in_list(119), 1);
  EXPECT_EQ(crash_in_list(120), 0);
  EXPECT_EQ(crash_in_list(2), 0);
}

// A stray NUL inside a line does not hide its end: the next line's kind is
// still read.
TEST_F(CrashReport, ANulInALineKeepsTheNextLine) {
  const std::string text("0102 Load\0Config\n0104 Drawing\n", 30);
  FILE *f = fopen(state_.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  ASSERT_EQ(crash_report_init(0), 0);
  EXPECT_EQ(crash_in_list(102), 1);
  EXPECT_EQ(crash_in_list(104), 1);
}

TEST_F(CrashReport, CrashWhileSendingOffersNoReport) {
  write_state("0002 Sending Report\n0001 Starting 2026-01-01 00:00:00\n");
  g_opened.clear();
  ASSERT_EQ(crash_report_init(1), 0);
  EXPECT_EQ(crash_in_list(2), 1);
  EXPECT_EQ(g_opened, "");
}

TEST_F(CrashReport, PreviousCrashIsOfferedWhenAsked) {
  write_state("0102 Load Config\n");
  g_opened.clear();
  ASSERT_EQ(crash_report_init(1), 0);
  ASSERT_FALSE(g_opened.empty());
  std::string form = proc_read_file(g_opened);
  EXPECT_NE(form.find("<p>Ambit crashed the last time it was run.</p>\n"), std::string::npos);
  EXPECT_NE(form.find("<textarea name=\"Body_State\" cols=\"100\" rows=\"4\">\n0102 Load Config\n</textarea>"),
            std::string::npos);
}

TEST_F(CrashReport, LogReportKeepsStateAndHasNoCrashMark) {
  ASSERT_EQ(crash_report_init(0), 0);
  std::string before = proc_read_file(state_);
  EXPECT_EQ(crash_report_send(kCrashReportNotCrash | kCrashReportKeepState), 0);
  std::string form = proc_read_file(crash_report_path());
  EXPECT_NE(form.find("<title>Ambit Log</title>"), std::string::npos);
  EXPECT_NE(form.find("<input type=\"submit\" value=\"Send Log\">"), std::string::npos);
  EXPECT_EQ(form.find("Flag_Crash"), std::string::npos);
  EXPECT_EQ(form.find("has crashed"), std::string::npos);
  EXPECT_EQ(proc_read_file(state_), before);  // no "Sending Report" watch
}

// Text that a feed host, a proxy or the server put into the log or the state
// is data in the form: no markup of its own survives, and each section's
// textarea ends where the form ends it.
TEST_F(CrashReport, LogAndStateTextIsEscaped) {
  write_state("0102 <b>\"Load\" & Config</b>\n");
  ASSERT_EQ(crash_report_init(0), 0);
  FILE *f = fopen(appdata_log_path(), "w");
  ASSERT_NE(f, nullptr);
  fputs("10:00:00.000 WARN: bad feed </textarea><script>alert(1)</script> & more\n", f);
  fclose(f);
  ASSERT_EQ(crash_report_send(kCrashReportNotCrash | kCrashReportKeepState), 0);
  std::string form = proc_read_file(crash_report_path());
  EXPECT_EQ(form.find("<script>"), std::string::npos);
  EXPECT_EQ(form.find("<b>"), std::string::npos);
  EXPECT_NE(form.find("bad feed &lt;/textarea&gt;&lt;script&gt;alert(1)&lt;/script&gt; &amp; more"),
            std::string::npos);
  size_t closes = 0;
  for (size_t at = form.find("</textarea>"); at != std::string::npos; at = form.find("</textarea>", at + 1))
    closes++;
  EXPECT_EQ(closes, 3u);  // comments, log, state
  EXPECT_EQ(crash_report_escape("a<&>\"b"), "a&lt;&amp;&gt;&quot;b");
}

// The state file is replaced whole: no temporary file stays beside it, and
// a reader sees every live watch.
TEST_F(CrashReport, StateFileIsReplacedWhole) {
  ASSERT_EQ(crash_report_init(0), 0);
  int id = crash_watch_add(kCrashWatchLoadConfig, "Load Config");
  ASSERT_GT(id, 0);
  std::string text = proc_read_file(state_);
  EXPECT_NE(text.find("0102 Load Config\n"), std::string::npos);
  EXPECT_NE(text.find("0001 Starting"), std::string::npos);
  EXPECT_EQ(access((state_ + ".tmp").c_str(), F_OK), -1);
  EXPECT_EQ(crash_watch_remove(id), 0);
  EXPECT_EQ(proc_read_file(state_).find("Load Config"), std::string::npos);
}

// Lines of `width` characters (newline included), `total` characters in all.
std::string make_log(size_t total, size_t width) {
  std::string s;
  for (size_t i = 0; s.size() < total; i++) {
    std::string l = std::to_string(i);
    l.resize(width - 1, '.');
    s += l + "\n";
  }
  s.resize(total);
  return s;
}

TEST(CrashReportCut, LogsAreCutByTheLineRule) {
  // Exactly at the limit: whole.
  std::string exact = make_log(100000, 50);
  EXPECT_EQ(crash_report_cut_log(exact), exact);
  // Fewer than 300 lines: whole however long.
  std::string few = make_log(100001, 1000);
  EXPECT_EQ(crash_report_cut_log(few), few);
  // One over with 300 lines and more: head, marker, tail on a line start.
  std::string big = make_log(100001, 50);
  std::string cut = crash_report_cut_log(big);
  std::string head = big.substr(0, 300 * 50);
  ASSERT_EQ(cut.rfind(head, 0), 0u);
  std::smatch m;
  std::string rest = cut.substr(head.size());
  ASSERT_TRUE(std::regex_search(rest, m, std::regex("^\n--- CUT ([0-9]+)b ---\n")));
  std::string tail = rest.substr(m.length(0));
  EXPECT_EQ(big.substr(big.size() - tail.size()), tail);
  EXPECT_EQ(std::stoul(m[1]), big.size() - head.size() - tail.size());
  EXPECT_LE(tail.size(), 100000u - 26 - (300 * 50 - 1));
  EXPECT_EQ(tail[0], '\n');
  // Long head lines leave no room for a tail: the first 300 lines only.
  std::string wide = make_log(400 * 400, 400);
  EXPECT_EQ(crash_report_cut_log(wide), wide.substr(0, 300 * 400));
}

}  // namespace
