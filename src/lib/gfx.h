// Immediate-mode drawing primitives over the GL dispatch table, with a
// shadow of the GL state they touch (the open primitive, the current colour)
// so that consecutive operations issue as few calls as possible.
// Minimal version: only the operations the containers use so far; the
// drawing library replaces this module and extends this header.
// Colours are u32 with red in the low byte; 0 means keep the current colour.
#pragma once

#include <cstdint>

// Ends any open primitive, forgets the cached state and sets the fixed
// state the primitives expect (blending on; texturing, scissor and stencil
// off).
void gfx_reset();
// Ends the open primitive.
void gfx_flush();
// A filled rectangle; leaves its GL_QUADS primitive open for the next quad.
void gfx_fill_rect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour);
