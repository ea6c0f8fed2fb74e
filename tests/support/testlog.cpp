// Shared by every test executable: the runtime start-up most tests repeat,
// and walks of the memory log. A walk visits at most the entries added since
// a mark, newest first, so lines from earlier tests are never seen.
#include "testlog.h"

#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "testexit.h"

void start_runtime(TestStderr echo) {
  test_exit_check_link();
  plat_init();
  log_init();
  log_set_memory(1);
  if (echo == TestStderr::kOff) log_set_stderr(0);
  dalloc_init();
}

void QuietRuntime::SetUp() {
  start_runtime(TestStderr::kOff);
  if (clock_) plat_set_test_clock(clock_);
}

std::vector<std::string> logged_lines(uint64_t since) {
  std::vector<std::string> out;
  uint64_t left = log_count() - since;
  void* cursor = nullptr;
  const char* text;
  while (left-- && log_walk_newer(nullptr, nullptr, &text, &cursor)) out.push_back(text);
  return out;
}

std::string logged_since(uint64_t since) {
  std::string all;
  for (const std::string& line : logged_lines(since)) all += line + "\n";
  return all;
}

bool logged_since(uint64_t since, const std::string& needle) {
  for (const std::string& line : logged_lines(since))
    if (line.find(needle) != std::string::npos) return true;
  return false;
}

LogCapture::LogCapture() : start_(log_count()) {}

std::vector<std::string> LogCapture::lines() const { return logged_lines(start_); }

int LogCapture::count(const std::string& needle) const {
  int n = 0;
  for (const std::string& line : lines())
    if (line.find(needle) != std::string::npos) n++;
  return n;
}

bool LogCapture::empty() const { return log_count() == start_; }
