// The screen of one terminal session: a grid of character cells with display
// attributes, a cursor, tab stops, a scroll region and mode bits, and the
// editing operations the escape interpreter and the byte path apply to it.
// Every operation clamps what it is given to the grid (counts included, so no
// loop runs longer than the grid is large) and never writes outside it.
// User-interface thread only.
#pragma once
#include <cstdint>

#include "ui/widget.h"  // key_event

constexpr int kTtAttrWords = 7;      // bold, underline, blink, reverse, concealed, fg, bg
constexpr int kTtSendBuf = 8192;     // bytes for the back end
constexpr int kTtKeyQueue = 8192;    // key records

enum : uint32_t {
  TT_MODE_INSERT = 1,
  TT_MODE_APP_CURSOR = 2,
  TT_MODE_5 = 8,
  TT_MODE_66 = 16,
  TT_MODE_WRAP = 32,
  TT_MODE_CURSOR = 64,
  TT_MODE_35 = 128,
  TT_MODE_ORIGIN = 256,
};

// Indices of the attribute words of a cell.
enum { TT_BOLD, TT_UNDERLINE, TT_BLINK, TT_REVERSE, TT_CONCEALED, TT_FG, TT_BG };

typedef void (*tt_callback)(int index, int event, void *user, intptr_t user2);

struct tt_session {
  uint32_t type;
  uint32_t type2;  // selects how sent bytes are handled
  uint32_t in_use;
  tt_callback callback;
  void *user;
  intptr_t user2;
  int32_t cols, rows;
  int32_t used_row;
  int32_t cursor_col, cursor_row;
  uint8_t *chars;     // cols x rows, 0 is an empty cell
  uint32_t *attrs;    // cols x rows x kTtAttrWords
  uint32_t attr[kTtAttrWords];
  uint8_t *tabs;      // cols
  uint32_t charset;
  uint8_t charsets[4];
  int32_t saved_col, saved_row;
  int32_t scroll_top, scroll_bottom;
  uint32_t modes, saved_modes;
  uint32_t send_count;
  uint8_t send_buf[kTtSendBuf];
  int32_t key_count;
  key_event key_queue[kTtKeyQueue];
};

// The module-wide quiet flag: while set, the screen model and the
// interpreter log nothing.
void tt_set_quiet(int on);
int tt_quiet(void);

// An operation with a count n of 2 or more leaves the grid as n single steps
// do: the cells or rows it empties keep the attributes the single steps
// leave there (the old bottom row's for scrolling up and deleting lines, the
// old top row's for scrolling down, the cursor row's for inserting lines,
// the row's old last cell's for deleting characters).
void tt_reset(tt_session *s);
void tt_reset_attrs(tt_session *s);
void tt_put_char(tt_session *s, int c);
void tt_insert_chars(tt_session *s, int c, int n);
void tt_delete_chars(tt_session *s, int n);
void tt_erase_chars(tt_session *s, int n);
void tt_scroll_up(tt_session *s, int n);
void tt_scroll_down(tt_session *s, int n);
void tt_insert_lines(tt_session *s, int n);
void tt_delete_lines(tt_session *s, int n);
int tt_cursor_left(tt_session *s, int n);   // 0, or -1 in column 0
void tt_back_one(tt_session *s);
int tt_cursor_right(tt_session *s, int n);  // 0 / -1 (refused)
void tt_cursor_up(tt_session *s, int n);
void tt_line_down(tt_session *s, int n);
void tt_tab(tt_session *s, int n);
void tt_back_tab(tt_session *s, int n);
void tt_move_to(tt_session *s, int col, int row);
void tt_set_tab(tt_session *s);
void tt_clear_tab(tt_session *s);
void tt_clear_all_tabs(tt_session *s);
void tt_save_cursor(tt_session *s);
void tt_restore_cursor(tt_session *s);
void tt_set_modes(tt_session *s, uint32_t bits);
void tt_clear_modes(tt_session *s, uint32_t bits);
int tt_test_modes(const tt_session *s, uint32_t bits);
void tt_set_saved(tt_session *s, uint32_t bits);
int tt_test_saved(const tt_session *s, uint32_t bits);
void tt_select_charset(tt_session *s, int slot);
void tt_designate(tt_session *s, int slot, int letter);
void tt_clear_screen(tt_session *s);      // ED 2
void tt_erase_above(tt_session *s);       // ED 1: the cells before the cursor's, then home
void tt_erase_below(tt_session *s);       // ED 0
void tt_erase_line(tt_session *s);        // EL 2
void tt_erase_line_left(tt_session *s);   // EL 1
void tt_erase_line_right(tt_session *s);  // EL 0
void tt_set_region(tt_session *s, int a, int b);
void tt_reset_region(tt_session *s);
