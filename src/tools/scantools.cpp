// The scan panel. Its controls are made once; every button carries the id
// that names its effect, and three callbacks (buttons, Delta, ranges) plus
// the name field's turn ids into scan edits. Setting edits go through the
// linked change of the watchlist role, so the same id table serves the
// clicked window and, with Shift, every other watchlist window of the
// desktop. The file actions (Save, New, Remove, ">Watchlist", Groups) act on
// the panel's own window only. Refresh reads everything back from the scan.
#include "tools/scantools.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "lib/filter.h"
#include "lib/fmt.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "log.h"
#include "popups/place.h"
#include "screen/screen.h"
#include "sstime.h"
#include "ssuser.h"
#include "style.h"
#include "tools/panelkit.h"
#include "ui/box.h"
#include "ui/flyaway.h"
#include "ui/gui.h"
#include "ui/label.h"
#include "ui/spinner.h"
#include "ui/textbox.h"
#include "undo.h"
#include "windows/watchlist.h"
#include "windows/window.h"

static const char kSrc[] = "scantools";

// Class slots over the tools class: restyle, summary, refresh, build.
static void st_restyle(widget *self);
static const char *st_summary(tools *self);
static void st_refresh(tools *self);
static widget *st_build(tools *self);

static struct {
  object_type_cache type;
  std::string summary;  // the summary's scratch text
} S;

constexpr uint32_t kDeltaSeconds[10] = {0, 60, 300, 600, 900, 1200, 1800, 3600, 7200, 14400};
constexpr uint32_t kTradedIds[10] = {6, 7, 8, 9, 67, 68, 69, 70, 71, 72};  // filter 0..9

// Sort order of each order button.
struct order_row {
  int32_t id;
  uint32_t order;
};
constexpr order_row kOrders[] = {{23, 1},  {24, 2},  {25, 3},  {26, 4},  {27, 5},  {28, 6},  {29, 0},
                                 {32, 7},  {33, 8},  {34, 11}, {41, 9},  {42, 10}, {55, 13}, {56, 15},
                                 {57, 14}, {63, 16}, {64, 17}, {65, 18}, {66, 19}};

static scantools *as_st(widget *w) { return static_cast<scantools *>(w); }
static watchlist *owner_of(scantools *p) {
  return watchlist_is(p->owner) ? static_cast<watchlist *>(p->owner) : nullptr;
}
static scan *scan_of(scantools *p) {
  watchlist *w = owner_of(p);
  return w ? watchlist_get_list(w) : nullptr;
}

// ---- the effects of the ids --------------------------------------------------

int32_t scantools_order_id(uint32_t order) {
  if (order == 12) return -1;
  for (const order_row &r : kOrders)
    if (r.order == order) return r.id;
  return -1;
}

int scantools_apply_id(scan *s, int32_t id, int on) {
  if (!s) return -1;
  switch (id) {
    case 2: scan_change_instr_filter(s, kScanDerivatives, on); return 0;
    case 3: scan_change_instr_filter(s, kScanIndices, on); return 0;
    case 4: scan_change_instr_filter(s, kScanNews, on); return 0;
    case 5: scan_change_instr_filter(s, kScanSensitive, on); return 0;
    case 62: scan_change_instr_filter(s, kScanAllVenues, on); return 0;
    case 10:
      scan_change_instr_filter(s, kScanTraded, 0);
      scan_set_time_filter(s, 0);
      return 0;
    case 30: scan_set_reversed(s, on); return 0;
    case 35:
      if ((scan_is_frozen(s) != 0) != (on != 0)) scan_freeze(s);
      return 0;
    case 37: scan_set_exchange(s, 0, on); return 0;
    case 38: scan_set_exchange(s, 1, on); return 0;
    case 20: scan_set_change_filter(s, 1); return 0;
    case 21: scan_set_change_filter(s, 2); return 0;
    case 22: scan_set_change_filter(s, 0); return 0;
    case 39: scan_set_change_filter(s, 3); return 0;
    case 40: scan_set_change_filter(s, 4); return 0;
    case 58: case 59: case 60: return scan_set_vcmp(s, id - 58) ? 1 : 0;
    case 61: {
      if (!scan_set_vcmp(s, -1)) return 0;
      // No comparison: the relative-volume orders fall back to the changes.
      if (s->order == 15) scan_set_order(s, 3);
      else if (s->order == 14) scan_set_order(s, 2);
      return 1;
    }
    default: break;
  }
  for (int i = 0; i < 10; i++)
    if (int32_t(kTradedIds[i]) == id) {
      scan_change_instr_filter(s, kScanTraded, 1);
      scan_set_time_filter(s, uint32_t(i));
      return 0;
    }
  if (id >= 11 && id <= 19) {
    scan_set_price_filter(s, id == 19 ? 0 : uint32_t(id - 10));
    return 0;
  }
  for (const order_row &r : kOrders)
    if (r.id == id) {
      scan_set_order(s, r.order);
      return 0;
    }
  return -1;
}

void scantools_apply_delta(scan *s, int32_t id, int32_t hhmm) {
  if (!s) return;
  if (id == 10) {
    scan_set_track(s, 0, 0, 0);
    // Without a delta time the delta orders and filters mean nothing: fall
    // back to their since-yesterday counterparts.
    if (s->order == 9 || s->order == 10) scan_set_order(s, 3);
    else if (s->order == 7 || s->order == 8) scan_set_order(s, 2);
    if (s->change_filter == 3) scan_set_change_filter(s, 1);
    else if (s->change_filter == 4) scan_set_change_filter(s, 2);
    return;
  }
  if (id == 0) {
    scan_set_track(s, 0, 0, sstime_pack(0, hhmm % 100, hhmm / 100, 1, 1, 1970));
  } else {
    scan_set_track(s, 0, id >= 1 && id <= 9 ? kDeltaSeconds[id] : 60, 0);
  }
  scan_track_resolve(s);
}

// ---- the summary -------------------------------------------------------------

static void add(std::string &out, const char *fmt, const char *arg = nullptr) {
  char b[160];
  snprintf(b, sizeof b, fmt, arg ? arg : "");
  out += b;
}

const char *scantools_summary(const scan *s) {
  std::string &o = S.summary;
  o.clear();
  if (!s) return "";
  const char *f = filter_describe(scan_filter_get(s));
  if (f) o += f;
  static const char *const kOrderText[kScanOrders] = {
      nullptr, ", ALPHABETICAL", ", BY CHANGE", ", BY PCT CHANGE", ", BY SPREAD", ", BY VOLUME",
      ", BY TURNOVER", ", BY DELTA", ", BY DELTA 2", ", BY PCT DELTA", ", BY PCT DELTA2",
      ", BY LAST TRADE", nullptr, ", BY MARKET CAP", ", BY REL VOL", ", BY PCT REL VOL",
      ", BY RANGE POS", ", BY BID GAP", ", BY ASK GAP", ", BY VWAP GAP"};
  if (!s->fixed) {
    if (s->order < kScanOrders && kOrderText[s->order]) o += kOrderText[s->order];
    if (s->reversed) o += ", REVERSED";
  }
  if (ssuser_multi_exchange()) {
    if (s->exchanges[0] && !s->exchanges[1]) o += ", ASX ONLY";
    else if (s->exchanges[1] && !s->exchanges[0]) o += ", NZX ONLY";
  }
  uint32_t c = s->instr_filter;
  if (!(c & kScanDerivatives) && !s->fixed) o += ", NO DERIVS";
  if ((c & kScanAllVenues) && !s->fixed) o += ", ALL VENUES";
  if (c & kScanSensitive) o += ", HAS SENSITIVE NEWS";
  else if (c & kScanNews) o += ", HAS NEWS";
  if (c & kScanHeld) o += ", IN WATCHLISTS";
  if (!(c & kScanIndices) && !s->fixed) o += ", NO INDICES";
  static const char *const kTraded[10] = {
      nullptr, ", TRADED IN LAST 5 MINS", ", TRADED IN LAST 15 MINS", ", TRADED IN LAST HOUR",
      ", TRADED IN LAST MINUTE", ", TRADED IN LAST 10 MINS", ", TRADED IN LAST 20 MINS",
      ", TRADED IN LAST 30 MINS", ", TRADED IN LAST 2 HOURS", ", TRADED IN LAST 4 HOURS"};
  if (s->time_filter < 10) {
    if (kTraded[s->time_filter]) o += kTraded[s->time_filter];
  } else if ((c & (kScanDerivatives | kScanNews)) && !s->fixed) {
    o += ", TRADED TODAY";
  }
  bool fixed_pct = s->order == 3 && s->fixed;
  switch (s->change_filter) {
    case 1: if (!fixed_pct) o += ", UP TODAY"; break;
    case 2: if (!fixed_pct) o += ", DOWN TODAY"; break;
    case 3: o += ", UP SINCE DELTA TIME"; break;
    case 4: o += ", DOWN SINCE DELTA TIME"; break;
    default: break;
  }
  if (s->min_price != kScanNoPrice) add(o, ", MIN PRICE %s", fmt_price(s->min_price));
  if (s->max_price != kScanNoPrice) add(o, ", MAX PRICE %s", fmt_price(s->max_price));
  if (s->min_mktcap != kScanNoU64) add(o, ", MIN %s MARKET CAP", fmt_money_float_short(s->min_mktcap));
  if (s->max_mktcap != kScanNoU64) add(o, ", MAX %s MARKET CAP", fmt_money_float_short(s->max_mktcap));
  if (s->min_turnover != kScanNoU64) add(o, ", MIN %s TRADED", fmt_money_short(s->min_turnover));
  if (s->max_turnover != kScanNoU64) add(o, ", MAX %s TRADED", fmt_money_short(s->max_turnover));
  if (s->min_trades != kScanNoTrades) add(o, ", MIN %s TRADES", fmt_int(s->min_trades));
  if (s->max_trades != kScanNoTrades) add(o, ", MAX %s TRADES", fmt_int(s->max_trades));
  static const char *const kLevels[9] = {nullptr,          ", BUY <= LAST",  ", BUY >= LAST",
                                         ", SELL <= LAST", ", SELL >= LAST", ", LAST <= VWAP",
                                         ", LAST >= VWAP", ", AT HIGH",      ", AT LOW"};
  if (s->price_filter < 9 && kLevels[s->price_filter]) o += kLevels[s->price_filter];
  if (s->frozen) o += " (FROZEN)";
  if (o.size() > size_t(kScantoolsSummaryMax - 1)) o.resize(kScantoolsSummaryMax - 1);
  // Pieces begin with ", "; the frozen mark alone begins with a space.
  if (o.compare(0, 2, ", ") == 0) return o.c_str() + 2;
  if (!o.empty() && o[0] == ' ') return o.c_str() + 1;
  return o.c_str();
}

// ---- the linked change ---------------------------------------------------------

static int push_scan(widget *content) { return undo_push_watchlist_scan(content); }

static void relayout_window(widget *content) {
  window *w = tools_window_of(content);
  widget *target = w ? static_cast<widget *>(w) : content;
  target->cls->geometry_changed(target);
  widget_redraw(target);
}

static void link_group(scantools *p) {
  tools_link_begin(p->owner, kRoleWatchlist);
  undo_begin();
  tools_link_push_undo(push_scan);
  undo_end();
}

static scan *link_scan(int32_t i) {
  widget *c = tools_link_content(i);
  return watchlist_is(c) ? watchlist_get_list(static_cast<watchlist *>(c)) : nullptr;
}

static void file_action(scantools *p, button *b, int32_t id);

static void on_button(button *b, uint32_t state, void *arg, int32_t id) {
  if (!(state & BUTTON_IN_CALLBACK) || (state & (BUTTON_DRAGGED_OUT | BUTTON_DROPPED_ON))) return;
  auto *p = static_cast<scantools *>(arg);
  if (id == 31) {
    tools_hide_panel(p);
    return;
  }
  if (id == 44 || id == 36 || id == 43 || id == 53 || id == 54) {
    file_action(p, b, id);
    return;
  }
  int on = (b->state & BUTTON_ACTIVE) ? 1 : 0;
  link_group(p);
  for (int32_t i = 0; i < tools_link_count(); i++) {
    scan *s = link_scan(i);
    if (scantools_apply_id(s, id, on) == 1) {
      scan_refresh_now(s);
      relayout_window(tools_link_content(i));
    }
  }
  tools_link_apply();
}

static void on_delta(int32_t id, scantools *p) {
  link_group(p);
  int32_t hhmm = p->delta_time ? time_spinner_value(p->delta_time) : 1000;
  for (int32_t i = 0; i < tools_link_count(); i++) {
    scantools_apply_delta(link_scan(i), id, hhmm);
    relayout_window(tools_link_content(i));
  }
  tools_link_apply();
}

static void on_delta_button(button *, uint32_t state, void *arg, int32_t id) {
  if (!(state & BUTTON_IN_CALLBACK) || (state & (BUTTON_DRAGGED_OUT | BUTTON_DROPPED_ON))) return;
  on_delta(id, static_cast<scantools *>(arg));
}

static void on_delta_time(time_spinner *, void *arg, int32_t) {
  auto *p = static_cast<scantools *>(arg);
  button_group_select(&p->delta_group, 0);
  on_delta(0, p);
}

// Opens the undo group of an edit of the panel's own window: its panel and
// its scan first; the caller adds what else it changes and closes it.
static void begin_own(widget *content) {
  window *w = tools_window_of(content);
  undo_begin();
  if (w) undo_push_window_tools(w, kRoleWatchlist);
  undo_push_watchlist_scan(content);
}

// A new watchlist shown in the panel's own window, as one undo step.
static void show_new_watchlist(watchlist *own, wlist *wl) {
  begin_own(own);
  undo_push_wlist_created(wl);
  undo_end();
  watchlist_set_source(own, wl);
}

// ---- ranges: the panel's own scan, one undo step ------------------------------

static void on_range(textbox *t, int code, void *arg, int32_t id) {
  if (code != TEXTBOX_ENTER && code != TEXTBOX_LEFT) return;
  auto *p = static_cast<scantools *>(arg);
  scan *s = scan_of(p);
  if (!s) return;
  uint64_t v = 0;
  int r;
  bool trades = id == 51 || id == 52;
  uint64_t max = (id == 45 || id == 46) ? kScanMaxPrice : trades ? uint64_t(kScanMaxTrades) : kScanMaxValue;
  r = trades ? tools_parse_count(textbox_text(t), max, &v) : tools_parse_cents(textbox_text(t), max, &v);
  if (r < 0) {
    // Text that is no amount changes nothing: the field shows the bound again.
    st_refresh(p);
    return;
  }
  bool none = r == 1;
  window *w = tools_window_of(p->owner);
  begin_own(p->owner);
  undo_end();
  switch (id) {
    case 45: scan_set_min_price(s, none ? kScanNoPrice : uint32_t(v)); break;
    case 46: scan_set_max_price(s, none ? kScanNoPrice : uint32_t(v)); break;
    case 49: scan_set_min_turnover(s, none ? kScanNoU64 : v); break;
    case 50: scan_set_max_turnover(s, none ? kScanNoU64 : v); break;
    case 47: scan_set_min_mktcap(s, none ? kScanNoU64 : v); break;
    case 48: scan_set_max_mktcap(s, none ? kScanNoU64 : v); break;
    case 51: scan_set_min_trades(s, none ? kScanNoTrades : int32_t(v)); break;
    case 52: scan_set_max_trades(s, none ? kScanNoTrades : int32_t(v)); break;
    default: break;
  }
  if (w) window_update_title(w);
  tools_refresh_later(p);
}

// ---- the name field and the file actions ---------------------------------------

static bool is_registered(const scan *s) { return s && s->registered; }

void scantools_save(scantools *p, scan *s) {
  if (!s) return;
  window *w = tools_window_of(p->owner);
  const char *name = textbox_text(p->name);
  begin_own(p->owner);
  scan_set_name(s, name);
  if (name[0] && !s->registered && !s->source) {
    scan_register(s);
    undo_push_scan_saved(s);
  }
  undo_end();
  button_disable(p->save);
  button_set_text(p->save, "Rename");
  button_enable(p->make_new);
  button_set_sensitive(p->to_wlist, !s->fixed && s->name[0]);
  screen_request_toolbar_refresh();
  screen_desktops_changed();
  if (w) window_update_title(w);
}

static void on_name(textbox *t, int code, void *arg, int32_t) {
  auto *p = static_cast<scantools *>(arg);
  scan *s = scan_of(p);
  if (!s) return;
  if (code == TEXTBOX_ENTER || code == TEXTBOX_LEFT) {
    if (!button_is_sensitive(p->save))
      textbox_set_text(t, s->name);
    else
      scantools_save(p, s);
    return;
  }
  const char *typed = textbox_text(t);
  button_set_sensitive(p->save, !s->fixed && typed[0] && scan_name_is_free(typed));
}

static void lists_changed() {
  screen_request_toolbar_refresh();
  screen_desktops_changed();
}

static wlist *new_watchlist(const char *name) {
  wlist *wl = wlist_create(name && *name ? name : "New Watchlist", 0);
  if (!wl) log(LOG_ERROR, kSrc, "can't create new watchlist");
  return wl;
}

static void file_action(scantools *p, button *b, int32_t id) {
  watchlist *own = owner_of(p);
  scan *s = own ? watchlist_get_list(own) : nullptr;
  if (!own || !s) return;
  window *w = tools_window_of(own);
  switch (id) {
    case 44: scantools_save(p, s); break;
    case 36:
      if (!s->source) {
        if (s->fixed) scantools_focus_field2(p);
        scantools_focus_field(p);
        scan *c = scan_clone_temp(s);
        if (!c) return;
        c->fixed = 0;
        c->name[0] = 0;
        begin_own(own);
        undo_end();
        watchlist_set_list(own, c);
      } else {
        wlist *wl = new_watchlist(nullptr);
        if (!wl) return;
        show_new_watchlist(own, wl);
      }
      lists_changed();
      break;
    case 43:
      begin_own(own);
      if (!s->source) {
        scan *c = scan_clone_temp(s);
        if (c) c->fixed = 0;
        if (s->registered) {
          undo_push_scan_deleted(s);
          if (c) watchlist_set_list(own, c);  // before the unlink tells the watchers
          scan_unlink(s);
        } else if (c) {
          c->name[0] = 0;
          watchlist_set_list(own, c);
        }
      } else {
        wlist *wl = s->source;
        undo_push_wlist_deleted(wl);
        wlist_unlink(wl);
      }
      undo_end();
      lists_changed();
      break;
    case 53: {
      wlist *wl = new_watchlist(s->name);
      if (!wl) return;
      // The copy takes every result up to the largest limit, then the scan
      // goes back to the limit its window gave it.
      uint32_t limit = s->limit;
      scan_set_limit(s, kScanMaxLimit);
      s->change_flags |= kScanRequested;
      scan_refresh_now(s);
      for (instr *in = scan_result_begin(s); in; in = scan_result_next()) wlist_add_item(wl, in);
      scan_set_limit(s, limit);
      scan_refresh_now(s);
      show_new_watchlist(own, wl);
      screen_request_toolbar_refresh();
      break;
    }
    case 54:
      // The group bar edits this window's scan, placed beside the button
      // (its right end less half its height, at its middle).
      if (own) screen_show_groupbar_a(own, b->r.x + b->r.w - b->r.h / 2, b->r.y + b->r.h / 2);
      break;
    default: break;
  }
  if (w) window_update_title(w);
  tools_refresh_later(p);
}

// ---- build ---------------------------------------------------------------------

namespace {

struct builder {
  scantools *p;
  hbox *row = nullptr;
  vbox *col = nullptr;
  int in_col = 0;

  // A section: a flyaway holding a row of columns of two controls each.
  void section(int which, const char *title) {
    const style *st = style_cur();
    padding pad;
    padding_set(&pad, 4, 4, 3, 4);
    flyaway *f = flyaway_new(p->box, title, 1, st ? st->font[0] : 0,
                             st ? style_colour(st, SC_PANEL_LIGHT) | 0xff000000u : 0xff404040u, 0, &pad);
    p->section[which] = f;
    row = hbox_new(f, 0, 2);
    col = nullptr;
    in_col = 0;
  }
  widget *slot() {
    if (!col || in_col == 2) {
      col = vbox_new(row, 0, 1);
      in_col = 0;
    }
    in_col++;
    return col;
  }
  button *btn(const char *text, int32_t id, button_group *g = nullptr, uint32_t style_bits = 0,
              button_fn fn = on_button) {
    return button_new(slot(), text, -1, 0, style_bits | BUTTON_STYLE_FONT | BUTTON_CENTRE_X | BUTTON_CENTRE_Y, g,
                      style_button_colours(), fn, p, id);
  }
  button *toggle(const char *text, int32_t id) { return btn(text, id, nullptr, BUTTON_TOGGLE); }
};

}  // namespace

static widget *st_build(tools *self) {
  scantools *p = as_st(self);
  builder b{p};
  p->box = fbox_new(nullptr, 1, 2);
  button_group_init(&p->order);
  button_group_init(&p->change);
  button_group_init(&p->traded);
  button_group_init(&p->levels);
  button_group_init(&p->delta_group);
  button_group_init(&p->relvol_group);

  b.section(SCANTOOLS_FILE, "File");
  p->name = textbox_new(b.slot(), "", 24, 0, nullptr, nullptr, on_name, p, 0);
  p->save = b.btn("Save", 44);
  p->make_new = b.btn("New", 36);
  p->to_wlist = b.btn(">Watchlist", 53);
  p->remove = b.btn("Remove", 43);

  b.section(SCANTOOLS_ORDER, "Order");
  struct { const char *t; int32_t id; } orders[] = {
      {"% Change", 25}, {"% Delta", 41}, {"% Rel Vol", 56}, {"Bid Gap", 64}, {"Change", 24}, {"Delta", 32},
      {"Rel Vol", 57}, {"Ask Gap", 65}, {"Volume", 27}, {"Last Trade", 34}, {"Range Pos", 63},
      {"VWAP Gap", 66}, {"Turnover", 28}, {"Code", 23}, {"Mkt Cap", 55}, {"Manual", 29}};
  for (auto &o : orders) {
    button *k = b.btn(o.t, o.id, &p->order);
    if (o.id == 41) p->pct_delta = k;
    if (o.id == 32) p->delta = k;
    if (o.id == 56) p->pct_relvol = k;
    if (o.id == 57) p->relvol = k;
    if (o.id == 29) p->manual = k;
  }
  p->reverse = b.toggle("Reverse", 30);
  p->freeze = b.toggle("Freeze", 35);

  b.section(SCANTOOLS_SELECT, "Select");
  if (ssuser_multi_exchange()) {
    p->asx = b.toggle("ASX", 37);
    p->nzx = b.toggle("NZX", 38);
  }
  p->groups = b.toggle("Groups", 54);
  p->venues = b.toggle("All Venues", 62);
  p->derivs = b.toggle("Derivatives", 2);
  p->indices = b.toggle("Indices", 3);
  p->news = b.toggle("News", 4);
  p->sensitive = b.toggle("Sensitive", 5);

  b.section(SCANTOOLS_TRADED, "Traded");
  struct { const char *t; int32_t id; } traded[] = {{"1 Min", 67}, {"5 Min", 7}, {"10 ", 68}, {"15", 8},
                                                    {"20", 69},    {"30", 70},   {"1 Hour", 9}, {"2", 71},
                                                    {"4", 72},     {"Today", 6}, {"N/A", 10}};
  for (auto &o : traded) b.btn(o.t, o.id, &p->traded);

  b.section(SCANTOOLS_CHANGE, "Change");
  b.btn("Up", 20, &p->change);
  b.btn("Down", 21, &p->change);
  {
    const style *st = style_cur();
    p->delta_label = label_new(b.slot(), "(Delta)", 0, st ? st->font[0] : 0,
                               st ? style_colour(st, SC_PANEL_LIGHT) | 0xff000000u : 0, 0xffffffffu, nullptr);
  }
  p->up_delta = b.btn("Up", 39, &p->change);
  p->down_delta = b.btn("Down", 40, &p->change);
  b.btn("N/A", 22, &p->change);

  b.section(SCANTOOLS_RANGES, "Ranges");
  {
    // One column per bound kind (its title, the minimum, the maximum) after
    // a column of captions, so the section is three rows high like the rest
    // of the panel rather than five.
    const style *st = style_cur();
    uint32_t fly = st ? style_colour(st, SC_PANEL_LIGHT) | 0xff000000u : 0xff404040u;
    int32_t font = st ? st->font[0] : 0;
    vbox *captions = vbox_new(b.row, 0, 1);
    for (const char *t : {"k,t,m,b", "Min", "Max"}) label_new(captions, t, 0, font, fly, 0xffffffffu, nullptr);
    const char *kinds[] = {"Price", "Turnover", "Mkt Cap", "Trades"};
    const int32_t ids[4][2] = {{45, 46}, {49, 50}, {47, 48}, {51, 52}};
    for (int r = 0; r < 4; r++) {
      vbox *col = vbox_new(b.row, 0, 1);
      label_new(col, kinds[r], 0, font, fly, 0xffffffffu, nullptr);
      for (int k = 0; k < 2; k++) {
        uint32_t flags = TEXTBOX_NUMERIC | TEXTBOX_MAGNITUDE | (r == 0 ? uint32_t(TEXTBOX_PLAIN) : 0u);
        p->range[r * 2 + k] = textbox_new(col, "", 8, flags, nullptr, nullptr, on_range, p, ids[r][k]);
      }
    }
  }

  b.section(SCANTOOLS_LEVELS, "Levels");
  struct { const char *t; int32_t id; } levels[] = {{"Last <= VWAP", 15}, {"Last >= VWAP", 16}, {"Buy <= Last", 11},
                                                    {"Buy >= Last", 12},  {"Sell <= Last", 13}, {"Sell >= Last", 14},
                                                    {"At Low", 18},       {"At High", 17},      {"N/A", 19}};
  for (auto &o : levels) b.btn(o.t, o.id, &p->levels);

  b.section(SCANTOOLS_DELTA, "Delta");
  b.btn("Custom", 0, &p->delta_group, 0, on_delta_button);
  p->delta_time = time_spinner_new(b.slot(), "", 1000, 800, 1900, nullptr, nullptr, on_delta_time, p, 0);
  struct { const char *t; int32_t id; } deltas[] = {{"1 Min", 1}, {"5 Min", 2}, {"10", 3}, {"15", 4}, {"20", 5},
                                                    {"30", 6},    {"1 Hour", 7}, {"2", 8}, {"4", 9}, {"N/A", 10}};
  for (auto &o : deltas) b.btn(o.t, o.id, &p->delta_group, 0, on_delta_button);

  b.section(SCANTOOLS_RELVOL, "Rel Volume");
  b.btn("Yesterday", 58, &p->relvol_group);
  b.btn("Week Avg", 59, &p->relvol_group);
  b.btn("Month Avg", 60, &p->relvol_group);
  b.btn("N/A", 61, &p->relvol_group);
  return p->box;
}

// ---- refresh -------------------------------------------------------------------

static void set_toggle(button *b, int on) {
  if (b) button_set_active(b, on);
}

static void select(button_group *g, int32_t id) {
  if (id < 0 || button_group_select(g, id) < 0) button_group_set_active(g, nullptr);
}

static void show_section(scantools *p, int which, bool on) {
  if (p->section[which]) fbox_show_flyaway(p->box, p->section[which], on ? 1 : 0);
}

static void fmt_bound(char *out, size_t n, uint64_t v, bool cents) {
  if (cents) snprintf(out, n, "%llu.%02llu", (unsigned long long)(v / 100), (unsigned long long)(v % 100));
  else snprintf(out, n, "%llu", (unsigned long long)v);
  if (cents) {  // no trailing zeros after the point
    size_t l = strlen(out);
    while (l && out[l - 1] == '0') out[--l] = 0;
    if (l && out[l - 1] == '.') out[--l] = 0;
  }
}

static void show_bound(textbox *t, uint64_t v, bool none, bool cents) {
  if (!t || gui_has_focus(t)) return;
  char b[48] = "";
  if (!none) fmt_bound(b, sizeof b, v, cents);
  textbox_set_text(t, b);
}

static void st_refresh(tools *self) {
  scantools *p = as_st(self);
  scan *s = scan_of(p);
  if (!s) return;
  if (!gui_has_focus(p->name)) textbox_set_text(p->name, s->name);
  uint32_t c = s->instr_filter;
  set_toggle(p->reverse, s->reversed);
  set_toggle(p->freeze, s->frozen);
  set_toggle(p->asx, s->exchanges[0]);
  set_toggle(p->nzx, s->exchanges[1]);
  set_toggle(p->derivs, c & kScanDerivatives);
  set_toggle(p->venues, c & kScanAllVenues);
  set_toggle(p->indices, c & kScanIndices);
  set_toggle(p->news, c & kScanNews);
  set_toggle(p->sensitive, c & kScanSensitive);
  set_toggle(p->groups, scan_has_filter(s));
  // Sensitivity first: disabling a button drops it from its group's
  // selection, so the selections below must come after.
  bool delta_on = scan_track_set(s, 0);
  button *delta_buttons[4] = {p->pct_delta, p->delta, p->up_delta, p->down_delta};
  for (button *b : delta_buttons)
    if (b) button_set_sensitive(b, delta_on);
  bool rel = s->vcmp >= 0;
  if (p->pct_relvol) button_set_sensitive(p->pct_relvol, rel);
  if (p->relvol) button_set_sensitive(p->relvol, rel);
  if (p->manual) button_set_sensitive(p->manual, s->source != nullptr);
  select(&p->order, scantools_order_id(s->order));
  static const int32_t kChange[5] = {22, 20, 21, 39, 40};
  select(&p->change, s->change_filter < 5 ? kChange[s->change_filter] : -1);
  if (s->time_filter == 0) select(&p->traded, (c & kScanTraded) ? 6 : 10);
  else select(&p->traded, s->time_filter < 10 ? int32_t(kTradedIds[s->time_filter]) : -1);
  select(&p->levels, s->price_filter == 0 ? 19 : s->price_filter <= 8 ? int32_t(10 + s->price_filter) : -1);

  if (delta_on) {
    const scan_track &t = s->tracks[0];
    int32_t id = -1;
    for (int i = 1; i <= 9; i++)
      if (t.delta_seconds == kDeltaSeconds[i]) id = i;
    if (t.delta_seconds == 0 || id < 0) {
      sstime_parts parts{};
      if (t.fixed_point && sstime_unpack(&parts, t.fixed_point) == 0)
        time_spinner_set_value(p->delta_time, parts.hour * 100 + parts.min);
      id = 0;
    }
    select(&p->delta_group, id);
  } else {
    select(&p->delta_group, 10);
  }
  select(&p->relvol_group, rel && s->vcmp <= 2 ? 58 + s->vcmp : 61);

  bool list = s->source != nullptr;
  for (int k : {SCANTOOLS_SELECT, SCANTOOLS_TRADED, SCANTOOLS_CHANGE, SCANTOOLS_LEVELS, SCANTOOLS_RANGES})
    show_section(p, k, !list);
  show_section(p, SCANTOOLS_ORDER, list || !s->fixed);
  textbox_set_editable(p->name, list || !s->fixed);

  show_bound(p->range[0], s->min_price, s->min_price == kScanNoPrice, true);
  show_bound(p->range[1], s->max_price, s->max_price == kScanNoPrice, true);
  show_bound(p->range[2], s->min_turnover, s->min_turnover == kScanNoU64, true);
  show_bound(p->range[3], s->max_turnover, s->max_turnover == kScanNoU64, true);
  show_bound(p->range[4], s->min_mktcap, s->min_mktcap == kScanNoU64, true);
  show_bound(p->range[5], s->max_mktcap, s->max_mktcap == kScanNoU64, true);
  show_bound(p->range[6], uint64_t(s->min_trades), s->min_trades == kScanNoTrades, false);
  show_bound(p->range[7], uint64_t(s->max_trades), s->max_trades == kScanNoTrades, false);

  bool renamed = strcmp(textbox_text(p->name), s->name) != 0;
  button_set_sensitive(p->save, !s->fixed && renamed);
  button_set_text(p->save, list || is_registered(s) ? "Rename" : "Save");
  button_set_sensitive(p->make_new, s->fixed || list || is_registered(s));
  button_set_sensitive(p->to_wlist, !list);
  button_set_sensitive(p->remove, !s->fixed && s->name[0]);
}

// ---- class -----------------------------------------------------------------------

static const char *st_summary(tools *self) { return scantools_summary(scan_of(as_st(self))); }

static void set_label(widget *w, void *, int) {
  if (!object_is_a(widget_obj(w), label_type())) {
    w->cls->apply_children(w, set_label, nullptr, 0);
    return;
  }
  const style *st = style_cur();
  if (!st) return;
  label_set_font(static_cast<label *>(w), st->font[0]);
  label_set_bg(static_cast<label *>(w), style_colour(st, SC_PANEL_LIGHT) | 0xff000000u);
}

static void st_restyle(widget *self) {
  tools_base()->restyle(self);
  self->cls->apply_children(self, set_label, nullptr, 0);
}

static void st_class_init(object_class *rec) {
  auto *c = static_cast<tools_class_rec *>(rec);
  c->restyle = st_restyle;
  c->summary = st_summary;
  c->refresh = st_refresh;
  c->build = st_build;
}

static typeid_t register_scantools() {
  return object_register_class("scantools", tools_class(), sizeof(scantools), nullptr, nullptr,
                               sizeof(tools_class_rec), st_class_init, nullptr);
}

typeid_t scantools_type() { return object_cached_type(&S.type, register_scantools); }

scantools *scantools_new(widget *parent, widget *owner) {
  auto *p = static_cast<scantools *>(widget_new(parent, scantools_type()));
  if (!p) return nullptr;
  // Filling the height too (136, not 8): the sections are flyaways of a
  // horizontal flyaway box, which take the box's height when closed, so the
  // box must be given the panel's height rather than asked for its own.
  tools_setup(p, 136, owner);
  return p;
}

void scantools_focus_field(widget *panel) {
  if (scantools_is(panel)) {
    auto *p = as_st(panel);
    fbox_touch_flyaway(p->box, p->section[SCANTOOLS_FILE]);
  }
}

void scantools_focus_field2(widget *panel) {
  if (scantools_is(panel)) {
    auto *p = as_st(panel);
    fbox_touch_flyaway(p->box, p->section[SCANTOOLS_ORDER]);
  }
}

button *scantools_button(scantools *p, int32_t id) { return panelkit_find_button(p, id); }

bool scantools_section_shown(scantools *p, int section) {
  if (section < 0 || section >= kScantoolsSections) return false;
  return panelkit_section_shown(p->box, p->section[section]);
}
