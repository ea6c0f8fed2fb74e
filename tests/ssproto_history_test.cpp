// History and news messages through the dispatcher, on a temporary data
// root: when a history reply is saved to the cache (live, nesting 0, date 0
// only), the given instrument of a saved stream, a corrupt stock history
// that lets the buffer go on against a corrupt news history that ends it,
// every cut of a reply as incomplete with nothing applied, the news item of
// today, and the news summary list with its global bit and its save.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "encblk.h"
#include "enchdr.h"
#include "enchist.h"
#include "decnews.h"
#include "encode.h"
#include "localdata.h"
#include "ssclient.h"
#include "ssnotify.h"
#include "ssproto.h"
#include "testclient.h"
#include "testdataroot.h"
#include "testlog.h"
#include "testmodel.h"

namespace fs = std::filesystem;

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime());

using Bytes = std::vector<uint8_t>;

uint32_t g_global = 0;
uint32_t g_stock_bits = 0;
void on_change(const ss_change* c, void*, uint64_t, uint32_t) {
  if (!c->instrument)
    g_global |= c->mask;
  else
    g_stock_bits |= c->mask;
}
int g_owner;

ss_time day(int d, int m, int y) { return sstime_pack_date(d, m, y); }

Bytes stock_record(ss_time first, int n) {
  std::vector<ss_stock_point> pts;
  for (int i = 0; i < n; i++) {
    uint32_t p = 20000 + uint32_t(i) * 100;
    pts.push_back({sstime_add_days(first, i), p, p + 100, p - 100, p + 50, 0, 500});
  }
  growbuf gb = {};
  EXPECT_EQ(0, growbuf_init(&gb, 1024, 1024));
  EXPECT_EQ(0, enchist_encode_stock(&gb, pts.data(), uint32_t(n)));
  Bytes out(gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  return out;
}

// A reply of type 110, 111 or 120 with a header that names no instrument.
Bytes reply(uint32_t type, uint8_t exch, const char* code, ss_time date, const Bytes& record) {
  Bytes b = {0, uint8_t(type), exch};
  uint8_t tmp[kEncodeRoomCode];
  int n = encode_code(tmp, code);
  b.insert(b.end(), tmp, tmp + n);
  n = encode_date16(tmp, date);
  b.insert(b.end(), tmp, tmp + n);
  growbuf gb = {};
  EXPECT_EQ(0, growbuf_init(&gb, 1024, 1024));
  EXPECT_EQ(0, encblk_write(&gb, record.data(), int32_t(record.size())));
  b.insert(b.end(), gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  return b;
}

class HistoryMsgs : public ::testing::Test {
 protected:
  void SetUp() override {
    root = dir.path();
    ASSERT_EQ(0, dir.use());
    ASSERT_NO_FATAL_FAILURE(start_direct_client());
    ASSERT_EQ(0, ssnotify_add_wild(0xffffffffu, on_change, &g_owner, 0, 0));
    asx = ssmodel_exchange(0);
    ssmodel_set_date(asx, day(10, 2, 2014));
    stock = ssmodel_get_stock(asx, "BHP");
    ASSERT_NE(nullptr, stock);
    ssproto_reset_counters();
    ssnotify_deliver();
    g_global = g_stock_bits = 0;
  }
  void TearDown() override {
    ssproto_set_live();
    ssnotify_remove_wild(&g_owner);
    ssclient_fini();
    localdata_fini();
  }
  bool cached(const std::string& name) const { return fs::exists(root + "/Cache/Data/" + name); }
  int decode(const Bytes& b) { return ssproto_decode(b.data(), int32_t(b.size())); }
  TempDataRoot dir{"ambit-histmsg"};
  std::string root;
  ss_exchange* asx = nullptr;
  ss_stock* stock = nullptr;
};

TEST_F(HistoryMsgs, StockHistoryIsSavedOnlyLiveAtNestingZeroAndUndated) {
  struct Case {
    const char* name;
    bool replay;
    int32_t nesting;
    ss_time date;
    bool saved;
  };
  const Case cases[] = {
      {"live, undated", false, 0, 0, true},
      {"replayed", true, 0, 0, false},
      {"inside a block", false, 1, 0, false},
      {"dated", false, 0, day(7, 2, 2014), false},
  };
  const Bytes rec = stock_record(day(3, 2, 2014), 5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(root + "/Cache/Data/4;0;BHP;");
    ssmodel_free_history(stock);
    const Bytes msg = reply(110, 0, "BHP", c.date, rec);
    if (c.replay) ssproto_set_replay();
    EXPECT_EQ(int(msg.size()), ssproto_dispatch(msg.data(), int32_t(msg.size()), c.nesting, 0, nullptr));
    ssproto_set_live();
    ASSERT_NE(nullptr, stock->history);
    EXPECT_EQ(5u, stock->history->count);
    EXPECT_EQ(c.saved, cached("4;0;BHP;"));
    ssnotify_deliver();
    EXPECT_TRUE(g_stock_bits & kChangeHistory);
    g_stock_bits = 0;
  }
  ssproto_counter counters[kProtoCounterPairs];
  ssproto_get_counters(counters);
  EXPECT_EQ(4u, counters[5].first);
}

TEST_F(HistoryMsgs, GivenInstrumentWinsOverTheCode) {
  ss_stock mirror{};
  uint8_t head[kHeaderRoom];
  int h = enchdr_encode_stock_header(head, &mirror, 110, day(10, 2, 2014) + 36000);
  ASSERT_GT(h, 0);
  Bytes msg = reply(110, 0, "ZZZ", 0, stock_record(day(3, 2, 2014), 2));
  msg.erase(msg.begin(), msg.begin() + 2);
  msg.insert(msg.begin(), head, head + h);
  EXPECT_EQ(int(msg.size()), ssproto_decode_saved_for(stock, msg.data(), int32_t(msg.size())));
  ASSERT_NE(nullptr, stock->history);
  EXPECT_EQ(2u, stock->history->count);
  EXPECT_EQ(nullptr, ssmodel_find_stock(asx, "ZZZ"));
}

TEST_F(HistoryMsgs, CorruptStockHistoryGoesOnCorruptNewsHistoryStops) {
  Bytes bad = stock_record(day(3, 2, 2014), 3);
  bad[1] = 9;  // claims nine days
  const Bytes good = reply(110, 0, "RIO", 0, stock_record(day(3, 2, 2014), 2));
  Bytes buf = reply(110, 0, "BHP", 0, bad);
  buf.insert(buf.end(), good.begin(), good.end());
  LogCapture log;
  EXPECT_EQ(int(buf.size()), decode(buf));
  EXPECT_TRUE(log.has("can't decode BHP history"));
  ss_stock* rio = ssmodel_find_stock(asx, "RIO");
  ASSERT_NE(nullptr, rio);
  EXPECT_EQ(2u, rio->history->count);
  EXPECT_FALSE(cached("4;0;BHP;"));
  EXPECT_TRUE(cached("4;0;RIO;"));

  const Bytes news = reply(120, 0, "BHP", 0, {0x00, 0x03, 0x00});
  buf = news;
  buf.insert(buf.end(), good.begin(), good.end());
  EXPECT_EQ(-1, decode(buf));
  // No such exchange ends the stream too.
  EXPECT_EQ(-1, decode(reply(110, 7, "BHP", 0, stock_record(day(3, 2, 2014), 1))));
}

TEST_F(HistoryMsgs, EveryCutIsIncompleteAndAppliesNothing) {
  const Bytes msg = reply(111, 0, "XJO", 0, Bytes{0x00, 0x01, 0x81, 0x08, 0x27});  // one day without values
  for (size_t k = 0; k < msg.size(); k++) {
    EXPECT_EQ(0, ssproto_decode(msg.data(), int32_t(k))) << k;
    EXPECT_EQ(nullptr, ssmodel_find_index(asx, "XJO")) << k;
  }
  EXPECT_FALSE(cached("5;0;XJO;"));
}

TEST_F(HistoryMsgs, NewsItemOfToday) {
  // Without a current exchange the item is refused.
  ss_exchange mirror{};
  uint8_t b[kHeaderRoom + kNewsMaxItem];
  const uint32_t types[] = {3, 0};
  const ss_time t = day(10, 2, 2014) + 37800;
  auto item = [&]() {
    Bytes m;
    int h = enchdr_encode_timed(b, &mirror, 121, t, "BHP", -1);
    m.insert(m.end(), b, b + h);
    int n = encnews_encode(b, nullptr, 4242, t, types, kNewsFlag1, "Quarterly report");
    m.insert(m.end(), b, b + n);
    return m;
  };
  LogCapture log;
  EXPECT_EQ(-1, decode(item()));
  EXPECT_TRUE(log.has("exchange is null when looking for BHP"));

  mirror = ss_exchange{};
  Bytes msg = {0, 51, 0};  // exchange 0 becomes current
  const Bytes it = item();
  msg.insert(msg.end(), it.begin(), it.end());
  EXPECT_EQ(int(msg.size()), decode(msg));
  ss_issuer* is = ssmodel_find_issuer(asx, "BHP");
  ASSERT_NE(nullptr, is);
  ASSERT_EQ(1u, is->news.count);
  EXPECT_EQ(4242u, is->news.head->number);
  EXPECT_STREQ("Quarterly report", is->news.head->headline);
  ssnotify_deliver();
  EXPECT_TRUE(g_stock_bits & 0x80000);
}

TEST_F(HistoryMsgs, NewsSummaryList) {
  struct Case {
    const char* name;
    ss_time date;
    bool replay;
    bool global;
    bool saved;
  };
  const Case cases[] = {
      {"before the exchange's date", day(7, 2, 2014), false, false, true},
      {"on the exchange's date", day(10, 2, 2014), false, true, true},
      {"replayed", day(10, 2, 2014), true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root + "/Cache/Data");
    fs::create_directory(root + "/Cache/Data");
    growbuf gb = {};
    ASSERT_EQ(0, growbuf_init(&gb, 256, 256));
    const uint32_t types[] = {2, 0};
    ASSERT_EQ(0, encnews_encode_summary(&gb, "CBA", 77, c.date + 40000, types, 0, "Dividend"));
    Bytes rec(gb.data, gb.data + gb.len);
    growbuf_free(&gb);
    Bytes msg = {0, 122, 0};
    uint8_t tmp[4];
    int n = encode_date16(tmp, c.date);
    msg.insert(msg.end(), tmp, tmp + n);
    growbuf blk = {};
    ASSERT_EQ(0, growbuf_init(&blk, 256, 256));
    ASSERT_EQ(0, encblk_write(&blk, rec.data(), int32_t(rec.size())));
    msg.insert(msg.end(), blk.data, blk.data + blk.len);
    growbuf_free(&blk);
    if (c.replay) ssproto_set_replay();
    EXPECT_EQ(int(msg.size()), decode(msg));
    ssproto_set_live();
    ssnotify_deliver();
    EXPECT_EQ(c.global, (g_global & 0x80000) != 0);
    EXPECT_EQ(0u, g_stock_bits);  // recording was off while the list was read
    g_global = g_stock_bits = 0;
    char name[32];
    snprintf(name, sizeof name, "7;0;;%s", std::string(sstime_format_date(c.date)).substr(2).c_str());
    std::string n2 = name;
    n2.erase(std::remove(n2.begin(), n2.end(), '-'), n2.end());
    EXPECT_EQ(c.saved, cached(n2)) << n2;
    ASSERT_NE(nullptr, ssmodel_find_issuer(asx, "CBA"));
  }
}

}  // namespace
