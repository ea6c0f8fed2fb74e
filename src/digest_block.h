// The 64-byte block buffering that MD4, MD5 and SHA-256 share: updates
// collect bytes until a whole block can go through the digest's transform,
// and the final block is padded with a one bit, zeros and the message length
// in bits. Header-only so each digest's transform is inlined into its own
// copy of the loop.
#pragma once
#include <cstdint>
#include <cstring>

constexpr uint32_t kDigestBlockBytes = 64;
// Where the 8-byte length field starts in the final block.
constexpr uint32_t kDigestLengthAt = 56;

inline uint32_t digest_load_le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void digest_store_le32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

inline uint32_t digest_load_be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline void digest_store_be32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// Adds `len` bytes to a context with `state`, `bits` (message length so far)
// and a 64-byte `buffer`. Whole blocks of a long update are transformed in
// place; only a partial block is copied.
template <void (*Transform)(uint32_t*, const uint8_t*), class Ctx>
inline void digest_block_update(Ctx* ctx, const void* data, uint32_t len) {
  if (len == 0) return;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t used = uint32_t(ctx->bits >> 3) & (kDigestBlockBytes - 1);
  ctx->bits += uint64_t(len) << 3;
  if (used) {
    uint32_t take = kDigestBlockBytes - used < len ? kDigestBlockBytes - used : len;
    memcpy(ctx->buffer + used, p, take);
    p += take;
    len -= take;
    if (used + take < kDigestBlockBytes) return;
    Transform(ctx->state, ctx->buffer);
  }
  for (; len >= kDigestBlockBytes; p += kDigestBlockBytes, len -= kDigestBlockBytes) Transform(ctx->state, p);
  if (len) memcpy(ctx->buffer, p, len);
}

// Pads and transforms the last block(s): a one bit, zeros up to 56 bytes
// into a block, then the bit count, low word first for MD4 and MD5
// (`big_endian` false) or as one big-endian number for SHA-256.
template <void (*Transform)(uint32_t*, const uint8_t*), class Ctx>
inline void digest_block_pad(Ctx* ctx, bool big_endian) {
  uint64_t bits = ctx->bits;
  uint32_t used = uint32_t(bits >> 3) & (kDigestBlockBytes - 1);
  ctx->buffer[used++] = 0x80;
  if (used > kDigestLengthAt) {
    memset(ctx->buffer + used, 0, kDigestBlockBytes - used);
    Transform(ctx->state, ctx->buffer);
    used = 0;
  }
  memset(ctx->buffer + used, 0, kDigestLengthAt - used);
  if (big_endian) {
    digest_store_be32(ctx->buffer + kDigestLengthAt, uint32_t(bits >> 32));
    digest_store_be32(ctx->buffer + kDigestLengthAt + 4, uint32_t(bits));
  } else {
    digest_store_le32(ctx->buffer + kDigestLengthAt, uint32_t(bits));
    digest_store_le32(ctx->buffer + kDigestLengthAt + 4, uint32_t(bits >> 32));
  }
  Transform(ctx->state, ctx->buffer);
}
