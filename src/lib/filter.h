// Instrument filters: a small value object selecting instruments by industry
// classification codes (any level) and by watchlist membership. A filter
// reads as: in one of its codes, or (in one of its watchlists, or in any
// watchlist (wild), or in no watchlist (anti-wild)). User-interface thread.
#pragma once
#include <cstdint>

struct instr;
struct ss_stock;

constexpr uint32_t kFilterWild = 0x1;
constexpr uint32_t kFilterAntiWild = 0x2;

// A growable list: {count, capacity, values...} in one block.
struct filter_list {
  int32_t count;
  int32_t capacity;
  uint32_t values[];
};

struct filter {
  uint32_t flags;
  filter_list* codes;
  filter_list* masks;  // level mask of each code, 0 for an unknown code
  filter_list* watchlists;  // ids, stored as u32
};

int filter_init(void);  // 0 / -1
void filter_fini(void);

filter* filter_alloc(void);  // empty, flags 0; null on failure
void filter_free(filter* f);
filter* filter_clone(const filter* f);
int filter_copy(filter* dst, const filter* src);  // values re-added by the add rules
void filter_clear(filter* f);                      // the lists; flags kept
int filter_is_empty(const filter* f);
int filter_has_codes(const filter* f);
int filter_add_code(filter* f, uint32_t code);
int filter_remove_code(filter* f, uint32_t code);
int filter_set_code(filter* f, uint32_t code, int on);
int filter_has_code(const filter* f, uint32_t code);
int filter_add_watchlist(filter* f, int32_t id);  // -1 when no such watchlist
int filter_set_watchlist(filter* f, int32_t id, int on);
int filter_has_watchlist(const filter* f, int32_t id);
void filter_set_wild(uint32_t* flags, int on);
void filter_set_anti_wild(uint32_t* flags, int on);
int filter_wild(uint32_t flags);
int filter_anti_wild(uint32_t flags);

// Matching. Ids of watchlists that no longer exist are dropped from the
// filter (logged once) at the match that finds them missing.
int filter_match_stock(filter* f, const ss_stock* stock, const instr* issuer);
int filter_match_issuer(filter* f, const instr* issuer_or_index);
int filter_match_instr(filter* f, const instr* in);

int filter_equal(const filter* a, const filter* b);
// One upper-case line (", IN X OR Y, OR IN ENERGY"); "" for null or empty.
// The text lives until the next call.
const char* filter_describe(const filter* f);

// Configuration keys inside the owner's open block.
void filter_save(const filter* f);
void filter_load(filter* f);
