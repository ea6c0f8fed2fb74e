// End to end: the client signs on to the simulator's live market (what
// `ambit-sim --live` runs, here in-process) and a 200-row grid bound to a
// watchlist follows it. After each delivery, with the model standing still
// under the core lock, every row's values equal the client's model, the
// rows marked for laying out again are exactly those whose instrument the
// delivery touched (a registration of the test's own sees them), and a draw
// through the GL recorder lays out those rows and no others.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <vector>

#include "config/config.h"
#include "lib/fade.h"
#include "lib/glrecord.h"
#include "lib/gmap.h"
#include "lib/scan.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "lib/wlist.h"
#include "plat.h"
#include "sim.h"
#include "sim_live.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "ssproto.h"
#include "style.h"
#include "testclient.h"
#include "testclock.h"
#include "testsim.h"
#include "ui/object.h"
#include "windows/watchlist.h"

namespace {

const auto *g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

constexpr uint32_t kStocks = 300;
constexpr int kRows = 200;

int drop_request(widget *, const rect *, widget_update_fn, int) { return 0; }

struct Seen {
  std::set<instr *> changed;
  bool global = false;
};
void seen_instr(const ss_change *c, void *owner, uint64_t, uint32_t) {
  auto *s = static_cast<Seen *>(owner);
  if (c->instrument)
    s->changed.insert(c->instrument);
  else
    s->global = true;
}

uint32_t plain(uint32_t v) { return v == 0xFFFFFFFFu ? 0 : v; }

class GridLive : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    object_init();
    ASSERT_EQ(tex_init(), 0);
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
    ASSERT_EQ(fade_init(), 0);
    ASSERT_EQ(style_init(), 0);
    ASSERT_EQ(style_select(0), 0);
  }
  static void TearDownTestSuite() {
    style_fini();
    fade_fini();
    gmap_fini();
    tex_fini();
  }

 protected:
  void SetUp() override {
    int port = 0;
    ASSERT_NO_FATAL_FAILURE(start_live_today_sim(&sim, &live, 500, 7, kStocks, &port));
    for (uint32_t i = 0; i < kStocks; i++) codes.push_back(sim_market_code(1 + i * 37));
    ASSERT_NO_FATAL_FAILURE(start_test_client(port));
    client = true;
    ssclient_set_yield(2000, 1);
    old_queue = widget_set_queue(drop_request);
    ASSERT_EQ(0, config_init());
    ASSERT_EQ(0, timer_init());
    ASSERT_EQ(0, scan_init());
    lists = true;
    thread = plat_thread_create(
        [](void *arg) {
          auto *self = static_cast<GridLive *>(arg);
          self->rc = ssclient_run();
          self->done = true;
        },
        this);
    ASSERT_GE(thread, 0);
  }

  void TearDown() override {
    if (lists) {
      core_lock lock;
      for (instr *in : watched) ssnotify_remove(in, &seen);
      ssnotify_remove_wild(&seen);
      if (w) widget_delete(w);
      scan_fini();
      timer_fini();
      config_shutdown();
    }
    widget_set_queue(old_queue);
    if (thread >= 0) {
      ssclient_stop();
      EXPECT_TRUE(wait_for([this] { return done.load(); }, 10000));
      plat_thread_join(thread);
      plat_thread_cancel(thread);
    }
    sim_live_stop(live);
    sim_destroy(sim);
    if (client) ssclient_fini();
  }

  void pump() {
    core_lock lock;
    ssclient_deliver();
  }

  sim_server *sim = nullptr;
  sim_live *live = nullptr;
  std::vector<std::string> codes;
  std::vector<instr *> watched;
  bool client = false, lists = false;
  int32_t thread = -1;
  std::atomic<bool> done{false};
  int rc = 0;
  widget_queue_fn old_queue = nullptr;
  watchlist *w = nullptr;
  Seen seen;
};

TEST_F(GridLive, RowsEqualTheModelAndOnlyChangedRowsLayOutAgain) {
  ASSERT_TRUE(wait_for(
      [this] {
        pump();
        return ssclient_is_online() != 0;
      },
      10000));
  // Every stock the market moves is known once its opening has arrived.
  const uint64_t opening = sim_stream_length(sim, 0);
  ASSERT_TRUE(wait_for(
      [&] {
        pump();
        return ssproto_exchange_position(0) >= opening;
      },
      10000));
  {
    core_lock lock;
    ssclient_deliver();
    ss_exchange *ex = ssmodel_exchange(0);
    wlist *wl = wlist_create("Live", 0);
    for (const std::string &c : codes) {
      ss_stock *s = ssmodel_find_stock(ex, c.c_str());
      if (!s || (int)watched.size() == kRows) continue;
      wlist_add_item(wl, s);
      watched.push_back(s);
      ASSERT_EQ(0, ssnotify_add(s, 0xFFFFFFFFu, seen_instr, &seen, 0, 0));
    }
    ASSERT_EQ((int)watched.size(), kRows);
    ASSERT_EQ(0, ssnotify_add_wild(kWatchWildMask, seen_instr, &seen, 0, 0));
    w = watchlist_new(nullptr, 0);
    w->r = {0, 0, 1400, (kRows + 2) * w->row_h};
    widget_show(w);
    w->cls->geometry_changed(w);
    ASSERT_EQ(0, watchlist_set_source(w, wl));
    ASSERT_EQ(watchlist_row_count(w), kRows);
    glrecord_scope rec;
    w->cls->draw(w);  // everything laid out once, drawn into both buffers
    w->cls->draw(w);
  }
  // Between a begin and its end GL takes only vertex data: a state change
  // there is refused with an error and has no effect.
  {
    bool inside = false;
    for (const std::string &call : glrecord_calls()) {
      if (call.rfind("Begin(", 0) == 0) {
        EXPECT_FALSE(inside) << "a begin inside a begin";
        inside = true;
      } else if (call.rfind("End(", 0) == 0) {
        inside = false;
      } else if (inside) {
        const bool vertex_data = call.rfind("Vertex", 0) == 0 || call.rfind("Color", 0) == 0 ||
                                 call.rfind("TexCoord", 0) == 0 || call.rfind("Normal", 0) == 0;
        EXPECT_TRUE(vertex_data) << call << " between a begin and its end";
      }
    }
  }

  constexpr int kRounds = 8;
  int partial = 0, touched = 0;
  for (int round = 0; round < kRounds; round++) {
    SCOPED_TRACE(round);
    const uint64_t target = sim_live_count(live) + 30;
    ASSERT_TRUE(wait_for([&] { return sim_live_count(live) >= target; }, 10000));
    const uint64_t length = sim_stream_length(sim, 0);
    ASSERT_TRUE(wait_for(
        [&] {
          core_lock lock;
          return ssproto_exchange_position(0) >= length;
        },
        10000));
    core_lock lock;
    seen.changed.clear();
    seen.global = false;
    ssclient_deliver();
    int stale = 0, marked = 0, i = 0;
    for (watchlist_row *r = w->rows; r; r = r->next, i++) {
      auto *s = static_cast<ss_stock *>(r->in);
      ASSERT_EQ(r->in, watched[i]) << "row order";
      EXPECT_EQ(r->bid, plain(s->bid)) << s->code;
      EXPECT_EQ(r->offer, plain(s->offer)) << s->code;
      EXPECT_EQ(r->last, plain(s->last)) << s->code;
      EXPECT_EQ(r->high, plain(s->high)) << s->code;
      EXPECT_EQ(r->low, plain(s->low)) << s->code;
      EXPECT_EQ(r->volume, s->volume) << s->code;
      bool changed = seen.global || seen.changed.count(r->in);
      EXPECT_EQ(r->stale != 0, changed) << s->code;
      stale += r->stale != 0;
      bool fading = false;
      for (const fade_value &f : r->fade) fading |= f.state != nullptr;
      marked += r->draw > 0 || fading;
    }
    uint32_t before = w->rebuilds, drawn = w->row_draws;
    {
      glrecord_scope rec;
      w->cls->draw(w);
    }
    EXPECT_EQ(w->rebuilds - before, (uint32_t)stale) << "only changed rows are laid out";
    EXPECT_EQ(w->row_draws - drawn, (uint32_t)marked) << "only rows marked or fading are drawn";
    EXPECT_GE(marked, stale);
    if (stale > 0 && stale < kRows) partial++;
    touched += stale;
  }
  RecordProperty("rows_laid_out", touched);
  EXPECT_GT(partial, kRounds / 2) << "deliveries touched some rows, not all";
  EXPECT_GT(touched, 0);
}

}  // namespace
