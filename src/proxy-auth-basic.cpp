// Basic proxy authentication: remembers the realm of the proxy's challenge
// and answers with the base64 text of "user:password". The credentials are
// checked before anything is written, so a refused answer leaves the
// transport's request buffer as it was.
#include "proxy-auth-basic.h"

#include <cstdio>
#include <cstring>

#include "log.h"
#include "strutil.h"

static const char kSrc[] = "src/proxy-auth-basic";

namespace {

constexpr char kHeaderStart[] = "Proxy-Authorization: Basic ";

bool has_line_break(const char* s) { return strpbrk(s, "\r\n") != nullptr; }

}  // namespace

int proxy_auth_basic_parse(proxy_auth* st, const char* challenge) {
  char realm[sizeof st->basic_realm] = "";
  if (strutil_auth_param(realm, sizeof realm, challenge, "realm=") < 0) return -1;
  memcpy(st->basic_realm, realm, sizeof realm);
  log(LOG_INFO, kSrc, "Basic realm=%s", st->basic_realm);
  return 0;
}

int proxy_auth_basic_header(proxy_auth* st, growbuf* out) {
  if (!st->user || !st->password) {
    log(LOG_ERROR, kSrc, "no proxy user or password");
    return -1;
  }
  size_t user_len = strlen(st->user);
  size_t pass_len = strlen(st->password);
  if (user_len + pass_len > kProxyBasicCredentialsMax) {
    log(LOG_ERROR, kSrc, "proxy user and password are longer than %d characters", kProxyBasicCredentialsMax);
    return -1;
  }
  if (has_line_break(st->user) || has_line_break(st->password)) {
    log(LOG_ERROR, kSrc, "proxy user or password holds a line break");
    return -1;
  }
  char pair[kProxyBasicCredentialsMax + 2];
  int n = snprintf(pair, sizeof pair, "%s:%s", st->user, st->password);

  char line[sizeof kHeaderStart + strutil_base64_size(kProxyBasicCredentialsMax + 1) + 2];
  memcpy(line, kHeaderStart, sizeof kHeaderStart - 1);
  char* coded = line + sizeof kHeaderStart - 1;
  strutil_base64_encode(coded, pair, n);
  size_t len = static_cast<size_t>(coded - line) + strlen(coded);
  memcpy(line + len, "\r\n", 2);
  len += 2;
  if (growbuf_append(out, line, static_cast<uint32_t>(len)) < 0) {
    log(LOG_ERROR, kSrc, "can't append basic authorization");
    return -1;
  }
  return 0;
}
