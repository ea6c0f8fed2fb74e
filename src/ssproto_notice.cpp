// Notice, global-value and volume-comparison messages (types 210-214).
//
// Exchange-wide data that is not about the header's instrument: the readers
// take the bytes after the header whole. A message that names an exchange
// (211, 214) leaves the current exchange as it found it.
#include <cstdint>

#include "decglobal.h"
#include "decnotice.h"
#include "log.h"
#include "ssproto_int.h"
#include "ssvcmp.h"

static const char kSrc[] = "src/ssproto";

namespace {

// Puts the dispatcher's current exchange back at the end of a handler, so
// the readers of another exchange's data cannot leave it moved.
class current_keeper {
 public:
  current_keeper() : saved_(ssproto_state.current) {}
  ~current_keeper() { ssproto_state.current = saved_; }
  current_keeper(const current_keeper&) = delete;
  current_keeper& operator=(const current_keeper&) = delete;

 private:
  ss_exchange* saved_;
};

// A record reader's result as the handler's: bytes of the whole message.
int reader_result(ssproto_msg* m, int r) {
  if (r < 0) return PROTO_FAIL();
  if (r == 0) return 0;
  m->used += r;
  return ssproto_used(m);
}

}  // namespace

namespace ssproto_handlers {

// 210: one notice; 212, 213: global values and global index values.
int do_notice(ssproto_msg* m) {
  const uint8_t* p = m->data + m->used;
  const int32_t n = m->avail - m->used;
  switch (m->type) {
    case 210: return reader_result(m, decnotice_decode(p, n));
    case 212: return reader_result(m, decglobal_decode(p, n));
    default: return reader_result(m, decglobal_decode_index(p, n));
  }
}

// 211: the notice list of an exchange.
int do_notice_list(ssproto_msg* m) {
  current_keeper keep;
  uint8_t index;
  uint32_t position;
  PROTO_FIELD(ssproto_read_byte(m, &index));
  PROTO_FIELD(ssproto_read_vint(m, &position));
  growbuf* work;
  int32_t mark;
  PROTO_FIELD(read_block(m, &work, &mark));
  ss_exchange* ex = exchange_or_log(index);
  if (ex) decnotice_decode_list(ex, position, work->data + mark, work->len - mark);
  growbuf_truncate(work, mark);
  return ex ? ssproto_used(m) : -1;
}

// 214: one volume-comparison set.
int do_vcmp(ssproto_msg* m) {
  current_keeper keep;
  uint8_t index, version, init;
  ss_time date;
  uint16_t quarter;
  PROTO_FIELD(ssproto_read_byte(m, &index));
  PROTO_FIELD(ssproto_read_byte(m, &version));
  PROTO_FIELD(ssproto_read_date(m, &date));
  PROTO_FIELD(ssproto_read_short(m, &quarter));
  PROTO_FIELD(ssproto_read_byte(m, &init));
  growbuf* work;
  int32_t mark;
  PROTO_FIELD(read_block(m, &work, &mark));
  ss_exchange* ex = exchange_or_log(index);
  if (!ex) {
    growbuf_truncate(work, mark);
    return -1;
  }
  const int32_t n = work->len - mark;
  char day[kSstimeDateLen];
  log(LOG_INFO, kSrc, "%db %s %s %02d %s vcmp", n, ex->name, sstime_format_date_into(day, date),
      static_cast<int>(quarter), init ? "init" : "reg");
  ssvcmp_apply(ex, date, quarter, init ? 1 : 0, work->data + mark, n, version);
  growbuf_truncate(work, mark);
  return ssproto_used(m);
}

}  // namespace ssproto_handlers
