// Keyboard bindings and typed commands. Keys that reach a screen (and are
// not the configuration box's) come here: single keys with modifiers run
// user actions; a short typed text (at most 31 characters, shown in the
// keypad) names an instrument, a list, a split, an exchange or a time.
// Main thread.
#pragma once

#include <cstdint>

#include "sstime.h"

struct instr;
struct key_event;
struct ss_exchange;
struct window;

constexpr int kKeyboardBuffer = 32;       // 31 characters and the terminator
constexpr int64_t kKeyboardLingerMs = 500;  // a command run while typing stays on show

// Key codes of the special keys.
enum : int32_t {
  KEY_ENTER = 1001, KEY_BACKSPACE = 1002, KEY_DELETE = 1003, KEY_SPACE = 1004, KEY_ESCAPE = 1005,
  KEY_TAB = 1006, KEY_HOME = 1007, KEY_END = 1008, KEY_PAGE_UP = 1009, KEY_PAGE_DOWN = 1010,
  KEY_UP = 1011, KEY_DOWN = 1012, KEY_LEFT = 1013, KEY_RIGHT = 1014, KEY_CHAR = 1015,
  KEY_F1 = 1020, KEY_F10 = 1029,
};

int keyboard_init(void);  // 0
void keyboard_fini(void);

const char *keyboard_buffer();
bool keyboard_is_active();
int keyboard_mode();  // 1 normal, 0 lingering after a command
// Opens typed entry (empty) and takes the focus from any widget.
void keyboard_activate();
// Ends typed entry: empty buffer, no timer, mode 1, keypad re-placed.
void keyboard_deactivate();

void keyboard_key(const key_event *k);
// Runs the buffer as a command in window w (popup: w floats; keep: the
// text lingers 500 ms; shift: the Enter key's shift).
void keyboard_command(window *w, int popup, int keep, int shift);

// What the keyboard runs: the user actions, and the window services typed
// commands reach. The default table calls the real ones; tests install a
// table that records the calls.
struct keyboard_actions {
  int (*start_entry)(window *w);
  int (*show_everywhere)(instr *in);
  int (*set_instrument)(window *w, instr *in);
  int (*set_window_role)(window *w, uint32_t role);
  int (*show_alerts)(window *w);
  int (*show_chart_style)(window *w, int32_t id);
  int (*show_google)(window *w);
  int (*show_help)(int topic);
  int (*show_index_list)(window *w, ss_exchange *ex);
  int (*show_announcements)(window *w, ss_exchange *ex);
  int (*show_option_list)(window *w);
  int (*show_profile)(window *w);
  int (*open_preset)(window *w, int32_t id);  // actions 10-13
  int (*search)(window *w);
  int (*size_up)();
  int (*size_down)();
  int (*snap)();
  int (*sync_tools)(window *w);
  int (*toggle_tools)(window *w);
  int (*show_quick)();
  int (*logout_box)();
  int (*toggle_bars)(uint32_t mask);
  int (*perform)(window *w, int32_t id);
  int (*toggle_hilight_watched)();
  int (*keep_only)();
  int (*zoom)(window *w);
  int (*unzoom)();
  int (*undo)();
  int (*step_desktop)(int direction);
  int (*switch_desktop)(int n);
  int (*page_document)(window *w, int delta);
  int (*force_exchange)(window *w, ss_exchange *ex);
  int (*new_watchlist)(window *w);
  int (*show_watchlist)(window *w, int32_t id);
  int (*new_scan)(window *w);
  int (*show_scan)(window *w, int32_t id);
  int (*new_chart_style)(window *w);
  int (*show_rss_feed)(window *w, int32_t id);
  int (*new_rss_feed)(window *w);
  int (*link_split)(window *w, int kind, int linked);
  int (*open_search)(window *w, ss_exchange *ex, const char *text);
  int (*goto_time)(window *w, ss_time t, int flags);
  // "+codes" / "-codes" typed into a watchlist or alerts window.
  int (*edit_list)(window *w, const char *codes, int add);
};
// Null: the real actions.
void keyboard_set_actions(const keyboard_actions *a);
const keyboard_actions *keyboard_real_actions();
