// The group bar. One target at a time; its filter is the only state that
// matters, the buttons only show it. Every change the bar makes is deferred
// to one promise run before the next redraw (sync, or rebuild of the
// watchlist rows then sync); the promise makes the bar's screen current for
// its work by pushing it, and pops it after, so the caller's current screen
// is left as it was.
//
// Slots: reqsize (bin), draw, show_children, leave.
#include "screen/groupbar.h"

#include <cstdlib>

#include "lib/filter.h"
#include "lib/gfx.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "log.h"
#include "popups/place.h"
#include "screen/screen.h"
#include "screen/tickbar.h"
#include "screen/ticker.h"
#include "style.h"
#include "ui/box.h"
#include "ui/button.h"
#include "ui/grid.h"
#include "ui/gui.h"
#include "ui/label.h"
#include "undo.h"
#include "windows/newstoday.h"
#include "windows/watchlist.h"

namespace {

const char kSrc[] = "groupbar";

// "Utilities" is spelt right here; the codes are the published ones.
const groupbar_industry kIndustries[kGroupbarIndustries] = {
    {"Energy", 0x10000000},      {"Materials", 0x15000000},      {"Materials", 0x15100000},
    {"Metals/Mining", 0x15104000}, {"Industrials", 0x20000000},  {"Cap Goods", 0x20100000},
    {"Com Services", 0x20200000}, {"Transport", 0x20300000},     {"C. Discr", 0x25000000},
    {"Autos", 0x25100000},       {"Apparel", 0x25200000},        {"Hotels", 0x25301000},
    {"Retail", 0x25500000},      {"C. Staple", 0x30000000},      {"Food", 0x30100000},
    {"Food/Bev/Tobac", 0x30200000}, {"Household", 0x30300000},   {"Health", 0x35000000},
    {"Equipment", 0x35100000},   {"Pharma/Bio", 0x35200000},     {"Financial", 0x40000000},
    {"Banks", 0x40100000},       {"Diversified", 0x40200000},    {"Insurance", 0x40300000},
    {"Real Estate", 0x60000000}, {"REITS", 0x60101000},          {"Info Tech", 0x45000000},
    {"Software", 0x45100000},    {"Hardware", 0x45200000},       {"Semiconductors", 0x45300000},
    {"Communications", 0x50000000}, {"Media", 0x50200000},       {"Utilities", 0x55000000},
};

constexpr uint32_t kSectorMask = 0xFF000000u;
constexpr uint32_t kPendingSync = 1, kPendingRebuild = 2;

groupbar *as_bar(widget *w) { return static_cast<groupbar *>(w); }
typeid_t groupbar_type_id();
bool is_bar(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), groupbar_type_id());
}

void set_active(button *b, bool on) {
  if (!b) return;
  if (((b->state & BUTTON_ACTIVE) != 0) != on) button_set_active(b, on);
}
void set_sensitive(button *b, bool on) {
  if (b && (button_is_sensitive(b) != 0) != on) button_set_sensitive(b, on);
}

void sync(groupbar *g) {
  filter *f = groupbar_target_filter(g);
  for (int i = 0; i < kGroupbarIndustries; i++) {
    set_active(g->industry[i], f && filter_has_code(f, kIndustries[i].code));
    set_sensitive(g->industry[i], groupbar_code_sensitive(f, kIndustries[i].code));
  }
  const bool wl_on = groupbar_wlists_sensitive(f);
  for (int i = 0; i < g->wlist_count; i++) {
    button *b = g->wlist_buttons[i];
    set_active(b, f && filter_has_watchlist(f, b->id));
    set_sensitive(b, wl_on);
  }
  set_active(g->at_least_one, f && filter_wild(f->flags));
  set_active(g->not_in_any, f && filter_anti_wild(f->flags));
}

void on_wlist(button *b, uint32_t state, void *arg, int32_t id);

void rebuild_rows(groupbar *g) {
  // Resizing the grid deletes its buttons.
  free(g->wlist_buttons);
  g->wlist_buttons = nullptr;
  g->wlist_count = 0;
  const int32_t n = wlist_total();
  if (g->wlist_grid) grid_resize(g->wlist_grid, (n + kGroupbarWlistColumns - 1) / kGroupbarWlistColumns,
                                 kGroupbarWlistColumns);
  if (n > 0) g->wlist_buttons = static_cast<button **>(calloc(size_t(n), sizeof(button *)));
  for (wlist *wl = wlist_iter_begin(); wl && g->wlist_count < n; wl = wlist_iter_next()) {
    button *b = button_new(nullptr, wlist_name(wl), -1, 0, BUTTON_TOGGLE, nullptr, nullptr, on_wlist, g,
                           wlist_id(wl));
    if (!b) continue;
    if (g->wlist_grid) grid_add(g->wlist_grid, b);
    g->wlist_buttons[g->wlist_count++] = b;
  }
}

void run_promise(void *arg, int) { groupbar_run_pending(static_cast<widget *>(arg)); }

void schedule(groupbar *g, uint32_t what) {
  if (!g->pending) gui_promise(run_promise, g, 0);
  g->pending |= what;
}

void on_toggle(button *b, uint32_t state, void *arg, int32_t what, uint32_t value) {
  (void)b;
  groupbar_toggle(static_cast<widget *>(arg), what, value, (state & BUTTON_ACTIVE) != 0);
}
void on_wild(button *b, uint32_t state, void *arg, int32_t) { on_toggle(b, state, arg, kGroupbarWild, 0); }
void on_anti(button *b, uint32_t state, void *arg, int32_t) { on_toggle(b, state, arg, kGroupbarAntiWild, 0); }
void on_code(button *b, uint32_t state, void *arg, int32_t id) {
  on_toggle(b, state, arg, kGroupbarCode, kIndustries[id].code);
}
void on_wlist(button *b, uint32_t state, void *arg, int32_t id) {
  on_toggle(b, state, arg, kGroupbarWlist, uint32_t(id));
}

// ---- slots ----

void gb_draw(widget *self) {
  const style *st = style_cur();
  const uint32_t fill = st ? style_colour(st, 60) : 0xff202020u;
  gfx_fill_rect(self->r.x, self->r.y, self->r.w, self->r.h, fill);
  static_cast<container_class *>(object_class_record(bin_type()))->draw(self);
}

void gb_show_children(widget *self) {
  groupbar *g = as_bar(self);
  if (g->pending) gui_promise_cancel(run_promise, g);
  g->pending = 0;
  static_cast<container_class *>(object_class_record(bin_type()))->show_children(self);
  rebuild_rows(g);
  sync(g);
}

void gb_leave(widget *self) {
  const style *st = style_cur();
  const float leave_at = st ? st->real[0] : 7.0f;
  int32_t x, y;
  if (gui_widget_mouse(self, &x, &y) && x >= self->r.x && y >= self->r.y && x < self->r.x + self->r.w &&
      y < self->r.y + self->r.h)
    return;
  if (gui_mouse_speed() < leave_at) return;
  int n = screen_index_of(self);
  bool pushed = n >= 0 && n != screen_current_index() && screen_push(n);
  screen_hide_groupbar();
  if (pushed) screen_pop();
}

void gb_finalise(object *o) {
  groupbar *g = reinterpret_cast<groupbar *>(o);
  if (g->pending) gui_promise_cancel(run_promise, g);
  free(g->wlist_buttons);
  g->wlist_buttons = nullptr;
  g->wlist_count = 0;
}

void gb_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->draw = gb_draw;
  c->show_children = gb_show_children;
  c->leave = gb_leave;
}

typeid_t groupbar_type_id() {
  static typeid_t t = -1;
  if (t < 0)
    t = object_register_class("groupbar", bin_type(), sizeof(groupbar), nullptr, gb_finalise,
                              sizeof(container_class), gb_class_init, nullptr);
  return t;
}

void build(groupbar *g) {
  vbox *col = vbox_new(g, 0, 2);
  g->column = col;
  label_new(col, "Watchlists", 0, 0, 0, 0xffffffffu, nullptr);
  hbox *row = hbox_new(col, 0, 2);
  g->at_least_one = button_new(row, "At least one", -1, 0, BUTTON_TOGGLE, nullptr, nullptr, on_wild, g, 0);
  g->not_in_any = button_new(row, "Not in any", -1, 0, BUTTON_TOGGLE, nullptr, nullptr, on_anti, g, 0);
  g->wlist_grid = grid_new(col, 1, kGroupbarWlistColumns, 2);
  label_new(col, "Industry", 0, 0, 0, 0xffffffffu, nullptr);
  grid *ind = grid_new(col, (kGroupbarIndustries + kGroupbarWlistColumns - 1) / kGroupbarWlistColumns,
                       kGroupbarWlistColumns, 2);
  for (int i = 0; i < kGroupbarIndustries; i++) {
    g->industry[i] = button_new(nullptr, kIndustries[i].label, -1, 0, BUTTON_TOGGLE, nullptr, nullptr,
                                on_code, g, i);
    if (g->industry[i]) grid_add(ind, g->industry[i]);
  }
}

}  // namespace

const groupbar_industry *groupbar_industries() { return kIndustries; }

widget *groupbar_new(widget *parent) {
  typeid_t t = groupbar_type_id();
  if (t < 0) return nullptr;
  auto *g = static_cast<groupbar *>(widget_new(parent, t));
  if (!g) return nullptr;
  build(g);
  return g;
}

static void set_target(widget *bar, int32_t kind, widget *target) {
  if (!is_bar(bar)) return;
  groupbar *g = as_bar(bar);
  g->target_kind = target ? kind : kGroupbarNone;
  g->target = target;
  schedule(g, kPendingSync);
}

void groupbar_set_target_list(widget *bar, watchlist *w) { set_target(bar, kGroupbarList, w); }
void groupbar_set_target_ticker(widget *bar, ticker *t) { set_target(bar, kGroupbarTicker, t); }
void groupbar_set_target_news(widget *bar, widget *n) { set_target(bar, kGroupbarNews, n); }

void groupbar_schedule_sync(widget *bar) {
  if (is_bar(bar)) schedule(as_bar(bar), kPendingSync);
}
void groupbar_schedule_rebuild(widget *bar) {
  if (is_bar(bar)) schedule(as_bar(bar), kPendingRebuild);
}

void groupbar_run_pending(widget *bar) {
  if (!is_bar(bar)) return;
  groupbar *g = as_bar(bar);
  const uint32_t what = g->pending;
  g->pending = 0;
  if (!what) return;
  // The bar's own screen for the work, pushed and popped.
  const int n = screen_index_of(bar);
  const bool pushed = n >= 0 && n != screen_current_index() && screen_push(n);
  const bool shown = widget_is_shown(bar);
  if (what & kPendingRebuild) {
    rebuild_rows(g);
    sync(g);
    if (shown) {
      screen_place_groupbar();
      widget_redraw(bar);
    }
  } else {
    // Hidden buttons are synced too: cheap, and a bar shown later starts right.
    sync(g);
  }
  if (pushed) screen_pop();
}

filter *groupbar_target_filter(widget *bar) {
  if (!is_bar(bar)) return nullptr;
  groupbar *g = as_bar(bar);
  if (!g->target) return nullptr;
  switch (g->target_kind) {
    case kGroupbarList: {
      scan *s = watchlist_get_scan(static_cast<watchlist *>(g->target));
      return s ? scan_filter(s) : nullptr;
    }
    case kGroupbarTicker: return ticker_group_filter(static_cast<ticker *>(g->target));
    case kGroupbarNews: return newstoday_group_filter(g->target);
    default: return nullptr;
  }
}

bool groupbar_code_sensitive(const filter *f, uint32_t code) {
  if (!f || !(code & ~kSectorMask)) return true;
  return !filter_has_code(f, code & kSectorMask);
}

bool groupbar_wlists_sensitive(const filter *f) {
  return !f || (!filter_wild(f->flags) && !filter_anti_wild(f->flags));
}

void groupbar_toggle(widget *bar, int32_t what, uint32_t value, int on) {
  filter *f = groupbar_target_filter(bar);
  if (!f) return;
  groupbar *g = as_bar(bar);
  undo_begin();
  switch (g->target_kind) {
    case kGroupbarList: undo_push_watchlist_scan(g->target); break;
    case kGroupbarTicker: undo_push_ticker(g->target); break;
    case kGroupbarNews: undo_push_newstoday(g->target); break;
  }
  undo_end();
  switch (what) {
    case kGroupbarWild: filter_set_wild(&f->flags, on); break;
    case kGroupbarAntiWild: filter_set_anti_wild(&f->flags, on); break;
    case kGroupbarCode: filter_set_code(f, value, on); break;
    case kGroupbarWlist:
      if (filter_set_watchlist(f, int32_t(value), on) < 0) log(LOG_WARN, kSrc, "no watchlist %u", value);
      break;
    default: return;
  }
  switch (g->target_kind) {
    case kGroupbarList:
      if (scan *s = watchlist_get_scan(static_cast<watchlist *>(g->target)))
        scan_changed(s, kScanFull | kScanChangedSettings);
      break;
    case kGroupbarTicker:
      ticker_refilter(static_cast<ticker *>(g->target));
      // The ticker panel's "Groups" shows whether the ticker has a group filter.
      tickbar_refresh_tools(static_cast<ticker *>(g->target)->parent);
      screen_request_toolbar_refresh();
      break;
    case kGroupbarNews: newstoday_group_filter_changed(g->target); break;
  }
  schedule(g, kPendingSync);
}

button *groupbar_industry_button(widget *bar, uint32_t code) {
  if (!is_bar(bar)) return nullptr;
  for (int i = 0; i < kGroupbarIndustries; i++)
    if (kIndustries[i].code == code) return as_bar(bar)->industry[i];
  return nullptr;
}

button *groupbar_wlist_button(widget *bar, int32_t id) {
  if (!is_bar(bar)) return nullptr;
  groupbar *g = as_bar(bar);
  for (int i = 0; i < g->wlist_count; i++)
    if (g->wlist_buttons[i]->id == id) return g->wlist_buttons[i];
  return nullptr;
}
