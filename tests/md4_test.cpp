// MD4 against the RFC 1320 test suite (OpenSSL's MD4 is its reference in
// crypto_test).
#include "md4.h"

#include <gtest/gtest.h>

#include <string>

#include "testdigest.h"

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

