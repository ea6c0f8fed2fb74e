// HTTP Digest proxy authentication with MD5, in the qop "auth" form and the
// plain form without qop (RFC 2617 / RFC 7616).
#pragma once
#include <cstdint>

#include "growbuf.h"
#include "proxy-auth.h"

// Reads a Digest challenge (the parameters after the scheme word) into the
// state: realm, nonce, opaque, algorithm and qop, each replacing what an
// earlier challenge left. When qop lists several values and "auth" is one of
// them, "auth" is kept. 0, or -1 after a log line when the nonce is missing or
// a value is too long or malformed (the state is then unchanged).
int proxy_auth_digest_parse(proxy_auth* st, const char* challenge);
// Appends the "Proxy-Authorization: Digest ...\r\n" line for the request
// `method` ("GET", "POST", "CONNECT") on `uri` (the request target; host:port
// for CONNECT) to `out`. Counts the process-wide nonce count up by one. -1
// after a log line when the credentials are missing, too long or hold CR, LF
// or '"', or when no challenge has been parsed.
int proxy_auth_digest_header(proxy_auth* st, growbuf* out, const char* method, const char* uri);

// The process-wide nonce count: the next header sends count + 1.
int32_t proxy_auth_digest_nonce_count(void);
void proxy_auth_digest_set_nonce_count(int32_t count);
// Test seam: while set, the client nonce is this text (at most 32
// characters) instead of 8 random digits. Null restores the random one.
void proxy_auth_digest_set_test_cnonce(const char* cnonce);
