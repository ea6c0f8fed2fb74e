#include "pool.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "dalloc.h"

namespace {

// The pages of a pool, read from its page list (each page starts with the
// link to the next one).
std::vector<char*> pages_of(const pool& p) {
  std::vector<char*> out;
  for (char* page = (char*)p.pages; page; memcpy(&page, page, sizeof page)) out.push_back(page);
  return out;
}

TEST(Pool, ItemsPerPageTakeTheRoundingSlack) {
  if (dalloc_page_size() != 4096) GTEST_SKIP() << "figures worked out for 4096-byte pages";
  struct {
    int32_t n, size, expect;
  } cases[] = {
      {100, 8, 511},     // (4096 - 8) / 8
      {1, 24, 170},      // (4096 - 8) / 24
      {0, 16, 255},      // an empty request still fills one page
      {6247, 24, 6314},  // 149936 bytes round to 37 pages
      {4096, 1000, 4100},
      {1, 8192, 1},      // one item over three pages
      {0, 5000, 0},      // no item fits a single page
  };
  for (const auto& c : cases) {
    pool p;
    ASSERT_EQ(pool_init(&p, c.n, c.size), 0) << c.n << "x" << c.size;
    EXPECT_EQ(p.items_per_page, c.expect) << c.n << "x" << c.size;
    EXPECT_EQ(p.item_size, c.size);
    EXPECT_EQ(p.free_head, nullptr);
    EXPECT_EQ(p.pages, nullptr);
  }
}

TEST(Pool, RefusesSmallItemsAndPagesThatOverflow) {
  struct {
    int32_t n, size;
    const char* message;
  } cases[] = {
      {100, 7, "7 is less than pointer size"},
      {100, 0, "0 is less than pointer size"},
      {-1, 8, "won't fit a pool page"},
      {INT32_MAX, 8, "won't fit a pool page"},       // 16 GB: wraps in 32 bits
      {1 << 20, 4096, "won't fit a pool page"},      // 4 GB
      {65536, 65536, "won't fit a pool page"},       // 2^32 + 8: wraps to 8
  };
  for (const auto& c : cases) {
    pool p;
    ::testing::internal::CaptureStderr();
    int rc = pool_init(&p, c.n, c.size);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, -1) << c.n << "x" << c.size;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
  }
}

TEST(Pool, NoItemPerPageFailsTheAllocation) {
  if (dalloc_page_size() != 4096) GTEST_SKIP() << "figures worked out for 4096-byte pages";
  pool p;
  ASSERT_EQ(pool_init(&p, 0, 5000), 0);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(pool_alloc(&p), nullptr);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("ERROR: 0 members?"), std::string::npos) << err;
  pool_destroy(&p);
}

// Fills several pages, writes a distinct pattern over every byte of every
// item and checks that no item overlaps another or leaves its page.
TEST(Pool, PagesAreFilledWithDistinctItems) {
  for (int32_t size : {8, 12, 24, 100}) {
    pool p;
    ASSERT_EQ(pool_init(&p, 50, size), 0);
    const int32_t ipp = p.items_per_page;
    const int32_t total = 3 * ipp + 1;  // four pages
    std::vector<unsigned char*> items;
    std::set<unsigned char*> distinct;
    for (int32_t i = 0; i < total; i++) {
      auto* it = (unsigned char*)pool_alloc(&p);
      ASSERT_NE(it, nullptr);
      items.push_back(it);
      distinct.insert(it);
    }
    EXPECT_EQ((int32_t)distinct.size(), total);
    std::vector<char*> pages = pages_of(p);
    ASSERT_EQ(pages.size(), 4u);
    int64_t span = (int64_t)ipp * size;
    for (unsigned char* it : items) {
      int inside = 0;
      for (char* page : pages) {
        int64_t off = (char*)it - (page + 8);
        if (off >= 0 && off < span) {
          inside++;
          EXPECT_EQ(off % size, 0) << "item not on an item boundary";
          EXPECT_LE(off + size + 8, (int64_t)dalloc_page_round((uint32_t)(span + 8)));
        }
      }
      EXPECT_EQ(inside, 1) << "item outside every page";
    }
    for (int32_t i = 0; i < total; i++) memset(items[i], i & 0xff, size);
    for (int32_t i = 0; i < total; i++) {
      for (int32_t b = 0; b < size; b++) ASSERT_EQ(items[i][b], (unsigned char)(i & 0xff)) << "overlap";
    }
    // A fresh page hands its items out in address order.
    for (int32_t i = 1; i < ipp; i++) EXPECT_EQ(items[i], items[i - 1] + size);
    for (unsigned char* it : items) pool_free(&p, it);
    pool_destroy(&p);
    EXPECT_EQ(p.pages, nullptr);
    EXPECT_EQ(p.free_head, nullptr);
  }
}

TEST(Pool, FreedItemsComeBackLastInFirstOut) {
  pool p;
  ASSERT_EQ(pool_init(&p, 10, 16), 0);
  void* a = pool_alloc(&p);
  void* b = pool_alloc(&p);
  void* c = pool_alloc(&p);
  pool_free(&p, a);
  pool_free(&p, c);
  pool_free(&p, b);
  EXPECT_EQ(pool_alloc(&p), b);
  EXPECT_EQ(pool_alloc(&p), c);
  EXPECT_EQ(pool_alloc(&p), a);
  EXPECT_EQ(pages_of(p).size(), 1u);  // no new page while items were free
  pool_destroy(&p);
}

TEST(Pool, UsableAgainAfterDestroy) {
  pool p;
  ASSERT_EQ(pool_init(&p, 4, 32), 0);
  for (int round = 0; round < 3; round++) {
    std::set<void*> seen;
    for (int i = 0; i < 2 * p.items_per_page; i++) seen.insert(pool_alloc(&p));
    EXPECT_EQ((int)seen.size(), 2 * p.items_per_page);
    EXPECT_EQ(pages_of(p).size(), 2u);
    pool_destroy(&p);
  }
}

// A new page is handed out item by item: nothing touches an item before it
// is taken, so a page mostly unused costs no memory (its system pages are
// never faulted in), and items come in address order, free ones first.
TEST(Pool, NewPagesAreNotTouchedBeforeTheirItemsAreTaken) {
  const int64_t sys = dalloc_page_size();
  pool p;
  ASSERT_EQ(pool_init(&p, 64, int32_t(sys)), 0);  // one item per system page, and the link
  char* a = static_cast<char*>(pool_alloc(&p));
  char* b = static_cast<char*>(pool_alloc(&p));
  ASSERT_EQ(b, a + sys);
  memset(a, 1, size_t(sys));
  char* page = pages_of(p).at(0);
  const size_t span = size_t(p.items_per_page + 1) * size_t(sys);
  std::vector<unsigned char> resident(span / size_t(sys));
  ASSERT_EQ(mincore(page, span, resident.data()), 0);
  int in = 0;
  for (unsigned char r : resident) in += r & 1;
  EXPECT_LE(in, 3) << "of " << resident.size() << " system pages";
  pool_free(&p, a);
  EXPECT_EQ(pool_alloc(&p), a);      // a free item first
  EXPECT_EQ(pool_alloc(&p), b + sys);  // then on through the page
  pool_destroy(&p);
}

}  // namespace
