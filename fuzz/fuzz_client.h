// What the fuzz targets of the record readers share: the runtime started
// quietly on the first input, the client (with its model) started with the
// terminal's settings, restarted every so many inputs so that the model does
// not grow from input to input, and the check that ends the run.
#pragma once
#include <cstdint>
#include <cstdlib>

#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "ssclient.h"
#include "ssio.h"

#define FUZZ_CHECK(c)  \
  do {                 \
    if (!(c)) abort(); \
  } while (0)

inline bool fuzz_start_runtime() {
  plat_init();
  log_init();
  log_set_stderr(0);
  log_set_memory(0);
  dalloc_init();
  ssio_set_default_host("");
  return true;
}

inline int fuzz_no_sleep(int32_t) { return 0; }

inline bool fuzz_start_client() {
  if (ssclient_init(0, 12, 0x112) < 0) return false;
  ssclient_enable_yield(0);
  ssclient_set_sleep_hook(fuzz_no_sleep);
  return true;
}

// The runtime and the client, once.
inline bool fuzz_ready() {
  static const bool ready = fuzz_start_runtime() && fuzz_start_client();
  return ready;
}

// Starts the client afresh on every `every`-th call.
inline bool fuzz_restart_every(int every) {
  static int inputs = 0;
  if (++inputs % every) return true;
  ssclient_fini();
  return fuzz_start_client();
}
