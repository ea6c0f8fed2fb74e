// The help window of a screen: a panel listing the keyboard commands in up
// to four columns under their headings, with a footer that links to the
// support web page. The panel scrolls by dragging when the window is smaller
// than its text, and goes away when the pointer leaves it quickly. Main
// thread.
#pragma once

#include <cstdint>

#include "lib/gmap.h"
#include "ui/widget.h"

// One row of the keys table: a key and its description. The key names the
// row's kind: "*" a heading, "-" a note across both columns, "|" a column
// break, "" a continuation line, a leading "\\" is not shown (so a key may
// begin with "-"); anything else is a key.
struct help_row {
  const char *key;
  const char *desc;
};
constexpr int kHelpRows = 130;
constexpr int kHelpColumns = 4;
extern const help_row kHelpKeys[kHelpRows];

// The support page and the footer's texts.
extern const char kHelpSupportUrl[], kHelpSupportText[], kHelpFooter[];

struct help_fonts {
  int32_t key;   // headings and keys
  int32_t body;  // descriptions and notes
  int32_t step;  // line step
};

struct help_measure {
  int32_t column_h[kHelpColumns];
  int32_t key_w, desc_w, note_w;
  int32_t chars;
  int32_t text_h;  // the tallest column less one step
};

// A row as laid out: where its key (right edge) and its text (left edge,
// or centre for a note) go.
struct help_placed {
  int kind;  // 0 key, 1 heading, 2 note, 3 continuation, 4 column break
  int column;
  int32_t key_x, text_x, y;
  const char *key;  // without a leading backslash; null for none
  const char *text;
};

struct helpwin : widget {
  int32_t topic;
  gmap text;
  int dirty;
  rect link;
  size content;
  int32_t press_x, press_y;
  int32_t offset_x, offset_y;
  help_measure m;
};

typeid_t helpwin_type();
widget *helpwin_new(widget *parent);
inline widget *helpwin_class(widget *parent) { return helpwin_new(parent); }
void helpwin_set_topic(widget *hw, int topic);

void help_measure_keys(const help_row *rows, int n, const help_fonts *f, help_measure *out);
// Places the rows (out has n entries) from a measure; returns the lowest y
// reached (the y after the last row of the tallest column).
int32_t help_place_keys(const help_row *rows, int n, const help_measure *m, int32_t step, help_placed *out);
// The fonts and line step of the current visual style.
help_fonts help_style_fonts();
// Lays the panel out now (as the next draw would).
void helpwin_layout(helpwin *h);
// A scroll offset kept to the panel: at most 0, at least view - content.
int32_t help_clamp_offset(int32_t v, int32_t view, int32_t content);
