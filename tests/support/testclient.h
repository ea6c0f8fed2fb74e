// Test support for tests of the client: the runtime started quietly with the
// io layer's default host cleared, so no test ever looks a name up, and the
// client's test seams set. Header-only, so test executables that never
// include it do not depend on the client's modules.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <thread>

#include "plat.h"
#include "ssclient.h"
#include "ssio.h"
#include "sstime.h"
#include "testlog.h"
#include "testmodel.h"

// ::testing::AddGlobalTestEnvironment(new ClientRuntime(clock, wall)). Given
// a clock, plat_ms reads it; given a wall clock, sstime reads local time from
// it (sstime_set_test_wallclock).
class ClientRuntime : public ::testing::Environment {
 public:
  explicit ClientRuntime(int64_t (*clock)(void) = nullptr, time_t (*wall)(void) = nullptr)
      : clock_(clock), wall_(wall) {}
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    if (clock_) plat_set_test_clock(clock_);
    if (wall_) sstime_set_test_wallclock(wall_);
    ssio_set_default_host("");  // no name lookups from the tests
  }

 private:
  int64_t (*clock_)(void);
  time_t (*wall_)(void);
};

// A sleep hook for the io thread (ssclient_set_sleep_hook): at most 5 ms of
// real time, so back-offs and pauses pass quickly.
inline int short_sleep(int32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int32_t>(ms, 5)));
  return 0;
}

// A sleep hook that returns at once.
inline int no_sleep(int32_t) { return 0; }

// The core lock, as the user-interface thread takes it.
struct core_lock {
  core_lock() { ssclient_block(); }
  ~core_lock() { ssclient_unblock(); }
  core_lock(const core_lock&) = delete;
  core_lock& operator=(const core_lock&) = delete;
};

// Starts the client with the terminal's options, for tests that hand it
// messages on their own thread: no pauses to yield the lock, no sleeps. Call
// through ASSERT_NO_FATAL_FAILURE.
inline void start_direct_client() {
  ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
  ssclient_enable_yield(0);
  ssclient_set_sleep_hook(no_sleep);
}

// Starts the client with the terminal's options and locking, with the user
// alice/secret at site "desk" and short sleeps, not yet pointed at a server.
// Call through ASSERT_NO_FATAL_FAILURE.
inline void init_test_client() {
  ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
  ssclient_enable_locking();
  ssclient_set_login_site("desk");
  ssclient_set_login("alice", "secret");
  ssclient_set_sleep_hook(short_sleep);
}

// Points the client at 127.0.0.1:port alone.
inline void point_test_client(int port) {
  ssio_set_servers(0);
  ssio_set_server("127.0.0.1", port);
}

// init_test_client, pointed at 127.0.0.1:port, with the terminal's yield.
// Call through ASSERT_NO_FATAL_FAILURE.
inline void start_test_client(int port) {
  ASSERT_NO_FATAL_FAILURE(init_test_client());
  point_test_client(port);
  ssclient_set_yield(100000, 10);
}
