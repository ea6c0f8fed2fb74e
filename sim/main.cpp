// ambit-sim: the market simulator as a program. Builds a scenario from the
// command line, listens on loopback and serves until SIGINT or SIGTERM.
//
// The signals are blocked before any thread starts and taken with sigwait
// on the main thread, so a stop is an orderly sim_destroy, not a handler
// racing the connection threads.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "log.h"
#include "sim.h"
#include "sim_feeds.h"
#include "sim_http.h"
#include "sim_live.h"
#include "sim_msg.h"
#include "sim_scenario.h"
#include "sim_snapshot.h"

static const char kSrc[] = "sim/main";

namespace {

constexpr int32_t kLineMax = 1024;
constexpr uint8_t kDemoState = 50;
constexpr double kLiveRateMax = 100000;  // messages a second
constexpr uint32_t kLiveExchange = 0;    // ASX

const char kUsage[] =
    "usage: ambit-sim [options]\n"
    "  --port N             listen on 127.0.0.1:N (default 0: any free port)\n"
    "  --user NAME:PASS[:ID[:BITS]]\n"
    "                       add a user (repeatable); BITS: 1 ASX, 2 NZX, 4 AXO\n"
    "  --users FILE         add the users listed in FILE, one NAME:PASS[:ID[:BITS]]\n"
    "                       a line; '#' starts a comment\n"
    "  --seed N             seed of challenges and signatures (default 1)\n"
    "  --scenario NAME      'standard' (four exchanges, empty streams, default)\n"
    "                       or 'demo' (each stream opens its day)\n"
    "  --misbehave MODE     normal, silent, close:N, garbage, no-read, drip:MS,\n"
    "                       refuse:CODE[:SUB]\n"
    "  --name NAME          server name sent in the reply (at most 16 bytes)\n"
    "  --single-session     a second login of a user ends the first\n"
    "  --live RATE          a live market on ASX: RATE messages a second of\n"
    "                       random depth changes, quotes and trades (seeded)\n"
    "  --news SECONDS       with --live: an announcement of a live stock every\n"
    "                       SECONDS (default 10; 0: none), its document served\n"
    "                       over HTTP at the link the client asks for\n"
    "  --snapshot N         serve a generated ASX of N stocks (and N/25 indices,\n"
    "                       at most 256) as the catch-up snapshot (seeded)\n"
    "  --file PATH=FILE     serve FILE's bytes to HTTP GETs of PATH (repeatable)\n"
    "  --help               this text\n"
    "The port also takes the client's HTTP mode (a POST of /AMBIT/6) and serves\n"
    "the news feeds a new terminal registers under /rss/ (with --live the\n"
    "announcements and headlines feeds list the announcements).\n"
    "Prints \"listening on 127.0.0.1:PORT\" on standard output when ready; logs\n"
    "to standard error; stops on SIGINT or SIGTERM.\n";

// "PATH=FILE": the file's bytes served at PATH. 0, or -1 after a message.
int load_http_file(sim_server* sim, const char* arg) {
  const char* eq = strchr(arg, '=');
  if (!eq || eq == arg) {
    fprintf(stderr, "ambit-sim: --file wants PATH=FILE, not %s\n", arg);
    return -1;
  }
  FILE* f = fopen(eq + 1, "rb");
  if (!f) {
    log(LOG_OSERR, kSrc, "can't open %s", eq + 1);
    return -1;
  }
  sim_http_file file;
  file.path.assign(arg, size_t(eq - arg));
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) file.body.append(buf, n);
  fclose(f);
  return sim_http_add_file(sim, file);
}

int parse_user(const char* text, sim_user* u) {
  const std::string t = text;
  const size_t a = t.find(':');
  if (a == std::string::npos || a == 0) return -1;
  u->name = t.substr(0, a);
  const size_t b = t.find(':', a + 1);
  u->password = t.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
  if (b != std::string::npos) {
    char* end = nullptr;
    u->id = uint32_t(strtoul(t.c_str() + b + 1, &end, 10));
    if (end && *end == ':') u->exchange_bits = uint32_t(strtoul(end + 1, nullptr, 0));
  }
  return 0;
}

int load_users(sim_server* sim, const char* path) {
  FILE* f = fopen(path, "r");
  if (!f) {
    log(LOG_OSERR, kSrc, "can't open users file %s", path);
    return -1;
  }
  char line[kLineMax];
  int n = 0;
  int bad = 0;
  while (fgets(line, sizeof line, f)) {
    line[strcspn(line, "\r\n")] = 0;
    if (!line[0] || line[0] == '#') continue;
    sim_user u;
    if (parse_user(line, &u) < 0 || sim_add_user(sim, u) < 0) {
      log(LOG_ERROR, kSrc, "bad user line \"%s\"", line);
      bad++;
      continue;
    }
    n++;
  }
  fclose(f);
  log(LOG_INFO, kSrc, "%d users from %s", n, path);
  return bad ? -1 : 0;
}

ss_time today_at_now() {
  const time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  return sstime_pack(tm.tm_sec, tm.tm_min, tm.tm_hour, tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
}

}  // namespace

// Today's date at midnight on the local clock, as the live market dates its
// messages.
static ss_time today() {
  const time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  return sstime_pack(0, 0, 0, tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
}

int main(int argc, char** argv) {
  sim_options opts;
  sim_misbehaviour how;
  std::string scenario = "standard";
  long port = 0;
  sim_user users[64];
  int nusers = 0;
  const char* users_file = nullptr;
  std::vector<const char*> files;
  double live_rate = 0;  // 0: no live market
  double news_seconds = 10;
  long snapshot_stocks = 0;  // 0: no generated snapshot
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--help" || a == "-h") {
      fputs(kUsage, stdout);
      return 0;
    } else if (a == "--single-session") {
      opts.single_session = true;
    } else if (!has_value) {
      fprintf(stderr, "ambit-sim: %s needs a value or is unknown\n%s", a.c_str(), kUsage);
      return 2;
    } else if (a == "--port") {
      char* end = nullptr;
      port = strtol(argv[++i], &end, 10);
      if (!end || *end || port < 0 || port > 65535) {
        fprintf(stderr, "ambit-sim: bad port %s\n", argv[i]);
        return 2;
      }
    } else if (a == "--user") {
      if (nusers == int(sizeof users / sizeof users[0]) || parse_user(argv[++i], &users[nusers]) < 0) {
        fprintf(stderr, "ambit-sim: bad or too many --user %s\n", argv[i]);
        return 2;
      }
      nusers++;
    } else if (a == "--users") {
      users_file = argv[++i];
    } else if (a == "--seed") {
      opts.seed = strtoull(argv[++i], nullptr, 0);
    } else if (a == "--scenario") {
      scenario = argv[++i];
    } else if (a == "--misbehave") {
      if (sim_parse_misbehaviour(argv[++i], &how) < 0) {
        fprintf(stderr, "ambit-sim: unknown misbehaviour %s\n", argv[i]);
        return 2;
      }
    } else if (a == "--snapshot") {
      char* end = nullptr;
      snapshot_stocks = strtol(argv[++i], &end, 10);
      if (!end || *end || snapshot_stocks < 1 || snapshot_stocks > 65536) {
        fprintf(stderr, "ambit-sim: bad --snapshot %s\n", argv[i]);
        return 2;
      }
    } else if (a == "--file") {
      files.push_back(argv[++i]);
    } else if (a == "--name") {
      opts.name = argv[++i];
    } else if (a == "--live") {
      char* end = nullptr;
      live_rate = strtod(argv[++i], &end);
      if (!end || *end || !(live_rate > 0) || live_rate > kLiveRateMax) {
        fprintf(stderr, "ambit-sim: bad --live rate %s\n", argv[i]);
        return 2;
      }
    } else if (a == "--news") {
      char* end = nullptr;
      news_seconds = strtod(argv[++i], &end);
      if (!end || *end || !(news_seconds >= 0) || news_seconds > 86400) {
        fprintf(stderr, "ambit-sim: bad --news interval %s\n", argv[i]);
        return 2;
      }
    } else {
      fprintf(stderr, "ambit-sim: unknown option %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }

  // Every thread made from here on inherits the blocked signals.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  sim_server* sim = sim_create(opts);
  int rc = 0;
  for (int i = 0; i < nusers && rc == 0; i++) rc = sim_add_user(sim, users[i]);
  if (rc == 0 && users_file) rc = load_users(sim, users_file);
  if (rc == 0) rc = sim_build_scenario(sim, scenario.c_str(), today_at_now(), kDemoState);
  if (rc == 0 && snapshot_stocks > 0) {
    // The summary writer reads a model of its own: no client runs here.
    const sim_snapshot snap =
        sim_snapshot_generate(0, today_at_now() & ~kSstimeSecondsMask, kDemoState, opts.seed, int32_t(snapshot_stocks),
                              int32_t(std::min<long>(snapshot_stocks / 25, 256)), sim_scenario_has_brokers(0));
    std::vector<uint8_t> bytes;
    rc = sim_snapshot_write(snap, &bytes);
    if (rc == 0) rc = sim_set_snapshot(sim, 0, bytes);
  }
  for (const char* f : files)
    if (rc == 0) rc = load_http_file(sim, f);
  sim_set_misbehaviour(sim, how);
  sim_live* live = nullptr;
  if (rc == 0 && live_rate > 0) {
    sim_live_options lo;
    lo.index = kLiveExchange;
    lo.brokers = sim_scenario_has_brokers(kLiveExchange);
    lo.rate = live_rate;
    lo.seed = opts.seed;
    lo.news_seconds = news_seconds;
    live = sim_live_start(sim, lo);
    if (!live) rc = -1;
  }
  const int bound = rc == 0 ? sim_start(sim, uint16_t(port)) : -1;
  if (bound < 0) {
    sim_live_stop(live);
    sim_destroy(sim);
    return 1;
  }
  // The news feeds a terminal registers for a new user, at this address.
  if (sim_feeds_start(sim, today()) < 0) log(LOG_ERROR, kSrc, "can't serve the news feeds");
  printf("listening on 127.0.0.1:%d\n", bound);
  fflush(stdout);

  int sig = 0;
  sigwait(&stop_signals, &sig);
  log(LOG_INFO, kSrc, "signal %d, stopping", sig);
  sim_live_stop(live);
  sim_destroy(sim);
  return 0;
}
