// Test support for the streaming digests (init, update, final): the digest
// of a text as hex, and the digest of bytes fed in random pieces, which the
// digest tests compare with OpenSSL's one-shot answer.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "testhex.h"

template <class Ctx, void (*Init)(Ctx*), void (*Update)(Ctx*, const void*, uint32_t), void (*Final)(Ctx*, uint8_t*),
          size_t N>
struct StreamingDigest {
  static constexpr size_t kSize = N;

  // The digest of `text` in one update, as lower-case hex.
  static std::string hex_of(std::string_view text) {
    Ctx ctx;
    uint8_t d[N];
    Init(&ctx);
    Update(&ctx, text.data(), uint32_t(text.size()));
    Final(&ctx, d);
    return hex(d, sizeof d);
  }

  // The digest of `data` fed in pieces of 0 to 70 bytes drawn from `rng`, so
  // updates start and end anywhere in a block and some are empty.
  static void in_pieces(const std::vector<uint8_t>& data, std::mt19937& rng, uint8_t out[N]) {
    Ctx ctx;
    Init(&ctx);
    const uint32_t len = uint32_t(data.size());
    for (uint32_t pos = 0; pos < len;) {
      uint32_t piece = std::min<uint32_t>(rng() % 71, len - pos);
      Update(&ctx, data.data() + pos, piece);
      pos += piece;
    }
    Final(&ctx, out);
  }
};
