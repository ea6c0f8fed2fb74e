// One io state: a socket with its buffers, the transport step it is at and
// the request it carries; the helpers every transport uses to reset, arm,
// connect and report progress.
#pragma once
#include <cstdint>

#include "growbuf.h"
#include "plat.h"
#include "proxy-auth.h"

constexpr int kSsioStates = 8;  // state 0 is the server link
constexpr int kSsioHostSize = 80;
constexpr int kSsioProxyFieldSize = 64;  // a proxy user name or password and its NUL
constexpr int kSsioUriSize = 1024;

// Transport types.
constexpr int32_t kSsioDirect = 0;
constexpr int32_t kSsioHttp = 1;
constexpr int32_t kSsioHttpProxy = 2;
constexpr int32_t kSsioSocks = 3;

// Phases of a state.
constexpr int32_t kSsioIdle = 0;
constexpr int32_t kSsioConnect = 1;
constexpr int32_t kSsioReconnect = 4;
constexpr int32_t kSsioWaitConnected = 5;
constexpr int32_t kSsioWrite = 6;
constexpr int32_t kSsioWaitReply = 7;
constexpr int32_t kSsioData = 8;

// Wait and ready flags.
constexpr uint32_t kSsioReadable = 1;
constexpr uint32_t kSsioWritable = 2;

// Request methods.
constexpr int32_t kSsioGet = 0;
constexpr int32_t kSsioPost = 1;
constexpr int32_t kSsioConnectMethod = 2;

// Progress phases of a side request.
constexpr int32_t kSsioProgressQueued = 1;
constexpr int32_t kSsioProgressConnecting = 2;
constexpr int32_t kSsioProgressConnected = 3;
constexpr int32_t kSsioProgressSent = 4;
constexpr int32_t kSsioProgressDone = 5;
constexpr int32_t kSsioProgressFailed = 6;
constexpr int32_t kSsioProgressReceiving = -1;

// The progress of a side request, owned by its caller and read through
// ssio_state_get_progress.
struct ssio_progress {
  int32_t phase;
  uint32_t received;
  uint32_t total;
  uint32_t rate;          // bytes per second
  uint32_t seconds_left;
};

struct ssio_state;

// Called with the bytes buffered on a state: the number used (removed from
// the front of the read buffer), 0 to wait for more, or -1 to end the state.
typedef int32_t (*ssio_data_fn)(const uint8_t* data, int32_t len, void* context, uint32_t arg);
// One transport step: 0 to go on, a positive count of read-buffer bytes it
// consumed, or -1 to close the state.
typedef int32_t (*ssio_poll_fn)(ssio_state* st);

// Parse state of the HTTP transports, kept across restarts of a request.
struct ssio_http_private {
  int32_t redirects;
  uint32_t offered;       // proxy methods offered: 1 Basic, 2 Digest, 4 NTLM
  int32_t replies_407;
  int32_t from_memory;    // the proxy method was the remembered one
  int64_t content_length; // of the reply body; 0 when not given
  int64_t body_bytes;     // reply body bytes received so far
  int64_t drain;          // bytes of a 407 body still to skip before writing again
  int32_t draining;       // 1 while a 407 body is skipped on a kept-alive connection
  proxy_auth auth;        // the proxy's challenges and the scheme state
  // The io thread's own copy of the proxy's credentials, taken under the io
  // state lock before each use: auth points here, never at the settings.
  char user[kSsioProxyFieldSize];
  char password[kSsioProxyFieldSize];
};

struct ssio_state {
  int32_t index;          // place in the table; -1 for a pending record
  int fd;                 // -1 when none
  int32_t type;
  int32_t start_type;     // the type the request started with
  int32_t phase;
  uint32_t wait;          // kSsioReadable / kSsioWritable
  uint32_t ready;         // readiness seen in this pass
  int32_t moved;          // 1 once a byte moved either way
  int64_t first_active_ms;
  int64_t deadline_ms;    // 0 or a plat_ms() time
  uint32_t auth_flags;    // proxy-authentication flag word
  int32_t closing;
  ssio_http_private priv;
  growbuf rbuf;
  growbuf sbuf;
  growbuf body;
  int32_t id;             // side-request id, -1 none
  ssio_progress* progress;
  char host[kSsioHostSize];
  int32_t port;
  char uri[kSsioUriSize];
  int32_t method;
  ssio_data_fn handler;
  void* context;
  uint32_t arg;
  ssio_poll_fn poll;
  ssio_state* prev;       // pending list links
  ssio_state* next;
};

// The io state lock guards the progress records and the connection
// settings. Made by ssio_init; a guard on it takes nothing before that. Held
// only for short copies, never across a call out of the io layer.
int ssio_state_lock_init(void);
void ssio_state_lock_fini(void);
// The io state lock's slot (-1 before init), for a plat_lock_guard.
plat_slot ssio_state_mutex(void);

// Closes the socket (and clears the flag word) when asked, records the
// starting type of an idle state, sets type, phase and wait flags, clears the
// ready flags, empties the send and read buffers unless kept, zeroes the
// private area unless kept and installs the type's transport step, running it
// at once when asked. 0 or the step's result; -1 for a bad type.
int32_t ssio_state_reset(ssio_state* st, int32_t type, int32_t phase, uint32_t wait, int close_socket,
                         int run_now, int keep_private, int keep_buffers);
// Deadline = now + the step timeout.
void ssio_state_arm(ssio_state* st);
// Resolves host (a dotted address directly, else the first IPv4 stream
// address) and starts a non-blocking connect. The socket, or -1.
int ssio_state_connect(const char* host, int32_t port);
// Logs a failed getaddrinfo of host: the resolver's own reason for code `rc`
// (errno's only for EAI_SYSTEM, the one code that leaves it in errno).
void ssio_state_log_lookup_error(const char* host, int rc);
// After writability: 0 when the socket's connect finished well, -1 (after a
// log line) when it failed.
int ssio_state_connect_result(ssio_state* st);
// The connect step of every transport (phases 1 and 4): starts a connect to
// host:port; progress 2, armed, phase 5 waiting for writability. 0, or -1
// when the socket could not be made (the caller logs its own line).
int ssio_state_begin_connect(ssio_state* st, const char* host, int32_t port);
// Phase 5 of every transport: once writable and connected, progress 3,
// armed, phase 6. 0 (also while still waiting), or -1 when the connect failed.
int32_t ssio_state_await_connect(ssio_state* st);
// Removes n bytes from the front of a state's buffer.
void ssio_buffer_drop(growbuf* gb, int32_t n);
// Closes the socket if any; OSERR "close" when that fails.
void ssio_state_close_socket(ssio_state* st);
// Under the io state lock: sets the phase, adds positive byte counts, takes a
// positive total and updates rate and seconds left. No-op without a record.
void ssio_state_progress(ssio_state* st, int32_t phase, int32_t bytes, int32_t total);
// Copies a progress record under the io state lock (user-interface thread).
void ssio_state_get_progress(ssio_progress* out, const ssio_progress* progress);
// The transport step of a type, or null.
ssio_poll_fn ssio_state_poll_for(int32_t type);
