// MD4 against the RFC 1320 test suite and, with random update splits,
// against OpenSSL's MD4 from its legacy provider.
#include "md4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "testdigest.h"
#include "testhex.h"

#ifdef AMBIT_HAVE_OPENSSL
#include <openssl/evp.h>
#include <openssl/provider.h>
#endif

namespace {

using Md4Digest = StreamingDigest<md4_ctx, md4_init, md4_update, md4_final, 16>;
constexpr auto md4_hex = Md4Digest::hex_of;

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
      uint8_t got[16];
      Md4Digest::in_pieces(data, rng, got);
      ASSERT_EQ(hex(got, 16), hex(want, want_len)) << "length " << len << ", trial " << trial;
    }
  }
  EVP_MD_free(md);
  OSSL_PROVIDER_unload(deflt);
  OSSL_PROVIDER_unload(legacy);
#endif
}
