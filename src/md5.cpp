// MD5 message digest (RFC 1321). Four rounds of sixteen steps, each step
// spelled out with its constant and shift so the compiler keeps the whole
// state in registers; a 64-byte block buffer collects the bytes of partial
// updates, and whole blocks of a long update are hashed in place.
#include "md5.h"

#include <cstring>

#include "digest_block.h"

namespace {

inline uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

// The four auxiliary functions, in forms with fewer operations than the
// RFC's but the same values.
inline uint32_t f(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t g(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); }
inline uint32_t h(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t i(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

void md5_transform(uint32_t st[4], const uint8_t* block) {
  uint32_t x[16];
  for (int k = 0; k < 16; k++) x[k] = digest_load_le32(block + 4 * k);
  uint32_t a = st[0], b = st[1], c = st[2], d = st[3];

#define STEP(fn, a, b, c, d, k, s, t) a = b + rotl(a + fn(b, c, d) + x[k] + t, s)
  STEP(f, a, b, c, d, 0, 7, 0xd76aa478);   STEP(f, d, a, b, c, 1, 12, 0xe8c7b756);
  STEP(f, c, d, a, b, 2, 17, 0x242070db);  STEP(f, b, c, d, a, 3, 22, 0xc1bdceee);
  STEP(f, a, b, c, d, 4, 7, 0xf57c0faf);   STEP(f, d, a, b, c, 5, 12, 0x4787c62a);
  STEP(f, c, d, a, b, 6, 17, 0xa8304613);  STEP(f, b, c, d, a, 7, 22, 0xfd469501);
  STEP(f, a, b, c, d, 8, 7, 0x698098d8);   STEP(f, d, a, b, c, 9, 12, 0x8b44f7af);
  STEP(f, c, d, a, b, 10, 17, 0xffff5bb1); STEP(f, b, c, d, a, 11, 22, 0x895cd7be);
  STEP(f, a, b, c, d, 12, 7, 0x6b901122);  STEP(f, d, a, b, c, 13, 12, 0xfd987193);
  STEP(f, c, d, a, b, 14, 17, 0xa679438e); STEP(f, b, c, d, a, 15, 22, 0x49b40821);

  STEP(g, a, b, c, d, 1, 5, 0xf61e2562);   STEP(g, d, a, b, c, 6, 9, 0xc040b340);
  STEP(g, c, d, a, b, 11, 14, 0x265e5a51); STEP(g, b, c, d, a, 0, 20, 0xe9b6c7aa);
  STEP(g, a, b, c, d, 5, 5, 0xd62f105d);   STEP(g, d, a, b, c, 10, 9, 0x02441453);
  STEP(g, c, d, a, b, 15, 14, 0xd8a1e681); STEP(g, b, c, d, a, 4, 20, 0xe7d3fbc8);
  STEP(g, a, b, c, d, 9, 5, 0x21e1cde6);   STEP(g, d, a, b, c, 14, 9, 0xc33707d6);
  STEP(g, c, d, a, b, 3, 14, 0xf4d50d87);  STEP(g, b, c, d, a, 8, 20, 0x455a14ed);
  STEP(g, a, b, c, d, 13, 5, 0xa9e3e905);  STEP(g, d, a, b, c, 2, 9, 0xfcefa3f8);
  STEP(g, c, d, a, b, 7, 14, 0x676f02d9);  STEP(g, b, c, d, a, 12, 20, 0x8d2a4c8a);

  STEP(h, a, b, c, d, 5, 4, 0xfffa3942);   STEP(h, d, a, b, c, 8, 11, 0x8771f681);
  STEP(h, c, d, a, b, 11, 16, 0x6d9d6122); STEP(h, b, c, d, a, 14, 23, 0xfde5380c);
  STEP(h, a, b, c, d, 1, 4, 0xa4beea44);   STEP(h, d, a, b, c, 4, 11, 0x4bdecfa9);
  STEP(h, c, d, a, b, 7, 16, 0xf6bb4b60);  STEP(h, b, c, d, a, 10, 23, 0xbebfbc70);
  STEP(h, a, b, c, d, 13, 4, 0x289b7ec6);  STEP(h, d, a, b, c, 0, 11, 0xeaa127fa);
  STEP(h, c, d, a, b, 3, 16, 0xd4ef3085);  STEP(h, b, c, d, a, 6, 23, 0x04881d05);
  STEP(h, a, b, c, d, 9, 4, 0xd9d4d039);   STEP(h, d, a, b, c, 12, 11, 0xe6db99e5);
  STEP(h, c, d, a, b, 15, 16, 0x1fa27cf8); STEP(h, b, c, d, a, 2, 23, 0xc4ac5665);

  STEP(i, a, b, c, d, 0, 6, 0xf4292244);   STEP(i, d, a, b, c, 7, 10, 0x432aff97);
  STEP(i, c, d, a, b, 14, 15, 0xab9423a7); STEP(i, b, c, d, a, 5, 21, 0xfc93a039);
  STEP(i, a, b, c, d, 12, 6, 0x655b59c3);  STEP(i, d, a, b, c, 3, 10, 0x8f0ccc92);
  STEP(i, c, d, a, b, 10, 15, 0xffeff47d); STEP(i, b, c, d, a, 1, 21, 0x85845dd1);
  STEP(i, a, b, c, d, 8, 6, 0x6fa87e4f);   STEP(i, d, a, b, c, 15, 10, 0xfe2ce6e0);
  STEP(i, c, d, a, b, 6, 15, 0xa3014314);  STEP(i, b, c, d, a, 13, 21, 0x4e0811a1);
  STEP(i, a, b, c, d, 4, 6, 0xf7537e82);   STEP(i, d, a, b, c, 11, 10, 0xbd3af235);
  STEP(i, c, d, a, b, 2, 15, 0x2ad7d2bb);  STEP(i, b, c, d, a, 9, 21, 0xeb86d391);
#undef STEP

  st[0] += a;
  st[1] += b;
  st[2] += c;
  st[3] += d;
}

}  // namespace

void md5_init(md5_ctx* ctx) {
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
  ctx->bits = 0;
}

void md5_update(md5_ctx* ctx, const void* data, uint32_t len) {
  digest_block_update<md5_transform>(ctx, data, len);
}

void md5_final(md5_ctx* ctx, uint8_t digest[16]) {
  digest_block_pad<md5_transform>(ctx, false);
  for (int k = 0; k < 4; k++) digest_store_le32(digest + 4 * k, ctx->state[k]);
  memset(ctx, 0, sizeof *ctx);
}
