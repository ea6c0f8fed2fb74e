// Undo: the ring of user changes that can be taken back, newest first.
// Screens, desktops and splitters record a change here before they make it.
// Main thread.
//
// Minimal version: nothing is kept for undoing yet; every record pushed is
// released at once through the release hook of its type (a layout snapshot
// is freed, a removed window deleted), so nothing handed over is leaked.
// Groups are counted so that begin/end/cancel stay balanced.
#pragma once

#include <cstdint>

struct desktop_layout;
struct window;

enum undo_type : int {
  UNDO_LAYOUT = 5,
  UNDO_REMOVED_WINDOW = 6,
  UNDO_NEW_WINDOW = 7,
  UNDO_SCREEN_BARS = 10,
};

// 0, or -1 when the ring can't be had.
int undo_init(void);
void undo_fini(void);

// The module that owns a payload type installs how it is released
// (the screen frame for layouts and windows).
void undo_set_release(int type, void (*release)(void *payload));

int undo_begin();
int undo_end();
int undo_cancel();
// Takes ownership of the snapshot.
int undo_push_layout_snapshot(desktop_layout *snapshot);
// Takes ownership of a window taken off its desktop.
int undo_push_removed_window(window *w);
// A window created by a split (stays owned by its desktop).
int undo_push_new_window(window *w);
int undo_push_screen_bars();
// Records pushed since start (released at once in this version).
uint32_t undo_pushed_count();
int undo_depth();
