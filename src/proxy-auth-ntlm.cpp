// NTLM proxy authentication, a two-step exchange on one kept-alive proxy
// connection: a negotiate message, then the answer to the proxy's challenge
// carrying an LM and an NT response (NTLMv1, or the NTLM2 session response
// when the proxy asks for it). Strings go out as OEM bytes, never Unicode.
// One message buffer serves parsing and answering; only the io thread uses
// it. Every size read from the proxy or the settings is checked against it.
#include "proxy-auth-ntlm.h"

#include <cstdio>
#include <cstring>

#include "des.h"
#include "log.h"
#include "md4.h"
#include "md5.h"
#include "plat.h"
#include "strutil.h"

static const char kSrc[] = "src/proxy-auth-ntlm";

namespace {

constexpr uint8_t kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr int kNegotiateLen = 32;
constexpr int kChallengeMinLen = 32;
constexpr int kAnswerHeaderLen = 112;
constexpr int kResponseLen = 24;
constexpr int kLmResponseOffset = 64;
constexpr int kNtResponseOffset = 88;
// Room for the proxy's challenge (with its target information) and for our
// answer with domain, user and host at their longest.
constexpr int kMessageMax = 2048;
static_assert(kAnswerHeaderLen + 3 * kProxyAuthCredentialMax <= kMessageMax);
constexpr int kLmPasswordLen = 14;
constexpr char kLmMagic[] = "KGS!@#$%";
constexpr char kHeaderStart[] = "Proxy-Authorization: NTLM ";

struct {
  uint8_t msg[kMessageMax];
  char line[sizeof kHeaderStart + strutil_base64_size(kMessageMax) + 2];
} ntlm;

void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

uint32_t get32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// A security buffer descriptor: length, maximum length, offset.
void put_descriptor(uint8_t* p, uint32_t len, uint32_t offset) {
  put16(p, len);
  put16(p + 2, len);
  put32(p + 4, offset);
}

// Spreads 7 key bytes (56 bits) into an 8-byte DES key, 7 bits to a byte in
// the high bits; the low bit of each byte is the (unused) parity bit.
void spread_key(const uint8_t in[7], uint8_t key[8]) {
  key[0] = in[0];
  key[1] = static_cast<uint8_t>((in[0] << 7) | (in[1] >> 1));
  key[2] = static_cast<uint8_t>((in[1] << 6) | (in[2] >> 2));
  key[3] = static_cast<uint8_t>((in[2] << 5) | (in[3] >> 3));
  key[4] = static_cast<uint8_t>((in[3] << 4) | (in[4] >> 4));
  key[5] = static_cast<uint8_t>((in[4] << 3) | (in[5] >> 5));
  key[6] = static_cast<uint8_t>((in[5] << 2) | (in[6] >> 6));
  key[7] = static_cast<uint8_t>(in[6] << 1);
  for (int i = 0; i < 8; i++) key[i] &= 0xFE;
}

void des_with_7_byte_key(const uint8_t key7[7], const uint8_t in[8], uint8_t out[8]) {
  uint8_t key[8];
  spread_key(key7, key);
  des_schedule ks;
  des_set_key(key, 8, 0, &ks);  // length and mode are the valid constants
  des_encrypt_block(in, out, &ks);
  des_clear(&ks);
}

// The 16-byte hash, zero-padded to 21 bytes, as three DES keys over `in`.
void three_key_response(const uint8_t hash21[21], const uint8_t in[8], uint8_t out[kResponseLen]) {
  for (int i = 0; i < 3; i++) des_with_7_byte_key(hash21 + 7 * i, in, out + 8 * i);
}

void lm_hash(uint8_t out[21], const char* password) {
  uint8_t upper[kLmPasswordLen] = {};
  for (int i = 0; i < kLmPasswordLen && password[i]; i++) {
    uint8_t c = static_cast<uint8_t>(password[i]);
    upper[i] = (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - ('a' - 'A')) : c;
  }
  memset(out, 0, 21);
  des_with_7_byte_key(upper, reinterpret_cast<const uint8_t*>(kLmMagic), out);
  des_with_7_byte_key(upper + 7, reinterpret_cast<const uint8_t*>(kLmMagic), out + 8);
}

// Settings text copied into the answer: bounded, no line breaks.
bool usable(const char* s, size_t len) {
  return len <= kProxyAuthCredentialMax && !memchr(s, '\r', len) && !memchr(s, '\n', len);
}

// Appends the header line carrying the first `len` bytes of the message buffer.
int append_message(growbuf* out, int32_t len) {
  size_t start = sizeof kHeaderStart - 1;
  memcpy(ntlm.line, kHeaderStart, start);
  strutil_base64_encode(ntlm.line + start, ntlm.msg, len);
  size_t n = start + strlen(ntlm.line + start);
  memcpy(ntlm.line + n, "\r\n", 2);
  n += 2;
  if (growbuf_append(out, ntlm.line, static_cast<uint32_t>(n)) < 0) {
    log(LOG_ERROR, kSrc, "can't append ntlm authorization");
    return -1;
  }
  return 0;
}

int32_t build_negotiate(void) {
  memset(ntlm.msg, 0, kNegotiateLen);
  memcpy(ntlm.msg, kSignature, 8);
  put32(ntlm.msg + 8, 1);
  put32(ntlm.msg + 12, kNtlmNegotiateFlags);
  return kNegotiateLen;
}

// Builds the answer in the message buffer; its length, or -1 after a log line.
int32_t build_answer(const proxy_auth* st) {
  if (!st->user || !st->password || !st->host) {
    log(LOG_ERROR, kSrc, "no proxy user, password or host name");
    return -1;
  }
  // "domain\user" or "domain/user"; the configured text is left as it is.
  const char* user = st->user;
  const char* domain = user;
  size_t domain_len = 0;
  const char* sep = strchr(user, '\\');
  if (!sep) sep = strchr(user, '/');
  if (sep) {
    domain_len = static_cast<size_t>(sep - user);
    user = sep + 1;
  }
  size_t user_len = strnlen(user, kProxyAuthCredentialMax + 1);
  size_t host_len = strnlen(st->host, kProxyAuthCredentialMax + 1);
  size_t pass_len = strnlen(st->password, kProxyAuthCredentialMax + 1);
  if (!usable(domain, domain_len) || !usable(user, user_len) || !usable(st->host, host_len) ||
      !usable(st->password, pass_len)) {
    log(LOG_ERROR, kSrc, "proxy domain, user, password or host name too long or holds a line break");
    return -1;
  }

  uint8_t nt_hash[21];
  proxy_auth_ntlm_nt_hash(nt_hash, st->password);
  uint8_t lm_resp[kResponseLen];
  uint8_t nt_resp[kResponseLen];
  if (st->ntlm_flags & kNtlmFlagNtlm2Session) {
    uint8_t client[8];
    plat_random_bytes(client, 8);
    memset(lm_resp, 0, sizeof lm_resp);
    memcpy(lm_resp, client, 8);
    md5_ctx ctx;
    md5_init(&ctx);
    md5_update(&ctx, st->ntlm_challenge, 8);
    md5_update(&ctx, client, 8);
    uint8_t session[16];
    md5_final(&ctx, session);
    three_key_response(nt_hash, session, nt_resp);  // over its first 8 bytes
  } else {
    three_key_response(nt_hash, st->ntlm_challenge, nt_resp);
    uint8_t lm[21];
    lm_hash(lm, st->password);
    three_key_response(lm, st->ntlm_challenge, lm_resp);
  }

  uint8_t* m = ntlm.msg;
  uint32_t d = static_cast<uint32_t>(domain_len);
  uint32_t u = static_cast<uint32_t>(user_len);
  uint32_t h = static_cast<uint32_t>(host_len);
  memset(m, 0, kAnswerHeaderLen);
  memcpy(m, kSignature, 8);
  put32(m + 8, 3);
  put_descriptor(m + 12, kResponseLen, kLmResponseOffset);
  put_descriptor(m + 20, kResponseLen, kNtResponseOffset);
  put_descriptor(m + 28, d, kAnswerHeaderLen);
  put_descriptor(m + 36, u, kAnswerHeaderLen + d);
  put_descriptor(m + 44, h, kAnswerHeaderLen + d + u);
  // bytes 52..59: empty session key descriptor
  put32(m + 60, st->ntlm_flags & ~kNtlmFlagUnicode);
  memcpy(m + kLmResponseOffset, lm_resp, kResponseLen);
  memcpy(m + kNtResponseOffset, nt_resp, kResponseLen);
  memcpy(m + kAnswerHeaderLen, domain, d);
  memcpy(m + kAnswerHeaderLen + d, user, u);
  memcpy(m + kAnswerHeaderLen + d + u, st->host, h);
  return static_cast<int32_t>(kAnswerHeaderLen + d + u + h);
}

}  // namespace

int proxy_auth_ntlm_parse(proxy_auth* st, const char* challenge) {
  const char* text = challenge + strspn(challenge, " \t");
  switch (st->ntlm_step) {
    case kProxyNtlmNegotiate:
      if (*text == '\0') return 0;
      log(LOG_WARN, kSrc, "not expecting anything in step 1");
      return -1;
    case kProxyNtlmAnswer: {
      int32_t n = strutil_base64_decode(ntlm.msg, kMessageMax, text);
      if (n < 0) {
        log(LOG_ERROR, kSrc, "failed to decode ntml data: %s", text);
        return -1;
      }
      if (n < kChallengeMinLen) {
        log(LOG_ERROR, kSrc, "%db ntml data too short: %s", n, text);
        return -1;
      }
      if (memcmp(ntlm.msg, kSignature, 8) != 0) {
        log(LOG_ERROR, kSrc, "missing ntml signature: %s", text);
        return -1;
      }
      if (get32(ntlm.msg + 8) != 2) {
        log(LOG_ERROR, kSrc, "type should be 2 in step 2, not %02x%02x%02x%02x", ntlm.msg[8], ntlm.msg[9],
            ntlm.msg[10], ntlm.msg[11]);
        return -1;
      }
      memcpy(st->ntlm_target, ntlm.msg + 12, 8);
      st->ntlm_flags = get32(ntlm.msg + 20);
      memcpy(st->ntlm_challenge, ntlm.msg + 24, 8);
      st->ntlm_have_challenge = 1;
      return 0;
    }
    default:
      log(LOG_INFO, kSrc, "not expecting step %d", st->ntlm_step);
      return -1;
  }
}

int proxy_auth_ntlm_header(proxy_auth* st, growbuf* out) {
  switch (st->ntlm_step) {
    case kProxyNtlmNegotiate: {
      if (append_message(out, build_negotiate()) < 0) return -1;
      st->ntlm_keepalive = 1;
      return 0;
    }
    case kProxyNtlmAnswer: {
      if (!st->ntlm_have_challenge) {
        log(LOG_ERROR, kSrc, "no ntlm challenge to answer");
        return -1;
      }
      int32_t len = build_answer(st);
      if (len < 0 || append_message(out, len) < 0) return -1;
      st->ntlm_keepalive = 0;
      return 0;
    }
    default:
      log(LOG_INFO, kSrc, "not expecting step %d", st->ntlm_step);
      return -1;
  }
}

void proxy_auth_ntlm_nt_hash(uint8_t out[21], const char* password) {
  md4_ctx ctx;
  md4_init(&ctx);
  for (const char* p = password; *p; p++) {
    const uint8_t unit[2] = {static_cast<uint8_t>(*p), 0};
    md4_update(&ctx, unit, 2);
  }
  md4_final(&ctx, out);
  memset(out + 16, 0, 5);
}
