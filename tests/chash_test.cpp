// String-keyed hash sets: table sizing, duplicate refusal (also past a deleted
// slot), removal, sorted-walk positions and cursors, walks cut short by a
// resize, a seeded differential run against std::set, and a lock-free reader
// walking the sorted array while another thread adds records with deferred
// freeing of the replaced arrays.
#include "chash.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dalloc.h"
#include "lazyfree.h"
#include "log.h"
#include "plat.h"
#include "testlog.h"

namespace {

// Records are the keys themselves: a record's first field is its key.
void* rec(const std::string& key) { return const_cast<char*>(key.c_str()); }
const char* key_of(const void* r) { return static_cast<const char*>(r); }

std::vector<std::string> sorted_walk(const chash& t) {
  std::vector<std::string> out;
  int32_t cursor = 0;
  while (void* r = chash_sorted_next(&t, &cursor)) out.emplace_back(key_of(r));
  return out;
}

std::multiset<std::string> slot_walk(const chash& t) {
  std::multiset<std::string> out;
  chash_iter it;
  chash_iter_init(&t, &it);
  while (void* r = chash_iter_next(&t, &it)) out.insert(key_of(r));
  return out;
}

bool is_prime(uint64_t n) {
  if (n < 2) return false;
  for (uint64_t d = 2; d * d <= n; d++)
    if (n % d == 0) return false;
  return true;
}

class ChashTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { start_runtime(TestStderr::kOn); }
  void TearDown() override { chash_free(&t_); }
  chash t_{};
};

TEST_F(ChashTest, InitSizesTheTableOddAndPrimeFromEight) {
  struct Case {
    uint32_t expected;
    uint64_t size;
  } cases[] = {{0, 1}, {1, 1}, {2, 3}, {4, 5}, {7, 7}, {8, 11}, {9, 11},
               {13, 13}, {14, 17}, {24, 29}, {100, 101}, {1000, 1009}, {7920, 7927}};
  for (const Case& c : cases) {
    ASSERT_EQ(chash_init(&t_, c.expected), 0);
    EXPECT_EQ(t_.size, c.size) << c.expected;
    EXPECT_EQ(t_.count, 0u);
    chash_free(&t_);
    EXPECT_EQ(t_.slots, nullptr);
    EXPECT_EQ(t_.size, 0u);
  }
}

TEST_F(ChashTest, TinyTablesGrowAndKeepEveryRecord) {
  std::vector<std::string> keys;
  for (int i = 0; i < 40; i++) keys.push_back("K" + std::to_string(i));
  for (uint32_t start : {0u, 1u}) {
    ASSERT_EQ(chash_init(&t_, start), 0);
    ASSERT_EQ(t_.size, 1u);
    for (size_t i = 0; i < keys.size(); i++) {
      ASSERT_EQ(chash_add(&t_, rec(keys[i])), 0) << "record " << i + 1 << " into a table of " << t_.size;
      EXPECT_LE(t_.count, t_.size / 2);
      EXPECT_TRUE(t_.size % 2 == 1 && (t_.size < 8 || is_prime(t_.size))) << t_.size;
    }
    for (const std::string& k : keys) EXPECT_EQ(chash_find(&t_, k.c_str()), rec(k));
    chash_free(&t_);
  }
}

TEST_F(ChashTest, AddingAPresentKeyIsRefused) {
  std::string a = "BHP", a2 = "BHP";
  ASSERT_EQ(chash_init(&t_, 10), 0);
  ASSERT_EQ(chash_add(&t_, rec(a)), 0);
  uint64_t since = log_count();
  EXPECT_EQ(chash_add(&t_, rec(a2)), -1);
  EXPECT_TRUE(logged_since(since, "BHP already here"));
  EXPECT_EQ(t_.count, 1u);
  EXPECT_EQ(chash_find(&t_, "BHP"), rec(a));
}

// A key whose probe chain starts on a deleted slot must still be found further
// on, not added a second time; and a new key reuses the deleted slot.
TEST_F(ChashTest, APresentKeyPastADeletedSlotIsNotAddedTwice) {
  ASSERT_EQ(chash_init(&t_, 100), 0);
  std::string first = "A";
  ASSERT_EQ(chash_add(&t_, rec(first)), 0);
  // Find a key whose first probe lands on the slot of "A": with "A" alone in
  // the table, that is exactly a key whose insertion counts a collision.
  std::vector<std::string> candidates;
  for (int i = 0; i < 100000; i++) candidates.push_back("C" + std::to_string(i));
  std::string* clash = nullptr;
  for (std::string& c : candidates) {
    uint64_t before = t_.collisions;
    ASSERT_EQ(chash_add(&t_, rec(c)), 0);
    bool collided = t_.collisions != before;
    ASSERT_EQ(chash_remove(&t_, c.c_str()), 0);
    if (collided) {
      clash = &c;
      break;
    }
  }
  ASSERT_NE(clash, nullptr) << "no key shares the first slot of \"A\"";
  chash_free(&t_);

  ASSERT_EQ(chash_init(&t_, 100), 0);
  ASSERT_EQ(chash_add(&t_, rec(first)), 0);
  ASSERT_EQ(chash_add(&t_, rec(*clash)), 0);
  EXPECT_EQ(t_.collisions, 1u);
  ASSERT_EQ(chash_remove(&t_, "A"), 0);  // the chain now starts on a deleted slot
  std::string again = *clash;
  EXPECT_EQ(chash_add(&t_, rec(again)), -1);
  EXPECT_EQ(t_.count, 1u);
  EXPECT_EQ(slot_walk(t_), (std::multiset<std::string>{*clash}));
  EXPECT_EQ(sorted_walk(t_), (std::vector<std::string>{*clash}));

  ASSERT_EQ(chash_add(&t_, rec(first)), 0);  // back into its deleted slot: one probe
  EXPECT_EQ(t_.collisions, 1u);
  EXPECT_EQ(chash_find(&t_, "A"), rec(first));
  EXPECT_EQ(chash_find(&t_, clash->c_str()), rec(*clash));
}

TEST_F(ChashTest, RemoveDropsTheKeyFromLookupAndBothWalks) {
  std::vector<std::string> keys = {"NAB", "ANZ", "CBA", "WBC", "BHP", "RIO"};
  ASSERT_EQ(chash_init(&t_, 20), 0);
  for (std::string& k : keys) ASSERT_EQ(chash_add(&t_, rec(k)), 0);
  ASSERT_EQ(chash_remove(&t_, "CBA"), 0);
  EXPECT_EQ(chash_find(&t_, "CBA"), nullptr);
  EXPECT_EQ(t_.count, 5u);
  EXPECT_EQ(sorted_walk(t_), (std::vector<std::string>{"ANZ", "BHP", "NAB", "RIO", "WBC"}));
  EXPECT_EQ(slot_walk(t_), (std::multiset<std::string>{"ANZ", "BHP", "NAB", "RIO", "WBC"}));
  EXPECT_EQ(chash_remove(&t_, "CBA"), -1);
  EXPECT_EQ(chash_remove(&t_, "XYZ"), -1);
  ASSERT_EQ(chash_remove(&t_, "WBC"), 0);  // the last entry: no shift
  EXPECT_EQ(sorted_walk(t_), (std::vector<std::string>{"ANZ", "BHP", "NAB", "RIO"}));
}

TEST_F(ChashTest, ChangeCounterMovesByTwoForEachShiftOnly) {
  std::vector<std::string> keys = {"B", "D", "F", "A", "E", "G"};
  ASSERT_EQ(chash_init(&t_, 50), 0);
  struct Step {
    int key;          // index into keys; -1 removes `remove`
    const char* remove;
    uint64_t changes;  // after the step
  } steps[] = {
      {0, nullptr, 0},  // B: first entry
      {1, nullptr, 0},  // D: appended
      {2, nullptr, 0},  // F: appended
      {3, nullptr, 2},  // A: shifts three up
      {4, nullptr, 4},  // E: shifts one up
      {5, nullptr, 4},  // G: appended
      {-1, "G", 4},     // last entry: nothing moves
      {-1, "A", 6},     // first entry: the rest move down
  };
  for (const Step& s : steps) {
    if (s.key >= 0)
      ASSERT_EQ(chash_add(&t_, rec(keys[s.key])), 0);
    else
      ASSERT_EQ(chash_remove(&t_, s.remove), 0);
    EXPECT_EQ(t_.changes, s.changes) << (s.key >= 0 ? keys[s.key] : s.remove);
  }
  EXPECT_EQ(sorted_walk(t_), (std::vector<std::string>{"B", "D", "E", "F"}));
}

TEST_F(ChashTest, SortedIndexGivesThePositionBeforeTheKey) {
  std::vector<std::string> keys = {"H", "B", "F", "D"};
  ASSERT_EQ(chash_init(&t_, 20), 0);
  std::string only = "M";
  ASSERT_EQ(chash_add(&t_, rec(only)), 0);
  EXPECT_EQ(chash_sorted_index(&t_, "M"), -1);  // fewer than two records
  ASSERT_EQ(chash_remove(&t_, "M"), 0);
  for (std::string& k : keys) ASSERT_EQ(chash_add(&t_, rec(k)), 0);
  struct Case {
    const char* key;
    int32_t index;
  } cases[] = {{"A", -1}, {"B", -1}, {"C", 0}, {"D", 0}, {"E", 1}, {"F", 1}, {"G", 2}, {"H", 2}, {"Z", 2}};
  for (const Case& c : cases) EXPECT_EQ(chash_sorted_index(&t_, c.key), c.index) << c.key;
}

TEST_F(ChashTest, CursorsWalkForwardAndBackward) {
  std::vector<std::string> keys = {"D", "A", "C", "B", "E"};
  ASSERT_EQ(chash_init(&t_, 20), 0);
  for (std::string& k : keys) ASSERT_EQ(chash_add(&t_, rec(k)), 0);
  EXPECT_EQ(sorted_walk(t_), (std::vector<std::string>{"A", "B", "C", "D", "E"}));

  // A backward walk stops before position 0.
  std::vector<std::string> back;
  int32_t cursor = 4;
  while (void* r = chash_sorted_prev(&t_, &cursor)) back.emplace_back(key_of(r));
  EXPECT_EQ(back, (std::vector<std::string>{"E", "D", "C", "B"}));
  EXPECT_EQ(cursor, 0);

  for (int32_t bad : {-1, 5, 100}) {
    int32_t c = bad;
    EXPECT_EQ(chash_sorted_next(&t_, &c), nullptr);
    EXPECT_EQ(c, bad);
    EXPECT_EQ(chash_sorted_prev(&t_, &c), nullptr);
  }
  // From the position before a key, the next step gives that key.
  cursor = chash_sorted_index(&t_, "C") + 1;
  EXPECT_STREQ(key_of(chash_sorted_next(&t_, &cursor)), "C");
}

// A resize keeps every sorted position, so a cursor taken before it goes on
// correctly afterwards; a slot walk cannot, and stops with a warning. (A resize
// that lands inside one cursor step makes that step return null; that needs a
// second thread and is exercised by the concurrency suite.)
TEST_F(ChashTest, ResizeBetweenStepsKeepsCursorsButStopsSlotWalks) {
  std::vector<std::string> keys;
  for (int i = 0; i < 200; i++) keys.push_back("S" + std::to_string(1000 + i));
  ASSERT_EQ(chash_init(&t_, 10), 0);
  size_t added = 0;
  for (; added < 3; added++) ASSERT_EQ(chash_add(&t_, rec(keys[added])), 0);

  int32_t cursor = 0;
  ASSERT_STREQ(key_of(chash_sorted_next(&t_, &cursor)), "S1000");
  int32_t back = 2;
  ASSERT_STREQ(key_of(chash_sorted_prev(&t_, &back)), "S1002");
  chash_iter it;
  chash_iter_init(&t_, &it);
  ASSERT_NE(chash_iter_next(&t_, &it), nullptr);

  uint64_t size = t_.size;
  while (t_.size == size) ASSERT_EQ(chash_add(&t_, rec(keys[added++])), 0);
  EXPECT_STREQ(key_of(chash_sorted_next(&t_, &cursor)), "S1001");
  EXPECT_STREQ(key_of(chash_sorted_prev(&t_, &back)), "S1001");
  uint64_t since = log_count();
  EXPECT_EQ(chash_iter_next(&t_, &it), nullptr);
  char expect[80];
  snprintf(expect, sizeof expect, "hash size changed from %llu to %llu", static_cast<unsigned long long>(size),
           static_cast<unsigned long long>(t_.size));
  EXPECT_TRUE(logged_since(since, expect)) << expect;
}

TEST_F(ChashTest, UnsortedInsertsAreSortedByTheNextResizeAndRemovable) {
  std::vector<std::string> keys;
  for (int i = 0; i < 30; i++) keys.push_back("U" + std::to_string((i * 7) % 30 + 10));
  ASSERT_EQ(chash_init(&t_, 100), 0);
  for (std::string& k : keys) ASSERT_EQ(chash_insert(&t_, rec(k), 0), 0);
  ASSERT_EQ(chash_remove(&t_, keys[5].c_str()), 0);  // found although the array is unsorted
  EXPECT_EQ(t_.count, 29u);
  ASSERT_EQ(chash_resize(&t_, 500), 0);
  std::set<std::string> model(keys.begin(), keys.end());
  model.erase(keys[5]);
  EXPECT_EQ(sorted_walk(t_), std::vector<std::string>(model.begin(), model.end()));
}

// A bulk of unsorted inserts put in order at once: a new array holding the
// same records in order; a table already in order is left alone.
TEST_F(ChashTest, SortOnceAfterUnsortedInserts) {
  std::vector<std::string> keys;
  for (int i = 0; i < 500; i++) keys.push_back("B" + std::to_string((i * 37) % 500 + 1000));
  ASSERT_EQ(chash_init(&t_, 2000), 0);
  for (std::string& k : keys) ASSERT_EQ(chash_insert(&t_, rec(k), 0), 0);
  void** before = t_.sorted;
  const uint64_t changes = t_.changes;
  ASSERT_EQ(chash_sort(&t_), 0);
  EXPECT_NE(before, t_.sorted);
  EXPECT_EQ(changes + 2, t_.changes);
  std::set<std::string> model(keys.begin(), keys.end());
  EXPECT_EQ(sorted_walk(t_), std::vector<std::string>(model.begin(), model.end()));
  for (const std::string& k : keys) EXPECT_EQ(chash_find(&t_, k.c_str()), rec(k));
  before = t_.sorted;
  ASSERT_EQ(chash_sort(&t_), 0);
  EXPECT_EQ(before, t_.sorted);
  const std::string early = "B0999";
  ASSERT_EQ(chash_add(&t_, rec(early)), 0);  // ordered adds go on from here
  EXPECT_EQ(sorted_walk(t_).front(), "B0999");
}

TEST_F(ChashTest, ResizeBelowTheRecordCountKeepsEveryRecord) {
  std::vector<std::string> keys;
  for (int i = 0; i < 50; i++) keys.push_back("R" + std::to_string(i));
  ASSERT_EQ(chash_init(&t_, 200), 0);
  for (std::string& k : keys) ASSERT_EQ(chash_add(&t_, rec(k)), 0);
  ASSERT_EQ(chash_resize(&t_, 3), 0);
  EXPECT_GT(t_.size, 2 * t_.count);
  for (const std::string& k : keys) EXPECT_EQ(chash_find(&t_, k.c_str()), rec(k));
  EXPECT_EQ(chash_resize(&t_, -1), -1);
}

// Seeded random adds, removes and finds against std::set, with the sorted walk
// compared in order and the slot walk as a set after every few steps. The key
// space is small enough that removed keys come back into deleted slots, and
// the table grows from one slot through many resizes.
TEST_F(ChashTest, DifferentialAgainstStdSet) {
  std::vector<std::string> keys;
  for (int i = 0; i < 3000; i++) {
    char k[16];
    snprintf(k, sizeof k, "%c%c%c%d", 'A' + i % 26, 'A' + (i / 26) % 26, 'A' + (i * 7) % 26, i % 17);
    keys.emplace_back(k);
  }
  std::set<std::string> unique(keys.begin(), keys.end());
  keys.assign(unique.begin(), unique.end());

  std::mt19937 rng(77);
  ASSERT_EQ(chash_init(&t_, 0), 0);
  std::set<std::string> model;
  int resizes = 0;
  for (int step = 0; step < 40000; step++) {
    const std::string& k = keys[rng() % keys.size()];
    int op = rng() % 10;
    // Early on mostly adds (growth), later balanced (deleted-slot reuse).
    bool add = step < 8000 ? op < 8 : op < 5;
    uint64_t size = t_.size;
    if (add) {
      int expect = model.count(k) ? -1 : 0;
      ASSERT_EQ(chash_add(&t_, rec(k)), expect) << k;
      model.insert(k);
    } else if (op < 8) {
      int expect = model.count(k) ? 0 : -1;
      ASSERT_EQ(chash_remove(&t_, k.c_str()), expect) << k;
      model.erase(k);
    } else {
      void* found = chash_find(&t_, k.c_str());
      ASSERT_EQ(found != nullptr, model.count(k) == 1) << k;
      if (found) {
        ASSERT_STREQ(key_of(found), k.c_str());
      }
    }
    if (t_.size != size) resizes++;
    ASSERT_EQ(t_.count, model.size());
    ASSERT_EQ(t_.changes % 2, 0u);
    if (step % 331 == 0 || step == 39999) {
      ASSERT_EQ(sorted_walk(t_), std::vector<std::string>(model.begin(), model.end())) << "step " << step;
      ASSERT_EQ(slot_walk(t_), std::multiset<std::string>(model.begin(), model.end())) << "step " << step;
    }
  }
  EXPECT_GE(resizes, 10);
  EXPECT_GT(model.size(), 500u);
}

// One thread adds records under deferred freeing while another walks the sorted
// array with cursors and no lock. The writer lets time pass (so replaced arrays
// are actually freed) only while the reader is between steps: a reader that
// starts a step after that sees the new arrays.
std::atomic<int64_t> g_clock_ms{0};
int64_t test_clock() { return g_clock_ms.load(std::memory_order_acquire); }

TEST(ChashConcurrency, ReaderWalksTheSortedArrayWhileRecordsAreAdded) {
  plat_init();
  log_init();
  dalloc_init();
  plat_set_test_clock(test_clock);
  ASSERT_EQ(lazyfree_init(), 0);
  lazyfree_set_delay(1);

  constexpr int kRecords = 6000;
  std::vector<std::string> keys;
  std::mt19937 rng(5);
  for (int i = 0; i < kRecords; i++) keys.push_back("Q" + std::to_string(rng() % 1000000) + "." + std::to_string(i));
  std::set<std::string> all(keys.begin(), keys.end());

  chash t{};
  ASSERT_EQ(chash_init(&t, 0), 0);
  std::atomic<bool> in_step{false}, done{false}, started{false};
  std::atomic<int64_t> frees_allowed{0};
  int64_t walks = 0, steps = 0, bad = 0;

  std::thread reader([&] {
    while (!done.load(std::memory_order_acquire)) {
      int32_t cursor = 0;
      for (int j = 0; j < 50; j++) {
        in_step.store(true, std::memory_order_seq_cst);
        cursor = chash_sorted_index(&t, keys[(steps + j) % kRecords].c_str()) + 1;
        in_step.store(false, std::memory_order_seq_cst);
      }
      started.store(true, std::memory_order_release);
      for (;;) {
        in_step.store(true, std::memory_order_seq_cst);
        void* r = chash_sorted_next(&t, &cursor);
        bool ok = r == nullptr || all.count(key_of(r)) == 1;
        in_step.store(false, std::memory_order_seq_cst);
        if (!ok) bad++;
        if (!r) break;
        steps++;
      }
      walks++;
    }
  });
  while (!started.load(std::memory_order_acquire)) std::this_thread::yield();
  for (int i = 0; i < kRecords; i++) {
    ASSERT_EQ(chash_add(&t, rec(keys[i])), 0);
    // Fresh arrays of the same size now and then, so replaced arrays are
    // common and a reader often holds one.
    if (i % 16 == 0) ASSERT_EQ(chash_resize(&t, static_cast<int32_t>(t.size)), 0);
    if (!in_step.load(std::memory_order_seq_cst)) {
      g_clock_ms.fetch_add(1000);
      frees_allowed++;
    }
    lazyfree_tick();
  }
  done.store(true, std::memory_order_release);
  reader.join();

  EXPECT_EQ(bad, 0);
  EXPECT_GT(walks, 0);
  EXPECT_GT(frees_allowed.load(), 0);
  EXPECT_EQ(sorted_walk(t), std::vector<std::string>(all.begin(), all.end()));
  lazyfree_fini();
  chash_free(&t);
  plat_set_test_clock(nullptr);
}

}  // namespace

// Settled inserts: records out of order wait behind the ordered part (which
// stays in key order and counts them out), a full tail is merged by itself,
// chash_settle merges a short one in place, removal from either part keeps
// the ordered count true, and an ordered insert merges the tail first. Checked
// against std::set over a seeded random run.
TEST_F(ChashTest, SettledInsertsWaitInATailAndMergeIntoOrder) {
  std::mt19937 rng(1909);
  std::vector<std::string> keys;
  std::set<std::string> seen;
  while (keys.size() < 700) {
    std::string k = "S" + std::to_string(rng() % 100000);
    if (seen.insert(k).second) keys.push_back(k);
  }
  ASSERT_EQ(chash_init(&t_, 16), 0);
  std::set<std::string> model;
  const auto prefix_in_order = [&] {
    for (uint64_t i = 1; i < t_.ordered; i++)
      if (strcmp(key_of(t_.sorted[i - 1]), key_of(t_.sorted[i])) >= 0) return false;
    return t_.ordered <= t_.count && t_.count - t_.ordered < kChashTail;
  };
  for (size_t i = 0; i < keys.size(); i++) {
    ASSERT_EQ(chash_insert(&t_, rec(keys[i]), kChashSettled), 0);
    model.insert(keys[i]);
    ASSERT_TRUE(prefix_in_order()) << i;
    if (i % 97 == 0) {
      // Removal from the tail or from the ordered part.
      const std::string& gone = keys[i / 2];
      if (model.erase(gone)) ASSERT_EQ(chash_remove(&t_, gone.c_str()), 0);
      ASSERT_TRUE(prefix_in_order()) << i;
    }
    if (i % 250 == 0) {
      void** array = t_.sorted;
      ASSERT_EQ(chash_settle(&t_), 0);
      EXPECT_EQ(t_.ordered, t_.count);
      EXPECT_EQ(sorted_walk(t_), std::vector<std::string>(model.begin(), model.end()));
      EXPECT_EQ(t_.sorted, array) << "a short tail merges in place";
    }
  }
  EXPECT_EQ(slot_walk(t_), std::multiset<std::string>(model.begin(), model.end()));
  ASSERT_GT(t_.count, t_.ordered) << "the run should end with records waiting";
  const std::string first = "A";
  ASSERT_EQ(chash_add(&t_, rec(first)), 0);  // an ordered insert merges the tail first
  model.insert(first);
  EXPECT_EQ(t_.ordered, t_.count);
  EXPECT_EQ(sorted_walk(t_), std::vector<std::string>(model.begin(), model.end()));
}
