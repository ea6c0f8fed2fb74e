// The reports sent to the server after the first login ("VER" with the
// version, "ID" with the machine's link-level addresses), the name-change
// notice applied to every watchlist, and the one-time upgrade run driven by
// the local configuration's counter. Kept apart from the recovery data so
// that the recovery reader builds with the engine alone.
#include <ifaddrs.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <array>
#include <vector>

#include "config/config.h"
#include "config/save_local.h"
#include "lib/wlist.h"
#include "log.h"
#include "plat.h"
#include "sscache.h"
#include "ssclient.h"
#include "sstime.h"
#include "ssuser.h"
#include "startup/recovery.h"
#include "version.h"

namespace {
constexpr char kSrc[] = "src/startup/recovery";
constexpr uint32_t kReportBlock = 3;
constexpr uint32_t kMacUserFlag = 32;
constexpr int32_t kUpgradeTarget = 42;
}  // namespace

int recovery_version_text(char *out, int32_t n) {
  return snprintf(out, static_cast<size_t>(n), "VER %s (%dbit) on %s", version_full(), 64,
                  plat_os_description());
}

int recovery_mac_format(char *out, int32_t n, const uint8_t (*addresses)[6], int32_t count) {
  int len = snprintf(out, static_cast<size_t>(n), "ID");
  for (int32_t i = 0; i < count; i++) {
    const uint8_t *m = addresses[i];
    if (!(m[0] | m[1] | m[2] | m[3] | m[4] | m[5])) continue;
    if (len + 19 >= n) break;
    len += snprintf(out + len, static_cast<size_t>(n - len), " %02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2],
                    m[3], m[4], m[5]);
  }
  return len;
}

int recovery_mac_text(char *out, int32_t n) {
  ifaddrs *list = nullptr;
  if (getifaddrs(&list) != 0) {
    log(LOG_OSERR, kSrc, "getifaddrs");
    return -1;
  }
  std::vector<std::array<uint8_t, 6>> found;
  for (ifaddrs *a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_PACKET) continue;
    const auto *ll = reinterpret_cast<const sockaddr_ll *>(a->ifa_addr);
    if (ll->sll_halen != 6) continue;
    std::array<uint8_t, 6> m;
    memcpy(m.data(), ll->sll_addr, 6);
    found.push_back(m);
  }
  freeifaddrs(list);
  std::vector<uint8_t> flat(found.size() * 6);
  for (size_t i = 0; i < found.size(); i++) memcpy(&flat[i * 6], found[i].data(), 6);
  return recovery_mac_format(out, n, reinterpret_cast<const uint8_t(*)[6]>(flat.data()),
                             static_cast<int32_t>(found.size()));
}

int send_version(void) {
  char text[256];
  int n = recovery_version_text(text, sizeof text);
  if (n < 0 || ssclient_send_block(kReportBlock, text, n) < 0) {
    log(LOG_ERROR, kSrc, "can't send version");
    return -1;
  }
  return 0;
}

int send_mac(void) {
  if (!ssuser_has_flag(kMacUserFlag)) return 0;
  char text[1024];
  int n = recovery_mac_text(text, sizeof text);
  if (n < 0) return -1;
  if (ssclient_send_block(kReportBlock, text, n) < 0) {
    log(LOG_ERROR, kSrc, "can't send ID");
    return -1;
  }
  return 0;
}

namespace {
// History of the new record when the old one's had been asked for.
void request_history_of(instr *in) {
  if (in->kind == kKindStock)
    ssclient_request_stock_history(static_cast<ss_stock *>(in));
  else if (in->kind == kKindIndex)
    ssclient_request_index_history(static_cast<ss_index *>(in));
  else if (in->kind == kKindIssuer)
    ssclient_request_history(static_cast<ss_issuer *>(in));
}
}  // namespace

int name_change_apply(const name_change *notice) {
  if (!notice || !notice->old) return 0;
  instr *old = notice->old;
  ss_exchange *ex = old->exchange;
  const char *xname = ex ? ex->name : "";
  if (notice->kind == kNameChangeCode) {
    const ss_alias *a = ex ? ssmodel_find_alias(ex, old->code) : nullptr;
    instr *now = a ? static_cast<instr *>(ssmodel_find_stock(ex, a->to)) : nullptr;
    if (!now) {
      log(LOG_ERROR, kSrc, "can't find new stock for %s:%s name change", xname, old->code);
      return -1;
    }
    if (now == old) {
      log(LOG_ERROR, kSrc, "new stock is old stock in %s:%s name change?", xname, old->code);
      return -1;
    }
    log(LOG_WARN, kSrc, "name change %s:%s->%s", xname, old->code, now->code);
    for (wlist *wl = wlist_iter_begin(); wl; wl = wlist_iter_next()) {
      if (!wlist_contains(wl, old)) continue;
      log(LOG_WARN, kSrc, "changing %s to %s in %s", old->code, now->code, wlist_name(wl));
      if (!wlist_contains(wl, now)) wlist_insert_after(wl, now, old);
      wlist_remove(wl, old);
    }
    if (old->flags & kInHistory) request_history_of(now);
    return 0;
  }
  if (notice->kind == kNameChangeIssuer) {
    const ss_alias *a = ex ? ssmodel_find_alias(ex, old->code) : nullptr;
    instr *now = a ? static_cast<instr *>(ssmodel_find_issuer(ex, a->to)) : nullptr;
    if (!now) {
      log(LOG_ERROR, kSrc, "can't find new issuer for %s:%s name change", xname, old->code);
      return -1;
    }
    if (now == old) {
      log(LOG_ERROR, kSrc, "new issuer is old issuer in %s:%s name change?", xname, old->code);
      return -1;
    }
    log(LOG_WARN, kSrc, "name change %s:%s->%s", xname, old->code, now->code);
    if (old->flags & kInHistory) request_history_of(now);
  }
  return 0;
}

int upgrade_run(void) {
  local_config *local = config_local();
  if (!local) {
    log(LOG_ERROR, kSrc, "can't get local config to check for upgrade");
    return -1;
  }
  if (local->upgrade_count >= 1 && local->upgrade_count < kUpgradeTarget) {
    sscache_remove_all(sstime_pack_date(11, 2, 2014));
    local->upgrade_count = kUpgradeTarget;
    save_local_config();
    log(LOG_INFO, kSrc, "ran upgrade to %d", kUpgradeTarget);
  }
  return 0;
}
