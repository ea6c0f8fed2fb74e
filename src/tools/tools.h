// Tool panels: the strip of controls under a market window's content (or
// under the ticker bar) that edits that content's settings. Every panel is a
// subclass of the "tools" class here, which binds it to the widget it edits
// (`owner`), gives all panels one look, refreshes a panel after the next
// redraw when its settings changed from outside, hides it on a right-button
// release, and runs the linked change: with Shift held, an edit made in one
// window's panel reaches every window of the same role on the desktop, as
// one undo step. Main thread only.
#pragma once

#include <cstdint>

#include "sstime.h"
#include "ui/container.h"

struct tools : bin {
  widget *owner;  // the content whose settings the panel edits
};

// The class record: the container's operations, then the panels' three.
struct tools_class_rec : container_class {
  // A short description of the settings for the window title ("" by default).
  const char *(*summary)(tools *self);
  // Brings the controls into line with the owner (must be overridden).
  void (*refresh)(tools *self);
  // Returns the root of the panel's controls (must be overridden).
  widget *(*build)(tools *self);
};

constexpr int kToolsLinkMax = 256;  // windows one linked change may reach

// The class id of "tools", registered on first use; panels name it parent.
typeid_t tools_class();
inline bool tools_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), tools_class());
}
// For subclasses: the tools class record (to call the base operations).
const tools_class_rec *tools_base();

// Run by every panel's constructor: stores owner, keeps pointer events,
// builds the only child (a transparent sizer of `sizer_flags` padded
// 3, 2, 2, 2 around the panel's build result), applies the look and posts a
// deferred refresh.
void tools_setup(tools *panel, uint32_t sizer_flags, widget *owner);
// Queues a refresh of the panel after the next redraw; any number of calls
// before it give one. Hiding or deleting the panel cancels it.
void tools_refresh_later(widget *panel);
// The panel's summary text (never null).
const char *tools_summary(widget *panel);
// Hides the panel through its parent (a window or the ticker bar).
void tools_hide_panel(widget *panel);
// Closes every flyaway inside w.
void tools_close_flyaways(widget *w);
// Calls the panel's refresh now (the relayout guard does not apply).
void tools_refresh_now(widget *panel);

// The linked change. begin: the set becomes `content` alone, or with Shift
// held every other content of `role` on content's desktop (watchlists: one
// window per list, fixed lists only from a fixed source). The caller then
// opens an undo group, pushes tools_link_push_undo, applies its setting to
// every tools_link_content and calls tools_link_apply.
void tools_link_begin(widget *content, uint32_t role);
int32_t tools_link_count();
widget *tools_link_content(int32_t i);
uint32_t tools_link_role();
// For every content of the set: its window's panel of the role (undo type
// 42) and, when given, the role's own record through push.
void tools_link_push_undo(int (*push)(widget *content));
// Refreshes the panels and titles of the set's windows that still exist;
// watchlists re-run their scans.
void tools_link_apply();
// A window that closes leaves the set (the rest keep their order).
void tools_link_forget(widget *window);

// The small day chart a panel owns, made without a parent: the day of the
// instrument it is later bound to as a step line, its end now, on
// `background`, with `overlays` (default parameters), no indicators, the
// option mask, and `fn` called with the time of a click.
struct nuchart;
nuchart *tools_day_chart(uint32_t background, const int32_t *overlays, int n, uint32_t options,
                         void (*fn)(nuchart *chart, ss_time time, void *arg, int n), void *arg);

// The window holding w (nearest ancestor of type "window"), or null.
struct window;
window *tools_window_of(widget *w);

// Typed decimal text as an integer count of hundredths (cents), for every
// panel's money and price fields: digits with an optional point and an
// optional k/t (thousand), m (million) or b (billion) suffix, rounded half
// up at the hundredth, clamped to [0, max]. Returns 0 and sets *out; 1 for
// empty text (no value); -1 for a bad number, a negative or non-finite value.
int tools_parse_cents(const char *text, uint64_t max, uint64_t *out);
// The same for whole counts (rounded half up at the unit).
int tools_parse_count(const char *text, uint64_t max, uint64_t *out);
