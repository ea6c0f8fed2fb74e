// What the chart widget's files share (nuchart.cpp, nuchart_input.cpp,
// nuchart_export.cpp); nothing outside the widget includes it.
#pragma once

#include "windows/nuchart.h"

// A redraw the chart's own change asked for (counted in nuchart::redraws).
void nuchart_redraw(nuchart *c);
// The widget's rectangle into the data block.
void nuchart_sync_rect(nuchart *c);
// Chart update, then the change mask cleared.
void nuchart_run_update(nuchart *c);
// Posts a refresh of the attached chart tool panel.
void nuchart_refresh_panel(nuchart *c);
// Moves every stored pixel by (dx, dy); -1 stays -1.
void nuchart_shift(nuchart *c, int32_t dx, int32_t dy);
// Fills the pointer and key slots of the class record.
void nuchart_input_slots(content_class *k);
