// Test support for the depth window's tests: the live price steps of the
// table's and the bars' models read into plain records, so that a test can
// compare them with a reference book (orders in vectors, the simulator's
// levels). Header-only.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "windows/depthbars.h"
#include "windows/depthtable.h"

// One price step: its order count, volume and value (table) or the live
// orders' volumes in queue order (bars; empty for the table).
struct DepthStep {
  uint32_t step, count;
  uint64_t volume, value;
  std::vector<uint64_t> orders;
  bool operator==(const DepthStep &o) const {
    return step == o.step && count == o.count && volume == o.volume && value == o.value && orders == o.orders;
  }
};
inline void PrintTo(const DepthStep &s, std::ostream *os) {
  *os << s.count << "@" << s.step << "=" << s.volume << "/" << s.value << "[";
  for (uint64_t v : s.orders) *os << " " << v;
  *os << " ]";
}

// The steps of a table list with orders in them (a row fading out is not).
inline std::vector<DepthStep> table_steps(depthwin_child *t, int list) {
  uint32_t n;
  const depthtbl_row *r = depthtbl_rows(t, list, &n);
  std::vector<DepthStep> out;
  for (uint32_t i = 0; i < n; i++)
    if (r[i].count) out.push_back({r[i].step, r[i].count, r[i].volume, r[i].value, {}});
  return out;
}

// The bars with live orders, each with its live blocks' volumes (value 0).
inline std::vector<DepthStep> bar_steps(depthwin_child *b, int list) {
  std::vector<DepthStep> out;
  for (uint32_t i = 0; i < depthbars_count(b, list); i++) {
    depthbars_bar x;
    depthbars_bar_at(b, list, i, &x);
    if (!x.count) continue;
    DepthStep s{x.step, x.count, x.volume, 0, {}};
    uint32_t n;
    const depthbars_block *blk = depthbars_blocks(b, list, i, &n);
    for (uint32_t k = 0; k < n; k++)
      if (blk[k].live) s.orders.push_back(blk[k].volume);
    out.push_back(s);
  }
  return out;
}

// What the table and the bars must hold for a side given as (price,
// volume) orders in queue order, grouped by `group`.
template <class Orders>
inline void expected_steps(const Orders &orders, uint32_t group, std::vector<DepthStep> *table,
                           std::vector<DepthStep> *bars) {
  table->clear();
  bars->clear();
  for (const auto &[price, volume] : orders) {
    uint32_t step = depthwin_step_of(price, group);
    if (table->empty() || table->back().step != step) {
      table->push_back({step, 0, 0, 0, {}});
      bars->push_back({step, 0, 0, 0, {}});
    }
    for (auto *v : {&table->back(), &bars->back()}) {
      v->count++;
      v->volume += volume;
    }
    table->back().value += depthtbl_value(1, price, volume);
    bars->back().orders.push_back(volume);
  }
}
