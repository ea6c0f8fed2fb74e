// PDF views: one open document file with the page, size, rotation and fit
// its window wants and the picture last rendered for it. Pages are rendered
// on a thread of their own (doc/pdf_server): pdf_poll, run by the screens'
// periodic pass, turns changed views into requests and takes finished
// pictures back. User-interface thread only, but the server's thread.
#pragma once

#include <cstdint>

#include "lib/gfx.h"
#include "lib/splash.h"

constexpr int kPdfPathSize = 1024;
constexpr uint32_t kPdfMaxViewSize = 10000;
// The picture holder's limit: larger pictures are scaled down to fit it.
constexpr uint32_t kPdfMaxPicture = 4088;
constexpr colour kPdfBandColour = 0xFFF2F0F0;

struct pdf_view {
  char path[kPdfPathSize];
  uint32_t id;
  int32_t page_count;            // 1 until a render tells
  double page_width, page_height;  // page box as shown; 0 until a render tells
  // Shown: those of the last finished render.
  int32_t page;
  uint32_t width, height;
  int32_t rotation;  // quarter turns 0-3
  uint32_t fit;      // 0 fit the width, 1 fit the height
  // Wanted: set by the setters.
  uint32_t want_page;
  uint32_t want_width, want_height;
  uint32_t want_rotation;
  uint32_t want_fit;
  uint32_t changes;  // non-zero: a render is due
  splash *picture;
  pdf_view *prev, *next;
};

// One page render, owned by one thread at a time (see pdf_server.h).
struct pdf_request {
  char path[kPdfPathSize];
  uint32_t view_id;
  int32_t page;
  uint32_t width, height;  // of the picture
  uint32_t rotation;
  uint8_t *pixels;  // width x height x 4 (RGBA), null when either size is 0
  int32_t error;    // 1 until rendered
  int32_t error_detail;
  int32_t page_count;
  double page_width, page_height;  // the page box as shown (rotation applied)
  uint32_t bottom_up;
  uint32_t want_width, want_height, want_fit;
  pdf_request *prev, *next;
};

// Renders one request on the server's thread: fills page_count, the page
// size, the pixels when there are any, bottom_up and error (0 done).
typedef void (*pdf_renderer_fn)(pdf_request *req);
// The platform's page renderer by default; tests put fakes here (before
// pdf_init). Null restores it.
void pdf_set_renderer(pdf_renderer_fn fn);
pdf_renderer_fn pdf_renderer(void);

int pdf_init(void);  // 0 / -1; a server that failed to start leaves views white
void pdf_shutdown(void);
const char *pdf_renderer_name(void);

pdf_view *pdf_open(const char *path);  // null after an ERROR line
void pdf_close(pdf_view *v);

// Each 0, raising `changes` only when the wanted value changes.
int pdf_set_size(pdf_view *v, uint32_t width, uint32_t height);  // -1 above 10000, nothing changes
int pdf_set_page(pdf_view *v, int32_t page);
int pdf_set_rotation(pdf_view *v, int32_t quarter_turns);  // -1: the next quarter turn
int pdf_set_fit(pdf_view *v, uint32_t fit);

const char *pdf_filename(const pdf_view *v);
int32_t pdf_page(const pdf_view *v);
int32_t pdf_page_count(const pdf_view *v);
int32_t pdf_rotation(const pdf_view *v);
void pdf_page_size(const pdf_view *v, int32_t *width, int32_t *height);

// Sends due renders and takes finished ones: the number taken.
int32_t pdf_poll(void);
// 1 once after a page size changed, else 0.
int pdf_take_changed(void);
// Draws the view's picture into the rectangle from row *scroll (clamped in
// place), with bands where the page leaves room; the edge colours for the
// window frame. Non-zero when the drawing must be repeated on a later frame.
int pdf_render_page(pdf_view *v, int32_t x, int32_t y, int32_t width, int32_t height, int32_t *scroll,
                    colour *edge_a, colour *edge_b);

// The picture size a request of this view asks for now (0 x 0 without a
// page size), within the picture holder's limit.
void pdf_picture_size(const pdf_view *v, uint32_t *width, uint32_t *height);

// For checks: open views.
int32_t pdf_view_count(void);
