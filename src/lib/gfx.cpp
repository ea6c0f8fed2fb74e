// The lowest drawing layer: immediate-mode GL 1.x fills, gradients, lines,
// markers, the rounded-corner stencil mask, the scissor clip and the panels.
//
// The one design point: a shadow of the GL state we touch (the open
// primitive, the current colour, the bound texture, three capabilities) lets
// every operation issue only the calls that change something. Primitives are
// ended lazily by the next operation, so runs of lines, or of textured quads
// of one texture, share one glBegin/glEnd pair. The shadow is process-wide;
// gfx_reset re-establishes it at the start of every window's draw pass,
// since each window has its own context.
#include "lib/gfx.h"

#include "lib/glapi.h"
#include "lib/tex.h"
#include "log.h"
#include "ui/widget.h"

static const char kSrc[] = "src/lib/gfx";

constexpr uint32_t kNoPrimitive = 0xFFFFFFFFu;

static struct {
  int open;              // a glBegin is pending its glEnd
  uint32_t kind;         // primitive now open, kNoPrimitive for none
  colour cache;          // last colour issued; 0 = unknown
  uint32_t bound;        // texture name last bound; 0 = none
  uint32_t mask;         // kGfxBlend | kGfxTexture | kGfxScissor known enabled
  int32_t vw, vh;        // viewport of the window being drawn
  rect clip;             // current scissor clip; all 0 = none
  uint32_t flags;        // kGfxNudge
  int32_t max_texture;   // GL_MAX_TEXTURE_SIZE, -1 until asked
  int32_t panel[4];      // fill, highlight, shadow, outline images
} S = {0, kNoPrimitive, 0, 0, 1, 0, 0, {0, 0, 0, 0}, 0, -1, {-1, -1, -1, -1}};

// --- The shared steps ---

void gfx_end() {
  if (S.open) gl->End();
  S.open = 0;
  S.cache = 0;
  S.kind = kNoPrimitive;
}

void gfx_untexture() {
  if (S.bound != 0) {
    if (S.mask & kGfxTexture) {
      gl->Disable(GL_TEXTURE_2D);
      S.mask &= ~kGfxTexture;
    }
    S.bound = 0;
  }
}

void gfx_colour(colour c) {
  if (c != 0 && c != S.cache) {
    gl->Color4ub(GLubyte(c), GLubyte(c >> 8), GLubyte(c >> 16), GLubyte(c >> 24));
    S.cache = c;
  }
}

colour gfx_current_colour() { return S.cache; }

void gfx_begin(uint32_t kind) {
  if (S.kind == kind) return;
  if (S.open)
    gl->End();
  else
    S.open = 1;
  S.kind = kind;
  colour saved = S.cache;
  S.cache = 0;
  gl->Begin(kind);
  gfx_colour(saved);  // issued again after every glBegin
}

bool gfx_primitive_open() { return S.open != 0; }

void gfx_enable_texturing() {
  if (!(S.mask & kGfxTexture)) {
    gl->Enable(GL_TEXTURE_2D);
    S.mask |= kGfxTexture;
  }
}

void gfx_texturing(bool on) {
  if (on) {
    gl->Enable(GL_TEXTURE_2D);
    S.mask |= kGfxTexture;
  } else {
    gl->Disable(GL_TEXTURE_2D);
    S.mask &= ~kGfxTexture;
    S.bound = 0;
  }
}

void gfx_bind_texture(uint32_t name) {
  if (name == S.bound) return;
  gfx_end();
  gfx_enable_texturing();
  gl->BindTexture(GL_TEXTURE_2D, name);
  S.bound = name;
}

uint32_t gfx_bound_texture() { return S.bound; }

// --- Window set-up ---

void gfx_reset() {
  gfx_end();
  S.bound = 0;
  S.kind = kNoPrimitive;
  S.cache = 0;
  S.mask = kGfxBlend;
  S.clip = {0, 0, 0, 0};
  gl->BindTexture(GL_TEXTURE_2D, 0);
  gl->Enable(GL_BLEND);
  gl->Disable(GL_TEXTURE_2D);
  gl->Disable(GL_SCISSOR_TEST);
  gl->Disable(GL_STENCIL_TEST);
}

void gfx_flush() { gfx_end(); }

void gfx_set_viewport(int32_t w, int32_t h) {
  S.vw = w;
  S.vh = h;
}

void gfx_viewport(int32_t *w, int32_t *h) {
  *w = S.vw;
  *h = S.vh;
}

int32_t gfx_max_texture_size() {
  if (S.max_texture < 0) {
    gfx_end();
    GLint v = 0;
    gl->GetIntegerv(GL_MAX_TEXTURE_SIZE, &v);
    S.max_texture = v;
  }
  return S.max_texture;
}

uint32_t gfx_flags() { return S.flags; }
void gfx_flags_set(uint32_t bits) { S.flags |= bits; }
void gfx_flags_clear(uint32_t bits) { S.flags &= ~bits; }

void gfx_translate() {
  if (!(S.flags & kGfxNudge)) return;
  gfx_end();
  gl->Translatef(0.3f, 0.3f, 0);
}

void gfx_untranslate() {
  if (!(S.flags & kGfxNudge)) return;
  gfx_end();
  gl->Translatef(-0.3f, -0.3f, 0);
}

// --- Clipping ---

void gfx_set_clip(const rect *r, rect *previous) {
  if (previous) *previous = S.clip;
  gfx_end();
  if (r) {
    int32_t x = r->x > 0 ? r->x : 0;
    int32_t y = r->y > 0 ? r->y : 0;
    int32_t right = r->x + r->w < S.vw ? r->x + r->w : S.vw;
    int32_t bottom = r->y + r->h < S.vh ? r->y + r->h : S.vh;
    S.clip = {x, y, right - x, bottom - y};
    if (S.clip.w >= 1 && S.clip.h >= 1) {
      if (!(S.mask & kGfxScissor)) {
        gl->Enable(GL_SCISSOR_TEST);
        S.mask |= kGfxScissor;
      }
      gl->Scissor(x, S.vh - y - S.clip.h, S.clip.w, S.clip.h);  // GL's y runs upward
    }
    // An empty clip is recorded but leaves the GL scissor as it was.
    return;
  }
  S.clip = {0, 0, 0, 0};
  gl->Disable(GL_SCISSOR_TEST);
  S.mask &= ~kGfxScissor;
}

rect gfx_clip() { return S.clip; }

// --- Fills and lines ---

static void quad_i(int32_t x, int32_t y, int32_t w, int32_t h) {
  gl->Vertex2i(x, y);
  gl->Vertex2i(x, y + h);
  gl->Vertex2i(x + w, y + h);
  gl->Vertex2i(x + w, y);
}

void gfx_fill_rect(int32_t x, int32_t y, int32_t w, int32_t h, colour c) {
  gfx_end();
  gfx_untexture();
  gfx_colour(c);
  gfx_begin(GL_QUADS);
  gfx_colour(c);
  quad_i(x, y, w, h);
}

// A smooth-shaded quad from colour a to colour b: left to right, or with
// `down` top to bottom.
static void gradient(int32_t x, int32_t y, int32_t w, int32_t h, colour a, colour b, bool down) {
  gfx_end();
  gfx_untexture();
  gl->ShadeModel(GL_SMOOTH);
  gfx_begin(GL_QUADS);
  gfx_colour(a);
  gl->Vertex2i(x, y);
  gl->Vertex2i(down ? x + w : x, down ? y : y + h);
  gfx_colour(b);
  gl->Vertex2i(x + w, y + h);
  gl->Vertex2i(down ? x : x + w, down ? y + h : y);
  gfx_end();
  gl->ShadeModel(GL_FLAT);
}

void gfx_gradient_rect(int32_t x, int32_t y, int32_t w, int32_t h, colour a, colour b) {
  gradient(x, y, w, h, a, b, false);
}

void gfx_gradient_rect_h(int32_t x, int32_t y, int32_t w, int32_t h, colour a, colour b) {
  gradient(x, y, w, h, a, b, true);
}

void gfx_begin_lines(colour c) {
  gfx_end();
  gfx_untexture();
  gfx_colour(c);
  gfx_begin(GL_LINES);
}

void gfx_line(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  gl->Vertex2f(float(x1) + 0.5f, float(y1) + 0.5f);
  gl->Vertex2f(float(x2) + 0.5f, float(y2) + 0.5f);
}

void gfx_end_lines() {}

void gfx_line_strip_point(int32_t x, int32_t y, colour c) {
  gfx_end();
  gfx_untexture();
  gfx_begin(GL_LINE_STRIP);
  gfx_colour(c);
  gl->Vertex2f(float(x) + 0.5f, float(y) + 0.5f);
}

void gfx_vertex_centred(int32_t x, int32_t y) { gl->Vertex2f(float(x) + 0.5f, float(y) + 0.5f); }

// --- Marker triangles ---

static void triangle(colour c, float x1, float y1, float x2, float y2, float x3, float y3) {
  gfx_end();
  gfx_untexture();
  gfx_colour(c);
  gfx_begin(GL_TRIANGLES);
  gl->Vertex2f(x1, y1);
  gl->Vertex2f(x2, y2);
  gl->Vertex2f(x3, y3);
}

void gfx_triangle_right(int32_t x, int32_t y, int32_t s, colour c) {
  float fx = float(x), fy = float(y), fs = float(s);
  triangle(c, fx - 0.5f, fy - fs - 0.5f, fx + fs + 0.5f, fy, fx - 0.5f, fy + fs + 0.5f);
}

void gfx_triangle_left(int32_t x, int32_t y, int32_t s, colour c) {
  float fx = float(x), fy = float(y), fs = float(s);
  triangle(c, fx + 0.5f, fy - fs - 0.5f, fx - fs - 0.5f, fy, fx + 0.5f, fy + fs + 0.5f);
}

void gfx_triangle_up(int32_t x, int32_t y, int32_t s, colour c) {
  float fx = float(x), fy = float(y), fs = float(s);
  triangle(c, fx, fy - fs - 0.5f, fx + fs + 0.5f, fy + 0.5f, fx - fs - 0.5f, fy + 0.5f);
}

void gfx_triangle_down(int32_t x, int32_t y, int32_t s, colour c) {
  float fx = float(x), fy = float(y), fs = float(s);
  triangle(c, fx - fs - 0.5f, fy - 0.5f, fx + fs + 0.5f, fy - 0.5f, fx, fy + fs + 0.5f);
}

// --- Rounded-corner stencil mask ---

// Corner insets, one per pixel column from the edge, zero-terminated.
static const int32_t kRound3[] = {2, 1, 0};
static const int32_t kRound6[] = {7, 4, 3, 2, 1, 1, 1, 0};

void gfx_round_rect(int32_t x, int32_t y, int32_t w, int32_t h, int32_t radius) {
  const int32_t *insets = kRound3;
  if (radius == 6)
    insets = kRound6;
  else if (radius != 3)
    log(LOG_WARN, kSrc, "radius %d not supported", radius);
  gfx_end();
  gfx_untexture();
  gl->Enable(GL_STENCIL_TEST);
  gl->ColorMask(0, 0, 0, 0);
  gl->StencilMask(1);
  gl->StencilFunc(GL_ALWAYS, 0, 1);
  gl->StencilOp(GL_KEEP, GL_ZERO, GL_REPLACE);
  gfx_begin(GL_QUADS);  // the whole rect: 0
  quad_i(x, y, w, h);
  gfx_end();
  gl->StencilFunc(GL_ALWAYS, 1, 1);  // the cut-away corners: 1
  gfx_begin(GL_LINES);
  // Both columns are drawn through pixel centres, so the left and right
  // corners are cut alike.
  for (int32_t i = 0; insets[i] != 0; i++) {
    float t = float(insets[i]);
    float cols[2] = {float(x + i) + 0.5f, float(x + w - 1 - i) + 0.5f};
    for (float cx : cols) {
      gl->Vertex2f(cx, float(y));
      gl->Vertex2f(cx, float(y) + t + 0.5f);
      gl->Vertex2f(cx, float(y + h) + 0.5f);
      gl->Vertex2f(cx, float(y + h) - t);
    }
  }
  gfx_end();
  gl->ColorMask(1, 1, 1, 1);
  gl->StencilFunc(GL_NOTEQUAL, 1, 1);
  gl->StencilMask(0);
}

void gfx_round_rect_in(const rect *r, int32_t radius) { gfx_round_rect(r->x, r->y, r->w, r->h, radius); }

void gfx_stencil_off() {
  gfx_end();
  gl->Disable(GL_STENCIL_TEST);
}

// --- Framed images ---

void gfx_image_with_frame(int32_t image, colour c, int32_t frame, colour frame_colour, colour surround,
                          const rect *r) {
  int32_t si[2] = {0, 0}, sf[2] = {0, 0};
  tex_size(si, image);
  tex_size(sf, frame);
  int32_t dx = sf[0] - si[0], dy = sf[1] - si[1];
  int32_t hx = dx / 2, hy = dy / 2;
  rect outer = {r->x - hx, r->y - hy, r->w + (dx & ~1), r->h + (dy & ~1)};
  gfx_end();
  if (surround != 0) {
    gfx_fill_rect(outer.x, outer.y, outer.w, hy, surround);
    gfx_fill_rect(outer.x, outer.y + outer.h - hy, outer.w, hy, surround);
    gfx_fill_rect(outer.x, outer.y + hy, hx, outer.h - (dy & ~1), surround);
    gfx_fill_rect(outer.x + outer.w - hx, outer.y + hy, hx, outer.h - (dy & ~1), surround);
  }
  gfx_translate();
  if (frame_colour != 0) {
    gfx_colour(frame_colour);
    tex_draw_parts_rect(frame, &outer, 511 & ~16);
  }
  if (c != 0) {
    gfx_colour(c);
    tex_draw_rect(image, r);
  }
  gfx_untranslate();
}

// --- Panels ---

void panel_set_textures(int32_t fill, int32_t highlight, int32_t shadow, int32_t outline) {
  S.panel[0] = fill;
  S.panel[1] = highlight;
  S.panel[2] = shadow;
  S.panel[3] = outline;
}

static void panel_layer(int32_t image, colour c, const rect *r) {
  if (image < 0) return;
  gfx_colour(c);
  tex_draw_rect(image, r);
}

static void panel_relief(int32_t relief, colour highlight, const rect *r) {
  if (relief == 1)
    panel_layer(S.panel[1], highlight, r);
  else if (relief == 0)
    panel_layer(S.panel[2], 0x28000000u, r);
}

void panel_draw(const rect *r, colour fill, colour outline, colour background, int32_t relief) {
  if (background != 0) gfx_fill_rect(r->x, r->y, r->w, r->h, background);
  if (fill != 0) panel_layer(S.panel[0], fill, r);
  panel_relief(relief, 0xC8FFFFFFu, r);
  if (outline != 0) panel_layer(S.panel[3], outline, r);
}

void panel_draw_nudged(const rect *r, colour fill, colour outline, colour background) {
  gfx_translate();
  panel_draw(r, fill, outline, background, -1);
  gfx_untranslate();
}

void panel_draw_bar(const rect *r, colour fill, colour bar, colour outline, colour background,
                    int32_t relief, int32_t kind, int32_t width) {
  if (background != 0) gfx_fill_rect(r->x, r->y, r->w, r->h, background);
  if (fill != 0 && kind < 4) {
    panel_layer(S.panel[0], fill, r);
    switch (kind) {
      case 0: gfx_fill_rect(r->x + 1, r->y + 1, width, r->h - 2, bar); break;
      case 1: gfx_fill_rect(r->x + 1 + width, r->y + 1, r->w - 2 - 2 * width, r->h - 2, bar); break;
      case 2: gfx_fill_rect(r->x + r->w - 1 - width, r->y + 1, width, r->h - 2, bar); break;
      case 3: panel_layer(S.panel[0], bar, r); break;
      default: break;
    }
  }
  panel_relief(relief, 0xB4FFFFFFu, r);
  if (outline != 0) panel_layer(S.panel[3], outline, r);
}
