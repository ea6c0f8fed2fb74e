// User actions: the numbered commands of the toolbar buttons and the
// keyboard. Each one finds its window (the argument, else the focused
// window of the current desktop), pushes the undo records that take it back
// and then makes the change through the window, desktop and screen
// operations. Role changes with no window given run over every window of
// the current desktop in one undo group, skipping windows whose subject is
// of another class (a list window does not become a chart).
#include "action.h"

#include <cstring>
#include <vector>

#include "charts/cstyle.h"
#include "keyboard.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "log.h"
#include "rss/rss.h"
#include "screen/desktop.h"
#include "quick9.h"
#include "screen/screen.h"
#include "screen/tickbar.h"
#include "ssmodel.h"
#include "ssuser.h"
#include "style.h"
#include "config/configbox.h"
#include "tools/searchtools.h"
#include "ui/gui.h"
#include "undo.h"
#include "windows/depthwin.h"
#include "windows/rsswin.h"
#include "windows/titlebar.h"
#include "windows/watchlist.h"
#include "windows/docwin.h"
#include "windows/window.h"

static const char kSrc[] = "src/action";

static struct {
  uint32_t default_exchange;
  ss_exchange *default_record;
  uint32_t hilight_watched;
  uint32_t action_flag;
  int32_t last_chart_style;
} S = {0, nullptr, 0, 0, -1};

// The presets of actions 10-13: name, instrument filter, change filter,
// order (3 percent change, 5 volume, 6 turnover), reversed.
static const struct {
  const char *name;
  uint32_t instr_filter, change_filter, order;
  int reversed;
} kPresets[4] = {
    {"Top Rises", 1, 1, 3, 0},
    {"Top Falls", 1, 2, 3, 1},
    {"Top Volume", 3, 0, 5, 0},
    {"Top Turnover", 3, 0, 6, 0},
};

enum : uint32_t { kInstrStock = 1, kInstrIndex = 2, kInstrIssuer = 3 };

// ---- helpers ----

static desktop *current_desktop() { return screen_is_up() ? screen_current_desktop() : nullptr; }
static window *focused() { return desktop_get_focus(current_desktop()); }

static window *need_window(window *w) {
  if (!w) w = focused();
  if (!w) log(LOG_ERROR, kSrc, "need a window");
  return w;
}

static void redraw() {
  if (screen_is_up()) screen_request_redraw();
}

static const char *exchange_name(uint32_t id) {
  ss_exchange *ex = ssmodel_exchange(int32_t(id));
  return ex ? ex->name : "?";
}

static int role_class(uint32_t kind) {
  if (kind >= 1 && kind <= 3) return 0;
  if (kind == 4 || kind == 5) return 1;
  return 2;
}

static uint32_t instr_kind(const instr *in) { return in ? in->kind : 0; }

// Ends a group that came to nothing and drops what it recorded.
static void end_and_cancel() {
  undo_end();
  if (undo_depth() == 0 && undo_type_at(0) == UNDO_GROUP_END) undo_cancel();
}

static watchlist *list_content(window *w) {
  widget *c = w ? w->child[kWinWatchlist] : nullptr;
  return watchlist_is(c) ? static_cast<watchlist *>(c) : nullptr;
}

static void show_scan(window *w, scan *s) {
  if (list_content(w)) window_set_wlist(w, s);
}

static void show_list_source(window *w, wlist *wl) {
  if (list_content(w)) window_set_list_source(w, wl);
}

// ---- process-wide settings ----

uint32_t action_default_exchange() { return S.default_exchange; }

ss_exchange *action_default_exchange_record() {
  if (!S.default_record) S.default_record = ssmodel_exchange(int32_t(S.default_exchange));
  return S.default_record;
}

int action_set_default_exchange(uint32_t id) {
  if (ssuser_exchange_permitted(int32_t(id))) {
    S.default_exchange = id;
    S.default_record = nullptr;
  } else {
    log(LOG_ERROR, kSrc, "won't set default exchange to %s", exchange_name(id));
  }
  return 0;
}

int action_change_default_exchange(uint32_t id) {
  if (id == S.default_exchange) return 0;
  if (!ssuser_exchange_permitted(int32_t(id))) {
    log(LOG_ERROR, kSrc, "won't change default exchange to %s", exchange_name(id));
    return 0;
  }
  ss_exchange *ex = ssmodel_exchange(int32_t(id));
  if (!ex) {
    log(LOG_ERROR, kSrc, "can't find exchange %d", int(id));
    return -1;
  }
  undo_begin();
  undo_push_default_exchange(S.default_exchange);
  action_set_default_exchange(id);
  window *f = focused();
  if (f && f->exchange != ex) {
    undo_push_window(f);
    window_set_exchange_plain(f, ex);
  }
  undo_end();
  redraw();
  return 1;
}

int action_set_hilight_watched(uint32_t value) {
  if (value == S.hilight_watched) return 0;
  S.hilight_watched = value;
  gui_invalidate_window(-1);
  return 1;
}

int action_toggle_hilight_watched() {
  undo_push_hilight_watched(S.hilight_watched);
  action_set_hilight_watched(S.hilight_watched ? 0 : 1);
  return 1;
}

uint32_t action_hilight_watched() { return S.hilight_watched; }
void action_set_action_flag(uint32_t value) { S.action_flag = value; }
uint32_t action_action_flag() { return S.action_flag; }
void action_set_last_chart_style(int32_t id) { S.last_chart_style = id; }
int32_t action_last_chart_style() { return S.last_chart_style; }

// ---- over windows ----

int action_for_windows(window *w, action_step_fn step, const void *args) {
  if (w) return step(w, args, 0) > 0 ? 1 : 0;
  desktop *d = current_desktop();
  if (!d) return 0;
  int changed = 0;
  undo_begin();
  for (window *o : desktop_windows(d->child))
    if (step(o, args, 1) > 0) changed = 1;
  undo_end();
  return changed;
}

static int role_step(window *w, const void *args, int all) {
  uint32_t role = *static_cast<const uint32_t *>(args);
  if (role == kRoleTradechart && instr_kind(w->instrument) == kInstrIndex) role = kRoleIndexchart;
  if (all && role_class(window_role_subject_kind(w->role, w->instrument)) !=
                 role_class(window_role_subject_kind(role, w->instrument)))
    return 0;
  if (w->role == role) return 0;
  undo_push_window(w);
  window_set_role(w, role);
  return 1;
}

int action_set_window_role(window *w, uint32_t role) { return action_for_windows(w, role_step, &role); }

static int depth_step(window *w, const void *args, int) {
  const uint32_t mode = *static_cast<const uint32_t *>(args);
  widget *depth = w->child[kWinDepth];
  if (w->role == kRoleDepth && (!depth || depthwin_get_show_mode(depth) == mode)) return 0;
  undo_push_window(w);
  window_set_role(w, kRoleDepth);
  if (depth) depthwin_set_show_mode(depth, mode);
  return 1;
}

int action_show_depth(window *w, uint32_t mode) { return action_for_windows(w, depth_step, &mode); }

// The issuer a profile shows for what the window holds; false when the
// window's instrument has no profile (an index).
static bool profile_issuer(const window *w, instr **issuer) {
  instr *in = w->instrument;
  *issuer = nullptr;
  if (!in) return true;
  if (in->kind == kInstrIssuer) {
    *issuer = in;
    return true;
  }
  if (in->kind != kInstrStock) return false;
  *issuer = ssmodel_find_issuer(in->exchange, static_cast<ss_stock *>(in)->issuer);
  return true;
}

static int profile_step(window *w, const void *, int) {
  instr *issuer;
  if (!profile_issuer(w, &issuer)) return 0;
  if (w->role == kRoleDocument && issuer && w->instrument == issuer) return 0;
  undo_push_window(w);
  // The document role with the issuer, whose company profile the document
  // child then shows (none without an issuer).
  window_set_role(w, kRoleDocument);
  window_set_instrument(w, issuer);
  if (issuer) docwin_show_profile(w->child[kWinDoc], issuer);
  return 1;
}

int action_show_profile(window *w) { return action_for_windows(w, profile_step, nullptr); }

static int google_step(window *w, const void *, int) {
  // Recorded before the window takes its last stock, so that one undo
  // returns it to showing nothing.
  undo_push_window(w);
  if (!w->instrument && w->last_stock) window_set_instrument(w, w->last_stock);
  window_set_role(w, kRoleGoogle);
  if (w->child[kWinGoogle]) rsswin_show_instr_news(w->child[kWinGoogle], w->instrument);
  window_update_title(w);
  return 1;
}

int action_show_google(window *w) { return action_for_windows(w, google_step, nullptr); }

int action_show_alerts(window *w) {
  if (!(w = need_window(w))) return -1;
  if (w->role == kRoleAlerts) return 0;
  undo_push_window(w);
  if (ss_exchange *ex = action_default_exchange_record()) window_set_exchange_plain(w, ex);
  window_set_role(w, kRoleAlerts);
  return 1;
}

int action_show_option_list(window *w) { return action_set_window_role(w, kRoleOptionlist); }

struct chart_args {
  int32_t id;  // -1: no style in the list
  bool copy;   // the chart key: each window takes its own copy
};

static int chart_step(window *w, const void *args, int) {
  const chart_args &a = *static_cast<const chart_args *>(args);
  cstyle *style = cstyle_find(a.id);
  if (!style && a.id != -1) {
    log(LOG_WARN, kSrc, "can't find chart style %d", int(a.id));
    return 0;
  }
  cstyle *own = nullptr;  // a private style made here for this window
  if (!style)
    style = own = cstyle_alloc();
  else if (a.copy)
    style = own = cstyle_clone(style);
  undo_push_window(w);
  window_set_role(w, kRoleChart);
  if (style) window_set_chart(w, style);
  // A private style nobody took is not kept.
  if (own && window_get_chart(w) != own) cstyle_delete(own);
  return 1;
}

int action_show_chart_style(window *w, int32_t id) {
  bool copy = false;
  if (id == -1) {
    // The chart key: a copy of the style it showed last, else of the first
    // in the list.
    if (S.last_chart_style != -1 && !cstyle_find(S.last_chart_style)) {
      log(LOG_WARN, kSrc, "chart style %d doesn't exist anymore", int(S.last_chart_style));
      S.last_chart_style = -1;
    }
    id = S.last_chart_style != -1 ? S.last_chart_style : cstyle_id_at(0);
    copy = true;
  }
  S.last_chart_style = id;
  const chart_args a = {id, copy};
  return action_for_windows(w, chart_step, &a);
}

// ---- one window ----

int action_set_exchange(window *w, uint32_t id) {
  if (!ssuser_exchange_permitted(int32_t(id))) {
    log(LOG_ERROR, kSrc, "won't change default exchange to %s", exchange_name(id));
    return 0;
  }
  if (!w) return action_change_default_exchange(id);
  ss_exchange *ex = ssmodel_exchange(int32_t(id));
  if (!ex) {
    log(LOG_ERROR, kSrc, "can't find exchange %d", int(id));
    return -1;
  }
  if (w->exchange == ex) return 0;
  undo_push_window(w);
  window_set_exchange_plain(w, ex);
  return w->exchange == ex ? 1 : -1;
}

int action_swap_exchange(window *w) {
  if (!ssuser_multi_exchange()) {
    log(LOG_ERROR, kSrc, "won't swap exchanges");
    return 0;
  }
  if (!(w = need_window(w))) return -1;
  ss_exchange *one = ssmodel_exchange(1);
  ss_exchange *to = w->exchange == one ? ssmodel_exchange(0) : one;
  undo_push_window(w);
  window_set_exchange_plain(w, to);
  return 1;
}

int action_force_exchange(window *w, ss_exchange *ex) {
  if (!(w = need_window(w))) return -1;
  undo_push_window(w);
  window_set_exchange_forced(w, ex);
  return 1;
}

int action_set_instrument(window *w, instr *in) {
  if (!(w = need_window(w))) return -1;
  undo_push_window(w);
  window_set_instrument(w, in);
  return 0;
}

static bool takes(const window *w, const instr *in) {
  switch (instr_kind(in)) {
    case kInstrStock:
      switch (w->role) {
        case kRoleDepth: case kRoleTradechart: case kRoleEventlist: case kRoleHistnews:
        case kRoleNewstoday: case kRoleSearch: case kRoleOptionlist: case kRoleGoogle:
          return true;
        case kRoleDocument:
          // A document window follows a stock only while it shows a profile.
          return docwin_get_profile_issuer(w->child[kWinDoc]) != nullptr || !docwin_has_document(w->child[kWinDoc]);
        default:
          return false;
      }
    case kInstrIndex: return w->role == kRoleIndexchart || w->role == kRoleChart;
    case kInstrIssuer: return w->role == kRoleHistnews || w->role == kRoleDocument;
    default: return false;
  }
}

int action_show_everywhere(instr *in) {
  desktop *d = current_desktop();
  if (!d || !in) return 0;
  undo_begin();
  for (window *w : desktop_windows(d->child)) {
    if (!takes(w, in)) continue;
    undo_push_window(w);
    window_set_instrument(w, in);
  }
  undo_end();
  return 0;
}

int action_page_document(window *w, int delta) {
  if (!(w = need_window(w))) return -1;
  if (w->role != kRoleDocument || !w->child[kWinDoc]) return 0;
  const uint32_t before = undo_pushed_count();
  undo_push_docwin(w->child[kWinDoc]);
  // A step past either end leaves the page (the window flashes) and the
  // record is taken back.
  if (docwin_goto_page(w->child[kWinDoc], docwin_get_page(w->child[kWinDoc]) + delta) != 0 &&
      undo_pushed_count() != before)
    undo_cancel();
  return 0;
}

int action_new_chart_style(window *w) {
  if (!(w = need_window(w))) return -1;
  // A new registered style under a free default name, in the chart list.
  cstyle *style = cstyle_new(nullptr, 0);
  if (!style) {
    log(LOG_ERROR, kSrc, "can't add new chart style");
    return -1;
  }
  undo_begin();
  undo_push_window(w);
  undo_push_cstyle_created(style);
  window_set_role(w, kRoleChart);
  window_set_chart(w, style);
  window_show_tools(w);
  undo_end();
  if (screen_is_up()) screen_toolbars_rebuild_list2();
  redraw();
  return 1;
}

int action_new_watchlist(window *w) {
  if (!(w = need_window(w))) return -1;
  wlist *wl = wlist_create(nullptr, 0);
  if (!wl) {
    log(LOG_ERROR, kSrc, "can't create new watchlist");
    return -1;
  }
  undo_begin();
  undo_push_window(w);
  undo_push_wlist_created(wl);
  window_set_role(w, kRoleWatchlist);
  show_list_source(w, wl);
  undo_end();
  if (screen_is_up()) screen_desktops_changed();
  return 1;
}

int action_show_watchlist(window *w, int32_t id) {
  if (!(w = need_window(w))) return -1;
  wlist *wl = wlist_find(id);
  if (!wl) {
    log(LOG_ERROR, kSrc, "can't find watchlist %d", int(id));
    return -1;
  }
  undo_push_window(w);
  window_set_role(w, kRoleWatchlist);
  show_list_source(w, wl);
  return 1;
}

int action_new_scan(window *w) {
  if (!(w = need_window(w))) return -1;
  scan *s = scan_new_temp();
  if (!s) {
    log(LOG_ERROR, kSrc, "can't create new scan");
    return -1;
  }
  scan_set_name(s, nullptr);
  undo_begin();
  undo_push_window(w);
  undo_push_new_scan(s);
  window_set_role(w, kRoleWatchlist);
  show_scan(w, s);
  undo_end();
  if (screen_is_up()) screen_desktops_changed();
  return 1;
}

int action_show_scan(window *w, int32_t id) {
  if (!(w = need_window(w))) return -1;
  scan *s = scan_find(id);
  if (!s) {
    log(LOG_ERROR, kSrc, "can't find scan %d", int(id));
    return -1;
  }
  if (watchlist *c = list_content(w))
    if (scan *shown = watchlist_get_scan(c))
      if (scan_equal(shown, s) && scan_id(shown) == scan_id(s)) return 0;
  undo_push_window(w);
  window_set_role(w, kRoleWatchlist);
  show_scan(w, s);
  return 1;
}

int action_open_preset_scan(window *w, ss_exchange *ex, const char *name, uint32_t instr_filter,
                            uint32_t change_filter, uint32_t order, int reversed) {
  if (!ex) action_default_exchange_record();
  if (!(w = need_window(w))) return -1;
  scan *s = scan_new_preset(name);
  if (!s) {
    log(LOG_ERROR, kSrc, "can't create %s scan", name);
    return -1;
  }
  scan_set_name(s, name);
  scan_set_instr_filter(s, instr_filter);
  scan_set_change_filter(s, change_filter);
  scan_set_order(s, order);
  scan_set_reversed(s, reversed);
  undo_push_window(w);
  window_set_role(w, kRoleWatchlist);
  show_scan(w, s);
  return 1;
}

int action_open_preset(window *w, int32_t id) {
  if (id < 10 || id > 13) return -1;
  const auto &p = kPresets[id - 10];
  return action_open_preset_scan(w, action_default_exchange_record(), p.name, p.instr_filter,
                                 p.change_filter, p.order, p.reversed);
}

static int show_on_exchange(window *w, ss_exchange *ex, uint32_t role) {
  if (!(w = need_window(w))) return -1;
  if (!ex) ex = action_default_exchange_record();
  if (w->role == role && w->exchange == ex) return 0;
  undo_push_window(w);
  if (ex) window_set_exchange_plain(w, ex);
  window_set_role(w, role);
  return 1;
}

int action_show_index_list(window *w, ss_exchange *ex) { return show_on_exchange(w, ex, kRoleIndexlist); }
int action_show_announcements(window *w, ss_exchange *ex) {
  return show_on_exchange(w, ex, kRoleNewstoday);
}

int action_new_rss_feed(window *w) {
  if (!(w = need_window(w))) return -1;
  rss_feed *feed = rss_feed_create_temp(nullptr, 600);
  if (!feed) {
    log(LOG_ERROR, kSrc, "can't add new feed");
    return -1;
  }
  undo_begin();
  undo_push_window(w);
  undo_push_rss_feed_created(feed);
  window_set_role(w, kRoleRss);
  window_set_instrument(w, nullptr);
  if (w->child[kWinRss]) rsswin_set_feed(w->child[kWinRss], feed);
  window_show_tools(w);
  window_update_title(w);
  undo_end();
  redraw();
  return 1;
}

int action_show_rss_feed(window *w, int32_t id) {
  if (!(w = need_window(w))) return -1;
  rss_feed *feed = rss_feed_find(id);
  if (!feed) {
    log(LOG_ERROR, kSrc, "can't get rss feed %d", int(id));
    return -1;
  }
  undo_push_window(w);
  window_set_instrument(w, nullptr);
  window_set_role(w, kRoleRss);
  if (w->child[kWinRss]) rsswin_set_feed(w->child[kWinRss], feed);
  return 1;
}

int action_search(window *w) {
  if (!current_desktop()) return 0;
  if (!(w = w ? w : focused())) return 0;
  if (keyboard_is_active()) keyboard_deactivate();
  undo_begin();
  window_set_role(w, kRoleSearch);
  window_show_tools(w);
  undo_end();
  // The panel waits with an empty keyword field that has the keyboard.
  searchtools_clear(window_get_tools(w, kRoleSearch));
  return 1;
}

int action_start_entry(window *) {
  if (keyboard_is_active()) return -1;
  if (screen_is_up() && (screen_bars_shown() & BAR_POPUP_DOCUMENT)) {
    undo_push_document_hidden();
    screen_hide_bars(BAR_POPUP_DOCUMENT);
  }
  keyboard_activate();
  return 1;
}

// ---- the desktop ----

int action_link_split(window *w, int kind, int linked) {
  if (!w) w = focused();
  if (!w) {
    log(LOG_ERROR, kSrc, "no focused window?");
    return -1;
  }
  if (linked) {
    uint32_t k = window_subject_kind(w);
    if (k < 1 || k > 3) {
      log(LOG_WARN, kSrc, "won't link-split a window with no subject");
      linked = 0;
    }
  }
  int rows = 0, cols = 0;
  switch (kind) {
    case 19: rows = 2, cols = 1; break;
    case 20: rows = 1, cols = 2; break;
    case 21: rows = 2, cols = 2; break;
    case 22: rows = 2, cols = 1; break;
    case 23: rows = 3, cols = 1; break;
    case 24: rows = 1, cols = 3; break;
    case 25: rows = 3, cols = 2; break;
    case 26: rows = 2, cols = 3; break;
    case 28: rows = 3, cols = 3; break;
    default: break;
  }
  desktop *d = desktop_of_widget(w);
  if (!d) d = current_desktop();
  undo_begin();
  if (d) undo_push_desktop_layout(d);
  window **made = rows && d ? desktop_split(d, w, rows, cols) : nullptr;
  if (!made) {
    end_and_cancel();
    return 0;
  }
  // The split's list is kept only until the next split.
  std::vector<window *> panes;
  for (int i = 1; i < rows * cols; i++) panes.push_back(made[i]);
  if (kind == 22) {
    window **second = desktop_split(d, panes[0], 1, 2);
    if (!second) {
      undo_end();
      undo_perform();
      return -1;
    }
    panes.push_back(second[1]);
    if (w->role == kRoleDepth) {
      window_set_role(panes[0], kRoleTradelist);
      window_set_role(panes[1], kRoleChart);
    } else {
      window_set_role(panes[1], kRoleDepth);
    }
  }
  undo_end();
  if (linked)
    for (window *p : panes) window_link_to(w, p);
  return 1;
}

int action_keep_only() {
  desktop *d = current_desktop();
  if (!d) return -1;
  std::vector<window *> ws = desktop_windows(d->child);
  if (ws.empty()) return -1;
  window *kept = d->focus ? d->focus : ws[0];
  if (ws.size() == 1) {
    undo_push_window(kept);
    window_set_role(kept, kRoleNone);
    window_set_instrument(kept, nullptr);
    show_scan(kept, nullptr);
    return 0;
  }
  undo_begin();
  undo_push_desktop_layout(d);
  desktop_keep_only(d, kept);  // records every other window as it takes it off
  undo_end();
  return 0;
}

int action_snap() {
  desktop *d = current_desktop();
  if (!d) return 0;
  undo_push_desktop_layout(d);
  desktop_snap_ratios(d);
  return 0;
}

int action_zoom(window *w) {
  if (!(w = need_window(w))) return -1;
  undo_push_zoom();
  screen_zoom_window(w);
  return 0;
}

int action_unzoom() {
  screen_unzoom();
  return 0;
}

int action_toggle_tools(window *w) {
  if (!(w = need_window(w))) return -1;
  undo_push_tools_toggle(w);
  window_toggle_tools(w);
  return 0;
}

int action_sync_tools(window *w) {
  if (!(w = need_window(w))) return -1;
  desktop *d = current_desktop();
  if (!d) return 0;
  const uint32_t shown = w->show_tools;
  undo_begin();
  for (window *o : desktop_windows(d->child)) {
    if ((o->show_tools != 0) != (shown != 0)) continue;
    undo_push_tools_toggle(o);
    window_toggle_tools(o);
  }
  undo_end();
  return 0;
}

// ---- the screen ----

int action_toggle_bars(uint32_t mask) {
  undo_push_screen_bars();
  if (screen_bars_shown() & mask) screen_hide_bars(mask);
  else screen_show_bars(mask);
  redraw();
  return 1;
}

static bool tickbar_on() { return (screen_bars_shown() & BAR_TICKBAR) != 0; }

static int set_tickbar(bool on) {
  if (tickbar_on()) undo_push_tickbar_was_on();
  else undo_push_tickbar_was_off();
  if (widget *tb = screen_tickbar()) tickbar_set_on(tb, on ? 1 : 0);
  return 1;
}

int action_tickbar_on() { return set_tickbar(true); }
int action_tickbar_off() { return set_tickbar(false); }
int action_toggle_tickbar() { return set_tickbar(!tickbar_on()); }

int action_switch_desktop(int n) {
  undo_push_screen_bars();
  screen_switch_desktop(n);
  return 1;
}

int action_step_desktop(int direction) {
  undo_push_screen_bars();
  if (direction < 0) screen_prev_desktop();
  else screen_next_desktop();
  return 1;
}

int action_toggle_screen(int n) {
  if (n < 0 || n >= kScreens) return 0;
  // Closing the only open screen would leave nothing to press: the
  // connection page is shown instead, as for closing it.
  if (screen_is_open(n) && screen_count_open() == 1 && screen_window_state(n) == 0)
    return action_close_screen(n);
  screen_force_context(n);
  undo_push_screen_state();
  const int state = screen_window_state(n);
  if (state == 0) screen_close(n);
  else if (state == 1 || state == 2) screen_set_state(n, 0);
  else screen_open(n);
  screen_pop();
  return 1;
}

int action_close_screen(int n) {
  if (!screen_is_open(n)) return 0;
  if (screen_count_open() == 1) {
    screen_open_configbox_state();
    return 0;
  }
  screen_force_context(n);
  undo_push_screen_state();
  screen_close(n);
  screen_pop();
  return 1;
}

int action_logout_box() {
  screen_open_configbox_state();
  return 1;
}

int action_undo() {
  if (!undo_can_undo()) return 0;
  keyboard_deactivate();
  return undo_perform();
}

int action_show_quick() {
  if (screen_bars_shown() & BAR_QUICK) return 0;
  undo_push_quick_window();
  screen_show_quick_window();
  return 1;
}

int action_show_help(int topic) {
  if (screen_bars_shown() & BAR_HELP) return 0;
  if (screen_configbox_shown()) screen_hide_configbox();
  undo_push_help();
  screen_show_help(topic);
  return 1;
}

static int show_configbox(void (*page)(configbox *)) {
  if (screen_configbox_shown()) return 0;
  if (screen_bars_shown() & BAR_HELP) screen_hide_help();
  undo_push_configbox();
  if (configbox *b = screen_configbox()) page(b);
  screen_show_configbox();
  return 1;
}

int action_show_about() { return show_configbox(configbox_show_about); }
// The Settings button toggles the dialog: pressed while it is up, it goes
// (and so does the record that would have taken it away).
int action_show_settings() {
  if (screen_configbox_shown()) {
    undo_cancel_configbox();
    screen_hide_configbox();
    return 0;
  }
  return show_configbox(configbox_show_online);
}

int action_size_up() {
  if (style_size() >= 4) return -1;
  undo_push_style_size();
  style_size_up();
  return 0;
}

int action_size_down() {
  if (style_size() <= 0) return -1;
  undo_push_style_size();
  style_size_down();
  return 0;
}

static int set_size(int size) {
  if (style_size() == size) return 0;
  undo_push_style_size();
  style_set_size(size);
  return 0;
}

// ---- by id ----

static int speed_pad(window *w, int slot) {
  instr *in = quick9_get(slot);
  if (!in) return -1;
  if (!w) return action_show_everywhere(in);
  undo_push_window(w);
  window_set_instrument(w, in);
  return 0;
}

int action_perform(window *w, int32_t id) {
  if (id >= kActionWatchlist && id < kActionScan) return action_show_watchlist(w, id - kActionWatchlist);
  if (id >= kActionScan && id < kActionChartStyle) return action_show_scan(w, id - kActionScan);
  if (id == kActionChartStyle) return action_set_window_role(w, kRoleChart);
  if (id > kActionChartStyle && id < kActionFeed) return action_show_chart_style(w, id - kActionChartStyle);
  if (id >= kActionFeed && id < kActionFeed + 10000000) return action_show_rss_feed(w, id - kActionFeed);
  switch (id) {
    case 0: case 15: return 0;
    case 1: return action_search(w);
    case 2: return action_show_profile(w);
    case 3: return action_show_depth(w, 3);
    case 4: return action_set_window_role(w, kRoleTradelist);
    case 5: return action_set_window_role(w, kRoleEventlist);
    case 7: return action_set_window_role(w, kRoleHistnews);
    case 8:
      undo_push_action_flag(S.action_flag);
      S.action_flag = S.action_flag ? 0 : 1;
      redraw();
      return 1;
    case 9: return action_show_announcements(w, action_default_exchange_record());
    case 10: case 11: case 12: case 13: return action_open_preset(w, id);
    case 14: return action_show_index_list(w, action_default_exchange_record());
    case 16: return action_set_exchange(w, 0);
    case 17: return action_set_exchange(w, 1);
    case 18: return action_swap_exchange(w);
    case 19: case 20: case 21: case 22: case 23: case 24: case 25: case 26: case 28:
      return action_link_split(w, id, 0);
    case 29: return action_keep_only();
    case 30: return action_snap();
    case 35: return action_step_desktop(-1);
    case 36: return action_step_desktop(1);
    case 37: return action_toggle_bars(BAR_MINIBAR);
    case 38: return action_toggle_tickbar();
    case 39: return action_toggle_bars(BAR_WATCHBAR);
    case 41: return action_toggle_bars(BAR_TOOLBAR0);
    case 42: return action_toggle_bars(BAR_TOOLBAR1);
    case 43: return action_undo();
    case 44: return action_show_settings();
    case 45: return action_show_about();
    case 46: {
      // The help opens on the topic of the window's role.
      window *t = w ? w : focused();
      return action_show_help(t ? int(t->role) : 0);
    }
    case 47: return action_logout_box();
    case 48: action_toggle_tools(w); return 0;
    case 49: action_zoom(w); return 0;
    case 50: return action_new_rss_feed(w);
    case 51: return action_new_watchlist(w);
    case 52: return action_new_scan(w);
    case 53: return action_new_chart_style(w);
    case 54: return action_show_depth(w, 1);
    case 55: return action_show_depth(w, 2);
    case 60: case 61: case 62: case 63: return action_toggle_screen(id - 60);
    case 70:
      if (screen_window_shown()) screen_hide_window();
      else screen_show_window();
      return 1;
    case 71: screen_minimise(); return 1;
    case 72: screen_maximise(); return 1;
    case 73: screen_restore(); return 1;
    case 74:
      if (screen_is_maximised()) screen_restore();
      else screen_maximise();
      return 1;
    case 80: action_set_window_role(w, kRoleOptionlist); return 0;
    case 81: action_set_window_role(w, kRoleForexlist); return 0;
    case 82: action_show_google(w); return 0;
    case 83: return action_link_split(w, 19, 1);
    case 84: return action_link_split(w, 20, 1);
    case 91: case 92: case 93: case 94: case 95: case 96: case 97: case 98: case 99:
      return speed_pad(w, id - 91);
    case 110: case 111: case 112: case 113: case 114: return set_size(id - 110);
    case 140: action_show_alerts(w); return 0;
    default: return -1;
  }
}
