// The feed registry on a recording HTTP client and a clock of its own: lists
// and positions, periods and due reloads, watchers and their events, shared
// URLs, failures with their reason, deletes during a download (late data,
// revival) and the configuration round trip.
#include "rss/rss.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "lib/timer.h"
#include "rss/parse.h"
#include "testlog.h"

namespace {

struct Env : ::testing::Environment {
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    ASSERT_EQ(timer_init(), 0);
    ASSERT_EQ(config_init(), 0);
  }
};
const auto* kEnv = ::testing::AddGlobalTestEnvironment(new Env);

// The recording client: every request kept with its handler and progress.
struct Request {
  std::string url;
  int32_t (*handler)(const uint8_t*, int32_t, void*, uint32_t);
  void* context;
  uint32_t argument;
  ssio_progress* progress;
  bool cancelled;
};
std::vector<Request> g_requests;
bool g_refuse;

int32_t fake_request(const char* url, int32_t (*h)(const uint8_t*, int32_t, void*, uint32_t), void* c, uint32_t a,
                     ssio_progress* p) {
  if (g_refuse) return -1;
  g_requests.push_back({url, h, c, a, p, false});
  return (int32_t)g_requests.size();
}
int fake_cancel(int32_t id) {
  g_requests.at(id - 1).cancelled = true;
  return 0;
}
void fake_progress(ssio_progress* out, const ssio_progress* p) { *out = *p; }
const rss_client kFake = {fake_request, fake_cancel, fake_progress};

ss_time g_now;
ss_time fake_now() { return g_now; }

// Delivers a body in two pieces and marks the request done (or failed).
int32_t deliver(size_t i, const std::string& body, int32_t phase = kSsioProgressDone) {
  Request& r = g_requests.at(i);
  size_t half = body.size() / 2;
  int32_t a = r.handler((const uint8_t*)body.data(), (int32_t)half, r.context, r.argument);
  int32_t b = r.handler((const uint8_t*)body.data() + half, (int32_t)(body.size() - half), r.context, r.argument);
  r.progress->phase = phase;
  return a < 0 || b < 0 ? -1 : a + b;
}

std::string rss_doc(const std::string& title, int items) {
  std::string d = "<rss version=\"2.0\"><channel><title>" + title + "</title><link>http://x/</link>";
  for (int i = 0; i < items; i++) d += "<item><title>item " + std::to_string(i) + "</title></item>";
  return d + "</channel></rss>";
}

// A watcher that records its events, and may unwatch itself on one.
struct Watcher {
  std::vector<int> events;
  int unwatch_on = -1;
  static void cb(rss_feed* f, int event, void* owner, uintptr_t, uint32_t) {
    Watcher* w = (Watcher*)owner;
    w->events.push_back(event);
    if (event == w->unwatch_on) rss_feed_unwatch(f, owner);
  }
};

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    g_requests.clear();
    g_refuse = false;
    g_now = sstime_parse_date_time("2024-03-04T05:06:07Z");
    ASSERT_NE(g_now, 0u);
    rss_set_client(&kFake);
    rss_set_clock(fake_now);
    ASSERT_EQ(rss_init(), 0);
  }
  void TearDown() override {
    rss_shutdown();
    rss_set_client(nullptr);
    rss_set_clock(nullptr);
  }
  static void advance(int32_t seconds) { g_now = sstime_add_seconds(g_now, seconds); }
  static std::vector<std::string> titles(const rss_feed* f) {
    std::vector<std::string> out;
    for (rss_item* it = f->first_item; it; it = it->next) out.push_back(it->title);
    return out;
  }
};

TEST_F(Registry, PeriodsAreClamped) {
  struct {
    uint32_t given, kept;
  } cases[] = {{0, 10}, {9, 10}, {10, 10}, {600, 600}, {86400, 86400}, {4000000000u, 86400}};
  for (auto c : cases) {
    rss_feed* f = rss_feed_create_temp("http://a/", c.given);
    ASSERT_TRUE(f);
    EXPECT_EQ(rss_feed_period(f), c.kept) << c.given;
    rss_feed_delete(f);
  }
  rss_feed* f = rss_feed_create_temp("http://a/", 60);
  Watcher w;
  rss_feed_watch(f, Watcher::cb, &w, 0, 0);
  rss_feed_set_period(f, 9);
  EXPECT_EQ(rss_feed_period(f), 60u);
  EXPECT_TRUE(w.events.empty());
  rss_feed_set_period(f, 30);
  EXPECT_EQ(rss_feed_period(f), 30u);
  EXPECT_EQ(w.events, (std::vector<int>{2}));
  rss_feed_unwatch(f, &w);  // the last watcher of a temporary feed: deleted
  EXPECT_EQ(rss_feed_count(), 0);
}

TEST_F(Registry, WatchedFeedReloadsOnItsPeriodAndToldWatchers) {
  rss_feed* f = rss_feed_create_registered("http://feeds.example/a.xml", 86400, 0);
  ASSERT_TRUE(f);
  Watcher w;
  ASSERT_EQ(rss_feed_watch(f, Watcher::cb, &w, 7, 8), 0);
  rss_poll();
  EXPECT_TRUE(g_requests.empty());  // not active yet: never loaded
  ASSERT_EQ(rss_feed_activate(f, &w), 0);
  ASSERT_EQ(g_requests.size(), 1u);  // activating an empty feed loads it at once
  EXPECT_EQ(g_requests[0].url, "http://feeds.example/a.xml");
  rss_poll();
  EXPECT_EQ(g_requests.size(), 1u);
  ASSERT_GT(deliver(0, rss_doc("Desk &amp; wire", 2)), 0);
  rss_poll();
  EXPECT_EQ(titles(f), (std::vector<std::string>{"item 0", "item 1"}));
  EXPECT_STREQ(rss_feed_name(f), "Desk & wire");  // the title names an unnamed feed
  EXPECT_EQ(w.events, (std::vector<int>{2, 0}));
  EXPECT_STREQ(rss_feed_failure(f), "");
  EXPECT_EQ(f->last_success, g_now);
  // A day's period: not due a second early, due on the second, across days.
  advance(86399);
  rss_poll();
  EXPECT_EQ(g_requests.size(), 1u);
  advance(1);
  rss_poll();
  EXPECT_EQ(g_requests.size(), 2u);
  // Deactivated: never reloaded however old.
  deliver(1, rss_doc("Desk &amp; wire", 3));
  rss_poll();
  EXPECT_EQ(f->item_count, 3u);
  rss_feed_deactivate(f, &w);
  advance(10 * 86400);
  rss_poll();
  EXPECT_EQ(g_requests.size(), 2u);
  // Refresh makes an active feed due at once.
  rss_feed_activate(f, &w);
  advance(-10 * 86400 + 5);
  rss_poll();
  EXPECT_EQ(g_requests.size(), 2u);
  rss_feed_refresh(f);
  rss_poll();
  EXPECT_EQ(g_requests.size(), 3u);
  rss_feed_unwatch(f, &w);
}

TEST_F(Registry, FailuresKeepOldItemsAndTheirReason) {
  rss_feed* f = rss_feed_create_temp("http://feeds.example/b.xml", 60);
  Watcher w;
  rss_feed_watch(f, Watcher::cb, &w, 0, 0);
  rss_feed_activate(f, &w);
  deliver(0, rss_doc("B", 1));
  rss_poll();
  ASSERT_EQ(f->item_count, 1u);
  advance(60);
  rss_poll();
  ASSERT_EQ(g_requests.size(), 2u);
  LogCapture log;
  deliver(1, "<html>half a bo", kSsioProgressFailed);
  rss_poll();
  EXPECT_TRUE(log.has("failed to reload http://feeds.example/b.xml"));
  EXPECT_STREQ(rss_feed_failure(f), "download failed");
  EXPECT_EQ(titles(f), (std::vector<std::string>{"item 0"}));
  EXPECT_EQ(f->request.load(), -1);
  advance(59);
  rss_poll();
  EXPECT_EQ(g_requests.size(), 2u);
  advance(1);
  rss_poll();
  EXPECT_EQ(g_requests.size(), 3u);
  // Too large: the handler ends the download at the cap.
  std::string big(1 << 20, 'x');
  Request& r = g_requests[2];
  int32_t last = 0;
  for (int i = 0; i < 9 && last >= 0; i++) last = r.handler((const uint8_t*)big.data(), (int32_t)big.size(), r.context, r.argument);
  EXPECT_EQ(last, -1);
  r.progress->phase = kSsioProgressFailed;
  rss_poll();
  EXPECT_STREQ(rss_feed_failure(f), "too large");
  EXPECT_EQ(f->item_count, 1u);
  // A reply that announces a length past the cap is refused at its first
  // bytes; one within it is taken.
  for (uint32_t total : {(uint32_t)kRssMaxDownload + 1, (uint32_t)kRssMaxDownload}) {
    advance(60);
    rss_poll();
    Request& q = g_requests.back();
    q.progress->total = total;
    int32_t used = q.handler((const uint8_t*)"<rss", 4, q.context, q.argument);
    EXPECT_EQ(used, total > (uint32_t)kRssMaxDownload ? -1 : 4) << total;
    q.progress->phase = kSsioProgressFailed;
    rss_poll();
    EXPECT_STREQ(rss_feed_failure(f), total > (uint32_t)kRssMaxDownload ? "too large" : "download failed");
  }
  // A refused request is a failure with its reason too.
  g_refuse = true;
  advance(60);
  rss_poll();
  EXPECT_STREQ(rss_feed_failure(f), "can't request");
  rss_feed_unwatch(f, &w);
}

TEST_F(Registry, FeedsWithOneUrlShareOneDownload) {
  rss_feed* a = rss_feed_create_temp("http://feeds.example/s.xml", 60);
  rss_feed* b = rss_feed_create_temp("http://feeds.example/s.xml", 60);
  Watcher wa, wb;
  rss_feed_watch(a, Watcher::cb, &wa, 0, 0);
  rss_feed_watch(b, Watcher::cb, &wb, 0, 0);
  rss_feed_activate(a, &wa);
  rss_feed_activate(b, &wb);  // a's download runs: b takes a's (empty) state
  rss_poll();
  ASSERT_EQ(g_requests.size(), 1u);
  deliver(0, rss_doc("Shared", 2));
  rss_poll();
  EXPECT_EQ(titles(b), titles(a));
  EXPECT_EQ(b->item_count, 2u);
  EXPECT_NE(b->first_item, a->first_item);
  EXPECT_EQ(wa.events.back(), 0);
  EXPECT_EQ(wb.events.back(), 0);
  EXPECT_STREQ(rss_feed_name(b), "Shared");
  // A third feed activated later copies the items without a download.
  rss_feed* c = rss_feed_create_temp("http://feeds.example/s.xml", 60);
  Watcher wc;
  rss_feed_watch(c, Watcher::cb, &wc, 0, 0);
  rss_feed_activate(c, &wc);
  EXPECT_EQ(g_requests.size(), 1u);
  EXPECT_EQ(c->item_count, 2u);
  for (auto [f, w] : {std::pair{a, &wa}, {b, &wb}, {c, &wc}}) rss_feed_unwatch(f, w);
}

// A stored configuration may hold the largest id there is: a new feed, made
// or registered from a temporary one, then takes the lowest free id.
TEST_F(Registry, AfterTheLargestIdTheLowestFreeIsHandedOut) {
  rss_feed* one = rss_feed_create_registered("http://feeds.example/1.xml", 60, 0);
  ASSERT_NE(one, nullptr);
  ASSERT_EQ(one->id, 1);
  ASSERT_NE(rss_feed_create_registered("http://feeds.example/top.xml", 60, INT32_MAX), nullptr);
  rss_feed* two = rss_feed_create_registered("http://feeds.example/2.xml", 60, 0);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(two->id, 2);
  rss_feed* temp = rss_feed_create_temp("http://feeds.example/3.xml", 60);
  ASSERT_NE(temp, nullptr);
  rss_feed_register(temp);
  EXPECT_EQ(temp->id, 3);
  EXPECT_EQ(rss_feed_find(3), temp);
  ASSERT_EQ(rss_feed_delete(one), 0);
  rss_feed* again = rss_feed_create_registered("http://feeds.example/1b.xml", 60, 0);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->id, 1);
  EXPECT_EQ(rss_feed_count(), 4);
}

TEST_F(Registry, DeleteRules) {
  rss_feed* f = rss_feed_create_temp("http://feeds.example/d.xml", 60);
  Watcher w;
  rss_feed_watch(f, Watcher::cb, &w, 0, 0);
  {
    LogCapture log;
    EXPECT_EQ(rss_feed_delete(f), -1);
    EXPECT_TRUE(log.has("because people are watching"));
  }
  EXPECT_EQ(rss_feed_unwatch(f, &w), 0);  // the last watcher: the feed goes
  EXPECT_TRUE(w.events.empty());
  rss_feed* again = rss_feed_create_temp("http://feeds.example/d2.xml", 60);
  EXPECT_EQ(again, f);  // its record is back in the pool
  EXPECT_EQ(rss_feed_delete(again), 0);
  // A watcher that unwatches itself while told of new items.
  rss_feed* g = rss_feed_create_temp("http://feeds.example/e.xml", 60);
  Watcher self;
  self.unwatch_on = 0;
  rss_feed_watch(g, Watcher::cb, &self, 0, 0);
  rss_feed_activate(g, &self);
  deliver(0, rss_doc("E", 1));
  rss_poll();  // g is deleted after the call: ASan would see a use after it
  EXPECT_EQ(self.events, (std::vector<int>{2, 0}));
}

TEST_F(Registry, DeleteDuringDownloadKeepsTheRecordAndIgnoresLateData) {
  rss_feed* f = rss_feed_create_temp("http://feeds.example/k.xml", 60);
  Watcher w;
  rss_feed_watch(f, Watcher::cb, &w, 0, 0);
  rss_feed_activate(f, &w);
  ASSERT_EQ(g_requests.size(), 1u);
  rss_feed_deactivate(f, &w);
  // Unwatching deletes it: the download is cancelled, the record kept.
  LogCapture log;
  rss_feed_unwatch(f, &w);
  EXPECT_TRUE(log.has("cancelling http://feeds.example/k.xml download"));
  EXPECT_TRUE(g_requests[0].cancelled);
  std::string late = rss_doc("late", 1);
  EXPECT_EQ(g_requests[0].handler((const uint8_t*)late.data(), (int32_t)late.size(), f, g_requests[0].argument),
            (int32_t)late.size());
  EXPECT_TRUE(log.has("ignoring data on removed feed"));
  // Revived by registering: its new download never takes the old bytes.
  rss_feed_register(f);
  EXPECT_EQ(rss_feed_count(), 1);
  Watcher w2;
  rss_feed_watch(f, Watcher::cb, &w2, 0, 0);
  rss_feed_activate(f, &w2);
  ASSERT_EQ(g_requests.size(), 2u);
  g_requests[0].handler((const uint8_t*)late.data(), (int32_t)late.size(), f, g_requests[0].argument);
  deliver(1, rss_doc("fresh", 1));
  rss_poll();
  EXPECT_STREQ(f->title, "fresh");
  EXPECT_EQ(f->item_count, 1u);
  rss_feed_unwatch(f, &w2);
}

TEST_F(Registry, ReleaseRestoreAndMoveRenumber) {
  std::vector<rss_feed*> f;
  for (int i = 0; i < 4; i++) f.push_back(rss_feed_create_registered(("http://r/" + std::to_string(i)).c_str(), 60, 0));
  auto ids = [] {
    std::vector<int32_t> out;
    for (int32_t p = 0; p < rss_feed_count(); p++) out.push_back(rss_feed_id_at(p));
    return out;
  };
  EXPECT_EQ(ids(), (std::vector<int32_t>{1, 2, 3, 4}));
  rss_feed_release(f[1]);
  EXPECT_EQ(ids(), (std::vector<int32_t>{1, 3, 4}));
  EXPECT_EQ(f[2]->position, 1);
  rss_feed_restore(f[1]);
  EXPECT_EQ(ids(), (std::vector<int32_t>{1, 2, 3, 4}));
  for (int i = 0; i < 4; i++) EXPECT_EQ(f[i]->position, i);
  rss_feed_move(0, 99);
  EXPECT_EQ(ids(), (std::vector<int32_t>{2, 3, 4, 1}));
  rss_feed_move(3, 1);
  EXPECT_EQ(ids(), (std::vector<int32_t>{2, 1, 3, 4}));
  rss_feed_move(7, 0);  // no feed there
  EXPECT_EQ(ids(), (std::vector<int32_t>{2, 1, 3, 4}));
  EXPECT_EQ(rss_feed_create_registered("http://r/x", 60, 3), nullptr);  // id in use
  rss_feed* high = rss_feed_create_registered("http://r/h", 60, 20);
  ASSERT_TRUE(high);
  EXPECT_EQ(rss_feed_create_registered("http://r/n", 60, 0)->id, 21);
  rss_feed* t = rss_feed_create_temp("http://t/", 60);
  rss_feed_register(t);
  EXPECT_EQ(t->id, 22);
  EXPECT_EQ(t->position, 6);
  int n = 0;
  for (rss_feed* i = rss_feed_iter_begin(); i; i = rss_feed_iter_next()) n++;
  EXPECT_EQ(n, 7);
  // A dead feed left at shutdown is restored, then freed (ASan checks).
  rss_feed_release(f[3]);
}

TEST_F(Registry, DisplayNames) {
  struct {
    const char* name;
    const char* title;
    const char* shown;
  } cases[] = {
      {"Mine", "Their title", "Mine"},
      {"", nullptr, "RSS Feed"},
      {"", "Short title", "Short title"},
      {"", "A title that runs well past the limit", "A title that runs well past the"},
      {"", "A title that runs well, past  the limit", "A title that runs well, past "},
      {"", "Exactly thirty-one characters!! next", "Exactly thirty-one characters!!"},
      {"", "Averyveryveryveryveryverylongwordwithoutblanks", "Averyveryveryveryveryverylongwo"},
  };
  for (auto c : cases) {
    rss_feed* f = rss_feed_create_temp(nullptr, 60);
    if (c.name[0]) rss_feed_set_name(f, c.name);
    if (c.title) rss_feed_set_title(f, c.title);
    EXPECT_STREQ(rss_feed_display_name(f), c.shown) << (c.title ? c.title : "-");
    rss_feed_delete(f);
  }
  rss_feed* f = rss_feed_create_registered("http://n/", 60, 0);
  rss_feed_set_name(f, "caf\xC3\xA9 name that is much longer than the field holds\xC3\xA9");
  EXPECT_LE(strlen(rss_feed_name(f)), 31u);
  EXPECT_TRUE(rss_name_is_unique("other"));
  EXPECT_FALSE(rss_name_is_unique(rss_feed_name(f)));
  EXPECT_FALSE(rss_name_is_unique(""));
}

TEST_F(Registry, SurvivesARestartThroughTheConfiguration) {
  rss_feed* a = rss_feed_create_registered("http://c/a.xml", 120, 0);
  rss_feed_set_name(a, "Morning wire");
  rss_feed_set_title(a, "The morning wire, all day");
  rss_feed* b = rss_feed_create_registered("http://c/b.xml?x=1&y=2", 3600, 7);
  rss_feed_create_temp("http://c/temporary.xml", 60);  // never saved
  rss_feed_move(1, 0);
  ASSERT_EQ(config_out_reset(), 0);
  rss_config_save();
  int32_t len = 0;
  std::string text = config_out_buffer(&len);
  EXPECT_NE(text.find("rss_feed 7\n"), std::string::npos) << text;
  EXPECT_NE(text.find("rss_feed.url http://c/a.xml\n"), std::string::npos) << text;
  EXPECT_NE(text.find("rss_feed.period 3600\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("temporary"), std::string::npos);
  (void)b;

  rss_shutdown();
  ASSERT_EQ(rss_init(), 0);
  EXPECT_EQ(rss_feed_count(), 0);
  ASSERT_EQ(config_load_buffer(text.data(), (int32_t)text.size()), 0);
  EXPECT_EQ(rss_config_load(), 2);
  ASSERT_EQ(rss_feed_count(), 2);
  rss_feed* b2 = rss_feed_find(7);
  rss_feed* a2 = rss_feed_find(1);
  ASSERT_TRUE(a2 && b2);
  EXPECT_EQ(b2->position, 0);
  EXPECT_STREQ(rss_feed_url(b2), "http://c/b.xml?x=1&y=2");
  EXPECT_EQ(rss_feed_period(b2), 3600u);
  EXPECT_FALSE(rss_feed_has_name(b2));
  EXPECT_STREQ(rss_feed_name(a2), "Morning wire");
  EXPECT_STREQ(rss_feed_title(a2), "The morning wire, all day");
  EXPECT_EQ(rss_feed_period(a2), 120u);
  // New ids continue after the highest loaded one.
  EXPECT_EQ(rss_feed_create_registered("http://c/c.xml", 60, 0)->id, 8);
}

}  // namespace
