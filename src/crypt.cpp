// The cipher and digest operations the rest of the system calls: AES-256
// in ECB mode with a zero-padded last block, one-shot SHA-256 and random
// bytes. ECB and zero padding are what the peers expect, so the padded
// length is the caller's to keep: decryption returns whole blocks, and a
// trailing zero byte of the plain text cannot be told from padding.
#include "crypt.h"

#include <climits>
#include <cstring>

#include "aes.h"
#include "log.h"
#include "plat.h"
#include "sha256.h"

static const char kSrc[] = "src/crypt";

namespace {

constexpr int32_t kAesKeyBits = 8 * kCryptKeyBytes;
// Largest length whose padded length still fits in an int32_t.
constexpr uint32_t kCryptMaxLen = uint32_t(INT32_MAX) - (kCryptBlock - 1);

}  // namespace

int32_t crypt_padded_len(int32_t n) {
  if (n <= 0) return 0;
  if (uint32_t(n) > kCryptMaxLen) {
    log(LOG_ERROR, kSrc, "length %d too large to pad", n);
    return -1;
  }
  return (n + kCryptBlock - 1) & ~(kCryptBlock - 1);
}

int32_t crypt_encrypt(void* out, const void* in, uint32_t n, const uint8_t key[32]) {
  if (n > kCryptMaxLen) {
    log(LOG_ERROR, kSrc, "can't encrypt %u bytes", n);
    return -1;
  }
  aes_schedule ks;
  int rounds = aes_set_encrypt_key(&ks, key, kAesKeyBits);
  const uint8_t* src = static_cast<const uint8_t*>(in);
  uint8_t* dst = static_cast<uint8_t*>(out);
  uint32_t whole = n & ~uint32_t(kCryptBlock - 1);
  for (uint32_t i = 0; i < whole; i += kCryptBlock) aes_encrypt_block(&ks, rounds, src + i, dst + i);
  uint32_t rest = n - whole;
  if (rest) {
    uint8_t last[kCryptBlock] = {};
    memcpy(last, src + whole, rest);
    aes_encrypt_block(&ks, rounds, last, dst + whole);
  }
  return int32_t(whole + (rest ? kCryptBlock : 0));
}

int32_t crypt_decrypt(void* out, const void* in, int32_t n, const uint8_t key[32]) {
  if (n < 1) return 0;
  // A partial last block would have the cipher read and write past both
  // buffers; no peer ever sends one, so it is refused outright.
  if (n % kCryptBlock) {
    log(LOG_ERROR, kSrc, "can't decrypt %d bytes: not a multiple of %d", n, kCryptBlock);
    return -1;
  }
  aes_schedule ks;
  int rounds = aes_set_decrypt_key(&ks, key, kAesKeyBits);
  const uint8_t* src = static_cast<const uint8_t*>(in);
  uint8_t* dst = static_cast<uint8_t*>(out);
  for (int32_t i = 0; i < n; i += kCryptBlock) aes_decrypt_block(&ks, rounds, src + i, dst + i);
  return n;
}

int crypt_sha256(uint8_t digest[32], const void* in, uint32_t n) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, in, n);
  sha256_final(&ctx, digest);
  return 0;
}

void crypt_random(void* buf, uint32_t n) {
  // The platform call takes a signed count, so very large requests go in
  // pieces.
  uint8_t* p = static_cast<uint8_t*>(buf);
  while (n) {
    int32_t part = n > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(n);
    plat_random_bytes(p, part);
    p += part;
    n -= uint32_t(part);
  }
}
