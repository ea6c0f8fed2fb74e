// Today's announcements of the chosen exchanges, newest first across
// exchanges, each row with the issuer's code, short name and today's
// prices; a day separator before each earlier day; new announcements flash.
// Filters as the history window's, plus watched issuers only, per-exchange
// exclusion and a group filter. Main thread only.
#pragma once

#include <cstdint>

#include "lib/cols.h"
#include "lib/fade.h"
#include "ssmodel.h"
#include "ui/widget.h"
#include "windows/content.h"
#include "windows/histnews.h"

struct filter;

constexpr int kNewstodayExchanges = 4;

struct newstoday_row {
  int32_t y;
  ss_news *item;  // null for a day separator
  ss_issuer *issuer;
  ss_stock *stock;
  uint32_t exchange;  // index of the item's exchange
  ss_time time;       // the item's time (the list entry's when the item has none)
  fade_value flash;
  uint32_t dirty;
  newstoday_row *next;
};

struct newstoday : content {
  ss_exchange *exchanges[kNewstodayExchanges];
  newstoday_row *rows;
  int32_t row_count;
  int32_t row_height;
  cols columns;
  news_filter nf;
  uint32_t watchlists_only;
  filter *group_filter;
  uint32_t registered;
  fade_owner fades;
  int32_t flash_timer;
  uint32_t rebuild_queued;
  // The newest entry of each exchange when the rows were last built.
  const ss_exchange_news *newest[kNewstodayExchanges];
};

// Columns, in order.
enum : int {
  kNtTime, kNtCompany, kNtCode, kNtLast, kNtChange, kNtPercent, kNtHeadline, kNtQuoteBases, kNtState, kNtFirst,
  kNtLow, kNtHigh, kNtLast2, kNtVolume, kNtColumns
};

typeid_t newstoday_type();
widget *newstoday_new(widget *parent);
bool newstoday_is(const widget *w);

void newstoday_set_sensitive_only(widget *w, uint32_t on);
void newstoday_set_common(widget *w, uint32_t on);
void newstoday_set_related(widget *w, uint32_t on);
void newstoday_set_keyword(widget *w, const char *text);
void newstoday_clear_keyword(widget *w);
void newstoday_set_watchlists_only(widget *w, uint32_t on);
uint32_t newstoday_get_sensitive_only(const widget *w);
uint32_t newstoday_get_common(const widget *w);
uint32_t newstoday_get_related(const widget *w);
bool newstoday_has_keyword(const widget *w);
const char *newstoday_get_keyword(const widget *w);
const char *newstoday_get_keyword_upper(const widget *w);
uint32_t newstoday_get_watchlists_only(const widget *w);

void newstoday_set_exchange_shown(widget *w, int index, int on);
int newstoday_get_exchange_shown(const widget *w, int index);
void newstoday_hide_exchange(widget *w, int index);
void newstoday_show_all_exchanges(widget *w, int on);
void newstoday_clear_exchanges(widget *w);

filter *newstoday_get_group_filter(const widget *w);
filter *newstoday_group_filter(widget *w);  // made empty on first use
bool newstoday_has_group_filter(const widget *w);
void newstoday_group_filter_changed(widget *w);
void newstoday_copy_group_filter(widget *w, const widget *from);
// Copies another window's filters, exchanges and group filter.
void newstoday_copy(widget *w, const widget *from);

ss_time newstoday_get_top_time(const widget *w);
int newstoday_select_time(widget *w, ss_time date);
void newstoday_goto_time(widget *w, ss_time date);  // the same as select_time

// The merge, at once (the setters queue it before the next redraw).
void newstoday_rebuild(widget *w);
const char *newstoday_tooltip(const widget *w, int32_t x);
const char *newstoday_export(widget *w);

// "1st", "2nd", "3rd", "4th", "11th", ...: the ordinal suffix of a day.
const char *newstoday_ordinal(int day);

void newstoday_config_save(widget *w);
void newstoday_config_load(widget *w);
