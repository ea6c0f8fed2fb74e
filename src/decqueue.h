// Order queue reader: the initial queue of one side of a stock, as the
// exchange's stream sends it (per order: price groups of orders with their
// volume, time and broker; or level totals).
#pragma once
#include <cstdint>

#include "ssmodel.h"

// From this protocol version of the data each order carries its time.
constexpr int32_t kQueueTimedVersion = 2;

// Reads exactly n bytes (the list has no end marker) and replaces the side's
// levels; the side's queue is then loaded. An empty record (n = 0) is a
// queue of no orders: the side is emptied, its best price 0. version is the protocol version of
// the data. Bytes used (n), 0 when the last order is cut short, -1 after an
// ERROR line; on 0 and -1 the stock is as it was. *orders (may be null) gets
// the number of orders read, the decoding work done.
int decqueue_decode(ss_stock* stock, int side, const uint8_t* data, int32_t n, int32_t version, uint32_t* orders);
