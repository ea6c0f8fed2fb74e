// The launcher program end to end with the real terminal: the build's
// `Ambit` is the bundle's stored program, the launcher installs it into a
// temporary data tree, and the terminal's window comes up under the test X
// server from the run slot (the process's executable link tells which).
// The terminal is quit through its menu chord.
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

namespace fs = std::filesystem;

struct Started {
  std::string exe;  // the process's executable once the window showed
  int code = -1;
};

// Starts the bundle's launcher with `args`, waits for the terminal's window,
// reads the process's executable, quits the terminal and collects its exit.
static Started start_and_quit(const std::string &launcher, const std::string &data,
                              const std::vector<std::string> &args) {
  Started s;
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
  std::string xid = proc_find_window("--pid " + std::to_string(pid) + " --name '^Ambit$'", end);
  char exe[4096];
  ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), exe, sizeof exe - 1);
  if (n > 0) s.exe.assign(exe, (size_t)n);
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

TEST(LauncherProgram, InstallsUpgradesAndStartsTheTerminal) {
  std::string why;
  ASSERT_TRUE(pixeltest_ensure_display(&why)) << why;
  char tmpl[] = "/tmp/launcher-e2e-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  std::string t = tmpl, bin = t + "/bin", data = t + "/data", root = data + "/Ambit";
  std::string install = bin + "/Ambit.app/Contents/Resources/Install";
  fs::create_directories(install);
  fs::create_directories(data);
  fs::copy_file(LAUNCHER_PROGRAM, bin + "/launcher");
  fs::copy_file(AMBIT_PROGRAM, install + "/EXE_L64");
  proc_write_file(install + "/VERSION", "1.27.1.39293\n");

  Started s = start_and_quit(bin + "/launcher", data, {"--nosave"});
  EXPECT_EQ(s.exe, root + "/Run/0/Ambit");
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(proc_read_file(root + "/Program/EXE_L64"), proc_read_file(AMBIT_PROGRAM));
  EXPECT_EQ(proc_read_file(root + "/Config/INSTALL_VERSION"), "1.27.1.39293\n");

  // A bundle with a higher version upgrades, and "--alt" runs slot 1.
  proc_write_file(install + "/VERSION", "1.27.2.1\n");
  s = start_and_quit(bin + "/launcher", data, {"--alt", "--nosave"});
  EXPECT_EQ(s.exe, root + "/Run/1/Ambit");
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(proc_read_file(root + "/Program/VERSION"), "1.27.2.1\n");
  EXPECT_EQ(proc_read_file(root + "/Config/INSTALL_VERSION"), "1.27.2.1\n");
  fs::remove_all(t);
}
