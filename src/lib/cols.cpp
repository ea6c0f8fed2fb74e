// Column layout. A fit walks the fallback column sets in
// order and takes the first whose columns all fit; the spare (or, when even
// the last set overflows, the shortage) is shared among the stretch columns,
// else the scalable ones, the remainder a pixel each from the left. Widths
// never go below 0, so an overflowing table clips rather than folds back.
#include "lib/cols.h"

#include <algorithm>
#include <cstring>

#include "lib/font.h"
#include "log.h"

static const char kSrc[] = "src/lib/cols";

int cols_init(cols *c, const int32_t *codes, const uint64_t *masks) {
  *c = cols{};
  c->masks = masks;
  int n = 0;
  for (; codes && codes[n]; n++) {
    if (n == kColsMax) {
      log(LOG_WARN, kSrc, "table has more than %d columns: the rest are left out", kColsMax);
      break;
    }
    cols_col &k = c->col[n];
    int32_t code = codes[n];
    if (code >= kColsStretch) {
      k.digits = code - kColsStretch;
      k.stretch = 1;
      k.scalable = 1;
    } else if (code >= kColsEm) {
      k.ems = code - kColsEm;
      k.scalable = 1;
    } else if (code < 0) {
      k.pixels = -code;
    } else {
      k.digits = code;
      k.scalable = 1;
    }
  }
  c->count = n;
  return 0;
}

void cols_set_hidden(cols *c, uint64_t mask) { c->hidden = mask; }

static int32_t natural(const cols_col &k, int32_t em, int32_t digit) {
  return k.pixels + k.ems * em + k.digits * digit + 1;
}

// Applies one mask-list entry to the current set.
static uint64_t apply(uint64_t set, uint64_t entry) {
  return (entry & kColsNarrow) ? set & ~entry : entry;
}

int32_t cols_width_metrics(cols *c, int level, int32_t em, int32_t digit) {
  uint64_t set = 0;
  for (int i = 0; c->masks && c->masks[i] && i <= level; i++) set = apply(set, c->masks[i]);
  set &= ~c->hidden;
  int32_t total = 0;
  for (int i = 0; i < c->count; i++)
    if (set >> i & 1) total += natural(c->col[i], em, digit);
  return total;
}

int32_t cols_width(cols *c, int level, int32_t font) {
  int32_t em = 0, digit = 0;
  font_metrics(&em, &digit, nullptr, nullptr, font);
  return cols_width_metrics(c, level, em, digit);
}

int cols_fit_metrics(cols *c, int32_t x, int32_t width, int32_t em, int32_t digit) {
  uint64_t set = 0, chosen = 0;
  int32_t total = 0;
  int stretch = 0, scalable = 0;
  for (int e = 0; c->masks && c->masks[e]; e++) {
    set = apply(set, c->masks[e]);
    chosen = set & ~c->hidden;
    total = 0;
    stretch = scalable = 0;
    bool fits = true;
    for (int i = 0; i < c->count; i++) {
      if (!(chosen >> i & 1)) continue;
      total += natural(c->col[i], em, digit);
      stretch += c->col[i].stretch;
      scalable += c->col[i].scalable;
      if (total > width) fits = false;
    }
    if (fits) break;
  }
  c->shown = chosen;

  int32_t spare = width - total;
  c->spare = spare;
  int sharers = stretch ? stretch : scalable;
  int32_t share = sharers ? spare / sharers : 0;
  int32_t extra = sharers ? spare % sharers : 0;  // same sign as spare

  for (int i = 0; i < c->count; i++) {
    cols_col &k = c->col[i];
    if (!(chosen >> i & 1)) {
      k.shown = 0;
      k.width = 0;
      k.x0 = k.x1 = x;
      continue;
    }
    int32_t w = natural(k, em, digit);
    if (sharers && (stretch ? k.stretch : k.scalable)) {
      w += share;
      if (extra > 0) {
        w++;
        extra--;
      } else if (extra < 0) {
        w--;
        extra++;
      }
    }
    k.shown = 1;
    k.width = std::max(w, 0);
    k.x0 = x;
    k.x1 = x + k.width - 1;
    x += k.width;
  }
  return 1;
}

int cols_fit(cols *c, int32_t x, int32_t width, int32_t font) {
  int32_t em = 0, digit = 0;
  font_metrics(&em, &digit, nullptr, nullptr, font);
  return cols_fit_metrics(c, x, width, em, digit);
}

void cols_fini(cols *) {}

const char *cols_cell_text(const char *text, int32_t font, int32_t width, bool number) {
  static char cut[128];
  if (!text) return "";
  int32_t size[2];
  font_text_size(size, font, text);
  if (size[0] <= width) return text;
  size_t n = 0;
  if (number) {
    int32_t mark = font_glyph_width('#', font);
    for (int32_t used = mark; mark > 0 && used <= width && n + 1 < sizeof cut; used += mark) cut[n++] = '#';
  } else {
    n = std::min(strlen(text), sizeof cut - 1);
    memcpy(cut, text, n);
    for (;;) {
      cut[n] = 0;
      font_text_size(size, font, cut);
      if (n == 0 || size[0] <= width) break;
      n--;
    }
  }
  cut[n] = 0;
  return cut;
}
