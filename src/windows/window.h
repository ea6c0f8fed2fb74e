// Market windows: the panes of a desktop and the windows a screen keeps for
// its quick window and popups. A window owns one content child of every
// kind and the tool panels, and shows the child its role selects under a
// title bar and a quote bar. What it shows (instrument, exchange, role,
// links) is its subject: set here, passed along links to the windows that
// follow it. Main thread only.
#pragma once

#include <cstdint>

#include "ui/box.h"

struct instr;
struct ss_exchange;
struct titlebar;

enum : uint32_t {
  kRoleNone = 0, kRoleWatchlist = 1, kRoleDepth = 2, kRoleTradechart = 3, kRoleEventlist = 4,
  kRoleHistnews = 5, kRoleIndexchart = 6, kRoleIndexlist = 7, kRoleNewstoday = 8, kRoleSearch = 9,
  kRoleRss = 10, kRoleDocument = 11, kRoleChart = 12, kRoleTradelist = 13, kRoleTerminal = 14,
  kRoleLog = 15, kRoleForexlist = 18, kRoleOptionlist = 19, kRoleGoogle = 20, kRoleAlerts = 25,
  kRoleCount = 26,
};

// Content children, in creation order.
enum : int {
  kWinTitlebar, kWinQuotebar, kWinDepth, kWinTradelist, kWinTradechart, kWinHistnews, kWinNewstoday,
  kWinWatchlist, kWinAlerts, kWinIndexlist, kWinIndexchart, kWinSearch, kWinRss, kWinGoogle, kWinLog,
  kWinDoc, kWinChart, kWinTerminal, kWinOptionlist, kWinForexlist,
  kWindowChildren = 20,
};
constexpr int kWindowTools = 14;
constexpr uint32_t kWindowNotifyMask = 0x10CA00;  // index tick, news, trades, quotes, auction
constexpr int kWindowLinkDepth = 8;               // nesting of link passing allowed

struct window : box {
  int32_t kind;  // 0 a desktop window; 1 a screen's quick window, 2 its popups
  uint32_t role;
  uint32_t bar_mode;  // 0 by role; 1 no bars; 2 quote bar only; 3 title bar only
  uint32_t selection;
  uint32_t row_limit;  // 0xFFFFFFFF unknown
  uint32_t drawing;
  uint32_t frame_pending[2];
  window *link;  // the window this one follows, or null
  instr *instrument;
  ss_exchange *exchange;
  uint32_t seen_bid, seen_offer, seen_value;
  uint32_t frame_colours[2];
  widget *child[kWindowChildren];
  uint32_t show_tools;
  widget *tools[kWindowTools];
  instr *last_stock;
  instr *last_index;
  uint32_t registered;  // 1 while holding a change registration on instrument
  uint32_t fill;        // fill of a window without a role (0: the style's colour)
};

typeid_t window_type();
window *window_new(widget *parent, int32_t kind);
inline bool window_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), window_type());
}
window *window_cast(object *o);

// Role table.
const char *window_role_name(uint32_t role);         // null for rows without one
const char *window_role_legacy_name(uint32_t role);  // "xx" where none
// Role by name or legacy name; -1 when unknown.
int32_t window_role_by_name(const char *name);
int window_role_has_titlebar(uint32_t role);
int window_role_has_quotebar(uint32_t role);
uint32_t window_role_subject_kind(uint32_t role, const instr *in);
uint32_t window_subject_kind(const window *w);
widget *window_get_content(window *w, uint32_t role);
widget *window_get_tools(window *w, uint32_t role);
widget *window_get_current_tools(window *w);

// Accessors.
inline uint32_t window_get_role(const window *w) { return w->role; }
inline uint32_t window_get_bar_mode(const window *w) { return w->bar_mode; }
inline instr *window_get_instrument(const window *w) { return w->instrument; }
inline ss_exchange *window_get_exchange(const window *w) { return w->exchange; }
inline window *window_get_link(const window *w) { return w->link; }
inline bool window_is_linked(const window *w) { return w->link != nullptr; }
inline uint32_t window_get_selection(const window *w) { return w->selection; }
inline bool window_get_show_tools(const window *w) { return w->show_tools != 0; }
inline uint32_t window_get_row_count(const window *w) { return w->row_limit; }
titlebar *window_get_titlebar(window *w);
int window_tools_switching();
int window_copying();

// Subject.
void window_set_instrument(window *w, instr *in);
void window_take_linked_instr(window *w, instr *in);
void window_set_role(window *w, uint32_t role);
int window_set_exchange(window *w, ss_exchange *ex, int force);
inline int window_set_exchange_plain(window *w, ss_exchange *ex) { window_set_exchange(w, ex, 0); return 0; }
inline int window_set_exchange_forced(window *w, ss_exchange *ex) { window_set_exchange(w, ex, 1); return 0; }
void window_update_title(window *w);
void window_set_bar_mode(window *w, uint32_t mode);

// Links: dst follows src (or src's own source); unlink returns to bar mode 0.
void window_link_to(window *src, window *dst);
void window_unlink(window *w);
// Kept for the screen frame: dst follows `to` (null unlinks) without
// taking its subject.
void window_link(window *w, window *to);
window *window_linked_to(const window *w);

// Copies source into target: instrument, role, the role's settings (the
// chart's style, a copy of the terminal's session), tools shown, reference
// values.
void window_copy(window *target, window *source);
void window_copy_from(window *w, window *src);

// Lists: a watchlist window shows a scan (an anonymous one is copied, a
// registered one shared) or a temporary scan of a watchlist; the title
// becomes the list's name. 0, or -1 without a watchlist content.
struct scan;
struct wlist;
int window_set_wlist(window *w, scan *s);
int window_set_list_source(window *w, wlist *wl);

// Charts: the chart child watches the style (a private style becomes the
// chart's own); the title's caption follows the chart panel's summary.
// Passing a time sets the cursor of a window in the chart role.
struct cstyle;
void window_set_chart(window *w, cstyle *style);
cstyle *window_get_chart(window *w);
void window_pass_to_chart(window *w, uint32_t value);

// Moves a time-based content (depth, news history, today's news, course of
// sales) to a moment; flags 0x7 clamp a time of day to the trading hours,
// 0x18 choose how the news history reads a date. -1 for other roles.
int window_goto_time(window *w, uint32_t time, uint32_t flags);

// Reference values and the price trend (-1 none, 0 same, 1 up, 2 down).
void window_take_instr_prices(window *w);
int window_price_trend(window *w);

// Rows.
void window_select_row(window *w, int32_t row);
void window_move_selection(window *w, int32_t step);
void window_set_row_count(window *w, int32_t limit);

// Tool panels.
void window_show_tools(window *w);
void window_hide_tools(window *w);
void window_toggle_tools(window *w);

// Dropped objects of the drag kinds 1 stock, 2 index, 3 issuer; others are
// ignored. Returns 1 when the drop changed the window.
int window_drop_instr(window *w, int kind, instr *in);
// The current content's table as text to the clipboard (0); the window's
// pixels as an image (the clipboard's result, -1 off screen).
int window_export(window *w);
int window_export_image(window *w);
// Shows a news item's document in the window's document child (the window
// takes the issuer and the document role). 1 when shown.
struct ss_news;
int window_show_news_item(window *w, instr *issuer, const ss_news *item);

// Both show the same instrument (or none) in the same role, and the role is
// alerts. (Watchlists compare their lists, which they do not hold yet.)
bool window_equal(const window *a, const window *b);
// Whether the window holding w is owned by a screen (kind above 0).
bool window_child_is_popup(const widget *w);

// Focus: a desktop window is focused when it is its desktop's focused
// window; a test may install a hook that decides instead (null removes it).
void window_set_focus_hook(bool (*is_focused)(const window *w));
bool window_is_focused(const window *w);

// The frame round a desktop window: two one-pixel rings, the outer one in
// the focus colour while the window is focused. Children that draw on their
// own over the window's edges draw the frame again: the whole frame
// (redraw_frame, when the child meets the window's top or bottom), or the
// pieces beside the child in the colours it asks for (0: the default; a
// content's colours are kept for the window's own frame), or in the
// content's kept colours (child_default).
void window_redraw_frame(widget *child);
void window_frame_child_colours(widget *child, uint32_t outer, uint32_t inner);
void window_frame_child_default(widget *child);
// Draws the frame's pieces beside a content again when the content's own
// draw ends (on every way out): contents that draw alone paint over the
// window's edges.
struct window_frame_guard {
  widget *child;
  explicit window_frame_guard(widget *c) : child(c) {}
  ~window_frame_guard() { window_frame_child_default(child); }
  window_frame_guard(const window_frame_guard &) = delete;
  window_frame_guard &operator=(const window_frame_guard &) = delete;
};
// The colours the window's frame is drawn in now (the focus included).
void window_frame_look(window *w, uint32_t *outer, uint32_t *inner);

// The title bar's text.
const char *window_title_text(const window *w);
void window_destroy_all(void);
int window_count();
