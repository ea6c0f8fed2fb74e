// The program against the market simulator: a user with no stored
// configuration signs on to screen 0; quitting sends one save (flag 1) of a
// version 2 text, which the simulator keeps; a second process signs on,
// loads that copy and, quitting untouched, sends it back byte for byte;
// with "--nosave" nothing is sent. A user whose kept copy holds two screens
// (a split desktop with a link, a ticker, a hidden watch bar) gets them
// back: the next process's save is byte-identical and its screen windows
// have the same rectangles. (No window manager runs here: under one, the
// platform layer's frame round trip moves a window by its decoration, and
// the program's platform layer reports no maximise support.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "../terminal/proc.h"
#include "decblk.h"
#include "encblk.h"
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
  std::vector<std::string> geometry;  // "x,y wxh" of each visible window, in search order
};

// The private display up and a simulator, not yet started, with the user
// dana/secret the program signs on as.
void make_dana_sim(sim_server** sim) {
  std::string why;
  ASSERT_TRUE(pixeltest_ensure_display(&why)) << why;
  ASSERT_NO_FATAL_FAILURE(make_test_sim(sim, 50));
  sim_user u;
  u.name = "dana";
  u.password = "secret";
  u.id = 33;
  ASSERT_EQ(0, sim_add_user(*sim, u));
}

// Starts Ambit signed on as dana, waits for its version line, quits it
// through its screen window's quit chord (or by sending it `quit_signal`)
// and waits for the end.
ProgramRun run_and_quit(sim_server* sim, int port, const std::string& home, const std::vector<std::string>& extra,
                        int quit_signal = 0) {
  ProgramRun r;
  const size_t from = sim_transcript(sim).size();
  const std::string port_text = std::to_string(port);
  std::vector<std::string> args = {"Ambit", "-h", "127.0.0.1", "-P", port_text, "-u", "dana", "-p", "secret"};
  args.insert(args.end(), extra.begin(), extra.end());
  const pid_t pid = proc_start_terminal(AMBIT_PROGRAM, args, home);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  r.online = sim_wait_entry(sim, kVersionKind, from, 60000, nullptr) >= 0;
  const std::string query = "--pid " + std::to_string(pid);
  std::string xid = proc_find_window(query, end);
  if (sim_wait_entry(sim, kVersionKind, from, 1000, nullptr) >= 0) {
    // The screens as the window manager placed them, once they settled.
    std::string ids = proc_shell("xdotool search --onlyvisible " + query + " 2>/dev/null");
    std::istringstream in(ids);
    std::string id;
    while (std::getline(in, id)) {
      std::istringstream geo(proc_shell("xdotool getwindowgeometry --shell " + id));
      std::string line, g;
      while (std::getline(geo, line))
        if (line.rfind("X=", 0) == 0 || line.rfind("Y=", 0) == 0 || line.rfind("WIDTH=", 0) == 0 ||
            line.rfind("HEIGHT=", 0) == 0)
          g += line + " ";
      r.geometry.push_back(g);
    }
  }
  if (quit_signal)
    kill(pid, quit_signal);
  else if (!xid.empty())
    system(("xdotool windowfocus --sync " + xid + " key super+q").c_str());
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
  sim_server* sim = nullptr;
  ASSERT_NO_FATAL_FAILURE(make_dana_sim(&sim));
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

// A stop asked from outside is the user's quit: the configuration is saved
// to the server, the client signs off, and the process ends with 0 and a
// log that says so to its last line.
TEST(UserConfigProgram, StopSignalsQuitAsTheUserWould) {
  sim_server* sim = nullptr;
  ASSERT_NO_FATAL_FAILURE(make_dana_sim(&sim));
  const int port = sim_start(sim, 0);
  ASSERT_GT(port, 0);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    proc_tempdir home;
    const size_t mark = sim_transcript(sim).size();
    ProgramRun run = run_and_quit(sim, port, home.path, {}, sig);
    ASSERT_TRUE(run.online);
    EXPECT_TRUE(run.quit) << run.log;
    EXPECT_EQ(saves_since(sim, mark).size(), 1u) << run.log;
    EXPECT_NE(run.log.find("signal " + std::to_string(sig) + ": quitting"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("Saving config"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("failed to sign off"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("stopping Ambit"), std::string::npos) << run.log;  // the log is whole
  }
  sim_destroy(sim);
}

std::vector<uint8_t> framed(const std::string& text) {
  growbuf gb{};
  std::vector<uint8_t> out;
  if (growbuf_init(&gb, int32_t(text.size()) + 64, 1024) == 0 &&
      encblk_write(&gb, text.data(), int32_t(text.size())) == 0)
    out.assign(gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  return out;
}

TEST(UserConfigProgram, TwoScreensComeBackAsLeft) {
  sim_server* sim = nullptr;
  ASSERT_NO_FATAL_FAILURE(make_dana_sim(&sim));
  const char* root = getenv("AMBIT_SOURCE_DIR");
  const std::string seed = proc_read_file(std::string(root ? root : ".") + "/tests/startup/data/userconfig_seed.txt");
  ASSERT_FALSE(seed.empty());
  ASSERT_EQ(0, sim_set_user_config(sim, "dana", framed(seed)));
  const int port = sim_start(sim, 0);
  ASSERT_GT(port, 0);

  proc_tempdir home1;
  size_t mark = sim_transcript(sim).size();
  ProgramRun first = run_and_quit(sim, port, home1.path, {});
  ASSERT_TRUE(first.online);
  EXPECT_TRUE(first.quit) << first.log;
  std::vector<sim_entry> saves = saves_since(sim, mark);
  ASSERT_EQ(saves.size(), 1u) << first.log;
  const std::string text = inflate(saves[0].data);
  for (const char* line : {"\nscreen.desktop.layout \"W0 W1 H0.400 W2 V0.600 P0,1\"\n",
                           "\nscreen.desktop.window.parent 0\n", "\nscreen.tickbar.ticker.show_type show\n",
                           "\nscreen.watchbar.show f\n",
                           "\nscreen.desktop.window.scan 5\n", "\nwatchlist 3 Banks\n",
                           "\nscreen.desktop.window.tradelist.group_by_seconds 60\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  EXPECT_EQ(first.geometry.size(), 2u);

  proc_tempdir home2;
  mark = sim_transcript(sim).size();
  ProgramRun second = run_and_quit(sim, port, home2.path, {});
  ASSERT_TRUE(second.online);
  EXPECT_TRUE(second.quit) << second.log;
  std::vector<sim_entry> again = saves_since(sim, mark);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].data, saves[0].data) << inflate(again[0].data).substr(0, 400);
  EXPECT_EQ(second.geometry, first.geometry);
  sim_destroy(sim);
}

// The lines of a text that begin with `prefix`, in order.
std::vector<std::string> lines_from(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  return out;
}

TEST(UserConfigProgram, ChartAndTerminalWindowsComeBackAfterARestart) {
  sim_server* sim = nullptr;
  ASSERT_NO_FATAL_FAILURE(make_dana_sim(&sim));
  const char* root = getenv("AMBIT_SOURCE_DIR");
  const std::string seed = proc_read_file(std::string(root ? root : ".") + "/tests/startup/data/userconfig_charts.txt");
  ASSERT_FALSE(seed.empty());
  ASSERT_EQ(0, sim_set_user_config(sim, "dana", framed(seed)));
  const int port = sim_start(sim, 0);
  ASSERT_GT(port, 0);

  // The program reads the windows and writes them back at logout as it
  // read them: a chart of its own (weekly bars, an average, an RSI), a
  // chart on the style "Daily", a terminal with its arguments and a depth
  // window's bar thickness.
  proc_tempdir home1;
  size_t mark = sim_transcript(sim).size();
  ProgramRun first = run_and_quit(sim, port, home1.path, {});
  ASSERT_TRUE(first.online);
  EXPECT_TRUE(first.quit) << first.log;
  std::vector<sim_entry> saves = saves_since(sim, mark);
  ASSERT_EQ(saves.size(), 1u) << first.log;
  const std::string text = inflate(saves[0].data);
  EXPECT_EQ(lines_from(text, "screen.desktop.window.anon_chart"), lines_from(seed, "screen.desktop.window.anon_chart"))
      << text;
  EXPECT_EQ(lines_from(text, "chart"), lines_from(seed, "chart"));
  for (const char* line : {"\nscreen.desktop.window.chart 4\n", "\nscreen.desktop.window.terminal.type 0\n",
                           "\nscreen.desktop.window.terminal.args \"-l demo\"\n",
                           "\nscreen.desktop.window.depthwin.thickness 9\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;

  // The next process gets the same back.
  proc_tempdir home2;
  mark = sim_transcript(sim).size();
  ProgramRun second = run_and_quit(sim, port, home2.path, {});
  ASSERT_TRUE(second.online);
  EXPECT_TRUE(second.quit) << second.log;
  std::vector<sim_entry> again = saves_since(sim, mark);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].data, saves[0].data) << inflate(again[0].data).substr(0, 400);
  sim_destroy(sim);
}

}  // namespace
