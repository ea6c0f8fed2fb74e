// Test support for the screen's bars: the gui (without OS windows until a
// test opens one), the screens, and around each test a model with the
// terminal's four exchanges, the configuration text model and the scans,
// with helpers that make current stocks and indices and fill their prices.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "config/config.h"
#include "guitest.h"
#include "lib/scan.h"
#include "lib/tex.h"
#include "lib/wlist.h"
#include "screen/screen.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "testlog.h"
#include "testmodel.h"
#include "ui/gui.h"
#include "undo.h"

class BarsEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(guitest_start_window_manager());
    ASSERT_TRUE(guitest_start_gui("bars_test"));
    // The atlas's fonts, so that texts measure as they will draw.
    ASSERT_EQ(tex_init(), 0);
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(config_init(), 0);
    ASSERT_EQ(0, start_terminal_model());
    ASSERT_EQ(0, scan_init());
    ASSERT_EQ(0, undo_init());
    ASSERT_EQ(screen_init(), 0);
  }
  void TearDown() override {
    screen_shutdown();
    undo_fini();
    scan_fini();
    ssmodel_fini();
    config_shutdown();
    gui_shutdown();
    tex_fini();
  }
};

// The first screen selected, open and laid out (frames drawn until it is).
inline ::testing::AssertionResult bars_first_screen_up() {
  screen_select(0);
  if (!screen_is_open(0) && screen_open(0) != 0) return ::testing::AssertionFailure() << "can't open screen 0";
  if (!guitest_wait_for([] {
        gui_tick();
        return screens_up() && !screen_relayout_pending();
      }))
    return ::testing::AssertionFailure() << "screen 0 not laid out";
  return ::testing::AssertionSuccess();
}

inline ss_stock *bars_stock(const char *code, uint32_t close, uint32_t bid = 0, uint32_t offer = 0,
                            uint32_t last = 0, uint32_t trades = 0, int ex = 0) {
  ss_stock *s = ssmodel_get_stock(ssmodel_exchange(ex), code);
  if (!s) return nullptr;
  ssmodel_stock_make_current(s);
  s->close = close;
  s->bid = bid;
  s->offer = offer;
  s->last = last;
  s->trade_count = trades;
  return s;
}

inline ss_index *bars_index(const char *code, uint32_t base, uint32_t value, int ex = 0) {
  ss_index *x = ssmodel_find_index(ssmodel_exchange(ex), code);
  if (!x) x = ssmodel_add_index(ssmodel_exchange(ex), code);
  if (!x) return nullptr;
  ssmodel_link_index_current(x);
  x->base = base;
  x->value = value;
  return x;
}

// The configuration writer's text so far, then a fresh writer.
inline std::string bars_take_config_text() {
  int32_t len = 0;
  const char *data = config_out_buffer(&len);
  std::string text(data, size_t(len));
  config_out_reset();
  return text;
}
