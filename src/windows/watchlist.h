// The instrument grid: one row per instrument of a scan, up to 37 columns of
// prices, volumes and derived values, cell colours that flash on market
// changes and fade back, typed and pasted codes, drag and drop of
// instruments, and export to the clipboard. It is the watchlist window's
// content (mode 0) and, subclassed, the quote bar (1), the forex and index
// lists (3), the search window (4) and the option list (5). Main thread
// only; the frame loop holds the model's core lock while it runs.
#pragma once

#include <cstdint>

#include "lib/cols.h"
#include "lib/fade.h"
#include "lib/gmap.h"
#include "windows/content.h"

struct instr;
struct scan;
struct ss_issuer;
struct wlist;
struct window;

constexpr int kWatchColumns = 37;
constexpr int kWatchModes = 6;
constexpr int kWatchCodeMax = 11;          // characters of a typed code
constexpr uint32_t kWatchFlashMask = 0x503fa0;  // events that may flash a row
constexpr uint32_t kWatchWildMask = 0x40004c;
constexpr int64_t kWatchRotateMs = 2500;
constexpr int64_t kWatchRelVolMs = 1000;
constexpr int32_t kWatchNewsGrip = 10;     // pixels at the code column's right end

// The cells whose colours fade, in the row's fade array.
enum watch_cell : int {
  WC_BID_BG, WC_OFFER_BG, WC_LAST_BG, WC_VOLUME_BG, WC_ROW, WC_TREND, WC_BID_TEXT, WC_OFFER_TEXT,
  WC_CHANGE_TEXT, WC_SINCE_TEXT, WC_LOW_BG, WC_HIGH_BG, WC_LOW_TEXT, WC_HIGH_TEXT,
  kWatchCells = 14,
};

struct watchlist_row {
  watchlist_row *next;
  instr *in;
  ss_issuer *issuer;  // a stock's issuer, looked up when the row is made
  fade_value fade[kWatchCells];
  // The style code each cell last took: a flash code (129-145) while its
  // fade runs from that flash, else the colour code it was set to.
  uint16_t code[kWatchCells];
  uint32_t bid, offer, last, high, low;  // snapshot (index: last is the value)
  uint64_t volume;
  int32_t y;          // top, relative to the grid
  int draw;           // frames left to draw it (each buffer once)
  int stale;          // its drawing list must be laid out again
  uint64_t laid_cols; // the column set it was laid out for
  int32_t laid_w;
  gmap texts;         // one segment per shown column
  int32_t seg_col[kColsMax];  // column of each segment
  int32_t segs;
};

struct watchlist : content {
  int mode;
  scan *sc;
  cols columns;
  uint64_t hidden;     // hidden-columns mask of the last computation
  int32_t row_h;
  int32_t visible;     // whole rows that fit
  watchlist_row *rows;
  watchlist_row *first_shown;
  watchlist_row *current;  // mode 2: the row on the top line
  int32_t count;
  fade_owner fades;
  int32_t timer;       // frame timer, -1 none
  int64_t last_rotate;
  int64_t last_relvol;
  int relvol_all;      // the next draw draws every row
  int full;            // frames left to draw everything
  int was_fading;      // flashes ran at the last frame tick
  int32_t placed_count;  // rows at the last repositioning
  uint32_t rebuilds;   // row drawing lists laid out (for tests and benchmarks)
  uint32_t row_draws;  // rows drawn
  uint32_t rows_built; // rows made from the scan (rebuilds of the row list)
  int32_t hover_row;   // index of the row the hover details were last asked for, -1 none
  int32_t hover_col;   // its column (-2 the news marker)
  int detail_open;     // hover details shown
  uint64_t drag_mark;  // a drag that began here (for reordering)
};

typeid_t watchlist_type();
// A grid of the given mode (0-5); the one-argument form makes mode 0 for the
// window frame.
watchlist *watchlist_new(widget *parent, int mode);
inline bool watchlist_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), watchlist_type());
}
// For subclasses: registers `name` under the grid class and makes one in a
// mode. The subclass's own init runs after the grid's; its class_init may
// override slots, calling the grid's through watchlist_class().
typeid_t watchlist_register_kind(const char *name, uint32_t size, object_init_fn init,
                                 object_fini_fn fini, object_class_init_fn class_init);
const widget_class *watchlist_class(void);
watchlist *watchlist_make(widget *parent, typeid_t type, int mode);

scan *watchlist_get_scan(const watchlist *w);
int watchlist_set_scan(watchlist *w, scan *s);
// The names the tool panels use for the same two.
inline scan *watchlist_get_list(const watchlist *w) { return watchlist_get_scan(w); }
inline int watchlist_set_list(watchlist *w, scan *s) { return watchlist_set_scan(w, s); }
// Binds a temporary scan with the watchlist as its source (null: no scan).
int watchlist_set_source(watchlist *w, wlist *wl);
wlist *watchlist_get_source(const watchlist *w);

// Rows. position: -1 the end, below 1 the head, else after position - 1
// rows. Null when the instrument is there already or the row can't be had.
watchlist_row *watchlist_add_instr(watchlist *w, instr *in, int pin, int32_t position);
int watchlist_add_stock_row(watchlist *w, instr *in);
int watchlist_add_index_row(watchlist *w, instr *in);
int watchlist_remove_instr(watchlist *w, instr *in, int from_list);
int watchlist_remove_and_redraw(watchlist *w, instr *in);
void watchlist_clear_rows(watchlist *w);
int watchlist_rows_changed(watchlist *w);
watchlist_row *watchlist_find_row(const watchlist *w, const instr *in);
watchlist_row *watchlist_row_at(const watchlist *w, int32_t i);
int32_t watchlist_row_count(const watchlist *w);
// The row under a y of the grid's own coordinates, null below the rows.
watchlist_row *watchlist_row_at_y(const watchlist *w, int32_t y);

// Typed codes (a watchlist is made when the grid has none): 0, or -1.
int watchlist_add_codes(watchlist *w, const char *text);
int watchlist_remove_codes(watchlist *w, const char *text);
int watchlist_paste_codes(watchlist *w);
// The code splitter: calls fn for each code found (upper case); returns
// the number of codes, overruns not counted.
int watchlist_split_codes(const char *text, void (*fn)(const char *code, void *arg), void *arg);
// The instrument a typed code names: "CODE.EXCHANGE" on that exchange only,
// else the default exchange first, stock before index; null when none.
instr *watchlist_lookup_code(const char *code);

// Columns. The hidden-columns mask for the current scan and rows; the fit
// of the columns in a width with the given metrics (the set chosen).
uint64_t watchlist_hidden_columns(const watchlist *w);
uint64_t watchlist_fit(watchlist *w, int32_t width, int32_t em, int32_t digit);
const char *watchlist_column_title(int k);
// The text a cell shows (empty for none) into out (at least 96 bytes).
const char *watchlist_cell_text(const watchlist *w, const watchlist_row *r, int k, char *out);
// Description of the column at x for the row at y (null outside).
const char *watchlist_tooltip(watchlist *w, int32_t x, int32_t y);
// Copies the shown table to the clipboard as tab-separated text; the text
// is kept by the clipboard module (clipboard_text) for callers that show it.
void watchlist_export(watchlist *w);

// Market changes: what the instrument callback does for a change mask.
void watchlist_refresh_row(watchlist *w, watchlist_row *r, int flash);
// The style colour of a fade cell right now (alpha 255).
uint32_t watchlist_cell_colour(const watchlist_row *r, int cell);
// Enclosing window (null when none).
window *watchlist_window(const watchlist *w);
// Tells the scan its limit for the current view.
void watchlist_update_limit(watchlist *w);
