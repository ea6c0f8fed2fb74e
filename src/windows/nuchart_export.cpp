// The chart widget's export: its visible samples as a table of text through
// the clipboard's table writer, one row a sample: date, time (intraday),
// open, high, low, close, volume, then every overlay's and indicator's
// lines that have a value formatter, in the registry's line order.
#include <cmath>
#include <cstdio>

#include "charts/paint_lines.h"
#include "charts/ta.h"
#include "export/clipboard.h"
#include "lib/fmt.h"
#include "ssmodel.h"
#include "windows/nuchart_internal.h"

namespace {

const ta_def *def_of(const chart_ta *ta) {
  return ta->is_overlay ? ta_overlay_def(ta->type) : ta_indicator_def(ta->type);
}

// Calls fn(ta, def, line) for every exported line, overlays first.
template <typename Fn>
void each_line(const chart_plot *p, Fn fn) {
  for (const chart_ta *list : {p->overlays, p->indicators})
    for (const chart_ta *ta = list; ta; ta = ta->next) {
      const ta_def *def = def_of(ta);
      if (!def) continue;
      for (int32_t k = 0; k < def->line_count && k < kTaMaxLines; k++) {
        int32_t line = def->line_order[k];
        if (line < 0 || line >= def->line_count) line = k;
        if (def->lines[line].format != TA_FMT_NONE) fn(ta, def, line);
      }
    }
}

bool has(double v) { return v != kChartNoValue && std::isfinite(v); }

void price_cell(bool stock, double v) {
  if (!has(v)) return clipboard_add_cell("");
  clipboard_add_cell(stock ? fmt_float_price((float)v) : fmt_float_value((float)v));
}

}  // namespace

std::string nuchart_export_text(nuchart *c) {
  const chart_plot *p = &c->plot;
  bool stock = p->main && p->main->kind == kKindStock;
  bool eod = p->eod != 0;
  clipboard_reset();
  clipboard_new_row();
  clipboard_add_cell("Date");
  if (!eod) clipboard_add_cell("Time");
  for (const char *h : {"Open", "High", "Low", "Close", "Volume"}) clipboard_add_cell(h);
  each_line(p, [](const chart_ta *, const ta_def *def, int32_t line) {
    if (def->line_count == 1) return clipboard_add_cell(def->name);
    char head[96];
    snprintf(head, sizeof head, "%s/%s", def->name, def->lines[line].name ? def->lines[line].name : "");
    clipboard_add_cell(head);
  });
  clipboard_end_row();
  if (p->count > 0 && p->times) {
    for (int32_t i = p->first_visible; i <= p->last_visible && i < p->count; i++) {
      sstime_parts t{};
      sstime_unpack(&t, p->times[i]);
      char cell[32];
      clipboard_new_row();
      snprintf(cell, sizeof cell, "%04d-%02d-%02d", t.year, t.mon, t.mday);
      clipboard_add_cell(cell);
      if (!eod) {
        snprintf(cell, sizeof cell, "%02d:%02d:%02d", t.hour, t.min, t.sec);
        clipboard_add_cell(cell);
      }
      price_cell(stock, p->open[i]);
      price_cell(stock, p->high[i]);
      price_cell(stock, p->low[i]);
      price_cell(stock, p->close[i]);
      double v = p->volume ? p->volume[i] : kChartNoValue;
      if (stock && has(v) && v > 0)
        clipboard_add_cell(fmt_volume((uint64_t)std::llround(v)));
      else
        clipboard_add_cell(stock && has(v) ? "0" : "");
      each_line(p, [&](const chart_ta *ta, const ta_def *def, int32_t line) {
        double x = ta->lines[line] ? ta->lines[line][i] : kChartNoValue;
        const char *text = has(x) ? paint_format_value(p, def->lines[line].format, x) : nullptr;
        clipboard_add_cell(text ? text : "");
      });
      clipboard_end_row();
    }
  }
  return clipboard_text();
}

int nuchart_export(nuchart *c) {
  nuchart_export_text(c);
  return clipboard_put_text();
}
