// The desktop layout text as a plain tree, without widgets: the reader that
// checks a text in full before anything is built from it, and the writer.
// Tokens, postfix, single spaces: "Wn" a window of the list, "Hr"/"Vr" a
// side-by-side / stacked splitter of the two entries below (ratio r, 0.5
// when absent), "Pa,b" window b follows window a. Any thread (no state).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

constexpr int kLayoutStackMax = 256;      // pending stack entries
constexpr int kLayoutWindowsMax = 256;    // windows in one list
constexpr int kLayoutTextMax = 65536;     // bytes of one text

struct layout_node {
  int32_t win;           // window index, or -1 for a splitter
  uint32_t orientation;  // splitter: 0 side by side, 1 stacked
  double ratio;          // splitter: first child's share, inside (0, 1)
  int32_t a, b;          // splitter: node indexes of its children
};

struct layout_tree {
  std::vector<layout_node> nodes;
  int32_t root = -1;
  std::vector<std::pair<int32_t, int32_t>> links;  // (followed, follower)
  std::vector<uint8_t> placed;                     // per window index: in the tree
};

// Reads text over a list of n windows into *out. 0, or -1 after a log line
// saying why: stack underflow, more than one entry left ("top is %d"), a
// window used twice, a ratio not inside (0, 1), a link of a window to
// itself, a number that does not parse, a stack or text beyond its cap.
// Indexes outside the list are logged and skipped, as are other letters.
int layout_text_parse(const char *text, int n, layout_tree *out);
// The text of a plain tree (ratios "%.3f"), links last.
std::string layout_text_write(const layout_tree &t);
