// The feed window in a real gui window under Xvfb, over the feed registry
// on a recording HTTP client: rows follow the feed's items; the three detail
// levels lay rows out as they should (date and time columns, the date line,
// brief cut after three lines) and draw titles of linked items in link blue;
// a click on a title or on a linked word (xdotool) reaches the opener with
// its URL; temporary feeds made from typed URLs and instruments are shared
// and deleted with their last watcher; a feed deleted while shown takes the
// window's role; hiding stops reloads; the configuration round trip.
#include "windows/rsswin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config.h"
#include "drawstart.h"
#include "guitest.h"
#include "lib/fade.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "rss/html2txt.h"
#include "rss/rss.h"
#include "ssmodel.h"
#include "style.h"
#include "testmodel.h"
#include "undo.h"
#include "windows/window.h"

namespace {

struct Request {
  std::string url;
  int32_t (*handler)(const uint8_t *, int32_t, void *, uint32_t);
  void *context;
  uint32_t argument;
  ssio_progress *progress;
};
std::vector<Request> g_requests;

int32_t fake_request(const char *url, int32_t (*h)(const uint8_t *, int32_t, void *, uint32_t), void *c,
                     uint32_t a, ssio_progress *p) {
  g_requests.push_back({url, h, c, a, p});
  return static_cast<int32_t>(g_requests.size());
}
int fake_cancel(int32_t) { return 0; }
void fake_progress(ssio_progress *out, const ssio_progress *p) { *out = *p; }
const rss_client kFake = {fake_request, fake_cancel, fake_progress};

ss_time g_now;
ss_time fake_now() { return g_now; }

std::vector<std::string> g_opened;
int record_open(const char *url) {
  g_opened.push_back(url);
  return 0;
}

constexpr const char *kLongText =
    "One two three four five six seven eight nine ten eleven twelve thirteen fourteen fifteen sixteen "
    "seventeen eighteen nineteen twenty twenty-one twenty-two twenty-three twenty-four twenty-five "
    "twenty-six twenty-seven twenty-eight twenty-nine thirty thirty-one thirty-two thirty-three "
    "thirty-four thirty-five thirty-six thirty-seven thirty-eight thirty-nine forty.";

// Three items: a linked one with a linked word in its description, an
// unlinked one, and one with a long description.
std::string feed_doc() {
  return "<rss version=\"2.0\"><channel><title>Market Wire</title><link>http://wire.example/</link>"
         "<item><title>Rates held</title><link>http://wire.example/rates</link>"
         "<pubDate>Mon, 04 Mar 2024 14:30:00 GMT</pubDate>"
         "<description>Read &lt;a href=\"http://wire.example/more\"&gt;MOREMOREMORE&lt;/a&gt; now</description>"
         "</item>"
         "<item><title>Unlinked note</title><pubDate>Mon, 04 Mar 2024 09:05:00 GMT</pubDate></item>"
         "<item><title>Long story</title><link>http://wire.example/long</link><description>" +
         std::string(kLongText) + "</description></item>"
         "</channel></rss>";
}

void deliver(size_t i, const std::string &body) {
  Request &r = g_requests.at(i);
  r.handler(reinterpret_cast<const uint8_t *>(body.data()), static_cast<int32_t>(body.size()), r.context,
            r.argument);
  r.progress->phase = kSsioProgressDone;
  rss_poll();
}

class FeedWindow : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ASSERT_TRUE(drawstart_up());
    style_set_size(1);
    ASSERT_EQ(timer_init(), 0);
    ASSERT_EQ(config_init(), 0);
    ASSERT_EQ(html2txt_init(), 0);
  }
  static void TearDownTestSuite() {
    html2txt_shutdown();
    drawstart_down();
  }

 protected:
  static constexpr int kW = 420, kH = 300;
  tw *root = nullptr;
  window *w = nullptr;
  guitest_window gw;

  void SetUp() override {
    ASSERT_EQ(start_terminal_model(), 0);
    g_requests.clear();
    g_opened.clear();
    g_now = sstime_parse_date_time("2024-03-04T15:00:00Z");
    rss_set_client(&kFake);
    rss_set_clock(fake_now);
    ASSERT_EQ(rss_init(), 0);
    rsswin_set_opener(record_open);
    rsswin_set_news_host("http://news.test");
    root = tw_new(nullptr, "root", {0, 0, kW, kH}, 0xff202020u);
    w = window_new(root, 0);
    w->r = {0, 0, kW, kH};
    window_set_role(w, kRoleRss);
    ASSERT_TRUE(gw.open(root, {40, 40, kW, kH}));
    widget_show_subtree(root);
    container_cls(w)->layout(w);
    w->cls->show_children(w);
    settle();
  }
  void TearDown() override {
    guitest_window::close_all();
    widget_delete(root);
    rss_shutdown();
    rss_set_client(nullptr);
    rss_set_clock(nullptr);
    rsswin_set_opener(nullptr);
    rsswin_set_news_host(nullptr);
    ssmodel_fini();
  }
  void settle() {
    widget_redraw(root);
    gw.settle();
  }
  rsswin *feedwin() { return static_cast<rsswin *>(window_get_content(w, kRoleRss)); }
  // Shows a typed URL and answers its download.
  void show_feed() {
    rsswin_set_url(feedwin(), "http://wire.example/feed");
    ASSERT_EQ(g_requests.size(), 1u);
    EXPECT_EQ(g_requests[0].url, "http://wire.example/feed");
    deliver(0, feed_doc());
    ASSERT_EQ(rsswin_row_count(feedwin()), 3);
    settle();
  }
  // Window pixels of a widget-relative rect that are near colour c.
  int count_near(rect r, uint32_t c, int tol) {
    int n = 0;
    for (uint32_t p : guitest_window_pixels(gw.xw, r))
      if (guitest_near(p, c, tol)) n++;
    return n;
  }
};

TEST_F(FeedWindow, RowsFollowTheFeedAtEachDetailLevel) {
  show_feed();
  rsswin *r = feedwin();
  ASSERT_GT(r->r.h, 100);
  EXPECT_EQ(r->detail, RSSWIN_FULL);
  const rsswin_row *first = rsswin_row_at(r, 0), *second = rsswin_row_at(r, 1), *third = rsswin_row_at(r, 2);
  ASSERT_TRUE(first && second && third);
  EXPECT_STREQ(first->item->title, "Rates held");
  // Full: two title heights, plus the description's lines.
  EXPECT_EQ(first->y, 0);
  EXPECT_EQ(first->height, 2 * r->title_height + r->line_height);
  EXPECT_EQ(second->y, first->height);
  EXPECT_EQ(second->height, 2 * r->title_height) << "no description";
  int full_lines = (third->height - 2 * r->title_height) / r->line_height;
  EXPECT_GT(full_lines, 3) << "the long description wraps over several lines";
  EXPECT_EQ(r->title_height, r->line_height + 3);

  // The first title is linked: its glyphs are in the link colour (link blue
  // on a light background, the style's link colour on a dark one); the
  // second's are not.
  const style *cur = style_cur();
  const uint32_t ground = cur ? style_colour(cur, SC_BACKGROUND) : 0xffffffffu;
  const bool dark = ((ground & 0xff) + (ground >> 8 & 0xff) + (ground >> 16 & 0xff)) < 3 * 128;
  const uint32_t blue = dark && cur ? style_colour(cur, SC_LINK) | 0xff000000u : 0xffee0000u;
  rect t1 = {r->r.x + 2, r->r.y + first->y, r->r.w / 2, r->title_height};
  rect t2 = {r->r.x + 2, r->r.y + second->y, r->r.w / 2, r->title_height};
  EXPECT_GT(count_near(t1, blue, 40), 8);
  EXPECT_EQ(count_near(t2, blue, 40), 0);

  // Brief: the long description stops after three lines.
  rsswin_set_detail(r, RSSWIN_BRIEF);
  settle();
  EXPECT_EQ(third->height, 2 * r->title_height + kRsswinBriefLines * r->line_height);
  EXPECT_EQ(first->height, 2 * r->title_height + r->line_height);

  // Title: one line a row, the date and time columns shown and drawn.
  rsswin_set_detail(r, RSSWIN_TITLE);
  settle();
  EXPECT_EQ(r->title_height, r->line_height);
  EXPECT_EQ(first->height, r->line_height);
  EXPECT_EQ(second->y, r->line_height);
  ASSERT_TRUE(r->columns.col[0].shown && r->columns.col[1].shown);
  const style *st = style_cur();
  const uint32_t bg = style_colour(st, SC_BACKGROUND) | 0xff000000u;
  const cols_col &date = r->columns.col[0];
  rect date_cell = {date.x0 + 1, r->r.y + 1, date.width - 2, r->line_height - 2};
  int ink = 0;
  for (uint32_t p : guitest_window_pixels(gw.xw, date_cell))
    if (!guitest_near(p, bg, 24)) ink++;
  EXPECT_GT(ink, 5) << "the date is drawn in its column";
  EXPECT_GT(r->columns.col[2].x0, date.x0 + date.width - 1) << "titles start right of the date and time";
}

TEST_F(FeedWindow, ClicksOpenTitlesAndLinkedWords) {
  show_feed();
  rsswin *r = feedwin();
  const rsswin_row *first = rsswin_row_at(r, 0);
  ASSERT_NE(first->links, nullptr) << "the description's link was laid out";
  const html2txt_link *l = first->links;
  EXPECT_STREQ(l->url, "http://wire.example/more");
  guitest_xdo("mousemove" + gw.at(l->x + l->width / 2, l->y + l->height / 2) + " click 1");
  ASSERT_TRUE(guitest_wait_for([] { return !g_opened.empty(); }));
  EXPECT_EQ(g_opened.back(), "http://wire.example/more");

  guitest_xdo("mousemove" + gw.at(r->r.x + 10, r->r.y + first->y + r->title_height / 2) + " click 1");
  ASSERT_TRUE(guitest_wait_for([] { return g_opened.size() == 2; }));
  EXPECT_EQ(g_opened.back(), "http://wire.example/rates");

  // The unlinked title opens nothing.
  const rsswin_row *second = rsswin_row_at(r, 1);
  r->cls->release(r, r->r.x + 10, r->r.y + second->y + 2, 1);
  EXPECT_EQ(g_opened.size(), 2u);
}

TEST_F(FeedWindow, TemporaryFeedsAreSharedAndFreed) {
  rsswin *r = feedwin();
  rsswin_set_url(r, "http://a.test/feed");
  rss_feed *a = rsswin_get_feed(r);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(rss_feed_period(a), kRsswinUrlPeriod);
  rsswin_set_url(r, "http://a.test/feed");
  EXPECT_EQ(rsswin_get_feed(r), a) << "the same URL keeps the feed";
  EXPECT_EQ(g_requests.size(), 1u);

  // A second window on the same URL shares the download.
  window *w2 = window_new(nullptr, 0);
  rsswin *r2 = static_cast<rsswin *>(window_get_content(w2, kRoleRss));
  rsswin_set_url(r2, "http://a.test/feed");

  rsswin_set_url(r, "http://b.test/feed");
  ASSERT_NE(rsswin_get_feed(r), a);
  EXPECT_STREQ(rss_feed_url(rsswin_get_feed(r)), "http://b.test/feed");
  EXPECT_EQ(rss_feed_period(rsswin_get_feed(r)), kRsswinUrlPeriod) << "the shown feed's period carries over";
  ASSERT_NE(rsswin_get_feed(r2), nullptr);
  EXPECT_EQ(rsswin_get_feed(r2)->watcher_count, 1u);
  widget_delete(w2);  // its watcher goes: the temporary feed is deleted with it (ASan watches)

  // An instrument's news: a stock with an issuer asks with the issuer's code.
  rss_feed *b = rsswin_get_feed(r);
  ss_exchange *ex = ssmodel_exchange(0);
  ss_stock *bhp = ssmodel_get_stock(ex, "BHPX");
  snprintf(bhp->issuer, sizeof bhp->issuer, "%s", "BHP");
  ssmodel_get_issuer(ex, "BHP");
  std::string expect = std::string("http://news.test/finance?morenews=100&rating=1&q=") + ex->name +
                       ":BHP&output=rss";
  EXPECT_EQ(rsswin_news_url(bhp), expect);
  ss_stock *lone = ssmodel_get_stock(ex, "A&B");
  EXPECT_NE(std::string(rsswin_news_url(lone)).find(":A%26B&output"), std::string::npos) << "the code is encoded";
  rsswin *g = static_cast<rsswin *>(window_get_content(w, kRoleGoogle));
  rsswin_show_instr_news(g, bhp);
  ASSERT_NE(rsswin_get_feed(g), nullptr);
  EXPECT_EQ(rss_feed_period(rsswin_get_feed(g)), kRsswinNewsPeriod);
  EXPECT_EQ(std::string(rss_feed_url(rsswin_get_feed(g))), expect);
  rsswin_show_instr_news(g, nullptr);
  EXPECT_EQ(rsswin_get_feed(g), nullptr);
  // The window hands its instrument to the news widget.
  window_set_instrument(w, lone);
  ASSERT_NE(rsswin_get_feed(g), nullptr);
  EXPECT_NE(std::string(rss_feed_url(rsswin_get_feed(g))).find(":A%26B&"), std::string::npos);
  EXPECT_EQ(rsswin_get_feed(r), b);
}

TEST_F(FeedWindow, DeletedFeedTakesTheRoleAndHidingStopsReloads) {
  rss_feed *f = rss_feed_create_registered("http://reg.test/feed", 60, 7);
  ASSERT_NE(f, nullptr);
  rsswin *r = feedwin();
  rsswin_set_feed(r, f);
  size_t before = g_requests.size();
  ASSERT_GE(before, 1u) << "a shown feed without items downloads at once";
  deliver(before - 1, feed_doc());
  EXPECT_EQ(rsswin_row_count(r), 3);

  // Hidden: the period passes without a reload.
  widget_hide(r);
  g_now = sstime_add_seconds(g_now, 120);
  rss_poll();
  EXPECT_EQ(g_requests.size(), before);
  widget_show(r);
  rss_poll();
  EXPECT_EQ(g_requests.size(), before + 1) << "shown again, the due feed reloads";

  // The user removes the feed: its watchers hear it is going away, and the
  // window gives up its role as a role switch does, undoably; undone, it is
  // a feed window again, without the feed that went.
  ASSERT_EQ(undo_init(), 0);
  rss_feed_release(f);
  EXPECT_EQ(rsswin_get_feed(r), nullptr);
  EXPECT_EQ(window_get_role(w), kRoleNone);
  ASSERT_TRUE(undo_can_undo());
  undo_perform();
  EXPECT_EQ(window_get_role(w), kRoleRss);
  EXPECT_EQ(rsswin_get_feed(static_cast<rsswin *>(window_get_content(w, kRoleRss))), nullptr);
  undo_fini();
}

TEST_F(FeedWindow, ConfigurationRoundTrip) {
  rsswin *r = feedwin();
  rsswin_set_url(r, "http://cfg.test/feed");
  deliver(0, feed_doc());
  rsswin_set_period(r, 900);
  rsswin_set_detail(r, RSSWIN_BRIEF);
  rsswin *g = static_cast<rsswin *>(window_get_content(w, kRoleGoogle));
  rsswin_set_period(g, 1800);
  rsswin_set_detail(g, RSSWIN_TITLE);
  ASSERT_EQ(config_out_reset(), 0);
  rsswin_config_save(r);
  rsswin_config_save(g);
  int32_t len = 0;
  std::string text(config_out_buffer(&len));
  EXPECT_NE(text.find("rsswin 0"), std::string::npos) << text;
  EXPECT_NE(text.find("rsswin.url"), std::string::npos) << text;
  EXPECT_NE(text.find("rsswin.title"), std::string::npos) << text;
  EXPECT_NE(text.find("rsswin.period 900"), std::string::npos) << text;
  EXPECT_NE(text.find("google.period 1800"), std::string::npos) << text;

  window *w2 = window_new(nullptr, 0);
  rsswin *r2 = static_cast<rsswin *>(window_get_content(w2, kRoleRss));
  rsswin *g2 = static_cast<rsswin *>(window_get_content(w2, kRoleGoogle));
  ASSERT_EQ(config_load_buffer(text.c_str(), static_cast<int32_t>(text.size())), 0);
  rsswin_config_load(r2);
  rsswin_config_load(g2);
  ASSERT_NE(rsswin_get_feed(r2), nullptr);
  EXPECT_STREQ(rss_feed_url(rsswin_get_feed(r2)), "http://cfg.test/feed");
  EXPECT_STREQ(rss_feed_title(rsswin_get_feed(r2)), "Market Wire");
  EXPECT_EQ(rss_feed_period(rsswin_get_feed(r2)), 900u);
  EXPECT_EQ(r2->detail, RSSWIN_BRIEF);
  EXPECT_EQ(g2->detail, RSSWIN_TITLE);
  EXPECT_EQ(g2->period, 1800);
  widget_delete(w2);
}

}  // namespace
