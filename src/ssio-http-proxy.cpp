// The HTTP proxy transport of the io loop (type 2): CONNECT tunnels and
// proxied requests, with proxy authentication.
//
// Minimal version: replaced when the HTTP transport is built. A type-2 state
// fails at its first step, so the server link reports "no connection to the
// proxy" rather than hanging.
#include "ssio-http-proxy.h"

#include "log.h"
#include "ssio.h"

static const char kSrc[] = "src/ssio-http-proxy";

// Minimal version: replaced when the HTTP transport is built.
int32_t ssio_http_proxy_handler(ssio_state* st) {
  const char* host = nullptr;
  int32_t port = 0;
  if (ssio_http_proxy(&host, &port) < 0) {
    log(LOG_ERROR, kSrc, "no http proxy defined");
    return -1;
  }
  log(LOG_ERROR, kSrc, "no http proxy transport for %s:%d (state %d)", host, port, st->index);
  return -1;
}

// Minimal version: replaced when the HTTP transport is built. Nothing is
// remembered yet, so there is nothing to forget.
void ssio_proxy_forget_method(void) {}
