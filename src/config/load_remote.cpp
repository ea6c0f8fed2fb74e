// Minimal version: the modules that keep their settings in the user
// configuration (screens, desktops, lists, scans, styles) are not built yet,
// so loading reads the server copy's presence and size and rebuilds nothing.
#include "config/load_remote.h"

#include "log.h"
#include "ssuser.h"

namespace {
constexpr char kSrc[] = "src/config/load_remote";
}

int load_remote_config(void) {
  int32_t n = 0;
  char *blob = ssuser_get_config(&n);
  log(LOG_INFO, kSrc, "user configuration of %d bytes", blob ? n : 0);
  if (blob) ssuser_clear_config(blob);
  return 0;
}
