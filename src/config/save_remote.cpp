// Minimal version: the user configuration's text is not built yet (its
// modules are not), so storing the server copy writes nothing and only ends
// the pending autosave.
#include "config/save_remote.h"

#include "config/autosave.h"
#include "config/save_local.h"
#include "log.h"
#include "ssclient.h"

namespace {
constexpr char kSrc[] = "src/config/save_remote";
}

int save_remote_config(int changed) {
  log(LOG_DEBUG, kSrc, "save remote config (changed %d)", changed);
  config_autosave_cancel();
  return 0;
}

int config_save(void) {
  int rc = save_local_config();
  if (ssclient_logged_in() && save_remote_config(0) < 0) rc = -1;
  return rc;
}

void config_autosave_tick(void) {
  if (config_autosave_due()) save_remote_config(1);
}
