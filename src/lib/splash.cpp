// Pictures and splash. A picture is first padded with a 4-pixel white
// margin and cut into tiles of 256, 512 or 1024 pixels that overlap by 8,
// so that linear filtering of a scaled picture sees true neighbours at every
// seam; the tiles' texels are prepared once into one buffer and uploaded in
// the first window that draws the splash (each window has its own GL
// context, so a closed window's textures are forgotten, not deleted).
// Also here: the reader of the splash file and the PNG loader (libpng's
// simplified interface) that turn files into pictures.
#include "lib/splash.h"

#include <png.h>

#include <algorithm>
#include <cstring>

#include "dalloc.h"
#include "lib/glapi.h"
#include "log.h"
#include "pool.h"
#include "ui/gui.h"

static const char kSrc[] = "src/lib/splash";

#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#endif
#ifndef GL_TEXTURE_COMPRESSION_HINT
#define GL_TEXTURE_COMPRESSION_HINT 0x84EF
#endif

static struct {
  pool splashes;
  splash *first;
  int count;
  bool ready;
} P;

static void delete_textures(splash *s) {
  for (int i = 0; i < s->count; i++) {
    splash_tile &t = s->tiles[i];
    if (t.name >= 0) {
      GLuint name = (GLuint)t.name;
      if (gfx_bound_texture() == name) gfx_untexture();
      gl->DeleteTextures(1, &name);
      t.name = -1;
    }
  }
  s->uploaded = 0;
}

int splash_init() {
  if (P.ready) splash_fini();
  memset(&P, 0, sizeof P);
  if (pool_init(&P.splashes, 32, sizeof(splash)) != 0) return -1;
  P.ready = true;
  return 0;
}

void splash_fini() {
  while (P.first) splash_delete(P.first);
  pool_destroy(&P.splashes);
  P.ready = false;
}

splash *splash_new() {
  auto *s = P.ready ? static_cast<splash *>(pool_alloc(&P.splashes)) : nullptr;
  if (!s) {
    log(LOG_ERROR, kSrc, "can't alloc splash");
    return nullptr;
  }
  memset(s, 0, sizeof *s);
  s->window = -1;
  s->next = P.first;
  if (P.first) P.first->prev = s;
  P.first = s;
  P.count++;
  return s;
}

void splash_delete(splash *s) {
  if (!s) return;
  gfx_end();
  gfx_untexture();
  delete_textures(s);
  if (s->owns) dalloc_free(s->prep);
  if (s->prev) s->prev->next = s->next; else P.first = s->next;
  if (s->next) s->next->prev = s->prev;
  P.count--;
  pool_free(&P.splashes, s);
}

int splash_count() { return P.count; }

int splash_split(int32_t *sizes, int32_t length) {
  int32_t max = gfx_max_texture_size();
  if (max < 256) max = 256;
  static const int32_t kAllowed[] = {1024, 512, 256};
  int n = 0;
  for (int32_t left = length; left > 0;) {
    int32_t pick = 256;
    for (int32_t a : kAllowed)
      if (a <= max && a <= left) {
        pick = a;
        break;
      }
    if (n == kSplashMaxTiles) return -1;
    sizes[n++] = pick;
    left -= pick - kSplashOverlap;
  }
  int32_t cap = std::min<int32_t>(max, 1024);
  while (n >= 2 && sizes[n - 1] == sizes[n - 2] && sizes[n - 1] <= cap / 2) {
    sizes[n - 2] *= 2;
    n--;
  }
  return n;
}

int splash_prepare(splash *s, const uint8_t *pixels, int32_t w, int32_t h, uint32_t flags) {
  s->count = s->cols = s->rows = 0;
  int32_t W = w + 2 * kSplashMargin, H = h + 2 * kSplashMargin;
  if (w < 1 || h < 1 || W > kSplashMaxPadded || H > kSplashMaxPadded) {
    log(LOG_ERROR, kSrc, "can't do %dx%d prep", w, h);
    return -1;
  }
  int32_t xs[kSplashMaxTiles], ys[kSplashMaxTiles];
  int nx = splash_split(xs, W), ny = splash_split(ys, H);
  if (nx < 0 || ny < 0) {
    log(LOG_ERROR, kSrc, "can't split %dx%d prep", w, h);
    return -1;
  }
  if (nx * ny > kSplashMaxTiles) {
    log(LOG_ERROR, kSrc, "too many textures in split");
    return -1;
  }
  size_t total = 0;
  int32_t y0 = 0;
  for (int r = 0; r < ny; r++) {
    int32_t x0 = 0;
    for (int c = 0; c < nx; c++) {
      splash_tile &t = s->tiles[r * nx + c];
      t = {-1, -1, x0, y0, std::min(xs[c], W - x0), std::min(ys[r], H - y0), xs[c], ys[r],
           0, 0, total};
      t.fu = (double)t.pw / t.tw;
      t.fv = (double)t.ph / t.th;
      total += (size_t)t.tw * t.th * 4;
      x0 += xs[c] - kSplashOverlap;
    }
    y0 += ys[r] - kSplashOverlap;
  }
  if (total > s->prep_size || !s->owns) {
    uint8_t *buf = static_cast<uint8_t *>(dalloc_alloc((int32_t)total));
    if (!buf) {
      log(LOG_ERROR, kSrc, "can't alloc %db for prep pixels", (int)total);
      return -1;
    }
    if (s->owns) dalloc_free(s->prep);
    s->prep = buf;
    s->prep_size = total;
    s->owns = 1;
  }
  for (int i = 0; i < nx * ny; i++) {
    const splash_tile &t = s->tiles[i];
    uint8_t *dst = s->prep + t.offset;
    memset(dst, 255, (size_t)t.tw * t.th * 4);
    for (int32_t ty = 0; ty < t.ph; ty++) {
      int32_t py = t.y + ty - kSplashMargin;
      if (py < 0 || py >= h) continue;
      int32_t row = (flags & SPLASH_BOTTOM_UP) ? h - 1 - py : py;
      int32_t from = std::max(0, kSplashMargin - t.x);       // first texel inside the picture
      int32_t to = std::min(t.pw, w + kSplashMargin - t.x);  // one past the last
      if (to <= from) continue;
      memcpy(dst + ((size_t)ty * t.tw + from) * 4,
             pixels + ((size_t)row * w + (t.x + from - kSplashMargin)) * 4, (size_t)(to - from) * 4);
    }
  }
  s->cols = nx;
  s->rows = ny;
  s->count = nx * ny;
  s->w = w;
  s->h = h;
  s->pixels = pixels;
  s->flags = flags;
  return 0;
}

int splash_set_picture(splash *s, const uint8_t *pixels, int32_t w, int32_t h, uint32_t flags) {
  delete_textures(s);
  s->window = gui_current_window();
  s->uploaded = 0;
  if (splash_prepare(s, pixels, w, h, flags) != 0) {
    s->count = 0;
    s->w = s->h = 0;
    return -1;
  }
  return 0;
}

int splash_upload(splash *s) {
  static const GLfloat kWhite[4] = {1, 1, 1, 1};
  const GLclampf priority = 1.0f;
  gfx_end();
  for (int i = 0; i < s->count; i++) {
    splash_tile &t = s->tiles[i];
    if (t.name >= 0) continue;
    GLuint name = 0;
    gl->GenTextures(1, &name);
    if (!name) {
      log(LOG_ERROR, kSrc, "can't generate texture");
      return -1;
    }
    t.name = (int32_t)name;
    gfx_bind_texture(name);
    gl->TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    gl->TexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, kWhite);
    gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    gl->PrioritizeTextures(1, &name, &priority);
    gl->Hint(GL_TEXTURE_COMPRESSION_HINT, GL_FASTEST);
    gl->PixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl->TexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, t.tw, t.th, 0,
                   (s->flags & SPLASH_BGRA) ? GL_BGRA : GL_RGBA, GL_UNSIGNED_BYTE,
                   s->prep + t.offset);
    GLenum err = gl->GetError();
    if (err != GL_NO_ERROR) {
      log(LOG_ERROR, kSrc, "can't gen %dx%d texture: %x (%d/%d)", t.tw, t.th, err, i, s->count);
      return -1;
    }
  }
  s->uploaded = 1;
  s->window = gui_current_window();
  return 0;
}

void splash_draw(splash *s, int32_t x, int32_t y, int32_t w, int32_t h, int32_t scroll,
                 int32_t sw, int32_t sh) {
  if (w < 1 || h < 1 || sw < 1 || sh < 1 || s->count == 0) return;
  if (!s->uploaded && splash_upload(s) != 0) return;
  double sx = (double)w / sw, sy = (double)h / sh;
  GLint filter = (sw == w && sh == h) ? GL_NEAREST : GL_LINEAR;
  double top = y, bottom = (double)y + h;
  gfx_colour(0xffffffff);
  for (int i = 0; i < s->count; i++) {
    const splash_tile &t = s->tiles[i];
    // The tile's own share of the picture: its texels less the margin.
    double u0 = (double)kSplashMargin / t.tw, u1 = (double)(t.pw - kSplashMargin) / t.tw;
    double v0 = (double)kSplashMargin / t.th, v1 = (double)(t.ph - kSplashMargin) / t.th;
    double X0 = x + t.x * sx, X1 = x + (t.x + t.pw - kSplashOverlap) * sx;
    double Y0 = y - scroll + t.y * sy, Y1 = y - scroll + (t.y + t.ph - kSplashOverlap) * sy;
    if (Y1 <= top || Y0 >= bottom || X1 <= X0 || Y1 <= Y0) continue;
    if (Y0 < top) {
      v0 += (top - Y0) / (Y1 - Y0) * (v1 - v0);
      Y0 = top;
    }
    if (Y1 > bottom) {
      v1 -= (Y1 - bottom) / (Y1 - Y0) * (v1 - v0);
      Y1 = bottom;
    }
    gfx_bind_texture((uint32_t)t.name);
    gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    gl->TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    gl->Begin(GL_QUADS);
    gl->TexCoord2f((float)u0, (float)v0);
    gl->Vertex2f((float)X0, (float)Y0);
    gl->TexCoord2f((float)u0, (float)v1);
    gl->Vertex2f((float)X0, (float)Y1);
    gl->TexCoord2f((float)u1, (float)v1);
    gl->Vertex2f((float)X1, (float)Y1);
    gl->TexCoord2f((float)u1, (float)v0);
    gl->Vertex2f((float)X1, (float)Y0);
    gl->End();
  }
  gfx_untexture();
}

void splash_size(size *out, const splash *s) {
  out->w = s->w;
  out->h = s->h;
}

void splash_forget_window(int32_t window) {
  for (splash *s = P.first; s; s = s->next)
    if (s->window == window && s->uploaded) {
      for (int i = 0; i < s->count; i++) s->tiles[i].name = -1;  // the context went with it
      s->uploaded = 0;
    }
}

int splash_file_read(const void *data, size_t len, uint8_t **pixels, int32_t *w, int32_t *h) {
  const uint8_t *p = static_cast<const uint8_t *>(data);
  if (len < 4) {
    log(LOG_ERROR, kSrc, "splash file of %d bytes", (int)len);
    return -1;
  }
  int32_t W = (p[0] << 8) | p[1], H = (p[2] << 8) | p[3];
  size_t need = 4 + (size_t)W * H * 4;
  if (W < 1 || H < 1 || W + 2 * kSplashMargin > kSplashMaxPadded ||
      H + 2 * kSplashMargin > kSplashMaxPadded || len < need) {
    log(LOG_ERROR, kSrc, "bad splash file: %dx%d in %d bytes", W, H, (int)len);
    return -1;
  }
  *pixels = static_cast<uint8_t *>(dalloc_alloc((int32_t)(need - 4)));
  memcpy(*pixels, p + 4, need - 4);
  *w = W;
  *h = H;
  return 0;
}

int picture_load_png(const char *path, uint8_t **pixels, int32_t *w, int32_t *h) {
  png_image img;
  memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path)) {
    log(LOG_ERROR, kSrc, "can't read %s: %s", path, img.message);
    return -1;
  }
  if (img.width < 1 || img.height < 1 || img.width + 2 * kSplashMargin > kSplashMaxPadded ||
      img.height + 2 * kSplashMargin > kSplashMaxPadded) {
    log(LOG_ERROR, kSrc, "picture %s is %ux%u", path, img.width, img.height);
    png_image_free(&img);
    return -1;
  }
  img.format = PNG_FORMAT_RGBA;
  auto *buf = static_cast<uint8_t *>(dalloc_alloc((int32_t)PNG_IMAGE_SIZE(img)));
  if (!png_image_finish_read(&img, nullptr, buf, 0, nullptr)) {
    log(LOG_ERROR, kSrc, "can't read %s: %s", path, img.message);
    dalloc_free(buf);
    png_image_free(&img);
    return -1;
  }
  *pixels = buf;
  *w = (int32_t)img.width;
  *h = (int32_t)img.height;
  return 0;
}
