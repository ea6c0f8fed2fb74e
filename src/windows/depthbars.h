// The depth bars: the upper child of the depth window, the book drawn as a
// ladder of price steps along the width, bids on the left and offers on the
// right, a bar's height standing for the volume at its step, built of one
// block per order. Fed only through the depth operations of depthwin_child.
// Main thread.
#pragma once

#include <cstdint>

#include "windows/depthwin.h"

// An order's block. Its drawn length fades from `from` to its volume (to 0
// once dead) over `fade_for` seconds from `fade_at`.
struct depthbars_block {
  uint64_t volume;
  ss_time time;
  uint32_t live;
  double gone_at;  // dead blocks: frame time their removal fade ends
  double from;
  double fade_at;
  double fade_for;  // 0: no fade
};

// A bar of one price step, as read by tests and the detail popup.
struct depthbars_bar {
  uint32_t count;  // live orders
  uint32_t step;
  uint64_t volume;  // live total
};

typeid_t depthbars_type();
uint32_t depthbars_count(depthwin_child *b, int list);  // 0 bids, 1 offers, 2 trades
bool depthbars_bar_at(depthwin_child *b, int list, uint32_t i, depthbars_bar *out);
// The blocks of a bar (live and fading), bottom first.
const depthbars_block *depthbars_blocks(depthwin_child *b, int list, uint32_t i, uint32_t *n);
void depthbars_set_group(depthwin_child *b, uint32_t step);
void depthbars_set_thickness(depthwin_child *b, int32_t t);  // at least 3
int32_t depthbars_get_thickness(depthwin_child *b);
// Gridline picks for a width and a height.
int32_t depthbars_price_gridlines(int32_t width);
int32_t depthbars_volume_gridlines(int32_t height);
// Steps shown beside the spread per side; the volume scale's top.
void depthbars_shown(depthwin_child *b, uint32_t *bids, uint32_t *offers);
uint64_t depthbars_scale_top(depthwin_child *b);
// The price span of the shown steps (0, 0 when none).
void depthbars_span(depthwin_child *b, uint32_t *lo, uint32_t *hi);
// Where bar i of a list stands: its left x and the pixel height of a volume;
// false when nothing can be drawn (empty book, zero span or scale).
bool depthbars_bar_x(depthwin_child *b, uint32_t step, int32_t *x);
int32_t depthbars_volume_pixels(depthwin_child *b, uint64_t volume);
// The length a block is drawn with now (a volume), along its fade.
double depthbars_block_length(const depthbars_block *blk);
// The alpha a block is drawn with: 96 for orders older than the age
// reference while show_age is on, else 255.
int depthbars_block_alpha(depthwin_child *b, const depthbars_block *blk);
// The volume gridlines drawn for a scale maximum and a step: max / step,
// or 1 after WARN "too many steps: %llu/%llu = %d" when that is 1001 or more.
uint32_t depthbars_volume_steps(uint64_t max, uint64_t step);
// Where the auction figures were last drawn; false when none are shown.
bool depthbars_auction_box(depthwin_child *b, rect *out);
// Marks the age colouring for recomputation (the window's tick).
void depthbars_recolour(depthwin_child *b);
