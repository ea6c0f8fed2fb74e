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

#include "pixeltest.h"

namespace fs = std::filesystem;

static std::string shell(const std::string &cmd) {
  std::string out;
  if (FILE *p = popen(cmd.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

static std::string slurp(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

static void put(const std::string &path, const std::string &data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

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
  std::string xid;
  while (xid.empty() && std::chrono::steady_clock::now() < end) {
    xid = shell("xdotool search --onlyvisible --pid " + std::to_string(pid) +
                " --name '^Ambit$' 2>/dev/null | head -1");
    pollfd none{};
    if (xid.empty()) poll(&none, 0, 50);  // between looks; the deadline bounds the wait
  }
  char exe[4096];
  ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), exe, sizeof exe - 1);
  if (n > 0) s.exe.assign(exe, (size_t)n);
  if (!xid.empty()) {
    xid.pop_back();
    if (system(("xdotool windowfocus --sync " + xid + " key super+q").c_str()) != 0) xid.clear();
  }
  int st = 0;
  pid_t done = 0;
  while ((done = waitpid(pid, &st, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end) {
    pollfd none{};
    poll(&none, 0, 20);  // the child's exit has no descriptor to wait on
  }
  if (done == 0) {
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
  put(install + "/VERSION", "1.27.1.39293\n");

  Started s = start_and_quit(bin + "/launcher", data, {"--nosave"});
  EXPECT_EQ(s.exe, root + "/Run/0/Ambit");
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(slurp(root + "/Program/EXE_L64"), slurp(AMBIT_PROGRAM));
  EXPECT_EQ(slurp(root + "/Config/INSTALL_VERSION"), "1.27.1.39293\n");

  // A bundle with a higher version upgrades, and "--alt" runs slot 1.
  put(install + "/VERSION", "1.27.2.1\n");
  s = start_and_quit(bin + "/launcher", data, {"--alt", "--nosave"});
  EXPECT_EQ(s.exe, root + "/Run/1/Ambit");
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(slurp(root + "/Program/VERSION"), "1.27.2.1\n");
  EXPECT_EQ(slurp(root + "/Config/INSTALL_VERSION"), "1.27.2.1\n");
  fs::remove_all(t);
}
