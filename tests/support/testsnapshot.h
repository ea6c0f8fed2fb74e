// Test support for the exchange snapshot: a stock and an index of the model
// compared field by field with the generated records they were loaded from
// (sim_snapshot.h). Header-only; call through ASSERT_NO_FATAL_FAILURE or
// check HasFailure() after.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim_snapshot.h"
#include "ssbroker.h"
#include "ssmodel.h"

inline void expect_snapshot_stock(const ss_stock* s, const sim_snap_stock& g, int32_t speed) {
  SCOPED_TRACE(g.code);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(speed, s->speed);
  EXPECT_EQ(g.close, s->close);
  EXPECT_EQ(g.open, s->open);
  EXPECT_EQ(g.high, s->high);
  EXPECT_EQ(g.low, s->low);
  EXPECT_EQ(g.last, s->last);
  EXPECT_EQ(g.first, s->first_price);
  EXPECT_EQ(g.volume, s->volume);
  EXPECT_EQ(g.value, s->value);
  EXPECT_EQ(g.volume2, s->second_volume);
  EXPECT_EQ(g.value2, s->second_value);
  EXPECT_EQ(g.trades, s->trade_count);
  EXPECT_EQ(g.trade_time, s->last_trade_time);
  EXPECT_EQ(g.totals, (s->flags & kInOutOfOrder) != 0);
  for (int side = 0; side < 2; side++) {
    SCOPED_TRACE(side ? "offers" : "bids");
    const ss_depth_level* l = s->levels[side];
    for (const sim_snap_level& w : g.sides[side]) {
      ASSERT_NE(nullptr, l);
      EXPECT_EQ(w.price, l->price);
      if (g.totals) {
        EXPECT_EQ(w.count, l->count);
        EXPECT_EQ(w.orders[0], l->volume);
      } else {
        std::vector<uint64_t> got;
        std::vector<std::string> brokers;
        for (const ss_depth_order* o = l->orders; o; o = o->next) {
          got.push_back(o->volume);
          brokers.push_back(o->broker ? o->broker->code : "");
        }
        EXPECT_EQ(w.orders, got);
        if (!w.brokers.empty()) EXPECT_EQ(w.brokers, brokers);
      }
      l = l->next;
    }
    EXPECT_EQ(nullptr, l);
    EXPECT_EQ(g.sides[side].empty() ? 0 : g.sides[side][0].price, side ? s->offer : s->bid);
  }
  EXPECT_EQ(g.auction_price, s->auction.price);
  EXPECT_EQ(g.auction_price ? g.auction_volume : 0, s->auction.matched);
  EXPECT_EQ(g.surplus, s->auction.surplus);
  EXPECT_EQ(g.auction_bid, s->auction.bid_price);
  EXPECT_EQ(g.auction_bid_volume, s->auction.bid_volume);
  EXPECT_EQ(g.auction_offer, s->auction.offer_price);
  EXPECT_EQ(g.auction_offer_volume, s->auction.offer_volume);
  EXPECT_EQ(g.state, s->state);
  EXPECT_EQ(g.basis, s->quote_basis);
  EXPECT_EQ(g.resume, s->resume_time);
  EXPECT_EQ(g.balance, s->open_balance);
  EXPECT_TRUE(s->flags & kInCurrent);
}

inline void expect_snapshot_index(const ss_index* x, const sim_snap_index& g, int32_t speed) {
  SCOPED_TRACE(g.code);
  ASSERT_NE(nullptr, x);
  EXPECT_EQ(speed, x->speed);
  EXPECT_EQ(g.base, x->base);
  EXPECT_EQ(g.open, x->open);
  EXPECT_EQ(g.high, x->high);
  EXPECT_EQ(g.low, x->low);
  EXPECT_EQ(g.value, x->value);
  EXPECT_EQ(g.time, x->last_tick_time);
  EXPECT_EQ(g.value ? static_cast<int32_t>(g.value - g.base) : 0, x->change);
  EXPECT_TRUE(x->flags & kInCurrent);
}
