// The chart panel. Its controls are made once, except the overlay and
// indicator rows, which a refresh keeps in step with the chart's lists (a
// row is a flyaway of its own class between its list's header and the next
// header, so it can be dragged onto another row or onto a remover). Every
// edit but the data switch pushes the chart's style to undo, calls the
// chart's setters and posts the after-draw step, which makes the style take
// the chart's settings (cstyle_apply) so every chart on the style follows;
// that step runs after the next redraw and once more after the one after.
// The panel keeps no settings of the chart: refresh reads them back, except
// the two saved views (one per data mode), which only the panel remembers.
#include "tools/charttools.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "action.h"
#include "charts/cstyle.h"
#include "charts/nuchart.h"
#include "charts/paint.h"
#include "charts/ta.h"
#include "dnd.h"
#include "lib/colour.h"
#include "log.h"
#include "screen/screen.h"
#include "ssmodel.h"
#include "style.h"
#include "tools/panelkit.h"
#include "ui/box.h"
#include "ui/deck.h"
#include "ui/flyaway.h"
#include "ui/gui.h"
#include "ui/label.h"
#include "ui/sizer.h"
#include "ui/spinner.h"
#include "ui/textbox.h"
#include "undo.h"
#include "windows/nuchart.h"
#include "windows/window.h"

static const char kSrc[] = "charttools";

// Class slots over the tools class: geometry_changed, restyle, summary,
// refresh, build. The rows' class over the flyaway: drag_begin,
// drag_release.
static void ct_relayout(widget *self);
static void ct_restyle(widget *self);
static const char *ct_summary(tools *self);
static void ct_refresh(tools *self);
static widget *ct_build(tools *self);

constexpr uint32_t kOverviewOptions = 0x1029B1;
constexpr int32_t kOverviewColour = 97;
constexpr uint32_t kOptLegends = 0x4, kOptThick = 0x200, kOptColorize = 0x1000, kOptAdjust = 0x10000,
                   kOptBlack = 0x200000;
constexpr int32_t kOverlayVolume = 9, kOverlayNews = 13, kOverlayVwap = 14;
constexpr int32_t kDataIntraday = 15, kDataEod = 22;
constexpr int32_t kRangeMonthIntraday = 24, kRangeMonth = 15;
constexpr int32_t kFileSave = 0, kFileNew = -1, kFileRemove = -4;

enum { kListOverlays = 0, kListIndicators = 1 };

// A row of the overlay or indicator list.
struct ct_row : flyaway {
  charttools *panel;
  int32_t list;    // kListOverlays or kListIndicators
  int32_t type;    // the registry number it shows
  widget *controls[3];  // spinner, toggle button or null per parameter
  hbox *holder;    // the row's content
};

static struct {
  object_type_cache type, row_type;
  uint8_t refreshing;  // one refresh at a time, for every panel
  std::string summary;
} S;

static charttools *as_ct(widget *w) { return static_cast<charttools *>(w); }
static nuchart *chart_of(charttools *p) { return p->owner && nuchart_is(p->owner) ? nuchart_cast(p->owner) : nullptr; }
static typeid_t row_type();
static bool is_row(const widget *w) { return w && object_is_a(reinterpret_cast<const object *>(w), row_type()); }

// ---- presets ---------------------------------------------------------------

static int32_t preset_id(const cstyle_preset *table, int32_t kind, int32_t count) {
  for (const cstyle_preset *r = table; r->kind != -1; r++)
    if (r->kind == kind && (r->count == -1 || r->count == count)) return r->entry;
  return -1;
}

static bool preset_of(const cstyle_preset *table, int32_t id, int32_t *kind, int32_t *count) {
  for (const cstyle_preset *r = table; r->kind != -1; r++)
    if (r->entry == id) {
      *kind = r->kind;
      *count = r->count == -1 ? 1 : r->count;
      return true;
    }
  return false;
}

int32_t charttools_range_id(int32_t kind, int32_t count, int eod) {
  int32_t id = preset_id(cstyle_range_presets, kind, count);
  if (id == kRangeMonth && !eod) id = kRangeMonthIntraday;
  return id;
}

int32_t charttools_period_id(int32_t kind, int32_t count) { return preset_id(cstyle_period_presets, kind, count); }

void charttools_range_of(int32_t id, int32_t *kind, int32_t *count) {
  if (id == kRangeMonthIntraday) id = kRangeMonth;
  if (!preset_of(cstyle_range_presets, id, kind, count)) *kind = 1, *count = 1;
}

void charttools_period_of(int32_t id, int32_t *kind, int32_t *count) {
  if (!preset_of(cstyle_period_presets, id, kind, count)) *kind = 9, *count = 1;
}

int charttools_period_class(int32_t period, int32_t range) {
  if (period >= 1 && period <= 4) return 0;
  if (period >= 5 && period <= 8) return 1;
  return range >= 7 && range <= 9 ? 1 : 0;
}

float charttools_shown_value(float value, int32_t decimals, double minimum, double maximum) {
  // The spinner's own settling: bounds (a bound of kTaNoBound is none),
  // then the text with its decimals read back.
  double v = value;
  if (minimum > -kTaNoBound && v < minimum) v = minimum;
  if (maximum < kTaNoBound && v > maximum) v = maximum;
  if (decimals < 0) decimals = 0;
  if (decimals > 20) decimals = 20;
  char text[68];
  snprintf(text, sizeof text, "%.*f", decimals, double(float(v)));
  float out = float(v);
  sscanf(text, "%f", &out);
  return out;
}

// ---- the summary ---------------------------------------------------------------

static void add(std::string &o, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
static void add(std::string &o, const char *fmt, ...) {
  char b[128];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(b, sizeof b, fmt, ap);
  va_end(ap);
  o += b;
}

static void add_date(std::string &o, ss_time t) {
  static const char *const kMonths[13] = {"???",  "January", "February", "March",     "April",   "May",     "June",
                                          "July", "August",  "September", "October", "November", "December"};
  sstime_parts pt{};
  sstime_unpack(&pt, t);
  add(o, "%2d %.3s %04d", pt.mday, kMonths[pt.mon >= 1 && pt.mon <= 12 ? pt.mon : 0], pt.year);
}

static void add_time(std::string &o, ss_time t) {
  sstime_parts pt{};
  sstime_unpack(&pt, t);
  add(o, "%2d:%02d", pt.hour, pt.min);
}

std::string charttools_summary_text(const charttools_summary_in &in) {
  std::string o;
  if (in.style_id > 0 && in.style_name) add(o, ", %s", in.style_name);
  static const char *const kEvery[8] = {"SECONDS", "MINUTES", "HOURS",  "SESSIONS",
                                        "DAYS",    "WEEKS",   "MONTHS", "YEARS"};
  static const char *const kPer[8] = {"PER SECOND", "PER MINUTE", "PER HOUR", "PER SESSION",
                                      nullptr,      "WEEKLY",     "MONTHLY",  "YEARLY"};
  if (in.period >= 1 && in.period <= 8) {
    int k = in.period - 1;
    if (in.period_count == 1) {
      if (kPer[k]) add(o, ", %s", kPer[k]);
    } else {
      add(o, ", EVERY %d %s", in.period_count, kEvery[k]);
    }
  }
  if (in.has_span && in.start && in.end) {
    if (sstime_date_compare(in.start, in.today) != 0) {
      if (sstime_date_compare(in.end, in.start) != 0) {
        o += ", FROM ";
        add_date(o, in.start);
        if (sstime_date_compare(in.end, in.latest) < 0) {
          o += ", TO ";
          add_date(o, in.end);
        }
      } else {
        o += ", ON ";
        add_date(o, in.start);
      }
    } else {
      o += ", TODAY";
      if (!in.view_at_first) {
        o += ", FROM ";
        add_time(o, in.start);
      }
      if (!in.end_is_live && in.close && in.end < in.close) {
        o += ", TO ";
        add_time(o, in.end);
      }
      if (o == ", TODAY") o.clear();
    }
  }
  for (char &ch : o) ch = char(toupper(static_cast<unsigned char>(ch)));
  return o.size() >= 2 ? o.substr(2) : std::string();
}

static const char *ct_summary(tools *self) {
  charttools *p = as_ct(self);
  nuchart *c = chart_of(p);
  S.summary.clear();
  if (!c) return "";
  const chart_plot &pl = c->plot;
  charttools_summary_in in{};
  in.style_id = pl.style ? pl.style->id : 0;
  in.style_name = pl.style ? pl.style->name : nullptr;
  in.period = pl.period;
  in.period_count = pl.period_count;
  if (pl.count > 0 && pl.times && pl.main && pl.main->exchange) {
    const ss_exchange *ex = pl.main->exchange;
    in.has_span = 1;
    in.start = pl.times[pl.first_visible];
    in.end = pl.times[pl.last_visible];
    in.today = ex->date;
    in.latest = ssmodel_exchange_now(ex);
    in.close = ssmodel_exchange_close_time(ex);
    in.view_at_first = pl.first_visible == 0;
    in.end_is_live = pl.to_type == 5;
  }
  S.summary = charttools_summary_text(in);
  return S.summary.c_str();
}

// ---- small services ----------------------------------------------------------

static uint32_t fly_colour() {
  const style *st = style_cur();
  return st ? style_colour(st, SC_PANEL_LIGHT) | 0xff000000u : 0xff404040u;
}
static int32_t panel_font() {
  const style *st = style_cur();
  return st ? st->font[0] : 0;
}
static uint32_t colour97() {
  const style *st = style_cur();
  return st ? style_colour(st, kOverviewColour) | 0xff000000u : 0xff202020u;
}

static void relayout(charttools *p) {
  window *w = tools_window_of(p);
  widget *target = w ? static_cast<widget *>(w) : static_cast<widget *>(p);
  target->cls->geometry_changed(target);
  widget_redraw(target);
}

// The after-draw step: the chart's style takes the chart's settings (every
// chart on it follows) and the window's title is brought up to date; n more
// runs after later redraws.
static void after_draw(void *arg, int n) {
  charttools *p = as_ct(static_cast<widget *>(arg));
  nuchart *c = chart_of(p);
  if (c && c->plot.style) cstyle_apply(c->plot.style, &c->plot);
  if (window *w = tools_window_of(p)) window_update_title(w);
  if (n > 0) gui_promise_after_draw(after_draw, p, n - 1);
}
static void post_after_draw(charttools *p) {
  gui_promise_cancel_after(after_draw, p, 0);
  gui_promise_cancel_after(after_draw, p, 1);
  gui_promise_after_draw(after_draw, p, 1);
}

// Every chart edit but the data switch starts here: the chart's style as it
// is, as one undo step.
static nuchart *begin_edit(charttools *p) {
  nuchart *c = chart_of(p);
  if (!c) return nullptr;
  undo_begin();
  undo_push_chart_style(c);
  undo_end();
  return c;
}

// ---- rows ----------------------------------------------------------------------

static const ta_def *def_of(int32_t list, int32_t type) {
  return list == kListOverlays ? ta_overlay_def(type) : ta_indicator_def(type);
}
static chart_ta *items_of(nuchart *c, int32_t list) {
  return list == kListOverlays ? c->plot.overlays : c->plot.indicators;
}
static flyaway *header_of(charttools *p, int32_t list) {
  return p->section[list == kListOverlays ? CHARTTOOLS_OVERLAYS : CHARTTOOLS_INDICATORS];
}
static flyaway *next_header_of(charttools *p, int32_t list) {
  return p->section[list == kListOverlays ? CHARTTOOLS_INDICATORS : CHARTTOOLS_RANGE];
}

static std::vector<ct_row *> rows_of(charttools *p, int32_t list) {
  std::vector<ct_row *> out;
  if (!p->box) return out;
  widget *head = header_of(p, list), *stop = next_header_of(p, list);
  bool in = false;
  for (box_node *n = p->box->first; n; n = n->next) {
    if (n->child == head) {
      in = true;
      continue;
    }
    if (n->child == stop) break;
    if (in && is_row(n->child)) out.push_back(static_cast<ct_row *>(n->child));
  }
  return out;
}

static int32_t index_of(ct_row *r) {
  std::vector<ct_row *> rows = rows_of(r->panel, r->list);
  for (size_t i = 0; i < rows.size(); i++)
    if (rows[i] == r) return int32_t(i);
  return -1;
}

static uint32_t row_colour(charttools *p, const ta_def *def) {
  nuchart *c = chart_of(p);
  uint32_t options = c ? c->plot.options : 0;
  // The palette the chart paints its lines from (entry 18 + the line's).
  int32_t e = def && def->line_count > 0 ? def->lines[0].colour : -1;
  uint32_t col = e >= 0 ? chart_colour(paint_colour_set(options), 18 + e) : 0;
  if (!col) return fly_colour();
  return colour_lighten(col | 0xff000000u, 15) | 0xff000000u;
}

static void spinner_look(int32_t out[kSpinnerStyle]) {
  const style *st = style_cur();
  uint32_t entry = st ? style_colour(st, SC_GRID_BACKGROUND) | 0xff000000u : 0xff202020u;
  uint32_t border = st ? style_colour(st, SC_OUTLINE) | 0xff000000u : 0xff808080u;
  int32_t v[kSpinnerStyle] = {panel_font(), int32_t(0xffffffffu), int32_t(colour_lighten(entry, 60)),
                              int32_t(colour_darken(border, 30)), 0, 0, 0, 0, 0, 0};
  memcpy(out, v, sizeof v);
}

static void on_param_spinner(spinner *s, void *arg, int32_t n);
static void on_param_toggle(button *b, uint32_t state, void *arg, int32_t n);

// The row's controls for the values (null: the definition's defaults).
static void fill_row(ct_row *r, const float *values) {
  if (r->holder) {
    container_cls(r)->remove(r, r->holder);
    widget_delete(r->holder);
    r->holder = nullptr;
  }
  memset(r->controls, 0, sizeof r->controls);
  r->holder = hbox_new(r, 0, 2);
  const ta_def *def = def_of(r->list, r->type);
  int32_t look[kSpinnerStyle];
  spinner_look(look);
  padding pad;
  padding_set(&pad, 2, 4, 2, 4);
  int n = def ? std::min(def->param_count, 3) : 0;
  for (int i = 0; i < n; i++) {
    const ta_param &pm = def->params[i];
    float v = values ? values[i] : pm.def;
    if (pm.step > 0) {
      float lo = float(pm.min), hi = pm.max >= kTaNoBound ? float(kTaNoBound) : float(pm.max);
      auto *sp = spinner_new(r->holder, pm.name ? pm.name : "", pm.decimals, look, &pad, on_param_spinner, r, i, v,
                             lo, hi, float(pm.step));
      if (sp) spinner_set_value(sp, v);  // the value it shows, within its bounds
      r->controls[i] = sp;
    } else {
      button *b = button_new(r->holder, pm.name ? pm.name : "", -1, 0,
                             BUTTON_TOGGLE | BUTTON_STYLE_FONT | BUTTON_CENTRE_X | BUTTON_CENTRE_Y, nullptr,
                             style_button_colours(), on_param_toggle, r, i);
      button_set_active(b, v > 0);
      r->controls[i] = b;
    }
  }
  if (widget_is_shown(r)) r->cls->show_children(r);
}

static ct_row *new_row(charttools *p, int32_t list, int32_t type, const float *values) {
  const ta_def *def = def_of(list, type);
  padding pad;
  padding_set(&pad, 4, 4, 3, 4);
  auto *r = static_cast<ct_row *>(widget_new(nullptr, row_type()));
  if (!r) return nullptr;
  // flyaway_new makes plain flyaways only: the row takes the set-up of one
  // made the usual way (its strip's margins are the toolkit's own sums).
  flyaway *tmpl = flyaway_new(nullptr, def ? def->name : "?", 1, panel_font(), row_colour(p, def), 0, &pad);
  if (tmpl) {
    memcpy(r->title, tmpl->title, sizeof r->title);
    memcpy(r->caption, tmpl->caption, sizeof r->caption);
    r->orientation = tmpl->orientation;
    r->font = tmpl->font;
    r->fourth = tmpl->fourth;
    r->base_bg = tmpl->base_bg;
    r->bg = tmpl->bg;
    r->pad = tmpl->pad;
    r->inner = tmpl->inner;
    widget_delete(tmpl);
  }
  if (def) flyaway_set_caption(r, def->short_name);
  r->panel = p;
  r->list = list;
  r->type = type;
  fill_row(r, values);
  return r;
}

static void rebuild_row(ct_row *r, const chart_ta *ta) {
  const ta_def *def = def_of(r->list, ta->type);
  r->type = ta->type;
  if (def) flyaway_set_title(r, def->short_name);
  flyaway_set_bg_all(r, row_colour(r->panel, def));
  fill_row(r, ta->params);
}

// What a row's control for parameter n reads.
static float control_value(ct_row *r, int n) {
  widget *w = r->controls[n];
  if (!w) return -1.0f;
  if (object_is_a(widget_obj(w), spinner_type())) return spinner_value(static_cast<spinner *>(w));
  return (static_cast<button *>(w)->state & BUTTON_ACTIVE) ? 1.0f : 0.0f;
}

// What the control would read when it showed the chart's value: a spinner
// cannot show more decimals than its own nor a value beyond its bounds, a
// toggle only on or off. Comparing with this rather than with the value
// itself keeps a row whose value the control cannot show from being rebuilt
// at every refresh (which would also take the focus from a spinner being
// typed in).
static float expected_value(const ta_param &pm, float value) {
  if (pm.step > 0) return charttools_shown_value(value, pm.decimals, pm.min, pm.max);
  return value > 0 ? 1.0f : 0.0f;
}

static bool row_differs(ct_row *r, const chart_ta *ta) {
  const ta_def *def = def_of(r->list, ta->type);
  int n = def ? std::min(def->param_count, 3) : 0;
  for (int i = 0; i < n; i++)
    if (control_value(r, i) != expected_value(def->params[i], ta->params[i])) return true;
  return false;
}

// Brings a list's rows into line with the chart's items; true when a row
// was added, removed or rebuilt.
static bool sync_rows(charttools *p, int32_t list) {
  nuchart *c = chart_of(p);
  if (!c || !p->box) return false;
  std::vector<ct_row *> rows = rows_of(p, list);
  bool changed = false;
  size_t i = 0;
  for (chart_ta *ta = items_of(c, list); ta; ta = ta->next, i++) {
    if (i < rows.size()) {
      ct_row *r = rows[i];
      if (r->type != ta->type || row_differs(r, ta)) {
        rebuild_row(r, ta);
        changed = true;
      }
      continue;
    }
    ct_row *r = new_row(p, list, ta->type, ta->params);
    if (!r) continue;
    box_cls(p->box)->add_before(p->box, r, next_header_of(p, list));
    if (widget_is_shown(p->box)) widget_show(r);
    changed = true;
  }
  for (; i < rows.size(); i++) {
    container_cls(p->box)->remove(p->box, rows[i]);
    widget_delete(rows[i]);
    changed = true;
  }
  return changed;
}

// ---- row editing ---------------------------------------------------------------

static void on_param_spinner(spinner *s, void *arg, int32_t n) {
  auto *r = static_cast<ct_row *>(arg);
  int32_t index = index_of(r);
  nuchart *c = begin_edit(r->panel);
  if (!c || index < 0) return;
  float v = spinner_value(s);
  if (r->list == kListOverlays)
    nuchart_set_overlay_param(c, index, n, v);
  else
    nuchart_set_indicator_param(c, index, n, v);
  post_after_draw(r->panel);
}

static void on_param_toggle(button *b, uint32_t state, void *arg, int32_t n) {
  if (!panelkit_is_click(state)) return;
  auto *r = static_cast<ct_row *>(arg);
  int32_t index = index_of(r);
  nuchart *c = begin_edit(r->panel);
  if (!c || index < 0) return;
  float v = (b->state & BUTTON_ACTIVE) ? 1.0f : 0.0f;
  if (r->list == kListOverlays)
    nuchart_set_overlay_param(c, index, n, v);
  else
    nuchart_set_indicator_param(c, index, n, v);
  post_after_draw(r->panel);
}

static ct_row *row_above(widget *w) {
  for (; w; w = w->parent)
    if (is_row(w)) return static_cast<ct_row *>(w);
  return nullptr;
}

int charttools_row_dropped(flyaway *row, widget *target) {
  if (!is_row(row) || !target) return 0;
  auto *r = static_cast<ct_row *>(row);
  charttools *p = r->panel;
  int32_t from = index_of(r);
  ct_row *other = row_above(target);
  if (other && other != r && other->panel == p && other->list == r->list) {
    int32_t to = index_of(other);
    nuchart *c = begin_edit(p);
    if (!c || from < 0 || to < 0) return 0;
    float a[3], b[3];
    bool ov = r->list == kListOverlays;
    int32_t ta = ov ? nuchart_find_overlay(c, from, a) : nuchart_find_indicator(c, from, a);
    int32_t tb = ov ? nuchart_find_overlay(c, to, b) : nuchart_find_indicator(c, to, b);
    if (ta < 0 || tb < 0) return 0;
    if (ov) {
      nuchart_replace_overlay(c, from, tb, b);
      nuchart_replace_overlay(c, to, ta, a);
    } else {
      nuchart_replace_indicator(c, from, tb, b);
      nuchart_replace_indicator(c, to, ta, a);
    }
    sync_rows(p, r->list);
    post_after_draw(p);
    relayout(p);
    return 1;
  }
  if (other || !screen_is_remover(target)) return 0;
  nuchart *c = begin_edit(p);
  if (!c || from < 0) return 0;
  if (r->list == kListOverlays)
    nuchart_remove_overlay(c, from);
  else
    nuchart_remove_indicator(c, from);
  container_cls(p->box)->remove(p->box, r);
  widget_delete(r);
  post_after_draw(p);
  relayout(p);
  tools_refresh_later(p);
  return 1;
}

static int row_drag_begin(widget *self, int32_t x, int32_t y, int n, drag_record *d) {
  (void)x, (void)y;
  if (n != 1) return 0;
  dnd_begin_tool_entry();
  if (d) d->w = self;
  return 1;
}

static int row_drag_release(widget *self, widget *target, int32_t, int32_t, int, drag_record *) {
  charttools_row_dropped(static_cast<flyaway *>(self), target);
  return 0;  // the target receives no drop
}

static void row_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->drag_begin = row_drag_begin;
  c->drag_release = row_drag_release;
}

static typeid_t register_row() {
  return object_register_class("charttools_row", flyaway_type(), sizeof(ct_row), nullptr, nullptr,
                               int32_t(sizeof(container_class)), row_class_init, nullptr);
}
static typeid_t row_type() { return object_cached_type(&S.row_type, register_row); }

// ---- the chart's own controls ----------------------------------------------------

static void on_type(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<charttools *>(arg);
  nuchart *c = begin_edit(p);
  if (!c) return;
  nuchart_set_type(c, id);
  post_after_draw(p);
}

static void on_option(button *b, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<charttools *>(arg);
  nuchart *c = begin_edit(p);
  if (!c) return;
  bool on = b->state & BUTTON_ACTIVE;
  uint32_t bit = uint32_t(id);
  if (on)
    nuchart_set_option_bits(c, bit);
  else
    nuchart_clear_option_bits(c, bit);
  if (bit == kOptAdjust && p->overview) {
    if (on)
      nuchart_set_option_bits(p->overview, bit);
    else
      nuchart_clear_option_bits(p->overview, bit);
  }
  post_after_draw(p);
}

static void open_row(charttools *p, int32_t list) {
  std::vector<ct_row *> rows = rows_of(p, list);
  if (!rows.empty()) fbox_open_flyaway(p->box, rows.back());
}

static void on_add_overlay(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<charttools *>(arg);
  nuchart *c = begin_edit(p);
  if (!c) return;
  if (nuchart_add_overlay(c, id, nullptr) < 0) return;
  sync_rows(p, kListOverlays);
  open_row(p, kListOverlays);
  post_after_draw(p);
  tools_refresh_later(p);
  relayout(p);
}

static void on_add_indicator(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<charttools *>(arg);
  nuchart *c = begin_edit(p);
  if (!c) return;
  if (nuchart_add_indicator(c, id, nullptr) < 0) return;
  sync_rows(p, kListIndicators);
  const ta_def *def = ta_indicator_def(id);
  if (def && def->param_count > 0) open_row(p, kListIndicators);
  relayout(p);
  tools_refresh_later(p);
  post_after_draw(p);
}

static void on_range(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<charttools *>(arg);
  nuchart *c = begin_edit(p);
  if (!c) return;
  int32_t kind = 1, count = 1;
  charttools_range_of(id, &kind, &count);
  nuchart_set_times(c, 1, 0, 5, 0);
  nuchart_set_range(c, kind, count);
  charttools_view &v = p->view[p->mode];
  v.range = kind;
  v.range_count = count;
  v.from = v.to = 0;
  post_after_draw(p);
  tools_refresh_later(p);
}

static void on_period(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<charttools *>(arg);
  nuchart *c = begin_edit(p);
  if (!c) return;
  int32_t kind = 9, count = 1;
  charttools_period_of(id, &kind, &count);
  nuchart_set_period(c, kind, count);
  p->view[p->mode].period = kind;
  p->view[p->mode].period_count = count;
  post_after_draw(p);
  tools_refresh_later(p);
}

static void show_mode(charttools *p, int eod) {
  if (p->range_deck) deck_show_page(p->range_deck, eod ? 1 : 0);
  if (p->period_deck) deck_show_page(p->period_deck, eod ? 1 : 0);
  if (p->overview) {
    nuchart_set_range(p->overview, eod ? 9 : 6, 1);
    nuchart_set_period(p->overview, eod ? 5 : 2, 1);
  }
}

static void select_period(charttools *p, nuchart *c) {
  int32_t id = charttools_period_id(c->plot.period, c->plot.period_count);
  if (id < 0) log(LOG_WARN, kSrc, "didn't find match for period %d", c->plot.period);
  panelkit_select(&p->period_group, id);
}

static void on_data(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<charttools *>(arg);
  int eod = id == kDataEod ? 1 : 0;
  nuchart *c = p->overview ? static_cast<nuchart *>(p->overview->plot.controlled) : nullptr;
  // Explicit times (no range preset shown) are what the mode goes back to.
  if (c && !p->range_group.active) {
    ss_time first = 0, last = 0;
    nuchart_get_visible_span(c, &first, &last);
    if (first && last) {
      charttools_view &v = p->view[p->mode];
      v.range = kCharttoolsRangeSpan;
      v.range_count = 0;
      v.from = first;
      v.to = last;
    }
  }
  show_mode(p, eod);
  if (c) {
    const charttools_view &v = p->view[eod];
    nuchart_set_period(c, v.period, v.period_count);
    if (v.range == kCharttoolsRangeSpan && v.from && v.to)
      nuchart_set_times(c, 1, v.from, 1, v.to);
    else
      nuchart_set_range(c, v.range, v.range_count);
    select_period(p, c);
  }
  p->mode = eod;
  post_after_draw(p);
}

// ---- the style's name ------------------------------------------------------------

static void lists_changed() {
  screen_toolbars_rebuild_list2();
  screen_desktops_changed();
}

static void name_sensitivity(charttools *p) {
  nuchart *c = chart_of(p);
  cstyle *st = c ? c->plot.style : nullptr;
  if (!st) return;
  button_set_sensitive(p->save, cstyle_name_free(textbox_text(p->name)));
  button_set_sensitive(p->make_new, !cstyle_is_unnamed(st));
}

static void save_style(charttools *p) {
  nuchart *c = chart_of(p);
  cstyle *st = c ? c->plot.style : nullptr;
  if (!st) return;
  const char *text = textbox_text(p->name);
  undo_begin();
  undo_push_chart_style(c);
  cstyle_rename(st, text);
  if (text[0] && cstyle_is_unnamed(st)) {
    cstyle_set_id(st);
    undo_push_cstyle_created(st);
    action_set_last_chart_style(cstyle_get_id(st));
  }
  undo_end();
  button_set_sensitive(p->make_new, 1);
  button_set_sensitive(p->save, 0);
  button_set_text(p->save, "Rename");
  button_set_sensitive(p->remove, st->name[0] != 0);
  lists_changed();
  if (window *w = tools_window_of(p)) window_update_title(w);
}

static void new_style(charttools *p) {
  nuchart *c = chart_of(p);
  cstyle *st = c ? c->plot.style : nullptr;
  if (!st) return;
  fbox_touch_flyaway(p->box, p->section[CHARTTOOLS_FILE]);
  cstyle *copy = cstyle_clone(st);
  if (!copy) return;
  undo_begin();
  undo_push_cstyle_created(copy);
  undo_end();
  cstyle_rename(copy, nullptr);
  nuchart_set_cstyle(c, copy);
  lists_changed();
  tools_refresh_later(p);
}

static void remove_style(charttools *p) {
  nuchart *c = chart_of(p);
  cstyle *st = c ? c->plot.style : nullptr;
  if (!st) return;
  undo_begin();
  undo_push_cstyle_deleted(st);
  cstyle_unlink(st);
  undo_end();
  lists_changed();
  tools_refresh_later(p);
}

static void on_file(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<charttools *>(arg);
  switch (id) {
    case kFileSave: save_style(p); break;
    case kFileNew: new_style(p); break;
    case kFileRemove: remove_style(p); break;
    default: break;
  }
}

static void on_name(textbox *t, int code, void *arg, int32_t) {
  auto *p = static_cast<charttools *>(arg);
  nuchart *c = chart_of(p);
  if (!c || !c->plot.style) return;
  if (code == TEXTBOX_ENTER) {
    if (button_is_sensitive(p->save))
      save_style(p);
    else
      textbox_set_text(t, c->plot.style->name);
    return;
  }
  name_sensitivity(p);
}

// ---- build ---------------------------------------------------------------------

namespace {

struct builder {
  charttools *p;
  hbox *row = nullptr;
  vbox *col = nullptr;
  int in_col = 0;

  int which = 0;

  flyaway *section(int k, const char *title) {
    which = k;
    padding pad;
    padding_set(&pad, 4, 4, 3, 4);
    flyaway *f = flyaway_new(p->box, title, 1, panel_font(), fly_colour(), 0, &pad);
    p->section[which] = f;
    return f;
  }
  // A grid of columns of three controls in w (narrow enough for a chart
  // window half a screen wide to open a section beside the closed ones).
  void grid(widget *w) {
    row = hbox_new(w, 0, 2);
    col = nullptr;
    in_col = 0;
  }
  widget *slot() {
    if (!col || in_col == 3) {
      col = vbox_new(row, 0, 1);
      in_col = 0;
    }
    in_col++;
    return col;
  }
  button *btn(widget *parent, const char *text, int32_t id, button_fn fn, button_group *g = nullptr,
              uint32_t bits = 0) {
    button *k = button_new(parent, text, -1, 0, bits | BUTTON_STYLE_FONT | BUTTON_CENTRE_X | BUTTON_CENTRE_Y, g,
                           style_button_colours(), fn, p, id);
    if (k && p->made_count[which] < kCharttoolsSectionButtons) p->made[which][p->made_count[which]++] = k;
    return k;
  }
  button *cell(const char *text, int32_t id, button_fn fn, button_group *g = nullptr, uint32_t bits = 0) {
    return btn(slot(), text, id, fn, g, bits);
  }
};

struct entry {
  const char *text;
  int32_t id;
};

}  // namespace

static widget *ct_build(tools *self) {
  charttools *p = as_ct(self);
  builder b{p};
  p->box = fbox_new(nullptr, 1, 2);
  button_group_init(&p->type_group);
  button_group_init(&p->range_group);
  button_group_init(&p->period_group);
  button_group_init(&p->data_group);

  // File.
  flyaway *f = b.section(CHARTTOOLS_FILE, "File");
  b.grid(f);
  // As wide as the longest name a row gives a style ("XKeltner Channels"),
  // any length up to the style's own limit.
  p->name = textbox_new(b.slot(), "", -17, 0, nullptr, nullptr, on_name, p, 0);
  p->save = b.cell("Save", kFileSave, on_file);
  p->make_new = b.cell("New", kFileNew, on_file);
  p->remove = b.cell("Remove", kFileRemove, on_file);

  // Type.
  f = b.section(CHARTTOOLS_TYPE, "Type");
  b.grid(f);
  for (entry e : {entry{"Close", 1}, {"Step", 16}, {"Bars", 3}, {"Candlestick", 4}, {"HLC", 6},
                  {"CandleVolume", 5}, {"OHLC", 7}, {"EquiVolume", 11}, {"Dots", 2}})
    b.cell(e.text, e.id, on_type, &p->type_group);
  p->colorize = b.cell("Colorize", int32_t(kOptColorize), on_option, nullptr, BUTTON_TOGGLE);
  p->adjust = b.cell("Adjust", int32_t(kOptAdjust), on_option, nullptr, BUTTON_TOGGLE);

  // Overlays.
  f = b.section(CHARTTOOLS_OVERLAYS, "Overlays");
  b.grid(f);
  for (entry e : {entry{"SMA", 2}, {"Bollinger Bands", 4}, {"EMA", 3}, {"MA Envelopes", 5}, {"VWAP", 14},
                  {"Parabolic SAR", 8}, {"Volume", 9}, {"Keltner Channels", 6}, {"News", 13},
                  {"Price Channels", 7}}) {
    button *k = b.cell(e.text, e.id, on_add_overlay);
    if (e.id == kOverlayVolume) p->ov_volume = k;
    if (e.id == kOverlayNews) p->ov_news = k;
    if (e.id == kOverlayVwap) p->ov_vwap = k;
  }

  // Indicators.
  f = b.section(CHARTTOOLS_INDICATORS, "Indicators");
  b.grid(f);
  for (entry e : {entry{"Volume", 2}, {"+EMA", 3}, {"Performance", 1}, {"MACD", 5}, {"+Hist", 6}, {"RSI", 4},
                  {"Momentum", 33}, {"Stochastic", 15}, {"Slow", 16}, {"Fast", 17}, {"ADR", 39}, {"ATR", 40}})
    b.cell(e.text, e.id, on_add_indicator);

  // Range: the data group and Best Fit, the range deck, then the overview,
  // which takes the rest of the section's width and its height.
  f = b.section(CHARTTOOLS_RANGE, "Range");
  {
    hbox *h = hbox_new(f, 0, 4);
    vbox *first = vbox_new(h, 0, 1);
    b.btn(first, "Intraday", kDataIntraday, on_data, &p->data_group);
    b.btn(first, "End of day", kDataEod, on_data, &p->data_group);
    b.btn(first, "Best Fit", 0, on_range, &p->range_group);
    p->range_deck = deck_new(h);
    b.grid(p->range_deck);
    for (entry e : {entry{"5 Mins", 3}, {"15", 5}, {"30", 6}, {"Hour", 7}, {"2", 8}, {"Day", 11}, {"Week", 13},
                    {"Month", kRangeMonthIntraday}})
      b.cell(e.text, e.id, on_range, &p->range_group);
    b.grid(p->range_deck);
    for (entry e : {entry{"Month", kRangeMonth}, {"3", 16}, {"6", 17}, {"Year", 19}, {"2", 20}, {"5", 21},
                    {"All", 22}})
      b.cell(e.text, e.id, on_range, &p->range_group);
    padding none;
    padding_set(&none, 0, 0, 0, 0);
    sizer *room = sizer_new(h, SIZER_FILL_W | SIZER_FILL_H | SIZER_EXPAND_V, nullptr, &none, 0.0f);
    p->overview = nuchart_cast(nuchart_new(room));
  }

  // Period.
  f = b.section(CHARTTOOLS_PERIOD, "Period");
  p->period_deck = deck_new(f);
  b.grid(p->period_deck);
  for (entry e : {entry{"None", 23}, {"Per Sec", 1}, {"Per Min", 2}, {"5", 3}, {"10", 4}, {"15", 5}, {"30", 6},
                  {"Hourly", 7}, {"AM/PM", 10}})
    b.cell(e.text, e.id, on_period, &p->period_group);
  b.grid(p->period_deck);
  for (entry e : {entry{"Daily", 11}, {"Weekly", 13}, {"Monthly", 15}}) b.cell(e.text, e.id, on_period, &p->period_group);

  // Display.
  f = b.section(CHARTTOOLS_DISPLAY, "Display");
  b.grid(f);
  p->black = b.cell("Black", int32_t(kOptBlack), on_option, nullptr, BUTTON_TOGGLE);
  button_set_text2(p->black, "White");  // what it reads while off
  p->thick = b.cell("Thick", int32_t(kOptThick), on_option, nullptr, BUTTON_TOGGLE);
  p->legends = b.cell("Legends", int32_t(kOptLegends), on_option, nullptr, BUTTON_TOGGLE);

  fbox_set_flyaway_weight(p->box, p->section[CHARTTOOLS_RANGE], 1);
  deck_set_bg(p->range_deck, colour97());
  deck_set_bg(p->period_deck, colour97());
  flyaway_set_caption(p->section[CHARTTOOLS_OVERLAYS], "Overlays");
  flyaway_set_caption(p->section[CHARTTOOLS_INDICATORS], "Indicators");
  deck_show_page(p->range_deck, 0);
  deck_show_page(p->period_deck, 0);

  // The overview: all of the data, daily, as a close line with volume.
  if (nuchart *ov = p->overview) {
    nuchart_set_range(ov, 9, 0);
    nuchart_set_period(ov, 5, 1);
    nuchart_set_type(ov, 1);
    nuchart_set_background(ov, colour97());
    nuchart_clear_overlays(ov);
    nuchart_add_overlay(ov, kOverlayVolume, nullptr);
    nuchart_clear_indicators(ov);
    nuchart_set_options(ov, kOverviewOptions);
  }
  return p->box;
}

// ---- refresh -------------------------------------------------------------------

static bool has_overlay(nuchart *c, int32_t type) {
  for (chart_ta *ta = c->plot.overlays; ta; ta = ta->next)
    if (ta->type == type) return true;
  return false;
}

static void ct_refresh(tools *self) {
  if (S.refreshing) return;
  charttools *p = as_ct(self);
  nuchart *c = chart_of(p);
  if (!c || !c->plot.style) return;
  S.refreshing = 1;
  const chart_plot &pl = c->plot;
  cstyle *st = pl.style;
  // 1-2: the chart up to date, the name.
  nuchart_update_now(c);
  if (!gui_has_focus(p->name)) textbox_set_text(p->name, st->name);
  // 3-4: type, Adjust.
  panelkit_select(&p->type_group, pl.type);
  bool adjust = pl.options & kOptAdjust;
  button_set_active(p->adjust, adjust);
  if (p->overview) {
    if (adjust)
      nuchart_set_option_bits(p->overview, kOptAdjust);
    else
      nuchart_clear_option_bits(p->overview, kOptAdjust);
  }
  // 5: the range preset.
  panelkit_select(&p->range_group, charttools_range_id(pl.range, pl.range_count, pl.eod));
  button_group_set_sensitive(&p->period_group, 23, 1);
  button_group_set_sensitive(&p->period_group, 1, 1);
  // 6: the data kind.
  panelkit_select(&p->data_group, pl.eod ? kDataEod : kDataIntraday);
  deck_show_page(p->range_deck, pl.eod ? 1 : 0);
  deck_show_page(p->period_deck, pl.eod ? 1 : 0);
  // 7: the period preset.
  select_period(p, c);
  // 8: the display toggles.
  button_set_active(p->colorize, (pl.options & kOptColorize) != 0);
  button_set_active(p->black, (pl.options & kOptBlack) != 0);
  button_set_active(p->thick, (pl.options & kOptThick) != 0);
  button_set_active(p->legends, (pl.options & kOptLegends) != 0);
  // 9: the rows.
  bool rows = sync_rows(p, kListOverlays);
  rows = sync_rows(p, kListIndicators) || rows;
  p->rows_changed = rows;
  // 10: sensitivity.
  bool a = !(pl.main && pl.main->kind == kKindIndex);
  button_set_sensitive(p->adjust, a);
  button_set_sensitive(p->ov_volume, a && !has_overlay(c, kOverlayVolume));
  button_set_sensitive(p->ov_news, a && !has_overlay(c, kOverlayNews));
  button_set_sensitive(p->ov_vwap, a && !pl.eod && !has_overlay(c, kOverlayVwap));
  // 11: the style commands.
  button_set_sensitive(p->save, cstyle_name_free(textbox_text(p->name)));
  button_set_text(p->save, st->id > 0 ? "Rename" : "Save");
  button_set_sensitive(p->make_new, !cstyle_is_unnamed(st));
  button_set_sensitive(p->remove, st->name[0] != 0);
  // 12: the saved view of the chart's mode takes its period.
  int cls = charttools_period_class(pl.period, pl.range);
  if (!pl.eod && cls == 0) {
    p->view[0].period = pl.period;
    p->view[0].period_count = pl.period_count;
  } else if (pl.eod && cls == 1) {
    p->view[1].period = pl.period;
    p->view[1].period_count = pl.period_count;
  }
  // 13: new or rebuilt rows need room.
  if (rows) tools_base()->geometry_changed(p);
  S.refreshing = 0;
}

// ---- class ---------------------------------------------------------------------

static void row_colours(charttools *p) {
  for (int list : {kListOverlays, kListIndicators})
    for (ct_row *r : rows_of(p, list)) flyaway_set_bg_all(r, row_colour(p, def_of(list, r->type)));
}

static void ct_restyle(widget *self) {
  charttools *p = as_ct(self);
  tools_base()->restyle(self);
  uint32_t c = colour97();
  if (p->overview) nuchart_set_background(p->overview, c);
  if (p->range_deck) deck_set_bg(p->range_deck, c);
  if (p->period_deck) deck_set_bg(p->period_deck, c);
  row_colours(p);
}

static void ct_relayout(widget *self) {
  charttools *p = as_ct(self);
  if (p->overview) nuchart_set_period(p->overview, 0, 1);
  tools_base()->geometry_changed(self);
}

static void ct_init(object *o) {
  auto *p = reinterpret_cast<charttools *>(o);
  p->view[0] = {1, 1, 0, 0, 2, 1};
  p->view[1] = {1, 1, 0, 0, 5, 1};
  p->mode = 0;
}

// The chart keeps a link to its panel and the overview one to the chart:
// both go when the panel does.
static void ct_fini(object *o) {
  auto *p = reinterpret_cast<charttools *>(o);
  gui_promise_cancel(after_draw, p);
  nuchart *c = chart_of(p);
  if (c && c->plot.panel == p) c->plot.panel = nullptr;
  if (p->overview) nuchart_set_controlled(p->overview, nullptr);
}

static void ct_class_init(object_class *rec) {
  auto *c = static_cast<tools_class_rec *>(rec);
  c->geometry_changed = ct_relayout;
  c->restyle = ct_restyle;
  c->summary = ct_summary;
  c->refresh = ct_refresh;
  c->build = ct_build;
}

static typeid_t register_charttools() {
  return object_register_class("charttools", tools_class(), sizeof(charttools), ct_init, ct_fini,
                               sizeof(tools_class_rec), ct_class_init, nullptr);
}

typeid_t charttools_type() { return object_cached_type(&S.type, register_charttools); }

charttools *charttools_new(widget *parent, widget *chart) {
  auto *p = static_cast<charttools *>(panelkit_new_panel(parent, charttools_type(), chart));
  if (!p) return nullptr;
  if (chart && nuchart_is(chart)) nuchart_attach_tools(nuchart_cast(chart), p);
  return p;
}

void charttools_set_chart(tools *panel, nuchart *chart) {
  if (!charttools_is(panel)) return;
  charttools *p = as_ct(panel);
  if (p->overview) nuchart_set_controlled(p->overview, chart);
}

nuchart *charttools_overview(tools *panel) { return charttools_is(panel) ? as_ct(panel)->overview : nullptr; }

void charttools_set_instrument(tools *panel, instr *in) {
  if (!charttools_is(panel)) return;
  charttools *p = as_ct(panel);
  if (p->overview) nuchart_bind_any(p->overview, in);
  tools_refresh_later(p);
}

void charttools_set_eod(tools *panel, int on) {
  if (!charttools_is(panel)) return;
  charttools *p = as_ct(panel);
  panelkit_select(&p->data_group, on ? kDataEod : kDataIntraday);
  if (p->overview) {
    nuchart_set_range(p->overview, on ? 9 : 6, 1);
    nuchart_set_period(p->overview, on ? 5 : 2, 1);
  }
  if (p->range_deck) deck_show_page(p->range_deck, on ? 1 : 0);
  if (p->period_deck) deck_show_page(p->period_deck, on ? 1 : 0);
  p->mode = on ? 1 : 0;
}

void charttools_forget_chart(tools *panel) {
  if (!charttools_is(panel)) return;
  charttools *p = as_ct(panel);
  gui_promise_cancel(after_draw, p);
  if (p->overview) nuchart_set_controlled(p->overview, nullptr);
  p->owner = nullptr;
}

// ---- tests and actions -------------------------------------------------------------

button *charttools_button(charttools *p, int section, int32_t id) {
  if (section < 0 || section >= kCharttoolsSections) return nullptr;
  for (int32_t i = 0; i < p->made_count[section]; i++)
    if (p->made[section][i]->id == id) return p->made[section][i];
  return nullptr;
}

int32_t charttools_row_count(charttools *p, int list) { return int32_t(rows_of(p, list).size()); }

flyaway *charttools_row(charttools *p, int list, int32_t index) {
  std::vector<ct_row *> rows = rows_of(p, list);
  return index >= 0 && size_t(index) < rows.size() ? rows[size_t(index)] : nullptr;
}

int32_t charttools_row_type(flyaway *row) { return is_row(row) ? static_cast<ct_row *>(row)->type : -1; }

widget *charttools_row_control(flyaway *row, int n) {
  return is_row(row) && n >= 0 && n < 3 ? static_cast<ct_row *>(row)->controls[n] : nullptr;
}
