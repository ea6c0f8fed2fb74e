// The screen's two toolbars (left and right): vertical strips of collapsible
// sections of buttons. A button stands for a user action; pressing it acts on
// the focused window, dropping it on a window acts on that window, and with
// Shift held it acts on every suitable window of the desktop. The list
// sections page through watchlists, smartlists, chart styles and feeds, ten
// entries a page; entries and Speed Pad slots drag onto the watch bar, the
// mini bar, another slot, a new place in their list or "Remove". Main thread.
#pragma once

#include <cstdint>

#include "tools/winbar.h"
#include "ui/widget.h"

struct button;

constexpr int32_t kToolbarWidth = 112;  // the least width; wider when a section needs it
constexpr int32_t kToolbarPage = 10;
// Entry ids: the object's id plus the base of its list.
constexpr int32_t kToolbarWatchlistBase = 10000000;
constexpr int32_t kToolbarScanBase = 20000000;
constexpr int32_t kToolbarCstyleBase = 30000000;
constexpr int32_t kToolbarFeedBase = 40000000;
constexpr int32_t kToolbarRangeWidth = 10000000;
constexpr int32_t kToolbarHideShowBase = 50000000;
constexpr int32_t kToolbarSpeedPadFirst = 91;  // quick slot 0
constexpr int32_t kToolbarPagingFirst = 100;   // watchlists, scans, chart styles, feeds
constexpr int32_t kToolbarLists = 4;

// What a list page shows: the (possibly wrapped) offset, whether the paging
// button is hidden, its text (">first-last" of the next page), and how many
// spacers keep the page at ten rows. Pure; the list rebuild uses it.
struct toolbar_page {
  int32_t offset;
  bool paging_hidden;
  int32_t spacers;
  char text[32];
};
toolbar_page toolbar_page_of(int32_t offset, int32_t count);

// The list an entry id belongs to (0 watchlists .. 3 feeds), -1 for none.
int toolbar_list_of_id(int32_t id);

// side 0 left, 1 right.
widget *toolbar_new(widget *screen, int side);
// Every state-dependent button brought into line with the screen's bars,
// the quick slots, the lists and the undo ring.
void toolbar_update(widget *tb);
void toolbar_update_undo(widget *tb);
// The logged-in/out refresh the backstop asks for: the same as update.
void toolbar_update_logout(widget *tb);
void toolbar_open(widget *tb);   // a drag began: "Remove" shows
void toolbar_close(widget *tb);  // the drag ended: the deck's first page again
widget *toolbar_remove_button(widget *tb);
// How many updates a toolbar ran (checks of the backstop).
int32_t toolbar_updates(widget *tb);
// Expand the Watchlists, Smartlists, Charts or RSS Feeds section.
void toolbar_focus_1(widget *tb);
void toolbar_focus_2(widget *tb);
void toolbar_focus_3(widget *tb);
void toolbar_focus_4(widget *tb);
void toolbar_rebuild_watchlists(widget *tb);
void toolbar_rebuild_scans(widget *tb);
void toolbar_rebuild_cstyles(widget *tb);
void toolbar_rebuild_feeds(widget *tb);
// The title of the i-th section, null past the end.
const char *toolbar_item_by_key(widget *tb, int i);
// True when the section of that title is hidden or there is none.
bool toolbar_is_tool_hidden(widget *tb, const char *title);
void toolbar_hide_tool(widget *tb, const char *title);
// Shows a hidden section, hides a shown one ("can't find flyaway #%d to
// hide/unhide" for a position without one); marks the configuration changed.
void toolbar_tool_toggle(button *b, uint32_t state, void *tb, int32_t id);
// Every button's callback (state: the button's state word).
void toolbar_on_button(button *b, uint32_t state, void *tb, int32_t id);
// The same for a drag of this button released over `target` at (x, y) of
// the gui window: what the callback does with the gui's drag data.
void toolbar_dropped(widget *tb, button *b, int32_t id, widget *target, int32_t x, int32_t y);

// True for a toolbar button whose drag can end on "Remove": a list entry,
// or a Speed Pad slot that holds an instrument.
bool toolbar_drag_removable(widget *w);

// Accessors (null when missing): the button of an id, the page offset of a
// list, a section by title.
button *toolbar_button(widget *tb, int32_t id);
int32_t toolbar_offset(widget *tb, int list);
widget *toolbar_section(widget *tb, const char *title);
// The list's entry buttons, in order (spacers are not buttons).
int toolbar_list_entries(widget *tb, int list, button **out, int max);
widget *toolbar_list_box(widget *tb, int list);
int toolbar_deck_page(widget *tb);
bool toolbar_logo_shown(widget *tb);
bool toolbar_spacer_shown(widget *tb);

// Inside the screen's open configuration block: "toolbar" then "left" or
// "right", with "show %b" (the screen's bar bit of this toolbar, counting a
// bar hidden by a zoom as shown) and a "hide_tool %s" line per hidden
// section. Load hides every section named, shows or hides the toolbar by
// "show" and returns that value, -1 without the block.
void toolbar_save(widget *tb);
int toolbar_load(widget *tb);
