// The glyph check: every text a window lays out or draws, held against the
// glyphs of the font it is drawn in. In the value fonts 'a'-'j' are small
// digits, so a word drawn in one loses its letters ("General" reads
// "G4N4R0L"); in the other fonts they are letters, so a formatter's small
// cents drawn there read as letters ("157.f"). The watch collects every
// fault with its text and font; header only.
#pragma once

#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "lib/font.h"
#include "lib/gfx.h"

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

struct glyph_watch {
  std::set<std::pair<std::string, int>> faults;  // text, font
  size_t texts = 0, value_texts = 0, small_texts = 0;

  static void seen(const char *text, int32_t font, const rect &, void *arg) {
    auto *w = static_cast<glyph_watch *>(arg);
    w->texts++;
    bool small_font = font_has_small_digits(font);
    if (small_font) w->value_texts++;
    bool small = glyphcheck_has_small_digits(text);
    if (small) w->small_texts++;
    if (small_font ? glyphcheck_has_word(text) : small) w->faults.insert({text, font});
  }
  void install() { font_set_text_watch(seen, this); }
  static void remove() { font_set_text_watch(nullptr, nullptr); }
  std::string report() const {
    std::string s;
    for (const auto &f : faults) s += "  \"" + f.first + "\" in font " + std::to_string(f.second) + "\n";
    return s;
  }
};
