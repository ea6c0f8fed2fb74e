// The scan panel: the tool panel of a watchlist window. It edits the scan
// the window shows (order, instrument classes, trade time, change filter,
// price levels, delta time, relative volume, ranges), saves it as a
// smartlist, makes a new one, removes it, copies its results into a new
// watchlist, and describes it in the window's title. Every setting edit is a
// linked change of the watchlist role: one undo step, and with Shift it
// reaches every other watchlist window of the desktop. Main thread only.
#pragma once

#include <cstdint>

#include "tools/tools.h"
#include "ui/button.h"

struct fbox;
struct flyaway;
struct label;
struct scan;
struct textbox;
struct time_spinner;

constexpr int kScantoolsRanges = 8;
constexpr int kScantoolsSummaryMax = 65536;

// Sections of the panel, in their order.
enum scantools_section : int {
  SCANTOOLS_FILE, SCANTOOLS_ORDER, SCANTOOLS_SELECT, SCANTOOLS_TRADED, SCANTOOLS_CHANGE,
  SCANTOOLS_RANGES, SCANTOOLS_LEVELS, SCANTOOLS_DELTA, SCANTOOLS_RELVOL, kScantoolsSections = 9,
};

struct scantools : tools {
  textbox *name;
  button *reverse, *freeze, *asx, *nzx, *derivs, *venues, *indices, *news, *sensitive, *groups;
  button *save, *make_new, *to_wlist, *remove, *manual, *pct_delta, *delta, *pct_relvol, *relvol;
  button *up_delta, *down_delta;
  button_group order, change, traded, levels, delta_group, relvol_group;
  time_spinner *delta_time;
  textbox *range[kScantoolsRanges];  // price, turnover, market cap, trades: min then max
  label *delta_label;
  fbox *box;
  flyaway *section[kScantoolsSections];
};

typeid_t scantools_type();
inline bool scantools_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), scantools_type());
}
// The panel of a window (parent) editing its watchlist (owner).
scantools *scantools_new(widget *parent, widget *owner);
// Mark the File, respectively the Order, section most recently used.
void scantools_focus_field(widget *panel);
void scantools_focus_field2(widget *panel);
// Names the window's scan after the name field and registers a temporary
// one that has a name, as one undo step.
void scantools_save(scantools *p, scan *s);
// The description of a scan shown in the title ("" for none); the text lives
// until the next call.
const char *scantools_summary(const scan *s);

// What a button id does to one scan (the linked change's step 3). Returns
// 1 when the window must be laid out again and the scan re-run (relative
// volume changed), else 0; -1 for an id that edits no scan.
int scantools_apply_id(scan *s, int32_t id, int on);
// What a Delta id (0 Custom at hhmm, 1-9 the fixed deltas, 10 none) does
// to one scan.
void scantools_apply_delta(scan *s, int32_t id, int32_t hhmm);
// The button id that shows a sort order (-1: none selected).
int32_t scantools_order_id(uint32_t order);
// A button or the name field of the panel by id (tests and actions).
button *scantools_button(scantools *p, int32_t id);
// Sections shown (fbox state not removed).
bool scantools_section_shown(scantools *p, int section);
