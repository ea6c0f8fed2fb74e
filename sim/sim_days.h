// Past days of the simulator's market: a stock's trades and an index's ticks
// of a day before the exchange's date, generated from the seed, the
// instrument and the date (the same arguments always give the same day), and
// the replies to the requests that ask for them (63 one day of trades, 64 a
// run of days, 70 an index's day). A stock's generated day opens and closes
// at its generated daily history's prices of that date.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "growbuf.h"
#include "sim.h"
#include "sstime.h"

constexpr int kSimDayTrades = 120;  // trades of a generated past day
constexpr int kSimDayTickStep = 60;  // seconds between an index's generated ticks

// The trades of `code` on the weekday `date` (none on a weekend), oldest
// first, between 10:00 and 16:00. `close` as sim_stock_history takes it.
std::vector<sim_trade> sim_day_trades(uint64_t seed, uint32_t index, const std::string& code, ss_time exchange_date,
                                      ss_time date, uint32_t close = 0);
struct sim_index_tick {
  ss_time time;
  uint32_t value;
};
// The ticks of index `code` on the weekday `date`, one a minute from 10:00
// to 16:00, each a new value.
std::vector<sim_index_tick> sim_index_day(uint64_t seed, uint32_t index, const std::string& code,
                                          ss_time exchange_date, ss_time date);

// The ticks as an index's day is written (the first with its value, then
// each as a change from the one before), appended to rec: the payload of a
// 103 reply and of a 101 backfill. 0, or -1 (rec as it was).
int sim_index_ticks(growbuf* rec, const std::vector<sim_index_tick>& ticks);

// The replies to request `e` (kind 63, 64 or 70) appended to gb: message 104
// for each weekday asked for (a stock's trades of that date) or 103 (an
// index's day); nothing for a weekend or a date not before the exchange's
// date. 0, or -1 after an ERROR line (another kind, a writer's refusal), gb
// as it was. `close`: the stock's previous close, as sim_stock_history takes it.
int sim_answer_days(growbuf* gb, const sim_entry& e, uint64_t seed, ss_time exchange_date, uint32_t close = 0);
