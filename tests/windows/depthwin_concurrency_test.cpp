// The depth window's catch-up against a running io thread, under the real
// core and notify locks: the io thread keeps recording depth changes while
// the user-interface thread delivers them, and a change callback runs a
// catch-up that must try again (each load is told the newest event moved,
// as when the io thread got in between). Inside a delivery the catch-up may
// not give the core lock up: the io thread, holding it, would wait for the
// notify lock the delivery holds. A watchdog ends the process if the two
// threads ever stop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "lib/fade.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "sstime.h"
#include "testmodel.h"
#include "uitest.h"
#include "windows/depthwin.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

int no_request(instr *) { return 0; }

widget *g_win = nullptr;
std::atomic<int> g_catchups{0};

// Each load is followed by "the newest event moved" for the first three
// loads, so the catch-up reaches the attempts that would sleep.
void moved(depthwin_book *b, int attempt) {
  if (attempt < 3) b->cursor = nullptr;
}

void on_depth(const ss_change *, void *, uint64_t, uint32_t) {
  depthwin_catchup(g_win);
  g_catchups++;
}

class DepthConcurrency : public WidgetTest {};

TEST_F(DepthConcurrency, IoThreadRecordsWhileACatchUpRetriesInsideDelivery) {
  ASSERT_EQ(start_terminal_model(), 0);
  ASSERT_EQ(fade_init(), 0);
  ssclient_enable_locking();
  depthwin_services svc = *depthwin_get_services();
  svc.request_events = no_request;
  depthwin_set_services(&svc);  // the client's sleep, which drops the core lock
  ss_exchange *ex = ssmodel_exchange(0);
  ss_stock *s = ssmodel_get_stock(ex, "BHP");
  s->flags |= 0x7 | 0x10;
  ssclient_block();
  g_win = depthwin_new(root);
  g_win->r = {0, 0, 300, 300};
  g_win->cls->geometry_changed(g_win);
  depthwin_set_instrument(g_win, s);
  int owner = 0;
  ASSERT_EQ(0, ssnotify_add(s, kChangeDepth, on_depth, &owner, 0, 0));
  depthwin_set_catchup_hook(moved);
  ssclient_unblock();

  std::atomic<bool> done{false}, stop{false};
  std::thread watchdog([&] {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done.load()) {
      if (std::chrono::steady_clock::now() > deadline) {
        fprintf(stderr, "depth catch-up and io thread stopped each other\n");
        std::_Exit(1);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  std::atomic<int> recorded{0};
  std::thread io([&] {
    ss_time t = sstime_pack(0, 0, 10, 8, 12, 2026);
    for (uint32_t i = 0; !stop.load(); i++) {
      ssclient_io_lock();
      ssevent_apply_depth_summary(s, t, int(i % 2), i % 2 ? 1010 + i % 7 : 1000 - i % 7, 100, 1, nullptr);
      ssclient_io_unlock();
      recorded++;
      std::this_thread::yield();
    }
  });
  for (int round = 0; round < 200; round++) {
    while (recorded.load() <= round) std::this_thread::yield();
    ssclient_block();
    ASSERT_EQ(0, ssnotify_deliver());
    ssclient_unblock();
  }
  stop = true;
  io.join();
  done = true;
  watchdog.join();
  EXPECT_GT(g_catchups.load(), 0);

  ssclient_block();
  depthwin_set_catchup_hook(nullptr);
  ssnotify_remove(s, &owner);
  depthwin_tick(g_win);  // the catch-up left for the tick finishes here
  EXPECT_EQ(depthwin_get_book(g_win)->catchup_pending, 0u);
  EXPECT_EQ(depthwin_get_book(g_win)->cursor, s->events.newest);
  container_cls(root)->remove(root, g_win);
  widget_delete(g_win);
  ssclient_unblock();
  depthwin_set_services(nullptr);
  fade_fini();
  ssmodel_fini();
}

}  // namespace
