// Shared fixture of the grid's and the list windows' tests: the built-in
// atlas, drawing lists, fades and style 0; per test the model with its four
// exchanges, the configuration, timers, scans and the clipboard buffer, a
// test clock, redraw requests dropped, and a shown root box to put grids in.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config.h"
#include "export/clipboard.h"
#include "lib/fade.h"
#include "lib/gmap.h"
#include "lib/scan.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "lib/wlist.h"
#include "plat.h"
#include "ssmodel.h"
#include "style.h"
#include "testmodel.h"
#include "undo.h"
#include "action.h"
#include "ssuser.h"
#include "uitest.h"
#include "ui/box.h"
#include "windows/watchlist.h"

inline int64_t g_grid_now = 1000000;
inline int64_t grid_test_clock() { return g_grid_now; }
inline int grid_drop_request(widget *, const rect *, widget_update_fn, int) { return 0; }

class Grid : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_EQ(tex_init(), 0);
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
    ASSERT_EQ(fade_init(), 0);
    ASSERT_EQ(style_init(), 0);
    ASSERT_EQ(style_select(0), 0);
    style_set_size(1);
  }
  static void TearDownTestSuite() {
    style_fini();
    fade_fini();
    gmap_fini();
    tex_fini();
  }

 protected:
  hbox *root = nullptr;
  widget_queue_fn old_queue = nullptr;
  ss_exchange *ex0 = nullptr;

  void SetUp() override {
    plat_set_test_clock(grid_test_clock);
    ASSERT_EQ(start_terminal_model(), 0);
    ASSERT_EQ(config_init(), 0);
    ASSERT_EQ(timer_init(), 0);
    ASSERT_EQ(scan_init(), 0);
    ASSERT_EQ(clipboard_init(), 0);
    ASSERT_EQ(undo_init(), 0);
    ex0 = ssmodel_exchange(0);
    old_queue = widget_set_queue(grid_drop_request);
    root = vbox_new(nullptr, 0, 0);  // hidden: children show when a test shows them
    ssuser_set(1, 0, 0x7);  // every exchange may be seen unless a test says otherwise
    action_set_default_exchange(0);
  }
  void TearDown() override {
    widget_delete(root);
    widget_set_queue(old_queue);
    ssuser_set(1, 0, 0);
    undo_fini();
    clipboard_shutdown();
    scan_fini();
    timer_fini();
    config_shutdown();
    ssmodel_fini();
    plat_set_test_clock(nullptr);
  }

  ss_stock *stock(const char *code, int ex = 0) {
    ss_stock *s = ssmodel_get_stock(ssmodel_exchange(ex), code);
    ssmodel_stock_make_current(s);
    return s;
  }
  watchlist *grid(int mode, int rows = 10, bool orphan = false) {
    watchlist *w = watchlist_new(orphan ? nullptr : root, mode);
    w->r = {0, 0, 900, rows * 16};
    widget_show(w);
    w->cls->geometry_changed(w);
    return w;
  }
  static std::vector<std::string> codes(const watchlist *w) {
    std::vector<std::string> out;
    for (watchlist_row *r = w->rows; r; r = r->next) out.push_back(r->in->code);
    return out;
  }
  static std::vector<std::string> codes(wlist *wl) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < wlist_count(wl); i++) out.push_back(wlist_item_at(wl, i)->code);
    return out;
  }
};

