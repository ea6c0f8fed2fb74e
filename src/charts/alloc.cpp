// Chart data block: the sample arrays of a chart and its overlay and
// indicator instances, and the filling of the samples from an instrument.
//
// Every sample array of a plot has the same capacity, which grows in steps of
// 1024 with four spare entries (period grouping writes an end sentinel past
// the last sample) and stays allocated between updates. Work arrays for the
// computations are five process-wide slots shared by every chart: all of
// this runs on the user-interface thread.
#include "charts/alloc.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "charts/history.h"
#include "charts/ta.h"
#include "dalloc.h"
#include "lib/gmap.h"
#include "log.h"
#include "pool.h"
#include "ssevent.h"
#include "ssmodel.h"

static const char kSrc[] = "src/charts/alloc";

constexpr int32_t kCapacityStep = 1024;
constexpr int32_t kCapacitySpare = 4;
constexpr int32_t kTaPerPage = 64;
constexpr int32_t kWarnPoints = 3000000;
constexpr int32_t kMaxPoints = 10000000;
// dalloc refuses sizes from 2^31 up; the largest array is of doubles.
constexpr int64_t kMaxCapacity = 0x7FFFFFFF / 8 - kCapacityStep;

static struct {
  int ready;
  pool ta_pool;
  struct {
    int32_t capacity;
    double* values;
  } work[kChartWorkSlots];
  int32_t max_points;  // the largest point count seen
} g;

int alloc_init(void) {
  if (g.ready) return 0;
  if (pool_init(&g.ta_pool, kTaPerPage, sizeof(chart_ta)) < 0) return -1;
  g.ready = 1;
  return 0;
}

void alloc_fini(void) {
  if (!g.ready) return;
  for (auto& w : g.work) {
    if (w.values) dalloc_free(w.values);
    w.values = nullptr;
    w.capacity = 0;
  }
  pool_destroy(&g.ta_pool);
  g.max_points = 0;
  g.ready = 0;
}

static int32_t capacity_for(int32_t n) { return (int32_t)dalloc_round_up((uint32_t)n + kCapacitySpare, kCapacityStep); }

template <class T>
static void free_array(T*& p) {
  if (p) dalloc_free(p);
  p = nullptr;
}

static double* new_values(int32_t n) {
  auto* p = (double*)dalloc_alloc(n * (int32_t)sizeof(double));
  for (int32_t i = 0; i < n; i++) p[i] = kChartNoValue;
  return p;
}

static uint32_t* new_pixels(int32_t n) {
  auto* p = (uint32_t*)dalloc_alloc(n * (int32_t)sizeof(uint32_t));
  memset(p, 0xFF, (size_t)n * sizeof(uint32_t));
  return p;
}

static const ta_def* def_of(const chart_ta* ta) {
  return ta->is_overlay ? ta_overlay_def(ta->type) : ta_indicator_def(ta->type);
}

static void free_ta_arrays(chart_ta* ta) {
  for (int l = 0; l < kTaMaxLines; l++) {
    free_array(ta->lines[l]);
    free_array(ta->pixels[l]);
  }
  // The indicator's data-box text, made by painting on the first hover.
  if (ta->draw_list) gmap_delete(ta->draw_list);
  ta->draw_list = nullptr;
}

// Gives each line of every instance a value and a pixel array of the plot's
// capacity. With `remake` the old arrays go first: they are the old capacity
// and the next computation would write past them.
static int alloc_ta_arrays(chart_plot* plot, chart_ta* list, int remake) {
  for (chart_ta* ta = list; ta; ta = ta->next) {
    const ta_def* def = def_of(ta);
    if (!def) {
      log(LOG_ERROR, kSrc, "no %s %d to alloc", ta->is_overlay ? "overlay" : "indicator", ta->type);
      continue;
    }
    if (def->line_count > kTaMaxLines)
      log(LOG_FATAL, kSrc, ta->is_overlay ? "too many ta lines in overlay %d" : "too many ta lines in indicator %d",
          ta->type);
    if (remake) free_ta_arrays(ta);
    for (int l = 0; l < def->line_count; l++) {
      if (!ta->lines[l]) ta->lines[l] = new_values(plot->capacity);
      if (!ta->pixels[l]) ta->pixels[l] = new_pixels(plot->capacity);
    }
  }
  return 0;
}

static void free_sample_arrays(chart_plot* plot) {
  free_array(plot->xpos);
  free_array(plot->bar_width);
  free_array(plot->times);
  free_array(plot->open);
  free_array(plot->high);
  free_array(plot->low);
  free_array(plot->close);
  free_array(plot->change);
  free_array(plot->volume);
  free_array(plot->y_open);
  free_array(plot->y_high);
  free_array(plot->y_low);
  free_array(plot->y_close);
}

int alloc_chart_values(chart_plot* plot, int32_t n) {
  alloc_check_points(plot, n);
  int remake = 0;
  if (plot->capacity - kCapacitySpare < n) {
    if (n < 0 || n > kMaxCapacity) {
      log(LOG_ERROR, kSrc, "can't alloc %d (%d) chart values", n, plot->capacity);
      return -1;
    }
    free_sample_arrays(plot);
    int32_t cap = capacity_for(n);
    plot->capacity = cap;
    plot->xpos = new_pixels(cap);
    plot->bar_width = new_pixels(cap);
    plot->times = (ss_time*)dalloc_alloc(cap * (int32_t)sizeof(ss_time));
    memset(plot->times, 0, (size_t)cap * sizeof(ss_time));
    plot->open = new_values(cap);
    plot->high = new_values(cap);
    plot->low = new_values(cap);
    plot->close = new_values(cap);
    plot->change = new_values(cap);
    plot->volume = new_values(cap);
    plot->y_open = new_pixels(cap);
    plot->y_high = new_pixels(cap);
    plot->y_low = new_pixels(cap);
    plot->y_close = new_pixels(cap);
    if (plot->count > cap) plot->count = 0;
    remake = 1;
  }
  alloc_ta_arrays(plot, plot->overlays, remake);
  alloc_ta_arrays(plot, plot->indicators, remake);
  return 0;
}

void alloc_check_points(chart_plot* plot, int32_t n) {
  if (n > g.max_points) {
    g.max_points = n;
    log(LOG_WARN, kSrc, "max %d points", n);
  }
  if (n == 0 || n > kMaxPoints) {
    log(LOG_ERROR, kSrc, "probably shouldn't allocate %d points", n);
    alloc_dump(plot);
  } else if (n > kWarnPoints) {
    log(LOG_WARN, kSrc, "attempting to allocate %d points", n);
    alloc_dump(plot);
  }
}

void alloc_dump(chart_plot* plot) {
  log(LOG_INFO, kSrc, "instr:  %s", plot->main ? plot->main->code : "none");
  log(LOG_INFO, kSrc, "eod:    %d", plot->eod);
  log(LOG_INFO, kSrc, "type:   %d", plot->type);
  log(LOG_INFO, kSrc, "range:  %d x%d", plot->range, plot->range_count);
  log(LOG_INFO, kSrc, "period: %d x%d", plot->eff_period, plot->eff_count);
  log(LOG_INFO, kSrc, "count:  %d/%d", plot->count, plot->capacity);
}

double* alloc_work_values(int32_t slot, int32_t n) {
  if (slot < 0 || slot >= kChartWorkSlots || n < 0 || n > kMaxCapacity) {
    log(LOG_ERROR, kSrc, "can't alloc %d work values", n);
    return nullptr;
  }
  auto& w = g.work[slot];
  if (w.capacity < n || !w.values) {
    if (w.values) dalloc_free(w.values);
    w.capacity = capacity_for(n);
    w.values = (double*)dalloc_alloc(w.capacity * (int32_t)sizeof(double));
  }
  return w.values;
}

static void free_ta_list(chart_ta* list) {
  for (chart_ta* ta = list; ta; ta = ta->next) free_ta_arrays(ta);
}

void alloc_free_values(chart_plot* plot) {
  free_sample_arrays(plot);
  free_ta_list(plot->overlays);
  free_ta_list(plot->indicators);
  plot->count = 0;
  plot->capacity = 0;
  plot->first_visible = 0;
  plot->last_visible = 0;
}

static chart_ta* add_ta(chart_plot* plot, int32_t type, int overlay) {
  const ta_def* def = overlay ? ta_overlay_def(type) : ta_indicator_def(type);
  if (!def) {
    log(LOG_ERROR, kSrc, "no %s %d", overlay ? "overlay" : "indicator", type);
    return nullptr;
  }
  if (!g.ready && alloc_init() < 0) return nullptr;
  auto* ta = (chart_ta*)pool_alloc(&g.ta_pool);
  if (!ta) return nullptr;
  memset(ta, 0, sizeof *ta);
  ta->type = type;
  ta->is_overlay = overlay;
  for (int i = 0; i < 3; i++) ta->params[i] = def->params[i].def;
  ta->zero_y = -1;
  chart_ta** tail = overlay ? &plot->overlays : &plot->indicators;
  while (*tail) tail = &(*tail)->next;
  *tail = ta;
  if (overlay) {
    plot->overlay_count++;
    if (type == 13) plot->news = 1;
  } else {
    plot->indicator_count++;
  }
  // An instance added to a chart that already has samples gets its arrays
  // now, so a computation before the next allocation has room to write.
  if (plot->capacity > 0) alloc_ta_arrays(plot, ta, 0);
  return ta;
}

chart_ta* alloc_add_overlay(chart_plot* plot, int32_t type) { return add_ta(plot, type, 1); }
chart_ta* alloc_add_indicator(chart_plot* plot, int32_t type) { return add_ta(plot, type, 0); }

static int remove_ta(chart_plot* plot, chart_ta* ta, int overlay) {
  chart_ta** link = overlay ? &plot->overlays : &plot->indicators;
  while (*link && *link != ta) link = &(*link)->next;
  if (!*link) {
    log(LOG_WARN, kSrc, overlay ? "overlay not found to free" : "indicator not found to free");
    return -1;
  }
  *link = ta->next;
  free_ta_arrays(ta);
  int32_t type = ta->type;
  pool_free(&g.ta_pool, ta);
  if (overlay) {
    plot->overlay_count--;
    if (type == 13) {
      plot->news = 0;
      for (chart_ta* o = plot->overlays; o; o = o->next)
        if (o->type == 13) plot->news = 1;
    }
  } else {
    plot->indicator_count--;
  }
  return 0;
}

int alloc_remove_overlay(chart_plot* plot, chart_ta* ta) { return remove_ta(plot, ta, 1); }
int alloc_remove_indicator(chart_plot* plot, chart_ta* ta) { return remove_ta(plot, ta, 0); }

void alloc_clear_overlays(chart_plot* plot) {
  while (plot->overlays) remove_ta(plot, plot->overlays, 1);
}

void alloc_clear_indicators(chart_plot* plot) {
  while (plot->indicators) remove_ta(plot, plot->indicators, 0);
}

// ===========================================================================
// Fills. Prices are the model's hundredths of a cent; samples hold cents
// (x 0.01). 0 and all ones are "no price": a bar without a close is left
// out, and a missing open, high or low takes the close.

static inline bool has_price(uint32_t p) { return p != 0 && p != kNoPrice; }
static inline double cents(uint32_t p, uint32_t fallback) { return (has_price(p) ? p : fallback) * 0.01; }

static void put_sample(chart_plot* plot, int32_t k, ss_time t, double o, double h, double l, double c, double ch,
                       double v) {
  plot->times[k] = t;
  plot->open[k] = o;
  plot->high[k] = h;
  plot->low[k] = l;
  plot->close[k] = c;
  plot->change[k] = ch;
  plot->volume[k] = v;
}

// Today's sample replaces the last one when that bears today's date, else
// it is appended; never past capacity - 1.
static int32_t today_slot(chart_plot* plot, int32_t count, ss_time today) {
  if (count > 0 && sstime_date_compare(plot->times[count - 1], today) == 0) return count - 1;
  return std::min(count, plot->capacity - 1);
}

// Adjust: newest to oldest, the factor takes in each adjustment (newest
// first) that is dated after the sample. Change and volume stay as they are.
static void adjust_samples(chart_plot* plot, const ss_stock* stock) {
  struct pending {
    ss_time date;
    double ratio;
  };
  pending adj[64];
  int32_t na = 0;
  for (const ss_adjustment* a = stock->adjustments.head; a && na < 64; a = a->next) {
    if (a->factor <= 0) {
      log(LOG_WARN, kSrc, "%s: ignoring adjustment ratio %d", stock->code, a->factor);
      continue;
    }
    adj[na++] = {(ss_time)a->date, a->factor / 100000.0};
  }
  std::sort(adj, adj + na, [](const pending& x, const pending& y) { return x.date > y.date; });
  double factor = 1;
  int32_t next = 0;
  for (int32_t i = plot->count - 1; i >= 0; i--) {
    while (next < na && sstime_date_compare(plot->times[i], adj[next].date) < 0) factor *= adj[next++].ratio;
    if (factor != 1) {
      plot->open[i] *= factor;
      plot->high[i] *= factor;
      plot->low[i] *= factor;
      plot->close[i] *= factor;
    }
  }
}

void chart_fill_bars(chart_plot* plot, ss_stock* stock) {
  int32_t k = 0;
  const ss_stock_history* h = stock->history;
  if (h) {
    for (uint32_t i = 0; i < h->count && k < plot->capacity - 1; i++) {
      const ss_stock_point& p = h->points[i];
      if (!has_price(p.close)) continue;
      put_sample(plot, k++, p.date, cents(p.open, p.close), cents(p.high, p.close), cents(p.low, p.close),
                 p.close * 0.01, p.change * 0.01, (double)p.volume);
    }
  }
  ss_time today = stock->exchange ? stock->exchange->date : 0;
  if (has_price(stock->last) && today && plot->capacity > 0) {
    int32_t slot = today_slot(plot, k, today);
    uint32_t c = stock->last;
    put_sample(plot, slot, today, cents(stock->open, c), cents(stock->high, c), cents(stock->low, c), c * 0.01,
               stock->change * 0.01, (double)stock->volume);
    k = std::max(k, slot + 1);
  }
  plot->count = k;
  if ((plot->options & kChartOptAdjust) && h) adjust_samples(plot, stock);
}

void chart_fill_index_bars(chart_plot* plot, ss_index* index) {
  const ss_index_history* h = index->history;
  if (!h) {
    plot->count = 0;
    return;
  }
  int32_t k = 0;
  for (uint32_t i = 0; i < h->count && k < plot->capacity - 1; i++) {
    const ss_index_point& p = h->points[i];
    if (!has_price(p.close)) continue;
    double o = cents(p.open, p.close), c = p.close * 0.01;
    put_sample(plot, k++, p.date, o, cents(p.high, p.close), cents(p.low, p.close), c, c - o, 0);
  }
  ss_time today = index->exchange ? index->exchange->date : 0;
  if (has_price(index->value) && today) {
    // Dated with the quote's own time when it has one.
    ss_time date = index->last_tick_time ? (index->last_tick_time & ~kSstimeSecondsMask) : today;
    int32_t slot = today_slot(plot, k, date);
    uint32_t c = index->value;
    put_sample(plot, slot, date, cents(index->open, c), cents(index->high, c), cents(index->low, c), c * 0.01,
               index->change * 0.01, 0);
    k = std::max(k, slot + 1);
  }
  plot->count = k;
}

static inline ss_time time_of_day(ss_time t) { return t & kSstimeSecondsMask; }
static inline bool one_day(const chart_plot* plot) { return plot->range == 5 && plot->range_count == 1; }

namespace {
// Appends value points to a plot: before the open skipped, repeats after
// the close skipped.
struct line_filler {
  chart_plot* plot;
  ss_time open_tod, close_tod;
  int32_t k = 0;
  bool have_prev = false;
  uint32_t prev = 0;

  void add(ss_time t, uint32_t v) {
    if (k >= plot->capacity - 1 || !has_price(v)) return;
    if (time_of_day(t) < open_tod) return;
    if (time_of_day(t) > close_tod && have_prev && v == prev) return;
    double c = v * 0.01;
    double ch = have_prev ? ((double)v - (double)prev) * 0.01 : 0;
    put_sample(plot, k++, t, c, c, c, c, ch, 0);
    prev = v;
    have_prev = true;
  }
};
}  // namespace

void chart_fill_line(chart_plot* plot, instr* in) {
  const ss_exchange* ex = in->exchange;
  line_filler f{plot, time_of_day(ssmodel_exchange_open_time(ex)), time_of_day(ssmodel_exchange_close_time(ex))};
  if (!ex) f.close_tod = kSstimeSecondsMask;
  if (!one_day(plot))
    for (const ss_day* d = in->days.head; d; d = d->next)
      for (const ss_tick* t = d->ticks.head; t; t = t->next) f.add((ss_time)t->time, t->value);
  if (in->kind == 2)
    for (const ss_tick* t = static_cast<ss_index*>(in)->ticks.head; t; t = t->next) f.add((ss_time)t->time, t->value);
  plot->count = f.k;
}

void chart_fill_ticks(chart_plot* plot, instr* in) {
  int32_t k = 0;
  bool have_prev = false;
  double prev = 0;
  auto add_trade = [&](const ss_trade* t) {
    if (k >= plot->capacity - 1 || !has_price(t->price)) return;
    double c = t->price * 0.01;
    put_sample(plot, k++, t->time, c, c, c, c, have_prev ? c - prev : 0, (double)t->volume);
    prev = c;
    have_prev = true;
  };
  bool want_bars = plot->period >= 2 || (plot->options & kChartOptAutoPeriod);
  if (!one_day(plot)) {
    for (const ss_day* d = in->days.head; d; d = d->next) {
      if (plot->from && sstime_date_compare(d->date, plot->from) < 0) continue;
      int32_t nbars = 0;
      const chart_bar* bars = want_bars ? history_day_bars(d, &nbars) : nullptr;
      if (nbars > 0) {
        for (int32_t b = 0; b < nbars && k < plot->capacity - 1; b++) {
          const chart_bar& bar = bars[b];
          if (bar.volume == 0 || !has_price(bar.close)) continue;
          double o = cents(bar.open, bar.close), c = bar.close * 0.01;
          put_sample(plot, k++, bar.time, o, cents(bar.high, bar.close), cents(bar.low, bar.close), c, c - o,
                     (double)bar.volume);
          prev = c;
          have_prev = true;
        }
      } else {
        for (const ss_trade* t = d->trades.head; t; t = t->next)
          if (!(t->bits & kTradeCancelled)) add_trade(t);
      }
    }
  }
  if (in->kind == 1) {
    bool all = plot->options & kChartOptAllTrades;
    for (const ss_trade* t = static_cast<ss_stock*>(in)->trades.head; t; t = t->next) {
      if (t->bits & kTradeCancelled) continue;
      if (!all && !(t->bits & (kTradeSetsLast | kTradeHighLow))) continue;
      add_trade(t);
    }
  }
  plot->count = k;
}
