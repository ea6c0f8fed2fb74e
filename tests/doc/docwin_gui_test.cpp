// The document window on screen under Xvfb with everything real: the
// market client's io thread fetching company profiles from nginx on
// loopback (one dripped slowly by limit_rate), the download manager, the
// render thread with the poppler renderer, and the frame loop's passes.
// While the body drips the progress box shows; then sampled page pixels
// match pdftoppm's image of the page; a landscape page has its side bands;
// a click in the lower half turns the page.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "doc/docmgr.h"
#include "doc/pdf.h"
#include "docsupport.h"
#include "drawstart.h"
#include "guitest.h"
#include "lib/fade.h"
#include "lib/gmap.h"
#include "lib/splash.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "plat.h"
#include "sim.h"
#include "ssclient.h"
#include "ssio.h"
#include "style.h"
#include "ui/container.h"
#include "ui/gui.h"
#include "testclient.h"
#include "testclock.h"
#include "testdataroot.h"
#include "testmodel.h"
#include "testpeers.h"
#include "testsim.h"
#include "windows/docwin.h"
#include "windows/window.h"

namespace {

namespace fs = std::filesystem;

class DocwinGui : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ASSERT_TRUE(drawstart_up());
    ASSERT_EQ(timer_init(), 0);
    ASSERT_EQ(splash_init(), 0);
    ssio_set_default_host("");
    char tmpl[] = "/tmp/ambit-docgui-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    pdfs = tmpl;
    ASSERT_EQ(system((std::string("python3 '") + AMBIT_PDF_SCRIPT + "' '" + pdfs + "'").c_str()), 0);
    ok = start_nginx(&nginx, "    location ~ SLOW_advancedprofile {\n"
                             "      limit_rate 600; limit_rate_after 0; sendfile off; output_buffers 1 128;\n"
                             "    }\n");
    ASSERT_TRUE(ok);
    const std::string dir = "www/pdf/osprey/advancedprofile/today/";
    peer_write_file(nginx.dir, dir + "SLOW_advancedprofile.pdf", file_text(pdfs + "/portrait.pdf"));
    peer_write_file(nginx.dir, dir + "WIDE_advancedprofile.pdf", file_text(pdfs + "/landscape.pdf"));
    peer_write_file(nginx.dir, dir + "THREE_advancedprofile.pdf", file_text(pdfs + "/three.pdf"));
  }
  static void TearDownTestSuite() {
    stop_peer(&nginx);
    std::error_code ec;
    fs::remove_all(pdfs, ec);
    splash_fini();
    drawstart_down();
  }

 protected:
  static constexpr int kW = 600, kH = 420;
  void SetUp() override {
    ASSERT_TRUE(ok);
    ASSERT_NO_FATAL_FAILURE(client.start());
    ASSERT_EQ(data.use(), 0);
    docmgr_set_hosts("", ("127.0.0.1:" + std::to_string(nginx.port)).c_str());
    ASSERT_EQ(docmgr_init(), 0);
    pdf_set_renderer(nullptr);
    ASSERT_EQ(pdf_init(), 0);
    root = tw_new(nullptr, "root", {0, 0, kW, kH}, 0xff202020u);
    w = window_new(root, 0);
    w->r = {0, 0, kW, kH};
    window_set_role(w, kRoleDocument);
    ASSERT_TRUE(gw.open(root, {20, 20, kW, kH}));
    widget_show_subtree(root);
    d = static_cast<docwin *>(w->child[kWinDoc]);
    container_cls(w)->layout(w);
  }
  void TearDown() override {
    guitest_window::close_all();
    widget_delete(root);
    pdf_shutdown();
    client.stop_thread();
    docmgr_shutdown();
    docmgr_set_hosts(nullptr, nullptr);
    client.stop();
  }
  // Frame-loop passes (timers, drawing) until the condition holds.
  bool run_until(const std::function<bool()> &cond, int ms = 15000) {
    return guitest_wait_for(
        [&] {
          gui_tick();
          return cond();
        },
        ms);
  }
  instr *issuer(const char *code) {
    instr *in = new instr{};
    in->exchange = bare_exchange(0);
    snprintf(in->code, sizeof in->code, "%s", code);
    owned.emplace_back(in);
    return in;
  }
  uint32_t pixel(int x, int y) { return guitest_window_pixel(gw.xw, x, y); }
  // Shows the profile and waits until its picture is on screen.
  bool show_and_wait(const char *code) {
    docwin_show_profile(d, issuer(code));
    return run_until([&] { return d->pdf && d->pdf->picture->w > 0 && !(d->flags & WIDGET_DIRTY); });
  }

  static std::string pdfs;
  static test_peer nginx;
  static bool ok;
  TempDataRoot data{"ambit-docgui-data"};
  loopback_client client;
  tw *root = nullptr;
  window *w = nullptr;
  docwin *d = nullptr;
  guitest_window gw;
  std::vector<std::unique_ptr<instr>> owned;
};
std::string DocwinGui::pdfs;
test_peer DocwinGui::nginx;
bool DocwinGui::ok = false;

TEST_F(DocwinGui, TheProgressBoxWhileItDripsThenThePageAsPdftoppmDrawsIt) {
  const uint32_t bg = style_colour(style_cur(), SC_BACKGROUND) | 0xFF000000u;
  docwin_show_profile(d, issuer("SLOW"));
  int cx = d->r.x + d->r.w / 2, cy = d->r.y + d->r.h / 2;
  ASSERT_TRUE(run_until([&] { return d->progress.phase == 4 && d->progress.total > 0; }));
  ASSERT_TRUE(run_until([&] { return !(d->flags & WIDGET_DIRTY) && !guitest_near(pixel(cx, cy), bg, 3); }, 3000))
      << "the progress box at the centre while receiving";
  EXPECT_TRUE(guitest_near(pixel(d->r.x + 3, d->r.y + 3), bg, 3)) << "the background around it";
  EXPECT_FALSE(d->pdf) << "still dripping";

  ASSERT_TRUE(run_until([&] { return d->pdf && d->pdf->picture->w > 0 && !(d->flags & WIDGET_DIRTY); }));
  // Auto fit on a portrait page: the width, 1:1 from the picture's top.
  ASSERT_EQ(d->pdf->picture->w, d->r.w);
  const int ph = d->pdf->picture->h;
  std::string out = pdfs + "/shown";
  std::string cmd = "pdftoppm -cropbox -scale-to-x " + std::to_string(d->r.w) + " -scale-to-y " + std::to_string(ph) +
                    " -singlefile '" + pdfs + "/portrait.pdf' '" + out + "'";
  ASSERT_EQ(system(cmd.c_str()), 0);
  ppm_image ref;
  ASSERT_TRUE(read_ppm(out + ".ppm", &ref));
  int checked = 0, matched = 0;
  for (int gy = 1; gy < 8; gy++)
    for (int gx = 1; gx < 8; gx++) {
      int x = d->r.w * gx / 8, y = d->r.h * gy / 8;
      checked++;
      matched += guitest_near(pixel(d->r.x + x, d->r.y + y), ref.colour_at(x, y), 24);
    }
  EXPECT_GE(matched, checked - 1) << matched << " of " << checked << " sampled pixels as pdftoppm draws them";
}

TEST_F(DocwinGui, ALandscapePageHasBandsBesideIt) {
  ASSERT_TRUE(show_and_wait("WIDE"));
  EXPECT_EQ(docwin_is_landscape(d), 1);
  EXPECT_EQ(docwin_fits_height(d), 1);
  ASSERT_LT(d->pdf->picture->w, d->r.w);
  const int my = d->r.y + d->r.h / 2;
  EXPECT_TRUE(guitest_near(pixel(d->r.x + 2, my), 0xFFF2F0F0u, 2)) << std::hex << pixel(d->r.x + 2, my);
  EXPECT_TRUE(guitest_near(pixel(d->r.x + d->r.w - 3, my), 0xFFF2F0F0u, 2));
  // The page's own tint (0.85, 1, 1) in its top right corner area.
  const int px = d->r.x + d->r.w / 2 + d->pdf->picture->w / 2 - 10;
  EXPECT_TRUE(guitest_near(pixel(px, d->r.y + 10), 0xFFFFFFD9u, 6)) << std::hex << pixel(px, d->r.y + 10);
}

TEST_F(DocwinGui, AClickInTheLowerHalfTurnsThePage) {
  ASSERT_TRUE(show_and_wait("THREE"));
  ASSERT_EQ(docwin_get_page_count(d), 3);
  // Page tints: (1, .8, .8), (.8, 1, .8), (.8, .8, 1); sampled near the
  // picture's top right, clear of the shapes.
  const int x = d->r.x + d->r.w - 10, y = d->r.y + 10;
  EXPECT_TRUE(guitest_near(pixel(x, y), 0xFFCCCCFFu, 6)) << std::hex << pixel(x, y);
  guitest_xdo("mousemove" + gw.at(d->r.x + 100, d->r.y + d->r.h - 40) + " click 1");
  ASSERT_TRUE(run_until([&] { return pdf_page(d->pdf) == 1 && !(d->flags & WIDGET_DIRTY); }));
  ASSERT_TRUE(run_until([&] { return guitest_near(pixel(x, y), 0xFFCCFFCCu, 6); }, 3000))
      << std::hex << pixel(x, y);
  guitest_xdo("mousemove" + gw.at(d->r.x + 100, d->r.y + 40) + " click 1");
  ASSERT_TRUE(run_until([&] { return pdf_page(d->pdf) == 0; }));
}

}  // namespace
