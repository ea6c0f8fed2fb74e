// The alert panel on a real alerts window and the real alert list: the
// title's summary, looking codes up, the typed trigger amounts (exact
// decimals, refusals, clamping), what the panel shows for a stock, an index
// and no alert, New and the code box, Remove, Reset and the defaults.
#include <gtest/gtest.h>

#include <string>

#include "config/autosave.h"
#include "lib/fmt.h"
#include "log.h"
#include "testlog.h"
#include "tools/alerttools.h"
#include "toolstest.h"
#include "ui/label.h"
#include "ui/textbox.h"
#include "windows/alertlist.h"
#include "windows/alerts.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class AlertPanel : public Panels {
 protected:
  window *win = nullptr;
  alerttools *p = nullptr;
  widget *grid = nullptr;
  ss_stock *bhp = nullptr, *bhp_nz = nullptr, *cba = nullptr, *x0 = nullptr, *x1 = nullptr;
  ss_index *xjo = nullptr;

  void SetUp() override {
    Panels::SetUp();
    ss_exchange *ex1 = ssmodel_exchange(1);
    bhp = ssmodel_get_stock(ex0, "BHP");
    bhp_nz = ssmodel_get_stock(ex1, "BHP");
    cba = ssmodel_get_stock(ex0, "CBA");
    x0 = ssmodel_get_stock(ex0, "X");
    x1 = ssmodel_get_stock(ex1, "X");
    xjo = ssmodel_add_index(ex0, "XJO");
    bhp->last = 4000;
    bhp->volume = 1234567;
    cba->last = 10000;
    xjo->value = 700012;
    alerts_set_default_movement(0);
    alerts_set_default_news(0);
    win = window_new(root, 0);
    win->r = {0, 0, 900, 400};
    window_set_role(win, kRoleAlerts);
    widget_show(root);
    grid = window_get_content(win, kRoleAlerts);
    widget *t = window_get_tools(win, kRoleAlerts);
    ASSERT_TRUE(alerttools_is(t));
    p = static_cast<alerttools *>(t);
    tools_refresh_now(p);
  }
  void TearDown() override {
    container_cls(root)->remove(root, win);
    widget_delete(win);
    alerts_fini();
    Panels::TearDown();
  }
  static void type_into(textbox *t, const char *text, int code = TEXTBOX_ENTER) {
    textbox_set_text(t, text);
    t->callback(t, code, t->arg, t->id);
  }
  // An alert on `in` made current through the code box.
  alert *current_on(const char *code) {
    type_into(p->code, code);
    return alerts_get_current(grid);
  }
  static int32_t active_id(button_group *g) { return g->active ? g->active->id : -1; }
  button *id(int32_t i) { return alerttools_button(p, i); }
};

// ---- the summary -----------------------------------------------------------------

TEST_F(AlertPanel, SummaryFollowsTheClickedSettings) {
  EXPECT_STREQ("ALPHABETICAL", tools_summary(p)) << "every trigger shown, all alerts";
  // Only "Volume" left among the trigger toggles.
  for (int32_t i : {7, 8, 10, 21}) click(id(i));
  EXPECT_EQ(uint32_t(ALERT_VOLUME), alerts_get_trigger_filter(grid));
  EXPECT_STREQ("ALPHABETICAL, HAS VOLUME", tools_summary(p));
  click(id(10));
  EXPECT_STREQ("ALPHABETICAL", tools_summary(p)) << "two triggers: no HAS part";
  click(id(5));
  EXPECT_STREQ("ALPHABETICAL, PART FIRED", tools_summary(p));
  click(id(6));
  EXPECT_STREQ("ALPHABETICAL, NOT FIRED", tools_summary(p));
  click(id(3));
  EXPECT_STREQ("ALPHABETICAL", tools_summary(p)) << "All adds nothing";
  click(id(1));
  EXPECT_EQ(1u, alerts_get_order(grid));
  EXPECT_STREQ("CLOSEST TO FIRING", tools_summary(p));
}

TEST_F(AlertPanel, SummaryTable) {
  struct row {
    uint32_t order, trigger, fired;
    const char *want;
  } rows[] = {
      {0, ALERT_LOW, 4, "ALPHABETICAL, HAS LOW PRICE"},
      {1, ALERT_HIGH, 1, "CLOSEST TO FIRING, HAS HIGH PRICE, COMPLETELY FIRED"},
      {0, ALERT_NEWS, 3, "ALPHABETICAL, HAS NEWS, NOT FIRED"},
      {0, ALERT_NONE, 2, "ALPHABETICAL, PART FIRED"},  // "show unset" is no trigger
      {0, 0, 4, "ALPHABETICAL"},
      {7, ALERT_VOLUME, 9, "HAS VOLUME"},
      {7, 0, 4, ""},
  };
  for (const row &r : rows) EXPECT_STREQ(r.want, alerttools_summary_of(r.order, r.trigger, r.fired)) << r.want;
}

// ---- lookup ------------------------------------------------------------------------

TEST_F(AlertPanel, LookupTable) {
  ss_index *both = ssmodel_add_index(ex0, "CBA");  // a code that is a stock and an index
  ASSERT_NE(nullptr, both);
  std::string forty(40, 'B');
  std::string long_bhp = "BHPQQQQQQQQQQQQ";  // its first 11 characters name no stock
  ss_stock *eleven = ssmodel_get_stock(ex0, "ABCDEFGHIJK");
  struct row {
    int32_t default_ex;
    std::string text;
    instr *want;
  } rows[] = {
      {0, "bhp", bhp},         {1, "bhp", bhp_nz},   {0, "BHP.N", bhp_nz}, {1, "BHP.A", bhp},
      {1, "X.A", x0},          {0, "X.n", x1},       {0, "X.", x0},        {1, "X.", x1},
      {0, "X.Q", x0},          {0, "xjo", xjo},      {1, "xjo", nullptr},  {0, "CBA", cba},
      {0, forty, nullptr},     {0, "NOPE", nullptr}, {0, "", nullptr},     {0, ".N", nullptr},
      {0, long_bhp, nullptr},  {0, "ABCDEFGHIJKLMNOP", nullptr}, {0, "abcdefghijk", eleven},
  };
  for (const row &r : rows) {
    action_set_default_exchange(uint32_t(r.default_ex));
    EXPECT_EQ(r.want, alerttools_lookup(r.text.c_str())) << r.text << " default " << r.default_ex;
  }
  action_set_default_exchange(0);
}

// ---- entries -----------------------------------------------------------------------

TEST_F(AlertPanel, TypedTriggerAmounts) {
  ASSERT_EQ(static_cast<instr *>(cba), current_on("CBA")->instrument);
  alert *a = alerts_get_current(grid);
  struct row {
    textbox *alerttools::*box;
    const char *text;
    bool changes;
    uint64_t want;
  } rows[] = {
      {&alerttools::min_price, "1.255", true, 126},
      {&alerttools::min_price, "2.5", true, 250},
      {&alerttools::max_price, "1.5k", true, 150000},
      {&alerttools::max_price, "", true, kAlertNoPrice},
      {&alerttools::min_price, "nan", false, 0},
      {&alerttools::min_price, "-1", false, 0},
      {&alerttools::min_price, "1e30", true, kAlertNoPrice - 1},
      {&alerttools::min_volume, "1.5k", true, 1500},
      {&alerttools::min_volume, "2.5", true, 3},
      {&alerttools::min_volume, "inf", false, 0},
      {&alerttools::min_volume, "", true, kAlertNoVolume},
  };
  for (const row &r : rows) {
    const bool vol = r.box == &alerttools::min_volume;
    const bool low = r.box == &alerttools::min_price;
    auto value = [&]() -> uint64_t { return vol ? a->min_volume : low ? a->min_price : a->max_price; };
    const uint64_t before = value();
    type_into(p->*r.box, r.text);
    EXPECT_EQ(r.changes ? r.want : before, value()) << r.text;
    if (!r.changes) {
      // The refused text gives way to the trigger as it stands.
      std::string shown = textbox_text(p->*r.box);
      EXPECT_NE(std::string(r.text), shown) << r.text;
    }
  }
  EXPECT_STREQ("42949672.94", textbox_text(p->min_price)) << "shown as hundredths";
}

TEST_F(AlertPanel, ANewTriggerClearsTheFiredStateAndMarksTheConfigurationUrgent) {
  alert *a = current_on("BHP");
  ASSERT_NE(nullptr, a);
  type_into(p->max_price, "39");  // below the last price: fires at once
  ASSERT_NE(0, a->high_fired) << "fired";
  tools_refresh_now(p);
  EXPECT_TRUE(button_is_sensitive(p->reset)) << "a fired alert can be reset";
  config_autosave_cancel();
  ASSERT_EQ(-1, config_autosave_remaining());
  type_into(p->max_price, "45");
  EXPECT_EQ(0, a->high_fired) << "the new trigger starts unfired";
  EXPECT_FALSE(button_is_sensitive(p->reset));
  EXPECT_EQ(1, config_autosave_pending());
  EXPECT_LE(config_autosave_remaining(), kAutosaveDelays[2]) << "level 2";
  // An emptied box unsets the trigger, and marks the configuration too.
  config_autosave_cancel();
  type_into(p->min_volume, "");
  EXPECT_EQ(kAlertNoVolume, a->min_volume);
  EXPECT_LE(config_autosave_remaining(), kAutosaveDelays[2]);
  EXPECT_GE(config_autosave_remaining(), 0);
}

TEST_F(AlertPanel, TextThatIsNoAmountIsLoggedAndChangesNothing) {
  alert *a = current_on("BHP");
  ASSERT_NE(nullptr, a);
  type_into(p->min_price, "12");
  const uint64_t since = log_count();
  type_into(p->min_price, "1.2.3");
  EXPECT_EQ(1200u, a->min_price);
  EXPECT_STREQ("12", textbox_text(p->min_price));
  EXPECT_TRUE(logged_since(since, "can't parse 1.2.3"));
}

// ---- what the panel shows ----------------------------------------------------------

TEST_F(AlertPanel, FieldsForAStockAnIndexAndNoAlert) {
  tools_refresh_now(p);
  EXPECT_STREQ("", textbox_text(p->code));
  EXPECT_STREQ("", label_text(p->info));
  EXPECT_STREQ("k,t,m,b", label_text(p->info2));
  EXPECT_TRUE(textbox_is_editable(p->min_volume));
  EXPECT_TRUE(button_is_sensitive(p->news_trigger));
  EXPECT_FALSE(button_is_sensitive(p->remove));

  ASSERT_NE(nullptr, current_on("xjo"));
  EXPECT_STREQ("XJO", textbox_text(p->code));
  EXPECT_STREQ(fmt_cents(700012), label_text(p->info));
  EXPECT_STREQ("", label_text(p->info2));
  EXPECT_FALSE(textbox_is_editable(p->min_volume)) << "an index has no volume";
  EXPECT_FALSE(button_is_sensitive(p->news_trigger)) << "nor announcements";
  EXPECT_TRUE(button_is_sensitive(p->remove));

  ASSERT_NE(nullptr, current_on("bhp"));
  EXPECT_STREQ("BHP", textbox_text(p->code));
  EXPECT_STREQ(fmt_price(4000), label_text(p->info));
  EXPECT_STREQ(fmt_count_short(1234567), label_text(p->info2));
  EXPECT_TRUE(textbox_is_editable(p->min_volume));
  EXPECT_TRUE(button_is_sensitive(p->news_trigger));
}

TEST_F(AlertPanel, RefreshShowsTheGridsSettingsAndTheDefaults) {
  alerts_set_order(grid, 1);
  alerts_set_fired_filter(grid, 3);
  alerts_set_trigger_filter(grid, ALERT_HIGH | ALERT_NEWS);
  alerts_set_trigger_filter_conjunctive(grid, 1);
  alerts_set_default_movement(5);
  alerts_set_default_news(1);
  tools_refresh_now(p);
  EXPECT_EQ(1, active_id(&p->order));
  EXPECT_EQ(6, active_id(&p->fired));
  EXPECT_FALSE(p->low->state & BUTTON_ACTIVE);
  EXPECT_TRUE(p->high->state & BUTTON_ACTIVE);
  EXPECT_FALSE(p->volume->state & BUTTON_ACTIVE);
  EXPECT_TRUE(p->news->state & BUTTON_ACTIVE);
  EXPECT_FALSE(p->unset->state & BUTTON_ACTIVE);
  EXPECT_TRUE(p->exact->state & BUTTON_ACTIVE);
  EXPECT_FALSE(p->any->state & BUTTON_ACTIVE);
  EXPECT_EQ(24, active_id(&p->movement));
  EXPECT_TRUE(p->default_news->state & BUTTON_ACTIVE);
  EXPECT_FALSE(p->ticker->state & BUTTON_ACTIVE) << "no screen, no ticker shown";

  // Match Any is the mirror of Match Exact.
  click(p->any);
  EXPECT_EQ(0u, alerts_get_trigger_filter_conjunctive(grid));
  EXPECT_FALSE(p->exact->state & BUTTON_ACTIVE);
  click(p->exact);
  EXPECT_EQ(1u, alerts_get_trigger_filter_conjunctive(grid));
  EXPECT_FALSE(p->any->state & BUTTON_ACTIVE);

  alerts_set_fired_filter(grid, 1);  // never set by the panel
  alerts_set_default_movement(7);
  const uint64_t since = log_count();
  tools_refresh_now(p);
  EXPECT_EQ(-1, active_id(&p->fired));
  EXPECT_EQ(22, active_id(&p->movement)) << "shown as None";
  EXPECT_TRUE(logged_since(since, "unexpected default movement: 7"));
}

TEST_F(AlertPanel, DefaultsButtons) {
  struct row {
    int32_t id;
    int32_t want;
  } rows[] = {{23, 2}, {24, 5}, {25, 10}, {22, 0}};
  for (const row &r : rows) {
    click(id(r.id));
    EXPECT_EQ(r.want, alerts_get_default_movement()) << r.id;
    EXPECT_EQ(r.id, active_id(&p->movement));
  }
  click(p->default_news);
  EXPECT_EQ(1u, alerts_get_default_news());
  EXPECT_STREQ("Trigger", p->default_news->text);
  click(p->default_news);
  EXPECT_EQ(0u, alerts_get_default_news());
}

// ---- New, the code box, Remove, Reset ---------------------------------------------------

TEST_F(AlertPanel, NewAddsADefaultAlertOrLeavesNoneCurrent) {
  alerts_set_default_movement(10);
  textbox_set_text(p->code, "cba");
  click(p->make_new);
  alert *a = alerts_find(cba);
  ASSERT_NE(nullptr, a) << "a default alert";
  EXPECT_EQ(a, alerts_get_current(grid));
  EXPECT_EQ(9000u, a->min_price) << "10% under the last price";
  EXPECT_EQ(11000u, a->max_price);
  EXPECT_STREQ("90", textbox_text(p->min_price));

  textbox_set_text(p->code, "CBA");
  click(p->make_new);
  EXPECT_EQ(nullptr, alerts_get_current(grid)) << "the code already has an alert";
  EXPECT_EQ(1, alerts_count());

  ASSERT_NE(nullptr, current_on("CBA"));
  textbox_set_text(p->code, "NOPE");
  click(p->make_new);
  EXPECT_EQ(nullptr, alerts_get_current(grid)) << "an unknown code";
  EXPECT_EQ(1, alerts_count());

  // Undo takes the added alert away again.
  ASSERT_EQ(0, undo_perform());
  EXPECT_EQ(nullptr, alerts_find(cba));
}

TEST_F(AlertPanel, CodeBoxSelectsAddsOrEmpties) {
  ASSERT_NE(nullptr, alerts_set_alert(bhp, 3000, kAlertNoPrice, kAlertNoVolume, 0, 0));
  alert *a = current_on("BHP");
  EXPECT_EQ(alerts_find(bhp), a) << "the existing alert";
  EXPECT_EQ(3000u, a->min_price);
  EXPECT_STREQ("30", textbox_text(p->min_price));
  EXPECT_EQ(static_cast<instr *>(bhp_nz), current_on("bhp.n")->instrument) << "added";
  EXPECT_EQ(2, alerts_count());
  type_into(p->code, "NOPE");
  EXPECT_STREQ("", textbox_text(p->code)) << "an unknown code empties the box";
  EXPECT_NE(nullptr, alerts_get_current(grid)) << "and keeps the current alert";
  type_into(p->code, "");
  EXPECT_EQ(nullptr, alerts_get_current(grid)) << "an empty box: none current";
  tools_refresh_now(p);
  EXPECT_STREQ("", textbox_text(p->min_price));
  // Typing into the trigger boxes without a current alert changes nothing.
  type_into(p->min_price, "12");
  EXPECT_EQ(3000u, alerts_find(bhp)->min_price);
}

TEST_F(AlertPanel, RemoveAndResetActOnTheCurrentAlert) {
  alert *a = current_on("BHP");
  ASSERT_NE(nullptr, a);
  type_into(p->max_price, "39");
  ASSERT_NE(0, a->high_fired);
  bhp->last = 3800;  // back under the trigger: the restarted alert waits
  click(p->reset);
  EXPECT_EQ(0, a->high_fired) << "restarted";
  EXPECT_EQ(3900u, a->max_price) << "the trigger stays";
  click(p->remove);
  EXPECT_EQ(nullptr, alerts_find(bhp));
  EXPECT_EQ(nullptr, alerts_get_current(grid));
  EXPECT_FALSE(button_is_sensitive(p->remove));
  ASSERT_EQ(0, undo_perform());
  ASSERT_NE(nullptr, alerts_find(bhp)) << "the window recorded the removal";
  EXPECT_EQ(3900u, alerts_find(bhp)->max_price);
}

// The grid tells its shown panel when its current row changes and when the
// current alert fires; the panel reads it after the next redraw.
TEST_F(AlertPanel, TheGridsCurrentRowAndItsFiringReachTheShownPanel) {
  window_show_tools(win);
  ASSERT_TRUE(widget_is_shown(p));
  redraw_passes();
  ASSERT_NE(nullptr, alerts_set_alert(cba, kAlertNoPrice, 10100, kAlertNoVolume, 0, 0));
  ASSERT_EQ(0, alerts_select(grid, cba));
  EXPECT_STREQ("", textbox_text(p->code)) << "not before the redraw";
  redraw_passes();
  EXPECT_STREQ("CBA", textbox_text(p->code));
  EXPECT_STREQ("101", textbox_text(p->max_price));
  EXPECT_FALSE(button_is_sensitive(p->reset));
  cba->last = 10200;
  alerts_evaluate(alerts_find(cba));
  ASSERT_NE(0, alerts_find(cba)->high_fired);
  redraw_passes();
  EXPECT_TRUE(button_is_sensitive(p->reset)) << "a fired alert can be reset";
  alerts_clear_current(grid);
  redraw_passes();
  EXPECT_STREQ("", textbox_text(p->code));
  EXPECT_FALSE(button_is_sensitive(p->remove));
}

TEST_F(AlertPanel, OnlyAClickActsAndUnknownIdsAreIgnored) {
  button *code = id(2);
  ASSERT_NE(nullptr, code);
  alerts_set_order(grid, 1);
  code->callback(code, kClick | kDragged, code->arg, code->id);
  EXPECT_EQ(1u, alerts_get_order(grid));
  code->callback(code, 0, code->arg, code->id);
  EXPECT_EQ(1u, alerts_get_order(grid));
  code->callback(code, kClick, code->arg, 29);  // no command 29
  code->callback(code, kClick, code->arg, 0);
  EXPECT_EQ(1u, alerts_get_order(grid));
  code->callback(code, kClick, code->arg, code->id);
  EXPECT_EQ(0u, alerts_get_order(grid));
}

}  // namespace
