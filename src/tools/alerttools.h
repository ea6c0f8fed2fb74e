// The alert panel: the tool panel of the alerts window. It orders and
// filters the alert list, edits the triggers of the current alert (low and
// high price, minimum volume, news), adds, removes and restarts alerts, sets
// the defaults new alerts take and shows or hides the alerts ticker. It holds
// no alert data: everything is read from and written to the alerts window's
// grid (its owner) and the alert list. Main thread only.
#pragma once

#include <cstdint>

#include "tools/tools.h"
#include "ui/button.h"

struct fbox;
struct flyaway;
struct instr;
struct label;
struct textbox;

// Sections of the panel, in their order.
enum alerttools_section : int {
  ALERTTOOLS_ORDER, ALERTTOOLS_SELECT, ALERTTOOLS_TRIGGERS, ALERTTOOLS_DEFAULTS, ALERTTOOLS_TICKER,
  kAlerttoolsSections = 5,
};

constexpr int kAlerttoolsCodeMax = 31;  // characters of a typed code looked at

struct alerttools : tools {
  fbox *box;
  flyaway *section[kAlerttoolsSections];
  button_group order, fired, movement;
  button *low, *high, *volume, *news, *unset, *exact, *any;
  textbox *code, *min_price, *max_price, *min_volume;
  button *news_trigger;
  label *info, *info2;  // the last price or index value; the volume
  button *make_new, *remove, *reset;
  button *default_news, *ticker;
};

typeid_t alerttools_type();
inline bool alerttools_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), alerttools_type());
}
// The panel of an alerts window (parent) editing its grid (alerts).
alerttools *alerttools_new(widget *parent, widget *alerts);

// The instrument a typed code names: at most 31 characters, upper-cased; a
// "." ends the code and the letter after it picks the exchange ("N" 1,
// "A" 0, anything else the default one); stocks before indices. Null when
// the exchange or the instrument is unknown.
instr *alerttools_lookup(const char *text);
// The title's description of a grid's settings (the text lives until the
// next call).
const char *alerttools_summary_of(uint32_t order, uint32_t trigger_filter, uint32_t fired_filter);
// A button of the panel by id (tests and actions).
button *alerttools_button(alerttools *p, int32_t id);

