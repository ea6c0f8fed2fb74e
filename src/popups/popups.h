// The hover previews: one popup at a time in a screen's hover popup window
// (a copy of a window, a chart of one trading day, the depth book replayed
// to a moment, a chart around a time or over a range, a watchlist). The
// module remembers what is up, on which screen and where it is anchored, so
// that hovering over the same thing again does not rebuild it. Main thread.
#pragma once

#include <cstdint>

#include "sstime.h"
#include "ui/widget.h"

struct window;
struct instr;
struct scan;
struct nuchart;

enum : int32_t {
  kPopupNone = -1,
  kPopupWindow = 1,
  kPopupDayChart = 2,
  kPopupDepth = 3,
  kPopupChart = 4,
  kPopupList = 5,
};

constexpr int32_t kPopupChartW = 420, kPopupChartH = 220;
constexpr uint32_t kDayChartOptionsClosed = 0x200063, kDayChartOptionsOpen = 0x2000A3;

// What is up (for checks and for the callers' "same thing" tests).
struct popups_state {
  int32_t kind;
  instr *item;
  scan *list;
  ss_time time;
  window *copied_from;
  int32_t owner;       // -1: the current screen
  int32_t chart_form;  // kind 4: 0 around a time, 1 over a range
  ss_time centre, marker;
};
const popups_state *popups_get_state();

void popups_reset();
void popups_set_owner(widget *w);
// Whether the last owner given was inside window w (the window a preview
// belongs to, which closes it when the pointer leaves it).
bool popups_owned_by(const window *w);
// The owner by screen number (-1: the current screen); used by the next push.
void popups_set_owner_index(int32_t n);
void popups_set_anchor(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t side, uint32_t flag);
void popups_set_anchor_rect(const rect *r, uint32_t side, uint32_t flag);

void popups_push_window(window *source);
void popups_push_day_chart(instr *in, ss_time time);
void popups_push_depth(instr *in, ss_time time);
void popups_push_chart_at(instr *in, ss_time centre, ss_time marker, int o1, int o2, int o3);
void popups_push_chart(instr *in, ss_time marker, int o1, int o2, int o3);
void popups_push_wlist(scan *list);

// The day chart's session: options and span for a time (0 = today) against
// the exchange's times of today, `today` its date. `to` 0 leaves the end open.
struct day_span {
  uint32_t options;
  ss_time from, to;
  bool before_open, after_close;
};
day_span popups_day_span(ss_time open, ss_time close, ss_time day_start, ss_time day_end, ss_time today,
                         ss_time time, bool is_index, ss_time index_last_update);

// What the pushes do to the screens and windows, as a table so that tests can
// record it. The defaults act on the real screens and windows.
struct popups_ops {
  bool (*push_screen)(int n);  // false: not open (nothing pushed)
  void (*pop_screen)();
  window *(*popup_window)();  // the current screen's hover popup window
  window *(*quick_window)();
  void (*set_anchor)(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t side);
  // Places and shows the popup window; -1 = the default size.
  void (*place)(int32_t w, int32_t h);
  void (*place_default)(window *p);  // the size a window without one gets
  void (*copy_window)(window *dst, window *src);
  bool (*equal)(const window *a, const window *b);
  void (*show)(window *p, uint32_t role, instr *in);
  nuchart *(*chart)(window *p);
  void (*depth_copy)(window *p, window *quick);
  void (*depth_play_mark)(window *p, ss_time t);
  void (*show_list)(window *p, scan *list);
  int (*request_trades_for_day)(instr *in, ss_time date);
  int (*scan_equal)(const scan *a, const scan *b);
};
void popups_set_ops(const popups_ops *ops);  // null: the defaults
