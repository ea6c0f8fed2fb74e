// Writer of trade groups in the layout dectrades reads: one group is a count,
// the price, then each trade's time offset, a flag block when the trade needs
// one, its volume and, where brokers are carried, buyer and seller.
#pragma once
#include <cstdint>

#include "growbuf.h"
#include "ssmodel.h"
#include "sstime.h"

// One trade as the writer takes it: the model's trades and the market
// simulator's both map to this.
struct enctrades_trade {
  ss_time time;
  uint32_t price;
  uint64_t volume;
  uint8_t flags;  // the trade's flag byte (142 when it has no other)
  uint64_t conditions;
  uint64_t second;
  ss_time as_at;
  const char* buyer;   // null or empty: none
  const char* seller;
};

// Writes a broker code as encode_broker does; a writer that must not read
// the model's broker table (another thread's) passes its own.
typedef int (*enctrades_broker_fn)(uint8_t* out, const char* code);

// k trades at trades[0].price, against *ref and *running (both moved). k may
// be 0 (an empty group). put_broker null: encode_broker. Bytes written, or -1
// (output as it was) after an ERROR line: a field no encoding carries, or no
// broker where one is due.
int enctrades_encode_one(growbuf* out, const enctrades_trade* trades, uint32_t k, uint32_t* ref, ss_time* running,
                         int brokers, enctrades_broker_fn put_broker = nullptr);
// The stock's whole trade list, runs of one price as one group, from the
// reference price ref and running time `running` (a reader starts from the
// same). Brokers as the stock's exchange carries them. Bytes or -1.
int enctrades_encode_stock(growbuf* out, const ss_stock* stock, uint32_t ref, ss_time running);
