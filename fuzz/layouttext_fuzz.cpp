// Reads arbitrary bytes as desktop layout text over window lists of a few
// sizes. A text that reads must give a well-formed tree: one root, every
// splitter's children earlier nodes used once, every window index in range
// and used once, ratios inside (0, 1), links between distinct placed
// windows; written back and read again it gives the same text.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "log.h"
#include "plat.h"
#include "screen/layouttext.h"

#define CHECK(c)       \
  do {                 \
    if (!(c)) abort(); \
  } while (0)

namespace {

bool start() {
  plat_init();
  log_init();
  log_set_stderr(0);
  log_set_memory(0);
  return true;
}

void check_tree(const layout_tree &t, int n) {
  const size_t k = t.nodes.size();
  CHECK(t.root >= 0 && size_t(t.root) < k);
  std::vector<int> used(k, 0), win(size_t(n), 0);
  for (size_t i = 0; i < k; i++) {
    const layout_node &nd = t.nodes[i];
    if (nd.win >= 0) {
      CHECK(nd.win < n);
      CHECK(win[size_t(nd.win)]++ == 0);
      CHECK(t.placed[size_t(nd.win)]);
    } else {
      CHECK(nd.a >= 0 && size_t(nd.a) < i && nd.b >= 0 && size_t(nd.b) < i && nd.a != nd.b);
      CHECK(used[size_t(nd.a)]++ == 0 && used[size_t(nd.b)]++ == 0);
      CHECK(std::isfinite(nd.ratio) && nd.ratio > 0 && nd.ratio < 1);
    }
  }
  CHECK(used[size_t(t.root)] == 0);
  for (auto &l : t.links) {
    CHECK(l.first != l.second);
    CHECK(t.placed[size_t(l.first)] && t.placed[size_t(l.second)]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = start();
  (void)ready;
  if (size > size_t(kLayoutTextMax) + 16) return 0;
  std::string text(reinterpret_cast<const char *>(data), size);
  for (int n : {0, 1, 4, 9, kLayoutWindowsMax}) {
    layout_tree t;
    if (layout_text_parse(text.c_str(), n, &t) != 0) continue;
    check_tree(t, n);
    // The writer's ratios have three decimals, so compare a second round.
    std::string once = layout_text_write(t);
    layout_tree t2;
    if (layout_text_parse(once.c_str(), n, &t2) != 0) {
      // Rounding to three decimals may give 0.000 or 1.000 for extreme ratios.
      continue;
    }
    check_tree(t2, n);
    CHECK(layout_text_write(t2) == once);
  }
  return 0;
}
