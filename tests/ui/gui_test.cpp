// Gui windows, the redraw queue and the window draw under Xvfb: opening
// rules, the 16-window table, queue rules, drawing order, the repeat into
// the other buffer, full redraws, a differential pixel test of random
// partial redraws against the widgets' own colours and a full redraw, the
// GL reset through the recorder, clamping, and xdotool-driven focus and
// drag through the real platform layer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "guitest.h"
#include "lib/glapi.h"
#include "lib/glrecord.h"
#include "pixeltest.h"
#include "testlog.h"
#include "uitest.h"
#include "ui/gui_internal.h"

#include <SDL2/SDL.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

bool wait_for(const std::function<bool()> &done, int ms = 3000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    gui_plat_pump_events();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Pixels of a window as the X server shows them (0xRRGGBB), read at once.
struct screen {
  Display *d = XOpenDisplay(nullptr);
  ~screen() { XCloseDisplay(d); }
  std::vector<uint32_t> grab(uint64_t xw, int w, int h) {
    std::vector<uint32_t> out((size_t)w * h, 0xdeadbeef);
    XImage *img = XGetImage(d, (Window)xw, 0, 0, w, h, AllPlanes, ZPixmap);
    if (!img) return out;
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) out[(size_t)y * w + x] = XGetPixel(img, x, y) & 0xffffff;
    XDestroyImage(img);
    return out;
  }
};

uint32_t rgb_of(colour c) {  // red in the low byte -> 0xRRGGBB
  return ((c & 0xff) << 16) | (c & 0xff00) | ((c >> 16) & 0xff);
}

class Gui : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
  }
  static void TearDownTestSuite() { gui_shutdown(); }

 protected:
  std::vector<widget *> roots;
  void TearDown() override {
    gui_window_close(-1);
    G.quit = 0;
    G.shutting_down = 0;
    for (widget *r : roots) widget_delete(r);
    gui_set_last_close_query(nullptr);
    tw_log().clear();
    tw_log_draws(false);
  }
  tw *root(const char *name, int w, int h, colour fill = 0xff000000) {
    tw *r = tw_new(nullptr, name, {0, 0, w, h}, fill);
    roots.push_back(r);
    return r;
  }
  // Draws until the window has nothing left to draw; the number of draws.
  int settle(int w) {
    int n = 0;
    while (G.wins[w].needs_draw && n < 20) {
      gui_draw_window(w);
      n++;
    }
    return n;
  }
};

TEST_F(Gui, OpeningPlacesTheWindow) {
  ASSERT_EQ(gui_monitor_count(), 1);
  rect mon;
  ASSERT_NE(gui_monitor_rect(0, &mon), nullptr);
  EXPECT_EQ(gui_monitor_rect(1, &mon), nullptr);
  gui_monitor_rect(0, &mon);
  struct {
    const char *name;
    bool has_rect;
    rect r;
    uint32_t flags;
    rect want;
    const char *warn;
  } cases[] = {
      {"given", true, {30, 40, 200, 120}, 0, {30, 40, 200, 120}, nullptr},
      {"no rect: centred at the requested size", false, {}, 0,
       {(mon.w - 160) / 2, (mon.h - 90) / 2, 160, 90}, nullptr},
      {"too narrow: centred", true, {10, 10, 50, 400}, 0,
       {(mon.w - 160) / 2, (mon.h - 90) / 2, 160, 90}, nullptr},
      {"centre flag", true, {10, 10, 300, 300}, GUI_WIN_CENTRE,
       {(mon.w - 160) / 2, (mon.h - 90) / 2, 160, 90}, nullptr},
      {"too wide", true, {0, 0, 6000, 100}, 0, {0, 0, 5000, 100},
       "truncating width from 6000 to 5000"},
  };
  for (auto &c : cases) {
    LogCapture logs;
    tw *r = root("r", 160, 90);
    r->r = {0, 0, 0, 0};
    int w = gui_window_open(r, c.has_rect ? &c.r : nullptr, c.flags);
    ASSERT_GE(w, 0) << c.name;
    rect f;
    gui_window_frame(w, &f);
    EXPECT_EQ(memcmp(&f, &c.want, sizeof f), 0)
        << c.name << ": " << f.x << "," << f.y << " " << f.w << "x" << f.h;
    if (c.warn) {
      EXPECT_TRUE(logs.has(c.warn)) << c.name;
    }
    EXPECT_EQ(r->r.w, f.w) << c.name;  // the root spans the content
    EXPECT_EQ(gui_window_state(w), 0);
    EXPECT_EQ(gui_window_index(r), w);
    gui_window_close(w);
    EXPECT_EQ(gui_window_state(w), -1);
    EXPECT_EQ(gui_window_index(r), -1);
  }
}

TEST_F(Gui, SixteenWindowsAndTheLastCloseQuery) {
  std::vector<int> open;
  for (int i = 0; i < kGuiWindows; i++) {
    rect r = {10 * i, 10 * i, 60, 60};
    int w = gui_window_open(root("w", 60, 60), &r, 0);
    ASSERT_EQ(w, i);
    open.push_back(w);
  }
  LogCapture logs;
  rect r = {0, 0, 60, 60};
  EXPECT_EQ(gui_window_open(root("x", 60, 60), &r, 0), -1);
  EXPECT_TRUE(logs.has("can't have more than 16 windows"));

  gui_set_last_close_query([] { return 0; });
  gui_window_close(-1);
  EXPECT_TRUE(logs.has("app says don't close"));
  EXPECT_EQ(gui_quitting(), 0);
  gui_set_last_close_query(nullptr);
  gui_window_close(-1);  // nothing open: with no hook the gui quits
  EXPECT_EQ(gui_quitting(), 1);
}

TEST_F(Gui, QueueRules) {
  tw *r = root("r", 200, 100);
  tw *a = tw_new(r, "a", {10, 10, 20, 20}, 0xff0000ff);
  tw *b = tw_new(r, "b", {40, 10, 20, 20}, 0xff00ff00);
  tw *e = tw_new(r, "e", {70, 10, 0, 20}, 0xff00ff00);
  int w = gui_window_open(r, nullptr, 0);
  settle(w);
  gui_win &win = G.wins[w];
  ASSERT_EQ(win.update_count, 0);
  widget_redraw(a);
  widget_redraw(a);  // already dirty: nothing new
  widget_redraw(e);  // empty: never queued
  widget_hide(b);    // hiding queues the parent
  int count = win.update_count;
  EXPECT_EQ(count, 2);
  widget_redraw(b);  // hidden: never queued
  EXPECT_EQ(win.update_count, count);
  EXPECT_EQ(win.updates[0].w, a);
  EXPECT_EQ(win.updates[1].w, r);
  gui_drop_updates(a);
  EXPECT_EQ(win.updates[0].w, nullptr);
  EXPECT_EQ(gui_window_dirty(w), 1);
  EXPECT_EQ(gui_window_dirty(-1), 0);
}

TEST_F(Gui, DrawOrderRepeatAndFullRedraws) {
  tw *r = root("r", 200, 100);
  tw *hi = tw_new(r, "hi", {10, 10, 20, 20}, 0xff0000ff);
  tw *lo = tw_new(r, "lo", {40, 10, 20, 20}, 0xff00ff00);
  tw *lo2 = tw_new(r, "lo2", {70, 10, 20, 20}, 0xffff0000);
  widget_set_level(hi, 2);
  int w = gui_window_open(r, nullptr, 0);
  EXPECT_EQ(settle(w), 3);  // a new window: three full draws
  ASSERT_EQ(G.wins[w].plat.back_kept, 1);
  tw_log_draws(true);

  // Levels 2 and 0 queued in that order are drawn level 0 first; equal
  // levels in queue order.
  widget_redraw(hi);
  widget_redraw(lo2);
  widget_redraw(lo);
  EXPECT_EQ(gui_draw_window(w), 3);
  EXPECT_EQ(tw_log(), (std::vector<std::string>{"lo2:draw", "lo:draw", "hi:draw"}));
  // Each is drawn once more for the other buffer, then no more.
  tw_log().clear();
  EXPECT_EQ(gui_draw_window(w), 3);
  EXPECT_EQ(tw_log(), (std::vector<std::string>{"lo2:draw", "lo:draw", "hi:draw"}));
  tw_log().clear();
  EXPECT_EQ(gui_draw_window(w), 0);
  EXPECT_TRUE(tw_log().empty());

  // Invalidation: three full draws of the root in a row.
  gui_invalidate_window(w);
  int before = r->draws;
  EXPECT_EQ(settle(w), 3);
  EXPECT_EQ(r->draws - before, 3);

  // A minimised window draws nothing and keeps its queue.
  widget_redraw(lo);
  gui_window_set_state(w, 1);
  EXPECT_EQ(gui_draw_window(w), 0);
  EXPECT_EQ(G.wins[w].update_count, 1);
  gui_window_set_state(w, 0);
  tw_log().clear();
  EXPECT_EQ(gui_draw_window(w), 1);
  EXPECT_EQ(tw_log(), std::vector<std::string>{"lo:draw"});

  // When swaps leave the back buffer undefined every frame is drawn in full.
  settle(w);
  G.wins[w].plat.back_kept = 0;
  tw_log().clear();
  widget_redraw(lo);
  EXPECT_EQ(gui_draw_window(w), 1);
  EXPECT_EQ(tw_log(), (std::vector<std::string>{"r:draw", "hi:draw", "lo:draw", "lo2:draw"}));
  G.wins[w].plat.back_kept = 1;
}

// The window's back buffer right after a draw (what was just presented:
// swaps on Mesa copy), as 0xRRGGBB rows from the top.
std::vector<uint32_t> read_back(int w, int W, int H, std::vector<uint8_t> *raw = nullptr) {
  std::vector<uint8_t> px((size_t)W * H * 4);
  gui_window_lock(w);
  gl->ReadBuffer(GL_BACK);
  gl->ReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
  gui_window_unlock(w);
  std::vector<uint32_t> out((size_t)W * H);
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      const uint8_t *p = &px[((size_t)(H - 1 - y) * W + x) * 4];
      out[(size_t)y * W + x] = (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
    }
  if (raw) *raw = std::move(px);
  return out;
}

// Puts a frame read with read_back back into the window's back buffer, as
// a driver that exchanges buffers would leave the frame before last there.
void write_back(int w, int W, int H, const std::vector<uint8_t> &raw) {
  gui_window_lock(w);
  gl->Disable(GL_BLEND);
  gl->WindowPos2i(0, 0);
  gl->DrawPixels(W, H, GL_RGBA, GL_UNSIGNED_BYTE, raw.data());
  gl->Enable(GL_BLEND);
  gui_window_unlock(w);
}

// States the window manager reports: recorded and handed to the hook once
// each; what the gui asked for itself, or a maximise where maximising is
// not supported, is no news; a window back from minimised is drawn in full.
std::vector<std::pair<int, int>> g_states;
void record_state(int index, int state) { g_states.push_back({index, state}); }

TEST_F(Gui, StateChangesFromTheWindowManager) {
  tw *r = root("r", 200, 100);
  int w = gui_window_open(r, nullptr, 0);
  settle(w);
  gui_set_window_state_hook(record_state);
  const int supported = G.maximise_supported;
  const struct {
    int supported, own, reported, state;
    bool told;
  } cases[] = {
      {1, -1, 1, 1, true},   // minimised from the task bar
      {1, -1, 1, 1, false},  // said twice
      {1, -1, 2, 2, true},   // maximised from the manager's keys
      {1, -1, 0, 0, true},   // restored
      {1, 1, 1, 1, false},   // the gui's own request coming back
      {1, -1, 0, 0, true},
      {0, -1, 2, 0, false},  // maximising not supported: still normal
  };
  for (const auto &c : cases) {
    gui_set_maximise_supported(c.supported);
    if (c.own >= 0) gui_window_set_state(w, c.own);
    g_states.clear();
    gui_window_state_changed(w, c.reported);
    EXPECT_EQ(gui_window_state(w), c.state) << c.reported;
    using told = std::vector<std::pair<int, int>>;
    const told want = c.told ? told{{w, c.state}} : told{};
    EXPECT_EQ(g_states, want) << c.reported;
  }
  gui_set_maximise_supported(supported);
  gui_window_state_changed(w, 1);
  settle(w);
  const int before = r->draws;
  gui_window_state_changed(w, 0);
  EXPECT_EQ(settle(w), 3);
  EXPECT_EQ(r->draws - before, 3);
  g_states.clear();
  gui_window_state_changed(w + 1, 1);  // no such window
  EXPECT_TRUE(g_states.empty());
  gui_set_window_state_hook(nullptr);
}

// Random partial redraws over many frames: after every frame the window
// shows each widget's current colour, and a full redraw changes nothing.
// Run twice: with the driver's swaps (the back buffer keeps the frame just
// presented) and with exchanged buffers emulated (the back buffer holds the
// frame before last, so every change must be drawn into both buffers).
TEST_F(Gui, RandomPartialRedrawsMatchTheModelAndAFullRedraw) {
  const int W = 320, H = 180, cols = 8, rows = 6, cw = W / cols, ch = H / rows;
  static const colour kPalette[] = {0xff0000ff, 0xff00ff00, 0xffff0000, 0xff00ffff,
                                    0xffff00ff, 0xffffff00, 0xff204080, 0xff808020};
  for (int exchange = 0; exchange < 2; exchange++) {
    tw *r = root("r", W, H, 0xff000000);
    struct cell {
      tw *panel, *dot;
    };
    std::vector<cell> cells;
    for (int y = 0; y < rows; y++)
      for (int x = 0; x < cols; x++) {
        tw *p = tw_new(r, "panel", {x * cw, y * ch, cw, ch}, 0xff404040);
        tw *d = tw_new(p, "dot", {x * cw + 10, y * ch + 8, 12, 10}, 0xff808080);
        cells.push_back({p, d});
      }
    rect frame = {60, 60, W, H};
    int w = gui_window_open(r, &frame, GUI_WIN_BORDERLESS);
    ASSERT_GE(w, 0);
    settle(w);
    std::vector<uint8_t> before_last, last;
    read_back(w, W, H, &last);
    before_last = last;
    std::mt19937 rng(12345 + exchange);
    std::vector<uint32_t> want, got;
    for (int f = 0; f < 30; f++) {
      int changes = 1 + (int)(rng() % 5);
      for (int i = 0; i < changes; i++) {
        cell &c = cells[rng() % cells.size()];
        tw *t = (rng() & 1) ? c.panel : c.dot;
        t->fill = kPalette[rng() % 8];
        widget_redraw(t);
      }
      gui_draw_window(w);
      std::vector<uint8_t> now;
      std::vector<uint32_t> img = read_back(w, W, H, &now);
      want.clear();
      got.clear();
      for (const cell &c : cells) {
        want.push_back(rgb_of(c.panel->fill));
        want.push_back(rgb_of(c.dot->fill));
        got.push_back(img[(size_t)(c.panel->r.y + 2) * W + c.panel->r.x + 2]);
        got.push_back(img[(size_t)(c.dot->r.y + 5) * W + c.dot->r.x + 6]);
      }
      ASSERT_EQ(got, want) << (exchange ? "exchanged" : "kept") << " buffers, frame " << f;
      before_last = last;
      last = now;
      if (exchange) write_back(w, W, H, before_last);
    }
    while (G.wins[w].needs_draw) {
      gui_draw_window(w);
      std::vector<uint8_t> now;
      read_back(w, W, H, &now);
      before_last = last;
      last = now;
      if (exchange) write_back(w, W, H, before_last);
    }
    std::vector<uint32_t> partial = read_back(w, W, H);
    gui_invalidate_window(w);
    settle(w);
    EXPECT_TRUE(read_back(w, W, H) == partial)
        << (exchange ? "exchanged" : "kept") << ": the full redraw differs from the partial ones";
    gui_window_close(w);
    G.quit = 0;
  }
}

TEST_F(Gui, ResetSetsTheFixedStateAndTheGripIsDrawn) {
  tw *r = root("r", 120, 80, 0xff000000);
  rect frame = {100, 100, 120, 80};
  int w = gui_window_open(r, &frame, 0);
  LogCapture logs;
  {
    glrecord_scope rec(true);
    gui_draw_window(w);
  }
  std::string calls = glrecord_text();
  for (const char *want : {"Disable(GL_DEPTH_TEST)", "Disable(GL_SCISSOR_TEST)",
                           "BlendFunc(GL_SRC_ALPHA,GL_ONE_MINUS_SRC_ALPHA)", "ShadeModel(GL_FLAT)",
                           "DepthMask(GL_FALSE)", "PixelStorei(GL_UNPACK_ALIGNMENT,1)",
                           "Viewport(0,0,120,80)", "Ortho(0,120,80,0,0,1)"})
    EXPECT_NE(calls.find(want), std::string::npos) << want;
  EXPECT_TRUE(logs.has("resetting window 0 120x80"));
  EXPECT_FALSE(logs.has("glerror"));
  settle(w);
  screen scr;
  uint64_t xw = gui_plat_x11_window(&G.wins[w].plat);
  // The grip's middle line passes (w - 2, h - 2); the corner itself stays black.
  EXPECT_TRUE(wait_for([&] { return scr.grab(xw, 120, 80)[78 * 120 + 118] == 0xc8c8c8; }));
  EXPECT_EQ(scr.grab(xw, 120, 80)[79 * 120 + 119], 0u);
}

TEST_F(Gui, OwnerMapQueuesWhatShowsInAnArea) {
  tw *r = root("r", 200, 150);  // a container without a colour: claims nothing
  tw *panel = tw_new(r, "panel", {0, 0, 100, 100});
  container_set_bg(panel, 0xff303030);
  probe *low = probe_new(panel, "low", 20, 20);
  probe *high = probe_new(panel, "high", 20, 20);
  probe *under = probe_new(panel, "under", 6, 6);
  probe *glass = probe_new(panel, "glass", 10, 10);
  low->r = {10, 10, 20, 20};
  high->r = {15, 15, 20, 20};
  under->r = {12, 12, 6, 6};  // inside `low`, on a lower level than it
  glass->r = {50, 50, 10, 10};
  glass->flags |= WIDGET_TRANSPARENT;
  widget_set_level(low, 5);
  widget_set_level(high, 6);
  widget_set_level(under, 1);
  rect frame = {10, 10, 200, 150};
  int w = gui_window_open(r, &frame, 0);
  settle(w);
  auto queued = [&] {
    std::vector<std::string> names;
    for (int i = 0; i < G.wins[w].update_count; i++) {
      widget *x = G.wins[w].updates[i].w;
      names.push_back(x == panel ? "panel" : static_cast<probe *>(x)->name);
      EXPECT_TRUE(x->flags & WIDGET_REPEAT);
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  rect area = {0, 0, 40, 40};
  EXPECT_EQ(gui_queue_owners(w, &area), 3);
  EXPECT_EQ(queued(), (std::vector<std::string>{"high", "low", "panel"}));
  settle(w);
  rect glass_area = {50, 50, 5, 5};  // a transparent widget's redraw is its parent's
  EXPECT_EQ(gui_queue_owners(w, &glass_area), 1);
  EXPECT_EQ(queued(), (std::vector<std::string>{"panel"}));
  EXPECT_TRUE(glass->flags & WIDGET_DIRTY);
  settle(w);
}

TEST_F(Gui, FramesSetByTheGuiComeBackThroughThePlatform) {
  rect frame = {10, 10, 200, 150};
  int w = gui_window_open(root("r", 200, 150), &frame, 0);
  LogCapture logs;
  rect big = {20, 30, 6000, 2500};
  gui_window_set_frame(w, &big);
  EXPECT_TRUE(logs.has("truncating width from 6000 to 5000"));
  EXPECT_TRUE(logs.has("truncating height from 2500 to 2000"));
  rect f;
  gui_window_frame(w, &f);
  EXPECT_EQ(f.x, 20);
  EXPECT_EQ(f.y, 30);
  EXPECT_EQ(f.w, 5000);
  EXPECT_EQ(f.h, 2000);
  EXPECT_EQ(gui_window_root(w)->r.w, 5000);  // the root follows the content
  rect native;
  ASSERT_EQ(gui_plat_native_frame(&G.wins[w].plat, &native), 0);
  EXPECT_EQ(native.w, 5000);
}

TEST_F(Gui, MotionPastTheRootGoesToTheWindowUnderThePointer) {
  tw *left = root("left", 200, 100);
  tw *right = root("right", 200, 100);
  tw *target = tw_new(right, "target", {10, 10, 50, 50});
  rect lf = {100, 100, 200, 100}, rf = {320, 100, 200, 100};
  int wl = gui_window_open(left, &lf, 0), wr = gui_window_open(right, &rf, 0);
  ASSERT_GE(wl, 0);
  ASSERT_GE(wr, 0);
  settle(wl);
  settle(wr);
  tw_log().clear();
  // 250 pixels right of the left window's origin is x 30 in the right one.
  gui_motion_event(wl, 250, 20);
  int win;
  int32_t x, y;
  gui_mouse(&win, &x, &y);
  EXPECT_EQ(win, wr);
  EXPECT_EQ(x, 30);
  EXPECT_EQ(y, 20);
  EXPECT_EQ(gui_current_window(), wr);
  ASSERT_FALSE(tw_log().empty());
  EXPECT_EQ(tw_log().back(), "target:motion(30,20,0)");
  (void)target;
}

TEST_F(Gui, ClampingAndFlipping) {
  // The monitors' bounds are the Xvfb screen.
  const rect &B = G.bounds;
  struct {
    int flip;
    rect in, want;
  } cases[] = {
      {0, {100, 10, 200, 100}, {100, B.y + 40, 200, 100}},
      {0, {100, 5000, 200, 100}, {100, B.y + B.h - 60, 200, 100}},
      {0, {-50, 300, 200, 100}, {B.x + 10, 310, 200, 100}},
      {0, {5000, 300, 200, 100}, {B.x + B.w - 70, 300, 200, 100}},
      {1, {100, -200, 200, 100}, {100, B.y + 90 - 100, 200, 100}},
      {1, {100, 5000, 200, 100}, {100, B.y + B.h - 10 - 100, 200, 100}},
      {1, {100, 300, 200, 100}, {100, 300, 200, 100}},
  };
  for (auto &c : cases) {
    gui_set_flip(c.flip);
    rect r = c.in;
    gui_clamp_to_screen(&r);
    EXPECT_EQ(memcmp(&r, &c.want, sizeof r), 0)
        << "flip " << c.flip << " in " << c.in.x << "," << c.in.y << " got " << r.x << "," << r.y;
  }
  gui_set_flip(1);
  rect f = {10, 20, 30, 40};
  gui_flip_rect(&f);
  EXPECT_EQ(f.y, B.y + B.h - 20 - 40);
  gui_set_flip(0);
  gui_flip_rect(&f);
  EXPECT_EQ(f.y, B.y + B.h - 20 - 40);  // off: unchanged

  tw *r = root("r", 300, 200);
  tw *k = tw_new(r, "k", {-30, -10, 50, 50});
  int w = gui_window_open(r, nullptr, 0);
  ASSERT_GE(w, 0);
  gui_clamp_widget_to_window(k);
  EXPECT_EQ(k->r.x, 0);
  EXPECT_EQ(k->r.y, 10);
  k->r = {900, 900, 50, 50};
  gui_clamp_widget_to_window(k);
  EXPECT_EQ(k->r.x, 240);
  EXPECT_EQ(k->r.y, 150);
}

void xdo(const std::string &args) { ASSERT_EQ(system(("xdotool " + args).c_str()), 0) << args; }

TEST_F(Gui, XdotoolFocusAndDragThroughThePlatform) {
  tw *r = root("r", 300, 200, 0xff000000);
  tw *a = tw_new(r, "a", {20, 20, 80, 60}, 0xff0000ff);
  tw_new(r, "b", {160, 20, 80, 60}, 0xff00ff00);
  a->focus_on_press = 1;
  a->drag_answer = 1;
  rect frame = {200, 200, 300, 200};
  int w = gui_window_open(r, &frame, 0);
  ASSERT_GE(w, 0);
  settle(w);
  std::string xid = std::to_string(gui_plat_x11_window(&G.wins[w].plat));
  std::string id = " --window " + xid;
  xdo("windowfocus --sync " + xid);
  static std::vector<std::string> hooks;
  gui_set_drop_hook([](widget *t, drag_record *) {
    hooks.push_back(std::string("drop:") + (t ? static_cast<tw *>(t)->name : "null"));
  });
  auto seen = [](const std::string &line) {
    for (const std::string &l : tw_log())
      if (l == line) return true;
    return false;
  };

  // A click on a gives it the focus; keys typed over b still go to a.
  xdo("mousemove" + id + " 40 40 click 1 mousemove" + id + " 180 40 key x");
  ASSERT_TRUE(wait_for([&] { return seen("a:key_release(1015,88,0)"); }));
  EXPECT_EQ(gui_focus(), a);
  EXPECT_TRUE(seen("a:press(40,40,1)"));
  EXPECT_TRUE(seen("a:key_press(1015,88,0)"));
  EXPECT_FALSE(seen("b:key_press(1015,88,0)"));

  // A drag from a to b: drag_begin once, motion delivered, drop on b.
  tw_log().clear();
  xdo("mousemove" + id + " 50 50 mousedown 1 mousemove" + id + " 60 55 mousemove" + id +
      " 190 50 mouseup 1");
  ASSERT_TRUE(wait_for([&] {
    gui_deliver_drag_motion();
    return !hooks.empty();
  }));
  int begins = 0;
  for (const std::string &l : tw_log()) begins += l.rfind("a:drag_begin", 0) == 0;
  EXPECT_EQ(begins, 1);
  EXPECT_TRUE(seen("b:drop(190,50,0)"));
  EXPECT_EQ(hooks, std::vector<std::string>{"drop:b"});
  EXPECT_EQ(gui_dragging(), 0);
  gui_set_drop_hook(nullptr);
}

}  // namespace
