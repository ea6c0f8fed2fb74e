// Runs the fundamentals reader over arbitrary files against a small model.
// Checks:
//  - the reader answers 0 or -1;
//  - whatever the file left in the model, the writer's file of the exchange
//    reads back into it cleanly: 0 and the fundamentals date kept.
// The model is started afresh now and then so that it does not grow.
#include <cstdint>
#include <cstdlib>

#include "dalloc.h"
#include "decfun.h"
#include "growbuf.h"
#include "log.h"
#include "plat.h"
#include "ssclient.h"
#include "ssio.h"

namespace {

#define CHECK(c)       \
  do {                 \
    if (!(c)) abort(); \
  } while (0)

constexpr int kRestartEvery = 2000;
growbuf g_out;

int no_sleep(int32_t) { return 0; }

bool start_client() {
  if (ssclient_init(0, 12, 0x112) < 0) return false;
  ssclient_enable_yield(0);
  ssclient_set_sleep_hook(no_sleep);
  return true;
}

bool start() {
  plat_init();
  log_init();
  log_set_stderr(0);
  log_set_memory(0);
  dalloc_init();
  ssio_set_default_host("");
  return start_client() && growbuf_init(&g_out, 65536, 65536) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = start();
  static int inputs = 0;
  CHECK(ready);
  if (++inputs % kRestartEvery == 0) {
    ssclient_fini();
    CHECK(start_client());
  }
  ss_exchange* ex = ssmodel_exchange(0);
  ex->fun_date = 1;
  const int r = decfun_decode(ex, data, int32_t(size));
  CHECK(r == 0 || r == -1);
  ex->fun_date = 20140312;
  growbuf_reset(&g_out);
  CHECK(encfun_encode(&g_out, ex) == 0);
  CHECK(decfun_decode(ex, g_out.data, g_out.len) == 0);
  CHECK(ex->fun_date == 20140312);
  return 0;
}
