// Runs the feed parser over arbitrary bytes: the document comes back byte for
// byte, every kept item has a non-empty title, header and item texts are
// NUL-terminated within the input's size, and items copy and free cleanly.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "rss/parse.h"

#define CHECK(c)       \
  do {                 \
    if (!(c)) abort(); \
  } while (0)

static bool start() {
  plat_init();
  log_init();
  log_set_stderr(0);
  dalloc_init();
  return rss_parse_init() == 0;
}

static void check_text(const char* t, size_t cap) {
  if (t) CHECK(strlen(t) <= cap);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = start();
  if (!ready || size > (1 << 20)) return 0;
  std::vector<char> doc(data, data + size);
  doc.push_back(0);
  std::vector<char> before = doc;
  rss_feed f{};
  CHECK(rss_parse(&f, doc.data()) == 0);
  CHECK(doc == before);
  uint32_t n = 0;
  for (rss_item* it = f.first_item; it; it = it->next, n++) {
    CHECK(it->title && it->title[0]);
    check_text(it->title, size);
    check_text(it->link, size);
    check_text(it->text, size);
  }
  CHECK(n == f.item_count);
  rss_feed copy{};
  CHECK(rss_items_copy(&copy, &f) == 0);
  CHECK(copy.item_count == f.item_count);
  rss_items_free(&copy);
  rss_items_free(&f);
  rss_str_free(f.title);
  rss_str_free(f.link);
  rss_str_free(f.description);
  return 0;
}
