// MD5 message digest (RFC 1321), streaming: init, any number of updates, final.
// Plain computation on caller-owned memory.
#pragma once
#include <cstdint>

struct md5_ctx {
  uint32_t state[4];   // running A, B, C, D
  uint64_t bits;       // message length so far, in bits
  uint8_t buffer[64];  // bytes of the block not yet transformed
};

void md5_init(md5_ctx* ctx);
// Adds `len` bytes; `data` may be null when `len` is 0.
void md5_update(md5_ctx* ctx, const void* data, uint32_t len);
// Pads, writes the 16-byte digest and leaves the context spent (call
// md5_init before reusing it).
void md5_final(md5_ctx* ctx, uint8_t digest[16]);
