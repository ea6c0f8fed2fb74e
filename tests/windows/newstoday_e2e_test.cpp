// The announcement windows end to end, under Xvfb against the simulator's
// demo scenario with its live market publishing an announcement every few
// seconds (the same code as `ambit-sim --scenario demo --live RATE --news
// SECONDS`), in the real frame loop after a real sign-on: the focused window
// shows today's price-sensitive announcements; a new one arrives at the top
// and flashes (a sampled pixel in the flash colours, then the sensitive
// row's highlight once the flash has faded); a click on its headline opens its document, fetched
// over HTTP from the simulator, in the popup document; slow xdotool motion
// over its code opens the stock's depth beside the row; and the window in
// the history role lists the issuer's announcements, the simulator's
// generated history among them, with month separators.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "appscript.h"
#include "lib/splash.h"
#include "doc/docmgr.h"
#include "doc/pdf.h"
#include "sim_history.h"
#include "sim_http.h"
#include "popups/place.h"
#include "ssmodel.h"
#include "style.h"
#include "windows/docwin.h"
#include "windows/histnews.h"
#include "windows/newstoday.h"

namespace {

// Year and month of a time, as 12 * year + month.
int32_t month_of(ss_time t) {
  sstime_parts p{};
  sstime_unpack(&p, t);
  return p.year * 12 + p.mon;
}

constexpr double kNewsSeconds = 7;  // longer than a flash (5 s), so one fades before the next

TEST(NewsEndToEnd, LiveAnnouncementFlashesOpensItsDocumentAndPreviewsDepth) {
  demo_app app;
  app.news_seconds = kNewsSeconds;
  ASSERT_NO_FATAL_FAILURE(app.start("news"));
  // The documents' services, as the process entry starts them.
  ASSERT_EQ(splash_init(), 0);
  ASSERT_EQ(docmgr_init(), 0);
  ASSERT_EQ(pdf_init(), 0);
  app_script P;
  window *w = nullptr;
  newstoday *n = nullptr;
  histnews *h = nullptr;
  uint32_t seen = 0;            // the newest item number before the wait
  ss_news *fresh = nullptr;     // the announcement that arrived while shown
  ss_issuer *fresh_issuer = nullptr;
  ss_stock *fresh_stock = nullptr;
  int moves = 0;
  int32_t hover_x = 0, hover_y = 0;
  const auto xdo = demo_app::xdo;
  const auto move_to = demo_app::move_to;
  const auto row_of = [&](const ss_news *item) -> newstoday_row * {
    for (newstoday_row *r = n->rows; r; r = r->next)
      if (r->item == item) return r;
    return nullptr;
  };
  const auto top_item = [&]() -> newstoday_row * {
    for (newstoday_row *r = n->rows; r; r = r->next)
      if (r->item) return r;
    return nullptr;
  };
  // The pixel at the right end of the row's company cell.
  const auto row_pixel = [&](const newstoday_row *r) {
    const int32_t x = n->columns.col[kNtCompany].x1 - 3, y = n->r.y + r->y + n->row_height / 2;
    return guitest_window_pixel(demo_app::xwin(0), x, y);
  };
  const auto colour_of = [](int field) { return style_colour(style_cur(), field) | 0xff000000u; };
  char diag[300];

  P.steps = {
      {"online with the first screen up and a focused window",
       [&] {
         w = demo_app::focused();
         return demo_app::signed_on_and_settled();
       },
       [&] {
         // Price-sensitive announcements only: the demo day's own items
         // (one an issuer, at fixed times of the day) are not, so the live
         // ones come at the top whatever the clock says.
         window_set_role(w, kRoleNewstoday);
         n = static_cast<newstoday *>(window_get_content(w, kRoleNewstoday));
         newstoday_set_sensitive_only(n, 1);
       }},
      {"today's window lists a live announcement",
       [&] {
         snprintf(diag, sizeof diag, "shown %d rows %d published %llu", n && widget_is_shown(n), n ? n->row_count : -1,
                  static_cast<unsigned long long>(sim_live_news_count(app.live())));
         P.diag = diag;
         if (n)
           for (newstoday_row *r = n->rows; r; r = r->next)
             P.diag += r->item ? " " + std::string(r->issuer->code) + ":" + std::to_string(r->item->number) + "@" +
                                     std::to_string(r->time & kSstimeSecondsMask)
                               : std::string(" --");
         for (const ss_exchange_news *e = ssmodel_exchange(0)->news.tail; e; e = e->prev)
           P.diag += " [" + std::string(e->code) + ":" + std::to_string(e->number) + "]";
         return n && widget_is_shown(n) && top_item() && top_item()->item->number >= kSimLiveNewsFirst;
       },
       [&] { seen = top_item()->item->number; }},
      {"a newer announcement at the top, flashing",
       [&] {
         newstoday_row *r = top_item();
         snprintf(diag, sizeof diag, "top %u seen %u flash %d", r ? r->item->number : 0, seen, r && r->flash.state);
         P.diag = diag;
         if (!r || r->item->number <= seen || !r->flash.state) return false;
         fresh = r->item;
         fresh_issuer = r->issuer;
         fresh_stock = r->stock;
         return true;
       },
       nullptr},
      {"the new row's pixel in the flash colour",
       [&] {
         newstoday_row *r = row_of(fresh);
         if (!r || !r->flash.state) {
           P.failed = "the flash ended before it was seen on the screen";
           gui_set_quitting();
           return false;
         }
         const uint32_t px = row_pixel(r);
         snprintf(diag, sizeof diag, "pixel %08x background %08x selection %08x", px, colour_of(SC_BACKGROUND),
                  colour_of(SC_SELECTION));
         P.diag = diag;
         // Between the flash colour and the panel colour it fades to: not
         // the background nor the highlight the row keeps afterwards.
         return !guitest_near(px, colour_of(SC_BACKGROUND), 8) && !guitest_near(px, colour_of(SC_SELECTION), 8) &&
                !guitest_near(px, colour_of(SC_PANEL), 2);
       },
       nullptr},
      {"the flash faded: the sensitive row's highlight",
       [&] {
         newstoday_row *r = row_of(fresh);
         const uint32_t px = r ? row_pixel(r) : 0;
         snprintf(diag, sizeof diag, "row %d flash %d pixel %08x selection %08x", r != nullptr, r && r->flash.state,
                  px, colour_of(SC_SELECTION));
         P.diag = diag;
         return r && !r->flash.state && guitest_near(px, colour_of(SC_SELECTION), 8);
       },
       [&] {
         newstoday_row *r = row_of(fresh);
         const cols_col &c = n->columns.col[kNtHeadline];
         move_to(c.x0 + 6, n->r.y + r->y + n->row_height / 2);
         xdo("click 1");
       }},
      {"the announcement's document open, fetched over HTTP",
       [&] {
         screen *s = screen_current();
         window *p = screen_popup_document();
         widget *d = p ? window_get_content(p, kRoleDocument) : nullptr;
         const ss_news *item = d ? docwin_get_news_item(d) : nullptr;
         bool asked = false;
         const std::string number = "N=" + std::to_string(fresh->number) + "&";
         for (const std::string &r : sim_http_requests(app.sim()))
           if (r.find(number) != std::string::npos) {
             asked = true;
             P.diag = r.substr(0, 200);
           }
         const docwin *dw = d && docwin_is(d) ? static_cast<const docwin *>(d) : nullptr;
         snprintf(diag, sizeof diag, "popup %d item %u pages %d asked %d phase %d view %d",
                  s && (s->bars & BAR_POPUP_DOCUMENT), item ? item->number : 0, d ? docwin_get_page_count(d) : -1,
                  asked, dw ? int(dw->progress.phase) : -1, dw && dw->pdf);
         P.diag += diag;
         return s && (s->bars & BAR_POPUP_DOCUMENT) && item && item->number == fresh->number && asked &&
                docwin_get_page_count(d) == 1;
       },
       [&] {
         screen_hide_popup_document();
         newstoday_row *r = row_of(fresh);
         const cols_col &c = n->columns.col[kNtCode];
         hover_x = c.x0 + 2;
         hover_y = n->r.y + r->y + n->row_height / 2;
       }},
      {"slow motion over the code, a pixel a frame",
       [&] {
         if (moves == 14) return true;
         move_to(hover_x + moves++, hover_y);
         return false;
       },
       nullptr},
      {"the stock's depth previewed beside the row",
       [&] {
         screen *s = screen_current();
         snprintf(diag, sizeof diag, "hover %d role %u", s && (s->bars & BAR_HOVER),
                  s ? window_get_role(s->hover_window) : 0);
         P.diag = diag;
         return s && (s->bars & BAR_HOVER) && window_get_role(s->hover_window) == uint32_t(kRoleDepth) &&
                window_get_instrument(s->hover_window) == static_cast<instr *>(fresh_stock);
       },
       [&] {
         move_to(2, 2);
         window_set_instrument(w, fresh_stock);
         window_set_role(w, kRoleHistnews);
         h = static_cast<histnews *>(window_get_content(w, kRoleHistnews));
       }},
      {"the history window lists the issuer's announcements by month",
       [&] {
         if (!h || !widget_is_shown(h) || !(fresh_issuer->flags & kInHistory)) return false;
         const std::vector<ss_news> generated =
             sim_news_history(sim_options{}.seed, 0, fresh_issuer->code, ssmodel_exchange(0)->date);
         std::set<uint32_t> listed;
         for (const ss_news *it = fresh_issuer->news.head; it; it = it->next) listed.insert(it->number);
         int missing = 0;
         for (const ss_news &g : generated) missing += !listed.count(g.number);
         // A separator opens the list and stands before every change of
         // month, and nowhere else.
         int separators = 0, items = 0, misplaced = 0;
         bool has_fresh = false;
         const ss_news *last_item = nullptr;
         bool after_separator = false;
         for (histnews_row *r = h->rows; r; r = r->next) {
           if (!r->item) {
             separators++;
             after_separator = true;
             continue;
           }
           items++;
           has_fresh |= r->item == fresh;
           const bool new_month = !last_item || month_of(last_item->time) != month_of(r->item->time);
           misplaced += new_month != after_separator;
           after_separator = false;
           last_item = r->item;
         }
         snprintf(diag, sizeof diag, "issuer %s listed %zu missing %d rows %d separators %d misplaced %d fresh %d total %d",
                  fresh_issuer->code, listed.size(), missing, items, separators, misplaced, has_fresh, h->total_rows);
         P.diag = diag;
         return missing == 0 && has_fresh && separators >= 2 && misplaced == 0 && h->rows && !h->rows->item &&
                h->total_rows >= int32_t(generated.size()) + 2;
       },
       [] { gui_quit(); }},
  };
  app.run(&P);
  EXPECT_EQ(P.failed, "");
  EXPECT_EQ(P.at, P.steps.size());
  start_cleanup();
  pdf_shutdown();
  splash_fini();
  docmgr_shutdown();
  app.stop();
}

}  // namespace
