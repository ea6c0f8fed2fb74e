// The tool panels of the news, feed and document windows: `histnewstools`
// (announcement history, with a day chart of the issuer's stock that marks
// the rows on screen and moves the list to a clicked day), `newstools`
// (today's announcements: keyword, exchanges, groups, types), `rsstools`
// (a feed window: name and URL, reload period, reload now, detail) and
// `doctools` (a document window: popup, launch, rotation, fit, pages).
// Every setting edit is a linked change of the window's role: one undo
// step, and with Shift it reaches every window of that role on the desktop.
// Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sstime.h"
#include "tools/tools.h"
#include "ui/button.h"

struct fbox;
struct flyaway;
struct instr;
struct label;
struct nuchart;
struct spinner;
struct textbox;
struct time_spinner;

// ---- announcement history (role histnews) -------------------------------------

struct histnewstools : tools {
  fbox *box;
  flyaway *search_section, *select_section, *date_section;
  textbox *search;
  button *clear, *sensitive, *related, *regular;
  nuchart *chart;
  instr *stock;  // the stock the chart shows, or null
};

typeid_t histnewstools_type();
bool histnewstools_is(const widget *w);
histnewstools *histnewstools_new(widget *parent, widget *owner);
// The window's stock for the chart (null unbinds and hides the chart).
void histnewstools_set_instrument(widget *panel, instr *stock);
// The span of the rows on screen, marked on the chart (either end first).
void histnewstools_set_marker(widget *panel, ss_time from, ss_time to);
// What a click on the chart at time t does: every collected window moves to
// the day of t, as one undo step when `record` is set. t of 0 does nothing.
void histnewstools_goto_day(histnewstools *p, ss_time t, int record);

// ---- today's announcements (role newstoday) -----------------------------------

struct newstools : tools {
  fbox *box;
  flyaway *search_section, *select_section, *type_section;
  textbox *search;
  button *clear, *asx, *nzx, *groups, *sensitive, *related, *regular;
};

typeid_t newstools_type();
bool newstools_is(const widget *w);
newstools *newstools_new(widget *parent, widget *owner);

// ---- feeds (roles rss and google) ---------------------------------------------

struct rsstools : tools {
  fbox *box;
  flyaway *file_section, *url_section, *update_section, *display_section;
  textbox *name, *url;  // null for a google window
  button *save, *change, *now;
  time_spinner *period;
  button_group display;
};

// The period spinner holds hours x 100 + minutes; it reaches a day.
constexpr int32_t kRsstoolsPeriodMin = 1;
constexpr int32_t kRsstoolsPeriodMax = 2400;

typeid_t rsstools_type();
bool rsstools_is(const widget *w);
rsstools *rsstools_new(widget *parent, widget *owner);
// Spinner value (hours x 100 + minutes) to seconds, and seconds back.
uint32_t rsstools_period_seconds(int32_t value);
int32_t rsstools_period_value(uint32_t seconds);
// A typed URL as the feed takes it: "http://" put in front of a text
// without "://". Writes at most n - 1 characters; returns out.
const char *rsstools_full_url(const char *text, char *out, size_t n);

// ---- documents (role document) ------------------------------------------------

struct doctools : tools {
  fbox *box;
  flyaway *window_section, *display_section, *page_section;
  button *popup, *launch, *rotate;
  button *first, *prev, *back5, *next, *fwd5, *last;
  button_group fit;
  spinner *page;
  label *count;
};

typeid_t doctools_type();
bool doctools_is(const widget *w);
doctools *doctools_new(widget *parent, widget *owner);
