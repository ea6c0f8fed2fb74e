#include "plat.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int64_t elapsed_ms(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// Each test starts with an empty slot table.
class Plat : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(plat_init(), 0); }
  void TearDown() override {
    plat_set_thread_wrapper(nullptr);
    plat_set_test_clock(nullptr);
    plat_set_test_random(nullptr);
    plat_fini();
  }
};

// A thread that records its own stack and then blocks reading a pipe until
// the pipe's write end is closed.
struct blocked_thread {
  int read_fd = -1;
  std::atomic<bool> ready{false};
  uintptr_t stack_lo = 0, stack_hi = 0;
  static void body(void* arg) {
    auto* self = (blocked_thread*)arg;
    pthread_attr_t attr;
    pthread_getattr_np(pthread_self(), &attr);
    void* addr;
    size_t size;
    pthread_attr_getstack(&attr, &addr, &size);
    pthread_attr_destroy(&attr);
    self->stack_lo = (uintptr_t)addr;
    self->stack_hi = (uintptr_t)addr + size;
    self->ready.store(true);
    char c;
    while (read(self->read_fd, &c, 1) > 0) {
    }
  }
};

TEST_F(Plat, FullTableRefusesAThreadButKeepsSlotZero) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::vector<blocked_thread> threads(kPlatSlots - 1);
  for (size_t i = 0; i < threads.size(); i++) {
    threads[i].read_fd = fds[0];
    ASSERT_EQ(plat_thread_create(blocked_thread::body, &threads[i]), (plat_slot)(i + 1));
  }
  for (auto& t : threads) {
    while (!t.ready.load()) plat_sleep_ms(1);
  }
  ::testing::internal::CaptureStderr();
  blocked_thread extra;
  EXPECT_EQ(plat_thread_create(blocked_thread::body, &extra), -1);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("ERROR: all slots are inuse"), std::string::npos) << err;
  EXPECT_EQ(plat_mutex_create(), 0);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(plat_cond_create(), -1);
  ::testing::internal::GetCapturedStderr();

  // The crash handler's walk finds every running thread, each marker inside
  // that thread's own stack.
  int32_t cursor = 0;
  int found = 0;
  for (uintptr_t marker; (marker = plat_next_thread_stack(&cursor)) != 0;) {
    const blocked_thread& t = threads[cursor - 2];  // slot cursor - 1 holds thread cursor - 2
    EXPECT_GE(marker, t.stack_lo);
    EXPECT_LT(marker, t.stack_hi);
    found++;
  }
  EXPECT_EQ(found, kPlatSlots - 1);
  EXPECT_EQ(plat_next_thread_stack(&cursor), 0u);

  close(fds[1]);  // every reader sees end of file and returns
  for (plat_slot s = 1; s < kPlatSlots; s++) plat_thread_join(s);
  cursor = 0;
  EXPECT_EQ(plat_next_thread_stack(&cursor), 0u);  // ended threads are not scanned
  close(fds[0]);
}

TEST_F(Plat, JoinWaitsAndTheSlotStaysTaken) {
  static std::atomic<bool> done;
  done = false;
  plat_slot s = plat_thread_create(
      [](void*) {
        plat_sleep_ms(50);
        done.store(true);
      },
      nullptr);
  ASSERT_EQ(s, 1);
  plat_thread_join(s);
  EXPECT_TRUE(done.load());
  plat_thread_join(s);  // a second join does nothing
  plat_slot quick = plat_thread_create([](void*) {}, nullptr);
  EXPECT_EQ(quick, 2);  // slot 1 is still taken after the join
  plat_sleep_ms(20);    // let it end before it is joined
  plat_thread_join(quick);
  EXPECT_EQ(plat_thread_cancel(s), 0);  // frees slot 1
  plat_slot again = plat_thread_create([](void*) {}, nullptr);
  EXPECT_EQ(again, 1);
  plat_thread_join(again);
}

TEST_F(Plat, CancelStopsABlockedThreadAndFreesItsSlot) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  blocked_thread t;
  t.read_fd = fds[0];
  plat_slot s = plat_thread_create(blocked_thread::body, &t);
  ASSERT_GE(s, 1);
  while (!t.ready.load()) plat_sleep_ms(1);
  auto start = Clock::now();
  EXPECT_EQ(plat_thread_cancel(s), 0);
  EXPECT_LT(elapsed_ms(start), 5000);
  int32_t cursor = 0;
  EXPECT_EQ(plat_next_thread_stack(&cursor), 0u);
  blocked_thread u;
  u.read_fd = fds[0];
  EXPECT_EQ(plat_thread_create(blocked_thread::body, &u), s);
  while (!u.ready.load()) plat_sleep_ms(1);
  close(fds[1]);
  plat_thread_join(s);
  close(fds[0]);
}

TEST_F(Plat, FiniStopsRunningThreadsAndSkipsJoinedOnes) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  blocked_thread running;
  running.read_fd = fds[0];
  ASSERT_GE(plat_thread_create(blocked_thread::body, &running), 1);
  plat_slot ended = plat_thread_create([](void*) {}, nullptr);
  plat_thread_join(ended);
  plat_slot not_joined = plat_thread_create([](void*) {}, nullptr);
  ASSERT_GE(not_joined, 1);
  plat_mutex_create();
  plat_cond_create();
  while (!running.ready.load()) plat_sleep_ms(1);
  plat_sleep_ms(20);
  auto start = Clock::now();
  plat_fini();
  EXPECT_LT(elapsed_ms(start), 5000);
  ASSERT_EQ(plat_init(), 0);
  EXPECT_EQ(plat_mutex_create(), 0);  // every slot is free again
  EXPECT_EQ(plat_thread_create([](void*) {}, nullptr), 1);
  close(fds[0]);
  close(fds[1]);
}

TEST_F(Plat, WrapperRunsEveryThreadBody) {
  static std::atomic<int> wrapped, ran;
  wrapped = 0;
  ran = 0;
  plat_set_thread_wrapper([](plat_thread_fn fn, void* arg) {
    wrapped++;
    fn(arg);
  });
  plat_slot s = plat_thread_create([](void*) { ran++; }, nullptr);
  plat_thread_join(s);
  EXPECT_EQ(wrapped.load(), 1);
  EXPECT_EQ(ran.load(), 1);
  plat_set_thread_wrapper(nullptr);
  s = plat_thread_create([](void*) { ran++; }, nullptr);
  plat_thread_join(s);
  EXPECT_EQ(wrapped.load(), 1);
  EXPECT_EQ(ran.load(), 2);
}

TEST_F(Plat, LockOperationsOnBadSlotsFail) {
  plat_slot c = plat_cond_create();
  EXPECT_NE(plat_mutex_lock(-1), 0);
  EXPECT_NE(plat_mutex_lock(kPlatSlots), 0);
  EXPECT_NE(plat_mutex_lock(c), 0);  // a condition is not a mutex
  plat_slot m = plat_mutex_create();
  EXPECT_EQ(plat_mutex_lock(m), 0);
  EXPECT_EQ(plat_mutex_unlock(m), 0);
  plat_mutex_destroy(m);
  EXPECT_NE(plat_mutex_lock(m), 0);
  EXPECT_EQ(plat_mutex_create(), m);  // the lowest free slot again
}

struct shared_counter {
  plat_slot mutex;
  long value;
};

TEST(PlatConcurrency, MutexSerialisesFourThreads) {
  plat_init();
  shared_counter sc = {plat_mutex_create(), 0};
  ASSERT_GE(sc.mutex, 0);
  std::vector<plat_slot> threads;
  for (int i = 0; i < 4; i++) {
    threads.push_back(plat_thread_create(
        [](void* arg) {
          auto* c = (shared_counter*)arg;
          for (int n = 0; n < 20000; n++) {
            plat_mutex_lock(c->mutex);
            c->value++;
            plat_mutex_unlock(c->mutex);
          }
        },
        &sc));
  }
  for (plat_slot s : threads) plat_thread_join(s);
  EXPECT_EQ(sc.value, 80000);
  plat_fini();
}

struct gate {
  plat_slot mutex, cond;
  bool open;
  std::atomic<int> waiting, passed;
};

TEST(PlatConcurrency, BroadcastReleasesEveryWaiter) {
  plat_init();
  gate g{plat_mutex_create(), plat_cond_create(), false, {0}, {0}};
  std::vector<plat_slot> threads;
  for (int i = 0; i < 4; i++) {
    threads.push_back(plat_thread_create(
        [](void* arg) {
          auto* gt = (gate*)arg;
          plat_mutex_lock(gt->mutex);
          gt->waiting++;
          while (!gt->open) plat_cond_wait(gt->cond, gt->mutex);
          plat_mutex_unlock(gt->mutex);
          gt->passed++;
        },
        &g));
  }
  while (g.waiting.load() < 4) plat_sleep_ms(1);
  EXPECT_EQ(g.passed.load(), 0);
  plat_mutex_lock(g.mutex);
  g.open = true;
  plat_cond_broadcast(g.cond);
  plat_mutex_unlock(g.mutex);
  for (plat_slot s : threads) plat_thread_join(s);
  EXPECT_EQ(g.passed.load(), 4);
  plat_fini();
}

TEST(PlatConcurrency, TimedWaitTimesOutOrIsSignalled) {
  plat_init();
  gate g{plat_mutex_create(), plat_cond_create(), false, {0}, {0}};
  plat_mutex_lock(g.mutex);
  auto start = Clock::now();
  EXPECT_EQ(plat_cond_timedwait(g.cond, g.mutex, 60), 1);
  int64_t waited = elapsed_ms(start);
  EXPECT_GE(waited, 59);
  EXPECT_LT(waited, 5000);

  plat_slot s = plat_thread_create(
      [](void* arg) {
        auto* gt = (gate*)arg;
        plat_mutex_lock(gt->mutex);
        gt->open = true;
        plat_cond_signal(gt->cond);
        plat_mutex_unlock(gt->mutex);
      },
      &g);
  int rc = 0;
  start = Clock::now();
  while (!g.open && rc == 0) rc = plat_cond_timedwait(g.cond, g.mutex, 10000);
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(g.open);
  EXPECT_LT(elapsed_ms(start), 5000);
  plat_mutex_unlock(g.mutex);
  plat_thread_join(s);
  plat_fini();
}

TEST_F(Plat, ClockStartsAtZeroAndFollowsTheSteadyClock) {
  plat_fini();
  auto before_init = Clock::now();
  plat_init();
  int64_t first = plat_ms();
  EXPECT_GE(first, 0);
  EXPECT_LE(first, elapsed_ms(before_init) + 1);  // 0 unless this thread was held up

  // Bracketed by the steady clock, so a busy machine cannot fail it.
  auto t0 = Clock::now();
  int64_t a = plat_ms();
  auto t1 = Clock::now();
  plat_sleep_ms(40);
  auto t2 = Clock::now();
  int64_t b = plat_ms();
  int64_t inner = std::chrono::duration_cast<std::chrono::milliseconds>(t2 - t1).count();
  int64_t outer = elapsed_ms(t0);
  EXPECT_GE(inner, 40);
  EXPECT_GE(b - a, inner - 1);
  EXPECT_LE(b - a, outer + 1);
  EXPECT_EQ(plat_seconds(), plat_ms() / 1000);

  static int64_t now;
  now = 123456;
  plat_set_test_clock([] { return now; });
  EXPECT_EQ(plat_ms(), 123456);
  EXPECT_EQ(plat_seconds(), 123);
  now = 240000;
  EXPECT_EQ(plat_seconds(), 240);
  plat_set_test_clock(nullptr);
  EXPECT_GE(plat_ms(), b);
  EXPECT_LT(plat_ms(), 100000);
}

TEST_F(Plat, SleepOfZeroYields) {
  auto start = Clock::now();
  plat_sleep_ms(0);
  plat_sleep_ms(-5);
  EXPECT_LT(elapsed_ms(start), 500);
}

class PlatFiles : public Plat {
 protected:
  void SetUp() override {
    Plat::SetUp();
    char tmpl[] = "/tmp/ambit_plat_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_umask_ = umask(022);
  }
  void TearDown() override {
    umask(old_umask_);
    std::string cmd = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
    Plat::TearDown();
  }
  std::string dir_;
  mode_t old_umask_ = 0;
};

TEST_F(PlatFiles, CreatedFilesArePrivate) {
  struct {
    const char* name;
    int flags;
  } cases[] = {
      {"wo", O_WRONLY | O_CREAT | O_TRUNC},
      {"rw", O_RDWR | O_CREAT},  // not write-only: still given a mode
  };
  for (const auto& c : cases) {
    std::string path = dir_ + "/" + c.name;
    int fd = plat_open(path.c_str(), c.flags);
    ASSERT_GE(fd, 0) << c.name;
    close(fd);
    struct stat sb;
    ASSERT_EQ(stat(path.c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0600u) << c.name;
  }
  EXPECT_EQ(plat_open((dir_ + "/missing").c_str(), O_RDONLY), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(PlatFiles, ReadAndWriteAll) {
  std::string path = dir_ + "/data";
  std::vector<char> out(100000);
  for (size_t i = 0; i < out.size(); i++) out[i] = (char)(i * 31);
  int fd = plat_open(path.c_str(), O_WRONLY | O_CREAT);
  EXPECT_EQ(plat_write_all(fd, out.data(), (int32_t)out.size()), (int32_t)out.size());
  EXPECT_EQ(plat_write_all(fd, out.data(), 0), 0);
  close(fd);
  std::vector<char> in(out.size() + 10);
  fd = plat_open(path.c_str(), O_RDONLY);
  EXPECT_EQ(plat_read_all(fd, in.data(), 0), 0);
  // Asking for more than the file holds gives what there is at end of file.
  EXPECT_EQ(plat_read_all(fd, in.data(), (int32_t)in.size()), (int32_t)out.size());
  EXPECT_EQ(memcmp(in.data(), out.data(), out.size()), 0);
  close(fd);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(plat_read_all(-1, in.data(), 4), -1);
  EXPECT_EQ(plat_write_all(-1, in.data(), 4), -1);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("OSERR: read ("), std::string::npos) << err;
  EXPECT_NE(err.find("OSERR: write ("), std::string::npos) << err;
}

TEST_F(Plat, ReadAllWaitsOnANonBlockingPipe) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
  std::thread writer([fd = fds[1]] {
    for (const char* piece : {"ab", "cd", "ef"}) {
      plat_sleep_ms(10);
      ASSERT_EQ(write(fd, piece, 2), 2);
    }
  });
  char buf[7] = {0};
  EXPECT_EQ(plat_read_all(fds[0], buf, 6), 6);
  EXPECT_STREQ(buf, "abcdef");
  writer.join();
  close(fds[0]);
  close(fds[1]);
}

std::atomic<int> g_signals;
void count_signal(int) { g_signals++; }

char thread_state(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close_paren = stat.rfind(')');
  return close_paren == std::string::npos || close_paren + 2 >= stat.size() ? '?' : stat[close_paren + 2];
}

// A writer blocked on a full pipe is interrupted twice by a signal (without
// SA_RESTART, so write fails with EINTR), then the pipe is drained.
TEST_F(Plat, WriteAllCountsInterrupts) {
  struct sigaction sa = {}, old = {};
  sa.sa_handler = count_signal;
  sigemptyset(&sa.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
  g_signals = 0;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int cap = fcntl(fds[1], F_GETPIPE_SZ);
  ASSERT_GT(cap, 0);
  std::vector<char> fill((size_t)cap, 'f');
  ASSERT_EQ(write(fds[1], fill.data(), fill.size()), (ssize_t)cap);

  std::atomic<pid_t> tid{0};
  std::atomic<int32_t> result{-2};
  ::testing::internal::CaptureStderr();
  std::thread writer([&] {
    tid = (pid_t)syscall(SYS_gettid);
    result = plat_write_all(fds[1], "0123456789", 10);
  });
  pthread_t handle = writer.native_handle();
  auto wait_blocked = [&] {
    auto start = Clock::now();
    while ((tid.load() == 0 || thread_state(tid.load()) != 'S') && elapsed_ms(start) < 5000) plat_sleep_ms(1);
  };
  for (int k = 1; k <= 2; k++) {
    wait_blocked();
    pthread_kill(handle, SIGUSR1);
    auto start = Clock::now();
    while (g_signals.load() < k && elapsed_ms(start) < 5000) plat_sleep_ms(1);
  }
  wait_blocked();
  std::vector<char> drain((size_t)cap + 10);
  ASSERT_EQ(plat_read_all(fds[0], drain.data(), cap), cap);
  writer.join();
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(result.load(), 10);
  EXPECT_EQ(g_signals.load(), 2);
  EXPECT_NE(err.find("WARN : 2 interrupts writing 10b"), std::string::npos) << err;
  ASSERT_EQ(plat_read_all(fds[0], drain.data(), 10), 10);
  EXPECT_EQ(memcmp(drain.data(), "0123456789", 10), 0);
  sigaction(SIGUSR1, &old, nullptr);
  close(fds[0]);
  close(fds[1]);
}

TEST_F(PlatFiles, MkdirCreatesPrivateDirectoriesOnce) {
  std::string path = dir_ + "/sub";
  EXPECT_EQ(plat_mkdir(path.c_str()), 0);
  struct stat sb;
  ASSERT_EQ(stat(path.c_str(), &sb), 0);
  EXPECT_TRUE(S_ISDIR(sb.st_mode));
  EXPECT_EQ(sb.st_mode & 0777, 0700u);
  EXPECT_EQ(plat_mkdir(path.c_str()), 0);  // already there
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(plat_mkdir((dir_ + "/no/such/parent").c_str()), -1);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("OSERR: can't mkdir"), std::string::npos) << err;
}

TEST(PlatPaths, Join) {
  struct {
    const char* path;
    const char* component;
    const char* expect;
  } cases[] = {
      {"a", "b", "a/b"}, {"a/", "b", "a/b"}, {"", "b", "b"}, {"/", "b", "/b"}, {"/x/y", "z.txt", "/x/y/z.txt"},
  };
  for (const auto& c : cases) {
    char buf[1024];
    snprintf(buf, sizeof buf, "%s", c.path);
    EXPECT_EQ(plat_path_join(buf, c.component), buf);
    EXPECT_STREQ(buf, c.expect);
  }
  // 1000 + separator + 22 = 1023 characters fit; one more does not.
  char buf[1024];
  std::string base(1000, 'p');
  snprintf(buf, sizeof buf, "%s", base.c_str());
  EXPECT_EQ(plat_path_join(buf, std::string(22, 'c').c_str()), buf);
  EXPECT_EQ(strlen(buf), 1023u);
  snprintf(buf, sizeof buf, "%s", base.c_str());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(plat_path_join(buf, std::string(23, 'c').c_str()), nullptr);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::string(buf), base);
  EXPECT_NE(err.find("ERROR: ppppp"), std::string::npos) << err;  // the rest is past the 255-character cut

  snprintf(buf, sizeof buf, "%s", std::string(1020, 'q').c_str());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(plat_path_join(buf, "abc"), nullptr);  // exactly 1024 with the separator
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(strlen(buf), 1020u);
}

TEST(PlatPaths, BasenameTempDirAndConstants) {
  struct {
    const char* path;
    const char* base;
  } names[] = {{"/a/b/c.txt", "c.txt"}, {"c.txt", "c.txt"}, {"/a/b/", ""}, {"/", ""}};
  for (const auto& n : names) EXPECT_STREQ(plat_basename(n.path), n.base) << n.path;
  const char* p = "/some/path";
  EXPECT_EQ(plat_native_path(p), p);
  EXPECT_EQ(plat_path_separator(), '/');
  EXPECT_STREQ(plat_line_end(), "\n");

  struct {
    std::string in, out;
  } dirs[] = {
      {"/tmp/x/", "/tmp/x"}, {"/tmp/x", "/tmp/x"}, {"/tmp/x//", "/tmp/x/"}, {"/", "/"},
      {std::string(2000, 'd'), std::string(1023, 'd')},
  };
  for (const auto& d : dirs) {
    plat_set_temp_dir(d.in.c_str());
    EXPECT_EQ(std::string(plat_temp_dir()), d.out);
  }
  plat_set_temp_dir("/tmp");
}

TEST(PlatHost, OsDescriptionAndCpus) {
  utsname u;
  ASSERT_EQ(uname(&u), 0);
  std::string model = "Unknown";
  std::ifstream dmi("/sys/class/dmi/id/product_name");
  std::string line;
  if (dmi && std::getline(dmi, line) && !line.empty()) model = line;
  EXPECT_EQ(std::string(plat_os_description()), std::string("Linux ") + u.release + " on " + model);
  EXPECT_EQ(plat_cpu_count(), get_nprocs());
}

TEST_F(Plat, RandomSeam) {
  plat_set_test_random([]() -> long { return 0x12345678; });
  EXPECT_EQ(plat_random(), 0x12345678);
  unsigned char bytes[16];
  plat_random_bytes(bytes, sizeof bytes);
  for (unsigned char b : bytes) EXPECT_EQ(b, 0x78);
  plat_set_test_random(nullptr);
  plat_random_bytes(bytes, sizeof bytes);
  int same = 0;
  for (unsigned char b : bytes) same += b == bytes[0];
  EXPECT_LT(same, 16);  // 16 equal bytes from the real generator: 2^-120
}

}  // namespace
