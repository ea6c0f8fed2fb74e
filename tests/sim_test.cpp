// The market simulator, driven over loopback by a raw socket client written
// here: the greeting and the 308-byte reply, a sign-on built byte by byte
// with its response computed by OpenSSL, the accept sequence decoded field
// by field, refusals, resume by signature and position, live stream data,
// requests and their transcript, each misbehaviour, and the program itself.
#include "sim.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "decblk.h"
#include "sim_control.h"
#include "sim_feeds.h"
#include "decode.h"
#include "growbuf.h"
#include "sim_days.h"
#include "sim_history.h"
#include "sim_http.h"
#include "sim_live.h"
#include "ssmodel.h"
#include "ssutil.h"
#include "sim_msg.h"
#include "sstime.h"
#include "testclock.h"
#include "testpeers.h"

#ifdef AMBIT_HAVE_OPENSSL
#include <openssl/evp.h>
#include <openssl/sha.h>
#endif

namespace {

using bytes = std::vector<uint8_t>;

constexpr int kWait = 5000;   // ms for anything that should arrive
constexpr int kQuiet = 300;   // ms in which nothing should arrive
constexpr uint32_t kNone = 0xffffffffu;

std::atomic<int64_t> g_sim_ms{0};  // the simulator's exchange clock in the tests

int64_t ms_now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void put32(bytes* b, uint32_t v) {
  for (int i = 3; i >= 0; i--) b->push_back(uint8_t(v >> (8 * i)));
}
void put_str(bytes* b, const std::string& s) {
  b->push_back(uint8_t(s.size()));
  b->insert(b->end(), s.begin(), s.end());
}
void put(bytes* b, const bytes& more) { b->insert(b->end(), more.begin(), more.end()); }

// A code of three capital letters in the two-byte form, by hand: a 1 bit,
// then each letter's alphabet index (A = 1) in 5 bits.
bytes code3(const char* c) {
  const uint32_t v = 1u << 15 | uint32_t(c[0] - 'A' + 1) << 10 | uint32_t(c[1] - 'A' + 1) << 5 | uint32_t(c[2] - 'A' + 1);
  return {uint8_t(v >> 8), uint8_t(v)};
}

bytes from(const growbuf& gb) { return bytes(gb.data, gb.data + gb.len); }

// Runs one message writer into a fresh growbuf and returns its bytes.
template <typename F>
bytes written(F f) {
  growbuf gb{};
  growbuf_init(&gb, 256, 256);
  EXPECT_EQ(f(&gb), 0);
  bytes out = from(gb);
  growbuf_free(&gb);
  return out;
}

// The client's side of the password walk and the response, with OpenSSL's
// SHA-256 as the digest.
bytes walk(const std::string& password, const uint8_t* challenge) {
  bytes out(256);
  const uint8_t* pw = reinterpret_cast<const uint8_t*>(password.c_str());
  size_t i = 0;
  unsigned p = 0;
  for (int k = 0; k < 256; k++) {
    if (pw[i] == 0) i = 0;
    p = (p + pw[i]) % 251;
    out[k] = challenge[p];
    i++;
  }
  return out;
}

bytes sha256_of(const bytes& in) {
  bytes d(32);
#ifdef AMBIT_HAVE_OPENSSL
  SHA256(in.data(), in.size(), d.data());
#else
  ADD_FAILURE() << "needs OpenSSL";
#endif
  return d;
}

struct signon_exchange {
  uint8_t index;
  uint32_t signature;
  uint32_t position;
};

// A sign-on message, field by field.
bytes signon(const std::string& user, const bytes& response, const std::vector<signon_exchange>& exchanges,
             const std::string& site = "site1", uint32_t options = 0, uint32_t master = 0) {
  bytes b;
  b.push_back(4);  // platform
  put32(&b, 0);
  put32(&b, 0);
  put32(&b, master);
  put32(&b, options);
  b.push_back(1);  // one program file
  put_str(&b, "prog.bin");
  for (int i = 0; i < 16; i++) b.push_back(uint8_t(0xA0 + i));
  put_str(&b, site);
  put_str(&b, user);
  put(&b, response);
  b.push_back(uint8_t(exchanges.size()));
  for (const auto& e : exchanges) {
    b.push_back(e.index);
    put32(&b, e.signature);
    put32(&b, e.position);
  }
  return b;
}

const bytes kGreeting = {'A', 'M', 'B', 'I', 'T', '/', '6', '\r', '\n'};

// A raw loopback client: bytes in, fields out through the codec's readers.
class Peer {
 public:
  explicit Peer(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    EXPECT_TRUE(connected_) << "connect to " << port;
  }
  ~Peer() {
    if (fd_ >= 0) close(fd_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  int fd() const { return fd_; }
  void send(const bytes& b) {
    size_t off = 0;
    while (off < b.size()) {
      const ssize_t r = ::send(fd_, b.data() + off, b.size() - off, MSG_NOSIGNAL);
      if (r <= 0) {
        ADD_FAILURE() << "send failed";
        return;
      }
      off += size_t(r);
    }
  }
  // Reads what arrives within timeout_ms; false on time-out or end of stream.
  bool fill(int timeout_ms) {
    if (eof_) return false;
    pollfd pf{fd_, POLLIN, 0};
    if (poll(&pf, 1, std::max(0, timeout_ms)) <= 0) return false;
    uint8_t tmp[65536];
    const ssize_t r = recv(fd_, tmp, sizeof tmp, 0);
    if (r <= 0) {
      eof_ = true;
      return false;
    }
    buf_.insert(buf_.end(), tmp, tmp + r);
    return true;
  }
  size_t avail() const { return buf_.size() - pos_; }
  bool need(size_t n, int timeout_ms = kWait) {
    const int64_t until = ms_now() + timeout_ms;
    while (avail() < n)
      if (!fill(int(until - ms_now()))) return false;
    return true;
  }
  bytes take(size_t n) {
    if (!need(n)) {
      ADD_FAILURE() << "wanted " << n << " bytes, have " << avail();
      return bytes();
    }
    bytes out(buf_.begin() + long(pos_), buf_.begin() + long(pos_ + n));
    pos_ += n;
    return out;
  }
  // True when nothing more arrives within ms (end of stream counts as
  // nothing).
  bool quiet_for(int ms) {
    const size_t before = buf_.size();
    const int64_t until = ms_now() + ms;
    while (ms_now() < until)
      if (!fill(int(until - ms_now()))) break;
    return buf_.size() == before;
  }
  // True when the server closes the link within timeout_ms; what arrives
  // first is kept.
  bool closes(int timeout_ms = kWait) {
    const int64_t until = ms_now() + timeout_ms;
    while (!eof_ && ms_now() < until) fill(int(until - ms_now()));
    return eof_;
  }

  template <typename F>
  void field(F reader) {
    const int64_t until = ms_now() + kWait;
    for (;;) {
      const int r = reader(buf_.data() + pos_, int32_t(avail()));
      if (r > 0) {
        pos_ += size_t(r);
        return;
      }
      if (r < 0 || !fill(int(until - ms_now()))) {
        ADD_FAILURE() << "field unreadable at " << pos_;
        return;
      }
    }
  }
  uint32_t byte() {
    uint8_t v = 0;
    field([&](const uint8_t* p, int32_t n) { return decode_byte(p, n, &v); });
    return v;
  }
  uint32_t u32() {
    uint32_t v = 0;
    field([&](const uint8_t* p, int32_t n) { return decode_uint32(p, n, &v); });
    return v;
  }
  uint32_t vint() {
    uint32_t v = 0;
    field([&](const uint8_t* p, int32_t n) { return decode_vint(p, n, &v); });
    return v;
  }
  std::string code() {
    char c[kCodecCodeBytes] = {};
    field([&](const uint8_t* p, int32_t n) { return decode_code(p, n, c, sizeof c); });
    return c;
  }
  ss_time date16() {
    ss_time v = 0;
    field([&](const uint8_t* p, int32_t n) { return decode_date16(p, n, &v); });
    return v;
  }
  // A message header of a message about no instrument: the type, with code
  // relation "same" and no time.
  uint32_t header() {
    const uint32_t lead = byte();
    EXPECT_EQ(lead & 0xE0, 0u) << "relation or time flag set";
    return (lead & 0x1F) ? (lead & 0x1F) : byte();
  }

  // Greeting, reply; returns the challenge.
  bytes hello() {
    send(kGreeting);
    bytes reply = take(kSimReplyBytes);
    if (reply.size() != size_t(kSimReplyBytes)) return bytes(256);
    return bytes(reply.begin() + kSimNameBytes, reply.begin() + kSimNameBytes + kSimChallengeBytes);
  }
  bytes login(const std::string& user, const std::string& password,
              const std::vector<signon_exchange>& ex = {{0, 0, kNone}, {1, 0, kNone}, {3, 0, kNone}}) {
    const bytes challenge = hello();
    key_ = sha256_of(walk(password, challenge.data()));
    send(signon(user, key_, ex));
    return key_;
  }
  const bytes& key() const { return key_; }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool eof_ = false;
  bytes buf_;
  size_t pos_ = 0;
  bytes key_;
};

struct error_msg {
  uint32_t code, sub, exchange;
  std::string instrument;
  ss_time date;
};

error_msg read_error(Peer& p) {
  EXPECT_EQ(p.header(), 255u);
  error_msg e;
  e.code = p.vint();
  e.sub = p.vint();
  e.exchange = p.byte();
  e.instrument = p.code();
  e.date = p.date16();
  return e;
}

// What the accept sequence told the client.
struct accepted {
  uint32_t kind = 0, id = 0, bits = 0;
  bytes config;
  std::vector<uint32_t> dated;  // exchanges of 54, in order
  std::vector<uint32_t> states;
  uint32_t offsets[4] = {};
  uint32_t brokers[4] = {};
  ss_time dates[4] = {}, times[4] = {};
  uint32_t expecting = 0;
  bytes catchup;
  uint32_t sigs[4] = {}, pos[4] = {kNone, kNone, kNone, kNone};
  int positions = 0;
  uint32_t proceed[2] = {};
};

// Reads 41, 42?, 54/170 pairs, 40, the catch-up, 166s, 49.
accepted read_accept(Peer& p) {
  accepted a;
  uint32_t t = p.header();
  EXPECT_EQ(t, 41u);
  a.kind = p.byte();
  a.id = p.u32();
  a.bits = p.u32();
  EXPECT_EQ(p.u32(), 0u);
  t = p.header();
  if (t == 42) {
    growbuf gb{};
    growbuf_init(&gb, 256, 256);
    p.field([&](const uint8_t* d, int32_t n) { return decblk_inflate(d, n, &gb); });
    a.config = from(gb);
    growbuf_free(&gb);
    t = p.header();
  }
  while (t == 54) {
    const uint32_t ex = p.byte();
    a.dated.push_back(ex);
    a.dates[ex & 3] = p.u32();
    a.times[ex & 3] = p.u32();
    a.offsets[ex & 3] = p.vint();
    a.brokers[ex & 3] = p.byte();
    EXPECT_EQ(p.header(), 170u);
    a.states.push_back(p.byte());
    t = p.header();
  }
  EXPECT_EQ(t, 40u);
  a.expecting = p.u32();
  a.catchup = p.take(a.expecting);
  t = p.header();
  while (t == 166) {
    const uint32_t ex = p.byte();
    a.sigs[ex & 3] = p.u32();
    a.pos[ex & 3] = p.u32();
    a.positions++;
    t = p.header();
  }
  EXPECT_EQ(t, 49u);
  a.proceed[0] = p.u32();
  a.proceed[1] = p.u32();
  return a;
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { start(); }
  void TearDown() override { sim_destroy(sim_); }

  // The exchanges' clocks run by g_sim_ms, which stands still unless a test
  // moves it.
  void start(const sim_options& options = sim_options{42, "ambit-sim", false}) {
    sim_options o = options;
    g_sim_ms = 0;
    if (!o.clock_ms) o.clock_ms = [] { return g_sim_ms.load(); };
    for (int i = 0; i < 4; i++) {
      log_[i].clear();
      units_[i].clear();
    }
    date_ = sstime_pack(0, 0, 0, 15, 3, 2024);
    time_ = sstime_pack(30, 15, 10, 15, 3, 2024);
    sim_ = sim_create(o);
    add_user("alice", "secret", 7, 0x7, 2);
    add_user("bob", "pw", 8, 0x1, 0);
    sim_user carol{"carol", "c", 0, 9, 0x7, kSimErrDisabled, 0};
    ASSERT_EQ(sim_add_user(sim_, carol), 0);
    const char* names[4] = {"ASX", "NZX", "GLB", "AXO"};
    const uint8_t states[4] = {50, 10, 0, 130};
    for (uint32_t i = 0; i < 4; i++) {
      sim_exchange ex;
      ex.index = i;
      ex.name = names[i];
      ex.date = date_;
      ex.time = time_;
      ex.offset = i == 1 ? -3600 : 36000;
      ex.brokers = i == 0;
      ex.state = states[i];
      ASSERT_EQ(sim_add_exchange(sim_, ex), 0);
    }
    ASSERT_EQ(sim_add_instrument(sim_, 0, "BHP"), 0);
    ASSERT_EQ(sim_add_instrument(sim_, 1, "AIR"), 0);
    // ASX: two units; NZX: one; GLB: one; AXO: none.
    append(0, written([&](growbuf* g) { return sim_msg_begin_day(g, date_, sim_signature(sim_, 0)); }));
    append(0, written([&](growbuf* g) {
             return sim_msg_exchange_state(g, 50) | sim_msg_offset(g, 36000);
           }));
    append(1, written([&](growbuf* g) { return sim_msg_begin_day(g, date_, sim_signature(sim_, 1)); }));
    append(2, written([&](growbuf* g) { return sim_msg_exchange_state(g, 7); }));
    port_ = sim_start(sim_, 0);
    ASSERT_GT(port_, 0);
  }
  void add_user(const char* name, const char* pw, uint32_t id, uint32_t bits, uint8_t kind) {
    sim_user u;
    u.name = name;
    u.password = pw;
    u.id = id;
    u.exchange_bits = bits;
    u.kind = kind;
    ASSERT_EQ(sim_add_user(sim_, u), 0);
  }
  void append(uint32_t ex, const bytes& b) {
    units_[ex].push_back(log_[ex].size());
    put(&log_[ex], b);
    ASSERT_EQ(sim_append(sim_, ex, b.data(), int32_t(b.size())), 0);
  }
  // The selection of an exchange as the simulator writes it, by hand.
  static bytes select(uint32_t ex) {
    switch (ex) {
      case 0: return {0, 52};
      case 1: return {0, 53};
      case 3: return {0, 59};
      default: return {0, 51, uint8_t(ex)};
    }
  }
  bytes tail(uint32_t ex, size_t from) { return bytes(log_[ex].begin() + long(from), log_[ex].end()); }

  sim_server* sim_ = nullptr;
  int port_ = 0;
  ss_time date_ = 0, time_ = 0;
  bytes log_[4];
  std::vector<size_t> units_[4];
};

// The tests that drive several sessions, or act on sessions from the test's
// thread while their connection threads run; also run under ThreadSanitizer.
class SimConcurrency : public SimTest {};

// The writers' bytes, worked out by hand from the field encodings.
TEST(SimMsg, WritersProduceTheWireLayout) {
  const ss_time d = sstime_pack(0, 0, 0, 15, 3, 2024);  // 54 years, month 3, day 15
  const uint8_t d0 = uint8_t(d >> 24), d1 = uint8_t((d >> 16) & 0xFE);
  struct row {
    const char* name;
    bytes got;
    bytes want;
  } rows[] = {
      {"40", written([](growbuf* g) { return sim_msg_expecting(g, 0x01020304); }), {0, 40, 1, 2, 3, 4}},
      {"41", written([](growbuf* g) { return sim_msg_user(g, 2, 7, 5); }),
       {0, 41, 2, 0, 0, 0, 7, 0, 0, 0, 5, 0, 0, 0, 0}},
      {"49", written([](growbuf* g) { return sim_msg_proceeding(g, 1, 2); }), {0, 49, 0, 0, 0, 1, 0, 0, 0, 2}},
      {"51", written([](growbuf* g) { return sim_msg_select(g, 2); }), {0, 51, 2}},
      {"52", written([](growbuf* g) { return sim_msg_select(g, 0); }), {0, 52}},
      {"59", written([](growbuf* g) { return sim_msg_select(g, 3); }), {0, 59}},
      {"54", written([&](growbuf* g) { return sim_msg_exchange_date(g, 1, d, d + 5, 200, 1); }),
       {0, 54, 1, uint8_t(d >> 24), uint8_t(d >> 16), uint8_t(d >> 8), uint8_t(d), uint8_t(d >> 24),
        uint8_t(d >> 16), uint8_t(d >> 8), uint8_t(d + 5), 0x80 | (200 & 63), 200 >> 6, 1}},
      {"55", written([](growbuf* g) { return sim_msg_params(g, 0, "BHP", 9); }), {0, 55, 0, 0x89, 0x10, 0, 0, 0, 9}},
      {"57", written([&](growbuf* g) { return sim_msg_begin_day(g, d, 0xA1B2C3D4); }),
       {0, 57, d0, d1, 0xA1, 0xB2, 0xC3, 0xD4}},
      {"58", written([](growbuf* g) { return sim_msg_end_day(g); }), {0, 58}},
      {"161 negative", written([](growbuf* g) { return sim_msg_offset(g, -1); }),
       {0, 161, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"165", written([](growbuf* g) { return sim_msg_padding(g, 3); }), {0, 165, 0, 0, 0, 3, 0, 0, 0}},
      {"166", written([](growbuf* g) { return sim_msg_position(g, 3, 0x11223344, 500); }),
       {0, 166, 3, 0x11, 0x22, 0x33, 0x44, 0, 0, 1, 0xF4}},
      {"167", written([](growbuf* g) { return sim_msg_stall(g); }), {0, 167}},
      {"170", written([](growbuf* g) { return sim_msg_exchange_state(g, 130); }), {0, 170, 130}},
      {"240", written([](growbuf* g) { return sim_msg_password_reply(g, 3); }), {0, 240, 3}},
      {"241", written([](growbuf* g) { return sim_msg_side_channel(g, 5, 1, "ab", 2); }),
       {0, 241, 5, 1, 2, 'a', 'b'}},
      {"242", written([](growbuf* g) { return sim_msg_ack(g); }), {0, 242}},
      {"251", written([](growbuf* g) { return sim_msg_dropped(g); }), {0, 251}},
      {"252", written([](growbuf* g) { return sim_msg_debug(g, 128); }), {0, 252, 0x80, 0x02}},
      {"253", written([](growbuf* g) { return sim_msg_noop(g); }), {0, 253}},
      {"254", written([](growbuf* g) { return sim_msg_signed_off(g); }), {0, 254}},
      {"255", written([&](growbuf* g) { return sim_msg_error(g, 20, 30, 1, "BHP", d); }),
       {0, 255, 20, 30, 1, 0x89, 0x10, d0, d1}},
      {"type below 32", written([](growbuf* g) { return sim_msg_header(g, 27); }), {27}},
      {"50", written([](growbuf* g) { return sim_msg_sync(g, 7); }), {0, 50, 7}},
      {"56 kind 8", written([](growbuf* g) { return sim_msg_server_position(g, 8, 255, 1, 2); }),
       {0, 56, 8, 255, 0, 0, 0, 1, 0, 0, 0, 2}},
      {"56 kind 2", written([](growbuf* g) { return sim_msg_server_position(g, 2, 1, 9, 9); }), {0, 56, 2, 1}},
      {"69", written([](growbuf* g) { return sim_msg_skip_word(g, 0x01020304); }), {0, 69, 1, 2, 3, 4}},
      {"162", written([](growbuf* g) { return sim_msg_set_position(g, 1, 2, 3); }),
       {0, 162, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3}},
      {"171", written([](growbuf* g) { return sim_msg_exchange_state_all(g, 20); }), {0, 171, 20}},
  };
  for (const auto& r : rows) EXPECT_EQ(r.got, r.want) << r.name;
}

TEST(SimMsg, BlocksCarryTheirPayloadAndRefusalsLeaveTheBufferAlone) {
  bytes payload(20000);
  for (size_t i = 0; i < payload.size(); i++) payload[i] = uint8_t(i % 7);
  const bytes b = written([&](growbuf* g) { return sim_msg_block(g, payload.data(), int32_t(payload.size())); });
  ASSERT_GT(b.size(), 2u);
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(b[1], 90);
  growbuf out{};
  growbuf_init(&out, 1024, 1024);
  EXPECT_EQ(decblk_inflate(b.data() + 2, int32_t(b.size() - 2), &out), int32_t(b.size() - 2));
  EXPECT_EQ(from(out), payload);
  growbuf_free(&out);

  growbuf gb{};
  growbuf_init(&gb, 64, 64);
  ASSERT_EQ(sim_msg_noop(&gb), 0);
  EXPECT_EQ(sim_msg_error(&gb, 1, 1, 0, "WAYTOOLONGCODE", 0), -1);  // 14 characters
  EXPECT_EQ(sim_msg_side_channel(&gb, 1, 0, payload.data(), kSimSideChannelMax + 1), -1);
  EXPECT_EQ(sim_msg_header(&gb, 256), -1);
  sim_notice n;
  n.text.assign(kSimNoticeTextMax + 1, 'x');
  EXPECT_EQ(sim_msg_notice(&gb, n), -1);
  EXPECT_EQ(sim_msg_notice_list(&gb, 0, 1, {n}), -1);
  EXPECT_EQ(sim_msg_update_test(&gb, std::string(kSimUpdateTestNameMax + 1, 'n'), "t", 1), -1);
  EXPECT_EQ(sim_msg_delete_top(&gb, nullptr, 205, 0, "BHP", 1, 1), -1);
  uint32_t ref = 0;
  EXPECT_EQ(sim_msg_depth_change(&gb, nullptr, 202, 0, "BHP", 1, 1, 1, nullptr, &ref, false), -1);
  EXPECT_EQ(gb.len, 2);
  sim_order_info o;
  o.first.assign(kSimPriorityTextMax + 1, 'f');
  bytes info;
  EXPECT_EQ(sim_priority_payload({o}, &info), -1);
  EXPECT_EQ(sim_firm_payload({o}, {}, &info), -1);
  EXPECT_TRUE(info.empty());
  growbuf_free(&gb);
}

TEST_F(SimTest, ReplyToTheGreetingIsNameChallengeSessionAndUnusedBytes) {
  Peer p(port_);
  p.send(kGreeting);
  const bytes reply = p.take(kSimReplyBytes);
  ASSERT_EQ(reply.size(), 308u);
  EXPECT_TRUE(p.quiet_for(kQuiet)) << "nothing follows the reply";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data()), 9), "ambit-sim");
  for (int i = 9; i < 16; i++) EXPECT_EQ(reply[i], 0) << i;
  for (int i = 276; i < 308; i++) EXPECT_EQ(reply[i], 0) << i;
  const bytes challenge(reply.begin() + 16, reply.begin() + 272);
  EXPECT_GT(std::set<uint8_t>(challenge.begin(), challenge.end()).size(), 100u) << "challenge looks random";

  sim_entry e;
  ASSERT_EQ(sim_wait_entry(sim_, kSimGreeting, 0, kWait, &e), 0);
  EXPECT_EQ(e.a, 6u);
  EXPECT_EQ(e.conn, 1);

  // The same seed gives the same reply for the same connection number; a
  // second connection gets another challenge.
  Peer q(port_);
  q.send(kGreeting);
  const bytes second = q.take(kSimReplyBytes);
  EXPECT_NE(bytes(second.begin() + 16, second.begin() + 272), challenge);
  sim_server* twin = sim_create(sim_options{42, "ambit-sim", false});
  const int port = sim_start(twin, 0);
  ASSERT_GT(port, 0);
  {
    Peer t(port);
    t.send(kGreeting);
    EXPECT_EQ(t.take(kSimReplyBytes), reply);
  }
  sim_destroy(twin);
}

TEST_F(SimTest, ExchangeClocksRunOnFromWhenTheyWereSet) {
  const struct {
    const char* what;
    int64_t advance_ms;  // the clock moves on before the login
    bool set_again;      // NZX is given its time again first
    int32_t seconds;     // NZX's time in 54 after time_
  } steps[] = {
      {"at once", 0, false, 0},
      {"26.5 s later: whole seconds", 26500, false, 26},
      {"past midnight the date in 54 stays", 86400000, false, 86426},
      {"set again: from the new setting", 5000, true, 0},
  };
  for (const auto& st : steps) {
    SCOPED_TRACE(st.what);
    g_sim_ms += st.advance_ms;
    if (st.set_again) {
      sim_exchange ex;
      ex.index = 1;
      ex.name = "NZX";
      ex.date = date_;
      ex.time = time_;
      ex.offset = -3600;
      ex.state = 10;
      ASSERT_EQ(sim_add_exchange(sim_, ex), 0);
    }
    Peer p(port_);
    p.login("alice", "secret");
    const accepted a = read_accept(p);
    EXPECT_EQ(a.dates[1], date_);
    EXPECT_EQ(a.times[1], sstime_add_seconds(time_, st.seconds));
    EXPECT_EQ(sstime_diff_seconds(a.times[1], time_), st.seconds);
  }
}

TEST_F(SimTest, SessionValueIsBigEndianInTheReplyAndRepeatedBy49) {
  Peer p(port_);
  p.send(kGreeting);
  const bytes r = p.take(kSimReplyBytes);
  ASSERT_EQ(r.size(), 308u);
  const uint32_t session = uint32_t(r[272]) << 24 | uint32_t(r[273]) << 16 | uint32_t(r[274]) << 8 | r[275];
  p.send(signon("alice", sha256_of(walk("secret", r.data() + 16)), {}));
  EXPECT_EQ(read_accept(p).proceed[1], session);
}

TEST_F(SimTest, AcceptSequenceCarriesUserExchangesAndTheExactCatchUp) {
  Peer p(port_);
  p.login("alice", "secret");
  const accepted a = read_accept(p);
  EXPECT_EQ(a.kind, 2u);
  EXPECT_EQ(a.id, 7u);
  EXPECT_EQ(a.bits, 7u);
  EXPECT_EQ(a.dated, (std::vector<uint32_t>{0, 1, 2, 3}));
  EXPECT_EQ(a.states, (std::vector<uint32_t>{50, 10, 0, 130}));
  EXPECT_EQ(a.dates[1], date_);
  EXPECT_EQ(a.times[1], time_);
  EXPECT_EQ(int32_t(a.offsets[1]), -3600);
  EXPECT_EQ(a.offsets[0], 36000u);
  EXPECT_EQ(a.brokers[0], 1u);
  EXPECT_EQ(a.brokers[1], 0u);

  // 54 of AXO came last, so every stream is preceded by its selection.
  bytes want;
  for (uint32_t ex : {0u, 1u, 2u}) {
    put(&want, select(ex));
    put(&want, log_[ex]);
  }
  EXPECT_EQ(a.expecting, want.size());
  EXPECT_EQ(a.catchup, want);
  EXPECT_EQ(a.positions, 4);
  for (uint32_t ex = 0; ex < 4; ex++) {
    EXPECT_EQ(a.sigs[ex], sim_signature(sim_, ex)) << ex;
    EXPECT_EQ(a.pos[ex], log_[ex].size()) << ex;
  }
  EXPECT_NE(a.sigs[0], a.sigs[1]);
  EXPECT_TRUE(p.quiet_for(kQuiet));

  sim_entry e;
  ASSERT_GE(sim_wait_entry(sim_, kSimSignOn, 0, kWait, &e), 0);
  EXPECT_EQ(e.text, "alice");
  EXPECT_EQ(e.site, "site1");
  EXPECT_EQ(e.c, 4u);
  ASSERT_EQ(e.files.size(), 1u);
  EXPECT_EQ(e.files[0].name, "prog.bin");
  EXPECT_EQ(e.files[0].md5[15], 0xAF);
  EXPECT_EQ(e.positions[0], kNone);
  EXPECT_EQ(e.positions[2], kNone);
  EXPECT_TRUE(sim_wait_logins(sim_, 1, kWait));
  EXPECT_EQ(sim_get_stats(sim_).online, 1);
}

TEST_F(SimTest, UserSeesOnlyPermittedExchangesAndGlobal) {
  Peer p(port_);
  p.login("bob", "pw");
  const accepted a = read_accept(p);
  EXPECT_EQ(a.dated, (std::vector<uint32_t>{0, 2}));
  bytes want = select(0);
  put(&want, log_[0]);
  put(&want, select(2));
  put(&want, log_[2]);
  EXPECT_EQ(a.catchup, want);
  EXPECT_EQ(a.positions, 2);
}

TEST_F(SimTest, PasswordWalkWrapsShortPasswordsAndUsesUnsignedBytes) {
  const std::string pws[] = {"x", "secret", std::string("\xff\xfe\x01", 3), std::string(300, 'q')};
  int n = 0;
  for (const auto& pw : pws) {
    const std::string name = "walker" + std::to_string(n++);
    add_user(name.c_str(), pw.c_str(), 1, 1, 0);
    Peer p(port_);
    p.login(name, pw);
    EXPECT_EQ(p.header(), 41u) << pw.size() << "-byte password";
  }
}

TEST_F(SimTest, RefusedLoginsGetErrorThenClose) {
  struct row {
    const char* user;
    const char* pw;
    const char* misbehave;
    uint32_t code, sub;
  } rows[] = {
      {"nobody", "x", "normal", kSimErrUnknownUser, 0},
      {"alice", "wrong", "normal", kSimErrBadPassword, 0},
      {"alice", "secre", "normal", kSimErrBadPassword, 0},
      {"carol", "c", "normal", kSimErrDisabled, 0},
      {"alice", "secret", "refuse:12", kSimErrTryAgain, 0},
      {"alice", "secret", "refuse:1:3", kSimErrLinkLost, 3},
      {"alice", "secret", "refuse:18", kSimErrUpdate, 0},
  };
  int closed = 0;
  for (const auto& r : rows) {
    sim_misbehaviour m;
    ASSERT_EQ(sim_parse_misbehaviour(r.misbehave, &m), 0);
    sim_set_misbehaviour(sim_, m);
    {
      Peer p(port_);
      p.login(r.user, r.pw);
      const error_msg e = read_error(p);
      EXPECT_EQ(e.code, r.code) << r.user << "/" << r.pw << " " << r.misbehave;
      EXPECT_EQ(e.sub, r.sub) << r.misbehave;
      EXPECT_TRUE(p.closes()) << r.user;
    }
    EXPECT_TRUE(sim_wait_closed(sim_, ++closed, kWait));
  }
  EXPECT_EQ(sim_get_stats(sim_).refusals, 7);
  EXPECT_EQ(sim_get_stats(sim_).logins, 0);
}

TEST_F(SimTest, ResumesAtTheClientsPositionWhenTheSignatureMatches) {
  const uint32_t s0 = sim_signature(sim_, 0), s1 = sim_signature(sim_, 1);
  const uint32_t mid = uint32_t(units_[0][1]);
  struct row {
    const char* name;
    std::vector<signon_exchange> ex;
    bytes want;
  } rows[] = {
      // ASX from its second unit, NZX up to date, AXO never sent; GLB is
      // not in the sign-on and is always sent whole.
      {"resume", {{0, s0, mid}, {1, s1, uint32_t(log_[1].size())}, {3, 0, kNone}}, {}},
      {"up to date", {{0, s0, uint32_t(log_[0].size())}, {1, s1, uint32_t(log_[1].size())}}, {}},
      {"another stream", {{0, s0 + 1, mid}, {1, s1, uint32_t(log_[1].size())}}, {}},
  };
  put(&rows[0].want, select(0));
  put(&rows[0].want, tail(0, mid));
  put(&rows[0].want, select(2));
  put(&rows[0].want, log_[2]);
  put(&rows[1].want, select(2));
  put(&rows[1].want, log_[2]);
  // A client holding another stream of ASX starts its day again (160: the
  // date, the time and the offset) before it reads the stream from its start.
  put(&rows[2].want, select(0));
  const size_t reset_at = rows[2].want.size();
  put(&rows[2].want, log_[0]);
  put(&rows[2].want, select(2));
  put(&rows[2].want, log_[2]);
  for (const auto& r : rows) {
    Peer p(port_);
    p.login("alice", "secret", r.ex);
    const accepted a = read_accept(p);
    bytes got = a.catchup;
    if (&r == &rows[2]) {
      // Header, date, time and the offset's vint (one to five bytes).
      const size_t n = got.size() - r.want.size();
      ASSERT_TRUE(got.size() > r.want.size() && n >= 11 && n <= 15) << r.name;
      EXPECT_EQ(bytes(got.begin() + long(reset_at), got.begin() + long(reset_at) + 2), (bytes{0, 160})) << r.name;
      got.erase(got.begin() + long(reset_at), got.begin() + long(reset_at + n));
    }
    EXPECT_EQ(got, r.want) << r.name;
    EXPECT_EQ(a.expecting, a.catchup.size()) << r.name;
    EXPECT_EQ(a.pos[0], log_[0].size()) << r.name;
  }
}

TEST_F(SimTest, PositionInsideAUnitCannotBeResumed) {
  Peer p(port_);
  p.login("alice", "secret", {{0, sim_signature(sim_, 0), 1}});
  EXPECT_EQ(read_error(p).code, kSimErrResubscribe);
  EXPECT_TRUE(p.closes());
}

TEST_F(SimTest, LiveDataFollowsTheCatchUpWithSelectionOnlyWhenNeeded) {
  Peer p(port_);
  p.login("alice", "secret");
  const accepted a = read_accept(p);
  const size_t nzx = log_[1].size();
  const bytes u1 = written([](growbuf* g) { return sim_msg_exchange_state(g, 60); });
  const bytes u2 = written([](growbuf* g) { return sim_msg_end_day(g); });
  append(1, u1);
  append(1, u2);
  bytes want = select(1);
  put(&want, u1);
  put(&want, u2);
  EXPECT_EQ(p.take(want.size()), want);
  EXPECT_EQ(nzx + u1.size() + u2.size(), sim_stream_length(sim_, 1));

  // A new day: the exchange selected, 166 with the new signature and
  // position 0, which opens the new stream; then the new stream's data
  // without another selection.
  const uint32_t old_sig = a.sigs[1];
  ASSERT_EQ(sim_new_day(sim_, 1), 0);
  EXPECT_EQ(p.take(2), select(1));
  EXPECT_EQ(p.header(), 166u);
  EXPECT_EQ(p.byte(), 1u);
  const uint32_t sig = p.u32();
  EXPECT_EQ(p.u32(), 0u);
  EXPECT_NE(sig, old_sig);
  EXPECT_EQ(sig, sim_signature(sim_, 1));
  EXPECT_EQ(sim_stream_length(sim_, 1), 11u) << "the 166 is the new stream's first unit";
  append(1, u2);
  EXPECT_EQ(p.take(u2.size()), u2);
  EXPECT_EQ(sim_stream_length(sim_, 1), 11u + u2.size());
}

TEST_F(SimTest, RequestsAreAnsweredAndRecordedWithTheirFields) {
  Peer p(port_);
  p.login("alice", "secret");
  read_accept(p);
  const size_t base = sim_transcript(sim_).size();
  const uint8_t d0 = uint8_t(date_ >> 24), d1 = uint8_t((date_ >> 16) & 0xFE);
  const bytes bhp = code3("BHP");
  ASSERT_EQ(bhp, (bytes{0x89, 0x10}));
  bytes req = {'Z'};
  put(&req, {0, 10, 0});  // partial bid queue
  put(&req, bhp);
  put(&req, {0, 30, 1});  // stock history
  put(&req, code3("AIR"));
  put(&req, {d0, d1});
  put(&req, {0, 64, 0});  // trades of two days
  put(&req, bhp);
  put(&req, {d0, d1, d0, uint8_t(d1 + 2)});
  put(&req, {0, 80, 2, 0x80 | (300 & 63), 300 >> 6});
  put(&req, {0, 81, 0, 0x01, 0x02, 1});
  put(&req, {0, 110, 0});
  put(&req, bhp);
  put(&req, {5});
  put(&req, {0, 34, 3, d0, d1});
  put(&req, {92});
  put(&req, {0, 20, 0});  // an instrument the server does not know
  put(&req, code3("XYZ"));
  p.send(req);

  EXPECT_EQ(p.header(), 253u);  // the heartbeat's answer
  // The partial bid queue of a stock with no book: an empty list.
  EXPECT_EQ(p.header(), 64u);
  EXPECT_EQ(p.byte(), 0u);
  EXPECT_EQ(p.take(bhp.size()), bhp);
  EXPECT_EQ(p.take(3), (bytes{0, 1, 0}));
  // The history and news summary requests are answered from generated data:
  // AIR's history from the exchange's date holds no day yet.
  auto block = [&p]() {
    growbuf gb{};
    growbuf_init(&gb, 256, 256);
    p.field([&](const uint8_t* d, int32_t n) { return decblk_inflate(d, n, &gb); });
    bytes out = from(gb);
    growbuf_free(&gb);
    return out;
  };
  EXPECT_EQ(p.header(), 110u);
  EXPECT_EQ(p.byte(), 1u);
  EXPECT_EQ(p.code(), "AIR");
  EXPECT_EQ(p.date16(), date_);
  EXPECT_EQ(block(), (bytes{0, 0}));
  // The volume-comparison set asked for (exchange 0, quarter 0x0102, initial
  // load): the simulator's figures of the exchange's one instrument.
  EXPECT_EQ(p.header(), 214u);
  EXPECT_EQ(p.take(4), (bytes{0, 1, d0, d1}));
  EXPECT_EQ(p.take(3), (bytes{0x01, 0x02, 1}));
  {
    growbuf gb{};
    growbuf_init(&gb, 256, 256);
    p.field([&](const uint8_t* d, int32_t n) { return decblk_inflate(d, n, &gb); });
    std::vector<uint8_t> want;
    ASSERT_EQ(0, sim_vcmp_payload({"BHP"}, true, &want));
    EXPECT_EQ(from(gb), want);
    growbuf_free(&gb);
  }
  EXPECT_EQ(p.header(), 122u);
  EXPECT_EQ(p.byte(), 3u);
  p.date16();
  EXPECT_EQ(block(), bytes{});  // exchange 3 has no instruments
  EXPECT_EQ(p.header(), 242u);  // the acknowledgement
  const error_msg e = read_error(p);
  EXPECT_EQ(e.code, kSimErrRequest);
  EXPECT_EQ(e.sub, 20u);
  EXPECT_EQ(e.exchange, 0u);
  EXPECT_EQ(e.instrument, "XYZ");
  EXPECT_TRUE(p.quiet_for(kQuiet)) << "known instruments get no error";

  ASSERT_GE(sim_wait_entry(sim_, 20, base, kWait, nullptr), 0);
  const std::vector<sim_entry> t = sim_transcript(sim_);
  ASSERT_EQ(t.size(), base + 10);
  struct row {
    int32_t kind, exchange;
    const char* code;
    ss_time date, date2;
    uint32_t a, b;
  } rows[] = {
      {90, -1, "", 0, 0, 0, 0},
      {10, 0, "BHP", 0, 0, 0, 0},
      {30, 1, "AIR", date_, 0, 0, 0},
      {64, 0, "BHP", date_, date_ + (1u << 17), 0, 0},
      {80, 2, "", 0, 0, 300, 0},
      {81, 0, "", 0, 0, 0x0102, 1},
      {110, 0, "BHP", 0, 0, 5, 0},
      {34, 3, "", date_, 0, 0, 0},
      {92, -1, "", 0, 0, 0, 0},
      {20, 0, "XYZ", 0, 0, 0, 0},
  };
  for (size_t i = 0; i < std::size(rows); i++) {
    const sim_entry& x = t[base + i];
    const row& r = rows[i];
    EXPECT_EQ(x.kind, r.kind) << i;
    EXPECT_EQ(x.exchange, r.exchange) << i;
    EXPECT_EQ(x.code, r.code) << i;
    EXPECT_EQ(x.date, r.date) << i;
    EXPECT_EQ(x.date2, r.date2) << i;
    EXPECT_EQ(x.a, r.a) << i;
    EXPECT_EQ(x.b, r.b) << i;
    EXPECT_EQ(x.conn, 1) << i;
  }
}

TEST_F(SimTest, UnstallSendsTheStreamsAgainFromTheGivenPositions) {
  Peer p(port_);
  p.login("alice", "secret");
  read_accept(p);
  const uint32_t mid = uint32_t(units_[0][1]);
  bytes req = {0, 93, 4};
  put32(&req, mid);
  put32(&req, uint32_t(log_[1].size()));
  put32(&req, 3);  // not a unit start: ignored
  put32(&req, kNone);
  p.send(req);
  bytes want = select(0);
  put(&want, tail(0, mid));
  EXPECT_EQ(p.take(want.size()), want);
  EXPECT_TRUE(p.quiet_for(kQuiet));
  sim_entry e;
  ASSERT_GE(sim_wait_entry(sim_, 93, 0, kWait, &e), 0);
  EXPECT_EQ(e.positions[0], mid);
  EXPECT_EQ(e.positions[3], kNone);
}

TEST_F(SimTest, SignOffAnswers254AndCloses) {
  Peer p(port_);
  p.login("alice", "secret");
  read_accept(p);
  p.send({0, 2, 1});
  EXPECT_EQ(p.header(), 254u);
  EXPECT_TRUE(p.closes());
  sim_entry e;
  ASSERT_GE(sim_wait_entry(sim_, 2, 0, kWait, &e), 0);
  EXPECT_EQ(e.a, 1u);
  EXPECT_TRUE(sim_wait_closed(sim_, 1, kWait));
  EXPECT_EQ(sim_get_stats(sim_).online, 0);
}

TEST_F(SimTest, BadRequestClosesTheLinkAndIsRecorded) {
  Peer p(port_);
  p.login("alice", "secret");
  read_accept(p);
  p.send({0, 199, 1, 2, 3});
  EXPECT_TRUE(p.closes());
  sim_entry e;
  ASSERT_GE(sim_wait_entry(sim_, kSimBadInput, 0, kWait, &e), 0);
  EXPECT_EQ(e.data, (bytes{0, 199, 1, 2, 3}));
}

#ifdef AMBIT_HAVE_OPENSSL
// The password block: length and the characters at odd bytes, AES-256-ECB
// under the sign-on key.
bytes password_block(const bytes& key, const std::string& pw) {
  uint8_t plain[64];
  for (int i = 0; i < 64; i++) plain[i] = uint8_t(i * 37 + 11);
  plain[0] = uint8_t(pw.size());
  for (size_t i = 0; i < pw.size(); i++) plain[1 + 2 * i] = uint8_t(pw[i]);
  bytes out(64 + 16);
  int n = 0, m = 0;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_EncryptUpdate(ctx, out.data(), &n, plain, 64);
  EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(size_t(n + m));
  return out;
}

TEST_F(SimTest, PasswordChangeIsDecryptedWithTheSignOnKey) {
  {
    Peer p(port_);
    p.login("alice", "secret");
    read_accept(p);
    bytes req = {0, 3};
    put(&req, password_block(p.key(), "n3wpass"));
    p.send(req);
    EXPECT_EQ(p.header(), 240u);
    EXPECT_EQ(p.byte(), 0u);
    // A block under another key does not decrypt to a valid password.
    bytes bad = {0, 3};
    put(&bad, password_block(bytes(32, 7), "other"));
    p.send(bad);
    EXPECT_EQ(p.header(), 240u);
    EXPECT_EQ(p.byte(), 1u);
  }
  sim_entry e;
  ASSERT_GE(sim_wait_entry(sim_, 3, 0, kWait, &e), 0);
  EXPECT_EQ(e.text, "n3wpass");
  Peer old_pw(port_);
  old_pw.login("alice", "secret");
  EXPECT_EQ(read_error(old_pw).code, kSimErrBadPassword);
  Peer new_pw(port_);
  new_pw.login("alice", "n3wpass");
  EXPECT_EQ(new_pw.header(), 41u);
}
#endif

TEST_F(SimTest, SavedConfigurationComesBackAt42) {
  {
    Peer p(port_);
    p.login("alice", "secret");
    read_accept(p);
    // The configuration is one framed block (here stored, 5 bytes), and a
    // request behind it in the same send is still read.
    p.send({0, 1, 1, 5, 'c', 'f', 'g', '=', '1', 0, 2, 0});
    sim_entry e;
    ASSERT_GE(sim_wait_entry(sim_, 1, 0, kWait, &e), 0);
    EXPECT_EQ(e.a, 1u);
    EXPECT_EQ(e.data, (bytes{5, 'c', 'f', 'g', '=', '1'}));
    EXPECT_GE(sim_wait_entry(sim_, 2, 0, kWait, nullptr), 0);
  }
  Peer p(port_);
  p.login("alice", "secret");
  EXPECT_EQ(read_accept(p).config, (bytes{5, 'c', 'f', 'g', '=', '1'}));
}

TEST_F(SimConcurrency, KickDisconnectAndSingleSession) {
  Peer a(port_);
  a.login("alice", "secret");
  read_accept(a);
  Peer b(port_);
  b.login("bob", "pw");
  read_accept(b);
  EXPECT_EQ(sim_kick(sim_, "alice", kSimErrLinkLost, 4), 1);
  const error_msg e = read_error(a);
  EXPECT_EQ(e.code, 1u);
  EXPECT_EQ(e.sub, 4u);
  EXPECT_TRUE(a.closes());
  EXPECT_EQ(sim_disconnect(sim_, "bob"), 1);
  EXPECT_TRUE(b.closes());

  sim_destroy(sim_);
  start(sim_options{42, "ambit-sim", true});
  Peer first(port_);
  first.login("alice", "secret");
  read_accept(first);
  Peer second(port_);
  second.login("alice", "secret");
  read_accept(second);
  const error_msg kicked = read_error(first);
  EXPECT_EQ(kicked.code, kSimErrLinkLost);
  EXPECT_EQ(kicked.sub, 1u);
  EXPECT_TRUE(first.closes());
  EXPECT_TRUE(second.quiet_for(kQuiet));
}

// Misbehaviours ---------------------------------------------------------------

class SimMisbehaviour : public SimTest {
 protected:
  void use(const char* how) {
    sim_misbehaviour m;
    ASSERT_EQ(sim_parse_misbehaviour(how, &m), 0) << how;
    sim_set_misbehaviour(sim_, m);
  }
  // The reply a well-behaved server with the same seed gives connection 1.
  static bytes normal_reply() {
    sim_server* twin = sim_create(sim_options{42, "ambit-sim", false});
    const int port = sim_start(twin, 0);
    bytes r;
    {
      Peer t(port);
      t.send(kGreeting);
      r = t.take(kSimReplyBytes);
    }
    sim_destroy(twin);
    return r;
  }
};

TEST_F(SimMisbehaviour, SilentServerReadsButNeverAnswers) {
  use("silent");
  Peer p(port_);
  p.send(kGreeting);
  EXPECT_TRUE(p.quiet_for(kQuiet));
  EXPECT_GE(sim_wait_entry(sim_, kSimGreeting, 0, kWait, nullptr), 0);
}

TEST_F(SimMisbehaviour, CloseAfterNBytesCutsTheReply) {
  const bytes full = normal_reply();
  use("close:100");
  Peer p(port_);
  p.send(kGreeting);
  EXPECT_TRUE(p.closes());
  EXPECT_EQ(p.avail(), 100u);
  EXPECT_EQ(p.take(100), bytes(full.begin(), full.begin() + 100));
}

TEST_F(SimMisbehaviour, GarbageFollowsTheAcceptSequence) {
  use("garbage");
  Peer p(port_);
  p.login("alice", "secret");
  read_accept(p);
  const bytes junk = p.take(32);
  ASSERT_EQ(junk.size(), 32u);
  EXPECT_EQ(junk[0], 0);
  EXPECT_EQ(junk[1], 43) << "a type the protocol leaves unassigned";
}

TEST_F(SimMisbehaviour, NoReadLeavesRequestsUnansweredUntilTheWindowFills) {
  use("no-read");
  Peer p(port_);
  p.login("alice", "secret");
  read_accept(p);
  p.send({'Z'});
  EXPECT_TRUE(p.quiet_for(kQuiet));
  fcntl(p.fd(), F_SETFL, fcntl(p.fd(), F_GETFL) | O_NONBLOCK);
  const bytes chunk(65536, 'Z');
  bool blocked = false;
  for (int i = 0; i < 2048 && !blocked; i++) {  // at most 128 MB
    if (::send(p.fd(), chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0)
      blocked = errno == EAGAIN || errno == EWOULDBLOCK;
  }
  EXPECT_TRUE(blocked);
  EXPECT_EQ(sim_wait_entry(sim_, 90, 0, 0, nullptr), -1);
}

TEST_F(SimMisbehaviour, DripSendsOneByteAtATime) {
  const bytes full = normal_reply();
  // The reply from a dripping link, then from a well-behaved one: the
  // simulator's own counts of its writes and pauses tell them apart.
  const struct {
    const char* how;
    bool drips;
  } cases[] = {{"drip:1", true}, {"normal", false}};
  sim_stats before = sim_get_stats(sim_);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    use(c.how);
    Peer p(port_);
    p.send(kGreeting);
    const bytes reply = p.take(kSimReplyBytes);
    if (c.drips) {
      EXPECT_EQ(reply, full);  // connection 1, as in the twin
    } else {
      EXPECT_EQ(reply.size(), size_t(kSimReplyBytes));
    }
    // A write is counted once it returns, and the pause after the last byte
    // may end after the byte has arrived.
    EXPECT_TRUE(wait_for([&] {
      const sim_stats now = sim_get_stats(sim_);
      return now.bytes_sent - before.bytes_sent == kSimReplyBytes &&
             (!c.drips || now.pauses - before.pauses == kSimReplyBytes);
    }));
    const sim_stats after = sim_get_stats(sim_);
    EXPECT_EQ(after.bytes_sent - before.bytes_sent, kSimReplyBytes);
    if (c.drips) {
      EXPECT_EQ(after.writes - before.writes, kSimReplyBytes);  // one byte per write
      EXPECT_EQ(after.pauses - before.pauses, kSimReplyBytes);  // each followed by a pause
    } else {
      EXPECT_LT(after.writes - before.writes, kSimReplyBytes);
      EXPECT_EQ(after.pauses, before.pauses);
    }
    before = after;
  }
}

// Several sessions while the stream grows: each gets every byte once, in
// order, after the position its accept sequence gave it.
TEST_F(SimConcurrency, SessionsFollowAGrowingStream) {
  constexpr int kClients = 4;
  constexpr int kUnits = 40;
  bytes units[kUnits];
  for (int i = 0; i < kUnits; i++)
    units[i] = written([&](growbuf* g) { return sim_msg_exchange_state(g, uint8_t(i)); });
  bytes final_log = log_[0];
  for (const auto& u : units) put(&final_log, u);

  std::vector<std::thread> clients;
  std::atomic<int> ok{0};
  for (int c = 0; c < kClients; c++) {
    clients.emplace_back([&] {
      Peer p(port_);
      p.login("bob", "pw");
      const accepted a = read_accept(p);
      const uint32_t pos = a.pos[0];
      if (pos >= final_log.size()) {
        ok++;
        return;
      }
      bytes want = {0, 52};
      want.insert(want.end(), final_log.begin() + pos, final_log.end());
      if (p.take(want.size()) == want) ok++;
    });
  }
  for (int i = 0; i < kUnits; i++) {
    EXPECT_EQ(sim_append(sim_, 0, units[i].data(), int32_t(units[i].size())), 0);
    if (i % 8 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(ok.load(), kClients);
  EXPECT_EQ(sim_stream_length(sim_, 0), final_log.size());
}

// The program -------------------------------------------------------------------

std::string sim_binary() {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "";
  exe[n] = 0;
  std::string dir(exe);
  dir.resize(dir.rfind('/'));
  const std::string path = dir + "/ambit-sim";
  return access(path.c_str(), X_OK) == 0 ? path : "";
}

struct child {
  pid_t pid = -1;
  int out = -1;
};

child spawn(const std::string& path, std::vector<std::string> args) {
  int fds[2];
  if (pipe(fds) < 0) return child{};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv = {const_cast<char*>(path.c_str())};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  return child{pid, fds[0]};
}

std::string read_line(int fd, int timeout_ms) {
  std::string s;
  const int64_t until = ms_now() + timeout_ms;
  char c;
  while (ms_now() < until) {
    pollfd pf{fd, POLLIN, 0};
    if (poll(&pf, 1, int(until - ms_now())) <= 0) break;
    if (read(fd, &c, 1) != 1 || c == '\n') break;
    s.push_back(c);
  }
  return s;
}

// The exit status, or -1 when the child has not ended within timeout_ms
// (it is then killed).
int wait_exit(pid_t pid, int timeout_ms) {
  const int64_t until = ms_now() + timeout_ms;
  int status = 0;
  while (ms_now() < until) {
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

TEST(SimProgram, HelpPrintsUsage) {
  const std::string path = sim_binary();
  if (path.empty()) GTEST_SKIP() << "ambit-sim not built beside the tests";
  child c = spawn(path, {"--help"});
  ASSERT_GT(c.pid, 0);
  EXPECT_EQ(read_line(c.out, kWait).rfind("usage: ambit-sim", 0), 0u);
  EXPECT_EQ(wait_exit(c.pid, kWait), 0);
  close(c.out);
  child bad = spawn(path, {"--frobnicate", "1"});
  EXPECT_EQ(wait_exit(bad.pid, kWait), 2);
  close(bad.out);
}

TEST(SimProgram, ServesUntilSigintOrSigterm) {
  const std::string path = sim_binary();
  if (path.empty()) GTEST_SKIP() << "ambit-sim not built beside the tests";
  char users[] = "/tmp/ambit-sim-users-XXXXXX";
  const int fd = mkstemp(users);
  ASSERT_GE(fd, 0);
  const std::string text = "# name:password:id:exchange bits\nbob:pw:8:5\n";
  ASSERT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
  close(fd);
  struct row {
    int sig;
    const char* user;
    const char* pw;
    uint32_t id;
    std::vector<uint32_t> dated;
  } rows[] = {
      {SIGINT, "alice", "secret", 7, {0, 2}},  // from --user
      {SIGTERM, "bob", "pw", 8, {0, 2, 3}},    // from the users file
  };
  for (const auto& r : rows) {
    child c = spawn(path, {"--port", "0", "--user", "alice:secret:7:1", "--users", users, "--seed", "5",
                           "--scenario", "demo"});
    ASSERT_GT(c.pid, 0);
    const std::string line = read_line(c.out, kWait);
    ASSERT_EQ(line.rfind("listening on 127.0.0.1:", 0), 0u) << line;
    const int port = atoi(line.c_str() + strlen("listening on 127.0.0.1:"));
    {
      Peer p(port);
      p.login(r.user, r.pw);
      const accepted a = read_accept(p);
      EXPECT_EQ(a.id, r.id);
      EXPECT_EQ(a.dated, r.dated);
      EXPECT_GT(a.expecting, 0u) << "the demo streams open their day";
      kill(c.pid, r.sig);
      EXPECT_TRUE(p.closes());
    }
    EXPECT_EQ(wait_exit(c.pid, kWait), 0) << "signal " << r.sig;
    close(c.out);
  }
  unlink(users);
}

}  // namespace

// ---------------------------------------------------------------------------
// HTTP mode and the file server

// An HTTP-mode body by hand: "a=", random, sequence and session in 24 hex
// digits, the data in hex, the request set's 00 5B, "&b=1".
bytes http_body(uint32_t seq, uint32_t session, const bytes& data, bool request_set) {
  bytes raw;
  put32(&raw, 0x5EED5EED);
  put32(&raw, seq);
  put32(&raw, session);
  put(&raw, data);
  if (request_set) put(&raw, {0x00, 0x5B});
  static const char kHex[] = "0123456789ABCDEF";
  bytes b = {'a', '='};
  for (uint8_t v : raw) {
    b.push_back(uint8_t(kHex[v >> 4]));
    b.push_back(uint8_t(kHex[v & 15]));
  }
  put(&b, {'&', 'b', '=', '1'});
  return b;
}

bytes http_post(const bytes& body) {
  std::string head = "POST /AMBIT/6 HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
                     "\r\n\r\n";
  bytes b(head.begin(), head.end());
  put(&b, body);
  return b;
}

std::string text_of(const bytes& b) { return std::string(b.begin(), b.end()); }

// Reads an HTTP reply's head (to the blank line).
std::string reply_head(Peer& p) {
  std::string head;
  while (head.size() < 4096 && head.find("\r\n\r\n") == std::string::npos) {
    bytes one = p.take(1);
    if (one.empty()) break;
    head += char(one[0]);
  }
  return head;
}

// The link is the reply to one POST; request sets come as POSTs of their own
// and reach the session in sequence order, whatever order they arrive in.
TEST_F(SimTest, HttpModeOrdersRequestSetsBySequence) {
  Peer link(port_);
  link.send(http_post(http_body(100, 0, {'A', 'M', 'B', 'I', 'T', '/', '6', '\n'}, false)));
  EXPECT_EQ(0u, reply_head(link).find("HTTP/1.0 200 OK\r\n"));
  const bytes r = link.take(kSimReplyBytes);
  ASSERT_EQ(r.size(), 308u);
  const uint32_t session = uint32_t(r[272]) << 24 | uint32_t(r[273]) << 16 | uint32_t(r[274]) << 8 | r[275];
  auto post_set = [&](uint32_t seq, const bytes& data) {
    Peer p(port_);
    p.send(http_post(http_body(seq, session, data, true)));
    std::string head = reply_head(p);
    EXPECT_EQ(0u, head.find("HTTP/1.0 200 OK\r\n")) << head;
    EXPECT_EQ("BYE", text_of(p.take(3)));
    EXPECT_TRUE(p.closes());
  };
  post_set(101, signon("alice", sha256_of(walk("secret", r.data() + 16)), {}));
  read_accept(link);
  const size_t base = sim_transcript(sim_).size();
  post_set(104, {92});        // the acknowledgement request, sent first
  post_set(103, {0, 34, 3, uint8_t(date_ >> 24), uint8_t((date_ >> 16) & 0xFE)});
  post_set(102, {'Z'});       // a heartbeat
  ASSERT_GE(sim_wait_entry(sim_, 92, base, kWait, nullptr), 0);
  std::vector<int32_t> kinds;
  for (size_t i = base; i < sim_transcript(sim_).size(); i++) kinds.push_back(sim_transcript(sim_)[i].kind);
  EXPECT_EQ((std::vector<int32_t>{'Z', 34, 92}), kinds);
  EXPECT_EQ(5u, sim_http_requests(sim_).size());  // the link and four sets
}

TEST_F(SimTest, FilesAreServedWithRedirectsErrorsAndCuts) {
  sim_http_file f;
  f.path = "/a.txt";
  f.body = "hello file";
  ASSERT_EQ(0, sim_http_add_file(sim_, f));
  sim_http_file moved;
  moved.path = "/old";
  moved.status = 301;
  moved.location = "/a.txt";
  ASSERT_EQ(0, sim_http_add_file(sim_, moved));
  sim_http_file cut = f;
  cut.path = "/cut.txt";
  cut.cut_at = 4;
  ASSERT_EQ(0, sim_http_add_file(sim_, cut));
  EXPECT_EQ(-1, sim_http_add_file(sim_, sim_http_file{}));
  struct Case {
    const char* request;
    const char* head;
    const char* body;
  } cases[] = {
      {"GET /a.txt HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n", "hello file"},
      {"GET http://127.0.0.1/a.txt HTTP/1.0\r\nHost: x\r\n\r\n", "HTTP/1.0 200 OK\r\n", "hello file"},
      {"GET /old HTTP/1.0\r\n\r\n", "HTTP/1.0 301 Moved Permanently\r\nLocation: /a.txt\r\n", ""},
      {"GET /cut.txt HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK\r\n", "hell"},
      {"GET /none HTTP/1.0\r\n\r\n", "HTTP/1.0 404 Not Found\r\n", ""},
      {"POST /a.txt HTTP/1.0\r\nContent-Length: 0\r\n\r\n", "HTTP/1.0 400 Bad Request\r\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    Peer p(port_);
    p.send(bytes(c.request, c.request + strlen(c.request)));
    std::string head = reply_head(p);
    EXPECT_EQ(0u, head.find(c.head)) << head;
    EXPECT_TRUE(p.closes());
    EXPECT_EQ(c.body, text_of(p.take(p.avail())));
    if (std::string(c.body) == "hell") {
      EXPECT_NE(std::string::npos, head.find("Content-Length: 10\r\n"));  // the length of the whole file
    }
  }
}

// A document read back by poppler's own tools: pdfinfo's report and the
// text pdftotext finds.
void read_pdf(const std::string& body, std::string* info, std::string* text) {
  char tmpl[] = "/tmp/ambit-simpdf-XXXXXX";
  const int fd = mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, body.data(), body.size()), ssize_t(body.size()));
  close(fd);
  *info = peer_command_output(std::string("pdfinfo ") + tmpl + " 2>&1");
  *text = peer_command_output(std::string("pdftotext ") + tmpl + " - 2>&1");
  unlink(tmpl);
}

// The live market's announcements: each goes out on the exchange's stream
// after its document is put up at the link a client makes for it; poppler's
// own tools read the document back (one page, the headline on it).
TEST_F(SimTest, LiveAnnouncementsComeWithTheirDocuments) {
  sim_live_options lo;
  lo.rate = 50;
  lo.stocks = 2;
  lo.news_seconds = 0.05;
  sim_live* live = sim_live_start(sim_, lo);
  ASSERT_NE(live, nullptr);
  EXPECT_TRUE(wait_for([&] { return sim_live_news_count(live) >= 3; }));
  const uint64_t published = sim_live_news_count(live);
  sim_live_stop(live);
  ASSERT_GE(published, 3u);
  // Numbers in order, the stocks taking turns.
  const sim_live_news n0 = sim_live_news_item(lo, 0), n1 = sim_live_news_item(lo, 1),
                      n2 = sim_live_news_item(lo, 2);
  EXPECT_EQ(n0.number, kSimLiveNewsFirst);
  EXPECT_EQ(n1.number, kSimLiveNewsFirst + 1);
  EXPECT_NE(n0.code, n1.code);
  EXPECT_EQ(n0.code, n2.code);
  EXPECT_EQ(n0.flags, kNewsFlag1);
  EXPECT_EQ(sim_live_news_item(lo, 2).flags, 0u);
  char url[512];
  uint32_t size = sizeof url;
  ASSERT_NE(ssutil_news_pdf_url(url, &size, 0, n1.code.c_str(), n1.number), nullptr);
  std::string path = strchr(strstr(url, "://") + 3, '/');
  Peer p(port_);
  const std::string get = "GET " + path + " HTTP/1.0\r\n\r\n";
  p.send(bytes(get.begin(), get.end()));
  EXPECT_EQ(0u, reply_head(p).find("HTTP/1.0 200 OK\r\n"));
  EXPECT_TRUE(p.closes());
  const std::string body = text_of(p.take(p.avail()));
  ASSERT_EQ(body.rfind("%PDF-", 0), 0u);
  EXPECT_GE(body.size(), 1024u) << "as long as a real document";
  std::string info, text;
  ASSERT_NO_FATAL_FAILURE(read_pdf(body, &info, &text));
  const size_t pages = info.find("Pages:");
  ASSERT_NE(pages, std::string::npos) << info;
  EXPECT_EQ(atoi(info.c_str() + pages + 6), 1) << info;
  EXPECT_EQ(info.find("Syntax"), std::string::npos) << "no repairs: " << info;
  EXPECT_NE(text.find(n1.headline), std::string::npos) << text;
  // The item itself is on the stream: its headline's bytes.
  const std::vector<uint8_t> stream = sim_stream_bytes(sim_, 0);
  const std::string s(stream.begin(), stream.end());
  EXPECT_NE(s.find(n1.headline), std::string::npos);
}

// The news feeds a new terminal registers: all five served at their paths
// as RSS that a real XML reader takes; the announcements feed lists every
// announcement newest first with a link to its document, the headlines only
// the price-sensitive ones.
TEST_F(SimTest, NewsFeedsAreServedAndFollowTheAnnouncements) {
  auto get = [&](const std::string& path, std::string* body) {
    Peer p(port_);
    const std::string req = "GET " + path + " HTTP/1.0\r\n\r\n";
    p.send(bytes(req.begin(), req.end()));
    const std::string head = reply_head(p);
    EXPECT_TRUE(p.closes());
    *body = text_of(p.take(p.avail()));
    return head.rfind("HTTP/1.0 200 OK\r\n", 0) == 0;
  };
  // The items' titles and links as Python's XML reader sees them, one a line.
  auto items = [&](const std::string& xml) {
    char tmpl[] = "/tmp/ambit-simfeed-XXXXXX";
    const int fd = mkstemp(tmpl);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, xml.data(), xml.size()), ssize_t(xml.size()));
    close(fd);
    const std::string out = peer_command_output(
        std::string("python3 -c 'import sys, xml.etree.ElementTree as E\n"
                    "for i in E.parse(sys.argv[1]).getroot().find(\"channel\").findall(\"item\"):"
                    " print(i.findtext(\"title\") + \" | \" + i.findtext(\"link\"))' ") +
        tmpl + " 2>&1");
    unlink(tmpl);
    return out;
  };
  sim_server* idle = sim_create(sim_options{});
  EXPECT_EQ(-1, sim_feeds_start(idle, 0)) << "links need the address it listens on";
  sim_destroy(idle);
  ASSERT_EQ(0, sim_feeds_start(sim_, sstime_pack_date(10, 12, 2026)));
  const std::string base = "http://127.0.0.1:" + std::to_string(port_);
  for (const char* path : kSimFeedPaths) {
    std::string body;
    ASSERT_TRUE(get(path, &body)) << path;
    EXPECT_EQ(body.find("<rss version=\"2.0\">"), body.find("<rss")) << path;
    const std::string listed = items(body);
    EXPECT_EQ(listed.find("Traceback"), std::string::npos) << path << ": " << listed;
    const bool announcements = strstr(path, "announcements") || strstr(path, "headlines");
    // The general feeds hold four items whose pages are served; the
    // announcement ones start empty.
    EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), announcements ? 0 : 4) << path << ": " << listed;
    if (!announcements) {
      const size_t at = listed.find(" | " + base);
      ASSERT_NE(at, std::string::npos) << listed;
      std::string page;
      EXPECT_TRUE(get(listed.substr(at + 3 + base.size(), listed.find('\n') - at - 3 - base.size()), &page));
    }
  }
  sim_live_options lo;
  lo.rate = 50;
  lo.stocks = 2;
  lo.news_seconds = 0.05;
  sim_live* live = sim_live_start(sim_, lo);
  ASSERT_NE(live, nullptr);
  EXPECT_TRUE(wait_for([&] { return sim_live_news_count(live) >= 3; }));
  const uint64_t published = sim_live_news_count(live);
  sim_live_stop(live);
  ASSERT_GE(published, 3u);
  std::string all, sensitive;
  ASSERT_TRUE(get("/rss/company-announcements.xml", &all));
  ASSERT_TRUE(get("/rss/headlines.xml", &sensitive));
  const std::string listed = items(all), listed_sensitive = items(sensitive);
  // Every announcement (one more may have gone out before the stop).
  const size_t n = size_t(std::count(listed.begin(), listed.end(), '\n'));
  EXPECT_GE(n, published) << listed;
  EXPECT_LE(n, published + 1) << listed;
  // Newest first: the last announcement leads.
  const sim_live_news last = sim_live_news_item(lo, n - 1), third = sim_live_news_item(lo, 2);
  EXPECT_EQ(listed.rfind(last.code + ": " + last.headline + " | " + base + "/", 0), 0u) << listed;
  // The third is not price sensitive: listed with all, not in the headlines.
  EXPECT_NE(listed.find(third.headline + " |"), std::string::npos);
  EXPECT_EQ(listed_sensitive.find(third.headline + " |"), std::string::npos) << listed_sensitive;
  EXPECT_NE(listed_sensitive.find(sim_live_news_item(lo, 1).headline + " |"), std::string::npos);
  // An item's link is its document.
  const size_t at = listed.find(" | " + base);
  std::string pdf;
  ASSERT_TRUE(get(listed.substr(at + 3 + base.size(), listed.find('\n') - at - 3 - base.size()), &pdf));
  EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
}

// A generated history given the stream's previous close ends exactly on it,
// whatever the close, and its days stay whole; without one it is the walk
// it always was, so stored expectations still hold.
TEST(SimHistory, EndsOnThePreviousCloseItIsGiven) {
  const ss_time today = sstime_pack_date(10, 12, 2026);
  for (uint32_t close : {1u, 156u, 1810u, 45000u, 4000000u}) {
    const std::vector<ss_stock_point> h = sim_stock_history(7, 0, "ACX", today, 0, close);
    ASSERT_EQ(h.size(), size_t(kSimHistoryDays)) << close;
    EXPECT_EQ(h.back().close, close);
    for (const ss_stock_point& p : h) {
      EXPECT_GE(p.high, std::max(p.open, p.close)) << close;
      EXPECT_LE(p.low, std::min(p.open, p.close)) << close;
      EXPECT_GT(p.close, 0u) << close;
    }
    const std::vector<sim_trade> day = sim_day_trades(7, 0, "ACX", today, h.back().date, close);
    ASSERT_FALSE(day.empty());
    EXPECT_EQ(day.back().price, close) << "the last day's trades close where the history does";
  }
  EXPECT_EQ(sim_stock_history(7, 0, "ACX", today, 0, 0).back().close,
            sim_stock_history(7, 0, "ACX", today, 0).back().close);
}

// A listed stock's company profile is served at the path the terminal asks
// for, as a one-page document poppler's tools read; an unlisted code, another
// exchange's suffix or a path beside it is not found.
TEST_F(SimTest, CompanyProfilesAreServedForListedStocks) {
  sim_live_options lo;
  lo.rate = 50;
  lo.stocks = 2;
  sim_live* live = sim_live_start(sim_, lo);
  ASSERT_NE(live, nullptr);
  const std::string code = sim_live_news_item(lo, 0).code;
  sim_live_stop(live);
  auto fetch = [&](const std::string& path, std::string* body) {
    Peer p(port_);
    const std::string get = "GET " + path + " HTTP/1.0\r\n\r\n";
    p.send(bytes(get.begin(), get.end()));
    const std::string head = reply_head(p);
    EXPECT_TRUE(p.closes());
    *body = text_of(p.take(p.avail()));
    return head;
  };
  const std::string base = "/pdf/osprey/advancedprofile/today/";
  std::string body;
  EXPECT_EQ(0u, fetch(base + code + "_advancedprofile.pdf", &body).find("HTTP/1.0 200 OK\r\n"));
  ASSERT_EQ(body.rfind("%PDF-", 0), 0u);
  std::string info, text;
  ASSERT_NO_FATAL_FAILURE(read_pdf(body, &info, &text));
  EXPECT_NE(info.find("Pages:           1\n"), std::string::npos) << info;
  EXPECT_NE(text.find("company profile"), std::string::npos) << text;
  EXPECT_NE(text.find("as " + code), std::string::npos) << text;
  EXPECT_NE(text.find("Last $"), std::string::npos) << "priced from the stream: " << text;
  EXPECT_NE(text.find("Recent trading"), std::string::npos) << text;
  EXPECT_GE(body.size(), 1024u) << "as long as the terminal keeps a document";
  for (const std::string& path : {base + "ZZZ_advancedprofile.pdf", base + code + "-NZ_advancedprofile.pdf",
                                  base + code + "_advancedprofile.pdfx", base + "_advancedprofile.pdf"})
    EXPECT_EQ(0u, fetch(path, &body).find("HTTP/1.0 404")) << path;
}
