// The out-of-band queue: empty pops, push order, copied data kept until the next
// pop, refused sizes, freeing at fini (checked by the leak sanitizer), and one
// producer thread against the consuming thread.
#include "oob.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "dalloc.h"
#include "log.h"
#include "plat.h"

namespace {

class OobTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    plat_init();
    log_init();
    dalloc_init();
  }
  void SetUp() override { ASSERT_EQ(oob_init(), 0); }
  void TearDown() override { oob_fini(); }
};

TEST_F(OobTest, AnEmptyQueuePopsNothing) {
  int32_t type = 5, len = 5;
  const uint8_t* data = reinterpret_cast<const uint8_t*>("x");
  EXPECT_EQ(oob_pop(&type, &data, &len), 0);
  EXPECT_EQ(type, -1);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(len, 0);
}

TEST_F(OobTest, MessagesPopInPushOrderWithTheirOwnCopyOfTheData) {
  char first[] = "new password accepted";
  ASSERT_EQ(oob_push(240, first, sizeof first), 0);
  memset(first, 'X', sizeof first);  // the queue holds its own copy
  ASSERT_EQ(oob_push(7, nullptr, 0), 0);
  ASSERT_EQ(oob_push(240, "\x01\x02", 2), 0);

  struct Want {
    int32_t type;
    std::string bytes;
  } want[] = {{240, std::string("new password accepted", 22)}, {7, ""}, {240, "\x01\x02"}};
  for (const Want& w : want) {
    int32_t type, len;
    const uint8_t* data;
    ASSERT_EQ(oob_pop(&type, &data, &len), 1);
    EXPECT_EQ(type, w.type);
    ASSERT_EQ(len, static_cast<int32_t>(w.bytes.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), len), w.bytes);
  }
  int32_t type, len;
  const uint8_t* data;
  EXPECT_EQ(oob_pop(&type, &data, &len), 0);
}

TEST_F(OobTest, NegativeAndOversizedLengthsAreRefused) {
  EXPECT_EQ(oob_push(1, "abc", -1), -1);
  EXPECT_EQ(oob_push(1, "abc", INT32_MAX), -1);
  int32_t type, len;
  const uint8_t* data;
  EXPECT_EQ(oob_pop(&type, &data, &len), 0);
}

TEST_F(OobTest, FiniFreesQueuedAndPoppedMessages) {
  for (int i = 0; i < 10; i++) ASSERT_EQ(oob_push(i, "payload", 7), 0);
  int32_t type, len;
  const uint8_t* data;
  ASSERT_EQ(oob_pop(&type, &data, &len), 1);
  oob_fini();  // the leak sanitizer reports anything left behind
  EXPECT_EQ(oob_push(1, "x", 1), -1);  // stopped
  ASSERT_EQ(oob_init(), 0);
  EXPECT_EQ(oob_pop(&type, &data, &len), 0);
}

TEST(OobConcurrency, OneProducerOneConsumerKeepOrder) {
  plat_init();
  log_init();
  dalloc_init();
  ASSERT_EQ(oob_init(), 0);
  constexpr int kMessages = 20000;
  std::thread producer([] {
    for (int i = 0; i < kMessages; i++) {
      std::string text = "message " + std::to_string(i);
      if (oob_push(i, text.data(), static_cast<int32_t>(text.size())) != 0) return;
    }
  });
  int next = 0;
  bool in_order = true;
  while (next < kMessages && in_order) {
    int32_t type, len;
    const uint8_t* data;
    if (oob_pop(&type, &data, &len) == 0) {
      std::this_thread::yield();
      continue;
    }
    in_order = type == next &&
               std::string(reinterpret_cast<const char*>(data), len) == "message " + std::to_string(next);
    EXPECT_TRUE(in_order) << "message " << next << " came as type " << type;
    next++;
  }
  producer.join();
  oob_fini();
}

}  // namespace
