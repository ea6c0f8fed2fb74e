// Market windows over a model built in the test: the role a new instrument
// moves a window to (role x kind x copying), the issuer-to-stock rule, the
// change registration following the instrument, links (passing, the
// same-issuer rule, flattening, nesting cut off), the layout per bar mode
// and height, selection rules, drops, and the title bar's text.
#include "windows/window.h"

#include <gtest/gtest.h>

#include <string>

#include "lib/font.h"
#include "lib/glrecord.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "testlog.h"
#include "testmodel.h"
#include "uitest.h"
#include "windows/content.h"
#include "windows/depthwin.h"
#include "dnd.h"
#include "export/clipboard.h"
#include "quick9.h"
#include "undo.h"
#include "windows/docwin.h"
#include "windows/histnews.h"
#include "windows/titlebar.h"
#include "windows/tradelist.h"
#include "charts/cstyle.h"
#include "term/terminal.h"
#include "windows/nuchart.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

// How many registrations an owner holds on an instrument.
int registrations(instr *in, void *owner) {
  int n = 0;
  for (ss_notify *r = in->notify.head; r; r = r->next)
    if (r->owner == owner && !r->dead) n++;
  return n;
}

class Windows : public WidgetTest {
 public:
  ss_exchange *ex0 = nullptr, *ex1 = nullptr, *ex3 = nullptr;
  instr *bhp = nullptr, *bhp_issuer = nullptr, *lone_issuer = nullptr, *xjo = nullptr, *abcd = nullptr,
        *far = nullptr, *rio = nullptr, *cx = nullptr;

 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    ASSERT_EQ(start_terminal_model(), 0);
    ex0 = ssmodel_exchange(0);
    ex1 = ssmodel_exchange(1);
    ex3 = ssmodel_exchange(3);
    ASSERT_NE(ex0, nullptr);
    bhp = ssmodel_get_stock(ex0, "BHP");
    ASSERT_NE(bhp, nullptr);
    ssmodel_set_stock_names(static_cast<ss_stock *>(bhp), "BHP Group", "BHP Group Limited");
    bhp_issuer = ssmodel_get_issuer(ex0, "BHP");
    ASSERT_NE(bhp_issuer, nullptr);
    ssmodel_set_names(bhp_issuer, "BHP Group", "BHP Group Limited");
    lone_issuer = ssmodel_get_issuer(ex0, "XYZ");
    xjo = ssmodel_get_index(ex0, "XJO");
    abcd = ssmodel_get_stock(ex0, "ABCD");
    far = ssmodel_get_stock(ex3, "QQ");
    rio = ssmodel_get_stock(ex0, "RIO");
    ssmodel_get_issuer(ex0, "RIO");
    cx = ssmodel_get_stock(ex0, "ANZ_CX");
    ssmodel_set_stock_names(static_cast<ss_stock *>(cx), "ANZ Bank", "");
  }
  void TearDown() override {
    window_destroy_all();
    EXPECT_EQ(window_count(), 0);
    ssmodel_fini();
    WidgetTest::TearDown();
  }
  window *fresh(uint32_t role, int32_t kind = 0) {
    window *w = window_new(nullptr, kind);
    window_set_role(w, role);
    return w;
  }
};

TEST_F(Windows, CreatedWithEveryChildAndPanelInOrder) {
  window *w = window_new(nullptr, 0);
  const char *names[] = {"titlebar", "quotebar",  "depthwin",  "tradelist", "tradechart", "histnews", "newstoday",
                         "watchlist", "alerts",   "indexlist", "indexchart", "searchwin", "rsswin",   "rsswin",
                         "logwin",   "docwin",    "nuchart",   "terminal",  "optionlist", "forexlist"};
  for (int i = 0; i < kWindowChildren; i++) {
    ASSERT_NE(w->child[i], nullptr);
    EXPECT_STREQ(object_type_name(widget_obj(w->child[i])), names[i]) << i;
  }
  for (int i = 0; i < kWindowTools; i++) EXPECT_NE(w->tools[i], nullptr) << i;
  EXPECT_EQ(window_get_tools(w, kRoleGoogle), w->tools[12]);
  EXPECT_NE(window_get_tools(w, kRoleGoogle), window_get_tools(w, kRoleRss));
  EXPECT_EQ(w->role, kRoleNone);
  EXPECT_EQ(window_count(), 1);
}

TEST_F(Windows, RoleNames) {
  const struct {
    uint32_t role;
    const char *name, *legacy;
  } rows[] = {{0, "none", "0"},          {1, "watchlist", "1"},  {2, "depth", "3"},       {4, "eventlist", "5"},
              {12, "chart", "14"},       {13, "tradelist", "xx"}, {20, "google", "xx"},   {25, "alerts", "xx"},
              {16, nullptr, nullptr},    {26, nullptr, nullptr}};
  for (const auto &r : rows) {
    if (r.name) {
      EXPECT_STREQ(window_role_name(r.role), r.name);
      EXPECT_STREQ(window_role_legacy_name(r.role), r.legacy);
      EXPECT_EQ(window_role_by_name(r.name), static_cast<int32_t>(r.role));
      if (strcmp(r.legacy, "xx") != 0) EXPECT_EQ(window_role_by_name(r.legacy), static_cast<int32_t>(r.role));
    } else {
      EXPECT_EQ(window_role_name(r.role), nullptr);
    }
  }
  EXPECT_EQ(window_role_by_name("xx"), -1) << "xx marks a row without a legacy name";
  EXPECT_EQ(window_role_by_name("bogus"), -1);
  EXPECT_EQ(window_role_subject_kind(kRoleChart, xjo), 2u);
  EXPECT_EQ(window_role_subject_kind(kRoleChart, nullptr), 1u);
  EXPECT_EQ(window_role_subject_kind(kRoleWatchlist, nullptr), 4u);
}

// Role x kind x copying: the role a window takes and the instrument it shows.
TEST_F(Windows, SubjectMovesTheRole) {
  struct Case {
    const char *name;
    uint32_t role;
    instr *Windows::*in;
    int copying;
    uint32_t want_role;
    instr *Windows::*want_in;
  };
  const Case cases[] = {
      {"stock on watchlist", kRoleWatchlist, &Windows::bhp, 0, kRoleDepth, &Windows::bhp},
      {"stock on none", kRoleNone, &Windows::bhp, 0, kRoleDepth, &Windows::bhp},
      {"stock on indexchart", kRoleIndexchart, &Windows::bhp, 0, kRoleTradechart, &Windows::bhp},
      {"stock on rss", kRoleRss, &Windows::bhp, 0, kRoleGoogle, &Windows::bhp},
      {"stock on newstoday", kRoleNewstoday, &Windows::bhp, 0, kRoleHistnews, &Windows::bhp_issuer},
      {"stock on chart stays", kRoleChart, &Windows::bhp, 0, kRoleChart, &Windows::bhp},
      {"short stock on optionlist stays", kRoleOptionlist, &Windows::rio, 0, kRoleOptionlist, &Windows::rio},
      {"long code on optionlist to depth", kRoleOptionlist, &Windows::abcd, 0, kRoleDepth, &Windows::abcd},
      {"exchange 3 on optionlist to depth", kRoleOptionlist, &Windows::far, 0, kRoleDepth, &Windows::far},
      {"issuer with stock on depth", kRoleDepth, &Windows::bhp_issuer, 0, kRoleDepth, &Windows::bhp},
      {"issuer on histnews stays issuer", kRoleHistnews, &Windows::bhp_issuer, 0, kRoleHistnews,
       &Windows::bhp_issuer},
      {"issuer on document stays issuer", kRoleDocument, &Windows::bhp_issuer, 0, kRoleDocument,
       &Windows::bhp_issuer},
      {"issuer without stock on depth", kRoleDepth, &Windows::lone_issuer, 0, kRoleHistnews,
       &Windows::lone_issuer},
      {"index on depth", kRoleDepth, &Windows::xjo, 0, kRoleIndexchart, &Windows::xjo},
      {"index on chart stays", kRoleChart, &Windows::xjo, 0, kRoleChart, &Windows::xjo},
      {"index on optionlist stays", kRoleOptionlist, &Windows::xjo, 0, kRoleOptionlist, &Windows::xjo},
      {"copying keeps the role", kRoleWatchlist, &Windows::bhp, 1, kRoleWatchlist, nullptr},
      {"copying keeps the issuer", kRoleDepth, &Windows::bhp_issuer, 1, kRoleDepth, &Windows::bhp_issuer},
  };
  for (const Case &c : cases) {
    window *source = fresh(c.role);
    window *w = fresh(c.role);
    if (c.copying) {
      source->instrument = this->*c.in;  // the source of a split already shows it
      window_copy(w, source);
    } else {
      window_set_instrument(w, this->*c.in);
    }
    EXPECT_EQ(w->role, c.want_role) << c.name;
    // Copying into a watchlist keeps the role, and the role keeps no instrument.
    instr *want = c.want_in ? this->*c.want_in : nullptr;
    EXPECT_EQ(w->instrument, want) << c.name;
  }
}

TEST_F(Windows, ContentsGetTheInstrumentByKind) {
  window *w = fresh(kRoleDepth);
  // Kinds built as classes of their own are covered by their own tests.
  auto got = [&](int i) -> instr * {
    if (i == kWinDepth) return depthwin_get_book(w->child[i])->instrument;
    return content_is(w->child[i]) ? static_cast<content *>(w->child[i])->instrument : nullptr;
  };
  window_set_instrument(w, bhp);
  EXPECT_EQ(got(kWinDepth), bhp);
  EXPECT_EQ(got(kWinQuotebar), bhp);
  EXPECT_EQ(got(kWinIndexchart), nullptr);
  window_set_instrument(w, xjo);
  EXPECT_EQ(got(kWinDepth), nullptr);
  EXPECT_EQ(got(kWinIndexchart), xjo);
  EXPECT_EQ(got(kWinQuotebar), xjo);
  window_set_instrument(w, nullptr);
  // Kinds built as classes of their own are covered by their own tests;
  // the terminal kind is the terminal widget, which takes no subject.
  for (int i = kWinQuotebar; i < kWindowChildren; i++)
    if (content_is(w->child[i])) EXPECT_EQ(got(i), nullptr) << i;
}

TEST_F(Windows, ChangeRegistrationFollowsTheInstrument) {
  window *w = fresh(kRoleDepth);
  widget_show(w);
  w->cls->show_children(w);
  window_set_instrument(w, bhp);
  EXPECT_EQ(registrations(bhp, w), 1);
  ASSERT_NE(bhp->notify.head, nullptr);
  window_set_instrument(w, rio);
  EXPECT_EQ(registrations(bhp, w), 0);
  EXPECT_EQ(registrations(rio, w), 1);
  bool mask_ok = false;
  for (ss_notify *r = rio->notify.head; r; r = r->next)
    if (r->owner == w) mask_ok = r->mask == kWindowNotifyMask;
  EXPECT_TRUE(mask_ok);
  w->cls->hide_children(w);
  EXPECT_EQ(registrations(rio, w), 0) << "only while visible";
  w->cls->show_children(w);
  EXPECT_EQ(registrations(rio, w), 1);
  // The title bar follows the stock and its issuer by its own registrations.
  titlebar *t = window_get_titlebar(w);
  EXPECT_EQ(registrations(rio, t), 1);
  widget_delete(w);
  EXPECT_EQ(registrations(rio, w), 0);
  EXPECT_EQ(registrations(rio, t), 0);
  // A hidden window takes an instrument without registering.
  window *h = fresh(kRoleDepth);
  window_set_instrument(h, bhp);
  EXPECT_EQ(registrations(bhp, h), 0);
}

TEST_F(Windows, RoleFallbacks) {
  window *w = fresh(kRoleDepth);
  window_set_instrument(w, bhp);
  window_set_instrument(w, xjo);  // to indexchart; remembers BHP as last stock
  EXPECT_EQ(w->role, kRoleIndexchart);
  window_set_role(w, kRoleTradechart);
  EXPECT_EQ(w->instrument, bhp) << "an index in a stock role takes the last stock";
  window_set_role(w, kRoleIndexchart);
  EXPECT_EQ(w->instrument, xjo) << "indexchart takes the last index";
  window_set_role(w, kRoleHistnews);
  EXPECT_EQ(w->instrument, bhp_issuer) << "an index in histnews takes the last stock's issuer";
  // A traded index (a stock bears its code) stays in a stock role; an
  // untraded one gives way to the last stock.
  instr *traded = ssmodel_get_index(ex0, "XTO");
  ssmodel_get_stock(ex0, "XTO");
  const struct {
    instr *index;
    instr *want;
  } rows[] = {{traded, traded}, {xjo, bhp}};
  for (const auto &r : rows) {
    window *d = fresh(kRoleIndexchart);
    d->last_stock = bhp;
    window_set_instrument(d, r.index);
    window_set_role(d, kRoleDepth);
    EXPECT_EQ(d->instrument, r.want) << r.index->code;
  }
  window_set_role(w, kRoleSearch);
  EXPECT_EQ(w->instrument, nullptr);
  EXPECT_STREQ(window_title_text(w), "Search");
  window_set_role(w, kRoleIndexlist);
  EXPECT_STREQ(window_title_text(w), "Indices");
}

TEST_F(Windows, LinksPassInstruments) {
  window *a = fresh(kRoleDepth), *b = fresh(kRoleHistnews), *c = fresh(kRoleDepth);
  window_link_to(a, b);  // b follows a
  EXPECT_EQ(b->link, a);
  EXPECT_EQ(b->bar_mode, 3u);
  window_link_to(b, c);  // c follows b's source
  EXPECT_EQ(c->link, a) << "chains are flattened";
  window_set_instrument(a, bhp);
  EXPECT_EQ(b->instrument, bhp) << "histnews shows the stock's news";
  EXPECT_EQ(c->instrument, bhp);
  // The same issuer again (the issuer of what b shows): b keeps it.
  window_set_instrument(a, bhp_issuer);
  EXPECT_EQ(a->instrument, bhp);
  window_set_instrument(a, rio);
  EXPECT_EQ(c->instrument, rio);
  // An index is always passed.
  window_set_instrument(a, xjo);
  EXPECT_EQ(c->instrument, xjo);
  EXPECT_EQ(c->role, kRoleIndexchart);
  // No subject unlinks a linked window and restores bar mode 0.
  window_set_instrument(c, nullptr);
  EXPECT_EQ(c->link, nullptr);
  EXPECT_EQ(c->bar_mode, 0u);
}

TEST_F(Windows, SameIssuerIsNotPassed) {
  window *a = fresh(kRoleHistnews), *b = fresh(kRoleDepth);
  window_set_instrument(b, bhp);
  b->link = a;
  a->link = nullptr;
  uint32_t given = static_cast<content *>(b->child[kWinQuotebar])->given;
  window_set_instrument(a, bhp_issuer);
  EXPECT_EQ(b->instrument, bhp);
  EXPECT_EQ(static_cast<content *>(b->child[kWinQuotebar])->given, given) << "unchanged";
  EXPECT_EQ(depthwin_get_book(b->child[kWinDepth])->instrument, bhp);
}

TEST_F(Windows, LinkNestingIsCutOff) {
  // A chain each following the one before (links as a damaged layout may
  // hold them, never flattened): passing nests once per window, and stops
  // at the eighth with one log line.
  window *w[12];
  for (int i = 0; i < 12; i++) {
    w[i] = fresh(kRoleDepth);
    if (i) w[i]->link = w[i - 1];
  }
  LogCapture log;
  window_set_instrument(w[0], bhp);
  for (int i = 0; i < 12; i++) EXPECT_EQ(w[i]->instrument, i < kWindowLinkDepth ? bhp : nullptr) << i;
  EXPECT_EQ(log.count("links nest deeper than 8"), 1);
  // Two windows following each other stop by equality, without the limit.
  window *a = fresh(kRoleDepth), *b = fresh(kRoleTradechart);
  a->link = b;
  b->link = a;
  window_set_instrument(a, rio);
  EXPECT_EQ(b->instrument, rio);
  EXPECT_EQ(log.count("links nest deeper than 8"), 1);
}

TEST_F(Windows, LayoutPerBarModeAndHeight) {
  // Without a style the title bar is 20 high and the quote bar 16; content
  // needs 20 rows.
  struct Case {
    uint32_t role, mode;
    int32_t h;
    rect title, quote, depth_or_news;
  };
  const Case cases[] = {
      {kRoleDepth, 0, 100, {0, 0, 200, 20}, {0, 20, 200, 16}, {0, 36, 200, 64}},
      {kRoleDepth, 1, 100, {0, 0, 200, 0}, {0, 0, 200, 0}, {0, 0, 200, 100}},
      // The quote bar alone sits at the top, over no hidden title bar.
      {kRoleDepth, 2, 100, {0, 0, 200, 0}, {0, 0, 200, 16}, {0, 16, 200, 84}},
      {kRoleDepth, 3, 100, {0, 0, 200, 20}, {0, 20, 200, 0}, {0, 20, 200, 80}},
      {kRoleHistnews, 0, 100, {0, 0, 200, 20}, {0, 20, 200, 0}, {0, 20, 200, 80}},
      // Threshold: 36 of bars + 20 of content.
      {kRoleDepth, 0, 56, {0, 0, 200, 20}, {0, 20, 200, 16}, {0, 36, 200, 20}},
      {kRoleDepth, 0, 55, {0, 0, 200, 20}, {0, 20, 200, 16}, {0, 36, 200, 0}},
      {kRoleDepth, 0, 30, {0, 0, 200, 20}, {0, 20, 200, 0}, {0, 36, 200, 0}},
      {kRoleDepth, 0, 19, {0, 0, 200, 0}, {0, 20, 200, 0}, {0, 36, 200, 0}},
  };
  for (const Case &c : cases) {
    window *w = fresh(c.role);
    w->bar_mode = c.mode;
    w->r = {0, 0, 200, c.h};
    w->cls->geometry_changed(w);
    container_cls(w)->layout(w);
    auto same = [](const rect &a, const rect &b) {
      return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
    };
    const rect &t = w->child[kWinTitlebar]->r, &q = w->child[kWinQuotebar]->r;
    const rect &k = window_get_content(w, c.role)->r;
    std::string label = "role " + std::to_string(c.role) + " mode " + std::to_string(c.mode) + " h " +
                        std::to_string(c.h);
    EXPECT_TRUE(same(t, c.title)) << label << " title " << t.y << "+" << t.h;
    EXPECT_TRUE(same(q, c.quote)) << label << " quote " << q.y << "+" << q.h;
    EXPECT_TRUE(same(k, c.depth_or_news)) << label << " content " << k.y << "+" << k.h;
    widget_delete(w);
  }
}

TEST_F(Windows, ToolPanelNeedingHalfTheHeightIsHidden) {
  window *w = fresh(kRoleDepth);
  widget_show(w);
  // The depth window's own panel, at the height it asks for: shown below
  // the content while that is less than half the window, hidden from half.
  widget *panel = window_get_current_tools(w);
  ASSERT_NE(panel, nullptr);
  size req = {0, 0};
  panel->cls->reqsize(panel, &req);
  const int32_t want = req.h;
  ASSERT_GT(want, 0);
  const int32_t bars = 100 - 30 - 34;  // title and quote bars of the window
  const struct {
    int32_t h;
    bool shown;
  } rows[] = {{want * 2 + 1, true}, {want * 2 + 40, true}, {want * 2, false}};
  for (const auto &r : rows) {
    w->show_tools = 0;
    window_show_tools(w);
    w->r = {0, 0, 700, r.h};
    container_cls(w)->layout(w);
    EXPECT_EQ(widget_is_shown(panel), r.shown) << r.h;
    EXPECT_EQ(panel->r.h, r.shown ? want : 0) << r.h;
    EXPECT_EQ(w->child[kWinDepth]->r.h, r.h - bars - (r.shown ? want : 0)) << r.h;
  }
  window_hide_tools(w);
  EXPECT_TRUE(widget_is_hidden(panel));
}

TEST_F(Windows, Selection) {
  window *w = fresh(kRoleWatchlist);
  auto *list = static_cast<content *>(w->child[kWinWatchlist]);
  window_set_row_count(w, 10);
  window_select_row(w, 25);
  EXPECT_EQ(w->selection, 10u) << "capped at a known limit, which may be selected";
  window_select_row(w, -4);
  EXPECT_EQ(w->selection, 0u);
  uint32_t told = list->restyled;
  window_select_row(w, 0);
  EXPECT_EQ(list->restyled, told) << "told only on change";
  window_set_row_count(w, -1);
  EXPECT_EQ(w->row_limit, 0xFFFFFFFFu);
  window_select_row(w, 5000);
  EXPECT_EQ(w->selection, 5000u) << "an unknown limit takes any row";
  window_set_row_count(w, 7);
  EXPECT_EQ(w->selection, 7u) << "a lower limit moves the selection";

  window *doc = fresh(kRoleDocument);
  window_set_row_count(doc, 41);
  EXPECT_EQ(doc->row_limit, 80u);
  window_move_selection(doc, 1);
  EXPECT_EQ(doc->selection, 40u);
  window_move_selection(doc, -3);
  EXPECT_EQ(doc->selection, 0u);

  window *depth = fresh(kRoleDepth);
  window_select_row(depth, 3);
  EXPECT_EQ(depth->selection, 0u) << "depth keeps no rows";
}

TEST_F(Windows, Drops) {
  const struct {
    int32_t kind;
    uint32_t role;
    int drag;
    instr *Windows::*in;
    uint32_t want_role;
    int changed;
  } rows[] = {
      {0, kRoleWatchlist, 1, &Windows::bhp, kRoleDepth, 1},
      {0, kRoleTradelist, 1, &Windows::bhp, kRoleTradelist, 1},
      {0, kRoleDepth, 2, &Windows::xjo, kRoleChart, 1},
      {1, kRoleDepth, 2, &Windows::xjo, kRoleIndexchart, 1},
      {1, kRoleChart, 2, &Windows::xjo, kRoleChart, 1},
      {0, kRoleTradechart, 3, &Windows::bhp_issuer, kRoleDepth, 1},
      {0, kRoleDocument, 3, &Windows::bhp_issuer, kRoleHistnews, 1},
      {0, kRoleHistnews, 3, &Windows::bhp_issuer, kRoleHistnews, 1},
      {0, kRoleDepth, 6, &Windows::bhp, kRoleDepth, 0},
      {0, kRoleDepth, 8, &Windows::bhp, kRoleDepth, 0},
  };
  for (const auto &r : rows) {
    window *w = fresh(r.role, r.kind);
    EXPECT_EQ(window_drop_instr(w, r.drag, this->*r.in), r.changed) << r.drag << " on " << r.role;
    EXPECT_EQ(w->role, r.want_role) << r.drag << " on " << r.role;
    if (!r.changed) EXPECT_EQ(w->instrument, nullptr);
  }
}

TEST_F(Windows, EqualityAndPopups) {
  window *a = fresh(kRoleDepth), *b = fresh(kRoleDepth);
  window_set_instrument(a, bhp);
  window_set_instrument(b, bhp);
  EXPECT_FALSE(window_equal(a, b)) << "two depth windows on one stock";
  window *c = fresh(kRoleAlerts), *d = fresh(kRoleAlerts);
  EXPECT_TRUE(window_equal(c, d));
  EXPECT_FALSE(window_equal(c, a));
  window *pop = fresh(kRoleDepth, 2);
  EXPECT_TRUE(window_child_is_popup(pop->child[kWinDepth]));
  EXPECT_FALSE(window_child_is_popup(a->child[kWinDepth]));
  EXPECT_FALSE(window_child_is_popup(nullptr));
}

TEST_F(Windows, PriceTrend) {
  window *w = fresh(kRoleDepth);
  EXPECT_EQ(window_price_trend(w), -1);
  auto *s = static_cast<ss_stock *>(bhp);
  s->last = 1000;
  window_set_instrument(w, bhp);
  EXPECT_EQ(w->seen_value, 1000u);
  const struct {
    uint32_t last;
    int want;
  } rows[] = {{1000, 0}, {1001, 1}, {999, 2}, {0, 0}};
  for (const auto &r : rows) {
    s->last = r.last;
    EXPECT_EQ(window_price_trend(w), r.want) << r.last;
  }
  bhp->flags |= 1u << 16;
  EXPECT_EQ(window_price_trend(w), -1);
  bhp->flags &= ~(1u << 16);
}

TEST_F(Windows, TitleText) {
  window *w = fresh(kRoleDepth);
  window_set_instrument(w, bhp);
  EXPECT_STREQ(window_title_text(w), "BHP Group");
  window_set_bar_mode(w, 3);
  EXPECT_STREQ(window_title_text(w), "BHP") << "a linked window shows the code";
  window_set_bar_mode(w, 0);
  window_set_instrument(w, cx);
  EXPECT_STREQ(window_title_text(w), "ANZ Bank (CHI-X)");
  instr *cx1 = ssmodel_get_stock(ex1, "ANZ_CX");
  ssmodel_set_stock_names(static_cast<ss_stock *>(cx1), "ANZ Bank", "");
  window_set_instrument(w, cx1);
  EXPECT_STREQ(window_title_text(w), "ANZ Bank") << "only exchange 0 marks the venue";
  // The quote basis shows without its bit 0x2.
  auto *s = static_cast<ss_stock *>(cx1);
  const struct {
    uint64_t basis;
    const char *want;
  } bases[] = {{0x0, ""}, {0x2, ""}, {0x3, "XD"}, {0x9, "XD SH"}};
  for (const auto &b : bases) {
    s->quote_basis = b.basis;
    EXPECT_STREQ(titlebar_basis_text(window_get_titlebar(w)), b.want) << b.basis;
  }
  char name[kTitleText];
  titlebar_instr_name(name, bhp_issuer, 1);
  EXPECT_STREQ(name, "BHP Group Limited");
  titlebar_instr_name(name, lone_issuer, 0);
  EXPECT_STREQ(name, "XYZ") << "no names: the code";
  // Text longer than 199 characters keeps 199 and the NUL.
  std::string longtext(300, 'a');
  titlebar *t = window_get_titlebar(w);
  titlebar_set_text(t, longtext.c_str());
  EXPECT_EQ(strlen(titlebar_get_text(t)), 199u);
}

TEST_F(Windows, TitleShortensWordByWord) {
  const int32_t font = 0;
  int32_t sz[2];
  font_text_size(sz, font, "Alpha Beta");
  const int32_t two = sz[0];
  font_text_size(sz, font, "Alpha");
  const int32_t one = sz[0];
  ASSERT_GT(two, one);
  const struct {
    int32_t room;
    int want;
  } rows[] = {{two + 50, 14}, {two, 10}, {two - 1, 5}, {one, 5}, {one - 1, 0}, {0, 0}};
  for (const auto &r : rows)
    EXPECT_EQ(titlebar_shorten("Alpha Beta Gam", r.room + (r.want == 14 ? 100 : 0), font), r.want) << r.room;
}

}  // namespace

namespace {

// The title bar's drawing through the GL call recorder: a bar lower than
// 5/4 of a line draws its background alone; a full bar adds the title's
// glyph quads and its bottom line.
TEST_F(Windows, TitleDrawingRecorded) {
  window *w = fresh(kRoleDepth);
  window_set_instrument(w, bhp);
  titlebar *t = window_get_titlebar(w);
  auto record = [&](int32_t h) {
    t->r = {0, 0, 300, h};
    glrecord_scope rec;
    t->cls->draw(t);
    return glrecord_text();
  };
  auto count = [](const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
  };
  const std::string low = record(titlebar_height() - 1);
  const std::string full = record(titlebar_height());
  EXPECT_EQ(count(low, "TexCoord"), 0) << low;
  EXPECT_GT(count(full, "TexCoord"), count(low, "TexCoord"));
  EXPECT_GT(count(full, "Vertex"), count(low, "Vertex")) << full;
  EXPECT_GT(t->title_hit.w, 0);
}

}  // namespace

namespace {

TEST_F(Windows, GotoTimeByRole) {
  ex0->date = sstime_pack_date(12, 3, 2014);
  const ss_time at1030 = sstime_pack(0, 30, 10, 12, 3, 2014);
  // Roles outside depth..tradelist, and roles inside without a target.
  for (uint32_t role : {kRoleWatchlist, kRoleChart, kRoleAlerts, kRoleTradechart, kRoleIndexlist, kRoleSearch})
    EXPECT_EQ(window_goto_time(fresh(role), at1030, 0), -1) << role;

  // The course of sales moves to the time; flags 0x7 clamp a time of day to
  // the trading hours on the exchange's date.
  window *t = fresh(kRoleTradelist);
  window_set_instrument(t, bhp);
  ASSERT_EQ(window_goto_time(t, at1030, 1), 0);
  auto *list = tradelist_cast(window_get_content(t, kRoleTradelist));
  EXPECT_EQ(list->position, at1030);
  ASSERT_EQ(window_goto_time(t, sstime_pack(0, 0, 6, 1, 1, 2000), 1), 0);
  EXPECT_EQ(list->position & ~kSstimeSecondsMask, ex0->date & ~kSstimeSecondsMask);
  EXPECT_EQ(list->position & kSstimeSecondsMask, ssmodel_exchange_open_time(ex0) & kSstimeSecondsMask)
      << "before the open: the open";

  // The news history reads the date by flags 0x18.
  window *h = fresh(kRoleHistnews);
  window_set_instrument(h, bhp_issuer);
  const struct {
    uint32_t flags;
    ss_time want;
  } dates[] = {{0x18, at1030},
               {0x10, sstime_pack(59, 59, 23, 31, 3, 2014)},
               {0x08, sstime_pack(59, 59, 23, 12, 12, 2014)},
               {0x00, sstime_pack(59, 59, 23, 31, 12, 2014)}};
  ssmodel_add_news(bhp_issuer, 1, sstime_pack(0, 0, 9, 1, 1, 2014), nullptr, 0, "January");
  ssmodel_add_news(bhp_issuer, 2, sstime_pack(0, 0, 9, 20, 3, 2014), nullptr, 0, "March 20");
  ssmodel_add_news(bhp_issuer, 3, sstime_pack(0, 0, 9, 2, 6, 2014), nullptr, 0, "June");
  bhp_issuer->flags |= kInHistory;
  h->r = {0, 0, 400, 300};
  container_cls(h)->layout(h);
  auto *hn = static_cast<histnews *>(window_get_content(h, kRoleHistnews));
  // Two rows in view, so that the list scrolls.
  h->r.h = h->r.h - hn->r.h + 2 * hn->row_height;
  container_cls(h)->layout(h);
  widget_show(h);
  h->cls->show_children(h);
  // Items of 1 January, 20 March and 2 June 2014: the newest at or before
  // the date read comes to the top.
  const ss_time want_top[] = {sstime_pack(0, 0, 9, 1, 1, 2014), sstime_pack(0, 0, 9, 20, 3, 2014),
                              sstime_pack(0, 0, 9, 2, 6, 2014), sstime_pack(0, 0, 9, 2, 6, 2014)};
  for (size_t i = 0; i < std::size(dates); i++) {
    ASSERT_EQ(window_goto_time(h, at1030, dates[i].flags), 0);
    EXPECT_EQ(histnews_get_top_time(window_get_content(h, kRoleHistnews)), want_top[i]) << std::hex << dates[i].flags;
  }
}

}  // namespace

namespace {

TEST_F(Windows, DropsAreOneUndoStepAndQuickSlotsFillEmptyRoles) {
  ASSERT_EQ(undo_init(), 0);
  window *w = fresh(kRoleWatchlist);
  // A stock dropped on a watchlist window: depth, one undo step back.
  dnd_begin_stock(bhp);
  w->cls->drop(w, 0, 0, 1, nullptr);
  EXPECT_EQ(w->role, kRoleDepth);
  EXPECT_EQ(w->instrument, bhp);
  EXPECT_TRUE(undo_can_undo());
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_EQ(w->role, kRoleWatchlist);
  EXPECT_FALSE(undo_can_undo());
  // A scan (kind 4) changes nothing and leaves no step.
  dnd_clear();
  w->cls->drop(w, 0, 0, 1, nullptr);
  EXPECT_FALSE(undo_can_undo());
  // A news item shows its document in the window.
  ss_news *item = ssmodel_add_news(bhp_issuer, 7, sstime_pack(0, 0, 10, 12, 3, 2014), nullptr, 0, "Report");
  ASSERT_NE(item, nullptr);
  dnd_begin_news(bhp_issuer, item);
  w->cls->drop(w, 0, 0, 1, nullptr);
  EXPECT_EQ(w->role, kRoleDocument);
  EXPECT_EQ(w->instrument, bhp_issuer);
  const ss_news *shown = docwin_get_news_item(window_get_content(w, kRoleDocument));
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->number, 7u);
  dnd_clear();
  undo_fini();

  // Without a last stock, an empty depth or news history role takes the
  // first quick slot holding a stock; a chart the first filled slot.
  quick9_clear();
  ASSERT_EQ(quick9_set(1, xjo), 0);
  ASSERT_EQ(quick9_set(2, rio), 0);
  window *d = fresh(kRoleDepth);
  EXPECT_EQ(d->instrument, rio);
  window *h = fresh(kRoleHistnews);
  EXPECT_EQ(h->instrument, static_cast<instr *>(ssmodel_find_issuer(ex0, "RIO")));
  window *c = fresh(kRoleChart);
  EXPECT_EQ(c->instrument, xjo);
  quick9_clear();
}

}  // namespace

namespace {

TEST_F(Windows, ExportGoesToTheCurrentContent) {
  ASSERT_EQ(clipboard_init(), 0);
  window *w = fresh(kRoleHistnews);
  window_set_instrument(w, bhp_issuer);
  clipboard_reset();
  EXPECT_EQ(window_export(w), 0);
  EXPECT_EQ(std::string(clipboard_text()).rfind("Date\t", 0), 0u) << clipboard_text();
  window *l = fresh(kRoleLog);
  clipboard_reset();
  EXPECT_EQ(window_export(l), 0);
  EXPECT_STREQ(clipboard_text(), "") << "the log window exports nothing";
  clipboard_shutdown();
}

}  // namespace

namespace {

nuchart *chart_in(window *w) { return nuchart_cast(window_get_content(w, kRoleChart)); }
terminal *term_in(window *w) { return static_cast<terminal *>(window_get_content(w, kRoleTerminal)); }

// An edit as the chart panel makes it: the chart changes, then its style
// takes the chart's settings.
void add_rsi(window *w) {
  nuchart *c = chart_in(w);
  ASSERT_EQ(nuchart_add_indicator(c, 4, nullptr), 0);
  cstyle_apply(nuchart_get_cstyle(c), &c->plot);
}

TEST_F(Windows, ChartStyleGivenSharedOrCopied) {
  window *a = fresh(kRoleChart);
  window_set_instrument(a, bhp);
  cstyle *own = window_get_chart(a);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(cstyle_get_id(own), 0) << "a new chart has a style of its own";
  nuchart_set_period(chart_in(a), 6, 1);
  cstyle_apply(own, &chart_in(a)->plot);
  ASSERT_NO_FATAL_FAILURE(add_rsi(a));

  // A copy (a split) has its own copy of a private style: an edit of the
  // copy stays there until the copy is copied back (an unzoom).
  window *b = window_new(nullptr, 0);
  window_copy(b, a);
  EXPECT_EQ(b->role, uint32_t(kRoleChart));
  ASSERT_NE(window_get_chart(b), nullptr);
  EXPECT_NE(window_get_chart(b), own);
  EXPECT_EQ(chart_in(b)->plot.period, 6);
  EXPECT_EQ(nuchart_find_indicator(chart_in(b), 0, nullptr), 4);
  nuchart_set_type(chart_in(b), 3);
  cstyle_apply(window_get_chart(b), &chart_in(b)->plot);
  EXPECT_NE(chart_in(a)->plot.type, 3);
  window_copy(a, b);
  EXPECT_EQ(chart_in(a)->plot.type, 3);
  EXPECT_EQ(nuchart_find_indicator(chart_in(a), 0, nullptr), 4);
  EXPECT_EQ(chart_in(a)->plot.period, 6);

  // A registered style is shared: the copy watches the same one.
  cstyle *daily = cstyle_new("Window Daily", 0);
  ASSERT_NE(daily, nullptr);
  daily->period = 5;
  window_set_chart(a, daily);
  EXPECT_EQ(window_get_chart(a), daily);
  EXPECT_EQ(chart_in(a)->plot.period, 5);
  EXPECT_EQ(nuchart_find_indicator(chart_in(a), 0, nullptr), -1) << "the style's settings replace the chart's";
  window *c = window_new(nullptr, 0);
  window_copy(c, a);
  EXPECT_EQ(window_get_chart(c), daily);
  // Not in the chart role: no chart child changes, and a null style is no style.
  window *d = fresh(kRoleDepth);
  cstyle *before = window_get_chart(d);
  window_set_chart(d, nullptr);
  EXPECT_EQ(window_get_chart(d), before);
  window_destroy_all();
  cstyle_delete(daily);
}

TEST_F(Windows, PopupCopyOfAChartShowsItPlain) {
  window *a = fresh(kRoleChart);
  window_set_instrument(a, bhp);
  window_show_tools(a);
  struct {
    int32_t kind;
    bool marked, tools;
  } rows[] = {{0, true, true}, {2, false, false}};
  for (auto r : rows) {
    // The target's own marked span: a popup's copy drops it.
    window *t = window_new(nullptr, r.kind);
    nuchart_set_marker(chart_in(t), sstime_pack(0, 0, 10, 1, 3, 2026), sstime_pack(0, 0, 16, 1, 3, 2026));
    window_copy(t, a);
    EXPECT_EQ(chart_in(t)->plot.marked.to != 0, r.marked) << r.kind;
    EXPECT_EQ(t->show_tools != 0, r.tools) << r.kind;
  }
}

TEST_F(Windows, PassingATimeSetsTheChartCursorInTheChartRoleOnly) {
  const ss_time t = sstime_pack(0, 30, 11, 2, 3, 2026);
  window *a = fresh(kRoleChart);
  window_pass_to_chart(a, t);
  EXPECT_EQ(chart_in(a)->plot.cursor.time, t);
  window_pass_to_chart(a, 0);
  EXPECT_EQ(chart_in(a)->plot.cursor.time, 0u);
  window *b = fresh(kRoleDepth);
  window_pass_to_chart(b, t);
  EXPECT_EQ(chart_in(b)->plot.cursor.time, 0u);
}

TEST_F(Windows, TerminalTitleIsItsCaption) {
  window *w = fresh(kRoleTerminal);
  EXPECT_STREQ(window_title_text(w), "Terminal");
  terminal_set_kind(term_in(w), 2);
  window_update_title(w);
  EXPECT_STREQ(window_title_text(w), "Command Prompt");
  window_set_instrument(w, nullptr);
  EXPECT_STREQ(window_title_text(w), "Command Prompt");
}

TEST_F(Windows, ChartExportIsItsSamples) {
  ASSERT_EQ(clipboard_init(), 0);
  window *w = fresh(kRoleChart);
  window_set_instrument(w, bhp);
  ASSERT_NO_FATAL_FAILURE(add_rsi(w));
  clipboard_reset();
  EXPECT_EQ(window_export(w), 0);
  const std::string text = clipboard_text();
  EXPECT_EQ(text, nuchart_export_text(chart_in(w)));
  EXPECT_EQ(text.rfind("Date\t", 0), 0u) << text;
  EXPECT_NE(text.find("\tRSI"), std::string::npos) << text;
  clipboard_shutdown();
}

}  // namespace
