// The OpenGL dispatch table: every GL call of the program goes through `gl`.
// Two implementations fill it: `glapi_real` (the system's libGL, Mesa on
// Linux) and the recorder of the tests, which logs each call with its
// arguments so drawing code can be checked without a display. Only GL 1.x
// immediate-mode entry points are listed; add one here (and to both
// implementations) before drawing code uses it.
#pragma once

#include <GL/gl.h>

struct gl_api {
  // Primitives and vertices.
  void (*Begin)(GLenum mode);
  void (*End)();
  void (*Vertex2i)(GLint x, GLint y);
  void (*Vertex2f)(GLfloat x, GLfloat y);
  void (*Vertex2d)(GLdouble x, GLdouble y);
  void (*TexCoord2f)(GLfloat s, GLfloat t);
  void (*TexCoord2i)(GLint s, GLint t);
  void (*Color4ub)(GLubyte r, GLubyte g, GLubyte b, GLubyte a);
  void (*Color4f)(GLfloat r, GLfloat g, GLfloat b, GLfloat a);
  void (*Rectf)(GLfloat x1, GLfloat y1, GLfloat x2, GLfloat y2);
  void (*LineWidth)(GLfloat width);
  void (*PointSize)(GLfloat size);
  void (*LineStipple)(GLint factor, GLushort pattern);
  void (*ShadeModel)(GLenum mode);
  void (*Hint)(GLenum target, GLenum mode);

  // State.
  void (*Enable)(GLenum cap);
  void (*Disable)(GLenum cap);
  void (*BlendFunc)(GLenum sfactor, GLenum dfactor);
  void (*AlphaFunc)(GLenum func, GLclampf ref);
  void (*Scissor)(GLint x, GLint y, GLsizei w, GLsizei h);
  void (*Viewport)(GLint x, GLint y, GLsizei w, GLsizei h);
  void (*ColorMask)(GLboolean r, GLboolean g, GLboolean b, GLboolean a);
  void (*StencilFunc)(GLenum func, GLint ref, GLuint mask);
  void (*StencilOp)(GLenum fail, GLenum zfail, GLenum zpass);
  void (*StencilMask)(GLuint mask);
  void (*ClearStencil)(GLint s);
  void (*ClearColor)(GLclampf r, GLclampf g, GLclampf b, GLclampf a);
  void (*Clear)(GLbitfield mask);
  void (*GetIntegerv)(GLenum pname, GLint *params);
  const GLubyte *(*GetString)(GLenum name);
  GLenum (*GetError)();

  // Matrices.
  void (*MatrixMode)(GLenum mode);
  void (*LoadIdentity)();
  void (*Ortho)(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f);
  void (*Translatef)(GLfloat x, GLfloat y, GLfloat z);
  void (*Scalef)(GLfloat x, GLfloat y, GLfloat z);
  void (*PushMatrix)();
  void (*PopMatrix)();

  // Textures and pixels.
  void (*GenTextures)(GLsizei n, GLuint *textures);
  void (*DeleteTextures)(GLsizei n, const GLuint *textures);
  void (*BindTexture)(GLenum target, GLuint texture);
  void (*TexImage2D)(GLenum target, GLint level, GLint internalformat, GLsizei w, GLsizei h,
                     GLint border, GLenum format, GLenum type, const GLvoid *pixels);
  void (*TexSubImage2D)(GLenum target, GLint level, GLint x, GLint y, GLsizei w, GLsizei h,
                        GLenum format, GLenum type, const GLvoid *pixels);
  void (*TexParameteri)(GLenum target, GLenum pname, GLint param);
  void (*TexParameterf)(GLenum target, GLenum pname, GLfloat param);
  void (*TexEnvi)(GLenum target, GLenum pname, GLint param);
  void (*PixelStorei)(GLenum pname, GLint param);
  void (*ReadBuffer)(GLenum mode);
  void (*DrawBuffer)(GLenum mode);
  void (*ReadPixels)(GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum type,
                     GLvoid *pixels);
  void (*CopyTexSubImage2D)(GLenum target, GLint level, GLint xoff, GLint yoff, GLint x,
                            GLint y, GLsizei w, GLsizei h);
  void (*Flush)();
  void (*Finish)();

  // Fixed state of the window draw's reset.
  void (*DepthMask)(GLboolean flag);
  void (*PixelTransferi)(GLenum pname, GLint param);
  void (*PixelTransferf)(GLenum pname, GLfloat param);

  // Pixel rectangles written at a window position (tests put a frame back
  // into a buffer with them).
  void (*WindowPos2i)(GLint x, GLint y);
  void (*DrawPixels)(GLsizei w, GLsizei h, GLenum format, GLenum type, const GLvoid *pixels);
  // Picture tiles (lib/splash).
  void (*TexParameterfv)(GLenum target, GLenum pname, const GLfloat *params);
  void (*PrioritizeTextures)(GLsizei n, const GLuint *textures, const GLclampf *priorities);
};

// The table in use; points at glapi_real unless a test installs another.
// Read and switched on the main thread only.
extern const gl_api *gl;

// The system's GL entry points.
extern const gl_api glapi_real;

// Installs `api` (nullptr: glapi_real) and returns the previous table.
const gl_api *glapi_install(const gl_api *api);
