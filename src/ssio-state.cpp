// Io states: the record each connection of the io loop lives in, and the
// helpers every transport step uses on it (reset, deadline, connect, progress).
//
// Sockets are non-blocking from birth and a connect is only started here; it
// is finished by the loop's writability and checked with SO_ERROR by the
// transport, so no call in this module ever waits on the network.
#include "ssio-state.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "log.h"
#include "plat.h"
#include "ssio-direct.h"
#include "ssio-http-proxy.h"
#include "ssio-http.h"
#include "ssio.h"

static const char kSrc[] = "src/ssio-state";

static struct {
  plat_slot lock = -1;  // the io state lock: progress records
} S;

namespace {

// A SOCKS proxy is accepted as a setting but there is no SOCKS transport:
// every state of this type fails at once, so the server link reports "no
// connection to the proxy" instead of waiting forever.
int32_t socks_handler(ssio_state* st) {
  const char* host = nullptr;
  int32_t port = 0, version = 0;
  ssio_socks_proxy(&host, &port, &version);
  log(LOG_ERROR, kSrc, "socks%d proxy %s:%d is not supported (state %d)", version, host ? host : "", port,
      st->index);
  return -1;
}

}  // namespace

int ssio_state_lock_init(void) {
  if (S.lock >= 0) return 0;
  S.lock = plat_mutex_create();
  return S.lock < 0 ? -1 : 0;
}

void ssio_state_lock_fini(void) {
  if (S.lock >= 0) plat_mutex_destroy(S.lock);
  S.lock = -1;
}

plat_slot ssio_state_mutex(void) { return S.lock; }

ssio_poll_fn ssio_state_poll_for(int32_t type) {
  switch (type) {
    case kSsioDirect:
      return ssio_direct_handler;
    case kSsioHttp:
      return ssio_http_handler;
    case kSsioHttpProxy:
      return ssio_http_proxy_handler;
    case kSsioSocks:
      return socks_handler;
    default:
      return nullptr;
  }
}

void ssio_state_close_socket(ssio_state* st) {
  if (st->fd < 0) return;
  if (close(st->fd) < 0) log(LOG_OSERR, kSrc, "close");
  st->fd = -1;
}

int32_t ssio_state_reset(ssio_state* st, int32_t type, int32_t phase, uint32_t wait, int close_socket,
                         int run_now, int keep_private, int keep_buffers) {
  ssio_poll_fn poll = ssio_state_poll_for(type);
  if (!poll) {
    log(LOG_ERROR, kSrc, "bad ssio type %d", type);
    return -1;
  }
  if (close_socket) {
    ssio_state_close_socket(st);
    st->auth_flags = 0;
  }
  if (st->phase == kSsioIdle) st->start_type = type;
  st->type = type;
  st->phase = phase;
  st->wait = wait;
  st->ready = 0;
  if (!keep_buffers) {
    growbuf_reset(&st->sbuf);
    growbuf_reset(&st->rbuf);
  }
  if (!keep_private) memset(&st->priv, 0, sizeof st->priv);
  st->poll = poll;
  return run_now ? poll(st) : 0;
}

void ssio_state_arm(ssio_state* st) { st->deadline_ms = plat_ms() + int64_t{ssio_connect_timeout()} * 1000; }

void ssio_state_log_lookup_error(const char* host, int rc) {
  if (rc == EAI_SYSTEM)
    log(LOG_OSERR, kSrc, "getaddrinfo %s", host);
  else
    log(LOG_ERROR, kSrc, "getaddrinfo %s: %s", host, gai_strerror(rc));
}

int ssio_state_connect(const char* host, int32_t port) {
  if (!host || !*host) {
    log(LOG_ERROR, kSrc, "no address for %s", host ? host : "");
    return -1;
  }
  if (port < 1 || port > 65535) {
    log(LOG_ERROR, kSrc, "bad port %d for %s", port, host);
    return -1;
  }
  sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host, &sa.sin_addr) != 1) {
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int rc = getaddrinfo(host, nullptr, &hints, &res);
    if (rc != 0) {
      ssio_state_log_lookup_error(host, rc);
      return -1;
    }
    bool found = false;
    for (addrinfo* ai = res; ai; ai = ai->ai_next) {
      if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
        sa.sin_addr = reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr;
        found = true;
        break;
      }
    }
    freeaddrinfo(res);
    if (!found) {
      log(LOG_ERROR, kSrc, "no address for %s", host);
      return -1;
    }
  }
  char dotted[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &sa.sin_addr, dotted, sizeof dotted);
  log(LOG_INFO, kSrc, "connecting to %s:%d (%s)", host, port, dotted);

  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    log(LOG_OSERR, kSrc, "socket");
    return -1;
  }
  // select() cannot watch a descriptor at or above FD_SETSIZE; setting one
  // in an fd_set would write past it.
  if (fd >= FD_SETSIZE) {
    log(LOG_ERROR, kSrc, "socket %d is beyond the select limit %d", fd, FD_SETSIZE);
    close(fd);
    return -1;
  }
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    log(LOG_OSERR, kSrc, "fcntl failed");
    close(fd);
    return -1;
  }
  // An interrupted connect goes on in the background, like one in progress.
  int rc = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  if (rc < 0 && errno != EINPROGRESS && errno != EINTR) {
    log(LOG_OSERR, kSrc, "connect %s:%d", host, port);
    close(fd);
    return -1;
  }
  return fd;
}

int ssio_state_connect_result(ssio_state* st) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(st->fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) {
    log(LOG_OSERR, kSrc, "getsockopt");
    return -1;
  }
  if (err != 0) {
    errno = err;
    log(LOG_OSERR, kSrc, "connect to %s:%d failed", st->host, st->port);
    return -1;
  }
  return 0;
}

int ssio_state_begin_connect(ssio_state* st, const char* host, int32_t port) {
  int fd = ssio_state_connect(host, port);
  if (fd < 0) return -1;
  st->fd = fd;
  ssio_state_progress(st, kSsioProgressConnecting, 0, 0);
  ssio_state_arm(st);
  st->phase = kSsioWaitConnected;
  st->wait = kSsioWritable;
  return 0;
}

int32_t ssio_state_await_connect(ssio_state* st) {
  if (!(st->ready & kSsioWritable)) return 0;
  // Writability only says the connect ended; SO_ERROR says how.
  if (ssio_state_connect_result(st) < 0) return -1;
  ssio_state_progress(st, kSsioProgressConnected, 0, 0);
  ssio_state_arm(st);
  st->phase = kSsioWrite;
  return 0;
}

void ssio_buffer_drop(growbuf* gb, int32_t n) {
  if (n >= gb->len) {
    gb->len = 0;
    return;
  }
  memmove(gb->data, gb->data + n, static_cast<size_t>(gb->len - n));
  gb->len -= n;
}

void ssio_state_progress(ssio_state* st, int32_t phase, int32_t bytes, int32_t total) {
  if (!st->progress) return;
  int64_t now = plat_ms();
  plat_lock_guard lock(S.lock);
  ssio_progress* p = st->progress;
  p->phase = phase;
  if (bytes > 0) p->received += static_cast<uint32_t>(bytes);
  if (total > 0) p->total = static_cast<uint32_t>(total);
  if (st->moved) {
    int64_t seconds = (now - st->first_active_ms) / 1000;
    if (seconds >= 1) {
      p->rate = static_cast<uint32_t>(p->received / seconds);
      if (p->total > p->received && p->rate > 0) p->seconds_left = (p->total - p->received) / p->rate;
    }
  }
}

void ssio_state_get_progress(ssio_progress* out, const ssio_progress* progress) {
  plat_lock_guard lock(S.lock);
  *out = *progress;
}
