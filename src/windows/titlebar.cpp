// The title bar. Its text is formatted after every change from what it
// shows, in order of precedence stock, issuer, index, else the text a role
// set; the draw measures with the atlas fonts, shortens the title a whole
// word at a time and drops the caption when both do not fit. The text is
// drawn straight each frame rather than kept in a drawing list: one line of
// a few dozen glyphs costs less to lay out than to track.
//
// Slots: geometry_changed, reqsize, draw, restyle, leave.
#include "windows/titlebar.h"

#include <cstdio>
#include <cstring>

#include "lib/font.h"
#include "lib/gfx.h"
#include "ssmodel.h"
#include "sscodes.h"
#include "ssnotify.h"
#include "ssstate.h"
#include "style.h"
#include "windows/window.h"

namespace {

constexpr uint32_t kWildMask = 0x44;  // names of instruments, exchange states
constexpr uint32_t kStockMask = 0xA4;
constexpr uint32_t kIssuerOfStockMask = 0x80000;
constexpr uint32_t kIndexMask = 0x4;
constexpr uint32_t kIssuerMask = 0x80004;
constexpr int32_t kGap = 6;

window *owner(const titlebar *t) {
  return t->parent && window_is(t->parent) ? static_cast<window *>(t->parent) : nullptr;
}

void copy199(char *dst, const char *src) {
  snprintf(dst, kTitleText, "%s", src ? src : "");
}

void format(titlebar *t) {
  window *w = owner(t);
  bool code_only = w && w->bar_mode == 3;
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

void on_change(const ss_change *, void *own, uint64_t, uint32_t) {
  auto *t = static_cast<titlebar *>(own);
  t->changes++;
  changed(t);
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
  if (name && *name) snprintf(out, cap < 30 ? cap : 30, "%s", name);
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

void tb_draw(widget *self) {
  auto *t = static_cast<titlebar *>(self);
  window *w = owner(t);
  const style *st = style_cur();
  colour bg = 0xff303030u, fg = 0xffffffffu;
  int32_t font = 0, line = 16;
  if (st) {
    bool focused = w && window_is_focused(w);
    bg = style_colour(st, focused ? SC_HEADER : SC_PANEL) | 0xff000000u;
    fg = style_colour(st, focused ? SC_HEADER_TEXT : SC_TEXT) | 0xff000000u;
    font = st->font[0];
    line = st->line_height;
  }
  const rect &r = self->r;
  gfx_fill_rect(r.x, r.y, r.w, r.h, bg);
  t->title_hit = t->caption_hit = t->state_hit = {r.x, r.y, 0, 0};
  t->relayout = 0;
  if (r.h < line * 5 / 4) {
    window_frame_child_default(self);
    return;
  }

  char state[32], basis[32];
  state_text(t, state, sizeof state);
  basis_text(t, basis, sizeof basis);
  int32_t state_w = *state ? text_width(state, font) : 0;
  int32_t basis_w = *basis ? text_width(basis, font) : 0;
  int32_t room = r.w - 12 - (state_w ? state_w + kGap : 0) - (basis_w ? basis_w + kGap : 0);
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
  if (caption) font_draw(t->caption, x, cy, 0x40, font, fg, &t->caption_hit);
  // From the right edge leftwards: the quote basis, then the state.
  int32_t right = r.x + r.w - 4;
  t->basis_hit = {right, r.y, 0, 0};
  if (basis_w) {
    font_draw(basis, right, cy, 0x41, font, fg, &t->basis_hit);
    right -= basis_w + kGap;
  }
  if (state_w) font_draw(state, right, cy, 0x41, font, fg, &t->state_hit);
  // The bottom line, and a top line when the window follows another.
  gfx_fill_rect(r.x, r.y + r.h - 1, r.w, 1, 0x32000000u);
  if (w && w->link) gfx_fill_rect(r.x, r.y, r.w, 1, 0x32000000u);
  window_frame_child_default(self);
}

void titlebar_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->geometry_changed = tb_geometry_changed;
  c->reqsize = tb_reqsize;
  c->draw = tb_draw;
  c->restyle = tb_restyle;
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
