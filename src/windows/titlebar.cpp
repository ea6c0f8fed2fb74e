// The title bar. Its text is formatted after every change from what it
// shows, in order of precedence a news item with its issuer, stock, issuer,
// index, else the text a role set; the draw measures with the atlas fonts,
// shortens the title a whole word at a time and drops the caption when both
// do not fit. The text is drawn straight each frame rather than kept in a
// drawing list: one line of a few dozen glyphs costs less to lay out than to
// track.
//
// Slots: geometry_changed, reqsize, draw, restyle, motion, drag_begin,
// release, leave.
#include "windows/titlebar.h"

#include <cstdio>
#include <cstring>

#include "action.h"
#include "dnd.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/tex.h"
#include "popups/place.h"
#include "screen/screen.h"
#include "ssmodel.h"
#include "sscodes.h"
#include "ssnotify.h"
#include "ssstate.h"
#include "style.h"
#include "ui/gui.h"
#include "undo.h"
#include "windows/docwin.h"
#include "windows/watchlist.h"
#include "windows/window.h"

namespace {

constexpr uint32_t kWildMask = 0x44;  // names of instruments, exchange states
constexpr uint32_t kStockMask = 0xA4;
constexpr uint32_t kIssuerOfStockMask = 0x80000;
constexpr uint32_t kIndexMask = 0x4;
constexpr uint32_t kIssuerMask = 0x80004;
constexpr int32_t kGap = 6;
constexpr int kStyleExchangeIcons = 282;  // style fields: the four exchanges' icons
constexpr int kStyleIssuerIcons = 286;    // the three icons of an issuer's flags

window *owner(const titlebar *t) {
  return t->parent && window_is(t->parent) ? static_cast<window *>(t->parent) : nullptr;
}

void copy199(char *dst, const char *src) {
  snprintf(dst, kTitleText, "%s", src ? src : "");
}

void format(titlebar *t) {
  window *w = owner(t);
  bool code_only = w && w->bar_mode == 3;
  if (t->news_item && t->issuer) {
    titlebar_instr_name(t->text, t->issuer, 1);
    const size_t n = strlen(t->text);
    if (t->news_item->headline[0] && n < kTitleText - 2) {
      strcat(t->text, ": ");
      strncat(t->text, t->news_item->headline, kTitleText - 1 - strlen(t->text));
    }
    t->exchange_number = t->issuer->exchange ? static_cast<int32_t>(t->issuer->exchange->index) : -1;
    return;
  }
  const instr *shown = t->stock ? static_cast<const instr *>(t->stock)
                       : t->issuer ? static_cast<const instr *>(t->issuer)
                                   : static_cast<const instr *>(t->index);
  if (!shown) {
    t->exchange_number = -1;  // a text set by a role stays
    return;
  }
  if (code_only) {
    copy199(t->text, shown->code);
    if (t->stock) t->exchange_number = shown->exchange ? static_cast<int32_t>(shown->exchange->index) : -1;
    return;
  }
  titlebar_instr_name(t->text, shown, 0);
  t->exchange_number = shown->exchange ? static_cast<int32_t>(shown->exchange->index) : -1;
}

void changed(titlebar *t) {
  format(t);
  t->relayout = 1;
  widget_redraw(t);
}

void hover_at(titlebar *t, int32_t x);

void on_change(const ss_change *, void *own, uint64_t, uint32_t) {
  auto *t = static_cast<titlebar *>(own);
  t->changes++;
  changed(t);
  // An explanation under the pointer follows what it explains.
  const int n = screen_index_of(t);
  screen *sc = n >= 0 ? screen_get(n) : nullptr;
  int win = -1;
  int32_t mx = 0, my = 0;
  if (!sc || sc != screen_current() || !(sc->bars & BAR_GENDTL) || !widget_is_shown(t)) return;
  gui_mouse(&win, &mx, &my);
  if (win == sc->os_window && mx >= t->r.x && mx < t->r.x + t->r.w && my >= t->r.y && my < t->r.y + t->r.h)
    hover_at(t, mx);
}

void drop_registrations(titlebar *t) {
  if (t->stock) ssnotify_remove(t->stock, t);
  if (t->index) ssnotify_remove(t->index, t);
  if (t->issuer) ssnotify_remove(t->issuer, t);
}

void tb_init(object *o) {
  auto *t = reinterpret_cast<titlebar *>(o);
  t->exchange_number = -1;
  ssnotify_add_wild(kWildMask, on_change, t, 0, 0);
}

void tb_fini(object *o) {
  auto *t = reinterpret_cast<titlebar *>(o);
  drop_registrations(t);
  ssnotify_remove_wild(t);
}

void tb_geometry_changed(widget *self) { static_cast<titlebar *>(self)->relayout = 1; }

void tb_reqsize(widget *, size *out) { *out = {0, titlebar_height()}; }

void tb_restyle(widget *self) {
  static_cast<titlebar *>(self)->relayout = 1;
  widget_redraw(self);
}

int32_t text_width(const char *s, int32_t font) {
  int32_t sz[2] = {0, 0};
  font_text_size(sz, font, s);
  return sz[0];
}

// The state text of a shown stock: its state's short name when it is
// neither 90 nor its exchange's current phase.
void state_text(const titlebar *t, char *out, size_t cap) {
  out[0] = 0;
  const ss_stock *s = t->stock;
  if (!s || s->state == 90) return;
  if (s->exchange && s->state == s->exchange->phase) return;
  const char *name = ssstate_short_name(s->state);
  if (!name || !*name) return;
  // The detail: when a halted stock resumes trading.
  if (s->resume_time)
    snprintf(out, cap < 30 ? cap : 30, "%s %s", name, fmt_time_hms(s->resume_time));
  else
    snprintf(out, cap < 30 ? cap : 30, "%s", name);
}

int32_t style_field(const style *st, int field) { return reinterpret_cast<const int32_t *>(st)[field]; }

// The exchange icon: for an exchange other than the default one (the third
// exchange counts as the first's when the first is the default).
int32_t exchange_icon(const titlebar *t, const style *st) {
  const int32_t ex = t->exchange_number;
  if (!st || ex < 0 || ex >= kExchanges) return -1;
  const uint32_t home = action_default_exchange();
  if (static_cast<uint32_t>(ex) == home || (ex == 3 && home == 0)) return -1;
  return style_field(st, kStyleExchangeIcons + ex);
}

// The issuer's flag icon: bit 20 the first of the style's three, else bit
// 18 the second, else bit 19 the third.
int32_t issuer_icon(const titlebar *t, const style *st) {
  if (!st || !t->issuer) return -1;
  const uint32_t f = t->issuer->flags;
  if (f & (1u << 20)) return style_field(st, kStyleIssuerIcons);
  if (f & (1u << 18)) return style_field(st, kStyleIssuerIcons + 1);
  if (f & (1u << 19)) return style_field(st, kStyleIssuerIcons + 2);
  return -1;
}

// The quote-basis text of a shown stock (its basis without bit 0x2), at
// most 29 characters.
void basis_text(const titlebar *t, char *out, size_t cap) {
  out[0] = 0;
  const ss_stock *s = t->stock;
  if (!s || !s->exchange || !(s->quote_basis & ~uint64_t{2})) return;
  uint32_t size = static_cast<uint32_t>(cap < 30 ? cap : 30);
  if (!sscodes_quote_basis_text(out, &size, static_cast<int32_t>(s->exchange->index), s->quote_basis & ~uint64_t{2}))
    out[0] = 0;
}

// The background: the quote pop window's own colour, another screen-owned
// window's popup colour, else the focused or unfocused title colour.
colour background(window *w, const style *st) {
  if (!st) return 0xff303030u;
  int field = SC_PANEL;
  if (w && w == screen_quote_popwin())
    field = SC_SELECTION;
  else if (w && w->kind > 0)
    field = SC_PANEL_LIGHT;
  else if (w && window_is_focused(w))
    field = SC_HEADER;
  return style_colour(st, field) | 0xff000000u;
}

void draw_icon(int32_t image, int32_t x, int32_t cy, rect *hit) {
  int32_t sz[2] = {0, 0};
  tex_size(sz, image);
  *hit = {x, cy - sz[1] / 2, sz[0], sz[1]};
  gfx_colour(0xffffffffu);
  tex_draw(image, hit->x, hit->y, sz[0], sz[1]);
}

void tb_draw(widget *self) {
  auto *t = static_cast<titlebar *>(self);
  window *w = owner(t);
  const style *st = style_cur();
  colour bg = background(w, st), fg = 0xffffffffu;
  int32_t font = 0, line = 16;
  if (st) {
    bool focused = w && window_is_focused(w);
    fg = style_colour(st, focused ? SC_HEADER_TEXT : SC_TEXT) | 0xff000000u;
    font = st->font[0];
    line = st->line_height;
  }
  const rect &r = self->r;
  gfx_fill_rect(r.x, r.y, r.w, r.h, bg);
  t->title_hit = t->caption_hit = t->state_hit = {r.x, r.y, 0, 0};
  t->exchange_hit = t->issuer_hit = {r.x, r.y, 0, 0};
  t->relayout = 0;
  if (r.h < line * 5 / 4) {
    window_frame_child_default(self);
    return;
  }

  char state[32], basis[32];
  state_text(t, state, sizeof state);
  basis_text(t, basis, sizeof basis);
  const int32_t ex_icon = exchange_icon(t, st), is_icon = issuer_icon(t, st);
  int32_t ex_size[2] = {0, 0}, is_size[2] = {0, 0};
  if (ex_icon >= 0) tex_size(ex_size, ex_icon);
  if (is_icon >= 0) tex_size(is_size, is_icon);
  int32_t state_w = *state ? text_width(state, font) : 0;
  int32_t basis_w = *basis ? text_width(basis, font) : 0;
  int32_t room = r.w - 12 - (state_w ? state_w + kGap : 0) - (basis_w ? basis_w + kGap : 0) -
                 (ex_icon >= 0 ? ex_size[0] + kGap : 0) - (is_icon >= 0 ? is_size[0] + kGap : 0);
  int32_t title_w = text_width(t->text, font);
  int32_t caption_w = *t->caption ? text_width(t->caption, font) : 0;
  bool caption = caption_w && title_w + kGap + caption_w <= room;
  if (caption) room -= caption_w + kGap;

  char shown[kTitleText];
  int n = titlebar_shorten(t->text, room, font);
  memcpy(shown, t->text, static_cast<size_t>(n));
  shown[n] = 0;
  int32_t cy = r.y + r.h / 2;
  int32_t x = r.x + kGap;
  if (n) {
    font_draw(shown, x, cy, 0x40, font, fg, &t->title_hit);
    x += t->title_hit.w + kGap;
  }
  if (caption) {
    font_draw(t->caption, x, cy, 0x40, font, fg, &t->caption_hit);
    x += t->caption_hit.w + kGap;
  }
  if (ex_icon >= 0) draw_icon(ex_icon, x, cy, &t->exchange_hit);
  // From the right edge leftwards: the issuer icon, the quote basis, then
  // the state, each text with a separator 4 pixels to its left.
  int32_t right = r.x + r.w - 4;
  if (is_icon >= 0) {
    draw_icon(is_icon, right - is_size[0], cy, &t->issuer_hit);
    right -= is_size[0] + kGap;
  }
  t->basis_hit = {right, r.y, 0, 0};
  if (basis_w) {
    font_draw(basis, right, cy, 0x41, font, fg, &t->basis_hit);
    gfx_fill_rect(right - basis_w - 4, r.y + 2, 1, r.h - 4, 0x32000000u);
    right -= basis_w + kGap;
  }
  if (state_w) {
    font_draw(state, right, cy, 0x41, font, fg, &t->state_hit);
    gfx_fill_rect(right - state_w - 4, r.y + 2, 1, r.h - 4, 0x32000000u);
  }
  // The bottom line, and a top line when the window follows another.
  gfx_fill_rect(r.x, r.y + r.h - 1, r.w, 1, 0x32000000u);
  if (w && w->link) gfx_fill_rect(r.x, r.y, r.w, 1, 0x32000000u);
  window_frame_child_default(self);
}

bool over(const rect &h, int32_t x, int32_t y) { return h.w > 0 && x >= h.x && x < h.x + h.w && y >= h.y && y < h.y + h.h; }

ss_issuer *subject_issuer(const titlebar *t) { return t->issuer; }

// A drag from the title: the issuer's latest news from its icon; a
// document window's profile (its issuer) or news item; else the window's
// instrument, or the list of a window without one.
int tb_drag_begin(widget *self, int32_t x, int32_t y, int n, drag_record *d) {
  auto *t = static_cast<titlebar *>(self);
  window *w = owner(t);
  if (n != 1 || !w) return 0;
  ss_issuer *is = subject_issuer(t);
  widget *doc = window_get_content(w, kRoleDocument);
  if (is && over(t->issuer_hit, x, y)) {
    if (ss_news *latest = is->news.tail)
      dnd_begin_news(is, latest);
    else
      dnd_begin_issuer(is);
  } else if (w->role == kRoleDocument && doc && docwin_get_profile_issuer(doc)) {
    dnd_begin_issuer(docwin_get_profile_issuer(doc));
  } else if (w->role == kRoleDocument && doc && docwin_get_news_item(doc) && w->instrument) {
    dnd_begin_news(w->instrument, const_cast<ss_news *>(docwin_get_news_item(doc)));
  } else if (w->instrument) {
    dnd_begin_instr(w->instrument);
  } else {
    widget *list = window_get_content(w, kRoleWatchlist);
    scan *sc = w->role == kRoleWatchlist && watchlist_is(list) ? watchlist_get_scan(static_cast<watchlist *>(list)) : nullptr;
    if (!sc) return 0;
    dnd_begin_scan(sc);
  }
  if (d) d->w = self;
  return 1;
}

// A click on the issuer icon: today's latest news opens in the popup
// document; older news shows the issuer's announcements in the window.
void tb_release(widget *self, int32_t x, int32_t y, int button) {
  auto *t = static_cast<titlebar *>(self);
  window *w = owner(t);
  if (button != 1 || gui_dragging() || !w || !t->issuer || !over(t->issuer_hit, x, y)) return;
  const int n = screen_index_of(self);
  const bool pushed = n >= 0 && n != screen_current_index() && screen_push(n);
  screen_hide_gendtl();
  ss_issuer *is = t->issuer;
  ss_news *latest = is->news.tail;
  ss_exchange *ex = is->exchange;
  if (latest && ex && latest->time >= ssmodel_exchange_day_start(ex)) {
    screen_show_news_popup(is, latest, 0);
  } else {
    undo_push_window(w);
    window_set_role(w, kRoleHistnews);
  }
  if (pushed) screen_pop();
}

void tb_leave(widget *self) {
  if (screen_index_of(self) < 0 || !(screen_bars_shown() & BAR_GENDTL)) return;
  const int n = screen_index_of(self);
  const bool pushed = n != screen_current_index() && screen_push(n);
  screen_hide_gendtl();
  if (pushed) screen_pop();
}

bool inside(const rect &r, int32_t x) { return r.w > 0 && x >= r.x && x < r.x + r.w; }

// Over the quote-basis or the state text the general detail popup explains
// it, and over the issuer icon it lists the issuer's news of the day, below
// the bar from the part's right end; elsewhere it goes.
void hover_at(titlebar *t, int32_t x) {
  const ss_stock *s = t->stock;
  const rect *hit = nullptr;
  if (s && s->exchange && inside(t->basis_hit, x)) hit = &t->basis_hit;
  if (s && s->exchange && inside(t->state_hit, x)) hit = &t->state_hit;
  if (t->issuer && inside(t->issuer_hit, x)) hit = &t->issuer_hit;
  if (!hit) {
    screen_hide_gendtl();
    return;
  }
  screen_set_popup_anchor(hit->x - 3, t->r.y, hit->w + 6, t->r.h, kSideRight | kSideBelow);
  if (hit == &t->issuer_hit)
    screen_show_gendtl_range(hit->x + hit->w, t->r.y + t->r.h, t->issuer);
  else if (hit == &t->basis_hit)
    screen_show_gendtl_flags2(hit->x + hit->w, t->r.y + t->r.h, s->exchange->index, s->quote_basis & ~uint64_t{2});
  else
    screen_show_gendtl_value(hit->x + hit->w, t->r.y + t->r.h, s->state, s->resume_time);
}

void tb_motion(widget *self, int32_t x, int32_t) {
  if (gui_dragging()) return;
  hover_at(static_cast<titlebar *>(self), x);
}

void titlebar_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->motion = tb_motion;
  c->geometry_changed = tb_geometry_changed;
  c->reqsize = tb_reqsize;
  c->draw = tb_draw;
  c->restyle = tb_restyle;
  c->drag_begin = tb_drag_begin;
  c->release = tb_release;
  c->leave = tb_leave;
}

typeid_t register_titlebar() {
  return object_register_class("titlebar", widget_type(), sizeof(titlebar), tb_init, tb_fini, sizeof(widget_class),
                               titlebar_class_init, nullptr);
}

}  // namespace

typeid_t titlebar_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_titlebar);
}

titlebar *titlebar_new(widget *parent) { return static_cast<titlebar *>(widget_new(parent, titlebar_type())); }

void titlebar_set_instr(titlebar *t, instr *in) {
  drop_registrations(t);
  t->stock = nullptr;
  t->index = nullptr;
  t->issuer = nullptr;
  t->news_item = nullptr;
  t->text[0] = 0;
  if (in && in->kind == kKindStock) {
    t->stock = static_cast<ss_stock *>(in);
    t->issuer = in->exchange ? ssmodel_find_issuer(in->exchange, t->stock->issuer[0] ? t->stock->issuer : in->code)
                             : nullptr;
    ssnotify_add(in, kStockMask, on_change, t, 0, 0);
    if (t->issuer) ssnotify_add(t->issuer, kIssuerOfStockMask, on_change, t, 0, 0);
  } else if (in && in->kind == kKindIndex) {
    t->index = static_cast<ss_index *>(in);
    ssnotify_add(in, kIndexMask, on_change, t, 0, 0);
  } else if (in && in->kind == kKindIssuer) {
    t->issuer = static_cast<ss_issuer *>(in);
    ssnotify_add(in, kIssuerMask, on_change, t, 0, 0);
  }
  changed(t);
}

void titlebar_set_news_item(titlebar *t, instr *issuer, const ss_news *item) {
  titlebar_set_instr(t, issuer);
  t->news_item = issuer && issuer->kind == kKindIssuer ? item : nullptr;
  changed(t);
}

void titlebar_set_text(titlebar *t, const char *text) {
  titlebar_set_instr(t, nullptr);
  copy199(t->text, text);
  changed(t);
}

void titlebar_set_caption(titlebar *t, const char *text) {
  copy199(t->caption, text);
  changed(t);
}

void titlebar_clear_caption(titlebar *t) { titlebar_set_caption(t, ""); }

const char *titlebar_get_text(const titlebar *t) { return t->text; }

void titlebar_instr_name(char *dest, const instr *in, int long_only) {
  const char *name = in->code;
  if (!long_only && in->name1 && *in->name1)
    name = in->name1;
  else if (in->name2 && *in->name2)
    name = in->name2;
  copy199(dest, name);
  if (in->exchange && in->exchange->index == 0) {
    const char *venue = strstr(in->code, "_CX") ? " (CHI-X)" : strstr(in->code, "_PM") ? " (PureMatch)" : nullptr;
    if (venue && strlen(dest) + strlen(venue) <= kTitleText - 1) strcat(dest, venue);
  }
}

int32_t titlebar_height() {
  const style *st = style_cur();
  return (st ? st->line_height : 16) * 5 / 4;
}

int titlebar_shorten(const char *text, int32_t room, int32_t font) {
  char buf[kTitleText];
  copy199(buf, text);
  int n = static_cast<int>(strlen(buf));
  while (n > 0 && text_width(buf, font) > room) {
    char *blank = strrchr(buf, ' ');
    n = blank ? static_cast<int>(blank - buf) : 0;
    buf[n] = 0;
  }
  return n;
}

const char *titlebar_basis_text(const titlebar *t) {
  static char buf[32];
  basis_text(t, buf, sizeof buf);
  return buf;
}

const char *titlebar_state_text(const titlebar *t) {
  static char buf[32];
  state_text(t, buf, sizeof buf);
  return buf;
}
