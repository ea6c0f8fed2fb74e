// Trading-state names as a table, and the price-movement history: the packing
// checked against a plain list of marks (newest first, at most 14), the mark
// rules of trades and index values, and the unpacking rules of the first and
// empty places.
#include "ssstate.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

#include "ssmodel.h"

namespace {

TEST(State, Names) {
  struct {
    uint32_t code;
    const char* short_name;
    const char* long_name;
  } cases[] = {
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
      {1, "???", "UNKNOWN"},
      {15, "???", "UNKNOWN"},
      {139, "???", "UNKNOWN"},
      {148, "???", "UNKNOWN"},
      {0xFFFFFFFF, "???", "UNKNOWN"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_STREQ(c.short_name, ssstate_short_name(c.code));
    EXPECT_STREQ(c.long_name, ssstate_long_name(c.code));
  }
}

// The marks of a word, newest first, without the unpacking extras.
std::vector<int> raw_marks(uint32_t word) {
  uint8_t out[kMoveMarks];
  int n = ssstate_unpack_moves(out, word);
  std::vector<int> v;
  for (int i = 0; i < n; i++) v.push_back(out[i] == kMoveFirst ? kMoveUnchanged : out[i]);
  return v;
}

TEST(State, PushMatchesPlainList) {
  std::mt19937 rng(7);
  uint32_t word = 0;
  std::deque<int> ref;  // newest first
  for (int i = 0; i < 200; i++) {
    int mark = (int)(rng() % 4);
    word = ssstate_push_move(word, (uint8_t)mark);
    ref.push_front(mark);
    if (ref.size() > (size_t)kMoveMarks) ref.pop_back();
    ASSERT_EQ(std::vector<int>(ref.begin(), ref.end()), raw_marks(word)) << "push " << i;
    ASSERT_EQ(ref.size(), word >> 28);
  }
}

TEST(State, TradeMoves) {
  // Four rising prices, the first above the previous close.
  ss_stock s{};
  s.close = 1000;
  for (uint32_t p : {1010u, 1020u, 1030u, 1040u}) {
    ssstate_push_trade_move(&s, p);
    s.last = p;
  }
  EXPECT_EQ(4u, s.movement >> 28);
  EXPECT_EQ((std::vector<int>{2, 2, 2, 2}), raw_marks(s.movement));

  // Each row: last price (0: none), previous close, newest mark before (-1:
  // empty history), the trade price, and the mark pushed.
  struct {
    uint32_t last, close;
    int before;
    uint32_t price;
    int want;
  } cases[] = {
      {1000, 0, -1, 1001, kMoveUp},
      {1000, 0, -1, 999, kMoveDown},
      {1000, 0, kMoveDown, 1000, kMoveUnchangedDown},
      {1000, 0, kMoveUnchangedDown, 1000, kMoveUnchangedDown},
      {1000, 0, kMoveUp, 1000, kMoveUnchanged},
      {1000, 0, kMoveUnchanged, 1000, kMoveUnchanged},
      {1000, 0, -1, 1000, kMoveUnchanged},
      {1000, 5000, -1, 1001, kMoveUp},  // the last price wins over the close
      {0, 1000, -1, 1001, kMoveUp},
      {0, 1000, -1, 999, kMoveDown},
      {0, 1000, kMoveDown, 1000, kMoveUnchanged},
      {0xFFFFFFFF, 1000, -1, 999, kMoveDown},  // all ones is no price
      {0, 0, -1, 1000, kMoveUnchanged},        // no reference at all
      {0, 0xFFFFFFFF, -1, 1000, kMoveUnchanged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.last << " " << c.close << " " << c.before << " " << c.price);
    ss_stock t{};
    t.last = c.last;
    t.close = c.close;
    if (c.before >= 0) t.movement = ssstate_push_move(0, (uint8_t)c.before);
    ssstate_push_trade_move(&t, c.price);
    std::vector<int> m = raw_marks(t.movement);
    ASSERT_EQ(c.before >= 0 ? 2u : 1u, m.size());
    EXPECT_EQ(c.want, m[0]);
    EXPECT_EQ(c.last, t.last);  // the caller moves the last price
  }
}

TEST(State, IndexMoves) {
  ss_index x{};
  ssstate_push_index_move(&x, 5000);  // no present value: unchanged mark
  EXPECT_EQ((std::vector<int>{kMoveUnchanged}), raw_marks(x.movement));
  x.value = 5000;
  uint32_t before = x.movement;
  ssstate_push_index_move(&x, 5000);  // the same nonzero value: nothing
  EXPECT_EQ(before, x.movement);
  ssstate_push_index_move(&x, 5001);
  x.value = 5001;
  ssstate_push_index_move(&x, 4000);
  x.value = 4000;
  ssstate_push_index_move(&x, 0);
  EXPECT_EQ((std::vector<int>{kMoveDown, kMoveDown, kMoveUp, kMoveUnchanged}), raw_marks(x.movement));
  x.value = 0;
  ssstate_push_index_move(&x, 0);  // zero against no value still pushes
  EXPECT_EQ(5u, x.movement >> 28);
}

TEST(State, Unpack) {
  auto word_of = [](std::vector<int> oldest_first) {
    uint32_t w = 0;
    for (int m : oldest_first) w = ssstate_push_move(w, (uint8_t)m);
    return w;
  };
  auto unpack = [](uint32_t w) {
    uint8_t out[kMoveMarks];
    int n = ssstate_unpack_moves(out, w);
    return std::make_pair(n, std::vector<int>(out, out + kMoveMarks));
  };
  std::vector<int> empty(kMoveMarks, kMoveEmpty);
  EXPECT_EQ(std::make_pair(0, empty), unpack(0));

  std::vector<int> want(kMoveMarks, kMoveEmpty);
  want[0] = kMoveUp;
  want[1] = kMoveFirst;  // oldest unchanged, fewer than 13 held
  EXPECT_EQ(std::make_pair(2, want), unpack(word_of({kMoveUnchanged, kMoveUp})));

  want[1] = kMoveDown;  // oldest not unchanged: as it is
  EXPECT_EQ(std::make_pair(2, want), unpack(word_of({kMoveDown, kMoveUp})));

  // 12 held: the oldest unchanged one still reads as first; 13 or 14: not.
  for (int n : {12, 13, 14, 20}) {
    SCOPED_TRACE(n);
    std::vector<int> marks(n, kMoveUp);
    marks[0] = kMoveUnchanged;
    if (n > kMoveMarks) marks[n - kMoveMarks] = kMoveUnchanged;
    auto [count, out] = unpack(word_of(marks));
    int held = n > kMoveMarks ? kMoveMarks : n;
    EXPECT_EQ(held, count);
    EXPECT_EQ(held < 13 ? kMoveFirst : kMoveUnchanged, out[held - 1]);
    for (int i = 0; i < held - 1; i++) EXPECT_EQ(kMoveUp, out[i]);
    for (int i = held; i < kMoveMarks; i++) EXPECT_EQ(kMoveEmpty, out[i]);
  }
  // A corrupt count of 15 reads as 14.
  EXPECT_EQ(14, unpack(0xF0000000u).first);
}

}  // namespace
