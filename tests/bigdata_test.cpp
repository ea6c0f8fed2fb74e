// Large-buffer slots: id choice, refusal of an incomplete id and reuse of a
// complete one, overrunning and negative appends, zero-filled new buffers,
// incomplete reads, and sizes that are negative or pass the largest block.
#include "bigdata.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "log.h"
#include "testlog.h"

namespace {

class BigdataTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { start_runtime(TestStderr::kOn); }
  void SetUp() override { ASSERT_EQ(bigdata_init(), 0); }
  void TearDown() override { bigdata_fini(); }
};

TEST_F(BigdataTest, ChosenIdsFollowTheHighestPresent) {
  EXPECT_EQ(bigdata_create(-1, 10), 1);
  EXPECT_EQ(bigdata_create(5, 10), 5);
  EXPECT_EQ(bigdata_create(-1, 10), 6);
  ASSERT_EQ(bigdata_remove(6), 0);
  ASSERT_EQ(bigdata_remove(5), 0);
  EXPECT_EQ(bigdata_create(-1, 10), 2);
  EXPECT_EQ(bigdata_create(INT32_MAX, 1), INT32_MAX);
  EXPECT_EQ(bigdata_create(-1, 1), -1);  // no id left above the highest
}

TEST_F(BigdataTest, PiecesAreJoinedAndACompleteBufferIsReadWhole) {
  ASSERT_EQ(bigdata_create(3, 11), 3);
  ASSERT_EQ(bigdata_append(3, "hello", 5), 0);
  ASSERT_EQ(bigdata_append(3, "", 0), 0);
  ASSERT_EQ(bigdata_append(3, " world", 6), 0);
  int32_t len = -1;
  uint8_t* data = bigdata_get(3, &len);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), len), "hello world");
  EXPECT_EQ(bigdata_append(3, "!", 1), -1);  // full
  ASSERT_EQ(bigdata_remove(3), 0);
  EXPECT_EQ(bigdata_get(3, &len), nullptr);
  EXPECT_EQ(bigdata_remove(3), -1);
}

TEST_F(BigdataTest, AnOverrunningAppendIsRefusedWhole) {
  ASSERT_EQ(bigdata_create(-1, 8), 1);
  uint64_t since = log_count();
  EXPECT_EQ(bigdata_append(1, "0123456789", 10), -1);
  EXPECT_TRUE(logged_since(since, "appending 10b would overrun bigdata #1"));
  ASSERT_EQ(bigdata_append(1, "abc", 3), 0);
  EXPECT_EQ(bigdata_append(1, "abcdef", 6), -1);
  EXPECT_EQ(bigdata_append(1, "abc", -1), -1);
  EXPECT_EQ(bigdata_append(1, "abc", INT32_MIN), -1);
  // Incomplete: the whole total comes back, with a warning; the rest is zero.
  since = log_count();
  int32_t len = -1;
  uint8_t* data = bigdata_get(1, &len);
  ASSERT_NE(data, nullptr);
  EXPECT_TRUE(logged_since(since, "bigdata 1 is incomplete (3/8)"));
  ASSERT_EQ(len, 8);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 8), std::string("abc\0\0\0\0\0", 8));
  EXPECT_EQ(bigdata_append(9, "x", 1), -1);
}

TEST_F(BigdataTest, AnIncompleteIdIsRefusedAndACompleteOneReplaced) {
  ASSERT_EQ(bigdata_create(4, 3), 4);
  ASSERT_EQ(bigdata_append(4, "ab", 2), 0);
  uint64_t since = log_count();
  EXPECT_EQ(bigdata_create(4, 100), -1);
  EXPECT_TRUE(logged_since(since, "bigdata #4 exists"));
  ASSERT_EQ(bigdata_append(4, "c", 1), 0);
  since = log_count();
  EXPECT_EQ(bigdata_create(4, 5), 4);
  EXPECT_TRUE(logged_since(since, "reusing bigdata #4"));
  int32_t len = -1;
  uint8_t* data = bigdata_get(4, &len);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(len, 5);  // incomplete again: the new total
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 5), std::string(5, '\0'));
}

TEST_F(BigdataTest, NegativeAndOversizedTotalsAreRefused) {
  for (int32_t total : {-1, INT32_MIN, INT32_MAX, 1999999999}) {
    EXPECT_EQ(bigdata_create(-1, total), -1) << total;
    EXPECT_EQ(bigdata_create(7, total), -1) << total;
  }
  EXPECT_EQ(bigdata_get(7, nullptr), nullptr);
  EXPECT_EQ(bigdata_create(-1, 0), 1);  // an empty item is complete at once
  int32_t len = -1;
  EXPECT_NE(bigdata_get(1, &len), nullptr);
  EXPECT_EQ(len, 0);
}

}  // namespace
