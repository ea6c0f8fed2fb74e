// Protocol framing and dispatch: the server's stream is one run of typed
// messages (a record header, then the fields its type defines); the decode
// loops cut bytes into messages and ssproto_dispatch sends each through one
// table of all 256 types to its handler. The handlers live in one file per
// message family (ssproto_<family>.cpp); a type without a handler takes the
// unknown-type path.
//
// A message that is not complete yet must leave no trace, since the same bytes
// are decoded again when more arrive: dispatch snapshots the decoder state the
// message can move before the header and puts it back on 0 or -1.
#include "ssproto.h"
#include "ssproto_int.h"

#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstring>

#include "dalloc.h"
#include "decblk.h"
#include "dechdr.h"
#include "decode.h"
#include "log.h"
#include "ssclient.h"
#include "ssevent.h"
#include "sserr.h"
#include "ssmsg.h"
#include "ssnotify.h"
#include "ssuser.h"

static const char kSrc[] = "src/ssproto";

namespace {

constexpr int32_t kHexDumpMax = 256;
constexpr int32_t kHexDumpLine = 16;
constexpr int32_t kHexDumpBack = 96;        // bytes shown before a failing message

// Table flags.
constexpr uint8_t kCounts = 0x1;   // advances the exchange's stream position
constexpr uint8_t kNoRaise = 0x2;  // leaves the stock's last-message time alone
// The handler keeps to the one stock it takes: it reads its fields and
// applies them to that stock, and never nests, gives speeds, reads times
// against the running reference date or makes another exchange current
// (the given stock's at most). Its message can move no header state but the
// current exchange's, so only that is saved before it.
constexpr uint8_t kOneStock = 0x4;

struct handler_row {
  ssproto_handler fn;
  uint8_t flags;
};

}  // namespace

constinit proto_state ssproto_state;
static proto_state& P = ssproto_state;

namespace ssproto_handlers {

int unknown_type(ssproto_msg* m) {
  log(LOG_ERROR, kSrc, "unknown type %d (len=%d, slen=%d, nesting=%d)", static_cast<int>(m->type), m->avail,
      m->header + m->avail, m->nesting);
  return PROTO_FAIL();
}

int read_block(ssproto_msg* m, growbuf** work, int32_t* mark) {
  *work = ssproto_work_buffer(m->nesting);
  if (!*work) return -1;
  *mark = (*work)->len;
  int r = decblk_read(m->data + m->used, m->avail - m->used, *work);
  if (r > 0) m->used += r;
  return r;
}

bool model_exchange(const ss_exchange* ex, const char* code) {
  if (ex == ssmodel_exchange(static_cast<int32_t>(ex->index))) return true;
  log(LOG_ERROR, kSrc, "%s is not in a saved stock stream", code);
  return false;
}

ss_exchange* exchange_or_log(uint32_t index) {
  ss_exchange* ex = ssmodel_exchange(static_cast<int32_t>(index));
  if (!ex) log(LOG_ERROR, kSrc, "no such exchange %d", static_cast<int>(index));
  return ex;
}

}  // namespace ssproto_handlers

using namespace ssproto_handlers;

namespace {

// ===========================================================================
// The table

struct type_range {
  uint32_t lo, hi;
  ssproto_handler fn;
  uint8_t flags;
};

// Every type with a handler, one row per range; the rest take the
// unknown-type path. Messages of an exchange's data stream count toward its
// position; control messages and answers to requests do not.
constexpr type_range kHandlers[] = {
    {1, 26, do_depth, kCounts | kOneStock},
    {27, 27, do_run, kCounts},
    {28, 28, do_quote, kCounts | kOneStock},
    {29, 30, do_trade, kCounts | kOneStock},
    {31, 31, do_index_tick, kCounts},
    {32, 39, do_depth, kCounts | kOneStock},
    {40, 40, do_expecting, 0},
    {41, 41, do_user, 0},
    {42, 42, do_user_config, 0},
    {44, 46, do_summary, 0},
    {48, 48, do_summary, 0},
    {49, 49, do_proceeding, 0},
    {50, 50, do_sync, 0},
    {51, 53, do_select_exchange, 0},
    {54, 54, do_exchange_date, 0},
    {55, 55, do_params, 0},
    {56, 56, do_server_position, 0},
    {57, 57, do_day_begin, kCounts},
    {58, 58, do_day_end, kCounts},
    {59, 59, do_select_exchange, 0},
    {60, 61, do_queue, kCounts},
    {62, 63, do_queue_block, kCounts},
    {64, 67, do_depth_answer, 0},
    {68, 68, do_out_of_order, kCounts},
    {69, 69, do_skip_word, 0},
    {70, 71, do_trade_variant, kCounts},
    {72, 72, do_trade_amend, kCounts},
    {75, 76, do_trade_list, 0},
    {80, 83, do_index_values, kCounts},
    {90, 90, do_block, kCounts},
    {91, 91, do_encrypted, 0},
    {100, 101, do_backfill_today, 0},
    {102, 104, do_backfill_prevday, 0},
    {105, 105, do_encrypted, 0},
    {110, 111, do_history, 0},
    {120, 120, do_history, 0},
    {121, 121, do_news_today, kCounts},
    {122, 122, do_news_summary, 0},
    {130, 133, do_clear_depth, kCounts},
    {140, 144, do_update, 0},
    {150, 150, do_bigdata_open, 0},
    {151, 151, do_bigdata_append, 0},
    {160, 160, do_exchange_reset, kCounts},
    {161, 161, do_offset, kCounts},
    {162, 162, do_setpos, kCounts},
    {165, 165, do_padding, 0},
    {166, 166, do_signature, kCounts},
    {167, 167, do_stall, 0},
    {170, 171, do_exchange_state, kCounts},
    {172, 172, do_stock_state, kCounts},
    {173, 173, do_state_list, kCounts},
    {174, 174, do_resume, kCounts},
    {180, 180, do_quote_basis, kCounts},
    {181, 181, do_quote_ex, kCounts},
    {190, 190, do_summary, 0},
    {191, 191, do_market_state, 0},
    {192, 194, do_summary, 0},
    {195, 195, do_summary, 0},
    {196, 196, do_summary, 0},
    {200, 201, do_depth_change, kCounts},
    {202, 204, do_delete_top, kCounts},
    {205, 206, do_depth_change, kCounts},
    {210, 210, do_notice, 0},
    {211, 211, do_notice_list, 0},
    {212, 212, do_notice, 0},
    {213, 213, do_notice, 0},
    {214, 214, do_vcmp, 0},
    {220, 220, do_auction, kCounts},
    {221, 221, do_open_balance, kCounts},
    {222, 222, do_auction_block, kCounts},
    {223, 223, do_auction, kCounts},
    {230, 231, do_multi_trade, kCounts},
    {240, 240, do_password_reply, 0},
    {241, 241, do_side_channel, 0},
    {242, 242, do_ack, 0},
    {251, 251, do_dropped, 0},
    {252, 252, do_debug, 0},
    {253, 253, do_noop, 0},
    {254, 254, do_signed_off, 0},
    {255, 255, do_server_error, 0},
};

struct type_span {
  uint32_t lo, hi;
};

// Types whose success does not raise their stock's last-message time.
constexpr type_span kNoRaiseTypes[] = {
    {40, 40}, {44, 46}, {48, 68}, {75, 76}, {90, 90}, {100, 103}, {110, 111}, {120, 121}, {140, 144}, {150, 151},
    {160, 160}, {162, 162}, {166, 167}, {170, 173}, {190, 192}, {195, 196}, {210, 214}, {241, 242}, {251, 251},
    {254, 255},
};

struct handler_table {
  handler_row rows[256] = {};
  constexpr handler_table() {
    for (handler_row& r : rows) r = {unknown_type, 0};
    for (const type_range& t : kHandlers)
      for (uint32_t i = t.lo; i <= t.hi; i++) rows[i] = {t.fn, t.flags};
    for (const type_span& t : kNoRaiseTypes)
      for (uint32_t i = t.lo; i <= t.hi; i++) rows[i].flags |= kNoRaise;
  }
};

constexpr handler_table kTable;

// ===========================================================================
// Dispatch helpers

// Everything a message may move before it completes: every exchange's header
// state, or for a message whose handler keeps to one stock only the current
// exchange's (the rest stays as it is, which debug builds check).
struct decoder_snapshot {
  ss_exchange* current;
  int32_t saved;  // header states in `headers`
  dechdr_state headers[kExchanges];
  dechdr_state given_header;  // the given stock's stream time
  bool ref_saved;
  ss_time ref_time;
  ss_stock* given;
  uint32_t given_ref;
};

void snapshot_take(decoder_snapshot* s, ss_stock* given, bool one_stock) {
  s->current = P.current;
  if (one_stock) {
    s->saved = 1;
    dechdr_save(&s->headers[0], P.current, nullptr);
  } else {
    s->saved = kExchanges;
    for (int i = 0; i < kExchanges; i++) dechdr_save(&s->headers[i], ssmodel_exchange(i), nullptr);
  }
  s->ref_saved = !one_stock;
  if (!one_stock) s->ref_time = decode_ref_date();
  s->given = given;
  if (given) {
    dechdr_save(&s->given_header, nullptr, given);
    s->given_ref = *ssproto_price_ref(given);
  }
}

void snapshot_restore(const decoder_snapshot* s, const ssproto_msg* m) {
  // The stock's reference first: when it is also the given stock, the
  // given stock's saved value (older) wins below.
  if (m->stock) *ssproto_price_ref(m->stock) = m->stock_ref;
  if (s->given) *ssproto_price_ref(s->given) = s->given_ref;
  for (int32_t i = 0; i < s->saved; i++) dechdr_restore(&s->headers[i]);
  if (s->given) dechdr_restore(&s->given_header);
  if (s->ref_saved) decode_set_ref_date(s->ref_time);
  P.current = s->current;
}

#ifndef NDEBUG
// Debug builds: what a one-stock message must leave alone, saved in full
// beside its snapshot and compared after its handler, whatever it returned.
struct untouched_check {
  dechdr_state headers[kExchanges];
  const ss_exchange* saved;  // the exchange the snapshot did save
  ss_time ref_time;

  void take(const decoder_snapshot* s) {
    saved = s->headers[0].exchange;
    for (int i = 0; i < kExchanges; i++) dechdr_save(&headers[i], ssmodel_exchange(i), nullptr);
    ref_time = decode_ref_date();
  }
  void verify() const {
    for (const dechdr_state& h : headers) {
      const ss_exchange* ex = h.exchange;
      if (!ex || ex == saved) continue;
      assert(memcmp(ex->cur_code, h.cur_code, kCodeSize) == 0 && ex->cur_time == h.cur_time &&
             ex->high_time == h.high_time && ex->speed_count == h.speed_count &&
             ex->index_speed_count == h.index_speed_count);
    }
    assert(decode_ref_date() == ref_time);
  }
};
#endif

// Makes `m` the message the trace describes while it is dispatched.
class current_msg_guard {
 public:
  explicit current_msg_guard(ssproto_msg* m) : outer_(P.msg) { P.msg = m; }
  ~current_msg_guard() { P.msg = outer_; }

 private:
  ssproto_msg* outer_;
};

// One more nesting level for the length of a decode loop.
class depth_guard {
 public:
  depth_guard() { P.depth++; }
  ~depth_guard() {
    P.depth--;
    assert(P.depth >= -1);
  }
};

// Step after a stock message succeeded: the stock joins the current list,
// gets a speed index while the table has room, and its last-message time
// follows the header.
void stock_succeeded(ssproto_msg* m, uint8_t flags) {
  ss_stock* s = m->stock;
  if (!(s->flags & kInCurrent)) ssmodel_stock_make_current(s);
  if (s->speed < 0) dechdr_add_stock_speed(s);  // refuses a full table
  if (!(flags & kNoRaise) && m->time > s->last_time) s->last_time = m->time;
}

enum loop_kind { kLoopLive, kLoopSaved, kLoopRun };

int decode_loop(const uint8_t* bytes, int32_t length, loop_kind kind, int stepped, ss_stock* instrument) {
  if (length <= 0) return 0;
  int32_t used = 0;
  while (used < length) {
    const uint8_t* p = bytes + used;
    const int32_t remaining = length - used;
    int r;
    [[maybe_unused]] const int32_t depth = P.depth;
    {
      depth_guard d;
      r = ssproto_dispatch(p, remaining, P.depth, stepped, instrument);
    }
    assert(P.depth == depth);  // every nested loop unwound
    const int32_t back = used < kHexDumpBack ? used : kHexDumpBack;
    if (kind == kLoopRun && r < 1) {
      if (!ssclient_abort_requested()) {
        log(LOG_ERROR, kSrc, "aborting with code %d at byte %d, %d remaining", r, used, remaining);
        ssproto_hex_dump(p - back, remaining + back);
      }
      return -1;
    }
    if (r == 0) break;
    if (r < 0) {
      if (kind == kLoopLive && !ssclient_abort_requested()) {
        log(LOG_ERROR, kSrc, "aborting at byte %d, %d remaining", used, remaining);
        ssproto_hex_dump(p - back, remaining + back);
      }
      log(LOG_ERROR, kSrc, "error at offset %d/%d", used, length);
      return -1;
    }
    used += r;
  }
  P.counters[0].first += static_cast<uint32_t>(used);
  return used;
}

}  // namespace

// ===========================================================================
// Life

int ssproto_init(void) {
  if (P.ready) ssproto_fini();
  for (growbuf& w : P.work) {
    if (growbuf_init(&w, kProtoWorkBufferSize, kProtoWorkBufferStep) < 0) {
      log(LOG_ERROR, kSrc, "can't alloc work buffer");
      ssproto_fini();
      return -1;
    }
  }
  if (growbuf_init(&P.save, kProtoWorkBufferSize, kProtoWorkBufferStep) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc save buffer");
    ssproto_fini();
    return -1;
  }
  P.multi = static_cast<uint8_t*>(dalloc_alloc(kProtoMultiScratchSize));
  memset(P.multi, 0, kProtoMultiScratchSize);
  const int32_t stock_size = ssmodel_stock_size();
  for (ss_stock*& s : P.scratch) {
    s = static_cast<ss_stock*>(dalloc_alloc(stock_size));
    memset(static_cast<void*>(s), 0, stock_size);
  }
  for (auto& pos : P.positions) pos.store(kProtoPositionNone);
  P.current = nullptr;
  P.depth = -1;
  P.msg = nullptr;
  P.version = kProtoVersion;
  P.counting = 0;
  P.replay = 0;
  P.ready = true;
  return 0;
}

void ssproto_fini(void) {
  for (growbuf& w : P.work)
    if (w.data) growbuf_free(&w);
  if (P.save.data) growbuf_free(&P.save);
  memset(P.work, 0, sizeof P.work);
  memset(&P.save, 0, sizeof P.save);
  if (P.multi) dalloc_free(P.multi);
  P.multi = nullptr;
  for (ss_stock*& s : P.scratch) {
    if (s) dalloc_free(s);
    s = nullptr;
  }
  P.current = nullptr;
  P.msg = nullptr;
  P.ready = false;
}

void ssproto_reset_counters(void) {
  P.expected.store(0);
  P.current = nullptr;
  memset(P.counters, 0, sizeof P.counters);
}

// ===========================================================================
// Decoding

int ssproto_decode(const uint8_t* bytes, int32_t length) { return ssproto_decode_messages(bytes, length, 0, nullptr); }

int ssproto_decode_messages(const uint8_t* bytes, int32_t length, int saved, ss_stock* instrument) {
  return decode_loop(bytes, length, saved ? kLoopSaved : kLoopLive, 0, instrument);
}

int ssproto_decode_saved(const uint8_t* bytes, int32_t length) {
  return decode_loop(bytes, length, kLoopSaved, 0, nullptr);
}

int ssproto_decode_saved_for(ss_stock* instrument, const uint8_t* bytes, int32_t length) {
  return decode_loop(bytes, length, kLoopSaved, 0, instrument);
}

int ssproto_decode_run(const uint8_t* bytes, int32_t length, int stepped) {
  return decode_loop(bytes, length, kLoopRun, stepped, nullptr);
}

int32_t ssproto_max_pending(void) { return kProtoMaxPending; }

int ssproto_dispatch(const uint8_t* bytes, int32_t length, int32_t nesting, int stepped, ss_stock* instrument) {
  if (nesting >= kProtoNestingLimit) {
    log(LOG_ERROR, kSrc, "nested %d", nesting);
    return -1;
  }
  ssproto_msg m = {};
  m.speed = -1;
  m.nesting = nesting;
  m.stepped = stepped;
  m.given = instrument;
  current_msg_guard guard(&m);

  // The type, read ahead of the header (every header form starts with it):
  // its row says what the message may move, so what to save. A test handler
  // in the row's place may do anything.
  uint32_t type = 0;
  const bool typed = dechdr_read_type(bytes, length, &type) > 0;
  const handler_row& row = kTable.rows[type];
  const bool one_stock = typed && (row.flags & kOneStock) && !P.test_handlers[type];
  decoder_snapshot snap;
  snapshot_take(&snap, instrument, one_stock);
#ifndef NDEBUG
  untouched_check untouched;
  if (one_stock) untouched.take(&snap);
#endif

  int h;
  if (stepped) {
    h = dechdr_decode_stepped(bytes, length, P.current, &m.type, &m.time, m.code, &m.speed);
  } else if (instrument) {
    h = dechdr_decode_stock_header(bytes, length, instrument, &m.type, &m.time);
    if (h > 0) {
      memcpy(m.code, instrument->code, kCodeSize);
      m.speed = instrument->speed;
    }
  } else {
    h = dechdr_decode_timed(bytes, length, P.current, &m.type, &m.time, m.code, &m.speed);
  }
  if (h <= 0) {
    if (h < 0) {
      m.avail = length;
      ssproto_trace(__LINE__);
    }
    snapshot_restore(&snap, &m);
    // A failed header of a single-stock stream starts its prices afresh; an
    // incomplete one leaves them as they were, to be read again.
    if (h < 0 && instrument) *ssproto_price_ref(instrument) = 0;
    return h;
  }
  assert(m.type == type);
  m.header = h;
  m.data = bytes + h;
  m.avail = length - h;

  ssclient_yield_point(1);

  const bool counting = P.counting != 0;
  uint32_t before[kProtoPositions];
  if (P.observer)
    for (int i = 0; i < kProtoPositions; i++) before[i] = P.positions[i].load();
  uint8_t flags = 0;
  int r;
  if (type == 0) {
    r = unknown_type(&m);
  } else {
    flags = row.flags;
    ssproto_handler fn = P.test_handlers[type] ? P.test_handlers[type] : row.fn;
    r = fn(&m);
    assert(P.msg == &m);  // a nested dispatch gave the trace its message back
  }
#ifndef NDEBUG
  if (one_stock) untouched.verify();
#endif

  if (r > 0) {
    P.counters[0].second++;
    if (m.stock) stock_succeeded(&m, flags);
    if (nesting == 0 && !instrument && counting && (flags & kCounts) && P.current)
      P.positions[P.current->index].fetch_add(static_cast<uint32_t>(r));
    if (P.observer) {
      const int32_t ex = P.current && P.current->index < uint32_t(kProtoPositions) ? int32_t(P.current->index) : -1;
      const ssproto_observed o = {m.type, nesting, r, counting, instrument != nullptr, ex,
                                  ex < 0 ? 0 : before[ex], ex < 0 ? 0 : P.positions[ex].load()};
      P.observer(&o);
    }
    return r;
  }
  if (r == 0 && length >= kProtoMaxPending) {
    log(LOG_ERROR, kSrc, "message still incomplete after %d bytes", length);
    ssproto_trace(__LINE__);
    r = -1;
  }
  snapshot_restore(&snap, &m);
  return r;
}

// ===========================================================================
// For handlers

void ssproto_trace(int check) {
  if (ssclient_abort_requested()) return;
  const ssproto_msg* m = P.msg;
  const ss_exchange* ex = P.current;
  char when[kSstimeDatetimeLen];
  sstime_format_datetime_into(when, m ? m->time : 0);
  log(LOG_ERROR, kSrc, "(line %d) %d %s \"%s\" %s %d (%db/%db)", check, m ? static_cast<int>(m->type) : 0,
      ex ? ex->name : "xxx", when, m ? m->code : "", m ? m->speed : -1, m ? m->avail : 0,
      m ? m->header + m->avail : 0);
  if (ex)
    log(LOG_ERROR, kSrc, "state %s %s", ex->cur_code, sstime_format_datetime(ex->cur_time));
  else
    log(LOG_ERROR, kSrc, "state %s %s", "xxx", "xxx");
}

void ssproto_hex_dump(const uint8_t* bytes, int32_t length) {
  if (!bytes || length <= 0) return;
  if (length > kHexDumpMax) length = kHexDumpMax;
  char line[kHexDumpLine * 3 + 1];
  int32_t n = 0;
  for (int32_t i = 0; i < length; i++) {
    if (i && i % kHexDumpLine == 0) {
      log(LOG_INFO, kSrc, "%s", line);
      n = 0;
    }
    n += snprintf(line + n, sizeof line - n, "%02x ", bytes[i]);
  }
  if (n) log(LOG_INFO, kSrc, "%s", line);
}

namespace {

// The exchange a header instrument is looked up in, or null after the log.
ss_exchange* lookup_exchange(ssproto_msg* m) {
  if (m->given) P.current = m->given->exchange;
  if (!P.current) log(LOG_ERROR, kSrc, "exchange is null when looking for %s", m->code);
  return P.current;
}

constexpr size_t kDepthIndexWarmBytes = 256;

// Starts fetching the lines of the stock record a stream message works on
// (the instrument head, then the stock's hot fields that follow it). With
// thousands of stocks the record is mostly cold: fetched together the misses
// overlap instead of stalling one after another as the handler reaches each
// field. Only a hint; nothing is read.
void warm_stock(const ss_stock* s) { dechdr_warm<kStockHotBytes>(s); }

// Starts fetching the head of the stock's index of its first depth levels
// (both sides' counts and first entries), which every depth event reads
// first, so that its miss overlaps the reading of the message's fields. The
// pointer may be stale or another record's: a prefetch never faults (but
// arithmetic on a null pointer is undefined, so none is made then).
void warm_depth_index(const ss_stock* s) {
  if (s->depth_prefix) dechdr_warm<kDepthIndexWarmBytes>(s->depth_prefix);
}

// The stock the header named by its speed: the header has already resolved
// the speed to this record (and started fetching it), so no lookup by code
// is needed. Null when the header carried no stock speed or the record no
// longer carries the message's code (a handler may have moved on).
ss_stock* header_stock(const ss_exchange* ex, const ssproto_msg* m) {
  if (m->speed < 0 || uint32_t(m->speed) >= ex->speed_count || dechdr_is_index_type(m->type)) return nullptr;
  ss_stock* s = ex->speeds[m->speed];
  return s && dechdr_same_code(s->code, m->code) ? s : nullptr;  // the header zero-filled m->code
}

}  // namespace

ss_stock* ssproto_take_stock(ssproto_msg* m) {
  if (m->stock) return m->stock;
  ss_exchange* ex = lookup_exchange(m);
  if (!ex) return nullptr;
  ss_stock* s = m->given;
  bool warmed = false;  // the header fetched the record already
  if (!s) warmed = (s = header_stock(ex, m)) != nullptr;
  if (!s) s = ssmodel_find_stock(ex, m->code);
  if (!s) {
    s = ssmodel_add_stock(ex, m->code);
    if (!s) {
      log(LOG_ERROR, kSrc, "can't add %s to %s", m->code, ex->name);
      return nullptr;
    }
    s->flags = kAddedStockFlags;
  } else if (!m->given && !(s->flags & (kInCurrent | kInRequestBits))) {
    // The stream names a stock for the first time since the model started or
    // was reset (a reset leaves the record, not current, with no request
    // bits). From here the stream carries its whole book, as for a stock it
    // adds: without these bits a replay after a reset would stall every side
    // that runs empty and ask for queues a fresh client never needs.
    s->flags |= kAddedStockFlags;
  }
  if (!warmed) warm_stock(s);
  m->stock = s;
  m->stock_ref = *ssproto_price_ref(s);
  warm_depth_index(s);
  return s;
}

void ssproto_warm_next(const ssproto_msg* m) {
  if (m->given || m->stepped) return;  // other header forms
  dechdr_warm_next(m->data + m->used, m->avail - m->used, P.current);
}

ss_index* ssproto_take_index(ssproto_msg* m) {
  ss_exchange* ex = lookup_exchange(m);
  if (!ex) return nullptr;
  if (!model_exchange(ex, m->code)) return nullptr;
  ss_index* x = ssmodel_find_index(ex, m->code);
  if (!x) x = ssmodel_add_index(ex, m->code);
  if (!x) log(LOG_ERROR, kSrc, "can't add %s to %s", m->code, ex->name);
  return x;
}

uint32_t* ssproto_price_ref(ss_stock* stock) { return &stock->price_ref; }

growbuf* ssproto_work_buffer(int32_t nesting) {
  return nesting >= 0 && nesting < kProtoNestingLevels ? &P.work[nesting] : nullptr;
}

growbuf* ssproto_save_buffer(void) { return &P.save; }
uint8_t* ssproto_multi_scratch(void) { return P.multi; }

ss_stock* ssproto_scratch_stock(int32_t nesting) {
  return nesting >= 0 && nesting < kProtoNestingLevels ? P.scratch[nesting] : nullptr;
}

// ===========================================================================
// State

ss_exchange* ssproto_current_exchange(void) { return P.current; }
void ssproto_set_current_exchange(ss_exchange* ex) { P.current = ex; }

uint32_t ssproto_exchange_position(int32_t i) {
  return i >= 0 && i < kProtoPositions ? P.positions[i].load() : kProtoPositionNone;
}

void ssproto_set_exchange_position(int32_t i, uint32_t value) {
  if (i >= 0 && i < kProtoPositions) P.positions[i].store(value);
}

namespace {

void set_positions(uint32_t value) {
  for (int i = 0; i < kProtoPositions; i++) {
    P.positions[i].store(value);
    ssmodel_set_signature(i, 0);
  }
  P.master.store(0);
}

}  // namespace

void ssproto_reset_positions(void) { set_positions(kProtoPositionNone); }
void ssproto_zero_positions(void) { set_positions(0); }
uint32_t ssproto_master_position(void) { return P.master.load(); }
void ssproto_set_master_position(uint32_t value) { P.master.store(value); }
uint32_t ssproto_expected_bytes(void) { return P.expected.load(); }
int32_t ssproto_version(void) { return P.version; }
void ssproto_set_version(int32_t version) { P.version = version; }

void ssproto_get_counters(ssproto_counter out[kProtoCounterPairs]) {
  memcpy(out, P.counters, sizeof P.counters);
}

void ssproto_add_counter(int pair, uint32_t first, uint32_t second) {
  if (pair < 0 || pair >= kProtoCounterPairs) return;
  P.counters[pair].first += first;
  P.counters[pair].second += second;
}

void ssproto_set_replay(void) { P.replay = 1; }
void ssproto_set_live(void) { P.replay = 0; }
int ssproto_replaying(void) { return P.replay; }

void ssproto_set_test_handler(uint32_t type, ssproto_handler fn) {
  if (type < 256) P.test_handlers[type] = fn;
}

void ssproto_set_test_observer(ssproto_observer fn) { P.observer = fn; }
