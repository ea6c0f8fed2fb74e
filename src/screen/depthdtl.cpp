// The depth detail popup. Rows are built for one price step (a bucket of
// prices when the window groups) either by replaying the day's depth events
// up to the event the window shows, or from the live level. The events
// carry queue positions counted over the whole side, so the popup keeps
// "place", the number of orders at better steps: an event at the shown step
// acts on row (position - 1 - place), one at a better step moves place.
// Deleted rows fade out and are skipped when positions are counted.
//
// Slots: geometry_changed, reqsize, draw.
#include "screen/depthdtl.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "condcode.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "log.h"
#include "popups/place.h"
#include "screen/screen.h"
#include "ssbroker.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssutil.h"
#include "style.h"

namespace {

const char kSrc[] = "depthdtl";
constexpr float kRemovalSeconds = 0.5f;
constexpr float kFlashSeconds = 0.5f;
constexpr uint32_t kDayLoaded = 0x10;

struct {
  int (*request_day)(instr *, ss_time) = ssclient_request_events_for_day;
} S;

depthdtl *as_d(widget *w) { return static_cast<depthdtl *>(w); }
typeid_t depthdtl_type_id();

uint32_t step_of(const depthdtl *d, uint32_t price) {
  if (d->bucket < 2) return price;
  uint64_t p = uint64_t(price) + d->half;
  return uint32_t(p - p % d->bucket);
}

// Whether step a is better than step b on the shown side.
bool better(const depthdtl *d, uint32_t a, uint32_t b) {
  bool bid = d->side == 0;
  if (d->instrument && ssutil_nzx_numbered_code(d->instrument)) bid = !bid;
  return bid ? a > b : a < b;
}

ss_time date_of(ss_time t) { return t & ~kSstimeSecondsMask; }

void free_rows(depthdtl *d) {
  fade_stop_owner(&d->fades);
  fade_stop_owner(&d->removals);
  for (depthdtl_row *r = d->rows, *n; r; r = n) {
    n = r->next;
    free(r);
  }
  d->rows = nullptr;
  d->row_count = d->shown_rows = 0;
}

depthdtl_row *new_row(uint32_t time, uint32_t price, uint64_t volume) {
  auto *r = static_cast<depthdtl_row *>(calloc(1, sizeof(depthdtl_row)));
  if (!r) {
    log(LOG_ERROR, kSrc, "can't acquire row");
    return nullptr;
  }
  r->time = time;
  r->price = price;
  r->volume = volume;
  r->value = uint64_t(price) * volume;
  return r;
}

// The link that points at live row `index` (rows fading out skipped), or
// at the end when index equals the live count; null past it.
depthdtl_row **link_at(depthdtl *d, uint32_t index) {
  depthdtl_row **p = &d->rows;
  uint32_t i = 0;
  while (*p) {
    if (!(*p)->removing) {
      if (i == index) return p;
      i++;
    }
    p = &(*p)->next;
  }
  return i == index ? p : nullptr;
}

uint32_t live_count(const depthdtl *d) {
  uint32_t n = 0;
  for (depthdtl_row *r = d->rows; r; r = r->next) n += !r->removing;
  return n;
}

void unlink_row(depthdtl *d, depthdtl_row *row) {
  for (depthdtl_row **p = &d->rows; *p; p = &(*p)->next)
    if (*p == row) {
      *p = row->next;
      d->row_count--;
      fade_stop(&row->volume_fade);
      fade_stop(&row->removal);
      free(row);
      return;
    }
}

void removal_done(fade_value *v, void *arg, uint32_t) {
  depthdtl *d = static_cast<depthdtl *>(arg);
  for (depthdtl_row *r = d->rows; r; r = r->next)
    if (&r->removal == v) {
      unlink_row(d, r);
      d->shown_rows = d->row_count;
      if (screen_depthdtl() == d) screen_relayout_depthdtl();
      widget_redraw(d);
      return;
    }
}

void flash_done(fade_value *, void *, uint32_t) {}

// A trade-form row for a trade, with the figures of its break record.
depthdtl_row *trade_row(const ss_trade *t) {
  depthdtl_row *r = new_row(t->time, t->price, t->volume);
  if (!r) return nullptr;
  if (const ss_trade_detail *b = ssmodel_trade_break_of(t)) {
    r->conditions = b->conditions;
    r->second_value = b->second_value;
    r->as_at = b->date;
    // The brokers are the model's broker records, kept for the process.
    if (const auto *buy = reinterpret_cast<const ss_broker *>(uintptr_t(b->buyer)))
      snprintf(r->buyer, sizeof r->buyer, "%s", buy->code);
    if (const auto *sell = reinterpret_cast<const ss_broker *>(uintptr_t(b->seller)))
      snprintf(r->seller, sizeof r->seller, "%s", sell->code);
  }
  return r;
}

void apply(depthdtl *d, const ss_event *ev) {
  switch (ev->kind) {
    case kEvDepthAdd: {
      auto *p = static_cast<const ss_ev_depth_add *>(ev->payload);
      if (int32_t(p->side) != d->side) return;
      const uint32_t st = step_of(d, p->price);
      if (st == d->step) {
        int64_t at = int64_t(p->position) - 1 - d->place;
        const uint32_t n = live_count(d);
        // A position outside the rows would corrupt the list: held to it.
        if (at < 0 || at > int64_t(n)) {
          log(LOG_WARN, kSrc, "add at %u outside %u rows (place %u)", p->position, n, d->place);
          at = std::clamp<int64_t>(at, 0, n);
        }
        depthdtl_row *r = new_row(p->time, p->price, p->volume);
        if (!r) return;
        depthdtl_row **link = link_at(d, uint32_t(at));
        r->next = *link;
        *link = r;
        d->row_count++;
      } else if (better(d, st, d->step)) {
        d->place++;
      }
      return;
    }
    case kEvDepthAmend: {
      auto *p = static_cast<const ss_ev_depth_amend *>(ev->payload);
      if (int32_t(p->side) != d->side || !p->price || step_of(d, p->price) != d->step) return;
      const int64_t at = int64_t(p->position) - 1 - d->place;
      depthdtl_row **link = at >= 0 ? link_at(d, uint32_t(at)) : nullptr;
      if (!link || !*link) {
        log(LOG_ERROR, kSrc, "can't get to position %d", int(at));
        return;
      }
      depthdtl_row *r = *link;
      const uint64_t old = r->volume;
      r->volume = p->volume;
      r->value = uint64_t(r->price) * p->volume;
      if (!d->suppress_fades && old != p->volume) {
        const style *st = style_cur();
        const uint32_t up = st ? style_colour(st, 66) : 0xff00ff00u, down = st ? style_colour(st, 67) : 0xff0000ffu;
        const int32_t ramp = fade_colour_ramp(p->volume > old ? up : down, 0, kFlashSeconds);
        if (ramp >= 0) fade_start(&r->volume_fade, FADE_TABLE, ramp, &d->fades, d, 0, kFlashSeconds);
      }
      return;
    }
    case kEvDepthDelete: {
      auto *p = static_cast<const ss_ev_depth_delete *>(ev->payload);
      if (int32_t(p->side) != d->side || !p->price) return;
      const uint32_t st = step_of(d, p->price);
      if (st == d->step) {
        const int64_t at = int64_t(p->position) - 1 - d->place;
        depthdtl_row **link = at >= 0 ? link_at(d, uint32_t(at)) : nullptr;
        if (!link || !*link) {
          log(LOG_ERROR, kSrc, "can't get to position %d", int(at));
          return;
        }
        depthdtl_row *r = *link;
        r->volume = 0;
        if (d->suppress_fades) {
          unlink_row(d, r);
        } else {
          r->removing = true;
          fade_to(&r->removal, 255, 0, &d->removals, d, 0, kRemovalSeconds);
        }
      } else if (better(d, st, d->step) && d->place > 0) {
        d->place--;
      }
      return;
    }
    case kEvDepthClear: {
      auto *p = static_cast<const ss_ev_depth_clear *>(ev->payload);
      if (p->sides != 2 && int32_t(p->sides) != d->side) return;
      for (depthdtl_row *r = d->rows, *n; r; r = n) {
        n = r->next;
        unlink_row(d, r);
      }
      d->place = 0;
      return;
    }
    case kEvTrade: {
      // The trade form: a new trade of the shown step joins the end.
      auto *t = static_cast<const ss_trade *>(ev->payload);
      if (d->side >= 0 || !t || step_of(d, t->price) != d->step) return;
      depthdtl_row *r = trade_row(t);
      if (!r) return;
      depthdtl_row **tail = &d->rows;
      while (*tail) tail = &(*tail)->next;
      *tail = r;
      d->row_count++;
      return;
    }
    default: return;
  }
}

// Applies the events of a list from its oldest up to and including `until`.
void replay(depthdtl *d, ss_event *oldest, ss_event *until) {
  for (ss_event *e = oldest; e; e = e->newer) {
    apply(d, e);
    if (e == until) return;
  }
}

class fade_hold_guard {
 public:
  explicit fade_hold_guard(depthdtl *d) : d_(d) {
    fade_hold();
    d_->suppress_fades++;
  }
  ~fade_hold_guard() {
    d_->suppress_fades--;
    fade_release();
  }

 private:
  depthdtl *d_;
};

void finish_build(depthdtl *d, ss_event *until) {
  d->shown_rows = d->row_count;
  d->last_event = until;
  if (screen_depthdtl() == d) screen_relayout_depthdtl();
  widget_redraw(d);
}

void build(depthdtl *d, ss_event *until) {
  instr *in = d->instrument;
  free_rows(d);
  d->place = 0;
  d->waiting = 0;
  if (!in) return;
  const ss_time today = in->exchange ? date_of(in->exchange->date) : 0;
  if (d->side >= 0 && d->date && date_of(d->date) != today) {
    ss_day *day = ssevent_find_day(in, date_of(d->date));
    if (!day || !(day->flags & kDayLoaded)) {
      // The new identity is kept, the old rows are gone: a follow before
      // the day arrives has nothing to act on.
      d->waiting = 1;
      d->last_event = nullptr;
      if (S.request_day) S.request_day(in, date_of(d->date));
      return;
    }
    fade_hold_guard hold(d);
    replay(d, day->events.oldest, until);
  } else if (d->side >= 0 && until && in->events.oldest) {
    fade_hold_guard hold(d);
    replay(d, in->events.oldest, until);
  } else if (d->side >= 0 && in->kind == kKindStock) {
    if (d->bucket >= 2) {
      log(LOG_WARN, kSrc, "don't have %s events", in->code);
    } else {
      const ss_depth_level *l = static_cast<ss_stock *>(in)->levels[d->side];
      while (l && l->price != d->step) l = l->next;
      if (!l) {
        log(LOG_WARN, kSrc, "can't find %u", d->step);
      } else {
        depthdtl_row **tail = &d->rows;
        for (const ss_depth_order *o = l->orders; o; o = o->next) {
          depthdtl_row *r = new_row(0, l->price, o->volume);
          if (!r) break;
          *tail = r;
          tail = &r->next;
          d->row_count++;
        }
      }
    }
  } else if (d->side < 0 && d->trade && in->kind == kKindStock) {
    // The trade form: the trade and the following trades of its step, each
    // with the figures of its break record.
    uint32_t place = 0;
    for (const ss_trade *t = static_cast<ss_stock *>(in)->trades.head; t && t != d->trade; t = t->next) place++;
    d->place = place;
    depthdtl_row **tail = &d->rows;
    for (const ss_trade *t = d->trade; t; t = t->next) {
      if (step_of(d, t->price) != d->step) continue;
      depthdtl_row *r = trade_row(t);
      if (!r) break;
      *tail = r;
      tail = &r->next;
      d->row_count++;
    }
  }
  finish_build(d, until);
}

// ---- slots ----

int32_t line_h() {
  const style *st = style_cur();
  return st && st->line_height > 0 ? st->line_height : 16;
}

// The trade form's figure columns: condition letters, second value, as-at
// date, buyer, seller; a column is shown when a row carries its figure.
constexpr int kFigureColumns = 5;
constexpr int32_t kFigureChars[kFigureColumns] = {9, 12, 9, 7, 7};

uint32_t figure_columns(const depthdtl *d) {
  uint32_t m = 0;
  for (const depthdtl_row *r = d->rows; r; r = r->next) {
    if (r->conditions) m |= 1u;
    if (r->second_value) m |= 2u;
    if (r->as_at) m |= 4u;
    if (r->buyer[0]) m |= 8u;
    if (r->seller[0]) m |= 16u;
  }
  return m;
}

// The text of figure column k of a row (empty when it has none).
const char *figure_text(const depthdtl *d, const depthdtl_row *r, int k) {
  switch (k) {
    case 0: {
      if (!r->conditions || !d->instrument || !d->instrument->exchange) return "";
      const char *t = condcode_text(int32_t(d->instrument->exchange->index), d->instrument->code, r->conditions);
      return t ? t : "";
    }
    case 1: return r->second_value ? fmt_volume(r->second_value) : "";
    case 2: return r->as_at ? fmt_date_short(r->as_at) : "";
    case 3: return r->buyer;
    case 4: return r->seller;
    default: return "";
  }
}

void d_reqsize(widget *self, size *out) {
  depthdtl *d = as_d(self);
  int32_t em = 8, digit = 7;
  font_metrics(&em, &digit, nullptr, nullptr, style_cur() ? style_cur()->font[0] : 0);
  if (digit <= 0) digit = 7;
  bool other_day = false;
  const ss_time today = d->instrument && d->instrument->exchange ? date_of(d->instrument->exchange->date) : 0;
  for (depthdtl_row *r = d->rows; r; r = r->next)
    if (r->time > kSstimeSecondsMask && date_of(r->time) != today) other_day = true;
  // Time, price, volume and value columns; a date column for another day;
  // in the trade form the break figures that some row carries.
  int32_t chars = 9 + 9 + 12 + 14 + (other_day ? 7 : 0);
  const uint32_t figures = d->side < 0 ? figure_columns(d) : 0;
  if (figures) chars += 2;
  for (int k = 0; k < kFigureColumns; k++)
    if (figures >> k & 1) chars += kFigureChars[k];
  out->w = chars * digit + 8;
  out->h = (line_h() + 1) * int32_t(std::max<uint32_t>(d->shown_rows, 1));
}

void d_geometry_changed(widget *self) { widget_redraw(self); }

void d_draw(widget *self) {
  depthdtl *d = as_d(self);
  const style *st = style_cur();
  const rect r = self->r;
  const colour fill = st ? style_colour(st, 61) : 0xff403030u;
  const colour text = st ? style_colour(st, 64) : 0xffffffffu;
  const colour grid = st ? style_colour(st, 63) : 0xff808080u;
  const int32_t font = st ? st->font[0] : 0;
  rect prev;
  gfx_set_clip(&r, &prev);
  gfx_fill_rect(r.x, r.y, r.w, r.h, fill);
  const int32_t rh = line_h();
  int32_t digit = 7;
  font_metrics(nullptr, &digit, nullptr, nullptr, font);
  if (digit <= 0) digit = 7;
  int32_t y = r.y;
  const uint32_t figures = d->side < 0 ? figure_columns(d) : 0;
  for (depthdtl_row *row = d->rows; row && y < r.y + r.h; row = row->next, y += rh + 1) {
    if (row->volume_fade.state) gfx_fill_rect(r.x, y, r.w, rh, row->volume_fade.shown.c);
    const int32_t base = y + rh - 4;
    font_draw(row->time ? fmt_time_hms(row->time) : " 00:00:00", r.x + 4, base, 0, font, text, nullptr);
    font_draw(fmt_price_small_cents_blank(row->price), r.x + 4 + 18 * digit, base, 1, font, text, nullptr);
    font_draw(fmt_volume(row->volume), r.x + 4 + 30 * digit, base, 1, font, text, nullptr);
    font_draw(fmt_volume(row->value / 100), r.x + 4 + 44 * digit, base, 1, font, text, nullptr);
    int32_t fx = r.x + 4 + 46 * digit;
    for (int k = 0; k < kFigureColumns; k++) {
      if (!(figures >> k & 1)) continue;
      font_draw(figure_text(d, row, k), fx, base, 0, font, text, nullptr);
      fx += kFigureChars[k] * digit;
    }
    gfx_begin_lines(grid);
    gfx_line(r.x, y + rh, r.x + r.w, y + rh);
    gfx_end_lines();
  }
  gfx_set_clip(prev.w ? &prev : nullptr, nullptr);
}

void d_init(object *o) {
  depthdtl *d = reinterpret_cast<depthdtl *>(o);
  d->side = 0;
  fade_owner_add(&d->fades, flash_done);
  fade_owner_add(&d->removals, removal_done);
}

void d_fini(object *o) {
  depthdtl *d = reinterpret_cast<depthdtl *>(o);
  free_rows(d);
  fade_owner_remove(&d->fades);
  fade_owner_remove(&d->removals);
}

void d_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->geometry_changed = d_geometry_changed;
  c->reqsize = d_reqsize;
  c->draw = d_draw;
}

typeid_t depthdtl_type_id() {
  static typeid_t t = -1;
  if (t < 0)
    t = object_register_class("depthdtl", widget_type(), sizeof(depthdtl), d_init, d_fini, sizeof(widget_class),
                              d_class_init, nullptr);
  return t;
}

}  // namespace

widget *depthdtl_new(widget *parent) {
  typeid_t t = depthdtl_type_id();
  return t < 0 ? nullptr : widget_new(parent, t);
}

depthdtl *depthdtl_cast(widget *w) {
  return w && object_is_a(reinterpret_cast<object *>(w), depthdtl_type_id()) ? as_d(w) : nullptr;
}

void depthdtl_set_bucket(widget *w, uint32_t size) {
  if (depthdtl *d = depthdtl_cast(w)) {
    d->bucket = size;
    d->half = size / 2;
  }
}

void depthdtl_show_price(widget *w, instr *in, ss_time date, int32_t side, uint32_t price, ss_event *until) {
  depthdtl *d = depthdtl_cast(w);
  if (!d) return;
  d->instrument = in;
  d->date = date;
  d->side = side;
  d->step = step_of(d, price);
  d->trade = nullptr;
  build(d, until);
}

void depthdtl_show_entry(widget *w, instr *in, ss_time date, ss_trade *trade, ss_event *until) {
  depthdtl *d = depthdtl_cast(w);
  if (!d || !trade) return;
  d->instrument = in;
  d->date = date;
  d->side = -1;
  d->step = step_of(d, trade->price);
  d->trade = trade;
  build(d, until);
}

void depthdtl_follow(widget *w, ss_event *event) {
  depthdtl *d = depthdtl_cast(w);
  if (!d || d->waiting || event == d->last_event) return;
  if (d->last_event) {
    for (ss_event *e = d->last_event->newer; e; e = e->newer) {
      apply(d, e);
      if (e == event) {
        d->last_event = event;
        d->shown_rows = d->row_count;
        if (screen_depthdtl() == d) screen_relayout_depthdtl();
        widget_redraw(d);
        return;
      }
    }
  }
  log(LOG_WARN, kSrc, "%s %u didn't follow?! (%d)", d->instrument ? d->instrument->code : "", d->step,
      widget_is_shown(d) ? 1 : 0);
  build(d, event);
}

instr *depthdtl_get_instr(widget *w) {
  depthdtl *d = depthdtl_cast(w);
  return d ? d->instrument : nullptr;
}

uint32_t depthdtl_volumes(widget *w, uint64_t *out, uint32_t max) {
  depthdtl *d = depthdtl_cast(w);
  uint32_t n = 0;
  for (depthdtl_row *r = d ? d->rows : nullptr; r; r = r->next)
    if (!r->removing) {
      if (n < max) out[n] = r->volume;
      n++;
    }
  return n;
}

void depthdtl_set_day_request(int (*fn)(instr *in, ss_time date)) {
  S.request_day = fn ? fn : ssclient_request_events_for_day;
}
