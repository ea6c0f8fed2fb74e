// Upgrade steps of the user configuration. The level a configuration was
// saved at is remembered when it loads (absent: -1); below level 1 the five
// default news feeds are registered. Their addresses are paths on one
// configurable host, so a test run or a private deployment points them at
// its own server; by default the market simulator's loopback address.
#include "config/upgrade.h"

#include <cstdio>

#include "log.h"
#include "rss/rss.h"

static const char kSrc[] = "src/config/upgrade";

namespace {

struct default_feed {
  const char* path;
  const char* name;
  uint32_t period;
};

const default_feed kDefaultFeeds[] = {
    {"/rss/market-news.xml", "Market news", kUpgradeFeedPeriod},
    {"/rss/company-announcements.xml", "Announcements", kUpgradeFeedPeriod},
    {"/rss/economy.xml", "Economy", kUpgradeFeedPeriod},
    {"/rss/world.xml", "World", kUpgradeFeedPeriod},
    {"/rss/headlines.xml", "Headlines", kUpgradeFastFeedPeriod},
};

}  // namespace

static struct {
  int32_t level = -1;
  char host[128] = "127.0.0.1";
} U;

int32_t upgrade_level(void) { return U.level < 0 ? 0 : U.level; }

void upgrade_set_feed_host(const char* host) {
  snprintf(U.host, sizeof U.host, "%s", host && *host ? host : "127.0.0.1");
}

const char* upgrade_feed_host(void) { return U.host; }

void upgrade_add_default_feeds(int32_t level) {
  U.level = level;
  if (U.level < 1) {
    log(LOG_INFO, kSrc, "adding default RSS feeds");
    for (const default_feed& d : kDefaultFeeds) {
      char url[256];
      snprintf(url, sizeof url, "http://%s%s", U.host, d.path);
      rss_feed* f = rss_feed_create_registered(url, d.period, 0);
      if (!f) {
        log(LOG_ERROR, kSrc, "can't add default feed %s", url);
        continue;
      }
      rss_feed_set_name(f, d.name);
    }
    U.level = 1;
  }
}
