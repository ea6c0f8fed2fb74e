// Runs the data cache's name parser and file loads over arbitrary bytes.
// The first byte picks the target:
//  - 0: the bytes as a file name. A name that parses has a code that may be
//    cached; written again from its fields (when the writer takes them) it
//    parses back to the same fields.
//  - 1-3: the bytes as the cache file of a stock history, an index history
//    or a news history in a data root under /tmp, loaded into the model.
//    A load that fails leaves no file behind; none may crash or leak.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "localdata.h"
#include "model_fuzz.h"
#include "sscache.h"
#include "sstime.h"

namespace {

ss_exchange* g_ex;
char g_root[] = "/tmp/ambit-fuzz-cache-XXXXXX";

bool start() {
  if (!mkdtemp(g_root)) return false;
  atexit([] { std::filesystem::remove_all(g_root); });
  if (!model_fuzz_start() || localdata_set_root(g_root) < 0) return false;
  g_ex = ssmodel_exchange(0);
  return g_ex != nullptr;
}

void name_checks(const uint8_t* in, size_t n) {
  std::string name(reinterpret_cast<const char*>(in), n);
  int kind, exchange;
  char code[kCodeSize];
  ss_time date;
  if (sscache_parse_name(name.c_str(), &kind, code, &exchange, &date) < 0) return;
  CHECK(kind >= 1 && kind <= 8 && exchange >= 0 && exchange <= 4);
  CHECK(sscache_code_ok(code) && !strchr(code, '/'));
  char again[kCacheNameSize];
  if (exchange > 3 || sscache_name(again, kind, exchange, code, date) < 0) return;
  int k2, x2;
  char c2[kCodeSize];
  ss_time d2;
  CHECK(sscache_parse_name(again, &k2, c2, &x2, &d2) == 0);
  CHECK(k2 == kind && x2 == exchange && strcmp(c2, code) == 0 && d2 == date);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = start();
  if (!started) abort();
  if (size < 1) return 0;
  const int form = data[0] % 4;
  if (form == 0) {
    name_checks(data + 1, size - 1);
    return 0;
  }
  static const char* const kNames[] = {"", "4;0;BHP;", "5;0;XJO;", "6;0;BHP;"};
  // Written plainly: the data directory's own writer syncs every file.
  char path[kLocaldataPathMax];
  if (localdata_path_into(path, LOCALDATA_DATA, kNames[form]) < 0) abort();
  FILE* f = fopen(path, "wb");
  if (!f) abort();
  fwrite(data + 1, 1, size - 1, f);
  fclose(f);
  ss_stock* s = ssmodel_get_stock(g_ex, "BHP");
  ss_index* x = ssmodel_get_index(g_ex, "XJO");
  ss_issuer* is = ssmodel_get_issuer(g_ex, "BHP");
  CHECK(s && x && is);
  ssmodel_free_history(s);
  ssmodel_free_index_history(x);
  ssmodel_free_news_list(is);
  int r = form == 1 ? sscache_load_stock_history(s) : form == 2 ? sscache_load_index_history(x)
                                                                : sscache_load_news_history(is);
  uint32_t left = 0;
  const bool present = localdata_read_into(LOCALDATA_DATA, kNames[form], nullptr, &left) == 0;
  if (r < 0) CHECK(!present);
  localdata_remove(LOCALDATA_DATA, kNames[form]);
  return 0;
}
