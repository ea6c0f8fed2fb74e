// The screens: the program's four top-level OS windows. Each owns ten
// desktops and one of every bar and floating window; the bar mask says which
// are shown. One screen is current; code that acts on another pushes it,
// works and pops. Screen operations only mark what must be laid out or
// redrawn: the backstop, run on every pass of the frame loop, does the work
// for every open screen. Main thread.
#pragma once

struct configbox;

#include <cstdint>

#include "screen/desktop.h"
#include "ui/box.h"

constexpr int kScreens = 4;
constexpr int kDesktops = 10;
constexpr int kScreenStack = 8;
constexpr uint32_t kScreenBarsInitial = 0x1CB;
constexpr int64_t kScreenFullRedrawMs = 5000;

// Bits of the bar mask.
enum : uint32_t {
  BAR_WATCHBAR = 0x1,
  BAR_TICKBAR = 0x2,
  BAR_MINIBAR = 0x8,
  BAR_QUOTE_POPWIN = 0x20,
  BAR_DESKTOP = 0x40,
  BAR_TOOLBAR0 = 0x80,
  BAR_TOOLBAR1 = 0x100,
  BAR_HOVER = 0x200,
  BAR_DEPTHDTL = 0x400,
  BAR_GENDTL = 0x800,
  BAR_POPUP_DOCUMENT = 0x1000,
  BAR_ZOOM = 0x2000,
  BAR_QUICK = 0x4000,
  BAR_HELP = 0x8000,
  BAR_CONFIGBOX = 0x10000,
  BAR_WINBAR = 0x40000,
  BAR_GROUPBAR = 0x80000,
};

struct screen : box {
  int32_t os_window;
  uint32_t bars;
  rect frame;
  rect normal_frame;
  uint32_t maximised;
  int32_t current_desktop;
  desktop *desktops[kDesktops];
  uint32_t bars_before_zoom;
  window *zoom_window;
  window *zoom_source;
  window *quick_window;
  window *hover_window;
  window *popup_document;
  widget *depthdtl;
  widget *depthdtl_owner;  // what asked for the depth detail popup (a depth child)
  widget *gendtl;
  window *quote_popwin;
  widget *tickbar;
  widget *watchbar;
  widget *toolbars[2];
  widget *minibar;
  widget *groupbar;
  widget *keypad;
  configbox *config_box;
  widget *helpwin;
  widget *winbar;
  uint32_t front_popup;
  int32_t last_full_redraw;
  uint32_t full_redraw_pending;
  // Beyond the record: the rect of the last layout, and which page the
  // configuration box shows (0 login, 1 logout).
  rect laid_out;
  int32_t configbox_page;
};

typeid_t screen_type();

// ---- life cycle ----
int screen_init();
void screen_shutdown();
bool screen_is_up();
screen *screen_get(int n);  // null outside 0..3 or before init

// ---- current screen and its stack ----
int screen_current_index();
screen *screen_current();
int screen_index_of(widget *w);
int screen_set_current_from(widget *w);
bool screen_select(int n);
void screen_force_context(int n);
bool screen_push(int n);
void screen_pop();
int screen_stack_depth();

// ---- bars ----
uint32_t screen_bars_shown();
uint32_t screen_bars_saved();
void screen_show_bars_ex(uint32_t mask, int relayout);
void screen_hide_bars_ex(uint32_t mask, int relayout);
void screen_show_bars(uint32_t mask);
void screen_hide_bars(uint32_t mask);
// Shows the bits of mask that are hidden and hides those shown, recording
// the change for undo (the edge clicks of a desktop).
void screen_toggle_bars(uint32_t mask);
void screen_show_tickbar();
void screen_hide_tickbar();
void screen_hide_watchbar();
void screen_hide_minibar();
void screen_show_toolbar(int i);
void screen_hide_toolbar(int i);
void screen_show_configbox();
void screen_hide_configbox();
bool screen_configbox_shown();
void screen_open_configbox();
void screen_open_configbox_state();
void screen_show_help(int topic);
void screen_hide_help();
void screen_hide_groupbar();
// The quick window: shown in front (bar 0x4000), or hidden.
void screen_show_quick_window();
void screen_hide_quick_window();
// The zoom: a copy of w fills the screen until unzoomed (copied back).
void screen_zoom_window(window *w);
void screen_unzoom();
bool screen_is_zoom_window(const window *w);
window *screen_zoom_source();
// Shows the keypad while typed entry is active and hides it otherwise.
void screen_place_keypad();
widget *screen_watchbar();
widget *screen_tickbar();
widget *screen_toolbar(int i);
widget *screen_minibar();
window *screen_quote_popwin();
window *screen_quick_window();
window *screen_zoom_window_get();
window *screen_popup_document();
window *screen_popup_window();
widget *screen_depthdtl();
configbox *screen_configbox();
uint32_t screen_front_popup();

void screen_relayout();
// Re-lays out and redraws the current screen in the current style.
void screen_refresh();
void screen_request_redraw();
void screen_request_toolbar_refresh();
// True for the current screen's current desktop and for either toolbar's
// "Remove" button: what a dragged list entry, slot or item is deleted on.
bool screen_is_remover(widget *w);
// Every screen's toolbars rebuild their watchlists (0), scans (1), chart
// styles (2) or feeds (3); the screens are laid out again.
void screen_toolbars_rebuild_list0();
void screen_toolbars_rebuild_list1();
void screen_toolbars_rebuild_list2();
void screen_toolbars_rebuild_list3();
void screen_desktops_changed();
void screen_mark_changed();

// ---- desktops of the current screen ----
int screen_desktop_index();
int screen_desktop_index_of(desktop *d);
desktop *screen_current_desktop();
desktop *screen_get_desktop(int i);
void screen_select_desktop(int i, int show);
void screen_switch_desktop(int i);
void screen_select_desktop_quiet(int i);
void screen_prev_desktop();
void screen_next_desktop();
void screen_sanitize_desktops(int n);
void screen_forget_window(int n, window *w);
void screen_hide_popups(int all);

// ---- OS window ----
int screen_open(int n);
int screen_close(int n);
bool screen_is_open(int n);
int screen_count_open();
int screen_window_state(int n);
void screen_set_state(int n, int state);
void screen_minimise();
void screen_maximise();
void screen_restore();
bool screen_is_minimised();
bool screen_is_maximised();
bool screen_window_shown();
void screen_show_window();
void screen_hide_window();
rect screen_get_rect();
void screen_set_rect(const rect *r);
void screen_store_rect(const rect *r);
void screen_update_min_size();
// The minimum size asked of the OS window last (for checks).
size screen_min_size_set(int n);
void screen_set_title(const char *text);
// The title screen_set_title would give the current screen (not applied).
const char *screen_title_for(int n, const char *text);
// The OS window's state change as the window layer reports it.
void screen_gui_state(int n, int state);

// ---- the backstop ----
void screen_backstop();
// Test seams: the clock of the backstop's redraw rule (gui ms when null) and
// whether the client is logged in (the client's flag when null).
void screen_set_clock(int64_t (*now)());
void screen_set_online_query(int (*logged_in)());
// Flags, for checks.
bool screen_relayout_pending();
bool screen_toolbar_refresh_pending();
bool screen_desktops_changed_pending();
bool screens_up();

uint32_t screen_refresh_count();
