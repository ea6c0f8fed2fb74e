// The connection page in the running terminal, under Xvfb, against the
// market simulator and tinyproxy on loopback: on the login box xdotool opens
// the Connection tab, picks the HTTP proxy and types its host, port, user
// name and password; going back to the Login tab hides the page, which saves
// the local settings file; the login then goes through the proxy (its log
// shows the CONNECT), and the file read back holds the proxy. Online, a
// location picked on the screen's dialog is put back when the page is left.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/configbox.h"
#include "config/connection_page.h"
#include "config/load_local.h"
#include "config/login_page.h"
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
#include "testpeers.h"
#include "testsim.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "ui/textbox.h"

namespace {

constexpr int kStepMs = 20000;
constexpr char kUser[] = "frank";
constexpr char kPassword[] = "Pebble6620";
constexpr char kProxyUser[] = "alice";
constexpr char kProxyPassword[] = "proxy-pass";

std::string g_root;
sim_server *g_sim = nullptr;
int g_port = 0;
test_peer g_proxy;

class ConnectionPageGui : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(start_tinyproxy(&g_proxy, kProxyUser, kProxyPassword));
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ASSERT_EQ(tex_init(), 0);
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
    panel_set_textures(39, 40, 41, 42);
    ssio_set_default_host("");
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    ssclient_enable_locking();
    char tmpl[] = "/tmp/ambit-connection-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    g_root = tmpl;
    ASSERT_EQ(0, localdata_set_root((g_root + "/data").c_str()));
    ASSERT_EQ(0, config_init());
    ASSERT_EQ(0, site_init());
    ASSERT_NO_FATAL_FAILURE(make_test_sim(&g_sim, 50));
    sim_user u;
    u.name = kUser;
    u.password = kPassword;
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
    stop_peer(&g_proxy);
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

uint64_t x_window_of(widget *w) { return gui_plat_x11_window(&gui_window_record(gui_window_index(w))->plat); }

void click(widget *w) {
  char args[160];
  snprintf(args, sizeof args, "mousemove --window %llu %d %d click 1",
           static_cast<unsigned long long>(x_window_of(w)), w->r.x + w->r.w / 2, w->r.y + w->r.h / 2);
  guitest_xdo(args);
}

// Clicks the field, clears what it holds and types the text.
void retype(textbox *t, const std::string &text) {
  click(t);
  guitest_xdo("key End");
  for (int32_t i = 0; i < t->length; i++) guitest_xdo("key BackSpace");
  if (!text.empty()) guitest_xdo("type --delay 20 " + text);
}

button *tab(button_group *g, int32_t id) {
  for (button *b = g->first; b; b = b->next_member)
    if (b->id == id) return b;
  return nullptr;
}

bool drawn(widget *page, widget *part) {
  if (!page || !widget_is_shown(page) || part->r.w <= 0) return false;
  const int win = gui_window_index(page);
  return win >= 0 && !gui_window_needs_redraw(win);
}

std::string file_text(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(ConnectionPageGui, ProxyTypedOnThePageCarriesTheNextLogin) {
  LogCapture logs;
  const std::string local_config = g_root + "/data/Config/LOCAL_CONFIG";
  const std::string proxy_port = std::to_string(g_proxy.port);
  auto login_conn = [] {
    configbox *b = start_login_box();
    return b ? static_cast<connection_page *>(b->page[3]) : nullptr;
  };
  auto screen_conn = [] {
    configbox *b = screen_configbox();
    return b ? static_cast<connection_page *>(b->page[3]) : nullptr;
  };
  P.steps = {
      {"the login box drawn",
       [] {
         configbox *b = start_login_box();
         return b && drawn(b->page[0], configbox_login_page(b)->user);
       },
       [] {
         configbox *b = start_login_box();
         guitest_xdo("windowfocus --sync " + std::to_string(x_window_of(b)));
         click(tab(&b->tabs_a, 3));
       }},
      {"the connection page drawn", [&] { return drawn(login_conn(), login_conn()->proxy[1]); },
       [&] {
         EXPECT_FALSE(textbox_is_editable(login_conn()->proxy_host));
         click(login_conn()->proxy[1]);
       }},
      {"the proxy fields open", [&] { return textbox_is_editable(login_conn()->proxy_host) != 0; },
       [&] {
         connection_page *p = login_conn();
         retype(p->proxy_host, "127.0.0.1");
         retype(p->proxy_port, proxy_port);
         retype(p->proxy_user, kProxyUser);
         retype(p->proxy_password, kProxyPassword);
       }},
      {"the proxy in the settings",
       [&] {
         const config_location *l = config_cur_location();
         return l->proxy_type == 2 && l->proxy_port == g_proxy.port && !strcmp(l->proxy_password, kProxyPassword);
       },
       [&] {
         EXPECT_STREQ(config_cur_location()->proxy_hostname, "127.0.0.1");
         EXPECT_STREQ(config_cur_location()->proxy_username, kProxyUser);
         EXPECT_FALSE(std::filesystem::exists(local_config));
         click(tab(&start_login_box()->tabs_a, 0));
       }},
      {"the login page back, the settings saved",
       [] {
         configbox *b = start_login_box();
         return b && drawn(b->page[0], configbox_login_page(b)->user) &&
                std::filesystem::exists(g_root + "/data/Config/LOCAL_CONFIG");
       },
       [] {
         login_page *p = configbox_login_page(start_login_box());
         click(p->user);
         guitest_xdo(std::string("type --delay 20 ") + kUser);
         click(p->password);
         guitest_xdo(std::string("type --delay 20 ") + kPassword);
         guitest_xdo("key Return");
       }},
      {"online through the proxy", [] { return screen_is_up() && ssclient_is_online(); },
       [&] {
         const std::string log = file_text(g_proxy.dir + "/tinyproxy.log");
         EXPECT_NE(log.find("CONNECT"), std::string::npos) << peer_logs(g_proxy);
         EXPECT_TRUE(logs.has("tunnel to 127.0.0.1:" + std::to_string(g_port) + " open"));
         screen_show_configbox();
         configbox_show_page(screen_configbox(), -1, 3);
       }},
      {"the screen's connection page drawn", [&] { return drawn(screen_conn(), screen_conn()->location[1]); },
       [&] {
         EXPECT_STREQ(screen_conn()->location[1]->text, "New");
         guitest_xdo("windowfocus --sync " + std::to_string(x_window_of(screen_conn())));
         click(screen_conn()->location[1]);
       }},
      {"another location picked", [] { return config_local()->cur_location == 1; },
       [] { click(tab(&screen_configbox()->tabs_b, 2)); }},
      {"the page left", [] { return configbox_page(screen_configbox()) == 2; },
       [&] {
         EXPECT_EQ(config_local()->cur_location, 0);
         EXPECT_TRUE(logs.has("changing location back to 0 from 1"));
         gui_quit();
       }},
  };
  const int32_t t = timer_start(20, script_tick, nullptr, 0);
  ASSERT_GE(t, 0);
  ASSERT_EQ(0, start_main("", "", "", "127.0.0.1", g_port));
  gui_main_loop();
  timer_stop(t);
  start_cleanup();

  ASSERT_TRUE(P.failed.empty()) << P.failed << "\n" << peer_logs(g_proxy);
  EXPECT_EQ(P.at, P.steps.size());
  // The file read back holds the proxy.
  memset(config_cur_location(), 0, sizeof(config_location));
  config_local()->cur_location = 3;
  ASSERT_EQ(0, load_local_config());
  EXPECT_EQ(config_local()->cur_location, 0);
  const config_location *l = config_cur_location();
  EXPECT_EQ(l->proxy_type, 2);
  EXPECT_STREQ(l->proxy_hostname, "127.0.0.1");
  EXPECT_EQ(l->proxy_port, g_proxy.port);
  EXPECT_STREQ(l->proxy_username, kProxyUser);
  EXPECT_STREQ(l->proxy_password, kProxyPassword);
}

}  // namespace
