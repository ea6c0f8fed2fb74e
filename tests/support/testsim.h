// Test support for tests against the market simulator. Header-only, so test
// executables that never include it do not depend on the simulator.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>

#include "sim.h"
#include "sim_live.h"
#include "ssmodel.h"
#include "sstime.h"

// A wall clock standing at the test simulator's day, 12 March 2014, 11:00
// local (for ClientRuntime).
inline time_t sim_day_wall() {
  static const time_t t = [] {
    tm parts = {};
    parts.tm_year = 2014 - 1900;
    parts.tm_mon = 2;
    parts.tm_mday = 12;
    parts.tm_hour = 11;
    parts.tm_isdst = -1;
    return mktime(&parts);
  }();
  return t;
}

// A simulator with the options `o`, not yet started, with the user
// alice/secret and no exchanges. Call through ASSERT_NO_FATAL_FAILURE.
inline void make_alice_sim(sim_server** out, const sim_options& o = sim_options{}) {
  sim_server* sim = *out = sim_create(o);
  sim_user u;
  u.name = "alice";
  u.password = "secret";
  ASSERT_EQ(0, sim_add_user(sim, u));
}

// Exchange `index` under its own name on 12 March 2014 at `time`, in trading
// state `state`.
inline sim_exchange test_exchange(uint32_t index, ss_time time, uint8_t state, bool brokers = false) {
  sim_exchange e;
  e.index = index;
  e.name = ssmodel_exchange_name(static_cast<int32_t>(index));
  e.date = sstime_pack_date(12, 3, 2014);
  e.time = time;
  e.state = state;
  e.brokers = brokers;
  return e;
}

// A simulator, not yet started, named "ambit-sim", with the user
// alice/secret and the four exchanges on 12 March 2014 at 11:00, each in
// trading state `state`; their clocks run by `clock_ms` (null: the steady
// clock). Call through ASSERT_NO_FATAL_FAILURE.
inline void make_test_sim(sim_server** out, uint8_t state, int64_t (*clock_ms)(void) = nullptr) {
  sim_options o;
  o.name = "ambit-sim";
  o.clock_ms = clock_ms;
  ASSERT_NO_FATAL_FAILURE(make_alice_sim(out, o));
  for (uint32_t i = 0; i < 4; i++)
    ASSERT_EQ(0, sim_add_exchange(*out, test_exchange(i, sstime_pack(0, 0, 11, 12, 3, 2014), state)));
}

// The local time now as the simulator program reads it (date and time).
inline ss_time sim_local_now() {
  const time_t wall = time(nullptr);
  struct tm tm;
  localtime_r(&wall, &tm);
  return sstime_pack(tm.tm_sec, tm.tm_min, tm.tm_hour, tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
}

// A simulator, not yet started, as the simulator program builds it: the user
// alice/secret and the four exchanges on today's date at the local time now,
// ASX with brokers, each in trading state `state`. Call through
// ASSERT_NO_FATAL_FAILURE.
inline void make_today_sim(sim_server** out, uint8_t state) {
  sim_server* sim = *out = sim_create(sim_options{});
  sim_user u;
  u.name = "alice";
  u.password = "secret";
  ASSERT_EQ(0, sim_add_user(sim, u));
  const ss_time now = sim_local_now();
  for (uint32_t i = 0; i < 4; i++) {
    sim_exchange e;
    e.index = i;
    e.name = ssmodel_exchange_name(static_cast<int32_t>(i));
    e.date = now & ~kSstimeSecondsMask;
    e.time = now;
    e.brokers = i == 0;
    e.state = state;
    ASSERT_EQ(0, sim_add_exchange(sim, e));
  }
}

// make_today_sim in trading state 50 with the live market on ASX (brokers
// on) of `stocks` stocks at `rate` messages a second from `seed`, started
// on a free loopback port (*port). Call through ASSERT_NO_FATAL_FAILURE.
inline void start_live_today_sim(sim_server** sim, sim_live** live, uint32_t rate, uint64_t seed, uint32_t stocks,
                                 int* port) {
  ASSERT_NO_FATAL_FAILURE(make_today_sim(sim, 50));
  sim_live_options lo;
  lo.index = 0;
  lo.brokers = true;
  lo.rate = rate;
  lo.seed = seed;
  lo.stocks = stocks;
  *live = sim_live_start(*sim, lo);
  ASSERT_NE(nullptr, *live);
  *port = sim_start(*sim, 0);
  ASSERT_GT(*port, 0);
}
