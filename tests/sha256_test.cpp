// SHA-256 against the FIPS 180-2 examples and, with random update splits,
// against OpenSSL's SHA-256.
#include "sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#ifdef AMBIT_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

namespace {

std::string hex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; i++) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

std::string sha256_hex(std::string_view text) {
  sha256_ctx ctx;
  uint8_t d[32];
  sha256_init(&ctx);
  sha256_update(&ctx, text.data(), uint32_t(text.size()));
  sha256_final(&ctx, d);
  return hex(d, sizeof d);
}

}  // namespace

TEST(Sha256, StandardExamples) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 448 bits: the padding needs a second block.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
  for (const Case& c : cases) EXPECT_EQ(sha256_hex(c.in), c.want) << '"' << c.in << '"';
}

TEST(Sha256, OneMillionAs) {
  const char* want = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
  std::string million(1000000, 'a');
  EXPECT_EQ(sha256_hex(million), want);

  // The same message in pieces of 997 bytes, which never line up with a block.
  sha256_ctx ctx;
  sha256_init(&ctx);
  for (size_t pos = 0; pos < million.size(); pos += 997)
    sha256_update(&ctx, million.data() + pos, uint32_t(std::min<size_t>(997, million.size() - pos)));
  uint8_t d[32];
  sha256_final(&ctx, d);
  EXPECT_EQ(hex(d, 32), want);
}

TEST(Sha256, MatchesOpenSslWithRandomSplits) {
#ifndef AMBIT_HAVE_OPENSSL
  GTEST_SKIP() << "built without OpenSSL";
#else
  EVP_MD* md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  ASSERT_NE(md, nullptr);

  std::mt19937 rng(1802);
  for (uint32_t len = 0; len <= 300; len++) {
    std::vector<uint8_t> data(len);
    for (uint8_t& b : data) b = uint8_t(rng());
    uint8_t want[32];
    unsigned int want_len = 0;
    ASSERT_EQ(EVP_Digest(data.data(), len, want, &want_len, md, nullptr), 1);
    for (int trial = 0; trial < 3; trial++) {
      sha256_ctx ctx;
      sha256_init(&ctx);
      // Pieces of 0 to 70 bytes, so updates start and end anywhere in a
      // block and some are empty.
      for (uint32_t pos = 0; pos < len;) {
        uint32_t piece = std::min<uint32_t>(rng() % 71, len - pos);
        sha256_update(&ctx, data.data() + pos, piece);
        pos += piece;
      }
      uint8_t got[32];
      sha256_final(&ctx, got);
      ASSERT_EQ(hex(got, 32), hex(want, want_len)) << "length " << len << ", trial " << trial;
    }
  }
  EVP_MD_free(md);
#endif
}
