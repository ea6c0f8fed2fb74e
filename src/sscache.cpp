// The data cache: names, stores, finds, loads and ages the files of
// Cache/Data that hold histories, previous days, news summaries and
// fundamentals.
//
// A file's name is its key: "kind;exchange;code;" and, for dated kinds,
// "yymmdd". Codes come from the wire and may hold any byte, so a code that
// could leave the folder or make a name the parser refuses is never cached.
// Everything read back goes through the same readers as the live stream,
// under the protocol's replay flag, so a load is never saved again. Ages
// are measured on the time module's wall clock, so tests can move it.
#include "sscache.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decfun.h"
#include "decsum.h"
#include "dectrades.h"
#include "dechist.h"
#include "growbuf.h"
#include "localdata.h"
#include "log.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssproto.h"

static const char kSrc[] = "src/sscache";

namespace {

constexpr int kKindFirst = 1;
constexpr int kKindLast = 8;
constexpr int kNoExchange = 4;       // an empty exchange field
constexpr int32_t kTrimGrace = 43200;  // seconds a file is safe from the size trim
constexpr int32_t kDaySeconds = 86400;
constexpr ss_time kHourlyStep = 3600;
constexpr int32_t kFunPauseMs = 10;  // the io thread lets the interface in after each exchange

struct hourly_dir {
  uint32_t dir;
  int32_t days;
};
constexpr hourly_dir kHourly[] = {{LOCALDATA_DATA, 32},
                                  {LOCALDATA_ANNOUNCEMENTS, 7},
                                  {LOCALDATA_PROFILES, 1},
                                  {LOCALDATA_RESEARCH, 1},
                                  {LOCALDATA_TEMP, 1}};

const char* const kLabels[] = {"",        "prevday trades", "prevday stock", "prevday index", "stock history",
                               "index history", "news history", "news summary", "fun"};

struct {
  growbuf buf;
  bool ready;
  ss_time last_trim;
} C;

// Sets the replay flag for a scope and puts the old state back.
class replay_guard {
 public:
  replay_guard() : was_(ssproto_replaying()) { ssproto_set_replay(); }
  ~replay_guard() {
    if (!was_) ssproto_set_live();
  }
  replay_guard(const replay_guard&) = delete;
  replay_guard& operator=(const replay_guard&) = delete;

 private:
  int was_;
};

bool is_digits(const char* s, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

ss_time today(void) { return sstime_now() & ~kSstimeSecondsMask; }

char* date_text(char* buf, ss_time date) {
  if (!date) {
    buf[0] = '\0';
    return buf;
  }
  return sstime_format_date_into(buf, date);
}

int exchange_of(const instr* in) { return in && in->exchange ? static_cast<int>(in->exchange->index) : 0; }

// The status-change time of a file of `dir`, or -1.
int64_t status_time(uint32_t dir, const char* name, bool* regular) {
  char path[kLocaldataPathMax];
  struct stat st;
  if (localdata_path_into(path, dir, name) < 0 || lstat(path, &st) < 0) return -1;
  *regular = S_ISREG(st.st_mode);
  return static_cast<int64_t>(st.st_ctime);
}

// Every name of Cache/Data; false when the folder cannot be listed.
bool list_names(uint32_t dir, std::vector<std::string>* out) {
  localdata_dirent* list = nullptr;
  if (localdata_list(&list, dir) < 0) return false;
  char name[kLocaldataNameMax];
  while (localdata_list_next(&list, name)) out->push_back(name);
  return true;
}

// A file of Cache/Data whose name parses, with its fields.
struct cache_file {
  const char* name;
  int kind;
  int exchange;
  char code[kCodeSize];
  ss_time date;
};

// Calls fn for every file of Cache/Data whose name parses, until fn returns
// false. False when the folder cannot be listed.
template <class F>
bool each_file(F fn) {
  std::vector<std::string> all;
  if (!list_names(LOCALDATA_DATA, &all)) return false;
  for (const std::string& n : all) {
    cache_file f;
    f.name = n.c_str();
    if (sscache_parse_name(f.name, &f.kind, f.code, &f.exchange, &f.date) < 0) continue;
    if (!fn(f)) break;
  }
  return true;
}

bool file_exists(const char* name) {
  uint32_t size = 0;
  return localdata_read_into(LOCALDATA_DATA, name, nullptr, &size) == 0;
}

// The name of an instrument's file, or false (no data root, unsafe code).
bool instr_name(char* name, int kind, const instr* in, ss_time date) {
  return localdata_ready() && in && sscache_name(name, kind, exchange_of(in), in->code, date) == 0;
}

// Reads, decodes under the replay flag and removes a file that fails:
// 1 decoded, 0 missing, -1 removed.
template <class Decode>
int load_file(const char* name, Decode decode) {
  if (sscache_read(name) < 0) return 0;
  int r;
  {
    replay_guard replay;
    r = decode(C.buf.data, C.buf.len);
  }
  if (r < 0) {
    localdata_remove(LOCALDATA_DATA, name);
    return -1;
  }
  return 1;
}

// After a history load: removes the file when the newest entry is stale.
void drop_if_stale(const char* name, const char* code, ss_time newest) {
  if (!newest) return;
  ss_time cutoff = sstime_sub_days(today(), kCacheStaleDays);
  if (sstime_date_compare(newest, cutoff) < 0) {
    log(LOG_WARN, kSrc, "removing stale %s history", code);
    localdata_remove(LOCALDATA_DATA, name);
  }
}

}  // namespace

// ===========================================================================
// Names

int sscache_code_ok(const char* code) {
  if (!code) return 0;
  size_t n = strnlen(code, kCodeSize);
  if (n > static_cast<size_t>(kCodeMax)) return 0;
  if (n && code[0] == '.') return 0;
  for (size_t i = 0; i < n; i++) {
    unsigned char ch = static_cast<unsigned char>(code[i]);
    if (ch < 0x20 || ch > 0x7E || ch == '/' || ch == '\\' || ch == ';') return 0;
  }
  return 1;
}

int sscache_name(char* out, int kind, int exchange, const char* code, ss_time date) {
  out[0] = '\0';
  if (kind < kKindFirst || kind > kKindLast || exchange < 0 || exchange > 3 || !sscache_code_ok(code ? code : ""))
    return -1;
  int n = snprintf(out, kCacheNameSize, "%d;%d;%s;", kind, exchange, code ? code : "");
  if (date) {
    sstime_parts p;
    if (sstime_unpack(&p, date) < 0 || p.year < 2000 || p.year > 2099) {
      out[0] = '\0';
      return -1;
    }
    n += snprintf(out + n, kCacheNameSize - n, "%02d%02d%02d", p.year - 2000, p.mon, p.mday);
  }
  return n < kCacheNameSize ? 0 : -1;
}

int sscache_parse_name(const char* name, int* kind, char* code, int* exchange, ss_time* date) {
  size_t len = strnlen(name, kCacheNameSize);
  if (len == 0 || len >= kCacheNameSize) return -1;
  const char* f[4];
  size_t flen[4];
  const char* p = name;
  for (int i = 0; i < 3; i++) {
    const char* semi = strchr(p, ';');
    if (!semi) return -1;
    f[i] = p;
    flen[i] = static_cast<size_t>(semi - p);
    p = semi + 1;
  }
  f[3] = p;
  flen[3] = strlen(p);
  if (flen[0] != 1 || !is_digits(f[0], 1)) return -1;
  int k = f[0][0] - '0';
  if (k < kKindFirst || k > kKindLast) return -1;
  int x = kNoExchange;
  if (flen[1]) {
    if (flen[1] != 1 || !is_digits(f[1], 1) || f[1][0] > '3') return -1;
    x = f[1][0] - '0';
  }
  char c[kCodeSize];
  if (flen[2] > static_cast<size_t>(kCodeMax)) return -1;
  memcpy(c, f[2], flen[2]);
  c[flen[2]] = '\0';
  if (!sscache_code_ok(c)) return -1;
  ss_time d = 0;
  if (flen[3]) {
    if (flen[3] != 6 || !is_digits(f[3], 6)) return -1;
    long v = strtol(f[3], nullptr, 10);
    d = sstime_pack_date(static_cast<int32_t>(v % 100), static_cast<int32_t>(v / 100 % 100),
                         static_cast<int32_t>(v / 10000 + 2000));
    if (!d) return -1;
  }
  *kind = k;
  *exchange = x;
  memcpy(code, c, kCodeSize);
  *date = d;
  return 0;
}

int sscache_compare_names(const char* a, const char* b) {
  int ka, kb, xa, xb;
  char ca[kCodeSize], cb[kCodeSize];
  ss_time da = 0, db = 0;
  bool oka = sscache_parse_name(a, &ka, ca, &xa, &da) == 0;
  bool okb = sscache_parse_name(b, &kb, cb, &xb, &db) == 0;
  if (oka != okb) return oka ? 1 : -1;
  if (da != db) return da < db ? -1 : 1;
  return 0;
}

// ===========================================================================
// Life

int sscache_init(void) {
  if (C.ready) sscache_fini();
  if (growbuf_init(&C.buf, kCacheBufferSize, kCacheBufferStep) < 0) {
    log(LOG_ERROR, kSrc, "can't init cache space");
    return -1;
  }
  C.ready = true;
  C.last_trim = 0;
  localdata_set_trim_hook(sscache_trim);
  return 0;
}

void sscache_fini(void) {
  if (!C.ready) return;
  localdata_set_trim_hook(nullptr);
  growbuf_free(&C.buf);
  memset(&C.buf, 0, sizeof C.buf);
  C.ready = false;
}

// ===========================================================================
// Files

int sscache_read(const char* name) {
  if (!C.ready || !localdata_ready()) return -1;
  growbuf_reset(&C.buf);
  uint32_t size = 0;
  if (localdata_read_into(LOCALDATA_DATA, name, nullptr, &size) < 0) return -1;
  if (size > static_cast<uint32_t>(kCacheFileMax)) {
    log(LOG_ERROR, kSrc, "can't get %s: %ub", name, size);
    localdata_remove(LOCALDATA_DATA, name);
    return -1;
  }
  uint8_t* p = growbuf_reserve(&C.buf, size ? size : 1);
  uint32_t got = static_cast<uint32_t>(C.buf.maxlen);
  if (!p || localdata_read_into(LOCALDATA_DATA, name, p, &got) < 0 || got > size) {
    log(LOG_ERROR, kSrc, "can't get %s", name);
    return -1;
  }
  growbuf_commit(&C.buf, got);
  return 0;
}

const uint8_t* sscache_buffer(int32_t* length) {
  *length = C.buf.len;
  return C.buf.data;
}

int sscache_save(const char* label, int kind, const instr* in, int exchange, ss_time date, const void* data,
                 int32_t length) {
  const char* code = in ? in->code : "";
  char name[kCacheNameSize];
  char when[kSstimeDateLen];
  if (!localdata_ready()) return 0;
  // An empty record (an exchange without news that day) holds nothing to
  // keep, and the data folder refuses empty files when read back.
  if (length == 0) return 0;
  if (sscache_name(name, kind, exchange, code, date) < 0) {
    log(LOG_WARN, kSrc, "won't cache %s under an unsafe name", label);
    return -1;
  }
  if (length < 0 || localdata_write(LOCALDATA_DATA, name, data, static_cast<uint32_t>(length)) < 0) {
    log(LOG_WARN, kSrc, "can't save %s %s", code, label);
    return -1;
  }
  log(LOG_INFO, kSrc, "saved %db %s %s %s", length, code, label, date_text(when, date));
  return 0;
}

// ===========================================================================
// Saves

int sscache_save_prevday_trades(ss_stock* stock, ss_time date, const void* data, int32_t length) {
  char name[kCacheNameSize];
  if (!instr_name(name, kCachePrevdayStock, stock, date)) {
    if (localdata_ready()) log(LOG_WARN, kSrc, "won't cache prevday trades under an unsafe name");
    return localdata_ready() ? -1 : 0;
  }
  if (file_exists(name)) {
    char when[kSstimeDateLen];
    log(LOG_WARN, kSrc, "not saving %s %s prevday trades over events", stock->code, date_text(when, date));
    return 0;
  }
  return sscache_save(kLabels[kCachePrevdayTrades], kCachePrevdayTrades, stock, exchange_of(stock), date, data,
                      length);
}

int sscache_save_prevday_stock(ss_stock* stock, ss_time date, const void* data, int32_t length) {
  char name[kCacheNameSize];
  if (instr_name(name, kCachePrevdayTrades, stock, date)) localdata_remove(LOCALDATA_DATA, name);
  return sscache_save(kLabels[kCachePrevdayStock], kCachePrevdayStock, stock, exchange_of(stock), date, data,
                      length);
}

int sscache_save_prevday_index(ss_index* index, ss_time date, const void* data, int32_t length) {
  return sscache_save(kLabels[kCachePrevdayIndex], kCachePrevdayIndex, index, exchange_of(index), date, data,
                      length);
}

int sscache_save_news_summary(ss_exchange* ex, ss_time date, const void* data, int32_t length) {
  return sscache_save(kLabels[kCacheNewsSummary], kCacheNewsSummary, nullptr, static_cast<int>(ex->index), date,
                      data, length);
}

int sscache_save_stock_history(ss_stock* stock, const void* data, int32_t length) {
  return sscache_save(kLabels[kCacheStockHistory], kCacheStockHistory, stock, exchange_of(stock), 0, data, length);
}

int sscache_save_index_history(ss_index* index, const void* data, int32_t length) {
  return sscache_save(kLabels[kCacheIndexHistory], kCacheIndexHistory, index, exchange_of(index), 0, data, length);
}

int sscache_save_news_history(instr* in, const void* data, int32_t length) {
  return sscache_save(kLabels[kCacheNewsHistory], kCacheNewsHistory, in, exchange_of(in), 0, data, length);
}

// ===========================================================================
// Loads

namespace {

// Loads an instrument's file of `kind` through `decode`: 0, or -1 when it
// is missing (a miss) or did not decode (WARN "couldn't decode %s <what>",
// the file removed).
template <class Decode>
int load_kind(char* name, int kind, const instr* in, ss_time date, const char* what, Decode decode) {
  if (!instr_name(name, kind, in, date)) return -1;
  int r = load_file(name, decode);
  if (r < 0) log(LOG_WARN, kSrc, "couldn't decode %s %s", in->code, what);
  return r > 0 ? 0 : -1;
}

template <class H>
ss_time newest_point(const H* h) {
  return h && h->count ? h->points[h->count - 1].date : 0;
}

}  // namespace

int sscache_load_stock_history(ss_stock* stock) {
  char name[kCacheNameSize];
  if (load_kind(name, kCacheStockHistory, stock, 0, "history",
                [stock](const uint8_t* d, int32_t n) { return dechist_decode_stock(stock, d, n, 1); }) < 0)
    return -1;
  log(LOG_INFO, kSrc, "loaded %s history", stock->code);
  drop_if_stale(name, stock->code, newest_point(stock->history));
  return 0;
}

int sscache_load_index_history(ss_index* index) {
  char name[kCacheNameSize];
  if (load_kind(name, kCacheIndexHistory, index, 0, "history",
                [index](const uint8_t* d, int32_t n) { return dechist_decode_index(index, d, n, 1); }) < 0)
    return -1;
  log(LOG_INFO, kSrc, "loaded %s history", index->code);
  drop_if_stale(name, index->code, newest_point(index->history));
  return 0;
}

int sscache_load_news_history(instr* in) {
  char name[kCacheNameSize];
  if (load_kind(name, kCacheNewsHistory, in, 0, "history",
                [in](const uint8_t* d, int32_t n) { return dechist_decode_news(in, d, n, 1); }) < 0)
    return -1;
  const ss_news* newest = in->kind == kKindIssuer ? static_cast<ss_issuer*>(in)->news.tail : nullptr;
  drop_if_stale(name, in->code, newest ? newest->time & ~kSstimeSecondsMask : 0);
  return 0;
}

int sscache_load_prevday(ss_stock* stock, ss_time date) {
  char name[kCacheNameSize];
  char when[kSstimeDateLen];
  if (load_kind(name, kCachePrevdayStock, stock, date, "prevday",
                [stock](const uint8_t* d, int32_t n) { return ssproto_decode_saved_for(stock, d, n); }) < 0)
    return -1;
  log(LOG_INFO, kSrc, "loaded %s %s", stock->code, date_text(when, date));
  return 0;
}

// Simple previous-day trades (the previous-day trades request) are read in
// the trades reader's bars-only mode: the day gets its minute bars and no
// trade list, and its record is marked so that a later request for the day's
// trades themselves asks again.
int sscache_load_prevday_trades(ss_stock* stock, ss_time date, int simple) {
  if (!simple && sscache_load_prevday(stock, date) == 0) return 0;
  char name[kCacheNameSize];
  char when[kSstimeDateLen];
  dectrades_set_mode(simple);
  const int r = load_kind(name, kCachePrevdayTrades, stock, date, "prevday trades",
                          [](const uint8_t* d, int32_t n) { return ssproto_decode_saved(d, n); });
  dectrades_set_mode(0);
  if (r < 0) return -1;
  if (simple) {
    if (ss_day* day = ssevent_find_day(stock, date)) day->flags |= kDayPrevdayWanted;
  }
  log(LOG_INFO, kSrc, "loaded %s %s%s", stock->code, date_text(when, date), simple ? " (simple)" : "");
  return 0;
}

int sscache_load_prevday_index(ss_index* index, ss_time date) {
  char name[kCacheNameSize];
  char when[kSstimeDateLen];
  if (load_kind(name, kCachePrevdayIndex, index, date, "prevday",
                [](const uint8_t* d, int32_t n) { return ssproto_decode_saved(d, n); }) < 0)
    return -1;
  log(LOG_INFO, kSrc, "loaded %s %s", index->code, date_text(when, date));
  return 0;
}

int sscache_load_news_summaries(ss_exchange* ex) {
  if (!localdata_ready()) return 0;
  std::vector<std::string> mine;
  const bool listed = each_file([&](const cache_file& f) {
    if (f.kind != kCacheNewsSummary || f.exchange != static_cast<int>(ex->index)) return true;
    if (static_cast<int>(mine.size()) == kCacheNewsSummaryMax) {
      log(LOG_ERROR, kSrc, "didn't trim news summaries?");
      return false;
    }
    mine.push_back(f.name);
    return true;
  });
  if (!listed) return -1;
  std::stable_sort(mine.begin(), mine.end(), [](const std::string& a, const std::string& b) {
    return sscache_compare_names(a.c_str(), b.c_str()) < 0;
  });
  for (const std::string& n : mine) {
    int r = load_file(n.c_str(), [ex](const uint8_t* d, int32_t len) { return decsum_decode_news(ex, d, len); });
    if (r < 0) {
      log(LOG_WARN, kSrc, "couldn't decode %s news summary", n.c_str());
      break;
    }
  }
  log(LOG_INFO, kSrc, "loaded %d %s news summaries", static_cast<int>(ex->news.count), ex->name);
  return 0;
}

// ===========================================================================
// Fundamentals

int sscache_load_fun(void) {
  if (!C.ready || !localdata_ready()) return 0;
  for (int32_t i = 0; i < kExchanges; i++) {
    ss_exchange* ex = ssmodel_exchange(i);
    char name[kCacheNameSize];
    if (!ex || sscache_name(name, kCacheFun, i, "", 0) < 0) continue;
    if (sscache_read(name) < 0) {
      log(LOG_WARN, kSrc, "no %s fun in pack", ex->name);
      continue;
    }
    if (C.buf.len == 0) continue;
    // A file that stopped part-way leaves the exchange without a
    // fundamentals date: it is removed like one the reader refused, so the
    // exchange asks the server instead of loading the same damage again.
    bool ok;
    {
      replay_guard replay;
      ok = decfun_decode(ex, C.buf.data, C.buf.len) == 0 && ex->fun_date != -1;
    }
    if (!ok) {
      log(LOG_ERROR, kSrc, "failed to load %s fun", ex->name);
      localdata_remove(LOCALDATA_DATA, name);
      continue;
    }
    log(LOG_INFO, kSrc, "loaded %s fun to %d", ex->name, ex->fun_date);
    ssclient_io_sleep(kFunPauseMs);
  }
  return 0;
}

int sscache_save_fun(void) {
  if (!C.ready || !localdata_ready()) return 0;
  // Fundamentals that came back from the cache are not written over it.
  if (ssproto_replaying()) return 0;
  int result = 0;
  for (int32_t i = 0; i < kExchanges; i++) {
    ss_exchange* ex = ssmodel_exchange(i);
    char name[kCacheNameSize];
    if (!ex || sscache_name(name, kCacheFun, i, "", 0) < 0) continue;
    growbuf_reset(&C.buf);
    if (encfun_encode(&C.buf, ex) < 0) {
      log(LOG_WARN, kSrc, "can't save fun");
      continue;
    }
    if (C.buf.len == 0) continue;
    if (localdata_write(LOCALDATA_DATA, name, C.buf.data, static_cast<uint32_t>(C.buf.len)) < 0) {
      log(LOG_ERROR, kSrc, "can't save %s fun", ex->name);
      localdata_remove(LOCALDATA_DATA, name);
      result = -1;
      continue;
    }
    log(LOG_INFO, kSrc, "saved %db %s fun to %d", static_cast<int>(C.buf.len), ex->name, ex->fun_date);
  }
  growbuf_reset(&C.buf);
  return result;
}

// ===========================================================================
// Forgetting and ageing

int sscache_forget(int kind, const char* code, int exchange) {
  if (!localdata_ready()) return 0;
  const bool listed = each_file([&](const cache_file& f) {
    if (f.kind == kind && f.exchange == exchange && (!code || strcmp(code, f.code) == 0))
      localdata_remove(LOCALDATA_DATA, f.name);
    return true;
  });
  return listed ? 0 : -1;
}

int sscache_forget_prevday_trades(const instr* in) {
  return sscache_forget(kCachePrevdayTrades, in->code, exchange_of(in));
}
int sscache_forget_prevday_stock(const instr* in) {
  return sscache_forget(kCachePrevdayStock, in->code, exchange_of(in));
}
int sscache_forget_prevday_index(const instr* in) {
  return sscache_forget(kCachePrevdayIndex, in->code, exchange_of(in));
}
int sscache_forget_stock_history(const instr* in) {
  return sscache_forget(kCacheStockHistory, in->code, exchange_of(in));
}
int sscache_forget_index_history(const instr* in) {
  return sscache_forget(kCacheIndexHistory, in->code, exchange_of(in));
}
int sscache_forget_news_history(const instr* in) {
  return sscache_forget(kCacheNewsHistory, in->code, exchange_of(in));
}

int sscache_remove_all(ss_time date) {
  char when[kSstimeDateLen];
  log(LOG_WARN, kSrc, "removing %s", date_text(when, date));
  if (!localdata_ready()) return 0;
  const ss_time day = date & ~kSstimeSecondsMask;
  const bool listed = each_file([&](const cache_file& f) {
    if (f.date && f.date == day) {
      log(LOG_WARN, kSrc, "remove %s", f.name);
      localdata_remove(LOCALDATA_DATA, f.name);
    }
    return true;
  });
  return listed ? 0 : -1;
}

int sscache_trim(int32_t days) {
  if (!localdata_ready()) return 0;
  const ss_time cutoff = sstime_sub_days(today(), days);
  const int64_t settled = static_cast<int64_t>(sstime_wall()) - kTrimGrace;
  const bool listed = each_file([&](const cache_file& f) {
    if (!f.date || sstime_date_compare(f.date, cutoff) >= 0) return true;
    bool regular = false;
    int64_t changed = status_time(LOCALDATA_DATA, f.name, &regular);
    if (changed < 0 || changed >= settled) return true;
    char when[kSstimeDateLen];
    log(LOG_WARN, kSrc, "trim %s %d %s", f.code, f.kind, date_text(when, f.date));
    localdata_remove(LOCALDATA_DATA, f.name);
    return true;
  });
  return listed ? 0 : -1;
}

int sscache_trim_dir(uint32_t dir, int32_t days) {
  if (!localdata_ready()) return 0;
  std::vector<std::string> all;
  if (!list_names(dir, &all)) return -1;
  const int64_t before = static_cast<int64_t>(sstime_wall()) - static_cast<int64_t>(days) * kDaySeconds;
  for (const std::string& n : all) {
    if (dir == LOCALDATA_DATA) {
      int k, x;
      char c[kCodeSize];
      ss_time d;
      if (sscache_parse_name(n.c_str(), &k, c, &x, &d) == 0 && k == kCacheFun) continue;
    }
    bool regular = false;
    int64_t changed = status_time(dir, n.c_str(), &regular);
    if (changed < 0 || !regular) continue;
    if (days == 0 || changed < before) localdata_remove(dir, n.c_str());
  }
  return 0;
}

void sscache_trim_hourly(void) {
  const ss_time now = sstime_now();
  if (!localdata_ready() || (C.last_trim && now < C.last_trim + kHourlyStep)) return;
  for (const hourly_dir& h : kHourly) sscache_trim_dir(h.dir, h.days);
  C.last_trim = sstime_now();
}
