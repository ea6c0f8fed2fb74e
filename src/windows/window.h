// Market windows: the panes of a desktop. Each pane shows one content kind
// for an instrument and may follow (be linked to) another pane of its
// desktop. Main thread.
//
// Minimal version: an empty pane that fills its rectangle, keeps its kind,
// role and link, and copies those from another pane; the content children,
// title bar and tool panels come with the window frame itself.
#pragma once

#include <cstdint>

#include "ui/container.h"

struct window : bin {
  int32_t kind;     // 0 desktop pane, 1 quote pop, 2 floating
  int32_t role;     // the shown content's role (2 depth)
  window *link;     // the window this one follows; null when none
  uint32_t tools_hidden;
  uint32_t fill;    // pane colour (0: the style's panel colour)
};

typeid_t window_type();
// A new window of the kind, added to parent when given; null on failure.
window *window_new(widget *parent, int32_t kind);
inline bool window_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), window_type());
}
// Makes w follow `to` (null: unlink).
void window_link(window *w, window *to);
void window_unlink(window *w);
window *window_linked_to(const window *w);
// Gives w the settings of src (kind, role).
void window_copy_from(window *w, const window *src);
void window_set_role(window *w, int32_t role);
void window_hide_tools(window *w);
// The text of the window's title bar (empty for a pane without content).
const char *window_title_text(const window *w);
// Deletes every market window (at shutdown). The desktops own their
// windows and the screens delete them as they go, so nothing is left here.
void window_destroy_all(void);
// Number of windows alive (for leak checks of the frame's owners).
int window_count();
