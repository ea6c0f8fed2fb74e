// Trading-state names and the packed history of price movements kept on each
// stock and index.
#pragma once
#include <cstdint>

struct ss_stock;
struct ss_index;

// Names of a trading state code: "???" and "UNKNOWN" for a code not in the
// table. Constant texts.
const char* ssstate_short_name(uint32_t code);
const char* ssstate_long_name(uint32_t code);

// Movement marks and the history word: the top 4 bits count the marks held
// (at most 14); below them 14 two-bit marks, the newest in bits 26-27.
constexpr int kMoveMarks = 14;
constexpr uint8_t kMoveUnchanged = 0;       // first, or after a rise or an unchanged mark
constexpr uint8_t kMoveUnchangedDown = 1;   // unchanged after a fall
constexpr uint8_t kMoveUp = 2;
constexpr uint8_t kMoveDown = 3;
constexpr uint8_t kMoveFirst = 4;  // unpacked only: the oldest mark, with nothing before it
constexpr uint8_t kMoveEmpty = 5;  // unpacked only: a place that holds no mark

// The history word with `mark` pushed as the newest.
uint32_t ssstate_push_move(uint32_t word, uint8_t mark);
// Pushes the move of a trade at `price` against the stock's last price (or,
// without one, its previous close). Call before the price becomes the last.
void ssstate_push_trade_move(ss_stock* stock, uint32_t price);
// Pushes the move of `value` against the index's present value; an unchanged
// nonzero value pushes nothing.
void ssstate_push_index_move(ss_index* index, uint32_t value);
// out[0] is the newest mark; places past the count hold kMoveEmpty, and the
// oldest mark reads kMoveFirst when it is unchanged and fewer than 13 marks
// are held. Returns the count.
int ssstate_unpack_moves(uint8_t out[kMoveMarks], uint32_t word);
