// The HTTP transport (type 1): one HTTP/1.0 request and the parse of its
// reply's headers, for side requests and for the HTTP mode of the server link;
// the HTTP-mode body; the queueing and cancelling of side requests.
#pragma once
#include <cstddef>
#include <cstdint>

#include "growbuf.h"
#include "ssio-state.h"

// Longest block of reply headers read; a longer one fails the request.
constexpr int32_t kSsioHttpHeadersMax = 65536;
// Redirects a request follows; the next one fails it.
constexpr int32_t kSsioHttpRedirectsMax = 4;
// Longest URL a side request takes: "http://", host, ":" port, uri.
constexpr int32_t kSsioUrlMax = 7 + kSsioHostSize - 1 + 6 + kSsioUriSize - 1;

// What the transport does with a reply's status code (before redirects and
// Content-Length are looked at).
enum ssio_http_action : int32_t {
  kHttpGood = 0,          // 200, 301, 302: a good reply (the proxy method is remembered)
  kHttpIgnored,           // any other code below 400: logged and gone on with
  kHttpFail,              // 400, 403, 404, 502 and other codes of 400 or more
  kHttpUnauthorized,      // 401: the server refused; proxy methods forgotten
  kHttpProxyAuth,         // 407: answer the proxy's challenge
};
ssio_http_action ssio_http_reply_action(int32_t code);

// The value of the first header `name` (with its colon, any case) of a
// header block, without the blanks around it, copied into out (cut to size).
// False when there is none.
bool ssio_http_header(const char* headers, int32_t len, const char* name, char* out, size_t size);

// One step of a type-1 state.
int32_t ssio_http_handler(ssio_state* st);
// Writes the request text of the state into its send buffer: the direct form,
// or through a proxy with the absolute URL and the proxy's authorization.
// 0, or -1 after an ERROR line.
int ssio_http_write_request(ssio_state* st, int via_proxy);
// Appends the HTTP-mode body of `data` ("a=" ... "&b=1"); request_set adds
// the "005B" of a request set. 0 or -1.
int ssio_http_body(growbuf* out, const void* data, int32_t len, int request_set);
// The sequence number the next HTTP-mode body carries (a test seam sets it).
uint32_t ssio_http_sequence(void);
void ssio_http_set_sequence(uint32_t next);
// Reply handler of HTTP-mode request sets.
int32_t ssio_expect_bye(const uint8_t* data, int32_t len, void* context, uint32_t arg);
// The User-Agent text of every request (at most 255 characters).
void ssio_http_set_user_agent(const char* format, ...) __attribute__((format(printf, 1, 2)));
const char* ssio_http_user_agent(void);
// Queues a side request (method "GET" or "POST", null for GET). With a host
// the uri is its path; without, `uri` is a whole URL. 0 or -1.
int ssio_http_request(const char* method, const char* host, int32_t port, const char* uri, const void* body,
                      int32_t body_len, ssio_data_fn handler, void* context, uint32_t arg,
                      ssio_progress* progress, int32_t id);
// The io thread's side of a GET side request from the ring: the URL parsed
// and the request queued. 0 or -1 (the progress record then says failed when
// the URL was refused).
int ssio_get(const char* url, ssio_data_fn handler, void* context, uint32_t arg, ssio_progress* progress,
             int32_t id);
// Fills host, port (80 by default) and uri ("/" by default) from an
// "http://host[:port][/path]" text. 0, or -1 after an ERROR line.
int ssio_http_parse_url(ssio_state* st, const char* text);
// The state's URL for log lines; "<not http>" without a host. Returns out.
const char* ssio_http_url(const ssio_state* st, char* out, size_t size);
// Cancels a side request, queued or running. 0 when found, -1 otherwise.
int ssio_cancel(int32_t id);
