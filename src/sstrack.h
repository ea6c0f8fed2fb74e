// Price tracks: the price of every stock and the value of every index through
// the trading day, kept so that scans can ask for any instrument's price at a
// shared point in time.
// Minimal version: replaced when price tracks are built.
#pragma once
#include <cstdint>

#include "sstime.h"

struct ss_exchange;
struct ss_index;
struct ss_stock;

// Minimal version: replaced when price tracks are built.
int sstrack_init(void);
void sstrack_fini(void);
// Commits the pending values and walks the track clients (io thread).
void sstrack_update(void);
// Drops the exchange's day of tracks at its daily reset.
void sstrack_reset_exchange(ss_exchange* ex);
// Reports a stock's new price or an index's new value at a time (trades,
// cancellations, quotes, index ticks). 0, or -1 after an ERROR line.
// Minimal version: replaced when price tracks are built.
int sstrack_track_stock(ss_stock* stock, ss_time time, uint32_t price);
int sstrack_track_index(ss_index* index, ss_time time, uint32_t value);
