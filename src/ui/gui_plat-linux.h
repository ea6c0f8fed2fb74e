// The native window layer on Linux: one SDL2 window with its own legacy
// OpenGL context per gui window, native events translated into the gui's
// input entry points, cursors, monitors and the application menu's data.
// Nothing above this layer includes SDL or Xlib headers; the gui reaches the
// native objects only through the opaque pointers of gui_plat_data.
//
// Calls go downwards: the gui installs its entry points with
// gui_plat_set_events() at start-up, and the layer reports every native
// event through them (a test installs a recorder instead). Main thread only.
#pragma once
#include <cstdint>

#include "ui/widget.h"  // rect, size

// Per-window native state, the last field of the gui's window record.
struct gui_plat_data {
  void *window;       // SDL_Window
  void *context;      // SDL_GLContext
  uint32_t window_id; // SDL's id of the window, 0 when none
  int32_t index;      // the gui window index this native window serves
  float wheel;        // accumulated wheel position, 0 at open
  rect drag_area;     // content coordinates; w 0 = none
  int32_t locked;     // the context is current and held by the gui
  // 1 when a swap leaves the back buffer holding a frame we drew (a copy
  // swap, or an exchange that gives back the frame before last), so that
  // partial redraws are sound; 0 when its contents are undefined.
  int32_t back_kept;
  // Window drag in progress: screen position of the pointer and of the
  // window when the left button went down inside the drag area.
  int32_t dragging, drag_px, drag_py, drag_wx, drag_wy;
  // Where the content was last asked to stand, until the manager's borders
  // were known and it stood there (place_pending).
  int32_t place_pending, want_x, want_y;
};

// What the layer needs to know of a gui window to create its native window.
// The gui's own window record starts its platform part with these.
struct gui_plat_window {
  int32_t index;      // 0-15
  rect frame;         // content rectangle on the screen
  uint32_t flags;     // 0x1 centre on the main monitor, 0x2 borderless
  const char *title;
  gui_plat_data *plat;
};

// The gui's entry points the layer calls (all may be null: nothing is sent).
struct gui_plat_events {
  void (*motion)(int32_t win, int32_t x, int32_t y);
  void (*button)(int32_t win, int32_t button, int32_t down);
  void (*wheel)(int32_t win, int32_t position);
  void (*key)(int32_t win, int32_t code, int32_t down);
  void (*focus)(int32_t win, int32_t focused);
  void (*crossing)(int32_t win, int32_t inside);
  void (*moved)(int32_t win, const rect *r, int32_t final);
  int32_t (*close_request)(int32_t win);  // 1 allow, 0 refuse; null allows
  void (*closed)(int32_t win);
  void (*exposed)(int32_t win);           // contents lost: draw the window again
  void (*quit)(void);                     // the menu's Quit and the session's end
  // Start-up facts the layer hands up from gui_plat_init.
  void (*add_monitor)(const rect *frame, const rect *visible);
  void (*set_flip)(int32_t on);
  void (*set_maximise_supported)(int32_t on);
  void (*set_video_driver)(const char *name, const char *second);
  int32_t (*software_rendering)(void);    // read when a window is created
  // The window manager minimised (1), maximised (2) or restored (0) a
  // window by itself; also sent after the layer's own requests.
  void (*state)(int32_t win, int32_t state);
};

// Installs the entry points (copied); returns nothing. Null clears them.
void gui_plat_set_events(const gui_plat_events *events);

// Starts SDL video (no signal handlers, the process outlives its last
// window), turns y flipping off, declares maximising unsupported and adds
// every display as a monitor. 0, or -1 when video cannot start.
int gui_plat_init(void);
void gui_plat_shutdown(void);

// Native window and context for a gui window; 0 or -1 after an ERROR line.
// The first context also names the video driver (GL_RENDERER).
int gui_plat_window_create(gui_plat_window *win);
// Tears the native window down and reports the close once (events.closed);
// a second call for the same window does nothing.
void gui_plat_window_destroy(gui_plat_data *plat);
void gui_plat_set_title(gui_plat_data *plat, const char *title);
// Moves and sizes the content rectangle and echoes the new frame to the gui
// (events.moved, final 1), since SDL reports no programmatic change.
void gui_plat_set_frame(gui_plat_data *plat, const rect *frame);
void gui_plat_set_min_size(gui_plat_data *plat, const size *min);
void gui_plat_set_drag_area(gui_plat_data *plat, const rect *area);
void gui_plat_clear_drag_area(gui_plat_data *plat);
// 1 minimise, 0 restore; other values nothing.
void gui_plat_set_state(gui_plat_data *plat, int32_t state);
void gui_plat_set_cursor(int32_t code);
// Make the context current and mark it held; -1 without a context.
int gui_plat_lock(gui_plat_data *plat);
int gui_plat_unlock(gui_plat_data *plat);
// Releases the hold and presents the back buffer.
void gui_plat_swap(gui_plat_data *plat);
// The gui index of the front-most of our windows whose content holds the
// screen point, or -1.
int32_t gui_plat_window_at(int32_t x, int32_t y);
// Handles every pending native event without waiting.
void gui_plat_pump_events(void);
// Waits at most `ms` milliseconds for a native event, leaving it queued:
// 1 when one is pending, 0 when the time ran out, -1 at once when there is
// no display to wait on.
int gui_plat_wait_events(int32_t ms);

// Content rectangle of the native window as the window system has it now
// (for tests and for the gui's sanity checks); -1 without a window.
int gui_plat_native_frame(const gui_plat_data *plat, rect *out);
// The X11 window id (for input tools driving tests), 0 when none.
uint64_t gui_plat_x11_window(const gui_plat_data *plat);

// Toolkit key code of a platform virtual key code (0-127), or -1 when the
// key is ignored (codes 128 and above included).
int32_t gui_plat_key_code(int32_t vcode);
// The platform virtual key code of an SDL scancode, -1 for keys it lacks.
int32_t gui_plat_scancode_vcode(int32_t scancode);

// The application menu. Linux has no menu bar for it, so the menu is kept
// as data and its entries run from their key chords (Super stands for
// Command); the window menu likewise.
enum : uint32_t { GUI_PLAT_MOD_CMD = 1, GUI_PLAT_MOD_ALT = 2 };
struct gui_plat_menu_item {
  char title[80];      // "" with separator set
  int32_t separator;
  char key;            // key equivalent, 0 none
  uint32_t mods;       // GUI_PLAT_MOD_* besides Command
  void (*action)(void);
};
struct gui_plat_menu {
  char title[64];
  int32_t count;
  gui_plat_menu_item items[16];
};
// Builds the two menus (application menu, window menu) for the current
// application name; the array holds two entries and lives until the next call.
const gui_plat_menu *gui_plat_menu_build(const char *app_name);
// Runs the menu entry whose chord is Command(+mods)+key; 1 when one ran.
int gui_plat_menu_chord(char key, uint32_t mods);
