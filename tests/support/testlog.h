// Test support for the runtime: starting it in the order the engine needs,
// and reading back what the code under test wrote to the memory log.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// Whether log lines also reach standard error while the tests run. Death
// tests that match a FATAL text need it on.
enum class TestStderr { kOn, kOff };

// plat_init, log_init with the memory log on, then dalloc_init. The platform
// layer comes first: the log's and the allocator's mutexes are its slots,
// and plat_init clears every slot it finds. Safe to call again.
void start_runtime(TestStderr echo);

// Starts the runtime quietly before the first test of an executable:
// ::testing::AddGlobalTestEnvironment(new QuietRuntime). Given a clock,
// plat_ms reads it (through plat_set_test_clock) from then on.
class QuietRuntime : public ::testing::Environment {
 public:
  explicit QuietRuntime(int64_t (*clock)(void) = nullptr) : clock_(clock) {}
  void SetUp() override;

 private:
  int64_t (*clock_)(void);
};

// The memory-log lines written after entry number `since` (a log_count()
// taken earlier), newest first.
std::vector<std::string> logged_lines(uint64_t since);
// Those lines, newest first, each followed by a newline.
std::string logged_since(uint64_t since);
// Whether one of those lines contains `needle`.
bool logged_since(uint64_t since, const std::string& needle);

// The lines logged after construction.
class LogCapture {
 public:
  LogCapture();
  std::vector<std::string> lines() const;  // newest first
  int count(const std::string& needle) const;  // lines that contain needle
  bool has(const std::string& needle) const { return count(needle) > 0; }
  bool empty() const;

 private:
  uint64_t start_;
};
