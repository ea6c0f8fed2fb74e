// Replay of a busy day in the depth window: a 200,000-event day of adds,
// amends, deletes and clears on one stock, played from its start to the
// end (events per second through both children's models), and the cost of
// a seek: a far one (rebuilt from the start of the day) and a near one
// (within 23 events of the last seek, applied from the cursor). Beside them
// the reference: the same events applied to a plain vector book, the least
// any replay must do.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "lib/fade.h"
#include "ssevent.h"
#include "sstime.h"
#include "testlog.h"
#include "testmodel.h"
#include "ui/object.h"
#include "ui/box.h"
#include "windows/depthwin.h"

namespace {

constexpr int kEvents = 200000;

int no_request(instr *) { return 0; }

struct Day {
  ss_stock *stock = nullptr;
  std::vector<ss_event *> events;
  widget *win = nullptr;

  Day() {
    start_runtime(TestStderr::kOff);
    object_init();
    start_terminal_model();
    fade_init();
    static depthwin_services svc;
    svc = *depthwin_get_services();
    svc.request_events = no_request;
    depthwin_set_services(&svc);
    ss_exchange *ex = ssmodel_exchange(0);
    ssmodel_set_date(ex, sstime_pack_date(8, 12, 2026));
    stock = ssmodel_get_stock(ex, "BHP");
    stock->flags |= 0x7 | 0x10;
    std::mt19937 rng(1);
    ss_time t = sstime_pack(0, 0, 10, 8, 12, 2026);
    uint32_t orders[2] = {0, 0};
    for (int i = 0; i < kEvents; i++) {
      if (i % 16 == 15) t = sstime_add_seconds(t, 1);  // 16 a second: 10:00 to 13:28
      int side = int(rng() % 2);
      uint32_t op = rng() % 100;
      if (orders[side] < 50 || op < 35) {
        uint32_t price = side == 0 ? 10000 - rng() % 200 : 10005 + rng() % 200;
        ssevent_apply_depth_summary(stock, t, side, price, 100 + rng() % 900, 1, nullptr);
        orders[side]++;
      } else if (op < 65) {
        ssevent_amend_depth(stock, t, side, 1 + rng() % orders[side], 100 + rng() % 900);
      } else {
        ssevent_delete_depth(stock, t, side, 1 + rng() % orders[side]);
        orders[side]--;
      }
    }
    for (ss_event *e = stock->events.oldest; e; e = e->newer) events.push_back(e);
    widget *root = widget_new(nullptr, vbox_type());
    widget_show(root);
    win = depthwin_new(root);
    win->r = {0, 0, 600, 400};
    win->cls->geometry_changed(win);
    depthwin_set_instrument(win, stock);
  }
};

Day &day() {
  static Day d;
  return d;
}

void BM_ReplayWholeDay(benchmark::State &st) {
  Day &d = day();
  for (auto _ : st) depthwin_play_to_live(d.win, sstime_pack(0, 0, 16, 8, 12, 2026), 1, 1);
  if (depthwin_get_book(d.win)->cursor != d.events.back()) st.SkipWithError("the day was not played to its end");
  st.counters["events"] = double(d.events.size());
  st.SetItemsProcessed(int64_t(st.iterations()) * int64_t(d.events.size()));
}
BENCHMARK(BM_ReplayWholeDay)->Unit(benchmark::kMillisecond);

void BM_SeekFar(benchmark::State &st) {
  Day &d = day();
  std::mt19937 rng(2);
  for (auto _ : st) depthwin_seek_event(d.win, d.events[rng() % d.events.size()], 1);
}
BENCHMARK(BM_SeekFar)->Unit(benchmark::kMillisecond);

void BM_SeekNear(benchmark::State &st) {
  Day &d = day();
  size_t k = d.events.size() / 2;
  depthwin_seek_event(d.win, d.events[k], 1);
  for (auto _ : st) {
    k += 20;
    if (k >= d.events.size()) {
      st.PauseTiming();
      k = d.events.size() / 2;
      depthwin_seek_event(d.win, d.events[k], 1);
      st.ResumeTiming();
    }
    depthwin_seek_event(d.win, d.events[k], 0);
  }
}
BENCHMARK(BM_SeekNear)->Unit(benchmark::kMicrosecond);

// The reference: the same events applied to queues of orders in vectors.
void BM_ReferenceVectorBook(benchmark::State &st) {
  Day &d = day();
  for (auto _ : st) {
    std::vector<std::pair<uint32_t, uint64_t>> side[2];
    for (const ss_event *e : d.events) {
      switch (e->kind) {
        case kEvDepthAdd: {
          auto *p = static_cast<const ss_ev_depth_add *>(e->payload);
          auto &q = side[p->side];
          q.insert(q.begin() + std::min<size_t>(p->position - 1, q.size()), {p->price, p->volume});
          break;
        }
        case kEvDepthAmend: {
          auto *p = static_cast<const ss_ev_depth_amend *>(e->payload);
          if (p->position <= side[p->side].size()) side[p->side][p->position - 1].second = p->volume;
          break;
        }
        case kEvDepthDelete: {
          auto *p = static_cast<const ss_ev_depth_delete *>(e->payload);
          auto &q = side[p->side];
          if (p->position <= q.size()) q.erase(q.begin() + (p->position - 1));
          break;
        }
        default:
          break;
      }
    }
    benchmark::DoNotOptimize(side[0].size() + side[1].size());
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * int64_t(d.events.size()));
}
BENCHMARK(BM_ReferenceVectorBook)->Unit(benchmark::kMillisecond);

}  // namespace
