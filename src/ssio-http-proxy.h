// The HTTP proxy transport (type 2): CONNECT tunnels and proxied requests,
// with proxy authentication.
// Minimal version: replaced when the HTTP transport is built.
#pragma once
#include <cstdint>

#include "ssio-state.h"

// One step of a type-2 state.
int32_t ssio_http_proxy_handler(ssio_state* st);
// Forgets the proxy method in use and the remembered one.
void ssio_proxy_forget_method(void);
