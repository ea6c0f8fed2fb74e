// The depth table: one row per price step and list (bids, offers, trades),
// each with its order count, volume and value, and the cumulative figures
// from the best price outwards, drawn as up to 27 columns that a column-set
// list fits to the width. A row whose last order goes fades out before it is
// removed; an add or amend at that step while it fades keeps the row.
//
// The rows live in sorted vectors per list behind one model record (the
// object registry zero-fills instances, so the C++ members sit behind a
// pointer made at init). Finding a row is a linear walk from the best price:
// books are a few hundred steps at most, and most changes are near the top.
#include "windows/depthtable.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "lib/fade.h"
#include "lib/fmt.h"
#include "lib/cols.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "log.h"
#include "ssevent.h"
#include "ssutil.h"
#include "style.h"
#include "windows/window.h"

namespace {

const char kSrc[] = "src/windows/depthtbl";

constexpr double kRemovalLive = 0.5;
constexpr double kRemovalReplay = 0.32;
constexpr double kFlashSeconds = 0.5;
constexpr uint32_t kInitialRows = 10;

// Width codes of the column layout: digit widths, 0-terminated.
constexpr int32_t kWidths[kDepthTableColumns + 1] = {12, 12, 6, 5, 3, 12, 10, 6, 7, 7, 10, 6, 12, 3,
                                                     5,  6,  12, 12, 7, 10, 6, 12, 3, 5, 6, 12, 12, 0};

constexpr uint64_t bits(std::initializer_list<int> cols) {
  uint64_t m = 0;
  for (int c : cols) m |= uint64_t(1) << c;
  return m;
}
constexpr uint64_t kRemove = uint64_t(1) << 63;

// The column-set list: a set replaces the columns in force, a removal step
// (top bit) takes columns from them.
constexpr uint64_t kColumnSets[] = {
    bits({0, 1, 3, 4, 5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 19, 21, 22, 23}),
    bits({0, 2, 3, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 17, 18, 19, 21, 22, 23}),
    kRemove | bits({0, 17}),
    kRemove | bits({23}),
    kRemove | bits({2, 15}),
    kRemove | bits({5, 12}),
    kRemove | bits({3, 14}),
    kRemove | bits({21}),
    bits({4, 7, 8, 9, 11, 13, 18, 20, 22}),
    kRemove | bits({22}),
    kRemove | bits({4, 13}),
    kRemove | bits({20}),
    kRemove | bits({18}),
    kRemove | bits({7, 11}),
    0,
};
constexpr uint64_t kTradeColumns = bits({18, 19, 20, 21, 22, 23, 24, 25, 26});
constexpr uint64_t kSpecialHidden = bits({0, 5, 17, 21, 26});

const char *const kTips[kDepthTableColumns] = {
    "Total Value of Bids at and above this Price",
    "Total Volume of Bids at and above this Price",
    "Total Volume of Bids at and above this Price",
    "Percentage Volume of Bids at and above this Price",
    "Number of Bids at this Price",
    "Total Value of Bids at this Price",
    "Total Volume of Bids at this Price",
    "Total Volume of Bids at this Price",
    "Bid Price",
    "Offer Price",
    "Total Volume of Offers at this Price",
    "Total Volume of Offers at this Price",
    "Total Value of Offers at this Price",
    "Number of Offers at this Price",
    "Percentage Volume of Offers at and above this Price",
    "Total Volume of Offers at and above this Price",
    "Total Volume of Offers at and above this Price",
    "Total Value of Offers at and above this Price",
    "Price of Trade Break",
    "Total Volume of Trades at this Price Break",
    "Total Volume of Trades at this Price Break",
    "Total Value of Trades at this Price Break",
    "Number of Trades at this Price Break",
    "Percentage Volume of this Price Break versus Total Volume today",
    nullptr,
    nullptr,
    nullptr,
};

struct model {
  std::vector<depthtbl_row> rows[3];
  uint32_t group_step = 1, half_step = 0;
  uint32_t shown_rows = kInitialRows;
  uint64_t columns = 0;
  cols layout{};  // the columns' places after the last fit
  bool dirty = false;
};

struct depthtbl : depthwin_child {
  model *m;
};

depthtbl *tb(depthwin_child *c) { return static_cast<depthtbl *>(c); }
model &md(depthwin_child *c) { return *tb(c)->m; }

double frame_now() { return depthwin_get_services()->now_seconds(); }

uint32_t multiplier_of(const depthwin_book *b) {
  const instr *in = b ? b->instrument : nullptr;
  return in && in->kind == kKindStock ? static_cast<const ss_stock *>(in)->multiplier : 1;
}

bool out_of_order(const depthwin_book *b) { return b && b->instrument && (b->instrument->flags & kInOutOfOrder); }

// Bids fall, offers and trades rise.
bool before(int list, uint32_t a, uint32_t b) { return list == 0 ? a > b : a < b; }

depthtbl_row *find_row(model &m, int list, uint32_t step) {
  for (depthtbl_row &r : m.rows[list]) {
    if (r.step == step) return &r;
    if (!before(list, r.step, step)) break;
  }
  return nullptr;
}

depthtbl_row *get_row(model &m, int list, uint32_t step) {
  std::vector<depthtbl_row> &v = m.rows[list];
  size_t i = 0;
  while (i < v.size() && before(list, v[i].step, step)) i++;
  if (i < v.size() && v[i].step == step) return &v[i];
  depthtbl_row r{};
  r.step = step;
  return &*v.insert(v.begin() + long(i), r);
}

void remove_row(model &m, int list, uint32_t step) {
  std::vector<depthtbl_row> &v = m.rows[list];
  for (size_t i = 0; i < v.size(); i++)
    if (v[i].step == step) {
      v.erase(v.begin() + long(i));
      return;
    }
}

void redraw(depthwin_child *c) {
  md(c).dirty = true;
  if (widget_is_shown(c)) widget_redraw(c);
}

uint32_t step_of(model &m, uint32_t price) { return depthwin_step_of(price, m.group_step); }

// An entry joining a row: an order (count 1) or a whole level.
void add_entry(depthwin_child *c, int side, uint32_t price, uint64_t volume, uint32_t count) {
  model &m = md(c);
  depthtbl_row *r = get_row(m, side, step_of(m, price));
  r->count += count;
  r->volume += volume;
  r->value += depthtbl_value(multiplier_of(c->book), price, volume);
  r->removal_due = 0;
}

void start_removal(depthwin_child *c, int list, depthtbl_row *r) {
  if (fade_hold_count() > 0) {
    remove_row(md(c), list, r->step);
    return;
  }
  bool replay = c->book && (c->book->anchor_position || c->book->rebuilding);
  r->removal_due = frame_now() + (replay ? kRemovalReplay : kRemovalLive);
}

void prune(depthwin_child *c) {
  double now = frame_now();
  for (auto &v : md(c).rows)
    for (size_t i = 0; i < v.size();)
      if (v[i].removal_due > 0 && v[i].removal_due <= now && v[i].count == 0)
        v.erase(v.begin() + long(i));
      else
        i++;
}

void clear_list(depthwin_child *c, int list) { md(c).rows[list].clear(); }

void tb_apply(depthwin_child *c, const ss_event *ev) {
  model &m = md(c);
  uint32_t mult = multiplier_of(c->book);
  bool ooo = out_of_order(c->book);
  switch (ev->kind) {
    case kEvDepthAdd: {
      auto *p = static_cast<const ss_ev_depth_add *>(ev->payload);
      if (p->side > 1) return;
      add_entry(c, int(p->side), p->price, p->volume, ooo ? p->count : 1);
      break;
    }
    case kEvDepthAmend: {
      auto *p = static_cast<const ss_ev_depth_amend *>(ev->payload);
      if (p->side > 1 || !p->price) return;
      depthtbl_row *r = find_row(m, int(p->side), step_of(m, p->price));
      if (!r) {
        log(LOG_ERROR, kSrc, "can't acquire row");
        return;
      }
      if (ooo) {
        r->volume = p->volume;
        r->value = depthtbl_value(mult, p->price, p->volume);
      } else {
        r->volume += p->volume - p->old_volume;
        r->value += depthtbl_value(mult, p->price, p->volume) - depthtbl_value(mult, p->price, p->old_volume);
      }
      r->flash_dir = p->volume >= p->old_volume ? 1 : -1;
      r->flash_until = frame_now() + kFlashSeconds;
      if (r->count) r->removal_due = 0;
      break;
    }
    case kEvDepthDelete: {
      auto *p = static_cast<const ss_ev_depth_delete *>(ev->payload);
      if (p->side > 1 || !p->price) return;
      depthtbl_row *r = find_row(m, int(p->side), step_of(m, p->price));
      if (!r) {
        log(LOG_ERROR, kSrc, "can't delete %p %d (%u)", static_cast<const void *>(ev), int(p->side), p->price);
        return;
      }
      if (ooo) {
        r->count = 0;
        r->volume = 0;
        r->value = 0;
      } else {
        if (r->count) r->count--;
        r->volume -= p->volume;
        r->value -= depthtbl_value(mult, p->price, p->volume);
      }
      r->flash_dir = 0;
      r->flash_until = frame_now() + kFlashSeconds;
      if (r->count == 0) start_removal(c, int(p->side), r);
      break;
    }
    case kEvDepthClear: {
      auto *p = static_cast<const ss_ev_depth_clear *>(ev->payload);
      if (p->sides == 0 || p->sides >= 2) clear_list(c, 0);
      if (p->sides == 1 || p->sides >= 2) clear_list(c, 1);
      if (p->sides >= 3) clear_list(c, 2);
      break;
    }
    case kEvTrade: {
      auto *t = static_cast<const ss_trade *>(ev->payload);
      if (!t || !t->price || t->price == kNoPrice || !t->volume) return;
      depthtbl_row *r = get_row(m, 2, step_of(m, t->price));
      r->count++;
      r->volume += t->volume;
      r->value += depthtbl_value(mult, t->price, t->volume);
      break;
    }
    case kEvTradeCancel: {
      auto *p = static_cast<const ss_ev_trade_cancel *>(ev->payload);
      const ss_trade *t = p ? p->trade : nullptr;
      if (!t || !t->price || t->price == kNoPrice || !t->volume) return;
      depthtbl_row *r = find_row(m, 2, step_of(m, t->price));
      if (!r) {
        log(LOG_ERROR, kSrc, "can't get to price %d", int(t->price));
        return;
      }
      if (r->count) r->count--;
      r->volume -= t->volume;
      r->value -= depthtbl_value(mult, t->price, t->volume);
      if (!r->count) remove_row(m, 2, r->step);
      break;
    }
    default:
      return;
  }
  redraw(c);
}

void tb_reset(depthwin_child *c) {
  for (auto &v : md(c).rows) v.clear();
  redraw(c);
}

void tb_begin_rebuild(depthwin_child *) {}

void tb_load_side(depthwin_child *c, int side) {
  const depthwin_book *b = c->book;
  if (!b || !b->instrument || b->instrument->kind != kKindStock) return;
  const ss_stock *s = static_cast<const ss_stock *>(b->instrument);
  bool ooo = out_of_order(b);
  fade_hold();
  for (const ss_depth_level *l = s->levels[side]; l; l = l->next) {
    if (ooo) {
      add_entry(c, side, l->price, l->volume, l->count);
      continue;
    }
    for (const ss_depth_order *o = l->orders; o; o = o->next) add_entry(c, side, l->price, o->volume, 1);
  }
  fade_release();
}

// The trade block from the day's trades. The model keeps per-price trade
// aggregates only when asked to (the terminal does not), so the block is
// summed from the trade list itself: the same figures the trade events of
// a replay add up to.
void tb_after_load(depthwin_child *c) {
  const depthwin_book *b = c->book;
  clear_list(c, 2);
  if (!b || !b->instrument || b->instrument->kind != kKindStock) return;
  const ss_stock *s = static_cast<const ss_stock *>(b->instrument);
  model &m = md(c);
  uint32_t mult = multiplier_of(b);
  fade_hold();
  for (const ss_trade *t = s->trades.head; t; t = t->next) {
    if ((t->bits & kTradeCancelled) || !t->price || t->price == kNoPrice || !t->volume) continue;
    depthtbl_row *r = get_row(m, 2, step_of(m, t->price));
    r->count++;
    r->volume += t->volume;
    r->value += depthtbl_value(mult, t->price, t->volume);
  }
  fade_release();
  redraw(c);
}

void tb_finish_load(depthwin_child *) {}

void tb_end_batch(depthwin_child *c, int) {
  prune(c);
  if (md(c).dirty && widget_is_shown(c)) widget_redraw(c);
}

void tb_tick(depthwin_child *c) {
  size_t before_n = 0, after_n = 0;
  for (auto &v : md(c).rows) before_n += v.size();
  prune(c);
  for (auto &v : md(c).rows) after_n += v.size();
  if (before_n != after_n) redraw(c);
}

int32_t row_height() {
  const style *s = style_cur();
  return (s ? s->line_height : 14) + 1;
}

// Every cell is a figure: the value font, whose small digits draw the
// formatters' cents and tenths.
int32_t table_font() {
  const style *s = style_cur();
  return s ? s->font[1] : 5;
}

uint64_t hidden_columns(bool trades, bool special) {
  return (trades ? 0 : kTradeColumns) | (special ? kSpecialHidden : 0);
}

void layout_columns(depthwin_child *c) {
  const depthwin_book *b = c->book;
  bool special = b && b->instrument && ssutil_nzx_special_code(b->instrument);
  model &m = md(c);
  cols_set_hidden(&m.layout, hidden_columns(!b || b->show_trades, special));
  cols_fit(&m.layout, c->r.x, c->r.w, table_font());
  m.columns = m.layout.shown;
  int32_t rh = row_height();
  md(c).shown_rows = rh > 0 ? uint32_t(c->r.h / rh) : 0;
}

void tb_settings_changed(depthwin_child *c, int) {
  layout_columns(c);
  redraw(c);
}

void tb_geometry_changed(widget *self) {
  layout_columns(static_cast<depthwin_child *>(self));
  widget_redraw(self);
}

void tb_reqsize(widget *self, size *out) {
  int32_t sz[2] = {0, 0};
  font_text_size(sz, table_font(), "1234 12345.6 123,456,789");
  *out = {3 * sz[0], row_height() * int32_t(md(static_cast<depthwin_child *>(self)).shown_rows)};
}

// The row and list under a point, false when none.
bool row_at(depthwin_child *c, int32_t x, int32_t y, int *list, uint32_t *row) {
  model &m = md(c);
  int32_t rh = row_height();
  if (rh <= 0 || y < c->r.y) return false;
  *row = uint32_t((y - c->r.y) / rh);
  const int col = depthtbl_column_at(c, x);
  if (col < 0) return false;
  *list = col < 9 ? 0 : col < 18 ? 1 : 2;
  return *row < m.rows[*list].size();
}

// A button-1 release on a trade row opens the course of sales at the time
// of the latest trade done at the row's step.
void tb_release(widget *self, int32_t x, int32_t y, int button) {
  auto *c = static_cast<depthwin_child *>(self);
  int list;
  uint32_t row;
  const depthwin_services *svc = depthwin_get_services();
  if (button != 1 || !row_at(c, x, y, &list, &row) || list != 2 || !svc->open_trades_at) return;
  const depthwin_book *b = c->book;
  if (!b || !b->instrument || b->instrument->kind != kKindStock) return;
  uint32_t step = md(c).rows[2][row].step;
  ss_time when = 0;
  for (const ss_trade *t = static_cast<const ss_stock *>(b->instrument)->trades.head; t; t = t->next)
    if (!(t->bits & kTradeCancelled) && step_of(md(c), t->price) == step) when = t->time;
  svc->open_trades_at(self, b->instrument, when ? when : b->position);
}

// Hover: the row under the pointer opens the depth detail popup, its price
// form for a bid or offer row, its trade form for a trade row.
void tb_motion(widget *self, int32_t x, int32_t y) {
  auto *c = static_cast<depthwin_child *>(self);
  const depthwin_services *svc = depthwin_get_services();
  int list;
  uint32_t row;
  if (row_at(c, x, y, &list, &row) && svc->show_depth_detail && c->book && c->book->instrument) {
    svc->show_depth_detail(self, c->book->instrument, c->book->position, md(c).rows[list][row].step,
                           md(c).group_step, list);
    return;
  }
  if (svc->hide_depth_detail) svc->hide_depth_detail(self);
}

void tb_leave(widget *self) {
  if (depthwin_get_services()->hide_depth_detail) depthwin_get_services()->hide_depth_detail(self);
}

void tb_hide_children(widget *self) { tb_leave(self); }

constexpr colour kBidColour = 0xFF8C5A28;    // blue side, RGBA red low
constexpr colour kOfferColour = 0xFF2828A0;  // red side
constexpr colour kTradeColour = 0xFF404040;
constexpr colour kTextColour = 0xFFFFFFFF;

void tb_draw(widget *self) {
  const window_frame_guard frame(self);  // the window's edges, painted over, come back
  auto *c = static_cast<depthwin_child *>(self);
  model &m = md(c);
  depthtbl_accumulate(c);
  gfx_fill_rect(self->r.x, self->r.y, self->r.w, self->r.h, 0xFF000000);
  int32_t rh = row_height();
  char text[64];
  for (uint32_t i = 0; i < m.shown_rows; i++) {
    int32_t y = self->r.y + int32_t(i) * rh;
    for (int col = 0; col < kDepthTableColumns; col++) {
      const cols_col &k = m.layout.col[col];
      if (!k.shown || k.width <= 0) continue;
      const int32_t x = k.x0, w = k.width;
      int list = col < 9 ? 0 : col < 18 ? 1 : 2;
      if (i < m.rows[list].size()) {
        colour bg = list == 0 ? kBidColour : list == 1 ? kOfferColour : kTradeColour;
        gfx_fill_rect(x, y, w, rh - 1, bg);
        // Figures stand right-aligned in their column and never reach past it.
        if (depthtbl_cell(c, col, i, text, sizeof text))
          font_draw(cols_cell_text(text, table_font(), w - 4, true), x + w - 2, y + rh / 2, 0x41, table_font(),
                    kTextColour, nullptr);
      }
    }
  }
  m.dirty = false;
}

void tb_init(object *o) {
  auto *t = reinterpret_cast<depthtbl *>(o);
  t->m = new model;
  cols_init(&t->m->layout, kWidths, kColumnSets);
}
void tb_fini(object *o) {
  auto *t = reinterpret_cast<depthtbl *>(o);
  delete t->m;
  t->m = nullptr;
}

void tb_class_init(object_class *rec) {
  auto *c = static_cast<depthwin_child_class *>(rec);
  c->geometry_changed = tb_geometry_changed;
  c->reqsize = tb_reqsize;
  c->draw = tb_draw;
  c->motion = tb_motion;
  c->release = tb_release;
  c->leave = tb_leave;
  c->hide_children = tb_hide_children;
  c->tick = tb_tick;
  c->apply_event = tb_apply;
  c->reset = tb_reset;
  c->begin_rebuild = tb_begin_rebuild;
  c->load_side = tb_load_side;
  c->after_load = tb_after_load;
  c->finish_load = tb_finish_load;
  c->end_batch = tb_end_batch;
  c->settings_changed = tb_settings_changed;
}

typeid_t register_table() {
  return object_register_class("depthtbl", depthwin_child_type(), sizeof(depthtbl), tb_init, tb_fini,
                               sizeof(depthwin_child_class), tb_class_init, nullptr);
}

}  // namespace

typeid_t depthtbl_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_table);
}

void depthtbl_set_group(depthwin_child *c, uint32_t step) {
  md(c).group_step = step;
  md(c).half_step = step / 2;
}

const depthtbl_row *depthtbl_rows(depthwin_child *t, int list, uint32_t *count) {
  std::vector<depthtbl_row> &v = md(t).rows[list];
  *count = uint32_t(v.size());
  return v.data();
}

uint64_t depthtbl_total_volume(depthwin_child *t) {
  uint64_t n = 0;
  for (const depthtbl_row &r : md(t).rows[2]) n += r.volume;
  return n;
}

void depthtbl_accumulate(depthwin_child *t) {
  for (auto &v : md(t).rows) {
    uint64_t vol = 0, val = 0;
    for (depthtbl_row &r : v) {
      vol += r.volume;
      val += r.value;
      r.cum_volume = vol;
      r.cum_value = val;
    }
  }
}

uint64_t depthtbl_value(uint32_t multiplier, uint32_t price, uint64_t volume) {
  unsigned __int128 v = (unsigned __int128)(multiplier ? multiplier : 1) * price * volume * 100 / 10000;
  return v > UINT64_MAX ? 0 : uint64_t(v);
}

bool depthtbl_cell(depthwin_child *t, int col, uint32_t row, char *out, int cap) {
  model &m = md(t);
  int list = col < 9 ? 0 : col < 18 ? 1 : 2;
  if (row >= m.rows[list].size()) return false;
  const depthtbl_row &r = m.rows[list][row];
  uint64_t side_total = 0;
  for (const depthtbl_row &x : m.rows[list]) side_total += x.volume;
  const char *s = nullptr;
  auto pct = [&](uint64_t part, uint64_t whole) -> const char * {
    if (!whole) return nullptr;
    return fmt_percent_whole(float(double(part) * 100.0 / double(whole)));
  };
  switch (col) {
    case 0: case 17: s = fmt_money(r.cum_value); break;
    case 1: case 16: s = fmt_volume(r.cum_volume); break;
    case 2: case 15: s = fmt_volume_short(r.cum_volume); break;
    case 3: case 14: s = pct(r.cum_volume, side_total); break;
    case 4: case 13: case 22: s = fmt_count(r.count); break;
    case 5: case 12: case 21: s = fmt_money(r.value); break;
    case 6: case 10: case 19: s = fmt_volume(r.volume); break;
    case 7: case 11: case 20: s = fmt_volume_short(r.volume); break;
    case 8: case 9: case 18: s = fmt_price_small_cents(r.step); break;
    case 23: s = pct(r.volume, depthtbl_total_volume(t)); break;
    default: break;
  }
  if (!s) return false;
  snprintf(out, size_t(cap), "%s", s);
  return true;
}

uint64_t depthtbl_shown_columns(depthwin_child *t) { return md(t).columns; }

uint64_t depthtbl_fit_columns(int32_t width, int32_t digit, bool trades, bool special) {
  cols c;
  cols_init(&c, kWidths, kColumnSets);
  cols_set_hidden(&c, hidden_columns(trades, special));
  cols_fit_metrics(&c, 0, width, digit, digit);
  return c.shown;
}

const char *depthtbl_tooltip(int col) { return col >= 0 && col < kDepthTableColumns ? kTips[col] : nullptr; }

int depthtbl_column_at(widget *w, int32_t x) {
  if (!w || !object_is_a(reinterpret_cast<object *>(w), depthtbl_type())) return -1;
  const cols &l = md(static_cast<depthwin_child *>(w)).layout;
  for (int col = 0; col < kDepthTableColumns; col++) {
    const cols_col &k = l.col[col];
    if (k.shown && k.width > 0 && x >= k.x0 && x <= k.x1) return col;
  }
  return -1;
}

bool depthtbl_column_span(depthwin_child *t, int col, int32_t *x0, int32_t *x1) {
  if (col < 0 || col >= kDepthTableColumns) return false;
  const cols_col &k = md(t).layout.col[col];
  if (!k.shown || k.width <= 0) return false;
  *x0 = k.x0;
  *x1 = k.x1;
  return true;
}

const cols *depthtbl_layout(depthwin_child *t) { return &md(t).layout; }
