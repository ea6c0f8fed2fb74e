// Sign-on secrets of the current link: the 32-byte sign-on key and the
// encrypted password-change block made with it.
#pragma once
#include <cstdint>

constexpr int32_t kSignOnKeyBytes = 32;
constexpr int32_t kPasswordBlockBytes = 64;
constexpr int32_t kPasswordMax = 31;  // characters, the size of the login field

// Stores the key derived at sign on (it lives only in memory) and wipes it.
// Minimal version: replaced when the io thread's sign on is built.
void ssauth_set_key(const uint8_t key[kSignOnKeyBytes]);
void ssauth_clear_key(void);

// The 64-byte password-change block for `text`, encrypted with AES-256-ECB
// under the sign-on key: a new dalloc block the caller frees, or null after
// an ERROR (no key yet, a password of more than 31 characters, a cipher
// failure). The plain block is overwritten before the call returns.
uint8_t* ssauth_encrypt_password(const char* text);
