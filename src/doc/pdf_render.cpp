// The PDF page renderer over poppler-cpp. poppler turns a page by its own
// /Rotate as well as by the rotation asked for, so the page box is reported
// as shown (swapped for a page of 90 or 270 degrees) and the scale of each
// picture axis comes from that shown box. Runs on the render thread: the
// document is opened for each request and nothing is kept between them,
// which parses the file again for every page turned; keeping the last
// document open would save that at the cost of a handle per thread.
#include "doc/pdf_render.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <cstring>
#include <memory>

void pdf_render_poppler(pdf_request *r) {
  r->error = 1;
  r->error_detail = 0;
  r->bottom_up = 1;
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(r->path));
  if (!doc) {
    r->error = PDF_RENDER_OPEN;
    return;
  }
  if (doc->is_locked()) {
    r->error = PDF_RENDER_LOCKED;
    return;
  }
  r->page_count = doc->pages();
  if (r->page < 0 || r->page >= r->page_count) {
    r->error = PDF_RENDER_PAGE;
    r->error_detail = r->page_count;
    return;
  }
  std::unique_ptr<poppler::page> page(doc->create_page(r->page));
  if (!page) {
    r->error = PDF_RENDER_PAGE;
    r->error_detail = r->page_count;
    return;
  }
  poppler::rectf box = page->page_rect(poppler::crop_box);
  double w = box.width(), h = box.height();
  poppler::page::orientation_enum o = page->orientation();
  if (o == poppler::page::landscape || o == poppler::page::seascape) std::swap(w, h);
  r->page_width = w;
  r->page_height = h;
  if (!r->pixels || r->width == 0 || r->height == 0) {
    r->error = PDF_RENDER_OK;
    return;
  }
  if (w <= 0 || h <= 0) {
    r->error = PDF_RENDER_FAILED;
    return;
  }
  uint32_t rot = r->rotation & 3;
  double across = (rot & 1) ? h : w;
  double down = (rot & 1) ? w : h;
  static const poppler::rotation_enum kRot[4] = {poppler::rotate_0, poppler::rotate_90, poppler::rotate_180,
                                                 poppler::rotate_270};
  poppler::page_renderer pr;
  pr.set_paper_color(0xffffffff);
  pr.set_render_hint(poppler::page_renderer::antialiasing, true);
  pr.set_render_hint(poppler::page_renderer::text_antialiasing, true);
  pr.set_image_format(poppler::image::format_argb32);
  poppler::image img = pr.render_page(page.get(), 72.0 * r->width / across, 72.0 * r->height / down, 0, 0,
                                      (int)r->width, (int)r->height, kRot[rot]);
  if (!img.is_valid()) {
    r->error = PDF_RENDER_FAILED;
    return;
  }
  memset(r->pixels, 0xff, (size_t)r->width * r->height * 4);
  size_t cw = (size_t)img.width() < r->width ? (size_t)img.width() : r->width;
  size_t ch = (size_t)img.height() < r->height ? (size_t)img.height() : r->height;
  const char *src = img.const_data();
  for (size_t y = 0; y < ch; y++) {
    // argb32 lies in memory as B, G, R, A on this little-endian machine.
    const uint8_t *s = (const uint8_t *)src + y * (size_t)img.bytes_per_row();
    uint8_t *d = r->pixels + (r->height - 1 - y) * (size_t)r->width * 4;
    for (size_t x = 0; x < cw; x++, s += 4, d += 4) {
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
      d[3] = 0xff;
    }
  }
  r->error = PDF_RENDER_OK;
}
