// The configuration dialog: the one dialog through which the user signs on,
// watches the connection, changes settings and logs out. Before the screens
// are up it is the program's login window; afterwards the screens show and
// hide it. A deck of nine pages and a deck of three tab bars, in one of four
// modes: login, online, about, logout. Main thread.
#pragma once
#include <cstdint>

#include "ui/box.h"
#include "ui/button.h"

struct deck;
struct label;
struct login_page;

enum : int32_t { CONFIGBOX_LOGIN = 0, CONFIGBOX_ONLINE = 1, CONFIGBOX_ABOUT = 2, CONFIGBOX_LOGOUT = 3 };
constexpr int kConfigboxPages = 9;
constexpr int32_t kConfigboxQuitCommand = 9;

struct configbox : box {
  int32_t pref_w, pref_h;
  int32_t splash_tex;           // -1: not loaded yet, 0: none, 1: splash_pic drawn
  int32_t splash_w, splash_h;
  struct splash *splash_pic;    // the site's picture as tiles, or null
  uint8_t *splash_pixels;       // its pixels (dalloc), kept while it lives
  int32_t mode;
  deck *pages;
  deck *bars;
  button_group tabs_a, tabs_b;
  widget *page[kConfigboxPages];
  int32_t progress_mode;        // 0 connecting, 1 quitting
  int32_t logout_mode;          // 0 online, 1 stopping, 2 aborted
  int32_t timer;                // refreshes the status lines; -1 none
  char shown_status[257];
};

typeid_t configbox_type();
configbox *configbox_new(widget *parent);
configbox *configbox_find(widget *w);
login_page *configbox_login_page(configbox *b);
widget *configbox_progress_page(configbox *b);
widget *configbox_passwd_page(configbox *b);

void configbox_show_login(configbox *b);
void configbox_start_login(configbox *b);
void configbox_show_online(configbox *b);
void configbox_show_about(configbox *b);
void configbox_show_logout(configbox *b);
void configbox_quit(configbox *b);
void configbox_cancel_login(configbox *b);
void configbox_stop_login(configbox *b);
void configbox_show_page(configbox *b, int32_t mode, int32_t page);
void configbox_passwd_result(configbox *b, int32_t result);
// Puts the progress page in its mode (0 logging in, 1 quitting, 2 logged out).
void configbox_set_progress_mode(configbox *b, int32_t mode);
// A page's timer: a running one is stopped, then with ms > 0 one is started
// again; its id (-1 none) goes to *timer.
void configbox_page_timer(int32_t *timer, int64_t ms, int (*fn)(void *, uint32_t, int64_t, float), void *arg);
// A page's parent class's show_children and hide_children.
void configbox_page_show_parent(widget *page);
void configbox_page_hide_parent(widget *page);
// Sets a progress or logout page's mode; other pages are left alone.
void configbox_page_set_state(widget *page, int32_t state);
// An invisible spacer as large as a "Preferences" button.
widget *configbox_spacer(widget *parent);
// A colour of the current visual style by field number, else the fallback.
uint32_t configbox_colour(int field, uint32_t fallback);
void configbox_reload_splash(configbox *b);
// The shown page's number.
int configbox_page(configbox *b);

// The dialog's look, from the current visual style when one is selected.
int32_t configbox_font(void);
uint32_t configbox_ink(void);
uint32_t configbox_dim(void);
uint32_t configbox_fill(void);
uint32_t configbox_focus_fill(void);
uint32_t configbox_highlight(void);
uint32_t configbox_background(void);
const button_colours *configbox_buttons(void);
// The text boxes' style integers (see ui/textbox.h): the dialog's font,
// fill and ink, the focus fill, and dimmed ink while read-only.
void configbox_textbox_style(int32_t style[12]);
