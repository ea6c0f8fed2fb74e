// The HTTP proxy transport (type 2): CONNECT tunnels and proxied requests,
// with the proxy's authentication (Basic, Digest, NTLM).
#pragma once
#include <cstdint>

#include "growbuf.h"
#include "ssio-state.h"

// Proxy methods, as bits of the offered set.
constexpr uint32_t kProxyBasic = 1;
constexpr uint32_t kProxyDigest = 2;
constexpr uint32_t kProxyNtlm = 4;
// 407 replies a request may get while NTLM is offered: the negotiate and the
// answer take two, a third means the answer was refused.
constexpr int32_t kProxyNtlmRepliesMax = 3;
// 407 replies a request may get without NTLM: one answer is tried.
constexpr int32_t kProxyRepliesMax = 2;

// One step of a type-2 state.
int32_t ssio_http_proxy_handler(ssio_state* st);
// Reads one "Proxy-Authenticate:" header line into the state's offered
// methods. 0, or -1 after an ERROR line when the line has no value.
int ssio_proxy_parse_challenge(ssio_state* st, const char* line);
// Appends the "Proxy-Authorization:" line of the best method for a request
// `method` ("GET", "POST", "CONNECT") of `target` to out. 0 when one was
// written, -1 when no method could make one.
int ssio_proxy_add_authorization(ssio_state* st, growbuf* out, const char* method, const char* target);
// A 407 reply with its header block: parses the challenges and restarts the
// request, or fails. 0 (restarted or draining the body first) or -1.
int32_t ssio_proxy_on_407(ssio_state* st, const char* headers, int32_t header_len);
// After a good reply: the method in use becomes the remembered one.
void ssio_proxy_remember_method(void);
// Forgets the proxy method in use and the remembered one.
void ssio_proxy_forget_method(void);
uint32_t ssio_proxy_method_in_use(void);
uint32_t ssio_proxy_remembered_method(void);
