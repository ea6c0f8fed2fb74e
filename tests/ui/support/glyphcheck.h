// The glyph check: every text a window lays out or draws, held against the
// glyphs of the font it is drawn in. In the value fonts 'a'-'j' are small
// digits, so a word drawn in one loses its letters ("General" reads
// "G4N4R0L"); in the other fonts they are letters, so a formatter's small
// cents drawn there read as letters ("157.f"). The watch collects every
// fault with its text and font. It also holds texts against each other:
// two texts of one drawing list, or two drawn in one frame, that cover the
// same place print over each other (columns run into their neighbours).
// Header only.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <vector>
#include <string>
#include <utility>

#include "lib/font.h"
#include "lib/gfx.h"
#include "ui/gui.h"

// A formatter's small digit: 'a'-'j' right after a digit, a point, a colon
// or another small digit, in a text without words; or the invisible filler
// right after a digit.
inline bool glyphcheck_has_small_digits(const char *t) {
  size_t n = strlen(t);
  for (size_t i = 1; i < n; i++) {
    char p = t[i - 1], c = t[i];
    if (c == '`' && isdigit((unsigned char)p)) return true;
    if (c < 'a' || c > 'j') continue;
    if (!(isdigit((unsigned char)p) || p == '.' || p == ':')) continue;
    char q = i + 1 < n ? t[i + 1] : 0;
    if (q >= 'k' && q <= 'z') continue;  // "10:30am" is a word-like time, not small digits
    return true;
  }
  return false;
}

// A word: a letter 'a'-'j' next to a lower-case letter beyond 'j' or right
// after a capital ("Gen", "www.ka", "Top Volume"); a small digit in a
// formatter's text stands after a digit, a point or another small digit.
inline bool glyphcheck_has_word(const char *t) {
  size_t n = strlen(t);
  for (size_t i = 0; i < n; i++) {
    char c = t[i];
    if (c < 'a' || c > 'j') continue;
    char p = i ? t[i - 1] : 0, q = i + 1 < n ? t[i + 1] : 0;
    if ((p >= 'k' && p <= 'z') || (q >= 'k' && q <= 'z') || (p >= 'A' && p <= 'Z')) return true;
  }
  return false;
}

// Two texts print over each other when they share at least 2 columns of
// pixels and half the height of the lower one; the same text at the same
// place (drawn again into the other buffer) does not count.
inline bool glyphcheck_overlap(const std::string &a, const rect &ra, const std::string &b, const rect &rb) {
  if (a == b && ra.x == rb.x && ra.y == rb.y) return false;
  const int32_t w = std::min(ra.x + ra.w, rb.x + rb.w) - std::max(ra.x, rb.x);
  const int32_t h = std::min(ra.y + ra.h, rb.y + rb.h) - std::max(ra.y, rb.y);
  return w >= 2 && h * 2 >= std::min(ra.h, rb.h) && h > 0;
}

struct glyph_watch {
  std::set<std::pair<std::string, int>> faults;  // text, font
  size_t texts = 0, value_texts = 0, small_texts = 0;
  bool check_overlaps = true;
  std::set<std::string> overlaps;  // "A" over "B", seen in two frames or more
  std::map<std::string, std::set<int64_t>> seen_pairs;

  struct placed {
    std::string text;
    rect r;
  };
  struct group {
    int64_t frame = -1;
    std::vector<placed> items;
  };
  std::map<const gmap *, group> groups;  // null: the texts drawn at once

  void place(const char *text, const rect &r, const gmap *list) {
    group &g = groups[list];
    const int64_t frame = gui_frame_count();
    if (g.frame != frame) g.items.clear();
    g.frame = frame;
    if (r.w <= 0 || r.h <= 0) return;
    for (const placed &p : g.items) {
      if (!glyphcheck_overlap(text, r, p.text, p.r)) continue;
      // Texts drawn at once: a pair seen in one frame only may be a widget
      // drawn twice while it changed; columns that run into each other do
      // so frame after frame. A list is laid once and drawn every frame.
      const std::string key = "\"" + std::string(text) + "\" over \"" + p.text + "\" at " + std::to_string(r.x) +
                              "," + std::to_string(r.y);
      auto &frames = seen_pairs[key];
      frames.insert(frame);
      if ((list || frames.size() >= 2) && overlaps.size() < 50) overlaps.insert(key);
    }
    g.items.push_back({text, r});
  }

  static void seen(const char *text, int32_t font, const rect &r, const gmap *list, void *arg) {
    auto *w = static_cast<glyph_watch *>(arg);
    w->texts++;
    if (w->check_overlaps) w->place(text, r, list);
    bool small_font = font_has_small_digits(font);
    if (small_font) w->value_texts++;
    bool small = glyphcheck_has_small_digits(text);
    if (small) w->small_texts++;
    if (small_font ? glyphcheck_has_word(text) : small) w->faults.insert({text, font});
  }
  void install() { font_set_text_watch(seen, this); }
  static void remove() { font_set_text_watch(nullptr, nullptr); }
  std::string overlap_report() const {
    std::string s;
    for (const auto &o : overlaps) s += "  " + o + "\n";
    return s;
  }
  std::string report() const {
    std::string s;
    for (const auto &f : faults) s += "  \"" + f.first + "\" in font " + std::to_string(f.second) + "\n";
    return s;
  }
};
