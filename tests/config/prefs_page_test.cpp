// The preferences page over builder-made widgets and a fake client: the
// reconnection control (minutes * 100 + seconds) and "Forever" handed to the
// client and marking the page changed, the login toggles and their
// sensitivity, the exchange and login groups that share commands 0 and 1 but
// not a handler, sensitivity while offline and without permission, quality,
// highlight time, font size and the driver workarounds reaching the drawing
// layer, and what the next save writes.
#include "config/prefs_page.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "action.h"
#include "config/config.h"
#include "config/load_local.h"
#include "config/save_local.h"
#include "config/secret.h"
#include "dalloc.h"
#include "lib/gfx.h"
#include "pagetest.h"
#include "ssuser.h"
#include "style.h"
#include "testmodel.h"
#include "ui/gui.h"
#include "ui/spinner.h"
#include "undo.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class PrefsPage : public PageTest {
 protected:
  static void SetUpTestSuite() {
    WidgetTest::SetUpTestSuite();
    ASSERT_EQ(0, start_terminal_model());
    ASSERT_EQ(0, undo_init());
    ASSERT_EQ(0, style_init());
    ASSERT_EQ(0, style_select(0));
  }
  static void TearDownTestSuite() {
    style_fini();
    WidgetTest::TearDownTestSuite();
  }
  prefs_page *page() { return shown(prefs_page_new(nullptr)); }
  // The number control as the user leaves it: a value, reported.
  static void spin(spinner *s, int value) {
    spinner_set_value(s, float(value));
    if (s->callback) s->callback(s, s->arg, s->id);
  }
  // The plain text of the local settings file.
  std::string saved_text() {
    std::ifstream in(base_ + "/data/Config/LOCAL_CONFIG", std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    char *out = nullptr;
    int32_t n = 0;
    if (secret_unscramble(data.data(), int32_t(data.size()), &out, &n) < 0) return "<fail>";
    std::string s(out, size_t(n));
    dalloc_free(out);
    return s;
  }
};

TEST_F(PrefsPage, ReconnectControlConversions) {
  struct Case {
    int32_t control, seconds;
  } to_seconds[] = {{130, 90}, {0, 0}, {59, 59}, {100, 60}, {230, 150}, {9959, 99 * 60 + 59}, {170, 119}};
  for (const Case &c : to_seconds) EXPECT_EQ(prefs_reconnect_from_control(c.control), c.seconds) << c.control;
  struct Back {
    int32_t seconds, control;
  } to_control[] = {{150, 230}, {90, 130}, {0, 0}, {300, 500}, {59, 59}, {99 * 60 + 59, 9959}, {200 * 60, 9959}};
  for (const Back &c : to_control) EXPECT_EQ(prefs_reconnect_to_control(c.seconds), c.control) << c.seconds;
}

TEST_F(PrefsPage, ReconnectControlStoresHandsOverAndMarksChanged) {
  config_local()->reconnect_timeout = 150;
  prefs_page *p = page();
  EXPECT_EQ(spinner_value_int(p->reconnect), 230);
  EXPECT_FALSE(active(p->forever));
  EXPECT_EQ(p->changed, 0);
  spin(p->reconnect, 130);
  EXPECT_EQ(config_local()->reconnect_timeout, 90);
  ASSERT_FALSE(g_fake.timeouts.empty());
  EXPECT_EQ(g_fake.timeouts.back(), 90);
  EXPECT_EQ(p->changed, 1) << "the time-out must reach the file when the page is hidden";
  widget_hide(p);
  config_local()->reconnect_timeout = 1;
  ASSERT_EQ(0, load_local_config());
  EXPECT_EQ(config_local()->reconnect_timeout, 90);
}

TEST_F(PrefsPage, ReconnectControlKeepsSecondsBelowSixty) {
  config_local()->reconnect_timeout = 59;
  prefs_page *p = page();
  struct Case {
    int typed, shown, seconds;
  } cases[] = {
      {60, 100, 60},    // a step up from 0:59 carries into the next minute
      {99, 59, 59},     // a step down from 1:00 borrows
      {170, 159, 119},  // typed: the seconds are cut
      {9959, 9959, 99 * 60 + 59},
  };
  for (const Case &c : cases) {
    spin(p->reconnect, c.typed);
    EXPECT_EQ(spinner_value_int(p->reconnect), c.shown) << c.typed;
    EXPECT_EQ(config_local()->reconnect_timeout, c.seconds) << c.typed;
  }
}

TEST_F(PrefsPage, ForeverHandsOverZero) {
  config_local()->reconnect_timeout = 0;
  prefs_page *p = page();
  EXPECT_TRUE(active(p->forever));
  click(p->forever);  // off: the control's time
  EXPECT_GT(config_local()->reconnect_timeout, 0);
  EXPECT_EQ(g_fake.timeouts.back(), config_local()->reconnect_timeout);
  click(p->forever);
  EXPECT_EQ(config_local()->reconnect_timeout, 0);
  EXPECT_EQ(g_fake.timeouts.back(), 0);
  spin(p->reconnect, 200);
  EXPECT_FALSE(active(p->forever)) << "a time switches Forever off";
  EXPECT_EQ(config_local()->reconnect_timeout, 120);
}

TEST_F(PrefsPage, UsernameOffMakesPasswordInsensitiveAndSaveWritesNeither) {
  local_config *lc = config_local();
  lc->remember_username = 1;
  lc->remember_password = 1;
  snprintf(lc->username, sizeof lc->username, "%s", "dana");
  snprintf(lc->password, sizeof lc->password, "%s", "secret");
  prefs_page *p = page();
  EXPECT_TRUE(active(p->remember_user));
  EXPECT_TRUE(active(p->remember_password));
  EXPECT_TRUE(sensitive(p->remember_password));
  click(p->remember_user);
  EXPECT_EQ(lc->remember_username, 0);
  EXPECT_FALSE(sensitive(p->remember_password));
  EXPECT_EQ(lc->remember_password, 1) << "left as it was";
  click(p->remember_password);  // insensitive: nothing
  EXPECT_EQ(lc->remember_password, 1);
  widget_hide(p);
  const std::string text = saved_text();
  ASSERT_NE(text, "<fail>");
  EXPECT_EQ(text.find("dana"), std::string::npos) << text;
  EXPECT_EQ(text.find("secret"), std::string::npos) << text;
  widget_show(p);
  click(p->remember_user);
  EXPECT_TRUE(sensitive(p->remember_password));
  EXPECT_TRUE(active(p->remember_password));
}

TEST_F(PrefsPage, ExchangeAndLoginGroupsShareCommandsNotHandlers) {
  ssuser_set(1, 0, 0x3);  // ASX and NZX
  ASSERT_EQ(0, action_set_default_exchange(0));
  config_local()->remember_username = 1;
  config_local()->remember_password = 0;
  g_fake.online = 1;
  prefs_page *p = page();
  ASSERT_TRUE(sensitive(p->exchange[1]));
  click(p->exchange[1]);  // command 1 of the exchange group
  EXPECT_EQ(action_default_exchange(), 1u);
  EXPECT_EQ(config_local()->remember_password, 0) << "the login toggle with command 1 is untouched";
  EXPECT_EQ(p->changed, 0) << "the exchange is kept in the user configuration";
  click(p->remember_password);  // command 1 of the login toggles
  EXPECT_EQ(config_local()->remember_password, 1);
  EXPECT_EQ(action_default_exchange(), 1u);
  click(p->exchange[0]);
  EXPECT_EQ(action_default_exchange(), 0u);
  EXPECT_EQ(config_local()->remember_username, 1);
}

TEST_F(PrefsPage, ExchangeAndFontSensitiveOnlyOnlineAndPermitted) {
  struct Case {
    int online;
    uint32_t bits;
    bool asx, nzx, font;
  } cases[] = {
      {1, 0x3, true, true, true},
      {1, 0x1, true, false, true},
      {0, 0x3, false, false, false},
  };
  for (const Case &c : cases) {
    ssuser_set(1, 0, c.bits);
    g_fake.online = c.online;
    prefs_page *p = page();
    EXPECT_EQ(sensitive(p->exchange[0]), c.asx) << c.online << " " << c.bits;
    EXPECT_EQ(sensitive(p->exchange[1]), c.nzx) << c.online << " " << c.bits;
    for (button *b : p->font_size) EXPECT_EQ(sensitive(b), c.font) << c.online;
    drop(p);
  }
}

TEST_F(PrefsPage, QualityHighlightAndFontSize) {
  g_fake.online = 1;
  config_local()->graphics_quality = 1;
  ASSERT_EQ(0, style_set_scale(20) < 0 ? -1 : 0);
  style_set_size(1);
  prefs_page *p = page();
  ASSERT_NE(p->groups[2].active, nullptr);
  EXPECT_STREQ(p->groups[2].active->text, "Medium");
  ASSERT_NE(p->groups[3].active, nullptr);
  EXPECT_STREQ(p->groups[3].active->text, "20s");
  ASSERT_NE(p->groups[1].active, nullptr);
  EXPECT_STREQ(p->groups[1].active->text, "M");
  click(p->quality[2]);
  EXPECT_EQ(gui_quality(), 2);
  EXPECT_EQ(config_local()->graphics_quality, 2);
  click(p->hilight[4]);
  EXPECT_EQ(style_scale(), 60);
  EXPECT_EQ(config_local()->speed, 60);
  EXPECT_EQ(p->changed, 1);
  p->changed = 0;
  click(p->font_size[3]);
  EXPECT_EQ(style_size(), 3);
  EXPECT_EQ(p->changed, 0) << "the style keeps its size in the user configuration";
  // A highlight time that is none of the five selects none.
  style_set_scale(7);
  prefs_page_refresh(p);
  EXPECT_EQ(p->groups[3].active, nullptr);
}

TEST_F(PrefsPage, DriverWorkaroundsReachTheDrawingLayer) {
  gui_set_software_rendering(0);
  gui_set_render_option(0);
  gui_set_swap_any(1);
  gui_set_delete_contexts(0);
  gfx_flags_clear(kGfxNudge);
  prefs_page *p = page();
  EXPECT_FALSE(active(p->software_gl));
  EXPECT_FALSE(active(p->copy_swaps)) << "Copy Swaps is the opposite of the swap setting";
  EXPECT_FALSE(sensitive(p->close_crash));
  EXPECT_FALSE(sensitive(p->copy_swaps));
  click(p->software_gl);
  EXPECT_EQ(gui_software_rendering(), 1);
  EXPECT_EQ(config_local()->workaround_software_renderer, 1);
  click(p->bug1);
  EXPECT_EQ(gui_render_option(), 1);
  EXPECT_EQ(config_local()->workaround_tex_size, 1);
  click(p->bug2);
  EXPECT_TRUE(gfx_flags() & kGfxNudge);
  EXPECT_EQ(config_local()->workaround_round_shapes, 1);
  click(p->bug2);
  EXPECT_FALSE(gfx_flags() & kGfxNudge);
  click(p->copy_swaps);  // disabled
  EXPECT_EQ(gui_swap_any(), 1);
  gui_set_swap_any(0);
  prefs_page_refresh(p);
  EXPECT_TRUE(active(p->copy_swaps));
  EXPECT_EQ(p->changed, 1);
  gui_set_software_rendering(0);
  gui_set_render_option(0);
}

}  // namespace
