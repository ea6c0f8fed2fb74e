// Upgrade steps of the user configuration: a configuration saved at a lower
// level gains what later levels add. Level 1 adds the default news feeds.
// User-interface thread.
#pragma once
#include <cstdint>

constexpr int32_t kUpgradeLevel = 1;
constexpr uint32_t kUpgradeFeedPeriod = 600;
constexpr uint32_t kUpgradeFastFeedPeriod = 60;

// The level written as "upgrade %d".
int32_t upgrade_level(void);
// Runs the steps above `level` (-1: none stored) and records the new level.
void upgrade_add_default_feeds(int32_t level);
// The host of the default feeds' addresses ("http://HOST/..."); a later
// call replaces it. The default is the simulator's news host.
void upgrade_set_feed_host(const char* host);
const char* upgrade_feed_host(void);
