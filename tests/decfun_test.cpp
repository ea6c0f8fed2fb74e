// Fundamentals files: an exchange's static data (issuers and stocks with
// names of the longest permitted length, indices, aliases, option details,
// news removals, history-from dates, adjustments) written with encfun and
// read into a fresh model compares equal; a file of another exchange applies
// nothing and makes the exchange forget its fundamentals date; a section
// longer than the bytes left, a cut item and an unknown tag are refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decfun.h"
#include "growbuf.h"
#include "log.h"
#include "ssclient.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

const std::string kLong1(255, 'N');
const std::string kLong2(255, 'M');
const ss_time kDate = sstime_pack_date(12, 3, 2014);

class Fun : public ::testing::Test {
 protected:
  void SetUp() override {
    ssclient_fini();
    ASSERT_NO_FATAL_FAILURE(start_terminal_model());
  }
  void TearDown() override { ssmodel_fini(); }
  std::vector<uint8_t> written(int index) {
    ss_exchange* ex = ssmodel_exchange(index);
    ex->fun_date = 20140312;
    ss_issuer* is = ssmodel_get_issuer(ex, "BHP");
    ssmodel_set_names(is, kLong1.c_str(), kLong2.c_str());
    ssmodel_remove_news(is, 42);
    ssmodel_set_history_from(is, sstime_pack_date(1, 1, 2000));
    ss_stock* s = ssmodel_get_stock(ex, "BHP");
    ssmodel_set_stock_names(s, kLong1.c_str(), nullptr);
    ssmodel_set_issuer_code(s, "BHPI");
    ssmodel_set_capital(s, 1, 2, 3, 5000000000ull);
    ssmodel_add_adjustment(s, int32_t(kDate), 7);
    ssmodel_set_history_from(s, sstime_pack_date(2, 1, 2001));
    ss_stock* o = ssmodel_get_stock(ex, "BHPO");
    ssmodel_set_option(o, "BHP", 0x15, sstime_pack_date(26, 6, 2014), 4200, 1000);
    ss_index* x = ssmodel_get_index(ex, "XAO");
    ssmodel_set_names(x, "ALL ORDS", kLong2.c_str());
    ssmodel_add_alias(ex, "OLD", "BHP");
    growbuf gb;
    growbuf_init(&gb, 4096, 4096);
    EXPECT_EQ(0, encfun_encode(&gb, ex));
    std::vector<uint8_t> out(gb.data, gb.data + gb.len);
    growbuf_free(&gb);
    ssmodel_fini();
    start_terminal_model();
    return out;
  }
};

TEST_F(Fun, RoundTrip) {
  const std::vector<uint8_t> file = written(0);
  ss_exchange* ex = ssmodel_exchange(0);
  ASSERT_EQ(0, decfun_decode(ex, file.data(), int32_t(file.size())));
  EXPECT_EQ(20140312, ex->fun_date);
  ss_issuer* is = ssmodel_find_issuer(ex, "BHP");
  ASSERT_NE(nullptr, is);
  EXPECT_EQ(kLong1, is->name1);
  EXPECT_EQ(kLong2, is->name2);
  ASSERT_NE(nullptr, is->removals.head);
  EXPECT_EQ(42u, is->removals.head->number);
  EXPECT_EQ(sstime_pack_date(1, 1, 2000), is->history_from);
  ss_stock* s = ssmodel_find_stock(ex, "BHP");
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(kLong1, s->name1);
  EXPECT_STREQ("BHPI", s->issuer);
  EXPECT_EQ(1u, s->capital[0]);
  EXPECT_EQ(3u, s->capital[2]);
  EXPECT_EQ(5000000000ull, s->shares);
  ASSERT_NE(nullptr, s->adjustments.head);
  EXPECT_EQ(int32_t(kDate), s->adjustments.head->date);
  EXPECT_EQ(7, s->adjustments.head->factor);
  EXPECT_EQ(sstime_pack_date(2, 1, 2001), s->history_from);
  ss_stock* o = ssmodel_find_stock(ex, "BHPO");
  ASSERT_NE(nullptr, o);
  EXPECT_EQ(0x15u, o->option_kind);
  EXPECT_STREQ("BHP", o->underlying);
  EXPECT_EQ(sstime_pack_date(26, 6, 2014), o->expiry);
  EXPECT_EQ(4200u, o->option_number);
  EXPECT_EQ(1000u, o->multiplier);
  ss_index* x = ssmodel_find_index(ex, "XAO");
  ASSERT_NE(nullptr, x);
  EXPECT_STREQ("ALL ORDS", x->name1);
  EXPECT_EQ(kLong2, x->name2);
  ss_alias* al = ssmodel_find_alias(ex, "OLD");
  ASSERT_NE(nullptr, al);
  EXPECT_STREQ("BHP", al->to);
}

TEST_F(Fun, AnotherExchangesFileAppliesNothing) {
  const std::vector<uint8_t> file = written(1);
  ss_exchange* ex = ssmodel_exchange(0);
  ex->fun_date = 20140101;
  const uint64_t since = log_count();
  EXPECT_EQ(0, decfun_decode(ex, file.data(), int32_t(file.size())));
  EXPECT_NE(std::string::npos, logged_since(since).find("fun is for 0/ASX not 1/NZX"));
  EXPECT_NE(std::string::npos, logged_since(since).find("forgetting all ASX fun"));
  EXPECT_EQ(-1, ex->fun_date);
  EXPECT_EQ(0u, ex->stocks.count + ex->issuers.count + ex->indices.count + ex->aliases.count);
}

TEST_F(Fun, BrokenFiles) {
  const std::vector<uint8_t> file = written(0);
  ss_exchange* ex = ssmodel_exchange(0);
  // The exchange section, then the issuers' section claiming a byte more
  // than the file holds.
  {
    std::vector<uint8_t> f = file;
    const size_t issuers = 1 + 5 + (size_t(f[2]) << 24 | size_t(f[3]) << 16 | size_t(f[4]) << 8 | f[5]);
    ASSERT_EQ(kFunIssuers, f[issuers]);
    const uint32_t left = uint32_t(f.size() - issuers - 5 + 1);
    f[issuers + 1] = uint8_t(left >> 24);
    f[issuers + 2] = uint8_t(left >> 16);
    f[issuers + 3] = uint8_t(left >> 8);
    f[issuers + 4] = uint8_t(left);
    ex->fun_date = 5;
    EXPECT_EQ(0, decfun_decode(ex, f.data(), int32_t(f.size())));
    EXPECT_EQ(-1, ex->fun_date);
    EXPECT_EQ(nullptr, ssmodel_find_issuer(ex, "BHP"));
  }
  // A file cut inside an item: what came before applies, the date is forgotten.
  {
    ex->fun_date = 5;
    EXPECT_EQ(0, decfun_decode(ex, file.data(), int32_t(file.size() - 3)));
    EXPECT_EQ(-1, ex->fun_date);
  }
  // An unknown tag ends reading.
  {
    const uint8_t f[] = {0, 12, 0, 0, 0, 0};
    EXPECT_EQ(-1, decfun_decode(ex, f, sizeof f));
  }
  // A history-from item of an unknown type fails its section.
  {
    const uint8_t f[] = {0, kFunHistoryFrom, 0, 0, 0, 1, 9};
    const uint64_t since = log_count();
    ex->fun_date = 5;
    EXPECT_EQ(0, decfun_decode(ex, f, sizeof f));
    EXPECT_NE(std::string::npos, logged_since(since).find("bad type for basedate: 9"));
    EXPECT_EQ(-1, ex->fun_date);
  }
}

}  // namespace
