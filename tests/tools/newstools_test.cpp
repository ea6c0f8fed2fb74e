// The news, feed and document panels on real windows without a display:
// summaries as tables (history flags; today's news for one and several
// exchanges with each exclusion; a feed's title against its name), the
// history's filters greyed without an issuer, a chart click moving the list
// to the clicked day's start with and without undo, the keyword typed into
// today's panel, the feed period both ways, URL prefixing, Save and Rename
// with the registration undone, "Now" asking once, the document panel's
// sensitivity over page and count (a fake renderer gives the pages), the
// page spinner as one undo step, and Shift reaching two windows of each
// role as one undo group.
#include "tools/newstools.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "doc/docmgr.h"
#include "doc/pdf.h"
#include "lib/filter.h"
#include "lib/splash.h"
#include "plat.h"
#include "rss/rss.h"
#include "sstime.h"
#include "testdataroot.h"
#include "toolstest.h"
#include "tools/panelkit.h"
#include "ui/label.h"
#include "ui/launch-linux.h"
#include "ui/spinner.h"
#include "ui/textbox.h"
#include "windows/docwin.h"
#include "windows/histnews.h"
#include "windows/newstoday.h"
#include "windows/nuchart.h"
#include "windows/rsswin.h"
#include "windows/titlebar.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

ss_time at(const char *iso) { return sstime_parse_date_time(iso); }

// Feed downloads: recorded, never sent.
struct FeedRequest {
  std::string url;
  ssio_progress *progress;
};
std::vector<FeedRequest> g_feed_requests;
int32_t feed_request(const char *url, int32_t (*)(const uint8_t *, int32_t, void *, uint32_t), void *, uint32_t,
                     ssio_progress *p) {
  *p = ssio_progress{};
  g_feed_requests.push_back({url, p});
  return int32_t(g_feed_requests.size());
}
int feed_cancel(int32_t) { return 0; }
void feed_progress(ssio_progress *out, const ssio_progress *p) { *out = *p; }
const rss_client kFeedClient = {feed_request, feed_cancel, feed_progress};
ss_time g_feed_now;
ss_time feed_now() { return g_feed_now; }

// Documents: the download client answers nothing until a test completes a
// request; the renderer gives every file g_pages pages.
struct DocRequest {
  ss_http_handler handler;
  void *context;
  ssio_progress *progress;
};
std::vector<DocRequest> g_doc_requests;
int32_t doc_request(const char *, ss_http_handler h, void *c, uint32_t, ssio_progress *p) {
  *p = ssio_progress{};
  g_doc_requests.push_back({h, c, p});
  return int32_t(g_doc_requests.size());
}
int doc_cancel(int32_t id) {
  g_doc_requests.at(size_t(id - 1)).progress->phase = kSsioProgressFailed;
  return 0;
}
void doc_progress(ssio_progress *out, const ssio_progress *p) { *out = *p; }
int doc_log_news(instr *, const uint32_t *) { return 0; }
int doc_log_profile(instr *) { return 0; }
int doc_promise(gui_promise_fn, void *, int) { return 0; }
const docmgr_client kDocClient = {doc_request, doc_cancel, doc_progress, doc_log_news, doc_log_profile, doc_promise};
int g_pages = 3;
void fake_render(pdf_request *r) {
  if (r->page >= g_pages) {
    r->error = 4;
    return;
  }
  r->page_count = g_pages;
  r->page_width = 612;
  r->page_height = 792;
  r->bottom_up = 1;
  if (r->pixels) memset(r->pixels, 0x90, size_t(r->width) * size_t(r->height) * 4);
  r->error = 0;
}

class NewsPanels : public Panels {
 protected:
  std::vector<window *> wins;

  void SetUp() override {
    Panels::SetUp();
    ASSERT_EQ(root_dir.use(), 0);
    ASSERT_EQ(splash_init(), 0);
    g_feed_requests.clear();
    g_feed_now = at("2018-02-20T10:00:00Z");
    rss_set_client(&kFeedClient);
    rss_set_clock(feed_now);
    ASSERT_EQ(rss_init(), 0);
    g_doc_requests.clear();
    g_pages = 3;
    docmgr_set_client(&kDocClient);
    docmgr_set_hosts("docs.test", "profiles.test");
    ASSERT_EQ(docmgr_init(), 0);
    pdf_set_renderer(fake_render);
    ASSERT_EQ(pdf_init(), 0);
    ex0->date = at("2018-02-20T00:00:00Z");
  }
  void TearDown() override {
    for (window *w : wins) {
      if (w->parent) container_cls(static_cast<container *>(w->parent))->remove(static_cast<container *>(w->parent), w);
      widget_delete(w);
    }
    wins.clear();
    Panels::TearDown();
    pdf_shutdown();
    pdf_set_renderer(nullptr);
    docmgr_shutdown();
    docmgr_set_client(nullptr);
    docmgr_set_hosts(nullptr, nullptr);
    rss_shutdown();
    rss_set_client(nullptr);
    rss_set_clock(nullptr);
    splash_fini();
  }

  // A shown window of the role in the root box, its panel shown.
  window *open(uint32_t role) {
    window *w = window_new(root, 0);
    w->r = {0, 0, 900, 400};
    window_set_role(w, role);
    wins.push_back(w);
    widget_show_subtree(w);
    window_show_tools(w);
    container_cls(w)->layout(w);
    return w;
  }
  // n shown windows of the role side by side, their panels shown.
  std::vector<window *> shown_desk(uint32_t role, int n) {
    std::vector<window *> out = desk_of_role(role, n, 600, 400);
    widget_show_subtree(out[0]->parent->parent);
    for (window *w : out) window_show_tools(w);
    return out;
  }
  template <class Panel>
  static Panel *panel(window *w, uint32_t role) {
    return static_cast<Panel *>(window_get_tools(w, role));
  }
  static widget *content(window *w, uint32_t role) { return window_get_content(w, role); }
  static std::string summary(window *w, uint32_t role) { return tools_summary(window_get_tools(w, role)); }
  static void commit(textbox *t, const char *text, int code = TEXTBOX_ENTER) {
    textbox_set_text(t, text);
    t->callback(t, code, t->arg, t->id);
  }
  static bool sensitive(button *b) { return b && !(b->state & BUTTON_INSENSITIVE); }
  static bool active(button *b) { return b && (b->state & BUTTON_ACTIVE); }

  ss_issuer *issuer_with_news(const char *code) {
    ss_issuer *is = ssmodel_get_issuer(ex0, code);
    const uint32_t codes[] = {2, 0};
    ssmodel_add_news(is, 1, at("2018-02-18T10:00:00Z"), codes, 0, "Sunday note");
    ssmodel_add_news(is, 2, at("2018-02-19T09:00:00Z"), codes, 0, "Morning");
    ssmodel_add_news(is, 3, at("2018-02-19T15:00:00Z"), codes, kNewsSensitive, "Afternoon");
    ssmodel_add_news(is, 4, at("2018-02-20T11:00:00Z"), codes, 0, "Today");
    is->flags |= kInHistory;
    return is;
  }

  // A feed window showing the feed of a URL, with its panel.
  struct feed_window {
    window *w;
    rsstools *p;
    widget *r;
    rss_feed *f;
  };
  feed_window open_feed(const char *url) {
    window *w = open(kRoleRss);
    widget *r = content(w, kRoleRss);
    rsswin_set_url(r, url);
    rss_feed *f = rsswin_get_feed(r);
    EXPECT_NE(f, nullptr) << url;
    return {w, panel<rsstools>(w, kRoleRss), r, f};
  }

  // A document window showing an announcement of `pages` pages, open.
  window *document(int pages) {
    g_pages = pages;
    window *w = open(kRoleDocument);
    ss_issuer *is = ssmodel_get_issuer(ex0, "DOC");
    const uint32_t codes[] = {2, 0};
    ss_news *item = ssmodel_add_news(is, 4711, at("2018-02-20T09:00:00Z"), codes, 0, "Report");
    widget *d = content(w, kRoleDocument);
    size_t asked = g_doc_requests.size();
    docwin_show_news_item(d, is, item);
    if (g_doc_requests.size() > asked) {
      DocRequest &r = g_doc_requests.back();
      std::string body(4096, 'p');
      EXPECT_EQ(r.handler(reinterpret_cast<const uint8_t *>(body.data()), int32_t(body.size()), r.context, 0), 4096);
      r.progress->received = r.progress->total = 4096;
      r.progress->phase = kSsioProgressDone;
    }
    docmgr_finish();
    for (int i = 0; i < 5000 && docwin_get_page_count(d) != pages; i++) {
      pdf_poll();
      plat_sleep_ms(1);
    }
    EXPECT_EQ(docwin_get_page_count(d), pages);
    return w;
  }

  TempDataRoot root_dir{"ambit-newstools"};
};

// ---- announcement history -------------------------------------------------------

TEST_F(NewsPanels, HistorySummaryTable) {
  window *w = open(kRoleHistnews);
  widget *h = content(w, kRoleHistnews);
  struct {
    uint32_t sensitive, related, common;
    const char *keyword;
    const char *want;
  } rows[] = {
      {0, 1, 1, "", ""},
      {1, 1, 1, "", "SENSITIVE"},
      {0, 0, 1, "", "NO RELATED"},
      {0, 1, 0, "", "NO COMMON"},
      {0, 1, 1, "profit", "LIKE PROFIT"},
      {1, 0, 0, "Div", "LIKE DIV, SENSITIVE, NO RELATED, NO COMMON"},
  };
  for (auto &r : rows) {
    histnews_set_sensitive_only(h, r.sensitive);
    histnews_set_related(h, r.related);
    histnews_set_common(h, r.common);
    histnews_set_keyword(h, r.keyword);
    EXPECT_EQ(summary(w, kRoleHistnews), r.want);
  }
}

TEST_F(NewsPanels, HistoryFiltersNeedAnIssuerAndRegularNeedsAllItems) {
  window *w = open(kRoleHistnews);
  auto *p = panel<histnewstools>(w, kRoleHistnews);
  ASSERT_TRUE(histnewstools_is(p));
  tools_refresh_now(p);
  EXPECT_FALSE(sensitive(p->sensitive));
  EXPECT_FALSE(sensitive(p->related));
  EXPECT_FALSE(sensitive(p->regular));
  EXPECT_FALSE(widget_is_shown(p->chart)) << "no stock, no chart";

  ss_stock *st = stock("HNA");
  issuer_with_news("HNA");
  window_set_instrument(w, st);
  tools_refresh_now(p);
  EXPECT_TRUE(sensitive(p->sensitive));
  EXPECT_TRUE(sensitive(p->related));
  EXPECT_TRUE(sensitive(p->regular));
  EXPECT_TRUE(widget_is_shown(p->chart)) << "the window handed its stock to the chart";
  EXPECT_EQ(p->chart->plot.type, 16);
  EXPECT_EQ(p->chart->plot.options, 0x12931u);

  click(p->sensitive);
  EXPECT_EQ(histnews_get_sensitive_only(content(w, kRoleHistnews)), 1u);
  tools_refresh_now(p);
  EXPECT_FALSE(sensitive(p->regular)) << "sensitive only leaves nothing regular to show";
  EXPECT_EQ(summary(w, kRoleHistnews), "SENSITIVE");
}

TEST_F(NewsPanels, HistoryChartClickSelectsTheDayStartWithAndWithoutUndo) {
  window *w = open(kRoleHistnews);
  auto *p = panel<histnewstools>(w, kRoleHistnews);
  // Thirty in January first, so that the list is longer than the window.
  ss_issuer *is = ssmodel_get_issuer(ex0, "HNB");
  const uint32_t codes[] = {2, 0};
  for (uint32_t i = 0; i < 30; i++) ssmodel_add_news(is, 100 + i, at("2018-01-10T10:00:00Z") + i, codes, 0, "Old");
  issuer_with_news("HNB");
  window_set_instrument(w, stock("HNB"));
  widget *h = content(w, kRoleHistnews);
  histnews_rebuild(h);
  ASSERT_GT(static_cast<histnews *>(h)->total_rows * static_cast<histnews *>(h)->row_height, h->r.h);
  // The chart marks the rows on screen, oldest to newest.
  const histnews *hn = static_cast<histnews *>(h);
  ss_time oldest = 0;
  for (histnews_row *r = hn->rows; r; r = r->next)
    if (r->item) oldest = r->item->time;
  EXPECT_EQ(p->chart->plot.marked.from, oldest);
  EXPECT_EQ(p->chart->plot.marked.to, at("2018-02-20T11:00:00Z"));
  ASSERT_EQ(window_get_selection(w), 0u);
  // Rows: February, 20th 11:00, 19th 15:00, 19th 09:00, 18th.
  nuchart *c = p->chart;
  ASSERT_NE(c->click_fn, nullptr);
  ASSERT_NE(c->drag_fn, nullptr);

  int before = undo_count();
  c->click_fn(c, at("2018-02-19T12:00:00Z"), c->click_ctx, c->click_n);
  EXPECT_EQ(window_get_selection(w), 2u) << "the newest item of the 19th, not one of the 18th";
  EXPECT_EQ(undo_count(), before + 4) << "one group: the panel and the window";
  EXPECT_EQ(undo_types(4), (std::vector<int>{UNDO_GROUP_END, UNDO_HISTNEWS, UNDO_TOOLS, UNDO_GROUP_BEGIN}));
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(window_get_selection(w), 0u) << "undo goes back to the top";

  before = undo_count();
  c->drag_fn(c, at("2018-02-18T23:00:00Z"), c->drag_ctx, c->drag_n);
  EXPECT_EQ(window_get_selection(w), 4u);
  EXPECT_EQ(undo_count(), before) << "following a drag records nothing";
  c->click_fn(c, 0, c->click_ctx, c->click_n);
  EXPECT_EQ(window_get_selection(w), 4u) << "no time, no move";
}

TEST_F(NewsPanels, HistoryKeywordReachesTheWindowAndClearEmptiesIt) {
  window *w = open(kRoleHistnews);
  auto *p = panel<histnewstools>(w, kRoleHistnews);
  widget *h = content(w, kRoleHistnews);
  int before = undo_count();
  commit(p->search, "Search", TEXTBOX_LEFT);
  EXPECT_FALSE(histnews_has_keyword(h)) << "leaving the untouched prompt filters nothing";
  EXPECT_EQ(undo_count(), before);
  commit(p->search, "div", TEXTBOX_LEFT);
  EXPECT_STREQ(histnews_get_keyword(h), "div");
  EXPECT_EQ(summary(w, kRoleHistnews), "LIKE DIV");
  click(p->clear);
  EXPECT_FALSE(histnews_has_keyword(h));
  EXPECT_STREQ(textbox_text(p->search), "");
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_STREQ(histnews_get_keyword(h), "div");
}

// ---- today's announcements ------------------------------------------------------

TEST_F(NewsPanels, TodaySummaryForOneAndSeveralExchanges) {
  struct {
    uint32_t bits;  // exchanges the user may see
    int asx, nzx;   // shown
    const char *want;
  } rows[] = {
      {0x3, 1, 1, ""},
      {0x3, 0, 1, "NZX ONLY"},
      {0x3, 1, 0, "ASX ONLY"},
      {0x3, 0, 0, ""},  // both left out: neither is "only"
      {0x1, 0, 0, ""},
      {0x1, 1, 0, ""},
  };
  for (auto &r : rows) {
    ssuser_set(1, 0, r.bits);
    window *w = open(kRoleNewstoday);
    widget *n = content(w, kRoleNewstoday);
    newstoday_clear_exchanges(n);
    if (r.asx) newstoday_set_exchange_shown(n, 0, 1);
    if (r.nzx) newstoday_set_exchange_shown(n, 1, 1);
    SCOPED_TRACE(std::to_string(r.bits) + " " + std::to_string(r.asx) + std::to_string(r.nzx));
    EXPECT_EQ(summary(w, kRoleNewstoday), r.want);
    auto *p = panel<newstools>(w, kRoleNewstoday);
    EXPECT_EQ(p->asx != nullptr, r.bits == 0x3) << "exchange toggles only for several exchanges";
    EXPECT_EQ(p->nzx != nullptr, r.bits == 0x3);
  }
  window *w = open(kRoleNewstoday);
  widget *n = content(w, kRoleNewstoday);
  newstoday_set_keyword(n, "cap");
  newstoday_set_sensitive_only(n, 1);
  newstoday_set_related(n, 0);
  newstoday_set_common(n, 0);
  EXPECT_EQ(summary(w, kRoleNewstoday), "LIKE CAP, SENSITIVE, NO RELATED, NO REGULAR");
}

TEST_F(NewsPanels, TodayTogglesAndGroups) {
  window *w = open(kRoleNewstoday);
  auto *p = panel<newstools>(w, kRoleNewstoday);
  widget *n = content(w, kRoleNewstoday);
  newstoday_show_all_exchanges(n, 1);
  tools_refresh_now(p);
  ASSERT_NE(p->nzx, nullptr);
  EXPECT_TRUE(active(p->asx));
  click(p->asx);
  EXPECT_EQ(newstoday_get_exchange_shown(n, 0), 0);
  EXPECT_EQ(newstoday_get_exchange_shown(n, 1), 1);
  EXPECT_EQ(summary(w, kRoleNewstoday), "NZX ONLY");
  click(p->related);  // on by default: the click turns it off
  EXPECT_EQ(newstoday_get_related(n), 0u);
  ASSERT_EQ(undo_perform(), 0);
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(newstoday_get_exchange_shown(n, 0), 1);
  EXPECT_EQ(newstoday_get_related(n), 1u);

  EXPECT_FALSE(active(p->groups));
  filter *g = newstoday_group_filter(n);
  wlist *banks = wlist_create("Banks", 0);
  ASSERT_NE(banks, nullptr);
  ASSERT_EQ(filter_add_watchlist(g, wlist_id(banks)), 0);
  newstoday_group_filter_changed(n);  // as the group bar tells the window
  redraw_passes();
  EXPECT_TRUE(active(p->groups)) << "a group filter with something in it";
  std::string groups = filter_describe(g);
  ASSERT_GT(groups.size(), 2u);
  EXPECT_EQ(groups, ", IN BANKS");
  EXPECT_EQ(std::string(window_get_titlebar(w)->caption).find("IN BANKS"), 0u) << window_get_titlebar(w)->caption;
  int before = undo_count();
  click(p->groups);
  EXPECT_EQ(undo_count(), before) << "the group bar records its own edits";
}

TEST_F(NewsPanels, TodayKeywordIsOneUndoStep) {
  window *w = open(kRoleNewstoday);
  auto *p = panel<newstools>(w, kRoleNewstoday);
  widget *n = content(w, kRoleNewstoday);
  int before = undo_count();
  commit(p->search, "Bhp");
  EXPECT_STREQ(newstoday_get_keyword(n), "Bhp");
  EXPECT_STREQ(newstoday_get_keyword_upper(n), "BHP");
  EXPECT_EQ(undo_count(), before + 4);
  EXPECT_EQ(undo_types(4), (std::vector<int>{UNDO_GROUP_END, UNDO_NEWSTODAY, UNDO_TOOLS, UNDO_GROUP_BEGIN}));
  commit(p->search, "Bhp", TEXTBOX_LEFT);
  EXPECT_EQ(undo_count(), before + 4) << "the same keyword again is no change";
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_FALSE(newstoday_has_keyword(n));
}

// ---- feeds -----------------------------------------------------------------------

TEST_F(NewsPanels, PeriodSpinnerValuesBothWays) {
  struct {
    int32_t value;
    uint32_t seconds;
  } rows[] = {{5, 300}, {1, 60}, {100, 3600}, {130, 5400}, {2400, 86400}, {0, 0}, {2359, 86340}};
  for (auto &r : rows) {
    EXPECT_EQ(rsstools_period_seconds(r.value), r.seconds) << r.value;
    EXPECT_EQ(rsstools_period_value(r.seconds), r.value) << r.seconds;
  }
  EXPECT_EQ(kRsstoolsPeriodMax, 2400) << "a feed may reload once a day";

  auto [w, p, r, f] = open_feed("http://feeds.test/a.xml");
  ASSERT_NE(f, nullptr);
  rss_feed_set_period(f, 7200);
  tools_refresh_now(p);
  EXPECT_EQ(time_spinner_value(p->period), 200) << "a two-hour feed shows 2:00";
  struct {
    int32_t value;
    uint32_t period;
  } sets[] = {{130, 5400}, {0, 5400}, {2400, 86400}};
  for (auto &s : sets) {
    p->period->value = s.value;
    p->period->callback(p->period, p->period->arg, p->period->id);
    EXPECT_EQ(rss_feed_period(f), s.period) << s.value;
  }
  tools_refresh_now(p);
  EXPECT_EQ(time_spinner_value(p->period), 2400) << "a daily feed shows 24:00, not 23:00";
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(rss_feed_period(f), 5400u) << "one undo step per change";
}

TEST_F(NewsPanels, UrlWithoutSchemeGetsHttp) {
  char out[128];
  struct {
    const char *in, *want;
  } rows[] = {{"feeds.test/a.xml", "http://feeds.test/a.xml"},
              {"https://feeds.test/b.xml", "https://feeds.test/b.xml"},
              {"ftp://x/y", "ftp://x/y"},
              {"", "http://"}};
  for (auto &r : rows) EXPECT_STREQ(rsstools_full_url(r.in, out, sizeof out), r.want);
  EXPECT_STREQ(rsstools_full_url("abcdefghijklmnopqrstuvwxyz", out, 12), "http://abcd") << "cut, never overrun";

  window *w = open(kRoleRss);
  auto *p = panel<rsstools>(w, kRoleRss);
  ASSERT_NE(p->url, nullptr);
  commit(p->url, "feeds.test/c.xml");
  EXPECT_STREQ(textbox_text(p->url), "http://feeds.test/c.xml");
  rss_feed *f = rsswin_get_feed(content(w, kRoleRss));
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(rss_feed_url(f), "http://feeds.test/c.xml");
  int shown = undo_count();
  commit(p->url, "http://feeds.test/c.xml", TEXTBOX_LEFT);
  EXPECT_EQ(undo_count(), shown) << "leaving the box on the feed shown changes nothing";

  // "Change  " shows the box's text the same way.
  commit(p->url, "feeds.test/d.xml", TEXTBOX_CHANGED);
  int before = undo_count();
  click(p->change);
  EXPECT_STREQ(textbox_text(p->url), "http://feeds.test/d.xml");
  f = rsswin_get_feed(content(w, kRoleRss));
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(rss_feed_url(f), "http://feeds.test/d.xml");
  EXPECT_EQ(undo_count(), before + 4) << "one group: the panel and the window's feed";
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_STREQ(rss_feed_url(rsswin_get_feed(content(w, kRoleRss))), "http://feeds.test/c.xml");

  window *g = open(kRoleGoogle);
  auto *gp = panel<rsstools>(g, kRoleGoogle);
  EXPECT_EQ(gp->url, nullptr) << "an instrument's feed has no name or URL";
  EXPECT_EQ(gp->name, nullptr);
  EXPECT_NE(gp->period, nullptr);
}

TEST_F(NewsPanels, FeedSummaryIsTheTitleUnlessItIsTheName) {
  window *w = open(kRoleRss);
  widget *r = content(w, kRoleRss);
  EXPECT_EQ(summary(w, kRoleRss), "") << "no feed";
  rsswin_set_url(r, "http://feeds.test/s.xml");
  rss_feed *f = rsswin_get_feed(r);
  ASSERT_NE(f, nullptr);
  struct {
    const char *name, *title, *want;
  } rows[] = {{"", nullptr, ""}, {"", "Market Wire", "MARKET WIRE"}, {"Wire", "Market Wire", "MARKET WIRE"},
              {"Market Wire", "Market Wire", ""}};
  for (auto &row : rows) {
    rss_feed_set_name(f, row.name);
    rss_feed_set_title(f, row.title ? row.title : "");
    EXPECT_EQ(summary(w, kRoleRss), row.want) << row.name << " / " << (row.title ? row.title : "(none)");
  }
}

TEST_F(NewsPanels, SaveRegistersTheFeedAsOneUndoStepAndRenameNeedsANewName) {
  auto [w, p, r, f] = open_feed("http://feeds.test/save.xml");
  ASSERT_NE(f, nullptr);
  tools_refresh_now(p);
  EXPECT_STREQ(p->save->text, "Save");
  EXPECT_TRUE(sensitive(p->save));

  textbox_set_text(p->name, "Wire");
  int before = undo_count();
  click(p->save);
  EXPECT_TRUE(rss_feed_is_registered(f));
  EXPECT_STREQ(rss_feed_name(f), "Wire");
  EXPECT_STREQ(p->save->text, "Rename");
  EXPECT_FALSE(sensitive(p->save));
  EXPECT_EQ(undo_count(), before + 5) << "one group: panel, feed, registration";

  // Typing: Save only for a name no registered feed has.
  struct {
    const char *text;
    bool on;
  } typed[] = {{"Wire", false}, {"", false}, {"Wire 2", true}};
  for (auto &t : typed) {
    commit(p->name, t.text, TEXTBOX_CHANGED);
    EXPECT_EQ(sensitive(p->save), t.on) << t.text;
  }
  EXPECT_EQ(rss_feed_count(), 1);
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(rss_feed_count(), 0) << "undo takes the registration back";
}

TEST_F(NewsPanels, NowReloadsOnceAndNotWhileAReloadRuns) {
  auto [w, p, r, f] = open_feed("http://feeds.test/now.xml");
  ASSERT_NE(f, nullptr);
  rss_poll();
  ASSERT_EQ(g_feed_requests.size(), 1u) << "a shown feed loads at once";
  g_feed_requests.back().progress->phase = kSsioProgressDone;
  rss_poll();
  ASSERT_EQ(f->request.load(), -1);
  rss_poll();
  EXPECT_EQ(g_feed_requests.size(), 1u) << "not due again for its period";
  int before = undo_count();
  click(p->now);
  EXPECT_EQ(undo_count(), before) << "reloading is no setting";
  rss_poll();
  EXPECT_EQ(g_feed_requests.size(), 2u);
  click(p->now);  // the reload is still running
  rss_poll();
  EXPECT_EQ(g_feed_requests.size(), 2u);
}

// ---- documents -------------------------------------------------------------------

TEST_F(NewsPanels, DocumentPageButtonsOverPageAndCount) {
  struct {
    int pages, page;
    const char *label;
    bool first_prev, back5, next_last, fwd5, editable;
    float max;
  } rows[] = {
      {1, 0, "1 Page", false, false, false, false, false, 1},
      {10, 2, "10 Pages", true, false, true, true, true, 10},
      {10, 5, "10 Pages", true, true, true, false, true, 10},
      {10, 9, "10 Pages", true, true, false, false, true, 10},
  };
  for (auto &r : rows) {
    SCOPED_TRACE(std::to_string(r.pages) + " pages at " + std::to_string(r.page));
    window *w = document(r.pages);
    widget *d = content(w, kRoleDocument);
    auto *p = panel<doctools>(w, kRoleDocument);
    ASSERT_TRUE(doctools_is(p));
    docwin_goto_page(d, r.page);
    ASSERT_EQ(docwin_get_page(d), r.page);
    tools_refresh_now(p);
    EXPECT_STREQ(p->count->text, r.label);
    EXPECT_EQ(sensitive(p->first), r.first_prev);
    EXPECT_EQ(sensitive(p->prev), r.first_prev);
    EXPECT_EQ(sensitive(p->back5), r.back5);
    EXPECT_EQ(sensitive(p->next), r.next_last);
    EXPECT_EQ(sensitive(p->last), r.next_last);
    EXPECT_EQ(sensitive(p->fwd5), r.fwd5);
    EXPECT_EQ(p->page->read_only == 0, r.editable);
    EXPECT_EQ(p->page->maximum, r.max);
    EXPECT_EQ(spinner_value_int(p->page), r.page + 1);
  }
  // Not loaded yet: no pages, and the spinner still has a range of one page.
  window *w = open(kRoleDocument);
  auto *p = panel<doctools>(w, kRoleDocument);
  tools_refresh_now(p);
  EXPECT_STREQ(p->count->text, "0 Pages");
  EXPECT_EQ(p->page->minimum, 1.0f);
  EXPECT_EQ(p->page->maximum, 1.0f) << "never the range 1 to 0";
  EXPECT_EQ(spinner_value_int(p->page), 1);
  EXPECT_FALSE(sensitive(p->next));
  EXPECT_FALSE(sensitive(p->prev));
}

TEST_F(NewsPanels, DocumentButtonsAndSpinnerTurnPagesAsUndoSteps) {
  window *w = document(10);
  widget *d = content(w, kRoleDocument);
  auto *p = panel<doctools>(w, kRoleDocument);
  tools_refresh_now(p);
  struct {
    button *b;
    int32_t want;
  } steps[] = {{p->next, 1}, {p->fwd5, 6}, {p->last, 9}, {p->back5, 4}, {p->prev, 3}, {p->first, 0}};
  for (auto &s : steps) {
    click(s.b);
    EXPECT_EQ(docwin_get_page(d), s.want);
  }
  p->page->value = 8;  // typed "8"
  p->page->callback(p->page, p->page->arg, p->page->id);
  EXPECT_EQ(docwin_get_page(d), 7);
  EXPECT_EQ(undo_types(4), (std::vector<int>{UNDO_GROUP_END, UNDO_DOCWIN, UNDO_TOOLS, UNDO_GROUP_BEGIN}));
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(docwin_get_page(d), 0);
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(docwin_get_page(d), 3) << "each page turn undoes alone";

  click(p->rotate);
  EXPECT_EQ(docwin_get_rotation(d), 90);
  button *fit_width = panelkit_find_button(p, 10);
  click(fit_width);
  EXPECT_EQ(docwin_get_fit(d), kDocwinFitWidth);
  tools_refresh_now(p);
  EXPECT_EQ(p->fit.active, fit_width);
}

std::vector<std::string> g_launched;
int record_launch(const char *target) {
  g_launched.push_back(target);
  return 0;
}

TEST_F(NewsPanels, LaunchOpensTheOwnDocumentAndRecordsNothing) {
  window *w = document(3);
  auto *p = panel<doctools>(w, kRoleDocument);
  const char *file = docwin_get_title(content(w, kRoleDocument));
  ASSERT_NE(file, nullptr);
  g_launched.clear();
  launch_opener_fn old = launch_set_opener(record_launch);
  int before = undo_count();
  shift(true);  // not a setting: other document windows are left alone
  click(p->launch);
  shift(false);
  launch_set_opener(old);
  EXPECT_EQ(g_launched, (std::vector<std::string>{file}));
  EXPECT_EQ(undo_count(), before);
  EXPECT_TRUE(sensitive(p->popup)) << "a shown panel of an ordinary window may pop its document up";
  window_hide_tools(w);
  tools_refresh_now(p);
  EXPECT_FALSE(sensitive(p->popup)) << "not from a hidden panel";
}

// ---- the linked change: Shift reaches the role's other window -------------------

TEST_F(NewsPanels, ShiftChangesTwoWindowsOfEachRoleAsOneUndoGroup) {
  struct role_case {
    const char *name;
    uint32_t role;
    std::function<void(window *)> prepare;
    std::function<button *(tools *)> control;
    std::function<int(widget *)> value;
  } cases[] = {
      {"history", kRoleHistnews,
       [this](window *w) {
         ss_issuer *is = ssmodel_get_issuer(ex0, "SHH");
         is->flags |= kInHistory;
         window_set_instrument(w, is);
       }, [](tools *t) { return static_cast<histnewstools *>(t)->sensitive; },
       [](widget *c) { return int(histnews_get_sensitive_only(c)); }},
      {"today", kRoleNewstoday, nullptr, [](tools *t) { return static_cast<newstools *>(t)->sensitive; },
       [](widget *c) { return int(newstoday_get_sensitive_only(c)); }},
      {"feed", kRoleRss,
       [](window *w) { rsswin_set_url(window_get_content(w, kRoleRss), "http://feeds.test/shift.xml"); },
       [](tools *t) { return panelkit_find_button(t, 2); }, [](widget *c) { return int(rsswin_get_detail(c)); }},
      {"document", kRoleDocument, nullptr, [](tools *t) { return static_cast<doctools *>(t)->rotate; },
       [](widget *c) { return docwin_get_rotation(c); }},
  };
  for (auto &k : cases) {
    SCOPED_TRACE(k.name);
    std::vector<window *> ws = shown_desk(k.role, 2);
    for (window *w : ws)
      if (k.prepare) k.prepare(w);
    if (k.role == kRoleDocument) {
      // Each window opens the same announcement through the fake renderer.
      g_pages = 3;
      ss_issuer *is = ssmodel_get_issuer(ex0, "SHF");
      const uint32_t codes[] = {2, 0};
      ss_news *item = ssmodel_add_news(is, 99, at("2018-02-20T09:00:00Z"), codes, 0, "Shift");
      for (window *w : ws) docwin_show_news_item(window_get_content(w, kRoleDocument), is, item);
      for (DocRequest &r : g_doc_requests) {
        if (r.progress->phase == kSsioProgressDone) continue;
        std::string body(4096, 'p');
        r.handler(reinterpret_cast<const uint8_t *>(body.data()), int32_t(body.size()), r.context, 0);
        r.progress->received = r.progress->total = 4096;
        r.progress->phase = kSsioProgressDone;
      }
      docmgr_finish();
      for (int i = 0; i < 5000; i++) {
        pdf_poll();
        if (docwin_get_page_count(window_get_content(ws[0], k.role)) == 3 &&
            docwin_get_page_count(window_get_content(ws[1], k.role)) == 3)
          break;
        plat_sleep_ms(1);
      }
    }
    std::vector<int> was;
    for (window *w : ws) was.push_back(k.value(window_get_content(w, k.role)));
    tools *t = static_cast<tools *>(window_get_tools(ws[0], k.role));
    tools_refresh_now(t);
    int before = undo_count();
    shift(true);
    click(k.control(t));
    shift(false);
    for (size_t i = 0; i < ws.size(); i++)
      EXPECT_NE(k.value(window_get_content(ws[i], k.role)), was[i]) << "window " << i;
    EXPECT_EQ(undo_count(), before + 6) << "one group: each window's panel and its own record";
    ASSERT_EQ(undo_perform(), 0);
    for (size_t i = 0; i < ws.size(); i++)
      EXPECT_EQ(k.value(window_get_content(ws[i], k.role)), was[i]) << "window " << i << " restored";
  }
}

}  // namespace
