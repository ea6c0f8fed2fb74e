// The terminal widget. It owns one session of the session table (by index),
// opened the first time it is shown with a size and a kind and resized with
// it after that, or a snapshot of another terminal's screen when it sits in
// a popup. The selection is two cells in reading order; copying it turns
// the cells into text by the rules of terminal_cells_text, so the text
// pasted elsewhere keeps the rows' shape without their trailing blanks.
//
// Slots: geometry_changed, reqsize, size_limits, draw, restyle,
// show_children, drag_begin, drag_motion, drag_release, press, release,
// key_press.
#include "term/terminal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "export/clipboard.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/timer.h"
#include "log.h"
#include "term/tt_io.h"
#include "ui/gui.h"
#include "ui/object.h"

static const char kSrc[] = "src/term/terminal";

// The style's terminal fonts (fonts 9 and 10 of every style) are the
// atlas's regular and bold monospace.
constexpr int32_t kTermFont = 2, kTermBoldFont = 3;
constexpr int64_t kTermRedrawMs = 10;

static constexpr colour rgb(uint32_t v) {
  return 0xff000000u | (v & 0xff) << 16 | (v & 0xff00) | (v >> 16 & 0xff);
}
static const colour kBackground = rgb(0x001A2A);
static_assert(rgb(0x001A2A) == kTermBackground);
static const colour kCellBg[8] = {rgb(0x001A2A), rgb(0xC35365), rgb(0x8D983F), rgb(0xE1DB70),
                                  rgb(0x3D77A1), rgb(0xCC74AC), rgb(0x6B9D98), rgb(0x7F7F7F)};
static const colour kText[8] = {rgb(0x5E5E5E), rgb(0xD7786C), rgb(0xA7D671), rgb(0xF5F19A),
                                rgb(0x72AFCC), rgb(0xEDAED6), rgb(0xACCDCA), rgb(0xDBDBDB)};
static const colour kCursor = rgb(0xFFFF00);
static const colour kSelection = 0x50ffffffu;  // white at alpha 80
static const colour kEnded = 0x32000000u;      // black at alpha 50

static int no_widget(widget *) { return 0; }
static void no_frame(widget *) {}
static int no_change(void) { return 0; }
static void no_call(void) {}
// The window services are the windows layer's, installed when the window
// class is first used; without them (the terminal's own tests) a terminal
// is never in a popup, its window never switches panels, no desktop change
// runs, and no frame is drawn.
static const terminal_hooks kDefaultHooks = {no_widget, no_widget, no_frame,
                                             no_change, no_call,   no_call};

static struct {
  terminal_hooks hooks = kDefaultHooks;
  char *sel_text;    // class-wide selection buffer
  int instances;
  widget *last_release;
  int64_t last_release_ms;
} T;

void terminal_set_hooks(const terminal_hooks *hooks) {
  T.hooks = hooks ? *hooks : kDefaultHooks;
  if (!T.hooks.is_popup) T.hooks.is_popup = no_widget;
  if (!T.hooks.tools_switching) T.hooks.tools_switching = no_widget;
  if (!T.hooks.redraw_frame) T.hooks.redraw_frame = no_frame;
  if (!T.hooks.desktop_changing) T.hooks.desktop_changing = no_change;
  if (!T.hooks.request_relayout) T.hooks.request_relayout = no_call;
  if (!T.hooks.keyboard_deactivate) T.hooks.keyboard_deactivate = no_call;
}

static terminal *as_term(widget *w) { return static_cast<terminal *>(w); }

int terminal_char_class(uint8_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')
    return 1;
  if (c == 0 || c == '\t') return 3;
  if (c < 32) return 2;
  return 0;
}

int terminal_cells_text(const uint8_t *chars, int cols, int rows, terminal_cell a, terminal_cell b,
                        char *out, int room) {
  if (room < 1) return 0;
  int len = 0;
  if (!chars || cols < 1 || rows < 1) {
    out[0] = 0;
    return 0;
  }
  auto index = [&](terminal_cell c) {
    int col = std::clamp(c.col, 0, cols - 1), row = std::clamp(c.row, 0, rows - 1);
    return row * cols + col;
  };
  int i = index(a), end = index(b);
  if (i > end) std::swap(i, end);
  end = std::min(end, i + kTermSelBuf - 2);  // at most 8191 cells
  for (; i <= end && len < room - 1; i++) {
    if (chars[i]) {
      out[len++] = (char)chars[i];
      continue;
    }
    int row_end = (i / cols) * cols + cols - 1;
    int j = i;
    while (j <= row_end && !chars[j]) j++;
    if (j <= row_end && j <= end) {
      out[len++] = ' ';
    } else if (j > row_end && end > row_end) {
      out[len++] = '\n';
      i = row_end;
    } else {
      break;  // only empty cells up to the selection's end
    }
  }
  out[len] = 0;
  return len;
}

const char *terminal_selection(void) { return T.sel_text ? T.sel_text : ""; }

static void clear_selection(terminal *t) {
  t->sel_start = t->sel_end = {-1, -1};
}

// The screen to draw or copy: the snapshot, else the session's.
struct screen_view {
  int cols, rows, cursor_col, cursor_row;
  const uint8_t *chars;
  const uint32_t *attrs;
};

static bool view_of(const terminal *t, screen_view *v) {
  if (t->snapshot) {
    const terminal_snapshot *s = t->snapshot;
    *v = {s->cols, s->rows, s->cursor_col, s->cursor_row, s->chars, s->attrs};
    return true;
  }
  const tt_session *s = tt_screen_of(t->session);
  if (!s) return false;
  *v = {s->cols, s->rows, s->cursor_col, s->cursor_row, s->chars, s->attrs};
  return v->chars != nullptr;
}

static void copy_selection(terminal *t) {
  if (!T.sel_text) return;
  screen_view v;
  T.sel_text[0] = 0;
  if (t->sel_start.col >= 0 && view_of(t, &v))
    terminal_cells_text(v.chars, v.cols, v.rows, t->sel_start, t->sel_end, T.sel_text,
                        kTermSelBuf);
  clipboard_put(T.sel_text);
}

terminal_cell terminal_cell_at(const terminal *t, int32_t x, int32_t y) {
  screen_view v;
  int cols = 1, rows = 1;
  if (view_of(t, &v)) {
    cols = std::max(v.cols, 1);
    rows = std::max(v.rows, 1);
  }
  int cw = std::max(t->cell_w, 1), ch = std::max(t->cell_h, 1);
  int col = (x - t->r.x) / cw, row = (y - t->r.y) / ch;
  if (x < t->r.x) col = 0;
  if (y < t->r.y) row = 0;
  return {std::clamp(col, 0, cols - 1), std::clamp(row, 0, rows - 1)};
}

static void measure(terminal *t) {
  int32_t wh[2] = {0, 0};
  font_text_size(wh, kTermFont, "M");
  t->cell_w = std::max(font_glyph_width('M', kTermFont), wh[0]) + 1;
  t->cell_h = font_glyph_height('M', kTermFont) + 4;
}

static int redraw_tick(void *arg, uint32_t, int64_t, float) {
  terminal *t = static_cast<terminal *>(arg);
  widget_redraw(t);
  if (t->bell_fade.state || t->size_fade.state) return 1;
  t->timer = -1;
  return 0;
}

static void start_redraw_timer(terminal *t) {
  if (t->timer >= 0) timer_restart(t->timer);
  else t->timer = timer_start(kTermRedrawMs, redraw_tick, t, 0);
}

static void on_event(int, int event, void *user, intptr_t) {
  terminal *t = static_cast<terminal *>(user);
  if (event == 1) {
    fade_to(&t->bell_fade, 210, 0, nullptr, nullptr, 0, 0.12f);
    start_redraw_timer(t);
  } else if (event == 0) {
    widget_redraw(t);
  }
}

void terminal_update_session(terminal *t) {
  measure(t);
  int cols = (t->r.w - 1) / t->cell_w, rows = (t->r.h - 1) / t->cell_h;
  if (cols <= 0 || rows <= 0 || !widget_is_shown(t) || t->snapshot || t->kind == -1) return;
  if (t->session >= 0) {
    tt_resize(t->session, cols, rows);
    return;
  }
  t->session = tt_open(t->kind, nullptr, t->args, cols, rows, on_event, t, 0);
  if (t->on_open) t->on_open(t, t->session >= 0 ? 0 : 2, t->on_open_a, t->on_open_b);
}

static bool can_update(terminal *t) {
  return widget_is_shown(t) && t->r.w > 0 && t->r.h > 0 && !T.hooks.is_popup(t);
}

// ---- slots ----

static void t_geometry_changed(widget *self) {
  terminal *t = as_term(self);
  if (!can_update(t)) return;
  if (T.hooks.desktop_changing()) {
    fade_set(&t->size_fade, 255);
    T.hooks.request_relayout();
    return;
  }
  terminal_update_session(t);
  if (T.hooks.tools_switching(t)) return;
  bool resized = t->r.w != t->last_w || t->r.h != t->last_h;
  t->last_w = t->r.w;
  t->last_h = t->r.h;
  if (resized || t->size_fade.shown.i > 0) {
    fade_to(&t->size_fade, 255, 0, nullptr, nullptr, 0, 0.3f);
    start_redraw_timer(t);
  }
}

static void t_reqsize(widget *self, size *out) {
  terminal *t = as_term(self);
  measure(t);
  out->w = kTermCols * t->cell_w;
  out->h = kTermRows * t->cell_h;
}

static void t_size_limits(widget *self, size *min, size *max) {
  terminal *t = as_term(self);
  measure(t);
  if (min) *min = {kTermCols * t->cell_w, kTermRows * t->cell_h};
  if (max) *max = {0x7fffffff, 0x7fffffff};
}

static void t_restyle(widget *self) {
  terminal *t = as_term(self);
  if (can_update(t)) terminal_update_session(t);
}

static void draw_selection(terminal *t, const screen_view &v) {
  if (t->sel_start.col < 0) return;
  auto clamp = [&](terminal_cell c) {
    return terminal_cell{std::clamp(c.col, 0, v.cols - 1), std::clamp(c.row, 0, v.rows - 1)};
  };
  terminal_cell a = clamp(t->sel_start), b = clamp(t->sel_end);
  if (a.row > b.row || (a.row == b.row && a.col > b.col)) std::swap(a, b);
  for (int row = a.row; row <= b.row; row++) {
    int c0 = row == a.row ? a.col : 0, c1 = row == b.row ? b.col : v.cols - 1;
    gfx_fill_rect(t->r.x + c0 * t->cell_w, t->r.y + row * t->cell_h, (c1 - c0 + 1) * t->cell_w,
                  t->cell_h, kSelection);
  }
}

static void t_draw(widget *self) {
  terminal *t = as_term(self);
  T.hooks.redraw_frame(t);
  gfx_fill_rect(t->r.x, t->r.y, t->r.w, t->r.h, kBackground);
  screen_view v;
  bool have = view_of(t, &v) && v.cols > 0 && v.rows > 0;
  if (have) {
    bool cursor = !t->snapshot && tt_cursor_shown(t->session);
    int cw = t->cell_w, ch = t->cell_h;
    if (cursor && t->show_cursor) {
      int x = t->r.x + v.cursor_col * cw, y = t->r.y + v.cursor_row * ch;
      gfx_fill_rect(x, y, cw, ch, kCursor);
      if (!gui_has_focus(t)) gfx_fill_rect(x + 1, y + 1, cw - 2, ch - 2, kBackground);
    }
    char text[2] = {0, 0};
    for (int row = 0; row < v.rows; row++) {
      int y = t->r.y + row * ch;
      if (y + ch > t->r.y + t->r.h) break;
      for (int col = 0; col < v.cols; col++) {
        int i = row * v.cols + col;
        if (!v.chars[i]) continue;
        int x = t->r.x + col * cw;
        if (x + cw > t->r.x + t->r.w) break;
        const uint32_t *a = v.attrs + (size_t)i * kTtAttrWords;
        colour fg = kText[a[TT_FG] & 7], bg = kCellBg[a[TT_BG] & 7];
        if (a[TT_REVERSE]) {
          bg = kText[a[TT_FG] & 7];
          fg = kBackground;
        }
        if (cursor && col == v.cursor_col && row == v.cursor_row) {
          fg = kBackground;
          bg = kCursor;
        }
        if (bg != kBackground) gfx_fill_rect(x, y, cw, ch, bg);
        if (!a[TT_CONCEALED]) {
          text[0] = (char)v.chars[i];
          font_draw(text, x, y + ch - 2, 0, a[TT_BOLD] ? kTermBoldFont : kTermFont, fg, nullptr);
        }
        if (a[TT_UNDERLINE]) gfx_fill_rect(x, y + ch - 1, cw, 1, fg);
      }
    }
    draw_selection(t, v);
  }
  if (t->session >= 0 && t->kind != 1 && tt_session_ended())
    gfx_fill_rect(t->r.x, t->r.y, t->r.w, t->r.h, kEnded);
  if (t->bell_fade.shown.i > 0)
    gfx_fill_rect(t->r.x, t->r.y, t->r.w, t->r.h, 0x00ffffffu | (uint32_t)t->bell_fade.shown.i / 4 << 24);
  if (t->show_size && (gui_resizing() || t->size_fade.shown.i > 0) && t->cell_w > 0) {
    char label[32];
    snprintf(label, sizeof label, "%dx%d", (t->r.w - 1) / t->cell_w, (t->r.h - 1) / t->cell_h);
    uint32_t alpha = (uint32_t)std::clamp(t->size_fade.shown.i, 0, 255) << 24;
    rect box;
    font_draw(label, 0, 0, 0, kTermFont, 0, &box);
    int bw = box.w + 16, bh = box.h + 8;
    int bx = t->r.x + (t->r.w - bw) / 2, by = t->r.y + (t->r.h - bh) / 2;
    gfx_begin_lines(0x00ffffffu | alpha);
    gfx_line(bx, by, bx + bw, by);
    gfx_line(bx + bw, by, bx + bw, by + bh);
    gfx_line(bx + bw, by + bh, bx, by + bh);
    gfx_line(bx, by + bh, bx, by);
    gfx_end_lines();
    font_draw(label, t->r.x + t->r.w / 2, by + bh - 4, 2, kTermFont, 0x00ffffffu | alpha, nullptr);
  }
}

static void t_show_children(widget *self) { t_restyle(self); }

static int t_drag_begin(widget *self, int32_t x, int32_t y, int, drag_record *d) {
  terminal *t = as_term(self);
  t->sel_start = t->sel_end = terminal_cell_at(t, x, y);
  if (d) d->w = t;
  widget_redraw(t);
  return 1;
}

static void t_drag_motion(widget *self, int32_t x, int32_t y, int, drag_record *) {
  terminal *t = as_term(self);
  t->sel_end = terminal_cell_at(t, x, y);
  widget_redraw(t);
}

static int t_drag_release(widget *self, widget *, int32_t x, int32_t y, int, drag_record *) {
  terminal *t = as_term(self);
  t->sel_end = terminal_cell_at(t, x, y);
  copy_selection(t);
  widget_redraw(t);
  return 0;
}

static void t_press(widget *self, int32_t x, int32_t y, int button) {
  terminal *t = as_term(self);
  clear_selection(t);
  widget_redraw(t);
  if (button != 4) return;
  if (t->kind == 1) {
    if (t->parent) t->parent->cls->press(t->parent, x, y, button);
    return;
  }
  if (T.sel_text && T.sel_text[0] && t->session >= 0) {
    const char *text = clipboard_get_text();
    if (text) tt_send(t->session, (const uint8_t *)text, (int)strlen(text));
  }
}

static void select_word(terminal *t, int32_t x, int32_t y) {
  screen_view v;
  if (!view_of(t, &v) || v.cols < 1 || v.rows < 1) return;
  terminal_cell c = terminal_cell_at(t, x, y);
  const uint8_t *row = v.chars + c.row * v.cols;
  int cls = terminal_char_class(row[c.col]);
  int a = c.col, b = c.col;
  while (a > 0 && terminal_char_class(row[a - 1]) == cls) a--;
  while (b < v.cols - 1 && terminal_char_class(row[b + 1]) == cls) b++;
  t->sel_start = {a, c.row};
  t->sel_end = {b, c.row};
  copy_selection(t);
  widget_redraw(t);
}

static void t_release(widget *self, int32_t x, int32_t y, int button) {
  if (button != 1) return;
  terminal *t = as_term(self);
  T.hooks.keyboard_deactivate();
  gui_set_focus(t);
  int64_t now = gui_time_ms();
  if (T.last_release == t && now - T.last_release_ms <= kTermDoubleClickMs) {
    select_word(t, x, y);
    T.last_release = nullptr;  // a third click starts again
    return;
  }
  T.last_release = t;
  T.last_release_ms = now;
}

static void t_key_press(widget *self, key_event *k) {
  terminal *t = as_term(self);
  if (t->kind == 1 || t->session < 0 || tt_session_ended()) {
    if (t->parent) t->parent->cls->key_press(t->parent, k);
    return;
  }
  tt_send_key(t->session, k);
}

static void free_snapshot(terminal *t) {
  free(t->snapshot);
  t->snapshot = nullptr;
}

static void t_init(object *obj) {
  terminal *t = reinterpret_cast<terminal *>(obj);
  t->show_cursor = 1;
  t->session = -1;
  t->timer = -1;
  t->kind = -1;
  t->caption = "Terminal";
  clear_selection(t);
  fade_clear(&t->bell_fade);
  fade_clear(&t->size_fade);
  if (T.instances++ == 0 && !T.sel_text) {
    T.sel_text = static_cast<char *>(calloc(kTermSelBuf, 1));
    if (!T.sel_text) log(LOG_ERROR, kSrc, "can't alloc selection buffer");
  }
}

static void t_fini(object *obj) {
  terminal *t = reinterpret_cast<terminal *>(obj);
  if (t->session >= 0) tt_close(t->session);
  t->session = -1;
  free_snapshot(t);
  free(t->args);
  t->args = nullptr;
  fade_stop(&t->bell_fade);
  fade_stop(&t->size_fade);
  if (t->timer >= 0) timer_stop(t->timer);
  t->timer = -1;
  if (T.last_release == t) T.last_release = nullptr;
  if (--T.instances == 0) {
    free(T.sel_text);
    T.sel_text = nullptr;
  }
}

static void t_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->geometry_changed = t_geometry_changed;
  c->reqsize = t_reqsize;
  c->size_limits = t_size_limits;
  c->draw = t_draw;
  c->restyle = t_restyle;
  c->show_children = t_show_children;
  c->drag_begin = t_drag_begin;
  c->drag_motion = t_drag_motion;
  c->drag_release = t_drag_release;
  c->press = t_press;
  c->release = t_release;
  c->key_press = t_key_press;
}

static typeid_t register_terminal() {
  return object_register_class("terminal", widget_type(), sizeof(terminal), t_init, t_fini,
                               sizeof(widget_class), t_class_init, nullptr);
}

typeid_t terminal_type(void) {
  static object_type_cache c;
  return object_cached_type(&c, register_terminal);
}

terminal *terminal_new(widget *parent) {
  return static_cast<terminal *>(widget_new(parent, terminal_type()));
}

void terminal_set_kind(terminal *t, int kind) {
  t->kind = kind;
  t->caption = kind == 2 ? "Command Prompt" : "Terminal";
}
int terminal_get_kind(const terminal *t) { return t->kind; }
const char *terminal_caption(const terminal *t) { return t->caption; }

int terminal_set_args(terminal *t, const char *text) {
  char *copy = nullptr;
  if (text) {
    copy = strdup(text);
    if (!copy) {
      log(LOG_ERROR, kSrc, "can't alloc term args");
      return -1;
    }
  }
  free(t->args);
  t->args = copy;
  return 0;
}
const char *terminal_get_args(const terminal *t) { return t->args; }
void terminal_set_show_cursor(terminal *t, int on) { t->show_cursor = on ? 1 : 0; }
void terminal_set_show_size(terminal *t, int on) { t->show_size = on ? 1 : 0; }
void terminal_set_on_open(terminal *t, terminal_open_fn fn, intptr_t a, intptr_t b) {
  t->on_open = fn;
  t->on_open_a = a;
  t->on_open_b = b;
}

void terminal_send_string(terminal *t, const char *text, int n) {
  if (t->session < 0 || !text) return;
  if (n < 0) n = (int)strlen(text);
  int was = tt_quiet();
  tt_set_quiet(1);
  tt_send(t->session, (const uint8_t *)text, n);
  tt_set_quiet(was);
  widget_redraw(t);
}

void terminal_clear(terminal *t) {
  tt_clear(t->session);
  widget_redraw(t);
}

void terminal_reopen(terminal *t) {
  if (t->kind != 1 && t->session >= 0) {
    tt_close(t->session);
    t->session = -1;
  }
  terminal_update_session(t);
}

int terminal_needs_reopen(const terminal *t) {
  if (t->kind == 1) return 0;
  return t->session >= 0 ? tt_session_ended() : 1;
}

int terminal_copy(terminal *dst, const terminal *src) {
  free_snapshot(dst);
  const tt_session *s = tt_screen_of(src->session);
  if (!s) {
    log(LOG_WARN, kSrc, "src term not open");
    return -1;
  }
  if (!T.hooks.is_popup(dst)) {
    terminal_set_kind(dst, src->kind);
    return 0;
  }
  terminal_set_kind(dst, 1);
  if (!s->chars) {
    log(LOG_WARN, kSrc, "can't get src term screen");
    return -1;
  }
  size_t cells = (size_t)s->cols * s->rows;
  size_t bytes = sizeof(terminal_snapshot) + cells * kTtAttrWords * sizeof(uint32_t) + cells;
  auto *snap = static_cast<terminal_snapshot *>(malloc(bytes));
  if (!snap) {
    log(LOG_ERROR, kSrc, "can't alloc term copy");
    return -1;
  }
  snap->cols = s->cols;
  snap->rows = s->rows;
  snap->cursor_col = s->cursor_col;
  snap->cursor_row = s->cursor_row;
  snap->attrs = reinterpret_cast<uint32_t *>(snap + 1);
  snap->chars = reinterpret_cast<uint8_t *>(snap->attrs + cells * kTtAttrWords);
  memcpy(snap->attrs, s->attrs, cells * kTtAttrWords * sizeof(uint32_t));
  memcpy(snap->chars, s->chars, cells);
  dst->snapshot = snap;
  widget_redraw(dst);
  return 0;
}
