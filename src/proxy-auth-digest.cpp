// Digest proxy authentication with MD5: keeps the proxy's challenge and
// answers it for one request. The answer hashes the request's own method and
// target, so the CONNECT that tunnels the server link is answered for
// "CONNECT host:port" as a proxy checks it. The nonce count is one counter
// for the whole process, bumped by every answer; only the io thread answers.
#include "proxy-auth-digest.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "log.h"
#include "md5.h"
#include "plat.h"
#include "strutil.h"

static const char kSrc[] = "src/proxy-auth-digest";

namespace {

constexpr int kCnonceDigits = 8;
constexpr int kTestCnonceMax = 32;
// Longest request target answered; the transport's are far shorter.
constexpr size_t kUriMax = 2047;
constexpr size_t kMethodMax = 15;
// Room for the whole header line: the fixed text and every value at its
// longest (user, realm, nonce, opaque 255 each, uri 2047, cnonce 32).
constexpr int kLineMax = 4096;

struct {
  int32_t nonce_count;
  int has_test_cnonce;
  char test_cnonce[kTestCnonceMax + 1];
} digest;

typedef char md5_hex[33];

// Lower-case hex MD5 of the pieces joined with ':'.
void md5_joined(md5_hex out, std::initializer_list<const char*> pieces) {
  md5_ctx ctx;
  md5_init(&ctx);
  bool first = true;
  for (const char* piece : pieces) {
    if (!first) md5_update(&ctx, ":", 1);
    md5_update(&ctx, piece, static_cast<uint32_t>(strlen(piece)));
    first = false;
  }
  uint8_t digest_bytes[16];
  md5_final(&ctx, digest_bytes);
  strutil_hex_encode(out, digest_bytes, 16);
}

// One decimal digit per random byte: the byte as a signed value, read as an
// unsigned 32-bit number, modulo 10.
void make_cnonce(char out[kTestCnonceMax + 1]) {
  if (digest.has_test_cnonce) {
    memcpy(out, digest.test_cnonce, sizeof digest.test_cnonce);
    return;
  }
  int8_t bytes[kCnonceDigits];
  plat_random_bytes(bytes, kCnonceDigits);
  for (int i = 0; i < kCnonceDigits; i++)
    out[i] = static_cast<char>('0' + static_cast<uint32_t>(static_cast<int32_t>(bytes[i])) % 10);
  out[kCnonceDigits] = '\0';
}

// Text echoed inside a quoted header value: no line breaks, no quotes.
bool fits_quoted(const char* s, size_t max) {
  return strnlen(s, max + 1) <= max && !strpbrk(s, "\r\n\"");
}

// Keeps "auth" when it is one of several comma-separated qop values.
void choose_qop(char* qop) {
  if (strcmp(qop, "auth") == 0) return;
  for (const char* p = qop; *p;) {
    p += strspn(p, " \t,");
    size_t n = strcspn(p, " \t,");
    if (n == 4 && strncmp(p, "auth", 4) == 0) {
      strcpy(qop, "auth");
      return;
    }
    p += n;
  }
}

}  // namespace

int proxy_auth_digest_parse(proxy_auth* st, const char* challenge) {
  char realm[sizeof st->realm] = "";
  char nonce[sizeof st->nonce] = "";
  char opaque[sizeof st->opaque] = "";
  // The algorithm is read wide and cut to its field: the answer is MD5
  // whatever it names, so a long name must not refuse the challenge.
  char algorithm[kProxyAuthValueMax + 1] = "";
  // The qop list is read wider than the field, since "auth,auth-int" and
  // longer lists are narrowed to "auth" below.
  char qop[kProxyAuthValueMax + 1] = "";
  if (strutil_auth_param(realm, sizeof realm, challenge, "realm=") < 0 ||
      strutil_auth_param(opaque, sizeof opaque, challenge, "opaque=") < 0 ||
      strutil_auth_param(algorithm, sizeof algorithm, challenge, "algorithm=") < 0 ||
      strutil_auth_param(qop, sizeof qop, challenge, "qop=") < 0) {
    log(LOG_ERROR, kSrc, "can't use digest challenge: %s", challenge);
    return -1;
  }
  int has_nonce = strutil_auth_param(nonce, sizeof nonce, challenge, "nonce=");
  if (has_nonce <= 0) {
    if (has_nonce == 0) log(LOG_ERROR, kSrc, "no nonce in digest challenge: %s", challenge);
    return -1;
  }
  choose_qop(qop);
  if (strlen(qop) > kProxyAuthTokenMax) {
    log(LOG_ERROR, kSrc, "digest qop \"%s\" is longer than %d characters", qop, kProxyAuthTokenMax);
    return -1;
  }
  memcpy(st->realm, realm, sizeof realm);
  memcpy(st->nonce, nonce, sizeof nonce);
  memcpy(st->opaque, opaque, sizeof opaque);
  size_t algorithm_len = strnlen(algorithm, sizeof st->algorithm - 1);
  memcpy(st->algorithm, algorithm, algorithm_len);
  st->algorithm[algorithm_len] = '\0';
  memcpy(st->qop, qop, sizeof st->qop);
  log(LOG_INFO, kSrc, "Digest realm=%s nonce=%s opaque=%s algo=%s qop=%s", st->realm, st->nonce, st->opaque,
      st->algorithm, st->qop);
  return 0;
}

int proxy_auth_digest_header(proxy_auth* st, growbuf* out, const char* method, const char* uri) {
  if (!st->user || !st->password) {
    log(LOG_ERROR, kSrc, "no proxy user or password");
    return -1;
  }
  if (!fits_quoted(st->user, kProxyAuthCredentialMax) ||
      strnlen(st->password, kProxyAuthCredentialMax + 1) > kProxyAuthCredentialMax ||
      strpbrk(st->password, "\r\n")) {
    log(LOG_ERROR, kSrc, "proxy user or password too long or holds a line break or quote");
    return -1;
  }
  if (!method || !uri || !*method || strnlen(method, kMethodMax + 1) > kMethodMax || !fits_quoted(uri, kUriMax)) {
    log(LOG_ERROR, kSrc, "bad request method or target for digest");
    return -1;
  }
  if (st->nonce[0] == '\0') {
    log(LOG_ERROR, kSrc, "no digest challenge to answer");
    return -1;
  }

  // The count is bumped as unsigned so that it wraps instead of overflowing.
  digest.nonce_count = static_cast<int32_t>(static_cast<uint32_t>(digest.nonce_count) + 1);
  char nc[9];
  snprintf(nc, sizeof nc, "%08x", static_cast<uint32_t>(digest.nonce_count));
  char cnonce[kTestCnonceMax + 1];
  make_cnonce(cnonce);

  md5_hex ha1, ha2, response;
  md5_joined(ha1, {st->user, st->realm, st->password});
  md5_joined(ha2, {method, uri});
  bool with_qop = strcmp(st->qop, "auth") == 0;
  if (with_qop)
    md5_joined(response, {ha1, st->nonce, nc, cnonce, st->qop, ha2});
  else
    md5_joined(response, {ha1, st->nonce, ha2});

  char line[kLineMax];
  int n = snprintf(line, sizeof line,
                   "Proxy-Authorization: Digest username=\"%s\", realm=\"%s\", nonce=\"%s\", uri=\"%s\"", st->user,
                   st->realm, st->nonce, uri);
  if (with_qop)
    n += snprintf(line + n, sizeof line - n, ", cnonce=\"%s\", nc=%s, qop=\"%s\"", cnonce, nc, st->qop);
  n += snprintf(line + n, sizeof line - n, ", response=\"%s\"", response);
  if (st->opaque[0]) n += snprintf(line + n, sizeof line - n, ", opaque=\"%s\"", st->opaque);
  n += snprintf(line + n, sizeof line - n, "\r\n");
  if (growbuf_append(out, line, static_cast<uint32_t>(n)) < 0) {
    log(LOG_ERROR, kSrc, "can't append digest authorization");
    return -1;
  }
  return 0;
}

int32_t proxy_auth_digest_nonce_count(void) { return digest.nonce_count; }

void proxy_auth_digest_set_nonce_count(int32_t count) { digest.nonce_count = count; }

void proxy_auth_digest_set_test_cnonce(const char* cnonce) {
  digest.has_test_cnonce = cnonce != nullptr;
  if (cnonce) {
    strncpy(digest.test_cnonce, cnonce, kTestCnonceMax);
    digest.test_cnonce[kTestCnonceMax] = '\0';
  }
}
