// Timers: interval callbacks run by the frame loop. There are no system
// timers: once per pass the loop calls timer_run with the frame time, and
// every timer whose interval has elapsed is called; a callback that returns
// 0 stops its timer. One backstop callback runs on every pass besides.
// Main thread only.
#pragma once

#include <cstdint>

// arg and n as given to timer_start; elapsed since the timer's first pass,
// in milliseconds and in seconds. Return 0 to stop the timer.
typedef int (*timer_fn)(void *arg, uint32_t n, int64_t elapsed_ms, float elapsed_seconds);
// Called on every pass with the milliseconds since the backstop's first pass.
typedef void (*timer_backstop_fn)(void *arg, uint32_t n, float elapsed_ms);

int timer_init();
void timer_fini();
// The id (the lowest free slot; ids are reused) or -1 when the table can't
// grow (which empties it) or fn is null. The first run comes one interval
// after the call.
int32_t timer_start(int64_t interval_ms, timer_fn fn, void *arg, uint32_t n);
// Bad ids (free, negative, beyond the table) are logged and ignored.
void timer_stop(int32_t id);
void timer_restart(int32_t id);  // elapsed time passed to the callback starts again at 0
void timer_advance(int32_t id);  // run at the next pass
void timer_run(int64_t now);
// -1 with a warning when a backstop is set already.
int timer_set_backstop(timer_backstop_fn fn, void *arg, uint32_t n);
void timer_clear_backstop();
// Slots in use: one past the highest live timer.
int32_t timer_used();
void tracer_dump();
