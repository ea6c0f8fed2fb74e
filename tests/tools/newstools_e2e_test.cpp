// The news, document and feed panels end to end, under Xvfb against the
// simulator's demo scenario after a real sign-on, in one window that takes
// each role in turn, its panel shown and driven by xdotool:
// - today's announcements: three items pushed on the stream; "Clear" in the
//   panel, "dividend" typed and Return narrow the list to the two that say
//   so, and the title reads "LIKE DIVIDEND";
// - announcement history of a live stock: a click on the panel's day chart
//   at an announcement's day moves the list to the newest item of that day;
// - a document (a three-page PDF the simulator serves at the
//   announcement's path): "Next" turns to page 2 and Super+Z back to page 1;
// - a feed the simulator serves: "Now" reloads it once, one more GET of its
//   path in the simulator's request log.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "appscript.h"
#include "charts/cstyle.h"
#include "charts/util.h"
#include "doc/docmgr.h"
#include "doc/pdf.h"
#include "lib/scan.h"
#include "lib/splash.h"
#include "rss/rss.h"
#include "sim_history.h"
#include "sim_http.h"
#include "sim_live.h"
#include "tools/newstools.h"
#include "ui/flyaway.h"
#include "ui/textbox.h"
#include "windows/docwin.h"
#include "windows/histnews.h"
#include "windows/newstoday.h"
#include "windows/nuchart.h"
#include "windows/rsswin.h"
#include "windows/titlebar.h"

namespace {

// A PDF of `pages` empty pages, over a kilobyte long.
std::string pdf_of(int pages) {
  std::vector<std::string> objs = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
  std::string kids;
  for (int i = 0; i < pages; i++) {
    kids += std::to_string(3 + i) + " 0 R ";
    objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Resources << >> >>");
  }
  objs[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
  // An object nothing refers to pads it past the smallest document the
  // downloads keep.
  objs.push_back("(" + std::string(1500, 'x') + ")");
  return sim_pdf_file(objs);
}

const char kFeedPath[] = "/feeds/wire.xml";
const char kFeed[] =
    "<rss version=\"2.0\"><channel><title>Desk Wire</title><link>http://127.0.0.1/</link>"
    "<item><title>Rates on hold</title></item><item><title>Oil steady</title></item></channel></rss>";

// GETs of a path in the simulator's log.
int gets_of(sim_server *sim, const std::string &path) {
  int n = 0;
  for (const std::string &h : sim_http_requests(sim))
    if (h.compare(0, 4 + path.size() + 1, "GET " + path + " ") == 0) n++;
  return n;
}

std::string upper(const char *s) {
  std::string o;
  for (; *s; s++) o += char(toupper(static_cast<unsigned char>(*s)));
  return o;
}

// The click callback of the history chart, recorded on its way through.
ss_time g_clicked;
nuchart_time_fn g_panel_click;
void record_click(nuchart *c, ss_time t, void *ctx, int n) {
  g_clicked = t;
  g_panel_click(c, t, ctx, n);
}

TEST(NewsPanelsEndToEnd, KeywordChartClickPageTurnAndFeedReload) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("newspanels"));
  sim_server *sim = app.sim();
  app_script P;
  window *w = nullptr;
  ss_stock *st = nullptr;
  ss_issuer *is = nullptr;
  const ss_news *target = nullptr;
  std::string doc_path;
  const auto xdo = demo_app::xdo;
  const auto move_to = demo_app::move_to;
  const auto focused = demo_app::focused;
  const auto click_on = [&](widget *b) {
    move_to(b->r.x + b->r.w / 2, b->r.y + b->r.h / 2);
    xdo("click 1");
  };
  const auto on_screen = [&](widget *b, flyaway *f) {
    return b && f && flyaway_is_open(f) && !flyaway_animating(f) && widget_is_shown(b) && b->r.w > 0 &&
           b->r.h > 0 && b->r.x >= f->r.x && b->r.x + b->r.w <= f->r.x + f->r.w;
  };
  // Opens a section that the box left shut (a click on its title strip).
  const auto open_section = [&](flyaway *f) {
    if (flyaway_is_open(f)) return;
    move_to(f->r.x + 4, f->r.y + f->r.h / 2);
    xdo("click 1");
  };
  const auto shown_panel = [&](uint32_t role) {
    widget *p = window_get_tools(w, role);
    return w->show_tools && p && widget_is_shown(p) && p->r.h > 0 && !screen_relayout_pending();
  };
  const auto caption = [&] { return std::string(window_get_titlebar(w)->caption); };
  newstools *today = nullptr;
  histnewstools *hist = nullptr;
  doctools *doc = nullptr;
  rsstools *feed = nullptr;
  int feed_gets = 0;

  P.steps = {
      {"online with a live stock and a focused window",
       [&] {
         ss_exchange *ex = ssmodel_exchange(0);
         st = ex ? ex->current.head : nullptr;
         return demo_app::signed_on_and_settled() && st;
       },
       [&] {
         // The modules the process entry starts after the gui.
         ASSERT_EQ(scan_init(), 0);
         ASSERT_EQ(cstyle_init(), 0);
         ASSERT_EQ(splash_init(), 0);
         ASSERT_EQ(docmgr_init(), 0);
         ASSERT_EQ(rss_init(), 0);
         ASSERT_EQ(pdf_init(), 0);
         // The top of three windows one above the other: short enough that
         // an issuer's history scrolls.
         desktop *d = screen_current_desktop();
         window **got = desktop_split(d, focused(), 3, 1);
         ASSERT_NE(got, nullptr);
         w = got[0];
         desktop_relayout(d);
         // Three of today's announcements, two about a dividend.
         ss_exchange *ex = ssmodel_exchange(0);
         const char *heads[3] = {"Dividend declared", "Board changes", "Dividend reinvestment plan"};
         ss_stock *s = st;
         for (int i = 0; i < 3; i++) {
           ss_news item{};
           item.number = 9100 + uint32_t(i);
           item.time = ssmodel_exchange_now(ex);
           item.codes[0] = 2;
           snprintf(item.headline, sizeof item.headline, "%s", heads[i]);
           ASSERT_EQ(sim_news_today(sim, 0, s->issuer[0] ? s->issuer : s->code, item), 0);
           if (s->current.next) s = s->current.next;
         }
         window_set_role(w, kRoleNewstoday);
         window_show_tools(w);
       }},
      {"today's list holds the three and its panel is shown",
       [&] {
         widget *n = window_get_content(w, kRoleNewstoday);
         today = static_cast<newstools *>(window_get_tools(w, kRoleNewstoday));
         int rows = 0;
         for (newstoday_row *r = static_cast<newstoday *>(n)->rows; r; r = r->next) rows += r->item != nullptr;
         P.diag = "rows " + std::to_string(rows);
         return rows >= 3 && shown_panel(kRoleNewstoday) &&
                !flyaway_animating(today->search_section);
       },
       [&] { open_section(today->search_section); }},
      {"the Search section open",
       [&] {
         return on_screen(today->clear, today->search_section) && on_screen(today->search, today->search_section);
       },
       [&] {
         click_on(today->clear);  // empties and focuses the box
         xdo("type dividend");
         xdo("key Return");
       }},
      {"the list narrowed to the dividend items and the title says so",
       [&] {
         widget *n = window_get_content(w, kRoleNewstoday);
         int rows = 0, matching = 0;
         for (newstoday_row *r = static_cast<newstoday *>(n)->rows; r; r = r->next)
           if (r->item) {
             rows++;
             matching += upper(r->item->headline).find("DIVIDEND") != std::string::npos;
           }
         P.diag = "rows " + std::to_string(rows) + " matching " + std::to_string(matching) + " caption [" +
                  caption() + "] keyword " + (newstoday_get_keyword(n) ? newstoday_get_keyword(n) : "(none)");
         return rows == 2 && matching == 2 && caption().find("LIKE DIVIDEND") != std::string::npos;
       },
       [&] {
         window_set_role(w, kRoleHistnews);
         window_set_instrument(w, st);
         window_show_tools(w);
       }},

      // ---- the history chart ----
      {"the stock's announcements and day chart loaded",
       [&] {
         widget *h = window_get_content(w, kRoleHistnews);
         hist = static_cast<histnewstools *>(window_get_tools(w, kRoleHistnews));
         is = static_cast<histnews *>(h)->issuer;
         P.diag = std::string("issuer ") + (is ? "yes" : "no") + " chart count " +
                  std::to_string(hist ? hist->chart->plot.count : -1) + " loaded " +
                  std::to_string(is && (is->flags & kInHistory)) + " rows " +
                  std::to_string(static_cast<histnews *>(h)->rows != nullptr) + " panel " +
                  std::to_string(shown_panel(kRoleHistnews)) + " chart " +
                  std::to_string(hist && widget_is_shown(hist->chart)) + " animating " +
                  std::to_string(hist && flyaway_animating(hist->date_section));
         return is && (is->flags & kInHistory) && static_cast<histnews *>(h)->rows && shown_panel(kRoleHistnews) &&
                !flyaway_animating(hist->date_section);
       },
       [&] { open_section(hist->date_section); }},
      {"the chart on screen",
       [&] {
         nuchart *c = hist->chart;
         P.diag = "chart " + std::to_string(c->r.w) + "x" + std::to_string(c->r.h) + " pane " +
                  std::to_string(c->plot.pane_w);
         P.diag += " count " + std::to_string(c->plot.count) + " open " +
                   std::to_string(flyaway_is_open(hist->date_section));
         return on_screen(c, hist->date_section) && c->r.h > 20 && c->plot.pane_w > 50 && c->plot.count > 10 &&
                !c->plot.dirty;
       },
       [&] {
         // The third newest announcement, clicked at its day.
         int n = 0;
         for (const ss_news *it = is->news.tail; it; it = it->prev)
           if (it->time && n++ == 2) target = it;
         ASSERT_NE(target, nullptr);
         nuchart *c = hist->chart;
         g_clicked = 0;
         g_panel_click = c->click_fn;
         c->click_fn = record_click;
         int32_t x = util_sample_at(&c->plot, target->time);
         ASSERT_GE(x, c->plot.pane_x);
         move_to(x, c->plot.pane_y + c->plot.pane_h / 2);
         xdo("click 1");
       }},
      {"the list moved to the clicked day",
       [&] {
         if (!g_clicked) return false;
         const ss_time day = g_clicked & ~kSstimeSecondsMask;
         const ss_news *want = nullptr;
         for (const ss_news *it = is->news.tail; it && !want; it = it->prev)
           if (it->time && (it->time & ~kSstimeSecondsMask) <= day) want = it;
         histnews *h = static_cast<histnews *>(window_get_content(w, kRoleHistnews));
         P.diag = "clicked day " + std::to_string(day >> 17) + " target day " +
                  std::to_string(target->time >> 17) + " top " +
                  std::to_string(h->rows && h->rows->item ? h->rows->item->time >> 17 : 0);
         return want && (want->time & ~kSstimeSecondsMask) == day && h->rows && h->rows->item == want;
       },
       [&] {
         hist->chart->click_fn = g_panel_click;
         // The document of the newest announcement, three pages on the
         // simulator at the path the download asks for.
         const ss_news *item = is->news.tail;
         while (item && !item->time) item = item->prev;
         ASSERT_NE(item, nullptr);
         char url[kDocmgrUrlSize];
         ASSERT_NE(docmgr_document_url(url, is, item->number), nullptr);
         const char *rest = strstr(url, "://");
         rest = rest ? strchr(rest + 3, '/') : nullptr;
         ASSERT_NE(rest, nullptr);
         doc_path = rest;
         sim_http_file f;
         f.path = doc_path;  // with its query, as the GET asks
         f.body = pdf_of(3);
         ASSERT_EQ(sim_http_add_file(sim, f), 0);
         window_set_role(w, kRoleDocument);
         docwin_show_news_item(window_get_content(w, kRoleDocument), is, item);
         window_show_tools(w);
       }},

      // ---- the document ----
      {"the document open on page 1 of 3",
       [&] {
         widget *d = window_get_content(w, kRoleDocument);
         doc = static_cast<doctools *>(window_get_tools(w, kRoleDocument));
         docwin *dw = static_cast<docwin *>(d);
         P.diag = "pages " + std::to_string(docwin_get_page_count(d)) + " gets " +
                  std::to_string(gets_of(sim, doc_path)) + " has " + std::to_string(docwin_has_document(d)) +
                  " request " + std::to_string(dw->request != nullptr) + " phase " +
                  std::to_string(dw->progress.phase) + " pdf " + std::to_string(dw->pdf != nullptr) + " shown " +
                  std::to_string(widget_is_shown(d));
         return docwin_get_page_count(d) == 3 && docwin_get_page(d) == 0 && shown_panel(kRoleDocument) &&
                !flyaway_animating(doc->page_section);
       },
       [&] { open_section(doc->page_section); }},
      {"Next on screen and sensitive",
       [&] {
         tools_refresh_now(doc);
         return on_screen(doc->next, doc->page_section) && !(doc->next->state & BUTTON_INSENSITIVE);
       },
       [&] { click_on(doc->next); }},
      {"page 2", [&] { return docwin_get_page(window_get_content(w, kRoleDocument)) == 1; },
       [&] { xdo("key super+z"); }},
      {"Super+Z back on page 1",
       [&] {
         widget *d = window_get_content(w, kRoleDocument);
         P.diag = "page " + std::to_string(docwin_get_page(d));
         return docwin_get_page(d) == 0;
       },
       [&] {
         sim_http_file f;
         f.path = kFeedPath;
         f.body = kFeed;
         ASSERT_EQ(sim_http_add_file(sim, f), 0);
         window_set_role(w, kRoleRss);
         rsswin_set_url(window_get_content(w, kRoleRss),
                        ("http://127.0.0.1:" + std::to_string(app.port) + kFeedPath).c_str());
         window_show_tools(w);
       }},

      // ---- the feed ----
      {"the feed loaded once and its panel shown",
       [&] {
         rss_feed *f = rsswin_get_feed(window_get_content(w, kRoleRss));
         feed = static_cast<rsstools *>(window_get_tools(w, kRoleRss));
         feed_gets = gets_of(sim, kFeedPath);
         P.diag = "gets " + std::to_string(feed_gets) + " items " + std::to_string(f ? f->item_count : 0);
         return f && f->item_count == 2 && f->request.load() == -1 && feed_gets == 1 && shown_panel(kRoleRss) &&
                !flyaway_animating(feed->update_section);
       },
       [&] { open_section(feed->update_section); }},
      {"Now on screen", [&] { return on_screen(feed->now, feed->update_section); },
       [&] { click_on(feed->now); }},
      {"the feed reloaded",
       [&] {
         rss_feed *f = rsswin_get_feed(window_get_content(w, kRoleRss));
         feed_gets = gets_of(sim, kFeedPath);
         P.diag = "gets " + std::to_string(feed_gets);
         return feed_gets >= 2 && f->request.load() == -1 && f->item_count == 2;
       },
       [] { gui_quit(); }},
  };
  app.run(&P);
  EXPECT_EQ(P.failed, "");
  EXPECT_EQ(P.at, P.steps.size());
  EXPECT_EQ(gets_of(sim, kFeedPath), 2) << "one click, one reload";
  {
    rss_feed *f = rsswin_get_feed(window_get_content(w, kRoleRss));
    ASSERT_NE(f, nullptr);
    // The feed took its document's title as its name: the title adds nothing.
    ASSERT_TRUE(rss_feed_has_title(f));
    EXPECT_STREQ(rss_feed_name(f), rss_feed_title(f));
    EXPECT_EQ(caption(), "");
  }
  start_cleanup();
  pdf_shutdown();
  rss_shutdown();
  docmgr_shutdown();
  splash_fini();
  cstyle_fini();
  scan_fini();
  app.stop();
}

}  // namespace
