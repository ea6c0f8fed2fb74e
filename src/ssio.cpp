// The io loop of the client: eight io states (0 the server link, 1 to 7 HTTP
// side requests) served by one select() on the io thread, which runs each
// state's transport step and hands received bytes to its data handler; also
// the server list with its rotation, and the connection settings.
//
// Sockets are non-blocking and the only wait is the select of a pass: a call
// that would block is left for the next pass, never retried on the spot, so a
// peer that stops reading costs a select timeout, not a spinning thread.
#include "ssio.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "log.h"
#include "plat.h"
#include "pool.h"
#include "ssclient.h"
#include "sserr.h"
#include "ssio-http-proxy.h"
#include "ssio-http.h"

static const char kSrc[] = "src/ssio";

// The operator's endpoints. The built-in addresses stand until the default
// host name resolves; both are set for a deployment.
static const char* const kBuiltinServers[] = {"203.0.113.10", "203.0.113.11"};
static const char kDefaultServerHost[] = "md.ambit.invalid";
constexpr int32_t kDefaultServerPort = 443;

constexpr int32_t kReadBufInitial = 65536;
constexpr int32_t kReadBufStep = 65536;
constexpr int32_t kSendBufInitial = 16384;
constexpr int32_t kSendBufStep = 16384;
constexpr int32_t kBodyBufInitial = 1024;
constexpr int32_t kBodyBufStep = 1024;
constexpr int32_t kHttpBodyInitial = 16384;
constexpr int32_t kHttpBodyStep = 16384;
constexpr int32_t kPendingPerPage = 10;
constexpr uint32_t kReadChunk = 65536;
constexpr uint32_t kLinkReadReserve = 512000;
constexpr int32_t kSelectTimeoutMs = 200;
constexpr int32_t kStepTimeoutSeconds = 10;
constexpr int32_t kConcurrency = 8;
constexpr int32_t kHttpProxyPort = 3128;
constexpr int32_t kSocksProxyPort = 1080;
constexpr int32_t kSocksVersion = 5;
constexpr int kProxyFieldSize = kSsioProxyFieldSize;

static struct {
  int ready;
  ssio_state states[kSsioStates];

  // Server list and the current server.
  char servers[kSsioMaxServers][kSsioHostSize];
  int32_t server_count;
  int32_t server_index;
  std::atomic<int> failed;  // the last attempt failed: the next connect moves on
  char default_host[256];
  int default_host_set;  // else kDefaultServerHost
  char host[kSsioHostSize];
  int32_t port;

  // Settings. Strings change under the io state lock; flags are atomics.
  std::atomic<int> use_default;
  std::atomic<int> http_mode;
  char http_proxy[kSsioHostSize];
  int32_t http_proxy_port;
  char socks_proxy[kSsioHostSize];
  int32_t socks_port;
  int32_t socks_version;
  std::atomic<int> proxy_in_use;
  char proxy_user[kProxyFieldSize];
  char proxy_password[kProxyFieldSize];
  std::atomic<int32_t> select_timeout;
  int32_t step_timeout;
  int32_t concurrency;
  char host_name[256];

  // Counters of the server link and of all states.
  std::atomic<uint64_t> received;
  std::atomic<uint64_t> sent;
  std::atomic<uint64_t> moved;
  ssio_history history;  // under the io state lock

  std::atomic<int> sign_off;  // set by the user-interface thread
  ssio_data_fn link_handler;
  void* link_context;
  uint32_t link_arg;
  char link_path[32];
  char link_greeting[32];
  growbuf http_body;

  // Side requests waiting for a free state.
  pool pending_pool;
  ssio_state* pending_head;
  ssio_state* pending_tail;
  int32_t pending_count;
} S;

namespace {

void copy_text(char* dst, size_t size, const char* src) {
  snprintf(dst, size, "%s", src ? src : "");
}

bool is_active(const ssio_state* st) { return st->phase != kSsioIdle; }

void clear_state(ssio_state* st) {
  st->phase = kSsioIdle;
  st->closing = 0;
  st->wait = 0;
  st->ready = 0;
  st->deadline_ms = 0;
  st->moved = 0;
  st->first_active_ms = 0;
  st->auth_flags = 0;
  growbuf_reset(&st->rbuf);
  growbuf_reset(&st->sbuf);
  growbuf_reset(&st->body);
  if (st->index > 0) {
    st->id = -1;
    st->progress = nullptr;
    st->handler = nullptr;
    st->context = nullptr;
    st->arg = 0;
  }
}

void fail_state(ssio_state* st) {
  ssio_state_progress(st, kSsioProgressFailed, 0, 0);
  st->closing = 1;
}

void note_activity(ssio_state* st, int64_t now) {
  if (!st->moved) {
    st->moved = 1;
    st->first_active_ms = now;
  }
}

// Hands the buffered bytes of a data-phase state to its handler for as long as
// the handler takes some, so a burst is not left waiting for the next select.
void deliver(ssio_state* st) {
  while (st->rbuf.len > 0 && st->phase == kSsioData && !st->closing) {
    if (!st->handler) {
      log(LOG_ERROR, kSrc, "no data handler on %d", st->index);
      fail_state(st);
      return;
    }
    int32_t used = st->handler(st->rbuf.data, st->rbuf.len, st->context, st->arg);
    if (used < 0) {
      fail_state(st);
      return;
    }
    if (used == 0) return;
    if (used > st->rbuf.len) {
      log(LOG_ERROR, kSrc, "handler of %d used %d of %d bytes", st->index, used, st->rbuf.len);
      used = st->rbuf.len;
    }
    ssio_buffer_drop(&st->rbuf, used);
  }
}

// One transport step; a positive result is read-buffer bytes consumed.
void run_step(ssio_state* st) {
  int32_t r;
  if (!st->poll) {
    log(LOG_ERROR, kSrc, "no poll function");
    r = -1;
  } else {
    r = st->poll(st);
  }
  if (r < 0)
    fail_state(st);
  else if (r > 0)
    ssio_buffer_drop(&st->rbuf, r);
}

int32_t side_type(void) {
  if (S.http_proxy[0]) return kSsioHttpProxy;
  if (S.socks_proxy[0]) return kSsioSocks;
  return kSsioHttp;
}

int32_t count_active(void) {
  int32_t n = 0;
  for (const ssio_state& st : S.states)
    if (is_active(&st)) n++;
  return n;
}

// Step 1: pending side requests into free states 1 to 7.
void start_pending(void) {
  while (S.pending_head && count_active() + (S.http_mode.load() ? 1 : 0) < S.concurrency) {
    ssio_state* st = nullptr;
    for (int i = 1; i < kSsioStates; i++)
      if (!is_active(&S.states[i]) && !S.states[i].closing) {
        st = &S.states[i];
        break;
      }
    if (!st) {
      log(LOG_ERROR, kSrc, "no free states, concurrency = %d", S.concurrency);
      return;
    }
    int32_t type;
    {
      plat_lock_guard lock(ssio_state_mutex());
      type = side_type();
    }
    ssio_state* rec = S.pending_head;
    ssio_pending_remove(rec);
    if (growbuf_copy(&st->body, &rec->body) < 0) {
      ssio_state_progress(rec, kSsioProgressFailed, 0, 0);
      ssio_pending_free(rec);
      continue;
    }
    memcpy(st->host, rec->host, sizeof st->host);
    memcpy(st->uri, rec->uri, sizeof st->uri);
    st->port = rec->port;
    st->method = rec->method;
    st->id = rec->id;
    st->progress = rec->progress;
    st->handler = rec->handler;
    st->context = rec->context;
    st->arg = rec->arg;
    ssio_pending_free(rec);
    if (ssio_state_reset(st, type, kSsioConnect, 0, 1, 0, 0, 0) < 0) {
      fail_state(st);
      continue;
    }
    log(LOG_INFO, kSrc, "%d/%d-%d active", count_active(), S.concurrency, S.http_mode.load());
  }
}

// Step 8 for one state.
int close_state(ssio_state* st) {
  int result = 0;
  ssio_state_close_socket(st);
  if (st->index == 0) {
    if (!st->moved)
      log(LOG_ERROR, kSrc, "can't connect to ambit server");
    else if (S.sign_off)
      log(LOG_INFO, kSrc, "closed");
    else
      log(LOG_ERROR, kSrc, "dropped");
    result = -1;
    if (!S.sign_off && !sserr_is_specific(sserr_last_code())) {
      if (st->moved)
        sserr_report(kSserrLinkLost, 0, 0, nullptr, 0);
      else
        sserr_report(S.proxy_in_use ? kSserrNoProxy : kSserrNoServer, 0, 0, nullptr, 0);
    }
  }
  clear_state(st);
  return result;
}

void resolve_servers(void) {
  char name[sizeof S.default_host];
  {
    plat_lock_guard lock(ssio_state_mutex());
    copy_text(name, sizeof name, S.default_host_set ? S.default_host : kDefaultServerHost);
  }
  if (!name[0]) return;
  addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  int rc = getaddrinfo(name, nullptr, &hints, &res);
  if (rc != 0) {
    ssio_state_log_lookup_error(name, rc);
    return;
  }
  char found[kSsioMaxServers][kSsioHostSize];
  int32_t n = 0;
  for (addrinfo* ai = res; ai && n < kSsioMaxServers; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET) continue;
    char dotted[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr, dotted, sizeof dotted);
    bool seen = false;
    for (int32_t i = 0; i < n; i++) seen = seen || strcmp(found[i], dotted) == 0;
    if (!seen) copy_text(found[n++], kSsioHostSize, dotted);
  }
  freeaddrinfo(res);
  if (n == 0) return;
  plat_lock_guard lock(ssio_state_mutex());
  for (int32_t i = 0; i < n; i++) {
    memcpy(S.servers[i], found[i], kSsioHostSize);
    log(LOG_INFO, kSrc, "server %d: %s", i, S.servers[i]);
  }
  S.server_count = n;
  // A shorter list must not leave the index past its end.
  if (S.server_index >= n) S.server_index %= n;
}

// Makes the list's current entry the current host (default servers only).
void take_list_host(void) {
  if (S.server_count > 0) copy_text(S.host, sizeof S.host, S.servers[S.server_index]);
}

}  // namespace

// ---------------------------------------------------------------------------
// Life cycle

int ssio_init(void) {
  if (S.ready) return 0;
  for (int i = 0; i < kSsioStates; i++) {
    ssio_state* st = &S.states[i];
    memset(st, 0, sizeof *st);
    st->index = i;
    st->fd = -1;
    st->id = -1;
    if (growbuf_init(&st->rbuf, kReadBufInitial, kReadBufStep) < 0) {
      log(LOG_ERROR, kSrc, "can't alloc ambit io read buf");
      return -1;
    }
    if (growbuf_init(&st->sbuf, kSendBufInitial, kSendBufStep) < 0) {
      log(LOG_ERROR, kSrc, "can't alloc ambit io send buf");
      return -1;
    }
    if (growbuf_init(&st->body, kBodyBufInitial, kBodyBufStep) < 0) {
      log(LOG_ERROR, kSrc, "can't alloc ambit io body buf");
      return -1;
    }
  }
  if (growbuf_init(&S.http_body, kHttpBodyInitial, kHttpBodyStep) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc ambit io body buf");
    return -1;
  }
  if (pool_init(&S.pending_pool, kPendingPerPage, sizeof(ssio_state)) < 0) return -1;
  if (ssio_state_lock_init() < 0) {
    log(LOG_ERROR, kSrc, "can't create io state lock");
    return -1;
  }
  S.pending_head = S.pending_tail = nullptr;
  S.pending_count = 0;

  S.use_default = 1;
  S.http_mode = 0;
  S.http_proxy[0] = S.socks_proxy[0] = 0;
  S.http_proxy_port = kHttpProxyPort;
  S.socks_port = kSocksProxyPort;
  S.socks_version = kSocksVersion;
  S.proxy_in_use = 0;
  S.proxy_user[0] = S.proxy_password[0] = 0;
  S.select_timeout = kSelectTimeoutMs;
  S.step_timeout = kStepTimeoutSeconds;
  S.concurrency = kConcurrency;
  S.received = 0;
  S.sent = 0;
  S.moved = 0;
  memset(&S.history, 0, sizeof S.history);
  S.sign_off = 0;
  S.failed = 0;

  if (gethostname(S.host_name, sizeof S.host_name) < 0) {
    log(LOG_OSERR, kSrc, "gethostname failed");
    S.host_name[0] = 0;
  }
  S.host_name[sizeof S.host_name - 1] = 0;
  if (char* dot = strchr(S.host_name, '.')) *dot = 0;

  snprintf(S.link_path, sizeof S.link_path, "/AMBIT/%u", kSsioProtocolVersion);
  snprintf(S.link_greeting, sizeof S.link_greeting, "AMBIT/%u\n", kSsioProtocolVersion);

  S.server_count = 0;
  for (const char* addr : kBuiltinServers) copy_text(S.servers[S.server_count++], kSsioHostSize, addr);
  S.server_index = 0;
  // The default host name is looked up when the default servers are chosen
  // (ssio_set_servers), not here: a program that signs on to a server of its
  // own never asks for it.
  S.server_index = static_cast<int32_t>(static_cast<unsigned long>(plat_random()) % S.server_count);
  log(LOG_INFO, kSrc, "starting with host %d/%d", S.server_index, S.server_count);
  take_list_host();
  S.port = kDefaultServerPort;
  S.ready = 1;
  return 0;
}

void ssio_fini(void) {
  if (!S.ready) return;
  ssio_close_all();
  while (ssio_state* rec = S.pending_head) {
    ssio_pending_remove(rec);
    ssio_state_progress(rec, kSsioProgressFailed, 0, 0);
    ssio_pending_free(rec);
  }
  for (ssio_state& st : S.states) {
    growbuf_free(&st.rbuf);
    growbuf_free(&st.sbuf);
    growbuf_free(&st.body);
  }
  growbuf_free(&S.http_body);
  pool_destroy(&S.pending_pool);
  ssio_state_lock_fini();
  S.ready = 0;
}

// ---------------------------------------------------------------------------
// The link

int ssio_start_link(void) {
  ssio_close_all();
  S.received = 0;
  S.sent = 0;
  S.moved = 0;
  {
    plat_lock_guard lock(ssio_state_mutex());
    memset(&S.history, 0, sizeof S.history);
  }
  S.failed = 1;
  S.sign_off = 0;
  ssio_state* st = &S.states[0];
  int32_t type;
  {
    plat_lock_guard lock(ssio_state_mutex());
    copy_text(st->host, sizeof st->host, S.host);
    st->port = S.port;
    type = S.http_proxy[0] ? kSsioHttpProxy : S.socks_proxy[0] ? kSsioSocks : S.http_mode ? kSsioHttp : kSsioDirect;
  }
  st->handler = S.link_handler;
  st->context = S.link_context;
  st->arg = S.link_arg;
  st->id = -1;
  st->progress = nullptr;
  ssio_state_reset(st, type, kSsioConnect, 0, 1, 0, 0, 0);
  growbuf_reset(&st->body);
  if (S.http_mode) {
    st->method = kSsioPost;
    copy_text(st->uri, sizeof st->uri, S.link_path);
    ssio_http_body(&st->body, S.link_greeting, static_cast<int32_t>(strlen(S.link_greeting)), 0);
  } else {
    st->method = kSsioGet;
    st->uri[0] = 0;
  }
  growbuf_reserve(&st->rbuf, kLinkReadReserve);
  return 0;
}

void ssio_close_all(void) {
  for (ssio_state& st : S.states) {
    // A side request ended here did not finish: its caller must see that.
    if (st.index > 0 && is_active(&st)) ssio_state_progress(&st, kSsioProgressFailed, 0, 0);
    ssio_state_close_socket(&st);
    clear_state(&st);
  }
}

void ssio_rotate_server(void) {
  ssio_proxy_forget_method();
  if (!S.use_default) return;
  resolve_servers();
  plat_lock_guard lock(ssio_state_mutex());
  if (!S.http_mode && S.failed && S.server_count > 0) {
    S.server_index = (S.server_index + 1) % S.server_count;
    S.failed = 0;
    log(LOG_WARN, kSrc, "switching to server %d: %s", S.server_index, S.servers[S.server_index]);
  }
  take_list_host();
}

void ssio_clear_failed(void) { S.failed = 0; }

int ssio_failed_mark(void) { return S.failed; }

namespace {

// The descriptor sets of one select: every active state with a socket, for
// what its step waits for (and writing while it has bytes to send). With
// `mark` the states are marked not ready yet. Tells whether a state has no socket yet (its
// first step is due at once) or is closing. Returns the highest descriptor,
// -1 when none.
struct select_sets {
  fd_set rd, wr, ex;
  bool fresh = false, closing = false;
};

int fill_sets(select_sets* w, bool mark) {
  FD_ZERO(&w->rd);
  FD_ZERO(&w->wr);
  FD_ZERO(&w->ex);
  w->fresh = w->closing = false;
  int maxfd = -1;
  for (ssio_state& st : S.states) {
    if (mark) st.ready = 0;
    if (st.closing) w->closing = true;
    if (!is_active(&st) || st.closing) continue;
    if (st.fd < 0) {
      w->fresh = true;
      continue;
    }
    if (st.wait & kSsioReadable) FD_SET(st.fd, &w->rd);
    if ((st.wait & kSsioWritable) || st.sbuf.len > 0) FD_SET(st.fd, &w->wr);
    FD_SET(st.fd, &w->ex);
    maxfd = std::max(maxfd, st.fd);
  }
  return maxfd;
}

}  // namespace

int ssio_wait_ready(int32_t ms) {
  select_sets w;
  const int maxfd = fill_sets(&w, false);
  if (w.fresh || w.closing) return 1;  // a step is due now
  if (maxfd < 0) return -1;
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  const int n = select(maxfd + 1, &w.rd, &w.wr, &w.ex, &tv);
  if (n < 0) return errno == EINTR || errno == EAGAIN ? 0 : -1;
  return n > 0 ? 1 : 0;
}

int ssio_loop(void) {
  int result = 0;
  start_pending();

  // Steps 2 and 3: the select over every active state with a socket. A state
  // that has no socket yet is at its first step: the select then only polls,
  // so that step runs in this pass.
  select_sets sets;
  fd_set& rd = sets.rd;
  fd_set& wr = sets.wr;
  fd_set& ex = sets.ex;
  bool selected = false;
  for (;;) {
    const int maxfd = fill_sets(&sets, true);
    const bool fresh = sets.fresh, closing = sets.closing;
    if (maxfd < 0 && !fresh && !closing) return S.sign_off ? 0 : result;
    if (maxfd < 0) break;
    int32_t ms = fresh ? 0 : S.select_timeout.load();
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    int n = select(maxfd + 1, &rd, &wr, &ex, &tv);
    if (n >= 0) {
      selected = true;
      break;
    }
    if ((errno != EINTR && errno != EAGAIN) || ssclient_is_stopping()) {
      log(LOG_OSERR, kSrc, "select failed");
      return -1;
    }
  }

  int64_t now = plat_ms();
  if (selected) {
    // Step 4: readiness and deadlines.
    for (ssio_state& st : S.states) {
      if (st.fd < 0 || !is_active(&st) || st.closing) continue;
      if (FD_ISSET(st.fd, &ex)) {
        log(LOG_ERROR, kSrc, "exception on %d: %s:%d", st.index, st.host, st.port);
        fail_state(&st);
        continue;
      }
      bool r = FD_ISSET(st.fd, &rd), w = FD_ISSET(st.fd, &wr);
      if (r) {
        st.ready |= kSsioReadable;
        if (st.index == 0) result = 1;
      }
      if (w) st.ready |= kSsioWritable;
      // Before the data phase only the readiness a step waits for counts:
      // flushing the greeting must not cancel the wait for the reply.
      bool awaited = st.phase == kSsioData ? (r || w)
                                           : ((r && (st.wait & kSsioReadable)) || (w && (st.wait & kSsioWritable)));
      if (awaited) {
        st.deadline_ms = 0;
      } else if (st.deadline_ms && now >= st.deadline_ms) {
        log(LOG_ERROR, kSrc, "timeout on %d: %s:%d", st.index, st.host, st.port);
        fail_state(&st);
      }
    }

    // Step 5: reads.
    for (ssio_state& st : S.states) {
      if (st.closing || !(st.ready & kSsioReadable)) continue;
      uint8_t* p = growbuf_reserve(&st.rbuf, kReadChunk);
      if (!p) {
        fail_state(&st);
        continue;
      }
      ssize_t n;
      do {
        n = recv(st.fd, p, kReadChunk, 0);
      } while (n < 0 && errno == EINTR);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) continue;
        log(LOG_OSERR, kSrc, "recv failed");
        fail_state(&st);
      } else if (n == 0) {
        // End of stream: a state still waiting for its reply gets one more
        // step, so bytes that came with the end still reach the handler.
        const int fd = st.fd;
        if (st.phase != kSsioData) run_step(&st);
        if (st.closing || st.fd != fd) continue;  // failed, or restarted (a redirect)
        deliver(&st);
        if (!st.closing) {
          // An HTTP reply ends well only after its headers and its whole body.
          if (st.phase != kSsioData) {
            log(LOG_ERROR, kSrc, "eof before the reply on %d: %s:%d", st.index, st.host, st.port);
            fail_state(&st);
          } else if (st.type == kSsioHttp && st.priv.content_length > st.priv.body_bytes) {
            log(LOG_ERROR, kSrc, "eof after %lld of %lld bytes on %d: %s:%d",
                static_cast<long long>(st.priv.body_bytes), static_cast<long long>(st.priv.content_length),
                st.index, st.host, st.port);
            fail_state(&st);
          } else {
            ssio_state_progress(&st, kSsioProgressDone, 0, 0);
          }
        }
        st.closing = 1;
      } else {
        growbuf_commit(&st.rbuf, static_cast<uint32_t>(n));
        if (st.index == 0) {
          S.received += static_cast<uint64_t>(n);
          plat_lock_guard lock(ssio_state_mutex());
          ssio_history_add(&S.history, now / 1000, static_cast<uint64_t>(n));
        } else if (st.phase == kSsioData) {
          ssio_state_progress(&st, kSsioProgressReceiving, static_cast<int32_t>(n), 0);
        }
        if (st.phase == kSsioData) st.priv.body_bytes += n;
        S.moved += static_cast<uint64_t>(n);
        note_activity(&st, now);
      }
    }

    // Step 6: writes, once the connect is done.
    for (ssio_state& st : S.states) {
      if (st.closing || !(st.ready & kSsioWritable) || st.sbuf.len == 0 || st.phase < kSsioWrite) continue;
      ssize_t n;
      do {
        n = send(st.fd, st.sbuf.data, static_cast<size_t>(st.sbuf.len), MSG_NOSIGNAL);
      } while (n < 0 && errno == EINTR);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) continue;
        log(LOG_OSERR, kSrc, "send failed");
        fail_state(&st);
      } else if (n == 0) {
        log(LOG_ERROR, kSrc, "eof when sending");
        fail_state(&st);
      } else {
        ssio_buffer_drop(&st.sbuf, static_cast<int32_t>(n));
        if (st.index == 0) S.sent += static_cast<uint64_t>(n);
        S.moved += static_cast<uint64_t>(n);
        note_activity(&st, now);
      }
    }
  }

  // Step 7: transport steps and data handlers.
  for (ssio_state& st : S.states) {
    if (!is_active(&st) || st.closing) continue;
    if (st.phase != kSsioData) run_step(&st);
    if (!st.closing && st.phase == kSsioData) deliver(&st);
  }

  // Step 8: close what was marked.
  for (ssio_state& st : S.states)
    if (st.closing && close_state(&st) < 0) result = -1;
  return S.sign_off ? 0 : result;
}

int ssio_send(const void* block, int32_t len) {
  if (len < 0) return -1;
  if (S.http_mode) {
    growbuf_reset(&S.http_body);
    if (ssio_http_body(&S.http_body, block, len, 1) < 0) return -1;
    char host[kSsioHostSize];
    int32_t port;
    {
      plat_lock_guard lock(ssio_state_mutex());
      memcpy(host, S.host, sizeof host);
      port = S.port;
    }
    return ssio_http_request("POST", host, port, S.link_path, S.http_body.data, S.http_body.len, ssio_expect_bye,
                             nullptr, 0, nullptr, 0);
  }
  if (growbuf_append(&S.states[0].sbuf, block, static_cast<uint32_t>(len)) < 0) {
    log(LOG_ERROR, kSrc, "can't make room for %db request", len);
    return -1;
  }
  return 0;
}

void ssio_set_data_handler(ssio_data_fn fn, void* context, uint32_t arg) {
  S.link_handler = fn;
  S.link_context = context;
  S.link_arg = arg;
  S.states[0].handler = fn;
  S.states[0].context = context;
  S.states[0].arg = arg;
}

int ssio_connected(void) { return S.states[0].fd >= 0 && count_active() > 0; }

void ssio_mark_sign_off(void) { S.sign_off = 1; }

int32_t ssio_active_count(void) { return count_active(); }

ssio_state* ssio_state_at(int32_t i) { return i >= 0 && i < kSsioStates ? &S.states[i] : nullptr; }

// ---------------------------------------------------------------------------
// Counters

uint64_t ssio_bytes_received(void) { return S.received.load(); }
uint64_t ssio_bytes_sent(void) { return S.sent.load(); }
uint64_t ssio_bytes_moved(void) { return S.moved.load(); }

void ssio_throughput(ssio_history* out, double* total_millions) {
  {
    plat_lock_guard lock(ssio_state_mutex());
    *out = S.history;
  }
  uint64_t total = 0;
  for (int32_t i = 0; i < out->count; i++) total += out->slots[i];
  if (total_millions) *total_millions = static_cast<double>(total) / 1e6;
}

void ssio_history_add(ssio_history* h, int64_t second, uint64_t bytes) {
  int64_t gap = second - h->second;
  if (h->count == 0 || gap < 0 || gap >= kSsioHistorySlots) {
    memset(h->slots, 0, sizeof h->slots);
    h->slots[0] = bytes;
    h->count = 1;
    h->second = second;
    return;
  }
  if (gap > 0) {
    memmove(h->slots + gap, h->slots, sizeof(uint64_t) * static_cast<size_t>(kSsioHistorySlots - gap));
    memset(h->slots, 0, sizeof(uint64_t) * static_cast<size_t>(gap));
    h->count = static_cast<int32_t>(std::min<int64_t>(kSsioHistorySlots, h->count + gap));
    h->second = second;
  }
  h->slots[0] += bytes;
}

// ---------------------------------------------------------------------------
// Settings

void ssio_set_servers(int use_default) {
  log(LOG_INFO, kSrc, "set %s servers", use_default ? "default" : "custom");
  if (use_default) resolve_servers();
  plat_lock_guard lock(ssio_state_mutex());
  S.use_default = use_default ? 1 : 0;
  if (S.use_default) take_list_host();
}

int ssio_default_servers(void) { return S.use_default; }

void ssio_set_server(const char* host, int32_t port) {
  if (port == 0) port = kDefaultServerPort;
  if (!host || !*host) {
    log(LOG_INFO, kSrc, "set default servers");
    plat_lock_guard lock(ssio_state_mutex());
    take_list_host();
    S.port = port;
    return;
  }
  log(LOG_INFO, kSrc, "set server %s:%d", host, port);
  plat_lock_guard lock(ssio_state_mutex());
  if (S.use_default)
    take_list_host();
  else
    copy_text(S.host, sizeof S.host, host);
  S.port = port;
}

int ssio_current_server(const char** host, int32_t* port) {
  if (!S.host[0]) return -1;
  if (host) *host = S.host;
  if (port) *port = S.port;
  return 0;
}

void ssio_set_default_host(const char* name) {
  plat_lock_guard lock(ssio_state_mutex());
  copy_text(S.default_host, sizeof S.default_host, name);
  S.default_host_set = 1;
}

int32_t ssio_server_count(void) { return S.server_count; }
int32_t ssio_server_index(void) { return S.server_index; }
const char* ssio_server_at(int32_t i) { return i >= 0 && i < S.server_count ? S.servers[i] : nullptr; }

void ssio_set_http_mode(int on) { S.http_mode = on ? 1 : 0; }
int ssio_http_mode(void) { return S.http_mode; }

void ssio_set_http_proxy(const char* host, int32_t port) {
  bool had_socks;
  {
    plat_lock_guard lock(ssio_state_mutex());
    had_socks = S.socks_proxy[0] != 0;
    if (host && *host) {
      copy_text(S.http_proxy, sizeof S.http_proxy, host);
      S.http_proxy_port = port > 0 ? port : kHttpProxyPort;
      S.socks_proxy[0] = 0;
    } else {
      S.http_proxy[0] = 0;
    }
    S.proxy_in_use = S.http_proxy[0] || S.socks_proxy[0] ? 1 : 0;
  }
  if (host && *host) {
    log(LOG_INFO, kSrc, "set http proxy %s:%d", host, port > 0 ? port : kHttpProxyPort);
    if (had_socks) log(LOG_INFO, kSrc, "clear socks proxy");
  } else {
    log(LOG_INFO, kSrc, "clear http proxy");
  }
  ssio_proxy_forget_method();
}

void ssio_set_socks_proxy(const char* host, int32_t port, int32_t version) {
  bool had_http;
  {
    plat_lock_guard lock(ssio_state_mutex());
    had_http = S.http_proxy[0] != 0;
    if (host && *host) {
      copy_text(S.socks_proxy, sizeof S.socks_proxy, host);
      S.socks_port = port > 0 ? port : kSocksProxyPort;
      S.socks_version = version > 0 ? version : kSocksVersion;
      S.http_proxy[0] = 0;
    } else {
      S.socks_proxy[0] = 0;
    }
    S.proxy_in_use = S.http_proxy[0] || S.socks_proxy[0] ? 1 : 0;
  }
  if (host && *host) {
    log(LOG_INFO, kSrc, "set socks proxy %s:%d", host, port > 0 ? port : kSocksProxyPort);
    if (had_http) log(LOG_INFO, kSrc, "clear http proxy");
  } else {
    log(LOG_INFO, kSrc, "clear socks proxy");
  }
  ssio_proxy_forget_method();
}

void ssio_clear_proxies(void) {
  {
    plat_lock_guard lock(ssio_state_mutex());
    S.http_proxy[0] = S.socks_proxy[0] = 0;
    S.proxy_in_use = 0;
  }
  log(LOG_INFO, kSrc, "clear http proxy");
  log(LOG_INFO, kSrc, "clear socks proxy");
  ssio_proxy_forget_method();
}

int ssio_http_proxy(const char** host, int32_t* port) {
  if (!S.http_proxy[0]) return -1;
  if (host) *host = S.http_proxy;
  if (port) *port = S.http_proxy_port;
  return 0;
}

int ssio_socks_proxy(const char** host, int32_t* port, int32_t* version) {
  if (!S.socks_proxy[0]) return -1;
  if (host) *host = S.socks_proxy;
  if (port) *port = S.socks_port;
  if (version) *version = S.socks_version;
  return 0;
}

int ssio_proxy_in_use(void) { return S.proxy_in_use; }

void ssio_set_proxy_auth(const char* user, const char* password) {
  {
    plat_lock_guard lock(ssio_state_mutex());
    copy_text(S.proxy_user, sizeof S.proxy_user, user);
    copy_text(S.proxy_password, sizeof S.proxy_password, password);
  }
  ssio_proxy_forget_method();
}

const char* ssio_proxy_user(void) { return S.proxy_user; }
const char* ssio_proxy_password(void) { return S.proxy_password; }
int ssio_proxy_auth_set(void) {
  plat_lock_guard lock(ssio_state_mutex());
  return S.proxy_user[0] && S.proxy_password[0];
}
int ssio_proxy_auth_copy(char* user, char* password) {
  plat_lock_guard lock(ssio_state_mutex());
  memcpy(user, S.proxy_user, kProxyFieldSize);
  memcpy(password, S.proxy_password, kProxyFieldSize);
  return user[0] && password[0];
}
const char* ssio_host_name(void) { return S.host_name; }

int32_t ssio_set_select_timeout(int32_t ms) { return S.select_timeout.exchange(ms); }
int32_t ssio_select_timeout(void) { return S.select_timeout.load(); }
int32_t ssio_connect_timeout(void) { return S.step_timeout; }

// ---------------------------------------------------------------------------
// Pending side requests

ssio_state* ssio_pending_new(void) {
  if (!S.ready) return nullptr;
  auto* rec = static_cast<ssio_state*>(pool_alloc(&S.pending_pool));
  if (!rec) return nullptr;
  memset(rec, 0, sizeof *rec);
  rec->index = -1;
  rec->fd = -1;
  rec->id = -1;
  growbuf_init(&rec->body, 0, kBodyBufStep);
  return rec;
}

void ssio_pending_free(ssio_state* rec) {
  growbuf_free(&rec->body);
  pool_free(&S.pending_pool, rec);
}

void ssio_pending_append(ssio_state* rec) {
  rec->next = nullptr;
  rec->prev = S.pending_tail;
  if (S.pending_tail)
    S.pending_tail->next = rec;
  else
    S.pending_head = rec;
  S.pending_tail = rec;
  S.pending_count++;
  ssio_state_progress(rec, kSsioProgressQueued, 0, 0);
}

void ssio_pending_remove(ssio_state* rec) {
  if (rec->prev)
    rec->prev->next = rec->next;
  else
    S.pending_head = rec->next;
  if (rec->next)
    rec->next->prev = rec->prev;
  else
    S.pending_tail = rec->prev;
  rec->prev = rec->next = nullptr;
  S.pending_count--;
}

ssio_state* ssio_pending_first(void) { return S.pending_head; }
int32_t ssio_pending_count(void) { return S.pending_count; }
