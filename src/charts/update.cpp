// Chart update and the live list.
//
// chart_update runs a fixed sequence over one chart's data block, each pass
// gated by the dirty bits its setters left: span and end-of-day decision,
// requests to the market-data client (each made once: the client marks the
// instrument or day record), the fill, periods, layout, time placement, the
// scales and the technical analysis, then value ranges and axes. The scales
// rewrite the freshly filled samples in place, so they run only on an update
// that filled, and after the time placement has fixed the first visible
// sample they are based on.
//
// The live list holds the shown charts whose end is "now". One 100 ms timer
// marks at most one due chart per tick, the one refreshed longest ago, and a
// global gate spreads n charts over about a second.
#include "charts/update.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "charts/align.h"
#include "charts/alloc.h"
#include "charts/axislist.h"
#include "charts/history.h"
#include "charts/nuchart.h"
#include "charts/period.h"
#include "charts/ta.h"
#include "charts/util.h"
#include "charts/yaxis.h"
#include "lib/timer.h"
#include "log.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "ui/gui.h"

static const char kSrc[] = "src/charts/update";

constexpr double kFlat = 1e-5;
constexpr int32_t kIndexDaysExchange = 2;  // the global exchange keeps no past index days
constexpr uint32_t kDataPasses = 0x67;
constexpr uint32_t kFetchPasses = 0x7;
constexpr uint32_t kDayLoaded = kRqTradesLoaded | kRqEventsLoaded;

static struct {
  update_hooks hooks;
  struct {
    chart_plot* head;
    chart_plot* tail;
    int32_t count;
    int32_t timer;
    float last;  // UI seconds of the last live refresh of any chart
  } live = {nullptr, nullptr, 0, -1, -1e9f};
} g;

// ---------------------------------------------------------------------------
// Hooks

static int no_shown(chart_plot*) { return 0; }
static void no_plot(chart_plot*) {}
static int not_changing(void) { return 0; }
static void no_call(void) {}
static int no_panel(chart_plot*) { return 0; }
static void no_eod(chart_plot*, int) {}
static void no_marker(chart_plot*, ss_time, ss_time) {}
static void* no_window(chart_plot*) { return nullptr; }
static void no_title(void*) {}
static ss_time clamped_now(const ss_exchange* ex) { return ssmodel_exchange_clamped_now(ex); }

static const update_hooks kDefaults = {no_shown, no_plot,  not_changing, no_call,          no_panel,     no_eod,
                                       no_marker, no_plot, no_window,    no_title, gui_time_seconds, clamped_now};

template <class F>
static void take(F& field, F given, F fallback) {
  field = given ? given : fallback;
}

void update_set_hooks(const update_hooks* h) {
  const update_hooks& d = kDefaults;
  update_hooks none{};
  if (!h) h = &none;
  take(g.hooks.shown, h->shown, d.shown);
  take(g.hooks.redraw, h->redraw, d.redraw);
  take(g.hooks.desktop_changing, h->desktop_changing, d.desktop_changing);
  take(g.hooks.request_relayout, h->request_relayout, d.request_relayout);
  take(g.hooks.has_panel, h->has_panel, d.has_panel);
  take(g.hooks.set_eod, h->set_eod, d.set_eod);
  take(g.hooks.set_marker, h->set_marker, d.set_marker);
  take(g.hooks.refresh_panel, h->refresh_panel, d.refresh_panel);
  take(g.hooks.title_window, h->title_window, d.title_window);
  take(g.hooks.update_title, h->update_title, d.update_title);
  take(g.hooks.now_seconds, h->now_seconds, d.now_seconds);
  take(g.hooks.exchange_now, h->exchange_now, d.exchange_now);
}

static const update_hooks& hooks() {
  if (!g.hooks.shown) update_set_hooks(nullptr);
  return g.hooks;
}

// ---------------------------------------------------------------------------
// Small helpers

static inline ss_time date_of(ss_time t) { return t & ~kSstimeSecondsMask; }
static inline int32_t second_of_day(ss_time t) { return (int32_t)(t & kSstimeSecondsMask); }
static inline bool is_stock(const instr* in) { return in->kind == 1; }

static ss_time exchange_date(const instr* in) { return in->exchange ? date_of(in->exchange->date) : 0; }

static ss_time now_for(const instr* in) {
  return in->exchange ? hooks().exchange_now(in->exchange) : sstime_now();
}

static int32_t history_count(const instr* in) {
  if (is_stock(in)) {
    const ss_stock_history* h = static_cast<const ss_stock*>(in)->history;
    return h ? (int32_t)h->count : 0;
  }
  const ss_index_history* h = static_cast<const ss_index*>(in)->history;
  return h ? (int32_t)h->count : 0;
}

// Dates of the first and last history records (0 without two).
static int32_t history_days(const instr* in) {
  ss_time first = 0, last = 0;
  int32_t n = history_count(in);
  if (n < 2) return n == 0 ? -1 : 0;
  if (is_stock(in)) {
    const ss_stock_history* h = static_cast<const ss_stock*>(in)->history;
    first = h->points[0].date;
    last = h->points[n - 1].date;
  } else {
    const ss_index_history* h = static_cast<const ss_index*>(in)->history;
    first = h->points[0].date;
    last = h->points[n - 1].date;
  }
  return sstime_day_number(last) - sstime_day_number(first);
}

// ---------------------------------------------------------------------------
// Span, end-of-day flag, requests

int32_t update_span_days(chart_plot* c) {
  int64_t count = c->range_count;
  switch (c->range) {
    case kRangeAuto:
      return c->eff_period <= kPeriodSessions ? 30 : 999;
    case kRangeSeconds:
      return (int32_t)(count / 86400);
    case kRangeMinutes:
      return (int32_t)(count / 1440);
    case kRangeHours:
      return (int32_t)(count / 24);
    case kRangeDays:
      return (int32_t)std::clamp<int64_t>(count, 0, 99999);
    case kRangeMonths:
      return (int32_t)std::clamp<int64_t>(count * 30, 0, 99999);
    case kRangeYears:
      return (int32_t)std::clamp<int64_t>(count * 364, 0, 99999);
    case kRangeYearToDate: {
      sstime_parts p{};
      if (!c->main || !c->main->exchange || sstime_unpack(&p, c->main->exchange->date) < 0) return 0;
      return p.yday;
    }
    case kRangeAll: {
      if (!c->main) return 999;
      int32_t days = history_days(c->main);
      if (days < 0) return 999;
      if (history_count(c->main) < 2) return 1;
      return days * 5 / 7;
    }
    case 10:
      return 1;
    case kRangeFromTo: {
      if (!date_of(c->from)) {
        char buf[kSstimeDatetimeLen];
        log(LOG_WARN, kSrc, "spec range has no from date (to=%s)", sstime_format_datetime_into(buf, c->to));
        return 0;
      }
      ss_time to = date_of(c->to) ? c->to : (c->main ? exchange_date(c->main) : 0);
      if (!to) return 1;
      return std::max(0, sstime_day_number(to) - sstime_day_number(c->from)) + 1;
    }
    default:
      return -1;
  }
}

static int end_of_day(const chart_plot* c, int32_t span) {
  int32_t p = c->eff_period;
  if (p >= kPeriodSeconds && p <= kPeriodSessions) return 0;
  if (p >= kPeriodDays && p <= kPeriodYears) return 1;
  return span >= 31;
}

// The first day an intraday stock chart wants, for a span of 2 days or more:
// "now" less the range when the chart's end is now, else 0 (from the start).
static ss_time intraday_start(const chart_plot* c) {
  if (c->mid_type != -1 || c->to_type != kSpanNow) return 0;
  ss_time now = now_for(c->main);
  int64_t count = c->range_count;
  auto back_seconds = [&](int64_t s) { return sstime_add_seconds(now, (int32_t)-std::clamp<int64_t>(s, 0, 0x7FFFFFFF)); };
  switch (c->range) {
    case kRangeSeconds:
      return back_seconds(count);
    case kRangeMinutes:
      return back_seconds(count * 60);
    case kRangeHours:
      return back_seconds(count * 3600);
    case kRangeDays:
      return sstime_add_days(date_of(now), (int32_t)(1 - std::clamp<int64_t>(count, 0, 99999)));
    case kRangeMonths:
      return sstime_add_months(now, (int32_t)-std::clamp<int64_t>(count, 0, 9999));
    case kRangeYears:
      return sstime_add_years(now, (int32_t)-std::clamp<int64_t>(count, 0, 99));
    case kRangeYearToDate: {
      sstime_parts p{};
      if (sstime_unpack(&p, now) < 0) return 0;
      return sstime_pack_date(1, 1, p.year);
    }
    default:
      return 0;
  }
}

static bool wants_bars(const chart_plot* c) {
  return c->eff_period >= kPeriodMinutes || (c->options & kChartOptAutoPeriod);
}

static void request_data(chart_plot* c, int32_t span) {
  instr* in = c->main;
  if (c->eod) {
    if (is_stock(in)) {
      ssclient_request_stock_history(static_cast<ss_stock*>(in));
      if (c->news && c->issuer) ssclient_request_history(c->issuer);
    } else {
      ssclient_request_index_history(static_cast<ss_index*>(in));
    }
    return;
  }
  if (is_stock(in)) {
    auto* stock = static_cast<ss_stock*>(in);
    ssclient_request_events(stock);
    if (span < 2) {
      c->start = exchange_date(in);
      c->want_bars = 0;
      return;
    }
    c->start = intraday_start(c);
    c->want_bars = wants_bars(c);
    if (c->want_bars)
      ssclient_request_prevday_trades(stock, c->start, 0);
    else
      ssclient_request_day_trades(stock, c->start, 0);
    return;
  }
  auto* index = static_cast<ss_index*>(in);
  ssclient_request_index_events(index);
  c->start = 0;
  if (span < 2 || !in->exchange || (int32_t)in->exchange->index == kIndexDaysExchange) return;
  // The previous days, at most as many as the day table holds, asked for
  // once per index and exchange date.
  ss_time today = exchange_date(in);
  if (c->days_for == in && c->days_date == today) return;
  c->days_for = in;
  c->days_date = today;
  int32_t n = std::min(span, kChartMaxDays);
  for (int32_t k = 1; k <= n; k++) {
    ss_time d = sstime_sub_days(today, k);
    if (!d) break;
    ssclient_request_index_day(index, d);
  }
}

// Samples the fill may write.
static int32_t samples_needed(const chart_plot* c) {
  instr* in = c->main;
  if (c->eod) return history_count(in);
  int32_t n = 0;
  if (is_stock(in)) {
    n = (int32_t)static_cast<ss_stock*>(in)->trades.count;
    for (ss_day* d = in->days.head; d; d = d->next) {
      int32_t bars = 0;
      if (c->want_bars || !d->trades.head) history_day_bars(d, &bars);
      // The fill reads bars when it finds them, else the trades.
      n += std::max<int32_t>(bars, (int32_t)d->trades.count);
    }
  } else {
    n = (int32_t)static_cast<ss_index*>(in)->ticks.count;
    for (ss_day* d = in->days.head; d; d = d->next) n += (int32_t)d->ticks.count;
  }
  return n;
}

// The intraday fill of a stock: -1 when a day the chart asked for has not
// arrived yet (its record is requested and not loaded).
static int fill_ticks(chart_plot* c, ss_stock* stock) {
  chart_fill_ticks(c, stock);
  if (!c->start) return 0;
  ss_time today = exchange_date(stock);
  for (ss_day* d = stock->days.head; d; d = d->next) {
    if (sstime_date_compare(d->date, c->start) < 0 || sstime_date_compare(d->date, today) >= 0) continue;
    if ((d->flags & kRqTrades) && !(d->flags & kDayLoaded)) return -1;
  }
  return 0;
}

static void fill(chart_plot* c) {
  instr* in = c->main;
  if (c->eod) {
    if (is_stock(in))
      chart_fill_bars(c, static_cast<ss_stock*>(in));
    else
      chart_fill_index_bars(c, static_cast<ss_index*>(in));
    return;
  }
  if (!is_stock(in)) {
    chart_fill_line(c, in);
    return;
  }
  auto* stock = static_cast<ss_stock*>(in);
  if (fill_ticks(c, stock) < 0) {
    log(LOG_WARN, kSrc, "rerequesting %s", stock->code);
    ssclient_request_day_trades(stock, c->start, 0);
  }
}

// ---------------------------------------------------------------------------
// Scales

static void zero_sample(chart_plot* c, int32_t i) {
  c->open[i] = c->high[i] = c->low[i] = c->close[i] = c->change[i] = 0;
}

static void scale_percent(chart_plot* c) {
  int32_t first = std::clamp(c->first_visible, 0, std::max(c->count - 1, 0));
  double b = c->open[first];
  if (!(b > 0)) return;
  for (int32_t i = 0; i < first; i++) zero_sample(c, i);
  double* cols[4] = {c->open, c->high, c->low, c->close};
  for (int32_t i = first; i < c->count; i++)
    for (double* col : cols) col[i] = (col[i] - b) * 100 / b;
  for (int32_t i = first + 1; i < c->count; i++) c->change[i] = c->close[i] - c->close[i - 1];
}

static void scale_cumulative(chart_plot* c) {
  int32_t first = std::clamp(c->first_visible, 0, std::max(c->count - 1, 0));
  for (int32_t i = 0; i <= first && i < c->count; i++) zero_sample(c, i);
  double* cols[4] = {c->open, c->high, c->low, c->close};
  for (int32_t i = first + 1; i < c->count; i++) {
    for (double* col : cols) col[i] += col[i - 1];
    c->change[i] = c->close[i] - c->close[i - 1];
  }
}

// ---------------------------------------------------------------------------
// Layout

void update_layout(chart_plot* c, chart_axes* axes) {
  int32_t cw = 0, ch = 0;
  if (axes && axes->fonts.text_size) axes->fonts.text_size(axes->fonts.ctx, 0, "A.0000p", &cw, &ch);
  int32_t w = (c->options & kUpdateOptValueLabels) ? c->chart_w - 14 - cw : c->chart_w - 12;
  int32_t h = (c->options & kUpdateOptTimeLabels) ? c->chart_h - 10 - ch : c->chart_h - 3;
  w = std::max(w, 0);
  h = std::max(h, 0);
  c->plot_x = c->chart_x + 1;
  c->plot_y = c->chart_y + 3;
  c->plot_w = w;
  c->plot_h = h;
  c->axis_y = c->plot_y + h + 2;
  c->axis_h = std::max(c->chart_y + c->chart_h - c->axis_y, 0);

  int32_t k = c->indicator_count;
  int32_t price = h, each = 0, extra = 0;
  if (k > 0) {
    price = std::max(h - h * k / std::max(k, 5), 2 * h / 5);
    each = (h - price) / k;
    extra = (h - price) - each * k;
  }
  int32_t above = std::clamp(c->indicators_above, 0, k);
  int32_t y = c->plot_y, i = 0;
  auto place = [&](chart_ta* t) {
    int32_t ph = each + (i < extra ? 1 : 0);
    t->pane_x = c->plot_x;
    t->pane_w = w;
    t->pane_y = y + 2 * ch;
    t->pane_h = std::max(ph - 2 * ch, 0);
    y += ph;
    i++;
  };
  chart_ta* t = c->indicators;
  for (; t && i < above; t = t->next) place(t);
  c->pane_x = c->plot_x;
  c->pane_y = y;
  c->pane_w = w;
  c->pane_h = price;
  y += price;
  for (; t; t = t->next) place(t);

  // Volume takes the bottom third of the price pane; other overlays all of it.
  int32_t unit = price / 3;
  for (chart_ta* o = c->overlays; o; o = o->next) {
    o->pane_x = c->pane_x;
    o->pane_w = c->pane_w;
    if (o->type == kUpdateVolumeOverlay) {
      o->pane_y = c->pane_y + price - unit;
      o->pane_h = unit;
    } else {
      o->pane_y = c->pane_y;
      o->pane_h = price;
    }
  }
}

// ---------------------------------------------------------------------------
// Ranges

// A range of one value (or none) opened so it can be drawn: upward by a
// tenth, at least 1 for zero or negative values.
static void open_flat(double* lo, double* hi) {
  if (*lo > 0)
    *hi = *lo * 1.1;
  else
    *hi = *lo + std::max(std::fabs(*lo) * 0.1, 1.0);
}

static bool widen_by_lines(const chart_plot* c, const chart_ta* t, double* lo, double* hi) {
  bool any = false;
  for (int l = 0; l < kTaMaxLines; l++) {
    const double* v = t->lines[l];
    if (!v) continue;
    for (int32_t i = c->first_visible; i <= c->last_visible && i < c->count; i++) {
      if (v[i] == kChartNoValue || !std::isfinite(v[i])) continue;
      *lo = std::min(*lo, v[i]);
      *hi = std::max(*hi, v[i]);
      any = true;
    }
  }
  return any;
}

void update_ranges(chart_plot* c) {
  if (c->count <= 0) {
    c->value_low = c->value_high = 0;
    for (chart_ta* t = c->overlays; t; t = t->next) t->value_low = t->value_high = 0;
    for (chart_ta* t = c->indicators; t; t = t->next) t->value_low = t->value_high = 0;
    return;
  }
  c->first_visible = std::clamp(c->first_visible, 0, c->count - 1);
  c->last_visible = std::clamp(c->last_visible, c->first_visible, c->count - 1);
  double lo = DBL_MAX, hi = -DBL_MAX;
  for (int32_t i = c->first_visible; i <= c->last_visible; i++) {
    lo = std::min(lo, c->low[i]);
    hi = std::max(hi, c->high[i]);
  }
  if (hi - lo < kFlat) hi = lo + (lo <= 10 ? 1 : lo <= 100 ? 10 : 100);
  c->value_low = lo;
  c->value_high = hi;

  for (chart_ta* t = c->overlays; t; t = t->next) {
    const ta_def* d = ta_overlay_def(t->type);
    double olo = DBL_MAX, ohi = -DBL_MAX;
    bool any = widen_by_lines(c, t, &olo, &ohi);  // both ends found
    if (d && d->merge_range) {
      t->value_low = any ? olo : 0;
      t->value_high = any ? ohi : 1;
      if (any) {
        c->value_low = std::min(c->value_low, olo);
        c->value_high = std::max(c->value_high, ohi);
      }
      continue;
    }
    if (d && d->fixed_min != kTaNoBound) olo = d->fixed_min;
    if (d && d->fixed_max != kTaNoBound) ohi = d->fixed_max;
    if (olo == DBL_MAX || ohi == -DBL_MAX) {
      olo = 0;
      ohi = 1;
    } else if (olo >= ohi) {
      open_flat(&olo, &ohi);
    }
    t->value_low = olo;
    t->value_high = ohi;
  }

  for (chart_ta* t = c->indicators; t; t = t->next) {
    const ta_def* d = ta_indicator_def(t->type);
    double ilo = DBL_MAX, ihi = -DBL_MAX;
    if (d && d->from_zero) ilo = ihi = 0;
    widen_by_lines(c, t, &ilo, &ihi);
    if (ilo != DBL_MAX && ihi - ilo > kFlat) {
      double pad = (ihi - ilo) * 0.1;
      ilo -= pad;
      ihi += pad;
    }
    if (d && d->fixed_min != kTaNoBound) ilo = d->fixed_min;
    if (d && d->fixed_max != kTaNoBound) ihi = d->fixed_max;
    if (ilo == DBL_MAX || ihi == -DBL_MAX) {
      ilo = 0;
      ihi = 1;
    } else if (!(ilo < ihi - kFlat)) {
      open_flat(&ilo, &ihi);
    }
    t->value_low = ilo;
    t->value_high = ihi;
  }
  align_pad_range(c);
}

// ---------------------------------------------------------------------------
// The update

static void follow_live(chart_plot* c) {
  bool want = hooks().shown(c) && c->to_type == kSpanNow;
  bool on = c->live_prev || c->live_next || g.live.head == c;
  if (want && !on) update_live_add(c);
  if (!want && on) update_live_remove(c);
}

void update_refresh_window(void* window, int) { hooks().update_title(window); }

static void compute_performance(chart_plot* c) {
  const ta_def* d = ta_indicator_def(kUpdatePricePerformance);
  if (!d || !d->compute) return;
  for (chart_ta* t = c->indicators; t; t = t->next)
    if (t->type == kUpdatePricePerformance) d->compute(c, t);
}

int chart_update(chart_plot* c, chart_axes* axes) {
  const update_hooks& h = hooks();
  follow_live(c);
  // 1-3: the dirty mask.
  if (c->count <= 0) c->dirty = kChartDirtyAll;
  if (c->range != kRangeAuto && (c->count <= 0 || (c->dirty & kChartDirtySettings))) c->dirty |= kChartDirtyReload;
  if (h.desktop_changing()) {
    h.request_relayout();
  } else {
    if ((c->dirty & 0x300) && (c->options & kChartOptAutoPeriod)) c->dirty |= kChartDirtyRefill;
    if (c->range == kRangeAuto && (c->dirty & 0x52d)) c->dirty |= kChartDirtyClock;
  }
  if ((c->dirty & (kChartDirtyReload | kChartDirtyClock)) && (c->marked.from || c->marked.to))
    c->dirty |= kChartDirtyMarks;
  if (c->dirty) c->changed = 1;

  // 4: what can't be updated.
  if (!c->main) {
    update_layout(c, axes);
    alloc_free_values(c);
    c->count = 0;
    return -1;
  }
  if (c->chart_w <= 0 || c->chart_h <= 0) {
    update_layout(c, axes);
    return -1;
  }
  if (c->main->kind != 1 && c->main->kind != 2) return -1;
  if (c->range == 0) return -1;

  uint32_t mask = c->dirty;
  int was_eod = c->eod;
  ss_time first_day_before = c->first_day;
  bool filled = false;
  if (!(mask & kFetchPasses)) {
    // 5: the data stays; room for what is there.
    if (alloc_chart_values(c, c->count + 2) < 0) return -1;
  } else {
    // 6-8: span, end-of-day, requests.
    int32_t span = update_span_days(c);
    if (span < 0) return -1;
    c->eod = end_of_day(c, span);
    if (c->eod != was_eod && h.has_panel(c)) h.set_eod(c, c->eod);
    request_data(c, span);
    // 9: the arrays.
    int32_t need = samples_needed(c);
    if (alloc_chart_values(c, need + 2) < 0) {
      log(LOG_ERROR, kSrc, "can't alloc %d plot points", need + 2);
      c->count = 0;
      return -1;
    }
    c->value_low = kChartNoValue;
    c->value_high = -kChartNoValue;
    // 10: the fill.
    if (mask & kDataPasses) {
      fill(c);
      filled = true;
    }
  }

  // 11: periods, layout, placement, scales, analysis.
  bool passes = mask & kDataPasses;
  if (c->count <= 0) {
    c->count = 0;
    c->day_count = 0;
    update_layout(c, axes);
    align_time_axis(c);
  } else {
    if (passes) period_bucket(c);
    update_layout(c, axes);
    align_time_axis(c);
    if (filled && c->scale == kUpdateScalePercent) scale_percent(c);
    if (filled && c->scale == kUpdateScaleCumulative) scale_cumulative(c);
    if (passes) {
      compute_performance(c);
      ta_compute_all(c);
    }
  }

  // 12-14: ranges, pixels, axes, marks.
  if (mask & 0xFFFF) update_ranges(c);
  nuchart_map_values(c);
  if (axes) {
    util_time_labels(c, axes);
    yaxis_compute(c, axes);
  }
  if (mask & kChartDirtyMarks) {
    c->marked.from_px = util_sample_at(c, c->marked.from);
    c->marked.to_px = util_sample_at(c, c->marked.to);
  }

  // 15-17: the panel, the window title.
  bool panel = h.has_panel(c);
  if (panel && c->count > 0) {
    ss_time after = c->last_visible + 1 < c->count ? c->times[c->last_visible + 1] : 0;
    h.set_marker(c, c->times[c->first_visible], after);
  }
  if ((mask & (kChartDirtyReload | kChartDirtyClock)) && !(c->options & kChartOptEdgeCut)) {
    if (void* w = h.title_window(c)) {
      gui_promise_cancel_before(update_refresh_window, w, 0);
      gui_promise(update_refresh_window, w, 0);
    }
  }
  c->first_day = c->count > 0 ? date_of(c->times[c->first_visible]) : 0;
  if (panel && (c->eod != was_eod || c->first_day != first_day_before)) h.refresh_panel(c);
  c->dirty = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// The live list

void update_live_init(void) {
  g.live.head = g.live.tail = nullptr;
  g.live.count = 0;
  g.live.last = -1e9f;
}

void update_live_stop(void) {
  if (g.live.timer >= 0) timer_stop(g.live.timer);
  g.live.timer = -1;
}

int update_live_add(chart_plot* c) {
  if (c->live_prev || c->live_next || g.live.head == c || g.live.tail == c) return -1;
  c->live_prev = g.live.tail;
  c->live_next = nullptr;
  if (g.live.tail)
    g.live.tail->live_next = c;
  else
    g.live.head = c;
  g.live.tail = c;
  if (g.live.count++ == 0) g.live.timer = timer_start(kUpdateLiveTickMs, update_live_tick, nullptr, 0);
  return 0;
}

int update_live_remove(chart_plot* c) {
  if (!c->live_prev && !c->live_next && g.live.head != c) return -1;
  if (c->live_prev)
    c->live_prev->live_next = c->live_next;
  else
    g.live.head = c->live_next;
  if (c->live_next)
    c->live_next->live_prev = c->live_prev;
  else
    g.live.tail = c->live_prev;
  c->live_prev = c->live_next = nullptr;
  if (--g.live.count == 0) update_live_stop();
  return 0;
}

int update_live_count(void) { return g.live.count; }
int32_t update_live_timer(void) { return g.live.timer; }

// Whether a live chart's axis would move now.
static bool live_due(const chart_plot* c) {
  const ss_exchange* ex = c->main->exchange;
  ss_time now = ex ? hooks().exchange_now(ex) : sstime_now();
  if (ex) {
    bool day = c->options & kChartOptDayClamp;
    ss_time start = day ? ssmodel_exchange_day_start(ex) : ssmodel_exchange_open_time(ex);
    ss_time end = day ? ssmodel_exchange_day_end(ex) : ssmodel_exchange_close_time(ex);
    if ((start && sstime_diff_seconds(now, start) < 0) || (end && sstime_diff_seconds(now, end) > 0)) return false;
  }
  const chart_day& last = c->days[std::clamp(c->day_count - 1, 0, kChartMaxDays - 1)];
  if (c->options & kUpdateOptTimeLabels) return second_of_day(now) / 60 != second_of_day(last.last) / 60;
  int64_t spanned = 0;
  for (int32_t i = 0; i < c->day_count && i < kChartMaxDays; i++) spanned += c->days[i].length;
  int64_t past = second_of_day(now) - second_of_day(last.last);
  int64_t d = spanned + past;
  if (d < 1) return false;
  return past * c->plot_w / d >= 1;
}

int update_live_tick(void*, uint32_t, int64_t, float) {
  const update_hooks& h = hooks();
  float now = h.now_seconds();
  int32_t n = 0;
  chart_plot* winner = nullptr;
  for (chart_plot* c = g.live.head; c; c = c->live_next) {
    if (!h.shown(c) || c->chart_w <= 0 || c->chart_h <= 0 || !c->main || c->day_count <= 0) continue;
    n++;
    if (now - c->live_refreshed < 1.0f) continue;
    if (!live_due(c)) continue;
    if (!winner || c->live_refreshed < winner->live_refreshed) winner = c;
  }
  if (n == 0 || !winner) return 1;
  if (1.0f / (float)n + g.live.last - 0.05f > now) return 1;
  winner->dirty |= kChartDirtyClock;
  winner->live_refreshed = now;
  g.live.last = now;
  h.redraw(winner);
  return 1;
}

// ---------------------------------------------------------------------------
// Model changes

static void on_change(const ss_change*, void* owner, uint64_t, uint32_t) {
  auto* c = static_cast<chart_plot*>(owner);
  c->dirty |= kChartDirtyReload;
  if (hooks().shown(c)) hooks().redraw(c);
}

int update_watch(chart_plot* c, instr* in) { return ssnotify_add(in, kUpdateWatchMask, on_change, c, 0, 0); }
int update_unwatch(chart_plot* c, instr* in) { return ssnotify_remove(in, c); }
