// PDF views. A view keeps what its window wants (page, size, rotation, fit)
// apart from what its picture shows; a setter only raises `changes`, and
// pdf_poll turns each changed view into one render request of its latest
// wanted state, so many setter calls between two polls cost one render. A
// view that does not know its page size yet first asks for a 0 x 0 picture,
// which brings back the page count and size; views opened later on the same
// file borrow them. Pictures never exceed the picture holder's 4088 x 4088:
// a tall page is scaled down keeping its shape rather than asking for
// gigabytes.
#include "doc/pdf.h"

#include <cstring>

#include "dalloc.h"
#include "doc/pdf_render.h"
#include "doc/pdf_server.h"
#include "lib/olist.h"
#include "log.h"
#include "pool.h"

static const char kSrc[] = "pdf";
constexpr int kItemsPerPage = 32;
constexpr colour kWhite = 0xFFFFFFFF;

static struct {
  pdf_view *first, *last;
  int32_t count;
  uint32_t next_id;
  int changed;
  const char *renderer_name;
  pool views, reqs;
  bool ready;
  pdf_renderer_fn render;
} S = {nullptr, nullptr, 0, 0, 0, "", {}, {}, false, pdf_render_poppler};

void pdf_set_renderer(pdf_renderer_fn fn) { S.render = fn ? fn : pdf_render_poppler; }
pdf_renderer_fn pdf_renderer(void) { return S.render; }
const char *pdf_renderer_name(void) { return S.renderer_name; }
int32_t pdf_view_count(void) { return S.count; }

int pdf_init(void) {
  S.renderer_name = "Native";
  if (pool_init(&S.views, kItemsPerPage, (int32_t)sizeof(pdf_view)) != 0) {
    log(LOG_ERROR, kSrc, "can't initialize pdf pool");
    return -1;
  }
  if (pool_init(&S.reqs, kItemsPerPage, (int32_t)sizeof(pdf_request)) != 0) {
    log(LOG_ERROR, kSrc, "can't initialize pdf req pool");
    pool_destroy(&S.views);
    return -1;
  }
  S.first = S.last = nullptr;
  S.count = 0;
  S.next_id = 0;
  S.changed = 0;
  S.ready = true;
  pdf_server_start(S.render);  // without it views stay white
  return 0;
}

static void unlink_view(pdf_view *v) {
  olist_unlink(v, S.first, S.last);
  S.count--;
}

void pdf_close(pdf_view *v) {
  if (!v) return;
  if (v->picture) splash_delete(v->picture);
  unlink_view(v);
  pool_free(&S.views, v);
}

void pdf_shutdown(void) {
  if (!S.ready) return;
  pdf_poll();
  pdf_server_stop();
  pdf_poll();  // the last renders, and those never made, come back and go
  while (S.first) pdf_close(S.first);
  pool_destroy(&S.reqs);
  pool_destroy(&S.views);
  S.ready = false;
}

pdf_view *pdf_open(const char *path) {
  auto *v = S.ready ? static_cast<pdf_view *>(pool_alloc(&S.views)) : nullptr;
  if (!v) {
    log(LOG_ERROR, kSrc, "can't alloc pdf");
    return nullptr;
  }
  memset(v, 0, sizeof *v);
  snprintf(v->path, sizeof v->path, "%s", path ? path : "");
  v->id = ++S.next_id;
  v->page_count = 1;
  for (pdf_view *o = S.first; o; o = o->next) {
    if (strcmp(o->path, v->path) != 0 || o->page_width <= 0) continue;
    v->page_count = o->page_count;
    v->page_width = o->page_width;
    v->page_height = o->page_height;
    if (o->page == 0) break;
  }
  v->picture = splash_new();
  if (!v->picture) {
    log(LOG_ERROR, kSrc, "can't create splash");
    pool_free(&S.views, v);
    return nullptr;
  }
  olist_insert_before(v, (pdf_view *)nullptr, S.first, S.last);
  S.count++;
  return v;
}

// Setters and getters ----------------------------------------------------------

int pdf_set_size(pdf_view *v, uint32_t width, uint32_t height) {
  if (width > kPdfMaxViewSize || height > kPdfMaxViewSize) return -1;
  if (v->want_width != width || v->want_height != height) {
    v->want_width = width;
    v->want_height = height;
    v->changes++;
  }
  return 0;
}

int pdf_set_page(pdf_view *v, int32_t page) {
  if (v->want_page != (uint32_t)page) {
    v->want_page = (uint32_t)page;
    v->changes++;
  }
  return 0;
}

int pdf_set_rotation(pdf_view *v, int32_t quarter_turns) {
  uint32_t r = quarter_turns == -1 ? (v->want_rotation < 3 ? v->want_rotation + 1 : 0) : (uint32_t)quarter_turns;
  if (v->want_rotation != r) {
    v->want_rotation = r;
    v->changes++;
  }
  return 0;
}

int pdf_set_fit(pdf_view *v, uint32_t fit) {
  if (v->want_fit != fit) {
    v->want_fit = fit;
    v->changes++;
  }
  return 0;
}

const char *pdf_filename(const pdf_view *v) { return v->path; }
int32_t pdf_page(const pdf_view *v) { return v->page; }
int32_t pdf_page_count(const pdf_view *v) { return v->page_count; }
int32_t pdf_rotation(const pdf_view *v) { return v->rotation; }
void pdf_page_size(const pdf_view *v, int32_t *width, int32_t *height) {
  if (width) *width = (int32_t)v->page_width;
  if (height) *height = (int32_t)v->page_height;
}

int pdf_take_changed(void) {
  int c = S.changed;
  S.changed = 0;
  return c;
}

// Polling ------------------------------------------------------------------------

void pdf_picture_size(const pdf_view *v, uint32_t *out_w, uint32_t *out_h) {
  double pw = v->page_width, ph = v->page_height;
  double w, h;
  if (pw <= 0 || ph <= 0) {
    *out_w = *out_h = 0;
    return;
  }
  bool turned = v->want_rotation == 1 || v->want_rotation == 3;
  if (v->want_rotation > 3) {
    w = v->want_width;
    h = v->want_height;
  } else if (v->want_fit == 1) {
    h = v->want_height;
    w = turned ? h * ph / pw : h * pw / ph;
  } else {
    w = v->want_width;
    h = turned ? w * pw / ph : w * ph / pw;
  }
  // The picture holder takes at most 4088 x 4088: a larger picture keeps
  // its shape at that bound (a 1 x 14400 pt page would otherwise ask for a
  // buffer of gigabytes).
  const double max = kPdfMaxPicture;
  if (w > max || h > max) {
    if (w >= h) {
      h = h * max / w;
      w = max;
    } else {
      w = w * max / h;
      h = max;
    }
  }
  w = (double)(size_t)w;
  h = (double)(size_t)h;
  *out_w = w < 1 ? 1 : (uint32_t)w;
  *out_h = h < 1 ? 1 : (uint32_t)h;
}

static pdf_view *find_view(uint32_t id) {
  for (pdf_view *v = S.first; v; v = v->next)
    if (v->id == id) return v;
  return nullptr;
}

static void take_finished(pdf_request *r) {
  if (r->error != 0) {
    log(LOG_ERROR, kSrc, "PDF error %d (%d)", r->error, r->error_detail);
    return;
  }
  pdf_view *v = find_view(r->view_id);
  if (!v) {
    log(LOG_ERROR, kSrc, "can't find pdf #%d", (int)r->view_id);
    return;
  }
  if (v->page_width != r->page_width || v->page_height != r->page_height) S.changed = 1;
  v->page_count = r->page_count;
  v->page_width = r->page_width;
  v->page_height = r->page_height;
  v->page = r->page;
  v->width = r->want_width;
  v->height = r->want_height;
  v->rotation = (int32_t)r->rotation;
  v->fit = r->want_fit;
  if (!r->pixels) {
    v->changes = 1;  // the real size is known now
    return;
  }
  splash_set_picture(v->picture, r->pixels, (int32_t)r->width, (int32_t)r->height,
                     r->bottom_up ? (uint32_t)SPLASH_BOTTOM_UP : 0u);
}

int32_t pdf_poll(void) {
  if (!S.ready) return 0;
  pdf_request_list out{};
  for (pdf_view *v = S.first; v; v = v->next) {
    if (!v->changes) continue;
    v->changes = 0;
    if (v->want_width < 1 || v->want_height < 1 || (int32_t)v->want_page < 0) continue;
    auto *r = static_cast<pdf_request *>(pool_alloc(&S.reqs));
    if (!r) continue;
    memset(r, 0, sizeof *r);
    pdf_picture_size(v, &r->width, &r->height);
    memcpy(r->path, v->path, sizeof r->path);
    r->view_id = v->id;
    r->page = (int32_t)v->want_page;
    r->rotation = v->want_rotation;
    if (r->width && r->height) r->pixels = static_cast<uint8_t *>(dalloc_alloc((int32_t)(r->width * r->height * 4)));
    r->error = 1;
    r->page_count = 1;
    r->want_width = v->want_width;
    r->want_height = v->want_height;
    r->want_fit = v->want_fit;
    pdf_request_list_append(&out, r);
  }
  pdf_request_list done{};
  pdf_server_exchange(&out, &done);
  int32_t n = 0;
  for (pdf_request *r = done.first, *next; r; r = next) {
    next = r->next;
    take_finished(r);
    if (r->pixels) dalloc_free(r->pixels);
    pool_free(&S.reqs, r);
    n++;
  }
  return n;
}

// Drawing -------------------------------------------------------------------------

static int32_t min3(int32_t a, int32_t b, int32_t c) { return a < b ? (a < c ? a : c) : (b < c ? b : c); }
static int32_t min2(int32_t a, int32_t b) { return a < b ? a : b; }

int pdf_render_page(pdf_view *v, int32_t x, int32_t y, int32_t width, int32_t height, int32_t *scroll,
                    colour *edge_a, colour *edge_b) {
  *edge_a = *edge_b = kWhite;
  size sz{0, 0};
  if (v->picture) splash_size(&sz, v->picture);
  int32_t pw = sz.w, ph = sz.h;
  if (pw <= 0 || ph <= 0 || width <= 0 || height <= 0) {
    gfx_fill_rect(x, y, width, height, kWhite);
    return 0;
  }
  double s = 0;
  int32_t dw, dh, cols, rows;
  if (v->fit == 0) {
    int32_t sh = (int32_t)((int64_t)ph * width / pw);
    if (pw != width) {
      s = (double)width / pw;
      rows = min3((int32_t)(sh / s), ph, (int32_t)(height / s));
    } else {
      rows = min3(height, ph, sh);
    }
    dw = width;
    dh = min2(height, sh);
    cols = pw;
  } else {
    int32_t sw = (int32_t)((int64_t)pw * height / ph);
    if (ph != height) {
      s = (double)height / ph;
      cols = min3((int32_t)(sw / s), pw, (int32_t)(width / s));
    } else {
      cols = min3(width, sw, pw);
    }
    dw = min2(width, sw);
    dh = height;
    rows = ph;
  }

  int32_t sc = *scroll < 1 ? 0 : *scroll;
  if (dw != pw) {
    if (dh > s * ph - sc) sc = (int32_t)(s * ph - dh);
  } else if (ph - sc < dh) {
    sc = ph - dh;
  }
  if (sc < 0) sc = 0;
  *scroll = sc;

  int32_t px = x, py = y;
  if (v->fit == 0 && dh < height) py = y + height / 2 - dh / 2;
  if (v->fit != 0 && dw < width) px = x + width / 2 - dw / 2;

  int32_t r = height - dh;
  if (r > 0) {
    gfx_fill_rect(x, y, dw, r, kPdfBandColour);
    gfx_fill_rect(x, y + height - (r - r / 2), dw, r - r / 2, kPdfBandColour);
  }
  int32_t q = width - dw;
  if (q > 0) {
    gfx_fill_rect(x, y, q / 2 + 1, dh, kPdfBandColour);
    gfx_fill_rect(x + width - (q - q / 2), y, q - q / 2, dh, kPdfBandColour);
  }
  if (dw < 1 || dh < 1 || cols < 1 || rows < 1) return 0;
  splash_draw(v->picture, px, py, dw, dh, sc, cols, rows);
  return v->picture->count > 0 && !v->picture->uploaded ? 1 : 0;
}
