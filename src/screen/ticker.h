// Tickers: one-line strips of a screen's tickbar that scroll items from
// right to left. A market ticker shows market events (trades, quotes, price
// moves, index values, news) that its filters pick from the model's alert
// stream; the alerts ticker shows the user's fired alerts. Items wait in a
// queue, enter at the right edge when there is room and scroll at a speed
// that grows with the backlog; positions follow from one start time and one
// speed, never from a step per frame. Main thread only.
#pragma once

#include <cstdint>

#include "lib/gfx.h"
#include "ui/widget.h"

struct instr;
struct ss_news;
struct filter;
struct gmap;
struct ssalert_filter;
struct ss_ev_alert;

enum : uint32_t {
  TICKER_SHOW_HIDE = 0,
  TICKER_SHOW_AUTO = 1,
  TICKER_SHOW_SHOW = 2,
};

// Item kinds.
enum : uint32_t {
  TICK_TRADE = 1,
  TICK_QUOTE = 2,
  TICK_MOVE = 3,
  TICK_INDEX = 4,
  TICK_NEWS = 5,
  TICK_ALERT_LOW = 6,
  TICK_ALERT_HIGH = 7,
  TICK_ALERT_INDEX_LOW = 8,
  TICK_ALERT_INDEX_HIGH = 9,
  TICK_ALERT_VOLUME = 10,
  TICK_ALERT_NEWS = 11,
};

constexpr uint32_t kTickerNoPrice = 0xFFFFFFFFu;
constexpr uint64_t kTickerNoBound = ~0ull;
constexpr uint32_t kTickerAlertMask = 0x200000;  // the alert stream's change bit
constexpr int64_t kTickerAutoCheckMs = 1000;
constexpr int32_t kTickerItemBytes = 136;

struct ticker_item {
  int32_t offset;      // from the previous item's x (0 for the first)
  int32_t x;           // current left edge
  int32_t width;       // text extent plus 2 em
  int32_t code_width;  // of the instrument text
  instr *instrument;
  uint32_t kind;
  uint32_t bid, offer, price;  // price: last, trade or alert price, index value
  int32_t change;
  uint64_t volume;  // trade volume, the day's volume, an alert's volume
  // Kinds 5 and 11: the announcement by number. The item is looked up on
  // the issuer when its text is laid out or it is dragged, so one withdrawn
  // (and freed) meanwhile is never read.
  uint32_t news_number;
  uint32_t sensitive;
  uint32_t other_exchange;
  uint32_t seen;
  colour code_colour, value_colour, change_colour;
  gmap *glyphs;
  ticker_item *prev, *next;
};
static_assert(sizeof(ticker_item) <= kTickerItemBytes, "a ticker item fits its pool slot");

struct ticker : widget {
  uint32_t mode;  // 0 market, 1 alerts
  double start_time;  // seconds of the ticker clock
  float speed;        // pixels a second
  ticker_item *first, *last;              // visible, left to right
  ticker_item *queue_first, *queue_last;  // waiting, oldest first
  int32_t queued;
  uint32_t frozen;
  uint32_t previewing;  // the hover preview is up for an item
  int32_t em, line, descent, font;
  int64_t next_auto_check;
  uint32_t show_type;
  uint8_t exchanges[4];
  uint32_t instr_filter, index_filter, trade_filter, quote_filter, news_filter;
  uint32_t min_price, max_price;
  uint64_t min_volume, max_volume, min_value, max_value;
  filter *group_filter;
  ssalert_filter *subscription;
  uint32_t subscribed;  // the subscription and the change registration are in
};

typeid_t ticker_type();
// mode 0 market ticker, 1 alerts ticker (show type 2 with an apply queued).
ticker *ticker_new(widget *tickbar, uint32_t mode);
uint32_t ticker_get_mode(const ticker *t);

// Show types: 0 "hide", 1 "auto", 2 "show".
void ticker_set_show(ticker *t, uint32_t type);
uint32_t ticker_get_show(const ticker *t);
// 2 when an enabled exchange is in phase 10, 20, 30 or 40, else 0.
uint32_t ticker_auto_visible(const ticker *t);
void ticker_apply_show_type(ticker *t);

// Filters. Each setter stores a changed value and queues the subscription
// update; the bound setters store only.
void ticker_set_exchange(ticker *t, int i, int on);
int ticker_get_exchange(const ticker *t, int i);
void ticker_set_instr_filter(ticker *t, uint32_t v);
void ticker_set_instr_filter_bit(ticker *t, uint32_t bits, int on);
uint32_t ticker_get_instr_filter(const ticker *t);
void ticker_set_index_filter(ticker *t, uint32_t v);
void ticker_set_index_filter_bit(ticker *t, uint32_t bits, int on);
uint32_t ticker_get_index_filter(const ticker *t);
void ticker_set_news_filter(ticker *t, uint32_t v);
void ticker_set_news_filter_bit(ticker *t, uint32_t bits, int on);
uint32_t ticker_get_news_filter(const ticker *t);
void ticker_set_quote_filter(ticker *t, uint32_t v);
void ticker_set_quote_filter_bit(ticker *t, uint32_t bits, int on);
uint32_t ticker_get_quote_filter(const ticker *t);
void ticker_set_trade_filter(ticker *t, uint32_t v);
uint32_t ticker_get_trade_filter(const ticker *t);
filter *ticker_group_filter(ticker *t);  // made when missing
int ticker_has_group_filter(const ticker *t);  // non-empty
void ticker_refilter(ticker *t);
void ticker_set_min_price(ticker *t, uint32_t v);
void ticker_set_max_price(ticker *t, uint32_t v);
void ticker_set_min_volume(ticker *t, uint64_t v);
void ticker_set_max_volume(ticker *t, uint64_t v);
void ticker_set_min_value(ticker *t, uint64_t v);
void ticker_set_max_value(ticker *t, uint64_t v);
uint32_t ticker_get_min_price(const ticker *t);
uint32_t ticker_get_max_price(const ticker *t);
uint64_t ticker_get_min_volume(const ticker *t);
uint64_t ticker_get_max_volume(const ticker *t);
uint64_t ticker_get_min_value(const ticker *t);
uint64_t ticker_get_max_value(const ticker *t);
// Rebuilds the subscription from the filters (queued by every filter setter).
void ticker_update_subscription(ticker *t);

// Items. Every item, visible and queued, goes back to the pool.
void ticker_reset(ticker *t);
int ticker_is_idle(const ticker *t);  // no visible item
int32_t ticker_visible_count(const ticker *t);
// Adds an item made from a market event (kinds 1-5) or an alert (6-11);
// values as the kind needs. -1 when no item can be had.
int ticker_add_item(ticker *t, uint32_t kind, instr *in, const ss_ev_alert *event);
// Alert items (alerts ticker only, else -1).
int ticker_add_alert_low(ticker *t, instr *in, uint32_t price);
int ticker_add_alert_high(ticker *t, instr *in, uint32_t price);
int ticker_add_alert_volume(ticker *t, instr *in, uint64_t volume);
int ticker_add_alert_news(ticker *t, instr *in, ss_news *item);
void ticker_mark_alert_seen(ticker *t, instr *in);
// One market-event notification (what the change callback hands on): the
// item it makes, if any, is queued. 1 when an item was added.
int ticker_take_event(ticker *t, instr *in, const ss_ev_alert *event);

// One scroll step at the clock's now (the tickbar calls it every pass).
void ticker_advance(ticker *t);
void ticker_freeze(ticker *t, int on);

// Configuration: the keys inside the caller's open block.
void ticker_save(const ticker *t);
void ticker_load(ticker *t);

// The item under the point, or null.
ticker_item *ticker_item_at(ticker *t, int32_t x, int32_t y);

// Test seams: the clock in milliseconds (the gui's when null), the text
// width of a font (the atlas's when null), and the user's exchange
// permission (the signed-on user's when null).
void ticker_set_clock(int64_t (*now_ms)(void));
void ticker_set_text_width(int32_t (*fn)(const char *text, int32_t font));
void ticker_set_permission(int (*may_see)(int32_t exchange));
// Items of the shared pool in use (visible and queued, all tickers).
int32_t ticker_items_in_use(void);
// The speed factors of the backlog table for a queue of n (for checks).
int32_t ticker_speed_factor(int32_t queued);
