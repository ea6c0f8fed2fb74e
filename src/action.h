// User actions: numbered commands on a market window or on the current
// screen (roles, subjects, splits, lists, bars, desktops, screens, undo),
// run by the toolbar buttons and the keyboard. Every action that changes
// what the user sees first pushes the undo records that take it back.
// Also the process-wide settings other modules read: the default
// exchange, the highlight-watched flag and the last chart style.
//
// A window argument may be null: the focused window of the current desktop
// of the current screen (for role changes: every window of that desktop).
// Results: 1 something was done, 0 nothing to do, -1 failure. Main thread.
#pragma once

#include <cstdint>

struct instr;
struct ss_exchange;
struct window;

// Action ids beyond 0-140: a list entry n of each kind.
constexpr int32_t kActionWatchlist = 10000000;
constexpr int32_t kActionScan = 20000000;
constexpr int32_t kActionChartStyle = 30000000;
constexpr int32_t kActionFeed = 40000000;

int action_perform(window *w, int32_t id);

// ---- process-wide settings ----
uint32_t action_default_exchange();
// The default exchange's record, looked up once per change of the id.
ss_exchange *action_default_exchange_record();
// Stored when the user may see that exchange; 0.
int action_set_default_exchange(uint32_t id);
int action_change_default_exchange(uint32_t id);
int action_set_hilight_watched(uint32_t value);  // 1 when it changed
int action_toggle_hilight_watched();
uint32_t action_hilight_watched();
void action_set_action_flag(uint32_t value);
uint32_t action_action_flag();
void action_set_last_chart_style(int32_t id);
int32_t action_last_chart_style();

// ---- one window, or every window of the current desktop ----
typedef int (*action_step_fn)(window *w, const void *args, int all);
int action_for_windows(window *w, action_step_fn step, const void *args);
int action_set_window_role(window *w, uint32_t role);
int action_show_depth(window *w, uint32_t mode);
int action_show_profile(window *w);
int action_show_google(window *w);
int action_show_alerts(window *w);
int action_show_option_list(window *w);
int action_show_chart_style(window *w, int32_t id);

// ---- one window ----
int action_set_exchange(window *w, uint32_t id);
int action_swap_exchange(window *w);
int action_force_exchange(window *w, ss_exchange *ex);
int action_set_instrument(window *w, instr *in);
int action_show_everywhere(instr *in);
int action_page_document(window *w, int delta);
int action_new_chart_style(window *w);
int action_new_watchlist(window *w);
int action_show_watchlist(window *w, int32_t id);
int action_new_scan(window *w);
int action_show_scan(window *w, int32_t id);
int action_open_preset_scan(window *w, ss_exchange *ex, const char *name, uint32_t instr_filter,
                            uint32_t change_filter, uint32_t order, int reversed);
// The preset of action id 10-13 on the default exchange.
int action_open_preset(window *w, int32_t id);
int action_show_index_list(window *w, ss_exchange *ex);
int action_show_announcements(window *w, ss_exchange *ex);
int action_new_rss_feed(window *w);
int action_show_rss_feed(window *w, int32_t id);
int action_search(window *w);
int action_start_entry(window *w);

// ---- the desktop ----
// kind 19-26, 28: rows x cols of the split (22: three panes); linked: the
// new panes follow the window.
int action_link_split(window *w, int kind, int linked);
int action_keep_only();
int action_snap();
int action_zoom(window *w);
int action_unzoom();
int action_toggle_tools(window *w);
int action_sync_tools(window *w);

// ---- the screen ----
int action_toggle_bars(uint32_t mask);
int action_tickbar_on();
int action_tickbar_off();
int action_toggle_tickbar();
int action_switch_desktop(int n);
int action_step_desktop(int direction);
int action_toggle_screen(int n);
int action_close_screen(int n);
int action_logout_box();
int action_undo();
int action_show_quick();
int action_show_help(int topic);
int action_show_about();
int action_show_settings();
int action_size_up();
int action_size_down();
