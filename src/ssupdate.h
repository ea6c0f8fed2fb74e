// Program updates: new program files the server pushes while connected. A
// begin names the version, each file arrives whole in a large buffer and is
// stored in a pending list, and a write puts every pending file into the
// Program folder at once and announces the update (global change bit
// 0x800000). Io thread, core lock held.
#pragma once
#include <cstdint>

constexpr uint32_t kUpdatePlatformNone = 1;  // a program file name without a platform tag
constexpr uint32_t kUpdatePlatformOwn = 6;   // this build: Linux x86_64
constexpr char kUpdateOwnTag[] = "_L64";     // the tag of this build's program files
constexpr int32_t kUpdateNameMax = 31;       // characters of a pending file's name
constexpr int32_t kUpdateFileMax = 64 * 1024 * 1024;     // bytes of one program file
constexpr int64_t kUpdateTransferMax = 128 * 1024 * 1024;  // bytes of all open large buffers
constexpr int32_t kUpdatePendingMax = 64;    // files of one update

int ssupdate_init(void);
// With updates refused (the user's "no updates" option) every update message
// is logged and dropped: nothing is written into the Program folder, which
// the next start would run from.
void ssupdate_set_refused(int on);
void ssupdate_fini(void);  // discards the pending files

// A new version is coming: status line, pending files discarded, a failed
// earlier update forgotten. 0.
int ssupdate_begin(const char* version);
// Moves the complete large buffer `id` into the pending list under `name`
// and releases the buffer. -1 (the rest of the update then ignored) for a
// name that could leave the Program folder, a missing or incomplete buffer,
// or too many files; 0 when the update has already failed (buffer released).
int ssupdate_store(const char* name, int32_t id);
// Writes every pending file under a temporary name, then renames them all;
// any failure removes what was written and announces nothing. 0, also after
// a logged failure; -1 only for a failed rename part way (files already
// renamed stay).
int ssupdate_write(void);
// Writes one file into the Program folder and announces it. 0 / -1.
int ssupdate_save(const char* name, const void* data, int32_t length);
// Deltas are not applied: logs "not implemented", -1.
int ssupdate_apply_delta(const char* name, const void* data, int32_t length);
// The platform code of a program file name: the first tag found of "_W32"
// (2), "_M32" (7), "_L32" / "_L86" (3), "_W64" (5), "_M64" (4), "_L64" (6),
// else 1.
uint32_t ssupdate_platform_code(const char* name);
// 1 when a name from the server may name a file of the Program folder: 1-31
// characters, none of '/', '\\' or control characters, no leading '.'.
int ssupdate_name_ok(const char* name);
// Pending files (for tests and the status of an update in progress).
int32_t ssupdate_pending_count(void);
