// The HTTP transport of the io loop (type 1), the HTTP-mode body of the
// server link and the queueing of HTTP side requests.
//
// Minimal version: replaced when the HTTP transport is built. A type-1 state
// fails at its first step; URL parsing, queueing and cancelling of side
// requests are real, so that HTTP mode and side requests reach the io loop in
// the shape they will have.
#include "ssio-http.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "plat.h"
#include "ssio.h"

static const char kSrc[] = "src/ssio-http";

static struct {
  uint32_t sequence;
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

// The request's URL for log lines.
void url_of(const ssio_state* st, char* out, size_t size) {
  if (!st->host[0])
    snprintf(out, size, "<not http>");
  else if (st->port == 80)
    snprintf(out, size, "http://%s%s", st->host, st->uri);
  else
    snprintf(out, size, "http://%s:%d%s", st->host, st->port, st->uri);
}

}  // namespace

// Minimal version: replaced when the HTTP transport is built.
int32_t ssio_http_handler(ssio_state* st) {
  log(LOG_ERROR, kSrc, "no http transport for %s:%d", st->host, st->port);
  return -1;
}

// Minimal version: replaced when the HTTP transport is built. The session
// value of the sign on is left 0 here.
int ssio_http_body(growbuf* out, const void* data, int32_t len, int request_set) {
  if (len < 0) return -1;
  uint8_t head[12];
  put_be32(head, static_cast<uint32_t>(plat_random()));
  put_be32(head + 4, S.sequence++);
  put_be32(head + 8, 0);
  if (growbuf_append(out, "a=", 2) < 0 || append_hex(out, head, sizeof head) < 0 ||
      append_hex(out, static_cast<const uint8_t*>(data), len) < 0)
    return -1;
  if (request_set && growbuf_append(out, "005B", 4) < 0) return -1;
  return growbuf_append(out, "&b=1", 4);
}

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
    long v = strtol(rest + 1, &end, 10);
    if (end == rest + 1 || v < 1 || v > 65535) {
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

int ssio_cancel(int32_t id) {
  if (id <= 0) {
    log(LOG_ERROR, kSrc, "won't cancel id %d", id);
    return -1;
  }
  char url[kSsioHostSize + kSsioUriSize + 16];
  for (int32_t i = 1; i < kSsioStates; i++) {
    ssio_state* st = ssio_state_at(i);
    if (st->phase == kSsioIdle || st->closing || st->id != id) continue;
    // Closing states are skipped by the rest of the pass: the handler is not
    // called again.
    st->closing = 1;
    ssio_state_progress(st, kSsioProgressFailed, 0, 0);
    url_of(st, url, sizeof url);
    log(LOG_INFO, kSrc, "cancelled %s partway", url);
    return 0;
  }
  for (ssio_state* rec = ssio_pending_first(); rec; rec = rec->next) {
    if (rec->id != id) continue;
    ssio_state_progress(rec, kSsioProgressFailed, 0, 0);
    ssio_pending_remove(rec);
    url_of(rec, url, sizeof url);
    log(LOG_INFO, kSrc, "cancelled %s", url);
    ssio_pending_free(rec);
    return 0;
  }
  log(LOG_ERROR, kSrc, "can't find request %d to cancel", id);
  return -1;
}
