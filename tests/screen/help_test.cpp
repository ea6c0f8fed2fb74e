// The help window, the help button and the hover help: the keys table laid
// out with the atlas's fonts (columns, headings, the backslash key, size
// limits, scrolling), the hover table over the screen's own widgets and the
// list windows, and under Xvfb an xdotool drag of the Help button over a
// watchlist column and a mini quote, and a click on the support link that
// reaches the recorded opener.
#include "screen/helpwin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "guitest.h"
#include "lib/fade.h"
#include "lib/font.h"
#include "lib/gmap.h"
#include "lib/scan.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "lib/wlist.h"
#include "screen/help_button.h"
#include "screen/minibar.h"
#include "screen/screen.h"
#include "screen/tickbar.h"
#include "ssmodel.h"
#include "style.h"
#include "testmodel.h"
#include "trading/trading.h"
#include "ui/gui.h"
#include "ui/launch-linux.h"
#include "ui/tooltip.h"
#include "undo.h"
#include "windows/alerts.h"
#include "windows/depthtable.h"
#include "windows/depthwin.h"
#include "windows/newstoday.h"
#include "windows/tradelist.h"
#include "windows/watchlist.h"

namespace {

class HelpEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(guitest_start_window_manager());
    ASSERT_TRUE(guitest_start_gui("help_test"));
    tex_init();
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
    ASSERT_EQ(fade_init(), 0);
    ASSERT_EQ(style_init(), 0);
    ASSERT_EQ(style_select(0), 0);
    style_set_size(1);
    ASSERT_EQ(config_init(), 0);
    ASSERT_EQ(0, start_terminal_model());
    ASSERT_EQ(0, scan_init());
    ASSERT_EQ(0, undo_init());
    ASSERT_EQ(screen_init(), 0);
  }
  void TearDown() override {
    screen_shutdown();
    undo_fini();
    scan_fini();
    ssmodel_fini();
    config_shutdown();
    style_fini();
    fade_fini();
    gmap_fini();
    tex_fini();
    gui_shutdown();
  }
};
::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new HelpEnv);

int32_t width_of(int32_t font, const char *text) {
  int32_t wh[2] = {0, 0};
  font_text_size(wh, font, text);
  return wh[0];
}

TEST(HelpKeys, FourColumnsOfOneHundredAndThirtyRows) {
  int breaks = 0, headings = 0;
  for (const help_row &r : kHelpKeys) {
    ASSERT_NE(r.key, nullptr);
    ASSERT_NE(r.desc, nullptr);
    breaks += strcmp(r.key, "|") == 0;
    headings += strcmp(r.key, "*") == 0;
    EXPECT_EQ(strchr(r.desc, '\n'), nullptr) << "one line each: " << r.desc;
  }
  EXPECT_EQ(breaks, kHelpColumns - 1);
  EXPECT_EQ(headings, 19);
  EXPECT_STREQ(kHelpKeys[0].desc, "General");
  EXPECT_STREQ(kHelpKeys[kHelpRows - 2].key, "CTRL Q");
}

TEST(HelpKeys, MeasuredWithTheAtlasFonts) {
  const help_fonts f = help_style_fonts();
  ASSERT_GT(f.step, 0);
  help_measure m;
  help_measure_keys(kHelpKeys, kHelpRows, &f, &m);
  // The widest key, measured here with the key font: its backslash is not shown.
  int32_t key_w = 0, note_w = 0;
  int steps[kHelpColumns] = {0, 0, 0, 0};
  int col = 0;
  for (const help_row &r : kHelpKeys) {
    if (!strcmp(r.key, "|")) { col++; continue; }
    if (!strcmp(r.key, "*") || !strcmp(r.key, "-")) steps[col] += 2; else steps[col] += 1;
    if (!strcmp(r.key, "-")) note_w = std::max(note_w, width_of(f.body, r.desc));
    else if (r.key[0] && strcmp(r.key, "*") != 0)
      key_w = std::max(key_w, width_of(f.key, r.key[0] == '\\' ? r.key + 1 : r.key));
  }
  EXPECT_EQ(m.key_w, key_w);
  EXPECT_EQ(m.note_w, note_w);
  int tallest = 0;
  for (int i = 0; i < kHelpColumns; i++) {
    EXPECT_EQ(m.column_h[i], steps[i] * f.step) << "column " << i;
    tallest = std::max(tallest, m.column_h[i]);
  }
  EXPECT_EQ(m.text_h, tallest - f.step);
  EXPECT_GE(m.key_w + m.desc_w + 8, m.note_w) << "a note fits across both columns";
}

TEST(HelpKeys, HeadingsBlankLinesAndTheBackslashKey) {
  const help_fonts f = help_style_fonts();
  help_measure m;
  help_measure_keys(kHelpKeys, kHelpRows, &f, &m);
  std::vector<help_placed> p(kHelpRows);
  help_place_keys(kHelpKeys, kHelpRows, &m, f.step, p.data());
  int last_col = -1, minus_keys = 0;
  for (int i = 0; i < kHelpRows; i++) {
    if (p[i].kind == 1) {
      if (p[i].column != last_col) {
        EXPECT_EQ(p[i].y, 5) << "first heading of column " << p[i].column << " " << p[i].text;
        last_col = p[i].column;
      } else {
        ASSERT_GT(i, 0);
        EXPECT_EQ(p[i].y, p[i - 1].y + 2 * f.step) << "one blank line above " << p[i].text;
      }
      EXPECT_EQ(p[i].text_x, 8 + p[i].column * (m.key_w + m.desc_w + 8) + m.key_w + 8);
    }
    if (!strcmp(kHelpKeys[i].key, "\\-XXX, ENTER")) {
      minus_keys++;
      EXPECT_EQ(p[i].kind, 0) << "a key row, not a note";
      ASSERT_NE(p[i].key, nullptr);
      EXPECT_STREQ(p[i].key, "-XXX, ENTER");
    }
  }
  EXPECT_EQ(last_col, kHelpColumns - 1);
  EXPECT_EQ(minus_keys, 2);
}

TEST(HelpWindow, SizeLimitsAndScrollClamps) {
  screen *s = screen_get(0);
  ASSERT_NE(s, nullptr);
  auto *h = static_cast<helpwin *>(s->helpwin);
  ASSERT_EQ(std::string(object_type_name(widget_obj(h))), "helpwin");
  size req, lo, hi;
  h->cls->reqsize(h, &req);
  h->cls->size_limits(h, &lo, &hi);
  EXPECT_EQ(req.w, h->content.w);
  EXPECT_EQ(req.h, h->content.h);
  EXPECT_EQ(hi.w, h->content.w);
  EXPECT_EQ(hi.h, h->content.h);
  EXPECT_EQ(lo.w, h->m.key_w + h->m.desc_w + 24);
  EXPECT_EQ(lo.h, h->content.h * 2 / 3);
  // Four columns side by side, and the footer's link inside the panel.
  EXPECT_GT(h->content.w, 3 * (h->m.key_w + h->m.desc_w + 8));
  EXPECT_GT(h->link.w, 0);
  EXPECT_LE(h->link.x + h->link.w, h->content.w);
  EXPECT_LE(h->link.y + h->link.h, h->content.h);

  struct { int32_t v, view, content, want; } cases[] = {
      {10, 100, 300, 0}, {-50, 100, 300, -50}, {-250, 100, 300, -200}, {-5, 400, 300, 0}, {0, 300, 300, 0},
  };
  for (auto &c : cases) EXPECT_EQ(help_clamp_offset(c.v, c.view, c.content), c.want) << c.v;

  // Dragging a window smaller than the panel: never past the right or
  // bottom edge, never before the top-left corner; a second drag carries on.
  const rect keep = h->r;
  h->r = {0, 0, h->content.w / 2, h->content.h / 2};
  drag_record d = {};
  ASSERT_EQ(h->cls->drag_begin(h, 100, 100, 1, &d), 1);
  h->cls->drag_motion(h, -5000, -5000, 1, &d);
  EXPECT_EQ(h->offset_x, h->r.w - h->content.w);
  EXPECT_EQ(h->offset_y, h->r.h - h->content.h);
  h->cls->drag_motion(h, 5000, 5000, 1, &d);
  EXPECT_EQ(h->offset_x, 0);
  EXPECT_EQ(h->offset_y, 0);
  h->cls->drag_motion(h, 90, 80, 1, &d);
  EXPECT_EQ(h->offset_x, -10);
  EXPECT_EQ(h->offset_y, -20);
  ASSERT_EQ(h->cls->drag_begin(h, 200, 200, 1, &d), 1);
  h->cls->drag_motion(h, 195, 200, 1, &d);
  EXPECT_EQ(h->offset_x, -15);
  EXPECT_EQ(h->offset_y, -20);
  EXPECT_EQ(h->cls->drag_release(h, nullptr, 195, 200, 1, &d), 0);
  h->cls->geometry_changed(h);
  EXPECT_EQ(h->offset_x, 0);
  h->r = keep;
}

// Stand-ins for the depth window's children, registered under their type
// names: their tips do not read the widget.
typeid_t stand_in(const char *name) {
  return object_register_class(name, widget_type(), sizeof(widget), nullptr, nullptr, sizeof(widget_class), nullptr,
                               nullptr);
}

struct Tip {
  std::string l1, l2;
};
Tip tip_of(widget *w, int32_t x = -1000, int32_t y = -1000) {
  help_tip_forget();
  EXPECT_EQ(help_tip_for(w, x, y), 1) << object_type_name(widget_obj(w));
  return {help_tip_line(0), help_tip_line(1)};
}

TEST(HoverHelp, TheTwelveTypes) {
  screen *s = screen_get(0);
  auto *mb = static_cast<minibar *>(s->minibar);
  auto *tb = static_cast<tickbar *>(s->tickbar);
  ASSERT_TRUE(mb && mb->clock && mb->quotes[0] && mb->desktops[2]);
  ASSERT_TRUE(tb && tb->tickers[0]);
  widget *holder = tw_new(nullptr, "holder", {0, 0, 600, 200});
  watchlist *wl = watchlist_new(holder, 0);
  widget *orders = orderlist_new(holder);
  widget *news = newstoday_new(holder);
  widget *trades = tradelist_new(holder);
  widget *alerts = alerts_new(holder);
  static typeid_t bars = stand_in("depthbars");
  // A real depth window: its table tells the column under the pointer.
  widget *depth = depthwin_new(holder);
  ASSERT_NE(depth, nullptr);
  depth->r = {0, 0, 600, 200};
  depth->cls->geometry_changed(depth);
  widget *table = depthwin_get_child(depth, 2), *chart = widget_new(holder, bars);
  ASSERT_TRUE(wl && orders && news && trades && alerts && table && chart);

  struct { widget *w; const char *l1, *l2; } cases[] = {
      {wl, "Watchlist", ""},           {orders, "Orders", ""},
      {news, "Newstoday", ""},         {trades, "Trade List", ""},
      {table, "Depth Table", ""},      {chart, "Depth Bar Chart", ""},
      {s->watchbar, "Watchbar", "Drop items to watch here"},
      {mb->desktops[2], "Desktop 3", ""},
      {mb->quotes[0], "Mini Quote", "Drop items to watch here"},
      {mb->clock, "Mouse over to show market status", ""},
      {tb->tickers[0], "Ticker", ""},  {alerts, "Alerts", ""},
  };
  for (auto &c : cases) {
    Tip t = tip_of(c.w);
    EXPECT_EQ(t.l1, c.l1) << object_type_name(widget_obj(c.w));
    EXPECT_EQ(t.l2, c.l2) << object_type_name(widget_obj(c.w));
  }
  // The table covers exactly these twelve names.
  EXPECT_EQ(sizeof cases / sizeof cases[0], size_t(kHelpTipRows));
  // The depth table over each shown column: that column's description.
  int columns = 0;
  for (int32_t x = table->r.x; x < table->r.x + table->r.w; x++) {
    const int col = depthtbl_column_at(table, x);
    if (col < 0) continue;
    const char *want = depthtbl_tooltip(col);
    ASSERT_NE(want, nullptr) << col;
    Tip t = tip_of(table, x, table->r.y + 2);
    EXPECT_EQ(t.l1, want) << "column " << col << " at " << x;
    if (x == table->r.x || depthtbl_column_at(table, x - 1) != col) columns++;
  }
  EXPECT_GE(columns, 4) << "columns shown at " << table->r.w << " pixels";
  EXPECT_EQ(depthtbl_column_at(chart, 10), -1) << "another widget has no depth columns";

  // A type without a row, and the walk up to an ancestor that has one.
  tw *plain = tw_new(nullptr, "plain", {0, 0, 10, 10});
  help_tip_forget();
  EXPECT_EQ(help_tip_for(plain, 0, 0), 0);
  // (The watch bar holds one child of its own: the walk reads only the
  // parent links.)
  tw *inside = tw_new(nullptr, "inside", {0, 0, 10, 10});
  inside->parent = s->watchbar;
  EXPECT_EQ(help_tip_walk(inside, 0, 0), s->watchbar);
  inside->parent = nullptr;
  EXPECT_STREQ(help_tip_line(0), "Watchbar");
  EXPECT_EQ(help_tip_walk(plain, 0, 0), nullptr);  // the tooltip reads "Help"
  widget_delete(inside);
  widget_delete(plain);

  // A widget served last whose address now holds another class: the new
  // class's row, not the remembered function.
  help_tip_forget();
  ASSERT_EQ(help_tip_for(chart, 0, 0), 1);
  EXPECT_STREQ(help_tip_line(0), "Depth Bar Chart");
  object_class *was = chart->cls;
  chart->cls = s->watchbar->cls;
  ASSERT_EQ(help_tip_for(chart, 0, 0), 1);
  EXPECT_STREQ(help_tip_line(0), "Watchbar");
  chart->cls = static_cast<widget_class *>(was);
  widget_delete(holder);
}

std::vector<std::string> g_opened;
int record_opener(const char *target) {
  g_opened.push_back(target);
  return 0;
}

class HelpGui : public ::testing::Test {
 protected:
  tw *root = nullptr;
  guitest_window gw;
  void TearDown() override {
    guitest_window::close_all();
    if (root) widget_delete(root);
    launch_set_opener(nullptr);
  }
  void settle() {
    widget_redraw(root);
    gw.settle();
  }
  void xdo(const std::string &args) { guitest_xdo(args); }
};

TEST_F(HelpGui, DraggingHelpOverAWatchlistColumnAndAMiniQuote) {
  constexpr int kW = 700, kH = 220;
  root = tw_new(nullptr, "root", {0, 0, kW, kH}, 0xff202020u);
  button *help = help_button_new(root, style_button_colours(), nullptr, nullptr, 46);
  ASSERT_NE(help, nullptr);
  help->r = {10, 10, 60, 24};
  watchlist *wl = watchlist_new(root, 0);
  wl->r = {100, 0, 480, kH};
  mini_quote *mq = mini_quote_new(root, 0);
  mq->r = {590, 10, 100, 24};
  wlist *list = wlist_create("Help", 0);
  ss_stock *st = ssmodel_get_stock(ssmodel_exchange(0), "HLP");
  ssmodel_stock_make_current(st);
  st->bid = 1000;
  st->offer = 1010;
  wlist_add_item(list, st);
  ASSERT_TRUE(gw.open(root, {40, 40, kW, kH}));
  widget_show_subtree(root);
  wl->cls->geometry_changed(wl);
  ASSERT_EQ(watchlist_set_source(wl, list), 0);
  settle();
  // A column of the grid with a description of its own.
  watchlist_row *row = watchlist_find_row(wl, st);
  ASSERT_NE(row, nullptr);
  const int cy = wl->r.y + row->y + 2;
  int col = -1;
  for (int i = 0; i < wl->columns.count && col < 0; i++)
    if ((wl->columns.shown >> i & 1) && watchlist_tooltip(wl, wl->columns.col[i].x0 + 2, cy)) col = i;
  ASSERT_GE(col, 0) << "a shown column with a description";
  const int cx = wl->columns.col[col].x0 + 2;
  const std::string want = watchlist_tooltip(wl, cx, cy);
  ASSERT_NE(want, "Watchlist");

  xdo("mousemove" + gw.at(30, 20));
  xdo("mousedown 1");
  xdo("mousemove" + gw.at(45, 40));
  xdo("mousemove" + gw.at(cx - 5, cy));
  xdo("mousemove" + gw.at(cx, cy));
  EXPECT_TRUE(guitest_wait_for([&] { return gui_dragging() && want == help_tip_line(0); }))
      << "line 1: " << help_tip_line(0);
  EXPECT_TRUE(tooltip_visible());
  xdo("mousemove" + gw.at(620, 20));
  xdo("mousemove" + gw.at(630, 22));
  EXPECT_TRUE(guitest_wait_for([&] {
    return std::string(help_tip_line(0)) == "Mini Quote" && std::string(help_tip_line(1)) == "Drop items to watch here";
  })) << help_tip_line(0) << " / " << help_tip_line(1);
  xdo("mouseup 1");
  EXPECT_TRUE(guitest_wait_for([&] { return !gui_dragging(); }));
  EXPECT_EQ(wlist_count(list), 1) << "nothing dropped";
}

TEST_F(HelpGui, TheSupportLinkReachesTheOpener) {
  root = tw_new(nullptr, "root", {0, 0, 10, 10}, 0xff202020u);
  auto *h = static_cast<helpwin *>(helpwin_new(root));
  helpwin_layout(h);
  root->r = h->r = {0, 0, h->content.w, h->content.h};
  ASSERT_TRUE(gw.open(root, {20, 20, h->content.w, h->content.h}));
  widget_show_subtree(root);
  settle();
  // The panel drew its text: dark pixels inside the first heading's box.
  const help_fonts f = help_style_fonts();
  help_placed p[kHelpRows];
  help_place_keys(kHelpKeys, kHelpRows, &h->m, f.step, p);
  bool ink = false;
  for (int dx = 0; dx < 40 && !ink; dx++)
    for (int dy = 0; dy < f.step && !ink; dy++)
      ink = (guitest_window_pixel(gw.xw, p[0].text_x + dx, p[0].y + dy) & 0xffffff) < 0x404040;
  EXPECT_TRUE(ink) << "the heading \"General\" is drawn";
  g_opened.clear();
  launch_set_opener(record_opener);
  xdo("mousemove" + gw.at(h->link.x + h->link.w / 2, h->link.y + h->link.h - 4));
  xdo("click 1");
  EXPECT_TRUE(guitest_wait_for([&] { return !g_opened.empty(); }));
  ASSERT_EQ(g_opened.size(), 1u);
  EXPECT_EQ(g_opened[0], kHelpSupportUrl);
}

}  // namespace
