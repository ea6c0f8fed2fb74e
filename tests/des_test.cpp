// DES against published known answers and, for random keys and blocks,
// against OpenSSL's DES-ECB from its legacy provider.
#include "des.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "testhex.h"

#ifdef AMBIT_HAVE_OPENSSL
#include <openssl/evp.h>
#include <openssl/provider.h>
#endif

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

TEST(Des, MatchesOpenSslOnRandomKeys) {
#ifndef AMBIT_HAVE_OPENSSL
  GTEST_SKIP() << "built without OpenSSL";
#else
  // DES lives in OpenSSL's legacy provider; loading any provider explicitly
  // stops the default one loading by itself, so load both.
  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  if (!legacy) GTEST_SKIP() << "OpenSSL legacy provider not loadable: no DES to compare with";
  OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "DES-ECB", nullptr);
  ASSERT_NE(cipher, nullptr);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();

  std::mt19937 rng(463);
  for (int trial = 0; trial < 500; trial++) {
    uint8_t key[8], plain[16];
    for (uint8_t& b : key) b = uint8_t(rng());
    for (uint8_t& b : plain) b = uint8_t(rng());
    uint8_t want[16];
    int n = 0;
    ASSERT_EQ(EVP_EncryptInit_ex(ctx, cipher, nullptr, key, nullptr), 1);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    ASSERT_EQ(EVP_EncryptUpdate(ctx, want, &n, plain, 16), 1);
    ASSERT_EQ(n, 16);

    des_schedule ks;
    ASSERT_EQ(des_set_key(key, 8, 0, &ks), 0);
    uint8_t got[16], back[16];
    des_encrypt_block(plain, got, &ks);
    des_encrypt_block(plain + 8, got + 8, &ks);
    ASSERT_EQ(hex_upper(got, 16), hex_upper(want, 16)) << "key " << hex_upper(key, 8);
    des_decrypt_block(got, back, &ks);
    des_decrypt_block(got + 8, back + 8, &ks);
    ASSERT_EQ(hex_upper(back, 16), hex_upper(plain, 16)) << "key " << hex_upper(key, 8);
  }
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
  OSSL_PROVIDER_unload(deflt);
  OSSL_PROVIDER_unload(legacy);
#endif
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
