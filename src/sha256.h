// SHA-256 message digest (FIPS 180-2), streaming: init, any number of updates,
// final. Plain computation on caller-owned memory.
#pragma once
#include <cstdint>

struct sha256_ctx {
  uint32_t state[8];   // running H0..H7
  uint64_t bits;       // message length so far, in bits
  uint8_t buffer[64];  // bytes of the block not yet transformed
};

void sha256_init(sha256_ctx* ctx);
// Adds `len` bytes; `data` may be null when `len` is 0.
void sha256_update(sha256_ctx* ctx, const void* data, uint32_t len);
// Pads, writes the 32-byte digest and leaves the context spent (call
// sha256_init before reusing it).
void sha256_final(sha256_ctx* ctx, uint8_t digest[32]);
