// The dialog's information pages: the tables and texts each page computes
// (slides and fades, progress, logout modes, account addresses, status).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "config/about_page.h"
#include "config/account_page.h"
#include "config/logout_page.h"
#include "config/progress_page.h"
#include "config/status_page.h"
#include "site.h"
#include "ssclient.h"
#include "testlog.h"
#include "ui/launch-linux.h"

namespace {

::testing::Environment *const runtime = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

std::string md5sum(const std::string &text) {
  char path[] = "/tmp/ambit_md5_XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  FILE *f = fdopen(fd, "w");
  fputs(text.c_str(), f);
  fclose(f);
  std::string cmd = std::string("md5sum ") + path;
  FILE *p = popen(cmd.c_str(), "r");
  char out[64] = {0};
  EXPECT_TRUE(fgets(out, 33, p));
  pclose(p);
  remove(path);
  return out;
}

TEST(AboutPage, SlidesWithAndWithoutLogo) {
  // u = t + 1.5; slots of 4.58 s.
  struct { double t; int logo; int slide; } cases[] = {
      {0.0, 1, 0}, {3.08, 1, 0}, {3.09, 1, 1}, {7.66, 1, 1}, {7.67, 1, 2}, {12.23, 1, 2}, {12.25, 1, 0},
      {0.0, 0, 1}, {3.08, 0, 1}, {3.09, 0, 2}, {7.65, 0, 2}, {7.67, 0, 1},
  };
  for (auto &c : cases) EXPECT_EQ(about_slide_at(c.t, c.logo), c.slide) << c.t << " logo " << c.logo;
}

TEST(AboutPage, FadeInHoldOutBlank) {
  // f = (t + 1.5) mod 4.58.
  struct { double f; int alpha; } cases[] = {
      {0.0, 0}, {0.375, 127}, {0.7499, 254}, {0.75, 255}, {2.0, 255}, {3.5, 255},
      {3.875, 127}, {4.2499, 0}, {4.26, 0}, {4.57, 0},
  };
  for (auto &c : cases) EXPECT_NEAR(about_alpha_at(c.f - 1.5 + 4.58), c.alpha, 1) << c.f;
}

TEST(AboutPage, MakerAndProviderAreStandIns) {
  for (int s : {1, 2}) {
    const char *const *lines = about_slide_lines(s);
    ASSERT_TRUE(lines[0] && lines[1] && lines[2]);
    EXPECT_EQ(lines[3], nullptr);
    EXPECT_EQ(std::string(lines[2]).rfind("www.", 0), 0u);
    EXPECT_NE(std::string(lines[2]).find(".invalid"), std::string::npos);
  }
  EXPECT_STREQ(about_slide_lines(1)[0], "Ambit is a product of");
  EXPECT_STREQ(about_slide_lines(2)[0], "Company Profiles provided by");
  EXPECT_EQ(about_slide_image(1), 18);
  EXPECT_EQ(about_slide_image(2), 19);
}

TEST(AboutPage, RedrawsOnlyWhenNeeded) {
  ASSERT_EQ(site_init(), 0);  // the default site: no logo of its own
  about_page *p = about_page_new(nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(about_page_step(p, 0.0), 1);  // the first slide (f = 1.5: full alpha)
  EXPECT_EQ(p->slide, 1);
  EXPECT_EQ(p->fade, 0xffffffffu);
  p->drawn = p->fade;  // as drawn
  EXPECT_EQ(about_page_step(p, 1.0), 0) << "holding: nothing to redraw";
  EXPECT_EQ(about_page_step(p, 2.4), 1) << "fading out";
  EXPECT_EQ(p->fade >> 24, static_cast<uint32_t>(about_alpha_at(2.4)));
  EXPECT_EQ(about_page_step(p, 2.9), 1) << "blank, not yet drawn blank";
  EXPECT_EQ(p->fade, 0u);
  p->drawn = p->fade;
  EXPECT_EQ(about_page_step(p, 3.0), 0);
  EXPECT_EQ(about_page_step(p, 3.2), 1) << "the next slide";
  EXPECT_EQ(p->slide, 2);
  widget_delete(p);
  site_fini();
}

TEST(ProgressPage, LoginPercent) {
  struct { int64_t n, c, b; int pct; } cases[] = {
      {0, 50, 0, 0}, {100, 10, 10, 0}, {100, 5, 10, 0}, {100, 108, 10, 98},
      {100, 109, 10, 100}, {1000, 990, 0, 100}, {1000, 985, 0, 98}, {200, 100, 0, 50},
  };
  for (auto &c : cases) EXPECT_EQ(progress_login_percent(c.n, c.c, c.b), c.pct) << c.n << " " << c.c << " " << c.b;
}

TEST(ProgressPage, ModePercentAndStop) {
  EXPECT_EQ(progress_mode_percent(0, 37), 37);
  EXPECT_EQ(progress_mode_percent(1, 37), 0);
  EXPECT_EQ(progress_mode_percent(2, 37), 100);
  EXPECT_EQ(progress_mode_percent(5, 37), 50);
  struct { float t; int mode; int shown; int want; } cases[] = {
      {1.0f, 0, 0, 0}, {2.5f, 0, 0, 0}, {2.51f, 0, 0, 1}, {2.6f, 1, 0, 1}, {9.0f, 2, 0, 0},
      {9.0f, 2, 1, 0}, {0.1f, 0, 1, 1}, {9.0f, 3, 0, 0},
  };
  for (auto &c : cases) EXPECT_EQ(progress_stop_shown(c.t, c.mode, c.shown), c.want) << c.t << " mode " << c.mode;
}

TEST(LogoutPage, ModesTextsAndButtons) {
  const logout_page_texts *t0 = logout_page_mode_texts(0), *t1 = logout_page_mode_texts(1),
                          *t2 = logout_page_mode_texts(2);
  ASSERT_TRUE(t0 && t1 && t2);
  EXPECT_STREQ(t0->message, "Are you sure that you want to log out?");
  EXPECT_STREQ(t0->first, "Logout");
  EXPECT_STREQ(t0->second, "Cancel");
  EXPECT_EQ(t0->warning, 0);
  EXPECT_STREQ(t1->message, "Unable to logout properly, your settings may be lost");
  EXPECT_STREQ(t2->message, "You are not logged in, your settings may be lost");
  for (auto *t : {t1, t2}) {
    EXPECT_STREQ(t->first, "Login");
    EXPECT_STREQ(t->second, "Quit");
    EXPECT_EQ(t->warning, 1);
  }
  EXPECT_EQ(logout_page_mode_texts(3), nullptr);
  EXPECT_EQ(logout_page_action(0, 0), LOGOUT_START);
  EXPECT_EQ(logout_page_action(0, 1), LOGOUT_HIDE);
  for (int m : {1, 2}) {
    EXPECT_EQ(logout_page_action(m, 0), LOGOUT_SHOW_LOGIN);
    EXPECT_EQ(logout_page_action(m, 1), LOGOUT_ABORT_QUIT);
  }
  EXPECT_EQ(logout_page_action(7, 0), LOGOUT_NOTHING);
  EXPECT_EQ(logout_page_action(7, 1), LOGOUT_NOTHING);
}

TEST(AccountPage, DefaultSiteSignedAddress) {
  const char nonce[] = "00112233445566778899aabbccddeeff";
  char url[512];
  ASSERT_EQ(account_address(0, "osprey", nullptr, "jsmith", "secret", nonce, 0x5f3a1b2cu, url, sizeof url), 0);
  const std::string digest = md5sum(std::string(nonce) + "5f3a1b2c" + "jsmith" + "secret");
  EXPECT_EQ(std::string(url), std::string("https://") + kAccountHost + "/ambit-account?" + nonce + "5f3a1b2c" + digest);
  EXPECT_EQ(std::string(kAccountHost).find(".invalid") + 8, std::string(kAccountHost).size());
  // Too small a buffer is refused, not cut.
  EXPECT_EQ(account_address(0, "osprey", nullptr, "jsmith", "secret", nonce, 1, url, 40), -1);
}

TEST(AccountPage, OtherSitesTemplateAndOwnAddress) {
  char url[512];
  ASSERT_EQ(account_address(1, "heron", nullptr, "ann", "pw", nullptr, 0, url, sizeof url), 0);
  EXPECT_EQ(std::string(url), std::string("https://") + kAccountHost + "/ambit-account?Site=heron&User=ann");
  ASSERT_EQ(account_address(2, "heron", nullptr, "a&b #c", "pw", nullptr, 0, url, sizeof url), 0);
  EXPECT_EQ(std::string(url), std::string("https://") + kAccountHost + "/ambit-account?Site=heron&User=a%26b%20%23c");
  ASSERT_EQ(account_address(1, "heron", "https://my.heron.invalid/acct?u=$USER", "bo", "pw", nullptr, 0, url,
                            sizeof url), 0);
  EXPECT_STREQ(url, "https://my.heron.invalid/acct?u=bo");
  // Without a user the placeholder stays.
  ASSERT_EQ(account_address(1, "heron", nullptr, nullptr, nullptr, nullptr, 0, url, sizeof url), 0);
  EXPECT_NE(std::string(url).find("User=$USER"), std::string::npos);
}

TEST(AccountPage, LinkLines) {
  EXPECT_TRUE(account_line_is_link("visit www.example.invalid"));
  EXPECT_TRUE(account_line_is_link("https://x.invalid"));
  EXPECT_FALSE(account_line_is_link("-"));
  EXPECT_FALSE(account_line_is_link(""));
}

int refuse_opener(const char *) { return -1; }

TEST(AccountPage, NoLoginOpensNothingAndAFailedBrowserShowsTheAddress) {
  LogCapture log;
  ssclient_set_login("", "");
  EXPECT_EQ(account_open(), -1);
  EXPECT_TRUE(log.has("wasn't logged in"));
  // The browser can't be started: the alert carries the address to copy.
  launch_set_opener(refuse_opener);
  launch_set_alert_log(1);
  ssclient_set_login("jsmith", "secret");
  EXPECT_EQ(account_open(), -1);
  EXPECT_TRUE(log.has("Ambit Account"));
  EXPECT_TRUE(log.has("Please open the following link in a web browser to access your account:"));
  EXPECT_TRUE(log.has(std::string("https://") + kAccountHost + "/ambit-account?"));
  launch_set_alert_log(0);
  launch_set_opener(nullptr);
  ssclient_set_login("", "");
}

TEST(StatusPage, Compose) {
  status_inputs in = {};
  status_texts t;
  in.has_server = 1;
  in.host = "127.0.0.1";
  in.port = 6080;
  in.last_message = (13 * 3600 + 5 * 60 + 9);
  in.received = 2000;
  in.provider = "Osprey";
  status_page_compose(&in, &t);
  EXPECT_STREQ(t.status, "Not Connected");
  EXPECT_EQ(t.status_colour, 83);
  EXPECT_STREQ(t.host, "127.0.0.1:6080");
  EXPECT_STREQ(t.proxy, "None");
  EXPECT_STREQ(t.protocol, "Native");
  EXPECT_STREQ(t.last, "13:05:09");
  EXPECT_STREQ(t.downloaded, "2Kb");
  EXPECT_STREQ(t.exchanges, "-");
  EXPECT_STREQ(t.type, "-");
  in.logged_on = 1;
  in.status_line = "Online";
  in.proxy_in_use = 1;
  in.proxy_host = "proxy.invalid";
  in.proxy_port = 3128;
  in.http = 1;
  in.have_login = 1;
  const char *names[4] = {"ASX", "NZX", "GLOBAL", "AXO"};
  for (int i = 0; i < 4; i++) in.exchange[i] = names[i];
  in.permitted[0] = in.permitted[3] = 1;
  in.user_kind = 3;
  status_page_compose(&in, &t);
  EXPECT_STREQ(t.status, "Online");
  EXPECT_EQ(t.status_colour, 82);
  EXPECT_STREQ(t.proxy, "proxy.invalid:3128");
  EXPECT_STREQ(t.protocol, "HTTP");
  EXPECT_STREQ(t.exchanges, "ASX AXO");
  EXPECT_STREQ(t.type, "Developer");
  in.permitted[0] = in.permitted[3] = 0;
  in.user_kind = 9;
  status_page_compose(&in, &t);
  EXPECT_STREQ(t.exchanges, "-");
  EXPECT_STREQ(t.type, "");  // another kind leaves the shown text alone
  in.has_server = 0;
  status_page_compose(&in, &t);
  EXPECT_STREQ(t.host, "None");
  char build[64];
  status_page_build_text("1.27.1 build 39293", build, sizeof build);
  EXPECT_STREQ(build, "1.27.1 build 39293 +64bit");
  status_page_build_text(std::string(80, 'x').c_str(), build, sizeof build);
  EXPECT_EQ(std::string(build).size(), 63u);
}

}  // namespace
