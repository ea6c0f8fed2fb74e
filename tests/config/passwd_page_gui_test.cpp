// The password page in the running terminal, under Xvfb, against the market
// simulator: the program signs on and brings its screens up; the dialog's
// password page is shown; xdotool clicks its fields and types the current,
// the new and the confirming password and clicks "Change". The simulator
// decrypts the block it receives to the new password and accepts it, the
// page shows "Your password was changed", and a dropped link signs on again
// with the new password, which the simulator now requires. Neither password
// is ever logged.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/configbox.h"
#include "config/passwd_page.h"
#include "guitest.h"
#include "lib/gfx.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "localdata.h"
#include "plat.h"
#include "screen/screen.h"
#include "sim.h"
#include "site.h"
#include "ssclient.h"
#include "ssio.h"
#include "startup/start.h"
#include "testlog.h"
#include "testmodel.h"
#include "testsim.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "ui/label.h"
#include "ui/textbox.h"

namespace {

constexpr int kStepMs = 20000;
constexpr char kUser[] = "erin";
constexpr char kOld[] = "Tulip4821";
constexpr char kNew[] = "Mango9305";

std::string g_root;
sim_server *g_sim = nullptr;
int g_port = 0;

class PasswdPageGui : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ASSERT_EQ(tex_init(), 0);
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
    panel_set_textures(39, 40, 41, 42);
    ssio_set_default_host("");
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    ssclient_enable_locking();
    char tmpl[] = "/tmp/ambit-passwd-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    g_root = tmpl;
    ASSERT_EQ(0, localdata_set_root((g_root + "/data").c_str()));
    ASSERT_EQ(0, config_init());
    ASSERT_EQ(0, site_init());
    ASSERT_NO_FATAL_FAILURE(make_test_sim(&g_sim, 50));
    sim_user u;
    u.name = kUser;
    u.password = kOld;
    u.id = 2;
    ASSERT_EQ(0, sim_add_user(g_sim, u));
    g_port = sim_start(g_sim, 0);
    ASSERT_GT(g_port, 0);
  }
  static void TearDownTestSuite() {
    sim_destroy(g_sim);
    site_fini();
    config_shutdown();
    ssclient_fini();
    panel_set_textures(-1, -1, -1, -1);
    gui_shutdown();
    gmap_fini();
    tex_fini();
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
  }
};

// A scripted user: each step waits for its condition (polled on every pass
// of the frame loop, under a deadline) and then acts.
struct Step {
  const char *what;
  std::function<bool()> ready;
  std::function<void()> act;
};

struct Script {
  std::vector<Step> steps;
  size_t at = 0;
  int64_t deadline = 0;
  std::string failed;
} P;

int script_tick(void *, uint32_t, int64_t, float) {
  if (!P.failed.empty() || P.at >= P.steps.size()) return 1;
  Step &s = P.steps[P.at];
  if (!P.deadline) P.deadline = plat_ms() + kStepMs;
  if (s.ready()) {
    if (s.act) s.act();
    P.at++;
    P.deadline = 0;
  } else if (plat_ms() > P.deadline) {
    P.failed = std::string("timed out waiting: ") + s.what;
    gui_set_quitting();
  }
  return 1;
}

passwd_page *page_now() {
  configbox *b = screen_configbox();
  return b ? static_cast<passwd_page *>(configbox_passwd_page(b)) : nullptr;
}

void click(widget *w) {
  const int win = gui_window_index(w);
  char args[160];
  snprintf(args, sizeof args, "mousemove --window %llu %d %d click 1",
           static_cast<unsigned long long>(gui_plat_x11_window(&gui_window_record(win)->plat)), w->r.x + 10,
           w->r.y + w->r.h / 2);
  guitest_xdo(args);
}

void type_into(textbox *t, const char *text) {
  click(t);
  guitest_xdo(std::string("type --delay 20 ") + text);
}

int password_entries() {
  int n = 0;
  for (const sim_entry &e : sim_transcript(g_sim)) n += e.kind == 3;
  return n;
}

TEST_F(PasswdPageGui, PasswordTypedIntoThePageReachesTheServer) {
  LogCapture logs;
  int logins_before_drop = -1;
  P.steps = {
      {"online with the screens up", [] { return screen_is_up() && ssclient_is_online(); },
       [] {
         screen_show_configbox();
         configbox_show_page(screen_configbox(), -1, 4);
       }},
      {"the password page drawn",
       [] {
         passwd_page *p = page_now();
         if (!p || !widget_is_shown(p) || p->current->r.w <= 0) return false;
         const int win = gui_window_index(p);
         return win >= 0 && !gui_window_needs_redraw(win);
       },
       [] {
         passwd_page *p = page_now();
         EXPECT_TRUE(textbox_is_editable(p->current));
         EXPECT_FALSE(textbox_is_editable(p->fresh));
         EXPECT_FALSE(button_is_sensitive(p->change));
         const int win = gui_window_index(p);
         guitest_xdo("windowfocus --sync " +
                     std::to_string(gui_plat_x11_window(&gui_window_record(win)->plat)));
         type_into(p->current, kOld);
       }},
      {"the new password field open", [] { return textbox_is_editable(page_now()->fresh); },
       [] { type_into(page_now()->fresh, kNew); }},
      {"the confirmation open", [] { return textbox_is_editable(page_now()->confirm); },
       [] { type_into(page_now()->confirm, kNew); }},
      {"Change sensitive",
       [] { return button_is_sensitive(page_now()->change) && !strcmp(textbox_text(page_now()->confirm), kNew); },
       [] { click(page_now()->change); }},
      {"the change accepted on the page",
       [] { return std::string(page_now()->message->text) == "Your password was changed"; },
       [&] {
         EXPECT_EQ(page_now()->result, 0);
         EXPECT_EQ(password_entries(), 1);
         for (const sim_entry &e : sim_transcript(g_sim))
           if (e.kind == 3) EXPECT_EQ(e.text, kNew) << "the block decrypts to the new password";
         const char *login = nullptr;
         ssclient_get_login(nullptr, nullptr, &login);
         EXPECT_STREQ(login, kNew);
         logins_before_drop = sim_get_stats(g_sim).logins;
         ASSERT_EQ(1, sim_disconnect(g_sim, kUser));
       }},
      {"signed on again with the new password",
       [&] { return sim_get_stats(g_sim).logins == logins_before_drop + 1 && ssclient_is_online(); },
       [] { gui_quit(); }},
  };
  const int32_t t = timer_start(20, script_tick, nullptr, 0);
  ASSERT_GE(t, 0);
  ASSERT_EQ(0, start_main("", kUser, kOld, "127.0.0.1", g_port));
  gui_main_loop();
  timer_stop(t);
  start_cleanup();

  ASSERT_TRUE(P.failed.empty()) << P.failed;
  EXPECT_EQ(P.at, P.steps.size());
  EXPECT_EQ(sim_get_stats(g_sim).refusals, 0);
  EXPECT_TRUE(logs.has("changing password"));
  for (const std::string &line : logs.lines()) {
    EXPECT_EQ(line.find(kOld), std::string::npos) << line;
    EXPECT_EQ(line.find(kNew), std::string::npos) << line;
  }
}

}  // namespace
