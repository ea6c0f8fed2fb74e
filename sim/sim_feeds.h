// The news feeds the simulator serves over HTTP under /rss/, at the paths a
// terminal registers for a new user: the company announcements and the
// headlines (the price-sensitive ones) grow with the live market's
// announcements and link to their documents; market news, economy and world
// hold a few generated items that link to small pages served beside them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sstime.h"

struct sim_server;

struct sim_feed_item {
  std::string title;
  std::string link;         // absolute URL
  std::string description;  // plain text
  ss_time time = 0;         // 0: no date
};

// An RSS 2.0 document of the items in the order given (text escaped).
std::string sim_feed_document(const std::string& title, const std::string& link, const std::string& description,
                              const std::vector<sim_feed_item>& items);

// The five feeds' paths, in the order the terminal lists them.
extern const char* const kSimFeedPaths[5];

// Serves the five feeds (the two announcement feeds empty) and the general
// feeds' pages; `day` dates the generated items. Links name the
// simulator's own address, so call it once it listens. 0, or -1 when it
// does not listen yet.
int sim_feeds_start(sim_server* sim, ss_time day);
// The feed item of an announcement: "CODE: headline", linking to its
// document (a path on the simulator).
sim_feed_item sim_feeds_announcement(sim_server* sim, const std::string& code, uint32_t number, ss_time time,
                                     const std::string& headline, bool sensitive, const std::string& document);
// Serves the company announcements and the headlines again with these
// items (newest first; the caller keeps at most kSimFeedItemsMax of each).
constexpr size_t kSimFeedItemsMax = 50;
void sim_feeds_announce(sim_server* sim, const std::vector<sim_feed_item>& announcements,
                        const std::vector<sim_feed_item>& headlines);
