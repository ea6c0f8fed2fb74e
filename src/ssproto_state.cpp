// Exchange control messages: the stall (167) and the exchange's trading
// state (170, 171). The stock states, state lists, resume times and quote
// messages of the family are in ssproto_exchange.cpp.
#include <cstdint>

#include "log.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssproto_int.h"

static const char kSrc[] = "src/ssproto";
static proto_state& P = ssproto_state;

namespace ssproto_handlers {
// 167: the server stalled this client; ask it to send the streams again.
int do_stall(ssproto_msg* m) {
  ssclient_unstall();
  return ssproto_used(m);
}
// 170 / 171: the trading state of the current exchange; 171 also gives it to
// every stock of the exchange. The sign-on sends 170 for each exchange.
int do_exchange_state(ssproto_msg* m) {
  uint8_t state;
  PROTO_FIELD(ssproto_read_byte(m, &state));
  if (P.current == nullptr) {
    log(LOG_ERROR, kSrc, "state %d with no current exchange", state);
    return PROTO_FAIL();
  }
  if (ssevent_set_exchange_state(P.current, m->time, state, m->type == 171 ? 1 : 0, 0) < 0) return PROTO_FAIL();
  return ssproto_used(m);
}

}  // namespace ssproto_handlers
