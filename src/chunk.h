// Three bump-allocation arenas of 65536-byte chunks, freed all at once.
#pragma once
#include <cstdint>

constexpr int kChunkArenas = 3;
constexpr int32_t kChunkSize = 65536;
constexpr int32_t kChunkMaxAlloc = 65520;

int chunk_init(void);
// n bytes (0..65520) from arena 0..2, placed right after the previous request
// with no alignment; null after an ERROR line for a bad arena or size.
void* chunk_alloc(int32_t arena, int32_t n);
char* chunk_strdup(int32_t arena, const char* s);
void chunk_fini(void);  // frees every chunk; safe to call twice
