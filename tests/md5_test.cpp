// MD5 against the RFC 1321 test suite and, with random update splits,
// against OpenSSL's MD5.
#include "md5.h"

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
#endif

namespace {

using Md5Digest = StreamingDigest<md5_ctx, md5_init, md5_update, md5_final, 16>;
constexpr auto md5_hex = Md5Digest::hex_of;

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
      uint8_t got[16];
      Md5Digest::in_pieces(data, rng, got);
      ASSERT_EQ(hex(got, 16), hex(want, want_len)) << "length " << len << ", trial " << trial;
    }
  }
  EVP_MD_free(md);
#endif
}
