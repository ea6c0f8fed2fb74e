// Drag and drop: the one process-wide record of what the user is dragging,
// so that any widget under the pointer can ask what is coming and accept or
// refuse it. A start operation ends the previous drag first and puts the
// drag label beside the pointer (the tooltip); the screens clear the state
// at the end of every drag, dropped or not. Main thread only.
#pragma once

#include <cstdint>

#include "sstime.h"

struct instr;
struct ss_news;
struct scan;

// Drag kinds.
enum : uint32_t {
  DND_NONE = 0,
  DND_STOCK = 1,  // any instrument given as a stock, or a stock at a trade time
  DND_INDEX = 2,
  DND_ISSUER = 3,
  DND_SCAN = 4,
  DND_NEWS = 5,
  DND_PROFILE = 6,
  DND_TOOL_ENTRY = 8,
};

int dnd_init(void);  // 0: nothing to prepare
void dnd_fini(void);  // a held scan is unwatched

// Starts. Each ends the previous drag (unwatching a held scan), clears every
// field, fills its own and shows its label.
// By the instrument's kind: stock -> 1, index -> 2, issuer -> 3; another kind
// (or none) ends the drag without a label.
void dnd_begin_instr(instr *in);
void dnd_begin_stock(instr *in);
void dnd_begin_issuer(instr *in);
// The instrument the item belongs to and the item; labels: the instrument's
// label and the headline.
void dnd_begin_news(instr *in, ss_news *item);
void dnd_begin_profile(instr *issuer);
// A stock at a trade time. Second label: the time, with the short weekday
// and the ordinal day when it lies before the exchange's current date.
void dnd_begin_trade(instr *stock, ss_time time);
// The scan is watched while it is held; when it is deleted the drag ends.
void dnd_begin_scan(scan *s);
// An entry of the chart tool panel (which keeps what is dragged); no label.
void dnd_begin_tool_entry(void);
// Held scan unwatched, every field cleared, labels emptied, tooltip hidden.
void dnd_clear(void);

uint32_t dnd_kind(void);
instr *dnd_instrument(void);  // the instrument field, whatever the kind
instr *dnd_subject(void);     // kinds 3, 5 and 6, else null
// What a drop target should act on: kind 1 the instrument, 2 the index, 3,
// 5 and 6 the subject; otherwise the instrument when set, else the index.
instr *dnd_object(void);
scan *dnd_scan(void);         // kind 4, else null
ss_news *dnd_news_item(void); // kind 5, else null
int dnd_is_tool_entry(void);
ss_time dnd_time(void);
// The two label lines shown for the drag ("" when none).
const char *dnd_label(void);
const char *dnd_label2(void);

// An instrument's label: its name when it has a non-empty one, else its code.
const char *dnd_instr_label(const instr *in);
