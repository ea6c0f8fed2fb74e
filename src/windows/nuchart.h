// The chart widget as the windows use it: the content of role chart and the
// child of the chart holders. Minimal version: the chart widget itself
// (data, painting, cursor, export) is built by the charts' own issue; this
// one keeps its specification and the instruments it is bound to, and
// records every call in order, so the holders' presets can be read back.
#pragma once

#include <cstdint>

#include "windows/content.h"

struct instr;

constexpr int kNuchartMaxTa = 16;      // overlays or indicators kept
constexpr int kNuchartCallText = 1024;

struct nuchart : content {
  instr *bound;    // the main instrument
  instr *compare;  // the comparison instrument
  int32_t range_kind, range_count;
  int32_t period_kind, period_count;
  int32_t type;
  uint32_t background;
  uint32_t options;
  int32_t times[4];  // from, to, from type, to type
  int32_t overlays[kNuchartMaxTa], overlay_count;
  int32_t indicators[kNuchartMaxTa], indicator_count;
  uint32_t updates;  // times the specification changed (marked for update)
  char calls[kNuchartCallText];  // "name(args) " per call, in order
};

typeid_t nuchart_type();
widget *nuchart_new(widget *parent);
inline nuchart *nuchart_cast(widget *w) { return static_cast<nuchart *>(w); }

void nuchart_bind(nuchart *c, instr *stock);
void nuchart_bind_compare(nuchart *c, instr *index);
void nuchart_unbind(nuchart *c);
void nuchart_set_range(nuchart *c, int32_t kind, int32_t count);
void nuchart_set_period(nuchart *c, int32_t kind, int32_t count);
void nuchart_set_type(nuchart *c, int32_t type);
void nuchart_set_background(nuchart *c, uint32_t colour);
void nuchart_clear_overlays(nuchart *c);
// params: the overlay's parameters, or null for its defaults.
void nuchart_add_overlay(nuchart *c, int32_t type, const double *params);
void nuchart_clear_indicators(nuchart *c);
void nuchart_add_indicator(nuchart *c, int32_t type, const double *params);
void nuchart_set_options(nuchart *c, uint32_t mask);
void nuchart_set_times(nuchart *c, int32_t from, int32_t to, int32_t from_type, int32_t to_type);
// Forgets the recorded calls (the specification stays).
void nuchart_clear_calls(nuchart *c);
