// Saving the user configuration to the server: the text of every list,
// scan, alert, chart style, feed and screen in its fixed block order,
// compressed as one framed block, stored in the user record and sent; the
// save of everything at logout; and the once-a-second autosave check.
// User-interface thread.
#pragma once
#include <cstdint>

struct window;

constexpr int kSaveRemoteVersion = 2;
constexpr int64_t kAutosaveRetrySeconds = 60;  // a failed autosave tries again then

// Writes, compresses, stores and sends the text (the client's save request
// carries `flag`: 1 for an explicit save or logout, 0 for the autosave).
// 0, or -1 after an ERROR line; the last stored copy stays on failure.
int save_remote_config(int flag);
// 0 (the option "--nosave"): every save only logs "skipping remote save".
void save_remote_enable(int on);
// The server copy (flag 1), then the local settings; both are tried. 0 / -1.
int config_save(void);
// Once a second: 1 when it saved, else 0. Waits for the loaded
// configuration and an online client; a due deadline saves (unless the
// client is stopping); no deadline and new user activity sets one 300 s on.
int config_autosave_tick(void);

// Writes the whole text into the configuration output (no compression);
// the writer is emptied first. 0 / -1.
int save_remote_write_text(void);
// The window keys of one window inside the caller's open block.
void save_remote_window(window* w);

// Makes screen n current (screen_pop ends it), whether or not its window
// is open; false when n is no screen or the screen stack is full.
bool config_enter_screen(int n);

// Test seams: the request that sends the stored copy (the client's save
// request when null) and the activity clock (the gui's when null).
void save_remote_set_sender(int (*send)(int flag));
void save_remote_set_activity_clock(int64_t (*last_activity_ms)(void));
