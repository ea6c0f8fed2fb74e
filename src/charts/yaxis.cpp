// The chart's value axis.
//
// A step comes from a fixed table of four steps a decade (1, 5, 2.5, 2) so
// that labels stay two font lines apart; every tenth-of-a-decade line is
// major; large numbers are divided down to K, M or B on indicator panes, and
// decimals are written in the small digit font (drawn as 'a' + digit). Ticks
// are counted with an integer (first + i x step), never by adding the step to
// a running value: near large values a small step would stop moving it.
#include "charts/yaxis.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "charts/alloc.h"
#include "charts/ta.h"
#include "log.h"
#include "ssmodel.h"
#include "ssutil.h"

static const char kSrc[] = "yaxis";

constexpr int32_t kMinPane = 10;
constexpr int32_t kLabelGap = 12;  // label x right of the pane
constexpr int32_t kTopMargin = 4;  // labels only this far below the chart top
constexpr int32_t kSmallDecimals[kYaxisRows] = {
    // 1e10 .. 10: steps of 5 and above, and 2 and 1, have none.
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0,  // 10, 5
    1, 0,  // 2.5, 2
    0, 1, 2, 1, 1, 2, 3, 2, 2, 3, 4, 3, 3, 4, 5, 4, 4, 5, 6, 5};

static struct {
  int32_t ready;
  yaxis_row rows[kYaxisRows + 1];  // the last an end mark of step 0
} g;

static void build_table(void) {
  static const char* const kMantissa[] = {"1", "5", "2.5", "2"};
  static const int32_t kPerMajor[] = {10, 2, 4, 5};
  for (int32_t r = 0; r < kYaxisRows; r++) {
    int32_t e = 10 - r / 4 - (r % 4 ? 1 : 0);
    char text[32];
    snprintf(text, sizeof text, "%se%d", kMantissa[r % 4], e);
    yaxis_row& row = g.rows[r];
    row.step = strtod(text, nullptr);  // the nearest double to the decimal step
    row.per_major = kPerMajor[r % 4];
    row.decimals = kSmallDecimals[r];
    row.magnitude = r <= 3 ? 9 : r <= 16 ? 6 : r <= 27 ? 3 : 1;
  }
  g.rows[kYaxisRows] = {0.0, 0, 0, 1};
  g.ready = 1;
}

const yaxis_row* yaxis_step_row(int32_t row) {
  if (!g.ready) build_table();
  return row >= 0 && row <= kYaxisRows ? &g.rows[row] : nullptr;
}

int32_t yaxis_pick_row(double r, int32_t n) {
  if (!g.ready) build_table();
  if (n <= 0) return 0;
  double per = r / n;
  for (int32_t i = 0; i < kYaxisRows; i++)
    if (g.rows[i].step <= per) return i;
  return kYaxisRows - 1;
}

// The value written with the format, its decimals as small-digit letters.
static std::string tick_text(const char* fmt, double v, const char* suffix) {
  char buf[64];
  snprintf(buf, sizeof buf, fmt, v);
  std::string s = buf;
  if (v == 0 && !s.empty() && s[0] == '+') s[0] = ' ';
  size_t dot = s.find('.');
  if (dot != std::string::npos) {
    bool all_zero = true;
    for (size_t i = dot + 1; i < s.size(); i++)
      if (s[i] != '0') all_zero = false;
    if (all_zero) {
      s.resize(dot);
    } else {
      for (size_t i = dot + 1; i < s.size(); i++) s[i] = (char)('a' + (s[i] - '0'));
    }
  }
  return s + suffix;
}

void yaxis_ticks(chart_plot* p, chart_axes* a, int32_t px, int32_t py, int32_t pw, int32_t ph, int32_t kind,
                 double min, double max) {
  if (min == FLT_MAX || min == -FLT_MAX || !(min <= max - 1e-5)) return;
  double r = max - min;
  if (r > kYaxisMaxRange) {
    log(LOG_WARN, kSrc, "won't do range %.0f", r);
    return;
  }
  int32_t lh = a->fonts.line_height(a->fonts.ctx, 0);
  int32_t n = lh > 0 ? ph / (2 * lh) : 0;
  int32_t row = yaxis_pick_row(r, n);
  char suffix[8] = "";
  if (kind != 0 && row <= 27) {
    int32_t mag = g.rows[row].magnitude;
    double div = mag == 9 ? 1e9 : mag == 6 ? 1e6 : 1e3;
    min /= div;
    max /= div;
    snprintf(suffix, sizeof suffix, "%s", mag == 9 ? "B" : mag == 6 ? "M" : "K");
    row = yaxis_pick_row(max - min, n);
  }
  if (kind == 1) strcat(suffix, "%");
  const yaxis_row& st = g.rows[row];
  a->decimals = st.decimals;
  double s = st.step;
  // A tolerance of a millionth of a step keeps a tick that rounding pushed
  // just past an end of the range.
  double eps = s * 1e-6;
  double k0 = std::floor(min / s);
  if (k0 * s < min - eps) k0 += 1;
  char fmt[16];
  snprintf(fmt, sizeof fmt, (kind != 0 && min < 0) ? "%%+.%df" : "%%.%df", st.decimals);
  int32_t exchange = -1;
  if (kind == 0 && p->main && p->main->exchange) exchange = (int32_t)p->main->exchange->index;
  // The major phase: the tick at a whole multiple of per_major steps.
  int64_t phase = (int64_t)std::fmod(k0, (double)st.per_major);
  if (phase < 0) phase += st.per_major;
  int32_t cap = 2 * std::max(n, 5) + 2;
  double span = max - min;
  int32_t bottom = py + ph;
  for (int32_t i = 0; i < cap; i++) {
    double tick = (k0 + i) * s;
    if (tick > max + eps) break;
    if (exchange >= 0 && tick >= 0) {
      // Labels are cents; the model's prices are hundredths of a cent.
      long long units = std::llround(tick * 100);
      if (units <= (long long)UINT32_MAX && !ssutil_price_on_step(exchange, (uint32_t)units)) continue;
    }
    bool major = (phase + i) % st.per_major == 0;
    int32_t y = (int32_t)(bottom - (tick - min) * ph / span);
    (major ? a->value.major : a->value.minor).add(y);
    if (y > p->plot_y + kTopMargin) {
      std::string text = tick_text(fmt, std::fabs(tick) < eps ? 0.0 : tick, suffix);
      int32_t w = 0, h = 0;
      a->fonts.text_size(a->fonts.ctx, 1, text.c_str(), &w, &h);
      a->value.labels.add(chart_label{text, px + pw + kLabelGap, y - h / 2, w, h, 1}, text.size());
    }
  }
}

int yaxis_compute(chart_plot* p, chart_axes* a) {
  if (p->count < 1 || !(p->value_low < p->value_high - 1e-5)) {
    a->decimals = 0;
    a->value.clear();
    return 0;
  }
  int32_t rows = p->plot_h / 10;
  a->value.major.begin(2 * rows);
  a->value.minor.begin(2 * rows);
  a->value.labels.begin(40 * rows);
  if (p->pane_h >= kMinPane)
    yaxis_ticks(p, a, p->pane_x, p->pane_y, p->pane_w, p->pane_h, p->scale == 9 ? 1 : 0, p->value_low,
                p->value_high);
  for (chart_ta* ta = p->indicators; ta; ta = ta->next) {
    const ta_def* def = ta_indicator_def(ta->type);
    if (!def || ta->pane_h < kMinPane) continue;
    yaxis_ticks(p, a, ta->pane_x, ta->pane_y, ta->pane_w, ta->pane_h, def->label_kind, ta->value_low,
                ta->value_high);
  }
  a->value.major.end();
  a->value.minor.end();
  a->value.labels.end();
  return 0;
}
