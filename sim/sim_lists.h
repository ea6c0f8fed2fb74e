// The lists the simulator sends about one stock, written from the market's
// books (sim.h): depth lists, order queues and trade lists, in the layouts
// the client's readers take, and the answers to the depth and trade-list
// requests. Safe on any thread: nothing here reads the engine's process-wide
// state (broker table, running reference times).
#pragma once
#include <cstdint>

#include "growbuf.h"
#include "sim.h"

#include <string>
#include <vector>

constexpr int32_t kSimPartialLevels = 10;  // levels of a partial depth answer
constexpr size_t kSimRecentTrades = 20;    // trades of a recent-trades answer

// A side's depth list against the stock's previous close: at most `limit`
// levels (0: all) and the end marker unless the limit was reached. 0 or -1.
int sim_list_depth(growbuf* gb, const sim_stock_ref& s, int side, int32_t limit, bool brokers);
// A side's order queue (no end marker), each order stamped `time`, times
// told from the exchange's date. 0 or -1.
int sim_list_queue(growbuf* gb, const sim_stock_ref& s, int side, ss_time time, ss_time date, bool brokers);
// The stock's trades from index `first` on, against its last price and the
// exchange's date. 0 or -1.
int sim_list_trades(growbuf* gb, const sim_stock_ref& s, size_t first, ss_time date, bool brokers);

// A state-change list's payload naming `codes` (each a stock of the
// exchange), stepping along `alpha` (the exchange's current stocks in code
// order, as the client holds them) where a code follows the previous one
// there, else naming the code. 0 or -1.
int sim_list_states(growbuf* gb, const std::vector<std::string>& alpha, const std::vector<std::string>& codes);

// Appends the answers to request `e` (kinds 10-13, 20, 50, 51, 60, 61) about the
// stock whose books are `book` (null: a stock with nothing yet). Other kinds
// append nothing.
void sim_answer_lists(growbuf* gb, const sim_entry& e, const sim_stock_ref* book, ss_time date, bool brokers);
