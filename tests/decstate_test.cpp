// State-change lists written by the simulator's list writer (steps along the
// current stocks, codes elsewhere) and framed as a block: the stocks named
// take the state and no others; an unknown code and a step past the end of
// the list are refused before any state changes; a block cut short waits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decstate.h"
#include "encblk.h"
#include "encode.h"
#include "sim_lists.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "testclient.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

const std::vector<std::string> kAlpha = {"AAA", "BBB", "CCC", "DDD", "EEE", "FFF"};

class States : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, ssclient_init(0, 12, 0x112));
    ex = ssmodel_exchange(0);
    for (const std::string& c : kAlpha) ssmodel_stock_make_current(ssmodel_get_stock(ex, c.c_str()));
    ssmodel_get_stock(ex, "XXX");  // known, not current
    growbuf_init(&payload, 256, 256);
    growbuf_init(&block, 256, 256);
  }
  void TearDown() override {
    growbuf_free(&payload);
    growbuf_free(&block);
    ssclient_fini();
  }
  void frame() {
    growbuf_reset(&block);
    ASSERT_EQ(0, encblk_write(&block, payload.data, payload.len));
  }
  std::vector<uint32_t> states() {
    std::vector<uint32_t> out;
    for (const std::string& c : kAlpha) out.push_back(ssmodel_find_stock(ex, c.c_str())->state);
    return out;
  }
  ss_exchange* ex;
  growbuf payload{}, block{};
};

TEST_F(States, TheStocksNamedTakeTheState) {
  ASSERT_EQ(0, sim_list_states(&payload, kAlpha, {"BBB", "CCC", "EEE", "AAA", "XXX"}));
  frame();
  for (int32_t n = 0; n < block.len; n++) EXPECT_EQ(0, decstate_decode(ex, 0, 7, block.data, n)) << n;
  EXPECT_EQ(block.len, decstate_decode(ex, 0, 7, block.data, block.len));
  EXPECT_EQ((std::vector<uint32_t>{7, 7, 7, 0, 7, 0}), states());
  EXPECT_EQ(7u, ssmodel_find_stock(ex, "XXX")->state);
}

TEST_F(States, BadListsChangeNothing) {
  struct Case {
    const char* name;
    std::vector<uint32_t> steps;  // 0 is followed by the code below
    const char* code;
    const char* error;
  } cases[] = {
      {"unknown code", {0, 1}, "ZZZ", "can't find ASX:ZZZ"},
      {"past the end", {0, 3}, "DDD", "need 1 more ASX stocks!"},
      {"a step first", {2}, "", "need 2 more ASX stocks!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    growbuf_reset(&payload);
    uint8_t b[16];
    for (uint32_t k : c.steps) {
      growbuf_append(&payload, b, uint32_t(encode_vint(b, k)));
      if (k == 0) growbuf_append(&payload, b, uint32_t(encode_code(b, c.code)));
    }
    frame();
    LogCapture log;
    EXPECT_EQ(-1, decstate_decode(ex, 0, 9, block.data, block.len));
    EXPECT_TRUE(log.has(c.error));
    EXPECT_EQ((std::vector<uint32_t>(6, 0)), states());
  }
}

}  // namespace
