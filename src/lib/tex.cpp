// The texture atlas: loading the embedded zlib stream, parsing it into
// sub-textures, images and fonts, uploading it into each window's GL
// context, and drawing stretched images as textured quads.
//
// Design point: there is one atlas texture, shared by every image and glyph,
// so a whole label, table or panel is drawn as one GL_QUADS primitive -- the
// texture is rebound (and the primitive ended) only when it changes, which
// with one atlas means only when untextured drawing came in between. Each
// window owns a GL context, so the texture has one name per context and is
// uploaded lazily the first time a window draws.
#include "lib/tex.h"

#include <zlib.h>

#include <cstring>

#include "dalloc.h"
#include "lib/glapi.h"
#include "log.h"
#include "ui/widget.h"

static const char kSrc[] = "src/lib/tex";
static const char kGlSrc[] = "src/lib/gfx.h";

static struct {
  tex_subtex *subs;
  int32_t nsubs;
  tex_image *images;
  int32_t nimages;
  tex_font *fonts;
  int32_t nfonts;
  tex_texture *texture;
  int32_t width, height;  // of the parsed picture
  size_t consumed;
  int32_t ctx;                   // current context
  uint8_t pending[kTexContexts];  // upload needed before the next draw
} S;

int tex_init() {
  memset(S.pending, 0, sizeof S.pending);
  S.ctx = 0;
  return 0;
}

// --- Loading ---

int tex_load(const unsigned char *buffer, int32_t compressed_size, int32_t size) {
  log(LOG_INFO, kSrc, "loading %db textures from %db compressed buffer", size, compressed_size);
  if (size <= 0 || compressed_size <= 0) {
    log(LOG_ERROR, kSrc, "can't alloc %db to decompress texture", size);
    return -1;
  }
  auto *out = static_cast<unsigned char *>(dalloc_alloc(size));
  uLongf len = uLongf(size);
  int rc = uncompress(out, &len, buffer, uLong(compressed_size));
  if (rc != Z_OK) {
    log(LOG_ERROR, kSrc, "uncompress error %d", rc);
    dalloc_free(out);
    return -1;
  }
  rc = tex_parse(out, len);
  dalloc_free(out);
  return rc;
}

int tex_load_builtin() { return tex_load(tex_atlas_zlib, tex_atlas_zlib_size, tex_atlas_size); }

namespace {
// A bounds-checked big-endian reader over the uncompressed atlas.
struct Reader {
  const unsigned char *p;
  size_t n, at;
  bool ok = true;
  bool need(size_t k) {
    if (n - at < k) ok = false;
    return ok;
  }
  int32_t i16() {
    if (!need(2)) return 0;
    auto v = int16_t(uint16_t(p[at] << 8 | p[at + 1]));
    at += 2;
    return v;
  }
  uint32_t u16() { return uint32_t(uint16_t(i16())); }
  uint8_t u8() {
    if (!need(1)) return 0;
    return p[at++];
  }
};
}  // namespace

static int32_t pow2_at_least(int32_t v) {
  int32_t p = 1;
  while (p < v) p <<= 1;
  return p;
}

static void free_tables() {
  if (S.subs) dalloc_free(S.subs);
  if (S.images) dalloc_free(S.images);
  if (S.fonts) dalloc_free(S.fonts);
  if (S.texture) {
    if (S.texture->pixels) dalloc_free(S.texture->pixels);
    dalloc_free(S.texture);
  }
  S.subs = nullptr;
  S.images = nullptr;
  S.fonts = nullptr;
  S.texture = nullptr;
  S.nsubs = S.nimages = S.nfonts = 0;
}

// A zeroed table of n records (at least one, so an empty table is a valid
// pointer to free).
template <typename T>
static T *alloc_table(int32_t n) {
  size_t bytes = sizeof(T) * size_t(n > 0 ? n : 1);
  auto *t = static_cast<T *>(dalloc_alloc(int32_t(bytes)));
  memset(static_cast<void *>(t), 0, bytes);
  return t;
}

// Fails the parse: logs, frees the picture, -1.
static int parse_fail(unsigned char *picture) {
  if (picture) dalloc_free(picture);
  return -1;
}

int tex_parse(const unsigned char *buffer, size_t size) {
  log(LOG_INFO, kSrc, "loading textures from %db buffer", int(size));
  free_tables();
  Reader r{buffer, size, 0};

  // 1. The picture.
  int32_t w = r.i16(), h = r.i16();
  if (!r.ok || w <= 0 || h <= 0 || !r.need(size_t(w) * size_t(h) * 4)) {
    log(LOG_ERROR, kSrc, "can't alloc space for %dx%d picture", w, h);
    return -1;
  }
  auto *picture = static_cast<unsigned char *>(dalloc_alloc(w * h * 4));
  memcpy(picture, buffer + r.at, size_t(w) * size_t(h) * 4);
  r.at += size_t(w) * size_t(h) * 4;

  // 2. Sub-textures.
  int32_t ns = r.i16();
  if (!r.ok || ns < 0 || !r.need(size_t(ns) * 12)) {
    log(LOG_ERROR, kSrc, "can't alloc space for %d sub textures", ns);
    return parse_fail(picture);
  }
  S.subs = alloc_table<tex_subtex>(ns);
  S.nsubs = ns;
  for (int32_t i = 0; i < ns; i++) {
    tex_subtex &s = S.subs[i];
    s.bearing_x = r.i16();
    s.bearing_y = r.i16();
    s.atlas_x = r.i16();
    s.atlas_y = r.i16();
    s.width = r.i16();
    s.height = r.i16();
    if (s.atlas_x < 0 || s.atlas_y < 0 || s.width < 0 || s.height < 0 || s.atlas_x + s.width > w ||
        s.atlas_y + s.height > h) {
      log(LOG_ERROR, kSrc, "sub texture %d lies outside the %dx%d picture", i, w, h);
      return parse_fail(picture);
    }
  }

  // 3. Images. Part indices are checked: one past the table would point
  // outside it.
  int32_t ni = r.i16();
  if (!r.ok || ni < 0) {
    log(LOG_ERROR, kSrc, "can't alloc space for %d images", ni);
    return parse_fail(picture);
  }
  S.images = alloc_table<tex_image>(ni);
  S.nimages = ni;
  for (int32_t i = 0; i < ni; i++) {
    tex_image &im = S.images[i];
    im.kind = r.u8();
    im.parts = (im.kind == 1 || im.kind == 2) ? 3 : im.kind == 3 ? 9 : 1;
    for (uint32_t k = 0; k < im.parts; k++) {
      int32_t idx = int32_t(r.u16());
      if (!r.ok || idx >= ns) {
        log(LOG_ERROR, kSrc, "invalid subtex %d in image %d", idx, i);
        return parse_fail(picture);
      }
      im.part[k] = &S.subs[idx];
    }
  }

  // 4. Fonts.
  int32_t nf = r.i16();
  if (!r.ok || nf < 0) {
    log(LOG_ERROR, kSrc, "can't alloc space for %d fonts", nf);
    return parse_fail(picture);
  }
  S.fonts = alloc_table<tex_font>(nf);
  S.nfonts = nf;
  for (int32_t f = 0; f < nf; f++) {
    tex_font &font = S.fonts[f];
    font.size = r.u8();
    font.ascent = r.u8();
    font.descent = r.u8();
    font.fallback = r.u8();
    for (int c = 0; c < kTexFontSlots; c++) {
      uint32_t idx = r.u16();
      if (!r.ok) {
        log(LOG_ERROR, kSrc, "font %d ends early", f);
        return parse_fail(picture);
      }
      if (idx == 0xFFFF) continue;
      if (int32_t(idx) >= ns) {
        log(LOG_ERROR, kSrc, "invalid subtex %d in font %d char %d (%c)", int(idx), f, c,
            (c >= 32 && c < 127) ? c : '.');
        return parse_fail(picture);
      }
      font.glyph[c] = &S.subs[idx];
    }
    // 5. Case fallback.
    for (int c = 'a'; c <= 'z'; c++) {
      int u = c - 'a' + 'A';
      if (!font.glyph[c]) font.glyph[c] = font.glyph[u];
    }
    for (int c = 'A'; c <= 'Z'; c++) {
      int l = c - 'A' + 'a';
      if (!font.glyph[c]) font.glyph[c] = font.glyph[l];
    }
  }
  S.consumed = r.at;
  if (r.at != size) log(LOG_WARN, kSrc, "%d bytes after the last font", int(size - r.at));

  // 6. The texture record. Rows are copied one by one, so a picture whose
  // sides are not powers of two lands in the top-left of the padded one.
  S.texture = static_cast<tex_texture *>(dalloc_alloc(int32_t(sizeof(tex_texture))));
  for (int32_t &n : S.texture->names) n = -1;
  S.texture->pw = pow2_at_least(w);
  S.texture->ph = pow2_at_least(h);
  size_t pbytes = size_t(S.texture->pw) * size_t(S.texture->ph) * 4;
  S.texture->pixels = static_cast<uint8_t *>(dalloc_alloc(int32_t(pbytes)));
  memset(S.texture->pixels, 0, pbytes);
  for (int32_t y = 0; y < h; y++)
    memcpy(S.texture->pixels + size_t(y) * size_t(S.texture->pw) * 4, picture + size_t(y) * size_t(w) * 4,
           size_t(w) * 4);
  float pw = float(S.texture->pw), ph = float(S.texture->ph);
  for (int32_t i = 0; i < ns; i++) {
    tex_subtex &s = S.subs[i];
    s.texture = S.texture;
    s.top = float(s.atlas_y) / ph;
    s.left = float(s.atlas_x) / pw;
    s.bottom = float(s.atlas_y + s.height) / ph;
    s.right = float(s.atlas_x + s.width) / pw;
  }
  S.width = w;
  S.height = h;
  dalloc_free(picture);
  return 0;
}

void tex_fini() {
  free_tables();
  S.consumed = 0;
  S.width = S.height = 0;
}

tex_counts tex_stats() { return {S.width, S.height, S.nsubs, S.nimages, S.nfonts, S.consumed}; }

// --- Contexts ---

static bool ctx_ok(int32_t ctx) { return ctx >= 0 && ctx < kTexContexts; }

void tex_context_new(int32_t ctx) {
  if (!ctx_ok(ctx) || !S.texture) return;
  gfx_end();
  gfx_texturing(true);
  GLuint name = 0;
  gl->GenTextures(1, &name);
  S.texture->names[ctx] = int32_t(name);
  gfx_texturing(false);
  S.pending[ctx] = 1;
}

static void upload() {
  tex_texture *t = S.texture;
  gfx_end();
  gfx_texturing(true);
  gl->BindTexture(GL_TEXTURE_2D, GLuint(t->names[S.ctx]));
  gl->TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);  // glyphs take the current colour
  gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  gl->TexParameterf(GL_TEXTURE_2D, GL_TEXTURE_PRIORITY, 1.0f);
  gl->Hint(GL_TEXTURE_COMPRESSION_HINT, GL_NICEST);
  gl->TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, t->pw, t->ph, 0, GL_RGBA, GL_UNSIGNED_BYTE, t->pixels);
  GLenum last = GL_NO_ERROR, e;
  while ((e = gl->GetError()) != GL_NO_ERROR) {
    log(LOG_ERROR, kGlSrc, "glerror: %x", e);
    last = e;
  }
  if (last != GL_NO_ERROR) log(LOG_ERROR, kGlSrc, "glerror: %x in gl%s", last, "TexImage2D");
  gfx_texturing(false);
}

void tex_select_context(int32_t ctx) {
  if (!ctx_ok(ctx)) return;
  S.ctx = ctx;
  if (!S.pending[ctx] || !S.texture) return;
  if (S.texture->names[ctx] < 0) {
    // Without a name (tex_context_new not called) there is nothing to fill;
    // the upload waits until one is made.
    log(LOG_ERROR, kSrc, "no texture in context %d", ctx);
    return;
  }
  upload();
  S.pending[ctx] = 0;
}

void tex_context_forget(int32_t ctx) {
  if (!ctx_ok(ctx)) return;
  if (S.texture) {
    int32_t &name = S.texture->names[ctx];
    if (name == 0) {
      log(LOG_WARN, kSrc, "won't delete texture %d", name);
    } else if (name > 0) {
      GLuint n = GLuint(name);
      gl->DeleteTextures(1, &n);
    }
    name = -1;
  }
  for (uint8_t &p : S.pending) p = 1;
}

int32_t tex_current_context() { return S.ctx; }

uint32_t tex_current_name() {
  if (!S.texture || S.texture->names[S.ctx] < 0) return 0;
  return uint32_t(S.texture->names[S.ctx]);
}

// --- Lookups ---

tex_image *tex_image_get(int32_t image) {
  return (image >= 0 && image < S.nimages) ? &S.images[image] : nullptr;
}
tex_font *tex_font_get(int32_t font) { return (font >= 0 && font < S.nfonts) ? &S.fonts[font] : nullptr; }
tex_subtex *tex_subtex_get(int32_t index) {
  return (index >= 0 && index < S.nsubs) ? &S.subs[index] : nullptr;
}

// --- Images ---

void tex_size(int32_t *size, int32_t image) {
  size[0] = size[1] = 0;
  tex_image *im = tex_image_get(image);
  if (!im) return;
  tex_subtex **p = im->part;
  switch (im->kind) {
    case 3:
      size[0] = p[0]->width + p[2]->width;
      size[1] = p[0]->height + p[6]->height;
      break;
    case 2:
      size[0] = p[0]->width;
      size[1] = p[0]->height + p[2]->height;
      break;
    case 1:
      size[0] = p[0]->width + p[2]->width;
      size[1] = p[0]->height;
      break;
    default:
      size[0] = p[0]->width;
      size[1] = p[0]->height;
  }
}

void tex_part_sizes(int32_t *sizes, int32_t image) {
  tex_image *im = tex_image_get(image);
  if (!im) return;
  for (uint32_t k = 0; k < im->parts; k++) {
    sizes[2 * k] = im->part[k]->width;
    sizes[2 * k + 1] = im->part[k]->height;
  }
}

void tex_draw_part(const tex_subtex *sub, int32_t x, int32_t y, int32_t w, int32_t h) {
  int32_t name = sub->texture ? sub->texture->names[S.ctx] : -1;
  gfx_bind_texture(uint32_t(name < 0 ? 0 : name));
  gfx_begin(GL_QUADS);
  gl->TexCoord2f(sub->left, sub->bottom);
  gl->Vertex2i(x, y + h);
  gl->TexCoord2f(sub->right, sub->bottom);
  gl->Vertex2i(x + w, y + h);
  gl->TexCoord2f(sub->right, sub->top);
  gl->Vertex2i(x + w, y);
  gl->TexCoord2f(sub->left, sub->top);
  gl->Vertex2i(x, y);
}

// One cell of a stretched image; empty cells draw nothing.
static void cell(const tex_subtex *sub, int32_t x, int32_t y, int32_t w, int32_t h) {
  if (w > 0 && h > 0) tex_draw_part(sub, x, y, w, h);
}

// Draws the parts of `image` selected by `mask` into (x, y, w, h); a full
// mask is a plain stretched draw.
static void draw_masked(int32_t image, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t mask) {
  tex_image *im = tex_image_get(image);
  if (!im || w < 0 || h < 0) return;
  tex_subtex **p = im->part;
  switch (im->kind) {
    case 1: {  // side by side: left end, stretched centre, right end
      if (h == 0) h = p[0]->height;
      int32_t lw = p[0]->width, rw = p[2]->width;
      if (mask & (1 | 8 | 64)) cell(p[0], x, y, lw, h);
      if (mask & (2 | 16 | 128)) cell(p[1], x + lw, y, w - lw - rw, h);
      if (mask & (4 | 32 | 256)) cell(p[2], x + w - rw, y, rw, h);
      break;
    }
    case 2: {  // stacked: top, stretched middle, bottom
      if (w == 0) w = p[0]->width;
      int32_t th = p[0]->height, bh = p[2]->height;
      if (mask & (1 | 2 | 4)) cell(p[0], x, y, w, th);
      if (mask & (8 | 16 | 32)) cell(p[1], x, y + th, w, h - th - bh);
      if (mask & (64 | 128 | 256)) cell(p[2], x, y + h - bh, w, bh);
      break;
    }
    case 3: {  // nine parts
      int32_t lw = p[0]->width, rw = p[2]->width;
      int32_t th = p[0]->height, bh = p[6]->height;
      if (rw > w || th + bh > h) return;
      int32_t xs[3] = {x, x + lw, x + w - rw}, ws[3] = {lw, w - lw - rw, rw};
      int32_t ys[3] = {y, y + th, y + h - bh}, hs[3] = {th, h - th - bh, bh};
      for (int row = 0; row < 3; row++)
        for (int col = 0; col < 3; col++)
          if (mask & (1u << (row * 3 + col))) cell(p[row * 3 + col], xs[col], ys[row], ws[col], hs[row]);
      break;
    }
    default:
      if (mask != 0) cell(p[0], x, y, w ? w : p[0]->width, h ? h : p[0]->height);
  }
}

void tex_draw(int32_t image, int32_t x, int32_t y, int32_t w, int32_t h) {
  draw_masked(image, x, y, w, h, 511);
}

void tex_draw_white(int32_t image, int32_t x, int32_t y, int32_t w, int32_t h) {
  gfx_colour(0xFFFFFFFFu);
  tex_draw(image, x, y, w, h);
}

void tex_draw_rect(int32_t image, const rect *r) { tex_draw(image, r->x, r->y, r->w, r->h); }

void tex_draw_parts(int32_t image, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t mask) {
  if (w < 1 || h < 1) return;
  draw_masked(image, x, y, w, h, mask);
}

void tex_draw_parts_rect(int32_t image, const rect *r, uint32_t mask) {
  tex_draw_parts(image, r->x, r->y, r->w, r->h, mask);
}

void tex_draw_quads_at(uint32_t texture, int32_t n, const float *texcoords, const int32_t *vertices,
                       int32_t dx, int32_t dy) {
  if (n <= 0) return;
  gfx_bind_texture(texture);
  gfx_begin(GL_QUADS);
  for (int32_t i = 0; i + 1 < n; i += 2) {
    gl->TexCoord2f(texcoords[i], texcoords[i + 1]);
    gl->Vertex2i(vertices[i] + dx, vertices[i + 1] + dy);
  }
}

void tex_draw_quads(uint32_t texture, int32_t n, const float *texcoords, const int32_t *vertices) {
  tex_draw_quads_at(texture, n, texcoords, vertices, 0, 0);
}
