// The program against the market simulator: a user with no stored
// configuration signs on to screen 0; quitting sends one save (flag 1) of a
// version 2 text, which the simulator keeps; a second process signs on,
// loads that copy and, quitting untouched, sends it back byte for byte;
// with "--nosave" nothing is sent.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "../terminal/proc.h"
#include "decblk.h"
#include "growbuf.h"
#include "pixeltest.h"
#include "sim.h"
#include "testlog.h"
#include "testsim.h"

namespace {

::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

constexpr int32_t kSaveKind = 1;
constexpr int32_t kVersionKind = 130;

struct ProgramRun {
  bool online = false;
  bool quit = false;
  std::string log;
};

// Starts Ambit signed on as dana, waits for its version line, quits it
// through its screen window's quit chord and waits for the end.
ProgramRun run_and_quit(sim_server* sim, int port, const std::string& home, const std::vector<std::string>& extra) {
  ProgramRun r;
  const size_t from = sim_transcript(sim).size();
  const std::string port_text = std::to_string(port);
  pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);  // the GL driver's own allocations
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    std::vector<std::string> args = {"Ambit", "-h", "127.0.0.1", "-P", port_text, "-u", "dana", "-p", "secret"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(AMBIT_PROGRAM, argv.data());
    _exit(127);
  }
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  r.online = sim_wait_entry(sim, kVersionKind, from, 60000, nullptr) >= 0;
  std::string xid = proc_find_window("--pid " + std::to_string(pid), end);
  if (!xid.empty()) system(("xdotool windowfocus --sync " + xid + " key super+q").c_str());
  int st = 0;
  if (!proc_wait_until(pid, end, &st)) {
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
  } else {
    r.quit = WIFEXITED(st) && WEXITSTATUS(st) == 0;
  }
  r.log = proc_read_file(home + "/Ambit/log.txt");
  return r;
}

// The save requests in the transcript from entry `from` on.
std::vector<sim_entry> saves_since(sim_server* sim, size_t from) {
  std::vector<sim_entry> out;
  std::vector<sim_entry> t = sim_transcript(sim);
  for (size_t i = from; i < t.size(); i++)
    if (t[i].kind == kSaveKind) out.push_back(t[i]);
  return out;
}

std::string inflate(const std::vector<uint8_t>& block) {
  growbuf gb{};
  if (growbuf_init(&gb, int32_t(block.size()) * 4 + 64, 1024) < 0) return "";
  std::string s;
  if (decblk_inflate(block.data(), int32_t(block.size()), &gb) == int32_t(block.size()))
    s.assign(reinterpret_cast<const char*>(gb.data), size_t(gb.len));
  growbuf_free(&gb);
  return s;
}

TEST(UserConfigProgram, SavedAtLogoutLoadedByTheNextProcess) {
  std::string why;
  ASSERT_TRUE(pixeltest_ensure_display(&why)) << why;
  sim_server* sim = nullptr;
  ASSERT_NO_FATAL_FAILURE(make_test_sim(&sim, 50));
  sim_user u;
  u.name = "dana";
  u.password = "secret";
  u.id = 33;
  ASSERT_EQ(0, sim_add_user(sim, u));
  const int port = sim_start(sim, 0);
  ASSERT_GT(port, 0);

  // A new user: no stored copy, screen 0, one save at logout.
  proc_tempdir home1;
  size_t mark = sim_transcript(sim).size();
  ProgramRun first = run_and_quit(sim, port, home1.path, {});
  ASSERT_TRUE(first.online);
  EXPECT_TRUE(first.quit) << first.log;
  EXPECT_NE(first.log.find("remote config not found"), std::string::npos) << first.log;
  std::vector<sim_entry> saves = saves_since(sim, mark);
  ASSERT_EQ(saves.size(), 1u) << first.log;
  EXPECT_EQ(saves[0].a, 1u);
  const std::string text = inflate(saves[0].data);
  ASSERT_EQ(text.rfind("version 2\n", 0), 0u) << text.substr(0, 200);
  EXPECT_NE(text.find("\nscreen 0\nscreen.bounds "), std::string::npos);

  // A second process loads the kept copy and saves it back unchanged.
  proc_tempdir home2;
  mark = sim_transcript(sim).size();
  ProgramRun second = run_and_quit(sim, port, home2.path, {});
  ASSERT_TRUE(second.online);
  EXPECT_TRUE(second.quit) << second.log;
  EXPECT_NE(second.log.find("version 2 remote config"), std::string::npos) << second.log;
  std::vector<sim_entry> again = saves_since(sim, mark);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].data, saves[0].data) << inflate(again[0].data).substr(0, 400);

  // "--nosave": signed on and off, nothing sent.
  proc_tempdir home3;
  mark = sim_transcript(sim).size();
  ProgramRun third = run_and_quit(sim, port, home3.path, {"--nosave"});
  ASSERT_TRUE(third.online);
  EXPECT_TRUE(third.quit);
  EXPECT_TRUE(saves_since(sim, mark).empty());
  EXPECT_NE(third.log.find("skipping remote save"), std::string::npos);
  sim_destroy(sim);
}

}  // namespace
