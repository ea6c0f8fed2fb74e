// Reading the local settings file on a temporary data root: a plain
// "LOCAL_CONFIG.0" upgraded by the next save, the fallback when the main file
// is missing or damaged in any way, the live record untouched by a failed
// load, the location rules (built-in hosts, legacy keys, unnamed blocks,
// bounds), values held to their ranges, and restart lines read only while a
// restart is pending.
#include "config/load_local.h"

#include <cstring>

#include "config/save_local.h"
#include "localdir.h"
#include "testlog.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime());

using LoadLocal = LocalDir;

TEST_F(LoadLocal, PlainFallbackIsReadAndTheNextSaveScramblesIt) {
  put("LOCAL_CONFIG.0", "version 1\nsite ABC\nspeed 7\n");
  LogCapture log;
  ASSERT_EQ(0, load_local_config());
  EXPECT_STREQ("ABC", config_local()->site);
  EXPECT_EQ(7, config_local()->speed);
  EXPECT_TRUE(log.has("loaded 27b version 1 local config"));
  EXPECT_STREQ("ABC", ssclient_get_login_site());
  ASSERT_EQ(0, save_local_config());
  std::string text = unscrambled(take("LOCAL_CONFIG"));
  EXPECT_EQ(0u, text.find("version 2\nsite ABC\n"));
}

TEST_F(LoadLocal, NoFileLeavesTheRecord) {
  config_local()->speed = 33;
  LogCapture log;
  EXPECT_EQ(0, load_local_config());
  EXPECT_TRUE(log.has("local config not found"));
  EXPECT_EQ(33, config_local()->speed);
}

TEST_F(LoadLocal, DamagedMainFileFallsBack) {
  // A good scrambled file to damage.
  config_local()->speed = 11;
  ASSERT_EQ(0, save_local_config());
  const std::string good = take("LOCAL_CONFIG");
  std::string flipped = good;
  flipped[50] = flipped[50] == 'a' ? 'b' : 'a';
  const struct {
    const char* what;
    std::string main;
    const char* line;
  } cases[] = {
      {"short", "versi", "local config is bad"},
      {"six bytes", "versio", "local config is bad"},
      {"bad scramble", flipped, "failed to decrypt local config"},
      {"truncated", good.substr(0, good.size() - 32), "failed to decrypt local config"},
      {"no version", "versionless 1\nsite X\n", "no version present, aborting parse"},
      {"version 0", "version 0\nsite X\n", "no version present, aborting parse"},
      {"too big", std::string((size_t)kSecretMaxScrambled + 1, 'a'), "too big"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    put("LOCAL_CONFIG", c.main);
    put("LOCAL_CONFIG.0", "version 1\nspeed 22\n");
    ASSERT_EQ(0, secret_local_defaults());
    LogCapture log;
    EXPECT_EQ(0, load_local_config());
    EXPECT_TRUE(log.has(c.line));
    EXPECT_EQ(22, config_local()->speed);

    // With no fallback the load fails and the live record stays as it was.
    std::filesystem::remove(path("LOCAL_CONFIG.0"));
    config_local()->speed = 44;
    EXPECT_EQ(-1, load_local_config());
    EXPECT_EQ(44, config_local()->speed);
  }
}

TEST_F(LoadLocal, LocationRules) {
  local_config* c = config_local();
  strcpy(c->locations[0].name, "Kept");
  strcpy(c->locations[0].ambit_hostname, "kept.example");
  put("LOCAL_CONFIG",
      "version 2\n"
      "location\n"                      // no name: entry 0 unchanged, but used up
      "location.ambit_hostname x\n"
      "location\n"
      "location.name Built\n"
      "location.ambit_hostname md.ambit.invalid\n"
      "location.ambit_uses_default_servers f\n"
      "location.ambit_uses_proxy t\n"
      "location.ambit_port 99999\n"     // out of range: the old port stays
      "location.width 640\n"
      "location.height 480\n"
      "location\n"
      "location.name NoBounds\n"
      "location.ambit_hostname my.host\n"
      "location.proxy_port 0\n"
      "location\n"
      "location.name ZeroSize\n"
      "location.bounds 5:5:0:100\n"
      "location\n"
      "location.name Fifth\n"           // only four entries
      "cur_location 9\n");
  ASSERT_EQ(0, load_local_config());
  EXPECT_STREQ("Kept", c->locations[0].name);
  EXPECT_STREQ("kept.example", c->locations[0].ambit_hostname);
  const config_location& built = c->locations[1];
  EXPECT_STREQ("Built", built.name);
  EXPECT_STREQ("", built.ambit_hostname);
  EXPECT_EQ(1, built.ambit_uses_default_servers);
  EXPECT_EQ(1, built.ambit_over_http);
  EXPECT_EQ(443, built.ambit_port);
  const int32_t legacy[4] = {0, 0, 640, 480};
  EXPECT_EQ(0, memcmp(legacy, built.bounds, sizeof legacy));
  EXPECT_EQ(-1, built.last_decode_dur);
  const config_location& plain = c->locations[2];
  EXPECT_STREQ("my.host", plain.ambit_hostname);
  EXPECT_EQ(0, plain.ambit_uses_default_servers);
  EXPECT_EQ(0, plain.ambit_over_http);
  EXPECT_EQ(8080, plain.proxy_port);
  const int32_t unset[4] = {0, 0, 0, 0};
  EXPECT_EQ(0, memcmp(unset, plain.bounds, sizeof unset));
  EXPECT_EQ(0, memcmp(unset, c->locations[3].bounds, sizeof unset));
  EXPECT_EQ(0, c->cur_location);
  EXPECT_EQ(-1, c->upgrade_count);  // absent
}

TEST_F(LoadLocal, ValuesAreHeldToTheirRanges) {
  const struct {
    const char* text;
    int32_t quality, speed, reconnect, cur;
  } cases[] = {
      {"graphics_quality 7\nspeed 500\nreconnect_timeout -5\ncur_location -1\n", 2, 99, 300, 0},
      {"graphics_quality -1\nspeed 0\nreconnect_timeout 0\ncur_location 2\n", 1, 1, 0, 2},
      {"graphics_quality 0\nspeed -3\nreconnect_timeout 99999999999\ncur_location 3\n", 0, 5, 300, 3},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.text);
    ASSERT_EQ(0, secret_local_defaults());
    put("LOCAL_CONFIG", std::string("version 2\n") + k.text);
    ASSERT_EQ(0, load_local_config());
    local_config* c = config_local();
    EXPECT_EQ(k.quality, c->graphics_quality);
    EXPECT_EQ(k.speed, c->speed);
    EXPECT_EQ(k.reconnect, c->reconnect_timeout);
    EXPECT_EQ(k.cur, c->cur_location);
    EXPECT_EQ(&c->locations[k.cur], config_cur_location());
  }
}

TEST_F(LoadLocal, FlagsAndTheRendererKey) {
  put("LOCAL_CONFIG", "version 2\nworkaround_tex_size t\n");
  ASSERT_EQ(0, load_local_config());
  EXPECT_EQ(1, config_local()->workaround_tex_size);
  EXPECT_EQ(1, config_local()->workaround_allow_any_double_bufs);  // absent: on
  EXPECT_EQ(0, load_local_has_renderer_key());
  put("LOCAL_CONFIG", "version 2\nworkaround_software_renderer f\nworkaround_allow_any_double_bufs f\n");
  ASSERT_EQ(0, load_local_config());
  EXPECT_EQ(1, load_local_has_renderer_key());
  EXPECT_EQ(0, config_local()->workaround_allow_any_double_bufs);
}

TEST_F(LoadLocal, RestartLinesAreReadOnlyWhileARestartIsPending) {
  const std::string text = "version 2\nrestart_site RS\nrestart_username ru\nrestart_password rp\n";
  put("LOCAL_CONFIG", text);
  ASSERT_EQ(0, load_local_config());
  EXPECT_STREQ("", config_local()->restart_username);
  ssclient_set_restart(1);
  ASSERT_EQ(0, load_local_config());
  EXPECT_STREQ("RS", config_local()->restart_site);
  EXPECT_STREQ("ru", config_local()->restart_username);
  EXPECT_STREQ("rp", config_local()->restart_password);
  put("LOCAL_CONFIG", "version 2\nrestart_site RS\n");
  LogCapture log;
  ASSERT_EQ(0, load_local_config());
  EXPECT_TRUE(log.has("can't restart without a username"));
  EXPECT_TRUE(log.has("can't restart without a password"));
}

// A restart needs a user name: an absent one, a key without a value and an
// empty quoted word all log and leave the record's name alone.
TEST_F(LoadLocal, AnEmptyRestartUserNameCannotRestart) {
  const struct {
    const char* line;
    const char* name;
    bool logged;
  } cases[] = {
      {"restart_username ru\n", "ru", false},
      {"", "", true},
      {"restart_username\n", "", true},
      {"restart_username \"\"\n", "", true},
  };
  ssclient_set_restart(1);
  for (const auto& k : cases) {
    SCOPED_TRACE(k.line);
    ASSERT_EQ(0, secret_local_defaults());
    put("LOCAL_CONFIG", std::string("version 2\nrestart_site RS\nrestart_password rp\n") + k.line);
    LogCapture log;
    ASSERT_EQ(0, load_local_config());
    EXPECT_STREQ(k.name, config_local()->restart_username);
    EXPECT_EQ(k.logged, log.has("can't restart without a username"));
    EXPECT_FALSE(log.has("can't restart without a password"));
  }
}

// A word the getters refuse counts as absent: a location's bounds with a
// field out of range keep what the older width and height keys gave, instead
// of a zeroed rectangle that unsets them.
TEST_F(LoadLocal, ARefusedBoundsWordKeepsTheOlderKeys) {
  put("LOCAL_CONFIG",
      "version 2\n"
      "location\n"
      "location.name A\n"
      "location.width 640\n"
      "location.height 480\n"
      "location.bounds 1:2:99999999999:4\n");
  ASSERT_EQ(0, load_local_config());
  const int32_t legacy[4] = {0, 0, 640, 480};
  EXPECT_EQ(0, memcmp(legacy, config_local()->locations[0].bounds, sizeof legacy));
}

TEST_F(LoadLocal, LongTextsAreCut) {
  put("LOCAL_CONFIG", "version 2\nsite " + std::string(100, 'S') + "\npassword " + std::string(40, 'p') + "\n");
  ASSERT_EQ(0, load_local_config());
  EXPECT_EQ(std::string(31, 'S'), config_local()->site);
  EXPECT_EQ(std::string(31, 'p'), config_local()->password);
}

}  // namespace
