// The watch bar: a strip of up to 25 mini quotes along the top of a screen.
// Instruments, scans and watchlists dropped on it become cells (an issuer,
// or an issuer's news item, becomes its stock); cells that cycle through a
// list step every 2 seconds while the bar is shown; clicking a cell opens
// the screen's quote pop window for it. Main thread only.
#pragma once
#include <cstdint>

#include "screen/miniquote.h"
#include "ui/box.h"
#include "ui/container.h"

struct instr;
struct scan;
struct wlist;

constexpr int kWatchbarMax = 25;
constexpr int64_t kWatchbarCycleMs = 2000;

struct watchbar : bin {
  hbox *cells;       // the mini quotes, in order
  int32_t special;   // the cell whose quote pop window is open; -1 none
  box_node *iter;    // iteration cursor
  int32_t timer;     // the cycle timer, -1 none
};

typeid_t watchbar_type();
bool watchbar_is(const widget *w);
widget *watchbar_new(widget *screen);
// The watch bar that holds a cell (or null).
widget *watchbar_of(widget *cell);

// A new kind-0 cell before `before` (null: at the end), or null when the
// bar holds 25 already ("can't have more than %d items in watchbar").
mini_quote *watchbar_insert(widget *bar, widget *before);
// New cells: 0, or -1 (bar full; an instrument that is not a stock or an
// index).
int watchbar_add_instr(widget *bar, instr *in, widget *before);
int watchbar_append_instr(widget *bar, instr *in);
int watchbar_add_scan(widget *bar, scan *s, widget *before);
int watchbar_append_scan(widget *bar, scan *s);
int watchbar_add_wlist(widget *bar, wlist *wl, widget *before);
int watchbar_append_wlist(widget *bar, wlist *wl);
// Deletes a cell of this bar; WARN "mini quote not found" and -1 for any
// other widget.
int watchbar_remove(widget *bar, widget *cell);
int watchbar_remove_last(widget *bar);
void watchbar_clear(widget *bar);
int32_t watchbar_count(widget *bar);
widget *watchbar_cell(widget *bar, int32_t i);  // null out of range
int32_t watchbar_index_of(widget *bar, widget *cell);  // -1 when not a cell
widget *watchbar_iter_begin(widget *bar);
widget *watchbar_iter_next(widget *bar);
int32_t watchbar_get_special(widget *bar);
// Gives cell i to the screen's quote pop window and shows it under the
// cell; special = i. -1 without such a cell.
int watchbar_click(widget *bar, int32_t i);
// The first cell whose right edge lies beyond x.
widget *watchbar_item_at(widget *bar, int32_t x);
// Steps every cycling cell (the timer's work).
void watchbar_cycle(widget *bar);
// A dropped object at x: inserted before the first cell whose centre lies
// right of x, after the bar's state is recorded for undo. 1 when taken.
int watchbar_drop_object(widget *bar, int32_t x, uint32_t kind, instr *in, scan *s);

// Records the bar's cells for undo before a change.
void watchbar_record_state(widget *bar);
// The cell whose quote pop window the current screen shows; -1 when the
// window is hidden (or the screen has no watch bar).
int32_t watchbar_quote_popup_item(void);
// Records for undo which cell's quote pop window is open (-1 none) before
// a key opens, switches or hides it: undone, the window shows that cell
// again, or is hidden.
void watchbar_record_quote_popup(int32_t item);

// The stored form inside the caller's open configuration block:
// "watchbar.show %b", then "watchbar.item S %d" (registered scan),
// "watchbar.item W %d" (watchlist) or "watchbar.item I %I" (instrument) per
// cell, then "watchbar.special %d". Loading replaces the cells.
void watchbar_save(widget *bar, int shown);
// The "show" value read (0 or 1), or -1 without a watchbar block.
int watchbar_load(widget *bar);
