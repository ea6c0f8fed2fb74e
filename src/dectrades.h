// Trade lists: groups of trades at one price, as the recent-trades, all-trades
// and past-day answers carry them, and single cancellations or amendments.
// Readers run on the io thread under the core lock. The minute-bar mode and
// the open bar record are process-wide and used under the same lock.
#pragma once
#include <cstdint>

#include "ssmodel.h"
#include "sstime.h"

constexpr uint32_t kTradeBarsMax = 600;
constexpr uint8_t kTradeFlagDefault = 142;  // a trade sent without a flag block
constexpr int32_t kTradeAmendFullVersion = 4;  // amendments carry totals from here
constexpr int32_t kTradeGroupsRecentMax = 10;  // fewer groups: the list was all there is

// One minute of a past day's trades.
struct ss_day_bar {
  ss_time time;  // the first trade's packed time in the minute
  uint32_t open, high, low, close;
  uint32_t pad;
  uint64_t volume;
};

struct ss_day_bars {
  uint32_t count;  // at most kTradeBarsMax
  ss_day_bar bars[kTradeBarsMax];
};

// One group at *ref (the running price) and *running (the running time),
// both moved on success. brokers: each trade carries its buyer and seller.
// skip: the fields are read and nothing is applied. Bytes used, or -1 (a
// group is always framed whole, so one cut short is bad like a bad field or a
// trade the model refused; nothing of a cut or bad group is applied and the
// references stay as they were).
int dectrades_decode_one(const uint8_t* data, int32_t n, ss_stock* stock, uint32_t* ref, ss_time* running, int brokers,
                         int skip);
// The stock's recent trades and all its trades of the day. Both replace the
// stock's trade list. n when every group was read, -1 (after an ERROR line
// naming the stock) when a group fails: the stock's loaded bits are then
// left as they were.
int dectrades_decode_recent(ss_stock* stock, const uint8_t* data, int32_t n);
int dectrades_decode_all(ss_stock* stock, const uint8_t* data, int32_t n);
// A past day's trades, folded into minute bars (and, unless in bars-only
// mode, added to the stock). n or -1.
int dectrades_decode_prevday(ss_stock* stock, ss_time date, const uint8_t* data, int32_t n);
// A cancellation (version below 4) or an amendment with the stock's new
// totals. Bytes used, 0 short, -1 bad.
int dectrades_decode_amend(ss_stock* stock, ss_time time, const uint8_t* data, int32_t n, int32_t version);
// 1: bars only (past-day trades are not added to stocks); 0: normal.
void dectrades_set_mode(int bars_only);
// The bar record filled so far, or null; the caller owns it
// (ssevent_free_day_record) and the reader forgets it.
ss_day_bars* dectrades_take_bars(void);
