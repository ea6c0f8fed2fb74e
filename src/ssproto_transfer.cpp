// Depth clears, program updates and large transfers (types 130-133,
// 140-144, 150, 151).
//
// A program file is too large for one message: 150 opens a numbered
// reassembly buffer with the file's size, 151 pieces fill it, 141 hands the
// finished buffer to the update's pending list and 142 writes the update.
// Sizes from the wire are checked against a hard cap here, before the
// buffer module allocates anything.
#include <cstdint>

#include "bigdata.h"
#include "decode.h"
#include "log.h"
#include "ssevent.h"
#include "ssproto_int.h"
#include "ssupdate.h"

static const char kSrc[] = "src/ssproto";

using ssproto_handlers::read_block;

namespace {

constexpr uint32_t kTypeClearExchange = 133;  // 130-132: sides 0, 1, 2 of one stock
constexpr uint32_t kTypeClearBid = 130;
constexpr int32_t kVersionTextMax = 31;
constexpr int32_t kStoreNameMax = 13;
constexpr int32_t kTestNameMax = 15;

// Reads a length-prefixed text of at most `max` characters.
int read_text(ssproto_msg* m, char* dst, int32_t max) {
  int32_t size = max + 1;
  int r = decode_string(m->data + m->used, m->avail - m->used, dst, &size);
  if (r > 0) m->used += r;
  return r;
}

// The update readers: each reads its message's fields and calls the update
// code. Bytes used, 0 while incomplete, -1 on bad data.

int decupdate_decode_version(ssproto_msg* m) {
  char version[kVersionTextMax + 1];
  PROTO_FIELD(read_text(m, version, kVersionTextMax));
  ssupdate_begin(version);
  return ssproto_used(m);
}

int decupdate_decode_store(ssproto_msg* m) {
  char name[kStoreNameMax + 1];
  uint32_t id;
  PROTO_FIELD(read_text(m, name, kStoreNameMax));
  PROTO_FIELD(ssproto_read_vint(m, &id));
  if (id > INT32_MAX || ssupdate_store(name, static_cast<int32_t>(id)) < 0)
    log(LOG_ERROR, kSrc, "failed to store update");
  return ssproto_used(m);
}

int decupdate_decode_write(ssproto_msg* m) {
  char unused[kVersionTextMax + 1];
  PROTO_FIELD(read_text(m, unused, kVersionTextMax));
  ssupdate_write();
  return ssproto_used(m);
}

int decupdate_decode_test(ssproto_msg* m) {
  char name[kTestNameMax + 1];
  PROTO_FIELD(read_text(m, name, kTestNameMax));
  growbuf* work;
  int32_t mark;
  PROTO_FIELD(read_block(m, &work, &mark));
  const int32_t n = work->len - mark;
  log(LOG_INFO, kSrc, "received %db test", n);
  ssupdate_save(name, work->data + mark, n);
  growbuf_truncate(work, mark);
  return ssproto_used(m);
}

int decupdate_decode_test_delta(ssproto_msg* m) {
  char name[kTestNameMax + 1];
  uint32_t n;
  PROTO_FIELD(read_text(m, name, kTestNameMax));
  PROTO_FIELD(ssproto_read_vint(m, &n));
  // A count past the cap is bad data rather than a wait without end.
  if (n > static_cast<uint32_t>(kUpdateFileMax)) {
    log(LOG_ERROR, kSrc, "test delta of %ub refused", n);
    return PROTO_FAIL();
  }
  if (static_cast<int64_t>(n) > m->avail - m->used) return 0;
  log(LOG_INFO, kSrc, "received %db test delta", static_cast<int>(n));
  ssupdate_apply_delta(name, m->data + m->used, static_cast<int32_t>(n));
  m->used += static_cast<int32_t>(n);
  return ssproto_used(m);
}

}  // namespace

namespace ssproto_handlers {

// 130-132: one stock's bid side, offer side or both; 133: every stock of the
// current exchange.
int do_clear_depth(ssproto_msg* m) {
  if (m->type == kTypeClearExchange) {
    ss_exchange* ex = ssproto_current_exchange();
    if (!ex || ssevent_clear_exchange_depth(ex, m->time, 0) < 0) return PROTO_FAIL();
    return ssproto_used(m);
  }
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  if (ssevent_clear_depth(s, m->time, static_cast<int>(m->type - kTypeClearBid)) < 0) return PROTO_FAIL();
  return ssproto_used(m);
}

// 140-144: the program update.
int do_update(ssproto_msg* m) {
  int r;
  switch (m->type) {
    case 140: r = decupdate_decode_version(m); break;
    case 141: r = decupdate_decode_store(m); break;
    case 142: r = decupdate_decode_write(m); break;
    case 143: r = decupdate_decode_test(m); break;
    default: r = decupdate_decode_test_delta(m); break;
  }
  return r;
}

// 150: opens reassembly buffer n for a payload of the given size.
int do_bigdata_open(ssproto_msg* m) {
  uint32_t id, total;
  PROTO_FIELD(ssproto_read_vint(m, &id));
  PROTO_FIELD(ssproto_read_vint(m, &total));
  // The sizes come from the server: one buffer and all of them together are
  // capped before anything is allocated.
  if (id > INT32_MAX || total > static_cast<uint32_t>(kUpdateFileMax) ||
      bigdata_bytes() + total > kUpdateTransferMax) {
    log(LOG_ERROR, kSrc, "bigdata #%u of %ub refused", id, total);
    return -1;
  }
  if (bigdata_create(static_cast<int32_t>(id), static_cast<int32_t>(total)) < 0) return -1;
  return ssproto_used(m);
}

// 151: one decompressed piece appended to buffer n.
int do_bigdata_append(ssproto_msg* m) {
  uint32_t id;
  PROTO_FIELD(ssproto_read_vint(m, &id));
  growbuf* work;
  int32_t mark;
  PROTO_FIELD(read_block(m, &work, &mark));
  const int r = id > INT32_MAX ? -1
                               : bigdata_append(static_cast<int32_t>(id), work->data + mark, work->len - mark);
  growbuf_truncate(work, mark);
  if (r < 0) {
    if (id > INT32_MAX) log(LOG_ERROR, kSrc, "bigdata #%u not found", id);
    return -1;
  }
  return ssproto_used(m);
}

}  // namespace ssproto_handlers
