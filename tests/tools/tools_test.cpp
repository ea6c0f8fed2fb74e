// The tool-panel base class: the deferred refresh (one per redraw, none
// once hidden, none after deletion), the relayout guard, the linked change
// over a desktop's watchlist windows with its one undo step, forgetting a
// closed window, the release buttons, the title, and the typed-decimal
// reader every panel's amount fields use.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "testlog.h"
#include "toolstest.h"
#include "lib/glrecord.h"
#include "ui/flyaway.h"
#include "ui/sizer.h"
#include "style.h"
#include "windows/titlebar.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

// A panel class of the tests: counts its refreshes; one of them may lay the
// panel out again from inside its refresh.
struct probe_panel : tools {
  int refreshes;
  int reenter;
};

void pp_refresh(tools *self) {
  auto *p = static_cast<probe_panel *>(self);
  p->refreshes++;
  if (p->reenter) self->cls->geometry_changed(self);
}
widget *pp_build(tools *) { return vbox_new(nullptr, 0, 0); }
const char *pp_summary(tools *) { return "PROBE"; }
void pp_class_init(object_class *rec) {
  auto *c = static_cast<tools_class_rec *>(rec);
  c->refresh = pp_refresh;
  c->build = pp_build;
  c->summary = pp_summary;
}
typeid_t probe_panel_type() {
  return object_register_class("probe_panel", tools_class(), sizeof(probe_panel), nullptr, nullptr,
                               sizeof(tools_class_rec), pp_class_init, nullptr);
}

class ToolsBase : public Panels {
 protected:
  probe_panel *make_probe(widget *parent) {
    auto *p = static_cast<probe_panel *>(widget_new(parent, probe_panel_type()));
    tools_setup(p, 8, nullptr);
    return p;
  }
};

TEST_F(ToolsBase, SetupBuildsATransparentPaddedSizerAroundTheBuild) {
  probe_panel *p = make_probe(root);
  ASSERT_NE(p->child, nullptr);
  auto *sz = static_cast<sizer *>(p->child);
  EXPECT_TRUE(object_is_a(widget_obj(sz), sizer_type()));
  EXPECT_TRUE(static_cast<widget *>(sz)->flags & WIDGET_TRANSPARENT);
  EXPECT_EQ(sz->flags, 8u) << "the panel's sizer flags";
  EXPECT_EQ(sz->pad.top, 3);
  EXPECT_EQ(sz->pad.left, 2);
  EXPECT_EQ(sz->pad.bottom, 2);
  EXPECT_EQ(sz->pad.right, 2);
  ASSERT_NE(sz->child, nullptr);
  EXPECT_TRUE(object_is_a(widget_obj(sz->child), vbox_type()));
  EXPECT_TRUE(p->flags & WIDGET_KEEP_POINTER);
  EXPECT_STREQ(tools_summary(p), "PROBE");
  EXPECT_EQ(pending_after(), 1) << "setup posts one deferred refresh";
}

TEST_F(ToolsBase, DeferredRefreshTable) {
  struct row {
    const char *name;
    int requests;
    bool shown;
    bool hide_before;
    int want;
  } rows[] = {
      {"two requests before one redraw give one refresh", 2, true, false, 1},
      {"one request", 1, true, false, 1},
      {"a hidden panel is not refreshed", 2, false, false, 0},
      {"hidden before the redraw: cancelled", 2, true, true, 0},
  };
  for (const row &r : rows) {
    probe_panel *p = make_probe(root);
    p->r = {0, 0, 200, 40};
    if (r.shown) widget_show(p);
    redraw_passes();  // the setup's own request
    p->refreshes = 0;
    for (int i = 0; i < r.requests; i++) tools_refresh_later(p);
    EXPECT_EQ(pending_after(), 1) << r.name;
    if (r.hide_before) {
      widget_hide(p);
      EXPECT_EQ(pending_after(), 0) << r.name;
    }
    redraw_passes();
    EXPECT_EQ(p->refreshes, r.want) << r.name;
    container_cls(root)->remove(root, p);
    widget_delete(p);
  }
}

TEST_F(ToolsBase, DeletedWhilePendingIsNeverCalledBack) {
  probe_panel *p = make_probe(root);
  widget_show(p);
  tools_refresh_later(p);
  EXPECT_EQ(pending_after(), 1);
  container_cls(root)->remove(root, p);
  widget_delete(p);
  EXPECT_EQ(pending_after(), 0);
  redraw_passes();  // under ASan a call on the freed panel would fail here
}

TEST_F(ToolsBase, RelayoutRefreshesOnceEvenWhenTheRefreshRelaysOut) {
  probe_panel *p = make_probe(root);
  p->r = {0, 0, 200, 40};
  widget_show(p);
  for (int reenter : {0, 1}) {
    p->refreshes = 0;
    p->reenter = reenter;
    p->cls->geometry_changed(p);
    EXPECT_EQ(p->refreshes, 1) << "reenter " << reenter;
  }
  widget_hide(p);
  p->refreshes = 0;
  p->cls->geometry_changed(p);
  EXPECT_EQ(p->refreshes, 0) << "a hidden panel is not refreshed by relayout";
}

TEST_F(ToolsBase, AnyOtherParentIsLoggedByName) {
  probe_panel *p = make_probe(root);
  widget_show(p);
  p->refreshes = 0;
  LogCapture log;
  redraw_passes();
  EXPECT_TRUE(log.has("not expecting vbox")) << log.lines().size();
  EXPECT_EQ(p->refreshes, 1) << "the refresh itself still runs";
}

TEST_F(ToolsBase, ReleaseButtonTwoHidesTheWindowsPanel) {
  window *w = window_new(root, 0);
  w->r = {0, 0, 400, 300};
  window_set_role(w, kRoleWatchlist);
  widget *panel = window_get_tools(w, kRoleWatchlist);
  ASSERT_TRUE(scantools_is(panel));
  w->show_tools = 1;
  panel->cls->release(panel, 5, 5, 1);
  EXPECT_EQ(w->show_tools, 1u) << "button 1 does not hide";
  panel->cls->release(panel, 5, 5, 2);
  EXPECT_EQ(w->show_tools, 0u);
  w->show_tools = 1;
  tools_hide_panel(panel);  // the scan panel's id 31
  EXPECT_EQ(w->show_tools, 0u);
  probe_panel *loose = make_probe(root);
  LogCapture log;
  tools_hide_panel(loose);
  EXPECT_TRUE(log.has("not expecting vbox"));
}

TEST_F(ToolsBase, TheTitleCaptionIsThePanelsSummary) {
  window *w = window_new(root, 0);
  w->r = {0, 0, 400, 300};
  window_set_role(w, kRoleWatchlist);
  scan *s = scan_create("Movers", 0);
  scan_set_order(s, 5);
  watchlist_set_scan(list_of(w), s);
  window_update_title(w);
  titlebar *t = window_get_titlebar(w);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(std::string(t->caption), std::string(tools_summary(window_get_tools(w, kRoleWatchlist))));
  EXPECT_NE(std::string(t->caption).find("BY VOLUME"), std::string::npos) << t->caption;
  watchlist_set_scan(list_of(w), nullptr);
  scan_delete(s);
}

TEST_F(ToolsBase, RestyleGivesEveryControlTheStylesLook) {
  window *w = window_new(root, 0);
  w->r = {0, 0, 900, 300};
  window_set_role(w, kRoleWatchlist);
  auto *p = static_cast<scantools *>(window_get_tools(w, kRoleWatchlist));
  ASSERT_TRUE(scantools_is(p));
  // Spoil the looks, then restyle.
  button *b = scantools_button(p, 27);
  button_set_image(b, nullptr);
  flyaway *f = p->section[SCANTOOLS_ORDER];
  flyaway_set_font(f, -7);
  container_set_bg(p->box, 0x12345678u);
  container_set_bg(p, 0);
  p->cls->restyle(p);
  const style *st = style_cur();
  EXPECT_EQ(b->colours, style_button_colours());
  EXPECT_EQ(f->font, st->font[0]);
  EXPECT_EQ(f->base_bg | 0xff000000u, style_colour(st, SC_PANEL_LIGHT) | 0xff000000u);
  EXPECT_EQ(container_get_bg(p->box), style_colour(st, SC_PANEL) | 0xff000000u);
  EXPECT_EQ(container_get_bg(p), style_colour(st, SC_PANEL) | 0xff000000u);
}

TEST_F(ToolsBase, UndoOfADeletedPanelTouchesNothing) {
  probe_panel *p = make_probe(root);
  ASSERT_EQ(undo_push_tools(p), 0);
  container_cls(root)->remove(root, p);
  widget_delete(p);
  EXPECT_EQ(undo_perform(), -1) << "the record of a deleted panel is refused";
  redraw_passes();  // nothing queued for it
  EXPECT_EQ(pending_after(), 0);
  probe_panel *q = make_probe(root);
  widget_show(q);
  redraw_passes();
  q->refreshes = 0;
  ASSERT_EQ(undo_push_tools(q), 0);
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(pending_after(), 1) << "undo refreshes a live panel after the next redraw";
  redraw_passes();
  EXPECT_EQ(q->refreshes, 1);
}

TEST_F(ToolsBase, DrawFillsThePanelInThePanelColourThenDrawsTheControls) {
  window *w = window_new(root, 0);
  w->r = {0, 0, 900, 300};
  window_set_role(w, kRoleWatchlist);
  widget *p = window_get_tools(w, kRoleWatchlist);
  p->r = {10, 200, 880, 80};
  widget_show(p);
  glrecord_start();
  widget_draw(p);
  glrecord_stop();
  const std::string calls = glrecord_text();
  uint32_t c = style_colour(style_cur(), SC_PANEL) | 0xff000000u;
  char colour[64];
  snprintf(colour, sizeof colour, "Color4ub(%u,%u,%u,255)", c & 255, (c >> 8) & 255, (c >> 16) & 255);
  const size_t fill = calls.find("Vertex2i(10,200)\nVertex2i(10,280)\nVertex2i(890,280)\nVertex2i(890,200)");
  ASSERT_NE(fill, std::string::npos) << calls.substr(0, 400);
  const size_t col = calls.rfind(colour, fill);
  EXPECT_NE(col, std::string::npos) << "the fill is in the panel colour " << colour;
  EXPECT_GT(calls.size(), fill + 200) << "the controls are drawn after the fill";
}

// ---- the linked change ----------------------------------------------------

struct link_case {
  const char *name;
  std::vector<int> lists;  // which scan each window shows (0 = none); negative: fixed
  bool shift;
  bool desktop;
  std::set<int> want;  // windows whose scan the change reaches
};

class Link : public Panels {};

TEST_F(Link, SetsOverADesktopOfWatchlistWindows) {
  const link_case cases[] = {
      {"Shift up: the source alone", {1, 2, 3}, false, true, {0}},
      {"Shift down: every distinct list", {1, 2, 3}, true, true, {0, 1, 2}},
      {"one window per list", {1, 2, 2}, true, true, {0, 1}},
      {"a window of the source's own list is not taken again", {1, 1, 2}, true, true, {0, 2}},
      {"a fixed list is left out for a list source", {1, -2, 3}, true, true, {0, 2}},
      {"a fixed source takes fixed lists", {-1, -2, 3}, true, true, {0, 1, 2}},
      {"a window without a list is skipped", {1, 0, 3}, true, true, {0, 2}},
      {"no desktop: the source alone", {1, 2, 3}, true, false, {0}},
  };
  for (const link_case &c : cases) {
    std::vector<scan *> scans;
    std::vector<scan *> made;
    for (int k : c.lists) {
      if (!k) {
        scans.push_back(nullptr);
        continue;
      }
      scan *found = nullptr;
      for (size_t i = 0; i < c.lists.size() && i < made.size(); i++)
        if (made[i] && std::abs(c.lists[i]) == std::abs(k)) found = made[i];
      if (!found) {
        found = scan_create(("L" + std::to_string(std::abs(k))).c_str(), 0);
        scan_set_order(found, 1);
        if (k < 0) scan_set_fixed(found, 1);
      }
      made.push_back(found);
      scans.push_back(found);
    }
    made.resize(c.lists.size());
    std::vector<window *> ws;
    if (c.desktop) {
      desk_of(scans, &ws);
    } else {
      for (scan *s : scans) {
        window *w = window_new(root, 0);
        window_set_role(w, kRoleWatchlist);
        if (s) watchlist_set_scan(list_of(w), s);
        ws.push_back(w);
      }
    }
    shift(c.shift);
    int held = undo_count();
    click(scantools_button(panel_of(ws[0]), 27));  // "Volume"
    shift(false);
    // The windows the change was applied to, and every list they show
    // (windows sharing a list see it too) re-sorted, the others not.
    std::set<int> got;
    for (int32_t k = 0; k < tools_link_count(); k++)
      for (size_t i = 0; i < ws.size(); i++)
        if (tools_link_content(k) == static_cast<widget *>(list_of(ws[i]))) got.insert(int(i));
    EXPECT_EQ(got, c.want) << c.name;
    for (size_t i = 0; i < ws.size(); i++) {
      if (!scans[i]) continue;
      bool reached = false;
      for (int k : c.want) reached = reached || scans[k] == scans[i];
      EXPECT_EQ(scans[i]->order, reached ? 5u : 1u) << c.name << " window " << i;
    }
    // One group: its opening and closing, a panel record (42) and a scan
    // record (29) for every window reached.
    EXPECT_EQ(undo_count() - held, 2 + 2 * int(c.want.size())) << c.name;
    EXPECT_EQ(undo_type_at(0), UNDO_GROUP_END) << c.name;
    ASSERT_EQ(undo_perform(), 0) << c.name;
    EXPECT_EQ(undo_count(), held) << c.name;
    for (size_t i = 0; i < ws.size(); i++)
      if (scans[i]) EXPECT_EQ(scans[i]->order, 1u) << c.name << " window " << i << " restored";
    for (window *w : ws) watchlist_set_scan(list_of(w), nullptr);
    for (desktop *d : desks) widget_delete(d);
    desks.clear();
    if (!c.desktop)
      for (window *w : ws) {
        container_cls(root)->remove(root, w);
        widget_delete(w);
      }
    std::set<scan *> gone;
    for (scan *s : made)
      if (s && gone.insert(s).second) scan_delete(s);
  }
}

TEST_F(Link, OtherRolesAreLeftOut) {
  scan *a = scan_create("A", 0), *b = scan_create("B", 0);
  std::vector<window *> ws;
  desk_of({a, b}, &ws);
  window_set_role(ws[1], kRoleDepth);
  shift(true);
  tools_link_begin(list_of(ws[0]), kRoleWatchlist);
  shift(false);
  EXPECT_EQ(tools_link_count(), 1);
  for (window *w : ws) watchlist_set_scan(list_of(w), nullptr);
  scan_delete(a);
  scan_delete(b);
}

TEST_F(Link, AWindowClosedBetweenBeginAndApplyIsLeftOut) {
  scan *a = scan_create("A", 0), *b = scan_create("B", 0), *c = scan_create("C", 0);
  std::vector<window *> ws;
  desk_of({a, b, c}, &ws);
  shift(true);
  tools_link_begin(list_of(ws[0]), kRoleWatchlist);
  shift(false);
  ASSERT_EQ(tools_link_count(), 3);
  widget *gone_content = list_of(ws[1]);
  watchlist_set_scan(list_of(ws[1]), nullptr);
  container_cls(static_cast<container *>(ws[1]->parent))->remove(static_cast<container *>(ws[1]->parent), ws[1]);
  widget_delete(ws[1]);  // the window's finaliser forgets it
  ASSERT_EQ(tools_link_count(), 2);
  EXPECT_EQ(tools_link_content(0), static_cast<widget *>(list_of(ws[0])));
  EXPECT_EQ(tools_link_content(1), static_cast<widget *>(list_of(ws[2])));
  for (int32_t i = 0; i < tools_link_count(); i++) EXPECT_NE(tools_link_content(i), gone_content);
  tools_link_apply();  // under ASan a visit of the closed window would fail here
  watchlist_set_scan(list_of(ws[0]), nullptr);
  watchlist_set_scan(list_of(ws[2]), nullptr);
  scan_delete(a);
  scan_delete(b);
  scan_delete(c);
}

// ---- typed amounts --------------------------------------------------------

TEST(TypedDecimals, CentsAndCountsTable) {
  struct row {
    const char *text;
    int places;  // 2 cents, 0 counts
    uint64_t max;
    int ret;
    uint64_t want;
  } rows[] = {
      {"2.5", 2, 10000000, 0, 250},
      {"1.255", 2, 10000000, 0, 126},  // a double would give 125.49999...
      {"1.254", 2, 10000000, 0, 125},
      {"0.005", 2, 10000000, 0, 1},
      {"0.004", 2, 10000000, 0, 0},
      {"1.5k", 2, ~0ull, 0, 150000},
      {"2t", 2, ~0ull, 0, 200000},
      {"3M", 2, ~0ull, 0, 300000000},
      {"1.25b", 2, ~0ull, 0, 125000000000ull},
      {"", 2, 10000000, 1, 0},
      {"   ", 2, 10000000, 1, 0},
      {"nan", 2, 10000000, -1, 0},
      {"inf", 2, 10000000, -1, 0},
      {"-1", 2, 10000000, -1, 0},
      {"1.2.3", 2, 10000000, -1, 0},
      {"12x", 2, 10000000, -1, 0},
      {"1e30", 2, 10000000, 0, 10000000},  // clamped to the setter's range
      {"99999999999999999999999999", 2, 1000000000000ull, 0, 1000000000000ull},
      {"007.10", 2, 10000000, 0, 710},
      {"2.5", 0, 1000000, 0, 3},  // half up at the unit
      {"2.49", 0, 1000000, 0, 2},
      {"1.5k", 0, 1000000, 0, 1500},
      {"5m", 0, 1000000, 0, 1000000},
  };
  for (const row &r : rows) {
    uint64_t v = 77;
    int got = r.places == 2 ? tools_parse_cents(r.text, r.max, &v) : tools_parse_count(r.text, r.max, &v);
    EXPECT_EQ(got, r.ret) << r.text;
    if (r.ret == 0) EXPECT_EQ(v, r.want) << r.text;
    else EXPECT_EQ(v, 77u) << r.text << " leaves the value alone";
  }
  // Against an independent reference: exact decimal strings of k/1000
  // rounded half up agree with integer arithmetic.
  for (int k = 0; k < 20000; k++) {
    char text[32];
    snprintf(text, sizeof text, "%d.%03d", k / 1000, k % 1000);
    uint64_t v = 0;
    ASSERT_EQ(tools_parse_cents(text, ~0ull, &v), 0);
    EXPECT_EQ(v, uint64_t((k + 5) / 10)) << text;
  }
}

}  // namespace
