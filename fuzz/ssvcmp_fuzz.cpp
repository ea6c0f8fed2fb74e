// Runs the volume-comparison set reader over arbitrary bytes against a small
// model (the first byte picks a current or a next set and the quarter). Checks:
//  - the result is 0 or -1 and nothing is read past the bytes given (ASan);
//  - every update record comes back to the pool when the sets are dropped,
//    and no more records are in use than the pool holds;
//  - ticking the sets afterwards is safe.
#include <cstdint>
#include <cstdlib>

#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "ssclient.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssuser.h"
#include "ssvcmp.h"

#include "../tests/support/testmodel.h"

namespace {

#define CHECK(c)       \
  do {                 \
    if (!(c)) abort(); \
  } while (0)

const char* const kStocks[] = {"ABC", "BHP", "CBA", "NAB", "WBC"};
const uint32_t kQuarters[] = {1000, 1030, 1045, 1600, 1845};

int no_sleep(int32_t) { return 0; }
int no_request(int32_t, uint32_t, int) { return 0; }
int logged_in() { return 1; }
const ssvcmp_hooks kHooks = {no_request, logged_in};

bool start() {
  plat_init();
  log_init();
  log_set_stderr(0);
  log_set_memory(0);
  dalloc_init();
  ssio_set_default_host("");
  if (ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags) < 0) return false;
  ssclient_enable_yield(0);
  ssclient_set_sleep_hook(no_sleep);
  ssuser_set(1, 0, 0x7);
  ss_exchange* ex = ssmodel_exchange(0);
  if (!ex) return false;
  for (const char* c : kStocks)
    if (!ssmodel_add_stock(ex, c)) return false;
  ssvcmp_set_hooks(&kHooks);
  ssvcmp_start();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = start();
  CHECK(ready);
  if (size < 1) return 0;
  const int init = data[0] & 1;
  const uint32_t quarter = kQuarters[(data[0] >> 1) % 5];
  ss_exchange* ex = ssmodel_exchange(0);
  const int r = ssvcmp_apply(ex, 0, quarter, init, data + 1, int32_t(size - 1), 1);
  CHECK(r == 0 || r == -1);
  CHECK(ssvcmp_free_updates() >= 0 && ssvcmp_free_updates() <= kVcmpUpdatePool);
  ssvcmp_tick();
  ssvcmp_reset_exchange(ex);
  CHECK(ssvcmp_free_updates() == kVcmpUpdatePool);
  return 0;
}
