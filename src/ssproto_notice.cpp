// Notice and global-value messages: one exchange notice (210), an exchange's
// notice list (211), global values (212) and one global index (213). None
// names the header's instrument and none counts toward a stream position.
// The volume-comparison block (214) is not built yet.
#include <cstdint>

#include "decblk.h"
#include "decglobal.h"
#include "decnotice.h"
#include "ssproto_int.h"

static proto_state& P = ssproto_state;

namespace ssproto_handlers {

namespace {

// A reader of the bytes after the header: bytes used, 0 incomplete, -1 bad.
int read_record(ssproto_msg* m, int (*reader)(const uint8_t*, int32_t)) {
  const int r = reader(m->data + m->used, m->avail - m->used);
  if (r <= 0) return r < 0 ? PROTO_FAIL() : 0;
  m->used += r;
  return ssproto_used(m);
}

}  // namespace

int do_notice(ssproto_msg* m) { return read_record(m, decnotice_decode); }

int do_global_values(ssproto_msg* m) {
  return read_record(m, m->type == 212 ? decglobal_decode : decglobal_decode_index);
}

// 211: an exchange's notices up to a number; the current exchange stays.
int do_notice_list(ssproto_msg* m) {
  uint8_t index;
  uint32_t number;
  PROTO_FIELD(ssproto_read_byte(m, &index));
  PROTO_FIELD(ssproto_read_vint(m, &number));
  growbuf* work = ssproto_work_buffer(m->nesting);
  if (!work) return PROTO_FAIL();
  const int32_t mark = work->len;
  const int r = decblk_read(m->data + m->used, m->avail - m->used, work);
  if (r <= 0) return r < 0 ? PROTO_FAIL() : 0;
  m->used += r;
  ss_exchange* ex = exchange_or_log(index);
  if (!ex) {
    growbuf_truncate(work, mark);
    return PROTO_FAIL();
  }
  ss_exchange* const current = P.current;
  decnotice_decode_list(ex, number, work->data + mark, work->len - mark);  // logs its own refusals
  P.current = current;
  growbuf_truncate(work, mark);
  return ssproto_used(m);
}

}  // namespace ssproto_handlers
