// MD5 against the RFC 1321 test suite and, with random update splits,
// against OpenSSL's MD5.
#include "md5.h"

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

std::string md5_hex(std::string_view text) {
  md5_ctx ctx;
  uint8_t d[16];
  md5_init(&ctx);
  md5_update(&ctx, text.data(), uint32_t(text.size()));
  md5_final(&ctx, d);
  return hex(d, sizeof d);
}

}  // namespace

TEST(Md5, Rfc1321Suite) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) EXPECT_EQ(md5_hex(c.in), c.want) << '"' << c.in << '"';
}

TEST(Md5, MatchesOpenSslWithRandomSplits) {
#ifndef AMBIT_HAVE_OPENSSL
  GTEST_SKIP() << "built without OpenSSL";
#else
  EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);
  ASSERT_NE(md, nullptr);

  std::mt19937 rng(1321);
  for (uint32_t len = 0; len <= 300; len++) {
    std::vector<uint8_t> data(len);
    for (uint8_t& b : data) b = uint8_t(rng());
    uint8_t want[16];
    unsigned int want_len = 0;
    ASSERT_EQ(EVP_Digest(data.data(), len, want, &want_len, md, nullptr), 1);
    for (int trial = 0; trial < 3; trial++) {
      md5_ctx ctx;
      md5_init(&ctx);
      // Pieces of 0 to 70 bytes, so updates start and end anywhere in a
      // block and some are empty.
      for (uint32_t pos = 0; pos < len;) {
        uint32_t piece = std::min<uint32_t>(rng() % 71, len - pos);
        md5_update(&ctx, data.data() + pos, piece);
        pos += piece;
      }
      uint8_t got[16];
      md5_final(&ctx, got);
      ASSERT_EQ(hex(got, 16), hex(want, want_len)) << "length " << len << ", trial " << trial;
    }
  }
  EVP_MD_free(md);
#endif
}
