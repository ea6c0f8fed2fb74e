// Saving the user configuration kept on the server. The text is written in
// one fixed order (version, upgrade level, style, lists, scans, alerts,
// chart styles, feeds, then each screen with its bars and desktops of
// windows); the owners of lists, scans, alerts, styles, feeds, tickers and
// the watch bar write their own keys inside the block opened for them.
// The compressed text replaces the user record's copy and the client sends
// it. The autosave check runs once a second from the start-up flow's timer;
// a failed autosave is tried again a minute later rather than dropped.
#include "config/save_remote.h"

#include <cstring>

#include "action.h"
#include "charts/cstyle.h"
#include "config/autosave.h"
#include "config/config.h"
#include "config/enum.h"
#include "config/load_remote.h"
#include "config/save_local.h"
#include "config/upgrade.h"
#include "dalloc.h"
#include "encblk.h"
#include "growbuf.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "log.h"
#include "plat.h"
#include "quick9.h"
#include "rss/rss.h"
#include "screen/miniquote.h"
#include "screen/minibar.h"
#include "screen/screen.h"
#include "screen/tickbar.h"
#include "screen/watchbar.h"
#include "term/terminal.h"
#include "tools/toolbar.h"
#include "ssclient.h"
#include "ssmodel.h"
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

static const char kSrc[] = "src/config/save_remote";

constexpr int32_t kMinScreenSide = 100;
constexpr rect kResizedScreen = {0, 0, 640, 480};
constexpr int64_t kActivityDelaySeconds = 300;

static struct {
  int off;                          // "--nosave"
  int (*send)(int flag);            // null: the client's save request
  int64_t (*activity)(void);        // null: the gui's last-activity time
  int64_t seen_activity = -1;       // the activity time the last check saw
} S;

void save_remote_enable(int on) { S.off = !on; }
void save_remote_set_sender(int (*send)(int flag)) { S.send = send; }
void save_remote_set_activity_clock(int64_t (*last_activity_ms)(void)) { S.activity = last_activity_ms; }

bool config_enter_screen(int n) {
  if (screen_push(n)) return true;
  if (!screen_get(n)) return false;
  const int before = screen_stack_depth();
  screen_force_context(n);
  return screen_stack_depth() > before;
}

static void write_exchanges_hidden(const char* key, const int shown[4]) {
  for (int i = 0; i < 4; i++)
    if (!shown[i] && ssmodel_exchange(i)) config_printf("%s %E", key, ssmodel_exchange(i));
}

void save_remote_window(window* w) {
  const uint32_t role = window_get_role(w);
  config_printf("show_tools %b", w->show_tools);
  config_printf("role %s", enum_window_role_text(int32_t(role)));
  if (w->exchange) config_printf("exchange %E", w->exchange);
  if (w->instrument) config_printf("instr %I", w->instrument);
  if (w->last_stock) config_printf("last_stock %I", w->last_stock);
  if (w->last_index) config_printf("last_index %I", w->last_index);
  widget* c = window_get_content(w, role);
  if (!c) return;
  switch (role) {
    case kRoleWatchlist: {
      scan* s = watchlist_get_scan(static_cast<watchlist*>(c));
      if (!s) break;
      if (s->registered && s->id > 0) {
        config_printf("scan %d", s->id);
      } else {
        config_printf("anon_scan %s", s->name);
        config_out_push("anon_scan");
        scan_save(s);
        config_out_pop();
      }
      break;
    }
    case kRoleDepth: {
      config_out_push("depthwin");
      const uint32_t mode = depthwin_get_show_mode(c);
      config_printf("show_age %b", depthwin_get_show_age(c));
      config_printf("show_trades %b", depthwin_get_show_trades(c));
      config_printf("show_bars %b", (mode & 1u) != 0);
      config_printf("show_table %b", (mode & 2u) != 0);
      if (depthwin_child* bars = depthwin_get_book(c)->bars) config_printf("thickness %d", depthbars_get_thickness(bars));
      config_printf("group_by %d", depthwin_get_group_by(c));
      config_printf("height %d", int32_t(depthwin_get_height(c)));
      config_printf("non_realtime %b", depthwin_get_non_realtime(c));
      config_printf("speedup %f", double(depthwin_get_speedup(c)));
      config_printf("delay %f", double(depthwin_get_delay(c)));
      uint32_t type = 0, count = 0;
      if (depthwin_get_age_split(c, 0, &type, &count) >= 0) {
        config_printf("age_split %d", 0);
        config_printf("age_split.type %d", int32_t(type));
        config_printf("age_split.count %d", int32_t(count));
        config_printf("age_split.custom %d", depthwin_get_age_split_custom(c, 0));
      }
      config_out_pop();
      break;
    }
    case kRoleHistnews: histnews_config_save(c); break;
    case kRoleNewstoday: newstoday_config_save(c); break;
    case kRoleIndexlist: {
      indexlist* l = indexlist_cast(c);
      if (!l) break;
      config_printf("indexlist.index_filter %x", indexlist_get_index_filter(l));
      config_printf("indexlist.order %d", int32_t(indexlist_get_order(l)));
      config_printf("indexlist.reversed %b", indexlist_get_reversed(l));
      write_exchanges_hidden("indexlist.hide_exchange", l->exchange);
      break;
    }
    case kRoleSearch: {
      searchwin* s = searchwin_cast(c);
      if (!s) break;
      config_printf("searchwin.derivatives %b", searchwin_get_derivatives(s));
      config_printf("searchwin.all_venues %b", searchwin_get_all_venues(s));
      config_printf("searchwin.indices %b", searchwin_get_indices(s));
      config_printf("searchwin.news_only %b", searchwin_get_news_only(s));
      config_printf("searchwin.sensitive_news_only %b", searchwin_get_sensitive_news_only(s));
      config_printf("searchwin.traded_only %b", searchwin_get_traded_only(s));
      config_printf("searchwin.quoted_only %b", searchwin_get_quoted_only(s));
      const char* k = searchwin_get_keyword(s);
      if (k && strlen(k) > 1) config_printf("searchwin.keyword %s", k);
      write_exchanges_hidden("searchwin.hide_exchange", s->exchange);
      break;
    }
    case kRoleRss:
    case kRoleGoogle: rsswin_config_save(c); break;
    case kRoleDocument: docwin_config_save(c); break;
    case kRoleTradelist: {
      tradelist* t = tradelist_cast(c);
      config_printf("tradelist.off_market %b", t->off_market);
      config_printf("tradelist.vwap_only %b", t->vwap_only);
      config_printf("tradelist.pre_open %b", t->pre_open);
      config_printf("tradelist.closed %b", t->closed);
      config_printf("tradelist.group_by_price %b", tradelist_get_group_by_price(t));
      config_printf("tradelist.group_by_seconds %d", int32_t(tradelist_get_group_by_seconds(t)));
      break;
    }
    case kRoleOptionlist: {
      optionlist* o = optionlist_cast(c);
      if (!o) break;
      config_printf("optionlist.filter %x", optionlist_get_filter(o));
      config_printf("optionlist.max_expiry_months %d", int32_t(optionlist_get_max_expiry_months(o)));
      config_printf("optionlist.order %d", int32_t(optionlist_get_order(o)));
      break;
    }
    case kRoleAlerts:
      config_printf("alerts.order %d", int32_t(alerts_get_order(c)));
      config_printf("alerts.fired_filter %d", int32_t(alerts_get_fired_filter(c)));
      config_printf("alerts.trigger_filter %d", int32_t(alerts_get_trigger_filter(c)));
      config_printf("alerts.trigger_filter_conjunctive %b", alerts_get_trigger_filter_conjunctive(c));
      break;
    case kRoleChart: {
      cstyle* st = window_get_chart(w);
      if (!st) break;
      if (cstyle_id_valid(st)) {
        config_printf("chart %d", cstyle_get_id(st));
      } else {
        // A chart of its own: the whole style goes with the window.
        config_printf("anon_chart");
        config_out_push("anon_chart");
        cstyle_save(st);
        config_out_pop();
      }
      break;
    }
    case kRoleTerminal: {
      const terminal* t = static_cast<const terminal*>(c);
      config_printf("terminal.type %d", terminal_get_kind(t));
      const char* args = terminal_get_args(t);
      if (args && *args) config_printf("terminal.args %s", args);
      break;
    }
    default: break;
  }
}

static void write_desktop(screen* s, int i) {
  desktop* d = s->desktops[i];
  if (!d || !d->child) return;
  desktop_layout* l = desktop_layout_save(d);
  if (!l) return;
  config_printf("desktop %d", i);
  config_out_push("desktop");
  int32_t focus = -1;
  for (int32_t k = 0; k < l->n; k++) {
    window* w = l->windows[k];
    if (w == l->focus) focus = k;
    config_printf("window");
    config_out_push("window");
    if (window* to = window_linked_to(w)) {
      for (int32_t p = 0; p < l->n; p++)
        if (l->windows[p] == to) config_printf("parent %d", p);
    }
    config_printf("zoom %b", s->zoom_source == w && s->zoom_window);
    save_remote_window(w);
    config_out_pop();
  }
  if (focus >= 0) config_printf("current %d", focus);
  config_printf("layout %s", l->text);
  config_out_pop();
  desktop_layout_free(l);
}

static void write_screen(int n, bool force_visible) {
  screen* s = screen_get(n);
  if (!s || !config_enter_screen(n)) return;
  // The zoom copy's settings go back to the window being zoomed, which is
  // the one written.
  if (s->zoom_window && s->zoom_source) window_copy(s->zoom_source, s->zoom_window);
  config_printf("screen %d", n);
  config_out_push("screen");
  rect r = screen_get_rect();
  if (r.w < kMinScreenSide || r.h < kMinScreenSide) {
    log(LOG_WARN, kSrc, "screen %d is only %dx%d, resizing", n, r.w, r.h);
    r = {r.x, r.y, kResizedScreen.w, kResizedScreen.h};
  }
  config_printf("bounds %R", &r);
  config_printf("current %d", s->current_desktop);
  config_printf("visible %b", screen_is_open(n) || force_visible);
  const char* state = enum_window_state_name(screen_window_state(n));
  config_printf("state %s", state ? state : "normal");
  const uint32_t bars = screen_bars_saved();
  if (s->tickbar) tickbar_save(s->tickbar);
  if (s->watchbar) watchbar_save(s->watchbar, (bars & BAR_WATCHBAR) != 0);
  config_printf("minibar.show %b", (bars & BAR_MINIBAR) != 0);
  if (s->minibar) {
    const char* side[2] = {"minibar.left.instr %I", "minibar.right.instr %I"};
    for (int i = 0; i < 2; i++)
      if (instr* in = mini_quote_get_instr(minibar_get_quote(s->minibar, i))) config_printf(side[i], in);
  }
  for (widget* t : s->toolbars)
    if (t) toolbar_save(t);
  config_printf("quick_window");
  if (window* q = s->quick_window) {
    config_out_push("quick_window");
    if (q->r.w >= 1 && q->r.h >= 1) config_printf("bounds %R", &q->r);
    save_remote_window(q);
    config_out_pop();
  }
  if (window* p = s->popup_document)
    if (p->r.w >= 1 && p->r.h >= 1) config_printf("popup_document.bounds %R", &p->r);
  for (int i = 0; i < kDesktops; i++) write_desktop(s, i);
  config_out_pop();
  screen_pop();
}

int save_remote_write_text(void) {
  if (config_out_reset() < 0) {
    log(LOG_ERROR, kSrc, "data write failed at start");
    return -1;
  }
  config_printf("version %d", kSaveRemoteVersion);
  config_printf("upgrade %d", upgrade_level());
  config_printf("style.size %d", style_size());
  config_printf("default_exchange %E", action_default_exchange_record());
  config_printf("hilight_watched %b", action_hilight_watched());
  config_printf("quick9");
  quick9_save();
  wlist_save();
  scan_save_all();
  config_out_push("alerts");
  alerts_save();
  config_out_pop();
  cstyle_rewind();
  while (cstyle* c = cstyle_next()) {
    if (c->id <= 0) {
      log(LOG_WARN, kSrc, "not saving anonymous chart");
      continue;
    }
    config_printf("chart %d %s", c->id, c->name);
    config_out_push("chart");
    cstyle_save(c);
    config_out_pop();
  }
  rss_config_save();
  bool any_open = false;
  for (int n = 0; n < kScreens; n++) any_open = any_open || screen_is_open(n);
  if (!any_open) log(LOG_WARN, kSrc, "no screens are visible, forcing the first one");
  for (int n = 0; n < kScreens; n++) write_screen(n, !any_open && n == 0);
  return 0;
}

int save_remote_config(int flag) {
  if (S.off) {
    log(LOG_WARN, kSrc, "skipping remote save");
    return 0;
  }
  if (load_remote_keep_stored()) {
    log(LOG_WARN, kSrc, "keeping the unreadable stored config, not saving");
    return 0;
  }
  if (save_remote_write_text() < 0) return -1;
  int32_t len = 0;
  const char* text = config_out_buffer(&len);
  if (!text || len <= 0) {
    log(LOG_ERROR, kSrc, "data write failed at end");
    return -1;
  }
  growbuf buf{};
  growbuf* gb = &buf;
  int rc = 0;
  if (growbuf_init(gb, len, 1024) < 0 || encblk_write(gb, text, len) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc %db buf for compression", len);
    rc = -1;
  } else if (ssuser_store_config(gb->data, int32_t(gb->len)) < 0) {
    log(LOG_ERROR, kSrc, "can't save remote config to user");
    rc = -1;
  } else if ((S.send ? S.send(flag) : ssclient_save_data(flag)) < 0) {
    log(LOG_ERROR, kSrc, "can't request save of remote config");
    rc = -1;
  } else {
    log(LOG_INFO, kSrc, "saved %db/%db version %d remote config", int32_t(gb->len), len, kSaveRemoteVersion);
  }
  growbuf_free(gb);
  config_reset();
  return rc;
}

int config_save(void) {
  int rc = 0;
  if (save_remote_config(1) < 0) rc = -1;
  if (save_local_config() < 0) rc = -1;
  return rc;
}

int config_autosave_tick(void) {
  if (!load_remote_done() || !ssclient_is_online()) return 0;
  const int64_t activity = S.activity ? S.activity() : gui_last_activity_ms();
  if (config_autosave_pending()) {
    S.seen_activity = activity;
    if (!config_autosave_due() || ssclient_is_stopping()) return 0;
    config_autosave_cancel();
    if (save_remote_config(0) < 0) {
      // Keep the change pending: try again in a minute (level 1's delay).
      static_assert(kAutosaveDelays[1] == kAutosaveRetrySeconds);
      config_set_dirty(1);
      return 0;
    }
    return 1;
  }
  if (S.seen_activity >= 0 && activity != S.seen_activity) config_set_dirty(0);
  S.seen_activity = activity;
  return 0;
}
