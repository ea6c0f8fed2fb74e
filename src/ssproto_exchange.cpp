// Stream control and exchange messages beyond the sign-on subset: run and
// timed blocks (27, 90), the stored user configuration (42), the deprecated
// sync and position messages (50, 162), exchange parameters (55), the server
// position (56), the exchange's day begin and end (57, 58), its day reset and
// clock offset (160, 161), padding (165), stock states and state lists,
// resume times and quote bases (172-174, 180) and the extended quote (181).
//
// Two messages make the reader wait for bytes the server announces (56 kind
// 0, 165); both wait only up to kProtoWaitCap, beyond which the count is
// taken as garbage rather than buffered for.
#include <cstdint>
#include <cstring>

#include "decblk.h"
#include "decstate.h"
#include "log.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "ssproto_int.h"
#include "ssuser.h"

static const char kSrc[] = "src/ssproto";
static proto_state& P = ssproto_state;

namespace {

constexpr uint32_t kProtoWaitCap = 4 * 1024 * 1024;  // bytes a server may make us wait for
constexpr uint8_t kNoExchange = 255;

// Reads the message's block (shared inflate stream) and decodes the messages
// in it one level deeper. -1 after `failure` when any of them fails.
int decode_block(ssproto_msg* m, int stepped, const char* failure) {
  growbuf* work = ssproto_work_buffer(m->nesting);
  if (!work) return PROTO_FAIL();
  const int32_t mark = work->len;
  int r = decblk_read(m->data + m->used, m->avail - m->used, work);
  if (r <= 0) return r < 0 ? PROTO_FAIL() : 0;
  m->used += r;
  const int32_t n = work->len - mark;
  const int d = n > 0 ? ssproto_decode_run(work->data + mark, n, stepped) : 0;
  growbuf_truncate(work, mark);
  if (d < 0) {
    log(LOG_ERROR, kSrc, "%s", failure);
    return PROTO_FAIL();
  }
  return ssproto_used(m);
}

}  // namespace

namespace ssproto_handlers {

// 27: a run of stepped messages, never inside another block.
int do_run(ssproto_msg* m) {
  if (m->nesting > 0) {
    log(LOG_ERROR, kSrc, "can't decode nested run!");
    return PROTO_FAIL();
  }
  return decode_block(m, 1, "failed to decode run block");
}

// 90: a block of timed messages.
int do_block(ssproto_msg* m) { return decode_block(m, 0, "failed to decode block"); }

// 42: the configuration the server keeps for the user; the first one wins.
int do_user_config(ssproto_msg* m) {
  growbuf* work = ssproto_work_buffer(m->nesting);
  if (!work) return PROTO_FAIL();
  const int32_t mark = work->len;
  int r = decblk_inflate(m->data + m->used, m->avail - m->used, work);
  if (r <= 0) return r < 0 ? PROTO_FAIL() : 0;
  m->used += r;
  if (!ssuser_has_config())
    ssuser_store_config(work->data + mark, work->len - mark);
  else
    log(LOG_WARN, kSrc, "ignoring user config");
  growbuf_truncate(work, mark);
  return ssproto_used(m);
}

// 50: a sync byte no longer used.
int do_sync(ssproto_msg* m) {
  uint8_t b;
  PROTO_FIELD(ssproto_read_byte(m, &b));
  log(LOG_INFO, kSrc, "ignore deprecated sync");
  return ssproto_used(m);
}

// 55: the exchange's parameters: it starts its day again at its date.
int do_params(ssproto_msg* m) {
  uint8_t index;
  char code[kCodeSize];
  uint32_t time;
  PROTO_FIELD(ssproto_read_byte(m, &index));
  PROTO_FIELD(ssproto_read_code(m, code));
  PROTO_FIELD(ssproto_read_u32(m, &time));
  ss_exchange* ex = exchange_or_log(index);
  if (!ex) return PROTO_FAIL();
  P.current = ex;
  char text[kSstimeDatetimeLen];
  log(LOG_INFO, kSrc, "params %s", ex->name);
  log(LOG_INFO, kSrc, "       code %s", code);
  log(LOG_INFO, kSrc, "       time %s", sstime_format_datetime_into(text, time));
  ssmodel_reset_exchange_keep_date(ex, ex->date);
  memcpy(ex->cur_code, code, kCodeSize);
  ex->cur_time = time;
  return ssproto_used(m);
}

// 56: the server's position of one kind; kind 0 first waits for `position`
// bytes after the message.
int do_server_position(ssproto_msg* m) {
  uint8_t kind, index;
  uint32_t position = 0, second;
  PROTO_FIELD(ssproto_read_byte(m, &kind));
  PROTO_FIELD(ssproto_read_byte(m, &index));
  if (kind == 0 || kind == 1 || kind == 7 || kind == 8) PROTO_FIELD(ssproto_read_u32(m, &position));
  if (kind == 8) PROTO_FIELD(ssproto_read_u32(m, &second));
  if (kind == 0) {
    if (position > kProtoWaitCap) {
      log(LOG_ERROR, kSrc, "server position wait of %u bytes", position);
      return PROTO_FAIL();
    }
    if (static_cast<uint32_t>(m->avail - m->used) < position) return 0;
  }
  if (index != kNoExchange) {
    ss_exchange* ex = exchange_or_log(index);
    if (!ex) return PROTO_FAIL();
    P.current = ex;
  }
  if (kind == 1) {
    const uint32_t old = ssproto_master_position();
    if (position < old) log(LOG_INFO, kSrc, "resetting server position to %u (from %u)", position, old);
    ssproto_set_master_position(position);
  }
  return ssproto_used(m);
}

// 160: a new trading day for the current exchange.
int do_exchange_reset(ssproto_msg* m) {
  uint32_t date, time, offset;
  PROTO_FIELD(ssproto_read_u32(m, &date));
  PROTO_FIELD(ssproto_read_u32(m, &time));
  PROTO_FIELD(ssproto_read_vint(m, &offset));
  ss_exchange* ex = P.current;
  if (!ex) {
    log(LOG_ERROR, kSrc, "no exchange to reset?");
    return PROTO_FAIL();
  }
  char text[kSstimeDatetimeLen];
  log(LOG_INFO, kSrc, "reset %s", ex->name);
  log(LOG_INFO, kSrc, "      date %s", sstime_format_datetime_into(text, date));
  log(LOG_INFO, kSrc, "      time %s", sstime_format_datetime_into(text, time));
  log(LOG_INFO, kSrc, "    offset %d", static_cast<int32_t>(offset));
  ssevent_exchange_reset(ex, date, time, static_cast<int32_t>(offset));
  return ssproto_used(m);
}

// 161: the current exchange's clock offset.
int do_offset(ssproto_msg* m) {
  uint32_t offset;
  PROTO_FIELD(ssproto_read_vint(m, &offset));
  if (!P.current) {
    log(LOG_ERROR, kSrc, "no exchange to change tmoffset?");
    return -1;
  }
  ssevent_set_offset(P.current, static_cast<int32_t>(offset));  // cannot fail
  return ssproto_used(m);
}

// 57: the exchange's day begins: its signature, then its date.
int do_day_begin(ssproto_msg* m) {
  ss_time date;
  uint32_t signature;
  PROTO_FIELD(ssproto_read_date(m, &date));
  PROTO_FIELD(ssproto_read_u32(m, &signature));
  if (!P.current) {
    log(LOG_ERROR, kSrc, "no exchange to begin?");
    return -1;
  }
  if (replaces_unreset_stream(P.current, signature)) {
    log(LOG_WARN, kSrc, "%s: stream %u begins a day over stream %u: resetting", P.current->name, signature,
        P.current->signature);
    ssevent_exchange_reset(P.current, P.current->date, 0, P.current->offset);
  }
  ssmodel_set_signature(static_cast<int32_t>(P.current->index), signature);
  ssevent_exchange_begin(P.current, date);
  return ssproto_used(m);
}

bool replaces_unreset_stream(const ss_exchange* ex, uint32_t signature) {
  return ex && ex->signature != 0 && signature != ex->signature && !ex->reset_since_signature;
}

// 58: the exchange's day ends.
int do_day_end(ssproto_msg* m) {
  if (!P.current) {
    log(LOG_ERROR, kSrc, "no exchange to end?");
    return -1;
  }
  ssevent_exchange_end(P.current);
  return ssproto_used(m);
}

// 162: an old position message; read and dropped.
int do_setpos(ssproto_msg* m) {
  uint32_t a, b, c;
  PROTO_FIELD(ssproto_read_u32(m, &a));
  PROTO_FIELD(ssproto_read_u32(m, &b));
  PROTO_FIELD(ssproto_read_u32(m, &c));
  log(LOG_INFO, kSrc, "ignore deprecated setpos");
  return ssproto_used(m);
}

// 165: n bytes of padding, waited for and skipped.
int do_padding(ssproto_msg* m) {
  uint32_t n;
  PROTO_FIELD(ssproto_read_u32(m, &n));
  if (n > kProtoWaitCap) {
    log(LOG_ERROR, kSrc, "padding of %u bytes", n);
    return PROTO_FAIL();
  }
  if (static_cast<uint32_t>(m->avail - m->used) < n) return 0;
  log(LOG_INFO, kSrc, "padding");
  log(LOG_INFO, kSrc, "padding %db", static_cast<int32_t>(n));
  m->used += static_cast<int32_t>(n);
  return ssproto_used(m);
}

// 172: the header's stock's trading state.
int do_stock_state(ssproto_msg* m) {
  uint8_t state;
  PROTO_FIELD(ssproto_read_byte(m, &state));
  ss_stock* s = ssproto_take_stock(m);
  if (!s || ssevent_set_stock_state(s, m->time, state) < 0) return PROTO_FAIL();
  return ssproto_used(m);
}

// 173: a state given to a list of the current exchange's stocks.
int do_state_list(ssproto_msg* m) {
  uint8_t state;
  PROTO_FIELD(ssproto_read_byte(m, &state));
  if (!P.current) {
    log(LOG_ERROR, kSrc, "state list %d with no current exchange", state);
    return PROTO_FAIL();
  }
  // The reader takes the framed block itself.
  const int d = decstate_decode(P.current, m->time, state, m->data + m->used, m->avail - m->used);
  if (d == 0) return 0;
  if (d < 0) {
    log(LOG_ERROR, kSrc, "can't decode %s state changes", P.current->name);
    return PROTO_FAIL();
  }
  m->used += d;
  return ssproto_used(m);
}

// 174: the time the header's stock resumes trading.
int do_resume(ssproto_msg* m) {
  uint32_t resume;
  PROTO_FIELD(ssproto_read_u32(m, &resume));
  ss_stock* s = ssproto_take_stock(m);
  if (!s || ssevent_resume_track(s, m->time, resume) < 0) return PROTO_FAIL();
  return ssproto_used(m);
}

// 180: the header's stock's quote basis.
int do_quote_basis(ssproto_msg* m) {
  uint64_t basis;
  PROTO_FIELD(ssproto_read_vlong(m, &basis));
  ss_stock* s = ssproto_take_stock(m);
  if (!s || ssevent_set_quote_basis(s, m->time, basis) < 0) return PROTO_FAIL();
  return ssproto_used(m);
}

// 181: the extended quote: the fields whose flag bit is set, the others
// passed as "no change".
int do_quote_ex(ssproto_msg* m) {
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  uint8_t flags;
  PROTO_FIELD(ssproto_read_byte(m, &flags));
  uint32_t prices[5] = {kNoPrice, kNoPrice, kNoPrice, kNoPrice, kNoPrice};
  uint64_t volume = kNoVolume, value = kNoVolume;
  for (int i = 0; i < 5; i++)
    if (flags & (1u << i)) PROTO_FIELD(ssproto_read_price(m, &prices[i], ssproto_price_ref(s)));
  if (flags & 0x20)
    PROTO_FIELD(ssproto_read_vlong(m, &volume));
  if (flags & 0x40)
    PROTO_FIELD(ssproto_read_vlong(m, &value));
  if (ssevent_apply_quote(s, m->time, prices[0], prices[1], prices[2], prices[3], prices[4], volume, value) < 0) {
    log(LOG_ERROR, kSrc, "can't do %s %s quote ex", P.current->name, s->code);
    return PROTO_FAIL();
  }
  ssnotify_record(s, kChangeQuote, nullptr);
  return ssproto_used(m);
}

}  // namespace ssproto_handlers
