// Reads arbitrary bytes as the crash state file "state.txt" that a crashed
// run left behind, the way the next start does (crash_report_init, no report
// offered). Checked on every call:
//  - the watch kinds read back are those of a plain reading of the file:
//    the number at the start of each line, at most 20 of them;
//  - the new state file the start writes holds the start watch, whole.
// The report opener and the alert are never reached without a report; the
// stand-ins below end the run if they are.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "appdata.h"
#include "fuzz_client.h"
#include "startup/crash.h"
#include "ui/launch-linux.h"

namespace {

std::string g_root;

bool start() {
  fuzz_start_runtime();
  char tmpl[] = "/tmp/ambit-crash-fuzz-XXXXXX";
  if (!mkdtemp(tmpl)) return false;
  g_root = tmpl;
  atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
  });
  return appdata_init("/nonexistent/Ambit", 0, 64) == 0 && appdata_state_path();
}

// The kinds as the start reads them: the number at each line's start, at
// most 20.
std::vector<int> plain_kinds(const uint8_t* data, size_t size) {
  std::vector<int> kinds;
  for (size_t at = 0; at < size && kinds.size() < 20;) {
    const uint8_t* nl = static_cast<const uint8_t*>(memchr(data + at, '\n', size - at));
    const size_t end = nl ? size_t(nl - data) + 1 : size;
    kinds.push_back(atoi(std::string(reinterpret_cast<const char*>(data + at), end - at).c_str()));
    at = end;
  }
  return kinds;
}

}  // namespace

int launch_app_support_dir(char* buffer) {
  strcpy(buffer, g_root.c_str());
  return 0;
}
int launch_open_url(const char*) { abort(); }
int launch_alert(const char*, const char*, const char*, uint32_t) { abort(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = start();
  FUZZ_CHECK(ready);
  if (size > 4096) return 0;
  const char* path = appdata_state_path();
  FILE* f = fopen(path, "wb");
  FUZZ_CHECK(f);
  FUZZ_CHECK(fwrite(data, 1, size, f) == size);
  fclose(f);
  FUZZ_CHECK(crash_report_init(0) == 0);
  for (int kind : plain_kinds(data, size)) FUZZ_CHECK(crash_in_list(kind) == 1);
  f = fopen(path, "rb");
  FUZZ_CHECK(f);
  char line[128] = "";
  FUZZ_CHECK(fgets(line, sizeof line, f) != nullptr);
  fclose(f);
  FUZZ_CHECK(strncmp(line, "0001 Starting ", 14) == 0 && strchr(line, '\n'));
  crash_report_shutdown();
  FUZZ_CHECK(access(path, F_OK) != 0);  // no watch left: the file goes
  return 0;
}
