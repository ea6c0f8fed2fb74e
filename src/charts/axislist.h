// The drawing lists the chart axes fill (grid-line positions and laid-out
// labels) and the text-measuring seam they lay labels out with. The chart
// widget draws them; tests read them back. User-interface thread only.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Measures text in the chart font (small 0) or its small digit font (small 1).
// The widget installs the toolkit's font atlas; tests install fixed metrics.
struct chart_fonts {
  void* ctx;
  // Width and height in pixels of the text as it would be drawn.
  void (*text_size)(void* ctx, int32_t small, const char* text, int32_t* w, int32_t* h);
  // Line height of the font.
  int32_t (*line_height)(void* ctx, int32_t small);
};

int32_t chart_text_width(const chart_fonts* f, int32_t small, const char* text);

struct chart_label {
  std::string text;
  int32_t x, y, w, h;
  int32_t small;
};

// One list: restarted with a room (entries for lines, glyphs for labels),
// closed when filled; what would pass the room is not taken (the room is
// sized for the most a layout can produce).
template <typename T>
struct chart_list {
  std::vector<T> items;
  size_t room = 0, used = 0;
  int32_t open = 0;
  void begin(size_t n) {
    items.clear();
    room = n;
    used = 0;
    open = 1;
  }
  void end() { open = 0; }
  void clear() {
    items.clear();
    room = used = 0;
    open = 0;
  }
  bool add(const T& v, size_t cost = 1) {
    if (used + cost > room) return false;
    items.push_back(v);
    used += cost;
    return true;
  }
};

// The three lists of one axis.
struct chart_axis_lists {
  chart_list<int32_t> major;  // x (time axis) or y (value axis) of grid lines
  chart_list<int32_t> minor;
  chart_list<chart_label> labels;
  void clear() {
    major.clear();
    minor.clear();
    labels.clear();
  }
};

// Everything both axes write, beside the chart's data block.
struct chart_axes {
  chart_fonts fonts;
  chart_axis_lists time;
  chart_axis_lists value;
  int32_t decimals;  // the last computed pane's label decimals
  // The exchange's current date for the one-day label rule; 0 reads it from
  // the chart's instrument's exchange.
  uint32_t today;
};
