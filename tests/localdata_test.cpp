// The per-user data tree on a temporary root under /tmp: the tree and its
// modes, refused roots and names, reads and writes (0-byte, oversized and
// failed writes), listings against the directory's own order, the cache's
// byte count against the file system, the size-driven trim sequence
// with a recording hook and the test clock, and what a write flushes to the
// disk, seen through a replacement of fsync.
#include "localdata.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "testlog.h"

namespace fs = std::filesystem;

// Link-time seam: this fsync replaces the C library's for the whole test
// program (the engine is linked statically), so a test sees what a write
// flushes and in which order, and can make a flush fail. While a watch is
// set, each call records the flushed path and the watched file's contents at
// that moment; the flush of the kind chosen to fail fails with EIO.
struct sync_record {
  std::string path;
  std::string watched;  // the watched file's contents when the flush came
};
std::mutex g_sync_mu;
std::string g_sync_watch;
enum class sync_fail { none, temp_file, folder };
sync_fail g_sync_fail = sync_fail::none;
std::vector<sync_record> g_syncs;

std::string fd_path(int fd) {
  char link[64], target[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, size_t(n)) : std::string();
}

extern "C" int fsync(int fd) {
  {
    std::lock_guard<std::mutex> lk(g_sync_mu);
    if (!g_sync_watch.empty()) {
      const std::string path = fd_path(fd);
      std::ifstream in(g_sync_watch, std::ios::binary);
      g_syncs.push_back({path, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())});
      const bool temp = path.find("/.ldtmp-") != std::string::npos;
      const bool folder = fs::is_directory(path);
      if ((g_sync_fail == sync_fail::temp_file && temp) || (g_sync_fail == sync_fail::folder && folder)) {
        errno = EIO;
        return -1;
      }
    }
  }
  return int(syscall(SYS_fsync, fd));
}


namespace {

constexpr int64_t kMb = 1048576;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void put(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// A file of `size` bytes that takes no disk space.
void put_sparse(const std::string& path, off_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, size), 0);
  close(fd);
}

unsigned mode_of(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

// Names in a directory as the file system gives them.
std::vector<std::string> dir_entries(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (struct dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  }
  closedir(d);
  return names;
}

// Bytes of the regular files of a directory, counted by the file system.
uint64_t regular_bytes(const std::string& dir) {
  uint64_t total = 0;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file() && !e.is_symlink()) total += e.file_size();
  return total;
}

bool has_temp_file(const std::string& dir) {
  for (const auto& n : dir_entries(dir))
    if (n.rfind(".ldtmp-", 0) == 0) return true;
  return false;
}

std::vector<std::string> drain(localdata_dirent* list) {
  std::vector<std::string> names;
  char name[kLocaldataNameMax];
  while (localdata_list_next(&list, name)) names.push_back(name);
  return names;
}

std::atomic<int64_t> g_now_ms{0};
int64_t test_clock() { return g_now_ms.load(); }

class LocalData : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { start_runtime(TestStderr::kOn); }

  void SetUp() override {
    char tmpl[] = "/tmp/ambit-localdata-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    base_ = tmpl;
    root_ = base_ + "/data";
    ASSERT_EQ(localdata_init(), 0);
    ASSERT_EQ(localdata_set_root(root_.c_str()), 0);
  }

  void TearDown() override {
    localdata_fini();
    plat_set_test_clock(nullptr);
    plat_set_test_random(nullptr);
    std::error_code ec;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(base_, ec);
  }

  std::string path(uint32_t dir, const char* name = nullptr) {
    char buf[kLocaldataPathMax];
    return localdata_path(buf, dir, name) ? std::string(buf) : std::string();
  }

  std::string base_, root_;
};

TEST_F(LocalData, CreatesTheTreeWithPrivateModes) {
  const struct {
    uint32_t dir;
    const char* rel;
  } kTree[] = {
      {0, ""},           {1, "/Cache"}, {2, "/Cache/Announcements"}, {3, "/Cache/Data"},
      {4, "/Cache/Profiles"}, {5, "/Cache/Research"}, {6, "/Config"}, {7, "/Extensions"},
      {8, "/Program"},   {9, "/Run"},   {10, "/Run/0"},   {11, "/Run/1"},
      {12, "/Run/0/32"}, {13, "/Run/1/32"}, {14, "/Temp"},
  };
  EXPECT_EQ(localdata_ready(), 1);
  for (const auto& row : kTree) {
    std::string want = root_ + row.rel;
    EXPECT_EQ(path(row.dir), want) << row.dir;
    EXPECT_TRUE(fs::is_directory(want)) << want;
    EXPECT_EQ(mode_of(want), 0700u) << want;
  }
  EXPECT_EQ(std::string(plat_temp_dir()), root_ + "/Temp");

  // An existing tree is accepted as it is, and a trailing separator on the
  // root does not change the paths.
  uint64_t mark = log_count();
  ASSERT_EQ(localdata_set_root((root_ + "/").c_str()), 0);
  EXPECT_TRUE(logged_since(mark, "set root "));
  EXPECT_EQ(path(12), root_ + "/Run/0/32");
  EXPECT_EQ(path(3, "x"), root_ + "/Cache/Data/x");
}

TEST_F(LocalData, RefusesUnusableRoots) {
  const struct {
    const char* label;
    void (*make)(const std::string& root);
    const char* message;
  } kCases[] = {
      {"root is a file", [](const std::string& r) { put(r, "x"); }, "is not a directory"},
      {"root has mode 0500", [](const std::string& r) { mkdir(r.c_str(), 0500); },
       "does not have correct perms: 500"},
      {"Cache is a file",
       [](const std::string& r) {
         mkdir(r.c_str(), 0700);
         put(r + "/Cache", "x");
       },
       "/Cache is not a directory"},
      {"parent is missing", [](const std::string&) {}, "can't make dir"},
  };
  int n = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::string root = base_ + "/r" + std::to_string(n++);
    if (strcmp(c.label, "parent is missing") == 0) root += "/missing/deeper";
    c.make(root);
    ASSERT_EQ(localdata_set_root(root_.c_str()), 0);  // a good root first

    uint64_t mark = log_count();
    EXPECT_EQ(localdata_set_root(root.c_str()), -1);
    EXPECT_TRUE(logged_since(mark, c.message));
    // The earlier root is forgotten: nothing works until a root is set.
    EXPECT_EQ(localdata_ready(), 0);
    char buf[kLocaldataPathMax] = "junk";
    EXPECT_EQ(localdata_path_into(buf, 0, nullptr), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(localdata_write(6, "after", "x", 1), -1);
    EXPECT_FALSE(fs::exists(root_ + "/Config/after"));
    chmod(root.c_str(), 0700);
  }
}

TEST(LocalDataNoRoot, EveryOperationRefusesBeforeTheRootIsSet) {
  plat_init();
  log_init();
  dalloc_init();
  ASSERT_EQ(localdata_init(), 0);
  ASSERT_EQ(localdata_init(), 0);  // a second call does nothing
  EXPECT_EQ(localdata_ready(), 0);
  char buf[kLocaldataPathMax];
  void* data = nullptr;
  uint32_t len = 0;
  uint32_t size = sizeof(buf);
  localdata_dirent* list = nullptr;
  EXPECT_EQ(localdata_path_into(buf, 6, "a"), -1);
  EXPECT_EQ(localdata_path_alloc(6, "a"), nullptr);
  EXPECT_EQ(localdata_read(6, "a", &data, &len), -1);
  EXPECT_EQ(localdata_read_into(6, "a", buf, &size), -1);
  EXPECT_EQ(localdata_write(6, "a", "x", 1), -1);
  EXPECT_EQ(localdata_remove(6, "a"), -1);
  EXPECT_EQ(localdata_copy(6, "a", 7, nullptr), -1);
  EXPECT_EQ(localdata_list(&list, 6), -1);
  EXPECT_EQ(list, nullptr);
  localdata_fini();
}

TEST_F(LocalData, DirectoryNumbersAndPathLimits) {
  char buf[kLocaldataPathMax];
  uint64_t mark = log_count();
  EXPECT_EQ(localdata_path_into(buf, 15, "x"), -1);  // the install directory: none here
  EXPECT_EQ(log_count(), mark);
  EXPECT_EQ(localdata_path_into(buf, 16, "x"), -1);
  EXPECT_TRUE(logged_since(mark, "asked for subdir 16"));

  std::string long_name(kLocaldataPathMax - root_.size(), 'n');
  mark = log_count();
  strcpy(buf, "junk");
  EXPECT_EQ(localdata_path(buf, 6, long_name.c_str()), nullptr);
  EXPECT_STREQ(buf, "");
  EXPECT_TRUE(logged_since(mark, "path too long: 6:nnnn"));

  // The longest path that fits is 1023 characters.
  std::string fits(kLocaldataPathMax - 1 - (root_.size() + strlen("/Config/")), 'f');
  ASSERT_EQ(localdata_path_into(buf, 6, fits.c_str()), 0);
  EXPECT_EQ(strlen(buf), (size_t)kLocaldataPathMax - 1);
  std::string over = fits + "f";
  EXPECT_EQ(localdata_path_into(buf, 6, over.c_str()), -1);

  char* owned = localdata_path_alloc(8, "prog");
  ASSERT_NE(owned, nullptr);
  EXPECT_EQ(std::string(owned), root_ + "/Program/prog");
  dalloc_free(owned);
  EXPECT_EQ(localdata_path_alloc(16, "prog"), nullptr);
}

TEST_F(LocalData, RefusesNamesThatLeaveTheirDirectory) {
  put(root_ + "/Config/ok", "ok");
  const char* kBad[] = {"", ".", "..", "a/b", "../escape", "/abs"};
  for (const char* name : kBad) {
    SCOPED_TRACE(name);
    char buf[kLocaldataPathMax];
    void* data = nullptr;
    uint32_t len = 0;
    uint32_t size = sizeof(buf);
    uint64_t mark = log_count();
    EXPECT_EQ(localdata_path_into(buf, 6, name), -1);
    EXPECT_TRUE(logged_since(mark, "bad file name"));
    EXPECT_EQ(localdata_write(6, name, "x", 1), -1);
    EXPECT_EQ(localdata_read(6, name, &data, &len), -1);
    EXPECT_EQ(localdata_read_into(6, name, buf, &size), -1);
    EXPECT_EQ(localdata_remove(6, name), -1);
    EXPECT_EQ(localdata_copy(6, name, 6, "ok"), -1);
    EXPECT_EQ(localdata_copy(7, "ok", 6, name), -1);
  }
  EXPECT_FALSE(fs::exists(root_ + "/escape"));
  EXPECT_FALSE(fs::exists(root_ + "/abs"));
  EXPECT_TRUE(fs::is_directory(root_ + "/Config"));
  EXPECT_EQ(dir_entries(root_ + "/Config"), std::vector<std::string>{"ok"});
  EXPECT_EQ(dir_entries(root_ + "/Extensions"), std::vector<std::string>{});

  void* data = nullptr;
  uint32_t len = 0;
  EXPECT_EQ(localdata_write(6, nullptr, "x", 1), -1);
  EXPECT_EQ(localdata_read(6, nullptr, &data, &len), -1);
  EXPECT_EQ(localdata_remove(6, nullptr), -1);
}

TEST_F(LocalData, WriteThenReadRoundTrips) {
  std::string bytes("a\0b\xff\n", 5);
  bytes += std::string(5000, 'z');
  ASSERT_EQ(localdata_write(6, "settings", bytes.data(), bytes.size()), 0);
  EXPECT_EQ(slurp(root_ + "/Config/settings"), bytes);
  EXPECT_EQ(mode_of(root_ + "/Config/settings"), 0600u);

  void* data = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(localdata_read(6, "settings", &data, &len), 0);
  ASSERT_EQ(len, bytes.size());
  EXPECT_EQ(std::string((char*)data, len), bytes);
  dalloc_free(data);

  // read_into: exact capacity reads; too small stores the size and fails;
  // no buffer only stores the size.
  std::vector<char> buf(bytes.size() + 10, '#');
  uint32_t size = bytes.size();
  ASSERT_EQ(localdata_read_into(6, "settings", buf.data(), &size), 0);
  EXPECT_EQ(size, bytes.size());
  EXPECT_EQ(std::string(buf.data(), size), bytes);
  size = bytes.size() - 1;
  EXPECT_EQ(localdata_read_into(6, "settings", buf.data(), &size), -1);
  EXPECT_EQ(size, bytes.size());
  size = 0;
  EXPECT_EQ(localdata_read_into(6, "settings", nullptr, &size), 0);
  EXPECT_EQ(size, bytes.size());

  // A shorter rewrite replaces the whole file.
  ASSERT_EQ(localdata_write(6, "settings", "new", 3), 0);
  EXPECT_EQ(slurp(root_ + "/Config/settings"), "new");
  EXPECT_FALSE(has_temp_file(root_ + "/Config"));

  // A missing file fails quietly.
  uint64_t mark = log_count();
  size = 10;
  EXPECT_EQ(localdata_read(6, "absent", &data, &len), -1);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(localdata_read_into(6, "absent", buf.data(), &size), -1);
  EXPECT_EQ(localdata_remove(6, "absent"), -1);
  EXPECT_EQ(log_count(), mark);

  ASSERT_EQ(localdata_remove(6, "settings"), 0);
  EXPECT_FALSE(fs::exists(root_ + "/Config/settings"));
}

TEST_F(LocalData, ZeroByteFileIsRemovedOnRead) {
  for (int use_read_into = 0; use_read_into < 2; use_read_into++) {
    SCOPED_TRACE(use_read_into ? "read_into" : "read");
    std::string file = root_ + "/Cache/Research/empty";
    put(file, "");
    uint64_t mark = log_count();
    void* data = nullptr;
    uint32_t len = 7;
    int rc = use_read_into ? localdata_read_into(5, "empty", nullptr, &len)
                           : localdata_read(5, "empty", &data, &len);
    EXPECT_EQ(rc, -1);
    EXPECT_TRUE(logged_since(mark, ("won't open 0 byte " + file + " (removing)").c_str()));
    EXPECT_FALSE(fs::exists(file));
  }
}

TEST_F(LocalData, RunSlotFilesAreExecutableOthersPrivate) {
  const struct {
    uint32_t dir;
    unsigned mode;
  } kCases[] = {{10, 0700}, {11, 0700}, {12, 0700}, {13, 0700}, {0, 0600},
                {3, 0600},  {6, 0600},  {8, 0600},  {9, 0600},  {14, 0600}};
  for (const auto& c : kCases) {
    ASSERT_EQ(localdata_write(c.dir, "prog", "#!/bin/sh\n", 10), 0);
    EXPECT_EQ(mode_of(path(c.dir, "prog")), c.mode) << c.dir;
  }
}

TEST_F(LocalData, CacheSizeFollowsWritesRemovesAndTheFileSystem) {
  std::string data_dir = root_ + "/Cache/Data";
  EXPECT_EQ(localdata_cache_size(), 0u);
  std::string k1000(1000, 'a'), k600(600, 'b');
  ASSERT_EQ(localdata_write(3, "c1", k1000.data(), 1000), 0);
  EXPECT_EQ(localdata_cache_size(), 1000u);
  ASSERT_EQ(localdata_write(3, "c1", k600.data(), 600), 0);  // rewrite: 400 fewer
  EXPECT_EQ(localdata_cache_size(), 600u);
  ASSERT_EQ(localdata_write(3, "c2", "xyz", 3), 0);
  ASSERT_EQ(localdata_copy(3, "c3", 3, "c2"), 0);
  EXPECT_EQ(localdata_copy(3, "c1", 6, "absent"), -1);  // the old c1 stays
  EXPECT_EQ(localdata_cache_size(), 606u);
  EXPECT_EQ(localdata_cache_size(), regular_bytes(data_dir));
  ASSERT_EQ(localdata_write(6, "elsewhere", k1000.data(), 1000), 0);
  EXPECT_EQ(localdata_cache_size(), 606u);
  ASSERT_EQ(localdata_remove(3, "c1"), 0);
  EXPECT_EQ(localdata_remove(3, "c1"), -1);
  EXPECT_EQ(localdata_cache_size(), 6u);

  // Files that arrive behind the module's back count from the next measure,
  // and at the next root; a sub-directory and a link do not count.
  put(data_dir + "/outside", std::string(12345, 'o'));
  fs::create_directory(data_dir + "/subdir");
  fs::create_symlink(root_ + "/Config/elsewhere", data_dir + "/link");
  localdata_measure_cache(1);
  EXPECT_EQ(localdata_cache_size(), 12351u);
  EXPECT_EQ(localdata_cache_size(), regular_bytes(data_dir));
  uint64_t mark = log_count();
  ASSERT_EQ(localdata_set_root(root_.c_str()), 0);
  EXPECT_EQ(localdata_cache_size(), 12351u);
  EXPECT_TRUE(logged_since(mark, "data cache is 0.0Mb"));
}

TEST_F(LocalData, ListingMatchesTheDirectoryInReverse) {
  std::string dir = root_ + "/Cache/Profiles";
  std::string n31(31, 'k'), n40(40, 'L');
  for (const std::string& n : {std::string("a"), n31, n40, std::string(".hidden")}) put(dir + "/" + n, "x");
  fs::create_directory(dir + "/sub");
  put(dir + "/.ldtmp-1-ab", "half-written");  // a write's temporary file

  // The oracle: the directory's own order, reversed, without the skipped.
  std::vector<std::string> want;
  for (const auto& n : dir_entries(dir))
    if (n.size() < 32 && n.rfind(".ldtmp-", 0) != 0) want.insert(want.begin(), n);
  ASSERT_EQ(want.size(), 4u);

  uint64_t mark = log_count();
  localdata_dirent* list = nullptr;
  ASSERT_EQ(localdata_list(&list, 4), 0);
  EXPECT_TRUE(logged_since(mark, ("skipping " + n40).c_str()));
  EXPECT_EQ(drain(list), want);

  // Partly drained lists go back to the pool; entries are reused.
  for (int round = 0; round < 300; round++) {
    ASSERT_EQ(localdata_list(&list, 4), 0);
    char name[kLocaldataNameMax];
    ASSERT_EQ(localdata_list_next(&list, name), 1);
    EXPECT_EQ(want[0], name);
    localdata_list_free(&list);
    EXPECT_EQ(list, nullptr);
  }

  ASSERT_EQ(localdata_list(&list, 7), 0);  // empty directory
  EXPECT_EQ(list, nullptr);
  mark = log_count();
  list = (localdata_dirent*)&mark;
  EXPECT_EQ(localdata_list(&list, 16), -1);
  EXPECT_EQ(list, nullptr);
  EXPECT_TRUE(logged_since(mark, "asked for subdir 16"));
}

// The trim hook records the ages it was asked for and removes the files of
// the data cache named in its plan for that age.
std::vector<int32_t> g_trim_calls;
std::vector<std::pair<int32_t, std::string>> g_trim_plan;
std::string g_data_dir;

int recording_trim(int32_t days) {
  g_trim_calls.push_back(days);
  for (const auto& [d, name] : g_trim_plan)
    if (d == days) unlink((g_data_dir + "/" + name).c_str());
  return 0;
}

// Fills the data cache with `mb` sparse files of 1 MB named m0, m1, ...
void fill_cache(const std::string& dir, int mb) {
  for (int i = 0; i < mb; i++) put_sparse(dir + "/m" + std::to_string(i), kMb);
  localdata_measure_cache(1);
}

TEST_F(LocalData, TrimAsksForShorterAgesUntilUnderThreeQuarters) {
  g_data_dir = root_ + "/Cache/Data";
  const struct {
    const char* label;
    std::vector<std::pair<int32_t, std::string>> plan;
    std::vector<int32_t> calls;
    int64_t after_mb;  // cache size once the 2 MB file is written
  } kCases[] = {
      {"nothing goes", {}, {25, 20, 15, 10, 5}, 33},
      {"8 MB go at 15 days",
       {{15, "m0"}, {15, "m1"}, {15, "m2"}, {15, "m3"}, {15, "m4"}, {15, "m5"}, {15, "m6"}, {15, "m7"}},
       {25, 20, 15},
       25},
      {"6 MB go at 25 days, still above 24 MB; 1 more at 20",
       {{25, "m0"}, {25, "m1"}, {25, "m2"}, {25, "m3"}, {25, "m4"}, {25, "m5"}, {20, "m6"}, {15, "m7"}},
       {25, 20},
       26},
  };
  plat_set_test_clock(test_clock);
  localdata_set_cache_limit(32);
  localdata_set_trim_hook(recording_trim);
  int64_t now_s = 1000;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    for (const auto& n : dir_entries(g_data_dir)) fs::remove(g_data_dir + "/" + n);
    fill_cache(g_data_dir, 31);
    ASSERT_EQ(localdata_cache_size(), (uint64_t)(31 * kMb));
    g_trim_calls.clear();
    g_trim_plan = c.plan;
    g_now_ms = now_s * 1000;
    now_s += 300;

    std::string two_mb(2 * kMb, 'w');
    uint64_t mark = log_count();
    ASSERT_EQ(localdata_write(3, "new", two_mb.data(), two_mb.size()), 0);
    EXPECT_EQ(g_trim_calls, c.calls);
    EXPECT_EQ(logged_since(mark, "data cache is now "), !c.plan.empty());
    EXPECT_EQ(localdata_cache_size(), (uint64_t)(c.after_mb * kMb));
    EXPECT_EQ(localdata_cache_size(), regular_bytes(g_data_dir));
    EXPECT_EQ(slurp(g_data_dir + "/new"), two_mb);
  }
}

TEST_F(LocalData, TrimRunsAtMostOnceIn300Seconds) {
  g_data_dir = root_ + "/Cache/Data";
  g_trim_plan.clear();
  fill_cache(g_data_dir, 31);
  plat_set_test_clock(test_clock);
  g_now_ms = 0;  // the first trim is allowed even right after start
  std::string two_mb(2 * kMb, 'w');

  // No limit, or no hook: never trimmed.
  localdata_set_trim_hook(recording_trim);
  g_trim_calls.clear();
  ASSERT_EQ(localdata_write(3, "w0", two_mb.data(), two_mb.size()), 0);
  localdata_set_cache_limit(32);
  localdata_set_trim_hook(nullptr);
  ASSERT_EQ(localdata_write(3, "w1", two_mb.data(), two_mb.size()), 0);
  EXPECT_TRUE(g_trim_calls.empty());

  // A write that stays within the limit does not trim.
  localdata_set_trim_hook(recording_trim);
  localdata_set_cache_limit(64);
  ASSERT_EQ(localdata_write(3, "w2", two_mb.data(), two_mb.size()), 0);
  EXPECT_TRUE(g_trim_calls.empty());

  const struct {
    int64_t at_s;
    bool trims;
  } kSteps[] = {{0, true}, {299, false}, {300, true}, {450, false}, {600, true}, {601, false}};
  localdata_set_cache_limit(32);
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.at_s);
    g_now_ms = step.at_s * 1000 + 999;
    g_trim_calls.clear();
    ASSERT_EQ(localdata_write(3, "over", two_mb.data(), two_mb.size()), 0);  // written either way
    EXPECT_EQ(!g_trim_calls.empty(), step.trims);
  }
}

TEST_F(LocalData, WriteFlushesTheFileBeforeTheRenameAndTheFolderAfter) {
  const std::string dir = root_ + "/Config";
  const std::string file = dir + "/settings";
  const struct {
    const char* label;
    sync_fail fail;
    int rc;
    const char* contents;     // of the file after the write
    const char* logged;
  } kCases[] = {
      {"both flushes succeed", sync_fail::none, 0, "new contents", nullptr},
      {"the file's flush fails", sync_fail::temp_file, -1, "old", "failed writing "},
      {"the folder's flush fails", sync_fail::folder, 0, "new contents", "can't sync the folder of "},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ASSERT_EQ(localdata_write(6, "settings", "old", 3), 0);
    {
      std::lock_guard<std::mutex> lk(g_sync_mu);
      g_syncs.clear();
      g_sync_watch = file;
      g_sync_fail = c.fail;
    }
    uint64_t mark = log_count();
    EXPECT_EQ(localdata_write(6, "settings", "new contents", 12), c.rc);
    std::vector<sync_record> syncs;
    {
      std::lock_guard<std::mutex> lk(g_sync_mu);
      syncs.swap(g_syncs);
      g_sync_watch.clear();
      g_sync_fail = sync_fail::none;
    }
    EXPECT_EQ(slurp(file), c.contents);
    EXPECT_FALSE(has_temp_file(dir));
    if (c.logged) {
      EXPECT_TRUE(logged_since(mark, (std::string(c.logged) + file).c_str()));
    }
    // The temporary file is flushed while the name still holds the old
    // bytes; the folder after the rename, when it holds the new ones.
    ASSERT_GE(syncs.size(), 1u);
    EXPECT_EQ(syncs[0].path.rfind(dir + "/.ldtmp-", 0), 0u) << syncs[0].path;
    EXPECT_EQ(syncs[0].watched, "old");
    if (c.rc < 0) {
      EXPECT_EQ(syncs.size(), 1u);
      continue;
    }
    ASSERT_EQ(syncs.size(), 2u);
    EXPECT_EQ(syncs[1].path, dir);
    EXPECT_EQ(syncs[1].watched, "new contents");
  }
}

TEST_F(LocalData, WriteIntoAMissingFolderFails) {
  // A folder that is gone (or a file in its place) cannot take the new file.
  for (bool file_in_place : {false, true}) {
    SCOPED_TRACE(file_in_place ? "a file in its place" : "gone");
    const std::string dir = root_ + "/Extensions";
    fs::remove_all(dir);
    if (file_in_place) put(dir, "not a folder");
    uint64_t mark = log_count();
    EXPECT_EQ(localdata_write(7, "ext", "bytes", 5), -1);
    EXPECT_TRUE(logged_since(mark, ("can't write " + dir + "/ext").c_str()));
    EXPECT_EQ(fs::is_directory(dir), false);
  }
}

TEST_F(LocalData, FailedWriteLeavesTheOldFileIntact) {
  std::string data_dir = root_ + "/Cache/Data";
  std::string good(1000, 'g');
  ASSERT_EQ(localdata_write(3, "keep", good.data(), good.size()), 0);
  ASSERT_EQ(localdata_cache_size(), 1000u);

  // The child may write at most 4 KB per file; the write of 64 KB fails part
  // way through with EFBIG.
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    struct rlimit lim = {4096, 4096};
    signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(10);
    std::string big(65536, 'B');
    uint64_t mark = log_count();
    if (localdata_write(3, "keep", big.data(), big.size()) != -1) _exit(11);
    if (!logged_since(mark, "failed writing ")) _exit(12);
    if (localdata_cache_size() != 1000u) _exit(13);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(slurp(data_dir + "/keep"), good);
  EXPECT_EQ(dir_entries(data_dir), std::vector<std::string>{"keep"});

  // A target that cannot be replaced (a directory) fails the same way.
  fs::create_directory(root_ + "/Config/taken");
  put(root_ + "/Config/taken/inner", "inner");
  uint64_t mark = log_count();
  EXPECT_EQ(localdata_write(6, "taken", "x", 1), -1);
  EXPECT_TRUE(logged_since(mark, "can't replace "));
  EXPECT_EQ(slurp(root_ + "/Config/taken/inner"), "inner");
  EXPECT_FALSE(has_temp_file(root_ + "/Config"));
}

std::atomic<long> g_random{0x100};
long fixed_random() { return 0x100; }
long counting_random() { return g_random++; }

TEST_F(LocalData, TemporaryFileNeverFollowsAPlantedLink) {
  std::string victim = base_ + "/victim";
  put(victim, "victim");
  std::string link = root_ + "/Config/.ldtmp-" + std::to_string(getpid()) + "-100";
  ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);

  // Every temporary name taken: the write fails and touches nothing.
  plat_set_test_random(fixed_random);
  uint64_t mark = log_count();
  EXPECT_EQ(localdata_write(6, "target", "new", 3), -1);
  EXPECT_TRUE(logged_since(mark, "can't write "));
  EXPECT_EQ(slurp(victim), "victim");
  EXPECT_FALSE(fs::exists(root_ + "/Config/target"));

  // The next name is free: the write goes there.
  g_random = 0x100;
  plat_set_test_random(counting_random);
  ASSERT_EQ(localdata_write(6, "target", "new", 3), 0);
  EXPECT_EQ(slurp(root_ + "/Config/target"), "new");
  EXPECT_EQ(slurp(victim), "victim");
  EXPECT_TRUE(fs::is_symlink(link));
}

// A write killed part way leaves its temporary file behind: the next start
// removes those of writers that no longer run, in every folder, and leaves
// a running writer's alone.
TEST_F(LocalData, StartRemovesTheTemporaryFilesOfDeadWriters) {
  pid_t dead = fork();
  ASSERT_GE(dead, 0);
  if (dead == 0) _exit(0);
  ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  pid_t live = fork();
  ASSERT_GE(live, 0);
  if (live == 0) {
    char c;
    close(gate[1]);
    (void)!read(gate[0], &c, 1);  // until the test closes its end
    _exit(0);
  }
  close(gate[0]);
  const std::string tag = "-1f2e";
  const std::vector<std::string> stale = {root_ + "/Cache/Data/.ldtmp-" + std::to_string(dead) + tag,
                                          root_ + "/Config/.ldtmp-" + std::to_string(dead) + tag,
                                          root_ + "/.ldtmp-" + std::to_string(dead) + tag};
  const std::vector<std::string> kept = {root_ + "/Cache/Data/.ldtmp-" + std::to_string(live) + tag,
                                         root_ + "/Config/.ldtmp-" + std::to_string(getpid()) + tag,
                                         root_ + "/Config/settings"};
  for (const std::string& f : stale) put(f, std::string(5000, 's'));
  for (const std::string& f : kept) put(f, "k");
  localdata_fini();
  ASSERT_EQ(localdata_init(), 0);
  uint64_t mark = log_count();
  ASSERT_EQ(localdata_set_root(root_.c_str()), 0);
  EXPECT_EQ(localdata_stale_removed(), 3);
  EXPECT_TRUE(logged_since(mark, "removed 3 stale temporary files"));
  for (const std::string& f : stale) EXPECT_FALSE(fs::exists(f)) << f;
  for (const std::string& f : kept) EXPECT_TRUE(fs::exists(f)) << f;
  close(gate[1]);
  waitpid(live, nullptr, 0);
}

TEST_F(LocalData, OversizedFileIsRefusedWithoutEndingTheProcess) {
  std::string file = root_ + "/Extensions/huge";
  put_sparse(file, 2000000000);
  void* data = nullptr;
  uint32_t len = 0;
  uint64_t mark = log_count();
  EXPECT_EQ(localdata_read(7, "huge", &data, &len), -1);
  EXPECT_TRUE(logged_since(mark, "won't read 2000000000b"));
  EXPECT_EQ(data, nullptr);
  uint32_t size = 0;
  EXPECT_EQ(localdata_read_into(7, "huge", nullptr, &size), -1);
  EXPECT_TRUE(fs::exists(file));  // refused, not removed

  char small = 'x';
  mark = log_count();
  EXPECT_EQ(localdata_write(7, "huge2", &small, 2000000000u), -1);
  EXPECT_TRUE(logged_since(mark, "won't write 2000000000b"));
  EXPECT_FALSE(fs::exists(root_ + "/Extensions/huge2"));

  // A directory under a file's name is not read either.
  fs::create_directory(root_ + "/Extensions/adir");
  EXPECT_EQ(localdata_read(7, "adir", &data, &len), -1);
}

TEST_F(LocalData, CopyReadsAndWritesWholeFiles) {
  ASSERT_EQ(localdata_write(8, "prog", "binary", 6), 0);
  ASSERT_EQ(localdata_copy(11, "prog", 8, nullptr), 0);  // same name
  ASSERT_EQ(localdata_copy(13, "renamed", 8, "prog"), 0);
  EXPECT_EQ(slurp(root_ + "/Run/1/prog"), "binary");
  EXPECT_EQ(mode_of(root_ + "/Run/1/prog"), 0700u);
  EXPECT_EQ(slurp(root_ + "/Run/1/32/renamed"), "binary");
  uint64_t mark = log_count();
  EXPECT_EQ(localdata_copy(11, "x", 8, "nope"), -1);
  EXPECT_TRUE(logged_since(mark, "8:nope does not exist"));
  EXPECT_FALSE(fs::exists(root_ + "/Run/1/x"));
}

// Lists share the entry pool under the list lock, and cache writes from two
// threads keep one byte count.
class LocalDataConcurrency : public LocalData {};

TEST_F(LocalDataConcurrency, ListsAndCacheWritesFromSeveralThreads) {
  std::string research = root_ + "/Cache/Research";
  for (int i = 0; i < 150; i++) put(research + "/r" + std::to_string(i), "x");
  std::atomic<int> bad_lists{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; t++) {
    threads.emplace_back([&bad_lists] {
      for (int round = 0; round < 40; round++) {
        localdata_dirent* list = nullptr;
        if (localdata_list(&list, 5) != 0 || drain(list).size() != 150) bad_lists++;
      }
    });
    threads.emplace_back([t] {
      for (int round = 0; round < 40; round++) {
        std::string name = "t" + std::to_string(t) + "-" + std::to_string(round % 5);
        std::string bytes(100 + round * 7, 'c');
        localdata_write(3, name.c_str(), bytes.data(), bytes.size());
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad_lists.load(), 0);
  EXPECT_EQ(localdata_cache_size(), regular_bytes(root_ + "/Cache/Data"));
  EXPECT_EQ(dir_entries(root_ + "/Cache/Data").size(), 10u);
}

}  // namespace
