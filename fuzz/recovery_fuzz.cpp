// Feeds arbitrary bytes to the recovery reader as the contents of
// "RECOVERY2", against the client's model (four exchanges). Checks:
//  - the reader answers 0 or -1;
//  - on -1 every stream position is back at -1 and every signature at 0
//    (the next sign-on loads everything);
//  - on 0 the prefix's entries are the positions and signatures, and the
//    model that resulted writes a recovery file that reads back too.
#include <cstdint>
#include <cstdlib>

#include "decode.h"
#include "fuzz_client.h"
#include "growbuf.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "ssproto.h"
#include "startup/recovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FUZZ_CHECK(fuzz_ready());
  FUZZ_CHECK(fuzz_restart_every(200));
  if (size > (1u << 20)) return 0;
  const int32_t n = static_cast<int32_t>(size);
  ssproto_reset_counters();
  ssproto_reset_positions();

  const int r = recovery_decode(data, n);
  FUZZ_CHECK(r == 0 || r == -1);
  if (r < 0) {
    for (int32_t i = 0; i < kExchanges; i++) {
      FUZZ_CHECK(ssproto_exchange_position(i) == 0xffffffffu);
      FUZZ_CHECK(ssmodel_exchange_signature(i) == 0);
    }
  } else {
    // The last entry of an exchange index wins.
    const int32_t count = n > 0 ? data[0] : 0;
    for (int32_t e = 0; e < count; e++) {
      const uint8_t* p = data + 1 + 9 * e;
      if (p[0] >= kExchanges) continue;
      uint32_t sig = 0, pos = 0;
      decode_uint32(p + 1, 4, &sig);
      decode_uint32(p + 5, 4, &pos);
      bool later = false;
      for (int32_t f = e + 1; f < count; f++) later |= data[1 + 9 * f] == p[0];
      if (later) continue;
      FUZZ_CHECK(ssproto_exchange_position(p[0]) == pos);
      FUZZ_CHECK(ssmodel_exchange_signature(p[0]) == sig);
    }
    growbuf gb = {};
    FUZZ_CHECK(growbuf_init(&gb, 65536, 65536) == 0);
    if (recovery_encode(&gb) == 0) FUZZ_CHECK(recovery_decode(gb.data, gb.len) == 0);
    growbuf_free(&gb);
  }
  ssnotify_deliver();
  return 0;
}
