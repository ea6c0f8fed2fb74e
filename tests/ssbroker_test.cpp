// The broker table: built-in ids and codes both ways, codes learnt from the
// market data checked against a plain map, the code length limit and the
// table's life cycle.
#include "ssbroker.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>

#include "log.h"
#include "testlog.h"

namespace {

class SsBroker : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { start_runtime(TestStderr::kOn); }
  void SetUp() override { ASSERT_EQ(ssbroker_init(), 0); }
  void TearDown() override { ssbroker_fini(); }
};

const char* const kBuiltins[] = {"AACA", "ABNA", "ASBA", "CITW", "DBLW", "DEUA", "ESAW", "FNZW", "FORD",
                                 "GLEW", "GRSD", "GSJA", "HHGC", "MAQA", "MENW", "NZXR", "UBSA", "WJMW"};

TEST_F(SsBroker, BuiltinIdsAndCodesBothWays) {
  for (int32_t id = 0; id < 18; id++) {
    SCOPED_TRACE(kBuiltins[id]);
    ASSERT_NE(ssbroker_code(id), nullptr);
    EXPECT_STREQ(ssbroker_code(id), kBuiltins[id]);
    EXPECT_EQ(ssbroker_id(kBuiltins[id]), id);
    ss_broker* b = ssbroker_find(kBuiltins[id]);
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(b->code, kBuiltins[id]);
    EXPECT_EQ(b->id, id);
    // Seeing a built-in code in the data gives its record, id kept.
    EXPECT_EQ(ssbroker_add(kBuiltins[id]), b);
    EXPECT_EQ(b->id, id);
    // What the codec writes as one byte reads back as the same broker.
    EXPECT_EQ(ssbroker_id(ssbroker_code(id)), id);
  }
  for (int32_t id : {18, 19, 127, 128, -1, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(ssbroker_code(id), nullptr);
  }
}

TEST_F(SsBroker, LearntCodesMatchAPlainMap) {
  EXPECT_EQ(ssbroker_find("NEWB"), nullptr);
  EXPECT_EQ(ssbroker_id("NEWB"), -1);
  ss_broker* first = ssbroker_add("NEWB");
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->code, "NEWB");
  EXPECT_EQ(first->id, -1);
  EXPECT_EQ(ssbroker_add("NEWB"), first);
  EXPECT_EQ(ssbroker_find("NEWB"), first);
  EXPECT_EQ(ssbroker_id("NEWB"), -1);

  // Enough codes to grow the set several times and span pool pages; every
  // record must stay where it was handed out.
  std::map<std::string, ss_broker*> ref{{"NEWB", first}};
  for (int i = 0; i < 600; i++) {
    std::string code = "B" + std::to_string(i * 7919 % 100000);
    ss_broker* b = ssbroker_add(code.c_str());
    ASSERT_NE(b, nullptr) << code;
    bool fresh = ref.emplace(code, b).second;
    EXPECT_TRUE(fresh) << code;
  }
  for (auto& [code, rec] : ref) {
    SCOPED_TRACE(code);
    EXPECT_EQ(ssbroker_find(code.c_str()), rec);
    EXPECT_EQ(ssbroker_add(code.c_str()), rec);
    EXPECT_STREQ(rec->code, code.c_str());
    EXPECT_EQ(rec->id, -1);
  }
  for (int32_t id = 0; id < 18; id++) EXPECT_EQ(ssbroker_id(kBuiltins[id]), id);
  // Look-ups are exact: case and length matter.
  EXPECT_EQ(ssbroker_find("newb"), nullptr);
  EXPECT_EQ(ssbroker_find("NEW"), nullptr);
  EXPECT_EQ(ssbroker_find("NEWBB"), nullptr);
}

TEST_F(SsBroker, CodesLongerThanElevenAreRefused) {
  ss_broker* b = ssbroker_add("ABCDEFGHIJK");  // 11: the most that fits
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b->code, "ABCDEFGHIJK");
  uint64_t mark = log_count();
  EXPECT_EQ(ssbroker_add("ABCDEFGHIJKL"), nullptr);
  EXPECT_TRUE(logged_since(mark, "can't add broker ABCDEFGHIJKL"));
  EXPECT_EQ(ssbroker_find("ABCDEFGHIJKL"), nullptr);
  EXPECT_EQ(ssbroker_id("ABCDEFGHIJKL"), -1);
  // The refused code did not disturb the one it shares a prefix with.
  EXPECT_EQ(ssbroker_find("ABCDEFGHIJK"), b);
  EXPECT_EQ(ssbroker_add(nullptr), nullptr);
  EXPECT_EQ(ssbroker_find(nullptr), nullptr);
  EXPECT_EQ(ssbroker_id(nullptr), -1);
}

TEST_F(SsBroker, RestartForgetsLearntCodes) {
  ASSERT_NE(ssbroker_add("TEMP"), nullptr);
  ssbroker_fini();
  EXPECT_EQ(ssbroker_find("TEMP"), nullptr);
  EXPECT_EQ(ssbroker_find("AACA"), nullptr);
  EXPECT_EQ(ssbroker_id("WJMW"), -1);
  uint64_t mark = log_count();
  EXPECT_EQ(ssbroker_add("TEMP"), nullptr);
  EXPECT_TRUE(logged_since(mark, "can't add broker TEMP"));
  ssbroker_fini();  // a second fini is harmless

  ASSERT_EQ(ssbroker_init(), 0);
  EXPECT_EQ(ssbroker_find("TEMP"), nullptr);
  EXPECT_EQ(ssbroker_id("WJMW"), 17);
  // init on a running table starts it afresh.
  ASSERT_NE(ssbroker_add("TEMP"), nullptr);
  ASSERT_EQ(ssbroker_init(), 0);
  EXPECT_EQ(ssbroker_find("TEMP"), nullptr);
  EXPECT_EQ(ssbroker_id("AACA"), 0);
}

}  // namespace
