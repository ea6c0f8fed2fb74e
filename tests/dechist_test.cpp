// History records: hand-assembled bytes against known answers (next trading
// day after a Friday, copied fields, the high/low repair, index values from
// changes, a value that would fall below zero), every cut of a day record
// reads as bad with the state untouched, the store order (append,
// insert, replace, volume 0, history-from), counts that do not match the
// bytes, and round trips of generated histories and news through the
// writers.
#include "dechist.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "decnews.h"
#include "enchist.h"
#include "growbuf.h"
#include "ssclient.h"
#include "sstime.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime());

ss_time day(int d, int m, int y) { return sstime_pack_date(d, m, y); }

class History : public ::testing::Test {
 protected:
  void SetUp() override {
    ssclient_fini();
    ASSERT_EQ(0, start_terminal_model());
    asx = ssmodel_exchange(0);
    stock = ssmodel_get_stock(asx, "BHP");
    index = ssmodel_get_index(asx, "XJO");
    issuer = ssmodel_get_issuer(asx, "BHP");
    ASSERT_TRUE(stock && index && issuer);
  }
  void TearDown() override { ssmodel_fini(); }
  std::vector<ss_stock_point> points() const {
    const ss_stock_history* h = stock->history;
    return h ? std::vector<ss_stock_point>(h->points, h->points + h->count) : std::vector<ss_stock_point>{};
  }
  ss_exchange* asx = nullptr;
  ss_stock* stock = nullptr;
  ss_index* index = nullptr;
  ss_issuer* issuer = nullptr;
};

// 2014-02-07 (a Friday) as a 2-byte date: year 44 and month 2 in the first
// byte, the month's low bits and day 7 in the second.
constexpr uint8_t kFri[] = {0xB0, 0x8E};

TEST_F(History, StockKnownAnswer) {
  const uint8_t rec[] = {
      0x00, 0x02,                    // two days
      0x1A, kFri[0], kFri[1],        // open, high and low are the close; a date
      0x32, 0x26, 0x00,              // close: 1234 tenths of a cent in the tenths form
      0x28, 0x1F,                    // volume 31 << 5 | 8 = 1000
      0x1B,                          // as above and the next trading day
      0x34, 0x28, 0x00,              // close 1300 tenths
      0x05,                          // volume 5
  };
  stock->flags |= 0x2000;
  ASSERT_EQ(0, dechist_decode_stock(stock, rec, sizeof rec, 1));
  std::vector<ss_stock_point> p = points();
  ASSERT_EQ(2u, p.size());
  EXPECT_EQ(day(7, 2, 2014), p[0].date);
  EXPECT_EQ(day(10, 2, 2014), p[1].date);  // Friday, then Monday
  for (const auto& [pt, price, volume, change] :
       std::vector<std::tuple<ss_stock_point, uint32_t, uint64_t, int32_t>>{{p[0], 12340, 1000, 0},
                                                                            {p[1], 13000, 5, 660}}) {
    EXPECT_EQ(price, pt.close);
    EXPECT_EQ(price, pt.open);
    EXPECT_EQ(price, pt.high);
    EXPECT_EQ(price, pt.low);
    EXPECT_EQ(volume, pt.volume);
    EXPECT_EQ(change, pt.change);
  }
  EXPECT_TRUE(stock->flags & kInHistory);
  EXPECT_FALSE(stock->flags & 0x2000);
}

TEST_F(History, StockDayCases) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    ss_time prev;
    int result;
    uint32_t open, high, low, close;
  };
  const Case cases[] = {
      {"next day without a previous date", {0x01, 0x32, 0x26, 0x00, 0x05}, 0, -1, 0, 0, 0, 0},
      // Open 1300, high 1200, low 1250 tenths: high below low takes the
      // larger and smaller of open and close (1234).
      {"high below low repaired",
       {0x00, kFri[0], kFri[1], 0x32, 0x26, 0x00, 0x34, 0x28, 0x00, 0x30, 0x25, 0x00, 0x22, 0x27, 0x00, 0x05},
       0, 16, 13000, 13000, 12340, 12340},
      {"high is open, low is open", {0x62, kFri[0], kFri[1], 0x32, 0x26, 0x00, 0x05}, 0, 7, 12340, 12340, 12340,
       12340},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dechist_state st = {c.prev, 0, 0};
    ss_stock_point p = {};
    EXPECT_EQ(c.result, dechist_decode_stock_day(&st, c.bytes.data(), int32_t(c.bytes.size()), &p));
    if (c.result > 0) {
      EXPECT_EQ(c.open, p.open);
      EXPECT_EQ(c.high, p.high);
      EXPECT_EQ(c.low, p.low);
      EXPECT_EQ(c.close, p.close);
    }
  }
}

TEST_F(History, IndexKnownAnswerAndWrap) {
  // Base 5000 (8 | 39 << 7); changes +10, -5, +20, -30 (byte = change + 63).
  const uint8_t rec[] = {0x00, 0x01, 0x00, kFri[0], kFri[1], 0x08, 0x27, 0x49, 0x3A, 0x53, 0x21};
  ASSERT_EQ(0, dechist_decode_index(index, rec, sizeof rec, 1));
  ASSERT_EQ(1u, index->history->count);
  const ss_index_point& p = index->history->points[0];
  EXPECT_EQ(day(7, 2, 2014), p.date);
  EXPECT_EQ(5000u, p.base);
  EXPECT_EQ(5010u, p.close);
  EXPECT_EQ(4995u, p.open);
  EXPECT_EQ(5020u, p.high);
  EXPECT_EQ(4970u, p.low);
  EXPECT_EQ(10, p.change);

  // Base 5 and a close 10 below it: refused, not wrapped to 4294967291.
  const uint8_t wrap[] = {0x00, kFri[0], kFri[1], 0x05, 0x00, 0x35, 0x3F, 0x3F, 0x3F};
  dechist_state st = {};
  ss_index_point q;
  LogCapture log;
  EXPECT_EQ(-1, dechist_decode_index_day(&st, wrap, sizeof wrap, &q));
  EXPECT_TRUE(log.has("below zero"));
  EXPECT_EQ(0u, st.prev_date);
}

TEST_F(History, EveryCutIsBadAndLeavesState) {
  std::vector<ss_stock_point> pts = {{day(6, 2, 2014), 12000, 12500, 11900, 12340, 0, 77777}};
  growbuf gb = {};
  ASSERT_EQ(0, growbuf_init(&gb, 256, 256));
  ASSERT_EQ(0, enchist_encode_stock(&gb, pts.data(), 1));
  const int32_t whole = gb.len - 2;
  for (int32_t cut = 0; cut < whole; cut++) {
    dechist_state st = {day(5, 2, 2014), 11111, 22222};
    const dechist_state before = st;
    ss_stock_point p = {};
    EXPECT_EQ(-1, dechist_decode_stock_day(&st, gb.data + 2, cut, &p)) << cut;
    EXPECT_EQ(0, memcmp(&before, &st, sizeof st)) << cut;
  }
  growbuf_free(&gb);
}

TEST_F(History, StoreOrder) {
  // Written one record at a time so that dates may go backwards.
  auto one = [&](ss_time d, uint32_t close, uint64_t volume) {
    ss_stock_point p = {d, close, close, close, close, 0, volume};
    growbuf gb = {};
    EXPECT_EQ(0, growbuf_init(&gb, 64, 64));
    EXPECT_EQ(0, enchist_encode_stock(&gb, &p, 1));
    EXPECT_EQ(0, dechist_decode_stock(stock, gb.data, gb.len, 0));
    growbuf_free(&gb);
  };
  one(day(10, 2, 2014), 100, 1);
  one(day(12, 2, 2014), 120, 1);
  one(day(11, 2, 2014), 110, 1);   // inserted between
  one(day(12, 2, 2014), 125, 1);   // replaces
  one(day(13, 2, 2014), 130, 0);   // volume 0: not kept
  ssmodel_set_history_from(stock, day(10, 2, 2014));
  one(day(7, 2, 2014), 90, 1);     // before history-from: not kept
  std::vector<ss_stock_point> p = points();
  ASSERT_EQ(3u, p.size());
  EXPECT_EQ(day(10, 2, 2014), p[0].date);
  EXPECT_EQ(110u, p[1].close);
  EXPECT_EQ(125u, p[2].close);
  EXPECT_FALSE(stock->flags & kInHistory);  // never complete

  // Three days whose second repeats the first date: the first point is
  // replaced, and a day's change is filled from the point before it.
  ssmodel_free_history(stock);
  ssmodel_set_history_from(stock, 0);
  const ss_stock_point three[] = {{day(3, 3, 2014), 200, 200, 200, 200, 0, 5},
                                  {day(3, 3, 2014), 210, 210, 210, 210, 0, 5},
                                  {day(4, 3, 2014), 230, 230, 230, 230, 0, 5}};
  growbuf gb = {};
  ASSERT_EQ(0, growbuf_init(&gb, 256, 256));
  // The writer refuses nothing here: equal dates are not "before".
  ASSERT_EQ(0, enchist_encode_stock(&gb, three, 3));
  ASSERT_EQ(0, dechist_decode_stock(stock, gb.data, gb.len, 1));
  p = points();
  ASSERT_EQ(2u, p.size());
  EXPECT_EQ(210u, p[0].close);
  EXPECT_EQ(20, p[1].change);
  growbuf_free(&gb);
}

// Where a day's change comes from when the record gives none: a reply's
// first day takes it from the point stored before it only when that point is
// the trading day just before (never across a gap of days the cache does not
// hold); later days of the reply take it from the point stored before them.
TEST_F(History, ChangeFromThePointBefore) {
  struct Case {
    const char* name;
    std::vector<ss_stock_point> stored, reply;
    std::vector<int32_t> changes;  // of every point afterwards
  };
  auto pt = [](ss_time d, uint32_t close, uint64_t volume) { return ss_stock_point{d, close, close, close, close, 0, volume}; };
  const Case cases[] = {
      {"first day days after the stored point takes no change",
       {pt(day(3, 3, 2014), 200, 5)},
       {pt(day(10, 3, 2014), 230, 5)},
       {0, 0}},
      {"first day two days after the stored point takes no change",
       {pt(day(3, 3, 2014), 200, 5)},
       {pt(day(5, 3, 2014), 230, 5)},
       {0, 0}},
      // The client asks from its newest cached day: the reply's first day
      // replaces it and keeps its change against the trading day before.
      {"first day replacing the newest stored point",
       {pt(day(3, 3, 2014), 200, 5), pt(day(4, 3, 2014), 220, 5)},
       {pt(day(4, 3, 2014), 240, 5)},
       {0, 40}},
      {"first day on the Monday after a stored Friday",
       {pt(day(7, 3, 2014), 200, 5)},
       {pt(day(10, 3, 2014), 190, 5)},
       {0, -10}},
      // The reply's first day has no close (and volume 0: not stored), so
      // the second day reads with change 0 and takes it from 3/3.
      {"a later day takes the change from the point stored before it",
       {pt(day(3, 3, 2014), 200, 5)},
       {pt(day(5, 3, 2014), 0, 0), pt(day(6, 3, 2014), 230, 5)},
       {0, 30}},
      {"a later day with its own change keeps it",
       {pt(day(3, 3, 2014), 200, 5)},
       {pt(day(5, 3, 2014), 210, 5), pt(day(6, 3, 2014), 250, 5)},
       {0, 0, 40}},
  };
  auto load = [&](const std::vector<ss_stock_point>& pts) {
    growbuf gb = {};
    ASSERT_EQ(0, growbuf_init(&gb, 256, 256));
    ASSERT_EQ(0, enchist_encode_stock(&gb, pts.data(), uint32_t(pts.size())));
    ASSERT_EQ(0, dechist_decode_stock(stock, gb.data, gb.len, 1));
    growbuf_free(&gb);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ssmodel_free_history(stock);
    load(c.stored);
    load(c.reply);
    std::vector<int32_t> got;
    for (const ss_stock_point& p : points()) got.push_back(p.change);
    EXPECT_EQ(c.changes, got);
  }
}

TEST_F(History, CountsThatDoNotMatchTheBytes) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"one byte", {0x00}},
      {"count above the days", {0x00, 0x02, 0x1A, kFri[0], kFri[1], 0x32, 0x26, 0x00, 0x05}},
      {"bytes after the days", {0x00, 0x01, 0x1A, kFri[0], kFri[1], 0x32, 0x26, 0x00, 0x05, 0x99}},
      {"a count the bytes cannot hold", {0xFF, 0xFF, 0x1A, kFri[0], kFri[1], 0x32, 0x26, 0x00, 0x05}},
      {"a cut day", {0x00, 0x01, 0x1A, kFri[0], kFri[1], 0x32, 0x26}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    ssmodel_free_history(stock);
    stock->flags |= 0x2000;
    EXPECT_EQ(-1, dechist_decode_stock(stock, c.bytes.data(), int32_t(c.bytes.size()), 1));
    EXPECT_TRUE(log.has("stock history"));
    EXPECT_FALSE(stock->flags & kInHistory);
    // No array was grown for a count the bytes cannot hold.
    if (c.bytes[0] == 0xFF) {
      EXPECT_EQ(nullptr, stock->history);
    }
  }
}

TEST_F(History, GeneratedRoundTrips) {
  std::mt19937 gen(7);
  auto rng = [&] { return uint32_t(gen()); };
  std::vector<ss_stock_point> sp;
  std::vector<ss_index_point> ip;
  ss_time d = day(2, 1, 2013);
  uint32_t close = 50000, value = 480000;
  for (int i = 0; i < 300; i++) {
    d = sstime_add_days(d, int32_t(1 + rng() % 4));
    close = std::max<uint32_t>(100, close + (rng() % 2001) - 1000);
    uint32_t open = rng() % 3 ? close + (rng() % 401) - 200 : close;
    uint32_t high = std::max(open, close) + (rng() % 2 ? rng() % 300 : 0);
    uint32_t low = std::min(open, close) - (rng() % 2 ? rng() % 90 : 0);
    sp.push_back({d, open, high, low, close, 0, rng() % 4 ? uint64_t(rng() % 5000000) + 1 : (uint64_t(1) << 40)});
    uint32_t base = value;
    value = value + (rng() % 20001) - 10000;
    uint32_t o = rng() % 3 ? base : value + 500;
    ip.push_back({d, base, o, std::max(o, value) + rng() % 700, std::min(o, value) - rng() % 700, value, 0});
  }
  ip[5] = {ip[5].date, ip[4].close, 0, 0, 0, 0, 0};  // a day without values
  growbuf gb = {};
  ASSERT_EQ(0, growbuf_init(&gb, 4096, 4096));
  ASSERT_EQ(0, enchist_encode_stock(&gb, sp.data(), uint32_t(sp.size())));
  ASSERT_EQ(0, dechist_decode_stock(stock, gb.data, gb.len, 1));
  std::vector<ss_stock_point> got = points();
  ASSERT_EQ(sp.size(), got.size());
  for (size_t i = 0; i < sp.size(); i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(sp[i].date, got[i].date);
    EXPECT_EQ(sp[i].open, got[i].open);
    EXPECT_EQ(sp[i].high, got[i].high);
    EXPECT_EQ(sp[i].low, got[i].low);
    EXPECT_EQ(sp[i].close, got[i].close);
    EXPECT_EQ(sp[i].volume, got[i].volume);
    EXPECT_EQ(i ? int32_t(sp[i].close - sp[i - 1].close) : 0, got[i].change);
  }
  growbuf_reset(&gb);
  ASSERT_EQ(0, enchist_encode_index(&gb, ip.data(), uint32_t(ip.size())));
  ASSERT_EQ(0, dechist_decode_index(index, gb.data, gb.len, 1));
  ASSERT_EQ(ip.size(), index->history->count);
  for (size_t i = 0; i < ip.size(); i++) {
    SCOPED_TRACE(i);
    const ss_index_point& g = index->history->points[i];
    EXPECT_EQ(ip[i].date, g.date);
    EXPECT_EQ(ip[i].base, g.base);
    EXPECT_EQ(ip[i].open, g.open);
    EXPECT_EQ(ip[i].high, g.high);
    EXPECT_EQ(ip[i].low, g.low);
    EXPECT_EQ(ip[i].close, g.close);
    EXPECT_EQ(ip[i].close ? int32_t(ip[i].close - ip[i].base) : 0, g.change);
  }
  growbuf_free(&gb);
}

TEST_F(History, NewsRoundTripAndTypeLimit) {
  std::vector<ss_news> items(3);
  const ss_time t0 = sstime_pack(0, 30, 10, 3, 2, 2014);
  for (uint32_t i = 0; i < items.size(); i++) {
    items[i] = {};
    items[i].number = 100 + i;
    items[i].time = sstime_add_days(t0, int32_t(i));
    for (int k = 0; k <= int(i) * 7 && k < 14; k++) items[i].codes[k] = uint32_t(k + 1);
    items[i].flags = i == 2 ? (kNewsFlag1 | kNewsFlag4) : 0;
    snprintf(items[i].headline, sizeof items[i].headline, "Headline %u", i);
  }
  ssmodel_set_history_from(issuer, sstime_add_days(t0, 1));  // the first item is older
  growbuf gb = {};
  ASSERT_EQ(0, growbuf_init(&gb, 1024, 1024));
  ASSERT_EQ(0, enchist_encode_news(&gb, items.data(), uint32_t(items.size())));
  issuer->flags |= 0x2000;
  ASSERT_EQ(0, dechist_decode_news(issuer, gb.data, gb.len, 1));
  ASSERT_EQ(2u, issuer->news.count);
  int i = 1;
  for (const ss_news* n = issuer->news.head; n; n = n->next, i++) {
    EXPECT_EQ(items[i].number, n->number);
    EXPECT_EQ(items[i].time, n->time);
    EXPECT_EQ(0, memcmp(items[i].codes, n->codes, sizeof n->codes));
    EXPECT_EQ(items[i].flags, n->flags);
    EXPECT_STREQ(items[i].headline, n->headline);
  }
  EXPECT_TRUE(issuer->flags & kInHistory);
  EXPECT_FALSE(issuer->flags & 0x2000);

  // 15 type codes: the writer refuses them, and so does the reader.
  uint32_t fifteen[kNewsCodes];
  for (int k = 0; k < kNewsCodes; k++) fifteen[k] = uint32_t(k + 1);
  uint8_t out[kNewsMaxItem + 32];
  LogCapture log;
  EXPECT_EQ(-1, encnews_encode(out, nullptr, 1, t0, fifteen, 0, "x"));
  const uint8_t bad[] = {0, 0, 0, 1, 0, 0, 0, 1, 15, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0};
  uint32_t number, codes[kNewsCodes], flags;
  ss_time time;
  char headline[kNewsHeadlineRead];
  EXPECT_EQ(-1, decnews_decode_summary(nullptr, &number, &time, codes, &flags, headline, bad, sizeof bad));
  EXPECT_TRUE(log.has("can't encode 15 types"));
  EXPECT_TRUE(log.has("news can't have 15 types"));
  growbuf_free(&gb);
}

}  // namespace
