// Exchange notices: the effect of each type on the model, the notices kept in
// the exchange's list, and the refusals: malformed texts leave the model
// exactly as it was (no instrument added, nothing changed), names that could
// become file names are refused, and history is asked for again through the
// io thread's own requests. Then the notice record reader on every cut-short
// prefix and on a list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decnotice.h"
#include "encode.h"
#include "log.h"
#include "ssclient.h"
#include "ssnotice.h"
#include "ssnotify.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

std::vector<std::string> g_requests;
int record_stock_history(ss_stock* s) {
  g_requests.push_back(std::string("stock ") + s->code);
  return 0;
}
int record_issuer_history(ss_issuer* is) {
  g_requests.push_back(std::string("issuer ") + is->code);
  return 0;
}
std::vector<std::string> g_forgets;
void record_forget(uint32_t exchange, const char* code, uint32_t what) {
  g_forgets.push_back(std::to_string(exchange) + ":" + code + ":" + std::to_string(what));
}

class Notice : public ::testing::Test {
 protected:
  void SetUp() override {
    ssclient_fini();
    ASSERT_NO_FATAL_FAILURE(start_terminal_model());
    static const ssnotice_hooks hooks = {record_stock_history, record_issuer_history, record_forget};
    ssnotice_set_hooks(&hooks);
    g_requests.clear();
    g_forgets.clear();
    ex = ssmodel_exchange(0);
    ssmodel_set_date(ex, sstime_pack_date(12, 3, 2014));
  }
  void TearDown() override {
    ssnotice_set_hooks(nullptr);
    ssmodel_fini();
  }
  uint32_t instruments() const { return uint32_t(ex->stocks.count + ex->indices.count + ex->issuers.count); }
  ss_exchange* ex = nullptr;
};

TEST_F(Notice, EffectsAndKeeping) {
  ssnotice_set_pending(1);
  ss_index* xao = ssmodel_get_index(ex, "XAO");
  struct Case {
    int32_t seq;
    uint32_t type;
    const char* code;
    const char* text;
    bool kept;
  } cases[] = {
      {1, 1, "BHP", "BHP GROUP", true},
      {2, 1, "XLD", "IGNORED", false},  // never a stock name on this exchange
      {3, 2, "XAO", "ALL ORDS", true},
      {4, 4, "BHP", "BHP ISSUER", true},
      {5, 13, "BHP", "2014-03-10,2", true},
      {6, 13, "RIO", "20140311,3", true},  // eight-digit date after a comma
      {7, 15, "BHP", "1a2b", true},
      {8, 16, "BHP", "XAO,12345", true},
      {9, 16, "RIO", "XAO", true},
      {10, 19, "BHP", "1,2,3,4000000000", true},
      {11, 20, "OPT", "BHP,O,P,2014-06-26,4200,1000", true},
      {0, 18, "BHP", "BHPI", false},  // sequence 0: applied, not kept
      {12, 30, "ZZZ", "whatever", true},
      {13, 0, "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seq);
    const uint32_t count = ex->notice_count;
    EXPECT_EQ(0, ssnotice_apply(c.seq, c.type, 0, c.code, c.text));
    EXPECT_EQ(count + (c.kept ? 1 : 0), ex->notice_count);
    if (c.kept) {
      EXPECT_EQ(c.seq, ex->notice_head->sequence);
      EXPECT_STREQ(c.code, ex->notice_head->code);
      EXPECT_EQ(c.seq, ex->notice_seq);
    }
  }
  ss_stock* bhp = ssmodel_find_stock(ex, "BHP");
  ASSERT_NE(nullptr, bhp);
  EXPECT_STREQ("BHP GROUP", bhp->name1);
  EXPECT_EQ(nullptr, ssmodel_find_stock(ex, "XLD"));
  EXPECT_STREQ("ALL ORDS", xao->name1);
  EXPECT_STREQ("BHP ISSUER", ssmodel_find_issuer(ex, "BHP")->name1);
  ASSERT_NE(nullptr, bhp->adjustments.head);
  EXPECT_EQ(2, bhp->adjustments.head->factor);
  EXPECT_EQ(int32_t(sstime_pack_date(10, 3, 2014)), bhp->adjustments.head->date);
  ss_stock* rio = ssmodel_find_stock(ex, "RIO");
  ASSERT_NE(nullptr, rio);
  ASSERT_NE(nullptr, rio->adjustments.head);
  EXPECT_EQ(int32_t(sstime_pack_date(11, 3, 2014)), rio->adjustments.head->date);
  ASSERT_EQ(2u, xao->members.count);
  EXPECT_EQ(12345u, ssmodel_find_index(ex, "XAO")->members.head->value);
  EXPECT_EQ(4000000000ull, bhp->shares);
  ss_stock* opt = ssmodel_find_stock(ex, "OPT");
  ASSERT_NE(nullptr, opt);
  EXPECT_EQ(0x15u, opt->option_kind);
  EXPECT_STREQ("BHP", opt->underlying);
  EXPECT_EQ(4200u, opt->option_number);
  EXPECT_EQ(1000u, opt->multiplier);
  EXPECT_STREQ("BHPI", bhp->issuer);
  // Newest first.
  EXPECT_EQ(12, ex->notice_head->sequence);
  EXPECT_EQ(1, ex->notice_tail->sequence);
}

TEST_F(Notice, MalformedTextsChangeNothing) {
  struct Case {
    uint32_t type;
    const char* code;
    const char* text;
    const char* logged;
  } cases[] = {
      {13, "NEW1", "20140310", "NEW1 dilution has no factor: 20140310"},
      {13, "NEW1", "2014-03-10,2x", "NEW1 bad dilution"},
      {14, "NEW1", "20140310", "NEW1 delete dilution has no factor"},
      {20, "NEW2", "BHP,O,P,2014-06-26,4200", "NEW2 bad derivative"},
      {20, "NEW2", "AVERYLONGUNDERLYINGCODE,O,P,2014-06-26,1,2", "NEW2 bad derivative"},
      {20, "NEW2", "BHP,O,P,2014-06-26,-1,2", "NEW2 bad derivative"},
      {19, "NEW3", "1,2,x,4", "NEW3 bad capital"},
      {19, "NEW3", "1,2,3", "NEW3 bad capital"},
      {12, "NEW4", "12abc", "NEW4 bad news number"},
      {15, "NEW5", "xyz", "NEW5 bad sector"},
      {6, "NEW6", "", "NEW6 bad alias"},
      {6, "NEW6", "TWELVECHARSX", "NEW6 bad alias"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const uint32_t before = instruments();
    const uint64_t since = log_count();
    EXPECT_EQ(-1, ssnotice_apply(1, c.type, 0, c.code, c.text));
    EXPECT_EQ(before, instruments());
    EXPECT_EQ(0u, ex->notice_count);
    EXPECT_NE(std::string::npos, logged_since(since).find(c.logged)) << logged_since(since);
  }
  EXPECT_EQ(-1, ssnotice_apply(1, 1, 7, "BHP", "x"));
  EXPECT_EQ(0, ssnotice_apply(1, 1, kNoticeNoExchange, "BHP", "x"));
}

TEST_F(Notice, DroppingHistoryWaitsForOnlineAndAsksAgainOnTheIoThread) {
  ss_stock* bhp = ssmodel_get_stock(ex, "BHP");
  ssmodel_reserve_history(bhp, 10);
  bhp->flags |= kInHistory;
  ssnotice_set_pending(0);
  EXPECT_EQ(0, ssnotice_apply(1, 8, 0, "BHP", ""));
  EXPECT_NE(nullptr, bhp->history);
  EXPECT_EQ(1u, ex->notice_count);  // kept all the same
  ssnotice_set_pending(1);
  EXPECT_EQ(0, ssnotice_apply(2, 8, 0, "BHP", ""));
  EXPECT_EQ(0u, bhp->flags & kInHistory);

  // An alias to a stock whose history was loaded asks for it again.
  ss_stock* neu = ssmodel_get_stock(ex, "NEW");
  neu->flags |= kInHistory;
  ss_issuer* issuer = ssmodel_get_issuer(ex, "NEW");
  issuer->flags |= kInHistory;
  EXPECT_EQ(0, ssnotice_apply(3, 6, 0, "OLD", "NEW"));
  EXPECT_EQ((std::vector<std::string>{"stock NEW", "issuer NEW"}), g_requests);
  EXPECT_EQ(0u, neu->flags & kInHistory);
  ASSERT_NE(nullptr, ssmodel_find_alias(ex, "OLD"));
}

// Each stale-data notice forgets exactly its kinds of cached file, also for
// an instrument the model does not hold; before the client is online none
// forgets anything. An alias forgets the new code's history and previous
// days (stock) and news history (issuer).
TEST_F(Notice, StaleDataForgetsTheCachedFiles) {
  ssmodel_get_stock(ex, "BHP");
  ssmodel_get_index(ex, "XJO");
  ssmodel_get_issuer(ex, "BHP");
  const std::string prevday = std::to_string(kNoticeForgetPrevdayTrades | kNoticeForgetPrevdayStock);
  struct Case {
    uint32_t type;
    const char* code;
    std::string forgot;  // "" for nothing
  } cases[] = {
      {7, "BHP", "0:BHP:" + prevday},
      {7, "ABSENT", "0:ABSENT:" + prevday},
      {8, "BHP", "0:BHP:" + std::to_string(kNoticeForgetStockHistory)},
      {8, "ABSENT", "0:ABSENT:" + std::to_string(kNoticeForgetStockHistory)},
      {9, "XJO", "0:XJO:" + std::to_string(kNoticeForgetPrevdayIndex)},
      {10, "XJX", "0:XJX:" + std::to_string(kNoticeForgetIndexHistory)},
      {11, "BHP", "0:BHP:" + std::to_string(kNoticeForgetNewsHistory)},
      {11, "NOPE", "0:NOPE:" + std::to_string(kNoticeForgetNewsHistory)},
      {12, "BHP", ""},
      {21, "BHP", ""},
  };
  for (int online = 0; online <= 1; online++) {
    ssnotice_set_pending(online);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(online) + " " + std::to_string(c.type) + " " + c.code);
      g_forgets.clear();
      const uint32_t before = instruments();
      EXPECT_EQ(0, ssnotice_apply(1, c.type, 0, c.code, c.type == 12 ? "5" : c.type == 21 ? "2001-01-01" : ""));
      if (online && !c.forgot.empty()) {
        EXPECT_EQ(std::vector<std::string>{c.forgot}, g_forgets);
      } else {
        EXPECT_TRUE(g_forgets.empty());
      }
      if (c.type <= 11) {
        EXPECT_EQ(before, instruments());  // nothing added to forget it
      }
    }
  }

  g_forgets.clear();
  ssmodel_get_stock(ex, "NEW");
  ssmodel_get_issuer(ex, "NEW");
  EXPECT_EQ(0, ssnotice_apply(2, 6, 0, "OLD", "NEW"));
  EXPECT_EQ((std::vector<std::string>{
                "0:NEW:" + std::to_string(kNoticeForgetStockHistory | kNoticeForgetPrevdayStock |
                                          kNoticeForgetPrevdayTrades),
                "0:NEW:" + std::to_string(kNoticeForgetNewsHistory)}),
            g_forgets);
}

std::vector<uint8_t> notice_bytes(uint32_t a, uint32_t b, uint8_t c, const char* code, const char* text) {
  uint8_t buf[300];
  int n = encode_vint(buf, a);
  n += encode_vint(buf + n, b);
  n += encode_byte(buf + n, c);
  n += encode_code(buf + n, code);
  n += encode_string(buf + n, text);
  return std::vector<uint8_t>(buf, buf + n);
}

TEST_F(Notice, RecordReader) {
  const std::vector<uint8_t> one = notice_bytes(1, 0, 5, "BHP", "BHP GROUP");
  for (size_t cut = 0; cut < one.size(); cut++)
    EXPECT_EQ(0, decnotice_decode(one.data(), int32_t(cut))) << cut;
  EXPECT_EQ(0u, ex->stocks.count);
  EXPECT_EQ(int32_t(one.size()), decnotice_decode(one.data(), int32_t(one.size())));
  EXPECT_STREQ("BHP GROUP", ssmodel_find_stock(ex, "BHP")->name1);
  EXPECT_EQ(5, ex->notice_seq);
  // A refused notice still uses its bytes.
  const std::vector<uint8_t> bad = notice_bytes(19, 0, 6, "RIO", "1,2");
  const uint64_t since = log_count();
  EXPECT_EQ(int32_t(bad.size()), decnotice_decode(bad.data(), int32_t(bad.size())));
  EXPECT_NE(std::string::npos, logged_since(since).find("ignoring notice 19,0,RIO,1,2"));
  EXPECT_EQ(nullptr, ssmodel_find_stock(ex, "RIO"));

  // A list: type, code, text per item; the position is stored.
  std::vector<uint8_t> list;
  for (const char* c : {"AAA", "BBB"}) {
    uint8_t buf[64];
    int n = encode_vint(buf, 1);
    n += encode_code(buf + n, c);
    n += encode_string(buf + n, "NAME");
    list.insert(list.end(), buf, buf + n);
  }
  EXPECT_EQ(0, decnotice_decode_list(ex, 77, list.data(), int32_t(list.size())));
  EXPECT_EQ(77, ex->notice_seq);
  EXPECT_STREQ("NAME", ssmodel_find_stock(ex, "BBB")->name1);
  EXPECT_EQ(-1, decnotice_decode_list(ex, 78, list.data(), int32_t(list.size() - 1)));
}

uint32_t g_globals = 0;
void on_change(const ss_change* change, void*, uint64_t, uint32_t) {
  if (!change->instrument) g_globals |= change->mask;
}

// A list longer than 100,000 bytes is read with change recording off, and
// then tells the windows to look at everything; one of exactly 100,000 bytes
// is read as usual.
TEST_F(Notice, LongListsAreReadQuietly) {
  int owner;
  ASSERT_EQ(0, ssnotify_add_wild(0xffffffffu, on_change, &owner, 0, 0));
  for (int32_t size : {kNoticeListQuiet, kNoticeListQuiet + 1}) {
    SCOPED_TRACE(size);
    // Items of type 30 (kept, nothing applied) padded with one long text
    // to the exact size.
    std::vector<uint8_t> list;
    uint8_t item[300];
    int n = encode_vint(item, 30);
    n += encode_code(item + n, "AAA");
    const int32_t head = n;
    std::string text(200, 't');
    while (int32_t(list.size()) + head + 201 <= size - (head + 1)) {
      int m = head + encode_string(item + head, text.c_str());
      list.insert(list.end(), item, item + m);
    }
    text.assign(size_t(size - int32_t(list.size()) - head - 1), 'u');
    ASSERT_LE(text.size(), 255u);
    int m = head + encode_string(item + head, text.c_str());
    list.insert(list.end(), item, item + m);
    ASSERT_EQ(size_t(size), list.size());
    ssnotify_deliver();
    g_globals = 0;
    EXPECT_EQ(0, decnotice_decode_list(ex, 5, list.data(), int32_t(list.size())));
    ssnotify_deliver();
    const uint32_t quiet = kGlobalMarked | kGlobalNotices;
    EXPECT_EQ(size > kNoticeListQuiet ? quiet : 0u, g_globals & quiet);
  }
  ssnotify_remove_wild(&owner);
}

}  // namespace
