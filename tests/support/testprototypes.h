// Test support: the protocol's list of message types, written from the
// protocol's own table rather than the dispatcher's, for the tests that hold
// the dispatcher to it. Header-only.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <set>
#include <utility>

// The types of the inclusive ranges given.
inline std::set<uint32_t> proto_type_span(std::initializer_list<std::pair<uint32_t, uint32_t>> ranges) {
  std::set<uint32_t> out;
  for (auto [lo, hi] : ranges)
    for (uint32_t t = lo; t <= hi; t++) out.insert(t);
  return out;
}

// Types without a handler.
inline const std::set<uint32_t> kProtoUnknownTypes = proto_type_span(
    {{0, 0},     {43, 43},   {47, 47},   {73, 74},   {77, 79},   {84, 89},   {92, 99},   {106, 109},
     {112, 119}, {123, 129}, {134, 139}, {145, 149}, {152, 159}, {163, 164}, {168, 169}, {175, 179},
     {182, 189}, {197, 199}, {207, 209}, {215, 219}, {224, 229}, {232, 239}, {243, 250}});

// Types of an exchange's data stream, which advance its position.
inline const std::set<uint32_t> kProtoCountingTypes = proto_type_span(
    {{1, 39},    {57, 58},   {60, 63},   {68, 68},   {70, 72},   {80, 83},   {90, 90},   {121, 121},
     {130, 133}, {160, 162}, {166, 166}, {170, 174}, {180, 181}, {200, 206}, {220, 223}, {230, 231}});
