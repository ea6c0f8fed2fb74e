// Runs the notice record readers over arbitrary bytes against a small model
// (the first byte picks one notice or a list). Checks:
//  - one notice: the result is -1, 0 or a byte count no larger than what was
//    given, and 0 for every shorter prefix of a notice that was read whole;
//  - a list: 0 or -1;
//  - the notice lists stay well linked (newest first, counts agree).
// The model is started afresh now and then so that it does not grow.
#include <cstdint>
#include <cstdlib>

#include "dalloc.h"
#include "decnotice.h"
#include "log.h"
#include "plat.h"
#include "ssclient.h"
#include "ssio.h"
#include "ssnotice.h"

namespace {

#define CHECK(c)       \
  do {                 \
    if (!(c)) abort(); \
  } while (0)

constexpr int kRestartEvery = 5000;

int no_sleep(int32_t) { return 0; }

bool start_client() {
  if (ssclient_init(0, 12, 0x112) < 0) return false;
  ssclient_enable_yield(0);
  ssclient_set_sleep_hook(no_sleep);
  ssnotice_set_pending(1);
  return true;
}

bool start() {
  plat_init();
  log_init();
  log_set_stderr(0);
  log_set_memory(0);
  dalloc_init();
  ssio_set_default_host("");
  return start_client();
}

void check_lists() {
  for (int i = 0; i < kExchanges; i++) {
    const ss_exchange* ex = ssmodel_exchange(i);
    uint32_t n = 0;
    const ss_notice* newer = nullptr;
    for (const ss_notice* p = ex->notice_head; p; p = p->older, n++) {
      CHECK(p->newer == newer);
      CHECK(p->sequence >= 1);
      newer = p;
    }
    CHECK(n == ex->notice_count);
    CHECK(newer == ex->notice_tail);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = start();
  static int inputs = 0;
  CHECK(ready);
  if (size < 1) return 0;
  if (++inputs % kRestartEvery == 0) {
    ssclient_fini();
    CHECK(start_client());
  }
  const uint8_t* p = data + 1;
  const int32_t n = int32_t(size - 1);
  if (data[0] & 1) {
    const int r = decnotice_decode_list(ssmodel_exchange(data[0] >> 1 & 3), 1, p, n);
    CHECK(r == 0 || r == -1);
  } else {
    const int r = decnotice_decode(p, n);
    CHECK(r >= -1 && r <= n);
    if (r > 0)
      for (int32_t cut = 0; cut < r; cut++) CHECK(decnotice_decode(p, cut) == 0);
  }
  check_lists();
  return 0;
}
