// Time placement of a chart's samples: span ends, the visible span, bar
// widths, x positions (intraday days side by side, nights and weekends
// taking no room) and the widening of the value range.
#pragma once
#include <cstdint>

#include "sstime.h"

struct chart_plot;
struct instr;

// Span-end types.
constexpr int32_t kSpanTime = 1;
constexpr int32_t kSpanDate = 2;
constexpr int32_t kSpanDay10 = 3;
constexpr int32_t kSpanDay17 = 4;
constexpr int32_t kSpanNow = 5;
constexpr int32_t kSpanFallback = 6;

// Range kinds.
constexpr int32_t kRangeAuto = 1;
constexpr int32_t kRangeSeconds = 2;
constexpr int32_t kRangeMinutes = 3;
constexpr int32_t kRangeHours = 4;
constexpr int32_t kRangeDays = 5;
constexpr int32_t kRangeMonths = 6;
constexpr int32_t kRangeYears = 7;
constexpr int32_t kRangeYearToDate = 8;
constexpr int32_t kRangeAll = 9;
constexpr int32_t kRangeFromTo = 11;

void align_time_axis(chart_plot* plot);
void align_day_positions(chart_plot* plot, int32_t right, int32_t width, ss_time now);
// A span end of `type` for the stored time (the fallback when that is 0);
// 0 for an unknown type.
ss_time align_span_end(int32_t type, const instr* in, ss_time t, ss_time fallback, uint32_t options);
void align_pad_range(chart_plot* plot);
