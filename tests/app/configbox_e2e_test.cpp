// The configuration dialog's own ways out and about, end to end under Xvfb
// against the simulator's demo scenario, driven by xdotool: signed on, the
// toolbar's Settings button shows the dialog and, pressed again, hides it;
// Escape closes it; a quick move of the pointer away from it hides it; each
// close takes back the record that opening it left for undo. Before signing
// on, the borderless login box moves when dragged by the strip along its
// top, and not when dragged lower down.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "appscript.h"
#include "config/configbox.h"
#include "tools/toolbar.h"
#include "ui/button.h"

namespace {

TEST(ConfigboxEndToEnd, SettingsTogglesEscapeClosesAndAQuickMoveAwayHides) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("dialog"));
  app_script P;
  button *settings = nullptr;
  int undo_before = -1;
  bool undo_kept = true;
  char diag[200];
  const auto xdo = demo_app::xdo;
  const auto shown = [] { return screen_configbox_shown(); };
  const auto press_settings = [&] {
    demo_app::move_to(settings->r.x + settings->r.w / 2, settings->r.y + settings->r.h / 2);
    xdo("click 1");
  };
  // Every close leaves the undo ring as it was before the dialog opened.
  const auto closed = [&] {
    if (shown()) return false;
    if (undo_count() != undo_before) undo_kept = false;
    return true;
  };
  P.steps = {
      {"online with the first screen up and the Settings button on it",
       [&] {
         if (!demo_app::signed_on_and_settled()) return false;
         for (int i = 0; i < 2 && !settings; i++) {
           button *b = toolbar_button(screen_toolbar(i), 44);
           if (b && widget_is_shown(b) && b->r.w > 0 && b->r.h > 0) settings = b;
         }
         return settings != nullptr;
       },
       [&] {
         undo_before = undo_count();
         press_settings();
       }},
      {"the dialog shown by the button", shown, press_settings},
      {"hidden by the button again", closed, press_settings},
      {"shown again", shown, [&] { xdo("key Escape"); }},
      {"closed by Escape",
       [&] {
         widget *f = gui_focus();
         snprintf(diag, sizeof diag, "focus %s", f ? object_type_name(widget_obj(f)) : "none");
         P.diag = diag;
         return closed();
       },
       press_settings},
      {"shown a third time", shown,
       [&] {
         const configbox *b = screen_configbox();
         demo_app::move_to(b->r.x + b->r.w / 2, b->r.y + b->r.h / 2);
       }},
      {"the pointer resting inside the dialog",
       [&] {
         const configbox *b = screen_configbox();
         int32_t x, y;
         snprintf(diag, sizeof diag, "speed %.2f", static_cast<double>(gui_mouse_speed()));
         P.diag = diag;
         return shown() && gui_widget_mouse(const_cast<configbox *>(b), &x, &y) && x > b->r.x && y > b->r.y &&
                x < b->r.x + b->r.w && y < b->r.y + b->r.h && gui_mouse_speed() < 1.0f;
       },
       [&] {
         // Quickly to the far corner of the desktop.
         const desktop *d = screen_current_desktop();
         demo_app::move_to(d->r.x + 8, d->r.y + d->r.h - 8);
       }},
      {"hidden by the quick move away", closed, [] { gui_quit(); }},
  };
  app.run(&P);
  start_cleanup();
  app.stop();
  ASSERT_TRUE(P.failed.empty()) << P.failed << " (step " << P.at << ")";
  EXPECT_EQ(P.at, P.steps.size());
  EXPECT_TRUE(undo_kept) << "a close left the opening's undo record behind";
}

TEST(ConfigboxEndToEnd, TheLoginBoxMovesByItsStripOnly) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("strip"));
  app_script P;
  int win = -1;
  uint64_t xw = 0;
  rect before{}, after_low{};
  char diag[200];
  const auto frame = [&] {
    rect r{};
    gui_window_frame(win, &r);
    return r;
  };
  const auto drag = [&](int32_t x, int32_t y) {
    guitest_xdo("mousemove --window " + std::to_string(xw) + " " + std::to_string(x) + " " + std::to_string(y));
    guitest_xdo("mousedown 1");
    guitest_xdo("mousemove_relative --sync 30 20");
    guitest_xdo("mousemove_relative --sync 40 30");
    guitest_xdo("mouseup 1");
  };
  P.steps = {
      {"the login box on the screen, not signed on",
       [&] {
         win = start_login_window();
         if (win < 0 || !G.wins[win].in_use) return false;
         xw = gui_plat_x11_window(&G.wins[win].plat);
         return !ssclient_is_online() && guitest_window_viewable(xw) && frame().w > 0;
       },
       [&] {
         before = frame();
         // Lower down, on the page: the box stays.
         drag(before.w / 2, before.h - 60);
       }},
      {"(the low drag done)", [] { return gui_mouse_buttons() == 0; },
       [&] {
         after_low = frame();
         drag(before.w / 2, 8);
       }},
      {"moved by the strip",
       [&] {
         const rect r = frame();
         snprintf(diag, sizeof diag, "from %d,%d to %d,%d", before.x, before.y, r.x, r.y);
         P.diag = diag;
         return r.x >= before.x + 50 && r.y >= before.y + 35;
       },
       [] { gui_quit(); }},
  };
  const int32_t t = timer_start(20, app_script::tick, &P, 0);
  ASSERT_GE(t, 0);
  ASSERT_EQ(0, start_main("", "", "", "127.0.0.1", app.port));
  gui_main_loop();
  timer_stop(t);
  start_cleanup();
  app.stop();
  ASSERT_TRUE(P.failed.empty()) << P.failed << " (step " << P.at << ")";
  EXPECT_EQ(P.at, P.steps.size());
  EXPECT_EQ(after_low.x, before.x) << "a drag below the strip moved the box";
  EXPECT_EQ(after_low.y, before.y);
}

}  // namespace
