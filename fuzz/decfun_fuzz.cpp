// Runs the fundamentals reader over arbitrary files against a small model.
// Checks:
//  - the reader answers 0 or -1;
//  - whatever the file left in the model, the writer's file of the exchange
//    reads back into it cleanly: 0 and the fundamentals date kept.
// The model is started afresh now and then so that it does not grow.
#include <cstdint>

#include "decfun.h"
#include "fuzz_client.h"
#include "growbuf.h"

namespace {

constexpr int kRestartEvery = 2000;
growbuf g_out;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = fuzz_ready() && growbuf_init(&g_out, 65536, 65536) == 0;
  FUZZ_CHECK(ready);
  FUZZ_CHECK(fuzz_restart_every(kRestartEvery));
  ss_exchange* ex = ssmodel_exchange(0);
  ex->fun_date = 1;
  const int r = decfun_decode(ex, data, int32_t(size));
  FUZZ_CHECK(r == 0 || r == -1);
  ex->fun_date = 20140312;
  growbuf_reset(&g_out);
  FUZZ_CHECK(encfun_encode(&g_out, ex) == 0);
  FUZZ_CHECK(decfun_decode(ex, g_out.data, g_out.len) == 0);
  FUZZ_CHECK(ex->fun_date == 20140312);
  return 0;
}
