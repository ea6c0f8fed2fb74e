// Clipboard export: one growable text buffer that writers fill row by row,
// and the image copy of a window rectangle. The buffer is the engine's
// growbuf; the text is kept NUL-terminated after every write so it can be
// handed to the platform as it is.
#include "export/clipboard.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "growbuf.h"
#include "lib/glapi.h"
#include "log.h"
#include "plat.h"
#include "ui/gui.h"
#include "ui/launch-linux.h"

static const char kSrc[] = "src/export/clipboard";

static struct {
  growbuf buf;
  bool ready;
  bool row_has_cell;
} S;

// Keeps a NUL after the text without counting it.
static void terminate(void) {
  uint8_t *p = growbuf_reserve(&S.buf, 1);
  if (p) *p = 0;
}

static void append(const char *text, size_t n) {
  if (!S.ready) return;
  growbuf_append(&S.buf, text, (uint32_t)n);
  terminate();
}

int clipboard_init(void) {
  if (S.ready) return 0;
  if (growbuf_init(&S.buf, kClipInitial, kClipStep) != 0) {
    log(LOG_ERROR, kSrc, "can't alloc clipboard");
    return -1;
  }
  S.ready = true;
  S.row_has_cell = false;
  terminate();
  return 0;
}

void clipboard_shutdown(void) {
  if (S.ready) growbuf_free(&S.buf);
  S.ready = false;
}

void clipboard_reset(void) {
  if (!S.ready) return;
  growbuf_reset(&S.buf);
  S.row_has_cell = false;
  terminate();
}

void clipboard_new_row(void) { S.row_has_cell = false; }

void clipboard_add_cell(const char *text) {
  if (S.row_has_cell) append("\t", 1);
  S.row_has_cell = true;
  if (!text) return;
  for (const char *p = text; *p;) {
    size_t run = strcspn(p, "\t\r\n");
    append(p, run);
    p += run;
    if (*p) {
      append(" ", 1);
      p++;
    }
  }
}

void clipboard_end_row(void) {
  const char *end = plat_line_end();
  append(end, strlen(end));
}

int clipboard_printf(const char *fmt, ...) {
  if (!S.ready) return -1;
  char *p = (char *)growbuf_reserve(&S.buf, kClipPrintfRoom);
  if (!p) return -1;
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(p, kClipPrintfRoom, fmt, ap);
  va_end(ap);
  if (n < 0) {
    log(LOG_OSERR, kSrc, "failed to write clipboard text");
    *p = 0;
    return -1;
  }
  // What was written, not what would have been: a longer text is cut.
  growbuf_commit(&S.buf, (uint32_t)std::min(n, kClipPrintfRoom - 1));
  terminate();
  return 0;
}

const char *clipboard_text(void) { return S.ready ? (const char *)S.buf.data : ""; }

int clipboard_put_text(void) { return launch_clipboard_set(clipboard_text()); }

int clipboard_put(const char *text) { return launch_clipboard_set(text ? text : ""); }

const char *clipboard_get_text(void) {
  if (!S.ready) return nullptr;
  clipboard_reset();
  uint32_t size = 100;
  char *p = (char *)growbuf_reserve(&S.buf, size);
  if (!p) return nullptr;
  if (launch_clipboard_get(p, &size) != 0) {
    if (size == 0) return nullptr;
    p = (char *)growbuf_reserve(&S.buf, size);
    if (!p || launch_clipboard_get(p, &size) != 0) return nullptr;
  }
  size_t n = strlen(p);
  if (n == 0) return nullptr;
  growbuf_commit(&S.buf, (uint32_t)n);
  terminate();
  return (const char *)S.buf.data;
}

// Unlocks the window's context on every way out.
struct window_lock {
  int window;
  bool held;
  explicit window_lock(int w) : window(w), held(gui_window_lock(w) == 0) {}
  ~window_lock() {
    if (held) gui_window_unlock(window);
  }
};

int clipboard_copy_image(int window, int x, int y, int width, int height) {
  window_lock lock(window);
  if (!lock.held) return -1;
  int32_t ww = 0, wh = 0;
  gui_window_size(window, &ww, &wh);
  // Keep the rectangle inside the window and at least one pixel each way.
  int x0 = std::clamp(x, 0, std::max(ww - 1, 0)), y0 = std::clamp(y, 0, std::max(wh - 1, 0));
  int64_t x1 = std::clamp((int64_t)x + width, (int64_t)x0 + 1, (int64_t)std::max(ww, x0 + 1));
  int64_t y1 = std::clamp((int64_t)y + height, (int64_t)y0 + 1, (int64_t)std::max(wh, y0 + 1));
  int w = (int)(x1 - x0), h = (int)(y1 - y0);
  size_t row = (size_t)w * 4;
  auto *pixels = static_cast<uint8_t *>(malloc(row * (size_t)h));
  if (!pixels) return -1;
  gl->PixelStorei(GL_PACK_ALIGNMENT, 1);
  gl->ReadPixels(x0, wh - y0 - h, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
  for (size_t i = 3; i < row * (size_t)h; i += 4) pixels[i] = 255;
  // GL's first row is the bottom one.
  uint8_t *tmp = static_cast<uint8_t *>(malloc(row));
  if (!tmp) {
    free(pixels);
    return -1;
  }
  for (int i = 0; i < h / 2; i++) {
    uint8_t *a = pixels + (size_t)i * row, *b = pixels + (size_t)(h - 1 - i) * row;
    memcpy(tmp, a, row);
    memcpy(a, b, row);
    memcpy(b, tmp, row);
  }
  free(tmp);
  int r = launch_clipboard_set_image(pixels, w, h);
  free(pixels);
  return r;
}
