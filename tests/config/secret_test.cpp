// The scrambled form of the local settings file: the size rule, round trips
// at the block edges, fresh nonces, refusal of every kind of damage, and the
// defaults of the local settings record.
#include "config/secret.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/config.h"
#include "dalloc.h"
#include "ssclient.h"
#include "startup/start.h"
#include "testlog.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime());

class Secret : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, config_init()); }
  void TearDown() override { config_shutdown(); }

  std::string scramble(const std::string& text) {
    char* out = nullptr;
    int32_t n = 0;
    EXPECT_EQ(0, secret_scramble(text.data(), (int32_t)text.size(), &out, &n));
    if (!out) return "";
    std::string s(out, (size_t)n);
    dalloc_free(out);
    return s;
  }
  // The text, or "<fail>".
  std::string unscramble(const std::string& data) {
    char* out = nullptr;
    int32_t n = 0;
    if (secret_unscramble(data.data(), (int32_t)data.size(), &out, &n) < 0) return "<fail>";
    std::string s(out, (size_t)n);
    EXPECT_EQ('\0', out[n]);
    dalloc_free(out);
    return s;
  }
};

TEST_F(Secret, RoundTripsWithTheSizeRule) {
  const int32_t sizes[] = {1, 15, 16, 17, 31, 32, 33, 1000, kSecretMaxText};
  for (int32_t n : sizes) {
    SCOPED_TRACE(n);
    std::string text;
    for (int32_t i = 0; i < n; i++) text += (char)(' ' + (i * 7) % 90);
    std::string s = scramble(text);
    EXPECT_EQ((size_t)(32 + 2 * ((n + 15) / 16 * 16)), s.size());
    EXPECT_EQ(0u, s.size() % 16);
    EXPECT_EQ(std::string::npos, s.find_first_not_of("0123456789abcdef"));
    EXPECT_NE(0, strncmp(s.c_str(), "version", 7));
    EXPECT_EQ(text, unscramble(s));
  }
}

TEST_F(Secret, EachScrambleUsesAFreshNonceAndHidesTheText) {
  const std::string text = "password hunter2hunter2hunter2";
  std::string a = scramble(text), b = scramble(text);
  EXPECT_NE(a, b);
  EXPECT_EQ(text, unscramble(a));
  EXPECT_EQ(text, unscramble(b));
  // Neither the words nor their hex form show through.
  EXPECT_EQ(std::string::npos, a.find("hunter2"));
  EXPECT_EQ(std::string::npos, a.find("68756e74657232"));
}

TEST_F(Secret, RefusesDamage) {
  const std::string good = scramble("version 2\nsite X\n");
  auto with = [&](size_t at, char c) {
    std::string s = good;
    s[at] = c;
    return s;
  };
  auto flip = [&](size_t at) { return with(at, good[at] == '0' ? '1' : '0'); };
  const struct {
    const char* what;
    std::string data;
    const char* line;
  } cases[] = {
      {"nonce", flip(0), "config check failed"},
      {"length", flip(16), "bad config length"},
      {"tag", flip(24), "config check failed"},
      {"body", flip(40), "config check failed"},
      {"last digit", flip(good.size() - 1), "config check failed"},
      {"not hex", with(40, 'g'), "bad digit"},
      {"short", good.substr(0, good.size() - 16), "bad config length"},
      {"odd size", good.substr(0, good.size() - 1), "bad length"},
      {"header only", good.substr(0, 32), "bad config length"},
      {"too small", good.substr(0, 16), "bad length"},
      {"too big", good + std::string((size_t)kSecretMaxScrambled, '0'), "bad config length"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LogCapture log;
    EXPECT_EQ("<fail>", unscramble(c.data));
    EXPECT_TRUE(log.has(c.line));
  }
}

TEST_F(Secret, RefusesTextsItCannotStore) {
  char* out = nullptr;
  int32_t n = 0;
  std::string big((size_t)kSecretMaxText + 1, 'x');
  EXPECT_EQ(-1, secret_scramble(big.data(), (int32_t)big.size(), &out, &n));
  EXPECT_EQ(-1, secret_scramble("", 0, &out, &n));
  secret_key_free();
  EXPECT_EQ(-1, secret_scramble("abc", 3, &out, &n));
  EXPECT_EQ(nullptr, out);
}

TEST_F(Secret, DefaultsOfTheLocalSettings) {
  local_config* c = config_local();
  memset(c, 0x5a, sizeof *c);
  ASSERT_EQ(0, secret_local_defaults());
  EXPECT_STREQ("", c->site);
  EXPECT_EQ(0, c->remember_username);
  EXPECT_EQ(1, c->workaround_allow_any_double_bufs);
  EXPECT_EQ(1, c->graphics_quality);
  EXPECT_EQ(0, c->cur_location);
  EXPECT_EQ(0, c->upgrade_count);
  EXPECT_EQ(300, c->reconnect_timeout);
  EXPECT_EQ(5, c->speed);
  for (int i = 0; i < kConfigLocations; i++) {
    const config_location& l = c->locations[i];
    EXPECT_STREQ(i == 0 ? "Default" : "", l.name);
    EXPECT_EQ(443, l.ambit_port);
    EXPECT_EQ(1, l.ambit_uses_default_servers);
    EXPECT_EQ(8080, l.proxy_port);
    const int32_t bounds[4] = {10, 20, 1000, 700};
    EXPECT_EQ(0, memcmp(bounds, l.bounds, sizeof bounds));
    EXPECT_EQ(5000, l.last_decode_dur);
    EXPECT_EQ(2000, l.last_save_dur);
  }
}

TEST_F(Secret, ForgettingTheRestartLoginKeepsItWhileARestartIsPending) {
  local_config* c = config_local();
  for (int pending = 0; pending < 2; pending++) {
    strcpy(c->restart_site, "S");
    strcpy(c->restart_username, "u");
    strcpy(c->restart_password, "p");
    start_set_restart(pending);
    ASSERT_EQ(0, secret_forget_restart_login());
    EXPECT_STREQ("S", c->restart_site);
    EXPECT_STREQ(pending ? "u" : "", c->restart_username);
    EXPECT_STREQ(pending ? "p" : "", c->restart_password);
  }
  start_set_restart(0);
}

}  // namespace
