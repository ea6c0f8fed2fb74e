// Sign-on secrets of the current link: the answer to the server's challenge,
// the 32-byte sign-on key derived with it, and the password-change block
// encrypted under that key.
#pragma once
#include <cstdint>

constexpr int32_t kSignOnKeyBytes = 32;
constexpr int32_t kSignOnChallengeBytes = 256;
constexpr int32_t kSignOnWalkModulus = 251;  // challenge positions the walk reaches
constexpr int32_t kPasswordBlockBytes = 64;
constexpr int32_t kPasswordMax = 31;  // characters, the size of the login field

// Io thread, at every sign on: walks the challenge with the password's bytes
// (see ssauth.cpp), keeps the SHA-256 of the walk as the link's sign-on key
// and writes the same 32 bytes to `response` (the server checks them). The
// walk is wiped before the call returns.
void ssauth_sign_on(const char* password, const uint8_t challenge[kSignOnChallengeBytes],
                    uint8_t response[kSignOnKeyBytes]);
// Stores a key (it lives only in memory) and wipes it with random bytes.
// Either thread; the key is guarded by the module's lock.
void ssauth_set_key(const uint8_t key[kSignOnKeyBytes]);
void ssauth_clear_key(void);
int ssauth_have_key(void);

// The 64-byte password-change block for `text`, encrypted with AES-256-ECB
// under the sign-on key: a new dalloc block the caller frees, or null after
// an ERROR (no key yet, a password of more than 31 characters, a cipher
// failure). The plain block is overwritten before the call returns.
uint8_t* ssauth_encrypt_password(const char* text);
