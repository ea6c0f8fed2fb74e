// Order priority and firm orders, in the extended model (where orders have
// room for the details) and the standard one (read, checked, not kept): late
// order info by position, waiting records taken up when their order arrives
// (on the stock, or queued for a stock not known yet), the queue emptied per
// exchange at a reset, firm orders applied at the stock's fill, the stale
// block of another stock dropped, backwards and past-the-book positions, and
// a table of malformed blocks (bad type, bad side, text too long, cut short
// at every byte) that never read past the bytes given.
#include "sspriority.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "encode.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

using Bytes = std::vector<uint8_t>;

struct Rec {
  uint32_t position;
  const char* id;  // 8 bytes
  uint32_t number;
  std::string t1, t2;
};

void put(Bytes& b, int n, const uint8_t* tmp) { b.insert(b.end(), tmp, tmp + n); }

void fields(Bytes& b, const Rec& r) {
  uint8_t tmp[300];
  put(b, encode_vint(tmp, r.position), tmp);
  put(b, encode_raw(tmp, r.id, 8), tmp);
  put(b, encode_vint(tmp, r.number), tmp);
  put(b, encode_string(tmp, r.t1.c_str()), tmp);
  put(b, encode_string(tmp, r.t2.c_str()), tmp);
}

Bytes priority(uint8_t type, const char* code, uint8_t side, const Rec& r) {
  Bytes b = {type};
  uint8_t tmp[32];
  put(b, encode_code(tmp, code), tmp);
  b.push_back(side);
  fields(b, r);
  return b;
}

Bytes firm(const std::vector<Rec>& bids, const std::vector<Rec>& offers) {
  Bytes sides[2];
  for (const Rec& r : bids) fields(sides[0], r);
  for (const Rec& r : offers) fields(sides[1], r);
  Bytes b;
  for (const Bytes& s : sides)
    for (int shift = 16; shift >= 0; shift -= 8) b.push_back(uint8_t(s.size() >> shift));
  for (const Bytes& s : sides) b.insert(b.end(), s.begin(), s.end());
  return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class Priority : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    extended = GetParam();
    ASSERT_EQ(0, start_terminal_model(kTerminalModelOptions | (extended ? kOptExtended : 0)));
    asx = ssmodel_exchange(0);
    nzx = ssmodel_exchange(1);
    bhp = ssmodel_get_stock(asx, "BHP");
    // Bid: 100 x2 orders, 99 x1; offer: 101 x1.
    book(bhp, 0, {{100, 2}, {99, 1}});
    book(bhp, 1, {{101, 1}});
  }
  void TearDown() override { ssmodel_fini(); }
  void book(ss_stock* s, int side, std::vector<std::pair<uint32_t, int>> levels) {
    ss_depth_level** link = &s->levels[side];
    for (auto [price, n] : levels) {
      ss_depth_level* l = ssmodel_new_depth_level(price);
      ss_depth_order* o = nullptr;
      for (int i = 0; i < n; i++) o = ssmodel_new_depth_order(10, 0, l, o);
      l->orders = o;
      *link = l;
      link = &l->next;
    }
  }
  ss_depth_order* order(ss_stock* s, int side, int position) {
    int p = 1;
    for (ss_depth_level* l = s->levels[side]; l; l = l->next)
      for (ss_depth_order* o = l->orders; o; o = o->next)
        if (p++ == position) return o;
    return nullptr;
  }
  std::string text1(ss_depth_order* o) { return static_cast<ss_depth_order_ext*>(o)->text1; }
  uint32_t number(ss_depth_order* o) { return static_cast<ss_depth_order_ext*>(o)->number; }
  int decode(ss_exchange* ex, const Bytes& b) { return sspriority_decode(ex, b.data(), int32_t(b.size())); }
  bool extended = false;
  ss_exchange* asx = nullptr;
  ss_exchange* nzx = nullptr;
  ss_stock* bhp = nullptr;
};

TEST_P(Priority, LateInfoByPosition) {
  const std::string sixteen = "ABCDEFGHIJKLMNOP";
  Bytes b = cat({priority(2, "BHP", 0, {3, "IDIDIDID", 77, sixteen, "x"}),
                 priority(2, "BHP", 1, {1, "OFOFOFOF", 5, "offer", ""}),
                 priority(2, "BHP", 1, {2, "PASTPAST", 6, "past", ""})});
  LogCapture log;
  EXPECT_EQ(int(b.size()), decode(asx, b));
  EXPECT_TRUE(log.has("can't find position 2"));
  EXPECT_TRUE(log.has("can't find ASX:BHP order for late order info"));
  if (extended) {
    EXPECT_EQ(sixteen, text1(order(bhp, 0, 3)));  // all 16 characters, terminated
    EXPECT_EQ(77u, number(order(bhp, 0, 3)));
    EXPECT_EQ(0, memcmp("IDIDIDID", static_cast<ss_depth_order_ext*>(order(bhp, 0, 3))->identifier, 8));
    EXPECT_EQ("offer", text1(order(bhp, 1, 1)));
    EXPECT_EQ("", text1(order(bhp, 0, 1)));
  }
  // A stock not known ends the block.
  EXPECT_EQ(-1, decode(asx, priority(2, "RIO", 0, {1, "12345678", 1, "a", "b"})));
  EXPECT_TRUE(log.has("can't find stock ASX:RIO for late order info"));
}

TEST_P(Priority, MalformedBlocksAreRefusedWithinTheirBytes) {
  const Rec ok = {1, "12345678", 1, "a", "b"};
  struct Case {
    const char* name;
    Bytes block;
    int want;
    const char* line;
  } cases[] = {
      {"bad type", priority(3, "BHP", 0, ok), -1, "bad priority type 3"},
      {"bad side", priority(2, "BHP", 2, ok), -1, "bad priority side 2"},
      {"side 255", priority(1, "BHP", 255, ok), -1, "bad priority side 255"},
      {"text of 17", priority(1, "BHP", 0, {1, "12345678", 1, std::string(17, 'x'), ""}), -1, nullptr},
      {"second text of 17", priority(1, "BHP", 0, {1, "12345678", 1, "", std::string(17, 'y')}), -1, nullptr},
  };
  for (const Case& c : cases) {
    LogCapture log;
    // An exact-size heap copy: AddressSanitizer reports any read past it.
    std::vector<uint8_t> exact(c.block);
    EXPECT_EQ(c.want, decode(asx, exact)) << c.name;
    if (c.line) EXPECT_TRUE(log.has(c.line)) << c.name;
  }
  // A good block cut at every byte: incomplete (0) or the records before the cut.
  Bytes one = priority(1, "NEW", 0, ok);
  Bytes two = cat({one, priority(1, "NEW", 1, ok)});
  for (size_t cut = 0; cut < two.size(); cut++) {
    std::vector<uint8_t> part(two.begin(), two.begin() + cut);
    int r = sspriority_decode(asx, part.data(), int32_t(cut));
    EXPECT_EQ(cut < one.size() ? 0 : (cut == one.size() ? int(cut) : 0), r) << cut;
  }
}

TEST_P(Priority, WaitingRecordsTakenUpWhenTheirOrderArrives) {
  // One for BHP (known), two for NEW (not known yet) on ASX, one on NZX.
  Bytes b = cat({priority(1, "BHP", 1, {2, "BHPBHPBH", 11, "bhp", ""}),
                 priority(1, "NEW", 0, {1, "NEWNEWNE", 21, "new bid", ""}),
                 priority(1, "NEW", 1, {1, "NEWOFFER", 22, "new offer", ""})});
  ASSERT_EQ(int(b.size()), decode(asx, b));
  Bytes nz = priority(1, "NEW", 0, {1, "NZNZNZNZ", 31, "nz", ""});
  ASSERT_EQ(int(nz.size()), decode(nzx, nz));
  if (!extended) {
    EXPECT_EQ(0, sspriority_queued());  // read and dropped
    return;
  }
  EXPECT_EQ(3, sspriority_queued());
  ss_stock* fresh = ssmodel_get_stock(asx, "NEW");
  ss_depth_level* l = ssmodel_new_depth_level(50);
  ss_depth_order* bid = ssmodel_new_depth_order(1, 0, l, nullptr);
  ss_depth_order* offer = ssmodel_new_depth_order(1, 0, l, nullptr);
  sspriority_take(fresh, offer, 1, 1);
  EXPECT_EQ("new offer", text1(offer));
  sspriority_take(fresh, bid, 0, 1);
  EXPECT_EQ("new bid", text1(bid));
  EXPECT_EQ(1, sspriority_queued());  // NZX's stays
  // The stock's own record: the offer side at position 2, not the bid.
  ss_depth_order* other = ssmodel_new_depth_order(1, 0, l, nullptr);
  sspriority_take(bhp, other, 0, 2);
  EXPECT_EQ("", text1(other));
  sspriority_take(bhp, other, 1, 2);
  EXPECT_EQ("bhp", text1(other));
  EXPECT_EQ(2u, static_cast<ss_depth_order_ext*>(other)->position);
  // A reset empties the queue of that exchange's records only.
  Bytes xyz = priority(1, "XYZ", 0, {1, "XYZXYZXY", 41, "xyz", ""});
  ASSERT_EQ(int(xyz.size()), decode(asx, xyz));
  EXPECT_EQ(2, sspriority_queued());
  ssmodel_reset_exchange(nzx, 0, 0);
  EXPECT_EQ(1, sspriority_queued());
  ssmodel_reset_exchange(asx, 0, 0);
  EXPECT_EQ(0, sspriority_queued());
  for (ss_depth_order* o : {bid, offer, other}) ssmodel_free_depth_order(o);
  ssmodel_free_depth_level(l);
}

TEST_P(Priority, FirmOrdersAtTheStocksFill) {
  Bytes block = firm({{1, "B1B1B1B1", 1, "bid one", ""}, {3, "B3B3B3B3", 3, "bid three", ""}},
                     {{1, "S1S1S1S1", 9, "offer one", ""}});
  EXPECT_EQ(0, sspriority_apply_firm(bhp));  // nothing held
  ASSERT_EQ(0, sspriority_store_firm(bhp, block.data(), int32_t(block.size())));
  EXPECT_EQ(bhp, sspriority_firm_stock());
  EXPECT_EQ(0, sspriority_apply_firm(bhp));
  EXPECT_EQ(nullptr, sspriority_firm_stock());
  if (extended) {
    EXPECT_EQ("bid one", text1(order(bhp, 0, 1)));
    EXPECT_EQ("", text1(order(bhp, 0, 2)));
    EXPECT_EQ("bid three", text1(order(bhp, 0, 3)));
    EXPECT_EQ("offer one", text1(order(bhp, 1, 1)));
  }
}

TEST_P(Priority, FirmOrderFailures) {
  ss_stock* rio = ssmodel_get_stock(asx, "RIO");
  struct Case {
    const char* name;
    Bytes block;
    ss_stock* fill;
    std::vector<const char*> lines;
  } cases[] = {
      {"stale block of another stock",
       firm({{1, "12345678", 1, "a", ""}}, {}),
       rio,
       {"mixed up ASX:BHP and ASX:RIO firm orders"}},
      {"backwards",
       firm({{3, "12345678", 1, "late", ""}, {2, "12345678", 1, "early", ""}}, {}),
       bhp,
       {"shouldn't be going backwards from 3 to 2", "can't find ASX:BHP B 2 for firm order early",
        "can't decode ASX:BHP firm bid info"}},
      {"past the book",
       firm({}, {{2, "12345678", 1, "far", ""}}),
       bhp,
       {"can't find position 2", "can't find ASX:BHP S 2 for firm order far", "can't decode ASX:BHP firm offer info"}},
  };
  for (const Case& c : cases) {
    LogCapture log;
    ASSERT_EQ(0, sspriority_store_firm(bhp, c.block.data(), int32_t(c.block.size()))) << c.name;
    EXPECT_EQ(-1, sspriority_apply_firm(c.fill)) << c.name;
    for (const char* line : c.lines) EXPECT_TRUE(log.has(line)) << c.name << ": " << line;
    // Dropped either way: the next fill of any stock finds nothing held.
    EXPECT_EQ(nullptr, sspriority_firm_stock()) << c.name;
    EXPECT_EQ(0, sspriority_apply_firm(bhp)) << c.name;
  }
  // Side lengths beyond the block are refused when stored.
  Bytes bad = {0, 0, 9, 0, 0, 0, 1};
  EXPECT_EQ(-1, sspriority_store_firm(bhp, bad.data(), int32_t(bad.size())));
  EXPECT_EQ(nullptr, sspriority_firm_stock());
}

INSTANTIATE_TEST_SUITE_P(Models, Priority, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Extended" : "Standard"; });

}  // namespace
