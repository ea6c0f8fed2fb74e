// Data paths: where the program's data tree lives (found from the
// executable's path), the log, crash state and restart program paths, the
// two run slots an update is installed into, and the stored program's size.
// Main thread, at start-up and shutdown.
#pragma once

#include <cstdint>

constexpr int kAppdataPathMax = 1024;
constexpr char kAppdataAppName[] = "Ambit";

// Finds the data root from `exe_path`, sets up the data tree and works out
// the paths. bits <= 0 means 64. 0, or -1 after an ERROR line.
int appdata_init(const char *exe_path, int alternate, int bits);
// Stops the data directory module.
void appdata_fini();
// Called once after option parsing; nothing to do.
int appdata_prepare();

// The paths, or null while empty.
const char *appdata_log_path();
const char *appdata_state_path();
const char *appdata_restart_exe();
// The stored program's name in "Program" ("EXE_L64" or "EXE_L32").
const char *appdata_stored_exe();

int appdata_is_alt();
// Switches to the other run slot and recomputes the restart program path.
void appdata_toggle_alt();
// Copies the stored program into the current run slot under the
// application name; 0 or -1.
int appdata_install_exe();
// The stored program's size in bytes, 0 until known.
uint32_t appdata_exe_size();

// Ends `path` at the last occurrence of `part` ("/" in part read as the
// platform's separator); 0, or -1 (path unchanged) when it does not occur.
// A part of 1024 characters or more is FATAL.
int appdata_cut_at_last(char *path, const char *part);
