// Test support for comparing a client's book with the market simulator's: a
// side of a stock in the simulator's level form, with each order's broker.
// Header-only, so test executables that never include it do not depend on
// the simulator.
#pragma once
#include <vector>

#include "sim.h"
#include "ssbroker.h"
#include "ssmodel.h"

inline std::vector<sim_level> client_book(const ss_stock* s, int side) {
  std::vector<sim_level> out;
  for (const ss_depth_level* l = s->levels[side]; l; l = l->next) {
    sim_level v;
    v.price = l->price;
    for (const ss_depth_order* o = l->orders; o; o = o->next) {
      v.orders.push_back(o->volume);
      v.brokers.push_back(o->broker ? o->broker->code : "");
    }
    out.push_back(v);
  }
  return out;
}

// The simulator's levels against the client's: prices, order volumes and,
// where the simulator kept brokers, the brokers.
inline void expect_same_book(const std::vector<sim_level>& want, const std::vector<sim_level>& got) {
  ASSERT_EQ(want.size(), got.size());
  for (size_t i = 0; i < got.size(); i++) {
    EXPECT_EQ(want[i].price, got[i].price) << "level " << i;
    EXPECT_EQ(want[i].orders, got[i].orders) << "level " << i;
    if (!want[i].brokers.empty()) {
      EXPECT_EQ(want[i].brokers, got[i].brokers) << "level " << i;
    }
  }
}
