// Guarded wrappers over the system heap. Every module allocates through
// them, and none tests the result: a size out of range or a heap failure is
// logged and ends the process through the FATAL log path, with the
// out-of-memory flag set for the fatal-error report. Also the page-size
// helpers that the pools and buffers round with, and the process's memory
// figures read from /proc.

#include "dalloc.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "log.h"
#include "plat.h"

static const char kSrc[] = "src/dalloc";

namespace {

constexpr int32_t kMaxAlloc = kDallocMax;
constexpr int32_t kDefaultPageSize = 4096;

struct dalloc_state {
  std::atomic<int32_t> page_size{0};  // 0 until first asked
  std::atomic<int32_t> warn_size{0};  // 0 = never warn
  std::atomic<uint32_t> out_of_memory{0};
  plat_slot mutex = -1;  // made for parity with the other modules; nothing locks it
};

dalloc_state st;

int32_t read_page_size(void) {
  long ps = sysconf(_SC_PAGESIZE);
  return ps > 0 && ps <= INT32_MAX ? (int32_t)ps : kDefaultPageSize;
}

// Ends the process for a size outside 1..kMaxAlloc, warns above the
// threshold.
void check_size(int32_t size) {
  if (size < 1 || size > kMaxAlloc) {
    log(LOG_ERROR, kSrc, "won't allocate %db", size);
    log(LOG_FATAL, kSrc, "Allocation Error");
  }
  int32_t warn = st.warn_size.load(std::memory_order_relaxed);
  if (warn >= 1 && size > warn) log(LOG_WARN, kSrc, "attempt to allocate %db", size);
}

// Called after the ERROR line naming the failed request.
[[noreturn]] void out_of_memory(void) {
  st.out_of_memory.store(1, std::memory_order_relaxed);
  log(LOG_FATAL, kSrc, "Out of Memory");
  abort();  // not reached: a FATAL line ends the process
}

}  // namespace

int dalloc_init(void) {
  st.page_size.store(read_page_size(), std::memory_order_relaxed);
  if (st.mutex < 0) {
    st.mutex = plat_mutex_create();
    if (st.mutex < 0) return -1;
  }
  return 0;
}

void dalloc_fini(void) {
  if (st.mutex >= 0) {
    plat_mutex_destroy(st.mutex);
    st.mutex = -1;
  }
}

void* dalloc_alloc(int32_t size) {
  check_size(size);
  void* p = malloc((size_t)size);
  if (!p) {
    log(LOG_ERROR, kSrc, "can't allocate %db", size);
    out_of_memory();
  }
  return p;
}

void* dalloc_realloc(void* p, int32_t size) {
  check_size(size);
  void* q = realloc(p, (size_t)size);
  if (!q) {
    log(LOG_ERROR, kSrc, "can't reallocate %db", size);
    out_of_memory();
  }
  return q;
}

char* dalloc_strdup(const char* s) {
  char* copy = strdup(s);
  if (!copy) {
    log(LOG_ERROR, kSrc, "can't dup %zub str", strlen(s));
    out_of_memory();
  }
  return copy;
}

void dalloc_free(void* p) {
  if (!p) {
    log(LOG_ERROR, kSrc, "attempt to free null");
    return;
  }
  free(p);
}

void dalloc_set_warn_size(int32_t bytes) { st.warn_size.store(bytes, std::memory_order_relaxed); }

uint32_t dalloc_out_of_memory(void) { return st.out_of_memory.load(std::memory_order_relaxed); }

uint32_t dalloc_round_up(uint32_t value, int32_t m) {
  if (m < 1) {
    log(LOG_ERROR, kSrc, "can't round %u to a multiple of %d", value, m);
    return value;
  }
  uint64_t r = ((uint64_t)value + (uint64_t)m - 1) / (uint64_t)m * (uint64_t)m;
  if (r > UINT32_MAX) {
    log(LOG_ERROR, kSrc, "%u rounded to a multiple of %d overflows", value, m);
    return 0;
  }
  return (uint32_t)r;
}

uint32_t dalloc_page_round(uint32_t size) { return dalloc_round_up(size, dalloc_page_size()); }

int32_t dalloc_page_size(void) {
  int32_t ps = st.page_size.load(std::memory_order_relaxed);
  if (ps == 0) {
    ps = read_page_size();
    st.page_size.store(ps, std::memory_order_relaxed);
  }
  return ps;
}

void dalloc_mem_stats(dalloc_mem_stats_rec* out) {
  memset(out, 0, sizeof *out);
  uint64_t page = (uint64_t)dalloc_page_size();
  // statm: total program size and resident set, both in pages.
  FILE* f = fopen("/proc/self/statm", "re");
  unsigned long long vsize = 0, rss = 0;
  if (!f || fscanf(f, "%llu %llu", &vsize, &rss) != 2) {
    log(LOG_OSERR, kSrc, "can't get task info");
  } else {
    out->virtual_size = vsize * page;
    out->resident_size = rss * page;
  }
  if (f) fclose(f);
  long pages = sysconf(_SC_PHYS_PAGES);
  if (pages < 1) {
    log(LOG_OSERR, kSrc, "can't get physmem");
  } else {
    out->physical_mem = (uint64_t)pages * page;
  }
}
