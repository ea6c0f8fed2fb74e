// Shared by the fuzz targets of readers that fill the model: the check that
// aborts, and the runtime and the terminal's model started on the first
// input, with deferred freeing off (one thread: nothing else reads what is
// freed, and a long run must not pile up pending frees).
#pragma once
#include <cstdlib>

#include "dalloc.h"
#include "lazyfree.h"
#include "log.h"
#include "plat.h"
#include "ssmodel.h"

#include "../tests/support/testmodel.h"  // the terminal's model configuration

#define CHECK(c)       \
  do {                 \
    if (!(c)) abort(); \
  } while (0)

// Started on the first input rather than by a static initializer, so that no
// module's static state is used before it has been constructed.
inline bool model_fuzz_start(uint32_t options = kTerminalModelOptions) {
  plat_init();
  log_init();
  log_set_stderr(0);
  dalloc_init();
  if (start_terminal_model(options) < 0) return false;
  lazyfree_set_enabled(0);
  return true;
}
