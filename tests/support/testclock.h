// Test support for tests that run threads or real peers: the monotonic
// clock in milliseconds, a clock seam that runs ahead of it by an offset the
// test moves (virtual time without stopping real time), and bounded waits.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>

// The real monotonic clock, milliseconds.
int64_t steady_ms();

// What offset_clock adds to steady_ms; tests move it forward (and put it back
// to 0 between tests).
extern std::atomic<int64_t> g_clock_offset;
// steady_ms() + g_clock_offset: give it to plat_set_test_clock.
int64_t offset_clock();

// Polls `done` every 2 ms for up to `ms` of real time; its last answer.
bool wait_for(const std::function<bool()>& done, int ms = 5000);
