// The client interface: the request ring (255 of 256 slots, the refusal of
// the 256th, wrap-around, the refusal inside a change delivery), the request
// senders' flag rules as a table, the day requests and day walks, the usage
// log, the login fields, the core lock, sleeping and yielding, and the
// private list. The Concurrency suite runs a producer thread against the
// encoding pass as consumer and checks that every request arrives once and
// in order (also run under ThreadSanitizer).
#include "ssclient.h"
#include "ssclient_int.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dalloc.h"
#include "decode.h"
#include "encblk.h"
#include "growbuf.h"
#include "log.h"
#include "plat.h"
#include "ssclient_encode.h"
#include "sim_msg.h"
#include "sserr.h"
#include "ssproto.h"
#include "ssevent.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "sstime.h"
#include "testclient.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

// Every sleep the client asks for goes through this hook, so nothing here
// really sleeps; a test may add its own action.
std::mutex g_sleep_mu;
std::vector<int32_t> g_sleeps;
std::function<void(int32_t)> g_on_sleep;

int record_sleep(int32_t ms) {
  {
    std::lock_guard<std::mutex> lock(g_sleep_mu);
    g_sleeps.push_back(ms);
  }
  if (g_on_sleep) g_on_sleep(ms);
  return 0;
}

std::vector<int32_t> sleeps() {
  std::lock_guard<std::mutex> lock(g_sleep_mu);
  return g_sleeps;
}

std::atomic<time_t> g_wall{0};
time_t test_wall() { return g_wall.load(); }

ss_time day(int y, int m, int d) { return sstime_pack_date(d, m, y); }

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

class Client : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    sserr_clear();
    ssclient_set_sleep_hook(record_sleep);
    {
      std::lock_guard<std::mutex> lock(g_sleep_mu);
      g_sleeps.clear();
    }
    asx = ssmodel_exchange(kExchangeAsx);
    glb = ssmodel_exchange(kExchangeGlb);
    ASSERT_NE(nullptr, asx);
    ASSERT_NE(nullptr, glb);
    ssmodel_set_date(asx, day(2014, 3, 12));  // a Wednesday
    ssmodel_set_date(glb, day(2014, 3, 12));
    ASSERT_NE(nullptr, stock = ssmodel_add_stock(asx, "BHP"));
    ASSERT_NE(nullptr, index = ssmodel_add_index(asx, "XJO"));
    ASSERT_NE(nullptr, issuer = ssmodel_get_issuer(asx, "BHP"));
    ASSERT_NE(nullptr, glb_index = ssmodel_add_index(glb, "DJI"));
  }
  void TearDown() override {
    g_on_sleep = nullptr;
    sstime_set_test_wallclock(nullptr);
    ssclient_fini();
  }

  // Takes every queued request off the ring, as the io thread would.
  std::vector<ss_request> drain() {
    std::vector<ss_request> out;
    uint32_t tail, head;
    ssclient_ring_span(&tail, &head);
    for (uint32_t i = tail; i != head; i = (i + 1) % kRequestRingSlots) out.push_back(*ssclient_ring_slot(i));
    ssclient_ring_consume(head);
    return out;
  }
  static std::vector<uint32_t> kinds(const std::vector<ss_request>& rs) {
    std::vector<uint32_t> out;
    for (const auto& r : rs) out.push_back(r.kind);
    return out;
  }
  void fill_ring() {
    for (int i = 0; i < kRequestRingSlots - 1; i++) ASSERT_EQ(0, ssclient_enqueue(kReqEvents, stock, i, 0, 0));
  }

  ss_exchange* asx = nullptr;
  ss_exchange* glb = nullptr;
  ss_stock* stock = nullptr;
  ss_index* index = nullptr;
  ss_issuer* issuer = nullptr;
  ss_index* glb_index = nullptr;
};

// ---------------------------------------------------------------------------
// The ring

TEST_F(Client, RingHolds255AndRefusesThe256thAfterAPause) {
  fill_ring();
  EXPECT_EQ(255, ssclient_ring_count());
  LogCapture log;
  EXPECT_EQ(-1, ssclient_enqueue(kReqEvents, stock, 999, 0, 0));
  EXPECT_EQ(1, log.count("queue full"));
  EXPECT_EQ(std::vector<int32_t>{500}, sleeps());
  // The refused request is not retried: the ring holds the first 255 in order.
  auto got = drain();
  ASSERT_EQ(255u, got.size());
  for (int i = 0; i < 255; i++) EXPECT_EQ(static_cast<uint64_t>(i), got[i].a);
  EXPECT_EQ(0, ssclient_ring_count());
  EXPECT_EQ(0, ssclient_enqueue(kReqEvents, stock, 1000, 0, 0));
}

TEST_F(Client, RingWrapsAroundKeepingOrder) {
  uint64_t next = 0, seen = 0;
  for (int round = 0; round < 7; round++) {
    for (int i = 0; i < 100; i++) ASSERT_EQ(0, ssclient_enqueue(kReqLogNews, stock, next++, 0, 0));
    for (const auto& r : drain()) EXPECT_EQ(seen++, r.a);
  }
  EXPECT_EQ(next, seen);
}

TEST_F(Client, StoppingRefusesEveryRequest) {
  ssclient_stop();
  EXPECT_TRUE(ssclient_is_stopping());
  EXPECT_TRUE(ssclient_abort_requested());
  LogCapture log;
  EXPECT_EQ(-1, ssclient_request_events(stock));
  EXPECT_EQ(1, log.count("ignoring request 20"));
  EXPECT_EQ(1, log.count("failed to enqueue BHP request"));
  EXPECT_EQ(0u, stock->flags & kRqEvents);  // the requested bit stays clear
  EXPECT_EQ(0, ssclient_ring_count());
}

// A change callback runs with the notify lock held: a full ring must refuse
// at once instead of releasing the core lock to wait.
struct DeliveryProbe {
  int calls = 0;
  int result = 0;
  int in_delivery = 0;
  size_t sleeps_seen = 0;
};

void enqueue_from_callback(const ss_change*, void* owner, uint64_t, uint32_t) {
  auto* probe = static_cast<DeliveryProbe*>(owner);
  probe->calls++;
  probe->in_delivery = ssnotify_in_delivery();
  probe->result = ssclient_enqueue(kReqEvents, nullptr, 0, 0, 0);
  probe->sleeps_seen = sleeps().size();
}

TEST_F(Client, FullRingInsideADeliveryFailsWithoutWaiting) {
  ssclient_enable_locking();
  ssclient_block();
  DeliveryProbe probe;
  ASSERT_EQ(0, ssnotify_add(stock, 0x1000, enqueue_from_callback, &probe, 0, 0));
  ASSERT_EQ(0, ssnotify_record(stock, 0x1000, nullptr));
  fill_ring();
  LogCapture log;
  ssclient_deliver();
  EXPECT_EQ(1, probe.in_delivery);
  EXPECT_EQ(-1, probe.result);
  EXPECT_EQ(0u, probe.sleeps_seen);
  // (The model's reset at init also calls every registration once.)
  EXPECT_GE(probe.calls, 1);
  EXPECT_EQ(probe.calls, log.count("queue full"));
  EXPECT_TRUE(ssclient_ui_has_lock());  // never let go inside the delivery
  ssnotify_remove(stock, &probe);
  ssclient_unblock();
}

// ---------------------------------------------------------------------------
// Senders and their flag rules

TEST_F(Client, SendersFollowTheirFlagRules) {
  struct Row {
    const char* what;
    std::function<int()> call;
    instr* in;
    uint32_t before;
    std::vector<uint32_t> kinds;
    uint32_t after;
  };
  std::vector<Row> rows = {
      {"events", [&] { return ssclient_request_events(stock); }, stock, 0, {20}, 0x1000},
      {"events loaded", [&] { return ssclient_request_events(stock); }, stock, 0x10, {}, 0x10},
      {"events asked", [&] { return ssclient_request_events(stock); }, stock, 0x1000, {}, 0x1000},
      {"depth and recent", [&] { return ssclient_request_stock_events(stock); }, stock, 0, {61}, 0x540},
      {"bid loaded", [&] { return ssclient_request_stock_events(stock); }, stock, 0x1, {13, 51}, 0x501},
      {"recent loaded", [&] { return ssclient_request_stock_events(stock); }, stock, 0x4, {12, 13}, 0x144},
      {"trades asked", [&] { return ssclient_request_stock_events(stock); }, stock, 0x800, {12, 13}, 0x940},
      {"queues loaded", [&] { return ssclient_request_stock_events(stock); }, stock, 0x3, {51}, 0x403},
      {"queues asked", [&] { return ssclient_request_stock_events(stock); }, stock, 0x140, {51}, 0x540},
      {"all trades", [&] { return ssclient_request_stock_events(stock, 1); }, stock, 0, {60}, 0x940},
      {"all trades, bid", [&] { return ssclient_request_stock_events(stock, 1); }, stock, 0x40, {13, 50}, 0x940},
      {"all trades loaded", [&] { return ssclient_request_stock_events(stock, 1); }, stock, 0x8, {12, 13}, 0x148},
      {"stock history", [&] { return ssclient_request_stock_history(stock); }, stock, 0, {30}, 0x2000},
      {"history loaded", [&] { return ssclient_request_stock_history(stock); }, stock, 0x20, {}, 0x20},
      {"index events", [&] { return ssclient_request_index_events(index); }, index, 0, {21}, 0x1000},
      {"index events loaded", [&] { return ssclient_request_index_events(index); }, index, 0x10, {}, 0x10},
      {"index history", [&] { return ssclient_request_index_history(index); }, index, 0, {31}, 0x2000},
      {"news history", [&] { return ssclient_request_history(issuer); }, issuer, 0, {32}, 0x2000},
      {"news history asked", [&] { return ssclient_request_history(issuer); }, issuer, 0x2000, {}, 0x2000},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    r.in->flags = r.before;
    EXPECT_EQ(0, r.call());
    auto got = drain();
    EXPECT_EQ(r.kinds, kinds(got));
    for (const auto& q : got) EXPECT_EQ(static_cast<void*>(r.in), q.pointer);
    EXPECT_EQ(r.after, r.in->flags);
  }
}

TEST_F(Client, RecentTradesAreNotAskedForWhenTheTradesAlreadyVary) {
  for (uint32_t i = 0; i < 12; i++) ssmodel_add_trade(stock, day(2014, 3, 12) + 36000 + i, 10000 + 100 * i, 5);
  ASSERT_TRUE(ssmodel_trades_vary(stock));
  EXPECT_EQ(0, ssclient_request_stock_events(stock));
  EXPECT_EQ((std::vector<uint32_t>{12, 13}), kinds(drain()));
  EXPECT_EQ(0x140u, stock->flags);
}

TEST_F(Client, AskingTwiceBeforeTheReplySendsOnce) {
  EXPECT_EQ(0, ssclient_request_events(stock));
  EXPECT_EQ(0, ssclient_request_events(stock));
  EXPECT_EQ(1, ssclient_ring_count());
}

TEST_F(Client, GlobalIndexIsMarkedLoadedInsteadOfRequested) {
  LogCapture log;
  EXPECT_EQ(0, ssclient_request_index_events(glb_index));
  EXPECT_EQ(0, ssclient_request_index_day(glb_index, day(2014, 3, 11)));
  EXPECT_EQ(2, log.count("not loading global index"));
  EXPECT_EQ(0, ssclient_ring_count());
  EXPECT_EQ(0x10u, glb_index->flags & 0x3fff);
  ss_day* d = ssevent_find_day(glb_index, day(2014, 3, 11));
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(0x10u, d->flags & 0x1010);
}

// ---------------------------------------------------------------------------
// Day requests

TEST_F(Client, DayRequestsChooseTodayOrTheDayRecord) {
  struct Row {
    const char* what;
    int (*call)(instr*, ss_time);
    ss_time date;
    int result;
    std::vector<uint32_t> kinds;
    uint32_t day_flags;  // of the day record afterwards (none for today)
  };
  const Row rows[] = {
      {"events today", ssclient_request_events_for_day, day(2014, 3, 12), 0, {20}, 0},
      {"events later", ssclient_request_events_for_day, day(2014, 3, 14), 0, {}, 0},  // 0x1000 set just above
      {"events yesterday", ssclient_request_events_for_day, day(2014, 3, 11), 0, {62}, 0x1000},
      {"events a month back", ssclient_request_events_for_day, day(2014, 2, 12), 0, {62}, 0x1000},
      {"events too old", ssclient_request_events_for_day, day(2014, 2, 11), -1, {}, 0},
      {"trades yesterday, asked", ssclient_request_trades_for_day, day(2014, 3, 11), 0, {}, 0x1000},
      {"trades monday", ssclient_request_trades_for_day, day(2014, 3, 10), 0, {63}, 0x800},
      {"trades too old", ssclient_request_trades_for_day, day(2014, 1, 30), -1, {}, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(r.result, r.call(stock, r.date));
    auto got = drain();
    EXPECT_EQ(r.kinds, kinds(got));
    if (!got.empty() && got[0].kind != kReqEvents) {
      EXPECT_EQ(r.date, got[0].a);
    }
    ss_day* d = ssevent_find_day(stock, r.date);
    if (r.day_flags) {
      ASSERT_NE(nullptr, d);
      EXPECT_EQ(r.day_flags, d->flags);
    } else if (r.result < 0) {
      EXPECT_EQ(nullptr, d);
    }
  }
}

TEST_F(Client, DayRequestClearsAStalePrevdayMark) {
  ss_day* d = ssevent_get_day(stock, day(2014, 3, 11));
  ASSERT_NE(nullptr, d);
  d->flags = kDayPrevdayWanted;
  EXPECT_EQ(0, ssclient_request_trades_for_day(stock, day(2014, 3, 11)));
  EXPECT_EQ(static_cast<uint32_t>(kRqTrades), d->flags);
  d->flags = kRqTradesLoaded | kRqEventsLoaded;
  EXPECT_EQ(0, ssclient_request_events_for_day(stock, day(2014, 3, 11)));
  EXPECT_EQ((std::vector<uint32_t>{63}), kinds(drain()));
}

TEST_F(Client, TradesOnTheCutOverDayAreAskedForAsEvents) {
  ssmodel_set_date(asx, day(2014, 3, 5));
  LogCapture log;
  EXPECT_EQ(0, ssclient_request_trades_for_day(stock, day(2014, 2, 10)));
  EXPECT_EQ(1, log.count("forcing BHP events instead of trades on 2014-02-10"));
  auto got = drain();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(kReqDayEvents, got[0].kind);
  EXPECT_EQ(static_cast<uint64_t>(day(2014, 2, 10)), got[0].a);
}

TEST_F(Client, IndexDayRequest) {
  EXPECT_EQ(0, ssclient_request_index_day(index, day(2014, 3, 11)));
  EXPECT_EQ(0, ssclient_request_index_day(index, day(2014, 3, 11)));
  auto got = drain();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(kReqIndexDay, got[0].kind);
  EXPECT_EQ(static_cast<uint64_t>(day(2014, 3, 11)), got[0].a);
}

TEST_F(Client, DayWalksMarkDaysAndQueueOneRequest) {
  struct Row {
    const char* what;
    bool prevday;
    ss_time from, to;
    uint32_t kind;
    ss_time first, last;
  };
  const Row rows[] = {
      {"friday to monday", false, day(2014, 3, 7), day(2014, 3, 10), 64, day(2014, 3, 7), day(2014, 3, 10)},
      {"to past yesterday", false, day(2014, 3, 10), day(2014, 3, 20), 64, day(2014, 3, 10), day(2014, 3, 11)},
      {"from before a month", false, day(2014, 1, 1), 0, 64, day(2014, 2, 12), day(2014, 3, 11)},
      {"to before from", false, day(2014, 3, 11), day(2014, 3, 5), 64, day(2014, 3, 11), day(2014, 3, 11)},
      {"prevday", true, day(2014, 3, 10), day(2014, 3, 11), 262, day(2014, 3, 10), day(2014, 3, 11)},
  };
  int n = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    stock = ssmodel_add_stock(asx, ("W" + std::to_string(n++)).c_str());  // fresh day records
    ASSERT_NE(nullptr, stock);
    EXPECT_EQ(0, r.prevday ? ssclient_request_prevday_trades(stock, r.from, r.to)
                           : ssclient_request_day_trades(stock, r.from, r.to));
    auto got = drain();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(r.kind, got[0].kind);
    EXPECT_EQ(static_cast<uint64_t>(r.first), got[0].a);
    EXPECT_EQ(static_cast<uint64_t>(r.last), got[0].b);
    for (ss_time d = r.first; sstime_date_compare(d, r.last) <= 0; d = sstime_add_days(d, 1)) {
      ss_day* rec = ssevent_find_day(stock, d);
      ASSERT_NE(nullptr, rec);
      uint32_t want = sstime_is_weekend(d) ? 0x18 : 0x800;
      EXPECT_EQ(want, rec->flags & 0x1818) << sstime_format_date(d);
      EXPECT_EQ(r.prevday ? kDayPrevdayWanted : 0u, rec->flags & kDayPrevdayWanted);
    }
  }
  // Every day of the range already asked for: nothing more is queued.
  EXPECT_EQ(0, ssclient_request_prevday_trades(stock, day(2014, 3, 10), day(2014, 3, 11)));
  EXPECT_EQ(0, ssclient_ring_count());
}

TEST_F(Client, DayWalkThatCannotBeQueuedLeavesTheDaysClear) {
  fill_ring();
  EXPECT_EQ(-1, ssclient_request_day_trades(stock, day(2014, 3, 10), day(2014, 3, 11)));
  for (ss_time d : {day(2014, 3, 10), day(2014, 3, 11)}) {
    ss_day* rec = ssevent_find_day(stock, d);
    ASSERT_NE(nullptr, rec);
    EXPECT_EQ(0u, rec->flags & kRqTrades);
  }
}

// ---------------------------------------------------------------------------
// Usage log

TEST_F(Client, UsageLogSendsEachItemOncePerDay) {
  g_wall = 1394600000;  // 2014-03-12
  sstime_set_test_wallclock(test_wall);
  sstime_set_base(1);
  uint32_t number = 1234;
  EXPECT_EQ(0, ssclient_log_news_item(issuer, &number));
  number = 999;  // the caller's variable changes at once; the request keeps 1234
  auto got = drain();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(kReqLogNews, got[0].kind);
  EXPECT_EQ(1234u, got[0].a);

  uint32_t again = 1234;
  EXPECT_EQ(0, ssclient_log_news_item(issuer, &again));
  EXPECT_EQ(0, ssclient_log_profile(stock));
  EXPECT_EQ(0, ssclient_log_profile(stock));
  EXPECT_EQ((std::vector<uint32_t>{111}), kinds(drain()));
  EXPECT_EQ(2, ssclient_usage_count());

  g_wall += 86400;  // a day later both are forgotten
  EXPECT_EQ(0, ssclient_log_news_item(issuer, &again));
  EXPECT_EQ((std::vector<uint32_t>{110}), kinds(drain()));
  EXPECT_EQ(1, ssclient_usage_count());
}

// ---------------------------------------------------------------------------
// Settings and state

TEST_F(Client, LoginFields) {
  const char *site, *user, *password;
  EXPECT_EQ(-1, ssclient_get_login(&site, &user, &password));
  EXPECT_EQ(nullptr, site);
  EXPECT_EQ(nullptr, user);

  ssclient_set_login_site("site");
  ssclient_set_login("alice", nullptr);
  EXPECT_EQ(-1, ssclient_get_login(&site, &user, &password));
  EXPECT_STREQ("site", site);
  EXPECT_STREQ("alice", user);
  EXPECT_EQ(nullptr, password);

  ssclient_set_login_done(1);
  ssclient_set_login(nullptr, "0123456789012345678901234567890123456789");
  EXPECT_EQ(0, ssclient_login_done());
  EXPECT_EQ(0, ssclient_get_login(nullptr, &user, &password));
  EXPECT_STREQ("alice", user);
  EXPECT_EQ(std::string("0123456789012345678901234567890"), password);  // 31 characters
}

TEST_F(Client, SettingsStartAtTheirDocumentedValues) {
  EXPECT_EQ(20, ssclient_reconnect_timeout());
  EXPECT_EQ(1, ssclient_auto_reconnect());
  EXPECT_EQ(1, ssclient_requests_enabled());
  EXPECT_EQ(1, ssclient_yield_enabled());
  EXPECT_EQ(0, ssclient_restart_pending());
  ssclient_set_restart(1);
  EXPECT_EQ(1, ssclient_restart_pending());
  EXPECT_EQ(1, ssclient_may_reconnect());
}

TEST_F(Client, WaitDisconnect) {
  EXPECT_EQ(0, ssclient_wait_disconnect(1));  // not online
  EXPECT_TRUE(sleeps().empty());

  ssclient_set_online(1);
  EXPECT_EQ(-1, ssclient_wait_disconnect(1));
  EXPECT_EQ(std::vector<int32_t>(20, 50), sleeps());  // one second of 50 ms polls

  int polls = 0;
  g_on_sleep = [&](int32_t) {
    if (++polls == 3) ssclient_set_online(0);
  };
  EXPECT_EQ(0, ssclient_wait_disconnect(10));
  EXPECT_EQ(3, polls);

  ssclient_set_online(1);
  ssclient_request_abort();
  EXPECT_EQ(-1, ssclient_wait_disconnect(10));
  ssclient_set_online(0);
}

// ---------------------------------------------------------------------------
// Core lock, sleeping and yielding

TEST_F(Client, BlockingNeedsTheLock) {
  LogCapture log;
  ssclient_block();
  EXPECT_EQ(1, log.count("blocking not enabled"));
  EXPECT_FALSE(ssclient_ui_has_lock());
  ssclient_enable_locking();
  EXPECT_EQ(1, log.count("locking forced"));
  ssclient_enable_locking();  // a second call changes nothing
  EXPECT_EQ(1, log.count("locking forced"));
  ssclient_block();
  EXPECT_TRUE(ssclient_ui_has_lock());
  ssclient_unblock();
  EXPECT_FALSE(ssclient_ui_has_lock());
}

TEST_F(Client, IoLockRulesAreLogged) {
  ssclient_enable_locking();
  LogCapture log;
  ssclient_io_unlock();
  EXPECT_EQ(1, log.count("core doesn't have lock"));
  ssclient_io_lock();
  ssclient_io_lock();
  EXPECT_EQ(1, log.count("core already has lock"));
  EXPECT_TRUE(ssclient_io_has_lock());
  ssclient_io_unlock();
  EXPECT_FALSE(ssclient_io_has_lock());
}

// While one thread sleeps with the lock released, the other can take it.
TEST_F(Client, SleepsReleaseTheCoreLock) {
  ssclient_enable_locking();
  auto other_takes_lock = [](bool io_side) {
    auto got = std::async(std::launch::async, [io_side] {
      if (io_side) {
        ssclient_io_lock();
        ssclient_io_unlock();
      } else {
        ssclient_block();
        ssclient_unblock();
      }
      return true;
    });
    return got.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  };
  bool taken = false;
  g_on_sleep = [&](int32_t) { taken = other_takes_lock(true); };
  ssclient_block();
  ssclient_sleep(10);
  EXPECT_TRUE(taken);
  EXPECT_TRUE(ssclient_ui_has_lock());
  ssclient_unblock();

  taken = false;
  g_on_sleep = [&](int32_t) { taken = other_takes_lock(false); };
  ssclient_io_lock();
  ssclient_io_sleep(10);
  EXPECT_TRUE(taken);
  EXPECT_TRUE(ssclient_io_has_lock());
  ssclient_io_unlock();
  g_on_sleep = nullptr;
}

TEST_F(Client, YieldPointCountsWorkAndSleepsThePause) {
  ssclient_enable_locking();
  ssclient_io_lock();
  // Before the threshold is set nothing below 1000 units yields, and the
  // default threshold is 10000.
  ssclient_yield_point(999);
  ssclient_yield_point(9000);
  EXPECT_TRUE(sleeps().empty());
  ssclient_yield_point(1);  // 10000 reached: a quick yield
  EXPECT_EQ(std::vector<int32_t>{0}, sleeps());

  ssclient_set_yield(100, 7);
  {
    std::lock_guard<std::mutex> lock(g_sleep_mu);
    g_sleeps.clear();
  }
  for (int i = 0; i < 20; i++) ssclient_yield_point(100);
  // Nine quick yields, then the pause on the tenth, twice (one quick yield
  // was counted before the new threshold).
  std::vector<int32_t> want = {0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0};
  EXPECT_EQ(want, sleeps());

  ssclient_enable_yield(0);
  ssclient_yield_point(1000000);
  EXPECT_EQ(want.size(), sleeps().size());
  ssclient_enable_yield(1);
  EXPECT_TRUE(ssclient_io_has_lock());
  ssclient_io_unlock();
}

TEST_F(Client, YieldPointGivesTheLockToAWaitingUserInterface) {
  ssclient_enable_locking();
  ssclient_set_yield(100000, 33);
  ssclient_io_lock();
  std::atomic<bool> ran{false};
  std::thread ui([&] {
    ssclient_block();
    ran = true;
    ssclient_unblock();
  });
  while (!ssclient_ui_waits()) std::this_thread::yield();
  ssclient_yield_point(49);  // below the floor: keeps the lock
  EXPECT_FALSE(ran.load());
  g_on_sleep = [&](int32_t ms) {
    if (ms == 33)
      while (!ran.load()) std::this_thread::yield();
  };
  ssclient_yield_point(1);
  ui.join();
  EXPECT_TRUE(ran.load());
  EXPECT_EQ(33, sleeps().back());
  EXPECT_TRUE(ssclient_io_has_lock());
  ssclient_io_unlock();
  g_on_sleep = nullptr;
}

// A long notice list counts each notice as work: a waiting user interface
// takes the core lock between two notices, in the middle of the list.
TEST_F(Client, ALongNoticeListGivesTheLockBetweenNotices) {
  ssclient_enable_locking();
  ssclient_set_yield(100000, 33);
  std::vector<sim_notice> names;
  for (int i = 0; i < 120; i++) {
    sim_notice n;
    n.a = 1;  // a stock's name
    n.code = "N" + std::to_string(100 + i);
    n.text = "Name " + std::to_string(i);
    names.push_back(n);
  }
  growbuf gb;
  growbuf_init(&gb, 4096, 4096);
  ASSERT_EQ(0, sim_msg_notice_list(&gb, kExchangeAsx, 120, names));
  const uint32_t before = asx->stocks.count;
  ssclient_io_lock();
  std::atomic<int64_t> seen{-1};
  std::thread ui([&] {
    ssclient_block();
    seen = int64_t(asx->stocks.count - before);
    ssclient_unblock();
  });
  while (!ssclient_ui_waits()) std::this_thread::yield();
  g_on_sleep = [&](int32_t ms) {
    if (ms == 33)
      while (seen.load() < 0) std::this_thread::yield();
  };
  EXPECT_EQ(int(gb.len), ssproto_decode(gb.data, int32_t(gb.len)));
  const int64_t mid = seen.load();  // -1: the list kept the lock throughout
  EXPECT_EQ(before + 120, asx->stocks.count);
  EXPECT_TRUE(ssclient_io_has_lock());
  ssclient_io_unlock();
  ui.join();
  g_on_sleep = nullptr;
  EXPECT_GT(mid, 0);
  EXPECT_LT(mid, 120);
  growbuf_free(&gb);
}

// ---------------------------------------------------------------------------
// Private list and the private twins

TEST_F(Client, PrivateListDropsRepeatsAndHolds512) {
  EXPECT_EQ(0, ssclient_private_request(kReqHeartbeat, nullptr, 0, 0));
  EXPECT_EQ(0, ssclient_private_request(kReqHeartbeat, nullptr, 0, 0));
  EXPECT_EQ(0, ssclient_private_request(kReqHttp, nullptr, 0, 0));
  EXPECT_EQ(0, ssclient_private_request(kReqHttp, nullptr, 0, 0));
  EXPECT_EQ(3, ssclient_private_count());
  for (uint64_t i = 3; i < kPrivateRequestsMax; i++)
    ASSERT_EQ(0, ssclient_private_request(kReqLogNews, stock, i, 0));
  LogCapture log;
  EXPECT_EQ(-1, ssclient_private_request(kReqLogNews, stock, 100000, 0));
  EXPECT_EQ(1, log.count("max private requests (512) exceeded"));
  ssclient_private_clear();
  EXPECT_EQ(0, ssclient_private_count());
}

TEST_F(Client, PrivatePartialDepthTurnsFullAfterThreeRequests) {
  LogCapture log;
  std::vector<uint32_t> got;
  for (int i = 0; i < 4; i++) {
    stock->flags &= ~0x3c0u;  // the reply came in, the queue is still not loaded
    EXPECT_EQ(0, ssclient_private_partial_depth(stock, 0));
    ss_request* e = ssclient_private_entry(ssclient_private_count() - 1);
    ASSERT_NE(nullptr, e);
    got.push_back(e->kind);
  }
  EXPECT_EQ((std::vector<uint32_t>{10, 10, 10, 12}), got);
  EXPECT_EQ(1, log.count("requesting ASX BHP full bid queue instead of partial"));
  EXPECT_EQ(0x40u, stock->flags & 0x3c0);
  // The count is the stock's, not the side's: the offer side goes full at once.
  EXPECT_EQ(0, ssclient_private_partial_depth(stock, 1));
  EXPECT_EQ(1, log.count("requesting ASX BHP full offer queue instead of partial"));
  EXPECT_EQ(0x140u, stock->flags & 0x3c0);

  ss_stock* other = ssmodel_add_stock(asx, "RIO");
  ASSERT_NE(nullptr, other);
  EXPECT_EQ(0, ssclient_private_partial_depth(other, 1));
  EXPECT_EQ(0x200u, other->flags);
  int before = ssclient_private_count();
  EXPECT_EQ(0, ssclient_private_partial_depth(other, 1));  // a partial is pending
  other->flags = kRqEventsLoaded;
  EXPECT_EQ(0, ssclient_private_partial_depth(other, 1));  // all events loaded
  EXPECT_EQ(before, ssclient_private_count());
  ssclient_private_clear();
}

// ---------------------------------------------------------------------------
// Concurrency: the user-interface thread produces, the encoding pass consumes.

std::mutex g_wire_mu;
std::vector<uint8_t> g_wire;

int capture_wire(const void* block, int32_t len) {
  std::lock_guard<std::mutex> lock(g_wire_mu);
  const uint8_t* p = static_cast<const uint8_t*>(block);
  g_wire.insert(g_wire.end(), p, p + len);
  return 0;
}

TEST(ClientConcurrency, RingKeepsOrderAcrossThreads) {
  ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
  ss_stock* stock = ssmodel_add_stock(ssmodel_exchange(kExchangeAsx), "BHP");
  ASSERT_NE(nullptr, stock);
  ssclient_set_sleep_hook([](int32_t) {
    std::this_thread::yield();
    return 0;
  });
  ssclient_encode_set_sender(capture_wire);
  ssclient_set_online(1);
  g_wire.clear();

  constexpr uint32_t kCount = 50000;
  std::atomic<bool> done{false};
  std::thread producer([&] {
    for (uint32_t i = 0; i < kCount; i++) {
      // Only the consumer frees slots, so once there is room the enqueue must succeed.
      while (ssclient_ring_count() >= kRequestRingSlots - 1) std::this_thread::yield();
      ASSERT_EQ(0, ssclient_enqueue(kReqLogNews, stock, i, 0, 0));
    }
    done = true;
  });
  std::thread consumer([&] {
    while (!done.load() || ssclient_ring_count() > 0) ssclient_encode_requests();
  });
  producer.join();
  consumer.join();
  ssclient_encode_set_sender(nullptr);

  // Each request is 0, 110, the exchange byte, the code, the number.
  std::vector<uint8_t> wire;
  {
    std::lock_guard<std::mutex> lock(g_wire_mu);
    wire.swap(g_wire);
  }
  int32_t at = 0, n = static_cast<int32_t>(wire.size());
  uint32_t expect = 0;
  bool in_order = true;
  while (at < n && in_order) {
    ASSERT_GE(n - at, 3);
    EXPECT_EQ(0, wire[at]);
    EXPECT_EQ(110, wire[at + 1]);
    at += 3;
    char code[16];
    int used = decode_code(wire.data() + at, n - at, code, sizeof code);
    ASSERT_GT(used, 0);
    at += used;
    uint32_t number = 0;
    used = decode_vint(wire.data() + at, n - at, &number);
    ASSERT_GT(used, 0);
    at += used;
    in_order = number == expect;
    EXPECT_EQ(expect, number);
    expect++;
  }
  EXPECT_EQ(kCount, expect);  // nothing lost, nothing doubled
  EXPECT_EQ(n, at);
  ssclient_fini();
}

}  // namespace
