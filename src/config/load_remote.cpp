// Loading the user configuration kept on the server. The stored copy is
// inflated (or taken as plain text when it begins "version "), parsed into
// the configuration tree and walked in the order it was written; each owner
// reads its own block. The part that needs no window (the text, the
// settings, quick keys, watchlists, scans and feeds) is remote_records.
// Numbers read from the copy that index something (a window's parent, a
// desktop, a focused window, a screen) are checked and skipped with an
// ERROR line, so a damaged or hostile copy costs an entry, never memory
// safety. A user with no stored copy starts on an empty
// configuration; a copy that cannot be read at all is kept untouched on the
// server for the session (no saves over it), and the user starts on the
// defaults.
#include "config/load_remote.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "action.h"
#include "charts/cstyle.h"
#include "config/autosave.h"
#include "config/config.h"
#include "config/enum.h"
#include "config/migrate_desktop.h"
#include "config/remote_records.h"
#include "config/save_remote.h"
#include "config/upgrade.h"
#include "dalloc.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "log.h"
#include "plat.h"
#include "screen/minibar.h"
#include "screen/miniquote.h"
#include "screen/screen.h"
#include "screen/splitter.h"
#include "screen/tickbar.h"
#include "screen/watchbar.h"
#include "term/terminal.h"
#include "tools/toolbar.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "ssmsg.h"
#include "ssuser.h"
#include "style.h"
#include "ui/gui.h"
#include "windows/alertlist.h"
#include "windows/alerts.h"
#include "windows/depthbars.h"
#include "windows/depthwin.h"
#include "windows/docwin.h"
#include "windows/histnews.h"
#include "windows/indexlist.h"
#include "windows/newstoday.h"
#include "windows/optionlist.h"
#include "windows/rsswin.h"
#include "windows/searchwin.h"
#include "windows/tradelist.h"
#include "windows/watchlist.h"
#include "windows/window.h"

static const char kSrc[] = "src/config/load_remote";

constexpr int32_t kMaxWindowSide = 10000;
constexpr int32_t kMonitorInset = 40;
constexpr int32_t kMaxParent = 256;
constexpr size_t kFirstConfigMax = 2048;  // the first configuration's text

static struct {
  int off;          // "--noload"
  int loaded;
  int keep_stored;  // the stored copy could not be read: no server saves
  int version;
  int windows_read;  // in this load, for the core-lock releases
  int32_t states[kScreens];      // remembered minimised (1) / maximised (2)
  window* zoom[kScreens];        // zoomed after the next redraw
} S;

void load_remote_enable(int on) { S.off = !on; }
int load_remote_done(void) { return S.loaded; }
int load_remote_keep_stored(void) { return S.keep_stored; }

void load_remote_reset(void) {
  S.loaded = 0;
  S.keep_stored = 0;
  S.version = 0;
  S.windows_read = 0;
  for (int i = 0; i < kScreens; i++) {
    S.states[i] = 0;
    S.zoom[i] = nullptr;
  }
}

static bool visible(instr* in) { return in && ssuser_can_see(in); }

// ---- windows ----

static void read_depthwin(widget* c) {
  if (!config_enter("depthwin")) return;
  const int has_bars = config_get("show_bars") != nullptr, bars = config_get_bool("show_bars");
  const int has_table = config_get("show_table") != nullptr, table = config_get_bool("show_table");
  uint32_t mode = 0;
  if (bars || (has_table && !table) || (!has_bars && !has_table)) mode |= 1u;
  if (table || (has_bars && !bars)) mode |= 2u;
  depthwin_set_show_mode(c, mode);
  if (config_get("show_age")) depthwin_set_show_age(c, config_get_bool("show_age"));
  if (config_get("show_trades")) depthwin_set_show_trades(c, config_get_bool("show_trades"));
  int32_t v = config_get_int("group_by");
  if (config_found()) depthwin_set_group_by(c, v);
  v = config_get_int("height");
  if (config_found() && v >= 0) depthwin_set_height(c, uint32_t(v));
  if (config_get_bool("non_realtime")) depthwin_set_non_realtime(c, 1);
  double d = config_get_double("speedup");
  if (config_found() && d > 0) depthwin_set_speedup(c, float(d));
  d = config_get_double("delay");
  if (config_found() && d >= 0) depthwin_set_delay(c, float(d));
  if (config_enter("age_split")) {
    while (config_next()) {
      int32_t i = config_arg_int(0);
      if (i != 0) {
        log(LOG_ERROR, kSrc, "no age split %d", i);
        continue;
      }
      int32_t type = config_get_int("type"), count = config_get_int("count");
      if (type >= 0 && count >= 0) depthwin_set_age_split(c, 0, uint32_t(type), uint32_t(count));
      int32_t custom = config_get_int("custom");
      if (config_found()) depthwin_set_age_split_custom(c, 0, custom);
    }
    config_leave();
  }
  v = config_get_int("thickness");
  if (config_found()) {
    if (depthwin_child* bars = depthwin_get_book(c)->bars) depthbars_set_thickness(bars, v);
  }
  config_leave();
  depthwin_restart(c);
}

static void read_tradelist(widget* c) {
  tradelist* t = tradelist_cast(c);
  if (config_get("tradelist.off_market")) tradelist_set_off_market(t, config_get_bool("tradelist.off_market"));
  if (config_get("tradelist.vwap_only")) tradelist_set_vwap_only(t, config_get_bool("tradelist.vwap_only"));
  if (config_get("tradelist.pre_open")) tradelist_set_pre_open(t, config_get_bool("tradelist.pre_open"));
  if (config_get("tradelist.closed")) tradelist_set_closed(t, config_get_bool("tradelist.closed"));
  tradelist_set_no_grouping(t);
  const int32_t seconds = config_get_int("tradelist.group_by_seconds");
  if (config_get_bool("tradelist.group_by_price"))
    tradelist_set_group_by_price(t, 1);
  else if (seconds > 0)
    tradelist_set_group_by_seconds(t, uint32_t(seconds));
}

// Shows every exchange, then hides each "hide_exchange" cell's.
template <typename F>
static void read_hidden_exchanges(const char* key, F set_shown) {
  for (int i = 0; i < 4; i++) set_shown(i, 1);
  if (!config_enter(key)) return;
  while (config_next())
    if (ss_exchange* ex = config_arg_exchange(0))
      for (int i = 0; i < 4; i++)
        if (ssmodel_exchange(i) == ex) set_shown(i, 0);
  config_leave();
}

static void read_role_keys(window* w) {
  const uint32_t role = window_get_role(w);
  widget* c = window_get_content(w, role);
  if (config_get("depthwin")) {
    if (widget* d = window_get_content(w, kRoleDepth)) read_depthwin(d);
  }
  if (!c) return;
  switch (role) {
    case kRoleTradelist: read_tradelist(c); break;
    case kRoleHistnews: histnews_config_load(c); break;
    case kRoleNewstoday: newstoday_config_load(c); break;
    case kRoleIndexlist: {
      indexlist* l = indexlist_cast(c);
      if (!l) break;
      if (config_get("indexlist.index_filter")) indexlist_set_index_filter(l, config_get_hex("indexlist.index_filter"));
      int32_t v = config_get_int("indexlist.order");
      if (config_found() && v >= 0) indexlist_set_order(l, uint32_t(v));
      if (config_get("indexlist.reversed")) indexlist_set_reversed(l, config_get_bool("indexlist.reversed"));
      read_hidden_exchanges("indexlist.hide_exchange", [l](int i, int on) { indexlist_set_exchange_shown(l, i, on); });
      break;
    }
    case kRoleOptionlist: {
      optionlist* o = optionlist_cast(c);
      if (!o) break;
      if (config_get("optionlist.filter")) optionlist_set_filter(o, config_get_hex("optionlist.filter"));
      int32_t v = config_get_int("optionlist.max_expiry_months");
      if (config_found() && v >= 0) optionlist_set_max_expiry_months(o, uint32_t(v));
      v = config_get_int("optionlist.order");
      if (config_found() && v >= 0) optionlist_set_order(o, uint32_t(v));
      break;
    }
    case kRoleAlerts: {
      int32_t v = config_get_int("alerts.order");
      if (config_found() && v >= 0) alerts_set_order(c, uint32_t(v));
      v = config_get_int("alerts.fired_filter");
      if (config_found() && v >= 0) alerts_set_fired_filter(c, uint32_t(v));
      v = config_get_int("alerts.trigger_filter");
      if (config_found() && v >= 0) alerts_set_trigger_filter(c, uint32_t(v));
      if (config_get("alerts.trigger_filter_conjunctive"))
        alerts_set_trigger_filter_conjunctive(c, config_get_bool("alerts.trigger_filter_conjunctive"));
      break;
    }
    case kRoleSearch: {
      searchwin* s = searchwin_cast(c);
      if (!s) break;
      struct { const char* key; void (*set)(searchwin*, uint32_t); } flags[] = {
          {"searchwin.derivatives", searchwin_set_derivatives},
          {"searchwin.all_venues", searchwin_set_all_venues},
          {"searchwin.indices", searchwin_set_indices},
          {"searchwin.news_only", searchwin_set_news_only},
          {"searchwin.sensitive_news_only", searchwin_set_sensitive_news_only},
          {"searchwin.traded_only", searchwin_set_traded_only},
          {"searchwin.quoted_only", searchwin_set_quoted_only},
      };
      for (auto& f : flags)
        if (config_get(f.key)) f.set(s, config_get_bool(f.key));
      const char* k = config_get_string("searchwin.keyword");
      if (k && *k) searchwin_set_keyword(s, k);
      read_hidden_exchanges("searchwin.hide_exchange", [s](int i, int on) { searchwin_set_exchange_shown(s, i, on); });
      break;
    }
    case kRoleRss:
    case kRoleGoogle: rsswin_config_load(c); break;
    case kRoleDocument: docwin_config_load(c); break;
    default: break;
  }
  if (role == kRoleTerminal) {
    terminal* t = static_cast<terminal*>(c);
    if (const char* args = config_get_string("terminal.args")) terminal_set_args(t, args);
    int32_t kind = config_get_int("terminal.type");
    if (!config_found()) {
      log(LOG_WARN, kSrc, "no terminal type, default to vt100");
      kind = 0;
    }
    terminal_set_kind(t, kind);
    window_update_title(w);  // the title names the kind read
  }
}

// A chart window's style: a registered one by id, or its own block. Both
// are read whatever the role, as every block present is.
static void read_chart(window* w) {
  int32_t id = config_get_int("chart");
  if (config_found() && id >= 0) {
    if (cstyle* st = cstyle_find(id)) window_set_chart(w, st);
    else log(LOG_ERROR, kSrc, "no chart %d", id);
  }
  if (config_enter("anon_chart")) {
    if (cstyle* st = cstyle_alloc()) {
      cstyle_load(st);
      window_set_chart(w, st);
      // Not taken (no chart child): a private style nobody watches goes.
      if (window_get_chart(w) != st) cstyle_delete(st);
    }
    config_leave();
  }
}

// Reads the window keys of the current block into w. A desktop window's
// stored rectangle goes to the migration table.
static void read_window(window* w, bool desktop_window) {
  if (++S.windows_read % kLoadRemoteYieldEvery == 0 && ssclient_ui_has_lock()) {
    // Let the io thread keep up with the stream during a long load.
    ssclient_unblock();
    plat_sleep_ms(kLoadRemoteYieldMs);
    ssclient_block();
  }
  const int32_t* b = config_get_rect("bounds");
  rect bounds = {0, 0, 0, 0};
  if (b) bounds = {b[0], b[1], b[2], b[3]};
  const char* role_text = config_get_string("role");
  if (b && desktop_window) migrate_desktop_add(w, bounds.x, bounds.y, bounds.w, bounds.h);
  if (b) {
    if (bounds.w > kMaxWindowSide || bounds.h > kMaxWindowSide || bounds.w < 0 || bounds.h < 0) {
      log(LOG_WARN, kSrc, "ignoring bad bounds %d,%d %dx%d", bounds.x, bounds.y, bounds.w, bounds.h);
      bounds = {0, 0, 0, 0};
    }
    w->r = bounds;
  }
  if (ss_exchange* ex = config_get_exchange("exchange")) {
    for (int i = 0; i < 4; i++)
      if (ssmodel_exchange(i) == ex && ssuser_exchange_permitted(i)) window_set_exchange(w, ex, 0);
  }
  int32_t role = 0;
  if (role_text) {
    role = enum_window_role_parse(role_text);
    if (role < 0) role = 0;
  }
  if (role == int32_t(kRoleLog)) log_set_memory(1);
  window_set_role(w, uint32_t(role));
  if (instr* in = config_get_instr("instr"); visible(in)) window_set_instrument(w, in);
  if (instr* in = config_get_instr("last_stock"); visible(in)) w->last_stock = in;
  if (instr* in = config_get_instr("last_index"); visible(in)) w->last_index = in;
  if (widget* c = window_get_content(w, kRoleWatchlist)) {
    watchlist* wl = static_cast<watchlist*>(c);
    int32_t id = config_get_int("watchlist");
    if (config_found() && id >= 0) {
      if (wlist* l = wlist_find(id)) watchlist_set_source(wl, l);
      else log(LOG_ERROR, kSrc, "no watchlist %d", id);
    }
    id = config_get_int("scan");
    if (config_found() && id >= 0) {
      if (scan* s = scan_find(id)) watchlist_set_scan(wl, s);
      else log(LOG_ERROR, kSrc, "no scan %d", id);
    }
    if (config_enter("anon_scan")) {
      scan* s = scan_new_temp();
      if (s) {
        scan_load(s);
        if (s->source && s->fixed) {
          log(LOG_WARN, kSrc, "scan with source can't be fixed!");
          s->fixed = 0;
        }
        const char* name = config_base()->value_count > 0 ? config_arg_string(0) : "";
        if (name && *name && s->fixed) snprintf(s->name, sizeof s->name, "%s", name);
        watchlist_set_scan(wl, s);
      }
      config_leave();
    }
  }
  // The list read is the title of a list window (the role was set before).
  if (window_get_role(w) == kRoleWatchlist) window_update_title(w);
  read_chart(w);
  read_role_keys(w);
  if (config_get_bool("show_tools")) window_show_tools(w);
}

void load_remote_window(window* w) { read_window(w, true); }

// ---- desktops ----

int migrate_desktop_layout(desktop* d) {
  migrate_tree t;
  if (migrate_desktop_build(splitter_gap() / 2, kMigrateBudget, &t) < 0) return -1;
  std::vector<window*> ws;
  for (int i = 0; i < migrate_desktop_count(); i++) ws.push_back(static_cast<window*>(migrate_desktop_window(i)));
  return desktop_layout_apply(d, nullptr, migrate_desktop_text(t).c_str(), ws.data(), int(ws.size()));
}

// Whether following parents from `from` comes back to `from`.
static bool parent_cycle(const std::vector<int32_t>& parent, int32_t from) {
  int32_t at = parent[size_t(from)];
  for (size_t steps = 0; at >= 0 && steps <= parent.size(); steps++) {
    if (at == from) return true;
    at = parent[size_t(at)];
  }
  return false;
}

static void read_desktop(screen* s, int n) {
  const int32_t number = config_arg_int(0);
  if (number < 0 || number >= kDesktops) {
    log(LOG_ERROR, kSrc, "no desktop %d", number);
    return;
  }
  desktop* d = s->desktops[number];
  if (!d) return;
  const int32_t current = config_get_int("current");
  const char* layout = config_get_string("layout");
  widget_hide(d);
  migrate_desktop_reset();
  std::vector<window*> ws;
  std::vector<int32_t> parent;
  window* zoomed = nullptr;
  if (config_enter("window")) {
    while (config_next()) {
      if (int(ws.size()) >= kLoadRemoteWindowsPerDesktop) {
        log(LOG_ERROR, kSrc, "more than %d windows on desktop %d, skipping", kLoadRemoteWindowsPerDesktop, number);
        break;
      }
      window* w = window_new(nullptr, 0);
      if (!w) break;
      int32_t p = config_get_int("parent");
      if (!config_found()) p = -1;
      parent.push_back(p);
      if (config_get_bool("zoom")) zoomed = w;
      read_window(w, true);
      widget_hide(w);
      ws.push_back(w);
    }
    config_leave();
  }
  const int32_t count = int32_t(ws.size());
  window* focus = current >= 0 && current < count ? ws[size_t(current)] : nullptr;
  if (current >= count) log(LOG_ERROR, kSrc, "no window %d on desktop %d", current, number);
  if (count > 0) {
    if (layout) {
      desktop_layout_apply(d, focus, layout, ws.data(), count);
    } else if (migrate_desktop_layout(d) < 0) {
      for (window* w : ws) widget_delete(w);
      ws.clear();
      parent.assign(0, 0);
    }
  }
  desktop_sanitize(d);
  if (focus && !ws.empty()) desktop_set_focus(d, focus);
  // Links after sanitising: a parent must be another window of this list,
  // and following parents must not come back around.
  for (size_t i = 0; i < ws.size(); i++) {
    const int32_t p = parent[i];
    if (p < 0) continue;
    if (p >= kMaxParent || p >= int32_t(ws.size()) || p == int32_t(i) || parent_cycle(parent, int32_t(i))) {
      log(LOG_ERROR, kSrc, "bad parent %d of window %d on desktop %d", p, int32_t(i), number);
      parent[i] = -1;
      continue;
    }
    if (window_linked_to(ws[i]) != ws[size_t(p)]) window_link(ws[i], ws[size_t(p)]);
  }
  desktop_relayout(d);
  if (zoomed && !ws.empty()) S.zoom[n] = zoomed;
}

// ---- screens ----

static void inset_main_monitor(rect* r) {
  rect m = {0, 0, 1024, 768};
  if (gui_monitor_count() > 0) gui_monitor_rect(0, &m);
  *r = {m.x + kMonitorInset, m.y + kMonitorInset, m.w - 2 * kMonitorInset, m.h - 2 * kMonitorInset};
}

static void set_screen_rect(int n, const int32_t* b) {
  rect r;
  if (b && b[2] > 0 && b[3] > 0) {
    // Kept as stored: opening the screen keeps it on the monitor, so a
    // closed screen's place saves back unchanged.
    r = {b[0], b[1], b[2], b[3]};
  } else {
    if (b) log(LOG_ERROR, kSrc, "bad screen bounds %d,%d %dx%d", b[0], b[1], b[2], b[3]);
    inset_main_monitor(&r);
  }
  // A maximised or minimised window keeps its place on screen; the rect is
  // where it goes back to (moving it now would undo the state, and the
  // window manager may not answer a move of a maximised window at all).
  const int state = screen_window_state(n);
  if (state != 1 && state != 2) screen_set_rect(&r);
  screen_store_rect(&r);
}

static void read_screen_keys(screen* s, int n) {
  // A zoom in force holds the bars it hid: end it before the bars are set.
  if (s->zoom_source) screen_unzoom();
  if (s->tickbar) {
    tickbar_load(s->tickbar);
    if (config_get("tickbar.show")) {
      if (config_get_bool("tickbar.show")) screen_show_tickbar();
      else screen_hide_tickbar();
    }
    if (config_get("tickbar.show_tools")) {
      if (config_get_bool("tickbar.show_tools")) tickbar_show_tools(s->tickbar);
      else tickbar_hide_tools(s->tickbar);
    }
  }
  if (s->watchbar && watchbar_load(s->watchbar) == 0) screen_hide_watchbar();
  if (config_get("minibar.show") && !config_get_bool("minibar.show")) screen_hide_minibar();
  if (s->minibar) {
    const char* keys[2] = {"minibar.left.instr", "minibar.right.instr"};
    for (int i = 0; i < 2; i++)
      if (instr* in = config_get_instr(keys[i]); visible(in)) mini_quote_bind(minibar_get_quote(s->minibar, i), in, 1);
  }
  // Each toolbar hides its saved sections and is shown or hidden by "show".
  for (widget* t : s->toolbars)
    if (t) toolbar_load(t);
  if (window* q = s->quick_window) {
    window_set_role(q, kRoleDepth);
    if (config_enter("quick_window")) {
      if (const int32_t* b = config_get_rect("bounds")) q->r = {b[0], b[1], b[2], b[3]};
      read_window(q, false);
      config_leave();
    }
  }
  if (window* p = s->popup_document)
    if (const int32_t* b = config_get_rect("popup_document.bounds")) p->r = {b[0], b[1], b[2], b[3]};
  if (config_enter("desktop")) {
    while (config_next()) read_desktop(s, n);
    config_leave();
  }
}

static void open_or_close(int n, bool open) {
  if (open && !screen_is_open(n)) screen_open(n);
  if (!open && screen_is_open(n)) screen_close(n);
}

static void select_current_desktop(int32_t current) {
  if (current < 0 || current >= kDesktops) {
    if (current != -1) log(LOG_ERROR, kSrc, "no current desktop %d", current);
    current = 0;
  }
  screen_select_desktop_quiet(current);
}

static void read_screens_v2(void) {
  if (!config_enter("screen")) return;
  int n = 0;
  while (config_next()) {
    if (n >= kScreens) {
      log(LOG_ERROR, kSrc, "shouldn't be more than %d screens", kScreens - 1);
      break;
    }
    log(LOG_INFO, kSrc, "load screen %d", n);
    screen* s = screen_get(n);
    if (s && config_enter_screen(n)) {
      set_screen_rect(n, config_get_rect("bounds"));
      read_screen_keys(s, n);
      select_current_desktop(config_get_int("current"));
      open_or_close(n, config_get_bool("visible"));
      int32_t state = 0;
      if (const char* t = config_get_string("state"); t && enum_window_state_lookup(t, &state) == 0)
        S.states[n] = state == 1 || state == 2 ? state : 0;
      screen_pop();
    }
    n++;
  }
  config_leave();
}

static void read_screen_v1(void) {
  screen* s = screen_get(0);
  if (!s || !config_enter_screen(0)) return;
  // The window rectangle of screen 0 is the first screen block's desktop.
  const int32_t* b = nullptr;
  if (config_enter("screen")) {
    if (config_enter("desktop")) {
      b = config_get_rect("bounds");
      config_leave();
    }
    config_leave();
  }
  set_screen_rect(0, b);
  read_screen_keys(s, 0);
  select_current_desktop(0);
  screen_pop();
}

static void apply_states(void*, int) {
  for (int n = 0; n < kScreens; n++) {
    if (S.zoom[n] && config_enter_screen(n)) {
      screen_zoom_window(S.zoom[n]);
      screen_pop();
    }
    S.zoom[n] = nullptr;
    if (S.states[n] && screen_is_open(n)) screen_set_state(n, S.states[n]);
    S.states[n] = 0;
  }
}

// The end of every load: sanitised desktops, the loaded flag, upgrades and
// a screen on view.
static void finish(int32_t upgrade) {
  for (int n = 0; n < kScreens; n++) screen_sanitize_desktops(n);
  config_reset();
  config_autosave_cancel();
  S.loaded = 1;
  upgrade_add_default_feeds(upgrade);
  if (screen_count_open() == 0) {
    log(LOG_WARN, kSrc, "forcing display of screen 1");
    screen_open(0);
  }
  gui_promise_after_draw(apply_states, nullptr, 0);
}

// A stored copy that can't be read: the user gets the defaults and the copy
// stays on the server for this session.
static int damaged(void) {
  S.keep_stored = 1;
  ssmsg_set("Your saved layout could not be read; it is kept and not saved over");
  config_reset();
  finish(-1);
  return 0;
}

int load_remote_from(const char* data, int32_t length) {
  S.windows_read = 0;
  remote_settings set;
  const int rc = remote_records_load(data, length, &set);
  if (rc == kRemoteRecordsFailed) return -1;
  if (rc == kRemoteRecordsDamaged) return damaged();
  S.version = set.version;
  // The settings belong to modules that nothing loaded so far reads, so
  // applying them after the lists changes nothing for those.
  if (set.style_size >= 0) style_set_size(set.style_size);
  if (set.default_exchange >= 0) action_set_default_exchange(uint32_t(set.default_exchange));
  if (set.hilight_watched >= 0) action_set_hilight_watched(uint32_t(set.hilight_watched));
  if (config_enter("alerts")) {
    alerts_load();
    config_leave();
  }
  if (config_enter("chart")) {
    while (config_next()) {
      const int32_t id = config_arg_int(0);
      const char* name = config_base()->value_count > 1 ? config_arg_string(1) : nullptr;
      if (id < 0 || !name) continue;
      cstyle* c = id > 0 ? cstyle_find(id) : nullptr;
      if (!c) c = cstyle_new(name, id);
      if (!c) {
        log(LOG_ERROR, kSrc, "can't create chart %s", name);
        continue;
      }
      cstyle_load(c);
    }
    config_leave();
  }
  if (S.version == 1)
    read_screen_v1();
  else
    read_screens_v2();
  log(LOG_INFO, kSrc, "loaded %db version %d remote config", set.text_len, S.version);
  finish(set.upgrade);
  return 0;
}

int load_remote_config(void) {
  load_remote_reset();
  if (S.off) {
    if (!screen_is_open(0)) screen_open(0);
    S.loaded = 1;
    return 0;
  }
  int32_t n = 0;
  char* blob = ssuser_get_config(&n);
  if (!blob || n <= 0) {
    // A first login: the user starts from the default layout, which is
    // saved as theirs like any other.
    log(LOG_WARN, kSrc, "remote config not found");
    if (blob) ssuser_clear_config(blob);
    char first[kFirstConfigMax];
    const int len = upgrade_first_config(first, sizeof first);
    if (len > 0) return load_remote_from(first, len);
    config_reset();
    finish(-1);
    return 0;
  }
  const int rc = load_remote_from(blob, n);
  ssuser_clear_config(blob);
  return rc;
}
