// The start-up and login flow: ties the gui to the market-data client (the
// frame loop's active hook holds the core lock while the loop works), opens
// the login window, logs in, starts the io thread and the 10 ms main timer,
// answers the client's login events, brings the screens up after the first
// login, and logs off and cleans up at the end. Main thread, except the io
// thread's body.
#pragma once
#include <cstdint>

struct configbox;
struct ss_change;

// Login event bits, the mask the flow listens to, and how they are handled.
constexpr uint32_t kStartLoggedIn = 0x1;
constexpr uint32_t kStartRestart = 0x800000;
constexpr uint32_t kStartSignedOn = 0x2000000;
constexpr uint32_t kStartLoggedOut = 0x4000000;
constexpr uint32_t kStartReconnect = 0x8000000;
constexpr uint32_t kStartOob = 0x10000000;
constexpr uint32_t kStartNotices = 0x20000000;
constexpr uint32_t kStartEventMask = 0x3e800003;

// Sets up and opens the login window; 0, or -1 when the login box or its
// window can't be made. host null: the configured servers.
int start_main(const char *site, const char *user, const char *password, const char *host, int32_t port);
// Configures the client, starts the io thread and the main timer. 0 / -1.
int start_io(const char *user, const char *password);
void start_logout(void);
int start_quit(void);  // the gui's quit hook
void start_cleanup(void);
// 1 while a restart of the program is pending.
int restart_pending(void);
void start_set_restart(int on);
void start_abort_login(void);
void start_abort_login_from_box(configbox *box);
// The configuration box serving as login box, or null (logged).
configbox *start_login_box(void);

// The hooks (exposed for checks).
void start_gui_active(int on);
int start_can_close_last(void);
void start_window_closed(int index);
int start_close_query(int index);
void start_window_crossing(int index, int inside);
int start_client_sleep(int32_t ms);
void start_login_event(const ss_change *change, void *owner, uint64_t argument, uint32_t flags);
void start_relogin(const char *message, const char *second);
// The message the flow shows for a reconnect request, from the server's last
// error code and sub-code; second line in *second (may be null).
const char *start_relogin_message(int32_t code, uint32_t sub, int screens_up, const char **second);

// State, for checks.
int start_login_window(void);  // gui window index, or -1
// The splash picture read at start (the splash file's bytes: width and
// height as big-endian 16-bit numbers, then RGBA pixels), or null; its
// length in *len.
const void *start_splash(uint32_t *len);
int start_io_running(void);
int start_main_timer_running(void);
