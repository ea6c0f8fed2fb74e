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

// Track clients: up to eight shared reference moments, each a (delta
// seconds, fixed time) pair; a pair already registered shares its client by
// reference count. User-interface thread.
constexpr int kTrackClients = 8;
struct instr;
// Minimal version: replaced when price tracks are built.
int32_t sstrack_add_client(uint32_t delta_seconds, ss_time fixed_point);  // slot or -1
void sstrack_release_client(int32_t client);
int32_t sstrack_client_refs(int32_t client);  // 0 for a free or bad slot
// The client's pair; 0 for a free slot. Its reference time on an exchange
// is the fixed time when set, else the exchange's clamped now minus the delta
// (the caller reads the exchange clock).
uint32_t sstrack_client_delta(int32_t client);
ss_time sstrack_client_fixed(int32_t client);
// The instrument's price at the client's reference time; 0 when unknown.
uint32_t sstrack_value(int32_t client, const instr* in);
// Feeds one price at a client's time (the market simulator's driver and the
// tests stand in for the track streams until they are built).
// Minimal version: replaced when price tracks are built.
void sstrack_set_value(int32_t client, const instr* in, uint32_t value);
