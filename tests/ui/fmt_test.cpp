// Value formatters: exact bytes of each formatter over its zero rule, its
// trimming and small-digit marks, and the abbreviation boundaries. Small
// digits are written as 'a'-'j' and the filler as '`', as the fonts read them.
#include "lib/fmt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "lib/strbuf.h"

namespace {

struct Case {
  const char *name;
  std::string got;
  const char *want;
};

// Each row calls the formatter when the table is built, copying the result
// at once, as callers must.
void check(const std::vector<Case> &rows) {
  for (const Case &c : rows) EXPECT_EQ(c.got, c.want) << c.name;
}

TEST(Fmt, Prices) {
  check({
      {"price whole", fmt_price(12300), "123"},
      {"price one decimal", fmt_price(12350), "123.5"},
      {"price two decimals", fmt_price(12345), "123.45"},
      {"price ten cents", fmt_price(10), "0.1"},
      {"price zero", fmt_price(0), ""},
      {"price none", fmt_price(0xFFFFFFFFu), ""},
      {"cents", fmt_cents(105), "1.05"},
      {"int", fmt_int(-42), "-42"},
      {"int zero", fmt_int(0), ""},
      {"small both", fmt_price_small_cents(12345), "123.ef"},
      {"small tens", fmt_price_small_cents(12350), "123.f"},
      {"small none", fmt_price_small_cents(12300), "123` "},
      {"small leading zero", fmt_price_small_cents(50), ".f"},
      {"small leading zero two", fmt_price_small_cents(5), ".af"},
      {"small zero mark", fmt_price_small_cents(0), "-` "},
      {"small none mark", fmt_price_small_cents(0xFFFFFFFFu), "-` "},
      {"blank both", fmt_price_small_cents_blank(12345), "123.ef"},
      {"blank tens", fmt_price_small_cents_blank(12350), "123.f"},
      {"blank none", fmt_price_small_cents_blank(12300), "123"},
      {"blank zero", fmt_price_small_cents_blank(0), ""},
      {"fixed both", fmt_price_small_cents_fixed(12345), "123.ef"},
      {"fixed tens", fmt_price_small_cents_fixed(12350), "123.f "},
      {"fixed none", fmt_price_small_cents_fixed(12300), "123`  "},
      {"fixed zero", fmt_price_small_cents_fixed(0), ""},
  });
}

TEST(Fmt, Changes) {
  check({
      {"change down half", fmt_change(-50), "-.f"},
      {"change up quarter", fmt_change(25), "+.cf"},
      {"change up", fmt_change(1234), "+12.de"},
      {"change whole", fmt_change(-300), "-3` "},
      {"change zero", fmt_change(0), "-` "},
      {"change most negative", fmt_change(std::numeric_limits<int32_t>::min()), "-21474836.ei"},
      {"fixed change tens", fmt_change_fixed(150), "+1.f "},
      {"fixed change whole", fmt_change_fixed(-200), "-2`  "},
      {"fixed change zero", fmt_change_fixed(0), "-`   "},
      {"trimmed", fmt_change_trimmed(150), "+1.5"},
      {"trimmed whole", fmt_change_trimmed(-100), "-1"},
      {"trimmed cents", fmt_change_trimmed(5), "+.05"},
      {"trimmed zero", fmt_change_trimmed(0), ""},
      {"percent change trimmed", fmt_percent_change_trimmed(-1234), "-12.34"},
      {"ticker", fmt_change_ticker(20), "+.2"},
      {"change percent", fmt_change_percent(125), "+1.cf%"},
      {"change percent small", fmt_change_percent(-7), "-.ah%"},
      {"change percent zero", fmt_change_percent(0), "-`   "},
  });
}

TEST(Fmt, Percentages) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  check({
      {"capped above", fmt_percent_capped(2000000), ">10000%"},
      {"capped below", fmt_percent_capped(-2000000), "<10000%"},
      {"capped at limit", fmt_percent_capped(1000000), "+10000%"},
      {"capped truncates", fmt_percent_capped(-1299), "-12%"},
      {"capped under one", fmt_percent_capped(99), "-"},
      {"capped zero", fmt_percent_capped(0), "-"},
      {"percent", fmt_percent(12.345f), "12.35%"},
      {"percent zero", fmt_percent(0.0f), "-` "},
      {"percent nan", fmt_percent(nan), "-"},
      {"percent huge", fmt_percent(3e38f), "-"},
      {"whole", fmt_percent_whole(42.4f), "42%"},
      {"whole small", fmt_percent_whole(0.4f), ""},
      {"float percent zero", fmt_float_percent(0.0f), "0%"},
      {"float percent", fmt_float_percent(-1.5f), "-1.50%"},
  });
}

TEST(Fmt, Volumes) {
  check({
      {"grouped", fmt_volume(1234567), "1,234,567"},
      {"three digits", fmt_volume(999), "999"},
      {"four digits", fmt_volume(1000), "1,000"},
      {"largest", fmt_volume(~0ull - 1), "18,446,744,073,709,551,614"},
      {"volume zero", fmt_volume(0), "-"},
      {"volume none", fmt_volume(~0ull), "-"},
      {"count", fmt_count(4294967294u), "4,294,967,294"},
      {"count none", fmt_count(0xFFFFFFFFu), "-"},
      {"signed down", fmt_volume_signed(-1234), "-1,234"},
      {"signed up", fmt_volume_signed(5), "+5"},
      {"signed zero", fmt_volume_signed(0), "-"},
      {"short 999", fmt_volume_short(999), "999"},
      {"short 1000", fmt_volume_short(1000), "1K"},
      {"short 1500", fmt_volume_short(1500), "1.fK"},
      {"short 1049", fmt_volume_short(1049), "1K"},
      {"short 1050", fmt_volume_short(1050), "1.bK"},
      {"short 999999", fmt_volume_short(999999), "1000K"},
      {"short 10^6", fmt_volume_short(1000000), "1M"},
      {"short 1234567", fmt_volume_short(1234567), "1.cM"},
      {"short 2000000", fmt_volume_short(2000000), "2M"},
      {"short 1099999 truncated tenth 0", fmt_volume_short(1099999), "1M"},
      {"short 1950000 rounds up", fmt_volume_short(1960000), "2M"},
      {"short 10^7", fmt_volume_short(10000000), "10M"},
      {"short 10^7 rounded", fmt_volume_short(12500000), "13M"},
      {"short 10^10", fmt_volume_short(10000000000ull), "10B"},
      {"short billions tenth", fmt_volume_short(12340000000ull), "12.dB"},
      {"short zero", fmt_volume_short(0), "-"},
      {"short none", fmt_volume_short(~0ull), "-"},
      {"short signed", fmt_volume_short_signed(-1500), "-1.fK"},
      {"count short 1000", fmt_count_short(1000), "1K"},
      {"count short 1500", fmt_count_short(1500), "1K"},
      {"count short 1501", fmt_count_short(1501), "2K"},
      {"count short 1499", fmt_count_short(1499), "1K"},
      {"count short millions", fmt_count_short(1234567), "1.2M"},
      {"count short 10^7", fmt_count_short(10000000), "10M"},
      {"count short billions", fmt_count_short(12340000000ull), "12.3B"},
      {"count short 999", fmt_count_short(999), "999"},
  });
}

TEST(Fmt, SignedBuffersSurviveOneMoreCall) {
  const char *a = fmt_volume_signed(-7);
  const char *b = fmt_volume_short_signed(2500);
  fmt_price(100);
  EXPECT_STREQ(a, "-7");
  EXPECT_STREQ(b, "+2.fK");
  const char *c = fmt_price(12345);
  fmt_price(200);
  EXPECT_STREQ(c, "2") << "a second call overwrites the shared buffer";
}

TEST(Fmt, Money) {
  check({
      {"money 50 cents", fmt_money(50), "$0"},
      {"money 51 cents", fmt_money(51), "$1"},
      {"money grouped", fmt_money(123456789), "$1,234,568"},
      {"money zero", fmt_money(0), "-"},
      {"money largest", fmt_money(~0ull), "$184,467,440,737,095,516"},
      {"short 50 cents", fmt_money_short(50), "-"},
      {"short 51 cents", fmt_money_short(51), "$1"},
      {"short dollars", fmt_money_short(99949), "$999"},
      {"short thousands", fmt_money_short(100000), "$1K"},
      {"short thousands rounded", fmt_money_short(15000000), "$150K"},
      {"short millions tenth", fmt_money_short(125000000), "$1.dM"},
      {"short millions whole", fmt_money_short(200000000), "$2M"},
      {"short tens of millions", fmt_money_short(1550000000), "$16M"},
      {"short billions", fmt_money_short(150000000000ull), "$1.fB"},
      {"float short dollar", fmt_money_float_short(99), "-"},
      {"float short", fmt_money_float_short(260000), "$3K"},
      {"float short billions", fmt_money_float_short(400000000000ull), "$4B"},
  });
}

TEST(Fmt, Floats) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  check({
      {"float price", fmt_float_price(12.5f), "12.5"},
      {"float price rounds", fmt_float_price(1.006f), "1.01"},
      {"float price zero", fmt_float_price(0.0f), "0"},
      {"float price nan", fmt_float_price(nan), "-"},
      {"float price negative", fmt_float_price(-3.0f), "-"},
      {"float price huge", fmt_float_price(1e30f), "-"},
      {"float value", fmt_float_value(2.0f), "2"},
      {"float volume", fmt_float_volume(1234567.0f), "1,234,567"},
      {"float volume high half", fmt_float_volume(9223372036854775808.0f), "9,223,372,036,854,775,808"},
      {"float volume nan", fmt_float_volume(nan), "-"},
      {"float volume infinite", fmt_float_volume(inf), "-"},
      {"float volume negative", fmt_float_volume(-5.0f), "-"},
      {"float volume beyond", fmt_float_volume(1e20f), "-"},
      {"float", fmt_float(2.5f), "2"},
      {"float1", fmt_float1(2.25f), "2.2"},
      {"float2", fmt_float2(-1.0f), "-1.00"},
      {"float3", fmt_float3(0.5f), "0.500"},
      {"float zero", fmt_float3(0.0f), "0"},
      {"float nan", fmt_float(nan), "-"},
      {"float huge", fmt_float3(-3e38f), "-"},
  });
}

TEST(Fmt, Bytes) {
  check({
      {"bytes", fmt_bytes(999, "/s"), "999b/s"},
      {"kilobytes", fmt_bytes(1499, nullptr), "1Kb"},
      {"kilobytes half", fmt_bytes(1500, ""), "1Kb"},
      {"kilobytes rounded", fmt_bytes(1501, ""), "2Kb"},
      {"megabytes tenth zero", fmt_bytes(1099999, ""), "1Mb"},
      {"megabytes tenth", fmt_bytes(1250000, ""), "1.2Mb"},
      {"megabytes tenth rounds to whole", fmt_bytes(1960000, ""), "2Mb"},
      {"tens of megabytes half", fmt_bytes(15500000, "!"), "15Mb!"},
      {"tens of megabytes", fmt_bytes(15500001, "!"), "16Mb!"},
      {"none", fmt_bytes(0, ""), "-"},
      {"negative", fmt_bytes(-5, ""), "-"},
  });
}

TEST(Fmt, UpperUsesScratchZero) {
  const char *u = fmt_upper("Abc def 1");
  EXPECT_STREQ(u, "ABC DEF 1");
  EXPECT_EQ(u, strbuf_get(0));
}

TEST(Fmt, TimesAndDates) {
  ss_time t = sstime_pack(7, 5, 0, 3, 2, 2014);     // Monday 3 February 2014 00:05:07
  ss_time pm = sstime_pack(9, 30, 13, 21, 12, 2009); // Monday 21 December 2009 13:30:09
  ss_time noon = sstime_pack(0, 0, 12, 12, 3, 2010);
  ASSERT_NE(t, 0u);
  check({
      {"hour", fmt_hour(pm), "13"},
      {"minute small", fmt_minute_small(pm), ":da"},
      {"hm", fmt_time_hm(t), " 0:05"},
      {"hms", fmt_time_hms(pm), "13:30:09"},
      {"hm short", fmt_time_hm_short(t), "0:05"},
      {"hms short", fmt_time_hms_short(t), "0:05:07"},
      {"hm none", fmt_time_hm(0), "-"},
      {"12h midnight", fmt_time_12h(t), "12:05am"},
      {"12h afternoon", fmt_time_12h(pm), "1:30pm"},
      {"12h noon", fmt_time_12h(noon), "12:00pm"},
      {"date", fmt_date(t), " 3 Feb 2014"},
      {"date short year", fmt_date_short_year(pm), "21 Dec 09"},
      {"date short", fmt_date_short(t), " 3 Feb"},
      {"iso", fmt_date_iso(t), "2014-02-03"},
      {"year", fmt_year(pm), "2009"},
      {"year2", fmt_year2(pm), "09"},
      {"month short", fmt_month_short(pm), "Dec"},
      {"month", fmt_month(t), "February"},
      {"day month", fmt_day_month(pm), "21 December"},
      {"day", fmt_day(t), "3"},
      {"weekday short", fmt_weekday_short(t), "Mon"},
      {"weekday letter", fmt_weekday_letter(noon), "F"},
      {"weekday", fmt_weekday(pm), "Monday"},
  });
  const struct {
    int day;
    const char *want;
  } ordinals[] = {{1, "1st"},   {2, "2nd"},   {3, "3rd"},   {4, "4th"},   {10, "10th"}, {11, "11th"},
                  {12, "12th"}, {13, "13th"}, {21, "21st"}, {22, "22nd"}, {23, "23rd"}, {31, "31st"}};
  for (const auto &o : ordinals)
    EXPECT_STREQ(fmt_day_ordinal(sstime_pack(0, 0, 9, o.day, 1, 2015)), o.want) << o.day;
}

TEST(Fmt, Durations) {
  check({
      {"under a minute", fmt_duration(59), ":59"},
      {"a minute and one", fmt_duration(61), "01:01"},
      {"an hour and a minute", fmt_duration(3661), "1:01"},
      {"zero", fmt_duration(0), ":00"},
      {"negative", fmt_duration(-1), "-"},
  });
}

}  // namespace
