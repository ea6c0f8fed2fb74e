// The process exit_scan_test watches end. It loads the thread-local library
// named by argv[1] and makes its block the next small heap chunk after one
// that ends 16 bytes before a page boundary, so the block starts 16 bytes
// past one; the only pointer to a heap block is kept in it ("keep" as
// argv[2]), or nowhere ("drop"); with "leak" it is kept and another block
// is dropped on the floor. It prints where the block landed and returns 0;
// the leak check at exit decides the status.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "testexit.h"

static void *volatile g_sink;

int main(int argc, char **argv) {
  test_exit_check_link();
  if (argc < 2) return 2;
  void *lib = dlopen(argv[1], RTLD_NOW);
  if (!lib) {
    fprintf(stderr, "child: %s\n", dlerror());
    return 2;
  }
  auto hold = reinterpret_cast<void *(*)(void *)>(dlsym(lib, "exit_scan_hold"));
  if (!hold) return 2;
  // With "drop" the thread-local block keeps nothing and the heap block
  // must be reported: so in the other modes only the thread-local block
  // keeps it (no stale copy on the stack does).
  const bool drop = argc > 2 && strcmp(argv[2], "drop") == 0;
  g_sink = malloc(100);
  // Fresh chunks of one size class come in ascending order (freed ones wait
  // in the quarantine), 32 bytes apart for a 16-byte request. Take them up
  // to the one whose user bytes end a page; the block goes in the next.
  std::vector<void *> taken;
  taken.reserve(1 << 16);
  while (taken.size() < (1 << 16)) {
    void *p = malloc(16);
    taken.push_back(p);
    if ((reinterpret_cast<uintptr_t>(p) & 4095) == 4096 - 16) break;
  }
  void *block = hold(drop ? nullptr : g_sink);
  g_sink = nullptr;
  printf("block at page offset %lu\n", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(block) & 4095));
  fflush(stdout);
  for (void *p : taken) free(p);
  if (argc > 2 && strcmp(argv[2], "leak") == 0) {
    g_sink = malloc(200);
    g_sink = nullptr;
  }
  return 0;
}
