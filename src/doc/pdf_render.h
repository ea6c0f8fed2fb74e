// The page renderer of the PDF views on this platform, over poppler-cpp:
// one request rendered into its RGBA buffer on the render thread.
#pragma once

#include "doc/pdf.h"

// Error codes a request comes back with.
enum : int32_t {
  PDF_RENDER_OK = 0,
  PDF_RENDER_OPEN = 2,    // no such file, or no PDF
  PDF_RENDER_LOCKED = 3,  // encrypted with a password we don't have
  PDF_RENDER_PAGE = 4,    // no such page (detail: the page count)
  PDF_RENDER_FAILED = 5,  // the renderer gave no picture
};

// Fills page_count and the page box as shown (the page's own rotation
// applied: width and height swapped for 90 and 270 degrees); with pixels,
// draws the page on white, turned by the request's quarter turns clockwise
// and scaled to fill the picture, bottom row first (bottom_up 1).
void pdf_render_poppler(pdf_request *req);
