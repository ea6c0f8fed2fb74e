// Value formatters: market values (prices, changes, volumes, money,
// percentages, times and dates) as display text in the house style.
//
// Every formatter writes into one shared 32-byte buffer (or returns a
// constant text) and returns it: a result is valid only until the next
// formatter call, so callers copy it or lay it out at once. The two signed
// volume formatters have buffers of their own and survive one more call.
// Prices and changes are in the model's price units, printed as units / 100
// with two decimals (12345 prints 123.45); money formatters take cents.
// In the value fonts 'a'-'j' are small digits 0-9 (digit + 0x31) and the
// backquote a narrow invisible filler. Main thread only; nothing allocates.
#pragma once

#include <cstdint>

#include "sstime.h"

constexpr char kFmtSmall = 0x31;  // added to a digit to make it small
constexpr char kFmtFiller = '`';  // narrow invisible filler

// Prices and changes.
const char *fmt_int(int32_t v);
const char *fmt_price(uint32_t v);
const char *fmt_cents(uint32_t v);
const char *fmt_price_small_cents(uint32_t v);
const char *fmt_price_small_cents_blank(uint32_t v);
const char *fmt_price_small_cents_fixed(uint32_t v);
const char *fmt_change(int32_t v);
const char *fmt_change_fixed(int32_t v);
const char *fmt_change_trimmed(int32_t v);
const char *fmt_percent_change_trimmed(int32_t v);
const char *fmt_change_ticker(int32_t v);
const char *fmt_change_percent(int32_t v);
const char *fmt_percent_capped(int32_t v);
const char *fmt_percent(float v);
const char *fmt_percent_whole(float v);
const char *fmt_float_percent(float v);

// Volumes, counts and money.
const char *fmt_volume(uint64_t v);
const char *fmt_count(uint32_t v);
const char *fmt_volume_signed(int64_t v);
const char *fmt_volume_short(uint64_t v);
const char *fmt_volume_short_signed(int64_t v);
const char *fmt_count_short(uint64_t v);
const char *fmt_money(uint64_t cents);
const char *fmt_money_short(uint64_t cents);
const char *fmt_money_float_short(uint64_t cents);
// NaN, infinite and out-of-range values print "-" rather than converting.
const char *fmt_float_price(float v);
const char *fmt_float_value(float v);
const char *fmt_float_volume(float v);
const char *fmt_float(float v);
const char *fmt_float1(float v);
const char *fmt_float2(float v);
const char *fmt_float3(float v);
// suffix may be null.
const char *fmt_bytes(int32_t n, const char *suffix);
// Upper-case copy in scratch string 0.
const char *fmt_upper(const char *text);

// Times and dates (packed market-data times).
const char *fmt_hour(ss_time t);
const char *fmt_minute_small(ss_time t);
const char *fmt_time_hm(ss_time t);
const char *fmt_time_hms(ss_time t);
const char *fmt_time_hm_short(ss_time t);
const char *fmt_time_hms_short(ss_time t);
const char *fmt_time_12h(ss_time t);
const char *fmt_date(ss_time t);
const char *fmt_date_short_year(ss_time t);
const char *fmt_date_short(ss_time t);
const char *fmt_date_iso(ss_time t);
const char *fmt_year(ss_time t);
const char *fmt_year2(ss_time t);
const char *fmt_month_short(ss_time t);
const char *fmt_month(ss_time t);
const char *fmt_day_month(ss_time t);
const char *fmt_day(ss_time t);
const char *fmt_day_ordinal(ss_time t);
const char *fmt_weekday_short(ss_time t);
const char *fmt_weekday_letter(ss_time t);
const char *fmt_weekday(ss_time t);
// Seconds: ":ss" under a minute, "mm:ss" under an hour, else "h:mm".
const char *fmt_duration(int32_t seconds);
