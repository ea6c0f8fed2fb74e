// Growable buffers: sizing at init, the growth rule (capacity ends strictly
// above the length asked for), a random differential run against std::string,
// the relocate callback, shrink/free/truncate/copy, refused huge sizes and the
// FATAL commit overrun.
#include "growbuf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dalloc.h"
#include "log.h"
#include "plat.h"

namespace {

class GrowbufTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    plat_init();
    log_init();
    dalloc_init();
  }
  void SetUp() override { ASSERT_EQ(dalloc_page_size(), 4096) << "the size tables assume 4 KB pages"; }
  void TearDown() override { growbuf_free(&gb_); }

  std::string contents() const { return std::string(reinterpret_cast<const char*>(gb_.data), gb_.len); }

  growbuf gb_{};
};

struct RelocateLog {
  int calls = 0;
  void* old_data = nullptr;
  int32_t old_len = -1;
};

void record_relocate(growbuf* gb, void* old_data, int32_t old_len) {
  auto* r = static_cast<RelocateLog*>(gb->context);
  r->calls++;
  r->old_data = old_data;
  r->old_len = old_len;
}

TEST_F(GrowbufTest, InitRecordsPageRoundedSizesAndAllocatesTheExactInitialSize) {
  struct Case {
    int32_t initial, step;
    int32_t initsize, incr, maxlen;
    bool has_data;
  } cases[] = {
      {100, 1, 4096, 4096, 100, true},
      {4096, 4097, 4096, 8192, 4096, true},
      {0, 4096, 0, 4096, 0, false},
      {0, 0, 0, 4096, 0, false},  // a step of 0 counts as one page
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.initial << "/" << c.step);
    ASSERT_EQ(growbuf_init(&gb_, c.initial, c.step), 0);
    EXPECT_EQ(gb_.len, 0);
    EXPECT_EQ(gb_.initsize, c.initsize);
    EXPECT_EQ(gb_.incr, c.incr);
    EXPECT_EQ(gb_.maxlen, c.maxlen);
    EXPECT_EQ(gb_.data != nullptr, c.has_data);
    EXPECT_EQ(gb_.relocate, nullptr);
    growbuf_free(&gb_);
  }
}

TEST_F(GrowbufTest, RefusesNegativeAndOversizedInitSizes) {
  for (auto [initial, step] : std::vector<std::pair<int32_t, int32_t>>{
           {-1, 4096}, {0, -1}, {2000000000, 4096}, {0, 2000000000}, {INT32_MAX, 1}}) {
    EXPECT_EQ(growbuf_init(&gb_, initial, step), -1) << initial << "/" << step;
  }
}

TEST_F(GrowbufTest, CapacityGrowsByStepsToStrictlyAboveTheNewLength) {
  struct Case {
    int32_t initial, step, filled;
    uint32_t more;
    int32_t capacity;
  } cases[] = {
      {4096, 4096, 4000, 96, 4096},    // exactly full: no growth
      {4096, 4096, 4000, 97, 8192},
      {4096, 4096, 4000, 4192, 12288},  // 8192 needed, capacity must end above it
      {0, 4096, 0, 1, 4096},
      {0, 4096, 0, 4096, 8192},
      {100, 8192, 100, 1, 8292},
      {0, 0, 0, 10000, 12288},  // step 0 grows by pages instead of looping
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.initial << "/" << c.step << " +" << c.filled << " +" << c.more);
    ASSERT_EQ(growbuf_init(&gb_, c.initial, c.step), 0);
    std::string ref(c.filled, 'a');
    ASSERT_EQ(growbuf_append(&gb_, ref.data(), c.filled), 0);
    std::string more(c.more, 'b');
    ASSERT_EQ(growbuf_append(&gb_, more.data(), c.more), 0);
    EXPECT_EQ(gb_.maxlen, c.capacity);
    EXPECT_EQ(contents(), ref + more);
    growbuf_free(&gb_);
  }
}

TEST_F(GrowbufTest, RandomOperationsMatchAStringModel) {
  std::mt19937 rng(20240611);
  ASSERT_EQ(growbuf_init(&gb_, 10, 1), 0);
  std::string model;
  for (int step = 0; step < 3000; step++) {
    int op = rng() % 10;
    if (op < 5) {
      std::string bytes(rng() % 3000, static_cast<char>('a' + rng() % 26));
      ASSERT_EQ(growbuf_append(&gb_, bytes.data(), bytes.size()), 0);
      model += bytes;
    } else if (op < 7) {
      uint32_t n = rng() % 5000;
      uint8_t* w = growbuf_reserve(&gb_, n);
      ASSERT_NE(w, nullptr);
      ASSERT_GT(gb_.maxlen, gb_.len + static_cast<int64_t>(n) - 1);
      uint32_t used = n ? rng() % (n + 1) : 0;
      for (uint32_t i = 0; i < used; i++) w[i] = static_cast<uint8_t>('A' + i % 26);
      ASSERT_EQ(growbuf_commit(&gb_, used), 0);
      for (uint32_t i = 0; i < used; i++) model += static_cast<char>('A' + i % 26);
    } else if (op < 9) {
      int32_t n = model.empty() ? 0 : rng() % (model.size() + 1);
      ASSERT_EQ(growbuf_truncate(&gb_, n), 0);
      model.resize(n);
    } else if (rng() % 8 == 0) {
      bool at_initial = gb_.maxlen == gb_.initsize;  // then shrink keeps everything
      ASSERT_EQ(growbuf_shrink(&gb_), 0);
      if (!at_initial) model.clear();
    } else {
      growbuf_reset(&gb_);
      model.clear();
    }
    ASSERT_EQ(contents(), model) << "after step " << step;
    ASSERT_LE(gb_.len, gb_.maxlen);
  }
}

TEST_F(GrowbufTest, RelocateCallbackSeesTheOldLengthOnEveryReallocation) {
  RelocateLog r;
  ASSERT_EQ(growbuf_init(&gb_, 4096, 4096), 0);
  growbuf_set_relocate(&gb_, record_relocate, &r);
  std::string a(4000, 'x');
  ASSERT_EQ(growbuf_append(&gb_, a.data(), a.size()), 0);
  EXPECT_EQ(r.calls, 0);
  ASSERT_EQ(growbuf_append(&gb_, a.data(), a.size()), 0);
  EXPECT_EQ(r.calls, 1);
  EXPECT_EQ(r.old_len, 4000);
  ASSERT_NE(growbuf_reserve(&gb_, 10000), nullptr);
  EXPECT_EQ(r.calls, 2);
  EXPECT_EQ(r.old_len, 8000);
  ASSERT_NE(growbuf_reserve(&gb_, 10), nullptr);  // fits: no call
  EXPECT_EQ(r.calls, 2);
}

TEST_F(GrowbufTest, CopyReplacesTheContentsAndReportsOldLengthZero) {
  growbuf src{};
  ASSERT_EQ(growbuf_init(&src, 0, 4096), 0);
  std::string text(9000, 'q');
  ASSERT_EQ(growbuf_append(&src, text.data(), text.size()), 0);

  RelocateLog r;
  ASSERT_EQ(growbuf_init(&gb_, 4096, 4096), 0);
  growbuf_set_relocate(&gb_, record_relocate, &r);
  ASSERT_EQ(growbuf_append(&gb_, "old", 3), 0);
  ASSERT_EQ(growbuf_copy(&gb_, &src), 0);
  EXPECT_EQ(contents(), text);
  EXPECT_EQ(r.calls, 1);
  EXPECT_EQ(r.old_len, 0);

  ASSERT_EQ(growbuf_copy(&gb_, &gb_), 0);  // onto itself: unchanged
  EXPECT_EQ(contents(), text);

  growbuf empty{};
  ASSERT_EQ(growbuf_init(&empty, 0, 4096), 0);
  ASSERT_EQ(growbuf_copy(&gb_, &empty), 0);
  EXPECT_EQ(gb_.len, 0);
  growbuf_free(&src);
  growbuf_free(&empty);
}

TEST_F(GrowbufTest, AppendOfAllOnesLengthTakesAString) {
  ASSERT_EQ(growbuf_init(&gb_, 0, 4096), 0);
  ASSERT_EQ(growbuf_append(&gb_, "BHP", 0xffffffffu), 0);
  ASSERT_EQ(growbuf_append(&gb_, "", 0xffffffffu), 0);
  ASSERT_EQ(growbuf_append(&gb_, ".AX", 0xffffffffu), 0);
  EXPECT_EQ(contents(), "BHP.AX");
}

TEST_F(GrowbufTest, TruncateAboveTheLengthIsRefusedAndChangesNothing) {
  ASSERT_EQ(growbuf_init(&gb_, 64, 4096), 0);
  ASSERT_EQ(growbuf_append(&gb_, "abcdef", 6), 0);
  EXPECT_EQ(growbuf_truncate(&gb_, 7), -1);
  EXPECT_EQ(growbuf_truncate(&gb_, -1), -1);
  EXPECT_EQ(contents(), "abcdef");
  EXPECT_EQ(growbuf_truncate(&gb_, 6), 0);
  EXPECT_EQ(growbuf_truncate(&gb_, 2), 0);
  EXPECT_EQ(contents(), "ab");
}

TEST_F(GrowbufTest, ShrinkReturnsToTheInitialSizeAndClearsTheCallback) {
  RelocateLog r;
  ASSERT_EQ(growbuf_init(&gb_, 100, 4096), 0);
  growbuf_set_relocate(&gb_, record_relocate, &r);
  ASSERT_EQ(growbuf_shrink(&gb_), 0);  // capacity 100 differs from the rounded 4096
  EXPECT_EQ(gb_.maxlen, 4096);
  EXPECT_NE(gb_.data, nullptr);
  EXPECT_EQ(gb_.relocate, nullptr);
  EXPECT_EQ(gb_.context, nullptr);

  ASSERT_EQ(growbuf_append(&gb_, "abc", 3), 0);
  ASSERT_EQ(growbuf_shrink(&gb_), 0);  // already at the initial size: nothing to do
  EXPECT_EQ(contents(), "abc");

  std::string big(20000, 'z');
  ASSERT_EQ(growbuf_append(&gb_, big.data(), big.size()), 0);
  ASSERT_EQ(growbuf_shrink(&gb_), 0);
  EXPECT_EQ(gb_.len, 0);
  EXPECT_EQ(gb_.maxlen, 4096);
}

TEST_F(GrowbufTest, ShrinkWithInitialSizeZeroKeepsNoData) {
  ASSERT_EQ(growbuf_init(&gb_, 0, 4096), 0);
  ASSERT_EQ(growbuf_append(&gb_, "abc", 3), 0);
  ASSERT_EQ(growbuf_shrink(&gb_), 0);
  EXPECT_EQ(gb_.data, nullptr);
  EXPECT_EQ(gb_.maxlen, 0);
  EXPECT_EQ(gb_.len, 0);
  ASSERT_EQ(growbuf_append(&gb_, "again", 5), 0);  // still usable
  EXPECT_EQ(contents(), "again");
}

TEST_F(GrowbufTest, FreeClearsDataAndCapacityAndTheBufferCanBeReused) {
  ASSERT_EQ(growbuf_init(&gb_, 4096, 4096), 0);
  ASSERT_EQ(growbuf_append(&gb_, "abc", 3), 0);
  growbuf_free(&gb_);
  EXPECT_EQ(gb_.data, nullptr);
  EXPECT_EQ(gb_.maxlen, 0);
  EXPECT_EQ(gb_.len, 0);
  growbuf_free(&gb_);  // a second free is harmless
  ASSERT_EQ(growbuf_append(&gb_, "xyz", 3), 0);
  EXPECT_EQ(contents(), "xyz");
  uint8_t* w = growbuf_reserve(&gb_, 0);
  EXPECT_NE(w, nullptr);
}

TEST_F(GrowbufTest, ReserveOnAnEmptyBufferGivesAWritablePointer) {
  ASSERT_EQ(growbuf_init(&gb_, 0, 4096), 0);
  uint8_t* w = growbuf_reserve(&gb_, 0);
  ASSERT_NE(w, nullptr);
  EXPECT_GT(gb_.maxlen, 0);
}

TEST_F(GrowbufTest, GrowthPastTheLargestBlockIsRefusedWithoutWrapping) {
  ASSERT_EQ(growbuf_init(&gb_, 4096, 4096), 0);
  ASSERT_EQ(growbuf_append(&gb_, "abc", 3), 0);
  for (uint32_t n : {0x7ffffffdu, 0x80000000u, 0xfffffff0u, 1999999999u}) {
    EXPECT_EQ(growbuf_reserve(&gb_, n), nullptr) << n;
    EXPECT_EQ(growbuf_append(&gb_, "x", n), -1) << n;
  }
  EXPECT_EQ(contents(), "abc");
  EXPECT_EQ(gb_.maxlen, 4096);
}

TEST_F(GrowbufTest, CommitPastTheCapacityIsFatal) {
  ASSERT_EQ(growbuf_init(&gb_, 4096, 4096), 0);
  ASSERT_NE(growbuf_reserve(&gb_, 100), nullptr);
  EXPECT_DEATH(growbuf_commit(&gb_, 5000), "overrun: len=0 maxlen=4096 size=5000 incr=4096");
}

}  // namespace
