// The io thread piece by piece, on the test thread: the handshake and the
// sign-on message (read back field by field, the response checked against an
// independent SHA-256, the key against an independent AES), the heartbeat
// limit table, poll passes against the market simulator and a scripted peer
// (silence before "Online", heartbeats when every exchange is in state 0),
// protocol errors and the pending cap, the online follow-ups, and the
// reconnect decisions of ssclient_run (back-off timings, the reconnect
// timeout, server error codes) with time and randomness through the seams.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef AMBIT_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

#include "dalloc.h"
#include "growbuf.h"
#include "localdata.h"
#include "log.h"
#include "plat.h"
#include "sim.h"
#include "sim_msg.h"
#include "ssauth.h"
#include "ssclient.h"
#include "ssclient_int.h"
#include "sserr.h"
#include "ssevent.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssmsg.h"
#include "ssproto.h"
#include "sstime.h"
#include "sstrack.h"
#include "ssuser.h"
#include "testclient.h"
#include "testclock.h"
#include "testmodel.h"
#include "testnet.h"
#include "testsim.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Virtual time (offset_clock): the real monotonic clock plus g_clock_offset,
// which the tests and the sleep hook move forward.

constexpr int32_t kYieldPauseMs = 7;  // no back-off slice is this long

std::atomic<long> g_random{0};
long test_random() { return g_random.load(); }

// Every client sleep comes here: it is recorded, moves virtual time forward
// by what was asked, and lets the test act (the "user" of a run on this
// thread). Real time passes only a millisecond.
std::mutex g_mu;
std::vector<int32_t> g_sleeps;
std::function<void(int32_t)> g_on_sleep;
int sleep_hook(int32_t ms) {
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_sleeps.push_back(ms);
  }
  g_clock_offset += ms;
  if (g_on_sleep) g_on_sleep(ms);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms > 0 ? 1 : 0));
  return 0;
}

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime(offset_clock));

// Independent references ------------------------------------------------------

// The walk of the challenge by the password's bytes, written from its
// description: a position moves by each byte (mod 251), wrapping to the
// first byte after the last, and each step takes the challenge byte there.
Bytes walk(const std::string& password, const uint8_t* challenge) {
  Bytes out(256);
  size_t i = 0;
  unsigned p = 0;
  for (int k = 0; k < 256; k++) {
    if (i >= password.size()) i = 0;
    p = (p + static_cast<uint8_t>(password[i])) % 251;
    out[k] = challenge[p];
    i++;
  }
  return out;
}

#ifdef AMBIT_HAVE_OPENSSL
Bytes digest(const EVP_MD* md, const Bytes& in) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned n = 0;
  EVP_Digest(in.data(), in.size(), out.data(), &n, md, nullptr);
  out.resize(n);
  return out;
}

Bytes aes256_ecb_decrypt(const Bytes& key, const Bytes& in) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_DecryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  Bytes out(in.size() + 32);
  int n = 0, m = 0;
  EVP_DecryptUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
  EVP_DecryptFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n + m));
  return out;
}
#endif

// The 308-byte server reply: name, challenge, session value, 32 unused bytes.
Bytes server_reply(const char* name, uint32_t session, uint8_t seed) {
  Bytes r(308, 0xee);
  memset(r.data(), 0, 16);
  memcpy(r.data(), name, strlen(name));
  for (int i = 0; i < 256; i++) r[16 + i] = static_cast<uint8_t>(i * 37 + seed);
  for (int i = 0; i < 4; i++) r[272 + i] = static_cast<uint8_t>(session >> (24 - 8 * i));
  return r;
}

// A reader of the sign-on message, written from its field table.
struct SignOn {
  uint32_t platform = 0, zero1 = 1, zero2 = 1, master = 0, options = 0;
  std::map<std::string, Bytes> files;
  std::string site, user;
  Bytes response;
  struct Pos {
    uint32_t index, sig, pos;
  };
  std::vector<Pos> exchanges;
  size_t size = 0;
};

struct Reader {
  const Bytes& b;
  size_t p = 0;
  uint32_t u8() { return b.at(p++); }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; i++) v = v << 8 | b.at(p++);
    return v;
  }
  std::string str() {
    size_t n = u8();
    std::string s(reinterpret_cast<const char*>(&b.at(p)), n);
    p += n;
    return s;
  }
  Bytes raw(size_t n) {
    Bytes out(b.begin() + static_cast<long>(p), b.begin() + static_cast<long>(p + n));
    p += n;
    return out;
  }
};

SignOn parse_sign_on(const Bytes& b) {
  SignOn s;
  Reader r{b};
  s.platform = r.u8();
  s.zero1 = r.u32();
  s.zero2 = r.u32();
  s.master = r.u32();
  s.options = r.u32();
  uint32_t files = r.u8();
  for (uint32_t i = 0; i < files; i++) {
    std::string name = r.str();
    s.files[name] = r.raw(16);
  }
  s.site = r.str();
  s.user = r.str();
  s.response = r.raw(32);
  uint32_t count = r.u8();
  for (uint32_t i = 0; i < count; i++) {
    SignOn::Pos e;
    e.index = r.u8();
    e.sig = r.u32();
    e.pos = r.u32();
    s.exchanges.push_back(e);
  }
  s.size = r.p;
  return s;
}

Bytes link_output() {
  const growbuf* gb = &ssio_state_at(0)->sbuf;
  return Bytes(gb->data, gb->data + gb->len);
}

ss_time at(int y, int mo, int d, int h, int mi) { return sstime_pack(0, mi, h, d, mo, y); }

std::string temp_root() {
  char tmpl[] = "/tmp/ambit-iothread-XXXXXX";
  const char* dir = mkdtemp(tmpl);
  return dir ? dir : "";
}

class IoThread : public ::testing::Test {
 protected:
  void SetUp() override {
    g_clock_offset = 0;
    g_on_sleep = nullptr;
    {
      std::lock_guard<std::mutex> lock(g_mu);
      g_sleeps.clear();
    }
    start_client();
  }
  void TearDown() override {
    g_on_sleep = nullptr;
    if (sim) {
      sim_destroy(sim);
      sim = nullptr;
    }
    ssclient_fini();
    plat_set_test_random(nullptr);
    sstime_set_test_wallclock(nullptr);
  }

  // The client as every test starts it: no servers yet, alice/secret at
  // "testsite", sleeps through sleep_hook.
  void start_client() {
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    ssio_set_servers(0);
    ssclient_set_login_site("testsite");
    ssclient_set_login("alice", "secret");
    ssclient_set_sleep_hook(sleep_hook);
    ssclient_set_yield(100000, kYieldPauseMs);
    sserr_clear();
  }

  // A simulator with alice/secret, the four exchanges (states as given) and
  // one unit of stream data on exchange 0.
  void start_sim(uint8_t state = 50) {
    ASSERT_NO_FATAL_FAILURE(make_test_sim(&sim, state));
    growbuf gb;
    growbuf_init(&gb, 64, 64);
    sim_msg_exchange_state(&gb, state);
    ASSERT_EQ(0, sim_append(sim, 0, gb.data, gb.len));
    growbuf_free(&gb);
    int port = sim_start(sim, 0);
    ASSERT_GT(port, 0);
    ssio_set_server("127.0.0.1", port);
  }

  // A fresh client and no simulator, for the next row of a table.
  void restart_client() {
    g_on_sleep = nullptr;
    if (sim) sim_destroy(sim);
    sim = nullptr;
    ssclient_fini();
    start_client();
  }

  // Poll passes on this thread until `done`, a failed pass, or 5 s of real
  // time; the last pass's result.
  int poll_until(const std::function<bool()>& done) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int r = 0;
    while (std::chrono::steady_clock::now() < until) {
      if (uint32_t f = ssclient_reset_flags()) {
        ssclient_set_reset_flags(0);
        ssclient_apply_reset_flags(f);
      }
      r = ssclient_poll();
      if (r < 0 || done()) break;
    }
    return r;
  }

  void go_online() {
    ASSERT_EQ(0, ssclient_connect());
    ASSERT_EQ(0, poll_until([] { return ssclient_is_online() != 0; }));
    ASSERT_TRUE(ssclient_is_online());
  }

  size_t count_kind(int32_t kind) {
    size_t n = 0;
    for (const sim_entry& e : sim_transcript(sim)) n += e.kind == kind;
    return n;
  }

  sim_server* sim = nullptr;
};

// ---------------------------------------------------------------------------
// Handshake and sign-on

TEST_F(IoThread, HandshakeWaitsForTheWholeReplyAndUsesExactly308Bytes) {
  Bytes reply = server_reply("ambit-sim", 0x01020304, 1);
  reply.resize(400, 0x55);  // bytes of the stream after the reply
  struct {
    int32_t given;
    int32_t used;
  } cases[] = {{0, 0}, {1, 0}, {307, 0}, {308, 308}, {400, 308}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given);
    growbuf_reset(&ssio_state_at(0)->sbuf);
    ssclient_set_logged_in(0);
    EXPECT_EQ(c.used, ssclient_handshake(reply.data(), c.given));
    EXPECT_EQ(c.used > 0, link_output().size() > 0);
    EXPECT_EQ(c.used > 0, ssclient_logged_in() != 0);
  }
  EXPECT_EQ(0x01020304u, ssclient_session_value());
  char status[kSsmsgTextMax + 1];
  ssmsg_get(status);
  EXPECT_STREQ("Logging in", status);
}

TEST_F(IoThread, SignOnMessageFieldByField) {
  std::string root = temp_root();
  ASSERT_FALSE(root.empty());
  ASSERT_EQ(0, localdata_set_root(root.c_str()));
  const std::map<std::string, std::string> files = {
      {"ambit_L64", "this platform"}, {"ambit_W32", "another platform"}, {"notes.txt", "no platform"}};
  for (const auto& f : files)
    ASSERT_EQ(0, localdata_write(LOCALDATA_PROGRAM, f.first.c_str(), f.second.data(), f.second.size()));
  ssclient_fini();
  ASSERT_EQ(0, ssclient_init(kClientOptNoUpdate, kTerminalModelOptions, kTerminalExchangeFlags));
  ASSERT_EQ(0, localdata_set_root(root.c_str()));
  ssclient_set_login_site("site1");
  ssclient_set_login("bob", "pw");
  ssmodel_set_signature(0, 0xa0a0a0a0u);
  ssmodel_set_signature(3, 33);
  ssproto_set_exchange_position(0, 1234);
  ssproto_set_exchange_position(1, 0xffffffffu);
  ssproto_set_exchange_position(2, 999);  // not sent
  ssproto_set_exchange_position(3, 77);
  ssproto_set_master_position(4242);

  Bytes reply = server_reply("srv", 7, 3);
  LogCapture log;
  ASSERT_EQ(308, ssclient_handshake(reply.data(), 308));
  Bytes out = link_output();
  SignOn s = parse_sign_on(out);
  EXPECT_EQ(out.size(), s.size);  // nothing after the message
  EXPECT_EQ(6u, s.platform);
  EXPECT_EQ(0u, s.zero1);
  EXPECT_EQ(0u, s.zero2);
  EXPECT_EQ(4242u, s.master);
  EXPECT_EQ(kClientOptNoUpdate, s.options);
  EXPECT_EQ("site1", s.site);
  EXPECT_EQ("bob", s.user);
  ASSERT_EQ(3u, s.exchanges.size());
  EXPECT_EQ(0u, s.exchanges[0].index);
  EXPECT_EQ(0xa0a0a0a0u, s.exchanges[0].sig);
  EXPECT_EQ(1234u, s.exchanges[0].pos);
  EXPECT_EQ(1u, s.exchanges[1].index);
  EXPECT_EQ(0xffffffffu, s.exchanges[1].pos);
  EXPECT_EQ(3u, s.exchanges[2].index);
  EXPECT_EQ(33u, s.exchanges[2].sig);
  EXPECT_EQ(77u, s.exchanges[2].pos);
  // This platform's file and the untagged one, each with the MD5 of its bytes.
  ASSERT_EQ(2u, s.files.size());
  ASSERT_EQ(1u, s.files.count("ambit_L64"));
  ASSERT_EQ(1u, s.files.count("notes.txt"));
#ifdef AMBIT_HAVE_OPENSSL
  for (const char* name : {"ambit_L64", "notes.txt"}) {
    const std::string& text = files.at(name);
    EXPECT_EQ(digest(EVP_md5(), Bytes(text.begin(), text.end())), s.files[name]) << name;
  }
  EXPECT_EQ(digest(EVP_sha256(), walk("pw", reply.data() + 16)), s.response);
#endif
  EXPECT_EQ(1, log.count("logging in as site1:bob"));
  EXPECT_EQ(1, log.count("requesting options 10"));
  EXPECT_EQ(1, log.count("ASX pos: 2694881440/1234"));
  EXPECT_EQ(1, log.count("(master: 4242)"));
  EXPECT_EQ(1, log.count("connected to srv"));
  EXPECT_EQ(1, log.count("sign on sent"));
  std::string cmd = "rm -rf " + root;
  EXPECT_EQ(0, system(cmd.c_str()));
}

TEST_F(IoThread, SignOnListsAtMostSixteenProgramFiles) {
  std::string root = temp_root();
  ASSERT_FALSE(root.empty());
  ASSERT_EQ(0, localdata_set_root(root.c_str()));
  for (int i = 0; i < 18; i++) {
    std::string name = "file" + std::to_string(i);
    ASSERT_EQ(0, localdata_write(LOCALDATA_PROGRAM, name.c_str(), name.data(), name.size()));
  }
  Bytes reply = server_reply("srv", 1, 4);
  LogCapture log;
  ASSERT_EQ(308, ssclient_handshake(reply.data(), 308));
  EXPECT_EQ(16u, parse_sign_on(link_output()).files.size());
  EXPECT_EQ(1, log.count("shouldn't have more than 16 progs"));
  std::string cmd = "rm -rf " + root;
  EXPECT_EQ(0, system(cmd.c_str()));
}

#ifdef AMBIT_HAVE_OPENSSL
TEST_F(IoThread, ResponseIsTheDigestOfTheChallengeWalk) {
  // Short passwords wrap to their first byte; long ones and bytes above 127
  // step as unsigned values.
  const char* passwords[] = {"a", "pw", "secret", "abcdefghijklmnopqrstuvwxyz01234", "p\xe9\xff!"};
  uint8_t seed = 0;
  for (const char* pw : passwords) {
    SCOPED_TRACE(pw);
    ssclient_set_login(nullptr, pw);
    Bytes reply = server_reply("srv", 1, seed += 17);
    growbuf_reset(&ssio_state_at(0)->sbuf);
    ASSERT_EQ(308, ssclient_handshake(reply.data(), 308));
    SignOn s = parse_sign_on(link_output());
    EXPECT_EQ(digest(EVP_sha256(), walk(pw, reply.data() + 16)), s.response);
  }
}

TEST_F(IoThread, PasswordChangeIsEncryptedUnderTheSignOnResponse) {
  Bytes reply = server_reply("srv", 1, 9);
  ASSERT_EQ(308, ssclient_handshake(reply.data(), 308));
  Bytes key = parse_sign_on(link_output()).response;
  ASSERT_EQ(0, ssclient_change_password("n3wPass"));
  uint32_t tail, head;
  ssclient_ring_span(&tail, &head);
  ASSERT_EQ(1u, (head - tail) % kRequestRingSlots);
  const ss_request* r = ssclient_ring_slot(tail);
  ASSERT_EQ(kReqChangePassword, r->kind);
  const uint8_t* block = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(r->a));
  Bytes plain = aes256_ecb_decrypt(key, Bytes(block, block + 64));
  ASSERT_EQ(64u, plain.size());
  EXPECT_EQ(7, plain[0]);
  std::string got;
  for (int i = 0; i < 7; i++) got.push_back(static_cast<char>(plain[1 + 2 * i]));
  EXPECT_EQ("n3wPass", got);
  dalloc_free(const_cast<uint8_t*>(block));
  ssclient_ring_consume(head);
}
#endif

// ---------------------------------------------------------------------------
// Heartbeat limits

TEST_F(IoThread, HeartbeatLimitByExchangeStateAndClock) {
  const ss_time wed = sstime_pack_date(12, 3, 2014), sat = sstime_pack_date(15, 3, 2014);
  struct {
    int32_t exchange;
    uint32_t state;
    ss_time date;
    ss_time now;
    int proxy;
    int32_t limit;
  } cases[] = {
      {kExchangeAsx, 0, wed, at(2014, 3, 12, 12, 0), 0, 0},
      {kExchangeAsx, 10, wed, at(2014, 3, 12, 9, 0), 0, 60},   // an hour before the open
      {kExchangeAsx, 10, wed, at(2014, 3, 12, 9, 55), 0, 10},  // five minutes before it
      {kExchangeAsx, 50, wed, at(2014, 3, 12, 12, 0), 0, 60},
      {kExchangeAsx, 60, wed, at(2014, 3, 12, 12, 0), 0, 60},
      {kExchangeAsx, 70, wed, at(2014, 3, 12, 12, 0), 0, 60},
      {kExchangeAsx, 80, wed, at(2014, 3, 12, 12, 0), 0, 60},
      {kExchangeAsx, 90, wed, at(2014, 3, 12, 12, 0), 0, 60},
      {kExchangeAsx, 130, wed, at(2014, 3, 12, 12, 0), 0, 60},
      {kExchangeAsx, 130, wed, at(2014, 3, 12, 6, 59), 0, 90},
      {kExchangeAsx, 130, wed, at(2014, 3, 12, 20, 0), 0, 90},
      {kExchangeAsx, 130, sat, at(2014, 3, 15, 12, 0), 0, 90},
      {kExchangeAsx, 20, wed, at(2014, 3, 12, 12, 0), 0, 10},
      {kExchangeNzx, 50, wed, at(2014, 3, 12, 12, 0), 0, 240},  // 300, capped
      {kExchangeNzx, 10, wed, at(2014, 3, 12, 9, 55), 0, 50},
      {kExchangeAxo, 130, sat, at(2014, 3, 15, 12, 0), 0, 90},
      {kExchangeAsx, 0, wed, at(2014, 3, 12, 12, 0), 1, 30},  // a proxy: 30 s whatever the state
      {kExchangeNzx, 50, wed, at(2014, 3, 12, 12, 0), 1, 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.exchange) + " state " + std::to_string(c.state) + " " +
                 sstime_format_datetime(c.now));
    ss_exchange* ex = ssmodel_exchange(c.exchange);
    ssmodel_set_date(ex, c.date);
    ssmodel_set_delta(ex, c.now);
    ex->state = c.state;
    EXPECT_EQ(c.limit, ssclient_heartbeat_limit(ex, c.proxy));
  }
}

// ---------------------------------------------------------------------------
// Poll passes

// Exchanges in state 0 ask for no heartbeat; silence is still noticed at the
// 240 s cap. In state 50 the first heartbeat goes after 60 s.
TEST_F(IoThread, QuietLinkGetsAHeartbeatWhateverTheExchangeStates) {
  struct {
    uint8_t state;
    int64_t quiet_ms;  // no heartbeat yet
    int64_t due_ms;    // the heartbeat goes
  } cases[] = {{0, 239000, 241000}, {50, 59000, 61000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.state));
    start_sim(c.state);
    go_online();
    ASSERT_EQ(0, poll_until([] { return ssclient_ack_count() == 1; }));  // the answer to request 92
    EXPECT_EQ(0, ssclient_idle_deadline());  // data came after the request set
    int64_t base = g_clock_offset.load();
    g_clock_offset = base + c.quiet_ms;
    for (int i = 0; i < 3; i++) ASSERT_EQ(0, ssclient_poll());
    EXPECT_EQ(0, ssclient_heartbeat_outstanding());
    EXPECT_EQ(0u, count_kind(90));
    g_clock_offset = base + c.due_ms;
    ASSERT_EQ(0, ssclient_poll());
    EXPECT_EQ(1, ssclient_heartbeat_outstanding());
    // The next pass sends it; the simulator answers and the answer clears it.
    ASSERT_EQ(0, poll_until([&] { return count_kind(90) > 0; }));
    ASSERT_EQ(1u, count_kind(90));
    ASSERT_EQ(0, poll_until([] { return ssclient_heartbeat_outstanding() == 0; }));
    restart_client();
  }
}

// The five-second housekeeping puts GLB's date back to today; passes in
// between leave it alone.
// On real time, a pass that read nothing waits for the link rather than
// sleeping its pause: with a pause far beyond the deadline, sign-on (connect,
// greeting, reply, sign-on, the stream up to online) still ends well within
// it, and every pass gives the core lock back.
TEST_F(IoThread, PassesWaitForTheLinkNotAFixedPause) {
  ssclient_set_sleep_hook(nullptr);
  ssclient_set_yield(100000, 20000);
  start_sim();
  go_online();
  EXPECT_FALSE(ssclient_io_has_lock());
}

TEST_F(IoThread, HousekeepingEveryFiveSeconds) {
  start_sim();
  go_online();
  ss_exchange* glb = ssmodel_exchange(kExchangeGlb);
  const ss_time today = sstime_now() & ~kSstimeSecondsMask;
  const ss_time old = sstime_sub_days(today, 3);
  ssmodel_set_date(glb, old);
  int64_t base = g_clock_offset.load();
  g_clock_offset = base + 1000;
  ASSERT_EQ(0, ssclient_poll());
  EXPECT_EQ(old, glb->date & ~kSstimeSecondsMask);
  g_clock_offset = base + 6000;
  ASSERT_EQ(0, ssclient_poll());
  EXPECT_EQ(today, glb->date & ~kSstimeSecondsMask);
  EXPECT_FALSE(ssclient_io_has_lock());  // a pass gives the core lock back when it ends
}

// A track client added between two passes of the same second is served by
// the second pass: it does not wait for the next second's housekeeping.
TEST_F(IoThread, ANewTrackClientIsServedWithinTheSecond) {
  start_sim();
  go_online();
  ss_stock* bhp = ssmodel_get_stock(ssmodel_exchange(0), "BHP");
  ASSERT_NE(nullptr, bhp);
  bool same_second = false;
  for (int attempt = 0; attempt < 5 && !same_second; attempt++) {
    // Start a pass early in a second of the virtual clock.
    g_clock_offset += 1000 - plat_ms() % 1000 + 10;
    const int64_t second = plat_ms() / 1000;
    ASSERT_EQ(0, ssclient_poll());
    ASSERT_EQ(0, sstrack_client_added());
    ssclient_io_lock();
    ASSERT_EQ(0, sstrack_track_stock(bhp, sstime_now(), 12345 + uint32_t(attempt)));
    const int slot = sstrack_add_client(0, 0);
    ASSERT_GE(slot, 0);
    ssclient_io_unlock();
    ASSERT_EQ(1, sstrack_client_added());
    ASSERT_EQ(0, ssclient_poll());
    same_second = plat_ms() / 1000 == second;
    if (!same_second) {
      sstrack_release_client(slot);
      continue;
    }
    EXPECT_EQ(0, sstrack_client_added());
    EXPECT_EQ(12345u + uint32_t(attempt), sstrack_client_value(bhp, slot));
    sstrack_release_client(slot);
  }
  EXPECT_TRUE(same_second);
}

// A peer that answers the greeting and then says nothing: before "Online" no
// heartbeat can go, and the silence drops the link after 60 s.
TEST_F(IoThread, SilenceBeforeOnlineDropsTheLink) {
  int port = 0;
  int lfd = listen_loopback(1, &port);
  ASSERT_GE(lfd, 0);
  fcntl(lfd, F_SETFL, O_NONBLOCK);
  ssio_set_server("127.0.0.1", port);

  ASSERT_EQ(0, ssclient_connect());
  int peer = -1;
  std::string greeting;
  ASSERT_EQ(0, poll_until([&] {
    if (peer < 0) peer = accept(lfd, nullptr, nullptr);
    if (peer < 0) return false;
    char buf[64];
    ssize_t n = recv(peer, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) greeting.append(buf, static_cast<size_t>(n));
    return greeting.find('\n') != std::string::npos;
  }));
  EXPECT_EQ("AMBIT/6\r\n", greeting);
  Bytes reply = server_reply("quiet", 5, 2);
  ASSERT_EQ(308, send(peer, reply.data(), reply.size(), 0));
  ASSERT_EQ(0, poll_until([] { return ssclient_logged_in() != 0; }));

  LogCapture log;
  int64_t base = g_clock_offset.load();
  g_clock_offset = base + 59000;
  EXPECT_EQ(0, ssclient_poll());
  g_clock_offset = base + 61000;
  EXPECT_EQ(-1, ssclient_poll());
  EXPECT_EQ(1, log.count("before online"));
  EXPECT_FALSE(ssclient_io_has_lock());
  ssio_close_all();
  close(peer);
  close(lfd);
}

TEST_F(IoThread, ProtocolErrorResetsTheModelAndEveryStreamUnlessAborting) {
  const Bytes garbage = {0, 43, 1, 2, 3};  // type 43 has no handler
  for (int aborting : {0, 1}) {
    SCOPED_TRACE(aborting);
    for (int32_t i = 0; i < 4; i++) {
      ssproto_set_exchange_position(i, 100 + i);
      ssmodel_set_signature(i, 7);
    }
    ssclient_acked();
    if (aborting) ssclient_request_abort();
    LogCapture log;
    EXPECT_EQ(-1, ssclient_on_data(garbage.data(), static_cast<int32_t>(garbage.size())));
    EXPECT_EQ(aborting ? 0 : 1, log.count("proto error"));
    for (int32_t i = 0; i < 4; i++) {
      EXPECT_EQ(aborting ? 100u + i : 0xffffffffu, ssproto_exchange_position(i));
      EXPECT_EQ(aborting ? 7u : 0u, ssmodel_exchange_signature(i));
    }
    EXPECT_EQ(aborting, ssclient_acknowledged());
    EXPECT_FALSE(ssclient_io_has_lock());  // held for the handler's own length
  }
}

// Input that never completes a message may grow only to the dispatcher's
// cap; reaching it is a protocol error, not a bigger buffer.
int always_incomplete(ssproto_msg*) { return 0; }

TEST_F(IoThread, PendingInputCapIsAProtocolError) {
  ssproto_set_test_handler(90, always_incomplete);
  Bytes in(static_cast<size_t>(ssproto_max_pending()), 0);
  in[0] = 0;
  in[1] = 90;
  EXPECT_EQ(0, ssclient_on_data(in.data(), 1 << 20));
  LogCapture log;
  EXPECT_EQ(-1, ssclient_on_data(in.data(), static_cast<int32_t>(in.size())));
  EXPECT_EQ(1, log.count("proto error"));
  EXPECT_EQ(0xffffffffu, ssproto_exchange_position(0));
  ssproto_set_test_handler(90, nullptr);
  EXPECT_FALSE(ssclient_io_has_lock());
}

// ---------------------------------------------------------------------------
// Messages from the dispatcher

// Half a minute into a quarter hour: the next sets' request is due two to
// thirteen minutes in, so going online asks only for the current sets
// whatever the real time of day.
time_t early_in_a_quarter() { return 1391999430; }

TEST_F(IoThread, OnlineFollowUpsAskForWhatTheUserMaySee) {
  sstime_set_test_wallclock(early_in_a_quarter);
  ssuser_set(1, 0, 0x1 | 0x4);  // exchanges 0 and 3, not 1
  ss_exchange* asx = ssmodel_exchange(kExchangeAsx);
  ss_exchange* nzx = ssmodel_exchange(kExchangeNzx);
  // Three of four stocks have no issuer of their own: the cached
  // fundamentals are judged bad and asked for from the start.
  const char* stocks[][2] = {{"AAA", ""}, {"BBB", "BBB"}, {"CCC", ""}, {"DDD", "XYZ"}};
  for (const auto& s : stocks) {
    ss_stock* st = ssmodel_add_stock(asx, s[0]);
    ASSERT_NE(nullptr, st);
    ssmodel_set_issuer_code(st, s[1]);
  }
  asx->fun_position = 5;
  nzx->fun_position = 9;
  ssclient_private_clear();
  LogCapture log;
  ASSERT_EQ(0, ssclient_online_followups());
  EXPECT_EQ(1, log.count("ASX fun is probably bad 3/1/4 @ 5"));
  EXPECT_EQ(-1, asx->fun_position);
  EXPECT_EQ(-1, nzx->fun_position);  // not permitted

  std::vector<std::pair<uint32_t, void*>> got;
  for (int32_t i = 0; i < ssclient_private_count(); i++)
    got.emplace_back(ssclient_private_entry(i)->kind, ssclient_private_entry(i)->pointer);
  void* glb = ssmodel_exchange(kExchangeGlb);
  void* axo = ssmodel_exchange(kExchangeAxo);
  // Then the current volume-comparison sets of the compared exchanges the
  // user may see (never the global one).
  std::vector<std::pair<uint32_t, void*>> want = {{80, asx}, {80, glb}, {80, axo}, {34, asx}, {34, glb},
                                                  {34, axo}, {92, nullptr}, {81, asx}, {81, axo}};
  EXPECT_EQ(want, got);
  EXPECT_EQ(1, ssclient_is_online());
  EXPECT_EQ(1, ssclient_login_done());
  EXPECT_EQ(1, ssclient_may_reconnect());
  EXPECT_EQ(0u, ssclient_ack_count());

  // The once-only part does not run again; the requests are not listed twice.
  asx->fun_position = 5;
  ASSERT_EQ(0, ssclient_online_followups());
  EXPECT_EQ(5, asx->fun_position);
  EXPECT_EQ(9, ssclient_private_count());

  ssclient_stop();
  EXPECT_EQ(-1, ssclient_online_followups());
}

TEST_F(IoThread, SignedOffUnstallAndAck) {
  ssclient_set_online(1);
  ssclient_signed_off();
  EXPECT_EQ(0, ssclient_is_online());
  EXPECT_EQ(1, ssclient_abort_requested());
  EXPECT_EQ(1, ssclient_signed_off_flag());
  // Aborting: no unstall request.
  ssclient_private_clear();
  ssclient_unstall();
  EXPECT_EQ(0, ssclient_private_count());
  ssclient_fini();
  ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
  LogCapture log;
  ssclient_unstall();
  ASSERT_EQ(1, ssclient_private_count());
  EXPECT_EQ(kReqUnstall, ssclient_private_entry(0)->kind);
  EXPECT_EQ(1, log.count("server stalled us, recovering now"));
  ssclient_acked();
  ssclient_acked();
  EXPECT_EQ(2u, ssclient_ack_count());
  EXPECT_EQ(1, ssclient_acknowledged());
  EXPECT_EQ(2, log.count("ACKed"));
}

TEST_F(IoThread, ClearRequestedClearsEveryInstrumentAndDay) {
  ss_exchange* asx = ssmodel_exchange(kExchangeAsx);
  ss_exchange* axo = ssmodel_exchange(kExchangeAxo);
  ss_stock* st = ssmodel_add_stock(asx, "BHP");
  ss_index* ix = ssmodel_add_index(axo, "XAO");
  ss_issuer* is = ssmodel_get_issuer(asx, "BHP");
  ASSERT_TRUE(st && ix && is);
  ss_day* d = ssevent_get_day(st, sstime_pack_date(11, 3, 2014));
  ASSERT_NE(nullptr, d);
  for (instr* in : {static_cast<instr*>(st), static_cast<instr*>(ix), static_cast<instr*>(is)}) in->flags |= 0x3fff;
  d->flags = kDayPrevdayWanted | 0x3fff;
  ssclient_clear_requested();
  for (instr* in : {static_cast<instr*>(st), static_cast<instr*>(ix), static_cast<instr*>(is)})
    EXPECT_EQ(0x3fu, in->flags & 0x3fff) << in->code;
  EXPECT_EQ(kDayPrevdayWanted | 0x3fu, d->flags);
}

TEST_F(IoThread, ResetFlags) {
  struct {
    uint32_t flags;
    uint32_t positions;  // after
    int resets;          // "reset ASX stocks" lines
  } cases[] = {{kResetKeepPositions, 55, 1}, {kResetRealtime, 55, 1}, {kResetStreams, 0xffffffffu, 0},
               {kResetAfterGiveUp, 0xffffffffu, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    ssproto_set_exchange_position(0, 55);
    ssclient_acked();
    LogCapture log;
    ssclient_apply_reset_flags(c.flags);
    EXPECT_EQ(c.positions, ssproto_exchange_position(0));
    EXPECT_EQ(c.resets, log.count("reset ASX stocks"));
    EXPECT_EQ(c.resets ? 0 : 1, ssclient_acknowledged());
  }
}

// ---------------------------------------------------------------------------
// Reconnect decisions of the thread body, run on this thread: the sleep hook
// plays the user and the clock.

TEST_F(IoThread, BackoffDependsOnHowLongTheLinkLived) {
  struct {
    int64_t lived_ms;
    long random;
    int32_t backoff_ms;
  } cases[] = {{10000, 0, 4500}, {10000, 999, 5499}, {60000, 0, 1500}, {60000, 999, 2499}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.lived_ms) + "/" + std::to_string(c.random));
    start_sim();
    g_random = c.random;
    plat_set_test_random(test_random);
    int phase = 0;
    int32_t waited = 0;
    g_on_sleep = [&](int32_t ms) {
      if (phase == 0 && ssclient_is_online()) {
        // The link lives this long, then the server drops it.
        g_clock_offset += c.lived_ms;
        sim_disconnect(sim, nullptr);
        phase = 1;
      } else if (phase == 1) {
        // Poll passes sleep the yield pause; the back-off sleeps 500 ms
        // slices and a remainder, none of which is that long.
        if (ms != kYieldPauseMs) waited += ms;
        if (sim_wait_logins(sim, 2, 0)) ssclient_stop();
      }
    };
    LogCapture log;
    ssclient_run();
    EXPECT_EQ(c.backoff_ms, waited);
    EXPECT_EQ(1, log.count("reconnected"));
    EXPECT_EQ(2, sim_get_stats(sim).sign_ons);
    restart_client();
  }
}

TEST_F(IoThread, RepeatedEarlyDeathsGiveUpAfterTheReconnectTimeout) {
  ssio_set_server("127.0.0.1", refused_port());
  plat_set_test_random(test_random);
  g_random = 0;  // every back-off 4.5 s of virtual time
  ssclient_set_restart(1);
  ssclient_set_reconnect_timeout(20);
  LogCapture log;
  EXPECT_EQ(-1, ssclient_run());
  // Failures at 0, 4.5, 9, 13.5, 18 and 22.5 s: the sixth is past 20 s.
  EXPECT_EQ(5, log.count("backing off for 5s"));
  EXPECT_EQ(1, log.count("unable to reconnect in 20s"));
  EXPECT_EQ(1, log.count("requesting reconnect"));
  EXPECT_EQ(kSserrNoServer, sserr_last_code());
  EXPECT_EQ(0, ssclient_may_reconnect());
  EXPECT_EQ(0, ssclient_connecting());
  EXPECT_EQ(kResetAfterGiveUp, ssclient_reset_flags());
}

TEST_F(IoThread, ServerRefusalsDecideTheRetry) {
  struct {
    uint32_t code, sub;
    bool retry;
    int login_done;
  } cases[] = {
      {10, 0, false, 0}, {11, 0, false, 0}, {12, 0, false, 0}, {15, 0, false, 1}, {18, 0, false, 1},
      {1, 1, false, 0},  // a sub-code: the server ended the login for a reason
      {1, 0, true, 0},   {17, 0, true, 0},  {13, 0, true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + "/" + std::to_string(c.sub));
    start_sim();
    sim_misbehaviour how;
    how.mode = SIM_REFUSE;
    how.code = c.code;
    how.sub = c.sub;
    sim_set_misbehaviour(sim, how);
    ssclient_set_restart(1);  // may reconnect, as after an earlier session
    // Stop in the back-off after the second refusal: the simulator counts a
    // sign-on when it reads it, before the client has read the refusal, so
    // the count alone could stop a poll pass that has not seen it yet.
    g_on_sleep = [&](int32_t) {
      if (sim_get_stats(sim).sign_ons >= 2 && sserr_last_code() != 0) ssclient_stop();
    };
    LogCapture log;
    int rc = ssclient_run();
    g_on_sleep = nullptr;
    EXPECT_EQ(c.retry ? 2 : 1, sim_get_stats(sim).sign_ons);
    if (!c.retry) {
      EXPECT_EQ(-1, rc);
      EXPECT_EQ(1, log.count("requesting reconnect"));
      EXPECT_EQ(kResetAfterGiveUp, ssclient_reset_flags());
    }
    // The io layer's "link lost" replaces the codes that do not decide by
    // themselves (17 among them) when the server closes the link.
    EXPECT_EQ(c.code == 17 ? 1 : static_cast<int32_t>(c.code), sserr_last_code());
    EXPECT_EQ(c.login_done, ssclient_login_done());
    EXPECT_EQ(c.code == 13, log.count("can't resubscribe") > 0);
    restart_client();
  }
}

TEST_F(IoThread, MissingLoginGivesUpAtOnce) {
  ssclient_set_login("", "");
  LogCapture log;
  EXPECT_EQ(-1, ssclient_run());
  EXPECT_EQ(1, log.count("need login details"));
  EXPECT_EQ(kResetAfterGiveUp, ssclient_reset_flags());
  EXPECT_EQ(0, ssclient_connecting());
  EXPECT_EQ(-1, ssclient_connect());
}

}  // namespace
