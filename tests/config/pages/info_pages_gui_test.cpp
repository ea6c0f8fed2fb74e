// The dialog's information pages in the real frame loop under Xvfb, against
// the market simulator: a login slowed by the simulator keeps the progress
// page up, whose "Stop" shows only after 2.5 s (sampled pixels) and takes the
// dialog back to its login page; a second login comes online, the status page
// names the simulator's host and port, "Native" and the user's exchanges, and
// a click on the account page's link reaches the recorded opener with the
// signed account address.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "config/account_page.h"
#include "config/config.h"
#include "config/configbox.h"
#include "config/login_page.h"
#include "config/progress_page.h"
#include "config/status_page.h"
#include "guitest.h"
#include "lib/gfx.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "localdata.h"
#include "plat.h"
#include "script.h"
#include "screen/screen.h"
#include "sim.h"
#include "site.h"
#include "ssclient.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssuser.h"
#include "style.h"
#include "startup/start.h"
#include "testmodel.h"
#include "testsim.h"
#include "ui/button.h"
#include "ui/gui.h"
#include "ui/gui_plat-linux.h"
#include "ui/hider.h"
#include "ui/label.h"
#include "ui/sizer.h"
#include "ui/launch-linux.h"

namespace {

std::string g_root;
sim_server *g_sim = nullptr;
int g_port = 0;
std::vector<std::string> g_opened;

int record_opener(const char *target) {
  g_opened.push_back(target);
  return 0;
}

class InfoPages : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ASSERT_EQ(tex_init(), 0);
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
    ASSERT_EQ(style_init(), 0);
    ASSERT_EQ(style_select(0), 0);
    ssio_set_default_host("");
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    ssclient_enable_locking();
    char tmpl[] = "/tmp/ambit-pages-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    g_root = tmpl;
    ASSERT_EQ(0, localdata_set_root((g_root + "/data").c_str()));
    ASSERT_EQ(0, config_init());
    ASSERT_EQ(0, site_init());
    ASSERT_NO_FATAL_FAILURE(make_test_sim(&g_sim, 50));
    sim_user erin;  // a developer who sees exchanges 0 and 3
    erin.name = "erin";
    erin.password = "secret";
    erin.kind = 3;
    erin.exchange_bits = 0x5;
    ASSERT_EQ(0, sim_add_user(g_sim, erin));
    g_port = sim_start(g_sim, 0);
    ASSERT_GT(g_port, 0);
  }
  static void TearDownTestSuite() {
    sim_destroy(g_sim);
    site_fini();
    config_shutdown();
    ssclient_fini();
    style_fini();
    gui_shutdown();
    gmap_fini();
    tex_fini();
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
  }
};

app_script P;

int script_tick(void *, uint32_t id, int64_t now, float dt) { return app_script::tick(&P, id, now, dt); }

uint64_t x_window(int win) { return gui_plat_x11_window(&gui_window_record(win)->plat); }

void click_at(int win, int32_t x, int32_t y) {
  guitest_xdo("mousemove --window " + std::to_string(x_window(win)) + " " + std::to_string(x) + " " +
              std::to_string(y) + " click 1");
}

TEST_F(InfoPages, StopAfterASlowLoginThenStatusAndAccountOnline) {
  config_local()->remember_username = 0;
  configbox *box = nullptr;
  progress_page *progress = nullptr;
  int win = -1;
  int64_t t0 = 0;
  int early_checks = 0;
  const uint32_t bg = configbox_background();
  // The pixels of Stop's place that differ from the dialog's background.
  auto stop_ink = [&] {
    const rect r = progress->stop_hider->r;
    int n = 0;
    for (uint32_t px : guitest_window_pixels(x_window(win), r)) n += !guitest_near(px, bg, 12);
    return n;
  };
  P.steps = {
      {"the login box drawn",
       [&] {
         win = start_login_window();
         box = start_login_box();
         return win >= 0 && box && !gui_window_needs_redraw(win);
       },
       [&] {
         progress = static_cast<progress_page *>(configbox_progress_page(box));
         sim_misbehaviour slow;
         slow.mode = SIM_DRIP;
         slow.delay_ms = 25;
         sim_set_misbehaviour(g_sim, slow);
         login_page_set_credentials(configbox_login_page(box), "alice", "secret");
         t0 = plat_ms();
         configbox_start_login(box);
       }},
      {"the progress page drawn, Stop still hidden",
       [&] { return configbox_page(box) == 7 && !gui_window_needs_redraw(win) && plat_ms() - t0 > 300; },
       [&] {
         ASSERT_LT(plat_ms() - t0, 2400) << "the check must come before 2.5 s";
         EXPECT_TRUE(hider_is_hidden(progress->stop_hider));
         EXPECT_GT(progress->stop_hider->r.w, 0);
         EXPECT_EQ(stop_ink(), 0);
         // The percentage box: black at alpha 0x78 over the background, 150 px left of the centre.
         const rect a = progress->bar->r;
         const uint32_t box_px = guitest_window_pixel(x_window(win), a.x + a.w / 2 - 140, a.y + a.h - 3);
         EXPECT_FALSE(guitest_near(box_px, bg, 4)) << std::hex << box_px;
         early_checks++;
       }},
      {"Stop shown",
       [&] { return !hider_is_hidden(progress->stop_hider) && !gui_window_needs_redraw(win); },
       [&] {
         EXPECT_GE(plat_ms() - t0, 2500);
         EXPECT_EQ(configbox_page(box), 7) << "still logging in";
         EXPECT_GT(stop_ink(), 20) << "the button is drawn";
         const rect r = progress->stop->r;
         click_at(win, r.x + r.w / 2, r.y + r.h / 2);
       }},
      {"back at the login page", [&] { return configbox_page(box) == 0; },
       [&] {
         sim_set_misbehaviour(g_sim, sim_misbehaviour{});
         login_page_set_credentials(configbox_login_page(box), "erin", "secret");
         configbox_start_login(box);
       }},
      {"online with the screens up", [&] { return ssclient_is_online() && screen_is_up() && screen_is_open(0); },
       [&] {
         configbox *b = screen_configbox();
         ASSERT_NE(b, nullptr);
         auto *sp = static_cast<status_page *>(b->page[5]);
         status_page_update(sp);
         EXPECT_EQ(std::string(label_text(sp->value[STATUS_HOST])), "127.0.0.1:" + std::to_string(g_port));
         EXPECT_STREQ(label_text(sp->value[STATUS_PROXY]), "None");
         EXPECT_STREQ(label_text(sp->value[STATUS_PROTOCOL]), "Native");
         std::string exchanges;
         for (int i = 0; i < 4; i++)
           if (ssuser_exchange_permitted(i))
             exchanges += (exchanges.empty() ? "" : " ") + std::string(ssmodel_exchange_display_name(i));
         EXPECT_EQ(exchanges, std::string(ssmodel_exchange_display_name(0)) + " " + ssmodel_exchange_display_name(3));
         EXPECT_EQ(std::string(label_text(sp->value[STATUS_EXCHANGES])), exchanges);
         EXPECT_STREQ(label_text(sp->value[STATUS_TYPE]), "Developer");
         EXPECT_STREQ(label_text(sp->value[STATUS_PROVIDER]), site_current()->name);
         configbox_show_page(b, CONFIGBOX_ONLINE, 1);
         screen_show_configbox();
       }},
      {"the account page drawn",
       [&] {
         configbox *b = screen_configbox();
         return configbox_page(b) == 1 && !gui_window_needs_redraw(screen_get(0)->os_window);
       },
       [&] {
         auto *ap = static_cast<account_page *>(screen_configbox()->page[1]);
         label *link = ap->line[4];
         ASSERT_TRUE(account_line_is_link(label_text(link))) << label_text(link);
         EXPECT_NE(ap->line[4]->click, nullptr);
         EXPECT_EQ(ap->line[1]->click, nullptr) << "a grey line is not a link";
         g_opened.clear();
         launch_set_opener(record_opener);
         const rect t = link->text_rect;
         click_at(screen_get(0)->os_window, t.x + t.w / 2, t.y + t.h / 2);
       }},
      {"the account address opened", [&] { return !g_opened.empty(); },
       [&] {
         const std::string want = std::string("https://") + kAccountHost + "/ambit-account?";
         ASSERT_EQ(g_opened.size(), 1u);
         EXPECT_EQ(g_opened[0].rfind(want, 0), 0u) << g_opened[0];
         EXPECT_TRUE(std::regex_match(g_opened[0].substr(want.size()), std::regex("[0-9a-f]{72}")))
             << g_opened[0];
         launch_set_opener(nullptr);
         gui_quit();
       }},
  };

  const int32_t t = timer_start(20, script_tick, nullptr, 0);
  ASSERT_GE(t, 0);
  ASSERT_EQ(0, start_main("", "", "", "127.0.0.1", g_port));
  gui_main_loop();
  timer_stop(t);
  start_cleanup();
  ASSERT_TRUE(P.failed.empty()) << P.failed << " (step " << P.at << ")";
  EXPECT_EQ(P.at, P.steps.size());
  EXPECT_EQ(early_checks, 1);
}

}  // namespace
