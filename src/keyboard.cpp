// Keyboard bindings and typed commands. Every key first picks two windows:
// K, which takes keys that act on a window's contents (the zoom, quick or
// popup document window when one is in front, else the focused window), and
// D, which takes keys that change a window (the zoom or quick window, else
// the focused window of the current desktop). Special keys and character
// keys by exact modifier then run user actions through one table of calls,
// which tests replace with a recording one.
//
// Typed entry keeps at most 31 characters. Some texts run as soon as no
// further key could change their meaning ("W3" with 25 watchlists, "/4",
// ".A"); their text then lingers for 500 ms and the next key starts afresh.
#include "keyboard.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "action.h"
#include "charts/cstyle.h"
#include "config/autosave.h"
#include "export/clipboard.h"
#include "lib/font.h"
#include "lib/scan.h"
#include "lib/timer.h"
#include "lib/wlist.h"
#include "log.h"
#include "quick9.h"
#include "rss/rss.h"
#include "screen/desktop.h"
#include "screen/screen.h"
#include "screen/watchbar.h"
#include "ssmodel.h"
#include "ssuser.h"
#include "style.h"
#include "ui/gui.h"
#include "ui/key.h"
#include "undo.h"
#include "windows/alerts.h"
#include "windows/searchwin.h"
#include "windows/watchlist.h"
#include "windows/window.h"

static const char kSrc[] = "src/keyboard";

static struct {
  char buffer[kKeyboardBuffer];
  int32_t length;
  uint8_t active;
  uint8_t mode;  // 1 normal; 0 lingering
  int32_t timer;
  const keyboard_actions *a;
} S = {{}, 0, 0, 1, -1, nullptr};

// ---- the real calls ----

// The window's search on an exchange (none: the window's) for a keyword.
// The role comes first: the exchange then narrows the search itself.
static int open_search(window *w, ss_exchange *ex, const char *text) {
  if (!w) return -1;
  window_set_role(w, kRoleSearch);
  if (ex) window_set_exchange_plain(w, ex);
  if (searchwin *sw = w->child[kWinSearch] ? searchwin_cast(w->child[kWinSearch]) : nullptr)
    searchwin_set_keyword(sw, text);
  return 0;
}

static int goto_time(window *w, ss_time t, int flags) {
  return w ? window_goto_time(w, t, static_cast<uint32_t>(flags)) : -1;
}

// Codes typed after '+' or '-' into a watchlist or alerts window.
static int edit_list(window *w, const char *codes, int add) {
  if (!w) return 0;
  if (w->role == kRoleAlerts && w->child[kWinAlerts]) return alerts_add_codes(w->child[kWinAlerts], codes, add);
  widget *c = w->child[kWinWatchlist];
  if (w->role != kRoleWatchlist || !watchlist_is(c)) return 0;
  auto *wl = static_cast<watchlist *>(c);
  // Only a list kept by hand (a scan of a watchlist) takes codes.
  scan *s = watchlist_get_scan(wl);
  if (!s || !s->source) return 0;
  return add ? watchlist_add_codes(wl, codes) : watchlist_remove_codes(wl, codes);
}

// Codes from the clipboard into an alerts or watchlist window.
static void paste_codes(window *w) {
  if (!w) return;
  if (w->role == kRoleAlerts && w->child[kWinAlerts]) alerts_paste(w->child[kWinAlerts]);
  else if (w->role == kRoleWatchlist && watchlist_is(w->child[kWinWatchlist]))
    watchlist_paste_codes(static_cast<watchlist *>(w->child[kWinWatchlist]));
}

static int set_role(window *w, uint32_t role) { return action_set_window_role(w, role); }

static const keyboard_actions kReal = {
    action_start_entry, action_show_everywhere, action_set_instrument, set_role,
    action_show_alerts, action_show_chart_style, action_show_google, action_show_help,
    action_show_index_list, action_show_announcements, action_show_option_list,
    action_show_profile, action_open_preset, action_search, action_size_up, action_size_down,
    action_snap, action_sync_tools, action_toggle_tools, action_show_quick, action_logout_box,
    action_toggle_bars, action_perform, action_toggle_hilight_watched, action_keep_only,
    action_zoom, action_unzoom, action_undo, action_step_desktop, action_switch_desktop,
    action_page_document, action_force_exchange, action_new_watchlist, action_show_watchlist,
    action_new_scan, action_show_scan, action_new_chart_style, action_show_rss_feed,
    action_new_rss_feed, action_link_split, open_search, goto_time, edit_list,
};

static const keyboard_actions &A() { return S.a ? *S.a : kReal; }

void keyboard_set_actions(const keyboard_actions *a) { S.a = a; }
const keyboard_actions *keyboard_real_actions() { return &kReal; }

// ---- typed entry ----

static void place_keypad() {
  if (screen_is_up()) screen_place_keypad();
}

static void stop_timer() {
  if (S.timer >= 0) timer_stop(S.timer);
  S.timer = -1;
}

static void reset() {
  stop_timer();
  memset(S.buffer, 0, sizeof S.buffer);
  S.length = 0;
  S.mode = 1;
}

int keyboard_init(void) {
  S.active = 0;
  S.timer = -1;
  memset(S.buffer, 0, sizeof S.buffer);
  S.length = 0;
  S.mode = 1;
  return 0;
}

void keyboard_fini(void) { stop_timer(); }

const char *keyboard_buffer() { return S.buffer; }
bool keyboard_is_active() { return S.active != 0; }
int keyboard_mode() { return S.mode; }

void keyboard_activate() {
  S.active = 1;
  reset();
  if (widget *f = gui_focus()) gui_unfocus(f);
  place_keypad();
}

void keyboard_deactivate() {
  S.active = 0;
  reset();
  place_keypad();
}

// The current style's text font has a glyph of some width for c.
static bool has_glyph(int c) {
  const style *st = style_cur();
  return font_glyph_width(c, st ? st->font[0] : 0) > 0;
}

static void append(int c) {
  if (S.length >= kKeyboardBuffer - 1 || c <= 0 || c > 127 || !has_glyph(c)) return;
  S.buffer[S.length++] = char(toupper(c));
  S.buffer[S.length] = 0;
  place_keypad();
}

static void start_with(window *d, const char *text) {
  A().start_entry(d);
  snprintf(S.buffer, sizeof S.buffer, "%s", text);
  S.length = int32_t(strlen(S.buffer));
  place_keypad();
}

static int linger_done(void *, uint32_t, int64_t, float) {
  S.timer = -1;  // the timer stops as this returns 0
  keyboard_deactivate();
  return 0;
}

// ---- the windows a key acts on ----

struct targets {
  window *k;  // contents keys
  window *d;  // window-changing keys
  int popup;  // K floats over the desktop
};

static bool bar_shown(uint32_t bit) { return screen_is_up() && (screen_bars_shown() & bit); }

static targets pick() {
  targets t = {nullptr, nullptr, 0};
  if (!screen_is_up()) return t;
  window *focus = desktop_get_focus(screen_current_desktop());
  const uint32_t front = screen_front_popup();
  if (bar_shown(BAR_ZOOM)) {
    t.k = t.d = screen_zoom_window_get();
    t.popup = 1;
  } else if (front == BAR_QUICK && bar_shown(BAR_QUICK)) {
    t.k = t.d = screen_quick_window();
    t.popup = 1;
  } else if (front == BAR_POPUP_DOCUMENT && bar_shown(BAR_POPUP_DOCUMENT)) {
    t.k = screen_popup_document();
    t.d = focus;
    t.popup = 1;
  } else {
    t.k = t.d = focus;
  }
  return t;
}

// ---- counts of the lists typed commands name ----

static int32_t count_of(char kind) {
  switch (kind) {
    case 'W': return wlist_total();
    case 'S': return scan_count();
    case 'C': return cstyle_count();
    case 'R': return rss_feed_count();
    default: return 0;
  }
}

// The number formed by every character after the first, when they are all
// digits; 0 when not, or when there are none.
static int32_t trailing_number(const char *s) {
  if (!s[0] || !s[1]) return 0;
  int32_t n = 0;
  for (const char *p = s + 1; *p; p++) {
    if (!isdigit(static_cast<unsigned char>(*p))) return 0;
    if (n < 100000000) n = n * 10 + (*p - '0');
  }
  return n;
}

// Whether the text typed so far runs at once.
static bool runs_at_once(const char *b) {
  if (b[0] == '.') return true;
  if (!strcmp(b, "/V") || !strcmp(b, "/H")) return true;
  const int32_t n = trailing_number(b);
  if (n < 1) return false;
  switch (b[0]) {
    case 'W': case 'S': case 'C': case 'R': {
      const int32_t count = count_of(b[0]);
      return n <= count && count / 10 < n;
    }
    case '/': return true;
    default: return false;
  }
}

// ---- typed commands ----

static instr *find_on(ss_exchange *ex, const char *code) {
  if (!ex) return nullptr;
  if (ss_stock *s = ssmodel_find_stock_or_alias(ex, code)) return s;
  return reinterpret_cast<instr *>(ssmodel_find_index(ex, code));
}

static int split_kind(window *w, int32_t n, char code) {
  const bool narrow = w && w->r.w < w->r.h;
  if (code == 'v') return 19;
  if (code == 'h') return 20;
  switch (n) {
    case 2: return narrow ? 19 : 20;
    case 3: return narrow ? 23 : 24;
    case 4: return 21;
    case 6: return narrow ? 25 : 26;
    case 9: return 28;
    default: return 0;
  }
}

static bool time_text(const char *s) {
  for (const char *p = s; *p; p++)
    if (!isalnum(static_cast<unsigned char>(*p)) && *p != ' ' && *p != '_' && *p != ':') return false;
  return true;
}

static void finish(int keep) {
  if (!keep) {
    keyboard_deactivate();
    return;
  }
  S.mode = 0;
  place_keypad();
  stop_timer();
  S.timer = timer_start(kKeyboardLingerMs, linger_done, nullptr, 0);
  if (S.timer < 0) {
    log(LOG_WARN, kSrc, "can't start slow keyboard deactivation timer");
    keyboard_deactivate();
  }
}

// Steps 3-7 of a command; the caller ends it.
static void run(window *w, int popup, int shift) {
  char cmd[kKeyboardBuffer];
  // 1. Trimmed.
  const char *b = S.buffer;
  while (*b == ' ') b++;
  snprintf(cmd, sizeof cmd, "%s", b);
  for (size_t l = strlen(cmd); l > 0 && cmd[l - 1] == ' '; l--) cmd[l - 1] = 0;
  bool leading_dot = cmd[0] == '.' && ssuser_multi_exchange();
  // 2. The number after the first character, or the split codes.
  const int32_t n = trailing_number(cmd);
  const char split_code = !strcmp(cmd, "/V") ? 'v' : !strcmp(cmd, "/H") ? 'h' : 0;
  // 3. A search mark and an exchange after a dot.
  bool search = false;
  size_t len = strlen(cmd);
  if (len > 0 && cmd[len - 1] == '?') {
    cmd[--len] = 0;
    search = true;
  }
  const int32_t def = int32_t(action_default_exchange());
  int32_t exchange = def;
  bool explicit_ex = false;
  if (char *dot = strchr(cmd, '.')) {
    const char after = dot[1];
    *dot = 0;
    if (!after) {
      if (leading_dot) exchange = -1;
    } else if (after == 'A') {
      exchange = 0;
      explicit_ex = true;
    } else if (after == 'N') {
      exchange = 1;
      explicit_ex = true;
    } else {
      leading_dot = false;
    }
    len = strlen(cmd);
  }
  // 4. An exchange the user may not see looks nothing up; a leading dot
  // switches the window's exchange and is all.
  bool lookup = true;
  if (exchange >= 0 && !ssuser_exchange_permitted(exchange)) {
    lookup = false;
  } else if (leading_dot) {
    A().force_exchange(w, exchange >= 0 ? ssmodel_exchange(exchange) : nullptr);
    return;
  }
  // An empty command (all cut away) does nothing.
  if (len == 0) return;
  ss_exchange *ex = exchange >= 0 ? ssmodel_exchange(exchange) : nullptr;
  // 5. An instrument by code, on the chosen exchange, then on the others.
  instr *found = nullptr;
  if (lookup && len >= 3) {
    const char *code = (cmd[0] == '+' || cmd[0] == '-') ? cmd + 1 : cmd;
    found = find_on(ex, code);
    if (!found && !explicit_ex && ssuser_exchange_permitted(def) && ssmodel_exchange(def)) {
      for (int32_t i = 0; i < kExchanges && !found; i++)
        if (i != def && ssuser_exchange_permitted(i)) found = find_on(ssmodel_exchange(i), code);
    }
  }
  // 6. A time.
  if (!found && !explicit_ex && len >= 3 && time_text(cmd)) {
    uint32_t given = 0;
    ss_time t = sstime_parse_expression(cmd, &given);
    if (t) {
      A().goto_time(w, t, 0);
      return;
    }
  }
  // 7. The commands.
  if (search) {
    if (!w) return;
    undo_push_window(w);
    A().open_search(w, ex, cmd);
    return;
  }
  const int32_t count = count_of(cmd[0]);
  if (!strcmp(cmd, "W")) {
    A().new_watchlist(w);
  } else if (cmd[0] == 'W' && n >= 1 && n <= count) {
    A().show_watchlist(w, wlist_id_at(uint32_t(n - 1)));
  } else if (!strcmp(cmd, "S")) {
    A().new_scan(w);
  } else if (cmd[0] == 'S' && n >= 1 && n <= count) {
    A().show_scan(w, scan_id_at(uint32_t(n - 1)));
  } else if (!strcmp(cmd, "C")) {
    A().new_chart_style(w);
  } else if (cmd[0] == 'C' && n >= 1) {
    const int32_t id = cstyle_id_at(n - 1);
    if (id != -1) A().show_chart_style(w, id);
  } else if (cmd[0] == 'R' && n >= 1) {
    const int32_t id = rss_feed_id_at(n - 1);
    if (id > 0) A().show_rss_feed(w, id);
  } else if (cmd[0] == '/' && (n >= 1 || split_code)) {
    if (!popup) {
      const int kind = split_kind(w, n, split_code);
      if (kind) A().link_split(w, kind, 0);
    }
  } else if (cmd[0] == '-' || cmd[0] == '+') {
    if (w && (w->role == kRoleWatchlist || w->role == kRoleAlerts)) A().edit_list(w, cmd + 1, cmd[0] == '+');
  } else if (found) {
    if (shift) A().show_everywhere(found);
    else if (w && w->instrument != found) A().set_instrument(w, found);
  } else if (w) {
    if (!strcmp(S.buffer, "/RSS")) {
      A().new_rss_feed(w);
    } else {
      undo_push_window(w);
      A().open_search(w, explicit_ex ? ex : nullptr, cmd);
    }
  }
}

void keyboard_command(window *w, int popup, int keep, int shift) {
  run(w, popup, shift);
  finish(keep);
}

// ---- keys ----

static void escape() {
  const uint32_t bars = screen_is_up() ? screen_bars_shown() : 0;
  const uint32_t front = screen_front_popup();
  if (bars & BAR_HOVER) {
    // The hover preview first: it is the most passing of them.
    screen_hide_bars_ex(BAR_HOVER, 0);
  } else if (bars & BAR_HELP) {
    undo_cancel_help();
    screen_hide_help();
  } else if (bars & BAR_CONFIGBOX) {
    undo_cancel_configbox();
    screen_hide_configbox();
  } else if (bars & BAR_QUOTE_POPWIN) {
    screen_hide_bars(BAR_QUOTE_POPWIN);
  } else if (front == BAR_POPUP_DOCUMENT && (bars & BAR_POPUP_DOCUMENT)) {
    undo_cancel_document();
    screen_hide_bars(BAR_POPUP_DOCUMENT);
  } else if (bars & BAR_GROUPBAR) {
    screen_hide_groupbar();
  } else if (front == BAR_QUICK && (bars & BAR_QUICK)) {
    undo_cancel_quick_window();
    screen_hide_quick_window();
  } else if (bars & BAR_ZOOM) {
    undo_cancel_zoom();
    screen_unzoom();
  }
  keyboard_deactivate();
}

static void special(const key_event *k, const targets &t) {
  const bool shift = k->mods & KEY_MOD_SHIFT;
  switch (k->code) {
    case KEY_ENTER:
      if (S.active && S.length > 0) {
        keyboard_command(t.k, t.popup, 0, shift ? 1 : 0);
      } else if (S.active) {
        keyboard_deactivate();
      } else if (shift) {
        if (t.d && t.d->instrument) A().show_everywhere(t.d->instrument);
      } else {
        A().start_entry(t.d);
      }
      break;
    case KEY_BACKSPACE:
      if (S.length > 0) {
        S.buffer[--S.length] = 0;
        place_keypad();
      }
      break;
    case KEY_SPACE:
      if (S.length == 0) {
        if (S.active) keyboard_deactivate();
        else A().start_entry(t.d);
      } else {
        append(' ');
      }
      break;
    case KEY_ESCAPE: escape(); break;
    case KEY_TAB:
      keyboard_deactivate();
      if (!t.popup && screen_is_up()) {
        desktop *d = screen_current_desktop();
        if (k->mods & KEY_MOD_CONTROL) desktop_focus_prev(d);
        else desktop_focus_next(d);
      }
      break;
    case KEY_HOME:
    case KEY_END:
      keyboard_deactivate();
      if (t.k) window_select_row(t.k, k->code == KEY_HOME ? 0 : 999999);
      break;
    case KEY_PAGE_UP:
    case KEY_PAGE_DOWN:
    case KEY_UP:
    case KEY_DOWN: {
      keyboard_deactivate();
      static const int32_t kSteps[] = {-10, 10, -1, 1};
      if (t.k) window_move_selection(t.k, kSteps[k->code - KEY_PAGE_UP]);
      break;
    }
    case KEY_LEFT:
    case KEY_RIGHT: {
      keyboard_deactivate();
      const int dir = k->code == KEY_LEFT ? -1 : 1;
      if (k->mods & KEY_MOD_ALT) A().step_desktop(dir);
      else A().page_document(t.k, dir);
      break;
    }
    default:
      if (k->code >= KEY_F1 && k->code <= KEY_F10) {
        keyboard_deactivate();
        if (bar_shown(BAR_ZOOM)) A().unzoom();
        A().switch_desktop(k->code - KEY_F1);
      }
      break;
  }
}

// The code of the first instrument among the hover popup, the quick window,
// the popup document and K, to the clipboard.
static void copy_code(const targets &t) {
  window *from[4] = {bar_shown(BAR_HOVER) ? screen_popup_window() : nullptr,
                     bar_shown(BAR_QUICK) ? screen_quick_window() : nullptr,
                     bar_shown(BAR_POPUP_DOCUMENT) ? screen_popup_document() : nullptr, t.k};
  for (window *w : from)
    if (w && w->instrument) {
      clipboard_put(w->instrument->code);
      return;
    }
}

static void control_key(int c, const targets &t, bool shift) {
  switch (c) {
    case '+': case '=': A().size_up(); break;
    case '-': A().size_down(); break;
    case 'C': copy_code(t); break;
    case 'G': keyboard_deactivate(); break;
    case 'L':
      A().snap();
      gui_invalidate_window(-1);
      log_flush();
      break;
    case 'P':
      keyboard_deactivate();
      if (shift) A().sync_tools(t.k);
      else A().toggle_tools(t.k);
      break;
    case 'Q': A().logout_box(); break;
    case 'S': config_clear_dirty(); break;
    case 'T':
      if (bar_shown(BAR_ZOOM)) A().unzoom();
      if (shift) {
        const uint32_t bars = screen_is_up() ? screen_bars_shown() & 0x180u : 0;
        A().toggle_bars(bars == 0x180u ? 0x180u : 0x180u & ~bars);
      } else {
        A().perform(nullptr, 42);
      }
      break;
    case 'W':
      keyboard_deactivate();
      A().toggle_hilight_watched();
      break;
    case 'X':
      keyboard_deactivate();
      if (!bar_shown(BAR_ZOOM)) A().keep_only();
      break;
    default: break;
  }
}

static void option_key(int c, const targets &t) {
  if (c == '0') {
    if (bar_shown(BAR_QUOTE_POPWIN)) {
      watchbar_record_quote_popup(watchbar_quote_popup_item());
      screen_hide_bars(BAR_QUOTE_POPWIN);
    }
  } else if (c >= '1' && c <= '9') {
    // The quote pop window of watch bar cell n - 1: hidden when it shows
    // that cell, else opened (or moved) there; a key for a cell the bar
    // does not have changes nothing.
    const int32_t open = watchbar_quote_popup_item(), want = c - '1';
    widget *bar = screen_watchbar();
    if (open == want) {
      watchbar_record_quote_popup(open);
      screen_hide_bars(BAR_QUOTE_POPWIN);
    } else if (bar && watchbar_cell(bar, want)) {
      watchbar_record_quote_popup(open);
      watchbar_click(bar, want);
    }
  } else if (c == 'A') {
    A().show_alerts(t.d);
  } else if (c == 'C') {
    if (t.k) window_export_image(t.k);
  } else if (c == 'V') {
    A().open_preset(t.d, 13);
  }
}

static instr *quick_slot(int i) { return quick9_get(i); }

// Plain and shifted keys when typed entry is not open.
static void plain_key(int c, const targets &t) {
  switch (c) {
    case '+': start_with(t.d, "+"); break;
    case '-': start_with(t.d, "-"); break;
    case '.': start_with(t.d, "."); break;
    case '/': start_with(t.d, "/"); break;
    case 'A': A().set_window_role(t.d, kRoleHistnews); break;
    case 'C': A().show_chart_style(t.d, -1); break;
    case 'D': A().set_window_role(t.d, kRoleDepth); break;
    case 'F': A().open_preset(t.d, 11); break;
    case 'G': A().show_google(t.d); break;
    case 'H':
      if (bar_shown(BAR_HELP)) {
        undo_cancel_help();
        screen_hide_help();
      } else {
        A().show_help(0);
      }
      break;
    case 'I': A().show_index_list(t.d, action_default_exchange_record()); break;
    case 'N': A().show_announcements(t.d, action_default_exchange_record()); break;
    case 'O':
      if (ssuser_exchange_mask(4)) A().show_option_list(t.d);
      break;
    case 'P': A().show_profile(t.d); break;
    case 'Q':
      if (bar_shown(BAR_QUICK)) screen_hide_quick_window();
      else A().show_quick();
      break;
    case 'R': A().open_preset(t.d, 10); break;
    case 'S': start_with(t.d, "S"); break;
    case 'T': A().set_window_role(t.d, kRoleTradelist); break;
    case 'V': A().open_preset(t.d, 12); break;
    case 'W': start_with(t.d, "W"); break;
    case 'Z':
      if (bar_shown(BAR_ZOOM)) {
        A().unzoom();
      } else {
        window *hover = bar_shown(BAR_HOVER) ? screen_popup_window() : nullptr;
        A().zoom(hover && hover->role == kRoleDocument ? hover : t.k);
      }
      break;
    default:
      if (c >= '1' && c <= '9')
        if (instr *in = quick_slot(c - '1')) A().set_instrument(t.d, in);
      break;
  }
}

static void shift_key(int c, const targets &t) {
  switch (c) {
    case '+': append('+'); break;
    case '=': start_with(t.d, "+"); break;
    case '/': A().search(t.d); break;
    case 'A': A().set_window_role(nullptr, kRoleHistnews); break;
    case 'C': A().set_window_role(nullptr, kRoleChart); break;
    case 'D': A().set_window_role(nullptr, kRoleDepth); break;
    case 'G': A().set_window_role(nullptr, kRoleGoogle); break;
    case 'P': A().show_profile(nullptr); break;
    case 'T': A().set_window_role(nullptr, kRoleTradelist); break;
    default:
      if (c >= '1' && c <= '9')
        if (instr *in = quick_slot(c - '1')) A().show_everywhere(in);
      break;
  }
}

static void character(const key_event *k, const targets &t) {
  const int c = toupper(k->ch);
  const uint32_t m = k->mods;
  if (m & KEY_MOD_CONTROL) {
    control_key(c, t, m & KEY_MOD_SHIFT);
    return;
  }
  switch (m) {
    case 0:
    case KEY_MOD_SHIFT:
      if (S.active) {
        append(key_to_char(k->ch, m));
        if (m == 0 && runs_at_once(S.buffer)) keyboard_command(t.d, t.popup, 1, 0);
      } else if (m == 0) {
        plain_key(c, t);
      } else {
        shift_key(c, t);
      }
      break;
    case KEY_MOD_ALT: option_key(c, t); break;
    case KEY_MOD_ALT | KEY_MOD_SHIFT:
      if (c == 'O' && ssuser_exchange_mask(4)) A().show_option_list(nullptr);
      break;
    case KEY_MOD_COMMAND:
      if (c == 'Z') {
        if (S.length == 0) A().undo();
        keyboard_deactivate();
      } else if (c == 'V') {
        paste_codes(t.k);
      } else if (c == 'C' && t.k) {
        window_export(t.k);
      }
      break;
    default: break;
  }
}

void keyboard_key(const key_event *k) {
  if (!k || k->code == kKeyModifier) return;
  if (S.mode == 0) keyboard_deactivate();
  const targets t = pick();
  if (k->code == KEY_CHAR) character(k, t);
  else special(k, t);
}
