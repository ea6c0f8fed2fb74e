// Control messages: the password-change reply (handed to the start-up flow
// through the out-of-band queue), side-channel blocks, the server's
// acknowledgement, its drop and sign-off of this client, a debug number, the
// empty keep-alive and the server's error report.
#include <cstdint>

#include "decode.h"
#include "log.h"
#include "oob.h"
#include "ssclient.h"
#include "sserr.h"
#include "ssnotify.h"
#include "ssproto_int.h"
#include "subsys.h"

static const char kSrc[] = "src/ssproto";

namespace {

constexpr int32_t kOobPassword = 240;  // out-of-band type of the password reply

// A vint length and that many bytes into dst (capacity *n); a longer blob is
// bad data.
int read_blob(ssproto_msg* m, uint8_t* dst, int32_t* n) {
  const int r = decode_vbytes(m->data + m->used, m->avail - m->used, dst, n);
  if (r > 0) m->used += r;
  return r;
}

}  // namespace

namespace ssproto_handlers {
// Control messages

// 240: the password change's result, for the start-up flow. The global bit
// tells it a message waits, so it is raised only when one does.
int do_password_reply(ssproto_msg* m) {
  uint8_t result;
  PROTO_FIELD(ssproto_read_byte(m, &result));
  const int32_t value = result;
  if (oob_push(kOobPassword, &value, static_cast<int32_t>(sizeof value)) < 0)
    log(LOG_WARN, kSrc, "can't put %db passwd oob", static_cast<int>(sizeof value));
  else
    ssnotify_record_global(kGlobalPassword);
  return ssproto_used(m);
}

// 241: one side-channel block, queued for the user-interface thread.
int do_side_channel(ssproto_msg* m) {
  uint32_t number, flag;
  PROTO_FIELD(ssproto_read_vint(m, &number));
  PROTO_FIELD(ssproto_read_vint(m, &flag));
  growbuf* work = ssproto_work_buffer(m->nesting);
  if (!work) return PROTO_FAIL();
  growbuf_truncate(work, 0);
  uint8_t* room = growbuf_reserve(work, kSubsysPayloadMax);
  if (!room) return PROTO_FAIL();
  int32_t n = kSubsysPayloadMax;
  PROTO_FIELD(read_blob(m, room, &n));
  if (subsys_queue_block(number, flag, room, n) < 0) log(LOG_ERROR, kSrc, "subsys failed");
  return ssproto_used(m);
}

// 252: a number for the log.
int do_debug(ssproto_msg* m) {
  uint32_t number;
  PROTO_FIELD(ssproto_read_vint(m, &number));
  log(LOG_INFO, kSrc, "DEBUG %d\n", static_cast<int>(number));
  return ssproto_used(m);
}

// 242: acknowledgement; the first since "Online" raises a global bit.
int do_ack(ssproto_msg* m) {
  ssclient_acked();
  if (ssclient_ack_count() == 1) ssnotify_record_global(kGlobalFirstAck);
  return ssproto_used(m);
}

static void signed_off() {
  ssclient_signed_off();
  ssnotify_record_global(kGlobalSignedOff);
}

// 251: the server dropped this client.
int do_dropped(ssproto_msg* m) {
  log(LOG_WARN, kSrc, "dropped");
  ssclient_set_dropped(1);
  signed_off();
  return ssproto_used(m);
}

// 254: the server signed this client off.
int do_signed_off(ssproto_msg* m) {
  log(LOG_INFO, kSrc, "signed off");
  signed_off();
  return ssproto_used(m);
}

// 253: the header alone.
int do_noop(ssproto_msg* m) { return ssproto_used(m); }

// 255: the server's error report.
int do_server_error(ssproto_msg* m) {
  uint32_t code, sub;
  uint8_t exchange;
  char text[kCodeSize];
  ss_time date;
  PROTO_FIELD(ssproto_read_vint(m, &code));
  PROTO_FIELD(ssproto_read_vint(m, &sub));
  PROTO_FIELD(ssproto_read_byte(m, &exchange));
  PROTO_FIELD(ssproto_read_code(m, text));
  PROTO_FIELD(ssproto_read_date(m, &date));
  sserr_report(static_cast<int32_t>(code), sub, exchange, text, date);
  return ssproto_used(m);
}

}  // namespace ssproto_handlers
