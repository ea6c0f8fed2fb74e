// The session table, the byte path's back-end half, keys and resizing.
#include "term/tt_io.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/timer.h"
#include "term/terminal.h"
#include "termtest.h"
#include "ui/key.h"

namespace {

struct Sessions : ::testing::Test {
  void SetUp() override { timer_init(); }
  void TearDown() override {
    tt_set_realloc(nullptr);
    tt_shutdown();
    timer_fini();
  }
};

TEST_F(Sessions, TableGrowsByEightAndReusesHoles) {
  std::vector<int> idx;
  for (int k = 0; k < 9; k++) idx.push_back(term_open(4, 2));
  for (int k = 0; k < 9; k++) EXPECT_EQ(idx[k], k);
  EXPECT_EQ(tt_count(), 9);
  EXPECT_EQ(tt_capacity(), 16);
  tt_close(3);
  tt_close(5);
  EXPECT_EQ(tt_count(), 9);
  EXPECT_EQ(term_open(4, 2), 3);
  EXPECT_EQ(term_open(4, 2), 5);
  EXPECT_EQ(term_open(4, 2), 9);
  // Closing the last entries gives the count back.
  tt_close(9);
  tt_close(8);
  EXPECT_EQ(tt_count(), 8);
  // Entry points refuse bad indices.
  EXPECT_EQ(tt_screen_of(8), nullptr);
  EXPECT_EQ(tt_send(8, (const uint8_t *)"x", 1), -1);
  EXPECT_EQ(tt_resize(-1, 4, 4), -1);
  EXPECT_EQ(tt_send(99, (const uint8_t *)"x", 1), -1);
  tt_close(99);
}

TEST_F(Sessions, OnlyTheLocalDisplayOpens) {
  EXPECT_EQ(tt_poll_timer(), -1);
  for (int type : {0, 2, 7}) {
    EXPECT_EQ(tt_open(type, "vt100", nullptr, 80, 24, nullptr, nullptr, 0), -1);
    EXPECT_EQ(tt_count(), 0);
    EXPECT_EQ(tt_poll_timer(), -1);
    EXPECT_EQ(timer_used(), 0);
  }
  int i = term_open(80, 24);
  int timer = tt_poll_timer();
  EXPECT_GE(timer, 0);
  EXPECT_EQ(tt_screen_of(i)->cols, 80);
  EXPECT_EQ(tt_screen_of(i)->rows, 24);
  // Failed opens beside a live session change neither the count nor the timers.
  int used = timer_used();
  for (int retry = 0; retry < 3; retry++) EXPECT_EQ(tt_open(0, nullptr, nullptr, 8, 8, nullptr, nullptr, 0), -1);
  EXPECT_EQ(tt_count(), 1);
  EXPECT_EQ(tt_poll_timer(), timer);
  EXPECT_EQ(timer_used(), used);
  tt_close(i);
  EXPECT_EQ(tt_poll_timer(), -1);
}

void *failing_realloc(void *, size_t) { return nullptr; }

TEST_F(Sessions, FailedGrowthKeepsTheTable) {
  for (int k = 0; k < 8; k++) {
    int i = term_open(4, 1);
    term_feed(i, std::string(1, (char)('a' + k)));
  }
  tt_set_realloc(failing_realloc);
  EXPECT_EQ(tt_open(1, nullptr, nullptr, 4, 1, nullptr, nullptr, 0), -1);
  EXPECT_EQ(tt_count(), 8);
  EXPECT_EQ(tt_capacity(), 8);
  for (int k = 0; k < 8; k++) EXPECT_EQ(term_rows(k)[0][0], 'a' + k);
  tt_set_realloc(nullptr);
  EXPECT_EQ(term_open(4, 1), 8);
}

TEST_F(Sessions, ResizeKeepsTheNewestRows) {
  struct {
    const char *name;
    int cols, rows;
    std::vector<std::string> grid;
    int col, row;
  } cases[] = {
      {"shrink below used row keeps newest", 4, 3, {"l2..", "l3..", "l4.."}, 2, 2},
      {"narrower cuts rows", 1, 5, {"l", "l", "l", "l", "l"}, 0, 4},
      {"grow keeps rows in place", 5, 7, {"l0...", "l1...", "l2...", "l3...", "l4...", ".....", "....."}, 2, 4},
  };
  for (auto &c : cases) {
    int i = term_open(4, 5);
    term_feed(i, "l0\r\nl1\r\nl2\r\nl3\r\nl4");
    ASSERT_EQ(tt_resize(i, c.cols, c.rows), 0);
    EXPECT_EQ(term_rows(i), c.grid) << c.name;
    const tt_session *s = tt_screen_of(i);
    EXPECT_EQ(s->cursor_col, c.col) << c.name;
    EXPECT_EQ(s->cursor_row, c.row) << c.name;
    EXPECT_EQ(s->scroll_bottom, c.rows - 1) << c.name;
    EXPECT_LE(s->used_row, c.rows - 1) << c.name;
    tt_close(i);
  }
  // Few rows written: the top rows stay.
  int i = term_open(4, 5);
  term_feed(i, "ab\r\ncd");
  ASSERT_EQ(tt_resize(i, 4, 3), 0);
  EXPECT_EQ(term_rows(i), (std::vector<std::string>{"ab..", "cd..", "...."}));
  // Tab stops at every 8th column.
  ASSERT_EQ(tt_resize(i, 20, 3), 0);
  const tt_session *s = tt_screen_of(i);
  std::vector<int> stops;
  for (int c = 0; c < s->cols; c++)
    if (s->tabs[c]) stops.push_back(c);
  EXPECT_EQ(stops, (std::vector<int>{8, 16}));
}

TEST_F(Sessions, KeysAndTheSendBuffer) {
  struct {
    key_event key;
    uint32_t modes;
    std::string sent;
  } cases[] = {
      {{1003, 0, 0}, 64, "\033[3~"},  {{1007, 0, 0}, 64, "\033[H"},  {{1008, 0, 0}, 64, "\033[8~"},
      {{1009, 0, 0}, 64, "\033[U"},   {{1010, 0, 0}, 64, "\033[V"},  {{1011, 0, 0}, 64, "\033[A"},
      {{1011, 0, 0}, 66, "\033OA"},   {{1012, 0, 0}, 66, "\033OB"},  {{1013, 0, 0}, 64, "\033[D"},
      {{1014, 0, 0}, 66, "\033OC"},   {{1020, 0, 0}, 66, "\033[OP"}, {{1023, 0, 0}, 64, "\033[OS"},
      {{1002, 0, 0}, 64, std::string(1, (char)key_to_char(127, 0))},
      {{kKeyCharacter, 'A', 0}, 64, "a"},
      {{kKeyCharacter, 'A', KEY_MOD_SHIFT}, 64, "A"},
      {{kKeyCharacter, '1', KEY_MOD_SHIFT}, 64, "!"},
      {{kKeyCharacter, 'C', KEY_MOD_CONTROL}, 64, "\003"},
      {{1031, 0, 0}, 64, ""},
  };
  for (auto &c : cases) {
    int i = term_open(4, 1);
    tt_session *s = term_session(i);
    s->type2 = 0;  // a session with a back end: bytes are kept for it
    s->modes = c.modes;
    EXPECT_EQ(tt_send_key(i, &c.key), 0);
    EXPECT_EQ(std::string((const char *)s->send_buf, s->send_count), c.sent) << c.key.code;
    EXPECT_EQ(s->key_count, 0);
    tt_close(i);
  }
  int i = term_open(4, 1);
  tt_session *s = term_session(i);
  s->type2 = 2;  // keys are also queued as records
  key_event up = {1011, 0, 0};
  EXPECT_EQ(tt_send_key(i, &up), 0);
  EXPECT_EQ(s->key_count, 1);
  EXPECT_EQ(s->key_queue[0].code, 1011);
  std::vector<uint8_t> fill(kTtSendBuf - s->send_count, 'x');
  EXPECT_EQ(tt_send(i, fill.data(), (int)fill.size()), 0);
  EXPECT_EQ(tt_send(i, (const uint8_t *)"y", 1), -1);
  EXPECT_EQ(s->send_count, (uint32_t)kTtSendBuf);
}

std::vector<int> g_events;
void record(int index, int event, void *, intptr_t) { g_events.push_back(index * 10 + event); }

TEST_F(Sessions, BellAndNulCallTheCallback) {
  g_events.clear();
  int i = tt_open(1, nullptr, nullptr, 4, 1, record, nullptr, 0);
  ASSERT_EQ(i, 0);
  tt_send(i, (const uint8_t *)"a\007b\0c", 5);
  EXPECT_EQ(g_events, (std::vector<int>{1, 1}));
  EXPECT_EQ(term_rows(i)[0], "abc.");
}

// The selection's text: characters, blanks between them, one newline for an
// empty run to a row's end, nothing for empty cells at the end.
TEST(Selection, CellsToText) {
  // 6 x 3: "ab..c." / "......" / "d.e..."
  std::string grid = std::string("ab\0\0c\0", 6) + std::string(6, '\0') + std::string("d\0e\0\0\0", 6);
  const uint8_t *g = (const uint8_t *)grid.data();
  struct {
    terminal_cell a, b;
    const char *text;
  } cases[] = {
      {{0, 0}, {1, 0}, "ab"},
      {{1, 0}, {0, 0}, "ab"},            // either order
      {{0, 0}, {4, 0}, "ab  c"},         // empty cells before a character: blanks
      {{0, 0}, {3, 0}, "ab"},            // empty cells at the end: nothing
      {{4, 0}, {0, 2}, "c\n\nd"},        // empty runs to the row's end: newlines
      {{5, 0}, {0, 1}, "\n"},
      {{0, 2}, {5, 2}, "d e"},
      {{0, 0}, {5, 2}, "ab  c\n\nd e"},
      {{-5, -5}, {99, 99}, "ab  c\n\nd e"},  // cells outside a shrunk grid are clamped
  };
  for (auto &c : cases) {
    char out[64];
    terminal_cells_text(g, 6, 3, c.a, c.b, out, sizeof out);
    EXPECT_STREQ(out, c.text) << c.a.col << "," << c.a.row << " " << c.b.col << "," << c.b.row;
  }
  char small[4];
  EXPECT_EQ(terminal_cells_text(g, 6, 3, {0, 0}, {5, 2}, small, sizeof small), 3);
  EXPECT_STREQ(small, "ab ");
}

TEST(Selection, WordClasses) {
  struct {
    uint8_t c;
    int cls;
  } cases[] = {{'a', 1}, {'Z', 1}, {'7', 1}, {'_', 1}, {1, 2},   {31, 2}, {'\t', 3},
               {0, 3},   {' ', 0}, {'.', 0}, {'-', 0}, {127, 0}, {200, 0}};
  for (auto &c : cases) EXPECT_EQ(terminal_char_class(c.c), c.cls) << (int)c.c;
}

}  // namespace
