// The request wire format: a golden table of every request kind against
// bytes worked out by hand from the field layouts (codes, vints and dates
// included), the supersede and duplicate rules of a pass, the passes that
// send nothing, an entry that cannot be encoded (consumed, never re-encoded),
// the private list after the ring, the dates of the history, news and
// news-summary requests, the day runs of kind 64, and the password and
// report blocks decrypted with OpenSSL and checked for their layout.
#include "ssclient_encode.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <vector>

#include "dalloc.h"
#include "encblk.h"
#include "growbuf.h"
#include "log.h"
#include "plat.h"
#include "ssauth.h"
#include "ssclient.h"
#include "ssclient_int.h"
#include "sserr.h"
#include "ssevent.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "sstime.h"
#include "ssuser.h"
#include "testclient.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

using bytes = std::vector<uint8_t>;

ss_time day(int y, int m, int d) { return sstime_pack_date(d, m, y); }

// Request sets the passes hand to the link.
std::vector<bytes> g_sets;
int g_send_result = 0;
int g_encoding_seen = 0;

int capture(const void* block, int32_t len) {
  const uint8_t* p = static_cast<const uint8_t*>(block);
  g_sets.emplace_back(p, p + len);
  g_encoding_seen = ssclient_encoding();
  return g_send_result;
}

bytes cat(std::initializer_list<bytes> parts) {
  bytes out;
  for (const bytes& b : parts) out.insert(out.end(), b.begin(), b.end());
  return out;
}

// AES-256-ECB without padding, by OpenSSL.
bytes openssl_decrypt(const uint8_t* key, const uint8_t* data, int n) {
  bytes out(n + 32);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int len = 0, fin = 0;
  EVP_DecryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key, nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_DecryptUpdate(ctx, out.data(), &len, data, n);
  EVP_DecryptFinal_ex(ctx, out.data() + len, &fin);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(len + fin);
  return out;
}

// date16 by its definition: the top 16 bits of the packed date, low bit clear.
bytes date16(ss_time t) { return {static_cast<uint8_t>(t >> 24), static_cast<uint8_t>((t >> 16) & 0xFE)}; }

// Hand-derived field bytes.
// Codes of up to three letters take form 1: a 1 bit, then three 5-bit
// alphabet indices (A=1 ... Z=26).
const bytes kBHP = {0x89, 0x10};  // 1 00010 01000 10000
const bytes kXJO = {0xE1, 0x4F};  // 1 11000 01010 01111
const bytes kAIR = {0x85, 0x32};  // 1 00001 01001 10010
// date16: byte 0 = (year - 1970) << 2 | month >> 2; byte 1 = (month & 3) << 6 | day << 1.
const bytes k0307 = {0xB0, 0xCE};
const bytes k0310 = {0xB0, 0xD4};
const bytes k0311 = {0xB0, 0xD6};
const bytes kNoDate = {0x00, 0x00};
const bytes k19700102 = {0x00, 0x44};

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

class Encode : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    ASSERT_EQ(0, codec_init());
    sserr_clear();
    ssclient_set_sleep_hook(no_sleep);
    ssclient_encode_set_sender(capture);
    ssclient_set_online(1);
    g_sets.clear();
    g_send_result = 0;
    asx = ssmodel_exchange(kExchangeAsx);
    nzx = ssmodel_exchange(kExchangeNzx);
    ssmodel_set_date(asx, day(2014, 3, 12));  // a Wednesday
    ssmodel_set_date(nzx, day(2014, 3, 12));
    ASSERT_NE(nullptr, stock = ssmodel_add_stock(asx, "BHP"));
    ASSERT_NE(nullptr, other = ssmodel_add_stock(asx, "XJO"));
    ASSERT_NE(nullptr, index = ssmodel_add_index(asx, "XJO"));
    ASSERT_NE(nullptr, issuer = ssmodel_get_issuer(asx, "BHP"));
    ASSERT_NE(nullptr, nz_stock = ssmodel_add_stock(nzx, "AIR"));
  }
  void TearDown() override {
    ssclient_encode_set_sender(nullptr);
    ssuser_clear_config(nullptr);
    ssclient_fini();
  }

  // Encodes one entry on its own into the emptied send buffer.
  bytes one(const ss_request& e, int* result = nullptr) {
    growbuf* sb = ssclient_send_buffer();
    growbuf_reset(sb);
    int r = ssclient_encode_request(&e);
    if (result) *result = r;
    return bytes(sb->data, sb->data + sb->len);
  }
  // One pass; the set it sent (empty when none).
  bytes pass() {
    g_sets.clear();
    ssclient_encode_requests();
    EXPECT_LE(g_sets.size(), 1u);
    return g_sets.empty() ? bytes() : g_sets[0];
  }
  void queue(uint32_t kind, void* p, uint64_t a = 0, uint64_t b = 0) {
    ASSERT_EQ(0, ssclient_enqueue(kind, p, a, b, 0));
  }
  bytes req(uint32_t kind, const bytes& code) { return cat({{0, static_cast<uint8_t>(kind), 0}, code}); }

  ss_exchange* asx = nullptr;
  ss_exchange* nzx = nullptr;
  ss_stock* stock = nullptr;
  ss_stock* other = nullptr;
  ss_index* index = nullptr;
  ss_issuer* issuer = nullptr;
  ss_stock* nz_stock = nullptr;
};

// ---------------------------------------------------------------------------
// Golden table

TEST_F(Encode, EveryKindAgainstHandDerivedBytes) {
  ASSERT_EQ(0, ssuser_store_config("cfg!", 4));
  nzx->fun_position = 5;
  const uint32_t positions[4] = {1, 0x01020304, 0xffffffff, 0};
  for (int i = 0; i < 4; i++) ssproto_set_exchange_position(i, positions[i]);
  ss_time d0311 = day(2014, 3, 11);
  struct Row {
    ss_request e;
    bytes want;
  };
  const Row rows[] = {
      {{1, nullptr, 7, 0, 0}, {0x00, 0x01, 0x01, 'c', 'f', 'g', '!'}},
      {{2, nullptr, 0x101, 0, 0}, {0x00, 0x02, 0x01}},
      {{10, stock, 0, 0, 0}, cat({{0x00, 0x0A, 0x00}, kBHP})},
      {{11, stock, 0, 0, 0}, cat({{0x00, 0x0B, 0x00}, kBHP})},
      {{12, stock, 0, 0, 0}, cat({{0x00, 0x0C, 0x00}, kBHP})},
      {{13, stock, 0, 0, 0}, cat({{0x00, 0x0D, 0x00}, kBHP})},
      {{20, stock, 0, 0, 0}, cat({{0x00, 0x14, 0x00}, kBHP})},
      {{21, index, 0, 0, 0}, cat({{0x00, 0x15, 0x00}, kXJO})},
      {{30, stock, 0, 0, 0}, cat({{0x00, 0x1E, 0x00}, kBHP, kNoDate})},
      {{31, index, 0, 0, 0}, cat({{0x00, 0x1F, 0x00}, kXJO, kNoDate})},
      {{32, issuer, 0, 0, 0}, cat({{0x00, 0x20, 0x00}, kBHP, kNoDate})},
      {{34, nzx, 0, 0, 0}, cat({{0x00, 0x22, 0x01}, k19700102})},
      {{50, stock, 0, 0, 0}, cat({{0x00, 0x32, 0x00}, kBHP})},
      {{51, stock, 0, 0, 0}, cat({{0x00, 0x33, 0x00}, kBHP})},
      {{60, stock, 0, 0, 0}, cat({{0x00, 0x3C, 0x00}, kBHP})},
      {{61, nz_stock, 0, 0, 0}, cat({{0x00, 0x3D, 0x01}, kAIR})},
      {{62, stock, d0311, 0, 0}, cat({{0x00, 0x3E, 0x00}, kBHP, k0311})},
      {{63, stock, d0311, 0, 0}, cat({{0x00, 0x3F, 0x00}, kBHP, k0311})},
      {{70, index, d0311, 0, 0}, cat({{0x00, 0x46, 0x00}, kXJO, k0311})},
      {{80, nzx, 0, 0, 0}, {0x00, 0x50, 0x01, 0x06}},
      {{81, nzx, 1, 0x10007, 0}, {0x00, 0x51, 0x01, 0x00, 0x07, 0x01}},
      {{81, nzx, 1, 0x00203, 0}, {0x00, 0x51, 0x01, 0x02, 0x03, 0x00}},
      {{90, nullptr, 0, 0, 0}, {'Z'}},
      {{92, nullptr, 0, 0, 0}, {'\\'}},
      {{93, nullptr, 0, 0, 0},
       {0x00, 0x5D, 0x04, 0, 0, 0, 1, 1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}},
      {{110, issuer, 1234, 0, 0}, cat({{0x00, 0x6E, 0x00}, kBHP, {0x92, 0x13}})},  // vint 1234: 10 010010, 00010011
      {{110, issuer, 100, 0, 0}, cat({{0x00, 0x6E, 0x00}, kBHP, {0x64}})},
      {{111, nz_stock, 0, 0, 0}, cat({{0x00, 0x6F, 0x01}, kAIR})},
      {{5, stock, 0, 0, 0}, {}},    // in range, no such request
      {{300, stock, 0, 0, 0}, {}},  // out of range
  };
  for (const Row& r : rows) {
    SCOPED_TRACE("kind " + std::to_string(r.e.kind));
    int result = -2;
    EXPECT_EQ(r.want, one(r.e, &result));
    EXPECT_EQ(0, result);
  }
  nzx->fun_position = -1;  // none: sent as 0
  EXPECT_EQ((bytes{0x00, 0x50, 0x01, 0x00}), one({80, nzx, 0, 0, 0}));
}

TEST_F(Encode, UnknownKindsAreLoggedAndWriteNothing) {
  LogCapture log;
  int result = -2;
  EXPECT_TRUE(one({300, nullptr, 0, 0, 0}, &result).empty());
  EXPECT_EQ(1, log.count("unknown request 300"));
  EXPECT_TRUE(one({0, nullptr, 0, 0, 0}, &result).empty());
  EXPECT_EQ(1, log.count("unknown request 0"));
}

TEST_F(Encode, HttpRequestIsHandedToIoAndWritesNothing) {
  // The caller's record must outlive the request: it is still queued when
  // the fixture stops the client, which marks it failed.
  static ssio_progress progress;
  progress.phase = 99;
  int32_t id = ssclient_request_http("http://example.invalid/doc", nullptr, nullptr, 0, &progress);
  ASSERT_GT(id, 0);
  EXPECT_EQ(0, progress.phase);  // zeroed by the sender
  int32_t before = ssio_pending_count();
  EXPECT_TRUE(pass().empty());
  EXPECT_EQ(before + 1, ssio_pending_count());
  EXPECT_EQ(kSsioProgressQueued, progress.phase);
  EXPECT_EQ(0, ssclient_ring_count());
  EXPECT_EQ(id + 1, ssclient_request_http("http://example.invalid/2", nullptr, nullptr, 0, nullptr));
}

TEST_F(Encode, ConfigUploadWithoutStoredConfigFails) {
  LogCapture log;
  int result = 0;
  EXPECT_TRUE(one({1, nullptr, 1, 0, 0}, &result).empty());
  EXPECT_EQ(-1, result);
  EXPECT_EQ(1, log.count("can't get user config?"));
}

// ---------------------------------------------------------------------------
// Passes: supersede and duplicate rules

TEST_F(Encode, SupersedeRulesKeepOnlyWhatIsNeeded) {
  struct Row {
    std::vector<uint32_t> queued;
    std::vector<uint32_t> sent;
  };
  const Row rows[] = {
      {{12, 20}, {20}},
      {{20, 12}, {20}},  // wherever it stands in the span
      {{10, 12, 13}, {12, 13}},
      {{11, 12, 13}, {12, 13}},
      {{10, 13}, {10, 13}},
      {{10, 61}, {61}},
      {{11, 60}, {60}},
      {{50, 20}, {20}},
      {{51, 50}, {50}},
      {{61, 60}, {60}},
      {{60, 61}, {60}},
      {{61, 20, 60}, {20}},
      {{20, 20}, {20}},
      {{12, 13, 51}, {12, 13, 51}},
  };
  for (const Row& r : rows) {
    std::string trace;
    for (uint32_t k : r.queued) trace += std::to_string(k) + " ";
    SCOPED_TRACE(trace);
    for (uint32_t k : r.queued) queue(k, stock);
    bytes want;
    for (uint32_t k : r.sent) want = cat({want, req(k, kBHP)});
    EXPECT_EQ(want, pass());
    EXPECT_EQ(0, ssclient_ring_count());
  }
}

TEST_F(Encode, RulesApplyPerInstrumentAndDuplicatesKeepTheNewest) {
  queue(12, stock);
  queue(20, other);  // another stock's snapshot does not replace BHP's queue
  EXPECT_EQ(cat({req(12, kBHP), req(20, kXJO)}), pass());

  queue(110, issuer, 1);
  queue(110, issuer, 2);
  queue(110, issuer, 1);
  EXPECT_EQ(cat({req(110, kBHP), {0x02}, req(110, kBHP), {0x01}}), pass());

  queue(1, nullptr, 0);  // a null pointer compares like any other
  queue(1, nullptr, 0);
  ASSERT_EQ(0, ssuser_store_config("x", 1));
  EXPECT_EQ((bytes{0, 1, 0, 'x'}), pass());
}

TEST_F(Encode, ReportBlocksAreNeverDropped) {
  ASSERT_EQ(0, ssclient_send_block(7, "hello", 5));
  ASSERT_EQ(0, ssclient_send_block(7, "hello", 5));
  bytes set = pass();
  // 0, 130, vint 7, then vint 32 and 32 bytes of ciphertext, twice.
  ASSERT_EQ(2u * 36, set.size());
  EXPECT_EQ(bytes(set.begin(), set.begin() + 36), bytes(set.begin() + 36, set.end()));
  EXPECT_EQ((bytes{0x00, 0x82, 0x07, 0x20}), bytes(set.begin(), set.begin() + 4));
  // The block decrypts to the framed payload (one stored head byte), its MD5
  // digest and zero padding.
  bytes plain = openssl_decrypt(encblk_key(), set.data() + 4, 32);
  ASSERT_EQ(32u, plain.size());
  EXPECT_EQ(0x05, plain[0]);
  EXPECT_EQ(std::string("hello"), std::string(plain.begin() + 1, plain.begin() + 6));
  uint8_t digest[16];
  unsigned int digest_len = 0;
  EVP_Digest("hello", 5, digest, &digest_len, EVP_md5(), nullptr);
  ASSERT_EQ(16u, digest_len);
  EXPECT_EQ(bytes(digest, digest + 16), bytes(plain.begin() + 6, plain.begin() + 22));
  EXPECT_EQ(bytes(10, 0), bytes(plain.begin() + 22, plain.end()));
}

TEST_F(Encode, PassSendsNothingWhileDisabledOrOffline) {
  queue(20, stock);
  ssclient_enable_requests(0);
  EXPECT_TRUE(pass().empty());
  EXPECT_EQ(1, ssclient_ring_count());
  ssclient_enable_requests(1);
  ssclient_set_online(0);
  EXPECT_TRUE(pass().empty());
  EXPECT_EQ(1, ssclient_ring_count());
  ssclient_set_online(1);
  EXPECT_EQ(0u, ssclient_idle_deadline());
  EXPECT_EQ(req(20, kBHP), pass());
  EXPECT_EQ(1, g_encoding_seen);  // the pass is marked while it runs
  EXPECT_EQ(0, ssclient_encoding());
  EXPECT_NE(0u, ssclient_idle_deadline());
  // Nothing queued: nothing sent.
  g_sets.clear();
  ssclient_encode_requests();
  EXPECT_TRUE(g_sets.empty());
}

TEST_F(Encode, RefusedSetIsLoggedAndLost) {
  queue(20, stock);
  g_send_result = -1;
  LogCapture log;
  EXPECT_EQ(req(20, kBHP), pass());
  EXPECT_EQ(1, log.count("can't queue 5b request set"));
  EXPECT_EQ(0u, ssclient_idle_deadline());
  EXPECT_EQ(0, ssclient_ring_count());
}

// An entry that cannot be encoded is logged and consumed; the entries around
// it still go, and nothing is encoded (or released) twice.
TEST_F(Encode, FailingEntryIsConsumedAndTheRestGo) {
  queue(20, stock);
  queue(1, nullptr, 1);  // no stored configuration: cannot be encoded
  ASSERT_EQ(0, ssclient_send_block(9, "abc", 3));
  queue(20, other);
  LogCapture log;
  bytes set = pass();
  EXPECT_EQ(1, log.count("can't get user config?"));
  bytes head = req(20, kBHP);
  ASSERT_GT(set.size(), head.size() + 4);
  EXPECT_EQ(head, bytes(set.begin(), set.begin() + head.size()));
  EXPECT_EQ((bytes{0x00, 0x82, 0x09}), bytes(set.begin() + head.size(), set.begin() + head.size() + 3));
  bytes tail = req(20, kXJO);
  EXPECT_EQ(tail, bytes(set.end() - tail.size(), set.end()));
  EXPECT_EQ(0, ssclient_ring_count());
  EXPECT_TRUE(pass().empty());
}

TEST_F(Encode, PrivateListGoesAfterTheRingAndIsEmptied) {
  queue(20, stock);
  ASSERT_EQ(0, ssclient_private_request(kReqHeartbeat, nullptr, 0, 0));
  ASSERT_EQ(0, ssclient_private_request(kReqAck, nullptr, 0, 0));
  ASSERT_EQ(0, ssclient_private_request(kReqEvents, stock, 0, 0));
  // The private list is not subject to the supersede rules of the ring.
  EXPECT_EQ(cat({req(20, kBHP), {'Z', '\\'}, req(20, kBHP)}), pass());
  EXPECT_EQ(0, ssclient_private_count());
}

// ---------------------------------------------------------------------------
// Dated requests

TEST_F(Encode, StockHistoryStartDate) {
  struct Row {
    uint32_t count;
    ss_time newest;
    ss_time want;
  };
  const Row rows[] = {
      {0, 0, 0},
      {4, day(2014, 3, 3), 0},  // too few cached
      {5, day(2014, 3, 3), day(2014, 3, 3)},
      {5, day(2014, 2, 11), day(2014, 2, 11)},  // the window starts after 11/2
      {5, day(2014, 2, 12), day(2014, 2, 11)},
      {5, day(2014, 2, 21), day(2014, 2, 11)},
      {5, day(2014, 2, 22), day(2014, 2, 22)},
      {5, day(2014, 4, 30), day(2014, 4, 29)},
      {5, day(2014, 5, 15), day(2014, 4, 29)},
      {5, day(2014, 5, 16), day(2014, 5, 16)},
  };
  int n = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(n);
    ss_stock* s = ssmodel_add_stock(asx, (std::string("H") + static_cast<char>('A' + n++)).c_str());
    ASSERT_NE(nullptr, s);
    if (r.count) {
      ASSERT_EQ(0, ssmodel_reserve_history(s, r.count));
      for (uint32_t i = 0; i < r.count; i++) {
        s->history->points[i] = ss_stock_point{};
        s->history->points[i].date = sstime_sub_days(r.newest, static_cast<int32_t>(r.count - 1 - i));
        s->history->points[i].close = 10000;
      }
      s->history->count = r.count;
    }
    bytes got = one({30, s, 0, 0, 0});
    ASSERT_EQ(7u, got.size());  // 0, 30, exchange, a two-letter code in two bytes, the date
    EXPECT_EQ(date16(r.want), bytes(got.end() - 2, got.end()));
  }
}

// Test-owned news-day entries linked into an exchange's list, newest last.
class NewsDays {
 public:
  NewsDays(ss_exchange* ex, std::vector<ss_time> newest_first) : ex_(ex), items_(newest_first.size()) {
    size_t n = items_.size();
    for (size_t i = 0; i < n; i++) {
      ss_exchange_news& item = items_[n - 1 - i];
      item = ss_exchange_news{};
      item.time = newest_first[i] + 36000;
    }
    for (size_t i = 0; i < n; i++) {
      items_[i].prev = i ? &items_[i - 1] : nullptr;
      items_[i].next = i + 1 < n ? &items_[i + 1] : nullptr;
    }
    saved_ = ex->news;
    ex->news.count = static_cast<uint32_t>(n);
    ex->news.head = n ? &items_[0] : nullptr;
    ex->news.tail = n ? &items_[n - 1] : nullptr;
  }
  ~NewsDays() { ex_->news = saved_; }

 private:
  ss_exchange* ex_;
  std::vector<ss_exchange_news> items_;
  ss_list<ss_exchange_news> saved_{};
};

TEST_F(Encode, NewsSummaryDateWalksTheListedDays) {
  struct Row {
    std::vector<ss_time> newest_first;
    ss_time want;
  };
  const Row rows[] = {
      {{}, day(1970, 1, 2)},
      {{day(2014, 3, 11), day(2014, 3, 10)}, day(2014, 3, 11)},
      {{day(2014, 3, 12), day(2014, 3, 11), day(2014, 3, 10)}, day(2014, 3, 11)},  // today is no candidate
      {{day(2014, 3, 11), day(2014, 3, 11), day(2014, 3, 10)}, day(2014, 3, 11)},
      {{day(2014, 3, 11), day(2014, 3, 7), day(2014, 3, 6)}, day(2014, 3, 6)},  // a gap drops the candidate
      {{day(2014, 3, 11), day(2014, 3, 7)}, day(1970, 1, 2)},
      {{day(2014, 3, 11)}, day(2014, 3, 11)},
      {{day(2014, 2, 20), day(2014, 2, 19)}, day(2014, 2, 11)},  // moved across the cut-over window
  };
  int n = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(n++);
    NewsDays days(asx, r.newest_first);
    EXPECT_EQ(cat({{0x00, 0x22, 0x00}, date16(r.want)}), one({34, asx, 0, 0, 0}));
  }
}

TEST_F(Encode, NewsHistoryDate) {
  struct Row {
    ss_time exdate;
    std::vector<ss_time> times;  // oldest first
    ss_time want;
  };
  const Row rows[] = {
      {day(2014, 3, 12), {}, 0},
      {day(2014, 3, 12), {day(2014, 1, 20), day(2014, 1, 25)}, day(2014, 1, 20)},
      {day(2014, 3, 12), {day(2014, 1, 20), day(2014, 1, 23), day(2014, 1, 25)}, day(2014, 1, 23)},
      {day(2014, 3, 12), {day(2014, 3, 10), day(2014, 3, 11)}, 0},  // within the month: 0
      {day(2014, 3, 12), {day(2014, 1, 25), day(2014, 1, 25)}, 0},  // nothing before the newest day
      {day(2014, 6, 1), {day(2014, 4, 30), day(2014, 5, 2)}, day(2014, 4, 29)},
  };
  int n = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(n);
    ssmodel_set_date(asx, r.exdate);
    ss_issuer* is = ssmodel_add_issuer(asx, ("N" + std::to_string(n++)).c_str());
    ASSERT_NE(nullptr, is);
    uint32_t number = 1;
    for (ss_time t : r.times) ASSERT_NE(nullptr, ssmodel_add_news(is, number++, t + 40000, nullptr, 0, "x"));
    bytes got = one({32, is, 0, 0, 0});
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(date16(r.want), bytes(got.end() - 2, got.end()));
  }
}

TEST_F(Encode, IndexHistoryDateIsTheNewestCachedDay) {
  ASSERT_EQ(0, ssmodel_reserve_index_history(index, 2));
  index->history->points[0] = ss_index_point{};
  index->history->points[0].date = day(2014, 3, 7);
  index->history->points[1] = ss_index_point{};
  index->history->points[1].date = day(2014, 3, 10);
  index->history->count = 2;
  EXPECT_EQ(cat({{0x00, 0x1F, 0x00}, kXJO, k0310}), one({31, index, 0, 0, 0}));
}

// Friday to Monday with nothing cached: Friday and Monday each as a request
// 63, the weekend not asked for and marked loaded.
TEST_F(Encode, DayRunsGoOldestFirst) {
  ASSERT_EQ(0, ssclient_request_day_trades(stock, day(2014, 3, 7), day(2014, 3, 10)));
  EXPECT_EQ(cat({req(63, kBHP), k0307, req(63, kBHP), k0310}), pass());
  for (ss_time d : {day(2014, 3, 8), day(2014, 3, 9)}) {
    ss_day* rec = ssevent_find_day(stock, d);
    ASSERT_NE(nullptr, rec);
    EXPECT_EQ(0x18u, rec->flags & 0x18);
  }

  // A longer run goes as one request 64 with its first and last day.
  ASSERT_EQ(0, ssclient_request_day_trades(other, day(2014, 3, 10), 0));
  EXPECT_EQ(cat({req(64, kXJO), k0310, k0311}), pass());

  // Days with their events loaded or asked for are left out: here all of
  // them, so nothing is written.
  ssevent_get_day(nz_stock, day(2014, 3, 10))->flags = kRqEventsLoaded;
  ssevent_get_day(nz_stock, day(2014, 3, 11))->flags = kRqEvents;
  LogCapture log;
  int result = -2;
  EXPECT_TRUE(one({64, nz_stock, day(2014, 3, 9), day(2014, 3, 11), 0}, &result).empty());
  EXPECT_EQ(1, result);
  EXPECT_EQ(1, log.count("prevday not found"));  // 9 March has no record
}

TEST_F(Encode, DayRunsAskAgainForALoadedDayWithoutTrades) {
  ss_day* mon = ssevent_get_day(stock, day(2014, 3, 10));
  ss_day* tue = ssevent_get_day(stock, day(2014, 3, 11));
  mon->flags = kRqTradesLoaded;
  tue->flags = kRqTradesLoaded;
  EXPECT_EQ(cat({req(64, kBHP), k0310, k0311}), one({64, stock, day(2014, 3, 10), day(2014, 3, 11), 0}));
  // The previous-day form keeps a loaded day loaded.
  int result = -2;
  EXPECT_TRUE(one({262, stock, day(2014, 3, 10), day(2014, 3, 11), 0}, &result).empty());
  EXPECT_EQ(1, result);
}

// ---------------------------------------------------------------------------
// Password block

TEST_F(Encode, PasswordBlockDecryptsToItsLayout) {
  uint8_t key[32];
  for (int i = 0; i < 32; i++) key[i] = static_cast<uint8_t>(i * 7 + 1);
  ssauth_set_key(key);
  ASSERT_EQ(0, ssclient_change_password("secret"));
  ASSERT_EQ(0, ssclient_change_password("secret"));
  bytes set = pass();
  ASSERT_EQ(2u * 66, set.size());
  bytes blocks[2];
  for (int k = 0; k < 2; k++) {
    SCOPED_TRACE(k);
    const uint8_t* at = set.data() + 66 * k;
    EXPECT_EQ(0x00, at[0]);
    EXPECT_EQ(0x03, at[1]);
    blocks[k] = bytes(at + 2, at + 66);
    bytes plain = openssl_decrypt(key, at + 2, 64);
    ASSERT_EQ(64u, plain.size());
    EXPECT_EQ(6, plain[0]);
    std::string chars;
    for (int i = 0; i < 6; i++) chars += static_cast<char>(plain[1 + 2 * i]);
    EXPECT_EQ("secret", chars);
  }
  // Random filler: the same password never gives the same block.
  EXPECT_NE(blocks[0], blocks[1]);
}

TEST_F(Encode, PasswordChangeNeedsAKeyAndFitsTheLoginField) {
  ssauth_clear_key();
  LogCapture log;
  EXPECT_EQ(-1, ssclient_change_password("secret"));
  EXPECT_EQ(1, log.count("can't save new passwd"));
  uint8_t key[32] = {1};
  ssauth_set_key(key);
  EXPECT_EQ(0, ssclient_change_password(std::string(31, 'p').c_str()));
  EXPECT_EQ(-1, ssclient_change_password(std::string(32, 'p').c_str()));
  EXPECT_EQ(1, ssclient_ring_count());
  bytes set = pass();
  ASSERT_EQ(66u, set.size());
  bytes plain = openssl_decrypt(key, set.data() + 2, 64);
  EXPECT_EQ(31, plain[0]);
  EXPECT_EQ('p', plain[61]);
  ssauth_clear_key();
}

}  // namespace
