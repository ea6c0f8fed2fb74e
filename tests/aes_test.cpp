// AES against the FIPS-197 examples for all three key sizes, the expanded
// keys' last words and refused key sizes (OpenSSL's AES-ECB is its reference
// in crypto_test).
#include "aes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testhex.h"

TEST(Aes, Fips197ExamplesBothWays) {
  struct Case {
    const char* key;
    const char* plain;
    const char* cipher;
    int rounds;
  } cases[] = {
      // Appendix B.
      {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
       "3925841d02dc09fbdc118597196a0b32", 10},
      // Appendix C.1, C.2 and C.3.
      {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
       "69c4e0d86a7b0430d8cdb78070b4c55a", 10},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
       "dda97ca4864cdfe06eaf70a0ec0d7191", 12},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089", 14},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> key = unhex(c.key), plain = unhex(c.plain);
    int bits = int(key.size() * 8);
    aes_schedule enc, dec;
    ASSERT_EQ(aes_set_encrypt_key(&enc, key.data(), bits), c.rounds) << c.key;
    ASSERT_EQ(aes_set_decrypt_key(&dec, key.data(), bits), c.rounds) << c.key;
    uint8_t out[16], back[16];
    aes_encrypt_block(&enc, c.rounds, plain.data(), out);
    EXPECT_EQ(hex(out, 16), c.cipher) << "key " << c.key;
    aes_decrypt_block(&dec, c.rounds, out, back);
    EXPECT_EQ(hex(back, 16), c.plain) << "key " << c.key;
  }
}

TEST(Aes, KeyExpansionLastWords) {
  // Appendix A: the last expanded word for each key size.
  struct Case {
    const char* key;
    uint32_t last;
  } cases[] = {
      {"2b7e151628aed2a6abf7158809cf4f3c", 0xb6630ca6},
      {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", 0x01002202},
      {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", 0x706c631e},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> key = unhex(c.key);
    aes_schedule ks;
    int rounds = aes_set_encrypt_key(&ks, key.data(), int(key.size() * 8));
    ASSERT_GT(rounds, 0);
    EXPECT_EQ(ks.rk[4 * rounds + 3], c.last) << c.key;
  }
}

TEST(Aes, RejectsOtherKeySizes) {
  uint8_t key[32] = {};
  aes_schedule ks;
  for (int bits : {0, 64, 127, 129, 255, 512, -128}) {
    EXPECT_EQ(aes_set_encrypt_key(&ks, key, bits), -1) << bits;
    EXPECT_EQ(aes_set_decrypt_key(&ks, key, bits), -1) << bits;
  }
}

