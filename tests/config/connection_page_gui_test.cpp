// The connection page in the running terminal, under Xvfb, against the
// market simulator and tinyproxy on loopback: on the login box xdotool opens
// the Connection tab, picks the HTTP proxy and types its host, port, user
// name and password; going back to the Login tab hides the page, which saves
// the local settings file; the login then goes through the proxy (its log
// shows the CONNECT), and the file read back holds the proxy. Online, a
// location picked on the screen's dialog is put back when the page is left.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "config/configbox.h"
#include "config/connection_page.h"
#include "config/load_local.h"
#include "config/login_page.h"
#include "lib/timer.h"
#include "pagegui.h"
#include "screen/screen.h"
#include "startup/start.h"
#include "testlog.h"
#include "testpeers.h"
#include "ui/textbox.h"

namespace {

constexpr char kUser[] = "frank";
constexpr char kPassword[] = "Pebble6620";
constexpr char kProxyUser[] = "alice";
constexpr char kProxyPassword[] = "proxy-pass";

test_peer g_proxy;

class ConnectionPageGui : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(start_tinyproxy(&g_proxy, kProxyUser, kProxyPassword));
    ASSERT_NO_FATAL_FAILURE(page_gui_start(kUser, kPassword));
  }
  static void TearDownTestSuite() {
    page_gui_stop();
    stop_peer(&g_proxy);
  }
};

// Clicks the field, clears what it holds and types the text.
void retype(textbox *t, const std::string &text) {
  xclick(t);
  guitest_xdo("key End");
  for (int32_t i = 0; i < t->length; i++) guitest_xdo("key BackSpace");
  if (!text.empty()) guitest_xdo("type --delay 20 " + text);
}

std::string file_text(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(ConnectionPageGui, ProxyTypedOnThePageCarriesTheNextLogin) {
  LogCapture logs;
  const std::string local_config = g_world.root + "/data/Config/LOCAL_CONFIG";
  const std::string proxy_port = std::to_string(g_proxy.port);
  auto login_conn = [] {
    configbox *b = start_login_box();
    return b ? static_cast<connection_page *>(b->page[3]) : nullptr;
  };
  auto screen_conn = [] {
    configbox *b = screen_configbox();
    return b ? static_cast<connection_page *>(b->page[3]) : nullptr;
  };
  app_script &P = g_script;
  P.steps = {
      {"the login box drawn",
       [] {
         configbox *b = start_login_box();
         return b && drawn(b->page[0], configbox_login_page(b)->user);
       },
       [] {
         configbox *b = start_login_box();
         guitest_xdo("windowfocus --sync " + std::to_string(x_window_of(b)));
         xclick(button_group_member(&b->tabs_a, 3));
       }},
      {"the connection page drawn", [&] { return drawn(login_conn(), login_conn()->proxy[1]); },
       [&] {
         EXPECT_FALSE(textbox_is_editable(login_conn()->proxy_host));
         xclick(login_conn()->proxy[1]);
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
         xclick(button_group_member(&start_login_box()->tabs_a, 0));
       }},
      {"the login page back, the settings saved",
       [] {
         configbox *b = start_login_box();
         return b && drawn(b->page[0], configbox_login_page(b)->user) &&
                std::filesystem::exists(g_world.root + "/data/Config/LOCAL_CONFIG");
       },
       [] {
         login_page *p = configbox_login_page(start_login_box());
         xclick(p->user);
         guitest_xdo(std::string("type --delay 20 ") + kUser);
         xclick(p->password);
         guitest_xdo(std::string("type --delay 20 ") + kPassword);
         guitest_xdo("key Return");
       }},
      {"online through the proxy", [] { return screen_is_up() && ssclient_is_online(); },
       [&] {
         const std::string log = file_text(g_proxy.dir + "/tinyproxy.log");
         EXPECT_NE(log.find("CONNECT"), std::string::npos) << peer_logs(g_proxy);
         EXPECT_TRUE(logs.has("tunnel to 127.0.0.1:" + std::to_string(g_world.port) + " open"));
         screen_show_configbox();
         configbox_show_page(screen_configbox(), -1, 3);
       }},
      {"the screen's connection page drawn", [&] { return drawn(screen_conn(), screen_conn()->location[1]); },
       [&] {
         EXPECT_STREQ(screen_conn()->location[1]->text, "New");
         guitest_xdo("windowfocus --sync " + std::to_string(x_window_of(screen_conn())));
         xclick(screen_conn()->location[1]);
       }},
      {"another location picked", [] { return config_local()->cur_location == 1; },
       [] { xclick(button_group_member(&screen_configbox()->tabs_b, 2)); }},
      {"the page left", [] { return configbox_page(screen_configbox()) == 2; },
       [&] {
         EXPECT_EQ(config_local()->cur_location, 0);
         EXPECT_TRUE(logs.has("changing location back to 0 from 1"));
         gui_quit();
       }},
  };
  const int32_t t = timer_start(20, script_tick, nullptr, 0);
  ASSERT_GE(t, 0);
  ASSERT_EQ(0, start_main("", "", "", "127.0.0.1", g_world.port));
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
