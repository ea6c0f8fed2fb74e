// The pixel-test harness itself: a window comes up under the private X
// server, what GL draws is read back at the right places (origin top left),
// and a mismatch is reported as a failure.
#include "pixeltest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "lib/glapi.h"
#include "lib/glrecord.h"

namespace {

class Harness : public PixelTest {};

TEST_F(Harness, ServerAndWindowExist) {
  const char *d = getenv("DISPLAY");
  ASSERT_NE(d, nullptr);
  if (!pixeltest_private_display().empty()) {
    EXPECT_EQ(pixeltest_private_display(), d);
  }
  EXPECT_TRUE(pixeltest_colour_at(0, 0, 0xff000000u));
  EXPECT_TRUE(pixeltest_colour_at(kWidth - 1, kHeight - 1, 0xff000000u));
}

TEST_F(Harness, XdotoolReachesTheWindow) {
  // Input from another process arrives as events the harness can wait for.
  unsigned long id = pixeltest_x11_window();
  ASSERT_NE(id, 0ul);
  std::string cmd = "xdotool mousemove --window " + std::to_string(id) + " 37 21";
  ASSERT_EQ(system(cmd.c_str()), 0);
  int mx = -1, my = -1;
  EXPECT_TRUE(pixeltest_wait_for([&] {
    pixeltest_pointer(&mx, &my);
    return mx == 37 && my == 21;
  }));
  EXPECT_FALSE(pixeltest_wait_for([] { return false; }, 30));
}

TEST_F(Harness, QuadsLandWhereTheProjectionPutsThem) {
  // A red quad at the top left and a half-transparent white one over a blue
  // band at the bottom right.
  gl->Color4ub(255, 0, 0, 255);
  gl->Begin(GL_QUADS);
  gl->Vertex2i(10, 20);
  gl->Vertex2i(10, 60);
  gl->Vertex2i(50, 60);
  gl->Vertex2i(50, 20);
  gl->Color4ub(0, 0, 255, 255);
  gl->Vertex2i(200, 150);
  gl->Vertex2i(200, 240);
  gl->Vertex2i(320, 240);
  gl->Vertex2i(320, 150);
  gl->Color4ub(255, 255, 255, 128);
  gl->Vertex2i(260, 150);
  gl->Vertex2i(260, 240);
  gl->Vertex2i(320, 240);
  gl->Vertex2i(320, 150);
  gl->End();
  EXPECT_TRUE(pixeltest_check({
      {10, 20, 0xff0000ffu},   // first pixel inside the red quad
      {49, 59, 0xff0000ffu},   // last pixel inside
      {50, 20, 0xff000000u},   // just right of it
      {10, 19, 0xff000000u},   // just above it
      {9, 40, 0xff000000u},    // just left of it
      {210, 200, 0xffff0000u}, // blue band
      {300, 200, 0xffff8080u}, // white at alpha 128 over blue
  }, 3));
  // The check fails, with the point named, when the colour is wrong.
  ::testing::AssertionResult r = pixeltest_colour_at(30, 40, 0xff00ff00u);
  EXPECT_FALSE(r);
  EXPECT_NE(std::string(r.message()).find("(30,40)"), std::string::npos) << r.message();
}

TEST_F(Harness, ForwardingRecorderDrawsAndLogs) {
  {
    glrecord_scope rec(true);
    gl->Color4ub(0, 255, 0, 255);
    gl->Begin(GL_QUADS);
    gl->Vertex2i(100, 100);
    gl->Vertex2i(100, 110);
    gl->Vertex2i(110, 110);
    gl->Vertex2i(110, 100);
    gl->End();
    EXPECT_EQ(glrecord_calls().size(), 7u);
  }
  EXPECT_TRUE(pixeltest_colour_at(105, 105, 0xff00ff00u));
  EXPECT_TRUE(pixeltest_colour_at(111, 105, 0xff000000u));
}

}  // namespace
