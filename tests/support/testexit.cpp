// Every test process must end quiet, and the leak check that ends it must
// be able to read what it scans. The leak checker runs after the last exit
// handler and stops the whole process with a tracer to scan its memory. The
// check here runs just before it (its handler is registered before main, so
// every other handler - Mesa's, the private X server's, the window
// manager's - has run by then): it waits up to 5 s for the other threads to
// end, then names those still there and ends the process with status 1, so a
// thread left running (the client's io thread, the PDF renderer, a thread of
// the GL driver or of SDL) is a named failure on every run. Both are built
// only with AddressSanitizer, whose leak checker is the one that needs them
// (the ThreadSanitizer runtime keeps a thread of its own to the end).
#include "testexit.h"

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)

namespace {

// The ids of this process's threads other than the caller.
std::vector<std::string> other_threads() {
  std::vector<std::string> out;
  const std::string self = std::to_string(gettid());
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.' && self != e->d_name) out.push_back(e->d_name);
    closedir(d);
  }
  return out;
}

std::string read_line(const std::string& path) {
  std::string s;
  if (FILE* f = fopen(path.c_str(), "r")) {
    char buf[128];
    if (fgets(buf, sizeof buf, f)) s = buf;
    fclose(f);
  }
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

struct quiet_exit_check {
  pid_t pid = getpid();
  ~quiet_exit_check() {
    if (getpid() != pid) return;  // a forked child leaving through exit()
    std::vector<std::string> left = other_threads();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!left.empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // polling pace of the wait
      left = other_threads();
    }
    if (left.empty()) return;
    fprintf(stderr, "test process: %zu thread(s) still running at exit (stop every thread a test starts):\n",
            left.size());
    for (const std::string& tid : left) {
      const std::string dir = "/proc/self/task/" + tid;
      fprintf(stderr, "  thread %s '%s' waiting in %s\n", tid.c_str(), read_line(dir + "/comm").c_str(),
              read_line(dir + "/wchan").c_str());
    }
    fflush(stderr);
    _exit(1);
  }
} g_check;

}  // namespace

// The leak checker's own options for every test program. The sanitizer
// records each thread-local block that __tls_get_addr hands out and scans it
// at exit; to size a block it does not know, it guesses that a block starting
// 16 bytes past a page boundary is preceded by an old glibc header {size,
// start}. Our glibc takes such blocks from malloc, so the 16 bytes it reads
// are the allocator's own chunk header, and the scan then reads from a
// "start" that is a small number (a crash: "Tracer caught signal 11") or an
// address in the shadow memory (terabytes to read: a hang). Mesa's and the
// window system's libraries, loaded at run time, each take a small block, so
// about one window test process in a hundred met it. Without the recording
// the blocks are still scanned: they are heap blocks that the thread's
// vector of blocks points to, and the linker's allocations are roots.
// exit_scan_test places a block on such a boundary and checks both.
extern "C" const char *__asan_default_options() { return "intercept_tls_get_addr=0"; }

#endif

void test_exit_check_link(void) {}
