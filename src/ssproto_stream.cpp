// Stream control and exchange messages: the catch-up size, the user record,
// "proceeding" (the client goes online), the current exchange, its date and
// clock, and each exchange's signature and stream position: the sign-on and
// online subset of the family (the rest is in ssproto_exchange.cpp).
#include <cstdint>

#include "log.h"
#include "ssevent.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "ssmsg.h"
#include "ssnotify.h"
#include "ssproto_int.h"
#include "ssuser.h"

namespace {
constexpr uint8_t kUserMaskWideVersion = 3;  // message 41 carries a 32-bit mask from here
}  // namespace

static const char kSrc[] = "src/ssproto";
static proto_state& P = ssproto_state;

namespace ssproto_handlers {
// 40: the size of the catch-up that follows; positions stop advancing.
int do_expecting(ssproto_msg* m) {
  uint32_t count;
  PROTO_FIELD(ssproto_read_u32(m, &count));
  P.expected.store(count);
  log(LOG_INFO, kSrc, "expecting %db", static_cast<int32_t>(count));
  P.counting = 0;
  return ssproto_used(m);
}

// 41: the user's kind, id and permitted exchanges.
int do_user(ssproto_msg* m) {
  uint8_t kind;
  uint32_t value, mask, dropped;
  PROTO_FIELD(ssproto_read_byte(m, &kind));
  PROTO_FIELD(ssproto_read_u32(m, &value));
  if (P.version >= kUserMaskWideVersion) {
    PROTO_FIELD(ssproto_read_u32(m, &mask));
  } else {
    uint8_t narrow;
    PROTO_FIELD(ssproto_read_byte(m, &narrow));
    mask = narrow;
  }
  PROTO_FIELD(ssproto_read_u32(m, &dropped));
  ssuser_set(kind, value, mask);
  ssnotify_record_global(kGlobalUser);
  return ssproto_used(m);
}

// 49: catch-up done: counting resumes and the client is online.
int do_proceeding(ssproto_msg* m) {
  uint32_t first, second;
  PROTO_FIELD(ssproto_read_u32(m, &first));
  PROTO_FIELD(ssproto_read_u32(m, &second));
  log(LOG_INFO, kSrc, "proceeding");
  P.counting = 1;
  ssclient_online_followups();
  ssnotify_record_global(kGlobalOnline);
  ssmsg_set("Online");
  return ssproto_used(m);
}

// 51 (index byte), 52 (exchange 0), 53 (exchange 1), 59 (exchange 3).
int do_select_exchange(ssproto_msg* m) {
  uint32_t index;
  switch (m->type) {
    case 51: {
      uint8_t b;
      PROTO_FIELD(ssproto_read_byte(m, &b));
      index = b;
      break;
    }
    case 52: index = kExchangeAsx; break;
    case 53: index = kExchangeNzx; break;
    default: index = kExchangeAxo; break;
  }
  ss_exchange* ex = exchange_or_log(index);
  if (!ex) return PROTO_FAIL();
  P.current = ex;
  return ssproto_used(m);
}

// 54: exchange date, server clock, offset and broker flag.
int do_exchange_date(ssproto_msg* m) {
  uint8_t index, brokers;
  uint32_t date, now, offset;
  PROTO_FIELD(ssproto_read_byte(m, &index));
  PROTO_FIELD(ssproto_read_u32(m, &date));
  PROTO_FIELD(ssproto_read_u32(m, &now));
  PROTO_FIELD(ssproto_read_vint(m, &offset));
  PROTO_FIELD(ssproto_read_byte(m, &brokers));
  ss_exchange* ex = exchange_or_log(index);
  if (!ex) return PROTO_FAIL();
  P.current = ex;
  char text[kSstimeDatetimeLen];
  log(LOG_INFO, kSrc, "set %s", ex->name);
  log(LOG_INFO, kSrc, "    date %s", sstime_format_date_into(text, date));
  log(LOG_INFO, kSrc, "    time %s", sstime_format_datetime_into(text, now));
  log(LOG_INFO, kSrc, "  offset %d", static_cast<int32_t>(offset));
  ssmodel_set_date(ex, date);
  ssmodel_set_offset(ex, static_cast<int32_t>(offset));
  ssmodel_set_delta(ex, now);
  // Only ever set here: an exchange that carries brokers keeps carrying them.
  if (brokers) ssmodel_exchange_set_flags(ex, kExBrokers);
  return ssproto_used(m);
}

// 166: the server's signature and stream position of one exchange.
int do_signature(ssproto_msg* m) {
  uint8_t index;
  uint32_t sig, pos;
  PROTO_FIELD(ssproto_read_byte(m, &index));
  PROTO_FIELD(ssproto_read_u32(m, &sig));
  PROTO_FIELD(ssproto_read_u32(m, &pos));
  if (index >= kProtoPositions) {
    log(LOG_ERROR, kSrc, "no such exchange %d", index);
    return PROTO_FAIL();
  }
  const char* name = ssmodel_exchange_name(index);
  uint32_t old_sig = ssmodel_exchange_signature(index);
  ss_exchange* ex = ssmodel_exchange(index);
  if (replaces_unreset_stream(ex, sig)) {
    if (pos != 0) {
      // What came before this message already belongs to the new stream and
      // lies on top of the old day: only a start from scratch is sound.
      log(LOG_ERROR, kSrc, "%s: stream %u replaced stream %u without a reset", name, sig, old_sig);
      return PROTO_FAIL();
    }
    log(LOG_WARN, kSrc, "%s: stream %u starts over stream %u: resetting", name, sig, old_sig);
    ssevent_exchange_reset(ex, ex->date, 0, ex->offset);
  }
  if (sig != old_sig) {
    log(LOG_INFO, kSrc, "changing %s sig from %u to %u", name, old_sig, sig);
    ssmodel_set_signature(index, sig);
  }
  uint32_t old = ssproto_exchange_position(index);
  if (pos != old) {
    if (pos == 0)
      log(LOG_INFO, kSrc, "reseting %s pos from %u to 0", name, old);
    else if (old == kProtoPositionNone)
      log(LOG_INFO, kSrc, "setting %s pos to %u", name, pos);
    else
      log(LOG_WARN, kSrc, "changing %s pos by %d from %u to %u", name, static_cast<int32_t>(pos - old), old, pos);
    ssproto_set_exchange_position(index, pos);
  }
  return ssproto_used(m);
}

}  // namespace ssproto_handlers
