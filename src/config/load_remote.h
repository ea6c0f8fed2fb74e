// Loading the user configuration kept on the server.
#pragma once
// 0, or -1 when the server copy can't be loaded.
int load_remote_config(void);
