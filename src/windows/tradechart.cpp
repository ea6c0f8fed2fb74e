// The chart holders. Both share one class shape: a content bin whose chart
// child fills it, preset once at creation (range, period, type, overlays or
// indicators, options, times) and bound to the subject the window hands
// it; their draw sets the window frame's colours, then draws the bin. This
// file holds the shared shape and the stock holder; indexchart.cpp the
// index holder's preset and binding.
//
// Slots: draw; content: set_instr.
#include "windows/tradechart.h"

#include "style.h"
#include "ui/object.h"
#include "windows/window.h"

namespace {

void (*bin_draw)(widget *);

void frame_colours(widget *self, uint32_t colour) {
  if (self->parent && window_is(self->parent)) window_frame_child_colours(self, colour, colour);
}

void holder_draw(widget *self) {
  uint32_t colour = kIndexchartFrame;
  if (object_is_a(widget_obj(self), tradechart_type())) {
    const style *st = style_cur();
    colour = st ? style_colour(st, SC_OUTLINE) | 0xff000000u : 0xff303030u;
  }
  bin_draw(self);
  frame_colours(self, colour);
}

void holder_set_instr(widget *self, instr *in) {
  if (object_is_a(widget_obj(self), tradechart_type()))
    tradechart_set_stock(self, in);
  else
    indexchart_set_index(self, in);
}

void holder_class_init(object_class *rec) {
  auto *k = static_cast<content_class *>(rec);
  bin_draw = k->draw;
  k->draw = holder_draw;
  k->set_instr = holder_set_instr;
}

typeid_t register_tradechart() { return chartholder_register("tradechart"); }

}  // namespace

typeid_t chartholder_register(const char *name) {
  return object_register_class(name, content_type(), sizeof(chartholder), nullptr, nullptr, sizeof(content_class),
                               holder_class_init, nullptr);
}

chartholder *chartholder_new(widget *parent, typeid_t type, const char *name) {
  auto *h = static_cast<chartholder *>(widget_new(parent, type));
  if (!h) return nullptr;
  h->name = name;
  h->chart = nuchart_cast(nuchart_new(h));
  if (!h->chart) return h;
  h->chart->flags |= WIDGET_TRANSPARENT;
  nuchart_set_range(h->chart, 5, 1);
  nuchart_set_period(h->chart, 9, 1);
  nuchart_set_type(h->chart, 16);
  return h;
}

void chartholder_finish_preset(chartholder *h) {
  nuchart_set_options(h->chart, kHolderChartOptions);
  nuchart_set_times(h->chart, -1, 0, 5, 0);
}

typeid_t tradechart_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_tradechart);
}

widget *tradechart_new(widget *parent) {
  chartholder *h = chartholder_new(parent, tradechart_type(), "tradechart");
  if (!h || !h->chart) return h;
  nuchart_clear_indicators(h->chart);
  nuchart_add_indicator(h->chart, 2, nullptr);
  chartholder_finish_preset(h);
  return h;
}

void tradechart_set_stock(widget *holder, instr *stock) {
  auto *h = static_cast<chartholder *>(holder);
  if (h->chart) nuchart_bind(h->chart, stock);
  widget_redraw(h);
}
