// The announcement history window. Rows exist only for the part of the
// filtered list on screen: a rebuild walks the issuer's items from the
// newest, counting rows (separators included) down to the window's
// selection, then takes row records until the widget is full. Rows are few,
// so they are drawn straight each frame rather than kept as drawing lists.
//
// Slots: geometry_changed, reqsize, draw, restyle, show_children,
// hide_children, release.
#include "windows/histnews.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "dalloc.h"
#include "dnd.h"
#include "export/clipboard.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "log.h"
#include "pool.h"
#include "popups/hover.h"
#include "popups/popups.h"
#include "ui/gui.h"
#include "popups/place.h"
#include "screen/screen.h"
#include "ssclient.h"
#include "ssnotify.h"
#include "sstime.h"
#include "style.h"
#include "tools/newstools.h"
#include "undo.h"
#include "windows/content.h"
#include "windows/docwin.h"
#include "windows/window.h"

namespace {

constexpr uint32_t kStockMask = 0x21A10;
constexpr uint32_t kIssuerMask = 0xC0000;
constexpr uint32_t kRebuildBits = 0x60002;
constexpr uint32_t kTodayBits = 0x1A10;
constexpr colour kStrike = 0xFF0000FFu;
constexpr uint32_t kRepeatAlpha = 0x3C;
constexpr int32_t kRowsPerPage = 100;

constexpr int32_t kCodes[] = {11, 6, 7, 6, 7, kColsStretch + 50, 7, 7, 7, 7, 13, 0};
// Narrow windows drop the day's range and volume first, then the change
// columns, keeping date and headline.
constexpr uint64_t kMasks[] = {0x7FF, 0x3F, 0x27, 0x21, 0};

constexpr uint32_t kCommonCodes[] = {13, 14, 18, 59, 60, 171, 174};

struct state {
  pool rows;
  int instances = 0;
  news_open_request last_open{};
  histnews_requests requests{ssclient_request_stock_history, ssclient_request_history};
};
state S;

histnews *cast(widget *w) { return histnews_is(w) ? static_cast<histnews *>(w) : nullptr; }
const histnews *cast(const widget *w) { return histnews_is(w) ? static_cast<const histnews *>(w) : nullptr; }
window *owner(histnews *h) { return h->parent && window_is(h->parent) ? static_cast<window *>(h->parent) : nullptr; }
bool shown(const widget *w) { return (w->flags & WIDGET_SHOWN) != 0; }

bool same_month(ss_time a, ss_time b) {
  sstime_parts pa{}, pb{};
  sstime_unpack(&pa, a);
  sstime_unpack(&pb, b);
  return pa.mon == pb.mon && pa.year == pb.year;
}

int year_of(ss_time t) {
  sstime_parts p{};
  sstime_unpack(&p, t);
  return p.year;
}

void free_rows(histnews *h) {
  for (histnews_row *r = h->rows; r;) {
    histnews_row *next = r->next;
    pool_free(&S.rows, r);
    r = next;
  }
  h->rows = nullptr;
}

void take_today(histnews *h) {
  h->today = {};
  ss_stock *s = h->stock;
  if (!s) return;
  h->today.date = s->exchange ? s->exchange->date : 0;
  h->today.open = s->open;
  h->today.high = s->high;
  h->today.low = s->low;
  h->today.close = s->last;
  h->today.change = s->change;
  h->today.volume = s->volume;
}

bool shows(const histnews *h, const ss_news *it) { return it->time != 0 && news_filter_pass(&h->filter, it); }

// Calls fn(item, is_separator) for each row of the filtered list, newest
// first; fn returns false to stop.
template <class Fn>
void walk(const histnews *h, Fn fn) {
  if (!h->issuer) return;
  const ss_news *prev = nullptr;
  for (const ss_news *it = h->issuer->news.tail; it; it = it->prev) {
    if (!shows(h, it)) continue;
    if (!prev || !same_month(prev->time, it->time))
      if (!fn(it, true)) return;
    if (!fn(it, false)) return;
    prev = it;
  }
}

int32_t rows_fitting(const histnews *h) { return h->row_height > 0 ? h->r.h / h->row_height : 0; }

void rebuild(histnews *h) {
  if (h->rebuilding) return;
  h->rebuilding = 1;
  free_rows(h);
  h->total_rows = 0;
  h->first_time = h->last_time = 0;
  h->top_time = 0;
  if (!h->issuer) {
    h->rebuilding = 0;
    widget_redraw(h);
    return;
  }
  window *w = owner(h);
  int32_t first = w ? static_cast<int32_t>(window_get_selection(w)) : 0;
  int32_t index = 0, y = 0;
  bool failed = false;
  histnews_row **tail = &h->rows;
  walk(h, [&](const ss_news *it, bool separator) {
    int32_t i = index++;
    if (failed || i < first || y >= h->r.h) return true;  // only counted
    auto *row = static_cast<histnews_row *>(pool_alloc(&S.rows));
    if (!row) {
      log(LOG_ERROR, "histnews", "can't alloc news row");
      failed = true;
      return true;
    }
    memset(static_cast<void *>(row), 0, sizeof *row);
    row->y = y;
    y += h->row_height;
    if (!separator) {
      row->item = const_cast<ss_news *>(it);
      row->day = histnews_day_for(h, it->time, &row->own_day);
      if (!h->top_time) h->top_time = it->time;
      if (!h->first_time) h->first_time = it->time;
      h->last_time = it->time;
    }
    *tail = row;
    tail = &row->next;
    return true;
  });
  h->total_rows = index;
  if (w) {
    // Never below 0: the window's scrolling takes a count, not a debt.
    int32_t limit = index + 2 - rows_fitting(h);
    window_set_row_count(w, limit < 0 ? 0 : limit);
    if (window_get_show_tools(w))
      histnewstools_set_marker(window_get_tools(w, kRoleHistnews), h->first_time, h->last_time);
  }
  h->rebuilding = 0;
  widget_redraw(h);
}

void ask_history(histnews *h) {
  if (h->stock && !(h->stock->flags & kInHistory)) S.requests.stock_history(h->stock);
  if (h->issuer && !(h->issuer->flags & kInHistory)) S.requests.history(h->issuer);
}

void on_change(const ss_change *c, void *own, uint64_t, uint32_t) {
  auto *h = static_cast<histnews *>(own);
  if (!shown(h)) {
    if (c->mask & kRebuildBits) free_rows(h);
    return;
  }
  if (c->mask & kRebuildBits) {
    rebuild(h);
  } else if (c->mask & kTodayBits) {
    take_today(h);
    for (histnews_row *r = h->rows; r; r = r->next)
      if (r->day == &h->today) r->dirty = 1;
    widget_redraw(h);
  }
}

void refilter_after_change(histnews *h) {
  if (!shown(h) || !h->issuer) return;
  if (h->top_time)
    histnews_refilter(h, h->top_time);
  else
    rebuild(h);
}

// Drawing ---------------------------------------------------------------------

struct palette {
  colour bg, text, sep, grid, highlight, up, down;
  int32_t font;
};

palette colours() {
  const style *st = style_cur();
  palette p{};
  auto c = [&](int field, colour fallback) { return st ? style_colour(st, field) | 0xff000000u : fallback; };
  p.bg = c(SC_BACKGROUND, 0xffffffffu);
  p.text = c(SC_TEXT, 0xff000000u);
  p.sep = c(SC_PANEL, 0xffd0d0d0u);
  p.grid = c(SC_GRID, 0xffc0c0c0u);
  p.highlight = c(SC_SELECTION, 0xffc0e0ffu);
  p.up = c(SC_UP, 0xff00a000u);
  p.down = c(SC_DOWN, 0xff0000c0u);
  p.font = st ? st->font[0] : 0;
  return p;
}

// A cell within its column: figures right-aligned in the value font (its
// small digits draw the cents), dates and times centred in the row font.
void cell(const cols_col &c, const char *text, int32_t cy, int32_t font, colour col, bool right) {
  if (!c.shown || !text || !*text) return;
  const style *st = style_cur();
  int32_t value_font = st ? st->font[1] : 5;
  if (right)
    font_draw(cols_cell_text(text, value_font, c.width - 6, true), c.x1 - 3, cy, 0x41, value_font, col, nullptr);
  else
    font_draw(cols_cell_text(text, font, c.width - 2, false), c.x0 + c.width / 2, cy, 0x42, font, col, nullptr);
}

colour with_alpha(colour c, uint32_t a) { return (c & 0x00ffffffu) | (a << 24); }

void draw_headline(const histnews *h, const ss_news *it, int32_t cy, int32_t font, colour col) {
  const cols_col &c = h->columns.col[kHnHeadline];
  if (!c.shown) return;
  char text[kNewsHeadlineScan + 1];
  snprintf(text, sizeof text, "%.79s", it->headline);
  int32_t room = c.width - 6;
  size_t n = strlen(text);
  int32_t sz[2] = {0, 0};
  for (;;) {
    font_text_size(sz, font, text);
    if (sz[0] <= room || n == 0) break;
    text[--n] = 0;
  }
  rect out{};
  font_draw(text, c.x0 + 3, cy, 0x40, font, col, &out);
  if (it->flags & kNewsWithdrawn) gfx_fill_rect(c.x0 + 3, cy, sz[0], 1, kStrike);
}

void hn_draw(widget *self) {
  const window_frame_guard frame(self);  // the window's edges, painted over, come back
  auto *h = static_cast<histnews *>(self);
  palette p = colours();
  const rect &a = h->r;
  gfx_fill_rect(a.x, a.y, a.w, a.h, p.bg);
  if (!h->issuer) return;
  rect previous;
  gfx_set_clip(&a, &previous);
  const cols_col *col = h->columns.col;
  const ss_stock_point *prev_day = nullptr;
  int last_year = 0;
  for (histnews_row *r = h->rows; r; r = r->next) {
    int32_t top = a.y + r->y, cy = top + h->row_height / 2;
    r->dirty = 0;
    if (!r->item) {
      gfx_fill_rect(a.x, top, a.w, h->row_height, p.sep);
      const histnews_row *below = r->next;
      if (below && below->item && col[kHnHeadline].shown) {
        ss_time t = below->item->time;
        font_draw(fmt_month(t), col[kHnHeadline].x0 + 3, cy, 0x40, p.font, p.text, nullptr);
        if (year_of(t) != last_year) font_draw(fmt_year(t), col[kHnHeadline].x0 - 4, cy, 0x41, p.font, p.text, nullptr);
      }
      continue;
    }
    const ss_news *it = r->item;
    last_year = year_of(it->time);
    if (it->flags & kNewsSensitive) gfx_fill_rect(a.x, top, a.w, h->row_height, p.highlight);
    cell(col[kHnDate], fmt_date(it->time), cy, p.font, p.text, false);
    cell(col[kHnTime], fmt_time_hm(it->time), cy, p.font, p.text, false);
    draw_headline(h, it, cy, p.font, p.text);
    if (const ss_stock_point *d = r->day) {
      // The same day's values once at full strength, then faint.
      bool repeat = prev_day && prev_day->date == d->date;
      uint32_t alpha = repeat ? kRepeatAlpha : 0xff;
      colour text = with_alpha(p.text, alpha);
      colour sign = with_alpha(d->change > 0 ? p.up : d->change < 0 ? p.down : p.text, alpha);
      cell(col[kHnFirst], fmt_price_small_cents(d->close - static_cast<uint32_t>(d->change)), cy, p.font, text, true);
      cell(col[kHnLow], fmt_price_small_cents(d->low), cy, p.font, text, true);
      cell(col[kHnHigh], fmt_price_small_cents(d->high), cy, p.font, text, true);
      cell(col[kHnLast], fmt_price_small_cents(d->close), cy, p.font, text, true);
      cell(col[kHnLast2], fmt_price_small_cents(d->close), cy, p.font, text, true);
      cell(col[kHnVolume], fmt_volume(d->volume), cy, p.font, text, true);
      cell(col[kHnChange], fmt_change(d->change), cy, p.font, sign, true);
      int32_t pct;
      if (news_percent_change(d->change, d->close, &pct)) cell(col[kHnPercent], fmt_change_percent(pct), cy, p.font, sign, true);
      prev_day = d;
    }
  }
  gfx_begin_lines(p.grid);
  for (histnews_row *r = h->rows; r; r = r->next) {
    int32_t y = a.y + r->y + h->row_height - 1;
    gfx_line(a.x, y, a.x + a.w, y);
  }
  gfx_end_lines();
  gfx_set_clip(&previous, nullptr);
}

// Class --------------------------------------------------------------------------

void set_row_height(histnews *h) {
  const style *st = style_cur();
  h->row_height = st ? st->line_height : 16;
}

void hn_init(object *o) {
  auto *h = reinterpret_cast<histnews *>(o);
  if (S.instances++ == 0) pool_init(&S.rows, kRowsPerPage, sizeof(histnews_row));
  news_filter_defaults(&h->filter);
  cols_init(&h->columns, kCodes, kMasks);
  set_row_height(h);
}

void hn_fini(object *o) {
  auto *h = reinterpret_cast<histnews *>(o);
  if (h->stock) ssnotify_remove(h->stock, h);
  if (h->issuer) ssnotify_remove(h->issuer, h);
  free_rows(h);
  cols_fini(&h->columns);
  if (--S.instances == 0) pool_destroy(&S.rows);
}

void hn_geometry_changed(widget *self) {
  auto *h = static_cast<histnews *>(self);
  const style *st = style_cur();
  cols_fit(&h->columns, h->r.x, h->r.w, st ? st->font[0] : 0);
  if (shown(h)) rebuild(h);
}

void hn_reqsize(widget *, size *out) { *out = {0, 0}; }

void hn_restyle(widget *self) {
  auto *h = static_cast<histnews *>(self);
  set_row_height(h);
  if (shown(h)) rebuild(h);
}

void hn_show(widget *self) {
  auto *h = static_cast<histnews *>(self);
  ask_history(h);
  rebuild(h);
}

void hn_hide(widget *self) { free_rows(static_cast<histnews *>(self)); }

void hn_release(widget *self, int32_t x, int32_t y, int button) {
  auto *h = static_cast<histnews *>(self);
  if (button != 1 || x < h->r.x || x >= h->r.x + h->r.w) return;
  for (histnews_row *r = h->rows; r; r = r->next)
    if (r->item && y >= h->r.y + r->y && y < h->r.y + r->y + h->row_height) {
      news_open_item(h, h->issuer, r->item);
      return;
    }
}

// Hover: a slow pointer opens a chart of the stock around the row's day
// (a separator row: the day of the row below it) with the window's news
// filters for its marks; a fast one or leaving closes it.
void hn_motion(widget *self, int32_t x, int32_t y) {
  auto *h = static_cast<histnews *>(self);
  const style *st = style_cur();
  const float open_below = st ? st->real[1] : 2.0f, close_at = st ? st->real[0] : 7.0f;
  const float speed = gui_mouse_speed();
  histnews_row *r = nullptr;
  if (x >= h->r.x && x < h->r.x + h->r.w)
    for (histnews_row *p = h->rows; p; p = p->next)
      if (y >= h->r.y + p->y && y < h->r.y + p->y + h->row_height) r = p;
  if (speed >= close_at || !r) {
    popups_hover_end(h);
    return;
  }
  const ss_news *it = r->item ? r->item : (r->next ? r->next->item : nullptr);
  if (speed >= open_below || !it || !h->stock) return;
  const rect cell = {h->r.x, h->r.y + r->y, h->r.w, h->row_height};
  popups_set_owner(h);
  popups_set_anchor_rect(&cell, kSideCentre | kSideBelow, 0);
  popups_push_chart_at(h->stock, it->time, it->time, int(h->filter.sensitive_only), int(h->filter.common),
                       int(h->filter.related));
}

void hn_leave(widget *self) { popups_hover_end(self); }

int hn_drag_begin(widget *self, int32_t x, int32_t y, int, drag_record *) {
  auto *h = static_cast<histnews *>(self);
  if (x < h->r.x || x >= h->r.x + h->r.w) return 0;
  for (histnews_row *r = h->rows; r; r = r->next)
    if (r->item && y >= h->r.y + r->y && y < h->r.y + r->y + h->row_height) {
      dnd_begin_news(h->issuer, r->item);
      return 1;
    }
  return 0;
}

void take_instr(widget *w, instr *in);

void hn_class_init(object_class *rec) {
  auto *c = static_cast<content_class *>(rec);
  c->set_instr = take_instr;
  c->geometry_changed = hn_geometry_changed;
  c->reqsize = hn_reqsize;
  c->draw = hn_draw;
  c->restyle = hn_restyle;
  c->show_children = hn_show;
  c->hide_children = hn_hide;
  c->release = hn_release;
  c->drag_begin = hn_drag_begin;
  c->motion = hn_motion;
  c->leave = hn_leave;
}

// Undo (type 37): the three flags, the keyword and the scroll position.
struct saved_filter {
  news_filter filter;
  uint32_t selection;
};

void *hn_undo_save(void *object) {
  histnews *h = cast(static_cast<widget *>(object));
  if (!h) return nullptr;
  auto *v = static_cast<saved_filter *>(dalloc_alloc(sizeof(saved_filter)));
  window *w = owner(h);
  *v = {h->filter, w ? window_get_selection(w) : 0};
  return v;
}

int hn_undo_restore(void *saved, void *object) {
  histnews *h = cast(static_cast<widget *>(object));
  if (!h) return -1;
  auto *v = static_cast<saved_filter *>(saved);
  h->filter = v->filter;
  if (window *w = owner(h)) {
    int32_t row = int32_t(v->selection), limit = int32_t(window_get_row_count(w));
    window_set_row_count(w, limit < row ? row : limit);
    window_select_row(w, row);
  }
  if (shown(h)) rebuild(h);
  if (window *w = owner(h)) window_update_title(w);
  return 0;
}

void hn_undo_release(void *saved, int) { dalloc_free(saved); }

const undo_record_ops kUndoOps = {hn_undo_save, hn_undo_restore, hn_undo_release};

typeid_t register_histnews() {
  undo_register_type(UNDO_HISTNEWS, &kUndoOps);
  return object_register_class("histnews", content_type(), sizeof(histnews), hn_init, hn_fini, sizeof(content_class),
                               hn_class_init, nullptr);
}

void take_instr(widget *w, instr *in) {
  if (!in) {
    histnews_bind_instr(w, nullptr, nullptr);
  } else if (in->kind == kKindStock) {
    histnews_set_instr(w, static_cast<ss_stock *>(in));
  } else if (in->kind == kKindIssuer) {
    histnews_set_issuer(w, static_cast<ss_issuer *>(in));
  }
}

}  // namespace

// The shared filter ----------------------------------------------------------------

void news_filter_defaults(news_filter *f) {
  memset(f, 0, sizeof *f);
  f->common = 1;
  f->related = 1;
}

void news_filter_set_keyword(news_filter *f, const char *text) {
  snprintf(f->keyword, sizeof f->keyword, "%s", text ? text : "");
  for (int i = 0; i < kNewsKeywordLen; i++)
    f->keyword_upper[i] = static_cast<char>(toupper(static_cast<unsigned char>(f->keyword[i])));
  f->has_keyword = f->keyword[0] != 0;
}

bool news_is_common(const ss_news *it) {
  if (it->codes[0] == 0) return false;
  for (int i = 0; i < kNewsCodes && it->codes[i]; i++) {
    bool common = false;
    for (uint32_t c : kCommonCodes) common |= it->codes[i] == c;
    if (!common) return false;
  }
  return true;
}

bool news_filter_pass(const news_filter *f, const ss_news *it) {
  bool sensitive = (it->flags & kNewsSensitive) != 0;
  if (f->sensitive_only && !sensitive) return false;
  if (!f->common && !sensitive && news_is_common(it)) return false;
  if (!f->related && (it->flags & kNewsRelated)) return false;
  if (f->has_keyword) {
    char head[kNewsHeadlineScan + 1];
    size_t n = 0;
    for (; n < kNewsHeadlineScan && it->headline[n]; n++)
      head[n] = static_cast<char>(toupper(static_cast<unsigned char>(it->headline[n])));
    head[n] = 0;
    if (!strstr(head, f->keyword_upper)) return false;
  }
  return true;
}

bool news_percent_change(int32_t change, uint32_t close, int32_t *out) {
  int64_t base = static_cast<int64_t>(close) - change;
  if (close == 0 || base == 0) return false;
  int64_t v = static_cast<int64_t>(change) * 10000 / base;
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  *out = static_cast<int32_t>(v);
  return true;
}

// Opening items ------------------------------------------------------------------

// The screen's popup document shows the item from its first page.
static void show_news_popup(ss_issuer *issuer, const ss_news *item) {
  if (screen_current() && screen_popup_document()) screen_show_news_popup(issuer, item, 0);
}

void news_open_item(widget *from, ss_issuer *issuer, const ss_news *item) {
  if (!issuer || !item) return;
  window *w = from && from->parent && window_is(from->parent) ? static_cast<window *>(from->parent) : nullptr;
  screen *s = screen_current();
  bool own = w && s && (s->bars & BAR_ZOOM);
  S.last_open = {issuer, item->number, own ? 0 : 1};
  log(LOG_INFO, "histnews", "open %s news item %u", issuer->code, item->number);
  if (own) {
    undo_push_window(w);
    window_show_news_item(w, issuer, item);
  } else {
    show_news_popup(issuer, item);
  }
}

const news_open_request *news_last_open(void) { return &S.last_open; }

void histnews_set_requests(const histnews_requests *r) {
  S.requests = r ? *r : histnews_requests{ssclient_request_stock_history, ssclient_request_history};
}

// The window ---------------------------------------------------------------------

typeid_t histnews_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_histnews);
}

bool histnews_is(const widget *w) { return w && object_is_a(reinterpret_cast<const object *>(w), histnews_type()); }

widget *histnews_new(widget *parent) {
  return widget_new(parent, histnews_type());
}

void histnews_set_instr(widget *w, ss_stock *stock) {
  ss_issuer *issuer = stock && stock->exchange ? ssmodel_find_issuer(stock->exchange, stock->code) : nullptr;
  histnews_bind_instr(w, issuer, stock);
}

void histnews_set_issuer(widget *w, ss_issuer *issuer) {
  ss_stock *stock = issuer && issuer->exchange ? ssmodel_find_stock(issuer->exchange, issuer->code) : nullptr;
  histnews_bind_instr(w, issuer, stock);
}

void histnews_bind_instr(widget *w, ss_issuer *issuer, ss_stock *stock) {
  histnews *h = cast(w);
  if (!h) return;
  if (h->stock) ssnotify_remove(h->stock, h);
  if (h->issuer) ssnotify_remove(h->issuer, h);
  h->stock = stock;
  h->issuer = issuer;
  if (stock) ssnotify_add(stock, kStockMask, on_change, h, 0, 0);
  if (issuer) ssnotify_add(issuer, kIssuerMask, on_change, h, 0, 0);
  take_today(h);
  if (shown(h)) ask_history(h);
  if (window *win = owner(h)) window_select_row(win, 0);
  if (shown(h) && issuer && (issuer->flags & kInHistory))
    rebuild(h);
  else
    free_rows(h);
  if (window *win = owner(h)) histnewstools_set_instrument(window_get_tools(win, kRoleHistnews), stock);
  widget_redraw(h);
}

instr *histnews_get_instr(const widget *w) {
  const histnews *h = cast(w);
  return h ? h->issuer : nullptr;
}

void histnews_set_sensitive_only(widget *w, uint32_t on) {
  if (histnews *h = cast(w)) {
    h->filter.sensitive_only = on ? 1 : 0;
    refilter_after_change(h);
  }
}

void histnews_set_common(widget *w, uint32_t on) {
  if (histnews *h = cast(w)) {
    h->filter.common = on ? 1 : 0;
    refilter_after_change(h);
  }
}

void histnews_set_related(widget *w, uint32_t on) {
  if (histnews *h = cast(w)) {
    h->filter.related = on ? 1 : 0;
    refilter_after_change(h);
  }
}

void histnews_set_keyword(widget *w, const char *text) {
  if (histnews *h = cast(w)) {
    news_filter_set_keyword(&h->filter, text);
    refilter_after_change(h);
  }
}

void histnews_clear_keyword(widget *w) { histnews_set_keyword(w, ""); }

uint32_t histnews_get_sensitive_only(const widget *w) { return cast(w) ? cast(w)->filter.sensitive_only : 0; }
uint32_t histnews_get_common(const widget *w) { return cast(w) ? cast(w)->filter.common : 1; }
uint32_t histnews_get_related(const widget *w) { return cast(w) ? cast(w)->filter.related : 1; }
bool histnews_has_keyword(const widget *w) { return cast(w) && cast(w)->filter.has_keyword; }
const char *histnews_get_keyword(const widget *w) {
  return histnews_has_keyword(w) ? cast(w)->filter.keyword : nullptr;
}
const char *histnews_get_keyword_upper(const widget *w) {
  return histnews_has_keyword(w) ? cast(w)->filter.keyword_upper : nullptr;
}

void histnews_copy(widget *w, const widget *from) {
  histnews *h = cast(w);
  const histnews *src = cast(from);
  if (!h || !src || h == src) return;
  h->filter = src->filter;
  refilter_after_change(h);
}

ss_time histnews_get_top_time(const widget *w) {
  const histnews *h = cast(w);
  if (!h || !h->rows || !h->rows->item) return 0;
  return h->rows->item->time;
}

void histnews_refilter(widget *w, ss_time time) {
  histnews *h = cast(w);
  if (!h) return;
  window *win = owner(h);
  if (!h->issuer || time == 0) {
    if (win) window_select_row(win, 0);
    if (shown(h)) rebuild(h);
    return;
  }
  int32_t index = 0, found = -1;
  walk(h, [&](const ss_news *it, bool separator) {
    // By date: a day start finds that day's items, not the day before's.
    if (!separator && (it->time & ~kSstimeSecondsMask) <= time) {
      found = index;
      return false;
    }
    index++;
    return true;
  });
  // Nothing at or before the time: the last row, not an empty view.
  int32_t row = found >= 0 ? found : (index > 0 ? index - 1 : 0);
  if (win) {
    // The count must allow the row before the selection can move there.
    int32_t limit = (found >= 0 ? index : row) + 2 - rows_fitting(h);
    window_set_row_count(win, limit < row ? row : limit);
    window_select_row(win, row);
  }
  if (shown(h)) rebuild(h);
}

void histnews_rebuild(widget *w) {
  if (histnews *h = cast(w)) rebuild(h);
}

namespace {

// The stock's history day of a date, walked from the newest day.
const ss_stock_point *history_day(const ss_stock *stock, ss_time date, ss_stock_point *copy) {
  const ss_stock_history *hist = stock ? stock->history : nullptr;
  if (!hist || !date) return nullptr;
  int32_t day = sstime_day_number(date);
  for (uint32_t i = hist->count; i-- > 0;) {
    int32_t d = sstime_day_number(hist->points[i].date);
    if (d == day) {
      *copy = hist->points[i];
      return copy;
    }
    if (d < day) break;
  }
  return nullptr;
}

}  // namespace

const ss_stock_point *histnews_day_for(histnews *h, ss_time date, ss_stock_point *copy) {
  if (!h->stock || !date) return nullptr;
  int32_t day = sstime_day_number(date);
  ss_exchange *ex = h->stock->exchange;
  if ((ex && ex->date && sstime_day_number(ex->date) == day) ||
      (h->stock->last_time && sstime_day_number(h->stock->last_time) == day))
    return &h->today;
  return history_day(h->stock, date, copy);
}

const char *histnews_export(widget *w) {
  histnews *h = cast(w);
  if (!h) return "";
  const cols_col *c = h->columns.col;
  clipboard_reset();
  clipboard_new_row();
  static const struct {
    int col;
    const char *title;
  } kHeader[] = {{kHnDate, "Date"},   {kHnTime, "Time"},       {kHnLast, "Last"},      {kHnChange, "Change"},
                 {kHnPercent, "% Change"}, {kHnHeadline, "Headline"}, {kHnHeadline, "Sensitive"},
                 {kHnFirst, "First"}, {kHnLow, "Low"},          {kHnHigh, "High"},      {kHnLast2, "Last"},
                 {kHnVolume, "Volume"}};
  for (auto &hd : kHeader)
    if (c[hd.col].shown) clipboard_add_cell(hd.title);
  clipboard_end_row();
  if (h->issuer) {
    for (const ss_news *it = h->issuer->news.tail; it; it = it->prev) {
      ss_stock_point copy{};
      const ss_stock_point *d = history_day(h->stock, it->time, &copy);
      char date[16] = "", time[16] = "", pct[24] = "";
      if (it->time) {
        sstime_parts p{};
        sstime_unpack(&p, it->time);
        snprintf(date, sizeof date, "%04d-%02d-%02d", p.year, p.mon, p.mday);
        snprintf(time, sizeof time, "%d:%02d:%02d", p.hour, p.min, p.sec);
      }
      int32_t v;
      if (d && news_percent_change(d->change, d->close, &v)) snprintf(pct, sizeof pct, "%s%%", fmt_percent_change_trimmed(v));
      auto price = [&](uint32_t x) { return d ? fmt_price(x) : ""; };
      clipboard_new_row();
      if (c[kHnDate].shown) clipboard_add_cell(date);
      if (c[kHnTime].shown) clipboard_add_cell(time);
      if (c[kHnLast].shown) clipboard_add_cell(price(d ? d->close : 0));
      if (c[kHnChange].shown) clipboard_add_cell(d ? fmt_change_trimmed(d->change) : "");
      if (c[kHnPercent].shown) clipboard_add_cell(pct);
      if (c[kHnHeadline].shown) {
        clipboard_add_cell(it->headline);
        clipboard_add_cell((it->flags & kNewsSensitive) ? "Y" : "N");
      }
      if (c[kHnFirst].shown) clipboard_add_cell(price(d ? d->close - static_cast<uint32_t>(d->change) : 0));
      if (c[kHnLow].shown) clipboard_add_cell(price(d ? d->low : 0));
      if (c[kHnHigh].shown) clipboard_add_cell(price(d ? d->high : 0));
      if (c[kHnLast2].shown) clipboard_add_cell(price(d ? d->close : 0));
      if (c[kHnVolume].shown) clipboard_add_cell(d ? fmt_volume(d->volume) : "");
      clipboard_end_row();
    }
  }
  clipboard_put_text();
  return clipboard_text();
}

void histnews_config_save(widget *w) {
  histnews *h = cast(w);
  if (!h) return;
  config_printf("histnews.sensitive_only %b", h->filter.sensitive_only);
  config_printf("histnews.common %b", h->filter.common);
  config_printf("histnews.related %b", h->filter.related);
  if (h->filter.has_keyword) config_printf("histnews.keyword %s", h->filter.keyword);
}

void histnews_config_load(widget *w) {
  histnews *h = cast(w);
  if (!h) return;
  if (config_get("histnews.sensitive_only")) h->filter.sensitive_only = config_get_bool("histnews.sensitive_only");
  if (config_get("histnews.common")) h->filter.common = config_get_bool("histnews.common");
  if (config_get("histnews.related")) h->filter.related = config_get_bool("histnews.related");
  const char *k = config_get_string("histnews.keyword");
  news_filter_set_keyword(&h->filter, k ? k : "");
  refilter_after_change(h);
}
