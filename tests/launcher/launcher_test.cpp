// The launcher program end to end with the real terminal: the build's
// `Ambit` is the bundle's stored program, the launcher installs it into a
// temporary data tree, and the terminal comes up under the test X server
// from the run slot (the process's executable link tells which). The
// market simulator runs in the test on loopback: given a user name and
// password on the launcher's command line, the installed terminal signs on
// to it (the simulator counts the accepted login and records the version
// line the terminal sends once its screens are up); without them the login
// box shows and nothing connects. The login box is quit through the menu
// chord. Once signed on the terminal has no window of its own yet (the
// user configuration that would reopen its screens is not read back), so
// there it is ended with a kill, as the program's own start-up test does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../terminal/proc.h"
#include "pixeltest.h"
#include "testsim.h"

namespace fs = std::filesystem;

struct Started {
  std::string exe;       // the process's executable once the window showed
  std::string window;    // the shown window's name
  std::string geometry;  // its size, "WxH"
  bool online = false;   // the version line reached the simulator
  int code = -1;         // exit code after the quit chord
  bool killed = false;   // still running once online, and ended by the kill
};

// Starts the bundle's launcher with `args`. When `sim` is given the terminal
// is to sign on to it: the wait is for its version line in the simulator's
// transcript (sent once the screens are up), then the process's executable
// is read and the process killed. Otherwise the wait is for the login box's
// window: the executable and the window's name and size are read, the
// terminal is quit through the menu chord and its exit collected.
static Started start_and_quit(const std::string &launcher, const std::string &data,
                              const std::vector<std::string> &args, sim_server *sim = nullptr) {
  Started s;
  const size_t from = sim ? sim_transcript(sim).size() : 0;
  pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    // The GL driver is unloaded before the sanitizer's leak check runs.
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    std::vector<char *> argv = {const_cast<char *>(launcher.c_str())};
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(launcher.c_str(), argv.data());
    _exit(127);
  }
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  const std::string by_pid = "--pid " + std::to_string(pid);
  std::string xid;
  sim_entry version;
  if (sim)
    s.online = sim_wait_entry(sim, 130, from, 60000, &version) >= 0 && version.a == 3;
  else
    xid = proc_find_window(by_pid + " --name '^Ambit$'", end);
  char exe[4096];
  ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), exe, sizeof exe - 1);
  if (n > 0) s.exe.assign(exe, (size_t)n);
  if (sim) {
    int st = 0;
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
    s.killed = s.online && WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL;
    return s;
  }
  if (!xid.empty()) {
    s.window = proc_shell("xdotool getwindowname " + xid);
    if (!s.window.empty()) s.window.pop_back();
    std::istringstream geo(proc_shell("xdotool getwindowgeometry --shell " + xid));
    std::string line, w, h;
    while (std::getline(geo, line)) {
      if (line.rfind("WIDTH=", 0) == 0) w = line.substr(6);
      if (line.rfind("HEIGHT=", 0) == 0) h = line.substr(7);
    }
    s.geometry = w + "x" + h;
  }
  if (!xid.empty() && system(("xdotool windowfocus --sync " + xid + " key super+q").c_str()) != 0)
    xid.clear();
  int st = 0;
  if (!proc_wait_until(pid, end, &st)) {
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
    return s;
  }
  if (!xid.empty() && WIFEXITED(st)) s.code = WEXITSTATUS(st);
  return s;
}

TEST(LauncherProgram, InstallsUpgradesStartsAndSignsOn) {
  std::string why;
  ASSERT_TRUE(pixeltest_ensure_display(&why)) << why;
  sim_server *sim = nullptr;
  ASSERT_NO_FATAL_FAILURE(make_test_sim(&sim, 50));
  const int port = sim_start(sim, 0);
  ASSERT_GT(port, 0);
  const std::vector<std::string> server = {"-h", "127.0.0.1", "-P", std::to_string(port)};
  const std::vector<std::string> login = {"-u", "alice", "-p", "secret"};
  auto with = [](std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };

  char tmpl[] = "/tmp/launcher-e2e-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  std::string t = tmpl, bin = t + "/bin", data = t + "/data", root = data + "/Ambit";
  std::string install = bin + "/Ambit.app/Contents/Resources/Install";
  fs::create_directories(install);
  fs::create_directories(data);
  fs::copy_file(LAUNCHER_PROGRAM, bin + "/launcher");
  fs::copy_file(AMBIT_PROGRAM, install + "/EXE_L64");
  proc_write_file(install + "/VERSION", "1.27.1.39293\n");

  // The first start installs, runs slot 0 and signs on with the user name
  // and password passed through.
  Started s = start_and_quit(bin + "/launcher", data, with(with({"--nosave"}, server), login), sim);
  EXPECT_TRUE(s.online) << "no version line from the installed terminal";
  EXPECT_TRUE(s.killed);
  EXPECT_EQ(s.exe, root + "/Run/0/Ambit");
  EXPECT_EQ(sim_get_stats(sim).logins, 1);
  EXPECT_EQ(sim_get_stats(sim).refusals, 0);
  EXPECT_EQ(proc_read_file(root + "/Program/EXE_L64"), proc_read_file(AMBIT_PROGRAM));
  EXPECT_EQ(proc_read_file(root + "/Config/INSTALL_VERSION"), "1.27.1.39293\n");

  // Without a user name and password the login box shows, and nothing
  // reaches the server.
  const int connections = sim_get_stats(sim).connections;
  s = start_and_quit(bin + "/launcher", data, with({"--nosave"}, server));
  EXPECT_EQ(s.exe, root + "/Run/0/Ambit");
  EXPECT_EQ(s.window, "Ambit");
  EXPECT_EQ(s.geometry, "500x310");
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(sim_get_stats(sim).connections, connections);

  // A bundle with a higher version upgrades, "--alt" runs slot 1, and the
  // upgraded terminal shows its login box and quits.
  proc_write_file(install + "/VERSION", "1.27.2.1\n");
  s = start_and_quit(bin + "/launcher", data, with({"--alt", "--nosave"}, server));
  EXPECT_EQ(s.exe, root + "/Run/1/Ambit");
  EXPECT_EQ(s.window, "Ambit");
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(sim_get_stats(sim).connections, connections);
  EXPECT_EQ(sim_get_stats(sim).logins, 1);
  EXPECT_EQ(proc_read_file(root + "/Program/VERSION"), "1.27.2.1\n");
  EXPECT_EQ(proc_read_file(root + "/Config/INSTALL_VERSION"), "1.27.2.1\n");
  sim_destroy(sim);
  fs::remove_all(t);
}
