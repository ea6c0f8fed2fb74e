// Writing the local settings to "LOCAL_CONFIG" in the data directory
// "Config", always scrambled.
#pragma once
#include <cstdint>

// 0 / -1 (logged). The new file is written beside the old one (mode 0600),
// flushed to disk and renamed over it, so a failure or a crash at any point
// leaves the old file whole.
int save_local_config(void);

// Test seam: while set, the file's bytes are written with fn instead of
// plat_write_all. Null restores it.
typedef int32_t (*save_local_write_fn)(int fd, const void* data, int32_t n);
void save_local_set_write_hook(save_local_write_fn fn);
// 0 (the option "nosave"): save_local_config writes nothing and answers 0.
void config_set_save_local(int on);
