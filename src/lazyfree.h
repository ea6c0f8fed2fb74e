// Deferred calls: frees and pool returns run a set number of seconds later,
// so a reader on another thread is safe for that long.
#pragma once
#include <cstdint>

struct pool;

typedef void (*lazyfree_fn0)(void* a);
typedef void (*lazyfree_fn1)(void* a, void* b);
typedef void (*lazyfree_fn2)(void* a, void* b, void* c);

int lazyfree_init(void);
void lazyfree_fini(void);
void lazyfree_set_enabled(int32_t on);
void lazyfree_set_delay(uint32_t seconds);
int lazyfree_later(lazyfree_fn0 fn, void* a);
int lazyfree_pool_free(pool* p, void* item);
// kind 0 calls fn(a), 1 fn(a, b), 2 fn(a, b, c); `fn` is cast to the kind's type.
int lazyfree_queue(void* fn, void* a, uint32_t kind, void* b, void* c, int internal);
void lazyfree_tick(void);
// Diagnostics: the number of queued todos, oldest first; for each of the first
// `max` it stores in `calls` how many calls it stands for (a packed run: its size).
int32_t lazyfree_queue_shape(int32_t* calls, int32_t max);
