// Built-in cut-over dates at which the exchanges' rules or the server's data
// changed, the tests that decoders and request senders ask instead of
// comparing dates themselves, the start hour of the exchange day, and the
// rewriting of trade conditions between the wire and the model bit layouts.
#pragma once
#include <cstdint>

#include "sstime.h"

// Model-layout trade condition flags that the wire of some exchanges carries
// in other bits.
constexpr uint64_t kTradeLargePortfolio = 1ull << 61;
constexpr uint64_t kTradeLargePrinciple = 1ull << 62;
constexpr uint64_t kTradeOtc = 1ull << 63;

// Sets the sixteen cut-over dates. Needs nothing else started. Always 0.
int kludge_init(void);
void kludge_fini(void);

// Each test takes a packed time and answers 1 or 0. "Before" and "on or
// before" compare dates only, whatever the time of day.
int kludge_within_20070501(ss_time t);  // on/after 2007-05-01, before 2007-07-27
int kludge_after_20080304(ss_time t);   // on/after 2008-03-04
// Before 2009-06-10, or exactly 2009-06-15 00:00:00 or 2009-06-16 00:00:00.
int kludge_before_20090610(ss_time t);
int kludge_within_20090612(ss_time t);  // on/after 2009-06-12, on/before 2009-06-23
int kludge_before_20100606(ss_time t);  // before 2010-06-06
// 1 when t is 2010-06-28 10:13:20 to 10:13:40 inclusive and the index code is
// one of the main indices whose ticks were wrong then (whole codes only).
int kludge_is_main_index(ss_time t, const char* index_code);
// The start of the exchange day of t's date: 08:00:00 before 2013-02-01,
// 07:00:00 from then on.
ss_time kludge_day_start(ss_time t);
// 1 for exchange 0 on 2014-02-10, whose trades must be fetched as events.
int kludge_is_20140210(int32_t exchange, ss_time date);
// Limits of the history periods that are fetched again.
ss_time kludge_date_20140211(void);
ss_time kludge_date_20140221(void);
ss_time kludge_date_20140429(void);
ss_time kludge_date_20140515(void);

// Rewrites trade conditions received for a stock (exchange index, code) into
// the model layout, in place.
void kludge_trade_in(int32_t exchange, const char* code, uint64_t* conditions);
// The model-layout conditions of a stock back in its exchange's wire layout;
// flags the wire layout cannot carry are dropped with an ERROR line.
uint64_t kludge_trade(int32_t exchange, const char* code, uint64_t conditions);
