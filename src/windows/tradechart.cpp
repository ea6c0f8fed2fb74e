// The stock chart holder. Both holders share the class shape: a content
// bin whose chart child fills it, preset once at creation (range, period,
// type, overlays or indicators, options, times) and bound to the subject
// the window hands it; their draw sets the window frame's colours, then
// draws the bin.
//
// Slots: draw; content: set_instr.
#include "windows/tradechart.h"

#include "style.h"
#include "ui/object.h"
#include "windows/window.h"

namespace {

// The frame colours of the window around a holder (both the same).
void frame_colours(widget *self, uint32_t colour) {
  if (self->parent && window_is(self->parent)) {
    auto *w = static_cast<window *>(self->parent);
    w->frame_colours[0] = w->frame_colours[1] = colour;
  }
}

void (*bin_draw)(widget *);

void tc_draw(widget *self) {
  const style *st = style_cur();
  frame_colours(self, st ? style_colour(st, SC_OUTLINE) | 0xff000000u : 0xff303030u);
  bin_draw(self);
}

void tc_set_instr(widget *self, instr *in) { tradechart_set_stock(self, in); }

void tc_class_init(object_class *rec) {
  auto *k = static_cast<content_class *>(rec);
  bin_draw = k->draw;
  k->draw = tc_draw;
  k->set_instr = tc_set_instr;
}

typeid_t register_tradechart() {
  return object_register_class("tradechart", content_type(), sizeof(chartholder), nullptr, nullptr,
                               sizeof(content_class), tc_class_init, nullptr);
}

}  // namespace

typeid_t tradechart_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_tradechart);
}

widget *tradechart_new(widget *parent) {
  auto *h = static_cast<chartholder *>(widget_new(parent, tradechart_type()));
  if (!h) return nullptr;
  h->name = "tradechart";
  h->chart = nuchart_cast(nuchart_new(h));
  if (!h->chart) return h;
  h->chart->flags |= WIDGET_TRANSPARENT;
  nuchart *c = h->chart;
  nuchart_set_range(c, 5, 1);
  nuchart_set_period(c, 9, 1);
  nuchart_set_type(c, 16);
  nuchart_clear_indicators(c);
  nuchart_add_indicator(c, 2, nullptr);
  nuchart_set_options(c, kHolderChartOptions);
  nuchart_set_times(c, -1, 0, 5, 0);
  return h;
}

void tradechart_set_stock(widget *holder, instr *stock) {
  auto *h = static_cast<chartholder *>(holder);
  if (h->chart) nuchart_bind(h->chart, stock);
  widget_redraw(h);
}
