// MD4 message digest (RFC 1320), streaming: init, any number of updates, final.
// Used for the NTLM password hash. Plain computation on caller-owned memory.
#pragma once
#include <cstdint>

struct md4_ctx {
  uint32_t state[4];   // running A, B, C, D
  uint64_t bits;       // message length so far, in bits
  uint8_t buffer[64];  // bytes of the block not yet transformed
};

void md4_init(md4_ctx* ctx);
// Adds `len` bytes; `data` may be null when `len` is 0.
void md4_update(md4_ctx* ctx, const void* data, uint32_t len);
// Pads, writes the 16-byte digest and leaves the context spent (call
// md4_init before reusing it).
void md4_final(md4_ctx* ctx, uint8_t digest[16]);
