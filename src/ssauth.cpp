// Sign-on secrets: the key derived from the password and the server's
// challenge at every sign on, and the password-change block encrypted under
// it. The key and every plain block exist only in memory and are overwritten
// with random bytes as soon as they are done with.
#include "ssauth.h"

#include <cstring>

#include "crypt.h"
#include "dalloc.h"
#include "log.h"

static const char kSrc[] = "src/ssauth";

namespace {

struct auth_state {
  uint8_t key[kSignOnKeyBytes];
  bool have_key;
};

auth_state A;

}  // namespace

// Minimal version: replaced when the io thread's sign on is built.
void ssauth_set_key(const uint8_t key[kSignOnKeyBytes]) {
  memcpy(A.key, key, kSignOnKeyBytes);
  A.have_key = true;
}

// Minimal version: replaced when the io thread's sign on is built.
void ssauth_clear_key(void) {
  crypt_random(A.key, kSignOnKeyBytes);
  A.have_key = false;
}

uint8_t* ssauth_encrypt_password(const char* text) {
  if (!A.have_key) {
    log(LOG_ERROR, kSrc, "can't encrypt passwd change");
    return nullptr;
  }
  size_t n = text ? strlen(text) : 0;
  if (n > static_cast<size_t>(kPasswordMax)) {
    log(LOG_ERROR, kSrc, "can't encrypt passwd change");
    return nullptr;
  }
  // Random filler everywhere; the length in byte 0 and the characters at the
  // odd offsets 1, 3, 5 and so on.
  uint8_t plain[kPasswordBlockBytes];
  crypt_random(plain, sizeof plain);
  plain[0] = static_cast<uint8_t>(n);
  for (size_t i = 0; i < n; i++) plain[1 + 2 * i] = static_cast<uint8_t>(text[i]);
  uint8_t* block = static_cast<uint8_t*>(dalloc_alloc(kPasswordBlockBytes));
  int32_t got = crypt_encrypt(block, plain, sizeof plain, A.key);
  crypt_random(plain, sizeof plain);
  if (got < 0) {
    log(LOG_ERROR, kSrc, "can't encrypt passwd change");
    dalloc_free(block);
    return nullptr;
  }
  if (got != kPasswordBlockBytes) {
    log(LOG_ERROR, kSrc, "encrypted %db to %db", kPasswordBlockBytes, got);
    dalloc_free(block);
    return nullptr;
  }
  return block;
}
