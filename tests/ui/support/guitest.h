// Support of the gui core's tests: `tw`, a container widget whose children
// keep the rects the test gives them, that fills its rect with a colour and
// logs every input operation the gui calls on it ("a:press(10,20,1)"), and
// helpers to give the gui a window without going through the platform.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/gfx.h"  // colour
#include "ui/container.h"

struct tw : container {
  const char *name;
  colour fill;          // 0 draws nothing of its own
  size req;
  widget *kids[64];
  int nkids;
  int drag_answer;      // what drag_begin answers
  int release_answer;   // what drag_release answers
  int focus_on_press;   // press takes the keyboard focus
  int draws;            // how many times draw ran
};

typeid_t tw_type();
// A test widget at `r` inside `parent` (null: a root).
tw *tw_new(widget *parent, const char *name, rect r, colour fill = 0);

// The shared log (cleared by the caller); draw calls are logged only while
// tw_log_draws(true).
std::vector<std::string> &tw_log();
void tw_log_draws(bool on);

// The runtime (quiet), the private X server and the gui, for a test suite's
// set-up. SDL's display is held open past gui_shutdown: closing it unloads
// Mesa's driver, whose process-long allocations the leak checker would then
// report without names.
::testing::AssertionResult guitest_start_gui(const char *app_name);
