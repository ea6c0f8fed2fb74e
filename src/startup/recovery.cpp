#include "startup/recovery.h"

#include <ifaddrs.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "log.h"
#include "plat.h"
#include "ssclient.h"
#include "ssuser.h"
#include "version.h"

namespace {
constexpr char kSrc[] = "src/startup/recovery";
constexpr uint32_t kReportBlock = 3;
constexpr uint32_t kMacUserFlag = 32;
}  // namespace

int recovery_version_text(char *out, int32_t n) {
  return snprintf(out, static_cast<size_t>(n), "VER %s (%dbit) on %s", version_full(), 64,
                  plat_os_description());
}

int recovery_mac_text(char *out, int32_t n) {
  ifaddrs *list = nullptr;
  if (getifaddrs(&list) != 0) {
    log(LOG_OSERR, kSrc, "getifaddrs");
    return -1;
  }
  int len = snprintf(out, static_cast<size_t>(n), "ID");
  for (ifaddrs *a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_PACKET) continue;
    const auto *ll = reinterpret_cast<const sockaddr_ll *>(a->ifa_addr);
    if (ll->sll_halen != 6) continue;
    const uint8_t *m = ll->sll_addr;
    if (!(m[0] | m[1] | m[2] | m[3] | m[4] | m[5])) continue;
    if (len + 19 >= n) break;
    len += snprintf(out + len, static_cast<size_t>(n - len), " %02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2],
                    m[3], m[4], m[5]);
  }
  freeifaddrs(list);
  return len;
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

// Minimal version: the stream summaries are not saved across a restart yet;
// the restarted program loads every stream from its start.
int recovery_write(void) {
  log(LOG_WARN, kSrc, "no recovery data written");
  return 0;
}

// Minimal version: with no recovery data ever written there is none to read.
int recovery_apply(void) {
  log(LOG_WARN, kSrc, "no recovery information");
  return 0;
}

// Minimal version: watchlists are not built yet, so a name change has no
// list to update.
int name_change_apply(const void *notice) {
  (void)notice;
  return 0;
}

// Minimal version: there is no local cache to clean up yet.
int upgrade_run(void) { return config_local() ? 0 : -1; }
