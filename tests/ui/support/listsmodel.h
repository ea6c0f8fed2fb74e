// Test support for the market lists: a model with the terminal's four
// exchanges, the configuration text model, the timer table and the scans
// started around each test, a clock seam for the refresh queue, and helpers
// that make current stocks, indices and issuers by hand.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "config/config.h"
#include "lib/scan.h"
#include "lib/timer.h"
#include "lib/wlist.h"
#include "plat.h"
#include "ssmodel.h"
#include "testlog.h"
#include "testmodel.h"

inline int64_t g_lists_now = 1000000;
inline int64_t lists_clock(void) { return g_lists_now; }

class ListsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    plat_set_test_clock(lists_clock);
    g_lists_now = 1000000;
    ASSERT_EQ(0, start_terminal_model());
    ASSERT_EQ(0, config_init());
    ASSERT_EQ(0, timer_init());
    ASSERT_EQ(0, scan_init());
  }
  void TearDown() override {
    scan_fini();
    timer_fini();
    config_shutdown();
    ssmodel_fini();
    plat_set_test_clock(nullptr);
  }

  static ss_issuer* issuer(int ex, const char* code, uint32_t sector = 0) {
    ss_issuer* is = ssmodel_get_issuer(ssmodel_exchange(ex), code);
    if (sector) ssmodel_set_sector(is, sector);
    return is;
  }
  // A current stock; its issuer code is `issuer_code` (default: the first
  // three letters of the code, as the model makes it).
  static ss_stock* stock(int ex, const char* code, const char* issuer_code = nullptr) {
    ss_stock* s = ssmodel_get_stock(ssmodel_exchange(ex), code);
    if (!s) return nullptr;
    if (issuer_code) ssmodel_set_issuer_code(s, issuer_code);
    ssmodel_stock_make_current(s);
    return s;
  }
  static ss_index* index(int ex, const char* code) {
    ss_index* x = ssmodel_add_index(ssmodel_exchange(ex), code);
    if (x) ssmodel_link_index_current(x);
    return x;
  }
  // The configuration writer's text so far, then a fresh writer.
  static std::string take_config_text() {
    int32_t len = 0;
    const char* data = config_out_buffer(&len);
    std::string text(data, (size_t)len);
    config_out_reset();
    return text;
  }
};
