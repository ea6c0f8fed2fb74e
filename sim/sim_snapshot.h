// The simulator's generated exchange: thousands of stocks and indices with
// day values, depth, states, quote bases, resume times, open balances and
// auction figures, made from a seed, written with the engine's summary writer
// and served to every client that reads the exchange's stream from its start
// (sim_set_snapshot). The generated records stay with the caller as the
// reference a test compares the client's model with.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim.h"
#include "sstime.h"

struct ss_exchange;

struct sim_snap_level {
  uint32_t price = 0;
  std::vector<uint64_t> orders;  // per order; level totals: one value, the total
  uint32_t count = 0;            // level totals: the order count
  std::vector<std::string> brokers;  // each order's broker, where the exchange carries them
};

struct sim_snap_stock {
  std::string code;
  uint32_t close = 0, open = 0, high = 0, low = 0, last = 0, first = 0;
  uint64_t volume = 0, value = 0, volume2 = 0, value2 = 0;
  uint32_t trades = 0;
  ss_time trade_time = 0;
  std::vector<sim_snap_level> sides[2];  // bid, offer; best first, at most 5 levels
  bool totals = false;                   // depth kept as level totals
  uint32_t auction_price = 0;
  uint64_t auction_volume = 0;
  int64_t surplus = 0;
  uint32_t auction_bid = 0, auction_offer = 0;
  uint64_t auction_bid_volume = 0, auction_offer_volume = 0;
  uint32_t state = 0;
  uint64_t basis = 0;
  ss_time resume = 0;
  uint32_t balance = 0;
};

struct sim_snap_index {
  std::string code;
  uint32_t base = 0, open = 0, high = 0, low = 0, value = 0;
  ss_time time = 0;
  // The day's values so far, oldest first, sent as the entry's track (the
  // generator leaves it empty).
  std::vector<std::pair<ss_time, uint32_t>> track;
};

struct sim_snapshot {
  uint32_t index = 0;
  ss_time date = 0;
  uint8_t state = 0;
  bool brokers = false;  // per-order depth carries each order's broker
  std::vector<sim_snap_stock> stocks;  // in speed order
  std::vector<sim_snap_index> indices;
};

// `stocks` stocks and `indices` indices (at most 65536 and 256) of the
// exchange, the same for the same seed.
sim_snapshot sim_snapshot_generate(uint32_t index, ss_time date, uint8_t state, uint64_t seed, int32_t stocks,
                                   int32_t indices, bool brokers = false);
// Puts the snapshot's stocks and indices into `ex` of the running model
// (found or added, given speeds in order). 0, or -1 when a code is refused or
// a speed table is full.
int sim_snapshot_build(const sim_snapshot& snap, ss_exchange* ex);
// The snapshot's messages as the summary writer writes them. The writer reads
// the engine's model, so this starts a model of its own and stops it again:
// call it only while no client runs in the process. 0, or -1 after an ERROR.
int sim_snapshot_write(const sim_snapshot& snap, std::vector<uint8_t>* out);
