// The direct transport: a plain TCP connection to the market-data server
// that starts with the greeting line.
#pragma once
#include <cstdint>

#include "ssio-state.h"

// One step of a type-0 state: connect, wait for the connect, write the
// greeting, wait for the reply. 0 to go on, -1 to close the state.
int32_t ssio_direct_handler(ssio_state* st);
// The greeting "AMBIT/6\r\n" into a buffer; its length.
int32_t ssio_direct_greeting(char* out, int32_t size);
