// Runs the notice record readers over arbitrary bytes against a small model
// (the first byte picks one notice or a list). Checks:
//  - one notice: the result is -1, 0 or a byte count no larger than what was
//    given, and 0 for every shorter prefix of a notice that was read whole;
//  - a list: 0 or -1;
//  - the notice lists stay well linked (newest first, counts agree).
// The model is started afresh now and then so that it does not grow.
#include <cstdint>

#include "decnotice.h"
#include "fuzz_client.h"
#include "ssnotice.h"

namespace {

constexpr int kRestartEvery = 5000;

void check_lists() {
  for (int i = 0; i < kExchanges; i++) {
    const ss_exchange* ex = ssmodel_exchange(i);
    uint32_t n = 0;
    const ss_notice* newer = nullptr;
    for (const ss_notice* p = ex->notice_head; p; p = p->older, n++) {
      FUZZ_CHECK(p->newer == newer);
      FUZZ_CHECK(p->sequence >= 1);
      newer = p;
    }
    FUZZ_CHECK(n == ex->notice_count);
    FUZZ_CHECK(newer == ex->notice_tail);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FUZZ_CHECK(fuzz_ready());
  if (size < 1) return 0;
  FUZZ_CHECK(fuzz_restart_every(kRestartEvery));
  ssnotice_set_pending(1);
  const uint8_t* p = data + 1;
  const int32_t n = int32_t(size - 1);
  if (data[0] & 1) {
    const int r = decnotice_decode_list(ssmodel_exchange(data[0] >> 1 & 3), 1, p, n);
    FUZZ_CHECK(r == 0 || r == -1);
  } else {
    const int r = decnotice_decode(p, n);
    FUZZ_CHECK(r >= -1 && r <= n);
    if (r > 0)
      for (int32_t cut = 0; cut < r; cut++) FUZZ_CHECK(decnotice_decode(p, cut) == 0);
  }
  check_lists();
  return 0;
}
