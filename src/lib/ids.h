// Ids of the user's registries (watchlists, scans, chart styles, feeds): 1
// and up, a new record taking the one above the highest ever used. A stored
// configuration may name the highest id there is; past it, a new record
// takes the lowest id not in use rather than running off the end.
#pragma once
#include <cstdint>

// The id for a new record given the highest used so far, or the lowest
// free one when that is the largest id; taken(id) says whether a record
// holds id. -1 when every id is taken. The search is O(records^2) with a
// linear taken(), paid only after a record with the largest id exists.
template <typename Taken>
int32_t ids_next(int32_t highest, Taken taken) {
  if (highest < INT32_MAX) return highest < 0 ? 1 : highest + 1;
  for (int32_t id = 1; id < INT32_MAX; id++)
    if (!taken(id)) return id;
  return -1;
}
