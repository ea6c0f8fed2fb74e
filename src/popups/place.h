// Where the screen's floating windows go: pure functions over rectangles,
// and the screen operations that use them on the current screen (the hover
// popup, the depth and general detail popups, the group bar, the quote pop
// window and the popup document). Main thread.
//
// The popup anchor is one process-wide rectangle with side flags: the low
// four bits the horizontal side (0 left of it, 1 right of it, anything else
// centred on the pointer), bits 4-7 the vertical side (16 above, 32 below,
// 0 at the pointer). The next placement that uses it consumes it.
#pragma once

#include <cstdint>

#include "ui/widget.h"

struct window;
struct instr;
struct widget;

constexpr uint32_t kSideLeft = 0, kSideRight = 1, kSideCentre = 3;
constexpr uint32_t kSideAbove = 16, kSideBelow = 32;

// ---- pure placement ----

// Anchor placement of a pw x ph popup for the anchor `a` with side flags,
// the pointer (mx, my) and the OS window rectangle `os` under it.
void place_by_anchor(const rect &a, uint32_t side, int32_t mx, int32_t my, const rect &os,
                     int32_t pw, int32_t ph, int32_t *x, int32_t *y);

// The least size of the hover popup in an OS window of ow x oh with line
// height u: H0 = min(oh/2, 25u), W0 = min(ow/2, H0*144/100).
size place_hover_min(int32_t ow, int32_t oh, int32_t u);

// The hover popup's position without an anchor: a negative x or y names the
// far edge; flip_x/flip_y (when 0 or more) move it to the other side of that
// coordinate when it would leave the OS window `os`; then it is held inside
// the screen `scr` with margin m.
void place_hover_free(int32_t *x, int32_t *y, int32_t pw, int32_t ph, int32_t flip_x, int32_t flip_y,
                      const rect &os, const rect &scr, int32_t m);

// The general detail popup (gw x gh) at (x, y) without an anchor; *at_mouse
// puts it above the point when there is room, and is then cleared.
void place_gendtl_free(int32_t *x, int32_t *y, int32_t gw, int32_t gh, const rect &scr, int32_t m,
                       bool *at_mouse);

// The depth detail popup without an anchor: x raised to m, to the left of
// the point when it would pass the right margin; y as given.
void place_depthdtl_free(int32_t *x, int32_t gw, const rect &scr, int32_t m);

// The group bar: held inside the screen with margin m on both axes.
void place_clamp_inside(int32_t *x, int32_t *y, int32_t gw, int32_t gh, const rect &scr, int32_t m);

// The quote pop window's rectangle for a point (0, 0 = the desktop's corner
// plus u/2) on screen `scr` with desktop rectangle `desk`.
rect place_quote_popwin(int32_t x, int32_t y, const rect &scr, const rect &desk, int32_t u);

// The quick window's default: half of desktop 0, centred on it.
rect place_quick_default(const rect &desk0);

// The popup document's placement.
constexpr int32_t kDocOrientUnknown = 0, kDocPortrait = 1, kDocLandscape = 2;
struct doc_place_in {
  rect scr;         // the screen
  rect desk0;       // desktop 0
  int32_t gap;      // the splitter gap G
  rect current;     // the window's present rectangle (w <= 0: no size)
  int32_t page_w, page_h;  // the view's page size (< 1: unknown)
  int32_t orientation;     // kDoc*; any other value gives 0 x 0
  bool fit_width;
  bool has_document;
  int32_t tools_h;  // the tool panel's height when the window shows it, else 0
  bool force;
};
struct doc_place_out {
  rect r;        // the rectangle to take (when take)
  bool take;     // the rectangle changes
  bool waiting;  // the page size is not known yet: keep the place
};
doc_place_out place_popup_document(const doc_place_in &in);

// ---- the anchor (process-wide) ----
void screen_set_popup_anchor(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t side);
// False without an anchor; otherwise the position for a pw x ph popup, and
// the anchor is unset (its side flags stay).
bool screen_popup_position(int32_t *x, int32_t *y, size sz);
bool screen_popup_anchor_set();

// ---- the screen's floating windows (current screen) ----
void screen_place_popup(int32_t x, int32_t y);
void screen_place_popup_ex(int32_t x, int32_t y, int32_t flip_x, int32_t flip_y, int32_t width,
                           int32_t height, uint32_t bar_mode);
void screen_hide_popup();

bool screen_depthdtl_owner_is(const widget *w);
void screen_place_depthdtl(widget *owner, int32_t x, int32_t y);
void screen_relayout_depthdtl();
void screen_hide_depthdtl();

// The next general detail placement goes above the point.
void screen_popup_at_mouse();
bool screen_gendtl_at_mouse();
void screen_place_gendtl(int32_t x, int32_t y);
void screen_hide_gendtl();
// Fill the general detail popup, then place it at (x, y).
void screen_show_gendtl_flags(int32_t x, int32_t y, uint32_t flag_set, const char *code, uint64_t mask);
void screen_show_gendtl_flags2(int32_t x, int32_t y, uint32_t flag_set, uint64_t mask);
void screen_show_gendtl_value(int32_t x, int32_t y, uint32_t state, uint32_t resume);
void screen_show_gendtl_range(int32_t x, int32_t y, instr *in);
void screen_show_gendtl_range2(int32_t x, int32_t y, instr *in, uint32_t from, uint32_t to);
void screen_show_gendtl_volume(int32_t x, int32_t y, instr *stock);
void screen_show_gendtl_auction(int32_t x, int32_t y, instr *stock);
void screen_show_gendtl_auction2(int32_t x, int32_t y, instr *stock, uint32_t price, uint64_t volume);

// The group bar given its target (a: a watchlist grid, b: a ticker, c: a
// today's-announcements window), placed at (x, y) held inside the screen.
void screen_show_groupbar_a(widget *watchlist_grid, int32_t x, int32_t y);
void screen_show_groupbar_b(widget *ticker, int32_t x, int32_t y);
void screen_show_groupbar_c(widget *newstoday, int32_t x, int32_t y);
void screen_place_groupbar_at(int32_t x, int32_t y);
void screen_place_groupbar();

void screen_show_quote_popwin(int32_t x, int32_t y);
void screen_hide_quote_popwin();

// The popup document: placed by orientation while `document_waiting`.
bool screen_document_waiting();
void screen_place_popup_document(int force);
void screen_relayout_popup_document();
void screen_reshow_popup_document();
void screen_show_news_popup(instr *in, const void *news_item, int32_t page);
void screen_show_profile_popup(instr *in, int32_t page);
void screen_hide_popup_document();

// Test seam: the pointer (window coordinates) the placements read; null
// reads the gui's.
void place_set_pointer_query(void (*fn)(int32_t *x, int32_t *y));
