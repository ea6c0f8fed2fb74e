// The course of sales: the trades of one stock, newest first, one row per
// trade or grouped by price or by time interval, day after day back into
// history as the user scrolls. New trades appear at the top and flash; a
// click on a row replays the depth window at that moment. Main thread only.
#pragma once

#include <cstdint>

#include "lib/cols.h"
#include "lib/fade.h"
#include "sstime.h"
#include "windows/content.h"

struct instr;
struct ss_stock;
struct ss_trade;
struct ss_change;

constexpr int kTradelistRowsPerPage = 1000;
constexpr int kTradelistColumns = 14;
constexpr uint32_t kTradelistNotifyMask = 0x1B000;  // trades, cancels, all trades, a past day
constexpr uint32_t kTradelistFullMask = 0xA002;     // an exchange reset, cancels, all trades
constexpr uint32_t kTradelistDayMask = 0x10000;     // a past day's trades arrived
constexpr uint32_t kTradelistByDay = 86400;
constexpr int32_t kTradelistNewsStrip = 8;          // pixels at a row's right end

// Columns, in the order of the layout and of the mark bits.
enum : int {
  kTlDate, kTlFrom, kTlTo, kTlLast, kTlChange, kTlVolume, kTlTurnover, kTlCount, kTlVwap, kTlVwapChange,
  kTlFirst, kTlLow, kTlHigh, kTlCodes,
};

// Columns hidden by the grouping (bit i: column i).
constexpr uint64_t kTlHidePrice = 0x1F02;
constexpr uint64_t kTlHideSeconds = 0x2;
constexpr uint64_t kTlHideNone = 0x1F82;
constexpr uint64_t kTlHideDayExtra = 0x6;

struct tradelist_row {
  int32_t y;                // screen position, set on layout
  const ss_trade *trade;    // the oldest trade merged into the row
  ss_time from, to;
  uint32_t first, high, low, last, vwap;
  int32_t change, vwap_change;  // against the next older row
  uint32_t has_older;       // 0: the oldest row loaded; its changes have no value
  uint64_t volume;
  uint64_t value;           // what the model's turnover counts: sum of price x volume / 100
  uint64_t pv[2];           // the exact sum of price x volume, low word first
                            // (two words: pool items are only 8-byte aligned)
  uint32_t marks;           // bit i: column i is an extreme among the rows shown
  uint32_t news[3];         // news items in the interval: flag 0x1, flag 0x4, others
  uint32_t count;
  uint64_t codes;           // condition codes, OR-ed
  uint32_t shown_before;    // came into view once already
  fade_value fades[2];
  tradelist_row *newer, *older;
};

struct tradelist : content {
  ss_stock *stock;
  ss_stock *held;  // the stock last held in the model (held once per change of stock)
  uint32_t registered;
  // Settings, under their configuration names.
  uint32_t off_market, vwap_only, pre_open, closed;
  uint32_t group_by_seconds;  // 0 off, 86400 by day
  uint32_t group_by_price;
  ss_time range_from, range_to;  // 0: open
  ss_time newest_day, oldest_day;
  ss_time position;  // 0: newest
  uint32_t top_index;
  ss_time asked_day;  // the past day last requested (each is asked once)
  const ss_trade *newest_trade;  // the newest trade the rows hold
  tradelist_row *first_row, *last_row, *top_row;
  uint32_t row_count;
  cols columns;
  fade_owner flash;
  int32_t timer;  // -1 none
  int32_t tool_marker[2];
  uint32_t rebuild_pending;  // a deferred full rebuild is queued
  uint32_t load_pending;     // a deferred load of the previous day is queued
};

typeid_t tradelist_type();
widget *tradelist_new(widget *parent);
inline tradelist *tradelist_cast(widget *w) { return static_cast<tradelist *>(w); }

// The stock to list, or none. Visible: a stock whose trades are loaded is
// rebuilt at once, else today's events are asked for.
void tradelist_set_instrument(tradelist *t, instr *in);

// Settings: a changed value queues one full rebuild before the next redraw.
void tradelist_set_off_market(tradelist *t, uint32_t v);  // 0 is stored as 1
void tradelist_set_vwap_only(tradelist *t, uint32_t v);
void tradelist_set_pre_open(tradelist *t, uint32_t v);
void tradelist_set_closed(tradelist *t, uint32_t v);
void tradelist_set_off_market_on(tradelist *t);
void tradelist_set_pre_open_on(tradelist *t);
void tradelist_set_closed_on(tradelist *t);
uint32_t tradelist_get_off_market(const tradelist *t);
uint32_t tradelist_get_vwap_only(const tradelist *t);
uint32_t tradelist_get_pre_open(const tradelist *t);
uint32_t tradelist_get_closed(const tradelist *t);
void tradelist_set_group_by_seconds(tradelist *t, uint32_t n);
void tradelist_set_group_by_price(tradelist *t, uint32_t on);
void tradelist_set_no_grouping(tradelist *t);
uint32_t tradelist_get_group_by_seconds(const tradelist *t);
int tradelist_has_group_by_seconds(const tradelist *t);
uint32_t tradelist_get_group_by_price(const tradelist *t);
void tradelist_set_range(tradelist *t, ss_time from, ss_time to);
// 0 when both ends are set, else -1.
int tradelist_get_range(const tradelist *t, ss_time *from, ss_time *to);
void tradelist_set_position(tradelist *t, ss_time time);
// Copies the settings of another list (copy of a window).
void tradelist_copy(tradelist *dst, const tradelist *src);

// The rows: a full rebuild (rows cleared, today's or the position's day
// loaded) or an incremental one (trades newer than the newest row merged in
// at the top). Runs whether or not the list is shown (the tests call it).
void tradelist_rebuild(tradelist *t, int full);
// Loads a day (0: the day before the oldest loaded day). Asks the client
// once when the day is not loaded.
void tradelist_load_day(tradelist *t, ss_time date);
// The change callback of the list's registration.
void tradelist_changed(const ss_change *change, void *owner, uint64_t argument, uint32_t flags);
// Lays the rows out: positions, hidden columns, extreme marks, news counts.
void tradelist_layout(tradelist *t);
// The columns hidden by the list's grouping.
uint64_t tradelist_hidden_columns(const tradelist *t);
// Whether the list would skip this trade (range, cancelled, price 0, off
// market codes, VWAP only).
int tradelist_skips(const tradelist *t, const ss_trade *trade);
// The clipboard table of the shown columns; the text is left in the
// clipboard writer (clipboard_text) and handed to the system clipboard.
void tradelist_export(tradelist *t);

// The client requests the list makes; tests install counting ones (null:
// the client's own).
struct tradelist_client {
  int (*request_events)(instr *in);
  int (*request_trades_for_day)(instr *in, ss_time date);
};
void tradelist_set_client(const tradelist_client *c);
// The time the last click on a row asked the depth window to play to.
ss_time tradelist_last_played_to();

// Column names and tooltips, in column order.
const char *tradelist_column_name(int column);
const char *tradelist_column_tooltip(int column);
