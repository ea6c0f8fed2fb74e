// The alerts grid without windows: rows follow the list, the fired and
// trigger filters with the hidden trigger columns, the order, current-row
// editing (fired state cleared, ticker items marked seen), cell texts
// ("NEWS", "PENDING", fired times, differences), a dropped stock, codes
// typed into a grid, and the export table.
#include "windows/alerts.h"

#include <gtest/gtest.h>

#include <string>

#include "dnd.h"
#include "drawstart.h"
#include "export/clipboard.h"
#include "lib/fmt.h"
#include "listsmodel.h"
#include "plat.h"
#include "ui/object.h"
#include "ui/tooltip.h"
#include "undo.h"

namespace {

int no_queue(widget *, const rect *, widget_update_fn, int) { return 0; }
int g_seen;
int seen(instr *) { return ++g_seen, 0; }

class AlertsGrid : public ListsTest {
 protected:
  void SetUp() override {
    ListsTest::SetUp();
    object_init();
    ASSERT_EQ(0, clipboard_init());
    old_queue = widget_set_queue(no_queue);
    g = alerts_new(nullptr);
    ASSERT_NE(nullptr, alerts_grid_of(g));
    alerts_screen_hooks hooks{};
    hooks.seen = seen;
    alerts_set_screen_hooks(&hooks);
    g_seen = 0;
    g->r = {0, 0, 2000, 400};
    widget_show(g);
    g->cls->geometry_changed(g);
    bhp = stock(0, "BHP");
    cba = stock(0, "CBA");
    bhp_nz = stock(1, "BHP");
    xjo = index(0, "XJO");
    ssmodel_set_names(issuer(0, "BHP"), "BHP Group", nullptr);
    ssmodel_set_names(xjo, "ASX 200", nullptr);
    bhp->last = 4000;
    bhp->change = -25;
    bhp->change_pct = -63;
    bhp->volume = 1234567;
    cba->last = 10000;
    bhp_nz->last = 3900;
    xjo->value = 700000;
    xjo->change = 1500;
    xjo->change_pct = 219;
  }
  void TearDown() override {
    undo_fini();  // releases what the tests recorded
    widget_delete(g);
    alerts_fini();
    alerts_set_screen_hooks(nullptr);
    widget_set_queue(old_queue);
    clipboard_shutdown();
    ListsTest::TearDown();
  }
  std::string shown() {
    std::string s;
    for (int32_t i = 0; i < alerts_shown_count(g); i++) {
      const instr *in = alerts_shown_at(g, i)->instrument;
      s += std::string(in->code) + "." + std::to_string(in->exchange->index) + " ";
    }
    return s;
  }
  widget_queue_fn old_queue = nullptr;
  widget *g = nullptr;
  ss_stock *bhp = nullptr, *cba = nullptr, *bhp_nz = nullptr;
  ss_index *xjo = nullptr;
};

TEST_F(AlertsGrid, RowsFiltersAndColumns) {
  ASSERT_NE(nullptr, alerts_set_alert(cba, 9000, kAlertNoPrice, kAlertNoVolume, 0, 0));
  ASSERT_NE(nullptr, alerts_set_alert(bhp_nz, kAlertNoPrice, 3950, kAlertNoVolume, 0, 0));
  ASSERT_NE(nullptr, alerts_set_alert(bhp, kAlertNoPrice, kAlertNoPrice, 2000000, 1, 0));
  ASSERT_NE(nullptr, alerts_set_alert(xjo, kAlertNoPrice, kAlertNoPrice, kAlertNoVolume, 0, 0));
  EXPECT_EQ("BHP.0 BHP.1 CBA.0 XJO.0 ", shown()) << "by code, then exchange";
  alerts_set_order(g, 1);
  // Nearness: BHP.1 1.28%, CBA 10%, BHP.0's volume 62%, XJO none.
  EXPECT_EQ("BHP.1 CBA.0 BHP.0 XJO.0 ", shown());
  alerts_set_trigger_filter(g, ALERT_LOW | ALERT_HIGH);
  EXPECT_EQ("BHP.1 CBA.0 ", shown());
  alerts_set_trigger_filter_conjunctive(g, 1);
  EXPECT_EQ("", shown()) << "no alert has exactly both";
  alerts_set_trigger_filter(g, ALERT_NONE);
  EXPECT_EQ("XJO.0 ", shown());
  alerts_set_trigger_filter_conjunctive(g, 0);
  alerts_set_trigger_filter(g, 31);
  bhp_nz->last = 4000;
  alerts_evaluate(alerts_find(bhp_nz));
  alerts_set_fired_filter(g, 2);
  EXPECT_EQ("BHP.1 ", shown());
  alerts_set_fired_filter(g, 3);
  EXPECT_EQ("CBA.0 BHP.0 XJO.0 ", shown());
  alerts_set_fired_filter(g, 1);
  EXPECT_EQ("BHP.1 ", shown()) << "all its triggers fired; XJO has none";

  struct Cols {
    uint32_t filter;
    uint64_t hidden;
  } cols[] = {
      {31, 0},
      {ALERT_LOW, 0x3FC00},   // high, volume, news
      {ALERT_HIGH, 0x3F300},  // low, volume, news
      {ALERT_LOW | ALERT_HIGH, 0x3F000},
      {ALERT_VOLUME, 0x30F00},
      {ALERT_NEWS, 0xFF00},
      {ALERT_NONE, 0x3FF00},
  };
  for (const Cols &c : cols) {
    EXPECT_EQ(c.hidden, alerts_hidden_columns(c.filter)) << c.filter;
    alerts_set_trigger_filter(g, c.filter);
    EXPECT_EQ(c.hidden, alerts_grid_of(g)->columns.hidden) << c.filter;
  }
}

TEST_F(AlertsGrid, CurrentRowEditingAndCells) {
  EXPECT_EQ(-1, alerts_set_min_price(g, 100)) << "no current row";
  EXPECT_EQ(kAlertNoPrice, alerts_get_min_price(g));
  alert *a = alerts_set_alert(bhp, 3000, 3990, 1000000, 1, 0);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(-1, alerts_select(g, cba));
  ASSERT_EQ(0, alerts_select(g, bhp));
  EXPECT_EQ(a, alerts_get_current(g));
  EXPECT_EQ(ALERT_HIGH | ALERT_VOLUME, alerts_current_fired(g));
  struct Cell {
    int col;
    std::string text;
  } before[] = {{0, "BHP Group"}, {1, "BHP"}, {8, fmt_price(3000)}, {9, fmt_price(1000)},
                {10, fmt_price(3990)}, {11, fmt_time_hms(a->high_fired)}, {12, fmt_volume(1000000)},
                {14, fmt_time_hms(a->volume_fired)}, {16, "NEWS"}, {17, ""}};
  for (const Cell &c : before) EXPECT_EQ(c.text, alerts_cell_text(g, a, c.col)) << c.col;
  bhp->state = kAlertStateNewsDue;
  EXPECT_STREQ("PENDING", alerts_cell_text(g, a, 17));

  // A change clears that trigger's fired state and evaluates afresh.
  ASSERT_EQ(0, alerts_set_max_price(g, 5000));
  EXPECT_EQ(5000u, alerts_get_max_price(g));
  EXPECT_EQ(ALERT_VOLUME, alerts_current_fired(g));
  EXPECT_EQ(1, g_seen) << "the ticker items marked seen";
  EXPECT_EQ(fmt_price(1000), std::string(alerts_cell_text(g, a, 11)));
  ASSERT_EQ(0, alerts_set_max_price(g, 5000));
  EXPECT_EQ(1, g_seen) << "unchanged: nothing";
  ASSERT_EQ(0, alerts_set_news(g, 0));
  EXPECT_EQ("", std::string(alerts_cell_text(g, a, 16)));
  alerts_reset_current(g);
  EXPECT_EQ(ALERT_VOLUME, alerts_current_fired(g)) << "fires again on the next evaluation";
  alerts_delete_current(g);
  EXPECT_EQ(nullptr, alerts_find(bhp));
  EXPECT_EQ(nullptr, alerts_get_current(g));
  EXPECT_EQ(0, alerts_shown_count(g));
}

TEST_F(AlertsGrid, DropCodesAndExport) {
  dnd_begin_stock(cba);
  g->cls->drop(g, 10, 10, 1, nullptr);
  dnd_clear();
  ASSERT_NE(nullptr, alerts_find(cba));
  EXPECT_EQ(alerts_find(cba), alerts_get_current(g));
  dnd_begin_scan(nullptr);
  g->cls->drop(g, 10, 10, 1, nullptr);
  dnd_clear();
  EXPECT_EQ(1, alerts_count()) << "only stocks are taken";

  EXPECT_EQ(2, alerts_add_codes(g, "bhp xjo", 1));
  EXPECT_EQ(3, alerts_shown_count(g));
  alerts_export(g);  // the table is built whether or not a clipboard takes it
  const std::string end = plat_line_end();
  // Each formatter's text copied before the next call (they share a buffer).
  auto f = [](const char *text) { return std::string(text); };
  const std::string p1 = f(fmt_price(4000)), c1 = f(fmt_change_trimmed(-25)), v1 = f(fmt_volume(1234567));
  const std::string p2 = f(fmt_price(10000)), v2 = f(fmt_volume(0));
  const std::string p3 = f(fmt_price(700000)), c3 = f(fmt_change_trimmed(1500));
  const std::string want = "Company\tCode\tLast\tChange\t% Change\tVolume" + end +
                           "BHP Group\tBHP\t" + p1 + "\t" + c1 + "\t-0.63%\t" + v1 + end +
                           "CBA\tCBA\t" + p2 + "\t\t\t" + v2 + end +
                           "ASX 200\tXJO\t" + p3 + "\t" + c3 + "\t+2.19%\t" + end;
  EXPECT_EQ(want, std::string(clipboard_text()));
}

TEST_F(AlertsGrid, ChangedCellsAndFiredTriggersFlash) {
  ASSERT_TRUE(drawstart_up());
  alert *a = alerts_set_alert(bhp, kAlertNoPrice, 4100, kAlertNoVolume, 0, 0);
  ASSERT_NE(nullptr, a);
  alerts_row *r = alerts_grid_of(g)->rows;
  ASSERT_NE(nullptr, r);
  for (const fade_value &f : r->fades) EXPECT_EQ(nullptr, f.state) << "nothing changed yet";
  bhp->last = 4050;  // up: the price cell flashes, nothing fires
  alerts_evaluate(a);
  EXPECT_NE(nullptr, r->fades[ALERT_FADE_LAST].state);
  EXPECT_EQ(nullptr, r->fades[ALERT_FADE_CHANGE].state) << "the change did not change";
  EXPECT_EQ(nullptr, r->fades[ALERT_FADE_HIGH].state);
  EXPECT_GE(alerts_grid_of(g)->fade_timer, 0) << "a timer redraws while the fades run";
  EXPECT_EQ(style_colour(style_cur(), SC_UP_HIGHLIGHT) | 0xff000000u, r->fades[ALERT_FADE_LAST].shown.c | 0xff000000u);
  bhp->last = 4100;
  bhp->change = 75;
  alerts_evaluate(a);
  EXPECT_NE(nullptr, r->fades[ALERT_FADE_CHANGE].state);
  EXPECT_NE(nullptr, r->fades[ALERT_FADE_HIGH].state) << "the fired status cell flashes";
  EXPECT_EQ(nullptr, r->fades[ALERT_FADE_LOW].state);
  widget_hide(g);
  EXPECT_EQ(-1, alerts_grid_of(g)->fade_timer);
  drawstart_down();
}

TEST_F(AlertsGrid, ColumnTips) {
  alert *a = alerts_set_alert(bhp, 3000, 3990, 1000000, 1, 0);  // high and volume fired
  alert *x = alerts_set_alert(xjo, 1, kAlertNoPrice, kAlertNoVolume, 0, 0);
  struct Row {
    const alert *a;
    int col;
    const char *tip;
  } rows[] = {
      {a, 0, "Short Company Name"}, {x, 0, "Short Index Name"}, {a, 2, "Code"}, {x, 1, "Index Code"},
      {a, 3, "Last Traded Price"}, {x, 3, "Last Index Value"}, {a, 5, "Percent Change"}, {a, 7, "Total Volume"},
      {a, 8, "Trigger when price hits this or lower"},
      {a, 9, "Difference in dollars between current price and low trigger price"},
      {a, 10, "Trigger when price hits this or higher"}, {a, 11, "Time when price hit high trigger"},
      {a, 13, "Trigger when volume hits this"}, {a, 15, "Time when volume hit trigger"},
      {a, 16, "Trigger when stock announces"},
      {a, 17, "Will show PENDING when the stock is about to announce"},
  };
  for (const Row &r : rows) EXPECT_STREQ(r.tip, alerts_column_tip(r.a, r.col)) << r.col;
  EXPECT_EQ(nullptr, alerts_column_tip(a, 18));
  // Over a cell of the grid the tip shows; leaving hides it.
  alerts_grid *grid = alerts_grid_of(g);
  alert *top = alerts_shown_at(g, 0);
  alerts_row *row = nullptr;
  for (alerts_row *r = grid->rows; r; r = r->next)
    if (r->a == top) row = r;
  ASSERT_NE(nullptr, row);
  const cols_col &c = grid->columns.col[3];
  ASSERT_TRUE(c.shown);
  g->cls->motion(g, c.x0 + c.width / 2, row->y + 1);
  EXPECT_TRUE(tooltip_visible());
  g->cls->leave(g);
  EXPECT_FALSE(tooltip_visible());
  // A click on a row makes it current; one below the rows clears it.
  g->cls->release(g, c.x0, row->y + 1, 1);
  EXPECT_EQ(top, alerts_get_current(g));
  g->cls->release(g, c.x0, row->y + 1, 2);
  EXPECT_EQ(top, alerts_get_current(g)) << "other buttons leave it";
  g->cls->release(g, c.x0, g->r.y + g->r.h - 1, 1);
  EXPECT_EQ(nullptr, alerts_get_current(g));
}

// The issuer-flags icon, the last 10 pixels of the code column, drags the
// issuer's latest announcement (the issuer without one); elsewhere on the
// row the stock is dragged.
TEST_F(AlertsGrid, TheIssuerIconDragsTheLatestAnnouncement) {
  ASSERT_EQ(0, alerts_add_default(bhp));
  g->cls->geometry_changed(g);
  alerts_grid *ag = alerts_grid_of(g);
  ASSERT_GT(alerts_shown_count(g), 0);
  const alerts_row *row = nullptr;
  for (const alerts_row *r = ag->rows; r; r = r->next)
    if (r->shown && r->a->instrument == bhp) row = r;
  ASSERT_NE(row, nullptr);
  const cols_col &code = ag->columns.col[ag->columns.col[2].shown ? 2 : 1];
  ASSERT_TRUE(code.shown);
  const int32_t icon_x = code.x0 + code.width - 3, y = row->y + ag->row_h / 2;
  drag_record rec{};
  struct {
    const char *what;
    int32_t x;
    bool news;
    uint32_t kind;
  } cases[] = {
      {"elsewhere on the row: the stock", code.x0 + 2, false, DND_STOCK},
      {"the icon, no announcement: the issuer", icon_x, false, DND_ISSUER},
      {"the icon with an announcement: the announcement", icon_x, true, DND_NEWS},
  };
  ss_issuer *is = issuer(0, "BHP");
  is->flags |= kInNewsPlain;  // the icon stands only for an issuer with announcement flags
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    if (c.news) ASSERT_NE(ssmodel_add_news(is, 501, 0, nullptr, 0, "Results"), nullptr);
    dnd_clear();
    ASSERT_EQ(g->cls->drag_begin(g, c.x, y, 1, &rec), 1);
    EXPECT_EQ(dnd_kind(), c.kind);
    if (c.kind == DND_NEWS) EXPECT_EQ(dnd_news_item(), is->news.tail);
  }
  dnd_clear();
}

}  // namespace
