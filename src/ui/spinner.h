// Spinners: small value controls with a left (down) and a right (up) arrow
// zone around the value. `spinner` holds a float with a fixed count of
// decimals, stepped within its range; `time_spinner` holds a time of day as
// hours * 100 + minutes, stepped by minutes with borrow and carry. A click
// in the middle starts typing a value; Enter or another click commits it.
// Main thread only.
#pragma once

#include <cstdint>

#include "lib/gmap.h"
#include "ui/container.h"  // padding
#include "ui/widget.h"

constexpr int kSpinnerStyle = 10;
constexpr int kSpinnerBlinkMs = 250;

// Hover zones.
enum : int32_t { SPIN_NONE = 0, SPIN_LEFT = 1, SPIN_MIDDLE = 2, SPIN_RIGHT = 4 };

struct spinner;
using spinner_fn = void (*)(spinner *s, void *arg, int32_t id);

// Style integers: 0 font, 1 text colour, 2 fill, 3 outline, 4 arrow colour,
// 5 hover colour of an arrow zone, 6 relief; the rest are kept.
struct spinner : widget {
  char label[32];
  float value;
  char text[68];  // the value as shown, or the text being typed
  float minimum, maximum, step;
  int32_t decimals;
  int32_t style[kSpinnerStyle];
  padding pad;
  spinner_fn callback;
  void *arg;
  int32_t id;
  int32_t editing, read_only, hover, pressed;
  int32_t cursor_phase, timer;
};

struct time_spinner;
using time_spinner_fn = void (*)(time_spinner *s, void *arg, int32_t id);

struct time_spinner : widget {
  char label[20];
  int32_t value;  // hours * 100 + minutes
  int32_t hours, minutes;
  char text[44];  // typed
  int32_t minimum, maximum;
  int32_t step;  // minutes
  int32_t font;
  int32_t style[kSpinnerStyle];
  padding pad;
  time_spinner_fn callback;
  void *arg;
  int32_t id;
  int32_t editing, pressed, hover;
  int32_t cursor_phase, timer;
};

typeid_t spinner_type();
// The value is shown with the decimals and not clamped here. A bound of
// FLT_MAX (or -FLT_MAX below) means none. style: 10 integers or null.
spinner *spinner_new(widget *parent, const char *label, int decimals, const int32_t *style,
                     const padding *pad, spinner_fn callback, void *arg, int32_t id, float value,
                     float minimum, float maximum, float step);
float spinner_value(spinner *s);
int spinner_value_int(spinner *s);  // truncated toward zero
int spinner_decimals(spinner *s);
// Clamps to the range and rounds to the decimals; -1 when it had to clamp.
int spinner_set_value(spinner *s, float value);
void spinner_set_range(spinner *s, int decimals, float minimum, float maximum, float step);
// Off commits a typed value first and makes the spinner read-only.
void spinner_set_editable(spinner *s, int on);

typeid_t time_spinner_type();
// value and bounds as hours * 100 + minutes; 2400 or more counts as 23
// hours, minutes above 59 as 59. A spinner whose maximum is 2400 or more
// (a span of up to a day) also shows and steps to 24:00 itself.
time_spinner *time_spinner_new(widget *parent, const char *label, int value, int minimum,
                               int maximum, const int32_t *style, const padding *pad,
                               time_spinner_fn callback, void *arg, int32_t id);
int time_spinner_value(time_spinner *s);
// Clamped to the range; -1 when clamped.
int time_spinner_set_value(time_spinner *s, int value);
void time_spinner_set_font(time_spinner *s, int32_t font);
void time_spinner_set_step(time_spinner *s, int minutes);
