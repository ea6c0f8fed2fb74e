// Desktop migration: older user configurations keep each window of a
// desktop with its own rectangle; this turns such a set of rectangles into
// a splitter tree by straight cuts, recursively, falling back to an even
// split. The table is global and filled for one desktop at a time. The tree
// comes out as plain nodes (no widgets); the loader of the user
// configuration hands it to the desktop. User-interface thread.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr int kMigrateMaxWindows = 256;
// Work units (entries examined per candidate cut) one layout may spend on
// the search for straight cuts before it takes the even split instead.
constexpr int64_t kMigrateBudget = 2000000;

// One node of the tree: a window (win = its table index) or a splitter
// (win -1) of orientation 1 (the cut runs horizontally, first child above)
// or 0 (the cut runs vertically, first child on the left), with the first
// child's share as ratio.
struct migrate_node {
  int32_t win;
  uint32_t orientation;
  double ratio;
  int32_t a, b;
};

struct migrate_tree {
  std::vector<migrate_node> nodes;
  int32_t root = -1;
  int64_t work = 0;       // units the search spent
  int even = 0;           // 1 when the even split was taken
};

void migrate_desktop_reset(void);
// Appends a window with its stored rectangle, corrected (negative positions
// to 0, widths above 4000 or negative and heights above 3000 or negative to
// 100, each with a WARN line). 0, or -1 (ERROR "too many windows") for a
// 257th window, which is refused.
int migrate_desktop_add(void* window, int32_t x, int32_t y, int32_t w, int32_t h);
int migrate_desktop_count(void);
void* migrate_desktop_window(int i);
// The stored (corrected) rectangle of entry i into r[4].
void migrate_desktop_rect(int i, int32_t r[4]);
// Builds the tree of the table's entries with g = half the pane gap: the
// straight-cut search within `budget` work units, else the even split of
// all entries stacked. 0, or -1 when the table is empty.
int migrate_desktop_build(int32_t g, int64_t budget, migrate_tree* out);
// The even split of entries first..first+n-1 in `orientation` (the tree's
// nodes are appended); the index of its top node.
int32_t migrate_desktop_even(migrate_tree* t, int32_t first, int32_t n, uint32_t orientation);
// The tree as desktop layout text over the table's windows in table order
// ("Wn", "Hr" side by side, "Vr" stacked, ratios "%.3f" held inside
// 0.001..0.999).
std::string migrate_desktop_text(const migrate_tree& t);
