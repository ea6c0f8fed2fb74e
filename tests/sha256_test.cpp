// SHA-256 against the FIPS 180-2 examples, one million "a"s whole and in
// pieces (OpenSSL's SHA-256 is its reference in crypto_test).
#include "sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "testdigest.h"
#include "testhex.h"

namespace {

using Sha256Digest = StreamingDigest<sha256_ctx, sha256_init, sha256_update, sha256_final, 32>;
constexpr auto sha256_hex = Sha256Digest::hex_of;

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

