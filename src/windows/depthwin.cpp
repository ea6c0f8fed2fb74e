// The depth window: a box that holds the bars above the table and the depth
// book they both read. This file is the window's own part: its life, its
// settings, the change handler, show and hide, layout, price grouping, the
// age reference, export and copy. The replay engine that moves the book in
// time is depthreplay.cpp.
//
// The window's fields are the book; the children keep a pointer to it and
// are driven only through their nine depth operations. Nothing here takes a
// lock: the frame loop holds the core lock while the window runs.
#include "windows/depthwin.h"

#include <cmath>
#include <cstring>

#include "export/clipboard.h"
#include "lib/fade.h"
#include "lib/timer.h"
#include "lib/fmt.h"
#include "log.h"
#include "plat.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "style.h"
#include "tools/depthtools.h"
#include "ui/gui.h"
#include "undo.h"
#include "windows/depthbars.h"
#include "windows/depthtable.h"
#include "windows/window.h"
#include "screen/desktop.h"

namespace {

const char kSrc[] = "src/windows/depthwin";

constexpr float kInitialSpeedup = 60.0f;
constexpr float kInitialDelay = 1.0f;
constexpr uint32_t kInitialShowMode = 3;
constexpr uint32_t kInitialHeight = 999999;
constexpr uint32_t kInitialAgeSplitType = 4;
constexpr uint32_t kInitialAgeSplitCount = 15;
constexpr uint32_t kWildMask = kGlobalOnline | kGlobalReset;
constexpr uint32_t kInstrumentMask = 0x1D510;
constexpr int32_t kBothChildrenMinHeight = 61;
constexpr int32_t kTableMinShare = 60;

int req_events(instr *in) { return ssclient_request_events(in); }
int req_stock_events(ss_stock *s) { return ssclient_request_stock_events(s, 0); }
int req_day(instr *in, ss_time d) { return ssclient_request_events_for_day(in, d); }
double frame_seconds() { return double(plat_ms()) / 1000.0; }
// The depth panel's calls (a window made without one has a null panel).
void panel_rebind(widget *t) { depthtools_rebind_chart(t); }
void panel_follow(widget *t, instr *) { depthtools_follow_instrument(t); }
void panel_redraw(widget *t) {
  depthtools_show_speed(t);
  widget_redraw(t);
}

// A replay's moment goes to the charts of the depth window's desktop.
window *window_of(widget *w) {
  while (w && !window_is(w)) w = w->parent;
  return static_cast<window *>(w);
}
void sync_charts(widget *w, ss_time t) {
  if (window *win = window_of(w)) desktop_sync_charts(win, t);
}
void sync_charts_clear(widget *w) {
  if (window *win = window_of(w)) desktop_clear_chart_sync(win);
}

depthwin_services defaults() {
  depthwin_services s{};
  s.chart_sync = sync_charts;
  s.chart_sync_clear = sync_charts_clear;
  s.request_events = req_events;
  s.request_stock_events = req_stock_events;
  s.request_events_for_day = req_day;
  s.sleep = ssclient_sleep;
  s.now_seconds = frame_seconds;
  s.tools_rebind = panel_rebind;
  s.tools_follow = panel_follow;
  s.tools_show_speed = depthtools_show_speed;
  s.tools_redraw = panel_redraw;
  s.tools_update_chart = depthtools_update_chart;
  return s;
}

struct {
  depthwin_services svc = defaults();
} S;

depthwin *dw(widget *w) { return static_cast<depthwin *>(w); }

}  // namespace

void depthwin_set_services(const depthwin_services *s) { S.svc = s ? *s : defaults(); }
const depthwin_services *depthwin_get_services() { return &S.svc; }

namespace {

void notify_settings(depthwin_book *b) {
  DEPTHWIN_BOTH(b, settings_changed, int(b->show_trades));
  if (S.svc.tools_rebind && b->tools) S.svc.tools_rebind(b->tools);
}

bool shown(const depthwin *w) { return widget_is_shown(w); }

// Children visibility for the window's height.
void set_children_visible(depthwin *w) {
  depthwin_book *b = &w->book;
  uint32_t cur = 0;
  if (b->bars && widget_is_shown(b->bars)) cur |= 1;
  if (b->table && widget_is_shown(b->table)) cur |= 2;
  uint32_t want = depthwin_visible_children(b->show_mode, w->r.h, cur);
  if (b->bars) widget_set_visible(b->bars, (want & 1) ? 1 : 0);
  if (b->table) widget_set_visible(b->table, (want & 2) ? 1 : 0);
}

void request_data(depthwin *w) {
  depthwin_book *b = &w->book;
  if (!b->instrument) return;
  if (S.svc.in_popup && S.svc.in_popup(w) && b->instrument->kind == kKindStock) {
    if (S.svc.request_stock_events) S.svc.request_stock_events(static_cast<ss_stock *>(b->instrument));
  } else if (S.svc.request_events) {
    S.svc.request_events(b->instrument);
  }
}

uint32_t last_price(const instr *in) {
  return in && in->kind == kKindStock ? static_cast<const ss_stock *>(in)->last : 0;
}

}  // namespace

void depthwin_copy_day_figures(depthwin_book *b) {
  memset(b->day_figures, 0, sizeof b->day_figures);
  if (!b->instrument || b->instrument->kind != kKindStock) return;
  const ss_stock *s = static_cast<const ss_stock *>(b->instrument);
  uint32_t f[5] = {s->open, s->high, s->low, s->last, s->average_price};
  memcpy(b->day_figures, f, sizeof f);
}

namespace {

// ---- class ----

void dw_init(object *o) {
  depthwin *w = reinterpret_cast<depthwin *>(o);
  depthwin_book *b = &w->book;
  b->owner = w;
  b->realtime = 1;
  b->speedup = kInitialSpeedup;
  b->show_trades = 1;
  b->height = kInitialHeight;
  b->age_split_type = kInitialAgeSplitType;
  b->age_split_count = kInitialAgeSplitCount;
  b->delay = kInitialDelay;
  b->show_mode = kInitialShowMode;
  b->throttle = 1;
  b->tick_timer = -1;
  b->prefetch_timer = -1;
  b->bars = static_cast<depthwin_child *>(widget_new(w, depthbars_type()));
  if (b->bars) b->bars->book = b;
  b->table = static_cast<depthwin_child *>(widget_new(w, depthtbl_type()));
  if (b->table) b->table->book = b;
  ssnotify_add_wild(kWildMask, depthwin_changed, w, 0, 0);
}

void dw_fini(object *o) {
  depthwin *w = reinterpret_cast<depthwin *>(o);
  depthwin_book *b = &w->book;
  ssnotify_remove_wild(w);
  if (b->instrument) ssnotify_remove(b->instrument, w);
  depthwin_reset_book(b);
  if (b->tick_timer >= 0) timer_stop(b->tick_timer);
  if (b->prefetch_timer >= 0) timer_stop(b->prefetch_timer);
  b->tick_timer = b->prefetch_timer = -1;
}

widget_class *parent_class() { return static_cast<widget_class *>(object_class_record(box_type())); }

void dw_reqsize(widget *, size *out) { *out = {200, 200}; }

void dw_geometry_changed(widget *self) {
  depthwin *w = dw(self);
  if (shown(w)) set_children_visible(w);
  parent_class()->geometry_changed(self);
}

int tick_fn(void *arg, uint32_t, int64_t, float) {
  depthwin_tick(static_cast<widget *>(arg));
  return 1;
}

void dw_show_children(widget *self) {
  depthwin *w = dw(self);
  depthwin_book *b = &w->book;
  if (b->instrument) request_data(w);
  if (b->tick_timer < 0) b->tick_timer = timer_start(10, tick_fn, w, 0);
  set_children_visible(w);
  if (b->instrument && !b->anchor_position && !b->pinned_event && !b->target) depthwin_catchup(w);
}

void dw_hide_children(widget *self) {
  depthwin *w = dw(self);
  depthwin_book *b = &w->book;
  depthwin_cancel_promises(b);
  if (b->bars) widget_hide(b->bars);
  if (b->table) widget_hide(b->table);
  if (S.svc.chart_sync_clear) S.svc.chart_sync_clear(w);
}

int32_t table_row_height() {
  const style *s = style_cur();
  return (s ? s->line_height : 14) + 1;
}

void dw_layout(container *self) {
  depthwin *w = static_cast<depthwin *>(self);
  depthwin_book *b = &w->book;
  rect r = w->r;
  rect bars = r, table = r;
  if (b->show_mode == 3) {
    int32_t row = table_row_height();
    int32_t share = (r.h / 2) / row * row;
    if (share < kTableMinShare) {
      share = r.h;
    }
    table = {r.x, r.y + r.h - share, r.w, share};
    bars = {r.x, r.y, r.w, r.h - share};
  }
  for (auto [c, cr] : {std::pair<widget *, rect>{b->bars, bars}, {b->table, table}}) {
    if (!c) continue;
    c->r = cr;
    c->cls->geometry_changed(c);
  }
}

// Undo: the window's settings and, while it replays or holds a mark, its
// position, copied before a change and put back by play and setters.
struct undo_copy {
  uint32_t show_mode, show_age, show_trades, age_type, age_count;
  float speedup;
  // The replay mode and its step delay: the depth panel's "By Event" and
  // its Faster and Slower by event change them.
  float delay;
  uint32_t realtime;
  int32_t group_by;
  uint32_t height;
  ss_time position;
  uint32_t mark;
  int32_t thickness;
};

void *undo_save(void *object) {
  depthwin *d = dw(static_cast<widget *>(object));
  const depthwin_book *b = &d->book;
  auto *c = new undo_copy;
  *c = {b->show_mode, b->show_age, b->show_trades, b->age_split_type, b->age_split_count, b->speedup,
        b->delay,     b->realtime, b->group_by,  b->height,
        (b->anchor_position || b->mark) ? b->position : 0, b->mark != 0,
        b->bars ? depthbars_get_thickness(b->bars) : 0};
  return c;
}

int undo_restore(void *saved, void *object) {
  auto *c = static_cast<undo_copy *>(saved);
  widget *w = static_cast<widget *>(object);
  depthwin_set_show_mode(w, c->show_mode);
  depthwin_set_show_age(w, c->show_age);
  depthwin_set_show_trades(w, c->show_trades);
  depthwin_set_speedup(w, c->speedup);
  depthwin_set_delay(w, c->delay);
  if (dw(w)->book.realtime != c->realtime) depthwin_set_non_realtime(w, !c->realtime);
  if (c->mark)
    depthwin_set_mark(w, 1);
  else
    depthwin_release_mark(w);
  depthwin_set_group_by(w, c->group_by);
  depthwin_set_height(w, c->height);
  if (c->position) depthwin_play_to(w, c->position, 1);
  depthwin_set_age_split(w, 0, c->age_type, c->age_count);
  if (dw(w)->book.bars && c->thickness) depthbars_set_thickness(dw(w)->book.bars, c->thickness);
  return 0;
}

void undo_release(void *saved, int) { delete static_cast<undo_copy *>(saved); }

const undo_record_ops kUndoOps = {undo_save, undo_restore, undo_release};

void dw_class_init(object_class *rec) {
  auto *c = static_cast<box_class *>(rec);
  c->reqsize = dw_reqsize;
  c->geometry_changed = dw_geometry_changed;
  c->show_children = dw_show_children;
  c->hide_children = dw_hide_children;
  c->layout = dw_layout;
  if (object_class_first_init(depthwin_type())) {
    depthwin_rollover_init();
    undo_register_type(UNDO_DEPTHWIN, &kUndoOps);
  }
}

void dw_class_fini(object_class *) {
  if (object_class_fini_flag(depthwin_type())) {
    depthwin_rollover_fini();
    undo_register_type(UNDO_DEPTHWIN, nullptr);
  }
}

typeid_t register_depthwin() {
  return object_register_class("depthwin", box_type(), sizeof(depthwin), dw_init, dw_fini, sizeof(box_class),
                               dw_class_init, dw_class_fini);
}

void child_class_init(object_class *) {}

typeid_t register_child() {
  return object_register_class("depthwin_child", bin_type(), sizeof(depthwin_child), nullptr, nullptr,
                               sizeof(depthwin_child_class), child_class_init, nullptr);
}

}  // namespace

typeid_t depthwin_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_depthwin);
}

typeid_t depthwin_child_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_child);
}

widget *depthwin_new(widget *parent) { return widget_new(parent, depthwin_type()); }

depthwin_book *depthwin_get_book(widget *w) { return w ? &dw(w)->book : nullptr; }

depthwin_child *depthwin_get_child(widget *w, int n) {
  if (n == 1) return dw(w)->book.bars;
  if (n == 2) return dw(w)->book.table;
  return nullptr;
}

void depthwin_set_tools(widget *w, widget *panel) { dw(w)->book.tools = panel; }

uint32_t depthwin_visible_children(uint32_t mode, int32_t height, uint32_t current) {
  if (height < kBothChildrenMinHeight) {
    if (mode == 1) return 1;
    if (mode == 3) return 2;
    return current;
  }
  return mode & 3;
}

uint32_t depthwin_get_show_mode(widget *w) { return dw(w)->book.show_mode; }

void depthwin_set_show_mode(widget *w, uint32_t bits) {
  depthwin *d = dw(w);
  if (d->book.show_mode == bits) return;
  d->book.show_mode = bits;
  if (!shown(d)) return;
  if (bits == 1) {
    widget_show(d->book.bars);
    widget_hide(d->book.table);
  } else if (bits == 2) {
    widget_hide(d->book.bars);
    widget_show(d->book.table);
  }
  d->cls->geometry_changed(d);
}

uint32_t depthwin_get_show_age(widget *w) { return dw(w)->book.show_age; }

void depthwin_set_show_age(widget *w, uint32_t on) {
  depthwin_book *b = &dw(w)->book;
  if (b->show_age == on) return;
  b->show_age = on;
  if (on) depthwin_update_age_ref(b);
  if (!b->copying) notify_settings(b);
}

uint32_t depthwin_get_show_trades(widget *w) { return dw(w)->book.show_trades; }

void depthwin_set_show_trades(widget *w, uint32_t on) {
  depthwin_book *b = &dw(w)->book;
  if (b->show_trades == on) return;
  b->show_trades = on;
  notify_settings(b);
}

uint32_t depthwin_group_step_for(int32_t g, bool has_instrument, uint32_t last) {
  if (g == 0) return 1;
  if (g > 0) return uint32_t(g);
  if (!has_instrument) return 1;
  if (last < 100000) return 0;
  if (last < 400000) return 1000;
  if (last < 600000) return 5000;
  return 10000;
}

int32_t depthwin_get_group_by(widget *w) { return dw(w)->book.group_by; }


void depthwin_set_group_by(widget *w, int32_t g) {
  depthwin_book *b = &dw(w)->book;
  if (b->group_by == g && g != -1) return;
  b->group_by = g;
  b->group_step = depthwin_group_step_for(g, b->instrument != nullptr, last_price(b->instrument));
  if (b->bars) depthbars_set_group(b->bars, b->group_step);
  if (b->table) depthtbl_set_group(b->table, b->group_step);
  if (b->copying || !b->instrument) return;
  if (b->anchor_position && b->cursor)
    depthwin_seek_event(w, b->cursor, 1);
  else
    depthwin_catchup(w);
}

uint32_t depthwin_get_group_step(widget *w) { return dw(w)->book.group_step; }

uint32_t depthwin_get_height(widget *w) { return dw(w)->book.height; }

void depthwin_set_height(widget *w, uint32_t h) {
  depthwin_book *b = &dw(w)->book;
  if (b->height == h) return;
  b->height = h;
  if (b->copying || !b->instrument) return;
  if (b->anchor_position && b->cursor) {
    depthwin_seek_event(w, b->cursor, 1);
  } else if (b->bars && depthwin_child_cls(b->bars)->finish_load) {
    fade_hold();
    depthwin_child_cls(b->bars)->finish_load(b->bars);
    fade_release();
  }
}

int depthwin_get_age_split(widget *w, int i, uint32_t *type, uint32_t *count) {
  if (i != 0) return -1;
  depthwin_book *b = &dw(w)->book;
  if (type) *type = b->age_split_type;
  if (count) *count = b->age_split_count;
  return 0;
}

void depthwin_set_age_split(widget *w, int i, uint32_t type, uint32_t count) {
  if (i != 0) return;
  depthwin_book *b = &dw(w)->book;
  if (b->age_split_type == type && b->age_split_count == count) return;
  b->age_split_type = type;
  b->age_split_count = count;
  if (b->show_age) depthwin_update_age_ref(b);
  if (!b->copying) notify_settings(b);
}

// The custom split's time is the depth panel's spinner; a window without a
// panel keeps it in the book.
int32_t depthwin_get_age_split_custom(widget *w, int i) {
  if (i != 0) return 0;
  depthwin_book *b = &dw(w)->book;
  return depthtools_is(b->tools) ? depthtools_get_age_time(b->tools, 0) : b->age_split_custom;
}
void depthwin_set_age_split_custom(widget *w, int i, int32_t v) {
  if (i != 0) return;
  depthwin_book *b = &dw(w)->book;
  b->age_split_custom = v;
  if (depthtools_is(b->tools)) depthtools_set_age_time(b->tools, 0, v);
}

uint32_t depthwin_get_non_realtime(widget *w) { return !dw(w)->book.realtime; }
float depthwin_get_speedup(widget *w) { return dw(w)->book.speedup; }
float depthwin_get_delay(widget *w) { return dw(w)->book.delay; }
ss_time depthwin_get_position(widget *w) { return dw(w)->book.position; }
bool depthwin_has_mark(widget *w) { return dw(w)->book.mark != 0; }
bool depthwin_is_replaying(widget *w) { return dw(w)->book.anchor_position != 0; }

void depthwin_update_age_ref(depthwin_book *b) {
  ss_time p = b->position;
  uint32_t n = b->age_split_count;
  if (!p) {
    b->age_ref = 0;
  } else {
    switch (b->age_split_type) {
      case 0: b->age_ref = p; break;
      case 1: b->age_ref = sstime_set_fields(p, 0, int32_t(n % 100), int32_t(n / 100), -1, -1, -1); break;
      case 2: b->age_ref = sstime_at_hour(p, 12); break;
      case 3: b->age_ref = sstime_at_hour(p, 10); break;
      case 4: b->age_ref = sstime_add_seconds(p, -int32_t(n) * 60); break;
      case 5: b->age_ref = sstime_add_seconds(p, -int32_t(n) * 3600); break;
      case 6: b->age_ref = sstime_with_time_of_day(sstime_add_days(p, 1 - int32_t(n)), p); break;
      default: break;
    }
  }
  b->age_refreshed_ms = uint64_t(S.svc.now_seconds() * 1000.0);
  b->age_recomputed = 1;
}

// ---- instrument and changes ----

void depthwin_set_instrument(widget *w, instr *in) {
  depthwin *d = dw(w);
  depthwin_book *b = &d->book;
  if (b->instrument) ssnotify_remove(b->instrument, d);
  depthwin_cancel_promises(b);
  b->awaiting_history = 0;
  b->anchor_wall = 0;
  b->anchor_position = 0;
  b->last_seek_event = nullptr;
  b->last_seek_time = 0;
  b->busy = 0;
  b->pinned_event = nullptr;
  b->target = 0;
  b->mark = 0;
  b->rebuilding = 0;
  memset(b->day_figures, 0, sizeof b->day_figures);
  b->cursor = nullptr;
  ssmodel_auction_clear(&b->auction);
  b->position = 0;
  b->rollover_date = 0;
  b->catchup_pending = 0;
  b->history_seen = in ? (in->flags & 0x10) : 0;
  b->instrument = in;
  if (in) {
    b->position = ssmodel_exchange_clamped_now(in->exchange);
    depthwin_copy_day_figures(b);
    ssevent_hold(in);
    ssnotify_add(in, kInstrumentMask, depthwin_changed, d, 0, 0);
  }
  if (shown(d) && in) {
    request_data(d);
    depthwin_catchup(d);
    if (b->group_by == -1) depthwin_set_group_by(d, -1);
  } else {
    depthwin_reset_book(b);
    if (in && b->group_by == -1) {
      b->group_step = depthwin_group_step_for(-1, true, last_price(in));
      if (b->bars) depthbars_set_group(b->bars, b->group_step);
      if (b->table) depthtbl_set_group(b->table, b->group_step);
    }
  }
  if (shown(d)) {
    if (S.svc.screen_current) S.svc.screen_current(d);
    if (S.svc.hide_depth_popup) S.svc.hide_depth_popup(d);
    notify_settings(b);
  }
}

static bool depth_complete(const instr *in) { return (in->flags & 0x7) == 0x7; }

void depthwin_changed(const ss_change *change, void *owner, uint64_t, uint32_t) {
  depthwin *d = static_cast<depthwin *>(owner);
  depthwin_book *b = &d->book;
  instr *in = b->instrument;
  if (!in) return;
  uint32_t m = change->mask;
  b->history_seen = in->flags & 0x10;
  if (m & kGlobalReset) {
    b->cursor = nullptr;
    b->pinned_event = nullptr;
    b->last_seek_event = nullptr;
    if (b->mark) {
      b->anchor_wall = S.svc.now_seconds();
      b->anchor_position = b->position;
      b->target = 0;
      b->mark = 0;
    }
    if (shown(d)) {
      if (S.svc.request_events) S.svc.request_events(in);
      depthwin_catchup(d);
      if (S.svc.hide_depth_popup) S.svc.hide_depth_popup(d);
    }
    return;
  }
  if (m & 0xC003) b->cursor = nullptr;
  if (!shown(d)) return;
  if ((m & 0x11) && !depth_complete(in) && !(in->flags & 0x10)) {
    if (S.svc.request_events) S.svc.request_events(in);
  }
  if (!(m & 0x1C003)) {
    if ((depth_complete(in) || (in->flags & 0x10)) && !b->pinned_event) depthwin_advance(d);
    return;
  }
  if (b->awaiting_history) {
    if (b->pinned_event) {
      depthwin_seek_event(d, b->pinned_event, 1);
    } else if (b->target) {
      depthwin_play_to(d, b->target, b->rollover_date ? 0 : 1);
    } else {
      depthwin_restart(d);
    }
  } else if (b->pinned_event && b->target) {
    depthwin_reset_book(b);
    depthwin_advance(d);
  } else if (!b->anchor_position) {
    depthwin_catchup(d);
  }
}

// ---- export and copy ----

void depthwin_export(widget *w) {
  depthwin_book *b = &dw(w)->book;
  if (!b->instrument || b->instrument->kind != kKindStock) return;
  const ss_stock *s = static_cast<const ss_stock *>(b->instrument);
  clipboard_reset();
  clipboard_new_row();
  for (const char *h : {"Bid Count", "Bid Price", "Bid Volume", "Ask Count", "Ask Price", "Ask Volume"})
    clipboard_add_cell(h);
  clipboard_end_row();
  const ss_depth_level *l[2] = {s->levels[0], s->levels[1]};
  while (l[0] || l[1]) {
    clipboard_new_row();
    for (int side = 0; side < 2; side++) {
      if (!l[side]) {
        for (int k = 0; k < 3; k++) clipboard_add_cell("");
        continue;
      }
      clipboard_add_cell(l[side]->count ? fmt_int(int32_t(l[side]->count)) : "");
      clipboard_add_cell(fmt_price(l[side]->price));
      clipboard_add_cell(fmt_volume(l[side]->volume));
      l[side] = l[side]->next;
    }
    clipboard_end_row();
  }
  clipboard_put_text();
}

void depthwin_copy(widget *w, widget *source) {
  depthwin *d = dw(w);
  depthwin_book *b = &d->book;
  const depthwin_book *s = &dw(source)->book;
  double now = S.svc.now_seconds();
  b->copying = 1;
  depthwin_set_show_mode(d, s->show_mode);
  depthwin_set_age_split(d, 0, s->age_split_type, s->age_split_count);
  depthwin_set_show_age(d, s->show_age);
  if (b->next_step_wall) b->next_step_wall += double(s->delay) - double(b->delay);
  b->delay = s->delay;
  b->speedup = s->speedup;
  b->realtime = s->realtime;
  b->next_step_wall = 0;
  b->anchor_position = b->position;
  b->anchor_wall = now;
  b->pinned_event = nullptr;
  b->target = 0;
  depthwin_set_group_by(d, s->group_by);
  depthwin_set_height(d, s->height);
  if (s->mark)
    b->mark = b->position;
  else if (b->mark)
    b->mark = 0;
  b->copying = 0;
  if (!s->anchor_position) {
    depthwin_restart(d);
  } else {
    depthwin_play_to(d, s->position, 1);
  }
  if (b->bars && s->bars) depthbars_set_thickness(b->bars, depthbars_get_thickness(s->bars));
  // The panel's chart range goes with the copy.
  if (depthtools_is(b->tools) && depthtools_is(s->tools))
    depthtools_set_chart_range(b->tools, depthtools_get_chart_range(s->tools));
  notify_settings(b);
}
