// The status line: texts round-trip and are cut at 256 characters, a repeated
// text is logged once, formatted texts, and readers on another thread always
// see one whole text while writers replace it.
#include "ssmsg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "plat.h"
#include "testlog.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

std::string get() {
  char buf[kSsmsgTextMax + 1];
  memset(buf, 'x', sizeof buf);
  ssmsg_get(buf);
  EXPECT_NE(nullptr, memchr(buf, 0, sizeof buf)) << "status text not terminated inside 257 bytes";
  return buf;
}

class Msg : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, ssmsg_init()); }
  void TearDown() override { ssmsg_fini(); }
};

TEST_F(Msg, StartsEmptyAndKeepsTheTexts) {
  EXPECT_EQ("", get());
  struct {
    const char* set;
    std::string expect;
  } cases[] = {
      {"Connecting to 127.0.0.1", "Connecting to 127.0.0.1"},
      {"Handshaking", "Handshaking"},
      {"Logging in", "Logging in"},
      {"", ""},
      {nullptr, ""},
      {"Online", "Online"},
  };
  for (const auto& c : cases) {
    ssmsg_set(c.set);
    EXPECT_EQ(c.expect, get()) << (c.set ? c.set : "(null)");
  }
}

TEST_F(Msg, SameTextLoggedOnce) {
  LogCapture log;
  ssmsg_set("Handshaking");
  ssmsg_set("Handshaking");
  EXPECT_EQ(1, log.count("Handshaking"));
  ssmsg_set("Logging in");
  ssmsg_set("Handshaking");
  EXPECT_EQ(2, log.count("Handshaking"));
  EXPECT_EQ(1, log.count("Logging in"));
}

TEST_F(Msg, LongTextCutTo256) {
  std::string long_text;
  for (int i = 0; i < 300; i++) long_text += static_cast<char>('a' + i % 26);
  LogCapture log;
  ssmsg_set(long_text.c_str());
  EXPECT_EQ(long_text.substr(0, 256), get());
  // A text that differs only after the 256th character is the same text: it
  // is neither taken nor logged again. (A log line holds fewer characters
  // than the status text, so the log is searched for a shorter prefix.)
  std::string other = long_text.substr(0, 256) + "different tail";
  ssmsg_set(other.c_str());
  EXPECT_EQ(long_text.substr(0, 256), get());
  EXPECT_EQ(1, log.count(long_text.substr(0, 200)));
}

TEST_F(Msg, FormattedText) {
  ssmsg_setf("Connecting to %s", "10.1.2.3");
  EXPECT_EQ("Connecting to 10.1.2.3", get());
  std::string wide(400, 'w');
  ssmsg_setf("%s!", wide.c_str());
  EXPECT_EQ(std::string(256, 'w'), get());
}

TEST(MsgLife, InitFailsWithoutALock) {
  // Take every free slot of the platform table so the msg lock cannot be made.
  std::vector<plat_slot> taken;
  for (;;) {
    plat_slot s = plat_mutex_create();
    if (s < 0) break;
    taken.push_back(s);
  }
  LogCapture log;
  EXPECT_EQ(-1, ssmsg_init());
  EXPECT_EQ(1, log.count("can't create msg lock"));
  for (plat_slot s : taken) plat_mutex_destroy(s);
  EXPECT_EQ(0, ssmsg_init());
  ssmsg_fini();
}

TEST(SsmsgConcurrency, ReadersSeeWholeTexts) {
  ASSERT_EQ(0, ssmsg_init());
  const std::string a(200, 'a'), b(120, 'b');
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 20000; i++) ssmsg_set(i % 2 ? a.c_str() : b.c_str());
    stop = true;
  });
  int reads = 0, torn = 0;
  while (!stop) {
    std::string t = get();
    if (!t.empty() && t != a && t != b) torn++;
    reads++;
  }
  writer.join();
  EXPECT_GT(reads, 0);
  EXPECT_EQ(0, torn);
  ssmsg_fini();
}

}  // namespace
