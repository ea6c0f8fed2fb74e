// Upgrade steps of the user configuration. The level a configuration was
// saved at is remembered when it loads (absent: -1); below level 1 the five
// default news feeds are registered. Their addresses are paths on one
// configurable host: the start-up flow sets it to the market-data server it
// signed on to, which serves the feeds. Also the configuration a user starts
// from when the server keeps none for them.
#include "config/upgrade.h"

#include <cstdio>

#include "action.h"
#include "chash.h"
#include "log.h"
#include "rss/rss.h"
#include "ssmodel.h"

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
  char host[160] = "127.0.0.1";
} U;

int32_t upgrade_level(void) { return U.level < 0 ? 0 : U.level; }

void upgrade_set_feed_host(const char* host, int32_t port) {
  if (!host || !*host) host = "127.0.0.1";
  if (port > 0 && port != 80)
    snprintf(U.host, sizeof U.host, "%s:%d", host, port);
  else
    snprintf(U.host, sizeof U.host, "%s", host);
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

// The stock the first desktop's chart, depth and course of sales show: the
// exchange's most traded by value so far today, else its first by code.
static const ss_stock* first_stock(const ss_exchange* ex) {
  if (!ex) return nullptr;
  const ss_stock* best = nullptr;
  int32_t cursor = 0;
  while (const void* rec = chash_sorted_next(&ex->stocks, &cursor)) {
    const auto* st = static_cast<const ss_stock*>(rec);
    if (!best || st->value > best->value) best = st;
  }
  return best;
}

int upgrade_first_config(char* out, size_t size) {
  const ss_exchange* ex = action_default_exchange_record();
  const char* exchange = ssmodel_exchange_name(ex ? ex->index : 0);
  if (!exchange) exchange = "ASX";
  const ss_stock* st = first_stock(ex);
  char instr[64] = "";
  if (st) snprintf(instr, sizeof instr, "S:%s:%s", exchange, st->code);
  // Window keys of the three windows that show the stock; the list's rows
  // pass theirs on through the links (P0,n).
  char keys[160] = "";
  if (instr[0]) snprintf(keys, sizeof keys, "screen.desktop.window.instr %s\n", instr);
  const int n = snprintf(out, size,
                         "version 2\n"
                         "default_exchange %s\n"
                         "scan 1 \"Most active\"\n"
                         "scan.instr_filter 0\n"
                         "scan.order 6\n"
                         "scan.exchange %s\n"
                         "screen 0\n"
                         "screen.current 0\n"
                         "screen.visible t\n"
                         "screen.watchbar.show t\n"
                         "screen.watchbar.item S 1\n"
                         "screen.tickbar.show t\n"
                         "screen.tickbar.ticker 0\n"
                         "screen.tickbar.ticker.show_type show\n"
                         "screen.tickbar.ticker.exchange ASX\n"
                         "screen.tickbar.ticker.exchange NZX\n"
                         "screen.tickbar.ticker.exchange GLB\n"
                         "screen.tickbar.ticker.exchange AXO\n"
                         "screen.desktop 0\n"
                         "screen.desktop.window\n"
                         "screen.desktop.window.role watchlist\n"
                         "screen.desktop.window.scan 1\n"
                         "screen.desktop.window\n"
                         "screen.desktop.window.parent 0\n"
                         "screen.desktop.window.role chart\n"
                         "%s"
                         "screen.desktop.window\n"
                         "screen.desktop.window.parent 0\n"
                         "screen.desktop.window.role depth\n"
                         "%s"
                         "screen.desktop.window\n"
                         "screen.desktop.window.parent 0\n"
                         "screen.desktop.window.role tradelist\n"
                         "%s"
                         "screen.desktop.current 0\n"
                         "screen.desktop.layout \"W0 W1 W2 W3 H0.500 V0.550 H0.400 P0,1 P0,2 P0,3\"\n",
                         exchange, exchange, keys, keys, keys);
  if (n < 0 || size_t(n) >= size) {
    log(LOG_ERROR, kSrc, "can't make the first configuration");
    return -1;
  }
  log(LOG_INFO, kSrc, "first configuration with %s", instr[0] ? instr : "no stock");
  return n;
}
