// Price tracks: the price of every stock and the value of every index through
// the trading day, kept so that scans can ask for any instrument's price at a
// shared point in time.
// Minimal version: replaced when price tracks are built.
#pragma once
#include <cstdint>

struct ss_exchange;

// Minimal version: replaced when price tracks are built.
int sstrack_init(void);
void sstrack_fini(void);
// Commits the pending values and walks the track clients (io thread).
void sstrack_update(void);
// Drops the exchange's day of tracks at its daily reset.
void sstrack_reset_exchange(ss_exchange* ex);
