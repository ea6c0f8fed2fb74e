// The quote bar of a market window: one line of the instrument's prices
// below the title bar. Minimal version: an empty content widget of its own
// class that keeps the subject it is given, one text line high.
#include "style.h"
#include "windows/content.h"

widget *quotebar_new(widget *parent) { return content_new(parent, "quotebar"); }

int32_t quotebar_height() {
  const style *st = style_cur();
  return st ? st->line_height : 16;
}
