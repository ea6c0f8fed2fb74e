// The index chart holder: the stock holder's shape (tradechart.cpp) with
// overlays in place of the indicator, the index bound as the chart's
// comparison instrument and a fixed frame colour.
#include "ui/object.h"
#include "windows/tradechart.h"

namespace {

typeid_t register_indexchart() { return chartholder_register("indexchart"); }

}  // namespace

typeid_t indexchart_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_indexchart);
}

widget *indexchart_new(widget *parent) {
  chartholder *h = chartholder_new(parent, indexchart_type(), "indexchart");
  if (!h || !h->chart) return h;
  nuchart_clear_overlays(h->chart);
  nuchart_add_overlay(h->chart, 1, nullptr);
  nuchart_add_overlay(h->chart, 0, nullptr);
  nuchart_clear_indicators(h->chart);
  chartholder_finish_preset(h);
  return h;
}

void indexchart_set_index(widget *holder, instr *index) {
  auto *h = static_cast<chartholder *>(holder);
  if (h->chart) nuchart_bind_compare(h->chart, index);
  widget_redraw(h);
}
