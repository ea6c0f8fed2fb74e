// The market simulator's server core: loopback listener, one thread per
// connection, sign-on check, per-exchange stream logs with resume by
// signature and position, request parsing and the transcript.
//
// Everything a link sends goes through its output queue, filled under the
// server lock by its own thread (replies) and by others (live stream data,
// kicks) and drained by the connection thread alone, so a link's bytes keep
// their queued order and its sent stream positions move in step with it.
#include "sim.h"
#include "sim_control.h"
#include "sim_days.h"
#include "sim_lists.h"
#include "sim_history.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "aes.h"
#include "decblk.h"
#include "decode.h"
#include "log.h"
#include "sha256.h"
#include "sim_http.h"
#include "sim_live.h"
#include "sim_msg.h"

static const char kSrc[] = "sim/sim";

namespace {

constexpr int32_t kGreetingMax = 64;      // a longer first line is not a greeting
constexpr int32_t kSignOnMax = 8192;      // the client reserves this much for it
constexpr size_t kInputMax = 4u << 20;    // unread input that closes the link
constexpr size_t kConfigMax = 1u << 20;   // stored user configuration
constexpr uint32_t kEncryptedMax = 1u << 20;  // an encrypted report block
constexpr int32_t kSendTimeoutMs = 10000;  // a peer that reads nothing this long is dropped
constexpr int32_t kPollSliceMs = 100;      // how often blocked threads look at the stop flag
constexpr int32_t kCloseDrainMs = 500;     // reading after our FIN, so the peer gets our last bytes
constexpr int32_t kRecvChunk = 65536;
constexpr int32_t kGarbageBytes = 32;
constexpr int32_t kProgramFilesMax = 16;
constexpr int32_t kSignOnExchangesMax = 4;
constexpr int32_t kResponseBytes = 32;
constexpr int32_t kWalkModulus = 251;
constexpr int32_t kPasswordBlock = 64;
constexpr int32_t kPasswordMax = 31;
constexpr int32_t kUnusedReplyBytes = 32;
constexpr int32_t kBadInputKept = 64;
constexpr uint32_t kNoPosition = 0xffffffffu;
constexpr uint8_t kGarbageType = 43;  // a type the protocol leaves unassigned
constexpr char kGreetingPrefix[] = "AMBIT/";

constexpr uint8_t kReqHeartbeat = 'Z';
constexpr uint8_t kReqAck = 92;

static_assert(kSimNameBytes + kSimChallengeBytes + 4 + kUnusedReplyBytes == kSimReplyBytes);

// splitmix64: small, seedable, and the same on every platform, so a seed
// gives the same challenges and signatures everywhere.
struct rng {
  uint64_t s = 0;
  uint64_t next() {
    uint64_t z = (s += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  uint32_t nonzero32() {
    uint32_t v;
    do v = uint32_t(next()); while (v == 0 || v == kNoPosition);
    return v;
  }
};

// A growbuf that frees itself; the message writers append to it.
struct msgbuf {
  growbuf gb{};
  msgbuf() { growbuf_init(&gb, 4096, 4096); }
  ~msgbuf() { growbuf_free(&gb); }
  msgbuf(const msgbuf&) = delete;
  msgbuf& operator=(const msgbuf&) = delete;
  const uint8_t* data() const { return gb.data; }
  size_t size() const { return size_t(gb.len); }
};

struct exchange_rec {
  bool present = false;
  sim_exchange cfg;
  int64_t set_at_ms = 0;  // the exchange clock's reading when cfg.time was set
  uint32_t signature = 0;
  std::vector<uint8_t> log;
  std::vector<uint8_t> snapshot;  // summary messages served before a stream read from its start
  std::vector<uint32_t> units;  // start offsets of the appended units, ascending
  std::set<std::string> instruments;
  std::map<std::string, sim_stock_ref> books;  // as of the end of `log` (sim_market_flush)
  bool brokers = false;                        // the books' depth and trades carry brokers
  // Earlier days of stocks: the saved stream of each (code, date), answered
  // to a request for that day's events (62) as message 102.
  std::map<std::pair<std::string, ss_time>, std::vector<uint8_t>> past_days;
  // The exchange's notices, numbered from 1 in this order (sim_set_stock_name).
  std::vector<sim_notice> notices;
  rng r;

  // A client may resume at the start of any unit or at the end.
  bool resumable(uint32_t pos) const {
    return pos == log.size() || std::binary_search(units.begin(), units.end(), pos);
  }
};

// Where a stock's generated history and past days end: the previous close
// its stream gives, else today's open, else its last price (a live market
// that has written no close yet); 0 for a stock the stream has not priced.
uint32_t previous_close(const exchange_rec& ex, const std::string& code) {
  auto it = ex.books.find(code);
  if (it == ex.books.end()) return 0;
  const sim_stock_ref& b = it->second;
  return b.close ? b.close : b.open ? b.open : b.last;
}

struct user_rec {
  sim_user cfg;
  std::vector<uint8_t> config;
};

enum conn_phase { kPhaseGreeting, kPhaseSignOn, kPhaseOnline };

struct conn {
  int32_t id = 0;
  int fd = -1;
  int wake[2] = {-1, -1};
  std::thread thread;
  sim_misbehaviour how;
  rng r;
  std::atomic<bool> abort{false};

  // Connection thread only.
  conn_phase phase = kPhaseGreeting;
  std::vector<uint8_t> in;
  uint8_t challenge[kSimChallengeBytes] = {};
  uint32_t session = 0;
  uint8_t key[kResponseBytes] = {};
  bool reading = true;
  int64_t sent_bytes = 0;

  // Under the server lock.
  std::string user;
  bool online = false;
  bool done = false;
  bool close_req = false;
  std::vector<uint8_t> out;
  bool streams[kSimExchanges] = {};
  uint32_t sent[kSimExchanges] = {};
  int32_t selected = -1;  // exchange the client has current, -1 unknown

  // HTTP mode (under the server lock): the link is a POST's reply, and the
  // request sets come as POSTs of their own, put in order by sequence number.
  uint32_t session_locked = 0;
  bool http_link = false;
  uint32_t http_next_seq = 0;
  std::map<uint32_t, std::vector<uint8_t>> http_sets;
};

bool visible(const sim_user& u, uint32_t index) {
  switch (index) {
    case 0:
      return u.exchange_bits & 1;
    case 1:
      return u.exchange_bits & 2;
    case 2:
      return true;
    case 3:
      return u.exchange_bits & 4;
    default:
      return false;
  }
}

void append(std::vector<uint8_t>* v, const void* p, size_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  v->insert(v->end(), b, b + n);
}

void append(std::vector<uint8_t>* v, const msgbuf& m) { append(v, m.data(), m.size()); }

// The 256 bytes both ends derive from the password and the challenge: a walk
// through the challenge whose steps are the password's bytes, modulo 251.
void password_walk(const std::string& password, const uint8_t* challenge, uint8_t* out) {
  const uint8_t* pw = reinterpret_cast<const uint8_t*>(password.c_str());
  size_t i = 0;
  uint32_t p = 0;
  for (int k = 0; k < kSimChallengeBytes; k++) {
    if (pw[i] == 0) i = 0;
    p = (p + pw[i]) % kWalkModulus;
    out[k] = challenge[p];
    i++;
  }
}

void expected_response(const std::string& password, const uint8_t* challenge, uint8_t* digest) {
  uint8_t walk[kSimChallengeBytes];
  password_walk(password, challenge, walk);
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, walk, sizeof walk);
  sha256_final(&ctx, digest);
}

// Compares every byte whatever the first difference, so the time taken
// tells nothing about how much of a response was right.
bool same_secret(const uint8_t* a, const uint8_t* b, size_t n) {
  uint8_t diff = 0;
  for (size_t i = 0; i < n; i++) diff |= uint8_t(a[i] ^ b[i]);
  return diff == 0;
}

// Field reader over received bytes: each read moves on or marks the input
// incomplete (st 0) or bad (st -1); later reads then do nothing.
struct field_reader {
  const uint8_t* in;
  int32_t n;
  int32_t p = 0;
  int st = 1;

  field_reader(const uint8_t* i, int32_t len) : in(i), n(len) {}
  bool ok() const { return st == 1; }
  void take(int r) {
    if (r > 0)
      p += r;
    else if (st == 1)
      st = r;
  }
  uint32_t byte() {
    uint8_t v = 0;
    if (ok()) take(decode_byte(in + p, n - p, &v));
    return v;
  }
  uint32_t u16() {
    uint16_t v = 0;
    if (ok()) take(decode_short(in + p, n - p, &v));
    return v;
  }
  uint32_t u32() {
    uint32_t v = 0;
    if (ok()) take(decode_uint32(in + p, n - p, &v));
    return v;
  }
  uint32_t vint() {
    uint32_t v = 0;
    if (ok()) take(decode_vint(in + p, n - p, &v));
    return v;
  }
  ss_time date16() {
    ss_time v = 0;
    if (ok()) take(decode_date16(in + p, n - p, &v));
    return v;
  }
  std::string code() {
    char buf[kCodecCodeBytes + 4] = {};
    if (ok()) take(decode_code(in + p, n - p, buf, sizeof buf));
    return ok() ? std::string(buf) : std::string();
  }
  std::string string() {
    char buf[256] = {};
    int32_t size = sizeof buf;
    if (ok()) take(decode_string(in + p, n - p, buf, &size));
    return ok() ? std::string(buf, size_t(size)) : std::string();
  }
  void raw(void* dst, int32_t len) {
    if (!ok()) return;
    if (len == 0) return;
    take(decode_raw(in + p, n - p, dst, len));
  }
  int result() const { return st == 1 ? p : st; }
};

// Reads one sign-on message; the bytes used, 0 incomplete, -1 bad.
int parse_signon(const uint8_t* in, int32_t n, sim_entry* e) {
  field_reader r(in, n);
  e->kind = kSimSignOn;
  e->c = r.byte();  // platform code
  r.u32();
  r.u32();
  e->b = r.u32();  // master number
  e->a = r.u32();  // options
  const uint32_t files = r.byte();
  if (r.ok() && files > uint32_t(kProgramFilesMax)) return -1;
  for (uint32_t i = 0; r.ok() && i < files; i++) {
    sim_file f;
    f.name = r.string();
    r.raw(f.md5, sizeof f.md5);
    e->files.push_back(f);
  }
  e->site = r.string();
  e->text = r.string();
  e->data.assign(kResponseBytes, 0);
  r.raw(e->data.data(), kResponseBytes);
  const uint32_t count = r.byte();
  if (r.ok() && count > uint32_t(kSignOnExchangesMax)) return -1;
  for (uint32_t i = 0; r.ok() && i < count; i++) {
    const uint32_t index = r.byte();
    const uint32_t sig = r.u32();
    const uint32_t pos = r.u32();
    if (!r.ok()) break;
    if (index >= uint32_t(kSimExchanges)) return -1;
    e->signatures[index] = sig;
    e->positions[index] = pos;
  }
  return r.result();
}

// Reads one request; the bytes used, 0 incomplete, -1 bad (an unknown kind
// cannot be stepped over: requests carry no length).
int parse_request(const uint8_t* in, int32_t n, sim_entry* e) {
  if (n < 1) return 0;
  if (in[0] == kReqHeartbeat || in[0] == kReqAck) {
    e->kind = in[0];
    return 1;
  }
  if (in[0] != 0) return -1;
  if (n < 2) return 0;
  e->kind = in[1];
  field_reader r(in + 2, n - 2);
  switch (e->kind) {
    case 1: {
      // The configuration is one framed block, whose head gives its size;
      // anything that does not read as one is taken to the end of what was
      // sent (older clients), so a request sent behind it is not swallowed.
      e->a = r.byte();
      if (!r.ok()) break;
      const uint8_t* data = in + 2 + r.p;
      const int32_t avail = n - 2 - int32_t(r.p);
      const int size = decblk_inflate(data, avail, nullptr);
      if (size == 0) return 0;
      const int32_t take = size > 0 ? size : avail;
      e->data.assign(data, data + take);
      r.p += take;
      break;
    }
    case 2:
      e->a = r.byte();
      break;
    case 3:
      e->data.assign(kPasswordBlock, 0);
      r.raw(e->data.data(), kPasswordBlock);
      break;
    case 10: case 11: case 12: case 13: case 20: case 21:
    case 50: case 51: case 60: case 61: case 111:
      e->exchange = int32_t(r.byte());
      e->code = r.code();
      break;
    case 30: case 31: case 32: case 62: case 63: case 70:
      e->exchange = int32_t(r.byte());
      e->code = r.code();
      e->date = r.date16();
      break;
    case 34:
      e->exchange = int32_t(r.byte());
      e->date = r.date16();
      break;
    case 64:
      e->exchange = int32_t(r.byte());
      e->code = r.code();
      e->date = r.date16();
      e->date2 = r.date16();
      break;
    case 80:
      e->exchange = int32_t(r.byte());
      e->a = r.vint();
      break;
    case 81:
      e->exchange = int32_t(r.byte());
      e->a = r.u16();
      e->b = r.byte();
      break;
    case 93: {
      const uint32_t count = r.byte();
      if (r.ok() && count > uint32_t(kSimExchanges)) return -1;
      for (uint32_t i = 0; i < count; i++) e->positions[i] = r.u32();
      break;
    }
    case 110:
      e->exchange = int32_t(r.byte());
      e->code = r.code();
      e->a = r.vint();
      break;
    case 130: {
      e->a = r.vint();
      const int32_t start = r.p;
      const uint32_t len = r.vint();
      if (r.ok() && len > kEncryptedMax) return -1;
      if (r.ok() && n - 2 - r.p < int32_t(len)) return 0;
      if (!r.ok()) break;
      r.p += int32_t(len);
      e->data.assign(in + 2 + start, in + 2 + r.p);
      break;
    }
    default:
      return -1;
  }
  return r.st == 1 ? r.p + 2 : r.st;
}

// Requests that name an instrument of an exchange.
bool names_instrument(int32_t kind) {
  switch (kind) {
    case 10: case 11: case 12: case 13: case 20: case 21: case 30: case 31: case 32:
    case 50: case 51: case 60: case 61: case 62: case 63: case 64: case 70: case 110: case 111:
      return true;
    default:
      return false;
  }
}

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

struct sim_server {
  sim_options options;
  std::mutex mu;
  std::condition_variable cv;
  std::map<std::string, user_rec> users;
  exchange_rec exchanges[kSimExchanges];
  sim_misbehaviour how;
  std::vector<sim_entry> transcript;
  sim_stats stats;
  std::list<std::unique_ptr<conn>> conns;
  int32_t next_conn = 0;
  std::map<std::string, sim_http_file> http_files;
  std::vector<std::string> http_requests;

  int listen_fd = -1;
  int stop_pipe[2] = {-1, -1};
  std::thread acceptor;
  std::atomic<bool> stopping{false};
  bool running = false;
  int port = -1;
  // The connection threads count their writes here, without the lock.
  std::atomic<int64_t> bytes_sent{0}, writes{0}, pauses{0};
};

namespace {

void wake(conn* c) {
  const char b = 1;
  if (write(c->wake[1], &b, 1) < 0) {
    // Full pipe: the thread has wake-ups pending already.
  }
}

// Queues bytes for the link (server lock held).
void queue_locked(conn* c, const void* p, size_t n) {
  append(&c->out, p, n);
  wake(c);
}

void record_locked(sim_server* s, sim_entry&& e) {
  s->transcript.push_back(std::move(e));
  s->cv.notify_all();
}

void record(sim_server* s, sim_entry&& e) {
  std::lock_guard<std::mutex> lk(s->mu);
  record_locked(s, std::move(e));
}

// Queues the stream bytes of exchange `index` from `from` to its end, with
// the selection of the exchange when the client may have another current.
void push_stream_locked(sim_server* s, conn* c, uint32_t index, uint32_t from) {
  const exchange_rec& ex = s->exchanges[index];
  if (from < ex.log.size()) {
    if (c->selected != int32_t(index)) {
      msgbuf m;
      sim_msg_select(&m.gb, index);
      append(&c->out, m);
      c->selected = int32_t(index);
    }
    append(&c->out, ex.log.data() + from, ex.log.size() - from);
    wake(c);
  }
  c->sent[index] = uint32_t(ex.log.size());
}

bool sleep_interruptible(sim_server* s, const conn* c, int32_t ms) {
  const int64_t until = now_ms() + ms;
  for (;;) {
    if (s->stopping || c->abort) return false;
    const int64_t left = until - now_ms();
    if (left <= 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(left, kPollSliceMs)));
  }
}

// Sends all n bytes, waiting while the peer's window is full; false when the
// link failed, the peer read nothing for kSendTimeoutMs, or the server stops.
bool send_raw(sim_server* s, conn* c, const uint8_t* p, size_t n) {
  int64_t blocked_since = 0;
  while (n > 0) {
    if (s->stopping || c->abort) return false;
    const ssize_t r = send(c->fd, p, n, MSG_NOSIGNAL);
    if (r > 0) {
      s->bytes_sent += r;
      s->writes++;
      p += r;
      n -= size_t(r);
      blocked_since = 0;
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (blocked_since == 0) blocked_since = now_ms();
      if (now_ms() - blocked_since > kSendTimeoutMs) {
        log(LOG_WARN, kSrc, "link %d: peer reads nothing, dropping it", c->id);
        return false;
      }
      pollfd pf{c->fd, POLLOUT, 0};
      poll(&pf, 1, kPollSliceMs);
      continue;
    }
    log(LOG_OSERR, kSrc, "link %d: send failed", c->id);
    return false;
  }
  return true;
}

// Sends as the connection's misbehaviour says; false when the link is to be
// closed.
bool conn_write(sim_server* s, conn* c, const uint8_t* p, size_t n) {
  switch (c->how.mode) {
    case SIM_SILENT:
      return true;
    case SIM_CLOSE_AFTER: {
      const int64_t room = std::max<int64_t>(0, int64_t(c->how.bytes) - c->sent_bytes);
      const size_t m = size_t(std::min<int64_t>(room, int64_t(n)));
      if (m > 0 && !send_raw(s, c, p, m)) return false;
      c->sent_bytes += int64_t(m);
      if (c->sent_bytes >= c->how.bytes) {
        log(LOG_INFO, kSrc, "link %d: closing after %lld bytes", c->id, static_cast<long long>(c->sent_bytes));
        return false;
      }
      return true;
    }
    case SIM_DRIP:
      for (size_t i = 0; i < n; i++) {
        if (!send_raw(s, c, p + i, 1)) return false;
        c->sent_bytes++;
        if (!sleep_interruptible(s, c, c->how.delay_ms)) return false;
        s->pauses++;
      }
      return true;
    default:
      if (!send_raw(s, c, p, n)) return false;
      c->sent_bytes += int64_t(n);
      return true;
  }
}

void bad_input(sim_server* s, conn* c, const uint8_t* p, size_t n, const char* what) {
  log(LOG_WARN, kSrc, "link %d: %s, closing", c->id, what);
  sim_entry e;
  e.conn = c->id;
  e.kind = kSimBadInput;
  e.data.assign(p, p + std::min<size_t>(n, kBadInputKept));
  record(s, std::move(e));
}

// Refuses the login with error 255 and closes once it is sent.
void refuse_locked(sim_server* s, conn* c, uint32_t code, uint32_t sub) {
  log(LOG_INFO, kSrc, "link %d: refusing login with error %u/%u", c->id, code, sub);
  msgbuf m;
  sim_msg_error(&m.gb, code, sub, 0, "", 0);
  queue_locked(c, m.data(), m.size());
  c->close_req = true;
  s->stats.refusals++;
}

// The 308-byte reply to the greeting: name, challenge, session value, and
// 32 unused bytes.
void send_reply(sim_server* s, conn* c) {
  uint8_t reply[kSimReplyBytes] = {};
  memcpy(reply, s->options.name.data(), std::min<size_t>(s->options.name.size(), kSimNameBytes));
  for (int i = 0; i < kSimChallengeBytes; i += 8) {
    const uint64_t v = c->r.next();
    for (int k = 0; k < 8; k++) c->challenge[i + k] = uint8_t(v >> (8 * k));
  }
  memcpy(reply + kSimNameBytes, c->challenge, kSimChallengeBytes);
  c->session = uint32_t(c->r.next());
  for (int i = 0; i < 4; i++) reply[kSimSessionOffset + i] = uint8_t(c->session >> (24 - 8 * i));
  std::lock_guard<std::mutex> lk(s->mu);
  c->session_locked = c->session;
  queue_locked(c, reply, sizeof reply);
}

int64_t exchange_clock_ms(const sim_server* s) { return s->options.clock_ms ? s->options.clock_ms() : now_ms(); }

// The exchange's time now: the time it was given, moved on by the whole
// seconds its clock has run since. A client signing on later must not be
// set behind by the time the server has been up.
ss_time exchange_time(const sim_server* s, const exchange_rec& ex) {
  if (ex.cfg.time == 0) return 0;
  const int64_t seconds = (exchange_clock_ms(s) - ex.set_at_ms) / 1000;
  return sstime_add_seconds(ex.cfg.time, int32_t(std::clamp<int64_t>(seconds, 0, INT32_MAX)));
}

// Checks a complete sign-on and queues the refusal or the accept sequence:
// 41 (and 42 with a stored configuration), 54 and 170 per exchange, 40 with
// the exact size of the catch-up, the catch-up (each exchange's stream from
// where the client stands), 166 per exchange, 49. False when refused.
bool sign_on(sim_server* s, conn* c, const sim_entry& e) {
  std::unique_lock<std::mutex> lk(s->mu);
  if (c->how.mode == SIM_REFUSE) {
    refuse_locked(s, c, c->how.code, c->how.sub);
    return false;
  }
  auto it = s->users.find(e.text);
  if (it == s->users.end()) {
    refuse_locked(s, c, kSimErrUnknownUser, 0);
    return false;
  }
  const user_rec& u = it->second;
  uint8_t want[kResponseBytes];
  expected_response(u.cfg.password, c->challenge, want);
  if (!same_secret(want, e.data.data(), kResponseBytes)) {
    refuse_locked(s, c, kSimErrBadPassword, 0);
    return false;
  }
  if (u.cfg.refuse_code) {
    refuse_locked(s, c, u.cfg.refuse_code, u.cfg.refuse_sub);
    return false;
  }
  uint32_t from[kSimExchanges] = {};
  // A client that holds another stream of an exchange (this server was
  // restarted with other data, or started a new stream since) is told to
  // start the exchange's day again before it reads this stream from its start.
  bool restart[kSimExchanges] = {};
  for (uint32_t i = 0; i < kSimExchanges; i++) {
    const exchange_rec& ex = s->exchanges[i];
    if (!ex.present || !visible(u.cfg, i)) continue;
    if (e.positions[i] == kNoPosition) continue;  // from the start
    if (e.signatures[i] != ex.signature) {
      restart[i] = e.signatures[i] != 0;
      continue;
    }
    if (!ex.resumable(e.positions[i])) {
      log(LOG_WARN, kSrc, "link %d: can't resume %s at %u of %zu", c->id, ex.cfg.name.c_str(), e.positions[i],
          ex.log.size());
      refuse_locked(s, c, kSimErrResubscribe, 0);
      return false;
    }
    from[i] = e.positions[i];
  }
  memcpy(c->key, want, sizeof want);

  msgbuf seq;
  msgbuf catchup;
  sim_msg_user(&seq.gb, u.cfg.kind, u.cfg.id, u.cfg.exchange_bits);
  if (!u.config.empty()) sim_msg_user_config(&seq.gb, u.config.data(), int32_t(u.config.size()));
  c->selected = -1;
  for (uint32_t i = 0; i < kSimExchanges; i++) {
    const exchange_rec& ex = s->exchanges[i];
    if (!ex.present || !visible(u.cfg, i)) continue;
    sim_msg_exchange_date(&seq.gb, i, ex.cfg.date, exchange_time(s, ex), ex.cfg.offset, ex.cfg.brokers);
    sim_msg_exchange_state(&seq.gb, ex.cfg.state);
    c->selected = int32_t(i);
    c->streams[i] = true;
  }
  for (uint32_t i = 0; i < kSimExchanges; i++) {
    const exchange_rec& ex = s->exchanges[i];
    const bool snapshot = c->streams[i] && from[i] == 0 && !ex.snapshot.empty();
    if (!restart[i] && !snapshot && (!c->streams[i] || from[i] >= ex.log.size())) continue;
    if (c->selected != int32_t(i)) sim_msg_select(&catchup.gb, i);
    c->selected = int32_t(i);
    if (restart[i]) sim_msg_reset(&catchup.gb, ex.cfg.date, exchange_time(s, ex), ex.cfg.offset);
    if (snapshot) {
      growbuf_append(&catchup.gb, ex.snapshot.data(), uint32_t(ex.snapshot.size()));
      s->stats.snapshots++;
    }
    growbuf_append(&catchup.gb, ex.log.data() + from[i], uint32_t(ex.log.size() - from[i]));
  }
  sim_msg_expecting(&seq.gb, uint32_t(catchup.size()));
  growbuf_append(&seq.gb, catchup.data(), uint32_t(catchup.size()));
  for (uint32_t i = 0; i < kSimExchanges; i++) {
    if (!c->streams[i]) continue;
    const exchange_rec& ex = s->exchanges[i];
    sim_msg_position(&seq.gb, i, ex.signature, uint32_t(ex.log.size()));
    c->sent[i] = uint32_t(ex.log.size());
  }
  c->selected = -1;  // 166 names an exchange; do not rely on which one is current after it
  sim_msg_proceeding(&seq.gb, 0, c->session);

  if (s->options.single_session) {
    for (auto& other : s->conns) {
      if (other.get() == c || !other->online || other->user != u.cfg.name || other->close_req) continue;
      msgbuf m;
      sim_msg_error(&m.gb, kSimErrLinkLost, 1, 0, "", 0);
      queue_locked(other.get(), m.data(), m.size());
      other->close_req = true;
    }
  }
  queue_locked(c, seq.data(), seq.size());
  if (c->how.mode == SIM_GARBAGE) {
    uint8_t junk[kGarbageBytes];
    junk[0] = 0;
    junk[1] = kGarbageType;
    for (int i = 2; i < kGarbageBytes; i++) junk[i] = uint8_t(c->r.next());
    queue_locked(c, junk, sizeof junk);
  }
  if (c->how.mode == SIM_NO_READ) c->reading = false;
  c->user = u.cfg.name;
  c->online = true;
  s->stats.logins++;
  s->stats.online++;
  log(LOG_INFO, kSrc, "link %d: %s signed on, %zu bytes of catch-up", c->id, c->user.c_str(), catchup.size());
  s->cv.notify_all();
  return true;
}

// Decrypts a password-change block with the link's sign-on key: byte 0 the
// length, the characters at the odd bytes. Empty when it is not valid.
std::string decrypt_password(const conn* c, const std::vector<uint8_t>& block) {
  aes_schedule ks;
  const int rounds = aes_set_decrypt_key(&ks, c->key, 256);
  if (rounds < 0) return std::string();
  uint8_t plain[kPasswordBlock];
  for (int i = 0; i < kPasswordBlock; i += 16) aes_decrypt_block(&ks, rounds, block.data() + i, plain + i);
  const int32_t len = plain[0];
  std::string pw;
  if (len < 1 || len > kPasswordMax) return pw;
  for (int32_t i = 0; i < len; i++) {
    const char ch = char(plain[1 + 2 * i]);
    if (ch == 0) return std::string();
    pw.push_back(ch);
  }
  return pw;
}

// Acts on one request of a signed-on link (its entry is recorded after).
void handle_request(sim_server* s, conn* c, sim_entry* e) {
  std::lock_guard<std::mutex> lk(s->mu);
  msgbuf m;
  switch (e->kind) {
    case kReqHeartbeat:
      sim_msg_noop(&m.gb);
      break;
    case kReqAck:
      sim_msg_ack(&m.gb);
      break;
    case 1: {
      auto it = s->users.find(c->user);
      if (it == s->users.end()) break;
      if (e->data.size() > kConfigMax) {
        log(LOG_WARN, kSrc, "link %d: %zub configuration not kept", c->id, e->data.size());
        break;
      }
      it->second.config = e->data;
      break;
    }
    case 2:
      sim_msg_signed_off(&m.gb);
      c->close_req = true;
      break;
    case 130:
      // A terminal reports its version once its screens are up: the log
      // line is what a script waits for to know the user is online.
      log(LOG_INFO, kSrc, "link %d: %s reported its version", c->id, c->user.c_str());
      break;
    case 3: {
      e->text = decrypt_password(c, e->data);
      auto it = s->users.find(c->user);
      const bool ok = !e->text.empty() && it != s->users.end();
      if (ok) it->second.cfg.password = e->text;
      sim_msg_password_reply(&m.gb, ok ? 0 : 1);
      break;
    }
    case 30: case 31: case 32: case 34: {
      // History and news: generated from the seed for a known instrument.
      auto it = s->users.find(c->user);
      const bool seen = e->exchange >= 0 && e->exchange < kSimExchanges && s->exchanges[e->exchange].present &&
                        it != s->users.end() && visible(it->second.cfg, uint32_t(e->exchange));
      if (seen && (e->kind == 34 || s->exchanges[e->exchange].instruments.count(e->code)))
        sim_answer_history(&m.gb, *e, s->options.seed, s->exchanges[e->exchange].cfg.date,
                           s->exchanges[e->exchange].instruments, previous_close(s->exchanges[e->exchange], e->code));
      else
        sim_msg_error(&m.gb, kSimErrRequest, uint32_t(e->kind), uint8_t(e->exchange), e->code.c_str(), e->date);
      break;
    }
    case 80: {
      // The exchange's notices after the client's position (the number of
      // the last it holds plus one), when there are any.
      auto it = s->users.find(c->user);
      if (e->exchange < 0 || e->exchange >= kSimExchanges || !s->exchanges[e->exchange].present ||
          it == s->users.end() || !visible(it->second.cfg, uint32_t(e->exchange)))
        break;
      const std::vector<sim_notice>& all = s->exchanges[e->exchange].notices;
      const size_t first = e->a > 0 ? e->a - 1 : 0;  // notice numbers start at 1
      if (first >= all.size()) break;
      const std::vector<sim_notice> after(all.begin() + long(first), all.end());
      sim_msg_notice_list(&m.gb, uint32_t(e->exchange), uint32_t(all.size()), after);
      break;
    }
    case 81: {
      // A volume-comparison set of the exchange's instruments, for the
      // quarter asked for.
      auto it = s->users.find(c->user);
      if (e->exchange < 0 || e->exchange >= kSimExchanges || !s->exchanges[e->exchange].present ||
          it == s->users.end() || !visible(it->second.cfg, uint32_t(e->exchange)))
        break;
      const exchange_rec& ex = s->exchanges[e->exchange];
      std::vector<uint8_t> payload;
      if (sim_vcmp_payload(std::vector<std::string>(ex.instruments.begin(), ex.instruments.end()), e->b != 0,
                           &payload) == 0)
        sim_msg_vcmp(&m.gb, uint32_t(e->exchange), ex.cfg.date, e->a, e->b != 0, payload.data(),
                     int32_t(payload.size()));
      break;
    }
    case 63: case 64: case 70: {
      // Past days: a stock's trades or an index's ticks of earlier dates.
      auto it = s->users.find(c->user);
      const bool known = e->exchange >= 0 && e->exchange < kSimExchanges && s->exchanges[e->exchange].present &&
                         it != s->users.end() && visible(it->second.cfg, uint32_t(e->exchange)) &&
                         s->exchanges[e->exchange].instruments.count(e->code);
      if (!known || sim_answer_days(&m.gb, *e, s->options.seed, s->exchanges[e->exchange].cfg.date,
                                    previous_close(s->exchanges[e->exchange], e->code)) < 0)
        sim_msg_error(&m.gb, kSimErrRequest, uint32_t(e->kind), uint8_t(e->exchange), e->code.c_str(), e->date);
      break;
    }
    case 93:
      // Unstall: send each stream again from where the client says it stands.
      for (uint32_t i = 0; i < kSimExchanges; i++) {
        if (c->streams[i] && s->exchanges[i].resumable(e->positions[i]))
          push_stream_locked(s, c, i, e->positions[i]);
      }
      break;
    default:
      if (names_instrument(e->kind)) {
        auto it = s->users.find(c->user);
        const bool known = e->exchange >= 0 && e->exchange < kSimExchanges && s->exchanges[e->exchange].present &&
                           it != s->users.end() && visible(it->second.cfg, uint32_t(e->exchange)) &&
                           s->exchanges[e->exchange].instruments.count(e->code);
        if (!known) {
          sim_msg_error(&m.gb, kSimErrRequest, uint32_t(e->kind), uint8_t(e->exchange), e->code.c_str(), e->date);
        } else {
          const exchange_rec& ex = s->exchanges[e->exchange];
          auto book = ex.books.find(e->code);
          auto past = ex.past_days.find({e->code, e->date & ~kSstimeSecondsMask});
          if (e->kind == 62 && past != ex.past_days.end())
            sim_msg_backfill_day(&m.gb, uint32_t(e->exchange), e->code.c_str(), past->first.second, kSimProtocolVersion,
                                 past->second.data(), int32_t(past->second.size()));
          else
            sim_answer_lists(&m.gb, *e, book == ex.books.end() ? nullptr : &book->second, ex.cfg.date, ex.brokers);
        }
      }
      break;
  }
  if (m.size() > 0) queue_locked(c, m.data(), m.size());
}

// Sends a file to a GET: its head, then its body, dripped when it says so.
void serve_file(sim_server* s, conn* c, const sim_http_file& f) {
  const std::string head = sim_http_file_head(f), body = sim_http_file_body(f);
  if (!send_raw(s, c, reinterpret_cast<const uint8_t*>(head.data()), head.size())) return;
  const size_t step = f.drip_bytes > 0 ? size_t(f.drip_bytes) : std::max<size_t>(body.size(), 1);
  for (size_t at = 0; at < body.size(); at += step) {
    if (at > 0 && f.drip_ms > 0) {
      if (!sleep_interruptible(s, c, f.drip_ms)) return;
      s->pauses++;
    }
    if (!send_raw(s, c, reinterpret_cast<const uint8_t*>(body.data()) + at, std::min(step, body.size() - at)))
      return;
  }
}

// A stock's company profile, for a path the terminal asks for
// ("/pdf/osprey/advancedprofile/today/CODE_advancedprofile.pdf", "-NZ"
// after the code for exchange 1): a one-page document made from what the
// exchange's stream says of the stock, for any stock the exchange lists.
// Files added by a test take precedence. Called with the server's lock held.
bool company_profile(sim_server* s, const std::string& path, sim_http_file* out) {
  static const char kPrefix[] = "/pdf/osprey/advancedprofile/today/";
  static const char kSuffix[] = "_advancedprofile.pdf";
  const size_t pre = sizeof kPrefix - 1, suf = sizeof kSuffix - 1;
  if (path.size() <= pre + suf || path.compare(0, pre, kPrefix) != 0 ||
      path.compare(path.size() - suf, suf, kSuffix) != 0)
    return false;
  std::string code = path.substr(pre, path.size() - pre - suf);
  uint32_t index = 0;
  if (code.size() > 3 && code.compare(code.size() - 3, 3, "-NZ") == 0) {
    code.resize(code.size() - 3);
    index = 1;
  }
  const exchange_rec& ex = s->exchanges[index];
  if (!ex.present || !ex.instruments.count(code)) return false;
  std::string name = code;
  for (const sim_notice& n : ex.notices)
    if (n.code == code && !n.text.empty()) name = n.text;
  std::vector<std::string> lines = {name, "Listed on " + std::string(ex.cfg.name) + " as " + code};
  auto dollars = [](uint32_t v) {  // hundredths of a cent
    char b[32];
    snprintf(b, sizeof b, "$%u.%04u", v / 10000, v % 10000);
    return std::string(b);
  };
  auto book = ex.books.find(code);
  if (book != ex.books.end()) {
    const sim_stock_ref& b = book->second;
    if (b.close) lines.push_back("Previous close " + dollars(b.close));
    if (b.open) lines.push_back("Open " + dollars(b.open) + ", high " + dollars(b.high) + ", low " + dollars(b.low));
    if (b.last) lines.push_back("Last " + dollars(b.last) + " on " + std::to_string(b.trades) + " trades, volume " +
                                std::to_string(b.volume));
  }
  // The last ten trading days, as the history replies give them.
  const std::vector<ss_stock_point> days =
      sim_stock_history(s->options.seed, index, code, ex.cfg.date, 0, previous_close(ex, code));
  if (!days.empty()) lines.push_back("Recent trading:");
  for (size_t i = days.size() > 10 ? days.size() - 10 : 0; i < days.size(); i++) {
    const ss_stock_point& d = days[i];
    sstime_parts t = {};
    sstime_unpack(&t, d.date);
    char date[16];
    snprintf(date, sizeof date, "%04d-%02d-%02d", t.year, t.mon, t.mday);
    lines.push_back(std::string(date) + "  open " + dollars(d.open) + "  high " + dollars(d.high) + "  low " +
                    dollars(d.low) + "  close " + dollars(d.close) + "  volume " + std::to_string(d.volume));
  }
  lines.push_back("Profile generated by the market simulator.");
  out->path = path;
  out->body = sim_pdf_document(name + " company profile", lines);
  return true;
}

// An HTTP request at the start of a connection: the link's POST (which makes
// this connection the link, its reply the stream), a request set's POST, or a
// GET of a file. 1 when the link goes on with its greeting, 0 when the
// connection is to close once its reply is out, -1 while incomplete.
int http_input(sim_server* s, conn* c) {
  sim_http_request req;
  const int64_t used = sim_http_parse_request(c->in.data(), c->in.size(), &req);
  if (used == 0) return -1;
  if (used < 0) {
    bad_input(s, c, c->in.data(), c->in.size(), "bad http request");
    return 0;
  }
  c->in.erase(c->in.begin(), c->in.begin() + used);
  const std::string link_path = "/AMBIT/" + std::to_string(kSimProtocolVersion);
  std::unique_lock<std::mutex> lk(s->mu);
  s->http_requests.push_back(req.headers);
  s->cv.notify_all();
  if (req.method == "POST" && req.path == link_path) {
    sim_http_body b;
    if (!sim_http_decode_body(req.body, &b)) {
      const std::string r = sim_http_error(400);
      queue_locked(c, r.data(), r.size());
      return 0;
    }
    if (!b.request_set) {
      const std::string head = sim_http_link_head();
      queue_locked(c, head.data(), head.size());
      c->http_link = true;
      c->http_next_seq = b.sequence + 1;
      c->in.insert(c->in.begin(), b.data.begin(), b.data.end());
      return 1;
    }
    conn* link = nullptr;
    for (auto& other : s->conns)
      if (other->http_link && !other->done && other->session_locked == b.session) link = other.get();
    if (!link) {
      const std::string r = sim_http_error(404);
      queue_locked(c, r.data(), r.size());
      return 0;
    }
    if (b.sequence - link->http_next_seq < 0x80000000u) {  // not one already taken
      link->http_sets[b.sequence] = std::move(b.data);
      wake(link);
    }
    const std::string bye = sim_http_bye();
    queue_locked(c, bye.data(), bye.size());
    return 0;
  }
  auto it = s->http_files.find(req.path);
  sim_http_file f;
  if (req.method == "GET" && it != s->http_files.end()) {
    f = it->second;
  } else if (req.method != "GET" || !company_profile(s, req.path, &f)) {
    const std::string r = sim_http_error(req.method == "GET" ? 404 : 400);
    queue_locked(c, r.data(), r.size());
    return 0;
  }
  lk.unlock();
  serve_file(s, c, f);
  return 0;
}

// Works through the input of the link; false when the link is to close.
bool process_input(sim_server* s, conn* c) {
  for (;;) {
    const uint8_t* p = c->in.data();
    const int32_t n = int32_t(c->in.size());
    if (n == 0) return true;
    if (c->phase == kPhaseGreeting && sim_http_looks_like_request(p, size_t(n))) {
      const int r = http_input(s, c);
      if (r < 0) return true;
      if (r == 0) return false;
      continue;
    }
    if (c->phase == kPhaseGreeting) {
      const uint8_t* nl = static_cast<const uint8_t*>(memchr(p, '\n', size_t(std::min(n, kGreetingMax))));
      if (!nl) {
        if (n >= kGreetingMax) {
          bad_input(s, c, p, size_t(n), "no greeting");
          return false;
        }
        return true;
      }
      std::string line(reinterpret_cast<const char*>(p), size_t(nl - p));
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t prefix = sizeof kGreetingPrefix - 1;
      if (line.compare(0, prefix, kGreetingPrefix) != 0) {
        bad_input(s, c, p, size_t(n), "bad greeting");
        return false;
      }
      sim_entry e;
      e.conn = c->id;
      e.kind = kSimGreeting;
      e.a = uint32_t(strtoul(line.c_str() + prefix, nullptr, 10));
      c->in.erase(c->in.begin(), c->in.begin() + (nl - p) + 1);
      {
        std::lock_guard<std::mutex> lk(s->mu);
        s->stats.greetings++;
        record_locked(s, std::move(e));
      }
      send_reply(s, c);
      c->phase = kPhaseSignOn;
      continue;
    }
    sim_entry e;
    e.conn = c->id;
    if (c->phase == kPhaseSignOn) {
      const int used = parse_signon(p, n, &e);
      if (used == 0 && n < kSignOnMax) return true;
      if (used <= 0) {
        bad_input(s, c, p, size_t(n), "bad sign-on");
        return false;
      }
      c->in.erase(c->in.begin(), c->in.begin() + used);
      {
        std::lock_guard<std::mutex> lk(s->mu);
        s->stats.sign_ons++;
      }
      const bool accepted = sign_on(s, c, e);
      record(s, std::move(e));
      if (!accepted) {
        c->in.clear();  // the link closes once the refusal is out
        c->reading = false;
        return true;
      }
      c->phase = kPhaseOnline;
      if (!c->reading) return true;
      continue;
    }
    const int used = parse_request(p, n, &e);
    if (used == 0) return true;
    if (used < 0) {
      bad_input(s, c, p, size_t(n), "bad request");
      return false;
    }
    c->in.erase(c->in.begin(), c->in.begin() + used);
    handle_request(s, c, &e);
    record(s, std::move(e));
    if (!c->reading) return true;
  }
}

// Half-closes, then reads until the peer closes too (or a short while), so
// the last bytes sent are not lost to a reset.
void close_gracefully(sim_server* s, conn* c) {
  shutdown(c->fd, SHUT_WR);
  const int64_t until = now_ms() + kCloseDrainMs;
  uint8_t buf[4096];
  while (!s->stopping && now_ms() < until) {
    pollfd pf{c->fd, POLLIN, 0};
    if (poll(&pf, 1, int(std::max<int64_t>(1, until - now_ms()))) <= 0) break;
    const ssize_t r = recv(c->fd, buf, sizeof buf, 0);
    if (r <= 0) break;
  }
}

// Works through the input; when the link is to close, sends what was queued
// first (a refusal, a reply) and returns false.
bool take_input(sim_server* s, conn* c) {
  if (process_input(s, c)) return true;
  std::vector<uint8_t> last;
  {
    std::lock_guard<std::mutex> lk(s->mu);
    last.swap(c->out);
  }
  if (!last.empty()) conn_write(s, c, last.data(), last.size());
  return false;
}

void conn_main(sim_server* s, conn* c) {
  bool graceful = true;
  for (;;) {
    if (s->stopping) break;
    std::vector<uint8_t> out;
    bool close_req;
    std::vector<uint8_t> sets;  // request sets of HTTP mode, in order
    {
      std::lock_guard<std::mutex> lk(s->mu);
      out.swap(c->out);
      close_req = c->close_req;
      for (auto it = c->http_sets.find(c->http_next_seq); it != c->http_sets.end();
           it = c->http_sets.find(++c->http_next_seq)) {
        append(&sets, it->second.data(), it->second.size());
        c->http_sets.erase(it);
      }
    }
    if (c->abort) {
      graceful = false;
      break;
    }
    if (!out.empty() && !conn_write(s, c, out.data(), out.size())) break;
    if (close_req) break;
    if (!sets.empty()) {
      append(&c->in, sets.data(), sets.size());
      if (!take_input(s, c)) break;
    }
    pollfd fds[2] = {{c->reading ? c->fd : -1, POLLIN, 0}, {c->wake[0], POLLIN, 0}};
    const int r = poll(fds, 2, kPollSliceMs);
    if (r < 0 && errno != EINTR) {
      log(LOG_OSERR, kSrc, "link %d: poll failed", c->id);
      break;
    }
    if (fds[1].revents & POLLIN) {
      char drain[64];
      while (read(c->wake[0], drain, sizeof drain) > 0) {
      }
    }
    if (c->reading && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      uint8_t buf[kRecvChunk];
      const ssize_t got = recv(c->fd, buf, sizeof buf, 0);
      if (got == 0) {
        log(LOG_INFO, kSrc, "link %d: closed by peer", c->id);
        graceful = false;
        break;
      }
      if (got < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        log(LOG_OSERR, kSrc, "link %d: recv failed", c->id);
        graceful = false;
        break;
      }
      append(&c->in, buf, size_t(got));
      if (c->in.size() > kInputMax) {
        bad_input(s, c, c->in.data(), c->in.size(), "too much unread input");
        break;
      }
      if (!take_input(s, c)) break;
    }
  }
  if (graceful && !c->abort) close_gracefully(s, c);
  close(c->fd);
  std::lock_guard<std::mutex> lk(s->mu);
  if (c->online) s->stats.online--;
  c->online = false;
  c->done = true;
  s->stats.closed++;
  s->cv.notify_all();
}

void join_done(sim_server* s, bool all) {
  std::list<std::unique_ptr<conn>> finished;
  {
    std::lock_guard<std::mutex> lk(s->mu);
    for (auto it = s->conns.begin(); it != s->conns.end();) {
      if (all || (*it)->done) {
        finished.push_back(std::move(*it));
        it = s->conns.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) {
    if (c->thread.joinable()) c->thread.join();
    close(c->wake[0]);
    close(c->wake[1]);
  }
}

void accept_main(sim_server* s) {
  for (;;) {
    pollfd fds[2] = {{s->listen_fd, POLLIN, 0}, {s->stop_pipe[0], POLLIN, 0}};
    const int r = poll(fds, 2, kPollSliceMs * 10);
    if (s->stopping) break;
    join_done(s, false);
    if (r <= 0 || !(fds[0].revents & POLLIN)) continue;
    const int fd = accept4(s->listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) log(LOG_OSERR, kSrc, "accept failed");
      continue;
    }
    auto c = std::make_unique<conn>();
    c->fd = fd;
    if (pipe2(c->wake, O_NONBLOCK | O_CLOEXEC) < 0) {
      log(LOG_OSERR, kSrc, "can't make wake pipe");
      close(fd);
      continue;
    }
    conn* raw = c.get();
    {
      std::lock_guard<std::mutex> lk(s->mu);
      raw->id = ++s->next_conn;
      raw->how = s->how;
      raw->r.s = s->options.seed ^ (uint64_t(raw->id) * 0xd1b54a32d192ed03ull);
      s->stats.connections++;
      s->conns.push_back(std::move(c));
      s->cv.notify_all();
    }
    log(LOG_INFO, kSrc, "link %d: accepted", raw->id);
    raw->thread = std::thread(conn_main, s, raw);
  }
}

// Sessions a call reaches: online ones of the user, or all online with null.
template <typename F>
int for_sessions_locked(sim_server* s, const char* user, F fn) {
  int n = 0;
  for (auto& c : s->conns) {
    if (!c->online || c->close_req || (user && c->user != user)) continue;
    fn(c.get());
    n++;
  }
  return n;
}

bool valid_index(uint32_t index, const char* what) {
  if (index < uint32_t(kSimExchanges)) return true;
  log(LOG_ERROR, kSrc, "%s: no exchange %u", what, index);
  return false;
}

}  // namespace

int sim_http_add_file(sim_server* s, const sim_http_file& file) {
  if (file.path.empty() || file.path[0] != '/') {
    log(LOG_ERROR, kSrc, "http file path must start with '/': %s", file.path.c_str());
    return -1;
  }
  std::lock_guard<std::mutex> lk(s->mu);
  s->http_files[file.path] = file;
  return 0;
}

std::vector<std::string> sim_http_requests(sim_server* s) {
  std::lock_guard<std::mutex> lk(s->mu);
  return s->http_requests;
}

sim_server* sim_create(const sim_options& options) {
  sim_server* s = new sim_server;
  s->options = options;
  if (s->options.name.size() > size_t(kSimNameBytes)) s->options.name.resize(kSimNameBytes);
  for (uint32_t i = 0; i < kSimExchanges; i++) s->exchanges[i].r.s = options.seed * 0x2545f4914f6cdd1dull + i + 1;
  return s;
}

void sim_destroy(sim_server* s) {
  if (!s) return;
  sim_stop(s);
  delete s;
}

int sim_start(sim_server* s, uint16_t port) {
  if (s->running) {
    log(LOG_ERROR, kSrc, "already listening on %d", s->port);
    return -1;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    log(LOG_OSERR, kSrc, "socket");
    return -1;
  }
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 || listen(fd, 64) < 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) < 0) {
    log(LOG_OSERR, kSrc, "can't listen on 127.0.0.1:%u", port);
    close(fd);
    return -1;
  }
  if (pipe2(s->stop_pipe, O_NONBLOCK | O_CLOEXEC) < 0) {
    log(LOG_OSERR, kSrc, "can't make stop pipe");
    close(fd);
    return -1;
  }
  s->listen_fd = fd;
  s->port = ntohs(addr.sin_port);
  s->stopping = false;
  s->running = true;
  s->acceptor = std::thread(accept_main, s);
  log(LOG_INFO, kSrc, "listening on 127.0.0.1:%d", s->port);
  return s->port;
}

void sim_stop(sim_server* s) {
  if (!s->running) return;
  s->stopping = true;
  const char b = 1;
  if (write(s->stop_pipe[1], &b, 1) < 0) {
    // The acceptor also wakes by its own time-out.
  }
  s->acceptor.join();
  close(s->listen_fd);
  s->listen_fd = -1;
  {
    std::lock_guard<std::mutex> lk(s->mu);
    for (auto& c : s->conns) wake(c.get());
  }
  join_done(s, true);
  close(s->stop_pipe[0]);
  close(s->stop_pipe[1]);
  s->stop_pipe[0] = s->stop_pipe[1] = -1;
  s->running = false;
  s->stopping = false;
  log(LOG_INFO, kSrc, "stopped");
}

int sim_port(sim_server* s) { return s->running ? s->port : -1; }

int sim_add_user(sim_server* s, const sim_user& user) {
  if (user.name.empty() || user.name.size() > 255) {
    log(LOG_ERROR, kSrc, "bad user name \"%s\"", user.name.c_str());
    return -1;
  }
  std::lock_guard<std::mutex> lk(s->mu);
  s->users[user.name].cfg = user;
  return 0;
}

int sim_set_user_config(sim_server* s, const std::string& name, const std::vector<uint8_t>& config) {
  std::lock_guard<std::mutex> lk(s->mu);
  auto it = s->users.find(name);
  if (it == s->users.end()) {
    log(LOG_ERROR, kSrc, "no user \"%s\"", name.c_str());
    return -1;
  }
  it->second.config = config;
  return 0;
}

int sim_add_exchange(sim_server* s, const sim_exchange& exchange) {
  if (!valid_index(exchange.index, "add exchange")) return -1;
  std::lock_guard<std::mutex> lk(s->mu);
  exchange_rec& ex = s->exchanges[exchange.index];
  ex.cfg = exchange;
  ex.set_at_ms = exchange_clock_ms(s);
  if (!ex.present) ex.signature = ex.r.nonzero32();
  ex.present = true;
  return 0;
}

int sim_set_snapshot(sim_server* s, uint32_t index, const std::vector<uint8_t>& bytes) {
  if (!valid_index(index, "set snapshot")) return -1;
  std::lock_guard<std::mutex> lk(s->mu);
  if (!s->exchanges[index].present) {
    log(LOG_ERROR, kSrc, "set snapshot: no exchange %u", index);
    return -1;
  }
  s->exchanges[index].snapshot = bytes;
  return 0;
}

int sim_set_past_day(sim_server* s, uint32_t index, const char* code, ss_time date,
                     const std::vector<uint8_t>& stream) {
  if (!valid_index(index, "set past day")) return -1;
  std::lock_guard<std::mutex> lk(s->mu);
  if (!s->exchanges[index].present) {
    log(LOG_ERROR, kSrc, "set past day: no exchange %u", index);
    return -1;
  }
  s->exchanges[index].past_days[{code, date & ~kSstimeSecondsMask}] = stream;
  return 0;
}

int sim_set_stock_name(sim_server* s, uint32_t index, const char* code, const std::string& name) {
  constexpr uint32_t kNoticeStockName = 1;
  if (!valid_index(index, "set stock name")) return -1;
  if (!code || !code[0] || strlen(code) > size_t(kCodecCodeChars) || int32_t(name.size()) > kSimNoticeTextMax) {
    log(LOG_ERROR, kSrc, "bad stock name");
    return -1;
  }
  std::lock_guard<std::mutex> lk(s->mu);
  if (!s->exchanges[index].present) {
    log(LOG_ERROR, kSrc, "set stock name: no exchange %u", index);
    return -1;
  }
  sim_notice n;
  n.a = kNoticeStockName;
  n.b = index;
  n.code = code;
  n.text = name;
  s->exchanges[index].notices.push_back(n);
  return 0;
}

int sim_add_instrument(sim_server* s, uint32_t index, const char* code) {
  if (!valid_index(index, "add instrument")) return -1;
  if (!code || !code[0] || strlen(code) > size_t(kCodecCodeChars)) {
    log(LOG_ERROR, kSrc, "bad instrument code");
    return -1;
  }
  std::lock_guard<std::mutex> lk(s->mu);
  if (!s->exchanges[index].present) {
    log(LOG_ERROR, kSrc, "add instrument: no exchange %u", index);
    return -1;
  }
  s->exchanges[index].instruments.insert(code);
  return 0;
}

void sim_set_misbehaviour(sim_server* s, const sim_misbehaviour& how) {
  std::lock_guard<std::mutex> lk(s->mu);
  s->how = how;
}

int sim_parse_misbehaviour(const char* text, sim_misbehaviour* out) {
  sim_misbehaviour m;
  const std::string t = text ? text : "";
  const size_t colon = t.find(':');
  const std::string name = t.substr(0, colon);
  const char* arg = colon == std::string::npos ? nullptr : t.c_str() + colon + 1;
  if (name == "normal") {
    m.mode = SIM_NORMAL;
  } else if (name == "silent") {
    m.mode = SIM_SILENT;
  } else if (name == "close") {
    m.mode = SIM_CLOSE_AFTER;
    if (arg) m.bytes = int32_t(strtol(arg, nullptr, 10));
  } else if (name == "garbage") {
    m.mode = SIM_GARBAGE;
  } else if (name == "no-read") {
    m.mode = SIM_NO_READ;
  } else if (name == "drip") {
    m.mode = SIM_DRIP;
    if (arg) m.delay_ms = int32_t(strtol(arg, nullptr, 10));
  } else if (name == "refuse") {
    m.mode = SIM_REFUSE;
    if (arg) {
      char* end = nullptr;
      m.code = uint32_t(strtoul(arg, &end, 10));
      if (end && *end == ':') m.sub = uint32_t(strtoul(end + 1, nullptr, 10));
    }
  } else {
    return -1;
  }
  if (m.bytes < 0 || m.delay_ms < 0) return -1;
  *out = m;
  return 0;
}

namespace {

int append_locked(sim_server* s, uint32_t index, const void* bytes, int32_t n);

// sim_append and the books after those bytes, under one lock.
int append_with_books(sim_server* s, uint32_t index, const void* bytes, int32_t n,
                      const std::map<std::string, sim_stock_ref>& books, bool brokers) {
  if (!valid_index(index, "append") || n < 0) return -1;
  std::lock_guard<std::mutex> lk(s->mu);
  const int r = append_locked(s, index, bytes, n);
  if (r == 0) {
    s->exchanges[index].books = books;
    s->exchanges[index].brokers = brokers;
  }
  return r;
}

}  // namespace

int sim_append(sim_server* s, uint32_t index, const void* bytes, int32_t n) {
  if (!valid_index(index, "append") || n < 0) return -1;
  std::lock_guard<std::mutex> lk(s->mu);
  return append_locked(s, index, bytes, n);
}

namespace {

int append_locked(sim_server* s, uint32_t index, const void* bytes, int32_t n) {
  exchange_rec& ex = s->exchanges[index];
  if (!ex.present) {
    log(LOG_ERROR, kSrc, "append: no exchange %u", index);
    return -1;
  }
  if (n == 0) return 0;
  ex.units.push_back(uint32_t(ex.log.size()));
  append(&ex.log, bytes, size_t(n));
  for (auto& c : s->conns) {
    if (c->online && !c->close_req && c->streams[index]) push_stream_locked(s, c.get(), index, c->sent[index]);
  }
  return 0;
}

}  // namespace

int sim_new_day(sim_server* s, uint32_t index) {
  if (!valid_index(index, "new day")) return -1;
  std::lock_guard<std::mutex> lk(s->mu);
  exchange_rec& ex = s->exchanges[index];
  if (!ex.present) return -1;
  ex.log.clear();
  ex.units.clear();
  ex.signature = ex.r.nonzero32();
  // The new stream opens with 166 (new signature, position 0). The client
  // adds a counted message's length to the position after applying it, so
  // with the exchange selected first its position ends at this unit's end,
  // where the server's stream stands too.
  msgbuf m;
  sim_msg_position(&m.gb, index, ex.signature, 0);
  ex.units.push_back(0);
  append(&ex.log, m);
  for (auto& c : s->conns) {
    if (!c->online || c->close_req || !c->streams[index]) continue;
    c->selected = -1;
    push_stream_locked(s, c.get(), index, 0);
  }
  return 0;
}

uint32_t sim_signature(sim_server* s, uint32_t index) {
  std::lock_guard<std::mutex> lk(s->mu);
  return index < uint32_t(kSimExchanges) ? s->exchanges[index].signature : 0;
}

uint32_t sim_stream_length(sim_server* s, uint32_t index) {
  std::lock_guard<std::mutex> lk(s->mu);
  return index < uint32_t(kSimExchanges) ? uint32_t(s->exchanges[index].log.size()) : 0;
}

std::vector<uint8_t> sim_stream_bytes(sim_server* s, uint32_t index) {
  std::lock_guard<std::mutex> lk(s->mu);
  return index < uint32_t(kSimExchanges) ? s->exchanges[index].log : std::vector<uint8_t>{};
}

int sim_send(sim_server* s, const char* user, const void* bytes, int32_t n, bool close_after) {
  if (n < 0) return -1;
  std::lock_guard<std::mutex> lk(s->mu);
  return for_sessions_locked(s, user, [&](conn* c) {
    queue_locked(c, bytes, size_t(n));
    if (close_after) c->close_req = true;
  });
}

int sim_kick(sim_server* s, const char* user, uint32_t code, uint32_t sub) {
  msgbuf m;
  if (sim_msg_error(&m.gb, code, sub, 0, "", 0) < 0) return -1;
  return sim_send(s, user, m.data(), int32_t(m.size()), true);
}

int sim_request_restart(sim_server* s, const char* user) {
  msgbuf m;
  if (sim_msg_update_begin(&m.gb, "restart") < 0 || sim_msg_update_write(&m.gb) < 0) return -1;
  return sim_send(s, user, m.data(), int32_t(m.size()), false);
}

int sim_disconnect(sim_server* s, const char* user) {
  std::lock_guard<std::mutex> lk(s->mu);
  int n = 0;
  for (auto& c : s->conns) {
    if (c->done || (user && (!c->online || c->user != user))) continue;
    c->abort = true;
    wake(c.get());
    n++;
  }
  return n;
}

std::vector<sim_entry> sim_transcript(sim_server* s) {
  std::lock_guard<std::mutex> lk(s->mu);
  return s->transcript;
}

sim_stats sim_get_stats(sim_server* s) {
  std::lock_guard<std::mutex> lk(s->mu);
  sim_stats st = s->stats;
  st.bytes_sent = s->bytes_sent.load();
  st.writes = s->writes.load();
  st.pauses = s->pauses.load();
  return st;
}

int sim_wait_entry(sim_server* s, int32_t kind, size_t from, int32_t timeout_ms, sim_entry* out) {
  std::unique_lock<std::mutex> lk(s->mu);
  int found = -1;
  s->cv.wait_for(lk, std::chrono::milliseconds(timeout_ms), [&] {
    for (size_t i = from; i < s->transcript.size(); i++) {
      if (s->transcript[i].kind == kind) {
        found = int(i);
        return true;
      }
    }
    return false;
  });
  if (found >= 0 && out) *out = s->transcript[size_t(found)];
  return found;
}

bool sim_wait_logins(sim_server* s, int32_t logins, int32_t timeout_ms) {
  std::unique_lock<std::mutex> lk(s->mu);
  return s->cv.wait_for(lk, std::chrono::milliseconds(timeout_ms), [&] { return s->stats.logins >= logins; });
}

bool sim_wait_closed(sim_server* s, int32_t closed, int32_t timeout_ms) {
  std::unique_lock<std::mutex> lk(s->mu);
  return s->cv.wait_for(lk, std::chrono::milliseconds(timeout_ms), [&] { return s->stats.closed >= closed; });
}

// ===========================================================================
// Scripted market: the reference copy of each stock, the choice of message
// type for each operation, and the random script.

namespace {

constexpr int32_t kMarketPositionByteMax = 255;
constexpr int32_t kMarketPositionMax = 65535;
constexpr uint32_t kMarketMaxPrice = 0xFFFFFFFEu;  // all ones means "no price"
constexpr uint8_t kMarketQuoteBits = 0x1F;
constexpr int kMarketQuotePrices = 5;
constexpr int32_t kMarketBusyBook = 40;  // orders of a stock beyond which the script deletes more
constexpr uint32_t kMarketCodeLetters = 26;
constexpr uint32_t kMarketShortCodes = 26 * 26 * 26;
// Brokers the market picks when none is given: built-in ones (one byte on
// the wire) and codes the client learns (packed).
constexpr const char* kMarketBrokers[] = {"CITW", "UBSA", "MAQA", "XYZ", "BRK1", "QQ3"};
constexpr uint32_t kMarketBases[] = {5000, 15000, 60000, 180000, 450000};  // across the tick bands

bool better(int side, uint32_t a, uint32_t b) { return side ? a < b : a > b; }

// The top moved by k ticks of the top's own size towards the better price
// of the side; 0 when that leaves the price range.
uint32_t ticks_better(uint32_t top, int side, int32_t k) {
  const int64_t moved = int64_t(top) + (side ? -1 : 1) * int64_t(k) * sim_tick(top);
  return moved >= 1 && moved <= int64_t(kMarketMaxPrice) ? uint32_t(moved) : 0;
}

uint32_t fnv(const std::string& s) {
  uint32_t h = 2166136261u;
  for (char c : s) h = (h ^ uint8_t(c)) * 16777619u;
  return h;
}

}  // namespace

uint32_t sim_stock_ref::orders(int side) const {
  uint32_t n = 0;
  for (const sim_level& l : sides[side]) n += uint32_t(l.orders.size());
  return n;
}

struct sim_market {
  sim_market_options o;
  sim_hdr* hdr = nullptr;
  msgbuf unit;
  std::map<std::string, sim_stock_ref> stocks;
  uint64_t last_amended[2] = {0, 0};  // as the client keeps it per exchange and side
  std::vector<sim_journal_entry> journal;
  std::vector<uint32_t> counts = std::vector<uint32_t>(256, 0);
  rng r;
};

namespace {

sim_stock_ref& market_stock(sim_market* m, const char* code) {
  sim_stock_ref& s = m->stocks[code];
  if (s.code.empty()) s.code = code;
  return s;
}

const char* market_broker(sim_market* m, const char* broker) {
  if (!m->o.brokers) return nullptr;
  if (broker) return broker;
  return kMarketBrokers[m->r.next() % (sizeof kMarketBrokers / sizeof kMarketBrokers[0])];
}

bool valid_code(const char* code) {
  if (code && code[0] && strlen(code) <= size_t(kCodecCodeChars)) return true;
  log(LOG_ERROR, kSrc, "market: bad stock code");
  return false;
}

bool valid_side(int side) {
  if (side == 0 || side == 1) return true;
  log(LOG_ERROR, kSrc, "market: bad side %d", side);
  return false;
}

// The level and order index of a position, or false past the queue.
bool locate(const sim_stock_ref& s, int side, uint32_t position, size_t* li, size_t* oi) {
  if (position < 1) return false;
  uint32_t left = position - 1;
  for (size_t i = 0; i < s.sides[side].size(); i++) {
    const size_t n = s.sides[side][i].orders.size();
    if (left < n) {
      *li = i;
      *oi = left;
      return true;
    }
    left -= uint32_t(n);
  }
  return false;
}

// An order appended at the end of its price's level, the level made in
// price order when new.
void ref_add(sim_stock_ref& s, int side, uint32_t price, uint64_t volume, const char* broker) {
  std::vector<sim_level>& levels = s.sides[side];
  auto it = levels.begin();
  while (it != levels.end() && better(side, it->price, price)) ++it;
  if (it == levels.end() || it->price != price) {
    sim_level l;
    l.price = price;
    it = levels.insert(it, l);
  }
  it->orders.push_back(volume);
  if (broker) it->brokers.push_back(broker);
}

void ref_delete(sim_stock_ref& s, int side, size_t li, size_t oi) {
  std::vector<sim_level>& levels = s.sides[side];
  levels[li].orders.erase(levels[li].orders.begin() + long(oi));
  if (oi < levels[li].brokers.size()) levels[li].brokers.erase(levels[li].brokers.begin() + long(oi));
  if (levels[li].orders.empty()) levels.erase(levels.begin() + long(li));
}

void note(sim_market* m, const sim_stock_ref& s, uint32_t type, ss_time time, uint32_t price, uint64_t volume) {
  m->counts[type]++;
  if (!m->o.journal) return;
  sim_journal_entry e;
  e.code = s.code;
  e.type = type;
  e.time = time;
  e.price = price;
  e.volume = volume;
  m->journal.push_back(e);
}

int write_depth(sim_market* m, sim_stock_ref& s, uint32_t bid_type, int side, ss_time time, const sim_depth& d) {
  const uint32_t type = side ? sim_depth_twin(bid_type) : bid_type;
  if (sim_msg_depth(&m->unit.gb, m->hdr, type, time, s.code.c_str(), d, &s.price_ref, m->o.brokers) < 0) return -1;
  note(m, s, type, time, d.price, d.volume);
  return int(type);
}

}  // namespace

sim_market* sim_market_create(const sim_market_options& options) {
  sim_market* m = new sim_market;
  m->o = options;
  m->hdr = sim_hdr_create(options.speeds);
  if (options.stock_stream) sim_hdr_set_stock_stream(m->hdr);
  m->r.s = 0x5eed0000ull + options.index;
  return m;
}

void sim_market_destroy(sim_market* m) {
  if (!m) return;
  sim_hdr_destroy(m->hdr);
  delete m;
}

int sim_market_add(sim_market* m, const char* code, ss_time time, int side, uint32_t price, uint64_t volume,
                   const char* broker) {
  if (!valid_code(code) || !valid_side(side)) return -1;
  if (price < 1 || price > kMarketMaxPrice) {
    log(LOG_ERROR, kSrc, "market: %s: no depth at price %u", code, price);
    return -1;
  }
  sim_stock_ref& s = market_stock(m, code);
  const uint32_t top = s.top(side);
  uint32_t type = kSimDepthHead;
  if (top && price == ticks_better(top, side, 1))
    type = kSimDepthHeadBetter;
  else if (top && price == ticks_better(top, side, 2))
    type = kSimDepthHeadBetter2;
  else if (top && price == top)
    type = kSimDepthHeadTop;
  sim_depth d;
  d.price = price;
  d.volume = volume;
  d.broker = market_broker(m, broker);
  const int r = write_depth(m, s, type, side, time, d);
  if (r > 0) ref_add(s, side, price, volume, d.broker);
  return r;
}

int sim_market_amend(sim_market* m, const char* code, ss_time time, int side, uint32_t position, uint64_t volume) {
  if (!valid_code(code) || !valid_side(side)) return -1;
  sim_stock_ref& s = market_stock(m, code);
  size_t li, oi;
  if (!locate(s, side, position, &li, &oi) || position > uint32_t(kMarketPositionMax)) {
    log(LOG_ERROR, kSrc, "market: %s: no order at %u to amend", code, position);
    return -1;
  }
  uint32_t type = kSimDepthAmendShort;
  if (position == 1 && volume == m->last_amended[side])
    type = kSimDepthRepeatAmend;
  else if (position == 1)
    type = kSimDepthAmendHead;
  else if (position <= uint32_t(kMarketPositionByteMax))
    type = kSimDepthAmend;
  sim_depth d;
  d.position = position;
  d.volume = volume;
  const int r = write_depth(m, s, type, side, time, d);
  if (r > 0) {
    s.sides[side][li].orders[oi] = volume;
    m->last_amended[side] = volume;
  }
  return r;
}

int sim_market_delete(sim_market* m, const char* code, ss_time time, int side, uint32_t position) {
  if (!valid_code(code) || !valid_side(side)) return -1;
  sim_stock_ref& s = market_stock(m, code);
  size_t li, oi;
  if (!locate(s, side, position, &li, &oi) || position > uint32_t(kMarketPositionMax)) {
    log(LOG_ERROR, kSrc, "market: %s: no order at %u to delete", code, position);
    return -1;
  }
  const uint32_t type = position == 1                                 ? kSimDepthDeleteHead
                        : position <= uint32_t(kMarketPositionByteMax) ? kSimDepthDelete
                                                                       : kSimDepthDeleteShort;
  sim_depth d;
  d.position = position;
  const int r = write_depth(m, s, type, side, time, d);
  if (r > 0) ref_delete(s, side, li, oi);
  return r;
}

int sim_market_change_top(sim_market* m, const char* code, ss_time time, int side, uint32_t price, uint64_t volume,
                          const char* broker) {
  if (!valid_code(code) || !valid_side(side)) return -1;
  sim_stock_ref& s = market_stock(m, code);
  if (s.sides[side].empty()) {
    log(LOG_ERROR, kSrc, "market: %s: no top to change", code);
    return -1;
  }
  const uint32_t top = s.top(side);
  const uint32_t p = price == kSimKeepPrice ? top : price;
  const bool keep_volume = volume == kSimKeepVolume;
  const uint64_t v = keep_volume ? s.sides[side].front().orders.front() : volume;
  if (p < 1) {
    log(LOG_ERROR, kSrc, "market: %s: no depth at price 0", code);
    return -1;
  }
  // The tick moves are up or down whatever the side.
  const uint32_t tick = sim_tick(top);
  uint32_t type;
  if (uint64_t(p) == uint64_t(top) + tick)
    type = keep_volume ? kSimDepthTopUp : kSimDepthTopUpVol;
  else if (top > tick && p == top - tick)
    type = keep_volume ? kSimDepthTopDown : kSimDepthTopDownVol;
  else
    type = keep_volume ? kSimDepthTopPrice : kSimDepthTopPriceVol;
  sim_depth d;
  d.price = p;
  d.top = top;
  d.volume = v;
  d.broker = market_broker(m, broker);
  const int r = write_depth(m, s, type, side, time, d);
  if (r > 0) {
    ref_delete(s, side, 0, 0);
    ref_add(s, side, p, v, d.broker);
  }
  return r;
}

int sim_market_quote(sim_market* m, const char* code, ss_time time, uint8_t flags, const uint32_t prices[5]) {
  if (!valid_code(code)) return -1;
  flags &= kMarketQuoteBits;
  for (int i = 0; i < kMarketQuotePrices; i++) {
    if ((flags & (1u << i)) && prices[i] > kMarketMaxPrice) {
      log(LOG_ERROR, kSrc, "market: %s: quote price %u", code, prices[i]);
      return -1;
    }
  }
  sim_stock_ref& s = market_stock(m, code);
  if (sim_msg_quote(&m->unit.gb, m->hdr, time, code, flags, prices, &s.price_ref) < 0) return -1;
  uint32_t* fields[kMarketQuotePrices] = {&s.close, &s.open, &s.high, &s.low, &s.last};
  bool changed = false;
  for (int i = 0; i < kMarketQuotePrices; i++) {
    if (!(flags & (1u << i)) || *fields[i] == prices[i]) continue;
    *fields[i] = prices[i];
    changed = true;
  }
  note(m, s, kSimMsgQuote, time, s.last, 0);
  if (!m->o.journal) return int(kSimMsgQuote);
  sim_journal_entry& e = m->journal.back();
  e.quoted = changed;
  e.close = s.close;
  e.open = s.open;
  e.high = s.high;
  e.low = s.low;
  e.last = s.last;
  return int(kSimMsgQuote);
}

int sim_market_trade(sim_market* m, const char* code, ss_time time, uint32_t price, uint64_t volume,
                     const char* buyer, const char* seller) {
  if (!valid_code(code)) return -1;
  if (price < 1 || price > kMarketMaxPrice) {
    log(LOG_ERROR, kSrc, "market: %s: no trade at price %u", code, price);
    return -1;
  }
  sim_stock_ref& s = market_stock(m, code);
  const uint32_t type = price == s.last ? kSimMsgTradeAtLast : kSimMsgTrade;
  const char* buy = market_broker(m, buyer);
  const char* sell = market_broker(m, seller);
  if (sim_msg_trade(&m->unit.gb, m->hdr, type, time, code, price, volume, buy, sell, &s.price_ref, m->o.brokers) < 0)
    return -1;
  s.trade_list.push_back(sim_trade{time, price, volume, buy ? buy : "", sell ? sell : ""});
  // A plain trade sets the last price (and the open when there is none) and
  // counts for high, low and volume.
  if (s.open == 0) s.open = price;
  s.last = price;
  if (s.low == 0 || s.low > price) s.low = price;
  if (s.high < price) s.high = price;
  s.volume += volume;
  s.trades++;
  note(m, s, type, time, price, volume);
  return int(type);
}

int sim_market_queue(sim_market* m, const char* code, ss_time time, int side) {
  if (!valid_code(code) || !valid_side(side)) return -1;
  auto it = m->stocks.find(code);
  if (it == m->stocks.end()) {
    log(LOG_ERROR, kSrc, "market: no stock %s", code);
    return -1;
  }
  sim_stock_ref& s = it->second;
  msgbuf list;
  const uint32_t type = kSimMsgQueueBid + uint32_t(side);
  if (sim_list_queue(&list.gb, s, side, time, m->o.date, m->o.brokers) < 0 ||
      sim_msg_queue(&m->unit.gb, m->hdr, type, time, code, list.data(), int32_t(list.size())) < 0)
    return -1;
  note(m, s, type, time, 0, 0);
  return int(type);
}

std::string sim_market_code(uint32_t i) {
  std::string c;
  const int letters = i < kMarketShortCodes ? 3 : 4;
  if (letters == 4) i -= kMarketShortCodes;
  for (int k = 0; k < letters; k++) {
    c.insert(c.begin(), char('A' + i % kMarketCodeLetters));
    i /= kMarketCodeLetters;
  }
  return c;
}

namespace {

uint64_t script_volume(rng& r) {
  switch (r.next() % 4) {
    case 0:
      return (1 + r.next() % 50) * 100;  // one-byte forms
    case 1:
      return 1 + r.next() % 99999;
    case 2:
      return (1 + r.next() % 20) * 1000;
    default:
      return (1 + r.next() % 10) * 50000;
  }
}

// A price where a stock with an empty book starts: one of the tick bands,
// fixed by the code.
uint32_t script_base(const sim_stock_ref& s) {
  const uint32_t h = fnv(s.code);
  const uint32_t base = kMarketBases[h % (sizeof kMarketBases / sizeof kMarketBases[0])];
  return base + (h / 8 % 20) * sim_tick(base);
}

uint32_t script_mid(const sim_stock_ref& s) {
  if (s.top(0) && s.top(1)) return s.top(0);
  if (s.top(0)) return s.top(0);
  if (s.top(1)) return s.top(1);
  return s.last ? s.last : script_base(s);
}

// Would a price on `side` reach the other side's top?
bool crosses(const sim_stock_ref& s, int side, uint32_t price) {
  const uint32_t other = s.top(1 - side);
  return other && !better(side, other, price);
}

int script_add(sim_market* m, sim_stock_ref& s, int side, ss_time t) {
  rng& r = m->r;
  const uint32_t top = s.top(side);
  uint32_t price;
  if (!top) {
    const uint32_t mid = s.top(1 - side) ? s.top(1 - side) : script_base(s);
    price = ticks_better(mid, 1 - side, int32_t(1 + r.next() % 3));
  } else {
    const uint32_t mode = uint32_t(r.next() % 100);
    if (mode < 20)
      price = ticks_better(top, side, 1);
    else if (mode < 30)
      price = ticks_better(top, side, 2);
    else if (mode < 50)
      price = top;
    else
      price = ticks_better(top, side, -int32_t(1 + r.next() % 8));
    if (mode >= 90 && price > 40) price -= 10 * uint32_t(1 + r.next() % 3);  // off the tick grid
    if (!price || crosses(s, side, price)) price = top;
  }
  if (!price || crosses(s, side, price)) price = top ? top : script_base(s);
  return sim_market_add(m, s.code.c_str(), t, side, price, script_volume(r));
}

int script_change_top(sim_market* m, sim_stock_ref& s, int side, ss_time t) {
  rng& r = m->r;
  const uint32_t top = s.top(side);
  const uint32_t tick = sim_tick(top);
  uint32_t price = kSimKeepPrice;
  const uint32_t mode = uint32_t(r.next() % 100);
  if (mode < 20)
    price = top + tick;
  else if (mode < 40 && top > tick)
    price = top - tick;
  else if (mode < 70)
    price = ticks_better(top, side, int32_t(r.next() % 7) - 3);
  if (price != kSimKeepPrice && (price == 0 || crosses(s, side, price))) price = kSimKeepPrice;
  const uint64_t volume = r.next() % 10 < 4 ? kSimKeepVolume : script_volume(r);
  return sim_market_change_top(m, s.code.c_str(), t, side, price, volume);
}

int script_quote(sim_market* m, sim_stock_ref& s, ss_time t) {
  rng& r = m->r;
  const uint32_t mid = script_mid(s);
  const uint32_t tick = sim_tick(mid);
  uint32_t prices[kMarketQuotePrices];
  for (uint32_t& p : prices) p = mid + tick * uint32_t(r.next() % 5);
  return sim_market_quote(m, s.code.c_str(), t, uint8_t(1 + r.next() % kMarketQuoteBits), prices);
}

int script_step(sim_market* m, sim_stock_ref& s, ss_time t) {
  rng& r = m->r;
  const bool busy = s.orders(0) + s.orders(1) > uint32_t(kMarketBusyBook);
  uint32_t op = uint32_t(r.next() % 100);
  if (busy && op < 35) op = 40;  // a delete instead of an add
  int side = int(r.next() % 2);
  if (op >= 35 && op < 77 && s.sides[side].empty()) side = 1 - side;
  if (op >= 35 && op < 77 && s.sides[side].empty()) op = 0;  // nothing to delete, amend or replace
  if (op < 35) return script_add(m, s, side, t);
  const uint32_t n = s.orders(side);
  if (op < 55) {
    const uint32_t pos = r.next() % 100 < 45 ? 1 : uint32_t(1 + r.next() % n);
    return sim_market_delete(m, s.code.c_str(), t, side, pos);
  }
  if (op < 67) {
    if (m->last_amended[side] && r.next() % 4 == 0)  // the head to the side's last amended volume
      return sim_market_amend(m, s.code.c_str(), t, side, 1, m->last_amended[side]);
    const uint32_t pos = r.next() % 100 < 30 ? 1 : uint32_t(1 + r.next() % n);
    return sim_market_amend(m, s.code.c_str(), t, side, pos, script_volume(r));
  }
  if (op < 77) return script_change_top(m, s, side, t);
  if (op < 92) {
    uint32_t price = s.last && r.next() % 3 == 0 ? s.last : script_mid(s);
    return sim_market_trade(m, s.code.c_str(), t, price, script_volume(r));
  }
  return script_quote(m, s, t);
}

}  // namespace

int32_t sim_market_script(sim_market* m, uint64_t seed, const std::vector<std::string>& codes, int32_t n,
                          ss_time* time) {
  if (codes.empty() || n < 0) return -1;
  m->r.s = seed;
  for (int32_t i = 0; i < n; i++) {
    sim_stock_ref& s = market_stock(m, codes[m->r.next() % codes.size()].c_str());
    if (script_step(m, s, *time) < 0) return -1;
    *time = sstime_add_seconds(*time, int32_t(m->r.next() % 3));
  }
  return n;
}

int sim_market_flush(sim_market* m, sim_server* sim) {
  const int r = m->unit.size()
                    ? append_with_books(sim, m->o.index, m->unit.data(), int32_t(m->unit.size()), m->stocks, m->o.brokers)
                    : 0;
  growbuf_reset(&m->unit.gb);
  sim_hdr_restart(m->hdr);
  return r;
}

void sim_market_take(sim_market* m, std::vector<uint8_t>* out) {
  append(out, m->unit.data(), m->unit.size());
  growbuf_reset(&m->unit.gb);
  sim_hdr_restart(m->hdr);
}

size_t sim_market_pending(const sim_market* m) { return m->unit.size(); }

const sim_stock_ref* sim_market_stock(const sim_market* m, const char* code) {
  auto it = m->stocks.find(code);
  return it == m->stocks.end() ? nullptr : &it->second;
}

std::vector<std::string> sim_market_codes(const sim_market* m) {
  std::vector<std::string> out;
  for (const auto& [code, s] : m->stocks) out.push_back(code);
  return out;
}

const std::vector<sim_journal_entry>& sim_market_journal(const sim_market* m) { return m->journal; }
const std::vector<uint32_t>& sim_market_type_counts(const sim_market* m) { return m->counts; }
