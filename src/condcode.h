// The text of a trade's condition flags: the letters of the set bits of a
// 64-bit condition mask, separated by blanks. Codes of the other venue
// ("_CX") have seven letters of their own; every other bit takes its
// letters from the client's code table. Main thread only.
#pragma once

#include <cstdint>

constexpr int kCondcodeTextSize = 193;  // the static buffer of condcode_text

// Letters of the set bits into buffer (*size bytes), bit 0 first. Returns
// the buffer, or null when the letters did not fit; *size becomes the
// bytes the text needs with its NUL (1 for an empty text).
char *condcode_letters(char *buffer, uint32_t *size, uint64_t bits);
// The letters for flag set (an exchange index) and an instrument code: a
// "_CX" code on flag set 0 uses condcode_letters into a static buffer, any
// other the client's text. Null when the text does not fit. The text lives
// until the next call.
const char *condcode_text(int32_t flag_set, const char *code, uint64_t bits);
// The fixed letter of a condition bit of "_CX" codes, or null.
const char *condcode_fixed_letter(int bit);
