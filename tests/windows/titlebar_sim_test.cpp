// End to end under Xvfb: the simulator's demo scenario with its live market
// on loopback, the client's io thread, and a market window in a real gui
// window. The window, given a stock of the live market, titles itself with
// the name the simulator sent (the exchange's notices); a trading-state
// message for the stock in the exchange's stream brings the state text into
// the title bar; the title bar takes the focused and unfocused colours of
// the style at sample pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>

#include "growbuf.h"
#include "drawstart.h"
#include "guitest.h"
#include "lib/fade.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "sim.h"
#include "sim_live.h"
#include "sim_msg.h"
#include "sim_scenario.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "style.h"
#include "testclient.h"
#include "testsimclient.h"
#include "ui/gui_internal.h"
#include "windows/titlebar.h"
#include "windows/window.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

bool g_focused = false;
bool focus_hook(const window*) { return g_focused; }

constexpr uint8_t kSuspended = 140;  // a trading state the title shows as "SUS"

class TitleSim : public SimClientTest {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ASSERT_TRUE(drawstart_up());
    style_set_size(1);
  }
  static void TearDownTestSuite() {
    drawstart_down();
  }

 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(make_alice_sim(&sim));
    const time_t wall = time(nullptr);
    tm parts;
    localtime_r(&wall, &parts);
    now = sstime_pack(parts.tm_sec, parts.tm_min, parts.tm_hour, parts.tm_mday, parts.tm_mon + 1,
                      parts.tm_year + 1900);
    ASSERT_EQ(0, sim_build_scenario(sim, "demo", now, 50));
    sim_live_options lo;
    lo.index = 0;
    lo.brokers = sim_scenario_has_brokers(0);
    lo.rate = 20;
    lo.stocks = 4;
    live = sim_live_start(sim, lo);
    ASSERT_NE(nullptr, live);
    ASSERT_NO_FATAL_FAILURE(init_test_client());
    ASSERT_NO_FATAL_FAILURE(start_sim_until_online());
    window_set_focus_hook(focus_hook);
    g_focused = false;
  }
  void TearDown() override {
    guitest_window::close_all();
    {
      core_lock lock;
      if (root) widget_delete(root);
    }
    window_set_focus_hook(nullptr);
    stop(10000);
    sim_live_stop(live);
    sim_destroy(sim);
    ssclient_fini();
  }

  // Delivers the model's changes and draws, as the user interface does.
  void redraw() {
    core_lock lock;
    ssclient_deliver();
    widget_redraw(root);
    gw.settle();
  }
  int ink(rect r, uint32_t bg) {
    int n = 0;
    for (uint32_t p : guitest_window_pixels(gw.xw, r))
      if (!guitest_near(p, bg, 12)) n++;
    return n;
  }

  sim_live* live = nullptr;
  ss_time now = 0;
  tw* root = nullptr;
  window* w = nullptr;
  guitest_window gw;
};

TEST_F(TitleSim, ADemoStockShowsItsNameAndItsStateChange) {
  // A stock of the live market whose name has come.
  std::string code, name;
  ASSERT_TRUE(wait_for(
      [&] {
        core_lock lock;
        ssclient_deliver();
        ss_exchange* ex = ssmodel_exchange(0);
        for (uint64_t i = 0; ex && i < ex->stocks.count; i++) {
          const ss_stock* s = static_cast<const ss_stock*>(ex->stocks.sorted[i]);
          if (s->name1 && strcmp(s->name1, s->code) != 0) {
            code = s->code;
            name = s->name1;
            return true;
          }
        }
        return false;
      },
      10000));
  EXPECT_EQ(code + " ", name.substr(0, code.size() + 1)) << "the simulator's made-up name starts with the code";

  {
    core_lock lock;
    ss_stock* stock = ssmodel_find_stock(ssmodel_exchange(0), code.c_str());
    ASSERT_NE(nullptr, stock);
    root = tw_new(nullptr, "root", {0, 0, 360, 200}, 0xff202020u);
    w = window_new(root, 0);
    w->r = {0, 0, 360, 200};
    window_set_role(w, kRoleDepth);
    window_set_instrument(w, stock);
    ASSERT_TRUE(gw.open(root, {60, 60, 360, 200}));
    widget_show_subtree(root);
    container_cls(w)->layout(w);
    w->cls->show_children(w);
  }
  redraw();
  const style* st = style_cur();
  const uint32_t bg = style_colour(st, SC_PANEL) | 0xff000000u;
  titlebar* t = window_get_titlebar(w);
  {
    core_lock lock;
    EXPECT_EQ(name, titlebar_get_text(t));
  }
  ASSERT_GT(t->title_hit.w, 0) << "the title was drawn";
  EXPECT_GT(ink(t->title_hit, bg), 10) << "the name's glyphs light pixels";

  // The stock is suspended by a message of the exchange's stream.
  sim_hdr* h = sim_hdr_create(false);
  growbuf gb;
  ASSERT_EQ(0, growbuf_init(&gb, 64, 64));
  ASSERT_EQ(0, sim_msg_stock_state(&gb, h, now, code.c_str(), kSuspended));
  ASSERT_EQ(0, sim_append(sim, 0, gb.data, gb.len));
  growbuf_free(&gb);
  sim_hdr_destroy(h);
  ASSERT_TRUE(wait_for(
      [&] {
        redraw();
        core_lock lock;
        return strcmp(titlebar_state_text(t), "SUS") == 0;
      },
      10000));
  redraw();
  ASSERT_GT(t->state_hit.w, 0);
  EXPECT_GT(ink(t->state_hit, bg), 5) << "the state text is drawn at the right";
  EXPECT_GT(t->state_hit.x, t->title_hit.x + t->title_hit.w);

  // Unfocused and focused title colours at a point of the bar right of the text.
  const uint32_t focused = style_colour(st, SC_HEADER) | 0xff000000u;
  ASSERT_FALSE(guitest_near(focused, bg)) << "the style tells them apart";
  const int x = t->state_hit.x - 8, y = t->r.h / 2;
  ASSERT_GT(x, t->title_hit.x + t->title_hit.w);
  EXPECT_TRUE(guitest_near(guitest_window_pixel(gw.xw, x, y), bg));
  g_focused = true;
  redraw();
  EXPECT_TRUE(guitest_near(guitest_window_pixel(gw.xw, x, y), focused));
}

}  // namespace
