// History and news end to end: the client signs on to the simulator, asks
// for a stock's and an index's daily history and an issuer's news history,
// and holds exactly what the simulator generated; the replies are cached in
// a temporary data directory, and a news item of today in the live stream
// reaches the issuer. A second client run on the same directory
// loads the stock's history from the cache before it asks, asks only from
// its newest cached day (the simulator's transcript shows the date), and
// the dated reply is applied without saving the cache file again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "growbuf.h"
#include "localdata.h"
#include "plat.h"
#include "sim.h"
#include "sim_history.h"
#include "sim_msg.h"
#include "ssclient.h"
#include "ssio.h"
#include "ssmodel.h"
#include "sstime.h"
#include "testclient.h"
#include "testsimclient.h"
#include "testclock.h"
#include "testdataroot.h"
#include "testlog.h"
#include "testmodel.h"
#include "testsim.h"

namespace fs = std::filesystem;

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime(nullptr, sim_day_wall));

const ss_time kDay = sstime_pack_date(12, 3, 2014);
constexpr uint64_t kSeed = 1;  // the simulator's default seed

std::string file_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

class HistoryEndToEnd : public SimClientTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(make_test_sim(&sim, 50));
    ASSERT_EQ(0, sim_add_instrument(sim, 0, "BHP"));
    ASSERT_EQ(0, sim_add_instrument(sim, 0, "XJO"));
    port = sim_start(sim, 0);
    ASSERT_GT(port, 0);
  }
  void TearDown() override {
    stop_client();
    sim_destroy(sim);
  }

  void start_client() {
    ASSERT_NO_FATAL_FAILURE(init_test_client());
    // The client's stop forgets the data root; the terminal sets it after
    // starting the client.
    ASSERT_EQ(0, dir.use());
    point_test_client(port);
    ssclient_enable_requests(1);
    ASSERT_NO_FATAL_FAILURE(run_until_online());
  }
  void stop_client() {
    if (thread < 0) return;
    stop(10000);
    ssclient_fini();
  }
  // Waits until `in` has its history, delivering as the user interface does.
  bool loaded(instr* in) {
    return wait_for(
        [in] {
          core_lock lock;
          ssclient_deliver();
          return (in->flags & kInHistory) != 0;
        },
        10000);
  }
  std::string data_file(const char* name) const { return dir.data_file(name); }

  TempDataRoot dir{"ambit-e2e-hist"};
};

TEST_F(HistoryEndToEnd, HistoryAndNewsFromTheSimulatorThenFromTheCache) {
  ASSERT_NO_FATAL_FAILURE(start_client());
  ss_stock* stock;
  ss_index* index;
  ss_issuer* issuer;
  {
    core_lock lock;
    ss_exchange* asx = ssmodel_exchange(0);
    stock = ssmodel_get_stock(asx, "BHP");
    index = ssmodel_get_index(asx, "XJO");
    issuer = ssmodel_get_issuer(asx, "BHP");
    ASSERT_TRUE(stock && index && issuer);
    ASSERT_EQ(0, ssclient_request_stock_history(stock));
    ASSERT_EQ(0, ssclient_request_index_history(index));
    ASSERT_EQ(0, ssclient_request_history(issuer));
  }
  ASSERT_TRUE(loaded(stock));
  ASSERT_TRUE(loaded(index));
  ASSERT_TRUE(loaded(issuer));

  sim_entry e;
  ASSERT_GE(sim_wait_entry(sim, 30, 0, 5000, &e), 0);
  EXPECT_EQ("BHP", e.code);
  EXPECT_EQ(0u, e.date);  // nothing cached: the whole history
  {
    core_lock lock;
    const std::vector<ss_stock_point> want = sim_stock_history(kSeed, 0, "BHP", kDay, 0);
    ASSERT_NE(nullptr, stock->history);
    ASSERT_EQ(want.size(), stock->history->count);
    for (size_t i = 0; i < want.size(); i++) {
      SCOPED_TRACE(i);
      const ss_stock_point& g = stock->history->points[i];
      EXPECT_EQ(0, memcmp(&want[i], &g, sizeof g));
    }
    const std::vector<ss_index_point> iwant = sim_index_history(kSeed, 0, "XJO", kDay, 0);
    ASSERT_EQ(iwant.size(), index->history->count);
    for (size_t i = 0; i < iwant.size(); i++) EXPECT_EQ(0, memcmp(&iwant[i], &index->history->points[i],
                                                                    sizeof iwant[i])) << i;
    // The news history, and the item of today that the news summary the
    // client asks for at sign-on brought, in (time, number) order.
    std::vector<ss_news> nwant = sim_news_history(kSeed, 0, "BHP", kDay);
    for (const sim_news_summary_item& it : sim_news_summary(kSeed, 0, {"BHP", "XJO"}, kDay))
      if (it.code == "BHP") nwant.push_back(it.item);
    std::sort(nwant.begin(), nwant.end(), [](const ss_news& a, const ss_news& b) {
      return a.time != b.time ? a.time < b.time : a.number < b.number;
    });
    ASSERT_EQ(nwant.size(), issuer->news.count);
    size_t i = 0;
    for (const ss_news* n = issuer->news.head; n; n = n->next, i++) {
      SCOPED_TRACE(i);
      EXPECT_EQ(nwant[i].number, n->number);
      EXPECT_EQ(nwant[i].time, n->time);
      EXPECT_EQ(0, memcmp(nwant[i].codes, n->codes, sizeof n->codes));
      EXPECT_EQ(nwant[i].flags, n->flags);
      EXPECT_STREQ(nwant[i].headline, n->headline);
    }
  }
  for (const char* name : {"4;0;BHP;", "5;0;XJO;", "6;0;BHP;"}) EXPECT_TRUE(fs::exists(data_file(name))) << name;

  // A news item of today in the live stream reaches the issuer.
  ss_news today = {};
  today.number = 777001;
  today.time = kDay + 40000;
  today.codes[0] = 9;
  today.flags = kNewsFlag1;
  snprintf(today.headline, sizeof today.headline, "Trading halt");
  ASSERT_EQ(0, sim_news_today(sim, 0, "BHP", today));
  ASSERT_TRUE(wait_for(
      [&] {
        core_lock lock;
        ssclient_deliver();
        return ssmodel_find_news(issuer, today.number) != nullptr;
      },
      10000));
  {
    core_lock lock;
    const ss_news* n = ssmodel_find_news(issuer, today.number);
    EXPECT_EQ(today.time, n->time);
    EXPECT_EQ(today.flags, n->flags);
    EXPECT_EQ(9u, n->codes[0]);
    EXPECT_STREQ("Trading halt", n->headline);
  }
  stop_client();

  // A second run on the same data directory.
  const std::string saved = file_bytes(data_file("4;0;BHP;"));
  const size_t from = sim_transcript(sim).size();
  LogCapture log;
  ASSERT_NO_FATAL_FAILURE(start_client());
  {
    core_lock lock;
    stock = ssmodel_get_stock(ssmodel_exchange(0), "BHP");
    ASSERT_EQ(nullptr, stock->history);
    ASSERT_EQ(0, ssclient_request_stock_history(stock));
  }
  ASSERT_GE(sim_wait_entry(sim, 30, from, 5000, &e), 0);
  const std::vector<ss_stock_point> want = sim_stock_history(kSeed, 0, "BHP", kDay, 0);
  EXPECT_EQ(want.back().date, e.date);  // asked only from the newest cached day
  ASSERT_TRUE(wait_for([&] { return log.count("history BHP") >= 1; }, 10000));
  {
    core_lock lock;
    ASSERT_EQ(want.size(), stock->history->count);
    for (size_t i = 0; i < want.size(); i++) EXPECT_EQ(0, memcmp(&want[i], &stock->history->points[i],
                                                                  sizeof want[i])) << i;
  }
  EXPECT_TRUE(log.has("loaded BHP history"));
  EXPECT_FALSE(log.has("stock history"));  // no "saved ... BHP stock history" line
  EXPECT_EQ(saved, file_bytes(data_file("4;0;BHP;")));
}

// Stale-data notices from the server remove the cached files they name, of
// instruments in the model and of one it has never held, and leave the
// others alone.
TEST_F(HistoryEndToEnd, StaleDataNoticesRemoveTheCachedFiles) {
  ASSERT_NO_FATAL_FAILURE(start_client());
  ss_stock* stock;
  ss_index* index;
  ss_issuer* issuer;
  {
    core_lock lock;
    ss_exchange* asx = ssmodel_exchange(0);
    stock = ssmodel_get_stock(asx, "BHP");
    index = ssmodel_get_index(asx, "XJO");
    issuer = ssmodel_get_issuer(asx, "BHP");
    ASSERT_EQ(0, ssclient_request_stock_history(stock));
    ASSERT_EQ(0, ssclient_request_index_history(index));
    ASSERT_EQ(0, ssclient_request_history(issuer));
  }
  ASSERT_TRUE(loaded(stock));
  ASSERT_TRUE(loaded(index));
  ASSERT_TRUE(loaded(issuer));
  // A previous day of a stock the model has never held, and one of another.
  for (const char* name : {"1;0;ZZQ;140311", "2;0;ZZQ;140310", "2;0;ZZR;140311"})
    std::ofstream(data_file(name)) << "saved";
  const char* kept[] = {"4;0;BHP;", "5;0;XJO;", "6;0;BHP;", "2;0;ZZR;140311"};
  for (const char* name : kept) ASSERT_TRUE(fs::exists(data_file(name))) << name;

  auto notice = [&](uint32_t type, const char* code) {
    sim_notice n;
    n.a = type;
    n.b = 0;
    n.c = 0;
    n.code = code;
    growbuf gb;
    growbuf_init(&gb, 64, 64);
    ASSERT_EQ(0, sim_msg_notice(&gb, n));
    EXPECT_EQ(1, sim_send(sim, "alice", gb.data, gb.len, false));
    growbuf_free(&gb);
  };
  ASSERT_NO_FATAL_FAILURE(notice(7, "ZZQ"));  // previous days of a stock not in the model
  ASSERT_NO_FATAL_FAILURE(notice(8, "BHP"));  // the stock's history
  ASSERT_NO_FATAL_FAILURE(notice(11, "BHP"));  // the issuer's news history
  auto gone = [&](std::initializer_list<const char*> names) {
    return wait_for(
        [&] {
          for (const char* n : names)
            if (fs::exists(data_file(n))) return false;
          return true;
        },
        10000);
  };
  EXPECT_TRUE(gone({"1;0;ZZQ;140311", "2;0;ZZQ;140310", "4;0;BHP;", "6;0;BHP;"}));
  for (const char* name : {"5;0;XJO;", "2;0;ZZR;140311"}) EXPECT_TRUE(fs::exists(data_file(name))) << name;
  ASSERT_NO_FATAL_FAILURE(notice(10, "XJO"));  // the index's history
  EXPECT_TRUE(gone({"5;0;XJO;"}));
  EXPECT_TRUE(fs::exists(data_file("2;0;ZZR;140311")));
}

}  // namespace
