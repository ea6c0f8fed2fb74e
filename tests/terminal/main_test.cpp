// The process entry and application main: the options as a table of command
// lines and the settings they give, the restart list as a table, a restart
// that really re-executes (the helper prints the list it got), the module
// start order and its reverse shutdown watched through the step hook in a
// child process (the first failing module ends the start with 1), and the
// program itself: --version, --help, and a run under Xvfb that opens its
// first window and quits through the platform layer's Quit chord.
#include "main.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <regex>

#include "log.h"
#include "pixeltest.h"
#include "plat.h"
#include "proc.h"
#include "startup/start.h"
#include "testlog.h"

namespace {

struct argv_list {
  std::vector<std::string> words;
  std::vector<char *> ptrs;
  explicit argv_list(std::vector<std::string> w) : words(std::move(w)) {
    for (std::string &s : words) ptrs.push_back(s.data());
    ptrs.push_back(nullptr);
  }
  int argc() const { return (int)words.size(); }
  char **argv() { return ptrs.data(); }
};

std::string str(const char *s) { return s ? s : "(unset)"; }

struct option_case {
  std::vector<std::string> args;
  int result;  // -1: start goes on
  int log_on, alt, cpu;
  const char *host;
  int port;
  const char *site, *user, *password;
  int noload, nosave, noupdate, purge, restart;
};

const option_case kOptions[] = {
    {{}, -1, 1, 0, 0, nullptr, 6080, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0},
    {{"-h", "md.example", "-P", "7001", "-s", "AU", "-u", "bob", "-p", "pw"}, -1, 1, 0, 0, "md.example", 7001, "AU", "bob", "pw", 0, 0, 0, 0, 0},
    {{"-noload", "--nosave", "---noupdate", "--purge", "--restart"}, -1, 1, 0, 0, nullptr, 6080, nullptr, nullptr, nullptr, 1, 1, 1, 1, 1},
    {{"--nolog", "--alt", "--cpu", "2"}, -1, 0, 1, 2, nullptr, 6080, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0},
    {{"--nolog", "--log"}, -1, 1, 0, 0, nullptr, 6080, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0},
    {{"--log", "--nolog"}, -1, 0, 0, 0, nullptr, 6080, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0},
    {{"--cpu"}, -1, 1, 0, 0, nullptr, 6080, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0},
    {{"-P"}, -1, 1, 0, 0, nullptr, 6080, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0},
    {{"-u"}, -1, 1, 0, 0, nullptr, 6080, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0},
    {{"-psn_0_12345", "--filecodes", "-noload", "--notrap", "--stderr", "--managed", "--trace"}, -1, 1, 0, 0, nullptr, 6080, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0},
    {{"stray", "--bogus", "-u", "ann"}, -1, 1, 0, 0, nullptr, 6080, nullptr, "ann", nullptr, 0, 0, 0, 0, 0},
    {{"--version", "--noload"}, 0, 1, 0, 0, nullptr, 6080, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0},
    {{"---help"}, 0, 1, 0, 0, nullptr, 6080, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0},
    {{"-?", "--noload"}, 0, 1, 0, 0, nullptr, 6080, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0},
    {{"--"}, 1, 1, 0, 0, nullptr, 6080, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0},
    {{"-x", "--noload"}, 1, 1, 0, 0, nullptr, 6080, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0},
};

TEST(MainOptions, CommandLinesGiveSettings) {
  start_runtime(TestStderr::kOff);
  for (const option_case &c : kOptions) {
    std::vector<std::string> w{"Ambit"};
    w.insert(w.end(), c.args.begin(), c.args.end());
    argv_list a(w);
    SCOPED_TRACE(::testing::PrintToString(w));
    main_settings s;
    main_options_first(a.argc(), a.argv(), &s);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    int r = main_options_second(a.argc(), a.argv(), &s);
    std::string err = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, c.result);
    if (r != -1) continue;  // the settings after an early end don't matter
    EXPECT_EQ(s.log_on, c.log_on);
    EXPECT_EQ(s.alt, c.alt);
    EXPECT_EQ(s.cpu, c.cpu);
    EXPECT_EQ(str(s.host), str(c.host));
    EXPECT_EQ(s.port, c.port);
    EXPECT_EQ(str(s.site), str(c.site));
    EXPECT_EQ(str(s.user), str(c.user));
    EXPECT_EQ(str(s.password), str(c.password));
    EXPECT_EQ(s.noload, c.noload);
    EXPECT_EQ(s.nosave, c.nosave);
    EXPECT_EQ(s.noupdate, c.noupdate);
    EXPECT_EQ(s.purge, c.purge);
    EXPECT_EQ(s.restart, c.restart);
  }
}

TEST(MainOptions, UnknownWordsAreLoggedWithTheUsage) {
  start_runtime(TestStderr::kOff);
  argv_list a({"Ambit", "stray", "--bogus"});
  main_settings s;
  uint64_t mark = log_count();
  testing::internal::CaptureStderr();
  EXPECT_EQ(main_options_second(a.argc(), a.argv(), &s), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(logged_since(mark, "unrecognized nonoption 'stray'"));
  EXPECT_TRUE(logged_since(mark, "unrecognized option '--bogus'"));
  const std::string usage =
      "Usage: Ambit OPTIONS\n"
      "             ... [-h host] [-P port] [-s site] [-u user] [-p passwd]\n"
      "             ... [--noupdate] [--noload] [--nosave] [--notrap]\n"
      "             ... [--purge]\n"
      "             ... [--log]\n"
      "             --version\n"
      "             --help\n"
      "             ... [--password-file file]  (\"-p -\" reads it from standard input)\n";
  EXPECT_EQ(err, usage + usage);
}

// A password on the command line is wiped from the arguments once read;
// "-p -" takes the first line of standard input and "--password-file" that
// of a file, so it need never stand in the process list.
TEST(MainOptions, PasswordsStayOutOfTheProcessList) {
  start_runtime(TestStderr::kOff);
  {
    argv_list a({"Ambit", "-u", "bob", "-p", "hunter2"});
    main_settings s;
    ASSERT_EQ(main_options_second(a.argc(), a.argv(), &s), -1);
    EXPECT_EQ(str(s.password), "hunter2");
    EXPECT_EQ(std::string(a.argv()[4]), "");  // nothing left for ps to show
  }
  proc_tempdir dir;
  const std::string file = dir.path + "/pw";
  FILE *f = fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("from file\nsecond line\n", f);
  fclose(f);
  {
    argv_list a({"Ambit", "--password-file", file});
    main_settings s;
    ASSERT_EQ(main_options_second(a.argc(), a.argv(), &s), -1);
    EXPECT_EQ(str(s.password), "from file");
  }
  {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "piped pw\r\n", 10), 10);
    close(fds[1]);
    int saved = dup(0);
    dup2(fds[0], 0);
    close(fds[0]);
    argv_list a({"Ambit", "-p", "-", "-u", "ann"});
    main_settings s;
    int r = main_options_second(a.argc(), a.argv(), &s);
    dup2(saved, 0);
    close(saved);
    clearerr(stdin);
    ASSERT_EQ(r, -1);
    EXPECT_EQ(str(s.password), "piped pw");
    EXPECT_EQ(str(s.user), "ann");
  }
  {
    argv_list a({"Ambit", "--password-file", dir.path + "/missing"});
    main_settings s;
    uint64_t mark = log_count();
    ASSERT_EQ(main_options_second(a.argc(), a.argv(), &s), -1);
    EXPECT_EQ(str(s.password), "");
    EXPECT_TRUE(logged_since(mark, "can't read a password from "));
  }
}

struct restart_case {
  std::vector<std::string> args;
  int restart, alt, log;
  std::vector<std::string> expect;  // after the path
};

std::vector<std::string> many(int n) {
  std::vector<std::string> v;
  for (int i = 0; i < n; i++) v.push_back(std::string(1, 'a').append(std::to_string(i)));
  return v;
}

TEST(MainRestart, ArgumentListTable) {
  start_runtime(TestStderr::kOff);
  std::vector<std::string> m = many(40);
  const restart_case cases[] = {
      {{}, 0, 0, 0, {}},
      {{"-s", "AU", "-u", "bob", "-p", "pw", "--purge", "plain"}, 1, 1, 1, {"--restart", "--alt", "--log", "plain"}},
      {{"--restart", "--alt", "--log", "--noupdate", "-h", "host", "--nolog"}, 0, 1, 0, {"--alt", "-h", "host", "--nolog"}},
      {{"-P", "7001", "-s"}, 0, 0, 1, {"--log", "-P", "7001"}},
      {{"--password-file", "/home/bob/pw", "-u", "bob", "plain"}, 0, 0, 0, {"plain"}},
      {{"---purge", "--Purge"}, 0, 0, 0, {"---purge", "--Purge"}},
      {m, 1, 1, 1, [&] {
         std::vector<std::string> v{"--restart", "--alt", "--log"};
         v.insert(v.end(), m.begin(), m.begin() + 26);
         return v;
       }()},
      {m, 0, 0, 0, std::vector<std::string>(m.begin(), m.begin() + 29)},
  };
  for (const restart_case &c : cases) {
    std::vector<std::string> w{"Ambit"};
    w.insert(w.end(), c.args.begin(), c.args.end());
    argv_list a(w);
    SCOPED_TRACE(::testing::PrintToString(w));
    char *out[kMainRestartArgsMax + 1];
    uint64_t mark = log_count();
    int n = main_restart_args(a.argc(), a.argv(), "/opt/Run/Ambit", c.restart, c.alt, c.log, out);
    std::vector<std::string> got(out, out + n);
    std::vector<std::string> want{"/opt/Run/Ambit"};
    want.insert(want.end(), c.expect.begin(), c.expect.end());
    EXPECT_EQ(got, want);
    EXPECT_EQ(out[n], nullptr);
    EXPECT_LE(n, kMainRestartArgsMax);
    EXPECT_EQ(logged_since(mark, "too many args for restart, hoping for the best"), c.args.size() == 40);
  }
}

TEST(MainRestart, ReExecutesWithTheList) {
  proc_result r = proc_run({AMBIT_HELPER, "restart", AMBIT_HELPER, "argv", "-s", "AU", "-u", "bob", "-p", "pw",
                            "--purge", "plain", "--noupdate", "--log", "--alt", "--restart", "last"},
                           {});
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::string(AMBIT_HELPER) + "\nargv\nplain\nlast\n");
}

TEST(MainRestart, FailedExecIsLoggedAndReturns) {
  proc_result r = proc_run({AMBIT_HELPER, "restart", "/nonexistent/Ambit", "-x", "y", "z"}, {});
  EXPECT_EQ(r.code, 4);
  EXPECT_NE(r.err.find("unable to restart /nonexistent/Ambit -x y..."), std::string::npos) << r.err;
}

// ---- module order ----

std::vector<std::string> g_steps;
std::string g_fail_at;
int record_step(const char *name, int starting) {
  g_steps.push_back(std::string(starting ? "+" : "-") + name);
  if (!starting) return 0;
  // The login flow is always failed here, so the frame loop is skipped.
  return (g_fail_at == name || !strcmp(name, "start_main")) ? -1 : 0;
}

const std::vector<std::string> kStartOrder = {
    "+ssclient", "+site", "+config", "+load_local", "+config_local", "+fade", "+undo", "+trading", "+clipboard",
    "+gmap",     "+tex",  "+splash", "+phash",      "+dnd",          "+gui",  "+style_set_scale", "+style",
    "+scan",     "+cstyle", "+keyboard", "+docmgr", "+rss",          "+pdf",  "+tt",      "+start_main"};
const std::vector<std::string> kStopOrder = {
    "-start_cleanup", "-gmap_flush_cache", "-keyboard", "-undo",  "-window_destroy_all", "-cstyle", "-phash",
    "-dnd",           "-scan",             "-style",    "-pdf",   "-splash",             "-trading", "-docmgr",
    "-rss",           "-tex",              "-gmap",     "-tt",    "-gui",                "-config", "-clipboard",
    "-ssclient",      "-appdata",          "-site",     "-strbuf", "-crash_report",      "-dalloc"};

// Runs main_app in a child with the hook failing `fail_at`; the steps seen
// and the result.
// server_restart: the server has asked for a restart (the start-up flow's
// restart flag is raised before the application main runs).
std::pair<int, std::vector<std::string>> run_app(const std::string &fail_at, const std::string &home,
                                                 const char *extra = nullptr, bool server_restart = false) {
  int p[2];
  if (pipe(p) != 0) return {-1, {}};
  pid_t pid = fork();
  if (pid == 0) {
    close(p[0]);
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    plat_init();
    log_init();
    log_set_memory(1);
    g_fail_at = fail_at;
    main_set_step_hook(record_step);
    if (server_restart) start_set_restart(1);
    char *argv[] = {const_cast<char *>("Ambit"), const_cast<char *>("--nolog"), const_cast<char *>(extra), nullptr};
    int rc = main_app(extra ? 3 : 2, argv);
    std::string text;
    for (const std::string &s : g_steps) text += s + "\n";
    ssize_t w = write(p[1], text.data(), text.size());
    (void)w;
    _exit(rc);
  }
  close(p[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;) text.append(buf, (size_t)n);
  close(p[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  std::vector<std::string> steps;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) steps.push_back(l);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, steps};
}

std::vector<std::string> upto(const std::vector<std::string> &v, const std::string &last) {
  auto it = std::find(v.begin(), v.end(), last);
  return std::vector<std::string>(v.begin(), it == v.end() ? it : it + 1);
}

TEST(MainApp, ModulesStartInOrderAndStopInTheirOrder) {
  std::string why;
  ASSERT_TRUE(pixeltest_ensure_display(&why)) << why;
  std::vector<std::string> full = kStartOrder;
  full.insert(full.end(), kStopOrder.begin(), kStopOrder.end());
  struct {
    const char *fail_at;
    int code;
    std::vector<std::string> steps;
  } cases[] = {
      {"", 0, full},
      {"ssclient", 1, upto(kStartOrder, "+ssclient")},
      {"site", 1, upto(kStartOrder, "+site")},
      {"config", 1, upto(kStartOrder, "+config")},
      {"fade", 1, upto(kStartOrder, "+fade")},
      {"undo", 1, upto(kStartOrder, "+undo")},
      {"gui", 1, upto(kStartOrder, "+gui")},
      {"style", 1, upto(kStartOrder, "+style")},
      {"tt", 1, upto(kStartOrder, "+tt")},
      {"load_local", 0, full},  // reset to defaults, start goes on
      {"config_local", 0, {}},  // no record: no scale step
      {"pdf", 0, full},         // its result is ignored
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.fail_at);
    proc_tempdir home;
    auto [code, steps] = run_app(c.fail_at, home.path);
    EXPECT_EQ(code, c.code);
    if (std::string(c.fail_at) == "config_local") {
      std::vector<std::string> want = full;
      want.erase(std::find(want.begin(), want.end(), "+style_set_scale"));
      EXPECT_EQ(steps, want);
    } else {
      EXPECT_EQ(steps, c.steps);
    }
  }
}

// ---- the program ----

TEST(Program, VersionAndHelp) {
  proc_tempdir home;
  std::vector<std::pair<std::string, std::string>> env{{"XDG_DATA_HOME", home.path}};
  proc_result v = proc_run({AMBIT_PROGRAM, "--version"}, env);
  EXPECT_EQ(v.code, 0);
  EXPECT_EQ(v.out, "1.27.1 build 39293\n");
  proc_result h = proc_run({AMBIT_PROGRAM, "--help"}, env);
  EXPECT_EQ(h.code, 0);
  EXPECT_NE(h.err.find(std::string("Usage: ") + AMBIT_PROGRAM + " OPTIONS\n"), std::string::npos) << h.err;
  EXPECT_EQ(proc_run({AMBIT_PROGRAM, "-?"}, env).code, 0);
  EXPECT_EQ(proc_run({AMBIT_PROGRAM, "-x"}, env).code, 1);
  EXPECT_EQ(proc_run({AMBIT_PROGRAM, "--"}, env).code, 1);
  std::string log = proc_read_file(home.path + "/Ambit/log.txt");
  EXPECT_TRUE(std::regex_search(
      log, std::regex("INFO : starting Ambit 1\\.27\\.1 build 39293 x86_64-linux [^\n]+ protocol 6\n")))
      << log;
}


TEST(Program, OpensItsWindowAndQuitsWhenAsked) {
  std::string why;
  ASSERT_TRUE(pixeltest_ensure_display(&why)) << why;
  proc_tempdir home;
  pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_DATA_HOME", home.path.c_str(), 1);
    // The GL driver is unloaded before the sanitizer's leak check runs, so
    // what it keeps can't be told from ours by module: no leak check here.
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    execl(AMBIT_PROGRAM, AMBIT_PROGRAM, "--nosave", (char *)nullptr);
    _exit(127);
  }
  // The window, by its title, within a deadline.
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::string xid = proc_find_window("--name '^Ambit$'", end);
  ASSERT_FALSE(xid.empty());
  // Quit through the platform layer's menu chord (Super stands for Command).
  ASSERT_EQ(system(("xdotool windowfocus --sync " + xid + " key super+q").c_str()), 0);
  int st = 0;
  if (!proc_wait_until(pid, end, &st)) {
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
    FAIL() << "Ambit did not quit";
  }
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0);
  std::string log = proc_read_file(home.path + "/Ambit/log.txt");
  EXPECT_NE(log.find("INFO : stopping Ambit"), std::string::npos) << log;
  EXPECT_NE(access((home.path + "/Ambit/state.txt").c_str(), F_OK), 0);  // clean end
}

// A start with "--restart" prepares a restart after the loop: the stored
// program is installed into the other run slot and the modules stop; with no
// stored program in either slot the main ends with 1 and no shutdown.
TEST(MainApp, RestartInstallsTheStoredProgramOrEndsWithOne) {
  std::string why;
  ASSERT_TRUE(pixeltest_ensure_display(&why)) << why;
  std::vector<std::string> full = kStartOrder;
  full.insert(full.end(), kStopOrder.begin(), kStopOrder.end());
  {
    proc_tempdir home;
    auto [code, steps] = run_app("", home.path, "--restart", true);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(steps, kStartOrder);
  }
  {
    proc_tempdir home;
    ASSERT_EQ(system(("mkdir -p " + home.path + "/Ambit/Program && echo stored > " + home.path +
                      "/Ambit/Program/EXE_L64").c_str()),
              0);
    auto [code, steps] = run_app("", home.path, "--restart", true);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(steps, full);
    std::string installed = proc_shell("grep -rlx stored " + home.path + "/Ambit/Run*");
    EXPECT_NE(installed.find("/Ambit\n"), std::string::npos) << installed;
  }
}

}  // namespace
