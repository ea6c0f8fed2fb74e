// Helpers of the terminal's tests: a local-display session fed with bytes,
// and its screen as text ('.' for an empty cell).
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "term/tt_io.h"

// Opens a local-display session of cols x rows (quiet), or fails the test.
inline int term_open(int cols, int rows) {
  int i = tt_open(1, nullptr, nullptr, cols, rows, nullptr, nullptr, 0);
  EXPECT_GE(i, 0);
  return i;
}

inline void term_feed(int i, const std::string &bytes) {
  tt_set_quiet(1);
  tt_send(i, (const uint8_t *)bytes.data(), (int)bytes.size());
  tt_set_quiet(0);
}

inline tt_session *term_session(int i) { return const_cast<tt_session *>(tt_screen_of(i)); }

inline std::vector<std::string> term_rows(int i) {
  const tt_session *s = tt_screen_of(i);
  std::vector<std::string> out;
  for (int r = 0; r < s->rows; r++) {
    std::string line;
    for (int c = 0; c < s->cols; c++) {
      uint8_t ch = s->chars[r * s->cols + c];
      line += ch ? (char)ch : '.';
    }
    out.push_back(line);
  }
  return out;
}

inline const uint32_t *term_attr(int i, int col, int row) {
  const tt_session *s = tt_screen_of(i);
  return s->attrs + (size_t)(row * s->cols + col) * kTtAttrWords;
}
