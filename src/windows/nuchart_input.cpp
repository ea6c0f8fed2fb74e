// The chart widget's pointer and keys: the cross-hair cursor (Control) and
// its mirror into every other chart window (Shift), the news marks under the
// pointer, clicks, and an overview chart's span selection, which steers the
// chart it controls. The selection's arithmetic is a plain function
// (nuchart_selection_span) so that its rules read, and test, apart from the
// pointer plumbing.
#include <algorithm>
#include <cstdlib>

#include "charts/cstyle.h"
#include "charts/nuchart.h"
#include "charts/util.h"
#include "dnd.h"
#include "lib/tex.h"
#include "popups/place.h"
#include "screen/desktop.h"
#include "screen/screen.h"
#include "ssmodel.h"
#include "style.h"
#include "ui/gui.h"
#include "ui/key.h"
#include "tools/charttools.h"
#include "undo.h"
#include "windows/histnews.h"
#include "windows/nuchart_internal.h"
#include "windows/window.h"

namespace {

constexpr int32_t kGrab = 3;  // pixels around a marked end that grab it

window *enclosing_window(widget *w) {
  for (widget *p = w ? w->parent : nullptr; p; p = p->parent)
    if (window_is(p)) return static_cast<window *>(p);
  return nullptr;
}

bool takes_cursor(nuchart *c) { return !(c->plot.options & kNuchartOptSmall) && enclosing_window(c); }
bool to_parent(nuchart *c) { return c->plot.options & kNuchartOptParent; }

int32_t axis_first(const chart_plot *p) { return p->plot_x; }
int32_t axis_last(const chart_plot *p) { return p->plot_x + std::max(p->plot_w - 1, 0); }

bool in_plot(const chart_plot *p, int32_t x, int32_t y) {
  return p->plot_w > 0 && x >= p->plot_x && x < p->plot_x + p->plot_w && y >= p->plot_y && y < p->plot_y + p->plot_h;
}

bool visible(const chart_plot *p, int32_t i) {
  return p->count > 0 && i >= p->first_visible && i <= p->last_visible;
}

// The hover the painter draws (cross-hair and data boxes); -1 none.
void set_hover(nuchart *c, int32_t index) {
  int32_t was = c->view.hovering ? c->view.hover_index : -1;
  c->view.hovering = index >= 0;
  c->view.hover_index = index;
  if (was != index) {
    c->view.rebuild = 1;
    widget_redraw(c);
  }
}

// ---- the mirror into the other chart windows ----

template <typename Fn>
void each_other_chart(nuchart *c, Fn fn) {
  for (int n = 0; n < kScreens; n++) {
    if (!screen_get(n) || !screen_push(n)) continue;
    if (desktop *d = screen_current_desktop()) {
      desktop_map_begin(d);
      while (window *w = desktop_map_next()) {
        if (w->role != kRoleChart || !nuchart_is(w->child[kWinChart])) continue;
        auto *other = nuchart_cast(w->child[kWinChart]);
        if (other == c || (other->plot.options & kNuchartOptSmall)) continue;
        fn(other);
      }
      desktop_map_end();
    }
    screen_pop();
  }
}

void mirror(nuchart *c) {
  if (!c->follow) return;
  int32_t k = c->view.hovering ? c->view.hover_index : -1;
  ss_time t = k >= 0 && k < c->plot.count ? c->plot.times[k] : 0;
  each_other_chart(c, [&](nuchart *o) {
    int32_t i = t && o->plot.count > 0 ? util_index_at_time(&o->plot, t, 0) : -1;
    set_hover(o, visible(&o->plot, i) ? i : -1);
  });
}

void clear_mirror(nuchart *c) {
  each_other_chart(c, [](nuchart *o) { set_hover(o, -1); });
}

// ---- the cursor ----

void place_cursor(nuchart *c) {
  chart_plot *p = &c->plot;
  if (!c->cursor_active || c->pointer_x < 0) {
    set_hover(c, -1);
    return;
  }
  int32_t i = util_index_at_x(p, c->pointer_x);
  if (visible(p, i)) {
    set_hover(c, i);
    gui_set_cursor(kNuchartCrossHair);
  } else {
    set_hover(c, -1);
  }
}

void deactivate(nuchart *c) {
  if (!c->cursor_active) return;
  c->cursor_active = 0;
  set_hover(c, -1);
  clear_mirror(c);
  gui_reset_cursor();
}

// The held modifiers decide the cursor and the follow (a key that went to
// another widget still counts).
void sync_modifiers(nuchart *c, uint32_t mods) {
  if (!takes_cursor(c)) return;
  bool ctrl = mods & KEY_MOD_CONTROL, shift = mods & KEY_MOD_SHIFT;
  if (!shift && c->follow) {
    clear_mirror(c);
    c->follow = 0;
  }
  if (shift) c->follow = 1;
  if (!ctrl) deactivate(c);
  if (ctrl) c->cursor_active = 1;
}

// ---- news marks ----

const chart_ta *news_overlay(const chart_plot *p) {
  if (!p->news || !p->issuer) return nullptr;
  for (const chart_ta *ta = p->overlays; ta; ta = ta->next)
    if (ta->type == kNuchartNewsOverlay && ta->lines[0]) return ta;
  return nullptr;
}

// The news span of the sample whose mark stack is under the pointer.
bool news_at(nuchart *c, int32_t x, int32_t y, ss_time *from, ss_time *to) {
  const chart_plot *p = &c->plot;
  const chart_ta *ta = news_overlay(p);
  if (!ta || p->count <= 0) return false;
  int32_t i = util_index_at_x(p, x);
  if (!visible(p, i) || p->xpos[i] == kChartNoPixel) return false;
  const style *s = style_cur();
  int32_t size[2] = {0, 0};
  if (s) tex_size(size, s->numbers[10]);
  if (size[0] <= 0 || size[1] <= 0) size[0] = size[1] = 9;
  if (std::abs(x - (int32_t)p->xpos[i]) > size[0] / 2) return false;
  int32_t pane_y = ta->pane_h > 0 ? ta->pane_y : p->pane_y, pane_h = ta->pane_h > 0 ? ta->pane_h : p->pane_h;
  if (nuchart_news_mark_at(ta->lines[0][i], pane_y, pane_h, size[1], y) < 0)
    return false;
  ss_time t = p->times[i];
  *from = i == p->first_visible ? (t & ~kSstimeSecondsMask) : t;
  *to = i + 1 < p->count ? p->times[i + 1] : sstime_add_days(t & ~kSstimeSecondsMask, 1);
  c->news_hover = i;
  return true;
}

// Intraday charts held to the trading day mark each item of the issuer's
// news along the top of the pane: from today's cut by its time, earlier
// ones at the pane's left, each stacked under the one before when they
// would overlap (as painting places them). The item under (x, y), or null.
ss_news *news_item_at(const chart_plot *p, int32_t x, int32_t y) {
  const chart_ta *ta = news_overlay(p);
  const instr *in = p->main;
  const style *s = style_cur();
  if (!ta || !in || !in->exchange || !s || p->count <= 0) return nullptr;
  bool own = ta->pane_h > 0 || !ta->is_overlay;
  int32_t py = own ? ta->pane_y : p->pane_y, ph = own ? ta->pane_h : p->pane_h;
  ss_time day = p->times[p->first_visible] & ~kSstimeSecondsMask;
  ss_news *item = p->issuer->news.head;
  while (item && item->time && sstime_date_compare(item->time, day) < 0) item = item->next;
  while (item && !item->time) item = item->next;
  if (!item) return nullptr;
  ss_time cut = day;
  if (sstime_date_compare(item->time, in->exchange->date) >= 0)
    cut = p->options & kChartOptOpenClamp ? ssmodel_exchange_open_time(in->exchange)
                                          : ssmodel_exchange_day_start(in->exchange);
  bool stack = !(p->options & (kNuchartOptSmall | kNuchartOptParent));
  int32_t prev_x = -1000000, prev_y = py + 1, prev_h = 0, right = p->pane_x + p->pane_w;
  for (; item; item = item->next) {
    int32_t image = item->flags & 0x1 ? s->numbers[10] : item->flags & 0x4 ? s->numbers[12] : s->numbers[11];
    int32_t size[2] = {0, 0};
    tex_size(size, image);
    int32_t ix;
    if (item->time >= cut) {
      ix = util_sample_at(p, item->time);
      if (ix > right) break;
      if (ix < p->pane_x) continue;
    } else {
      ix = p->pane_x + size[0] / 2;
    }
    int32_t iy = stack && ix - prev_x < size[0] / 2 ? prev_y + prev_h + 1 : py + 1;
    if (iy + size[1] > py + ph) continue;
    if (std::abs(x - ix) <= size[0] / 2 && y >= iy && y < iy + size[1]) return item;
    prev_x = ix;
    prev_y = iy;
    prev_h = size[1];
  }
  return nullptr;
}

bool single_items(const chart_plot *p) {
  return !p->eod && (p->options & (kChartOptDayClamp | kChartOptOpenClamp));
}

// The news pointed at in the screen's general detail popup beside the
// pointer: the issuer's items of a mark's span [from, to), or the one item
// of an intraday chart's mark. The chart records what it shows, for the
// click that opens it.
void show_news(nuchart *c, ss_time from, ss_time to, int32_t x, int32_t y) {
  c->news_from = from;
  c->news_to = to;
  if (c->plot.issuer && to > from) screen_show_gendtl_range2(x + 12, y, c->plot.issuer, from, to - 1);
}
void show_news_item(nuchart *c, ss_news *item, int32_t x, int32_t y) {
  c->news_item = item;
  if (c->plot.issuer && item) screen_show_gendtl_range2(x + 12, y, c->plot.issuer, item->time, item->time);
}
// Forgets the news pointed at; the popup goes when the chart opened it.
void hide_news(nuchart *c) {
  const bool shown = c->news_from || c->news_item;
  c->news_from = c->news_to = 0;
  c->news_hover = -1;
  c->news_item = nullptr;
  if (shown) screen_hide_gendtl();
}

// ---- the overview selection ----

ss_time time_at(const chart_plot *p, int32_t x) { return p->count > 0 ? util_time_at_x(p, x) : 0; }

ss_time exchange_now(const chart_plot *p) {
  const instr *in = p->main;
  return in && in->exchange ? ssmodel_exchange_now(in->exchange) : sstime_now();
}

void clear_selection(nuchart *c) {
  c->sel_from = c->sel_to = -1;
  c->sel_mode = 0;
  c->view.select_from = c->view.select_to = -1;
  widget_redraw(c);
}

void finish_selection(nuchart *c, int32_t x0, int32_t x1, int32_t mode) {
  auto *target = static_cast<nuchart *>(c->plot.controlled);
  chart_plot *p = &c->plot;
  if (!target || p->count <= 0) return clear_selection(c);
  if (x0 > x1) {
    std::swap(x0, x1);
    if (mode == 1 || mode == 2) mode ^= 3;  // the dragged end crossed the other
  }
  nuchart_selection_in in{};
  in.x0 = x0;
  in.x1 = x1;
  in.mode = mode;
  in.t0 = time_at(p, x0);
  in.t1 = time_at(p, x1);
  in.first = p->times[0];
  in.last = p->times[p->count - 1];
  ss_time now = exchange_now(p);
  in.now = now;
  in.earliest = p->main ? (p->eod ? sstime_pack_date(1, 1, 1970) : sstime_add_months(now, -1)) : in.t0;
  in.axis_end = axis_last(p);
  in.eod = p->eod;
  in.controlled_range = target->plot.range;
  in.controlled_from_type = target->plot.from_type;
  nuchart_selection_out out = nuchart_selection_span(in);
  if (target->plot.panel) charttools_set_eod(target->plot.panel, p->eod);
  undo_begin();
  undo_push_chart_style(target);
  undo_end();
  if (out.action == 1) {
    nuchart_set_times(target, out.from_type, out.from, out.to_type, out.to);
    target->plot.range = kNuchartRangeSpan;
    target->plot.range_count = 0;
  } else if (out.action == 2) {
    nuchart_center_on(target, 1, out.centre);
  } else if (out.action == 3) {
    nuchart_set_times(target, -1, 0, 5, 0);
    if (target->plot.from_type != 5) {
      target->plot.range = kNuchartRangeSpan;
      target->plot.range_count = 0;
    }
  }
  if (target->plot.style) cstyle_apply(target->plot.style, &target->plot);
  nuchart_refresh_panel(target);
  clear_selection(c);
}

// ---- slots ----

void pass_motion(widget *self, int32_t x, int32_t y) {
  if (self->parent) self->parent->cls->motion(self->parent, x, y);
}

void nc_motion(widget *self, int32_t x, int32_t y) {
  auto *c = nuchart_cast(self);
  if (to_parent(c)) return pass_motion(self, x, y);
  chart_plot *p = &c->plot;
  sync_modifiers(c, key_modifiers());
  if (in_plot(p, x, y)) {
    c->pointer_x = std::min(x, axis_last(p));
    c->pointer_y = y;
  } else {
    c->pointer_x = c->pointer_y = -1;
  }
  c->cursor_moved = 1;
  if (takes_cursor(c)) {
    place_cursor(c);
    mirror(c);
  }
  ss_time from = 0, to = 0;
  ss_news *item = nullptr;
  if (c->pointer_x >= 0) {
    if (single_items(p))
      item = news_item_at(p, x, y);
    else
      news_at(c, x, y, &from, &to);  // from stays 0 off the marks
  }
  if (!item && !from) {
    hide_news(c);
    return;
  }
  // Only what changes is shown again.
  if (item ? item == c->news_item : from == c->news_from && to == c->news_to) return;
  const int32_t hover = c->news_hover;
  hide_news(c);
  c->news_hover = hover;
  if (item)
    show_news_item(c, item, x, y);
  else
    show_news(c, from, to, x, y);
}

void nc_enter(widget *self) {
  auto *c = nuchart_cast(self);
  if (to_parent(c)) return;
  sync_modifiers(c, key_modifiers());
}

void nc_leave(widget *self) {
  auto *c = nuchart_cast(self);
  c->pointer_x = c->pointer_y = -1;
  deactivate(c);
  if (c->follow) clear_mirror(c);
  c->follow = 0;
  hide_news(c);
}

void nc_key_press(widget *self, key_event *k) {
  auto *c = nuchart_cast(self);
  if (k->code == kKeyModifier) {
    sync_modifiers(c, k->mods);
    place_cursor(c);
    mirror(c);
    return;
  }
  int32_t step = k->code == kNuchartKeyLater ? 1 : k->code == kNuchartKeyEarlier ? -1 : 0;
  int32_t i = c->view.hovering ? c->view.hover_index : -1;
  if (step && c->cursor_active && i >= 0 && visible(&c->plot, i + step)) {
    set_hover(c, i + step);
    mirror(c);
    return;
  }
  if (self->parent) self->parent->cls->key_press(self->parent, k);
}

void nc_key_release(widget *self, key_event *k) {
  auto *c = nuchart_cast(self);
  if (k->code == kKeyModifier) {
    sync_modifiers(c, k->mods);
    return;
  }
  if (self->parent) self->parent->cls->key_release(self->parent, k);
}

int nc_drag_begin(widget *self, int32_t x, int32_t y, int n, drag_record *d) {
  auto *c = nuchart_cast(self);
  if (to_parent(c)) return self->parent ? self->parent->cls->drag_begin(self->parent, x, y, n, d) : 0;
  chart_plot *p = &c->plot;
  if (single_items(p)) {
    if (ss_news *item = news_item_at(p, x, y)) {
      dnd_begin_news(p->main, item);
      if (d) d->w = self;
      return 1;
    }
  }
  if (p->count <= 0 || !p->controlled) return c->drag_fn ? 1 : 0;
  int32_t lo = axis_first(p), hi = axis_last(p);
  if (p->marked.from_px >= 0 && std::abs(x - p->marked.from_px) <= kGrab) {
    c->sel_mode = 2;
    c->sel_from = p->marked.from_px;
    c->sel_to = p->marked.to_px >= 0 ? p->marked.to_px : hi;
  } else if (p->marked.to_px >= 0 && std::abs(x - p->marked.to_px) <= kGrab) {
    c->sel_mode = 1;
    c->sel_from = p->marked.from_px >= 0 ? p->marked.from_px : lo;
    c->sel_to = p->marked.to_px;
  } else {
    c->sel_mode = x < lo ? 4 : x > hi ? 8 : 0;
    c->sel_from = c->sel_to = std::clamp(x, lo, hi);
  }
  c->view.select_from = c->sel_from;
  c->view.select_to = c->sel_to;
  widget_redraw(c);
  return 1;
}

void nc_drag_motion(widget *self, int32_t x, int32_t y, int n, drag_record *d) {
  auto *c = nuchart_cast(self);
  if (to_parent(c)) {
    if (self->parent) self->parent->cls->drag_motion(self->parent, x, y, n, d);
    return;
  }
  chart_plot *p = &c->plot;
  int32_t cx = std::clamp(x, axis_first(p), axis_last(p));
  if (c->sel_from >= 0) {
    if (c->sel_mode == 2)
      c->sel_from = cx;
    else
      c->sel_to = cx;
    c->view.select_from = c->sel_from;
    c->view.select_to = c->sel_to;
    widget_redraw(c);
  }
  if (c->drag_fn) {
    ss_time t = time_at(p, cx);
    if (t) c->drag_fn(c, t, c->drag_ctx, c->drag_n);
  }
}

int nc_drag_release(widget *self, widget *target, int32_t x, int32_t y, int buttons, drag_record *d) {
  auto *c = nuchart_cast(self);
  if (to_parent(c))
    return self->parent ? self->parent->cls->drag_release(self->parent, target, x, y, buttons, d) : 0;
  if (c->sel_from >= 0 && c->plot.controlled) finish_selection(c, c->sel_from, c->sel_to, c->sel_mode);
  return 0;
}

void nc_release(widget *self, int32_t x, int32_t y, int button) {
  auto *c = nuchart_cast(self);
  if (to_parent(c)) {
    if (self->parent) self->parent->cls->release(self->parent, x, y, button);
    return;
  }
  if (button != 1) return;
  if (c->news_item) {
    news_open_item(c, c->plot.issuer, c->news_item);
    return;
  }
  if (c->news_from) {
    // The issuer's first announcement inside the span pointed at.
    ss_issuer *is = c->plot.issuer;
    for (const ss_news *item = is ? is->news.head : nullptr; item; item = item->next)
      if (item->time && item->time >= c->news_from && item->time < c->news_to) {
        news_open_item(c, is, item);
        break;
      }
    return;
  }
  chart_plot *p = &c->plot;
  if (c->click_fn) {
    ss_time t = in_plot(p, x, y) ? time_at(p, x) : 0;
    if (t) c->click_fn(c, t, c->click_ctx, c->click_n);
    return;
  }
  if (p->controlled && p->count > 0 && in_plot(p, x, y)) {
    int32_t cx = std::clamp(x, axis_first(p), axis_last(p));
    finish_selection(c, cx, cx, 0);
  }
}

}  // namespace

void nuchart_input_slots(content_class *k) {
  k->motion = nc_motion;
  k->enter = nc_enter;
  k->leave = nc_leave;
  k->key_press = nc_key_press;
  k->key_release = nc_key_release;
  k->drag_begin = nc_drag_begin;
  k->drag_motion = nc_drag_motion;
  k->drag_release = nc_drag_release;
  k->release = nc_release;
}

nuchart_selection_out nuchart_selection_span(const nuchart_selection_in &in) {
  nuchart_selection_out out{};
  ss_time from = in.mode == 4 ? in.earliest : in.t0;
  ss_time to = in.mode == 8 ? in.now : in.t1;
  if (in.x1 - in.x0 >= kGrab && from != to) {
    out.action = 1;
    out.from = from;
    out.to = to;
    // An end at or past the data's edge stays open.
    out.from_type = from <= in.first ? 6 : 1;
    out.to_type = to >= in.last ? (in.eod ? 6 : 5) : 1;
    if (out.from_type != 1) out.from = 0;
    if (out.to_type != 1) out.to = 0;
    return out;
  }
  if (in.controlled_range == 1 && in.x1 >= in.axis_end) {
    out.action = 3;
    out.from_type = in.controlled_from_type;
    out.to_type = 5;
    return out;
  }
  out.action = 2;
  out.centre = to;
  out.from_type = out.to_type = 1;
  return out;
}

int32_t nuchart_news_mark_at(double count, int32_t pane_y, int32_t pane_h, int32_t icon_h, int32_t y) {
  if (count == kChartNoValue || count < 1 || icon_h <= 0) return -1;
  int32_t n = count > 2e9 ? 2000000000 : (int32_t)count;
  // As painted: the price-sensitive items' marks (thousands), then the
  // others' (below 1000), one icon and a pixel each, none past the pane.
  int64_t marks = (int64_t)(n / 1000) + n % 1000;
  int64_t room = pane_h / (icon_h + 1);
  marks = std::min(marks, room);
  int32_t top = pane_y + 1;
  if (y < top) return -1;
  int64_t k = (y - top) / (icon_h + 1);
  return k < marks ? (int32_t)k : -1;
}
