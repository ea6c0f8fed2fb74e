// Column layout of text tables: widths given in digits, em widths or pixels
// so a table follows its font; fallback column sets for narrow windows; the
// spare width given to the stretchable columns. Main thread only.
#pragma once

#include <cstdint>

constexpr int kColsMax = 64;                        // one bit of a u64 mask per column
constexpr int32_t kColsEm = 1000000;                // code >= this: (code - kColsEm) ems
constexpr int32_t kColsStretch = 2000000;           // code >= this: (code - kColsStretch) digits, stretches
constexpr uint64_t kColsNarrow = 1ull << 63;        // mask entry narrowing the current set

struct cols_col {
  int32_t x0, x1, width;  // outputs of the last fit
  int shown;
  int scalable;  // 1 for digit and em columns
  int stretch;
  int32_t ems, digits, pixels;
};

struct cols {
  int count;
  uint64_t shown;        // set chosen by the last fit
  int32_t spare;         // width left over by its natural widths; < 0: even the last set overflowed
  const uint64_t *masks; // 0-terminated, owned by the caller
  uint64_t hidden;       // hidden by the user; never shown
  cols_col col[kColsMax];
};

// codes: 0-terminated width codes (at most kColsMax are used); masks:
// 0-terminated fallback sets, the first preferred. Returns 0.
int cols_init(cols *c, const int32_t *codes, const uint64_t *masks);
void cols_set_hidden(cols *c, uint64_t mask);
// Natural width of the set at position level of the mask list, hidden
// columns left out.
int32_t cols_width(cols *c, int level, int32_t font);
// Lays the columns out from x within width; returns 1.
int cols_fit(cols *c, int32_t x, int32_t width, int32_t font);
void cols_fini(cols *c);

// What a cell `width` pixels wide shows of text in font: the text when it
// fits; else a number (number set) as '#' marks as many as fit, never a
// shortened, wrong value, and any other text cut from its end. The result
// lives until the next call.
const char *cols_cell_text(const char *text, int32_t font, int32_t width, bool number);
// The same with the em and digit widths given rather than read from a font.
int32_t cols_width_metrics(cols *c, int level, int32_t em, int32_t digit);
int cols_fit_metrics(cols *c, int32_t x, int32_t width, int32_t em, int32_t digit);
