// The deck: one page shown at a time, the largest or the current page's
// request, page indices checked, and removal of the current page.
#include "ui/deck.h"

#include <gtest/gtest.h>

#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class Deck : public WidgetTest {
 protected:
  deck *d = nullptr;
  probe *p[3] = {};
  void SetUp() override {
    WidgetTest::SetUp();
    d = deck_new(nullptr);
    widget_show(d);
    p[0] = probe_new(d, "a", 10, 80);
    p[1] = probe_new(d, "b", 50, 20);
    p[2] = probe_new(d, "c", 30, 30);
  }
  void TearDown() override {
    widget_delete(d);
    WidgetTest::TearDown();
  }
};

TEST_F(Deck, FirstPageCurrentOthersHidden) {
  EXPECT_EQ(deck_current_page(d), 0);
  EXPECT_TRUE(widget_is_shown(p[0]));
  EXPECT_TRUE(widget_is_hidden(p[1]));
  EXPECT_TRUE(widget_is_hidden(p[2]));
}

TEST_F(Deck, RequestsLargestOrCurrentPage) {
  size s;
  d->cls->reqsize(d, &s);
  EXPECT_EQ(s.w, 50);
  EXPECT_EQ(s.h, 80);
  d->fit_current = 1;
  ASSERT_EQ(deck_show_page(d, 2), 0);
  d->cls->reqsize(d, &s);
  EXPECT_EQ(s.w, 30);
  EXPECT_EQ(s.h, 30);
}

TEST_F(Deck, ShowPageSwapsAndChecksRange) {
  const int bad[] = {-1, 3, 100};
  for (int i : bad) EXPECT_EQ(deck_show_page(d, i), -1) << i;
  EXPECT_EQ(deck_current_page(d), 0);
  ASSERT_EQ(deck_show_page(d, 1), 0);
  EXPECT_EQ(deck_current_page(d), 1);
  EXPECT_TRUE(widget_is_hidden(p[0]));
  EXPECT_TRUE(widget_is_shown(p[1]));
  // Hiding the deck and showing it again shows only the current page.
  widget_hide(d);
  widget_show(d);
  EXPECT_TRUE(widget_is_shown(p[1]));
  EXPECT_FALSE(widget_is_shown(p[0]));
  EXPECT_FALSE(widget_is_shown(p[2]));
}

TEST_F(Deck, RemovingPages) {
  ASSERT_EQ(deck_show_page(d, 2), 0);
  widget_delete(container_cls(d)->remove(d, p[0]));  // before the current: index follows
  EXPECT_EQ(deck_current_page(d), 1);
  widget_delete(container_cls(d)->remove(d, p[2]));  // the current one: none
  EXPECT_EQ(deck_current_page(d), -1);
}

}  // namespace
