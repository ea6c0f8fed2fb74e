// The direct transport of the io loop: a plain TCP connection to the
// market-data server, opened with the greeting line "AMBIT/6\r\n".
//
// Each call makes at most one step and only when the readiness it waits for
// was seen in this pass; the loop calls it again on the next pass. After the
// server's first reply bytes the state is in the data phase and the link's
// data handler (the handshake, then the decoder) takes every byte.
#include "ssio-direct.h"

#include <cstdio>

#include "log.h"
#include "ssio.h"

static const char kSrc[] = "src/ssio-direct";

int32_t ssio_direct_greeting(char* out, int32_t size) {
  int n = snprintf(out, static_cast<size_t>(size), "AMBIT/%u\r\n", kSsioProtocolVersion);
  return n < 0 || n >= size ? -1 : n;
}

int32_t ssio_direct_handler(ssio_state* st) {
  switch (st->phase) {
    case kSsioConnect:
    case kSsioReconnect: {
      if (!st->host[0]) {
        log(LOG_ERROR, kSrc, "no ambit server defined");
        return -1;
      }
      if (ssio_state_begin_connect(st, st->host, st->port) < 0) {
        log(LOG_ERROR, kSrc, "can't connect to %s:%d", st->host, st->port);
        return -1;
      }
      return 0;
    }
    case kSsioWaitConnected:
      return ssio_state_await_connect(st);
    case kSsioWrite: {
      if (!(st->ready & kSsioWritable)) return 0;
      char greeting[32];
      int32_t n = ssio_direct_greeting(greeting, sizeof greeting);
      if (n < 0 || growbuf_append(&st->sbuf, greeting, static_cast<uint32_t>(n)) < 0) {
        log(LOG_ERROR, kSrc, "can't get buffer space for request");
        return -1;
      }
      ssio_state_progress(st, kSsioProgressSent, 0, 0);
      ssio_state_arm(st);
      st->phase = kSsioWaitReply;
      st->wait = kSsioReadable;
      return 0;
    }
    case kSsioWaitReply:
      if (!(st->ready & kSsioReadable)) return 0;
      ssio_state_arm(st);
      st->phase = kSsioData;
      return 0;
    default:
      log(LOG_ERROR, kSrc, "wasn't expecting state %d", st->phase);
      return -1;
  }
}
