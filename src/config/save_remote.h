// Saving the user configuration to the server, and the save of everything
// at logout.
#pragma once
// Stores the server copy; changed 1 marks a save after a change. 0 / -1.
int save_remote_config(int changed);
// The local settings and, when logged in, the server copy. 0 / -1.
int config_save(void);
// Once a second: stores the server copy when its autosave deadline came.
void config_autosave_tick(void);
