// The launcher. Options and the alert text are checked in this process; the
// rest runs the built launcher in child processes against a bundle folder
// the test builds beside a copy of it: the stored program is
// launcher-helper, which prints its executable, working folder and
// arguments, so the run slot and the argument list are seen from the
// executed program's side. The data tree lives under a temporary
// XDG_DATA_HOME, and the children have no display, so the failure alert
// comes out on standard error.
#include "stub/stub.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../terminal/proc.h"
#include "log.h"
#include "plat.h"

namespace fs = std::filesystem;

TEST(StubOptions, Table) {
  struct Row {
    std::vector<const char *> args;
    stub_options want;
  } rows[] = {
      {{"launcher"}, {0, 1, 0, 0}},
      {{"launcher", "--alt"}, {1, 1, 0, 0}},
      {{"launcher", "-alt"}, {1, 1, 0, 0}},
      {{"launcher", "-----alt"}, {1, 1, 0, 0}},
      {{"launcher", "alt"}, {0, 1, 0, 0}},  // not an option without a dash
      {{"launcher", "--nolog"}, {0, 0, 0, 0}},
      {{"launcher", "--nolog", "---log"}, {0, 1, 0, 0}},
      {{"launcher", "-log", "-nolog"}, {0, 0, 0, 0}},
      {{"launcher", "--debug"}, {0, 1, 1, 0}},
      {{"launcher", "-debug"}, {0, 1, 1, 0}},
      {{"launcher", "--32bit"}, {0, 1, 0, 32}},
      {{"launcher", "--64bit", "--alternate", "--debugx", "-"}, {0, 1, 0, 0}},
      {{"--alt"}, {0, 1, 0, 0}},  // the program's own name is never an option
      {{"launcher", "-u", "alt", "--alt", "-p", "debug"}, {1, 1, 0, 0}},
  };
  for (const Row &r : rows) {
    std::vector<char *> argv;
    for (const char *a : r.args) argv.push_back(const_cast<char *>(a));
    stub_options got;
    stub_parse_options((int)argv.size(), argv.data(), &got);
    std::string what = r.args.size() > 1 ? r.args[1] : r.args[0];
    EXPECT_EQ(got.alt, r.want.alt) << what;
    EXPECT_EQ(got.log, r.want.log) << what;
    EXPECT_EQ(got.debug, r.want.debug) << what;
    EXPECT_EQ(got.bits, r.want.bits) << what;
  }
}

static const char kMessage[] =
    "There was a problem launching Ambit:\n\n"
    "Please leave this message on your screen and contact Osprey2 for assistance\n\n";

static int count(const std::string &s, const std::string &what) {
  int n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) n++;
  return n;
}

TEST(StubAlert, RecentLinesLimits) {
  ASSERT_EQ(plat_init(), 0);
  ASSERT_EQ(log_init(), 0);
  log_set_memory(1);
  log_set_stderr(0);
  char text[kStubAlertMax];
  // Short lines: the newest 16, oldest first.
  for (int i = 0; i < 20; i++) log(LOG_INFO, "test", "line %02d", i);
  std::string got = stub_alert_text(text, sizeof text);
  ASSERT_EQ(got.rfind(kMessage, 0), 0u) << got;
  std::string lines = got.substr(strlen(kMessage));
  EXPECT_EQ(lines.find("line 03"), std::string::npos);
  size_t first = lines.find("line 04"), last = lines.find("line 19");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(last, std::string::npos);
  EXPECT_LT(first, last);
  EXPECT_EQ(count(lines, "line "), 16);
  EXPECT_EQ(count(lines, "\n"), 15);
  // Long lines: as many of the newest as stay under 2048 bytes.
  std::string wide(300, 'w');
  for (int i = 0; i < 10; i++) log(LOG_WARN, "test", "%d %s", i, wide.c_str());
  got = stub_alert_text(text, sizeof text);
  lines = got.substr(strlen(kMessage));
  EXPECT_LT(lines.size(), (size_t)kStubAlertLogBytes);
  EXPECT_GT(lines.size(), (size_t)kStubAlertLogBytes - 400);  // no room for one more
  EXPECT_NE(lines.find("9 www"), std::string::npos);
  EXPECT_EQ(lines.find("line 19"), std::string::npos);
  EXPECT_LT(got.size(), (size_t)kStubAlertMax);
  log_fini();
  plat_fini();
}

static std::string g_title, g_text;
static void capture_alert(const char *title, const char *text) {
  g_title = title;
  g_text = text;
}

// The launcher failing inside this process: no bundle beside the test
// program, nothing stored, so the run slot cannot be written.
TEST(StubAlert, FailureGoesThroughTheSeam) {
  char tmpl[] = "/tmp/stubalert-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  setenv("XDG_DATA_HOME", tmpl, 1);
  stub_set_alert_hook(capture_alert);
  char arg0[] = "/nowhere/launcher", arg1[] = "--nolog";
  char *argv[] = {arg0, arg1, nullptr};
  EXPECT_EQ(stub_main(2, argv), 255);
  stub_set_alert_hook(nullptr);
  EXPECT_EQ(g_title, "Ambit Error");
  EXPECT_EQ(g_text.rfind(kMessage, 0), 0u) << g_text;
  EXPECT_NE(g_text.find("Can't find executable\n"), std::string::npos) << g_text;
  EXPECT_EQ(g_text.substr(g_text.size() - 22), "Can't write executable") << g_text;
  fs::remove_all(tmpl);
}

// ---- the launcher in child processes ----


struct Child {
  int code = -1;
  std::string out, err;
  std::vector<std::string> args;  // the executed program's arguments
  std::string exe, cwd;
};

class Launcher : public ::testing::Test {
 protected:
  std::string t, bin, install, root;

  void SetUp() override {
    char tmpl[] = "/tmp/launcher-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    t = tmpl;
    bin = t + "/bin";
    install = bin + "/Ambit.app/Contents/Resources/Install";
    root = t + "/data/Ambit";
    fs::create_directories(install);
    fs::create_directories(t + "/data");
    fs::copy_file(LAUNCHER_PROGRAM, bin + "/launcher");
    fs::copy_file(LAUNCHER_HELPER, install + "/EXE_L64");
    proc_write_file(install + "/VERSION", "1.27.1.39293\n");
    proc_write_file(install + "/0;ASX", "cached");
    proc_write_file(install + "/LOCAL_CONFIG.0", "settings");
    proc_write_file(install + "/Credits.html", "credits");
  }
  void TearDown() override { fs::remove_all(t); }

  // Runs the bundle's launcher with `args`; `fsize` > 0 limits the size of
  // every file the launcher writes.
  Child run(std::vector<std::string> args, long fsize = 0) {
    Child r;
    std::string out = t + "/out.txt", err = t + "/err.txt";
    std::string prog = bin + "/launcher";
    args.insert(args.begin(), prog);
    pid_t pid = fork();
    if (pid == 0) {
      FILE *o = freopen(out.c_str(), "w", stdout);
      FILE *e = freopen(err.c_str(), "w", stderr);
      if (!o || !e || chdir(t.c_str()) != 0) _exit(90);
      setenv("XDG_DATA_HOME", (t + "/data").c_str(), 1);
      setenv("TMPDIR", t.c_str(), 1);
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      alarm(60);  // a hung child ends itself
      if (fsize > 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl = {(rlim_t)fsize, (rlim_t)fsize};
        setrlimit(RLIMIT_FSIZE, &rl);
      }
      std::vector<char *> argv;
      for (auto &a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(prog.c_str(), argv.data());
      _exit(91);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    r.out = proc_read_file(out);
    r.err = proc_read_file(err);
    std::istringstream lines(r.out);
    for (std::string l; std::getline(lines, l);) {
      if (l.rfind("arg ", 0) == 0) r.args.push_back(l.substr(4));
      if (l.rfind("exe ", 0) == 0) r.exe = l.substr(4);
      if (l.rfind("cwd ", 0) == 0) r.cwd = l.substr(4);
    }
    return r;
  }
  std::string log_text() { return proc_read_file(root + "/log.txt"); }
};

TEST_F(Launcher, FirstStartInstallsAndRunsSlotZero) {
  Child r = run({});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.exe, root + "/Run/0/Ambit");
  ASSERT_EQ(r.args.size(), 1u);
  EXPECT_EQ(r.args[0], root + "/Run/0/Ambit");
  EXPECT_EQ(r.cwd, t);
  EXPECT_EQ(proc_read_file(root + "/Program/EXE_L64"), proc_read_file(LAUNCHER_HELPER));
  EXPECT_EQ(proc_read_file(root + "/Program/VERSION"), "1.27.1.39293\n");
  EXPECT_EQ(proc_read_file(root + "/Config/INSTALL_VERSION"), "1.27.1.39293\n");
  EXPECT_EQ(proc_read_file(root + "/Config/LOCAL_CONFIG.0"), "settings");
  EXPECT_EQ(proc_read_file(root + "/Cache/Data/0;ASX"), "cached");
  EXPECT_EQ(proc_read_file(root + "/Program/Credits.html"), "credits");
  EXPECT_FALSE(fs::exists(root + "/Program/0;ASX"));
  struct stat st;
  ASSERT_EQ(stat((root + "/Run/0/Ambit").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  std::string log = log_text();
  EXPECT_NE(log.find("installing Ambit"), std::string::npos) << log;
  EXPECT_NE(log.find("executing " + root + "/Run/0/Ambit with 1 args"), std::string::npos) << log;

  // The second start finds it installed and current.
  proc_write_file(root + "/Program/marker", "x");
  r = run({});
  ASSERT_EQ(r.code, 0) << r.err;
  log = log_text();
  EXPECT_EQ(log.find("installing Ambit"), std::string::npos) << log;
  EXPECT_EQ(log.find("upgrading Ambit"), std::string::npos) << log;
}

TEST_F(Launcher, VersionPairsDecideTheInstall) {
  struct Row {
    const char *installed, *stored, *bundle;
    const char *want;  // the log line of the decision, or "" for none
  } rows[] = {
      {"9", "1.27.1.39293", "1.27.1.39300\n", "upgrading Ambit"},
      {"1.27.2", "1.27.2", "1.27.1.99999", ""},
      {"9", "1. 27.1.4", "1.27.1.5", "upgrading Ambit"},
      {"9", "1. 27.1.5", "1.27.1.5", ""},
      {"1.10", "1.10", "1.9", "installing Ambit"},
      {"1.9", "1.10", "1.10", ""},
      {"1.27.1.39293\n", "1.27.1.39293\n", "1.27.1.39293\n", ""},
      {"9", "1.99999999999999999999", "1.2", ""},
      {"9", "1.2", "1.99999999999999999999", "upgrading Ambit"},
  };
  ASSERT_EQ(run({}).code, 0);
  for (const Row &r : rows) {
    SCOPED_TRACE(std::string(r.installed) + " / " + r.stored + " / " + r.bundle);
    proc_write_file(root + "/Config/INSTALL_VERSION", r.installed);
    proc_write_file(root + "/Program/VERSION", r.stored);
    proc_write_file(install + "/VERSION", r.bundle);
    proc_write_file(install + "/Credits.html", std::string("new ") + r.bundle);
    proc_write_file(root + "/Program/Credits.html", "old");
    Child got = run({});
    ASSERT_EQ(got.code, 0) << got.err;
    std::string log = log_text();
    bool copied = proc_read_file(root + "/Program/Credits.html") != "old";
    if (r.want[0]) {
      EXPECT_NE(log.find(r.want), std::string::npos) << log;
      EXPECT_TRUE(copied);
      EXPECT_EQ(proc_read_file(root + "/Program/VERSION"), r.bundle);
      EXPECT_EQ(proc_read_file(root + "/Config/INSTALL_VERSION"), r.bundle);
    } else {
      EXPECT_EQ(log.find("installing Ambit"), std::string::npos) << log;
      EXPECT_EQ(log.find("upgrading Ambit"), std::string::npos) << log;
      EXPECT_FALSE(copied);
    }
  }
}

TEST_F(Launcher, ArgumentsAndRunSlots) {
  struct Row {
    std::vector<std::string> args;
    int slot;
    std::vector<std::string> passed;
  } rows[] = {
      {{}, 0, {}},
      {{"--alt"}, 1, {"--alt"}},
      {{"-alt", "x"}, 1, {"-alt", "x"}},
      {{"--debug", "-u", "bob"}, 0, {"-u", "bob"}},
      {{"-debug", "---log", "--debug", "two words", "--nolog"}, 0,
       {"-debug", "---log", "two words", "--nolog"}},
      {{"alt", "--32bit", "--debugx"}, 0, {"alt", "--32bit", "--debugx"}},
  };
  ASSERT_EQ(run({}).code, 0);
  for (const Row &r : rows) {
    SCOPED_TRACE(r.args.empty() ? std::string("(none)") : r.args[0]);
    // The 32-bit program is stored beside the 64-bit one.
    fs::copy_file(LAUNCHER_HELPER, root + "/Program/EXE_L32", fs::copy_options::overwrite_existing);
    proc_write_file(root + "/Run/" + std::to_string(1 - r.slot) + "/stale", "x");
    Child got = run(r.args);
    ASSERT_EQ(got.code, 0) << got.err;
    std::string slot = root + "/Run/" + std::to_string(r.slot) + "/Ambit";
    EXPECT_EQ(got.exe, slot);
    std::vector<std::string> want = {slot};
    want.insert(want.end(), r.passed.begin(), r.passed.end());
    EXPECT_EQ(got.args, want);
    // Old run slot files are cleared on every start.
    EXPECT_FALSE(fs::exists(root + "/Run/" + std::to_string(1 - r.slot) + "/stale"));
  }
}

TEST_F(Launcher, NoInstallFolderWithAStoredProgramGoesOn) {
  ASSERT_EQ(run({}).code, 0);
  fs::remove_all(bin + "/Ambit.app");
  Child r = run({"-x"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.exe, root + "/Run/0/Ambit");
  std::string log = log_text();
  EXPECT_NE(log.find("can't find global install version"), std::string::npos) << log;
  EXPECT_NE(log.find("installation failed, trying to continue"), std::string::npos) << log;
}

TEST_F(Launcher, FailuresEndWithTheAlertAndTheirCodes) {
  struct Row {
    const char *what;
    const char *program;  // null: no stored program in the bundle
    int code;
    std::vector<const char *> lines;
  } rows[] = {
      {"nothing to run", nullptr, 255, {"Can't find executable", "Can't write executable"}},
      {"not a program", "not a program\n", 1, {"can't execute " /* path follows */}},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    fs::remove_all(t + "/data");
    fs::create_directories(t + "/data");
    fs::remove(install + "/EXE_L64");
    if (r.program) proc_write_file(install + "/EXE_L64", r.program);
    Child got = run({});
    EXPECT_EQ(got.code, r.code) << got.err;
    size_t at = got.err.find(std::string("Ambit Error\n") + kMessage);
    ASSERT_NE(at, std::string::npos) << got.err;
    std::string alert = got.err.substr(at);
    for (const char *l : r.lines) EXPECT_NE(alert.find(l), std::string::npos) << l << "\n" << alert;
    // The log file holds the same lines for whoever reads it later.
    for (const char *l : r.lines) EXPECT_NE(log_text().find(l), std::string::npos) << l;
  }
}

TEST_F(Launcher, CutInstallIsRepairedAndNeverLeavesAHalfProgram) {
  long helper = (long)fs::file_size(LAUNCHER_HELPER);
  // A first install whose program copy fails part way: nothing recorded.
  Child r = run({}, helper / 2);
  EXPECT_EQ(r.code, 255) << r.err;
  EXPECT_FALSE(fs::exists(root + "/Program/EXE_L64"));
  EXPECT_FALSE(fs::exists(root + "/Program/VERSION"));
  EXPECT_FALSE(fs::exists(root + "/Config/INSTALL_VERSION"));
  // The next start repairs it.
  r = run({});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(proc_read_file(root + "/Config/INSTALL_VERSION"), "1.27.1.39293\n");

  // An upgrade to a bigger program cut by the file size limit keeps the old
  // program whole and runnable, and the old version recorded.
  std::string bigger = proc_read_file(LAUNCHER_HELPER) + std::string(1 << 20, '\0');
  proc_write_file(install + "/EXE_L64", bigger);
  proc_write_file(install + "/VERSION", "1.27.1.40000\n");
  r = run({"-k"}, helper + (1 << 19));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.args, (std::vector<std::string>{root + "/Run/0/Ambit", "-k"}));
  EXPECT_EQ(proc_read_file(root + "/Program/EXE_L64"), proc_read_file(LAUNCHER_HELPER));
  EXPECT_EQ(proc_read_file(root + "/Program/VERSION"), "1.27.1.39293\n");
  EXPECT_EQ(proc_read_file(root + "/Config/INSTALL_VERSION"), "1.27.1.39293\n");
  for (const auto &e : fs::directory_iterator(root + "/Program"))
    EXPECT_TRUE(e.path().filename() == "EXE_L64" || e.path().filename() == "VERSION" ||
                e.path().filename() == "Credits.html")
        << e.path();
  // Without the limit the upgrade completes.
  r = run({});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(proc_read_file(root + "/Program/EXE_L64"), bigger);
  EXPECT_EQ(proc_read_file(root + "/Config/INSTALL_VERSION"), "1.27.1.40000\n");
}

TEST_F(Launcher, DebugLogIsPrivateAndNeverFollowsALink) {
  proc_write_file(t + "/victim", "keep");
  fs::create_directories(root);
  fs::create_symlink(t + "/victim", root + "/ambitlog.txt");
  Child r = run({"--debug"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(proc_read_file(t + "/victim"), "keep");
  EXPECT_TRUE(fs::is_symlink(root + "/ambitlog.txt"));

  fs::remove(root + "/ambitlog.txt");
  r = run({"-debug"});
  ASSERT_EQ(r.code, 0) << r.err;
  struct stat st;
  ASSERT_EQ(lstat((root + "/ambitlog.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::string log = proc_read_file(root + "/ambitlog.txt");
  EXPECT_NE(log.find("starting stub " + bin + "/launcher (debugging)"), std::string::npos) << log;
  EXPECT_NE(log.find("executing"), std::string::npos) << log;
  // Debugging keeps the data tree's log file out of it, and nothing goes to
  // the shared temporary folder.
  EXPECT_FALSE(fs::exists(root + "/log.txt"));
  EXPECT_FALSE(fs::exists(t + "/ambitlog.txt"));
}
