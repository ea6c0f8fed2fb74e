// Minimal version of the drawing primitives: the shared steps (end, colour,
// begin) with their state shadow, and the filled rectangle. A primitive is
// ended lazily by the next operation or by gfx_flush, and a colour is issued
// only when it changes, again after every glBegin.
#include "lib/gfx.h"

#include "lib/glapi.h"

namespace {

struct gfx_state {
  int open = 0;
  GLenum kind = GLenum(-1);  // the open primitive, -1 for none
  uint32_t colour = 0;       // last colour issued; 0 unknown
};
gfx_state D;

void end() {
  if (D.open) gl->End();
  D.open = 0;
  D.colour = 0;
  D.kind = GLenum(-1);
}

void colour(uint32_t c) {
  if (c != 0 && c != D.colour) {
    gl->Color4ub(GLubyte(c), GLubyte(c >> 8), GLubyte(c >> 16), GLubyte(c >> 24));
    D.colour = c;
  }
}

void begin(GLenum k) {
  if (D.kind == k) return;
  if (D.open)
    gl->End();
  else
    D.open = 1;
  D.kind = k;
  uint32_t saved = D.colour;
  D.colour = 0;
  gl->Begin(k);
  colour(saved);
}

}  // namespace

// Minimal version: no texture or clip state to forget yet.
void gfx_reset() {
  end();
  gl->BindTexture(GL_TEXTURE_2D, 0);
  gl->Enable(GL_BLEND);
  gl->Disable(GL_TEXTURE_2D);
  gl->Disable(GL_SCISSOR_TEST);
  gl->Disable(GL_STENCIL_TEST);
}

void gfx_flush() { end(); }

void gfx_fill_rect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t c) {
  end();
  colour(c);
  begin(GL_QUADS);
  colour(c);
  gl->Vertex2i(x, y);
  gl->Vertex2i(x, y + h);
  gl->Vertex2i(x + w, y + h);
  gl->Vertex2i(x + w, y);
}
