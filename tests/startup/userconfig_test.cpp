// The user configuration kept on the server, with the real lists, scans,
// alerts, screens, desktops and windows on a private X server: a state built
// through the owners' own calls saves to the golden text; loading that text
// and saving again gives it back byte for byte (every built role, an
// unregistered scan, links, a zoom, hidden bars, a maximised screen); a
// version-1 copy migrates and reloads equal as version 2; hostile numbers
// are skipped with their log lines; a missing, unreadable or versionless
// copy gives a working empty configuration; the autosave runs on a clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "action.h"
#include "charts/cstyle.h"
#include "config/autosave.h"
#include "config/config.h"
#include "config/load_remote.h"
#include "config/save_remote.h"
#include "config/upgrade.h"
#include "dalloc.h"
#include "decblk.h"
#include "encblk.h"
#include "chash.h"
#include "growbuf.h"
#include "guitest.h"
#include "lib/scan.h"
#include "lib/timer.h"
#include "lib/tex.h"
#include "lib/wlist.h"
#include "plat.h"
#include "quick9.h"
#include "rss/rss.h"
#include "screen/desktop.h"
#include "screen/screen.h"
#include "screen/splitter.h"
#include "screen/tickbar.h"
#include "screen/ticker.h"
#include "screen/miniquote.h"
#include "screen/watchbar.h"
#include "windows/titlebar.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "sstime.h"
#include "ssuser.h"
#include "style.h"
#include "testlog.h"
#include "testmodel.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "undo.h"
#include "windows/alertlist.h"
#include "term/terminal.h"
#include "windows/depthbars.h"
#include "windows/depthwin.h"
#include "windows/nuchart.h"
#include "windows/tradelist.h"
#include "windows/watchlist.h"
#include "windows/window.h"

namespace {

int64_t g_now_ms = 1000000000;
int64_t test_clock() { return g_now_ms; }
int64_t g_activity = 0;
int64_t test_activity() { return g_activity; }
int g_sends = 0, g_last_flag = -1, g_fail_send = 0;
int test_send(int flag) {
  g_sends++;
  g_last_flag = flag;
  return g_fail_send ? -1 : 0;
}

class UserConfigEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(guitest_start_window_manager());
    ASSERT_TRUE(guitest_start_gui("userconfig_test"));
    ASSERT_EQ(start_terminal_model(), 0);
    ASSERT_EQ(ssuser_init(), 0);
    ssuser_set(7, 0, 0x7);  // ASX, NZX and AXO
    ASSERT_EQ(config_init(), 0);
    ASSERT_EQ(undo_init(), 0);
    ASSERT_EQ(style_init(), 0);
    ASSERT_EQ(scan_init(), 0);
    ASSERT_EQ(cstyle_init(), 0);
    ASSERT_EQ(rss_init(), 0);
    ASSERT_EQ(alerts_init(), 0);
    gui_set_maximise_supported(1);
    ASSERT_EQ(screen_init(), 0);
    save_remote_set_sender(test_send);
    save_remote_set_activity_clock(test_activity);
  }
};
::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new UserConfigEnv);

std::string data_path(const char* name) {
  const char* root = getenv("AMBIT_SOURCE_DIR");
  return std::string(root ? root : ".") + "/tests/startup/data/" + name;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// The text of a save, without compression.
std::string saved_text() {
  EXPECT_EQ(0, save_remote_write_text());
  int32_t len = 0;
  const char* t = config_out_buffer(&len);
  std::string s(t ? t : "", size_t(len));
  config_reset();
  return s;
}

// The stored copy, inflated.
std::string stored_text() {
  int32_t n = 0;
  char* blob = ssuser_get_config(&n);
  if (!blob) return "";
  growbuf gb{};
  EXPECT_EQ(0, growbuf_init(&gb, n, 1024));
  EXPECT_EQ(n, decblk_inflate(reinterpret_cast<const uint8_t*>(blob), n, &gb));
  std::string s(reinterpret_cast<const char*>(gb.data), size_t(gb.len));
  growbuf_free(&gb);
  ssuser_clear_config(blob);
  return s;
}

void store_plain(const std::string& text) { ASSERT_EQ(0, ssuser_store_config(text.data(), int32_t(text.size()))); }

void store_framed(const std::string& text) {
  growbuf gb{};
  ASSERT_EQ(0, growbuf_init(&gb, int32_t(text.size()) + 16, 1024));
  ASSERT_EQ(0, encblk_write(&gb, text.data(), int32_t(text.size())));
  ASSERT_EQ(0, ssuser_store_config(gb.data, gb.len));
  growbuf_free(&gb);
}

// Equal texts, or the first line that differs (not both texts whole).
::testing::AssertionResult same_text(const std::string& got, const std::string& want) {
  std::istringstream a(got), b(want);
  std::string la, lb;
  for (int line = 1;; line++) {
    bool ga = bool(std::getline(a, la)), gb = bool(std::getline(b, lb));
    if (!ga && !gb) return ::testing::AssertionSuccess();
    if (ga != gb || la != lb)
      return ::testing::AssertionFailure() << "line " << line << ": got \"" << (ga ? la : "<end>") << "\" want \""
                                           << (gb ? lb : "<end>") << "\"";
  }
}

bool pump_until(const std::function<bool()>& done) { return guitest_wait_for([&] {
  gui_tick();
  return done();
}); }

instr* stock(const char* code) { return ssmodel_get_stock(ssmodel_exchange(0), code); }

// Builds the state the golden text holds through the owners' own calls.
void build_state() {
  instr* bhp = stock("BHP");
  instr* rio = stock("RIO");
  instr* anz = stock("ANZ");
  instr* xjo = ssmodel_get_index(ssmodel_exchange(0), "XJO");
  ASSERT_TRUE(bhp && rio && anz && xjo);
  ASSERT_EQ(0, quick9_set(2, bhp));
  wlist* wl = wlist_create("Banks", 3);
  ASSERT_NE(wl, nullptr);
  wlist_add_item(wl, anz);
  wlist_add_item(wl, bhp);
  scan* sc = scan_create("Movers", 5);
  ASSERT_NE(sc, nullptr);
  ASSERT_NE(nullptr, alerts_set_alert(rio, 4000, 5000, 0, 1, sstime_pack(0, 30, 10, 1, 6, 2026)));

  // Screen 0: desktop 0 split in two, a scan watchlist followed by a depth
  // window; desktop 3 with an alerts list, a course of sales and a
  // watchlist on an unregistered scan of the watchlist "Banks", zoomed.
  if (!screen_is_open(0)) ASSERT_EQ(0, screen_open(0));
  ASSERT_TRUE(screen_push(0));
  // An empty depth window takes the first quick slot's stock when it is
  // loaded: the quick windows hold it from the start, as their last stock
  // too (loading sets it again over the one the role took).
  for (int i = 0; i < 4; i++)
    if (screen* sc4 = screen_get(i))
      if (window* q = sc4->quick_window) {
        window_set_instrument(q, bhp);
        q->last_stock = bhp;
      }
  desktop* d0 = screen_get_desktop(0);
  std::vector<window*> ws;
  for (int i = 0; i < 2; i++) ws.push_back(window_new(nullptr, 0));
  ASSERT_EQ(0, desktop_layout_apply(d0, ws[1], "W0 W1 H0.400", ws.data(), 2));
  window_set_role(ws[0], kRoleWatchlist);
  watchlist_set_scan(static_cast<watchlist*>(window_get_content(ws[0], kRoleWatchlist)), sc);
  window_set_role(ws[1], kRoleDepth);
  window_set_instrument(ws[1], bhp);
  window_link(ws[1], ws[0]);
  depthwin_set_height(window_get_content(ws[1], kRoleDepth), 12);
  depthbars_set_thickness(depthwin_get_book(window_get_content(ws[1], kRoleDepth))->bars, 7);
  window_show_tools(ws[1]);

  desktop* d3 = screen_get_desktop(3);
  std::vector<window*> ws3;
  for (int i = 0; i < 3; i++) ws3.push_back(window_new(nullptr, 0));
  ASSERT_EQ(0, desktop_layout_apply(d3, ws3[0], "W0 W1 V0.300 W2 H0.650", ws3.data(), 3));
  window_set_role(ws3[0], kRoleAlerts);
  window_set_role(ws3[1], kRoleTradelist);
  window_set_instrument(ws3[1], rio);
  tradelist_set_group_by_seconds(tradelist_cast(window_get_content(ws3[1], kRoleTradelist)), 60);
  window_set_role(ws3[2], kRoleWatchlist);
  watchlist_set_source(static_cast<watchlist*>(window_get_content(ws3[2], kRoleWatchlist)), wl);
  ticker* t = tickbar_get_ticker(screen_get(0)->tickbar, 1);
  ASSERT_NE(t, nullptr);
  ticker_set_show(t, 2);
  screen_select_desktop(3, 1);
  screen_zoom_window(ws3[1]);
  screen_pop();

  // Screen 1: open, watch bar hidden, maximised; desktop 0 shows an index.
  ASSERT_EQ(0, screen_open(1));
  ASSERT_TRUE(screen_push(1));
  if (window* q = screen_get(1)->quick_window) {
    window_set_instrument(q, bhp);
    q->last_stock = bhp;
  }
  screen_hide_watchbar();
  desktop* e0 = screen_get_desktop(0);
  window* x = window_new(nullptr, 0);
  ASSERT_EQ(0, desktop_layout_apply(e0, x, "W0", &x, 1));
  window_set_instrument(x, xjo);
  // Desktop 1: a chart of its own (weekly bars, an average and an RSI added
  // as the chart panel adds them), a chart on the registered style "Daily",
  // and a terminal with its arguments.
  cstyle* daily = cstyle_new("Daily", 4);
  ASSERT_NE(daily, nullptr);
  desktop* e1 = screen_get_desktop(1);
  std::vector<window*> cs;
  for (int i = 0; i < 3; i++) cs.push_back(window_new(nullptr, 0));
  ASSERT_EQ(0, desktop_layout_apply(e1, cs[0], "W0 W1 H0.500 W2 V0.600", cs.data(), 3));
  window_set_role(cs[0], kRoleChart);
  window_set_instrument(cs[0], rio);
  auto* own = static_cast<nuchart*>(window_get_content(cs[0], kRoleChart));
  nuchart_set_period(own, 6, 1);
  const float sma[3] = {20, kCstyleUnset, kCstyleUnset};
  ASSERT_EQ(0, nuchart_add_overlay(own, 2, sma));
  ASSERT_EQ(0, nuchart_add_indicator(own, 4, nullptr));
  cstyle_apply(nuchart_get_cstyle(own), &own->plot);
  window_set_role(cs[1], kRoleChart);
  window_set_instrument(cs[1], bhp);
  window_set_chart(cs[1], daily);
  window_set_role(cs[2], kRoleTerminal);
  auto* term = static_cast<terminal*>(window_get_content(cs[2], kRoleTerminal));
  terminal_set_kind(term, 0);
  terminal_set_args(term, "-l demo");
  screen_pop();
  screen_set_state(1, 2);
  ASSERT_TRUE(pump_until([] { return screen_window_state(1) == 2; }));
}

TEST(UserConfig, GoldenTextAndRoundTrip) {
  // Built state -> the golden text.
  ASSERT_NO_FATAL_FAILURE(build_state());
  upgrade_add_default_feeds(1);
  const std::string built = saved_text();
  const std::string golden = read_file(data_path("userconfig_v2.txt"));
  if (getenv("AMBIT_WRITE_GOLDEN")) {
    std::ofstream(data_path("userconfig_v2.txt"), std::ios::binary) << built;
  }
  EXPECT_TRUE(same_text(built, golden));

  // Loaded over the same screens: saving gives it back.
  store_framed(golden);
  ASSERT_EQ(0, load_remote_config());
  EXPECT_TRUE(load_remote_done());
  ASSERT_TRUE(pump_until([] { return screen_window_state(1) == 2; }));
  EXPECT_TRUE(same_text(saved_text(), golden));

  // A full save stores it compressed and sends it once with its flag.
  g_sends = 0;
  ASSERT_EQ(0, save_remote_config(1));
  EXPECT_EQ(g_sends, 1);
  EXPECT_EQ(g_last_flag, 1);
  EXPECT_TRUE(same_text(stored_text(), golden));
}

// One screen's text with the given desktop blocks, for the fault cases.
std::string one_screen(const std::string& desktops) {
  return "version 2\nupgrade 1\nscreen 0\nscreen.bounds 40:40:900:700\nscreen.current 0\nscreen.visible t\n"
         "screen.state normal\n" + desktops;
}

std::string window_line(const char* extra) {
  return std::string("screen.desktop.window\nscreen.desktop.window.role depth\n") + extra;
}

TEST(UserConfig, HostileNumbersAreSkippedWithTheirLogs) {
  struct Case {
    const char* what;
    std::string text;
    const char* line;  // logged
    int windows;       // on desktop 0 after the load; -1: as before
  } cases[] = {
      {"parent negative",
       one_screen("screen.desktop 0\n" + window_line("") + window_line("screen.desktop.window.parent -5\n") +
                  "screen.desktop.layout \"W0 W1 H0.500\"\n"),
       nullptr, 2},
      {"parent itself",
       one_screen("screen.desktop 0\n" + window_line("screen.desktop.window.parent 0\n") +
                  "screen.desktop.layout W0\n"),
       "bad parent 0 of window 0", 1},
      {"parent past the list",
       one_screen("screen.desktop 0\n" + window_line("") + window_line("screen.desktop.window.parent 2\n") +
                  "screen.desktop.layout \"W0 W1 H0.500\"\n"),
       "bad parent 2 of window 1", 2},
      {"parent beyond 256",
       one_screen("screen.desktop 0\n" + window_line("") + window_line("screen.desktop.window.parent 300\n") +
                  "screen.desktop.layout \"W0 W1 H0.500\"\n"),
       "bad parent 300 of window 1", 2},
      {"parent cycle",
       one_screen("screen.desktop 0\n" + window_line("screen.desktop.window.parent 1\n") +
                  window_line("screen.desktop.window.parent 0\n") + "screen.desktop.layout \"W0 W1 H0.500\"\n"),
       "bad parent", 2},
      {"desktop past nine", one_screen("screen.desktop 12\n" + window_line("") + "screen.desktop.layout W0\n"),
       "no desktop 12", -1},
      {"desktop negative", one_screen("screen.desktop -1\n" + window_line("") + "screen.desktop.layout W0\n"),
       "no desktop -1", -1},
      {"focused window past the list",
       one_screen("screen.desktop 0\n" + window_line("") + "screen.desktop.current 7\nscreen.desktop.layout W0\n"),
       "no window 7 on desktop 0", 1},
      {"current desktop past nine",
       "version 2\nscreen 0\nscreen.current 40\nscreen.visible t\n", "no current desktop 40", -1},
      {"window of 20000 wide",
       one_screen("screen.desktop 0\n" + window_line("screen.desktop.window.bounds 0:0:20000:300\n") +
                  "screen.desktop.layout W0\n"),
       "ignoring bad bounds 0,0 20000x300", 1},
      {"negative window bounds",
       one_screen("screen.desktop 0\n" + window_line("screen.desktop.window.bounds 5:5:-30:-40\n") +
                  "screen.desktop.layout W0\n"),
       "ignoring bad bounds 5,5 -30x-40", 1},
      {"a fifth screen",
       "version 2\nscreen 0\nscreen.visible t\nscreen 1\nscreen 2\nscreen 3\nscreen 4\n",
       "shouldn't be more than 3 screens", -1},
  };
  for (const Case& c : cases) {
    const size_t before = desktop_windows(screen_get(0)->desktops[0]->child).size();
    LogCapture cap;
    store_plain(c.text);
    ASSERT_EQ(0, load_remote_config()) << c.what;
    EXPECT_TRUE(load_remote_done()) << c.what;
    if (c.line) EXPECT_TRUE(cap.has(c.line)) << c.what;
    screen* s = screen_get(0);
    EXPECT_EQ(int(desktop_windows(s->desktops[0]->child).size()), c.windows < 0 ? int(before) : c.windows)
        << c.what;
    EXPECT_TRUE(screen_is_open(0)) << c.what;
  }
  // The windows that loaded keep their other keys: the 20000-wide one has
  // a zero rectangle before layout and its role.
  store_plain(one_screen("screen.desktop 0\n" + window_line("screen.desktop.window.bounds 0:0:20000:300\n") +
                         "screen.desktop.layout W0\n"));
  ASSERT_EQ(0, load_remote_config());
  std::vector<window*> ws = desktop_windows(screen_get(0)->desktops[0]->child);
  ASSERT_EQ(ws.size(), 1u);
  EXPECT_EQ(window_get_role(ws[0]), kRoleDepth);
}

TEST(UserConfig, MissingDamagedAndVersionlessCopies) {
  // No stored copy: the first configuration on screen 0, loaded, the default
  // feeds of the upgrade step on the signed-on server, and saves go on.
  {
    ssuser_clear_config(nullptr);
    // The exchange's most traded stock by value is the one the windows show.
    ss_exchange* asx = ssmodel_exchange(0);
    ASSERT_NE(asx, nullptr);
    ss_stock* small = ssmodel_find_stock(asx, "FRSA");
    if (!small) small = ssmodel_add_stock(asx, "FRSA");
    ss_stock* big = ssmodel_find_stock(asx, "FRSB");
    if (!big) big = ssmodel_add_stock(asx, "FRSB");
    ASSERT_TRUE(small && big);
    uint64_t top = 0;
    for (int32_t c = 0; const void* rec = chash_sorted_next(&asx->stocks, &c);)
      top = std::max(top, static_cast<const ss_stock*>(rec)->value);
    small->value = top + 1;
    big->value = top + 2;
    upgrade_set_feed_host("127.0.0.1", 8123);
    LogCapture cap;
    const int32_t feeds = rss_feed_count();
    ASSERT_EQ(0, load_remote_config());
    EXPECT_TRUE(cap.has("remote config not found"));
    EXPECT_TRUE(cap.has("first configuration with S:ASX:FRSB"));
    EXPECT_TRUE(load_remote_done());
    EXPECT_FALSE(load_remote_keep_stored());
    EXPECT_TRUE(screen_is_open(0));
    EXPECT_EQ(rss_feed_count(), feeds + 5);
    for (int32_t i = 0; i < 5; i++) {
      const rss_feed* f = rss_feed_find(rss_feed_id_at(rss_feed_count() - 5 + i));
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(std::string(rss_feed_url(f)).rfind("http://127.0.0.1:8123/rss/", 0), 0u) << rss_feed_url(f);
    }
    EXPECT_EQ(upgrade_level(), 1);
    // Desktop 1 of screen 0: the list on the left, the chart above the
    // depth and the course of sales on the right, each following the list.
    screen* s = screen_get(0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->current_desktop, 0);
    std::vector<window*> ws = desktop_windows(s->desktops[0]->child);
    ASSERT_EQ(ws.size(), 4u);
    const uint32_t roles[] = {kRoleWatchlist, kRoleChart, kRoleDepth, kRoleTradelist};
    for (size_t i = 0; i < 4; i++) {
      EXPECT_EQ(window_get_role(ws[i]), roles[i]) << i;
      if (i == 0) continue;
      EXPECT_EQ(window_get_instrument(ws[i]), static_cast<instr*>(big)) << i;
      EXPECT_EQ(window_get_link(ws[i]), ws[0]) << i;
    }
    auto* wl = static_cast<watchlist*>(window_get_content(ws[0], kRoleWatchlist));
    ASSERT_NE(wl, nullptr);
    scan* sc = watchlist_get_scan(wl);
    ASSERT_NE(sc, nullptr);
    EXPECT_GT(sc->id, 0);
    EXPECT_STREQ(sc->name, "Most active");
    EXPECT_STREQ(titlebar_get_text(window_get_titlebar(ws[0])), "Most active") << "the list's name is its title";
    EXPECT_EQ(sc->order, 6u);
    EXPECT_EQ(sc->exchanges[0], 1);
    // Above the desktops: Ticker 1 shows the market's moves, and the watch
    // bar holds one cell that cycles through the smartlist.
    ticker* first_ticker = tickbar_get_ticker(s->tickbar, 0);
    ASSERT_NE(first_ticker, nullptr);
    EXPECT_EQ(ticker_get_show(first_ticker), uint32_t(TICKER_SHOW_SHOW));
    EXPECT_EQ(ticker_get_quote_filter(first_ticker) & 2, 2u);
    EXPECT_EQ(ticker_get_exchange(first_ticker, 2), 1);
    EXPECT_EQ(s->bars & (BAR_TICKBAR | BAR_WATCHBAR), uint32_t(BAR_TICKBAR | BAR_WATCHBAR));
    ASSERT_EQ(watchbar_count(s->watchbar), 1);
    EXPECT_EQ(mini_quote_get_scan(watchbar_cell(s->watchbar, 0)), sc);
    g_sends = 0;
    EXPECT_EQ(0, save_remote_config(0));
    EXPECT_EQ(g_sends, 1);
    EXPECT_EQ(g_last_flag, 0);
    // What is saved is the user's from now on: it holds the four windows.
    const std::string saved = stored_text();
    EXPECT_NE(saved.find("scan 1 \"Most active\"\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("screen.desktop.window.instr S:ASX:FRSB"), std::string::npos);
    EXPECT_NE(saved.find("screen.desktop.layout \"W0 W1 W2 W3 H0.500 V0.550 H0.400 P0,1 P0,2 P0,3\""),
              std::string::npos)
        << saved;
    small->value = big->value = 0;
    upgrade_set_feed_host(nullptr);
  }
  // Copies that can't be used: the user still starts, and the stored copy
  // is neither replaced nor sent this session.
  std::string big(40 * 1000 * 1000, 'a');
  struct Case {
    const char* what;
    std::string stored;
    bool framed;
    const char* line;
  } cases[] = {
      {"not a block", std::string("\x85\x01garbage that does not inflate", 30), false, "can't decompress config"},
      {"no version", "screen 0\nscreen.visible t\n", true, "no version present, aborting parse"},
      {"plain version 0", "version 0\nscreen 0\n", false, "no version present, aborting parse"},
      {"inflates past the cap", big, true, "can't decompress config"},
  };
  for (const Case& c : cases) {
    if (c.framed)
      store_framed(c.stored);
    else
      store_plain(c.stored);
    int32_t before_len = 0;
    char* before = ssuser_get_config(&before_len);
    LogCapture cap;
    ASSERT_EQ(0, load_remote_config()) << c.what;
    EXPECT_TRUE(cap.has(c.line)) << c.what;
    EXPECT_TRUE(load_remote_done()) << c.what;
    EXPECT_TRUE(load_remote_keep_stored()) << c.what;
    EXPECT_TRUE(screen_is_open(0)) << c.what;
    g_sends = 0;
    EXPECT_EQ(0, save_remote_config(1)) << c.what;
    EXPECT_EQ(g_sends, 0) << c.what;
    int32_t after_len = 0;
    char* after = ssuser_get_config(&after_len);
    ASSERT_EQ(before_len, after_len) << c.what;
    EXPECT_EQ(0, memcmp(before, after, size_t(before_len))) << c.what;
    ssuser_clear_config(before);
    ssuser_clear_config(after);
  }
}

TEST(UserConfig, PlainTextAndNosave) {
  // A stored copy that begins "version 2" is read as it is.
  store_plain(one_screen("screen.desktop 0\n" + window_line("") + "screen.desktop.layout W0\n"));
  LogCapture cap;
  ASSERT_EQ(0, load_remote_config());
  EXPECT_TRUE(cap.has("version 2 remote config"));
  EXPECT_FALSE(load_remote_keep_stored());
  // "--nosave": nothing is stored or sent.
  save_remote_enable(0);
  g_sends = 0;
  ssuser_clear_config(nullptr);
  EXPECT_EQ(0, save_remote_config(1));
  EXPECT_TRUE(cap.has("skipping remote save"));
  EXPECT_EQ(g_sends, 0);
  EXPECT_FALSE(ssuser_has_config());
  save_remote_enable(1);
}

TEST(UserConfig, VersionOneMigratesAndReloadsEqual) {
  const std::string v1 = read_file(data_path("userconfig_v1.txt"));
  ASSERT_FALSE(v1.empty());
  store_plain(v1);
  ASSERT_EQ(0, load_remote_config());
  ASSERT_TRUE(pump_until([] { return screen_is_open(0); }));
  screen* s = screen_get(0);
  std::vector<window*> ws = desktop_windows(s->desktops[0]->child);
  ASSERT_EQ(ws.size(), 3u);
  EXPECT_EQ(window_get_role(ws[0]), kRoleDepth);
  const std::string v2 = saved_text();
  EXPECT_EQ(v2.rfind("version 2\n", 0), 0u);
  // The rectangles became a tree: a stacked cut below the full-width top
  // window, the lower pair side by side.
  const int32_t g = splitter_gap() / 2;
  char layout[96];
  snprintf(layout, sizeof layout, "screen.desktop.layout \"W0 W1 W2 H%.3f V%.3f\"\n", (500.0 + g) / 1000.0,
           (300.0 + g) / 700.0);
  EXPECT_NE(v2.find(layout), std::string::npos) << layout;
  // Screen 0 took the first desktop's rectangle (the manager may move it).
  EXPECT_NE(v2.find(":1000:700\nscreen.current 0\n"), std::string::npos);
  store_framed(v2);
  ASSERT_EQ(0, load_remote_config());
  EXPECT_TRUE(same_text(saved_text(), v2));
}

TEST(UserConfig, AutosaveOnTheClock) {
  plat_set_test_clock(test_clock);
  store_plain("version 2\nupgrade 1\nscreen 0\nscreen.visible t\n");
  ssclient_set_online(1);
  g_sends = 0;
  g_activity = 5;
  load_remote_reset();
  // Not loaded: nothing, whatever the deadline.
  config_clear_dirty();
  EXPECT_EQ(0, config_autosave_tick());
  ASSERT_EQ(0, load_remote_config());
  EXPECT_FALSE(config_autosave_pending());  // each load cancels it
  // First check only notes the activity time; a change of it sets now + 300.
  EXPECT_EQ(0, config_autosave_tick());
  EXPECT_FALSE(config_autosave_pending());
  g_activity = 6;
  EXPECT_EQ(0, config_autosave_tick());
  EXPECT_EQ(config_autosave_remaining(), 300);
  g_now_ms += 299 * 1000;
  EXPECT_EQ(0, config_autosave_tick());
  EXPECT_EQ(g_sends, 0);
  g_now_ms += 1000;
  EXPECT_EQ(1, config_autosave_tick());
  EXPECT_EQ(g_sends, 1);
  EXPECT_EQ(g_last_flag, 0);
  EXPECT_FALSE(config_autosave_pending());
  // Offline: no save although due.
  config_clear_dirty();
  ssclient_set_online(0);
  EXPECT_EQ(0, config_autosave_tick());
  EXPECT_EQ(g_sends, 1);
  ssclient_set_online(1);
  // A failed save is tried again a minute later.
  g_fail_send = 1;
  EXPECT_EQ(0, config_autosave_tick());
  EXPECT_EQ(g_sends, 2);
  EXPECT_EQ(config_autosave_remaining(), 60);
  g_fail_send = 0;
  g_now_ms += 60 * 1000;
  EXPECT_EQ(1, config_autosave_tick());
  EXPECT_EQ(g_sends, 3);
  ssclient_set_online(0);
  plat_set_test_clock(nullptr);
}

}  // namespace
