// Editing operations on one terminal session's grid. Counts are clamped to
// what the grid can hold before any loop, and the multi-step operations move
// whole spans with memmove, so a hostile count (ESC[16383L) costs one grid's
// worth of work at most. A cursor column equal to `cols` is a pending wrap:
// the next character goes to the next line's first column; any explicit
// cursor movement first brings such a cursor back onto the last column.
#include "term/tt_screen.h"

#include <algorithm>
#include <cstring>

#include "log.h"

static const char kSrc[] = "src/term/tt_screen";

static struct {
  int quiet;
} S;

void tt_set_quiet(int on) { S.quiet = on; }
int tt_quiet(void) { return S.quiet; }

#define TT_LOG(level, ...)                                \
  do {                                                    \
    if (!S.quiet) log(level, kSrc, __VA_ARGS__);          \
  } while (0)

static bool has_grid(const tt_session *s) {
  return s->chars && s->attrs && s->cols > 0 && s->rows > 0;
}

static int count_of(int n) { return n < 2 ? 1 : n; }

// Brings a pending-wrap cursor back onto the last column.
static void settle_col(tt_session *s) {
  if (s->cols > 0 && s->cursor_col >= s->cols) s->cursor_col = s->cols - 1;
}

static void note_row(tt_session *s) {
  if (s->cursor_row > s->used_row) s->used_row = s->cursor_row;
}

static void empty_chars(tt_session *s, int from, int n) {
  if (n > 0) memset(s->chars + from, 0, (size_t)n);
}

static void copy_cells(tt_session *s, int to, int from, int n) {
  if (n <= 0) return;
  memmove(s->chars + to, s->chars + from, (size_t)n);
  memmove(s->attrs + (size_t)to * kTtAttrWords, s->attrs + (size_t)from * kTtAttrWords,
          (size_t)n * kTtAttrWords * sizeof(uint32_t));
}

// The attributes of the row `from`, cell by cell, into the rows first..last:
// what a multi-step operation's emptied rows carry, as n single steps leave
// them (each step moves rows and keeps the emptied row's own attributes).
static void spread_row_attrs(tt_session *s, int from, int first, int last) {
  const size_t words = (size_t)s->cols * kTtAttrWords;
  for (int r = first; r <= last; r++)
    if (r != from) memcpy(s->attrs + (size_t)r * words, s->attrs + (size_t)from * words, words * sizeof(uint32_t));
}

void tt_reset_attrs(tt_session *s) {
  memset(s->attr, 0, sizeof s->attr);
  s->attr[TT_FG] = 7;
}

void tt_reset(tt_session *s) {
  s->scroll_top = 0;
  s->scroll_bottom = s->rows > 0 ? s->rows - 1 : 0;
  s->charset = 0;
  memset(s->charsets, 'B', sizeof s->charsets);
  s->modes = s->saved_modes = TT_MODE_CURSOR;
  s->cursor_col = s->cursor_row = 0;
  tt_reset_attrs(s);
}

// Scrolls rows top+1 .. bottom up by n and empties the last n rows'
// characters; those rows carry the old bottom row's attributes, as n single
// scrolls leave them.
static void region_up(tt_session *s, int n) {
  if (!has_grid(s)) return;
  int top = std::clamp(s->scroll_top, 0, s->rows - 1);
  int bottom = std::clamp(s->scroll_bottom, top, s->rows - 1);
  int height = bottom - top + 1;
  n = std::min(n, height);
  copy_cells(s, top * s->cols, (top + n) * s->cols, (height - n) * s->cols);
  empty_chars(s, (bottom - n + 1) * s->cols, n * s->cols);
  spread_row_attrs(s, bottom, bottom - n + 1, bottom - 1);
}

static void region_down(tt_session *s, int n) {
  if (!has_grid(s)) return;
  int top = std::clamp(s->scroll_top, 0, s->rows - 1);
  int bottom = std::clamp(s->scroll_bottom, top, s->rows - 1);
  int height = bottom - top + 1;
  n = std::min(n, height);
  copy_cells(s, (top + n) * s->cols, top * s->cols, (height - n) * s->cols);
  empty_chars(s, top * s->cols, n * s->cols);
  spread_row_attrs(s, top, top + 1, top + n - 1);  // the old top row's, as n single steps
}

// One line down; at or below the region's bottom the region scrolls and the
// row stays on its bottom row.
static void line_down_once(tt_session *s) {
  if (s->cursor_row >= s->scroll_bottom) {
    region_up(s, 1);
    s->cursor_row = s->scroll_bottom;
  } else {
    s->cursor_row++;
  }
  note_row(s);
}

void tt_put_char(tt_session *s, int c) {
  if (!has_grid(s)) {
    TT_LOG(LOG_WARN, "screen not allocated putting %d", c);
    return;
  }
  if (s->cursor_col >= s->cols) {
    s->cursor_col = 0;
    line_down_once(s);
  }
  int64_t last = (int64_t)s->cols * s->rows - 1;
  int64_t i = (int64_t)s->cursor_row * s->cols + s->cursor_col;
  if (i < 0 || i > last) {
    TT_LOG(LOG_ERROR, "can't put char at %d,%d in %dx%d", s->cursor_col, s->cursor_row, s->cols,
           s->rows);
    i = last;
  }
  s->chars[i] = (uint8_t)c;
  memcpy(s->attrs + i * kTtAttrWords, s->attr, sizeof s->attr);
  s->cursor_col++;
}

static bool cursor_in_grid(const tt_session *s) {
  return has_grid(s) && s->cursor_row >= 0 && s->cursor_row < s->rows && s->cursor_col >= 0;
}

// Character edits and erasing act on the cursor's cell; a pending-wrap cursor
// counts as standing on the last column.
static int cursor_cell(tt_session *s) {
  int col = std::min(s->cursor_col, s->cols - 1);
  return s->cursor_row * s->cols + col;
}

void tt_insert_chars(tt_session *s, int c, int n) {
  if (!cursor_in_grid(s)) return;
  int room = s->cols - std::min(s->cursor_col, s->cols - 1);
  n = std::min(count_of(n), room);
  int at = cursor_cell(s);
  copy_cells(s, at + n, at, room - n);
  for (int k = 0; k < n; k++) {
    s->chars[at + k] = (uint8_t)c;
    memcpy(s->attrs + (size_t)(at + k) * kTtAttrWords, s->attr, sizeof s->attr);
  }
}

void tt_delete_chars(tt_session *s, int n) {
  if (!cursor_in_grid(s)) return;
  int room = s->cols - std::min(s->cursor_col, s->cols - 1);
  n = std::min(count_of(n), room);
  int at = cursor_cell(s);
  copy_cells(s, at, at + n, room - n);
  empty_chars(s, at + room - n, n);
  // The emptied cells carry the old last cell's attributes, as n single
  // deletions leave them.
  const uint32_t *last = s->attrs + (size_t)(at + room - 1) * kTtAttrWords;
  for (int k = at + room - n; k < at + room - 1; k++)
    memcpy(s->attrs + (size_t)k * kTtAttrWords, last, kTtAttrWords * sizeof(uint32_t));
}

void tt_erase_chars(tt_session *s, int n) {
  if (!cursor_in_grid(s)) return;
  n = count_of(n);
  int at = cursor_cell(s);
  int room = s->cols * s->rows - at;
  if (n > room) {
    TT_LOG(LOG_ERROR, "bad erase %d from %d,%d in %dx%d screen", n, s->cursor_col, s->cursor_row,
           s->cols, s->rows);
    n = room;
  }
  empty_chars(s, at, n);
}

void tt_scroll_up(tt_session *s, int n) { region_up(s, count_of(n)); }
void tt_scroll_down(tt_session *s, int n) { region_down(s, count_of(n)); }

// Insert and delete lines act on whole rows between the cursor row and the
// region's bottom; outside the region they do nothing.
void tt_insert_lines(tt_session *s, int n) {
  if (!has_grid(s) || s->cursor_row < s->scroll_top || s->cursor_row > s->scroll_bottom) return;
  int bottom = std::min(s->scroll_bottom, s->rows - 1);
  int height = bottom - s->cursor_row + 1;
  n = std::min(count_of(n), height);
  copy_cells(s, (s->cursor_row + n) * s->cols, s->cursor_row * s->cols, (height - n) * s->cols);
  empty_chars(s, s->cursor_row * s->cols, n * s->cols);
  spread_row_attrs(s, s->cursor_row, s->cursor_row + 1, s->cursor_row + n - 1);  // the old cursor row's
}

void tt_delete_lines(tt_session *s, int n) {
  if (!has_grid(s) || s->cursor_row < s->scroll_top || s->cursor_row > s->scroll_bottom) return;
  int bottom = std::min(s->scroll_bottom, s->rows - 1);
  int height = bottom - s->cursor_row + 1;
  n = std::min(count_of(n), height);
  copy_cells(s, s->cursor_row * s->cols, (s->cursor_row + n) * s->cols, (height - n) * s->cols);
  empty_chars(s, (bottom - n + 1) * s->cols, n * s->cols);
  spread_row_attrs(s, bottom, bottom - n + 1, bottom - 1);  // the old bottom row's
}

int tt_cursor_left(tt_session *s, int n) {
  settle_col(s);
  if (s->cursor_col <= 0) return -1;
  n = count_of(n);
  if (n > s->cursor_col) {
    TT_LOG(LOG_ERROR, "bad move left by %d from %d,%d", n, s->cursor_col, s->cursor_row);
    s->cursor_col = 0;
  } else {
    s->cursor_col -= n;
  }
  return 0;
}

void tt_back_one(tt_session *s) {
  settle_col(s);
  if (s->cursor_col > 0) s->cursor_col--;
}

int tt_cursor_right(tt_session *s, int n) {
  settle_col(s);
  if (!cursor_in_grid(s)) return -1;
  n = count_of(n);
  int64_t at = (int64_t)s->cursor_row * s->cols + s->cursor_col;
  int64_t cells = (int64_t)s->cols * s->rows;
  if (at + n >= cells) {
    TT_LOG(LOG_ERROR, "can't move right off screen");
    return -1;
  }
  if (s->chars[at] == 0 && s->chars[at + 1] == 0) {
    TT_LOG(LOG_ERROR, "can't move right");
    return -1;
  }
  if (s->cursor_col + n > s->cols - 1) {
    TT_LOG(LOG_ERROR, "bad move right by %d from %d,%d", n, s->cursor_col, s->cursor_row);
    s->cursor_col = s->cols - 1;
  } else {
    s->cursor_col += n;
  }
  return 0;
}

void tt_cursor_up(tt_session *s, int n) {
  settle_col(s);
  n = count_of(n);
  if (n > s->cursor_row) {
    TT_LOG(LOG_ERROR, "bad move up by %d from %d,%d", n, s->cursor_col, s->cursor_row);
    s->cursor_row = 0;
  } else {
    s->cursor_row -= n;
  }
}

// n single steps at once: down to the region's bottom (or one step onto it
// from below), then the rest as one scroll of the region.
void tt_line_down(tt_session *s, int n) {
  settle_col(s);
  n = count_of(n);
  int down = s->cursor_row < s->scroll_bottom ? std::min(n, s->scroll_bottom - s->cursor_row) : 0;
  s->cursor_row += down;
  if (n > down) {
    region_up(s, n - down);
    s->cursor_row = s->scroll_bottom;
  }
  note_row(s);
}

void tt_tab(tt_session *s, int n) {
  // On a pending wrap there is no stop further right: the wrap stays pending.
  if (!s->tabs || s->cols <= 0 || s->cursor_col >= s->cols) return;
  n = std::min(count_of(n), s->cols);
  int col = s->cursor_col;
  for (int k = 0; k < n; k++) {
    int c = col + 1;
    while (c < s->cols && !s->tabs[c]) c++;
    if (c >= s->cols) {
      TT_LOG(LOG_ERROR, "bad move to tabstop from %d,%d in %dx%d", s->cursor_col, s->cursor_row,
             s->cols, s->rows);
      col = s->cols - 1;
      break;
    }
    col = c;
  }
  s->cursor_col = col;
}

void tt_back_tab(tt_session *s, int n) {
  settle_col(s);
  if (!s->tabs || s->cols <= 0) return;
  n = std::min(count_of(n), s->cols);
  int col = s->cursor_col;
  for (int k = 0; k < n && col > 0; k++) {
    int c = col - 1;
    while (c > 0 && !s->tabs[c]) c--;
    col = c;
  }
  s->cursor_col = col;
}

void tt_move_to(tt_session *s, int col, int row) {
  if (s->cols <= 0 || s->rows <= 0) return;
  int c = std::clamp(col, 0, s->cols - 1);
  int r = std::clamp(row, 0, s->rows);
  if (c != col || r != row)
    TT_LOG(LOG_ERROR, "bad move %d,%d in %dx%d screen, using %d,%d", col, row, s->cols, s->rows, c, r);
  if (c == s->cursor_col && r == s->cursor_row) return;
  if (r == s->rows) {
    region_up(s, 1);
    r = s->rows - 1;
  }
  s->cursor_col = c;
  s->cursor_row = r;
  note_row(s);
}

void tt_set_tab(tt_session *s) {
  settle_col(s);
  if (s->tabs && s->cursor_col >= 0 && s->cursor_col < s->cols) s->tabs[s->cursor_col] = 1;
}

void tt_clear_tab(tt_session *s) {
  settle_col(s);
  if (s->tabs && s->cursor_col >= 0 && s->cursor_col < s->cols) s->tabs[s->cursor_col] = 0;
}

void tt_clear_all_tabs(tt_session *s) {
  if (s->tabs && s->cols > 0) memset(s->tabs, 0, (size_t)s->cols);
}

void tt_save_cursor(tt_session *s) {
  s->saved_col = s->cursor_col;
  s->saved_row = s->cursor_row;
}

void tt_restore_cursor(tt_session *s) {
  // The grid may have shrunk since the cursor was saved.
  s->cursor_col = std::clamp(s->saved_col, 0, std::max(s->cols - 1, 0));
  s->cursor_row = std::clamp(s->saved_row, 0, std::max(s->rows - 1, 0));
  note_row(s);
}

void tt_set_modes(tt_session *s, uint32_t bits) { s->modes |= bits; }
void tt_clear_modes(tt_session *s, uint32_t bits) { s->modes &= ~bits; }
int tt_test_modes(const tt_session *s, uint32_t bits) { return (s->modes & bits) != 0; }
void tt_set_saved(tt_session *s, uint32_t bits) { s->saved_modes |= bits; }
int tt_test_saved(const tt_session *s, uint32_t bits) { return (s->saved_modes & bits) != 0; }
void tt_select_charset(tt_session *s, int slot) { s->charset = (uint32_t)slot; }
void tt_designate(tt_session *s, int slot, int letter) {
  if (slot >= 0 && slot < 4) s->charsets[slot] = (uint8_t)letter;
}


void tt_clear_screen(tt_session *s) {
  if (has_grid(s)) empty_chars(s, 0, s->cols * s->rows);
  s->used_row = 0;
  s->cursor_col = s->cursor_row = 0;
}

// Every cell before the cursor's (not the cursor's own), then home; nothing
// at all with the cursor on the top-left cell.
void tt_erase_above(tt_session *s) {
  if (!cursor_in_grid(s)) return;
  int at = cursor_cell(s);
  if (at == 0) return;
  empty_chars(s, 0, at);
  s->cursor_col = s->cursor_row = 0;
  s->used_row = 0;
}

void tt_erase_below(tt_session *s) {
  if (!cursor_in_grid(s)) return;
  int at = cursor_cell(s);
  empty_chars(s, at, s->cols * s->rows - at);
}

void tt_erase_line(tt_session *s) {
  if (!cursor_in_grid(s) || s->cols < 2) return;
  empty_chars(s, s->cursor_row * s->cols, s->cols);
  s->cursor_col = 0;
}

void tt_erase_line_left(tt_session *s) {
  if (!cursor_in_grid(s)) return;
  int start = s->cursor_row * s->cols;
  empty_chars(s, start, cursor_cell(s) - start + 1);
}

void tt_erase_line_right(tt_session *s) {
  if (!cursor_in_grid(s)) return;
  int at = cursor_cell(s);
  empty_chars(s, at, (s->cursor_row + 1) * s->cols - at);
}

void tt_set_region(tt_session *s, int a, int b) {
  int top = std::min(a, b), bottom = std::max(a, b);
  int last = std::max(s->rows - 1, 0);
  int t = std::clamp(top, 0, last), u = std::clamp(bottom, 0, last);
  if (t != top || u != bottom)
    TT_LOG(LOG_ERROR, "bad scroll region %d-%d in %dx%d, using %d,%d", top, bottom, s->cols, s->rows,
           t, u);
  s->scroll_top = t;
  s->scroll_bottom = u;
}

void tt_reset_region(tt_session *s) {
  s->scroll_top = 0;
  s->scroll_bottom = std::max(s->rows - 1, 0);
}
