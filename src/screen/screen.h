// The screens: the program's top-level windows, each with its desktops,
// bars and popups.
// Minimal version: one screen window holding the configuration dialog, with
// the life cycle, the dialog's showing and hiding and the refresh that the
// start-up flow and the visual styles call; the screen frame replaces it.
#pragma once

#include <cstdint>

struct configbox;
struct widget;

constexpr int kScreens = 4;

// Re-lays out and redraws every open window in the new style.
void screen_refresh();
// How many refreshes were asked since start (for the styles' checks).
uint32_t screen_refresh_count();

// Life cycle: creates the screens and opens the first one. 0 or -1.
int screen_init();
void screen_shutdown();
int screen_is_up();
// The screen whose window shows w (its gui root), or -1.
int screen_index_of(widget *w);
int screen_is_open(int n);
int screen_count_open();
// Closes screen n's window.
void screen_close(int n);
// Makes screen n current; whether its window is open.
bool screen_select(int n);
int screen_current_index();
// The configuration dialog of the current screen (null without one).
configbox *screen_configbox();
void screen_show_configbox();
void screen_hide_configbox();
int screen_configbox_shown();
// Shows the dialog on its login page, or on its logout page.
void screen_open_configbox();
void screen_open_configbox_state();
// The gui window of screen n, or -1.
int screen_window(int n);
