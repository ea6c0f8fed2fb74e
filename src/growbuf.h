// A growable byte buffer: every encoder writes into one, every link reads into one.
#pragma once
#include <cstdint>

struct growbuf;
typedef void (*growbuf_relocate_fn)(growbuf* gb, void* old_data, int32_t old_len);

struct growbuf {
  int32_t len;
  int32_t maxlen;    // capacity
  int32_t initsize;  // page-rounded
  int32_t incr;      // growth step, page-rounded
  uint8_t* data;
  growbuf_relocate_fn relocate;
  void* context;
};

int growbuf_init(growbuf* gb, int32_t initial, int32_t step);
void growbuf_reset(growbuf* gb);
int growbuf_shrink(growbuf* gb);
void growbuf_free(growbuf* gb);
int growbuf_truncate(growbuf* gb, int32_t n);
void growbuf_set_relocate(growbuf* gb, growbuf_relocate_fn fn, void* context);
uint8_t* growbuf_reserve(growbuf* gb, uint32_t n);  // write pointer or null
int growbuf_commit(growbuf* gb, uint32_t n);
int growbuf_append(growbuf* gb, const void* bytes, uint32_t n);  // n = 0xffffffff: a string
int growbuf_copy(growbuf* dst, const growbuf* src);
