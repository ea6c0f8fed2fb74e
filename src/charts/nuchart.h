// The chart widget's value mapping and colour table: the parts of the chart
// class that the data block and the computations need.
#pragma once
#include <cstdint>

struct chart_plot;

constexpr int kChartColourSets = 3;
constexpr int kChartColours = 36;
constexpr uint32_t kChartNoPixel = 0xFFFFFFFFu;

// Values to pixel rows for the price pane and every overlay and indicator.
void nuchart_map_values(chart_plot* plot);
// Builds the three colour sets (once at class set-up; again is harmless).
void chart_colours_init(void);
// Builds them again when the visual style's four colours (style colours 1
// to 4 of the table) differ from those they were built with.
void chart_colours_follow(const uint32_t style_colours[4]);
// Entry of a set (colour scheme) of the table; 0 outside it.
uint32_t chart_colour(int32_t set, int32_t entry);
