// Loads arbitrary bytes as the local settings file (plain, and scrambled) on
// a temporary data root: the load gives 0 or -1, a failure leaves the record
// as it was, and every text field of the record stays NUL-terminated with the
// current location in range. A loaded record saves and loads back equal.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "config/config.h"
#include "config_fuzz.h"
#include "config/load_local.h"
#include "config/save_local.h"
#include "config/secret.h"
#include "dalloc.h"
#include "localdata.h"
#include "log.h"
#include "plat.h"

namespace {

// On a memory file system where there is one: every save syncs the file and
// its directory, which a disk makes slow.
bool temp_root() {
  char tmpl[] = "/dev/shm/ambit-config-fuzz-XXXXXX";
  char fallback[] = "/tmp/ambit-config-fuzz-XXXXXX";
  char* root = mkdtemp(tmpl);
  if (!root) root = mkdtemp(fallback);
  if (!root) return false;
  static std::string made = root;
  atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(made, ec);
  });
  localdata_init();
  return localdata_set_root(root) == 0;
}

template <size_t N>
bool terminated(const char (&s)[N]) {
  return memchr(s, '\0', N) != nullptr;
}

void check_record(const local_config* c) {
  CHECK(terminated(c->site) && terminated(c->username) && terminated(c->password));
  CHECK(terminated(c->restart_site) && terminated(c->restart_username) && terminated(c->restart_password));
  CHECK(c->cur_location >= 0 && c->cur_location < kConfigLocations);
  for (const config_location& l : c->locations) {
    CHECK(terminated(l.name) && terminated(l.ambit_hostname) && terminated(l.proxy_hostname));
    CHECK(terminated(l.proxy_username) && terminated(l.proxy_password));
  }
}

void load_one(const void* bytes, size_t n) {
  localdata_remove(LOCALDATA_CONFIG, "LOCAL_CONFIG.0");
  if (localdata_write(LOCALDATA_CONFIG, "LOCAL_CONFIG", bytes, (uint32_t)n) < 0) return;
  secret_local_defaults();
  local_config before;
  memcpy(&before, config_local(), sizeof before);
  int rc = load_local_config();
  CHECK(rc == 0 || rc == -1);
  if (rc < 0) CHECK(memcmp(&before, config_local(), sizeof before) == 0);
  check_record(config_local());
  if (rc < 0) return;
  // What was loaded saves and loads back to the same record.
  local_config loaded;
  memcpy(&loaded, config_local(), sizeof loaded);
  CHECK(save_local_config() == 0);
  secret_local_defaults();
  CHECK(load_local_config() == 0);
  local_config* again = config_local();
  CHECK(blanked(loaded.site) == again->site && loaded.speed == again->speed);
  CHECK(loaded.cur_location == again->cur_location && loaded.graphics_quality == again->graphics_quality);
  for (int i = 0; i < kConfigLocations; i++) {
    if (!loaded.locations[i].name[0]) continue;
    CHECK(blanked(loaded.locations[i].name) == again->locations[i].name);
    CHECK(blanked(loaded.locations[i].ambit_hostname) == again->locations[i].ambit_hostname);
    CHECK(loaded.locations[i].ambit_port == again->locations[i].ambit_port);
    CHECK(memcmp(loaded.locations[i].bounds, again->locations[i].bounds, sizeof loaded.locations[i].bounds) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = config_fuzz_start(temp_root);
  CHECK(ready);
  if (size == 0 || size > (size_t)kSecretMaxText) return 0;
  load_one(data, size);
  char* s = nullptr;
  int32_t n = 0;
  if (secret_scramble(data, (int32_t)size, &s, &n) == 0) {
    load_one(s, (size_t)n);
    dalloc_free(s);
  }
  return 0;
}
