// The leak check that ends every test program, run on a process whose
// thread-local block of a run-time loaded library starts 16 bytes past a
// page boundary (the place where the sanitizer's guess at a block's size
// misreads the allocator's chunk header): the check must neither crash nor
// hang there, must still see a pointer kept only in that block, and must
// still report a leak. The child is exitscan/child.cpp with the test
// programs' own leak checker options.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct child_result {
  int status = -1;
  std::string out;
};

// Runs the child with `arg` under a time limit (a hanging scan ends in the
// limit's status) and the quarantine on, so that the chunks it takes are
// fresh ones in ascending order.
child_result run_child(const char *arg) {
  std::string cmd = std::string("ASAN_OPTIONS=quarantine_size_mb=256 timeout 60 ") + EXIT_SCAN_CHILD + " " +
                    EXIT_SCAN_TLS + " " + arg + " 2>&1";
  child_result r;
  FILE *f = popen(cmd.c_str(), "r");
  if (!f) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) r.out.append(buf, n);
  int st = pclose(f);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

}  // namespace

TEST(ExitScan, ABlockPastAPageBoundaryIsScannedAndLeaksStillFail) {
#if !defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the leak check comes with AddressSanitizer";
#else
  const struct {
    const char *mode;
    bool clean;
    const char *report;  // what a failing check must say
  } cases[] = {
      {"keep", true, nullptr},                                        // held only by the block
      {"drop", false, "100 byte(s) leaked in 1 allocation(s)"},       // the same block, held by nothing
      {"leak", false, "200 byte(s) leaked in 1 allocation(s)"},       // held, and another one lost
  };
  for (const auto &c : cases) {
    const child_result r = run_child(c.mode);
    ASSERT_NE(r.out.find("block at page offset 16\n"), std::string::npos) << c.mode << "\n" << r.out;
    EXPECT_EQ(r.out.find("Tracer caught"), std::string::npos) << c.mode << "\n" << r.out;
    if (c.clean) {
      EXPECT_EQ(r.status, 0) << c.mode << "\n" << r.out;
      EXPECT_EQ(r.out.find("LeakSanitizer"), std::string::npos) << c.mode << "\n" << r.out;
    } else {
      EXPECT_NE(r.status, 0) << c.mode << "\n" << r.out;
      EXPECT_NE(r.out.find(c.report), std::string::npos) << c.mode << "\n" << r.out;
    }
  }
#endif
}
