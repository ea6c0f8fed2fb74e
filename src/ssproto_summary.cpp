// Summary and summary-list messages (44-46, 48, 190-196) and the compact
// depth changes (200-206). A summary message carries one block: it is
// unpacked into the work buffer of the message's nesting level, logged with
// its sizes, counted as summary bytes and handed to its reader. None of them
// names a stock except the depth changes, which read their prices against
// the stock's running reference.
#include <cstdint>

#include "decblk.h"
#include "decsum.h"
#include "log.h"
#include "ssevent.h"
#include "ssmsg.h"
#include "ssnotify.h"
#include "ssproto_int.h"

static const char kSrc[] = "src/ssproto";
static proto_state& P = ssproto_state;

namespace {

constexpr int kSummaryCounter = 1;  // counter pair whose second field counts summary bytes

typedef int (*summary_reader)(ss_exchange* ex, const uint8_t* data, int32_t n);

struct summary_row {
  uint32_t type;
  const char* label;   // "%s %db/%db <label>"
  bool counts_message; // counter: the bytes of the message so far (else: the block's)
  summary_reader reader;
};

int depth_only(ss_exchange* ex, const uint8_t* d, int32_t n) { return decsum_decode_depth_only(ex, d, n, 0); }
int depth_only_inverted(ss_exchange* ex, const uint8_t* d, int32_t n) {
  return decsum_decode_depth_only(ex, d, n, 1);
}

// The news of the day arrives with change recording off: thousands of items
// would otherwise each be a change; one global bit tells the windows.
int news_today(ss_exchange* ex, const uint8_t* d, int32_t n) {
  ssnotify_set_enabled(0);
  int r = decsum_decode_news(ex, d, n);
  ssnotify_set_enabled(1);
  ssnotify_record_global(kGlobalNewsToday);
  return r;
}

const summary_row kRows[] = {
    {kSumStocks, "stock summary", false, decsum_decode_stock},
    {kSumIndices, "index summary", false, decsum_decode_index},
    {kSumNews, "news today", false, news_today},
    {kSumDepthOnly, "depth summary only stocks", false, depth_only},
    {kSumDepthOnlyInverted, "depth summary only stocks", false, depth_only_inverted},
    {kSumQuoteBases, "quote bases", true, decsum_decode_quote_bases},
    {kSumStockStates, "stock states", true, decsum_decode_stock_states},
    {kSumResumeTimes, "resume times", true, decsum_decode_resume_times},
    {kSumOpenBalances, "open balance", true, decsum_decode_open_balance},
    {kSumAuctionInfo, "auction info", true, decsum_decode_auction_info},
};

const summary_row* row_of(uint32_t type) {
  for (const summary_row& r : kRows)
    if (r.type == type) return &r;
  return nullptr;
}

}  // namespace

namespace ssproto_handlers {

int do_summary(ssproto_msg* m) {
  const summary_row* row = row_of(m->type);
  if (!row) return unknown_type(m);
  ss_exchange* ex = P.current;
  if (!ex) {
    log(LOG_ERROR, kSrc, "no exchange for %s", row->label);
    return PROTO_FAIL();
  }
  growbuf* work = ssproto_work_buffer(m->nesting);
  if (!work) return PROTO_FAIL();
  const int32_t mark = work->len;
  const uint8_t* p = m->data + m->used;
  const int32_t avail = m->avail - m->used;
  // Every summary block is framed with a deflate stream of its own (the
  // writer runs apart from the live stream), so each is read with a fresh one.
  int r = decblk_inflate(p, avail, work);
  if (r <= 0) return r < 0 ? PROTO_FAIL() : 0;
  m->used += r;
  const int32_t n = work->len - mark;
  const int32_t counted = row->counts_message ? ssproto_used(m) : r;
  if (!ssproto_replaying()) {
    if (m->type == kSumStocks) ssmsg_setf("Decoding %s data", ex->name);
    if (m->type == kSumIndices) ssmsg_setf("Receiving %s data", ex->name);
  }
  log(LOG_INFO, kSrc, "%s %db/%db %s", ex->name, counted, n, row->label);
  ssproto_add_counter(kSummaryCounter, 0, static_cast<uint32_t>(counted));
  const int d = row->reader(ex, work->data + mark, n);
  growbuf_truncate(work, mark);
  if (d < 0) return PROTO_FAIL();
  return ssproto_used(m);
}

// 191: the exchange's own state, stamped with its date.
int do_market_state(ssproto_msg* m) {
  uint8_t state;
  PROTO_FIELD(ssproto_read_byte(m, &state));
  if (!P.current) {
    log(LOG_ERROR, kSrc, "market state %d with no current exchange", state);
    return PROTO_FAIL();
  }
  if (ssevent_set_exchange_state(P.current, P.current->date, state, 0, 0) < 0) return PROTO_FAIL();
  return ssproto_used(m);
}

namespace {

// The broker field follows only where the exchange carries brokers and the
// stock keeps its depth per order; it is read and not applied.
int read_unused_broker(ssproto_msg* m, const ss_stock* s) {
  if (!(P.current->flags & kExBrokers) || (s->flags & kInOutOfOrder)) return 1;
  char broker[kCodeSize];
  return ssproto_read_broker(m, broker);
}

}  // namespace

// 200, 201: an entry at a price (bid, offer); 205, 206: an order inserted at
// a queue position.
int do_depth_change(ssproto_msg* m) {
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  const bool insert = m->type >= 205;
  const int side = static_cast<int>((m->type - (insert ? 205 : 200)) & 1);
  uint32_t price, count;
  uint64_t volume;
  PROTO_FIELD(ssproto_read_price(m, &price, ssproto_price_ref(s)));
  PROTO_FIELD(ssproto_read_volume(m, &volume));
  PROTO_FIELD(ssproto_read_vint(m, &count));
  PROTO_FIELD(read_unused_broker(m, s));
  if (insert) {
    if (ssevent_add_depth(s, m->time, side, price, volume, count, nullptr) < 0) {
      log(LOG_ERROR, kSrc, "can't add %s %s depth at %d", P.current->name, s->code, static_cast<int32_t>(count));
      return PROTO_FAIL();
    }
  } else if (ssevent_apply_depth_summary(s, m->time, side, price, volume, count, nullptr) < 0) {
    log(LOG_ERROR, kSrc, "can't add %s %s depth head/n", P.current->name, s->code);
    return PROTO_FAIL();
  }
  return ssproto_used(m);
}

// 202 both sides, 203 bids, 204 offers: that many head orders go.
int do_delete_top(ssproto_msg* m) {
  uint32_t bids = 0, offers = 0;
  if (m->type != 204) PROTO_FIELD(ssproto_read_vint(m, &bids));
  if (m->type != 203) PROTO_FIELD(ssproto_read_vint(m, &offers));
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  if (ssevent_delete_top(s, m->time, static_cast<int32_t>(bids), static_cast<int32_t>(offers)) < 0) {
    log(LOG_ERROR, kSrc, "can't delete %s %s %d/%d multi depth", P.current->name, s->code, static_cast<int32_t>(bids),
        static_cast<int32_t>(offers));
    return PROTO_FAIL();
  }
  return ssproto_used(m);
}

}  // namespace ssproto_handlers
