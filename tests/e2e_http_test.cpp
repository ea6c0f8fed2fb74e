// End to end over HTTP against the market simulator on loopback, with the io
// thread running ssclient_run: the sign-on in HTTP mode (the link is a POST
// whose reply is the stream, every request set a POST of its own) with live
// data after it; the sign-on tunnelled with CONNECT through real proxies that
// demand Basic, Digest or NTLM (squid) and Basic (tinyproxy); and side
// requests through the client's ring. Each proxy is started by its suite on a
// free loopback port and stopped at its end.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "growbuf.h"
#include "plat.h"
#include "sim.h"
#include "sim_http.h"
#include "sim_msg.h"
#include "ssclient.h"
#include "sserr.h"
#include "ssio-http-proxy.h"
#include "ssio-http.h"
#include "ssio.h"
#include "ssproto.h"
#include "testclient.h"
#include "testclock.h"
#include "testlog.h"
#include "testmodel.h"
#include "testnet.h"
#include "testpeers.h"
#include "testsim.h"
#include "testsimclient.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime(offset_clock));

// The client and the simulator, the client's io thread run on demand.
class HttpClient : public SimClientTest {
 protected:
  void SetUp() override {
    g_clock_offset = 0;
    ASSERT_NO_FATAL_FAILURE(start_sim_and_client({{0, 3}, {1, 2}}, offset_clock));
    ssio_set_select_timeout(10);
  }

  void TearDown() override {
    stop();
    sim_destroy(sim);
    ssio_set_http_mode(0);
    ssio_clear_proxies();
    ssio_set_proxy_auth(nullptr, nullptr);
    ssclient_fini();
  }

  bool online() {
    return sim_wait_logins(sim, 1, 8000) && wait_for([] { return ssclient_is_online() != 0; }, 8000);
  }

  // The follow-up requests and the ACK reach the simulator after the sign-on,
  // and the catch-up and later live data reach the client.
  void expect_session_works() {
    ASSERT_TRUE(wait_for([] { return ssclient_ack_count() == 1; }, 8000));
    std::vector<int32_t> kinds;
    for (const sim_entry& e : sim_transcript(sim))
      if (e.kind == 80 || e.kind == 34 || e.kind == 92) kinds.push_back(e.kind);
    EXPECT_EQ((std::vector<int32_t>{80, 80, 80, 80, 34, 34, 34, 34, 92}), kinds);
    append_stream(0, 2);
    append_stream(1, 1);
    for (int32_t i : {0, 1})
      EXPECT_TRUE(wait_for([&] { return ssproto_exchange_position(i) == sim_stream_length(sim, i); }, 8000)) << i;
  }
};

// ---------------------------------------------------------------------------
// HTTP mode

TEST_F(HttpClient, HttpModeSignsOnAndStreamsLiveData) {
  ssio_set_http_mode(1);
  run();
  ASSERT_TRUE(online());
  ASSERT_NO_FATAL_FAILURE(expect_session_works());
  sim_entry g;
  ASSERT_GE(sim_wait_entry(sim, kSimGreeting, 0, 1000, &g), 0);
  EXPECT_EQ(6u, g.a);
  // The link and every request set were POSTs of HTTP-mode bodies.
  std::vector<std::string> reqs = sim_http_requests(sim);
  ASSERT_GE(reqs.size(), 3u);  // the link, the sign-on, the follow-ups
  for (const std::string& r : reqs) {
    EXPECT_EQ(0u, r.find("POST /AMBIT/6 HTTP/1.0\r\nHost: 127.0.0.1\r\n")) << r;
    EXPECT_NE(std::string::npos, r.find("Content-Type: application/x-www-form-urlencoded\r\n")) << r;
  }
  EXPECT_EQ(1, sim_get_stats(sim).logins);
}

// A stand-in for a front server on 127.0.0.1 that answers every POST of
// the link with a redirect to `location`. Stops in its destructor.
class LinkRedirector {
 public:
  explicit LinkRedirector(std::string location) : location_(std::move(location)) {
    fd_ = listen_loopback(4, &port_);
    thread_ = std::thread([this] { serve(); });
  }
  ~LinkRedirector() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  int port() const { return port_; }
  int answered() const { return answered_; }

 private:
  void serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      // The whole request, its body included, so the close sends no reset.
      std::string in;
      char buf[4096];
      size_t want = std::string::npos;
      while (!stop_ && (want == std::string::npos || in.size() < want)) {
        pollfd q{c, POLLIN, 0};
        if (poll(&q, 1, 20) <= 0) continue;
        ssize_t n = read(c, buf, sizeof buf);
        if (n <= 0) break;
        in.append(buf, size_t(n));
        size_t end = in.find("\r\n\r\n");
        if (want == std::string::npos && end != std::string::npos) {
          size_t at = in.find("Content-Length: ");
          want = end + 4 + (at < end ? std::strtoul(in.c_str() + at + 16, nullptr, 10) : 0);
        }
      }
      const std::string reply = "HTTP/1.0 302 Found\r\nLocation: " + location_ + "\r\n\r\n";
      if (write(c, reply.data(), reply.size()) == ssize_t(reply.size())) answered_++;
      close(c);
    }
  }
  std::string location_;
  int fd_ = -1, port_ = 0;
  std::atomic<int> answered_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The link carries the sign-on: a redirect never moves it to another host,
// which sees no connection.
TEST_F(HttpClient, TheLinkIsNotRedirectedToAnotherHost) {
  // Another loopback host, listening: a refused redirect must not reach it.
  int other = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(other, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(0x7f000002);
  socklen_t alen = sizeof a;
  ASSERT_EQ(0, bind(other, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_EQ(0, listen(other, 4));
  ASSERT_EQ(0, getsockname(other, reinterpret_cast<sockaddr*>(&a), &alen));
  const int other_port = ntohs(a.sin_port);
  ssio_set_http_mode(1);
  {
    LinkRedirector away("http://127.0.0.2:" + std::to_string(other_port) + "/AMBIT/6");
    point_test_client(away.port());
    LogCapture log;
    run();
    EXPECT_TRUE(wait_for([&] { return log.has("refusing redirect of the server link from 127.0.0.1 to 127.0.0.2"); },
                         8000));
    stop();
    EXPECT_GE(away.answered(), 1);
    pollfd p{other, POLLIN, 0};
    EXPECT_EQ(0, poll(&p, 1, 0));  // nobody connected to the other host
    EXPECT_EQ(0, sim_get_stats(sim).logins);
  }
  close(other);
}

// ---------------------------------------------------------------------------
// Side requests through the ring

struct Fetched {
  std::mutex mu;
  std::string body;
};

int32_t keep_body(const uint8_t* data, int32_t len, void* context, uint32_t arg) {
  EXPECT_EQ(5u, arg);
  auto* f = static_cast<Fetched*>(context);
  std::lock_guard<std::mutex> g(f->mu);
  f->body.append(reinterpret_cast<const char*>(data), static_cast<size_t>(len));
  return len;
}

TEST_F(HttpClient, SideRequestsKeepTheirOwnUrlAndReportTheirEnd) {
  sim_http_file report;
  report.path = "/docs/report.txt";
  report.body = std::string(40000, 'r');
  ASSERT_EQ(0, sim_http_add_file(sim, report));
  sim_http_file cut = report;
  cut.path = "/docs/cut.txt";
  cut.cut_at = 1000;
  ASSERT_EQ(0, sim_http_add_file(sim, cut));
  sim_http_file moved;
  moved.path = "/docs/old.txt";
  moved.status = 302;
  moved.location = "/docs/report.txt";
  ASSERT_EQ(0, sim_http_add_file(sim, moved));
  run();
  ASSERT_TRUE(online());

  struct Case {
    const char* path;
    int32_t phase;
    size_t bytes;
  } cases[] = {
      {"/docs/report.txt", kSsioProgressDone, 40000},
      {"/docs/old.txt", kSsioProgressDone, 40000},
      {"/docs/cut.txt", kSsioProgressFailed, 1000},
      {"/docs/none.txt", kSsioProgressFailed, 0},
  };
  int32_t last_id = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Fetched f;
    ssio_progress progress;
    // The caller's text is gone as soon as the call returns.
    std::string url = "http://127.0.0.1:" + std::to_string(port) + c.path;
    int32_t id = ssclient_request_http(url.c_str(), keep_body, &f, 5, &progress);
    std::fill(url.begin(), url.end(), 'x');
    url.clear();
    url.shrink_to_fit();
    EXPECT_EQ(last_id + 1, id);
    last_id = id;
    ssio_progress p{};
    ASSERT_TRUE(wait_for(
        [&] {
          ssio_state_get_progress(&p, &progress);
          return p.phase == kSsioProgressDone || p.phase == kSsioProgressFailed;
        },
        8000));
    EXPECT_EQ(c.phase, p.phase);
    std::lock_guard<std::mutex> g(f.mu);
    EXPECT_EQ(c.bytes, f.body.size());
  }
  // A URL longer than a request can hold is refused at once, taking no id.
  const std::string huge = "http://127.0.0.1/" + std::string(kSsHttpUrlMax, 'u');
  EXPECT_EQ(-1, ssclient_request_http(huge.c_str(), keep_body, nullptr, 5, nullptr));
  Fetched f;
  ssio_progress progress;
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/docs/report.txt";
  EXPECT_EQ(last_id + 1, ssclient_request_http(url.c_str(), keep_body, &f, 5, &progress));
  EXPECT_TRUE(wait_for([&] {
    ssio_progress p;
    ssio_state_get_progress(&p, &progress);
    return p.phase == kSsioProgressDone;
  }));
  // The link stays up through it all.
  EXPECT_NE(0, ssclient_is_online());
}

// ---------------------------------------------------------------------------
// The sign-on tunnelled through real proxies

class ProxyTunnel : public HttpClient {
 protected:
  static void stop_proxy() { stop_peer(&proxy_); }
  void use_proxy(const char* user, const char* password) {
    ASSERT_GT(proxy_.pid, 0) << "the proxy did not start";
    ssio_set_http_proxy("127.0.0.1", proxy_.port);
    ssio_set_proxy_auth(user, password);
  }
  // Connects to the proxy the io layer logged.
  int proxy_connects(const LogCapture& log) {
    return log.count("connecting to 127.0.0.1:" + std::to_string(proxy_.port) + " ");
  }
  void signs_on_through_the_proxy(const char* user, const char* password) {
    ASSERT_NO_FATAL_FAILURE(use_proxy(user, password));
    run();
    ASSERT_TRUE(online()) << peer_logs(proxy_);
    ASSERT_NO_FATAL_FAILURE(expect_session_works());
  }
  // A wrong password: the server link fails with the proxy-authentication
  // error, after the one retry the challenge allows; `why` is the log line
  // (squid challenges again, tinyproxy answers the retry with 401).
  void wrong_password_is_the_proxys_error(const char* user, const char* why = "proxy authentication failed") {
    ASSERT_NO_FATAL_FAILURE(use_proxy(user, "not-the-password"));
    LogCapture log;
    ASSERT_EQ(0, ssio_start_link());
    int r = 0;
    int64_t until = steady_ms() + 8000;
    while (r >= 0 && steady_ms() < until) r = ssio_loop();
    EXPECT_EQ(-1, r);
    EXPECT_EQ(kSserrProxyAuth, sserr_last_code());
    EXPECT_TRUE(log.has(why)) << ::testing::PrintToString(log.lines());
    EXPECT_EQ(2, proxy_connects(log));
    EXPECT_EQ(0, sim_get_stats(sim).connections);
  }

  static test_peer proxy_;
};
test_peer ProxyTunnel::proxy_;

class SquidBasic : public ProxyTunnel {
 protected:
  static void SetUpTestSuite() { start_squid(&proxy_, kSquidBasic, "alice", "proxy-pass"); }
  static void TearDownTestSuite() { stop_proxy(); }
};
TEST_F(SquidBasic, SignOnTunnelsThroughTheProxy) {
  LogCapture log;
  signs_on_through_the_proxy("alice", "proxy-pass");
  EXPECT_EQ(2, proxy_connects(log));  // the bare CONNECT, then the one with Basic
  EXPECT_EQ(kProxyBasic, ssio_proxy_remembered_method());
}
// HTTP mode through the proxy: the link's POST and every request set's go
// with the absolute URL, the sets answering Basic from the start because the
// link's good reply made it the remembered method.
TEST_F(SquidBasic, HttpModeGoesThroughTheProxy) {
  ssio_set_http_mode(1);
  LogCapture log;
  signs_on_through_the_proxy("alice", "proxy-pass");
  std::vector<std::string> reqs = sim_http_requests(sim);
  ASSERT_GE(reqs.size(), 3u);
  for (const std::string& r : reqs) EXPECT_EQ(0u, r.find("POST /AMBIT/6 HTTP/1.1\r\n")) << r;
  // Two connects for the link (bare, then with Basic), one per request set.
  EXPECT_EQ(2 + static_cast<int>(reqs.size()) - 1, proxy_connects(log));
}
TEST_F(SquidBasic, WrongPasswordIsTheProxysError) { wrong_password_is_the_proxys_error("alice"); }

class SquidDigest : public ProxyTunnel {
 protected:
  static void SetUpTestSuite() { start_squid(&proxy_, kSquidDigest, "alice", "proxy-pass"); }
  static void TearDownTestSuite() { stop_proxy(); }
};
TEST_F(SquidDigest, SignOnTunnelsThroughTheProxy) { signs_on_through_the_proxy("alice", "proxy-pass"); }
TEST_F(SquidDigest, WrongPasswordIsTheProxysError) { wrong_password_is_the_proxys_error("alice"); }

class SquidNtlm : public ProxyTunnel {
 protected:
  static void SetUpTestSuite() { start_squid(&proxy_, kSquidNtlm, "alice", "proxy-pass"); }
  static void TearDownTestSuite() { stop_proxy(); }
};
// The negotiate and the answer go on one kept-alive proxy connection (the
// 407 between them has a body, skipped before the answer is written).
TEST_F(SquidNtlm, SignOnTunnelsThroughTheProxyOnOneConnection) {
  LogCapture log;
  signs_on_through_the_proxy("AMBIT\\alice", "proxy-pass");
  EXPECT_EQ(2, proxy_connects(log));  // the bare CONNECT, then negotiate and answer together
  EXPECT_TRUE(log.has("tunnel to 127.0.0.1:" + std::to_string(port) + " open"));
  EXPECT_EQ(kProxyNtlm, ssio_proxy_remembered_method());
}

class TinyproxyBasic : public ProxyTunnel {
 protected:
  static void SetUpTestSuite() { start_tinyproxy(&proxy_, "alice", "proxy-pass"); }
  static void TearDownTestSuite() { stop_proxy(); }
};
TEST_F(TinyproxyBasic, SignOnTunnelsThroughTheProxy) { signs_on_through_the_proxy("alice", "proxy-pass"); }
TEST_F(TinyproxyBasic, WrongPasswordIsTheProxysError) {
  wrong_password_is_the_proxys_error("alice", "unauthorized: http://127.0.0.1:");
}

// The proxy's credentials are set again by the user-interface thread while
// the io thread is online through the proxy and writes their authorization
// into request after request; then a relogin stops the io thread, sets them
// and signs on again. Run under ThreadSanitizer, this shows the io thread
// never reads the credentials while they are written.
class SquidBasicConcurrency : public ProxyTunnel {
 protected:
  static void SetUpTestSuite() { start_squid(&proxy_, kSquidBasic, "alice", "proxy-pass"); }
  static void TearDownTestSuite() { stop_proxy(); }
};
TEST_F(SquidBasicConcurrency, RelogThroughTheProxyWhileConnected) {
  sim_http_file doc;
  doc.path = "/docs/a.txt";
  doc.body = std::string(2000, 'a');
  ASSERT_EQ(0, sim_http_add_file(sim, doc));
  ssio_set_http_mode(1);  // every request set goes through the proxy as well
  ASSERT_NO_FATAL_FAILURE(use_proxy("alice", "proxy-pass"));
  run();
  ASSERT_TRUE(online()) << peer_logs(proxy_);

  std::atomic<bool> writing{true};
  std::thread ui([&] {
    while (writing.load()) {
      ssio_set_proxy_auth("alice", "proxy-pass");
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + doc.path;
  for (int i = 0; i < 4; i++) {
    SCOPED_TRACE(i);
    Fetched f;
    ssio_progress progress;
    ASSERT_GT(ssclient_request_http(url.c_str(), keep_body, &f, 5, &progress), 0);
    ssio_progress p{};
    ASSERT_TRUE(wait_for(
        [&] {
          ssio_state_get_progress(&p, &progress);
          return p.phase == kSsioProgressDone || p.phase == kSsioProgressFailed;
        },
        8000));
    EXPECT_EQ(kSsioProgressDone, p.phase);
    std::lock_guard<std::mutex> g(f.mu);
    EXPECT_EQ(doc.body.size(), f.body.size());
  }
  writing = false;
  ui.join();

  // The relogin: the old io thread ends first, then the settings change and a
  // new one signs on through the proxy.
  ssclient_request_abort();
  ASSERT_TRUE(join_within(8000));
  ASSERT_NO_FATAL_FAILURE(use_proxy("alice", "proxy-pass"));
  run();
  ASSERT_TRUE(sim_wait_logins(sim, 2, 8000)) << peer_logs(proxy_);
  EXPECT_TRUE(wait_for([] { return ssclient_is_online() != 0; }, 8000));
}

}  // namespace
