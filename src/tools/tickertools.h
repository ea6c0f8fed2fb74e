// The ticker panel: the tool panel of a screen's ticker bar. It edits one
// ticker at a time, one of the four market tickers or the alerts ticker:
// when it is shown, which exchanges and instrument classes it carries, its
// trade, quote, index and news filters and its price, volume and value
// bounds. Its parent and owner are the ticker bar. Main thread only.
#pragma once

#include <cstdint>

#include "tools/tools.h"
#include "ui/button.h"

struct fbox;
struct flyaway;
struct textbox;
struct ticker;

// Sections of the panel, in their order.
enum ticktools_section : int {
  TICKTOOLS_SHOW, TICKTOOLS_SELECT, TICKTOOLS_TRADES, TICKTOOLS_QUOTES, TICKTOOLS_INDICES, TICKTOOLS_NEWS,
  kTicktoolsSections = 6,
};

constexpr int32_t kTicktoolsAlerts = -1;  // `ticker` when the alerts ticker is edited
constexpr int kTicktoolsBounds = 6;        // price, volume, value: min then max

struct ticktools : tools {
  int32_t ticker;  // 0-3 market ticker 1-4, or kTicktoolsAlerts
  button_group tickers;
  fbox *box;
  flyaway *section[kTicktoolsSections];
  button_group show;
  button *when_open;
  button *asx, *nzx, *derivs, *indices, *groups;
  textbox *bound[kTicktoolsBounds];
  button_group trades;
  button *trades_none;
  button *top_level, *change, *quotes_none;
  button *major, *sector, *other, *indices_none;
  button *sensitive, *related, *regular, *news_none;
};

typeid_t ticktools_type();
inline bool ticktools_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), ticktools_type());
}
// The panel of a ticker bar (its parent and owner).
ticktools *ticktools_new(widget *tickbar, widget *owner);
// The callbacks of the panel's buttons and bound fields.
void ticktools_on_button(button *b, uint32_t state, void *arg, int32_t id);
void ticktools_on_entry(textbox *t, int code, void *arg, int32_t id);

// The ticker the panel edits (null when its bar has none).
ticker *ticktools_ticker(ticktools *p);
// What a button id does to a ticker (0-3 and 34 choose the ticker and 33
// opens the group bar: they are the panel's, not the ticker's); `on` is the
// toggle's new state. -1 for an id that edits no ticker setting.
int ticktools_apply_id(ticker *t, int32_t id, int on);
// A button of the panel by id (tests).
button *ticktools_button(ticktools *p, int32_t id);
// Sections shown (fbox state not removed).
bool ticktools_section_shown(ticktools *p, int section);
