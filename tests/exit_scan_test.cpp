// The leak check that ends every test program, run on a process whose
// thread-local block of a run-time loaded library starts 16 bytes past a
// page boundary (the place where the sanitizer's guess at a block's size
// misreads the allocator's chunk header): the check must neither crash nor
// hang there, must still see a pointer kept only in that block, and must
// still report a real leak. The child is exitscan/child.cpp with the test
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

TEST(ExitScan, ABlockPastAPageBoundaryIsScannedAndARealLeakStillFails) {
#if !defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the leak check comes with AddressSanitizer";
#else
  const child_result kept = run_child("keep");
  ASSERT_NE(kept.out.find("block at page offset 16\n"), std::string::npos) << kept.out;
  EXPECT_EQ(kept.status, 0) << kept.out;
  EXPECT_EQ(kept.out.find("LeakSanitizer"), std::string::npos) << kept.out;

  const child_result leak = run_child("leak");
  ASSERT_NE(leak.out.find("block at page offset 16\n"), std::string::npos) << leak.out;
  EXPECT_NE(leak.status, 0) << leak.out;
  EXPECT_NE(leak.out.find("200 byte(s) leaked in 1 allocation(s)"), std::string::npos) << leak.out;
#endif
}
