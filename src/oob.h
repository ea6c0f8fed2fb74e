// The out-of-band queue: typed messages from the protocol dispatcher on the io
// thread to the start-up flow on the user-interface thread, popped in order.
#pragma once
#include <cstdint>

int oob_init(void);  // creates the lock; -1 when it cannot be made
void oob_fini(void);  // frees every queued message and the last popped one
// Queues a copy of the n data bytes. Any thread.
int oob_push(int32_t type, const void* data, int32_t n);
// Pops the oldest message: 1 with its type, data and length, 0 (type -1, data
// null, length 0) when the queue is empty. The data stays valid until the next
// pop. One consumer thread only.
int oob_pop(int32_t* type, const uint8_t** data, int32_t* length);
