// Hand-made message bytes after the codec's layouts (not with its writers),
// for known-answer tests of the dispatcher's handlers.
#pragma once
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "sstime.h"

namespace testwire {

using Bytes = std::vector<uint8_t>;

// Instrument code, form 1 (up to three capitals): 1, then three 5-bit
// alphabet indices (A = 1).
inline Bytes code3(const char* c) {
  const size_t n = strlen(c);
  uint32_t v = 1;
  for (size_t i = 0; i < 3; i++) v = v << 5 | (i < n ? uint32_t(c[i] - 'A' + 1) : 0);
  return {uint8_t(v >> 8), uint8_t(v)};
}

// Timed header: code relation 3 (a packed code follows), the time flag, the
// type in the head byte or, from 32 on, in the next one; then code and time.
inline Bytes header(uint32_t type, const char* code, ss_time time) {
  Bytes b = {uint8_t(0xC0 | 0x20 | (type < 32 ? type : 0))};
  if (type >= 32) b.push_back(uint8_t(type));
  Bytes c = code3(code);
  b.insert(b.end(), c.begin(), c.end());
  for (int i = 3; i >= 0; i--) b.push_back(uint8_t(time >> (8 * i)));
  return b;
}

// Price, plain form: 0001 and the low 4 bits, then p >> 4, p >> 12, p >> 20.
inline Bytes plain(uint32_t p) {
  return {uint8_t(0x10 | (p & 15)), uint8_t(p >> 4), uint8_t(p >> 12), uint8_t(p >> 20)};
}
// Volume, two-byte form: 100 and the low 5 bits, then v >> 5 (below 8192).
inline Bytes vol(uint32_t v) { return {uint8_t(0x80 | (v & 31)), uint8_t(v >> 5)}; }

// vint: one byte below 0x80, two below 2^14, else 0xF0 and 32 bits.
inline Bytes vint(uint32_t v) {
  if (v < 0x80) return {uint8_t(v)};
  if (v < (1u << 14)) return {uint8_t(0x80 | (v & 0x3F)), uint8_t(v >> 6)};
  return {uint8_t(0xF0), uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace testwire
