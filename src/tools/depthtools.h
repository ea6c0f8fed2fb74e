// The depth panel: the tool panel of a market-depth window. It drives the
// window's replay of the day's book (pause, step, faster and slower, by
// time or by event, back to live), shows the replay time and speed, picks
// what the window shows (bars, table, trades, age colours), the bars'
// thickness, the price aggregation and the age split, and owns a small
// chart of the instrument on which the replay position is marked and a
// click jumps the replay to that time. Every command is a linked change of
// the depth role: one undo step, and with Shift every depth window of the
// desktop. Main thread only.
#pragma once

#include <cstdint>

#include "sstime.h"
#include "tools/tools.h"
#include "ui/button.h"

struct fbox;
struct flyaway;
struct label;
struct nuchart;
struct time_spinner;

// Sections of the panel, in their order. Button ids repeat from one
// section to the next ("Pause" and "Show Age" are both 0), so each section
// has its own callback.
enum depthtools_section : int {
  DEPTHTOOLS_REPLAY, DEPTHTOOLS_DISPLAY, DEPTHTOOLS_AGGREGATE, DEPTHTOOLS_AGE, kDepthtoolsSections = 4,
};
// The Display section's thickness buttons carry ids 3 to 9 as well; they
// are told from the show buttons by this section number.
constexpr int kDepthtoolsThickness = 100;
// The replay chart's range buttons (ids 5 to 8) likewise.
constexpr int kDepthtoolsRange = 101;

constexpr int kDepthtoolsSpeedSteps = 15;
constexpr int kDepthtoolsDelaySteps = 6;
constexpr uint32_t kDepthtoolsChartOptions = 0x112971;
constexpr int32_t kDepthtoolsAgeMin = 800, kDepthtoolsAgeMax = 1900, kDepthtoolsAgeStart = 1000;

struct depthtools : tools {
  fbox *box;
  flyaway *section[kDepthtoolsSections];
  nuchart *chart;
  label *time_label, *speed_label;
  ss_time shown_time;   // the time last written into the time label
  float shown_speed;    // the speed last written: -1 by event, 0 live
  float shown_delay;    // by event: the delay last written
  button *live, *pause, *forward, *back, *faster, *slower, *mode;
  button *show_age, *show_trades, *show_bars, *show_table;
  button_group range_group, thickness_group, aggregate_group, age_group;
  time_spinner *age_time;
  int32_t chart_range;  // 0 Today, 1 All day, 2 Week, 3 Month
};

typeid_t depthtools_type();
inline bool depthtools_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), depthtools_type());
}
// The panel of a window (parent) editing its depth window (owner); tells
// the depth window its panel. Null on failure.
depthtools *depthtools_new(widget *parent, widget *depthwin);

// Called by the depth window as its replay advances: the time and speed
// labels (written only when they change) and the chart's marker.
void depthtools_show_speed(widget *panel);
// Bind the replay chart to the window's instrument and refresh the panel.
void depthtools_follow_instrument(widget *panel);
int depthtools_rebind_chart(widget *panel);
// The chart's range for the window's replay date: after the instrument's
// latest date "All day", within the week before it "Week", else "Month".
void depthtools_update_chart(widget *panel);
// The chart range choice, 0 to 3, and setting it (the range command).
int32_t depthtools_get_chart_range(widget *panel);
void depthtools_set_chart_range(widget *panel, int32_t choice);
// The custom age split's time of day as hours x 100 + minutes (index 0;
// another index gets 0 and sets nothing). Setting clamps to 8:00-19:00.
int32_t depthtools_get_age_time(widget *panel, int index);
void depthtools_set_age_time(widget *panel, int index, int32_t hhmm);

// The replay speed steps. By time: the speed-up one step faster or slower
// (0.1 to 3600); by event: the delay per event one step shorter (faster) or
// longer (slower), 0.1 to 1.0 seconds.
float depthtools_faster_speedup(float speedup);
float depthtools_slower_speedup(float speedup);
float depthtools_faster_delay(float delay);
float depthtools_slower_delay(float delay);
// The show mode (bit 1 bars, bit 2 table) after "Show Bars" or "Show
// Table": never neither.
uint32_t depthtools_toggle_bars(uint32_t mode);
uint32_t depthtools_toggle_table(uint32_t mode);
// The age split an age id (0 Custom at hhmm, 1 to 13 the presets, above 13
// none) stands for; the button id that shows a split (-1: none).
void depthtools_age_split(int32_t id, int32_t hhmm, uint32_t *kind, uint32_t *count);
int32_t depthtools_age_id(uint32_t kind, uint32_t count);
// The title text of a price grouping in ten-thousandths of a dollar ("" below
// 2); the text lives until the next call.
const char *depthtools_summary_of(uint32_t group_step);
// A button of a section by id (tests and actions); the thickness and range
// buttons by kDepthtoolsThickness and kDepthtoolsRange.
button *depthtools_button(depthtools *p, int section, int32_t id);
