#include "log.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "plat.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  for (std::string line; std::getline(ss, line);) out.push_back(line);
  return out;
}

// Texts of the memory log from the oldest entry.
std::vector<std::string> memory_texts(void) {
  std::vector<std::string> out;
  void* cursor = nullptr;
  const char* text;
  while (log_walk_older(nullptr, nullptr, &text, &cursor)) out.push_back(text);
  return out;
}

class Log : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    plat_init();
    ASSERT_EQ(log_init(), 0);
    log_set_stderr(0);
    // Named after the executable and the test, not the process: a death
    // test's child runs the test again and must find the same file.
    char exe[1024] = {0};
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    size_t tag = std::hash<std::string>()(std::string(exe, n > 0 ? (size_t)n : 0));
    path_ = "/tmp/ambit_log_test_" + std::to_string(tag) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
  }
  void TearDown() override {
    plat_set_test_clock(nullptr);
    log_set_test_wall_clock(nullptr);
    log_fini();
    plat_fini();
    unlink(path_.c_str());
    unlink((path_ + ".2").c_str());
  }
  std::string path_;
};

const char kLinePrefix[] = R"(^\d\d:\d\d:\d\d\.\d\d\d )";

TEST_F(Log, EveryLevelHasItsWord) {
  ASSERT_EQ(log_set_filename(path_.c_str()), 0);
  log_start();
  struct {
    int level;
    const char* word;
  } cases[] = {
      {LOG_ERROR, "ERROR"}, {LOG_OSERR, "OSERR"}, {LOG_WARN, "WARN "}, {LOG_INFO, "INFO "},
      {LOG_TRACE, "TRACE"}, {LOG_DEBUG, "DEBUG"}, {LOG_RAW, ""},       {-1, "unknown"},
  };
  for (const auto& c : cases) log(c.level, "src/test", "level %d", c.level);
  log(8, "src/test", "dropped");
  log_close();
  std::vector<std::string> lines = lines_of(read_file(path_));
  ASSERT_EQ(lines.size(), 1 + std::size(cases));
  EXPECT_EQ(lines[0].rfind("!!! STARTING @ ", 0), 0u);
  for (size_t i = 0; i < std::size(cases); i++) {
    std::string text = "level " + std::to_string(cases[i].level);
    if (cases[i].level == LOG_OSERR) text += ".*";
    std::regex want(std::string(kLinePrefix) + cases[i].word + ": " + text + "$");
    EXPECT_TRUE(std::regex_match(lines[i + 1], want)) << lines[i + 1];
  }
}

TEST_F(Log, TextIsCutAndLosesOneNewline) {
  log_set_memory(1);
  std::string long_text(300, 'x');
  struct {
    std::string in, out;
  } cases[] = {
      {long_text, std::string(255, 'x')},
      {"one\n", "one"},
      {"two\n\n", "two\n"},
      {"\n", ""},
      {"plain", "plain"},
  };
  for (const auto& c : cases) log(LOG_INFO, "src/test", "%s", c.in.c_str());
  std::vector<std::string> got = memory_texts();
  ASSERT_EQ(got.size(), std::size(cases));
  for (size_t i = 0; i < got.size(); i++) EXPECT_EQ(got[i], cases[i].out);
}

TEST_F(Log, OserrAppendsTheSystemError) {
  log_set_memory(1);
  errno = ENOENT;
  log(LOG_OSERR, "src/test", "can't open %s", "x");
  EXPECT_EQ(errno, ENOENT);  // the log call leaves errno alone
  std::vector<std::string> got = memory_texts();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], std::string("can't open x (") + std::to_string(ENOENT) + ":" + strerror(ENOENT) + ")");
}

std::atomic<int64_t> g_wall_ms{0};
int64_t test_wall_clock(void) { return g_wall_ms.load(); }

// The stamp of a line is one reading of the wall clock: its milliseconds
// belong to its seconds, whatever the monotonic clock says, so stamps never
// run backwards within a second (".971" then ".024" of the same second was
// the fault of mixing the two clocks).
TEST_F(Log, TheStampIsOneReadingOfTheWallClock) {
  setenv("TZ", "UTC", 1);
  tzset();
  ASSERT_EQ(log_set_filename(path_.c_str()), 0);
  log_start();
  log_set_test_wall_clock(test_wall_clock);
  // The monotonic clock is kept well apart from the wall clock's fraction.
  plat_set_test_clock([]() -> int64_t { return 500; });
  struct {
    int64_t wall_ms;
    const char* stamp;
  } cases[] = {
      {int64_t{1765363747} * 1000 + 971, "10:49:07.971"},
      {int64_t{1765363747} * 1000 + 999, "10:49:07.999"},
      {int64_t{1765363748} * 1000 + 0, "10:49:08.000"},
      {int64_t{1765363748} * 1000 + 24, "10:49:08.024"},
      {int64_t{1765367999} * 1000 + 7, "11:59:59.007"},
      {0, "00:00:00.000"},
  };
  for (const auto& c : cases) {
    g_wall_ms = c.wall_ms;
    log(LOG_INFO, "src/test", "at %s", c.stamp);
  }
  log_close();
  std::vector<std::string> lines = lines_of(read_file(path_));
  ASSERT_EQ(lines.size(), 1 + sizeof cases / sizeof cases[0]);
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++)
    EXPECT_EQ(lines[i + 1], std::string(cases[i].stamp) + " INFO : at " + cases[i].stamp);
  unsetenv("TZ");
  tzset();
}

// A replayed memory entry keeps the stamp it was logged with.
TEST_F(Log, ReplayKeepsTheStampOfEachLine) {
  setenv("TZ", "UTC", 1);
  tzset();
  log_set_test_wall_clock(test_wall_clock);
  log_set_memory(1);
  g_wall_ms = int64_t{1765363747} * 1000 + 971;
  log(LOG_INFO, "src/test", "first");
  g_wall_ms = int64_t{1765363748} * 1000 + 24;
  log(LOG_INFO, "src/test", "second");
  ASSERT_EQ(log_set_filename(path_.c_str()), 0);
  log_start();
  log_close();
  std::vector<std::string> lines = lines_of(read_file(path_));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "10:49:07.971 INFO : first");
  EXPECT_EQ(lines[2], "10:49:08.024 INFO : second");
  unsetenv("TZ");
  tzset();
}

// Without autoflush a line is in the file as soon as the call returns, and
// a process that ends without closing the log (a stop by signal, _exit
// after a restart failure) loses none of its lines.
TEST_F(Log, LinesReachTheFileAtOnceAndSurviveAnExitWithoutClose) {
  ASSERT_EQ(log_set_filename(path_.c_str()), 0);
  log_start();
  ASSERT_EQ(log_set_autoflush(0), 0u);
  log(LOG_INFO, "src/test", "Online");
  EXPECT_NE(read_file(path_).find("INFO : Online\n"), std::string::npos);
  log_raw("raw text", 0xffffffffu);
  EXPECT_NE(read_file(path_).find("raw text\n"), std::string::npos);

  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    for (int i = 0; i < 500; i++) log(LOG_INFO, "src/test", "child line %d", i);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  std::string file = read_file(path_);
  for (int i : {0, 1, 250, 498, 499})
    EXPECT_NE(file.find("INFO : child line " + std::to_string(i) + "\n"), std::string::npos) << i;
}

TEST_F(Log, RawLevelIsBareOnStderrOnly) {
  ASSERT_EQ(log_set_filename(path_.c_str()), 0);
  log_start();
  log_set_stderr(1);
  ::testing::internal::CaptureStderr();
  log(LOG_RAW, "src/test", "bare text");
  log(LOG_WARN, "src/test", "warned");
  std::string err = ::testing::internal::GetCapturedStderr();
  log_close();
  std::vector<std::string> echo = lines_of(err);
  ASSERT_EQ(echo.size(), 2u);
  EXPECT_EQ(echo[0], "bare text");
  EXPECT_TRUE(std::regex_match(echo[1], std::regex(std::string(kLinePrefix) + "WARN : warned$"))) << echo[1];
  std::vector<std::string> lines = lines_of(read_file(path_));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(std::string(kLinePrefix) + ": bare text$"))) << lines[1];
}

TEST_F(Log, StartReplaysTheMemoryLogIntoATruncatedFile) {
  { std::ofstream(path_) << "left over from the last run\n"; }
  log_set_memory(1);
  log(LOG_INFO, "src/test", "early one");
  log(LOG_ERROR, "src/test", "early two");
  ASSERT_EQ(log_set_filename(path_.c_str()), 0);
  EXPECT_EQ(log_has_file(), 0);
  log_start();
  EXPECT_EQ(log_has_file(), 1);
  log(LOG_INFO, "src/test", "late");
  log_close();
  std::vector<std::string> lines = lines_of(read_file(path_));
  ASSERT_EQ(lines.size(), 4u);
  // "!!! STARTING @ " and the ctime form, e.g. "Wed Jun 30 21:49:08 1993".
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(^!!! STARTING @ \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}$)")))
      << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(std::string(kLinePrefix) + "INFO : early one$")));
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(std::string(kLinePrefix) + "ERROR: early two$")));
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(std::string(kLinePrefix) + "INFO : late$")));
}

TEST_F(Log, OpenAndDumpFailures) {
  log_set_memory(1);
  EXPECT_EQ(log_open("wtc"), -1);
  EXPECT_EQ(log_dump(), -1);
  ASSERT_EQ(log_set_filename("/nonexistent-dir/x/log.txt"), 0);
  EXPECT_EQ(log_open("wtc"), -1);
  EXPECT_EQ(log_dump(), -1);
  ASSERT_EQ(log_set_filename(path_.c_str()), 0);
  log_start();
  EXPECT_EQ(log_dump(), -1);
  std::vector<std::string> got = memory_texts();
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0], "no filename to log to");
  EXPECT_EQ(got[1], "no file to dump log to");
  EXPECT_EQ(got[2], "can't write to /nonexistent-dir/x/log.txt (" + std::to_string(ENOENT) + ":" + strerror(ENOENT) + ")");
  EXPECT_EQ(got[3], got[2]);
  EXPECT_EQ(got[4], "already dumping log");
}

TEST_F(Log, DumpWritesTheMemoryLogAndClosesTheFile) {
  log_set_memory(1);
  log(LOG_INFO, "src/test", "first");
  log(LOG_DEBUG, "src/test", "second");
  ASSERT_EQ(log_set_filename(path_.c_str()), 0);
  ASSERT_EQ(log_dump(), 0);
  EXPECT_EQ(log_has_file(), 0);
  std::vector<std::string> lines = lines_of(read_file(path_));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("!!! DUMPING @ ", 0), 0u);
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(std::string(kLinePrefix) + "INFO : first$")));
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(std::string(kLinePrefix) + "DEBUG: second$")));
}

TEST_F(Log, RenamingAnOpenFileReopensIt) {
  ASSERT_EQ(log_set_filename(path_.c_str()), 0);
  log_start();
  log(LOG_INFO, "src/test", "in the first");
  std::string second = path_ + ".2";
  ASSERT_EQ(log_set_filename(second.c_str()), 0);
  EXPECT_STREQ(log_filename(), second.c_str());
  log(LOG_INFO, "src/test", "in the second");
  log_close();
  std::string a = read_file(path_), b = read_file(second);
  EXPECT_NE(a.find("in the first"), std::string::npos);
  EXPECT_EQ(a.find("in the second"), std::string::npos);
  EXPECT_EQ(b.rfind("!!! STARTING @ ", 0), 0u);
  EXPECT_NE(b.find("in the second"), std::string::npos);
}

TEST_F(Log, RawTextGoesToFileAndStderrNotMemory) {
  ASSERT_EQ(log_set_filename(path_.c_str()), 0);
  log_start();
  log_set_memory(1);
  log_set_stderr(1);
  uint64_t before = log_count();
  ::testing::internal::CaptureStderr();
  log_raw("no newline", 0xffffffffu);
  log_raw("has newline\n", 0xffffffffu);
  log_raw("cut here|not this", 8);
  log_raw("", 0xffffffffu);
  std::string err = ::testing::internal::GetCapturedStderr();
  log_close();
  const char* want = "no newline\nhas newline\ncut here\n";
  EXPECT_EQ(err, want);
  std::string file = read_file(path_);
  EXPECT_EQ(file.substr(file.find('\n') + 1), want);
  EXPECT_EQ(log_count(), before);
}

TEST_F(Log, AutoflushAndFlush) {
  ASSERT_EQ(log_set_filename(path_.c_str()), 0);
  log_start();
  EXPECT_EQ(log_set_autoflush(1), 0u);
  log(LOG_INFO, "src/test", "flushed at once");
  EXPECT_NE(read_file(path_).find("flushed at once"), std::string::npos);
  EXPECT_EQ(log_set_autoflush(0), 1u);
  log(LOG_INFO, "src/test", "after log_flush");
  EXPECT_EQ(log_flush(), 0u);
  EXPECT_NE(read_file(path_).find("after log_flush"), std::string::npos);
}

TEST_F(Log, MemoryLogAcrossBlocksMatchesAReference) {
  log_set_memory(1);
  log(LOG_INFO, "src/test", "kept");
  log_set_memory(0);
  log(LOG_INFO, "src/test", "not kept");
  EXPECT_EQ(memory_texts(), std::vector<std::string>{"kept"});
  log_fini();  // drops the memory log
  ASSERT_EQ(log_init(), 0);
  log_set_stderr(0);
  log_set_memory(1);

  // 600 entries of up to 240 bytes span about nine 16 KB blocks.
  std::vector<std::string> ref;
  std::vector<int> levels;
  uint64_t before = log_count();
  time_t t0 = time(nullptr);
  for (int i = 0; i < 600; i++) {
    std::string text = std::to_string(i) + std::string((size_t)(i * 7 % 200), 'a' + i % 26);
    ref.push_back(text);
    const int kLevels[] = {LOG_ERROR, LOG_WARN, LOG_INFO, LOG_TRACE, LOG_DEBUG, LOG_RAW};
    levels.push_back(kLevels[i % 6]);
    log(levels.back(), "src/test", "%s", text.c_str());
  }
  time_t t1 = time(nullptr);
  EXPECT_EQ(log_count() - before, 600u);
  EXPECT_EQ(memory_texts(), ref);

  void* cursor = nullptr;
  time_t when;
  int level;
  const char* text;
  size_t i = ref.size();
  while (log_walk_newer(&when, &level, &text, &cursor)) {
    ASSERT_GT(i, 0u);
    i--;
    EXPECT_EQ(text, ref[i]);
    EXPECT_EQ(level, levels[i]);
    EXPECT_GE(when, t0);
    EXPECT_LE(when, t1);
  }
  EXPECT_EQ(i, 0u);
  EXPECT_EQ(log_walk_newer(&when, &level, &text, &cursor), 0);  // stays at the end

  // A walk towards newer entries resumes from its cursor as lines arrive.
  cursor = nullptr;
  while (log_walk_older(nullptr, nullptr, &text, &cursor)) {
  }
  log(LOG_INFO, "src/test", "arrived later");
  ASSERT_EQ(log_walk_older(nullptr, nullptr, &text, &cursor), 1);
  EXPECT_STREQ(text, "arrived later");
  EXPECT_EQ(log_walk_older(nullptr, nullptr, &text, &cursor), 0);
}

TEST_F(Log, DeferredMessage) {
  log_set_memory(1);
  log_deferred();  // empty: nothing
  log_defer("crashed in %s at %d", "f", 12);
  log_deferred();
  log_defer(nullptr);
  log_deferred();
  std::vector<std::string> got = memory_texts();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], "crashed in f at 12");
}

TEST_F(Log, NothingIsLoggedAfterFini) {
  log_set_memory(1);
  log_fini();
  uint64_t before = log_count();
  ::testing::internal::CaptureStderr();
  log(LOG_ERROR, "src/test", "too late");
  log_raw("too late", 0xffffffffu);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(log_count(), before);
  ASSERT_EQ(log_init(), 0);
}

void fatal_with_file(const char* path) {
  log_set_filename(path);
  log_start();
  log(LOG_FATAL, "src/test", "boom %d", 42);
}

TEST_F(Log, FatalWithoutHookFlushesAndExits) {
  log_set_stderr(1);
  EXPECT_EXIT(fatal_with_file(path_.c_str()), ::testing::ExitedWithCode(1), "FATAL: boom 42");
  // The file was flushed before the exit although autoflush was off.
  std::vector<std::string> lines = lines_of(read_file(path_));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(std::string(kLinePrefix) + "FATAL: boom 42$"))) << lines[1];
}

TEST_F(Log, FatalCallsTheHookAfterTheLine) {
  log_set_stderr(1);
  auto run = [](const char* path) {
    log_set_fatal_hook([](const char* text) {
      fprintf(stderr, "hook got <%s>\n", text);
      _exit(7);
    });
    fatal_with_file(path);
  };
  EXPECT_EXIT(run(path_.c_str()), ::testing::ExitedWithCode(7), "FATAL: boom 42\n(.|\n)*hook got <boom 42>");
  EXPECT_NE(read_file(path_).find("FATAL: boom 42"), std::string::npos);

  // A hook that returns leaves the exit to the log.
  auto returns = [] {
    log_set_fatal_hook([](const char*) { fprintf(stderr, "hook returned\n"); });
    log(LOG_FATAL, "src/test", "again");
  };
  EXPECT_EXIT(returns(), ::testing::ExitedWithCode(1), "hook returned");

  // A FATAL line raised by the hook itself does not call the hook again.
  auto nested = [] {
    log_set_fatal_hook([](const char* text) {
      fprintf(stderr, "hook for <%s>\n", text);
      log(LOG_FATAL, "src/test", "inside the hook");
    });
    log(LOG_FATAL, "src/test", "outer");
  };
  EXPECT_EXIT(nested(), ::testing::ExitedWithCode(1), "hook for <outer>\n[^\n]*FATAL: inside the hook\n$");
}

TEST_F(Log, FatalFromAnotherThreadOrAfterFiniStillExits) {
  log_set_stderr(1);
  auto from_thread = [] {
    std::thread t([] { log(LOG_FATAL, "src/test", "from a thread"); });
    t.join();
    fprintf(stderr, "main carried on\n");
  };
  EXPECT_EXIT(from_thread(), ::testing::ExitedWithCode(1), "FATAL: from a thread");
  auto after_fini = [] {
    log_fini();
    log(LOG_FATAL, "src/test", "after fini");
    fprintf(stderr, "returned\n");
  };
  EXPECT_EXIT(after_fini(), ::testing::ExitedWithCode(1), "");
}

// Four writers append while two readers walk the memory log without the
// lock, one from the oldest entry following each new line as it arrives,
// one from the newest back to the oldest. Every line a reader sees must be
// complete, and each writer's lines must appear in the order written.
TEST(LogConcurrency, WritersAndLockFreeWalkers) {
  constexpr int kWriters = 4;
  constexpr int kLines = 3000;
  plat_init();
  ASSERT_EQ(log_init(), 0);
  log_set_stderr(0);
  log_set_memory(1);
  std::string path = "/tmp/ambit_log_concurrency_" + std::to_string(getpid()) + ".txt";
  ASSERT_EQ(log_set_filename(path.c_str()), 0);
  log_start();
  uint64_t before = log_count();

  std::atomic<bool> go{false};
  std::atomic<int> writers_done{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; w++) {
    threads.emplace_back([w, &go, &writers_done] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kLines; i++) log(LOG_INFO, "src/test", "w%d n%d %s", w, i, "payload-payload-payload");
      writers_done.fetch_add(1);
    });
  }
  auto parse = [](const char* text, int* w, int* n) {
    char tail[64];
    return sscanf(text, "w%d n%d %63s", w, n, tail) == 3 && strcmp(tail, "payload-payload-payload") == 0;
  };
  int forward_seen = 0;
  bool forward_ok = true;
  std::thread forward([&] {
    int next[kWriters] = {0};
    void* cursor = nullptr;
    const char* text;
    int level;
    while (forward_seen < kWriters * kLines) {
      if (!log_walk_older(nullptr, &level, &text, &cursor)) {
        std::this_thread::yield();
        continue;
      }
      int w, n;
      if (!parse(text, &w, &n) || w < 0 || w >= kWriters || n != next[w] || level != LOG_INFO) forward_ok = false;
      if (w >= 0 && w < kWriters) next[w] = n + 1;
      forward_seen++;
    }
  });
  int backward_walks = 0;
  bool backward_ok = true;
  std::thread backward([&] {
    while (writers_done.load() < kWriters || backward_walks == 0) {
      int last[kWriters];
      for (int& l : last) l = kLines;
      void* cursor = nullptr;
      const char* text;
      while (log_walk_newer(nullptr, nullptr, &text, &cursor)) {
        int w, n;
        if (!parse(text, &w, &n) || w < 0 || w >= kWriters || n >= last[w]) {
          backward_ok = false;
          break;
        }
        last[w] = n;
      }
      backward_walks++;
    }
  });
  go.store(true);
  for (auto& t : threads) t.join();
  forward.join();
  backward.join();
  EXPECT_TRUE(forward_ok);
  EXPECT_TRUE(backward_ok);
  EXPECT_EQ(forward_seen, kWriters * kLines);
  EXPECT_GE(backward_walks, 1);
  EXPECT_EQ(log_count() - before, (uint64_t)(kWriters * kLines));
  log_close();
  // Lines in the file are whole: one header and one line per call.
  std::vector<std::string> lines = lines_of(read_file(path));
  EXPECT_EQ(lines.size(), 1u + kWriters * kLines);
  std::regex whole(std::string(kLinePrefix) + R"(INFO : w\d n\d+ payload-payload-payload$)");
  int bad = 0;
  for (size_t i = 1; i < lines.size(); i++) bad += !std::regex_match(lines[i], whole);
  EXPECT_EQ(bad, 0);
  unlink(path.c_str());
  log_fini();
  plat_fini();
}

}  // namespace
