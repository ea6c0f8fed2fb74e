// Test support for the chart modules: hand-made model records (trades,
// value points, news, linked lists of them) hung on bare instruments, for
// the fills and the computations that read an instrument's data.
#pragma once
#include <vector>

#include "ssmodel.h"

// Links the records oldest first into a model list (count, head, tail). The
// vector must outlive the list and not grow after.
template <class T, class L>
void link_list(std::vector<T>& v, L* list) {
  for (size_t i = 0; i < v.size(); i++) {
    v[i].prev = i ? &v[i - 1] : nullptr;
    v[i].next = i + 1 < v.size() ? &v[i + 1] : nullptr;
  }
  list->count = (uint32_t)v.size();
  list->head = v.empty() ? nullptr : &v.front();
  list->tail = v.empty() ? nullptr : &v.back();
}

inline ss_trade make_trade(ss_time t, uint32_t price, uint64_t qty, uint64_t bits) {
  ss_trade x{};
  x.time = t;
  x.price = price;
  x.volume = qty;
  x.bits = bits;
  return x;
}

inline ss_tick make_tick(ss_time t, uint32_t value) {
  ss_tick k{};
  k.time = (int32_t)t;
  k.value = value;
  return k;
}

inline ss_news make_news(ss_time t, uint32_t flags, uint32_t code) {
  ss_news n{};
  n.time = t;
  n.flags = flags;
  n.codes[0] = code;
  return n;
}
