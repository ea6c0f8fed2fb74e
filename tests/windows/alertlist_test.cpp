// The alert list: default triggers (the rounding table, a basis at or below
// the delta, 64-bit products), one alert per instrument, an evaluation
// sequence delivered through the model's change recording with the fired
// times, distances and exactly one ticker post per trigger, the filters and
// the nearness order with ties, the code parser, and the configuration
// round trip.
#include "windows/alertlist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/config.h"
#include "listsmodel.h"
#include "ssnotify.h"
#include "undo.h"

namespace {

struct Post {
  char kind;  // 'L', 'H', 'V', 'N', 'S' (seen)
  instr *in;
  uint64_t value;
};
std::vector<Post> g_posts;
int g_changed;

int post_low(instr *in, uint32_t p) { return g_posts.push_back({'L', in, p}), 0; }
int post_high(instr *in, uint32_t p) { return g_posts.push_back({'H', in, p}), 0; }
int post_volume(instr *in, uint64_t v) { return g_posts.push_back({'V', in, v}), 0; }
int post_news(instr *in, ss_news *n) { return g_posts.push_back({'N', in, n ? n->number : 0}), 0; }
int post_seen(instr *in) { return g_posts.push_back({'S', in, 0}), 0; }
void changed() { g_changed++; }
const alerts_screen_hooks kHooks = {post_low, post_high, post_volume, post_news, post_seen, changed};

int32_t g_default_exchange = 0;
int32_t default_exchange() { return g_default_exchange; }

class Alerts : public ListsTest {
 protected:
  void SetUp() override {
    ListsTest::SetUp();
    ASSERT_EQ(0, alerts_init());
    alerts_set_screen_hooks(&kHooks);
    alerts_set_default_exchange_query(default_exchange);
    alerts_set_default_movement(5);
    alerts_set_default_news(0);
    g_posts.clear();
    g_changed = 0;
    g_default_exchange = 0;
  }
  void TearDown() override {
    undo_fini();  // releases what the tests recorded
    alerts_fini();
    alerts_set_screen_hooks(nullptr);
    alerts_set_default_exchange_query(nullptr);
    ListsTest::TearDown();
  }
  // Records a trade-like change on the instrument and delivers it, as the
  // io thread and the main timer do.
  static void deliver(instr *in, uint32_t bits = kChangeTrade) {
    ASSERT_EQ(0, ssnotify_record(in, bits, nullptr));
    ASSERT_EQ(0, ssnotify_deliver());
  }
  static std::string posts() {
    std::string s;
    for (const Post &p : g_posts) s += p.kind + std::to_string(p.value) + " ";
    return s;
  }
};

TEST_F(Alerts, DefaultTriggers) {
  const uint32_t no = kAlertNoPrice;
  struct Row {
    uint32_t basis;
    int32_t pct;
    uint32_t low, high;
  } rows[] = {
      {250, 5, 240, 260},     // v 1250: (12 + 5) / 10 x 10
      {3000, 5, 2800, 3200},  // v 15000: (150 + 50) / 100 x 100
      {100, 5, 90, 110},      // v 500 < 1100: 10
      {2000, 5, 1900, 2100},  // v 10000: (100 + 5) / 10 x 10
      {250, 0, no, no},       // no movement
      {0, 5, no, no},
      {no, 5, no, no},
      {5, 5, no, 15},   // basis below the delta: no low trigger
      {10, 5, no, 20},  // basis equal to the delta
      // 50 x 3,000,000,000 passes 32 bits.
      {3000000000u, 50, 1500000000u, no},
  };
  for (const Row &r : rows) {
    uint32_t low = 0, high = 0;
    alerts_default_triggers(r.basis, r.pct, &low, &high);
    EXPECT_EQ(r.low, low) << r.basis << " " << r.pct;
    EXPECT_EQ(r.high, high) << r.basis << " " << r.pct;
  }
}

TEST_F(Alerts, OnePerInstrumentAndDefaults) {
  ss_stock *s = stock(0, "BHP");
  s->last = 3000;
  ASSERT_EQ(0, alerts_add_default(s));
  alert *a = alerts_find(s);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(2800u, a->min_price);
  EXPECT_EQ(3200u, a->max_price);
  EXPECT_EQ(kAlertNoVolume, a->min_volume);
  EXPECT_EQ(-1, alerts_add_default(s)) << "one alert per instrument";
  EXPECT_EQ(nullptr, alerts_set_alert(s, 1, 2, 3, 1, 0));
  EXPECT_EQ(1, alerts_count());
  EXPECT_EQ(2800u, alerts_find(s)->min_price) << "the first is kept";

  alerts_set_default_movement(0);
  ss_stock *t = stock(0, "CBA");
  t->last = 10000;
  ASSERT_EQ(0, alerts_add_default(t));
  EXPECT_EQ(kAlertNoPrice, alerts_find(t)->min_price);
  EXPECT_EQ(kAlertNoPrice, alerts_find(t)->max_price);
  EXPECT_EQ(ALERT_NONE, alerts_triggers(alerts_find(t)));
  EXPECT_EQ(t, alerts_first()->instrument) << "new alerts go to the front";

  EXPECT_EQ(0, alerts_remove_alert_rc(s));
  EXPECT_EQ(-1, alerts_remove_alert_rc(s));
  EXPECT_EQ(nullptr, alerts_find(s));
  EXPECT_EQ(1, alerts_count());
}

TEST_F(Alerts, EvaluationFiresEachTriggerOnceAndPostsOnce) {
  ss_stock *s = stock(0, "BHP");
  ss_issuer *is = issuer(0, "BHP");
  ss_time t0 = sstime_now() - 100;
  s->last = 1000;
  s->volume = 0;
  s->last_trade_time = t0;
  alert *a = alerts_set_alert(s, 900, 1100, 5000, 1, t0);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(is, a->issuer);
  EXPECT_FLOAT_EQ(10.0f, a->low_dist);   // (1000 - 900) x 100 / 1000
  EXPECT_FLOAT_EQ(10.0f, a->high_dist);  // (1100 - 1000) x 100 / 1000
  EXPECT_FLOAT_EQ(kAlertFar, a->volume_dist) << "volume 0: no distance, no division";
  EXPECT_EQ(100u, a->low_diff);
  EXPECT_TRUE(g_posts.empty());

  struct Step {
    uint32_t last;
    uint64_t volume;
    uint32_t news;  // a new announcement with this number (0: none)
    const char *posts;
    uint32_t fired;
    float low_dist, high_dist, volume_dist;
  } steps[] = {
      {1050, 1000, 0, "", 0, 150.0f / 1050 * 100, 50.0f / 1050 * 100, 400.0f},
      {1100, 2000, 0, "H1100 ", ALERT_HIGH, 200.0f / 1100 * 100, 0, 150.0f},
      {1200, 2500, 0, "", ALERT_HIGH, 300.0f / 1200 * 100, 0, 100.0f},  // fired once
      {1200, 6000, 0, "V6000 ", ALERT_HIGH | ALERT_VOLUME, 300.0f / 1200 * 100, 0, 0},
      {1200, 7000, 77, "N77 ", ALERT_HIGH | ALERT_VOLUME | ALERT_NEWS, 300.0f / 1200 * 100, 0, 0},
      {1200, 8000, 78, "", ALERT_HIGH | ALERT_VOLUME | ALERT_NEWS, 300.0f / 1200 * 100, 0, 0},
      {850, 9000, 0, "L850 ", 0xF, 0, 0, 0},
      {800, 9500, 79, "", 0xF, 0, 0, 0},
  };
  ss_time t = t0;
  for (const Step &st : steps) {
    SCOPED_TRACE(st.last);
    g_posts.clear();
    t += 1;
    s->last = st.last;
    s->volume = st.volume;
    s->last_trade_time = t;
    if (st.news) {
      uint32_t codes[1] = {0};
      ASSERT_NE(nullptr, ssmodel_add_news(is, st.news, t, codes, 0, "Results"));
      deliver(is, kChangeNews);
    } else {
      deliver(s);
    }
    EXPECT_EQ(st.posts, posts());
    EXPECT_EQ(st.fired, alerts_fired_bits(a));
    EXPECT_NEAR(st.low_dist, a->low_dist, 1e-3);
    EXPECT_NEAR(st.high_dist, a->high_dist, 1e-3);
    EXPECT_NEAR(st.volume_dist, a->volume_dist, 1e-3);
  }
  EXPECT_EQ(t0 + 2, a->high_fired);
  EXPECT_EQ(t0 + 4, a->volume_fired);
  EXPECT_EQ(t0 + 5, a->news_fired);
  EXPECT_EQ(t0 + 7, a->low_fired);
  EXPECT_EQ(1u, a->fresh);

  // Editing a trigger clears its fired state and lets it fire again.
  g_posts.clear();
  EXPECT_EQ(0, alerts_change_max_price(a, 1100)) << "unchanged";
  EXPECT_EQ(1, alerts_change_max_price(a, 700));
  EXPECT_EQ("S0 H800 ", posts()) << "items marked seen, then evaluated afresh";
  EXPECT_EQ(1u, a->fresh) << "fired again";
  // A reset clears every fired time; the old announcements stay old.
  g_posts.clear();
  alerts_reset(a);
  EXPECT_EQ("S0 L800 H800 V9500 ", posts());
  EXPECT_EQ(0u, a->news_fired);
}

TEST_F(Alerts, LargeValuesAndIndices) {
  ss_stock *s = stock(0, "BIG");
  s->last = 50000000;  // the difference x 100 passes 32 bits
  s->volume = 3000000000ull;
  alert *a = alerts_set_alert(s, 10000000, kAlertNoPrice, 9000000000ull, 0, 0);
  ASSERT_NE(nullptr, a);
  EXPECT_FLOAT_EQ(80.0f, a->low_dist);
  EXPECT_FLOAT_EQ(200.0f, a->volume_dist);
  EXPECT_FLOAT_EQ(kAlertFar, a->high_dist) << "unset";

  ss_index *x = index(0, "XJO");
  x->value = 700000;
  alert *b = alerts_set_alert(x, kAlertNoPrice, 700500, 100, 0, 0);
  ASSERT_NE(nullptr, b);
  x->value = 701000;
  deliver(x, kChangeIndexTick);
  EXPECT_EQ("H701000 ", posts());
  EXPECT_NE(0u, b->high_fired);
  EXPECT_EQ(0u, b->volume_fired) << "an index has no volume trigger";
}

TEST_F(Alerts, TwoStocksOfOneIssuerBothHearItsNews) {
  ss_stock *a = stock(0, "BHP", "BHP");
  ss_stock *b = stock(0, "BHPN", "BHP");
  ss_issuer *is = issuer(0, "BHP");
  ss_time t0 = sstime_now() - 100;
  ASSERT_NE(nullptr, alerts_set_alert(a, kAlertNoPrice, kAlertNoPrice, kAlertNoVolume, 1, t0));
  ASSERT_NE(nullptr, alerts_set_alert(b, kAlertNoPrice, kAlertNoPrice, kAlertNoVolume, 1, t0));
  uint32_t codes[1] = {0};
  ssmodel_add_news(is, 5, t0 + 10, codes, 0, "Report");
  deliver(is, kChangeNews);
  EXPECT_EQ(2u, g_posts.size()) << posts();
  alerts_remove_alert_rc(b);
  ssmodel_add_news(is, 6, t0 + 20, codes, 0, "Report");
  alerts_reset(alerts_find(a));
  g_posts.clear();
  ssmodel_add_news(is, 7, sstime_now() + 30, codes, 0, "Again");
  deliver(is, kChangeNews);
  EXPECT_EQ("N7 ", posts()) << "the remaining alert still hears the issuer";
}

TEST_F(Alerts, FiltersAndNearnessOrder) {
  ss_stock *s1 = stock(0, "AAA"), *s2 = stock(0, "BBB"), *s3 = stock(1, "BBB"), *s4 = stock(0, "CCC");
  ss_stock *s5 = stock(0, "DDD");
  for (ss_stock *s : {s1, s2, s3, s4, s5}) s->last = 1000;
  alert *a1 = alerts_set_alert(s1, 950, kAlertNoPrice, kAlertNoVolume, 0, 0);  // low 5%
  alert *a2 = alerts_set_alert(s2, kAlertNoPrice, 1020, kAlertNoVolume, 0, 0);  // high 2%
  alert *a3 = alerts_set_alert(s3, kAlertNoPrice, 1020, kAlertNoVolume, 0, 0);  // high 2%, exchange 1
  alert *a4 = alerts_set_alert(s4, kAlertNoPrice, kAlertNoPrice, kAlertNoVolume, 1, 0);  // news
  alert *a5 = alerts_set_alert(s5, kAlertNoPrice, kAlertNoPrice, kAlertNoVolume, 0, 0);  // none
  s4->state = kAlertStateNewsDue;

  struct FilterRow {
    uint32_t fired, triggers, conj;
    std::vector<alert *> shown;
  } filters[] = {
      {4, 31, 0, {a1, a2, a3, a4, a5}},
      {4, ALERT_LOW | ALERT_HIGH, 0, {a1, a2, a3}},
      {4, ALERT_HIGH, 1, {a2, a3}},
      {4, ALERT_NONE, 0, {a5}},
      {3, 31, 0, {a1, a2, a3, a4, a5}},
      {2, 31, 0, {}},
      {1, 31, 0, {}},  // never an alert without triggers
  };
  auto shown = [&](const FilterRow &f) {
    std::vector<alert *> v;
    for (alert *a : {a1, a2, a3, a4, a5})
      if (alerts_passes(a, f.fired, f.triggers, f.conj)) v.push_back(a);
    return v;
  };
  for (const FilterRow &f : filters) EXPECT_EQ(f.shown, shown(f)) << f.fired << " " << f.triggers;

  // Fire a2's trigger: fired filters change.
  s2->last = 1030;
  deliver(s2);
  EXPECT_EQ(std::vector<alert *>{a2}, shown({1, 31, 0, {}}));
  EXPECT_EQ(std::vector<alert *>{a2}, shown({2, 31, 0, {}}));
  EXPECT_EQ((std::vector<alert *>{a1, a3, a4, a5}), shown({3, 31, 0, {}}));

  // Nearness: fired 0, the due news 1.0, high 2%, low 5%, none far; the
  // tie of a3 and ... by code then exchange.
  std::vector<alert *> v = {a5, a4, a3, a1, a2};
  std::sort(v.begin(), v.end(), [](alert *x, alert *y) { return alerts_compare(x, y, 1, 31) < 0; });
  EXPECT_EQ((std::vector<alert *>{a2, a4, a3, a1, a5}), v);
  // Only the low trigger selected: the others are all far and tie, by code.
  std::sort(v.begin(), v.end(), [](alert *x, alert *y) { return alerts_compare(x, y, 1, ALERT_LOW) < 0; });
  EXPECT_EQ((std::vector<alert *>{a1, a2, a3, a4, a5}), v);
  // Order 0: code, then exchange.
  std::sort(v.begin(), v.end(), [](alert *x, alert *y) { return alerts_compare(x, y, 0, 31) < 0; });
  EXPECT_EQ((std::vector<alert *>{a1, a2, a3, a4, a5}), v);
  // Equal nearness: the earlier fired comes first; unfired counts as 2033.
  s3->last = 1030;
  s3->last_trade_time = a2->high_fired - 5;
  deliver(s3);
  EXPECT_LT(alerts_compare(a3, a2, 1, 31), 0);
  EXPECT_EQ(0.0f, alerts_nearness(a3, 31));
}

TEST_F(Alerts, CodeParser) {
  ss_stock *bhp0 = stock(0, "BHP"), *bhp1 = stock(1, "BHP"), *cba = stock(2, "CBA");
  ss_stock *ten = stock(0, "ABCDEFGHIJ");
  ss_index *xjo_ix = index(0, "XJO");
  ss_stock *xjo_st = stock(3, "XJO");
  ss_index *nz50 = index(1, "NZ50");
  for (ss_stock *s : {bhp0, bhp1, cba, ten, xjo_st}) s->last = 100;
  xjo_ix->value = 100;
  nz50->value = 100;

  EXPECT_EQ(bhp0, alerts_lookup_code("BHP"));
  g_default_exchange = 1;
  EXPECT_EQ(bhp1, alerts_lookup_code("BHP")) << "the default exchange first";
  EXPECT_EQ(bhp0, alerts_lookup_code("BHP.ASX")) << "a suffix names the only exchange";
  EXPECT_EQ(nullptr, alerts_lookup_code("CBA.ASX"));
  EXPECT_EQ(cba, alerts_lookup_code("CBA"));
  g_default_exchange = 3;
  EXPECT_EQ(xjo_st, alerts_lookup_code("XJO")) << "the default exchange's stock";
  g_default_exchange = 0;
  EXPECT_EQ(xjo_ix, alerts_lookup_code("XJO")) << "exchange 0's index before exchange 3's stock";

  // Lower case, separators, a 14-character run, a run of exactly 10 and
  // one of 11.
  EXPECT_EQ(4, alerts_codes("BHP, cba;ABCDEFGHIJKLMN nz50\nabcdefghij ABCDEFGHIJK", 1));
  EXPECT_NE(nullptr, alerts_find(bhp0));
  EXPECT_EQ(nullptr, alerts_find(bhp1));
  EXPECT_NE(nullptr, alerts_find(cba));
  EXPECT_NE(nullptr, alerts_find(nz50));
  EXPECT_NE(nullptr, alerts_find(ten));
  EXPECT_EQ(4, alerts_count());
  EXPECT_EQ(0, alerts_codes("BHP cba", 1)) << "already there: nothing changes";
  EXPECT_EQ(0, alerts_codes("_BHP", 1)) << "'_' cannot start a code";
  EXPECT_EQ(1, alerts_codes("x BHP.NZX", 1));
  EXPECT_NE(nullptr, alerts_find(bhp1));
  EXPECT_EQ(2, alerts_codes("bhp.nzx CBA", 0));
  EXPECT_EQ(nullptr, alerts_find(cba));
  EXPECT_EQ(3, alerts_count());
  EXPECT_EQ(0, undo_depth()) << "groups closed";
}

TEST_F(Alerts, UndoOfCodesAddedAndRemoved) {
  ASSERT_EQ(0, undo_init());
  ASSERT_EQ(0, alerts_init());  // registers the alert types with the ring just made
  ss_stock *bhp = stock(0, "BHP"), *cba = stock(0, "CBA");
  bhp->last = 3000;
  cba->last = 250;
  ASSERT_EQ(2, alerts_codes("BHP CBA", 1));
  EXPECT_EQ(0, alerts_codes("BHP", 1));
  ASSERT_EQ(0, undo_perform());
  EXPECT_EQ(0, alerts_count()) << "both added alerts removed in one step";
  EXPECT_FALSE(undo_can_undo()) << "the group in which nothing changed left nothing";

  const ss_time reset = sstime_pack(0, 0, 9, 1, 6, 2026);
  ASSERT_NE(nullptr, alerts_set_alert(bhp, 2500, 3500, 777, 1, reset));
  ASSERT_EQ(1, alerts_codes("bhp", 0));
  EXPECT_EQ(nullptr, alerts_find(bhp));
  ASSERT_EQ(0, undo_perform());
  const alert *a = alerts_find(bhp);
  ASSERT_NE(nullptr, a) << "the removed alert is back";
  EXPECT_EQ(2500u, a->min_price);
  EXPECT_EQ(3500u, a->max_price);
  EXPECT_EQ(777u, a->min_volume);
  EXPECT_EQ(1u, a->news);
  EXPECT_EQ(reset, a->time_reset);
  undo_fini();
}

TEST_F(Alerts, SaveAndLoadRoundTrip) {
  ss_stock *s = stock(0, "BHP");
  ss_index *x = index(1, "NZ50");
  s->last = 3000;
  x->value = 1000;
  alerts_set_default_movement(7);
  alerts_set_default_news(1);
  const ss_time reset = sstime_pack(30, 15, 10, 3, 6, 2026);
  ASSERT_NE(nullptr, alerts_set_alert(s, 2500, kAlertNoPrice, 123456789012ull, 1, reset));
  ASSERT_NE(nullptr, alerts_set_alert(x, 900, 1100, kAlertNoVolume, 0, reset));
  config_out_reset();
  alerts_save();
  const std::string text = take_config_text();
  EXPECT_NE(std::string::npos, text.find("defaults.movement_pct 7\n")) << text;
  EXPECT_NE(std::string::npos, text.find("alert.min_volume 123456789012\n")) << text;

  alerts_fini();
  alerts_set_default_movement(5);
  alerts_set_default_news(0);
  ASSERT_EQ(0, alerts_init());
  ASSERT_EQ(0, config_load_buffer(text.data(), int32_t(text.size())));
  EXPECT_EQ(2, alerts_load());
  EXPECT_EQ(7, alerts_get_default_movement());
  EXPECT_EQ(1u, alerts_get_default_news());
  ASSERT_EQ(2, alerts_count());
  EXPECT_EQ(x, alerts_first()->instrument) << "the order is kept";
  const alert *a = alerts_find(s);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(2500u, a->min_price);
  EXPECT_EQ(kAlertNoPrice, a->max_price);
  EXPECT_EQ(123456789012ull, a->min_volume);
  EXPECT_EQ(1u, a->news);
  EXPECT_EQ(reset, a->time_reset);
  const alert *b = alerts_find(x);
  EXPECT_EQ(900u, b->min_price);
  EXPECT_EQ(1100u, b->max_price);
  EXPECT_EQ(kAlertNoVolume, b->min_volume);
  // Saving again gives the same text.
  config_out_reset();
  alerts_save();
  EXPECT_EQ(text, take_config_text());
}

}  // namespace
