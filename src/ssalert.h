// Alert filters: the tickers' subscriptions to market alerts. A filter names
// the alert kinds it wants and conditions on the instrument; every alert the
// events raise is tested against each registered filter, in registration
// order, and recorded once per match.
//
// Filters are built and registered on the user-interface thread and fired on
// the io thread, both under the core lock.
#pragma once
#include <cstdint>

#include "sstime.h"

struct instr;

// Condition bits of the require and exclude masks.
constexpr uint32_t kAlertCondIndex = 0x1;  // the instrument is an index
constexpr uint32_t kAlertCondPlain = 0x2;  // a stock with an ordinary code
constexpr uint32_t kAlertCondHeld = 0x4;   // the instrument is held

struct ssalert_filter {
  uint32_t kinds;    // alert bits wanted
  uint32_t require;  // conditions that must hold (0: none)
  uint32_t exclude;  // conditions that must not hold (0: none)
};

// Makes the filter and registration pools and empties the list; 0, or -1
// after an ERROR line.
int ssalert_init(void);
void ssalert_fini(void);

// A cleared filter from the pool; null after "can't alloc alert". Filters
// are never given back: their owner keeps one and re-registers it.
ssalert_filter* ssalert_new(void);
void ssalert_clear_types(ssalert_filter* f);
void ssalert_add_types(ssalert_filter* f, uint32_t bits);
void ssalert_clear_kinds(ssalert_filter* f);
void ssalert_add_kinds(ssalert_filter* f, uint32_t bits);
void ssalert_clear_conds(ssalert_filter* f);
void ssalert_add_conds(ssalert_filter* f, uint32_t bits);

// Appends the filter to the list: 0, or -1 after "can't alloc proxy".
int ssalert_register(ssalert_filter* f);
// Removes the filter's first registration: 0, or -1 when it has none.
int ssalert_unregister(ssalert_filter* f);
// How many registrations there are.
int ssalert_count(void);

// Tests the alert against every registered filter and records it once per
// match; returns the number of matches.
int ssalert_fire(instr* in, ss_time time, uint32_t bits, void* payload);
// 1 after recording the alert for this filter when it matches, else 0.
int ssalert_match(ssalert_filter* f, instr* in, ss_time time, uint32_t bits, void* payload);
