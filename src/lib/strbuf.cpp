// Scratch strings. The buffers are made once at start-up so that formatting
// in a hot path never allocates; callers agree by number which buffer they
// borrow, so there is no locking: main thread only.
#include "lib/strbuf.h"

#include <cstdio>
#include <cstdlib>

#include "log.h"

static const char kSrc[] = "src/lib/strbuf";

static struct {
  char *buf[kStrbufCount] = {};
  char joined[4096];
} S;

int strbuf_init(void) {
  for (int i = 0; i < kStrbufCount; i++) {
    if (S.buf[i]) continue;
    S.buf[i] = static_cast<char *>(calloc(1, kStrbufSize));
    if (!S.buf[i]) {
      log(LOG_ERROR, kSrc, "can't alloc %db strbuf #%d", kStrbufSize, i);
      return -1;
    }
  }
  return 0;
}

char *strbuf_get(int i) { return S.buf[i]; }

void strbuf_fini(void) {
  for (char *&b : S.buf) {
    free(b);
    b = nullptr;
  }
}

const char *text_join(const char *title, const char *text) {
  if (title && text)
    snprintf(S.joined, sizeof S.joined, "%s\n\n%s", title, text);
  else
    snprintf(S.joined, sizeof S.joined, "%s", title ? title : text ? text : "");
  return S.joined;
}
