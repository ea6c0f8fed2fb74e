// The byte path of local-display terminal sessions: arbitrary bytes go to
// sessions of 24 x 80, 1 x 1 and 0 x 0 cells (the last has no grid at all),
// whole and cut in two, then the grid and cursor invariants are checked.
// Every input must finish quickly: the target adds a per-input timeout of
// its own unless one is given on the command line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "log.h"
#include "term/tt_io.h"

namespace {

void check(int index) {
  const tt_session *s = tt_screen_of(index);
  if (!s) abort();
  if (s->cols < 0 || s->rows < 0) abort();
  if (s->cursor_col < 0 || s->cursor_col > s->cols || s->cursor_row < 0) abort();
  if (s->rows > 0 && s->cursor_row >= s->rows) abort();
  if (s->scroll_top < 0 || s->scroll_top > s->scroll_bottom) abort();
  if (s->rows > 0 && s->scroll_bottom >= s->rows) abort();
  if (s->send_count != 0) abort();  // a local display never answers itself
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  static std::vector<char *> args;
  bool has_timeout = false;
  for (int i = 0; i < *argc; i++)
    if (strncmp((*argv)[i], "-timeout=", 9) == 0) has_timeout = true;
  if (!has_timeout) {
    args.assign(*argv, *argv + *argc);
    args.push_back(const_cast<char *>("-timeout=5"));
    args.push_back(nullptr);
    *argc += 1;
    *argv = args.data();
  }
  tt_set_quiet(1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const int sizes[][2] = {{80, 24}, {1, 1}, {0, 0}};
  for (auto &z : sizes) {
    int i = tt_open(1, nullptr, nullptr, z[0], z[1], nullptr, nullptr, 0);
    if (i < 0) abort();
    tt_send(i, data, (int)size);
    check(i);
    // The same bytes again in two pieces, on a grid that then shrinks.
    size_t cut = size / 2;
    tt_send(i, data, (int)cut);
    tt_send(i, data + cut, (int)(size - cut));
    check(i);
    tt_resize(i, z[0] / 2, z[1] / 2);
    tt_send(i, data, (int)size);
    check(i);
    tt_close(i);
  }
  tt_shutdown();
  return 0;
}
