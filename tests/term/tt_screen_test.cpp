// The screen model and the escape interpreter, driven through a local
// display's byte path: bytes in, grid, cursor and attributes out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log.h"
#include "term/tt_esc.h"
#include "termtest.h"

namespace {

struct Screen : ::testing::Test {
  void TearDown() override { tt_shutdown(); }
};

struct grid_case {
  const char *name;
  int cols, rows;
  std::string in;
  std::vector<std::string> grid;
  int col, row;  // cursor afterwards
};

TEST_F(Screen, BytesMakeTheGrid) {
  const grid_case cases[] = {
      // Writing a full row leaves the cursor waiting in column `cols`.
      {"pending wrap", 4, 3, "abcd", {"abcd", "....", "...."}, 4, 0},
      {"wrap on next char", 4, 3, "abcde", {"abcd", "e...", "...."}, 1, 1},
      {"lf on bottom scrolls", 3, 2, "ab\r\ncd\r\nef", {"cd.", "ef."}, 2, 1},
      {"wrap on bottom scrolls", 2, 2, "abcdef", {"cd", "ef"}, 2, 1},
      {"lf keeps the column", 4, 3, "ab\ncd", {"ab..", "..cd", "...."}, 4, 1},
      {"lf ends a pending wrap", 4, 3, "abcd\nx", {"abcd", "...x", "...."}, 4, 1},
      {"vt and ff feed lines, so and si do nothing", 4, 3, "a\013b\014c\016\017d", {"a...", ".b..", "..cd"}, 4, 2},
      {"other control bytes are drawn", 4, 1, "\001\032", {"\001\032.."}, 2, 0},
      {"bs and overwrite", 4, 1, "abc\bX", {"abX."}, 3, 0},
      {"bs in column 0 stays", 4, 1, "\ba", {"a..."}, 1, 0},
      {"tab to stop 8", 12, 1, "a\tb", {"a.......b..."}, 9, 0},
      {"tab from a stop moves on", 20, 1, "\t\tx", {"................x..."}, 17, 0},
      {"tab without stop: last col", 6, 1, "\tz", {".....z"}, 6, 0},
      {"del deletes left", 5, 1, "abcd\x7f", {"abc.."}, 3, 0},
      {"del at column 0 nothing", 5, 1, "ab\r\x7f", {"ab..."}, 0, 0},
      {"cup", 5, 3, "\033[2;3Hx", {".....", "..x..", "....."}, 3, 1},
      {"cup one param", 5, 6, "\033[5Hx", {".....", ".....", ".....", ".....", "x....", "....."}, 1, 4},
      {"cup clamped", 3, 2, "\033[9;9Hx", {"...", "..x"}, 3, 1},
      {"cha", 5, 1, "abc\033[Gx\033[1Gy", {"ybc.."}, 1, 0},
      {"cuu clamps at top", 3, 3, "\033[3;1H\033[9Ax", {"x..", "...", "..."}, 1, 0},
      {"cuf refuses empty cells", 5, 1, "\033[2Cx", {"x...."}, 1, 0},
      {"cuf over text", 5, 1, "abc\r\033[2Cx", {"abx.."}, 3, 0},
      {"ed 0 at home clears all", 3, 2, "abcdef\033[H\033[J", {"...", "..."}, 0, 0},
      {"ed 0 from cursor", 3, 2, "abcdef\033[1;2H\033[J", {"a..", "..."}, 1, 0},
      // ED 1 empties the cells before the cursor's (not its own) and homes;
      // on the top-left cell it does nothing.
      {"ed 1 before cursor, homes", 3, 2, "abcdef\033[2;2H\033[1J", {"...", ".ef"}, 0, 0},
      {"ed 1 at top-left does nothing", 3, 2, "abcdef\033[H\033[1J", {"abc", "def"}, 0, 0},
      {"ed 1 on the second cell", 3, 2, "abcdef\033[1;2H\033[1J", {".bc", "def"}, 0, 0},
      {"ed 1 on a pending wrap", 3, 2, "abcdef\033[1J", {"...", "..f"}, 0, 0},
      {"ed 2", 3, 2, "abcdef\033[2J", {"...", "..."}, 0, 0},
      {"el 0 in last column", 3, 1, "abc\033[1;3H\033[K", {"ab."}, 2, 0},
      {"el 0 after wrap pending", 3, 1, "abc\033[K", {"ab."}, 3, 0},
      {"el 1 in column 0", 3, 1, "abc\r\033[1K", {".bc"}, 0, 0},
      {"el 2 goes to column 0", 3, 1, "abc\033[2K", {"..."}, 0, 0},
      {"ech", 5, 1, "abcde\033[1;2H\033[3;5X", {"a...e"}, 1, 0},
      {"ech across rows stops at end", 2, 2, "abcd\033[1;2H\033[9X", {"a.", ".."}, 1, 0},
      {"ich to row end", 5, 1, "abcde\033[1;2H\033[2@", {"a  bc"}, 1, 0},
      {"dch", 5, 1, "abcde\033[1;2H\033[2P", {"ade.."}, 1, 0},
      {"dch on last cell", 3, 1, "abc\033[1;3H\033[P", {"ab."}, 2, 0},
      {"il whole rows", 2, 3, "aabbcc\033[2;2H\033[L", {"aa", "..", "bb"}, 1, 1},
      {"dl whole rows", 2, 3, "aabbcc\033[1;2H\033[M", {"bb", "cc", ".."}, 1, 0},
      {"il within region", 1, 4, "a\r\nb\r\nc\r\nd\033[1;3r\033[1;1H\033[L", {".", "a", "b", "d"}, 0, 0},
      {"decstbm keeps the cursor", 2, 4, "\033[3;2H\033[2;3rx", {"..", "..", ".x", ".."}, 2, 2},
      {"lf at region bottom scrolls region", 1, 4, "a\r\nb\r\nc\r\nd\033[2;3r\033[3;1H\n",
       {"a", "c", ".", "d"}, 0, 2},
      {"lf above region bottom moves", 1, 4, "a\r\nb\r\nc\r\nd\033[2;3r\033[2;1H\n",
       {"a", "b", "c", "d"}, 0, 2},
      {"cud scrolls past the bottom", 1, 4, "a\r\nb\r\nc\r\nd\033[1;1H\033[5B", {"c", "d", ".", "."}, 0, 3},
      {"cud from below the region", 1, 4, "a\r\nb\r\nc\r\nd\033[1;2r\033[4;1H\033[B", {"b", ".", "c", "d"}, 0, 1},
      {"ind always scrolls", 1, 3, "a\r\nb\r\nc\033[1;1H\033D", {"b", "c", "."}, 0, 0},
      {"ri always scrolls", 1, 3, "a\r\nb\r\nc\033[3;1H\033M", {".", "a", "b"}, 0, 2},
      {"nel on last row scrolls", 2, 2, "a\r\nb\033Ex", {"b.", "x."}, 1, 1},
      {"insert mode", 4, 1, "abc\r\033[4hx", {"xabc"}, 1, 0},
      {"save and restore cursor", 4, 2, "\033[2;3H\0337\033[H\0338x", {"....", "..x."}, 3, 1},
      {"c0 inside csi is drawn", 4, 1, "\033[1\001", {"\001..."}, 1, 0},
      {"c0 after separator is dropped", 4, 1, "\033[1;\001a", {"a..."}, 1, 0},
      {"bs inside csi", 4, 1, "ab\033[\bx", {"ax.."}, 2, 0},
      {"esc inside csi restarts", 4, 1, "\033[12\033[2Gx", {".x.."}, 2, 0},
      {"osc ended by bel", 4, 1, "\033]0;title\007x", {"x..."}, 1, 0},
      {"osc ended by st", 4, 1, "\033]0;title\033\\x", {"x..."}, 1, 0},
      {"unfinished sequence dropped", 4, 1, "ab\033[1", {"ab.."}, 2, 0},
      {"marker then nothing", 4, 1, "a\033[?", {"a..."}, 1, 0},
      {"marker r is restore", 4, 2, "\033[2;2H\033[?r", {"....", "...."}, 1, 1},
      {"private marker skipped", 4, 1, "\033[?25lx", {"x..."}, 1, 0},
      {"huge il is bounded", 2, 2, "ab\033[1;1H\033[999999999L", {"..", ".."}, 0, 0},
      {"huge count saturates", 3, 1, "\033[99999999999999999999Gx", {"..x"}, 3, 0},
      {"one by one grid", 1, 1, "abc\r\n\033[5;5H\033[Lx\033[@y", {"y"}, 1, 0},
  };
  for (const auto &c : cases) {
    int i = term_open(c.cols, c.rows);
    term_feed(i, c.in);
    EXPECT_EQ(term_rows(i), c.grid) << c.name;
    const tt_session *s = tt_screen_of(i);
    EXPECT_EQ(s->cursor_col, c.col) << c.name;
    EXPECT_EQ(s->cursor_row, c.row) << c.name;
    tt_close(i);
  }
}

// A count of 2 or more acts as that many single steps: the grid, the
// attributes of every cell (the emptied ones included) and the cursor come
// out the same as after the steps one by one.
TEST_F(Screen, CountsActAsSingleSteps) {
  struct {
    const char *name;
    std::string setup, many, one;
    int times;
  } cases[] = {
      {"SU", "", "\033[2S", "\033[S", 2},
      {"SU past the region", "", "\033[9S", "\033[S", 9},
      {"SU in a region", "\033[2;4r", "\033[2S", "\033[S", 2},
      {"SD", "", "\033[2T", "\033[T", 2},
      {"SD in a region", "\033[2;4r", "\033[3T", "\033[T", 3},
      {"IL", "\033[2;1H", "\033[2L", "\033[L", 2},
      {"IL in a region", "\033[1;4r\033[2;1H", "\033[2L", "\033[L", 2},
      {"DL", "\033[2;1H", "\033[3M", "\033[M", 3},
      {"DL in a region", "\033[2;4r\033[2;1H", "\033[2M", "\033[M", 2},
      {"DCH", "\033[2;2H", "\033[2P", "\033[P", 2},
      {"DCH past the row", "\033[2;2H", "\033[9P", "\033[P", 9},
      {"CUD scrolling", "\033[4;1H", "\033[3B", "\033[B", 3},
      {"CNL scrolling", "\033[5;3H", "\033[2E", "\033[E", 2},
      {"CUD scrolling in a region", "\033[2;3r\033[3;2H", "\033[2B", "\033[B", 2},
  };
  const int cols = 4, rows = 5;
  // Every cell written with its own colours: foreground by row, background
  // by column, bold on odd rows.
  std::string paint;
  for (int r = 0; r < rows; r++)
    for (int c = 0; c < cols; c++)
      paint += "\033[" + std::to_string(r + 1) + ";" + std::to_string(c + 1) + "H\033[0;3" +
               std::to_string(r % 7 + 1) + ";4" + std::to_string(c) + (r % 2 ? ";1m" : "m") + (char)('a' + r * cols + c);
  paint += "\033[0m";
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    int many = term_open(cols, rows), one = term_open(cols, rows);
    term_feed(many, paint + c.setup + c.many);
    std::string steps = paint + c.setup;
    for (int k = 0; k < c.times; k++) steps += c.one;
    term_feed(one, steps);
    const tt_session *a = tt_screen_of(many), *b = tt_screen_of(one);
    EXPECT_EQ(term_rows(one), term_rows(many));
    for (int r = 0; r < rows; r++)
      for (int col = 0; col < cols; col++)
        for (int w = 0; w < kTtAttrWords; w++)
          EXPECT_EQ(term_attr(one, col, r)[w], term_attr(many, col, r)[w]) << "cell " << col << "," << r << " word " << w;
    EXPECT_EQ(b->cursor_col, a->cursor_col);
    EXPECT_EQ(b->cursor_row, a->cursor_row);
    tt_close(many);
    tt_close(one);
  }
  // Known answers: SU 2 on three rows of foregrounds 1, 2, 3 leaves the two
  // emptied rows with the old bottom row's 3; DCH 2 leaves the emptied cells
  // with the old last cell's background.
  int i = term_open(1, 3);
  term_feed(i, "\033[31ma\r\n\033[32mb\r\n\033[33mc\033[0m\033[2S");
  EXPECT_EQ(term_rows(i), (std::vector<std::string>{"c", ".", "."}));
  for (int r = 0; r < 3; r++) EXPECT_EQ(3u, term_attr(i, 0, r)[TT_FG]) << r;
  tt_close(i);
  i = term_open(4, 1);
  term_feed(i, "\033[41ma\033[42mb\033[43mc\033[44md\033[0m\033[1;2H\033[2P");
  EXPECT_EQ(term_rows(i), (std::vector<std::string>{"ad.."}));
  EXPECT_EQ(4u, term_attr(i, 1, 0)[TT_BG]);  // d moved left with its colour
  EXPECT_EQ(4u, term_attr(i, 2, 0)[TT_BG]);
  EXPECT_EQ(4u, term_attr(i, 3, 0)[TT_BG]);
  tt_close(i);
}

TEST_F(Screen, InterpreterBytesUsed) {
  struct {
    std::string bytes;
    int used;
  } cases[] = {
      {"", 0},           {"[", 0},         {"[1;", 0},        {"[1;31m", 6},     {"[?", 0},
      {"[?2", 0},        {"[?25l", 5},     {"[?r", 3},        {"[?rX", 3},       {"(", 0},
      {"(0", 2},         {"#8", 2},        {"7", 1},          {"]0;t\007", 5},   {"]0;t", 0},
      {"]0;t\033", 0},   {"]0;t\033\\", 6}, {"[1\033[2C", 6},  {"[1\033[", 0},    {"\x01", 1},
      {"~", 1},          {"[12345678901234567890", 0},         {"[5\001", 3},
  };
  for (const auto &c : cases) {
    int i = term_open(10, 3);
    tt_set_quiet(1);
    EXPECT_EQ(tt_interpret(term_session(i), (const uint8_t *)c.bytes.data(), (int)c.bytes.size()),
              c.used)
        << c.bytes;
    tt_set_quiet(0);
    tt_close(i);
  }
  // An unended operating-system command is dropped once it passes its limit.
  std::string big = "]" + std::string(kTtOscMax + 10, 'a');
  int i = term_open(10, 3);
  EXPECT_EQ(tt_interpret(term_session(i), (const uint8_t *)big.data(), (int)big.size()),
            kTtOscMax + 1);
}

TEST_F(Screen, AttributesAndModes) {
  struct {
    std::string in;
    uint32_t attr[kTtAttrWords];
  } cases[] = {
      {"\033[1;31mx", {1, 0, 0, 0, 0, 1, 0}},
      {"\033[1;31m\033[mx", {0, 0, 0, 0, 0, 7, 0}},
      {"\033[4;5;7;42mx", {0, 1, 1, 1, 0, 7, 2}},
      {"\033[4;5;7;42m\033[24;25;27;49mx", {0, 0, 0, 0, 0, 7, 0}},
      {"\033[1;33m\033[22;39mx", {0, 0, 0, 0, 0, 7, 0}},
      {"\033[37;40;99;36mx", {0, 0, 0, 0, 0, 6, 0}},
  };
  for (const auto &c : cases) {
    int i = term_open(4, 1);
    term_feed(i, c.in);
    std::vector<uint32_t> got(term_attr(i, 0, 0), term_attr(i, 0, 0) + kTtAttrWords);
    EXPECT_EQ(got, std::vector<uint32_t>(c.attr, c.attr + kTtAttrWords)) << c.in;
    tt_close(i);
  }
  struct {
    std::string in;
    uint32_t modes;
  } modes[] = {
      {"", 64},
      {"\033[?25l", 0},
      {"\033[?25l\033[?25r", 64},  // the cursor bit is saved from the reset on
      {"\033[?1h", 66},
      {"\033[?1;5;6;7;35;66h", 64 | 2 | 8 | 256 | 32 | 128 | 16},
      {"\033[?1s\033[?1t", 64},
      {"\033[?25t", 0},
      {"\033[4h", 65},
      {"\033[4h\033[4l", 64},
      {"\033[>25l", 64},
      {"\033=", 80},
      {"\033=\033>", 64},
  };
  for (const auto &m : modes) {
    int i = term_open(4, 1);
    term_feed(i, m.in);
    EXPECT_EQ(tt_screen_of(i)->modes, m.modes) << m.in;
    tt_close(i);
  }
}

// Messages of the model are logged unless the quiet flag is set.
TEST_F(Screen, ClampMessagesOnlyWhileLoud) {
  log_init();
  log_set_memory(1);
  log_set_stderr(0);
  auto newest = []() -> std::string {
    void *cur = nullptr;
    time_t when;
    int level;
    const char *text = nullptr;
    return log_walk_newer(&when, &level, &text, &cur) ? text : "";
  };
  int i = term_open(80, 24);
  tt_session *s = term_session(i);
  uint64_t before = log_count();
  tt_set_quiet(1);
  tt_move_to(s, -1, 0);
  EXPECT_EQ(log_count(), before);
  tt_set_quiet(0);
  tt_move_to(s, -3, 2);
  EXPECT_NE(newest().find("bad move -3,2 in 80x24 screen, using 0,2"), std::string::npos);
  tt_set_region(s, 10, 2);
  EXPECT_EQ(s->scroll_top, 2);
  EXPECT_EQ(s->scroll_bottom, 10);
  EXPECT_NE(newest().find("bad move -3,2"), std::string::npos);  // no message for the swap
  const uint8_t seq[] = "[99m";
  tt_interpret(s, seq, 4);
  EXPECT_NE(newest().find("unhandled attr 99"), std::string::npos);
  // Row `rows` scrolls once without a message.
  tt_move_to(s, 0, 24);
  EXPECT_EQ(s->cursor_row, 23);
  EXPECT_NE(newest().find("unhandled attr 99"), std::string::npos);
  log_fini();
}

// A local display never answers itself: requests for replies leave the send
// buffer empty and the screen untouched.
TEST_F(Screen, LocalDisplayRepliesNothing) {
  int i = term_open(10, 2);
  term_feed(i, "\033Z\033G\033[c\033[5n");
  EXPECT_EQ(tt_screen_of(i)->send_count, 0u);
  EXPECT_EQ(term_rows(i), (std::vector<std::string>{"..........", ".........."}));
}

// Counts that would loop for ever are clamped to the grid.
TEST_F(Screen, HostileCountsFinishQuickly) {
  std::string in;
  for (int k = 0; k < 200; k++) in += "\033[999999999L\033[999999999M\033[999999999@\033[999999999B\033[99999999S";
  int i = term_open(80, 24);
  term_feed(i, "abc" + in + "x");
  // Unclamped, each of these would take 10^9 steps and the test its timeout.
  const tt_session *s = tt_screen_of(i);
  EXPECT_EQ(s->chars[s->cursor_row * 80 + s->cursor_col - 1], 'x');
  EXPECT_EQ(s->cursor_row, 23);
}

}  // namespace
