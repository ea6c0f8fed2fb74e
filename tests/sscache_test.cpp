// The data cache on a temporary data root: names against tables (round
// trips, refused names and codes), histories stored, found and loaded back
// into the model, across a restart of the model, stale histories removed
// after loading, damaged and oversized files refused and removed, the
// precedence of previous-day files, the 32-file limit of news summaries,
// the trims on the time module's wall clock, moved forward by the seam
// (a file's status-change time cannot be set back), and the fundamentals
// files: saved at sign-off, loaded back equal after a restart, damaged ones
// removed, nothing written while replaying.
#include "sscache.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "decfun.h"
#include "enchist.h"
#include "decnews.h"
#include "localdata.h"
#include "ssclient.h"
#include "ssproto.h"
#include "sstime.h"
#include "testdataroot.h"
#include "testlog.h"
#include "testmodel.h"

namespace fs = std::filesystem;

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime());

// Seconds added to the real wall clock.
std::atomic<int64_t> g_ahead{0};
time_t ahead_clock() { return time(nullptr) + time_t(g_ahead.load()); }

ss_time today() { return sstime_now() & ~kSstimeSecondsMask; }

class Cache : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ahead = 0;
    sstime_set_test_wallclock(ahead_clock);
    ASSERT_EQ(0, dir.use());
    root = dir.path();
    start();
  }
  void TearDown() override {
    stop();
    localdata_fini();
    sstime_set_test_wallclock(nullptr);
  }
  void start() {
    ssclient_fini();
    ASSERT_EQ(0, start_terminal_model());
    asx = ssmodel_exchange(0);
    stock = ssmodel_get_stock(asx, "BHP");
    ASSERT_NE(nullptr, stock);
  }
  void stop() { ssmodel_fini(); }
  std::string data_dir() const { return root + "/Cache/Data"; }
  bool has_file(const std::string& name) const { return fs::exists(data_dir() + "/" + name); }
  std::vector<std::string> files(const std::string& dir) const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  void put_file(const std::string& dir, const std::string& name, const std::string& bytes) {
    std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
  }
  // A stock history whose newest day is `newest`, one day per weekday back.
  std::vector<uint8_t> history_bytes(ss_time newest, int days) {
    std::vector<ss_stock_point> pts;
    for (int i = days - 1; i >= 0; i--) {
      uint32_t p = 10000 + uint32_t(i) * 10;
      pts.push_back({sstime_sub_days(newest, i), p, p + 50, p - 50, p + 10, 0, uint64_t(1000 + i)});
    }
    growbuf gb = {};
    EXPECT_EQ(0, growbuf_init(&gb, 4096, 4096));
    EXPECT_EQ(0, enchist_encode_stock(&gb, pts.data(), uint32_t(pts.size())));
    std::vector<uint8_t> out(gb.data, gb.data + gb.len);
    growbuf_free(&gb);
    return out;
  }
  TempDataRoot dir{"ambit-cache"};
  std::string root;
  ss_exchange* asx = nullptr;
  ss_stock* stock = nullptr;
};

ss_time d(int y, int m, int day) { return sstime_pack_date(day, m, y); }

TEST(CacheNames, RoundTrips) {
  struct Case {
    int kind, exchange;
    const char* code;
    ss_time date;
    const char* name;
  };
  const Case cases[] = {
      {4, 0, "ABC", 0, "4;0;ABC;"},
      {7, 1, "", d(2014, 2, 10), "7;1;;140210"},
      {1, 3, "BHP_CX", d(2033, 12, 31), "1;3;BHP_CX;331231"},
      {8, 2, "", 0, "8;2;;"},
      {6, 0, "ABCDEFGHIJK", d(2000, 1, 1), "6;0;ABCDEFGHIJK;000101"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char name[kCacheNameSize];
    ASSERT_EQ(0, sscache_name(name, c.kind, c.exchange, c.code, c.date));
    EXPECT_STREQ(c.name, name);
    int kind = 0, exchange = -1;
    char code[kCodeSize] = "x";
    ss_time date = 1;
    ASSERT_EQ(0, sscache_parse_name(name, &kind, code, &exchange, &date));
    EXPECT_EQ(c.kind, kind);
    EXPECT_EQ(c.exchange, exchange);
    EXPECT_STREQ(c.code, code);
    EXPECT_EQ(c.date, date);
  }
  int kind, exchange;
  char code[kCodeSize];
  ss_time date;
  ASSERT_EQ(0, sscache_parse_name("5;;XJO;", &kind, code, &exchange, &date));
  EXPECT_EQ(4, exchange);  // an empty exchange field
}

TEST(CacheNames, Refused) {
  const char* names[] = {
      "",                                   // empty
      "4;0;ABCDEFGHIJKLMNOPQRSTUVWXYZ;0000",  // 32 characters
      "9;0;ABC;",  "0;0;ABC;",  "4;4;ABC;",  "4;x;ABC;", "44;0;ABC;",  // kind, exchange
      "4;0;ABC",   "4;0;",                   // too few fields
      "4;0;ABCDEFGHIJKL;",                   // a code of 12
      "7;0;;141310", "7;0;;140200", "7;0;;1402", "7;0;;14021a",  // dates
      "4;0;.AB;",  "4;0;A\\B;", "4;0;A\tB;",  // codes that are never written
  };
  for (const char* n : names) {
    int kind, exchange;
    char code[kCodeSize];
    ss_time date;
    EXPECT_EQ(-1, sscache_parse_name(n, &kind, code, &exchange, &date)) << n;
  }
  // Codes off the wire that could leave the folder or never parse.
  const char* codes[] = {"A/B", "..", ".X", "A\\B", "A;B", "A\nB", "A\x7f", "\xc3\xa9"};
  for (const char* c : codes) {
    char name[kCacheNameSize];
    EXPECT_EQ(-1, sscache_name(name, 4, 0, c, 0)) << c;
    EXPECT_FALSE(sscache_code_ok(c)) << c;
  }
  // Order by date; names that do not parse first.
  EXPECT_LT(sscache_compare_names("junk", "7;0;;140101"), 0);
  EXPECT_LT(sscache_compare_names("7;0;;131231", "7;0;;140101"), 0);
  EXPECT_EQ(0, sscache_compare_names("7;0;;140101", "7;1;;140101"));
}

TEST_F(Cache, HistoryStoredFoundAndLoadedAcrossARestart) {
  EXPECT_EQ(-1, sscache_load_stock_history(stock));  // nothing cached: a miss
  const std::vector<uint8_t> bytes = history_bytes(today(), 8);
  ASSERT_EQ(0, sscache_save_stock_history(stock, bytes.data(), int32_t(bytes.size())));
  EXPECT_EQ(std::vector<std::string>{"4;0;BHP;"}, files(data_dir()));

  stop();  // a new run on the same data directory
  start();
  EXPECT_EQ(nullptr, stock->history);
  LogCapture log;
  ASSERT_EQ(0, sscache_load_stock_history(stock));
  EXPECT_FALSE(ssproto_replaying());  // the replay flag is down again
  ASSERT_NE(nullptr, stock->history);
  ASSERT_EQ(8u, stock->history->count);
  EXPECT_EQ(today(), stock->history->points[7].date);
  EXPECT_TRUE(stock->flags & kInHistory);
  EXPECT_TRUE(log.has("loaded BHP history"));
  EXPECT_TRUE(has_file("4;0;BHP;"));
}

TEST_F(Cache, StaleHistoryIsLoadedThenRemoved) {
  const std::vector<uint8_t> bytes = history_bytes(sstime_sub_days(today(), 31), 3);
  ASSERT_EQ(0, sscache_save_stock_history(stock, bytes.data(), int32_t(bytes.size())));
  LogCapture log;
  ASSERT_EQ(0, sscache_load_stock_history(stock));
  EXPECT_EQ(3u, stock->history->count);
  EXPECT_TRUE(log.has("removing stale BHP history"));
  EXPECT_FALSE(has_file("4;0;BHP;"));

  // 30 days old is not stale yet.
  const std::vector<uint8_t> fresh = history_bytes(sstime_sub_days(today(), 30), 3);
  ASSERT_EQ(0, sscache_save_stock_history(stock, fresh.data(), int32_t(fresh.size())));
  ASSERT_EQ(0, sscache_load_stock_history(stock));
  EXPECT_TRUE(has_file("4;0;BHP;"));
}

TEST_F(Cache, DamagedFilesAreRefusedAndRemoved) {
  struct Case {
    const char* what;
    std::string bytes;
    off_t size;  // a sparse size when not 0
  };
  const Case cases[] = {
      {"garbage", std::string("\x00\x05\xff\xff\xff", 5), 0},
      {"a count above the days", std::string("\xff\xff\x1a\xb0\x8e\x32\x26\x00\x05", 9), 0},
      {"larger than any cache file", "", off_t(kCacheFileMax) + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    put_file(data_dir(), "4;0;BHP;", c.bytes);
    if (c.size) {
      ASSERT_EQ(0, truncate((data_dir() + "/4;0;BHP;").c_str(), c.size));
    }
    EXPECT_EQ(-1, sscache_load_stock_history(stock));
    EXPECT_FALSE(has_file("4;0;BHP;"));
  }
}

TEST_F(Cache, UnsafeCodesAreNeverCached) {
  ss_stock* bad = ssmodel_get_stock(asx, "A/B");
  ASSERT_NE(nullptr, bad);
  const std::vector<uint8_t> bytes = history_bytes(today(), 2);
  LogCapture log;
  EXPECT_EQ(-1, sscache_save_stock_history(bad, bytes.data(), int32_t(bytes.size())));
  EXPECT_TRUE(log.has("won't cache stock history"));
  EXPECT_TRUE(files(data_dir()).empty());
  EXPECT_TRUE(files(root + "/Cache").size() == 4);  // nothing escaped into the folder above
  EXPECT_EQ(-1, sscache_load_stock_history(bad));
}

TEST_F(Cache, PrevdayPrecedence) {
  const ss_time day = d(2014, 2, 7);
  const std::string msg = "saved messages";
  ASSERT_EQ(0, sscache_save_prevday_trades(stock, day, msg.data(), int32_t(msg.size())));
  EXPECT_TRUE(has_file("1;0;BHP;140207"));
  // Events of that day replace the trades file.
  ASSERT_EQ(0, sscache_save_prevday_stock(stock, day, msg.data(), int32_t(msg.size())));
  EXPECT_EQ(std::vector<std::string>{"2;0;BHP;140207"}, files(data_dir()));
  // Trades are not saved over events.
  LogCapture log;
  ASSERT_EQ(0, sscache_save_prevday_trades(stock, day, msg.data(), int32_t(msg.size())));
  EXPECT_TRUE(log.has("not saving BHP 2014-02-07 prevday trades over events"));
  EXPECT_EQ(std::vector<std::string>{"2;0;BHP;140207"}, files(data_dir()));
  // Forgetting takes every date of that kind and code, and nothing else.
  ASSERT_EQ(0, sscache_save_prevday_stock(stock, d(2014, 2, 6), msg.data(), int32_t(msg.size())));
  const std::vector<uint8_t> h = history_bytes(today(), 2);
  ASSERT_EQ(0, sscache_save_stock_history(stock, h.data(), int32_t(h.size())));
  ASSERT_EQ(0, sscache_forget_prevday_stock(stock));
  EXPECT_EQ(std::vector<std::string>{"4;0;BHP;"}, files(data_dir()));
}

TEST_F(Cache, NewsSummariesLoadAtMost32) {
  // Thirty-three daily files of exchange 0, each with one item of today
  // (items older than a month are not kept, whatever their file's date).
  const ss_time now = sstime_now();
  ssmodel_set_date(asx, today());
  auto summary = [&](ss_exchange* ex, ss_time day, uint32_t number) {
    growbuf gb = {};
    ASSERT_EQ(0, growbuf_init(&gb, 256, 256));
    const uint32_t types[] = {1, 0};
    ASSERT_EQ(0, encnews_encode_summary(&gb, "BHP", number, now, types, 0, "Report"));
    ASSERT_EQ(0, sscache_save_news_summary(ex, day, gb.data, gb.len));
    growbuf_free(&gb);
  };
  for (int i = 0; i < 33; i++) summary(asx, sstime_sub_days(today(), i), 1000 + uint32_t(i));
  put_file(data_dir(), "7;1;;140210", "other exchange");
  LogCapture log;
  ASSERT_EQ(0, sscache_load_news_summaries(asx));
  EXPECT_TRUE(log.has("didn't trim news summaries?"));
  ss_issuer* bhp = ssmodel_find_issuer(asx, "BHP");
  ASSERT_NE(nullptr, bhp);
  EXPECT_EQ(32u, bhp->news.count);
  EXPECT_TRUE(asx->flags & kExNewsSummary);
  EXPECT_EQ(34u, files(data_dir()).size());  // loading removes nothing that decodes

  // Exchange 1: files load oldest first, and the first that does not decode
  // is removed and ends the loop, so the newer file is not read.
  fs::remove(data_dir() + "/7;1;;140210");
  ss_exchange* nzx = ssmodel_exchange(1);
  ssmodel_set_date(nzx, today());
  summary(nzx, today(), 7);
  char bad[kCacheNameSize];
  ASSERT_EQ(0, sscache_name(bad, 7, 1, "", sstime_sub_days(today(), 1)));
  put_file(data_dir(), bad, "\x01");
  LogCapture log2;
  ASSERT_EQ(0, sscache_load_news_summaries(nzx));
  EXPECT_TRUE(log2.has("couldn't decode " + std::string(bad) + " news summary"));
  EXPECT_FALSE(has_file(bad));
  EXPECT_EQ(nullptr, ssmodel_find_issuer(nzx, "BHP"));
}

// Fundamentals of exchange 0 in the model; the other exchanges have none.
void give_fundamentals(ss_exchange* asx) {
  for (int i = 1; i < kExchanges; i++)
    if (ss_exchange* ex = ssmodel_exchange(i)) ex->fun_date = -1;
  asx->fun_date = 20140312;
  ss_issuer* is = ssmodel_get_issuer(asx, "BHP");
  ssmodel_set_names(is, "BHP GROUP", "LIMITED");
  ss_stock* s = ssmodel_get_stock(asx, "BHP");
  ssmodel_set_issuer_code(s, "BHPI");
  ssmodel_set_capital(s, 1, 2, 3, 5000000000ull);
  ssmodel_set_history_from(s, sstime_pack_date(2, 1, 2001));
  ssmodel_add_alias(asx, "OLD", "BHP");
}

std::string file_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

TEST_F(Cache, FundamentalsSurviveARestart) {
  give_fundamentals(asx);
  LogCapture saved;
  ASSERT_EQ(0, sscache_save_fun());
  EXPECT_EQ(std::vector<std::string>{"8;0;;"}, files(data_dir()));  // only exchanges with a date
  EXPECT_TRUE(saved.has("ASX fun to 20140312"));
  const std::string first = file_bytes(data_dir() + "/8;0;;");

  stop();
  start();
  EXPECT_STRNE("BHPI", stock->issuer);  // a new model, without the fundamentals
  EXPECT_EQ(nullptr, ssmodel_find_alias(asx, "OLD"));
  LogCapture log;
  ASSERT_EQ(0, sscache_load_fun());
  EXPECT_FALSE(ssproto_replaying());
  EXPECT_TRUE(log.has("loaded ASX fun to 20140312"));
  EXPECT_TRUE(log.has("no NZX fun in pack"));
  EXPECT_EQ(20140312, asx->fun_date);
  ss_issuer* is = ssmodel_find_issuer(asx, "BHP");
  ASSERT_NE(nullptr, is);
  EXPECT_STREQ("BHP GROUP", is->name1);
  EXPECT_STREQ("LIMITED", is->name2);
  ss_stock* s = ssmodel_find_stock(asx, "BHP");
  EXPECT_STREQ("BHPI", s->issuer);
  EXPECT_EQ(3u, s->capital[2]);
  EXPECT_EQ(5000000000ull, s->shares);
  EXPECT_EQ(sstime_pack_date(2, 1, 2001), s->history_from);
  ASSERT_NE(nullptr, ssmodel_find_alias(asx, "OLD"));
  EXPECT_TRUE(has_file("8;0;;"));

  // Saved again from what was loaded, the file is the same byte for byte.
  for (int i = 1; i < kExchanges; i++)
    if (ss_exchange* ex = ssmodel_exchange(i)) ex->fun_date = -1;
  ASSERT_EQ(0, sscache_save_fun());
  EXPECT_EQ(first, file_bytes(data_dir() + "/8;0;;"));
}

TEST_F(Cache, NothingIsSavedWhileReplaying) {
  give_fundamentals(asx);
  ssproto_set_replay();
  EXPECT_EQ(0, sscache_save_fun());
  ssproto_set_live();
  EXPECT_TRUE(files(data_dir()).empty());
  ASSERT_EQ(0, sscache_save_fun());
  EXPECT_TRUE(has_file("8;0;;"));
}

TEST_F(Cache, DamagedFundamentalsAreRemoved) {
  give_fundamentals(ssmodel_exchange(1));  // a file of another exchange
  ssmodel_exchange(1)->fun_date = 20140312;
  growbuf gb = {};
  ASSERT_EQ(0, growbuf_init(&gb, 4096, 4096));
  ASSERT_EQ(0, encfun_encode(&gb, ssmodel_exchange(1)));
  const std::string other(reinterpret_cast<char*>(gb.data), size_t(gb.len));
  growbuf_reset(&gb);
  give_fundamentals(asx);
  ASSERT_EQ(0, encfun_encode(&gb, asx));
  const std::string whole(reinterpret_cast<char*>(gb.data), size_t(gb.len));
  growbuf_free(&gb);
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"cut inside an item", whole.substr(0, whole.size() - 3)},
      {"another exchange's", other},
      {"an unknown section", std::string("\x00\x0c\x00\x00\x00\x00", 6)},
      {"a section longer than the file", std::string("\x00\x02\x00\x00\x01\x00", 6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    stop();
    start();
    put_file(data_dir(), "8;0;;", c.bytes);
    LogCapture log;
    EXPECT_EQ(0, sscache_load_fun());
    EXPECT_TRUE(log.has("failed to load ASX fun"));
    EXPECT_FALSE(log.has("loaded ASX fun"));
    EXPECT_FALSE(has_file("8;0;;"));
    EXPECT_FALSE(ssproto_replaying());
  }
  // An empty file is no fundamentals, and no damage.
  put_file(data_dir(), "8;0;;", "");
  LogCapture log;
  EXPECT_EQ(0, sscache_load_fun());
  EXPECT_TRUE(log.has("no ASX fun in pack"));
  EXPECT_FALSE(log.has("failed to load"));
}

TEST_F(Cache, TrimsFollowTheWallClock) {
  const std::string msg = "x";
  const ss_time old_day = sstime_sub_days(today(), 40);
  ASSERT_EQ(0, sscache_save_prevday_stock(stock, old_day, msg.data(), 1));
  ASSERT_EQ(0, sscache_save_prevday_stock(stock, today(), msg.data(), 1));
  const std::vector<uint8_t> h = history_bytes(today(), 2);
  ASSERT_EQ(0, sscache_save_stock_history(stock, h.data(), int32_t(h.size())));
  put_file(data_dir(), "8;0;;", "fun");
  char old_name[kCacheNameSize], new_name[kCacheNameSize];
  ASSERT_EQ(0, sscache_name(old_name, 2, 0, "BHP", old_day));
  ASSERT_EQ(0, sscache_name(new_name, 2, 0, "BHP", today()));

  // Just written: safe from the size trim for 12 hours.
  ASSERT_EQ(0, sscache_trim(25));
  EXPECT_TRUE(has_file(old_name));
  g_ahead = 13 * 3600;
  LogCapture log;
  ASSERT_EQ(0, sscache_trim(25));
  EXPECT_FALSE(has_file(old_name));
  EXPECT_TRUE(log.has("trim BHP 2"));
  EXPECT_TRUE(has_file(new_name));
  EXPECT_TRUE(has_file("4;0;BHP;"));  // undated files are never trimmed by date

  // By age: with the clock two days on or more, a 1-day trim leaves only
  // the fundamentals.
  put_file(root + "/Temp", "scratch", "t");
  // Noon, two to three days on: the hourly steps below stay on one date (the
  // hourly trim compares packed times, which jump at midnight).
  const time_t real = time(nullptr);
  tm parts;
  localtime_r(&real, &parts);
  const int64_t noon = 2 * 86400 + (43200 - (parts.tm_hour * 3600 + parts.tm_min * 60 + parts.tm_sec) + 86400) % 86400;
  g_ahead = noon;
  sscache_trim_hourly();
  EXPECT_EQ(3u, files(data_dir()).size());  // Data keeps 32 days
  EXPECT_TRUE(files(root + "/Temp").empty());
  ASSERT_EQ(0, sscache_trim_dir(LOCALDATA_DATA, 1));
  EXPECT_EQ(std::vector<std::string>{"8;0;;"}, files(data_dir()));
  // Within the hour the hourly trim does nothing.
  put_file(root + "/Temp", "scratch2", "t");
  g_ahead = noon + 1800;  // the new file is already older than a day on this clock
  sscache_trim_hourly();
  EXPECT_EQ(std::vector<std::string>{"scratch2"}, files(root + "/Temp"));
  g_ahead = noon + 3700;
  sscache_trim_hourly();
  EXPECT_TRUE(files(root + "/Temp").empty());
  ASSERT_EQ(0, sscache_trim_dir(LOCALDATA_DATA, 0));
  EXPECT_EQ(std::vector<std::string>{"8;0;;"}, files(data_dir()));
}

}  // namespace
