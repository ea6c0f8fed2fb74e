// The general detail popup. Every fill empties the popup, chooses the
// kind's column set and builds the rows as texts per column; drawing only
// lays the texts into the shown columns. One column layout serves all
// kinds: each kind shows its own columns, and narrower sets drop the
// optional ones when the popup is too narrow. The 500 ms refresh timer
// runs only while the popup is shown (kind 5 recomputes its bars).
//
// Slots: geometry_changed, reqsize, draw, restyle, show_children,
// hide_children.
#include "screen/gendtl.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "condcode.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/timer.h"
#include "log.h"
#include "sscodes.h"
#include "ssmodel.h"
#include "ssstate.h"
#include "style.h"

namespace {

const char kSrc[] = "gendtl";

// Column widths in characters (em: widths of 'M'; else digit widths),
// whether the column stretches and is right-aligned.
struct column_def {
  int32_t chars;
  bool em, stretch, right;
};
const column_def kColumns[kGendtlColumns] = {
    {3, true, false, false},   {30, false, true, false}, {3, true, false, false},
    {30, false, true, false},  {6, true, false, false},  {20, false, true, false},
    {14, false, false, true},  {6, false, false, false}, {10, false, true, false},
    {10, false, false, false}, {13, false, false, true}, {13, false, false, false},
    {7, false, false, true},   {9, false, false, true},  {14, false, false, false},
    {14, false, false, true},
};

constexpr uint32_t cols(int from, int to) {
  uint32_t m = 0;
  for (int i = from; i <= to; i++) m |= 1u << i;
  return m;
}

gendtl *as_g(widget *w) { return static_cast<gendtl *>(w); }
typeid_t gendtl_type_id();

int32_t text_font() {
  const style *st = style_cur();
  return st ? st->font[0] : 0;
}
int32_t row_height() {
  const style *st = style_cur();
  return st && st->line_height > 0 ? st->line_height : 16;
}

int32_t column_width(int c) {
  int32_t em = 8, digit = 7;
  font_metrics(&em, &digit, nullptr, nullptr, text_font());
  if (em <= 0) em = 8;
  if (digit <= 0) digit = 7;
  return kColumns[c].chars * (kColumns[c].em ? em : digit);
}

int32_t mask_width(uint32_t mask) {
  int32_t w = 0;
  for (int c = 0; c < kGendtlColumns; c++)
    if (mask >> c & 1) w += column_width(c);
  return w;
}

void empty(gendtl *g, uint32_t kind) {
  g->row_count = 0;
  g->kind = kind;
  uint32_t masks[5];
  g->shown_columns = gendtl_mask_list(kind, masks) ? masks[0] : 0;
}

gendtl_row *add_row(gendtl *g) {
  if (g->row_count == g->row_capacity) {
    uint32_t cap = g->row_capacity ? g->row_capacity * 2 : 8;
    void *p = realloc(g->rows, size_t(cap) * sizeof(gendtl_row));
    if (!p) {
      log(LOG_ERROR, kSrc, "can't alloc detail row");
      return nullptr;
    }
    g->rows = static_cast<gendtl_row *>(p);
    g->row_capacity = cap;
  }
  gendtl_row *r = &g->rows[g->row_count++];
  memset(r, 0, sizeof *r);
  r->dirty = true;
  return r;
}

void set(gendtl_row *r, int c, const char *text) {
  snprintf(r->cell[c], kGendtlCellText, "%s", text ? text : "");
}

void changed(gendtl *g) {
  for (uint32_t i = 0; i < g->row_count; i++) g->rows[i].dirty = true;
  widget_redraw(g);
}

void compute_fractions(gendtl *g) {
  uint64_t most = 0;
  for (uint32_t i = 0; i < g->row_count; i++) most = std::max(most, g->rows[i].volume);
  for (uint32_t i = 0; i < g->row_count; i++) {
    g->rows[i].fraction = most ? float(double(g->rows[i].volume) / double(most)) : 0.0f;
    g->rows[i].dirty = true;
  }
}

int tick_cb(void *arg, uint32_t, int64_t, float) {
  gendtl_tick(static_cast<widget *>(arg));
  return 1;
}

// ---- slots ----

void g_reqsize(widget *self, size *out) {
  gendtl *g = as_g(self);
  const int32_t rows = std::max<int32_t>(1, int32_t(g->row_count));
  if (g->kind == kGendtlNews) {
    int32_t widest = 0;
    for (uint32_t i = 0; i < g->row_count; i++) {
      int32_t s[2] = {0, 0};
      font_text_size(s, text_font(), g->rows[i].cell[8]);
      widest = std::max(widest, s[0]);
    }
    const int32_t wW = std::max(1, font_glyph_width('W', text_font()));
    out->w = widest + 10 * wW + 10;
  } else {
    out->w = mask_width(g->shown_columns);
  }
  out->h = (row_height() + 1) * rows;
}

void g_geometry_changed(widget *self) {
  gendtl *g = as_g(self);
  // The widest column set that fits the new width.
  uint32_t masks[5];
  int n = gendtl_mask_list(g->kind, masks);
  for (int i = 0; i < n; i++) {
    g->shown_columns = masks[i];
    if (g->kind == kGendtlNews || mask_width(masks[i]) <= self->r.w) break;
  }
  const bool moved_only = g->last.w == self->r.w && g->last.h == self->r.h;
  g->last = self->r;
  if (!moved_only) changed(g);
}

void g_restyle(widget *self) { changed(as_g(self)); }

void g_show(widget *self) {
  gendtl *g = as_g(self);
  if (g->refresh_timer < 0) g->refresh_timer = timer_start(kGendtlRefreshMs, tick_cb, g, 0);
}

void g_hide(widget *self) {
  gendtl *g = as_g(self);
  if (g->refresh_timer >= 0) timer_stop(g->refresh_timer);
  g->refresh_timer = -1;
}

void g_draw(widget *self) {
  gendtl *g = as_g(self);
  const style *st = style_cur();
  const rect r = self->r;
  bool all_read = true;
  for (uint32_t i = 0; i < g->row_count; i++)
    if (g->rows[i].news && !(g->rows[i].news->flags & 1)) all_read = false;
  colour fill = st ? style_colour(st, 61) : 0xff303040u;
  if (g->kind == kGendtlNews && all_read && st) fill = style_colour(st, 62);
  const colour grid = st ? style_colour(st, 63) : 0xff808080u;
  const colour text = st ? style_colour(st, 64) : 0xffffffffu;
  const colour bar = st ? style_colour(st, 65) : 0xff4080c0u;
  rect prev;
  gfx_set_clip(&r, &prev);
  gfx_fill_rect(r.x, r.y, r.w, r.h, fill);
  // Column edges from the left, stretch columns sharing what is left.
  int32_t x0[kGendtlColumns] = {}, cw[kGendtlColumns] = {};
  int32_t used = 0, stretchers = 0;
  for (int c = 0; c < kGendtlColumns; c++)
    if (g->shown_columns >> c & 1) {
      used += column_width(c);
      stretchers += kColumns[c].stretch;
    }
  const int32_t extra = stretchers ? std::max(0, r.w - used) / stretchers : 0;
  int32_t x = r.x;
  for (int c = 0; c < kGendtlColumns; c++)
    if (g->shown_columns >> c & 1) {
      x0[c] = x;
      cw[c] = column_width(c) + (kColumns[c].stretch ? extra : 0);
      x += cw[c];
    }
  const int32_t rh = row_height();
  int32_t y = r.y;
  gfx_begin_lines(grid);
  gfx_line(r.x, r.y, r.x + r.w, r.y);
  gfx_end_lines();
  for (uint32_t i = 0; i < g->row_count && y + rh <= r.y + r.h; i++, y += rh + 1) {
    gendtl_row &row = g->rows[i];
    if (row.news && (row.news->flags & 1)) gfx_fill_rect(r.x, y + 1, r.w, rh, grid);
    if (g->kind == kGendtlVolume && (g->shown_columns >> 11 & 1))
      gfx_fill_rect(x0[11] + 1, y + 1, int32_t(row.fraction * float(cw[11] - 1)), rh, bar);
    if (g->kind == kGendtlAuction && row.heading) gfx_fill_rect(x0[15], y + 1, 3, rh, bar);
    for (int c = 0; c < kGendtlColumns; c++) {
      if (!(g->shown_columns >> c & 1) || !row.cell[c][0]) continue;
      if (row.heading && c == 15)
        font_draw(row.cell[c], x0[c] + cw[c] / 2, y + rh - 4, 2, text_font(), text, nullptr);
      else if (kColumns[c].right)
        font_draw(row.cell[c], x0[c] + cw[c] - 3, y + rh - 4, 1, text_font(), text, nullptr);
      else
        font_draw(row.cell[c], x0[c] + 4, y + rh - 4, 0, text_font(), text, nullptr);
    }
    gfx_begin_lines(grid);
    gfx_line(r.x, y + rh + 1, r.x + r.w, y + rh + 1);
    gfx_end_lines();
    if (row.news && (row.news->flags & 2) && (g->shown_columns >> 8 & 1)) {
      gfx_begin_lines(0xff0000ffu);
      gfx_line(x0[8], y + rh / 2, x0[8] + cw[8], y + rh / 2);
      gfx_end_lines();
    }
    row.dirty = false;
  }
  gfx_begin_lines(grid);
  for (int c = 0; c < kGendtlColumns; c++)
    if ((g->shown_columns >> c & 1) && x0[c] > r.x && x0[c] < r.x + r.w) gfx_line(x0[c], r.y, x0[c], r.y + r.h);
  gfx_end_lines();
  gfx_set_clip(prev.w ? &prev : nullptr, nullptr);
}

void g_init(object *o) {
  gendtl *g = reinterpret_cast<gendtl *>(o);
  g->refresh_timer = -1;
}

void g_fini(object *o) {
  gendtl *g = reinterpret_cast<gendtl *>(o);
  if (g->refresh_timer >= 0) timer_stop(g->refresh_timer);
  free(g->rows);
  g->rows = nullptr;
}

void g_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->geometry_changed = g_geometry_changed;
  c->reqsize = g_reqsize;
  c->draw = g_draw;
  c->restyle = g_restyle;
  c->show_children = g_show;
  c->hide_children = g_hide;
}

typeid_t gendtl_type_id() {
  static typeid_t t = -1;
  if (t < 0)
    t = object_register_class("gendtl", widget_type(), sizeof(gendtl), g_init, g_fini, sizeof(widget_class),
                              g_class_init, nullptr);
  return t;
}

ss_issuer *issuer_of(instr *in) {
  if (!in) return nullptr;
  if (in->kind == kKindStock) return in->exchange ? ssmodel_find_issuer(in->exchange, in->code) : nullptr;
  if (in->kind != kKindIndex) return static_cast<ss_issuer *>(in);
  return nullptr;
}

const char *price_or_dash(uint64_t p) { return p ? fmt_price_small_cents_blank(uint32_t(p)) : "-"; }

// One row per set bit of mask, lowest first: text 0 (letters or name) into
// column col, text 1 (the explanation) into col + 1. Each text is copied
// before the next is asked for: the texts may live in one static buffer.
using flag_text = const char *(*)(gendtl *g, uint64_t bit, int which);
void flag_rows(gendtl *g, uint64_t mask, int col, flag_text text) {
  for (int bit = 0; bit < 64; bit++) {
    if (!(mask >> bit & 1)) continue;
    gendtl_row *r = add_row(g);
    if (!r) continue;
    set(r, col, text(g, uint64_t(1) << bit, 0));
    set(r, col + 1, text(g, uint64_t(1) << bit, 1));
  }
  changed(g);
}

}  // namespace

widget *gendtl_new(widget *parent) {
  typeid_t t = gendtl_type_id();
  return t < 0 ? nullptr : widget_new(parent, t);
}

gendtl *gendtl_cast(widget *w) {
  return w && object_is_a(reinterpret_cast<object *>(w), gendtl_type_id()) ? as_g(w) : nullptr;
}

int gendtl_mask_list(uint32_t kind, uint32_t out[5]) {
  switch (kind) {
    case kGendtlFlags: out[0] = cols(0, 1), out[1] = cols(1, 1); return 2;
    case kGendtlQuoteFlags: out[0] = cols(2, 3), out[1] = cols(3, 3); return 2;
    case kGendtlState: out[0] = cols(4, 5), out[1] = cols(5, 5); return 2;
    case kGendtlNews: out[0] = cols(6, 8), out[1] = cols(7, 8), out[2] = cols(8, 8); return 3;
    case kGendtlVolume:
      out[0] = cols(9, 13);
      out[1] = out[0] & ~(1u << 13);
      out[2] = out[1] & ~(1u << 12);
      out[3] = out[2] & ~(1u << 11);
      out[4] = out[3] & ~(1u << 9);
      return 5;
    case kGendtlAuction: out[0] = cols(14, 15); return 1;
    default: return 0;
  }
}

void gendtl_fill_flags(widget *w, uint32_t flag_set, const char *code, uint64_t mask) {
  gendtl *g = gendtl_cast(w);
  if (!g) return;
  empty(g, kGendtlFlags);
  g->flag_set = flag_set;
  snprintf(g->code, sizeof g->code, "%s", code ? code : "");
  g->condition_mask = mask;
  flag_rows(g, mask, 0, [](gendtl *d, uint64_t bit, int which) {
    return which == 0 ? condcode_text(int32_t(d->flag_set), d->code, bit)
                      : sscodes_condition_explanation(int32_t(d->flag_set), bit);
  });
}

void gendtl_fill_flags2(widget *w, uint32_t flag_set, uint64_t mask) {
  gendtl *g = gendtl_cast(w);
  if (!g) return;
  empty(g, kGendtlQuoteFlags);
  g->flag_set = flag_set;
  g->quote_mask = mask;
  flag_rows(g, mask, 2, [](gendtl *d, uint64_t bit, int which) {
    return which == 0 ? sscodes_quote_basis_names(int32_t(d->flag_set), bit)
                      : sscodes_quote_basis_description(int32_t(d->flag_set), bit);
  });
}

void gendtl_fill_value(widget *w, uint32_t state, ss_time resume) {
  gendtl *g = gendtl_cast(w);
  if (!g) return;
  empty(g, kGendtlState);
  g->state = state;
  if (gendtl_row *r = add_row(g)) {
    set(r, 4, ssstate_short_name(state));
    set(r, 5, ssstate_long_name(state));
  }
  if (resume)
    if (gendtl_row *r = add_row(g)) {
      set(r, 4, fmt_time_hms(resume));
      set(r, 5, "Resumes Trading");
    }
  changed(g);
}

void gendtl_fill_range(widget *w, instr *in, ss_time from, ss_time to) {
  gendtl *g = gendtl_cast(w);
  if (!g) return;
  empty(g, kGendtlNews);
  g->instrument = in;
  ss_issuer *is = issuer_of(in);
  const ss_time today = in && in->exchange ? in->exchange->date : 0;
  const ss_time day_mask = ~kSstimeSecondsMask;
  for (const ss_news *n = is ? is->news.head : nullptr; n; n = n->next) {
    if (n->time < from) continue;
    if (n->time > to) break;
    gendtl_row *r = add_row(g);
    if (!r) continue;
    r->news = n;
    char when[48];
    if ((n->time & day_mask) != (today & day_mask)) {
      char date[24];
      snprintf(date, sizeof date, "%s", fmt_date_short(n->time));
      for (char *p = date; *p; p++) *p = char(toupper(static_cast<unsigned char>(*p)));
      snprintf(when, sizeof when, "%s %s", date, fmt_time_hm(n->time));
    } else {
      snprintf(when, sizeof when, "%s", fmt_time_hm(n->time));
    }
    set(r, 6, when);
    set(r, 7, fmt_time_hm(n->time));
    set(r, 8, n->headline);
  }
  // Dates are shown only when the first item is from an earlier day.
  if (g->row_count && g->rows[0].news->time >= (today & day_mask))
    g->shown_columns &= ~(1u << 6);
  else
    g->shown_columns &= ~(1u << 7);
  changed(g);
}

void gendtl_fill_today_news(widget *w, instr *in) {
  const ss_time today = in && in->exchange ? in->exchange->date & ~kSstimeSecondsMask : 0;
  gendtl_fill_range(w, in, today, sstime_add_days(today, 1));
}

void gendtl_fill_volume(widget *w, ss_stock *stock) {
  gendtl *g = gendtl_cast(w);
  if (!g) return;
  empty(g, kGendtlVolume);
  g->instrument = stock;
  static const struct {
    int period;
    const char *label;
  } kRows[4] = {{3, "Today"}, {0, "Yesterday"}, {1, "Week avg"}, {2, "Month avg"}};
  for (auto &k : kRows) {
    gendtl_row *r = add_row(g);
    if (!r) continue;
    set(r, 9, k.label);
    r->volume = !stock ? 0 : k.period == 3 ? stock->volume : stock->vcmp_volume[k.period];
    set(r, 10, fmt_volume(r->volume));
    if (k.period != 3 && stock) {
      set(r, 12, fmt_volume_short_signed(stock->vcmp_diff[k.period]));
      const int32_t pct = stock->vcmp_pct[k.period];
      set(r, 13, pct <= 100000 && pct >= -100000 ? fmt_change_percent(pct) : fmt_percent_capped(pct));
    }
  }
  compute_fractions(g);
  changed(g);
}

void gendtl_fill_auction(widget *w, ss_stock *stock, const ss_auction *a, const gendtl_last *o) {
  gendtl *g = gendtl_cast(w);
  if (!g) return;
  empty(g, kGendtlAuction);
  g->instrument = stock;
  ss_auction none = {};
  if (!a) a = &none;
  auto row = [&](const char *label, const char *value, bool heading) {
    if (gendtl_row *r = add_row(g)) {
      set(r, 14, label);
      set(r, 15, value);
      r->heading = heading;
    }
  };
  row("", "Pre Auction", true);
  const uint32_t last = o ? o->price : stock ? stock->last : 0;
  if (last)
    row("Last", fmt_price_small_cents_blank(last), false);
  else
    row("Prev Close", price_or_dash(stock ? stock->close : 0), false);
  row("Volume", fmt_volume(o ? o->volume : stock ? stock->volume : 0), false);
  row("", "Auction", true);
  row("Exec Price", price_or_dash(a->price), false);
  row("Exec Volume", fmt_volume(a->matched), false);
  row("Surplus Volume", fmt_volume_signed(a->surplus), false);
  row("", "Post Auction", true);
  row("Top Buy", price_or_dash(a->bid_price), false);
  row("Top Buy Volume", fmt_volume(a->bid_volume), false);
  row("Top Sell", price_or_dash(a->offer_price), false);
  row("Top Sell Volume", fmt_volume(a->offer_volume), false);
  changed(g);
}

void gendtl_fill_stock_auction(widget *w, ss_stock *stock) {
  gendtl_fill_auction(w, stock, stock ? &stock->auction : nullptr, nullptr);
}

void gendtl_tick(widget *w) {
  gendtl *g = gendtl_cast(w);
  if (!g || g->kind != kGendtlVolume) return;
  if (ss_stock *s = g->instrument && g->instrument->kind == kKindStock ? static_cast<ss_stock *>(g->instrument) : nullptr)
    if (g->row_count == 4) g->rows[0].volume = s->volume;
  compute_fractions(g);
  widget_redraw(g);
}

const char *gendtl_cell(widget *w, uint32_t row, int column) {
  gendtl *g = gendtl_cast(w);
  if (!g || row >= g->row_count || column < 0 || column >= kGendtlColumns) return "";
  return g->rows[row].cell[column];
}
