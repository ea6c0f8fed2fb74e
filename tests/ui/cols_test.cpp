// Column layout: fitting tables of width codes and fallback sets to widths,
// with an em of 10 pixels and a digit of 6.
#include "lib/cols.h"

#include <gtest/gtest.h>

#include <string>

#include <algorithm>
#include <vector>

#include "lib/font.h"
#include "uitest.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

constexpr int32_t kEm = 10, kDigit = 6;

struct Want {
  int32_t x0, width;  // width 0: not shown
};

struct FitCase {
  const char *name;
  std::vector<int32_t> codes;  // without the closing 0
  std::vector<uint64_t> masks; // without the closing 0
  uint64_t hidden;
  int32_t x, width;
  uint64_t shown;
  std::vector<Want> want;
};

TEST(Cols, Fit) {
  const uint64_t N = kColsNarrow;
  const FitCase cases[] = {
      // Naturals 19, 13, 21, 7: 5 spare pixels over two stretch columns,
      // the odd one to the leftmost.
      {"spare to stretch columns", {3, kColsStretch + 2, -20, kColsStretch + 1}, {0xF}, 0, 10, 65, 0xF,
       {{10, 19}, {29, 16}, {45, 21}, {66, 9}}},
      {"exact fit", {3, kColsStretch + 2, -20, kColsStretch + 1}, {0xF}, 0, 0, 60, 0xF,
       {{0, 19}, {19, 13}, {32, 21}, {53, 7}}},
      // No stretch column: the scalable (digit and em) columns share it.
      {"spare to scalable columns", {2, -9, kColsEm + 2}, {0x7}, 0, 0, 50, 0x7, {{0, 16}, {16, 10}, {26, 24}}},
      {"pixel columns take nothing", {-9, -4}, {0x3}, 0, 0, 40, 0x3, {{0, 10}, {10, 5}}},
      // {0x3, narrow 0x1}: too narrow for both shows column 1 only.
      {"preferred set fits", {5, 4}, {0x3, N | 0x1}, 0, 0, 56, 0x3, {{0, 31}, {31, 25}}},
      {"narrowed set", {5, 4}, {0x3, N | 0x1}, 0, 0, 55, 0x2, {{0, 0}, {0, 55}}},
      {"last set kept when nothing fits", {5, 4}, {0x3, N | 0x1}, 0, 0, 20, 0x2, {{0, 0}, {0, 20}}},
      {"replacing entry", {5, 4, 1}, {0x7, 0x4}, 0, 3, 30, 0x4, {{3, 0}, {3, 0}, {3, 30}}},
      {"hidden column never shown", {5, 4}, {0x3}, 0x1, 0, 100, 0x2, {{0, 0}, {0, 100}}},
      {"hidden column leaves room", {5, 4, 3}, {0x7, 0x1}, 0x2, 0, 50, 0x5, {{0, 31}, {31, 0}, {31, 19}}},
      // Overflow with only a fixed column beside a scalable one: the
      // scalable one would shrink below nothing; it stops at 0.
      {"overflow never below zero", {-30, 2}, {0x3}, 0, 0, 10, 0x3, {{0, 31}, {31, 0}}},
      {"overflow shrinks with remainder", {2, 2, -4}, {0x7}, 0, 0, 25, 0x7, {{0, 10}, {10, 10}, {20, 5}}},
      {"no masks shows nothing", {5, 4}, {}, 0, 7, 100, 0x0, {{7, 0}, {7, 0}}},
  };
  for (const FitCase &c : cases) {
    std::vector<int32_t> codes = c.codes;
    codes.push_back(0);
    std::vector<uint64_t> masks = c.masks;
    masks.push_back(0);
    cols t;
    ASSERT_EQ(cols_init(&t, codes.data(), masks.data()), 0);
    ASSERT_EQ(t.count, static_cast<int>(c.codes.size())) << c.name;
    cols_set_hidden(&t, c.hidden);
    EXPECT_EQ(cols_fit_metrics(&t, c.x, c.width, kEm, kDigit), 1);
    EXPECT_EQ(t.shown, c.shown) << c.name;
    for (size_t i = 0; i < c.want.size(); i++) {
      const cols_col &k = t.col[i];
      EXPECT_EQ(k.shown, static_cast<int>(c.shown >> i & 1)) << c.name << " column " << i;
      EXPECT_EQ(k.x0, c.want[i].x0) << c.name << " column " << i;
      EXPECT_EQ(k.width, c.want[i].width) << c.name << " column " << i;
      EXPECT_EQ(k.x1, k.shown ? k.x0 + k.width - 1 : k.x0) << c.name << " column " << i;
    }
    cols_fini(&t);
  }
}

TEST(Cols, WidthOfEachLevel) {
  const int32_t codes[] = {5, kColsEm + 1, -7, 0};  // naturals 31, 11, 8
  const uint64_t masks[] = {0x7, kColsNarrow | 0x4, 0x1, 0};
  cols t;
  cols_init(&t, codes, masks);
  const struct {
    int level;
    uint64_t hidden;
    int32_t want;
  } rows[] = {{0, 0, 50}, {1, 0, 42}, {2, 0, 31}, {9, 0, 31}, {0, 0x2, 39}, {1, 0x1, 11}};
  for (const auto &r : rows) {
    cols_set_hidden(&t, r.hidden);
    EXPECT_EQ(cols_width_metrics(&t, r.level, kEm, kDigit), r.want) << r.level << " hidden " << r.hidden;
  }
}

TEST(Cols, KindsOfCodes) {
  const int32_t codes[] = {kColsStretch + 3, kColsEm + 2, -12, 4, 0};
  const uint64_t masks[] = {0xF, 0};
  cols t;
  cols_init(&t, codes, masks);
  ASSERT_EQ(t.count, 4);
  EXPECT_EQ(t.col[0].digits, 3);
  EXPECT_TRUE(t.col[0].stretch && t.col[0].scalable);
  EXPECT_EQ(t.col[1].ems, 2);
  EXPECT_TRUE(!t.col[1].stretch && t.col[1].scalable);
  EXPECT_EQ(t.col[2].pixels, 12);
  EXPECT_FALSE(t.col[2].scalable);
  EXPECT_EQ(t.col[3].digits, 4);
  EXPECT_EQ(t.shown, 0u);
}

// With a real atlas font: a digit column is as wide as the wider of '0'
// and '4' (measured glyph by glyph), an em column as 'M'.
class ColsFont : public WidgetTest {};

TEST_F(ColsFont, WidthsFollowTheFont) {
  for (int32_t font : {0, 5, 12}) {
    const int32_t digit = std::max(font_glyph_width('0', font), font_glyph_width('4', font));
    const int32_t em = font_glyph_width('M', font);
    ASSERT_GT(digit, 0) << font;
    const int32_t codes[] = {3, kColsEm + 2, -5, 0};
    const uint64_t masks[] = {0x7, 0};
    cols t;
    cols_init(&t, codes, masks);
    const int32_t natural = 3 * digit + 1 + 2 * em + 1 + 5 + 1;
    EXPECT_EQ(cols_width(&t, 0, font), natural) << font;
    cols_fit(&t, 0, natural + 10, font);
    EXPECT_EQ(t.col[0].width + t.col[1].width + t.col[2].width, natural + 10) << font;
    EXPECT_EQ(t.col[2].width, 6) << "a pixel column takes no spare";
  }
}


// A cell's text never reaches past its column: text is cut from its end, a
// figure that does not fit becomes marks (never a shortened, wrong value).
TEST_F(ColsFont, CellTextKeepsToItsColumn) {
  const int32_t font = 5;
  int32_t sz[2];
  font_text_size(sz, font, "123,456");
  const int32_t full = sz[0];
  EXPECT_STREQ(cols_cell_text("123,456", font, full, true), "123,456") << "fits exactly";
  const std::string marks = cols_cell_text("123,456", font, full - 1, true);
  EXPECT_FALSE(marks.empty());
  EXPECT_EQ(marks.find_first_not_of('#'), std::string::npos) << marks;
  font_text_size(sz, font, marks.c_str());
  EXPECT_LE(sz[0], full - 1);
  EXPECT_GT(sz[0] + font_glyph_width('#', font), full - 1) << "as many marks as fit";
  const std::string cut = cols_cell_text("Mining Limited", 4, 40, false);
  font_text_size(sz, 4, cut.c_str());
  EXPECT_LE(sz[0], 40);
  EXPECT_EQ(std::string("Mining Limited").rfind(cut, 0), 0u) << "cut from its end: " << cut;
  EXPECT_GT(cut.size(), 2u);
  EXPECT_STREQ(cols_cell_text("wide", 4, 0, false), "");
  EXPECT_STREQ(cols_cell_text(nullptr, 4, 10, false), "");
}

}  // namespace
