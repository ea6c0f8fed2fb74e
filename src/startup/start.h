// The start-up and login flow (what the configuration and the application
// main need of it so far).
#pragma once

// 1 while a restart of the program is pending.
int restart_pending(void);
// Shows the first window and starts the login; 0 when the frame loop should
// run, anything else to skip it.
int start_main(const char *site, const char *user, const char *password, const char *host, int port);
// Closes what start_main opened (before the modules stop).
void start_cleanup(void);
