// The io layer of the client: a table of eight io states (the server link
// and up to seven HTTP side requests) served by one select loop on the io
// thread, the server list with its rotation, and the connection settings.
#pragma once
#include <cstdint>

#include "ssio-state.h"

constexpr uint32_t kSsioProtocolVersion = 6;
constexpr int kSsioMaxServers = 8;
constexpr int kSsioHistorySlots = 60;

// Received bytes per second, newest first (slot 0 is `second`).
struct ssio_history {
  uint64_t slots[kSsioHistorySlots];
  int32_t count;   // slots in use, 0..60
  int64_t second;  // the second of slot 0
};

// Life cycle (ssclient_init / ssclient_fini). -1 after a log line.
int ssio_init(void);
void ssio_fini(void);

// Link control, io thread.
int ssio_start_link(void);
void ssio_close_all(void);
void ssio_rotate_server(void);
void ssio_clear_failed(void);
// One pass: -1 the server link failed, 0 nothing read on it, 1 it received
// bytes; always 0 once sign off was marked.
int ssio_loop(void);
// Waits up to `ms` for what the next pass would act on: a socket readable
// (or writable where a step waits for it or bytes wait to go), or a step due
// at once. 1 ready, 0 the time ran out, -1 no socket to wait on (or select
// failed). Reads and writes nothing; holds no lock.
int ssio_wait_ready(int32_t ms);
// Queues a request set on the link (a POST of its own in HTTP mode). 0 or -1.
int ssio_send(const void* block, int32_t len);
void ssio_set_data_handler(ssio_data_fn fn, void* context, uint32_t arg);
int ssio_connected(void);
void ssio_mark_sign_off(void);
int32_t ssio_active_count(void);
ssio_state* ssio_state_at(int32_t i);  // null outside 0..7

// Counters. Received bytes are read by the user-interface thread.
uint64_t ssio_bytes_received(void);
uint64_t ssio_bytes_sent(void);
uint64_t ssio_bytes_moved(void);
// A copy of the server link's throughput history; the total of its slots in
// millions of bytes.
void ssio_throughput(ssio_history* out, double* total_millions);
// Adds bytes received in `second` to a history.
void ssio_history_add(ssio_history* h, int64_t second, uint64_t bytes);

// Settings (user-interface thread; the io thread reads them).
void ssio_set_servers(int use_default);
int ssio_default_servers(void);
void ssio_set_server(const char* host, int32_t port);
// The current server; -1 when there is none. *host stays valid until the
// server next changes.
int ssio_current_server(const char** host, int32_t* port);
// The host name the default server list is resolved from; "" keeps the
// built-in addresses. Takes effect at the next resolve (ssio_init, rotation).
void ssio_set_default_host(const char* name);
int32_t ssio_server_count(void);
int32_t ssio_server_index(void);
const char* ssio_server_at(int32_t i);  // null outside the list
int ssio_failed_mark(void);
void ssio_set_http_mode(int on);
int ssio_http_mode(void);
void ssio_set_http_proxy(const char* host, int32_t port);
void ssio_set_socks_proxy(const char* host, int32_t port, int32_t version);
void ssio_clear_proxies(void);
// -1 when none. *host points into the settings and stays valid until the
// proxy next changes.
int ssio_http_proxy(const char** host, int32_t* port);
int ssio_socks_proxy(const char** host, int32_t* port, int32_t* version);
int ssio_proxy_in_use(void);
// The proxy's credentials. The user-interface thread sets them under the io
// state lock; the io thread reads them only through ssio_proxy_auth_copy or
// ssio_proxy_auth_set, which take that lock. ssio_proxy_user and
// ssio_proxy_password point into the settings: the setting thread only.
void ssio_set_proxy_auth(const char* user, const char* password);
const char* ssio_proxy_user(void);
const char* ssio_proxy_password(void);
int ssio_proxy_auth_set(void);
// Copies both into buffers of kSsioProxyFieldSize bytes; 1 when both are set.
int ssio_proxy_auth_copy(char* user, char* password);
const char* ssio_host_name(void);
// Atomic exchange; returns the previous value.
int32_t ssio_set_select_timeout(int32_t ms);
int32_t ssio_select_timeout(void);
int32_t ssio_connect_timeout(void);  // the step timeout, seconds

// Pending side requests (records from the io pool, oldest first).
ssio_state* ssio_pending_new(void);      // a cleared record with its body buffer, or null
void ssio_pending_free(ssio_state* rec);  // back to the pool (not listed)
void ssio_pending_append(ssio_state* rec);
void ssio_pending_remove(ssio_state* rec);
ssio_state* ssio_pending_first(void);
int32_t ssio_pending_count(void);
