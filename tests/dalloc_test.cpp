#include "dalloc.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "log.h"
#include "plat.h"

namespace {

class Dalloc : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    plat_init();
    log_init();
    ASSERT_EQ(dalloc_init(), 0);
  }
  void TearDown() override {
    dalloc_set_warn_size(0);
    dalloc_fini();
    log_fini();
    plat_fini();
  }
};

TEST_F(Dalloc, SizesOutOfRangeEndTheProcess) {
  struct {
    int32_t size;
    const char* expect;
  } cases[] = {
      {0, "won't allocate 0b(.|\n)*FATAL: Allocation Error"},
      {-1, "won't allocate -1b(.|\n)*FATAL: Allocation Error"},
      {2000000000, "won't allocate 2000000000b(.|\n)*FATAL: Allocation Error"},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(dalloc_alloc(c.size), ::testing::ExitedWithCode(1), c.expect) << c.size;
  }
  void* p = dalloc_alloc(16);
  EXPECT_EXIT(dalloc_realloc(p, 0), ::testing::ExitedWithCode(1), "won't allocate 0b(.|\n)*Allocation Error");
  dalloc_free(p);
}

TEST_F(Dalloc, LargestSizeIsAllowed) {
  // Nothing is touched, so the pages are never committed.
  void* p = dalloc_alloc(1999999999);
  ASSERT_NE(p, nullptr);
  dalloc_free(p);
}

TEST_F(Dalloc, WarnsOnlyAboveTheThreshold) {
  dalloc_set_warn_size(100000000);
  ::testing::internal::CaptureStderr();
  void* quiet = dalloc_alloc(100000000);
  std::string silent = ::testing::internal::GetCapturedStderr();
  ::testing::internal::CaptureStderr();
  void* loud = dalloc_alloc(100000001);
  std::string warned = ::testing::internal::GetCapturedStderr();
  ASSERT_NE(quiet, nullptr);
  ASSERT_NE(loud, nullptr);
  EXPECT_EQ(silent, "");
  EXPECT_NE(warned.find("WARN : attempt to allocate 100000001b"), std::string::npos) << warned;
  dalloc_free(quiet);
  dalloc_free(loud);
  EXPECT_EQ(dalloc_out_of_memory(), 0u);
}

TEST_F(Dalloc, ReallocKeepsContentsAndStrdupCopies) {
  auto* p = (char*)dalloc_alloc(8);
  memcpy(p, "abcdefg", 8);
  p = (char*)dalloc_realloc(p, 1 << 20);
  EXPECT_STREQ(p, "abcdefg");
  char* q = dalloc_strdup(p);
  EXPECT_NE(q, p);
  EXPECT_STREQ(q, "abcdefg");
  dalloc_free(p);
  dalloc_free(q);
}

TEST_F(Dalloc, FreeOfNullIsRefused) {
  ::testing::internal::CaptureStderr();
  dalloc_free(nullptr);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("ERROR: attempt to free null"), std::string::npos) << err;
}

TEST_F(Dalloc, HeapFailureEndsTheProcessWithTheFlagSet) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's allocator does not fail under an address-space limit";
#else
  auto fail = [] {
    log_set_fatal_hook([](const char*) {
      // The hook runs after the ERROR line; report the flag through the code.
      _exit(dalloc_out_of_memory() ? 42 : 43);
    });
    rlimit lim = {256u << 20, 256u << 20};
    setrlimit(RLIMIT_AS, &lim);
    dalloc_alloc(1 << 30);
  };
  EXPECT_EXIT(fail(), ::testing::ExitedWithCode(42), "can't allocate 1073741824b(.|\n)*FATAL: Out of Memory");
#endif
}

TEST_F(Dalloc, RoundUp) {
  struct {
    uint32_t value;
    int32_t m;
    uint32_t expect;
  } cases[] = {
      {0, 8, 0},     {1, 8, 8},         {8, 8, 8},   {9, 8, 16},
      {5, 1, 5},     {4095, 4096, 4096}, {4097, 4096, 8192},
      {5, 0, 5},     // no division by zero: the value comes back unchanged
      {5, -4, 5},
      {0xffffffffu, 4096, 0},  // does not fit 32 bits
      {0xfffff000u, 4096, 0xfffff000u},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dalloc_round_up(c.value, c.m), c.expect) << c.value << " to " << c.m;
  }
}

TEST_F(Dalloc, PageSizeAndRounding) {
  int32_t page = dalloc_page_size();
  EXPECT_EQ(page, (int32_t)sysconf(_SC_PAGESIZE));
  EXPECT_EQ(dalloc_page_round(1), (uint32_t)page);
  EXPECT_EQ(dalloc_page_round((uint32_t)page), (uint32_t)page);
  EXPECT_EQ(dalloc_page_round((uint32_t)page + 1), 2u * page);
}

TEST_F(Dalloc, MemStatsFollowTheProcess) {
  dalloc_mem_stats_rec before, after;
  dalloc_mem_stats(&before);
  EXPECT_GT(before.resident_size, 0u);
  EXPECT_GE(before.virtual_size, before.resident_size);
  EXPECT_EQ(before.physical_mem, (uint64_t)sysconf(_SC_PHYS_PAGES) * (uint64_t)sysconf(_SC_PAGESIZE));

  // 64 MB written byte by byte must show in the resident size.
  constexpr int32_t kBytes = 64 << 20;
  auto* big = (char*)dalloc_alloc(kBytes);
  memset(big, 0x5a, kBytes);
  dalloc_mem_stats(&after);
  EXPECT_GE(after.resident_size, before.resident_size + kBytes / 2);
  EXPECT_GE(after.virtual_size, before.virtual_size + kBytes / 2);
  EXPECT_EQ(big[kBytes - 1], 0x5a);
  dalloc_free(big);
}

}  // namespace
