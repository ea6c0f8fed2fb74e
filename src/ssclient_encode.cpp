// The request wire format: one encoding pass drains the request ring and the
// io thread's private list into the send buffer and hands it to the link as a
// single request set, so a burst of window requests costs one packet.
//
// Ring entries that another entry of the same pass makes unnecessary (an
// exact duplicate, or a partial queue beside a full one or a snapshot) are
// dropped before encoding. An entry that cannot be encoded is logged and
// consumed like the others: it must never stop the ring, and the buffers it
// owned are released exactly once, by the encoder.
#include "ssclient_encode.h"
#include "ssclient_int.h"

#include <cstring>

#include "dalloc.h"
#include "encode.h"
#include "growbuf.h"
#include "kludge.h"
#include "log.h"
#include "plat.h"
#include "ssauth.h"
#include "sscache.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssio-http.h"

static_assert(kSsHttpUrlMax == kSsioUrlMax, "a side request's URL fits the io layer's");
#include "ssio.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "sstime.h"
#include "ssuser.h"

static const char kSrc[] = "src/ssclient_encode";

namespace {

constexpr uint32_t kRequestRoom = 64;  // reserved for every request
constexpr int32_t kIdleSeconds = 240;  // quiet time after a request set before a heartbeat
constexpr uint32_t kHistoryMinEntries = 5;
constexpr int kDayWalkMax = 64;  // days one request of kind 64 or 262 can cover
constexpr uint8_t kHeartbeatByte = 'Z';
constexpr uint8_t kAckByte = '\\';
constexpr uint8_t kUnstallTag = 4;

struct encode_state {
  int (*sender)(const void* block, int32_t len) = nullptr;
};

encode_state E;

// Supersede rules: an entry of `kind` is dropped when the same pass holds an
// entry for the same instrument of one of `by` (0 ends the list).
struct supersede_rule {
  uint32_t kind;
  uint32_t by[4];
};

constexpr supersede_rule kSupersede[] = {
    {kReqPartialBid, {kReqFullBid, kReqEvents, kReqQueuesAllTrades, kReqQueuesRecentTrades}},
    {kReqPartialOffer, {kReqFullOffer, kReqEvents, kReqQueuesAllTrades, kReqQueuesRecentTrades}},
    {kReqFullBid, {kReqEvents, kReqQueuesAllTrades, kReqQueuesRecentTrades, 0}},
    {kReqFullOffer, {kReqEvents, kReqQueuesAllTrades, kReqQueuesRecentTrades, 0}},
    {kReqAllTrades, {kReqEvents, 0, 0, 0}},
    {kReqRecentTrades, {kReqEvents, kReqAllTrades, 0, 0}},
    {kReqQueuesAllTrades, {kReqEvents, 0, 0, 0}},
    {kReqQueuesRecentTrades, {kReqEvents, kReqQueuesAllTrades, 0, 0}},
};

bool superseded_by(uint32_t kind, uint32_t other) {
  for (const supersede_rule& r : kSupersede) {
    if (r.kind != kind) continue;
    for (uint32_t k : r.by)
      if (k && k == other) return true;
  }
  return false;
}

bool never_dropped(uint32_t kind) { return kind == kReqSendBlock || kind == kReqHttp || kind == kReqHttpCancel; }

// Whether the entry at span position i (of n, from the tail) is dropped.
// Quadratic in the span, which is at most 255 entries.
bool dropped(uint32_t tail, uint32_t i, uint32_t n) {
  const ss_request* e = ssclient_ring_slot(tail + i);
  if (never_dropped(e->kind)) return false;
  for (uint32_t j = 0; j < n; j++) {
    if (j == i) continue;
    const ss_request* o = ssclient_ring_slot(tail + j);
    if (o->pointer != e->pointer) continue;
    // Of a group of exact duplicates only the newest is sent.
    if (o->kind == e->kind && o->a == e->a && o->b == e->b && j > i) return true;
    if (superseded_by(e->kind, o->kind)) return true;
  }
  return false;
}

// Turns day-record creation on while cached past days are loaded.
class day_records_on {
 public:
  day_records_on() { ssevent_enable_day_records(1); }
  ~day_records_on() { ssevent_enable_day_records(0); }
  day_records_on(const day_records_on&) = delete;
  day_records_on& operator=(const day_records_on&) = delete;
};

// Marks the pass as running for its whole length.
class pass_running {
 public:
  pass_running() { ssclient_set_encoding(1); }
  ~pass_running() { ssclient_set_encoding(0); }
  pass_running(const pass_running&) = delete;
  pass_running& operator=(const pass_running&) = delete;
};

ss_time date_of(ss_time t) { return t & ~kSstimeSecondsMask; }

bool has_date(ss_time t) { return t > kSstimeSecondsMask && t < kSstimeFirstInvalid; }

// Moves a date back across the two windows whose history was re-issued.
ss_time across_cutovers(ss_time d) {
  if (!d) return 0;
  if (sstime_date_compare(d, kludge_date_20140211()) > 0 && sstime_date_compare(d, kludge_date_20140221()) <= 0)
    return date_of(kludge_date_20140211());
  if (sstime_date_compare(d, kludge_date_20140429()) > 0 && sstime_date_compare(d, kludge_date_20140515()) <= 0)
    return date_of(kludge_date_20140429());
  return d;
}

uint8_t exch_of(const void* pointer) {
  const instr* in = static_cast<const instr*>(pointer);
  return static_cast<uint8_t>(in && in->exchange ? in->exchange->index : 0);
}

// A small writer over the reserved room of the send buffer.
struct out_bytes {
  uint8_t* p;
  uint32_t n;
  int byte(uint32_t v) { return put(encode_byte(p + n, v)); }
  int int32(uint32_t v) { return put(encode_int32(p + n, v)); }
  int shortv(uint32_t v) { return put(encode_short(p + n, v)); }
  int vint(uint32_t v) { return put(encode_vint(p + n, v)); }
  int code(const char* c) { return put(encode_code(p + n, c)); }
  int date16(ss_time t) { return put(encode_date16(p + n, t)); }
  int put(int used) {
    if (used < 0) return -1;
    n += static_cast<uint32_t>(used);
    return 0;
  }
};

// Stock history start (kind 30): the newest cached day, unless too few are cached.
ss_time stock_history_date(ss_stock* stock) {
  sscache_load_stock_history(stock);
  const ss_stock_history* h = ssmodel_load(stock->history);
  uint32_t count = h ? ssmodel_load(h->count) : 0;
  if (count < kHistoryMinEntries) return 0;
  return across_cutovers(date_of(h->points[count - 1].date));
}

ss_time index_history_date(ss_index* index) {
  sscache_load_index_history(index);
  const ss_index_history* h = ssmodel_load(index->history);
  uint32_t count = h ? ssmodel_load(h->count) : 0;
  return count ? date_of(h->points[count - 1].date) : 0;
}

// News history start (kind 32): the newest day before the newest item's day,
// sent only when it lies more than a month back.
ss_time news_history_date(ss_issuer* issuer) {
  sscache_load_news_history(issuer);
  const ss_news* newest = ssmodel_load(issuer->news.tail);
  ss_time d = 0;
  if (newest && has_date(newest->time)) {
    for (const ss_news* n = newest; n; n = ssmodel_load(n->prev)) {
      if (sstime_date_compare(n->time, newest->time) < 0) {
        d = has_date(n->time) ? date_of(n->time) : 0;
        break;
      }
    }
  } else if (newest) {
    const ss_news* first = ssmodel_load(issuer->news.head);
    d = has_date(first->time) ? date_of(first->time) : 0;
  }
  ss_time back = sstime_add_months(date_of(issuer->exchange->date), -1);
  if (d && sstime_date_compare(d, back) < 0) return across_cutovers(d);
  return 0;
}

// News summaries start (kind 34): walks the exchange's news days newest first
// for a day before the exchange's date whose previous day is listed too.
ss_time news_summary_date(const ss_exchange* ex) {
  ss_time exdate = date_of(ex->date);
  ss_time cand = 0;
  for (const ss_exchange_news* n = ssmodel_load(ex->news.tail); n; n = ssmodel_load(n->prev)) {
    ss_time d = date_of(n->time);
    if (!cand) {
      if (sstime_date_compare(d, exdate) < 0) cand = d;
      continue;
    }
    if (sstime_date_compare(d, cand) >= 0) continue;
    if (sstime_date_compare(d, sstime_sub_days(cand, 1)) == 0) break;
    cand = 0;
  }
  if (!cand) cand = sstime_pack_date(2, 1, kSstimeFirstYear);  // the day after the zero date
  return across_cutovers(cand);
}

// Kind 1: the user's stored configuration, raw, after the flag byte.
int encode_save_data(growbuf* sb, const ss_request* e, out_bytes& o) {
  if (o.byte(0) < 0 || o.byte(kReqSaveData) < 0 || o.byte(e->a ? 1 : 0) < 0) return -1;
  int32_t len = 0;
  char* config = ssuser_get_config(&len);
  if (!config) {
    log(LOG_ERROR, kSrc, "can't get user config?");
    return -1;
  }
  growbuf_commit(sb, o.n);
  o.n = 0;
  int r = 0;
  if (growbuf_append(sb, config, static_cast<uint32_t>(len)) < 0) {
    log(LOG_ERROR, kSrc, "can't make room for config");
    r = -1;
  }
  dalloc_free(config);
  return r;
}

// Kinds 64 and 262: the days still wanted, oldest first, as runs of
// consecutive days (63 for one day, 64 for a longer run).
int encode_days(growbuf* sb, const ss_request* e) {
  ss_stock* stock = static_cast<ss_stock*>(e->pointer);
  ss_time first = date_of(static_cast<ss_time>(e->a));
  ss_time days[kDayWalkMax];
  int n = 0;
  for (ss_time d = date_of(static_cast<ss_time>(e->b)); d && sstime_date_compare(d, first) >= 0 && n < kDayWalkMax;
       d = sstime_sub_days(d, 1)) {
    ss_day* day = ssevent_find_day(stock, d);
    if (!day) {
      log(LOG_WARN, kSrc, "prevday not found");
      continue;
    }
    if (day->flags & (kRqEvents | kRqEventsLoaded)) continue;
    bool reask_empty = e->kind == kReqDaysTrades && ssmodel_load(day->trades.count) == 0;
    if ((day->flags & kRqTradesLoaded) && !reask_empty) continue;
    {
      day_records_on guard;
      if (sscache_load_prevday_trades(stock, d, e->kind == kReqPrevdayTrades) == 0) continue;
    }
    if (sstime_is_weekend(d)) {
      // A weekend day holds nothing to ask for: mark it complete.
      day->flags |= kRqTradesLoaded | kRqEventsLoaded;
      continue;
    }
    days[n++] = d;
  }
  if (!n) return 1;
  uint8_t exch = exch_of(stock);
  // days[] runs newest first: walk it backwards.
  for (int i = n - 1; i >= 0;) {
    int j = i;
    while (j > 0 && sstime_date_compare(days[j - 1], sstime_add_days(days[j], 1)) == 0) j--;
    uint8_t* p = growbuf_reserve(sb, kRequestRoom);
    if (!p) {
      log(LOG_ERROR, kSrc, "can't make room for request");
      return -1;
    }
    out_bytes o{p, 0};
    bool run = j != i;
    if (o.byte(0) < 0 || o.byte(run ? kReqDaysTrades : kReqDayTrades) < 0 || o.byte(exch) < 0 ||
        o.code(stock->code) < 0 || o.date16(days[i]) < 0 || (run && o.date16(days[j]) < 0))
      return -1;
    growbuf_commit(sb, o.n);
    i = j - 1;
  }
  return 0;
}

// Writes one request; the caller restores the buffer on -1.
int encode_one(growbuf* sb, const ss_request* e) {
  uint32_t kind = e->kind;
  if (kind < 1 || kind > kReqKindMax) {
    log(LOG_ERROR, kSrc, "unknown request %d", static_cast<int>(kind));
    return 0;
  }
  uint8_t* p = growbuf_reserve(sb, kRequestRoom);
  if (!p) {
    log(LOG_ERROR, kSrc, "can't make room for request");
    if (kind == kReqChangePassword) dalloc_free(reinterpret_cast<void*>(static_cast<uintptr_t>(e->a)));
    if (kind == kReqSendBlock) ssclient_free_request_buffer(reinterpret_cast<growbuf*>(static_cast<uintptr_t>(e->c)));
    if (kind == kReqHttp)
      ssclient_free_http_request(reinterpret_cast<ss_http_request*>(static_cast<uintptr_t>(e->c)));
    return -1;
  }
  out_bytes o{p, 0};
  const instr* in = static_cast<const instr*>(e->pointer);
  auto head = [&]() { return o.byte(0) < 0 || o.byte(kind) < 0 ? -1 : 0; };
  auto head_code = [&]() { return head() < 0 || o.byte(exch_of(in)) < 0 || o.code(in->code) < 0 ? -1 : 0; };
  int r = 0;
  switch (kind) {
    case kReqSaveData:
      return encode_save_data(sb, e, o);
    case kReqSignOff:
      r = head() < 0 || o.byte(static_cast<uint8_t>(e->a)) < 0 ? -1 : 0;
      break;
    case kReqChangePassword: {
      uint8_t* block = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(e->a));
      if (!block) {
        log(LOG_ERROR, kSrc, "can't make room for new passwd");
        return -1;
      }
      r = head();
      if (r == 0) {
        memcpy(p + o.n, block, kPasswordBlockBytes);
        o.n += kPasswordBlockBytes;
      }
      dalloc_free(block);
      break;
    }
    case kReqPartialBid:
    case kReqPartialOffer:
    case kReqFullBid:
    case kReqFullOffer:
    case kReqEvents:
    case kReqIndexEvents:
    case kReqAllTrades:
    case kReqRecentTrades:
    case kReqQueuesAllTrades:
    case kReqQueuesRecentTrades:
    case kReqLogProfile:
      r = head_code();
      break;
    case kReqStockHistory: {
      ss_time d = stock_history_date(static_cast<ss_stock*>(e->pointer));
      r = head_code() < 0 || o.date16(d) < 0 ? -1 : 0;
      break;
    }
    case kReqIndexHistory: {
      ss_time d = index_history_date(static_cast<ss_index*>(e->pointer));
      r = head_code() < 0 || o.date16(d) < 0 ? -1 : 0;
      break;
    }
    case kReqNewsHistory: {
      ss_time d = news_history_date(static_cast<ss_issuer*>(e->pointer));
      r = head_code() < 0 || o.date16(d) < 0 ? -1 : 0;
      break;
    }
    case kReqNewsSummaries: {
      const ss_exchange* ex = static_cast<const ss_exchange*>(e->pointer);
      r = head() < 0 || o.byte(ex->index) < 0 || o.date16(news_summary_date(ex)) < 0 ? -1 : 0;
      break;
    }
    case kReqDayEvents: {
      day_records_on guard;
      if (sscache_load_prevday(static_cast<ss_stock*>(e->pointer), static_cast<ss_time>(e->a)) == 0) return 1;
      r = head_code() < 0 || o.date16(static_cast<ss_time>(e->a)) < 0 ? -1 : 0;
      break;
    }
    case kReqDayTrades: {
      day_records_on guard;
      if (sscache_load_prevday_trades(static_cast<ss_stock*>(e->pointer), static_cast<ss_time>(e->a), 0) == 0)
        return 1;
      r = head_code() < 0 || o.date16(static_cast<ss_time>(e->a)) < 0 ? -1 : 0;
      break;
    }
    case kReqIndexDay: {
      day_records_on guard;
      if (sscache_load_prevday_index(static_cast<ss_index*>(e->pointer), static_cast<ss_time>(e->a)) == 0) return 1;
      r = head_code() < 0 || o.date16(static_cast<ss_time>(e->a)) < 0 ? -1 : 0;
      break;
    }
    case kReqDaysTrades:
    case kReqPrevdayTrades:
      return encode_days(sb, e);
    case kReqFundamentals: {
      const ss_exchange* ex = static_cast<const ss_exchange*>(e->pointer);
      // A position of -1 (none) goes as 0.
      r = head() < 0 || o.byte(ex->index) < 0 || o.vint(static_cast<uint32_t>(ex->fun_position + 1)) < 0 ? -1 : 0;
      break;
    }
    case kReqVcmp:
      r = head() < 0 || o.byte(static_cast<uint32_t>(e->a)) < 0 || o.shortv(static_cast<uint32_t>(e->b & 0xffff)) < 0 ||
                  o.byte(static_cast<uint32_t>((e->b >> 16) & 1)) < 0
              ? -1
              : 0;
      break;
    case kReqHeartbeat:
      r = o.byte(kHeartbeatByte);
      break;
    case kReqAck:
      r = o.byte(kAckByte);
      break;
    case kReqUnstall:
      r = head() < 0 || o.byte(kUnstallTag) < 0 ? -1 : 0;
      for (int32_t i = 0; i < kExchanges && r == 0; i++) r = o.int32(ssproto_exchange_position(i));
      break;
    case kReqLogNews:
      r = head_code() < 0 || o.vint(static_cast<uint32_t>(e->a)) < 0 ? -1 : 0;
      break;
    case kReqSendBlock: {
      growbuf* gb = reinterpret_cast<growbuf*>(static_cast<uintptr_t>(e->c));
      if (!gb) return -1;
      r = head() < 0 || o.vint(static_cast<uint32_t>(e->a)) < 0 ? -1 : 0;
      if (r == 0) {
        growbuf_commit(sb, o.n);
        o.n = 0;
        if (gb->len > 0 && growbuf_append(sb, gb->data, static_cast<uint32_t>(gb->len)) < 0) {
          log(LOG_ERROR, kSrc, "can't make room for request");
          r = -1;
        }
      }
      ssclient_free_request_buffer(gb);
      break;
    }
    case kReqHttp: {
      ss_http_request* req = reinterpret_cast<ss_http_request*>(static_cast<uintptr_t>(e->c));
      if (!req) return 1;
      ssio_get(req->url, req->handler, req->context, req->argument, req->progress, req->id);
      ssclient_free_http_request(req);
      return 1;
    }
    case kReqHttpCancel:
      ssio_cancel(static_cast<int32_t>(static_cast<int64_t>(e->a)));
      return 1;
    default:
      log(LOG_ERROR, kSrc, "unknown request %d", static_cast<int>(kind));
      return 0;
  }
  if (r < 0) return -1;
  growbuf_commit(sb, o.n);
  return 0;
}

}  // namespace

int ssclient_encode_request(const ss_request* entry) {
  growbuf* sb = ssclient_send_buffer();
  int32_t start = sb->len;
  int r = encode_one(sb, entry);
  if (r < 0) growbuf_truncate(sb, start);
  return r;
}

void ssclient_encode_set_sender(int (*fn)(const void* block, int32_t len)) { E.sender = fn; }

void ssclient_encode_requests(void) {
  if (!ssclient_requests_enabled() || !ssclient_is_online()) return;
  growbuf* sb = ssclient_send_buffer();
  growbuf_reset(sb);
  pass_running running;

  uint32_t tail, head;
  ssclient_ring_span(&tail, &head);
  uint32_t n = (head + kRequestRingSlots - tail) % kRequestRingSlots;
  for (uint32_t i = 0; i < n; i++) {
    if (dropped(tail, i, n)) continue;
    const ss_request* e = ssclient_ring_slot(tail + i);
    if (ssclient_encode_request(e) < 0) log(LOG_ERROR, kSrc, "dropping request %u", e->kind);
  }
  ssclient_ring_consume(head);

  for (int32_t i = 0; i < ssclient_private_count(); i++) {
    const ss_request* e = ssclient_private_entry(i);
    if (ssclient_encode_request(e) < 0) log(LOG_ERROR, kSrc, "dropping private request %u", e->kind);
  }
  ssclient_private_clear();

  if (sb->len <= 0) return;
  int sent = E.sender ? E.sender(sb->data, sb->len) : ssio_send(sb->data, sb->len);
  if (sent < 0) {
    log(LOG_OSERR, kSrc, "can't queue %db request set", sb->len);
    return;
  }
  ssclient_set_idle_deadline(plat_ms() + kIdleSeconds * 1000LL);
}
