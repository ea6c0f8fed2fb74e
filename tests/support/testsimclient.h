// Test support for end-to-end tests: a fixture with the market simulator and
// the client's io thread, which runs ssclient_run on demand while the test's
// own thread plays the user interface. Header-only.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <utility>

#include "growbuf.h"
#include "plat.h"
#include "sim.h"
#include "sim_msg.h"
#include "ssclient.h"
#include "testclient.h"
#include "testclock.h"
#include "testsim.h"

class SimClientTest : public ::testing::Test {
 protected:
  // The test simulator in trading state 50 on the clock `clock_ms`, with
  // {stream, units} of stream data, started on a free port, and the test
  // client pointed at it. Call through ASSERT_NO_FATAL_FAILURE.
  void start_sim_and_client(std::initializer_list<std::pair<uint32_t, int>> streams,
                            int64_t (*clock_ms)(void) = nullptr) {
    ASSERT_NO_FATAL_FAILURE(make_test_sim(&sim, 50, clock_ms));
    for (const auto& [index, n] : streams) ASSERT_NO_FATAL_FAILURE(append_stream(index, n));
    port = sim_start(sim, 0);
    ASSERT_GT(port, 0);
    ASSERT_NO_FATAL_FAILURE(start_test_client(port));
  }

  // `n` units of stream data (exchange state messages, which count) on the
  // simulator's stream `index`.
  void append_stream(uint32_t index, int n) {
    growbuf gb;
    growbuf_init(&gb, 64, 64);
    for (int i = 0; i < n; i++) {
      growbuf_reset(&gb);
      sim_msg_exchange_state(&gb, 50);
      ASSERT_EQ(0, sim_append(sim, index, gb.data, gb.len));
    }
    growbuf_free(&gb);
  }

  // Starts the io thread; its ssclient_run result lands in `rc`.
  void run() {
    done = false;
    thread = plat_thread_create(
        [](void* arg) {
          auto* self = static_cast<SimClientTest*>(arg);
          self->rc = ssclient_run();
          self->done = true;
        },
        this);
    ASSERT_GE(thread, 0);
  }

  // Starts the io thread and waits up to `ms` for the client to be online,
  // delivering meanwhile as the user interface does. Call through
  // ASSERT_NO_FATAL_FAILURE.
  void run_until_online(int ms = 10000) {
    ASSERT_NO_FATAL_FAILURE(run());
    ASSERT_TRUE(wait_for(
        [] {
          core_lock lock;
          ssclient_deliver();
          return ssclient_is_online() != 0;
        },
        ms));
  }

  // Starts the simulator, points the client at it and runs it until it is
  // online. Call through ASSERT_NO_FATAL_FAILURE.
  void start_sim_until_online() {
    port = sim_start(sim, 0);
    ASSERT_GT(port, 0);
    point_test_client(port);
    ASSERT_NO_FATAL_FAILURE(run_until_online());
  }

  // Waits for the io thread to end by itself.
  bool join_within(int ms) {
    if (thread < 0) return true;
    if (!wait_for([this] { return done.load(); }, ms)) return false;
    plat_thread_join(thread);
    plat_thread_cancel(thread);  // the thread has ended: this frees its slot
    thread = -1;
    return true;
  }

  // Stops the client and waits for the io thread, if it runs.
  void stop(int ms = 5000) {
    if (thread < 0) return;
    ssclient_stop();
    EXPECT_TRUE(join_within(ms));
  }

  sim_server* sim = nullptr;
  int port = 0;
  plat_slot thread = -1;
  std::atomic<bool> done{false};
  std::atomic<int> rc{99};
};
