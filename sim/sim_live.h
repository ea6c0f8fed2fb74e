// A live market for the simulator program: a thread that writes random
// depth changes, quotes and trades of the scripted market (sim.h) onto one
// exchange's stream at a steady rate, so that a client online sees a market
// move while it watches; and, when asked, an announcement of one of its
// stocks every few seconds, whose document the simulator serves over HTTP.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sstime.h"

struct sim_server;
struct sim_stock_ref;
struct sim_live;

struct sim_live_options {
  uint32_t index = 0;     // the exchange whose stream the market writes
  bool brokers = false;   // must match the exchange's broker flag
  double rate = 50;       // messages a second, above 0
  uint64_t seed = 1;      // the same seed writes the same messages in order
  uint32_t stocks = 12;   // made-up stock codes the market moves
  uint32_t opening = 20;  // messages a stock gets before the first client
  double news_seconds = 0;  // seconds between announcements; 0: none
  // Keep each stock's book second by second (tests that compare a client's
  // replay with the market as it stood); off in the program, where a long
  // run would keep them all.
  bool keep_books = false;
};

// Registers the stocks as instruments of the exchange (so requests about
// them are accepted) with made-up names (the code and a kind of business,
// sent as the exchange's notices), writes the opening as one stream unit and starts the
// thread. Null after an ERROR line (rate not above 0, no stocks, unknown
// exchange). Times are the local wall clock on today's date.
sim_live* sim_live_start(sim_server* sim, const sim_live_options& options);
// Stops and joins the thread; null is ignored. Call before sim_destroy.
void sim_live_stop(sim_live* live);
// Queues one trade of a live stock at a price and volume of the caller's,
// written with the next tick's messages (any thread). -1 for a code the
// market does not move.
int sim_live_trade(sim_live* live, const char* code, uint32_t price, uint64_t volume);
// Messages written so far, the opening included (any thread).
uint64_t sim_live_count(const sim_live* live);
// With keep_books: the stock's book after every message stamped before `t`
// (sides only) into *out. 0, or -1 (books not kept, no such stock, or `t`
// not after the first message). Any thread.
int sim_live_book_before(sim_live* live, const char* code, ss_time t, sim_stock_ref* out);
// Announcements published so far (any thread).
uint64_t sim_live_news_count(const sim_live* live);

// The number, code, flags and headline of the live market's k-th
// announcement (from 0): the stocks take turns; two in three are price
// sensitive. Numbers start at kSimLiveNewsFirst.
constexpr uint32_t kSimLiveNewsFirst = 900001;
struct sim_live_news {
  uint32_t number;
  std::string code;
  uint32_t flags;
  std::string headline;
};
sim_live_news sim_live_news_item(const sim_live_options& options, uint64_t k);

// A PDF file of the given objects, numbered from 1 (the first is the
// catalogue), with its cross-reference table at the right offsets.
std::string sim_pdf_file(const std::vector<std::string>& objects);
// A one-page PDF document that shows `title` and then `lines` (plain ASCII;
// other bytes become '?').
std::string sim_pdf_document(const std::string& title, const std::vector<std::string>& lines);
// The document of an announcement: its headline, issuer, number and time,
// and a paragraph of text, over a kilobyte as real documents are (a client
// keeps no shorter one).
std::string sim_news_document(const std::string& code, uint32_t number, ss_time time, const std::string& headline);
