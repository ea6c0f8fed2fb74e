// The general detail popup: a small floating table explaining a compact
// value under the pointer (a trade's condition letters, quote flags, a
// trading state, the day's news of an instrument, how today's volume
// compares, a stock's auction figures). Each screen owns one; the screen
// fills it through one of the fill operations and places it. Main thread.
#pragma once

#include <cstdint>

#include "sstime.h"
#include "ui/widget.h"

struct instr;
struct ss_stock;
struct ss_auction;
struct ss_news;

constexpr int kGendtlColumns = 16;
constexpr int kGendtlCellText = 80;
constexpr int64_t kGendtlRefreshMs = 500;

enum : uint32_t {
  kGendtlFlags = 1,
  kGendtlQuoteFlags = 2,
  kGendtlState = 3,
  kGendtlNews = 4,
  kGendtlVolume = 5,
  kGendtlAuction = 6,
};

struct gendtl_row {
  char cell[kGendtlColumns][kGendtlCellText];
  bool heading;          // kind 6: a heading row (no label, centred value)
  const ss_news *news;   // kind 4
  uint64_t volume;       // kind 5
  float fraction;        // kind 5: the bar, volume / the largest of the four
  bool dirty;            // to be laid out again
};

struct gendtl : widget {
  uint32_t kind;
  uint32_t state;
  uint32_t flag_set;
  char code[16];
  uint64_t condition_mask;
  uint64_t quote_mask;
  instr *instrument;
  uint32_t row_count;
  gendtl_row *rows;
  uint32_t row_capacity;
  uint32_t shown_columns;  // bit n: column n shown
  int32_t refresh_timer;   // -1 while hidden
  rect last;               // the rectangle of the last geometry change
};

widget *gendtl_new(widget *parent);
gendtl *gendtl_cast(widget *w);  // null for another widget

void gendtl_fill_flags(widget *w, uint32_t flag_set, const char *code, uint64_t mask);
void gendtl_fill_flags2(widget *w, uint32_t flag_set, uint64_t mask);
void gendtl_fill_value(widget *w, uint32_t state, ss_time resume);
void gendtl_fill_range(widget *w, instr *in, ss_time from, ss_time to);
void gendtl_fill_today_news(widget *w, instr *in);
void gendtl_fill_volume(widget *w, ss_stock *stock);
// The last price and volume a caller shows instead of the stock's own.
struct gendtl_last {
  uint32_t price;
  uint64_t volume;
};
void gendtl_fill_auction(widget *w, ss_stock *stock, const ss_auction *auction, const gendtl_last *override_);
void gendtl_fill_stock_auction(widget *w, ss_stock *stock);

// The kind's mask list: the preferred set of shown columns first, then the
// narrowing sets. Returns the count (at most 5).
int gendtl_mask_list(uint32_t kind, uint32_t out[5]);
// One 500 ms tick (the timer calls it): kind 5 recomputes its bars.
void gendtl_tick(widget *w);
const char *gendtl_cell(widget *w, uint32_t row, int column);  // "" out of range
