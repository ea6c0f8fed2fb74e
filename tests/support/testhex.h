// Test support: byte strings as hex text and back, for comparing against
// published vectors and for readable failure messages.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

std::string hex(const uint8_t* p, size_t n);  // lower-case digits
std::string hex(const std::vector<uint8_t>& bytes);
std::string hex_upper(const uint8_t* p, size_t n);
// Two digits a byte, either case; an odd digit at the end is ignored and a
// character that is not a digit fails the running test.
std::vector<uint8_t> unhex(std::string_view text);
// The same into `out`, which has room for text.size() / 2 bytes.
void unhex(std::string_view text, uint8_t* out);
