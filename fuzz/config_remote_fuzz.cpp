// Loads arbitrary bytes as the user configuration the server stores, the way
// the terminal reads it at sign-on: the user record's copy goes through the
// stored copy's reader (inflated, or plain when it begins "version ";
// parsed; the settings read; quick keys, watchlists, scans and feeds
// rebuilt). The bytes are tried as they come and framed as a save frames
// them, so that text reaches the records through the inflater too. A damaged
// copy loads no record; a read one gives settings in range and records that
// are whole (names terminated, ids that find them, live items). What was
// read is written back as a save writes it and read again: the second
// writing equals the first.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "../tests/support/testmodel.h"  // the terminal's model configuration
#include "config/config.h"
#include "config/remote_records.h"
#include "config_fuzz.h"
#include "dalloc.h"
#include "encblk.h"
#include "growbuf.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "log.h"
#include "quick9.h"
#include "rss/rss.h"
#include "ssmodel.h"
#include "ssuser.h"

namespace {

constexpr size_t kMaxInput = 1 << 16;
constexpr int kQuickSlots = 9;

// The instruments the stored copies of the tests name, on every exchange:
// the copy finds instruments, it never makes them.
bool add_instruments() {
  for (int32_t i = 0; i < kExchanges; i++) {
    ss_exchange* ex = ssmodel_exchange(i);
    for (const char* code : {"ANZ", "BHP", "CBA", "NAB", "RIO"})
      if (!ex || !ssmodel_add_stock(ex, code) || !ssmodel_get_issuer(ex, code)) return false;
    if (!ssmodel_add_index(ex, "XJO")) return false;
  }
  return true;
}

bool start_records() {
  if (start_terminal_model() < 0 || ssuser_init() < 0 || !add_instruments()) return false;
  ssuser_set(7, 0, 0x7);  // three of the four exchanges, as a real user
  return scan_init() == 0 && rss_init() == 0;
}

// Every record of the stored copy gone, as at a fresh sign-on.
void reset_records() {
  config_reset();
  quick9_clear();
  scan_fini();  // and the watchlists
  CHECK(scan_init() == 0);
  rss_shutdown();
  CHECK(rss_init() == 0);
}

template <size_t N>
bool terminated(const char (&s)[N]) {
  return memchr(s, '\0', N) != nullptr;
}

bool no_records() {
  for (int i = 0; i < kQuickSlots; i++)
    if (quick9_get(i)) return false;
  return wlist_total() == 0 && scan_count() == 0 && rss_feed_count() == 0;
}

void check_records() {
  for (int i = 0; i < kQuickSlots; i++)
    if (instr* in = quick9_get(i)) CHECK(in->exchange != nullptr);
  std::set<int32_t> ids;
  int32_t n = 0;
  for (wlist* wl = wlist_iter_begin(); wl; wl = wlist_iter_next(), n++) {
    CHECK(terminated(wl->name));
    CHECK(ids.insert(wl->id).second && wlist_find(wl->id) == wl);
    CHECK(wl->count >= 0 && wl->count <= wl->capacity);
    for (int32_t i = 0; i < wl->count; i++) CHECK(wl->items[i] && wl->items[i]->exchange);
  }
  CHECK(n == wlist_total());
  ids.clear();
  n = 0;
  for (scan* s = scan_iter_begin(); s; s = scan_iter_next(), n++) {
    CHECK(terminated(s->name));
    CHECK(ids.insert(scan_id(s)).second && scan_find(scan_id(s)) == s);
  }
  CHECK(n == scan_count());
  ids.clear();
  for (int32_t i = 0; i < rss_feed_count(); i++) {
    const int32_t id = rss_feed_id_at(i);
    rss_feed* f = rss_feed_find(id);
    CHECK(f && f->id == id && id > 0 && ids.insert(id).second);
    CHECK(terminated(f->name));
  }
}

// The settings and records as a save writes them.
std::string write_back(const remote_settings& set) {
  CHECK(config_out_reset() == 0);
  config_printf("version %d", set.version);
  config_printf("upgrade %d", set.upgrade);
  config_printf("style.size %d", set.style_size);
  if (set.default_exchange >= 0) config_printf("default_exchange %E", ssmodel_exchange(set.default_exchange));
  if (set.hilight_watched >= 0) config_printf("hilight_watched %b", set.hilight_watched);
  config_printf("quick9");
  quick9_save();
  wlist_save();
  scan_save_all();
  rss_config_save();
  int32_t len = 0;
  const char* text = config_out_buffer(&len);
  return std::string(text ? text : "", text ? size_t(len) : 0);
}

void load_one(const void* bytes, size_t size) {
  reset_records();
  CHECK(ssuser_store_config(bytes, int32_t(size)) == 0);
  int32_t n = 0;
  char* blob = ssuser_get_config(&n);
  CHECK(blob && n == int32_t(size));
  remote_settings set;
  const int rc = remote_records_load(blob, n, &set);
  ssuser_clear_config(blob);
  CHECK(rc == kRemoteRecordsRead || rc == kRemoteRecordsDamaged);
  if (rc == kRemoteRecordsDamaged) {
    CHECK(no_records());
    return;
  }
  CHECK(set.version >= 1 && set.text_len >= 0);
  CHECK(set.default_exchange == -1 ||
        (set.default_exchange >= 0 && set.default_exchange < 4 && ssuser_exchange_permitted(set.default_exchange)));
  CHECK(set.hilight_watched >= -1 && set.hilight_watched <= 1);
  check_records();

  const std::string first = write_back(set);
  reset_records();
  remote_settings again;
  CHECK(remote_records_load(first.data(), int32_t(first.size()), &again) == kRemoteRecordsRead);
  check_records();
  CHECK(again.version == set.version && again.upgrade == set.upgrade && again.style_size == set.style_size);
  CHECK(again.default_exchange == set.default_exchange && again.hilight_watched == set.hilight_watched);
  CHECK(write_back(again) == first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = config_fuzz_start(start_records);
  CHECK(ready);
  if (size > kMaxInput) return 0;
  load_one(data, size);
  growbuf gb{};
  CHECK(growbuf_init(&gb, int32_t(size) + 16, 1024) == 0);
  CHECK(encblk_write(&gb, data, int32_t(size)) == 0);
  load_one(gb.data, size_t(gb.len));
  growbuf_free(&gb);
  reset_records();
  return 0;
}
