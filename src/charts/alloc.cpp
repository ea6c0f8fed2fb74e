// Chart data block: the sample arrays of a chart and its overlay and
// indicator instances, and the filling of the samples from an instrument.
//
// Every sample array of a plot has the same capacity, which grows in steps of
// 1024 with four spare entries (period grouping writes an end sentinel past
// the last sample) and stays allocated between updates. Work arrays for the
// computations are five process-wide slots shared by every chart: all of
// this runs on the user-interface thread.
#include "charts/alloc.h"

#include <cmath>
#include <cstring>

#include "charts/history.h"
#include "charts/ta.h"
#include "dalloc.h"
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

static int32_t capacity_for(int32_t n) {
  return (int32_t)dalloc_round_up((uint32_t)n + kCapacitySpare, kCapacityStep);
}

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
  // The drawing list belongs to painting, which frees it with its textures
  // before the instance goes; here it is only forgotten.
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
