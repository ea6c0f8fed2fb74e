// User actions on real screens under Xvfb: a table of action ids run on a
// desktop of two windows (what each returns, the roles, panes, bars and
// settings it leaves, how many undo steps it pushed), each row then undone
// step by step back to the state before; the link-split and keep-only
// cases; screen toggling; records of a closed screen; and a seeded property
// test of random actions undone in full.
#include "action.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "charts/cstyle.h"
#include "config/config.h"
#include "guitest.h"
#include "keyboard.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "rss/rss.h"
#include "screen/desktop.h"
#include "screen/screen.h"
#include "ssuser.h"
#include "style.h"
#include "testlog.h"
#include "testmodel.h"
#include "ui/gui.h"
#include "undo.h"
#include "windows/nuchart.h"
#include "windows/watchlist.h"
#include "windows/window.h"

namespace {

ss_stock *g_bhp;
ss_index *g_xjo;
ss_issuer *g_bhp_issuer;
ss_stock *g_nzx_stock;

class ActionEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(guitest_start_window_manager());
    ASSERT_TRUE(guitest_start_gui("action_test"));
    ASSERT_EQ(config_init(), 0);
    ASSERT_EQ(start_terminal_model(), 0);
    ssuser_set(1000, 0, 3);  // ASX and NZX
    ASSERT_EQ(wlist_init(), 0);
    ASSERT_EQ(scan_init(), 0);
    ASSERT_EQ(rss_init(), 0);
    ASSERT_EQ(undo_init(), 0);
    ASSERT_EQ(keyboard_init(), 0);
    ASSERT_EQ(screen_init(), 0);
    ASSERT_EQ(style_init(), 0);
    ASSERT_EQ(style_select(0), 0);
    ASSERT_EQ(style_set_size(1), 1);
    ss_exchange *asx = ssmodel_exchange(0);
    g_bhp = ssmodel_add_stock(asx, "BHP");
    snprintf(g_bhp->issuer, sizeof g_bhp->issuer, "%s", "BHP");
    ssmodel_add_issuer(asx, "BHP");
    g_bhp_issuer = ssmodel_find_issuer(asx, "BHP");
    ASSERT_NE(g_bhp_issuer, nullptr);
    g_xjo = ssmodel_add_index(asx, "XJO");
    g_nzx_stock = ssmodel_add_stock(ssmodel_exchange(1), "AIR");
  }
  void TearDown() override {
    undo_fini();
    screen_shutdown();
    style_fini();
    keyboard_fini();
    rss_shutdown();
    scan_fini();
    wlist_fini();
    config_shutdown();
    gui_shutdown();
  }
};
::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ActionEnv);

bool draw_until(const std::function<bool()> &done) {
  return guitest_wait_for([&] {
    gui_tick();
    return done();
  });
}

// What an action may change, read back for comparison.
struct Snap {
  std::string layout;
  std::vector<window *> windows;
  std::vector<uint32_t> roles;
  std::vector<instr *> instruments;
  std::vector<ss_exchange *> exchanges;
  std::vector<window *> links;
  std::vector<uint32_t> tools;
  int desktop;
  uint32_t bars;
  int size;
  uint32_t flag, hilight, default_exchange;
  int32_t wlists;
  bool operator==(const Snap &o) const {
    return layout == o.layout && windows == o.windows && roles == o.roles &&
           instruments == o.instruments && exchanges == o.exchanges && links == o.links &&
           tools == o.tools && desktop == o.desktop && bars == o.bars && size == o.size &&
           flag == o.flag && hilight == o.hilight && default_exchange == o.default_exchange &&
           wlists == o.wlists;
  }
};

std::string describe(const Snap &s) {
  std::string t = s.layout;
  for (size_t i = 0; i < s.windows.size(); i++) {
    int link = -1;
    for (size_t k = 0; k < s.windows.size(); k++)
      if (s.links[i] == s.windows[k]) link = int(k);
    t += " [" + std::to_string(s.roles[i]) + " " + (s.instruments[i] ? s.instruments[i]->code : "-") + "/" + std::to_string(s.instruments[i] ? int(s.instruments[i]->kind) : 0) +
         " ex" + std::to_string(s.exchanges[i] ? int(s.exchanges[i]->index) : -1) + " link" +
         std::to_string(link) + " tools" + std::to_string(s.tools[i]) + "]";
  }
  t += " desktop " + std::to_string(s.desktop) + " bars " + std::to_string(s.bars) + " size " +
       std::to_string(s.size) + " flag " + std::to_string(s.flag) + " default " +
       std::to_string(s.default_exchange) + " wlists " + std::to_string(s.wlists);
  return t;
}

Snap snap() {
  Snap s;
  desktop *d = screen_current_desktop();
  s.layout = desktop_layout_text(d);
  s.windows = desktop_windows(d->child);
  for (window *w : s.windows) {
    s.roles.push_back(w->role);
    s.instruments.push_back(w->instrument);
    s.exchanges.push_back(w->exchange);
    s.links.push_back(w->link);
    s.tools.push_back(w->show_tools);
  }
  s.desktop = screen_desktop_index();
  s.bars = screen_bars_shown();
  s.size = style_size();
  s.flag = action_action_flag();
  s.hilight = action_hilight_watched();
  s.default_exchange = action_default_exchange();
  s.wlists = wlist_total();
  return s;
}

// Undoes every step in the ring; the number of steps.
int undo_all() {
  int steps = 0;
  while (undo_can_undo() && steps < 2000) {
    undo_perform();
    steps++;
  }
  return steps;
}

class Actions : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!screen_is_open(0)) ASSERT_EQ(screen_open(0), 0);
    screen_select(0);
    ASSERT_TRUE(draw_until([] { return screens_up() && !screen_relayout_pending(); }));
    screen_switch_desktop(0);
    reset({kRoleDepth, kRoleWatchlist}, {g_bhp, nullptr});
  }
  void TearDown() override {
    undo_fini();
    ASSERT_EQ(undo_init(), 0);
    keyboard_deactivate();
  }
  // Desktop 0 of screen 0 holds two windows side by side, the first focused.
  void reset(std::vector<uint32_t> roles, std::vector<instr *> ins) {
    desktop *d = screen_current_desktop();
    std::vector<window *> ws;
    for (size_t i = 0; i < roles.size(); i++) {
      window *w = window_new(nullptr, 0);
      window_set_exchange(w, ssmodel_exchange(0), 0);
      window_set_role(w, roles[i]);
      if (ins[i]) window_set_instrument(w, ins[i]);
      ws.push_back(w);
    }
    const char *text = roles.size() == 1 ? "W0" : "W0 W1 H0.500";
    ASSERT_EQ(desktop_layout_apply(d, ws[0], text, ws.data(), int(ws.size())), 0);
    desktop_set_focus(d, ws[0]);
    undo_fini();
    ASSERT_EQ(undo_init(), 0);
    w0 = ws[0];
    w1 = ws.size() > 1 ? ws[1] : nullptr;
  }
  window *w0 = nullptr, *w1 = nullptr;
};

TEST_F(Actions, TableOfIdsUndoneBackToTheStart) {
  struct Row {
    const char *name;
    std::vector<uint32_t> roles;
    std::vector<instr *> ins;
    bool null_window;
    int32_t id;
    int rc;
    int panes;                            // windows on the desktop after
    std::vector<uint32_t> roles_after;    // by map order; empty: not checked
    int steps;                            // undo steps pushed
    std::function<bool(const Snap &before, const Snap &after)> check;
  };
  auto none = [](const Snap &, const Snap &) { return true; };
  // The first window's watchlist content shows a scan of that name, with
  // those instrument and change filters, order and direction.
  auto shows = [](std::string name, uint32_t instr, uint32_t change, uint32_t order, int reversed) {
    return [=](const Snap &, const Snap &a) {
      auto *c = static_cast<watchlist *>(a.windows[0]->child[kWinWatchlist]);
      scan *s = watchlist_get_scan(c);
      return s && name == s->name && s->instr_filter == instr && s->change_filter == change &&
             s->order == order && s->reversed == reversed;
    };
  };
  const std::vector<Row> rows = {
      {"remove does nothing", {2, 1}, {g_bhp, nullptr}, false, 0, 0, 2, {2, 1}, 0, none},
      {"15 does nothing", {2, 1}, {g_bhp, nullptr}, false, 15, 0, 2, {2, 1}, 0, none},
      {"unknown id", {2, 1}, {g_bhp, nullptr}, false, 27, -1, 2, {2, 1}, 0, none},
      {"empty speed pad slot", {2, 1}, {g_bhp, nullptr}, false, 91, -1, 2, {2, 1}, 0, none},
      {"trades everywhere skips the list window", {2, 1}, {g_bhp, nullptr}, true, 4, 1, 2, {13, 1}, 1, none},
      {"trades in the focused window", {2, 1}, {g_bhp, nullptr}, false, 4, 1, 2, {13, 1}, 1, none},
      {"trades again: nothing changes", {13, 1}, {g_bhp, nullptr}, false, 4, 0, 2, {13, 1}, 0, none},
      {"event list", {2, 1}, {g_bhp, nullptr}, false, 5, 1, 2, {4, 1}, 1, none},
      {"historical news", {2, 1}, {g_bhp, nullptr}, false, 7, 1, 2, {5, 1}, 1, none},
      {"depth from trades", {13, 1}, {g_bhp, nullptr}, false, 3, 1, 2, {2, 1}, 1, none},
      {"depth mode 1 everywhere", {13, 5}, {g_bhp, g_bhp}, true, 54, 1, 2, {2, 2}, 1, none},
      {"profile of a stock shows its issuer", {2, 1}, {g_bhp, nullptr}, false, 2, 1, 2, {11, 1}, 1,
       [](const Snap &, const Snap &a) { return a.instruments[0] == g_bhp_issuer; }},
      {"profile of an index: nothing", {6, 1}, {g_xjo, nullptr}, false, 2, 0, 2, {6, 1}, 0, none},
      {"announcements", {2, 1}, {g_bhp, nullptr}, false, 9, 1, 2, {8, 1}, 1, none},
      {"index list", {2, 1}, {g_bhp, nullptr}, false, 14, 1, 2, {7, 1}, 1, none},
      {"index list again: nothing", {7, 1}, {nullptr, nullptr}, false, 14, 0, 2, {7, 1}, 0, none},
      {"preset rises", {2, 1}, {g_bhp, nullptr}, false, 10, 1, 2, {1, 1}, 1, shows("Top Rises", 1, 1, 3, 0)},
      {"preset falls", {2, 1}, {g_bhp, nullptr}, false, 11, 1, 2, {1, 1}, 1, shows("Top Falls", 1, 2, 3, 1)},
      {"preset volume", {2, 1}, {g_bhp, nullptr}, false, 12, 1, 2, {1, 1}, 1, shows("Top Volume", 3, 0, 5, 0)},
      {"preset turnover", {2, 1}, {g_bhp, nullptr}, false, 13, 1, 2, {1, 1}, 1, shows("Top Turnover", 3, 0, 6, 0)},
      {"chart role keeps the style", {2, 1}, {g_bhp, nullptr}, false, 30000000, 1, 2, {12, 1}, 1, none},
      {"option list answers 0", {2, 1}, {g_bhp, nullptr}, false, 80, 0, 2, {19, 1}, 1, none},
      {"forex list answers 0", {2, 1}, {g_bhp, nullptr}, false, 81, 0, 2, {18, 1}, 1, none},
      {"alerts answer 0", {2, 1}, {g_bhp, nullptr}, false, 140, 0, 2, {25, 1}, 1, none},
      {"google", {2, 1}, {g_bhp, nullptr}, false, 82, 0, 2, {20, 1}, 1, none},
      {"action flag", {2, 1}, {g_bhp, nullptr}, false, 8, 1, 2, {2, 1}, 1,
       [](const Snap &b, const Snap &a) { return a.flag != b.flag; }},
      {"exchange 1 for the window", {2, 1}, {g_bhp, nullptr}, false, 17, 1, 2, {2, 1}, 1,
       [](const Snap &, const Snap &a) { return a.exchanges[0] == ssmodel_exchange(1); }},
      {"exchange 1 by default", {2, 1}, {g_bhp, nullptr}, true, 17, 1, 2, {2, 1}, 1,
       [](const Snap &, const Snap &a) {
         return a.default_exchange == 1 && a.exchanges[0] == ssmodel_exchange(1);
       }},
      {"swap exchange", {2, 1}, {g_bhp, nullptr}, false, 18, 1, 2, {2, 1}, 1,
       [](const Snap &, const Snap &a) { return a.exchanges[0] == ssmodel_exchange(1); }},
      {"split 2 x 1", {2, 1}, {g_bhp, nullptr}, false, 19, 1, 3, {}, 1, none},
      {"split 2 x 2", {2, 1}, {g_bhp, nullptr}, false, 21, 1, 5, {}, 1, none},
      {"split 3 x 3", {2, 1}, {g_bhp, nullptr}, false, 28, 1, 10, {}, 1, none},
      {"three panes from depth", {2}, {g_bhp}, false, 22, 1, 3, {2, 13, 12}, 1, none},
      {"three panes from a list", {1}, {nullptr}, false, 22, 1, 3, {1, 1, 2}, 1, none},
      {"linked split", {2, 1}, {g_bhp, nullptr}, false, 83, 1, 3, {}, 1,
       [](const Snap &, const Snap &a) {
         int linked = 0;
         for (window *l : a.links) linked += l == a.windows[0];
         return linked == 1;
       }},
      {"keep only the focused", {2, 1}, {g_bhp, nullptr}, false, 29, 0, 1, {2}, 1, none},
      {"keep only the one: cleared", {2}, {g_bhp}, false, 29, 0, 1, {0}, 1,
       [](const Snap &, const Snap &a) { return a.instruments[0] == nullptr; }},
      {"snap", {2, 1}, {g_bhp, nullptr}, false, 30, 0, 2, {2, 1}, 1, none},
      {"previous desktop", {2, 1}, {g_bhp, nullptr}, false, 35, 1, -1, {}, 1,
       [](const Snap &, const Snap &a) { return a.desktop == 9; }},
      {"next desktop", {2, 1}, {g_bhp, nullptr}, false, 36, 1, -1, {}, 1,
       [](const Snap &, const Snap &a) { return a.desktop == 1; }},
      {"minibar", {2, 1}, {g_bhp, nullptr}, false, 37, 1, 2, {2, 1}, 1,
       [](const Snap &b, const Snap &a) { return (a.bars ^ b.bars) == BAR_MINIBAR; }},
      {"watchbar", {2, 1}, {g_bhp, nullptr}, false, 39, 1, 2, {2, 1}, 1,
       [](const Snap &b, const Snap &a) { return (a.bars ^ b.bars) == BAR_WATCHBAR; }},
      {"left toolbar", {2, 1}, {g_bhp, nullptr}, false, 41, 1, 2, {2, 1}, 1,
       [](const Snap &b, const Snap &a) { return (a.bars ^ b.bars) == BAR_TOOLBAR0; }},
      {"right toolbar", {2, 1}, {g_bhp, nullptr}, false, 42, 1, 2, {2, 1}, 1,
       [](const Snap &b, const Snap &a) { return (a.bars ^ b.bars) == BAR_TOOLBAR1; }},
      {"ticker", {2, 1}, {g_bhp, nullptr}, false, 38, 1, 2, {2, 1}, 1,
       [](const Snap &b, const Snap &a) { return (a.bars ^ b.bars) == BAR_TICKBAR; }},
      {"tools", {2, 1}, {g_bhp, nullptr}, false, 48, 0, 2, {2, 1}, 1,
       [](const Snap &b, const Snap &a) { return a.tools[0] != b.tools[0]; }},
      {"zoom", {2, 1}, {g_bhp, nullptr}, false, 49, 0, 2, {2, 1}, 1,
       [](const Snap &, const Snap &a) { return (a.bars & BAR_ZOOM) != 0; }},
      {"size 4", {2, 1}, {g_bhp, nullptr}, false, 114, 0, 2, {2, 1}, 1,
       [](const Snap &, const Snap &a) { return a.size == 4; }},
      {"new watchlist", {2, 1}, {g_bhp, nullptr}, false, 51, 1, 2, {1, 1}, 1,
       [](const Snap &b, const Snap &a) { return a.wlists == b.wlists + 1; }},
      {"new feed", {2, 1}, {g_bhp, nullptr}, false, 50, 1, 2, {10, 1}, 1, none},
      {"new smartlist", {2, 1}, {g_bhp, nullptr}, false, 52, 1, 2, {1, 1}, 1, none},
      {"new chart style", {2, 1}, {g_bhp, nullptr}, false, 53, 1, 2, {12, 1}, 1, none},
      {"watchlist 99 is missing", {2, 1}, {g_bhp, nullptr}, false, 10000099, -1, 2, {2, 1}, 0, none},
      {"feed 99 is missing", {2, 1}, {g_bhp, nullptr}, false, 40000099, -1, 2, {2, 1}, 0, none},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    reset(r.roles, r.ins);
    const Snap before = snap();
    const int rc = action_perform(r.null_window ? nullptr : w0, r.id);
    EXPECT_EQ(rc, r.rc);
    const Snap after = snap();
    if (r.panes >= 0) EXPECT_EQ(int(after.windows.size()), r.panes) << after.layout;
    if (!r.roles_after.empty()) EXPECT_EQ(after.roles, r.roles_after);
    EXPECT_TRUE(r.check(before, after)) << describe(before) << " -> " << describe(after);
    EXPECT_EQ(undo_all(), r.steps);
    const Snap back = snap();
    EXPECT_TRUE(back == before) << describe(before) << " / " << describe(back) << " w"
                                << (back.windows == before.windows) << " i"
                                << (back.instruments == before.instruments) << " e"
                                << (back.exchanges == before.exchanges);
    screen_switch_desktop(0);
  }
}

cstyle *chart_style(window *w) { return window_get_chart(w); }
nuchart *chart_widget(window *w) { return nuchart_cast(window_get_content(w, kRoleChart)); }

TEST_F(Actions, ChartStylesReachTheWindowsChart) {
  cstyle *weekly = cstyle_new("Action Weekly", 0);
  ASSERT_NE(weekly, nullptr);
  weekly->period = 6;
  weekly->type = 3;
  const int32_t id = cstyle_get_id(weekly);

  // A list entry: the window's chart watches the registered style itself.
  EXPECT_EQ(action_perform(w0, kActionChartStyle + id), 1);
  EXPECT_EQ(w0->role, uint32_t(kRoleChart));
  EXPECT_EQ(chart_style(w0), weekly);
  EXPECT_EQ(chart_widget(w0)->plot.period, 6);
  EXPECT_EQ(chart_widget(w0)->plot.type, 3);
  EXPECT_EQ(action_last_chart_style(), id);

  // The chart key: a copy of the last style, the window's own.
  EXPECT_EQ(action_show_chart_style(w1, -1), 1);
  EXPECT_EQ(w1->role, uint32_t(kRoleChart));
  ASSERT_NE(chart_style(w1), nullptr);
  EXPECT_NE(chart_style(w1), weekly);
  EXPECT_EQ(cstyle_get_id(chart_style(w1)), 0);
  EXPECT_EQ(chart_widget(w1)->plot.period, 6);

  // A missing entry changes nothing and leaves no step.
  const uint32_t steps = undo_count();
  EXPECT_EQ(action_show_chart_style(w1, id + 1000), 0);
  EXPECT_EQ(undo_count(), steps);

  // Undone: the first window's chart has its settings from before again.
  undo_perform();
  undo_perform();
  EXPECT_EQ(w0->role, uint32_t(kRoleDepth));
  EXPECT_NE(chart_style(w0), weekly);
  EXPECT_NE(chart_widget(w0)->plot.period, 6);
  EXPECT_EQ(cstyle_get_id(chart_style(w0)), 0) << "a style of its own again";
  // The registered style keeps its own settings: the undo did not write the
  // window's old ones into it.
  EXPECT_EQ(weekly->period, 6);
  EXPECT_EQ(weekly->type, 3);

  // "New" under Charts: a new registered style in the list, shown with its
  // panel; undone, it leaves the list.
  const int32_t count = cstyle_count();
  EXPECT_EQ(action_perform(w1, 53), 1);
  cstyle *made = chart_style(w1);
  ASSERT_NE(made, nullptr);
  EXPECT_GT(cstyle_get_id(made), 0);
  EXPECT_EQ(cstyle_count(), count + 1);
  EXPECT_EQ(cstyle_find(cstyle_get_id(made)), made);
  EXPECT_TRUE(window_get_show_tools(w1));
  undo_perform();
  EXPECT_EQ(cstyle_count(), count);
  cstyle_delete(weekly);
}

TEST_F(Actions, RoleThreeOnAnIndexBecomesSix) {
  reset({kRoleDepth, kRoleDepth}, {g_xjo, g_bhp});
  EXPECT_EQ(action_set_window_role(nullptr, kRoleTradechart), 1);
  EXPECT_EQ(w0->role, uint32_t(kRoleIndexchart));
  EXPECT_EQ(w1->role, uint32_t(kRoleTradechart));
}

TEST_F(Actions, LinkSplitOfAnUnknownKindLeavesNoStep) {
  EXPECT_EQ(action_link_split(w0, 27, 0), 0);
  EXPECT_FALSE(undo_can_undo());
  EXPECT_EQ(desktop_layout_text(screen_current_desktop()), "W0 W1 H0.500");
}

TEST_F(Actions, LinkedSplitOfAWindowWithoutSubjectSplitsUnlinked) {
  reset({kRoleWatchlist, kRoleWatchlist}, {nullptr, nullptr});
  LogCapture log;
  EXPECT_EQ(action_perform(w0, 84), 1);
  EXPECT_TRUE(log.has("won't link-split a window with no subject"));
  for (window *w : desktop_windows(screen_current_desktop()->child)) EXPECT_EQ(w->link, nullptr);
}

TEST_F(Actions, UndoPutsBackTheWindowsALinkReached) {
  reset({kRoleTradelist}, {g_bhp});
  ASSERT_EQ(action_link_split(w0, 20, 1), 1);
  window *pane = desktop_windows(screen_current_desktop()->child)[1];
  ASSERT_EQ(pane->link, w0);
  undo_fini();
  ASSERT_EQ(undo_init(), 0);
  const Snap before = snap();
  // An index typed into the follower reaches the source, which changes role.
  action_set_instrument(pane, reinterpret_cast<instr *>(g_xjo));
  EXPECT_EQ(w0->instrument, reinterpret_cast<instr *>(g_xjo));
  EXPECT_NE(w0->role, uint32_t(kRoleTradelist));
  EXPECT_EQ(undo_perform(), 0);
  const Snap back = snap();
  EXPECT_TRUE(back == before) << describe(before) << " / " << describe(back);
}

TEST_F(Actions, EveryMoveOfTheRingAsksForAToolbarRefresh) {
  ASSERT_TRUE(draw_until([] { return !screen_toolbar_refresh_pending(); }));
  EXPECT_EQ(action_perform(w0, 4), 1);
  EXPECT_TRUE(screen_toolbar_refresh_pending());
  ASSERT_TRUE(draw_until([] { return !screen_toolbar_refresh_pending(); }));
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_TRUE(screen_toolbar_refresh_pending());
}

TEST_F(Actions, PrevAndNextAreUndoneToTheDesktopBefore) {
  screen_switch_desktop(4);
  undo_fini();
  ASSERT_EQ(undo_init(), 0);
  EXPECT_EQ(action_perform(nullptr, 36), 1);
  EXPECT_EQ(action_perform(nullptr, 36), 1);
  EXPECT_EQ(screen_desktop_index(), 6);
  EXPECT_EQ(undo_type_at(0), UNDO_SCREEN_BARS);
  undo_perform();
  EXPECT_EQ(screen_desktop_index(), 5);
  undo_perform();
  EXPECT_EQ(screen_desktop_index(), 4);
}

TEST_F(Actions, NeitherToolbarShownIsUndoneToNeither) {
  screen_hide_bars(BAR_TOOLBAR0 | BAR_TOOLBAR1);
  EXPECT_EQ(action_perform(nullptr, 41), 1);
  EXPECT_EQ(screen_bars_shown() & 0x180u, uint32_t(BAR_TOOLBAR0));
  undo_perform();
  EXPECT_EQ(screen_bars_shown() & 0x180u, 0u);
  screen_show_bars(BAR_TOOLBAR0 | BAR_TOOLBAR1);
}

TEST_F(Actions, UndoButtonWithNothingToUndo) {
  EXPECT_EQ(action_perform(nullptr, 43), 0);
  action_perform(w0, 4);
  EXPECT_EQ(action_perform(nullptr, 43), 0);  // undo_perform's result
  EXPECT_EQ(w0->role, uint32_t(kRoleDepth));
}

TEST_F(Actions, ScreenButtonClosesAndOpens) {
  ASSERT_EQ(screen_open(1), 0);
  ASSERT_TRUE(draw_until([] { return !screen_relayout_pending(); }));
  ASSERT_EQ(screen_window_state(1), 0);
  screen_select(0);  // opening made screen 1 current
  EXPECT_EQ(action_perform(nullptr, 61), 1);  // "2": open in its normal state -> closed
  EXPECT_FALSE(screen_is_open(1));
  EXPECT_EQ(screen_current_index(), 0);
  EXPECT_EQ(action_perform(nullptr, 61), 1);  // again: opened
  EXPECT_TRUE(screen_is_open(1));
  // Both steps undone: closed again, then open (the close is undone
  // although its screen had closed).
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_FALSE(screen_is_open(1));
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_TRUE(screen_is_open(1));
  EXPECT_EQ(screen_current_index(), 0);
  screen_close(1);
}

TEST_F(Actions, TheOnlyOpenScreenIsNotClosed) {
  for (int n = 1; n < kScreens; n++)
    if (screen_is_open(n)) screen_close(n);
  EXPECT_EQ(action_perform(nullptr, 60), 0);
  EXPECT_TRUE(screen_is_open(0));
  EXPECT_TRUE(screen_configbox_shown());
  screen_hide_configbox();
}

TEST_F(Actions, ARecordOfAClosedScreenIsDroppedAndItsGroupGoesOn) {
  ASSERT_EQ(screen_open(2), 0);
  ASSERT_TRUE(draw_until([] { return !screen_relayout_pending(); }));
  const int minibar_before = screen_bars_shown() & BAR_MINIBAR;
  undo_begin();
  action_perform(nullptr, 37);  // screen 0's minibar
  screen_select(2);
  action_perform(nullptr, 39);  // screen 2's watchbar
  screen_select(0);
  action_perform(w0, 4);
  undo_end();
  action_perform(nullptr, 8);  // a single step after the group
  screen_close(2);
  // The newest step is undone as usual.
  EXPECT_EQ(undo_perform(), 0);
  // The group's screen-2 record is dropped (-1) and the others restored.
  EXPECT_EQ(undo_perform(), -1);
  EXPECT_EQ(int(screen_bars_shown() & BAR_MINIBAR), minibar_before);
  EXPECT_EQ(w0->role, uint32_t(kRoleDepth));
  EXPECT_FALSE(undo_can_undo());
}

// Both screens as they stand: whether screen 1 is open, and each open
// screen's current desktop, bars and settings.
struct Both {
  bool open1;
  Snap s0, s1;
  bool operator==(const Both &o) const {
    return open1 == o.open1 && s0 == o.s0 && (!open1 || s1 == o.s1);
  }
};

Both snap_both() {
  const int cur = screen_current_index();
  Both b;
  b.open1 = screen_is_open(1);
  screen_select(0);
  b.s0 = snap();
  if (b.open1) {
    screen_select(1);
    b.s1 = snap();
  }
  screen_select(cur);
  return b;
}

TEST_F(Actions, SeededRandomActionsUndoneInFull) {
  std::mt19937 rng(20261210);
  const int32_t ids[] = {2,  3,  4,  5,  7,  8,  9,  14, 16, 17, 18, 19, 20, 21, 22, 23, 24, 29,
                         30, 35, 36, 37, 39, 41, 42, 48, 51, 53, 54, 80, 81, 83, 84, 110, 113, 140};
  // Screen 1 open with two windows of its own.
  if (!screen_is_open(1)) ASSERT_EQ(screen_open(1), 0);
  ASSERT_TRUE(draw_until([] { return !screen_relayout_pending(); }));
  screen_select(1);
  screen_switch_desktop(0);
  reset({kRoleTradelist, kRoleHistnews}, {g_nzx_stock, g_bhp});
  for (int round = 0; round < 8; round++) {
    SCOPED_TRACE(round);
    screen_select(0);
    reset({kRoleDepth, kRoleWatchlist}, {g_bhp, nullptr});
    const Both start = snap_both();
    for (int step = 0; step < 40; step++) {
      const int op = int(rng() % 12);
      desktop *d = screen_current_desktop();
      std::vector<window *> ws = d ? desktop_windows(d->child) : std::vector<window *>{};
      window *w = ws.empty() ? nullptr : ws[rng() % ws.size()];
      if (op < 6) {
        if (w && rng() % 2) desktop_set_focus(d, w);
        action_perform(rng() % 4 ? w : nullptr, ids[rng() % (sizeof ids / sizeof ids[0])]);
      } else if (op == 6 && w) {
        instr *pick[] = {g_bhp, g_xjo, g_nzx_stock, nullptr};
        action_set_instrument(w, pick[rng() % 4]);
      } else if (op == 7) {
        // A watchlist deleted by the user: recorded, then taken out.
        if (wlist *wl = wlist_iter_begin()) {
          undo_push_wlist_deleted(wl);
          wlist_unlink(wl);
        }
      } else if (op == 8) {
        action_switch_desktop(int(rng() % 3));
      } else if (op == 9) {
        action_toggle_bars(rng() % 2 ? BAR_WATCHBAR : BAR_MINIBAR);
      } else if (op == 10) {
        action_toggle_screen(1);  // the "2" button: screen 1 closed or opened
        // Closed, it can't be the one the user works on.
        if (!screen_is_open(1)) screen_select(0);
      } else {
        // The user moves to the other screen (not a change undo keeps).
        const int n = screen_current_index() == 0 && screen_is_open(1) ? 1 : 0;
        screen_select(n);
      }
    }
    undo_all();
    screen_select(0);
    const Both back = snap_both();
    EXPECT_TRUE(back == start) << describe(start.s0) << " / " << describe(back.s0) << "; screen 1 "
                               << start.open1 << " " << describe(start.s1) << " / " << back.open1 << " "
                               << describe(back.s1);
  }
  screen_select(0);
  screen_close(1);
}

}  // namespace
