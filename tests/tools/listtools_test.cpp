// The index, option and forex list panels on real lists: the summaries
// over the settings and the user's exchanges, which buttons exist for which
// user, what every button sets (the index panel's two sections share ids and
// never stand in for each other), one undo step per edit, an index edit
// that stays in its window whatever the Shift key, and a Shift edit of the
// option panel that reaches every option list of the desktop as one step.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tools/listtools.h"
#include "tools/panelkit.h"
#include "toolstest.h"
#include "ui/sizer.h"
#include "windows/content.h"
#include "windows/indexlist.h"
#include "windows/optionlist.h"
#include "windows/titlebar.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

constexpr uint32_t kAllUser = 0x7, kNzxOnlyUser = 0x2;

class ListPanels : public Panels {
 protected:
  std::vector<window *> wins;

  // A window of `role` under root with its panel shown.
  window *open(uint32_t role) {
    window *w = window_new(root, 0);
    w->r = {0, 0, 900, 400};
    window_set_role(w, role);
    wins.push_back(w);
    widget *p = window_get_tools(w, role);
    if (p) widget_show(p);
    redraw_passes();
    return w;
  }
  void TearDown() override {
    for (window *w : wins) {
      container_cls(root)->remove(root, w);
      widget_delete(w);
    }
    Panels::TearDown();
  }
  static std::string title(window *w) { return window_get_titlebar(w)->caption; }
  static std::vector<int> group_of(int list_type) {
    return {UNDO_GROUP_END, list_type, UNDO_TOOLS, UNDO_GROUP_BEGIN};
  }
};

// ---- index panel -------------------------------------------------------------

indextools *index_panel(window *w) { return static_cast<indextools *>(window_get_tools(w, kRoleIndexlist)); }
indexlist *index_list(window *w) { return indexlist_cast(window_get_content(w, kRoleIndexlist)); }

TEST_F(ListPanels, IndexSummaryTable) {
  struct row {
    uint32_t user;
    uint32_t filter;
    int shown[3];
    const char *want;
  } rows[] = {
      {kAllUser, 7, {1, 1, 1}, ""},
      {kAllUser, 0, {1, 1, 1}, ""},
      {kAllUser, 5, {1, 1, 1}, "MAJOR OR OTHER ONLY"},
      {kAllUser, 2, {1, 1, 1}, "SECTOR ONLY"},
      {kAllUser, 3, {1, 1, 1}, "MAJOR OR SECTOR ONLY"},
      {kAllUser, 7, {1, 0, 1}, "ASX, GLOBAL ONLY"},
      {kAllUser, 7, {0, 1, 0}, "NZX ONLY"},
      {kAllUser, 7, {0, 0, 0}, ""},
      {kAllUser, 4, {0, 0, 1}, "OTHER ONLY, GLOBAL ONLY"},
      // No ASX button: the exchanges with buttons are all shown.
      {kNzxOnlyUser, 7, {0, 1, 1}, ""},
      {kNzxOnlyUser, 7, {0, 0, 1}, "GLOBAL ONLY"},
  };
  for (const row &r : rows) {
    ssuser_set(1, 0, r.user);
    indexlist *l = indexlist_cast(indexlist_new(root));
    ASSERT_NE(l, nullptr);
    indexlist_set_index_filter(l, r.filter);
    for (int i = 0; i < 3; i++) indexlist_set_exchange_shown(l, i, r.shown[i]);
    EXPECT_EQ(std::string(indextools_summary(l)), r.want)
        << "user " << r.user << " filter " << r.filter << " shown " << r.shown[0] << r.shown[1] << r.shown[2];
    container_cls(root)->remove(root, l);
    widget_delete(l);
  }
}

TEST_F(ListPanels, IndexExchangeButtonsFollowThePermissions) {
  struct row {
    uint32_t user;
    bool asx, nzx;
  } rows[] = {{kAllUser, true, true}, {kNzxOnlyUser, false, true}, {0x1, true, false}, {0, false, false}};
  for (const row &r : rows) {
    ssuser_set(1, 0, r.user);
    indextools *p = index_panel(open(kRoleIndexlist));
    ASSERT_TRUE(indextools_is(p));
    EXPECT_EQ(p->asx != nullptr, r.asx) << r.user;
    EXPECT_EQ(p->nzx != nullptr, r.nzx) << r.user;
    EXPECT_NE(p->global, nullptr) << "Global always";
    EXPECT_EQ(static_cast<sizer *>(p->child)->flags, 136u);
  }
}

TEST_F(ListPanels, IndexButtonsTable) {
  window *w = open(kRoleIndexlist);
  indextools *p = index_panel(w);
  indexlist *l = index_list(w);
  struct state {
    uint32_t filter, order, reversed;
    int ex[3];
    bool operator==(const state &o) const {
      return filter == o.filter && order == o.order && reversed == o.reversed && ex[0] == o.ex[0] &&
             ex[1] == o.ex[1] && ex[2] == o.ex[2];
    }
  };
  auto now = [l] {
    return state{indexlist_get_index_filter(l), indexlist_get_order(l), indexlist_get_reversed(l),
                 {indexlist_get_exchange_shown(l, 0), indexlist_get_exchange_shown(l, 1),
                  indexlist_get_exchange_shown(l, 2)}};
  };
  // From the list's start (filter 7, order 1, exchanges 0 and 1 of the
  // user's, Global not yet shown), each click alone, then undone.
  state start = now();
  ASSERT_EQ(start.filter, 7u);
  ASSERT_EQ(start.order, 1u);
  struct row {
    const char *name;
    button *b;
    std::function<void(state &)> change;
  } rows[] = {
      {"Major", p->major, [](state &s) { s.filter = 6; }},
      {"Sectorial", p->sectorial, [](state &s) { s.filter = 5; }},
      {"Other", p->other, [](state &s) { s.filter = 3; }},
      {"ASX", p->asx, [](state &s) { s.ex[0] = 0; }},
      {"NZX", p->nzx, [](state &s) { s.ex[1] = 0; }},
      {"Global", p->global, [](state &s) { s.ex[2] = !s.ex[2]; }},
      {"% Change", button_group_member(&p->order, INDEXTOOLS_PCT_CHANGE), [](state &s) { s.order = 3; }},
      {"Change", button_group_member(&p->order, INDEXTOOLS_CHANGE), [](state &s) { s.order = 2; }},
      {"Name", button_group_member(&p->order, INDEXTOOLS_NAME), [](state &s) { s.order = 12; }},
      {"Reverse", p->reverse, [](state &s) { s.reversed = 1; }},
  };
  for (const row &r : rows) {
    state want = start;
    r.change(want);
    click(r.b);
    EXPECT_TRUE(now() == want) << r.name << ": filter " << now().filter << " order " << now().order;
    EXPECT_EQ(undo_types(4), group_of(UNDO_INDEXLIST)) << r.name;
    ASSERT_EQ(undo_perform(), 0);
    EXPECT_TRUE(now() == start) << r.name << " undone";
  }
  // "Code" from another order, and the refresh shows each order's button.
  indexlist_set_order(l, 12);
  click(button_group_member(&p->order, INDEXTOOLS_CODE));
  EXPECT_EQ(indexlist_get_order(l), 1u);
  for (uint32_t order : {1u, 2u, 3u, 12u}) {
    indexlist_set_order(l, order);
    tools_refresh_now(p);
    ASSERT_NE(p->order.active, nullptr);
    EXPECT_EQ(p->order.active->id, indextools_order_id(order));
  }
  indexlist_set_order(l, 7);
  tools_refresh_now(p);
  EXPECT_EQ(p->order.active, nullptr) << "an order without a button selects none";
  EXPECT_EQ(indextools_apply_select(l, 6, 1), -1);
  EXPECT_EQ(indextools_apply_order(l, 5, 1), -1);
}

TEST_F(ListPanels, IndexEditsNeverSpreadWhateverTheShiftKey) {
  std::vector<window *> ws = desk_of_role(kRoleIndexlist, 3);
  tools_refresh_now(index_panel(ws[0]));  // the toggles show the list's filter
  shift(true);
  click(button_group_member(&index_panel(ws[0])->order, INDEXTOOLS_NAME));
  click(index_panel(ws[0])->sectorial);
  shift(false);
  EXPECT_EQ(indexlist_get_order(index_list(ws[0])), 12u);
  EXPECT_EQ(indexlist_get_index_filter(index_list(ws[0])), 5u);
  for (int i = 1; i < 3; i++) {
    EXPECT_EQ(indexlist_get_order(index_list(ws[i])), 1u) << i;
    EXPECT_EQ(indexlist_get_index_filter(index_list(ws[i])), 7u) << i;
  }
  EXPECT_EQ(window_get_content(ws[0], kRoleIndexlist), static_cast<widget *>(index_list(ws[0])));
}

// ---- option panel ------------------------------------------------------------

optiontools *option_panel(window *w) { return static_cast<optiontools *>(window_get_tools(w, kRoleOptionlist)); }
optionlist *option_list(window *w) { return optionlist_cast(window_get_content(w, kRoleOptionlist)); }

constexpr uint32_t kKinds = OPT_CALLS | OPT_PUTS | OPT_NEITHER | OPT_ATTR10 | OPT_ATTR8;

TEST_F(ListPanels, OptionSummaryTable) {
  struct row {
    uint32_t filter, order, months;
    const char *want;
  } rows[] = {
      // The money bits, all eight ways.
      {kKinds, 0, 0, "DERIVS, ALPHABETICAL"},
      {kKinds | OPT_IN_MONEY, 0, 0, "DERIVS, ALPHABETICAL, IN THE MONEY"},
      {kKinds | OPT_AT_MONEY, 0, 0, "DERIVS, ALPHABETICAL, AT THE MONEY"},
      {kKinds | OPT_OUT_MONEY, 0, 0, "DERIVS, ALPHABETICAL, OUT OF THE MONEY"},
      {kKinds | OPT_IN_MONEY | OPT_AT_MONEY, 0, 0, "DERIVS, ALPHABETICAL, IN OR AT THE MONEY"},
      {kKinds | OPT_IN_MONEY | OPT_OUT_MONEY, 0, 0, "DERIVS, ALPHABETICAL, IN THE MONEY"},
      {kKinds | OPT_AT_MONEY | OPT_OUT_MONEY, 0, 0, "DERIVS, ALPHABETICAL, AT OR OUT OF THE MONEY"},
      {kKinds | OPT_MONEYNESS, 0, 0, "DERIVS, ALPHABETICAL"},
      // Expiries.
      {kKinds, 1, 3, "DERIVS, BY EXPIRY, EXPIRIES IN LESS THAN 3 MONTHS"},
      {kKinds, 1, 12, "DERIVS, BY EXPIRY, EXPIRES IN LESS THAN 1 YEAR"},
      {kKinds, 1, 1, "DERIVS, BY EXPIRY, EXPIRIES IN LESS THAN 1 MONTHS"},
      // Orders.
      {kKinds, 2, 0, "DERIVS, BY STRIKE"},
      {kKinds, 3, 0, "DERIVS, BY INTRINSIC"},
      {kKinds, 4, 0, "DERIVS, BY VOLUME"},
      {kKinds, 5, 0, "DERIVS, BY OPEN INTEREST"},
      {kKinds, 9, 0, "DERIVS"},
      // Cleared kinds and set attributes.
      {0, 0, 0, "DERIVS, ALPHABETICAL, NO CALLS, NO PUTS, NO OTHERS, NO OPTIONS, NO WARRANTS"},
      {kKinds | OPT_CLASS_QUOTED | OPT_CLASS_TRADED | OPT_WITH_INTEREST | OPT_OUT_MONEY, 2, 6,
       "DERIVS, BY STRIKE, QUOTED, TRADED TODAY, HAS OPEN INTEREST, OUT OF THE MONEY, EXPIRIES IN LESS THAN 6 MONTHS"},
      // The list's own start.
      {0xFD3B, 1, 0, "DERIVS, BY EXPIRY, NO OTHERS, HAS OPEN INTEREST, IN OR AT THE MONEY"},
  };
  optionlist *o = optionlist_cast(optionlist_new(root));
  ASSERT_NE(o, nullptr);
  for (const row &r : rows) {
    optionlist_set_filter(o, r.filter);
    optionlist_set_order(o, r.order);
    optionlist_set_max_expiry_months(o, r.months);
    EXPECT_EQ(std::string(optiontools_summary(o)), r.want) << std::hex << r.filter << std::dec << " " << r.order;
  }
  container_cls(root)->remove(root, o);
  widget_delete(o);
  EXPECT_EQ(std::string(optiontools_summary(nullptr)), "");
}

TEST_F(ListPanels, OptionButtonsTable) {
  window *w = open(kRoleOptionlist);
  optiontools *p = option_panel(w);
  optionlist *o = option_list(w);
  ASSERT_TRUE(optiontools_is(p));
  EXPECT_EQ(static_cast<sizer *>(p->child)->flags, 136u);
  // Toggles: every filter bit flips from whatever the list has.
  struct toggle_row {
    int32_t id;
    uint32_t bit;
  } toggles[] = {{1, 0x1},   {2, 0x2},   {3, 0x4},    {4, 0x10},   {5, 0x20},  {6, 0x40},
                 {7, 0x80},  {8, 0x100}, {9, 0x200},  {10, 0x400}, {16, 0x800}};
  for (const toggle_row &r : toggles) {
    button *b = nullptr;
    for (button *t : p->toggle)
      if (t && t->id == r.id) b = t;
    ASSERT_NE(b, nullptr) << r.id;
    uint32_t before = optionlist_get_filter(o);
    click(b);
    EXPECT_EQ(optionlist_get_filter(o), before ^ r.bit) << "toggle " << b->text;
    EXPECT_EQ(undo_types(4), group_of(UNDO_OPTIONLIST)) << b->text;
    ASSERT_EQ(undo_perform(), 0);
    EXPECT_EQ(optionlist_get_filter(o), before) << b->text << " undone";
  }
  // Orders: "Open Int" of the Order section (17) is an order, not the bit.
  struct order_row {
    int32_t id;
    uint32_t order;
  } orders[] = {{11, 1}, {12, 2}, {13, 0}, {14, 3}, {15, 4}, {17, 5}};
  for (const order_row &r : orders) {
    uint32_t filter = optionlist_get_filter(o);
    click(button_group_member(&p->order, r.id));
    EXPECT_EQ(optionlist_get_order(o), r.order) << r.id;
    EXPECT_EQ(optionlist_get_filter(o), filter) << r.id;
    tools_refresh_now(p);
    ASSERT_NE(p->order.active, nullptr);
    EXPECT_EQ(p->order.active->id, r.id) << "the refresh selects it";
  }
  // Expiries: "Any" 100, then 101 to 112 as months.
  for (int32_t id = 100; id <= 112; id++) {
    click(button_group_member(&p->expiry, id));
    EXPECT_EQ(optionlist_get_max_expiry_months(o), uint32_t(id - 100));
    tools_refresh_now(p);
    ASSERT_NE(p->expiry.active, nullptr);
    EXPECT_EQ(p->expiry.active->id, id);
  }
  EXPECT_EQ(optiontools_apply_id(o, 18, 1), -1);
  EXPECT_EQ(optiontools_apply_id(o, 113, 1), -1);
  EXPECT_EQ(optiontools_apply_id(nullptr, 1, 1), -1);
}

TEST_F(ListPanels, OptionShiftClickChangesEveryOptionListAsOneUndoStep) {
  std::vector<window *> ws = desk_of_role(kRoleOptionlist, 2);
  optiontools *p = option_panel(ws[0]);
  button *puts = nullptr;
  for (button *t : p->toggle)
    if (t && t->id == 2) puts = t;
  ASSERT_NE(puts, nullptr);
  tools_refresh_now(p);  // the toggles show the list's filter
  for (window *w : ws) ASSERT_TRUE(optionlist_get_filter(option_list(w)) & OPT_PUTS);
  // Without Shift: this window alone.
  click(puts);
  EXPECT_FALSE(optionlist_get_filter(option_list(ws[0])) & OPT_PUTS);
  EXPECT_TRUE(optionlist_get_filter(option_list(ws[1])) & OPT_PUTS);
  ASSERT_EQ(undo_perform(), 0);
  tools_refresh_now(p);
  // With Shift: both, one group of two panels and two lists.
  shift(true);
  click(puts);
  shift(false);
  for (window *w : ws) {
    EXPECT_FALSE(optionlist_get_filter(option_list(w)) & OPT_PUTS);
    std::string t = title(w);
    EXPECT_NE(t.find("NO PUTS"), std::string::npos) << t;
  }
  EXPECT_EQ(undo_types(6), (std::vector<int>{UNDO_GROUP_END, UNDO_OPTIONLIST, UNDO_TOOLS, UNDO_OPTIONLIST,
                                             UNDO_TOOLS, UNDO_GROUP_BEGIN}));
  ASSERT_EQ(undo_perform(), 0);
  for (window *w : ws) {
    EXPECT_TRUE(optionlist_get_filter(option_list(w)) & OPT_PUTS);
    EXPECT_EQ(title(w), "DERIVS, BY EXPIRY, NO OTHERS, HAS OPEN INTEREST, IN OR AT THE MONEY")
        << "the titles follow the undo";
  }
}

// ---- forex panel -------------------------------------------------------------

TEST_F(ListPanels, ForexTogglesAreInert) {
  window *w = open(kRoleForexlist);
  auto *p = static_cast<forextools *>(window_get_tools(w, kRoleForexlist));
  ASSERT_TRUE(forextools_is(p));
  EXPECT_EQ(static_cast<sizer *>(p->child)->flags, 136u);
  const char *names[kForextoolsToggles] = {"ASX", "NZX", "Groups", "Buy", "Sell", "Pending", "Executed", "Cancelled"};
  int held = undo_count();
  for (int i = 0; i < kForextoolsToggles; i++) {
    ASSERT_NE(p->toggle[i], nullptr);
    EXPECT_STREQ(p->toggle[i]->text, names[i]);
    EXPECT_EQ(p->toggle[i]->id, 0);
    EXPECT_EQ(p->toggle[i]->callback, nullptr);
    click(p->toggle[i]);
  }
  EXPECT_EQ(undo_count(), held) << "no edit, no undo step";
  EXPECT_STREQ(tools_summary(p), "");
  window_update_title(w);
  EXPECT_EQ(title(w), "");
}

}  // namespace
