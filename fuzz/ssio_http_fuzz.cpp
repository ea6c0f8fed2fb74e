// Feeds arbitrary bytes as the reply to an HTTP request that waits for its
// headers, in chunks the way the io loop reads them (the input's first byte
// picks the chunk size). The state has used up its redirects and its 407
// rounds, so no input can make it connect anywhere, yet every header is
// parsed: status lines, Location, Content-Length and the Basic, Digest and
// NTLM challenges of a 407. Checked on every step:
//  - the transport step gives 0 or -1;
//  - while the headers are incomplete the buffer stays within the header cap
//    and one chunk;
//  - once in the data phase the body count is what is left in the buffer,
//    and a stated length is never negative.
// Odd inputs run on the server link's state, even ones on a side request's.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz_client.h"
#include "growbuf.h"
#include "ssio-http-proxy.h"
#include "ssio-http.h"
#include "ssio.h"

namespace {

int g_null = -1;
int g_stderr = -1;
ssio_progress g_progress;

// The transport writes the headers of an unexpected error reply to standard
// error; libFuzzer's own reports must still get there.
int32_t step_quietly(ssio_state* st) {
  dup2(g_null, 2);
  int32_t r = ssio_http_handler(st);
  dup2(g_stderr, 2);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_start_runtime();
  FUZZ_CHECK(ssio_init() == 0);
  ssio_set_proxy_auth("DOM\\user", "password");
  g_null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  g_stderr = dup(2);
  FUZZ_CHECK(g_null >= 0 && g_stderr >= 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t chunk = 1 + static_cast<size_t>(data[0]) * 97;
  ssio_state* st = ssio_state_at(data[0] & 1);
  data++;
  size--;

  ssio_close_all();
  FUZZ_CHECK(ssio_state_reset(st, kSsioHttp, kSsioWaitReply, kSsioReadable, 1, 0, 0, 0) == 0);
  snprintf(st->host, sizeof st->host, "127.0.0.1");
  st->port = 9;
  snprintf(st->uri, sizeof st->uri, "/doc");
  st->method = kSsioGet;
  st->progress = &g_progress;
  st->priv.redirects = kSsioHttpRedirectsMax;
  st->priv.replies_407 = kProxyNtlmRepliesMax;
  st->auth_flags = data[-1] & 2 ? 1 : 0;  // a kept-alive proxy connection

  for (size_t at = 0; at < size && st->phase == kSsioWaitReply;) {
    const size_t n = size - at < chunk ? size - at : chunk;
    FUZZ_CHECK(growbuf_append(&st->rbuf, data + at, static_cast<uint32_t>(n)) == 0);
    at += n;
    st->ready = kSsioReadable;
    const int32_t r = step_quietly(st);
    FUZZ_CHECK(r == 0 || r == -1);
    if (r < 0) break;
    if (st->phase == kSsioWaitReply) {
      FUZZ_CHECK(st->fd < 0);  // never a connect
      if (!st->priv.draining) FUZZ_CHECK(st->rbuf.len <= kSsioHttpHeadersMax + static_cast<int32_t>(chunk));
    } else {
      FUZZ_CHECK(st->phase == kSsioData);
      FUZZ_CHECK(st->priv.body_bytes == st->rbuf.len);
      FUZZ_CHECK(st->priv.content_length >= 0);
    }
  }
  ssio_close_all();
  return 0;
}
