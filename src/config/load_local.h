// Reading the local settings file "LOCAL_CONFIG" (or its fallback
// "LOCAL_CONFIG.0") of the data directory "Config" into the local settings.
#pragma once

// 0 when a file was read, and also when neither file exists (the record is
// then unchanged). A main file that is missing or damaged (too short, too
// big, fails to unscramble, holds no version) gives way to the fallback; -1
// when no file could be used, with the live record untouched.
int load_local_config(void);
// Whether the last file read held the key "workaround_software_renderer".
int load_local_has_renderer_key(void);
// 0 (the option "noload"): load_local_config reads nothing and answers 0.
void config_set_load_local(int on);
