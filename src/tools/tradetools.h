// The course-of-sales panel: the tool panel of a course-of-sales window. It
// chooses VWAP-only trades and how trades are grouped (by price or by a
// time interval), and owns a small chart of the instrument's prices whose
// range it picks and on which a click moves the list to that moment of the
// day. Setting edits and chart clicks are linked changes of the trade-list
// role: one undo step, and with Shift every course-of-sales window of the
// desktop. Main thread only.
#pragma once

#include <cstdint>

#include "sstime.h"
#include "tools/tools.h"
#include "ui/button.h"

struct fbox;
struct flyaway;
struct instr;
struct nuchart;

enum tradetools_section : int {
  TRADETOOLS_SELECT, TRADETOOLS_GROUP, TRADETOOLS_RANGE, kTradetoolsSections = 3,
};
constexpr uint32_t kTradetoolsChartOptions = 0x112971;

struct tradetools : tools {
  fbox *box;
  flyaway *section[kTradetoolsSections];
  nuchart *chart;
  button *vwap_only;
  button_group range_group, group_group;
  ss_time marker[2];  // the span last marked on the chart
};

typeid_t tradetools_type();
inline bool tradetools_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), tradetools_type());
}
// The panel of a window (parent) editing its trade list (owner).
tradetools *tradetools_new(widget *parent, widget *owner);
// The list's instrument changed: the chart follows it (null unbinds).
void tradetools_set_instrument(widget *panel, instr *in);
// Marks the span the list shows on the chart (times; 0 from: the chart's
// first sample).
void tradetools_set_marker(widget *panel, int32_t from, int32_t to);

// The grouping of a group-by id: 1 by price (*seconds 0), 2 to 9 and 16 an
// interval in seconds, 10 none (*seconds 0). Returns 1 by price, 0
// otherwise, -1 for an unknown id.
int tradetools_group_of(int32_t id, uint32_t *seconds);
// The group-by id that shows a list's grouping: 1 by price, the interval's
// button, 10 none; -1 for an interval without a button.
int32_t tradetools_group_id(uint32_t by_price, uint32_t seconds);
// The title text of a list's settings; lives until the next call.
const char *tradetools_summary_of(uint32_t vwap_only, uint32_t by_price, uint32_t seconds);
// A button of a section by id (tests and actions).
button *tradetools_button(tradetools *p, int section, int32_t id);
