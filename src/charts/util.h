// The chart's time axis (vertical grid lines and time labels below the plot)
// and the conversions between times, sample indices and x positions that the
// chart widget's mouse handling, cursor and markers use. UI thread only.
#pragma once
#include <cstdint>
#include <string>

#include "charts/axislist.h"
#include "sstime.h"

struct chart_plot;

// Option bit: grid lines at or left of the plot's left edge + 3 are not drawn
// on a chart placed by time.
constexpr uint32_t kChartOptEdgeCut = 0x2000;
// A label this close to the clip's right edge is measured against the clip.
constexpr int32_t kUtilRightMargin = 50;

struct util_box {
  int32_t x, y, w, h;  // w = 0: empty
};

// Fills axes->time. 0, or -1 (lists cleared) when the chart has no samples,
// no width or nothing to label.
int util_time_labels(chart_plot* plot, chart_axes* axes);
// The unit flags of an end-of-day chart of `days` days (between its first and
// last visible samples) on `width` pixels at a digit width.
uint32_t util_eod_flags(int32_t days, int32_t width, int32_t digit);
// Adds text at (x, y) in the font unless, within 50 pixels of the clip's
// right edge, its box would leave the clip. 1 added (last updated), 0 dropped.
int util_label(chart_list<chart_label>* list, const char* text, int32_t x, int32_t y, int32_t small,
               const chart_fonts* fonts, util_box* last, const util_box& clip);

// Sample index for a time: -1 without samples; 0 for t = 0; the last index at
// or after the last time; else k with times[k] <= t < times[k+1], or for
// dir > 0 the index after k moved forward over equal times.
int32_t util_index_at_time(const chart_plot* plot, ss_time t, int32_t dir);
// The visible sample nearest to x (the later on a tie); -1 without samples or
// outside the plot.
int32_t util_index_at_x(const chart_plot* plot, int32_t x);
// Time under x. On a chart placed by time 0 for an empty day table or days
// of no length ("day range is 0").
ss_time util_time_at_x(const chart_plot* plot, int32_t x);
// x of a time: -1 on a chart placed by time for a date outside its days or
// days of no length ("empty range").
int32_t util_sample_at(const chart_plot* plot, ss_time t);

// The label texts.
std::string util_minute_mark(int32_t minute);  // 5 -> ":af"
const char* util_month_name(int32_t month);    // 1 -> "Jan"
const char* util_weekday_name(int32_t wday);   // 0 -> "Sun"
const char* util_weekday_letter(int32_t wday);
