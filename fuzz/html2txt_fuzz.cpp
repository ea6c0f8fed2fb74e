// Runs both HTML converters over arbitrary bytes: plain text is at most
// 2n + 3 bytes, ends in exactly one newline and holds no control bytes; the
// layout (on a fixed-advance metric) gives link rectangles inside the width
// with NUL-terminated http-or-other URLs, and returns its records cleanly.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "rss/html2txt.h"
#include "ui/widget.h"

#define CHECK(c)       \
  do {                 \
    if (!(c)) abort(); \
  } while (0)

static int32_t g_count[2];
static int layout(gmap* m, const char* w, int32_t x, int32_t y, int32_t, rect* out) {
  *out = rect{x, y, (int32_t)strlen(w) * 7, 10};
  g_count[m != nullptr]++;
  return 0;
}
static int32_t count(const gmap* m) { return g_count[m != nullptr]; }
static void set_count(gmap* m, int32_t n) { g_count[m != nullptr] = n; }
static int32_t width(const char* t, int32_t) { return (int32_t)strlen(t) * 7; }
static const html2txt_metric kMetric = {layout, count, set_count, width};

static bool start() {
  plat_init();
  log_init();
  log_set_stderr(0);
  dalloc_init();
  html2txt_set_metric(&kMetric);
  return html2txt_init() == 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = start();
  if (!ready || size > (1 << 20) || size < 1) return 0;
  int32_t w = 7 * (1 + data[0] % 40);
  std::string in(reinterpret_cast<const char*>(data + 1), size - 1);
  in = in.c_str();  // up to the first NUL
  std::string out = html2txt_plain(in.c_str());
  CHECK(out.size() <= 2 * in.size() + 3);
  CHECK(!out.empty() && out.back() == '\n');
  CHECK(out.size() == 1 || out[out.size() - 2] != '\n');
  for (unsigned char c : out) CHECK(c == '\n' || (c >= 32 && c != 127));

  g_count[0] = g_count[1] = 0;
  html2txt_link* links = nullptr;
  int32_t lines = -1;
  gmap* link_list = reinterpret_cast<gmap*>(16);
  html2txt_links(nullptr, link_list, in.c_str(), 0, 0, 0, w, 12, &lines, &links);
  CHECK(lines >= 0);
  for (html2txt_link* l = links; l; l = l->next) {
    CHECK(strnlen(l->url, sizeof l->url) < sizeof l->url && l->url[0]);
    CHECK(l->x >= 0 && l->x + l->width <= w);
    CHECK(l->y >= 0 && l->y <= lines * 12);
  }
  html2txt_links_free(&links);
  return 0;
}
