// The gui core: windows, the redraw queue and the frame loop.
//
// Minimal version: only the frame time and the quit flag that the drawing
// lists and the timers read are here; the windows, the queue and the loop
// come with the gui core itself.
#pragma once

#include <cstdint>

// The frame time in milliseconds: the time the current pass of the frame
// loop started. Minimal version: reads the platform clock (plat_ms) at each
// call, so a test clock installed with plat_set_test_clock drives it.
int64_t gui_time_ms();
float gui_time_seconds();

// The quit flag: once set, nothing is queued and arrays of released drawing
// lists are freed rather than cached.
void gui_set_quitting();
int gui_quitting();
