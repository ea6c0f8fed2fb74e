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
void* dalloc_alloc(int32_t size);
void* dalloc_realloc(void* p, int32_t size);
char* dalloc_strdup(const char* s);
void dalloc_free(void* p);
void dalloc_set_warn_size(int32_t bytes);
uint32_t dalloc_out_of_memory(void);
uint32_t dalloc_round_up(uint32_t value, int32_t m);
uint32_t dalloc_page_round(uint32_t size);
int32_t dalloc_page_size(void);
void dalloc_mem_stats(dalloc_mem_stats_rec* out);
