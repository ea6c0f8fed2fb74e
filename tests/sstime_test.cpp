// Packed times against C++20 <chrono> for every day of the packed range, the
// codec's delta invariant over a seeded sample, packing and splitting of bad
// values, the formatters, every parser under fixed POSIX zone strings
// (southern-hemisphere summer included), the clock base with a fake wall
// clock, and the base and format buffers under threads.
#include "sstime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "testlog.h"

namespace {

using namespace std::chrono;

// The documented bit layout, written out independently of the module.
constexpr ss_time at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return (static_cast<ss_time>(year - 1970) << 26) | (static_cast<ss_time>(month) << 22) |
         (static_cast<ss_time>(day) << 17) | static_cast<ss_time>(hour * 3600 + minute * 60 + second);
}

ss_time from_chrono(sys_days d, int32_t sod = 0) {
  year_month_day ymd{d};
  return at(int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day()))) + static_cast<ss_time>(sod);
}

time_t utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  sys_seconds s = sys_days{std::chrono::year{year} / month / day} + hours{hour} + minutes{minute} + seconds{second};
  return static_cast<time_t>(s.time_since_epoch().count());
}

std::string fmt(ss_time t) { return sstime_format_datetime(t); }

time_t g_wall = 0;
time_t fake_wall(void) { return g_wall; }

// Sets the zone rules and the wall clock, then the base from them.
void use_zone(const char* tz, time_t wall) {
  setenv("TZ", tz, 1);
  tzset();
  g_wall = wall;
  sstime_set_test_wallclock(fake_wall);
  ASSERT_EQ(sstime_set_base(1), 0);
}

constexpr const char* kSydney = "AEST-10AEDT,M10.1.0,M4.1.0/3";
constexpr const char* kAuckland = "NZST-12NZDT,M9.5.0,M4.1.0/3";

class Sstime : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    start_runtime(TestStderr::kOn);
    setenv("TZ", "UTC0", 1);
    tzset();
    ASSERT_EQ(sstime_init(), 0);
  }
  void TearDown() override { sstime_set_test_wallclock(nullptr); }
};

// --- Calendar against <chrono> ----------------------------------------------

TEST_F(Sstime, EveryDayAgreesWithChrono) {
  const sys_days first = sys_days{1970y / January / 1};
  const sys_days final_day = sys_days{2033y / December / 31};
  const sys_days lo = first, hi = final_day;
  ss_time prev = 0;
  int32_t prev_week = -1;
  const int day_steps[] = {1, -1, 7, -7, 29, -31, 365, -366, 1000, -1000, 20000};
  const int month_steps[] = {1, -1, 12, -13, 25};
  for (sys_days d = first; d <= final_day; d += days{1}) {
    year_month_day ymd{d};
    const int y = int(ymd.year()), m = int(unsigned(ymd.month())), dd = int(unsigned(ymd.day()));
    const int32_t sod = static_cast<int32_t>((d - first).count() * 7919 % 86400);  // varied times of day
    const ss_time t = at(y, m, dd) + sod;
    ASSERT_EQ(sstime_pack_date(dd, m, y), at(y, m, dd)) << y << "-" << m << "-" << dd;
    ASSERT_EQ(sstime_pack(sod % 60, sod / 60 % 60, sod / 3600, dd, m, y), t);

    sstime_parts p;
    ASSERT_EQ(sstime_unpack(&p, t), 0);
    const weekday wd{d};
    const year_month_day_last ml{ymd.year() / ymd.month() / std::chrono::last};
    ASSERT_EQ(p.year, y);
    ASSERT_EQ(p.mon, m);
    ASSERT_EQ(p.mday, dd);
    ASSERT_EQ(p.hour * 3600 + p.min * 60 + p.sec, sod);
    ASSERT_EQ(p.wday, int(wd.c_encoding())) << y << "-" << m << "-" << dd;
    ASSERT_EQ(p.yday, (d - sys_days{ymd.year() / January / 1}).count() + 1);
    ASSERT_EQ(p.mdays, int(unsigned(ml.day())));
    ASSERT_EQ(p.leap, ymd.year().is_leap() ? 1 : 0);
    ASSERT_EQ(p.ydays, ymd.year().is_leap() ? 366 : 365);
    ASSERT_EQ(sstime_weekday(t), int(wd.c_encoding()));
    ASSERT_EQ(sstime_year_day(t), p.yday);
    ASSERT_EQ(sstime_is_weekend(t), wd == Saturday || wd == Sunday ? 1 : 0);
    ASSERT_EQ(sstime_day_number(t), (d - first).count() + 1);

    // Weeks run Saturday to Friday: the number moves on exactly on Saturdays.
    const int32_t week = sstime_week_number(t);
    if (prev_week >= 0) {
      ASSERT_EQ(week, prev_week + (wd == Saturday ? 1 : 0)) << y << "-" << m << "-" << dd;
    }
    prev_week = week;
    // Packed values sort in time order.
    if (prev) {
      ASSERT_LT(prev, t);
      ASSERT_LT(sstime_date_compare(prev, t), 0);
      ASSERT_GT(sstime_date_compare(t, prev), 0);
    }
    ASSERT_EQ(sstime_date_compare(t, at(y, m, dd, 23, 59, 59)), 0);
    prev = t;

    for (int k : day_steps) {
      const sys_days e = d + days{k};
      const ss_time want = (e < lo || e > hi) ? 0 : from_chrono(e, sod);
      ASSERT_EQ(sstime_add_days(t, k), want) << y << "-" << m << "-" << dd << " + " << k;
      ASSERT_EQ(sstime_sub_days(t, -k), want);
      if (want) {
        ASSERT_EQ(sstime_diff_days(want, t), k);
      }
    }
    for (int k : month_steps) {
      const year_month ym = ymd.year() / ymd.month() + months{k};
      ss_time want = 0;
      if (ym.year() >= 1970y && ym.year() <= 2033y) {
        const unsigned last_of = unsigned(year_month_day_last{ym / std::chrono::last}.day());
        want = from_chrono(sys_days{ym / std::min(unsigned(dd), last_of)}, sod);
      }
      ASSERT_EQ(sstime_add_months(t, k), want) << y << "-" << m << "-" << dd << " + " << k << " months";
    }
    if (!(m == 2 && dd == 29)) {
      ASSERT_EQ(sstime_add_years(t, 1), y < 2033 ? at(y + 1, m, dd) + sod : 0);
      ASSERT_EQ(sstime_add_years(t, -1), y > 1970 ? at(y - 1, m, dd) + sod : 0);
    }
  }
}

// The codec sends a time as seconds from a reference and adds them back.
TEST_F(Sstime, DeltaRoundTripsOverSeededSample) {
  std::mt19937 rng(20140210);
  const sys_days first = sys_days{1970y / January / 1};
  const int32_t total = (sys_days{2033y / December / 31} - first).count() + 1;
  std::uniform_int_distribution<int32_t> day(0, total - 1), sod(0, 86399), near(-(1 << 27), 1 << 27);
  auto instant = [&](int32_t dn, int32_t s) { return first + days{dn} + seconds{s}; };
  for (int i = 0; i < 200000; i++) {
    const int32_t tdn = day(rng), ts = sod(rng);
    const ss_time t = from_chrono(first + days{tdn}, ts);
    int32_t rdn, rs;
    if (i % 2) {  // anywhere in the range
      rdn = day(rng);
      rs = sod(rng);
    } else {  // within the delta forms' reach of t
      int64_t r = int64_t(tdn) * 86400 + ts + near(rng);
      r = std::clamp<int64_t>(r, 0, int64_t(total) * 86400 - 1);
      rdn = int32_t(r / 86400);
      rs = int32_t(r % 86400);
    }
    const ss_time r = from_chrono(first + days{rdn}, rs);
    const int32_t d = sstime_diff_seconds(t, r);
    ASSERT_EQ(d, (instant(tdn, ts) - instant(rdn, rs)).count()) << fmt(t) << " - " << fmt(r);
    ASSERT_EQ(sstime_add_seconds(r, d), t) << fmt(r) << " + " << d;
  }
  // Times of day without a date round-trip among themselves.
  for (int i = 0; i < 10000; i++) {
    const ss_time t = static_cast<ss_time>(sod(rng) % 86399 + 1), r = static_cast<ss_time>(sod(rng) % 86399 + 1);
    ASSERT_EQ(sstime_add_seconds(r, sstime_diff_seconds(t, r)), t);
  }
}

// --- Packing and splitting -------------------------------------------------

TEST_F(Sstime, PackChecksFieldsInOrderAndLowersTheDay) {
  struct Case {
    int sec, min, hour, day, month, year;
    ss_time want;
    const char* message;  // the ERROR text, or null
  } cases[] = {
      {0, 0, 0, 31, 2, 2012, at(2012, 2, 29), nullptr},
      {0, 0, 0, 31, 2, 2013, at(2013, 2, 28), nullptr},
      {0, 0, 0, 31, 4, 2014, at(2014, 4, 30), nullptr},
      {59, 59, 23, 31, 12, 2033, at(2033, 12, 31, 23, 59, 59), nullptr},
      {0, 0, 0, 1, 1, 1970, at(1970, 1, 1), nullptr},
      {0, 0, 24, 1, 1, 2014, 0, "bad hour 24, should be in range 0-23"},
      {60, 0, 0, 1, 1, 2014, 0, "bad seconds 60, should be in range 0-59"},
      {0, -1, 0, 1, 1, 2014, 0, "bad minutes -1, should be in range 0-59"},
      {0, 0, 0, 0, 1, 2014, 0, "bad day 0, should be in range 1-31"},
      {0, 0, 0, 32, 1, 2014, 0, "bad day 32, should be in range 1-31"},
      {0, 0, 0, 1, 13, 2014, 0, "bad month 13, should be in range 1-12"},
      {0, 0, 0, 1, 1, 2034, 0, "bad year 2034\n"},
      {0, 0, 0, 1, 1, 1969, 0, "bad year 1969, should be in range 1970-2033"},
      {99, 99, 99, 0, 0, 0, 0, "bad seconds 99"},  // the first bad field only
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.min
                                    << ":" << c.sec);
    const uint64_t before = log_count();
    EXPECT_EQ(sstime_pack(c.sec, c.min, c.hour, c.day, c.month, c.year), c.want);
    const std::string logged = logged_since(before);
    if (c.message) {
      EXPECT_NE(logged.find(c.message), std::string::npos) << logged;
      EXPECT_EQ(log_count() - before, 1u) << logged;
    } else {
      EXPECT_EQ(logged, "");
    }
  }
}

TEST_F(Sstime, PackDateRefusesWhatWouldWrap) {
  struct Case {
    int day, month, year;
    ss_time want;
  } cases[] = {
      {10, 2, 2014, at(2014, 2, 10)}, {30, 2, 2000, at(2000, 2, 29)}, {29, 2, 1900 + 100, at(2000, 2, 29)},
      {1, 1, 2050, 0},                {1, 1, 1969, 0},                {0, 3, 2014, 0},
      {5, 0, 2014, 0},                {5, 13, 2014, 0},               {-1, 3, 2014, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(sstime_pack_date(c.day, c.month, c.year), c.want) << c.year << "-" << c.month;
}

TEST_F(Sstime, UnpackRefusesInvalidAndRepairsBadFields) {
  sstime_parts p;
  // 0 and the fifteen largest values split into nothing.
  for (ss_time t : {0u, 0xFFFFFFF1u, 0xFFFFFFF8u, 0xFFFFFFFFu}) {
    memset(&p, 0x5a, sizeof p);
    EXPECT_EQ(sstime_unpack(&p, t), -1) << std::hex << t;
    const sstime_parts zero{};
    EXPECT_EQ(memcmp(&p, &zero, sizeof p), 0) << std::hex << t;
  }
  // A time of day without a date.
  ASSERT_EQ(sstime_unpack(&p, 10 * 3600 + 30 * 60 + 5), 0);
  EXPECT_EQ(p.year, 1970);
  EXPECT_EQ(p.mon, 0);
  EXPECT_EQ(p.mday, 0);
  EXPECT_EQ(p.hour, 10);
  EXPECT_EQ(p.min, 30);
  EXPECT_EQ(p.sec, 5);

  struct Bad {
    ss_time t;
    int rc, hour, mday, mon;
    const char* message;
  } bad[] = {
      {90000, 0, 0, 0, 0, "hours are 25 in 90000"},                   // hour alone: repaired, not failed
      {at(2014, 3, 1) & ~(31u << 17), -1, 0, 1, 3, "mday is 0 in"},  // day 0
      {at(2014, 1, 5) & ~(15u << 22), -1, 0, 5, 1, "month is 0 in"},  // month 0
      {at(2014, 1, 5) | (13u << 22), -1, 0, 5, 1, "month is 13 in"},
      {0xFFFFFFF0u, -1, 0, 31, 1, "month is 15 in"},  // the largest value that is not invalid
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(testing::Message() << std::hex << b.t);
    const uint64_t before = log_count();
    EXPECT_EQ(sstime_unpack(&p, b.t), b.rc);
    EXPECT_EQ(p.hour, b.hour);
    EXPECT_EQ(p.mday, b.mday);
    EXPECT_EQ(p.mon, b.mon);
    const std::string logged = logged_since(before);
    EXPECT_NE(logged.find(b.message), std::string::npos) << logged;
    EXPECT_NE(logged.find("problem"), std::string::npos) << logged;
  }
}

TEST_F(Sstime, FieldReplacement) {
  const ss_time t = at(2014, 2, 10, 10, 30, 15);
  struct Case {
    const char* what;
    ss_time got, want;
  } cases[] = {
      {"with_time_of_day", sstime_with_time_of_day(t, at(2001, 5, 5, 8, 1, 2)), at(2014, 2, 10, 8, 1, 2)},
      {"with_date", sstime_with_date(t, at(2001, 5, 5, 8, 1, 2)), at(2001, 5, 5, 10, 30, 15)},
      {"with_date of 0", sstime_with_date(t, 0), 10 * 3600 + 30 * 60 + 15},
      {"at_hour", sstime_at_hour(t, 16), at(2014, 2, 10, 16)},
      {"set_hour", sstime_set_hour(t, 8), at(2014, 2, 10, 8, 30, 15)},
      {"set_minute", sstime_set_minute(t, 0), at(2014, 2, 10, 10, 0, 15)},
      {"set_second", sstime_set_second(t, 59), at(2014, 2, 10, 10, 30, 59)},
      {"set_day unclamped", sstime_set_day(t, 31), at(2014, 2, 31, 10, 30, 15)},
      {"set_month", sstime_set_month(t, 12), at(2014, 12, 10, 10, 30, 15)},
      {"set_hour beyond 17 bits", sstime_set_hour(t, 40), 0},
      {"set_fields hour", sstime_set_fields(t, 0, 0, 8, -1, -1, -1), at(2014, 2, 10, 8)},
      {"set_fields date", sstime_set_fields(t, -1, -1, -1, 31, 1, 2013), at(2013, 1, 31, 10, 30, 15)},
      {"set_fields unclamped", sstime_set_fields(t, -1, -1, -1, 30, -1, -1), at(2014, 2, 30, 10, 30, 15)},
      {"set_fields of 0", sstime_set_fields(0, 0, 0, 8, -1, -1, -1), 8 * 3600},
      {"set_fields year 2050", sstime_set_fields(t, -1, -1, -1, -1, -1, 2050), 0},
      {"seconds_of_day", static_cast<ss_time>(sstime_seconds_of_day(5, 30, 10)), 10 * 3600 + 30 * 60 + 5},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what << ": " << fmt(c.got);
}

// --- Arithmetic edges --------------------------------------------------------

TEST_F(Sstime, ArithmeticEdges) {
  struct Case {
    const char* what;
    ss_time got, want;
  } cases[] = {
      {"day forward over a year end", sstime_add_seconds(at(2013, 12, 31, 23), 86400), at(2014, 1, 1, 23)},
      {"second back over a leap day", sstime_add_seconds(at(2012, 3, 1), -1), at(2012, 2, 29, 23, 59, 59)},
      {"roll into next day", sstime_add_seconds(at(2012, 2, 28, 23, 59, 59), 1), at(2012, 2, 29)},
      {"days and rest", sstime_add_seconds(at(2013, 12, 31, 23), 3 * 86400 + 7200), at(2014, 1, 4, 1)},
      {"adding to 0", sstime_add_seconds(0, 30), 30},
      {"adding 0", sstime_add_seconds(at(2014, 2, 10, 1), 0), at(2014, 2, 10, 1)},
      {"time of day wraps", sstime_add_seconds(23 * 3600, 7200), 3600},
      {"past 2033", sstime_add_seconds(at(2033, 12, 31, 23, 59, 59), 1), 0},
      {"before 1970", sstime_add_seconds(at(1970, 1, 1), -1), 0},
      {"invalid is 0", sstime_add_seconds(0xFFFFFFFFu, 0), 0},
      {"add_days of 0", sstime_add_days(0, 5), 0},
      {"months lower the day", sstime_add_months(at(2013, 1, 31, 9), 1), at(2013, 2, 28, 9)},
      {"months back over a year", sstime_add_months(at(2013, 3, 31), -13), at(2012, 2, 29)},
      {"years past 2033", sstime_add_years(at(2033, 6, 1), 1), 0},
      {"years keep 29 February", sstime_add_years(at(2012, 2, 29), 1), at(2013, 2, 29)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what << ": " << fmt(c.got);

  EXPECT_EQ(sstime_week_number(at(2014, 2, 8)), sstime_week_number(at(2014, 2, 10)));
  EXPECT_EQ(sstime_week_number(at(2014, 2, 7)), sstime_week_number(at(2014, 2, 8)) - 1);
  EXPECT_NE(sstime_month_key(at(2013, 12, 31)), sstime_month_key(at(2014, 1, 1)));
  EXPECT_EQ(sstime_month_key(at(2013, 5, 1)), sstime_month_key(at(2014, 4, 1)));
  EXPECT_EQ(sstime_diff_seconds(at(2014, 2, 10, 10), at(2014, 2, 10, 9, 30)), 1800);
  EXPECT_EQ(sstime_is_weekend(0), 0);
}

// Sums that stay within the day and sums that just leave it, on the dates
// where leaving it moves the month, the year or the range's ends.
TEST_F(Sstime, SecondsAddedAroundTheDayEndsAgreeWithChrono) {
  const sys_days first = sys_days{1970y / January / 1}, final_day = sys_days{2033y / December / 31};
  const sys_days dates[] = {first,
                            sys_days{2012y / February / 28},
                            sys_days{2012y / February / 29},
                            sys_days{2013y / February / 28},
                            sys_days{2013y / December / 31},
                            sys_days{2014y / January / 31},
                            sys_days{2014y / February / 10},
                            final_day};
  for (sys_days d : dates) {
    for (int32_t sod : {0, 1, 43200, 86398, 86399}) {
      const ss_time t = from_chrono(d, sod);
      const int32_t steps[] = {-86400, -86399, -sod - 1, -sod, -1, 1, 86399 - sod, 86400 - sod, 86399, 86400, 86401};
      for (int32_t n : steps) {
        const sys_seconds when = d + seconds{sod} + seconds{n};
        const sys_days day = floor<days>(when);
        const ss_time want =
            day < first || day > final_day ? 0 : from_chrono(day, static_cast<int32_t>((when - day).count()));
        ASSERT_EQ(sstime_add_seconds(t, n), want) << fmt(t) << " + " << n;
      }
    }
  }
  // Values no clock makes: a second of the day past its end is carried into
  // the next day only when the sum stays past it, and a day past the end of
  // its month (set without clamping) is kept while the sum stays in the day.
  const ss_time late = at(2014, 2, 10) + 100000;
  const ss_time feb30 = sstime_set_day(at(2014, 2, 1, 10), 30);
  struct Case {
    ss_time t;
    int32_t n;
    ss_time want;
  } cases[] = {
      {late, -20000, at(2014, 2, 10) + 80000},
      {late, 1, at(2014, 2, 11, 3, 46, 41)},
      {at(2014, 2, 10) + 0x1FFFF, -0x1FFFF, at(2014, 2, 10)},
      {feb30, 3600, sstime_set_day(at(2014, 2, 1, 11), 30)},
      {feb30, 86400, at(2014, 3, 3, 10)},
  };
  for (const Case& c : cases) EXPECT_EQ(sstime_add_seconds(c.t, c.n), c.want) << c.t << " + " << c.n;
}

// The days between two dates are remembered for the last pair: every order of
// asking, and every second of the day, must still get its own answer.
TEST_F(Sstime, DiffSecondsOfRepeatedDatePairsAgreeWithChrono) {
  const sys_days first = sys_days{1970y / January / 1};
  const sys_days dates[] = {first, sys_days{2014y / February / 10}, sys_days{2014y / February / 11},
                            sys_days{2026y / December / 10}, sys_days{2033y / December / 31}};
  const int32_t sods[] = {0, 1, 36000, 86399};
  auto check = [&](sys_days da, int32_t sa, sys_days db, int32_t sb) {
    const int64_t want = ((da + seconds{sa}) - (db + seconds{sb})).count();
    ASSERT_EQ(sstime_diff_seconds(from_chrono(da, sa), from_chrono(db, sb)), want)
        << fmt(from_chrono(da, sa)) << " - " << fmt(from_chrono(db, sb));
  };
  for (sys_days da : dates) {
    for (sys_days db : dates) {
      for (int32_t sa : sods) {
        for (int32_t sb : sods) {
          check(da, sa, db, sb);
          check(db, sb, da, sa);  // the pair reversed right after
          check(da, sa, db, sb);
        }
      }
    }
  }
  // A time of day has day number 0, whatever pair came before.
  const ss_time dated = at(1970, 1, 2, 0, 0, 5);  // day number 2
  EXPECT_EQ(sstime_diff_seconds(dated, 10), 2 * 86400 + 5 - 10);
  EXPECT_EQ(sstime_diff_seconds(dated, 20), 2 * 86400 + 5 - 20);
  EXPECT_EQ(sstime_diff_seconds(20, dated), -(2 * 86400 + 5 - 20));
  EXPECT_EQ(sstime_diff_seconds(at(1970, 1, 3), 0), 3 * 86400);
}

// --- Formatting --------------------------------------------------------------

TEST_F(Sstime, Formatters) {
  char dt[kSstimeDatetimeLen], d[kSstimeDateLen];
  for (ss_time none : {0u, 0xFFFFFFF1u, 0xFFFFFFFFu}) {
    EXPECT_STREQ(sstime_format_datetime(none), "-");
    EXPECT_STREQ(sstime_format_date(none), "-");
    EXPECT_STREQ(sstime_format_datetime_into(dt, none), "-");
    EXPECT_STREQ(sstime_format_date_into(d, none), "-");
  }
  const ss_time t = at(2014, 2, 10, 9, 5, 7);
  EXPECT_STREQ(sstime_format_datetime(t), "2014-02-10 09:05:07");
  EXPECT_EQ(sstime_format_datetime_into(dt, t), dt);
  EXPECT_STREQ(dt, "2014-02-10 09:05:07");
  EXPECT_STREQ(sstime_format_date(t), "2014-02-10");
  EXPECT_EQ(sstime_format_date_into(d, t), d);
  EXPECT_STREQ(d, "2014-02-10");
  EXPECT_STREQ(sstime_format_datetime(at(2033, 12, 31, 23, 59, 59)), "2033-12-31 23:59:59");

  // A bad stored value still prints, repaired; the date form says nothing
  // while the date-time form reports the problem.
  const ss_time bad = at(2014, 2, 10, 9) & ~(15u << 22);  // month 0
  uint64_t before = log_count();
  EXPECT_STREQ(sstime_format_date(bad), "2014-01-10");
  EXPECT_EQ(log_count(), before);
  EXPECT_STREQ(sstime_format_datetime(bad), "2014-01-10 09:00:00");
  EXPECT_GT(log_count(), before);
  // The quiet split does not silence the next one.
  before = log_count();
  EXPECT_EQ(sstime_pack(0, 0, 24, 1, 1, 2014), 0u);
  EXPECT_EQ(log_count(), before + 1);
}

// --- Parsers -----------------------------------------------------------------

struct ParseCase {
  const char* text;
  const char* want;  // as sstime_format_datetime writes it; "-" for 0
};

void expect_parses(ss_time (*parse)(const char*), std::initializer_list<ParseCase> cases) {
  for (const ParseCase& c : cases) EXPECT_EQ(fmt(parse(c.text)), c.want) << '"' << c.text << '"';
}

TEST_F(Sstime, NumericDates) {
  expect_parses(sstime_parse_yyyymmdd, {
                                           {"20140210", "2014-02-10 00:00:00"},
                                           {" 20130231", "2013-02-28 00:00:00"},
                                           {"20331231", "2033-12-31 00:00:00"},
                                           {"19700101", "1970-01-01 00:00:00"},
                                           {"19691231", "-"},
                                           {"20500101", "-"},  // would pack as 1986
                                           {"18991231", "-"},
                                           {"21000001", "-"},
                                           {"20141301", "-"},
                                           {"20140200", "-"},
                                           {"20140000", "-"},
                                           {"abc", "-"},
                                           {"", "-"},
                                       });
  expect_parses(sstime_parse_ymd, {
                                      {"2014-2-10", "2014-02-10 00:00:00"},
                                      {"2014-02-31", "2014-02-28 00:00:00"},
                                      {"2012-02-31", "2012-02-29 00:00:00"},
                                      {"1969-12-31", "-"},
                                      {"2050-1-1", "-"},
                                      {"2101-1-1", "-"},
                                      {"2014-0-5", "-"},
                                      {"2014-13-5", "-"},
                                      {"2014-5-0", "-"},
                                      {"2014-5", "-"},
                                      {"2014/5/6", "-"},
                                  });
}

// Sydney in summer is UTC+11, so a +1100 time reads as it stands.
TEST_F(Sstime, MailDatesInSouthernSummer) {
  use_zone(kSydney, utc(2014, 2, 10, 1));
  EXPECT_EQ(sstime_local_offset(), 11 * 3600);
  expect_parses(sstime_parse_mail_date,
                {
                    {"Mon, 10 Feb 2014 10:30:00 +1100", "2014-02-10 10:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 +11:00", "2014-02-10 10:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 GMT", "2014-02-10 21:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 UT", "2014-02-10 21:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 Z", "2014-02-10 21:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 -0500", "2014-02-11 02:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 +0530", "2014-02-10 16:00:00"},
                    {"Mon, 10 Feb 2014 10:30:00 EST", "2014-02-11 02:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 EDT", "2014-02-11 01:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 CST", "2014-02-11 03:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 CDT", "2014-02-11 02:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 MST", "2014-02-11 04:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 MDT", "2014-02-11 03:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 PST", "2014-02-11 05:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 PDT", "2014-02-11 04:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 A", "2014-02-10 22:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 N", "2014-02-10 20:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 Y", "2014-02-10 09:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 M", "2014-02-11 09:30:00"},
                    // Zone words are whole words: AEDT is not the letter A.
                    {"Mon, 10 Feb 2014 10:30:00 AEDT", "2014-02-10 21:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 NZDT", "2014-02-10 21:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 +9999", "-"},
                    {"Mon, 10 Feb 2014 10:30:00", "2014-02-10 10:30:00"},
                    {"Mon, 10 Feb 2014 10:30:00 \t ", "2014-02-10 10:30:00"},
                    {"Mon, 10 Feb 2014 10:30", "2014-02-10 10:30:00"},
                    {"Mon, 10 Feb 2014 10", "2014-02-10 10:00:00"},
                    {"10 Feb 14", "2014-02-10 00:00:00"},
                    {"10 Feb 99", "1999-02-10 00:00:00"},
                    {"10 Feb", "2000-02-10 00:00:00"},
                    {"31 Feb 2013", "2013-02-28 00:00:00"},
                    {"10 Feb 50", "-"},    // 1950
                    {"10 Feb 2050", "-"},  // would pack as 1986
                    {"0 Feb 2014", "-"},
                    {"Mon, 10 Feb 2014 24:30:00 +1100", "-"},
                    {"10 feb 2014", "-"},
                    {"10 Foo 2014", "-"},
                    {"Feb 2014", "-"},
                    {"", "-"},
                });
}

// Digit runs saturate as they are read: a run past 32 bits must not wrap
// round to a small number (2^32 + 10 is not day 10, 2^32 + 2014 not 2014),
// and a ten-digit zone is refused, not multiplied out.
TEST_F(Sstime, LongDigitRunsSaturate) {
  use_zone(kSydney, utc(2014, 2, 10, 1));
  expect_parses(sstime_parse_mail_date, {
                                            // A huge day is lowered to the month's last day like
                                            // any day past it; it does not wrap to 10.
                                            {"4294967306 Jan 2014", "2014-01-31 00:00:00"},
                                            {"10 Jan 4294969310", "-"},
                                            {"Mon, 10 Feb 2014 4294967306:30:00 +1100", "-"},
                                            {"Mon, 10 Feb 2014 10:30:00 +4294967306", "-"},
                                            {"Mon, 10 Feb 2014 10:30:00 -99999999999", "-"},
                                            {"0000000010 Jan 2014", "2014-01-10 00:00:00"},  // zeros are no overflow
                                        });
  expect_parses(sstime_parse_yyyymmdd, {{"4315107506", "-"}, {"99999999999999999999", "-"}});
  expect_parses(sstime_parse_ymd, {{"4294969310-2-10", "-"}, {"2014-4294967298-10", "-"}});
}

TEST_F(Sstime, IsoDateTimes) {
  use_zone(kSydney, utc(2014, 2, 10, 1));
  expect_parses(sstime_parse_date_time, {
                                            {"2014-02-10T10:30:00+11:00", "2014-02-10 10:30:00"},
                                            {"2014-02-10T10:30:00Z", "2014-02-10 21:30:00"},
                                            {"2014-02-10T10:30:00", "2014-02-10 21:30:00"},
                                            {"2014-02-10T10:30:00.250Z", "2014-02-10 21:30:00"},
                                            {"2014-02-10T10:30:00-05:00", "2014-02-11 02:30:00"},
                                            {"2014-02-10T10:30:00+05:30", "2014-02-10 16:00:00"},
                                            {"2013-12-31T23:00:00Z", "2014-01-01 10:00:00"},
                                            {"2014-02-10 10:30:00", "-"},
                                            {"2014-02-10T10:30", "-"},
                                            {"2014-02-10T10:30:00+11", "-"},
                                            {"2014-02-10T24:00:00Z", "-"},
                                            {"2050-01-01T00:00:00Z", "-"},
                                            {"2014-02T10:30:00Z", "-"},
                                            {"", "-"},
                                        });
}

// The offset follows the zone rules at the base, daylight saving included.
TEST_F(Sstime, LocalOffsetFollowsDaylightSaving) {
  struct Case {
    const char* tz;
    time_t wall;
    int32_t offset;
    const char* now;
  } cases[] = {
      {kSydney, utc(2014, 2, 9, 23, 30), 11 * 3600, "2014-02-10 10:30:00"},  // summer
      {kSydney, utc(2014, 7, 10, 0, 30), 10 * 3600, "2014-07-10 10:30:00"},  // winter
      {kAuckland, utc(2014, 1, 15, 0), 13 * 3600, "2014-01-15 13:00:00"},
      {kAuckland, utc(2014, 6, 15, 0), 12 * 3600, "2014-06-15 12:00:00"},
      {"EST5EDT,M3.2.0,M11.1.0", utc(2014, 7, 4, 16), -4 * 3600, "2014-07-04 12:00:00"},
      {"UTC0", utc(2033, 12, 31, 23, 59, 59), 0, "2033-12-31 23:59:59"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tz);
    use_zone(c.tz, c.wall);
    EXPECT_EQ(sstime_local_offset(), c.offset);
    EXPECT_EQ(fmt(sstime_now()), c.now);
    const ss_time before = sstime_now();
    g_wall -= 90;  // the clock runs on from the base, either way
    EXPECT_EQ(sstime_diff_seconds(before, sstime_now()), 90);
  }
  // A wall clock past the packed range leaves the base as it was.
  use_zone("UTC0", utc(2014, 1, 1));
  g_wall = utc(2034, 1, 1);
  EXPECT_EQ(sstime_set_base(1), -1);
  g_wall = utc(2014, 1, 1, 0, 0, 5);
  EXPECT_EQ(fmt(sstime_now()), "2014-01-01 00:00:05");
}

// Sydney leaves daylight saving at 03:00 on 6 April 2014 (16:00 UTC the day
// before): a long session sees it at its next hourly refresh, not sooner.
TEST_F(Sstime, RefreshPicksUpDaylightSavingChange) {
  use_zone(kSydney, utc(2014, 4, 5, 15, 30));  // 02:30 AEDT
  ASSERT_EQ(sstime_refresh(1), 0);
  EXPECT_EQ(fmt(sstime_now()), "2014-04-06 02:30:00");
  g_wall += 2700;                   // 16:15 UTC, after the change
  ASSERT_EQ(sstime_refresh(0), 0);  // within the hour: nothing
  EXPECT_EQ(sstime_local_offset(), 11 * 3600);
  EXPECT_EQ(fmt(sstime_now()), "2014-04-06 03:15:00");  // still the old offset
  g_wall += 960;                                         // 16:31 UTC
  const uint64_t before = log_count();
  ASSERT_EQ(sstime_refresh(0), 0);
  EXPECT_EQ(sstime_local_offset(), 10 * 3600);
  EXPECT_EQ(fmt(sstime_now()), "2014-04-06 02:31:00");
  EXPECT_NE(logged_since(before).find("change local offset: 36000"), std::string::npos);
  // A forced refresh does not wait for the hour.
  setenv("TZ", "UTC0", 1);
  g_wall += 60;
  ASSERT_EQ(sstime_refresh(0), 0);
  EXPECT_EQ(sstime_local_offset(), 10 * 3600);
  ASSERT_EQ(sstime_refresh(1), 0);
  EXPECT_EQ(sstime_local_offset(), 0);
  EXPECT_EQ(fmt(sstime_now()), "2014-04-05 16:32:00");
  // The clock stepping back makes an unforced refresh due at once.
  setenv("TZ", kSydney, 1);
  g_wall -= 600;
  ASSERT_EQ(sstime_refresh(0), 0);
  EXPECT_EQ(sstime_local_offset(), 10 * 3600);
}

TEST_F(Sstime, FindWordTestsOnlyTheFirstOccurrence) {
  struct Case {
    const char* text;
    const char* word;
    int at;  // offset of the match, -1 for none
  } cases[] = {
      {"THURSDAY", "THU", -1}, {"1ST", "ST", 1},      {"FIRST 1ST", "ST", -1}, {"A NOW", "NOW", 2},
      {"NOWX", "NOW", -1},     {"NOW", "NOW", 0},     {"X\tNOW\n", "NOW", 2},  {"XNOW", "NOW", -1},
      {"", "NOW", -1},         {"TODAYS", "TODAY", -1},
  };
  for (const Case& c : cases) {
    const char* got = sstime_find_word(c.text, c.word);
    EXPECT_EQ(got ? static_cast<int>(got - c.text) : -1, c.at) << c.text << " / " << c.word;
  }
}

TEST_F(Sstime, Expressions) {
  struct Case {
    time_t wall;  // the zone is UTC, so this is also the local time
    const char* text;
    const char* want;
    uint32_t mask;
  } cases[] = {
      // Wednesday 12 February 2014, 15:45:30.
      {utc(2014, 2, 12, 15, 45, 30), "10:30", "2014-02-12 10:30:00", 0x03},
      {utc(2014, 2, 12, 15, 45, 30), "10:30:15", "2014-02-12 10:30:15", 0x07},
      {utc(2014, 2, 12, 15, 45, 30), "9:90", "2014-02-12 10:30:00", 0x03},
      {utc(2014, 2, 12, 15, 45, 30), "-1:00", "-", 0},
      {utc(2014, 2, 12, 15, 45, 30), "25:00", "-", 0},
      {utc(2014, 2, 12, 15, 45, 30), "NOW", "2014-02-12 15:45:30", 63},
      {utc(2014, 2, 12, 15, 45, 30), "LIVE", "2014-02-12 15:45:30", 63},
      {utc(2014, 2, 12, 15, 45, 30), "TODAY", "2014-02-12 15:45:30", 56},
      {utc(2014, 2, 12, 15, 45, 30), "TODAYS", "-", 0},
      {utc(2014, 2, 12, 15, 45, 30), "MON", "2014-02-10 15:45:30", 56},
      {utc(2014, 2, 12, 15, 45, 30), "THURSDAY", "2014-02-06 15:45:30", 56},
      {utc(2014, 2, 12, 15, 45, 30), "14:00 FRI", "2014-02-07 14:00:00", 59},
      {utc(2014, 2, 14, 9), "FRIDAY", "2014-02-07 09:00:00", 56},
      {utc(2014, 2, 12, 15, 45, 30), "MAR 5", "2014-03-05 15:45:30", 0x18},
      {utc(2014, 2, 12, 15, 45, 30), "JANUARY 15", "2014-01-15 15:45:30", 0x18},
      {utc(2014, 2, 12, 15, 45, 30), "MAR 5 2012", "2012-03-05 15:45:30", 0x38},
      {utc(2014, 2, 12, 15, 45, 30), "MAR 45", "2014-03-12 15:45:30", 0x10},
      {utc(2014, 2, 12, 15, 45, 30), "1ST MAR", "2014-03-01 15:45:30", 0x18},
      {utc(2014, 2, 12, 15, 45, 30), "2012", "2012-02-12 15:45:30", 0x20},
      {utc(2014, 2, 12, 15, 45, 30), "2030", "2030-02-12 15:45:30", 0x20},
      {utc(2014, 2, 12, 15, 45, 30), "1975", "1975-02-12 15:45:30", 0x20},
      {utc(2014, 2, 12, 15, 45, 30), "2034", "-", 0},
      {utc(2014, 2, 12, 15, 45, 30), "5TH", "2014-02-05 15:45:30", 56},
      {utc(2014, 2, 5, 8), "5TH", "2014-01-05 08:00:00", 56},
      {utc(2014, 3, 1, 8), "31ST", "2014-01-31 08:00:00", 56},
      {utc(2013, 3, 1, 8), "29TH", "2013-01-29 08:00:00", 56},
      {utc(2012, 3, 1, 8), "29TH", "2012-02-29 08:00:00", 56},
      {utc(2014, 2, 12, 15, 45, 30), "22ND", "2014-01-22 15:45:30", 56},
      {utc(2014, 2, 12, 15, 45, 30), "3RD", "2014-02-03 15:45:30", 56},
      {utc(2014, 2, 12, 15, 45, 30), "32ND", "-", 0},
      {utc(2014, 2, 12, 15, 45, 30), "0TH", "-", 0},
      {utc(2014, 2, 12, 15, 45, 30), "MONTH", "-", 0},
      {utc(2014, 2, 12, 15, 45, 30), "HELLO", "-", 0},
      // A named month never leaves the day past the month's end.
      {utc(2014, 1, 31, 8), "FEB", "2014-02-28 08:00:00", 0x10},
      {utc(2014, 2, 12, 15, 45, 30), "FEB 30", "2014-02-28 15:45:30", 0x18},
      {utc(2012, 2, 29, 8), "2013", "2013-02-28 08:00:00", 0x20},
  };
  for (const Case& c : cases) {
    use_zone("UTC0", c.wall);
    uint32_t mask = 0xdead;
    EXPECT_EQ(fmt(sstime_parse_expression(c.text, &mask)), c.want) << c.text << " at " << fmt(sstime_now());
    EXPECT_EQ(mask, c.mask) << c.text;
  }
}

// --- Threads -----------------------------------------------------------------

std::atomic<time_t> g_shared_wall{0};
time_t shared_wall(void) { return g_shared_wall.load(); }

// Readers must never see the base time of one set with the wall clock of
// another: with the zone at UTC, every reading is one of the two instants.
TEST(SstimeConcurrency, BaseIsNeverTorn) {
  plat_init();
  log_init();
  dalloc_init();
  setenv("TZ", "UTC0", 1);
  tzset();
  const time_t w1 = utc(2014, 2, 10, 10), w2 = utc(2014, 2, 20, 11);
  g_shared_wall = w1;
  sstime_set_test_wallclock(shared_wall);
  ASSERT_EQ(sstime_set_base(1), 0);
  const ss_time p1 = at(2014, 2, 10, 10), p2 = at(2014, 2, 20, 11);
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 4000; i++) {
      g_shared_wall = (i & 1) ? w1 : w2;
      sstime_set_base(1);
    }
    stop = true;
  });
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; r++)
    readers.emplace_back([&] {
      while (!stop) {
        ss_time t = sstime_now();
        if (t != p1 && t != p2) bad++;
      }
    });
  writer.join();
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
  sstime_set_test_wallclock(nullptr);
}

// Each thread's formatted text stays its own.
TEST(SstimeConcurrency, FormatBuffersArePerThread) {
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; k++)
    threads.emplace_back([&, k] {
      const ss_time t = at(2010 + k, k + 1, k + 1, k, k, k);
      static const char* const kWantDatetime[4] = {"2010-01-01 00:00:00", "2011-02-02 01:01:01",
                                                   "2012-03-03 02:02:02", "2013-04-04 03:03:03"};
      const char* want_dt = kWantDatetime[k];
      const std::string want_d = std::string(want_dt, 10);
      for (int i = 0; i < 20000; i++) {
        const char* dt = sstime_format_datetime(t);
        const char* d = sstime_format_date(t);
        if (strcmp(dt, want_dt) != 0 || want_d != d) bad++;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
