// MD5 against the RFC 1321 test suite (OpenSSL's MD5 is its reference in
// crypto_test).
#include "md5.h"

#include <gtest/gtest.h>

#include <string>

#include "testdigest.h"

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

