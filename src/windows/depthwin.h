// The market depth window: one instrument's book shown as a ladder of bars
// (depthbars.h) above a table of price steps (depthtable.h), live or as it
// stood at any moment of today or of an earlier day, rebuilt from the
// instrument's event history by the replay engine (depthreplay.cpp).
//
// Every state the two children and the depth tool panel read lives in one
// record, the depth book, that is part of the window. The children see the
// book only through it and are driven only through their nine depth
// operations. Main thread, under the core lock the frame loop holds.
#pragma once

#include <cstdint>

#include "ssmodel.h"
#include "ui/box.h"
#include "ui/container.h"

struct ss_event;
struct ss_change;
struct depthwin;
struct depthwin_child;

// The book: the window's own fields, read by the children and the tools.
// Wall times are double seconds of the frame clock (a 32-bit float would
// lose the milliseconds after a day of uptime).
struct depthwin_book {
  depthwin *owner;
  instr *instrument;
  uint32_t realtime;   // 1: replay runs with the clock x speedup; 0: step mode
  float speedup;       // replay seconds per wall-clock second
  ss_time position;    // the moment the book shows
  uint32_t show_age;
  uint32_t show_trades;
  int32_t group_by;    // asked for; -1 automatic
  uint32_t group_step; // in force
  uint32_t height;     // handed to the bars
  uint32_t age_split_type;
  uint32_t age_split_count;
  ss_time age_ref;
  uint32_t busy;
  ss_event *pinned_event;
  ss_time target;
  ss_time mark;        // nonzero: replay held here
  uint32_t rebuilding;
  uint32_t day_figures[5];
  ss_auction auction;
  ss_event *cursor;    // the last event applied to the children
  double anchor_wall;  // 0 = live
  ss_time anchor_position;  // nonzero = replaying
  double next_step_wall;
  float delay;         // step mode: seconds between steps
  uint32_t awaiting_history;
  ss_event *last_seek_event;
  ss_time last_seek_time;
  uint32_t show_mode;  // 1 bars, 2 table
  uint32_t history_seen;
  uint32_t throttle;
  ss_time rollover_date;
  depthwin_child *bars;
  depthwin_child *table;
  widget *tools;
  int32_t tick_timer;
  int32_t prefetch_timer;
  uint64_t age_refreshed_ms;
  // Own additions: a catch-up that could not finish inside a change
  // delivery (where the core lock must not be released) resumes on the next
  // tick; the age reference was recomputed during the current tick.
  uint32_t catchup_pending;
  uint32_t age_recomputed;
  uint32_t copying;
  int32_t age_split_custom;
  ss_time prefetch_date;
};

struct depthwin : box {
  depthwin_book book;
};

// The common base of the bars and the table: a bin with the book pointer
// and nine depth operations after the container's.
struct depthwin_child : bin {
  depthwin_book *book;
};

struct depthwin_child_class : container_class {
  void (*tick)(depthwin_child *self);                          // 1
  void (*apply_event)(depthwin_child *self, const ss_event *ev);  // 2
  void (*reset)(depthwin_child *self);                         // 3
  void (*begin_rebuild)(depthwin_child *self);                 // 4
  void (*load_side)(depthwin_child *self, int side);           // 5
  void (*after_load)(depthwin_child *self);                    // 6
  void (*finish_load)(depthwin_child *self);                   // 7
  void (*end_batch)(depthwin_child *self, int full);           // 8
  void (*settings_changed)(depthwin_child *self, int arg);     // 9
};

inline depthwin_child_class *depthwin_child_cls(depthwin_child *c) {
  return static_cast<depthwin_child_class *>(c->cls);
}
// Calls depth operation `op` on both children of book `b`, bars first,
// where the child's class fills the slot.
#define DEPTHWIN_BOTH(b, op, ...)                                             \
  do {                                                                        \
    for (depthwin_child *c_ : {(b)->bars, (b)->table})                        \
      if (c_ && depthwin_child_cls(c_)->op)                                   \
        depthwin_child_cls(c_)->op(c_ __VA_OPT__(, ) __VA_ARGS__);            \
  } while (0)

typeid_t depthwin_child_type();
typeid_t depthwin_type();

// Services of modules above or beside the window (the screen, desktop
// charts, the depth tool panel, the depth detail popup) and the client's
// requests and sleep, installed by whoever owns them; a null slot does
// nothing. The requests default to the client's senders.
struct depthwin_services {
  int (*request_events)(instr *in);
  int (*request_stock_events)(ss_stock *stock);
  int (*request_events_for_day)(instr *in, ss_time date);
  void (*sleep)(int32_t ms);  // drops and retakes the core lock
  double (*now_seconds)();    // frame time
  bool (*in_popup)(widget *w);  // a screen-owned popup other than the quick window
  void (*screen_current)(widget *w);
  void (*hide_depth_popup)(widget *w);
  void (*chart_sync)(widget *w, ss_time t);
  void (*chart_sync_clear)(widget *w);
  void (*tools_rebind)(widget *tools);
  void (*tools_follow)(widget *tools, instr *in);
  void (*tools_show_speed)(widget *tools);
  void (*tools_redraw)(widget *tools);
  void (*tools_update_chart)(widget *tools);
  // The depth detail popup for a price step of a side (0 bid, 1 offer, 2
  // trades) of the instrument on a date, beside the widget; and hiding it.
  void (*show_depth_detail)(widget *w, instr *in, ss_time date, uint32_t step, uint32_t bucket, int side);
  void (*hide_depth_detail)(widget *w);
  // The general detail popup with a stock's auction at (x, y) in the
  // widget's window, the price and volume the bars show; and hiding it.
  void (*show_auction_detail)(widget *w, instr *in, uint32_t price, uint64_t volume, int32_t x, int32_t y);
  void (*hide_auction_detail)(widget *w);
  // A trade row clicked: the window shows its course of sales at `time`
  // (role switched, grouping and filters off, tools shown).
  void (*open_trades_at)(widget *w, instr *in, ss_time time);
};
// Installs a table (copied); null restores the defaults.
void depthwin_set_services(const depthwin_services *s);
const depthwin_services *depthwin_get_services();

// Life and accessors ---------------------------------------------------------

widget *depthwin_new(widget *parent);
depthwin_book *depthwin_get_book(widget *w);
depthwin_child *depthwin_get_child(widget *w, int n);  // 1 bars, 2 table
void depthwin_set_tools(widget *w, widget *panel);
uint32_t depthwin_get_show_mode(widget *w);
void depthwin_set_show_mode(widget *w, uint32_t bits);
uint32_t depthwin_get_show_age(widget *w);
void depthwin_set_show_age(widget *w, uint32_t on);
uint32_t depthwin_get_show_trades(widget *w);
void depthwin_set_show_trades(widget *w, uint32_t on);
int32_t depthwin_get_group_by(widget *w);
void depthwin_set_group_by(widget *w, int32_t g);
uint32_t depthwin_get_group_step(widget *w);
uint32_t depthwin_get_height(widget *w);
void depthwin_set_height(widget *w, uint32_t h);
// Only index 0 exists: another index gets -1 and sets nothing.
int depthwin_get_age_split(widget *w, int i, uint32_t *type, uint32_t *count);
void depthwin_set_age_split(widget *w, int i, uint32_t type, uint32_t count);
int32_t depthwin_get_age_split_custom(widget *w, int i);
void depthwin_set_age_split_custom(widget *w, int i, int32_t v);
uint32_t depthwin_get_non_realtime(widget *w);
float depthwin_get_speedup(widget *w);
float depthwin_get_delay(widget *w);
ss_time depthwin_get_position(widget *w);
bool depthwin_has_mark(widget *w);
bool depthwin_is_replaying(widget *w);
void depthwin_set_instrument(widget *w, instr *in);
// The live book as tab-separated rows on the clipboard (nothing without an
// instrument).
void depthwin_export(widget *w);
void depthwin_copy(widget *w, widget *source);
// The change handler both registrations use.
void depthwin_changed(const ss_change *change, void *owner, uint64_t argument, uint32_t flags);
// Recomputes the age reference from the position and the split.
void depthwin_update_age_ref(depthwin_book *b);
// Children visibility for a height and show mode: bit 1 bars, bit 2 table.
uint32_t depthwin_visible_children(uint32_t show_mode, int32_t height, uint32_t current);
// The grouping for an asked-for value and a last price.
uint32_t depthwin_group_step_for(int32_t g, bool has_instrument, uint32_t last);
// The price step of a price for a grouping (halves round upwards).
inline uint32_t depthwin_step_of(uint32_t price, uint32_t group_step) {
  if (group_step < 2) return price;
  uint64_t p = uint64_t(price) + group_step / 2;
  return uint32_t(p - p % group_step);
}

// Replay (depthreplay.cpp) ------------------------------------------------------

void depthwin_catchup(widget *w);
void depthwin_advance(widget *w);
void depthwin_seek_event(widget *w, ss_event *e, int rebuild);
void depthwin_play_to(widget *w, ss_time t, int rebuild);
void depthwin_play_to_live(widget *w, ss_time t, int rebuild, int live);
void depthwin_restart(widget *w);
void depthwin_step(widget *w, int32_t n);
void depthwin_step_forward(widget *w, int32_t n);
void depthwin_step_back(widget *w, int32_t n);
void depthwin_set_mark(widget *w, int on);
void depthwin_mark_position(widget *w);
void depthwin_release_mark(widget *w);
void depthwin_set_speedup(widget *w, float s);
void depthwin_set_delay(widget *w, float d);
int depthwin_set_non_realtime(widget *w, int on);
void depthwin_update_chart(widget *w);
// One pass of the 10 ms tick (the timer calls it; tests call it directly).
void depthwin_tick(widget *w);
// Resets the book: promises cancelled, cursor and auction cleared, reset on
// both children.
void depthwin_reset_book(depthwin_book *b);
// Copies the instrument's five day figures into the book.
void depthwin_copy_day_figures(depthwin_book *b);
// Cancels the window's pending rollover promises.
void depthwin_cancel_promises(depthwin_book *b);
// Applies one event to the children: 1 applied, 0 refused.
typedef int (*depthwin_apply_fn)(depthwin_book *b, ss_event *ev);
int depthwin_apply(depthwin_book *b, ss_event *ev);
// Builds the book for the start of to_date from from_date's closing queues:
// the event to continue from, or null; *time gets the rollover time.
ss_event *depthwin_rollover_build(instr *in, ss_time from_date, ss_time to_date, depthwin_apply_fn apply,
                                  depthwin_book *b, ss_time *time);
// The loads of the last catch-up (1 to 21), for diagnostics and tests.
int depthwin_last_catchup_loads();
// Tests: the number of catch-up loads after which the live book is taken as
// settled is decided by the newest event; this seam runs between loads.
void depthwin_set_catchup_hook(void (*fn)(depthwin_book *b, int attempt));
// The rollover item pool (class life).
int depthwin_rollover_init();
void depthwin_rollover_fini();
