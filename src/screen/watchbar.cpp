// The watch bar: a bin whose one child is an hbox of mini quotes. Cells are
// created and deleted only here; a cell reaches its own bar through its
// parents (watchbar_of), so a list deleted while another screen is current
// still takes its cell off the right bar. The special index follows its
// cell as cells come and go.
//
// Slots: reqsize, draw, show_children (starts the cycle), hide_children
// (stops it), restyle, drop.
#include "screen/watchbar.h"

#include <algorithm>
#include <cstring>

#include "config/config.h"
#include "lib/gfx.h"
#include "lib/scan.h"
#include "lib/timer.h"
#include "lib/wlist.h"
#include "log.h"
#include "screen/screen.h"
#include "ssmodel.h"
#include "style.h"
#include "ui/gui.h"
#include "undo.h"
#include "windows/watchlist.h"
#include "windows/window.h"

namespace {
constexpr char kSrc[] = "src/screen/watchbar";
constexpr int kFill = SC_CHART_BACKGROUND;  // style colour 99

watchbar *as_bar(widget *w) { return static_cast<watchbar *>(w); }
container_class *bin_record() { return static_cast<container_class *>(object_class_record(bin_type())); }

uint32_t fill_colour() {
  const style *s = style_cur();
  return s ? style_colour(s, kFill) : 0xff202020u;
}
uint32_t spacing() {
  const style *s = style_cur();
  return s ? uint32_t(s->per_size1 / 2) : 2u;
}

int cycle_tick(void *arg, uint32_t, int64_t, float) {
  watchbar_cycle(static_cast<widget *>(arg));
  return 1;
}

void stop_timer(watchbar *b) {
  if (b->timer >= 0) timer_stop(b->timer);
  b->timer = -1;
}

void changed(watchbar *b) {
  widget_redraw(b);
  gui_relayout_window(-1);
}

// The stock an issuer stands for: the one of its exchange with its code.
instr *issuer_stock(instr *issuer) {
  if (!issuer || !issuer->exchange) return nullptr;
  return ssmodel_find_stock(issuer->exchange, issuer->code);
}

// ---- slots ----
void wb_reqsize(widget *, size *out) { *out = {0, 0}; }

void wb_draw(widget *self) {
  gfx_fill_rect(self->r.x, self->r.y, self->r.w, self->r.h, fill_colour());
  watchbar *b = as_bar(self);
  for (box_node *n = b->cells->first; n; n = n->next)
    if (widget_is_shown(n->child)) widget_draw(n->child);
}

void wb_layout(container *self) {
  watchbar *b = as_bar(self);
  b->cells->r = self->r;
  b->cells->spacing = spacing();
  container_cls(b->cells)->layout(b->cells);
}

void wb_show_children(widget *self) {
  watchbar *b = as_bar(self);
  if (b->timer < 0) b->timer = timer_start(kWatchbarCycleMs, cycle_tick, self, 0);
  bin_record()->show_children(self);
}

void wb_hide_children(widget *self) {
  stop_timer(as_bar(self));
  bin_record()->hide_children(self);
}

void wb_restyle(widget *self) {
  watchbar *b = as_bar(self);
  container_set_bg(b->cells, fill_colour());
  b->cells->spacing = spacing();
  bin_record()->restyle(self);
}

void wb_drop(widget *self, int32_t x, int32_t, int, drag_record *) {
  const mini_quote_drag d = mini_quote_dragged();
  watchbar_drop_object(self, x, d.kind, d.in, d.s);
}

// Before the widget joins its parent (which may show it at once).
void wb_init(object *o) {
  watchbar *b = reinterpret_cast<watchbar *>(o);
  b->timer = -1;
  b->special = -1;
}
void wb_fini(object *o) { stop_timer(reinterpret_cast<watchbar *>(o)); }

void wb_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->reqsize = wb_reqsize;
  c->draw = wb_draw;
  c->layout = wb_layout;
  c->show_children = wb_show_children;
  c->hide_children = wb_hide_children;
  c->restyle = wb_restyle;
  c->drop = wb_drop;
}

template <class F>
int add_cell(widget *bar, widget *before, F bind) {
  mini_quote *q = watchbar_insert(bar, before);
  if (!q) return -1;
  bind(q);
  return 0;
}
}  // namespace

typeid_t watchbar_type() {
  static typeid_t t = -1;
  if (t < 0)
    t = object_register_class("watchbar", bin_type(), sizeof(watchbar), wb_init, wb_fini, sizeof(container_class),
                              wb_class_init, nullptr);
  return t;
}

bool watchbar_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), watchbar_type());
}

widget *watchbar_new(widget *screen) {
  const typeid_t t = watchbar_type();
  if (t < 0) return nullptr;
  auto *b = static_cast<watchbar *>(widget_new(screen, t));
  if (!b) return nullptr;
  b->special = -1;
  b->timer = -1;
  b->cells = hbox_new(nullptr, 1, spacing());
  if (!b->cells || container_cls(b)->add(b, b->cells) < 0) {
    log(LOG_ERROR, kSrc, "can't make watchbar");
    widget_delete(b);
    return nullptr;
  }
  container_set_bg(b->cells, fill_colour());
  return b;
}

widget *watchbar_of(widget *cell) {
  for (widget *w = cell ? cell->parent : nullptr; w; w = w->parent)
    if (watchbar_is(w)) return w;
  return nullptr;
}

mini_quote *watchbar_insert(widget *bar, widget *before) {
  watchbar *b = as_bar(bar);
  if (int32_t(b->cells->count) >= kWatchbarMax) {
    log(LOG_ERROR, kSrc, "can't have more than %d items in watchbar", kWatchbarMax);
    return nullptr;
  }
  const int32_t at = before ? watchbar_index_of(bar, before) : -1;
  mini_quote *q = mini_quote_new(nullptr, MINI_QUOTE_BAR);
  if (!q) return nullptr;
  const int r = at >= 0 ? box_cls(b->cells)->add_before(b->cells, q, before) : container_cls(b->cells)->add(b->cells, q);
  if (r < 0) {
    widget_delete(q);
    return nullptr;
  }
  // The special cell keeps pointing at its own cell.
  if (b->special >= 0 && at >= 0 && at <= b->special) b->special++;
  widget_set_visible(q, widget_is_shown(bar));
  changed(b);
  return q;
}

int watchbar_add_instr(widget *bar, instr *in, widget *before) {
  if (!in || (in->kind != kKindStock && in->kind != kKindIndex)) return -1;
  return add_cell(bar, before, [in](mini_quote *q) { mini_quote_set_instr(q, in); });
}
int watchbar_append_instr(widget *bar, instr *in) { return watchbar_add_instr(bar, in, nullptr); }
int watchbar_add_scan(widget *bar, scan *s, widget *before) {
  if (!s) return -1;
  return add_cell(bar, before, [s](mini_quote *q) { mini_quote_set_scan(q, s); });
}
int watchbar_append_scan(widget *bar, scan *s) { return watchbar_add_scan(bar, s, nullptr); }
int watchbar_add_wlist(widget *bar, wlist *wl, widget *before) {
  if (!wl) return -1;
  return add_cell(bar, before, [wl](mini_quote *q) { mini_quote_set_wlist(q, wl); });
}
int watchbar_append_wlist(widget *bar, wlist *wl) { return watchbar_add_wlist(bar, wl, nullptr); }

int watchbar_remove(widget *bar, widget *cell) {
  watchbar *b = as_bar(bar);
  const int32_t at = watchbar_index_of(bar, cell);
  if (at < 0) {
    log(LOG_WARN, kSrc, "mini quote not found");
    return -1;
  }
  if (b->iter && b->iter->child == cell) b->iter = b->iter->next;
  container_cls(b->cells)->remove(b->cells, cell);
  widget_delete(cell);
  if (b->special == at)
    b->special = -1;
  else if (b->special > at)
    b->special--;
  changed(b);
  return 0;
}

int watchbar_remove_last(widget *bar) {
  const int32_t n = watchbar_count(bar);
  return n > 0 ? watchbar_remove(bar, watchbar_cell(bar, n - 1)) : -1;
}

void watchbar_clear(widget *bar) {
  while (watchbar_count(bar) > 0) watchbar_remove_last(bar);
  as_bar(bar)->special = -1;
}

int32_t watchbar_count(widget *bar) { return int32_t(as_bar(bar)->cells->count); }

widget *watchbar_cell(widget *bar, int32_t i) {
  if (i < 0) return nullptr;
  for (box_node *n = as_bar(bar)->cells->first; n; n = n->next)
    if (i-- == 0) return n->child;
  return nullptr;
}

int32_t watchbar_index_of(widget *bar, widget *cell) {
  int32_t i = 0;
  for (box_node *n = as_bar(bar)->cells->first; n; n = n->next, i++)
    if (n->child == cell) return i;
  return -1;
}

widget *watchbar_iter_begin(widget *bar) {
  watchbar *b = as_bar(bar);
  b->iter = b->cells->first;
  return watchbar_iter_next(bar);
}

widget *watchbar_iter_next(widget *bar) {
  watchbar *b = as_bar(bar);
  if (!b->iter) return nullptr;
  widget *w = b->iter->child;
  b->iter = b->iter->next;
  return w;
}

int32_t watchbar_get_special(widget *bar) { return as_bar(bar)->special; }

int watchbar_click(widget *bar, int32_t i) {
  watchbar *b = as_bar(bar);
  widget *cell = watchbar_cell(bar, i);
  screen *s = bar->parent && object_is_a(reinterpret_cast<object *>(bar->parent), screen_type())
                  ? static_cast<screen *>(bar->parent)
                  : screen_current();
  if (!cell || !s || !s->quote_popwin) return -1;
  window *pop = s->quote_popwin;
  if (scan *sc = mini_quote_get_scan(cell)) {
    // The list window shows the cell's list: a registered scan itself, a
    // temporary one as a copy of its own (the cell's may go with the cell).
    widget *c = pop->child[kWinWatchlist];
    if (c && watchlist_is(c)) {
      watchlist *wl = static_cast<watchlist *>(c);
      if (sc->registered)
        watchlist_set_scan(wl, sc);
      else if (sc->source)
        watchlist_set_source(wl, sc->source);
      else
        watchlist_set_scan(wl, scan_clone_temp(sc));
    }
    window_set_role(pop, kRoleWatchlist);
  } else if (instr *in = mini_quote_get_instr(cell)) {
    window_set_instrument(pop, in);
  }
  // Under the cell: from its left edge and the bar's bottom edge, kept on
  // the screen (the quote pop window's own size rule).
  const style *st = style_cur();
  const int32_t u = st ? st->line_height : 14;
  const int32_t sw = s->r.w, sh = s->r.h;
  const int32_t qh = std::min(sh / 2, 25 * u), qw = std::min(sw / 2, qh * 144 / 100);
  int32_t x = std::max(cell->r.x, s->r.x + u / 2);
  if (x + qw > s->r.x + sw - u / 2) x = s->r.x + sw - (qw + u / 2);
  int32_t y = bar->r.y + bar->r.h;
  if (y + qh > s->r.y + sh - u / 2) y = s->r.y + sh - (qh + u / 2);
  pop->r = {x, y, qw, qh};
  screen_push(screen_index_of(s));
  screen_show_bars(BAR_QUOTE_POPWIN);
  screen_pop();
  if (pop->cls->geometry_changed) pop->cls->geometry_changed(pop);
  b->special = i;
  widget_redraw(pop);
  return 0;
}

widget *watchbar_item_at(widget *bar, int32_t x) {
  for (box_node *n = as_bar(bar)->cells->first; n; n = n->next)
    if (n->child->r.x + n->child->r.w > x) return n->child;
  return nullptr;
}

void watchbar_cycle(widget *bar) {
  for (box_node *n = as_bar(bar)->cells->first; n; n = n->next)
    if (mini_quote_get_scan(n->child)) mini_quote_next(n->child);
}

int watchbar_drop_object(widget *bar, int32_t x, uint32_t kind, instr *in, scan *s) {
  watchbar *b = as_bar(bar);
  widget *before = nullptr;
  for (box_node *n = b->cells->first; n; n = n->next)
    if (n->child->r.x + n->child->r.w / 2 > x) {
      before = n->child;
      break;
    }
  instr *target = nullptr;
  if (kind == 1 || kind == 2)
    target = in;
  else if (kind == 3 || kind == 5)
    target = issuer_stock(in);
  else if (kind != 4)
    return 0;
  if (kind != 4 && !target) return 0;
  if (kind == 4 && !s) return 0;
  // The limit is tested first, so a refused drop leaves no empty undo step.
  if (watchbar_count(bar) >= kWatchbarMax) {
    log(LOG_ERROR, kSrc, "can't have more than %d items in watchbar", kWatchbarMax);
    return 0;
  }
  undo_begin();
  watchbar_record_state(bar);
  int r;
  if (kind == 4)
    r = s->source ? watchbar_add_wlist(bar, s->source, before) : watchbar_add_scan(bar, s, before);
  else
    r = watchbar_add_instr(bar, target, before);
  undo_end();
  return r == 0;
}

void watchbar_save(widget *bar, int shown) {
  config_out_push("watchbar");
  config_printf("show %b", shown);
  for (box_node *n = as_bar(bar)->cells->first; n; n = n->next) {
    scan *s = mini_quote_get_scan(n->child);
    instr *in = mini_quote_get_instr(n->child);
    if (s && s->registered)
      config_printf("item S %d", scan_id(s));
    else if (s && s->source)
      config_printf("item W %d", wlist_id(s->source));
    else if (s)
      log(LOG_WARN, kSrc, "shouldn't be saving an anon list");
    else if (in && in->exchange)
      config_printf("item I %I", in);
  }
  config_printf("special %d", as_bar(bar)->special);
  config_out_pop();
}

int watchbar_load(widget *bar) {
  if (!config_enter("watchbar")) return -1;
  const int shown = config_get_bool("show");
  watchbar_clear(bar);
  if (config_enter("item")) {
    while (config_next()) {
      const char *what = config_arg_string(0);
      if (!what) continue;
      if (what[0] == 'S') {
        if (scan *s = scan_find(config_arg_int(1))) watchbar_append_scan(bar, s);
      } else if (what[0] == 'W') {
        if (wlist *wl = wlist_find(config_arg_int(1))) watchbar_append_wlist(bar, wl);
      } else if (what[0] == 'I') {
        if (instr *in = config_arg_instr(1)) watchbar_append_instr(bar, in);
      }
    }
    config_leave();
  }
  const int32_t special = config_get_int("special");
  as_bar(bar)->special = special >= 0 && special < watchbar_count(bar) ? special : -1;
  config_leave();
  return shown;
}

namespace {
// UNDO_MINI_QUOTES: every cell of a bar and the special index.
struct bar_state {
  int32_t count;
  int32_t special;
  mini_quote_state cells[kWatchbarMax];
};

void free_state(bar_state *st) {
  for (int32_t i = 0; i < st->count; i++) mini_quote_state_free(&st->cells[i]);
  delete st;
}

// 0, or -1 when a list of the state is not there now (the step that deleted
// it may put it back after this record).
int apply_state(widget *bar, const bar_state *st, bool check) {
  if (check)
    for (int32_t i = 0; i < st->count; i++) {
      const mini_quote_state &c = st->cells[i];
      if ((c.what == 2 && !scan_find(c.id)) || (c.what == 3 && !wlist_find(c.id))) return -1;
    }
  watchbar_clear(bar);
  for (int32_t i = 0; i < st->count; i++)
    if (mini_quote *q = watchbar_insert(bar, nullptr)) mini_quote_state_apply(q, &st->cells[i]);
  as_bar(bar)->special = st->special < watchbar_count(bar) ? st->special : -1;
  return 0;
}

struct deferred_state {
  widget *bar;
  bar_state *st;
};

void apply_later(void *arg, int) {
  auto *d = static_cast<deferred_state *>(arg);
  apply_state(d->bar, d->st, false);
  free_state(d->st);
  delete d;
}

void *wb_undo_save(void *object) {
  widget *bar = static_cast<widget *>(object);
  auto *st = new bar_state{};
  st->special = as_bar(bar)->special;
  for (widget *w = watchbar_iter_begin(bar); w && st->count < kWatchbarMax; w = watchbar_iter_next(bar))
    mini_quote_state_save(w, &st->cells[st->count++]);
  return st;
}

int wb_undo_restore(void *saved, void *object) {
  widget *bar = static_cast<widget *>(object);
  auto *st = static_cast<bar_state *>(saved);
  if (apply_state(bar, st, true) == 0) return 0;
  // Later in the frame loop, once the whole step is undone, with a copy of
  // the state of its own (the record releases this one).
  auto *d = new deferred_state{bar, new bar_state(*st)};
  for (int32_t i = 0; i < st->count; i++) st->cells[i].copy = nullptr;  // moved to the copy
  gui_promise(apply_later, d, 0);
  return 0;
}

void wb_undo_release(void *saved, int) { free_state(static_cast<bar_state *>(saved)); }

const undo_record_ops kWatchbarOps = {wb_undo_save, wb_undo_restore, wb_undo_release};
}  // namespace

void watchbar_record_state(widget *bar) {
  if (undo_type_ops(UNDO_MINI_QUOTES) != &kWatchbarOps) undo_register_type(UNDO_MINI_QUOTES, &kWatchbarOps);
  undo_push_mini_quotes(bar);
}

int32_t watchbar_quote_popup_item(void) {
  screen *s = screen_current();
  if (!s || !s->watchbar || !(s->bars & BAR_QUOTE_POPWIN)) return -1;
  return as_bar(s->watchbar)->special;
}

namespace {
// UNDO_QUOTE_POPUP: the open cell, on the screen current when undone.
void *qp_undo_save(void *args) { return new int32_t(static_cast<undo_quote_popup_args *>(args)->item); }

int qp_undo_restore(void *saved, void *) {
  const int32_t item = *static_cast<int32_t *>(saved);
  screen *s = screen_current();
  if (!s) return 0;
  if (item < 0 || !s->watchbar || watchbar_click(s->watchbar, item) != 0) screen_hide_bars(BAR_QUOTE_POPWIN);
  return 0;
}

void qp_undo_release(void *saved, int) { delete static_cast<int32_t *>(saved); }

const undo_record_ops kQuotePopupOps = {qp_undo_save, qp_undo_restore, qp_undo_release};
}  // namespace

void watchbar_record_quote_popup(int32_t item) {
  if (undo_type_ops(UNDO_QUOTE_POPUP) != &kQuotePopupOps) undo_register_type(UNDO_QUOTE_POPUP, &kQuotePopupOps);
  undo_push_quote_popup(item);
}
