// The mini quote. The shown instrument is registered for market changes
// (mask 0x10db10) and held against event trimming; a cycling cell watches
// its scan (a temporary copy of a temporary scan, so the source's owner may
// drop it) and steps through the results when the bar's or minibar's timer
// asks. The line is laid out only when marked: the font is fitted to the
// width on a sample text, then pieces are dropped by priority until the
// line fits, and drawing places the kept pieces centred with a shadow.
//
// The day chart is the chart widget, kept outside the widget tree and drawn
// under the line.
//
// Slots: reqsize (zero), geometry_changed, draw, restyle, show_children,
// drop, motion, enter, leave, release.
#include "screen/miniquote.h"

#include <cstdio>
#include <cstring>

#include "action.h"
#include "dnd.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "log.h"
#include "popups/hover.h"
#include "popups/place.h"
#include "popups/popups.h"
#include "screen/screen.h"
#include "screen/watchbar.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "style.h"
#include "ui/gui.h"
#include "ui/key.h"
#include "windows/nuchart.h"
#include "undo.h"

namespace {
constexpr char kSrc[] = "src/screen/miniquote";
constexpr char kSample[] = "XXXYYY 123.45";
constexpr int kFitKinds[] = {8, 5, 0, 2};
// Style colours of the line.
// The code and last price in the style's text colour (field 72 is the
// grids' alternate row here, a background), bid and offer in their own.
constexpr int kTextColour = SC_TEXT;
constexpr int kBidColour = SC_BID_TEXT;
constexpr int kOfferColour = SC_OFFER_TEXT;
constexpr uint32_t kShadow = 0x1000;
constexpr int kChartBackground = 99;

struct {
  bool remove_now;
} M;

mini_quote *as_mq(widget *w) { return static_cast<mini_quote *>(w); }
const mini_quote *as_mq(const widget *w) { return static_cast<const mini_quote *>(w); }

uint32_t colour_of(int field) {
  const style *s = style_cur();
  return s ? style_colour(s, field) : 0xffe6e6e6u;
}

int32_t font_width(const char *text, void *arg) {
  int32_t size[2] = {0, 0};
  font_text_size(size, *static_cast<int32_t *>(arg), text);
  return size[0];
}

void mark(mini_quote *q) {
  q->need_layout = 1;
  widget_redraw(q);
}

void on_market(const ss_change *, void *owner, uint64_t, uint32_t) {
  mini_quote *q = static_cast<mini_quote *>(owner);
  if (widget_is_shown(q) && q->in && !(q->in->flags & kInMuted)) mark(q);
}

void unregister(mini_quote *q) {
  if (q->in) ssnotify_remove(q->in, q);
}

void drop_scan(mini_quote *q) {
  if (!q->sc) return;
  scan *s = q->sc;
  q->sc = nullptr;
  scan_unwatch(s, q);  // a temporary scan goes with its last watcher
}

void remove_from_bar(void *arg, int) {
  widget *w = static_cast<widget *>(arg);
  if (widget *bar = watchbar_of(w)) watchbar_remove(bar, w);
}

void on_scan(scan *s, int event, int32_t, instr *, void *owner, void *, uint32_t) {
  mini_quote *q = static_cast<mini_quote *>(owner);
  if (s != q->sc) return;
  if (event == kScanDeleted) {
    undo_begin();
    mini_quote_record_undo(q);
    undo_end();
    drop_scan(q);
    mini_quote_bind(q, nullptr, 0);
    widget_redraw(q);
    // The cell leaves the watch bar that holds it (not the current screen's:
    // the list may be deleted while another screen is current).
    if (q->kind == MINI_QUOTE_BAR && watchbar_of(q)) {
      if (M.remove_now)
        remove_from_bar(q, 0);
      else
        gui_promise(remove_from_bar, q, 0);
    }
    return;
  }
  // The next step of the cycle shows what came in; the line may change now.
  mark(q);
}

void watch(mini_quote *q, scan *s) {
  q->sc = s;
  scan_watch(s, on_scan, q, nullptr, 0);
  scan_refresh_now(s);
  mini_quote_bind(q, s->result_count > 0 ? s->results[0] : nullptr, 0);
}

// ---- the line ----
void fill_pieces(mini_quote *q) {
  q->count = 0;
  instr *in = q->in;
  if (!in) return;
  auto add = [&](uint32_t bit, const char *text, uint32_t colour) {
    mini_quote_piece &p = q->pieces[q->count++];
    // The line is drawn in whichever display font fits the cell, and those
    // carry no small digits: a figure's small cents become ordinary digits
    // and its narrow fillers go (the code is left as it is).
    size_t n = 0;
    for (const char *c = text; *c && n + 1 < sizeof p.text; c++) {
      if (bit != MQ_CODE && *c == kFmtFiller) continue;
      p.text[n++] = bit != MQ_CODE && *c >= '0' + kFmtSmall && *c <= '9' + kFmtSmall ? char(*c - kFmtSmall) : *c;
    }
    p.text[n] = 0;
    p.bit = bit;
    p.colour = colour;
    p.x = p.w = 0;
  };
  const uint32_t text = colour_of(kTextColour), up = colour_of(kBidColour), down = colour_of(kOfferColour);
  add(MQ_CODE, in->code, text);
  if (in->kind == kKindIndex) {
    const ss_index *x = static_cast<const ss_index *>(in);
    const bool live = x->value != 0;
    add(MQ_LAST, fmt_price(live ? x->value : x->base), text);
    if (live) {
      const int32_t ch = int32_t(x->value) - int32_t(x->base);
      q->change_sign = ch < 0 ? -1 : 1;
      q->change_colour = ch < 0 ? down : up;
      add(MQ_CHANGE, fmt_change(ch), q->change_colour);
    }
    return;
  }
  const ss_stock *s = static_cast<const ss_stock *>(in);
  add(MQ_BID, fmt_price(s->bid), up);
  add(MQ_OFFER, fmt_price(s->offer), down);
  const bool traded = s->trade_count > 0 && s->last != 0;
  add(MQ_LAST, fmt_price(traded ? s->last : s->close), text);
  if (traded) {
    // The stream's own change where it gives one; from the previous close
    // only when there is one (a stock with no close has no change to show).
    const int32_t ch = s->change ? s->change : s->close ? int32_t(s->last) - int32_t(s->close) : 0;
    q->change_sign = ch < 0 ? -1 : 1;
    q->change_colour = ch < 0 ? down : up;
    add(MQ_CHANGE, fmt_change(ch), q->change_colour);
  }
}

// ---- slots ----
void mq_reqsize(widget *, size *out) { *out = {0, 0}; }
void mq_geometry_changed(widget *self) { as_mq(self)->need_layout = 1; }

void mq_draw(widget *self) {
  mini_quote *q = as_mq(self);
  if (q->need_layout) mini_quote_layout(q);
  if (q->chart && q->in) widget_draw(q->chart);
  for (int i = 0; i < q->count; i++) {
    const mini_quote_piece &p = q->pieces[i];
    if (!(q->shown & p.bit)) continue;
    font_draw(p.text, p.x, q->baseline, kShadow, q->font, p.colour, nullptr);
  }
}

void mq_restyle(widget *self) {
  mini_quote *q = as_mq(self);
  if (q->chart) nuchart_set_background(nuchart_cast(q->chart), colour_of(kChartBackground));
  mark(q);
}

void mq_show_children(widget *self) { as_mq(self)->need_layout = 1; }

void mq_drop(widget *self, int32_t x, int32_t, int, drag_record *) {
  const mini_quote_drag d = mini_quote_dragged();
  mini_quote_drop_object(self, x, d.kind, d.in, d.s);
}

void hide_preview(mini_quote *q);

int mq_drag_begin(widget *self, int32_t, int32_t, int, drag_record *d) {
  mini_quote *q = as_mq(self);
  if (!q->in) return 0;
  hide_preview(q);
  dnd_begin_instr(q->in);
  if (d) d->w = self;
  return 1;
}

// Closes the hover preview the cell opened.
void hide_preview(mini_quote *q) {
  if (!q->previewing) return;
  q->previewing = 0;
  popups_hover_end(q);
}

// Dragged onto a remover: the cell empties (minibar) or leaves its bar.
int mq_drag_release(widget *self, widget *target, int32_t, int32_t, int, drag_record *) {
  if (!screen_is_remover(target)) return 1;
  mini_quote_removed(self);
  return 0;
}

void mq_enter(widget *self) { as_mq(self)->inside = 1; }
void mq_leave(widget *self) {
  mini_quote *q = as_mq(self);
  q->inside = 0;
  hide_preview(q);
}

// Hover: a slow pointer previews the instrument beside the cell (a stock's
// depth, an index's day chart), below a watch-bar cell and above a minibar
// cell; a fast one closes the preview. Instruments of the third exchange
// have no preview.
void mq_motion(widget *self, int32_t, int32_t) {
  mini_quote *q = as_mq(self);
  q->inside = 1;
  if (gui_mouse_buttons()) return;
  const style *st = style_cur();
  const float open_below = st ? st->real[1] : 2.0f, close_at = st ? st->real[0] : 7.0f;
  const float speed = gui_mouse_speed();
  if (speed >= close_at) {
    hide_preview(q);
    return;
  }
  if (speed >= open_below) return;
  instr *in = q->in;
  if (!in || !in->exchange || in->exchange->index == 2 || (in->kind != kKindStock && in->kind != kKindIndex)) {
    hide_preview(q);
    return;
  }
  const rect cell = q->r;
  popups_set_owner(q);
  popups_set_anchor_rect(&cell, kSideCentre | (q->kind == MINI_QUOTE_BAR ? kSideBelow : kSideAbove), 0);
  if (in->kind == kKindStock)
    popups_push_depth(in, 0);
  else
    popups_push_day_chart(in, 0);
  q->previewing = 1;
}

void mq_release(widget *self, int32_t, int32_t, int) {
  mini_quote *q = as_mq(self);
  hide_preview(q);
  // With the show-everywhere modifier the instrument goes to every window.
  if ((key_modifiers() & KEY_MOD_SHIFT) && q->in) {
    action_show_everywhere(q->in);
    return;
  }
  if (q->kind == MINI_QUOTE_BAR) {
    if (widget *bar = watchbar_of(q)) watchbar_click(bar, watchbar_index_of(bar, q));
  }
}

void mq_fini(object *o) {
  mini_quote *q = reinterpret_cast<mini_quote *>(o);
  gui_promise_cancel(remove_from_bar, q);
  unregister(q);
  drop_scan(q);
  if (q->chart) widget_delete(q->chart);
  q->chart = nullptr;
}

void mq_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->reqsize = mq_reqsize;
  c->geometry_changed = mq_geometry_changed;
  c->draw = mq_draw;
  c->restyle = mq_restyle;
  c->show_children = mq_show_children;
  c->drop = mq_drop;
  c->enter = mq_enter;
  c->leave = mq_leave;
  c->motion = mq_motion;
  c->release = mq_release;
  c->drag_begin = mq_drag_begin;
  c->drag_release = mq_drag_release;
}
}  // namespace

typeid_t mini_quote_type() {
  static typeid_t t = -1;
  if (t < 0)
    t = object_register_class("mini_quote", widget_type(), sizeof(mini_quote), nullptr, mq_fini,
                              sizeof(widget_class), mq_class_init, nullptr);
  return t;
}

bool mini_quote_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), mini_quote_type());
}

mini_quote *mini_quote_new(widget *parent, int32_t kind) {
  const typeid_t t = mini_quote_type();
  if (t < 0) return nullptr;
  auto *q = static_cast<mini_quote *>(widget_new(parent, t));
  if (!q) return nullptr;
  q->kind = kind;
  q->need_layout = 1;
  // The day chart: a day of 5-minute bars with two overlays, no indicators.
  if ((q->chart = nuchart_new(nullptr))) {
    nuchart_preset_mini_quote(nuchart_cast(q->chart));
    nuchart_set_background(nuchart_cast(q->chart), colour_of(kChartBackground));
  }
  return q;
}

instr *mini_quote_get_instr(const widget *w) { return as_mq(w)->in; }
scan *mini_quote_get_scan(const widget *w) { return as_mq(w)->sc; }

void mini_quote_set_instr(widget *w, instr *in) {
  mini_quote *q = as_mq(w);
  if (q->in == in && !q->sc) return;
  mini_quote_bind(w, in, 1);
}

void mini_quote_bind(widget *w, instr *in, int drop) {
  mini_quote *q = as_mq(w);
  if (drop) drop_scan(q);
  unregister(q);
  q->in = in;
  if (in) {
    ssevent_hold(in);
    ssnotify_add(in, kMiniQuoteMask, on_market, q, 0, 0);
  }
  if (q->chart) {
    if (in)
      nuchart_bind_any(nuchart_cast(q->chart), in);
    else
      nuchart_unbind(nuchart_cast(q->chart));
  }
  q->current = in;
  mark(q);
}

void mini_quote_set_scan(widget *w, scan *s) {
  mini_quote *q = as_mq(w);
  if (q->sc && s && scan_equal(q->sc, s)) return;
  drop_scan(q);
  mini_quote_bind(q, nullptr, 0);
  if (!s) return;
  watch(q, s->registered ? s : scan_clone_temp(s));
}

void mini_quote_set_wlist(widget *w, wlist *wl) {
  mini_quote *q = as_mq(w);
  if (q->sc && q->sc->source == wl) return;
  drop_scan(q);
  mini_quote_bind(q, nullptr, 0);
  if (!wl) return;
  scan *s = scan_new_temp();
  if (!s) {
    log(LOG_ERROR, kSrc, "can't make a scan of %s", wlist_name(wl));
    return;
  }
  scan_set_source(s, wl);
  scan_set_order(s, 0);
  scan_set_reversed(s, 0);
  watch(q, s);
}

void mini_quote_clear(widget *w) { mini_quote_bind(w, nullptr, 1); }

void mini_quote_next(widget *w) {
  mini_quote *q = as_mq(w);
  if (!q->sc || q->inside) return;
  scan *s = q->sc;
  int32_t at = -1;
  for (int32_t i = 0; q->current && i < s->result_count; i++)
    if (s->results[i] == q->current) {
      at = i;
      break;
    }
  const int32_t next = at >= 0 && at + 1 < s->result_count ? at + 1 : 0;
  mini_quote_bind(q, s->result_count > 0 ? s->results[next] : nullptr, 0);
}

int32_t mini_quote_pick_font(int32_t width) {
  const style *s = style_cur();
  if (!s) return 0;
  int32_t font = s->font[kFitKinds[0]];
  for (int kind : kFitKinds) {
    font = s->font[kind];
    if (font_width(kSample, &font) <= width) break;
  }
  return font;
}

uint32_t mini_quote_fit(mini_quote_piece *pieces, int32_t n, bool index, int32_t width, int32_t gap,
                        mini_quote_measure_fn measure, void *arg) {
  uint32_t keep = 0;
  for (int32_t i = 0; i < n; i++) {
    pieces[i].w = measure(pieces[i].text, arg);
    keep |= pieces[i].bit;
  }
  auto total = [&]() {
    int32_t t = 0, k = 0;
    for (int32_t i = 0; i < n; i++)
      if (keep & pieces[i].bit) t += pieces[i].w, k++;
    return t + (k > 1 ? (k - 1) * gap : 0);
  };
  const uint32_t stock_order[] = {MQ_BID | MQ_OFFER, MQ_CHANGE, MQ_LAST, MQ_CODE};
  const uint32_t index_order[] = {MQ_CHANGE, MQ_LAST, MQ_CODE};
  const uint32_t *order = index ? index_order : stock_order;
  const int steps = index ? 3 : 4;
  for (int s = 0; s < steps && keep && total() > width; s++) keep &= ~order[s];
  // Centred in the width.
  int32_t x = (width - total()) / 2;
  for (int32_t i = 0; i < n; i++) {
    if (!(keep & pieces[i].bit)) continue;
    pieces[i].x = x;
    x += pieces[i].w + gap;
  }
  return keep;
}

void mini_quote_layout(widget *w) {
  mini_quote *q = as_mq(w);
  q->layouts++;
  q->need_layout = 0;
  fill_pieces(q);
  q->font = mini_quote_pick_font(w->r.w);
  int32_t digit = 0, ascent = 0, descent = 0;
  font_metrics(nullptr, &digit, &ascent, &descent, q->font);
  q->shown = mini_quote_fit(q->pieces, q->count, q->in && q->in->kind == kKindIndex, w->r.w, digit, font_width,
                            &q->font);
  for (int i = 0; i < q->count; i++) q->pieces[i].x += w->r.x;
  if (q->chart) {
    q->chart->r = w->r;
    if (q->chart->cls->geometry_changed) q->chart->cls->geometry_changed(q->chart);
  }
  q->baseline = w->r.y + (w->r.h + ascent - descent) / 2;
}

int mini_quote_drop_object(widget *w, int32_t x, uint32_t kind, instr *in, scan *s) {
  mini_quote *q = as_mq(w);
  const bool instrument = (kind == 1 || kind == 2) && in;
  const bool list = kind == 4 && s;
  widget *bar = watchbar_of(q);
  if (!instrument && !list) return bar ? watchbar_drop_object(bar, x, kind, in, s) : 0;
  if (q->kind == MINI_QUOTE_BAR) {
    if (instrument && in == q->in && !q->sc) return 0;
    if (list && q->sc && scan_equal(q->sc, s)) return 0;
    const int32_t third = w->r.w / 3;
    if (bar && (x < w->r.x + third || x >= w->r.x + w->r.w - third))
      return watchbar_drop_object(bar, x, kind, in, s);
  } else {
    if (instrument && in == q->in && !q->sc) return 0;
    if (list && q->sc && scan_equal(q->sc, s)) return 0;
  }
  undo_begin();
  mini_quote_record_undo(q);
  if (instrument)
    mini_quote_set_instr(q, in);
  else if (s->source)
    mini_quote_set_wlist(q, s->source);
  else
    mini_quote_set_scan(q, s);
  undo_end();
  return 1;
}

void mini_quote_removed(widget *w) {
  mini_quote *q = as_mq(w);
  undo_begin();
  mini_quote_record_undo(q);
  if (q->kind == MINI_QUOTE_MINIBAR)
    mini_quote_clear(q);
  else if (widget *bar = watchbar_of(q))
    watchbar_remove(bar, q);
  undo_end();
}

void mini_quote_set_remove_now(int on) { M.remove_now = on != 0; }

mini_quote_drag mini_quote_dragged() { return {dnd_kind(), dnd_object(), dnd_scan()}; }

void mini_quote_record_undo(widget *w) {
  mini_quote *q = as_mq(w);
  mini_quote_register_undo();
  if (q->kind == MINI_QUOTE_MINIBAR) {
    undo_push_mini_quote(q);
  } else if (widget *bar = watchbar_of(q)) {
    watchbar_record_state(bar);
  }
}

void mini_quote_state_save(const widget *w, mini_quote_state *out) {
  const mini_quote *q = as_mq(w);
  *out = {};
  if (scan *s = q->sc) {
    if (s->registered) {
      out->what = 2;
      out->id = scan_id(s);
    } else if (s->source) {
      out->what = 3;
      out->id = wlist_id(s->source);
    } else {
      out->what = 4;
      out->copy = scan_clone_temp(s);
    }
  } else if (q->in) {
    out->what = 1;
    out->in = q->in;
  }
}

int mini_quote_state_apply(widget *w, const mini_quote_state *st) {
  switch (st->what) {
    case 1: mini_quote_set_instr(w, st->in); return 0;
    case 2: {
      scan *s = scan_find(st->id);
      if (!s) return -1;
      mini_quote_set_scan(w, s);
      return 0;
    }
    case 3: {
      wlist *wl = wlist_find(st->id);
      if (!wl) return -1;
      mini_quote_set_wlist(w, wl);
      return 0;
    }
    case 4:
      if (!st->copy) return -1;
      mini_quote_set_scan(w, st->copy);  // watches a copy of the copy
      return 0;
    default: mini_quote_clear(w); return 0;
  }
}

void mini_quote_state_free(mini_quote_state *st) {
  if (st->copy && scan_watcher_count(st->copy) == 0) scan_delete(st->copy);
  st->copy = nullptr;
}

namespace {
// UNDO_MINI_QUOTE: a minibar cell's own state.
void *mq_undo_save(void *object) {
  auto *st = new mini_quote_state;
  mini_quote_state_save(static_cast<widget *>(object), st);
  return st;
}
int mq_undo_restore(void *saved, void *object) {
  return mini_quote_state_apply(static_cast<widget *>(object), static_cast<mini_quote_state *>(saved));
}
void mq_undo_release(void *saved, int) {
  auto *st = static_cast<mini_quote_state *>(saved);
  mini_quote_state_free(st);
  delete st;
}
const undo_record_ops kMiniQuoteOps = {mq_undo_save, mq_undo_restore, mq_undo_release};
}  // namespace

void mini_quote_register_undo() {
  if (undo_type_ops(UNDO_MINI_QUOTE) != &kMiniQuoteOps) undo_register_type(UNDO_MINI_QUOTE, &kMiniQuoteOps);
}
