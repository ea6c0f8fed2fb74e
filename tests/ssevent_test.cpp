// Event records: list links against a plain vector, event times by kind,
// which payloads go back to their pools, detaching and trimming through the
// deferred-free queue (a table of list sizes, holds and pending changes), the
// keep point while a delivery is under way, the alert ring's snapshot and
// wrap, and the minimal day records. Freed records are poisoned under
// AddressSanitizer, so reading one after its deferred free would be reported.
#include "ssevent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "lazyfree.h"
#include "ssnotify.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

std::atomic<int64_t> g_now_ms{1000000};
int64_t test_clock() { return g_now_ms.load(); }

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime(test_clock));

int32_t queued() { return lazyfree_queue_shape(nullptr, 0); }

class Events : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, start_terminal_model());
    asx = ssmodel_exchange(0);
    ASSERT_EQ(0, ssevent_init());
    ASSERT_EQ(0, ssnotify_init());
    lazyfree_set_delay(10);
    bhp = ssmodel_get_stock(asx, "BHP");
    ASSERT_NE(nullptr, bhp);
    in = bhp;
  }
  void TearDown() override {
    ssnotify_fini();
    ssmodel_fini();
    ssevent_fini();
  }
  void run_deferred() {
    g_now_ms += 60000;
    lazyfree_tick();
  }
  // n state events stamped 0..n-1 in order applied.
  std::vector<ss_event*> add_states(instr* target, int n) {
    std::vector<ss_event*> out;
    for (int i = 0; i < n; i++) {
      auto* p = static_cast<ss_ev_state*>(ssevent_new_payload(kEvState));
      p->time = static_cast<ss_time>(i);
      out.push_back(ssevent_add_event(target, kEvState, p));
    }
    return out;
  }
  // The list walked from the newest and from the oldest, each checked against
  // the other and the count; the times oldest first.
  std::vector<ss_time> times(const instr* target) {
    std::vector<ss_time> fwd, back;
    for (ss_event* e = target->events.oldest; e; e = e->newer) fwd.push_back(ssevent_event_time(e));
    for (ss_event* e = target->events.newest; e; e = e->older) back.insert(back.begin(), ssevent_event_time(e));
    EXPECT_EQ(fwd, back);
    EXPECT_EQ(fwd.size(), target->events.count);
    return fwd;
  }
  ss_exchange* asx = nullptr;
  ss_stock* bhp = nullptr;
  instr* in = nullptr;
};

std::vector<ss_time> range(ss_time from, ss_time to) {  // [from, to)
  std::vector<ss_time> out;
  for (ss_time t = from; t < to; t++) out.push_back(t);
  return out;
}

// ---------------------------------------------------------------------------
// Records and lists

TEST_F(Events, AddLinksAtTheNewestEnd) {
  EXPECT_TRUE(times(in).empty());
  std::vector<ss_event*> evs = add_states(in, 5);
  EXPECT_EQ(range(0, 5), times(in));
  EXPECT_EQ(evs[0], in->events.oldest);
  EXPECT_EQ(evs[4], in->events.newest);
  EXPECT_EQ(nullptr, evs[0]->older);
  EXPECT_EQ(nullptr, evs[4]->newer);
  EXPECT_EQ(kEvState, evs[2]->kind);
}

TEST_F(Events, EventTimeByKind) {
  ss_trade* trade = ssmodel_add_trade(bhp, 1111, 100, 5);
  ss_news* news = ssmodel_add_news(ssmodel_get_issuer(asx, "BHP"), 77, 2222, nullptr, 0, "headline");
  ss_index* xjo = ssmodel_get_index(asx, "XJO");
  ss_tick* tick = ssmodel_add_index_tick(xjo, 3333, 500);
  ASSERT_TRUE(trade && news && tick);
  struct Row {
    uint32_t kind;
    void* payload;
    ss_time want;
  } rows[] = {
      {kEvTrade, trade, 1111},
      {kEvNews, news, 2222},  // its time, not its number 77
      {kEvIndexTick, tick, 3333},
      {kEvExchangeMark, trade, 0},
      {99, trade, 0},
      {kEvQuote, nullptr, 0},
  };
  for (const Row& row : rows) {
    ss_event ev{row.kind, row.payload, nullptr, nullptr};
    EXPECT_EQ(row.want, ssevent_event_time(&ev)) << row.kind;
  }
  // Every kind with its own payload starts it with the time.
  for (uint32_t kind = 1; kind <= kEvKinds; kind++) {
    void* p = ssevent_new_payload(kind);
    bool own = kind <= 4 || kind == 6 || (kind >= 10 && kind <= 14) || kind == 16;
    ASSERT_EQ(own, p != nullptr) << kind;
    if (!p) continue;
    *static_cast<ss_time*>(p) = 4000 + kind;
    ss_event ev{kind, p, nullptr, nullptr};
    EXPECT_EQ(4000 + kind, ssevent_event_time(&ev)) << kind;
    ss_event* owned = ssevent_add_event(in, kind, p);
    ssevent_free_event_list(owned);  // the payload goes back with it
    in->events = ss_event_list{};
  }
}

TEST_F(Events, FreeingReturnsOnlyOwnPayloads) {
  ss_trade* trade = ssmodel_add_trade(bhp, 1111, 100, 5);
  ss_event* te = ssevent_add_event(in, kEvTrade, trade);
  auto* quote = static_cast<ss_ev_quote*>(ssevent_new_payload(kEvQuote));
  ss_event* qe = ssevent_add_event(in, kEvQuote, quote);
  in->events = ss_event_list{};
  ssevent_free_event(te);
  ssevent_free_event(qe);
  // The trade is still its list's and readable; the quote record went back to
  // its pool and is the next one handed out.
  EXPECT_EQ(trade, bhp->trades.tail);
  EXPECT_EQ(1111u, trade->time);
  EXPECT_EQ(quote, ssevent_new_payload(kEvQuote));
}

// A depth change makes its event and payload as one record (the payload
// right after the event) and freeing gives the whole record back; a depth
// event listed with a payload made apart frees both apart. Each record comes
// back from its own pool as the next one handed out.
TEST_F(Events, DepthEventsComeWithTheirPayloadAndGoBackWhole) {
  ASSERT_TRUE(asx->flags & kExRecord);
  const auto newest_add = [&] {
    ss_event* e = in->events.newest;
    while (e && e->kind != kEvDepthAdd) e = e->older;
    return e;
  };
  ASSERT_EQ(0, ssevent_apply_depth_summary(bhp, 1000, 0, 4500, 300, 1, nullptr));  // and a top-of-book event
  ss_event* joined = newest_add();
  ASSERT_NE(nullptr, joined);
  EXPECT_EQ(reinterpret_cast<char*>(joined) + sizeof(ss_event), joined->payload);
  const auto* add = static_cast<const ss_ev_depth_add*>(joined->payload);
  EXPECT_EQ(1000u, add->time);
  EXPECT_EQ(4500u, add->price);
  EXPECT_EQ(300u, add->volume);
  auto* apart = static_cast<ss_ev_depth_add*>(ssevent_new_payload(kEvDepthAdd));
  ASSERT_NE(nullptr, apart);
  apart->time = 1001;
  ss_event* listed = ssevent_add_event(in, kEvDepthAdd, apart);
  ASSERT_NE(nullptr, listed);
  EXPECT_NE(reinterpret_cast<char*>(listed) + sizeof(ss_event), listed->payload);
  EXPECT_EQ(1001u, ssevent_event_time(newest_add()));
  ss_event* oldest = in->events.oldest;
  in->events = ss_event_list{};
  ssevent_free_event_list(oldest);
  EXPECT_EQ(apart, ssevent_new_payload(kEvDepthAdd));
  ASSERT_EQ(0, ssevent_apply_depth_summary(bhp, 1002, 0, 4500, 100, 1, nullptr));
  EXPECT_EQ(joined, newest_add());
  EXPECT_EQ(1002u, ssevent_event_time(newest_add()));
}

TEST_F(Events, FreeEventsDetachesAndFreesLater) {
  std::vector<ss_event*> evs = add_states(in, 3);
  int32_t before = queued();
  ssevent_free_events(in);
  EXPECT_EQ(0u, in->events.count);
  EXPECT_EQ(nullptr, in->events.oldest);
  EXPECT_EQ(nullptr, in->events.newest);
  EXPECT_EQ(before + 1, queued());
  // Still readable until the delay has passed.
  EXPECT_EQ(2u, ssevent_event_time(evs[2]));
  run_deferred();
  EXPECT_EQ(0, queued());
  ssevent_free_events(in);  // an empty list queues nothing
  EXPECT_EQ(0, queued());
}

// ---------------------------------------------------------------------------
// Trimming

void ignore_call(const ss_change*, void*, uint64_t, uint32_t) {}

TEST_F(Events, TrimTable) {
  struct Row {
    const char* name;
    int events;
    bool held;
    uint32_t hold;
    std::vector<int> pending;  // events (by stamp) recorded as a change; -1: an alert
    std::vector<ss_time> kept;
  } rows[] = {
      {"101 left alone", 101, false, 0, {}, range(0, 101)},
      {"102 keeps the newest 101", 102, false, 0, {}, range(1, 102)},
      {"300 keeps the newest 101", 300, false, 0, {}, range(199, 300)},
      {"in a watchlist", 300, true, 0, {}, range(0, 300)},
      {"held by a window", 300, false, 1, {}, range(0, 300)},
      {"pending change keeps 100 beyond it", 400, false, 0, {250, 260}, range(150, 400)},
      {"pending near the newest", 400, false, 0, {394}, range(294, 400)},
      {"pending only alerts", 300, false, 0, {-1, -1}, range(199, 300)},
      {"alerts before the first event", 400, false, 0, {-1, 250, -1}, range(150, 400)},
      {"pending too old to matter", 400, false, 0, {10}, range(0, 400)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(0, start_terminal_model());
    asx = ssmodel_exchange(0);
    ASSERT_EQ(0, ssevent_init());
    ASSERT_EQ(0, ssnotify_init());
    in = ssmodel_get_stock(asx, "BHP");
    std::vector<ss_event*> evs = add_states(in, row.events);
    if (row.held) in->flags |= kInHeld;
    for (uint32_t h = 0; h < row.hold; h++) ssevent_hold(in);
    if (!row.pending.empty()) {
      ASSERT_EQ(0, ssnotify_add(in, ~0u, ignore_call, this, 0, 0));
    }
    for (int stamp : row.pending) {
      int rc = stamp < 0 ? ssevent_record_alert(in, nullptr, 1, 0, nullptr)
                         : ssnotify_record(in, kChangeState, evs[stamp]);
      ASSERT_EQ(0, rc);
    }
    int32_t before = queued();
    uint32_t cut = ssevent_trim_table(&asx->stocks);
    std::vector<ss_time> kept = times(in);
    EXPECT_EQ(row.kept, kept);
    EXPECT_EQ(row.events - kept.size(), cut);
    EXPECT_EQ(before + (cut ? 1 : 0), queued());
    if (cut) {
      // The cut part is still readable and still leads into the kept list
      // until the deferred free runs.
      EXPECT_EQ(0u, ssevent_event_time(evs[0]));
      EXPECT_EQ(evs[row.events - kept.size()], evs[row.events - kept.size() - 1]->newer);
      run_deferred();
      EXPECT_EQ(row.kept, times(in));
    }
    // Trimming again changes nothing.
    EXPECT_EQ(0u, ssevent_trim_table(&asx->stocks));
    ssnotify_fini();
  }
}

TEST_F(Events, TrimAllCoversEveryTableOfEveryExchange) {
  instr* targets[] = {ssmodel_get_stock(asx, "CBA"), ssmodel_get_issuer(asx, "CBA"), ssmodel_get_index(asx, "XJO"),
                      ssmodel_get_stock(ssmodel_exchange(3), "XYZ"), ssmodel_get_index(ssmodel_exchange(2), "SPX")};
  for (instr* t : targets) {
    ASSERT_NE(nullptr, t);
    add_states(t, 150);
  }
  ssevent_trim_due();
  for (instr* t : targets) EXPECT_EQ(101u, t->events.count) << t->code;
  add_states(targets[0], 10);
  ssevent_trim_all_now();
  EXPECT_EQ(101u, targets[0]->events.count);
}

// While a delivery is under way the instrument has an entry in both buffers.
// Trimming from inside it must keep the older entry's events, which the
// callback is being handed, as well as the newer one's.
struct InDelivery {
  instr* in;
  std::vector<ss_event*> evs;
  std::vector<ss_time> kept;
  bool done = false;
};
InDelivery* g_in_delivery = nullptr;

void trimming_call(const ss_change*, void*, uint64_t, uint32_t) {
  InDelivery& d = *g_in_delivery;
  if (d.done) return;
  d.done = true;
  EXPECT_EQ(0, ssnotify_record(d.in, kChangeState, d.evs[390]));  // the next delivery's
  ssevent_trim_table(&d.in->exchange->stocks);
  for (ss_event* e = d.in->events.oldest; e; e = e->newer) d.kept.push_back(ssevent_event_time(e));
}

TEST_F(Events, TrimKeepsBothPendingEntries) {
  InDelivery d{in, add_states(in, 400), {}};
  g_in_delivery = &d;
  ASSERT_EQ(0, ssnotify_add(in, ~0u, trimming_call, this, 0, 0));
  ASSERT_EQ(0, ssnotify_record(in, kChangeState, d.evs[200]));
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_TRUE(d.done);
  EXPECT_EQ(range(100, 400), d.kept);
  g_in_delivery = nullptr;
}

// ---------------------------------------------------------------------------
// Alerts

std::vector<ss_event*> g_alerts;
void alert_call(const ss_change* c, void*, uint64_t, uint32_t) {
  for (uint32_t i = 0; i < c->count; i++) g_alerts.push_back(c->events[i]);
}

TEST_F(Events, AlertSnapshotByInstrumentKind) {
  ss_index* xjo = ssmodel_get_index(asx, "XJO");
  bhp->bid = 101;
  bhp->offer = 102;
  bhp->last = 103;
  bhp->change = -4;
  bhp->volume = 5000;
  xjo->value = 70000;
  xjo->change = 120;
  ss_trade* trade = ssmodel_add_trade(bhp, 1111, 100, 5);
  int filter = 0;
  ASSERT_EQ(0, ssnotify_add_wild(kChangeAlert, alert_call, this, 0, 0));
  g_alerts.clear();
  ASSERT_EQ(0, ssevent_record_alert(bhp, &filter, 900, kAlertCodeTrade | 0x1, trade));
  ASSERT_EQ(0, ssevent_record_alert(xjo, &filter, 901, kAlertCodeNews, trade));  // object read as news
  ASSERT_EQ(0, ssevent_record_alert(bhp, &filter, 902, 0x1, trade));           // no object taken
  ASSERT_EQ(0, ssnotify_deliver());
  // BHP's entry (900, 902) was taken before XJO's (901).
  ASSERT_EQ(3u, g_alerts.size());
  std::swap(g_alerts[1], g_alerts[2]);
  auto* a = static_cast<const ss_ev_alert*>(g_alerts[0]->payload);
  EXPECT_EQ(kEvAlert, g_alerts[0]->kind);
  EXPECT_EQ(900u, ssevent_event_time(g_alerts[0]));
  EXPECT_EQ((std::vector<uint64_t>{101, 102, 103, 5000, 0}),
            (std::vector<uint64_t>{a->bid, a->offer, a->last, a->volume, a->index_value}));
  EXPECT_EQ(-4, a->change);
  EXPECT_EQ(trade, a->trade);
  EXPECT_EQ(nullptr, a->news);
  EXPECT_EQ(&filter, a->filter);
  auto* x = static_cast<const ss_ev_alert*>(g_alerts[1]->payload);
  EXPECT_EQ((std::vector<uint64_t>{0, 0, 0, 0, 70000}),
            (std::vector<uint64_t>{x->bid, x->offer, x->last, x->volume, x->index_value}));
  EXPECT_EQ(120, x->change);
  EXPECT_EQ(nullptr, x->trade);
  EXPECT_EQ(reinterpret_cast<ss_news*>(trade), x->news);
  auto* plain = static_cast<const ss_ev_alert*>(g_alerts[2]->payload);
  EXPECT_EQ(nullptr, plain->trade);
  EXPECT_EQ(nullptr, plain->news);
  // Alerts are not listed on the instrument.
  EXPECT_EQ(0u, in->events.count);
}

TEST_F(Events, AlertRingWrapsAt50000) {
  ASSERT_EQ(0, ssnotify_add(in, kChangeAlert, alert_call, this, 0, 0));
  g_alerts.clear();
  for (uint32_t i = 0; i <= kAlertRingSize; i++) {
    ASSERT_EQ(0, ssevent_record_alert(in, nullptr, i, 0, nullptr));
    if (i % 1000 == 999) {
      ASSERT_EQ(0, ssnotify_deliver());
    }
  }
  ASSERT_EQ(0, ssnotify_deliver());
  ASSERT_EQ(kAlertRingSize + 1, g_alerts.size());
  EXPECT_EQ(1u, ssevent_alert_next());
  // The 50,001st alert took the first one's slot and overwrote it.
  EXPECT_EQ(g_alerts[0], g_alerts[kAlertRingSize]);
  EXPECT_EQ(kAlertRingSize, ssevent_event_time(g_alerts[0]));
  EXPECT_NE(g_alerts[1], g_alerts[0]);
  EXPECT_EQ(1u, ssevent_event_time(g_alerts[1]));
}

TEST_F(Events, AlertNeedsAnExchangeThatRecords) {
  ss_exchange* nzx = ssmodel_exchange(1);
  nzx->flags &= ~kExRecord;
  ss_stock* air = ssmodel_get_stock(nzx, "AIR");
  ASSERT_EQ(0, ssnotify_add(air, ~0u, alert_call, this, 0, 0));
  g_alerts.clear();
  EXPECT_EQ(0, ssevent_record_alert(air, nullptr, 5, 0, nullptr));
  EXPECT_EQ(0u, ssevent_alert_next());
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_TRUE(g_alerts.empty());
}

// ---------------------------------------------------------------------------
// Day records (minimal)

TEST_F(Events, DayRecordsInDateOrder) {
  // Monday to Wednesday, and the Saturday after.
  ss_time mar1 = sstime_pack_date(3, 3, 2014), mar2 = sstime_pack_date(4, 3, 2014),
          mar3 = sstime_pack_date(5, 3, 2014), sat = sstime_pack_date(8, 3, 2014);
  EXPECT_EQ(nullptr, ssevent_find_day(in, mar3));
  ss_day* d3 = ssevent_get_day(in, mar3);
  ss_day* d1 = ssevent_get_day(in, mar1);
  ss_day* d2 = ssevent_get_day(in, mar2);
  ASSERT_TRUE(d1 && d2 && d3);
  EXPECT_EQ(d3, ssevent_find_day(in, mar3 + 3600));  // any time of the day
  std::vector<ss_day*> order;
  for (ss_day* d = in->days.head; d; d = d->next) order.push_back(d);
  EXPECT_EQ((std::vector<ss_day*>{d1, d2, d3}), order);
  EXPECT_EQ(0u, d1->flags);
  EXPECT_EQ(0x18u, ssevent_get_day(in, sat)->flags);
  // Removing: -1 for a date without a record (switch off); with the switch
  // on a record is made and removed again.
  EXPECT_EQ(0, ssevent_remove_day(in, mar2));
  EXPECT_EQ(-1, ssevent_remove_day(in, mar2));
  ssevent_enable_day_records(1);
  EXPECT_EQ(0, ssevent_remove_day(in, mar2));
  ssevent_enable_day_records(0);
  EXPECT_EQ(3u, in->days.count);
  ssevent_remove_days(in);
  EXPECT_EQ(0u, in->days.count);
  EXPECT_EQ(nullptr, in->days.head);
  run_deferred();
}

}  // namespace
