// DES against published known answers, its key checks and the wiping of a
// schedule (OpenSSL's DES-ECB is its reference in crypto_test).
#include "des.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "testhex.h"

TEST(Des, KnownAnswersBothWays) {
  struct Case {
    const char* key;
    const char* plain;
    const char* cipher;
  } cases[] = {
      {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
      {"0000000000000000", "0000000000000000", "8CA64DE9C1B123A7"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "7359B2163E4EDC58"},
      // The LM hash of an empty password: "KGS!@#$%" under the all-zero key.
      {"0000000000000000", "4B47532140232425", "AAD3B435B51404EE"},
  };
  for (const Case& c : cases) {
    uint8_t key[8], plain[8], out[8], back[8];
    unhex(c.key, key);
    unhex(c.plain, plain);
    des_schedule ks;
    ASSERT_EQ(des_set_key(key, 8, 0, &ks), 0);
    des_encrypt_block(plain, out, &ks);
    EXPECT_EQ(hex_upper(out, 8), c.cipher) << "key " << c.key;
    des_decrypt_block(out, back, &ks);
    EXPECT_EQ(hex_upper(back, 8), c.plain) << "key " << c.key;
    des_clear(&ks);
  }
}

TEST(Des, ParityBitsDoNotChangeTheKey) {
  // NTLM spreads 7 key bytes over 8 without setting parity, so the low bit
  // of every key byte must be ignored.
  uint8_t key[8], plain[8], a[8], b[8];
  unhex("133457799BBCDFF1", key);
  unhex("0123456789ABCDEF", plain);
  des_schedule ks;
  ASSERT_EQ(des_set_key(key, 8, 0, &ks), 0);
  des_encrypt_block(plain, a, &ks);
  for (uint8_t& k : key) k ^= 1;
  ASSERT_EQ(des_set_key(key, 8, 16, &ks), 0);
  des_encrypt_block(plain, b, &ks);
  EXPECT_EQ(hex_upper(a, 8), hex_upper(b, 8));
}

TEST(Des, SetKeyChecksLengthAndMode) {
  struct Case {
    int32_t len, mode, want;
  } cases[] = {{8, 0, 0}, {8, 16, 0}, {7, 0, -1}, {9, 0, -1}, {0, 0, -1}, {8, 1, -1}, {8, -1, -1}};
  const uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (const Case& c : cases) {
    des_schedule ks;
    EXPECT_EQ(des_set_key(key, c.len, c.mode, &ks), c.want) << "length " << c.len << ", mode " << c.mode;
  }
}

TEST(Des, ClearWipesTheSubkeys) {
  const uint8_t key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
  des_schedule ks;
  ASSERT_EQ(des_set_key(key, 8, 0, &ks), 0);
  const des_schedule zero{};
  ASSERT_NE(memcmp(&ks, &zero, sizeof ks), 0);
  des_clear(&ks);
  EXPECT_EQ(memcmp(&ks, &zero, sizeof ks), 0);
}
