// The technical-analysis registry: which overlays and indicators a chart can
// carry, and how each is named, parameterised, computed, scaled and drawn.
// Built once by ta_init, read-only afterwards; user-interface thread only.
#pragma once
#include <cstdint>

struct chart_plot;
struct chart_ta;

constexpr int kTaOverlaySlots = 15;
constexpr int kTaIndicatorSlots = 41;
constexpr double kTaNoBound = 3.4028234663852886e38;  // "from the data" / no upper bound

typedef int (*ta_compute_fn)(chart_plot* chart, chart_ta* inst);
// Parameter text of an instance for its legend, or null for none.
typedef const char* (*ta_caption_fn)(const chart_ta* inst);

// How a line's value is written in data boxes and legends; the legend code
// maps these onto the toolkit's formatters.
enum ta_format : int32_t {
  TA_FMT_NONE = 0,
  TA_FMT_PRICE,    // cents, trailing zeros trimmed
  TA_FMT_VOLUME,   // count with thousands separators
  TA_FMT_PERCENT,  // "%.2f%%"
  TA_FMT_FLOAT0,
  TA_FMT_FLOAT1,
  TA_FMT_FLOAT2,
  TA_FMT_FLOAT3,
};

// Drawing styles of a line.
enum ta_line_style : int32_t {
  TA_LINE = 0,
  TA_POINTS = 1,
  TA_DASHED = 2,
  TA_BARS = 3,
  TA_LEVEL = 4,
  TA_LEVEL_DOTTED = 5,
  TA_NEWS = 6,
};

struct ta_param {
  const char* name;       // null for an empty slot
  float def;              // kTaNoBound (as float) for an empty slot
  double min, max, step;  // step 0: an on/off parameter
  int32_t decimals;
};

struct ta_line {
  const char* name;
  int32_t colour;  // index into the chart colour table, -1 none
  int32_t style;   // ta_line_style
  int32_t value_kind;
  ta_format format;
};

struct ta_def {
  const char* name;
  const char* short_name;
  ta_compute_fn compute;
  int32_t merge_range;
  int32_t from_zero;
  double fixed_min, fixed_max;
  int32_t label_kind;  // 1 percent-like, 2 volume, 3 price-like, 4 news
  int32_t param_count;
  ta_param params[3];
  int32_t line_count;
  ta_line lines[3];
  int32_t line_order[3];
  ta_caption_fn caption;
};

int ta_init(void);
void ta_fini(void);
// The definition of an id, or null for an id outside the table or one that
// is not defined (ids come from stored configuration).
const ta_def* ta_overlay_def(int32_t id);
const ta_def* ta_indicator_def(int32_t id);
// Every overlay, then every indicator but Price Performance (computed
// earlier by chart update). -1 when any routine failed; all still run.
int ta_compute_all(chart_plot* chart);
const char* ta_volume_caption(const chart_ta* inst);
const char* ta_news_caption(const chart_ta* inst);
