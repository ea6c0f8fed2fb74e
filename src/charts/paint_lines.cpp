// The layers over the price plot: overlay and indicator lines by style, band
// fills, zero lines and news marks; the caption and legends; the cross-hair
// and data boxes of the hovered sample.
//
// The texts (caption, legends, data-box rows) are built by plain functions
// that tests call directly, so what a chart says is checked without drawing.
// The data boxes and the cross-hair are built into lists only when the
// widget asks (the pointer moved to another sample) and drawn from those
// lists on every paint while the pointer stays. The string table of the data
// boxes is process-wide: one paint uses it at a time.
#include "charts/paint_lines.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "charts/alloc.h"
#include "charts/nuchart.h"
#include "charts/ta.h"
#include "charts/util.h"
#include "lib/colour.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/glapi.h"
#include "lib/tex.h"
#include "log.h"
#include "ssmodel.h"
#include "ui/widget.h"

static const char kSrc[] = "src/charts/paint";

constexpr uint32_t kOptLegends = 0x4;
constexpr uint32_t kOptDayClamp = 0x40;
constexpr uint32_t kOptOpenClamp = 0x80;
constexpr uint32_t kOptThick = 0x200;
constexpr uint32_t kOptFill = 0x800;
constexpr uint32_t kOptTheme = 0x2000;
constexpr uint32_t kOptParent = 0x4000;
constexpr int32_t kNewsOverlay = 13;
constexpr int32_t kLabelNews = 4;
constexpr uint32_t kNewsSensitive = 0x1;
constexpr uint32_t kNewsRelated = 0x4;
constexpr int32_t kBoxGap = 30;
constexpr uint32_t kLegendAlpha = 0xb4;
constexpr uint32_t kFaint = 0x64;

static struct {
  int32_t sma, ema;  // SMA and EMA overlay lines drawn in this paint
  char strings[kPaintDataStrings][kPaintDataStringSize];
  int32_t nstrings;
  bool overflow;
} g;

void paint_lines_reset(void) {
  g.sma = 0;
  g.ema = 0;
}

static inline bool has(uint32_t row) { return row != kChartNoPixel; }
static inline int32_t first_of(const chart_plot* p) { return std::max(p->first_visible, 0); }
static inline int32_t last_of(const chart_plot* p) { return std::min(p->last_visible, p->count - 1); }
static inline float c5(int64_t v) { return (float)v + 0.5f; }

static const ta_def* def_of(const chart_ta* ta) {
  return ta->is_overlay ? ta_overlay_def(ta->type) : ta_indicator_def(ta->type);
}

static bool has_value(const chart_ta* ta, int32_t line, int32_t i) {
  return line >= 0 && line < kTaMaxLines && ta->lines[line] && i >= 0 && ta->lines[line][i] != kChartNoValue;
}

// The pane a line is drawn in: its own, or the price pane for an overlay
// that shares it.
static void pane_of(const chart_plot* plot, const chart_ta* ta, int32_t* y, int32_t* h) {
  bool own = ta->pane_h > 0 || !ta->is_overlay;
  *y = own ? ta->pane_y : plot->pane_y;
  *h = own ? ta->pane_h : plot->pane_h;
}

static int32_t text_width(const char* text, int32_t font) {
  int32_t size[2] = {0, 0};
  font_text_size(size, font, text);
  return size[0];
}

// --- Lines by style ---

void paint_level_line(chart_plot* plot, const uint32_t* rows, colour c) {
  int32_t first = first_of(plot);
  if (!rows || first > last_of(plot) || !has(rows[first])) return;
  paint_thick_begin(plot);
  paint_begin(GL_LINES);
  gfx_colour(c);
  float y = c5(rows[first]);
  gl->Vertex2f((float)plot->pane_x, y);
  gl->Vertex2f((float)(plot->pane_x + plot->pane_w), y);
  gfx_end();
  paint_thick_end(plot);
}

static void paint_marks(chart_plot* plot, const uint32_t* rows, colour c) {
  int32_t first = first_of(plot), last = last_of(plot);
  colour up = paint_entry(6), down = paint_entry(7);
  paint_begin(GL_QUADS);
  for (int32_t i = first; i <= last; i++) {
    if (!has(rows[i])) continue;
    gfx_colour(c ? c : paint_direction(plot->close[i] - plot->open[i], up, down));
    float x = c5(plot->xpos[i]), y = c5(rows[i]);
    gl->Vertex2f(x, y);
    gl->Vertex2f(x, y + 2);
    gl->Vertex2f(x + 2, y + 2);
    gl->Vertex2f(x + 2, y);
  }
  gfx_end();
}

// A stack of news marks at column x from row y down, stopping at the first
// that would pass `bottom`; the row after the last mark drawn.
static int32_t stack_marks(int32_t image, int32_t n, int32_t x, int32_t y, int32_t bottom, bool* full) {
  int32_t size[2] = {0, 0};
  tex_size(size, image);
  for (int32_t k = 0; k < n && !*full; k++) {
    if (y + size[1] > bottom) {
      *full = true;
      break;
    }
    tex_draw_white(image, x - size[0] / 2, y, size[0], size[1]);
    y += size[1] + 1;
  }
  return y;
}

static void news_counts(chart_plot* plot, chart_ta* ta, const chart_theme& th) {
  int32_t py, ph;
  pane_of(plot, ta, &py, &ph);
  int32_t first = first_of(plot), last = last_of(plot);
  const double* v = ta->lines[0];
  if (!v) return;
  for (int32_t i = first; i <= last; i++) {
    if (v[i] == kChartNoValue || v[i] < 1) continue;
    int32_t n = v[i] > 2e9 ? 2000000000 : (int32_t)v[i];
    int32_t x = (int32_t)plot->xpos[i];
    bool full = false;
    int32_t y = stack_marks(th.news_sensitive, n / 1000, x, py + 1, py + ph, &full);
    stack_marks(th.news_plain, n % 1000, x, y, py + ph, &full);
  }
}

static void news_items(chart_plot* plot, chart_ta* ta, const chart_theme& th) {
  ss_issuer* is = plot->issuer;
  const instr* in = plot->main;
  if (!is || !in || !in->exchange) return;
  int32_t py, ph;
  pane_of(plot, ta, &py, &ph);
  ss_time day = plot->times[first_of(plot)] & ~kSstimeSecondsMask;
  const ss_news* item = is->news.head;
  while (item && item->time && sstime_date_compare(item->time, day) < 0) item = item->next;
  while (item && !item->time) item = item->next;
  if (!item) return;
  ss_time cut = day;
  if (sstime_date_compare(item->time, in->exchange->date) >= 0)
    cut = plot->options & kOptOpenClamp ? ssmodel_exchange_open_time(in->exchange)
                                        : ssmodel_exchange_day_start(in->exchange);
  bool stack = !(plot->options & (kOptTheme | kOptParent));
  int32_t prev_x = -1000000, prev_y = py + 1, prev_h = 0;
  int32_t right = plot->pane_x + plot->pane_w;
  for (; item; item = item->next) {
    int32_t image = item->flags & kNewsSensitive ? th.news_sensitive
                    : item->flags & kNewsRelated ? th.news_related
                                                 : th.news_plain;
    int32_t size[2] = {0, 0};
    tex_size(size, image);
    int32_t x;
    if (item->time >= cut) {
      x = util_sample_at(plot, item->time);
      if (x > right) break;
      if (x < plot->pane_x) continue;
    } else {
      x = plot->pane_x + size[0] / 2;
    }
    int32_t y = py + 1;
    // Stacked under the mark before it (its height, so they never overlap).
    if (stack && x - prev_x < size[0] / 2) y = prev_y + prev_h + 1;
    if (y + size[1] > py + ph) continue;
    tex_draw_white(image, x - size[0] / 2, y, size[0], size[1]);
    prev_x = x;
    prev_y = y;
    prev_h = size[1];
  }
}

static void paint_news(chart_plot* plot, chart_ta* ta) {
  chart_theme th = paint_theme();
  gfx_end();
  if (plot->eod || !(plot->options & (kOptDayClamp | kOptOpenClamp)))
    news_counts(plot, ta, th);
  else
    news_items(plot, ta, th);
  gfx_end();
}

void paint_ta_line(chart_plot* plot, chart_ta* ta, const ta_def* def, int32_t line) {
  if (!def || line < 0 || line >= def->line_count || line >= kTaMaxLines) return;
  const ta_line& tl = def->lines[line];
  const uint32_t* rows = ta->pixels[line];
  if (!rows || tl.colour < 0) return;
  colour c = paint_entry(18 + tl.colour);
  switch (tl.style) {
    case TA_LINE: {
      if (ta->is_overlay && !strcmp(def->name, "SMA")) c = colour_lighten(c, 64 * g.sma++);
      if (ta->is_overlay && !strcmp(def->name, "EMA")) c = colour_lighten(c, 40 * g.ema++);
      paint_line(plot, rows, c);
      break;
    }
    case TA_POINTS:
      paint_marks(plot, rows, c);
      break;
    case TA_DASHED:
      paint_stipple_begin(2, 0xF8F8);
      paint_line(plot, rows, c);
      paint_stipple_end();
      break;
    case TA_BARS: {
      int32_t py, ph;
      pane_of(plot, ta, &py, &ph);
      int32_t base = ta->zero_y != -1 ? ta->zero_y : ta->value_low < 0 ? py : py + ph - 1;
      paint_columns(plot, rows, base, ta->params[0] == 1.0f ? 0 : c);
      break;
    }
    case TA_LEVEL:
      paint_level_line(plot, rows, c);
      break;
    case TA_LEVEL_DOTTED:
      paint_stipple_begin(1, 0x8888);
      paint_level_line(plot, rows, c);
      paint_stipple_end();
      break;
    case TA_NEWS:
      paint_news(plot, ta);
      break;
    default:
      break;
  }
  gfx_end();
}

// The band between the last two lines of an overlay, as one quad strip.
static void paint_band(chart_plot* plot, chart_ta* ta, const ta_def* def) {
  int32_t a = def->line_count == 2 ? 0 : 1, b = a + 1;
  const uint32_t* ra = ta->pixels[a];
  const uint32_t* rb = ta->pixels[b];
  if (!ra || !rb) return;
  gfx_end();
  paint_begin(GL_QUAD_STRIP);
  gfx_colour(paint_entry(11));
  int32_t lastpair = -1;
  for (int32_t i = first_of(plot), last = last_of(plot); i <= last; i++) {
    if (!has(ra[i]) || !has(rb[i])) continue;
    float x = c5(plot->xpos[i]);
    gl->Vertex2f(x, c5(ra[i]));
    gl->Vertex2f(x, c5(rb[i]));
    lastpair = i;
  }
  if (lastpair >= 0) {
    float x = c5(plot->xpos[lastpair]);
    gl->Vertex2f(x, c5(ra[lastpair]));
    gl->Vertex2f(x, c5(rb[lastpair]));
  }
  gfx_end();
}

void paint_overlays(chart_plot* plot) {
  for (chart_ta* ta = plot->overlays; ta; ta = ta->next) {
    const ta_def* def = def_of(ta);
    if (!def) continue;
    if ((plot->options & kOptFill) && def->line_count >= 2) paint_band(plot, ta, def);
    for (int32_t l = 0; l < def->line_count; l++) paint_ta_line(plot, ta, def, l);
  }
}

void paint_indicators(chart_plot* plot) {
  for (chart_ta* ta = plot->indicators; ta; ta = ta->next) {
    const ta_def* def = def_of(ta);
    if (!def || ta->pane_h <= 10) continue;
    if (ta->zero_y != -1 && def->fixed_min != 0) {
      paint_stipple_begin(2, 0x5555);
      paint_begin(GL_LINES);
      gfx_colour(paint_entry(3));
      gl->Vertex2f((float)ta->pane_x, c5(ta->zero_y));
      gl->Vertex2f((float)(ta->pane_x + ta->pane_w), c5(ta->zero_y));
      paint_stipple_end();
    }
    for (int32_t l = 0; l < def->line_count; l++) paint_ta_line(plot, ta, def, l);
  }
}

// --- Texts ---

namespace {
// Appending into a fixed buffer, never past its end.
struct text_out {
  char* p;
  size_t n, len;
  void add(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    if (len + 1 >= n) return;
    va_list ap;
    va_start(ap, fmt);
    int k = vsnprintf(p + len, n - len, fmt, ap);
    va_end(ap);
    if (k > 0) len = std::min(len + (size_t)k, n - 1);
  }
};
}  // namespace

static bool is_index(const chart_plot* plot) { return plot->main && plot->main->kind == kKindIndex; }

static const char* price_text(const chart_plot* plot, double v) {
  return is_index(plot) ? fmt_float_value((float)v) : fmt_float_price((float)v);
}

const char* paint_format_value(const chart_plot* plot, int32_t format, double v) {
  switch (format) {
    case TA_FMT_PRICE:
      return price_text(plot, v);
    case TA_FMT_VOLUME:
      return fmt_float_volume((float)v);
    case TA_FMT_PERCENT:
      return fmt_percent((float)v);
    case TA_FMT_FLOAT0:
      return fmt_float((float)v);
    case TA_FMT_FLOAT1:
      return fmt_float1((float)v);
    case TA_FMT_FLOAT2:
      return fmt_float2((float)v);
    case TA_FMT_FLOAT3:
      return fmt_float3((float)v);
    default:
      return nullptr;
  }
}

size_t paint_caption_text(const chart_plot* plot, char* out, size_t n) {
  static const char* const kOne[] = {"per Second", "per Minute", "per Hour", "per Session",
                                     "Daily",      "Weekly",     "Monthly",  "Yearly"};
  static const char* const kMany[] = {"Seconds", "Minutes", "Hours", "Sessions", "Days", "Weeks", "Months", "Years"};
  if (!n) return 0;
  text_out t{out, n, 0};
  out[0] = 0;
  const char* code = plot->main ? plot->main->code : "";
  int32_t kind = plot->eff_period, count = plot->eff_count;
  if (kind >= 1 && kind <= 8 && count == 1)
    t.add("%s %s", code, kOne[kind - 1]);
  else if (kind >= 1 && kind <= 8)
    t.add("%s every %d %s", code, count, kMany[kind - 1]);
  else
    t.add("%s", code);
  int32_t last = last_of(plot);
  if (plot->count > 0 && last >= first_of(plot)) t.add(": %s", price_text(plot, plot->close[last]));
  return t.len;
}

size_t paint_legend_text(const chart_plot* plot, const chart_ta* ta, const ta_def* def, char* out, size_t n,
                         size_t* values_at) {
  if (!n) return 0;
  text_out t{out, n, 0};
  out[0] = 0;
  t.add("%s", def->name);
  if (def->param_count > 0) {
    if (def->caption) {
      const char* p = def->caption(ta);
      if (p) t.add(" (%s)", p);
    } else {
      t.add(" (");
      for (int32_t k = 0; k < def->param_count && k < 3; k++)
        t.add("%s%.*f", k ? "," : "", def->params[k].decimals, (double)ta->params[k]);
      t.add(")");
    }
  }
  if (values_at) *values_at = t.len;
  int32_t last = last_of(plot);
  if (plot->count > 0 && last >= first_of(plot) && def->label_kind != kLabelNews && def->line_count > 0 &&
      has_value(ta, 0, last)) {
    t.add(" ");
    bool any = false;
    for (int32_t k = 0; k < def->line_count && k < 3; k++) {
      int32_t l = def->line_order[k];
      if (l < 0 || l >= def->line_count || !has_value(ta, l, last)) continue;
      const char* v = paint_format_value(plot, def->lines[l].format, ta->lines[l][last]);
      if (!v) continue;
      const char* name = def->lines[l].name ? def->lines[l].name : "";
      bool named = def->line_count >= 2 && strncmp(def->name, name, strlen(name)) != 0;
      char value[48];
      snprintf(value, sizeof value, "%s", v);
      if (named)
        t.add("%s%s: %s", any ? ", " : "", name, value);
      else
        t.add("%s%s", any ? ", " : "", value);
      any = true;
    }
  }
  return t.len;
}

// --- Caption and legends ---

// Text over a box two pixels larger each side in `box` at alpha 180.
static void boxed_text(const char* text, int32_t x, int32_t y, int32_t w, int32_t h, colour box, int32_t font) {
  paint_box(x - 2, y - 2, w + 4, h + 4, (box & 0x00FFFFFFu) | (kLegendAlpha << 24));
  gfx_end();
  font_draw(text, x, y, 0x10, font, paint_entry(0), nullptr);
}

void paint_legend(chart_plot* plot, chart_ta* ta, int32_t top, int32_t row, colour box) {
  const ta_def* def = def_of(ta);
  if (!def) return;
  chart_theme th = paint_theme();
  char text[256];
  size_t values_at = 0;
  paint_legend_text(plot, ta, def, text, sizeof text, &values_at);
  int32_t px = ta->is_overlay ? plot->pane_x : ta->pane_x;
  int32_t pw = ta->is_overlay ? plot->pane_w : ta->pane_w;
  int32_t size[2] = {0, 0};
  font_text_size(size, th.font_main, text);
  if (size[0] > pw - 4) {
    text[values_at] = 0;
    font_text_size(size, th.font_main, text);
    if (size[0] > pw - 4) return;
  }
  int32_t a = 0, d = 0;
  font_metrics(nullptr, nullptr, &a, &d, th.font_main);
  boxed_text(text, px + 2, top + row * th.line_height + 2, size[0], a + d, box, th.font_main);
}

void paint_caption_and_legends(chart_plot* plot, colour background) {
  chart_theme th = paint_theme();
  if (plot->pane_h >= 11) {
    char text[160];
    paint_caption_text(plot, text, sizeof text);
    int32_t size[2] = {0, 0};
    font_text_size(size, th.font_main, text);
    if (size[0] <= plot->pane_w - 4) {
      int32_t a = 0, d = 0;
      font_metrics(nullptr, nullptr, &a, &d, th.font_main);
      boxed_text(text, plot->pane_x + 2, plot->pane_y + 2, size[0], a + d, background, th.font_main);
    }
  }
  if (plot->pane_h > plot->overlay_count * 10 + 10) {
    int32_t k = 1;
    for (chart_ta* ta = plot->overlays; ta; ta = ta->next, k++)
      paint_legend(plot, ta, plot->pane_y + 1, k, background);
  }
  int32_t n = 0;
  for (chart_ta* ta = plot->indicators; ta; ta = ta->next) {
    if (ta->pane_h <= 10) continue;
    paint_legend(plot, ta, ta->pane_y + 1, 0, n++ % 2 == 0 ? paint_entry(5) : background);
  }
  gfx_end();
}

// --- Data boxes ---

const char* paint_data_string(int32_t i) { return i >= 0 && i < kPaintDataStrings ? g.strings[i] : ""; }

static void table_reset() {
  g.nstrings = 0;
  g.overflow = false;
}

static void table_add(const char* s) {
  if (g.nstrings >= kPaintDataStrings) {
    g.overflow = true;
    return;
  }
  snprintf(g.strings[g.nstrings++], kPaintDataStringSize, "%s", s ? s : "");
}

static void row(const char* label, const char* value) {
  table_add(label);
  table_add(value);
}

static int32_t table_done() {
  if (g.overflow) log(LOG_ERROR, kSrc, "too many data strings!");
  return g.nstrings;
}

int32_t paint_price_box_rows(const chart_plot* plot, int32_t h) {
  table_reset();
  if (h < 0 || h >= plot->count) return 0;
  ss_time t = plot->times[h];
  const instr* in = plot->main;
  bool today = in && in->exchange && sstime_date_compare(t, in->exchange->date) == 0;
  if (plot->eod || !today) row(fmt_date(t), "");
  if (t & kSstimeSecondsMask) row(fmt_time_hms(t), "");
  if (plot->eff_period == 0) {
    row("Close", price_text(plot, plot->close[h]));
  } else {
    row("Open", price_text(plot, plot->open[h]));
    row("High", price_text(plot, plot->high[h]));
    row("Low", price_text(plot, plot->low[h]));
    row("Close", price_text(plot, plot->close[h]));
    if (in && in->kind == kKindStock) row("Volume", fmt_float_volume((float)plot->volume[h]));
  }
  for (const chart_ta* ta = plot->overlays; ta; ta = ta->next) {
    const ta_def* def = def_of(ta);
    if (!def || ta->type == kNewsOverlay || !has_value(ta, 0, h) || ta->value_low == ta->value_high) continue;
    row(def->name, "");
    for (int32_t l = 0; l < def->line_count && l < kTaMaxLines; l++) {
      if (!has_value(ta, l, h)) continue;
      const char* v = paint_format_value(plot, def->lines[l].format, ta->lines[l][h]);
      if (v) row(def->lines[l].name ? def->lines[l].name : "", v);
    }
  }
  return table_done();
}

int32_t paint_indicator_box_rows(const chart_plot* plot, const chart_ta* ta, int32_t h) {
  table_reset();
  const ta_def* def = def_of(ta);
  if (!def || h < 0 || h >= plot->count) return 0;
  for (int32_t l = 0; l < def->line_count && l < kTaMaxLines; l++) {
    if (!has_value(ta, l, h)) continue;
    const char* v = paint_format_value(plot, def->lines[l].format, ta->lines[l][h]);
    if (v) row(def->lines[l].name ? def->lines[l].name : "", v);
  }
  return table_done();
}

void paint_data_box_layout(gmap* map, int32_t count, int32_t* size, int32_t* close_offset) {
  chart_theme th = paint_theme();
  int32_t lh = th.line_height;
  int32_t width = std::max(size[0], 0);
  int32_t rows = (count + 1) / 2;
  *close_offset = -1;
  for (int32_t r = 0; r < rows; r++) {
    const char* label = g.strings[2 * r];
    const char* value = 2 * r + 1 < count ? g.strings[2 * r + 1] : "";
    if (!value[0])
      width = std::max(width, text_width(label, th.font_header) + 8);
    else
      width = std::max(width, text_width(label, th.font_main) + text_width(value, th.font_main) + 12);
    if (*close_offset < 0 && value[0] && !strcmp(label, "Close")) *close_offset = 2 + r * lh + lh / 2;
  }
  size[0] = width;
  size[1] = rows * lh + 4;
  if (!map) return;
  size_t glyphs = 0;
  for (int32_t i = 0; i < count; i++) glyphs += strlen(g.strings[i]);
  gmap_begin(map, (uint32_t)glyphs + 1);
  for (int32_t r = 0; r < rows; r++) {
    const char* label = g.strings[2 * r];
    const char* value = 2 * r + 1 < count ? g.strings[2 * r + 1] : "";
    int32_t y = 2 + r * lh;
    if (!value[0]) {
      font_layout(map, label, width / 2, y, 0x12, th.font_header, nullptr);
    } else {
      font_layout(map, label, 4, y, 0x10, th.font_main, nullptr);
      font_layout(map, value, width - 4, y, 0x11, th.font_main, nullptr);
    }
  }
  gmap_end(map);
}

void paint_place_price_box(const chart_plot* plot, int32_t x, int32_t close_row, int32_t width,
                           int32_t close_offset, paint_box_rect* box) {
  int32_t left_edge = plot->chart_x;
  int32_t top = plot->chart_y, bottom = plot->chart_y + plot->chart_h;
  int32_t col = x - width - kBoxGap;
  if (col < left_edge + 4) {
    col = x + kBoxGap + (col >= left_edge ? 4 : 0);
    int32_t pane_right = plot->pane_x + plot->pane_w;
    if (col + width > pane_right) col = pane_right - width;
    col = std::max(col, left_edge);
  }
  int32_t y = close_row - std::max(close_offset, 0);
  int32_t pane_bottom = plot->pane_y + plot->pane_h;
  if (y + box->h > pane_bottom) y = pane_bottom - box->h;
  y = std::max(y, top + 4);
  box->x = col;
  box->y = y;
  box->w = width;
  box->shown = y + box->h <= bottom;
}

void paint_place_indicator_box(const chart_plot* plot, int32_t x, int32_t right, int32_t centre,
                               const paint_box_rect* above, paint_box_rect* box) {
  int32_t top = plot->chart_y, bottom = plot->chart_y + plot->chart_h;
  box->x = right ? x + kBoxGap : x - kBoxGap - box->w;
  int32_t y = centre - box->h / 2;
  if (y + box->h > bottom) y = bottom - box->h;
  y = std::max(y, top + 4);
  if (above && above->shown && y < above->y + above->h) y = above->y + above->h + 1;
  box->y = y;
  box->shown = y + box->h <= bottom;
}

// A cross-hair segment: two vertices.
static void cross_add(gmap* m, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (m->count + 4 > m->capacity && gmap_grow(m, 2) < 0) return;
  int32_t* v = m->vertices + m->count;
  v[0] = x1;
  v[1] = y1;
  v[2] = x2;
  v[3] = y2;
  m->count += 4;
}

static bool indicator_boxed(const chart_ta* ta, int32_t h) {
  return has_value(ta, 0, h) && ta->value_low != ta->value_high;
}

void paint_hover_build(chart_plot* plot) {
  chart_view* v = plot->view;
  // Built again when the widget asks, or when the pointer is over another
  // sample than the lists were built for.
  if (!v || (!v->rebuild && v->built_index == v->hover_index)) return;
  v->rebuild = 0;
  int32_t h = v->hover_index;
  v->built_index = h;
  int32_t x = (int32_t)plot->xpos[h];
  int32_t close_row = has(plot->y_close[h]) ? (int32_t)plot->y_close[h] : plot->pane_y + plot->pane_h / 2;
  // Widths: the price box and every indicator's rows.
  int32_t size[2] = {0, 0}, close_offset = -1;
  int32_t n = paint_price_box_rows(plot, h);
  paint_data_box_layout(nullptr, n, size, &close_offset);
  int32_t width = size[0];
  for (chart_ta* ta = plot->indicators; ta; ta = ta->next) {
    int32_t k = indicator_boxed(ta, h) ? paint_indicator_box_rows(plot, ta, h) : 0;
    if (!k) continue;
    int32_t s[2] = {0, 0}, off;
    paint_data_box_layout(nullptr, k, s, &off);
    width = std::max(width, s[0]);
  }
  // The price box.
  n = paint_price_box_rows(plot, h);
  size[0] = width;
  paint_data_box_layout(&v->price_text, n, size, &close_offset);
  v->close_offset = close_offset;
  v->price_box.h = size[1];
  paint_place_price_box(plot, x, close_row, width, close_offset, &v->price_box);
  int32_t right = v->price_box.x > x;
  // Indicator boxes, each under the box above it.
  paint_box_rect prev = v->price_box;
  const paint_box_rect* above = &prev;
  for (chart_ta* ta = plot->indicators; ta; ta = ta->next) {
    ta->box_shown = 0;
    int32_t k = indicator_boxed(ta, h) ? paint_indicator_box_rows(plot, ta, h) : 0;
    if (!k) continue;
    if (!ta->draw_list) ta->draw_list = gmap_new(GMAP_QUADS, 0, 0);
    if (!ta->draw_list) continue;
    int32_t s[2] = {width, 0}, off;
    paint_data_box_layout(ta->draw_list, k, s, &off);
    paint_box_rect b{0, 0, s[0], s[1], 0};
    int32_t centre = has(ta->pixels[0] ? ta->pixels[0][h] : kChartNoPixel) ? (int32_t)ta->pixels[0][h]
                                                                           : ta->pane_y + ta->pane_h / 2;
    paint_place_indicator_box(plot, x, right, centre, above, &b);
    ta->box_x = b.x;
    ta->box_y = b.y;
    ta->box_w = b.w;
    ta->box_h = b.h;
    ta->box_shown = b.shown;
    if (b.shown) prev = b;
  }
  // The cross-hair.
  chart_theme th = paint_theme();
  int32_t a_size[2] = {0, 0};
  font_text_size(a_size, th.font_main, "A");
  gmap_begin(&v->cross, (uint32_t)((plot->overlay_count + plot->indicator_count) * 27 + 13));
  int32_t top = plot->chart_y, bottom = plot->chart_y + plot->chart_h;
  int32_t x1 = plot->pane_x, x2 = plot->pane_x + plot->pane_w + 10;
  cross_add(&v->cross, x, top, x, bottom - 4 - a_size[1]);
  if (has(plot->y_close[h])) cross_add(&v->cross, x1, (int32_t)plot->y_close[h], x2, (int32_t)plot->y_close[h]);
  for (chart_ta* ta = plot->indicators; ta; ta = ta->next)
    if (ta->box_shown && ta->pixels[0] && has(ta->pixels[0][h]))
      cross_add(&v->cross, x1, (int32_t)ta->pixels[0][h], x2, (int32_t)ta->pixels[0][h]);
  for (chart_ta* ta = plot->overlays; ta; ta = ta->next) {
    const ta_def* def = def_of(ta);
    int32_t lines = def ? std::min(def->line_count, kTaMaxLines) : 0;
    for (int32_t l = 0; l < lines; l++)
      if (ta->pixels[l] && has(ta->pixels[l][h]) && has_value(ta, l, h))
        cross_add(&v->cross, x1, (int32_t)ta->pixels[l][h], x2, (int32_t)ta->pixels[l][h]);
  }
  gmap_end(&v->cross);
}

void paint_cross_hair(chart_plot* plot) {
  chart_view* v = plot->view;
  if (!v) return;
  colour c = paint_entry(16);
  colour faint = (c & 0x00FFFFFFu) | (kFaint << 24);
  const int32_t* p = v->cross.vertices;
  paint_begin(GL_QUADS);
  for (int32_t i = 0, k = 0; i + 3 < v->cross.count; i += 4, k++) {
    int32_t x1 = p[i], y1 = p[i + 1], x2 = p[i + 2], y2 = p[i + 3];
    gfx_colour(v->highlight >= 0 && k >= v->highlight ? faint : c);
    int32_t l, t, r, b;
    if (x1 == x2) {  // vertical: three columns, one before to two past
      l = x1 - 1, r = x1 + 2, t = std::min(y1, y2), b = std::max(y1, y2);
    } else {
      t = y1 - 1, b = y1 + 2, l = std::min(x1, x2), r = std::max(x1, x2);
    }
    gl->Vertex2i(l, t);
    gl->Vertex2i(l, b);
    gl->Vertex2i(r, b);
    gl->Vertex2i(r, t);
  }
  gfx_end();
}

static void box_back(const paint_box_rect& b, const chart_theme& th) {
  rect r = {b.x, b.y, b.w, b.h};
  gfx_end();
  gfx_image_with_frame(th.box_image, paint_entry(17), th.box_frame, (th.box_frame_colour & 0x00FFFFFFu) | (0x78u << 24),
                       0, &r);
}

void paint_data_boxes(chart_plot* plot) {
  chart_view* v = plot->view;
  if (!v) return;
  chart_theme th = paint_theme();
  if (v->price_box.shown) box_back(v->price_box, th);
  for (chart_ta* ta = plot->indicators; ta; ta = ta->next)
    if (ta->box_shown) box_back({ta->box_x, ta->box_y, ta->box_w, ta->box_h, 1}, th);
  colour text = paint_entry(15);
  gfx_end();
  if (v->price_box.shown) {
    gfx_colour(text);
    gmap_draw_at(&v->price_text, v->price_box.x, v->price_box.y);
  }
  for (chart_ta* ta = plot->indicators; ta; ta = ta->next) {
    if (!ta->box_shown || !ta->draw_list) continue;
    gfx_colour(text);
    gmap_draw_at(ta->draw_list, ta->box_x, ta->box_y);
  }
  gfx_end();
}
