// The mini quote: which pieces of the line stay as the cell narrows (a fixed
// 6-pixel measure), a stock without a trade shown at its previous close with
// no change, an index at its base while it has no value, and the cycle of a
// cell over a watchlist that is empty first and filled later, which pauses
// while the pointer is inside.
#include "screen/miniquote.h"

#include <gtest/gtest.h>

#include <vector>

#include <cstring>
#include <string>

#include "barstest.h"
#include "lib/fmt.h"
#include "windows/nuchart.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new BarsEnv);

int32_t six(const char *text, void *) { return int32_t(strlen(text)) * 6; }

mini_quote_piece piece(const char *text, uint32_t bit) {
  mini_quote_piece p = {};
  snprintf(p.text, sizeof p.text, "%s", text);
  p.bit = bit;
  return p;
}

TEST(MiniQuoteFit, StocksDropBidAndOfferThenChangeThenLast) {
  // "BHP" 18, four prices of 30 each, gaps of 6.
  struct {
    int32_t width;
    uint32_t want;
  } cases[] = {
      {200, MQ_CODE | MQ_BID | MQ_OFFER | MQ_LAST | MQ_CHANGE},
      {162, MQ_CODE | MQ_BID | MQ_OFFER | MQ_LAST | MQ_CHANGE},
      {161, MQ_CODE | MQ_LAST | MQ_CHANGE},
      {90, MQ_CODE | MQ_LAST | MQ_CHANGE},
      {89, MQ_CODE | MQ_LAST},
      {54, MQ_CODE | MQ_LAST},
      {53, MQ_CODE},
      {18, MQ_CODE},
      {17, 0},
  };
  for (auto &c : cases) {
    mini_quote_piece p[5] = {piece("BHP", MQ_CODE), piece("45.10", MQ_BID), piece("45.12", MQ_OFFER),
                             piece("45.11", MQ_LAST), piece("+0.11", MQ_CHANGE)};
    EXPECT_EQ(c.want, mini_quote_fit(p, 5, false, c.width, 6, six, nullptr)) << c.width;
  }
  // The kept pieces are centred with one gap between neighbours.
  mini_quote_piece p[5] = {piece("BHP", MQ_CODE), piece("45.10", MQ_BID), piece("45.12", MQ_OFFER),
                           piece("45.11", MQ_LAST), piece("+0.11", MQ_CHANGE)};
  ASSERT_EQ(MQ_CODE | MQ_LAST | MQ_CHANGE, mini_quote_fit(p, 5, false, 100, 6, six, nullptr));
  EXPECT_EQ(5, p[0].x);
  EXPECT_EQ(5 + 18 + 6, p[3].x);
  EXPECT_EQ(5 + 18 + 6 + 30 + 6, p[4].x);
}

TEST(MiniQuoteFit, IndicesDropTheChangeThenTheValue) {
  struct {
    int32_t width;
    uint32_t want;
  } cases[] = {{150, MQ_CODE | MQ_LAST | MQ_CHANGE}, {96, MQ_CODE | MQ_LAST | MQ_CHANGE},
               {95, MQ_CODE | MQ_LAST}, {60, MQ_CODE | MQ_LAST}, {59, MQ_CODE}, {18, MQ_CODE}, {17, 0}};
  for (auto &c : cases) {
    mini_quote_piece p[3] = {piece("XJO", MQ_CODE), piece("5123.4", MQ_LAST), piece("-12.3", MQ_CHANGE)};
    EXPECT_EQ(c.want, mini_quote_fit(p, 3, true, c.width, 6, six, nullptr)) << c.width;
  }
}

class MiniQuote : public ::testing::Test {
 protected:
  void SetUp() override {
    q = mini_quote_new(nullptr, MINI_QUOTE_MINIBAR);
    ASSERT_NE(nullptr, q);
    q->r = {0, 0, 400, 20};
  }
  void TearDown() override { widget_delete(q); }
  std::string text_of(uint32_t bit) {
    for (int i = 0; i < q->count; i++)
      if (q->pieces[i].bit == bit) return q->pieces[i].text;
    return "<none>";
  }
  mini_quote *q = nullptr;
};

TEST_F(MiniQuote, WithoutATradeThePreviousCloseAndNoChange) {
  ss_stock *quiet = bars_stock("QTE", 12300, 12200, 12400, 0, 0);
  ss_stock *busy = bars_stock("BSY", 10000, 10100, 10200, 10150, 3);
  mini_quote_set_instr(q, quiet);
  mini_quote_layout(q);
  EXPECT_EQ(text_of(MQ_LAST), fmt_price(12300));
  EXPECT_EQ(text_of(MQ_CHANGE), "<none>");
  mini_quote_set_instr(q, busy);
  mini_quote_layout(q);
  EXPECT_EQ(text_of(MQ_LAST), fmt_price(10150));
  EXPECT_EQ(text_of(MQ_CHANGE), "+1.5");
  EXPECT_EQ(text_of(MQ_BID), fmt_price(10100));
  EXPECT_EQ(q->change_sign, 1);
  // An index without a value shows its base, with no change.
  ss_index *x = bars_index("XQT", 51234, 0);
  mini_quote_set_instr(q, x);
  mini_quote_layout(q);
  EXPECT_EQ(text_of(MQ_LAST), fmt_price(51234));
  EXPECT_EQ(text_of(MQ_CHANGE), "<none>");
  EXPECT_EQ(text_of(MQ_BID), "<none>");
}

// The cell draws in display fonts without small digits: fractions of a cent
// read as ordinary digits, never as the letters that stand for small ones.
TEST_F(MiniQuote, FiguresUseOrdinaryDigits) {
  ss_stock *frac = bars_stock("FRC", 10000, 10155, 10205, 9850, 3);
  mini_quote_set_instr(q, frac);
  mini_quote_layout(q);
  EXPECT_EQ(text_of(MQ_CHANGE), "-1.5");
  EXPECT_EQ(text_of(MQ_LAST), "98.5");
  EXPECT_EQ(text_of(MQ_BID), "101.55");
  for (int i = 0; i < q->count; i++)
    for (const char *c = q->pieces[i].text; *c; c++)
      EXPECT_FALSE((*c >= 'a' && *c <= 'j') || *c == kFmtFiller) << q->pieces[i].text;
}

// The change is the stream's own where it gives one: a stock whose stream
// has written no previous close is not shown up by its whole price.
TEST_F(MiniQuote, TheChangeIsTheStreamsOwn) {
  ss_stock *open = bars_stock("NCL", 0, 179900, 180200, 180000, 4);
  open->change = -1100;
  mini_quote_set_instr(q, open);
  mini_quote_layout(q);
  EXPECT_EQ(text_of(MQ_CHANGE), "-11 ");
  EXPECT_EQ(q->change_sign, -1);
  open->change = 0;
  mini_quote_set_instr(q, nullptr);
  mini_quote_set_instr(q, open);
  mini_quote_layout(q);
  EXPECT_EQ(text_of(MQ_CHANGE), "- ") << "no close, no change: not the whole price";
}

TEST_F(MiniQuote, TheChartTakesThePresetAndTheInstrument) {
  ASSERT_NE(nullptr, q->chart);
  const chart_plot &p = nuchart_cast(q->chart)->plot;
  EXPECT_EQ(5, p.range);
  EXPECT_EQ(1, p.range_count);
  EXPECT_EQ(9, p.period);
  EXPECT_EQ(16, p.type);
  std::vector<int32_t> overlays;
  for (const chart_ta *ta = p.overlays; ta; ta = ta->next) overlays.push_back(ta->type);
  EXPECT_EQ(overlays, (std::vector<int32_t>{13, 1}));
  EXPECT_EQ(nullptr, p.indicators);
  EXPECT_EQ(3164592u, p.options);
  EXPECT_EQ(-1, p.from_type);
  EXPECT_EQ(5, p.to_type);
  ss_stock *s = bars_stock("CHT", 100);
  mini_quote_set_instr(q, s);
  EXPECT_EQ(static_cast<instr *>(s), p.main);
  mini_quote_clear(q);
  EXPECT_EQ(nullptr, p.main);
}

TEST_F(MiniQuote, CyclesAnEmptyThenFilledWatchlistAndPausesWhileThePointerIsInside) {
  wlist *wl = wlist_create("Cycle", 301);
  ASSERT_NE(nullptr, wl);
  ss_stock *a = bars_stock("CYA", 100), *b = bars_stock("CYB", 200), *c = bars_stock("CYC", 300);
  mini_quote_set_wlist(q, wl);
  ASSERT_NE(nullptr, mini_quote_get_scan(q));
  EXPECT_EQ(nullptr, q->current);
  mini_quote_next(q);
  EXPECT_EQ(nullptr, q->current);  // an empty list shows nothing
  for (ss_stock *s : {a, b, c}) wlist_add_item(wl, s);
  scan_refresh_now(mini_quote_get_scan(q));
  mini_quote_next(q);
  EXPECT_EQ(static_cast<instr *>(a), q->current);
  mini_quote_next(q);
  EXPECT_EQ(static_cast<instr *>(b), q->current);
  // The pointer inside: the cycle stays.
  q->cls->enter(q);
  mini_quote_next(q);
  mini_quote_next(q);
  EXPECT_EQ(static_cast<instr *>(b), q->current);
  q->cls->leave(q);
  mini_quote_next(q);
  EXPECT_EQ(static_cast<instr *>(c), q->current);
  mini_quote_next(q);  // after the last, the first again
  EXPECT_EQ(static_cast<instr *>(a), q->current);
  // Setting the same list again changes nothing.
  scan *s = mini_quote_get_scan(q);
  mini_quote_set_wlist(q, wl);
  EXPECT_EQ(s, mini_quote_get_scan(q));
  mini_quote_clear(q);
  EXPECT_EQ(nullptr, mini_quote_get_scan(q));
  wlist_delete(wl);
}

}  // namespace
