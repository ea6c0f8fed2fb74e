// The screens: the program's top-level windows, each with its desktops,
// bars and popups.
// Minimal version: only the refresh that the visual styles ask for after a
// style or size change; the screen frame replaces this module.
#pragma once

#include <cstdint>

// Re-lays out and redraws every open window in the new style.
void screen_refresh();
// How many refreshes were asked since start (for the styles' checks).
uint32_t screen_refresh_count();
