// The alerts content of a market window (role alerts, class "alerts"): the
// alert list as a grid of 18 columns, filtered by fired state and kind of
// trigger and ordered by code or by nearness to a trigger. The current row
// is what the editing operations act on. Main thread only.
#pragma once

#include <cstdint>

#include "lib/cols.h"
#include "lib/fade.h"
#include "ui/widget.h"
#include "windows/alertlist.h"

constexpr int kAlertColumns = 18;

// The row's cell fades: the four market cells flash up or down when their
// value changes, the four status cells when their trigger fires.
enum : int { ALERT_FADE_LAST, ALERT_FADE_CHANGE, ALERT_FADE_PCT, ALERT_FADE_VOLUME, ALERT_FADE_LOW,
             ALERT_FADE_HIGH, ALERT_FADE_VOL_STATUS, ALERT_FADE_NEWS, kAlertFades = 9 };

struct alerts_row {
  alert *a;
  uint32_t shown;
  uint32_t fired_bits;  // fired triggers the user has not seen in this grid
  int32_t y;            // top, while shown
  alerts_row *next;     // the grid's rows, in display order after a sort
  uint32_t last;        // the market values last shown, for the flashes
  int32_t change, pct;
  uint64_t volume;
  fade_value fades[kAlertFades];
};

struct alerts_grid : widget {
  uint32_t fired_filter;     // 1 all fired, 2 any fired, 3 none fired, 4 all
  uint32_t trigger_filter;   // trigger bits, default 31
  uint32_t trigger_filter_conjunctive;
  uint32_t order;            // 0 code, 1 nearness
  int32_t row_h;
  alerts_row *rows;          // every alert's row, in display order
  int32_t first_shown;       // index among the shown rows of the top one
  alert *current;            // the current row's alert, or null
  cols columns;
  int32_t shown_count;
  uint32_t newly_fired;      // a trigger fired since the marks were cleared
  alerts_grid *next_grid;
  fade_owner fades;          // every cell fade of the rows
  int32_t fade_timer;        // redraws while fades run; -1 when stopped
};

widget *alerts_new(widget *parent);
alerts_grid *alerts_grid_of(widget *w);  // w when it is an alerts grid

// Settings (each re-filters).
void alerts_set_fired_filter(widget *g, uint32_t v);
void alerts_set_trigger_filter(widget *g, uint32_t v);
void alerts_set_trigger_filter_conjunctive(widget *g, uint32_t v);
void alerts_set_order(widget *g, uint32_t v);
uint32_t alerts_get_fired_filter(widget *g);
uint32_t alerts_get_trigger_filter(widget *g);
uint32_t alerts_get_trigger_filter_conjunctive(widget *g);
uint32_t alerts_get_order(widget *g);

// Current-row editing: -1 without a current row, else 0.
int alerts_set_min_price(widget *g, uint32_t v);
int alerts_set_max_price(widget *g, uint32_t v);
int alerts_set_min_volume(widget *g, uint64_t v);
int alerts_set_news(widget *g, uint32_t v);
uint32_t alerts_get_min_price(widget *g);  // -1 without a row
uint32_t alerts_get_max_price(widget *g);
uint32_t alerts_get_news(widget *g);
alert *alerts_get_current(widget *g);
uint32_t alerts_current_fired(widget *g);  // the current alert's fired bits
int alerts_select(widget *g, instr *in);   // -1: "can't find alert row!"
void alerts_clear_current(widget *g);     // no row current
void alerts_delete_current(widget *g);
void alerts_reset_current(widget *g);
// Codes typed or pasted (grid may be null); add 1 adds, 0 removes.
int alerts_add_codes(widget *g, const char *text, int add);
int alerts_paste(widget *g);  // -1 when the clipboard is empty
// Clears the newly-fired mark of one grid, or of every grid for null.
void alerts_clear_fired_marks(widget *g);
int alerts_any_fired(widget *g);
// The shown columns among the first eight as a clipboard table.
int alerts_export(widget *g);
// The tooltip of a column over an alert's row (null for none).
const char *alerts_column_tip(const alert *a, int column);
// The text of a cell of a shown row (for export and checks).
const char *alerts_cell_text(widget *g, const alert *a, int column);
// Re-filters and re-orders every grid (after any change).
void alerts_refilter_all(void);
// The shown rows, top first (for checks).
int32_t alerts_shown_count(widget *g);
alert *alerts_shown_at(widget *g, int32_t i);
// The column hidden mask the trigger filter gives.
uint64_t alerts_hidden_columns(uint32_t trigger_filter);
