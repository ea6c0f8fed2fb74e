// Hex text for the crypto and protocol tests. Parsing is strict so that a
// typo in a known-answer vector fails loudly instead of testing other bytes.
#include "testhex.h"

#include <gtest/gtest.h>

namespace {

std::string hex_with(const char* digits, const uint8_t* p, size_t n) {
  std::string s;
  s.reserve(2 * n);
  for (size_t i = 0; i < n; i++) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string hex(const uint8_t* p, size_t n) { return hex_with("0123456789abcdef", p, n); }

std::string hex(const std::vector<uint8_t>& bytes) { return hex(bytes.data(), bytes.size()); }

std::string hex_upper(const uint8_t* p, size_t n) { return hex_with("0123456789ABCDEF", p, n); }

void unhex(std::string_view text, uint8_t* out) {
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    int hi = digit_value(text[i]), lo = digit_value(text[i + 1]);
    if (hi < 0 || lo < 0) {
      ADD_FAILURE() << "not hex: \"" << text << "\"";
      hi = lo = 0;
    }
    *out++ = uint8_t(hi << 4 | lo);
  }
}

std::vector<uint8_t> unhex(std::string_view text) {
  std::vector<uint8_t> out(text.size() / 2);
  unhex(text, out.data());
  return out;
}
