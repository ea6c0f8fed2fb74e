// Placement of the screen's floating windows. The arithmetic is kept in pure
// functions over rectangles (tested by tables); the screen operations below
// them read the current screen, the style's line height U and the pointer,
// call the arithmetic, give the widget its rectangle and show its bar.
// The margin kept from the screen's edges is m = U/2.
#include "popups/place.h"

#include <algorithm>

#include "log.h"
#include "screen/gendtl.h"
#include "screen/groupbar.h"
#include "screen/screen.h"
#include "screen/splitter.h"
#include "screen/ticker.h"
#include "ssmodel.h"
#include "style.h"
#include "ui/gui.h"
#include "undo.h"
#include "windows/docwin.h"
#include "windows/watchlist.h"
#include "windows/window.h"

namespace {

struct {
  rect anchor = {-1, 0, 0, 0};
  uint32_t side = 1;
  bool gendtl_at_mouse = false;
  bool document_waiting = false;
  void (*pointer)(int32_t *x, int32_t *y) = nullptr;
} S;

int32_t line_u() {
  const style *st = style_cur();
  return st && st->line_height > 0 ? st->line_height : 16;
}

void pointer(int32_t *x, int32_t *y) {
  if (S.pointer) {
    S.pointer(x, y);
    return;
  }
  int win;
  gui_mouse(&win, x, y);
}

// The screen's rectangle in its own OS window: the screen widget fills it.
rect screen_rect(const screen *s) { return {0, 0, s->r.w, s->r.h}; }

size requested(widget *w) {
  size z = {0, 0};
  if (w && w->cls->reqsize) w->cls->reqsize(w, &z);
  return z;
}

void take_rect(widget *w, const rect &r) {
  w->r = r;
  w->cls->geometry_changed(w);
}

void invalidate(screen *s) {
  if (s->os_window != -1) gui_invalidate_window(s->os_window);
}

}  // namespace

// ---- pure placement ----

void place_by_anchor(const rect &a, uint32_t side, int32_t mx, int32_t my, const rect &os, int32_t pw,
                     int32_t ph, int32_t *x, int32_t *y) {
  const int32_t RR = os.x + os.w, RB = os.y + os.h;
  const uint32_t hs = side & 0xF, vs = side & 0xF0;
  int32_t px;
  if (hs == kSideRight) {
    if (a.x + a.w - 2 + pw >= RR)
      px = std::max(0, a.x - pw + 2);
    else if (a.x + a.w - 2 + pw + 12 < RR && a.x + a.w - 2 < mx + 12)
      px = mx + 12;
    else
      px = a.x + a.w - 2;
  } else if (hs == kSideLeft) {
    if (a.x - pw > -3) {
      if (a.x - pw + 2 >= 5 && a.x + 2 > mx - 4)
        px = mx - 4 - pw;
      else
        px = a.x - pw + 2;
    } else {
      px = a.x + a.w - 2 + pw >= RR ? RR - 1 - pw : a.x + a.w - 2;
    }
  } else {
    px = mx - pw / 2;
    if (px < 0) px = 0;
    if (px + pw >= RR) px = RR - 1 - pw;
  }
  int32_t py;
  if (vs == kSideBelow) {
    if (a.y + a.h - 2 + ph < RB) {
      py = a.y + a.h + 6 + ph < RB && a.y + a.h - 2 < my + 8 ? my + 8 : a.y + a.h - 2;
    } else {
      py = hs == kSideCentre ? a.y + 2 - ph : std::max(0, RB - 1 - ph);
    }
  } else if (vs == kSideAbove) {
    if (a.y - ph > -3) {
      py = a.y - ph + 2 >= 5 && a.y + 2 > my - 4 ? my - 4 - ph : a.y - ph + 2;
    } else {
      py = hs == kSideCentre ? a.y + a.h - 2 : 0;
    }
  } else {
    py = my;
    if (py + ph >= RB) py = hs == kSideCentre ? a.y + 2 - ph : std::max(0, RB - 1 - ph);
  }
  *x = px;
  *y = py;
}

size place_hover_min(int32_t ow, int32_t oh, int32_t u) {
  int32_t h0 = std::min(oh / 2, 25 * u);
  int32_t w0 = std::min(ow / 2, h0 * 144 / 100);
  return {w0, h0};
}

void place_hover_free(int32_t *x, int32_t *y, int32_t pw, int32_t ph, int32_t flip_x, int32_t flip_y,
                      const rect &os, const rect &scr, int32_t m) {
  int32_t px = *x, py = *y;
  if (px < 0) px = -px - pw;
  if (py < 0) py = -py - ph;
  if (flip_x >= 0 && px + pw > os.x + os.w - m - 1) px = flip_x - pw;
  if (flip_y >= 0 && py + ph > os.y + os.h - m - 1) py = flip_y - ph;
  const int32_t SR = scr.x + scr.w - 1, SB = scr.y + scr.h - 1;
  // The far limit first, then the near one: a popup wider than the screen
  // keeps its left edge on the margin.
  px = std::max(std::min(px, SR - m - pw), m);
  py = std::max(std::min(py, SB - m - ph), m);
  *x = px;
  *y = py;
}

void place_gendtl_free(int32_t *x, int32_t *y, int32_t gw, int32_t gh, const rect &scr, int32_t m,
                       bool *at_mouse) {
  const int32_t SR = scr.x + scr.w - 1;
  int32_t px = std::max(*x, m);
  if (px + gw > SR - m) px = px - 2 * m - gw;
  if (at_mouse && *at_mouse && *y > gh + 2) {
    *y = *y - 2 - gh;
    *at_mouse = false;
  }
  *x = px;
}

void place_depthdtl_free(int32_t *x, int32_t gw, const rect &scr, int32_t m) {
  const int32_t SR = scr.x + scr.w - 1;
  int32_t px = std::max(*x, m);
  if (px + gw > SR - m) px = px - 2 * m - gw;
  *x = px;
}

void place_clamp_inside(int32_t *x, int32_t *y, int32_t gw, int32_t gh, const rect &scr, int32_t m) {
  const int32_t SR = scr.x + scr.w - 1, SB = scr.y + scr.h - 1;
  int32_t px = std::max(m, *x), py = std::max(m, *y);
  if (px + gw > SR - m) px = SR - gw - m;
  if (py + gh > SB - m) py = SB - gh - m;
  *x = px;
  *y = py;
}

rect place_quote_popwin(int32_t x, int32_t y, const rect &scr, const rect &desk, int32_t u) {
  const int32_t qh = std::min(scr.h / 2, 25 * u), qw = std::min(scr.w / 2, qh * 144 / 100);
  const int32_t SR = scr.x + scr.w - 1, SB = scr.y + scr.h - 1;
  if (x == 0 && y == 0) {
    x = desk.x + u / 2;
    y = desk.y + u / 2;
  }
  x = std::max(x, u / 2);
  if (x + qw > SR - u / 2) x = SR - (qw + u / 2);
  y = std::max(y, u / 2);
  if (y + qh > SB - u / 2) y = SB - (qh + u / 2);
  return {x, y, qw, qh};
}

rect place_quick_default(const rect &d) { return {d.x + d.w / 4, d.y + d.h / 4, d.w / 2, d.h / 2}; }

doc_place_out place_popup_document(const doc_place_in &in) {
  doc_place_out out = {in.current, false, false};
  const rect &s = in.scr, &d = in.desk0;
  if (s.w <= 0 || s.h <= 0) return out;
  const rect &c = in.current;
  if (c.w > 0 && c.h > 0 && c.x >= 0 && c.x <= s.x + s.w - 12 && c.y >= 0 && c.y <= s.y + s.h - 12)
    return out;  // only clamped and laid out by the caller
  const int32_t g = in.gap / 2;
  const int32_t bottom = std::min(s.y + s.h - g - 1, d.y + d.h + g - 1);
  const int32_t right = std::min(s.x + s.w - g - 1, d.x + d.w + g - 1);
  const int32_t AH = bottom - std::max(d.y - g, g), AW = right - std::max(d.x - g, g);
  const int64_t pw = in.page_w, ph = in.page_h;
  int64_t w = 0, h = 0;
  if (in.orientation == kDocLandscape) {
    h = pw < 1 ? int64_t(AW) * 10000 / 14142 : ph * AW / pw;
    h += in.tools_h;
    h = std::min<int64_t>(h, int64_t(AH) * 4 / 5);
    // Fitting to width with the page height not yet known (0) would divide
    // by zero: the A4 ratio stands in there too.
    if (in.fit_width)
      w = ph < 1 ? h * 14142 / 10000 : pw * h / ph;
    else
      w = AW;
    w = std::min<int64_t>(w, AW - 4 * g);
  } else if (in.orientation == kDocPortrait || in.orientation == kDocOrientUnknown) {
    if (in.orientation == kDocOrientUnknown && in.has_document) out.waiting = true;
    const int64_t byh = ph < 1 ? int64_t(AH) * 10000 / 14142 : pw * AH / ph;
    w = byh;
    if (AH < 800) w = w * 4 / 3;
    w = std::min<int64_t>(int64_t(AW) * 3 / 4, w);
    if (in.fit_width) w = byh;
    h = AH;
  }
  if (out.waiting) return out;
  const bool sized = c.w > 0 && c.h > 0;
  const int32_t cx = sized ? c.x + c.w / 2 : d.x + d.w / 2;
  const int32_t cy = sized ? c.y + c.h / 2 : d.y + d.h / 2;
  rect r = {int32_t(cx - w / 2), int32_t(cy - h / 2), int32_t(w), int32_t(h)};
  r.x = std::min(std::max(r.x, 0), s.x + s.w - 21);
  r.y = std::min(std::max(r.y, 0), s.y + s.h - 21);
  if (in.force || !sized) {
    out.r = r;
    out.take = true;
  }
  return out;
}

// ---- the anchor ----

void screen_set_popup_anchor(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t side) {
  S.anchor = {x, y, w, h};
  S.side = side;
}

bool screen_popup_anchor_set() { return S.anchor.x >= 0; }

bool screen_popup_position(int32_t *x, int32_t *y, size sz) {
  if (S.anchor.x < 0) return false;
  screen *s = screen_current();
  rect os = s ? screen_rect(s) : rect{0, 0, 1 << 20, 1 << 20};
  int32_t mx = 0, my = 0;
  pointer(&mx, &my);
  place_by_anchor(S.anchor, S.side, mx, my, os, sz.w, sz.h, x, y);
  S.anchor.x = -1;
  return true;
}

void place_set_pointer_query(void (*fn)(int32_t *x, int32_t *y)) { S.pointer = fn; }

// ---- hover popup ----

void screen_place_popup(int32_t x, int32_t y) { screen_place_popup_ex(x, y, -1, -1, -1, -1, 0); }

void screen_place_popup_ex(int32_t x, int32_t y, int32_t flip_x, int32_t flip_y, int32_t width,
                           int32_t height, uint32_t bar_mode) {
  screen *s = screen_current();
  window *p = s ? s->hover_window : nullptr;
  if (!p) return;
  const rect os = screen_rect(s);
  const int32_t m = line_u() / 2;
  size z = requested(p);
  size least = place_hover_min(os.w, os.h, line_u());
  z.w = std::max(z.w, least.w);
  z.h = std::max(z.h, least.h);
  if (width >= 0) z.w = width;
  if (height >= 0) z.h = height;
  if (!screen_popup_position(&x, &y, z)) place_hover_free(&x, &y, z.w, z.h, flip_x, flip_y, os, os, m);
  const rect r = {x, y, z.w, z.h};
  const bool same = (s->bars & BAR_HOVER) && window_get_bar_mode(p) == bar_mode && !p->show_tools &&
                    p->r.x == r.x && p->r.y == r.y && p->r.w == r.w && p->r.h == r.h;
  if (!same) {
    window_set_bar_mode(p, bar_mode);
    if (p->show_tools) window_hide_tools(p);
    take_rect(p, r);
    screen_show_bars_ex(BAR_HOVER, 0);
  }
  invalidate(s);
}

void screen_hide_popup() { screen_hide_bars_ex(BAR_HOVER, 0); }

// ---- depth detail ----

bool screen_depthdtl_owner_is(const widget *w) {
  screen *s = screen_current();
  return s && w && s->depthdtl_owner == w;
}

void screen_place_depthdtl(widget *owner, int32_t x, int32_t y) {
  screen *s = screen_current();
  if (!s || !s->depthdtl) return;
  s->depthdtl_owner = owner;
  const rect os = screen_rect(s);
  const int32_t m = line_u() / 2;
  size z = requested(s->depthdtl);
  z.h = std::min(z.h, os.h);
  if (!screen_popup_position(&x, &y, z)) place_depthdtl_free(&x, z.w, os, m);
  take_rect(s->depthdtl, {x, y, z.w, z.h});
  screen_show_bars_ex(BAR_DEPTHDTL, 0);
  invalidate(s);
}

void screen_relayout_depthdtl() {
  screen *s = screen_current();
  if (!s || !s->depthdtl) return;
  size z = requested(s->depthdtl);
  z.h = std::min(z.h, s->r.h);
  take_rect(s->depthdtl, {s->depthdtl->r.x, s->depthdtl->r.y, z.w, z.h});
  if (s->bars & BAR_DEPTHDTL) gui_recheck_hover();
  invalidate(s);
}

void screen_hide_depthdtl() {
  screen *s = screen_current();
  if (!s) return;
  s->depthdtl_owner = nullptr;
  screen_hide_bars_ex(BAR_DEPTHDTL, 0);
}

// ---- general detail ----

void screen_popup_at_mouse() { S.gendtl_at_mouse = true; }
bool screen_gendtl_at_mouse() { return S.gendtl_at_mouse; }

void screen_place_gendtl(int32_t x, int32_t y) {
  screen *s = screen_current();
  if (!s || !s->gendtl) return;
  const rect os = screen_rect(s);
  size z = requested(s->gendtl);
  if (!screen_popup_position(&x, &y, z)) place_gendtl_free(&x, &y, z.w, z.h, os, line_u() / 2, &S.gendtl_at_mouse);
  take_rect(s->gendtl, {x, y, z.w, z.h});
  screen_show_bars_ex(BAR_GENDTL, 0);
  invalidate(s);
}

void screen_hide_gendtl() { screen_hide_bars_ex(BAR_GENDTL, 0); }

static widget *current_gendtl() {
  screen *s = screen_current();
  return s ? s->gendtl : nullptr;
}
static ss_stock *stock_of(instr *in) {
  return in && in->kind == kKindStock ? static_cast<ss_stock *>(in) : nullptr;
}

void screen_show_gendtl_flags(int32_t x, int32_t y, uint32_t flag_set, const char *code, uint64_t mask) {
  if (widget *g = current_gendtl()) {
    gendtl_fill_flags(g, flag_set, code, mask);
    screen_place_gendtl(x, y);
  }
}
void screen_show_gendtl_flags2(int32_t x, int32_t y, uint32_t flag_set, uint64_t mask) {
  if (widget *g = current_gendtl()) {
    gendtl_fill_flags2(g, flag_set, mask);
    screen_place_gendtl(x, y);
  }
}
void screen_show_gendtl_value(int32_t x, int32_t y, uint32_t state, uint32_t resume) {
  if (widget *g = current_gendtl()) {
    gendtl_fill_value(g, state, resume);
    screen_place_gendtl(x, y);
  }
}
void screen_show_gendtl_range(int32_t x, int32_t y, instr *in) {
  if (widget *g = current_gendtl()) {
    gendtl_fill_today_news(g, in);
    screen_place_gendtl(x, y);
  }
}
void screen_show_gendtl_range2(int32_t x, int32_t y, instr *in, uint32_t from, uint32_t to) {
  if (widget *g = current_gendtl()) {
    gendtl_fill_range(g, in, from, to);
    screen_place_gendtl(x, y);
  }
}
void screen_show_gendtl_volume(int32_t x, int32_t y, instr *in) {
  widget *g = current_gendtl();
  if (g && stock_of(in)) {
    gendtl_fill_volume(g, stock_of(in));
    screen_place_gendtl(x, y);
  }
}
void screen_show_gendtl_auction(int32_t x, int32_t y, instr *in) {
  widget *g = current_gendtl();
  if (g && stock_of(in)) {
    gendtl_fill_stock_auction(g, stock_of(in));
    screen_place_gendtl(x, y);
  }
}
void screen_show_gendtl_auction2(int32_t x, int32_t y, instr *in, uint32_t price, uint64_t volume) {
  widget *g = current_gendtl();
  if (g && stock_of(in)) {
    const gendtl_last o = {price, volume};
    gendtl_fill_auction(g, stock_of(in), &stock_of(in)->auction, &o);
    screen_place_gendtl(x, y);
  }
}

// ---- group bar ----

void screen_place_groupbar_at(int32_t x, int32_t y) {
  screen *s = screen_current();
  if (!s || !s->groupbar) return;
  size z = requested(s->groupbar);
  place_clamp_inside(&x, &y, z.w, z.h, screen_rect(s), line_u() / 2);
  take_rect(s->groupbar, {x, y, z.w, z.h});
  screen_show_bars_ex(BAR_GROUPBAR, 0);
  invalidate(s);
}

void screen_show_groupbar_a(widget *w, int32_t x, int32_t y) {
  screen *s = screen_current();
  if (!s || !s->groupbar) return;
  groupbar_set_target_list(s->groupbar, static_cast<watchlist *>(w));
  screen_place_groupbar_at(x, y);
}

void screen_show_groupbar_b(widget *t, int32_t x, int32_t y) {
  screen *s = screen_current();
  if (!s || !s->groupbar) return;
  groupbar_set_target_ticker(s->groupbar, static_cast<ticker *>(t));
  screen_place_groupbar_at(x, y);
}

void screen_show_groupbar_c(widget *n, int32_t x, int32_t y) {
  screen *s = screen_current();
  if (!s || !s->groupbar) return;
  groupbar_set_target_news(s->groupbar, n);
  screen_place_groupbar_at(x, y);
}

void screen_place_groupbar() {
  screen *s = screen_current();
  if (s && s->groupbar) screen_place_groupbar_at(s->groupbar->r.x, s->groupbar->r.y);
}

// ---- quote pop window ----

void screen_show_quote_popwin(int32_t x, int32_t y) {
  screen *s = screen_current();
  if (!s || !s->quote_popwin) return;
  desktop *d = s->desktops[s->current_desktop];
  const rect desk = d ? d->r : screen_rect(s);
  take_rect(s->quote_popwin, place_quote_popwin(x, y, screen_rect(s), desk, line_u()));
  screen_show_bars_ex(BAR_QUOTE_POPWIN, 0);
  invalidate(s);
}

void screen_hide_quote_popwin() { screen_hide_bars_ex(BAR_QUOTE_POPWIN, 0); }

// ---- popup document ----

bool screen_document_waiting() { return S.document_waiting; }

static widget *document_view(window *w) { return w ? window_get_content(w, kRoleDocument) : nullptr; }

void screen_place_popup_document(int force) {
  screen *s = screen_current();
  window *p = s ? s->popup_document : nullptr;
  if (!p || s->r.w <= 0 || s->r.h <= 0) return;
  widget *view = document_view(p);
  doc_place_in in = {};
  in.scr = screen_rect(s);
  in.desk0 = s->desktops[0] ? s->desktops[0]->r : in.scr;
  in.gap = splitter_gap();
  in.current = p->r;
  if (view) {
    docwin_get_page_size(view, &in.page_w, &in.page_h);
    in.has_document = docwin_has_document(view) != 0;
    in.fit_width = docwin_fit_is_width(view);
    // The shape is known once a page size has arrived.
    in.orientation = in.page_w < 1 || in.page_h < 1 ? kDocOrientUnknown
                     : docwin_is_landscape(view)      ? kDocLandscape
                                                      : kDocPortrait;
  }
  widget *tools = p->show_tools ? window_get_current_tools(p) : nullptr;
  in.tools_h = tools ? requested(tools).h : 0;
  in.force = force != 0;
  doc_place_out out = place_popup_document(in);
  S.document_waiting = out.waiting;
  if (out.take) p->r = out.r;
  gui_clamp_widget_to_window(p);
  p->cls->geometry_changed(p);
}

void screen_relayout_popup_document() {
  screen *s = screen_current();
  if (!s || !s->popup_document || !(s->bars & BAR_POPUP_DOCUMENT)) return;
  screen_place_popup_document(1);
  invalidate(s);
}

void screen_reshow_popup_document() {
  screen *s = screen_current();
  if (!s || !s->popup_document) return;
  screen_place_popup_document(1);
  screen_show_bars_ex(BAR_POPUP_DOCUMENT, 0);
  s->front_popup = BAR_POPUP_DOCUMENT;
  invalidate(s);
}

// Undo keeps the present content of a shown popup document, or its opening.
static void record_document(screen *s, window *p) {
  undo_begin();
  if (s->bars & BAR_POPUP_DOCUMENT)
    undo_push_window(p);
  else
    undo_push_document_shown();
  undo_end();
}

static void show_document(screen *s, window *p, int32_t page) {
  widget *view = document_view(p);
  if (view && page != 0) docwin_goto_page(view, page);
  window_set_bar_mode(p, 1);
  screen_place_popup_document(1);
  screen_hide_gendtl();
  screen_show_bars_ex(BAR_POPUP_DOCUMENT, 0);
  s->front_popup = BAR_POPUP_DOCUMENT;
  invalidate(s);
}

void screen_show_news_popup(instr *in, const void *news_item, int32_t page) {
  screen *s = screen_current();
  window *p = s ? s->popup_document : nullptr;
  if (!p || !news_item) return;
  record_document(s, p);
  window_show_news_item(p, in, static_cast<const ss_news *>(news_item));
  show_document(s, p, page);
  if (widget *view = document_view(p)) gui_set_focus(view);
}

void screen_show_profile_popup(instr *in, int32_t page) {
  screen *s = screen_current();
  window *p = s ? s->popup_document : nullptr;
  if (!p || !in) return;
  record_document(s, p);
  if (widget *view = document_view(p)) docwin_show_profile(view, in);
  window_set_instrument(p, in);
  window_set_role(p, kRoleDocument);
  show_document(s, p, page);
  gui_set_focus(p);
}

void screen_hide_popup_document() {
  screen *s = screen_current();
  if (!s) return;
  screen_hide_bars_ex(BAR_POPUP_DOCUMENT, 0);
  s->front_popup = (s->bars & BAR_QUICK) ? uint32_t(BAR_QUICK) : 0u;
}
