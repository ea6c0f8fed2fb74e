// Today's announcements window. The rows come from a merge of the included
// exchanges' day lists (each oldest first, walked from its newest end): at
// each step the head with the greatest time less its exchange's time base
// wins, the lower exchange on a tie. The window asks for nothing; the day's
// announcements arrive with the market data and a change of any instrument
// may touch a row, so it listens to all of them while shown.
//
// Slots: geometry_changed, reqsize, draw, restyle, show_children,
// hide_children, release.
#include "windows/newstoday.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "dalloc.h"
#include "dnd.h"
#include "export/clipboard.h"
#include "lib/filter.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/timer.h"
#include "log.h"
#include "pool.h"
#include "sscodes.h"
#include "ssnotify.h"
#include "ssstate.h"
#include "sstime.h"
#include "ssuser.h"
#include "style.h"
#include "tools/tools.h"
#include "popups/hover.h"
#include "popups/place.h"
#include "popups/popups.h"
#include "ui/gui.h"
#include "undo.h"
#include "windows/content.h"
#include "windows/window.h"

namespace {

constexpr uint32_t kWildMask = 0xA0080005u;
constexpr uint32_t kRebuildBit = 0x80000000u;
constexpr uint32_t kNewsBit = 0x80000u;
constexpr colour kStrike = 0xFF0000FFu;
constexpr int32_t kRowsPerPage = 100;

constexpr int32_t kCodes[] = {6, kColsEm + 12, kColsEm + 5, 7, 7, 8, kColsStretch + 50, 10, 4, 7, 7, 7, 7, 13, 0};
// Narrow windows drop the day's range, volume, bases and state first, then
// the company name and the change columns.
constexpr uint64_t kMasks[] = {0x3FFF, 0x7F, 0x7D, 0x45, 0};

constexpr const char *kTips[kNtColumns] = {
    "Time",         "Short Company Name",       "Code",         "Last Traded Price Today",
    "Change Today", "Percent Change Today",     "Announcement Summary", "Quote Bases",
    "State, if different from Market", "First Traded Price", "Lowest Traded Price", "Highest Traded Price",
    "Last Traded Price Today", "Total Volume Today"};

struct state {
  pool rows;
  int instances = 0;
};
state S;

newstoday *cast(widget *w) { return newstoday_is(w) ? static_cast<newstoday *>(w) : nullptr; }
const newstoday *cast(const widget *w) { return newstoday_is(w) ? static_cast<const newstoday *>(w) : nullptr; }
window *owner(newstoday *n) { return n->parent && window_is(n->parent) ? static_cast<window *>(n->parent) : nullptr; }
bool shown(const widget *w) { return (w->flags & WIDGET_SHOWN) != 0; }

void stop_flashes(newstoday *n) {
  fade_stop_owner(&n->fades);
  // Forgotten, not only cleared: the rows go back to the pool, and a fade
  // left running while the gui quits would keep naming them.
  for (newstoday_row *r = n->rows; r; r = r->next) {
    fade_forget(&r->flash);
    fade_clear(&r->flash);
  }
  if (n->flash_timer >= 0) timer_stop(n->flash_timer);
  n->flash_timer = -1;
}

void free_rows(newstoday *n) {
  stop_flashes(n);
  for (newstoday_row *r = n->rows; r;) {
    newstoday_row *next = r->next;
    pool_free(&S.rows, r);
    r = next;
  }
  n->rows = nullptr;
  n->row_count = 0;
}

int32_t rows_fitting(const newstoday *n) { return n->row_height > 0 ? n->r.h / n->row_height : 0; }

bool passes(const newstoday *n, const ss_news *it, const ss_issuer *issuer) {
  const news_filter &f = n->nf;
  // The keyword also keeps every announcement of the issuer whose code it is.
  if (f.has_keyword && strcmp(issuer->code, f.keyword_upper) == 0) {
    news_filter plain = f;
    plain.has_keyword = 0;
    if (!news_filter_pass(&plain, it)) return false;
  } else if (!news_filter_pass(&f, it)) {
    return false;
  }
  if (n->watchlists_only && !(issuer->flags & kInHeld)) return false;
  if (n->group_filter && !filter_is_empty(n->group_filter) &&
      !filter_match_issuer(n->group_filter, issuer))
    return false;
  return true;
}

struct head {
  const ss_exchange_news *entry;
  ss_issuer *issuer;
  ss_news *item;
  ss_time time;
};

// Finds the next usable entry of a list from cursor backwards, skipping
// entries that can't be shown (with their messages).
head next_head(ss_exchange *ex, const ss_exchange_news *&cursor) {
  while (cursor) {
    const ss_exchange_news *e = cursor;
    ss_issuer *issuer = ssmodel_find_issuer(ex, e->code);
    if (!issuer) {
      log(LOG_ERROR, "newstoday", "can't find %s news item", e->code);
      cursor = e->prev;
      continue;
    }
    ss_news *item = ssmodel_find_news(issuer, e->number);
    if (!item) {
      log(LOG_ERROR, "newstoday", "can't find %s news item %u", e->code, e->number);
      cursor = e->prev;
      continue;
    }
    ss_time t = item->time;
    if (!t) {
      log(LOG_WARN, "newstoday", "%s %u has no time", e->code, e->number);
      t = e->time;
    }
    if (!item->headline[0]) {
      log(LOG_ERROR, "newstoday", "%s %u has no summary?", e->code, e->number);
      cursor = e->prev;
      continue;
    }
    return {e, issuer, item, t};
  }
  return {};
}

void rebuild(newstoday *n) {
  n->rebuild_queued = 0;
  free_rows(n);
  const ss_exchange_news *cursor[kNewstodayExchanges] = {};
  head heads[kNewstodayExchanges] = {};
  int32_t day_mark = -1;
  for (int i = 0; i < kNewstodayExchanges; i++) {
    if (!n->exchanges[i]) continue;
    cursor[i] = n->exchanges[i]->news.tail;
    heads[i] = next_head(n->exchanges[i], cursor[i]);
    if (heads[i].entry) {
      int32_t d = sstime_day_number(heads[i].time);
      if (d > day_mark) day_mark = d;
    }
  }
  newstoday_row **tail = &n->rows;
  int32_t y = 0;
  bool failed = false;
  for (;;) {
    int win = -1;
    uint32_t best = 0;
    for (int i = 0; i < kNewstodayExchanges; i++) {
      if (!heads[i].entry) continue;
      uint32_t adjusted = heads[i].time - n->exchanges[i]->constant;
      if (win < 0 || adjusted > best) {
        win = i;
        best = adjusted;
      }
    }
    if (win < 0 || failed) break;
    head h = heads[win];
    cursor[win] = h.entry->prev;
    heads[win] = next_head(n->exchanges[win], cursor[win]);
    if (!passes(n, h.item, h.issuer)) continue;
    int32_t day = sstime_day_number(h.time);
    for (int part = day != day_mark ? 0 : 1; part < 2; part++) {
      auto *row = static_cast<newstoday_row *>(pool_alloc(&S.rows));
      if (!row) {
        log(LOG_ERROR, "newstoday", "can't alloc news row");
        failed = true;
        break;
      }
      memset(static_cast<void *>(row), 0, sizeof *row);
      row->y = y;
      y += n->row_height;
      row->time = h.time;
      row->exchange = static_cast<uint32_t>(win);
      if (part == 1) {
        row->item = h.item;
        row->issuer = h.issuer;
        row->stock = ssmodel_find_stock(n->exchanges[win], h.issuer->code);
      }
      *tail = row;
      tail = &row->next;
      n->row_count++;
    }
    day_mark = day;
  }
  if (window *w = owner(n)) {
    int32_t limit = n->row_count - rows_fitting(n);
    window_set_row_count(w, limit < 0 ? 0 : limit);
  }
  widget_redraw(n);
}

void queued_rebuild(void *arg, int) {
  auto *n = static_cast<newstoday *>(arg);
  if (n->rebuild_queued && shown(n)) rebuild(n);
  n->rebuild_queued = 0;
}

void queue_rebuild(newstoday *n) {
  n->row_count = 0;
  if (!shown(n) || n->rebuild_queued) return;
  n->rebuild_queued = 1;
  if (gui_promise(queued_rebuild, n, 0) != 0) rebuild(n);
}

int flash_tick(void *arg, uint32_t, int64_t, float) {
  auto *n = static_cast<newstoday *>(arg);
  widget_redraw(n);
  if (n->fades.running == 0) {
    n->flash_timer = -1;
    return 0;  // stops the timer
  }
  return 1;
}

void fade_done(fade_value *, void *arg, uint32_t) { widget_redraw(static_cast<newstoday *>(arg)); }

// A rebuild on news: every row above the newest one of its exchange seen
// before is a new announcement and flashes.
void rebuild_with_flashes(newstoday *n) {
  const ss_news *before[kNewstodayExchanges] = {};
  bool had_rows = n->rows != nullptr;
  for (newstoday_row *r = n->rows; r; r = r->next)
    if (r->item && !before[r->exchange]) before[r->exchange] = r->item;
  rebuild(n);
  if (!had_rows) return;
  const style *st = style_cur();
  bool done[kNewstodayExchanges] = {};
  bool started = false;
  for (newstoday_row *r = n->rows; r; r = r->next) {
    if (!r->item || done[r->exchange]) continue;
    if (r->item == before[r->exchange]) {
      done[r->exchange] = true;
      continue;
    }
    int32_t ramp = st ? st->ramp[(r->item->flags & kNewsSensitive) ? 4 : 11] : 0;
    if (fade_start_style(&r->flash, ramp, &n->fades, n, 0) == 0) started = true;
  }
  if (started && n->flash_timer < 0) n->flash_timer = timer_start(0, flash_tick, n, 0);
}

void on_change(const ss_change *c, void *own, uint64_t, uint32_t) {
  auto *n = static_cast<newstoday *>(own);
  if (!shown(n)) return;
  if (c->mask & kRebuildBit) {
    rebuild(n);
  } else if (c->mask & kNewsBit) {
    rebuild_with_flashes(n);
  } else {
    for (newstoday_row *r = n->rows; r; r = r->next) r->dirty = 1;
    widget_redraw(n);
  }
}

// Drawing -------------------------------------------------------------------------

// A cell's text within its column: figures (right-aligned) and times
// (centred) in the value font, whose small digits draw the cents; words in
// the row font. Nothing reaches past the column.
void cell(const cols_col &c, const char *text, int32_t cy, int32_t font, colour col, int align) {
  if (!c.shown || !text || !*text) return;
  const style *st = style_cur();
  int32_t value_font = st ? st->font[1] : 5, room = c.width - 6;
  if (align == 1)
    font_draw(cols_cell_text(text, value_font, room, true), c.x1 - 3, cy, 0x41, value_font, col, nullptr);
  else if (align == 2)
    font_draw(cols_cell_text(text, value_font, room, true), c.x0 + c.width / 2, cy, 0x42, value_font, col, nullptr);
  else
    font_draw(cols_cell_text(text, font, room, false), c.x0 + 3, cy, 0x40, font, col, nullptr);
}

const char *state_text(const ss_stock *s) {
  static char buf[32];
  buf[0] = 0;
  if (!s || !s->exchange || s->state == s->exchange->state || s->state == s->exchange->phase) return buf;
  const char *name = ssstate_short_name(s->state);
  if (!name) return buf;
  size_t i = 0;
  for (; name[i] && i + 1 < sizeof buf; i++) buf[i] = static_cast<char>(toupper(static_cast<unsigned char>(name[i])));
  buf[i] = 0;
  return buf;
}

const char *bases_text(const ss_stock *s) {
  static char buf[64];
  buf[0] = 0;
  if (!s || !s->exchange || !s->quote_basis) return buf;
  uint32_t size = sizeof buf;
  if (!sscodes_quote_basis_text(buf, &size, static_cast<int32_t>(s->exchange->index), s->quote_basis)) buf[0] = 0;
  return buf;
}

void nt_draw(widget *self) {
  const window_frame_guard frame(self);  // the window's edges, painted over, come back
  auto *n = static_cast<newstoday *>(self);
  const style *st = style_cur();
  auto c = [&](int field, colour fallback) { return st ? style_colour(st, field) | 0xff000000u : fallback; };
  colour bg = c(SC_BACKGROUND, 0xffffffffu), text = c(SC_TEXT, 0xff000000u), sep = c(SC_PANEL, 0xffd0d0d0u);
  colour grid = c(SC_GRID, 0xffc0c0c0u), hi = c(SC_SELECTION, 0xffc0e0ffu);
  colour up = c(SC_UP, 0xff00a000u), down = c(SC_DOWN, 0xff0000c0u);
  int32_t font = st ? st->font[0] : 0;
  const rect &a = n->r;
  gfx_fill_rect(a.x, a.y, a.w, a.h, bg);
  rect previous;
  gfx_set_clip(&a, &previous);
  const cols_col *col = n->columns.col;
  window *w = owner(n);
  int32_t first = w ? static_cast<int32_t>(window_get_selection(w)) : 0;
  int32_t index = 0, y = 0;
  for (newstoday_row *r = n->rows; r; r = r->next, index++) {
    if (index < first) continue;
    if (y >= a.h) break;
    r->y = y;
    int32_t top = a.y + y, cy = top + n->row_height / 2;
    y += n->row_height;
    r->dirty = 0;
    if (!r->item) {
      gfx_fill_rect(a.x, top, a.w, n->row_height, sep);
      if (col[kNtHeadline].shown) {
        sstime_parts p{};
        sstime_unpack(&p, r->time);
        char day[32];
        snprintf(day, sizeof day, "%d%s %s", p.mday, newstoday_ordinal(p.mday), fmt_month_short(r->time));
        font_draw(fmt_weekday(r->time), col[kNtHeadline].x0 + 3, cy, 0x40, font, text, nullptr);
        font_draw(day, col[kNtHeadline].x0 - 4, cy, 0x41, font, text, nullptr);
      }
      continue;
    }
    if (r->flash.state)
      gfx_fill_rect(a.x, top, a.w, n->row_height, r->flash.shown.c | 0xff000000u);
    else if (r->item->flags & kNewsSensitive)
      gfx_fill_rect(a.x, top, a.w, n->row_height, hi);
    cell(col[kNtTime], fmt_time_hm(r->time), cy, font, text, 2);
    const char *company = r->issuer->name1 && *r->issuer->name1 ? r->issuer->name1 : r->issuer->code;
    cell(col[kNtCompany], company, cy, font, text, 0);
    cell(col[kNtCode], r->issuer->code, cy, font, text, 0);
    if (col[kNtHeadline].shown) {
      char head[kNewsHeadlineScan + 1];
      snprintf(head, sizeof head, "%.79s", r->item->headline);
      size_t len = strlen(head);
      int32_t sz[2] = {0, 0};
      for (;;) {
        font_text_size(sz, font, head);
        if (sz[0] <= col[kNtHeadline].width - 6 || len == 0) break;
        head[--len] = 0;
      }
      font_draw(head, col[kNtHeadline].x0 + 3, cy, 0x40, font, text, nullptr);
      if (r->item->flags & kNewsWithdrawn) gfx_fill_rect(col[kNtHeadline].x0 + 3, cy, sz[0], 1, kStrike);
    }
    if (const ss_stock *s = r->stock) {
      colour sign = s->change > 0 ? up : s->change < 0 ? down : text;
      if (s->last) {
        cell(col[kNtLast], fmt_price_small_cents(s->last), cy, font, text, 1);
        cell(col[kNtLast2], fmt_price_small_cents(s->last), cy, font, text, 1);
        cell(col[kNtChange], fmt_change(s->change), cy, font, sign, 1);
        int32_t pct;
        if (news_percent_change(s->change, s->last, &pct)) cell(col[kNtPercent], fmt_change_percent(pct), cy, font, sign, 1);
      }
      cell(col[kNtQuoteBases], bases_text(s), cy, font, text, 0);
      cell(col[kNtState], state_text(s), cy, font, text, 0);
      if (s->open) cell(col[kNtFirst], fmt_price_small_cents(s->open), cy, font, text, 1);
      if (s->low) cell(col[kNtLow], fmt_price_small_cents(s->low), cy, font, text, 1);
      if (s->high) cell(col[kNtHigh], fmt_price_small_cents(s->high), cy, font, text, 1);
      if (s->volume) cell(col[kNtVolume], fmt_volume(s->volume), cy, font, text, 1);
    }
  }
  gfx_begin_lines(grid);
  for (int32_t ly = n->row_height - 1; ly < y; ly += n->row_height) gfx_line(a.x, a.y + ly, a.x + a.w, a.y + ly);
  gfx_end_lines();
  gfx_set_clip(&previous, nullptr);
}

// Class ------------------------------------------------------------------------------

void set_row_height(newstoday *n) {
  const style *st = style_cur();
  n->row_height = st ? st->line_height : 16;
}

void nt_init(object *o) {
  auto *n = reinterpret_cast<newstoday *>(o);
  if (S.instances++ == 0) pool_init(&S.rows, kRowsPerPage, sizeof(newstoday_row));
  news_filter_defaults(&n->nf);
  cols_init(&n->columns, kCodes, kMasks);
  n->flash_timer = -1;
  fade_owner_add(&n->fades, fade_done);
  set_row_height(n);
  for (int i = 0; i < kNewstodayExchanges; i++)
    n->exchanges[i] = ssuser_exchange_permitted(i) ? ssmodel_exchange(i) : nullptr;
}

void nt_fini(object *o) {
  auto *n = reinterpret_cast<newstoday *>(o);
  if (n->registered) ssnotify_remove_wild(n);
  n->registered = 0;
  free_rows(n);
  fade_owner_remove(&n->fades);
  if (n->group_filter) filter_free(n->group_filter);
  n->group_filter = nullptr;
  cols_fini(&n->columns);
  if (--S.instances == 0) pool_destroy(&S.rows);
}

void nt_geometry_changed(widget *self) {
  auto *n = static_cast<newstoday *>(self);
  const style *st = style_cur();
  cols_fit(&n->columns, n->r.x, n->r.w, st ? st->font[0] : 0);
}

void nt_reqsize(widget *, size *out) { *out = {0, 0}; }

void nt_restyle(widget *self) {
  auto *n = static_cast<newstoday *>(self);
  set_row_height(n);
  widget_redraw(n);
}

void nt_show(widget *self) {
  auto *n = static_cast<newstoday *>(self);
  if (!n->registered) {
    ssnotify_add_wild(kWildMask, on_change, n, 0, 0);
    n->registered = 1;
  }
  rebuild(n);
}

void nt_hide(widget *self) {
  auto *n = static_cast<newstoday *>(self);
  if (n->registered) ssnotify_remove_wild(n);
  n->registered = 0;
  free_rows(n);
}

// The row under a point and whether the point lies on the code side (the
// time, company and code columns).
newstoday_row *row_at(newstoday *n, int32_t x, int32_t y, bool *code_side) {
  if (x < n->r.x || x >= n->r.x + n->r.w || y < n->r.y) return nullptr;
  window *w = owner(n);
  int32_t first = w ? static_cast<int32_t>(window_get_selection(w)) : 0;
  int32_t index = 0;
  for (newstoday_row *r = n->rows; r; r = r->next, index++) {
    if (index < first || !r->item) continue;
    if (y < n->r.y + r->y || y >= n->r.y + r->y + n->row_height) continue;
    const cols_col &code = n->columns.col[kNtCode];
    *code_side = code.shown && x < code.x1;
    return r;
  }
  return nullptr;
}

void nt_release(widget *self, int32_t x, int32_t y, int button) {
  auto *n = static_cast<newstoday *>(self);
  bool code_side = false;
  newstoday_row *r = button == 1 ? row_at(n, x, y, &code_side) : nullptr;
  if (!r) return;
  window *w = owner(n);
  if (code_side) {
    // The code side: the window takes the stock in the depth role, one
    // undo step.
    if (r->stock && w) {
      undo_begin();
      undo_push_window(w);
      window_set_instrument(w, r->stock);
      window_set_role(w, kRoleDepth);
      undo_end();
    }
  } else {
    news_open_item(n, r->issuer, r->item);
  }
}

int nt_drag_begin(widget *self, int32_t x, int32_t y, int, drag_record *) {
  auto *n = static_cast<newstoday *>(self);
  bool code_side = false;
  newstoday_row *r = row_at(n, x, y, &code_side);
  if (!r) return 0;
  if (code_side) {
    if (!r->stock) return 0;
    dnd_begin_stock(r->stock);
  } else {
    dnd_begin_news(r->issuer, r->item);
  }
  return 1;
}

// Hover: a slow pointer opens the popup of the column under it (a chart
// around the announcement, the stock's depth, its auction, quote bases or
// state); a fast one, leaving or a press closes it.
void hide_popups(newstoday *n) {
  popups_hover_end(n);
  screen_hide_gendtl();
}

void nt_motion(widget *self, int32_t x, int32_t y) {
  auto *n = static_cast<newstoday *>(self);
  const style *st = style_cur();
  const float open_below = st ? st->real[1] : 2.0f, close_at = st ? st->real[0] : 7.0f;
  const float speed = gui_mouse_speed();
  bool code_side = false;
  newstoday_row *r = row_at(n, x, y, &code_side);
  if (speed >= close_at || !r || !r->stock) {
    if (speed >= close_at || !r) hide_popups(n);
    return;
  }
  if (speed >= open_below) return;
  int col = -1;
  for (int i = 0; i < kNtColumns; i++) {
    const cols_col &c = n->columns.col[i];
    if (c.shown && x >= c.x0 && x < c.x0 + c.width) col = i;
  }
  const rect cell = {n->r.x, n->r.y + r->y, n->r.w, n->row_height};
  const ss_stock *s = r->stock;
  const ss_exchange *ex = s->exchange;
  switch (col) {
    case kNtTime:
      popups_set_owner(n);
      popups_set_anchor_rect(&cell, kSideCentre | kSideBelow, 0);
      if (ex && sstime_day_number(r->time) == sstime_day_number(ex->date))
        popups_push_day_chart(r->stock, r->time);
      else
        popups_push_chart(r->stock, r->time, int(n->nf.sensitive_only), int(n->nf.common), int(n->nf.related));
      break;
    case kNtCode:
      popups_hover_row(n, &cell, r->stock);
      break;
    case kNtLast:
      if (s->auction.price) screen_show_gendtl_auction(x, y, r->stock);
      else hide_popups(n);
      break;
    case kNtQuoteBases:
      if (s->quote_basis && ex) screen_show_gendtl_flags2(x, y, ex->index, s->quote_basis);
      else hide_popups(n);
      break;
    case kNtState:
      if (ex && s->state != ex->state && s->state != ex->phase) screen_show_gendtl_value(x, y, s->state, s->resume_time);
      else hide_popups(n);
      break;
    default:
      hide_popups(n);
      break;
  }
}

void nt_leave(widget *self) { hide_popups(static_cast<newstoday *>(self)); }

void nt_class_init(object_class *rec) {
  // The window lists every issuer's news: the subject is only kept.
  auto *c = static_cast<content_class *>(rec);
  c->geometry_changed = nt_geometry_changed;
  c->reqsize = nt_reqsize;
  c->draw = nt_draw;
  c->restyle = nt_restyle;
  c->show_children = nt_show;
  c->hide_children = nt_hide;
  c->release = nt_release;
  c->drag_begin = nt_drag_begin;
  c->motion = nt_motion;
  c->leave = nt_leave;
}

// Undo (type 38): the filters, the exchanges shown and the watched-only flag.
struct saved_settings {
  news_filter nf;
  int exchange[kNewstodayExchanges];
  uint32_t watchlists_only;
};

void *nt_undo_save(void *object) {
  newstoday *n = cast(static_cast<widget *>(object));
  if (!n) return nullptr;
  auto *v = static_cast<saved_settings *>(dalloc_alloc(sizeof(saved_settings)));
  v->nf = n->nf;
  for (int i = 0; i < kNewstodayExchanges; i++) v->exchange[i] = n->exchanges[i] != nullptr;
  v->watchlists_only = n->watchlists_only;
  return v;
}

int nt_undo_restore(void *saved, void *object) {
  widget *w = static_cast<widget *>(object);
  if (!cast(w)) return -1;
  auto *v = static_cast<saved_settings *>(saved);
  newstoday_clear_exchanges(w);
  for (int i = 0; i < kNewstodayExchanges; i++)
    if (v->exchange[i]) newstoday_set_exchange_shown(w, i, 1);
  newstoday_set_common(w, v->nf.common);
  newstoday_set_related(w, v->nf.related);
  newstoday_set_sensitive_only(w, v->nf.sensitive_only);
  newstoday_set_watchlists_only(w, v->watchlists_only);
  newstoday_set_keyword(w, v->nf.has_keyword ? v->nf.keyword : "");
  if (window *win = owner(cast(w))) window_update_title(win);
  return 0;
}

void nt_undo_release(void *saved, int) { dalloc_free(saved); }

const undo_record_ops kUndoOps = {nt_undo_save, nt_undo_restore, nt_undo_release};

typeid_t register_newstoday() {
  undo_register_type(UNDO_NEWSTODAY, &kUndoOps);
  return object_register_class("newstoday", content_type(), sizeof(newstoday), nt_init, nt_fini,
                               sizeof(content_class), nt_class_init, nullptr);
}


}  // namespace

typeid_t newstoday_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_newstoday);
}

bool newstoday_is(const widget *w) { return w && object_is_a(reinterpret_cast<const object *>(w), newstoday_type()); }

widget *newstoday_new(widget *parent) {
  return widget_new(parent, newstoday_type());
}

#define NT_SETTER(name, field)                         \
  void newstoday_set_##name(widget *w, uint32_t on) { \
    if (newstoday *n = cast(w)) {                     \
      n->field = on ? 1 : 0;                          \
      queue_rebuild(n);                               \
    }                                                 \
  }
NT_SETTER(sensitive_only, nf.sensitive_only)
NT_SETTER(common, nf.common)
NT_SETTER(related, nf.related)
NT_SETTER(watchlists_only, watchlists_only)
#undef NT_SETTER

void newstoday_set_keyword(widget *w, const char *text) {
  if (newstoday *n = cast(w)) {
    news_filter_set_keyword(&n->nf, text);
    queue_rebuild(n);
  }
}

void newstoday_clear_keyword(widget *w) { newstoday_set_keyword(w, ""); }

uint32_t newstoday_get_sensitive_only(const widget *w) { return cast(w) ? cast(w)->nf.sensitive_only : 0; }
uint32_t newstoday_get_common(const widget *w) { return cast(w) ? cast(w)->nf.common : 1; }
uint32_t newstoday_get_related(const widget *w) { return cast(w) ? cast(w)->nf.related : 1; }
bool newstoday_has_keyword(const widget *w) { return cast(w) && cast(w)->nf.has_keyword; }
const char *newstoday_get_keyword(const widget *w) { return newstoday_has_keyword(w) ? cast(w)->nf.keyword : nullptr; }
const char *newstoday_get_keyword_upper(const widget *w) {
  return newstoday_has_keyword(w) ? cast(w)->nf.keyword_upper : nullptr;
}
uint32_t newstoday_get_watchlists_only(const widget *w) { return cast(w) ? cast(w)->watchlists_only : 0; }

void newstoday_set_exchange_shown(widget *w, int index, int on) {
  newstoday *n = cast(w);
  if (!n || index < 0 || index >= kNewstodayExchanges) return;
  if (on && !ssuser_exchange_permitted(index)) return;
  ss_exchange *want = on ? ssmodel_exchange(index) : nullptr;
  if (want == n->exchanges[index]) return;
  n->exchanges[index] = want;
  if (shown(n)) rebuild(n);
}

int newstoday_get_exchange_shown(const widget *w, int index) {
  const newstoday *n = cast(w);
  return n && index >= 0 && index < kNewstodayExchanges && n->exchanges[index] != nullptr;
}

void newstoday_hide_exchange(widget *w, int index) { newstoday_set_exchange_shown(w, index, 0); }

void newstoday_show_all_exchanges(widget *w, int on) {
  for (int i = 0; i < kNewstodayExchanges; i++) newstoday_set_exchange_shown(w, i, on);
}

void newstoday_clear_exchanges(widget *w) {
  newstoday *n = cast(w);
  if (!n) return;
  for (auto &e : n->exchanges) e = nullptr;
  if (shown(n)) rebuild(n);
}

filter *newstoday_get_group_filter(const widget *w) { return cast(w) ? cast(w)->group_filter : nullptr; }

filter *newstoday_group_filter(widget *w) {
  newstoday *n = cast(w);
  if (!n) return nullptr;
  if (!n->group_filter) n->group_filter = filter_alloc();
  return n->group_filter;
}

bool newstoday_has_group_filter(const widget *w) {
  const newstoday *n = cast(w);
  return n && n->group_filter && !filter_is_empty(n->group_filter);
}

void newstoday_group_filter_changed(widget *w) {
  newstoday *n = cast(w);
  if (!n) return;
  if (shown(n)) rebuild(n);
  // The title names the groups; the panel's "Groups" shows whether there are any.
  if (window *win = owner(n)) {
    tools_refresh_later(window_get_tools(win, kRoleNewstoday));
    window_update_title(win);
  }
}

void newstoday_copy_group_filter(widget *w, const widget *from) {
  newstoday *n = cast(w);
  const newstoday *src = cast(from);
  if (!n) return;
  if (!src || !src->group_filter) {
    if (n->group_filter) filter_clear(n->group_filter);
  } else if (n->group_filter) {
    filter_copy(n->group_filter, src->group_filter);
  } else {
    n->group_filter = filter_clone(src->group_filter);
  }
  newstoday_group_filter_changed(n);
}

void newstoday_copy(widget *w, const widget *from) {
  newstoday *n = cast(w);
  const newstoday *src = cast(from);
  if (!n || !src || n == src) return;
  n->nf = src->nf;
  n->watchlists_only = src->watchlists_only;
  // Every exchange the user may see, then those the source hides hidden.
  for (int i = 0; i < kNewstodayExchanges; i++)
    n->exchanges[i] = src->exchanges[i] && ssuser_exchange_permitted(i) ? ssmodel_exchange(i) : nullptr;
  newstoday_copy_group_filter(n, src);  // rebuilds when shown
}

ss_time newstoday_get_top_time(const widget *w) {
  const newstoday *n = cast(w);
  if (!n) return 0;
  const window *win = n->parent && window_is(n->parent) ? static_cast<const window *>(n->parent) : nullptr;
  uint32_t first = win ? window_get_selection(win) : 0, i = 0;
  for (const newstoday_row *r = n->rows; r; r = r->next, i++)
    if (i == first) return r->item ? r->time : 0;
  return 0;
}

int newstoday_select_time(widget *w, ss_time date) {
  newstoday *n = cast(w);
  if (!n || !n->rows) return -1;
  int32_t i = 0, row = -1;
  for (newstoday_row *r = n->rows; r; r = r->next, i++)
    if (r->item && r->time <= date) {
      row = i > 0 ? i - 1 : 0;
      break;
    }
  if (row < 0) row = n->row_count - 1;
  if (window *win = owner(n)) window_select_row(win, row);
  widget_redraw(n);
  return row;
}

void newstoday_goto_time(widget *w, ss_time date) { newstoday_select_time(w, date); }

void newstoday_rebuild(widget *w) {
  if (newstoday *n = cast(w)) rebuild(n);
}

const char *newstoday_tooltip(const widget *w, int32_t x) {
  const newstoday *n = cast(w);
  if (!n) return nullptr;
  for (int i = 0; i < kNtColumns; i++) {
    const cols_col &c = n->columns.col[i];
    if (c.shown && x >= c.x0 && x < c.x0 + c.width) return kTips[i];
  }
  return nullptr;
}

const char *newstoday_ordinal(int day) {
  if (day % 100 >= 11 && day % 100 <= 13) return "th";
  switch (day % 10) {
    case 1: return "st";
    case 2: return "nd";
    case 3: return "rd";
    default: return "th";
  }
}

const char *newstoday_export(widget *w) {
  newstoday *n = cast(w);
  if (!n) return "";
  const cols_col *c = n->columns.col;
  clipboard_reset();
  clipboard_new_row();
  static const struct {
    int col;
    const char *title;
  } kHeader[] = {{kNtTime, "Date"},        {kNtTime, "Time"},         {kNtCompany, "Company"},
                 {kNtCode, "Code"},        {kNtLast, "Last"},         {kNtChange, "Change"},
                 {kNtPercent, "% Change"}, {kNtHeadline, "Headline"}, {kNtHeadline, "Sensitive"},
                 {kNtQuoteBases, "Quotebases"}, {kNtState, "State"}, {kNtFirst, "First"},
                 {kNtHigh, "High"},        {kNtLow, "Low"},           {kNtLast2, "Last"},
                 {kNtVolume, "Volume"}};
  for (auto &h : kHeader)
    if (c[h.col].shown) clipboard_add_cell(h.title);
  clipboard_end_row();
  for (newstoday_row *r = n->rows; r; r = r->next) {
    if (!r->item) continue;
    const ss_stock *s = r->stock;
    sstime_parts p{};
    sstime_unpack(&p, r->time);
    char date[16], time[16], pct[24] = "";
    snprintf(date, sizeof date, "%04d-%02d-%02d", p.year, p.mon, p.mday);
    snprintf(time, sizeof time, "%d:%02d:%02d", p.hour, p.min, p.sec);
    int32_t v;
    if (s && news_percent_change(s->change, s->last, &v)) snprintf(pct, sizeof pct, "%s%%", fmt_percent_change_trimmed(v));
    auto price = [&](uint32_t x) { return s ? fmt_price(x) : ""; };
    const char *company = r->issuer->name1 && *r->issuer->name1 ? r->issuer->name1 : r->issuer->code;
    clipboard_new_row();
    if (c[kNtTime].shown) {
      clipboard_add_cell(date);
      clipboard_add_cell(time);
    }
    if (c[kNtCompany].shown) clipboard_add_cell(company);
    if (c[kNtCode].shown) clipboard_add_cell(r->issuer->code);
    if (c[kNtLast].shown) clipboard_add_cell(price(s ? s->last : 0));
    if (c[kNtChange].shown) clipboard_add_cell(s ? fmt_change_trimmed(s->change) : "");
    if (c[kNtPercent].shown) clipboard_add_cell(pct);
    if (c[kNtHeadline].shown) {
      clipboard_add_cell(r->item->headline);
      clipboard_add_cell((r->item->flags & kNewsSensitive) ? "Y" : "N");
    }
    if (c[kNtQuoteBases].shown) clipboard_add_cell(s ? bases_text(s) : "");
    if (c[kNtState].shown) clipboard_add_cell(s ? state_text(s) : "");
    if (c[kNtFirst].shown) clipboard_add_cell(price(s ? s->open : 0));
    if (c[kNtHigh].shown) clipboard_add_cell(price(s ? s->high : 0));
    if (c[kNtLow].shown) clipboard_add_cell(price(s ? s->low : 0));
    if (c[kNtLast2].shown) clipboard_add_cell(price(s ? s->last : 0));
    if (c[kNtVolume].shown) clipboard_add_cell(s ? fmt_volume(s->volume) : "");
    clipboard_end_row();
  }
  clipboard_put_text();
  return clipboard_text();
}

void newstoday_config_save(widget *w) {
  newstoday *n = cast(w);
  if (!n) return;
  config_printf("newstoday.sensitive_only %b", n->nf.sensitive_only);
  config_printf("newstoday.common %b", n->nf.common);
  config_printf("newstoday.related %b", n->nf.related);
  if (n->nf.has_keyword) config_printf("newstoday.keyword %s", n->nf.keyword);
  for (int i = 0; i < kNewstodayExchanges; i++)
    if (!n->exchanges[i] && ssmodel_exchange(i)) config_printf("newstoday.hide_exchange %E", ssmodel_exchange(i));
  if (newstoday_has_group_filter(n)) {
    config_printf("newstoday.group_filter");
    config_out_push("newstoday.group_filter");
    filter_save(n->group_filter);
    config_out_pop();
  }
}

void newstoday_config_load(widget *w) {
  newstoday *n = cast(w);
  if (!n) return;
  if (config_get("newstoday.sensitive_only")) n->nf.sensitive_only = config_get_bool("newstoday.sensitive_only");
  if (config_get("newstoday.common")) n->nf.common = config_get_bool("newstoday.common");
  if (config_get("newstoday.related")) n->nf.related = config_get_bool("newstoday.related");
  const char *k = config_get_string("newstoday.keyword");
  news_filter_set_keyword(&n->nf, k ? k : "");
  // Every hidden exchange is a line of its own; the others are shown when
  // the user may see them.
  if (config_cell *base = config_base()) {
    bool hidden[kNewstodayExchanges] = {};
    for (const config_cell *c = base->first_child; c; c = c->next) {
      if (strcmp(c->name, "newstoday.hide_exchange") != 0 || c->value_count < 1) continue;
      for (int i = 0; i < kNewstodayExchanges; i++)
        if (ss_exchange *ex = ssmodel_exchange(i))
          if (strcmp(ex->name, c->values[0]) == 0) hidden[i] = true;
    }
    for (int i = 0; i < kNewstodayExchanges; i++)
      n->exchanges[i] = !hidden[i] && ssuser_exchange_permitted(i) ? ssmodel_exchange(i) : nullptr;
  }
  if (config_enter("newstoday.group_filter")) {
    if (config_next()) filter_load(newstoday_group_filter(n));
    config_leave();
  }
  if (shown(n)) rebuild(n);
}
