// The simulator's news feeds: RSS 2.0 documents written from items and
// served as HTTP files of the simulator.
#include "sim_feeds.h"

#include <cstdio>

#include "sim.h"
#include "sim_http.h"

const char* const kSimFeedPaths[5] = {"/rss/market-news.xml", "/rss/company-announcements.xml", "/rss/economy.xml",
                                      "/rss/world.xml", "/rss/headlines.xml"};

namespace {

constexpr int kAnnouncements = 1, kHeadlines = 4;

std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// RFC 822 date of an exchange time (kept as written: the simulator's times
// are its wall clock).
std::string rfc822(ss_time t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  sstime_parts p{};
  if (sstime_unpack(&p, t) != 0 || p.mon < 1 || p.mon > 12 || p.wday < 0 || p.wday > 6) return "";
  char text[64];
  snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[p.wday], p.mday, kMonths[p.mon - 1],
           p.year, p.hour, p.min, p.sec);
  return text;
}

std::string base_url(sim_server* sim) {
  const int port = sim_port(sim);
  return "http://127.0.0.1:" + std::to_string(port > 0 ? port : 80);
}

void serve(sim_server* sim, const std::string& path, const std::string& body) {
  sim_http_file f;
  f.path = path;
  f.body = body;
  sim_http_add_file(sim, f);
}

struct general_feed {
  int slot;  // in kSimFeedPaths
  const char* title;
  const char* stem;  // the pages' names
  const char* items[4];
};

const general_feed kGeneral[] = {
    {0, "Market news", "market", {"Shares open steady as energy stocks lead", "Turnover lifts in early trade",
                                  "Small caps outpace the broader market", "Close: the index ends the day higher"}},
    {2, "Economy", "economy", {"Reserve bank leaves the cash rate on hold", "Retail sales rise for a third month",
                               "Business confidence eases from its high", "Jobless rate unchanged at 4.1 per cent"}},
    {3, "World", "world", {"Asian markets mixed after a quiet session", "Oil steadies as supply worries fade",
                           "European shares edge up at the open", "Dollar firm ahead of central bank minutes"}},
};

}  // namespace

std::string sim_feed_document(const std::string& title, const std::string& link, const std::string& description,
                              const std::vector<sim_feed_item>& items) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\">\n<channel>\n";
  out += "<title>" + escape(title) + "</title>\n";
  out += "<link>" + escape(link) + "</link>\n";
  out += "<description>" + escape(description) + "</description>\n";
  for (const sim_feed_item& i : items) {
    out += "<item>\n<title>" + escape(i.title) + "</title>\n";
    if (!i.link.empty()) out += "<link>" + escape(i.link) + "</link>\n<guid>" + escape(i.link) + "</guid>\n";
    if (!i.description.empty()) out += "<description>" + escape(i.description) + "</description>\n";
    const std::string date = i.time ? rfc822(i.time) : "";
    if (!date.empty()) out += "<pubDate>" + date + "</pubDate>\n";
    out += "</item>\n";
  }
  out += "</channel>\n</rss>\n";
  return out;
}

int sim_feeds_start(sim_server* sim, ss_time day) {
  if (sim_port(sim) <= 0) return -1;
  const std::string base = base_url(sim);
  for (const general_feed& g : kGeneral) {
    std::vector<sim_feed_item> items;
    for (int k = 0; k < 4; k++) {
      const std::string page = std::string("/news/") + g.stem + "-" + std::to_string(k + 1) + ".txt";
      serve(sim, page, std::string(g.items[k]) + "\n\nA generated story of the market simulator.\n");
      sim_feed_item i;
      i.title = g.items[k];
      i.link = base + page;
      i.description = std::string(g.items[k]) + ". A generated story of the market simulator.";
      // Newest first: the day's 09:00, 08:00, 07:00 and 06:00.
      i.time = day ? sstime_set_fields(day, 0, 0, 9 - k, -1, -1, -1) : 0;
      items.push_back(i);
    }
    serve(sim, kSimFeedPaths[g.slot], sim_feed_document(g.title, base + "/", std::string(g.title) + " (simulated)", items));
  }
  sim_feeds_announce(sim, {}, {});
  return 0;
}

sim_feed_item sim_feeds_announcement(sim_server* sim, const std::string& code, uint32_t number, ss_time time,
                                     const std::string& headline, bool sensitive, const std::string& document) {
  sim_feed_item i;
  i.title = code + ": " + headline;
  i.link = base_url(sim) + document;
  i.description = "Announcement " + std::to_string(number) + " of " + code +
                  (sensitive ? ", price sensitive." : ".");
  i.time = time;
  return i;
}

void sim_feeds_announce(sim_server* sim, const std::vector<sim_feed_item>& announcements,
                        const std::vector<sim_feed_item>& headlines) {
  const std::string base = base_url(sim);
  serve(sim, kSimFeedPaths[kAnnouncements],
        sim_feed_document("Announcements", base + "/", "Company announcements of the live market", announcements));
  serve(sim, kSimFeedPaths[kHeadlines],
        sim_feed_document("Headlines", base + "/", "Price-sensitive announcements of the live market", headlines));
}
