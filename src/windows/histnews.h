// Announcements of one issuer, newest first, each row with the stock's
// prices of that day and a separator row before each new month; filtered by
// price sensitivity, common report types, related flags and a keyword.
// Also the filter test and the percent change the announcements-today
// window shares. Main thread only.
#pragma once

#include <cstdint>

#include "lib/cols.h"
#include "ssmodel.h"
#include "ui/widget.h"
#include "windows/content.h"

constexpr int kNewsKeywordLen = 32;   // at most 31 characters
constexpr int kNewsHeadlineScan = 79;  // the keyword is looked for in these

// The filters both announcement windows apply.
struct news_filter {
  uint32_t sensitive_only;
  uint32_t common;
  uint32_t related;
  uint32_t has_keyword;
  char keyword[kNewsKeywordLen];
  char keyword_upper[kNewsKeywordLen];
};

// News flag values (withdrawn, 0x2, is the model's).
constexpr uint32_t kNewsSensitive = 0x1;
constexpr uint32_t kNewsRelated = 0x4;

void news_filter_defaults(news_filter *f);
// Copies at most 31 characters; an empty text clears the keyword.
void news_filter_set_keyword(news_filter *f, const char *text);
// Whether every report code up to the first 0 is a common one (and the
// first is not 0).
bool news_is_common(const ss_news *item);
// The filter test without the time rule: sensitivity, common, related and
// the keyword in the headline's first 79 characters, upper-cased.
bool news_filter_pass(const news_filter *f, const ss_news *item);
// change x 10000 / (close - change) in hundredths of a percent, computed in
// 64 bits; false (an empty cell) when close is 0 or equals the change.
bool news_percent_change(int32_t change, uint32_t close, int32_t *out);

struct histnews_row {
  int32_t y;
  ss_news *item;               // null for a month separator
  const ss_stock_point *day;  // the window's today, own_day, or null
  ss_stock_point own_day;
  uint32_t dirty;
  histnews_row *next;
};

struct histnews : content {
  ss_stock *stock;
  ss_issuer *issuer;
  histnews_row *rows;
  int32_t row_height;
  ss_time top_time;
  cols columns;
  ss_stock_point today;
  news_filter filter;
  ss_time first_time, last_time;
  uint32_t rebuilding;
  int32_t total_rows;  // rows of the filtered list, separators included
};

// Columns, in order.
enum : int {
  kHnDate, kHnTime, kHnLast, kHnChange, kHnPercent, kHnHeadline, kHnFirst, kHnLow, kHnHigh, kHnLast2,
  kHnVolume, kHnColumns
};

typeid_t histnews_type();
widget *histnews_new(widget *parent);
bool histnews_is(const widget *w);

void histnews_set_instr(widget *w, ss_stock *stock);
void histnews_set_issuer(widget *w, ss_issuer *issuer);
void histnews_bind_instr(widget *w, ss_issuer *issuer, ss_stock *stock);
instr *histnews_get_instr(const widget *w);

void histnews_set_sensitive_only(widget *w, uint32_t on);
void histnews_set_common(widget *w, uint32_t on);
void histnews_set_related(widget *w, uint32_t on);
void histnews_set_keyword(widget *w, const char *text);
void histnews_clear_keyword(widget *w);
uint32_t histnews_get_sensitive_only(const widget *w);
uint32_t histnews_get_common(const widget *w);
uint32_t histnews_get_related(const widget *w);
bool histnews_has_keyword(const widget *w);
const char *histnews_get_keyword(const widget *w);        // null without one
const char *histnews_get_keyword_upper(const widget *w);  // null without one

// Copies the filters of another history window (a copy of a window).
void histnews_copy(widget *w, const widget *from);
ss_time histnews_get_top_time(const widget *w);
void histnews_refilter(widget *w, ss_time time);
void histnews_rebuild(widget *w);
// The rows as text into the clipboard's table (every item, unfiltered), and
// to the system clipboard. Returns the table text.
const char *histnews_export(widget *w);

// The day record a news row shows: today for the current day, else the
// stock's history day of that date, else null.
const ss_stock_point *histnews_day_for(histnews *h, ss_time date, ss_stock_point *copy);

// The history requests (the client's by default; tests count them).
struct histnews_requests {
  int (*stock_history)(ss_stock *stock);
  int (*history)(ss_issuer *issuer);
};
void histnews_set_requests(const histnews_requests *r);

// Configuration keys inside the window's block.
void histnews_config_save(widget *w);
void histnews_config_load(widget *w);

// Opening an item (a click on a news row): into the window's document
// child while the screen shows its zoom, else into the popup document
// window at page 0. The last request is recorded (tests read it).
struct news_open_request {
  ss_issuer *issuer;
  uint32_t number;
  int popup;
};
void news_open_item(widget *from, ss_issuer *issuer, const ss_news *item);
const news_open_request *news_last_open(void);
