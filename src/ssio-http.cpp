// The HTTP transport of the io loop (type 1): writes one HTTP/1.0 request,
// reads the reply's headers and then hands the body to the state's data
// handler; also the HTTP-mode body of the server link and the queueing of
// HTTP side requests.
//
// The header block is parsed only once it is complete and never beyond a fixed
// cap, so a peer that sends endless headers fails the request instead of
// growing the buffer. The reply body's length is tracked, so a body cut short
// by the peer ends as a failure, not as a finished download.
#include "ssio-http.h"

#include <strings.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "plat.h"
#include "ssclient.h"
#include "sserr.h"
#include "ssio-http-proxy.h"
#include "ssio.h"

static const char kSrc[] = "src/ssio-http";

constexpr int32_t kRequestRoom = 2048;
constexpr int32_t kUserAgentMax = 255;

static struct {
  uint32_t sequence;
  char user_agent[kUserAgentMax + 1] = "ambit";
} S;

namespace {

int append_hex(growbuf* out, const uint8_t* p, int32_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  uint8_t* w = growbuf_reserve(out, static_cast<uint32_t>(n) * 2);
  if (!w) return -1;
  for (int32_t i = 0; i < n; i++) {
    w[2 * i] = static_cast<uint8_t>(kHex[p[i] >> 4]);
    w[2 * i + 1] = static_cast<uint8_t>(kHex[p[i] & 15]);
  }
  return growbuf_commit(out, static_cast<uint32_t>(n) * 2);
}

void put_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

int appendf(growbuf* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
int appendf(growbuf* out, const char* format, ...) {
  char line[kSsioUrlMax + 256];
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(line, sizeof line, format, ap);
  va_end(ap);
  if (n < 0 || n >= static_cast<int>(sizeof line)) return -1;
  return growbuf_append(out, line, static_cast<uint32_t>(n));
}

// Bytes up to and including the blank line that ends the headers ("\r\n\r\n"
// or "\n\n"), or 0 while it has not come.
int32_t header_end(const uint8_t* p, int32_t n) {
  for (int32_t i = 0; i < n; i++) {
    if (p[i] != '\n') continue;
    if (i + 1 < n && p[i + 1] == '\n') return i + 2;
    if (i + 2 < n && p[i + 1] == '\r' && p[i + 2] == '\n') return i + 3;
  }
  return 0;
}

}  // namespace

bool ssio_http_header(const char* headers, int32_t len, const char* name, char* out, size_t size) {
  size_t name_len = strlen(name);
  const char* end = headers + len;
  for (const char* line = headers; line < end;) {
    const char* nl = static_cast<const char*>(memchr(line, '\n', static_cast<size_t>(end - line)));
    const char* line_end = nl ? nl : end;
    if (static_cast<size_t>(line_end - line) >= name_len && strncasecmp(line, name, name_len) == 0) {
      const char* v = line + name_len;
      while (v < line_end && (*v == ' ' || *v == '\t')) v++;
      const char* ve = line_end;
      while (ve > v && (ve[-1] == '\r' || ve[-1] == ' ' || ve[-1] == '\t')) ve--;
      size_t n = static_cast<size_t>(ve - v);
      if (n >= size) n = size - 1;
      memcpy(out, v, n);
      out[n] = 0;
      return true;
    }
    line = line_end + 1;
  }
  return false;
}

namespace {

// The status code after "HTTP/x.y" and blanks; -1 after an ERROR line.
int32_t status_code(const char* headers, int32_t len) {
  if (len < 5 || strncmp(headers, "HTTP/", 5) != 0) {
    char c[5];
    for (int i = 0; i < 5; i++) c[i] = i < len && isprint(static_cast<unsigned char>(headers[i])) ? headers[i] : '?';
    log(LOG_ERROR, kSrc, "response doesn't start with HTTP/ (%c%c%c%c%c)", c[0], c[1], c[2], c[3], c[4]);
    return -1;
  }
  int32_t i = 5;
  while (i < len && headers[i] != ' ' && headers[i] != '\r' && headers[i] != '\n') i++;
  while (i < len && headers[i] == ' ') i++;
  if (i >= len || !isdigit(static_cast<unsigned char>(headers[i]))) {
    log(LOG_ERROR, kSrc, "can't find HTTP response code");
    return -1;
  }
  int32_t code = 0;
  for (int k = 0; k < 3 && i < len && isdigit(static_cast<unsigned char>(headers[i])); k++, i++)
    code = code * 10 + (headers[i] - '0');
  return code;
}

const char* method_text(int32_t method) {
  switch (method) {
    case kSsioPost:
      return "POST";
    case kSsioConnectMethod:
      return "CONNECT";
    default:
      return "GET";
  }
}

// Records a server error only for the server link: a side request's failure
// says nothing about the link's login.
void link_error(const ssio_state* st, int32_t code) {
  if (st->index == 0) sserr_report(code, 0, 0, nullptr, 0);
}

// Follows a redirect to `location` (absolute, or a path on the same server).
// 0 when the state restarted, -1 after an ERROR line.
int32_t follow_redirect(ssio_state* st, const char* location) {
  char url[kSsioUrlMax + 1];
  if (strlen(location) > static_cast<size_t>(kSsioUriSize)) {
    log(LOG_ERROR, kSrc, "redirected to very long uri: %s", location);
    return -1;
  }
  if (++st->priv.redirects > kSsioHttpRedirectsMax) {
    log(LOG_ERROR, kSrc, "redirected too many times, last is: %s", location);
    return -1;
  }
  if (location[0] == '/') {
    if (st->port == 80)
      snprintf(url, sizeof url, "http://%s%s", st->host, location);
    else
      snprintf(url, sizeof url, "http://%s:%d%s", st->host, st->port, location);
  } else {
    snprintf(url, sizeof url, "%s", location);
  }
  char host[kSsioHostSize], uri[kSsioUriSize];
  memcpy(host, st->host, sizeof host);
  memcpy(uri, st->uri, sizeof uri);
  const int32_t port = st->port;
  if (ssio_http_parse_url(st, url) < 0) return -1;
  // The market-data link carries the sign-on: a redirect may move it along
  // its server, never to another host. Side requests follow anywhere.
  if (st->index == 0 && strcasecmp(host, st->host) != 0) {
    log(LOG_ERROR, kSrc, "refusing redirect of the server link from %s to %s", host, st->host);
    memcpy(st->host, host, sizeof host);
    memcpy(st->uri, uri, sizeof uri);
    st->port = port;
    return -1;
  }
  char shown[kSsioUrlMax + 1];
  log(LOG_INFO, kSrc, "redirected to %s", ssio_http_url(st, shown, sizeof shown));
  int32_t r = ssio_state_reset(st, st->start_type, kSsioConnect, 0, 1, 1, 1, 0);
  return r < 0 ? -1 : 0;
}

// The reply's headers are complete (`hlen` bytes at the front of the read
// buffer): acts by the status code.
int32_t on_headers(ssio_state* st, int32_t hlen) {
  const char* headers = reinterpret_cast<const char*>(st->rbuf.data);
  char url[kSsioUrlMax + 1];
  ssio_http_url(st, url, sizeof url);
  int32_t code = status_code(headers, hlen);
  if (code < 0) return -1;
  switch (ssio_http_reply_action(code)) {
    case kHttpGood:
      if (st->start_type == kSsioHttpProxy) ssio_proxy_remember_method();
      break;
    case kHttpIgnored:
      log(LOG_WARN, kSrc, "ignoring response code %d", code);
      break;
    case kHttpUnauthorized:
      log(LOG_ERROR, kSrc, "unauthorized: %s", url);
      link_error(st, kSserrProxyAuth);
      ssio_proxy_forget_method();
      return -1;
    case kHttpProxyAuth:
      return ssio_proxy_on_407(st, headers, hlen);
    case kHttpFail:
      if (code == 400)
        log(LOG_ERROR, kSrc, "bad request: %s", url);
      else if (code == 403)
        log(LOG_ERROR, kSrc, "forbidden: %s", url);
      else if (code == 404)
        log(LOG_ERROR, kSrc, "not found: %s", url);
      else if (code == 502)
        log(LOG_ERROR, kSrc, "proxy unauthorized: %s", url);
      else {
        log(LOG_ERROR, kSrc, "error %d: %s", code, url);
      }
      return -1;
  }

  if (code >= 300 && code < 400) {
    char location[kSsioUriSize + 2];
    if (ssio_http_header(headers, hlen, "Location:", location, sizeof location) ||
        ssio_http_header(headers, hlen, "URI:", location, sizeof location)) {
      location[strcspn(location, " \t")] = 0;
      return follow_redirect(st, location);
    }
  }

  st->priv.content_length = 0;
  char value[32];
  if (code == 200 && ssio_http_header(headers, hlen, "Content-Length:", value, sizeof value)) {
    char* end = nullptr;
    long long n = strtoll(value, &end, 10);
    if (end != value && n > 0) st->priv.content_length = n;
  }

  ssio_buffer_drop(&st->rbuf, hlen);
  if (st->start_type == kSsioHttpProxy && st->index == 0 && st->method == kSsioConnectMethod) {
    // The tunnel to the server is open: the link speaks the direct protocol
    // through it from its greeting on.
    log(LOG_INFO, kSrc, "tunnel to %s:%d open", st->host, st->port);
    ssio_state_reset(st, kSsioDirect, kSsioWrite, kSsioWritable, 0, 0, 1, 1);
    ssio_state_arm(st);
    return 0;
  }
  st->priv.body_bytes = st->rbuf.len;
  int32_t total = st->priv.content_length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(st->priv.content_length);
  ssio_state_progress(st, kSsioProgressSent, st->rbuf.len, total);
  ssio_state_arm(st);
  st->phase = kSsioData;
  st->wait = kSsioReadable;
  return 0;
}

}  // namespace

ssio_http_action ssio_http_reply_action(int32_t code) {
  if (code == 200 || code == 301 || code == 302) return kHttpGood;
  if (code < 400) return kHttpIgnored;
  if (code == 401) return kHttpUnauthorized;
  if (code == 407) return kHttpProxyAuth;
  return kHttpFail;
}

void ssio_http_set_user_agent(const char* format, ...) {
  char text[kUserAgentMax + 1];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  // A line break would end the header early and let the text add others.
  text[strcspn(text, "\r\n")] = 0;
  memcpy(S.user_agent, text, sizeof text);
}

const char* ssio_http_user_agent(void) { return S.user_agent; }

const char* ssio_http_url(const ssio_state* st, char* out, size_t size) {
  if (!st->host[0])
    snprintf(out, size, "<not http>");
  else if (st->port == 80)
    snprintf(out, size, "http://%s%s", st->host, st->uri);
  else
    snprintf(out, size, "http://%s:%d%s", st->host, st->port, st->uri);
  return out;
}

int ssio_http_write_request(ssio_state* st, int via_proxy) {
  growbuf* out = &st->sbuf;
  if (!growbuf_reserve(out, static_cast<uint32_t>(st->body.len + kRequestRoom))) {
    log(LOG_ERROR, kSrc, "can't get buffer space for http request");
    return -1;
  }
  const char* method = method_text(st->method);
  char target[kSsioUrlMax + 1];
  int r;
  if (st->method == kSsioConnectMethod) {
    snprintf(target, sizeof target, "%s:%d", st->host, st->port);
    r = appendf(out, "CONNECT %s HTTP/1.1\r\nHost: %s\r\nUser-Agent: %s\r\n", target, st->host, S.user_agent);
  } else {
    if (via_proxy)
      ssio_http_url(st, target, sizeof target);
    else
      snprintf(target, sizeof target, "%s", st->uri);
    r = appendf(out, "%s %s HTTP/1.0\r\nHost: %s\r\nUser-Agent: %s\r\n", method, target, st->host, S.user_agent);
  }
  if (r == 0 && via_proxy && ssio_proxy_auth_set()) {
    // Without a method the request goes out bare and the proxy's 407 says
    // which it wants.
    ssio_proxy_add_authorization(st, out, method, target);
  }
  if (r == 0 && st->method == kSsioPost)
    r = appendf(out, "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n", st->body.len);
  if (r == 0 && st->method != kSsioConnectMethod) {
    if (!st->auth_flags)
      r = appendf(out, "Connection: close\r\n");
    else if (via_proxy)
      r = appendf(out, "Proxy-Connection: Keep-Alive\r\n");
    if (r == 0) r = appendf(out, "Accept: */*\r\nPragma: no-cache\r\n");
  }
  if (r == 0) r = appendf(out, "\r\n");
  if (r == 0 && st->method == kSsioPost && st->body.len > 0)
    r = growbuf_append(out, st->body.data, static_cast<uint32_t>(st->body.len));
  if (r < 0) {
    log(LOG_ERROR, kSrc, "can't get buffer space for http request");
    return -1;
  }
  return 0;
}

int32_t ssio_http_handler(ssio_state* st) {
  switch (st->phase) {
    case kSsioConnect:
    case kSsioReconnect: {
      if (ssio_state_begin_connect(st, st->host, st->port) < 0) {
        log(LOG_ERROR, kSrc, "can't connect to %s:%d", st->host, st->port);
        return -1;
      }
      return 0;
    }
    case kSsioWaitConnected:
      return ssio_state_await_connect(st);
    case kSsioWrite:
      if (!(st->ready & kSsioWritable)) return 0;
      if (ssio_http_write_request(st, 0) < 0) return -1;
      ssio_state_progress(st, kSsioProgressSent, 0, 0);
      ssio_state_arm(st);
      st->phase = kSsioWaitReply;
      st->wait = kSsioReadable;
      return 0;
    case kSsioWaitReply: {
      if (st->priv.draining) {
        // The rest of a 407 body on a kept-alive connection: skipped before
        // the request goes out again, so it is not read as the next reply.
        int32_t n = st->priv.drain < st->rbuf.len ? static_cast<int32_t>(st->priv.drain) : st->rbuf.len;
        ssio_buffer_drop(&st->rbuf, n);
        st->priv.drain -= n;
        if (st->priv.drain > 0) return 0;
        st->priv.draining = 0;
        return ssio_state_reset(st, st->start_type, kSsioWrite, kSsioWritable, 0, 1, 1, 0) < 0 ? -1 : 0;
      }
      int32_t hlen = header_end(st->rbuf.data, st->rbuf.len);
      if (hlen == 0) {
        if (st->rbuf.len > kSsioHttpHeadersMax) {
          log(LOG_ERROR, kSrc, "reply headers longer than %d bytes", kSsioHttpHeadersMax);
          return -1;
        }
        return 0;
      }
      if (hlen > kSsioHttpHeadersMax) {
        log(LOG_ERROR, kSrc, "reply headers longer than %d bytes", kSsioHttpHeadersMax);
        return -1;
      }
      return on_headers(st, hlen);
    }
    default:
      log(LOG_ERROR, kSrc, "wasn't expecting state %d", st->phase);
      return -1;
  }
}

int ssio_http_body(growbuf* out, const void* data, int32_t len, int request_set) {
  if (len < 0) return -1;
  uint8_t head[12];
  put_be32(head, static_cast<uint32_t>(plat_random()));
  put_be32(head + 4, S.sequence++);
  put_be32(head + 8, ssclient_session_value());
  if (growbuf_append(out, "a=", 2) < 0 || append_hex(out, head, sizeof head) < 0 ||
      append_hex(out, static_cast<const uint8_t*>(data), len) < 0)
    return -1;
  if (request_set && growbuf_append(out, "005B", 4) < 0) return -1;
  return growbuf_append(out, "&b=1", 4);
}

uint32_t ssio_http_sequence(void) { return S.sequence; }
void ssio_http_set_sequence(uint32_t next) { S.sequence = next; }

int32_t ssio_expect_bye(const uint8_t* data, int32_t len, void* context, uint32_t arg) {
  (void)context;
  (void)arg;
  if (len < 3) return 0;
  if (len <= 4) {
    if (memcmp(data, "BYE", 3) != 0)
      log(LOG_ERROR, kSrc, "expecting BYE, not %02x %02x %02x", data[0], data[1], data[2]);
  } else {
    log(LOG_ERROR, kSrc, "expecting BYE\n, not %db: %02x %02x %02x %02x", len, data[0], data[1], data[2],
        data[3]);
  }
  return -1;  // the request set's exchange is over either way
}

int ssio_http_parse_url(ssio_state* st, const char* text) {
  static const char kScheme[] = "http://";
  if (text && strncasecmp(text, "https://", 8) == 0) {
    // No TLS on this side: documents and feeds come over plain http only.
    log(LOG_ERROR, kSrc, "https is not supported, only plain http: %s", text);
    return -1;
  }
  if (!text || strncasecmp(text, kScheme, sizeof kScheme - 1) != 0) {
    log(LOG_ERROR, kSrc, "bad protocol in %s", text ? text : "");
    return -1;
  }
  const char* host = text + sizeof kScheme - 1;
  size_t host_len = strcspn(host, ":/");
  if (host_len == 0 || host_len >= static_cast<size_t>(kSsioHostSize)) {
    log(LOG_ERROR, kSrc, "hostname too long: %s", text);
    return -1;
  }
  const char* rest = host + host_len;
  int32_t port = 80;
  if (*rest == ':') {
    char* end = nullptr;
    long v = isdigit(static_cast<unsigned char>(rest[1])) ? strtol(rest + 1, &end, 10) : -1;
    if (v < 1 || v > 65535) {
      log(LOG_ERROR, kSrc, "bad port in %s", text);
      return -1;
    }
    port = static_cast<int32_t>(v);
    rest = end;
  }
  if (*rest && *rest != '/') {
    log(LOG_ERROR, kSrc, "bad protocol in %s", text);
    return -1;
  }
  const char* path = *rest ? rest : "/";
  if (strlen(path) >= static_cast<size_t>(kSsioUriSize)) {
    log(LOG_ERROR, kSrc, "uri is too long in %s", text);
    return -1;
  }
  memcpy(st->host, host, host_len);
  st->host[host_len] = 0;
  st->port = port;
  snprintf(st->uri, sizeof st->uri, "%s", path);
  return 0;
}

int ssio_http_request(const char* method, const char* host, int32_t port, const char* uri, const void* body,
                      int32_t body_len, ssio_data_fn handler, void* context, uint32_t arg,
                      ssio_progress* progress, int32_t id) {
  int32_t m;
  if (!method || strcmp(method, "GET") == 0) {
    m = kSsioGet;
  } else if (strcmp(method, "POST") == 0) {
    m = kSsioPost;
  } else {
    log(LOG_ERROR, kSrc, "method must be GET or POST, not %s", method);
    return -1;
  }
  if (host && strlen(host) >= static_cast<size_t>(kSsioHostSize)) {
    log(LOG_ERROR, kSrc, "hostname too long: %s", host);
    return -1;
  }
  if (uri && strlen(uri) >= static_cast<size_t>(kSsioUriSize)) {
    log(LOG_ERROR, kSrc, "uri too long: %s", uri);
    return -1;
  }
  if (host && port > 65535) {
    log(LOG_ERROR, kSrc, "bad port %d for %s", port, host);
    return -1;
  }
  ssio_state* rec = ssio_pending_new();
  if (!rec) {
    log(LOG_ERROR, kSrc, "can't alloc state");
    return -1;
  }
  rec->id = id;
  rec->progress = progress;
  rec->method = m;
  if (host) {
    snprintf(rec->host, sizeof rec->host, "%s", host);
    rec->port = port > 0 ? port : 80;
    snprintf(rec->uri, sizeof rec->uri, "%s", uri && *uri ? uri : "/");
  } else if (ssio_http_parse_url(rec, uri) < 0) {
    ssio_state_progress(rec, kSsioProgressFailed, 0, 0);
    ssio_pending_free(rec);
    return -1;
  }
  if (body && body_len > 0 && growbuf_append(&rec->body, body, static_cast<uint32_t>(body_len)) < 0) {
    log(LOG_ERROR, kSrc, "can't copy request body");
    ssio_pending_free(rec);
    return -1;
  }
  rec->handler = handler;
  rec->context = context;
  rec->arg = arg;
  ssio_pending_append(rec);
  return 0;
}

int ssio_get(const char* url, ssio_data_fn handler, void* context, uint32_t arg, ssio_progress* progress,
             int32_t id) {
  return ssio_http_request("GET", nullptr, 0, url, nullptr, 0, handler, context, arg, progress, id);
}

int ssio_cancel(int32_t id) {
  if (id <= 0) {
    log(LOG_ERROR, kSrc, "won't cancel id %d", id);
    return -1;
  }
  char url[kSsioUrlMax + 1];
  for (int32_t i = 1; i < kSsioStates; i++) {
    ssio_state* st = ssio_state_at(i);
    if (st->phase == kSsioIdle || st->closing || st->id != id) continue;
    // Closing states are skipped by the rest of the pass: the handler is not
    // called again.
    st->closing = 1;
    ssio_state_progress(st, kSsioProgressFailed, 0, 0);
    log(LOG_INFO, kSrc, "cancelled %s partway", ssio_http_url(st, url, sizeof url));
    return 0;
  }
  for (ssio_state* rec = ssio_pending_first(); rec; rec = rec->next) {
    if (rec->id != id) continue;
    ssio_state_progress(rec, kSsioProgressFailed, 0, 0);
    ssio_pending_remove(rec);
    log(LOG_INFO, kSrc, "cancelled %s", ssio_http_url(rec, url, sizeof url));
    ssio_pending_free(rec);
    return 0;
  }
  log(LOG_ERROR, kSrc, "can't find request %d to cancel", id);
  return -1;
}
