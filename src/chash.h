// String-keyed open-addressing hash set of records whose first field is their
// NUL-terminated key, with a sorted array of the same records for ordered walks.
#pragma once
#include <cstdint>

struct chash {
  uint64_t count;
  uint64_t size;        // number of slots: odd, prime from 8 on
  uint64_t collisions;  // insertions that needed more than one probe
  uint64_t changes;     // odd while the sorted array is being shifted
  void** slots;         // 0 empty, 1 deleted, else a record
  void** sorted;        // the first `count` records in strcmp order
};

struct chash_iter {
  uint64_t next;
  uint64_t size;
};

int chash_init(chash* t, uint32_t expected);
int chash_resize(chash* t, int32_t count);
int chash_add(chash* t, void* record);
// keep_sorted 0 appends to the ordered array (a bulk add: chash_sort after
// the last record).
int chash_insert(chash* t, void* record, int32_t keep_sorted);
// Puts the ordered array back in key order after unsorted inserts, at once:
// O(n log n), published as one new array. 0, or -1 (nothing changed) when
// memory runs out.
int chash_sort(chash* t);
int chash_remove(chash* t, const char* key);
void* chash_find(const chash* t, const char* key);
int32_t chash_sorted_index(const chash* t, const char* key);
void* chash_sorted_next(const chash* t, int32_t* cursor);
void* chash_sorted_prev(const chash* t, int32_t* cursor);
void chash_iter_init(const chash* t, chash_iter* it);
void* chash_iter_next(const chash* t, chash_iter* it);
void chash_free(chash* t);
int chash_compare_keys(const void* a, const void* b);
