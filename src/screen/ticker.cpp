// Tickers: scrolling strips of market events and fired alerts. Items come
// from one pool shared by every ticker; an item waits in its ticker's queue
// until the last visible item has cleared the right edge, then enters there
// and scrolls left. A ticker keeps one start time and one speed: the first
// item's place is computed from them on every pass, and each later item
// keeps a fixed offset from the one before, so the motion does not depend
// on how often passes come. The speed steps up with the backlog at once and
// steps down only when the queue has fallen five below the threshold of the
// lower step, so it does not flutter at a boundary.
#include "screen/ticker.h"

#include <cmath>
#include <cstring>

#include "action.h"
#include "config/config.h"
#include "config/enum.h"
#include "dalloc.h"
#include "dnd.h"
#include "lib/colour.h"
#include "lib/filter.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/gmap.h"
#include "log.h"
#include "pool.h"
#include "popups/hover.h"
#include "popups/place.h"
#include "popups/popups.h"
#include "screen/desktop.h"
#include "screen/screen.h"
#include "screen/tickbar.h"
#include "ssalert.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "ssuser.h"
#include "ssutil.h"
#include "style.h"
#include "ui/gui.h"
#include "ui/key.h"
#include "undo.h"
#include "windows/alerts.h"
#include "windows/window.h"

static const char kSrc[] = "src/screen/ticker";
constexpr int kItemsPerPage = 100;
constexpr int32_t kBadgeGap = 10;
constexpr uint32_t kTypeQuote = 0x20;
constexpr uint32_t kTypeMove = 0x1;
constexpr uint32_t kTypeTrades[3] = {0x20000, 0x40000, 0x100000};
constexpr uint32_t kTypeTradeAny = 0x20000 | 0x40000 | 0x100000;
constexpr uint32_t kTypeNews = 0x200000;
constexpr uint32_t kTypeIndex = 0x400000;

// The backlog table: the first threshold not below the queue length picks
// the speed factor (times the frame rate).
constexpr int32_t kThresholds[] = {5, 10, 15, 25, 30, 40, 50, 60, 70, 100, 150, 200, 300, 999999};
constexpr int32_t kFactors[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15, 20, 30, 50};
constexpr int32_t kHysteresis = 5;

static struct {
  pool items;
  int32_t in_use;
  bool ready;
  int64_t (*clock)(void);
  int32_t (*text_width)(const char *, int32_t);
  int (*may_see)(int32_t);
} T;

static int64_t now_ms() { return T.clock ? T.clock() : gui_time_ms(); }
static double now_seconds() { return double(now_ms()) / 1000.0; }

static int32_t text_width(const char *text, int32_t font) {
  if (T.text_width) return T.text_width(text, font);
  int32_t size[2];
  font_text_size(size, font, text);
  return size[0];
}

void ticker_set_clock(int64_t (*fn)(void)) { T.clock = fn; }
void ticker_set_text_width(int32_t (*fn)(const char *, int32_t)) { T.text_width = fn; }
void ticker_set_permission(int (*fn)(int32_t)) { T.may_see = fn; }
int32_t ticker_items_in_use(void) { return T.in_use; }

static bool may_see(int32_t i) { return i == kExchangeGlb || (T.may_see ? T.may_see(i) : ssuser_exchange_permitted(i)); }

int32_t ticker_speed_factor(int32_t queued) {
  for (size_t i = 0; i < sizeof kThresholds / sizeof kThresholds[0]; i++)
    if (kThresholds[i] >= queued) return kFactors[i];
  return kFactors[sizeof kFactors / sizeof kFactors[0] - 1];
}

static ticker *as_ticker(widget *w) { return static_cast<ticker *>(w); }

// ---- items ----

static void free_item(ticker_item *it) {
  if (it->glyphs) gmap_delete(it->glyphs);
  pool_free(&T.items, it);
  T.in_use--;
}

static void unlink_item(ticker_item *&head, ticker_item *&tail, ticker_item *it) {
  (it->prev ? it->prev->next : head) = it->next;
  (it->next ? it->next->prev : tail) = it->prev;
  it->prev = it->next = nullptr;
}

static void append_item(ticker_item *&head, ticker_item *&tail, ticker_item *it) {
  it->prev = tail;
  it->next = nullptr;
  (tail ? tail->next : head) = it;
  tail = it;
}

static void free_list(ticker_item *&head, ticker_item *&tail) {
  while (head) {
    ticker_item *it = head;
    unlink_item(head, tail, it);
    free_item(it);
  }
}

void ticker_reset(ticker *t) {
  free_list(t->first, t->last);
  free_list(t->queue_first, t->queue_last);
  t->queued = 0;
  widget_redraw(t);
}

int ticker_is_idle(const ticker *t) { return t->first == nullptr; }

int32_t ticker_visible_count(const ticker *t) {
  int32_t n = 0;
  for (const ticker_item *it = t->first; it; it = it->next) n++;
  return n;
}

static int32_t default_exchange() { return alerts_default_exchange(); }

// The item's colours from the current style: the defaults, then the kind's.
static void colour_item(ticker_item *it) {
  const style *s = style_cur();
  const colour text = s ? style_colour(s, SC_TEXT) : 0xffffffffu;
  const colour up = s ? style_colour(s, SC_UP) : 0xff00ff00u;
  const colour down = s ? style_colour(s, SC_DOWN) : 0xff0000ffu;
  const colour alert = s ? style_colour(s, SC_WARNING) : 0xff00ffffu;
  const colour news = s ? style_colour(s, SC_LINK) : 0xffffff00u;
  it->code_colour = colour_darken(text, 15);
  it->value_colour = text;
  it->change_colour = colour_darken(text, 50);
  const colour news_value = it->sensitive ? colour_lighten(news, 50) : news;
  switch (it->kind) {
    case TICK_QUOTE:
      it->value_colour = up;
      it->change_colour = down;
      break;
    case TICK_MOVE: it->change_colour = it->change >= 1 ? up : down; break;
    case TICK_INDEX: it->change_colour = it->change >= 0 ? up : down; break;
    case TICK_NEWS: it->value_colour = news_value; break;
    case TICK_ALERT_LOW:
      it->code_colour = alert;
      it->value_colour = down;
      break;
    case TICK_ALERT_HIGH:
    case TICK_ALERT_INDEX_LOW:
    case TICK_ALERT_INDEX_HIGH:
      it->code_colour = alert;
      it->value_colour = up;
      break;
    case TICK_ALERT_VOLUME: it->code_colour = alert; break;
    case TICK_ALERT_NEWS:
      it->code_colour = alert;
      it->value_colour = news_value;
      break;
    default: break;
  }
}

// The three texts of an item (copied: the formatters share one buffer).
struct item_texts {
  char code[96], value[96], second[32];
};

// The issuer an item's announcement belongs to: the issuer itself, or a
// stock's issuer.
static instr *news_issuer_of(instr *in) {
  if (!in || in->kind == kKindIssuer) return in;
  if (in->kind != kKindStock || !in->exchange) return nullptr;
  const ss_stock *s = static_cast<const ss_stock *>(in);
  return ssmodel_find_issuer(in->exchange, s->issuer[0] ? s->issuer : s->code);
}

// Closes the hover preview the ticker opened.
static void hide_preview(ticker *t) {
  if (!t->previewing) return;
  t->previewing = 0;
  popups_hover_end(t);
}

// The item's announcement, if the issuer still has it.
static ss_news *news_of(const ticker_item *it) {
  if (!it->news_number || !it->instrument || it->instrument->kind != kKindIssuer) return nullptr;
  return ssmodel_find_news(it->instrument, it->news_number);
}

static void texts_of(const ticker_item *it, item_texts *out) {
  const instr *in = it->instrument;
  const char *code = in ? in->code : "";
  if ((it->kind == TICK_INDEX || it->kind == TICK_NEWS) && in && in->name1 && in->name1[0]) code = in->name1;
  snprintf(out->code, sizeof out->code, "%s", code);
  out->value[0] = out->second[0] = 0;
  const ss_news *item = news_of(it);
  const char *headline = item ? item->headline : "";
  switch (it->kind) {
    case TICK_TRADE:
      snprintf(out->value, sizeof out->value, "%s", fmt_price(it->price));
      snprintf(out->second, sizeof out->second, "%s", fmt_volume_short(it->volume));
      break;
    case TICK_QUOTE:
      snprintf(out->value, sizeof out->value, "%s", fmt_price(it->bid));
      snprintf(out->second, sizeof out->second, "%s", fmt_price(it->offer));
      break;
    case TICK_MOVE:
      snprintf(out->value, sizeof out->value, "%s", fmt_price(it->price));
      snprintf(out->second, sizeof out->second, "%s", fmt_change_trimmed(it->change));
      break;
    case TICK_INDEX:
      snprintf(out->value, sizeof out->value, "%s", fmt_price(it->price));
      snprintf(out->second, sizeof out->second, "%s", fmt_change_ticker(it->change));
      break;
    case TICK_NEWS:
    case TICK_ALERT_NEWS: snprintf(out->value, sizeof out->value, "%s", headline); break;
    case TICK_ALERT_LOW:
    case TICK_ALERT_HIGH:
    case TICK_ALERT_INDEX_LOW:
    case TICK_ALERT_INDEX_HIGH: snprintf(out->value, sizeof out->value, "%s", fmt_price(it->price)); break;
    case TICK_ALERT_VOLUME: snprintf(out->value, sizeof out->value, "%s", fmt_volume_short(it->volume)); break;
    default: break;
  }
}

static char badge_letter(const ticker_item *it) {
  const instr *in = it->instrument;
  const ss_exchange_row *row = in && in->exchange ? ssmodel_exchange_row(int32_t(in->exchange->index)) : nullptr;
  return row ? row->letter : '?';
}

static int32_t badge_width(const ticker *t) {
  return text_width("W", t->font) + 4;
}

// Lays the item's texts out into its glyph map (segments: code, value,
// second) and sets its widths. Positions are relative to the item's left
// edge and the ticker's top.
static void layout_item(ticker *t, ticker_item *it) {
  item_texts tx;
  texts_of(it, &tx);
  colour_item(it);
  const int32_t baseline = t->line + t->descent - 1;
  int32_t x = t->em;
  int32_t code_w = text_width(tx.code, t->font);
  if (it->other_exchange) code_w += kBadgeGap + badge_width(t);
  it->code_width = code_w;
  int32_t value_x = x + code_w + t->em;
  int32_t value_w = text_width(tx.value, t->font);
  int32_t second_x = value_x + value_w + (tx.second[0] ? t->em / 2 : 0);
  int32_t second_w = tx.second[0] ? text_width(tx.second, t->font) : 0;
  int32_t extent = second_x + second_w - x;
  it->width = extent + 2 * t->em;
  gmap *m = it->glyphs;
  if (!m) return;
  gmap_clear(m);
  gmap_begin(m, uint32_t((strlen(tx.code) + strlen(tx.value) + strlen(tx.second)) * 8 + 24));
  font_layout(m, tx.code, x, baseline, 0, t->font, nullptr);
  gmap_mark(m);
  font_layout(m, tx.value, value_x, baseline, 0, t->font, nullptr);
  gmap_mark(m);
  if (tx.second[0]) font_layout(m, tx.second, second_x, baseline, 0, t->font, nullptr);
  gmap_mark(m);
  gmap_end(m);
}

static ticker_item *new_item(ticker *t) {
  ticker_item *it = T.ready ? static_cast<ticker_item *>(pool_alloc(&T.items)) : nullptr;
  if (!it) {
    log(LOG_ERROR, kSrc, "can't alloc ticker item");
    return nullptr;
  }
  *it = ticker_item{};
  it->glyphs = gmap_new(GMAP_QUADS, 200, 4);
  if (!it->glyphs) {
    log(LOG_ERROR, kSrc, "can't alloc ticker gmap");
    pool_free(&T.items, it);
    return nullptr;
  }
  T.in_use++;
  (void)t;
  return it;
}

// Copies what the kind shows from the event (or leaves the values the
// caller set for an alert item).
static void fill_item(ticker_item *it, uint32_t kind, instr *in, const ss_ev_alert *ev) {
  it->kind = kind;
  it->instrument = in;
  it->other_exchange = in && in->exchange && int32_t(in->exchange->index) != default_exchange();
  it->seen = 0;
  if (!ev) return;
  switch (kind) {
    case TICK_TRADE:
      it->price = ev->trade ? ev->trade->price : ev->last;
      it->volume = ev->trade ? ev->trade->volume : 0;
      break;
    case TICK_QUOTE:
      it->bid = ev->bid;
      it->offer = ev->offer;
      break;
    case TICK_MOVE:
      it->price = in && in->kind == kKindIndex ? ev->index_value : ev->last;
      it->change = ev->change;
      break;
    case TICK_INDEX:
      it->price = ev->index_value;
      it->change = ev->change;
      break;
    case TICK_NEWS:
      it->news_number = ev->news ? ev->news->number : 0;
      it->sensitive = ev->news && (ev->news->flags & kNewsFlag1);
      break;
    default: break;
  }
}

// Queues an item; kinds 2-4 replace a queued item of the same kind and
// instrument (moving it to the queue's end), and a trade at the price of
// the instrument's newest queued trade adds its volume to that one.
static ticker_item *queue_item(ticker *t, uint32_t kind, instr *in, const ss_ev_alert *ev, int *rc) {
  *rc = 0;
  ticker_item *it = nullptr;
  if (kind == TICK_QUOTE || kind == TICK_MOVE || kind == TICK_INDEX) {
    for (ticker_item *q = t->queue_first; q; q = q->next)
      if (q->kind == kind && q->instrument == in) {
        it = q;
        break;
      }
    if (it) {
      unlink_item(t->queue_first, t->queue_last, it);
      t->queued--;
    }
  } else if (kind == TICK_TRADE && ev) {
    for (ticker_item *q = t->queue_last; q; q = q->prev)
      if (q->kind == TICK_TRADE && q->instrument == in) {
        uint32_t price = ev->trade ? ev->trade->price : ev->last;
        if (q->price == price) {
          q->volume += ev->trade ? ev->trade->volume : 0;
          return nullptr;
        }
        break;
      }
  }
  if (!it) {
    it = new_item(t);
    if (!it) {
      *rc = -1;
      return nullptr;
    }
  }
  fill_item(it, kind, in, ev);
  append_item(t->queue_first, t->queue_last, it);
  t->queued++;
  return it;
}

int ticker_add_item(ticker *t, uint32_t kind, instr *in, const ss_ev_alert *event) {
  int rc;
  queue_item(t, kind, in, event, &rc);
  return rc;
}

static ticker_item *add_alert(ticker *t, uint32_t kind, instr *in) {
  if (!t || t->mode != 1) return nullptr;
  int rc;
  return queue_item(t, kind, in, nullptr, &rc);
}

int ticker_add_alert_low(ticker *t, instr *in, uint32_t price) {
  bool index = in && in->kind == kKindIndex;
  ticker_item *it = add_alert(t, index ? TICK_ALERT_INDEX_LOW : TICK_ALERT_LOW, in);
  if (!it) return -1;
  it->price = price;
  return 0;
}

int ticker_add_alert_high(ticker *t, instr *in, uint32_t price) {
  bool index = in && in->kind == kKindIndex;
  ticker_item *it = add_alert(t, index ? TICK_ALERT_INDEX_HIGH : TICK_ALERT_HIGH, in);
  if (!it) return -1;
  it->price = price;
  return 0;
}

int ticker_add_alert_volume(ticker *t, instr *in, uint64_t volume) {
  ticker_item *it = add_alert(t, TICK_ALERT_VOLUME, in);
  if (!it) return -1;
  it->volume = volume;
  return 0;
}

static instr *issuer_of(instr *in) {
  if (!in || in->kind != kKindStock || !in->exchange) return nullptr;
  const ss_stock *s = static_cast<const ss_stock *>(in);
  return ssmodel_find_issuer(in->exchange, s->issuer[0] ? s->issuer : in->code);
}

int ticker_add_alert_news(ticker *t, instr *in, ss_news *item) {
  instr *issuer = issuer_of(in);
  ticker_item *it = add_alert(t, TICK_ALERT_NEWS, issuer ? issuer : in);
  if (!it) return -1;
  it->news_number = item ? item->number : 0;
  it->sensitive = item && (item->flags & kNewsFlag1);
  return 0;
}

void ticker_mark_alert_seen(ticker *t, instr *in) {
  instr *issuer = issuer_of(in);
  bool any = false;
  for (ticker_item *lists : {t->first, t->queue_first})
    for (ticker_item *it = lists; it; it = it->next)
      if (it->instrument == in || (issuer && it->instrument == issuer)) {
        it->seen = 1;
        any = true;
      }
  if (any) widget_redraw(t);
}

// ---- market events ----

// Whether x lies within the bounds (all ones: no bound on that side).
template <class V>
static bool within(V x, V lo, V hi) {
  if (lo != V(~V(0)) && x < lo) return false;
  if (hi != V(~V(0)) && x > hi) return false;
  return true;
}

static bool trade_passes(const ticker *t, const instr *in, uint32_t price, uint64_t volume) {
  if (!within<uint32_t>(price, t->min_price, t->max_price)) return false;
  if (!within<uint64_t>(volume, t->min_volume, t->max_volume)) return false;
  if (t->min_value == kTickerNoBound && t->max_value == kTickerNoBound) return true;
  uint32_t mult = 1;
  if (in->kind == kKindStock) mult = static_cast<const ss_stock *>(in)->multiplier;
  if (mult < 1) mult = 1;
  // price x volume x multiplier x 100 passes 64 bits for large trades.
  unsigned __int128 v = (unsigned __int128)price * volume * mult * 100 / 10000;
  uint64_t value = v > (unsigned __int128)(~0ull - 1) ? ~0ull - 1 : uint64_t(v);
  return within<uint64_t>(value, t->min_value, t->max_value);
}

int ticker_take_event(ticker *t, instr *in, const ss_ev_alert *ev) {
  if (!in || !in->exchange || !ev) return 0;
  const uint32_t ex = in->exchange->index;
  if (ex >= 4 || !t->exchanges[ex]) return 0;
  if (ex == kExchangeAxo && !(t->instr_filter & 0x2)) return 0;
  if (t->group_filter && !filter_is_empty(t->group_filter) && !filter_match_instr(t->group_filter, in)) return 0;
  int added = 0, rc;
  const uint32_t code = ev->code;
  if ((code & kTypeTradeAny) && t->trade_filter) {
    uint32_t price = ev->trade ? ev->trade->price : 0;
    uint64_t volume = ev->trade ? ev->trade->volume : 0;
    if (price && trade_passes(t, in, price, volume)) {
      queue_item(t, TICK_TRADE, in, ev, &rc);
      added++;
    }
  }
  if ((code & kTypeQuote) && (t->quote_filter & 1)) {
    queue_item(t, TICK_QUOTE, in, ev, &rc);
    added++;
  }
  if ((code & kTypeMove) && (t->quote_filter & 2)) {
    bool has = in->kind == kKindStock ? (ev->last != 0 && ev->last != kTickerNoPrice)
                                      : (in->kind == kKindIndex && ev->index_value != 0);
    if (has) {
      queue_item(t, TICK_MOVE, in, ev, &rc);
      added++;
    }
  }
  if ((code & kTypeNews) && ev->news) {
    const uint32_t flags = ev->news->flags;
    bool take;
    if (t->news_filter & 1)
      take = flags & kNewsFlag1;
    else
      take = ((t->news_filter & 2) || !(flags & kNewsFlag4)) &&
             ((t->news_filter & 4) || (flags & kNewsFlag1) || !ssutil_news_codes_in_set(ev->news));
    if (take) {
      queue_item(t, TICK_NEWS, in, ev, &rc);
      added++;
    }
  }
  if ((code & kTypeIndex) && in->kind == kKindIndex) {
    const ss_index *x = static_cast<const ss_index *>(in);
    uint32_t bit = ssutil_is_benchmark_index(x) ? 1 : ssutil_is_sector_index(x) ? 2 : 4;
    if (t->index_filter & bit) {
      queue_item(t, TICK_INDEX, in, ev, &rc);
      added++;
    }
  }
  return added ? 1 : 0;
}

static void on_alerts(const ss_change *change, void *owner, uint64_t, uint32_t) {
  ticker *t = static_cast<ticker *>(owner);
  for (uint32_t i = 0; i < change->count; i++) {
    const ss_event *e = change->events[i];
    if (!e || e->kind != kEvAlert) continue;
    const ss_ev_alert *a = static_cast<const ss_ev_alert *>(e->payload);
    if (a->filter != t->subscription) continue;
    ticker_take_event(t, change->instrument, a);
  }
}

// ---- subscription ----

void ticker_update_subscription(ticker *t) {
  ssalert_filter *f = t->subscription;
  if (!f) return;
  ssalert_clear_types(f);
  ssalert_clear_kinds(f);
  ssalert_clear_conds(f);
  if (!(t->instr_filter & 1)) ssalert_add_conds(f, kAlertCondIndex);
  if (!(t->instr_filter & 2)) ssalert_add_conds(f, kAlertCondPlain);
  if (t->instr_filter & 4) ssalert_add_kinds(f, kAlertCondHeld);
  if (t->instr_filter & 1) ssalert_add_types(f, kTypeIndex);
  if (t->trade_filter >= 1 && t->trade_filter <= 3) ssalert_add_types(f, kTypeTrades[t->trade_filter - 1]);
  if (t->quote_filter & 1) ssalert_add_types(f, kTypeQuote);
  if (t->quote_filter & 2) ssalert_add_types(f, kTypeMove);
  if (t->news_filter) ssalert_add_types(f, kTypeNews);
}

static void update_later(void *arg, int) { ticker_update_subscription(static_cast<ticker *>(arg)); }
static void queue_update(ticker *t) { gui_promise(update_later, t, 0); }

static void subscribe(ticker *t, bool on) {
  if (t->mode != 0 || !t->subscription || (t->subscribed != 0) == on) return;
  if (on) {
    ticker_update_subscription(t);
    ssalert_register(t->subscription);
    ssnotify_add_wild(kTickerAlertMask, on_alerts, t, 0, 0);
  } else {
    ssalert_unregister(t->subscription);
    ssnotify_remove_wild(t);
  }
  t->subscribed = on;
}

// ---- show types ----

uint32_t ticker_auto_visible(const ticker *t) {
  for (int32_t i = 0; i < kExchanges; i++) {
    if (!t->exchanges[i]) continue;
    uint32_t p = ssmodel_exchange_phase(i);
    if (p == 10 || p == 20 || p == 30 || p == 40) return 2;
  }
  return 0;
}

static widget *bar_of(ticker *t) { return t->parent; }

static void apply_type(ticker *t) {
  uint32_t type = t->show_type == TICKER_SHOW_AUTO ? ticker_auto_visible(t) : t->show_type;
  widget *bar = bar_of(t);
  if (!bar || !tickbar_of(bar)) return;
  if (type == TICKER_SHOW_SHOW)
    tickbar_show_ticker(bar, t);
  else
    tickbar_hide_ticker(bar, t);
}

void ticker_set_show(ticker *t, uint32_t type) {
  t->show_type = type > 2 ? 2 : type;
  t->next_auto_check = now_ms() + kTickerAutoCheckMs;
  apply_type(t);
}

uint32_t ticker_get_show(const ticker *t) { return t->show_type; }
uint32_t ticker_get_mode(const ticker *t) { return t->mode; }

static void apply_later(void *arg, int) { ticker_apply_show_type(static_cast<ticker *>(arg)); }

void ticker_apply_show_type(ticker *t) {
  int n = screen_index_of(t);
  bool pushed = n >= 0 && screen_push(n);
  apply_type(t);
  if (pushed) screen_pop();
}

// ---- filters ----

#define TICKER_SETTER(name, field)                     \
  void ticker_set_##name(ticker *t, uint32_t v) {      \
    if (t->field == v) return;                         \
    t->field = v;                                      \
    queue_update(t);                                   \
  }                                                    \
  void ticker_set_##name##_bit(ticker *t, uint32_t bits, int on) { \
    ticker_set_##name(t, on ? (t->field | bits) : (t->field & ~bits)); \
  }                                                    \
  uint32_t ticker_get_##name(const ticker *t) { return t->field; }

TICKER_SETTER(instr_filter, instr_filter)
TICKER_SETTER(index_filter, index_filter)
TICKER_SETTER(news_filter, news_filter)
TICKER_SETTER(quote_filter, quote_filter)
#undef TICKER_SETTER

void ticker_set_trade_filter(ticker *t, uint32_t v) {
  if (t->trade_filter == v) return;
  t->trade_filter = v;
  queue_update(t);
}
uint32_t ticker_get_trade_filter(const ticker *t) { return t->trade_filter; }

void ticker_set_exchange(ticker *t, int i, int on) {
  if (i < 0 || i >= kExchanges) return;
  uint8_t v = on && may_see(i) ? 1 : 0;
  if (t->exchanges[i] == v) return;
  t->exchanges[i] = v;
  queue_update(t);
}
int ticker_get_exchange(const ticker *t, int i) { return i >= 0 && i < kExchanges ? t->exchanges[i] : 0; }

filter *ticker_group_filter(ticker *t) {
  if (!t->group_filter) t->group_filter = filter_alloc();
  return t->group_filter;
}
int ticker_has_group_filter(const ticker *t) { return t->group_filter && !filter_is_empty(t->group_filter); }

// The filters pick what enters from now on; what is already visible or
// queued stays until it leaves.
void ticker_refilter(ticker *t) { ticker_update_subscription(t); }

void ticker_set_min_price(ticker *t, uint32_t v) { t->min_price = v; }
void ticker_set_max_price(ticker *t, uint32_t v) { t->max_price = v; }
void ticker_set_min_volume(ticker *t, uint64_t v) { t->min_volume = v; }
void ticker_set_max_volume(ticker *t, uint64_t v) { t->max_volume = v; }
void ticker_set_min_value(ticker *t, uint64_t v) { t->min_value = v; }
void ticker_set_max_value(ticker *t, uint64_t v) { t->max_value = v; }
uint32_t ticker_get_min_price(const ticker *t) { return t->min_price; }
uint32_t ticker_get_max_price(const ticker *t) { return t->max_price; }
uint64_t ticker_get_min_volume(const ticker *t) { return t->min_volume; }
uint64_t ticker_get_max_volume(const ticker *t) { return t->max_volume; }
uint64_t ticker_get_min_value(const ticker *t) { return t->min_value; }
uint64_t ticker_get_max_value(const ticker *t) { return t->max_value; }

// ---- undo ----
// A ticker's record: its show type, exchanges, filters and bounds, put back
// through the setters.

struct ticker_settings {
  uint32_t show_type;
  uint8_t exchanges[4];
  uint32_t instr_filter, index_filter, trade_filter, news_filter, quote_filter;
  uint32_t min_price, max_price;
  uint64_t min_volume, max_volume, min_value, max_value;
};

static void *save_settings(void *object) {
  const ticker *t = static_cast<const ticker *>(object);
  auto *c = static_cast<ticker_settings *>(dalloc_alloc(sizeof(ticker_settings)));
  *c = ticker_settings{t->show_type,    {t->exchanges[0], t->exchanges[1], t->exchanges[2], t->exchanges[3]},
                       t->instr_filter, t->index_filter, t->trade_filter, t->news_filter, t->quote_filter,
                       t->min_price,    t->max_price,    t->min_volume,   t->max_volume,  t->min_value,
                       t->max_value};
  return c;
}

static int restore_settings(void *saved, void *object) {
  ticker *t = static_cast<ticker *>(object);
  const ticker_settings *c = static_cast<const ticker_settings *>(saved);
  if (!t) return -1;
  ticker_set_show(t, c->show_type);
  for (int i = 0; i < kExchanges; i++) ticker_set_exchange(t, i, c->exchanges[i]);
  ticker_set_instr_filter(t, c->instr_filter);
  ticker_set_index_filter(t, c->index_filter);
  ticker_set_trade_filter(t, c->trade_filter);
  ticker_set_news_filter(t, c->news_filter);
  ticker_set_quote_filter(t, c->quote_filter);
  ticker_set_min_price(t, c->min_price);
  ticker_set_max_price(t, c->max_price);
  ticker_set_min_volume(t, c->min_volume);
  ticker_set_max_volume(t, c->max_volume);
  ticker_set_min_value(t, c->min_value);
  ticker_set_max_value(t, c->max_value);
  return 0;
}

static void release_settings(void *saved, int) { dalloc_free(saved); }

static const undo_record_ops kTickerOps = {save_settings, restore_settings, release_settings};

// ---- scrolling ----

static void relayout_later(void *arg, int) { tickbar_relayout(static_cast<widget *>(arg)); }

void ticker_freeze(ticker *t, int on) {
  if (t->frozen && !on && t->first) {
    // Nothing jumps: the first item stays where it stood when frozen.
    t->start_time = now_seconds() - double(t->r.x + t->r.w - 1 - t->first->x) / t->speed;
  }
  t->frozen = on ? 1 : 0;
}

void ticker_advance(ticker *t) {
  if (t->frozen) return;
  const int64_t ms = now_ms();
  if (t->show_type == TICKER_SHOW_AUTO && ms >= t->next_auto_check) {
    t->next_auto_check = ms + kTickerAutoCheckMs;
    bool want = ticker_auto_visible(t) == 2;
    if (want != widget_is_shown(t) && bar_of(t)) gui_promise_after_draw(relayout_later, bar_of(t), 0);
  }
  if (!widget_is_shown(t)) return;
  const double now = double(ms) / 1000.0;
  const int32_t R = t->r.x + t->r.w - 1;
  if (t->first) {
    int32_t x = R - int32_t(std::lround((now - t->start_time) * t->speed));
    for (ticker_item *it = t->first; it; it = it->next) {
      x += it->offset;
      it->x = x;
    }
    widget_redraw(t);
  }
  // Off the left edge: unseen alerts wait again at the queue's end.
  while (t->first && t->first->x + t->first->width <= t->r.x) {
    ticker_item *it = t->first;
    unlink_item(t->first, t->last, it);
    if (t->mode == 1 && !it->seen) {
      append_item(t->queue_first, t->queue_last, it);
      t->queued++;
    } else {
      free_item(it);
    }
    if (t->first) {
      t->start_time += double(t->first->offset) / t->speed;
      t->first->offset = 0;
    }
  }
  // Speed from the backlog, stepping down only past the hysteresis.
  size_t i = 0;
  while (i + 1 < sizeof kThresholds / sizeof kThresholds[0] && kThresholds[i] < t->queued) i++;
  const float speed = float(gui_frame_rate() * kFactors[i]);
  if (speed > t->speed || (speed < t->speed && t->queued <= kThresholds[i] - kHysteresis)) {
    t->speed = speed;
    if (t->first) t->start_time = now - double(R - t->first->x) / speed;
  }
  if (t->last && t->last->x + t->last->width >= R) {
    widget_redraw(t);
    return;
  }
  if (!t->queue_first) return;
  ticker_item *it = t->queue_first;
  unlink_item(t->queue_first, t->queue_last, it);
  t->queued--;
  layout_item(t, it);
  ticker_item *prev = t->last;
  append_item(t->first, t->last, it);
  if (prev) {
    it->offset = R - prev->x;
  } else {
    it->offset = 0;
    t->start_time = now;
  }
  it->x = R;
  widget_redraw(t);
}

ticker_item *ticker_item_at(ticker *t, int32_t x, int32_t y) {
  if (y < t->r.y || y >= t->r.y + t->r.h) return nullptr;
  for (ticker_item *it = t->first; it; it = it->next)
    if (x >= it->x && x < it->x + it->width) return it;
  return nullptr;
}

// ---- the widget ----

static void t_reqsize(widget *self, size *out) {
  ticker *t = as_ticker(self);
  *out = {0, t->line + 2 * t->descent + 2};
}

static void read_metrics(ticker *t) {
  const style *s = style_cur();
  t->font = s ? s->font[0] : 0;
  int32_t ascent = 0, descent = 0, em = 0;
  font_metrics(&em, nullptr, &ascent, &descent, t->font);
  if (T.text_width) em = T.text_width("M", t->font);
  t->em = em > 0 ? em : 8;
  t->descent = descent > 0 ? descent : 3;
  t->line = ascent + descent > 0 ? ascent + descent : 12;
}

static void t_restyle(widget *self) {
  ticker *t = as_ticker(self);
  read_metrics(t);
  ticker_item *prev = nullptr;
  for (ticker_item *it = t->first; it; it = it->next) {
    layout_item(t, it);
    if (prev && it->x < prev->x + prev->width) it->x = prev->x + prev->width;
    it->offset = prev ? it->x - prev->x : 0;
    prev = it;
  }
  widget_redraw(t);
}

static void t_draw(widget *self) {
  ticker *t = as_ticker(self);
  const style *s = style_cur();
  gfx_fill_rect(t->r.x, t->r.y, t->r.w, t->r.h, s ? style_colour(s, SC_BACKGROUND) : 0xff000000u);
  const int32_t R = t->r.x + t->r.w - 1;
  for (ticker_item *it = t->first; it && it->x <= R; it = it->next) {
    if (it->seen || !it->glyphs || gmap_count(it->glyphs) == 0) continue;
    if (it->other_exchange) {
      char letter[2] = {badge_letter(it), 0};
      int32_t bx = it->x + t->em + text_width(it->instrument ? it->instrument->code : "", t->font) + kBadgeGap;
      int32_t bw = badge_width(t);
      gfx_fill_rect(bx, t->r.y + t->descent, bw, t->line, it->code_colour);
      font_draw(letter, bx + bw / 2, t->r.y + t->descent + t->line - 2, 0x2, t->font, s ? style_colour(s, SC_BACKGROUND) : 0xff000000u, nullptr);
    }
    const colour c[3] = {it->code_colour, it->value_colour, it->change_colour};
    for (int32_t seg = 0; seg < 3; seg++) {
      gfx_colour(c[seg]);
      gmap_draw_segment_at(it->glyphs, seg, it->x, t->r.y);
    }
  }
}

static void t_show_children(widget *self) {
  ticker *t = as_ticker(self);
  subscribe(t, true);
}

static void t_hide_children(widget *self) {
  ticker *t = as_ticker(self);
  subscribe(t, false);
  if (t->mode == 0) ticker_reset(t);
}

static int t_drag_begin(widget *self, int32_t x, int32_t y, int, drag_record *d) {
  ticker *t = as_ticker(self);
  ticker_item *it = ticker_item_at(t, x, y);
  if (!it || !it->instrument) return 0;
  if (ss_news *item = news_of(it))
    dnd_begin_news(it->instrument, item);
  else
    dnd_begin_instr(it->instrument);
  d->w = self;
  ticker_freeze(t, 0);
  hide_preview(t);
  return 1;
}

static void t_release(widget *self, int32_t x, int32_t y, int button) {
  ticker *t = as_ticker(self);
  if (button != 1) {
    if (t->parent) t->parent->cls->release(t->parent, x, y, button);
    return;
  }
  ticker_item *it = ticker_item_at(t, x, y);
  if (!it) return;
  hide_preview(t);
  if (t->mode == 0) {
    // Shift shows the instrument in every window; an announcement opens in
    // the popup document.
    if ((key_modifiers() & 4) && it->instrument) {
      action_show_everywhere(it->instrument);
    } else if (it->news_number && it->instrument) {
      instr *issuer = news_issuer_of(it->instrument);
      ss_news *n = issuer ? ssmodel_find_news(issuer, it->news_number) : nullptr;
      if (n) screen_show_news_popup(issuer, n, 0);
    }
    return;
  }
  if (!it->seen) {
    it->seen = 1;
    alerts_clear_fired_marks(nullptr);
    if (desktop *d = screen_current_desktop())
      for (window *w : desktop_windows(d))
        if (window_get_role(w) == kRoleAlerts) {
          alerts_select(window_get_content(w, kRoleAlerts), it->instrument);
          window_show_tools(w);
        }
    widget_redraw(t);
  }
}

// Hover: a slow pointer over an item freezes the ticker and previews the
// item (a stock's depth, another instrument's day chart) beside it; a
// faster one, a pressed button or leaving closes the preview, and leaving
// thaws the ticker.
static void t_motion(widget *self, int32_t x, int32_t y) {
  ticker *t = as_ticker(self);
  if (gui_mouse_buttons()) {
    hide_preview(t);
    return;
  }
  const style *st = style_cur();
  const float show_below = st ? st->real[1] : 2.0f, keep_below = st ? st->real[0] : 7.0f;
  const float speed = gui_mouse_speed();
  if (speed >= (t->previewing ? keep_below : show_below)) {
    if (t->previewing && speed >= keep_below) hide_preview(t);
    return;
  }
  ticker_item *it = ticker_item_at(t, x, y);
  if (!it) return;
  ticker_freeze(t, 1);
  popups_set_owner(t);
  instr *in = it->instrument;
  if (in && in->kind == kKindIssuer && in->exchange) in = ssmodel_find_stock(in->exchange, in->code);
  if (it->seen || !in) {
    hide_preview(t);
    return;
  }
  const rect cell = {it->x, t->r.y, it->width, t->r.h};
  popups_set_anchor_rect(&cell, kSideCentre | kSideBelow, 0);
  if (in->kind == kKindStock)
    popups_push_depth(in, 0);
  else
    popups_push_day_chart(in, 0);
  t->previewing = 1;
}

static void t_leave(widget *self) {
  ticker *t = as_ticker(self);
  ticker_freeze(t, 0);
  hide_preview(t);
}

static void t_init(object *o) {
  ticker *t = reinterpret_cast<ticker *>(o);
  t->speed = float(gui_frame_rate());
  t->show_type = TICKER_SHOW_HIDE;
  for (uint8_t &e : t->exchanges) e = 1;
  t->instr_filter = 3;
  t->index_filter = 7;
  t->trade_filter = 0;
  t->quote_filter = 2;
  t->news_filter = 4;
  t->min_price = t->max_price = kTickerNoPrice;
  t->min_volume = t->max_volume = t->min_value = t->max_value = kTickerNoBound;
  read_metrics(t);
}

static void t_fini(object *o) {
  ticker *t = reinterpret_cast<ticker *>(o);
  subscribe(t, false);
  gui_promise_cancel(update_later, t);
  gui_promise_cancel(apply_later, t);
  free_list(t->first, t->last);
  free_list(t->queue_first, t->queue_last);
  t->queued = 0;
  if (t->group_filter) filter_free(t->group_filter);
  t->group_filter = nullptr;
}

static void ticker_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->reqsize = t_reqsize;
  c->restyle = t_restyle;
  c->draw = t_draw;
  c->show_children = t_show_children;
  c->hide_children = t_hide_children;
  c->drag_begin = t_drag_begin;
  c->release = t_release;
  c->leave = t_leave;
  c->motion = t_motion;
}

static void ticker_class_fini(object_class *) {
  if (T.ready) pool_destroy(&T.items);
  T.ready = false;
  T.in_use = 0;
}

static typeid_t register_ticker() {
  if (!T.ready) {
    if (pool_init(&T.items, kItemsPerPage, kTickerItemBytes) < 0) return -1;
    T.ready = true;
  }
  undo_register_type(UNDO_TICKER, &kTickerOps);
  return object_register_class("ticker", widget_type(), sizeof(ticker), t_init, t_fini, sizeof(widget_class),
                               ticker_class_init, ticker_class_fini);
}

typeid_t ticker_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_ticker);
}

ticker *ticker_new(widget *bar, uint32_t mode) {
  ticker *t = static_cast<ticker *>(widget_new(bar, ticker_type()));
  if (!t) return nullptr;
  t->mode = mode;
  if (mode == 0) {
    t->subscription = ssalert_new();
    if (t->subscription) ticker_update_subscription(t);
  } else {
    t->show_type = TICKER_SHOW_SHOW;
    gui_promise_after_draw(apply_later, t, 0);
  }
  return t;
}

// ---- configuration ----

void ticker_save(const ticker *t) {
  config_printf("show_type %s", enum_ticker_show_type_name(int32_t(t->show_type)));
  config_printf("instr_filter %x", t->instr_filter);
  config_printf("index_filter %x", t->index_filter);
  config_printf("trade_filter %x", t->trade_filter);
  config_printf("quote_filter %x", t->quote_filter);
  config_printf("news_filter %x", t->news_filter);
  for (int32_t i = 0; i < kExchanges; i++) {
    if (!t->exchanges[i]) continue;
    if (i == kExchangeAxo && !(t->instr_filter & 0x2)) continue;
    if (const ss_exchange *ex = ssmodel_exchange(i)) config_printf("exchange %E", ex);
  }
  if (t->group_filter) {
    config_printf("group_filter");
    config_out_push("group_filter");
    filter_save(t->group_filter);
    config_out_pop();
  }
  if (t->min_price != kTickerNoPrice) config_printf("min_price %d", int32_t(t->min_price));
  if (t->max_price != kTickerNoPrice) config_printf("max_price %d", int32_t(t->max_price));
  auto u64 = [](const char *fmt, uint64_t v) {
    if (v != kTickerNoBound) config_printf(fmt, static_cast<unsigned long long>(v));
  };
  u64("min_volume %Lu", t->min_volume);
  u64("max_volume %Lu", t->max_volume);
  u64("min_value %Lu", t->min_value);
  u64("max_value %Lu", t->max_value);
}

void ticker_load(ticker *t) {
  if (const char *type = config_get_string("show_type")) {
    int32_t v = enum_ticker_show_type_parse(type);
    if (v >= 0) {
      t->show_type = uint32_t(v);
      gui_promise_after_draw(apply_later, t, 0);
    }
  }
  uint32_t v = config_get_hex("instr_filter");
  if (config_found()) ticker_set_instr_filter(t, v & ~0x4u);
  v = config_get_hex("index_filter");
  if (config_found()) ticker_set_index_filter(t, v);
  v = config_get_hex("trade_filter");
  if (config_found()) ticker_set_trade_filter(t, v);
  v = config_get_hex("quote_filter");
  if (config_found()) ticker_set_quote_filter(t, v);
  v = config_get_hex("news_filter");
  if (config_found()) ticker_set_news_filter(t, v);
  if (config_enter("group_filter")) {
    while (config_next()) filter_load(ticker_group_filter(t));
    config_leave();
  }
  int32_t p = config_get_int("min_price");
  if (config_found()) t->min_price = uint32_t(p);
  p = config_get_int("max_price");
  if (config_found()) t->max_price = uint32_t(p);
  uint64_t *bounds[4] = {&t->min_volume, &t->max_volume, &t->min_value, &t->max_value};
  const char *keys[4] = {"min_volume", "max_volume", "min_value", "max_value"};
  for (int i = 0; i < 4; i++) {
    uint64_t b = config_get_u64(keys[i]);
    if (config_found()) *bounds[i] = b;
  }
  for (uint8_t &e : t->exchanges) e = 0;
  if (config_enter("exchange")) {
    while (config_next()) {
      const ss_exchange *ex = config_arg_exchange(0);
      if (ex && ex->index < 4 && may_see(int32_t(ex->index))) t->exchanges[ex->index] = 1;
    }
    config_leave();
  }
  queue_update(t);
}
