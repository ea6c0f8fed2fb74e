// The splitter: a box that divides its rectangle between two children, side
// by side (orientation 0) or stacked (1), at a ratio the user drags. With
// the market windows it forms the tree of a desktop. Main thread.
#pragma once

#include <cstdint>

#include "ui/box.h"

struct desktop_layout;

constexpr int kSplitterMinPane = 60;

struct splitter : box {
  uint32_t orientation;  // 0 side by side, 1 stacked
  double ratio;          // share of the first child
  int32_t min_pane;
  uint32_t first_collapsed, second_collapsed;
  widget *child_a, *child_b;
  desktop_layout *drag_layout;  // snapshot taken at drag start
  uint32_t active;              // divider highlighted
};

typeid_t splitter_type();
inline bool splitter_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), splitter_type());
}
// A splitter in parent (may be null) holding a and b (either may be null).
splitter *splitter_new(widget *parent, uint32_t orientation, widget *a, widget *b, double ratio);
uint32_t splitter_is_vertical(const splitter *s);
double splitter_get_ratio(const splitter *s);
// Ratios outside (0, 1) or not finite are refused (-1).
int splitter_set_ratio(splitter *s, double ratio);
int32_t splitter_get_min_pane(const splitter *s);
void splitter_set_min_pane(splitter *s, int32_t px);
widget *splitter_get_child(const splitter *s, int i);
// Puts `repl` in old's slot. -1 with "child is not of this split".
int splitter_replace_child(splitter *s, widget *old, widget *repl);
// Removes the collapsed victim under s and puts the keeper in s's place.
void splitter_remove_child(widget *desktop, splitter *parent, splitter *s, widget *keeper,
                           widget *victim);
// Removes the first collapsed pane of the snapshot's desktop (takes the snapshot).
void splitter_cull(desktop_layout *snapshot);

// The divider width G: the current style's gap (4 without a style).
int32_t splitter_gap();

// Drag entry points as the input dispatch calls them, for the tests'
// headless drags as well: start, move to (px, py) in window pixels, end.
int splitter_drag_begin(splitter *s);
void splitter_drag_move(splitter *s, int32_t px, int32_t py);
void splitter_drag_end(splitter *s);
// The splitter being dragged, or null.
splitter *splitter_dragging();
// Whether the last layout pass held a pane at its minimum / collapsed one.
bool splitter_clamped();
bool splitter_collapsed();
// Clears both flags, as the start of every drag move does.
void splitter_reset_flags();
