// Condition letters. The writer counts every set bit's width whether or not
// it still fits, so a caller whose buffer was short learns the size it
// needs from the same call, and a buffer of that size then succeeds; once
// one entry does not fit no later one can, so a cut text is never returned
// as complete.
#include "condcode.h"

#include <cstring>

#include "sscodes.h"

namespace {

struct fixed_letter {
  int bit;
  const char *letter;
};
const fixed_letter kFixed[] = {{40, "L"}, {41, "M"}, {56, "B"}, {59, "S"}, {60, "E"}, {61, "P"}, {62, "T"}};

struct {
  char text[kCondcodeTextSize];
} S;

}  // namespace

const char *condcode_fixed_letter(int bit) {
  for (const fixed_letter &f : kFixed)
    if (f.bit == bit) return f.letter;
  return nullptr;
}

char *condcode_letters(char *buffer, uint32_t *size, uint64_t bits) {
  const int64_t cap = *size;
  int64_t used = 0;
  for (int bit = 0; bit < 64; bit++) {
    if (!(bits & (1ull << bit))) continue;
    const char *letters = condcode_fixed_letter(bit);
    if (!letters) letters = sscodes_condition_code(0, 1ull << bit);
    if (!letters || !letters[0]) continue;
    const int64_t len = static_cast<int64_t>(strlen(letters));
    const int64_t width = len + 1;
    if (used + width <= cap) {
      memcpy(buffer + used, letters, static_cast<size_t>(len));
      buffer[used + len] = ' ';
    }
    used += width;
  }
  // The last blank becomes the NUL, so the text fits in exactly `used`
  // bytes (an empty text in 1): the size reported on overflow is one that
  // succeeds.
  const int64_t needed = used ? used : 1;
  char *out = nullptr;
  if (needed <= cap) {
    buffer[needed - 1] = 0;
    out = buffer;
  }
  *size = static_cast<uint32_t>(needed);
  return out;
}

const char *condcode_text(int32_t flag_set, const char *code, uint64_t bits) {
  if (flag_set == 0 && code && strstr(code, "_CX")) {
    uint32_t size = sizeof S.text;
    return condcode_letters(S.text, &size, bits);
  }
  return sscodes_condition_text(flag_set, bits);
}
