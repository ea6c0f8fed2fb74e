// Minute-bar records of past days: made for the past-day trade reader, kept
// by day records, and freed after the deferral delay because the
// user-interface thread may be drawing a day's bars when it is removed.
#include <cstring>

#include "dalloc.h"
#include "dectrades.h"
#include "lazyfree.h"
#include "ssevent.h"

namespace {

void free_bars(void* p) { dalloc_free(p); }

}  // namespace

ss_day_bars* ssevent_new_day_record(void) {
  auto* b = static_cast<ss_day_bars*>(dalloc_alloc(sizeof(ss_day_bars)));
  memset(b, 0, sizeof *b);
  return b;
}

void ssevent_free_day_record(ss_day_bars* bars) {
  if (bars) lazyfree_later(free_bars, bars);
}
