// The password page over builder-made widgets and a fake client: the
// sensitivity chain of the three fields and "Change", the three checks in
// order with their messages, the focus moved after the next redraw, exactly
// the new text handed to the client, the result table with its colours, and
// no password in the log.
#include "config/passwd_page.h"

#include <gtest/gtest.h>

#include <string>

#include "config/configbox.h"
#include "pagetest.h"
#include "testlog.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "ui/label.h"
#include "pool.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class PasswdPage : public PageTest {
 protected:
  // The deferred calls without a window: the gui's promise pool, as its
  // start makes it.
  static void SetUpTestSuite() {
    WidgetTest::SetUpTestSuite();
    if (!G.promise_pool_ready) {
      pool_init(&G.promise_pool, 8, int32_t(sizeof(gui_promise_item)));
      G.promise_pool_ready = 1;
    }
  }
  static void TearDownTestSuite() {
    G.before = G.after = gui_promise_list{};
    pool_destroy(&G.promise_pool);
    G.promise_pool_ready = 0;
    WidgetTest::TearDownTestSuite();
  }
  passwd_page *page() { return shown(passwd_page_new(nullptr)); }
  static std::string message(passwd_page *p) { return p->message->text; }
  static void after_draw() { gui_run_promises(&G.after); }
  static bool editable(textbox *t) { return textbox_is_editable(t) != 0; }
};

TEST_F(PasswdPage, FieldsOpenOneAfterAnother) {
  passwd_page *p = page();
  EXPECT_TRUE(editable(p->current));
  EXPECT_FALSE(editable(p->fresh));
  EXPECT_FALSE(editable(p->confirm));
  EXPECT_FALSE(sensitive(p->change));
  EXPECT_TRUE(gui_has_focus(p->current));
  for (textbox *t : {p->current, p->fresh, p->confirm}) EXPECT_TRUE(textbox_flags(t) & TEXTBOX_PASSWORD);
  type(p->current, "old");
  EXPECT_TRUE(editable(p->fresh));
  EXPECT_FALSE(editable(p->confirm));
  type(p->fresh, "new");
  EXPECT_TRUE(editable(p->confirm));
  EXPECT_FALSE(sensitive(p->change));
  type(p->confirm, "n");
  EXPECT_TRUE(sensitive(p->change));
  type(p->current, "");  // the chain closes again
  EXPECT_FALSE(editable(p->fresh));
  EXPECT_FALSE(editable(p->confirm));
  EXPECT_FALSE(sensitive(p->change));
}

TEST_F(PasswdPage, ChecksInOrder) {
  struct Case {
    const char *login;  // the client's login password ("" none)
    const char *current, *fresh, *confirm;
    const char *message;
    const char *log;  // a line that must be logged
    int sent;
    textbox *passwd_page::*emptied;  // the field emptied and focused
  } cases[] = {
      {"", "oldpass", "newpass1", "newpass1", "", "refusing to change password", 0, nullptr},
      {"oldpass", "wrong", "newpass1", "newpass1", "Please re-enter your current password", nullptr, 0,
       &passwd_page::current},
      {"oldpass", "oldpass", "newpass1", "newpass2", "Please confirm the password again", nullptr, 0,
       &passwd_page::confirm},
      {"oldpass", "wrong", "newpass1", "newpass2", "Please re-enter your current password", nullptr, 0,
       &passwd_page::current},  // the current password is checked first
      {"oldpass", "oldpass", "newpass1", "newpass1", "", "changing password", 1, nullptr},
  };
  for (const Case &c : cases) {
    g_fake = FakeClient{};
    g_fake.login = c.login;
    passwd_page *p = page();
    type(p->current, c.current);
    type(p->fresh, c.fresh);
    type(p->confirm, c.confirm);
    ASSERT_TRUE(sensitive(p->change));
    LogCapture log;
    click(p->change);
    EXPECT_EQ(message(p), c.message) << c.current << "/" << c.confirm;
    if (c.log) {
      EXPECT_TRUE(log.has(c.log)) << c.log;
    }
    ASSERT_EQ(int(g_fake.sent.size()), c.sent);
    if (c.sent) {
      EXPECT_EQ(g_fake.sent[0], c.fresh);
      for (textbox *t : {p->current, p->fresh, p->confirm}) EXPECT_FALSE(editable(t));
    }
    if (c.emptied) {
      textbox *t = p->*c.emptied;
      EXPECT_TRUE(textbox_is_empty(t));
      EXPECT_FALSE(sensitive(p->change));
      EXPECT_EQ(p->message->fg, configbox_highlight());
      gui_set_focus(p->fresh);
      after_draw();
      EXPECT_TRUE(gui_has_focus(t)) << "focused after the next redraw";
    }
    EXPECT_EQ(sensitive(p->change), !c.login[0]) << "refused for want of a login: nothing else";
    for (const std::string &line : log.lines()) {
      EXPECT_EQ(line.find(c.fresh), std::string::npos) << line;
      EXPECT_EQ(line.find(c.current), std::string::npos) << line;
    }
    drop(p);
  }
}

TEST_F(PasswdPage, FailureToQueueIsLogged) {
  g_fake.refuse_queue = 1;
  passwd_page *p = page();
  type(p->current, "oldpass");
  type(p->fresh, "abc12345");
  type(p->confirm, "abc12345");
  LogCapture log;
  click(p->change);
  EXPECT_TRUE(log.has("failed to queue change request"));
}

TEST_F(PasswdPage, ResultTable) {
  struct Case {
    int32_t result;
    const char *message;
    uint32_t colour;
  } cases[] = {
      {0, "Your password was changed", 0},
      {1, "The new password is too short", configbox_highlight()},
      {2, "Your new password could not be changed", configbox_highlight()},
      {-1, "", configbox_ink()},
  };
  passwd_page *p = page();
  for (const Case &c : cases) {
    passwd_page_show_result(p, c.result);
    EXPECT_EQ(p->result, c.result);
    EXPECT_EQ(message(p), c.message);
    if (c.colour) {
      EXPECT_EQ(p->message->fg, c.colour) << c.result;
    }
  }
  passwd_page_show_result(p, 0);
  EXPECT_NE(p->message->fg, configbox_highlight());
}

TEST_F(PasswdPage, ChangedMessageStaysUntilHiddenAndShown) {
  passwd_page *p = page();
  type(p->current, "oldpass");
  type(p->fresh, "fresh123");
  type(p->confirm, "fresh123");
  click(p->change);
  EXPECT_STREQ(passwd_page_new_password(p), "fresh123");
  passwd_page_show_result(p, 0);
  type(p->current, "x");  // read-only now: nothing changes
  EXPECT_EQ(message(p), "Your password was changed");
  widget_hide(p);
  EXPECT_EQ(p->result, -1);
  widget_show(p);
  EXPECT_EQ(message(p), "");
  EXPECT_TRUE(textbox_is_empty(p->current));
  EXPECT_TRUE(editable(p->current));
}

TEST_F(PasswdPage, HidingCancelsAPendingFocusChange) {
  passwd_page *p = page();
  type(p->current, "wrong");
  type(p->fresh, "a");
  type(p->confirm, "a");
  click(p->change);
  widget_hide(p);
  widget_show(p);  // the field could take the focus again
  gui_set_focus(nullptr);
  after_draw();
  EXPECT_EQ(gui_focus(), nullptr);
}

}  // namespace
