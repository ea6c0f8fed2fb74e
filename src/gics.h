// Industry classification: names and levels of sectors, industry groups,
// industries and sub-industries, and the map from exchange sector indices to
// classification codes. Built in, filled once at start, read-only after.
#pragma once
#include <cstdint>

// A code is the 8-digit classification written digit for digit as hex
// (sub-industry 10101010 is 0x10101010). The mask gives the level.
constexpr uint32_t kGicsSector = 0xFF000000u;
constexpr uint32_t kGicsIndustryGroup = 0xFFFF0000u;
constexpr uint32_t kGicsIndustry = 0xFFFFFF00u;
constexpr uint32_t kGicsSubIndustry = 0xFFFFFFFFu;

struct gics_entry {
  uint32_t code;  // 0: empty slot
  uint32_t mask;
  const char* name;
  const char* short_name;  // null when there is none
};

// Makes the table and fills it with the built-in classification; 0 / -1.
int gics_init(void);
void gics_fini(void);
// Adds or overwrites the entry of `code`. The strings are not copied: they
// must live until gics_fini. 0 / -1 when no slot is left.
int gics_add(uint32_t code, uint32_t mask, const char* name, const char* short_name);
// Adds the built-in classification in its order; -1 at the first failure.
int gics_load(void);
const char* gics_name(uint32_t code);        // null when absent
const char* gics_short_name(uint32_t code);  // null when absent or none
uint32_t gics_level(uint32_t code);          // the mask, 0 when absent
// The code of the first sector-index row with this exchange and index code,
// 0 when there is none.
uint32_t gics_code_for_index(int32_t exchange, const char* index_code);

// Walks the occupied slots in slot order; `cursor` starts at 0. Null at the end.
const gics_entry* gics_next(int32_t* cursor);
// The built-in additions in the order gics_load makes them (`count` set).
const gics_entry* gics_builtin(int32_t* count);
