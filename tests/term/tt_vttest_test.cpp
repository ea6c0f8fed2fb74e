// Streams recorded from the VT100 test program (tests/term/record_vttest.py,
// 24 x 80) replayed through a local display: all of them in order, whole and
// cut into small pieces, without sanitizer reports and within the test's
// time limit; and each menu screen, replayed on a fresh screen, the same as
// libvterm draws it.
#include <gtest/gtest.h>
#include <vterm.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "termtest.h"

namespace {

struct stream {
  std::string name, bytes;
};

std::vector<stream> load() {
  std::vector<stream> out;
  const char *root = getenv("AMBIT_SOURCE_DIR");
  std::filesystem::path dir = std::filesystem::path(root ? root : ".") / "tests/term/data/vttest";
  for (auto &e : std::filesystem::directory_iterator(dir)) {
    std::ifstream f(e.path(), std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    out.push_back({e.path().stem().string(), ss.str()});
  }
  std::sort(out.begin(), out.end(), [](const stream &a, const stream &b) { return a.name < b.name; });
  return out;
}

struct Vttest : ::testing::Test {
  void TearDown() override { tt_shutdown(); }
};

TEST_F(Vttest, StreamsReplayWholeAndInPieces) {
  auto streams = load();
  ASSERT_GE(streams.size(), 10u);
  for (int piece : {0, 7, 1}) {
    int i = term_open(80, 24);
    for (auto &s : streams) {
      if (piece == 0) {
        term_feed(i, s.bytes);
      } else {
        for (size_t at = 0; at < s.bytes.size(); at += (size_t)piece)
          term_feed(i, s.bytes.substr(at, (size_t)piece));
      }
      const tt_session *t = tt_screen_of(i);
      EXPECT_TRUE(t->cursor_col >= 0 && t->cursor_col <= 80 && t->cursor_row >= 0 &&
                  t->cursor_row < 24)
          << s.name;
    }
    tt_close(i);
  }
}

TEST_F(Vttest, MenusMatchLibvterm) {
  int menus = 0;
  for (auto &s : load()) {
    if (s.bytes.find("Choose test type") == std::string::npos) continue;
    menus++;
    VTerm *vt = vterm_new(24, 80);
    vterm_set_utf8(vt, 0);
    VTermScreen *vs = vterm_obtain_screen(vt);
    vterm_screen_reset(vs, 1);
    vterm_input_write(vt, s.bytes.data(), s.bytes.size());
    int i = term_open(80, 24);
    term_feed(i, s.bytes);
    std::vector<std::string> theirs;
    for (int r = 0; r < 24; r++) {
      std::string line;
      for (int c = 0; c < 80; c++) {
        VTermScreenCell cell;
        vterm_screen_get_cell(vs, {r, c}, &cell);
        line += (cell.chars[0] && cell.chars[0] != ' ') ? (char)cell.chars[0] : '.';
      }
      theirs.push_back(line);
    }
    std::vector<std::string> ours = term_rows(i);
    for (auto &l : ours) std::replace(l.begin(), l.end(), ' ', '.');
    EXPECT_EQ(ours, theirs) << s.name;
    VTermPos p;
    vterm_state_get_cursorpos(vterm_obtain_state(vt), &p);
    EXPECT_EQ(tt_screen_of(i)->cursor_col, p.col) << s.name;
    EXPECT_EQ(tt_screen_of(i)->cursor_row, p.row) << s.name;
    vterm_free(vt);
    tt_close(i);
  }
  EXPECT_GE(menus, 2);
}

}  // namespace
