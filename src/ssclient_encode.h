// The request wire format: the io thread turns queued requests into the
// bytes it sends to the server, one request set per pass.
#pragma once
#include <cstdint>

struct ss_request;

// One pass (io thread, core lock held): drains the request ring and the
// private list into the send buffer, dropping ring entries that another
// queued request makes unnecessary, and sends the whole set at once. Does
// nothing while requests are disabled or the client is offline.
void ssclient_encode_requests(void);

// Writes one request into the send buffer: 0 written (or handled), 1
// answered locally with nothing written, -1 when it cannot be encoded (the
// buffer is then as it was before the call). Buffers the request owns (the
// password block, the block of kind 130, the HTTP record) are released
// whatever the result.
int ssclient_encode_request(const ss_request* entry);

// Test seam: while set, request sets go to `fn` instead of the link; it
// returns 0 or -1 as the link would. Null restores the link.
void ssclient_encode_set_sender(int (*fn)(const void* block, int32_t len));
