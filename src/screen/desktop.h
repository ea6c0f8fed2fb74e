// Desktops: the ten work areas of a screen. A desktop holds one tree of
// market windows joined by splitters; this module orders its windows (the
// window map), moves the focus, splits a window into a grid, snaps ratios,
// and writes and reads the tree as layout text. Main thread.
//
// Layout text, postfix, single spaces: "Wn" pushes window n of the window
// list (map order), "Hr"/"Vr" pop two and push a side-by-side / stacked
// splitter of ratio r ("%.3f"), "Pa,b" says window b follows window a.
// Example: "W0 W1 H0.500 W2 W3 H0.500 V0.500 P0,1".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/container.h"
#include "screen/layouttext.h"
#include "windows/window.h"

struct screen;
struct splitter;

constexpr int kDesktopMapFrames = 4;
constexpr int kDesktopMapWindows = 256;
constexpr int64_t kChartSyncBusyMs = 2500;

struct desktop : bin {
  window *focus;
  window *chart_sync_sender;
};

// A desktop's tree saved for later: the desktop, its focus, the text, and
// the windows in map order. One allocation; freed with desktop_layout_free.
struct desktop_layout {
  desktop *d;
  window *focus;
  char *text;
  int32_t n;
  window **windows;
};

typeid_t desktop_type();
inline bool desktop_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), desktop_type());
}
desktop *desktop_new(widget *screen);
// The current style's desktop background (behind panes and dividers).
uint32_t desktop_bg_colour();
desktop *desktop_of_widget(widget *w);
desktop *desktop_of_self(widget *w);

// The window map: every window under `subtree` ordered by top, then left.
void desktop_map_begin(widget *subtree);
window *desktop_map_next();
void desktop_map_end();
// The same order as a vector (not a map frame).
std::vector<window *> desktop_windows(widget *subtree);

void desktop_relayout(desktop *d);
void desktop_relayout_now(desktop *d);
void desktop_request_relayout();
void desktop_set_changing();
bool desktop_is_changing();
bool desktop_in_relayout();

window *desktop_get_focus(desktop *d);
bool desktop_is_focus(window *w);
void desktop_set_focus(desktop *d, window *w);
window *desktop_focus_prev(desktop *d);
window *desktop_focus_next(desktop *d);

void desktop_forget_window(desktop *d, window *w);
void desktop_unlink_window(desktop *d, window *w);
window *desktop_window_at(desktop *d, int32_t x, int32_t y);

// The rows*cols windows (source first, then null) in a static array kept
// until the next split; null when refused. The tree is unchanged on refusal.
window **desktop_split(desktop *d, window *w, int rows, int cols);
void desktop_snap_ratios(desktop *d);
// The ratio snapping picks for r.
double desktop_snap_ratio(double r);
int desktop_keep_only(desktop *d, window *w);
void desktop_sanitize(desktop *d);
// The edge-click rule: which bar a release at (px, py) toggles (0 none).
uint32_t desktop_edge_bar(const desktop *d, int32_t px, int32_t py);

// Every window of w's desktop moves its chart's cursor to a time (0: none);
// a time makes w the sender, whose 0 alone clears. Resyncing has replaying
// depth windows send their moment again; for the next 2.5 s a chart takes
// a time even when its cursor is already there (desktop_sync_busy).
void desktop_sync_charts(window *w, int64_t value);
void desktop_sync_charts_ex(window *w, int64_t value);
void desktop_clear_chart_sync(window *w);
void desktop_resync_charts(desktop *d);
bool desktop_sync_busy();
// Every window of the desktop that shows the instrument takes its reference
// prices again.
void desktop_refresh_instr_prices(desktop *d, const instr *in);

// Minimum size of a tree (a window counts 60 x 60).
size desktop_tree_min_size(widget *tree);

desktop_layout *desktop_layout_save(desktop *d);
int desktop_layout_restore(desktop_layout *l);
// Reads text over the windows (n of them). The text is checked in full
// before the desktop is touched: on bad text -1 and the old tree is kept
// (a desktop with no tree, as while loading, gets the windows in a default
// split). Windows of the old tree or of the list that the new tree leaves
// out are deleted.
int desktop_layout_apply(desktop *d, window *focus, const char *text, window **windows, int n);
void desktop_layout_free(desktop_layout *l);
// Writes the tree of d as layout text.
std::string desktop_layout_text(desktop *d);

