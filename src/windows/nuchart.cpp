// The chart widget's window-side face. Minimal version: each setter stores
// its value, counts one update and appends its call to the record; the
// widget draws only its background. The real chart widget replaces this
// file with the same names.
#include "windows/nuchart.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "lib/gfx.h"
#include "ui/object.h"

namespace {

void note(nuchart *c, const char *fmt, ...) {
  size_t used = strlen(c->calls);
  if (used + 1 >= sizeof c->calls) return;
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(c->calls + used, sizeof c->calls - used, fmt, ap);
  va_end(ap);
}

void changed(nuchart *c) {
  c->updates++;
  widget_redraw(c);
}

void nc_draw(widget *self) {
  auto *c = nuchart_cast(self);
  if (c->background) gfx_fill_rect(c->r.x, c->r.y, c->r.w, c->r.h, c->background | 0xff000000u);
}

void nc_set_instr(widget *self, instr *in) { nuchart_bind(nuchart_cast(self), in); }

void nc_init(object *o) {
  auto *c = reinterpret_cast<nuchart *>(o);
  c->times[0] = -1;
}

void nc_class_init(object_class *rec) {
  auto *k = static_cast<content_class *>(rec);
  k->draw = nc_draw;
  k->set_instr = nc_set_instr;
}

typeid_t register_nuchart() {
  return object_register_class("nuchart", content_type(), sizeof(nuchart), nc_init, nullptr, sizeof(content_class),
                               nc_class_init, nullptr);
}

}  // namespace

typeid_t nuchart_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_nuchart);
}

widget *nuchart_new(widget *parent) {
  auto *c = static_cast<nuchart *>(widget_new(parent, nuchart_type()));
  if (c) c->name = "nuchart";
  return c;
}

void nuchart_bind(nuchart *c, instr *stock) {
  c->bound = stock;
  note(c, "bind(%s) ", stock ? "instr" : "none");
  changed(c);
}

void nuchart_bind_compare(nuchart *c, instr *index) {
  c->compare = index;
  note(c, "bind_compare(%s) ", index ? "instr" : "none");
  changed(c);
}

void nuchart_unbind(nuchart *c) {
  c->bound = c->compare = nullptr;
  note(c, "unbind() ");
  changed(c);
}

void nuchart_set_range(nuchart *c, int32_t kind, int32_t count) {
  c->range_kind = kind;
  c->range_count = count;
  note(c, "range(%d,%d) ", kind, count);
  changed(c);
}

void nuchart_set_period(nuchart *c, int32_t kind, int32_t count) {
  c->period_kind = kind;
  c->period_count = count;
  note(c, "period(%d,%d) ", kind, count);
  changed(c);
}

void nuchart_set_type(nuchart *c, int32_t type) {
  c->type = type;
  note(c, "type(%d) ", type);
  changed(c);
}

void nuchart_set_background(nuchart *c, uint32_t colour) {
  c->background = colour;
  note(c, "background(%08x) ", colour);
  changed(c);
}

void nuchart_clear_overlays(nuchart *c) {
  c->overlay_count = 0;
  note(c, "clear_overlays() ");
  changed(c);
}

void nuchart_add_overlay(nuchart *c, int32_t type, const double *params) {
  if (c->overlay_count < kNuchartMaxTa) c->overlays[c->overlay_count++] = type;
  note(c, "overlay(%d,%s) ", type, params ? "params" : "none");
  changed(c);
}

void nuchart_clear_indicators(nuchart *c) {
  c->indicator_count = 0;
  note(c, "clear_indicators() ");
  changed(c);
}

void nuchart_add_indicator(nuchart *c, int32_t type, const double *params) {
  if (c->indicator_count < kNuchartMaxTa) c->indicators[c->indicator_count++] = type;
  note(c, "indicator(%d,%s) ", type, params ? "params" : "none");
  changed(c);
}

void nuchart_set_options(nuchart *c, uint32_t mask) {
  c->options = mask;
  note(c, "options(%#x) ", mask);
  changed(c);
}

void nuchart_set_times(nuchart *c, int32_t from, int32_t to, int32_t from_type, int32_t to_type) {
  c->times[0] = from;
  c->times[1] = to;
  c->times[2] = from_type;
  c->times[3] = to_type;
  note(c, "times(%d,%d,%d,%d) ", from, to, from_type, to_type);
  changed(c);
}

void nuchart_clear_calls(nuchart *c) { c->calls[0] = 0; }
