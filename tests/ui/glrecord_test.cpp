// The GL call recorder: each entry point writes the documented line, the
// table is complete, and start/stop put back the table that was in use.
#include "lib/glrecord.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(GlRecord, EverySlotIsFilled) {
  // The table is a struct of function pointers; a slot added to gl_api and
  // missed in the recorder would be null.
  using slot = void (*)();
  static_assert(sizeof(gl_api) % sizeof(slot) == 0);
  const slot *s = reinterpret_cast<const slot *>(&glapi_record);
  for (size_t k = 0; k < sizeof(gl_api) / sizeof(slot); k++) EXPECT_NE(s[k], nullptr) << "slot " << k;
}

struct call_case {
  std::function<void()> call;
  const char *line;
};

TEST(GlRecord, CallsAreWrittenAsLines) {
  GLuint tex[2] = {7, 9};
  unsigned char px[4];
  const call_case cases[] = {
      {[] { gl->Begin(GL_QUADS); }, "Begin(GL_QUADS)"},
      {[] { gl->Begin(GL_POINTS); }, "Begin(GL_POINTS)"},
      {[] { gl->Begin(GL_LINE_STRIP); }, "Begin(GL_LINE_STRIP)"},
      {[] { gl->End(); }, "End()"},
      {[] { gl->Color4ub(255, 0, 0, 255); }, "Color4ub(255,0,0,255)"},
      {[] { gl->Vertex2i(10, 20); }, "Vertex2i(10,20)"},
      {[] { gl->Vertex2i(-3, 0); }, "Vertex2i(-3,0)"},
      {[] { gl->Vertex2f(10.5f, 0.25f); }, "Vertex2f(10.5,0.25)"},
      {[] { gl->TexCoord2f(1, 0.5f); }, "TexCoord2f(1,0.5)"},
      {[] { gl->Enable(GL_BLEND); }, "Enable(GL_BLEND)"},
      {[] { gl->Disable(GL_SCISSOR_TEST); }, "Disable(GL_SCISSOR_TEST)"},
      {[] { gl->BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA); },
       "BlendFunc(GL_SRC_ALPHA,GL_ONE_MINUS_SRC_ALPHA)"},
      {[] { gl->BlendFunc(GL_ONE, GL_ZERO); }, "BlendFunc(GL_ONE,GL_ZERO)"},
      {[] { gl->StencilOp(GL_KEEP, GL_ZERO, GL_REPLACE); }, "StencilOp(GL_KEEP,GL_ZERO,GL_REPLACE)"},
      {[] { gl->StencilFunc(GL_NOTEQUAL, 1, 1); }, "StencilFunc(GL_NOTEQUAL,1,1)"},
      {[] { gl->ColorMask(0, 0, 1, 1); }, "ColorMask(GL_FALSE,GL_FALSE,GL_TRUE,GL_TRUE)"},
      {[] { gl->Scissor(5, 6, 70, 80); }, "Scissor(5,6,70,80)"},
      {[] { gl->Clear(GL_COLOR_BUFFER_BIT | GL_STENCIL_BUFFER_BIT); },
       "Clear(GL_COLOR_BUFFER_BIT|GL_STENCIL_BUFFER_BIT)"},
      {[] { gl->ClearColor(0, 0.5f, 1, 1); }, "ClearColor(0,0.5,1,1)"},
      {[] { gl->MatrixMode(GL_PROJECTION); }, "MatrixMode(GL_PROJECTION)"},
      {[] { gl->Ortho(0, 640, 480, 0, 0, 1); }, "Ortho(0,640,480,0,0,1)"},
      {[] { gl->Translatef(0.3f, 0.3f, 0); }, "Translatef(0.3,0.3,0)"},
      {[] { gl->ShadeModel(GL_SMOOTH); }, "ShadeModel(GL_SMOOTH)"},
      {[] { gl->Hint(GL_LINE_SMOOTH_HINT, GL_NICEST); }, "Hint(GL_LINE_SMOOTH_HINT,GL_NICEST)"},
      {[] { gl->LineStipple(1, 0xF0F0); }, "LineStipple(1,0xF0F0)"},
      {[] { gl->BindTexture(GL_TEXTURE_2D, 3); }, "BindTexture(GL_TEXTURE_2D,3)"},
      {[] { gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR); },
       "TexParameteri(GL_TEXTURE_2D,GL_TEXTURE_MIN_FILTER,GL_LINEAR)"},
      {[] { gl->TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE); },
       "TexEnvi(GL_TEXTURE_ENV,GL_TEXTURE_ENV_MODE,GL_MODULATE)"},
      {[] { gl->PixelStorei(GL_UNPACK_ALIGNMENT, 1); }, "PixelStorei(GL_UNPACK_ALIGNMENT,1)"},
      {[] { gl->TexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, 64, 32, 0, GL_ALPHA, GL_UNSIGNED_BYTE, nullptr); },
       "TexImage2D(GL_TEXTURE_2D,0,GL_ALPHA,64,32,0,GL_ALPHA,GL_UNSIGNED_BYTE,null)"},
      {[&] { gl->DeleteTextures(2, tex); }, "DeleteTextures(2,7 9)"},
      {[&] { gl->ReadPixels(1, 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px); },
       "ReadPixels(1,2,1,1,GL_RGBA,GL_UNSIGNED_BYTE,ptr)"},
      {[] { gl->ReadBuffer(GL_BACK); }, "ReadBuffer(GL_BACK)"},
      {[] { gl->Enable(0x9999); }, "Enable(0x9999)"},
      {[] { gl->Flush(); }, "Flush()"},
  };
  glrecord_scope rec;
  for (const call_case &c : cases) {
    glrecord_clear();
    c.call();
    ASSERT_EQ(glrecord_calls().size(), 1u) << c.line;
    EXPECT_EQ(glrecord_calls()[0], c.line);
  }
}

TEST(GlRecord, QueriesAnswerWithoutAContext) {
  glrecord_scope rec;
  GLint max = 0, vp[4] = {9, 9, 9, 9};
  gl->GetIntegerv(GL_MAX_TEXTURE_SIZE, &max);
  gl->GetIntegerv(GL_VIEWPORT, vp);
  GLuint t[3];
  gl->GenTextures(3, t);
  EXPECT_EQ(max, 4096);
  EXPECT_EQ(vp[0] | vp[1] | vp[2] | vp[3], 0);
  EXPECT_EQ(t[0], 1u);
  EXPECT_EQ(t[2], 3u);
  EXPECT_EQ(gl->GetError(), GLenum(GL_NO_ERROR));
  EXPECT_EQ(glrecord_text(),
            "GetIntegerv(GL_MAX_TEXTURE_SIZE)\nGetIntegerv(GL_VIEWPORT)\nGenTextures(3)\nGetError()\n");
}

TEST(GlRecord, StartAndStopSwapTheTable) {
  ASSERT_EQ(gl, &glapi_real);
  glrecord_start();
  EXPECT_EQ(gl, &glapi_record);
  EXPECT_TRUE(glrecord_active());
  gl->Begin(GL_LINES);
  glrecord_start();  // a second start only clears
  EXPECT_TRUE(glrecord_calls().empty());
  gl->End();
  glrecord_stop();
  EXPECT_EQ(gl, &glapi_real);
  EXPECT_FALSE(glrecord_active());
  EXPECT_EQ(glrecord_text(), "End()\n");  // kept after stop
  glrecord_stop();                         // harmless
  EXPECT_EQ(gl, &glapi_real);
}

// Forwarding passes each call on to the table that was installed, with the
// same arguments; a second recorder-like table stands in for a context.
std::vector<std::string> g_seen;
void seen_color(GLubyte r, GLubyte g, GLubyte b, GLubyte a) {
  g_seen.push_back(std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b) + "," +
                   std::to_string(a));
}
GLenum seen_error() { return GL_INVALID_ENUM; }

TEST(GlRecord, ForwardPassesCallsOn) {
  gl_api under = glapi_real;
  under.Color4ub = seen_color;
  under.GetError = seen_error;
  const gl_api *old = glapi_install(&under);
  {
    glrecord_scope rec(true);
    gl->Color4ub(1, 2, 3, 4);
    EXPECT_EQ(gl->GetError(), GLenum(GL_INVALID_ENUM));
    EXPECT_EQ(glrecord_text(), "Color4ub(1,2,3,4)\nGetError()\n");
  }
  EXPECT_EQ(gl, &under);
  glapi_install(old);
  EXPECT_EQ(g_seen, std::vector<std::string>{"1,2,3,4"});
}


// The calls GL refuses where they are made are kept apart: state changes
// inside Begin/End, a stray End, a nested Begin and vertices outside any
// primitive; proper drawing leaves the list empty.
TEST(GlRecord, RefusedCallsAreKept) {
  glrecord_scope rec;
  gl->Begin(GL_QUADS);
  gl->Color4ub(1, 2, 3, 4);
  gl->TexCoord2f(0, 0);
  gl->Vertex2i(0, 0);
  gl->End();
  gl->Enable(GL_BLEND);
  EXPECT_TRUE(glrecord_misuse().empty());
  gl->Begin(GL_QUADS);
  gl->Disable(GL_BLEND);
  gl->Begin(GL_LINES);
  gl->End();
  gl->End();
  gl->Vertex2i(5, 6);
  const std::vector<std::string> want = {"inside Begin/End: Disable(GL_BLEND)", "inside Begin/End: Begin(GL_LINES)",
                                         "End without Begin: End()", "vertex outside Begin/End: Vertex2i(5,6)"};
  EXPECT_EQ(glrecord_misuse(), want);
  glrecord_clear();
  EXPECT_EQ(glrecord_misuse().size(), want.size()) << "clearing the calls keeps them";
  glrecord_clear_misuse();
  EXPECT_TRUE(glrecord_misuse().empty());
}

}  // namespace
