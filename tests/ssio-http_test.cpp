// The HTTP transport: the request texts byte for byte, URL parsing, the
// HTTP-mode body with a fixed random value, and the reply handling (every
// status code's action, redirects, cut replies, header caps) against a
// scripted HTTP peer on loopback; then downloads from a real nginx with
// redirects, error codes and a rate limit that the progress record shows.
#include "ssio-http.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plat.h"
#include "ssclient.h"
#include "sserr.h"
#include "ssio-http-proxy.h"
#include "ssio.h"
#include "testclient.h"
#include "testclock.h"
#include "testlog.h"
#include "testnet.h"
#include "testpeers.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime());

long fixed_random() { return 0x1234ABCD; }

// A scripted HTTP peer on 127.0.0.1: for every request it reads (headers and
// a Content-Length body) it asks `respond` for the reply and whether to close
// after it. Requests are kept per connection. Stops in its destructor.
class ScriptedHttp {
 public:
  struct Reply {
    std::string bytes;
    bool close = true;
  };
  using Responder = std::function<Reply(int conn, int nth, const std::string& request)>;

  explicit ScriptedHttp(Responder respond) : respond_(std::move(respond)) {
    fd_ = listen_loopback(16, &port_);
    thread_ = std::thread([this] { run(); });
  }
  ~ScriptedHttp() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  int port() const { return port_; }
  // Connections served to their end.
  int finished() const { return finished_.load(); }
  // Bytes written after a reply that closed the connection, by connection.
  std::map<int, std::string> trailing() {
    std::lock_guard<std::mutex> g(mu_);
    return trailing_;
  }
  std::vector<std::vector<std::string>> requests() {
    std::lock_guard<std::mutex> g(mu_);
    return requests_;
  }

 private:
  void run() {
    while (!stop_) {
      pollfd pf{fd_, POLLIN, 0};
      if (poll(&pf, 1, 20) <= 0) continue;
      int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      int conn;
      {
        std::lock_guard<std::mutex> g(mu_);
        conn = static_cast<int>(requests_.size());
        requests_.emplace_back();
      }
      serve(c, conn);
      close(c);
      finished_++;
    }
  }
  void serve(int c, int conn) {
    std::string in;
    for (int nth = 0; !stop_;) {
      size_t end = in.find("\r\n\r\n");
      if (end != std::string::npos) {
        size_t body = 0;
        size_t at = in.find("Content-Length: ");
        if (at != std::string::npos && at < end) body = std::stoul(in.substr(at + 16));
        if (in.size() >= end + 4 + body) {
          std::string request = in.substr(0, end + 4 + body);
          in.erase(0, request.size());
          {
            std::lock_guard<std::mutex> g(mu_);
            requests_[static_cast<size_t>(conn)].push_back(request);
          }
          Reply r = respond_(conn, nth++, request);
          if (!r.bytes.empty() && send(c, r.bytes.data(), r.bytes.size(), MSG_NOSIGNAL) < 0) return;
          if (r.close) {
            keep_trailing(c, conn);
            return;
          }
          continue;
        }
      }
      pollfd pf{c, POLLIN, 0};
      if (poll(&pf, 1, 20) <= 0) continue;
      char buf[4096];
      ssize_t n = recv(c, buf, sizeof buf, 0);
      if (n <= 0) return;
      in.append(buf, static_cast<size_t>(n));
    }
  }

  // Half-closes and keeps what the client still writes until it closes too
  // (a client that took the reply for something else writes on).
  void keep_trailing(int c, int conn) {
    shutdown(c, SHUT_WR);
    int64_t until = steady_ms() + 3000;
    while (!stop_ && steady_ms() < until) {
      pollfd pf{c, POLLIN, 0};
      if (poll(&pf, 1, 20) <= 0) continue;
      char buf[4096];
      ssize_t n = recv(c, buf, sizeof buf, 0);
      if (n <= 0) return;
      std::lock_guard<std::mutex> g(mu_);
      trailing_[conn].append(buf, static_cast<size_t>(n));
    }
  }

  Responder respond_;
  std::map<int, std::string> trailing_;
  std::atomic<int> finished_{0};
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mu_;
  std::vector<std::vector<std::string>> requests_;
};

struct Download {
  std::string body;
  ssio_progress progress{};
  int32_t seen_rate = 0;       // largest rate seen while receiving
  int32_t seen_left = 0;       // largest seconds-left seen while receiving
  int32_t seen_receiving = 0;  // passes that saw phase -1
};

int32_t collect(const uint8_t* data, int32_t len, void* context, uint32_t arg) {
  (void)arg;
  static_cast<Download*>(context)->body.append(reinterpret_cast<const char*>(data), static_cast<size_t>(len));
  return len;
}

class Http : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, ssio_init());
    ssio_set_select_timeout(20);
    ssio_set_servers(0);
    ssio_clear_proxies();
    ssio_set_proxy_auth(nullptr, nullptr);
    ssio_set_http_mode(0);
    ssio_http_set_user_agent("Ambit-%s", "2.1.0.77");
    sserr_clear();
  }
  void TearDown() override {
    ssio_fini();
    plat_set_test_random(nullptr);
  }

  // Runs a GET of url as side request to its end (done or failed).
  void fetch(const std::string& url, Download* d, int max_ms = 8000) {
    static int32_t id = 0;
    ASSERT_EQ(0, ssio_http_request(nullptr, nullptr, 0, url.c_str(), nullptr, 0, collect, d, 0, &d->progress, ++id));
    int64_t until = steady_ms() + max_ms;
    while (steady_ms() < until) {
      ssio_loop();
      ssio_progress p;
      ssio_state_get_progress(&p, &d->progress);
      if (p.phase == kSsioProgressReceiving) {
        d->seen_receiving++;
        d->seen_rate = std::max<int32_t>(d->seen_rate, static_cast<int32_t>(p.rate));
        d->seen_left = std::max<int32_t>(d->seen_left, static_cast<int32_t>(p.seconds_left));
      }
      if (p.phase == kSsioProgressDone || p.phase == kSsioProgressFailed) return;
    }
    ADD_FAILURE() << "no end of " << url << " in time";
  }
};

// ---------------------------------------------------------------------------
// Request texts

TEST_F(Http, RequestTextsAreExact) {
  ssio_set_proxy_auth("alice", "secret");
  struct Case {
    const char* name;
    int32_t method;
    const char* host;
    int32_t port;
    const char* uri;
    const char* body;
    int via_proxy;
    uint32_t persistent;
    uint32_t offered;  // proxy methods offered by an earlier 407
    const char* want;
  } cases[] = {
      {"direct GET", kSsioGet, "files.example", 80, "/docs/a.pdf", "", 0, 0, 0,
       "GET /docs/a.pdf HTTP/1.0\r\nHost: files.example\r\nUser-Agent: Ambit-2.1.0.77\r\n"
       "Connection: close\r\nAccept: */*\r\nPragma: no-cache\r\n\r\n"},
      {"direct POST", kSsioPost, "10.0.0.5", 443, "/AMBIT/6", "a=00&b=1", 0, 0, 0,
       "POST /AMBIT/6 HTTP/1.0\r\nHost: 10.0.0.5\r\nUser-Agent: Ambit-2.1.0.77\r\n"
       "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 8\r\n"
       "Connection: close\r\nAccept: */*\r\nPragma: no-cache\r\n\r\na=00&b=1"},
      {"proxied GET, port 80", kSsioGet, "files.example", 80, "/feed.xml", "", 1, 0, 0,
       "GET http://files.example/feed.xml HTTP/1.0\r\nHost: files.example\r\nUser-Agent: Ambit-2.1.0.77\r\n"
       "Connection: close\r\nAccept: */*\r\nPragma: no-cache\r\n\r\n"},
      {"proxied GET, port 8080, Basic", kSsioGet, "files.example", 8080, "/x?y=1", "", 1, 0, kProxyBasic,
       "GET http://files.example:8080/x?y=1 HTTP/1.0\r\nHost: files.example\r\nUser-Agent: Ambit-2.1.0.77\r\n"
       "Proxy-Authorization: Basic YWxpY2U6c2VjcmV0\r\n"
       "Connection: close\r\nAccept: */*\r\nPragma: no-cache\r\n\r\n"},
      {"proxied POST on a kept connection", kSsioPost, "10.0.0.5", 443, "/AMBIT/6", "a=&b=1", 1, 1, 0,
       "POST http://10.0.0.5:443/AMBIT/6 HTTP/1.0\r\nHost: 10.0.0.5\r\nUser-Agent: Ambit-2.1.0.77\r\n"
       "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 6\r\n"
       "Proxy-Connection: Keep-Alive\r\nAccept: */*\r\nPragma: no-cache\r\n\r\na=&b=1"},
      {"direct GET on a kept connection", kSsioGet, "h", 80, "/", "", 0, 1, 0,
       "GET / HTTP/1.0\r\nHost: h\r\nUser-Agent: Ambit-2.1.0.77\r\nAccept: */*\r\nPragma: no-cache\r\n\r\n"},
      {"CONNECT", kSsioConnectMethod, "127.0.0.1", 443, "", "", 1, 0, 0,
       "CONNECT 127.0.0.1:443 HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: Ambit-2.1.0.77\r\n\r\n"},
      {"CONNECT with Basic", kSsioConnectMethod, "md.example", 7000, "", "", 1, 0, kProxyBasic,
       "CONNECT md.example:7000 HTTP/1.1\r\nHost: md.example\r\nUser-Agent: Ambit-2.1.0.77\r\n"
       "Proxy-Authorization: Basic YWxpY2U6c2VjcmV0\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ssio_state* st = ssio_state_at(1);
    ssio_state_reset(st, kSsioHttp, kSsioWrite, 0, 1, 0, 0, 0);
    st->method = c.method;
    snprintf(st->host, sizeof st->host, "%s", c.host);
    st->port = c.port;
    snprintf(st->uri, sizeof st->uri, "%s", c.uri);
    growbuf_reset(&st->body);
    growbuf_append(&st->body, c.body, static_cast<uint32_t>(strlen(c.body)));
    st->auth_flags = c.persistent;
    st->priv.offered = c.offered;
    ASSERT_EQ(0, ssio_http_write_request(st, c.via_proxy));
    EXPECT_EQ(std::string(c.want), std::string(reinterpret_cast<char*>(st->sbuf.data), st->sbuf.len));
    st->phase = kSsioIdle;
  }
}

TEST_F(Http, UserAgentDropsLineBreaks) {
  ssio_http_set_user_agent("Ambit\r\nX-Evil: 1");
  EXPECT_STREQ("Ambit", ssio_http_user_agent());
}

TEST_F(Http, HttpModeBodyWithAFixedRandomValue) {
  plat_set_test_random(fixed_random);
  ssclient_set_session_value(0xC0FFEE01);
  ssio_http_set_sequence(41);
  growbuf gb;
  growbuf_init(&gb, 64, 64);
  const uint8_t set[] = {0x00, 0x14, 0x01, 0xFF, 'Z'};
  ASSERT_EQ(0, ssio_http_body(&gb, set, sizeof set, 1));
  EXPECT_EQ("a=1234ABCD00000029C0FFEE01" "001401FF5A" "005B" "&b=1",
            std::string(reinterpret_cast<char*>(gb.data), gb.len));
  growbuf_reset(&gb);
  ASSERT_EQ(0, ssio_http_body(&gb, "AMBIT/6\n", 8, 0));
  EXPECT_EQ("a=1234ABCD0000002AC0FFEE01" "414D4249542F360A" "&b=1",
            std::string(reinterpret_cast<char*>(gb.data), gb.len));
  EXPECT_EQ(43u, ssio_http_sequence());
  growbuf_free(&gb);
  ssclient_set_session_value(0);
}

TEST_F(Http, UrlParsing) {
  const std::string long_host = "http://" + std::string(80, 'h') + "/";
  const std::string longest_host = "http://" + std::string(79, 'h') + "/";
  const std::string long_uri = "http://h/" + std::string(1023, 'u');
  struct Case {
    std::string url;
    int rc;
    const char* host;
    int32_t port;
    const char* uri;
  } cases[] = {
      {"http://files.example:8080", 0, "files.example", 8080, "/"},
      {"HTTP://Files.Example/a/b?c=d", 0, "Files.Example", 80, "/a/b?c=d"},
      {"http://127.0.0.1:1/x", 0, "127.0.0.1", 1, "/x"},
      {longest_host, 0, nullptr, 80, "/"},
      {"https://files.example/", -1, nullptr, 0, nullptr},
      {"ftp://files.example/", -1, nullptr, 0, nullptr},
      {"http://", -1, nullptr, 0, nullptr},
      {long_host, -1, nullptr, 0, nullptr},
      {"http://h:0/", -1, nullptr, 0, nullptr},
      {"http://h:65536/", -1, nullptr, 0, nullptr},
      {"http://h:-80/", -1, nullptr, 0, nullptr},
      {"http://h:abc/", -1, nullptr, 0, nullptr},
      {"http://h:80x/", -1, nullptr, 0, nullptr},
      {long_uri, -1, nullptr, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url.substr(0, 40));
    ssio_state st{};
    LogCapture log;
    EXPECT_EQ(c.rc, ssio_http_parse_url(&st, c.url.c_str()));
    // https is refused by name: this side speaks plain http only.
    EXPECT_EQ(log.has("https is not supported, only plain http"), c.url.rfind("https:", 0) == 0);
    if (c.rc == 0) {
      if (c.host) {
        EXPECT_STREQ(c.host, st.host);
      }
      EXPECT_EQ(c.port, st.port);
      EXPECT_STREQ(c.uri, st.uri);
    }
  }
  // Queueing refuses the same things before anything is kept.
  EXPECT_EQ(-1, ssio_http_request("GET", std::string(80, 'h').c_str(), 80, "/", nullptr, 0, collect, nullptr, 0,
                                  nullptr, 1));
  EXPECT_EQ(-1, ssio_http_request("GET", "h", 70000, "/", nullptr, 0, collect, nullptr, 0, nullptr, 1));
  EXPECT_EQ(-1, ssio_http_request("PUT", "h", 80, "/", nullptr, 0, collect, nullptr, 0, nullptr, 1));
  EXPECT_EQ(0, ssio_pending_count());
}

// ---------------------------------------------------------------------------
// Replies

TEST(HttpReplyAction, CodeTable) {
  struct Case {
    int32_t code;
    ssio_http_action action;
  } cases[] = {
      {200, kHttpGood},    {301, kHttpGood},         {302, kHttpGood},      {100, kHttpIgnored},
      {201, kHttpIgnored}, {204, kHttpIgnored},      {303, kHttpIgnored},   {307, kHttpIgnored},
      {400, kHttpFail},    {401, kHttpUnauthorized}, {403, kHttpFail},      {404, kHttpFail},
      {407, kHttpProxyAuth}, {500, kHttpFail},       {502, kHttpFail},      {503, kHttpFail},
  };
  for (const Case& c : cases) EXPECT_EQ(c.action, ssio_http_reply_action(c.code)) << c.code;
}

// Every reply is sent whole and the connection closed; what the side request
// ends with, what its handler got and the log line that says why.
TEST_F(Http, RepliesEndTheRequestByTheirCode) {
  const std::string big_headers = "HTTP/1.0 200 OK\r\nX-Pad: " + std::string(70000, 'p') + "\r\n\r\nbody";
  struct Case {
    const char* name;
    std::string reply;
    int32_t phase;
    const char* body;
    const char* logged;
  } cases[] = {
      {"200 with length", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", kSsioProgressDone, "hello", nullptr},
      {"200 ending in LF LF", "HTTP/1.1 200 OK\nContent-Length: 5\n\nhello", kSsioProgressDone, "hello", nullptr},
      {"200 without length", "HTTP/1.0 200 OK\r\n\r\nto the end", kSsioProgressDone, "to the end", nullptr},
      {"204 goes on", "HTTP/1.0 204 No Content\r\n\r\n", kSsioProgressDone, "", "ignoring response code 204"},
      {"400", "HTTP/1.0 400 Bad Request\r\n\r\n", kSsioProgressFailed, "", "bad request: http://"},
      {"401", "HTTP/1.0 401 Unauthorized\r\n\r\n", kSsioProgressFailed, "", "unauthorized: http://"},
      {"403", "HTTP/1.0 403 Forbidden\r\n\r\n", kSsioProgressFailed, "", "forbidden: http://"},
      {"404", "HTTP/1.0 404 Not Found\r\n\r\n", kSsioProgressFailed, "", "not found: http://"},
      {"500", "HTTP/1.0 500 Oops\r\n\r\n", kSsioProgressFailed, "", "error 500: http://"},
      {"502", "HTTP/1.0 502 Bad Gateway\r\n\r\n", kSsioProgressFailed, "", "proxy unauthorized: http://"},
      {"not HTTP", "SSH-2.0-x\r\n\r\n", kSsioProgressFailed, "", "response doesn't start with HTTP/ (SSH-2)"},
      {"no code", "HTTP/1.0\r\n\r\n", kSsioProgressFailed, "", "can't find HTTP response code"},
      {"cut in the headers", "HTTP/1.0 200 OK\r\nContent-", kSsioProgressFailed, "", "eof before the reply"},
      {"cut in the body", "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhello", kSsioProgressFailed, "hello",
       "eof after 5 of 10 bytes"},
      {"endless headers", big_headers, kSsioProgressFailed, "", "reply headers longer than 65536 bytes"},
      {"407 without a proxy challenge", "HTTP/1.0 407 Auth\r\n\r\n", kSsioProgressFailed, "",
       "proxy requires authentication, but gives no hints"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedHttp peer([&](int, int, const std::string&) { return ScriptedHttp::Reply{c.reply, true}; });
    LogCapture log;
    Download d;
    fetch("http://127.0.0.1:" + std::to_string(peer.port()) + "/file", &d);
    EXPECT_EQ(c.phase, d.progress.phase);
    EXPECT_EQ(c.body, d.body);
    if (c.logged) {
      EXPECT_TRUE(log.has(c.logged)) << c.logged;
    }
    // A side request's failure never stands as the server link's error.
    EXPECT_EQ(kSserrNone, sserr_last_code());
  }
}

TEST_F(Http, ProgressTotalComesFromContentLength) {
  ScriptedHttp peer([](int, int, const std::string&) {
    return ScriptedHttp::Reply{"HTTP/1.0 200 OK\r\nContent-Length: 11\r\n\r\nhello world", true};
  });
  Download d;
  fetch("http://127.0.0.1:" + std::to_string(peer.port()) + "/", &d);
  EXPECT_EQ(kSsioProgressDone, d.progress.phase);
  EXPECT_EQ(11u, d.progress.total);
  EXPECT_EQ(11u, d.progress.received);
}

// Redirects numbered by their path: /r/N answers with a redirect to /r/N-1
// (absolute or relative, by turns), /r/0 with the file.
TEST_F(Http, FourRedirectsAreFollowedAndTheFifthIsRefused) {
  int port = 0;
  ScriptedHttp peer([&](int, int, const std::string& req) {
    int n = std::atoi(req.c_str() + req.find("/r/") + 3);
    if (n == 0) return ScriptedHttp::Reply{"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\ndone", true};
    std::string to = n % 2 ? "http://127.0.0.1:" + std::to_string(port) + "/r/" + std::to_string(n - 1)
                           : "/r/" + std::to_string(n - 1);
    const char* header = n == 3 ? "URI: " : "Location: ";
    return ScriptedHttp::Reply{"HTTP/1.0 302 Found\r\n" + std::string(header) + to + "\r\n\r\n", true};
  });
  port = peer.port();
  Download four, five;
  fetch("http://127.0.0.1:" + std::to_string(port) + "/r/4", &four);
  EXPECT_EQ(kSsioProgressDone, four.progress.phase);
  EXPECT_EQ("done", four.body);
  LogCapture log;
  fetch("http://127.0.0.1:" + std::to_string(port) + "/r/5", &five);
  EXPECT_EQ(kSsioProgressFailed, five.progress.phase);
  EXPECT_TRUE(log.has("redirected too many times, last is: "));
  EXPECT_EQ(5u + 5u, peer.requests().size());  // the fifth redirect is never asked for
}

TEST_F(Http, RedirectToAVeryLongUriIsRefused) {
  ScriptedHttp peer([](int, int, const std::string&) {
    return ScriptedHttp::Reply{"HTTP/1.0 301 Moved\r\nLocation: http://h/" + std::string(1100, 'x') + "\r\n\r\n",
                               true};
  });
  LogCapture log;
  Download d;
  fetch("http://127.0.0.1:" + std::to_string(peer.port()) + "/", &d);
  EXPECT_EQ(kSsioProgressFailed, d.progress.phase);
  EXPECT_TRUE(log.has("redirected to very long uri: "));
}

// ---------------------------------------------------------------------------
// Through a proxy (a scripted one)

// A download through the proxy is a plain proxied GET: its 200 is the
// server's reply, not a tunnel's, so the body (larger than one read) is
// counted whole and no greeting is ever written after it.
TEST_F(Http, ProxiedDownloadStaysHttpAndWritesNoGreeting) {
  std::string payload(1 << 20, 'p');
  for (size_t i = 0; i < payload.size(); i += 1000) payload[i] = static_cast<char>('a' + i % 26);
  ScriptedHttp proxy([&](int, int, const std::string&) {
    return ScriptedHttp::Reply{"HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(payload.size()) +
                                   "\r\n\r\n" + payload,
                               true};
  });
  ssio_set_http_proxy("127.0.0.1", proxy.port());
  Download d;
  fetch("http://files.example:8080/doc", &d);
  EXPECT_EQ(kSsioProgressDone, d.progress.phase);
  EXPECT_TRUE(payload == d.body);
  EXPECT_EQ(payload.size(), d.progress.received);
  EXPECT_EQ(payload.size(), d.progress.total);
  auto reqs = proxy.requests();
  ASSERT_EQ(1u, reqs.size());
  ASSERT_EQ(1u, reqs[0].size());
  EXPECT_EQ(0u, reqs[0][0].find("GET http://files.example:8080/doc HTTP/1.0\r\n"));
  ASSERT_TRUE(wait_for([&] { return proxy.finished() == 1; }));
  EXPECT_TRUE(proxy.trailing().empty()) << proxy.trailing().begin()->second;
}

TEST_F(Http, BasicChallengeIsAnsweredOnceThenTheProxyFails) {
  ssio_set_proxy_auth("alice", "wrong");
  ScriptedHttp proxy([](int, int, const std::string&) {
    return ScriptedHttp::Reply{"HTTP/1.0 407 Auth\r\nProxy-Authenticate: Basic realm=\"r\"\r\n"
                               "Proxy-Authenticate: Negotiate\r\nContent-Length: 0\r\n\r\n",
                               true};
  });
  ssio_set_http_proxy("127.0.0.1", proxy.port());
  LogCapture log;
  Download d;
  fetch("http://files.example/doc", &d);
  EXPECT_EQ(kSsioProgressFailed, d.progress.phase);
  EXPECT_TRUE(log.has("proxy authentication failed"));
  auto reqs = proxy.requests();
  ASSERT_EQ(2u, reqs.size());
  EXPECT_EQ(std::string::npos, reqs[0][0].find("Proxy-Authorization"));
  EXPECT_NE(std::string::npos, reqs[1][0].find("Proxy-Authorization: Basic YWxpY2U6d3Jvbmc=\r\n"));
  EXPECT_EQ(kSserrNone, sserr_last_code());  // a side request: no server error
}

// A proxy that offers NTLM for ever, on a kept-alive connection with a body
// on every 407: the request gives up after a bounded number of rounds, and
// every round is written on the one connection after the body.
TEST_F(Http, NtlmOffersAreCappedAndTheirBodiesSkipped) {
  ssio_set_proxy_auth("DOM\\alice", "secret");
  const std::string challenge = "TlRMTVNTUAACAAAAAAAAACgAAAABggAAU3J2Tm9uY2UAAAAAAAAAAA==";
  int round = 0;  // replies in all, over every connection
  ScriptedHttp proxy([&](int, int, const std::string&) {
    std::string offer = round++ % 2 ? "NTLM " + challenge : "NTLM";
    std::string body(300000, 'b');  // more than one read: it must be skipped as it comes
    return ScriptedHttp::Reply{"HTTP/1.1 407 Auth\r\nProxy-Authenticate: " + offer + "\r\nContent-Length: " +
                                   std::to_string(body.size()) + "\r\n\r\n" + body,
                               false};
  });
  ssio_set_http_proxy("127.0.0.1", proxy.port());
  LogCapture log;
  Download d;
  fetch("http://files.example/doc", &d);
  EXPECT_EQ(kSsioProgressFailed, d.progress.phase);
  EXPECT_TRUE(log.has("proxy authentication failed"));
  // The bare request closes its connection; the negotiate and the answer
  // share the next one, and a third offer ends it.
  auto reqs = proxy.requests();
  ASSERT_EQ(2u, reqs.size());
  ASSERT_EQ(1u, reqs[0].size());
  ASSERT_EQ(2u, reqs[1].size());
  EXPECT_EQ(std::string::npos, reqs[0][0].find("Proxy-Authorization"));
  EXPECT_NE(std::string::npos, reqs[0][0].find("Connection: close\r\n"));
  EXPECT_NE(std::string::npos, reqs[1][0].find("Proxy-Connection: Keep-Alive\r\n"));
  EXPECT_NE(std::string::npos, reqs[1][0].find("Proxy-Authorization: NTLM TlRMTVNTUAABAAAABoIAAAAAAAAAAAAAAAAAAAAAAAA="));
  EXPECT_NE(std::string::npos, reqs[1][1].find("Proxy-Authorization: NTLM TlRMTVNTUAAD"));
  for (const auto& conn : reqs)
    for (const std::string& r : conn) EXPECT_EQ(0u, r.find("GET http://files.example/doc HTTP/1.0\r\n"));
}

// A 407 that says the proxy closes its connection is not waited on: the next
// leg goes out on a new connection.
TEST_F(Http, ProxyThatClosesGetsEachLegOnANewConnection) {
  ssio_set_proxy_auth("alice", "secret");
  ScriptedHttp proxy([&](int, int, const std::string&) {
    return ScriptedHttp::Reply{"HTTP/1.1 407 Auth\r\nProxy-Authenticate: NTLM\r\nConnection: close\r\n"
                               "Content-Length: 0\r\n\r\n",
                               true};
  });
  ssio_set_http_proxy("127.0.0.1", proxy.port());
  Download d;
  fetch("http://files.example/doc", &d);
  EXPECT_EQ(kSsioProgressFailed, d.progress.phase);
  auto reqs = proxy.requests();
  ASSERT_EQ(static_cast<size_t>(kProxyNtlmRepliesMax), reqs.size());
  for (const auto& conn : reqs) EXPECT_EQ(1u, conn.size());
}

// ---------------------------------------------------------------------------
// A real file server

class NginxDownloads : public Http {
 protected:
  static void SetUpTestSuite() {
    ok_ = start_nginx(&nginx_,
                      "    location = /r1 { return 302 /r2; }\n"
                      "    location = /r2 { return 301 /r3; }\n"
                      "    location = /r3 { return 302 /r4; }\n"
                      "    location = /r4 { return 302 /report.txt; }\n"
                      "    location = /r0 { return 302 /r1; }\n"
                      "    location = /forbidden { return 403; }\n"
                      "    location = /boom { return 500; }\n"
                      "    location /slow/ { limit_rate 64k; limit_rate_after 0; sendfile off; output_buffers 1 8k; }\n");
    if (!ok_) return;
    report_.clear();
    for (int i = 0; report_.size() < 20000; i++) report_ += "line " + std::to_string(i) + " of the report\n";
    slow_.assign(256 * 1024, 'x');
    for (size_t i = 0; i < slow_.size(); i += 97) slow_[i] = static_cast<char>('a' + i % 26);
    peer_write_file(nginx_.dir, "www/report.txt", report_);
    peer_write_file(nginx_.dir, "www/slow/big.bin", slow_);
  }
  static void TearDownTestSuite() { stop_peer(&nginx_); }
  void SetUp() override {
    ASSERT_TRUE(ok_) << "nginx did not start";
    Http::SetUp();
  }
  std::string url(const char* path) { return "http://127.0.0.1:" + std::to_string(nginx_.port) + path; }

  static test_peer nginx_;
  static bool ok_;
  static std::string report_, slow_;
};
test_peer NginxDownloads::nginx_;
bool NginxDownloads::ok_ = false;
std::string NginxDownloads::report_, NginxDownloads::slow_;

TEST_F(NginxDownloads, FileRedirectsAndErrors) {
  struct Case {
    const char* path;
    int32_t phase;
    bool whole;  // the body is the report
  } cases[] = {
      {"/report.txt", kSsioProgressDone, true},  {"/r1", kSsioProgressDone, true},
      {"/r0", kSsioProgressFailed, false},       {"/missing.txt", kSsioProgressFailed, false},
      {"/forbidden", kSsioProgressFailed, false}, {"/boom", kSsioProgressFailed, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Download d;
    fetch(url(c.path), &d);
    EXPECT_EQ(c.phase, d.progress.phase) << peer_logs(nginx_);
    if (c.whole) {
      EXPECT_EQ(report_, d.body);
      EXPECT_EQ(report_.size(), d.progress.total);
    }
  }
}

// 256 KB at 64 KB/s: about four seconds, in which the progress record shows
// the total, a rate and the seconds left. The rate is taken over whole
// seconds; with the rate limit sent in small buffers (no first burst) about
// three quarters are left to come after the first second.
TEST_F(NginxDownloads, RateLimitedDownloadReportsRateAndSecondsLeft) {
  Download d;
  fetch(url("/slow/big.bin"), &d, 20000);
  EXPECT_EQ(kSsioProgressDone, d.progress.phase);
  EXPECT_TRUE(d.body == slow_);
  EXPECT_EQ(slow_.size(), d.progress.total);
  EXPECT_GT(d.seen_receiving, 0);
  EXPECT_GT(d.seen_rate, 16 * 1024);
  EXPECT_LT(d.seen_rate, 256 * 1024);
  EXPECT_GE(d.seen_left, 1);
}

}  // namespace
