// The start-up and login flow against the market simulator, under Xvfb, in
// the real frame loop: the builder-made login box opens; xdotool types a
// user name and a wrong password, and the server's refusal shows on the box,
// which stays, with no second attempt; the right password signs on: the io
// thread runs, the 10 ms main timer delivers the model's changes, "Online"
// shows, the screens come up, and the version line and link-level addresses
// reach the simulator; a dropped link reconnects with the client's messages;
// quitting signs off, saves the local settings and joins the io thread. The
// frame loop's active hook holds the core lock while the loop works and
// never while it sleeps.
//
// Beside it: the "site:user" name switches the site, the re-login messages
// by server error code, and the program Ambit signing on with the user name
// and password of its command line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "config/configbox.h"
#include "config/load_local.h"
#include "config/login_page.h"
#include "config/status_page.h"
#include "decblk.h"
#include "growbuf.h"
#include "guitest.h"
#include "lib/gfx.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "localdata.h"
#include "plat.h"
#include "screen/screen.h"
#include "sim.h"
#include "sim_http.h"
#include "site.h"
#include "ssclient.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssmsg.h"
#include "ssnotify.h"
#include "startup/recovery.h"
#include "startup/start.h"
#include "testlog.h"
#include "testmodel.h"
#include "testsim.h"
#include "ui/gui.h"
#include "ui/label.h"
#include "ui/textbox.h"
#include "version.h"

namespace {

constexpr int kStepMs = 20000;  // a reconnect after an early drop backs off ~5 s

std::string g_root;
sim_server *g_sim = nullptr;
int g_port = 0;

// The test simulator with a second user, dana/secret, whose id the client
// reads as its user flags: 32 asks for the link-level addresses.
void make_sim(sim_server **out) {
  ASSERT_NO_FATAL_FAILURE(make_test_sim(out, 50));
  sim_user u;
  u.name = "dana";
  u.password = "secret";
  u.id = 33;
  ASSERT_EQ(0, sim_add_user(*out, u));
}

class Startup : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ASSERT_EQ(tex_init(), 0);
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
    panel_set_textures(39, 40, 41, 42);  // the atlas's panel images, as the styles set them
    ssio_set_default_host("");  // no name lookups
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    ssclient_enable_locking();
    char tmpl[] = "/tmp/ambit-startup-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    g_root = tmpl;
    ASSERT_EQ(0, localdata_set_root((g_root + "/data").c_str()));
    ASSERT_EQ(0, config_init());
    ASSERT_EQ(0, site_init());

    ASSERT_NO_FATAL_FAILURE(make_sim(&g_sim));
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

std::string text_of(textbox *t) { return textbox_text(t); }

// ---- the site switch of a "site:user" name ----

TEST_F(Startup, SiteCodeBeforeAColonSwitchesTheSite) {
  configbox *box = configbox_new(nullptr);
  ASSERT_NE(box, nullptr);
  login_page *page = configbox_login_page(box);
  ASSERT_NE(page, nullptr);
  ASSERT_NE(site_select("osprey"), nullptr);
  struct Case {
    const char *typed;
    const char *site;  // current afterwards
    const char *user;  // left in the field
  } cases[] = {
      {"test:bob", "test", "bob"},
      {":carol", "osprey", "carol"},  // no code: the default site
      {"nosuch:dave", "osprey", "nosuch:dave"},
      {"osprey:erin", "osprey", "osprey:erin"},  // already current: left as typed
      {"partner:frank", "partner", "frank"},
  };
  for (const Case &c : cases) {
    login_page_set_credentials(page, c.typed, "pw");
    login_page_site_check(page);
    EXPECT_STREQ(site_current()->code, c.site) << c.typed;
    EXPECT_EQ(text_of(page->user), c.user) << c.typed;
    if (strcmp(c.user, c.typed) != 0) {
      EXPECT_STREQ(config_local()->site, c.site) << c.typed;
      EXPECT_STREQ(ssclient_get_login_site(), c.site) << c.typed;
    }
  }
  site_select("osprey");
  ssclient_set_login_site("osprey");
  widget_delete(box);
}

// ---- re-login messages ----

TEST_F(Startup, ReloginMessagesByServerError) {
  site_select("test");
  const char *contact = site_current()->contact;
  struct Case {
    int32_t code;
    uint32_t sub;
    int up;
    const char *message;
    bool has_contact;
  } cases[] = {
      {1, 1, 1, "Someone else has logged in with this username", false},
      {1, 3, 1, "Your login has been disabled", true},
      {1, 4, 1, "Logged out by server", false},
      {1, 5, 1, "Temporarilly logged out by server", false},
      {1, 7, 1, "Lost connection to server", false},
      {1, 1, 0, "Unable to connect server", false},
      {10, 0, 0, "Unrecognised Username", false},
      {11, 0, 0, "Incorrect Password", false},
      {12, 0, 1, "Please try again", false},
      {15, 0, 0, "Your login has been disabled", true},
      {17, 0, 0, "API connection not enabled", false},
      {18, 0, 0, "Update required", false},
      {30, 0, 0, "Unable to connect to server", false},
      {31, 0, 0, "Unable to connect to proxy", false},
      {32, 0, 0, "Proxy authentication failed", false},
      {0, 0, 1, "Dropped connection to server", false},
      {99, 2, 0, "Dropped connection to server", false},
  };
  for (const Case &c : cases) {
    const char *second = "unset";
    EXPECT_STREQ(start_relogin_message(c.code, c.sub, c.up, &second), c.message) << c.code << "/" << c.sub;
    if (c.has_contact)
      EXPECT_EQ(second, contact) << c.code;
    else
      EXPECT_EQ(second, nullptr) << c.code;
  }
  site_select("osprey");
}

// ---- the whole flow in the frame loop ----

// The link-level addresses of this machine as the kernel lists them.
std::set<std::string> machine_addresses() {
  std::set<std::string> out;
  std::error_code ec;
  for (const auto &d : std::filesystem::directory_iterator("/sys/class/net", ec)) {
    std::ifstream in(d.path() / "address");
    std::string a;
    if (!(in >> a)) continue;
    if (a.size() != 17 || a == "00:00:00:00:00:00") continue;
    out.insert(a);
  }
  return out;
}

// The plain text of a block the client sent (request 130), decrypted here.
std::string block_text(const sim_entry &e) {
  growbuf gb;
  growbuf_init(&gb, 256, 256);
  int n = decblk_read_encrypted(1, e.data.data(), static_cast<int32_t>(e.data.size()), &gb);
  std::string s = n > 0 ? std::string(reinterpret_cast<const char *>(gb.data), static_cast<size_t>(gb.len)) : "";
  growbuf_free(&gb);
  return s;
}

std::vector<std::string> blocks_sent(uint32_t number) {
  std::vector<std::string> out;
  for (const sim_entry &e : sim_transcript(g_sim))
    if (e.kind == 130 && e.a == number) out.push_back(block_text(e));
  return out;
}

std::string status_text() {
  char t[kSsmsgTextMax + 1];
  ssmsg_get(t);
  return t;
}

// What the dialog's status page shows as "Status" after an update.
std::string status_page_value(configbox *b) {
  auto *page = static_cast<status_page *>(b->page[5]);
  status_page_update(page);
  return label_text(page->value[STATUS_STATUS]);
}

// What the loop and its hooks saw.
struct Watch {
  std::atomic<int> working_with_lock{0}, working_without_lock{0};
  std::atomic<int> sleeping_with_lock{0}, sleeps{0};
  int deliveries = 0;          // login-state changes delivered to a wild listener
  int deliveries_off_main = 0;  // ... on another thread, or without the core lock
  std::thread::id main;
  std::set<std::string> statuses;
} W;

void watch_sleep(int32_t ms) {
  W.sleeps++;
  if (ssclient_ui_has_lock()) W.sleeping_with_lock++;
  plat_sleep_ms(ms);
}

void watch_changes(const ss_change *, void *, uint64_t, uint32_t) {
  W.deliveries++;
  if (std::this_thread::get_id() != W.main || !ssclient_ui_has_lock()) W.deliveries_off_main++;
}

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
  bool done = false;
} P;

int script_tick(void *, uint32_t, int64_t, float) {
  if (ssclient_ui_has_lock())
    W.working_with_lock++;
  else
    W.working_without_lock++;
  W.statuses.insert(status_text());
  if (P.done || !P.failed.empty()) return 1;
  if (P.at >= P.steps.size()) {
    P.done = true;
    return 1;
  }
  Step &s = P.steps[P.at];
  if (!P.deadline) P.deadline = plat_ms() + kStepMs;
  if (s.ready()) {
    if (s.act) s.act();
    P.at++;
    P.deadline = 0;
  } else if (plat_ms() > P.deadline) {
    P.failed = std::string("timed out waiting: ") + s.what + " (status \"" + status_text() + "\")";
    gui_set_quitting();
  }
  return 1;
}

uint64_t x_window(int win) { return gui_plat_x11_window(&gui_window_record(win)->plat); }

void click(int win, widget *w) {
  char args[160];
  snprintf(args, sizeof args, "mousemove --window %llu %d %d click 1",
           static_cast<unsigned long long>(x_window(win)), w->r.x + 10, w->r.y + w->r.h / 2);
  guitest_xdo(args);
}

login_page *page_now() {
  configbox *b = start_login_box();
  return b ? configbox_login_page(b) : nullptr;
}

TEST_F(Startup, LoginBoxSignsOnRunsReconnectsAndQuits) {
  W.main = std::this_thread::get_id();
  config_local()->remember_username = 1;
  memset(config_local()->username, 0, sizeof config_local()->username);
  const std::string local_config = g_root + "/data/Config/LOCAL_CONFIG";
  std::filesystem::remove(local_config);
  LogCapture logs;

  int login_win = -1;
  int connections_at_refusal = -1;
  int logins_before_drop = -1;
  P.steps = {
      {"the login box drawn",
       [&] {
         login_win = start_login_window();
         return login_win >= 0 && !gui_window_needs_redraw(login_win) && page_now();
       },
       [&] {
         // The box as drawn: its background at a corner, the empty user
         // name field's panel, no ink in it.
         const uint64_t xw = x_window(login_win);
         EXPECT_TRUE(guitest_near(guitest_window_pixel(xw, 3, 3), configbox_background(), 12))
             << std::hex << guitest_window_pixel(xw, 3, 3);
         login_page *p = page_now();
         const rect u = p->user->r;
         const uint32_t field = guitest_window_pixel(xw, u.x + 2, u.y + u.h / 2);
         EXPECT_TRUE(guitest_near(field, configbox_fill(), 12) || guitest_near(field, configbox_focus_fill(), 12))
             << std::hex << field << std::dec << " at " << u.x << "," << u.y << " " << u.w << "x" << u.h;
         EXPECT_FALSE(button_is_sensitive(p->login));  // nothing typed yet
         guitest_xdo("windowfocus --sync " + std::to_string(xw));
         click(login_win, p->user);
         guitest_xdo("type --delay 20 dana");
         click(login_win, p->password);
         guitest_xdo("type --delay 20 wrong");
         guitest_xdo("key Return");
       }},
      {"the refusal on the box",
       [&] { return page_now() && std::string(label_text(page_now()->message[0])) == "Incorrect Password"; },
       [&] {
         login_page *p = page_now();
         EXPECT_EQ(start_login_window(), login_win);  // the box stays
         EXPECT_EQ(text_of(p->user), "dana");
         EXPECT_EQ(text_of(p->password), "");  // cleared for the next try
         EXPECT_FALSE(screen_is_up());
         sim_stats st = sim_get_stats(g_sim);
         EXPECT_EQ(st.refusals, 1);
         connections_at_refusal = st.connections;
         click(login_win, p->password);
         guitest_xdo("type --delay 20 secret");
       }},
      {"Login sensitive once both fields hold text",
       [&] {
         return page_now() && text_of(page_now()->password) == "secret" && button_is_sensitive(page_now()->login);
       },
       [&] { click(login_win, page_now()->login); }},
      {"online with the screens up",
       [&] { return screen_is_up() && status_text() == "Online" && blocks_sent(3).size() >= 2; },
       [&] {
         EXPECT_EQ(start_login_window(), -1);  // the login window is closed
         EXPECT_TRUE(start_io_running());
         EXPECT_TRUE(start_main_timer_running());
         EXPECT_TRUE(ssclient_is_online());
         // One more connection for the accepted login: the refusal caused no retry loop.
         EXPECT_EQ(sim_get_stats(g_sim).connections, connections_at_refusal + 1);
         std::vector<std::string> sent = blocks_sent(3);
         const std::string ver = std::string("VER ") + version_full() + " (64bit) on " + plat_os_description();
         EXPECT_EQ(sent[0], ver);
         EXPECT_NE(sent[0].find(" on Linux"), std::string::npos) << sent[0];
         ASSERT_EQ(sent[1].rfind("ID", 0), 0u) << sent[1];
         std::set<std::string> ids;
         for (size_t i = 2; i + 18 <= sent[1].size() + 0; i += 18) ids.insert(sent[1].substr(i + 1, 17));
         EXPECT_EQ(ids, machine_addresses()) << sent[1];
         EXPECT_GT(W.deliveries, 0);
         logins_before_drop = sim_get_stats(g_sim).logins;
         W.statuses.clear();
         ASSERT_EQ(1, sim_disconnect(g_sim, "dana"));  // the one link closed
       }},
      {"back online after the drop",
       [&] {
         configbox *b = screen_configbox();
         return sim_get_stats(g_sim).logins == logins_before_drop + 1 && ssclient_is_online() &&
                status_text() == "Online" && b && status_page_value(b) == "Online";
       },
       [&] {
         EXPECT_TRUE(W.statuses.count("Connecting to 127.0.0.1")) << "statuses seen after the drop";
         EXPECT_TRUE(W.statuses.count("Logging in"));
         EXPECT_TRUE(logs.has("backing off"));
         EXPECT_TRUE(logs.has("reconnected"));
         configbox *b = screen_configbox();
         ASSERT_NE(b, nullptr);
         EXPECT_TRUE(screen_is_up());
         EXPECT_TRUE(screen_is_open(0)) << "online with no screen open";
         gui_quit();  // as the system asks: through the quit hook
       }},
  };

  ssclient_block();
  ASSERT_EQ(0, ssnotify_add_wild(0x1 | 0x2000000, watch_changes, &W, 0, 0));
  ssclient_unblock();
  gui_sleep_fn old_sleep = gui_set_sleep(watch_sleep);
  const int32_t t = timer_start(20, script_tick, nullptr, 0);
  ASSERT_GE(t, 0);

  ASSERT_EQ(0, start_main("", "", "", "127.0.0.1", g_port));
  gui_main_loop();
  timer_stop(t);
  gui_set_sleep(old_sleep);
  start_cleanup();
  ssclient_block();
  ssnotify_remove_wild(&W);
  ssclient_unblock();

  ASSERT_TRUE(P.failed.empty()) << P.failed;
  EXPECT_EQ(P.at, P.steps.size());
  // Quitting signed off, saved the local settings, and cleaned up in order.
  bool signed_off = false;
  for (const sim_entry &e : sim_transcript(g_sim)) signed_off |= e.kind == 2;
  EXPECT_TRUE(signed_off);
  EXPECT_TRUE(logs.has("start logout"));
  EXPECT_FALSE(logs.has("failed to sign off"));
  EXPECT_FALSE(start_io_running());
  EXPECT_FALSE(start_main_timer_running());
  EXPECT_FALSE(screen_is_up());
  EXPECT_TRUE(std::filesystem::exists(local_config));
  memset(config_local()->username, 0, sizeof config_local()->username);
  ASSERT_EQ(0, load_local_config());
  EXPECT_STREQ(config_local()->username, "dana");  // remembered
  // The active hook: the lock held for every pass of work, never while asleep.
  EXPECT_GT(W.working_with_lock.load(), 10);
  EXPECT_EQ(W.working_without_lock.load(), 0);
  EXPECT_GT(W.sleeps.load(), 10);
  EXPECT_EQ(W.sleeping_with_lock.load(), 0);
  EXPECT_EQ(W.deliveries_off_main, 0);
  EXPECT_EQ(ssclient_ui_has_lock(), 0);
}

// The location's connection choice reaches the client: with "HTTP" chosen
// the sign-on goes to the server as HTTP requests.
TEST_F(Startup, TheLocationsHttpChoiceReachesTheClient) {
  config_location *loc = config_cur_location();
  ASSERT_NE(nullptr, loc);
  const config_location saved = *loc;
  loc->ambit_uses_default_servers = 0;
  snprintf(loc->ambit_hostname, sizeof loc->ambit_hostname, "127.0.0.1");
  loc->ambit_port = g_port;
  loc->proxy_type = 0;
  loc->ambit_over_http = 1;
  ssio_set_http_mode(0);
  // A client of its own: the login box's test stopped the suite's.
  ssclient_fini();
  ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
  ssclient_enable_locking();
  const size_t before = sim_http_requests(g_sim).size();
  ASSERT_EQ(0, start_io("alice", "secret"));
  EXPECT_EQ(1, ssio_http_mode());
  bool http = false;
  const int64_t until = plat_ms() + 10000;
  while (!http && plat_ms() < until) {
    const std::vector<std::string> reqs = sim_http_requests(g_sim);
    for (size_t i = before; i < reqs.size(); i++) http = http || reqs[i].rfind("POST /AMBIT/6 ", 0) == 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  start_cleanup();
  *loc = saved;
  ssio_set_http_mode(0);
  EXPECT_TRUE(http) << "no HTTP-mode request reached the simulator";
}

// ---- the program itself ----

// Ambit started with a server, user name and password on its command line
// signs on at once, brings its screens up and sends its version line and
// link-level addresses.
TEST_F(Startup, TheProgramSignsOnWithItsCommandLineCredentials) {
  sim_server *sim = nullptr;
  ASSERT_NO_FATAL_FAILURE(make_sim(&sim));
  const int port = sim_start(sim, 0);
  ASSERT_GT(port, 0);
  char tmpl[] = "/tmp/ambit-program-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  const std::string home = tmpl, port_text = std::to_string(port);

  pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    execl(AMBIT_PROGRAM, "Ambit", "-h", "127.0.0.1", "-P", port_text.c_str(), "-u", "dana", "-p", "secret",
          static_cast<char *>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  sim_entry version, addresses;
  const int first = sim_wait_entry(sim, 130, 0, 30000, &version);
  const bool got_version = first >= 0;
  const bool got_addresses =
      got_version && sim_wait_entry(sim, 130, static_cast<size_t>(first) + 1, 5000, &addresses) >= 0;
  const sim_stats st = sim_get_stats(sim);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  sim_destroy(sim);
  std::error_code ec;
  std::filesystem::remove_all(home, ec);

  ASSERT_TRUE(got_version) << "no block from the program";
  EXPECT_EQ(version.a, 3u);
  ASSERT_TRUE(got_addresses);
  EXPECT_EQ(addresses.a, 3u);
  EXPECT_EQ(st.logins, 1);
  EXPECT_EQ(st.refusals, 0);
}

}  // namespace
