// The password page in the running terminal, under Xvfb, against the market
// simulator: the program signs on and brings its screens up; the dialog's
// password page is shown; xdotool clicks its fields and types the current,
// the new and the confirming password and clicks "Change". The simulator
// decrypts the block it receives to the new password and accepts it, the
// page shows "Your password was changed", and a dropped link signs on again
// with the new password, which the simulator now requires. Neither password
// is ever logged.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/configbox.h"
#include "config/passwd_page.h"
#include "lib/timer.h"
#include "pagegui.h"
#include "screen/screen.h"
#include "startup/start.h"
#include "testlog.h"
#include "ui/label.h"
#include "ui/textbox.h"

namespace {

constexpr char kUser[] = "erin";
constexpr char kOld[] = "Tulip4821";
constexpr char kNew[] = "Mango9305";

class PasswdPageGui : public ::testing::Test {
 public:
  static void SetUpTestSuite() { ASSERT_NO_FATAL_FAILURE(page_gui_start(kUser, kOld)); }
  static void TearDownTestSuite() { page_gui_stop(); }
};

passwd_page *page_now() {
  configbox *b = screen_configbox();
  return b ? static_cast<passwd_page *>(configbox_passwd_page(b)) : nullptr;
}

void type_into(textbox *t, const char *text) {
  xclick(t);
  guitest_xdo(std::string("type --delay 20 ") + text);
}

int password_entries() {
  int n = 0;
  for (const sim_entry &e : sim_transcript(g_world.sim)) n += e.kind == 3;
  return n;
}

TEST_F(PasswdPageGui, PasswordTypedIntoThePageReachesTheServer) {
  LogCapture logs;
  int logins_before_drop = -1;
  app_script &P = g_script;
  P.steps = {
      {"online with the screens up", [] { return screen_is_up() && ssclient_is_online(); },
       [] {
         screen_show_configbox();
         configbox_show_page(screen_configbox(), -1, 4);
       }},
      {"the password page drawn",
       [] {
         passwd_page *p = page_now();
         return drawn(p, p->current);
       },
       [] {
         passwd_page *p = page_now();
         EXPECT_TRUE(textbox_is_editable(p->current));
         EXPECT_FALSE(textbox_is_editable(p->fresh));
         EXPECT_FALSE(button_is_sensitive(p->change));
         guitest_xdo("windowfocus --sync " + std::to_string(x_window_of(p)));
         type_into(p->current, kOld);
       }},
      {"the new password field open", [] { return textbox_is_editable(page_now()->fresh); },
       [] { type_into(page_now()->fresh, kNew); }},
      {"the confirmation open", [] { return textbox_is_editable(page_now()->confirm); },
       [] { type_into(page_now()->confirm, kNew); }},
      {"Change sensitive",
       [] { return button_is_sensitive(page_now()->change) && !strcmp(textbox_text(page_now()->confirm), kNew); },
       [] { xclick(page_now()->change); }},
      {"the change accepted on the page",
       [] { return std::string(page_now()->message->text) == "Your password was changed"; },
       [&] {
         EXPECT_EQ(page_now()->result, 0);
         EXPECT_EQ(password_entries(), 1);
         for (const sim_entry &e : sim_transcript(g_world.sim)) {
           if (e.kind == 3) {
             EXPECT_EQ(e.text, kNew) << "the block decrypts to the new password";
           }
         }
         const char *login = nullptr;
         ssclient_get_login(nullptr, nullptr, &login);
         EXPECT_STREQ(login, kNew);
         logins_before_drop = sim_get_stats(g_world.sim).logins;
         ASSERT_EQ(1, sim_disconnect(g_world.sim, kUser));
       }},
      {"signed on again with the new password",
       [&] { return sim_get_stats(g_world.sim).logins == logins_before_drop + 1 && ssclient_is_online(); },
       [] { gui_quit(); }},
  };
  const int32_t t = timer_start(20, script_tick, nullptr, 0);
  ASSERT_GE(t, 0);
  ASSERT_EQ(0, start_main("", kUser, kOld, "127.0.0.1", g_world.port));
  gui_main_loop();
  timer_stop(t);
  start_cleanup();

  ASSERT_TRUE(P.failed.empty()) << P.failed;
  EXPECT_EQ(P.at, P.steps.size());
  EXPECT_EQ(sim_get_stats(g_world.sim).refusals, 0);
  EXPECT_TRUE(logs.has("changing password"));
  for (const std::string &line : logs.lines()) {
    EXPECT_EQ(line.find(kOld), std::string::npos) << line;
    EXPECT_EQ(line.find(kNew), std::string::npos) << line;
  }
}

}  // namespace
