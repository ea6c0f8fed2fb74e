// The feed registry against a real peer: the market client's HTTP side
// requests to the simulator's file server on loopback, with the client's io
// thread running. Feeds reload and tell their watchers, a missing file, an
// https address and a 20 MB document fail with their reason, a feed
// deleted and registered again while its document drips in ends with the new
// download's items only, and the registry stopping during a download keeps
// the record the io thread still writes. The suite's name puts it in the
// ThreadSanitizer run.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "config/config.h"
#include "lib/timer.h"
#include "plat.h"
#include "rss/rss.h"
#include "sim.h"
#include "sim_feeds.h"
#include "sim_http.h"
#include "sim_msg.h"
#include "ssclient.h"
#include "ssio-state.h"
#include "ssio.h"
#include "testclient.h"
#include "testclock.h"
#include "testlog.h"
#include "testsim.h"

namespace {

struct Env : ClientRuntime {
  void SetUp() override {
    ClientRuntime::SetUp();
    ASSERT_EQ(timer_init(), 0);
    ASSERT_EQ(config_init(), 0);
  }
};
const auto* g_env = ::testing::AddGlobalTestEnvironment(new Env);

std::string rss_doc(const std::string& title, int items, size_t pad = 0) {
  std::string d = "<rss version=\"2.0\"><channel><title>" + title + "</title>";
  for (int i = 0; i < items; i++)
    d += "<item><title>" + title + " " + std::to_string(i) + "</title><description>" + std::string(pad, 'p') +
         "</description></item>";
  return d + "</channel></rss>";
}

struct Watcher {
  std::vector<int> events;
  static void cb(rss_feed*, int event, void* owner, uintptr_t, uint32_t) {
    static_cast<Watcher*>(owner)->events.push_back(event);
  }
};

class FeedConcurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(make_test_sim(&sim, 50, nullptr));
    port = sim_start(sim, 0);
    ASSERT_GT(port, 0);
    ASSERT_NO_FATAL_FAILURE(start_test_client(port));
    ssio_set_select_timeout(10);
    done = false;
    thread = plat_thread_create(
        [](void* arg) {
          auto* self = static_cast<FeedConcurrency*>(arg);
          ssclient_run();
          self->done = true;
        },
        this);
    ASSERT_GE(thread, 0);
    ASSERT_TRUE(sim_wait_logins(sim, 1, 8000));
    ASSERT_TRUE(wait_for([] { return ssclient_is_online() != 0; }, 8000));
    // The test body is the user-interface thread: it works holding the
    // client's core lock, as the frame loop does, and lets go only while it
    // sleeps (ssclient_sleep).
    ssclient_block();
    ASSERT_EQ(rss_init(), 0);
  }
  // The program's order: the io thread stops before the registry does, so
  // the feeds outlive every call the io thread makes (the registry also keeps
  // the records of downloads still running when it stops first; see
  // ShutdownDuringADownloadKeepsTheRecord).
  void TearDown() override {
    ssclient_unblock();
    stop_io_thread();
    rss_shutdown();
    sim_destroy(sim);
    ssclient_fini();
  }
  void stop_io_thread() {
    if (thread < 0) return;
    ssclient_stop();
    EXPECT_TRUE(wait_for([this] { return done.load(); }, 30000));
    plat_thread_join(thread);
    thread = -1;
  }
  void serve(const std::string& path, const std::string& body, int32_t drip_bytes = 0, int32_t drip_ms = 0,
             bool no_length = false) {
    sim_http_file f;
    f.path = path;
    f.body = body;
    f.no_length = no_length;
    f.drip_bytes = drip_bytes;
    f.drip_ms = drip_ms;
    ASSERT_EQ(0, sim_http_add_file(sim, f));
  }
  std::string url(const std::string& path) { return "http://127.0.0.1:" + std::to_string(port) + path; }
  // Polls as the frame loop would until the condition holds. The deadline
  // only ends a hang: nothing here is timed.
  static bool poll_until(const std::function<bool()>& cond, int ms = 60000) {
    return sleep_until(
        [&] {
          rss_poll();
          return cond();
        },
        ms);
  }
  static bool sleep_until(const std::function<bool()>& cond, int ms) {
    for (int waited = 0; waited < ms; waited += 5) {
      if (cond()) return true;
      ssclient_sleep(5);
    }
    return cond();
  }

  sim_server* sim = nullptr;
  int port = 0;
  plat_slot thread = -1;
  std::atomic<bool> done{false};
};

TEST_F(FeedConcurrency, RegisteredFeedLoadsAndReloads) {
  serve("/feeds/a.xml", rss_doc("First", 3));
  rss_feed* f = rss_feed_create_registered(url("/feeds/a.xml").c_str(), 60, 0);
  Watcher w;
  rss_feed_watch(f, Watcher::cb, &w, 0, 0);
  rss_feed_activate(f, &w);
  ASSERT_TRUE(poll_until([&] { return f->item_count == 3; }));
  EXPECT_STREQ(f->first_item->title, "First 0");
  EXPECT_STREQ(rss_feed_name(f), "First");
  EXPECT_EQ(w.events.back(), 0);
  serve("/feeds/a.xml", rss_doc("Second", 2));
  rss_feed_refresh(f);
  ASSERT_TRUE(poll_until([&] { return f->item_count == 2; }));
  EXPECT_STREQ(f->last_item->title, "Second 1");
  EXPECT_STREQ(rss_feed_failure(f), "");
  rss_feed_unwatch(f, &w);
}

// The five feeds a new user is given, as the simulator serves them: each
// loads without a failure, the general ones with their four stories, the
// announcement ones (no announcement yet) empty.
TEST_F(FeedConcurrency, TheSimulatorsDefaultFeedsLoad) {
  ASSERT_EQ(0, sim_feeds_start(sim, sstime_pack_date(10, 12, 2026)));
  for (const char* path : kSimFeedPaths) {
    SCOPED_TRACE(path);
    const bool announcements = strstr(path, "announcements") || strstr(path, "headlines");
    rss_feed* f = rss_feed_create_registered(url(path).c_str(), 600, 0);
    ASSERT_NE(f, nullptr);
    Watcher w;
    rss_feed_watch(f, Watcher::cb, &w, 0, 0);
    rss_feed_activate(f, &w);
    ASSERT_TRUE(poll_until([&] { return !w.events.empty() || rss_feed_failure(f)[0] != 0; }));
    EXPECT_STREQ(rss_feed_failure(f), "");
    EXPECT_EQ(f->item_count, announcements ? 0u : 4u);
    if (!announcements) {
      ASSERT_NE(f->first_item, nullptr);
      EXPECT_NE(std::string(f->first_item->link).find("/news/"), std::string::npos);
    }
    rss_feed_unwatch(f, &w);
  }
}

// A 20 MB document fails as too large: at its first bytes when the reply
// announces its length, and right at the cap when it does not (the body then
// ends with the connection), the link reading no further either way.
TEST_F(FeedConcurrency, FailuresKeepTheirReason) {
  const std::string big = rss_doc("Big", 20, 1 << 20);
  struct Case {
    std::string url;
    bool big, no_length;
    const char* reason;
    uint32_t read_at_most;  // bytes the link may have taken in
  } cases[] = {
      {url("/feeds/none.xml"), false, false, "download failed", 0},
      {"https://127.0.0.1:" + std::to_string(port) + "/feeds/a.xml", false, false, nullptr, 0},
      {url("/feeds/big.xml"), true, false, "too large", 1 << 20},
      {url("/feeds/big.xml"), true, true, "too large", kRssMaxDownload + (1 << 20)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url + (c.no_length ? " (no length)" : ""));
    if (c.big) serve("/feeds/big.xml", big, 0, 0, c.no_length);
    LogCapture log;
    rss_feed* f = rss_feed_create_temp(c.url.c_str(), 60);
    Watcher w;
    rss_feed_watch(f, Watcher::cb, &w, 0, 0);
    rss_feed_activate(f, &w);
    ASSERT_TRUE(poll_until([&] { return rss_feed_failure(f)[0] != 0; }));
    if (c.reason) {
      EXPECT_STREQ(rss_feed_failure(f), c.reason);
    }
    if (c.read_at_most) {
      ssio_progress p;
      ssio_state_get_progress(&p, &f->progress);
      EXPECT_EQ(p.phase, kSsioProgressFailed);
      EXPECT_LE(p.received, c.read_at_most);
    }
    EXPECT_EQ(f->item_count, 0u);
    EXPECT_TRUE(log.has("failed to reload") || log.has("can't request")) << rss_feed_failure(f);
    rss_feed_unwatch(f, &w);
  }
}

// The registry stops while a watched feed's download still drips in and the
// io thread runs: the feed's record, which holds the download's progress,
// must outlive the io thread's last calls (more data, and the failed
// progress written when the client stops), and a new start of the registry
// works beside the kept record.
TEST_F(FeedConcurrency, ShutdownDuringADownloadKeepsTheRecord) {
  serve("/feeds/slow.xml", rss_doc("Slow", 40, 200), 64, 2);
  rss_feed* f = rss_feed_create_temp(url("/feeds/slow.xml").c_str(), 60);
  Watcher w;
  rss_feed_watch(f, Watcher::cb, &w, 0, 0);
  rss_feed_activate(f, &w);
  ASSERT_TRUE(sleep_until(
      [&] {
        ssio_progress p;
        ssio_state_get_progress(&p, &f->progress);
        return p.received > 0;
      },
      60000));
  LogCapture log;
  rss_shutdown();  // the feed is still watched and downloading
  EXPECT_TRUE(log.has("still watched at shutdown"));
  EXPECT_TRUE(log.has("keeping 1 cancelled feed records"));
  EXPECT_TRUE(w.events.empty());  // its watcher is not called at shutdown
  // The io thread goes on until the cancellation reaches it (the download
  // may have ended just before), writing the failure into the kept record.
  ASSERT_TRUE(sleep_until([&] { return log.has("partway") || log.has("can't find request"); }, 60000));
  ssio_progress p;
  ssio_state_get_progress(&p, &f->progress);
  EXPECT_TRUE(p.phase == kSsioProgressFailed || p.phase == kSsioProgressDone) << p.phase;
  ssclient_unblock();
  stop_io_thread();
  ssclient_block();
  ASSERT_EQ(rss_init(), 0);
  serve("/feeds/a.xml", rss_doc("After", 2));
  rss_feed* g = rss_feed_create_registered(url("/feeds/a.xml").c_str(), 60, 0);
  ASSERT_NE(g, nullptr);
  EXPECT_NE(g, f);
  EXPECT_EQ(rss_feed_count(), 1);
}

TEST_F(FeedConcurrency, DeleteAndRegisterAgainDuringADrippingDownload) {
  serve("/feeds/slow.xml", rss_doc("Slow", 40, 200), 64, 2);
  serve("/feeds/fast.xml", rss_doc("Fast", 2));
  for (int round = 0; round < 3; round++) {
    rss_feed* f = rss_feed_create_temp(url("/feeds/slow.xml").c_str(), 60);
    Watcher w;
    rss_feed_watch(f, Watcher::cb, &w, 0, 0);
    rss_feed_activate(f, &w);
    ASSERT_TRUE(sleep_until(
        [&] {
          ssio_progress p;
          ssio_state_get_progress(&p, &f->progress);
          return p.received > 0;
        },
        8000));
    rss_feed_unwatch(f, &w);  // deleted while bytes still arrive
    EXPECT_EQ(f->request.load(), -1);
    rss_feed_register(f);  // revived from the kept record
    rss_feed_set_url(f, url("/feeds/fast.xml").c_str());
    Watcher w2;
    rss_feed_watch(f, Watcher::cb, &w2, 0, 0);
    rss_feed_activate(f, &w2);
    ASSERT_TRUE(poll_until([&] { return f->item_count > 0 || rss_feed_failure(f)[0]; }));
    EXPECT_EQ(f->item_count, 2u);
    EXPECT_STREQ(f->title, "Fast");
    rss_feed_unwatch(f, &w2);
    rss_feed_release(f);
  }
}

}  // namespace
