// The quote bar: the one-row grid under a window's title that shows the
// window's stock or index (grid mode 1). Main thread only.
#pragma once

#include "windows/watchlist.h"

struct quotebar : watchlist {
  instr *shown;  // the one instrument shown, or null
};

typeid_t quotebar_type();
quotebar *quotebar_cast(widget *w);  // null when w is not a quote bar
// Remove the row of the instrument shown before and show this one (null:
// none). A stock given to the index setter, or the reverse, shows nothing.
void quotebar_set_stock(quotebar *q, instr *stock);
void quotebar_set_index(quotebar *q, instr *index);
void quotebar_export(quotebar *q);
