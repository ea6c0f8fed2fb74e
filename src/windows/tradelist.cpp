// The course-of-sales content. Rows are built by walking a trade list from
// its newest trade to its oldest and merging each kept trade into the
// oldest row so far when the grouping says they belong together, so one
// rule serves a full build, an older day appended at the bottom, and new
// trades merged in at the top (their rows are built apart, then the old
// top row is merged into the oldest of them by the same rule). Values are
// kept as the exact 128-bit sum of price x volume: turnover and VWAP come
// from it, never from per-trade rounding.
//
// Slots: geometry_changed, draw, restyle, show_children, hide_children,
// release, motion, leave, drag_begin, drag_release; content: set_instr.
#include "windows/tradelist.h"

#include <cstring>

#include "condcode.h"
#include "dnd.h"
#include "export/clipboard.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/timer.h"
#include "popups/hover.h"
#include "popups/place.h"
#include "popups/popups.h"
#include "log.h"
#include "pool.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "style.h"
#include "ui/gui.h"
#include "ui/object.h"
#include "tools/tradetools.h"
#include "undo.h"
#include "windows/depthwin.h"
#include "windows/window.h"

static const char kSrc[] = "src/windows/tradelist";

namespace {

const int32_t kWidthCodes[kTradelistColumns + 1] = {9, 9, 10, 7, 6, 13, 14, 6, 8, 6, 7, 7, 7, 1000008, 0};
constexpr uint64_t col(int c) { return uint64_t(1) << c; }
constexpr uint64_t drop(uint64_t m) { return kColsNarrow | m; }

// Column sets for a narrow window: every column first, then the interval's
// details go (codes, the VWAP change, first, low and high, count, VWAP),
// then the date, turnover, start time, change and volume, which leaves the
// time and the price. When the grouping hides both times (by day) the date
// is the row's time and stays to the end instead.
const uint64_t kColumnSets[] = {
    (uint64_t(1) << kTradelistColumns) - 1,
    drop(col(kTlCodes)), drop(col(kTlVwapChange)), drop(col(kTlFirst)), drop(col(kTlLow) | col(kTlHigh)),
    drop(col(kTlCount)), drop(col(kTlVwap)), drop(col(kTlDate)), drop(col(kTlTurnover)), drop(col(kTlFrom)),
    drop(col(kTlChange)), drop(col(kTlVolume)), 0};
const uint64_t kDaySets[] = {
    (uint64_t(1) << kTradelistColumns) - 1,
    drop(col(kTlCodes)), drop(col(kTlVwapChange)), drop(col(kTlFirst)), drop(col(kTlLow) | col(kTlHigh)),
    drop(col(kTlCount)), drop(col(kTlVwap)), drop(col(kTlTurnover)), drop(col(kTlChange)), drop(col(kTlVolume)),
    0};

const char *const kNames[kTradelistColumns] = {"Date",       "From",  "To",    "Last", "Change",
                                               "Volume",     "Turnover", "Count", "VWAP", "VWAP Change",
                                               "First",      "Low",   "High",  "Cond Codes"};
const char *const kTips[kTradelistColumns] = {"Date",
                                              "Start Time of Interval",
                                              "End Time of Interval",
                                              "Last Traded Price in Interval",
                                              "Change from prior Interval",
                                              "Total Volume Traded",
                                              "Total Value Traded",
                                              "Number of Trades in Interval",
                                              "Volume Weighted Average Price in Interval",
                                              "Change in VWAP since prior Interval",
                                              "First Traded Price in Interval",
                                              "Lowest Traded Price in Interval",
                                              "Highest Traded Price in Interval",
                                              "Condition Codes"};
// The export's column order: First comes before Last there.
const int kExportOrder[kTradelistColumns] = {kTlDate,  kTlFrom,  kTlTo,   kTlFirst,      kTlLast,
                                             kTlChange, kTlVolume, kTlTurnover, kTlCount, kTlVwap,
                                             kTlVwapChange, kTlLow, kTlHigh, kTlCodes};

constexpr float kFlashSeconds = 1.5f;

struct {
  pool rows;
  int pool_ready;
  tradelist_client client;
  int client_set;
  ss_time played_to;  // the depth replay time last asked for
} S;

int real_request_events(instr *in) { return ssclient_request_events(in); }
int real_request_day(instr *in, ss_time date) { return ssclient_request_trades_for_day(in, date); }

const tradelist_client &client() {
  static const tradelist_client kReal = {real_request_events, real_request_day};
  return S.client_set ? S.client : kReal;
}

unsigned __int128 pv_of(const tradelist_row *r) {
  return static_cast<unsigned __int128>(r->pv[1]) << 64 | r->pv[0];
}
void set_pv(tradelist_row *r, unsigned __int128 v) {
  r->pv[0] = static_cast<uint64_t>(v);
  r->pv[1] = static_cast<uint64_t>(v >> 64);
}

ss_time date_of(ss_time t) { return t & ~kSstimeSecondsMask; }
uint32_t tod_of(ss_time t) { return t & kSstimeSecondsMask; }

ss_time today_of(const tradelist *t) {
  return t->stock && t->stock->exchange ? date_of(t->stock->exchange->date) : 0;
}

uint64_t codes_of(const ss_trade *tr) {
  if (!(tr->bits & kTradeConditions)) return 0;
  const ss_trade_detail *d = ssmodel_trade_break_of(tr);
  return d ? d->conditions : 0;
}

// Rows ----------------------------------------------------------------------

void free_row(tradelist_row *r) {
  fade_stop(&r->fades[0]);
  fade_stop(&r->fades[1]);
  pool_free(&S.rows, r);
}

void clear_rows(tradelist *t) {
  for (tradelist_row *r = t->first_row; r;) {
    tradelist_row *next = r->older;
    free_row(r);
    r = next;
  }
  t->first_row = t->last_row = t->top_row = nullptr;
  t->row_count = 0;
  t->newest_trade = nullptr;
  t->newest_day = t->oldest_day = 0;
}

tradelist_row *new_row(const ss_trade *tr) {
  auto *r = S.pool_ready ? static_cast<tradelist_row *>(pool_alloc(&S.rows)) : nullptr;
  if (!r) {
    log(LOG_ERROR, kSrc, "can't alloc row");
    return nullptr;
  }
  memset(static_cast<void *>(r), 0, sizeof *r);
  r->trade = tr;
  r->from = r->to = tr->time;
  r->first = r->high = r->low = r->last = tr->price;
  // A single trade's VWAP is its price.
  r->vwap = tr->price;
  r->volume = tr->volume;
  set_pv(r, static_cast<unsigned __int128>(tr->price) * tr->volume);
  r->value = static_cast<uint64_t>(pv_of(r) / 100);
  r->count = 1;
  r->codes = codes_of(tr);
  fade_clear(&r->fades[0]);
  fade_clear(&r->fades[1]);
  return r;
}

uint32_t vwap_of(unsigned __int128 pv, uint64_t volume) {
  if (!volume) return 0;
  unsigned __int128 q = (pv + volume / 2) / volume;
  return q > 0xFFFFFFFEu ? 0xFFFFFFFEu : static_cast<uint32_t>(q);
}

// Whether the older row o belongs to the same period as r: the same date,
// and by n seconds the same interval of the day.
bool same_period(const tradelist *t, const tradelist_row *r, const tradelist_row *o) {
  uint32_t n = t->group_by_seconds;
  if (!n) return false;
  if (date_of(r->from) != date_of(o->from)) return false;
  if (n == kTradelistByDay) return true;
  return tod_of(r->from) / n == tod_of(o->from) / n;
}

bool belongs(const tradelist *t, const tradelist_row *r, const tradelist_row *o) {
  if (t->group_by_price && o->last) return o->last == r->last || same_period(t, r, o);
  return same_period(t, r, o);
}

// Merges the older row o into r.
void merge(tradelist_row *r, const tradelist_row *o) {
  if (o->first) r->first = o->first;
  if (o->high > r->high) r->high = o->high;
  if (o->low && (!r->low || o->low < r->low)) r->low = o->low;
  r->codes |= o->codes;
  if (o->volume) {
    r->volume += o->volume;
    set_pv(r, pv_of(r) + pv_of(o));
    r->count += o->count;
  }
  r->value = static_cast<uint64_t>(pv_of(r) / 100);
  if (!r->last) r->last = o->last;
  r->vwap = vwap_of(pv_of(r), r->volume);
  r->from = o->from;
  r->trade = o->trade;
}

// Appends the kept trades from `from` (newest) back to `stop` (exclusive)
// to the chain [*head, *tail], merging into its oldest row where they
// belong. Returns how many rows were made.
int add_trades(tradelist *t, const ss_trade *from, const ss_trade *stop, tradelist_row **head,
               tradelist_row **tail) {
  int made = 0;
  for (const ss_trade *tr = from; tr && tr != stop; tr = tr->prev) {
    if (tradelist_skips(t, tr)) continue;
    tradelist_row *r = new_row(tr);
    if (!r) continue;
    if (*tail && belongs(t, *tail, r)) {
      merge(*tail, r);
      pool_free(&S.rows, r);
      continue;
    }
    r->newer = *tail;
    if (*tail)
      (*tail)->older = r;
    else
      *head = r;
    *tail = r;
    made++;
  }
  return made;
}

// Interval labels, rows without a price dropped, changes against the older
// row, the row count. Labels are idempotent, so rows labelled before are
// labelled again unchanged.
void finish_rows(tradelist *t) {
  uint32_t n = t->group_by_seconds;
  uint32_t count = 0;
  for (tradelist_row *r = t->first_row; r;) {
    tradelist_row *older = r->older;
    if (!r->last) {
      if (r->newer) r->newer->older = older; else t->first_row = older;
      if (older) older->newer = r->newer; else t->last_row = r->newer;
      if (t->top_row == r) t->top_row = older ? older : r->newer;
      free_row(r);
      r = older;
      continue;
    }
    if (n == kTradelistByDay) {
      r->from = date_of(r->from);
      r->to = date_of(r->from) + 86399;
    } else if (n) {
      uint32_t start = tod_of(r->from) / n * n;
      uint32_t end = start + n > 86399 ? 86399 : start + n;
      ss_time day = date_of(r->from);
      r->from = day + start;
      r->to = day + end;
    }
    count++;
    r = older;
  }
  for (tradelist_row *r = t->first_row; r; r = r->older) {
    const tradelist_row *o = r->older;
    r->has_older = o != nullptr;
    r->change = o ? static_cast<int32_t>(r->last - o->last) : 0;
    r->vwap_change = o ? static_cast<int32_t>(r->vwap - o->vwap) : 0;
  }
  t->row_count = count;
}

// A list of trades (newest at `newest`) appended at the bottom: each trade
// may still merge into the list's oldest row.
void add_older(tradelist *t, const ss_trade *newest) {
  // The chain starts at the list's oldest row, so the first trade can merge
  // into it.
  tradelist_row *head = t->first_row, *tail = t->last_row;
  add_trades(t, newest, nullptr, &head, &tail);
  t->first_row = head;
  t->last_row = tail;
  finish_rows(t);
}

bool scrolled_into_older_day(const tradelist *t) {
  return t->position && date_of(t->position) < today_of(t);
}

void stop_timer(tradelist *t) {
  if (t->timer >= 0) timer_stop(t->timer);
  t->timer = -1;
}

int flash_tick(void *arg, uint32_t, int64_t, float) {
  auto *t = static_cast<tradelist *>(arg);
  widget_redraw(t);
  if (widget_is_shown(t) && t->flash.running) return 1;
  t->timer = -1;
  return 0;
}

void flash(tradelist *t, tradelist_row *r) {
  fade_to(&r->fades[0], 255, 0, &t->flash, t, 0, kFlashSeconds);
  fade_to(&r->fades[1], 255, 0, &t->flash, t, 1, kFlashSeconds);
  if (t->timer < 0) t->timer = timer_start(0, flash_tick, t, 0);
}

void flash_done(fade_value *, void *, uint32_t) {}

void rebuild_promise(void *arg, int) {
  auto *t = static_cast<tradelist *>(arg);
  t->rebuild_pending = 0;
  tradelist_rebuild(t, 1);
  widget_redraw(t);
}

void queue_rebuild(tradelist *t) {
  if (t->rebuild_pending) return;
  if (gui_promise(rebuild_promise, t, 0) == 0) t->rebuild_pending = 1;
}

void load_promise(void *arg, int) {
  auto *t = static_cast<tradelist *>(arg);
  t->load_pending = 0;
  tradelist_load_day(t, 0);
  widget_redraw(t);
}

void queue_load(tradelist *t) {
  if (t->load_pending) return;
  if (gui_promise_after_draw(load_promise, t, 0) == 0) t->load_pending = 1;
}

void cancel_deferred(tradelist *t) {
  gui_promise_cancel(rebuild_promise, t);
  gui_promise_cancel(load_promise, t);
  t->rebuild_pending = t->load_pending = 0;
}

window *window_of(tradelist *t) {
  return t->parent && window_is(t->parent) ? static_cast<window *>(t->parent) : nullptr;
}

widget *tool_panel(tradelist *t) {
  window *w = window_of(t);
  return w ? window_get_tools(w, kRoleTradelist) : nullptr;
}

void drop_registration(tradelist *t) {
  if (t->stock && t->registered) ssnotify_remove(t->stock, t);
  t->registered = 0;
}

int32_t line_height() {
  const style *st = style_cur();
  return st && st->line_height > 0 ? st->line_height : 16;
}

int32_t row_font() {
  const style *st = style_cur();
  return st ? st->font[0] : 0;
}

void set_setting(tradelist *t, uint32_t *field, uint32_t v) {
  if (*field == v) return;
  *field = v;
  queue_rebuild(t);
}

}  // namespace

ss_time tradelist_last_played_to() { return S.played_to; }

void tradelist_set_client(const tradelist_client *c) {
  S.client_set = c != nullptr;
  if (c) S.client = *c;
}

// Skip rules ------------------------------------------------------------------

int tradelist_skips(const tradelist *t, const ss_trade *tr) {
  if (t->range_from && tr->time < t->range_from) return 1;
  if (t->range_to && tr->time > t->range_to) return 1;
  if (tr->bits & kTradeCancelled) return 1;
  if (tr->price == 0 || tr->price == kNoPrice) return 1;
  if ((tr->bits & kTradeConditions) && codes_of(tr) && !t->off_market) return 1;
  if (t->vwap_only && !(tr->bits & kTradeSecond)) return 1;
  return 0;
}

uint64_t tradelist_hidden_columns(const tradelist *t) {
  if (t->group_by_price) return kTlHidePrice;
  if (t->group_by_seconds) return kTlHideSeconds | (t->group_by_seconds == kTradelistByDay ? kTlHideDayExtra : 0);
  return kTlHideNone;
}

// Building ----------------------------------------------------------------------

void tradelist_rebuild(tradelist *t, int full) {
  if (!t->stock) {
    clear_rows(t);
    return;
  }
  ss_stock *s = t->stock;
  if (full) {
    clear_rows(t);
    ss_time today = today_of(t);
    if (t->position && date_of(t->position) < today) {
      tradelist_load_day(t, date_of(t->position));
    } else {
      // Today's rows: no past day is loaded yet, so the day before today
      // is next.
      t->newest_trade = s->trades.tail;
      add_older(t, s->trades.tail);
      t->newest_day = today;
    }
    tradelist_layout(t);
    return;
  }
  if (scrolled_into_older_day(t) || !t->newest_day || t->newest_day != today_of(t)) return;
  const ss_trade *newest = s->trades.tail;
  if (newest == t->newest_trade) return;
  // A stop that is no longer in the list (the list was replaced) would walk
  // everything: rebuild in full instead.
  bool found = !t->newest_trade;
  for (const ss_trade *tr = newest; tr && !found; tr = tr->prev) found = tr == t->newest_trade;
  if (!found) {
    tradelist_rebuild(t, 1);
    return;
  }
  tradelist_row *head = nullptr, *tail = nullptr;
  add_trades(t, newest, t->newest_trade, &head, &tail);
  t->newest_trade = newest;
  if (!head) return;
  bool top_visible = t->top_row == t->first_row;
  tradelist_row *old_top = t->first_row;
  if (old_top && belongs(t, tail, old_top)) {
    merge(tail, old_top);
    t->first_row = old_top->older;
    if (t->first_row) t->first_row->newer = nullptr; else t->last_row = nullptr;
    if (t->top_row == old_top) t->top_row = nullptr;
    free_row(old_top);
  }
  tail->older = t->first_row;
  if (t->first_row)
    t->first_row->newer = tail;
  else
    t->last_row = tail;
  t->first_row = head;
  if (top_visible || !t->top_row) t->top_row = head;
  finish_rows(t);
  if (top_visible)
    for (tradelist_row *r = head; r; r = r->older) {
      flash(t, r);
      if (r == tail) break;
    }
  tradelist_layout(t);
}

void tradelist_load_day(tradelist *t, ss_time date) {
  if (!t->stock) return;
  ss_time today = today_of(t);
  if (!date) date = date_of(sstime_sub_days(t->oldest_day ? t->oldest_day : today, 1));
  date = date_of(date);
  ss_day *day = ssevent_find_day(t->stock, date);
  if (!day || !(day->flags & kDayFlagTradesLoaded)) {
    if (t->asked_day == date) return;
    t->asked_day = date;
    if (client().request_trades_for_day(t->stock, date) < 0) return;
    // A day with no trading (a weekend) is complete as soon as it is asked.
    day = ssevent_find_day(t->stock, date);
    if (!day || !(day->flags & kDayFlagTradesLoaded)) return;
  }
  if (t->oldest_day && date >= t->oldest_day) return;  // loaded already
  add_older(t, day->trades.tail);
  t->oldest_day = date;
  if (!t->newest_day) t->newest_day = date;
  tradelist_layout(t);
}

void tradelist_changed(const ss_change *change, void *owner, uint64_t, uint32_t) {
  auto *t = static_cast<tradelist *>(owner);
  if (!widget_is_shown(t)) return;
  uint32_t mask = change ? change->mask : 0;
  if (mask & kTradelistFullMask)
    tradelist_rebuild(t, 1);
  else if (mask & kTradelistDayMask)
    tradelist_load_day(t, 0);
  else if (!t->position)
    tradelist_rebuild(t, 0);
  widget_redraw(t);
}

// Layout --------------------------------------------------------------------------

static void layout_rows(tradelist *t, bool from_position);

static void count_news(tradelist *t, tradelist_row *r) {
  r->news[0] = r->news[1] = r->news[2] = 0;
  ss_stock *s = t->stock;
  if (!s || !s->exchange) return;
  ss_issuer *is = ssmodel_find_issuer(s->exchange, s->issuer[0] ? s->issuer : s->code);
  if (!is) return;
  ss_time end = r->newer ? r->newer->from : r->to + 1;
  for (const ss_news *n = is->news.head; n; n = n->next) {
    if (!n->time || n->time < r->from) continue;
    if (n->time >= end) break;
    if (n->flags & kNewsFlag1)
      r->news[0]++;
    else if (n->flags & kNewsFlag4)
      r->news[1]++;
    else
      r->news[2]++;
  }
}

static void mark_extremes(tradelist_row *top, int rows) {
  struct ext {
    uint64_t lo = UINT64_MAX, hi = 0;
    bool any = false;
  };
  auto take = [](ext &e, uint64_t v) {
    e.any = true;
    if (v < e.lo) e.lo = v;
    if (v > e.hi) e.hi = v;
  };
  auto sgn = [](int32_t v) { return static_cast<uint64_t>(static_cast<int64_t>(v) + 0x80000000ll); };
  ext last, change, vwap, vchange, volume, value, count, low, high;
  tradelist_row *r = top;
  for (int i = 0; r && i < rows; i++, r = r->older) {
    if (r->last) take(last, r->last);
    if (r->has_older) take(change, sgn(r->change));
    if (r->vwap) take(vwap, r->vwap);
    if (r->has_older) take(vchange, sgn(r->vwap_change));
    take(volume, r->volume);
    take(value, r->value);
    take(count, r->count);
    if (r->low) take(low, r->low);
    take(high, r->high);
  }
  r = top;
  for (int i = 0; r && i < rows; i++, r = r->older) {
    uint32_t m = 0;
    auto either = [](const ext &e, uint64_t v) { return e.any && (v == e.lo || v == e.hi); };
    if (r->last && either(last, r->last)) m |= 1u << kTlLast;
    if (r->has_older && either(change, sgn(r->change))) m |= 1u << kTlChange;
    if (r->vwap && either(vwap, r->vwap)) m |= 1u << kTlVwap;
    if (r->has_older && either(vchange, sgn(r->vwap_change))) m |= 1u << kTlVwapChange;
    if (volume.any && r->volume == volume.hi) m |= 1u << kTlVolume;
    if (value.any && r->value == value.hi) m |= 1u << kTlTurnover;
    if (count.any && r->count == count.hi) m |= 1u << kTlCount;
    if (r->low && low.any && r->low == low.lo) m |= 1u << kTlLow;
    if (high.any && r->high == high.hi) m |= 1u << kTlHigh;
    r->marks = m;
  }
}

void tradelist_layout(tradelist *t) { layout_rows(t, true); }

// Lays the rows out; with from_position the top row is found again from
// the position (after a rebuild), else the top row a scroll chose stays.
static void layout_rows(tradelist *t, bool from_position) {
  const uint64_t hidden = tradelist_hidden_columns(t);
  cols_set_hidden(&t->columns, hidden);
  t->columns.masks = (hidden & col(kTlTo)) ? kDaySets : kColumnSets;
  if (window *w = window_of(t)) window_set_row_count(w, -1);
  bool keep = !from_position && t->top_row;
  if (!keep && t->position) {
    tradelist_row *r = t->first_row;
    while (r && r->from > t->position) r = r->older;
    if (!r && t->last_row && t->position < t->last_row->from) queue_load(t);
    t->top_row = r ? r : t->last_row;
  } else if (!t->top_row) {
    t->top_row = t->first_row;
  }
  int32_t lh = line_height();
  int32_t y = t->r.y;
  int rows = 0;
  tradelist_row *last_visible = nullptr;
  for (tradelist_row *r = t->first_row; r; r = r->older) r->y = -1;
  for (tradelist_row *r = t->top_row; r && y + lh <= t->r.y + t->r.h; r = r->older, y += lh) {
    r->y = y;
    r->shown_before = 1;
    count_news(t, r);
    last_visible = r;
    rows++;
  }
  mark_extremes(t->top_row, rows);
  // Scrolling back: the oldest row in view pulls in the day before it.
  if (last_visible && last_visible == t->last_row && t->oldest_day < today_of(t) && widget_is_shown(t))
    queue_load(t);
}

// Subject and settings ------------------------------------------------------------

void tradelist_set_instrument(tradelist *t, instr *in) {
  cancel_deferred(t);
  drop_registration(t);
  t->position = 0;
  t->asked_day = 0;
  ss_stock *s = in && in->kind == kKindStock ? static_cast<ss_stock *>(in) : nullptr;
  t->stock = s;
  clear_rows(t);
  if (s) {
    // The window hands its children nothing, then the stock: one hold for
    // the stock, not one for every hand-over.
    if (s != t->held) ssevent_hold(s);
    t->held = s;
    if (ssnotify_add(s, kTradelistNotifyMask, tradelist_changed, t, 0, 0) == 0) t->registered = 1;
    if (widget_is_shown(t)) {
      if (s->flags & kRqTradesLoaded)
        tradelist_rebuild(t, 1);
      else
        client().request_events(s);
    }
  }
  tradetools_set_instrument(tool_panel(t), s);
  widget_redraw(t);
}

void tradelist_set_off_market(tradelist *t, uint32_t v) { set_setting(t, &t->off_market, v ? v : 1); }
void tradelist_set_vwap_only(tradelist *t, uint32_t v) { set_setting(t, &t->vwap_only, v); }
void tradelist_set_pre_open(tradelist *t, uint32_t v) { set_setting(t, &t->pre_open, v); }
void tradelist_set_closed(tradelist *t, uint32_t v) { set_setting(t, &t->closed, v); }
void tradelist_set_off_market_on(tradelist *t) { tradelist_set_off_market(t, 1); }
void tradelist_set_pre_open_on(tradelist *t) { tradelist_set_pre_open(t, 1); }
void tradelist_set_closed_on(tradelist *t) { tradelist_set_closed(t, 1); }
uint32_t tradelist_get_off_market(const tradelist *t) { return t->off_market; }
uint32_t tradelist_get_vwap_only(const tradelist *t) { return t->vwap_only; }
uint32_t tradelist_get_pre_open(const tradelist *t) { return t->pre_open; }
uint32_t tradelist_get_closed(const tradelist *t) { return t->closed; }

void tradelist_set_group_by_seconds(tradelist *t, uint32_t n) {
  if (t->group_by_seconds == n && !t->group_by_price) return;
  t->group_by_seconds = n;
  t->group_by_price = 0;
  queue_rebuild(t);
}

void tradelist_set_group_by_price(tradelist *t, uint32_t on) {
  on = on ? 1 : 0;
  if (t->group_by_price == on && (!on || !t->group_by_seconds)) return;
  t->group_by_price = on;
  if (on) t->group_by_seconds = 0;
  queue_rebuild(t);
}

void tradelist_set_no_grouping(tradelist *t) {
  if (!t->group_by_price && !t->group_by_seconds) return;
  t->group_by_price = t->group_by_seconds = 0;
  queue_rebuild(t);
}

uint32_t tradelist_get_group_by_seconds(const tradelist *t) { return t->group_by_seconds; }
int tradelist_has_group_by_seconds(const tradelist *t) { return t->group_by_seconds != 0; }
uint32_t tradelist_get_group_by_price(const tradelist *t) { return t->group_by_price; }

void tradelist_set_range(tradelist *t, ss_time from, ss_time to) {
  if (t->range_from == from && t->range_to == to) return;
  t->range_from = from;
  t->range_to = to;
  queue_rebuild(t);
}

int tradelist_get_range(const tradelist *t, ss_time *from, ss_time *to) {
  if (from) *from = t->range_from;
  if (to) *to = t->range_to;
  return t->range_from && t->range_to ? 0 : -1;
}

void tradelist_set_position(tradelist *t, ss_time time) {
  // The selection goes to the top first: moving it restyles the list, whose
  // position then follows the top row (0, the newest), which would undo
  // the time asked for whenever a row below the top was selected.
  window *w = widget_is_shown(t) ? window_of(t) : nullptr;
  if (w) window_select_row(w, 0);
  t->position = time;
  if (!widget_is_shown(t)) return;
  tradelist_rebuild(t, 1);
  widget_redraw(t);
}

void tradelist_copy(tradelist *dst, const tradelist *src) {
  dst->off_market = src->off_market;
  dst->vwap_only = src->vwap_only;
  dst->pre_open = src->pre_open;
  dst->closed = src->closed;
  dst->group_by_seconds = src->group_by_seconds;
  dst->group_by_price = src->group_by_price;
  dst->range_from = src->range_from;
  dst->range_to = src->range_to;
  queue_rebuild(dst);
}

const char *tradelist_column_name(int column) {
  return column >= 0 && column < kTradelistColumns ? kNames[column] : nullptr;
}
const char *tradelist_column_tooltip(int column) {
  return column >= 0 && column < kTradelistColumns ? kTips[column] : nullptr;
}

// Cells ---------------------------------------------------------------------------

namespace {

char g_cell[256];

// The text of a cell; export: the long forms, else the draw's short ones.
const char *cell_text(tradelist *t, const tradelist_row *r, int col, bool exporting) {
  switch (col) {
    case kTlDate:
      return exporting ? fmt_date_iso(r->to) : fmt_date_short(r->to);
    case kTlFrom:
    case kTlTo: {
      uint32_t s = tod_of(col == kTlFrom ? r->from : r->to);
      if (!exporting) return fmt_time_hms(col == kTlFrom ? r->from : r->to);
      snprintf(g_cell, sizeof g_cell, "%u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
      return g_cell;
    }
    case kTlLast: return exporting ? fmt_price(r->last) : fmt_price_small_cents(r->last);
    case kTlFirst: return exporting ? fmt_price(r->first) : fmt_price_small_cents(r->first);
    case kTlLow: return exporting ? fmt_price(r->low) : fmt_price_small_cents(r->low);
    case kTlHigh: return exporting ? fmt_price(r->high) : fmt_price_small_cents(r->high);
    case kTlVwap: return exporting ? fmt_price(r->vwap) : fmt_price_small_cents(r->vwap);
    case kTlChange:
      if (!r->has_older) return "";
      return exporting ? fmt_change_trimmed(r->change) : fmt_change(r->change);
    case kTlVwapChange:
      if (!r->has_older) return "";
      return exporting ? fmt_change_trimmed(r->vwap_change) : fmt_change(r->vwap_change);
    case kTlVolume: return fmt_volume(r->volume);
    case kTlTurnover: return fmt_money(r->value);
    case kTlCount: return fmt_int(static_cast<int32_t>(r->count));
    case kTlCodes: {
      if (!r->codes || !t->stock) return "";
      int32_t ex = t->stock->exchange ? static_cast<int32_t>(t->stock->exchange->index) : 0;
      const char *text = condcode_text(ex, t->stock->code, r->codes);
      return text ? text : "";
    }
    default: return "";
  }
}

}  // namespace

void tradelist_export(tradelist *t) {
  uint64_t hidden = tradelist_hidden_columns(t);
  clipboard_reset();
  clipboard_new_row();
  for (int col : kExportOrder)
    if (!(hidden & (1ull << col))) clipboard_add_cell(kNames[col]);
  clipboard_end_row();
  for (tradelist_row *r = t->first_row; r; r = r->older) {
    clipboard_new_row();
    for (int col : kExportOrder) {
      if (hidden & (1ull << col)) continue;
      // The formatters share one buffer: copy before the next cell.
      char cell[256];
      snprintf(cell, sizeof cell, "%s", cell_text(t, r, col, true));
      clipboard_add_cell(cell);
    }
    clipboard_end_row();
  }
  clipboard_put_text();
}

// Class ---------------------------------------------------------------------------

namespace {

void tl_geometry_changed(widget *self) {
  auto *t = tradelist_cast(self);
  tradelist_layout(t);
  widget_redraw(t);
}

void tl_draw(widget *self) {
  const window_frame_guard frame(self);  // the window's edges, painted over, come back
  auto *t = tradelist_cast(self);
  const style *st = style_cur();
  colour bg = st ? style_colour(st, SC_GRID_BACKGROUND) | 0xff000000u : 0xff101010u;
  colour text = st ? style_colour(st, SC_TEXT) | 0xff000000u : 0xffe0e0e0u;
  colour flash_c = st ? style_colour(st, SC_FLASH) : 0x00ffffffu;
  colour mark_c = st ? style_colour(st, SC_SELECTION) | 0xff000000u : 0xff503020u;
  colour up = st ? style_colour(st, SC_UP) | 0xff000000u : 0xff00c000u;
  colour down = st ? style_colour(st, SC_DOWN) | 0xff000000u : 0xff0000c0u;
  gfx_fill_rect(t->r.x, t->r.y, t->r.w, t->r.h, bg);
  int32_t font = row_font(), lh = line_height();
  int32_t value_font = st ? st->font[1] : 5;
  cols_fit(&t->columns, t->r.x, t->r.w - kTradelistNewsStrip, value_font);
  for (tradelist_row *r = t->top_row; r && r->y >= 0; r = r->older) {
    if (r->fades[0].shown.i > 0)
      gfx_fill_rect(t->r.x, r->y, t->r.w, lh, (flash_c & 0x00ffffffu) | uint32_t(r->fades[0].shown.i) << 24);
    for (int c = 0; c < kTradelistColumns; c++) {
      const cols_col &cc = t->columns.col[c];
      if (!cc.shown || cc.width <= 0) continue;
      if (r->marks & (1u << c)) gfx_fill_rect(cc.x0, r->y, cc.width, lh, mark_c);
      colour fg = text;
      if ((c == kTlChange && r->has_older) || (c == kTlVwapChange && r->has_older)) {
        int32_t v = c == kTlChange ? r->change : r->vwap_change;
        if (v > 0) fg = up;
        if (v < 0) fg = down;
      }
      // Condition codes are letters, left-aligned in the text font; dates
      // centred in it; times centred and figures right-aligned in the value
      // font, whose small digits draw the cents. No cell reaches past its
      // column.
      const char *cell = cell_text(t, r, c, false);
      if (!*cell) continue;
      if (c == kTlCodes) {
        font_draw(cols_cell_text(cell, font, cc.width - 4, false), cc.x0 + 2, r->y + lh - 3, 0, font, fg, nullptr);
      } else if (c == kTlDate) {  // a day and a month name: words
        font_draw(cols_cell_text(cell, font, cc.width - 2, false), (cc.x0 + cc.x1) / 2, r->y + lh - 3, 2, font, fg,
                  nullptr);
      } else if (c == kTlFrom || c == kTlTo) {
        font_draw(cols_cell_text(cell, value_font, cc.width - 2, true), (cc.x0 + cc.x1) / 2, r->y + lh - 3, 2,
                  value_font, fg, nullptr);
      } else {
        font_draw(cols_cell_text(cell, value_font, cc.width - 4, true), cc.x1 - 2, r->y + lh - 3, 1, value_font, fg,
                  nullptr);
      }
    }
    if (r->news[0] + r->news[1] + r->news[2]) {
      colour icon = r->news[0] ? up : r->news[2] ? text : down;
      gfx_fill_rect(t->r.x + t->r.w - kTradelistNewsStrip + 1, r->y + 2, kTradelistNewsStrip - 2, lh - 4, icon);
    }
  }
  // The trade tool panel's chart marks the top row's interval while shown.
  window *w = window_of(t);
  if (t->top_row && w && w->show_tools) {
    t->tool_marker[0] = int32_t(t->top_row->from);
    t->tool_marker[1] = int32_t(t->top_row->to);
    tradetools_set_marker(tool_panel(t), t->tool_marker[0], t->tool_marker[1]);
  }
}

// The window's selection counts rows from the newest.
void tl_restyle(widget *self) {
  auto *t = tradelist_cast(self);
  window *w = window_of(t);
  uint32_t want = w ? window_get_selection(w) : 0;
  tradelist_row *r = t->first_row;
  for (uint32_t i = 0; r && r->older && i < want; i++) r = r->older;
  t->top_row = r;
  t->top_index = want;
  t->position = r && r != t->first_row ? r->to : 0;
  layout_rows(t, false);
  widget_redraw(t);
}

void tl_show_children(widget *self) {
  auto *t = tradelist_cast(self);
  if (!t->stock) return;
  if (t->stock->flags & kRqTradesLoaded)
    tradelist_rebuild(t, 1);
  else
    client().request_events(t->stock);
}

void tl_hide_children(widget *self) {
  auto *t = tradelist_cast(self);
  stop_timer(t);
}

ss_issuer *row_issuer(tradelist *t) {
  ss_stock *s = t->stock;
  return s && s->exchange ? ssmodel_find_issuer(s->exchange, s->issuer[0] ? s->issuer : s->code) : nullptr;
}

// The issuer's first news item within the row's interval, or null.
ss_news *row_news(tradelist *t, const tradelist_row *r) {
  if (!(r->news[0] + r->news[1] + r->news[2])) return nullptr;
  ss_issuer *is = row_issuer(t);
  if (!is) return nullptr;
  ss_time end = r->newer ? r->newer->from : r->to + 1;
  for (ss_news *n = is->news.head; n; n = n->next)
    if (n->time && n->time >= r->from && n->time < end) return n;
  return nullptr;
}

// Closes what the list's hover opened.
void hide_hover(tradelist *t) {
  popups_hover_end(t);
  screen_hide_gendtl();
}

tradelist_row *row_at(tradelist *t, int32_t y) {
  int32_t lh = line_height();
  for (tradelist_row *r = t->top_row; r && r->y >= 0; r = r->older)
    if (y >= r->y && y < r->y + lh) return r;
  return nullptr;
}

// The window shows the depth of `stock` (null: its own instrument) played
// to `when` (0: live) with its tool panel.
void show_depth_at(window *w, instr *stock, ss_time when) {
  window_set_role(w, kRoleDepth);
  if (stock) window_set_instrument(w, stock);
  S.played_to = when;
  widget *depth = window_get_content(w, kRoleDepth);
  if (depth && when) depthwin_play_to(depth, when, 1);
  window_show_tools(w);
}

void tl_release(widget *self, int32_t x, int32_t y, int button) {
  auto *t = tradelist_cast(self);
  if (button != 1) return;
  tradelist_row *hit = row_at(t, y);
  if (!hit) return;
  window *w = window_of(t);
  if (!w) return;
  hide_hover(t);
  if (x >= t->r.x + t->r.w - kTradelistNewsStrip && hit->news[0] + hit->news[1] + hit->news[2]) {
    // The news strip: the interval's first item in the popup document.
    if (ss_news *n = row_news(t, hit)) screen_show_news_popup(row_issuer(t), n, 0);
    return;
  }
  show_depth_at(w, nullptr, hit->to);
}

// Hover: a slow pointer over the condition codes explains them, over the
// news strip lists the interval's news, over the time cell previews the
// book at the row's time; a fast pointer, a drag or leaving closes them.
void tl_motion(widget *self, int32_t x, int32_t y) {
  auto *t = tradelist_cast(self);
  const style *st = style_cur();
  const float open_below = st ? st->real[1] : 2.0f, close_at = st ? st->real[0] : 7.0f;
  const float speed = gui_mouse_speed();
  tradelist_row *r = t->stock && !gui_dragging() ? row_at(t, y) : nullptr;
  if (!r || speed >= close_at) {
    hide_hover(t);
    return;
  }
  if (speed >= open_below) return;
  const int32_t lh = line_height();
  const rect cell_row = {t->r.x, r->y, t->r.w, lh};
  const int time_col = (t->columns.shown >> kTlTo & 1) ? kTlTo : kTlDate;
  const cols_col &codes = t->columns.col[kTlCodes];
  const cols_col &tc = t->columns.col[time_col];
  ss_exchange *ex = t->stock->exchange;
  if (x >= t->r.x + t->r.w - kTradelistNewsStrip) {
    popups_hover_end(t);
    if (!row_news(t, r)) {
      screen_hide_gendtl();
      return;
    }
    const ss_time end = r->newer ? r->newer->from - 1 : r->to;
    screen_set_popup_anchor(x - 3, r->y, 6, lh, kSideBelow);
    screen_show_gendtl_range2(x, r->y + lh, row_issuer(t), r->from, end);
  } else if ((t->columns.shown >> kTlCodes & 1) && x >= codes.x0 && x < codes.x1 && r->codes && ex) {
    popups_hover_end(t);
    screen_set_popup_anchor(codes.x0 - 3, r->y, codes.x1 - codes.x0 + 6, lh, kSideBelow);
    screen_show_gendtl_flags(x, r->y + lh, ex->index, t->stock->code, r->codes);
  } else if ((t->columns.shown >> time_col & 1) && x >= tc.x0 && x < tc.x1) {
    screen_hide_gendtl();
    if (popups_widget_in_popup(t)) return;
    const ss_time when = t->group_by_seconds == kTradelistByDay && ex
                             ? sstime_with_time_of_day(r->to, ssmodel_exchange_day_end(ex))
                             : r->to;
    popups_set_owner(t);
    popups_set_anchor_rect(&cell_row, kSideCentre | kSideBelow, 0);
    popups_push_depth(t->stock, when);
  } else {
    hide_hover(t);
  }
}

void tl_leave(widget *self) { hide_hover(tradelist_cast(self)); }

int tl_drag_begin(widget *self, int32_t x, int32_t y, int button, drag_record *d) {
  auto *t = tradelist_cast(self);
  if (button != 1 || !t->stock) return 0;
  tradelist_row *r = row_at(t, y);
  if (!r) return 0;
  ss_news *n = x >= t->r.x + t->r.w - kTradelistNewsStrip ? row_news(t, r) : nullptr;
  if (n) {
    ss_issuer *is = ssmodel_find_issuer(t->stock->exchange, t->stock->issuer[0] ? t->stock->issuer : t->stock->code);
    dnd_begin_news(is, n);
  } else {
    dnd_begin_trade(t->stock, r->from);
  }
  if (d) d->w = self;
  return 1;
}

// A row dropped on a window: one undo step in which that window shows the
// stock's depth at the dragged time with its tool panel.
int tl_drag_release(widget *, widget *target, int32_t, int32_t, int, drag_record *) {
  widget *p = target;
  while (p && !window_is(p)) p = p->parent;
  if (!p || dnd_kind() != DND_STOCK || !dnd_instrument()) return 0;
  auto *w = static_cast<window *>(p);
  undo_begin();
  undo_push_window(w);
  show_depth_at(w, dnd_instrument(), dnd_time());
  undo_end();
  return 1;
}

void tl_set_instr(widget *self, instr *in) { tradelist_set_instrument(tradelist_cast(self), in); }

// Undo: the settings the user changes, copied and put back through the
// setters (each queues its rebuild), and the time the list shows, which
// the panel's chart moves (an undo of a chart click puts it back).
struct saved_settings {
  uint32_t off_market, vwap_only, pre_open, closed, group_by_seconds, group_by_price;
  ss_time range_from, range_to;
  ss_time position;
};

void *undo_save(void *object) {
  const auto *t = static_cast<const tradelist *>(object);
  return new saved_settings{t->off_market,       t->vwap_only,      t->pre_open,   t->closed,
                            t->group_by_seconds, t->group_by_price, t->range_from, t->range_to,
                            t->position};
}

int undo_restore(void *saved, void *object) {
  auto *v = static_cast<const saved_settings *>(saved);
  auto *t = static_cast<tradelist *>(object);
  tradelist_set_off_market(t, v->off_market);
  tradelist_set_vwap_only(t, v->vwap_only);
  tradelist_set_pre_open(t, v->pre_open);
  tradelist_set_closed(t, v->closed);
  if (v->group_by_price)
    tradelist_set_group_by_price(t, 1);
  else if (v->group_by_seconds)
    tradelist_set_group_by_seconds(t, v->group_by_seconds);
  else
    tradelist_set_no_grouping(t);
  tradelist_set_range(t, v->range_from, v->range_to);
  if (t->position != v->position) tradelist_set_position(t, v->position);
  return 0;
}

void undo_release(void *saved, int) { delete static_cast<saved_settings *>(saved); }

const undo_record_ops kUndoOps = {undo_save, undo_restore, undo_release};

void tl_init(object *o) {
  auto *t = reinterpret_cast<tradelist *>(o);
  t->off_market = 1;
  t->pre_open = 1;
  t->closed = 1;
  t->timer = -1;
  cols_init(&t->columns, kWidthCodes, kColumnSets);
  cols_set_hidden(&t->columns, kTlHideNone);
  fade_owner_add(&t->flash, flash_done);
}

void tl_fini(object *o) {
  auto *t = reinterpret_cast<tradelist *>(o);
  cancel_deferred(t);
  clear_rows(t);
  stop_timer(t);
  drop_registration(t);
  fade_owner_remove(&t->flash);
  cols_fini(&t->columns);
}

void tl_class_init(object_class *rec) {
  auto *c = static_cast<content_class *>(rec);
  c->geometry_changed = tl_geometry_changed;
  c->draw = tl_draw;
  c->restyle = tl_restyle;
  c->show_children = tl_show_children;
  c->hide_children = tl_hide_children;
  c->release = tl_release;
  c->motion = tl_motion;
  c->leave = tl_leave;
  c->drag_begin = tl_drag_begin;
  c->drag_release = tl_drag_release;
  c->set_instr = tl_set_instr;
  undo_register_type(UNDO_TRADELIST, &kUndoOps);
  if (!S.pool_ready && pool_init(&S.rows, kTradelistRowsPerPage, sizeof(tradelist_row)) == 0) S.pool_ready = 1;
}

void tl_class_fini(object_class *) {
  if (S.pool_ready) pool_destroy(&S.rows);
  S.pool_ready = 0;
}

typeid_t register_tradelist() {
  return object_register_class("tradelist", content_type(), sizeof(tradelist), tl_init, tl_fini,
                               sizeof(content_class), tl_class_init, tl_class_fini);
}

}  // namespace

typeid_t tradelist_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_tradelist);
}

widget *tradelist_new(widget *parent) {
  auto *t = static_cast<tradelist *>(widget_new(parent, tradelist_type()));
  if (t) t->name = "tradelist";
  return t;
}
