// Shared by the configuration fuzz targets: the check that aborts, the
// start of the runtime and the configuration store on the first input, and
// what the writer makes of a string's control bytes.
#pragma once
#include <cstdlib>
#include <string>

#include "config/config.h"
#include "dalloc.h"
#include "log.h"
#include "plat.h"

#define CHECK(c)       \
  do {                 \
    if (!(c)) abort(); \
  } while (0)

// Started on the first input rather than by a static initializer, so that no
// module's static state is used before it has been constructed.
inline bool config_fuzz_start(bool (*more)(void) = nullptr) {
  plat_init();
  log_init();
  log_set_stderr(0);
  dalloc_init();
  if (more && !more()) return false;
  return config_init() == 0;
}

// The writer turns control bytes into blanks.
inline std::string blanked(const char* s) {
  std::string r = s;
  for (char& c : r)
    if ((unsigned char)c < 0x20 || c == 0x7f) c = ' ';
  return r;
}
