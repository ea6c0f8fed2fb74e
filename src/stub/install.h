// Installing the terminal into the per-user data tree: the bundle's install
// folder, the version checks that decide between using what is stored,
// installing and upgrading, the copy itself and the run slots' clean-up.
// Launcher only, main thread, after appdata_init.
#pragma once
#include <cstdint>

constexpr int kInstallVersionMax = 31;  // bytes of a version text read
constexpr int kInstallVersionParts = 4;

// Finds the bundle's "Contents/Resources/Install" folder beside the program
// and makes it data directory 15. 0 / -1.
int appdata_install_dir();
// 1 when the stored installation can be used unchanged: the last installed
// version text is not less than the bundle's (a byte comparison, newline
// included), or the bundle has no install folder to compare with. Else 0.
int appdata_is_installed();
// 1 when the bundle's program version is higher than the stored one.
int appdata_needs_upgrade();
// Copies every file of the install folder into the data tree: the stored
// program first, its version file last and only when nothing before it
// failed, and the record of the installed
// version only when every copy succeeded. 0, or -1 when anything failed.
int appdata_install();
// Removes every regular file of the four run slot directories.
void appdata_clear_run_dirs();

// The data directory an install folder's file goes to: Config for names
// with "CONFIG", the data cache for a digit followed by ';', else Program.
uint32_t appdata_install_route(const char *name);
// Reads a version text into four numbers: spaces dropped, missing parts 0,
// a part's digits stop at the first other character, numbers that do not
// fit saturate at INT32_MAX.
void appdata_version_parse(const char *text, int32_t out[kInstallVersionParts]);
// -1, 0 or 1 as version text a is lower than, equal to or higher than b.
int appdata_version_compare(const char *a, const char *b);
