// The quote bar: the window hands it every subject; a stock or an index
// gets the one row, anything else clears it, and an index hides the
// stock-only columns.
#include "windows/quotebar.h"

#include <gtest/gtest.h>

#include "gridtest.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

using QuoteBar = Grid;

TEST_F(QuoteBar, ShowsTheSubjectItIsGiven) {
  auto *q = quotebar_cast(quotebar_new(root));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->mode, 1);
  q->r = {0, 0, 800, 20};
  widget_show(q);
  ss_stock *bhp = stock("BHP");
  ss_index *xjo = ssmodel_get_index(ex0, "XJO");
  ss_issuer *is = ssmodel_get_issuer(ex0, "BHP");
  content_set_instr(q, bhp);
  ASSERT_EQ(watchlist_row_count(q), 1);
  EXPECT_EQ(q->rows->in, bhp);
  EXPECT_TRUE(q->columns.shown >> 6 & 1) << "a stock shows its bid";
  content_set_instr(q, xjo);
  ASSERT_EQ(watchlist_row_count(q), 1);
  EXPECT_EQ(q->rows->in, xjo);
  EXPECT_FALSE(q->columns.shown >> 6 & 1) << "an index hides the bid";
  EXPECT_FALSE(q->columns.shown >> 13 & 1) << "and the volume";
  content_set_instr(q, is);
  EXPECT_EQ(watchlist_row_count(q), 0);
  EXPECT_EQ(q->shown, nullptr);
  quotebar_set_stock(q, bhp);
  quotebar_set_index(q, bhp);
  EXPECT_EQ(watchlist_row_count(q), 0) << "a stock given as an index shows nothing";
  widget_hide(q);
}

}  // namespace
