// The group bar: a floating panel of check buttons that restricts a list to
// instruments by watchlist membership and by industry group. It edits the
// group filter of one target at a time (a watchlist grid's scan, a ticker,
// a today's-announcements window). Main thread.
#pragma once

#include <cstdint>

#include "ui/container.h"

struct button;
struct filter;
struct grid;
struct ticker;
struct watchlist;

constexpr int kGroupbarIndustries = 33;
constexpr int kGroupbarWlistColumns = 6;

// One industry button: its label and the group code of the published
// classification packed as hexadecimal digits, two per level (sector,
// group, industry, sub-industry; unused levels 0).
struct groupbar_industry {
  const char *label;
  uint32_t code;
};
const groupbar_industry *groupbar_industries();  // kGroupbarIndustries entries

enum : int32_t { kGroupbarNone = 0, kGroupbarList = 1, kGroupbarTicker = 2, kGroupbarNews = 3 };

struct groupbar : bin {
  int32_t target_kind;
  widget *target;  // the watchlist grid, ticker or newstoday window
  widget *column;  // the vbox holding the sections
  grid *wlist_grid;
  button *at_least_one;
  button *not_in_any;
  button *industry[kGroupbarIndustries];
  button **wlist_buttons;
  int32_t wlist_count;
  uint32_t pending;  // 1 sync, 2 rebuild
};

widget *groupbar_new(widget *parent);
void groupbar_set_target_list(widget *bar, watchlist *grid_content);
void groupbar_set_target_ticker(widget *bar, ticker *t);
void groupbar_set_target_news(widget *bar, widget *newstoday);
void groupbar_schedule_sync(widget *bar);
void groupbar_schedule_rebuild(widget *bar);
// The deferred work now (the promise runs it; tests call it).
void groupbar_run_pending(widget *bar);

// The target's filter, null without a target.
filter *groupbar_target_filter(widget *bar);

// Whether an industry button is sensitive under a filter: a finer code is
// not while its sector is checked.
bool groupbar_code_sensitive(const filter *f, uint32_t code);
// Whether the watchlist buttons are sensitive ("At least one" and "Not in
// any" both clear).
bool groupbar_wlists_sensitive(const filter *f);

// A user's toggle: 1 "At least one", 2 "Not in any", 3 an industry code,
// 4 a watchlist id. Recorded for undo as one group, applied, the target
// told, then a sync.
enum : int32_t { kGroupbarWild = 1, kGroupbarAntiWild = 2, kGroupbarCode = 3, kGroupbarWlist = 4 };
void groupbar_toggle(widget *bar, int32_t what, uint32_t value, int on);

button *groupbar_industry_button(widget *bar, uint32_t code);
button *groupbar_wlist_button(widget *bar, int32_t id);
