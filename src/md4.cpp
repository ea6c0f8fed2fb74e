// MD4 message digest (RFC 1320). The system needs it only for the NTLM
// password hash, so it is written for clarity rather than speed: three
// rounds of sixteen steps spelled out as the RFC lists them, over a 64-byte
// block buffer that collects the bytes of partial updates.
#include "md4.h"

#include <cstring>

#include "digest_block.h"

namespace {

constexpr uint32_t kRound2 = 0x5a827999;  // sqrt(2) * 2^30
constexpr uint32_t kRound3 = 0x6ed9eba1;  // sqrt(3) * 2^30

inline uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t f(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t g(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (z & (x | y)); }
inline uint32_t h(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }

void md4_transform(uint32_t st[4], const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; i++) x[i] = digest_load_le32(block + 4 * i);
  uint32_t a = st[0], b = st[1], c = st[2], d = st[3];

#define R1(a, b, c, d, k, s) a = rotl(a + f(b, c, d) + x[k], s)
  R1(a, b, c, d, 0, 3);  R1(d, a, b, c, 1, 7);  R1(c, d, a, b, 2, 11);  R1(b, c, d, a, 3, 19);
  R1(a, b, c, d, 4, 3);  R1(d, a, b, c, 5, 7);  R1(c, d, a, b, 6, 11);  R1(b, c, d, a, 7, 19);
  R1(a, b, c, d, 8, 3);  R1(d, a, b, c, 9, 7);  R1(c, d, a, b, 10, 11); R1(b, c, d, a, 11, 19);
  R1(a, b, c, d, 12, 3); R1(d, a, b, c, 13, 7); R1(c, d, a, b, 14, 11); R1(b, c, d, a, 15, 19);
#undef R1
#define R2(a, b, c, d, k, s) a = rotl(a + g(b, c, d) + x[k] + kRound2, s)
  R2(a, b, c, d, 0, 3); R2(d, a, b, c, 4, 5); R2(c, d, a, b, 8, 9);  R2(b, c, d, a, 12, 13);
  R2(a, b, c, d, 1, 3); R2(d, a, b, c, 5, 5); R2(c, d, a, b, 9, 9);  R2(b, c, d, a, 13, 13);
  R2(a, b, c, d, 2, 3); R2(d, a, b, c, 6, 5); R2(c, d, a, b, 10, 9); R2(b, c, d, a, 14, 13);
  R2(a, b, c, d, 3, 3); R2(d, a, b, c, 7, 5); R2(c, d, a, b, 11, 9); R2(b, c, d, a, 15, 13);
#undef R2
#define R3(a, b, c, d, k, s) a = rotl(a + h(b, c, d) + x[k] + kRound3, s)
  R3(a, b, c, d, 0, 3); R3(d, a, b, c, 8, 9);  R3(c, d, a, b, 4, 11); R3(b, c, d, a, 12, 15);
  R3(a, b, c, d, 2, 3); R3(d, a, b, c, 10, 9); R3(c, d, a, b, 6, 11); R3(b, c, d, a, 14, 15);
  R3(a, b, c, d, 1, 3); R3(d, a, b, c, 9, 9);  R3(c, d, a, b, 5, 11); R3(b, c, d, a, 13, 15);
  R3(a, b, c, d, 3, 3); R3(d, a, b, c, 11, 9); R3(c, d, a, b, 7, 11); R3(b, c, d, a, 15, 15);
#undef R3

  st[0] += a;
  st[1] += b;
  st[2] += c;
  st[3] += d;
}

}  // namespace

void md4_init(md4_ctx* ctx) {
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
  ctx->bits = 0;
}

void md4_update(md4_ctx* ctx, const void* data, uint32_t len) {
  digest_block_update<md4_transform>(ctx, data, len);
}

void md4_final(md4_ctx* ctx, uint8_t digest[16]) {
  digest_block_pad<md4_transform>(ctx, false);
  for (int i = 0; i < 4; i++) digest_store_le32(digest + 4 * i, ctx->state[i]);
  memset(ctx, 0, sizeof *ctx);
}
