// Data paths on a temporary data root: the root found from executable paths
// (run slots, a bundle with its own tree, the user's data folder), the log,
// state and restart paths, the run-slot toggle, installing the stored
// program and its size; and the cutting of paths.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "appdata.h"
#include "testlog.h"

namespace {

class Appdata : public ::testing::Test {
 protected:
  std::string tmp;
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    char tmpl[] = "/tmp/appdata_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    tmp = tmpl;
  }
  void TearDown() override {
    appdata_fini();
    ASSERT_EQ(system(("rm -rf " + tmp).c_str()), 0);
  }
  static bool is_dir(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
};

TEST(AppdataCut, CutsAtTheLastOccurrence) {
  struct {
    const char *path, *part;
    int result;
    const char *want;
  } cases[] = {
      {"/a/Run/1/Ambit", "/Run/1", 0, "/a"},
      {"/a/Run/0/b/Run/0/Ambit", "/Run/0", 0, "/a/Run/0/b"},
      {"/a/b/Ambit", "/Run/0", -1, "/a/b/Ambit"},
      {"/Run/0", "/Run/0", 0, ""},
      {"x/Ambit.app/Contents/MacOS/Ambit", "Ambit.app/Contents/MacOS", 0, "x/"},
  };
  for (auto &c : cases) {
    char buf[kAppdataPathMax];
    strcpy(buf, c.path);
    EXPECT_EQ(appdata_cut_at_last(buf, c.part), c.result) << c.path;
    EXPECT_STREQ(buf, c.want) << c.path;
  }
}

TEST(AppdataCutDeath, APartTooLongIsFatal) {
  std::string part(1024, 'x');
  char buf[kAppdataPathMax] = "/a";
  EXPECT_DEATH(
      {
        start_runtime(TestStderr::kOn);
        appdata_cut_at_last(buf, part.c_str());
      },
      "path too long");
}

TEST_F(Appdata, RootsFromExecutablePaths) {
  // A bundle that carries its own tree, and one that does not.
  std::string bundle = tmp + "/b1/Ambit.app/Contents";
  ASSERT_EQ(system(("mkdir -p " + bundle + "/MacOS " + bundle + "/Resources/Program").c_str()), 0);
  std::string bare = tmp + "/b2/Ambit.app/Contents";
  ASSERT_EQ(system(("mkdir -p " + bare + "/MacOS").c_str()), 0);
  setenv("XDG_DATA_HOME", (tmp + "/xdg").c_str(), 1);
  struct {
    std::string exe;
    int alt;
    std::string root;
    std::string restart_slot;
  } cases[] = {
      {tmp + "/r1/Run/1/Ambit", 0, tmp + "/r1", "0"},
      {tmp + "/r2/Run/0/Ambit", 1, tmp + "/r2", "1"},
      {tmp + "/r3/Run/0/x/Run/0/Ambit", 0, tmp + "/r3/Run/0/x", "0"},
      {tmp + "/r4/Run/0/x/Run/1/Ambit", 0, tmp + "/r4", "0"},  // slot 0 wins over slot 1
      {bundle + "/MacOS/Ambit", 0, bundle + "/Resources", "0"},
      {bare + "/MacOS/Ambit", 0, tmp + "/xdg/Ambit", "0"},
      {"/usr/local/bin/ambit", 0, tmp + "/xdg/Ambit", "0"},
  };
  for (auto &c : cases) {
    if (c.exe[0] == tmp[0] && c.exe.compare(0, tmp.size(), tmp) == 0)  // the program exists
      ASSERT_EQ(system(("mkdir -p $(dirname " + c.exe + ")").c_str()), 0);
    ASSERT_EQ(appdata_init(c.exe.c_str(), c.alt, 0), 0) << c.exe;
    EXPECT_EQ(std::string(appdata_log_path()), c.root + "/log.txt") << c.exe;
    EXPECT_EQ(std::string(appdata_state_path()), c.root + "/state.txt") << c.exe;
    EXPECT_EQ(std::string(appdata_restart_exe()), c.root + "/Run/" + c.restart_slot + "/Ambit")
        << c.exe;
    EXPECT_EQ(appdata_is_alt(), c.alt);
    EXPECT_TRUE(is_dir(c.root + "/Run/1/32")) << c.exe;
    EXPECT_TRUE(is_dir(c.root + "/Cache/Announcements")) << c.exe;
    appdata_fini();
  }
  unsetenv("XDG_DATA_HOME");
}

TEST_F(Appdata, NoUserFolderIsAnError) {
  const char *home = getenv("HOME");
  std::string saved = home ? home : "";
  unsetenv("XDG_DATA_HOME");
  unsetenv("HOME");
  LogCapture logs;
  EXPECT_EQ(appdata_init("/usr/bin/ambit", 0, 64), -1);
  EXPECT_TRUE(logs.has("can't find application root"));
  if (home) setenv("HOME", saved.c_str(), 1);
}

TEST_F(Appdata, ToggleInstallAndProgramSize) {
  std::string root = tmp + "/r";
  std::string exe = root + "/Run/0/Ambit";
  {
    LogCapture logs;  // no stored program yet: size 0, still a success, and no error line
    ASSERT_EQ(appdata_init(exe.c_str(), 0, 64), 0);
    EXPECT_EQ(appdata_exe_size(), 0u);
    EXPECT_TRUE(logs.has("no stored program EXE_L64"));
    EXPECT_FALSE(logs.has("can't stat exe"));
    EXPECT_EQ(appdata_install_exe(), -1);
    EXPECT_TRUE(logs.has("does not exist"));
    appdata_fini();
  }
  std::ofstream(root + "/Program/EXE_L64") << std::string(1234, 'p');
  std::ofstream(root + "/Program/EXE_L32") << std::string(99, 'q');
  ASSERT_EQ(appdata_init(exe.c_str(), 0, 0), 0);
  EXPECT_EQ(appdata_exe_size(), 1234u);
  EXPECT_STREQ(appdata_stored_exe(), "EXE_L64");
  appdata_toggle_alt();
  EXPECT_EQ(appdata_is_alt(), 1);
  EXPECT_EQ(std::string(appdata_restart_exe()), root + "/Run/1/Ambit");
  ASSERT_EQ(appdata_install_exe(), 0);
  struct stat st;
  ASSERT_EQ(stat((root + "/Run/1/Ambit").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 1234);
  EXPECT_TRUE(st.st_mode & S_IXUSR);  // the run slots hold programs
  appdata_toggle_alt();
  EXPECT_EQ(std::string(appdata_restart_exe()), root + "/Run/0/Ambit");
  appdata_fini();
  ASSERT_EQ(appdata_init(exe.c_str(), 0, 32), 0);
  EXPECT_EQ(appdata_exe_size(), 99u);
}

}  // namespace
