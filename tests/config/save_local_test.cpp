// Writing the local settings file on a temporary data root: the exact text
// and key order of the defaults, the remember rules, restart lines only
// while a restart is pending, the scrambled size and the file mode, a full
// save/load round trip, and crash safety: a writer stopped (or killed) after
// k bytes leaves the old file byte-identical.
#include "config/save_local.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "config/load_local.h"
#include "localdir.h"
#include "testlog.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime());

const char kDefaultText[] =
    "version 2\n"
    "site \"\"\n"
    "remember_username f\n"
    "remember_password f\n"
    "workaround_tex_size f\n"
    "workaround_round_shapes f\n"
    "workaround_software_renderer f\n"
    "workaround_dont_delete_contexts f\n"
    "workaround_allow_any_double_bufs t\n"
    "graphics_quality 1\n"
    "location\n"
    "location.name Default\n"
    "location.ambit_hostname \"\"\n"
    "location.ambit_port 443\n"
    "location.ambit_over_http f\n"
    "location.ambit_uses_default_servers t\n"
    "location.proxy_type 0\n"
    "location.proxy_hostname \"\"\n"
    "location.proxy_port 8080\n"
    "location.proxy_username \"\"\n"
    "location.proxy_password \"\"\n"
    "location.proxy_version 0\n"
    "location.bounds 10:20:1000:700\n"
    "location.last_decode_dur 5000\n"
    "location.last_save_dur 2000\n"
    "cur_location 0\n"
    "upgrade_count 0\n"
    "reconnect_timeout 300\n"
    "speed 5\n";

using SaveLocal = LocalDir;

TEST_F(SaveLocal, WritesTheDefaultsScrambledInKeyOrder) {
  LogCapture log;
  ASSERT_EQ(0, save_local_config());
  std::string file = take("LOCAL_CONFIG");
  const int32_t n = (int32_t)strlen(kDefaultText);
  EXPECT_EQ((size_t)(32 + 2 * ((n + 15) / 16 * 16)), file.size());
  EXPECT_EQ(0600u, mode("LOCAL_CONFIG"));
  EXPECT_EQ(kDefaultText, unscrambled(file));
  EXPECT_TRUE(log.has("saved " + std::to_string(file.size()) + "b version 2 local config"));
  EXPECT_FALSE(exists(".LOCAL_CONFIG.new"));
}

TEST_F(SaveLocal, CredentialsOnlyWhenRemembered) {
  const struct {
    int user, password;
    bool has_user, has_password;
    const char* remember_password;
  } cases[] = {
      {0, 1, false, false, "remember_password f"},
      {1, 0, true, false, "remember_password f"},
      {1, 1, true, true, "remember_password t"},
  };
  local_config* c = config_local();
  strcpy(c->username, "alice");
  strcpy(c->password, "p w\"d");
  for (const auto& k : cases) {
    c->remember_username = k.user;
    c->remember_password = k.password;
    ASSERT_EQ(0, save_local_config());
    std::string text = unscrambled(take("LOCAL_CONFIG"));
    EXPECT_EQ(k.has_user, text.find("\nusername alice\n") != std::string::npos) << text;
    EXPECT_EQ(k.has_password, text.find("\npassword \"p w\\\"d\"\n") != std::string::npos) << text;
    EXPECT_NE(std::string::npos, text.find(k.remember_password));
  }
}

TEST_F(SaveLocal, RestartLinesOnlyWhileARestartIsPending) {
  ssclient_set_login_site("SITE");
  ssclient_set_login("bob", "secret");
  ASSERT_EQ(0, save_local_config());
  EXPECT_EQ(std::string::npos, unscrambled(take("LOCAL_CONFIG")).find("restart_"));
  start_set_restart(1);
  ASSERT_EQ(0, save_local_config());
  std::string text = unscrambled(take("LOCAL_CONFIG"));
  EXPECT_NE(std::string::npos,
            text.find("\nrestart_site SITE\nrestart_username bob\nrestart_password secret\nreconnect_timeout"))
      << text;
}

TEST_F(SaveLocal, EveryFieldSurvivesASaveAndALoad) {
  start_set_restart(1);  // the server asked for the restart
  ssclient_set_restart(1);  // and the next start reads the restart lines
  ssclient_set_login_site("RS");
  ssclient_set_login("ru", "rp");
  local_config* c = config_local();
  memset(c, 0, sizeof *c);  // so the bytes after each text's NUL compare too
  strcpy(c->site, "Site 1");
  strcpy(c->username, "user\\");
  strcpy(c->password, "pass word");
  c->remember_username = c->remember_password = 1;
  c->workaround_tex_size = c->workaround_round_shapes = c->workaround_software_renderer = 1;
  c->workaround_dont_delete_contexts = 1;
  c->workaround_allow_any_double_bufs = 0;
  c->graphics_quality = 2;
  c->cur_location = 3;
  for (int i = 0; i < kConfigLocations; i++) {
    config_location* l = &c->locations[i];
    snprintf(l->name, sizeof l->name, "loc %d", i);
    snprintf(l->ambit_hostname, sizeof l->ambit_hostname, "h%d.example", i);
    l->ambit_port = 1000 + i;
    l->ambit_over_http = i & 1;
    l->ambit_uses_default_servers = !(i & 1);
    l->proxy_type = i;
    strcpy(l->proxy_hostname, "proxy");
    l->proxy_port = 3128;
    strcpy(l->proxy_username, "pu");
    strcpy(l->proxy_password, "p\"p");
    l->proxy_version = 5;
    l->bounds[0] = -i;
    l->bounds[1] = 2;
    l->bounds[2] = 800;
    l->bounds[3] = 600;
    l->last_decode_dur = 123;
    l->last_save_dur = -1;
  }
  c->upgrade_count = 7;
  strcpy(c->restart_site, "RS");
  strcpy(c->restart_username, "ru");
  strcpy(c->restart_password, "rp");
  c->reconnect_timeout = 0;
  c->speed = 12;
  local_config saved;
  memcpy(&saved, c, sizeof saved);
  ASSERT_EQ(0, save_local_config());
  ASSERT_EQ(0, secret_local_defaults());
  ASSERT_EQ(0, load_local_config());
  const unsigned char* a = reinterpret_cast<const unsigned char*>(&saved);
  const unsigned char* b = reinterpret_cast<const unsigned char*>(c);
  for (size_t i = 0; i < sizeof saved; i++) {
    if (a[i] != b[i]) {
      ADD_FAILURE() << "first difference at byte " << i << " of " << sizeof saved;
      break;
    }
  }
}

TEST_F(SaveLocal, FreeEntriesKeepTheLocationNumbers) {
  local_config* c = config_local();
  c->locations[0].name[0] = '\0';
  strcpy(c->locations[2].name, "Office");
  c->cur_location = 2;
  ASSERT_EQ(0, save_local_config());
  std::string text = unscrambled(take("LOCAL_CONFIG"));
  EXPECT_NE(std::string::npos, text.find("graphics_quality 1\nlocation\nlocation\nlocation\nlocation.name Office\n"))
      << text;
  ASSERT_EQ(0, secret_local_defaults());
  ASSERT_EQ(0, load_local_config());
  EXPECT_STREQ("Default", c->locations[0].name);  // a bare block leaves its entry
  EXPECT_STREQ("Office", c->locations[2].name);
  EXPECT_EQ(2, c->cur_location);
  EXPECT_STREQ("Office", config_cur_location()->name);
}

// Writes only the first `g_limit` bytes, then reports them.
int32_t g_limit;
int32_t short_write(int fd, const void* data, int32_t n) {
  int32_t k = n < g_limit ? n : g_limit;
  return (int32_t)write(fd, data, (size_t)k) == k ? k : -1;
}
// Writes the first `g_limit` bytes and dies, as a crash or power cut would.
int32_t dying_write(int fd, const void* data, int32_t n) {
  if (write(fd, data, (size_t)(n < g_limit ? n : g_limit)) < 0) _exit(3);
  _exit(2);
}

TEST_F(SaveLocal, AnInterruptedWriteLeavesTheOldFile) {
  ASSERT_EQ(0, save_local_config());
  const std::string old = take("LOCAL_CONFIG");
  config_local()->speed = 42;
  const int32_t stops[] = {0, 1, 16, (int32_t)old.size() / 2, (int32_t)old.size() - 1};
  for (int32_t k : stops) {
    SCOPED_TRACE(k);
    g_limit = k;
    save_local_set_write_hook(short_write);
    LogCapture log;
    EXPECT_EQ(-1, save_local_config());
    EXPECT_TRUE(log.has("can't save local config"));
    EXPECT_EQ(old, take("LOCAL_CONFIG"));
    EXPECT_FALSE(exists(".LOCAL_CONFIG.new"));

    save_local_set_write_hook(dying_write);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      save_local_config();
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(2, WEXITSTATUS(status));
    EXPECT_EQ(old, take("LOCAL_CONFIG"));
  }
  save_local_set_write_hook(nullptr);
  // The leftover of the killed writer is no obstacle to the next save.
  ASSERT_EQ(0, save_local_config());
  ASSERT_EQ(0, secret_local_defaults());
  ASSERT_EQ(0, load_local_config());
  EXPECT_EQ(42, config_local()->speed);
}

TEST_F(SaveLocal, AFailedWriteKeepsTheOldFile) {
  ASSERT_EQ(0, save_local_config());
  const std::string old = take("LOCAL_CONFIG");
  // A directory where the new file should go: the writer cannot open it
  // (whatever the privileges the tests run with).
  ASSERT_EQ(0, mkdir(path(".LOCAL_CONFIG.new").c_str(), 0700));
  config_local()->speed = 9;
  LogCapture log;
  EXPECT_EQ(-1, save_local_config());
  EXPECT_TRUE(log.has("can't save local config"));
  EXPECT_EQ(old, take("LOCAL_CONFIG"));
}

}  // namespace

// "nosave" and "noload": the file is neither written nor read while off.
TEST_F(SaveLocal, SwitchedOffNeitherSavesNorLoads) {
  config_set_save_local(0);
  EXPECT_EQ(0, save_local_config());
  EXPECT_FALSE(exists("LOCAL_CONFIG"));
  config_set_save_local(1);
  config_local()->graphics_quality = 2;
  ASSERT_EQ(0, save_local_config());
  ASSERT_TRUE(exists("LOCAL_CONFIG"));
  config_local()->graphics_quality = 0;
  config_set_load_local(0);
  EXPECT_EQ(0, load_local_config());
  EXPECT_EQ(0, config_local()->graphics_quality);
  config_set_load_local(1);
  EXPECT_EQ(0, load_local_config());
  EXPECT_EQ(2, config_local()->graphics_quality);
}
