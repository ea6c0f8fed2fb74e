// Cut-over tests on either side of every date (the last second before and
// the first at or after), the bad index-tick window, the exchange day start
// and the trade-condition rewrite in both directions. Times are packed here
// by the documented bit layout, independently of the time module.
#include "kludge.h"

#include <gtest/gtest.h>

#include <string>

#include "log.h"
#include "testlog.h"

namespace {

constexpr ss_time at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return (static_cast<ss_time>(year - 1970) << 26) | (static_cast<ss_time>(month) << 22) |
         (static_cast<ss_time>(day) << 17) | static_cast<ss_time>(hour * 3600 + minute * 60 + second);
}

class Kludge : public ::testing::Test {
 protected:
  // The model starts the cut-over dates before the time module, so the
  // tests do too.
  static void SetUpTestSuite() {
    start_runtime(TestStderr::kOn);
    kludge_init();
  }
};

struct DatedCase {
  ss_time t;
  int want;
};

void expect_cases(const char* what, int (*test)(ss_time), std::initializer_list<DatedCase> cases) {
  for (const DatedCase& c : cases) {
    SCOPED_TRACE(testing::Message() << what << " " << std::hex << c.t);
    EXPECT_EQ(test(c.t), c.want);
  }
}

TEST_F(Kludge, Within20070501) {
  expect_cases("within_20070501", kludge_within_20070501,
               {{at(2007, 4, 30, 23, 59, 59), 0},
                {at(2007, 5, 1), 1},
                {at(2007, 6, 15, 12), 1},
                {at(2007, 7, 26, 23, 59, 59), 1},
                {at(2007, 7, 27), 0},
                {at(2007, 7, 27, 23, 59, 59), 0},
                {at(2006, 5, 1), 0},
                {0, 0}});
}

TEST_F(Kludge, After20080304) {
  expect_cases("after_20080304", kludge_after_20080304,
               {{at(2008, 3, 3, 23, 59, 59), 0},
                {at(2008, 3, 4), 1},
                {at(2008, 3, 4, 23, 59, 59), 1},
                {at(2014, 1, 1), 1},
                {at(1970, 1, 1), 0}});
}

TEST_F(Kludge, Before20090610WithTwoExactMoments) {
  expect_cases("before_20090610", kludge_before_20090610,
               {{at(2009, 6, 9, 23, 59, 59), 1},
                {at(2009, 6, 10), 0},
                {at(2009, 6, 14, 23, 59, 59), 0},
                {at(2009, 6, 15), 1},
                {at(2009, 6, 15, 0, 0, 1), 0},
                {at(2009, 6, 15, 23, 59, 59), 0},
                {at(2009, 6, 16), 1},
                {at(2009, 6, 16, 0, 0, 1), 0},
                {at(2009, 6, 17), 0},
                {at(2008, 12, 31, 12), 1}});
}

TEST_F(Kludge, Within20090612IncludesTheWholeLastDay) {
  expect_cases("within_20090612", kludge_within_20090612,
               {{at(2009, 6, 11, 23, 59, 59), 0},
                {at(2009, 6, 12), 1},
                {at(2009, 6, 18, 9, 30), 1},
                {at(2009, 6, 23), 1},
                {at(2009, 6, 23, 23, 59, 59), 1},
                {at(2009, 6, 24), 0},
                {at(2010, 6, 12), 0}});
}

TEST_F(Kludge, Before20100606) {
  expect_cases("before_20100606", kludge_before_20100606,
               {{at(2010, 6, 5, 23, 59, 59), 1}, {at(2010, 6, 6), 0}, {at(2010, 6, 6, 12), 0}, {at(2009, 7, 1), 1}});
}

TEST_F(Kludge, MainIndexTicksInTheBadWindow) {
  const ss_time inside = at(2010, 6, 28, 10, 13, 30);
  struct Case {
    ss_time t;
    const char* code;
    int want;
  };
  const Case cases[] = {
      {at(2010, 6, 28, 10, 13, 19), "XJO", 0},
      {at(2010, 6, 28, 10, 13, 20), "XJO", 1},
      {at(2010, 6, 28, 10, 13, 40), "XJO", 1},
      {at(2010, 6, 28, 10, 13, 41), "XJO", 0},
      {at(2010, 6, 27, 10, 13, 30), "XJO", 0},
      {at(2010, 6, 29, 10, 13, 30), "XJO", 0},
      {at(2011, 6, 28, 10, 13, 30), "XJO", 0},
      {inside, "XAO", 1},
      {inside, "XAT", 1},
      {inside, "XKO", 1},
      {inside, "XLD", 1},
      {inside, "XMD", 1},
      {inside, "XNJ", 1},
      {inside, "XTO", 1},
      // Whole codes only: nothing shorter, longer, joined or in another case.
      {inside, "", 0},
      {inside, "X", 0},
      {inside, "XA", 0},
      {inside, ",", 0},
      {inside, "O,X", 0},
      {inside, "XAO,XAT", 0},
      {inside, "XAOX", 0},
      {inside, "XJO ", 0},
      {inside, "xjo", 0},
      {inside, "XPJ", 0},
      {inside, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.t << " " << (c.code ? c.code : "(null)"));
    EXPECT_EQ(kludge_is_main_index(c.t, c.code), c.want);
  }
}

TEST_F(Kludge, DayStartMovesFromEightToSevenIn2013) {
  struct Case {
    ss_time t, want;
  };
  const Case cases[] = {
      {at(2013, 1, 31), at(2013, 1, 31, 8)},    {at(2013, 1, 31, 23, 59, 59), at(2013, 1, 31, 8)},
      {at(2013, 2, 1), at(2013, 2, 1, 7)},      {at(2013, 2, 1, 6, 30), at(2013, 2, 1, 7)},
      {at(2013, 2, 1, 16), at(2013, 2, 1, 7)},  {at(2012, 2, 29, 12), at(2012, 2, 29, 8)},
      {at(2014, 2, 10, 9), at(2014, 2, 10, 7)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.t);
    EXPECT_EQ(kludge_day_start(c.t), c.want);
  }
}

TEST_F(Kludge, EventsInsteadOfTradesOnOneDay) {
  struct Case {
    int32_t exchange;
    ss_time date;
    int want;
  };
  const Case cases[] = {
      {0, at(2014, 2, 10), 1},
      {0, at(2014, 2, 10, 23, 59, 59), 1},
      {0, at(2014, 2, 9, 23, 59, 59), 0},
      {0, at(2014, 2, 11), 0},
      {1, at(2014, 2, 10), 0},
      {2, at(2014, 2, 10), 0},
      {3, at(2014, 2, 10), 0},
      {0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.exchange << " " << std::hex << c.date);
    EXPECT_EQ(kludge_is_20140210(c.exchange, c.date), c.want);
  }
}

TEST_F(Kludge, RefetchPeriodLimits) {
  EXPECT_EQ(kludge_date_20140211(), at(2014, 2, 11));
  EXPECT_EQ(kludge_date_20140221(), at(2014, 2, 21));
  EXPECT_EQ(kludge_date_20140429(), at(2014, 4, 29));
  EXPECT_EQ(kludge_date_20140515(), at(2014, 5, 15));
}

constexpr uint64_t bit(int n) { return 1ull << n; }

// Masks that both layouts can carry: the wire form read in gives the model
// form, and the model form written out gives the wire form back.
TEST_F(Kludge, TradeConditionsBothWays) {
  struct Case {
    int32_t exchange;
    const char* code;
    uint64_t wire, model;
  };
  const Case cases[] = {
      {0, "BHP", 0, 0},
      {0, "BHP", bit(4), bit(63)},
      {0, "BHP", bit(4) | bit(0) | bit(48) | bit(32), bit(63) | bit(0) | bit(48) | bit(32)},
      {0, "BHP", bit(7) | bit(20), bit(7) | bit(20)},
      {3, "XYZ", bit(4), bit(63)},
      {3, "XYZ", bit(4) | bit(5) | bit(60), bit(63) | bit(5) | bit(60)},
      {3, "XYZ_CX", bit(4), bit(63)},  // "_CX" matters on exchange 0 only
      {0, "ABC_CX", bit(48), bit(62)},
      {0, "ABC_CX", bit(32), bit(61)},
      {0, "ABC_CX", bit(48) | bit(32) | bit(4) | bit(1), bit(62) | bit(61) | bit(4) | bit(1)},
      {0, "_CX", bit(32), bit(61)},
      {1, "AIR", bit(4) | bit(48) | bit(32), bit(4) | bit(48) | bit(32)},
      {2, "GOLD", bit(60) | bit(3), bit(60) | bit(3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.exchange << ":" << c.code << std::hex << " wire " << c.wire);
    uint64_t in = c.wire;
    uint64_t mark = log_count();
    kludge_trade_in(c.exchange, c.code, &in);
    EXPECT_EQ(in, c.model);
    EXPECT_EQ(kludge_trade(c.exchange, c.code, c.model), c.wire);
    EXPECT_EQ(logged_since(mark), "");
  }
}

// Received masks that are rewritten one way only.
TEST_F(Kludge, TradeConditionsInOnly) {
  struct Case {
    int32_t exchange;
    const char* code;
    uint64_t wire, model;
  };
  const Case cases[] = {
      // One misreported mask on exchange 0 is replaced whole, for any code.
      {0, "BHP", 0x800000000100ull, 0x800080000001ull},
      {0, "ABC_CX", 0x800000000100ull, 0x800080000001ull},
      {0, "BHP", 0x800000000100ull | bit(4), 0x800000000100ull | bit(63)},
      {3, "XYZ", 0x800000000100ull, 0x800000000100ull},
      // A flag already in the model bits stays.
      {0, "BHP", bit(63) | bit(4), bit(63)},
      {3, "XYZ", bit(62), bit(62)},
      {1, "AIR", bit(63), bit(63)},
      {7, "ODD", bit(4), bit(4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.exchange << ":" << c.code << std::hex << " wire " << c.wire);
    uint64_t in = c.wire;
    kludge_trade_in(c.exchange, c.code, &in);
    EXPECT_EQ(in, c.model);
  }
}

// Model masks whose flags the exchange's wire layout cannot carry: they are
// dropped and named in an ERROR line.
TEST_F(Kludge, TradeConditionsOutDropsWhatTheWireCannotCarry) {
  struct Case {
    int32_t exchange;
    const char* code;
    uint64_t model, wire;
    const char* log;  // every line expected, newest first
  };
  const Case cases[] = {
      {3, "XYZ", bit(63), bit(4), ""},
      {3, "XYZ", bit(63) | bit(62) | bit(61) | bit(9), bit(4) | bit(9),
       "can't kludge AXO:XYZ large principle\ncan't kludge AXO:XYZ large portfolio\n"},
      {0, "BHP", bit(61), 0, "can't kludge ASX:BHP large portfolio\n"},
      {0, "BHP", bit(62) | bit(4), bit(4), "can't kludge ASX:BHP large principle\n"},
      {0, "ABC_CX", bit(63) | bit(62), bit(48), "can't kludge ASX:ABC_CX OTC trade\n"},
      {0, "ABC_CX", bit(48) | bit(62), bit(48), "can't kludge ASX:ABC_CX quote board trade\n"},
      {0, "ABC_CX", bit(32) | bit(48) | bit(2), bit(2),
       "can't kludge ASX:ABC_CX bulletin board trade\ncan't kludge ASX:ABC_CX quote board trade\n"},
      {1, "AIR", bit(61) | bit(5), bit(5), "can't kludge NZX:AIR large portfolio trade\n"},
      {2, "GOLD", bit(61) | bit(62) | bit(63), 0, "can't kludge GLB:GOLD large portfolio large principle OTC trade\n"},
      {1, "AIR", bit(63) | bit(4), bit(4), "can't kludge NZX:AIR OTC trade\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.exchange << ":" << c.code << std::hex << " model " << c.model);
    uint64_t mark = log_count();
    EXPECT_EQ(kludge_trade(c.exchange, c.code, c.model), c.wire);
    EXPECT_EQ(logged_since(mark), c.log);
  }
}

}  // namespace
