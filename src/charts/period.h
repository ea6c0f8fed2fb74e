// Chart periods: merging a plot's samples into bars of its period, in place.
#pragma once
#include <cstdint>

#include "sstime.h"

struct chart_plot;

// Period kinds.
constexpr int32_t kPeriodNone = 0;
constexpr int32_t kPeriodSeconds = 1;
constexpr int32_t kPeriodMinutes = 2;
constexpr int32_t kPeriodHours = 3;
constexpr int32_t kPeriodSessions = 4;
constexpr int32_t kPeriodDays = 5;
constexpr int32_t kPeriodWeeks = 6;
constexpr int32_t kPeriodMonths = 7;
constexpr int32_t kPeriodYears = 8;
constexpr int32_t kPeriodAll = 9;

typedef ss_time (*period_key_fn)(ss_time t, int32_t count);
typedef bool (*period_test_fn)(ss_time t, ss_time bucket);

// Groups the samples by the plot's period and writes the end sentinel; 0, or
// -1 for a kind outside 0-9 (nothing changed).
int period_bucket(chart_plot* plot);
// Groups by key(time, count), a bar never spanning midnight; with the close
// split a change of price also starts a new bar.
void period_group(chart_plot* plot, int32_t count, bool close_split, period_test_fn quick, period_key_fn key);

ss_time period_second_key(ss_time t, int32_t count);
ss_time period_minute_key(ss_time t, int32_t count);
ss_time period_hour_key(ss_time t, int32_t count);
ss_time period_session_key(ss_time t, int32_t count);
bool period_same_second(ss_time t, ss_time bucket);
bool period_same_minute(ss_time t, ss_time bucket);
bool period_same_hour(ss_time t, ss_time bucket);
bool period_same_session(ss_time t, ss_time bucket);
