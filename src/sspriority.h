// Order priority and firm orders: per-order details (an identifier, a number
// and two short texts) for the depth orders of the extended model, from the
// server's order-priority blocks (per exchange) and firm-order blocks (per
// stock).
//
// The standard model, which the terminal runs, has no room for these details
// on its stocks or orders: there the blocks are decoded in full with every
// bounds check, positions are checked against the book, and nothing is kept.
// Io thread only, under the core lock.
#pragma once
#include <cstdint>

struct ss_exchange;
struct ss_stock;
struct ss_depth_order;

constexpr int32_t kPriorityTextChars = 16;  // longest text of a record

// Makes the order-info pool and the firm-order buffer; 0, or -1 after an
// ERROR line.
int sspriority_init(void);
void sspriority_fini(void);

// Applies a decrypted order-priority block of the exchange: the bytes used,
// 0 when the block ends inside a record, -1 on bad data (a bad type or side,
// a text too long, late info for a stock not known, no record to be had).
int sspriority_decode(ss_exchange* ex, const uint8_t* data, int32_t length);
// An order was added to the stock at `position` of `side`: stores the
// position and the details of a waiting record for it (extended model only).
void sspriority_take(ss_stock* stock, ss_depth_order* order, int side, uint32_t position);
// Keeps a copy of a decrypted firm-order block for the stock until its next
// depth fill; one held for another stock is replaced. 0, or -1 when the block
// is not well formed (nothing is kept then).
int sspriority_store_firm(ss_stock* stock, const uint8_t* data, int32_t length);
// At the end of the stock's depth fill: 0 with no block held; a block held
// for this stock is applied to its orders and dropped (-1 when a record
// cannot be placed); a block held for another stock is stale: logged, dropped
// and -1.
int sspriority_apply_firm(ss_stock* stock);
// Whether a firm-order block is held, and for which stock.
ss_stock* sspriority_firm_stock(void);

// Frees the stock's waiting records.
void sspriority_clear(ss_stock* stock);
// Frees the waiting records of the exchange's stocks not yet known (every
// reset of the exchange).
void sspriority_clear_exchange(const ss_exchange* ex);
// Waiting records of stocks not yet known, all exchanges.
int sspriority_queued(void);
