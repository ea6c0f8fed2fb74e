// Undo: the ring of user changes that can be taken back, newest first.
// Every change of layout or settings pushes one or more typed records
// before it is made; the records pushed between undo_begin and undo_end
// form one step. Main thread only.
//
// Records of state that a window content or a list module owns (depth,
// course of sales, tickers, mini quotes, chart styles, tool panels, ...)
// are copied and put back through the ops that module registers for the
// type (undo_register_type). A push of such a type with no ops registered
// is kept as a marker: it holds its place in its group and restores
// nothing. The records of layouts, windows, screens, bars, watchlists,
// scans, feeds and the process-wide settings are this module's own.
#pragma once

#include <cstddef>
#include <cstdint>

struct cstyle;
struct desktop;
struct desktop_layout;
struct instr;
struct rss_feed;
struct scan;
struct widget;
struct window;
struct wlist;

enum undo_type : int {
  UNDO_GROUP_BEGIN = 0,
  UNDO_GROUP_END = 1,
  UNDO_WINDOW = 2,  // exchange, instrument, link source, tools shown
  UNDO_QUOTE_POPUP = 3,
  UNDO_LAYOUT = 5,
  UNDO_REMOVED_WINDOW = 6,
  UNDO_NEW_WINDOW = 7,
  UNDO_ACTION_FLAG = 8,
  UNDO_DEFAULT_EXCHANGE = 9,
  UNDO_SCREEN_BARS = 10,
  UNDO_SCAN_DELETED = 13,
  UNDO_SCAN_SAVED = 14,
  UNDO_WLIST_DELETED = 15,
  UNDO_WLIST_CREATED = 16,
  UNDO_CHART_STYLE = 17,
  UNDO_TICKER = 18,
  UNDO_ZOOM = 19,
  UNDO_WLIST_REMOVE = 20,
  UNDO_WLIST_ADD = 21,
  UNDO_TOOLS_TOGGLE = 22,
  UNDO_CSTYLE_DELETED = 23,
  UNDO_CSTYLE_CREATED = 24,
  UNDO_QUICK_WINDOW = 25,
  UNDO_HELP = 26,
  UNDO_CONFIGBOX = 27,
  UNDO_TOOLBAR_ENTRY = 28,
  UNDO_WATCHLIST_SCAN = 29,
  UNDO_HILIGHT_WATCHED = 30,
  UNDO_MINI_QUOTE = 31,
  UNDO_MINI_QUOTES = 32,
  UNDO_SCREEN_STATE = 33,
  UNDO_INDEXLIST = 34,
  UNDO_DEPTHWIN = 35,
  UNDO_TRADELIST = 36,
  UNDO_HISTNEWS = 37,
  UNDO_NEWSTODAY = 38,
  UNDO_SEARCHWIN = 39,
  UNDO_DOCWIN = 40,
  UNDO_WINDOW_ROLE = 41,
  UNDO_TOOLS = 42,
  UNDO_GROUPBAR = 43,
  UNDO_DOCUMENT_HIDDEN = 44,
  UNDO_DOCUMENT_SHOWN = 45,
  UNDO_RSSWIN = 46,
  UNDO_RSS_FEED_DELETED = 47,
  UNDO_RSS_FEED_CREATED = 48,
  UNDO_RSS_FEED_SETTINGS = 49,
  UNDO_OPTIONLIST = 50,
  UNDO_STYLE_SIZE = 52,
  UNDO_WINDOW_LINK = 53,
  UNDO_NEW_SCAN = 54,
  UNDO_LIST_MOVE = 55,
  UNDO_TICKBAR = 56,
  UNDO_TERMINAL = 57,
  UNDO_ALERT = 60,
  UNDO_ALERT_ADDED = 61,
  UNDO_TYPES = 62,  // type numbers are below this
};

constexpr int kUndoRecords = 1000;  // ring slots; at most 999 records are held
constexpr int kUndoMiniQuotesMax = 25;

// Why a record is released.
enum undo_reason : int {
  UNDO_PERFORMED = 0,
  UNDO_CANCELLED = 1,
  UNDO_SHUTDOWN = 2,
  UNDO_DROPPED = 3,
};

// List kinds of UNDO_LIST_MOVE (the bases of the encoded action ids).
constexpr int32_t kUndoListWatchlists = 10000000;
constexpr int32_t kUndoListScans = 20000000;
constexpr int32_t kUndoListChartStyles = 30000000;
constexpr int32_t kUndoListFeeds = 40000000;

// ---- the owner seam ----
//
// save(object) copies what restore needs and returns it (null on failure:
// the record is withdrawn and the push returns -1; also the way to record
// nothing, e.g. a feed window that has no feed). restore(saved, object)
// puts it back: 0, or -1 (the failure is logged by undo and the step goes
// on). release(saved, reason) frees the copy; it runs exactly once per
// saved copy, after restore for reason 0.
//
// `object` is the pointer the push was given (a content widget, a ticker,
// a tool panel, a chart style, a mini quote, the watch bar, the group bar).
// Pushes that take plain values hand save a pointer to their argument
// record below (valid only during save) and restore gets a null object.
struct undo_record_ops {
  void *(*save)(void *object);
  int (*restore)(void *saved, void *object);
  void (*release)(void *saved, int reason);
};
// Installs (or with null removes) the ops of an owner's type. The types
// this module restores itself refuse ops (ERROR).
void undo_register_type(int type, const undo_record_ops *ops);
const undo_record_ops *undo_type_ops(int type);

// Argument records of the value pushes that go through ops.
struct undo_quote_popup_args { int32_t item; };                  // UNDO_QUOTE_POPUP
struct undo_toolbar_entry_args { int32_t slot; instr *old; };    // UNDO_TOOLBAR_ENTRY
struct undo_alert_args {                                         // UNDO_ALERT
  instr *instrument;
  int32_t low, high;
  uint64_t min_volume;
  uint32_t news, time_reset;
};
// UNDO_WATCHLIST_SCAN: the saved copy begins with this record, so that
// undo_forget_scan_source can reach the scan copy of every record.
struct undo_scan_copy {
  int32_t id;  // registered id of the content's scan, -1 when it was not registered
  scan *copy;  // a temporary copy; its source watchlist may be cleared by undo
};

// ---- the ring ----
// 0, or -1 when the ring can't be had ("can't alloc %d undos!").
int undo_init(void);
// Releases every record, newest first (reason 2), and frees the ring.
void undo_fini(void);
bool undo_can_undo();

int undo_begin();
int undo_end();  // -1 on underflow
// Undoes the newest step: 0, or -1 (nothing to undo, or a record whose
// screen has closed).
int undo_perform();
// Drops the newest step without restoring it.
int undo_cancel();
// Drops every record down to and including the newest of `type`; -1 and
// nothing dropped when there is none.
int undo_cancel_type(int type);
int undo_cancel_document();     // type 45
int undo_cancel_zoom();         // type 19
int undo_cancel_quick_window(); // type 25
int undo_cancel_help();         // type 26
int undo_cancel_configbox();    // type 27
// Called by watchlist deletion: the scan copies of type-29 records that
// have wl as their source forget it.
void undo_forget_scan_source(wlist *wl);
// Called as a window is deleted: records of it, its contents or tool
// panels, and layout snapshots that list it, restore nothing from then on
// (what they hold is released now).
void undo_forget_window(window *w);

// ---- pushes (0, or -1 where a second allocation failed) ----
// A group recording a whole window: the links that follow it, its role,
// its watchlist scan, feed and every content child, then its subject.
int undo_push_window(window *w);
int undo_push_quote_popup(int32_t item);
int undo_push_desktop_layout(desktop *d);
// Takes ownership of the snapshot.
int undo_push_layout_snapshot(desktop_layout *snapshot);
// Takes ownership of a window taken off its desktop.
int undo_push_removed_window(window *w);
// A window created by a split (stays owned by its desktop).
int undo_push_new_window(window *w);
int undo_push_action_flag(uint32_t old);
int undo_push_default_exchange(uint32_t old_id);
int undo_push_screen_bars();
int undo_push_scan_deleted(scan *s);
int undo_push_scan_saved(scan *s);
int undo_push_wlist_deleted(wlist *wl);
int undo_push_wlist_created(wlist *wl);
int undo_push_chart_style(widget *chart);
int undo_push_ticker(widget *ticker);
int undo_push_zoom();
int undo_push_wlist_remove(wlist *wl, instr *in, int32_t index);
int undo_push_wlist_add(wlist *wl, instr *in);
int undo_push_tools_toggle(window *w);
int undo_push_cstyle_deleted(cstyle *style);
int undo_push_cstyle_created(cstyle *style);
inline int undo_push_cstyle_removal(cstyle *style) { return undo_push_cstyle_deleted(style); }
inline int undo_push_cstyle_creation(cstyle *style) { return undo_push_cstyle_created(style); }
int undo_push_quick_window();
int undo_push_help();
int undo_push_configbox();
int undo_push_toolbar_entry(int32_t slot, instr *old);
int undo_push_watchlist_scan(widget *watchlist_content);
int undo_push_hilight_watched(uint32_t old);
int undo_push_mini_quote(widget *mini_quote);
int undo_push_mini_quotes(widget *watchbar);
int undo_push_screen_state();
int undo_push_indexlist(widget *content);
int undo_push_depthwin(widget *content);
int undo_push_tradelist(widget *content);
int undo_push_histnews(widget *content);
int undo_push_newstoday(widget *content);
int undo_push_searchwin(widget *content);
int undo_push_docwin(widget *content);
int undo_push_tools(widget *panel);
// The tool panel of `role` of w when w is a window (nothing otherwise).
int undo_push_window_tools(widget *w, uint32_t role);
int undo_push_groupbar(widget *groupbar);
int undo_push_document_hidden();
int undo_push_document_shown();
int undo_push_rsswin(widget *content);
int undo_push_rss_feed_deleted(rss_feed *feed);
int undo_push_rss_feed_created(rss_feed *feed);
int undo_push_rss_feed_settings(rss_feed *feed);
int undo_push_optionlist(widget *content);
int undo_push_style_size();
int undo_push_new_scan(scan *s);
// kind: one of kUndoList*; undo moves the entry at `to` back to `from`.
int undo_push_list_move(int32_t kind, int32_t from, int32_t to);
int undo_push_wlist_move(int32_t from, int32_t to);
int undo_push_scan_move(int32_t from, int32_t to);
int undo_push_cstyle_move(int32_t from, int32_t to);
int undo_push_rss_feed_move(int32_t from, int32_t to);
int undo_push_tickbar_was_on();
int undo_push_tickbar_was_off();
int undo_push_terminal(widget *content);
int undo_push_alert(const undo_alert_args *fields);
int undo_push_alert_added(void *alert);

// ---- for checks ----
int undo_depth();           // open groups
int undo_count();           // records held
int undo_type_at(int i);    // type of the i-th newest record (0 newest), -1 out of range
bool undo_undoing();
uint32_t undo_pushed_count();  // records pushed since start
