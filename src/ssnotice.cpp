// Exchange notices. Every text is parsed completely, with bounded fields,
// before any instrument is got or changed, so a malformed notice cannot leave
// a half-applied change or an instrument added for nothing.
#include "ssnotice.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chunk.h"
#include "decguard.h"
#include "log.h"
#include "pool.h"
#include "ssevent.h"
#include "ssnotify.h"

static const char kSrc[] = "src/ssnotice";

namespace {

constexpr int32_t kTextArena = 0;                 // chunk arena of the kept texts
constexpr uint32_t kInHistoryRequested = 0x2000;  // history asked for (request bits)
constexpr uint32_t kChangeNewsRemoved = 0xc0000;

struct notice_state {
  pool items = {};
  bool ready = false;
  int online = 0;
  ssnotice_hooks hooks = {nullptr, nullptr, nullptr};
};

notice_state N;

bool asx_ignored(const ss_exchange* ex, const char* code) {
  return ex->index == kExchangeAsx && (strcmp(code, "XLD") == 0 || strcmp(code, "XNV") == 0);
}

// A whole decimal number (optionally signed) and nothing else.
bool parse_long(const char* text, long long* out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = strtoll(text, &end, 10);
  if (errno || end == text || *end) return false;
  *out = v;
  return true;
}

bool parse_ulong(const char* text, unsigned long long* out) {
  if (!text || !isdigit(static_cast<unsigned char>(*text))) return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = strtoull(text, &end, 10);
  if (errno || *end) return false;
  *out = v;
  return true;
}

// The text cut at its commas into at most `max` fields (a copy of the text).
struct fields {
  char copy[kNoticeTextMax + 1];
  const char* f[8];
  int n = 0;
  fields(const char* text, int max) {
    snprintf(copy, sizeof copy, "%s", text ? text : "");
    char* p = copy;
    while (n < max) {
      f[n++] = p;
      char* c = strchr(p, ',');
      if (!c) break;
      *c = '\0';
      p = c + 1;
    }
  }
};

ss_time parse_date(const char* text, bool eight_digits) {
  ss_time d = sstime_parse_ymd(text);
  if (!d && eight_digits) d = sstime_parse_yyyymmdd(text);
  return d;
}

// Dilution text "date,factor": 0 parsed, -1 after the ERROR (`what` names it).
int parse_dilution(const char* code, const char* text, const char* what, ss_time* date, int32_t* factor) {
  if (!strchr(text, ',')) {
    log(LOG_ERROR, kSrc, "%s %s has no factor: %s", code, what, text);
    return -1;
  }
  fields f(text, 2);
  long long v;
  if (f.n != 2 || !parse_long(f.f[1], &v) || v < INT32_MIN || v > INT32_MAX) {
    log(LOG_ERROR, kSrc, "%s bad %s: %s", code, what, text);
    return -1;
  }
  *factor = static_cast<int32_t>(v);
  *date = parse_date(f.f[0], true);
  return 0;
}

// The instrument need not exist: a stale file of an instrument the model
// does not hold (yet) is forgotten all the same.
void forget(const ss_exchange* ex, const char* code, uint32_t what) {
  if (N.hooks.forget_cache) N.hooks.forget_cache(ex->index, code, what);
}

// Forgets everything cached and kept of a stock's past.
void drop_stock_past(ss_stock* s) {
  forget(s->exchange, s->code,
         kNoticeForgetStockHistory | kNoticeForgetPrevdayStock | kNoticeForgetPrevdayTrades);
  ssmodel_free_history(s);
  ssevent_remove_days(s);
  s->flags &= ~(kInHistory | kInHistoryRequested);
}

void drop_issuer_news(ss_issuer* is) {
  forget(is->exchange, is->code, kNoticeForgetNewsHistory);
  ssmodel_trim_news_month(is);
  is->flags &= ~(kInHistory | kInHistoryRequested);
}

int apply_alias(ss_exchange* ex, const char* from, const char* to) {
  decguard_hold hold;
  if (ssmodel_add_alias(ex, from, to) < 0) return 0;
  constexpr uint32_t kPast = kInHistory | kInHistoryRequested;
  if (ss_stock* to_stock = ssmodel_find_stock(ex, to)) {
    const uint32_t bits = to_stock->flags;
    drop_stock_past(to_stock);
    bool again = (bits & kPast) != 0;
    if (ss_stock* from_stock = ssmodel_find_stock(ex, from)) {
      again = again || (from_stock->flags & kPast);
      from_stock->flags |= bits & kInHistory;
    }
    if (again && N.hooks.stock_history) N.hooks.stock_history(to_stock);
  }
  if (ss_issuer* to_issuer = ssmodel_find_issuer(ex, to)) {
    const uint32_t bits = to_issuer->flags;
    drop_issuer_news(to_issuer);
    bool again = (bits & kPast) != 0;
    if (ss_issuer* from_issuer = ssmodel_find_issuer(ex, from)) {
      again = again || (from_issuer->flags & kPast);
      from_issuer->flags |= bits & kInHistory;
    }
    if (again && N.hooks.issuer_history) N.hooks.issuer_history(to_issuer);
  }
  return 0;
}

// Option details: "underlying,style,right,expiry,first,second".
int apply_option(ss_exchange* ex, const char* code, const char* text) {
  fields f(text, 6);
  unsigned long long first, second;
  const bool ok = f.n == 6 && strlen(f.f[0]) <= static_cast<size_t>(kCodeMax) && f.f[0][0] && f.f[1][0] &&
                  f.f[2][0] && parse_ulong(f.f[4], &first) && parse_ulong(f.f[5], &second) && first <= UINT32_MAX &&
                  second <= UINT32_MAX;
  if (!ok) {
    log(LOG_ERROR, kSrc, "%s bad derivative: %s", code, text);
    return -1;
  }
  uint32_t kind = toupper(static_cast<unsigned char>(f.f[2][0])) == 'C'   ? 0x2
                  : toupper(static_cast<unsigned char>(f.f[2][0])) == 'P' ? 0x4
                                                                           : 0;
  const char style = static_cast<char>(toupper(static_cast<unsigned char>(f.f[1][0])));
  kind |= style == 'W' ? 0x9 : style == 'O' ? 0x11 : 0x1;
  ss_stock* s = ssmodel_get_stock(ex, code);
  if (!s) return 0;
  ssmodel_set_option(s, f.f[0], kind, parse_date(f.f[3], false), static_cast<uint32_t>(first),
                     static_cast<uint32_t>(second));
  log(LOG_INFO, kSrc, "derivative [%.256s]", text);
  return 0;
}

// 1 applied and to be kept, 0 nothing kept, -1 refused.
int apply_type(ss_exchange* ex, uint32_t type, const char* code, const char* text) {
  const bool online = N.online != 0;
  switch (type) {
    case 0:
      log(LOG_WARN, kSrc, "not expecting sequence");
      return 0;
    case 1:
    case 18: {
      if (asx_ignored(ex, code)) return 0;
      ss_stock* s = ssmodel_get_stock(ex, code);
      if (s) {
        if (type == 1)
          ssmodel_set_stock_names(s, text, nullptr);
        else
          ssmodel_set_issuer_code(s, text);
      }
      return 1;
    }
    case 2:
    case 3: {
      ss_index* x = ssmodel_get_index(ex, code);
      if (x) ssmodel_set_names(x, type == 2 ? text : nullptr, type == 3 ? text : nullptr);
      return 1;
    }
    case 4:
    case 5: {
      ss_issuer* is = ssmodel_get_issuer(ex, code);
      if (is) ssmodel_set_names(is, type == 4 ? text : nullptr, type == 5 ? text : nullptr);
      return 1;
    }
    case 6:
      if (!*text || strlen(text) > static_cast<size_t>(kCodeMax)) {
        log(LOG_ERROR, kSrc, "%s bad alias: %s", code, text);
        return -1;
      }
      apply_alias(ex, code, text);
      return 1;
    case 7:
    case 8: {
      if (!online) return 1;
      forget(ex, code,
             type == 7 ? kNoticeForgetPrevdayTrades | kNoticeForgetPrevdayStock : kNoticeForgetStockHistory);
      ss_stock* s = ssmodel_find_stock(ex, code);
      if (!s) return 1;
      if (type == 7) {
        ssevent_remove_days(s);
      } else {
        ssmodel_free_history(s);
        s->flags &= ~(kInHistory | kInHistoryRequested);
      }
      return 1;
    }
    case 9:
    case 10: {
      if (!online) return 1;
      forget(ex, code, type == 9 ? kNoticeForgetPrevdayIndex : kNoticeForgetIndexHistory);
      ss_index* x = ssmodel_find_index(ex, code);
      if (!x) return 1;
      if (type == 9) {
        ssevent_remove_days(x);
      } else {
        ssmodel_free_index_history(x);
        x->flags &= ~(kInHistory | kInHistoryRequested);
      }
      return 1;
    }
    case 11: {
      if (!online) return 1;
      forget(ex, code, kNoticeForgetNewsHistory);
      ss_issuer* is = ssmodel_find_issuer(ex, code);
      if (!is) return 1;
      const bool had = (is->flags & (kInHistory | kInHistoryRequested)) != 0;
      ssmodel_trim_news_today(is);
      is->flags &= ~(kInHistory | kInHistoryRequested);
      if (had && N.hooks.issuer_history) N.hooks.issuer_history(is);
      return 1;
    }
    case 12: {
      long long number;
      if (!parse_long(text, &number) || number < 0 || number > UINT32_MAX) {
        log(LOG_ERROR, kSrc, "%s bad news number: %s", code, text);
        return -1;
      }
      ss_issuer* is = ssmodel_get_issuer(ex, code);
      if (is && ssmodel_find_news(is, static_cast<uint32_t>(number))) {
        ssmodel_remove_news(is, static_cast<uint32_t>(number));
        ssnotify_record(is, kChangeNewsRemoved, nullptr);
      } else if (is) {
        ssmodel_remove_news(is, static_cast<uint32_t>(number));
      }
      return 1;
    }
    case 13:
    case 14: {
      ss_time date;
      int32_t factor;
      if (parse_dilution(code, text, type == 13 ? "dilution" : "delete dilution", &date, &factor) < 0) return -1;
      if (type == 14 && !online) return 1;
      if (!date || !factor || ssmodel_find_index(ex, code)) return 1;
      if (type == 13) {
        ss_stock* s = ssmodel_get_stock(ex, code);
        if (s) ssmodel_add_adjustment(s, static_cast<int32_t>(date), factor);
      } else {
        ss_stock* s = ssmodel_find_stock(ex, code);
        if (s) ssmodel_remove_adjustment(s, static_cast<int32_t>(date), factor);
      }
      return 1;
    }
    case 15: {
      char* end = nullptr;
      const unsigned long v = strtoul(text, &end, 16);
      if (!*text || *end || v > UINT32_MAX) {
        log(LOG_ERROR, kSrc, "%s bad sector: %s", code, text);
        return -1;
      }
      ss_issuer* is = ssmodel_get_issuer(ex, code);
      if (is) ssmodel_set_sector(is, static_cast<uint32_t>(v));
      return 1;
    }
    case 16:
    case 17: {
      fields f(text, 2);
      unsigned long long value = 0;
      if (type == 16 && f.n == 2 && isdigit(static_cast<unsigned char>(f.f[1][0])) && !parse_ulong(f.f[1], &value)) {
        log(LOG_ERROR, kSrc, "%s bad constituent: %s", code, text);
        return -1;
      }
      if (type == 17 && !online) return 1;
      ss_index* x = ssmodel_find_index(ex, f.f[0]);
      if (!x) return 1;
      if (type == 16)
        ssmodel_add_index_member(x, code, value);
      else
        ssmodel_remove_index_member(x, code);
      return 1;
    }
    case 19: {
      fields f(text, 4);
      long long a, b, c;
      unsigned long long shares;
      if (f.n != 4 || !parse_long(f.f[0], &a) || !parse_long(f.f[1], &b) || !parse_long(f.f[2], &c) ||
          !parse_ulong(f.f[3], &shares)) {
        log(LOG_ERROR, kSrc, "%s bad capital: %s", code, text);
        return -1;
      }
      ss_stock* s = ssmodel_get_stock(ex, code);
      if (s)
        ssmodel_set_capital(s, static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c), shares);
      return 1;
    }
    case 20:
      return apply_option(ex, code, text) < 0 ? -1 : 1;
    case 21:
    case 22:
    case 23: {
      const ss_time date = parse_date(text, false);
      instr* in = type == 21   ? static_cast<instr*>(ssmodel_get_stock(ex, code))
                  : type == 22 ? static_cast<instr*>(ssmodel_get_index(ex, code))
                               : static_cast<instr*>(ssmodel_get_issuer(ex, code));
      if (in) ssmodel_set_history_from(in, date);
      return 1;
    }
    default:
      return 1;
  }
}

void keep(ss_exchange* ex, int32_t sequence, uint32_t type, const char* code, const char* text) {
  ss_notice* n = static_cast<ss_notice*>(pool_alloc(&N.items));
  if (!n) {
    log(LOG_ERROR, kSrc, "can't alloc notice item");
    return;
  }
  n->sequence = sequence;
  n->type = type;
  n->exchange = ex->index;
  snprintf(n->code, sizeof n->code, "%s", code);
  n->text = text && *text ? chunk_strdup(kTextArena, text) : nullptr;
  n->newer = nullptr;
  ssmodel_publish(n->older, ex->notice_head);
  if (ex->notice_head)
    ssmodel_publish(ex->notice_head->newer, n);
  else
    ssmodel_publish(ex->notice_tail, n);
  ssmodel_publish(ex->notice_head, n);
  ssmodel_publish(ex->notice_count, ex->notice_count + 1);
  ex->notice_seq = sequence;
}

}  // namespace

void ssnotice_set_hooks(const ssnotice_hooks* hooks) {
  N.hooks = hooks ? *hooks : ssnotice_hooks{nullptr, nullptr, nullptr};
}

int ssnotice_init(void) {
  if (N.ready) ssnotice_fini();
  if (pool_init(&N.items, kNoticePoolPage, sizeof(ss_notice)) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc notice pool");
    return -1;
  }
  N.ready = true;
  N.online = 0;
  return 0;
}

void ssnotice_fini(void) {
  if (!N.ready) return;
  pool_destroy(&N.items);
  N.items = pool{};
  N.ready = false;
}

int ssnotice_pending(void) { return N.online; }
void ssnotice_set_pending(int on) { N.online = on ? 1 : 0; }

int ssnotice_apply(int32_t sequence, uint32_t type, uint32_t exchange, const char* code, const char* text) {
  if (!code) code = "";
  if (!text) text = "";
  ss_exchange* ex = ssmodel_exchange(static_cast<int32_t>(exchange));
  if (!ex) {
    if (exchange == kNoticeNoExchange) return 0;
    log(LOG_ERROR, kSrc, "can't get exchange %d", static_cast<int32_t>(exchange));
    return -1;
  }
  const int r = apply_type(ex, type, code, text);
  if (r < 0) return -1;
  if (r > 0 && sequence >= 1 && N.ready) keep(ex, sequence, type, code, text);
  return 0;
}
