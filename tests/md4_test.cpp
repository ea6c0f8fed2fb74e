// MD4 against the RFC 1320 test suite and, with random update splits,
// against OpenSSL's MD4 from its legacy provider.
#include "md4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#ifdef AMBIT_HAVE_OPENSSL
#include <openssl/evp.h>
#include <openssl/provider.h>
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

std::string md4_hex(std::string_view text) {
  md4_ctx ctx;
  uint8_t d[16];
  md4_init(&ctx);
  md4_update(&ctx, text.data(), uint32_t(text.size()));
  md4_final(&ctx, d);
  return hex(d, sizeof d);
}

}  // namespace

TEST(Md4, Rfc1320Suite) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
      {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
      {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
      {"message digest", "d9130a8164549fe818874806e1c7014b"},
      {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "043f8582f241db351ce627e153e7f0e4"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "e33b4ddc9c38f2199c3e7b164fcc0536"},
  };
  for (const Case& c : cases) EXPECT_EQ(md4_hex(c.in), c.want) << '"' << c.in << '"';
}

TEST(Md4, MatchesOpenSslWithRandomSplits) {
#ifndef AMBIT_HAVE_OPENSSL
  GTEST_SKIP() << "built without OpenSSL";
#else
  // MD4 lives in OpenSSL's legacy provider; loading any provider explicitly
  // stops the default one loading by itself, so load both.
  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  if (!legacy) GTEST_SKIP() << "OpenSSL legacy provider not loadable: no MD4 to compare with";
  OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
  EVP_MD* md = EVP_MD_fetch(nullptr, "MD4", nullptr);
  ASSERT_NE(md, nullptr);

  std::mt19937 rng(1320);
  for (uint32_t len = 0; len <= 300; len++) {
    std::vector<uint8_t> data(len);
    for (uint8_t& b : data) b = uint8_t(rng());
    uint8_t want[16];
    unsigned int want_len = 0;
    ASSERT_EQ(EVP_Digest(data.data(), len, want, &want_len, md, nullptr), 1);
    for (int trial = 0; trial < 3; trial++) {
      md4_ctx ctx;
      md4_init(&ctx);
      // Pieces of 0 to 70 bytes, so updates start and end anywhere in a
      // block and some are empty.
      for (uint32_t pos = 0; pos < len;) {
        uint32_t piece = std::min<uint32_t>(rng() % 71, len - pos);
        md4_update(&ctx, data.data() + pos, piece);
        pos += piece;
      }
      uint8_t got[16];
      md4_final(&ctx, got);
      ASSERT_EQ(hex(got, 16), hex(want, want_len)) << "length " << len << ", trial " << trial;
    }
  }
  EVP_MD_free(md);
  OSSL_PROVIDER_unload(deflt);
  OSSL_PROVIDER_unload(legacy);
#endif
}
