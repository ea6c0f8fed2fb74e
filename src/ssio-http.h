// The HTTP transport (type 1), HTTP mode of the server link and HTTP side
// requests.
// Minimal version: replaced when the HTTP transport is built.
#pragma once
#include <cstdint>

#include "growbuf.h"
#include "ssio-state.h"

// One step of a type-1 state.
int32_t ssio_http_handler(ssio_state* st);
// Appends the HTTP-mode body of `data` ("a=" ... "&b=1"); request_set adds
// the "005B" of a request set. 0 or -1.
int ssio_http_body(growbuf* out, const void* data, int32_t len, int request_set);
// Reply handler of HTTP-mode request sets.
int32_t ssio_expect_bye(const uint8_t* data, int32_t len, void* context, uint32_t arg);
// Queues a side request (method "GET" or "POST", null for GET). 0 or -1.
int ssio_http_request(const char* method, const char* host, int32_t port, const char* uri, const void* body,
                      int32_t body_len, ssio_data_fn handler, void* context, uint32_t arg,
                      ssio_progress* progress, int32_t id);
// Fills host, port (80 by default) and uri ("/" by default) from an
// "http://host[:port][/path]" text. 0, or -1 after an ERROR line.
int ssio_http_parse_url(ssio_state* st, const char* text);
// Cancels a side request, queued or running. 0 when found, -1 otherwise.
int ssio_cancel(int32_t id);
