// Numbered buffers in which a large item sent in pieces is put back together.
// Used on the io thread only: the dispatcher creates and fills a buffer, the
// program-update store takes the finished one and removes it.
#pragma once
#include <cstdint>

int bigdata_init(void);
void bigdata_fini(void);  // frees every buffer
// id -1 chooses the highest id present + 1 (1 for none). A complete buffer of
// the same id is replaced; an incomplete one is refused. The new buffer is zeroed.
// Returns the id, or -1.
int32_t bigdata_create(int32_t id, int32_t total);
// Appends n bytes; an append that would pass the total is refused whole.
int bigdata_append(int32_t id, const void* bytes, int32_t n);
// The buffer's data (owned by the module until bigdata_remove) and its length:
// the bytes filled when complete, the total (with a warning) when not. Null
// for an unknown id.
uint8_t* bigdata_get(int32_t id, int32_t* length);
int bigdata_remove(int32_t id);
// The announced totals of every buffer together.
int64_t bigdata_bytes(void);
// Bytes filled so far and the announced total; -1 for an unknown id.
int bigdata_progress(int32_t id, int32_t* filled, int32_t* total);
