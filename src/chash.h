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
  void** sorted;        // all `count` records: the first `ordered` in strcmp order, the rest as they came
  uint64_t ordered;     // the leading records of `sorted` known to be in key order
};

// How chash_insert places a record in the ordered array.
constexpr int32_t kChashAppend = 0;   // at the end: a bulk add, chash_sort after the last record
constexpr int32_t kChashOrdered = 1;  // in its key place at once: O(count) when it arrives out of order
// Out-of-order records wait at the end, at most kChashTail of them, and are
// merged in one pass when the tail is full or chash_settle is called: one
// shift of the array per kChashTail records instead of one per record.
constexpr int32_t kChashSettled = 2;
constexpr uint64_t kChashTail = 64;

struct chash_iter {
  uint64_t next;
  uint64_t size;
};

int chash_init(chash* t, uint32_t expected);
int chash_resize(chash* t, int32_t count);
int chash_add(chash* t, void* record);
// keep_sorted: kChashAppend, kChashOrdered or kChashSettled.
int chash_insert(chash* t, void* record, int32_t keep_sorted);
// Merges the records waiting behind the ordered part into their key places,
// so the whole array is in key order. 0, or -1 (nothing changed) when memory
// runs out.
int chash_settle(chash* t);
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
