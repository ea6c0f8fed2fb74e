// Guarded heap allocation: failure ends the process, so callers never test.
#pragma once
#include <cstdint>

struct dalloc_mem_stats_rec {
  uint64_t virtual_size;   // of the process, bytes
  uint64_t resident_size;  // of the process, bytes
  uint64_t physical_mem;   // of the machine, bytes
};

int dalloc_init(void);
void dalloc_fini(void);
// The largest block the allocator gives. Every size the engine derives from
// input (buffers, tables, files, slots) is checked against it first.
constexpr int32_t kDallocMax = 1999999999;

// Sizes outside 1..kDallocMax and heap failures end the process (FATAL), so
// these never return null.
void* dalloc_alloc(int32_t size);
void* dalloc_realloc(void* p, int32_t size);
char* dalloc_strdup(const char* s);  // s must not be null
void dalloc_free(void* p);           // null is refused with an ERROR line
// Allocations above `bytes` log a WARN line (0 = never).
void dalloc_set_warn_size(int32_t bytes);
uint32_t dalloc_out_of_memory(void);  // 1 once any allocation failed
// `value` rounded up to a multiple of m. m < 1 logs an ERROR and gives value
// unchanged; a result beyond 32 bits logs an ERROR and gives 0.
uint32_t dalloc_round_up(uint32_t value, int32_t m);
uint32_t dalloc_page_round(uint32_t size);
int32_t dalloc_page_size(void);  // valid before dalloc_init too
// Process virtual and resident size and the machine's memory; a figure that
// cannot be read is 0 after an OSERR line.
void dalloc_mem_stats(dalloc_mem_stats_rec* out);
