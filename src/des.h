// Single DES (FIPS 46-3) on 8-byte blocks, ECB. Used for NTLM responses.
#pragma once
#include <cstdint>

struct des_schedule {
  uint32_t enc[32];  // 16 round subkeys for encryption, two words each
  uint32_t dec[32];  // the same subkeys in reverse order, for decryption
};

// Builds both schedules from the 8-byte key (parity bits are ignored).
// `key_len` must be 8 and `mode` 0 or 16; otherwise logs an ERROR and
// returns -1. Returns 0 on success.
int des_set_key(const uint8_t key[8], int32_t key_len, int32_t mode, des_schedule* ks);
// Encrypts one 8-byte block with the encryption schedule; in may equal out.
void des_encrypt_block(const uint8_t in[8], uint8_t out[8], const des_schedule* ks);
// Decrypts one 8-byte block with the decryption schedule; in may equal out.
void des_decrypt_block(const uint8_t in[8], uint8_t out[8], const des_schedule* ks);
// Wipes a schedule that is no longer needed (the subkeys are key material).
void des_clear(des_schedule* ks);
