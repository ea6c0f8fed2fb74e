// The connection page over builder-made widgets and a fake client: the
// location buttons with "New", the name compaction, the port and connection
// groups, the proxy fields' sensitivity by type and version, the proxy port
// kept only within 1-65535, the location put back when it was changed while
// online, and the settings saved to the local file when a changed page is
// hidden (read back by the file's reader).
#include "config/connection_page.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/config.h"
#include "config/load_local.h"
#include "pagetest.h"
#include "testlog.h"
#include "ui/textbox.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class ConnectionPage : public PageTest {
 protected:
  connection_page *page() { return shown(connection_page_new(nullptr)); }
  static void name_locations(std::initializer_list<const char *> names) {
    int i = 0;
    for (const char *n : names) snprintf(config_local()->locations[i++].name, 32, "%s", n);
  }
  static std::string names() {
    std::string s;
    for (const config_location &l : config_local()->locations) s += std::string(l.name) + "|";
    return s;
  }
};

TEST_F(ConnectionPage, LocationButtonsShowNamesAndNewAfterTheLastNamed) {
  struct Case {
    std::initializer_list<const char *> names;
    const char *texts[4];
    bool sensitive[4];
  } cases[] = {
      {{"Default"}, {"Default", "New", "", ""}, {true, true, false, false}},
      {{"Home", "Office"}, {"Home", "Office", "New", ""}, {true, true, true, false}},
      {{"A", "", "C"}, {"A", "", "C", "New"}, {true, false, true, true}},
      {{"A", "B", "C", "D"}, {"A", "B", "C", "D"}, {true, true, true, true}},
  };
  for (const Case &c : cases) {
    for (config_location &l : config_local()->locations) l.name[0] = 0;
    name_locations(c.names);
    connection_page *p = page();
    for (int i = 0; i < 4; i++) {
      EXPECT_STREQ(p->location[i]->text, c.texts[i]) << i;
      EXPECT_EQ(sensitive(p->location[i]), c.sensitive[i]) << i << " " << c.texts[i];
    }
    drop(p);
  }
}

TEST_F(ConnectionPage, PortGroupShowsFourFourThreeForAnyOtherPort) {
  struct Case {
    int32_t stored;
    const char *shown;
  } cases[] = {{6080, "6080"}, {80, "80"}, {443, "443"}, {8080, "443"}, {0, "443"}};
  connection_page *p = page();
  for (const Case &c : cases) {
    config_cur_location()->ambit_port = c.stored;
    connection_page_refresh(p);
    ASSERT_NE(p->groups[1].active, nullptr) << c.stored;
    EXPECT_STREQ(p->groups[1].active->text, c.shown) << c.stored;
  }
  // 8080 shows "443"; pressing "443" stores 443.
  config_cur_location()->ambit_port = 8080;
  connection_page_refresh(p);
  click(p->port[1]);
  EXPECT_EQ(config_cur_location()->ambit_port, 443);
  click(p->port[0]);
  EXPECT_EQ(config_cur_location()->ambit_port, 6080);
  click(p->mode[1]);
  EXPECT_EQ(config_cur_location()->ambit_over_http, 1);
  click(p->mode[0]);
  EXPECT_EQ(config_cur_location()->ambit_over_http, 0);
  EXPECT_EQ(p->changed, 1);
}

TEST_F(ConnectionPage, HostFieldOnlyWhileInternetIsOff) {
  connection_page *p = page();
  ASSERT_EQ(config_cur_location()->ambit_uses_default_servers, 1);
  EXPECT_TRUE(active(p->internet));
  EXPECT_FALSE(textbox_is_editable(p->host));
  click(p->internet);
  EXPECT_EQ(config_cur_location()->ambit_uses_default_servers, 0);
  EXPECT_TRUE(textbox_is_editable(p->host));
  type(p->host, "feed.example.net");
  EXPECT_STREQ(config_cur_location()->ambit_hostname, "feed.example.net");
  click(p->internet);
  EXPECT_FALSE(textbox_is_editable(p->host));
}

TEST_F(ConnectionPage, EmptiedNameMovesNamedLocationsForward) {
  struct Case {
    std::initializer_list<const char *> names;
    int32_t cur;
    const char *after;  // names of the four entries afterwards
  } cases[] = {
      {{"Default"}, 0, "Default||||"},           // the only one: entry 0 is "Default" again
      {{"Mine"}, 0, "Default||||"},
      {{"A", "B", "C"}, 0, "B|C|||"},            // the current one goes, the rest move up
      {{"A", "B", "C"}, 1, "A|C|||"},
      {{"A", "B", "C", "D"}, 3, "A|B|C||"},
      {{"", "B", ""}, 1, "Default||||"},
  };
  for (const Case &c : cases) {
    for (config_location &l : config_local()->locations) l.name[0] = 0;
    name_locations(c.names);
    config_local()->cur_location = c.cur;
    connection_page *p = page();
    type(p->name, "");
    EXPECT_EQ(names(), c.after) << c.cur;
    EXPECT_EQ(config_local()->cur_location, 0);
    EXPECT_STREQ(textbox_text(p->name), config_local()->locations[0].name);
    drop(p);
  }
}

TEST_F(ConnectionPage, NameAndFieldsAreCutToTheirLengths) {
  connection_page *p = page();
  const std::string longer(100, 'x');
  type(p->name, longer.c_str());
  EXPECT_EQ(strlen(config_cur_location()->name), 31u);
  click(p->proxy[1]);
  type(p->proxy_host, longer.c_str());
  EXPECT_EQ(strlen(config_cur_location()->proxy_hostname), 79u);
  type(p->proxy_user, longer.c_str());
  EXPECT_EQ(strlen(config_cur_location()->proxy_username), 31u);
}

TEST_F(ConnectionPage, ProxyPortKeptOnlyWithinOneTo65535) {
  connection_page *p = page();
  click(p->proxy[1]);
  ASSERT_EQ(config_cur_location()->proxy_type, 2);
  ASSERT_EQ(config_cur_location()->proxy_port, 8080);
  struct Case {
    const char *typed;
    int32_t stored;
  } cases[] = {{"3128", 3128}, {"0", 3128},      {"abc", 3128}, {"70000", 3128}, {"65536", 3128},
               {"", 3128},     {"65535", 65535}, {"1", 1},      {"-5", 1},       {"80x", 1}};
  for (const Case &c : cases) {
    type(p->proxy_port, c.typed);
    EXPECT_EQ(config_cur_location()->proxy_port, c.stored) << c.typed;
    EXPECT_STREQ(textbox_text(p->proxy_port), c.typed) << "the field keeps what is typed";
  }
  // Shown again, the field holds the stored port.
  widget_hide(p);
  widget_show(p);
  EXPECT_STREQ(textbox_text(p->proxy_port), "1");
}

TEST_F(ConnectionPage, ProxyFieldsFollowTypeAndVersion) {
  struct Case {
    int32_t type, version;
    bool host, user;  // host and port editable; user name and password editable
    const char *group;
  } cases[] = {
      {0, 0, false, false, "None"}, {2, 0, true, true, "HTTP"}, {2, 4, true, true, "HTTP"},
      {3, 5, true, true, "None"},   {3, 4, true, false, "None"},
  };
  connection_page *p = page();
  for (const Case &c : cases) {
    config_cur_location()->proxy_type = c.type;
    config_cur_location()->proxy_version = c.version;
    LogCapture log;
    connection_page_refresh(p);
    EXPECT_EQ(log.has("SOCKS shouldn't be allowed"), c.type == 3) << c.type;
    EXPECT_EQ(textbox_is_editable(p->proxy_host) != 0, c.host) << c.type << "/" << c.version;
    EXPECT_EQ(textbox_is_editable(p->proxy_port) != 0, c.host) << c.type << "/" << c.version;
    EXPECT_EQ(textbox_is_editable(p->proxy_user) != 0, c.user) << c.type << "/" << c.version;
    EXPECT_EQ(textbox_is_editable(p->proxy_password) != 0, c.user) << c.type << "/" << c.version;
    ASSERT_NE(p->groups[3].active, nullptr);
    EXPECT_STREQ(p->groups[3].active->text, c.group);
  }
  EXPECT_TRUE(textbox_flags(p->proxy_password) & TEXTBOX_PASSWORD);
  click(p->proxy[0]);
  EXPECT_EQ(config_cur_location()->proxy_type, 0);
}

TEST_F(ConnectionPage, LocationChangedOnlineIsPutBackOnHide) {
  name_locations({"Home", "Office"});
  config_local()->cur_location = 0;
  g_fake.online = 1;
  connection_page *p = page();
  click(p->location[1]);
  EXPECT_EQ(config_local()->cur_location, 1);
  LogCapture log;
  widget_hide(p);
  EXPECT_TRUE(log.has("changing location back to 0 from 1"));
  EXPECT_EQ(config_local()->cur_location, 0);

  // Offline the choice stays, and reaches the file.
  g_fake.online = 0;
  widget_show(p);
  click(p->location[1]);
  widget_hide(p);
  config_local()->cur_location = 0;
  ASSERT_EQ(0, load_local_config());
  EXPECT_EQ(config_local()->cur_location, 1);
}

TEST_F(ConnectionPage, HidingAChangedPageSavesTheLocalSettings) {
  connection_page *p = page();
  const std::string file = base_ + "/data/Config/LOCAL_CONFIG";
  widget_hide(p);
  EXPECT_FALSE(std::filesystem::exists(file)) << "an unchanged page saves nothing";
  widget_show(p);
  click(p->proxy[1]);
  type(p->proxy_host, "127.0.0.1");
  type(p->proxy_port, "3128");
  type(p->proxy_user, "pxuser");
  type(p->proxy_password, "pxsecret");
  click(p->mode[1]);
  widget_hide(p);
  ASSERT_TRUE(std::filesystem::exists(file));
  memset(config_cur_location(), 0, sizeof(config_location));
  ASSERT_EQ(0, load_local_config());
  const config_location *l = config_cur_location();
  EXPECT_STREQ(l->name, "Default");
  EXPECT_EQ(l->proxy_type, 2);
  EXPECT_STREQ(l->proxy_hostname, "127.0.0.1");
  EXPECT_EQ(l->proxy_port, 3128);
  EXPECT_STREQ(l->proxy_username, "pxuser");
  EXPECT_STREQ(l->proxy_password, "pxsecret");
  EXPECT_EQ(l->ambit_over_http, 1);
}

}  // namespace
