// The chart widget: binding, the settings setters, styles, marks and
// the class's drawing slots. A setter never computes: it stores the value,
// ORs bits into the data block's change mask (chart_plot::dirty) and queues
// a redraw; the draw runs chart update, which reads and clears the mask, and
// then paints. The class's first use makes the chart pools, the analysis
// registry, the live list and the colour table, and fills the hook tables
// through which chart update, chart styles and painting reach the widget,
// its window and the visual style. Pointer and keys: nuchart_input.cpp;
// the export: nuchart_export.cpp.
//
// Slots: geometry_changed, reqsize, draw, restyle, show_children,
// hide_children; drag_begin, drag_motion, drag_release, release, motion,
// enter, leave, key_press, key_release (nuchart_input.cpp); content:
// set_instr.
#include "windows/nuchart.h"

#include <cstring>
#include <new>

#include "charts/axisfont.h"
#include "charts/cstyle.h"
#include "charts/nuchart.h"
#include "charts/ta.h"
#include "charts/update.h"
#include "charts/util.h"
#include "lib/gfx.h"
#include "log.h"
#include "screen/desktop.h"
#include "ssmodel.h"
#include "style.h"
#include "ui/flyaway.h"
#include "ui/object.h"
#include "tools/charttools.h"
#include "undo.h"
#include "windows/nuchart_internal.h"
#include "windows/window.h"

static const char kSrc[] = "nuchart";

static struct {
  int ready;  // the class's shared state is made
  void (*container_show)(widget *);
  void (*container_hide)(widget *);
} g;

// ---------------------------------------------------------------------------
// Hooks the lower modules call

static nuchart *of_plot(chart_plot *p) { return p ? static_cast<nuchart *>(p->widget) : nullptr; }

void nuchart_redraw(nuchart *c) {
  c->redraws++;
  widget_redraw(c);
}

static int hook_shown(chart_plot *p) {
  nuchart *c = of_plot(p);
  return c && widget_is_shown(c);
}
static void hook_redraw(chart_plot *p) {
  if (nuchart *c = of_plot(p)) widget_redraw(c);
}
static int hook_desktop_changing() { return desktop_is_changing(); }
static int hook_has_panel(chart_plot *p) { return p->panel != nullptr; }
// A chart with a panel tells it its data kind and marks its span on the
// panel's overview; the panel refreshes after the next redraw.
static void hook_set_eod(chart_plot *p, int on) { charttools_set_eod(p->panel, on); }
static void hook_set_marker(chart_plot *p, ss_time from, ss_time to) {
  if (nuchart *ov = charttools_overview(p->panel)) nuchart_set_marker(ov, from, to);
}
static void hook_refresh_panel(chart_plot *p) {
  if (p->panel) tools_refresh_later(p->panel);
}

static chart_plot *style_plot_of(void *owner) { return owner ? &static_cast<nuchart *>(owner)->plot : nullptr; }
static void style_redraw(void *owner) {
  if (owner) nuchart_redraw(static_cast<nuchart *>(owner));
}

static void theme_from_style(chart_theme *out) {
  const style *s = style_cur();
  if (!s) return;
  out->font_main = s->font[0];
  out->font_values = s->font[1];
  out->font_header = s->font[5];
  out->font_date = s->font[6];
  out->line_height = s->line_height;
  out->step_colour = s->colour[97 - kStyleFirstColour];
  out->box_frame_colour = s->colour[120 - kStyleFirstColour];
  out->box_image = s->small[0];
  out->box_frame = s->small[2];
  out->news_sensitive = s->numbers[10];
  out->news_plain = s->numbers[11];
  out->news_related = s->numbers[12];
  out->style_colour[0] = style_colour(s, SC_LINK);
  out->style_colour[1] = style_colour(s, SC_PANEL);
  out->style_colour[2] = style_colour(s, SC_BACKGROUND);
  out->style_colour[3] = style_colour(s, SC_CHART_BACKGROUND);
  // Dark when the background is darker than mid grey.
  const uint32_t bg = style_colour(s, SC_BACKGROUND);
  out->dark = ((bg & 0xFF) + (bg >> 8 & 0xFF) + (bg >> 16 & 0xFF)) < 3 * 128;
}

static void make_shared_state() {
  if (g.ready) return;
  cstyle_init();
  alloc_init();
  ta_init();
  update_live_init();
  chart_colours_init();
  update_hooks uh{};
  uh.shown = hook_shown;
  uh.redraw = hook_redraw;
  uh.desktop_changing = hook_desktop_changing;
  uh.has_panel = hook_has_panel;
  uh.set_eod = hook_set_eod;
  uh.set_marker = hook_set_marker;
  uh.refresh_panel = hook_refresh_panel;
  update_set_hooks(&uh);
  cstyle_chart_hooks ch{};
  ch.plot_of = style_plot_of;
  ch.redraw = style_redraw;
  cstyle_set_chart_hooks(&ch);
  paint_set_theme_source(theme_from_style);
  cstyle_undo_register(undo_register_type);
  g.ready = 1;
}

// ---------------------------------------------------------------------------
// Small helpers

void nuchart_sync_rect(nuchart *c) {
  c->plot.chart_x = c->r.x;
  c->plot.chart_y = c->r.y;
  c->plot.chart_w = c->r.w;
  c->plot.chart_h = c->r.h - 1;
}

// Chart update with the mask cleared afterwards, whatever it answered.
void nuchart_run_update(nuchart *c) {
  nuchart_sync_rect(c);
  const style *s = style_cur();
  // The axis fonts follow the visual style; until one is selected the chart
  // measures with the atlas's first font rather than with none.
  if (s) c->axes.fonts = axisfont_atlas(s->font[0], s->font[1]);
  else if (!c->axes.fonts.text_size) c->axes.fonts = axisfont_atlas(0, 0);
  chart_update(&c->plot, &c->axes);
  c->plot.dirty = 0;
}

static void changed(nuchart *c, uint32_t bits) {
  c->plot.dirty |= bits;
  nuchart_redraw(c);
}

void nuchart_refresh_panel(nuchart *c) {
  if (c->plot.panel) tools_refresh_later(c->plot.panel);
}

static void update_if_shown(nuchart *c) {
  if (widget_is_shown(c)) nuchart_run_update(c);
}

// ---------------------------------------------------------------------------
// The style handler

static void style_event(cstyle *style, int event, void *owner, void *, int) {
  auto *c = static_cast<nuchart *>(owner);
  if (event == kCstyleDeleted) {
    // The chart keeps its look on a private copy without a name.
    cstyle *copy = cstyle_clone(style);
    if (copy && cstyle_watch(copy, style_event, c, nullptr, 0) == 0) {
      cstyle_unwatch(style, c);
      c->plot.style = copy;
    } else if (copy) {
      cstyle_delete(copy);
    }
  }
  c->plot.dirty |= kNuchartAll;
  nuchart_redraw(c);
  if (c->plot.panel) nuchart_refresh_panel(c);
}

// ---------------------------------------------------------------------------
// Instance life

static void nc_init(object *o) {
  auto *c = reinterpret_cast<nuchart *>(o);
  make_shared_state();
  c->name = "nuchart";
  new (&c->axes) chart_axes{};
  chart_view_init(&c->view);
  c->view.axes = &c->axes;
  c->plot.view = &c->view;
  c->plot.widget = c;
  c->plot.eod = 1;
  c->plot.marked.from_px = c->plot.marked.to_px = -1;
  c->plot.cursor.index = -1;
  c->plot.dirty = kNuchartAll;
  c->sel_from = c->sel_to = -1;
  c->pointer_x = c->pointer_y = -1;
  c->news_hover = -1;
  c->plot_rect = {0, 0, 0, -1};
  cstyle *s = cstyle_alloc();
  if (!s) return;
  c->plot.style = s;
  cstyle_apply_spec(&c->plot, s);
  c->plot.dirty = kNuchartAll;
  if (cstyle_watch(s, style_event, c, nullptr, 0) < 0) {
    cstyle_delete(s);
    c->plot.style = nullptr;
  }
}

static void release_instruments(nuchart *c) {
  if (c->plot.main) update_unwatch(&c->plot, c->plot.main);
  if (c->plot.issuer) update_unwatch(&c->plot, c->plot.issuer);
  c->plot.main = nullptr;
  c->plot.issuer = nullptr;
}

static void nc_fini(object *o) {
  auto *c = reinterpret_cast<nuchart *>(o);
  if (c->plot.panel) charttools_forget_chart(c->plot.panel);
  c->plot.panel = nullptr;
  if (c->plot.controlled) nuchart_set_controlled(c, nullptr);
  alloc_free_values(&c->plot);
  update_live_remove(&c->plot);
  if (c->plot.style) cstyle_unwatch(c->plot.style, c);
  c->plot.style = nullptr;
  release_instruments(c);
  alloc_clear_overlays(&c->plot);
  alloc_clear_indicators(&c->plot);
  chart_view_release(&c->view);
  c->axes.~chart_axes();
}

// ---------------------------------------------------------------------------
// Slots

// Every stored pixel of a shown chart moves with the chart; -1 stays -1.
static void shift_u32(uint32_t *a, int32_t n, int32_t d) {
  if (!a || !d) return;
  for (int32_t i = 0; i < n; i++)
    if (a[i] != kChartNoPixel) a[i] += (uint32_t)d;
}
static void shift_i32(int32_t *v, int32_t d) {
  if (*v != -1) *v += d;
}

void nuchart_shift(nuchart *c, int32_t dx, int32_t dy) {
  chart_plot *p = &c->plot;
  int32_t n = p->xpos ? p->count : 0;
  shift_u32(p->xpos, n, dx);
  shift_u32(p->y_open, n, dy);
  shift_u32(p->y_high, n, dy);
  shift_u32(p->y_low, n, dy);
  shift_u32(p->y_close, n, dy);
  for (chart_ta *ta = p->overlays; ta; ta = ta->next) {
    for (auto *px : ta->pixels) shift_u32(px, n, dy);
    shift_i32(&ta->zero_y, dy);
    ta->pane_x += dx;
    ta->pane_y += dy;
  }
  for (chart_ta *ta = p->indicators; ta; ta = ta->next) {
    for (auto *px : ta->pixels) shift_u32(px, n, dy);
    shift_i32(&ta->zero_y, dy);
    ta->pane_x += dx;
    ta->pane_y += dy;
  }
  shift_i32(&p->zero_y, dy);
  shift_i32(&p->marked.from_px, dx);
  shift_i32(&p->marked.to_px, dx);
  p->pane_x += dx;
  p->pane_y += dy;
  p->plot_x += dx;
  p->plot_y += dy;
  p->axis_y += dy;
  for (int32_t &x : c->axes.time.major.items) x += dx;
  for (int32_t &x : c->axes.time.minor.items) x += dx;
  for (int32_t &y : c->axes.value.major.items) y += dy;
  for (int32_t &y : c->axes.value.minor.items) y += dy;
  for (chart_label &l : c->axes.time.labels.items) l.x += dx, l.y += dy;
  for (chart_label &l : c->axes.value.labels.items) l.x += dx, l.y += dy;
  shift_i32(&c->sel_from, dx);
  shift_i32(&c->sel_to, dx);
  shift_i32(&c->view.select_from, dx);
  shift_i32(&c->view.select_to, dx);
  c->view.rebuild = 1;
  c->view.built_index = -1;
}

// Whether a collapsible section of a flyaway box enclosing the chart is
// still flying (the small charts of the tool panels wait for it to land).
static bool flyaway_animating_above(widget *w) {
  for (widget *p = w->parent; p; p = p->parent)
    if (object_is_a(widget_obj(p), flyaway_type()) && p->parent &&
        object_is_a(widget_obj(p->parent), fbox_type()) && flyaway_animating(static_cast<flyaway *>(p)))
      return true;
  return false;
}

static void nc_geometry_changed(widget *self) {
  auto *c = nuchart_cast(self);
  rect old = c->plot_rect;
  rect now = {self->r.x, self->r.y, self->r.w, self->r.h - 1};
  c->plot_rect = now;
  bool same_size = old.w == now.w && old.h == now.h;
  if (same_size) {
    if (widget_is_shown(c) && (old.x != now.x || old.y != now.y)) nuchart_shift(c, now.x - old.x, now.y - old.y);
    nuchart_sync_rect(c);
    return;
  }
  bool held = (c->plot.options & kNuchartOptSmall) && flyaway_animating_above(self);
  if (!held) {
    if (old.w != now.w) c->plot.dirty |= kNuchartWidth;
    if (old.h != now.h) c->plot.dirty |= kNuchartHeight;
  }
  if (c->plot.marked.from || c->plot.marked.to) {
    c->plot.marked.from_px = c->plot.marked.to_px = -1;
    c->plot.dirty |= kNuchartMarks;
  }
  nuchart_sync_rect(c);
  if (widget_is_shown(c) && !held) nuchart_run_update(c);
}

static void nc_reqsize(widget *, size *out) {
  out->w = 75;
  out->h = 50;
}

static void nc_draw(widget *self) {
  auto *c = nuchart_cast(self);
  if (c->plot.count <= 0) c->plot.dirty = kNuchartAll;
  if (c->plot.dirty) nuchart_run_update(c);
  nuchart_sync_rect(c);
  window *w = self->parent && window_is(self->parent) ? static_cast<window *>(self->parent) : nullptr;
  rect previous{};
  bool clip = desktop_is_changing();
  if (clip) gfx_set_clip(&self->r, &previous);
  uint32_t bg = 0;
  paint_chart(&c->plot, &bg);
  if (clip) gfx_set_clip(previous.w ? &previous : nullptr, nullptr);
  // The window's frame takes the colour the background was painted in; a
  // chart inside a holder leaves the colours to the holder and only draws
  // the frame again beside itself.
  if (w)
    window_frame_child_colours(self, bg | 0xFF000000u, bg | 0xFF000000u);
  else
    window_frame_child_default(self);
}

static void nc_restyle(widget *self) {
  auto *c = nuchart_cast(self);
  changed(c, kNuchartWidth | kNuchartHeight);
}

static void nc_show_children(widget *self) {
  auto *c = nuchart_cast(self);
  if (g.container_show) g.container_show(self);
  c->plot.dirty = kNuchartAll;
  nuchart_run_update(c);  // joins the live list itself when the end is now
}

static void nc_hide_children(widget *self) {
  auto *c = nuchart_cast(self);
  if (g.container_hide) g.container_hide(self);
  alloc_free_values(&c->plot);
  update_live_remove(&c->plot);
}

static void nc_set_instr(widget *self, instr *in) { nuchart_bind_any(nuchart_cast(self), in); }

static void nc_class_init(object_class *rec) {
  auto *k = static_cast<content_class *>(rec);
  g.container_show = k->show_children;
  g.container_hide = k->hide_children;
  k->geometry_changed = nc_geometry_changed;
  k->reqsize = nc_reqsize;
  k->draw = nc_draw;
  k->restyle = nc_restyle;
  k->show_children = nc_show_children;
  k->hide_children = nc_hide_children;
  k->set_instr = nc_set_instr;
  nuchart_input_slots(k);
  make_shared_state();
}

static void nc_class_fini(object_class *) {
  update_live_stop();
  g.ready = 0;
}

static typeid_t register_nuchart() {
  return object_register_class("nuchart", content_type(), sizeof(nuchart), nc_init, nc_fini, sizeof(content_class),
                               nc_class_init, nc_class_fini);
}

typeid_t nuchart_type() {
  static object_type_cache cache;
  return object_cached_type(&cache, register_nuchart);
}

bool nuchart_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), nuchart_type());
}

widget *nuchart_new(widget *parent) { return widget_new(parent, nuchart_type()); }

// ---------------------------------------------------------------------------
// Binding

static void bind_main(nuchart *c, instr *in, bool with_issuer) {
  if (in == c->plot.main) return;
  release_instruments(c);
  c->plot.main = in;
  c->plot.marked.from = 0;
  if (in) {
    update_watch(&c->plot, in);
    if (with_issuer && in->kind == kKindStock) {
      const char *code = static_cast<ss_stock *>(in)->issuer;
      ss_issuer *is = code[0] && in->exchange ? ssmodel_find_issuer(in->exchange, code) : nullptr;
      if (is) {
        c->plot.issuer = is;
        update_watch(&c->plot, is);
      } else if (code[0]) {
        log(LOG_WARN, kSrc, "can't find %s issuer %s", in->code, code);
      }
    }
  }
  changed(c, kNuchartAll);
  update_if_shown(c);
  if (c->plot.panel) charttools_set_instrument(c->plot.panel, in);
}

void nuchart_bind(nuchart *c, instr *stock) { bind_main(c, stock, true); }
void nuchart_bind_index(nuchart *c, instr *index) { bind_main(c, index, false); }
void nuchart_bind_compare(nuchart *c, instr *index) { nuchart_bind_index(c, index); }

void nuchart_unbind(nuchart *c) {
  release_instruments(c);
  changed(c, kNuchartAll);
  alloc_free_values(&c->plot);
}

void nuchart_bind_any(nuchart *c, instr *in) {
  if (in && in->kind == kKindStock) return nuchart_bind(c, in);
  if (in && in->kind == kKindIndex) return nuchart_bind_index(c, in);
  if (in && in->kind == kKindIssuer && in->exchange) {
    if (ss_stock *s = ssmodel_find_stock(in->exchange, in->code)) return nuchart_bind(c, s);
  }
  nuchart_unbind(c);
}

// ---------------------------------------------------------------------------
// The settings

bool nuchart_needs_intraday(int32_t period, int32_t, int32_t range, int32_t range_count) {
  if (period >= 1 && period <= 4) return true;
  if (period == 9) return (range >= 2 && range <= 4) || (range == 5 && range_count == 1);
  return false;
}

void nuchart_set_range(nuchart *c, int32_t kind, int32_t count) {
  chart_plot *p = &c->plot;
  if (p->range == kind && p->range_count == count) return;
  p->range = kind;
  p->range_count = count;
  p->from_type = -1;
  p->from = p->to = 0;
  if (p->mid) {
    p->to_type = -1;
  } else {
    p->mid_type = -1;
    p->to_type = 5;
  }
  changed(c, kNuchartSpan);
}

static bool fixed_type(int32_t t) { return t >= 1 && t <= 4; }

void nuchart_set_times(nuchart *c, int32_t from_type, ss_time from, int32_t to_type, ss_time to) {
  chart_plot *p = &c->plot;
  int32_t ft = from_type == -1 ? p->from_type : from_type;
  ss_time f = from_type == -1 ? p->from : from;
  int32_t tt = to_type == -1 ? p->to_type : to_type;
  ss_time t = to_type == -1 ? p->to : to;
  // A span becomes one of fixed ends only when an end has a fixed time: a
  // preset that keeps one end and opens the other to now keeps its range.
  bool span = fixed_type(ft) || fixed_type(tt);
  int32_t range = span ? kNuchartRangeSpan : p->range;
  int32_t count = span ? 0 : p->range_count;
  if (ft == p->from_type && f == p->from && tt == p->to_type && t == p->to && p->mid_type == -1 && !p->mid &&
      range == p->range && count == p->range_count)
    return;
  p->from_type = ft;
  p->from = f;
  p->to_type = tt;
  p->to = t;
  p->mid_type = -1;
  p->mid = 0;
  p->range = range;
  p->range_count = count;
  changed(c, kNuchartSpan);
}

void nuchart_get_end_types(nuchart *c, int32_t *from_type, int32_t *mid_type, int32_t *to_type) {
  if (from_type) *from_type = c->plot.from_type;
  if (mid_type) *mid_type = c->plot.mid_type;
  if (to_type) *to_type = c->plot.to_type;
}

void nuchart_get_visible_span(nuchart *c, ss_time *first, ss_time *last) {
  const chart_plot *p = &c->plot;
  if (p->count <= 0 || !p->times) {
    *first = *last = 0;
    return;
  }
  *first = p->times[p->first_visible];
  *last = p->times[p->last_visible];
}

void nuchart_get_span(nuchart *c, ss_time *from, ss_time *to) {
  const chart_plot *p = &c->plot;
  ss_time first = 0, last = 0;
  nuchart_get_visible_span(c, &first, &last);
  *from = p->from_type == 1 && p->from ? p->from : first;
  *to = p->to_type == 1 && p->to ? p->to : last;
}

void nuchart_center_on(nuchart *c, int32_t type, ss_time time) {
  chart_plot *p = &c->plot;
  if (type == -1) type = p->mid_type;
  if (p->range == kNuchartRangeSpan) {
    ss_time from = 0, to = 0;
    nuchart_get_span(c, &from, &to);
    if (type != -1 && from && to && time) {
      if ((from & kSstimeSecondsMask) || (to & kSstimeSecondsMask)) {
        int32_t len = sstime_diff_seconds(to, from);
        from = sstime_add_seconds(time, -(len / 2));
        to = sstime_add_seconds(from, len);
      } else {
        int32_t days = sstime_diff_days(to, from);
        from = sstime_sub_days(time, days / 2);
        to = sstime_add_days(from, days);
      }
      p->from = from;
      p->to = to;
      p->from_type = p->to_type = type;
    }
    p->mid_type = -1;
    p->mid = 0;
    if (!(p->from_type == 5 && p->to_type == 5)) p->range_count = 0;
  } else {
    p->mid = time;
    p->mid_type = type;
    p->from_type = p->to_type = -1;
    p->from = p->to = 0;
  }
  changed(c, kNuchartSpan);
}

void nuchart_set_period(nuchart *c, int32_t kind, int32_t count) {
  chart_plot *p = &c->plot;
  if (p->period == kind && p->period_count == count) return;
  bool before = nuchart_needs_intraday(p->period, p->period_count, p->range, p->range_count);
  p->period = p->eff_period = kind;
  p->period_count = p->eff_count = count;
  bool after = nuchart_needs_intraday(kind, count, p->range, p->range_count);
  changed(c, kNuchartPeriod | (before != after ? kNuchartReload : 0));
}

void nuchart_set_type(nuchart *c, int32_t type) {
  if (c->plot.type == type) return;
  c->plot.type = type;
  changed(c, kNuchartType);
}

void nuchart_set_options(nuchart *c, uint32_t mask) {
  uint32_t was = c->plot.options;
  if (was == mask) return;
  c->plot.options = mask;
  changed(c, kNuchartOptions | ((was ^ mask) & kNuchartOptAdjust ? kNuchartReload : 0));
}
void nuchart_set_option_bits(nuchart *c, uint32_t bits) { nuchart_set_options(c, c->plot.options | bits); }
void nuchart_clear_option_bits(nuchart *c, uint32_t bits) { nuchart_set_options(c, c->plot.options & ~bits); }

void nuchart_set_background(nuchart *c, uint32_t colour) {
  c->colour = colour;
  c->plot.background = colour;
}

// ---------------------------------------------------------------------------
// Overlays and indicators: one shape for both lists

namespace {
struct ta_list {
  bool overlay;
  const char *what;  // "overlay" / "indicator"
  uint32_t bit;
};
const ta_list kOverlays = {true, "overlay", kNuchartOverlays};
const ta_list kIndicators = {false, "indicator", kNuchartIndicators};

chart_ta **head_of(nuchart *c, const ta_list &l) { return l.overlay ? &c->plot.overlays : &c->plot.indicators; }
const ta_def *def_of(const ta_list &l, int32_t type) {
  return l.overlay ? ta_overlay_def(type) : ta_indicator_def(type);
}

chart_ta *nth(nuchart *c, const ta_list &l, int32_t index) {
  chart_ta *ta = *head_of(c, l);
  for (int32_t i = 0; ta && i < index; i++) ta = ta->next;
  if (index < 0 || !ta) {
    log(LOG_ERROR, kSrc, l.overlay ? "can't find overlay %d" : "can't find indicator %d", index);
    return nullptr;
  }
  return ta;
}

void set_given(chart_ta *ta, const float *params) {
  if (!params) return;
  for (int i = 0; i < 3; i++)
    if (params[i] != kCstyleUnset) ta->params[i] = params[i];
}

void ta_changed(nuchart *c, const ta_list &l, uint32_t more) {
  changed(c, l.bit | more);
  if (c->plot.panel) nuchart_refresh_panel(c);
}

int clear(nuchart *c, const ta_list &l) {
  if (!*head_of(c, l)) return 0;
  if (l.overlay) {
    alloc_clear_overlays(&c->plot);
    c->plot.news = 0;
  } else {
    alloc_clear_indicators(&c->plot);
  }
  ta_changed(c, l, 0);
  return 0;
}

chart_ta *append(nuchart *c, const ta_list &l, int32_t type) {
  chart_ta *ta = l.overlay ? alloc_add_overlay(&c->plot, type) : alloc_add_indicator(&c->plot, type);
  if (!ta) log(LOG_ERROR, kSrc, l.overlay ? "can't alloc overlay" : "can't alloc indicator");
  return ta;
}

int add(nuchart *c, const ta_list &l, int32_t type, const float *params) {
  chart_ta *ta = append(c, l, type);
  if (!ta) return -1;
  set_given(ta, params);
  bool news = l.overlay && type == kNuchartNewsOverlay;
  if (news) c->plot.news = 1;
  ta_changed(c, l, news ? kNuchartReload : 0);
  return 0;
}

int remove(nuchart *c, const ta_list &l, int32_t index) {
  chart_ta *ta = nth(c, l, index);
  if (!ta) return -1;
  if (l.overlay)
    alloc_remove_overlay(&c->plot, ta);
  else
    alloc_remove_indicator(&c->plot, ta);
  ta_changed(c, l, 0);
  return 0;
}

int replace(nuchart *c, const ta_list &l, int32_t index, int32_t type, const float *params) {
  chart_ta *old = nth(c, l, index);
  if (!old) return -1;
  chart_ta *fresh = append(c, l, type);
  if (!fresh) return -1;
  set_given(fresh, params);
  // The new instance (appended last) takes the old one's place in the list.
  chart_ta **link = head_of(c, l);
  while (*link != fresh) link = &(*link)->next;
  *link = nullptr;
  link = head_of(c, l);
  while (*link != old) link = &(*link)->next;
  fresh->next = old;
  *link = fresh;
  if (l.overlay)
    alloc_remove_overlay(&c->plot, old);
  else
    alloc_remove_indicator(&c->plot, old);
  bool news = l.overlay && type == kNuchartNewsOverlay;
  if (news) c->plot.news = 1;
  ta_changed(c, l, news ? kNuchartReload : 0);
  return 0;
}

int set_param(nuchart *c, const ta_list &l, int32_t index, int32_t n, float value) {
  chart_ta *ta = nth(c, l, index);
  if (!ta) return -1;
  const ta_def *def = def_of(l, ta->type);
  if (!def || n < 0 || n >= def->param_count) {
    log(LOG_WARN, kSrc, l.overlay ? "can't set overlay %d param %d" : "can't set indicator %d param %d", ta->type,
        n);
    return -1;
  }
  if (ta->params[n] == value) return 0;
  ta->params[n] = value;
  ta_changed(c, l, 0);
  return 0;
}

int32_t find(nuchart *c, const ta_list &l, int32_t index, float *params) {
  chart_ta *ta = nth(c, l, index);
  if (!ta) return -1;
  if (params) memcpy(params, ta->params, sizeof ta->params);
  return ta->type;
}
}  // namespace

int nuchart_clear_overlays(nuchart *c) { return clear(c, kOverlays); }
int nuchart_add_overlay(nuchart *c, int32_t type, const float *params) { return add(c, kOverlays, type, params); }
int nuchart_remove_overlay(nuchart *c, int32_t index) { return remove(c, kOverlays, index); }
int nuchart_replace_overlay(nuchart *c, int32_t index, int32_t type, const float *params) {
  return replace(c, kOverlays, index, type, params);
}
int nuchart_set_overlay_param(nuchart *c, int32_t index, int32_t n, float value) {
  return set_param(c, kOverlays, index, n, value);
}
int32_t nuchart_find_overlay(nuchart *c, int32_t index, float *params) { return find(c, kOverlays, index, params); }
int nuchart_clear_indicators(nuchart *c) { return clear(c, kIndicators); }
int nuchart_add_indicator(nuchart *c, int32_t type, const float *params) {
  return add(c, kIndicators, type, params);
}
int nuchart_remove_indicator(nuchart *c, int32_t index) { return remove(c, kIndicators, index); }
int nuchart_replace_indicator(nuchart *c, int32_t index, int32_t type, const float *params) {
  return replace(c, kIndicators, index, type, params);
}
int nuchart_set_indicator_param(nuchart *c, int32_t index, int32_t n, float value) {
  return set_param(c, kIndicators, index, n, value);
}
int32_t nuchart_find_indicator(nuchart *c, int32_t index, float *params) {
  return find(c, kIndicators, index, params);
}

// ---------------------------------------------------------------------------
// Styles

void nuchart_set_cstyle(nuchart *c, cstyle *style) {
  if (!style || style == c->plot.style) return;
  if (c->plot.style) cstyle_unwatch(c->plot.style, c);
  c->plot.style = style;
  cstyle_apply_spec(&c->plot, style);
  cstyle_watch(style, style_event, c, nullptr, 0);
  changed(c, kNuchartAll);
  if (c->plot.panel) nuchart_refresh_panel(c);
}

void nuchart_apply_cstyle(nuchart *c, nuchart *other) {
  cstyle *s = other ? other->plot.style : nullptr;
  if (!s) return;
  if (cstyle_id_valid(s) && s->linked) {
    nuchart_set_cstyle(c, s);
  } else if (cstyle *copy = cstyle_clone(s)) {
    nuchart_set_cstyle(c, copy);
    if (c->plot.style != copy) cstyle_delete(copy);
  }
  c->plot.dirty |= kNuchartAll;
  update_if_shown(c);
}

cstyle *nuchart_get_cstyle(nuchart *c) { return c->plot.style; }

// ---------------------------------------------------------------------------
// Marks

void nuchart_set_marker(nuchart *c, ss_time from, ss_time to) {
  chart_plot *p = &c->plot;
  if (from == 0 && to) from = p->count > 0 && p->times ? p->times[0] : 0;
  p->marked.from = from;
  p->marked.to = to;
  p->marked.from_px = p->marked.to_px = -1;
  changed(c, kNuchartMarks);
}

void nuchart_set_marker_at(nuchart *c, ss_time time) {
  chart_plot *p = &c->plot;
  p->marked.from = p->marked.to = time;
  p->marked.from_px = p->marked.to_px = -1;
  changed(c, kNuchartMarks);
}

void nuchart_set_cursor(nuchart *c, ss_time time) {
  chart_plot *p = &c->plot;
  // While the desktop resyncs its charts every chart takes the time again.
  if (time == p->cursor.time && !desktop_sync_busy()) return;
  p->cursor.time = time;
  p->cursor.index = time ? util_index_at_time(p, time, 0) : -1;
  changed(c, kNuchartWidth);
}

void nuchart_update_now(nuchart *c) { update_if_shown(c); }

void nuchart_set_client_callback(nuchart *c, nuchart_time_fn fn, void *context, int n) {
  c->click_fn = fn;
  c->click_ctx = context;
  c->click_n = n;
}

void nuchart_set_drag_callback(nuchart *c, nuchart_time_fn fn, void *context, int n) {
  c->drag_fn = fn;
  c->drag_ctx = context;
  c->drag_n = n;
}

void nuchart_set_controlled(nuchart *c, nuchart *controlled) { c->plot.controlled = controlled; }

void nuchart_preset_mini_quote(nuchart *c) {
  constexpr uint32_t kMiniQuoteOptions = 3164592;  // 0x3049B0
  nuchart_set_range(c, 5, 1);
  nuchart_set_period(c, 9, 1);
  nuchart_set_type(c, 16);
  const style *s = style_cur();
  nuchart_set_background(c, s ? style_colour(s, SC_CHART_BACKGROUND) : 0);
  nuchart_clear_overlays(c);
  nuchart_add_overlay(c, kNuchartNewsOverlay, nullptr);
  nuchart_set_overlay_param(c, 0, 0, 0.0f);
  nuchart_set_overlay_param(c, 0, 1, 1.0f);
  nuchart_set_overlay_param(c, 0, 2, 1.0f);
  nuchart_add_overlay(c, 1, nullptr);
  nuchart_clear_indicators(c);
  nuchart_set_options(c, kMiniQuoteOptions);
  nuchart_set_times(c, -1, 0, 5, 0);
}

void nuchart_attach_tools(nuchart *c, tools *panel) {
  c->plot.panel = panel;
  if (!panel) return;
  charttools_set_chart(panel, c);
  charttools_set_instrument(panel, c->plot.main);
  charttools_set_eod(panel, c->plot.eod);
  nuchart *ov = charttools_overview(panel);
  if (!ov || c->plot.count <= 0) return;
  nuchart_update_now(ov);
  ss_time first = 0, last = 0;
  nuchart_get_visible_span(c, &first, &last);
  nuchart_set_marker(ov, first, last);
}
