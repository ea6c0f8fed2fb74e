// Summary records: an exchange of stocks covering every flag case of the
// stock summary (untraded, traded at the previous close, open/high/low equal
// to the last or the open, a second volume or value of its own), per-order
// and level-total depth, crossed books with auctions, states, quote bases,
// resume times, open balances, auction figures, indices and the day's news is
// written with encsum into bytes, read into a freshly started model and
// compared field by field with the table it was built from (exchange 0 with
// its depth-only list, exchange 3 with the inverted one). Then the bounds the
// sparse-list readers put on sizes and steps from the wire, and the news
// summary's earlier days recorded with delivery held.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decblk.h"
#include "dechdr.h"
#include "decnews.h"
#include "decsum.h"
#include "encode.h"
#include "encsum.h"
#include "growbuf.h"
#include "lazyfree.h"
#include "log.h"
#include "ssalert.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "testlog.h"
#include "testmodel.h"
#include "testsnapshot.h"

namespace {

std::atomic<int64_t> g_now_ms{1000000};
int64_t test_clock() { return g_now_ms.load(); }
const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime(test_clock));

const ss_time kDate = sstime_pack_date(12, 3, 2014);
ss_time at(int h, int m, int s) { return sstime_pack(s, m, h, 12, 3, 2014); }

constexpr uint32_t kExState = 3;

using Lvl = sim_snap_level;

// A stock's day; the rest of its record as generated records default it.
sim_snap_stock stock(const char* code, uint32_t close, uint32_t open, uint32_t high, uint32_t low, uint32_t last,
                     uint64_t volume, uint64_t value, uint64_t volume2, uint64_t value2, uint32_t trades,
                     ss_time trade_time, uint32_t first, std::vector<Lvl> bids = {}, std::vector<Lvl> offers = {}) {
  sim_snap_stock s;
  s.code = code;
  s.close = close;
  s.open = open;
  s.high = high;
  s.low = low;
  s.last = last;
  s.volume = volume;
  s.value = value;
  s.volume2 = volume2;
  s.value2 = value2;
  s.trades = trades;
  s.trade_time = trade_time;
  s.first = first;
  s.sides[0] = std::move(bids);
  s.sides[1] = std::move(offers);
  s.state = kExState;
  return s;
}

// Prices in hundredths of a cent. Each row names the case it covers.
std::vector<sim_snap_stock> rows() {
  std::vector<sim_snap_stock> r;
  // Untraded, only a first price: F = 0.
  r.push_back(stock("AAA", 10000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10050, {}, {}));
  // Untraded with a second pair of its own: F = 0x80.
  r.push_back(stock("AAB", 10000, 0, 0, 0, 0, 0, 0, 500, 51000, 0, 0, 10000, {{9900, {100}}}, {{10100, {200, 300}}}));
  // Traded all day at the previous close: F = 0x1F.
  r.push_back(stock("AAC", 25000, 25000, 25000, 25000, 25000, 1000, 2500000, 1000, 2500000, 4, at(10, 5, 0), 25000,
               {}, {}));
  // Last equals close, open below, high = last, low = open: bits 0,1,3,6.
  r.push_back(stock("AAD", 5000, 4900, 5000, 4900, 5000, 300, 148000, 300, 148000, 2, at(11, 0, 1), 4900,
               {{4990, {10, 20}}, {4980, {5}}}, {{5010, {7}}}));
  // Open above the last, high = open, low = last: bits 0, 4, 5.
  r.push_back(stock("AAE", 5000, 5100, 5100, 4800, 4800, 900, 441000, 900, 441000, 7, at(12, 30, 0), 5100, {}, {}));
  // Everything different.
  r.push_back(stock("AAF", 2000, 2050, 2210, 1990, 2100, 12345, 2600000, 12345, 2600000, 31, at(15, 59, 59), 2040,
               {{2090, {1000}}, {2080, {2000, 3000}}, {2070, {1}}, {2060, {2}}, {2050, {3}}},
               {{2110, {4}}, {2120, {5}}}));
  // Volume without a last price.
  r.push_back(stock("AAG", 800, 0, 0, 0, 0, 5000, 400000, 5000, 400000, 1, at(10, 0, 0), 800, {}, {}));
  // Second volume agrees, second value differs: the pair must be written.
  r.push_back(stock("AAH", 1500, 1500, 1600, 1400, 1550, 700, 108500, 700, 99999, 3, at(10, 20, 0), 1500, {}, {}));
  // Second volume differs.
  r.push_back(stock("AAI", 1500, 1500, 1600, 1400, 1550, 700, 108500, 650, 100000, 3, at(10, 20, 0), 1500, {}, {}));
  // A turnover whose value x 100 passes 64 bits.
  r.push_back(stock("AAJ", 10000000, 10000000, 10000000, 10000000, 10000000, 2000000000000ull, 200000000000000000ull,
               2000000000000ull, 200000000000000000ull, 90000, at(14, 0, 0), 10000000, {}, {}));
  // Crossed book: indicative auction price and volume.
  {
    sim_snap_stock x = stock("AAK", 3000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3000, {{3050, {100, 200}}}, {{3000, {150}}});
    x.auction_price = 3020;
    x.auction_volume = 250;
    x.surplus = -50;
    x.auction_bid = 3050;
    x.auction_bid_volume = 300;
    x.auction_offer = 3000;
    x.auction_offer_volume = 150;
    r.push_back(x);
  }
  // Touching book with no indicative price: the price 0 alone is written.
  r.push_back(stock("AAL", 3000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3000, {{3000, {10}}}, {{3000, {20}}}));
  // Bid without offers counts as crossed.
  {
    sim_snap_stock x = stock("AAM", 1200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1200, {{1210, {55}}}, {});
    x.auction_price = 1210;
    x.auction_volume = 55;
    r.push_back(x);
  }
  // Level totals (out-of-order depth), five levels and two.
  {
    sim_snap_stock x = stock("AAN", 900, 900, 950, 880, 920, 100, 9200, 100, 9200, 1, at(10, 0, 9), 900,
          {{910, {5000}, 3}, {905, {100}, 1}, {900, {7}, 2}, {890, {8}, 1}, {880, {9}, 4}},
          {{930, {1234}, 12}, {940, {1}, 1}});
    x.totals = true;
    r.push_back(x);
  }
  {
    sim_snap_stock x = stock("AAO", 900, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 900, {}, {{1000, {10}, 1}});
    x.totals = true;
    r.push_back(x);
  }
  // States, quote bases, resume times, open balances.
  {
    sim_snap_stock x = stock("AAP", 400, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 400, {}, {});
    x.state = 7;
    x.basis = 0x8000000000000001ull >> 3;
    r.push_back(x);
  }
  {
    sim_snap_stock x = stock("AAQ", 400, 410, 410, 410, 410, 10, 410, 10, 410, 1, at(10, 1, 0), 410, {}, {});
    x.resume = at(14, 15, 0);
    x.balance = 777;
    x.state = kExState;
    r.push_back(x);
  }
  {
    sim_snap_stock x = stock("AAR", 99990, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 100000, {{99000, {1}}}, {{100010, {2}}});
    x.state = 1;
    x.basis = 42;
    x.resume = at(11, 0, 0);
    x.balance = 1;
    r.push_back(x);
  }
  // Odd prices (not on the tenths) and a wide price.
  r.push_back(stock("AAS", 12345, 12347, 12349, 12341, 12343, 10, 1234, 10, 1234, 2, at(10, 0, 0), 12345, {}, {}));
  r.push_back(stock("AAT", 0x7FFFFFF0u, 0x7FFFFFF0u, 0x7FFFFFF0u, 0x7FFFFFF0u, 0x7FFFFFF0u, 1, 0x7FFFFFF0u / 100, 1,
               0x7FFFFFF0u / 100, 1, at(10, 0, 0), 1, {}, {}));
  return r;
}

std::vector<sim_snap_index> index_rows() {
  return {{"XAO", 500000, 500100, 502000, 499000, 501500, at(16, 5, 0)},
          {"XJO", 480000, 0, 0, 0, 0, kDate},
          {"XSO", 3000, 3010, 3050, 2990, 2995, at(10, 0, 0)}};
}

struct NewsRow {
  const char* issuer;
  uint32_t number;
  ss_time time;
  std::vector<uint32_t> codes;
  uint32_t flags;
  const char* headline;
};

std::vector<NewsRow> news_rows() {
  return {{"AAC", 101, at(9, 30, 0), {1, 2, 3}, kNewsFlag1, "Quarterly report"},
          {"AAF", 102, at(10, 15, 0), {5}, kNewsFlag4 | kNewsFlag1, "Change of director"},
          {"AAF", 103, at(12, 0, 0), {}, 0, ""},
          {"AAK", 104, at(13, 0, 0), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, 0, "Fourteen types"}};
}

void build_exchange(ss_exchange* ex) {
  sim_snapshot snap;
  snap.index = ex->index;
  snap.date = kDate;
  snap.state = kExState;
  snap.stocks = rows();
  snap.indices = index_rows();
  ssmodel_set_date(ex, kDate);
  ex->state = kExState;
  ASSERT_EQ(0, sim_snapshot_build(snap, ex));
  for (const NewsRow& n : news_rows()) {
    std::vector<uint32_t> codes = n.codes;
    codes.push_back(0);
    ASSERT_NE(nullptr, ssmodel_add_news(ssmodel_get_issuer(ex, n.issuer), n.number, n.time, codes.data(), n.flags,
                                        n.headline));
  }
}

// The messages of a snapshot: type and payload.
struct Msg {
  uint32_t type;
  std::vector<uint8_t> payload;
};

std::vector<Msg> split(const std::vector<uint8_t>& bytes) {
  std::vector<Msg> out;
  size_t at = 0;
  while (at < bytes.size()) {
    EXPECT_EQ(0, bytes[at]);
    Msg m{bytes[at + 1], {}};
    at += 2;
    if (m.type == kSumMarketState) {
      m.payload.push_back(bytes[at++]);
    } else {
      growbuf gb;
      growbuf_init(&gb, 4096, 4096);
      int r = decblk_inflate(bytes.data() + at, static_cast<int32_t>(bytes.size() - at), &gb);
      EXPECT_GT(r, 0);
      if (r <= 0) break;
      m.payload.assign(gb.data, gb.data + gb.len);
      growbuf_free(&gb);
      at += static_cast<size_t>(r);
    }
    out.push_back(m);
  }
  return out;
}

int apply(ss_exchange* ex, const Msg& m) {
  const uint8_t* p = m.payload.data();
  const int32_t n = static_cast<int32_t>(m.payload.size());
  switch (m.type) {
    case kSumIndices: return decsum_decode_index(ex, p, n);
    case kSumDepthOnly: return decsum_decode_depth_only(ex, p, n, 0);
    case kSumDepthOnlyInverted: return decsum_decode_depth_only(ex, p, n, 1);
    case kSumStocks: return decsum_decode_stock(ex, p, n);
    case kSumOpenBalances: return decsum_decode_open_balance(ex, p, n);
    case kSumNews: return decsum_decode_news(ex, p, n);
    case kSumMarketState: return ssevent_set_exchange_state(ex, ex->date, p[0], 0, 0);
    case kSumStockStates: return decsum_decode_stock_states(ex, p, n);
    case kSumQuoteBases: return decsum_decode_quote_bases(ex, p, n);
    case kSumResumeTimes: return decsum_decode_resume_times(ex, p, n);
    case kSumAuctionInfo: return decsum_decode_auction_info(ex, p, n);
  }
  ADD_FAILURE() << "unexpected type " << m.type;
  return -1;
}

class Summary : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ssclient_fini();
    ASSERT_NO_FATAL_FAILURE(start_terminal_model());
    lazyfree_set_delay(10);
  }
  void TearDown() override { ssmodel_fini(); }
  // Writes the table's exchange with encsum and returns the bytes; the model
  // is started afresh afterwards.
  std::vector<uint8_t> write_table(int index) {
    ss_exchange* ex = ssmodel_exchange(index);
    build_exchange(ex);
    growbuf gb;
    growbuf_init(&gb, 65536, 65536);
    EXPECT_EQ(0, encsum_encode_stock(&gb, ex, 0));
    std::vector<uint8_t> bytes(gb.data, gb.data + gb.len);
    growbuf_free(&gb);
    ssmodel_fini();
    start_terminal_model();
    ssmodel_set_date(ssmodel_exchange(index), kDate);
    return bytes;
  }
};

std::vector<uint32_t> types_of(const std::vector<Msg>& msgs) {
  std::vector<uint32_t> t;
  for (const Msg& m : msgs) t.push_back(m.type);
  return t;
}

TEST_P(Summary, RoundTripComparesEqualFieldByField) {
  const int index = GetParam();
  const std::vector<Msg> msgs = split(write_table(index));
  const uint32_t depth_only = index == kExchangeAxo ? kSumDepthOnlyInverted : kSumDepthOnly;
  EXPECT_EQ((std::vector<uint32_t>{kSumIndices, depth_only, kSumStocks, kSumOpenBalances, kSumNews, kSumMarketState,
                                   kSumStockStates, kSumQuoteBases, kSumResumeTimes, kSumAuctionInfo}),
            types_of(msgs));
  ss_exchange* ex = ssmodel_exchange(index);
  for (const Msg& m : msgs) ASSERT_EQ(0, apply(ex, m)) << "type " << m.type;

  EXPECT_EQ(kExState, ex->state);
  EXPECT_TRUE(ex->flags & kExStockSummary);
  EXPECT_TRUE(ex->flags & kExIndexSummary);
  EXPECT_TRUE(ex->flags & kExNewsSummary);
  const std::vector<sim_snap_stock> table = rows();
  ASSERT_EQ(table.size(), ex->speed_count);
  uint32_t trades = 0;
  for (size_t i = 0; i < table.size(); i++) {
    const sim_snap_stock& r = table[i];
    ss_stock* s = ssmodel_find_stock(ex, r.code.c_str());
    expect_snapshot_stock(s, r, int32_t(i));
    if (!s) continue;
    SCOPED_TRACE(r.code);
    trades += r.trades;
    // The average in exact arithmetic, rounded.
    const long double avg = r.volume2 ? static_cast<long double>(r.value2) * 100 / r.volume2 : r.close;
    EXPECT_EQ(static_cast<uint32_t>(avg + 0.5L), s->average_price);
    // The display follows the last price, else the indicative price.
    EXPECT_EQ(r.last ? r.last : r.auction_price ? r.auction_price : r.close, s->disp_price);
  }
  EXPECT_EQ(trades, ex->trades_today);
  EXPECT_EQ(table.size(), ex->current.count);

  const std::vector<sim_snap_index> indices = index_rows();
  ASSERT_EQ(indices.size(), ex->index_speed_count);
  for (size_t i = 0; i < indices.size(); i++)
    expect_snapshot_index(ssmodel_find_index(ex, indices[i].code.c_str()), indices[i], int32_t(i));
  EXPECT_EQ(indices.size(), ex->current_indices.count);

  // AXO's issuers and their news live with ASX: its own news summary is empty.
  if (index == kExchangeAxo) return;
  for (const NewsRow& n : news_rows()) {
    SCOPED_TRACE(n.number);
    ss_issuer* is = ssmodel_find_issuer(ex, n.issuer);
    ASSERT_NE(nullptr, is);
    const ss_news* item = ssmodel_find_news(is, n.number);
    ASSERT_NE(nullptr, item);
    EXPECT_EQ(n.time, item->time);
    EXPECT_EQ(n.flags, item->flags);
    EXPECT_STREQ(n.headline, item->headline);
    for (size_t k = 0; k < kNewsCodes; k++) EXPECT_EQ(k < n.codes.size() ? n.codes[k] : 0, item->codes[k]);
  }
}

INSTANTIATE_TEST_SUITE_P(Exchanges, Summary, ::testing::Values(kExchangeAsx, kExchangeAxo));

class SparseLists : public ::testing::Test {
 protected:
  void SetUp() override {
    ssclient_fini();
    ASSERT_NO_FATAL_FAILURE(start_terminal_model());
    ex = ssmodel_exchange(0);
    ssmodel_set_date(ex, kDate);
    for (const char* c : {"A", "B", "C", "D"}) dechdr_add_stock_speed(ssmodel_get_stock(ex, c));
  }
  void TearDown() override { ssmodel_fini(); }
  ss_exchange* ex = nullptr;
};

struct SparseCase {
  const char* name;
  std::vector<uint8_t> payload;  // quote bases: vint N, steps each with a vlong
  int result;
  std::vector<uint64_t> bases;  // of A-D afterwards
};

TEST_F(SparseLists, QuoteBasesStepsAndBounds) {
  const SparseCase cases[] = {
      {"first step is the speed plus one", {4, 1, 7, 2, 9}, 0, {7, 0, 9, 0}},
      {"a first step of 0 would be speed -1", {4, 0, 7}, -1, {0, 0, 0, 0}},
      {"a later step of 0 names the same stock again", {4, 1, 7, 0, 9}, -1, {7, 0, 0, 0}},
      {"steps reaching N stop the list, earlier entries kept", {2, 1, 7, 2, 9}, 0, {7, 0, 0, 0}},
      {"N above the speed count is bounded by the count", {100, 4, 5, 1, 6}, 0, {0, 0, 0, 5}},
      {"N above the table size is refused", {0x84, 0x80, 0x80, 0x00, 1, 1}, -1, {0, 0, 0, 0}},
      {"a short field ends the list quietly", {4, 1, 7, 1}, 0, {7, 0, 0, 0}},
  };
  for (const SparseCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (uint32_t i = 0; i < 4; i++) ex->speeds[i]->quote_basis = 0;
    EXPECT_EQ(c.result, decsum_decode_quote_bases(ex, c.payload.data(), static_cast<int32_t>(c.payload.size())));
    for (uint32_t i = 0; i < 4; i++) EXPECT_EQ(c.bases[i], ex->speeds[i]->quote_basis) << i;
  }
}

TEST_F(SparseLists, DepthOnlyTableSizeIsBounded) {
  const uint8_t huge[] = {0x84, 0x80, 0x80, 0x00, 1};  // more stocks than any speed table
  EXPECT_EQ(-1, decsum_decode_depth_only(ex, huge, sizeof huge, 0));
  const uint8_t zero_step[] = {4, 0};
  EXPECT_EQ(-1, decsum_decode_depth_only(ex, zero_step, sizeof zero_step, 0));
}

TEST(NewsItem, TypeCountLimitAndFlags) {
  uint8_t out[kNewsMaxItem];
  uint32_t fourteen[15] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0};
  uint32_t fifteen[15] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  EXPECT_EQ(-1, encnews_encode(out, "BHP", 1, 0, fifteen, 0, "x"));
  const int n = encnews_encode(out, nullptr, 7, 123, fourteen, kNewsFlag1 | kNewsFlag4, std::string(200, 'h').c_str());
  ASSERT_GT(n, 0);
  EXPECT_LE(n, encnews_max_size());
  EXPECT_EQ(0xC0 | 14, out[8]);  // number and time, then T: both flags, 14 types
  uint32_t number, flags, types[kNewsTypeSlots];
  ss_time time;
  char headline[kNewsHeadlineRead];
  EXPECT_EQ(n, decnews_decode_summary(nullptr, &number, &time, types, &flags, headline, out, n));
  EXPECT_EQ(7u, number);
  EXPECT_EQ(123u, time);
  EXPECT_EQ(kNewsFlag1 | kNewsFlag4, flags);
  for (int i = 0; i < kNewsTypeSlots; i++) EXPECT_EQ(fourteen[i], types[i]);
  EXPECT_EQ(std::string(n - 24, 'h'), headline);
  for (int cut = 0; cut < n; cut++)
    EXPECT_EQ(0, decnews_decode_summary(nullptr, &number, &time, types, &flags, headline, out, cut)) << cut;
  out[8] = 15;  // fifteen types claimed
  EXPECT_EQ(-1, decnews_decode_summary(nullptr, &number, &time, types, &flags, headline, out, n));
}

// A news summary brings the issuers' earlier days as well as today. Items of
// an earlier day are history: their alerts are recorded with delivery held,
// so that a full change entry drops them at once instead of making the io
// thread wait for a delivery; an item of the day waits like any news. The
// issuer's change entry is filled first, so every event recorded for it
// finds the entry full; the wait is seen through the notify wait hooks.
int g_waits = 0;
void count_wait(int32_t) { g_waits++; }
int give_up_waiting() { return 1; }

class NewsSummaryHold : public ::testing::Test {
 protected:
  void SetUp() override {
    ssclient_fini();
    ASSERT_NO_FATAL_FAILURE(start_terminal_model());
    ASSERT_EQ(0, ssevent_init());
    ASSERT_EQ(0, ssalert_init());
    ASSERT_EQ(0, ssnotify_init());
    ex = ssmodel_exchange(kExchangeAsx);
    ssmodel_set_date(ex, kDate);
    issuer = ssmodel_get_issuer(ex, "BHP");
    ASSERT_NE(nullptr, issuer);
    ssalert_filter* f = ssalert_new();
    ASSERT_NE(nullptr, f);
    ssalert_add_types(f, kAlertCodeNews);
    ASSERT_EQ(0, ssalert_register(f));
    ASSERT_EQ(0, ssnotify_add(issuer, ~0u, [](const ss_change*, void*, uint64_t, uint32_t) {}, this, 0, 0));
    for (int i = 0; i < kChangeEvents; i++) {
      void* p = ssevent_new_payload(kEvState);
      ASSERT_NE(nullptr, p);
      ASSERT_EQ(0, ssnotify_record(issuer, kChangeState, ssevent_add_event(issuer, kEvState, p)));
    }
    g_waits = 0;
    ssnotify_set_wait_hooks(count_wait, give_up_waiting);
  }
  void TearDown() override {
    ssnotify_set_wait_hooks(nullptr, nullptr);
    ssnotify_fini();
    ssmodel_fini();
    ssalert_fini();
    ssevent_fini();
  }
  ss_exchange* ex = nullptr;
  ss_issuer* issuer = nullptr;
};

TEST_F(NewsSummaryHold, EarlierDaysDoNotWaitForADelivery) {
  struct Case {
    const char* name;
    uint32_t number;
    ss_time time;
    bool waits;
    const char* line;
  };
  const Case cases[] = {
      {"an item of yesterday", 201, sstime_pack(0, 30, 16, 11, 3, 2014), false, "can't record BHP event and locked"},
      {"an item of last month", 202, sstime_pack(0, 0, 10, 20, 2, 2014), false, "can't record BHP event and locked"},
      {"an item of the day", 203, at(9, 45, 0), true, "dropped BHP event: aborting"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint8_t item[kNewsMaxItem];
    const uint32_t types[kNewsTypeSlots] = {3};
    const int n = encnews_encode(item, "BHP", c.number, c.time, types, kNewsFlag1, "Half-year result");
    ASSERT_GT(n, 0);
    g_waits = 0;
    LogCapture log;
    ASSERT_EQ(0, decsum_decode_news(ex, item, n));
    EXPECT_EQ(c.waits, g_waits > 0);
    EXPECT_TRUE(log.has(c.line));
    const ss_news* added = ssmodel_find_news(issuer, c.number);
    ASSERT_NE(nullptr, added);
    EXPECT_EQ(c.time, added->time);
  }
  // Delivery is not left held: the full entry is delivered whole.
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_EQ(0, ssnotify_record(issuer, kChangeState, ssevent_add_event(issuer, kEvState, ssevent_new_payload(kEvState))));
}

// The index speed table holds 256 indices: a summary of 257 is refused, not
// written past the table.
TEST_F(SparseLists, IndexSpeedTableIsBounded) {
  auto payload = [](int entries) {
    std::vector<uint8_t> p;
    encode_set_ref_date(kDate);
    for (int i = 0; i < entries; i++) {
      uint8_t b[32];
      char code[kCodeSize];
      snprintf(code, sizeof code, "X%03d", i);
      int n = encode_code(b, code);
      n += encode_index(b + n, 1000);
      n += encode_index(b + n, 0);  // no last value: no changes, no track part
      n += encode_time_delta(b + n, kDate);
      p.insert(p.end(), b, b + n);
    }
    return p;
  };
  const std::vector<uint8_t> full = payload(int(kIndexSpeeds));
  EXPECT_EQ(0, decsum_decode_index(ex, full.data(), int32_t(full.size())));
  EXPECT_EQ(kIndexSpeeds, ex->index_speed_count);
  ssmodel_reset_exchange_keep_date(ex, kDate);
  const std::vector<uint8_t> over = payload(int(kIndexSpeeds) + 1);
  const uint64_t since = log_count();
  EXPECT_EQ(-1, decsum_decode_index(ex, over.data(), int32_t(over.size())));
  EXPECT_NE(std::string::npos, logged_since(since).find("index speed table full at 256"));
  EXPECT_EQ(kIndexSpeeds, ex->index_speed_count);
}

// A snapshot of the given stocks written with encsum, split into messages,
// with the model started afresh for the reader.
std::vector<Msg> written(int index, std::vector<sim_snap_stock>& stocks) {
  ss_exchange* ex = ssmodel_exchange(index);
  sim_snapshot snap;
  snap.index = uint32_t(index);
  snap.date = kDate;
  snap.state = kExState;
  for (sim_snap_stock& x : stocks) x.state = 0;  // the states message is not read here
  snap.stocks = stocks;
  ssmodel_set_date(ex, kDate);
  ex->state = kExState;
  EXPECT_EQ(0, sim_snapshot_build(snap, ex));
  growbuf gb;
  growbuf_init(&gb, 65536, 65536);
  EXPECT_EQ(0, encsum_encode_stock(&gb, ex, 0));
  std::vector<uint8_t> bytes(gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  ssmodel_fini();
  start_terminal_model();
  ssmodel_set_date(ssmodel_exchange(index), kDate);
  return split(bytes);
}

const Msg* message(const std::vector<Msg>& msgs, uint32_t type) {
  for (const Msg& m : msgs)
    if (m.type == type) return &m;
  return nullptr;
}

class SummaryCases : public ::testing::Test {
 protected:
  void SetUp() override {
    ssclient_fini();
    ASSERT_NO_FATAL_FAILURE(start_terminal_model());
    lazyfree_set_delay(10);
  }
  void TearDown() override { ssmodel_fini(); }
};

// Exchange 1's special codes (numbered, or five characters with F or H
// fourth): their value figures are not taken from the summary.
TEST_F(SummaryCases, SpecialCodesTakeNoValue) {
  struct Case {
    const char* code;
    bool special;
  };
  const Case cases[] = {{"AIR", false}, {"AIRFA", true}, {"AIRHA", true}, {"ABC123", true}, {"AIRXA", false}};
  std::vector<sim_snap_stock> stocks;
  for (const Case& c : cases)
    stocks.push_back(stock(c.code, 500, 500, 510, 490, 505, 1000, 505000, 900, 450000, 3, at(11, 0, 0), 500));
  const std::vector<Msg> msgs = written(kExchangeNzx, stocks);
  ss_exchange* ex = ssmodel_exchange(kExchangeNzx);
  const Msg* m = message(msgs, kSumStocks);
  ASSERT_NE(nullptr, m);
  ASSERT_EQ(0, apply(ex, *m));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const ss_stock* s = ssmodel_find_stock(ex, c.code);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(1000u, s->volume);  // the rest of the day is stored either way
    EXPECT_EQ(505u, s->last);
    EXPECT_EQ(c.special ? 0u : 505000u, s->value);
    EXPECT_EQ(c.special ? 0u : 450000u, s->second_value);
  }
}

// The out-of-order flags follow the depth-only list that came before the
// stock summary; a stock summary without one leaves them as they are (and
// reads each stock's depth in the layout it has).
TEST_F(SummaryCases, OutOfOrderFlagsWithoutADepthOnlyList) {
  std::vector<sim_snap_stock> stocks;
  {
    sim_snap_stock x = stock("TOT", 900, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 900,
                             {{910, {5000}, 3}, {905, {100}, 1}, {900, {7}, 2}}, {{930, {1234}, 12}});
    x.totals = true;
    stocks.push_back(x);
    stocks.push_back(stock("ORD", 900, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 900, {{910, {5, 6}}, {900, {7}}}, {}));
  }
  const std::vector<Msg> msgs = written(kExchangeAsx, stocks);
  ss_exchange* ex = ssmodel_exchange(kExchangeAsx);
  const Msg* depth_only = message(msgs, kSumDepthOnly);
  const Msg* summary = message(msgs, kSumStocks);
  ASSERT_TRUE(depth_only && summary);
  struct Step {
    const char* name;
    bool with_list;
  };
  const Step steps[] = {{"summary after its depth-only list", true},
                        {"summary again without a list", false},
                        {"and once more", false}};
  for (const Step& st : steps) {
    SCOPED_TRACE(st.name);
    if (st.with_list) ASSERT_EQ(0, apply(ex, *depth_only));
    ASSERT_EQ(0, apply(ex, *summary));
    for (size_t i = 0; i < stocks.size(); i++)
      expect_snapshot_stock(ssmodel_find_stock(ex, stocks[i].code.c_str()), stocks[i], int32_t(i));
    int levels = 0;
    for (const ss_depth_level* l = ssmodel_find_stock(ex, "TOT")->levels[0]; l; l = l->next) levels++;
    EXPECT_EQ(3, levels);
  }
}

}  // namespace
