// The minibar along the bottom of a screen: a mini quote, miniatures of
// desktops 1 to 5, the clock, miniatures of desktops 6 to 10 and a second
// mini quote. Each mini desktop draws its desktop's windows as labelled,
// coloured cells in their real proportions; a click switches to it. The
// keypad is the overlay that shows a typed command over the window that
// will receive it. Main thread only.
#pragma once
#include <cstdint>

#include "screen/clock.h"
#include "screen/miniquote.h"
#include "ui/container.h"

struct desktop;
struct scan;
struct window;

constexpr int kMiniDesktopCells = 256;
constexpr int kMiniDesktopLabel = 15;
constexpr int64_t kMinibarCycleMs = 2000;
constexpr int64_t kKeypadBlinkMs = 250;

struct mini_desktop_cell {
  char label[kMiniDesktopLabel + 1];
  uint32_t fill;  // 0: none
  uint32_t text;
  int32_t top, left, bottom, right;
  int32_t hidden;
};

struct mini_desktop : widget {
  desktop *d;
  int32_t count;
  mini_desktop_cell cells[kMiniDesktopCells];
  uint32_t bg;
  int32_t current;
  uint32_t redraws;  // for checks
  window *previewed;  // the window the hover preview copies, or null
};

struct minibar : bin {
  widget *screen;
  clock_widget *clock;
  mini_quote *quotes[2];
  mini_desktop *desktops[10];
  int32_t timer;
  uint32_t refreshes;
};

struct keypad : widget {
  int32_t blink;
  int32_t timer;
  int32_t char_w, char_h;
};

// ---- minibar ----
widget *minibar_new(widget *screen);
widget *minibar_get_quote(widget *mb, int i);  // 0 left, 1 right
// Lays out the ten mini desktops again; redraws the minibar when any
// changed (the result).
bool minibar_refresh(widget *mb);
int32_t minibar_refreshes(widget *mb);
void minibar_cycle_quotes(widget *mb);
mini_desktop *minibar_desktop(widget *mb, int i);
clock_widget *minibar_clock(widget *mb);

// ---- mini desktop ----
mini_desktop *mini_desktop_new(widget *parent, desktop *d);
// The cells from the desktop's windows; true when anything changed.
bool mini_desktop_layout(mini_desktop *md);
// Its desktop's index on the current screen (-1 when none).
int mini_desktop_index_of(mini_desktop *md);
// The miniature's size for an OS window of win_w x win_h, line height u and
// minibar spacing s: H = 3u + 6 high, as wide as the window's proportion,
// narrowed so ten of them and their gaps fit in 5/9 of the window's width.
size mini_desktop_size(int32_t win_w, int32_t win_h, int32_t u, int32_t s);
// A cell's label: the instrument's code, or by role (list windows by their
// scan: "S%d", "W%d", "$V", "V", "F"/"R", "S"); cut to (right - left + 1) /
// char_w characters when that is below 12. Writes "" for none.
void mini_desktop_label(char *out, uint32_t role, const instr *in, const scan *s, int32_t cell_w, int32_t char_w);
// The desktop's point for a point of the widget (for the pointer).
void mini_desktop_map_point(mini_desktop *md, int32_t px, int32_t py, int32_t *x, int32_t *y);
// A release on it: switches to its desktop as one undo step.
void mini_desktop_click(mini_desktop *md);

// ---- keypad ----
widget *keypad_new(widget *screen);
bool keypad_visible(widget *kp);
// The keypad's size for the typed text.
size keypad_size(widget *kp, const char *text);
// Where a keypad of size k goes over the target rect on a screen whose
// right and bottom edges are sr and sb, with margin m.
void keypad_position(const rect *target, size k, int32_t sr, int32_t sb, int32_t m, int32_t *x, int32_t *y);
// Places (or hides) the keypad of the current screen for the keyboard's
// typed text.
void screen_place_keypad();
// What the keyboard is typing, as the keypad reads it.
const char *keypad_typed_text();
int keypad_typing();
// Test seam: the keyboard's typed text and typing flag (null: the keyboard's).
void keypad_set_keyboard(const char *(*text)(), int (*typing)());
