// The data cache: market data the server sent, kept in files of the data
// directory's Cache/Data folder so that it need not be fetched again.
// Histories and news summaries are stored as the record bytes the server's
// messages carried; previous days as the saved messages themselves.
//
// Every operation runs on the io thread with the core lock held (request
// encoding, dispatch, daily reset, sign-on and sign-off), except
// sscache_remove_all (the configuration upgrade, before the io thread
// starts): the one cache buffer is never used by two threads at once.
#pragma once
#include <cstdint>

#include "sstime.h"

struct instr;
struct ss_exchange;
struct ss_index;
struct ss_stock;

// File kinds: the first field of a cache file's name.
enum sscache_kind : int {
  kCachePrevdayTrades = 1,
  kCachePrevdayStock = 2,
  kCachePrevdayIndex = 3,
  kCacheStockHistory = 4,
  kCacheIndexHistory = 5,
  kCacheNewsHistory = 6,
  kCacheNewsSummary = 7,
  kCacheFun = 8,
};

constexpr int kCacheNameSize = 32;         // a name and its NUL; longer names are no cache files
constexpr int kCacheNewsSummaryMax = 32;   // news summary files loaded per exchange
constexpr int32_t kCacheStaleDays = 30;    // a history older than this is removed after loading
constexpr int32_t kCacheFileMax = 64 * 1024 * 1024;  // larger files are refused as damaged
constexpr int32_t kCacheBufferSize = 1000000;
constexpr int32_t kCacheBufferStep = 500000;

// Names ------------------------------------------------------------------------

// Whether an instrument code may be part of a file name: at most 11
// characters, none of them '/', '\\', ';' or a control character (nor
// anything above '~'), and no leading '.'. Codes from the wire may hold any
// byte; the others are never cached, and their loads miss.
int sscache_code_ok(const char* code);
// "%d;%d;%s;" of kind, exchange and code (empty for none), then "yymmdd"
// when date is not 0, into out (kCacheNameSize bytes). 0, or -1 for a code
// that may not be cached or a date outside 2000-2099.
int sscache_name(char* out, int kind, int exchange, const char* code, ss_time date);
// The fields of a name (code kCodeSize bytes; date 0 when none; exchange 4
// when the field is empty). 0, or -1 for anything sscache_name cannot write.
int sscache_parse_name(const char* name, int* kind, char* code, int* exchange, ss_time* date);
// Orders names by date; names that do not parse come first.
int sscache_compare_names(const char* a, const char* b);

// Life ---------------------------------------------------------------------------

// Makes the cache buffer and installs sscache_trim as the data directory's
// trim hook. Called by the model's init. 0, or -1 after "can't init cache space".
int sscache_init(void);
void sscache_fini(void);

// Files --------------------------------------------------------------------------

// Reads the Cache/Data file into the cache buffer: 0, or -1 (a missing file
// without a message). A file above kCacheFileMax is removed as damaged.
int sscache_read(const char* name);
// The buffer's bytes after a read; valid until the next cache operation.
const uint8_t* sscache_buffer(int32_t* length);
// Writes one file whole: 0, or -1 after WARN "can't save %s %s". `in` may be
// null (exchange-wide kinds).
int sscache_save(const char* label, int kind, const instr* in, int exchange, ss_time date, const void* data,
                 int32_t length);

// Saves. With no data root they do nothing and return 0.
int sscache_save_prevday_trades(ss_stock* stock, ss_time date, const void* data, int32_t length);
int sscache_save_prevday_stock(ss_stock* stock, ss_time date, const void* data, int32_t length);
int sscache_save_prevday_index(ss_index* index, ss_time date, const void* data, int32_t length);
int sscache_save_news_summary(ss_exchange* ex, ss_time date, const void* data, int32_t length);
int sscache_save_stock_history(ss_stock* stock, const void* data, int32_t length);
int sscache_save_index_history(ss_index* index, const void* data, int32_t length);
int sscache_save_news_history(instr* in, const void* data, int32_t length);

// Loads answer 0 when the cache supplied the data (now in the model) and -1
// on a miss (or no data root), so that the caller asks the server. Cached
// bytes are decoded with the protocol's replay flag set, so nothing loaded is
// saved again; a file that does not decode is removed.
int sscache_load_stock_history(ss_stock* stock);
int sscache_load_index_history(ss_index* index);
int sscache_load_news_history(instr* in);
int sscache_load_prevday(ss_stock* stock, ss_time date);
int sscache_load_prevday_trades(ss_stock* stock, ss_time date, int simple);
int sscache_load_prevday_index(ss_index* index, ss_time date);
// The exchange's news summary files (at most kCacheNewsSummaryMax) in date
// order. 0 (also with no data root), or -1 when the folder cannot be listed.
int sscache_load_news_summaries(ss_exchange* ex);

// Fundamentals: one undated file per exchange ("8;<exchange>;;"). The load
// applies each exchange's file under the replay flag, removes a file that
// does not read whole, and sleeps 10 ms with the core lock released after
// each exchange it loaded; it answers 0 (also with no data root). The save
// writes every exchange that has a fundamentals date (nothing while
// replaying); 0, or -1 when a file could not be written (it is removed).
// The client loads them when it first comes online and saves them when it is
// signed off.
int sscache_load_fun(void);
int sscache_save_fun(void);

// Forgetting and ageing ----------------------------------------------------------

// Removes every file of that kind and exchange (and code, when not null),
// whatever its date. The wrappers take an instrument's code and exchange.
int sscache_forget(int kind, const char* code, int exchange);
int sscache_forget_prevday_trades(const instr* in);
int sscache_forget_prevday_stock(const instr* in);
int sscache_forget_prevday_index(const instr* in);
int sscache_forget_stock_history(const instr* in);
int sscache_forget_index_history(const instr* in);
int sscache_forget_news_history(const instr* in);
// Removes every file whose name carries exactly this date.
int sscache_remove_all(ss_time date);
// Removes the dated files dated before today minus `days` whose status
// changed more than 12 hours ago (the data directory's size trim).
int sscache_trim(int32_t days);
// Removes the regular files of a folder whose status changed more than
// `days` days ago; in Cache/Data fundamentals files are kept.
int sscache_trim_dir(uint32_t dir, int32_t days);
// At most once an hour: Data 32 days, Announcements 7, Profiles, Research and
// Temp 1.
void sscache_trim_hourly(void);
