// The side channel: numbered encrypted blocks the server sends for the
// terminal's subsystems, collected on the io thread and delivered to the
// registered subsystem on the user-interface thread.
#pragma once
#include <cstdint>

constexpr int32_t kSubsysPayloadMax = 4096;  // payload bytes of one block
constexpr int32_t kSubsysKeyBytes = 32;
constexpr int32_t kSubsysQueuedMax = 1024 * 1024;  // bytes waiting for the user-interface thread

// A registered subsystem (none is registered by the terminal itself).
struct subsys_record {
  uint32_t number;
  void (*callback)(subsys_record* s, uint32_t flag, const uint8_t* payload, int32_t n);
  void* value1;
  void* value2;
  uint8_t key[kSubsysKeyBytes];
  subsys_record* next;
};

// Makes the built-in key, the lock and the two buffers. 0 / -1.
int subsys_init(void);
void subsys_fini(void);
// Io thread: appends one block to the incoming buffer under the lock. -1 for
// a payload past kSubsysPayloadMax, a channel not started, or a queue that
// already holds kSubsysQueuedMax bytes (the user-interface thread is not
// taking them).
int subsys_queue_block(uint32_t number, uint32_t flag, const void* payload, int32_t n);
// User-interface thread: takes the incoming blocks (under the lock, only
// when some are pending) and hands each to its subsystem; one that has none
// is logged "can't find subsys #%d" and dropped. 0, or the decoder's
// negative result when a block is bad.
int subsys_deliver(void);
// The registered record of `number`, moved to the front; null when none.
subsys_record* subsys_find(uint32_t number);
// Adds a record (owned by the caller, alive until subsys_fini or removal).
void subsys_register(subsys_record* s);
// The channel's built-in key (32 bytes).
const uint8_t* subsys_builtin_key(void);
