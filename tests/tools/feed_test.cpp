// ambit-feed as a user runs it: its arguments and help, and whole runs
// against the market simulator on loopback, where the feed signs off by
// itself (at SIGTERM) or is signed off by the server. The program is the
// built binary, started as a child process; every wait is bounded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "growbuf.h"
#include "sim.h"
#include "sim_msg.h"
#include "testclock.h"
#include "testlog.h"
#include "testsim.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = 20000;

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime());

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool has_line(const std::string& text, const std::string& line) {
  for (const std::string& l : lines_of(text))
    if (l == line) return true;
  return false;
}

// One run of the program, its standard output and error in files of a
// temporary folder.
class FeedRun {
 public:
  FeedRun() {
    char tmpl[] = "/tmp/ambit-feed-test-XXXXXX";
    EXPECT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  ~FeedRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void start(const std::vector<std::string>& args) {
    std::vector<std::string> all = {AMBIT_TOOL_BIN};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out_path().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, err_path().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_EQ(0, posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ));
    posix_spawn_file_actions_destroy(&fa);
  }

  // The exit status, or -1 when the program did not end within `ms`.
  int wait_exit(int ms = kWaitMs) {
    int status = 0;
    const bool ended = wait_for([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, ms);
    if (!ended) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Never with no child: kill(-1, ...) would signal every process.
  void signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }
  std::string out() const { return slurp(out_path()); }
  std::string err() const { return slurp(err_path()); }
  std::string log_path() const { return dir_ + "/feed.log"; }

 private:
  std::string out_path() const { return dir_ + "/out"; }
  std::string err_path() const { return dir_ + "/err"; }

  std::string dir_;
  pid_t pid_ = -1;
};

TEST(Feed, ArgumentsAndHelp) {
  const std::vector<std::string> kSignOn = {"-P", "1", "-u", "a", "-p", "b"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = kSignOn;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const struct {
    const char* what;
    std::vector<std::string> args;
    int status;
    const char* out;  // in standard output
    const char* err;  // in standard error
  } cases[] = {
      {"-h is help", {"-h"}, 0, "  -H, --host HOST    market-data server", nullptr},
      {"--help is help", {"--help"}, 0, "pauses 20 ms then", nullptr},
      {"help names the time-out's default", {"--help"}, 0, "(default 300; 0: never)", nullptr},
      {"help before other arguments", with({"-h"}), 0, "usage: ambit-feed", nullptr},
      {"--host needs its value", with({"--host"}), 2, nullptr, "--host needs a value"},
      {"-H needs its value", with({"-H"}), 2, nullptr, "-H needs a value"},
      {"a negative time-out", with({"--reconnect-timeout", "-1"}), 2, nullptr, "bad --reconnect-timeout -1"},
      {"a time-out that is no number", with({"--reconnect-timeout", "5m"}), 2, nullptr, "bad --reconnect-timeout 5m"},
      {"no user", {"--host", "127.0.0.1", "-P", "1"}, 2, nullptr, "-P, -u and -p are needed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FeedRun run;
    ASSERT_NO_FATAL_FAILURE(run.start(c.args));
    EXPECT_EQ(c.status, run.wait_exit());
    if (c.out) {
      EXPECT_NE(std::string::npos, run.out().find(c.out)) << run.out();
    }
    if (c.err) {
      EXPECT_NE(std::string::npos, run.err().find(c.err)) << run.err();
    }
  }
}

class FeedAgainstSim : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(make_test_sim(&sim_, 50));
    port_ = sim_start(sim_, 0);
    ASSERT_GT(port_, 0);
  }
  void TearDown() override { sim_destroy(sim_); }

  // Starts the feed as alice and waits until it is online: its follow-up
  // requests end with an acknowledgement request (92).
  void start_online(FeedRun* run, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"--host", "127.0.0.1", "-P", std::to_string(port_), "-u", "alice",
                                     "-p", "secret", "--seconds", "60", "--log", run->log_path()};
    args.insert(args.end(), more.begin(), more.end());
    ASSERT_NO_FATAL_FAILURE(run->start(args));
    ASSERT_GE(sim_wait_entry(sim_, 92, 0, kWaitMs, nullptr), 0) << run->err() << slurp(run->log_path());
  }

  sim_server* sim_ = nullptr;
  int port_ = 0;
};

TEST_F(FeedAgainstSim, OwnSignOffIsNotTheServers) {
  FeedRun run;
  ASSERT_NO_FATAL_FAILURE(start_online(&run, {"--reconnect-timeout", "45"}));
  run.signal(SIGTERM);
  EXPECT_EQ(0, run.wait_exit());
  const std::string out = run.out();
  EXPECT_TRUE(has_line(out, "status: Online")) << out;
  EXPECT_TRUE(has_line(out, "signal 15, signing off")) << out;
  EXPECT_TRUE(has_line(out, "signed off")) << out;  // the server's confirmation
  EXPECT_FALSE(has_line(out, "signed off by the server")) << out;
  EXPECT_GE(sim_wait_entry(sim_, 2, 0, 0, nullptr), 0) << "the feed asked to sign off";
  // The time-out given reached the client.
  EXPECT_NE(std::string::npos, slurp(run.log_path()).find("reconnect time-out 45s"));
}

TEST_F(FeedAgainstSim, HangUpSignsOffToo) {
  FeedRun run;
  ASSERT_NO_FATAL_FAILURE(start_online(&run));
  run.signal(SIGHUP);
  EXPECT_EQ(0, run.wait_exit());
  EXPECT_TRUE(has_line(run.out(), "signal 1, signing off")) << run.out();
  EXPECT_GE(sim_wait_entry(sim_, 2, 0, kWaitMs, nullptr), 0) << "the feed asked to sign off";
}

TEST_F(FeedAgainstSim, ServerSignOffIsReportedAndEndsTheRun) {
  FeedRun run;
  ASSERT_NO_FATAL_FAILURE(start_online(&run));
  growbuf gb;
  growbuf_init(&gb, 16, 16);
  sim_msg_signed_off(&gb);
  ASSERT_EQ(1, sim_send(sim_, "alice", gb.data, gb.len, true));
  growbuf_free(&gb);
  EXPECT_EQ(0, run.wait_exit());  // by itself, long before its 60 seconds
  const std::string out = run.out();
  EXPECT_TRUE(has_line(out, "signed off by the server")) << out;
  EXPECT_FALSE(has_line(out, "signed off")) << out;
  EXPECT_EQ(-1, sim_wait_entry(sim_, 2, 0, 0, nullptr)) << "the feed did not ask to sign off";
  EXPECT_NE(std::string::npos, slurp(run.log_path()).find("reconnect time-out 300s"));  // the default
}

}  // namespace
