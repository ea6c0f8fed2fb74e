// Record headers: known-answer tables for the timed, stepped and stock-stream
// readers and for the writers' choice of form, every prefix incomplete with
// the exchange and stock state unchanged, the error paths with their lines,
// save and restore with speeds taken back, and a seeded differential run in
// which a writer exchange and a reader exchange with the same stocks must
// agree on every record's type, code and time, run blocks included.
#include "dechdr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "decblk.h"
#include "encblk.h"
#include "enchdr.h"
#include "sstime.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

using Bytes = std::vector<uint8_t>;

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

ss_time at(int h, int mi, int s) { return sstime_pack(s, mi, h, 14, 3, 2014); }

Bytes be32(ss_time t) { return {uint8_t(t >> 24), uint8_t(t >> 16), uint8_t(t >> 8), uint8_t(t)}; }
Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Codes of the current list: A00 .. A99 then the few named ones, so that steps
// of 200 and more exist. Speeds are given to the first few stocks.
std::vector<std::string> stock_codes() {
  std::vector<std::string> out = {"ABC", "ABD", "BHP", "CBA", "NAB", "WBC", "ZZZ"};
  for (int i = 0; i < 300; i++) {
    char c[8];
    snprintf(c, sizeof c, "Q%03d", i);
    out.push_back(c);
  }
  return out;
}

class Headers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, ssmodel_init(kTerminalModelOptions));
    ASSERT_EQ(0, codec_init());
    for (int i = 0; i < 2; i++) {
      ex_[i] = ssmodel_new_exchange(i, kTerminalExchangeFlags);
      ASSERT_NE(nullptr, ex_[i]);
      for (const std::string& c : stock_codes()) {
        ss_stock* s = ssmodel_add_stock(ex_[i], c.c_str());
        ASSERT_NE(nullptr, s) << c;
        ssmodel_stock_make_current(s);
      }
      for (const char* c : {"XAO", "XJO", "XKO"}) {
        ss_index* x = ssmodel_add_index(ex_[i], c);
        ASSERT_NE(nullptr, x);
        ssmodel_link_index_current(x);
      }
    }
    ex = ex_[0];
    // Speeds: CBA 0, BHP 1, ABC 2; indices XKO 0, XJO 1.
    for (const char* c : {"CBA", "BHP", "ABC"}) dechdr_add_stock_speed(ssmodel_find_stock(ex, c));
    for (const char* c : {"XKO", "XJO"}) dechdr_add_index_speed(ssmodel_find_index(ex, c));
    strcpy(ex->cur_code, "ABC");
    ex->cur_time = t0;
    ex->high_time = t0;
  }
  void TearDown() override {
    codec_fini();
    ssmodel_fini();
  }
  ss_stock* stock(const char* code) { return ssmodel_find_stock(ex, code); }

  ss_exchange* ex_[2] = {};
  ss_exchange* ex = nullptr;
  const ss_time t0 = at(10, 0, 0);
  const ss_time t1 = at(10, 5, 30);
};

struct Snapshot {
  std::string code;
  ss_time cur, high;
  uint32_t speeds, index_speeds;
  explicit Snapshot(const ss_exchange* e)
      : code(e->cur_code), cur(e->cur_time), high(e->high_time), speeds(e->speed_count),
        index_speeds(e->index_speed_count) {}
  bool operator==(const Snapshot& o) const {
    return code == o.code && cur == o.cur && high == o.high && speeds == o.speeds && index_speeds == o.index_speeds;
  }
};

struct ReadCase {
  const char* name;
  Bytes in;
  int used;
  uint32_t type;
  const char* code;
  ss_time time;  // 0: the exchange's time before the header
  int32_t speed;
};

// The full reader of either form, or the timed form's entry (which reads
// its commonest headers inline before it falls back on the full reader).
using Reader = int (*)(const uint8_t*, int32_t, ss_exchange*, int, uint32_t*, ss_time*, char*, int32_t*);
int timed_entry(const uint8_t* data, int32_t n, ss_exchange* ex, int, uint32_t* type, ss_time* time, char* code,
                int32_t* speed) {
  return dechdr_decode_timed(data, n, ex, type, time, code, speed);
}

void check_reads(ss_exchange* ex, int stepped, const std::vector<ReadCase>& cases) {
  const Snapshot before(ex);
  const Reader timed_readers[] = {dechdr_decode_exchange_header, timed_entry};
  for (const ReadCase& c : cases)
    for (const Reader read : timed_readers) {
      if (stepped && read != dechdr_decode_exchange_header) continue;
      SCOPED_TRACE(testing::Message() << c.name << (read == timed_entry ? " (timed entry)" : ""));
      uint32_t type = 0;
      ss_time time = 0;
      char code[kCodeSize] = "?";
      int32_t speed = 99;
      const ss_time expect_time = c.time ? c.time : before.cur;
      // Every prefix is incomplete and leaves the state alone.
      for (size_t cut = 0; cut < c.in.size(); cut++) {
        ASSERT_EQ(0, read(c.in.data(), int32_t(cut), ex, stepped, &type, &time, code, &speed));
        ASSERT_TRUE(Snapshot(ex) == before);
      }
      Bytes more = cat(c.in, {0xEE});
      ASSERT_EQ(c.used, read(more.data(), int32_t(more.size()), ex, stepped, &type, &time, code, &speed));
      EXPECT_EQ(c.type, type);
      EXPECT_STREQ(c.code, code);
      EXPECT_EQ(expect_time, time);
      EXPECT_EQ(c.speed, speed);
      EXPECT_STREQ(c.code, ex->cur_code);
      EXPECT_EQ(expect_time, ex->cur_time);
      EXPECT_EQ(std::max(before.high, expect_time), ex->high_time);
      // Back to the same state for the next row.
      strcpy(ex->cur_code, before.code.c_str());
      ex->cur_time = before.cur;
      ex->high_time = before.high;
    }
}

TEST_F(Headers, TimedKnownAnswers) {
  check_reads(ex, 0,
              {
                  {"same", {0x1D}, 1, 29, "ABC", 0, -1},
                  {"next code", {0x5D}, 1, 29, "ABD", 0, -1},
                  {"stock speed", {0x81, 0x00, 0x01}, 3, 1, "BHP", 0, 1},
                  {"stock speed, time", cat({0xBD, 0x00, 0x02}, be32(t1)), 7, 29, "ABC", t1, 2},
                  {"stock speed, the same code", {0x9D, 0x00, 0x02}, 3, 29, "ABC", 0, 2},
                  {"index speed (type 31)", {0x9F, 0x01}, 2, 31, "XJO", 0, 1},
                  {"index speed, time", cat({0xBF, 0x00}, be32(t1)), 6, 31, "XKO", t1, 0},
                  {"index speed (type 80)", {0x80, 80, 0x00}, 3, 80, "XKO", 0, 0},
                  {"full code", {0xDD, 0x89, 0x10}, 3, 29, "BHP", 0, -1},
                  {"time flag", cat({0x3D}, be32(t1)), 5, 29, "ABC", t1, -1},
                  {"type byte, code, time", cat({0xE0, 200, 0x89, 0x10}, be32(t1)), 8, 200, "BHP", t1, -1},
                  {"type byte, speed", {0x80, 44, 0x00, 0x00}, 4, 44, "CBA", 0, 0},
                  {"literal code", {0xC1, 0x03, 'a', '_', 'b'}, 5, 1, "a_b", 0, -1},
              });
}

TEST_F(Headers, SteppedKnownAnswers) {
  // The list in code order: ABC ABD BHP CBA NAB Q000 .. Q299 WBC ZZZ.
  check_reads(ex, 1,
              {
                  {"same", {0x1D}, 1, 29, "ABC", 0, -1},
                  {"one on", {0x3D}, 1, 29, "ABD", 0, -1},
                  {"three on", {0x7D}, 1, 29, "CBA", 0, -1},
                  {"four on", {0x9D}, 1, 29, "NAB", 0, -1},
                  {"5 + byte 0: four on", {0xBD, 0x00}, 2, 29, "NAB", 0, -1},
                  {"200 places on", {0xBD, 196}, 2, 29, "Q195", 0, -1},
                  {"259 places on", {0xBD, 255}, 2, 29, "Q254", 0, -1},
                  {"stock speed", {0xDD, 0x00, 0x02}, 3, 29, "ABC", 0, 2},
                  {"index speed", {0xDF, 0x00}, 2, 31, "XKO", 0, 0},
                  {"full code", {0xFD, 0x89, 0x10}, 3, 29, "BHP", 0, -1},
                  {"type byte then step", {0x20, 100}, 2, 100, "ABD", 0, -1},
              });
  // Index types step through the current-index list.
  strcpy(ex->cur_code, "XAO");
  check_reads(ex, 1, {{"index one on", {0x3F}, 1, 31, "XJO", 0, -1}, {"index two on", {0x5F}, 1, 31, "XKO", 0, -1}});
}

TEST_F(Headers, NextCodeWalksTheCurrentList) {
  char code[kCodeSize];
  strcpy(ex->cur_code, "Q297");
  ASSERT_EQ(0, dechdr_next_code(code, ex, 4));
  EXPECT_STREQ("ZZZ", code);
  ASSERT_EQ(0, dechdr_next_code(code, ex, 1));
  EXPECT_STREQ("Q298", code);
  EXPECT_EQ(-1, dechdr_next_code(code, ex, 5));
}

TEST_F(Headers, BadHeadersFailWithTheirLinesAndChangeNothing) {
  ASSERT_NE(nullptr, ssmodel_add_stock(ex, "DEF"));  // known, not current
  struct Case {
    const char* name;
    int stepped;
    ss_exchange* exchange;
    const char* cur;
    Bytes in;
    const char* line;
  } cases[] = {
      {"stock speed beyond the table", 0, ex, "ABC", {0x81, 0x00, 0x03}, "bad ASX speed 3/3"},
      {"index speed beyond the table", 0, ex, "ABC", {0x9F, 0x02}, "bad ASX speed 2/2"},
      {"stepped stock speed", 1, ex, "ABC", {0xDD, 0x01, 0x00}, "bad ASX speed 256/3 ("},
      {"stepped index speed", 1, ex, "ABC", {0xDF, 0x09}, "bad ASX speed 9/2"},
      {"steps past the list's end", 1, ex, "WBC", {0x5D}, "not enough codes: 2 needed from WBC"},
      {"byte steps past the end", 1, ex, "Q100", {0xBD, 0xFF}, "not enough codes: 259 needed from Q100"},
      {"step without an exchange", 1, nullptr, "", {0x3D}, "no prior code to fetch next+1 code"},
      {"next without an exchange", 0, nullptr, "", {0x5D}, "no prior code to fetch next+1 code"},
      {"next from an empty code", 0, ex, "", {0x5D}, "no code follows"},
      {"step from an empty code", 1, ex, "", {0x3D}, "no current stock  to step from"},
      {"step from a code that is no stock", 1, ex, "BAA", {0x3D}, "no current stock BAA to step from"},
      {"step from a stock not in the list", 1, ex, "DEF", {0xBD, 0x00}, "no current stock DEF to step from"},
      {"stock step from an index code", 1, ex, "XJO", {0x5D}, "no current stock XJO to step from"},
      {"index step from a stock code", 1, ex, "ABC", {0x3F}, "no current index ABC to step from"},
      {"literal code too long", 0, ex, "ABC", {0xC1, 0x0C, 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A'},
       "bad code length 12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    strcpy(ex->cur_code, c.cur);
    const Snapshot before(ex);
    LogCapture cap;
    char code[kCodeSize];
    EXPECT_EQ(-1, dechdr_decode_exchange_header(c.in.data(), int32_t(c.in.size()), c.exchange, c.stepped, nullptr,
                                                nullptr, code, nullptr));
    EXPECT_TRUE(cap.has(c.line));
    EXPECT_TRUE(Snapshot(ex) == before);
    if (!c.stepped) {  // the timed entry says the same
      LogCapture again;
      EXPECT_EQ(-1, dechdr_decode_timed(c.in.data(), int32_t(c.in.size()), c.exchange, nullptr, nullptr, code,
                                        nullptr));
      EXPECT_TRUE(again.has(c.line));
      EXPECT_TRUE(Snapshot(ex) == before);
    }
  }
}

TEST_F(Headers, WithoutAnExchangeReadersStepOverTheBytes) {
  uint32_t type;
  ss_time time;
  char code[kCodeSize];
  int32_t speed;
  const Bytes timed = cat({0x9D, 0x12, 0x34}, {});
  EXPECT_EQ(3, dechdr_decode_timed(timed.data(), 3, nullptr, &type, &time, code, &speed));
  EXPECT_EQ(0x1234, speed);
  EXPECT_STREQ("", code);
  const Bytes with_time = cat({0x3D}, be32(t1));
  EXPECT_EQ(5, dechdr_decode_timed(with_time.data(), 5, nullptr, &type, &time, code, &speed));
  EXPECT_EQ(t1, time);
  EXPECT_EQ(2, dechdr_decode_stock_header(Bytes{0xC1, 9}.data(), 2, nullptr, &type, &time));
}

TEST_F(Headers, StockStreamKnownAnswers) {
  ss_stock* s = stock("BHP");
  struct Case {
    Bytes in;
    int used;
    uint32_t type;
    int32_t seconds;  // after the stream time; -1: the time t1
  } cases[] = {
      {{0x1D}, 1, 29, 0},        {{0xBD}, 1, 29, 5},          {{0xDD, 7}, 2, 29, 7},  {{0xDD, 255}, 2, 29, 255},
      {cat({0xFD}, be32(t1)), 5, 29, -1}, {{0xA0, 150}, 2, 150, 5}, {{0xC0, 150, 0}, 3, 150, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.in));
    s->stream_time = t0;
    for (size_t cut = 0; cut < c.in.size(); cut++) {
      ASSERT_EQ(0, dechdr_decode_stock_header(c.in.data(), int32_t(cut), s, nullptr, nullptr));
      ASSERT_EQ(t0, s->stream_time);
    }
    uint32_t type;
    ss_time time;
    ASSERT_EQ(c.used, dechdr_decode_stock_header(c.in.data(), int32_t(c.in.size()), s, &type, &time));
    const ss_time expect = c.seconds < 0 ? t1 : t0 + ss_time(c.seconds);
    EXPECT_EQ(c.type, type);
    EXPECT_EQ(expect, time);
    EXPECT_EQ(expect, s->stream_time);
  }
}

// ---------------------------------------------------------------------------
// Writers

TEST_F(Headers, CompactExchangeHeader) {
  struct Case {
    uint32_t type;
    int32_t speed;
    const char* code;
    Bytes expect;  // empty: refused
  } cases[] = {
      {212, -1, nullptr, {0x00, 0xD4}},
      {5, 3, nullptr, {0x05, 0x03}},
      {40, 7, "BHP", {0x00, 0x28, 0x07, 0x89, 0x10}},
      {31, -1, "", {0x1F, 0x80, 0x00}},
      {0, -1, nullptr, {}},
      {256, -1, nullptr, {}},
      {5, 256, nullptr, {}},
      {5, -1, "ABCDEFGHIJKL", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    uint8_t out[kHeaderRoom];
    const int n = enchdr_encode_exchange(out, c.type, c.speed, c.code);
    if (c.expect.empty()) {
      EXPECT_EQ(-1, n);
    } else {
      ASSERT_EQ(int(c.expect.size()), n);
      EXPECT_EQ(c.expect, Bytes(out, out + n));
    }
  }
  // Type and nothing else reads as a timed header about the current code.
  uint8_t out[kHeaderRoom];
  const int n = enchdr_encode_exchange(out, 212, -1, nullptr);
  uint32_t type;
  char code[kCodeSize];
  EXPECT_EQ(n, dechdr_decode_timed(out, n, ex, &type, nullptr, code, nullptr));
  EXPECT_EQ(212u, type);
  EXPECT_STREQ("ABC", code);
}

struct WriteCase {
  const char* name;
  const char* cur;  // current code before
  uint32_t type;
  const char* code;
  int32_t speed;
  int timed_later;  // timed: a time 330 s after the current one
  Bytes expect;
};

TEST_F(Headers, TimedWriterChoosesTheShortestForm) {
  const WriteCase cases[] = {
      {"same stock, same time", "BHP", 29, "BHP", 1, 0, {0x1D}},
      {"ABD after ABC", "ABC", 29, "ABD", -1, 0, {0x5D}},
      {"speed", "ABC", 29, "BHP", 1, 0, {0x9D, 0x00, 0x01}},
      {"wrong speed: full code", "ABC", 29, "BHP", 0, 0, {0xDD, 0x89, 0x10}},
      {"index speed", "ABC", 31, "XJO", 1, 0, {0x9F, 0x01}},
      {"no speed", "ABC", 29, "BHP", -1, 0, {0xDD, 0x89, 0x10}},
      {"new time", "ABC", 29, "ABC", -1, 1, cat({0x3D}, be32(t0 + 330))},
      {"type byte", "ABC", 200, "", -1, 0, {0x00, 200}},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    strcpy(ex->cur_code, c.cur);
    ex->cur_time = t0;
    uint8_t out[kHeaderRoom];
    const ss_time when = c.timed_later ? t0 + 330 : t0;
    const int n = enchdr_encode_timed(out, ex, c.type, when, c.code, c.speed);
    ASSERT_EQ(int(c.expect.size()), n);
    EXPECT_EQ(c.expect, Bytes(out, out + n));
    EXPECT_STREQ(c.code[0] ? c.code : c.cur, ex->cur_code);
    EXPECT_EQ(when, ex->cur_time);
  }
}

TEST_F(Headers, SteppedWriterChoosesTheShortestForm) {
  ss_stock* far = stock("Q254");  // 259 places after ABC
  ss_stock* farther = stock("Q255");
  dechdr_add_stock_speed(farther);  // speed 3
  const WriteCase cases[] = {
      {"same", "ABC", 29, "ABC", -1, 0, {0x1D}},
      {"three on", "ABC", 29, "CBA", 0, 0, {0x7D}},
      {"four on", "ABC", 29, "NAB", -1, 0, {0x9D}},
      {"five on", "ABC", 29, "Q000", -1, 0, {0xBD, 0x01}},
      {"200 on", "ABC", 29, "Q195", -1, 0, {0xBD, 196}},
      {"259 on", "ABC", 29, far->code, -1, 0, {0xBD, 255}},
      {"260 on with a speed", "ABC", 29, farther->code, 3, 0, {0xDD, 0x00, 0x03}},
      {"260 on without one", "ABC", 29, farther->code, -1, 0, {0xFD, 0x14, 0x5e, 0x86, 0x10, 0x00}},
      {"index never steps", "XAO", 31, "XJO", 1, 0, {0xDF, 0x01}},
      {"index without speed", "XAO", 31, "XJO", -1, 0, {0xFF, 0xE1, 0x4F}},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    strcpy(ex->cur_code, c.cur);
    uint8_t out[kHeaderRoom];
    const int n = enchdr_encode_stepped(out, ex, c.type, c.code, c.speed);
    ASSERT_EQ(int(c.expect.size()), n);
    EXPECT_EQ(c.expect, Bytes(out, out + n));
    // The reader, from the same state, finds the same code.
    strcpy(ex->cur_code, c.cur);
    char code[kCodeSize];
    ASSERT_EQ(n, dechdr_decode_stepped(out, n, ex, nullptr, nullptr, code, nullptr));
    EXPECT_STREQ(c.code, code);
  }
}

TEST_F(Headers, StockStreamWriterClasses) {
  ss_stock* s = stock("NAB");
  struct Case {
    int32_t seconds;
    Bytes expect;
  } cases[] = {
      {0, {0x1D}}, {5, {0xBD}}, {6, {0xDD, 6}}, {7, {0xDD, 7}}, {255, {0xDD, 255}},
      {300, cat({0xFD}, be32(t0 + 300))}, {-1, cat({0xFD}, be32(t0 - 1))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    s->stream_time = t0;
    uint8_t out[kHeaderRoom];
    const int n = enchdr_encode_stock_header(out, s, 29, t0 + ss_time(c.seconds));
    EXPECT_EQ(c.expect, Bytes(out, out + n));
    EXPECT_EQ(t0 + ss_time(c.seconds), s->stream_time);
  }
}

TEST_F(Headers, WritersRefuseWhatTheyCannotWrite) {
  uint8_t out[kHeaderRoom];
  const Snapshot before(ex);
  EXPECT_EQ(-1, enchdr_encode_timed(out, ex, 0, t1, "BHP", -1));
  EXPECT_EQ(-1, enchdr_encode_timed(out, ex, 29, t1, "ABCDEFGHIJKL", -1));
  EXPECT_EQ(-1, enchdr_encode_stepped(out, ex, 300, "BHP", -1));
  EXPECT_EQ(-1, enchdr_encode_timed(out, nullptr, 29, t1, "BHP", -1));
  EXPECT_EQ(-1, enchdr_encode_stock_header(out, nullptr, 29, t1));
  EXPECT_TRUE(Snapshot(ex) == before);
}

// ---------------------------------------------------------------------------
// State, speeds and runs

TEST_F(Headers, SaveAndRestoreTakeBackEverything) {
  ss_stock* s = stock("WBC");
  s->stream_time = t0;
  dechdr_state st;
  dechdr_save(&st, ex, s);
  const Snapshot before(ex);
  ss_stock* fresh = stock("NAB");
  ss_index* index = ssmodel_find_index(ex, "XAO");
  EXPECT_EQ(3, dechdr_add_stock_speed(fresh));
  EXPECT_EQ(3, dechdr_add_stock_speed(fresh)) << "a speed is given once";
  EXPECT_EQ(2, dechdr_add_index_speed(index));
  const Bytes h = cat({0xDD, 0x89, 0x10}, {});
  ASSERT_EQ(3, dechdr_decode_timed(h.data(), 3, ex, nullptr, nullptr, nullptr, nullptr));
  const Bytes later = cat({0x3D}, be32(t1));
  ASSERT_EQ(5, dechdr_decode_timed(later.data(), 5, ex, nullptr, nullptr, nullptr, nullptr));
  ASSERT_EQ(2, dechdr_decode_stock_header(Bytes{0xDD, 9}.data(), 2, s, nullptr, nullptr));
  EXPECT_FALSE(Snapshot(ex) == before);
  dechdr_restore(&st);
  EXPECT_TRUE(Snapshot(ex) == before);
  EXPECT_EQ(t0, s->stream_time);
  EXPECT_EQ(-1, fresh->speed);
  EXPECT_EQ(-1, index->speed);
  EXPECT_EQ(nullptr, ex->speeds[3]);
  EXPECT_EQ(3, dechdr_add_stock_speed(stock("ZZZ"))) << "the speed is free again";
}

// Warming the next message's stock is only a hint on bytes that may be cut
// short or hostile: every header form, speeds in and out of the table and
// every cut of each, each in a buffer of exactly its size (so that a read
// past it is caught), with and without an exchange, leave the state alone.
TEST_F(Headers, WarmingTheNextStockReadsOnlyItsHeaderAndChangesNothing) {
  const Snapshot before(ex);
  const Bytes cases[] = {
      {0x81, 0x00, 0x01},        // depth type, speed 1 (BHP)
      {0x81, 0x01, 0xF4},        // speed 500: beyond the table
      {0x81, 0xFF, 0xFF},        // the largest speed
      {0x9F, 0x01},              // an index type takes a one-byte index speed
      {0x80, 0x1C, 0x00, 0x02},  // a two-byte type (28), speed 2
      {0x01},                    // the current code
      {0xC1, 'B', 'H', 'P', 0},  // a code
  };
  for (const Bytes& c : cases) {
    for (size_t cut = 0; cut <= c.size(); cut++) {
      std::unique_ptr<uint8_t[]> exact(new uint8_t[cut ? cut : 1]);
      if (cut) memcpy(exact.get(), c.data(), cut);
      dechdr_warm_next(exact.get(), int32_t(cut), ex);
      dechdr_warm_next(exact.get(), int32_t(cut), nullptr);
      ASSERT_TRUE(Snapshot(ex) == before) << "cut " << cut;
    }
  }
}

TEST_F(Headers, SpeedTablesFill) {
  // Every stock of the list gets the next speed until the table of 65536
  // would be passed; an index table of 256 likewise.
  ex->speed_count = kStockSpeeds - 1;
  ss_stock* a = stock("Q001");
  ss_stock* b = stock("Q002");
  EXPECT_EQ(int32_t(kStockSpeeds - 1), dechdr_add_stock_speed(a));
  EXPECT_EQ(-1, dechdr_add_stock_speed(b));
  EXPECT_EQ(-1, b->speed);
  ex->index_speed_count = kIndexSpeeds;
  EXPECT_EQ(-1, dechdr_add_index_speed(ssmodel_find_index(ex, "XAO")));
  ex->speed_count = 3;
  ex->index_speed_count = 2;
  a->speed = -1;
}

TEST_F(Headers, RunBlocks) {
  uint8_t rec[kHeaderRoom];
  Bytes records;
  // Two stepped records: NAB (four on from ABC), then the same stock again.
  int n = enchdr_encode_stepped(rec, ex, 29, "NAB", -1);
  records.insert(records.end(), rec, rec + n);
  n = enchdr_encode_stepped(rec, ex, 30, "NAB", -1);
  records.insert(records.end(), rec, rec + n);
  ASSERT_EQ((Bytes{0x9D, 0x1E}), records);
  strcpy(ex->cur_code, "ABC");

  growbuf gb{};
  ASSERT_EQ(0, growbuf_init(&gb, 0, 4096));
  ASSERT_EQ(0, enchdr_encode_run(&gb, ex, t0, records.data(), int32_t(records.size())));
  ASSERT_EQ(0, enchdr_encode_run(&gb, ex, t1, records.data(), int32_t(records.size())));
  const Bytes stream(gb.data, gb.data + gb.len);
  EXPECT_EQ((Bytes{27, 0x02, 0x9D, 0x1E, 59}), Bytes(stream.begin(), stream.begin() + 5));
  EXPECT_EQ(be32(t1), Bytes(stream.begin() + 5, stream.begin() + 9));
  EXPECT_EQ(t1, ex->cur_time);

  // Read back on the reader exchange.
  ss_exchange* rx = ex_[1];
  strcpy(rx->cur_code, "ABC");
  rx->cur_time = t0;
  growbuf out{};
  ASSERT_EQ(0, growbuf_init(&out, 0, 4096));
  for (size_t cut = 0; cut < stream.size(); cut++) {
    const Snapshot before(rx);
    const int r = dechdr_decode_run(stream.data(), int32_t(cut), rx, &out, nullptr);
    ASSERT_TRUE(r == 0 || r == 4) << cut;  // the first run is 4 bytes
    if (r == 0) {
      ASSERT_TRUE(Snapshot(rx) == before);
      ASSERT_EQ(0, out.len);
    }
    growbuf_reset(&out);
  }
  ss_time time;
  int used = dechdr_decode_run(stream.data(), int32_t(stream.size()), rx, &out, &time);
  ASSERT_EQ(4, used);
  EXPECT_EQ(t0, time);
  used += dechdr_decode_run(stream.data() + used, int32_t(stream.size()) - used, rx, &out, &time);
  EXPECT_EQ(int(stream.size()), used);
  EXPECT_EQ(t1, time);
  EXPECT_EQ(t1, rx->cur_time);
  ASSERT_EQ(4, out.len);
  uint32_t type;
  char code[kCodeSize];
  ASSERT_EQ(1, dechdr_decode_stepped(out.data, 2, rx, &type, &time, code, nullptr));
  EXPECT_STREQ("NAB", code);
  EXPECT_EQ(t1, time);

  // A timed header of another type is not a run; the state stays.
  const Snapshot before(rx);
  LogCapture cap;
  EXPECT_EQ(-1, dechdr_decode_run(Bytes{0x1D, 0x00}.data(), 2, rx, &out, nullptr));
  EXPECT_TRUE(cap.has("type 29 is not a run"));
  EXPECT_TRUE(Snapshot(rx) == before);
  growbuf_free(&gb);
  growbuf_free(&out);
}

// Writer and reader exchanges hold the same stocks and hand out speeds in the
// same order (after each record, as the dispatcher does). Every record read
// back must name the code, type and time written.
TEST_F(Headers, WriterAndReaderAgreeOnASeededStream) {
  ss_exchange* wx = ex_[0];
  ss_exchange* rx = ex_[1];
  const std::vector<std::string> codes = stock_codes();
  const char* indices[] = {"XAO", "XJO", "XKO"};
  for (ss_exchange* e : {wx, rx}) {
    for (const std::string& c : codes) ssmodel_find_stock(e, c.c_str())->speed = -1;
    for (const char* c : indices) ssmodel_find_index(e, c)->speed = -1;
    e->speed_count = e->index_speed_count = 0;
    e->cur_code[0] = '\0';
    e->cur_time = e->high_time = 0;
  }
  std::mt19937 rng(12345);
  struct Rec {
    uint32_t type;
    std::string code;
    ss_time time;
    int stepped;
  };
  std::vector<Rec> recs;
  std::set<int> timed_forms, stepped_forms;  // relations and steps the writer chose
  Bytes stream;
  ss_time now = t0;
  size_t at_code = 0;
  for (int i = 0; i < 5000; i++) {
    Rec r;
    const bool index = rng() % 8 == 0;
    r.type = index ? std::vector<uint32_t>{31, 80, 83}[rng() % 3] : std::vector<uint32_t>{29, 1, 44, 200}[rng() % 4];
    switch (rng() % 4) {  // mostly nearby codes
      case 0: break;
      case 1: at_code = (at_code + 1 + rng() % 6) % codes.size(); break;
      case 2: at_code = (at_code + rng() % 300) % codes.size(); break;
      default: at_code = rng() % codes.size();
    }
    r.code = index ? indices[rng() % 3] : codes[at_code];
    if (rng() % 3 == 0) now += rng() % 100;
    r.time = now;
    r.stepped = rng() % 2;
    uint8_t h[kHeaderRoom];
    instr* in = index ? static_cast<instr*>(ssmodel_find_index(wx, r.code.c_str()))
                      : static_cast<instr*>(ssmodel_find_stock(wx, r.code.c_str()));
    const int32_t speed = index ? static_cast<ss_index*>(in)->speed : static_cast<ss_stock*>(in)->speed;
    int n;
    if (r.stepped) {
      // A stepped record keeps the current time: write it as the run would.
      r.time = wx->cur_time;
      n = enchdr_encode_stepped(h, wx, r.type, r.code.c_str(), speed);
    } else {
      n = enchdr_encode_timed(h, wx, r.type, r.time, r.code.c_str(), speed);
    }
    ASSERT_GT(n, 0);
    (r.stepped ? stepped_forms : timed_forms).insert(r.stepped ? h[0] >> 5 : h[0] >> 6);
    if (index)
      dechdr_add_index_speed(static_cast<ss_index*>(in));
    else
      dechdr_add_stock_speed(static_cast<ss_stock*>(in));
    stream.insert(stream.end(), h, h + n);
    stream.push_back(0xEE);  // a body byte the header reader must not take
    recs.push_back(r);
  }
  size_t pos = 0;
  for (size_t i = 0; i < recs.size(); i++) {
    SCOPED_TRACE(i);
    uint32_t type;
    ss_time time;
    char code[kCodeSize];
    int32_t speed;
    const int n = dechdr_decode_exchange_header(stream.data() + pos, int32_t(stream.size() - pos), rx, recs[i].stepped,
                                                &type, &time, code, &speed);
    ASSERT_GT(n, 0);
    ASSERT_EQ(recs[i].type, type);
    ASSERT_EQ(recs[i].code, code);
    ASSERT_EQ(recs[i].time, time);
    if (dechdr_is_index_type(type))
      dechdr_add_index_speed(ssmodel_find_index(rx, code));
    else
      dechdr_add_stock_speed(ssmodel_find_stock(rx, code));
    pos += size_t(n) + 1;
  }
  EXPECT_EQ(stream.size(), pos);
  EXPECT_EQ(4u, timed_forms.size()) << "every timed relation was exercised";
  EXPECT_EQ(8u, stepped_forms.size()) << "every stepped code was exercised";
  EXPECT_EQ(wx->speed_count, rx->speed_count);
}

// Code fields: a record's field may hold anything after its NUL; the copy
// keeps the first 11 characters up to the NUL and zero-fills the rest, and
// the comparison agrees with strncmp over the field, for the NUL at every
// place and for fields whose bytes after it are not zero.
TEST(CodeFields, CopyMasksFromTheFirstNulAndCompareAgreesWithStrncmp) {
  struct row {
    const char* text;  // the characters before the NUL
    const char* kept;  // what the copy keeps
  };
  const row rows[] = {
      {"", ""},           {"A", "A"},             {"ABC", "ABC"},           {"ABCDEFG", "ABCDEFG"},
      {"ABCDEFGH", "ABCDEFGH"}, {"ABCDEFGHI", "ABCDEFGHI"}, {"ABCDEFGHIJK", "ABCDEFGHIJK"},
      {"ABCDEFGHIJKL", "ABCDEFGHIJK"},  // no NUL in the field: the twelfth byte is never kept
      {"\xFF\x80", "\xFF\x80"},          // high bytes are characters like any other
  };
  for (const row& r : rows) {
    for (const char junk : {'\0', 'Z', '\xFF'}) {
      SCOPED_TRACE(testing::Message() << "\"" << r.text << "\" then " << int(junk));
      char src[kCodeSize];
      memset(src, junk, sizeof src);
      const size_t n = strlen(r.text);
      memcpy(src, r.text, n);
      if (n < kCodeSize) src[n] = '\0';
      char want[kCodeSize] = {};
      memcpy(want, r.kept, strlen(r.kept));
      char out[kCodeSize];
      memset(out, 'Q', sizeof out);
      dechdr_code_field(out, src);
      EXPECT_EQ(0, memcmp(want, out, kCodeSize));
      char same[kCodeSize];
      memcpy(same, src, sizeof same);
      dechdr_code_field(same, same);
      EXPECT_EQ(0, memcmp(want, same, kCodeSize));
      // Against every zero-filled code of the table: strncmp's answer (for
      // record fields that end within the field, as the model's do).
      if (n < kCodeSize)
        for (const row& other : rows) {
          char field[kCodeSize] = {};
          memcpy(field, other.kept, strlen(other.kept));
          EXPECT_EQ(strncmp(src, field, kCodeSize) == 0, dechdr_same_code(src, field)) << other.text;
        }
    }
  }
}

}  // namespace
