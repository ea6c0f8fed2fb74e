// Recovery data and the reports to the server. Exchanges 0, 1 and 3 are
// filled from generated snapshots (stocks with depth, indices), given stream
// positions and signatures; "RECOVERY2" is written, the client started
// afresh, and the file applied: the positions, signatures and every stock
// and index equal the generated records (an independent reference), each
// exchange's summary re-encodes to the same bytes, and the file is gone.
// Damaged files (cut prefix, counts past the end, cut or trailing bytes) are
// refused as a whole: positions and signatures reset, the file still gone.
// The fuzz corpus is replayed here too, under the sanitizers of this build.
// Beside it: the "ID" text without all-zero addresses, the version text, and
// the upgrade counter.
#include "startup/recovery.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/config.h"
#include "encsum.h"
#include "growbuf.h"
#include "lib/wlist.h"
#include "localdata.h"
#include "sim_snapshot.h"
#include "sscache.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "sstime.h"
#include "testclient.h"
#include "testdataroot.h"
#include "testlog.h"
#include "testmodel.h"
#include "testsnapshot.h"

namespace {

const auto *g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime());

const ss_time kDate = sstime_pack_date(12, 3, 2014);
constexpr int32_t kRunExchanges[] = {0, 1, 3};

std::vector<uint8_t> summary_of(int32_t i) {
  growbuf gb = {};
  EXPECT_EQ(0, growbuf_init(&gb, 65536, 65536));
  std::vector<uint8_t> out;
  if (encsum_encode_stock(&gb, ssmodel_exchange(i), 0) == 0) out.assign(gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  return out;
}

std::string joined(const LogCapture &log) {
  std::string t;
  for (const std::string &l : log.lines()) t += l + "\n";
  return t;
}

bool file_there() {
  char path[kLocaldataPathMax];
  return localdata_path(path, LOCALDATA_TEMP, "RECOVERY2") && std::filesystem::exists(path);
}

void put_file(const std::vector<uint8_t> &bytes) {
  ASSERT_EQ(0, localdata_write(LOCALDATA_TEMP, "RECOVERY2", bytes.data(), uint32_t(bytes.size())));
}

class Recovery : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(start_direct_client());
    ASSERT_EQ(0, root_.use());
  }
  void TearDown() override { ssclient_fini(); }
  // A fresh client (its model empty), as a restarted program has.
  void restart() {
    ssclient_fini();
    ASSERT_NO_FATAL_FAILURE(start_direct_client());
    ASSERT_EQ(0, root_.use());
  }
  // Exchanges 0, 1 and 3 from snapshots; positions and signatures.
  void fill() {
    for (int32_t i : kRunExchanges) {
      snaps_[i] = sim_snapshot_generate(uint32_t(i), kDate, 2, 77 + uint64_t(i), 40, 4, i == 1);
      ss_exchange *ex = ssmodel_exchange(i);
      ASSERT_NE(nullptr, ex);
      ssmodel_set_date(ex, kDate);
      if (i == 1) ex->flags |= kExBrokers;
      ASSERT_EQ(0, sim_snapshot_build(snaps_[i], ex));
    }
    for (int32_t i = 0; i < kExchanges; i++) {
      ssproto_set_exchange_position(i, 1000u * uint32_t(i + 1) + 7u);
      ssmodel_set_signature(i, 0xA0B0C000u + uint32_t(i));
    }
  }
  TempDataRoot root_{"ambit-recovery"};
  sim_snapshot snaps_[kExchanges];
};

TEST_F(Recovery, WrittenThenAppliedResumesEveryStreamAndIsGone) {
  ASSERT_NO_FATAL_FAILURE(fill());
  std::vector<uint8_t> before[kExchanges];
  for (int32_t i : kRunExchanges) {
    before[i] = summary_of(i);
    ASSERT_FALSE(before[i].empty());
  }
  {
    LogCapture log;
    ASSERT_EQ(0, recovery_write());
    EXPECT_TRUE(log.has("wrote ")) << joined(log);
  }
  ASSERT_TRUE(file_there());

  ASSERT_NO_FATAL_FAILURE(restart());
  for (int32_t i = 0; i < kExchanges; i++) EXPECT_EQ(0xffffffffu, ssproto_exchange_position(i));
  {
    LogCapture log;
    core_lock lock;
    EXPECT_EQ(0, recovery_apply());
    EXPECT_TRUE(log.has("applying ")) << joined(log);
    EXPECT_FALSE(log.has("failed to decode recovery")) << joined(log);
  }
  EXPECT_FALSE(file_there());
  for (int32_t i = 0; i < kExchanges; i++) {
    SCOPED_TRACE(i);
    // Exchange 2 has no run of its own; its prefix entry still carries it.
    EXPECT_EQ(1000u * uint32_t(i + 1) + 7u, ssproto_exchange_position(i));
    EXPECT_EQ(0xA0B0C000u + uint32_t(i), ssmodel_exchange_signature(i));
  }
  for (int32_t i : kRunExchanges) {
    SCOPED_TRACE(i);
    ss_exchange *ex = ssmodel_exchange(i);
    EXPECT_EQ(kDate, ex->date);
    for (size_t k = 0; k < snaps_[i].stocks.size(); k++) {
      const sim_snap_stock &g = snaps_[i].stocks[k];
      ASSERT_NO_FATAL_FAILURE(expect_snapshot_stock(ssmodel_find_stock(ex, g.code.c_str()), g, int32_t(k)));
    }
    for (const sim_snap_index &g : snaps_[i].indices) {
      const ss_index *x = ssmodel_find_index(ex, g.code.c_str());
      ASSERT_NE(nullptr, x) << g.code;
    }
    EXPECT_EQ(before[i], summary_of(i));
    // Nothing asked for before the restart counts as asked for now.
    for (chash *t : {&ex->stocks, &ex->indices, &ex->issuers})
      for (uint64_t k = 0; k < t->count; k++) {
        const instr *in = static_cast<instr *>(t->sorted[k]);
        if (i == 3 || !(in->flags & 0x400000)) EXPECT_EQ(0u, in->flags & 0x3fdfu) << in->code;
      }
  }
  // Once only: a second apply finds nothing.
  LogCapture log;
  EXPECT_EQ(0, recovery_apply());
  EXPECT_TRUE(log.has("no recovery information"));
}

TEST_F(Recovery, WithoutAFileTheStartGoesOnAsNormal) {
  LogCapture log;
  EXPECT_EQ(0, recovery_apply());
  EXPECT_TRUE(log.has("no recovery information"));
  for (int32_t i = 0; i < kExchanges; i++) EXPECT_EQ(0xffffffffu, ssproto_exchange_position(i));
}

TEST_F(Recovery, EntriesOfUnknownExchangesAreIgnored) {
  // Count 2: an entry for index 7, one for index 1; no messages.
  std::vector<uint8_t> b = {2, 7, 1, 2, 3, 4, 5, 6, 7, 8, 1, 0, 0, 0, 9, 0, 0, 1, 0};
  ASSERT_NO_FATAL_FAILURE(put_file(b));
  EXPECT_EQ(0, recovery_apply());
  EXPECT_EQ(9u, ssmodel_exchange_signature(1));
  EXPECT_EQ(256u, ssproto_exchange_position(1));
  EXPECT_EQ(0xffffffffu, ssproto_exchange_position(0));
}

// Every damaged file is refused whole: the streams start again from nothing.
TEST_F(Recovery, DamagedFilesResetPositionsAndSignatures) {
  ASSERT_NO_FATAL_FAILURE(fill());
  growbuf gb = {};
  ASSERT_EQ(0, growbuf_init(&gb, 65536, 65536));
  ASSERT_EQ(0, recovery_encode(&gb));
  const std::vector<uint8_t> good(gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  ASSERT_GT(good.size(), 200u);

  struct Case {
    const char *what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"prefix cut inside the entries", {good.begin(), good.begin() + 20}});
  cases.push_back({"a count past the end", {200, 0, 1, 2, 3, 4, 5, 6, 7, 8}});
  cases.push_back({"the global values cut short", {good.begin(), good.end() - 1}});
  cases.push_back({"cut in the middle", {good.begin(), good.begin() + good.size() / 2}});
  std::vector<uint8_t> trailing = good;
  trailing.push_back(0xff);
  cases.push_back({"a stray byte after the global values", trailing});
  std::vector<uint8_t> bad_select = good;
  bad_select[38] = 9;  // the first run selects exchange 9
  cases.push_back({"an unknown exchange selected", bad_select});

  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    for (int32_t i = 0; i < kExchanges; i++) {
      ssproto_set_exchange_position(i, 55);
      ssmodel_set_signature(i, 66);
    }
    ASSERT_NO_FATAL_FAILURE(put_file(c.bytes));
    LogCapture log;
    {
      core_lock lock;
      EXPECT_EQ(0, recovery_apply());
    }
    EXPECT_TRUE(log.has("failed to decode recovery")) << joined(log);
    EXPECT_FALSE(file_there());
    for (int32_t i = 0; i < kExchanges; i++) {
      EXPECT_EQ(0xffffffffu, ssproto_exchange_position(i));
      EXPECT_EQ(0u, ssmodel_exchange_signature(i));
    }
  }
}

// The fuzz target's seeds and finds, replayed under this build's sanitizers.
TEST_F(Recovery, FuzzCorpusReplays) {
  const char *src = getenv("AMBIT_SOURCE_DIR");
  ASSERT_NE(nullptr, src);
  const std::filesystem::path dir = std::filesystem::path(src) / "fuzz/corpus/recovery";
  int files = 0;
  for (const auto &e : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(e.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    core_lock lock;
    const int r = recovery_decode(bytes.data(), int32_t(bytes.size()));
    EXPECT_TRUE(r == 0 || r == -1) << e.path();
    files++;
  }
  EXPECT_GT(files, 0);
}

// A code change: every watchlist holding the old stock holds the new one in
// its place (once); a change without a new stock is an error.
TEST_F(Recovery, NameChangesReplaceTheOldStockInEveryWatchlist) {
  ASSERT_EQ(0, config_init());
  ASSERT_EQ(0, wlist_init());
  ss_exchange *ex = ssmodel_exchange(0);
  ss_stock *a = ssmodel_get_stock(ex, "NCA"), *old = ssmodel_get_stock(ex, "NCOLD"),
           *now = ssmodel_get_stock(ex, "NCNEW"), *b = ssmodel_get_stock(ex, "NCB");
  ASSERT_TRUE(a && old && now && b);
  wlist *one = wlist_create("One", 601), *both = wlist_create("Both", 602), *none = wlist_create("None", 603);
  for (ss_stock *s : {a, old, b}) wlist_add_item(one, s);
  for (ss_stock *s : {old, now}) wlist_add_item(both, s);
  wlist_add_item(none, a);
  {
    LogCapture log;
    name_change notice = {old, 1};
    EXPECT_EQ(-1, name_change_apply(&notice));
    EXPECT_TRUE(log.has("can't find new stock for ASX:NCOLD name change")) << joined(log);
  }
  ASSERT_EQ(0, ssmodel_add_alias(ex, "NCOLD", "NCNEW"));
  LogCapture log;
  name_change notice = {old, 1};
  EXPECT_EQ(0, name_change_apply(&notice));
  EXPECT_TRUE(log.has("name change ASX:NCOLD->NCNEW")) << joined(log);
  EXPECT_TRUE(log.has("changing NCOLD to NCNEW in One"));
  ASSERT_EQ(3, wlist_count(one));
  EXPECT_EQ(static_cast<instr *>(now), wlist_item_at(one, 1));
  ASSERT_EQ(1, wlist_count(both));
  EXPECT_EQ(static_cast<instr *>(now), wlist_item_at(both, 0));
  EXPECT_EQ(1, wlist_count(none));
  // Other kinds change nothing.
  name_change other = {b, 2};
  EXPECT_EQ(0, name_change_apply(&other));
  EXPECT_EQ(3, wlist_count(one));
  for (wlist *w : {one, both, none}) wlist_delete(w);
  wlist_fini();
  config_shutdown();
}

TEST(RecoveryReports, IdTextLeavesOutAllZeroAddresses) {
  const uint8_t zero[1][6] = {{0, 0, 0, 0, 0, 0}};
  const uint8_t mixed[3][6] = {{0, 0, 0, 0, 0, 0}, {0x02, 0x42, 0xac, 0x11, 0x00, 0x02}, {0xff, 0, 0, 0, 0, 0x0a}};
  struct Case {
    const uint8_t (*list)[6];
    int32_t count;
    const char *want;
  } cases[] = {
      {zero, 1, "ID"},
      {mixed, 0, "ID"},
      {mixed, 3, "ID 02:42:ac:11:00:02 ff:00:00:00:00:0a"},
  };
  for (const Case &c : cases) {
    char out[128];
    const int n = recovery_mac_format(out, sizeof out, c.list, c.count);
    EXPECT_STREQ(c.want, out);
    EXPECT_EQ(int(strlen(c.want)), n);
  }
  // A short buffer holds whole addresses only.
  char small[24];
  recovery_mac_format(small, sizeof small, mixed, 3);
  EXPECT_STREQ("ID 02:42:ac:11:00:02", small);
}

TEST(RecoveryReports, VersionTextNamesTheBuild) {
  char out[256];
  const int n = recovery_version_text(out, sizeof out);
  ASSERT_GT(n, 0);
  const std::string t(out, size_t(n));
  EXPECT_EQ(0u, t.find("VER "));
  EXPECT_NE(std::string::npos, t.find(" (64bit) on ")) << t;
}

TEST(RecoveryReports, UpgradeRunsOnceForCountsOneToFortyOne) {
  TempDataRoot root("ambit-upgrade");
  ASSERT_EQ(0, root.use());
  ASSERT_EQ(0, config_init());
  local_config *local = config_local();
  ASSERT_NE(nullptr, local);
  char old_name[64], new_name[64];
  ASSERT_EQ(0, sscache_name(old_name, 1, 0, "BHP", sstime_pack_date(11, 2, 2014)));
  ASSERT_EQ(0, sscache_name(new_name, 1, 0, "BHP", sstime_pack_date(12, 2, 2014)));
  struct Case {
    int32_t count, after;
    bool removed;
  } cases[] = {{0, 0, false}, {1, 42, true}, {41, 42, true}, {42, 42, false}, {57, 57, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.count);
    ASSERT_EQ(0, localdata_write(LOCALDATA_DATA, old_name, "x", 1));
    ASSERT_EQ(0, localdata_write(LOCALDATA_DATA, new_name, "y", 1));
    local->upgrade_count = c.count;
    EXPECT_EQ(0, upgrade_run());
    EXPECT_EQ(c.after, local->upgrade_count);
    uint32_t size = 0;
    EXPECT_EQ(c.removed ? -1 : 0, localdata_read_into(LOCALDATA_DATA, old_name, nullptr, &size));
    EXPECT_EQ(0, localdata_read_into(LOCALDATA_DATA, new_name, nullptr, &size));
  }
}

}  // namespace

