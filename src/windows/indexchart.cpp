// The index chart holder: the stock holder's shape with overlays in place
// of the indicator, the index bound as the chart's comparison instrument
// and a fixed frame colour.
//
// Slots: draw; content: set_instr.
#include "ui/object.h"
#include "windows/tradechart.h"
#include "windows/window.h"

namespace {

void (*bin_draw)(widget *);

void ic_draw(widget *self) {
  if (self->parent && window_is(self->parent)) {
    auto *w = static_cast<window *>(self->parent);
    w->frame_colours[0] = w->frame_colours[1] = kIndexchartFrame;
  }
  bin_draw(self);
}

void ic_set_instr(widget *self, instr *in) { indexchart_set_index(self, in); }

void ic_class_init(object_class *rec) {
  auto *k = static_cast<content_class *>(rec);
  bin_draw = k->draw;
  k->draw = ic_draw;
  k->set_instr = ic_set_instr;
}

typeid_t register_indexchart() {
  return object_register_class("indexchart", content_type(), sizeof(chartholder), nullptr, nullptr,
                               sizeof(content_class), ic_class_init, nullptr);
}

}  // namespace

typeid_t indexchart_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_indexchart);
}

widget *indexchart_new(widget *parent) {
  auto *h = static_cast<chartholder *>(widget_new(parent, indexchart_type()));
  if (!h) return nullptr;
  h->name = "indexchart";
  h->chart = nuchart_cast(nuchart_new(h));
  if (!h->chart) return h;
  h->chart->flags |= WIDGET_TRANSPARENT;
  nuchart *c = h->chart;
  nuchart_set_range(c, 5, 1);
  nuchart_set_period(c, 9, 1);
  nuchart_set_type(c, 16);
  nuchart_clear_overlays(c);
  nuchart_add_overlay(c, 1, nullptr);
  nuchart_add_overlay(c, 0, nullptr);
  nuchart_clear_indicators(c);
  nuchart_set_options(c, kHolderChartOptions);
  nuchart_set_times(c, -1, 0, 5, 0);
  return h;
}

void indexchart_set_index(widget *holder, instr *index) {
  auto *h = static_cast<chartholder *>(holder);
  if (h->chart) nuchart_bind_compare(h->chart, index);
  widget_redraw(h);
}
