// End to end against the market simulator on loopback: one session in which
// the simulator sends every message type the client's dispatcher handles,
// with the real handlers and the real io thread. The dispatcher reports each
// message a handler took; the test checks that every handled type came, that
// the stream position of the current exchange moved by exactly a message's
// length for the types of an exchange's data stream and not at all for the
// others (nor for messages inside blocks, nor while the catch-up has counting
// off), that the client's position ends where the simulator's stream does,
// and that no type took the unknown-type path. A second session sends the
// first type of each gap of the protocol's type list: each is refused as
// unknown as a protocol error, and the client signs on again.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "encode.h"
#include "growbuf.h"
#include "sim.h"
#include "sim_control.h"
#include "sim_days.h"
#include "sim_history.h"
#include "sim_lists.h"
#include "sim_msg.h"
#include "sim_snapshot.h"
#include "ssclient.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "sstime.h"
#include "testclient.h"
#include "testdataroot.h"
#include "testlog.h"
#include "testprototypes.h"
#include "testsim.h"
#include "testsimclient.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

const ss_time kDay = sstime_pack_date(12, 3, 2014);
const ss_time kYesterday = sstime_pack_date(11, 3, 2014);
ss_time at(int h, int mi, int s) { return sstime_pack(s, mi, h, 12, 3, 2014); }

std::mutex g_mu;
std::vector<ssproto_observed> g_seen;

void observe(const ssproto_observed* o) {
  std::lock_guard<std::mutex> lk(g_mu);
  g_seen.push_back(*o);
}

std::vector<ssproto_observed> seen() {
  std::lock_guard<std::mutex> lk(g_mu);
  return g_seen;
}

std::vector<uint8_t> bytes_of(std::initializer_list<uint32_t> words, int width) {
  std::vector<uint8_t> out;
  for (uint32_t w : words) {
    uint8_t b[8];
    const int n = width == 1 ? encode_byte(b, w) : encode_uint32(b, w);
    out.insert(out.end(), b, b + n);
  }
  return out;
}

class Conformance : public SimClientTest {
 protected:
  void SetUp() override {
    // Exchanges 1 and 3 start from generated snapshots (the summary
    // messages; exchange 3's depth summary has a type of its own); the
    // writer runs a model of its own, so before the client starts.
    std::vector<uint8_t> snap_bytes[2];
    for (int k = 0; k < 2; k++)
      ASSERT_EQ(0, sim_snapshot_write(sim_snapshot_generate(1 + 2 * k, kDay, 50, 7, 40, 6), &snap_bytes[k]));

    ASSERT_NO_FATAL_FAILURE(make_alice_sim(&sim));
    for (uint32_t i = 0; i < 4; i++) ASSERT_EQ(0, sim_add_exchange(sim, test_exchange(i, at(9, 0, 0), 50)));
    for (int k = 0; k < 2; k++) ASSERT_EQ(0, sim_set_snapshot(sim, 1 + 2 * k, snap_bytes[k]));
    ASSERT_NO_FATAL_FAILURE(append_stream(2, 1));  // exchange 2 is selected by its index
    ASSERT_EQ(0, sim_set_stock_name(sim, 0, "ZZA", "Zed Alpha Mining"));
    ASSERT_EQ(0, sim_set_stock_name(sim, 0, "ZZB", "Zed Beta Holdings"));
    ASSERT_NO_FATAL_FAILURE(init_test_client());
    ASSERT_EQ(0, dir.use());
    ssclient_enable_requests(1);
    g_seen.clear();
    ssproto_set_test_observer(observe);
    ASSERT_NO_FATAL_FAILURE(start_sim_until_online());
    ASSERT_EQ(0, growbuf_init(&gb, 4096, 4096));
    hdr = sim_hdr_create(false);
  }

  void TearDown() override {
    stop(10000);
    ssproto_set_test_observer(nullptr);
    sim_hdr_destroy(hdr);
    growbuf_free(&gb);
    sim_destroy(sim);
    ssclient_fini();
  }

  void pump() {
    core_lock lock;
    ssclient_deliver();
  }

  // The messages in gb as one unit of exchange 0's stream; waits until the
  // client stands at the stream's end.
  void stream() {
    ASSERT_EQ(0, sim_append(sim, 0, gb.data, gb.len));
    growbuf_truncate(&gb, 0);
    sim_hdr_restart(hdr);
    ASSERT_NO_FATAL_FAILURE(caught_up());
  }
  void caught_up() {
    ASSERT_TRUE(wait_for(
        [this] {
          pump();
          return ssproto_exchange_position(0) == sim_stream_length(sim, 0);
        },
        10000))
        << ssproto_exchange_position(0) << " of " << sim_stream_length(sim, 0);
  }

  // The messages in gb as control messages; waits until the dispatcher has
  // taken a message of type `last`.
  void control(uint32_t last) {
    const size_t from = seen().size();
    ASSERT_EQ(1, sim_send(sim, "alice", gb.data, gb.len, false));
    growbuf_truncate(&gb, 0);
    ASSERT_NO_FATAL_FAILURE(wait_type(last, from));
  }
  void wait_type(uint32_t type, size_t from) {
    ASSERT_TRUE(wait_for(
        [&] {
          pump();
          const std::vector<ssproto_observed> s = seen();
          for (size_t i = from; i < s.size(); i++)
            if (s[i].type == type) return true;
          return false;
        },
        10000))
        << "type " << type;
  }

  TempDataRoot dir{"ambit-e2e-conformance"};
  growbuf gb = {};
  sim_hdr* hdr = nullptr;
};

TEST_F(Conformance, EveryHandledTypeInOneSessionWithItsStreamAccounting) {
  LogCapture log;
  // Online, the client asks for exchange 0's notices: the stock names come
  // as a notice list (211).
  ASSERT_TRUE(wait_for(
      [this] {
        pump();
        core_lock lock;
        const ss_stock* s = ssmodel_find_stock(ssmodel_exchange(0), "ZZB");
        return s && s->name1 && std::string(s->name1) == "Zed Beta Holdings";
      },
      10000));
  {
    core_lock lock;
    const ss_stock* s = ssmodel_find_stock(ssmodel_exchange(0), "ZZA");
    ASSERT_NE(nullptr, s);
    EXPECT_STREQ("Zed Alpha Mining", s->name1);
  }
  // Exchange 0's market: depth, quotes and trades of a dozen stocks.
  sim_market_options mo;
  mo.index = 0;
  mo.date = kDay;
  sim_market* market = sim_market_create(mo);
  std::vector<std::string> codes;
  for (uint32_t i = 0; i < 12; i++) codes.push_back(sim_market_code(i));
  ss_time t = at(10, 0, 0);
  for (int unit = 0; unit < 30; unit++) {
    ASSERT_EQ(60, sim_market_script(market, 900 + uint64_t(unit), codes, 60, &t));
    ASSERT_EQ(0, sim_market_flush(market, sim));
  }
  const std::string& q = codes[0];
  for (int side = 0; side < 2; side++)
    if (!sim_market_stock(market, q.c_str())->sides[side].empty()) {
      ASSERT_EQ(60 + side, sim_market_queue(market, q.c_str(), t, side));
    }
  ASSERT_EQ(0, sim_market_flush(market, sim));
  ASSERT_NO_FATAL_FAILURE(caught_up());

  // Answers about the market's first stock: depth lists and trade lists.
  const sim_stock_ref* book = sim_market_stock(market, q.c_str());
  for (int kind : {10, 11, 12, 13, 50, 51}) {
    sim_entry e;
    e.kind = kind;
    e.exchange = 0;
    e.code = q;
    sim_answer_lists(&gb, e, book, kDay, false);
  }
  ASSERT_NO_FATAL_FAILURE(control(kSimMsgRecentTrades));

  // The stream messages of exchange 0 the market does not write.
  t = at(11, 0, 0);
  uint32_t zza = 0, zzc = 0;
  // Compact depth changes on ZZA: three orders a side, then four go.
  for (uint32_t type : {200u, 201u, 205u, 206u, 200u, 201u}) {
    const bool bid = type % 2 == 0;
    ASSERT_EQ(0, sim_msg_depth_change(&gb, hdr, type, t, "ZZA", bid ? 1000 : 1010, 100, 1, nullptr, &zza, false));
  }
  ASSERT_EQ(0, sim_msg_delete_top(&gb, hdr, 202, t, "ZZA", 1, 1));
  ASSERT_EQ(0, sim_msg_delete_top(&gb, hdr, 203, t, "ZZA", 1, 0));
  ASSERT_EQ(0, sim_msg_delete_top(&gb, hdr, 204, t, "ZZA", 0, 1));
  // The depth types with 16-bit positions on ZZF: three orders a side, then
  // the second goes and the first is amended.
  uint32_t zzf = 0;
  sim_depth w;
  w.volume = 20;
  for (uint32_t p : {3000u, 2990u, 2980u}) {
    w.price = p;
    ASSERT_EQ(0, sim_msg_depth(&gb, hdr, kSimDepthHead, t, "ZZF", w, &zzf, false));
    w.price = 6000 - p + 20;
    ASSERT_EQ(0, sim_msg_depth(&gb, hdr, kSimDepthHead + kSimOfferTwin, t, "ZZF", w, &zzf, false));
  }
  w.position = 2;
  for (uint32_t type : {kSimDepthDeleteShort, kSimDepthDeleteShort + 1})
    ASSERT_EQ(0, sim_msg_depth(&gb, hdr, type, t, "ZZF", w, &zzf, false));
  w.position = 1;
  w.volume = 25;
  for (uint32_t type : {kSimDepthAmendShort, kSimDepthAmendShort + 1})
    ASSERT_EQ(0, sim_msg_depth(&gb, hdr, type, t, "ZZF", w, &zzf, false));
  // Stock states, resume time, quote basis and the extended quote.
  ASSERT_EQ(0, sim_msg_stock_state(&gb, hdr, t, "ZZA", 3));
  ASSERT_EQ(0, sim_msg_resume(&gb, hdr, t, "ZZA", at(14, 0, 0)));
  ASSERT_EQ(0, sim_msg_quote_basis(&gb, hdr, t, "ZZA", 0x1234567890ull));
  const uint32_t quote[5] = {990, 1000, 1020, 980, 1005};
  ASSERT_EQ(0, sim_msg_quote_ex(&gb, hdr, t, "ZZA", 0x7F, quote, 5000, 5000000, &zza));
  // Out-of-order depth on ZZB; trade variants and an amendment on ZZC.
  ASSERT_EQ(0, sim_msg_out_of_order(&gb, hdr, t, "ZZB"));
  sim_trade_fields f;
  f.price = 500;
  f.volume = 10;
  ASSERT_EQ(0, sim_msg_trade_variant(&gb, hdr, kSimMsgCrossing, t, "ZZC", f, &zzc, false));
  f.price = 510;
  f.flags = 0x01 | 0x02 | 0x04;
  ASSERT_EQ(0, sim_msg_trade_variant(&gb, hdr, kSimMsgTradeExtended, t, "ZZC", f, &zzc, false));
  // The last trade of the market's first stock (its trades are loaded by
  // the answer above) is cancelled.
  ASSERT_FALSE(book->trade_list.empty());
  const sim_trade& last = book->trade_list.back();
  const uint32_t totals[4] = {book->open, book->high, book->low, book->last};
  const uint64_t values[4] = {book->volume, 0, 0, 0};
  uint32_t first = 0;  // the client's copy: the cancel's prices are told against it
  {
    core_lock lock;
    const ss_stock* s = ssmodel_find_stock(ssmodel_exchange(0), q.c_str());
    ASSERT_NE(nullptr, s);
    first = s->first_price;
  }
  ASSERT_EQ(0, sim_msg_trade_amend(&gb, hdr, t, q.c_str(), uint32_t(book->trade_list.size() - 1), last.price,
                                   last.volume, first, totals, values));
  // An index: its values, then changes.
  const int32_t changes[4] = {10, 20, -20, 5};
  for (uint32_t type : {kSimMsgIndexValue, kSimMsgIndexLast, kSimMsgIndexRange, kSimMsgIndexAll, kSimMsgIndexChange})
    ASSERT_EQ(0, sim_msg_index(&gb, hdr, type, t, "XZI", 500000, changes));
  // The queue of the market's stock as a block.
  growbuf list = {};
  ASSERT_EQ(0, growbuf_init(&list, 1024, 1024));
  for (int side = 0; side < 2; side++) {
    growbuf_truncate(&list, 0);
    ASSERT_EQ(0, sim_list_queue(&list, *book, side, t, kDay, false));
    ASSERT_EQ(0, sim_msg_queue_block(&gb, hdr, 62 + uint32_t(side), t, q.c_str(), list.data, list.len));
  }
  // Auctions, runs of trades, depth clears of ZZD.
  uint32_t zzd = 0;
  sim_depth d;
  d.price = 2000;
  d.volume = 50;
  ASSERT_EQ(0, sim_msg_depth(&gb, hdr, 1, t, "ZZD", d, &zzd, false));
  d.price = 2010;
  ASSERT_EQ(0, sim_msg_depth(&gb, hdr, 14, t, "ZZD", d, &zzd, false));
  ASSERT_EQ(0, sim_msg_auction(&gb, hdr, t, "ZZD", 2005, 50, &zzd));
  ASSERT_EQ(0, sim_msg_open_balance(&gb, hdr, t, "ZZD", 10));
  sim_auction a;
  a.price = 2005;
  a.matched = 40;
  a.bid_price = 2000;
  a.bid_volume = 50;
  a.offer_price = 2010;
  a.offer_volume = 50;
  ASSERT_EQ(0, sim_msg_auction_block(&gb, hdr, t, "ZZD", a, &zzd));
  ASSERT_EQ(0, sim_msg_auction_clear(&gb, hdr, t, "ZZD"));
  ASSERT_EQ(0, sim_msg_multi_trade(&gb, hdr, kSimMsgMultiTrade, t, "ZZD", 2005, {10, 20}, &zzd));
  ASSERT_EQ(0, sim_msg_multi_trade(&gb, hdr, kSimMsgMultiAtLast, t, "ZZD", 0, {5}, &zzd));
  for (uint32_t type : {kSimMsgClearBid, kSimMsgClearBid + 1, kSimMsgClearBoth})
    ASSERT_EQ(0, sim_msg_clear_depth(&gb, hdr, type, t, "ZZD"));
  // A run and a block of stock messages.
  std::vector<sim_run_item> run = {{kSimMsgStockState, "ZZA", bytes_of({5}, 1)},
                                   {kSimMsgResume, "ZZB", bytes_of({at(15, 0, 0)}, 4)}};
  ASSERT_EQ(0, sim_msg_run(&gb, hdr, at(11, 0, 5), run));
  growbuf inner = {};
  ASSERT_EQ(0, growbuf_init(&inner, 256, 256));
  ASSERT_EQ(0, sim_msg_stock_state(&inner, hdr, at(11, 0, 6), "ZZB", 4));
  ASSERT_EQ(0, sim_msg_block(&gb, inner.data, inner.len));
  growbuf_free(&inner);
  // Exchange-wide messages.
  growbuf_truncate(&list, 0);
  ASSERT_EQ(0, sim_list_states(&list, {}, {"ZZA", "ZZB"}));
  ASSERT_EQ(0, sim_msg_state_list(&gb, 6, list.data, list.len));
  growbuf_free(&list);
  ASSERT_EQ(0, sim_msg_set_position(&gb, 1, 2, 3));
  ASSERT_EQ(0, sim_msg_offset(&gb, 36000));
  ASSERT_EQ(0, sim_msg_exchange_state(&gb, 60));
  ASSERT_EQ(0, sim_msg_exchange_state_all(&gb, 61));
  ASSERT_EQ(0, sim_msg_clear_exchange(&gb));
  ASSERT_EQ(0, sim_msg_end_day(&gb));
  ASSERT_EQ(0, sim_msg_begin_day(&gb, kDay, sim_signature(sim, 0)));
  ASSERT_EQ(0, sim_msg_reset(&gb, kDay, at(11, 1, 0), 36000));
  ASSERT_NO_FATAL_FAILURE(stream());
  ss_news item = {};
  item.number = 77;
  item.time = at(11, 2, 0);
  item.codes[0] = 1;
  strcpy(item.headline, "Conformance");
  ASSERT_EQ(0, sim_news_today(sim, 0, "ZZA", item));
  ASSERT_NO_FATAL_FAILURE(caught_up());

  // Control messages and answers, none of which counts.
  std::vector<uint8_t> bytes;
  ASSERT_EQ(0, sim_msg_user_config(&gb, "config", 6));
  ASSERT_EQ(0, sim_msg_sync(&gb, 1));
  ASSERT_EQ(0, sim_msg_server_position(&gb, 2, 255, 0, 0));
  ASSERT_EQ(0, sim_msg_server_position(&gb, 1, 255, 1000, 0));
  ASSERT_EQ(0, sim_msg_params(&gb, 3, "", at(11, 3, 0)));
  ASSERT_EQ(0, sim_msg_skip_word(&gb, 0xDEADBEEF));
  sim_order_info waiting;
  waiting.code = "ZZQ";
  waiting.first = "desk";
  ASSERT_EQ(0, sim_priority_payload({waiting}, &bytes));
  ASSERT_EQ(0, sim_msg_priority(&gb, 0, bytes.data(), int32_t(bytes.size())));
  // Today's trades of ZZE, as a saved stream of that stock.
  sim_market_options so;
  so.index = 0;
  so.date = kDay;
  so.stock_stream = true;
  sim_market* saved = sim_market_create(so);
  ss_time st = at(10, 0, 0);
  ASSERT_EQ(20, sim_market_script(saved, 5, {"ZZE"}, 20, &st));
  std::vector<uint8_t> today;
  sim_market_take(saved, &today);
  sim_market_destroy(saved);
  ASSERT_EQ(0, sim_msg_backfill_today(&gb, kSimMsgBackfillStock, 0, "ZZE", today.data(), int32_t(today.size())));
  growbuf ticks = {};
  ASSERT_EQ(0, growbuf_init(&ticks, 256, 256));
  ASSERT_EQ(0, sim_index_ticks(&ticks, {{at(10, 0, 0), 400000}, {at(10, 1, 0), 400100}}));
  ASSERT_EQ(0, sim_msg_backfill_today(&gb, kSimMsgBackfillIndex, 0, "XZJ", ticks.data, ticks.len));
  growbuf_free(&ticks);
  sim_order_info firm;
  firm.position = 1;
  firm.first = "firm";
  bytes.clear();
  ASSERT_EQ(0, sim_firm_payload({firm}, {}, &bytes));
  ASSERT_EQ(0, sim_msg_firm_orders(&gb, 0, "ZZE", bytes.data(), int32_t(bytes.size())));
  for (int kind : {30, 31, 32, 34}) {
    sim_entry e;
    e.kind = kind;
    e.exchange = 0;
    e.code = kind == 31 ? "XZJ" : "ZZE";
    e.date = kDay;
    ASSERT_EQ(0, sim_answer_history(&gb, e, 1, kDay, {"ZZE", "ZZA"}));
  }
  std::vector<sim_program_file> files(1);
  files[0].name = "notes.txt";
  files[0].data = {'n', 'e', 'w'};
  ASSERT_EQ(0, sim_msg_program_update(&gb, "7.3", files, 2));
  ASSERT_EQ(0, sim_msg_update_test(&gb, "probe", "test", 4));
  ASSERT_EQ(0, sim_msg_update_test_delta(&gb, "probe", "d", 1));
  ASSERT_EQ(0, sim_msg_padding(&gb, 16));
  ASSERT_EQ(0, sim_msg_stall(&gb));
  sim_notice n;
  n.a = 5;
  n.b = 0;
  n.c = 1;
  n.code = "ZZA";
  n.text = "Trading halt";
  ASSERT_EQ(0, sim_msg_notice(&gb, n));
  ASSERT_EQ(0, sim_msg_notice_list(&gb, 0, 9, {n, n}));
  sim_global_index g;
  g.code = "XZG";
  g.previous = 300000;
  g.first = 300100;
  g.high = 300500;
  g.low = 299000;
  g.last = 300200;
  g.time = at(11, 4, 0);
  ASSERT_EQ(0, sim_msg_global_values(&gb, {g}));
  g.last = 300300;
  ASSERT_EQ(0, sim_msg_global_index(&gb, g));
  bytes.clear();
  ASSERT_EQ(0, sim_vcmp_payload({"ZZA"}, true, &bytes));
  ASSERT_EQ(0, sim_msg_vcmp(&gb, 0, kDay, 1100, true, bytes.data(), int32_t(bytes.size())));
  ASSERT_EQ(0, sim_msg_password_reply(&gb, 0));
  ASSERT_EQ(0, sim_msg_side_channel(&gb, 1, 0, "side", 4));
  ASSERT_EQ(0, sim_msg_ack(&gb));
  ASSERT_EQ(0, sim_msg_debug(&gb, 7));
  ASSERT_EQ(0, sim_msg_noop(&gb));
  ASSERT_EQ(0, sim_msg_error(&gb, kSimErrRequest, 63, 0, "ZZE", kYesterday));
  ASSERT_EQ(0, sim_msg_select(&gb, 0));  // 55 made exchange 3 current; the stream's is 0
  ASSERT_NO_FATAL_FAILURE(control(kSimMsgSelect0));

  // Earlier days, as the client asks for them: a stock's day (102), its
  // trades of another day (104; a day whose events are asked for needs no
  // trades of its own), an index's day (103).
  ASSERT_EQ(0, sim_add_instrument(sim, 0, "ZZE"));
  ASSERT_EQ(0, sim_add_instrument(sim, 0, "XZJ"));
  ASSERT_EQ(0, sim_set_past_day(sim, 0, "ZZE", kYesterday, today));
  {
    const size_t from = seen().size();
    {
      core_lock lock;
      ss_exchange* ex = ssmodel_exchange(0);
      ss_stock* zze = ssmodel_find_stock(ex, "ZZE");
      ss_index* xzj = ssmodel_find_index(ex, "XZJ");
      ASSERT_NE(nullptr, zze);
      ASSERT_NE(nullptr, xzj);
      ASSERT_EQ(0, ssclient_request_events_for_day(zze, kYesterday));
      ASSERT_EQ(0, ssclient_request_trades_for_day(zze, sstime_pack_date(10, 3, 2014)));  // a day of its own
      ASSERT_EQ(0, ssclient_request_index_day(xzj, kYesterday));
    }
    for (uint32_t type : {102u, 103u, 104u}) ASSERT_NO_FATAL_FAILURE(wait_type(type, from));
  }

  // The server signs the client off (254); signed on again, it is dropped (251).
  ASSERT_EQ(0, sim_msg_signed_off(&gb));
  ASSERT_EQ(1, sim_send(sim, "alice", gb.data, gb.len, true));
  growbuf_truncate(&gb, 0);
  ASSERT_TRUE(join_within(10000));
  ASSERT_NO_FATAL_FAILURE(run_until_online());
  ASSERT_EQ(0, sim_msg_dropped(&gb));
  ASSERT_EQ(1, sim_send(sim, "alice", gb.data, gb.len, true));
  growbuf_truncate(&gb, 0);
  ASSERT_TRUE(join_within(10000));
  sim_market_destroy(market);

  // Every handled type came, each type of the stream at least once at
  // nesting 0 while counting.
  const std::vector<ssproto_observed> s = seen();
  std::map<uint32_t, int> counted;
  std::set<uint32_t> types;
  for (const ssproto_observed& o : s) {
    types.insert(o.type);
    SCOPED_TRACE(testing::Message() << "type " << o.type << " nesting " << o.nesting << " length " << o.used);
    EXPECT_EQ(0u, kProtoUnknownTypes.count(o.type));
    if (o.type == kSimMsgPosition) continue;  // sets the position it reports
    // A saved stream of one instrument (inside a backfill) never counts.
    const bool counts = o.nesting == 0 && o.counting && !o.single && kProtoCountingTypes.count(o.type);
    if (counts) counted[o.type]++;
    if (o.exchange < 0) continue;
    EXPECT_EQ(counts ? uint32_t(o.used) : 0u, o.after - o.before);
  }
  for (uint32_t type = 0; type < 256; type++) {
    if (kProtoUnknownTypes.count(type)) continue;
    EXPECT_EQ(1u, types.count(type)) << "type " << type << " never came";
    if (kProtoCountingTypes.count(type) && type != kSimMsgPosition) {
      EXPECT_LT(0, counted[type]) << "type " << type << " never counted";
    }
  }
  EXPECT_FALSE(log.has("unknown type"));
  // Every message was applied, not only consumed: the one refusal is the
  // side-channel block, for which the terminal registers no subsystem.
  for (const std::string& l : log.lines()) {
    bool refusal = false;
    for (const char* word : {"can't", "mismatch", "ignoring", "failed", "not available"})
      refusal = refusal || l.find(word) != std::string::npos;
    if (refusal) {
      EXPECT_NE(std::string::npos, l.find("can't find subsys #1")) << l;
    }
  }
  EXPECT_EQ(2, sim_get_stats(sim).logins);  // no protocol error made the client sign on again
}

TEST_F(Conformance, EachGapOfTheTypeListIsAnUnknownTypeAndAProtocolError) {
  std::vector<uint32_t> firsts;  // the first type of every gap but 0, which no header can carry
  for (uint32_t t : kProtoUnknownTypes)
    if (t > 0 && !kProtoUnknownTypes.count(t - 1)) firsts.push_back(t);
  ASSERT_EQ(22u, firsts.size());
  for (uint32_t type : firsts) {
    SCOPED_TRACE(type);
    LogCapture log;
    const int32_t logins = sim_get_stats(sim).logins;
    ASSERT_EQ(0, sim_msg_header(&gb, type));
    ASSERT_EQ(1, sim_send(sim, "alice", gb.data, gb.len, false));
    growbuf_truncate(&gb, 0);
    ASSERT_TRUE(wait_for(
        [&] {
          pump();
          return sim_get_stats(sim).logins == logins + 1 && ssclient_is_online();
        },
        10000));
    EXPECT_TRUE(log.has("unknown type " + std::to_string(type) + " ")) << type;
    EXPECT_EQ(1, log.count("proto error"));
  }
  for (const ssproto_observed& o : seen()) EXPECT_EQ(0u, kProtoUnknownTypes.count(o.type)) << o.type;
}

}  // namespace
