// The real GL dispatch table: the system library's entry points, taken by
// address so that the table and the recorder of the tests have one shape.
#define GL_GLEXT_PROTOTYPES 1  // glWindowPos2i (GL 1.4)
#include "lib/glapi.h"

const gl_api glapi_real = {
    glBegin, glEnd, glVertex2i, glVertex2f, glVertex2d, glTexCoord2f, glTexCoord2i,
    glColor4ub, glColor4f, glRectf, glLineWidth, glPointSize, glLineStipple, glShadeModel,
    glHint,
    glEnable, glDisable, glBlendFunc, glAlphaFunc, glScissor, glViewport, glColorMask,
    glStencilFunc, glStencilOp, glStencilMask, glClearStencil, glClearColor, glClear,
    glGetIntegerv, glGetString, glGetError,
    glMatrixMode, glLoadIdentity, glOrtho, glTranslatef, glScalef, glPushMatrix, glPopMatrix,
    glGenTextures, glDeleteTextures, glBindTexture, glTexImage2D, glTexSubImage2D,
    glTexParameteri, glTexParameterf, glTexEnvi, glPixelStorei, glReadBuffer, glDrawBuffer,
    glReadPixels, glCopyTexSubImage2D, glFlush, glFinish,
    glDepthMask, glPixelTransferi, glPixelTransferf,
    glWindowPos2i, glDrawPixels,
    glTexParameterfv, glPrioritizeTextures,
};

const gl_api *gl = &glapi_real;

const gl_api *glapi_install(const gl_api *api) {
  const gl_api *old = gl;
  gl = api ? api : &glapi_real;
  return old;
}
