// HTTP Basic proxy authentication (RFC 7617).
#pragma once
#include "growbuf.h"
#include "proxy-auth.h"

// Longest "user:password" pair sent (user and password together).
constexpr int kProxyBasicCredentialsMax = 126;

// Keeps the realm of a Basic challenge (the parameters after the scheme
// word). 0, or -1 after a log line when the realm is too long or malformed
// (the state is then unchanged).
int proxy_auth_basic_parse(proxy_auth* st, const char* challenge);
// Appends "Proxy-Authorization: Basic <base64 of user:password>\r\n" to `out`.
// -1 after a log line when the credentials are missing, longer than
// kProxyBasicCredentialsMax together, or hold CR or LF.
int proxy_auth_basic_header(proxy_auth* st, growbuf* out);
