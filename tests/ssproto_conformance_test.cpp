// The dispatcher against the message-type list of the protocol, as one
// session: every type from 0 to 255 is either on the unknown-type path (the
// list below, written from the protocol's own table, not from the
// dispatcher's) or reaches a handler; and with every handled type's handler
// replaced by one that takes the whole message, the current exchange's stream
// position grows by exactly the length of each message of a counting type
// and not at all for the others, while counting is on, and for no type while
// the catch-up has it off.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "encode.h"
#include "ssclient.h"
#include "ssproto.h"
#include "testclient.h"
#include "testlog.h"
#include "testprototypes.h"
#include "testmodel.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime());

using Bytes = std::vector<uint8_t>;

// Takes the whole message.
int take_all(ssproto_msg* m) {
  m->used = m->avail;
  return ssproto_used(m);
}

// A message whose header names no instrument, with `n` bytes after it.
Bytes message(uint32_t type, int n) {
  Bytes b = {0, uint8_t(type)};
  for (int i = 0; i < n; i++) b.push_back(uint8_t(0xa0 + i));
  return b;
}

class Conformance : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(start_direct_client());
  }
  void TearDown() override {
    for (uint32_t t = 1; t < 256; t++) ssproto_set_test_handler(t, nullptr);
    ssclient_fini();
  }
  int decode(const Bytes& b) { return ssproto_decode(b.data(), int32_t(b.size())); }
  // Makes exchange `index` current with message 51, and turns counting on
  // (49) or off (40).
  void select(uint8_t index, bool counting) {
    Bytes b = {0, 51, index};
    ASSERT_EQ(3, decode(b));
    Bytes c = counting ? Bytes{0, 49, 0, 0, 0, 0, 0, 0, 0, 0} : Bytes{0, 40, 0, 0, 0, 0};
    ASSERT_EQ(int(c.size()), decode(c));
  }
};

TEST_F(Conformance, UnknownTypesAndHandledTypes) {
  for (uint32_t t = 0; t < 256; t++) {
    LogCapture log;
    Bytes b = message(t, 4);
    int r = decode(b);
    if (kProtoUnknownTypes.count(t)) {
      EXPECT_EQ(-1, r) << t;
      EXPECT_TRUE(log.has("unknown type " + std::to_string(t) + " ")) << t;
    } else {
      EXPECT_FALSE(log.has("unknown type")) << t;
    }
    if (ssclient_abort_requested()) {  // a sign-off type: start afresh
      ssclient_fini();
      ASSERT_NO_FATAL_FAILURE(start_direct_client());
    }
  }
}

TEST_F(Conformance, StreamPositionAccountingPerType) {
  for (int pass = 0; pass < 2; pass++) {
    const bool counting = pass == 0;
    const uint8_t ex = counting ? 2 : 1;
    ssproto_set_exchange_position(ex, 1000);
    int n = 3;
    for (uint32_t t = 1; t < 256; t++) {
      if (kProtoUnknownTypes.count(t)) continue;
      select(ex, counting);  // some types change the current exchange or the flag in their real handler
      ssproto_set_test_handler(t, take_all);
      const uint32_t before = ssproto_exchange_position(ex);
      Bytes b = message(t, n);
      ASSERT_EQ(int(b.size()), decode(b)) << t;
      const uint32_t grew = ssproto_exchange_position(ex) - before;
      EXPECT_EQ(counting && kProtoCountingTypes.count(t) ? b.size() : 0u, grew) << "type " << t;
      ssproto_set_test_handler(t, nullptr);
      n = n % 7 + 1;  // lengths vary, so a fixed increment would show
    }
  }
  // The other exchanges never moved.
  EXPECT_EQ(kProtoPositionNone, ssproto_exchange_position(0));
  EXPECT_EQ(kProtoPositionNone, ssproto_exchange_position(3));
}

}  // namespace
