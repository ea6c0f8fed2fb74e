// Server error reports: the refused-request table run against a real model
// with change delivery as the witness (flags of the instrument or day record,
// the instrument's change bit, the global error bit), the cases that must
// mark nothing (unknown kind, exchange index off the end, unknown code,
// missing day), the log line and its absence for code 22, the sub-code rule,
// the set of codes the io layer keeps, and lock-free reads from another
// thread.
#include "sserr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ssmodel.h"
#include "ssnotify.h"
#include "sstime.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

// Change masks delivered, by instrument (null: global).
std::map<const instr*, uint32_t> g_delivered;

void on_change(const ss_change* change, void*, uint64_t, uint32_t) {
  g_delivered[change->instrument] |= change->mask;
}

constexpr uint32_t kAllRequested = 0x3fc0;

class Err : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, start_terminal_model());
    ASSERT_EQ(0, ssnotify_init());
    ss_exchange* asx = ssmodel_exchange(0);
    stock = ssmodel_add_stock(asx, "BHP");
    index = ssmodel_add_index(asx, "XJO");
    issuer = ssmodel_get_issuer(asx, "BHP");  // made with the stock
    ASSERT_TRUE(stock && index && issuer);
    stock_day = add_day(stock, day);
    index_day = add_day(index, day);
    for (instr* in : {static_cast<instr*>(stock), static_cast<instr*>(index), static_cast<instr*>(issuer)})
      ASSERT_EQ(0, ssnotify_add(in, 0xffffffffu, on_change, this, 0, 0));
    ASSERT_EQ(0, ssnotify_add_wild(kSserrGlobalChange, on_change, this, 0, 0));
    sserr_clear();
    g_delivered.clear();
  }
  void TearDown() override {
    for (instr* in : {static_cast<instr*>(stock), static_cast<instr*>(index)}) in->days = {};
    ssnotify_fini();
    ssmodel_fini();
  }
  // A day record linked by hand: the day module is not part of this test.
  ss_day* add_day(instr* in, ss_time date) {
    days.emplace_back(new ss_day{});
    ss_day* d = days.back().get();
    d->date = date;
    d->prev = in->days.tail;
    if (in->days.tail)
      in->days.tail->next = d;
    else
      in->days.head = d;
    in->days.tail = d;
    in->days.count++;
    return d;
  }
  void deliver() {
    g_delivered.clear();
    ssnotify_deliver();
  }

  const ss_time day = sstime_pack_date(10, 2, 2014);
  ss_stock* stock = nullptr;
  ss_index* index = nullptr;
  ss_issuer* issuer = nullptr;
  ss_day* stock_day = nullptr;
  ss_day* index_day = nullptr;
  std::vector<std::unique_ptr<ss_day>> days;
};

TEST_F(Err, RefusedRequestsAreMarkedLoaded) {
  enum Rec { kStock, kIndex, kIssuer, kStockDay, kIndexDay };
  struct {
    uint32_t kind;
    Rec rec;
    uint32_t flags_after;  // from all requested bits set
    uint32_t change;
  } cases[] = {
      {20, kStock, 0x27d8, 0x8000},     {60, kStock, 0x27d8, 0x8000},     {61, kStock, 0x27d8, 0x8000},
      {21, kIndex, 0x2fd0, 0x8000},     {30, kStock, 0x1fe0, 0x20000},    {31, kIndex, 0x1fe0, 0x20000},
      {32, kIssuer, 0x1fe0, 0x40000},   {50, kStock, 0x37c8, 0x8000},     {51, kStock, 0x37c8, 0x8000},
      {62, kStockDay, 0x2fd0, 0x10000}, {63, kStockDay, 0x37c8, 0x10000}, {70, kIndexDay, 0x2fd0, 0x10000},
  };
  for (int32_t code : {kSserrRequestFailed, kSserrRequestQuiet}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << "code " << code << " kind " << c.kind);
      uint32_t* words[] = {&stock->flags, &index->flags, &issuer->flags, &stock_day->flags, &index_day->flags};
      for (uint32_t* w : words) *w = kAllRequested;
      instr* owner = c.rec == kIndex || c.rec == kIndexDay ? static_cast<instr*>(index)
                     : c.rec == kIssuer                    ? static_cast<instr*>(issuer)
                                                           : static_cast<instr*>(stock);
      const char* code_text = c.rec == kIndex || c.rec == kIndexDay ? "XJO" : "BHP";
      // A time later on the same day names the same day record.
      sserr_report(code, c.kind, 0, code_text, day + 3600);
      deliver();
      for (int r = kStock; r <= kIndexDay; r++)
        EXPECT_EQ(r == c.rec ? c.flags_after : kAllRequested, *words[r]) << "record " << r;
      EXPECT_EQ(c.change, g_delivered[owner] & c.change);
      EXPECT_EQ(kSserrGlobalChange, g_delivered[nullptr]);
      EXPECT_EQ(code, sserr_last_code());
    }
  }
}

TEST_F(Err, RefusalsThatMarkNothing) {
  struct {
    const char* what;
    uint32_t kind;
    uint32_t exchange;
    const char* code;
    ss_time date;
  } cases[] = {
      {"kind not in the table", 40, 0, "BHP", 0},
      {"kind below the range", 19, 0, "BHP", 0},
      {"kind above the range", 71, 0, "BHP", 0},
      {"exchange index 4", 20, 4, "BHP", 0},
      {"exchange index 255", 20, 255, "BHP", 0},
      {"exchange without the stock", 20, 1, "BHP", 0},
      {"unknown code", 20, 0, "ZZZ", 0},
      {"no code", 20, 0, nullptr, 0},
      {"index kind on a stock code", 21, 0, "BHP", 0},
      {"no day record of the date", 62, 0, "BHP", sstime_pack_date(11, 2, 2014)},
      {"day kind without a date", 63, 0, "BHP", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    stock->flags = index->flags = issuer->flags = stock_day->flags = index_day->flags = kAllRequested;
    sserr_report(kSserrRequestFailed, c.kind, c.exchange, c.code, c.date);
    deliver();
    for (uint32_t f : {stock->flags, index->flags, issuer->flags, stock_day->flags, index_day->flags})
      EXPECT_EQ(kAllRequested, f);
    EXPECT_EQ(0u, g_delivered.count(stock));
    EXPECT_EQ(kSserrGlobalChange, g_delivered[nullptr]);
  }
}

TEST_F(Err, LogLineAndCode22Silence) {
  LogCapture log;
  sserr_report(kSserrRequestFailed, 20, 0, "BHP", day);
  EXPECT_EQ(1, log.count("error #20: 20 0 BHP 2014-02-10"));
  sserr_report(kSserrRequestQuiet, 20, 0, "BHP", day);
  EXPECT_EQ(0, log.count("error #22"));
  sserr_report(kSserrNoServer, 0, 0, nullptr, 0);
  EXPECT_EQ(1, log.count("error #30: 0 0 "));
}

TEST_F(Err, CodesAndSubCodes) {
  // Each step: report (code, sub) and the code and sub-code read after it.
  struct {
    int32_t code;
    uint32_t sub;
    int32_t code_after;
    uint32_t sub_after;
  } steps[] = {
      {kSserrLinkLost, 4, 1, 4},  // logged out by the server
      {kSserrLinkLost, 0, 1, 4},  // a later report without a sub-code keeps it
      {kSserrLinkLost, 1, 1, 1},
      {kSserrBadPassword, 9, 11, 1},  // only code 1 carries a sub-code
      {kSserrApiDisabled, 3, 17, 1},
      {kSserrProxyAuth, 0, 32, 1},
  };
  for (const auto& s : steps) {
    sserr_report(s.code, s.sub, 0, nullptr, 0);
    deliver();
    EXPECT_EQ(s.code_after, sserr_last_code());
    EXPECT_EQ(s.sub_after, sserr_sub_code());
    EXPECT_EQ(kSserrGlobalChange, g_delivered[nullptr]) << "code " << s.code;
  }
  sserr_clear();
  EXPECT_EQ(0, sserr_last_code());
  EXPECT_EQ(0u, sserr_sub_code());
}

TEST(ErrTable, CodesTheIoLayerKeeps) {
  const std::set<int32_t> kept = {10, 11, 12, 13, 15, 18, 30, 31, 32};
  for (int32_t code = -1; code <= 40; code++) EXPECT_EQ(kept.count(code) ? 1 : 0, sserr_is_specific(code)) << code;
}

TEST(SserrConcurrency, ReadsWithoutALock) {
  sserr_clear();
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 2000; i++) sserr_report(i % 2 ? kSserrLinkLost : kSserrNoServer, i % 5, 0, nullptr, 0);
    stop = true;
  });
  int bad = 0;
  while (!stop) {
    int32_t c = sserr_last_code();
    if (c != 0 && c != kSserrLinkLost && c != kSserrNoServer) bad++;
  }
  writer.join();
  EXPECT_EQ(0, bad);
  sserr_clear();
}

}  // namespace
