// Backfill, priority and firm-order messages: a stock's trading so far today
// (100) or an index's ticks (101); a stock's day, an index's day or a stock's
// trades of an earlier date (102-104); an exchange's order-priority block (91)
// and a stock's firm orders (105).
//
// Each names its exchange and instrument in its own fields, so the current
// exchange is put back after it and none counts toward the stream position.
// An earlier date is decoded into the nesting level's scratch record under
// the version the message carries (a guard puts 6 back on every exit), moved
// into the instrument's day record, and saved to the data cache as the
// message's own bytes, so a replay decodes exactly what the server sent.
#include <cstring>
#include <new>

#include "decblk.h"
#include "decfill.h"
#include "dectrades.h"
#include "log.h"
#include "sscache.h"
#include "sserr.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "sspriority.h"
#include "ssproto_int.h"

static const char kSrc[] = "src/ssproto";

namespace {

constexpr uint32_t kScratchFlags = 63;
constexpr int32_t kErrBackfill = 22;
constexpr uint32_t kErrPrevdayStock = 62;
constexpr uint32_t kErrPrevdayTrades = 63;
constexpr int kDecryptBuffer = 0;  // the codec's scratch buffer for decryption

static_assert(sizeof(ss_index) <= sizeof(ss_stock), "an index fits the stock-sized scratch record");

// The stock of a backfill, found or added (added stocks get the request bits
// of a stock the stream adds); null after an ERROR line.
ss_stock* stock_of(ss_exchange* ex, const char* code, bool alias) {
  ss_stock* s = alias ? ssmodel_find_stock_or_alias(ex, code) : ssmodel_find_stock(ex, code);
  if (s) return s;
  if ((s = ssmodel_add_stock(ex, code))) {
    s->flags = kAddedStockFlags;
    return s;
  }
  log(LOG_ERROR, kSrc, "can't add %s to %s", code, ex->name);
  return nullptr;
}

ss_index* index_of(ss_exchange* ex, const char* code) {
  ss_index* x = ssmodel_find_index(ex, code);
  if (!x) x = ssmodel_add_index(ex, code);
  if (!x) log(LOG_ERROR, kSrc, "can't add %s to %s", code, ex->name);
  return x;
}

// The nesting level's stock-sized scratch record, zeroed and made an
// instrument of the target's exchange and code (an index is built in the
// same storage).
instr* prepare_scratch(int32_t nesting, ss_exchange* ex, const char* code, bool index) {
  ss_stock* mem = ssproto_scratch_stock(nesting);
  if (!mem) return nullptr;
  memset(static_cast<void*>(mem), 0, static_cast<size_t>(ssmodel_stock_size()));
  instr* in = index ? static_cast<instr*>(new (mem) ss_index{}) : static_cast<instr*>(new (mem) ss_stock{});
  in->kind = index ? kKindIndex : kKindStock;
  in->exchange = ex;
  memcpy(in->code, code, kCodeSize);
  in->flags = kScratchFlags | kInMuted;  // muted: no change is recorded for a scratch record
  if (!index) static_cast<ss_stock*>(in)->speed = -1;
  return in;
}

// Whatever a decode left on the scratch record goes back to the model.
void empty_scratch(instr* in) {
  if (in->kind == kKindIndex) {
    ssmodel_free_index_ticks(static_cast<ss_index*>(in));
  } else {
    auto* s = static_cast<ss_stock*>(in);
    ssmodel_free_depth(s);
    ssmodel_free_depth_breaks(s);
    ssmodel_free_trades(s);
  }
  ssevent_free_events(in);
}

// An encrypted block field into the nesting level's work buffer.
int read_encrypted(ssproto_msg* m, growbuf** out) {
  growbuf* gb = ssproto_work_buffer(m->nesting);
  if (!gb) return -1;
  growbuf_truncate(gb, 0);
  int r = decblk_read_encrypted(kDecryptBuffer, m->data + m->used, m->avail - m->used, gb);
  if (r > 0) m->used += r;
  *out = gb;
  return r;
}

}  // namespace

namespace ssproto_handlers {

// 100 (stock), 101 (index): exchange, code, block of today's data.
int do_backfill_today(ssproto_msg* m) {
  ssproto_current_guard keep_current;
  uint8_t index;
  char code[kCodeSize];
  growbuf* gb = nullptr;
  PROTO_FIELD(ssproto_read_byte(m, &index));
  PROTO_FIELD(ssproto_read_code(m, code));
  const int32_t block_start = m->used;
  PROTO_FIELD(inflate_block(m, &gb));
  ss_exchange* ex = exchange_or_log(index);
  if (!ex) return PROTO_FAIL();
  if (m->type == 100) {
    ss_stock* s = stock_of(ex, code, false);
    if (!s) return PROTO_FAIL();
    log(LOG_INFO, kSrc, "backfill %s %db/%db", code, m->used - block_start, gb->len);
    if (decfill_decode_trades(s, ex->date, gb->data, gb->len) < 0)
      log(LOG_ERROR, kSrc, "can't decode %s backfill", code);
    else if (sspriority_apply_firm(s) < 0)
      log(LOG_WARN, kSrc, "ignoring %s:%s firm order problem", ex->name, s->code);
    ssnotify_record(s, kChangeAllTrades, nullptr);
    return ssproto_used(m);
  }
  ss_index* x = index_of(ex, code);
  if (!x) return PROTO_FAIL();
  log(LOG_INFO, kSrc, "backfill %s %db", code, gb->len);
  if (decfill_decode_index_ticks(x, ex->date, gb->data, gb->len) < 0) {
    log(LOG_ERROR, kSrc, "can't decode %s backfill", code);
    return PROTO_FAIL();
  }
  ssnotify_record(x, kChangeAllTrades, nullptr);
  return ssproto_used(m);
}

// 102 (a stock's day), 103 (an index's day), 104 (a stock's trades): exchange,
// code, date, version, block of an earlier date.
int do_backfill_prevday(ssproto_msg* m) {
  ssproto_current_guard keep_current;
  uint8_t index;
  char code[kCodeSize];
  ss_time date;
  uint32_t version;
  growbuf* gb = nullptr;
  PROTO_FIELD(ssproto_read_byte(m, &index));
  PROTO_FIELD(ssproto_read_code(m, code));
  PROTO_FIELD(ssproto_read_date(m, &date));
  PROTO_FIELD(ssproto_read_vint(m, &version));
  const int32_t block_start = m->used;
  PROTO_FIELD(inflate_block(m, &gb));
  ss_exchange* ex = exchange_or_log(index);
  if (!ex) return PROTO_FAIL();
  instr* target = m->type == 103 ? static_cast<instr*>(index_of(ex, code))
                                 : static_cast<instr*>(stock_of(ex, code, m->type == 102));
  if (!target) return PROTO_FAIL();
  char day[kSstimeDateLen];
  sstime_format_date_into(day, date);
  const int32_t block_bytes = m->used - block_start;
  if (m->type == 102)
    log(LOG_INFO, kSrc, "backfill %s %s %s %db/%db", ex->name, code, day, block_bytes, gb->len);
  else if (m->type == 103)
    log(LOG_INFO, kSrc, "backfill %s %s %db/%db", code, day, block_bytes, gb->len);
  else
    log(LOG_INFO, kSrc, "backfill %s %s trades %db/%db", code, day, block_bytes, gb->len);

  instr* scratch = prepare_scratch(m->nesting, ex, target->code, m->type == 103);
  if (!scratch) return PROTO_FAIL();
  // The message's own bytes, header to the end of its block, for the cache.
  growbuf* save = ssproto_save_buffer();
  bool saved = false;
  if (m->nesting == 0 && save) {
    growbuf_truncate(save, 0);
    const int32_t bytes = ssproto_used(m);
    saved = growbuf_append(save, m->data - m->header, static_cast<uint32_t>(bytes)) >= 0;
    if (!saved) log(LOG_ERROR, kSrc, "can't save %db", bytes);
  }

  int r;
  ss_day_bars* bars = nullptr;
  {
    ssproto_version_guard as_sent(static_cast<int32_t>(version));
    if (m->type == 102)
      r = decfill_decode_trades(static_cast<ss_stock*>(scratch), date, gb->data, gb->len);
    else if (m->type == 103)
      r = decfill_decode_index_ticks(static_cast<ss_index*>(scratch), date, gb->data, gb->len);
    else {
      r = dectrades_decode_prevday(static_cast<ss_stock*>(scratch), date, gb->data, gb->len);
      bars = dectrades_take_bars();
    }
  }
  if (r < 0) {
    ssevent_free_day_record(bars);
    empty_scratch(scratch);
    log(LOG_ERROR, kSrc, "can't decode %s backfill", code);
    if (m->type == 103) return PROTO_FAIL();
    sserr_report(kErrBackfill, m->type == 102 ? kErrPrevdayStock : kErrPrevdayTrades, index, code, date);
    return ssproto_used(m);
  }
  if (m->type == 104) {
    if (ssevent_store_day_trades(static_cast<ss_stock*>(target), date, static_cast<ss_stock*>(scratch), bars) < 0)
      log(LOG_ERROR, kSrc, "can't copy %s prevday trades", code);
  } else if (ssevent_store_day_events(target, date, scratch, bars) < 0) {
    log(LOG_ERROR, kSrc, "can't copy %s prevday", code);
  }
  empty_scratch(scratch);
  ssnotify_record(target, kChangeBackfill, nullptr);
  if (saved && !ssproto_replaying()) {
    if (m->type == 102)
      sscache_save_prevday_stock(static_cast<ss_stock*>(target), date, save->data, save->len);
    else if (m->type == 103)
      sscache_save_prevday_index(static_cast<ss_index*>(target), date, save->data, save->len);
    else
      sscache_save_prevday_trades(static_cast<ss_stock*>(target), date, save->data, save->len);
  }
  return ssproto_used(m);
}

// 91: exchange, encrypted order-priority block of the exchange. 105:
// exchange, code, encrypted firm-order block of the stock. Both only at
// nesting 0; a problem inside the decrypted data is only a warning.
int do_encrypted(ssproto_msg* m) {
  ssproto_current_guard keep_current;
  const bool firm = m->type == 105;
  if (m->nesting != 0) {
    log(LOG_ERROR, kSrc, firm ? "can't decode nested firm order info block" : "can't decode nested priority block");
    return -1;
  }
  uint8_t index;
  char code[kCodeSize] = "";
  growbuf* gb = nullptr;
  PROTO_FIELD(ssproto_read_byte(m, &index));
  if (firm) PROTO_FIELD(ssproto_read_code(m, code));
  const int32_t block_start = m->used;
  PROTO_FIELD(read_encrypted(m, &gb));
  ss_exchange* ex = exchange_or_log(index);
  if (!ex) return PROTO_FAIL();
  if (!firm) {
    if (sspriority_decode(ex, gb->data, gb->len) < 0)
      log(LOG_WARN, kSrc, "ignoring %s priority block problem", ex->name);
    return ssproto_used(m);
  }
  ss_stock* s = stock_of(ex, code, false);
  if (!s) return PROTO_FAIL();
  ssmodel_stock_make_current(s);
  log(LOG_INFO, kSrc, "%s:%s %db/%db firm orders", ex->name, code, m->used - block_start, gb->len);
  if (sspriority_store_firm(s, gb->data, gb->len) < 0)
    log(LOG_WARN, kSrc, "ignoring %s:%s firm order problem", ex->name, code);
  return ssproto_used(m);
}

}  // namespace ssproto_handlers
