#include "chunk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

class Chunk : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(chunk_init(), 0); }
  void TearDown() override { chunk_fini(); }
};

std::string error_of(void* (*fn)(int32_t, int32_t), int32_t arena, int32_t n, void** result) {
  ::testing::internal::CaptureStderr();
  *result = fn(arena, n);
  return ::testing::internal::GetCapturedStderr();
}

TEST_F(Chunk, RequestsArePackedWithoutAlignment) {
  auto* a = (char*)chunk_alloc(0, 3);
  auto* b = (char*)chunk_alloc(0, 3);
  auto* c = (char*)chunk_alloc(0, 0);
  auto* d = (char*)chunk_alloc(0, 5);
  EXPECT_EQ(b - a, 3);
  EXPECT_EQ(c - b, 3);
  EXPECT_EQ(d, c);  // an empty request uses no space
  // The arenas are independent.
  auto* other = (char*)chunk_alloc(1, 3);
  EXPECT_NE(other, a + 11);
}

TEST_F(Chunk, BadRequestsFail) {
  struct {
    int32_t arena, n;
    const char* message;
  } cases[] = {
      {0, 65521, "can't alloc more than 65520b in a chunk"},
      {0, INT32_MAX, "can't alloc more than 65520b in a chunk"},
      {0, -1, "can't alloc -1b from a chunk"},
      {0, INT32_MIN, "from a chunk"},
      {-1, 8, "no chunk arena -1"},
      {kChunkArenas, 8, "no chunk arena 3"},
  };
  for (const auto& c : cases) {
    void* p = &p;
    std::string err = error_of(chunk_alloc, c.arena, c.n, &p);
    EXPECT_EQ(p, nullptr) << c.arena << "," << c.n;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
  }
}

TEST_F(Chunk, LargestRequestGetsAFreshChunkWhenNeeded) {
  auto* small = (char*)chunk_alloc(2, 1);
  auto* big = (char*)chunk_alloc(2, kChunkMaxAlloc);
  ASSERT_NE(big, nullptr);
  EXPECT_NE(big, small + 1);
  memset(big, 0xab, kChunkMaxAlloc);  // the whole area is ours (ASan checks)
  auto* next = (char*)chunk_alloc(2, 1);
  EXPECT_NE(next, big + kChunkMaxAlloc);  // the full chunk is left behind
  EXPECT_EQ((unsigned char)big[kChunkMaxAlloc - 1], 0xab);
}

// Random-sized requests against a plain model: every byte written keeps its
// value, so no two requests overlap and none crosses a chunk's end.
TEST_F(Chunk, RandomRequestsNeverOverlap) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int32_t> size(0, 3000);
  std::vector<std::pair<unsigned char*, int32_t>> got;
  for (int i = 0; i < 2000; i++) {
    int32_t n = size(rng);
    auto* p = (unsigned char*)chunk_alloc(i % kChunkArenas, n);
    ASSERT_NE(p, nullptr);
    memset(p, i & 0xff, n);
    got.push_back({p, n});
  }
  for (size_t i = 0; i < got.size(); i++) {
    for (int32_t b = 0; b < got[i].second; b++) ASSERT_EQ(got[i].first[b], (unsigned char)(i & 0xff));
  }
}

TEST_F(Chunk, StrdupCopiesWithTheTerminator) {
  char* a = chunk_strdup(1, "hello");
  char* b = chunk_strdup(1, "");
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a, "hello");
  EXPECT_EQ(b, a + 6);
  EXPECT_STREQ(b, "");
  std::string too_long(kChunkMaxAlloc, 'x');
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(chunk_strdup(1, too_long.c_str()), nullptr);
  ::testing::internal::GetCapturedStderr();
  too_long.pop_back();
  EXPECT_STREQ(chunk_strdup(1, too_long.c_str()), too_long.c_str());
}

TEST_F(Chunk, FiniTwiceAndReuse) {
  chunk_alloc(0, 100);
  chunk_fini();
  chunk_fini();  // nothing left to free a second time
  EXPECT_NE(chunk_alloc(0, 10), nullptr);  // starts a chunk of its own
  chunk_fini();
  ASSERT_EQ(chunk_init(), 0);  // for TearDown
}

}  // namespace
