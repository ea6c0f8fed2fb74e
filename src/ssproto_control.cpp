// Control messages: the server's acknowledgement, its drop and sign-off of
// this client, the empty keep-alive and the server's error report.
#include <cstdint>

#include "log.h"
#include "ssclient.h"
#include "sserr.h"
#include "ssnotify.h"
#include "ssproto_int.h"

static const char kSrc[] = "src/ssproto";

namespace ssproto_handlers {
// Control messages

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
