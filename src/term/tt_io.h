// The table of terminal sessions and their byte paths. A session is named by
// its index in the table. Only the local display (type 1) exists on this
// platform: bytes sent to it are interpreted straight onto its screen.
// Types 0 ("vt100") and 2 ("Command Prompt") would need a back end, so
// opening them fails. User-interface thread only.
#pragma once
#include <cstddef>
#include <cstdint>

#include "term/tt_screen.h"

constexpr int kTtTableStep = 8;      // the table grows by this many entries
constexpr int kTtPollMs = 10;

int tt_init(void);  // 0
void tt_shutdown(void);

// The index, or -1: table growth failed (the table stays as it was), the
// poll timer could not start, or the type has no back end here. `name` and
// `args` are not used by the local display.
int tt_open(int type, const char *name, const char *args, int cols, int rows, tt_callback callback,
            void *user, intptr_t user2);
void tt_close(int index);
// Resizes the grid, keeping the newest written rows when it gets fewer. 0,
// or -1 when the new grid can't be made (the old one stays) or the index is
// bad.
int tt_resize(int index, int cols, int rows);
// 0 / -1. A local-display session interprets the bytes; any other appends
// them to its send buffer ("tt send buffer exhausted" when full).
int tt_send(int index, const uint8_t *bytes, int n);
int tt_send_key(int index, const key_event *key);
// The send-buffer half of tt_send, for replies of the interpreter.
int tt_session_send(tt_session *s, const uint8_t *bytes, int n);
// Whether the back end of an open session has ended: always so here.
int tt_session_ended(void);
// The session for drawing and copying, or null for a bad index.
const tt_session *tt_screen_of(int index);
void tt_clear(int index);
int tt_cursor_shown(int index);

// What the table looks like, for tests: entries handed out and their room.
int tt_count(void);
int tt_capacity(void);
int tt_poll_timer(void);  // the poll timer's id, -1 while stopped
// Test seam: the allocator the table grows with (null restores realloc);
// returns the previous one.
typedef void *(*tt_realloc_fn)(void *p, size_t n);
tt_realloc_fn tt_set_realloc(tt_realloc_fn fn);
