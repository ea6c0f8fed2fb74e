// The user record: permissions derived from the exchange bits as a table, the
// visibility of instruments, and the stored configuration: copies the caller
// owns (each read its own, unaffected by later stores and clears), the
// version steps, refusals before anything is allocated, and a lock that must
// have been made at init. The Concurrency suite reads the record and the
// configuration on one thread while another replaces them.
#include "ssuser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ssmodel.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

class User : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { start_runtime(TestStderr::kOff); }
  void SetUp() override {
    ssuser_fini();
    ASSERT_EQ(0, ssuser_init());
  }
  void TearDown() override { ssuser_fini(); }
};

TEST_F(User, SignedOutDefaults) {
  EXPECT_EQ(1u, ssuser_id());
  EXPECT_TRUE(ssuser_is(1));
  EXPECT_EQ(0u, ssuser_flags());
  for (int i = 0; i < kExchanges; i++) EXPECT_EQ(0, ssuser_exchange_permitted(i));
  EXPECT_EQ(0, ssuser_multi_exchange());
  EXPECT_EQ(0, ssuser_has_config());
}

TEST_F(User, Permissions) {
  struct {
    uint32_t bits;
    int asx, nzx, glb, axo, count;
  } cases[] = {
      {0x0, 0, 0, 0, 0, 0}, {0x1, 1, 0, 0, 0, 1}, {0x2, 0, 1, 0, 0, 1}, {0x4, 0, 0, 0, 1, 1},
      {0x3, 1, 1, 0, 0, 2}, {0x7, 1, 1, 0, 1, 3}, {0x8, 0, 0, 0, 0, 0}, {0xFFFFFFFF, 1, 1, 0, 1, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bits);
    ssuser_set(77, 0x50, c.bits);
    EXPECT_EQ(c.asx, ssuser_exchange_permitted(kExchangeAsx));
    EXPECT_EQ(c.nzx, ssuser_exchange_permitted(kExchangeNzx));
    EXPECT_EQ(c.glb, ssuser_exchange_permitted(kExchangeGlb));
    EXPECT_EQ(c.axo, ssuser_exchange_permitted(kExchangeAxo));
    EXPECT_EQ(c.count, ssuser_permitted_count());
    EXPECT_EQ(c.count > 1, ssuser_multi_exchange());
    EXPECT_EQ(c.bits & 0xF, ssuser_exchange_mask(0xF));  // as received, bit 3 too
    EXPECT_EQ(0, ssuser_exchange_permitted(-1));
    EXPECT_EQ(0, ssuser_exchange_permitted(4));
  }
  EXPECT_EQ(77u, ssuser_id());
  EXPECT_TRUE(ssuser_is(77));
  EXPECT_FALSE(ssuser_is(1));
  EXPECT_EQ(0x50u, ssuser_flags());
  EXPECT_EQ(0x10u, ssuser_has_flag(0x11));
  EXPECT_EQ(0u, ssuser_has_flag(0x2));
}

TEST_F(User, CanSee) {
  ss_stock asx_stock{}, nzx_stock{}, glb_stock{}, loose{};
  ss_index glb_index{}, nzx_index{};
  asx_stock.exchange = bare_exchange(kExchangeAsx);
  asx_stock.kind = kKindStock;
  nzx_stock.exchange = bare_exchange(kExchangeNzx);
  nzx_stock.kind = kKindStock;
  glb_stock.exchange = bare_exchange(kExchangeGlb);
  glb_stock.kind = kKindStock;
  glb_index.exchange = bare_exchange(kExchangeGlb);
  glb_index.kind = kKindIndex;
  nzx_index.exchange = bare_exchange(kExchangeNzx);
  nzx_index.kind = kKindIndex;

  ssuser_set(5, 0, 0x1);
  EXPECT_EQ(1, ssuser_can_see(&asx_stock));
  EXPECT_EQ(0, ssuser_can_see(&nzx_stock));
  EXPECT_EQ(0, ssuser_can_see(&nzx_index));
  EXPECT_EQ(1, ssuser_can_see(&glb_index));  // global indices are for everyone
  EXPECT_EQ(0, ssuser_can_see(&glb_stock));
  EXPECT_EQ(0, ssuser_can_see(&loose));  // no exchange
  EXPECT_EQ(0, ssuser_can_see(nullptr));
  ssuser_set(5, 0, 0x2);
  EXPECT_EQ(0, ssuser_can_see(&asx_stock));
  EXPECT_EQ(1, ssuser_can_see(&nzx_stock));
  EXPECT_EQ(1, ssuser_can_see(&nzx_index));
  ssuser_set(5, 0, 0);
  EXPECT_EQ(1, ssuser_can_see(&glb_index));
}

std::string take(char* copy, int32_t len) {
  std::string s(copy, (size_t)len);
  EXPECT_EQ('\0', copy[len]);
  ssuser_clear_config(copy);
  return s;
}

TEST_F(User, ConfigCopiesBelongToTheCaller) {
  int32_t len = -5;
  EXPECT_EQ(nullptr, ssuser_get_config(&len));
  EXPECT_EQ(0, len);

  uint32_t v0 = ssuser_config_version();
  const char data[] = "layout=1\0binary\xff";
  const int32_t n = sizeof data - 1;
  ASSERT_EQ(0, ssuser_store_config(data, n));
  EXPECT_EQ(v0 + 1, ssuser_config_version());
  EXPECT_EQ(1, ssuser_has_config());

  char* a = ssuser_get_config(&len);
  ASSERT_NE(nullptr, a);
  ASSERT_EQ(n, len);
  EXPECT_EQ(0, memcmp(data, a, (size_t)n));
  char* b = ssuser_get_config(&len);
  ASSERT_NE(nullptr, b);
  EXPECT_NE(a, b);  // every reader its own copy

  // Replacing and dropping the stored copy leaves the readers' copies alone
  // (AddressSanitizer would see a freed one).
  ASSERT_EQ(0, ssuser_store_config("second", 6));
  EXPECT_EQ(0, memcmp(data, a, (size_t)n));
  ssuser_clear_config(nullptr);
  EXPECT_EQ(0, ssuser_has_config());
  EXPECT_EQ(std::string(data, n), take(a, n));
  EXPECT_EQ(std::string(data, n), take(b, n));
  EXPECT_EQ(v0 + 5, ssuser_config_version());  // store, store, clear, two frees
  EXPECT_EQ(nullptr, ssuser_get_config(&len));
  EXPECT_EQ(0, len);

  // Freeing a reader's copy keeps the stored one.
  ASSERT_EQ(0, ssuser_store_config("third", 5));
  char* c = ssuser_get_config(&len);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ("third", take(c, len));
  EXPECT_EQ(1, ssuser_has_config());
  c = ssuser_get_config(&len);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ("third", take(c, len));

  // An empty configuration is stored but does not count as one.
  ASSERT_EQ(0, ssuser_store_config(nullptr, 0));
  EXPECT_EQ(0, ssuser_has_config());
  c = ssuser_get_config(&len);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(0, len);
  EXPECT_EQ("", take(c, len));
}

TEST_F(User, ConfigRefusals) {
  ASSERT_EQ(0, ssuser_store_config("kept", 4));
  uint32_t v = ssuser_config_version();
  struct {
    const void* data;
    int32_t length;
    const char* line;
  } cases[] = {
      {"x", -1, "can't alloc 0b for user config"},
      {"x", INT32_MAX, "can't alloc 2147483648b for user config"},
      {"x", 64 * 1024 * 1024 + 1, "can't alloc 67108866b for user config"},
      {nullptr, 3, "can't alloc 4b for user config"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    LogCapture log;
    EXPECT_EQ(-1, ssuser_store_config(c.data, c.length));
    EXPECT_EQ(1, log.count(c.line));
  }
  EXPECT_EQ(v, ssuser_config_version());
  int32_t len = 0;
  char* copy = ssuser_get_config(&len);
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ("kept", take(copy, len));
}

TEST(UserLock, ConfigNeedsInit) {
  start_runtime(TestStderr::kOff);
  ssuser_fini();
  LogCapture log;
  EXPECT_EQ(-1, ssuser_store_config("abc", 3));
  int32_t len = 9;
  EXPECT_EQ(nullptr, ssuser_get_config(&len));
  EXPECT_EQ(0, len);
  EXPECT_EQ(0, ssuser_has_config());
  EXPECT_EQ(3, log.count("user lock not made"));
  // The identity fields need no lock.
  ssuser_set(9, 0, 0x2);
  EXPECT_EQ(1, ssuser_exchange_permitted(kExchangeNzx));
  ASSERT_EQ(0, ssuser_init());
  ASSERT_EQ(0, ssuser_init());  // again: the same lock
  EXPECT_EQ(0, ssuser_store_config("abc", 3));
  EXPECT_EQ(1, ssuser_has_config());
  ssuser_fini();
  EXPECT_EQ(1u, ssuser_id());
}

// One thread stores configurations (each made of one repeated letter, its
// length telling the letter) and sign-on details while another reads both;
// every copy read must be whole, and every record read one that was set.
TEST(UserConcurrency, ReadWhileReplaced) {
  start_runtime(TestStderr::kOff);
  ssuser_fini();
  ASSERT_EQ(0, ssuser_init());
  constexpr int kRounds = 3000;
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};

  std::thread writer([&] {
    std::vector<char> data(300);
    for (int i = 0; i < kRounds; i++) {
      int32_t n = 1 + i % 250;
      memset(data.data(), 'a' + n % 26, (size_t)n);
      if (ssuser_store_config(data.data(), n) != 0) bad++;
      ssuser_set(100 + (uint32_t)(i % 2), 0, i % 2 ? 0x3 : 0x4);
      if (i % 97 == 0) ssuser_clear_config(nullptr);
    }
    done = true;
  });
  std::thread reader([&] {
    int reads = 0;
    while (!done || reads < 100) {
      int32_t n = 0;
      char* copy = ssuser_get_config(&n);
      if (copy) {
        for (int32_t k = 0; k < n; k++)
          if (copy[k] != 'a' + n % 26) bad++;
        if (copy[n] != '\0') bad++;
        ssuser_clear_config(copy);
      } else if (n != 0) {
        bad++;
      }
      uint32_t id = ssuser_id();
      if (id != 1 && id != 100 && id != 101) bad++;
      int count = ssuser_permitted_count();
      if (count < 0 || count > 2) bad++;
      (void)ssuser_has_config();
      reads++;
    }
  });
  writer.join();
  reader.join();
  EXPECT_EQ(0, bad.load());
  ssuser_fini();
}

}  // namespace
