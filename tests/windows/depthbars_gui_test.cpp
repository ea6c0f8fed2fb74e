// The depth bars drawn in a real gui window under Xvfb (Mesa's software
// rasteriser): a known book of three bid and three offer levels is caught
// up from the model and drawn; read back from the X server, every bar's
// height is its volume's share of the scale within a pixel, bids stand on
// the left half and offers on the right in their sides' colours, and with
// age colouring on, orders older than the age reference are drawn at alpha
// 96 over the background. Each side carries a label of its best step.
#include <gtest/gtest.h>

#include <cstdlib>

#include "drawstart.h"
#include "guitest.h"
#include "lib/fade.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "sstime.h"
#include "style.h"
#include "testmodel.h"
#include "windows/depthbars.h"
#include "windows/depthwin.h"

namespace {

int no_request(instr *) { return 0; }

constexpr int32_t kW = 400, kH = 240;
constexpr uint32_t kBidRgb = 0xD08030, kOfferRgb = 0x3030D0;

uint32_t scaled(uint32_t rgb, int alpha) {
  uint32_t out = 0xFF000000u;
  for (int s = 0; s < 24; s += 8) out |= (((rgb >> s) & 0xFF) * uint32_t(alpha) / 255) << s;
  return out;
}

class DepthBarsGui : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ASSERT_TRUE(drawstart_up());
  }
  static void TearDownTestSuite() {
    drawstart_down();
  }

 protected:
  tw *root = nullptr;
  widget *w = nullptr;
  ss_stock *stock = nullptr;
  guitest_window gw;
  depthwin_services svc{};

  void SetUp() override {
    ASSERT_EQ(start_terminal_model(), 0);
    svc = *depthwin_get_services();
    svc.request_events = no_request;
    depthwin_set_services(&svc);
    stock = ssmodel_get_stock(ssmodel_exchange(0), "BHP");
    stock->flags |= 0x7 | 0x10;
    ss_time t = sstime_pack(0, 0, 10, 8, 12, 2026);
    const uint32_t bids[] = {1000, 995, 990}, offers[] = {1005, 1010, 1015};
    const uint64_t bid_vol[] = {3000, 1500, 6000}, offer_vol[] = {4500, 750, 2000};
    for (int i = 0; i < 3; i++) {
      ASSERT_EQ(0, ssevent_apply_depth_summary(stock, t, 0, bids[i], bid_vol[i], 1, nullptr));
      ASSERT_EQ(0, ssevent_apply_depth_summary(stock, t, 1, offers[i], offer_vol[i], 1, nullptr));
    }
    // The window is wider than the depth window: its bottom right corner
    // (where the window layer may draw a resize grip) stays clear of it.
    root = tw_new(nullptr, "root", {0, 0, kW + 40, kH + 20}, 0xff000000u);
    w = depthwin_new(root);
    w->r = {0, 0, kW, kH};
    depthwin_set_show_mode(w, 1);
    ASSERT_TRUE(gw.open(root, {40, 40, kW + 40, kH + 20}));
    widget_show_subtree(root);
    w->cls->geometry_changed(w);
    depthwin_set_instrument(w, stock);
    redraw();
  }
  void TearDown() override {
    guitest_window::close_all();
    widget_delete(root);
    depthwin_set_services(nullptr);
    ssmodel_fini();
  }
  void redraw() {
    widget_redraw(root);
    gw.settle();
  }
  depthwin_child *bars() { return depthwin_get_child(w, 1); }
  // Rows of the bar's colour straight above its base in the column x.
  int32_t measured_height(int32_t x, uint32_t colour) {
    depthwin_child *b = bars();
    int32_t base = b->r.y + b->r.h - 1;
    int32_t h = 0;
    for (int32_t y = base - 1; y > b->r.y; y--, h++)
      if (!guitest_near(guitest_window_pixel(gw.xw, x, y), colour, 6)) break;
    return h;
  }
};

TEST_F(DepthBarsGui, AKnownBookIsDrawnToScale) {
  depthwin_child *b = bars();
  ASSERT_TRUE(widget_is_shown(b));
  ASSERT_EQ(b->r.w, kW);
  uint64_t top = depthbars_scale_top(b);
  ASSERT_GT(top, 6000u);
  for (int side = 0; side < 2; side++) {
    ASSERT_EQ(depthbars_count(b, side), 3u);
    for (uint32_t i = 0; i < 3; i++) {
      depthbars_bar bar;
      ASSERT_TRUE(depthbars_bar_at(b, side, i, &bar));
      int32_t x;
      ASSERT_TRUE(depthbars_bar_x(b, bar.step, &x)) << bar.step;
      int32_t cx = x + 1;
      if (side == 0) {
        EXPECT_LT(cx, kW / 2) << "bids on the left half: " << bar.step;
      } else {
        EXPECT_GT(cx, kW / 2) << "offers on the right half: " << bar.step;
      }
      double want = double(b->r.h - 2) * double(bar.volume) / double(top);
      int32_t got = measured_height(cx, scaled(side ? kOfferRgb : kBidRgb, 255));
      EXPECT_NEAR(got, want, 1.0) << "side " << side << " step " << bar.step;
      uint32_t px = guitest_window_pixel(gw.xw, cx, b->r.y + b->r.h - 3);
      EXPECT_TRUE(guitest_near(px, scaled(side ? kOfferRgb : kBidRgb, 255), 4))
          << std::hex << px << " side " << side;
    }
  }
}

TEST_F(DepthBarsGui, EachSideCarriesItsLabel) {
  // The bids' label 10 pixels in from the left, the offers' ending 10 in
  // from the right: text over a box in the upper corners; the middle of the
  // top rows stays clear.
  auto bright = [&](rect r) {  // text pixels: light in every channel
    int n = 0;
    for (uint32_t p : guitest_window_pixels(gw.xw, r))
      if ((p & 0xFF) > 0xA0 && ((p >> 8) & 0xFF) > 0xA0 && ((p >> 16) & 0xFF) > 0xA0) n++;
    return n;
  };
  EXPECT_GT(bright({10, 2, 90, 14}), 10);
  EXPECT_GT(bright({kW - 100, 2, 90, 14}), 10);
  EXPECT_EQ(bright({kW / 2 - 20, 2, 40, 14}), 0);
}

TEST_F(DepthBarsGui, OlderOrdersAreDrawnFaded) {
  depthwin_book *book = depthwin_get_book(w);
  depthwin_set_show_age(w, 1);
  // Loaded orders carry no time of their own: every one is older than any
  // age reference.
  book->age_ref = sstime_pack(0, 0, 10, 8, 12, 2026);
  redraw();
  depthwin_child *b = bars();
  depthbars_bar bar;
  ASSERT_TRUE(depthbars_bar_at(b, 0, 0, &bar));
  int32_t x;
  ASSERT_TRUE(depthbars_bar_x(b, bar.step, &x));
  uint32_t px = guitest_window_pixel(gw.xw, x + 1, b->r.y + b->r.h - 3);
  EXPECT_TRUE(guitest_near(px, scaled(kBidRgb, 96), 4)) << std::hex << px;
  depthwin_set_show_age(w, 0);
  redraw();
  px = guitest_window_pixel(gw.xw, x + 1, b->r.y + b->r.h - 3);
  EXPECT_TRUE(guitest_near(px, scaled(kBidRgb, 255), 4)) << std::hex << px;
}

// A stock in auction: its indicative volume and price stand at the top
// centre over a box, and a slow pointer there opens the auction's detail
// with the figures the bars show; moving onto a bar or out of the bars
// closes it.
struct AuctionCalls {
  int shown = 0, hidden = 0;
  uint32_t price = 0;
  uint64_t volume = 0;
} g_auction;
void record_auction(widget *, instr *, uint32_t price, uint64_t volume, int32_t, int32_t) {
  g_auction.shown++;
  g_auction.price = price;
  g_auction.volume = volume;
}
void record_auction_hide(widget *) { g_auction.hidden++; }

TEST_F(DepthBarsGui, TheAuctionFiguresAreDrawnAndOpenTheirDetail) {
  depthwin_child *b = bars();
  rect box;
  EXPECT_FALSE(depthbars_auction_box(b, &box)) << "no auction yet";
  svc.show_auction_detail = record_auction;
  svc.hide_auction_detail = record_auction_hide;
  depthwin_set_services(&svc);
  g_auction = {};
  // A bid crossing the best offer: an indicative price and volume.
  const ss_time t = sstime_pack(0, 1, 10, 8, 12, 2026);
  ASSERT_EQ(0, ssevent_apply_depth_summary(stock, t, 0, 1006, 900, 1, nullptr));
  ASSERT_EQ(0, ssevent_auction_from_price(stock, t, 1005, 900));
  ASSERT_NE(0u, stock->auction.price);
  ssnotify_deliver();
  redraw();
  ASSERT_TRUE(depthbars_auction_box(b, &box));
  EXPECT_LT(std::abs(box.x + box.w / 2 - (b->r.x + b->r.w / 2)), 3) << "centred";
  int lit = 0;
  for (uint32_t p : guitest_window_pixels(gw.xw, box))
    if ((p & 0xFF) > 0xA0 && ((p >> 8) & 0xFF) > 0xA0 && ((p >> 16) & 0xFF) > 0xA0) lit++;
  EXPECT_GT(lit, 10) << "the figures' text";
  b->cls->motion(b, box.x + box.w / 2, box.y + box.h / 2);
  EXPECT_EQ(g_auction.shown, 1);
  EXPECT_EQ(g_auction.price, stock->auction.price);
  EXPECT_EQ(g_auction.volume, stock->auction.matched);
  // Onto the best bid's bar: the auction detail goes.
  depthbars_bar bar;
  ASSERT_TRUE(depthbars_bar_at(b, 0, 0, &bar));
  int32_t x;
  ASSERT_TRUE(depthbars_bar_x(b, bar.step, &x));
  b->cls->motion(b, x + 1, b->r.y + b->r.h - 3);
  EXPECT_EQ(g_auction.hidden, 1);
  b->cls->motion(b, box.x + 2, box.y + 1);
  EXPECT_EQ(g_auction.shown, 2);
  b->cls->leave(b);
  EXPECT_EQ(g_auction.hidden, 2);
}

}  // namespace
