// The side channel: numbered encrypted blocks the server sends for the
// terminal's subsystems, collected on the io thread and delivered to the
// registered subsystem on the user-interface thread.
// Minimal version: replaced when the side channel is built.
#pragma once
#include <cstdint>

// Minimal version: replaced when the side channel is built.
int subsys_init(void);
void subsys_fini(void);
// User-interface thread: hands the collected blocks to their subsystems. 0.
int subsys_deliver(void);
