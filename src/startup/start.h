// The start-up and login flow (what the configuration needs of it so far).
#pragma once

// 1 while a restart of the program is pending.
int restart_pending(void);
