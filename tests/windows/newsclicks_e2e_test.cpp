// Clicks on news marks end to end, under Xvfb against the simulator's demo
// scenario with its live market publishing an announcement every few
// seconds, in the real frame loop after a real sign-on: a live announcement
// arrives; the focused window shows its stock's course of sales held at the
// announcement's time, and an xdotool click on the news strip of the row
// whose interval holds it opens the announcement in the popup document, its
// PDF fetched over HTTP from the simulator; then the window shows a
// watchlist of the stock, and a click on the grid's news marker opens the
// issuer's latest announcement the same way (asked of the simulator).
#include <gtest/gtest.h>

#include <string>

#include "appscript.h"
#include "doc/docmgr.h"
#include "doc/pdf.h"
#include "lib/scan.h"
#include "lib/splash.h"
#include "lib/wlist.h"
#include "popups/place.h"
#include "sim_http.h"
#include "ssmodel.h"
#include "windows/docwin.h"
#include "windows/tradelist.h"
#include "windows/watchlist.h"

namespace {

constexpr double kNewsSeconds = 4;

// The popup document's announcement, or null.
const ss_news *document_item() {
  screen *s = screen_current();
  window *p = screen_popup_document();
  widget *d = p ? window_get_content(p, kRoleDocument) : nullptr;
  return s && (s->bars & BAR_POPUP_DOCUMENT) && d ? docwin_get_news_item(d) : nullptr;
}

// The popup document shows the item and asked the simulator for it; with
// `pages`, its one page arrived.
bool document_fetched(sim_server *sim, uint32_t number, std::string *diag, bool pages = true) {
  const ss_news *item = document_item();
  window *p = screen_popup_document();
  widget *d = p ? window_get_content(p, kRoleDocument) : nullptr;
  bool asked = false;
  const std::string key = "N=" + std::to_string(number) + "&";
  for (const std::string &r : sim_http_requests(sim)) asked |= r.find(key) != std::string::npos;
  *diag = "shown " + std::to_string(item ? item->number : 0) + " want " + std::to_string(number) + " asked " +
          std::to_string(asked) + " pages " + std::to_string(d ? docwin_get_page_count(d) : -1);
  return item && item->number == number && asked && (!pages || docwin_get_page_count(d) == 1);
}

TEST(NewsClicksEndToEnd, CourseOfSalesStripAndGridMarkerOpenTheirAnnouncements) {
  demo_app app;
  app.news_seconds = kNewsSeconds;
  ASSERT_NO_FATAL_FAILURE(app.start("newsclicks"));
  ASSERT_EQ(splash_init(), 0);
  ASSERT_EQ(docmgr_init(), 0);
  ASSERT_EQ(pdf_init(), 0);
  ASSERT_EQ(scan_init(), 0);  // the lists, as the process entry starts them
  app_script P;
  window *w = nullptr;
  tradelist *t = nullptr;
  watchlist *g = nullptr;
  ss_stock *stock = nullptr;
  ss_issuer *issuer = nullptr;
  ss_news *item = nullptr;
  uint32_t latest = 0;
  wlist *wl = nullptr;
  const auto xdo = demo_app::xdo;
  const auto move_to = demo_app::move_to;
  // The end of a row's interval: the newer row's start, or its own end.
  const auto end_of = [](const tradelist_row *r) { return r->newer ? r->newer->from : r->to + 1; };

  P.steps = {
      {"online with the first screen up and a focused window",
       [&] {
         w = demo_app::focused();
         return demo_app::signed_on_and_settled();
       },
       nullptr},
      {"a live announcement of a stock",
       [&] {
         ss_exchange *ex = ssmodel_exchange(0);
         for (const ss_exchange_news *e = ex->news.tail; e; e = e->prev) {
           if (e->number < kSimLiveNewsFirst) continue;
           ss_issuer *is = ssmodel_find_issuer(ex, e->code);
           ss_stock *st = ssmodel_find_stock(ex, e->code);
           ss_news *n = is ? ssmodel_find_news(is, e->number) : nullptr;
           if (!st || !n || !n->time) continue;
           issuer = is;
           stock = st;
           item = n;
           return true;
         }
         return false;
       },
       [&] {
         window_set_instrument(w, stock);
         window_set_role(w, kRoleTradelist);
         t = static_cast<tradelist *>(window_get_content(w, kRoleTradelist));
       }},
      {"the course of sales holds a row over the announcement's time",
       [&] {
         if (!t || !widget_is_shown(t) || !t->first_row) return false;
         for (tradelist_row *r = t->first_row; r; r = r->older)
           if (r->from <= item->time && item->time < end_of(r)) return true;
         P.diag = "rows " + std::to_string(t->row_count);
         return false;
       },
       [&] { tradelist_set_position(t, item->time); }},
      {"that row at the top with its news counted",
       [&] {
         tradelist_row *r = t->top_row;
         P.diag = r ? "top " + std::to_string(r->from) + " news " + std::to_string(r->news[0] + r->news[1] + r->news[2])
                    : "no top row";
         return r && r->from <= item->time && item->time < end_of(r) && r->y >= t->r.y &&
                r->news[0] + r->news[1] + r->news[2] > 0;
       },
       [&] {
         const tradelist_row *r = t->top_row;
         const int32_t lh = r->older ? r->older->y - r->y : 10;
         move_to(t->r.x + t->r.w - kTradelistNewsStrip / 2, r->y + lh / 2);
         xdo("click 1");
       }},
      {"the interval's announcement open in the popup document, fetched over HTTP",
       [&] {
         // The first item of the issuer in the row's interval: this one
         // unless another arrived within the same interval before it.
         const tradelist_row *r = t->top_row;
         const ss_news *first = nullptr;
         for (const ss_news *n = issuer->news.head; n && !first; n = n->next)
           if (n->time && n->time >= r->from && n->time < end_of(r)) first = n;
         return first && document_fetched(app.sim(), first->number, &P.diag);
       },
       [&] {
         EXPECT_EQ(window_get_role(w), uint32_t(kRoleTradelist)) << "the list keeps its role";
         screen_hide_popup_document();
         wl = wlist_create("News clicks", -1);
         wlist_add_item(wl, stock);
         window_set_role(w, kRoleWatchlist);
         window_set_list_source(w, wl);
         g = static_cast<watchlist *>(window_get_content(w, kRoleWatchlist));
       }},
      {"the grid shows the stock with its news marker",
       [&] {
         watchlist_row *r = g && widget_is_shown(g) ? watchlist_find_row(g, stock) : nullptr;
         return r && r->issuer == issuer && (g->columns.shown >> 2 & 1) &&
                (issuer->flags & (kInNewsFlag1 | kInNewsFlag4 | kInNewsPlain));
       },
       [&] {
         const watchlist_row *r = watchlist_find_row(g, stock);
         move_to(g->columns.col[2].x1 - kWatchNewsGrip / 2, g->r.y + r->y + g->row_h / 2);
         xdo("click 1");
       }},
      {"the issuer's latest announcement open in the popup document",
       [&] {
         latest = 0;
         for (const ss_news *n = issuer->news.tail; n && !latest; n = n->prev)
           if (n->time) latest = n->number;
         // One that arrived after the click is not the one clicked: the
         // shown one is then the latest but one.
         const ss_news *shown = document_item();
         if (shown && shown->number != latest) {
           const ss_news *before = ssmodel_find_news(issuer, latest);
           for (const ss_news *n = before ? before->prev : nullptr; n; n = n->prev)
             if (n->time) {
               if (n->number == shown->number) latest = n->number;
               break;
             }
         }
         // (The latest may be one of the scenario's own items of the day,
         // whose document the simulator does not make.)
         return latest && document_fetched(app.sim(), latest, &P.diag, latest >= kSimLiveNewsFirst);
       },
       [&] {
         EXPECT_EQ(window_get_role(w), uint32_t(kRoleWatchlist)) << "the grid keeps its role";
         gui_quit();
       }},
  };
  app.run(&P);
  EXPECT_EQ(P.failed, "");
  EXPECT_EQ(P.at, P.steps.size());
  start_cleanup();
  pdf_shutdown();
  splash_fini();
  docmgr_shutdown();
  scan_fini();
  app.stop();
}

}  // namespace
