// Protocol framing and dispatch: a recorded stream of the stream-control and
// control messages (written with the codec's header and field writers)
// decoded whole, message by message and split at every byte offset, with the
// decoder and model state compared at each step; a table per built handler
// (bytes -> model, protocol and client effect); every type without a handler
// refused with the unknown-type line and the trace; nesting, the pending
// cap, the loop's error lines and hex dump; and the instrument steps of
// dispatch (stock found or added, made current, speed, last time, price
// reference restored) through a test handler.
#include "ssproto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dalloc.h"
#include "dechdr.h"
#include "decode.h"
#include "encblk.h"
#include "enchdr.h"
#include "encode.h"
#include "log.h"
#include "plat.h"
#include "ssclient.h"
#include "ssclient_int.h"
#include "sserr.h"
#include "ssevent.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssmsg.h"
#include "ssnotify.h"
#include "sstime.h"
#include "ssuser.h"
#include "testmodel.h"

namespace {

using Bytes = std::vector<uint8_t>;

time_t fixed_wall() { return 1392000000; }  // 2014-02-10, a fixed clock for the exchange deltas

class Env : public ::testing::Environment {
 public:
  void SetUp() override {
    dalloc_init();
    plat_init();
    log_init();
    log_set_memory(1);
    log_set_stderr(0);
    sstime_set_test_wallclock(fixed_wall);
    ssio_set_default_host("");  // no name lookups
  }
};
const auto* g_env = ::testing::AddGlobalTestEnvironment(new Env);

// Lines logged since construction, oldest first.
class LogCapture {
 public:
  LogCapture() : start_(log_count()) {}
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    uint64_t n = log_count() - start_;
    void* cursor = nullptr;
    const char* text;
    while (n-- && log_walk_newer(nullptr, nullptr, &text, &cursor)) out.insert(out.begin(), text);
    return out;
  }
  int count(const std::string& needle) const {
    int n = 0;
    for (const std::string& l : lines()) n += l.find(needle) != std::string::npos;
    return n;
  }
  bool matches(const std::string& pattern) const {
    std::regex re(pattern);
    for (const std::string& l : lines())
      if (std::regex_search(l, re)) return true;
    return false;
  }

 private:
  uint64_t start_;
};

ss_time at(int h, int mi, int s) { return sstime_pack(s, mi, h, 10, 2, 2014); }
const ss_time kDay = sstime_pack_date(10, 2, 2014);

int no_sleep(int32_t) { return 0; }

// The server side of a stream: header state per exchange (as the client
// will hold it) and the bytes written, with the start of every message.
class Wire {
 public:
  Wire() {
    for (auto& e : ex_) e = std::make_unique<ss_exchange>();
  }
  // A message header of `type` against the exchange the client will have
  // current; before any exchange the header is written by hand (code
  // "same", the time when not 0).
  Wire& msg(uint32_t type, ss_time time = 0, const char* code = "") {
    starts.push_back(bytes.size());
    uint8_t b[kHeaderRoom];
    int n;
    if (cur_ < 0) {
      n = 0;
      if (type < 32) {
        b[n++] = uint8_t(type);
      } else {
        b[n++] = 0;
        b[n++] = uint8_t(type);
      }
      if (time) {
        b[0] |= kHeaderTimeFlag;
        n += encode_uint32(b + n, time);
      }
    } else {
      n = enchdr_encode_timed(b, ex_[cur_].get(), type, time ? time : ex_[cur_]->cur_time, code, -1);
    }
    EXPECT_GT(n, 0);
    bytes.insert(bytes.end(), b, b + n);
    return *this;
  }
  Wire& u8(uint32_t v) { return put(encode_byte, v); }
  Wire& u32(uint32_t v) { return put(encode_uint32, v); }
  Wire& vint(uint32_t v) { return put(encode_vint, v); }
  Wire& date(ss_time d) {
    uint8_t b[4];
    int n = encode_date16(b, d);
    bytes.insert(bytes.end(), b, b + n);
    return *this;
  }
  Wire& code(const char* c) {
    uint8_t b[kEncodeRoomCode];
    int n = encode_code(b, c);
    bytes.insert(bytes.end(), b, b + n);
    return *this;
  }
  Wire& raw(const Bytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }
  // The client makes exchange i current with the message just written.
  Wire& select(int i) {
    cur_ = i;
    return *this;
  }
  // Message i's length.
  int32_t len(size_t i) const {
    return int32_t((i + 1 < starts.size() ? starts[i + 1] : bytes.size()) - starts[i]);
  }
  int32_t last_len() const { return len(starts.size() - 1); }

  Bytes bytes;
  std::vector<size_t> starts;

 private:
  template <class F>
  Wire& put(F f, uint32_t v) {
    uint8_t b[8];
    int n = f(b, v);
    bytes.insert(bytes.end(), b, b + n);
    return *this;
  }
  std::unique_ptr<ss_exchange> ex_[kExchanges];
  int cur_ = -1;
};

// Global change bits delivered since the last reset.
uint32_t g_globals = 0;
void on_change(const ss_change* change, void*, uint64_t, uint32_t) {
  if (!change->instrument) g_globals |= change->mask;
}
int g_owner;

// Everything the messages may change, as text, so that a mismatch shows.
std::string state_text() {
  ssnotify_deliver();
  std::ostringstream o;
  ss_exchange* cur = ssproto_current_exchange();
  o << "current " << (cur ? cur->name : "-") << "\n";
  for (int i = 0; i < kExchanges; i++) {
    const ss_exchange* e = ssmodel_exchange(i);
    o << e->name << " pos " << ssproto_exchange_position(i) << " code '" << e->cur_code << "' cur " << e->cur_time
      << " high " << e->high_time << " speeds " << e->speed_count << "/" << e->index_speed_count << " date "
      << e->date << " offset " << e->offset << " delta " << e->delta << " flags " << e->flags << " sig "
      << e->signature << "\n";
  }
  ssproto_counter c[kProtoCounterPairs];
  ssproto_get_counters(c);
  o << "master " << ssproto_master_position() << " expected " << ssproto_expected_bytes() << " counters";
  for (const ssproto_counter& p : c) o << " " << p.first << "/" << p.second;
  char status[kSsmsgTextMax + 1];
  ssmsg_get(status);
  o << "\nuser " << ssuser_id() << " " << ssuser_flags() << " " << ssuser_exchange_mask(0xffffffffu) << " status '"
    << status << "' error " << sserr_last_code() << "/" << sserr_sub_code() << "\nclient online "
    << ssclient_is_online() << " login done " << ssclient_login_done() << " signed off "
    << ssclient_signed_off_flag() << " abort " << ssclient_abort_requested() << " acks " << ssclient_ack_count()
    << " dropped " << ssclient_dropped() << " private " << ssclient_private_count() << "\nglobals " << std::hex
    << g_globals << std::dec << " ref time " << decode_ref_date() << "\n";
  return o.str();
}

class Proto : public ::testing::Test {
 protected:
  void SetUp() override { start(); }
  void TearDown() override { stop(); }

  // The whole client, so that the operations the control messages call
  // start from a fresh client every time.
  void start() {
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    for (int i = 0; i < kExchanges; i++) ASSERT_NE(nullptr, ssmodel_exchange(i));
    ssclient_enable_yield(0);
    ssclient_set_sleep_hook(no_sleep);
    ASSERT_EQ(0, ssnotify_add_wild(0xffffffffu, on_change, &g_owner, 0, 0));
    sserr_clear();
    ssproto_reset_counters();
    decode_set_ref_date(0);
    g_globals = 0;
  }
  void stop() {
    ssproto_set_test_handler(29, nullptr);
    ssproto_set_test_handler(90, nullptr);
    ssnotify_remove_wild(&g_owner);
    ssclient_fini();
  }
  void restart() {
    stop();
    start();
  }
  int decode(const Bytes& b) { return ssproto_decode(b.data(), int32_t(b.size())); }
  int decode(const Wire& w) { return decode(w.bytes); }
  ss_exchange* ex(int i) { return ssmodel_exchange(i); }
  // Makes exchange i current on both sides with message 51.
  void select(Wire& w, int i) {
    w.msg(51).u8(i).select(i);
  }
  // The stream decoded message by message (the state after each kept), whole
  // from a fresh client, and split at every byte from a fresh client: the
  // first part uses the complete messages only and leaves the state as it
  // was after them; the rest completes the stream to the same state.
  void expect_same_state_whole_or_split(const Wire& w, std::string (*state)()) {
    const int32_t total = int32_t(w.bytes.size());
    std::vector<std::string> after = {state()};
    for (size_t i = 0; i < w.starts.size(); i++) {
      ASSERT_EQ(w.len(i), ssproto_decode(w.bytes.data() + w.starts[i], w.len(i))) << "message " << i;
      after.push_back(state());
    }
    const std::string final_state = after.back();

    restart();
    ASSERT_EQ(total, decode(w));
    EXPECT_EQ(final_state, state());

    for (int32_t k = 0; k <= total; k++) {
      SCOPED_TRACE(testing::Message() << "split at " << k);
      restart();
      size_t whole = 0;  // complete messages in the first k bytes
      while (whole < w.starts.size() && int32_t(w.starts[whole]) + w.len(whole) <= k) whole++;
      const int32_t boundary = whole ? int32_t(w.starts[whole - 1]) + w.len(whole - 1) : 0;
      ASSERT_EQ(boundary, ssproto_decode(w.bytes.data(), k));
      ASSERT_EQ(after[whole], state());
      ASSERT_EQ(total - boundary, ssproto_decode(w.bytes.data() + boundary, total - boundary));
      ASSERT_EQ(final_state, state());
    }
  }
};

// A stream of every message built here, with codes and times in the headers
// so that the exchanges' header state moves too.
Wire control_stream() {
  Wire w;
  w.msg(52, at(9, 0, 0)).select(0);
  w.msg(54, at(9, 0, 1), "BHP").u8(0).u32(kDay).u32(at(9, 30, 0)).vint(36000).u8(1).select(0);
  w.msg(49).u32(1).u32(2);
  w.msg(166, at(9, 0, 2)).u8(0).u32(0x1234).u32(1000);
  w.msg(40).u32(5000);
  w.msg(166, 0, "BHQ").u8(0).u32(0x1234).u32(2000);
  w.msg(49, at(9, 0, 3)).u32(0).u32(0);
  w.msg(41).u8(3).u32(77).u32(5).u32(0);
  w.msg(53).select(1);
  w.msg(54, at(8, 0, 0), "AIR").u8(1).u32(kDay).u32(at(8, 0, 0)).vint(7200).u8(0).select(1);
  w.msg(166).u8(1).u32(9).u32(0);
  w.msg(51, at(8, 0, 5)).u8(3).select(3);
  w.msg(242, 0, "XYZ").msg(242);
  w.msg(253, at(9, 1, 0), "ABC");
  w.msg(255).vint(12).vint(0).u8(0).code("BHP").date(kDay);
  w.msg(59).select(3);
  w.msg(166).u8(3).u32(44).u32(300);
  w.msg(251, at(9, 2, 0));
  return w;
}

// ---------------------------------------------------------------------------
// The recorded stream, whole, message by message and split anywhere.

TEST_F(Proto, StreamGivesTheSameStateWholeOrSplitAtAnyByte) {
  expect_same_state_whole_or_split(control_stream(), state_text);
}

// What the stream did, read against the model, the protocol and the client.
TEST_F(Proto, StreamEffects) {
  Wire w = control_stream();
  ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
  // ASX: date, offset, clock and broker flag from 54; signature and position
  // from 166; counted messages added while counting was on.
  EXPECT_EQ(kDay, ex(0)->date);
  EXPECT_EQ(36000, ex(0)->offset);
  EXPECT_EQ(kExBrokers, ex(0)->flags & kExBrokers);
  EXPECT_EQ(0x1234u, ex(0)->signature);
  EXPECT_EQ(2000u, ssproto_exchange_position(0));  // 166 while counting was off: not advanced
  EXPECT_EQ(0u, ex(1)->flags & kExBrokers);
  EXPECT_EQ(9u, ex(1)->signature);
  EXPECT_EQ(uint32_t(w.len(10)), ssproto_exchange_position(1));  // 0 plus its own length
  EXPECT_EQ(300u + w.len(17), ssproto_exchange_position(3));
  EXPECT_EQ(kProtoPositionNone, ssproto_exchange_position(2));
  EXPECT_EQ(ex(3), ssproto_current_exchange());
  EXPECT_EQ(5000u, ssproto_expected_bytes());
  // Header state of the exchanges follows the headers read against them.
  EXPECT_STREQ("BHQ", ex(0)->cur_code);
  EXPECT_EQ(at(9, 2, 0), ex(3)->cur_time);
  EXPECT_STREQ("ABC", ex(3)->cur_code);
  EXPECT_EQ(77u, ssuser_flags());
  EXPECT_EQ(3u, ssuser_id());
  EXPECT_EQ(12, sserr_last_code());
  // The client went online (49), was acknowledged twice since, then
  // dropped and signed off (251).
  EXPECT_EQ(1, ssclient_login_done());
  EXPECT_EQ(2u, ssclient_ack_count());
  EXPECT_EQ(1, ssclient_dropped());
  EXPECT_EQ(1, ssclient_signed_off_flag());
  EXPECT_EQ(0, ssclient_is_online());
  state_text();
  for (uint32_t bit : {kGlobalOnline, kGlobalWentOnline, kGlobalUser, kGlobalFirstAck, kGlobalSignedOff,
                       kSserrGlobalChange})
    EXPECT_EQ(bit, g_globals & bit) << std::hex << bit;
  ssproto_counter c[kProtoCounterPairs];
  ssproto_get_counters(c);
  EXPECT_EQ(uint32_t(w.bytes.size()), c[0].first);
  EXPECT_EQ(uint32_t(w.starts.size()), c[0].second);
}

// ---------------------------------------------------------------------------
// One table per handler: bytes -> effect.

TEST_F(Proto, ExchangeSelection) {
  struct {
    const char* name;
    uint32_t type;
    int index_byte;  // -1: the type has no field
    int want;        // exchange made current, -1: refused
  } cases[] = {
      {"51 picks by index", 51, 1, 1}, {"51 GLB", 51, 2, 2},   {"51 past the end", 51, 4, -1},
      {"51 far past", 51, 200, -1},    {"52 is ASX", 52, -1, 0}, {"53 is NZX", 53, -1, 1},
      {"59 is AXO", 59, -1, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    Wire w;
    w.msg(c.type, at(10, 0, 0));
    if (c.index_byte >= 0) w.u8(c.index_byte);
    LogCapture log;
    if (c.want < 0) {
      EXPECT_EQ(-1, decode(w));
      EXPECT_EQ(nullptr, ssproto_current_exchange());
      EXPECT_EQ(1, log.count("no such exchange " + std::to_string(c.index_byte)));
      EXPECT_TRUE(log.matches(R"(^\(line \d+\) 51 xxx)"));
    } else {
      EXPECT_EQ(int32_t(w.bytes.size()), decode(w));
      EXPECT_EQ(ex(c.want), ssproto_current_exchange());
    }
  }
}

TEST_F(Proto, ExchangeDate) {
  struct {
    const char* name;
    uint32_t flags_before;
    int brokers;
    uint32_t flags_after;
  } cases[] = {
      {"brokers set the flag", kTerminalExchangeFlags, 1, kTerminalExchangeFlags | kExBrokers},
      {"no brokers leave it clear", kTerminalExchangeFlags, 0, kTerminalExchangeFlags},
      {"no brokers leave it set", kTerminalExchangeFlags | kExBrokers, 0, kTerminalExchangeFlags | kExBrokers},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    ex(1)->flags = c.flags_before;
    Wire w;
    w.msg(54, at(10, 0, 0)).u8(1).u32(kDay).u32(at(11, 0, 0)).vint(3600).u8(c.brokers);
    LogCapture log;
    ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
    EXPECT_EQ(ex(1), ssproto_current_exchange());
    EXPECT_EQ(kDay, ex(1)->date);
    EXPECT_EQ(3600, ex(1)->offset);
    // The exchange's clock reads the server time now (the wall clock is fixed).
    EXPECT_EQ(at(11, 0, 0), ssmodel_exchange_now(ex(1)));
    EXPECT_EQ(c.flags_after, ex(1)->flags);
    std::vector<std::string> want = {"set NZX", "    date 2014-02-10", "    time 2014-02-10 11:00:00", "  offset 3600"};
    std::vector<std::string> got;
    for (const std::string& l : log.lines())
      for (const std::string& x : want)
        if (l == x) got.push_back(l);
    EXPECT_EQ(want, got);
  }
  // An exchange index without an exchange is refused after the fields.
  restart();
  Wire w;
  w.msg(54).u8(9).u32(kDay).u32(at(11, 0, 0)).vint(0).u8(0);
  LogCapture log;
  EXPECT_EQ(-1, decode(w));
  EXPECT_EQ(1, log.count("no such exchange 9"));
}

TEST_F(Proto, SignatureAndPosition) {
  struct {
    const char* name;
    uint32_t sig_before, pos_before;
    uint32_t sig, pos;
    const char* line;  // expected position line, or null for none
    bool sig_line;
  } cases[] = {
      {"first position", 5, kProtoPositionNone, 5, 500, "setting ASX pos to 500", false},
      {"moved on", 5, 400, 5, 500, "changing ASX pos by 100 from 400 to 500", false},
      {"moved back", 5, 400, 5, 350, "changing ASX pos by -50 from 400 to 350", false},
      {"reset to 0", 5, 400, 5, 0, "reseting ASX pos from 400 to 0", false},
      {"unchanged", 5, 400, 5, 400, nullptr, false},
      {"new signature after a new day", 5, 400, 6, 400, nullptr, true},
      {"first signature", 0, kProtoPositionNone, 6, 500, "setting ASX pos to 500", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    ssmodel_set_signature(0, c.sig_before);
    if (c.sig != c.sig_before) ssevent_exchange_reset(ex(0), ex(0)->date, 0, 0);  // 160 came first
    ssproto_set_exchange_position(0, c.pos_before);
    Wire w;
    w.msg(166).u8(0).u32(c.sig).u32(c.pos);
    LogCapture log;
    ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
    EXPECT_EQ(c.sig, ex(0)->signature);
    EXPECT_EQ(c.pos, ssproto_exchange_position(0));  // no current exchange: nothing counted
    EXPECT_EQ(c.sig_line ? 1 : 0, log.count("changing ASX sig from"));
    EXPECT_EQ(c.line ? 1 : 0, log.count(" pos "));
    if (c.line) {
      EXPECT_EQ(1, log.count(c.line));
    }
  }
  restart();
  Wire w;
  w.msg(166).u8(4).u32(1).u32(1);
  EXPECT_EQ(-1, decode(w));
}

// A stream of another signature never lands on the old stream's day: where
// the new stream starts (57, or 166 at position 0) the exchange is reset
// first; a 166 that names another stream part way through it ends the link,
// so the client starts every stream again.
TEST_F(Proto, AnotherStreamIsNeverAppliedOverTheOldDay) {
  struct {
    const char* name;
    bool new_day_first;  // a 160 before the message
    int message;         // 57, or 166
    uint32_t pos;        // the 166's position
    int result;          // 1: taken, -1: refused
    bool reset;          // the old day's figures are gone
    const char* line;
  } cases[] = {
      {"57 over the old day", false, 57, 0, 1, true, "ASX: stream 9 begins a day over stream 5: resetting"},
      {"166 at 0 over the old day", false, 166, 0, 1, true, "ASX: stream 9 starts over stream 5: resetting"},
      {"166 part way over the old day", false, 166, 700, -1, false,
       "ASX: stream 9 replaced stream 5 without a reset"},
      {"57 after a new day", true, 57, 0, 1, true, nullptr},
      {"166 part way after a new day", true, 166, 700, 1, true, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    ss_stock* bhp = ssmodel_add_stock(ex(0), "BHP");
    ASSERT_NE(nullptr, bhp);
    ssmodel_set_signature(0, 5);
    ssproto_set_exchange_position(0, 400);
    bhp->volume = 1234;
    bhp->last = 456;
    Wire w;
    select(w, 0);
    if (c.new_day_first) w.msg(160).u32(kDay).u32(at(9, 0, 0)).vint(0);
    ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
    w.bytes.clear();
    w.starts.clear();
    if (c.message == 57)
      w.msg(57).date(kDay).u32(9);
    else
      w.msg(166).u8(0).u32(9).u32(c.pos);
    LogCapture log;
    const int got = decode(w);
    EXPECT_EQ(c.result < 0 ? -1 : int32_t(w.bytes.size()), got);
    EXPECT_EQ(c.reset ? 0u : 1234u, bhp->volume);
    EXPECT_EQ(c.result < 0 ? 5u : 9u, ex(0)->signature);
    if (c.line) {
      EXPECT_EQ(1, log.count(c.line));
    } else {
      EXPECT_EQ(0, log.count("resetting"));
    }
  }
}

// 40 stops the positions, 49 starts them again; a counted message adds
// exactly its own length to the current exchange, after 166 has set it.
TEST_F(Proto, CountingFollowsExpectingAndProceeding) {
  struct Step {
    bool counting;       // 49 before (true) or 40 before (false)
    int current;         // exchange made current before the 166
    uint32_t want_asx;   // position of ASX after 166 (ASX, 1000)
    bool nzx_advanced;   // NZX's position grows by the 166's length
  } steps[] = {
      {true, 0, 1000, false},
      {false, 0, 1000, false},
      {true, 1, 1000, true},
      {false, 1, 1000, false},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "counting " << s.counting << " current " << s.current);
    restart();
    ssproto_set_exchange_position(1, 7000);
    Wire w;
    if (s.counting)
      w.msg(49).u32(0).u32(0);
    else
      w.msg(40).u32(123);
    w.msg(51).u8(s.current).select(s.current);
    w.msg(166).u8(0).u32(0).u32(1000);
    const int32_t len = w.last_len();
    ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
    const bool asx_counted = s.counting && s.current == 0;
    EXPECT_EQ(s.want_asx + (asx_counted ? len : 0), ssproto_exchange_position(0));
    EXPECT_EQ(7000u + (s.nzx_advanced ? len : 0), ssproto_exchange_position(1));
  }
}

TEST_F(Proto, ExpectingAndProceeding) {
  Wire w;
  w.msg(40).u32(123456);
  LogCapture log;
  ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
  EXPECT_EQ(123456u, ssproto_expected_bytes());
  EXPECT_EQ(1, log.count("expecting 123456b"));
  EXPECT_EQ(0, ssclient_is_online());

  Wire p;
  p.msg(49).u32(0xffffffffu).u32(17);
  ASSERT_EQ(int32_t(p.bytes.size()), decode(p));
  EXPECT_EQ(1, log.count("proceeding"));
  EXPECT_EQ(1, ssclient_is_online());  // the client's follow-ups ran
  char status[kSsmsgTextMax + 1];
  ssmsg_get(status);
  EXPECT_STREQ("Online", status);
  state_text();  // delivers
  EXPECT_EQ(kGlobalOnline, g_globals & kGlobalOnline);
  ssproto_reset_counters();
  EXPECT_EQ(0u, ssproto_expected_bytes());
}

TEST_F(Proto, UserMessageMaskWidthFollowsVersion) {
  struct {
    int32_t version;
    Bytes mask;
    uint32_t want_mask;
  } cases[] = {
      {6, {0, 0, 0, 5}, 5},
      {3, {0, 0, 0, 3}, 3},
      {2, {6}, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "version " << c.version);
    restart();
    ssproto_version_guard v(c.version);
    Wire w;
    w.msg(41).u8(2).u32(0x40).raw(c.mask).u32(99);
    ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
    EXPECT_EQ(2u, ssuser_id());
    EXPECT_EQ(0x40u, ssuser_flags());
    EXPECT_EQ(c.want_mask, ssuser_exchange_mask(0xffffffffu));
    state_text();
    EXPECT_EQ(kGlobalUser, g_globals & kGlobalUser);
  }
  EXPECT_EQ(kProtoVersion, ssproto_version());  // the guard put it back
}

TEST_F(Proto, AcknowledgementRaisesTheFirstAckBitOnce) {
  Wire online;
  online.msg(49).u32(0).u32(0);
  Wire ack;
  ack.msg(242);
  // Counted from the last "Online": a new 49 makes the next ack a first one.
  struct {
    const Wire* w;
    uint32_t acks;
    bool bit;
  } steps[] = {{&ack, 1, true}, {&ack, 2, false}, {&ack, 3, false}, {&online, 0, false}, {&ack, 1, true}};
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << "acks " << s.acks);
    state_text();
    g_globals = 0;
    ASSERT_EQ(int32_t(s.w->bytes.size()), decode(s.w->bytes));
    EXPECT_EQ(s.acks, ssclient_ack_count());
    state_text();
    EXPECT_EQ(s.bit ? kGlobalFirstAck : 0u, g_globals & kGlobalFirstAck);
  }
}

TEST_F(Proto, DroppedAndSignedOff) {
  struct {
    uint32_t type;
    int dropped;
    const char* line;
  } cases[] = {{251, 1, "dropped"}, {254, 0, "signed off"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    restart();
    Wire w;
    w.msg(c.type);
    LogCapture log;
    ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
    EXPECT_EQ(c.dropped, ssclient_dropped());
    EXPECT_EQ(1, ssclient_signed_off_flag());
    EXPECT_EQ(1, ssclient_abort_requested());
    EXPECT_EQ(1, log.count(c.line));
    state_text();
    EXPECT_EQ(kGlobalSignedOff, g_globals & kGlobalSignedOff);
  }
}

TEST_F(Proto, NoOpUsesItsHeaderOnly) {
  Wire w;
  w.msg(253).msg(52).select(0).msg(253, at(10, 0, 0), "ANZ");
  ASSERT_EQ(3u, w.starts.size());
  EXPECT_EQ(2, w.len(0));
  ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
  ssproto_counter c[kProtoCounterPairs];
  ssproto_get_counters(c);
  EXPECT_EQ(3u, c[0].second);
  EXPECT_STREQ("ANZ", ex(0)->cur_code);
}

TEST_F(Proto, ServerErrorReachesTheReport) {
  struct {
    uint32_t code, sub, exchange;
    const char* instrument;
    uint32_t want_sub;  // the report keeps the sub-code of code 1 only
    const char* line;   // the report's own log line
  } cases[] = {
      {12, 0, 0, "", 0, "error #12: 0 0  2014-02-10"},
      {1, 7, 3, "", 7, "error #1: 7 3  2014-02-10"},
      {20, 50, 1, "AIR", 0, "error #20: 50 1 AIR 2014-02-10"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    restart();
    Wire w;
    w.msg(255).vint(c.code).vint(c.sub).u8(c.exchange).code(c.instrument).date(kDay);
    LogCapture log;
    ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
    EXPECT_EQ(int32_t(c.code), sserr_last_code());
    EXPECT_EQ(c.want_sub, sserr_sub_code());
    EXPECT_EQ(1, log.count(c.line));
    state_text();
    EXPECT_EQ(kSserrGlobalChange, g_globals & kSserrGlobalChange);
  }
}

// ---------------------------------------------------------------------------
// Types without a handler, the unknown type 0, and the families not yet built.

TEST_F(Proto, TypesWithoutHandlerAreRefused) {
  std::set<uint32_t> unknown = {0, 43, 47, 73, 74, 163, 164, 168, 169};
  for (auto [lo, hi] : std::vector<std::pair<uint32_t, uint32_t>>{{77, 79},   {84, 89},   {92, 99},   {106, 109},
                                                                   {112, 119}, {123, 129}, {134, 139}, {145, 149},
                                                                   {152, 159}, {175, 179}, {182, 189}, {197, 199},
                                                                   {207, 209}, {215, 219}, {224, 229}, {232, 239},
                                                                   {243, 250}})
    for (uint32_t t = lo; t <= hi; t++) unknown.insert(t);
  for (uint32_t type : unknown) {
    SCOPED_TRACE(type);
    Bytes b = {0, uint8_t(type), 0xaa, 0xbb};
    LogCapture log;
    EXPECT_EQ(-1, decode(b));
    EXPECT_EQ(1, log.count("unknown type " + std::to_string(type) + " (len=2, slen=4, nesting=0)"));
    EXPECT_TRUE(log.matches(R"(^\(line \d+\) )" + std::to_string(type) + R"( xxx "-"  -1 \(2b/4b\)$)"));
    EXPECT_EQ(1, log.count("state xxx xxx"));
    EXPECT_EQ(1, log.count("error at offset 0/4"));
  }
}

TEST_F(Proto, TraceNamesTheExchangeAndItsHeaderState) {
  Wire w;
  w.msg(52, at(10, 0, 0)).select(0).msg(43, at(10, 0, 5), "BHP").raw({1, 2, 3});
  LogCapture log;
  EXPECT_EQ(-1, decode(w));
  EXPECT_TRUE(log.matches(R"(^\(line \d+\) 43 ASX "2014-02-10 10:00:05" BHP -1 \(3b/\d+b\)$)"));
  EXPECT_EQ(1, log.count("state BHP 2014-02-10 10:00:05"));
  EXPECT_EQ(1, log.count("aborting at byte 6, "));
  // The failing message is put back: header state as before it (52 was read
  // with no exchange current, so ASX's is untouched).
  EXPECT_EQ(0u, ex(0)->cur_time);
  EXPECT_STREQ("", ex(0)->cur_code);
}

// ---------------------------------------------------------------------------
// Incomplete messages, nesting and the pending cap.

// Every prefix of every built message leaves every piece of state alone and
// uses nothing; the whole message then decodes.
TEST_F(Proto, EveryIncompletePrefixLeavesStateAlone) {
  Wire w;
  w.msg(52, at(9, 0, 0)).select(0);
  const int32_t lead = int32_t(w.bytes.size());
  w.msg(54, at(9, 0, 1), "BHP").u8(1).u32(kDay).u32(at(9, 30, 0)).vint(300000).u8(1).select(1);
  w.msg(166, at(9, 5, 0), "CBA").u8(0).u32(1).u32(2);
  w.msg(41, at(9, 6, 0), "Q").u8(1).u32(2).u32(3).u32(4);
  w.msg(255, at(9, 7, 0), "QA").vint(300000).vint(20).u8(0).code("WBC").date(kDay);
  for (size_t m = 1; m < w.starts.size(); m++) {
    restart();
    ASSERT_EQ(lead, ssproto_decode(w.bytes.data(), lead));
    for (size_t i = 1; i < m; i++) ASSERT_EQ(w.len(i), ssproto_decode(w.bytes.data() + w.starts[i], w.len(i)));
    const std::string before = state_text();
    for (int32_t k = 1; k < w.len(m); k++) {
      SCOPED_TRACE(testing::Message() << "message " << m << " prefix " << k);
      ASSERT_EQ(0, ssproto_decode(w.bytes.data() + w.starts[m], k));
      ASSERT_EQ(before, state_text());
    }
    ASSERT_EQ(w.len(m), ssproto_decode(w.bytes.data() + w.starts[m], w.len(m)));
  }
}

// A test block type: a length byte and that many bytes of messages,
// decoded one level deeper.
int block_of_messages(ssproto_msg* m) {
  uint8_t n;
  int r = ssproto_read_byte(m, &n);
  if (r <= 0) return r;
  if (m->avail - m->used < n) return 0;
  if (ssproto_decode_run(m->data + m->used, n, 0) < 0) return -1;
  m->used += n;
  return ssproto_used(m);
}

TEST_F(Proto, BlocksNestOnceOnly) {
  ssproto_set_test_handler(90, block_of_messages);
  Wire inner;
  inner.msg(52).select(0).msg(253);
  Wire one;
  one.msg(90).u8(uint32_t(inner.bytes.size())).raw(inner.bytes);
  ASSERT_EQ(int32_t(one.bytes.size()), decode(one));
  EXPECT_EQ(ex(0), ssproto_current_exchange());

  restart();
  ssproto_set_test_handler(90, block_of_messages);
  Wire two;
  two.msg(90).u8(uint32_t(one.bytes.size())).raw(one.bytes);
  LogCapture log;
  EXPECT_EQ(-1, decode(two));
  EXPECT_EQ(1, log.count("nested 2"));
  // Both blocks report the failure inside them.
  EXPECT_EQ(1, log.count("aborting with code -1 at byte 0, 4 remaining"));
  EXPECT_EQ(1, log.count("aborting with code -1 at byte 0, 7 remaining"));
  EXPECT_EQ(nullptr, ssproto_current_exchange());

  // An incomplete message inside a block is an error, not a wait.
  restart();
  ssproto_set_test_handler(90, block_of_messages);
  Wire cut;
  cut.msg(90).u8(3).raw({0, 40, 0});
  EXPECT_EQ(-1, decode(cut));
  EXPECT_EQ(-1, ssproto_dispatch(inner.bytes.data(), int32_t(inner.bytes.size()), 2, 0, nullptr));
}

int always_waiting(ssproto_msg*) { return 0; }

TEST_F(Proto, PendingInputIsCapped) {
  ssproto_set_test_handler(29, always_waiting);
  EXPECT_EQ(kProtoMaxPending, ssproto_max_pending());
  Bytes big(size_t(kProtoMaxPending), 0);
  big[0] = 29;
  LogCapture log;
  EXPECT_EQ(0, ssproto_decode(big.data(), kProtoMaxPending - 1));
  EXPECT_EQ(-1, ssproto_decode(big.data(), kProtoMaxPending));
  EXPECT_EQ(1, log.count("message still incomplete after 67108864 bytes"));
}

TEST_F(Proto, LoopErrorLinesAndHexDump) {
  Wire w;
  w.msg(253).msg(253).msg(43).raw(Bytes(40, 0x5a));
  {
    LogCapture log;
    EXPECT_EQ(-1, decode(w));
    EXPECT_EQ(1, log.count("aborting at byte 4, 42 remaining"));
    EXPECT_EQ(1, log.count("error at offset 4/46"));
    // From 4 bytes before the failing message: 46 bytes in lines of 16.
    EXPECT_EQ(1, log.count("00 fd 00 fd 00 2b 5a 5a "));
    EXPECT_EQ(3, log.count("5a 5a 5a 5a 5a 5a 5a 5a "));
  }
  {
    LogCapture log;
    EXPECT_EQ(-1, ssproto_decode_saved(w.bytes.data(), int32_t(w.bytes.size())));
    EXPECT_EQ(0, log.count("aborting"));
    EXPECT_EQ(1, log.count("error at offset 4/46"));
  }
  {
    LogCapture log;
    Bytes many(300);
    for (size_t i = 0; i < many.size(); i++) many[i] = uint8_t(i);
    ssproto_hex_dump(many.data(), int32_t(many.size()));
    std::vector<std::string> lines = log.lines();
    ASSERT_EQ(16u, lines.size());  // 256 bytes at most
    EXPECT_EQ("00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f ", lines[0]);
    EXPECT_EQ("f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff ", lines[15]);
  }
}

TEST_F(Proto, PositionResets) {
  for (int i = 0; i < kExchanges; i++) {
    ssproto_set_exchange_position(i, 100u + i);
    ssmodel_set_signature(i, 7);
  }
  ssproto_set_master_position(55);
  ssproto_reset_positions();
  for (int i = 0; i < kExchanges; i++) {
    EXPECT_EQ(kProtoPositionNone, ssproto_exchange_position(i));
    EXPECT_EQ(0u, ex(i)->signature);
  }
  EXPECT_EQ(0u, ssproto_master_position());
  ssproto_set_master_position(55);
  ssmodel_set_signature(1, 7);
  ssproto_zero_positions();
  for (int i = 0; i < kExchanges; i++) EXPECT_EQ(0u, ssproto_exchange_position(i));
  EXPECT_EQ(0u, ex(1)->signature);
  EXPECT_EQ(0u, ssproto_master_position());
}

// ---------------------------------------------------------------------------
// The instrument steps of dispatch, through a test handler on type 29: the
// header's stock, a price against its reference and a 32-bit word.

constexpr uint32_t kAddedFlags = 31;  // request bits a stock added by the stream gets
uint32_t g_price = 0;
int stock_price_word(ssproto_msg* m) {
  ss_stock* s = ssproto_take_stock(m);
  if (!s) {
    ssproto_trace(__LINE__);
    return -1;
  }
  uint32_t* ref = ssproto_price_ref(s);
  int r = decode_price(m->data + m->used, m->avail - m->used, &g_price, ref);
  if (r <= 0) return r;
  m->used += r;
  uint32_t word;
  if ((r = ssproto_read_u32(m, &word)) <= 0) return r;
  return ssproto_used(m);
}

TEST_F(Proto, StockMessageStepsAndRestore) {
  ssproto_set_test_handler(29, stock_price_word);
  // No exchange yet: the lookup fails.
  {
    Bytes b = {0xC0 | 29};  // the code relation: a packed code follows
    uint8_t c[kEncodeRoomCode];
    int n = encode_code(c, "NEW");
    b.insert(b.end(), c, c + n);
    LogCapture log;
    EXPECT_EQ(-1, decode(b));
    EXPECT_EQ(1, log.count("exchange is null when looking for NEW"));
  }

  ssproto_set_exchange_position(0, 0);
  Wire w;
  w.msg(52).select(0).msg(49).u32(0).u32(0);
  uint8_t p[kEncodeRoomVint];
  uint32_t wref = 0;
  const int pn = encode_price(p, 123400, &wref);
  w.msg(29, at(10, 0, 0), "NEW").raw(Bytes(p, p + pn)).u32(5);
  const size_t trade = w.starts.size() - 1;
  const int32_t lead = int32_t(w.starts[trade]);
  ASSERT_EQ(lead, ssproto_decode(w.bytes.data(), lead));

  // Every prefix: nothing moves (the stock itself may have been added).
  for (int32_t k = 1; k < w.len(trade); k++) {
    SCOPED_TRACE(k);
    ASSERT_EQ(0, ssproto_decode(w.bytes.data() + lead, k));
    ss_stock* s = ssmodel_find_stock(ex(0), "NEW");
    if (s) {
      EXPECT_EQ(0u, *ssproto_price_ref(s));
      EXPECT_EQ(-1, s->speed);
      EXPECT_EQ(0u, s->flags & kInCurrent);
      EXPECT_EQ(0u, s->last_time);
    }
    EXPECT_EQ(0u, ex(0)->speed_count);
    EXPECT_EQ(0u, ssproto_exchange_position(0));
  }
  ASSERT_EQ(w.len(trade), ssproto_decode(w.bytes.data() + lead, w.len(trade)));
  ss_stock* s = ssmodel_find_stock(ex(0), "NEW");
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(123400u, g_price);
  EXPECT_EQ(123400u, *ssproto_price_ref(s));
  EXPECT_EQ(kAddedFlags | kInCurrent, s->flags & (kAddedFlags | kInCurrent));
  EXPECT_EQ(0, s->speed);
  EXPECT_EQ(1u, ex(0)->speed_count);
  EXPECT_EQ(at(10, 0, 0), s->last_time);
  EXPECT_EQ(uint32_t(w.len(trade)), ssproto_exchange_position(0));

  // The saved stream of that stock: stock-stream headers, nothing counted,
  // its price reference carried on.
  uint8_t h[kHeaderRoom];
  s->stream_time = at(10, 0, 0);
  const int hn = enchdr_encode_stock_header(h, s, 29, at(10, 0, 3));
  s->stream_time = at(10, 0, 0);
  Bytes saved(h, h + hn);
  uint32_t sref = 123400;
  uint8_t p2[kEncodeRoomVint];
  const int pn2 = encode_price(p2, 123500, &sref);
  saved.insert(saved.end(), p2, p2 + pn2);
  saved.insert(saved.end(), {0, 0, 0, 9});
  ASSERT_EQ(int32_t(saved.size()), ssproto_decode_saved_for(s, saved.data(), int32_t(saved.size())));
  EXPECT_EQ(123500u, g_price);
  EXPECT_EQ(at(10, 0, 3), s->stream_time);
  EXPECT_EQ(at(10, 0, 3), s->last_time);
  EXPECT_EQ(uint32_t(w.len(trade)), ssproto_exchange_position(0));
}

}  // namespace

TEST_F(Proto, TradingStateOfTheExchangeAndStall) {
  // Without a current exchange the state has nowhere to go.
  {
    Wire w;
    w.msg(170).u8(50);
    LogCapture log;
    EXPECT_EQ(-1, decode(w));
    EXPECT_EQ(1, log.count("state 50 with no current exchange"));
  }
  restart();
  ss_stock* bhp = ssmodel_add_stock(ex(0), "BHP");
  ASSERT_NE(nullptr, bhp);
  struct {
    uint32_t type, state;
    uint32_t want_exchange, want_stock;
  } steps[] = {
      {170, 50, 50, 0},  // the exchange only
      {171, 60, 60, 60},  // the exchange and every stock
      {170, 70, 70, 60},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << s.type << " " << s.state);
    Wire w;
    w.msg(52).select(0).msg(s.type, at(10, 0, 0)).u8(s.state);
    ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
    EXPECT_EQ(s.want_exchange, ex(0)->state);
    EXPECT_EQ(s.want_stock, bhp->state);
  }
  // A stall asks for the streams again from the positions held.
  Wire w;
  w.msg(167);
  LogCapture log;
  ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
  EXPECT_EQ(1, log.count("server stalled us, recovering now"));
}

// ---------------------------------------------------------------------------
// Exchange control, blocks and summary lists.

namespace {

// A framed block of `payload` (a stream of its own).
Bytes block(const Bytes& payload) {
  growbuf gb;
  growbuf_init(&gb, 4096, 4096);
  EXPECT_EQ(0, encblk_write(&gb, payload.data(), int32_t(payload.size())));
  Bytes out(gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  return out;
}

}  // namespace

// Messages that wait for bytes the server announces wait only so far: past
// the cap the count is garbage and the stream is broken at once.
TEST_F(Proto, AnnouncedWaitsAreCapped) {
  struct Case {
    const char* name;
    uint32_t type;
    uint32_t count;    // padding bytes or kind-0 position
    size_t follow;     // bytes present after the count
    int want;          // 0 waiting, -1 refused, 1 the whole message used
  } cases[] = {
      {"padding of 100, 40 present", 165, 100, 40, 0},
      {"padding of 100, all present", 165, 100, 100, 1},
      {"padding past the cap", 165, 0x40000000u, 10, -1},
      {"position wait of 10, 4 following", 56, 10, 4, 0},
      {"position wait of 10, 10 following", 56, 10, 10, 1},
      {"position wait past the cap", 56, 0x7fffffffu, 10, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    Wire w;
    select(w, 0);
    const size_t start = w.bytes.size();
    w.msg(c.type);
    if (c.type == 56) w.u8(0).u8(255);
    w.u32(c.count);
    const int32_t own = int32_t(w.bytes.size() - start);
    // Padding bytes belong to the message; a position wait's bytes are the
    // messages after it (no-ops here, two bytes each).
    for (size_t i = 0; i < c.follow; i++) w.u8(c.type == 165 ? 0xee : (i % 2 ? 253 : 0));
    const uint32_t before = ssproto_exchange_position(0);
    int r = ssproto_dispatch(w.bytes.data() + start, int32_t(w.bytes.size() - start), 0, 0, nullptr);
    if (c.want == 1)
      EXPECT_EQ(c.type == 165 ? int32_t(w.bytes.size() - start) : own, r);
    else
      EXPECT_EQ(c.want, r);
    EXPECT_EQ(before, ssproto_exchange_position(0));  // neither counts
  }
}

TEST_F(Proto, ExchangeIndexAndCurrentExchangeChecks) {
  {
    Wire w;
    select(w, 0);
    w.msg(166).u8(4).u32(1).u32(2);
    LogCapture log;
    EXPECT_EQ(-1, decode(w));
    EXPECT_EQ(1, log.count("no such exchange 4"));
  }
  restart();
  {
    Wire w;
    w.msg(191).u8(5);
    LogCapture log;
    EXPECT_EQ(-1, decode(w));
    EXPECT_EQ(1, log.count("market state 5 with no current exchange"));
  }
  restart();
  {
    // 191 stamps the exchange's own state only.
    ss_stock* bhp = ssmodel_add_stock(ex(0), "BHP");
    bhp->state = 9;
    Wire w;
    select(w, 0);
    w.msg(191, at(12, 0, 0)).u8(5);
    ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
    EXPECT_EQ(5u, ex(0)->state);
    EXPECT_EQ(9u, bhp->state);
  }
}

TEST_F(Proto, ExtendedQuoteChangesOnlyItsFields) {
  ss_stock* bhp = ssmodel_add_stock(ex(0), "BHP");
  struct Case {
    uint8_t flags;
    std::vector<uint32_t> prices;  // in flag order
    uint32_t close, open, high, low, last;
  } cases[] = {
      {0x10, {5000}, 0, 0, 0, 0, 5000},
      {0x00, {}, 0, 0, 0, 0, 5000},
      {0x1F, {4900, 4950, 5100, 4900, 5050}, 4900, 4950, 5100, 4900, 5050},
      {0x04, {5200}, 4900, 4950, 5200, 4900, 5050},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.flags));
    Wire w;
    select(w, 0);
    w.msg(181, at(10, 0, 0), "BHP").u8(c.flags);
    uint32_t ref = bhp->price_ref;
    for (uint32_t p : c.prices) {
      uint8_t b[kEncodeRoomVint];
      int n = encode_price(b, p, &ref);
      w.raw(Bytes(b, b + n));
    }
    g_globals = 0;
    ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
    EXPECT_EQ(c.close, bhp->close);
    EXPECT_EQ(c.open, bhp->open);
    EXPECT_EQ(c.high, bhp->high);
    EXPECT_EQ(c.low, bhp->low);
    EXPECT_EQ(c.last, bhp->last);
  }
  // Cut short after its third field: the price reference is as it was.
  const uint32_t ref_before = bhp->price_ref;
  Wire w;
  select(w, 0);
  w.msg(181, at(10, 0, 0), "BHP").u8(0x1F);
  uint32_t ref = bhp->price_ref;
  for (uint32_t p : {6000u, 6100u, 6200u}) {
    uint8_t b[kEncodeRoomVint];
    int n = encode_price(b, p, &ref);
    w.raw(Bytes(b, b + n));
  }
  EXPECT_EQ(int32_t(w.starts[1]), decode(w));  // the selection only
  EXPECT_EQ(ref_before, bhp->price_ref);
  EXPECT_EQ(5200u, bhp->high);
}

TEST_F(Proto, RunInsideABlockIsRefused) {
  Wire inner;
  inner.msg(253);
  Wire run;
  run.msg(27).raw(block(inner.bytes));
  Wire outer;
  select(outer, 0);
  outer.msg(90).raw(block(run.bytes));
  LogCapture log;
  EXPECT_EQ(-1, decode(outer));
  EXPECT_EQ(1, log.count("can't decode nested run!"));
  EXPECT_EQ(1, log.count("failed to decode block"));
}

// A stream restarted after an error is read from its start again: every
// relative price and header relation must be told from nothing, as the
// first time. The replay after a reset gives the model of the first reading.
TEST_F(Proto, ReplayAfterResetReadsAsTheFirstTime) {
  auto stream = [] {
    Wire w;
    w.msg(52).select(0);
    // 200: a bid entry, price relative to the stock's reference after the
    // first one.
    for (uint32_t p : {10000u, 10100u, 9900u}) {
      w.msg(200, at(10, 0, 0), "BHP");
      static uint32_t ref;
      if (p == 10000u) ref = 0;
      uint8_t b[kEncodeRoomVint];
      int n = encode_price(b, p, &ref);
      w.raw(Bytes(b, b + n));
      w.u8(100).vint(1);
    }
    return w;
  };
  auto bids = [this] {
    std::vector<uint32_t> out;
    ss_stock* s = ssmodel_find_stock(ex(0), "BHP");
    for (const ss_depth_level* l = s ? s->levels[0] : nullptr; l; l = l->next) out.push_back(l->price);
    return out;
  };
  Wire w = stream();
  ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
  const std::vector<uint32_t> first = bids();
  EXPECT_EQ((std::vector<uint32_t>{10100, 10000, 9900}), first);
  for (uint32_t flags : {kResetStreams, kResetAfterGiveUp}) {
    SCOPED_TRACE(flags);
    ssclient_apply_reset_flags(flags);
    if (flags == kResetStreams) ssevent_clear_depth(ssmodel_find_stock(ex(0), "BHP"), 0, 2);
    ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
    EXPECT_EQ(first, bids());
  }
}

// The exchange's day: begin (signature and date), a state given to a list of
// stocks, the day reset to a new date, and the refusals without an exchange.
TEST_F(Proto, ExchangeDayMessages) {
  struct Case {
    uint32_t type;
    const char* logged;
  } refused[] = {{57, "no exchange to begin?"}, {58, "no exchange to end?"}, {160, "no exchange to reset?"},
                 {161, "no exchange to change tmoffset?"}, {173, "state list 4 with no current exchange"}};
  for (const Case& c : refused) {
    SCOPED_TRACE(c.type);
    restart();
    Wire w;
    w.msg(c.type);
    if (c.type == 57) w.date(kDay).u32(7);
    if (c.type == 160) w.u32(kDay).u32(at(9, 0, 0)).vint(0);
    if (c.type == 161) w.vint(60);
    if (c.type == 173) w.u8(4).raw(block({0}));
    LogCapture log;
    EXPECT_EQ(-1, decode(w));
    EXPECT_EQ(1, log.count(c.logged));
  }
  restart();
  ss_stock* bhp = ssmodel_add_stock(ex(0), "BHP");
  ss_stock* cba = ssmodel_add_stock(ex(0), "CBA");
  bhp->last = 5000;
  Wire w;
  select(w, 0);
  w.msg(57).date(kDay).u32(0xabcd);
  Bytes list;
  for (const char* code : {"BHP", "CBA"}) {
    uint8_t b[16];
    int n = encode_vint(b, 0);
    n += encode_code(b + n, code);
    list.insert(list.end(), b, b + n);
  }
  w.msg(173, at(10, 0, 0)).u8(9).raw(block(list));
  ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
  EXPECT_EQ(0xabcdu, ssmodel_exchange_signature(0));
  EXPECT_EQ(kDay, ex(0)->date);
  EXPECT_EQ(9u, bhp->state);
  EXPECT_EQ(9u, cba->state);
  const ss_time next = sstime_pack_date(11, 2, 2014);
  Wire reset;
  select(reset, 0);
  reset.msg(160).u32(next).u32(at(8, 0, 0)).vint(3600);
  ASSERT_EQ(int32_t(reset.bytes.size()), decode(reset));
  EXPECT_EQ(next, ex(0)->date);
  EXPECT_EQ(3600, ex(0)->offset);
  EXPECT_EQ(0u, bhp->last);  // the day's values are gone
}

namespace {

Bytes string_field(const char* text) {
  uint8_t b[260];
  int n = encode_string(b, text);
  return Bytes(b, b + n);
}

Bytes global_entry(const char* code, uint32_t base, std::vector<int32_t> changes, ss_time time) {
  uint8_t b[64];
  int n = encode_code(b, code);
  n += encode_index(b + n, base);
  for (int32_t c : changes) n += encode_index_change(b + n, c);
  n += encode_uint32(b + n, time);
  return Bytes(b, b + n);
}

}  // namespace

// One notice, a list for another exchange (the current one stays), global
// values and one global index tick.
TEST_F(Proto, NoticeAndGlobalMessages) {
  Wire w;
  select(w, 1);
  w.msg(210).vint(1).vint(0).u8(3).code("BHP").raw(string_field("BHP GROUP"));
  Bytes list;
  for (const char* code : {"RIO", "CBA"}) {
    uint8_t b[32];
    int n = encode_vint(b, 1);
    n += encode_code(b + n, code);
    list.insert(list.end(), b, b + n);
    Bytes s = string_field(code);
    list.insert(list.end(), s.begin(), s.end());
  }
  w.msg(211).u8(0).vint(77).raw(block(list));
  Bytes values = {2};
  for (const Bytes& e : {global_entry("DJI", 1000000, {-100000, 200000, -110000, 100000}, at(16, 0, 0)),
                         global_entry("FTSE", 650000, {1000, 2000, -10000, -5000}, at(16, 0, 0))})
    values.insert(values.end(), e.begin(), e.end());
  w.msg(212).raw(values);
  w.msg(213).raw(global_entry("DJI", 1000000, {0, 250000, -110000, 250000}, at(16, 0, 5)));
  ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
  EXPECT_EQ(ex(1), ssproto_current_exchange());
  ss_stock* bhp = ssmodel_find_stock(ex(0), "BHP");
  ASSERT_NE(nullptr, bhp);
  EXPECT_STREQ("BHP GROUP", bhp->name1);
  EXPECT_EQ(77, ex(0)->notice_seq);
  EXPECT_STREQ("CBA", ssmodel_find_stock(ex(0), "CBA")->name1);
  ss_index* ftse = ssmodel_find_index(ex(2), "FTSE");
  ASSERT_NE(nullptr, ftse);
  EXPECT_EQ(645000u, ftse->value);
  EXPECT_EQ(-77, ftse->change_pct);  // against the previous value 650000
  ss_index* dji = ssmodel_find_index(ex(2), "DJI");
  ASSERT_NE(nullptr, dji);
  EXPECT_EQ(1250000u, dji->value);
  EXPECT_EQ(at(16, 0, 5), dji->last_tick_time);
}

// Compact depth changes against a stock's book.
TEST_F(Proto, CompactDepthChanges) {
  ss_stock* bhp = ssmodel_add_stock(ex(0), "BHP");
  bhp->flags |= kInRequestBits;
  auto bids = [bhp] {
    std::vector<uint64_t> v;
    for (const ss_depth_level* l = bhp->levels[0]; l; l = l->next)
      for (const ss_depth_order* o = l->orders; o; o = o->next) v.push_back(o->volume);
    return v;
  };
  Wire w;
  select(w, 0);
  uint32_t ref = 0;
  for (uint64_t volume : {100u, 200u, 300u}) {
    uint8_t b[16];
    int n = encode_price(b, 10000, &ref);
    n += encode_volume(b + n, volume);
    w.msg(200, at(10, 0, 0), "BHP").raw(Bytes(b, b + n)).vint(1);
  }
  {
    uint8_t b[16];
    uint32_t offer_ref = ref;
    int n = encode_price(b, 10100, &offer_ref);
    n += encode_volume(b + n, 500);
    w.msg(201, at(10, 0, 0), "BHP").raw(Bytes(b, b + n)).vint(1);
  }
  ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
  ASSERT_EQ(3u, bids().size());
  ASSERT_NE(nullptr, bhp->levels[1]);
  struct Case {
    uint32_t type;
    std::vector<uint32_t> counts;
    size_t bids_left;
  } cases[] = {{202, {0, 0}, 3}, {203, {2}, 1}, {204, {1}, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    Wire d;
    select(d, 0);
    d.msg(c.type, at(10, 0, 1), "BHP");
    for (uint32_t n : c.counts) d.vint(n);
    ASSERT_EQ(int32_t(d.bytes.size()), decode(d));
    EXPECT_EQ(c.bids_left, bids().size());
  }
  EXPECT_EQ(nullptr, bhp->levels[1]);  // 204 took the one offer
}

// The stored user configuration is taken once; the server position moves
// back with a line that says so; exchange parameters reset the exchange's
// day and set its header code and time.
TEST_F(Proto, UserConfigServerPositionAndParameters) {
  Wire w;
  w.msg(42).raw(block({1, 2, 3}));
  w.msg(42).raw(block({4, 5}));
  w.msg(56).u8(1).u8(255).u32(500);
  w.msg(56).u8(1).u8(255).u32(300);
  w.msg(56).u8(8).u8(1).u32(7).u32(8);
  LogCapture log;
  ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
  EXPECT_TRUE(ssuser_has_config());
  EXPECT_EQ(1, log.count("ignoring user config"));
  EXPECT_EQ(1, log.count("resetting server position to 300 (from 500)"));
  EXPECT_EQ(300u, ssproto_master_position());
  EXPECT_EQ(ex(1), ssproto_current_exchange());

  ss_stock* bhp = ssmodel_add_stock(ex(0), "BHP");
  bhp->last = 5000;
  Wire p;
  p.msg(55).u8(0).code("CBA").u32(at(9, 30, 0));
  ASSERT_EQ(int32_t(p.bytes.size()), decode(p));
  EXPECT_EQ(ex(0), ssproto_current_exchange());
  EXPECT_STREQ("CBA", ex(0)->cur_code);
  EXPECT_EQ(at(9, 30, 0), ex(0)->cur_time);
  EXPECT_EQ(0u, bhp->last);
}


// A notice that makes history stale asks for it again with the io thread's
// own requests, never through the user-interface thread's ring.
TEST_F(Proto, NoticesAskForHistoryOnTheIoThread) {
  ss_stock* neu = ssmodel_add_stock(ex(0), "NEW");
  neu->flags |= kInHistory;
  ssclient_set_online(1);
  const int32_t privates = ssclient_private_count();
  const int32_t ring = ssclient_ring_count();
  Wire w;
  select(w, 0);
  w.msg(210).vint(6).vint(0).u8(4).code("OLD").raw(string_field("NEW"));
  ASSERT_EQ(int32_t(w.bytes.size()), decode(w));
  EXPECT_NE(nullptr, ssmodel_find_alias(ex(0), "OLD"));
  EXPECT_EQ(privates + 1, ssclient_private_count());
  EXPECT_EQ(ring, ssclient_ring_count());
}

namespace {

// The header state of every exchange and the current exchange: what the
// dispatcher's restore puts back (the counters of nested messages that
// completed are not part of it).
std::string header_text() {
  std::ostringstream o;
  ss_exchange* cur = ssproto_current_exchange();
  o << "current " << (cur ? cur->name : "-") << " ref time " << decode_ref_date() << "\n";
  for (int i = 0; i < kExchanges; i++) {
    const ss_exchange* e = ssmodel_exchange(i);
    o << e->name << " code '" << e->cur_code << "' cur " << e->cur_time << " high " << e->high_time << " speeds "
      << e->speed_count << "/" << e->index_speed_count << "\n";
  }
  return o.str();
}

// What the stock messages left on the stocks of every exchange. A stock that
// an incomplete message added stays in its table, unused and not current:
// only the current stocks are shown.
std::string stocks_text() {
  std::ostringstream o;
  for (int i = 0; i < kExchanges; i++) {
    const ss_exchange* e = ssmodel_exchange(i);
    for (uint64_t k = 0; k < e->stocks.count; k++) {
      const ss_stock* s = static_cast<const ss_stock*>(e->stocks.sorted[k]);
      if (!(s->flags & kInCurrent)) continue;
      o << e->name << " " << s->code << " " << s->bid << "/" << s->offer << " last " << s->last << " vol "
        << s->volume << " ref " << s->price_ref << " speed " << s->speed << " time " << s->last_time << " flags "
        << s->flags << "\n";
    }
  }
  return o.str();
}

// A test block that decodes its messages one level deeper and then reports
// the message as still incomplete, or as bad data.
int block_then_waiting(ssproto_msg* m) {
  const int r = block_of_messages(m);
  return r > 0 ? 0 : r;
}
int block_then_bad(ssproto_msg* m) {
  const int r = block_of_messages(m);
  return r > 0 ? -1 : r;
}

}  // namespace

// A message that moves another exchange's header state (it makes that
// exchange current and names a code and time there) and then reports itself
// incomplete or bad leaves every exchange's header state as it was.
TEST_F(Proto, AMessageThatMovesAnotherExchangeLeavesNoTraceUnlessItCompletes) {
  struct row {
    ssproto_handler handler;
    int result;  // of the whole stream; -2: every byte used
  };
  const row rows[] = {{block_of_messages, -2}, {block_then_waiting, 0}, {block_then_bad, -1}};
  // Exchange 0 current with a code and a time; then a block (type 90) that
  // makes exchange 2 current and names another code and time there.
  Wire w;
  select(w, 0);
  w.msg(253, at(9, 0, 0), "ABC");
  w.msg(90);  // the block's header alone
  select(w, 2);
  w.msg(253, at(9, 5, 0), "XYZ");
  const Bytes lead(w.bytes.begin(), w.bytes.begin() + int32_t(w.starts[2]));
  Bytes outer(w.bytes.begin() + int32_t(w.starts[2]), w.bytes.begin() + int32_t(w.starts[3]));
  const Bytes inner(w.bytes.begin() + int32_t(w.starts[3]), w.bytes.end());
  outer.push_back(uint8_t(inner.size()));
  outer.insert(outer.end(), inner.begin(), inner.end());
  for (const row& r : rows) {
    SCOPED_TRACE(r.result);
    restart();
    ASSERT_EQ(int32_t(lead.size()), decode(lead));
    const std::string before = header_text();
    ssproto_set_test_handler(90, r.handler);
    ASSERT_EQ(r.result == -2 ? int32_t(outer.size()) : r.result, decode(outer));
    if (r.result == -2) {
      // The block does move the second exchange, so the rows below test a
      // restore of something that moved.
      EXPECT_STREQ("XYZ", ex(2)->cur_code);
      EXPECT_EQ(at(9, 5, 0), ex(2)->high_time);
      EXPECT_EQ(ex(2), ssproto_current_exchange());
    } else {
      EXPECT_EQ(before, header_text());
    }
  }
}

// Trades and quotes (the messages whose handlers keep to one stock) on two
// exchanges, with exchange switches between them: split at every byte, the
// stream leaves the same header state and stocks as decoded message by
// message, and completes to the same end.
TEST_F(Proto, StockMessagesOnTwoExchangesSplitAtAnyByte) {
  const auto price = [](uint32_t p, uint32_t* ref) {
    uint8_t b[kEncodeRoomVint];
    return Bytes(b, b + encode_price(b, p, ref));
  };
  const auto volume = [](uint64_t v) {
    uint8_t b[kEncodeRoomVint];
    return Bytes(b, b + encode_volume(b, v));
  };
  uint32_t abc = 0, xyz = 0, abd = 0;
  Wire w;
  select(w, 0);
  w.msg(29, at(10, 0, 0), "ABC").raw(price(12340, &abc)).raw(volume(500));
  w.msg(28, at(10, 0, 1), "ABD").u8(0x10).raw(price(5000, &abd));
  w.msg(53).select(1);
  w.msg(29, at(10, 0, 2), "XYZ").raw(price(99000, &xyz)).raw(volume(100));
  w.msg(1, 0, "XYZ").raw(price(98000, &xyz)).raw(volume(200));
  w.msg(30, at(10, 0, 9)).raw(volume(300));
  w.msg(51).u8(0).select(0);
  w.msg(29, 0, "ABC").raw(price(12350, &abc)).raw(volume(700));
  w.msg(14, at(10, 1, 0), "ABC").raw(price(12400, &abc)).raw(volume(900));
  expect_same_state_whole_or_split(w, [] { return header_text() + stocks_text(); });
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_NE(nullptr, ssmodel_find_stock(ex(1), "XYZ"));
  EXPECT_EQ(98000u, ssmodel_find_stock(ex(1), "XYZ")->bid);
  EXPECT_EQ(12400u, ssmodel_find_stock(ex(0), "ABC")->offer);
}
