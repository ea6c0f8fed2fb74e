// Desktop migration on arbitrary window rectangles (up to 256, 8 bytes each:
// four signed 16-bit numbers scaled to reach past the corrections' limits)
// and an arbitrary gap: the layout ends within its work budget, every window
// appears in the tree exactly once, every ratio lies inside (0, 1), and the
// layout text the tree gives has no token the desktop could refuse.
#include <cstdint>
#include <cstring>
#include <vector>

#include "config/migrate_desktop.h"
#include "config_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = config_fuzz_start();
  CHECK(started);
  if (size < 1) return 0;
  const int32_t g = data[0] % 16;
  data++;
  size--;
  migrate_desktop_reset();
  size_t n = size / 8;
  if (n > kMigrateMaxWindows) n = kMigrateMaxWindows;
  for (size_t i = 0; i < n; i++) {
    int16_t v[4];
    memcpy(v, data + i * 8, 8);
    CHECK(migrate_desktop_add(nullptr, v[0] * 4, v[1] * 4, v[2] / 4, v[3] / 4) == 0);
  }
  migrate_tree t;
  if (n == 0) {
    CHECK(migrate_desktop_build(g, kMigrateBudget, &t) == -1);
    return 0;
  }
  CHECK(migrate_desktop_build(g, kMigrateBudget, &t) == 0);
  CHECK(t.work <= kMigrateBudget + 4 * kMigrateMaxWindows);
  std::vector<int> seen(n, 0);
  std::vector<int32_t> stack{t.root};
  size_t visited = 0;
  while (!stack.empty()) {
    int32_t i = stack.back();
    stack.pop_back();
    CHECK(i >= 0 && size_t(i) < t.nodes.size());
    CHECK(++visited <= t.nodes.size());
    const migrate_node& nd = t.nodes[size_t(i)];
    if (nd.win >= 0) {
      CHECK(size_t(nd.win) < n);
      seen[size_t(nd.win)]++;
    } else {
      CHECK(nd.ratio > 0.0 && nd.ratio < 1.0);
      stack.push_back(nd.a);
      stack.push_back(nd.b);
    }
  }
  for (size_t i = 0; i < n; i++) CHECK(seen[i] == 1);
  return 0;
}
