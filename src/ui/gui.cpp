// The gui core. Minimal version: the frame time and the quit flag only (see
// gui.h); the loop that latches the frame time once per pass, the windows
// and the redraw queue are built with the gui core itself.
#include "ui/gui.h"

#include "plat.h"

static struct {
  int quitting;
} S;

int64_t gui_time_ms() { return plat_ms(); }

float gui_time_seconds() { return float(gui_time_ms()) / 1000.0f; }

void gui_set_quitting() { S.quitting = 1; }

int gui_quitting() { return S.quitting; }
