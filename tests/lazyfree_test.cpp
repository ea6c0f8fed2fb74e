// Deferred calls on the test clock: immediate calls while disabled, the packing
// of equal requests into runs as a table of request sequences (queue shape and
// the order calls happen once due), due times, switching off, pool returns and
// the final flush.
#include "lazyfree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "pool.h"

namespace {

int64_t g_now_ms = 0;
int64_t test_clock() { return g_now_ms; }

// Every call made by a todo, in the order made.
struct Call {
  char fn;  // 'f', 'g' or 'h'
  uintptr_t a, b, c;
  bool operator==(const Call&) const = default;
};
std::vector<Call> g_calls;

void fn_f(void* a) { g_calls.push_back({'f', reinterpret_cast<uintptr_t>(a), 0, 0}); }
void fn_g(void* a) { g_calls.push_back({'g', reinterpret_cast<uintptr_t>(a), 0, 0}); }
void fn_h(void* a, void* b, void* c) {
  g_calls.push_back({'h', reinterpret_cast<uintptr_t>(a), reinterpret_cast<uintptr_t>(b), reinterpret_cast<uintptr_t>(c)});
}

void* ptr(uintptr_t v) { return reinterpret_cast<void*>(v); }

class LazyfreeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    plat_init();
    log_init();
    dalloc_init();
  }
  void SetUp() override {
    g_now_ms = 1000000;
    plat_set_test_clock(test_clock);
    g_calls.clear();
  }
  void TearDown() override {
    lazyfree_fini();
    plat_set_test_clock(nullptr);
  }
  static std::vector<int32_t> shape() {
    int32_t n = lazyfree_queue_shape(nullptr, 0);
    std::vector<int32_t> out(n);
    lazyfree_queue_shape(out.data(), n);
    return out;
  }
};

TEST_F(LazyfreeTest, DisabledCallsAtOnce) {
  ASSERT_EQ(lazyfree_later(fn_f, ptr(7)), 0);
  EXPECT_EQ(g_calls, (std::vector<Call>{{'f', 7, 0, 0}}));
  ASSERT_EQ(lazyfree_queue(reinterpret_cast<void*>(fn_h), ptr(1), 2, ptr(2), ptr(3), 0), 0);
  EXPECT_EQ(g_calls.back(), (Call{'h', 1, 2, 3}));
  EXPECT_EQ(shape(), std::vector<int32_t>{});
}

TEST_F(LazyfreeTest, CallsRunOnceDueAndNotBefore) {
  ASSERT_EQ(lazyfree_init(), 0);
  lazyfree_set_delay(10);
  ASSERT_EQ(lazyfree_later(fn_f, ptr(1)), 0);
  g_now_ms += 4000;
  ASSERT_EQ(lazyfree_later(fn_g, ptr(2)), 0);
  g_now_ms += 5999;  // 9.999 s after the first
  lazyfree_tick();
  EXPECT_TRUE(g_calls.empty());
  g_now_ms += 1;
  lazyfree_tick();
  EXPECT_EQ(g_calls, (std::vector<Call>{{'f', 1, 0, 0}}));
  g_now_ms += 4000;
  lazyfree_tick();
  EXPECT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(shape(), std::vector<int32_t>{});
}

// A sequence of requests: `count` requests of one kind, with the first
// arguments numbered on from the previous segment, after moving the clock.
struct Segment {
  char fn;       // 'f', 'g' or 'h' (kind 2 with b = extra)
  uintptr_t b;   // 'h' only
  int count;
  int advance_ms;
};

struct PackCase {
  const char* name;
  std::vector<Segment> requests;
  std::vector<int32_t> queue;  // calls each queued todo stands for, oldest first
};

std::vector<int32_t> ones(int n) { return std::vector<int32_t>(n, 1); }
std::vector<int32_t> cat(std::vector<std::vector<int32_t>> parts) {
  std::vector<int32_t> out;
  for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST_F(LazyfreeTest, EqualRequestsPackIntoRunsAndStillRunInRequestOrder) {
  std::vector<PackCase> cases = {
      {"20 equal then a different one", {{'f', 0, 20, 0}, {'g', 0, 1, 0}}, ones(21)},
      {"21 equal then a different one", {{'f', 0, 21, 0}, {'g', 0, 1, 0}}, {21, 1}},
      {"25 equal then a different one", {{'f', 0, 25, 0}, {'g', 0, 1, 0}}, {25, 1}},
      {"1000 equal", {{'f', 0, 1000, 0}}, ones(1000)},
      {"1001 equal", {{'f', 0, 1001, 0}}, {1, 1000}},
      {"1001 equal then 21 more", {{'f', 0, 1001, 0}, {'f', 0, 21, 0}, {'g', 0, 1, 0}}, {1, 1000, 21, 1}},
      {"2001 equal then a different one", {{'f', 0, 2001, 0}, {'g', 0, 1, 0}}, cat({{1, 1000, 1000}, {1}})},
      {"alternating functions", {{'f', 0, 1, 0}, {'g', 0, 1, 0}, {'f', 0, 1, 0}, {'g', 0, 1, 0}, {'f', 0, 1, 0}},
       ones(5)},
      {"interleaved runs",
       {{'f', 0, 30, 0}, {'g', 0, 22, 0}, {'f', 0, 5, 0}, {'h', 9, 40, 0}, {'g', 0, 1, 0}},
       cat({{30, 22}, ones(5), {40, 1}})},
      {"same function, different extra argument", {{'h', 1, 15, 0}, {'h', 2, 15, 0}, {'f', 0, 1, 0}}, ones(31)},
      {"a new second breaks the run", {{'f', 0, 15, 0}, {'f', 0, 15, 1000}, {'g', 0, 1, 0}}, ones(31)},
      {"same second, clock moved within it", {{'f', 0, 15, 0}, {'f', 0, 15, 500}, {'g', 0, 1, 0}}, {30, 1}},
  };
  for (const PackCase& c : cases) {
    SCOPED_TRACE(c.name);
    g_now_ms = 1000000;
    g_calls.clear();
    ASSERT_EQ(lazyfree_init(), 0);
    lazyfree_set_delay(10);
    std::vector<Call> expected;
    uintptr_t arg = 1;
    for (const Segment& s : c.requests) {
      g_now_ms += s.advance_ms;
      for (int i = 0; i < s.count; i++, arg++) {
        if (s.fn == 'f') {
          ASSERT_EQ(lazyfree_later(fn_f, ptr(arg)), 0);
          expected.push_back({'f', arg, 0, 0});
        } else if (s.fn == 'g') {
          ASSERT_EQ(lazyfree_later(fn_g, ptr(arg)), 0);
          expected.push_back({'g', arg, 0, 0});
        } else {
          ASSERT_EQ(lazyfree_queue(reinterpret_cast<void*>(fn_h), ptr(arg), 2, ptr(s.b), ptr(s.b + 100), 0), 0);
          expected.push_back({'h', arg, s.b, s.b + 100});
        }
      }
    }
    EXPECT_EQ(shape(), c.queue);
    lazyfree_tick();
    EXPECT_TRUE(g_calls.empty());
    g_now_ms += 20000;
    lazyfree_tick();
    EXPECT_EQ(g_calls, expected);
    EXPECT_EQ(shape(), std::vector<int32_t>{});
    lazyfree_fini();
  }
}

// A call that queues another deferred call while the queue is being run.
constexpr uintptr_t kRequeued = 1u << 30;
void fn_requeue(void* a) {
  g_calls.push_back({'r', reinterpret_cast<uintptr_t>(a), 0, 0});
  lazyfree_later(fn_f, ptr(reinterpret_cast<uintptr_t>(a) | kRequeued));
}

// Seeded mixtures of single requests, long equal streaks, partial ticks and
// calls that queue more, against a plain first-in first-out list of the calls
// with their due seconds: thousands of todos, so the queue's storage fills,
// empties and refills many times over. A run is queued when the next,
// different request comes, and is due from then; so each streak and each
// tick is closed at once by a request no other equals (an extra argument of
// its own), and every run keeps the due second of its requests.
TEST_F(LazyfreeTest, SeededMixturesRunAsAPlainFifoWould) {
  for (uint32_t seed = 1; seed <= 6; seed++) {
    SCOPED_TRACE(seed);
    uint32_t x = seed * 2654435761u;
    auto next = [&x](uint32_t n) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      return x % n;
    };
    g_now_ms = 1000000;
    g_calls.clear();
    ASSERT_EQ(lazyfree_init(), 0);
    lazyfree_set_delay(2);
    struct Due {
      Call call;
      int64_t due;
    };
    std::vector<Due> fifo;  // queued, oldest first
    size_t ran = 0;         // of fifo, already due and run
    std::vector<Call> expected;
    uintptr_t arg = 1;
    auto seconds = [] { return g_now_ms / 1000; };
    uintptr_t closer = 1000;
    auto close = [&] {
      closer++;
      ASSERT_EQ(lazyfree_queue(reinterpret_cast<void*>(fn_h), ptr(0), 2, ptr(closer), ptr(0), 0), 0);
      fifo.push_back({{'h', 0, closer, 0}, seconds() + 2});
    };
    for (int step = 0; step < 400; step++) {
      const uint32_t what = next(10);
      if (what < 6) {
        // A streak of one kind: mostly short, sometimes long enough to pack.
        const int n = next(4) == 0 ? 1 + static_cast<int>(next(1500)) : 1 + static_cast<int>(next(5));
        const char fn = "fgrh"[next(4)];
        for (int i = 0; i < n; i++, arg++) {
          if (fn == 'f') {
            ASSERT_EQ(lazyfree_later(fn_f, ptr(arg)), 0);
          } else if (fn == 'g') {
            ASSERT_EQ(lazyfree_later(fn_g, ptr(arg)), 0);
          } else if (fn == 'r') {
            ASSERT_EQ(lazyfree_later(fn_requeue, ptr(arg)), 0);
          } else {
            ASSERT_EQ(lazyfree_queue(reinterpret_cast<void*>(fn_h), ptr(arg), 2, ptr(5), ptr(6), 0), 0);
          }
          fifo.push_back({{fn, arg, fn == 'h' ? 5u : 0u, fn == 'h' ? 6u : 0u}, seconds() + 2});
        }
        close();
      } else if (what < 8) {
        g_now_ms += next(1500);
      } else {
        lazyfree_tick();
        // What the reference runs: every todo due by now, oldest first; a
        // requeueing call adds its own todo at the newest end.
        while (ran < fifo.size() && fifo[ran].due <= seconds()) {
          const Call c = fifo[ran++].call;
          expected.push_back(c);
          if (c.fn == 'r') fifo.push_back({{'f', c.a | kRequeued, 0, 0}, seconds() + 2});
        }
        ASSERT_EQ(g_calls, expected) << "step " << step;
        close();
        int64_t queued = 0;
        for (int32_t n : shape()) queued += n;
        ASSERT_EQ(queued, static_cast<int64_t>(fifo.size() - ran));
      }
    }
    lazyfree_fini();
    for (; ran < fifo.size(); ran++) {
      expected.push_back(fifo[ran].call);
      if (fifo[ran].call.fn == 'r') fifo.push_back({{'f', fifo[ran].call.a | kRequeued, 0, 0}, 0});
    }
    EXPECT_EQ(g_calls, expected);
  }
}

TEST_F(LazyfreeTest, PoolReturnsAreDeferredAndPacked) {
  pool p;
  ASSERT_EQ(pool_init(&p, 100, 32), 0);
  std::vector<void*> items;
  for (int i = 0; i < 30; i++) items.push_back(pool_alloc(&p));
  ASSERT_EQ(lazyfree_init(), 0);
  lazyfree_set_delay(10);
  for (void* item : items) ASSERT_EQ(lazyfree_pool_free(&p, item), 0);
  ASSERT_EQ(lazyfree_later(fn_f, ptr(1)), 0);
  EXPECT_EQ(shape(), (std::vector<int32_t>{30, 1}));
  // Not yet returned: the pool hands out a fresh item.
  void* fresh = pool_alloc(&p);
  for (void* item : items) EXPECT_NE(fresh, item);
  g_now_ms += 10000;
  lazyfree_tick();
  // Returned oldest first, so the pool (last in, first out) gives the last back first.
  EXPECT_EQ(pool_alloc(&p), items.back());
  EXPECT_EQ(pool_alloc(&p), items[items.size() - 2]);
  pool_destroy(&p);
}

TEST_F(LazyfreeTest, SwitchingOffRunsWhatIsDueAndLeavesTheRestForTicks) {
  ASSERT_EQ(lazyfree_init(), 0);
  lazyfree_set_delay(10);
  ASSERT_EQ(lazyfree_later(fn_f, ptr(1)), 0);
  g_now_ms += 5000;
  ASSERT_EQ(lazyfree_later(fn_f, ptr(2)), 0);
  g_now_ms += 5000;
  lazyfree_set_enabled(0);
  EXPECT_EQ(g_calls, (std::vector<Call>{{'f', 1, 0, 0}}));
  ASSERT_EQ(lazyfree_later(fn_g, ptr(3)), 0);  // disabled: at once
  EXPECT_EQ(g_calls.size(), 2u);
  g_now_ms += 5000;
  lazyfree_tick();
  EXPECT_EQ(g_calls, (std::vector<Call>{{'f', 1, 0, 0}, {'g', 3, 0, 0}, {'f', 2, 0, 0}}));
  lazyfree_set_enabled(1);
  ASSERT_EQ(lazyfree_later(fn_g, ptr(4)), 0);
  EXPECT_EQ(g_calls.size(), 3u);
}

TEST_F(LazyfreeTest, FiniRunsEverythingWhateverItsDueTime) {
  ASSERT_EQ(lazyfree_init(), 0);
  lazyfree_set_delay(3600);
  for (uintptr_t i = 1; i <= 50; i++) ASSERT_EQ(lazyfree_later(fn_f, ptr(i)), 0);
  ASSERT_EQ(lazyfree_later(fn_g, ptr(51)), 0);
  EXPECT_EQ(shape(), (std::vector<int32_t>{50, 1}));
  lazyfree_fini();
  ASSERT_EQ(g_calls.size(), 51u);
  for (uintptr_t i = 0; i < 51; i++) EXPECT_EQ(g_calls[i].a, i + 1);
  ASSERT_EQ(lazyfree_later(fn_g, ptr(52)), 0);  // off after fini
  EXPECT_EQ(g_calls.size(), 52u);
}

TEST_F(LazyfreeTest, AnUnknownKindIsRefused) {
  ASSERT_EQ(lazyfree_init(), 0);
  EXPECT_EQ(lazyfree_queue(reinterpret_cast<void*>(fn_f), ptr(1), 3, nullptr, nullptr, 0), -1);
  EXPECT_EQ(shape(), std::vector<int32_t>{});
}

}  // namespace
