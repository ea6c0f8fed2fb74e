// Upgrade steps of the user configuration: a configuration saved at a lower
// level gains what later levels add. Level 1 adds the default news feeds.
// User-interface thread.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int32_t kUpgradeLevel = 1;
constexpr uint32_t kUpgradeFeedPeriod = 600;
constexpr uint32_t kUpgradeFastFeedPeriod = 60;

// The level written as "upgrade %d".
int32_t upgrade_level(void);
// Runs the steps above `level` (-1: none stored) and records the new level.
void upgrade_add_default_feeds(int32_t level);
// The host of the default feeds' addresses ("http://HOST[:PORT]/..."; the
// port is left out when it is 80 or not above 0); a later call replaces it.
// The start-up flow sets the market-data server it signs on to.
void upgrade_set_feed_host(const char* host, int32_t port = 0);
const char* upgrade_feed_host(void);
// The configuration text a user starts from when the server keeps none for
// them (no "upgrade" line, so the upgrade steps run on it): on desktop 1 of
// the first screen a smartlist of the default exchange's stocks ordered by
// the day's value, and beside it a chart, the depth and the course of sales
// of its most traded stock, linked to the list. Its length, or -1 when it
// does not fit `size`.
int upgrade_first_config(char* out, size_t size);
