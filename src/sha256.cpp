// SHA-256 message digest (FIPS 180-2), used to derive block-cipher keys.
// The 64 rounds run over a 16-word rolling message schedule, eight rounds
// per loop pass with the working variables renamed instead of shifted, so
// the compiler keeps them in registers; a 64-byte block buffer collects the
// bytes of partial updates.
#include "sha256.h"

#include <cstring>

#include "digest_block.h"

namespace {

constexpr uint32_t kK[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t rotr(uint32_t x, int s) { return (x >> s) | (x << (32 - s)); }

inline uint32_t ch(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t maj(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (z & (x | y)); }
inline uint32_t big_sigma0(uint32_t x) { return rotr(x, 2) ^ rotr(x, 13) ^ rotr(x, 22); }
inline uint32_t big_sigma1(uint32_t x) { return rotr(x, 6) ^ rotr(x, 11) ^ rotr(x, 25); }
inline uint32_t small_sigma0(uint32_t x) { return rotr(x, 7) ^ rotr(x, 18) ^ (x >> 3); }
inline uint32_t small_sigma1(uint32_t x) { return rotr(x, 17) ^ rotr(x, 19) ^ (x >> 10); }

void sha256_transform(uint32_t st[8], const uint8_t* block) {
  uint32_t w[16];
  for (int t = 0; t < 16; t++) w[t] = digest_load_be32(block + 4 * t);
  uint32_t a = st[0], b = st[1], c = st[2], d = st[3];
  uint32_t e = st[4], f = st[5], g = st[6], h = st[7];

  // Rounds 16..63 compute their schedule word in place over w[t % 16].
#define SCHED(t) (w[(t) & 15] += small_sigma1(w[((t) - 2) & 15]) + w[((t) - 7) & 15] + \
                                 small_sigma0(w[((t) - 15) & 15]))
#define ROUND(a, b, c, d, e, f, g, h, t, wt)                       \
  do {                                                             \
    uint32_t t1 = h + big_sigma1(e) + ch(e, f, g) + kK[t] + (wt); \
    d += t1;                                                       \
    h = t1 + big_sigma0(a) + maj(a, b, c);                         \
  } while (0)
#define EIGHT(t, W)                              \
  ROUND(a, b, c, d, e, f, g, h, (t) + 0, W((t) + 0)); \
  ROUND(h, a, b, c, d, e, f, g, (t) + 1, W((t) + 1)); \
  ROUND(g, h, a, b, c, d, e, f, (t) + 2, W((t) + 2)); \
  ROUND(f, g, h, a, b, c, d, e, (t) + 3, W((t) + 3)); \
  ROUND(e, f, g, h, a, b, c, d, (t) + 4, W((t) + 4)); \
  ROUND(d, e, f, g, h, a, b, c, (t) + 5, W((t) + 5)); \
  ROUND(c, d, e, f, g, h, a, b, (t) + 6, W((t) + 6)); \
  ROUND(b, c, d, e, f, g, h, a, (t) + 7, W((t) + 7))
#define LOADED(t) w[t]

  EIGHT(0, LOADED);
  EIGHT(8, LOADED);
  for (int t = 16; t < 64; t += 8) {
    EIGHT(t, SCHED);
  }
#undef LOADED
#undef EIGHT
#undef ROUND
#undef SCHED

  st[0] += a;
  st[1] += b;
  st[2] += c;
  st[3] += d;
  st[4] += e;
  st[5] += f;
  st[6] += g;
  st[7] += h;
}

}  // namespace

void sha256_init(sha256_ctx* ctx) {
  static constexpr uint32_t kInit[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  memcpy(ctx->state, kInit, sizeof kInit);
  ctx->bits = 0;
}

void sha256_update(sha256_ctx* ctx, const void* data, uint32_t len) {
  digest_block_update<sha256_transform>(ctx, data, len);
}

void sha256_final(sha256_ctx* ctx, uint8_t digest[32]) {
  digest_block_pad<sha256_transform>(ctx, true);
  for (int k = 0; k < 8; k++) digest_store_be32(digest + 4 * k, ctx->state[k]);
  memset(ctx, 0, sizeof *ctx);
}
