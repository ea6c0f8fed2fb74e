// The data cache: market data the server sent, kept in files of the data
// directory's Cache/Data folder so that it need not be fetched again.
// Minimal version: replaced when the data cache is built.
#pragma once
#include <cstdint>

#include "sstime.h"

struct instr;
struct ss_index;
struct ss_stock;

// Loads answer 0 when the cache supplied the data (now in the model) and -1
// on a miss, so that the caller asks the server. Io thread, core lock held.
// Minimal version: replaced when the data cache is built.
int sscache_load_stock_history(ss_stock* stock);
int sscache_load_index_history(ss_index* index);
int sscache_load_news_history(instr* in);
int sscache_load_prevday(ss_stock* stock, ss_time date);
int sscache_load_prevday_trades(ss_stock* stock, ss_time date, int simple);
int sscache_load_prevday_index(ss_index* index, ss_time date);

// Start and stop (the model's life cycle) and the hourly trim of the cache
// folders (the exchange's daily reset).
// Minimal version: replaced when the data cache is built.
int sscache_init(void);
void sscache_fini(void);
void sscache_trim_hourly(void);
