// The depth table: the lower child of the depth window, the book as one row
// per price step with bid and offer counts, volumes and values side by side,
// cumulative columns from the best price outwards, and a block of trade
// columns summing today's trades at each step. Fed only through the depth
// operations of depthwin_child. Main thread.
#pragma once

#include <cstdint>

#include "lib/cols.h"
#include "windows/depthwin.h"

constexpr int kDepthTableColumns = 27;

// One row of a list (bids, offers or trades).
struct depthtbl_row {
  uint32_t count;
  uint32_t step;      // step price
  uint64_t volume;
  uint64_t value;     // cents
  uint64_t cum_volume;
  uint64_t cum_value;
  double removal_due;  // nonzero: fading out, removed at this frame time
  double flash_until;  // a changed cell flashes until then
  int32_t flash_dir;   // 1 rose, -1 fell, 0 removal colour
};

struct depthtbl;

typeid_t depthtbl_type();
// The rows of a list (0 bids, 1 offers, 2 trades) and their count; bids run
// in falling price, offers and trades in rising price.
const depthtbl_row *depthtbl_rows(depthwin_child *t, int list, uint32_t *count);
// Today's trade totals the trade block is measured against.
uint64_t depthtbl_total_volume(depthwin_child *t);
// Fills the cumulative columns (done before each draw).
void depthtbl_accumulate(depthwin_child *t);
// The value of a volume at a price: max(multiplier, 1) x price x volume x
// 100 / 10000, through a 128-bit product (0 when it would not fit 64 bits:
// the cell is then shown empty).
uint64_t depthtbl_value(uint32_t multiplier, uint32_t price, uint64_t volume);
// The text of a cell of column `col` for a row index of the lists; false
// when the cell is empty.
bool depthtbl_cell(depthwin_child *t, int col, uint32_t row, char *out, int cap);
// The shown columns as a bit mask (after the last layout) and the set chosen.
uint64_t depthtbl_shown_columns(depthwin_child *t);
// The columns the column-set list shows in a width of pixels, for a font
// whose digits are `digit` pixels wide.
uint64_t depthtbl_fit_columns(int32_t width, int32_t digit, bool trades, bool special);
// The column layout after the last fit.
const cols *depthtbl_layout(depthwin_child *t);
// The place of a column after the last layout: false when it is not shown.
bool depthtbl_column_span(depthwin_child *t, int col, int32_t *x0, int32_t *x1);
const char *depthtbl_tooltip(int col);
// The shown column under x (window coordinates) of a depth table, -1 none.
int depthtbl_column_at(widget *w, int32_t x);
void depthtbl_set_group(depthwin_child *t, uint32_t step);
