// Drawing primitives and panels: the exact GL call sequences through the
// recorder (state shadow, fills, lines, markers, clipping with its y flip,
// the stencil mask, panels) and what they put on the screen under Xvfb.
#include "lib/gfx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "atlasref.h"
#include "lib/glapi.h"
#include "lib/glrecord.h"
#include "lib/tex.h"
#include "testlog.h"
#include "ui/widget.h"

namespace {

::testing::Environment *const kRuntime = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

using Calls = std::vector<std::string>;

// Records from a freshly reset state; the reset's own calls are dropped.
class Gfx : public ::testing::Test {
 protected:
  void SetUp() override {
    rec_ = new glrecord_scope;
    gfx_reset();
    gfx_set_viewport(320, 240);
    gfx_flags_clear(~0u);
    glrecord_clear();
  }
  void TearDown() override {
    gfx_flush();
    delete rec_;
  }
  glrecord_scope *rec_ = nullptr;
};

TEST_F(Gfx, ResetSetsTheKnownState) {
  gfx_reset();
  EXPECT_EQ(glrecord_calls(), (Calls{"BindTexture(GL_TEXTURE_2D,0)", "Enable(GL_BLEND)", "Disable(GL_TEXTURE_2D)",
                                     "Disable(GL_SCISSOR_TEST)", "Disable(GL_STENCIL_TEST)"}));
}

TEST_F(Gfx, FillsIssueColoursOnlyWhenNeeded) {
  gfx_fill_rect(1, 2, 3, 4, 0x11223344u);  // red in the low byte
  Calls first = {"Color4ub(68,51,34,17)", "Begin(GL_QUADS)", "Color4ub(68,51,34,17)", "Vertex2i(1,2)",
                 "Vertex2i(1,6)",         "Vertex2i(4,6)",   "Vertex2i(4,2)"};
  EXPECT_EQ(glrecord_calls(), first);
  // Colour 0 keeps the colour GL has: none is issued.
  glrecord_clear();
  gfx_fill_rect(0, 0, 1, 1, 0);
  EXPECT_EQ(glrecord_calls(), (Calls{"End()", "Begin(GL_QUADS)", "Vertex2i(0,0)", "Vertex2i(0,1)", "Vertex2i(1,1)",
                                     "Vertex2i(1,0)"}));
  gfx_flush();
  glrecord_clear();
  gfx_flush();  // nothing open: nothing to end
  EXPECT_TRUE(glrecord_calls().empty());
}

TEST_F(Gfx, LinesShareOnePrimitive) {
  gfx_begin_lines(0xFF00FF00u);
  gfx_line(0, 0, 10, 0);
  gfx_line(3, 4, 5, 6);
  gfx_end_lines();
  gfx_line_strip_point(1, 1, 0);
  gfx_vertex_centred(2, 3);
  gfx_flush();
  EXPECT_EQ(glrecord_calls(),
            (Calls{"Color4ub(0,255,0,255)", "Begin(GL_LINES)", "Color4ub(0,255,0,255)", "Vertex2f(0.5,0.5)",
                   "Vertex2f(10.5,0.5)", "Vertex2f(3.5,4.5)", "Vertex2f(5.5,6.5)", "End()", "Begin(GL_LINE_STRIP)",
                   "Vertex2f(1.5,1.5)", "Vertex2f(2.5,3.5)", "End()"}));
}

TEST_F(Gfx, MarkerTriangles) {
  struct Case {
    void (*draw)(int32_t, int32_t, int32_t, colour);
    Calls vertices;
  } cases[] = {
      {gfx_triangle_right, {"Vertex2f(9.5,16.5)", "Vertex2f(13.5,20)", "Vertex2f(9.5,23.5)"}},
      {gfx_triangle_left, {"Vertex2f(10.5,16.5)", "Vertex2f(6.5,20)", "Vertex2f(10.5,23.5)"}},
      {gfx_triangle_up, {"Vertex2f(10,16.5)", "Vertex2f(13.5,20.5)", "Vertex2f(6.5,20.5)"}},
      {gfx_triangle_down, {"Vertex2f(6.5,19.5)", "Vertex2f(13.5,19.5)", "Vertex2f(10,23.5)"}},
  };
  for (const Case &c : cases) {
    gfx_flush();
    glrecord_clear();
    c.draw(10, 20, 3, 0);
    Calls want = {"Begin(GL_TRIANGLES)"};
    want.insert(want.end(), c.vertices.begin(), c.vertices.end());
    EXPECT_EQ(glrecord_calls(), want);
  }
}

TEST_F(Gfx, GradientsRunAcrossAndDown) {
  gfx_gradient_rect(0, 0, 4, 2, 0xFF0000FFu, 0xFFFF0000u);
  gfx_gradient_rect_h(0, 0, 4, 2, 0xFF0000FFu, 0xFFFF0000u);
  EXPECT_EQ(glrecord_calls(),
            (Calls{"ShadeModel(GL_SMOOTH)", "Begin(GL_QUADS)", "Color4ub(255,0,0,255)", "Vertex2i(0,0)",
                   "Vertex2i(0,2)", "Color4ub(0,0,255,255)", "Vertex2i(4,2)", "Vertex2i(4,0)", "End()",
                   "ShadeModel(GL_FLAT)", "ShadeModel(GL_SMOOTH)", "Begin(GL_QUADS)", "Color4ub(255,0,0,255)",
                   "Vertex2i(0,0)", "Vertex2i(4,0)", "Color4ub(0,0,255,255)", "Vertex2i(4,2)", "Vertex2i(0,2)",
                   "End()", "ShadeModel(GL_FLAT)"}));
}

TEST_F(Gfx, ClipsClampFlipAndRestore) {
  struct Case {
    const char *name;
    rect r;
    bool null;
    rect stored;
    Calls calls;
  } cases[] = {
      {"inside", {10, 20, 30, 40}, false, {10, 20, 30, 40}, {"Enable(GL_SCISSOR_TEST)", "Scissor(10,180,30,40)"}},
      {"again: already enabled", {0, 0, 320, 240}, false, {0, 0, 320, 240}, {"Scissor(0,0,320,240)"}},
      {"clamped to the window", {-5, -5, 10, 400}, false, {0, 0, 5, 240}, {"Scissor(0,0,5,240)"}},
      {"wholly left: empty, scissor kept", {-50, 10, 20, 10}, false, {0, 10, -30, 10}, {}},
      {"wholly above: empty", {10, -50, 10, 20}, false, {10, 0, 10, -30}, {}},
      {"none", {}, true, {0, 0, 0, 0}, {"Disable(GL_SCISSOR_TEST)"}},
      {"none again: still disables", {}, true, {0, 0, 0, 0}, {"Disable(GL_SCISSOR_TEST)"}},
      {"enabled again after none", {1, 2, 3, 4}, false, {1, 2, 3, 4}, {"Enable(GL_SCISSOR_TEST)", "Scissor(1,234,3,4)"}},
  };
  rect previous = {9, 9, 9, 9};
  rect expected_previous = {0, 0, 0, 0};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    glrecord_clear();
    gfx_set_clip(c.null ? nullptr : &c.r, &previous);
    EXPECT_EQ(glrecord_calls(), c.calls);
    EXPECT_EQ(previous.x, expected_previous.x);
    EXPECT_EQ(previous.w, expected_previous.w);
    rect now = gfx_clip();
    EXPECT_EQ(std::vector<int>({now.x, now.y, now.w, now.h}),
              std::vector<int>({c.stored.x, c.stored.y, c.stored.w, c.stored.h}));
    expected_previous = now;
  }
  // Setting a clip ends the open primitive first.
  gfx_begin_lines(0);
  glrecord_clear();
  gfx_set_clip(nullptr, nullptr);
  EXPECT_EQ(glrecord_calls(), (Calls{"End()", "Disable(GL_SCISSOR_TEST)"}));
}

TEST_F(Gfx, RoundedMaskSequence) {
  gfx_round_rect(10, 20, 30, 40, 3);
  Calls want = {"Enable(GL_STENCIL_TEST)", "ColorMask(GL_FALSE,GL_FALSE,GL_FALSE,GL_FALSE)", "StencilMask(1)",
                "StencilFunc(GL_ALWAYS,0,1)", "StencilOp(GL_KEEP,GL_ZERO,GL_REPLACE)", "Begin(GL_QUADS)",
                "Vertex2i(10,20)", "Vertex2i(10,60)", "Vertex2i(40,60)", "Vertex2i(40,20)", "End()",
                "StencilFunc(GL_ALWAYS,1,1)", "Begin(GL_LINES)",
                // column 0 (inset 2) left and right, then column 1 (inset 1)
                "Vertex2f(10.5,20)", "Vertex2f(10.5,22.5)", "Vertex2f(10.5,60.5)", "Vertex2f(10.5,58)",
                "Vertex2f(39.5,20)", "Vertex2f(39.5,22.5)", "Vertex2f(39.5,60.5)", "Vertex2f(39.5,58)",
                "Vertex2f(11.5,20)", "Vertex2f(11.5,21.5)", "Vertex2f(11.5,60.5)", "Vertex2f(11.5,59)",
                "Vertex2f(38.5,20)", "Vertex2f(38.5,21.5)", "Vertex2f(38.5,60.5)", "Vertex2f(38.5,59)", "End()",
                "ColorMask(GL_TRUE,GL_TRUE,GL_TRUE,GL_TRUE)", "StencilFunc(GL_NOTEQUAL,1,1)", "StencilMask(0)"};
  EXPECT_EQ(glrecord_calls(), want);
  glrecord_clear();
  gfx_stencil_off();
  EXPECT_EQ(glrecord_calls(), (Calls{"Disable(GL_STENCIL_TEST)"}));

  // Radius 6 has seven columns; an unsupported radius warns and masks as 3.
  glrecord_clear();
  gfx_round_rect(10, 20, 30, 40, 6);
  Calls six = glrecord_calls();
  EXPECT_EQ(std::count(six.begin(), six.end(), "Vertex2f(16.5,20)"), 1);  // column 6
  EXPECT_EQ(std::count(six.begin(), six.end(), "Vertex2f(10.5,27.5)"), 1);  // inset 7
  LogCapture log;
  glrecord_clear();
  rect r = {10, 20, 30, 40};
  gfx_round_rect_in(&r, 4);
  EXPECT_TRUE(log.has("radius 4 not supported"));
  EXPECT_EQ(glrecord_calls(), want);
}

TEST_F(Gfx, NudgeOnlyWithItsFlag) {
  gfx_translate();
  gfx_untranslate();
  EXPECT_TRUE(glrecord_calls().empty());
  gfx_flags_set(kGfxNudge);
  EXPECT_EQ(gfx_flags(), kGfxNudge);
  gfx_fill_rect(0, 0, 1, 1, 0);
  glrecord_clear();
  gfx_translate();
  gfx_untranslate();
  EXPECT_EQ(glrecord_calls(), (Calls{"End()", "Translatef(0.3,0.3,0)", "Translatef(-0.3,-0.3,0)"}));
  gfx_flags_clear(kGfxNudge);
  EXPECT_EQ(gfx_flags(), 0u);
}

TEST_F(Gfx, MaxTextureSizeIsAskedOnce) {
  int32_t first = gfx_max_texture_size();
  EXPECT_GT(first, 0);
  EXPECT_EQ(glrecord_calls(), (Calls{"GetIntegerv(GL_MAX_TEXTURE_SIZE)"}));
  glrecord_clear();
  EXPECT_EQ(gfx_max_texture_size(), first);
  EXPECT_TRUE(glrecord_calls().empty());
}

// --- Panels, over the built-in atlas ---

class Panel : public Gfx {
 protected:
  static void SetUpTestSuite() {
    tex_init();
    ASSERT_EQ(tex_load_builtin(), 0);
  }
  static void TearDownTestSuite() { tex_fini(); }
  void SetUp() override {
    Gfx::SetUp();
    tex_context_new(0);
    tex_select_context(0);
    panel_set_textures(39, 40, 41, 42);
    glrecord_clear();
  }
};

int count(const Calls &calls, const std::string &line) { return int(std::count(calls.begin(), calls.end(), line)); }
// The colour in force at the first vertex of each nine-part layer (36
// vertices a layer).
std::vector<std::string> layer_colours(const Calls &calls) {
  std::vector<std::string> out;
  std::string current;
  int vertices = 0;
  for (const std::string &c : calls) {
    if (c.rfind("Color4ub", 0) == 0) current = c;
    if (c.rfind("Vertex2i", 0) == 0 && vertices++ % 36 == 0) out.push_back(current);
  }
  return out;
}
int quads(const Calls &calls) {
  int n = 0;
  for (const std::string &c : calls) n += c.rfind("Vertex2i", 0) == 0;
  return n / 4;
}

TEST_F(Panel, ReliefPicksItsTextureAndAlpha) {
  rect r = {0, 0, 40, 20};
  struct Case {
    int relief;
    int textured_quads;
    const char *relief_colour;
  } cases[] = {
      {1, 27, "Color4ub(255,255,255,200)"},
      {0, 27, "Color4ub(0,0,0,40)"},
      {-1, 18, nullptr},
      {5, 18, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.relief);
    gfx_flush();
    glrecord_clear();
    panel_draw(&r, 0xFF804020u, 0xFFFFFFFFu, 0, c.relief);
    Calls calls = glrecord_calls();
    EXPECT_EQ(quads(calls), c.textured_quads);  // nine parts a layer: fill, relief, outline
    std::vector<std::string> want = {"Color4ub(32,64,128,255)"};
    if (c.relief_colour) want.push_back(c.relief_colour);
    want.push_back("Color4ub(255,255,255,255)");
    EXPECT_EQ(layer_colours(calls), want);
    EXPECT_EQ(count(calls, "Begin(GL_QUADS)"), 1);  // all layers in one primitive
  }
  // A background fills first; a missing texture skips its layer.
  panel_set_textures(39, -1, 41, -1);
  gfx_flush();
  glrecord_clear();
  panel_draw(&r, 0xFF804020u, 0xFFFFFFFFu, 0xFF000000u, 1);
  Calls calls = glrecord_calls();
  EXPECT_EQ(calls[0], "Disable(GL_TEXTURE_2D)");
  EXPECT_EQ(calls[1], "Color4ub(0,0,0,255)");
  EXPECT_EQ(quads(calls), 1 + 9);
}

TEST_F(Panel, BarKinds) {
  rect r = {10, 10, 50, 12};
  struct Case {
    int kind;
    std::string bar;  // the untextured bar quad's first and third vertices
  } cases[] = {
      {0, "Vertex2i(11,11) Vertex2i(19,21)"},
      {1, "Vertex2i(19,11) Vertex2i(51,21)"},
      {2, "Vertex2i(51,11) Vertex2i(59,21)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.kind);
    gfx_flush();
    glrecord_clear();
    panel_draw_bar(&r, 0xFF808080u, 0xFF0000FFu, 0, 0, -1, c.kind, 8);
    Calls calls = glrecord_calls();
    auto at = std::find(calls.begin(), calls.end(), "Disable(GL_TEXTURE_2D)");
    ASSERT_NE(at, calls.end());
    auto v = std::find_if(at, calls.end(), [](const std::string &s) { return s.rfind("Vertex2i", 0) == 0; });
    ASSERT_GE(calls.end() - v, 3);
    EXPECT_EQ(*v + " " + *(v + 2), c.bar);
    EXPECT_EQ(count(calls, "Color4ub(255,0,0,255)"), 2);
  }
  // Kind 3 draws the fill texture again in the bar colour; relief 1 uses alpha 180.
  gfx_flush();
  glrecord_clear();
  panel_draw_bar(&r, 0xFF808080u, 0xFF0000FFu, 0, 0, 1, 3, 8);
  Calls calls = glrecord_calls();
  EXPECT_EQ(quads(calls), 27);
  EXPECT_EQ(count(calls, "Color4ub(255,255,255,180)"), 1);
  EXPECT_EQ(count(calls, "Disable(GL_TEXTURE_2D)"), 0);
}

TEST_F(Panel, FramedImageSurroundBands) {
  // Image 39 and frame 3 are both nine-part: natural sizes 9x9 and 11x11.
  int32_t si[2], sf[2];
  tex_size(si, 39);
  tex_size(sf, 3);
  int dx = sf[0] - si[0], dy = sf[1] - si[1];
  ASSERT_EQ(dx, 2);
  ASSERT_EQ(dy, 2);
  rect r = {20, 30, 40, 20};
  gfx_image_with_frame(39, 0xFF202020u, 3, 0xFFFFFFFFu, 0xFF0000FFu, &r);
  Calls calls = glrecord_calls();
  // Outer rect (19, 29, 42, 22): four bands of one pixel.
  for (const char *v : {"Vertex2i(19,29)", "Vertex2i(19,50)", "Vertex2i(60,30)"}) EXPECT_GE(count(calls, v), 1) << v;
  EXPECT_EQ(count(calls, "Color4ub(255,0,0,255)"), 8);  // every fill issues its colour before and after glBegin
  EXPECT_EQ(quads(calls), 4 + 8 + 9);                  // bands, frame without centre, image
}

// --- On the screen ---

class GfxPixels : public AtlasPixelTest {
 protected:
  void SetUp() override {
    AtlasPixelTest::SetUp();
    panel_set_textures(39, 40, 41, 42);
  }
};

TEST_F(GfxPixels, FilledRectCoversExactlyItsPixels) {
  gfx_fill_rect(10, 20, 30, 40, 0xFF0000FFu);
  gfx_begin_lines(0xFF00FF00u);
  gfx_line(100, 100, 150, 100);
  gfx_triangle_right(200, 100, 5, 0xFFFFFFFFu);  // tip at x 205.5
  gfx_flush();
  EXPECT_TRUE(pixeltest_check({{200, 100, 0xFFFFFFFFu},
                               {204, 100, 0xFFFFFFFFu},
                               {207, 100, 0xFF000000u},
                               {203, 95, 0xFF000000u},
                               {10, 20, 0xFF0000FFu},
                               {39, 59, 0xFF0000FFu},
                               {40, 20, 0xFF000000u},
                               {10, 60, 0xFF000000u},
                               {9, 30, 0xFF000000u},
                               {125, 100, 0xFF00FF00u},
                               {125, 99, 0xFF000000u},
                               {125, 101, 0xFF000000u}}));
}

TEST_F(GfxPixels, ClippedFillStaysInsideTheClip) {
  rect clip = {50, 40, 20, 10}, saved;
  gfx_set_clip(&clip, &saved);
  gfx_fill_rect(0, 0, kWidth, kHeight, 0xFFFF0000u);
  gfx_set_clip(nullptr, nullptr);
  gfx_fill_rect(200, 200, 10, 10, 0xFF00FF00u);  // after the clip is gone
  gfx_flush();
  EXPECT_TRUE(pixeltest_check({{50, 40, 0xFFFF0000u},
                               {69, 49, 0xFFFF0000u},
                               {60, 39, 0xFF000000u},  // above: the y flip is right
                               {60, 50, 0xFF000000u},  // below
                               {49, 45, 0xFF000000u},
                               {70, 45, 0xFF000000u},
                               {205, 205, 0xFF00FF00u}}));
}

TEST_F(GfxPixels, RoundedMaskCutsAllFourCornersAlike) {
  const int x = 40, y = 30, w = 60, h = 30;
  gfx_round_rect(x, y, w, h, 3);
  gfx_fill_rect(x, y, w, h, 0xFFFFFFFFu);
  gfx_stencil_off();
  gfx_fill_rect(200, 30, 4, 4, 0xFFFFFFFFu);  // unmasked afterwards
  gfx_flush();
  const uint32_t k = 0xFF000000u, wh = 0xFFFFFFFFu;
  std::vector<pixeltest_sample> s;
  // Per corner: the corner pixel and its two neighbours along the edges are
  // cut; two pixels along the edge and the diagonal neighbour are kept.
  const int cx[2] = {x, x + w - 1}, cy[2] = {y, y + h - 1};
  for (int i = 0; i < 2; i++)
    for (int j = 0; j < 2; j++) {
      int sx = i ? -1 : 1, sy = j ? -1 : 1;
      s.push_back({cx[i], cy[j], k});
      s.push_back({cx[i] + sx, cy[j], k});
      s.push_back({cx[i], cy[j] + sy, k});
      s.push_back({cx[i] + 2 * sx, cy[j], wh});
      s.push_back({cx[i], cy[j] + 2 * sy, wh});
      s.push_back({cx[i] + sx, cy[j] + sy, wh});
    }
  s.push_back({x + w / 2, y + h / 2, wh});
  s.push_back({200, 30, wh});
  EXPECT_TRUE(pixeltest_check(s));
}

TEST_F(GfxPixels, NinePartPanelFillsAndOutlines) {
  rect r = {20, 20, 100, 40};
  panel_draw(&r, 0xFFFF0000u, 0, 0, -1);  // blue fill, flat
  rect o = {150, 20, 100, 40};
  panel_draw(&o, 0, 0xFFFFFFFFu, 0, -1);  // white outline only
  gfx_flush();
  EXPECT_TRUE(pixeltest_check({
      {70, 40, 0xFFFF0000u},    // centre (stretched middle part)
      {70, 20, 0xFFFF0000u},    // top edge, middle
      {20, 40, 0xFFFF0000u},    // left edge, middle
      {119, 59, 0xFF000000u},   // the rounded corner is cut away
      {20, 20, 0xFF000000u},
      {200, 20, 0xFFFFFFFFu},   // outline: top edge lit
      {150, 40, 0xFFFFFFFFu},   // left edge lit
      {249, 40, 0xFFFFFFFFu},   // right edge lit
      {200, 59, 0xFFFFFFFFu},   // bottom edge lit
      {200, 40, 0xFF000000u},   // inside stays background
      {200, 21, 0xFF000000u},
  }, 3));
  // The corner of the fill is partly covered: darker than the middle, not black.
  pixeltest_rgba c = pixeltest_pixel(21, 20);
  EXPECT_GT(c.b, 0);
  EXPECT_LT(c.b, 255);
}

TEST_F(GfxPixels, RaisedPanelIsLighterAtTheTop) {
  rect r = {20, 100, 100, 40};
  panel_draw(&r, 0xFF606060u, 0, 0, 1);
  gfx_flush();
  pixeltest_rgba top = pixeltest_pixel(70, 100), mid = pixeltest_pixel(70, 120);
  EXPECT_EQ(mid.r, 0x60);
  EXPECT_GT(top.r, mid.r + 40);
}

}  // namespace
