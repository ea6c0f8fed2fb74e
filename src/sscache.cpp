// The data cache: names, stores, finds, loads and ages the files of
// Cache/Data that hold histories, previous days, news summaries and
// fundamentals.
//
// Minimal version: replaced when the data cache is built. It holds only the
// loads the request encoder tries first, and every one of them misses, so
// every request goes to the server.
#include "sscache.h"

// Minimal version: replaced when the data cache is built.
int sscache_load_stock_history(ss_stock* stock) {
  (void)stock;
  return -1;
}

// Minimal version: replaced when the data cache is built.
int sscache_load_index_history(ss_index* index) {
  (void)index;
  return -1;
}

// Minimal version: replaced when the data cache is built.
int sscache_load_news_history(instr* in) {
  (void)in;
  return -1;
}

// Minimal version: replaced when the data cache is built.
int sscache_load_prevday(ss_stock* stock, ss_time date) {
  (void)stock;
  (void)date;
  return -1;
}

// Minimal version: replaced when the data cache is built.
int sscache_load_prevday_trades(ss_stock* stock, ss_time date, int simple) {
  (void)stock;
  (void)date;
  (void)simple;
  return -1;
}

// Minimal version: replaced when the data cache is built.
int sscache_load_prevday_index(ss_index* index, ss_time date) {
  (void)index;
  (void)date;
  return -1;
}

// Minimal version: replaced when the data cache is built. Nothing is cached,
// so there is no buffer to make or free and nothing to trim.
int sscache_init(void) { return 0; }

// Minimal version: replaced when the data cache is built.
void sscache_fini(void) {}

// Minimal version: replaced when the data cache is built.
void sscache_trim_hourly(void) {}
