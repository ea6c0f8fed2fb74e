// The forex list binds a scan of class 96 over all four exchanges with its
// order, direction and index filter, rebuilt only while shown.
#include "windows/forexlist.h"

#include <gtest/gtest.h>

#include "gridtest.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

using Forex = Grid;

TEST_F(Forex, ScanOfTheSettings) {
  auto *f = forexlist_cast(forexlist_new(root));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(forexlist_get_index_filter(f), 7u);
  EXPECT_EQ(forexlist_get_order(f), 1u);
  EXPECT_EQ(forexlist_get_reversed(f), 0u);
  forexlist_set_order(f, 3);
  EXPECT_EQ(watchlist_get_scan(f), nullptr) << "nothing is built while hidden";
  f->r = {0, 0, 500, 200};
  widget_show(f);
  scan *s = watchlist_get_scan(f);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->instr_filter, 96u);
  EXPECT_EQ(s->order, 3u);
  EXPECT_EQ(s->limit, (uint32_t)(f->visible + 5)) << "the grid ties the limit to its view";
  for (int i = 0; i < 4; i++) EXPECT_EQ(s->exchanges[i], 1) << i;
  forexlist_set_reversed(f, 1);
  EXPECT_NE(watchlist_get_scan(f), s) << "a new scan for the new setting";
  EXPECT_EQ(watchlist_get_scan(f)->reversed, 1);
  widget_hide(f);
}

}  // namespace
