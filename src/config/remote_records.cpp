// The first half of loading the user configuration kept on the server: the
// stored bytes become the configuration tree, the session's settings and the
// records that live below the screens (quick keys, watchlists, scans, news
// feeds). It is kept apart from load_remote, which builds screens and
// windows, so that everything a server's bytes reach before a window exists
// can run, and be fuzzed, without a display. The settings are only read
// here: the modules that apply them sit above this one.
#include "config/remote_records.h"

#include <cstring>

#include "config/config.h"
#include "decblk.h"
#include "growbuf.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "log.h"
#include "quick9.h"
#include "rss/rss.h"
#include "ssmodel.h"
#include "ssuser.h"

// Its lines are the user configuration load's, under that module's name.
static const char kSrc[] = "src/config/load_remote";

constexpr int kVersionPrefix = 8;  // "version "

// The exchange the copy names as the default, if the user may see it; else
// the first of exchanges 0 and 1 the user may see; -1 when none, or when the
// copy names none.
static int32_t default_exchange_of_copy(void) {
  ss_exchange* ex = config_get_exchange("default_exchange");
  if (!ex) return -1;
  int32_t pick = -1;
  for (int i = 0; i < 4; i++)
    if (ssmodel_exchange(i) == ex && ssuser_exchange_permitted(i)) pick = i;
  if (pick < 0) pick = ssuser_exchange_permitted(0) ? 0 : ssuser_exchange_permitted(1) ? 1 : -1;
  return pick;
}

int remote_records_load(const char* data, int32_t length, remote_settings* out) {
  *out = remote_settings{0, -1, 0, -1, -1, -1};
  growbuf gb{};
  const char* text = data;
  int32_t text_len = length;
  if (!(length >= kVersionPrefix && memcmp(data, "version ", kVersionPrefix) == 0)) {
    if (growbuf_init(&gb, length > 0 ? length : 1, 1024) < 0) {
      log(LOG_ERROR, kSrc, "can't alloc %db for decompression", length);
      return kRemoteRecordsFailed;
    }
    if (decblk_inflate(reinterpret_cast<const uint8_t*>(data), length, &gb) <= 0) {
      log(LOG_ERROR, kSrc, "can't decompress config");
      growbuf_free(&gb);
      return kRemoteRecordsDamaged;
    }
    text = reinterpret_cast<const char*>(gb.data);
    text_len = gb.len;
  }
  if (config_load_buffer(text, text_len) < 0) log(LOG_WARN, kSrc, "error parsing remote buffer, proceeding anyway");
  growbuf_free(&gb);  // the tree holds its own copy of the text
  out->text_len = text_len;
  out->version = config_get_int("version");
  if (out->version < 1) {
    log(LOG_ERROR, kSrc, "no version present, aborting parse");
    return kRemoteRecordsDamaged;
  }
  out->upgrade = config_get_int("upgrade");
  out->style_size = config_get_int("style.size");
  out->default_exchange = default_exchange_of_copy();
  if (config_get("hilight_watched")) out->hilight_watched = config_get_bool("hilight_watched") ? 1 : 0;
  quick9_load();
  wlist_load();
  scan_load_all();
  rss_config_load();
  return kRemoteRecordsRead;
}
