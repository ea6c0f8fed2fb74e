// Backfill, priority and firm-order messages through the dispatcher, on a
// temporary data root: an earlier date decoded into the stock's day record
// and saved to the cache only live at nesting 0 (the saved message replayed
// from the cache gives the same day), the alias of a code, the version the
// message carries held only while it decodes (put back on every exit), a
// stock backfill that does not decode reported and consumed against an index
// backfill that fails the stream, today's fill with the firm orders that
// wait for it, nested priority blocks refused, problems inside encrypted
// blocks only warned about, and no message of the family moving the stream
// position or the current exchange.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "encblk.h"
#include "encode.h"
#include "enchdr.h"
#include "dectrades.h"
#include "enctrades.h"
#include "localdata.h"
#include "sscache.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "sspriority.h"
#include "ssproto.h"
#include "testclient.h"
#include "testdataroot.h"
#include "testlog.h"
#include "testmodel.h"

namespace fs = std::filesystem;

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime());

using Bytes = std::vector<uint8_t>;

uint32_t g_bits = 0;
void on_change(const ss_change* c, void*, uint64_t, uint32_t) {
  if (c->instrument) g_bits |= c->mask;
}
int g_owner;

const ss_time kToday = sstime_pack_date(10, 2, 2014);
const ss_time kEarlier = sstime_pack_date(7, 2, 2014);
ss_time at(ss_time d, int h, int mi) { return d + ss_time(h * 3600 + mi * 60); }

void put(Bytes& b, int n, const uint8_t* tmp) { b.insert(b.end(), tmp, tmp + n); }

// Saved trade messages (type 29) of one stock, with stock-stream headers.
Bytes trades(const char* code, ss_time day, int n) {
  Bytes b;
  ss_stock w{};
  strcpy(w.code, code);
  uint32_t ref = 0;
  uint8_t tmp[64];
  for (int i = 0; i < n; i++) {
    put(b, enchdr_encode_stock_header(tmp, &w, 29, at(day, 10, i)), tmp);
    put(b, encode_price(tmp, 1000 + uint32_t(i), &ref), tmp);
    put(b, encode_volume(tmp, 100), tmp);
  }
  return b;
}

// n trade groups of a past day in the trade-record layout.
Bytes trade_groups(ss_time day, int n) {
  growbuf gb = {};
  EXPECT_EQ(0, growbuf_init(&gb, 1024, 1024));
  uint32_t ref = 0;
  ss_time run = day;
  for (int i = 0; i < n; i++) {
    enctrades_trade t = {at(day, 10, i), 1000 + uint32_t(i), 100, kTradeFlagDefault, 0, 0, 0, nullptr, nullptr};
    EXPECT_GT(enctrades_encode_one(&gb, &t, 1, &ref, &run, 0), 0);
  }
  Bytes out(gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  return out;
}

// A framed block of the payload, encrypted when asked.
Bytes framed(const Bytes& payload, bool encrypt) {
  growbuf gb = {};
  EXPECT_EQ(0, growbuf_init(&gb, 1024, 1024));
  EXPECT_EQ(0, encrypt ? encblk_write_encrypted(1, &gb, payload.data(), int32_t(payload.size()), 0)
                       : encblk_write(&gb, payload.data(), int32_t(payload.size())));
  Bytes out(gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  return out;
}
Bytes block(const Bytes& payload) { return framed(payload, false); }
Bytes encrypted(const Bytes& payload) { return framed(payload, true); }

// A message whose header names no instrument: exchange, code, then `rest`.
Bytes msg(uint8_t type, const char* code, const Bytes& rest, uint8_t exch = 0) {
  Bytes b = {0, type, exch};
  uint8_t tmp[32];
  put(b, encode_code(tmp, code), tmp);
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

Bytes dated(ss_time date, uint32_t version, const Bytes& blk) {
  Bytes b;
  uint8_t tmp[16];
  put(b, encode_date16(tmp, date), tmp);
  put(b, encode_vint(tmp, version), tmp);
  b.insert(b.end(), blk.begin(), blk.end());
  return b;
}

// The header and exchange byte of a message that names no code (91).
Bytes msg91(const Bytes& enc, uint8_t exch = 0) {
  Bytes b = {0, 91, exch};
  b.insert(b.end(), enc.begin(), enc.end());
  return b;
}

class Backfill : public ::testing::Test {
 protected:
  void SetUp() override {
    root = dir.path();
    ASSERT_EQ(0, dir.use());
    ASSERT_NO_FATAL_FAILURE(start_direct_client());
    ASSERT_EQ(0, ssnotify_add_wild(0xffffffffu, on_change, &g_owner, 0, 0));
    asx = ssmodel_exchange(0);
    ssmodel_set_date(asx, kToday);
    bhp = ssmodel_get_stock(asx, "BHP");
    ssproto_set_exchange_position(0, 500);
    ssproto_set_current_exchange(ssmodel_exchange(1));
    ssnotify_deliver();
    g_bits = 0;
  }
  void TearDown() override {
    ssproto_set_live();
    ssnotify_remove_wild(&g_owner);
    ssclient_fini();
    localdata_fini();
  }
  int decode(const Bytes& b) { return ssproto_decode(b.data(), int32_t(b.size())); }
  uint32_t bits() {
    ssnotify_deliver();
    uint32_t b = g_bits;
    g_bits = 0;
    return b;
  }
  int cache_files() const {
    int n = 0;
    if (fs::exists(root + "/Cache"))
      for (auto& e : fs::recursive_directory_iterator(root + "/Cache")) n += e.is_regular_file();
    return n;
  }
  uint32_t day_trades(ss_stock* s, ss_time d) {
    for (ss_day* day = s->days.head; day; day = day->next)
      if (day->date == d) return day->trades.count;
    return 0;
  }
  // The family's promises that hold after every message.
  void expect_untouched_stream() {
    EXPECT_EQ(500u, ssproto_exchange_position(0));
    EXPECT_EQ(ssmodel_exchange(1), ssproto_current_exchange());
    EXPECT_EQ(kProtoVersion, ssproto_version());
  }
  TempDataRoot dir{"ambit-backfill"};
  std::string root;
  ss_exchange* asx = nullptr;
  ss_stock* bhp = nullptr;
};

TEST_F(Backfill, EarlierDateSavedOnlyLiveAtNestingZero) {
  struct Case {
    const char* name;
    uint8_t type;
    bool replay;
    bool nested;
    bool saved;
  } cases[] = {
      {"day, live", 102, false, false, true},
      {"day, replayed", 102, true, false, false},
      {"day, nested", 102, false, true, false},
      {"trades, live", 104, false, false, true},
      {"trades, replayed", 104, true, false, false},
  };
  for (const Case& c : cases) {
    ssevent_remove_day(bhp, kEarlier);
    sscache_forget_prevday_stock(bhp);
    ASSERT_NE(nullptr, ssevent_get_day(bhp, kEarlier));  // made when the client asks
    int files = cache_files();
    Bytes payload = c.type == 102 ? trades("BHP", kEarlier, 3) : trade_groups(kEarlier, 3);
    Bytes m = msg(c.type, "BHP", dated(kEarlier, 5, block(payload)));
    if (c.replay) ssproto_set_replay();
    int r = c.nested ? ssproto_dispatch(m.data(), int32_t(m.size()), 1, 0, nullptr) : decode(m);
    ssproto_set_live();
    EXPECT_EQ(int(m.size()), r) << c.name;
    EXPECT_EQ(3u, day_trades(bhp, kEarlier)) << c.name;
    EXPECT_EQ(0u, bhp->trade_count) << c.name;  // today untouched
    EXPECT_TRUE(bits() & kChangeBackfill) << c.name;
    EXPECT_EQ(c.saved ? files + 1 : files, cache_files()) << c.name;
    expect_untouched_stream();
  }
  // The saved bytes are the message: replayed from the cache they give the
  // same day.
  ssevent_remove_day(bhp, kEarlier);
  sscache_forget_prevday_stock(bhp);
  ssevent_get_day(bhp, kEarlier);
  ASSERT_EQ(0, decode(msg(102, "BHP", dated(kEarlier, 6, block(trades("BHP", kEarlier, 4))))) > 0 ? 0 : -1);
  ssevent_remove_day(bhp, kEarlier);
  ssevent_get_day(bhp, kEarlier);
  ASSERT_EQ(0u, day_trades(bhp, kEarlier));
  ASSERT_EQ(0, sscache_load_prevday(bhp, kEarlier));
  EXPECT_EQ(4u, day_trades(bhp, kEarlier));
}

// A previous day's trades saved from the server, loaded back: as the
// previous-day trades request wants them (simple), the day gets its minute
// bars and no trade list and is marked; as the day's trades, the trades
// themselves. The reader's mode does not outlast the load.
TEST_F(Backfill, CachedPrevdayTradesSimpleAndWhole) {
  ssevent_get_day(bhp, kEarlier);
  const Bytes m = msg(104, "BHP", dated(kEarlier, 5, block(trade_groups(kEarlier, 3))));
  ASSERT_EQ(int(m.size()), decode(m));
  ASSERT_EQ(1, cache_files());
  auto day_of = [&]() -> ss_day* {
    for (ss_day* day = bhp->days.head; day; day = day->next)
      if (day->date == kEarlier) return day;
    return nullptr;
  };
  struct Case {
    int simple;
    uint32_t trades;
    bool marked;
  } cases[] = {{1, 0, true}, {0, 3, false}, {1, 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.simple);
    ssevent_remove_day(bhp, kEarlier);
    ssevent_get_day(bhp, kEarlier);
    LogCapture log;
    ASSERT_EQ(0, sscache_load_prevday_trades(bhp, kEarlier, c.simple));
    EXPECT_EQ(c.simple ? 1 : 0, log.count("loaded BHP 2014-02-07 (simple)"));
    ss_day* day = day_of();
    ASSERT_NE(nullptr, day);
    EXPECT_EQ(c.trades, day->trades.count);
    ASSERT_NE(nullptr, day->bars);
    EXPECT_EQ(3u, day->bars->count);  // one trade a minute
    EXPECT_EQ(c.marked, (day->flags & kDayPrevdayWanted) != 0);
    EXPECT_TRUE(day->flags & kRqTradesLoaded);
    EXPECT_EQ(0u, bhp->trade_count);
  }
  // Live trades of the day after a simple load are kept whole.
  ssevent_remove_day(bhp, kEarlier);
  ssevent_get_day(bhp, kEarlier);
  ASSERT_EQ(int(m.size()), decode(m));
  EXPECT_EQ(3u, day_trades(bhp, kEarlier));
}

TEST_F(Backfill, AliasCodeFillsItsStock) {
  ASSERT_EQ(0, ssmodel_add_alias(asx, "OLD", "BHP"));
  ssevent_get_day(bhp, kEarlier);
  Bytes m = msg(102, "OLD", dated(kEarlier, 6, block(trades("BHP", kEarlier, 2))));
  EXPECT_EQ(int(m.size()), decode(m));
  EXPECT_EQ(2u, day_trades(bhp, kEarlier));
  EXPECT_EQ(nullptr, ssmodel_find_stock(asx, "OLD"));
}

TEST_F(Backfill, UndecodableBlocks) {
  Bytes cut = trades("BHP", kEarlier, 1);
  cut.pop_back();  // a message cut short inside the block
  Bytes junk = block(cut);
  Bytes short_ticks = block(Bytes{1, 2});  // no whole first tick
  struct Case {
    uint8_t type;
    int want;  // 1: consumed whole
  } cases[] = {{102, 1}, {104, 1}, {103, -1}, {101, -1}, {100, 1}};
  for (const Case& c : cases) {
    LogCapture log;
    const Bytes& bad = (c.type == 101 || c.type == 103) ? short_ticks : junk;
    Bytes m = c.type >= 102 ? msg(c.type, "BHP", dated(kEarlier, 9, bad)) : msg(c.type, "BHP", bad);
    int r = decode(m);
    EXPECT_EQ(c.want == 1 ? int(m.size()) : -1, r) << int(c.type);
    EXPECT_TRUE(log.has("can't decode BHP backfill")) << int(c.type);
    EXPECT_EQ(0u, day_trades(bhp, kEarlier)) << int(c.type);
    expect_untouched_stream();
  }
}

TEST_F(Backfill, TodayFillAppliesTheFirmOrdersWaitingForIt) {
  // 105 for BHP, then a 100 for RIO (stale block dropped), then 105 and 100
  // for BHP: its fill takes the block.
  Bytes firm = {0, 0, 0, 0, 0, 0};  // no records on either side
  LogCapture log;
  Bytes f = msg(105, "BHP", encrypted(firm));
  ASSERT_EQ(int(f.size()), decode(f));
  EXPECT_EQ(bhp, sspriority_firm_stock());
  EXPECT_TRUE(log.has("ASX:BHP "));
  Bytes rio = msg(100, "RIO", block(trades("RIO", kToday, 2)));
  ASSERT_EQ(int(rio.size()), decode(rio));
  EXPECT_TRUE(log.has("mixed up ASX:BHP and ASX:RIO firm orders"));
  EXPECT_EQ(nullptr, sspriority_firm_stock());
  EXPECT_EQ(2u, ssmodel_find_stock(asx, "RIO")->trade_count);
  ASSERT_EQ(int(f.size()), decode(f));
  Bytes today = msg(100, "BHP", block(trades("BHP", kToday, 3)));
  ASSERT_EQ(int(today.size()), decode(today));
  EXPECT_EQ(3u, bhp->trade_count);
  EXPECT_EQ(nullptr, sspriority_firm_stock());
  EXPECT_TRUE(bits() & kChangeAllTrades);
  expect_untouched_stream();
}

TEST_F(Backfill, PriorityAndFirmProblemsAreWarnings) {
  Bytes bad_side = {2, 0, 7};  // late info, code "", side 7
  uint8_t tmp[16];
  Bytes p = {1};
  put(p, encode_code(tmp, "NEW"), tmp);
  p.push_back(0);
  for (int i = 0; i < 13; i++) p.push_back(0);  // position, identifier, number, two empty texts
  struct Case {
    const char* name;
    Bytes m;
    const char* warn;
  } cases[] = {
      {"good priority block", msg91(encrypted(p)), nullptr},
      {"bad side", msg91(encrypted(bad_side)), "ignoring ASX priority block problem"},
      {"bad firm lengths", msg(105, "BHP", encrypted(Bytes{0, 0, 50, 0, 0, 0})), "ignoring ASX:BHP firm order problem"},
  };
  for (const Case& c : cases) {
    LogCapture log;
    EXPECT_EQ(int(c.m.size()), decode(c.m)) << c.name;
    if (c.warn) EXPECT_TRUE(log.has(c.warn)) << c.name;
    expect_untouched_stream();
  }
  // Nested: refused.
  for (const Bytes& m : {msg91(encrypted(p)), msg(105, "BHP", encrypted(Bytes{0, 0, 0, 0, 0, 0}))}) {
    LogCapture log;
    EXPECT_EQ(-1, ssproto_dispatch(m.data(), int32_t(m.size()), 1, 0, nullptr));
    EXPECT_TRUE(log.has("can't decode nested")) << int(m[1]);
  }
  // An exchange that does not exist fails the message.
  Bytes none = msg91(encrypted(p), 9);
  EXPECT_EQ(-1, decode(none));
}

// A stock's fill whose stream holds an index tick (found by fuzzing): the
// index is refused rather than added to the fill's scratch exchange, whose
// tables are never freed (LeakSanitizer would report them at exit).
TEST_F(Backfill, IndexInAStocksFillIsRefused) {
  Bytes stream = trades("BHP", kToday, 1);
  ss_stock w{};
  strcpy(w.code, "BHP");
  uint8_t tmp[32];
  put(stream, enchdr_encode_stock_header(tmp, &w, 31, at(kToday, 11, 0)), tmp);
  put(stream, encode_index_change(tmp, 5), tmp);
  LogCapture log;
  Bytes m = msg(100, "BHP", block(stream));
  EXPECT_EQ(int(m.size()), decode(m));  // a stock backfill that fails is still consumed
  EXPECT_TRUE(log.has("BHP is not in a saved stock stream"));
  EXPECT_TRUE(log.has("can't decode BHP backfill"));
  EXPECT_EQ(0u, bhp->trade_count);
}

// Every cut of a message is incomplete: nothing applied, nothing moved.
TEST_F(Backfill, EveryCutIsIncomplete) {
  const Bytes messages[] = {msg(102, "BHP", dated(kEarlier, 5, block(trades("BHP", kEarlier, 2)))),
                            msg(100, "BHP", block(trades("BHP", kToday, 2))),
                            msg(105, "BHP", encrypted(Bytes{0, 0, 0, 0, 0, 0}))};
  for (const Bytes& m : messages)
    for (size_t cut = 0; cut < m.size(); cut++) {
      Bytes part(m.begin(), m.begin() + cut);
      ASSERT_EQ(0, decode(part)) << int(m[1]) << " cut " << cut;
      EXPECT_EQ(0u, day_trades(bhp, kEarlier));
      EXPECT_EQ(0u, bhp->trade_count);
      EXPECT_EQ(nullptr, sspriority_firm_stock());
      expect_untouched_stream();
    }
}

}  // namespace
