// Volume comparison: each stock's volume done by this time of day yesterday,
// on a weekly and on a monthly average, applied second by second from the
// server's quarter-hour sets. Io thread, core lock held.
#pragma once
#include <cstdint>

#include "sstime.h"

struct ss_exchange;

constexpr int kVcmpRefs = 3;                 // yesterday, weekly average, monthly average
constexpr int kVcmpMinutes = 15;             // minute buckets of a quarter
constexpr int32_t kVcmpUpdatePool = 10000;   // update records of all sets together
constexpr int32_t kVcmpItemMax = 200000;     // items of one set, whatever the set announces
constexpr uint32_t kVcmpFallbackSet = 1845;  // asked for outside the trading day
constexpr int kVcmpComparedMax = 4;          // comparison exchanges
extern const float kVcmpFactors[256];        // a minute's share of its quarter, by index

// The client's side of the module, installed at start-up: the request of a
// set (kind 81: exchange index, quarter hhmm, 1 current / 0 next) and
// whether the client is logged in.
struct ssvcmp_hooks {
  int (*request)(int32_t exchange, uint32_t quarter, int init);
  int (*logged_in)(void);
};
void ssvcmp_set_hooks(const ssvcmp_hooks* hooks);  // null: none (nothing is requested)

int ssvcmp_init(void);  // the update pool; -1 when it cannot be made
void ssvcmp_fini(void);  // frees every set and the pool
// Online: drops every set, rebuilds the comparison exchanges (0, 1 and 3 that
// exist and that the user may see) and asks for the current sets.
void ssvcmp_start(void);
// One set of message 214 (init 1: current set, 0: next set). 0, or -1 for an
// exchange that is not compared or a set that cannot be made; a set that
// fails part way keeps what it applied.
int ssvcmp_apply(ss_exchange* ex, ss_time date, uint32_t quarter, int init, const uint8_t* data, int32_t length,
                 int32_t version);
// Every housekeeping pass: applies the seconds since the last tick, swaps in
// next sets at their quarter and asks for the next sets when due.
void ssvcmp_tick(void);
// At the exchange's daily reset: the stocks' comparison volumes to 0, every
// set dropped, the current sets asked for again.
void ssvcmp_reset_exchange(ss_exchange* ex);
void ssvcmp_request_current(void);
void ssvcmp_request_next(void);
// The quarter hhmm of a second of the day: 10:37:12 gives 1030.
uint32_t ssvcmp_quarter(int32_t second_of_day);
// The current and next sets' quarters of exchange `index` (0 when none), for
// tests and status.
uint32_t ssvcmp_current_quarter(int32_t index);
uint32_t ssvcmp_next_quarter(int32_t index);
int32_t ssvcmp_free_updates(void);
