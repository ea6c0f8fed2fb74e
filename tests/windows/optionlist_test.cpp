// The option list: the match rule over every combination of filter bits,
// option kind, attributes, moneyness and expiry against a plain reference
// written from the rules; comparators with field gaps above 2^31; and a
// live list over the model (underlying code prefix, expiry cut, order).
#include "windows/optionlist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gridtest.h"
#include "sstime.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

using Options = Grid;

// The rules as a reader states them, one by one.
bool reference_match(uint32_t filter, uint32_t kind, uint32_t ref, uint32_t strike, int expiry_case) {
  bool call = kind & 0x2, put = kind & 0x4;
  if (call && !(filter & 0x1)) return false;
  if (put && !(filter & 0x2)) return false;
  if (!call && !put && !(filter & 0x4)) return false;
  if ((kind & 0x10) && !(filter & 0x10)) return false;
  if ((kind & 0x8) && !(filter & 0x20)) return false;
  // 0x800 asks for open interest, which the model does not carry: no effect.
  bool all3 = (filter & 0x100) && (filter & 0x200) && (filter & 0x400);
  if (!all3) {
    bool pass = false;
    if ((filter & 0x100) && ((call && ref > strike) || (put && ref < strike))) pass = true;
    if ((filter & 0x200) && ((call && ref < strike) || (put && ref > strike))) pass = true;
    if ((filter & 0x400) && strike == ref) pass = true;
    if (!pass) return false;
  }
  // 0: no expiry; 1: expired yesterday; 2: today; 3: within the limit; 4: past it.
  return expiry_case != 1 && expiry_case != 4;
}

TEST_F(Options, MatchAgainstTheReference) {
  ex0->date = sstime_pack_date(15, 6, 2026);
  ss_stock *under = stock("BHP");
  under->last = 5000;
  auto *o = static_cast<optionlist *>(optionlist_new(root));
  optionlist_set_underlying(o, under);
  o->reference_price = 5000;
  o->expiry_limit = sstime_pack_date(15, 9, 2026);
  const ss_time expiries[5] = {0, sstime_pack_date(14, 6, 2026), sstime_pack_date(15, 6, 2026),
                               sstime_pack_date(1, 8, 2026), sstime_pack_date(1, 12, 2026)};
  const uint32_t kinds[] = {0x2, 0x4, 0x0, 0x2 | 0x8, 0x4 | 0x10, 0x2 | 0x8 | 0x10};
  const uint32_t strikes[] = {4000, 5000, 6000};
  const uint32_t bits[] = {0x1, 0x2, 0x4, 0x10, 0x20, 0x100, 0x200, 0x400, 0x800};
  ss_stock *c = stock("BHPZZ9");
  int checked = 0, passed = 0;
  for (uint32_t combo = 0; combo < (1u << 9); combo++) {
    uint32_t filter = 0;
    for (int b = 0; b < 9; b++)
      if (combo >> b & 1) filter |= bits[b];
    o->filter = filter;
    for (uint32_t kind : kinds)
      for (uint32_t strike : strikes)
        for (int e = 0; e < 5; e++) {
          ssmodel_set_option(c, "BHP", kind, expiries[e], strike, 1000);
          bool want = reference_match(filter, kind, 5000, strike, e);
          ASSERT_EQ(optionlist_match(o, c) != 0, want)
              << "filter " << std::hex << filter << " kind " << kind << std::dec << " strike " << strike
              << " expiry case " << e;
          checked++;
          passed += want;
        }
  }
  EXPECT_GT(passed, checked / 50) << "the table exercises passing cases too";
  // Only stocks pass, and only with an underlying.
  EXPECT_EQ(optionlist_match(o, nullptr), 0);
  optionlist_set_underlying(o, nullptr);
  o->filter = 0xFFFF;
  EXPECT_EQ(optionlist_match(o, c), 0);
}

TEST_F(Options, AtTheMoneyAloneShowsOnlyTheStrikeAtTheReference) {
  ss_stock *under = stock("BHP");
  auto *o = static_cast<optionlist *>(optionlist_new(root));
  optionlist_set_underlying(o, under);
  o->reference_price = 5000;
  o->filter = 0x1 | 0x2 | 0x400;
  ss_stock *c = stock("BHPC1");
  for (uint32_t strike : {4999u, 5000u, 5001u}) {
    ssmodel_set_option(c, "BHP", 0x2, 0, strike, 1);
    EXPECT_EQ(optionlist_match(o, c) != 0, strike == 5000) << strike;
  }
}

TEST_F(Options, UndoRestoresTheSettings) {
  auto *o = static_cast<optionlist *>(optionlist_new(root));
  ASSERT_EQ(undo_push_optionlist(o), 0);
  optionlist_set_filter_bits(o, 0x200, 1);
  optionlist_set_max_expiry_months(o, 6);
  optionlist_set_order(o, 3);
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(optionlist_get_filter(o), 0xFD3Bu);
  EXPECT_EQ(optionlist_get_max_expiry_months(o), 0u);
  EXPECT_EQ(optionlist_get_order(o), 1u);
}

TEST_F(Options, ComparatorsAreThreeWayAboveTwoToThe31) {
  ss_stock *a = stock("BHPA"), *b = stock("BHPB");
  auto *o = static_cast<optionlist *>(optionlist_new(root));
  const uint32_t lo = 1, hi = 0xF0000000u;
  struct row {
    uint32_t order;
    uint32_t a_kind, a_exp, a_strike, b_kind, b_exp, b_strike;
    uint32_t ref;
    int want;  // sign: -1 a first
  } rows[] = {
      {1, 2, lo, 7, 2, hi, 7, 0, -1},   // earlier expiry first, gap above 2^31
      {1, 2, hi, 7, 2, lo, 7, 0, 1},
      {1, 2, 5, lo, 2, 5, hi, 0, 1},    // same expiry: higher strike first
      {2, 2, 0, hi, 2, 0, lo, 0, -1},
      {2, 2, 0, lo, 2, 0, hi, 0, 1},
      {2, 2, 0, 9, 2, 0, 9, 0, 0},
      // In the money: a call's reference minus strike, a put's strike minus reference.
      {3, 2, 0, lo, 2, 0, hi, 0xF0000001u, -1},
      {3, 4, 0, hi, 4, 0, lo, 0x80000000u, -1},
      {3, 4, 0, lo, 2, 0, lo, 0xF0000000u, 1},
  };
  for (const row &r : rows) {
    ssmodel_set_option(a, "BHP", r.a_kind, r.a_exp, r.a_strike, 1);
    ssmodel_set_option(b, "BHP", r.b_kind, r.b_exp, r.b_strike, 1);
    o->reference_price = r.ref;
    optionlist_compare_fn fn = optionlist_comparator(r.order);
    ASSERT_NE(fn, nullptr) << r.order;
    int got = fn(a, b, o, nullptr);
    EXPECT_EQ((got > 0) - (got < 0), r.want) << "order " << r.order << " row a " << r.a_strike;
    int back = fn(b, a, o, nullptr);
    EXPECT_EQ((back > 0) - (back < 0), -r.want) << "antisymmetric, order " << r.order;
  }
  EXPECT_EQ(optionlist_comparator(0), nullptr) << "the scan's own order";
  EXPECT_EQ(optionlist_comparator(4), nullptr) << "the scan's own order";
}

TEST_F(Options, LiveListByUnderlyingPrefixExpiryAndOrder) {
  ex0->date = sstime_now();
  ss_stock *under = stock("BHPX");  // more than three characters: options by "BHP"
  under->last = 5000;
  struct opt {
    const char *code;
    uint32_t kind;
    int months;  // expiry months from now; -1 expired
    uint32_t strike;
  } opts[] = {
      {"BHPKA1", 0x2, 1, 4500}, {"BHPKA2", 0x2, 1, 5500}, {"BHPKB1", 0x4, 2, 5200},
      {"BHPKC1", 0x2, 5, 4800}, {"BHPKD1", 0x2, -1, 4000}, {"RIOKA1", 0x2, 1, 4000},
  };
  for (const opt &p : opts) {
    ss_stock *s = stock(p.code);
    ss_time exp = p.months < 0 ? sstime_add_months(ex0->date, -1) : sstime_add_months(ex0->date, p.months);
    ssmodel_set_option(s, p.code[0] == 'R' ? "RIO" : "BHP", p.kind, exp, p.strike, 1000);
    s->volume = 10;
    s->last = 100;
  }
  auto *o = static_cast<optionlist *>(optionlist_new(root));
  o->r = {0, 0, 900, 400};
  optionlist_set_max_expiry_months(o, 3);
  optionlist_set_filter(o, 0xFD3B | 0x200);  // out of the money too
  optionlist_set_underlying(o, under);
  widget_show(o);
  scan *s = watchlist_get_scan(o);
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s->underlying, "BHP");
  EXPECT_EQ(s->instr_filter, kScanDerivatives);
  EXPECT_EQ(s->exchanges[0], 1);
  EXPECT_EQ(s->exchanges[1], 0);
  scan_refresh_now(s);
  std::vector<std::string> got;
  for (watchlist_row *r = o->rows; r; r = r->next) got.push_back(r->in->code);
  // Expiry first (ascending), then the strike (descending); the expired and
  // the five-month option left out, and the other underlying's.
  EXPECT_EQ(got, (std::vector<std::string>{"BHPKA2", "BHPKA1", "BHPKB1"}));
  EXPECT_EQ(o->reference_price, 5000u) << "the prepare hook";
  // Strike order alone.
  optionlist_set_order(o, 2);
  scan_refresh_now(watchlist_get_scan(o));
  got.clear();
  for (watchlist_row *r = o->rows; r; r = r->next) got.push_back(r->in->code);
  EXPECT_EQ(got, (std::vector<std::string>{"BHPKA2", "BHPKB1", "BHPKA1"}));
  widget_hide(o);
}

}  // namespace
