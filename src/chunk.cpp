// Three bump-allocation arenas for small strings and records that live until
// the arena is dropped. Each arena is a list of 65536-byte chunks, newest
// first; a request is placed right after the previous one with no alignment
// and no per-item header, and nothing is freed until chunk_fini drops every
// chunk at once. A chunk holds its used count at the front, the data area,
// and the link to the next older chunk in its last pointer-sized word.

#include "chunk.h"

#include <cstring>

#include "dalloc.h"
#include "log.h"

static const char kSrc[] = "src/chunk";

namespace {

constexpr int32_t kHeaderSize = 8;  // i32 used, padded so data starts aligned
constexpr int32_t kLinkSize = 8;    // next-older link at the chunk's end
static_assert(kHeaderSize + kChunkMaxAlloc + kLinkSize == kChunkSize, "chunk layout");
static_assert(sizeof(void*) <= kLinkSize, "the chunk link must fit its slot");

struct chunk_state {
  char* head[kChunkArenas];  // newest chunk of each arena, or null
};

chunk_state st;

int32_t used_of(const char* c) {
  int32_t used;
  memcpy(&used, c, sizeof used);
  return used;
}

void set_used(char* c, int32_t used) { memcpy(c, &used, sizeof used); }

char* older_of(const char* c) {
  char* older;
  memcpy(&older, c + kChunkSize - kLinkSize, sizeof older);
  return older;
}

// Puts a fresh chunk in front of the arena.
void push_chunk(int32_t arena) {
  char* c = (char*)dalloc_alloc(kChunkSize);  // ends the process on failure
  set_used(c, 0);
  memcpy(c + kChunkSize - kLinkSize, &st.head[arena], sizeof(char*));
  st.head[arena] = c;
}

void free_arena(int32_t arena) {
  char* c = st.head[arena];
  while (c) {
    char* older = older_of(c);
    dalloc_free(c);
    c = older;
  }
  st.head[arena] = nullptr;  // a second fini finds nothing to free
}

}  // namespace

int chunk_init(void) {
  for (int32_t a = 0; a < kChunkArenas; a++) {
    st.head[a] = nullptr;
    push_chunk(a);
  }
  return 0;
}

void* chunk_alloc(int32_t arena, int32_t n) {
  if (arena < 0 || arena >= kChunkArenas) {
    log(LOG_ERROR, kSrc, "no chunk arena %d", arena);
    return nullptr;
  }
  if (n < 0) {
    log(LOG_ERROR, kSrc, "can't alloc %db from a chunk", n);
    return nullptr;
  }
  char* c = st.head[arena];
  if (!c || (int64_t)used_of(c) + n > kChunkMaxAlloc) {
    if (n > kChunkMaxAlloc) {
      log(LOG_ERROR, kSrc, "can't alloc more than %db in a chunk", kChunkMaxAlloc);
      return nullptr;
    }
    push_chunk(arena);
    c = st.head[arena];
  }
  int32_t used = used_of(c);
  set_used(c, used + n);
  return c + kHeaderSize + used;
}

char* chunk_strdup(int32_t arena, const char* s) {
  size_t len = strlen(s) + 1;
  if (len > (size_t)kChunkMaxAlloc) {
    log(LOG_ERROR, kSrc, "can't alloc more than %db in a chunk", kChunkMaxAlloc);
    return nullptr;
  }
  char* copy = (char*)chunk_alloc(arena, (int32_t)len);
  if (copy) memcpy(copy, s, len);
  return copy;
}

void chunk_fini(void) {
  for (int32_t a = 0; a < kChunkArenas; a++) free_arena(a);
}
