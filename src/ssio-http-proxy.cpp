// The HTTP proxy transport of the io loop (type 2): connects to the HTTP
// proxy, then hands the state to the HTTP transport with the request in its
// proxy form (CONNECT for the server link, else the absolute URL), and answers
// the proxy's 407 challenges with Basic, Digest or NTLM.
//
// NTLM authenticates a connection, not a request: its three legs must travel
// on one kept-alive connection, so the body of each 407 is skipped to its end
// before the next request is written on the same socket. The method that last
// led to a good reply is remembered for the next request of the process.
#include "ssio-http-proxy.h"

#include <strings.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "plat.h"
#include "proxy-auth-basic.h"
#include "proxy-auth-digest.h"
#include "proxy-auth-ntlm.h"
#include "sserr.h"
#include "ssio-http.h"
#include "ssio.h"

static const char kSrc[] = "src/ssio-http-proxy";

// Atomic: the io thread uses them, and changing the proxy settings on the
// user-interface thread forgets them.
static struct {
  std::atomic<uint32_t> in_use{0};      // the method of the last authorization written
  std::atomic<uint32_t> remembered{0};  // the method that last led to a good reply
} S;

namespace {

void link_error(const ssio_state* st) {
  if (st->index == 0) sserr_report(kSserrProxyAuth, 0, 0, nullptr, 0);
}

// The settings may change on the user-interface thread at any time (a
// relogin): the schemes read a copy taken now.
void point_at_credentials(ssio_state* st) {
  ssio_proxy_auth_copy(st->priv.user, st->priv.password);
  st->priv.auth.user = st->priv.user;
  st->priv.auth.password = st->priv.password;
  st->priv.auth.host = ssio_host_name();
}

}  // namespace

int32_t ssio_http_proxy_handler(ssio_state* st) {
  switch (st->phase) {
    case kSsioConnect:
    case kSsioReconnect: {
      const char* host = nullptr;
      int32_t port = 0;
      char proxy[kSsioHostSize];
      int have;
      {
        plat_lock_guard lock(ssio_state_mutex());
        have = ssio_http_proxy(&host, &port);
        if (have == 0) snprintf(proxy, sizeof proxy, "%s", host);
      }
      if (have < 0) {
        log(LOG_ERROR, kSrc, "no http proxy defined");
        return -1;
      }
      if (ssio_state_begin_connect(st, proxy, port) < 0) {
        log(LOG_ERROR, kSrc, "can't connect to http proxy %s:%d", proxy, port);
        return -1;
      }
      return 0;
    }
    case kSsioWaitConnected:
      return ssio_state_await_connect(st);
    case kSsioWrite:
      if (!(st->ready & kSsioWritable)) return 0;
      // Only the server link outside HTTP mode is tunnelled; everything else
      // is a plain request the proxy forwards.
      if (st->index == 0 && !ssio_http_mode()) st->method = kSsioConnectMethod;
      if (ssio_state_reset(st, kSsioHttp, kSsioWaitReply, kSsioReadable, 0, 0, 1, 0) < 0) return -1;
      ssio_state_arm(st);
      if (ssio_http_write_request(st, 1) < 0) return -1;
      ssio_state_progress(st, kSsioProgressSent, 0, 0);
      return 0;
    default:
      log(LOG_ERROR, kSrc, "wasn't expecting state %d", st->phase);
      return -1;
  }
}

int ssio_proxy_parse_challenge(ssio_state* st, const char* line) {
  const char* colon = strchr(line, ':');
  if (!colon) {
    log(LOG_ERROR, kSrc, "didn't find ':' in %s", line);
    return -1;
  }
  const char* p = colon + 1;
  while (*p == ' ' || *p == '\t') p++;
  if (!*p) {
    log(LOG_ERROR, kSrc, "nothing after ':' in %s", line);
    return -1;
  }
  size_t word = strcspn(p, " \t");
  const char* rest = p + word;
  while (*rest == ' ' || *rest == '\t') rest++;
  point_at_credentials(st);
  proxy_auth* a = &st->priv.auth;
  if (word == 5 && strncasecmp(p, "basic", 5) == 0) {
    if (proxy_auth_basic_parse(a, rest) == 0) st->priv.offered |= kProxyBasic;
  } else if (word == 6 && strncasecmp(p, "digest", 6) == 0) {
    if (proxy_auth_digest_parse(a, rest) == 0) st->priv.offered |= kProxyDigest;
  } else if (word == 4 && strncasecmp(p, "ntlm", 4) == 0) {
    // A bare "NTLM" invites the negotiate message; one with data is the
    // proxy's challenge, answered in the second step.
    int32_t before = a->ntlm_step;
    a->ntlm_step = *rest ? kProxyNtlmAnswer : kProxyNtlmNegotiate;
    if (proxy_auth_ntlm_parse(a, rest) == 0)
      st->priv.offered |= kProxyNtlm;
    else
      a->ntlm_step = before;
  } else if ((word == 9 && strncasecmp(p, "negotiate", 9) == 0) || (word == 8 && strncasecmp(p, "kerberos", 8) == 0)) {
    // Not offered by this client.
  } else {
    log(LOG_WARN, kSrc, "unknown method in %s", line);
  }
  return 0;
}

int ssio_proxy_add_authorization(ssio_state* st, growbuf* out, const char* method, const char* target) {
  point_at_credentials(st);
  proxy_auth* a = &st->priv.auth;
  uint32_t offered = st->priv.offered;
  if (!offered && S.remembered) {
    offered = S.remembered;
    st->priv.from_memory = 1;
  }
  if (offered & kProxyNtlm) {
    if (a->ntlm_step == 0) a->ntlm_step = kProxyNtlmNegotiate;
    if (proxy_auth_ntlm_header(a, out) == 0) {
      S.in_use = kProxyNtlm;
      st->auth_flags = a->ntlm_keepalive;
      return 0;
    }
  }
  if (offered & kProxyDigest) {
    if (proxy_auth_digest_header(a, out, method, target) == 0) {
      S.in_use = 0;  // a Digest answer is tied to its nonce: never remembered
      return 0;
    }
  }
  if (offered & kProxyBasic) {
    if (proxy_auth_basic_header(a, out) == 0) {
      S.in_use = kProxyBasic;
      st->priv.offered = kProxyBasic;
      return 0;
    }
    st->priv.offered &= ~kProxyBasic;
  }
  return -1;
}

int32_t ssio_proxy_on_407(ssio_state* st, const char* headers, int32_t header_len) {
  st->priv.replies_407++;
  st->priv.offered = 0;
  static const char kName[] = "Proxy-Authenticate:";
  const size_t name_len = sizeof kName - 1;
  const char* end = headers + header_len;
  for (const char* line = headers; line < end;) {
    const char* nl = static_cast<const char*>(memchr(line, '\n', static_cast<size_t>(end - line)));
    const char* line_end = nl ? nl : end;
    if (static_cast<size_t>(line_end - line) >= name_len && strncasecmp(line, kName, name_len) == 0) {
      size_t n = static_cast<size_t>(line_end - line);
      while (n > 0 && (line[n - 1] == '\r' || line[n - 1] == ' ')) n--;
      char text[2048];
      if (n >= sizeof text) n = sizeof text - 1;
      memcpy(text, line, n);
      text[n] = 0;
      if (ssio_proxy_parse_challenge(st, text) < 0) {
        log(LOG_ERROR, kSrc, "couldn't decode proxy authentication request");
        link_error(st);
        return -1;
      }
    }
    line = line_end + 1;
  }
  if (!st->priv.offered) {
    log(LOG_ERROR, kSrc, "proxy requires authentication, but gives no hints");
    link_error(st);
    return -1;
  }
  bool ntlm = (st->priv.offered & kProxyNtlm) != 0;
  if (st->priv.replies_407 >= (ntlm ? kProxyNtlmRepliesMax : kProxyRepliesMax)) {
    log(LOG_ERROR, kSrc, "proxy authentication failed");
    link_error(st);
    return -1;
  }
  int32_t rest = st->rbuf.len - header_len;
  char connection[32];
  bool closing = (ssio_http_header(headers, header_len, "Proxy-Connection:", connection, sizeof connection) ||
                  ssio_http_header(headers, header_len, "Connection:", connection, sizeof connection)) &&
                 strncasecmp(connection, "close", 5) == 0;
  if (st->auth_flags && !closing) {
    // The connection stays: the 407's body is skipped first. A body of no
    // stated length ends only with the connection, which cannot then carry
    // the next leg.
    char value[32];
    long long body = -1;
    if (ssio_http_header(headers, header_len, "Content-Length:", value, sizeof value)) {
      char* e = nullptr;
      body = strtoll(value, &e, 10);
      if (e == value || body < 0) body = -1;
    }
    if (body >= 0) {
      int32_t now = body < rest ? static_cast<int32_t>(body) : rest;
      // The headers and what of the body has come go; the rest is skipped as
      // it arrives.
      ssio_buffer_drop(&st->rbuf, header_len + now);
      st->priv.drain = body - now;
      if (st->priv.drain > 0) {
        st->priv.draining = 1;
        return 0;
      }
      return ssio_state_reset(st, st->start_type, kSsioWrite, kSsioWritable, 0, 1, 1, 0) < 0 ? -1 : 0;
    }
    log(LOG_WARN, kSrc, "proxy reply has no length: asking again on a new connection");
  }
  return ssio_state_reset(st, st->start_type, kSsioConnect, 0, 1, 1, 1, 0) < 0 ? -1 : 0;
}

void ssio_proxy_remember_method(void) { S.remembered = S.in_use.load(); }

void ssio_proxy_forget_method(void) {
  S.in_use = 0;
  S.remembered = 0;
}

uint32_t ssio_proxy_method_in_use(void) { return S.in_use; }
uint32_t ssio_proxy_remembered_method(void) { return S.remembered; }
