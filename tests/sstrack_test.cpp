// Price tracks: shared clients and their slots, coalescing per second, the
// values a fixed client holds, a reused slot starting empty, an exchange's
// reset walking every client again at the new date, and the recorded stream
// read back by the track record reader. The wall clock is a test seam, so
// "today" is the exchange's date.
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <vector>

#include "dectrack.h"
#include "encode.h"
#include "encsum.h"
#include "growbuf.h"
#include "log.h"
#include "ssclient.h"
#include "sstrack.h"
#include "testclient.h"
#include "testmodel.h"

namespace {

std::atomic<time_t> g_wall{0};
time_t wall() { return g_wall.load(); }
const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime(nullptr, wall));

// Local time of day on a date, as time_t.
time_t local(int day, int h, int m) {
  tm t = {};
  t.tm_year = 2014 - 1900;
  t.tm_mon = 2;
  t.tm_mday = day;
  t.tm_hour = h;
  t.tm_min = m;
  t.tm_isdst = -1;
  return mktime(&t);
}

ss_time at(int day, int h, int m, int s) { return sstime_pack(s, m, h, day, 3, 2014); }

class Track : public ::testing::Test {
 protected:
  void SetUp() override {
    g_wall = local(12, 16, 0);
    ssclient_fini();
    ASSERT_EQ(0, ssmodel_init(kTerminalModelOptions));
    for (int i = 0; i < kExchanges; i++) ASSERT_NE(nullptr, ssmodel_new_exchange(i, kExClientTracks | kExTrackStreams));
    ex = ssmodel_exchange(0);
    ssmodel_set_date(ex, sstime_pack_date(12, 3, 2014));
    bhp = ssmodel_get_stock(ex, "BHP");
    bhp->close = 10000;
  }
  void TearDown() override { ssmodel_fini(); }
  ss_exchange* ex = nullptr;
  ss_stock* bhp = nullptr;
};

TEST_F(Track, ClientsAreSharedAndSlotsBounded) {
  EXPECT_EQ(0, sstrack_add_client(300, 0));
  EXPECT_EQ(0, sstrack_add_client(300, 0));  // the same look-back: shared
  sstrack_release_client(0);
  EXPECT_EQ(0, sstrack_add_client(300, 0));  // still held once
  for (int slot : {-1, 8, 1000}) sstrack_release_client(slot);  // ignored
  for (int i = 1; i < kTrackClients; i++) EXPECT_EQ(i, sstrack_add_client(0, at(12, 9, i, 0)));
  const uint64_t since = log_count();
  EXPECT_EQ(-1, sstrack_add_client(0, at(12, 9, 30, 0)));
  EXPECT_NE(std::string::npos, logged_since(since).find("all track clients used (8)"));
  EXPECT_EQ(1, sstrack_client_added());
  sstrack_update();
  EXPECT_EQ(0, sstrack_client_added());
}

TEST_F(Track, FixedClientHoldsTheLastPriceAtItsTime) {
  const int slot = sstrack_add_client(0, at(12, 10, 30, 0));
  ASSERT_GE(slot, 0);
  for (uint32_t p : {10000u, 10100u, 10200u}) ASSERT_EQ(0, sstrack_track_stock(bhp, at(12, 10, 0, 1), p));
  ASSERT_EQ(0, sstrack_track_stock(bhp, at(12, 10, 45, 0), 10500));
  ss_stock* rio = ssmodel_get_stock(ex, "RIO");
  ASSERT_EQ(0, sstrack_track_stock(rio, at(12, 11, 0, 0), 7000));
  sstrack_update();
  EXPECT_EQ(10200u, sstrack_client_value(bhp, slot));  // the last of its second, before 10:30
  EXPECT_EQ(0u, sstrack_client_value(rio, slot));      // nothing by then
  EXPECT_EQ(at(12, 10, 30, 0), sstrack_client_time(slot, 0));

  // The stream holds the two committed points; read back as a track record.
  growbuf gb;
  growbuf_init(&gb, 256, 256);
  ASSERT_EQ(0, encsum_encode_stock_blob(&gb, bhp));
  std::vector<uint8_t> blob(gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  ASSERT_GT(blob.size(), 1u);
  ss_stock* copy = ssmodel_get_stock(ex, "CPY");
  copy->close = 10000;
  const int slot2 = sstrack_add_client(0, at(12, 15, 0, 0));
  ASSERT_EQ(int(blob.size()), dectrack_decode_stock(blob.data(), int32_t(blob.size()), copy));
  sstrack_update();
  EXPECT_EQ(10500u, sstrack_client_value(copy, slot2));
  // A length beyond the bytes present is never read as a whole record.
  blob[0] = uint8_t(blob.size() + 5);
  EXPECT_LE(dectrack_decode_stock(blob.data(), int32_t(blob.size()), copy), 0);
}

TEST_F(Track, AReusedSlotStartsEmpty) {
  const int a = sstrack_add_client(0, at(12, 10, 30, 0));
  ASSERT_EQ(0, sstrack_track_stock(bhp, at(12, 10, 0, 0), 10100));
  sstrack_update();
  EXPECT_EQ(10100u, sstrack_client_value(bhp, a));
  sstrack_release_client(a);
  const int b = sstrack_add_client(0, at(12, 9, 30, 0));  // before any trade
  EXPECT_EQ(a, b);
  sstrack_update();
  EXPECT_EQ(0u, sstrack_client_value(bhp, b));
}

TEST_F(Track, AResetWalksFixedClientsAtTheNewDate) {
  const int slot = sstrack_add_client(0, at(12, 10, 30, 0));
  ASSERT_EQ(0, sstrack_track_stock(bhp, at(12, 10, 0, 0), 10100));
  sstrack_update();
  EXPECT_EQ(10100u, sstrack_client_value(bhp, slot));
  // The next day.
  g_wall = local(13, 16, 0);
  ssmodel_reset_exchange_keep_date(ex, sstime_pack_date(13, 3, 2014));
  EXPECT_EQ(0u, sstrack_client_value(bhp, slot));
  bhp->close = 10100;
  ASSERT_EQ(0, sstrack_track_stock(bhp, at(13, 10, 0, 0), 9900));
  sstrack_update();
  EXPECT_EQ(9900u, sstrack_client_value(bhp, slot));
  EXPECT_EQ(at(13, 10, 30, 0), sstrack_client_time(slot, 0));
}

// An index's track record that is read whole marks the day's ticks loaded,
// so that today's index events are not asked for again; one cut short in its
// last point, or empty, does not.
TEST_F(Track, AWholeIndexTrackMarksTheTicksLoaded) {
  ss_index* xjo = ssmodel_get_index(ex, "XJO");
  for (int m = 0; m < 3; m++) ASSERT_EQ(0, sstrack_track_index(xjo, at(12, 10, m, 0), 500000 + 100 * m));
  sstrack_update();
  growbuf gb;
  growbuf_init(&gb, 256, 256);
  ASSERT_EQ(0, encsum_encode_index_blob(&gb, xjo));
  std::vector<uint8_t> blob(gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  ASSERT_GT(blob.size(), 4u);
  ASSERT_LT(blob.size(), 128u);  // a one-byte length

  std::vector<uint8_t> cut(blob.begin(), blob.end() - 1);
  cut[0] = uint8_t(cut.size() - 1);
  const std::vector<uint8_t> empty = {0};
  struct Case {
    const char* code;
    const std::vector<uint8_t>* bytes;
    uint32_t ticks;
    bool loaded;
  } cases[] = {{"WHL", &blob, 3, true}, {"CUT", &cut, 2, false}, {"EMP", &empty, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ss_index* copy = ssmodel_get_index(ex, c.code);
    ASSERT_EQ(int(c.bytes->size()), dectrack_decode_index(c.bytes->data(), int32_t(c.bytes->size()), copy));
    EXPECT_EQ(c.ticks, copy->ticks.count);
    EXPECT_EQ(c.loaded, (copy->flags & kRqEventsLoaded) != 0);
  }
}

}  // namespace
