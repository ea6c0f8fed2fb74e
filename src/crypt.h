// The cipher and digest operations the rest of the system calls: AES-256 in
// ECB mode with zero padding, one-shot SHA-256 and random bytes.
#pragma once
#include <cstdint>

constexpr int32_t kCryptBlock = 16;
constexpr int32_t kCryptKeyBytes = 32;

// n rounded up to a multiple of 16; 0 (or less) gives 0. -1 after an ERROR
// when the result would not fit in 32 bits.
int32_t crypt_padded_len(int32_t n);
// AES-256-ECB of n bytes, the last partial block padded with zeros. `out`
// holds crypt_padded_len(n) bytes and may equal `in` only when `in` holds as
// many. Returns the bytes written, or -1 after an ERROR when n is too large.
int32_t crypt_encrypt(void* out, const void* in, uint32_t n, const uint8_t key[32]);
// AES-256-ECB decryption of n bytes; n must be a multiple of 16. Returns n,
// 0 when n < 1, or -1 after an ERROR for any other n. out may equal in.
int32_t crypt_decrypt(void* out, const void* in, int32_t n, const uint8_t key[32]);
// One-shot SHA-256 of n bytes; returns 0.
int crypt_sha256(uint8_t digest[32], const void* in, uint32_t n);
// n bytes from the platform's random generator (not for long-term secrets).
void crypt_random(void* buf, uint32_t n);
