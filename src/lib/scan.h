// Scans: registered and temporary market scans over the instruments.
#pragma once

// Scans with their filters, refresh, timers and watchlists. 0 / -1.
int scan_init(void);
void scan_fini(void);
