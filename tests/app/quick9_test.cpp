// Quick slots: get and set, the first filled slot and the first stock, the
// save asked for, and a round trip through the configuration text
// (including a slot whose instrument is gone).
#include "quick9.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/autosave.h"
#include "config/config.h"
#include "lib/phash.h"
#include "ssmodel.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

class Quick9 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(start_terminal_model(), 0);
    ASSERT_EQ(config_init(), 0);
    ex = ssmodel_exchange(0);
    bhp = ssmodel_get_stock(ex, "BHP");
    rio = ssmodel_get_stock(ex, "RIO");
    xjo = ssmodel_get_index(ex, "XJO");
    quick9_clear();
  }
  void TearDown() override {
    quick9_clear();
    config_shutdown();
    ssmodel_fini();
  }
  ss_exchange *ex = nullptr;
  instr *bhp = nullptr, *rio = nullptr, *xjo = nullptr;
};

TEST_F(Quick9, SlotsFirstAndFirstStock) {
  EXPECT_EQ(quick9_first(), nullptr);
  EXPECT_EQ(quick9_first_of_kind(), nullptr);
  config_autosave_cancel();
  EXPECT_EQ(quick9_set(0, xjo), 0);
  EXPECT_TRUE(config_autosave_pending());
  EXPECT_LE(config_autosave_remaining(), kAutosaveDelays[2]) << "a save within 5 seconds was asked for";
  EXPECT_EQ(quick9_set(2, bhp), 0);
  EXPECT_EQ(quick9_set(9, rio), -1);
  EXPECT_EQ(quick9_set(-1, rio), -1);
  EXPECT_EQ(quick9_get(0), xjo);
  EXPECT_EQ(quick9_get(9), nullptr);
  EXPECT_EQ(quick9_first(), xjo);
  EXPECT_EQ(quick9_first_of_kind(), bhp) << "the index in slot 0 is skipped";
  quick9_set(0, nullptr);
  EXPECT_EQ(quick9_first(), bhp);
}

TEST_F(Quick9, RoundTripThroughTheConfiguration) {
  quick9_set(1, bhp);
  quick9_set(4, xjo);
  quick9_set(8, rio);
  config_out_reset();
  quick9_save();
  std::string text = config_out_buffer(nullptr);
  EXPECT_NE(text.find("quick9.instr 1 "), std::string::npos) << text;
  EXPECT_NE(text.find("quick9.instr 8 "), std::string::npos) << text;
  // RIO is gone by the time the text is read back.
  std::string edited = text;
  size_t at = edited.find("quick9.instr 8 ");
  ASSERT_NE(at, std::string::npos);
  size_t end = edited.find('\n', at);
  std::string rio_line = edited.substr(at, end - at);
  std::string word = rio_line.substr(strlen("quick9.instr 8 "));
  size_t code = word.find("RIO");
  ASSERT_NE(code, std::string::npos) << word;
  edited.replace(at + strlen("quick9.instr 8 ") + code, 3, "ZZZ");
  quick9_clear();
  ASSERT_EQ(config_load_buffer(edited.data(), int32_t(edited.size())), 0);
  LogCapture log;
  EXPECT_EQ(quick9_load(), 2);
  EXPECT_EQ(quick9_get(1), bhp);
  EXPECT_EQ(quick9_get(4), xjo);
  EXPECT_EQ(quick9_get(8), nullptr);
  EXPECT_TRUE(log.has("not adding")) << "the lost slot is reported";
  EXPECT_TRUE(log.has("to quick9"));
}

TEST(Phash, MadeAtStartFreedAtStop) {
  ASSERT_EQ(phash_init(), 0);
  EXPECT_EQ(phash_capacity(), 124);
  phash_fini();
  EXPECT_EQ(phash_capacity(), 0);
  phash_fini();  // again: nothing to free
}

}  // namespace
