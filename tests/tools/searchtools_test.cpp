// The search panel on real search lists: the summary over the settings and
// the user's exchanges, which toggles exist for which user, what each
// toggle sets, each click and each keyword commit as one undo step that
// also brings the title back, Clear, the search action's clear and the
// field that keeps what is being typed.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tools/panelkit.h"
#include "tools/searchtools.h"
#include "toolstest.h"
#include "ui/flyaway.h"
#include "ui/sizer.h"
#include "ui/textbox.h"
#include "windows/content.h"
#include "windows/searchwin.h"
#include "windows/titlebar.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

constexpr uint32_t kAllExchanges = 0x7, kAsxOnlyUser = 0x1;

class SearchPanel : public Panels {
 protected:
  window *win = nullptr;
  searchtools *p = nullptr;
  searchwin *list = nullptr;

  // One search window with its panel shown, made for a user of `bits`.
  void open(uint32_t bits = kAllExchanges) {
    ssuser_set(1, 0, bits);
    win = window_new(root, 0);
    win->r = {0, 0, 900, 400};
    window_set_role(win, kRoleSearch);
    widget *panel = window_get_tools(win, kRoleSearch);
    ASSERT_TRUE(searchtools_is(panel));
    p = static_cast<searchtools *>(panel);
    list = searchwin_cast(window_get_content(win, kRoleSearch));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(p->owner, static_cast<widget *>(list));
    widget_show(p);
    redraw_passes();
  }
  void TearDown() override {
    if (win) {
      container_cls(root)->remove(root, win);
      widget_delete(win);
    }
    Panels::TearDown();
  }
  std::string title() { return window_get_titlebar(win)->caption; }
  void commit(const char *text, int code = TEXTBOX_ENTER) {
    textbox_set_text(p->keyword, text);
    p->keyword->callback(p->keyword, code, p->keyword->arg, p->keyword->id);
  }
};

TEST_F(SearchPanel, SummaryTable) {
  using setup = std::function<void(searchwin *)>;
  struct row {
    const char *name;
    uint32_t user;
    setup set;
    const char *want;
  } rows[] = {
      {"defaults", kAllExchanges, nullptr, ""},
      {"a lower-case keyword leads, then no derivatives and no indices", kAllExchanges,
       [](searchwin *s) {
         searchwin_set_derivatives(s, 0);
         searchwin_set_indices(s, 0);
         searchwin_set_keyword(s, "bhp");
       },
       "LIKE BHP, NO DERIVS, NO INDICES"},
      {"one character is no keyword", kAllExchanges, [](searchwin *s) { searchwin_set_keyword(s, "b"); }, ""},
      {"every piece in order", kAllExchanges,
       [](searchwin *s) {
         searchwin_set_keyword(s, "Bank");
         searchwin_set_traded_only(s, 1);
         searchwin_set_quoted_only(s, 1);
         searchwin_set_news_only(s, 1);
         searchwin_set_derivatives(s, 0);
         searchwin_set_indices(s, 0);
         searchwin_set_exchange_shown(s, 1, 0);
       },
       "LIKE BANK, TRADED TODAY, QUOTED, HAS NEWS, NO DERIVS, NO INDICES, ASX ONLY"},
      {"sensitive news wins over news", kAllExchanges,
       [](searchwin *s) {
         searchwin_set_news_only(s, 1);
         searchwin_set_sensitive_news_only(s, 1);
       },
       "HAS SENSITIVE NEWS"},
      {"all venues has no piece", kAllExchanges, [](searchwin *s) { searchwin_set_all_venues(s, 1); }, ""},
      {"NZX without ASX", kAllExchanges, [](searchwin *s) { searchwin_set_exchange_shown(s, 0, 0); }, "NZX ONLY"},
      {"neither exchange", kAllExchanges, [](searchwin *s) { searchwin_clear_exchanges(s); }, ""},
      {"a one-exchange user gets no exchange piece", kAsxOnlyUser,
       [](searchwin *s) { searchwin_set_exchange_shown(s, 1, 0); }, ""},
  };
  for (const row &r : rows) {
    ssuser_set(1, 0, r.user);
    searchwin *s = searchwin_cast(searchwin_new(root));
    ASSERT_NE(s, nullptr);
    if (r.set) r.set(s);
    EXPECT_EQ(std::string(searchtools_summary(s)), r.want) << r.name;
    container_cls(root)->remove(root, s);
    widget_delete(s);
  }
  EXPECT_EQ(std::string(searchtools_summary(nullptr)), "");
}

TEST_F(SearchPanel, ExchangeTogglesOnlyForAUserOfSeveralExchanges) {
  open(kAsxOnlyUser);
  EXPECT_EQ(p->asx, nullptr);
  EXPECT_EQ(p->nzx, nullptr);
  for (button *b : {p->derivs, p->venues, p->indices, p->news, p->sensitive, p->traded, p->quoted})
    EXPECT_NE(b, nullptr);
  // The strip fills the panel's height: asked for its own, a box of closed
  // sections has none.
  EXPECT_EQ(static_cast<sizer *>(p->child)->flags, 136u);
}

TEST_F(SearchPanel, EveryToggleSetsItsSettingAsOneUndoStepAndTheTitleFollows) {
  open();
  using get = std::function<uint32_t(const searchwin *)>;
  struct row {
    const char *name;
    button *b;
    get value;
    const char *title;  // after the click
  } rows[] = {
      {"ASX", p->asx, [](const searchwin *s) { return uint32_t(searchwin_get_exchange_shown(s, 0)); }, "NZX ONLY"},
      {"NZX", p->nzx, [](const searchwin *s) { return uint32_t(searchwin_get_exchange_shown(s, 1)); }, "ASX ONLY"},
      {"Derivatives", p->derivs, searchwin_get_derivatives, "NO DERIVS"},
      {"Indices", p->indices, searchwin_get_indices, "NO INDICES"},
      {"All Venues", p->venues, searchwin_get_all_venues, ""},
      {"News", p->news, searchwin_get_news_only, "HAS NEWS"},
      {"Sensitive", p->sensitive, searchwin_get_sensitive_news_only, "HAS SENSITIVE NEWS"},
      {"Traded", p->traded, searchwin_get_traded_only, "TRADED TODAY"},
      {"Quoted", p->quoted, searchwin_get_quoted_only, "QUOTED"},
  };
  for (const row &r : rows) {
    uint32_t before = r.value(list);
    std::string title_before = title();
    click(r.b);
    EXPECT_NE(r.value(list), before) << r.name;
    EXPECT_EQ(undo_types(4), (std::vector<int>{UNDO_GROUP_END, UNDO_SEARCHWIN, UNDO_TOOLS, UNDO_GROUP_BEGIN}))
        << r.name;
    redraw_passes();
    EXPECT_EQ(title(), r.title) << r.name;
    ASSERT_EQ(undo_perform(), 0) << r.name;
    EXPECT_EQ(r.value(list), before) << r.name << ": one undo restores it";
    redraw_passes();
    EXPECT_EQ(title(), title_before) << r.name << ": and the title";
    EXPECT_EQ(panelkit_is_on(r.b), int(before != 0)) << r.name << ": and the toggle";
  }
}

TEST_F(SearchPanel, OnlyAClickEdits) {
  open();
  int held = undo_count();
  for (uint32_t state : {uint32_t(BUTTON_PRESSED), kClick | kDragged, kDroppedOn})
    p->quoted->callback(p->quoted, state, p->quoted->arg, p->quoted->id);
  EXPECT_EQ(undo_count(), held);
  EXPECT_EQ(searchwin_get_quoted_only(list), 0u);
}

TEST_F(SearchPanel, KeywordCommitIsOneUndoStep) {
  open();
  commit("bh", TEXTBOX_CHANGED);
  EXPECT_STREQ(searchwin_get_keyword(list), "") << "a key typed is no commit";
  int held = undo_count();
  commit("bhp");
  EXPECT_STREQ(searchwin_get_keyword(list), "bhp");
  EXPECT_STREQ(searchwin_get_keyword_upper(list), "BHP");
  EXPECT_EQ(undo_count() - held, 4);
  redraw_passes();
  EXPECT_EQ(title(), "LIKE BHP");
  commit("bhp", TEXTBOX_LEFT);
  EXPECT_EQ(undo_count() - held, 4) << "leaving the field unchanged is no step";
  commit("wbc", TEXTBOX_LEFT);
  EXPECT_STREQ(searchwin_get_keyword(list), "wbc") << "leaving the field commits";
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_STREQ(searchwin_get_keyword(list), "bhp");
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_STREQ(searchwin_get_keyword(list), "");
  redraw_passes();
  EXPECT_EQ(title(), "") << "the title follows the undo";
  EXPECT_STREQ(textbox_text(p->keyword), "");
}

TEST_F(SearchPanel, ClearEmptiesFocusesAndUndoes) {
  open();
  commit("anz");
  click(p->clear);
  EXPECT_STREQ(textbox_text(p->keyword), "");
  EXPECT_TRUE(gui_has_focus(p->keyword));
  EXPECT_STREQ(searchwin_get_keyword(list), "");
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_STREQ(searchwin_get_keyword(list), "anz");
  gui_set_focus(nullptr);
}

TEST_F(SearchPanel, SearchActionClearOpensTheSearchSection) {
  open();
  commit("nab");
  fbox_close_flyaway(p->box, p->search);
  searchtools_clear(p);
  EXPECT_STREQ(textbox_text(p->keyword), "");
  EXPECT_TRUE(gui_has_focus(p->keyword));
  EXPECT_TRUE(fbox_flyaway_is_open(p->box, p->search));
  EXPECT_STREQ(searchwin_get_keyword(list), "nab") << "the list keeps its keyword until a commit";
  searchtools_clear(nullptr);  // not a panel: nothing
  gui_set_focus(nullptr);
}

TEST_F(SearchPanel, RefreshKeepsTheTextBeingTyped) {
  open();
  commit("rio");
  gui_set_focus(p->keyword);
  textbox_set_text(p->keyword, "fm");
  tools_refresh_now(p);
  EXPECT_STREQ(textbox_text(p->keyword), "fm");
  gui_set_focus(nullptr);
  tools_refresh_now(p);
  EXPECT_STREQ(textbox_text(p->keyword), "rio");
}

TEST_F(SearchPanel, IdNineHidesThePanel) {
  open();
  window_show_tools(win);
  ASSERT_EQ(win->show_tools, 1u);
  int held = undo_count();
  p->clear->callback(p->clear, kClick, p->clear->arg, SEARCHTOOLS_HIDE);
  EXPECT_EQ(win->show_tools, 0u);
  EXPECT_EQ(undo_count(), held) << "hiding records no settings";
  EXPECT_EQ(searchtools_apply_id(list, SEARCHTOOLS_HIDE, 1), -1);
}

}  // namespace
