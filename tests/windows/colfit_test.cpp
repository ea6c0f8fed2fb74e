// The tables of the market windows at many widths and every style size: the
// course of sales, the alerts grid, the depth table and the watchlist grid,
// filled with wide figures, are drawn with the font's text watch on. Where
// the column-set list holds a set that fits, no figure is drawn as '#'
// marks (the window gives way to that set rather than squeeze its columns),
// and from 400 pixels on some set always fits; no text of a row reaches
// into another's place or out of the window.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "gridtest.h"
#include "lib/cols.h"
#include "lib/font.h"
#include "lib/glrecord.h"
#include "glyphcheck.h"
#include "ssclient.h"
#include "ssevent.h"
#include "sstime.h"
#include "windows/alertlist.h"
#include "windows/alerts.h"
#include "windows/depthtable.h"
#include "windows/depthwin.h"
#include "windows/tradelist.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

const int32_t kWidths[] = {150, 190, 240, 290, 340, 400, 470, 560, 660, 780, 920, 1100, 1350, 1700, 2200};

// What one draw laid out or drew: texts by row (drawing list, or the y of
// a text drawn at once).
struct drawn {
  struct text {
    std::string s;
    rect r;
  };
  std::map<std::pair<const gmap *, int32_t>, std::vector<text>> rows;
  static void seen(const char *t, int32_t, const rect &r, const gmap *list, void *arg) {
    if (!t || !*t || r.w <= 0) return;
    auto *d = static_cast<drawn *>(arg);
    d->rows[{list, list ? 0 : r.y + r.h}].push_back({t, r});
  }
};

bool all_marks(const std::string &s) { return !s.empty() && s.find_first_not_of('#') == std::string::npos; }

// Every set narrower than this many pixels: code and price, or time and
// price, even in the largest style size.
constexpr int32_t kSomeSetFits = 400;

// Draws `w` with the watch on and checks its texts against the layout `c`
// its draw used.
void check_draw(widget *w, int32_t width, const cols &c, const std::string &what) {
  drawn d;
  font_set_text_watch(drawn::seen, &d);
  {
    glrecord_scope rec;
    w->cls->draw(w);
  }
  font_set_text_watch(nullptr, nullptr);
  if (width >= kSomeSetFits) {
    EXPECT_GE(c.spare, 0) << what << " at width " << width << ": no column set fits";
  }
  const bool wide_set = c.spare >= 0;
  size_t texts = 0;
  for (const auto &[key, items] : d.rows) {
    texts += items.size();
    for (size_t i = 0; i < items.size(); i++) {
      const auto &a = items[i];
      if (wide_set) {
        EXPECT_FALSE(all_marks(a.s)) << what << " at width " << width << ": a figure drawn as \"" << a.s << "\" at " << a.r.x
                                     << " in a column set that fits";
      }
      EXPECT_GE(a.r.x, w->r.x) << what << " at width " << width << ": \"" << a.s << "\" starts left of the window";
      EXPECT_LE(a.r.x + a.r.w, w->r.x + w->r.w)
          << what << " at width " << width << ": \"" << a.s << "\" ends right of the window";
      for (size_t j = 0; j < i; j++) {
        const auto &b = items[j];
        EXPECT_FALSE(glyphcheck_overlap(a.s, a.r, b.s, b.r))
            << what << " at width " << width << ": \"" << a.s << "\" at " << a.r.x << "+" << a.r.w << " over \""
            << b.s << "\" at " << b.r.x << "+" << b.r.w;
      }
    }
  }
  EXPECT_GT(texts, 0u) << what << " at width " << width << " drew nothing";
}

class ColumnFit : public Grid {
 protected:
  ss_stock *bhp = nullptr;
  void SetUp() override {
    Grid::SetUp();
    bhp = stock("BHP");
    // Wide figures of a busy day: a price in the hundreds with cents, an
    // eight-digit volume, a turnover in the billions.
    bhp->last = 45678;
    bhp->change = -2934;
    bhp->high = 46000;
    bhp->low = 40012;
    bhp->volume = 12345678;
    bhp->value = 567890123456ull;
    bhp->bid = 45677;
    bhp->offer = 45679;
  }
  void TearDown() override {
    style_set_size(1);
    Grid::TearDown();
  }
};

int no_events(instr *) { return 0; }
int no_day(instr *, ss_time) { return 0; }
const tradelist_client kNoClient = {no_events, no_day};

TEST_F(ColumnFit, CourseOfSales) {
  ssevent_enable_day_records(1);
  const ss_time today = sstime_pack_date(13, 6, 2024);
  ssmodel_set_date(ex0, today);
  const uint32_t prices[] = {45678, 45601, 45679, 45699, 45612, 45700};
  for (int i = 0; i < 30; i++) {
    ss_trade *t = ssmodel_add_trade(bhp, today + uint32_t(36000 + i * 97), prices[i % 6], 987654u + uint64_t(i));
    t->bits = kTradeSetsLast | kTradeVolume;
  }
  bhp->flags |= kRqTradesLoaded;
  tradelist_set_client(&kNoClient);
  tradelist *list = tradelist_cast(tradelist_new(nullptr));
  list->r = {30, 0, 600, 300};
  tradelist_set_instrument(list, bhp);
  const struct {
    const char *name;
    uint32_t seconds;
    bool price;
  } groupings[] = {{"no grouping", 0, false}, {"by minute", 60, false}, {"by day", 86400, false},
                   {"by price", 0, true}};
  for (int size = 0; size < 5; size++) {
    style_set_size(size);
    for (const auto &g : groupings) {
      list->group_by_seconds = g.seconds;
      list->group_by_price = g.price;
      for (int32_t width : kWidths) {
        list->r.w = width;
        tradelist_rebuild(list, 1);
        ASSERT_NE(list->first_row, nullptr);
        list->cls->draw(list);  // the fit happens in the draw
        check_draw(list, width, list->columns, std::string("course of sales, ") + g.name + ", size " + std::to_string(size));
        // The row's time stays whatever the width.
        const int time_col = g.seconds == 86400 ? kTlDate : kTlTo;
        EXPECT_TRUE(list->columns.col[time_col].shown) << g.name << " width " << width;
        EXPECT_TRUE(list->columns.col[kTlLast].shown) << g.name << " width " << width;
      }
    }
  }
  // A wide window shows every column the grouping leaves.
  style_set_size(1);
  list->group_by_seconds = 60;
  list->group_by_price = false;
  list->r.w = 2200;
  tradelist_rebuild(list, 1);
  list->cls->draw(list);
  EXPECT_EQ(list->columns.shown, ((1ull << kTradelistColumns) - 1) & ~tradelist_hidden_columns(list));
  widget_delete(list);
  tradelist_set_client(nullptr);
}

TEST_F(ColumnFit, Alerts) {
  ASSERT_EQ(alerts_init(), 0);
  const char *codes[] = {"BHP", "CBA", "NAB", "WBC"};
  for (const char *c : codes) {
    ss_stock *s = stock(c);
    s->last = 45678;
    s->change = -2934;
    s->volume = 12345678;
    ASSERT_NE(alerts_set_alert(s, 40000, 50000, 99999999, 1, 0), nullptr) << c;
  }
  widget *g = alerts_new(nullptr);
  alerts_grid *grid = alerts_grid_of(g);
  g->r = {20, 0, 600, 200};
  widget_show(g);
  for (int size = 0; size < 5; size++) {
    style_set_size(size);
    for (int32_t width : kWidths) {
      g->r.w = width;
      g->cls->geometry_changed(g);
      check_draw(g, width, grid->columns, "alerts, size " + std::to_string(size));
      EXPECT_TRUE(grid->columns.col[1].shown || grid->columns.col[2].shown) << "a code column at " << width;
    }
  }
  widget_delete(g);
  alerts_fini();
}

double fixed_now() { return 100.0; }
int no_request(instr *) { return 0; }

TEST_F(ColumnFit, DepthTable) {
  depthwin_services svc{};
  svc.now_seconds = fixed_now;
  svc.request_events = no_request;
  depthwin_set_services(&svc);
  widget *w = depthwin_new(root);
  w->r = {0, 0, 600, 400};
  w->cls->geometry_changed(w);
  depthwin_set_instrument(w, bhp);
  depthwin_child *table = depthwin_get_child(w, 2);
  auto *cls = static_cast<depthwin_child_class *>(table->cls);
  auto apply = [&](uint32_t kind, void *payload) {
    ss_event e{kind, payload, nullptr, nullptr};
    cls->apply_event(table, &e);
  };
  // Deep levels with large orders, and trades at the same steps.
  for (uint32_t i = 0; i < 12; i++) {
    ss_ev_depth_add bid{1, 0, i + 1, 7, 45670 - i * 10, 987654 + i, 0};
    ss_ev_depth_add offer{1, 1, i + 1, 7, 45680 + i * 10, 876543 + i, 0};
    apply(kEvDepthAdd, &bid);
    apply(kEvDepthAdd, &offer);
  }
  for (uint32_t i = 0; i < 8; i++) {
    ss_trade *t = ssmodel_add_trade(bhp, sstime_pack(0, i, 10, 13, 6, 2024), 45670 + i * 10, 987654);
    apply(kEvTrade, t);
  }
  const uint64_t prices = (1ull << 8) | (1ull << 9);
  for (int size = 0; size < 5; size++) {
    style_set_size(size);
    for (int32_t width : kWidths) {
      table->r = {10, 0, width, 300};
      table->cls->geometry_changed(table);
      const uint64_t shown = depthtbl_shown_columns(table);
      EXPECT_EQ(shown & prices, prices) << "bid and offer prices at " << width;
      check_draw(table, width, *depthtbl_layout(table), "depth table, size " + std::to_string(size));
    }
  }
  container_cls(root)->remove(root, w);
  widget_delete(w);
  depthwin_set_services(nullptr);
}

TEST_F(ColumnFit, WatchlistGrid) {
  wlist *wl = wlist_create("Wide", 0);
  ASSERT_NE(wl, nullptr);
  for (const char *c : {"BHP", "CBA", "NAB", "WBC", "ANZ"}) {
    ss_stock *s = stock(c);
    s->last = 45678;
    s->change = -2934;
    s->high = 46000;
    s->low = 40012;
    s->volume = 12345678;
    s->value = 567890123456ull;
    s->bid = 45677;
    s->offer = 45679;
    wlist_add_item(wl, s);
  }
  watchlist *w = grid(0);
  watchlist_set_source(w, wl);
  ASSERT_GT(w->count, 0);
  for (int size = 0; size < 5; size++) {
    style_set_size(size);
    for (int32_t width : kWidths) {
      w->r = {10, 0, width, 200};
      w->cls->geometry_changed(w);
      check_draw(w, width, w->columns, "watchlist, size " + std::to_string(size));
    }
  }
}

}  // namespace
