// Chart painting: the order of a chart's layers, the chart-wide layers
// (background, pane shading, grids and labels, markers, the zero line) and
// the price plot by chart type.
//
// The design point a reader needs first: painting only turns precomputed
// positions into primitives. The drawing layer keeps one primitive open
// across calls and sends a colour only when it changes, so consecutive shapes
// of one kind (every wick, every body) share one glBegin; painting keeps to
// that by drawing a chart type in passes of one primitive kind each, and
// every exit of paint_chart closes the open primitive. Nothing allocates here
// but the hover's lists (paint_lines).
#include "charts/paint.h"

#include <algorithm>
#include <cmath>

#include "charts/alloc.h"
#include "charts/axislist.h"
#include "charts/nuchart.h"
#include "charts/paint_lines.h"
#include "lib/colour.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/glapi.h"
#include "log.h"
#include "ssmodel.h"
#include "ui/widget.h"

static const char kSrc[] = "src/charts/paint";

constexpr int32_t kMinPaint = 40;  // smaller charts show only their background
constexpr colour kDateLabelColour = 0x60ffffff;

// Chart types.
enum : int32_t {
  kTypeClose = 1,
  kTypeDots = 2,
  kTypeBars = 3,
  kTypeCandle = 4,
  kTypeCandleVolume = 5,
  kTypeHlc = 6,
  kTypeOhlc = 7,
  kTypeColumns = 8,
  kTypeClose9 = 9,
  kTypeClose10 = 10,
  kTypeEquiVolume = 11,
  kTypeStep = 16,
};

// Option bits read here.
constexpr uint32_t kOptTimeAxis = 0x1;
constexpr uint32_t kOptValueAxis = 0x2;
constexpr uint32_t kOptOneLinePerColumn = 0x100;
constexpr uint32_t kOptThick = 0x200;
constexpr uint32_t kOptFill = 0x800;
constexpr uint32_t kOptColorize = 0x1000;
constexpr uint32_t kOptTheme = 0x2000;
constexpr uint32_t kOptThemeStep = 0x4000;
constexpr uint32_t kOptDark = 0x200000;
constexpr uint32_t kOptFromDate = 0x400000;

static void default_theme(chart_theme* t) {
  // The default style at size 1: fonts 6, 7, 14 and 19; the data-box frame
  // images 1 and 3; the news marks 27 (important), 26 (plain), 28 (other).
  *t = chart_theme{6,  7,  14, 19, 0, 0xFF5A5A5A, 0xFF282828, 1, 3, 27, 26, 28,
                   {0xFF3C78D8, 0xFF808080, 0xFF2A2A2A, 0xFFF0F0F0}, 0};
  int32_t ascent = 0, descent = 0;
  font_metrics(nullptr, nullptr, &ascent, &descent, t->font_main);
  t->line_height = ascent + descent + 3;
}

// What one paint remembers: the colour table in use, the direction of the
// last sample drawn with direction colours, and the theme source.
static struct {
  colour table[kChartColours];
  int32_t up;  // 1 up, 0 down
  void (*theme_source)(chart_theme*);
} g = {{}, 1, nullptr};

void paint_set_theme_source(void (*fn)(chart_theme* out)) { g.theme_source = fn; }

chart_theme paint_theme(void) {
  chart_theme t;
  default_theme(&t);
  if (g.theme_source) g.theme_source(&t);
  return t;
}

int32_t paint_colour_set(uint32_t options) {
  if (options & kOptTheme) return 2;
  if (options & kOptDark) return 1;
  return paint_theme().dark ? 1 : 0;  // no scheme of its own: the style's
}

colour paint_entry(int32_t e) { return e >= 0 && e < kChartColours ? g.table[e] : 0; }

colour paint_direction(double sign, colour up, colour down) {
  if (sign > 0)
    g.up = 1;
  else if (sign < 0)
    g.up = 0;
  return g.up ? up : down;
}

void paint_direction_reset(void) { g.up = 1; }

// --- Primitives ---

void paint_begin(uint32_t kind) {
  if (gfx_bound_texture() != 0) {
    gfx_end();
    gfx_untexture();
  }
  gfx_begin(kind);
}

void paint_box(int32_t x, int32_t y, int32_t w, int32_t h, colour c) {
  paint_begin(GL_QUADS);
  gfx_colour(c);
  gl->Vertex2i(x, y);
  gl->Vertex2i(x, y + h);
  gl->Vertex2i(x + w, y + h);
  gl->Vertex2i(x + w, y);
  gfx_end();
}

void paint_thick_begin(const chart_plot* plot) {
  if (!(plot->options & kOptThick)) return;
  gfx_end();
  gl->LineWidth(2.5f);
  gl->Enable(GL_LINE_SMOOTH);
}

// Back to GL's own width of 1, which every other drawer assumes.
void paint_thick_end(const chart_plot* plot) {
  if (!(plot->options & kOptThick)) return;
  gfx_end();
  gl->Disable(GL_LINE_SMOOTH);
  gl->LineWidth(1.0f);
}

void paint_stipple_begin(int32_t factor, uint16_t pattern) {
  gfx_end();
  gl->LineStipple(factor, pattern);
  gl->Enable(GL_LINE_STIPPLE);
}

void paint_stipple_end(void) {
  gfx_end();
  gl->Disable(GL_LINE_STIPPLE);
}

static inline float c5(int64_t v) { return (float)v + 0.5f; }
static inline bool has(uint32_t row) { return row != kChartNoPixel; }
static inline int32_t first_of(const chart_plot* p) { return std::max(p->first_visible, 0); }
static inline int32_t last_of(const chart_plot* p) { return std::min(p->last_visible, p->count - 1); }

// A segment between pixel centres.
static inline void seg(float x1, float y1, float x2, float y2) {
  gl->Vertex2f(x1, y1);
  gl->Vertex2f(x2, y2);
}

// The outline of the pixels [l, r] x [t, b] as four GL line segments that
// cover each edge pixel once (a segment leaves out its last pixel).
static void outline(int32_t l, int32_t t, int32_t r, int32_t b) {
  seg(c5(l), c5(t), c5(r + 1), c5(t));
  if (b > t) seg(c5(l), c5(b), c5(r + 1), c5(b));
  if (b - t > 1) {
    seg(c5(l), c5(t + 1), c5(l), c5(b));
    if (r > l) seg(c5(r), c5(t + 1), c5(r), c5(b));
  }
}

// --- Helpers of the price plot ---

void paint_line(chart_plot* plot, const uint32_t* rows, colour c) {
  int32_t first = first_of(plot), last = last_of(plot);
  if (!rows || first > last) return;
  colour up = paint_entry(6), down = paint_entry(7);
  if (c == 0 && plot->change[first] == 0) g.up = 1;
  paint_thick_begin(plot);
  bool open = false;
  for (int32_t i = first; i <= last; i++) {
    if (!has(rows[i])) continue;
    if (!open) {
      gfx_end();  // every strip is a primitive of its own
      paint_begin(GL_LINE_STRIP);
      open = true;
    }
    gfx_colour(c ? c : paint_direction(plot->change[i], up, down));
    gl->Vertex2f(c5(plot->xpos[i]), c5(rows[i]));
  }
  gfx_end();
  paint_thick_end(plot);
}

void paint_bars(chart_plot* plot, colour c, int open_tick, int close_tick) {
  int32_t first = first_of(plot), last = last_of(plot);
  if (first > last) return;
  int32_t w = (int32_t)plot->bar_width[first];
  int32_t l = w < 2 ? 1 : w / 2;
  int32_t r = std::max(w - w / 2, 2);
  int32_t copies = plot->options & kOptThick ? 2 : 1;
  colour up = paint_entry(6), down = paint_entry(7);
  paint_begin(GL_LINES);
  for (int32_t i = first; i <= last; i++) {
    if (!has(plot->y_close[i])) continue;
    gfx_colour(c ? c : paint_direction(plot->close[i] - plot->open[i], up, down));
    float x = c5(plot->xpos[i]);
    for (int32_t k = 0; k < copies; k++) {
      if (has(plot->y_high[i]) && has(plot->y_low[i]))
        seg(x + k, c5(plot->y_high[i]), x + k, (float)plot->y_low[i] + 1.5f);
      if (open_tick && has(plot->y_open[i])) {
        float y = c5(plot->y_open[i]) + k;
        seg(x - l - 1, y, x, y);
      }
      if (close_tick) {
        float y = c5(plot->y_close[i]) + k;
        seg(x, y, x + r, y);
      }
    }
  }
  gfx_end();
}

void paint_columns(chart_plot* plot, const uint32_t* rows, int32_t base, colour c) {
  int32_t first = first_of(plot), last = last_of(plot);
  if (!rows || first > last) return;
  colour up = paint_entry(18), down = paint_entry(19);
  if (plot->options & kOptOneLinePerColumn) {
    paint_begin(GL_LINES);
    int32_t i = first;
    while (i <= last) {
      // One line for the run of samples on this column, from its highest point.
      uint32_t x = plot->xpos[i];
      int32_t best = -1;
      for (; i <= last && plot->xpos[i] == x; i++)
        if (has(rows[i]) && (best < 0 || rows[i] < rows[best])) best = i;
      if (best < 0) continue;
      gfx_colour(c ? c : paint_direction(plot->change[best], up, down));
      seg(c5(x), c5(rows[best]), c5(x), c5(base));
    }
    gfx_end();
    return;
  }
  paint_begin(GL_QUADS);
  for (int32_t i = first; i <= last; i++) {
    if (!has(rows[i])) continue;
    int32_t w = (int32_t)plot->bar_width[i];
    int32_t x = (int32_t)plot->xpos[i];
    int32_t left = w >= 3 ? x - (w - 1) / 2 : x;
    int32_t top = std::min((int32_t)rows[i], base), bottom = std::max((int32_t)rows[i], base);
    gfx_colour(c ? c : paint_direction(plot->change[i], up, down));
    gl->Vertex2i(left, top);
    gl->Vertex2i(left, bottom);
    gl->Vertex2i(left + w, bottom);
    gl->Vertex2i(left + w, top);
  }
  gfx_end();
}

// --- Price plot by type ---

static void paint_dots(chart_plot* plot, colour c) {
  int32_t first = first_of(plot), last = last_of(plot);
  bool thick = plot->options & kOptThick;
  int32_t lo = thick ? -2 : 0, hi = thick ? 3 : 2;
  colour up = paint_entry(6), down = paint_entry(7);
  paint_begin(GL_QUADS);
  for (int32_t i = first; i <= last; i++) {
    if (!has(plot->y_close[i])) continue;
    gfx_colour(c ? c : paint_direction(plot->close[i] - plot->open[i], up, down));
    int32_t x = (int32_t)plot->xpos[i], y = (int32_t)plot->y_close[i];
    gl->Vertex2i(x + lo, y + lo);
    gl->Vertex2i(x + lo, y + hi);
    gl->Vertex2i(x + hi, y + hi);
    gl->Vertex2i(x + hi, y + lo);
  }
  gfx_end();
}

// The colour of each visible sample by close against open, decided once so
// that the three candle passes agree (the remembered direction runs on
// through the samples in order).
static colour candle_colour(chart_plot* plot, int32_t i, colour c) {
  return c ? c : paint_direction(plot->close[i] - plot->open[i], paint_entry(6), paint_entry(7));
}

static void paint_candles(chart_plot* plot, colour c, colour background) {
  int32_t first = first_of(plot), last = last_of(plot);
  bool thick = plot->options & kOptThick;
  // Candles one pixel wide have no room for a hollow: each is its column
  // from high to low, exactly the pixels of wick, outline and body together,
  // sent as one line instead of three passes.
  if (!thick && first <= last && plot->bar_width[first] == 1) {
    bool narrow = true;
    for (int32_t i = first; i <= last && narrow; i++) narrow = plot->bar_width[i] == 1;
    if (narrow) {
      paint_begin(GL_LINES);
      for (int32_t i = first; i <= last; i++) {
        if (!has(plot->y_close[i]) || !has(plot->y_open[i])) continue;
        gfx_colour(candle_colour(plot, i, c));
        uint32_t top = std::min({plot->y_open[i], plot->y_close[i], plot->y_high[i]});
        uint32_t bottom = std::max(plot->y_open[i], plot->y_close[i]);
        if (has(plot->y_low[i])) bottom = std::max(bottom, plot->y_low[i]);
        float x = c5(plot->xpos[i]);
        seg(x, c5(top), x, c5(bottom + 1));
      }
      gfx_end();
      return;
    }
  }
  int32_t saved = g.up;
  auto usable = [&](int32_t i) { return has(plot->y_close[i]) && has(plot->y_open[i]); };
  // 1. Wicks.
  paint_begin(GL_LINES);
  for (int32_t i = first; i <= last; i++) {
    if (!usable(i)) continue;
    gfx_colour(candle_colour(plot, i, c));
    int32_t top = (int32_t)std::min(plot->y_open[i], plot->y_close[i]);
    int32_t bottom = (int32_t)std::max(plot->y_open[i], plot->y_close[i]);
    for (int32_t k = 0; k < (thick ? 2 : 1); k++) {
      float x = c5(plot->xpos[i]) + k;
      if (has(plot->y_high[i]) && (int32_t)plot->y_high[i] < top) seg(x, c5(plot->y_high[i]), x, c5(top));
      if (has(plot->y_low[i]) && (int32_t)plot->y_low[i] > bottom) seg(x, c5(bottom), x, c5(plot->y_low[i] + 1));
    }
  }
  gfx_end();
  // 2. Outlines of rising candles.
  g.up = saved;
  paint_begin(GL_LINES);
  for (int32_t i = first; i <= last; i++) {
    if (!usable(i)) continue;
    colour cc = candle_colour(plot, i, c);
    if (plot->y_close[i] >= plot->y_open[i]) continue;
    gfx_colour(cc);
    int32_t w = (int32_t)plot->bar_width[i], x = (int32_t)plot->xpos[i];
    int32_t l = x - w / 2, r = x + (w - w / 2) - 1;
    int32_t t = (int32_t)plot->y_close[i], b = (int32_t)plot->y_open[i];
    outline(l, t, r, b);
    if (thick && r - l >= 2 && b - t >= 2) outline(l + 1, t + 1, r - 1, b - 1);
  }
  gfx_end();
  // 3. Bodies: rising ones hollow (the background inside the outline),
  // falling and flat ones solid, one row at least so a flat candle shows.
  g.up = saved;
  paint_begin(GL_QUADS);
  for (int32_t i = first; i <= last; i++) {
    if (!usable(i)) continue;
    colour cc = candle_colour(plot, i, c);
    int32_t w = (int32_t)plot->bar_width[i], x = (int32_t)plot->xpos[i];
    int32_t t = (int32_t)plot->y_close[i], b = (int32_t)plot->y_open[i];
    if (t < b) {
      int32_t in = thick ? 2 : 1;
      int32_t l = x - w / 2 + in, r = x + (w - w / 2) - 1 - in;
      if (r < l || b - in < t + in) continue;
      gfx_colour(background);
      gl->Vertex2i(l, t + in);
      gl->Vertex2i(l, b - in + 1);
      gl->Vertex2i(r + 1, b - in + 1);
      gl->Vertex2i(r + 1, t + in);
      continue;
    }
    int32_t h = (w - 1) / 2;
    int32_t top = std::min(t, b), bottom = std::max(t, b) + 1;
    gfx_colour(cc);
    gl->Vertex2i(x - h, top);
    gl->Vertex2i(x - h, bottom);
    gl->Vertex2i(x + (w - h), bottom);
    gl->Vertex2i(x + (w - h), top);
  }
  gfx_end();
}

static void paint_equivolume(chart_plot* plot, colour c) {
  int32_t first = first_of(plot), last = last_of(plot);
  bool thick = plot->options & kOptThick;
  paint_begin(GL_LINES);
  for (int32_t i = first; i <= last; i++) {
    if (!has(plot->y_close[i]) || !has(plot->y_high[i]) || !has(plot->y_low[i])) continue;
    gfx_colour(c ? c : paint_direction(plot->close[i] - plot->open[i], paint_entry(6), paint_entry(7)));
    int32_t w = (int32_t)plot->bar_width[i], x = (int32_t)plot->xpos[i];
    int32_t h = w / 2 - (thick ? 1 : 0);
    int32_t l = x - h, r = x + (w - h - 1);
    int32_t t = (int32_t)plot->y_high[i], b = (int32_t)plot->y_low[i];
    outline(l, t, r, b);
    if (thick && r - l >= 2 && b - t >= 2) outline(l + 1, t + 1, r - 1, b - 1);
  }
  gfx_end();
}

// Runs of samples on one column: [start, end] with the highest and lowest
// close rows and the first and last close rows; samples without a close row
// are passed over.
namespace {
struct step_run {
  int32_t start, end;
  uint32_t x, top, bottom, first_row, last_row;
};

bool next_run(const chart_plot* plot, int32_t* i, int32_t last, step_run* run) {
  while (*i <= last && !has(plot->y_close[*i])) (*i)++;
  if (*i > last) return false;
  run->start = *i;
  run->x = plot->xpos[*i];
  run->top = run->bottom = run->first_row = run->last_row = plot->y_close[*i];
  run->end = *i;
  for ((*i)++; *i <= last && plot->xpos[*i] == run->x; (*i)++) {
    uint32_t y = plot->y_close[*i];
    if (!has(y)) continue;
    run->top = std::min(run->top, y);
    run->bottom = std::max(run->bottom, y);
    run->last_row = y;
    run->end = *i;
  }
  return true;
}
}  // namespace

static void paint_step(chart_plot* plot, colour c) {
  int32_t first = first_of(plot), last = last_of(plot);
  colour up = paint_entry(6), down = paint_entry(7);
  auto col = [&](int32_t i) { return c ? c : paint_direction(plot->close[i] - plot->open[i], up, down); };
  paint_thick_begin(plot);
  gfx_end();
  paint_begin(GL_LINE_STRIP);
  int32_t i = first;
  step_run run{}, next{};
  bool have = next_run(plot, &i, last, &run);
  if (have) {
    gfx_colour(col(run.start));
    gl->Vertex2f(c5(run.x), c5(run.first_row));
  }
  while (have) {
    float x = c5(run.x);
    if (run.top != run.bottom) {
      // The run's whole span, ending at its last close.
      gfx_colour(col(run.end));
      gl->Vertex2f(x, c5(run.top));
      gl->Vertex2f(x, c5(run.bottom));
      gl->Vertex2f(x, c5(run.last_row));
    }
    bool more = next_run(plot, &i, last, &next);
    if (!more) break;
    gfx_colour(col(next.start));
    gl->Vertex2f(c5(next.x), c5(run.last_row));
    gl->Vertex2f(c5(next.x), c5(next.first_row));
    run = next;
  }
  gfx_end();
  paint_thick_end(plot);
}

// The area under the step line, down to the price pane's bottom.
static void paint_step_fill(chart_plot* plot) {
  int32_t first = first_of(plot), last = last_of(plot);
  float bottom = (float)(plot->pane_y + plot->pane_h);
  gfx_end();
  paint_begin(GL_QUAD_STRIP);
  gfx_colour(paint_entry(11));
  int32_t i = first;
  step_run run{};
  bool started = false;
  uint32_t prev_row = 0;
  while (next_run(plot, &i, last, &run)) {
    float x = c5(run.x);
    if (started) {
      gl->Vertex2f(x, c5(prev_row));
      gl->Vertex2f(x, bottom);
    }
    gl->Vertex2f(x, c5(run.last_row));
    gl->Vertex2f(x, bottom);
    prev_row = run.last_row;
    started = true;
  }
  gfx_end();
}

static void paint_price_plot(chart_plot* plot, colour background) {
  colour c = plot->options & kOptColorize ? 0 : paint_entry(10);
  switch (plot->type) {
    case kTypeClose:
    case kTypeClose9:
    case kTypeClose10:
      paint_line(plot, plot->y_close, c);
      break;
    case kTypeDots:
      paint_dots(plot, c);
      break;
    case kTypeBars:
      paint_bars(plot, c, 0, 0);
      break;
    case kTypeHlc:
      paint_bars(plot, c, 0, 1);
      break;
    case kTypeOhlc:
      paint_bars(plot, c, 1, 1);
      break;
    case kTypeCandle:
    case kTypeCandleVolume:
      paint_candles(plot, c, background);
      break;
    case kTypeColumns:
      paint_columns(plot, plot->y_close, plot->pane_y + plot->pane_h, c);
      break;
    case kTypeEquiVolume:
      paint_equivolume(plot, c);
      break;
    case kTypeStep:
      if (plot->options & kOptThemeStep) c = colour_lighten(paint_theme().step_colour, 40);
      paint_step(plot, c);
      break;
    case 12:
    case 13:
    case 14:
    case 15:
      log(LOG_WARN, kSrc, "todo");
      break;
    default:
      break;
  }
}

// --- Chart-wide layers ---

static void vline(int32_t x, int32_t y1, int32_t y2) { seg(c5(x), c5(y1), c5(x), c5(y2)); }
static void hline(int32_t y, int32_t x1, int32_t x2) { seg(c5(x1), c5(y), c5(x2), c5(y)); }

// A label measured in the small-digit font (minute marks, decimals) is
// drawn in it; the others (month and day names) in the text font.
static void draw_labels(const chart_list<chart_label>& list, const chart_theme& theme, colour c) {
  for (const chart_label& l : list.items)
    font_draw(l.text.c_str(), l.x, l.y, 0x10, l.small ? theme.font_values : theme.font_main, c, nullptr);
}

static void paint_grids(chart_plot* plot, const chart_theme& theme) {
  const chart_view* v = plot->view;
  if (!v || !v->axes) return;
  const chart_axes* a = v->axes;
  bool hover = v->hovering;
  int32_t top = plot->chart_y, bottom = plot->chart_y + plot->chart_h;
  if (plot->options & kOptTimeAxis) {
    paint_begin(GL_LINES);
    gfx_colour(paint_entry(hover ? 2 : 1));
    for (int32_t x : a->time.major.items) vline(x, top + 1, bottom);
    if (!hover) {
      gfx_colour(paint_entry(2));
      for (int32_t x : a->time.minor.items) vline(x, top + 1, bottom);
    }
    gfx_end();
    draw_labels(a->time.labels, theme, paint_entry(0));
  }
  if (plot->options & kOptValueAxis) {
    if (!hover) {
      int32_t x1 = plot->chart_x, x2 = plot->pane_x + plot->pane_w + 10;
      paint_begin(GL_LINES);
      gfx_colour(paint_entry(1));
      for (int32_t y : a->value.major.items) hline(y, x1, x2);
      gfx_colour(paint_entry(2));
      for (int32_t y : a->value.minor.items) hline(y, x1, x2);
      // The value axis keeps two lists; the third grid (entry 3) has no lines.
      gfx_end();
    }
    draw_labels(a->value.labels, theme, paint_entry(0));
  }
}

static void paint_from_date(chart_plot* plot, const chart_theme& theme) {
  if (!(plot->options & kOptFromDate) || !plot->from) return;
  const instr* in = plot->main;
  if (in && in->exchange && sstime_date_compare(plot->from, in->exchange->date) == 0) return;
  const char* text = fmt_upper(fmt_date_short(plot->from));
  gfx_end();
  font_draw(text, plot->pane_x + plot->pane_w / 2, plot->pane_y + 4, 0x12, theme.font_date, kDateLabelColour,
            nullptr);
}

static bool inside(const chart_plot* p, int32_t x) { return x >= p->chart_x && x < p->chart_x + p->chart_w; }

static void paint_markers(chart_plot* plot) {
  int32_t top = plot->chart_y, bottom = plot->chart_y + plot->chart_h;
  int32_t left = plot->chart_x, right = plot->chart_x + plot->chart_w;
  // Marker band.
  int32_t a = plot->marked.from_px, b = plot->marked.to_px;
  if (a != -1 || b != -1) {
    if (a < b) {
      int32_t l = std::max(a, left), r = std::min(b, right);
      if (r > l) paint_box(l, top + 1, r - l, plot->chart_h, paint_entry(14));
      paint_begin(GL_LINES);
      gfx_colour(paint_entry(13));
      if (inside(plot, a)) vline(a, top + 1, bottom);
      if (inside(plot, b)) vline(b, top + 1, bottom);
    } else if (inside(plot, b)) {
      paint_begin(GL_LINES);
      gfx_colour(paint_entry(13));
      vline(b, top + 1, bottom);
    }
  }
  // Time marker.
  int32_t k = plot->cursor.index;
  if (k >= 0 && k < plot->count && plot->cursor.time) {
    ss_time t = plot->cursor.time;
    int32_t x = (int32_t)plot->xpos[k];
    if (t >= plot->times[first_of(plot)] && t <= plot->times[last_of(plot)] && inside(plot, x)) {
      paint_begin(GL_LINES);
      gfx_colour(paint_entry(13));
      vline(x, top + 1, bottom);
    }
  }
  // Overview selection.
  const chart_view* v = plot->view;
  if (v && v->select_from != -1) {
    int32_t l = std::min(v->select_from, v->select_to), r = std::max(v->select_from, v->select_to);
    paint_box(l, top, r - l, plot->chart_h, paint_entry(14));
    paint_begin(GL_LINES);
    gfx_colour(paint_entry(13));
    vline(l, top, bottom);
    vline(r, top, bottom);
  }
  gfx_end();
  // Zero line of the price pane.
  if (plot->zero_y != -1) {
    paint_stipple_begin(2, 0x5555);
    paint_begin(GL_LINES);
    gfx_colour(paint_entry(3));
    hline(plot->zero_y, plot->pane_x, plot->pane_x + plot->pane_w);
    paint_stipple_end();
  }
}

static void paint_background(chart_plot* plot, colour bg) {
  if (plot->options & kOptTheme) {
    gfx_end();
    rect r = {plot->chart_x, plot->chart_y, plot->chart_w, plot->chart_h + 1};
    panel_draw(&r, bg, paint_entry(1), colour_darken(bg, 8), -1);
    gfx_end();
    return;
  }
  paint_box(plot->chart_x, plot->chart_y, plot->chart_w, plot->chart_h + 1, bg);
}

static bool hovering_sample(const chart_plot* plot) {
  const chart_view* v = plot->view;
  return v && v->hovering && plot->count > 0 && v->hover_index >= first_of(plot) && v->hover_index <= last_of(plot);
}

void paint_chart(chart_plot* plot, uint32_t* background) {
  // 1.
  paint_lines_reset();
  paint_direction_reset();
  gfx_end();
  chart_colours_follow(paint_theme().style_colour);
  int32_t set = paint_colour_set(plot->options);
  for (int32_t e = 0; e < kChartColours; e++) g.table[e] = chart_colour(set, e);
  colour bg = plot->background ? plot->background : g.table[4];
  if (background) *background = bg;
  // 2, 3.
  paint_background(plot, bg);
  if (plot->chart_w < kMinPaint || plot->chart_h < kMinPaint) {
    gfx_end();
    return;
  }
  chart_theme theme = paint_theme();
  // 4. Every other indicator pane.
  int32_t n = 0;
  for (chart_ta* ta = plot->indicators; ta; ta = ta->next, n++)
    if (n % 2 == 0) paint_box(plot->chart_x, ta->pane_y, plot->chart_w, ta->pane_h, g.table[5]);
  gfx_end();
  bool samples = plot->count > 0 && last_of(plot) >= first_of(plot);
  // 5.
  if ((plot->options & kOptFill) && plot->type == kTypeStep && samples) paint_step_fill(plot);
  // 6, 7.
  paint_grids(plot, theme);
  // 8.
  if (!samples) {
    gfx_end();
    return;
  }
  // 9.
  bool hover = hovering_sample(plot);
  if (hover) {
    paint_hover_build(plot);
    paint_cross_hair(plot);
  }
  // 10-14.
  paint_from_date(plot, theme);
  paint_markers(plot);
  // 15, 16.
  paint_price_plot(plot, bg);
  paint_overlays(plot);
  paint_indicators(plot);
  // 17.
  if (plot->options & 0x4) paint_caption_and_legends(plot, bg);
  // 18.
  if (hover) paint_data_boxes(plot);
  gfx_end();
}

// --- The view ---

void chart_view_init(chart_view* v) {
  *v = chart_view{};
  v->hover_index = -1;
  v->highlight = -1;
  v->select_from = v->select_to = -1;
  v->close_offset = -1;
  v->built_index = -1;
  gmap_setup(&v->price_text, GMAP_QUADS, 0, 0);
  gmap_setup(&v->cross, GMAP_LINES, 0, 0);
}

void chart_view_release(chart_view* v) {
  gmap_release(&v->price_text);
  gmap_release(&v->cross);
}
