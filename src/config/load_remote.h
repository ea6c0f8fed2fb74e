// Loading the user configuration kept on the server: reads the stored copy
// (one framed deflate block, or plain text beginning "version "), rebuilds
// lists, scans, alerts, chart styles, feeds and the four screens with their
// bars and desktops of windows, and runs the upgrade steps. Version 1 copies
// (one screen, windows with rectangles) are migrated. User-interface thread.
#pragma once
#include <cstdint>

struct desktop;
struct window;

constexpr int kLoadRemoteWindowsPerDesktop = 256;
constexpr int kLoadRemoteYieldEvery = 20;  // windows between releases of the core lock
constexpr int32_t kLoadRemoteYieldMs = 10;

// 0, or -1 only when the user's state could not be rebuilt at all. A user
// with no stored copy, or whose copy is damaged, gets an empty configuration
// (screen 0) and 0; a damaged copy also turns off the server saves of this
// session so that it is not overwritten.
int load_remote_config(void);
// 0 (the option "--noload"): nothing is read, screen 0 opens, and the
// configuration counts as loaded at once.
void load_remote_enable(int on);
// Whether the configuration has been loaded (the autosave waits for it).
int load_remote_done(void);
// Whether a damaged stored copy is being kept this session (no server save).
int load_remote_keep_stored(void);
// Loads a text (plain or compressed, as stored) rather than the user
// record's copy. 0 / -1 as load_remote_config.
int load_remote_from(const char* data, int32_t length);
// The window keys of the current block into w.
void load_remote_window(window* w);
// Lays out the migration table's windows on d (the windows become d's).
// 0, or -1 when no tree could be made.
int migrate_desktop_layout(desktop* d);
// Forgets the loaded state (tests).
void load_remote_reset(void);
