// AES block cipher (FIPS 197) with 128-, 192- or 256-bit keys, one 16-byte
// block at a time. The key setup returns the round count that the block
// operations take.
#pragma once
#include <cstdint>

constexpr int kAesMaxRounds = 14;

struct aes_schedule {
  uint32_t rk[4 * (kAesMaxRounds + 1)];  // round keys, big-endian words
};

// Build the schedule for `bits` of key (128, 192 or 256). Return the round
// count (10, 12 or 14), or -1 after an ERROR for any other size.
int aes_set_encrypt_key(aes_schedule* ks, const uint8_t* key, int32_t bits);
int aes_set_decrypt_key(aes_schedule* ks, const uint8_t* key, int32_t bits);
// One block with a schedule from the matching setup; in may equal out.
void aes_encrypt_block(const aes_schedule* ks, int rounds, const uint8_t in[16], uint8_t out[16]);
void aes_decrypt_block(const aes_schedule* ks, int rounds, const uint8_t in[16], uint8_t out[16]);
