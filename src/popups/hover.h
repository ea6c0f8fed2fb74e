// What the screens' popups provide to the market windows below them: the
// depth window's popup services (is a widget in a popup, the depth detail
// popup for a price step, hiding it) and the grids' hover previews. Main
// thread.
#pragma once

#include <cstdint>

#include "sstime.h"
#include "ui/widget.h"

struct instr;

// Installs the popup services into the depth window's service table,
// keeping the slots others installed. Called once at start-up.
void popups_install_services();

// A grid row under a slow pointer: the depth popup of its instrument beside
// the row's rectangle (in window coordinates); hidden again on fast motion.
void popups_hover_row(widget *grid, const rect *row, instr *in);
void popups_hover_end(widget *grid);

// Services (also for tests).
bool popups_widget_in_popup(widget *w);
void popups_show_depth_detail(widget *w, instr *in, ss_time position, uint32_t step, uint32_t bucket, int side);
void popups_hide_depth_detail(widget *w);
