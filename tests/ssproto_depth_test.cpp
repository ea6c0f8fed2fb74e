// Stock depth, quote and trade messages, from bytes written by hand after
// the wire layouts (not with the simulator's writers): every depth type and
// its offer twin applied to mirrored books, which types move the exchange's
// clock, the tick sizes at their edges, the broker rule, price references,
// tick moves that leave the price range, quotes, trades, error lines, and
// every incomplete prefix of every type.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "log.h"
#include "ssbroker.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "ssproto.h"
#include "sstime.h"
#include "testclient.h"
#include "testlog.h"
#include "testmodel.h"
#include "testwire.h"

namespace {

using namespace testwire;

time_t fixed_wall() { return 1392000000; }  // 2014-02-10: a fixed local clock

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime(nullptr, fixed_wall));

// Whether a line logged since `log` began matches the pattern.
bool matches(const LogCapture& log, const std::string& pattern) {
  std::regex re(pattern);
  for (const std::string& l : log.lines())
    if (std::regex_search(l, re)) return true;
  return false;
}

int no_sleep(int32_t) { return 0; }

// ---------------------------------------------------------------------------
// Books. A price is told as x ticks-worth "better" than a centre, so that
// one description serves both sides: bid price = C + x, offer price = C - x.

constexpr uint32_t kCentre = 10000;  // tick 50 on both sides of it
struct level {
  int32_t x;
  std::vector<uint64_t> orders;
  bool operator==(const level& o) const { return x == o.x && orders == o.orders; }
};
using Book = std::vector<level>;

uint32_t price_of(int side, int32_t x) { return uint32_t(int32_t(kCentre) + (side ? -x : x)); }

std::string show(const Book& b) {
  std::string s;
  for (const level& l : b) {
    s += std::to_string(l.x) + ":[";
    for (size_t i = 0; i < l.orders.size(); i++) s += (i ? "," : "") + std::to_string(l.orders[i]);
    s += "] ";
  }
  return s;
}

Book read_book(const ss_stock* s, int side) {
  Book b;
  for (const ss_depth_level* l = s->levels[side]; l; l = l->next) {
    level v;
    v.x = side ? int32_t(kCentre) - int32_t(l->price) : int32_t(l->price) - int32_t(kCentre);
    uint64_t total = 0;
    for (const ss_depth_order* o = l->orders; o; o = o->next) {
      v.orders.push_back(o->volume);
      total += o->volume;
    }
    EXPECT_EQ(l->count, v.orders.size());
    EXPECT_EQ(l->volume, total);
    b.push_back(v);
  }
  return b;
}

const ss_time kDay = sstime_pack_date(10, 2, 2014);
ss_time at(int h, int mi, int s) { return sstime_pack(s, mi, h, 10, 2, 2014); }

class Depth : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    ssclient_enable_yield(0);
    ssclient_set_sleep_hook(no_sleep);
    ssproto_reset_counters();
    ex = ssmodel_exchange(0);
    ASSERT_NE(nullptr, ex);
    ssmodel_set_date(ex, kDay);
    const Bytes select = {0x00, 52};  // type 52: exchange 0 becomes current
    ASSERT_EQ(2, decode(select));
  }
  void TearDown() override { ssclient_fini(); }

  int decode(const Bytes& b) { return ssproto_decode(b.data(), int32_t(b.size())); }
  int dispatch(const Bytes& b, int32_t nesting = 0) {
    return ssproto_dispatch(b.data(), int32_t(b.size()), nesting, 0, nullptr);
  }

  // A stock as the stream adds it (both queues loaded), with a book.
  ss_stock* stock(const char* code, int side = -1, const Book& book = {}) {
    ss_stock* s = ssmodel_add_stock(ex, code);
    EXPECT_NE(nullptr, s);
    s->flags = 31;
    if (side >= 0) fill(s, side, book);
    return s;
  }
  void fill(ss_stock* s, int side, const Book& book) {
    for (const level& l : book)
      for (uint64_t v : l.orders)
        EXPECT_EQ(0, ssevent_apply_depth_summary(s, 0, side, price_of(side, l.x), v, 1, nullptr));
  }

  ss_exchange* ex = nullptr;
};

// ---------------------------------------------------------------------------
// Every depth type and its offer twin.

// A field of a depth message in side-neutral terms.
struct field {
  enum kind_t { kPrice, kVolume, kByte, kShort } kind;
  int32_t value;  // x for a price
};

Bytes encode_fields(const std::vector<field>& fs, int side) {
  Bytes b;
  for (const field& f : fs) {
    switch (f.kind) {
      case field::kPrice: {
        Bytes p = plain(price_of(side, f.value));
        b.insert(b.end(), p.begin(), p.end());
        break;
      }
      case field::kVolume: {
        Bytes v = vol(uint32_t(f.value));
        b.insert(b.end(), v.begin(), v.end());
        break;
      }
      case field::kByte: b.push_back(uint8_t(f.value)); break;
      case field::kShort:
        b.push_back(uint8_t(f.value >> 8));
        b.push_back(uint8_t(f.value));
        break;
    }
  }
  return b;
}

field P(int32_t x) { return {field::kPrice, x}; }
field V(int32_t v) { return {field::kVolume, v}; }
field B(int32_t v) { return {field::kByte, v}; }
field S(int32_t v) { return {field::kShort, v}; }

// The book every case starts from: 0:[100,200] -50:[350] -100:[400,500]
// (prices 10000, 9950, 9900 on the bid side; 10000, 10050, 10100 on the
// offer side). Before it, an amend of each side set the side's last amended
// volume to 350.
const Book kStart = {{0, {100, 200}}, {-50, {300}}, {-100, {400, 500}}};

struct twin_case {
  uint32_t bid_type;
  std::vector<field> fields;
  Book bid;    // the book after the bid message
  Book offer;  // the book after its offer twin
  bool offset;  // the type moves the exchange's clock
};

const std::vector<twin_case>& twin_cases() {
  static const std::vector<twin_case> cases = [] {
    std::vector<twin_case> c = {
        // 1: one order at the price given.
        {1, {P(-25), V(600)}, {{0, {100, 200}}, {-25, {600}}, {-50, {350}}, {-100, {400, 500}}}, {}, false},
        {1, {P(-50), V(600)}, {{0, {100, 200}}, {-50, {350, 600}}, {-100, {400, 500}}}, {}, false},
        // 2, 32: one and two ticks better than the top; 3: at the top.
        {2, {V(600)}, {{50, {600}}, {0, {100, 200}}, {-50, {350}}, {-100, {400, 500}}}, {}, true},
        {32, {V(600)}, {{100, {600}}, {0, {100, 200}}, {-50, {350}}, {-100, {400, 500}}}, {}, true},
        {3, {V(600)}, {{0, {100, 200, 600}}, {-50, {350}}, {-100, {400, 500}}}, {}, true},
        // 4: the head's volume; 5: the head gets the last amended volume.
        {4, {V(700)}, {{0, {700, 200}}, {-50, {350}}, {-100, {400, 500}}}, {}, true},
        {5, {}, {{0, {350, 200}}, {-50, {350}}, {-100, {400, 500}}}, {}, true},
        // 36, 38: amend by byte and 16-bit position.
        {36, {B(4), V(800)}, {{0, {100, 200}}, {-50, {350}}, {-100, {800, 500}}}, {}, false},
        {38, {S(5), V(900)}, {{0, {100, 200}}, {-50, {350}}, {-100, {400, 900}}}, {}, false},
        // 6: the head goes; 7, 34: by position.
        {6, {}, {{0, {200}}, {-50, {350}}, {-100, {400, 500}}}, {}, true},
        {7, {B(3)}, {{0, {100, 200}}, {-100, {400, 500}}}, {}, false},
        {34, {S(5)}, {{0, {100, 200}}, {-50, {350}}, {-100, {400}}}, {}, false},
        // 8, 9: the head replaced at a price (its volume kept, or given); it
        // goes to the end of its price level.
        {8, {P(-100)}, {{0, {200}}, {-50, {350}}, {-100, {400, 500, 100}}}, {}, true},
        {9, {P(25), V(650)}, {{25, {650}}, {0, {200}}, {-50, {350}}, {-100, {400, 500}}}, {}, true},
        {9, {P(0), V(650)}, {{0, {200, 650}}, {-50, {350}}, {-100, {400, 500}}}, {}, true},
    };
    for (twin_case& t : c) t.offer = t.bid;  // mirrored: the same in side-neutral terms
    // 10-13 move the top up or down whatever the side: +1 tick is better for
    // a bid and worse for an offer.
    const Book up = {{50, {100}}, {0, {200}}, {-50, {350}}, {-100, {400, 500}}};
    const Book up_vol = {{50, {650}}, {0, {200}}, {-50, {350}}, {-100, {400, 500}}};
    const Book down = {{0, {200}}, {-50, {350, 100}}, {-100, {400, 500}}};
    const Book down_vol = {{0, {200}}, {-50, {350, 650}}, {-100, {400, 500}}};
    c.push_back({10, {}, up, down, true});
    c.push_back({11, {V(650)}, up_vol, down_vol, true});
    c.push_back({12, {}, down, up, true});
    c.push_back({13, {V(650)}, down_vol, up_vol, true});
    return c;
  }();
  return cases;
}

uint32_t twin_of(uint32_t bid_type) { return bid_type <= 13 ? bid_type + 13 : bid_type + 1; }

TEST_F(Depth, EveryTypeAndItsOfferTwinOnMirroredBooks) {
  const ss_time late = sstime_add_seconds(sstime_now(), 3600);  // an hour ahead of the local clock
  std::vector<uint32_t> seen;
  for (const twin_case& c : twin_cases()) {
    for (int side = 0; side < 2; side++) {
      const uint32_t type = side ? twin_of(c.bid_type) : c.bid_type;
      SCOPED_TRACE(testing::Message() << "type " << type);
      TearDown();
      SetUp();
      ss_stock* s = stock("ABC", side, kStart);
      ASSERT_EQ(0, ssevent_amend_depth(s, 0, side, 3, 350));  // also the side's last amended volume
      ex->delta = 0;
      const Bytes msg = cat({header(type, "ABC", late), encode_fields(c.fields, side)});
      ASSERT_EQ(int(msg.size()), decode(msg));
      const Book want = side ? c.offer : c.bid;
      EXPECT_EQ(show(want), show(read_book(s, side)));
      EXPECT_EQ(price_of(side, want.front().x), side ? s->offer : s->bid);
      EXPECT_EQ(0u, side ? s->bid : s->offer) << "the other side is untouched";
      // The offset types move the clock one second towards the stamp.
      EXPECT_EQ(c.offset ? 1 : 0, ex->delta);
      seen.push_back(type);
    }
  }
  // Every depth type of both sides was covered.
  for (uint32_t t = 1; t <= 39; t++) {
    if (t >= 27 && t <= 31) continue;  // quote, trades and the index tick
    EXPECT_NE(seen.end(), std::find(seen.begin(), seen.end(), t)) << t;
  }
}

// The clock moves only for a message read from the live stream itself, and
// never for quotes, trades or the types 1, 7 and 34 to 39.
TEST_F(Depth, TimeOffsetFollowsOnlyTheLiveDepthTypesThatMoveIt) {
  const ss_time late = sstime_add_seconds(sstime_now(), 3600);
  ss_stock* s = stock("ABC", 0, kStart);
  fill(s, 1, kStart);
  s->last = 10000;
  struct row {
    Bytes msg;
    int32_t nesting;
    int moved;
  };
  const std::vector<row> rows = {
      {cat({header(3, "ABC", late), vol(100)}), 0, 1},
      {cat({header(3, "ABC", late), vol(100)}), 1, 0},  // inside a block
      {cat({header(3, "ABC", 0), vol(100)}), 0, 0},     // no stamp
      {cat({header(1, "ABC", late), plain(9000), vol(100)}), 0, 0},
      {cat({header(28, "ABC", late), {0x10}, plain(10000)}), 0, 0},
      {cat({header(29, "ABC", late), plain(10000), vol(100)}), 0, 0},
      {cat({header(30, "ABC", late), vol(100)}), 0, 0},
      {cat({header(39, "ABC", late), {0, 1}, vol(100)}), 0, 0},
  };
  for (size_t i = 0; i < rows.size(); i++) {
    SCOPED_TRACE(i);
    ex->delta = 0;
    ASSERT_EQ(int(rows[i].msg.size()), dispatch(rows[i].msg, rows[i].nesting));
    EXPECT_EQ(rows[i].moved, ex->delta);
  }
  // Saved data read again leaves the clock alone.
  ex->delta = 0;
  ssproto_set_replay();
  const Bytes again = cat({header(3, "ABC", late), vol(100)});
  EXPECT_EQ(int(again.size()), dispatch(again));
  ssproto_set_live();
  EXPECT_EQ(0, ex->delta);
}

// ---------------------------------------------------------------------------
// Ticks

TEST_F(Depth, TickSizesAtTheirEdges) {
  struct row {
    uint32_t type;  // 2 bid one tick better, 15 offer one tick better, 32/33 two ticks
    uint32_t top;
    uint32_t want;
  };
  const row rows[] = {
      {2, 19999, 20049},   {2, 20000, 20100},   {2, 199999, 200099}, {2, 200000, 201000},
      {2, 19950, 20000},   {15, 20000, 19900},  {15, 19999, 19949},  {15, 200000, 199000},
      {15, 200100, 199100}, {32, 19999, 20099}, {33, 20000, 19800},  {33, 200000, 198000},
  };
  int n = 0;
  for (const row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.type << " at " << r.top);
    const int side = r.type == 2 || r.type == 32 ? 0 : 1;
    char code[4] = {char('A' + n / 26), char('A' + n % 26), 'Q', 0};
    n++;
    ss_stock* s = stock(code);
    ASSERT_EQ(0, ssevent_apply_depth_summary(s, 0, side, r.top, 100, 1, nullptr));
    const Bytes msg = cat({header(r.type, code, at(10, 0, 0)), vol(300)});
    ASSERT_EQ(int(msg.size()), decode(msg));
    EXPECT_EQ(r.want, side ? s->offer : s->bid);
    EXPECT_EQ(r.want, s->levels[side]->price);
    EXPECT_EQ(300u, s->levels[side]->volume);
  }
}

// Type 12 lowers the top offer by a tick (a better offer), type 10 raises it;
// each takes the tick of the top it starts from.
TEST_F(Depth, ChangeTopTicksOnTheOfferSide) {
  ss_stock* s = stock("ABC");
  ASSERT_EQ(0, ssevent_apply_depth_summary(s, 0, 1, 20000, 100, 1, nullptr));
  ASSERT_EQ(0, ssevent_apply_depth_summary(s, 0, 1, 20500, 200, 1, nullptr));
  const Bytes down = header(25, "ABC", at(10, 0, 0));  // offer twin of 12
  ASSERT_EQ(int(down.size()), decode(down));
  EXPECT_EQ(19900u, s->offer);  // tick 100 at 20000
  const Bytes up = header(23, "ABC", at(10, 0, 1));  // offer twin of 10
  ASSERT_EQ(int(up.size()), decode(up));
  EXPECT_EQ(19950u, s->offer);  // tick 50 at 19900
  EXPECT_EQ(100u, s->levels[1]->volume);
}

// A tick move from an empty side, from a top of "no price", or past either
// end of the price range is bad data: the message fails with the trace and
// the book is as it was, so the link starts over.
TEST_F(Depth, TickMovesThatLeaveThePriceRangeAreBadData) {
  struct row {
    const char* what;
    uint32_t type;
    int side;
    uint32_t top;  // 0: empty side
    bool volume;
  };
  const row rows[] = {
      {"bid better on an empty side", 2, 0, 0, true},
      {"offer better on an empty side", 15, 1, 0, true},
      {"at the top of an empty side", 3, 0, 0, true},
      {"change top up on an empty side", 10, 0, 0, false},
      {"offer one tick better from 50", 15, 1, 50, true},
      {"offer two ticks better from 100", 33, 1, 100, true},
      {"offer two ticks better from 50", 33, 1, 50, true},
      {"bid top down from 50", 12, 0, 50, false},
      {"offer top down from 50", 25, 1, 50, false},
      {"bid top up past the range", 11, 0, 0xFFFFFF00u, true},
      {"bid top of no price", 2, 0, kNoPrice, true},
  };
  int n = 0;
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    char code[4] = {char('A' + n), 'W', 'X', 0};
    n++;
    ss_stock* s = stock(code);
    if (r.top == kNoPrice) {
      ASSERT_EQ(0, ssevent_apply_depth_summary(s, 0, r.side, 10000, 100, 1, nullptr));
      (r.side ? s->offer : s->bid) = kNoPrice;
    } else if (r.top) {
      ASSERT_EQ(0, ssevent_apply_depth_summary(s, 0, r.side, r.top, 100, 1, nullptr));
    }
    const Book before = read_book(s, r.side);
    const Bytes msg = r.volume ? cat({header(r.type, code, at(10, 0, 0)), vol(300)}) : header(r.type, code, at(10, 0, 0));
    LogCapture log;
    EXPECT_EQ(-1, decode(msg));
    EXPECT_TRUE(matches(log, R"(^\(line \d+\) )" + std::to_string(r.type) + " ASX ")) << r.type;
    EXPECT_EQ(show(before), show(read_book(s, r.side)));
    EXPECT_EQ(r.top, r.side ? s->offer : s->bid);
  }
}

// ---------------------------------------------------------------------------
// Brokers

TEST_F(Depth, BrokerFieldFollowsTheExchangeAndTheStocksDepthKind) {
  // A learnt broker, packed: 1nnn with n = 3, then X(24) Y(25) Z(26) in five
  // bits each and zero bits to the byte: 1011 11000 11001 11010 00000.
  const Bytes xyz = {0xBC, 0x67, 0x40};
  const Bytes head = header(1, "ABC", at(10, 0, 0));
  const Bytes plain_msg = cat({head, plain(10000), vol(100)});
  const Bytes broker_msg = cat({plain_msg, xyz});

  // Without the exchange's broker flag: price and volume only.
  ex->flags &= ~kExBrokers;
  ss_stock* s = stock("ABC");
  EXPECT_EQ(int(plain_msg.size()), dispatch(broker_msg));
  EXPECT_EQ(nullptr, ssbroker_find("XYZ"));

  // With it: the broker follows and reaches the broker table.
  ssmodel_exchange_set_flags(ex, kExBrokers);
  EXPECT_EQ(0, dispatch(plain_msg)) << "the broker is still to come";
  EXPECT_EQ(int(broker_msg.size()), dispatch(broker_msg));
  EXPECT_NE(nullptr, ssbroker_find("XYZ"));
  EXPECT_EQ(2u, s->levels[0]->count);

  // A stock whose depth is kept as level totals carries no broker.
  ss_stock* t = stock("ABD");
  ssevent_set_out_of_order(t);
  const Bytes summary = cat({header(1, "ABD", at(10, 0, 0)), plain(10000), vol(100)});
  EXPECT_EQ(int(summary.size()), dispatch(cat({summary, xyz})));
  EXPECT_EQ(1u, t->levels[0]->count);
  // Nor do its trades: they are applied without buyer and seller.
  const Bytes bare_trade = cat({header(29, "ABD", at(10, 0, 0)), plain(10000), vol(100)});
  EXPECT_EQ(int(bare_trade.size()), dispatch(cat({bare_trade, {0x03}, xyz})));
  EXPECT_EQ(1u, t->trades.count);
  EXPECT_EQ(10000u, t->last);

  // A built-in broker is one byte, its id.
  const Bytes builtin = cat({header(3, "ABC", at(10, 0, 1)), vol(50), {0x03}});
  EXPECT_EQ(int(builtin.size()), dispatch(builtin));
  EXPECT_EQ(3u, s->levels[0]->count);

  // Trades carry a buyer and a seller.
  const Bytes trade = cat({header(29, "ABC", at(10, 0, 2)), plain(10000), vol(100), {0x03}, xyz});
  EXPECT_EQ(int(trade.size()), dispatch(trade));
  ex->flags &= ~kExBrokers;
  EXPECT_EQ(int(trade.size()) - 4, dispatch(trade)) << "no brokers without the flag";
}

// ---------------------------------------------------------------------------
// Price references

TEST_F(Depth, PriceReferences) {
  ss_stock* s = stock("ABC");
  s->price_ref = 9900;
  // Type 1 reads against the stock's reference (up 2 steps of 5 tenths of a
  // cent: 0x82) and moves it.
  Bytes m = cat({header(1, "ABC", at(10, 0, 0)), {0x82}, vol(100)});
  ASSERT_EQ(int(m.size()), decode(m));
  EXPECT_EQ(10000u, s->bid);
  EXPECT_EQ(10000u, s->price_ref);
  // Type 9 reads against a copy of the top (down 1 step of 10: 0xC1) and
  // leaves the reference.
  s->price_ref = 5000;
  m = cat({header(9, "ABC", at(10, 0, 1)), {0xC1}, vol(200)});
  ASSERT_EQ(int(m.size()), decode(m));
  EXPECT_EQ(9900u, s->bid);
  EXPECT_EQ(5000u, s->price_ref);
  // A message that ends inside its fields leaves the reference as it was.
  m = cat({header(1, "ABC", at(10, 0, 2)), {0x85}});
  ASSERT_EQ(0, decode(m));
  EXPECT_EQ(5000u, s->price_ref);
  // Quotes and trades read against it too.
  m = cat({header(28, "ABC", at(10, 0, 3)), {0x10}, {0x8A}});  // last: up 10 steps of 5 from 5000
  ASSERT_EQ(int(m.size()), decode(m));
  EXPECT_EQ(5500u, s->last);
  EXPECT_EQ(5500u, s->price_ref);
  m = cat({header(29, "ABC", at(10, 0, 4)), {0xC2}, vol(300)});  // down 2 steps of 5
  ASSERT_EQ(int(m.size()), decode(m));
  EXPECT_EQ(5400u, s->last);
  EXPECT_EQ(5400u, s->price_ref);
}

// ---------------------------------------------------------------------------
// Quotes and trades

int g_owner;
std::vector<std::pair<uint32_t, uint32_t>> g_changes;  // mask, event kinds in order
void on_change(const ss_change* c, void*, uint64_t, uint32_t) {
  if (!c->instrument) return;
  for (uint32_t i = 0; i < c->count; i++) g_changes.push_back({c->mask, c->events[i]->kind});
  if (c->count == 0) g_changes.push_back({c->mask, 0});
}

TEST_F(Depth, Quotes) {
  ss_stock* s = stock("ABC");
  s->close = 1;
  s->open = 2;
  // Each flag bit brings its price, in the order close, open, high, low, last.
  const Bytes all = cat({header(28, "ABC", at(10, 0, 0)), {0x1F}, plain(9000), plain(9100), plain(9500),
                         plain(8900), plain(9300)});
  ASSERT_EQ(int(all.size()), decode(all));
  EXPECT_EQ((std::vector<uint32_t>{9000, 9100, 9500, 8900, 9300}),
            (std::vector<uint32_t>{s->close, s->open, s->high, s->low, s->last}));
  // Only high and last.
  const Bytes some = cat({header(28, "ABC", at(10, 0, 1)), {0x14}, plain(9600), plain(9550)});
  ASSERT_EQ(int(some.size()), decode(some));
  EXPECT_EQ((std::vector<uint32_t>{9000, 9100, 9600, 8900, 9550}),
            (std::vector<uint32_t>{s->close, s->open, s->high, s->low, s->last}));
  // No flags: nothing new, and still a message.
  ssproto_counter before[kProtoCounterPairs], after[kProtoCounterPairs];
  ssproto_get_counters(before);
  const Bytes none = cat({header(28, "ABC", at(10, 0, 2)), {0x00}});
  ASSERT_EQ(int(none.size()), decode(none));
  ssproto_get_counters(after);
  EXPECT_EQ(before[0].second + 1, after[0].second);
  EXPECT_EQ(9550u, s->last);
}

TEST_F(Depth, TradesAndTheirChangeBit) {
  ASSERT_EQ(0, ssnotify_add_wild(0xffffffffu, on_change, &g_owner, 0, 0));
  g_changes.clear();
  ss_stock* s = stock("ABC");
  const Bytes t1 = cat({header(29, "ABC", at(10, 0, 0)), plain(10000), vol(300)});
  const Bytes t2 = cat({header(30, "ABC", at(10, 0, 5)), vol(700)});
  ASSERT_EQ(int(t1.size() + t2.size()), decode(cat({t1, t2})));
  EXPECT_EQ(2u, s->trades.count);
  EXPECT_EQ(10000u, s->trades.tail->price) << "30 trades at the last price";
  EXPECT_EQ(700u, s->trades.tail->volume);
  EXPECT_EQ(1000u, s->volume);
  EXPECT_EQ(10000u, s->open);
  EXPECT_EQ(10000u, s->high);
  EXPECT_EQ(at(10, 0, 5), s->last_trade_time);
  ssnotify_deliver();
  ASSERT_EQ(2u, g_changes.size());
  for (auto& c : g_changes) {
    EXPECT_EQ(kChangeTrade, c.first & kChangeTrade);
    EXPECT_EQ(kEvTrade, c.second);
  }
  ssnotify_remove_wild(&g_owner);
}

// ---------------------------------------------------------------------------
// Failures

TEST_F(Depth, EventFailuresLogTheirLine) {
  struct row {
    Bytes msg;
    std::vector<std::string> lines;
  };
  stock("ABC", 0, kStart);  // five bid orders, no offers; both sides loaded
  const std::vector<row> rows = {
      {cat({header(7, "ABC", at(10, 0, 0)), {9}}), {"can't delete ASX ABC depth 9", "length 5"}},
      {cat({header(34, "ABC", at(10, 0, 0)), {0, 9}}), {"can't delete ASX ABC depth 9"}},
      {header(19, "ABC", at(10, 0, 0)), {"can't delete ASX ABC depth top"}},
      {cat({header(17, "ABC", at(10, 0, 0)), vol(100)}), {"can't amend ASX ABC depth head"}},
      {cat({header(39, "ABC", at(10, 0, 0)), {0, 2}, vol(100)}), {"can't amend ASX ABC depth 2"}},
      {cat({header(21, "ABC", at(10, 0, 0)), plain(9000)}), {"can't change top ASX ABC depth"}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.lines.front());
    LogCapture log;
    EXPECT_EQ(-1, decode(r.msg));
    for (const std::string& l : r.lines) EXPECT_EQ(1, log.count(l)) << l;
    EXPECT_TRUE(matches(log, R"(^\(line \d+\) \d+ ASX ")"));
  }
}

// Every prefix of every type is incomplete: 0, with the book, the stock's
// reference and the stream position as they were.
TEST_F(Depth, EveryPrefixOfEveryTypeIsIncomplete) {
  ss_stock* s = stock("ABC", 0, kStart);
  fill(s, 1, kStart);
  s->last = 10000;
  s->price_ref = 10000;
  ssmodel_exchange_set_flags(ex, kExBrokers);
  std::vector<Bytes> msgs;
  for (const twin_case& c : twin_cases())
    for (int side = 0; side < 2; side++) {
      const uint32_t type = side ? twin_of(c.bid_type) : c.bid_type;
      Bytes m = cat({header(type, "ABC", at(10, 0, 0)), encode_fields(c.fields, side)});
      const bool has_broker = c.fields.empty() ? (c.bid_type == 10 || c.bid_type == 12)
                                               : !(c.bid_type == 4 || c.bid_type == 36 || c.bid_type == 38 ||
                                                   c.bid_type == 7 || c.bid_type == 34);
      if (has_broker) m.push_back(0x03);
      msgs.push_back(m);
    }
  msgs.push_back(cat({header(28, "ABC", at(10, 0, 0)), {0x1F}, plain(1), plain(2), plain(3), plain(4), plain(5)}));
  msgs.push_back(cat({header(29, "ABC", at(10, 0, 0)), plain(10000), vol(100), {0x03, 0x04}}));
  msgs.push_back(cat({header(30, "ABC", at(10, 0, 0)), vol(100), {0x03, 0x04}}));
  const Bytes proceeding = {0x00, 49, 0, 0, 0, 0, 0, 0, 0, 0};  // counting on
  ASSERT_EQ(int(proceeding.size()), decode(proceeding));
  ssproto_set_exchange_position(0, 0);
  for (const Bytes& m : msgs) {
    const std::string bids = show(read_book(s, 0)), offers = show(read_book(s, 1));
    for (size_t k = 1; k < m.size(); k++) {
      SCOPED_TRACE(testing::Message() << "type " << int(m[0] & 0x1F ? m[0] & 0x1F : m[1]) << " prefix " << k);
      ASSERT_EQ(0, ssproto_decode(m.data(), int32_t(k)));
      EXPECT_EQ(10000u, s->price_ref);
      EXPECT_EQ(bids, show(read_book(s, 0)));
      EXPECT_EQ(offers, show(read_book(s, 1)));
      EXPECT_EQ(0u, ssproto_exchange_position(0));
    }
  }
}

}  // namespace
