// The io loop against raw loopback peers that this file starts (127.0.0.1,
// ephemeral ports, each stops by itself): a refused connect, the exact
// greeting, bytes that come with the end of the stream, a silent peer timed
// out through the clock seam, and a peer that never reads, where the io
// thread must block in select rather than spin (checked with the thread's
// CPU time). Without the network: server list and rotation, settings, the
// side-request queue against the concurrency limit, closing and cancelling
// side requests, state resets, progress figures and the throughput history
// against a reference model.
#include "ssio.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "plat.h"
#include "sserr.h"
#include "ssio-direct.h"
#include "ssio-http.h"
#include "ssio-state.h"
#include "testclock.h"
#include "testlog.h"
#include "testnet.h"

namespace {

std::atomic<long> g_random{0};
long test_random() { return g_random.load(); }

// The clock seam (offset_clock): real monotonic time plus g_clock_offset,
// which the tests move forward.
const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime(offset_clock));

// A scripted server on 127.0.0.1. It accepts one connection, reads the
// greeting, then acts by its mode. Every wait is bounded, and the destructor
// stops it.
class Peer {
 public:
  enum Mode {
    kReplyAndClose,  // send the reply, close
    kSilent,         // send nothing, keep the connection open
    kReplyNeverRead  // send the reply, then never read again
  };
  Peer(Mode mode, std::string reply = {}, int rcvbuf = 0) : mode_(mode), reply_(std::move(reply)) {
    listen_fd_ = listen_loopback(4, &port_, rcvbuf);
    thread_ = std::thread([this] { run(); });
  }
  ~Peer() {
    stop_ = true;
    thread_.join();
    close(listen_fd_);
  }
  int port() const { return port_; }
  std::string greeting() {
    std::lock_guard<std::mutex> g(mu_);
    return greeting_;
  }
  bool replied() const { return replied_; }

 private:
  static constexpr int kGreetingBytes = 9;
  static constexpr int kMaxMs = 20000;

  // Waits for an event on fd in 20 ms steps until stopped or out of time.
  bool wait_for(int fd, short events, int64_t until) {
    while (!stop_ && steady_ms() < until) {
      pollfd p{fd, events, 0};
      if (poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }

  void run() {
    int64_t until = steady_ms() + kMaxMs;
    if (!wait_for(listen_fd_, POLLIN, until)) return;
    int fd = accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) return;
    // The greeting, and anything else the client sends before the reply.
    std::string got;
    while (static_cast<int>(got.size()) < kGreetingBytes && wait_for(fd, POLLIN, until)) {
      char buf[64];
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    {
      std::lock_guard<std::mutex> g(mu_);
      greeting_ = got;
    }
    if (mode_ != kSilent && !reply_.empty()) {
      size_t off = 0;
      while (off < reply_.size()) {
        ssize_t n = send(fd, reply_.data() + off, reply_.size() - off, MSG_NOSIGNAL);
        if (n <= 0) break;
        off += static_cast<size_t>(n);
      }
      replied_ = true;
    }
    if (mode_ != kReplyAndClose)
      while (!stop_ && steady_ms() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    close(fd);
  }

  Mode mode_;
  std::string reply_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> replied_{false};
  std::mutex mu_;
  std::string greeting_;
};

// Records what the link's data handler is given. consume = 0 keeps every byte
// buffered (the handler waits for more); -1 takes nothing on the first call
// and everything after; otherwise it takes that many a call.
struct Sink {
  int32_t consume = 0;
  int calls = 0;
  std::string taken;  // bytes consumed, in order
  std::string last;   // the buffer of the last call
};

int32_t sink_handler(const uint8_t* data, int32_t len, void* context, uint32_t arg) {
  auto* s = static_cast<Sink*>(context);
  EXPECT_EQ(77u, arg);
  s->calls++;
  s->last.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(len));
  if (s->consume == 0 || (s->consume < 0 && s->calls == 1)) return 0;
  int32_t n = s->consume < 0 ? len : std::min(len, s->consume);
  s->taken.append(reinterpret_cast<const char*>(data), static_cast<size_t>(n));
  return n;
}

class Io : public ::testing::Test {
 protected:
  void SetUp() override {
    g_clock_offset = 0;
    ssio_set_default_host("");  // keep the built-in list: no name lookups
    ASSERT_EQ(0, ssio_init());
    ssio_set_select_timeout(20);
    ssio_set_servers(0);
    ssio_clear_proxies();
    ssio_set_http_mode(0);
    sserr_clear();
    ssio_set_data_handler(sink_handler, &sink, 77);
  }
  void TearDown() override {
    ssio_fini();
    plat_set_test_random(nullptr);
  }

  void start(int port) {
    ssio_set_server("127.0.0.1", port);
    ASSERT_EQ(0, ssio_start_link());
  }

  // Runs passes until one returns -1 or `done` holds, for at most max_ms of
  // real time. The result of the last pass.
  int run_until(const std::function<bool()>& done, int64_t max_ms = 5000) {
    int64_t until = steady_ms() + max_ms;
    int r = 0;
    while (steady_ms() < until) {
      r = ssio_loop();
      if (r < 0 || done()) break;
    }
    return r;
  }

  ssio_state* link() { return ssio_state_at(0); }

  Sink sink;
};

// ---------------------------------------------------------------------------
// Against loopback peers

TEST_F(Io, RefusedConnectReportsNoConnection) {
  struct {
    const char* what;
    int proxy;  // 0 none, 1 SOCKS, 2 HTTP
    int32_t earlier_code;
    int32_t code;
  } cases[] = {
      {"direct", 0, 0, kSserrNoServer},
      {"through a socks proxy", 1, 0, kSserrNoProxy},
      {"through an http proxy", 2, 0, kSserrNoProxy},
      {"a specific error stays", 0, kSserrBadPassword, kSserrBadPassword},
      {"a link-lost error is replaced", 0, kSserrLinkLost, kSserrNoServer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int port = refused_port();
    ssio_clear_proxies();
    if (c.proxy == 1) ssio_set_socks_proxy("127.0.0.1", refused_port(), 5);
    if (c.proxy == 2) ssio_set_http_proxy("127.0.0.1", refused_port());
    sserr_clear();
    if (c.earlier_code) sserr_report(c.earlier_code, 0, 0, nullptr, 0);
    LogCapture log;
    start(port);
    EXPECT_EQ(-1, run_until([] { return false; }));
    EXPECT_EQ(c.code, sserr_last_code());
    EXPECT_EQ(1, log.count("can't connect to ambit server"));
    if (c.proxy == 0) {
      // The refusal is seen at the connect (at once, or through SO_ERROR once
      // the socket turns writable), not later as a failed send.
      std::string where = "127.0.0.1:" + std::to_string(port);
      EXPECT_EQ(1, log.count("connect to " + where + " failed") + log.count("can't connect to " + where));
      EXPECT_EQ(0, log.count("send failed"));
    }
    EXPECT_EQ(0u, ssio_bytes_received());
    EXPECT_EQ(0u, ssio_bytes_sent());
    EXPECT_EQ(0u, ssio_bytes_moved());
    EXPECT_EQ(kSsioIdle, link()->phase);
    EXPECT_EQ(-1, link()->fd);
    EXPECT_FALSE(ssio_connected());
    EXPECT_EQ(0, sink.calls);
  }
}

TEST_F(Io, GreetingThenEndOfStreamDeliversTheBufferedBytes) {
  std::string reply;
  for (int i = 0; i < 500; i++) reply += static_cast<char>(i * 7 + 3);
  for (int32_t consume : {-1, 7}) {
    SCOPED_TRACE(consume);
    Peer peer(Peer::kReplyAndClose, reply);
    sink = Sink{};
    sink.consume = consume;
    sserr_clear();
    LogCapture log;
    start(peer.port());
    bool connected_seen = false;
    int r = run_until([&] {
      connected_seen = connected_seen || ssio_connected();
      return false;
    });
    EXPECT_EQ(-1, r);
    EXPECT_TRUE(connected_seen);
    EXPECT_EQ("AMBIT/6\r\n", peer.greeting());
    EXPECT_EQ(9u, ssio_bytes_sent());
    EXPECT_EQ(500u, ssio_bytes_received());
    EXPECT_EQ(509u, ssio_bytes_moved());
    // With -1 the handler left everything buffered on its first call: the
    // end of the stream gave it the bytes again, and it took them.
    EXPECT_EQ(reply, sink.taken);
    if (consume < 0) {
      EXPECT_GE(sink.calls, 2);
    }
    EXPECT_EQ(1, log.count("dropped"));
    EXPECT_EQ(kSserrLinkLost, sserr_last_code());
    EXPECT_FALSE(ssio_connected());
  }
}

TEST_F(Io, GreetingText) {
  char buf[32];
  ASSERT_EQ(9, ssio_direct_greeting(buf, sizeof buf));
  EXPECT_STREQ("AMBIT/6\r\n", buf);
  EXPECT_EQ(-1, ssio_direct_greeting(buf, 9));  // no room for the terminator
}

TEST_F(Io, SignOffClosesQuietly) {
  Peer peer(Peer::kReplyAndClose, "bye");
  LogCapture log;
  start(peer.port());
  ASSERT_GE(run_until([&] { return ssio_connected() && link()->phase == kSsioData; }), 0);
  ssio_mark_sign_off();
  // Once sign off is marked the loop reports 0 even when the link ends.
  int r = run_until([&] { return !ssio_connected(); });
  EXPECT_EQ(0, r);
  EXPECT_FALSE(ssio_connected());
  EXPECT_EQ(1, log.count("closed"));
  EXPECT_EQ(0, log.count("dropped"));
  EXPECT_EQ(0, sserr_last_code());
}

TEST_F(Io, SilentPeerTimesOutAfterTheStepTimeout) {
  Peer peer(Peer::kSilent);
  start(peer.port());
  // Greeting written and flushed: the state waits for the reply.
  ASSERT_EQ(0, run_until([&] { return link()->phase == kSsioWaitReply && link()->sbuf.len == 0; }));
  ASSERT_NE(0, link()->deadline_ms);
  LogCapture log;
  g_clock_offset += 9000;
  for (int i = 0; i < 3; i++) ASSERT_EQ(0, ssio_loop());
  EXPECT_EQ(kSsioWaitReply, link()->phase);
  g_clock_offset += 1000;
  EXPECT_EQ(-1, run_until([] { return false; }, 2000));
  EXPECT_EQ(1, log.count("timeout on 0: 127.0.0.1:" + std::to_string(peer.port())));
  EXPECT_EQ(kSserrLinkLost, sserr_last_code());  // the greeting had gone out
  EXPECT_EQ(kSsioIdle, link()->phase);
}

TEST_F(Io, PeerThatNeverReadsDoesNotMakeTheLoopSpin) {
  Peer peer(Peer::kReplyNeverRead, "x", 4096);
  ssio_set_select_timeout(200);
  sink.consume = 1;
  start(peer.port());
  ASSERT_GE(run_until([&] { return link()->phase == kSsioData && sink.taken == "x"; }), 0);
  ASSERT_EQ("x", sink.taken);
  std::string big(8 << 20, 'q');
  ASSERT_EQ(0, ssio_send(big.data(), static_cast<int32_t>(big.size())));

  timespec c0, c1;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c0);
  int64_t w0 = steady_ms();
  int passes = 0;
  while (steady_ms() - w0 < 1500) {
    ASSERT_EQ(0, ssio_loop());
    passes++;
  }
  int64_t wall = steady_ms() - w0;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c1);
  double cpu_ms = (c1.tv_sec - c0.tv_sec) * 1e3 + (c1.tv_nsec - c0.tv_nsec) / 1e6;

  // The peer stopped reading, so most of the block is still queued...
  EXPECT_GT(link()->sbuf.len, 0);
  EXPECT_LT(ssio_bytes_sent(), big.size());
  // ...and the thread spent that time blocked in select, not running.
  EXPECT_LT(cpu_ms, 0.2 * static_cast<double>(wall)) << passes << " passes";
  EXPECT_LE(passes, 20);
  EXPECT_TRUE(ssio_connected());
}

// ---------------------------------------------------------------------------
// Server list and settings

TEST_F(Io, StartIndexIsRandomModuloTheList) {
  ssio_fini();
  for (long r : {0L, 1L, 7L, 10L}) {
    plat_set_test_random(test_random);
    g_random = r;
    LogCapture log;
    ASSERT_EQ(0, ssio_init());
    ASSERT_EQ(2, ssio_server_count());
    EXPECT_EQ(r % 2, ssio_server_index());
    EXPECT_EQ(1, log.count("starting with host " + std::to_string(r % 2) + "/2"));
    const char* host;
    int32_t port;
    ASSERT_EQ(0, ssio_current_server(&host, &port));
    EXPECT_STREQ(ssio_server_at(static_cast<int32_t>(r % 2)), host);
    EXPECT_EQ(443, port);
    ssio_fini();
  }
  ASSERT_EQ(0, ssio_init());
}

TEST_F(Io, RotationMovesOnlyAfterAFailedAttempt) {
  ssio_set_servers(1);
  const int32_t n = ssio_server_count();
  ASSERT_EQ(2, n);
  int32_t expect = ssio_server_index();
  // Each step: what happens, then whether the rotation that follows moves on.
  struct {
    const char* what;
    std::function<void()> before;
    bool moves;
  } steps[] = {
      {"a link was started (failed mark set)", [] { ssio_start_link(); }, true},
      {"the mark was cleared by that rotation", [] {}, false},
      {"started again", [] { ssio_start_link(); }, true},
      {"started again: wraps to 0", [] { ssio_start_link(); }, true},
      {"error 13 clears the mark", [] { ssio_start_link(); ssio_clear_failed(); }, false},
      {"HTTP mode stays", [] { ssio_start_link(); ssio_set_http_mode(1); }, false},
      {"back out of HTTP mode, mark still set", [] { ssio_set_http_mode(0); }, true},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    s.before();
    ssio_close_all();
    LogCapture log;
    ssio_rotate_server();
    if (s.moves) expect = (expect + 1) % n;
    EXPECT_EQ(expect, ssio_server_index());
    EXPECT_EQ(s.moves ? 1 : 0, log.count("switching to server"));
    const char* host;
    ASSERT_EQ(0, ssio_current_server(&host, nullptr));
    EXPECT_STREQ(ssio_server_at(expect), host);
  }
}

TEST_F(Io, CustomServersIgnoreRotation) {
  ssio_set_server("10.9.8.7", 0);
  const int32_t before = ssio_server_index();
  ssio_start_link();
  ssio_close_all();
  ssio_rotate_server();
  EXPECT_EQ(before, ssio_server_index());
  const char* host;
  int32_t port;
  ASSERT_EQ(0, ssio_current_server(&host, &port));
  EXPECT_STREQ("10.9.8.7", host);
  EXPECT_EQ(443, port);
  EXPECT_EQ(1, ssio_failed_mark());
}

TEST_F(Io, SetServerRules) {
  struct {
    int use_default;
    const char* host;
    int32_t port;
    bool list_host;  // the list's current host, not the one given
    int32_t port_after;
    const char* log;
  } cases[] = {
      {0, "feed.example.net", 0, false, 443, "set server feed.example.net:443"},
      {0, "10.1.1.1", 8080, false, 8080, "set server 10.1.1.1:8080"},
      {1, "10.1.1.1", 9000, true, 9000, "set server 10.1.1.1:9000"},
      {0, "", 0, true, 443, "set default servers"},
      {0, nullptr, 7000, true, 7000, "set default servers"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log);
    LogCapture log;
    ssio_set_servers(c.use_default);
    EXPECT_EQ(1, log.count(c.use_default ? "set default servers" : "set custom servers"));
    ssio_set_server(c.host, c.port);
    EXPECT_EQ(1, log.count(c.log));
    const char* host;
    int32_t port;
    ASSERT_EQ(0, ssio_current_server(&host, &port));
    EXPECT_STREQ(c.list_host ? ssio_server_at(ssio_server_index()) : c.host, host);
    EXPECT_EQ(c.port_after, port);
  }
}

TEST_F(Io, ProxySettings) {
  const char* host;
  int32_t port, version;
  EXPECT_FALSE(ssio_proxy_in_use());
  EXPECT_EQ(-1, ssio_http_proxy(&host, &port));

  ssio_set_socks_proxy("socks.local", 0, 0);
  ASSERT_EQ(0, ssio_socks_proxy(&host, &port, &version));
  EXPECT_STREQ("socks.local", host);
  EXPECT_EQ(1080, port);
  EXPECT_EQ(5, version);
  EXPECT_TRUE(ssio_proxy_in_use());

  LogCapture log;
  ssio_set_http_proxy("proxy.local", 0);  // replaces the SOCKS proxy
  EXPECT_EQ(1, log.count("set http proxy proxy.local:3128"));
  EXPECT_EQ(1, log.count("clear socks proxy"));
  ASSERT_EQ(0, ssio_http_proxy(&host, &port));
  EXPECT_STREQ("proxy.local", host);
  EXPECT_EQ(3128, port);
  EXPECT_EQ(-1, ssio_socks_proxy(&host, &port, &version));
  EXPECT_TRUE(ssio_proxy_in_use());

  ssio_set_http_proxy(nullptr, 0);
  EXPECT_EQ(1, log.count("clear http proxy"));
  EXPECT_FALSE(ssio_proxy_in_use());

  struct {
    const char* user;
    const char* password;
    int set;
  } auth[] = {{"u", "p", 1}, {"u", "", 0}, {"", "p", 0}, {nullptr, nullptr, 0}};
  for (const auto& a : auth) {
    ssio_set_proxy_auth(a.user, a.password);
    EXPECT_EQ(a.set, ssio_proxy_auth_set());
    EXPECT_STREQ(a.user ? a.user : "", ssio_proxy_user());
    EXPECT_STREQ(a.password ? a.password : "", ssio_proxy_password());
  }
  std::string long_user(100, 'u');
  ssio_set_proxy_auth(long_user.c_str(), "p");
  EXPECT_EQ(63u, strlen(ssio_proxy_user()));

  EXPECT_EQ(20, ssio_set_select_timeout(333));
  EXPECT_EQ(333, ssio_select_timeout());
  EXPECT_EQ(10, ssio_connect_timeout());
  EXPECT_EQ(nullptr, strchr(ssio_host_name(), '.'));
}

TEST_F(Io, StartLinkPicksTheTransport) {
  struct {
    const char* what;
    int http_mode;
    int proxy;  // 0 none, 1 SOCKS, 2 HTTP
    int32_t type;
  } cases[] = {
      {"direct", 0, 0, kSsioDirect},
      {"http mode", 1, 0, kSsioHttp},
      {"socks proxy", 0, 1, kSsioSocks},
      {"http proxy", 0, 2, kSsioHttpProxy},
      {"http proxy in http mode", 1, 2, kSsioHttpProxy},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ssio_set_http_mode(c.http_mode);
    ssio_clear_proxies();
    if (c.proxy == 1) ssio_set_socks_proxy("127.0.0.1", 1080, 5);
    if (c.proxy == 2) ssio_set_http_proxy("127.0.0.1", 3128);
    ssio_set_server("10.2.3.4", 5555);
    ASSERT_EQ(0, ssio_start_link());
    EXPECT_EQ(c.type, link()->type);
    EXPECT_EQ(kSsioConnect, link()->phase);
    EXPECT_STREQ("10.2.3.4", link()->host);
    EXPECT_EQ(5555, link()->port);
    EXPECT_GE(link()->rbuf.maxlen, 512000);
    if (c.http_mode) {
      EXPECT_EQ(kSsioPost, link()->method);
      EXPECT_STREQ("/AMBIT/6", link()->uri);
      EXPECT_GT(link()->body.len, 0);
    } else {
      EXPECT_EQ(0, link()->body.len);
    }
    ssio_close_all();
  }
}

TEST_F(Io, SendQueuesOnTheLinkOrAsAPost) {
  ASSERT_EQ(0, ssio_send("\0\x14", 2));
  EXPECT_EQ(2, link()->sbuf.len);
  ssio_set_http_mode(1);
  ssio_set_server("10.2.3.4", 5555);
  ASSERT_EQ(0, ssio_send("Z", 1));
  EXPECT_EQ(2, link()->sbuf.len);  // not on the link
  ASSERT_EQ(1, ssio_pending_count());
  ssio_state* rec = ssio_pending_first();
  EXPECT_EQ(kSsioPost, rec->method);
  EXPECT_STREQ("/AMBIT/6", rec->uri);
  EXPECT_STREQ("10.2.3.4", rec->host);
  EXPECT_EQ(5555, rec->port);
  EXPECT_EQ(ssio_expect_bye, rec->handler);
  EXPECT_GT(rec->body.len, 0);
}

// ---------------------------------------------------------------------------
// Side requests and states

// Makes state i busy: waiting for a connect that never comes (no socket).
void occupy(int32_t i) {
  ssio_state* st = ssio_state_at(i);
  ASSERT_EQ(0, ssio_state_reset(st, kSsioDirect, kSsioWaitConnected, kSsioWritable, 1, 0, 0, 0));
}

TEST_F(Io, PendingRequestsWaitForAFreeState) {
  struct {
    const char* what;
    int http_mode;
    int32_t busy_from, busy_to;
    bool starts;
    const char* log;
  } cases[] = {
      {"all eight busy", 0, 0, 7, false, nullptr},
      {"link idle, seven side states busy", 0, 1, 7, false, "no free states, concurrency = 8"},
      {"http mode: link and six busy", 1, 0, 6, false, nullptr},
      {"link and six busy", 0, 0, 6, true, "8/8-0 active"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ssio_close_all();
    ssio_set_http_mode(c.http_mode);
    for (int32_t i = c.busy_from; i <= c.busy_to; i++) occupy(i);
    ssio_progress progress{};
    ASSERT_EQ(0, ssio_http_request(nullptr, nullptr, 0, "http://127.0.0.1:1/doc", nullptr, 0, sink_handler, &sink,
                                   77, &progress, 5));
    EXPECT_EQ(kSsioProgressQueued, progress.phase);
    LogCapture log;
    ssio_loop();
    EXPECT_EQ(c.starts ? 0 : 1, ssio_pending_count());
    if (c.starts) {
      EXPECT_NE(kSsioProgressQueued, progress.phase);
    } else {
      EXPECT_EQ(kSsioProgressQueued, progress.phase);
    }
    if (c.log) {
      EXPECT_GE(log.count(c.log), 1);
    }
    if (!c.starts) {
      // Free one side state: the request starts on the next pass.
      ssio_state_at(c.busy_to)->closing = 1;
      ssio_loop();
      ssio_loop();
      EXPECT_EQ(0, ssio_pending_count());
      EXPECT_NE(kSsioProgressQueued, progress.phase);
    }
    ssio_close_all();
  }
}

TEST_F(Io, CloseAllFailsRunningSideRequests) {
  ssio_progress running{}, queued{};
  ssio_state* st = ssio_state_at(3);
  occupy(3);
  st->progress = &running;
  st->id = 9;
  ASSERT_EQ(0, ssio_http_request("GET", "127.0.0.1", 80, "/a", nullptr, 0, sink_handler, &sink, 77, &queued, 10));
  ssio_close_all();
  EXPECT_EQ(kSsioProgressFailed, running.phase);
  EXPECT_EQ(kSsioIdle, st->phase);
  EXPECT_EQ(-1, st->id);
  EXPECT_EQ(nullptr, st->progress);
  EXPECT_EQ(0, ssio_active_count());
  EXPECT_EQ(kSsioProgressQueued, queued.phase);  // still waiting its turn
  EXPECT_EQ(1, ssio_pending_count());
  EXPECT_EQ(0, ssio_cancel(10));  // the record lives on this stack
}

TEST_F(Io, CancelQueuedAndRunning) {
  ssio_progress a{}, b{};
  ASSERT_EQ(0, ssio_http_request("GET", "docs.local", 0, "/x.pdf", nullptr, 0, sink_handler, &sink, 77, &a, 21));
  ssio_state* st = ssio_state_at(2);
  occupy(2);
  snprintf(st->host, sizeof st->host, "feeds.local");
  st->port = 8080;
  snprintf(st->uri, sizeof st->uri, "/rss");
  st->progress = &b;
  st->id = 22;
  LogCapture log;
  struct {
    int32_t id;
    int result;
    const char* log;
  } cases[] = {
      {21, 0, "cancelled http://docs.local/x.pdf"},
      {21, -1, "can't find request 21 to cancel"},
      {22, 0, "cancelled http://feeds.local:8080/rss partway"},
      {0, -1, "won't cancel id 0"},
      {-3, -1, "won't cancel id -3"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, ssio_cancel(c.id)) << c.log;
    EXPECT_EQ(1, log.count(c.log));
  }
  EXPECT_EQ(kSsioProgressFailed, a.phase);
  EXPECT_EQ(kSsioProgressFailed, b.phase);
  EXPECT_EQ(0, ssio_pending_count());
  EXPECT_EQ(1, st->closing);
  ssio_loop();
  EXPECT_EQ(kSsioIdle, st->phase);
}

TEST_F(Io, StateResetRules) {
  ssio_state* st = ssio_state_at(4);
  LogCapture log;
  EXPECT_EQ(-1, ssio_state_reset(st, 9, kSsioConnect, 0, 1, 0, 0, 0));
  EXPECT_EQ(1, log.count("bad ssio type 9"));
  EXPECT_EQ(kSsioIdle, st->phase);

  growbuf_append(&st->rbuf, "abc", 3);
  growbuf_append(&st->sbuf, "de", 2);
  st->priv.redirects = 3;
  st->auth_flags = 5;
  // From idle the starting type is recorded; buffers and private area kept.
  ASSERT_EQ(0, ssio_state_reset(st, kSsioHttpProxy, kSsioConnect, kSsioWritable, 0, 0, 1, 1));
  EXPECT_EQ(kSsioHttpProxy, st->start_type);
  EXPECT_EQ(3, st->rbuf.len);
  EXPECT_EQ(2, st->sbuf.len);
  EXPECT_EQ(3, st->priv.redirects);
  EXPECT_EQ(5u, st->auth_flags);
  EXPECT_EQ(kSsioWritable, st->wait);
  // Not from idle: the starting type stays; buffers and private area go;
  // closing the socket clears the flag word.
  st->ready = kSsioReadable;
  ASSERT_EQ(0, ssio_state_reset(st, kSsioHttp, kSsioWaitReply, kSsioReadable, 1, 0, 0, 0));
  EXPECT_EQ(kSsioHttpProxy, st->start_type);
  EXPECT_EQ(kSsioHttp, st->type);
  EXPECT_EQ(0, st->rbuf.len);
  EXPECT_EQ(0, st->sbuf.len);
  EXPECT_EQ(0, st->priv.redirects);
  EXPECT_EQ(0u, st->auth_flags);
  EXPECT_EQ(0u, st->ready);
  EXPECT_EQ(ssio_http_handler, st->poll);
  ssio_close_all();
}

TEST_F(Io, DirectStepErrors) {
  ssio_state* st = ssio_state_at(0);
  LogCapture log;
  ASSERT_EQ(0, ssio_state_reset(st, kSsioDirect, 9, 0, 1, 0, 0, 0));
  EXPECT_EQ(-1, ssio_direct_handler(st));
  EXPECT_EQ(1, log.count("wasn't expecting state 9"));
  st->host[0] = 0;
  st->phase = kSsioConnect;
  EXPECT_EQ(-1, ssio_direct_handler(st));
  EXPECT_EQ(1, log.count("no ambit server defined"));
  snprintf(st->host, sizeof st->host, "127.0.0.1");
  st->port = 0;
  EXPECT_EQ(-1, ssio_direct_handler(st));
  EXPECT_EQ(1, log.count("can't connect to 127.0.0.1:0"));
  ssio_close_all();
}

// A name under .invalid never resolves, and the resolver answers without
// the network. The log line carries the resolver's reason, taken from the
// resolver itself as the reference.
TEST_F(Io, FailedLookupLogsTheResolversReason) {
  const char kName[] = "nonexistent.invalid";
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  const int rc = getaddrinfo(kName, nullptr, &hints, &res);
  if (rc == 0) freeaddrinfo(res);
  ASSERT_NE(0, rc);
  ASSERT_NE(EAI_SYSTEM, rc);
  const std::string want = std::string("getaddrinfo ") + kName + ": " + gai_strerror(rc);

  struct {
    const char* what;
    std::function<void()> lookup;
  } cases[] = {
      {"the link's server",
       [&] {
         ssio_state* st = ssio_state_at(0);
         ASSERT_EQ(0, ssio_state_reset(st, kSsioDirect, kSsioConnect, 0, 1, 0, 0, 0));
         snprintf(st->host, sizeof st->host, "%s", kName);
         st->port = 443;
         EXPECT_EQ(-1, ssio_direct_handler(st));
       }},
      {"the server list's name, when the default servers are chosen",
       [&] {
         ssio_set_default_host(kName);
         ssio_set_servers(1);
         EXPECT_EQ(2, ssio_server_count());  // the built-in list stays
       }},
      {"the server list's name, at a rotation",
       [&] {
         ssio_rotate_server();
         EXPECT_EQ(2, ssio_server_count());
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LogCapture log;
    c.lookup();
    EXPECT_EQ(1, log.count(want));
    EXPECT_EQ(0, log.count("Success"));
  }
  ssio_set_default_host("");
  ssio_close_all();
}

TEST_F(Io, ProgressFigures) {
  ssio_state st{};
  ssio_progress p{};
  st.progress = &p;
  // Nothing moved yet: no rate.
  ssio_state_progress(&st, kSsioProgressConnected, 0, 0);
  EXPECT_EQ(kSsioProgressConnected, p.phase);
  st.moved = 1;
  st.first_active_ms = plat_ms() - 4000;
  struct {
    int32_t phase, bytes, total;
    uint32_t received, got_total, rate, left;
  } steps[] = {
      {kSsioProgressReceiving, 4000, 10000, 4000, 10000, 1000, 6},
      {kSsioProgressReceiving, -5, 0, 4000, 10000, 1000, 6},  // negative counts and a 0 total change nothing
      {kSsioProgressReceiving, 4000, 0, 8000, 10000, 2000, 1},
      {kSsioProgressDone, 0, 0, 8000, 10000, 2000, 1},
  };
  for (const auto& s : steps) {
    ssio_state_progress(&st, s.phase, s.bytes, s.total);
    ssio_progress copy;
    ssio_state_get_progress(&copy, &p);
    EXPECT_EQ(s.phase, copy.phase);
    EXPECT_EQ(s.received, copy.received);
    EXPECT_EQ(s.got_total, copy.total);
    EXPECT_EQ(s.rate, copy.rate);
    EXPECT_EQ(s.left, copy.seconds_left);
  }
  // Under a second of activity leaves the rate alone.
  ssio_progress q{};
  st.progress = &q;
  st.first_active_ms = plat_ms() - 500;
  ssio_state_progress(&st, kSsioProgressReceiving, 100, 1000);
  EXPECT_EQ(0u, q.rate);
  EXPECT_EQ(0u, q.seconds_left);
}

// Reference model of the throughput history: a deque, newest first.
struct RefHistory {
  std::deque<uint64_t> slots;
  int64_t second = 0;
  void add(int64_t s, uint64_t bytes) {
    if (slots.empty() || s < second || s - second >= kSsioHistorySlots) {
      slots.assign(1, bytes);
      second = s;
      return;
    }
    for (int64_t i = second; i < s; i++) slots.push_front(0);
    while (slots.size() > static_cast<size_t>(kSsioHistorySlots)) slots.pop_back();
    second = s;
    slots.front() += bytes;
  }
};

TEST_F(Io, ThroughputHistoryMatchesAReferenceModel) {
  std::mt19937 rng(1234);
  ssio_history h{};
  RefHistory ref;
  int64_t now = 1000;
  for (int i = 0; i < 20000; i++) {
    int pick = static_cast<int>(rng() % 100);
    if (pick < 50)
      ;  // same second
    else if (pick < 90)
      now += rng() % 5;
    else if (pick < 95)
      now += 55 + rng() % 10;  // around the 60-second edge
    else
      now -= 1 + rng() % 3;  // the clock ran backwards
    uint64_t bytes = rng() % 100000;
    ssio_history_add(&h, now, bytes);
    ref.add(now, bytes);
    ASSERT_EQ(ref.slots.size(), static_cast<size_t>(h.count)) << "step " << i;
    ASSERT_EQ(ref.second, h.second);
    for (int32_t k = 0; k < h.count; k++) ASSERT_EQ(ref.slots[static_cast<size_t>(k)], h.slots[k]) << "slot " << k;
  }
  // Exact edges: a gap of 59 keeps the history, 60 restarts it.
  ssio_history e{};
  ssio_history_add(&e, 10, 5);
  ssio_history_add(&e, 69, 7);
  EXPECT_EQ(60, e.count);
  EXPECT_EQ(7u, e.slots[0]);
  EXPECT_EQ(5u, e.slots[59]);
  ssio_history_add(&e, 129, 9);
  EXPECT_EQ(1, e.count);
  EXPECT_EQ(9u, e.slots[0]);
}

TEST_F(Io, LinkThroughputIsCounted) {
  std::string reply(3000, 'r');
  Peer peer(Peer::kReplyAndClose, reply);
  sink.consume = 1 << 20;
  start(peer.port());
  run_until([] { return false; });
  ssio_history h;
  double total = 0;
  ssio_throughput(&h, &total);
  ASSERT_GE(h.count, 1);
  uint64_t sum = 0;
  for (int32_t i = 0; i < h.count; i++) sum += h.slots[i];
  EXPECT_EQ(3000u, sum);
  EXPECT_DOUBLE_EQ(0.003, total);
}

}  // namespace
