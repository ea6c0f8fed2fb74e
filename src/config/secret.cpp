// The local settings' defaults and the scrambled file form.
//
// Scrambling is AES-256 in counter mode under a key hashed (SHA-256) from
// material built into the program. This is obfuscation, not protection:
// anyone with the program can unscramble the file. It keeps casual eyes and
// tools that grep for words off the saved credentials; the file's mode
// (0600) is what protects it.
//
// Form, all in lower-case hex: a 16-byte header (an 8-byte random nonce, the
// text length as 4 little-endian bytes, the first 4 bytes of a keyed
// SHA-256 digest of nonce, length and text), then the text zero-padded to a
// multiple of 16 and run through the counter-mode key stream. So n bytes of
// text take 32 + 2 * (n rounded up to 16) bytes, always a multiple of 16.
#include "config/secret.h"

#include <cstring>

#include "aes.h"
#include "config/config.h"
#include "crypt.h"
#include "dalloc.h"
#include "log.h"
#include "sha256.h"
#include "startup/start.h"
#include "strutil.h"

static const char kSrc[] = "src/config/secret";

constexpr int32_t kHeaderBytes = 16;
constexpr int32_t kNonceBytes = 8;
constexpr int32_t kTagBytes = 4;

static const char kKeyMaterial[] = "Ambit/local-settings/obfuscation/1";

struct secret_key {
  aes_schedule schedule;
  int rounds;
  uint8_t key[32];
};

static struct {
  secret_key* key;
} S;

int secret_key_init(void) {
  if (S.key) return 0;
  secret_key* k = static_cast<secret_key*>(dalloc_alloc((int32_t)sizeof(secret_key)));
  crypt_sha256(k->key, kKeyMaterial, (uint32_t)strlen(kKeyMaterial));
  k->rounds = aes_set_encrypt_key(&k->schedule, k->key, 256);
  if (k->rounds < 0) {
    dalloc_free(k);
    return -1;
  }
  S.key = k;
  return 0;
}

void secret_key_free(void) {
  if (!S.key) return;
  memset(S.key, 0, sizeof *S.key);
  dalloc_free(S.key);
  S.key = nullptr;
}

// XORs n bytes (a multiple of 16) with the key stream of the nonce.
static void ctr_xor(uint8_t* data, int32_t n, const uint8_t nonce[kNonceBytes]) {
  uint8_t block[16], stream[16];
  memcpy(block, nonce, kNonceBytes);
  for (int32_t at = 0, i = 0; at < n; at += 16, i++) {
    for (int b = 0; b < 8; b++) block[kNonceBytes + b] = (uint8_t)((uint64_t)i >> (56 - 8 * b));
    aes_encrypt_block(&S.key->schedule, S.key->rounds, block, stream);
    for (int b = 0; b < 16; b++) data[at + b] ^= stream[b];
  }
}

static void tag_of(uint8_t tag[kTagBytes], const uint8_t* header, const void* text, int32_t n) {
  sha256_ctx ctx;
  uint8_t digest[32];
  sha256_init(&ctx);
  sha256_update(&ctx, S.key->key, sizeof S.key->key);
  sha256_update(&ctx, header, kNonceBytes + 4);
  sha256_update(&ctx, text, (uint32_t)n);
  sha256_final(&ctx, digest);
  memcpy(tag, digest, kTagBytes);
}

int secret_scramble(const void* text, int32_t n, char** out, int32_t* out_len) {
  if (!S.key || n < 1 || n > kSecretMaxText || !text) {
    log(LOG_ERROR, kSrc, "can't scramble %db", n);
    return -1;
  }
  int32_t padded = (n + 15) / 16 * 16;
  int32_t raw_len = kHeaderBytes + padded;
  uint8_t* raw = static_cast<uint8_t*>(dalloc_alloc(raw_len));
  memset(raw, 0, (size_t)raw_len);
  crypt_random(raw, kNonceBytes);
  for (int b = 0; b < 4; b++) raw[kNonceBytes + b] = (uint8_t)((uint32_t)n >> (8 * b));
  tag_of(raw + kNonceBytes + 4, raw, text, n);
  memcpy(raw + kHeaderBytes, text, (size_t)n);
  ctr_xor(raw + kHeaderBytes, padded, raw);
  *out_len = 2 * raw_len;
  *out = static_cast<char*>(dalloc_alloc(*out_len + 1));
  strutil_hex_encode(*out, raw, raw_len);
  memset(raw, 0, (size_t)raw_len);
  dalloc_free(raw);
  return 0;
}

static int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int secret_unscramble(const void* data, int32_t n, char** out, int32_t* out_len) {
  if (!S.key || !data) {
    log(LOG_ERROR, kSrc, "can't unscramble without a key");
    return -1;
  }
  if (n < 2 * kHeaderBytes || n % 16 != 0) {
    log(LOG_ERROR, kSrc, "bad length %d", n);
    return -1;
  }
  if (n > kSecretMaxScrambled) {
    log(LOG_ERROR, kSrc, "bad config length %db from %db", (n - 2 * kHeaderBytes) / 2, n);
    return -1;
  }
  const char* hex = static_cast<const char*>(data);
  int32_t raw_len = n / 2;
  uint8_t* raw = static_cast<uint8_t*>(dalloc_alloc(raw_len));
  for (int32_t i = 0; i < raw_len; i++) {
    int hi = hex_digit(hex[2 * i]), lo = hex_digit(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) {
      log(LOG_ERROR, kSrc, "bad digit at %d", 2 * i);
      dalloc_free(raw);
      return -1;
    }
    raw[i] = (uint8_t)(hi << 4 | lo);
  }
  int32_t padded = raw_len - kHeaderBytes;
  uint32_t len = 0;
  for (int b = 0; b < 4; b++) len |= (uint32_t)raw[kNonceBytes + b] << (8 * b);
  if (len > (uint32_t)kSecretMaxText || len == 0 || (int32_t)(len + 15) / 16 * 16 != padded) {
    log(LOG_ERROR, kSrc, "bad config length %db from %db", (int32_t)len, n);
    dalloc_free(raw);
    return -1;
  }
  uint8_t* body = raw + kHeaderBytes;
  ctr_xor(body, padded, raw);
  uint8_t tag[kTagBytes];
  tag_of(tag, raw, body, (int32_t)len);
  bool padding_clean = true;
  for (int32_t i = (int32_t)len; i < padded; i++) padding_clean = padding_clean && body[i] == 0;
  if (!padding_clean || memcmp(tag, raw + kNonceBytes + 4, kTagBytes) != 0) {
    log(LOG_ERROR, kSrc, "config check failed");
    memset(raw, 0, (size_t)raw_len);
    dalloc_free(raw);
    return -1;
  }
  char* text = static_cast<char*>(dalloc_alloc((int32_t)len + 1));
  memcpy(text, body, len);
  text[len] = '\0';
  memset(raw, 0, (size_t)raw_len);
  dalloc_free(raw);
  *out = text;
  *out_len = (int32_t)len;
  return 0;
}

int secret_local_defaults(void) {
  local_config* c = config_local();
  if (!c) return -1;
  memset(c, 0, sizeof *c);
  c->workaround_allow_any_double_bufs = 1;
  c->graphics_quality = 1;
  c->reconnect_timeout = 300;
  c->speed = 5;
  for (int i = 0; i < kConfigLocations; i++) {
    config_location* l = &c->locations[i];
    if (i == 0) strcpy(l->name, "Default");
    l->ambit_port = 443;
    l->ambit_uses_default_servers = 1;
    l->proxy_port = 8080;
    l->bounds[0] = 10;
    l->bounds[1] = 20;
    l->bounds[2] = 1000;
    l->bounds[3] = 700;
    l->last_decode_dur = 5000;
    l->last_save_dur = 2000;
  }
  return 0;
}

int secret_forget_restart_login(void) {
  local_config* c = config_local();
  if (!c) return -1;
  if (!restart_pending()) {
    memset(c->restart_username, 0, sizeof c->restart_username);
    memset(c->restart_password, 0, sizeof c->restart_password);
  }
  return 0;
}
