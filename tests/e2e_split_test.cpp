// End to end: a recorded stretch of an exchange's day from the market
// simulator (the exchange's selection and date, then scripted depth, trades
// and quotes over six stocks) decoded whole, and decoded again split at
// every byte offset (the first part, then what it left with the rest), from a
// fresh client each time: every split gives the same model, stock for stock,
// and the same as the simulator's own books.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "growbuf.h"
#include "sim.h"
#include "sim_msg.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "testclient.h"
#include "testmodel.h"

namespace {

using Bytes = std::vector<uint8_t>;

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

const ss_time kDay = sstime_pack_date(12, 3, 2014);
ss_time at(int h, int mi, int s) { return sstime_pack(s, mi, h, 12, 3, 2014); }
int no_sleep(int32_t) { return 0; }

// What the model holds of every stock of exchange 0, as one text.
std::string fingerprint() {
  std::string out;
  ss_exchange* ex = ssmodel_exchange(0);
  char line[256];
  for (uint64_t i = 0; i < ex->stocks.count; i++) {
    const ss_stock* s = static_cast<const ss_stock*>(ex->stocks.sorted[i]);
    snprintf(line, sizeof line, "%s %u/%u %u %u %u %u %llu %u %u|", s->code, s->bid, s->offer, s->open, s->high,
             s->low, s->last, static_cast<unsigned long long>(s->volume), s->trades.count, s->price_ref);
    out += line;
    for (int side = 0; side < 2; side++)
      for (const ss_depth_level* l = s->levels[side]; l; l = l->next) {
        snprintf(line, sizeof line, "%u:", l->price);
        out += line;
        for (const ss_depth_order* o = l->orders; o; o = o->next) out += std::to_string(o->volume) + ",";
      }
    out += "\n";
  }
  return out;
}

class Split : public ::testing::Test {
 protected:
  void start() {
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    ssclient_enable_yield(0);
    ssclient_set_sleep_hook(no_sleep);
  }
  void TearDown() override { ssclient_fini(); }
};

TEST_F(Split, EveryByteOffsetGivesTheSameModel) {
  sim_market_options o;
  o.index = 0;
  sim_market* m = sim_market_create(o);
  growbuf gb;
  growbuf_init(&gb, 256, 256);
  ASSERT_EQ(0, sim_msg_select(&gb, 0));
  ASSERT_EQ(0, sim_msg_exchange_date(&gb, 0, kDay, at(9, 0, 0), 36000, false));
  Bytes stream(gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  std::vector<std::string> codes;
  for (uint32_t i = 0; i < 6; i++) codes.push_back(sim_market_code(500 + i * 37));
  ss_time t = at(10, 0, 0);
  // Kept short: every split starts a fresh client.
  ASSERT_EQ(40, sim_market_script(m, 77, codes, 40, &t));
  sim_market_take(m, &stream);
  RecordProperty("stream_bytes", int(stream.size()));

  start();
  ASSERT_EQ(int(stream.size()), ssproto_decode(stream.data(), int32_t(stream.size())));
  const std::string whole = fingerprint();
  // The simulator's books are the independent reference.
  for (const std::string& code : sim_market_codes(m)) {
    const ss_stock* s = ssmodel_find_stock(ssmodel_exchange(0), code.c_str());
    ASSERT_NE(nullptr, s) << code;
    const sim_stock_ref& r = *sim_market_stock(m, code.c_str());
    EXPECT_EQ(r.last, s->last) << code;
    EXPECT_EQ(r.volume, s->volume) << code;
    EXPECT_EQ(r.trades, s->trades.count) << code;
    EXPECT_EQ(r.top(0), s->bid) << code;
    EXPECT_EQ(r.top(1), s->offer) << code;
  }
  ssclient_fini();

  for (size_t k = 1; k < stream.size(); k++) {
    start();
    const int used = ssproto_decode(stream.data(), int32_t(k));
    ASSERT_GE(used, 0) << "split at " << k;
    ASSERT_LE(size_t(used), k);
    const int rest = ssproto_decode(stream.data() + used, int32_t(stream.size()) - used);
    ASSERT_EQ(int(stream.size()) - used, rest) << "split at " << k;
    ASSERT_EQ(whole, fingerprint()) << "split at " << k;
    ssclient_fini();
  }
  sim_market_destroy(m);
}

}  // namespace
