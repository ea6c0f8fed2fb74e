// Program updates and large transfers: the platform codes of file names, the
// names refused from the wire, and whole update sequences (140, 150, 151,
// 141, 142, 143, 144) through the dispatcher into a temporary data root,
// including every failure path leaving no partial program file behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bigdata.h"
#include "encblk.h"
#include "growbuf.h"
#include "localdata.h"
#include "log.h"
#include "ssclient.h"
#include "ssmsg.h"
#include "ssnotify.h"
#include "ssproto.h"
#include "ssupdate.h"
#include "testclient.h"
#include "testlog.h"
#include "testmodel.h"
#include "testwire.h"

namespace {

using namespace testwire;

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime());

// ---------------------------------------------------------------------------
// Names

TEST(UpdateNames, PlatformCodes) {
  const struct {
    const char* name;
    uint32_t code;
  } cases[] = {
      {"EXE_M64", 4}, {"EXE_M32", 7}, {"ambit_L86", 3}, {"ambit_L32", 3}, {"ambit_W64", 5},
      {"ambit_L64", 6}, {"notes.txt", 1}, {"X_W32_M64", 2}, {"", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(c.code, ssupdate_platform_code(c.name)) << c.name;
  EXPECT_EQ(kUpdatePlatformOwn, ssupdate_platform_code(kUpdateOwnTag));
}

TEST(UpdateNames, NamesThatCouldLeaveTheFolderAreRefused) {
  const struct {
    const char* name;
    int ok;
  } cases[] = {
      {"ambit_L64", 1}, {"notes.txt", 1}, {"a", 1}, {"", 0}, {".", 0}, {"..", 0}, {".hidden", 0},
      {"../ambit", 0}, {"a/b", 0}, {"a\\b", 0}, {"a..b", 0}, {"tab\tname", 0}, {"bell\x07", 0},
      {"del\x7f", 0}, {"abcdefghijklmnopqrstuvwxyz01234", 1}, {"abcdefghijklmnopqrstuvwxyz012345", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.ok, ssupdate_name_ok(c.name)) << c.name;
}

// ---------------------------------------------------------------------------
// Sequences through the dispatcher

Bytes text(const std::string& s) {
  Bytes b = {uint8_t(s.size())};
  b.insert(b.end(), s.begin(), s.end());
  return b;
}
Bytes type_only(uint32_t type) { return {0x00, uint8_t(type)}; }
Bytes block(const std::string& data) {
  growbuf gb;
  EXPECT_EQ(0, growbuf_init(&gb, 1024, 1024));
  EXPECT_EQ(0, encblk_write(&gb, data.data(), int32_t(data.size())));
  Bytes b(gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  return b;
}

Bytes begin_msg(const std::string& version) { return cat({type_only(140), text(version)}); }
Bytes open_msg(uint32_t id, uint32_t total) { return cat({type_only(150), vint(id), vint(total)}); }
Bytes piece_msg(uint32_t id, const std::string& data) { return cat({type_only(151), vint(id), block(data)}); }
Bytes store_msg(const std::string& name, uint32_t id) { return cat({type_only(141), text(name), vint(id)}); }
Bytes write_msg() { return cat({type_only(142), text("done")}); }
// One whole file: open, pieces of at most `piece` bytes, store.
Bytes file_msgs(uint32_t id, const std::string& name, const std::string& data, size_t piece = 1000) {
  Bytes b = open_msg(id, uint32_t(data.size()));
  for (size_t at = 0; at < data.size(); at += piece) b = cat({b, piece_msg(id, data.substr(at, piece))});
  return cat({b, store_msg(name, id)});
}

// The position of the first line holding `needle`, newest first; -1 none.
int line_of(const LogCapture& log, const std::string& needle) {
  const std::vector<std::string> lines = log.lines();
  for (size_t i = 0; i < lines.size(); i++)
    if (lines[i].find(needle) != std::string::npos) return int(i);
  return -1;
}

uint32_t g_global;
int g_owner;
void on_change(const ss_change* c, void*, uint64_t, uint32_t) {
  if (!c->instrument) g_global |= c->mask;
}

std::string content(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; i++) s[i] = char(seed + i * 7 % 251);
  return s;
}

class Update : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(start_direct_client());
    char tmpl[] = "/tmp/ambit-update-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    root_ = tmpl;
    ASSERT_EQ(0, localdata_set_root(root_.c_str()));
    char dir[kLocaldataPathMax];
    ASSERT_NE(nullptr, localdata_path(dir, LOCALDATA_PROGRAM, nullptr));
    program_ = dir;
    g_global = 0;
    ASSERT_EQ(0, ssnotify_add_wild(0xffffffffu, on_change, &g_owner, 0, 0));
  }
  void TearDown() override {
    ssnotify_remove_wild(&g_owner);
    ssclient_fini();
    std::string cmd = "rm -rf '" + root_ + "'";
    EXPECT_EQ(0, system(cmd.c_str()));
  }
  int decode(const Bytes& b) { return ssproto_decode(b.data(), int32_t(b.size())); }
  // Every message must be taken whole.
  void feed(const Bytes& b) { ASSERT_EQ(int(b.size()), decode(b)); }
  std::set<std::string> files() {
    std::set<std::string> out;
    DIR* d = opendir(program_.c_str());
    if (!d) return out;
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") out.insert(e->d_name);
    closedir(d);
    return out;
  }
  std::string read(const std::string& name) {
    std::ifstream f(program_ + "/" + name, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  uint32_t globals() {
    ssnotify_deliver();
    uint32_t g = g_global;
    g_global = 0;
    return g;
  }
  std::string root_, program_;
};

TEST_F(Update, AWholeUpdateIsWrittenInOrderAndAnnouncedOnce) {
  const std::string a = content(2500, 'a'), b = content(10, 'b');
  LogCapture log;
  feed(begin_msg("7.1.2"));
  char status[257];
  ssmsg_get(status);
  EXPECT_STREQ("Receiving new version 7.1.2", status);
  feed(file_msgs(1, "ambit_L64", a));
  feed(file_msgs(2, "notes.txt", b));
  EXPECT_EQ(2, ssupdate_pending_count());
  EXPECT_EQ(std::set<std::string>{}, files());  // nothing before the write
  feed(write_msg());
  EXPECT_EQ((std::set<std::string>{"ambit_L64", "notes.txt"}), files());
  EXPECT_EQ(a, read("ambit_L64"));
  EXPECT_EQ(b, read("notes.txt"));
  EXPECT_EQ(kGlobalProgramUpdate, globals() & kGlobalProgramUpdate);
  EXPECT_EQ(1, log.count("broadcasting update"));
  EXPECT_TRUE(log.has("writing new 2500b ambit_L64"));
  EXPECT_TRUE(log.has("writing new 10b notes.txt"));
  EXPECT_GT(line_of(log, "writing new 2500b ambit_L64"), line_of(log, "writing new 10b notes.txt"));  // newest first
  EXPECT_EQ(0, ssupdate_pending_count());
  // None of them moves a stream position.
  for (int i = 0; i < 4; i++) EXPECT_EQ(kProtoPositionNone, ssproto_exchange_position(i));
}

// A store that fails cancels its update: later stores are dropped, the write
// writes nothing and clears the flag; the next update goes through.
struct store_failure {
  const char* name;
  Bytes bad;  // the messages of the failing file
};

TEST_F(Update, AFailedStoreCancelsTheWholeUpdate) {
  const store_failure cases[] = {
      {"missing buffer", store_msg("ambit_L64", 9)},
      {"incomplete buffer", cat({open_msg(3, 100), piece_msg(3, "only part"), store_msg("ambit_L64", 3)})},
      {"name with a slash", file_msgs(3, "../ambit_L64", "x")},
      {"hidden name", file_msgs(3, ".ambit", "x")},
  };
  for (const store_failure& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    feed(begin_msg("8"));
    feed(file_msgs(1, "first", "first file"));
    feed(c.bad);
    EXPECT_EQ(1, log.count("failed to store update"));
    feed(file_msgs(2, "later", "later file"));
    feed(write_msg());
    EXPECT_EQ(std::set<std::string>{}, files());
    EXPECT_EQ(0u, globals() & kGlobalProgramUpdate);
    // Every buffer is released: the same numbers open again.
    for (int32_t id : {1, 2, 3}) EXPECT_EQ(nullptr, bigdata_get(id, nullptr));

    feed(begin_msg("9"));
    feed(file_msgs(1, "ambit_L64", "good"));
    feed(write_msg());
    EXPECT_EQ(std::set<std::string>{"ambit_L64"}, files());
    EXPECT_EQ(kGlobalProgramUpdate, globals() & kGlobalProgramUpdate);
    ASSERT_EQ(0, localdata_remove(LOCALDATA_PROGRAM, "ambit_L64"));
  }
}

TEST_F(Update, AnAbortedUpdateDoesNotSwallowTheNext) {
  feed(begin_msg("8"));
  feed(store_msg("ambit_L64", 9));  // fails; no write follows
  feed(begin_msg("9"));             // the server starts over
  feed(file_msgs(1, "ambit_L64", "good"));
  feed(write_msg());
  EXPECT_EQ(std::set<std::string>{"ambit_L64"}, files());
}

// A file that cannot be written: the ones before it are not left behind,
// under their names or temporary ones, and nothing is announced.
TEST_F(Update, AFailedWriteLeavesNoProgramFile) {
  ASSERT_EQ(0, localdata_write(LOCALDATA_PROGRAM, "ambit_L64", "old", 3));
  // A folder where the second file's temporary file would go.
  ASSERT_EQ(0, mkdir((program_ + "/second.upd~").c_str(), 0700));
  LogCapture log;
  feed(begin_msg("8"));
  feed(file_msgs(1, "ambit_L64", "new program"));
  feed(file_msgs(2, "second", "second file"));
  feed(write_msg());
  EXPECT_EQ(1, log.count("can't write second"));
  EXPECT_EQ((std::set<std::string>{"ambit_L64", "second.upd~"}), files());
  EXPECT_EQ("old", read("ambit_L64"));
  EXPECT_EQ(0u, globals() & kGlobalProgramUpdate);
  EXPECT_EQ(0, ssupdate_pending_count());
}

TEST_F(Update, TestPayloadIsSavedAndDeltaIsRefused) {
  LogCapture log;
  feed(cat({type_only(143), text("probe"), block("test bytes")}));
  EXPECT_EQ(1, log.count("received 10b test"));
  EXPECT_EQ("test bytes", read("probe"));
  EXPECT_EQ(kGlobalProgramUpdate, globals() & kGlobalProgramUpdate);

  // A refused name is not saved.
  feed(cat({type_only(143), text("../probe"), block("x")}));
  EXPECT_EQ(1, log.count("can't save ../probe!"));

  // 144: waits while its bytes are not all there; consumed and refused when
  // they are; a count past the cap is bad data.
  const Bytes delta = cat({type_only(144), text("probe"), vint(5), {1, 2, 3, 4, 5}});
  EXPECT_EQ(0, ssproto_decode(delta.data(), int32_t(delta.size() - 1)));
  feed(delta);
  EXPECT_EQ(1, log.count("received 5b test delta"));
  EXPECT_EQ(1, log.count("not implemented"));
  const Bytes huge = cat({type_only(144), text("probe"), vint(uint32_t(kUpdateFileMax) + 1)});
  EXPECT_EQ(-1, decode(huge));
}

// With updates off, every update message is consumed, logged and dropped:
// no file reaches the Program folder and nothing is announced, and the
// reassembly buffers are still released.
TEST_F(Update, WithUpdatesOffNothingIsWritten) {
  ssclient_set_options(kClientOptNoUpdate);
  LogCapture log;
  feed(begin_msg("7.1.3"));
  feed(file_msgs(1, "ambit_L64", content(2500, 'a')));
  feed(write_msg());
  feed(cat({type_only(143), text("probe"), block("test bytes")}));
  EXPECT_EQ(std::set<std::string>{}, files());
  EXPECT_EQ(0u, globals() & kGlobalProgramUpdate);
  EXPECT_EQ(0, ssupdate_pending_count());
  EXPECT_TRUE(log.has("refusing version 7.1.3: updates are off"));
  EXPECT_TRUE(log.has("refusing update file ambit_L64: updates are off"));
  EXPECT_TRUE(log.has("refusing to write an update: updates are off"));
  EXPECT_TRUE(log.has("refusing 10b probe: updates are off"));
  int32_t filled = 0, total = 0;
  EXPECT_NE(0, bigdata_progress(1, &filled, &total));  // the buffer went back
}

struct transfer_failure {
  const char* name;
  Bytes bytes;
};

TEST_F(Update, ReassemblyErrorsEndTheStream) {
  const transfer_failure cases[] = {
      {"piece without open", piece_msg(5, "abc")},
      {"pieces past the total", cat({open_msg(5, 4), piece_msg(5, "abc"), piece_msg(5, "de")})},
      {"open twice while incomplete", cat({open_msg(5, 4), open_msg(5, 4)})},
      {"total past the cap", open_msg(5, uint32_t(kUpdateFileMax) + 1)},
      {"buffers together past the cap", cat({open_msg(5, uint32_t(kUpdateFileMax)), open_msg(6, uint32_t(kUpdateFileMax)),
                                             open_msg(7, 1)})},
  };
  for (const transfer_failure& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(-1, ssproto_decode_run(c.bytes.data(), int32_t(c.bytes.size()), 0));
    for (int32_t id : {5, 6, 7}) bigdata_remove(id);
    EXPECT_EQ(0, bigdata_bytes());
  }
}

}  // namespace
