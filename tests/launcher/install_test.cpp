// Version order, install routing and the install folder checks. Version
// order is checked against dpkg's, an independent implementation of numeric
// version comparison, on random four-part versions.
#include "stub/install.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "localdata.h"
#include "log.h"
#include "plat.h"

TEST(InstallVersion, ParseTable) {
  struct Row {
    const char *text;
    int32_t want[4];
  } rows[] = {
      {"1.27.1.39293", {1, 27, 1, 39293}},
      {"1.27.2", {1, 27, 2, 0}},
      {"1. 27.1.4", {1, 27, 1, 4}},
      {" 1 . 2 . 3 . 4 ", {1, 2, 3, 4}},
      {"7", {7, 0, 0, 0}},
      {"", {0, 0, 0, 0}},
      {"1.2.x.4", {1, 2, 0, 0}},
      {"1.2.3.4.5", {1, 2, 3, 4}},
      {"99999999999999999999.1", {INT32_MAX, 1, 0, 0}},
      {"1.2147483648", {1, INT32_MAX, 0, 0}},
      {"1.2147483647", {1, INT32_MAX, 0, 0}},
      {"3.10\n", {3, 10, 0, 0}},
  };
  for (const Row &r : rows) {
    int32_t got[4];
    appdata_version_parse(r.text, got);
    for (int i = 0; i < 4; i++) EXPECT_EQ(got[i], r.want[i]) << r.text << " part " << i;
  }
}

TEST(InstallVersion, CompareTable) {
  struct Row {
    const char *a, *b;
    int want;
  } rows[] = {
      {"1.27.1.39293", "1.27.1.39300", -1},
      {"1.27.2", "1.27.1.99999", 1},
      {"1.9", "1.10", -1},
      {"1.10", "1.9", 1},
      {"1. 27.1.4", "1.27.1.4", 0},
      {"2", "2.0.0.0", 0},
      {"1.99999999999999999999", "1.2", 1},
      {"1.2", "1.99999999999999999999", -1},
  };
  for (const Row &r : rows) EXPECT_EQ(appdata_version_compare(r.a, r.b), r.want) << r.a << " " << r.b;
}

// dpkg --compare-versions A lt B: 0 when A is lower.
static int dpkg_lt(const std::string &a, const std::string &b) {
  pid_t pid = fork();
  if (pid == 0) {
    execlp("dpkg", "dpkg", "--compare-versions", a.c_str(), "lt", b.c_str(), (char *)nullptr);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InstallVersion, OrderAgreesWithDpkg) {
  if (system("dpkg --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no dpkg";
  std::mt19937 rng(58);
  // Small ranges so that equal parts, and so ties deciding on a later part,
  // are common.
  auto version = [&] {
    std::string v;
    for (int i = 0; i < 4; i++) v += (i ? "." : "") + std::to_string(rng() % 4 == 0 ? rng() % 100000 : rng() % 3);
    return v;
  };
  for (int i = 0; i < 150; i++) {
    std::string a = version(), b = i % 10 == 0 ? a : version();
    int lt = dpkg_lt(a, b), gt = dpkg_lt(b, a);
    ASSERT_TRUE(lt >= 0 && lt <= 1 && gt >= 0 && gt <= 1);
    int want = lt == 0 ? -1 : gt == 0 ? 1 : 0;
    EXPECT_EQ(appdata_version_compare(a.c_str(), b.c_str()), want) << a << " vs " << b;
  }
}

TEST(InstallRoute, Table) {
  struct Row {
    const char *name;
    uint32_t dir;
  } rows[] = {
      {"LOCAL_CONFIG", LOCALDATA_CONFIG},   {"LOCAL_CONFIG.0", LOCALDATA_CONFIG},
      {"XCONFIGX", LOCALDATA_CONFIG},       {"config", LOCALDATA_PROGRAM},
      {"0;ASX", LOCALDATA_DATA},            {"7;NZX;BHP;181017", LOCALDATA_DATA},
      {"12;ASX", LOCALDATA_PROGRAM},        {";ASX", LOCALDATA_PROGRAM},
      {"0", LOCALDATA_PROGRAM},             {"EXE_L64", LOCALDATA_PROGRAM},
      {"VERSION", LOCALDATA_PROGRAM},       {"Credits.html", LOCALDATA_PROGRAM},
  };
  for (const Row &r : rows) EXPECT_EQ(appdata_install_route(r.name), r.dir) << r.name;
}

TEST(InstallDir, Checks) {
  ASSERT_EQ(plat_init(), 0);
  ASSERT_EQ(log_init(), 0);
  char tmpl[] = "/tmp/installdir-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  std::string t = tmpl;
  mkdir((t + "/good").c_str(), 0700);
  mkdir((t + "/readonly").c_str(), 0500);
  std::ofstream(t + "/file") << "x";
  struct Row {
    std::string path;
    int rc;
  } rows[] = {
      {t + "/good", 0}, {t + "/missing", 0}, {t + "/file", -1}, {t + "/readonly", -1}, {"", -1},
  };
  for (const Row &r : rows) {
    // A good value first, so that a refusal is seen to forget it.
    ASSERT_EQ(localdata_set_install_dir((t + "/good").c_str()), 0);
    EXPECT_EQ(localdata_set_install_dir(r.path.c_str()), r.rc) << r.path;
    char got[kLocaldataPathMax];
    int have = localdata_path_into(got, LOCALDATA_INSTALL, nullptr);
    if (r.rc == 0) {
      ASSERT_EQ(have, 0);
      EXPECT_EQ(got, r.path);
    } else {
      EXPECT_EQ(have, -1) << r.path;
    }
  }
  std::string cmd = "rm -rf " + t;
  EXPECT_EQ(system(cmd.c_str()), 0);
  localdata_fini();
  log_fini();
  plat_fini();
}
