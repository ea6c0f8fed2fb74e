// Trading-state names and price-movement histories. The names are a constant
// table looked up by code. A movement history is one 32-bit word per
// instrument: a 4-bit count on top and fourteen 2-bit marks below it, newest
// highest, so pushing a mark is one shift and the word can be copied and
// compared as a plain integer by the readers that draw it.
#include "ssstate.h"

#include "ssmodel.h"

namespace {

constexpr uint32_t kNoPrice = 0xFFFFFFFFu;
constexpr int kCountShift = 28;
constexpr int kNewestShift = 26;
constexpr uint32_t kMarksMask = (1u << kNewestShift) - 1;  // the 13 older places after a shift
constexpr int kFirstMarkLimit = 13;  // below this many marks the oldest one has no predecessor

struct state_name {
  uint32_t code;
  const char* short_name;
  const char* long_name;
};

const state_name kStates[] = {
    {0, "", "NONE"},
    {10, "PRO", "PRE-OPEN"},
    {20, "OPN", "OPEN"},
    {30, "PRC", "PRE-CSPA"},
    {40, "CSP", "CSPA"},
    {50, "ADJ", "ADJUST"},
    {60, "ADO", "ADJUST-ON"},
    {70, "ENQ", "ENQUIRE"},
    {80, "PUR", "PURGE-ORDERS"},
    {90, "SYS", "SYS-MAINT"},
    {100, "LTE", "LATE-TRADING"},
    {110, "PNT", "PRE-NIGHT-TRADING"},
    {120, "ONT", "OPEN-NIGHT-TRADING"},
    {130, "CLO", "CLOSE"},
    {140, "SUS", "SUSPEND"},
    {141, "PRN", "PRE-NOTICE"},
    {142, "ABB", "ABB-AUCTION"},
    {143, "HLT", "TRADING-HALT"},
    {144, "OVM", "OPEN-VMB"},
    {145, "WVM", "WAIT-VMB"},
    {146, "REG", "REG-HALT"},
    {147, "INT", "INTERNATIONAL-HALT"},
};

const state_name kUnknownState = {0, "???", "UNKNOWN"};

const state_name& find_state(uint32_t code) {
  for (const state_name& s : kStates)
    if (s.code == code) return s;
  return kUnknownState;
}

bool has_price(uint32_t p) { return p != 0 && p != kNoPrice; }

uint32_t mark_count(uint32_t word) {
  uint32_t n = word >> kCountShift;
  return n > (uint32_t)kMoveMarks ? (uint32_t)kMoveMarks : n;
}

}  // namespace

const char* ssstate_short_name(uint32_t code) { return find_state(code).short_name; }
const char* ssstate_long_name(uint32_t code) { return find_state(code).long_name; }

uint32_t ssstate_push_move(uint32_t word, uint8_t mark) {
  uint32_t count = mark_count(word) + 1;
  if (count > (uint32_t)kMoveMarks) count = kMoveMarks;
  return ((word >> 2) & kMarksMask) | ((uint32_t)(mark & 3) << kNewestShift) | (count << kCountShift);
}

void ssstate_push_trade_move(ss_stock* stock, uint32_t price) {
  uint8_t mark;
  if (has_price(stock->last)) {
    if (price > stock->last) {
      mark = kMoveUp;
    } else if (price < stock->last) {
      mark = kMoveDown;
    } else {
      // Unchanged keeps the direction of the newest mark: after a fall (or
      // an unchanged-after-fall) it stays "after a fall".
      uint32_t newest = mark_count(stock->movement) ? (stock->movement >> kNewestShift) & 3 : 0;
      mark = (newest & 1) ? kMoveUnchangedDown : kMoveUnchanged;
    }
  } else if (has_price(stock->close)) {
    mark = price > stock->close ? kMoveUp : price < stock->close ? kMoveDown : kMoveUnchanged;
  } else {
    // No reference at all: the first mark says nothing about direction.
    mark = kMoveUnchanged;
  }
  stock->movement = ssstate_push_move(stock->movement, mark);
}

void ssstate_push_index_move(ss_index* index, uint32_t value) {
  uint32_t ref = index->value;
  if (value == ref && ref != 0) return;
  uint8_t mark = kMoveUnchanged;
  if (ref != 0) mark = value > ref ? kMoveUp : kMoveDown;
  index->movement = ssstate_push_move(index->movement, mark);
}

int ssstate_unpack_moves(uint8_t out[kMoveMarks], uint32_t word) {
  int count = (int)mark_count(word);
  for (int i = 0; i < kMoveMarks; i++)
    out[i] = i < count ? (uint8_t)((word >> (kNewestShift - 2 * i)) & 3) : kMoveEmpty;
  if (count > 0 && count < kFirstMarkLimit && out[count - 1] == kMoveUnchanged) out[count - 1] = kMoveFirst;
  return count;
}
