// Sign-on secrets: the answer to the server's challenge and the key derived
// with it at every sign on, and the password-change block encrypted under
// that key. The key and every plain block exist only in memory and are
// overwritten with random bytes as soon as they are done with.
//
// The wire fixes a weakness worth knowing: the key that protects a password
// change is the very response sent in clear at sign on, so anyone who saw the
// sign-on can read a later password change of the same link.
#include "ssauth.h"

#include <cstring>

#include "crypt.h"
#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "sha256.h"

static const char kSrc[] = "src/ssauth";

namespace {

struct auth_state {
  plat_fixed_mutex mu;  // the io thread sets the key, the user-interface thread uses it
  uint8_t key[kSignOnKeyBytes];
  bool have_key;
};

auth_state A;

// The walk: a position p moves through the challenge by the password's byte
// values (mod 251), wrapping to the first byte after the last, and each step
// takes the challenge byte at p.
void password_walk(const char* password, const uint8_t* challenge, uint8_t* out) {
  const uint8_t* pw = reinterpret_cast<const uint8_t*>(password ? password : "");
  size_t i = 0;
  uint32_t p = 0;
  for (int32_t k = 0; k < kSignOnChallengeBytes; k++) {
    if (pw[i] == 0) i = 0;
    p = (p + pw[i]) % kSignOnWalkModulus;
    out[k] = challenge[p];
    i++;
  }
}

}  // namespace

void ssauth_sign_on(const char* password, const uint8_t challenge[kSignOnChallengeBytes],
                    uint8_t response[kSignOnKeyBytes]) {
  uint8_t walk[kSignOnChallengeBytes];
  password_walk(password, challenge, walk);
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, walk, sizeof walk);
  uint8_t key[kSignOnKeyBytes];
  sha256_final(&ctx, key);
  crypt_random(walk, sizeof walk);
  memset(&ctx, 0, sizeof ctx);
  memcpy(response, key, kSignOnKeyBytes);
  ssauth_set_key(key);
}

void ssauth_set_key(const uint8_t key[kSignOnKeyBytes]) {
  plat_lock_guard lock(A.mu);
  memcpy(A.key, key, kSignOnKeyBytes);
  A.have_key = true;
}

void ssauth_clear_key(void) {
  plat_lock_guard lock(A.mu);
  crypt_random(A.key, kSignOnKeyBytes);
  A.have_key = false;
}

int ssauth_have_key(void) {
  plat_lock_guard lock(A.mu);
  return A.have_key ? 1 : 0;
}

uint8_t* ssauth_encrypt_password(const char* text) {
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
  int32_t got;
  {
    plat_lock_guard lock(A.mu);
    got = A.have_key ? crypt_encrypt(block, plain, sizeof plain, A.key) : -1;
  }
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
