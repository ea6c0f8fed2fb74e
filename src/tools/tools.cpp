// The tool-panel base class and the linked change. A panel is a bin whose one
// child is a transparent sizer around the controls its subclass builds; the
// base gives every panel the same look, the deferred refresh (one per redraw,
// on the after-draw promise list, with the panel as argument) and the hide on
// a right-button release. The design decision a reader needs first: a panel
// never keeps settings of its own; refresh always reads them back from the
// owner, so an undo of the owner's record only has to ask for a refresh.
//
// The linked-change set is one program-wide record: a panel's callback runs
// begin, pushes the undo group, applies and calls apply, all inside one
// callback with no event handling in between.
#include "tools/tools.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "lib/colour.h"
#include "lib/gfx.h"
#include "lib/scan.h"
#include "dalloc.h"
#include "log.h"
#include "screen/desktop.h"
#include "screen/screen.h"
#include "screen/tickbar.h"
#include "style.h"
#include "ui/button.h"
#include "ui/deck.h"
#include "ui/flyaway.h"
#include "ui/gui.h"
#include "ui/key.h"
#include "ui/label.h"
#include "ui/sizer.h"
#include "ui/spinner.h"
#include "ui/textbox.h"
#include "undo.h"
#include "windows/nuchart.h"
#include "windows/watchlist.h"
#include "windows/window.h"

static const char kSrc[] = "tools";

// Kinds of parent a panel can have.
enum { kParentOther = 0, kParentWindow = 1, kParentTickbar = 2 };

static struct {
  // The linked-change set.
  int32_t count;
  uint32_t role;
  widget *content[kToolsLinkMax];
  // Watchlists: the list each member shows, so one window per list is taken.
  scan *lists[kToolsLinkMax];
  wlist *sources[kToolsLinkMax];
  window *windows[kToolsLinkMax];  // the window of each member, for forget
  // Refresh-from-relayout guard, shared by every panel.
  uint8_t refreshing;
  // Panels alive, so an undo record of a deleted panel does nothing.
  std::vector<tools *> *live;
  object_type_cache type;
} T;

// ---- helpers ----------------------------------------------------------------

static const style *cur_style() { return style_cur(); }
static uint32_t panel_bg() {
  const style *s = cur_style();
  return s ? style_colour(s, SC_PANEL) | 0xff000000u : 0xff303030u;
}
static uint32_t flyaway_bg() {
  const style *s = cur_style();
  return s ? style_colour(s, SC_PANEL_LIGHT) | 0xff000000u : 0xff404040u;
}
static int32_t panel_font() {
  const style *s = cur_style();
  return s ? s->font[0] : 0;
}

static tools_class_rec *rec_of(widget *w) { return static_cast<tools_class_rec *>(w->cls); }

static int classify(widget *panel) {
  widget *p = panel->parent;
  if (window_is(p)) return kParentWindow;
  if (p && object_is_a(widget_obj(p), tickbar_type())) return kParentTickbar;
  log(LOG_ERROR, kSrc, "not expecting %s", p ? object_type_name(widget_obj(p)) : "nothing");
  return kParentOther;
}

window *tools_window_of(widget *w) {
  for (widget *p = w; p; p = p->parent)
    if (window_is(p)) return static_cast<window *>(p);
  return nullptr;
}

static bool alive(const widget *w) {
  if (!T.live) return false;
  for (tools *t : *T.live)
    if (t == w) return true;
  return false;
}

// Visits the descendants of w; where one is of `type`, fn runs on it and its
// own descendants are not visited.
struct visit_args {
  typeid_t type;
  void (*fn)(widget *w);
};
static void visit_one(widget *w, void *arg, int) {
  auto *a = static_cast<visit_args *>(arg);
  if (object_is_a(widget_obj(w), a->type)) {
    a->fn(w);
    return;
  }
  w->cls->apply_children(w, visit_one, arg, 0);
}
static void visit(widget *w, typeid_t type, void (*fn)(widget *)) {
  visit_args a{type, fn};
  w->cls->apply_children(w, visit_one, &a, 0);
}

static void set_button_look(widget *w) { button_set_image(static_cast<button *>(w), style_button_colours()); }
static void set_flyaway_font(widget *w) { flyaway_set_font(static_cast<flyaway *>(w), panel_font()); }
static void set_label_font(widget *w) { label_set_font(static_cast<label *>(w), panel_font()); }
static void set_textbox_font(widget *w) { textbox_set_font(static_cast<textbox *>(w), panel_font()); }
static void set_time_font(widget *w) { time_spinner_set_font(static_cast<time_spinner *>(w), panel_font()); }
static void set_flyaway_bg(widget *w) { flyaway_set_bg_all(static_cast<flyaway *>(w), flyaway_bg()); }
static void set_fbox_bg(widget *w) { container_set_bg(static_cast<container *>(w), panel_bg()); }
static void set_deck_bg(widget *w) { container_set_bg(static_cast<container *>(w), flyaway_bg()); }

// The colours of every flyaway, fbox and deck inside the panel.
static void apply_colours(tools *t) {
  container_set_bg(t, panel_bg());
  visit(t, flyaway_type(), set_flyaway_bg);
  visit(t, fbox_type(), set_fbox_bg);
  visit(t, deck_type(), set_deck_bg);
}

// ---- the deferred refresh ---------------------------------------------------

static void deferred(void *arg, int) {
  auto *t = static_cast<tools *>(arg);
  int kind = classify(t);
  if (!(t->flags & WIDGET_SHOWN)) return;
  rec_of(t)->refresh(t);
  if (kind == kParentWindow) window_update_title(static_cast<window *>(t->parent));
}

void tools_refresh_later(widget *panel) {
  if (panel && tools_is(panel)) gui_promise_after_draw(deferred, panel, 0);
}

void tools_refresh_now(widget *panel) {
  if (panel && tools_is(panel)) rec_of(panel)->refresh(static_cast<tools *>(panel));
}

// ---- the class operations ---------------------------------------------------

static const char *base_summary(tools *) { return ""; }
static void base_refresh(tools *) { log(LOG_FATAL, kSrc, "must override tools refresh method"); }
static widget *base_build(tools *) {
  log(LOG_FATAL, kSrc, "must override tools build method");
  return nullptr;
}

static const container_class *bin_rec() {
  return static_cast<const container_class *>(object_class_record(bin_type()));
}

static void t_relayout(widget *self) {
  bin_rec()->geometry_changed(self);
  if (T.refreshing || !(self->flags & WIDGET_SHOWN)) return;
  T.refreshing = 1;
  rec_of(self)->refresh(static_cast<tools *>(self));
  T.refreshing = 0;
}

// A closed section of a horizontal flyaway box is as tall as the box, so a
// panel whose sections are all closed would ask for no height at all: it
// asks for the height of its tallest section open, which any section then
// opens into.
struct tallest_args {
  int32_t h;
};
static void t_reqsize(widget *self, size *out) {
  bin_rec()->reqsize(self, out);
  struct local {
    static void visit_fly(widget *w, void *arg, int) {
      auto *a = static_cast<tallest_args *>(arg);
      if (object_is_a(widget_obj(w), flyaway_type())) {
        size open = flyaway_open_size(static_cast<flyaway *>(w));
        if (open.h > a->h) a->h = open.h;
        return;
      }
      w->cls->apply_children(w, visit_fly, arg, 0);
    }
  };
  tallest_args a{0};
  self->cls->apply_children(self, local::visit_fly, &a, 0);
  if (a.h > 0 && a.h + 5 > out->h) out->h = a.h + 5;  // the sizer's padding, 3 above and 2 below
}

// A window's panel draws the window's frame again round itself, then its
// fill and controls, then the frame's edge pieces beside it in its own
// colour.
static void t_draw(widget *self) {
  auto *t = static_cast<tools *>(self);
  int kind = self->parent && window_is(self->parent)   ? kParentWindow
             : self->parent && object_is_a(widget_obj(self->parent), tickbar_type()) ? kParentTickbar
                                                                                      : kParentOther;
  if (kind == kParentOther) log(LOG_ERROR, kSrc, "not expecting %s",
                                self->parent ? object_type_name(widget_obj(self->parent)) : "nothing");
  if (kind == kParentWindow) window_redraw_frame(self);
  gfx_fill_rect(self->r.x, self->r.y, self->r.w, self->r.h, panel_bg());
  widget *ch = t->child;
  if (ch && (ch->flags & WIDGET_SHOWN) && ch->r.w > 0 && ch->r.h > 0) widget_draw(ch);
  if (kind == kParentWindow) window_frame_child_colours(self, panel_bg(), panel_bg());
}

static void t_restyle(widget *self) {
  auto *t = static_cast<tools *>(self);
  visit(self, button_type(), set_button_look);
  visit(self, flyaway_type(), set_flyaway_font);
  visit(self, label_type(), set_label_font);
  visit(self, textbox_type(), set_textbox_font);
  visit(self, time_spinner_type(), set_time_font);
  apply_colours(t);
  bin_rec()->restyle(self);
  self->cls->geometry_changed(self);
}

// widget_show marked the panel itself shown before calling this.
static void t_show(widget *self) {
  bin_rec()->show_children(self);
  self->cls->geometry_changed(self);
  rec_of(self)->refresh(static_cast<tools *>(self));
  self->cls->restyle(self);
  tools_close_flyaways(self);
}

static void t_hide(widget *self) {
  gui_promise_cancel(deferred, self);
  bin_rec()->hide_children(self);
}

static void t_release(widget *self, int32_t, int32_t, int button_no) {
  int kind = classify(self);
  if (button_no == 2) {
    if (kind == kParentWindow) window_hide_tools(static_cast<window *>(self->parent));
    else if (kind == kParentTickbar) {
      screen *sc = screen_current();
      if (sc && sc->tickbar) tickbar_hide_tools(sc->tickbar);
    }
    return;
  }
  if (kind != kParentWindow) return;
  desktop *d = screen_current_desktop();
  if (d) desktop_set_focus(d, static_cast<window *>(self->parent));
}

static void t_init(object *o) {
  auto *t = reinterpret_cast<tools *>(o);
  if (!T.live) T.live = new std::vector<tools *>;
  T.live->push_back(t);
}

// A panel deleted while a refresh is queued must not be called back, and an
// undo record of it must not touch it: the finaliser drops both.
static void t_fini(object *o) {
  auto *t = reinterpret_cast<tools *>(o);
  gui_promise_cancel(deferred, t);
  if (!T.live) return;
  for (size_t i = 0; i < T.live->size(); i++)
    if ((*T.live)[i] == t) {
      T.live->erase(T.live->begin() + long(i));
      break;
    }
  if (T.live->empty()) {
    delete T.live;
    T.live = nullptr;
  }
}

static void t_class_init(object_class *rec) {
  auto *c = static_cast<tools_class_rec *>(rec);
  c->geometry_changed = t_relayout;
  c->reqsize = t_reqsize;
  c->draw = t_draw;
  c->restyle = t_restyle;
  c->show_children = t_show;
  c->hide_children = t_hide;
  c->release = t_release;
  c->summary = base_summary;
  c->refresh = base_refresh;
  c->build = base_build;
}

static typeid_t register_tools() {
  return object_register_class("tools", bin_type(), sizeof(tools), t_init, t_fini, sizeof(tools_class_rec),
                               t_class_init, nullptr);
}

typeid_t tools_class() { return object_cached_type(&T.type, register_tools); }

const tools_class_rec *tools_base() {
  return static_cast<const tools_class_rec *>(object_class_record(tools_class()));
}

// ---- the undo record of a panel (type 42) -----------------------------------
//
// A panel reads its settings back from its owner, whose own record (pushed
// beside this one) restores them; undoing the panel's record refreshes it
// and its window's title after the next redraw. A panel deleted since then
// is left alone.

static void *undo_save(void *object) {
  auto **p = static_cast<widget **>(dalloc_alloc(sizeof(widget *)));
  *p = static_cast<widget *>(object);
  return p;
}
static int undo_restore(void *saved, void *) {
  widget *panel = *static_cast<widget **>(saved);
  if (!alive(panel)) return -1;
  tools_refresh_later(panel);
  // The title names the settings whether the panel is shown or not; the
  // owner's record, pushed after this one, was restored before it.
  if (window_is(panel->parent)) window_update_title(static_cast<window *>(panel->parent));
  return 0;
}
static void undo_release(void *saved, int) { dalloc_free(saved); }
static const undo_record_ops kToolsUndo = {undo_save, undo_restore, undo_release};

// ---- setup and the small services ---------------------------------------------

// The entry look of every text box of a panel: (fill, border, text) for the
// plain, focused and read-only states, from the style's entry colours.
static void entry_style(int32_t out[kTextboxStyle]) {
  const style *s = cur_style();
  uint32_t entry = s ? style_colour(s, SC_GRID_BACKGROUND) | 0xff000000u : 0xff202020u;
  uint32_t border = s ? style_colour(s, SC_OUTLINE) | 0xff000000u : 0xff808080u;
  uint32_t text = 0xffffffffu;
  int32_t v[kTextboxStyle] = {64, panel_font(), -1,
                              int32_t(colour_lighten(entry, 60)), int32_t(colour_darken(border, 30)), int32_t(text),
                              int32_t(colour_lighten(entry, 110)), int32_t(colour_darken(border, 30)), int32_t(text),
                              int32_t(colour_lighten(entry, 20)), int32_t(colour_darken(entry, 30)), int32_t(text)};
  memcpy(out, v, sizeof v);
}

static void set_entry_look(widget *w) {
  auto *t = static_cast<textbox *>(w);
  entry_style(t->style);
  padding_set(&t->pad, 4, 4, 4, 4);
  t->text_changed = 1;
}

void tools_setup(tools *panel, uint32_t sizer_flags, widget *owner) {
  if (undo_type_ops(UNDO_TOOLS) != &kToolsUndo) undo_register_type(UNDO_TOOLS, &kToolsUndo);
  panel->owner = owner;
  panel->flags |= WIDGET_KEEP_POINTER;
  padding pad;
  padding_set(&pad, 3, 2, 2, 2);
  sizer *sz = sizer_new(panel, sizer_flags, nullptr, &pad, 0.0f);
  if (sz) {
    static_cast<widget *>(sz)->flags |= WIDGET_TRANSPARENT;  // not the sizer's own flags
    widget *root = rec_of(panel)->build(panel);
    if (root && root->parent != sz) {
      if (root->parent) container_cls(static_cast<container *>(root->parent))->remove(
          static_cast<container *>(root->parent), root);
      container_cls(sz)->add(sz, root);
    }
  }
  visit(panel, textbox_type(), set_entry_look);
  apply_colours(panel);
  tools_refresh_later(panel);
}

const char *tools_summary(widget *panel) {
  if (!panel || !tools_is(panel)) return "";
  const char *s = rec_of(panel)->summary(static_cast<tools *>(panel));
  return s ? s : "";
}

void tools_hide_panel(widget *panel) {
  int kind = classify(panel);
  if (kind == kParentWindow) {
    window_hide_tools(static_cast<window *>(panel->parent));
  } else if (kind == kParentTickbar) {
    screen *sc = screen_current();
    if (sc && sc->tickbar) tickbar_hide_tools(sc->tickbar);
  }
}

static void close_one(widget *w) { flyaway_close(static_cast<flyaway *>(w)); }
void tools_close_flyaways(widget *w) {
  if (!w) return;
  if (object_is_a(widget_obj(w), flyaway_type())) {
    close_one(w);
    return;
  }
  visit(w, flyaway_type(), close_one);
}

// ---- the panels' small day chart ---------------------------------------------------

nuchart *tools_day_chart(uint32_t background, const int32_t *overlays, int n, uint32_t options,
                         void (*fn)(nuchart *chart, ss_time time, void *arg, int n), void *arg) {
  widget *w = nuchart_new(nullptr);
  if (!w) return nullptr;
  nuchart *c = nuchart_cast(w);
  nuchart_set_range(c, 5, 1);   // one day
  nuchart_set_period(c, 9, 1);  // every sample
  nuchart_set_type(c, 16);      // step line
  nuchart_set_background(c, background);
  nuchart_clear_overlays(c);
  for (int i = 0; i < n; i++) nuchart_add_overlay(c, overlays[i], nullptr);
  nuchart_clear_indicators(c);
  nuchart_set_options(c, options);
  nuchart_set_times(c, -1, 0, 5, 0);
  nuchart_set_client_callback(c, fn, arg, 0);
  return c;
}

// ---- the linked change --------------------------------------------------------

static scan *list_of(widget *content) {
  return watchlist_is(content) ? watchlist_get_list(static_cast<watchlist *>(content)) : nullptr;
}

// Two watchlist windows show one list when they hold the same scan, or
// copies of the same source watchlist (each window keeps its own copy).
static bool same_list(scan *a, wlist *asrc, scan *b, wlist *bsrc) {
  return a == b || (asrc && asrc == bsrc);
}

void tools_link_begin(widget *content, uint32_t role) {
  T.count = 0;
  T.role = role;
  if (!content) return;
  T.content[0] = content;
  T.lists[0] = list_of(content);
  T.sources[0] = T.lists[0] ? T.lists[0]->source : nullptr;
  window *own = tools_window_of(content);
  T.windows[0] = own;
  T.count = 1;
  if (!(key_modifiers() & KEY_MOD_SHIFT) || !own) return;
  desktop *d = desktop_of_self(content);
  if (!d) return;
  scan *src_list = T.lists[0];
  bool src_fixed = src_list && src_list->fixed;
  desktop_map_begin(d);
  int seen = 0;
  for (window *w = desktop_map_next(); w && seen < kToolsLinkMax; w = desktop_map_next(), seen++) {
    if (w == own || window_get_role(w) != role) continue;
    widget *c = window_get_content(w, role);
    if (!c || T.count >= kToolsLinkMax) continue;
    scan *l = nullptr;
    wlist *src = nullptr;
    if (role == kRoleWatchlist) {
      l = list_of(c);
      if (!l) continue;
      src = l->source;
      if (same_list(l, src, src_list, T.sources[0])) continue;
      if (l->fixed && !src_fixed) continue;
      bool taken = false;
      for (int32_t i = 1; i < T.count && !taken; i++) taken = same_list(l, src, T.lists[i], T.sources[i]);
      if (taken) continue;
    }
    T.content[T.count] = c;
    T.lists[T.count] = l;
    T.sources[T.count] = src;
    T.windows[T.count] = w;
    T.count++;
  }
  desktop_map_end();
}

int32_t tools_link_count() { return T.count; }
widget *tools_link_content(int32_t i) { return i >= 0 && i < T.count ? T.content[i] : nullptr; }
uint32_t tools_link_role() { return T.role; }

void tools_link_push_undo(int (*push)(widget *content)) {
  for (int32_t i = 0; i < T.count; i++) {
    window *w = T.windows[i];
    if (w) undo_push_window_tools(w, T.role);
    if (push) push(T.content[i]);
  }
}

void tools_link_apply() {
  for (int32_t i = 0; i < T.count; i++) {
    widget *c = T.content[i];
    window *w = T.windows[i];
    if (!w) continue;
    widget *panel = window_get_tools(w, T.role);
    if (panel && tools_is(panel) && (panel->flags & WIDGET_SHOWN)) tools_refresh_now(panel);
    if (T.role == kRoleWatchlist) {
      scan *s = list_of(c);
      if (s) scan_refresh_now(s);
    }
    window_update_title(w);
  }
}

void tools_link_forget(widget *win) {
  int32_t k = 0;
  for (int32_t i = 0; i < T.count; i++) {
    if (static_cast<widget *>(T.windows[i]) == win) continue;
    T.content[k] = T.content[i];
    T.windows[k] = T.windows[i];
    T.lists[k] = T.lists[i];
    T.sources[k] = T.sources[i];
    k++;
  }
  T.count = k;
}

// ---- typed decimals -------------------------------------------------------------
//
// The text is read as digits, never through a double, so 1.255 is exactly
// 1.255 and rounds half up to 126 hundredths; a value too large for the
// range is clamped to it rather than converted.

static int parse_scaled(const char *text, int places, uint64_t max, uint64_t *out) {
  if (!text) return 1;
  while (*text == ' ') text++;
  if (!*text) return 1;
  char digits[64];
  int nd = 0, point = -1, exp10 = 0;
  bool any = false, overflow = false;
  const char *p = text;
  if (*p == '+') p++;
  for (; *p; p++) {
    if (*p >= '0' && *p <= '9') {
      any = true;
      if (nd == 0 && *p == '0' && point < 0) continue;  // leading zeros
      if (nd < int(sizeof digits)) digits[nd++] = *p;
      else if (point < 0) exp10++;  // more integer digits than kept: scale up
    } else if (*p == '.' && point < 0) {
      point = nd;
    } else {
      break;
    }
  }
  if (!any) return -1;
  // Exponent (e.g. 1e30), then one magnitude letter, then nothing else.
  if (*p == 'e' || *p == 'E') {
    const char *q = p + 1;
    int sign = 1;
    if (*q == '+' || *q == '-') sign = *q++ == '-' ? -1 : 1;
    if (*q < '0' || *q > '9') return -1;
    int e = 0;
    for (; *q >= '0' && *q <= '9'; q++) e = e < 1000 ? e * 10 + (*q - '0') : e;
    exp10 += sign * e;
    p = q;
  }
  switch (*p) {
    case 'k': case 'K': case 't': case 'T': exp10 += 3; p++; break;
    case 'm': case 'M': exp10 += 6; p++; break;
    case 'b': case 'B': exp10 += 9; p++; break;
    default: break;
  }
  while (*p == ' ') p++;
  if (*p) return -1;
  if (point < 0) point = nd;
  // value = 0.digits * 10^(point) * 10^exp10; wanted: round(value * 10^places).
  int whole = point + exp10 + places;  // digits before the unit point
  uint64_t v = 0;
  for (int i = 0; i < whole && !overflow; i++) {
    int d = i < nd ? digits[i] - '0' : 0;
    if (v > (UINT64_MAX - 9) / 10) overflow = true;
    else v = v * 10 + uint64_t(d);
    if (v > max) overflow = true;
  }
  if (overflow) {
    *out = max;
    return 0;
  }
  int next = whole < 0 ? -1 : whole;  // the first dropped digit
  if (whole >= 0 && next < nd && digits[next] >= '5') v++;
  *out = v > max ? max : v;
  return 0;
}

int tools_parse_cents(const char *text, uint64_t max, uint64_t *out) { return parse_scaled(text, 2, max, out); }
int tools_parse_count(const char *text, uint64_t max, uint64_t *out) { return parse_scaled(text, 0, max, out); }
