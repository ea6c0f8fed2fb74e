// The local settings' defaults and the scrambled form of the local settings
// file. The scrambling is obfuscation, not protection: its key is built into
// the program. What protects the file is its mode (0600) and that passwords
// are never logged.
#pragma once
#include <cstdint>

constexpr int32_t kSecretMaxText = 50000;  // bytes of plain text at most
// The scrambled form of n bytes of text: 32 + 2 * (n rounded up to 16).
constexpr int32_t secret_scrambled_size(int32_t n) { return 32 + 2 * ((n + 15) / 16 * 16); }
constexpr int32_t kSecretMaxScrambled = secret_scrambled_size(kSecretMaxText);

// Builds the key (at configuration start) and forgets it (at shutdown).
int secret_key_init(void);
void secret_key_free(void);

// Scrambles n bytes of text into a new dalloc block (*out, *out_len bytes,
// owned by the caller; a NUL follows). 0 / -1 (logged): no key, or a text
// that is empty or over kSecretMaxText.
int secret_scramble(const void* text, int32_t n, char** out, int32_t* out_len);
// The reverse: the text in a new dalloc block (NUL-terminated). -1 (logged)
// for a length that is not a multiple of 16, a stored text length that does
// not match, a text over kSecretMaxText, bad digits or a failed check.
int secret_unscramble(const void* data, int32_t n, char** out, int32_t* out_len);

// Sets the local settings record to its defaults. 0, or -1 with no record.
int secret_local_defaults(void);
// Unless a restart is pending, clears the remembered restart user name and
// password (not the site). 0, or -1 with no record.
int secret_forget_restart_login(void);
