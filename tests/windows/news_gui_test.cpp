// The two announcement windows over a model built here, in a real gui
// window under Xvfb: the shared filter as a truth table, the percent change
// past 32 bits, the history's rows (month and year separators, items of
// time 0 left out, today's rows, the place kept across a filter change) and
// its export; today's merge across exchanges (time bases, ties, skipped
// entries, every exchange excluded, keyword equal to a code, watched only,
// day separators and ordinals), new rows flashing (a sampled pixel) and the
// export read back from the system clipboard.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dnd.h"
#include "export/clipboard.h"
#include "drawstart.h"
#include "guitest.h"
#include "lib/fade.h"
#include "lib/fmt.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "ssuser.h"
#include "style.h"
#include "testmodel.h"
#include "undo.h"
#include "windows/histnews.h"
#include "windows/newstoday.h"
#include "windows/window.h"

namespace {

ss_time at(const char *iso) { return sstime_parse_date_time(iso); }

TEST(NewsFilter, TruthTable) {
  const uint32_t kCommon[] = {13, 59, 0};
  const uint32_t kOther[] = {13, 2, 0};
  const uint32_t kNone[] = {0};
  struct {
    uint32_t flags;
    const uint32_t *codes;
    uint32_t sensitive_only, common, related;
    const char *keyword;
    bool shown;
  } cases[] = {
      {0, kCommon, 0, 1, 1, "", true},
      {0, kCommon, 0, 0, 1, "", false},               // common off hides an all-common item
      {kNewsSensitive, kCommon, 0, 0, 1, "", true},   // ... never a sensitive one
      {0, kOther, 0, 0, 1, "", true},                 // one code not common
      {0, kNone, 0, 0, 1, "", true},                  // first code 0: not common
      {0, kOther, 1, 1, 1, "", false},                // sensitive only
      {kNewsSensitive, kOther, 1, 1, 1, "", true},
      {kNewsRelated, kOther, 0, 1, 0, "", false},     // related off
      {kNewsRelated | kNewsSensitive, kOther, 1, 1, 0, "", false},
      {kNewsRelated, kOther, 0, 1, 1, "", true},
      {0, kOther, 0, 1, 1, "quarterly", true},        // any case, anywhere
      {0, kOther, 0, 1, 1, "ANNUAL", false},
      {0, kOther, 0, 1, 1, "tail", false},            // beyond the 79th character
  };
  for (const auto &c : cases) {
    ss_news n{};
    n.time = 1;
    n.flags = c.flags;
    for (int i = 0; c.codes[i]; i++) n.codes[i] = c.codes[i];
    snprintf(n.headline, sizeof n.headline, "%s", "Quarterly Activities Report ..........................................................tail");
    news_filter f;
    news_filter_defaults(&f);
    f.sensitive_only = c.sensitive_only;
    f.common = c.common;
    f.related = c.related;
    news_filter_set_keyword(&f, c.keyword);
    EXPECT_EQ(news_filter_pass(&f, &n), c.shown) << c.flags << " " << c.codes[0] << "," << c.codes[1] << " "
                                                  << c.sensitive_only << c.common << c.related << " " << c.keyword;
  }
  news_filter f;
  news_filter_defaults(&f);
  news_filter_set_keyword(&f, "0123456789012345678901234567890123456789");
  EXPECT_EQ(strlen(f.keyword), 31u) << "a 40-character keyword is cut to 31";
}

TEST(NewsFilter, PercentChangeIn64Bits) {
  struct {
    int32_t change;
    uint32_t close;
    bool has;
  } cases[] = {{300000, 1000000, true}, {-250000, 4000000, true}, {2147483, 3000000000u, true},
               {5, 0, false},           {700, 700, false},        {0, 12345, true}};
  for (const auto &c : cases) {
    int32_t got = 0;
    ASSERT_EQ(news_percent_change(c.change, c.close, &got), c.has) << c.change << "/" << c.close;
    if (!c.has) continue;
    int64_t want = int64_t(c.change) * 10000 / (int64_t(c.close) - c.change);
    EXPECT_EQ(got, want) << c.change << "/" << c.close;
  }
}

class NewsGui : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ASSERT_TRUE(drawstart_up());
    style_set_size(1);
    ASSERT_EQ(timer_init(), 0);
    ASSERT_EQ(clipboard_init(), 0);
  }
  static void TearDownTestSuite() {
    clipboard_shutdown();
    drawstart_down();
  }

 protected:
  static constexpr int kW = 900, kH = 400;
  tw *root = nullptr;
  window *w = nullptr;
  guitest_window gw;
  ss_exchange *ex0 = nullptr, *ex1 = nullptr;

  void SetUp() override {
    ASSERT_EQ(start_terminal_model(), 0);
    ssuser_set(1, 0, 0x3);
    ex0 = ssmodel_exchange(0);
    ex1 = ssmodel_exchange(1);
    ex0->date = ex1->date = at("2018-02-20T00:00:00Z");
    root = tw_new(nullptr, "root", {0, 0, kW, kH}, 0xff202020u);
    w = window_new(root, 0);
    w->r = {0, 0, kW, kH};
    ASSERT_TRUE(gw.open(root, {20, 20, kW, kH}));
    widget_show_subtree(root);
  }
  void TearDown() override {
    guitest_window::close_all();
    widget_delete(root);
    ssmodel_fini();
  }
  void show_role(uint32_t role) {
    window_set_role(w, role);
    container_cls(w)->layout(w);
    w->cls->show_children(w);
    settle();
  }
  void settle() {
    widget_redraw(root);
    gw.settle();
  }
  ss_issuer *issuer(ss_exchange *ex, const char *code, const char *name = nullptr) {
    ss_issuer *is = ssmodel_get_issuer(ex, code);
    if (name) is->name1 = name;
    return is;
  }
  ss_news *news(ss_issuer *is, uint32_t number, const char *iso, uint32_t flags, const char *headline) {
    const uint32_t codes[] = {2, 0};
    return ssmodel_add_news(is, number, iso ? at(iso) : 0, codes, flags, headline);
  }
  histnews *hist() { return static_cast<histnews *>(window_get_content(w, kRoleHistnews)); }
  newstoday *today() { return static_cast<newstoday *>(window_get_content(w, kRoleNewstoday)); }
  std::vector<std::string> hist_rows() {
    std::vector<std::string> out;
    for (histnews_row *r = hist()->rows; r; r = r->next)
      out.push_back(r->item ? std::to_string(r->item->number) : "--");
    return out;
  }
  std::vector<std::string> today_rows() {
    std::vector<std::string> out;
    for (newstoday_row *r = today()->rows; r; r = r->next)
      out.push_back(r->item ? std::string(r->issuer->code) + ":" + std::to_string(r->item->number)
                            : std::string("--") + std::to_string(r->time >> 17 & 31));
    return out;
  }
};

using Strings = std::vector<std::string>;

TEST_F(NewsGui, HistoryRowsSeparatorsAndPlace) {
  ss_stock *st = ssmodel_get_stock(ex0, "ABC");
  ss_issuer *is = issuer(ex0, "ABC");
  news(is, 1, "2017-01-10T10:00:00Z", 0, "Oldest");
  news(is, 2, "2018-01-05T10:00:00Z", 0, "January one");
  news(is, 3, "2018-01-25T10:00:00Z", kNewsSensitive, "January two");
  news(is, 4, "2018-02-20T11:00:00Z", 0, "Today's");
  ssmodel_add_bare_news(is, 9);  // known by number only: never shown nor counted
  is->flags |= kInHistory;
  st->flags |= kInHistory;
  st->last = 1500000;
  st->change = 20000;
  window_set_instrument(w, st);
  show_role(kRoleHistnews);
  ASSERT_EQ(hist()->issuer, is);
  EXPECT_EQ(hist_rows(), (Strings{"--", "4", "--", "3", "2", "--", "1"}));
  EXPECT_EQ(hist()->total_rows, 7);
  EXPECT_EQ(hist()->rows->next->day, &hist()->today) << "the exchange's current day shows today's values";
  EXPECT_EQ(hist()->rows->next->next->next->day, nullptr) << "no history day for that date";

  // A short window: five rows fit, so the list scrolls.
  int32_t chrome = w->r.h - hist()->r.h;
  w->r = {0, 0, kW, chrome + 5 * hist()->row_height};
  container_cls(w)->layout(w);
  histnews_rebuild(hist());
  ASSERT_EQ(hist()->r.h / hist()->row_height, 5);
  window_select_row(w, 4);
  histnews_rebuild(hist());
  EXPECT_EQ(hist_rows(), (Strings{"2", "--", "1"}));
  EXPECT_EQ(histnews_get_top_time(hist()), at("2018-01-05T10:00:00Z"));
  // Nothing sensitive at or before the top item: the last row stays in view.
  histnews_set_sensitive_only(hist(), 1);
  EXPECT_EQ(hist_rows(), (Strings{"--", "3"})) << "two rows fit: no scrolling";
  histnews_set_sensitive_only(hist(), 0);
  histnews_set_keyword(hist(), "january");
  EXPECT_EQ(hist_rows(), (Strings{"--", "3", "2"}));
  histnews_clear_keyword(hist());
  EXPECT_EQ(hist_rows(), (Strings{"3", "2", "--", "1"}));
  histnews_refilter(hist(), 0);
  EXPECT_EQ(hist_rows(), (Strings{"--", "4", "--", "3", "2"})) << "time 0 goes to the top";
}

int g_stock_requests, g_issuer_requests;
int count_stock(ss_stock *) { return ++g_stock_requests, 0; }
int count_issuer(ss_issuer *) { return ++g_issuer_requests, 0; }

TEST_F(NewsGui, HistoryIsAskedForOnlyWhileShownAndNotLoaded) {
  const histnews_requests counting = {count_stock, count_issuer};
  histnews_set_requests(&counting);
  g_stock_requests = g_issuer_requests = 0;
  ss_stock *st = ssmodel_get_stock(ex0, "REQ");
  ss_issuer *is = issuer(ex0, "REQ");
  window_set_role(w, kRoleDepth);
  window_set_instrument(w, st);  // the history window is hidden
  EXPECT_EQ(g_stock_requests + g_issuer_requests, 0);
  show_role(kRoleHistnews);
  EXPECT_EQ(g_stock_requests, 1);
  EXPECT_EQ(g_issuer_requests, 1);
  st->flags |= kInHistory;
  is->flags |= kInHistory;
  hist()->cls->hide_children(hist());
  hist()->cls->show_children(hist());
  EXPECT_EQ(g_stock_requests, 1) << "loaded: not asked again";
  EXPECT_EQ(g_issuer_requests, 1);
  histnews_set_requests(nullptr);
}

TEST_F(NewsGui, HistoryExportHasEveryItem) {
  ss_stock *st = ssmodel_get_stock(ex0, "XYZ");
  ss_issuer *is = issuer(ex0, "XYZ");
  news(is, 1, "2018-01-05T10:02:03Z", kNewsSensitive, "Profit up");
  news(is, 2, "2018-01-06T09:00:00Z", kNewsRelated, "Related note");
  ssmodel_add_bare_news(is, 7);
  ASSERT_EQ(ssmodel_reserve_history(st, 2), 0);
  st->history->points[0] = {at("2018-01-05T00:00:00Z"), 1000000, 1100000, 990000, 1050000, 50000, 123456};
  st->history->count = 1;
  is->flags |= kInHistory;
  w->r = {0, 0, 1600, kH};  // wide enough for every column
  window_set_instrument(w, st);
  show_role(kRoleHistnews);
  ASSERT_EQ(hist()->columns.shown, 0x7FFu);
  histnews_set_related(hist(), 0);
  std::string text = histnews_export(hist());
  // Every column is shown at this width; the items come newest first,
  // unfiltered, and the one of time 0 has empty date and time cells.
  auto f = [](const char *t) { return std::string(t); };
  std::string want =
      "Date\tTime\tLast\tChange\t% Change\tHeadline\tSensitive\tFirst\tLow\tHigh\tLast\tVolume\n"
      "2018-01-06\t9:00:00\t\t\t\tRelated note\tN\t\t\t\t\t\n"
      "2018-01-05\t10:02:03\t" + f(fmt_price(1050000)) + "\t" + f(fmt_change_trimmed(50000)) + "\t" +
      f(fmt_percent_change_trimmed(500)) + "%\tProfit up\tY\t" + f(fmt_price(1000000)) + "\t" + f(fmt_price(990000)) +
      "\t" + f(fmt_price(1100000)) + "\t" + f(fmt_price(1050000)) + "\t" + f(fmt_volume(123456)) + "\n"
      "\t\t\t\t\t\tN\t\t\t\t\t\n";
  EXPECT_EQ(text, want);
}

TEST_F(NewsGui, TodayMergesExchangesInTimeOrder) {
  ex0->constant = 1200;  // exchange 0's times run 20 minutes ahead
  ss_issuer *a = issuer(ex0, "AAA", "Alpha"), *b = issuer(ex1, "BBB", "Beta"), *c = issuer(ex0, "CCC");
  news(a, 1, "2018-02-20T10:20:00Z", 0, "A at 10:00 adjusted");
  news(b, 1, "2018-02-20T10:00:00Z", 0, "B at 10:00");
  news(b, 2, "2018-02-20T10:30:00Z", 0, "B at 10:30");
  news(c, 5, "2018-02-19T16:00:00Z", 0, "Yesterday");
  news(c, 6, "2018-02-20T10:05:00Z", 0, "");  // no headline: skipped
  show_role(kRoleNewstoday);
  EXPECT_EQ(today_rows(), (Strings{"BBB:2", "AAA:1", "BBB:1", "--19", "CCC:5"}))
      << "equal adjusted times in exchange order; a separator before the earlier day";

  // A missing item and a missing issuer are skipped, the merge goes on.
  ex0->news.tail->number = 99;                     // AAA's item
  snprintf(ex0->news.head->code, kCodeSize, "ZZZ");  // CCC's of yesterday
  newstoday_rebuild(today());
  EXPECT_EQ(today_rows(), (Strings{"BBB:2", "BBB:1"}));
  ex0->news.tail->number = 1;
  snprintf(ex0->news.head->code, kCodeSize, "CCC");

  newstoday_set_keyword(today(), "bbb");  // equal to a code: all of its news
  newstoday_rebuild(today());
  EXPECT_EQ(today_rows(), (Strings{"BBB:2", "BBB:1"}));
  newstoday_clear_keyword(today());
  newstoday_set_watchlists_only(today(), 1);
  b->flags |= kInHeld;
  newstoday_rebuild(today());
  EXPECT_EQ(today_rows(), (Strings{"BBB:2", "BBB:1"}));
  newstoday_set_watchlists_only(today(), 0);

  newstoday_hide_exchange(today(), 1);
  EXPECT_EQ(today_rows(), (Strings{"AAA:1", "--19", "CCC:5"}));
  newstoday_clear_exchanges(today());
  EXPECT_EQ(today_rows(), (Strings{}));
  EXPECT_EQ(w->row_limit, 0u) << "never below zero";
  ssuser_set(1, 0, 0x1);
  newstoday_set_exchange_shown(today(), 1, 1);
  EXPECT_FALSE(newstoday_get_exchange_shown(today(), 1)) << "an exchange the user may not see";

  struct {
    int day;
    const char *suffix;
  } ordinals[] = {{1, "st"},  {2, "nd"},  {3, "rd"},  {4, "th"},  {11, "th"}, {12, "th"},
                  {13, "th"}, {21, "st"}, {22, "nd"}, {23, "rd"}, {31, "st"}};
  for (auto &o : ordinals) EXPECT_STREQ(newstoday_ordinal(o.day), o.suffix) << o.day;
  EXPECT_STREQ(newstoday_tooltip(today(), today()->columns.col[kNtHeadline].x0 + 2), "Announcement Summary");
}

TEST_F(NewsGui, NewAnnouncementsFlashAndExport) {
  ss_issuer *a = issuer(ex0, "AAA", "Alpha");
  ss_stock *s = ssmodel_get_stock(ex0, "AAA");
  s->last = 1234500;
  s->change = 4500;
  s->open = 1230000;
  s->high = 1240000;
  s->low = 1220000;
  s->volume = 5000;
  news(a, 1, "2018-02-20T10:00:00Z", 0, "First");
  w->r = {0, 0, 1600, kH};  // every column
  show_role(kRoleNewstoday);
  ASSERT_EQ(today_rows(), (Strings{"AAA:1"}));
  const style *st = style_cur();
  const uint32_t bg = style_colour(st, SC_BACKGROUND) | 0xff000000u;

  news(a, 2, "2018-02-20T10:30:00Z", 0, "Second");
  // Delivered as the model's change would be.
  ssnotify_record(a, 0x80000, nullptr);
  ssnotify_deliver();
  ASSERT_EQ(today_rows(), (Strings{"AAA:2", "AAA:1"}));
  newstoday_row *fresh = today()->rows, *old = fresh->next;
  EXPECT_NE(fresh->flash.state, nullptr) << "the new row flashes";
  EXPECT_EQ(old->flash.state, nullptr) << "the old one does not";
  settle();
  int32_t x = today()->columns.col[kNtCompany].x1 - 3, y = fresh->y + today()->row_height / 2;
  EXPECT_FALSE(guitest_near(guitest_window_pixel(gw.xw, x, today()->r.y + y), bg, 8)) << "the flash colour";
  EXPECT_TRUE(guitest_near(guitest_window_pixel(gw.xw, x, today()->r.y + old->y + today()->row_height / 2), bg, 8));

  newstoday_export(today());
  std::string text = guitest_run_pumping("xclip -o -selection clipboard");
  std::string row1 = std::string("2018-02-20\t10:30:00\tAlpha\tAAA\t") + fmt_price(1234500) + "\t";
  row1 += std::string(fmt_change_trimmed(4500)) + "\t";
  EXPECT_EQ(text.rfind("Date\tTime\tCompany\tCode\tLast\tChange\t% Change\tHeadline\tSensitive\tQuotebases\tState\t"
                       "First\tHigh\tLow\tLast\tVolume\n",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find(row1), std::string::npos) << text;
  EXPECT_NE(text.find("\tSecond\tN\t"), std::string::npos) << text;
  EXPECT_EQ(text.find("--"), std::string::npos) << "separators are not exported";

  // Dragging the headline carries the item; the code, the stock.
  newstoday *n = today();
  int32_t row_y = n->r.y + fresh->y + n->row_height / 2;
  ASSERT_EQ(n->cls->drag_begin(n, n->columns.col[kNtHeadline].x0 + 5, row_y, 1, nullptr), 1);
  EXPECT_EQ(dnd_news_item(), fresh->item);
  ASSERT_EQ(n->cls->drag_begin(n, n->columns.col[kNtCode].x0 + 2, row_y, 1, nullptr), 1);
  EXPECT_EQ(dnd_instrument(), static_cast<instr *>(s));
  dnd_clear();

  // A click on the code shows the stock's depth in this window, one undo step.
  ASSERT_EQ(undo_init(), 0);
  n->cls->release(n, n->columns.col[kNtCode].x0 + 2, row_y, 1);
  EXPECT_EQ(window_get_role(w), kRoleDepth);
  EXPECT_EQ(window_get_instrument(w), static_cast<instr *>(s));
  EXPECT_TRUE(undo_can_undo());
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_EQ(window_get_role(w), kRoleNewstoday);
  undo_fini();
}

}  // namespace
