// The minibar, its mini desktops and the keypad.
//
// The minibar is a bin over a sizer and a row of sizers (mini quote, five
// mini desktops, the clock, five mini desktops, mini quote), all on the
// style's background. A mini desktop keeps up to 256 cells, one per window
// of its desktop in map order, rewritten only when a value differs, and
// redraws only on change: the backstop asks every pass the desktops
// changed, so an unchanged miniature costs a comparison, not a frame.
//
// Slots: minibar: draw, show_children/hide_children (the 2 s quote cycle);
// mini_desktop: reqsize, geometry_changed, draw, release, drop; keypad:
// reqsize, draw, show_children/hide_children (the 250 ms caret), restyle.
#include "screen/minibar.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "action.h"
#include "dnd.h"
#include "keyboard.h"
#include "lib/colour.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/scan.h"
#include "lib/timer.h"
#include "lib/wlist.h"
#include "log.h"
#include "screen/desktop.h"
#include "screen/screen.h"
#include "screen/splitter.h"
#include "ssmodel.h"
#include "style.h"
#include "ui/box.h"
#include "ui/gui.h"
#include "ui/sizer.h"
#include "undo.h"
#include "windows/watchlist.h"
#include "windows/window.h"

namespace {
constexpr char kSrc[] = "src/screen/minibar";
constexpr int kLabelKind = 2;    // cell labels
constexpr int kKeypadKind = 3;   // the typed command
constexpr int kSpacingField = 1; // style small[1], field 250: the minibar spacing
constexpr uint32_t kTextOnColour = 0xff222222u;
constexpr uint32_t kTextDim = 0xffb4b4b4u;
constexpr uint32_t kTextPlain = 0xffe6e6e6u;
constexpr uint32_t kEdgeLine = 0x1e000000u;   // black at alpha 30
constexpr uint32_t kKeypadFill = 0x78000000u; // black at alpha 120
constexpr uint32_t kKeypadEdge = 0x64000000u; // black at alpha 100
constexpr uint32_t kKeypadText = 0xffffffffu;
constexpr uint32_t kCaret = 0xc8ffffffu;      // white at alpha 200
constexpr int kLabelCut = 12;

struct {
  const char *(*text)();
  int (*typing)();
} K;

const style *cur() { return style_cur(); }
uint32_t style_col(int field, uint32_t fallback) {
  const style *s = cur();
  return s ? style_colour(s, field) : fallback;
}
uint32_t bg_colour() { return style_col(SC_BACKGROUND, 0xff282828u); }
int32_t line_height() {
  const style *s = cur();
  return s ? s->line_height : 14;
}
int32_t minibar_spacing() {
  const style *s = cur();
  return s ? s->small[kSpacingField] : 2;
}
int32_t font_of(int kind) {
  const style *s = cur();
  return s ? s->font[kind] : 0;
}
container_class *bin_record() { return static_cast<container_class *>(object_class_record(bin_type())); }

// ===========================================================================
// Mini desktop

mini_desktop *as_md(widget *w) { return static_cast<mini_desktop *>(w); }

screen *screen_of(widget *w) {
  for (; w; w = w->parent)
    if (object_is_a(reinterpret_cast<object *>(w), screen_type())) return static_cast<screen *>(w);
  return nullptr;
}

// The OS window's size (the screen's rect before the window is open).
void window_size(widget *w, int32_t *ww, int32_t *wh) {
  *ww = *wh = 0;
  gui_widget_window_size(w, ww, wh);
  if (*ww <= 0 || *wh <= 0) {
    screen *s = screen_of(w);
    if (s) *ww = s->r.w, *wh = s->r.h;
  }
}

rect inner_of(const widget *w) { return {w->r.x + 3, w->r.y + 4, w->r.w - 6, w->r.h - 9}; }

// The scan a list window shows (its watchlist content's), or null.
const scan *window_scan(window *w) {
  widget *c = w->child[kWinWatchlist];
  return c && watchlist_is(c) ? watchlist_get_scan(static_cast<watchlist *>(c)) : nullptr;
}

void md_reqsize(widget *self, size *out) {
  int32_t ww, wh;
  window_size(self, &ww, &wh);
  *out = mini_desktop_size(ww, wh, line_height(), minibar_spacing());
}

void md_geometry_changed(widget *self) { mini_desktop_layout(as_md(self)); }

void md_draw(widget *self) {
  mini_desktop *md = as_md(self);
  const rect r = self->r;
  gfx_fill_rect(r.x, r.y, r.w, r.h, md->bg);
  panel_draw(&r, md->bg, 0, md->bg, 2);
  const rect in = inner_of(self);
  const int32_t font = font_of(kLabelKind);
  int32_t ascent = 0, descent = 0;
  font_metrics(nullptr, nullptr, &ascent, &descent, font);
  for (int i = 0; i < md->count; i++) {
    const mini_desktop_cell &c = md->cells[i];
    if (c.hidden) continue;
    const int32_t w = c.right - c.left + 1, h = c.bottom - c.top + 1;
    if (c.fill) gfx_fill_rect(c.left, c.top, w, h, c.fill);
    if (c.label[0])
      font_draw(c.label, c.left + w / 2, c.top + (h + ascent - descent) / 2, 2, font, c.text, nullptr);
    gfx_begin_lines(kEdgeLine);
    if (c.bottom < in.y + in.h - 1) gfx_line(c.left, c.bottom, c.right + 1, c.bottom);
    if (c.right < in.x + in.w - 1) gfx_line(c.right, c.top, c.right, c.bottom + 1);
    gfx_end_lines();
  }
  md->redraws++;
}

void md_release(widget *self, int32_t, int32_t, int) { mini_desktop_click(as_md(self)); }

// A drag starts from the window under the point when it shows an instrument.
int md_drag_begin(widget *self, int32_t x, int32_t y, int, drag_record *d) {
  mini_desktop *md = as_md(self);
  if (!md->d) return 0;
  int32_t dx, dy;
  mini_desktop_map_point(md, x, y, &dx, &dy);
  window *w = desktop_window_at(md->d, dx, dy);
  if (!w || !w->instrument) return 0;
  dnd_begin_instr(w->instrument);
  if (d) d->w = self;
  return 1;
}

void md_drop(widget *self, int32_t x, int32_t y, int, drag_record *) {
  mini_desktop *md = as_md(self);
  int32_t dx, dy;
  mini_desktop_map_point(md, x, y, &dx, &dy);
  window *w = md->d ? desktop_window_at(md->d, dx, dy) : nullptr;
  const mini_quote_drag d = mini_quote_dragged();
  if (w && d.in) window_drop_instr(w, int(d.kind), d.in);
}

void md_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->reqsize = md_reqsize;
  c->geometry_changed = md_geometry_changed;
  c->draw = md_draw;
  c->release = md_release;
  c->drag_begin = md_drag_begin;
  c->drop = md_drop;
}

typeid_t mini_desktop_type() {
  static typeid_t t = -1;
  if (t < 0)
    t = object_register_class("mini_desktop", widget_type(), sizeof(mini_desktop), nullptr, nullptr,
                              sizeof(widget_class), md_class_init, nullptr);
  return t;
}

// ===========================================================================
// Minibar

minibar *as_mb(widget *w) { return static_cast<minibar *>(w); }

int cycle_tick(void *arg, uint32_t, int64_t, float) {
  minibar_cycle_quotes(static_cast<widget *>(arg));
  return 1;
}

void mb_stop(minibar *m) {
  if (m->timer >= 0) timer_stop(m->timer);
  m->timer = -1;
}

void mb_draw(widget *self) {
  gfx_fill_rect(self->r.x, self->r.y, self->r.w, self->r.h, bg_colour());
  bin *b = static_cast<bin *>(self);
  if (b->child) widget_draw(b->child);
}

void mb_show_children(widget *self) {
  minibar *m = as_mb(self);
  if (m->timer < 0) m->timer = timer_start(kMinibarCycleMs, cycle_tick, self, 0);
  bin_record()->show_children(self);
}

void mb_hide_children(widget *self) {
  mb_stop(as_mb(self));
  bin_record()->hide_children(self);
}

// Before the widget joins its parent (which may show it at once).
void mb_init(object *o) { reinterpret_cast<minibar *>(o)->timer = -1; }
void mb_fini(object *o) { mb_stop(reinterpret_cast<minibar *>(o)); }

void mb_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->draw = mb_draw;
  c->show_children = mb_show_children;
  c->hide_children = mb_hide_children;
}

typeid_t minibar_type() {
  static typeid_t t = -1;
  if (t < 0)
    t = object_register_class("minibar", bin_type(), sizeof(minibar), mb_init, mb_fini, sizeof(container_class),
                              mb_class_init, nullptr);
  return t;
}

// ===========================================================================
// Keypad

keypad *as_kp(widget *w) { return static_cast<keypad *>(w); }

const char *typed_text() { return keypad_typed_text(); }

int blink_tick(void *arg, uint32_t, int64_t, float) {
  keypad *k = static_cast<keypad *>(arg);
  k->blink = !k->blink;
  widget_redraw(k);
  return 1;
}

void kp_stop(keypad *k) {
  if (k->timer >= 0) timer_stop(k->timer);
  k->timer = -1;
}

void kp_read_metrics(keypad *k) {
  if (!cur()) return;
  int32_t digit = 0, ascent = 0, descent = 0;
  font_metrics(nullptr, &digit, &ascent, &descent, font_of(kKeypadKind));
  if (digit > 0) k->char_w = digit;
  if (ascent + descent > 0) k->char_h = ascent + descent;
}

void kp_reqsize(widget *self, size *out) { *out = keypad_size(self, typed_text()); }

void kp_draw(widget *self) {
  keypad *k = as_kp(self);
  const rect r = self->r;
  panel_draw(&r, kKeypadFill, kKeypadEdge, 0, 2);
  const int32_t font = font_of(kKeypadKind);
  int32_t ascent = 0, descent = 0;
  font_metrics(nullptr, nullptr, &ascent, &descent, font);
  const char *text = typed_text();
  const int32_t base = r.y + (r.h + ascent - descent) / 2;
  rect out = {r.x + 8, base, 0, 0};
  font_draw(text, r.x + 8, base, 0, font, kKeypadText, &out);
  // The caret only while typing (not while a command's text lingers).
  if (keypad_typing() && (K.typing || keyboard_mode() == 1) && k->blink) {
    int32_t size[2] = {0, 0};
    font_text_size(size, font, text);
    gfx_fill_rect(r.x + 8 + size[0], r.y + (r.h - k->char_h) / 2, k->char_w, k->char_h, kCaret);
  }
}

void kp_show_children(widget *self) {
  keypad *k = as_kp(self);
  screen_hide_bars_ex(BAR_GENDTL | BAR_DEPTHDTL, 0);
  if (k->timer < 0) k->timer = timer_start(kKeypadBlinkMs, blink_tick, k, 0);
}

void kp_hide_children(widget *self) { kp_stop(as_kp(self)); }
void kp_restyle(widget *self) { kp_read_metrics(as_kp(self)); }
void kp_init(object *o) {
  keypad *k = reinterpret_cast<keypad *>(o);
  k->timer = -1;
  k->blink = 1;
  k->char_w = 4;
  k->char_h = 10;
}
void kp_fini(object *o) { kp_stop(reinterpret_cast<keypad *>(o)); }

void kp_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->reqsize = kp_reqsize;
  c->draw = kp_draw;
  c->show_children = kp_show_children;
  c->hide_children = kp_hide_children;
  c->restyle = kp_restyle;
}

typeid_t keypad_type() {
  static typeid_t t = -1;
  if (t < 0)
    t = object_register_class("keypad", widget_type(), sizeof(keypad), kp_init, kp_fini, sizeof(widget_class),
                              kp_class_init, nullptr);
  return t;
}
}  // namespace

// ===========================================================================
// Minibar

widget *minibar_new(widget *screen_w) {
  const typeid_t t = minibar_type();
  if (t < 0) return nullptr;
  auto *m = static_cast<minibar *>(widget_new(screen_w, t));
  if (!m) return nullptr;
  m->screen = screen_w;
  m->timer = -1;
  const int32_t gap = minibar_spacing();
  padding top_pad, clock_pad;
  padding_set(&top_pad, 1, 0, 0, 0);
  padding_set(&clock_pad, 2, 0, 2, 0);
  screen *s = screen_w && object_is_a(reinterpret_cast<object *>(screen_w), screen_type())
                  ? static_cast<screen *>(screen_w)
                  : nullptr;
  sizer *outer = sizer_new(m, SIZER_FILL_W | SIZER_FILL_H, nullptr, &top_pad, 1.0f);
  hbox *row = outer ? hbox_new(outer, 0, uint32_t(gap)) : nullptr;
  bool ok = row != nullptr;
  if (ok) {
    // The quote cells take the bar's height (a mini quote asks for none).
    sizer *left = sizer_new(row, SIZER_FILL_W | SIZER_FILL_H | SIZER_EXPAND_V, nullptr, nullptr, 1.0f);
    m->quotes[0] = left ? mini_quote_new(left, MINI_QUOTE_MINIBAR) : nullptr;
    sizer *a = sizer_new(row, 0, nullptr, nullptr, 1.0f);
    hbox *first = a ? hbox_new(a, 1, uint32_t(gap)) : nullptr;
    for (int i = 0; i < 5 && first; i++) m->desktops[i] = mini_desktop_new(first, s ? s->desktops[i] : nullptr);
    sizer *c = sizer_new(row, SIZER_FILL_H, nullptr, &clock_pad, 1.0f);
    m->clock = c ? clock_new(c) : nullptr;
    sizer *b = sizer_new(row, 0, nullptr, nullptr, 1.0f);
    hbox *second = b ? hbox_new(b, 1, uint32_t(gap)) : nullptr;
    for (int i = 5; i < 10 && second; i++) m->desktops[i] = mini_desktop_new(second, s ? s->desktops[i] : nullptr);
    sizer *right = sizer_new(row, SIZER_FILL_W | SIZER_FILL_H | SIZER_EXPAND_V, nullptr, nullptr, 1.0f);
    m->quotes[1] = right ? mini_quote_new(right, MINI_QUOTE_MINIBAR) : nullptr;
    ok = m->quotes[0] && m->quotes[1] && m->clock;
    for (mini_desktop *md : m->desktops) ok = ok && md;
  }
  if (!ok) {
    log(LOG_ERROR, kSrc, "can't build minibar");
    widget_delete(m);
    return nullptr;
  }
  container_set_bg_all(m, bg_colour());
  return m;
}

widget *minibar_get_quote(widget *mb, int i) { return i == 0 || i == 1 ? as_mb(mb)->quotes[i] : nullptr; }
mini_desktop *minibar_desktop(widget *mb, int i) { return i >= 0 && i < 10 ? as_mb(mb)->desktops[i] : nullptr; }
clock_widget *minibar_clock(widget *mb) { return as_mb(mb)->clock; }

bool minibar_refresh(widget *mb) {
  minibar *m = as_mb(mb);
  m->refreshes++;
  bool any = false;
  for (mini_desktop *md : m->desktops)
    if (md && mini_desktop_layout(md)) any = true;
  if (any) widget_redraw(mb);
  return any;
}

int32_t minibar_refreshes(widget *mb) { return int32_t(as_mb(mb)->refreshes); }

void minibar_cycle_quotes(widget *mb) {
  for (mini_quote *q : as_mb(mb)->quotes)
    if (q && mini_quote_get_scan(q)) mini_quote_next(q);
}

// ===========================================================================
// Mini desktop

mini_desktop *mini_desktop_new(widget *parent, desktop *d) {
  const typeid_t t = mini_desktop_type();
  if (t < 0) return nullptr;
  auto *md = static_cast<mini_desktop *>(widget_new(parent, t));
  if (!md) return nullptr;
  md->d = d;
  md->bg = bg_colour();
  return md;
}

size mini_desktop_size(int32_t win_w, int32_t win_h, int32_t u, int32_t s) {
  const int32_t h = 3 * u + 6;
  if (win_w <= 0 || win_h <= 0) return {h, h};
  int32_t w = int32_t(int64_t(h) * win_w / win_h);
  const int64_t room = int64_t(5) * win_w / 9;
  const int64_t over = int64_t(10) * w + 9 * s - room;
  if (over > 0) w -= int32_t((over + 9) / 10);
  return {std::max(w, 1), h};
}

void mini_desktop_label(char *out, uint32_t role, const instr *in, const scan *s, int32_t cell_w, int32_t char_w) {
  out[0] = 0;
  if (in) {
    snprintf(out, kMiniDesktopLabel + 1, "%s", in->code);
  } else {
    switch (role) {
      case kRoleWatchlist:
        if (s && s->registered)
          snprintf(out, kMiniDesktopLabel + 1, "S%u", scan_position(s) + 1);
        else if (s && s->source)
          snprintf(out, kMiniDesktopLabel + 1, "W%u", wlist_position(s->source) + 1);
        else if (s && s->order == 6)
          snprintf(out, kMiniDesktopLabel + 1, "$V");
        else if (s && s->order == 5)
          snprintf(out, kMiniDesktopLabel + 1, "V");
        else if (s && s->order == 3)
          snprintf(out, kMiniDesktopLabel + 1, "%s", s->reversed ? "F" : "R");
        else
          snprintf(out, kMiniDesktopLabel + 1, "S");
        break;
      case kRoleIndexlist: snprintf(out, kMiniDesktopLabel + 1, "I"); break;
      case kRoleNewstoday: snprintf(out, kMiniDesktopLabel + 1, "N"); break;
      case kRoleSearch: snprintf(out, kMiniDesktopLabel + 1, "S"); break;
      case kRoleRss: snprintf(out, kMiniDesktopLabel + 1, "RSS"); break;
      case kRoleTerminal: snprintf(out, kMiniDesktopLabel + 1, ">"); break;
      case kRoleLog: snprintf(out, kMiniDesktopLabel + 1, "LOG"); break;
      case kRoleForexlist: snprintf(out, kMiniDesktopLabel + 1, "FX"); break;
      case kRoleOptionlist: snprintf(out, kMiniDesktopLabel + 1, "OPT"); break;
      case kRoleAlerts: snprintf(out, kMiniDesktopLabel + 1, "A"); break;
      default: break;
    }
  }
  if (char_w > 0) {
    const int32_t n = cell_w / char_w;
    if (n < kLabelCut && n >= 0 && n < int32_t(strlen(out))) out[n] = 0;
  }
}

bool mini_desktop_layout(mini_desktop *md) {
  bool changed = false;
  const rect in = inner_of(md);
  const int32_t g = splitter_gap();
  screen *s = screen_of(md);
  const bool current = s && md->d && s->current_desktop >= 0 && s->desktops[s->current_desktop] == md->d;
  int32_t n = 0;
  if (md->d && in.w > 0 && in.h > 0) {
    const rect dr = md->d->r;
    const int32_t font = font_of(kLabelKind);
    int32_t char_w = 0, ascent = 0, descent = 0;
    font_metrics(nullptr, &char_w, &ascent, &descent, font);
    const int32_t line = ascent + descent;
    auto map = [g](int32_t v, int32_t origin, int32_t extent, int32_t to_origin, int32_t to_extent) {
      const int32_t rel = v - origin;
      if (extent <= g) return to_origin + rel;
      return to_origin + int32_t(int64_t(rel - g / 2) * to_extent / (extent - g));
    };
    for (window *w : desktop_windows(md->d)) {
      if (n >= kMiniDesktopCells) break;
      mini_desktop_cell c = {};
      c.hidden = current && !widget_is_shown(w);
      c.left = std::clamp(map(w->r.x, dr.x, dr.w, in.x, in.w), in.x, in.x + in.w - 1);
      c.right = std::clamp(map(w->r.x + w->r.w, dr.x, dr.w, in.x, in.w) - 1, in.x, in.x + in.w - 1);
      c.top = std::clamp(map(w->r.y, dr.y, dr.h, in.y, in.h), in.y, in.y + in.h - 1);
      c.bottom = std::clamp(map(w->r.y + w->r.h, dr.y, dr.h, in.y, in.h) - 1, in.y, in.y + in.h - 1);
      switch (window_price_trend(w)) {
        case 1: c.fill = style_col(SC_UP, 0xff45c627u), c.text = kTextOnColour; break;
        case 2: c.fill = style_col(SC_DOWN, 0xff5543d9u), c.text = kTextOnColour; break;
        case 3:
          if (w->role == kRoleAlerts)
            c.fill = style_col(SC_WARNING, 0xff00c0ffu), c.text = kTextOnColour;
          else
            c.fill = colour_lighten(bg_colour(), 30), c.text = kTextDim;
          break;
        default: c.fill = 0, c.text = kTextPlain; break;
      }
      const int32_t cw = c.right - c.left + 1;
      if (char_w > 0 && cw >= char_w && c.bottom - c.top + 1 >= line)
        mini_desktop_label(c.label, w->role, w->instrument, w->role == kRoleWatchlist ? window_scan(w) : nullptr,
                           cw, char_w);
      if (n >= md->count || memcmp(&md->cells[n], &c, sizeof c) != 0) {
        md->cells[n] = c;
        changed = true;
      }
      n++;
    }
  }
  const uint32_t bg = current ? style_col(SC_SELECTION, 0xff505050u) : bg_colour();
  if (n != md->count || bg != md->bg || int32_t(current) != md->current) changed = true;
  md->count = n;
  md->bg = bg;
  md->current = current;
  if (changed) widget_redraw(md);
  return changed;
}

int mini_desktop_index_of(mini_desktop *md) { return md->d ? screen_desktop_index_of(md->d) : -1; }

void mini_desktop_map_point(mini_desktop *md, int32_t px, int32_t py, int32_t *x, int32_t *y) {
  const rect dr = md->d ? md->d->r : rect{0, 0, 0, 0};
  const rect in = inner_of(md);
  const int32_t g = splitter_gap();
  *x = dr.x + g / 2;
  *y = dr.y + g / 2;
  if (md->r.w >= 7) *x += int32_t(int64_t(px - in.x) * (dr.w - g) / (md->r.w - 6));
  if (md->r.h >= 10) *y += int32_t(int64_t(py - in.y) * (dr.h - g) / (md->r.h - 9));
}

void mini_desktop_click(mini_desktop *md) {
  screen *s = screen_of(md);
  if (!s || !md->d) return;
  int i = -1;
  for (int k = 0; k < kDesktops; k++)
    if (s->desktops[k] == md->d) i = k;
  if (i < 0) return;
  screen_push(screen_index_of(s));
  undo_begin();
  action_switch_desktop(i);
  undo_end();
  screen_pop();
}

// ===========================================================================
// Keypad

widget *keypad_new(widget *screen_w) {
  const typeid_t t = keypad_type();
  if (t < 0) return nullptr;
  auto *k = static_cast<keypad *>(widget_new(screen_w, t));
  if (!k) return nullptr;
  k->blink = 1;
  k->timer = -1;
  k->char_w = 4;
  k->char_h = 10;
  kp_read_metrics(k);
  return k;
}

bool keypad_visible(widget *kp) { return kp && (kp->flags & WIDGET_SHOWN); }

size keypad_size(widget *kp, const char *text) {
  keypad *k = as_kp(kp);
  const int32_t font = font_of(kKeypadKind);
  int32_t a[2] = {0, 0}, b[2] = {0, 0};
  font_text_size(a, font, text ? text : "");
  font_text_size(b, font, "XXXXXX");
  int32_t ascent = 0, descent = 0;
  font_metrics(nullptr, nullptr, &ascent, &descent, font);
  const int32_t h = std::max(k->char_h, ascent + descent);
  return {std::max(a[0], b[0]) + k->char_w + 20, h + 11};
}

void keypad_position(const rect *target, size k, int32_t sr, int32_t sb, int32_t m, int32_t *x, int32_t *y) {
  int32_t px = target->x + target->w / 2 - k.w / 2;
  px = std::max(px, m);
  if (px + k.w > sr - m) px = px - 2 * m - k.w;
  int32_t py = std::max(target->y, 0) + m;
  if (py + k.h > sb - m) py = sb - (m + k.h);
  *x = px;
  *y = py;
}

void screen_place_keypad() {
  screen *s = screen_current();
  if (!s) return;
  if (!keypad_typing()) {
    // Every screen's keypad goes, shown or not; open windows redraw.
    for (int i = 0; i < kScreens; i++) {
      screen *o = screen_get(i);
      if (!o || !o->keypad) continue;
      widget_hide(o->keypad);
      if (screen_is_open(i)) gui_invalidate_window(o->os_window);
    }
    return;
  }
  widget *kp = s->keypad;
  if (!kp) return;
  const size k = keypad_size(kp, keypad_typed_text());
  if (keypad_visible(kp)) {
    const int32_t centre = kp->r.x + kp->r.w / 2;
    kp->r = {centre - k.w / 2, kp->r.y, k.w, k.h};
    widget_redraw(kp);
    return;
  }
  window *target = nullptr;
  if (s->bars & BAR_ZOOM)
    target = s->zoom_window;
  else if ((s->bars & BAR_QUICK) && s->quick_window)
    target = s->quick_window;
  else
    target = screen_current_desktop() ? desktop_get_focus(screen_current_desktop()) : nullptr;
  if (!target) {
    widget_redraw(s);
    return;
  }
  const int32_t m = line_height() / 2;
  int32_t x, y;
  keypad_position(&target->r, k, s->r.x + s->r.w, s->r.y + s->r.h, m, &x, &y);
  kp->r = {x, y, k.w, k.h};
  if (kp->cls->geometry_changed) kp->cls->geometry_changed(kp);
  widget_show(kp);
  widget_redraw(kp);
}

const char *keypad_typed_text() {
  if (K.text) return K.text();
  const char *t = keyboard_buffer();
  return t ? t : "";
}
int keypad_typing() { return K.typing ? K.typing() : keyboard_is_active(); }

void keypad_set_keyboard(const char *(*text)(), int (*typing)()) {
  K.text = text;
  K.typing = typing;
}
