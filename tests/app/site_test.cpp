// The site table's rows, selection by code without regard to case, and the
// version strings.
#include <gtest/gtest.h>

#include <cstring>

#include "site.h"
#include "version.h"
#include "testlog.h"

namespace {

class Site : public ::testing::Test {
 protected:
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    ASSERT_EQ(site_init(), 0);
  }
  void TearDown() override { site_fini(); }
};

const char *s(const char *t) { return t ? t : "(none)"; }

TEST_F(Site, Rows) {
  struct {
    const char *code, *short_name, *name, *title;
    int32_t pictures[4];
    const char *about0, *account11, *account12, *account13;
    const char *contact;
    int32_t flags[2];
    intptr_t flag;
  } rows[] = {
      {"osprey", "Osprey2", "Osprey2", "Ambit", {17, 22, 21, -1}, nullptr,
       "Manage your Osprey2 account", "Click the link below to launch your web browser",
       "You will be directed to a secure Osprey2 web page", "Please contact Osprey2", {1, 1}, 1},
      {"test", "Test", "Test", "Test Ambit", {17, 22, 21, 18}, "Test site", "Account Management",
       "Unavailable for Test site", "www.example.com", "Please contact Osprey2", {0, 0}, 0},
  };
  for (int i = 0; i < 2; i++) {
    auto &w = rows[i];
    site_row *r = site_find(w.code);
    ASSERT_NE(r, nullptr) << w.code;
    EXPECT_STREQ(r->short_name, w.short_name);
    EXPECT_STREQ(r->name, w.name);
    EXPECT_STREQ(r->title, w.title);
    EXPECT_EQ(memcmp(r->pictures, w.pictures, sizeof w.pictures), 0) << w.code;
    EXPECT_STREQ(s(r->about[0]), s(w.about0));
    EXPECT_STREQ(r->account[0], w.account11);
    EXPECT_STREQ(r->account[1], w.account12);
    EXPECT_STREQ(r->account[2], w.account13);
    EXPECT_EQ(r->account_url, nullptr);
    EXPECT_EQ(r->account_flag, 0);
    EXPECT_STREQ(r->contact, w.contact);
    EXPECT_EQ(r->flags[0], w.flags[0]);
    EXPECT_EQ(r->flags[1], w.flags[1]);
    EXPECT_EQ(r->flag, w.flag);
  }
  // The account page address of the default row: HTTPS, the fixed path.
  const char *url = site_find("osprey")->account[4];
  ASSERT_NE(url, nullptr);
  EXPECT_EQ(strncmp(url, "https://", 8), 0);
  EXPECT_NE(strstr(url, "/ambit-account"), nullptr);
}

TEST_F(Site, Selection) {
  struct {
    const char *code;
    bool found;
    int index_after;
  } cases[] = {
      {"test", true, 1},   {"OSPREY", true, 0}, {"Test", true, 1}, {"nowhere", false, 1},
      {nullptr, true, 0},  {"test", true, 1},   {"", true, 0},     {"partner", true, 2},
      {"osprey2", false, 2},
  };
  for (auto &c : cases) {
    LogCapture logs;
    site_row *r = site_select(c.code);
    EXPECT_EQ(r != nullptr, c.found) << s(c.code);
    EXPECT_EQ(site_index(), c.index_after) << s(c.code);
    EXPECT_EQ(site_current(), site_find(site_current()->code));
    if (!c.found)
      EXPECT_EQ(logs.count(std::string("unknown site: ") + c.code), 1);
    else
      EXPECT_TRUE(logs.empty()) << s(c.code);
  }
  EXPECT_EQ(site_find("nowhere"), nullptr);
}

TEST_F(Site, FiniClearsAndInitFillsAgain) {
  site_select("test");
  site_fini();
  EXPECT_EQ(site_index(), 0);
  EXPECT_EQ(site_find("test"), nullptr);
  EXPECT_EQ(site_current()->code, nullptr);
  ASSERT_EQ(site_init(), 0);
  EXPECT_STREQ(site_find("TEST")->title, "Test Ambit");
}

TEST(Version, Strings) {
  EXPECT_STREQ(version_full(), "1.27.1.39293");
  EXPECT_STREQ(version_short(), "1.27.1");
  EXPECT_STREQ(version_build_text(), "1.27.1 build 39293");
  EXPECT_STREQ(version_build(), "39293");
  EXPECT_STREQ(version_date(), "Oct 17 2018 13:19:36");
  EXPECT_STREQ(version_platform(), "x86_64-linux");
  // The long forms are built from the short ones.
  EXPECT_EQ(std::string(version_full()), std::string(version_short()) + "." + version_build());
  EXPECT_EQ(std::string(version_build_text()),
            std::string(version_short()) + " build " + version_build());
  EXPECT_GT(strlen(version_notice()), 0u);
}

}  // namespace
