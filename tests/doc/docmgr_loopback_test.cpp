// The download manager against real peers on loopback, with the market
// client's io thread running: nginx serves the profiles (slowly where a
// test needs time, through limit_rate), the simulator the announcement
// documents. Kept files equal the served ones byte for byte; two requesters
// make one request in nginx's access log; cancelling before and after a
// third of the total; a missing file and a body cut short keep nothing. The
// suite's name puts it in the ThreadSanitizer run.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "doc/docmgr.h"
#include "docsupport.h"
#include "lib/timer.h"
#include "plat.h"
#include "sim.h"
#include "sim_http.h"
#include "ssclient.h"
#include "ssio-state.h"
#include "ssio.h"
#include "testclient.h"
#include "testclock.h"
#include "testdataroot.h"
#include "testlog.h"
#include "testpeers.h"
#include "testsim.h"

namespace {

namespace fs = std::filesystem;

struct Env : ClientRuntime {
  void SetUp() override {
    ClientRuntime::SetUp();
    ASSERT_EQ(timer_init(), 0);
  }
};
const auto* g_env = ::testing::AddGlobalTestEnvironment(new Env);

int no_promise(gui_promise_fn, void*, int) { return 0; }  // the poll loop finishes instead

struct Told {
  int who;
  ssio_progress p;
};
std::vector<Told> g_told;
void record(docmgr_req*, const char*, const ssio_progress* p, void*, uint32_t argument) {
  g_told.push_back({(int)argument, *p});
}

std::string blob(size_t n, int seed) {
  std::string s(n, 0);
  uint32_t x = 2463534242u + (uint32_t)seed;
  for (size_t i = 0; i < n; i++) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = (char)x;
  }
  return s;
}

class DocConcurrency : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ok_ = start_nginx(&nginx_, "    location /pdf/osprey/advancedprofile/today/ {\n"
                               "      limit_rate 40k; limit_rate_after 0; sendfile off; output_buffers 1 4k;\n"
                               "    }\n");
  }
  static void TearDownTestSuite() { stop_peer(&nginx_); }

  void SetUp() override {
    ASSERT_TRUE(ok_) << "nginx did not start";
    ASSERT_NO_FATAL_FAILURE(client.start());
    ASSERT_EQ(root.use(), 0);
    ssclient_block();  // the test body is the user-interface thread
    docmgr_client c = {ssclient_request_http, ssclient_cancel_http, ssio_state_get_progress,
                       ssclient_log_news_item, ssclient_log_profile, no_promise};
    docmgr_set_client(&c);
    docmgr_set_hosts("", ("127.0.0.1:" + std::to_string(nginx_.port)).c_str());
    ASSERT_EQ(docmgr_init(), 0);
    g_told.clear();
    stock.exchange = bare_exchange(0);
  }
  void TearDown() override {
    ssclient_unblock();
    client.stop_thread();
    docmgr_shutdown();
    docmgr_set_client(nullptr);
    docmgr_set_hosts(nullptr, nullptr);
    client.stop();
  }

  // A profile file on nginx for the code; returns its bytes.
  std::string serve_profile(const char* code, size_t n) {
    std::string body = blob(n, code[0]);
    peer_write_file(nginx_.dir, std::string("www/pdf/osprey/advancedprofile/today/") + code + "_advancedprofile.pdf",
                    body);
    return body;
  }
  std::string profile_path(const char* code) { return root.path() + "/Cache/Profiles/ASX-" + code + ".pdf"; }
  // Finishes downloads as the 5 ms timer would, until the condition holds.
  static bool poll_until(const std::function<bool()>& cond, int ms = 15000) {
    for (int waited = 0; waited < ms; waited += 5) {
      docmgr_finish();
      if (cond()) return true;
      ssclient_sleep(5);
    }
    return cond();
  }
  static bool ended(int who) {
    for (const Told& t : g_told)
      if (t.who == who && (t.p.phase == 5 || t.p.phase == 6)) return true;
    return false;
  }
  static int end_phase(int who) {
    for (const Told& t : g_told)
      if (t.who == who && (t.p.phase == 5 || t.p.phase == 6)) return t.p.phase;
    return -1;
  }
  int access_count(const std::string& path) {
    std::ifstream f(nginx_.dir + "/access.log");
    std::string line;
    int n = 0;
    while (std::getline(f, line)) n += line.find("GET " + path + " ") != std::string::npos;
    return n;
  }

  static test_peer nginx_;
  static bool ok_;
  TempDataRoot root{"ambit-docloop"};
  loopback_client client;
  instr stock{};
};
test_peer DocConcurrency::nginx_;
bool DocConcurrency::ok_ = false;

TEST_F(DocConcurrency, TwoRequestersShareOneRequestAndTheKeptFileEqualsTheServedOne) {
  std::string body = serve_profile("BHP", 60000);
  snprintf(stock.code, sizeof stock.code, "BHP");
  ASSERT_TRUE(docmgr_fetch_profile(&stock, record, nullptr, 1));
  ASSERT_TRUE(docmgr_fetch_profile(&stock, record, nullptr, 2));
  ASSERT_TRUE(poll_until([] { return ended(1) && ended(2); }));
  EXPECT_EQ(end_phase(1), 5);
  EXPECT_EQ(end_phase(2), 5);
  bool saw_receiving = false;
  for (const Told& t : g_told) saw_receiving |= t.p.phase == 4 && t.p.received > 0 && t.p.total == 60000;
  EXPECT_TRUE(saw_receiving) << "the progress box's phase while the body arrives";
  EXPECT_TRUE(file_text(profile_path("BHP")) == body);
  EXPECT_EQ(access_count("/pdf/osprey/advancedprofile/today/BHP_advancedprofile.pdf"), 1);
  EXPECT_TRUE(fs::is_empty(root.path() + "/Temp"));

  // Read once, it opens from disk: no second request.
  g_told.clear();
  ASSERT_TRUE(docmgr_fetch_profile(&stock, record, nullptr, 3));
  ASSERT_TRUE(poll_until([] { return ended(3); }));
  EXPECT_EQ(end_phase(3), 5);
  EXPECT_EQ(access_count("/pdf/osprey/advancedprofile/today/BHP_advancedprofile.pdf"), 1);
}

TEST_F(DocConcurrency, CancellingBeforeAThirdDropsItAfterAThirdKeepsIt) {
  struct Case {
    const char* code;
    bool after_third;
  } cases[] = {{"EARLY", false}, {"LATE", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    std::string body = serve_profile(c.code, 120000);  // three seconds at 40k/s
    snprintf(stock.code, sizeof stock.code, "%s", c.code);
    docmgr_req* r = docmgr_fetch_profile(&stock, record, nullptr, 1);
    ASSERT_TRUE(r);
    const docmgr_doc* d = r->doc;
    ASSERT_TRUE(poll_until([&] {
      ssio_progress p;
      ssio_state_get_progress(&p, &d->progress);
      return c.after_third ? p.total && p.received >= p.total / 3 : p.received > 0;
    }));
    ASSERT_EQ(docmgr_cancel(r), 0);
    g_told.clear();
    ASSERT_TRUE(poll_until([] { return docmgr_count() == 0; }));
    EXPECT_TRUE(g_told.empty());
    if (c.after_third) {
      EXPECT_TRUE(file_text(profile_path(c.code)) == body);
    } else {
      EXPECT_FALSE(fs::exists(profile_path(c.code)));
    }
    std::string left;
    for (auto& e : fs::directory_iterator(root.path() + "/Temp")) left += e.path().filename().string() + " ";
    EXPECT_EQ(left, "");
  }
}

TEST_F(DocConcurrency, AMissingFileAndACutBodyKeepNothing) {
  // 404 from nginx.
  snprintf(stock.code, sizeof stock.code, "NONE");
  ASSERT_TRUE(docmgr_fetch_profile(&stock, record, nullptr, 1));
  ASSERT_TRUE(poll_until([] { return ended(1); }));
  EXPECT_EQ(end_phase(1), 6);
  EXPECT_FALSE(fs::exists(profile_path("NONE")));

  // An announcement from the simulator (the default host) whose connection
  // closes halfway through the body.
  snprintf(stock.code, sizeof stock.code, "CUT");
  ss_news item{};
  item.number = 77;
  char url[kDocmgrUrlSize];
  ASSERT_TRUE(docmgr_document_url(url, &stock, 77));
  std::string prefix = "http://127.0.0.1:" + std::to_string(client.port);
  ASSERT_EQ(std::string(url).rfind(prefix, 0), 0u) << url;
  sim_http_file f;
  f.path = std::string(url).substr(prefix.size());
  f.body = blob(50000, 9);
  f.cut_at = 20000;
  ASSERT_EQ(sim_http_add_file(client.sim, f), 0);
  ASSERT_TRUE(docmgr_fetch_document(&stock, &item, record, nullptr, 2));
  ASSERT_TRUE(poll_until([] { return ended(2); }));
  EXPECT_EQ(end_phase(2), 6);
  EXPECT_FALSE(fs::exists(root.path() + "/Cache/Announcements/ASX-CUT-77.pdf"));
  EXPECT_TRUE(fs::is_empty(root.path() + "/Temp"));

  // The same document whole arrives and is kept.
  f.cut_at = -1;
  ASSERT_EQ(sim_http_add_file(client.sim, f), 0);
  ASSERT_TRUE(docmgr_fetch_document(&stock, &item, record, nullptr, 3));
  ASSERT_TRUE(poll_until([] { return ended(3); }));
  EXPECT_EQ(end_phase(3), 5);
  EXPECT_TRUE(file_text(root.path() + "/Cache/Announcements/ASX-CUT-77.pdf") == f.body);
}

}  // namespace
