// The download manager over a recording HTTP client: shared downloads and
// the order requesters are told in, files already on disk (by promise, at
// the 1024-byte limit), short and empty bodies, cancelling before and after
// a third of the total, a hidden-then-shown window starting afresh, file
// names and URLs, and shutdown with a download half written.
#include "doc/docmgr.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lib/timer.h"
#include "localdata.h"
#include "testdataroot.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

namespace fs = std::filesystem;

struct Env : ::testing::Environment {
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    ASSERT_EQ(timer_init(), 0);
  }
};
const auto* kEnv = ::testing::AddGlobalTestEnvironment(new Env);

struct Request {
  std::string url;
  ss_http_handler handler;
  void* context;
  ssio_progress* progress;
  bool cancelled;
};
std::vector<Request> g_requests;
std::vector<std::pair<std::string, uint32_t>> g_logged;
int g_promises;
gui_promise_fn g_promise_fn;

int32_t fake_request(const char* url, ss_http_handler h, void* c, uint32_t, ssio_progress* p) {
  *p = ssio_progress{};
  g_requests.push_back({url, h, c, p, false});
  return (int32_t)g_requests.size();
}
int fake_cancel(int32_t id) {
  Request& r = g_requests.at(id - 1);
  r.cancelled = true;
  r.progress->phase = kSsioProgressFailed;
  return 0;
}
void fake_progress(ssio_progress* out, const ssio_progress* p) { *out = *p; }
int fake_log_news(instr* in, const uint32_t* n) {
  g_logged.push_back({in->code, *n});
  return 0;
}
int fake_log_profile(instr* in) {
  g_logged.push_back({in->code, 0});
  return 0;
}
int fake_promise(gui_promise_fn fn, void*, int) {
  g_promises++;
  g_promise_fn = fn;
  return 0;
}
const docmgr_client kFake = {fake_request, fake_cancel, fake_progress, fake_log_news, fake_log_profile, fake_promise};

// One call of a requester's callback.
struct Event {
  int who;
  std::string path;
  ssio_progress p;
  docmgr_req* req;
};
std::vector<Event> g_events;
void record(docmgr_req* req, const char* path, const ssio_progress* p, void* context, uint32_t argument) {
  (void)context;
  g_events.push_back({(int)argument, path, *p, req});
}

// Feeds body bytes through the handler as the io thread would.
void feed(size_t i, const std::string& bytes, uint32_t total = 0) {
  Request& r = g_requests.at(i);
  ASSERT_EQ(r.handler((const uint8_t*)bytes.data(), (int32_t)bytes.size(), r.context, 0), (int32_t)bytes.size());
  r.progress->phase = kSsioProgressReceiving;
  r.progress->received += (uint32_t)bytes.size();
  if (total) r.progress->total = total;
}

std::string file_text(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

class Docmgr : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(root.use(), 0);
    g_requests.clear();
    g_events.clear();
    g_logged.clear();
    g_promises = 0;
    docmgr_set_client(&kFake);
    docmgr_set_hosts("docs.test:8080", "profiles.test");
    ASSERT_EQ(docmgr_init(), 0);
    stock.exchange = bare_exchange(0);
    snprintf(stock.code, sizeof stock.code, "BHP");
    nz.exchange = bare_exchange(1);
    snprintf(nz.code, sizeof nz.code, "FPH");
    item.number = 4711;
  }
  void TearDown() override {
    docmgr_shutdown();
    docmgr_set_client(nullptr);
    docmgr_set_hosts(nullptr, nullptr);
  }
  std::string final_doc() { return root.path() + "/Cache/Announcements/ASX-BHP-4711.pdf"; }
  std::string temp_dir() { return root.path() + "/Temp"; }
  size_t temp_files() {
    size_t n = 0;
    for (auto& e : fs::directory_iterator(temp_dir())) n += e.is_regular_file();
    return n;
  }

  TempDataRoot root{"ambit-docmgr"};
  instr stock{}, nz{};
  ss_news item{};
};

TEST_F(Docmgr, TwoRequestersShareOneDownloadAndAreToldInOrderUntilTheEndOnce) {
  docmgr_req* a = docmgr_fetch_document(&stock, &item, record, nullptr, 1);
  docmgr_req* b = docmgr_fetch_document(&stock, &item, record, nullptr, 2);
  ASSERT_TRUE(a && b);
  ASSERT_EQ(g_requests.size(), 1u);
  EXPECT_EQ(docmgr_count(), 1);
  EXPECT_GE(docmgr_timer_id(), 0);
  EXPECT_EQ(g_logged.size(), 2u);

  std::string body(3000, 'x');
  feed(0, body.substr(0, 1000), 3000);
  docmgr_finish();
  ASSERT_EQ(g_events.size(), 2u);
  EXPECT_EQ(g_events[0].who, 1);
  EXPECT_EQ(g_events[1].who, 2);
  EXPECT_EQ(g_events[0].p.phase, 4) << "the client's receiving phase reaches requesters as 4";
  EXPECT_EQ(g_events[0].p.received, 1000u);
  EXPECT_EQ(g_events[0].path, final_doc());

  feed(0, body.substr(1000));
  g_requests[0].progress->phase = kSsioProgressDone;
  docmgr_finish();
  ASSERT_EQ(g_events.size(), 4u);
  EXPECT_EQ(g_events[2].who, 1);
  EXPECT_EQ(g_events[3].who, 2);
  EXPECT_EQ(g_events[2].p.phase, 5);
  EXPECT_EQ(file_text(final_doc()), body);
  EXPECT_EQ(temp_files(), 0u);
  EXPECT_EQ(docmgr_count(), 0);

  docmgr_finish();
  EXPECT_EQ(g_events.size(), 4u) << "the end is told exactly once";
}

TEST_F(Docmgr, AFileOnDiskIsCompleteAtTheLimitAndArrivesByPromise) {
  struct Case {
    size_t size;
    bool cached;
  } cases[] = {{1024, true}, {1023, false}, {5000, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    g_requests.clear();
    g_events.clear();
    g_promises = 0;
    fs::create_directories(fs::path(final_doc()).parent_path());
    std::ofstream(final_doc(), std::ios::binary) << std::string(c.size, 'c');
    LogCapture log;
    docmgr_req* r = docmgr_fetch_document(&stock, &item, record, nullptr, 7);
    ASSERT_TRUE(r);
    EXPECT_TRUE(g_events.empty()) << "never told inside the fetch";
    if (c.cached) {
      EXPECT_TRUE(g_requests.empty());
      ASSERT_EQ(g_promises, 1);
      g_promise_fn(nullptr, 0);
      ASSERT_EQ(g_events.size(), 1u);
      EXPECT_EQ(g_events[0].p.phase, 5);
      EXPECT_EQ(g_events[0].p.received, c.size);
      EXPECT_EQ(g_events[0].p.total, c.size);
      EXPECT_EQ(fs::file_size(final_doc()), c.size);
    } else {
      EXPECT_TRUE(log.has("is only 1023b, removing"));
      EXPECT_FALSE(fs::exists(final_doc()));
      ASSERT_EQ(g_requests.size(), 1u);
      EXPECT_EQ(g_promises, 0);
      docmgr_cancel(r);
      docmgr_finish();
    }
    EXPECT_EQ(docmgr_count(), 0);
    fs::remove(final_doc());
  }
}

TEST_F(Docmgr, ShortAndEmptyBodiesEndInErrorAndLeaveNoFile) {
  struct Case {
    const char* name;
    size_t bytes;
    const char* logged;
  } cases[] = {{"1000 bytes", 1000, "is only 1000b, not keeping"}, {"no byte at all", 0, "is only 0b, not keeping"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_requests.clear();
    g_events.clear();
    LogCapture log;
    ASSERT_TRUE(docmgr_fetch_document(&stock, &item, record, nullptr, 1));
    if (c.bytes) feed(0, std::string(c.bytes, 'y'), (uint32_t)c.bytes);
    g_requests[0].progress->phase = kSsioProgressDone;
    docmgr_finish();
    ASSERT_EQ(g_events.size(), 1u);
    EXPECT_EQ(g_events[0].p.phase, 6);
    EXPECT_TRUE(log.has(c.logged)) << logged_since(0);
    EXPECT_FALSE(fs::exists(final_doc()));
    EXPECT_EQ(temp_files(), 0u);
  }
}

// A document larger than the cap is refused as it arrives: the handler
// stops the download at the first byte over, and no file is kept.
TEST_F(Docmgr, ABodyOverTheCapIsRefusedAndLeavesNoFile) {
  LogCapture log;
  ASSERT_TRUE(docmgr_fetch_document(&stock, &item, record, nullptr, 1));
  Request& r = g_requests.at(0);
  const std::string mib(1 << 20, 'z');
  for (int64_t sent = 0; sent < kDocmgrMaxSize; sent += int64_t(mib.size()))
    ASSERT_EQ(r.handler((const uint8_t*)mib.data(), (int32_t)mib.size(), r.context, 0), (int32_t)mib.size());
  EXPECT_EQ(r.handler((const uint8_t*)"!", 1, r.context, 0), -1);
  EXPECT_TRUE(log.has("is over 64MB, not keeping")) << logged_since(0);
  r.progress->phase = kSsioProgressFailed;
  docmgr_finish();
  ASSERT_EQ(g_events.size(), 1u);
  EXPECT_EQ(g_events[0].p.phase, kSsioProgressFailed);
  EXPECT_FALSE(fs::exists(final_doc()));
  EXPECT_EQ(temp_files(), 0u);
}

TEST_F(Docmgr, CancellingTheLastRequesterStopsTheDownloadUnlessAThirdArrived) {
  struct Case {
    const char* name;
    uint32_t received, total;
    bool goes_on;
  } cases[] = {
      {"no total", 5000, 0, false},
      {"below a third", 999, 3000, false},
      {"exactly a third", 1000, 3000, true},
      {"most of it", 2900, 3000, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_requests.clear();
    g_events.clear();
    docmgr_req* r = docmgr_fetch_document(&stock, &item, record, nullptr, 1);
    ASSERT_TRUE(r);
    feed(0, std::string(c.received, 'z'), c.total);
    EXPECT_EQ(docmgr_cancel(r), 0);
    EXPECT_EQ(g_requests[0].cancelled, !c.goes_on);
    if (c.goes_on) {
      feed(0, std::string(c.total - c.received, 'z'));
      g_requests[0].progress->phase = kSsioProgressDone;
    }
    docmgr_finish();
    EXPECT_TRUE(g_events.empty()) << "a cancelled request is never told";
    EXPECT_EQ(docmgr_count(), 0);
    EXPECT_EQ(fs::exists(final_doc()), c.goes_on);
    if (c.goes_on) {
      EXPECT_EQ(fs::file_size(final_doc()), c.total);
    }
    EXPECT_EQ(temp_files(), 0u);
    fs::remove(final_doc());
  }
}

TEST_F(Docmgr, ARequestAfterACancelStartsAFreshDownloadWithItsOwnTemporaryFile) {
  // A window hidden early cancels; shown again at once, it must not join the
  // dying download (that would end in ERROR) nor share its temporary file.
  docmgr_req* r = docmgr_fetch_document(&stock, &item, record, nullptr, 1);
  feed(0, std::string(100, 'a'), 9000);
  ASSERT_EQ(docmgr_cancel(r), 0);
  ASSERT_TRUE(g_requests[0].cancelled);
  ASSERT_TRUE(docmgr_fetch_document(&stock, &item, record, nullptr, 2));
  ASSERT_EQ(g_requests.size(), 2u) << "a second side request";
  const docmgr_doc* old_doc = docmgr_first();
  ASSERT_TRUE(old_doc && old_doc->next);
  EXPECT_STRNE(old_doc->tmp_path, old_doc->next->tmp_path);

  std::string body(2000, 'b');
  feed(1, body, 2000);
  docmgr_finish();  // the old one ends (phase 6) and removes its own file only
  ASSERT_EQ(g_events.size(), 1u);
  EXPECT_EQ(g_events[0].who, 2);
  EXPECT_EQ(g_events[0].p.phase, 4);
  g_requests[1].progress->phase = kSsioProgressDone;
  docmgr_finish();
  ASSERT_EQ(g_events.size(), 2u);
  EXPECT_EQ(g_events[1].p.phase, 5);
  EXPECT_EQ(file_text(final_doc()), body);
}

TEST_F(Docmgr, FileNamesAndUrls) {
  ASSERT_TRUE(docmgr_fetch_profile(&nz, record, nullptr, 1));
  ASSERT_TRUE(docmgr_fetch_profile(&stock, record, nullptr, 2));
  ASSERT_TRUE(docmgr_fetch_document(&stock, &item, record, nullptr, 3));
  ASSERT_EQ(g_requests.size(), 3u);
  EXPECT_EQ(g_requests[0].url, "http://profiles.test/pdf/osprey/advancedprofile/today/FPH-NZ_advancedprofile.pdf");
  EXPECT_EQ(g_requests[1].url, "http://profiles.test/pdf/osprey/advancedprofile/today/BHP_advancedprofile.pdf");
  EXPECT_EQ(g_requests[2].url.rfind("http://docs.test:8080/news-pdf?", 0), 0u) << g_requests[2].url;
  EXPECT_NE(g_requests[2].url.find("&N=4711&"), std::string::npos);
  const docmgr_doc* d = docmgr_first();
  EXPECT_EQ(std::string(d->path), root.path() + "/Cache/Profiles/NZX-FPH.pdf");
  EXPECT_EQ(std::string(d->tmp_path), root.path() + "/Temp/NZX-FPH.pdf");
  EXPECT_EQ(std::string(d->next->path), root.path() + "/Cache/Profiles/ASX-BHP.pdf");
  EXPECT_EQ(g_logged[0], (std::pair<std::string, uint32_t>("FPH", 0)));
  EXPECT_EQ(g_logged[2], (std::pair<std::string, uint32_t>("BHP", 4711)));
}

TEST_F(Docmgr, RefusedFetches) {
  {
    LogCapture log;
    EXPECT_EQ(docmgr_fetch(localdata_path_alloc(2, "none.pdf"), nullptr, record, nullptr, 0), nullptr);
    EXPECT_TRUE(log.empty()) << "no URL and no file fails quietly";
  }
  {
    // A code from the server never becomes a path outside its folder.
    instr odd{};
    odd.exchange = bare_exchange(0);
    snprintf(odd.code, sizeof odd.code, "A/B");
    LogCapture log;
    EXPECT_EQ(docmgr_fetch_profile(&odd, record, nullptr, 0), nullptr);
    EXPECT_TRUE(log.has("can't alloc space for doc filename"));
  }
  {
    LogCapture log;
    docmgr_req none{};
    EXPECT_EQ(docmgr_cancel(&none), -1);
    EXPECT_TRUE(log.has("no download to cancel"));
  }
  EXPECT_EQ(docmgr_count(), 0);
  EXPECT_TRUE(g_requests.empty());
}

TEST_F(Docmgr, TheTimerTellsRequestersAndStopsWhenNothingIsLeft) {
  ASSERT_TRUE(docmgr_fetch_document(&stock, &item, record, nullptr, 1));
  int32_t id = docmgr_timer_id();
  ASSERT_GE(id, 0);
  int64_t now = 1000000;
  timer_run(now);
  timer_run(now += 5);
  size_t told = g_events.size();
  EXPECT_GE(told, 1u);
  feed(0, std::string(2048, 't'), 2048);
  g_requests[0].progress->phase = kSsioProgressDone;
  for (int i = 0; i < 5 && docmgr_timer_id() >= 0; i++) timer_run(now += 5);
  EXPECT_EQ(docmgr_timer_id(), -1);
  EXPECT_EQ(g_events.back().p.phase, 5);
}

TEST_F(Docmgr, ShutdownCancelsAndRemovesHalfWrittenFiles) {
  ASSERT_TRUE(docmgr_fetch_document(&stock, &item, record, nullptr, 1));
  feed(0, std::string(500, 'h'), 5000);
  EXPECT_EQ(temp_files(), 1u);
  docmgr_shutdown();
  EXPECT_TRUE(g_requests[0].cancelled);
  EXPECT_EQ(temp_files(), 0u);
  EXPECT_FALSE(fs::exists(final_doc()));
  ASSERT_EQ(docmgr_init(), 0);  // for TearDown
}

}  // namespace
