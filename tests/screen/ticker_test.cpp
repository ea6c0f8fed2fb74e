// Tickers without windows, on a test clock and a text width of 10 pixels a
// character: the speed table and its hysteresis as the queue fills and
// drains, positions from one start time and speed, coalescing of quotes,
// moves and same-price trades, unseen alerts coming back, the market-event
// filters and bounds, the subscription per filter, the auto show type's
// exchange phases, and the configuration (an instrument filter of 7 loads
// as 3).
#include "screen/ticker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "config/config.h"
#include "lib/gmap.h"
#include "listsmodel.h"
#include "screen/tickbar.h"
#include "ssalert.h"
#include "ssevent.h"
#include "ui/gui.h"
#include "ui/object.h"
#include "undo.h"

namespace {

int64_t g_ms = 5000000;
int64_t test_ms() { return g_ms; }
int32_t ten_per_char(const char *text, int32_t) { return int32_t(strlen(text)) * 10; }
int no_queue(widget *, const rect *, widget_update_fn, int) { return 0; }
int g_permitted = 0xF;
int permitted(int32_t i) { return (g_permitted >> i) & 1; }

class Tickers : public ListsTest {
 protected:
  void SetUp() override {
    ListsTest::SetUp();
    object_init();
    ASSERT_EQ(0, gmap_init(kGmapBudget));
    old_queue = widget_set_queue(no_queue);
    ticker_set_clock(test_ms);
    ticker_set_text_width(ten_per_char);
    ticker_set_permission(permitted);
    g_permitted = 0xF;
    g_ms = 5000000;
    bar = tickbar_of(tickbar_new(nullptr));
    ASSERT_NE(nullptr, bar);
    bar->r = {0, 0, 1000, 200};
    market = bar->tickers[0];
    alerts = bar->alerts_ticker;
    ticker_set_show(market, TICKER_SHOW_SHOW);
    EXPECT_EQ(TICKER_SHOW_SHOW, ticker_get_show(alerts));
    ticker_apply_show_type(alerts);  // what the apply queued at its creation does
    widget_show_subtree(bar);
    container_cls(bar)->layout(bar);
    ASSERT_TRUE(widget_is_shown(market));
    ASSERT_TRUE(widget_is_shown(alerts)) << "the alerts ticker shows by default";
    R = market->r.x + market->r.w - 1;
    fps = float(gui_frame_rate());
  }
  void TearDown() override {
    undo_fini();  // releases what the tests recorded
    widget_delete(bar);
    EXPECT_EQ(0, ticker_items_in_use()) << "every item back in the pool";
    ticker_set_clock(nullptr);
    ticker_set_text_width(nullptr);
    ticker_set_permission(nullptr);
    widget_set_queue(old_queue);
    gmap_fini();
    ListsTest::TearDown();
  }
  // A trade event of the stock at price x volume.
  ss_ev_alert trade(ss_trade *rec, uint32_t price, uint64_t volume) {
    *rec = ss_trade{};
    rec->price = price;
    rec->volume = volume;
    ss_ev_alert e{};
    e.code = kAlertCodeTrade;
    e.trade = rec;
    e.last = price;
    return e;
  }
  // n items queued, each a trade at a new price.
  void fill(ticker *t, int n) {
    ss_stock *s = stock(0, "QQQ");
    for (int i = 0; i < n; i++) {
      ss_trade rec;
      ss_ev_alert e = trade(&rec, uint32_t(1000 + next_price++), 1);
      ASSERT_EQ(0, ticker_add_item(t, TICK_TRADE, s, &e));
    }
  }
  int32_t factor(ticker *t) { return int32_t(std::lround(t->speed / fps)); }

  widget_queue_fn old_queue = nullptr;
  tickbar *bar = nullptr;
  ticker *market = nullptr, *alerts = nullptr;
  int32_t R = 0;
  float fps = 60;
  int next_price = 0;
};

TEST_F(Tickers, SpeedTable) {
  struct Row {
    int32_t queued, factor;
  } rows[] = {{0, 1},   {5, 1},   {6, 2},   {12, 3},   {15, 3},   {16, 4},   {25, 4},    {26, 5},  {30, 5},
              {31, 6},  {70, 9},  {71, 10}, {100, 10}, {101, 15}, {200, 20}, {201, 30},  {300, 30}, {301, 50},
              {999999, 50}, {5000000, 50}};
  for (const Row &r : rows) EXPECT_EQ(r.factor, ticker_speed_factor(r.queued)) << r.queued;
}

TEST_F(Tickers, SpeedRisesAtOnceAndFallsPastTheHysteresis) {
  // 12 queued at 1x: 3x at once.
  EXPECT_EQ(1, factor(market));
  fill(market, 12);
  ticker_advance(market);
  EXPECT_EQ(3, factor(market));
  ticker_reset(market);
  market->speed = fps;

  // From 30 queued: 5x, until 20 are queued (4x), then 4x until the queue
  // is empty (1x). Each pass lets one item in (the clock moves far enough
  // for the previous ones to leave).
  fill(market, 30);
  for (int32_t q = 30; q >= 0; q--) {
    SCOPED_TRACE(q);
    ASSERT_EQ(q, market->queued);
    ticker_advance(market);
    EXPECT_EQ(q > 20 ? 5 : q > 0 ? 4 : 1, factor(market));
    g_ms += 100000;
  }
}

TEST_F(Tickers, PositionsFollowStartTimeAndSpeed) {
  fill(market, 2);
  ticker_advance(market);
  ticker_item *a = market->first;
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(R, a->x) << "an item enters at the right edge";
  EXPECT_EQ(1, ticker_visible_count(market)) << "the next waits for room";
  EXPECT_GT(a->width, 2 * market->em);
  const double start = market->start_time;

  struct Step {
    int64_t dt_ms;
  } steps[] = {{16}, {17}, {250}, {1}, {1000}, {333}};
  int64_t elapsed = 0;
  for (const Step &s : steps) {
    g_ms += s.dt_ms;
    elapsed += s.dt_ms;
    const int32_t before = a->x;
    ticker_advance(market);
    // The place comes from the start time, never from a step per pass.
    EXPECT_EQ(R - int32_t(std::lround(elapsed / 1000.0 * market->speed)), a->x) << elapsed;
    EXPECT_NEAR(double(before - a->x), s.dt_ms / 1000.0 * market->speed, 1.0) << elapsed;
  }
  EXPECT_EQ(start, market->start_time);
  // The second entered once the first's right end cleared the edge, and
  // keeps its distance from then on.
  ASSERT_EQ(2, ticker_visible_count(market));
  ticker_item *b = a->next;
  const int32_t gap = b->x - a->x;
  EXPECT_GE(gap, a->width) << "no overlap";
  g_ms += 700;
  ticker_advance(market);
  EXPECT_EQ(gap, b->x - a->x);
  // The first leaves at the left edge; the second keeps its place.
  const int32_t b_then = b->x;
  g_ms += int64_t((a->x + a->width) / market->speed * 1000.0) + 1;
  const int64_t dt = int64_t((a->x + a->width) / market->speed * 1000.0) + 1;
  ticker_advance(market);
  EXPECT_EQ(b, market->first);
  EXPECT_EQ(0, b->offset);
  EXPECT_NEAR(double(b_then - b->x), dt / 1000.0 * market->speed, 1.0);
}

TEST_F(Tickers, Coalescing) {
  ss_stock *a = stock(0, "AAA"), *b = stock(0, "BBB");
  ss_ev_alert qa{}, qb{};
  qa.code = qb.code = 0x20;
  qa.bid = 100;
  qb.bid = 200;
  ticker_add_item(market, TICK_QUOTE, a, &qa);
  ticker_add_item(market, TICK_QUOTE, b, &qb);
  qa.bid = 101;
  ticker_add_item(market, TICK_QUOTE, a, &qa);
  EXPECT_EQ(2, market->queued) << "the newer quote replaces the queued one";
  EXPECT_EQ(b, market->queue_first->instrument);
  EXPECT_EQ(a, market->queue_last->instrument) << "and moves to the queue's end";
  EXPECT_EQ(101u, market->queue_last->bid);
  // Moves and index values likewise; news never.
  ticker_add_item(market, TICK_MOVE, a, &qa);
  ticker_add_item(market, TICK_MOVE, a, &qa);
  EXPECT_EQ(3, market->queued);
  ticker_reset(market);

  ss_trade r1, r2, r3, r4, r5, r6;
  ss_ev_alert t1 = trade(&r1, 500, 10), t2 = trade(&r2, 500, 5), t3 = trade(&r3, 500, 7);
  ticker_add_item(market, TICK_TRADE, a, &t1);
  ticker_add_item(market, TICK_TRADE, a, &t2);
  EXPECT_EQ(1, market->queued) << "a trade at the same price adds its volume";
  EXPECT_EQ(15u, market->queue_first->volume);
  ticker_add_item(market, TICK_TRADE, b, &t3);
  ss_ev_alert t4 = trade(&r4, 500, 1);
  ticker_add_item(market, TICK_TRADE, a, &t4);
  EXPECT_EQ(2, market->queued) << "another stock's trade in between does not matter";
  EXPECT_EQ(16u, market->queue_first->volume);
  ss_ev_alert t5 = trade(&r5, 501, 2), t6 = trade(&r6, 500, 3);
  ticker_add_item(market, TICK_TRADE, a, &t5);
  ticker_add_item(market, TICK_TRADE, a, &t6);
  EXPECT_EQ(4, market->queued) << "only the newest queued trade of the stock absorbs";
  // Once an item has entered it is no longer coalesced with.
  ticker_reset(market);
  ticker_add_item(market, TICK_QUOTE, a, &qa);
  ticker_advance(market);
  ticker_add_item(market, TICK_QUOTE, a, &qa);
  EXPECT_EQ(1, ticker_visible_count(market));
  EXPECT_EQ(1, market->queued);
}

TEST_F(Tickers, UnseenAlertsComeBackSeenOnesLeave) {
  ss_stock *s = stock(0, "BHP");
  EXPECT_EQ(-1, ticker_add_alert_low(market, s, 100)) << "alerts go to the alerts ticker only";
  ASSERT_EQ(0, ticker_add_alert_low(alerts, s, 100));
  EXPECT_EQ(uint32_t(TICK_ALERT_LOW), alerts->queue_first->kind);
  ticker_advance(alerts);
  ASSERT_EQ(1, ticker_visible_count(alerts));
  ticker_item *item = alerts->first;
  g_ms += 60000;  // far past the left edge
  ticker_advance(alerts);
  // Unseen: back at the end of the (empty) queue, so it enters again at
  // once at the right edge.
  EXPECT_EQ(1, ticker_visible_count(alerts));
  EXPECT_EQ(item, alerts->first);
  EXPECT_EQ(R, item->x);
  EXPECT_EQ(0, alerts->queued);
  EXPECT_EQ(1, ticker_items_in_use());
  ticker_mark_alert_seen(alerts, s);
  EXPECT_EQ(1u, alerts->first->seen);
  g_ms += 60000;
  ticker_advance(alerts);
  EXPECT_EQ(0, ticker_visible_count(alerts));
  EXPECT_EQ(0, alerts->queued) << "seen: gone for good";
  EXPECT_EQ(0, ticker_items_in_use());

  // A stock's news alert is shown for its issuer; marking the stock seen
  // marks the issuer's items too.
  ss_issuer *is = issuer(0, "BHP");
  ss_index *x = index(0, "XJO");
  uint32_t codes[1] = {0};
  ss_news *n = ssmodel_add_news(is, 9, sstime_now(), codes, kNewsFlag1, "Report");
  ASSERT_EQ(0, ticker_add_alert_news(alerts, s, n));
  EXPECT_EQ(static_cast<instr *>(is), alerts->queue_last->instrument);
  EXPECT_EQ(1u, alerts->queue_last->sensitive);
  ASSERT_EQ(0, ticker_add_alert_high(alerts, x, 700000));
  EXPECT_EQ(uint32_t(TICK_ALERT_INDEX_HIGH), alerts->queue_last->kind);
  ASSERT_EQ(0, ticker_add_alert_volume(alerts, s, 123));
  ticker_mark_alert_seen(alerts, s);
  int seen = 0;
  for (ticker_item *it = alerts->queue_first; it; it = it->next) seen += it->seen;
  EXPECT_EQ(2, seen) << "the news and volume items, not the index's";
}

TEST_F(Tickers, SubscriptionPerFilter) {
  const uint32_t dflt = 0x400000 | 0x1 | 0x200000;
  struct Row {
    uint32_t instr, trade, quote, news;
    uint32_t types, require, exclude;
  } rows[] = {
      {3, 0, 2, 4, dflt, 0, 0},
      {0, 0, 2, 4, 0x1 | 0x200000, 0, kAlertCondIndex | kAlertCondPlain},
      {1, 0, 2, 4, dflt, 0, kAlertCondPlain},
      {2, 0, 2, 4, 0x1 | 0x200000, 0, kAlertCondIndex},
      {7, 0, 2, 4, dflt, kAlertCondHeld, 0},
      {3, 1, 0, 0, 0x400000 | 0x20000, 0, 0},
      {3, 2, 1, 0, 0x400000 | 0x40000 | 0x20, 0, 0},
      {3, 3, 3, 1, 0x400000 | 0x100000 | 0x20 | 0x1 | 0x200000, 0, 0},
  };
  for (const Row &r : rows) {
    ticker_set_instr_filter(market, r.instr);
    ticker_set_trade_filter(market, r.trade);
    ticker_set_quote_filter(market, r.quote);
    ticker_set_news_filter(market, r.news);
    ticker_update_subscription(market);
    EXPECT_EQ(r.types, market->subscription->kinds) << r.instr << " " << r.trade;
    EXPECT_EQ(r.require, market->subscription->require) << r.instr;
    EXPECT_EQ(r.exclude, market->subscription->exclude) << r.instr;
  }
  // Registered only while shown.
  const int registered = ssalert_count();
  EXPECT_EQ(1u, market->subscribed);
  tickbar_hide_ticker(bar, market);
  EXPECT_EQ(0u, market->subscribed);
  EXPECT_EQ(registered - 1, ssalert_count());
  tickbar_show_ticker(bar, market);
  EXPECT_EQ(registered, ssalert_count());
}

TEST_F(Tickers, MarketEventsPassTheFilters) {
  ss_stock *s = stock(0, "BHP");
  ss_stock *axo = stock(3, "BHPXYZ");
  ss_stock *nz = stock(1, "FPH");
  s->multiplier = 0;
  ticker_set_trade_filter(market, 1);
  ticker_set_quote_filter(market, 3);
  ticker_set_exchange(market, 1, 0);
  ticker_set_min_price(market, 100);
  ticker_set_max_price(market, 10000);
  ticker_set_min_value(market, 100000);  // price x volume x 100 / 10000
  ss_trade rec;
  struct Row {
    instr *in;
    uint32_t code, price;
    uint64_t volume;
    int added;
    const char *why;
  } rows[] = {
      {s, 0x20000, 500, 100000, 1, "price and value within bounds"},
      {s, 0x20000, 50, 10000000, 0, "price below the bound"},
      {s, 0x20000, 500, 10, 0, "value below the bound"},
      {s, 0x20000, 0, 100, 0, "no price"},
      {s, 0x20000, 9999, ~0ull / 2, 1, "a value past 64 bits passes the lower bound"},
      {nz, 0x20000, 500, 100000, 0, "exchange disabled"},
      {axo, 0x20000, 500, 100000, 1, "exchange 3 with instrument bit 2"},
      {s, 0x20, 0, 0, 1, "a quote"},
  };
  for (const Row &r : rows) {
    ss_ev_alert e = trade(&rec, r.price, r.volume);
    e.code = r.code;
    if (r.code == 0x20) e.trade = nullptr;
    EXPECT_EQ(r.added, ticker_take_event(market, r.in, &e)) << r.why;
  }
  ticker_set_max_value(market, 20000000);
  ss_ev_alert big = trade(&rec, 9999, ~0ull / 2);
  EXPECT_EQ(0, ticker_take_event(market, s, &big)) << "and fails an upper bound";
  ticker_set_instr_filter(market, 1);
  ss_ev_alert e = trade(&rec, 500, 100000);
  EXPECT_EQ(0, ticker_take_event(market, axo, &e)) << "exchange 3 needs instrument bit 2";

  // News: filter 1 takes sensitive items only; 4 takes plain ones; related
  // items (flag 4) need filter bit 2.
  ss_issuer *is = issuer(0, "BHP");
  uint32_t codes[1] = {0};
  ss_news *plain = ssmodel_add_news(is, 1, sstime_now(), codes, 0, "Plain");
  ss_news *sens = ssmodel_add_news(is, 2, sstime_now(), codes, kNewsFlag1, "Sensitive");
  ss_news *rel = ssmodel_add_news(is, 3, sstime_now(), codes, kNewsFlag4, "Related");
  struct NewsRow {
    uint32_t filter;
    ss_news *item;
    int added;
  } news[] = {{1, plain, 0}, {1, sens, 1}, {4, plain, 1}, {4, rel, 0}, {6, rel, 1}, {2, sens, 1}, {2, plain, 1}};
  for (const NewsRow &n : news) {
    ticker_set_news_filter(market, n.filter);
    ss_ev_alert ne{};
    ne.code = 0x200000;
    ne.news = n.item;
    EXPECT_EQ(n.added, ticker_take_event(market, is, &ne)) << n.filter << " " << n.item->headline;
  }
}

TEST_F(Tickers, AutoShowFollowsExchangePhases) {
  for (int i = 0; i < 4; i++) ticker_set_exchange(market, i, i == 0);
  struct Row {
    uint32_t phase;
    uint32_t visible;
  } rows[] = {{10, 2}, {20, 2}, {30, 2}, {40, 2}, {15, 0}, {50, 0}, {130, 0}, {0, 0}};
  for (const Row &r : rows) {
    ssmodel_exchange(0)->phase = r.phase;
    EXPECT_EQ(r.visible, ticker_auto_visible(market)) << r.phase;
  }
  ssmodel_exchange(1)->phase = 20;
  EXPECT_EQ(0u, ticker_auto_visible(market)) << "a disabled exchange does not count";
  ssmodel_exchange(0)->phase = 20;
  ticker_set_show(market, TICKER_SHOW_AUTO);
  EXPECT_TRUE(tickbar_ticker_visible(bar, 0));
  ssmodel_exchange(0)->phase = 15;
  ticker_set_show(market, TICKER_SHOW_AUTO);
  EXPECT_FALSE(tickbar_ticker_visible(bar, 0));
  EXPECT_FALSE(widget_is_shown(market));
}

TEST_F(Tickers, SaveAndLoad) {
  g_permitted = 0x1;  // ASX only (GLB is always allowed)
  ticker_set_exchange(market, 1, 0);
  ticker_set_exchange(market, 1, 1);  // refused: not permitted
  ticker_set_show(market, TICKER_SHOW_AUTO);
  ticker_set_instr_filter(market, 7);
  ticker_set_index_filter(market, 5);
  ticker_set_trade_filter(market, 2);
  ticker_set_quote_filter(market, 1);
  ticker_set_news_filter(market, 3);
  ticker_set_min_price(market, 250);
  ticker_set_max_volume(market, 123456789012ull);
  config_out_reset();
  ticker_save(market);
  const std::string text = take_config_text();
  EXPECT_NE(std::string::npos, text.find("show_type auto\n")) << text;
  EXPECT_NE(std::string::npos, text.find("instr_filter 7\n")) << text;
  EXPECT_NE(std::string::npos, text.find("exchange ASX\n")) << text;
  EXPECT_EQ(std::string::npos, text.find("exchange NZX")) << "not permitted, not enabled: " << text;
  EXPECT_NE(std::string::npos, text.find("exchange GLB\n")) << text;
  EXPECT_NE(std::string::npos, text.find("exchange AXO\n")) << "instrument bit 2 is set: " << text;
  EXPECT_NE(std::string::npos, text.find("min_price 250\n")) << text;
  EXPECT_EQ(std::string::npos, text.find("max_price")) << "unset bounds are not written";

  ticker *t = bar->tickers[1];
  g_permitted = 0xF;
  const std::string in = text + "exchange NZX\n";
  ASSERT_EQ(0, config_load_buffer(in.data(), int32_t(in.size())));
  ticker_load(t);
  EXPECT_EQ(3u, ticker_get_instr_filter(t)) << "7 loads as 3";
  EXPECT_EQ(5u, ticker_get_index_filter(t));
  EXPECT_EQ(2u, ticker_get_trade_filter(t));
  EXPECT_EQ(1u, ticker_get_quote_filter(t));
  EXPECT_EQ(3u, ticker_get_news_filter(t));
  EXPECT_EQ(250u, ticker_get_min_price(t));
  EXPECT_EQ(kTickerNoPrice, ticker_get_max_price(t));
  EXPECT_EQ(123456789012ull, ticker_get_max_volume(t));
  EXPECT_EQ(TICKER_SHOW_AUTO, ticker_get_show(t));
  EXPECT_EQ(1, ticker_get_exchange(t, 0));
  EXPECT_EQ(1, ticker_get_exchange(t, 1));
  EXPECT_EQ(1, ticker_get_exchange(t, 2));
  EXPECT_EQ(1, ticker_get_exchange(t, 3));
  // Without instrument bit 2 exchange 3 is not written.
  ticker_set_instr_filter(market, 1);
  config_out_reset();
  ticker_save(market);
  EXPECT_EQ(std::string::npos, take_config_text().find("exchange AXO"));
  g_permitted = 0x1;
  ASSERT_EQ(0, config_load_buffer(in.data(), int32_t(in.size())));
  ticker_load(t);
  EXPECT_EQ(0, ticker_get_exchange(t, 1)) << "an exchange the user may not see stays off";
  EXPECT_EQ(1, ticker_get_exchange(t, 2)) << "GLB always";
}

TEST_F(Tickers, UndoPutsTheSettingsBack) {
  ASSERT_EQ(0, undo_init());
  ASSERT_NE(nullptr, undo_type_ops(UNDO_TICKER)) << "the ticker class registers its record";
  ticker_set_news_filter(market, 1);
  ticker_set_min_price(market, 500);
  undo_begin();
  ASSERT_EQ(0, undo_push_ticker(market));
  undo_end();
  ticker_set_news_filter(market, 6);
  ticker_set_min_price(market, kTickerNoPrice);
  ticker_set_exchange(market, 2, 0);
  ticker_set_trade_filter(market, 3);
  ASSERT_EQ(0, undo_perform());
  EXPECT_EQ(1u, ticker_get_news_filter(market));
  EXPECT_EQ(500u, ticker_get_min_price(market));
  EXPECT_EQ(1, ticker_get_exchange(market, 2));
  EXPECT_EQ(0u, ticker_get_trade_filter(market));
  EXPECT_EQ(TICKER_SHOW_SHOW, ticker_get_show(market));
  undo_fini();
}

TEST_F(Tickers, TickbarSaveAndLoad) {
  tickbar_set_on_quiet(bar, 0);
  tickbar_show_tools(bar);
  ticker_set_news_filter(bar->tickers[2], 1);
  ticker_set_show(bar->tickers[3], TICKER_SHOW_AUTO);
  ticker_set_quote_filter(alerts, 3);
  config_out_reset();
  tickbar_save(bar);
  const std::string text = take_config_text();
  EXPECT_NE(std::string::npos, text.find("tickbar.show f\n")) << text;
  EXPECT_NE(std::string::npos, text.find("tickbar.show_tools t\n")) << text;
  EXPECT_NE(std::string::npos, text.find("tickbar.ticker 3\n")) << text;
  EXPECT_NE(std::string::npos, text.find("tickbar.ticker.show_type auto\n")) << text;
  EXPECT_NE(std::string::npos, text.find("tickbar.alerts_ticker.quote_filter 3\n")) << text;

  tickbar *other = tickbar_of(tickbar_new(nullptr));
  ASSERT_NE(nullptr, other);
  ASSERT_EQ(0, config_load_buffer(text.data(), int32_t(text.size())));
  tickbar_load(other);
  EXPECT_EQ(0, tickbar_is_on(other));
  EXPECT_EQ(1, tickbar_tools_shown(other));
  EXPECT_EQ(1u, ticker_get_news_filter(other->tickers[2]));
  EXPECT_EQ(4u, ticker_get_news_filter(other->tickers[1])) << "each ticker its own block";
  EXPECT_EQ(TICKER_SHOW_AUTO, ticker_get_show(other->tickers[3]));
  EXPECT_EQ(TICKER_SHOW_SHOW, ticker_get_show(other->tickers[0]));
  EXPECT_EQ(3u, ticker_get_quote_filter(other->alerts_ticker));
  widget_delete(other);
}

TEST_F(Tickers, NewsItemsReadTheirAnnouncementWhenTheyEnter) {
  ss_stock *s = stock(0, "BHP");
  ss_issuer *is = issuer(0, "BHP");
  uint32_t codes[1] = {0};
  ss_news *kept = ssmodel_add_news(is, 9, sstime_now(), codes, 0, "Report");
  ss_news *gone = ssmodel_add_news(is, 10, sstime_now(), codes, 0, "Report");
  ASSERT_EQ(0, ticker_add_alert_news(alerts, s, kept));
  ASSERT_EQ(0, ticker_add_alert_news(alerts, s, gone));
  // The issuer's list is dropped while the items wait (as a day's reset
  // does) and only number 9 comes back.
  ssmodel_free_news_list(is);
  ASSERT_NE(nullptr, ssmodel_add_news(is, 9, sstime_now(), codes, 0, "Report"));
  ticker_advance(alerts);
  ticker_item *a = alerts->first;
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(9u, a->news_number);
  g_ms += 60000;  // the first leaves (and comes back at the queue's end)
  ticker_advance(alerts);
  ticker_item *b = alerts->first;
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(10u, b->news_number);
  EXPECT_EQ(a->width - b->width, 60) << "the freed one has no headline to show";
}

}  // namespace
