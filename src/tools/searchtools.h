// The search panel: the tool panel of a search window. A keyword field
// narrows the window's instruments to those whose code or name holds it,
// and toggles choose the exchanges and kinds shown. Its edits apply to its
// own window only, each one undo step; the window's title describes the
// settings ("LIKE BHP, NO DERIVS"). Main thread only.
#pragma once

#include <cstdint>

#include "tools/tools.h"
#include "ui/button.h"

struct fbox;
struct flyaway;
struct searchwin;
struct textbox;

// Ids of the panel's buttons (9 hides the panel; no button carries it).
enum : int32_t {
  SEARCHTOOLS_ASX = 1, SEARCHTOOLS_NZX = 2, SEARCHTOOLS_DERIVS = 3, SEARCHTOOLS_INDICES = 4,
  SEARCHTOOLS_NEWS = 5, SEARCHTOOLS_SENSITIVE = 6, SEARCHTOOLS_TRADED = 7, SEARCHTOOLS_CLEAR = 8,
  SEARCHTOOLS_HIDE = 9, SEARCHTOOLS_QUOTED = 10, SEARCHTOOLS_VENUES = 11,
};

struct searchtools : tools {
  fbox *box;
  flyaway *search;  // the Search section
  textbox *keyword;
  button *clear;
  // ASX and NZX exist only for a user who may see several exchanges.
  button *asx, *nzx, *derivs, *venues, *indices, *news, *sensitive, *traded, *quoted;
};

typeid_t searchtools_type();
inline bool searchtools_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), searchtools_type());
}
// The panel of a window (parent) editing its search list (owner).
searchtools *searchtools_new(widget *parent, widget *owner);
// Empties the keyword field, gives it the keyboard focus and opens the
// Search section (the search action, after showing this panel).
void searchtools_clear(widget *panel);

// What a toggle id does to a search list with the toggle now `on`;
// -1 for an id that is no toggle's.
int searchtools_apply_id(searchwin *s, int32_t id, int on);
// The description of a search list's settings (never null); the text lives
// until the next call.
const char *searchtools_summary(const searchwin *s);
