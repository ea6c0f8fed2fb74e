// The terminal widget: sizes a session to itself, draws its screen, selects
// and copies text, pastes and passes keys. The log window holds one of kind
// 1 (local display) and writes the log into it. Main thread only.
#pragma once
#include <cstdint>

#include "lib/fade.h"
#include "ui/widget.h"

constexpr int kTermSelBuf = 8192;      // the selection text, NUL included
constexpr int64_t kTermDoubleClickMs = 499;
constexpr int kTermCols = 80, kTermRows = 40;  // the requested and least size, in cells
constexpr uint32_t kTermBackground = 0xFF2A1A00u;  // #001A2A, red in the low byte

// A copy of another terminal's screen, in one block.
struct terminal_snapshot {
  int32_t cols, rows, cursor_col, cursor_row;
  uint8_t *chars;
  uint32_t *attrs;
};

struct terminal_cell {
  int32_t col, row;  // -1: none
};

typedef void (*terminal_open_fn)(widget *w, int status, intptr_t a, intptr_t b);

struct terminal : widget {
  int32_t cell_w, cell_h;
  uint32_t show_cursor;
  uint32_t show_size;
  int32_t session;
  fade_value bell_fade, size_fade;
  int32_t timer;
  terminal_snapshot *snapshot;
  char *args;
  terminal_cell sel_start, sel_end;
  int32_t kind;
  const char *caption;
  terminal_open_fn on_open;
  intptr_t on_open_a, on_open_b;
  int32_t last_w, last_h;  // the size of the last update
};

// The window services the widget uses, installed by the windows layer at
// start-up; until then each does the least (nothing, or 0).
struct terminal_hooks {
  int (*is_popup)(widget *w);           // the widget sits in a popup window
  int (*tools_switching)(widget *w);    // its window is switching tool panel
  void (*redraw_frame)(widget *w);      // draws the window frame around it
  int (*desktop_changing)(void);        // a live desktop change runs
  void (*request_relayout)(void);       // asks for a desktop relayout
  void (*keyboard_deactivate)(void);    // ends typed-command entry
};
void terminal_set_hooks(const terminal_hooks *hooks);  // null: the defaults

typeid_t terminal_type(void);
terminal *terminal_new(widget *parent);
void terminal_set_kind(terminal *t, int kind);
int terminal_get_kind(const terminal *t);
const char *terminal_caption(const terminal *t);
inline const char *terminal_title(const terminal *t) { return terminal_caption(t); }
int terminal_set_args(terminal *t, const char *text);  // 0 / -1
const char *terminal_get_args(const terminal *t);
void terminal_set_show_cursor(terminal *t, int on);
void terminal_set_show_size(terminal *t, int on);
void terminal_set_on_open(terminal *t, terminal_open_fn fn, intptr_t a, intptr_t b);
// n = -1: the text's length. Sent quietly: the screen logs nothing about it.
void terminal_send_string(terminal *t, const char *text, int n);
void terminal_clear(terminal *t);
void terminal_reopen(terminal *t);
int terminal_needs_reopen(const terminal *t);
// Opens or resizes the session to the widget's size.
void terminal_update_session(terminal *t);
int terminal_copy(terminal *dst, const terminal *src);  // 0 / -1

// The text of the cells from a to b (either order, inclusive) of a grid:
// characters give themselves, an empty run to a row's end one newline, an
// empty cell before later characters of its row a blank, empty cells at
// the end nothing. At most room - 1 bytes and a NUL; returns the length.
int terminal_cells_text(const uint8_t *chars, int cols, int rows, terminal_cell a, terminal_cell b,
                        char *out, int room);
// The character class of a cell for word selection.
int terminal_char_class(uint8_t c);
// The selection as the widget copied it last (the class-wide buffer).
const char *terminal_selection(void);
// The cell under a window point, clamped to the grid.
terminal_cell terminal_cell_at(const terminal *t, int32_t x, int32_t y);
