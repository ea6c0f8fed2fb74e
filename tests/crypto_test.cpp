// The digests and ciphers against OpenSSL, one row each: random keys and
// inputs of many lengths through our code and through OpenSSL's, which must
// agree byte for byte; ciphers must also decrypt back. The digests are fed
// in random pieces, so updates start and end anywhere in a block. Each
// module's own test keeps its standard vectors; this is the differential
// half.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "aes.h"
#include "crypt.h"
#include "des.h"
#include "md4.h"
#include "md5.h"
#include "sha256.h"
#include "testdigest.h"
#include "testhex.h"

#ifdef AMBIT_HAVE_OPENSSL
#include <openssl/evp.h>
#include <openssl/provider.h>
#endif

namespace {

#ifdef AMBIT_HAVE_OPENSSL

using bytes = std::vector<uint8_t>;

using Md4Digest = StreamingDigest<md4_ctx, md4_init, md4_update, md4_final, 16>;
using Md5Digest = StreamingDigest<md5_ctx, md5_init, md5_update, md5_final, 16>;
using Sha256Digest = StreamingDigest<sha256_ctx, sha256_init, sha256_update, sha256_final, 32>;

// Our side of a row: the digest, or the ciphertext, of `data` under `key`.
using ours_fn = std::function<bytes(const bytes& key, const bytes& data, std::mt19937& rng)>;
// A cipher's way back; null for a digest.
using back_fn = std::function<bytes(const bytes& key, const bytes& cipher)>;

template <class D>
ours_fn digest_in_pieces() {
  return [](const bytes&, const bytes& data, std::mt19937& rng) {
    bytes out(D::kSize);
    D::in_pieces(data, rng, out.data());
    return out;
  };
}

bytes des_ecb_blocks(const bytes& key, const bytes& in, bool decrypt) {
  des_schedule ks;
  EXPECT_EQ(des_set_key(key.data(), 8, 0, &ks), 0);
  bytes out(in.size());
  for (size_t i = 0; i < in.size(); i += 8) {
    if (decrypt)
      des_decrypt_block(in.data() + i, out.data() + i, &ks);
    else
      des_encrypt_block(in.data() + i, out.data() + i, &ks);
  }
  return out;
}

ours_fn des_ecb() {
  return [](const bytes& key, const bytes& data, std::mt19937&) { return des_ecb_blocks(key, data, false); };
}

back_fn des_ecb_back() {
  return [](const bytes& key, const bytes& cipher) { return des_ecb_blocks(key, cipher, true); };
}

// One way or the other, in place, as the wrapper may use it.
bytes aes_ecb_in_place(const bytes& key, bytes buf, bool decrypt) {
  aes_schedule ks;
  const int bits = int(key.size() * 8);
  const int rounds = decrypt ? aes_set_decrypt_key(&ks, key.data(), bits) : aes_set_encrypt_key(&ks, key.data(), bits);
  EXPECT_GT(rounds, 0);
  for (size_t i = 0; i < buf.size(); i += 16) {
    if (decrypt)
      aes_decrypt_block(&ks, rounds, buf.data() + i, buf.data() + i);
    else
      aes_encrypt_block(&ks, rounds, buf.data() + i, buf.data() + i);
  }
  return buf;
}

ours_fn aes_ecb() {
  return [](const bytes& key, const bytes& data, std::mt19937&) { return aes_ecb_in_place(key, data, false); };
}

back_fn aes_ecb_back() {
  return [](const bytes& key, const bytes& cipher) { return aes_ecb_in_place(key, cipher, true); };
}

// The wrapper on buffers exactly as long as it is told, on the heap, so a
// read or write past them is caught.
ours_fn crypt_wrapper() {
  return [](const bytes& key, const bytes& data, std::mt19937&) {
    const uint32_t n = uint32_t(data.size());
    const int32_t padded = crypt_padded_len(int32_t(n));
    std::unique_ptr<uint8_t[]> in(new uint8_t[n ? n : 1]);
    if (n) memcpy(in.get(), data.data(), n);
    std::unique_ptr<uint8_t[]> out(new uint8_t[padded ? padded : 1]);
    EXPECT_EQ(crypt_encrypt(out.get(), in.get(), n, key.data()), padded) << n;
    return bytes(out.get(), out.get() + padded);
  };
}

back_fn crypt_wrapper_back() {
  return [](const bytes& key, const bytes& cipher) {
    const int32_t n = int32_t(cipher.size());
    std::unique_ptr<uint8_t[]> back(new uint8_t[n ? n : 1]);
    EXPECT_EQ(crypt_decrypt(back.get(), cipher.data(), n, key.data()), n);
    return bytes(back.get(), back.get() + n);
  };
}

std::vector<uint32_t> lengths(uint32_t from, uint32_t to, uint32_t step = 1) {
  std::vector<uint32_t> out;
  for (uint32_t n = from; n <= to; n += step) out.push_back(n);
  return out;
}

// OpenSSL's answer: the digest of `data`, or its encryption under `key` in
// ECB mode without padding (`data` is whole blocks then).
bytes theirs(const char* name, bool cipher, const bytes& key, const bytes& data) {
  bytes out(data.size() + 64);
  if (!cipher) {
    EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
    unsigned int len = 0;
    EXPECT_TRUE(md && EVP_Digest(data.data(), data.size(), out.data(), &len, md, nullptr) == 1) << name;
    EVP_MD_free(md);
    out.resize(len);
    return out;
  }
  EVP_CIPHER* c = EVP_CIPHER_fetch(nullptr, name, nullptr);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int len = 0;
  EXPECT_TRUE(c && EVP_EncryptInit_ex(ctx, c, nullptr, key.data(), nullptr) == 1) << name;
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EXPECT_EQ(EVP_EncryptUpdate(ctx, out.data(), &len, data.data(), int(data.size())), 1) << name;
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(c);
  out.resize(size_t(len));
  return out;
}

TEST(Crypto, OursMatchesOpenSsl) {
  struct Row {
    const char* name;     // OpenSSL's
    bool legacy;          // in OpenSSL's legacy provider
    size_t key_bytes;     // 0 for a digest
    std::vector<uint32_t> lengths;
    int trials;           // random keys and inputs per length
    bool zero_pad;        // OpenSSL gets the input zero-padded to whole blocks
    ours_fn ours;
    back_fn back;
  };
  const Row rows[] = {
      {"MD4", true, 0, lengths(0, 300), 3, false, digest_in_pieces<Md4Digest>(), nullptr},
      {"MD5", false, 0, lengths(0, 300), 3, false, digest_in_pieces<Md5Digest>(), nullptr},
      {"SHA256", false, 0, lengths(0, 300), 3, false, digest_in_pieces<Sha256Digest>(), nullptr},
      {"DES-ECB", true, 8, {16}, 500, false, des_ecb(), des_ecb_back()},
      {"AES-128-ECB", false, 16, {64}, 200, false, aes_ecb(), aes_ecb_back()},
      {"AES-192-ECB", false, 24, {64}, 200, false, aes_ecb(), aes_ecb_back()},
      {"AES-256-ECB", false, 32, {64}, 200, false, aes_ecb(), aes_ecb_back()},
      // The wrapper: AES-256-ECB over the input zero-padded to whole blocks.
      {"AES-256-ECB", false, 32, lengths(0, 100), 1, true, crypt_wrapper(), crypt_wrapper_back()},
  };

  // Loading any provider explicitly stops the default one loading by
  // itself, so load both.
  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
  ASSERT_NE(deflt, nullptr);
  std::mt19937 rng(1321);
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name) + (row.zero_pad ? " (the wrapper)" : ""));
    if (row.legacy && !legacy) {
      std::printf("skipped %s: OpenSSL's legacy provider is not loadable\n", row.name);
      continue;
    }
    const bool cipher = row.key_bytes > 0;
    for (uint32_t len : row.lengths) {
      for (int trial = 0; trial < row.trials; trial++) {
        bytes key(row.key_bytes), data(len);
        for (uint8_t& b : key) b = uint8_t(rng());
        for (uint8_t& b : data) b = uint8_t(rng());
        bytes padded = data;
        if (row.zero_pad) padded.resize(size_t(crypt_padded_len(int32_t(len))), 0);
        const bytes want = theirs(row.name, cipher, key, padded);
        const bytes got = row.ours(key, data, rng);
        ASSERT_EQ(hex(got.data(), got.size()), hex(want.data(), want.size()))
            << "length " << len << ", key " << hex(key.data(), key.size());
        if (row.back) {
          const bytes back = row.back(key, got);
          ASSERT_EQ(hex(back.data(), back.size()), hex(padded.data(), padded.size()))
              << "length " << len << ", key " << hex(key.data(), key.size());
        }
      }
    }
  }
  OSSL_PROVIDER_unload(deflt);
  if (legacy) OSSL_PROVIDER_unload(legacy);
}

#else

TEST(Crypto, OursMatchesOpenSsl) { GTEST_SKIP() << "built without OpenSSL"; }

#endif

}  // namespace
