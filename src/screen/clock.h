// The clock at the middle of the minibar: the default exchange's time in
// large digits; while the pointer rests on it, each exchange's time and
// market phase; while the terminal is not connected, the connection state.
// A deck of four pages made by the UI builder; refreshed every 250 ms while
// shown and at once when the connection state changes. Main thread only.
#pragma once
#include <cstdint>

#include "ui/container.h"
#include "ui/deck.h"
#include "ui/label.h"

constexpr int64_t kClockTimerMs = 250;
constexpr uint32_t kClockStateMask = 0x48000000;  // sign-on and connection-state changes

enum : int { CLOCK_PAGE_TIME = 0, CLOCK_PAGE_EXCHANGES = 1, CLOCK_PAGE_DEFAULT = 2, CLOCK_PAGE_STATE = 3 };

struct clock_widget : bin {
  deck *pages;
  label *time;          // page 0
  label *rows[2][3];    // page 1: exchanges 0 and 1 (name, time, phase)
  label *single[3];     // page 2: the default exchange
  label *error, *state; // page 3
  int32_t timer;        // -1 when none
  int32_t indicator;    // 1 while the pointer rests on it
  int32_t connected;    // signed on, or shutting down
  int32_t connecting;   // a connection attempt is under way
  uint32_t refreshes;   // for checks
};

typeid_t clock_type();
clock_widget *clock_new(widget *parent);
void clock_refresh(clock_widget *c);
void clock_set_indicator(clock_widget *c, int state);
// Re-reads the connection state and re-applies the page (as a state
// notification does).
void clock_state_changed(clock_widget *c);

// A market phase's text ("" for codes not in the table) and its colour kind
// (0 default, 1 pre-open, 2 open, 3 halt).
const char *clock_phase_text(uint32_t phase);
int clock_phase_kind(uint32_t phase);
// The current style's colour for a phase.
uint32_t clock_phase_colour(uint32_t phase);

// Test seams: the connection state the clock reads (null: the client's),
// and the multi-exchange permission.
void clock_set_state_query(int (*connected)(), int (*connecting)(), int (*multi)());
