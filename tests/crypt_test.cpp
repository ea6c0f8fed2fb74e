// The wrapper: padded lengths, the zero padding of the last block, refusal
// of lengths that would overrun the buffers, one-shot SHA-256 and random
// bytes through the platform's generator (OpenSSL's AES-256-ECB over the
// zero-padded input is its reference in crypto_test).
#include "crypt.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "aes.h"
#include "plat.h"
#include "testhex.h"

namespace {

const uint8_t kKey[32] = {0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae,
                          0xf0, 0x85, 0x7d, 0x77, 0x81, 0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61,
                          0x08, 0xd7, 0x2d, 0x98, 0x10, 0xa3, 0x09, 0x14, 0xdf, 0xf4};

long counter_value;
long counter_random() { return counter_value++; }

}  // namespace

TEST(Crypt, PaddedLen) {
  struct Case {
    int32_t n, want;
  } cases[] = {{0, 0}, {1, 16}, {15, 16}, {16, 16}, {17, 32}, {-1, 0}, {INT32_MIN, 0},
               {INT32_MAX - 15, INT32_MAX - 15}, {INT32_MAX - 14, -1}, {INT32_MAX, -1}};
  for (const Case& c : cases) EXPECT_EQ(crypt_padded_len(c.n), c.want) << c.n;
}

TEST(Crypt, SeventeenBytesPadToTwoBlocks) {
  uint8_t in[17];
  for (int i = 0; i < 17; i++) in[i] = uint8_t(0xa0 + i);
  uint8_t out[32];
  ASSERT_EQ(crypt_encrypt(out, in, 17, kKey), 32);

  // The second block is the last byte and fifteen zeros, encrypted alone.
  uint8_t second[16] = {in[16]}, want[16];
  aes_schedule ks;
  int rounds = aes_set_encrypt_key(&ks, kKey, 256);
  aes_encrypt_block(&ks, rounds, second, want);
  EXPECT_EQ(hex(out + 16, 16), hex(want, 16));

  uint8_t back[32];
  ASSERT_EQ(crypt_decrypt(back, out, 32, kKey), 32);
  uint8_t expect[32] = {};
  memcpy(expect, in, 17);
  EXPECT_EQ(hex(back, 32), hex(expect, 32));
}

TEST(Crypt, InPlaceRoundTrip) {
  uint8_t buf[48], plain[48];
  for (int i = 0; i < 48; i++) plain[i] = buf[i] = uint8_t(i * 7);
  ASSERT_EQ(crypt_encrypt(buf, buf, 48, kKey), 48);
  EXPECT_NE(hex(buf, 48), hex(plain, 48));
  ASSERT_EQ(crypt_decrypt(buf, buf, 48, kKey), 48);
  EXPECT_EQ(hex(buf, 48), hex(plain, 48));
}

TEST(Crypt, DecryptRefusesPartialBlocks) {
  // Buffers exactly n bytes long: decrypting a rounded-up block count would
  // read and write past them.
  for (int32_t n : {1, 15, 17, 31, 33}) {
    std::unique_ptr<uint8_t[]> in(new uint8_t[n]), out(new uint8_t[n]);
    memset(in.get(), 0x5a, n);
    memset(out.get(), 0xee, n);
    EXPECT_EQ(crypt_decrypt(out.get(), in.get(), n, kKey), -1) << n;
    for (int32_t i = 0; i < n; i++) ASSERT_EQ(out[i], 0xee) << "byte " << i << " of " << n;
  }
  // Nothing to do below one byte; the buffers are not touched.
  uint8_t untouched = 0xee;
  EXPECT_EQ(crypt_decrypt(&untouched, &untouched, 0, kKey), 0);
  EXPECT_EQ(crypt_decrypt(&untouched, &untouched, -16, kKey), 0);
  EXPECT_EQ(untouched, 0xee);
}

TEST(Crypt, EncryptRefusesLengthsWhosePaddingOverflows) {
  uint8_t in[16] = {}, out[16] = {};
  EXPECT_EQ(crypt_encrypt(out, in, 0x80000000u, kKey), -1);
  EXPECT_EQ(crypt_encrypt(out, in, 0xffffffffu, kKey), -1);
  EXPECT_EQ(hex(out, 16), std::string(32, '0'));
}

TEST(Crypt, Sha256OneShot) {
  uint8_t d[32];
  EXPECT_EQ(crypt_sha256(d, "abc", 3), 0);
  EXPECT_EQ(hex(d, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(crypt_sha256(d, nullptr, 0), 0);
  EXPECT_EQ(hex(d, 32), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Crypt, RandomComesFromThePlatformGenerator) {
  plat_set_test_random(counter_random);
  uint8_t want[40], got[41];
  counter_value = 1000;
  plat_random_bytes(want, 40);
  counter_value = 1000;
  memset(got, 0xcc, sizeof got);
  crypt_random(got, 40);
  plat_set_test_random(nullptr);

  EXPECT_EQ(hex(got, 40), hex(want, 40));
  EXPECT_NE(got[0], got[1]) << "the generator's values should reach the buffer";
  EXPECT_EQ(got[40], 0xcc) << "wrote past the requested length";
}
