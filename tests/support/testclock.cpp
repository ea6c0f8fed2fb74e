// Shared by every test executable: real and virtual time for tests with
// threads or loopback peers. Virtual time is real time plus an offset, so a
// test can jump minutes ahead while its peers still see time pass.
#include "testclock.h"

#include <chrono>
#include <thread>

std::atomic<int64_t> g_clock_offset{0};

int64_t steady_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t offset_clock() { return steady_ms() + g_clock_offset.load(); }

bool wait_for(const std::function<bool()>& done, int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return done();
}
