// The simulator's live market: one thread writes the scripted market's
// random operations onto an exchange's stream at a steady rate.
//
// Each message is one script step with a seed of its own, drawn from the
// market seed and the message's number, and stamped with the wall clock:
// the order of operations depends on the seed alone, while the times follow
// the clock and never go back. What is due is written every tick as one
// stream unit, so a client may resume at any tick. Announcements go out
// between ticks as units of their own, each after its document is put up
// on the HTTP side, so a client that sees one can fetch its document.
#include "sim_live.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "log.h"
#include "sim.h"
#include "sim_feeds.h"
#include "sim_history.h"
#include "sim_http.h"
#include "sstime.h"
#include "ssutil.h"

static const char kSrc[] = "sim/sim_live";

namespace {

constexpr int32_t kTickMs = 20;             // how often due messages are written
constexpr uint32_t kCodeStride = 37;        // spreads the made-up codes over the alphabet
constexpr ss_time kLastSecond = 86399;      // 23:59:59
constexpr uint32_t kStocksMax = 1000;

// One number of a seed sequence (splitmix64).
uint64_t mix(uint64_t seed, uint64_t n) {
  uint64_t z = seed + (n + 1) * 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

ss_time wall_now() {
  const time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  return sstime_pack(tm.tm_sec, tm.tm_min, tm.tm_hour, tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
}

}  // namespace

struct sim_live {
  sim_live_options o;
  sim_server* sim = nullptr;
  sim_market* market = nullptr;
  std::vector<std::string> codes;
  ss_time day = 0;   // the exchange's date: times stay on it
  ss_time last = 0;  // the latest time written
  std::atomic<uint64_t> count{0};
  std::atomic<uint64_t> news{0};
  uint32_t failures = 0;

  // keep_books: per code, the book after the last message of each second
  // that changed it, in time order.
  struct kept {
    ss_time time;
    std::vector<sim_level> sides[2];
  };
  std::mutex books_mu;
  std::map<std::string, std::vector<kept>> books;

  struct trade {
    std::string code;
    uint32_t price;
    uint64_t volume;
  };
  std::mutex mu;
  std::condition_variable cv;
  bool stop = false;
  std::vector<trade> trades;  // asked for by sim_live_trade, under mu
  std::thread thread;
  // The feed items of the announcements so far, newest first (live thread).
  std::vector<sim_feed_item> announced, sensitive;
};

namespace {

// The clock's time on the exchange's date, never before the latest written.
ss_time next_time(sim_live* l) {
  ss_time t = wall_now();
  if ((t & ~kSstimeSecondsMask) != l->day) t = l->day + kLastSecond;  // past midnight
  t = std::max(t, l->last);
  l->last = t;
  return t;
}

bool same_sides(const std::vector<sim_level>* a, const std::vector<sim_level>* b) {
  for (int side = 0; side < 2; side++) {
    if (a[side].size() != b[side].size()) return false;
    for (size_t i = 0; i < a[side].size(); i++)
      if (a[side][i].price != b[side][i].price || a[side][i].orders != b[side][i].orders) return false;
  }
  return true;
}

// After a message stamped t: each stock's book, where it changed (times
// never go back, so the entry of second t is replaced until t is past).
void keep(sim_live* l, ss_time t) {
  std::lock_guard<std::mutex> lk(l->books_mu);
  for (const std::string& code : l->codes) {
    const sim_stock_ref* r = sim_market_stock(l->market, code.c_str());
    if (!r) continue;
    std::vector<sim_live::kept>& v = l->books[code];
    if (!v.empty() && v.back().time == t) {
      for (int side = 0; side < 2; side++) v.back().sides[side] = r->sides[side];
    } else if (v.empty() || !same_sides(v.back().sides, r->sides)) {
      v.push_back({t, {r->sides[0], r->sides[1]}});
    }
  }
}

// One message of the script at the wall clock's time (or the latest time
// written, should the clock step back).
void step(sim_live* l) {
  const ss_time t = next_time(l);
  ss_time advanced = t;  // the script moves its own time on; the clock rules here
  const uint64_t n = l->count.load();
  if (sim_market_script(l->market, mix(l->o.seed, n), l->codes, 1, &advanced) < 0 && l->failures++ == 0)
    log(LOG_ERROR, kSrc, "script step %llu failed", static_cast<unsigned long long>(n));
  if (l->o.keep_books) keep(l, t);
  l->count.store(n + 1);
}

// The next announcement: its document first, then the item on the stream.
void publish_news(sim_live* l) {
  const uint64_t k = l->news.load();
  const sim_live_news n = sim_live_news_item(l->o, k);
  ss_news item = {};
  item.number = n.number;
  item.time = next_time(l);
  item.codes[0] = 2;
  item.flags = n.flags;
  snprintf(item.headline, sizeof item.headline, "%s", n.headline.c_str());
  char url[512];
  uint32_t size = sizeof url;
  const char* path = nullptr;
  if (ssutil_news_pdf_url(url, &size, int32_t(l->o.index), n.code.c_str(), n.number)) {
    path = strstr(url, "://");
    path = path ? strchr(path + 3, '/') : nullptr;
  }
  if (!path) {
    log(LOG_ERROR, kSrc, "no document link for %s news %u", n.code.c_str(), n.number);
  } else {
    sim_http_file f;
    f.path = path;
    f.body = sim_news_document(n.code, n.number, item.time, n.headline);
    sim_http_add_file(l->sim, f);
    // The announcement feeds list it too, once the simulator listens (their
    // links name its address).
    if (sim_port(l->sim) > 0) {
      const bool price_sensitive = (n.flags & kNewsFlag1) != 0;
      const sim_feed_item fi =
          sim_feeds_announcement(l->sim, n.code, n.number, item.time, n.headline, price_sensitive, f.path);
      l->announced.insert(l->announced.begin(), fi);
      if (l->announced.size() > kSimFeedItemsMax) l->announced.pop_back();
      if (price_sensitive) {
        l->sensitive.insert(l->sensitive.begin(), fi);
        if (l->sensitive.size() > kSimFeedItemsMax) l->sensitive.pop_back();
      }
      sim_feeds_announce(l->sim, l->announced, l->sensitive);
    }
  }
  if (sim_news_today(l->sim, l->o.index, n.code.c_str(), item) == 0) l->news.store(k + 1);
}

void flush(sim_live* l) {
  if (sim_market_flush(l->market, l->sim) < 0) log(LOG_ERROR, kSrc, "can't append to exchange %u", l->o.index);
}

void run(sim_live* l) {
  using clock = std::chrono::steady_clock;
  const clock::time_point start = clock::now();
  // A stalled thread does not make up for more than a second at once.
  const uint64_t burst = std::max<uint64_t>(1, static_cast<uint64_t>(l->o.rate));
  uint64_t done = 0;  // live messages due so far, written or skipped
  uint64_t news_done = 0;  // announcements due so far
  std::unique_lock<std::mutex> lk(l->mu);
  while (!l->cv.wait_for(lk, std::chrono::milliseconds(kTickMs), [l] { return l->stop; })) {
    const double seconds = std::chrono::duration<double>(clock::now() - start).count();
    const uint64_t due = static_cast<uint64_t>(seconds * l->o.rate);
    const uint64_t news_due = l->o.news_seconds > 0 ? static_cast<uint64_t>(seconds / l->o.news_seconds) : 0;
    std::vector<sim_live::trade> asked;
    asked.swap(l->trades);
    if (due <= done && news_due <= news_done && asked.empty()) continue;
    uint64_t n = due > done ? due - done : 0;
    done = std::max(done, due);
    n = std::min(n, burst);
    // A stalled thread publishes one announcement, not the ones it missed.
    const bool news = news_due > news_done;
    news_done = std::max(news_done, news_due);
    lk.unlock();
    for (uint64_t i = 0; i < n; i++) step(l);
    for (const sim_live::trade& t : asked) {
      const ss_time when = std::max(wall_now(), l->last);
      l->last = when;
      if (sim_market_trade(l->market, t.code.c_str(), when, t.price, t.volume) < 0)
        log(LOG_ERROR, kSrc, "can't trade %s", t.code.c_str());
    }
    if (n || !asked.empty()) flush(l);
    if (news) publish_news(l);
    lk.lock();
  }
}

}  // namespace

sim_live* sim_live_start(sim_server* sim, const sim_live_options& options) {
  if (!(options.rate > 0) || options.stocks == 0 || options.stocks > kStocksMax) {
    log(LOG_ERROR, kSrc, "bad live market: rate %g, %u stocks", options.rate, options.stocks);
    return nullptr;
  }
  sim_live* l = new sim_live;
  l->o = options;
  l->sim = sim;
  for (uint32_t i = 0; i < options.stocks; i++) {
    l->codes.push_back(sim_market_code(1 + i * kCodeStride));
    static const char* const kKinds[] = {"Mining", "Holdings", "Energy", "Group", "Resources", "Bank"};
    const std::string name = l->codes.back() + " " + kKinds[i % (sizeof kKinds / sizeof kKinds[0])];
    if (sim_add_instrument(sim, options.index, l->codes.back().c_str()) < 0 ||
        sim_set_stock_name(sim, options.index, l->codes.back().c_str(), name) < 0) {
      delete l;
      return nullptr;
    }
  }
  sim_market_options mo;
  mo.index = options.index;
  mo.brokers = options.brokers;
  mo.journal = false;  // a long run would keep every message
  l->market = sim_market_create(mo);
  l->day = wall_now() & ~kSstimeSecondsMask;
  for (uint64_t i = 0; i < uint64_t(options.opening) * options.stocks; i++) step(l);
  flush(l);
  log(LOG_INFO, kSrc, "live market on exchange %u: %u stocks, %g messages a second", options.index,
      options.stocks, options.rate);
  l->thread = std::thread(run, l);
  return l;
}

void sim_live_stop(sim_live* live) {
  if (!live) return;
  {
    std::lock_guard<std::mutex> lk(live->mu);
    live->stop = true;
  }
  live->cv.notify_all();
  live->thread.join();
  sim_market_destroy(live->market);
  log(LOG_INFO, kSrc, "live market stopped after %llu messages",
      static_cast<unsigned long long>(live->count.load()));
  delete live;
}

int sim_live_trade(sim_live* live, const char* code, uint32_t price, uint64_t volume) {
  if (!live || !code || std::find(live->codes.begin(), live->codes.end(), code) == live->codes.end()) return -1;
  std::lock_guard<std::mutex> lk(live->mu);
  live->trades.push_back({code, price, volume});
  return 0;
}

uint64_t sim_live_count(const sim_live* live) { return live ? live->count.load() : 0; }

int sim_live_book_before(sim_live* live, const char* code, ss_time t, sim_stock_ref* out) {
  if (!live || !live->o.keep_books || !code) return -1;
  std::lock_guard<std::mutex> lk(live->books_mu);
  auto it = live->books.find(code);
  if (it == live->books.end()) return -1;
  const sim_live::kept* found = nullptr;
  for (const sim_live::kept& k : it->second) {
    if (k.time >= t) break;
    found = &k;
  }
  if (!found) return -1;
  out->code = code;
  for (int side = 0; side < 2; side++) out->sides[side] = found->sides[side];
  return 0;
}

uint64_t sim_live_news_count(const sim_live* live) { return live ? live->news.load() : 0; }

sim_live_news sim_live_news_item(const sim_live_options& options, uint64_t k) {
  static const char* const kWhat[] = {"Quarterly Activities Report", "Change of Director Interest Notice",
                                      "Trading Halt", "Investor Presentation", "Appendix 3B"};
  sim_live_news n;
  n.number = kSimLiveNewsFirst + uint32_t(k);
  n.code = sim_market_code(1 + uint32_t(k % std::max<uint32_t>(options.stocks, 1)) * kCodeStride);
  n.flags = k % 3 == 2 ? 0 : kNewsFlag1;  // price sensitive
  n.headline = std::string(kWhat[k % (sizeof kWhat / sizeof kWhat[0])]) + " " + std::to_string(k + 1);
  return n;
}

std::string sim_news_document(const std::string& code, uint32_t number, ss_time time, const std::string& headline) {
  char when[64];
  sstime_parts p{};
  sstime_unpack(&p, time);
  snprintf(when, sizeof when, "Released %04d-%02d-%02d %02d:%02d:%02d", p.year, p.mon, p.mday, p.hour, p.min,
           p.sec);
  return sim_pdf_document(code + " announcement", {
      headline,
      "Issuer " + code + ", announcement number " + std::to_string(number),
      when,
      "",
      "This document was published by the market simulator together with the",
      "announcement it belongs to. It stands in for the company's release: the",
      "directors present the matters named in the headline above, the figures",
      "of the period and the outlook, and the company secretary authorises its",
      "lodgement with the exchange. Shareholders should read the whole release",
      "before acting on it, and seek advice where they are unsure of its effect.",
  });
}

namespace {

// A PDF string literal's text: the delimiters escaped, anything but
// printable ASCII replaced.
std::string pdf_text(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '(' || c == ')' || c == '\\') out += '\\';
    out += c >= 32 && c < 127 ? char(c) : '?';
  }
  return out;
}

}  // namespace

std::string sim_pdf_document(const std::string& title, const std::vector<std::string>& lines) {
  std::string content = "BT /F1 24 Tf 56 760 Td (" + pdf_text(title) + ") Tj /F1 12 Tf 0 -24 Td";
  for (const std::string& line : lines) content += " 0 -18 Td (" + pdf_text(line) + ") Tj";
  content += " ET\n";
  return sim_pdf_file({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 4 0 R >> >> "
      "/Contents 5 0 R >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
  });
}

std::string sim_pdf_file(const std::vector<std::string>& objects) {
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); i++) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t o : offsets) {
    char row[24];
    snprintf(row, sizeof row, "%010zu 00000 n \n", o);
    pdf += row;
  }
  pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}
