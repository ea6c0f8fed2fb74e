// Parses arbitrary bytes as configuration text and walks every cell of the
// tree with every getter, by key path and by word index, then checks the
// writer against the parser: every word found, written back with "%s", reads
// back as the same bytes (control bytes as blanks).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "config/config.h"
#include "config_fuzz.h"
#include "dalloc.h"
#include "log.h"
#include "plat.h"

namespace {

void read_all(const char* key);

// read_all on each name of a cell's children once (config_enter takes all the
// blocks of a name); names a key path could not spell are left out.
void walk_children(const config_cell* c) {
  std::set<std::string> seen;
  for (const config_cell* k = c->first_child; k; k = k->next) {
    if (strlen(k->name) > 64 || strchr(k->name, '.') || strchr(k->name, '"') || strchr(k->name, '\\')) continue;
    if (seen.insert(k->name).second) read_all(k->name);
  }
}

// Every getter on a key, and every by-index getter on the cell it names.
void read_all(const char* key) {
  config_get_bool(key);
  config_get_int(key);
  config_get_hex(key);
  config_get_double(key);
  config_get_u64(key);
  config_get_rect(key);
  config_get_time(key);
  config_get_timestamp(key);
  config_get_instr(key);
  config_get_exchange(key);
  const char* s = config_get_string(key);
  CHECK(config_found() == (s && config_get(key)->value_count > 0));
  if (!config_enter(key)) return;
  while (config_next()) {
    config_cell* c = config_base();
    for (int32_t i = -1; i <= c->value_count; i++) {
      config_arg_bool(i);
      config_arg_int(i);
      config_arg_hex(i);
      config_arg_double(i);
      config_arg_instr(i);
      config_arg_exchange(i);
      const char* w = config_arg_string(i);
      CHECK(w != nullptr);
      CHECK(config_found() == (i >= 0 && i < c->value_count));
    }
    walk_children(c);
  }
  config_leave();
}

std::vector<std::string> g_words;

void collect(const config_cell* c) {
  for (const config_cell* k = c->first_child; k; k = k->next) {
    for (int i = 0; i < k->value_count; i++) g_words.push_back(k->values[i]);
    collect(k);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = config_fuzz_start();
  CHECK(ready);
  if (size > 1 << 16) return 0;
  config_load_buffer(reinterpret_cast<const char*>(data), (int32_t)size);
  CHECK(config_depth() == 0);
  walk_children(config_base());
  CHECK(config_depth() == 0);

  g_words.clear();
  collect(config_base());
  config_out_reset();
  for (const std::string& w : g_words) CHECK(config_printf("w %s", w.c_str()) == 0);
  int32_t len = 0;
  std::string out = config_out_buffer(&len);
  CHECK(config_load_buffer(out.data(), len) == 0);
  size_t i = 0;
  for (config_cell* k = config_base()->first_child; k; k = k->next, i++) {
    CHECK(i < g_words.size());
    CHECK(k->value_count == 1);
    CHECK(blanked(g_words[i].c_str()) == k->values[0]);
  }
  CHECK(i == g_words.size());
  config_reset();
  return 0;
}
