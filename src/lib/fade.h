// Fades: a displayed value animated from an old value to a new one over a
// time in seconds with a quadratic ease-out, or stepped through a table of
// values (a ramp of integers or colours, one entry per hundredth of a
// second). Widgets embed a fade_value per animated quantity and read its
// `shown` member when drawing; one module timer advances every running fade
// on each pass of the frame loop, and an owner is told when a fade of it
// finishes. A hold counter makes every fade instant. Main thread only.
#pragma once

#include <cstdint>

struct fade_state;

// An int, a float or an RGBA colour, depending on the fade's kind.
union fade_num {
  int32_t i;
  float f;
  uint32_t c;
};

// Embedded in the widget; zeroed by fade_clear. state is null at rest.
struct fade_value {
  fade_num old, shown, to;
  fade_state *state;
};

using fade_owner_fn = void (*)(fade_value *v, void *arg, uint32_t number);

// Embedded in its user; `running` is recounted on every tick.
struct fade_owner {
  uint32_t running;
  fade_owner_fn callback;
  fade_owner *next;
};

enum : uint32_t { FADE_INT = 0, FADE_FLOAT = 1, FADE_TABLE = 3 };
enum : uint32_t { FADE_RAMP_INT = 0, FADE_RAMP_COLOUR = 2 };

constexpr int kFadeStatesPerPage = 1024;
constexpr int kFadeGrowth = 1024;  // ranges and snapshot slots

int fade_init();
void fade_fini();

void fade_clear(fade_value *v);
// Stops a running fade (no notification) and sets old = shown = new = n.
void fade_set(fade_value *v, int32_t n);
void fade_set_value(fade_value *v, int32_t n);
void fade_set_float(fade_value *v, float f);

// Starts v: kind FADE_INT or FADE_FLOAT from v's old to new, or FADE_TABLE
// through ramp `range` (an index from fade_ramp / fade_colour_ramp). With
// 0 seconds or while held the fade completes at once and the owner is told
// before this returns. 0, or -1 after an ERROR line.
int fade_start(fade_value *v, uint32_t kind, int32_t range, fade_owner *owner, void *arg,
               uint32_t number, float seconds);
int fade_to(fade_value *v, int32_t from, int32_t to, fade_owner *owner, void *arg,
            uint32_t number, float seconds);
int fade_to_float(fade_value *v, fade_owner *owner, void *arg, uint32_t number, float from,
                  float to, float seconds);
int fade_to_floats(fade_value *v, fade_owner *owner, void *arg, uint32_t number, float from,
                   float to, float seconds);
int fade_start_style(fade_value *v, int32_t range, fade_owner *owner, void *arg,
                     uint32_t number);
// As fade_start_style, but a running fade interrupted after e seconds
// continues from the matching point of the new ramp instead of its start.
int fade_restart_style(fade_value *v, int32_t range, fade_owner *owner, void *arg,
                       uint32_t number);
// shown = new and the fade released without notification (nothing while
// the gui is quitting); returns new.
int32_t fade_stop(fade_value *v);
// The value's fade released without notification even while the gui quits:
// for a value whose memory is about to be freed (a widget's finaliser).
void fade_forget(fade_value *v);

void fade_owner_add(fade_owner *o, fade_owner_fn callback);
void fade_owner_remove(fade_owner *o);
// Finishes every running fade of o without notification.
void fade_stop_owner(fade_owner *o);

int fade_percent_left(const fade_value *v);
void fade_hold();
void fade_release();
int fade_hold_count();
int fade_changed_count();
// 1 while the fade timer runs.
int fade_timer_running();

// Ramps: the index of a table from `from` to `to` over `seconds`, made once
// and found again by content; -1 when the table can't grow.
int32_t fade_ramp(int32_t from, int32_t to, float seconds);
int32_t fade_colour_ramp(uint32_t from, uint32_t to, float seconds);
// A ramp's entry count (without the repeated last value) and its values
// (count + 1 entries); 0 / null for a bad index.
uint32_t fade_ramp_count(int32_t range);
const uint32_t *fade_ramp_values(int32_t range);
