// The signed-on user: identity, flags, the exchanges the user may see and the
// user's stored configuration.
#pragma once
#include <cstdint>

struct instr;

// Makes the user lock that guards the configuration. Call once at start,
// before any thread stores or reads the configuration; -1 after an ERROR line
// when no lock can be made. Again after init changes nothing.
int ssuser_init(void);
// Frees the stored configuration, destroys the lock and puts the user back to
// the signed-out state (id 1, no flags, no exchanges).
void ssuser_fini(void);

// Stores the user's id, flags and exchange bits (bit 0 ASX, 1 NZX, 2 AXO) and
// derives the permitted exchanges from them (never GLB). Sign-on, under the
// core lock; the fields may be read from any thread.
void ssuser_set(uint32_t id, uint32_t flags, uint32_t exchange_bits);
uint32_t ssuser_id(void);  // 1 before sign-on
int ssuser_is(uint32_t id);
uint32_t ssuser_flags(void);
uint32_t ssuser_has_flag(uint32_t mask);       // flags AND mask
uint32_t ssuser_exchange_mask(uint32_t mask);  // mask AND exchange bits
// 1 when the user may see exchange `index` (0 to 3), else 0.
int ssuser_exchange_permitted(int32_t index);
int ssuser_permitted_count(void);
int ssuser_multi_exchange(void);  // more than one exchange permitted
// Its exchange is permitted, or it is an index of GLB.
int ssuser_can_see(const instr* in);

// Replaces the stored configuration with a NUL-terminated copy of `length`
// bytes and steps the version; -1 after an ERROR line when the length is
// negative or past the cap, or data is null with a nonzero length (the stored
// copy is then unchanged). Any thread.
int ssuser_store_config(const void* data, int32_t length);
// A copy of the stored configuration that the caller owns (length + 1 bytes,
// NUL-terminated) and frees with ssuser_clear_config or dalloc_free; its
// length goes to *length. Null with *length 0 when nothing is stored. Any
// thread: each call gets its own copy, so no reader can free another's.
char* ssuser_get_config(int32_t* length);
// With a copy from ssuser_get_config: frees it. With null: drops the stored
// configuration. Either way the version steps.
void ssuser_clear_config(char* blob);
int ssuser_has_config(void);  // a stored copy of nonzero length
// Steps on every store and clear, so a reader can tell its copy is stale.
uint32_t ssuser_config_version(void);
