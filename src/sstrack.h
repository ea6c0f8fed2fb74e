// Price tracks: the price of every stock and the value of every index through
// the trading day, coalesced per second, so that scans can ask for the price
// of every instrument at a shared point in time (a track client: a fixed time
// of day, or a look-back of so many seconds). Up to eight clients are shared
// by reference count. Exchanges with kExTrackStreams also keep each
// instrument's day as a compact stream (the track records of the summaries);
// exchanges with kExClientTracks keep the changes the clients walk.
//
// Threads: reports, commits and updates run on the io thread under the core
// lock; clients are added and released from the user-interface thread. The
// track lock (taken after the core lock) guards the client slots, the change
// list and the pending list.
#pragma once
#include <cstdint>

#include "sstime.h"

struct ss_exchange;
struct ss_index;
struct ss_stock;
struct instr;

constexpr int kTrackClients = 8;
constexpr int32_t kTrackBufBytes = 64;
constexpr int32_t kTrackChangeStep = 25000;

int sstrack_init(void);  // -1 after an ERROR naming the pool that failed
void sstrack_fini(void);

// A client at `point` (its time of day counts; 0: none) or `lookback`
// seconds before each exchange's time (0: fixed). The slot (0-7), shared with
// a client of the same look-back and time of day, or -1 after an ERROR when
// all eight are used.
int sstrack_add_client(uint32_t lookback, ss_time point);
// Lowers the slot's count; a slot outside 0-7 or already free is ignored.
void sstrack_release_client(int slot);
// The time the slot's values stand for on an exchange (0 outside the ranges).
ss_time sstrack_client_time(int slot, int exchange);
// Set when a client was added and no update has run since.
int sstrack_client_added(void);
// The instrument's last price or value at or before the slot's time; 0 when
// none (or the slot is outside 0-7). Core lock.
uint32_t sstrack_client_value(const instr* in, int slot);

// Reports a stock's new price or an index's new value at a time (trades,
// cancellations, quotes, index ticks, track records). 0, or -1 after an ERROR.
int sstrack_track_stock(ss_stock* stock, ss_time time, uint32_t price);
int sstrack_track_index(ss_index* index, ss_time time, uint32_t value);
// Commits the instrument's pending value.
void sstrack_track_price(ss_stock* stock);
void sstrack_track_value(ss_index* index);
// Commits every pending value and walks the clients (io thread).
void sstrack_update(void);
// After a summary loaded out of time order: commits, sorts the changes by
// time and walks every client again.
void sstrack_reset_after_sort(void);
// Drops the exchange's day of tracks (new day, new index summary).
void sstrack_reset_exchange(ss_exchange* ex);
// The instrument's recorded stream: its length in bytes, and a copy of it
// into out (length bytes). 0 without one.
int32_t sstrack_stream_length(const instr* in);
void sstrack_copy_stream(const instr* in, uint8_t* out);

// Test seam: sets the slot's value on the instrument as a walk of the
// clients would, so tests of the scans can give instruments prices at a
// reference moment without a day of changes. Core lock.
void sstrack_test_set_client_value(instr* in, int slot, uint32_t value);
