// The feed window: the content widget that lists the items of one news feed.
// Every market window holds two: kind 0 for the role rss (a feed the user
// picked or a URL typed into the feed panel) and kind 1 for the role google
// (the news feed of the window's instrument, from a URL pattern on the
// outside news host). A row is one item: at detail "title" a date, a time
// and the title; at "brief" and "full" the title, a date line and the
// description laid out with its links. Clicking a title opens the item's
// link, clicking a linked word that link. Main thread only.
#pragma once

#include <cstdint>

#include "lib/cols.h"
#include "lib/gmap.h"
#include "ui/widget.h"
#include "windows/content.h"

struct instr;
struct rss_feed;
struct rss_item;
struct html2txt_link;

enum rsswin_detail : uint32_t { RSSWIN_TITLE = 0, RSSWIN_BRIEF = 1, RSSWIN_FULL = 2 };

struct rsswin_row {
  int32_t y;  // top in the widget; -1 for rows above the first shown
  int32_t height;
  rss_item *item;
  gmap text;       // the title (segment 0), then the rest of the row
  gmap links_map;  // the words of links
  rsswin_row *next;
  html2txt_link *links;
  int32_t stale;  // laid out again at the next draw
};

struct rsswin : content {
  uint32_t kind;  // 0 rss, 1 google
  int32_t line_height;
  int32_t title_height;
  rsswin_row *rows;
  rsswin_row *first_shown;
  cols columns;  // date, time, text
  rss_feed *feed;
  uint32_t detail;
  int32_t period;  // a period asked for while no feed was shown; -1 none
  int32_t origin_x, origin_y;  // where the rows were laid out (for live moves)
};

// Brief stops a description after this many lines.
constexpr int32_t kRsswinBriefLines = 3;
// Instrument news feeds reload hourly, typed URLs every five minutes.
constexpr uint32_t kRsswinNewsPeriod = 3600;
constexpr uint32_t kRsswinUrlPeriod = 300;

typeid_t rsswin_type();
widget *rsswin_new(widget *parent, int kind);
bool rsswin_is(const widget *w);

uint32_t rsswin_get_kind(const widget *w);
uint32_t rsswin_get_detail(const widget *w);
rss_feed *rsswin_get_feed(const widget *w);
void rsswin_set_detail(widget *w, uint32_t detail);
void rsswin_set_feed(widget *w, rss_feed *feed);
void rsswin_set_url(widget *w, const char *url);
void rsswin_show_instr_news(widget *w, instr *in);
void rsswin_set_period(widget *w, int32_t seconds);

// The outside news host of instrument feeds ("http://host:port" or
// "http://host"); the simulator's file server by default.
void rsswin_set_news_host(const char *base);
const char *rsswin_news_host();
// The instrument news URL of an instrument (its issuer for a stock when the
// model has one), at most 255 characters; "" for none.
const char *rsswin_news_url(const instr *in);

// The opener of links (launch_open_url by default; tests record).
void rsswin_set_opener(int (*open)(const char *url));

// Rows as laid out by the last draw, for tests: the number of rows, and the
// row at an index.
int rsswin_row_count(const widget *w);
const rsswin_row *rsswin_row_at(const widget *w, int index);

// Configuration: "rsswin %d" (0 for a temporary feed, then "rsswin.url",
// "rsswin.title", "rsswin.period") and "rsswin.detail" for kind 0;
// "google.period" and "google.detail" for kind 1. Save writes through the
// configuration writer; load reads the current block of the loaded tree.
void rsswin_config_save(widget *w);
void rsswin_config_load(widget *w);
