// ambit-feed: the terminal's main job without its windows. Signs a user on
// to a market-data server, keeps the live model of the four exchanges, asks
// for a few stocks' events and prints every change of them that change
// notification brings to this thread, with the status line as it changes.
//
// The threads are the terminal's: the io thread runs ssclient_run and applies
// the server's messages under the core lock; the main thread plays the user
// interface, waking every 10 ms to take the core lock, deliver changes and
// read the model, and letting the lock go before it sleeps. SIGINT, SIGTERM
// and SIGHUP are blocked in every thread and polled by that loop, so a stop is
// ordinary code on the main thread rather than a signal handler. The client
// gets the terminal's settings, not the library's defaults: a 20 ms yield
// pause after 100000 units of work, and the reconnect time-out (300 s).
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "dalloc.h"
#include "lazyfree.h"
#include "log.h"
#include "plat.h"
#include "ssclient.h"
#include "sserr.h"
#include "ssevent.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssmsg.h"
#include "ssnotify.h"
#include "ssproto.h"
#include "sstime.h"

static const char kSrc[] = "tools/feed";

namespace {

// How the terminal configures the engine and its client.
constexpr uint32_t kModelOptions = kOptNoTradeBreaks | kOptFastReset;  // 12
constexpr uint32_t kExchangeFlags = kExRecord | kExAlerts | kExClientTracks;  // 0x112
constexpr uint32_t kLazyFreeDelaySeconds = 10;
// The io thread lets the user interface have the core lock after this much
// work, and pauses this long then and after a pass that read nothing.
constexpr uint32_t kYieldThreshold = 100000;
constexpr uint32_t kYieldPauseMs = 20;
// Seconds of failed reconnects before the client gives up (0: never); the
// terminal's configured default.
constexpr long kDefaultReconnectTimeout = 300;

constexpr int32_t kTickMs = 10;             // the user interface's timer
constexpr int32_t kSignOffWaitMs = 3000;    // for the server's goodbye
constexpr int32_t kStopWaitMs = 5000;       // for the io thread after a stop
constexpr int kDefaultWatchCount = 5;       // current ASX stocks watched without --watch
constexpr int kWatchMax = 64;
constexpr long kSecondsMax = 86400 * 365;
constexpr int kExitClean = 0;
constexpr int kExitSignOnFailed = 1;
constexpr int kExitUsage = 2;

constexpr uint32_t kWatchMask = kChangeDepth | kChangeQuote | kChangeTrade | kChangeTradeCancel;
constexpr uint32_t kGlobalMask = kGlobalOnline | kGlobalReset | kGlobalServerError | kGlobalSignedOff | kGlobalGaveUp;

const char kUsage[] =
    "usage: ambit-feed -P PORT -u USER -p PASSWORD [options]\n"
    "  -H, --host HOST    market-data server (default 127.0.0.1)\n"
    "  -P PORT            its port\n"
    "  -u USER            user name\n"
    "  -p PASSWORD        password\n"
    "  -s SITE            site name sent at sign on\n"
    "  --watch CODE,...   stocks to watch, each CODE or EXCHANGE:CODE (default:\n"
    "                     the first 5 current stocks of ASX once online)\n"
    "  --seconds N        sign off after N seconds (default 0: at SIGINT, SIGTERM or SIGHUP)\n"
    "  --reconnect-timeout N\n"
    "                     give up reconnecting after N seconds of failures\n"
    "                     (default 300; 0: never)\n"
    "  --log FILE         log to FILE instead of standard error\n"
    "  --noupdate         sign on without program updates\n"
    "  -h, --help         this text\n"
    "The client runs with the terminal's settings: the io thread lets the\n"
    "model's readers in after 100000 units of work and pauses 20 ms then and\n"
    "after a pass that read nothing (waiting for data up to that long);\n"
    "reconnects give up after the time-out.\n"
    "Prints the status line and one line per change of a watched stock on\n"
    "standard output, and at the end the messages taken, the processor time\n"
    "a message and the time from connecting to online. Exit status 0 after a clean run, 1 when sign-on failed\n"
    "or the link was lost for good, 2 for bad arguments.\n";

struct options {
  std::string host = "127.0.0.1";
  long port = 0;
  std::string user, password, site;
  std::vector<std::string> watch;  // as given
  long seconds = 0;
  long reconnect_timeout = kDefaultReconnectTimeout;
  std::string log_file;
  bool noupdate = false;
};

struct watch_entry {
  int32_t exchange;
  std::string code;
  ss_stock* stock;
};

// What the main thread remembers between ticks. Callbacks run on the main
// thread inside ssclient_deliver, so nothing here needs a lock of its own.
struct feed_state {
  std::vector<watch_entry> watched;
  bool default_watch = false;    // pick current ASX stocks once online
  bool want_requests = false;    // online again: ask for the watched stocks' data
  bool ever_online = false;
  bool signing_off = false;      // this program asked to sign off
  uint32_t global = 0;           // global change bits since the last tick
  char status[kSsmsgTextMax + 1] = "";
  uint64_t changes = 0;
  uint64_t trades = 0;
  int64_t started_ms = 0;        // the io thread was started (it connects at once)
  int64_t online_ms = 0;         // first time online (to the tick)
  std::atomic<int> io_done{0};   // set by the io thread as it ends
  int io_rc = 0;                 // written before io_done
};

feed_state F;

// ---------------------------------------------------------------------------
// Text

// Prices are hundredths of a cent; shown in cents with up to two decimals.
const char* price_text(char* buf, size_t n, uint32_t price) {
  if (price == 0 || price == 0xFFFFFFFFu) {
    snprintf(buf, n, "-");
  } else if (price % 100 == 0) {
    snprintf(buf, n, "%u", price / 100);
  } else if (price % 10 == 0) {
    snprintf(buf, n, "%u.%u", price / 100, price % 100 / 10);
  } else {
    snprintf(buf, n, "%u.%02u", price / 100, price % 100);
  }
  return buf;
}

// hh:mm:ss of a packed time, "--:--:--" without one.
const char* clock_text(char* buf, size_t n, ss_time t) {
  sstime_parts p;
  if (sstime_unpack(&p, t) < 0)
    snprintf(buf, n, "--:--:--");
  else
    snprintf(buf, n, "%02d:%02d:%02d", p.hour, p.min, p.sec);
  return buf;
}

// What a change mask says, as "depth+quote" and the like.
std::string mask_text(uint32_t mask) {
  static const struct {
    uint32_t bit;
    const char* name;
  } kNames[] = {
      {kChangeDepth, "depth"}, {kChangeQuote, "quote"}, {kChangeTrade, "trade"}, {kChangeTradeCancel, "cancel"}};
  std::string out;
  for (const auto& n : kNames) {
    if (!(mask & n.bit)) continue;
    if (!out.empty()) out += '+';
    out += n.name;
  }
  return out;
}

// One line: best bid and offer with the volume at each, last price, volume.
void print_stock(const ss_stock* s, ss_time when, const std::string& why) {
  char t[16], bid[16], offer[16], last[16];
  const ss_depth_level* b = s->levels[0];
  const ss_depth_level* o = s->levels[1];
  printf("%s %s %-7s bid %s x %llu  offer %s x %llu  last %s  vol %llu%s%s%s\n", clock_text(t, sizeof t, when),
         s->exchange->name, s->code, price_text(bid, sizeof bid, s->bid),
         static_cast<unsigned long long>(b ? b->volume : 0), price_text(offer, sizeof offer, s->offer),
         static_cast<unsigned long long>(o ? o->volume : 0), price_text(last, sizeof last, s->last),
         static_cast<unsigned long long>(s->volume), why.empty() ? "" : "  [", why.c_str(), why.empty() ? "" : "]");
}

// The server's and the io layer's error codes in a few words.
const char* error_text(int32_t code) {
  static const struct {
    int32_t code;
    const char* text;
  } kTexts[] = {
      {kSserrLinkLost, "link lost"},
      {kSserrUnknownUser, "unknown user"},
      {kSserrBadPassword, "bad password"},
      {kSserrTryAgain, "try again later"},
      {kSserrResubscribe, "resubscribe"},
      {kSserrLoginDisabled, "login disabled"},
      {kSserrApiDisabled, "access disabled"},
      {kSserrUpdateRequired, "update required"},
      {kSserrRequestFailed, "request refused"},
      {kSserrRequestQuiet, "request refused"},
      {kSserrNoServer, "no server"},
      {kSserrNoProxy, "no proxy"},
      {kSserrProxyAuth, "proxy authentication failed"},
  };
  for (const auto& t : kTexts)
    if (t.code == code) return t.text;
  return "unknown error";
}

// ---------------------------------------------------------------------------
// Change callbacks (main thread, core and notify locks held)

void on_stock_change(const ss_change* c, void*, uint64_t, uint32_t) {
  if (!c->instrument || c->instrument->kind != kKindStock || !(c->mask & kWatchMask)) return;
  const ss_stock* s = static_cast<const ss_stock*>(c->instrument);
  F.changes++;
  const ss_time when = s->last_time ? s->last_time : ssmodel_exchange_now(s->exchange);
  print_stock(s, when, mask_text(c->mask));
  for (uint32_t i = 0; i < c->count; i++) {
    const ss_event* ev = c->events[i];
    char t[16], price[16];
    if (ev->kind == kEvTrade) {
      const ss_trade* tr = static_cast<const ss_trade*>(ev->payload);
      F.trades++;
      printf("%s %s %-7s   trade %llu @ %s\n", clock_text(t, sizeof t, tr->time), s->exchange->name, s->code,
             static_cast<unsigned long long>(tr->volume), price_text(price, sizeof price, tr->price));
    } else if (ev->kind == kEvTradeCancel) {
      const ss_ev_trade_cancel* tc = static_cast<const ss_ev_trade_cancel*>(ev->payload);
      printf("%s %s %-7s   trade cancelled\n", clock_text(t, sizeof t, tc->time), s->exchange->name, s->code);
    }
  }
}

// Global changes only: the wild registration's mask shares bits with no
// instrument change bit, but an instrument change is skipped all the same.
void on_global_change(const ss_change* c, void*, uint64_t, uint32_t) {
  if (c->instrument) return;
  F.global |= c->mask;
}

// ---------------------------------------------------------------------------
// Watching (main thread, core lock held)

// The stocks to watch: the --watch list (stocks not in the model yet are
// added, as a typed code would be), or the first current stocks of ASX.
// False while there are none yet.
bool resolve_watch() {
  if (!F.default_watch) {
    for (watch_entry& w : F.watched) {
      if (w.stock) continue;
      ss_exchange* ex = ssmodel_exchange(w.exchange);
      w.stock = ssmodel_find_stock_or_alias(ex, w.code.c_str());
      if (!w.stock) w.stock = ssmodel_get_stock(ex, w.code.c_str());
      if (!w.stock) log(LOG_ERROR, kSrc, "can't watch %s", w.code.c_str());
    }
    return true;
  }
  if (!F.watched.empty()) return true;
  ss_exchange* asx = ssmodel_exchange(kExchangeAsx);
  for (ss_stock* s = asx ? ssmodel_load(asx->current.head) : nullptr;
       s && static_cast<int>(F.watched.size()) < kDefaultWatchCount; s = ssmodel_load(s->current.next))
    F.watched.push_back({kExchangeAsx, s->code, s});
  return !F.watched.empty();
}

// Registers the callbacks and asks for each stock's events, depth and
// recent trades. The senders skip what is already asked for on this link.
void request_watch() {
  if (!resolve_watch()) return;  // no current stock yet: try at the next tick
  F.want_requests = false;
  std::string names;
  for (const watch_entry& w : F.watched) {
    if (!w.stock) continue;
    if (ssnotify_add(w.stock, kWatchMask, on_stock_change, &F, 0, 0) < 0) continue;
    if (ssclient_request_events(w.stock) < 0 || ssclient_request_stock_events(w.stock) < 0)
      log(LOG_ERROR, kSrc, "can't request %s", w.stock->code);
    names += names.empty() ? "" : " ";
    names += w.stock->code;
  }
  printf("watching %s\n", names.empty() ? "nothing" : names.c_str());
  for (const watch_entry& w : F.watched)
    if (w.stock) print_stock(w.stock, ssmodel_exchange_now(w.stock->exchange), "");
}

void unwatch() {
  for (const watch_entry& w : F.watched)
    if (w.stock) ssnotify_remove(w.stock, &F);
  ssnotify_remove_wild(&F);
}

// One tick of the user interface: deliver, then act on what came.
void tick() {
  ssclient_deliver();
  char status[kSsmsgTextMax + 1];
  ssmsg_get(status);
  if (strcmp(status, F.status) != 0) {
    memcpy(F.status, status, sizeof status);
    printf("status: %s\n", status);
  }
  const uint32_t g = F.global;
  F.global = 0;
  if (g & kGlobalOnline) {
    if (!F.online_ms) F.online_ms = plat_ms();
    F.ever_online = true;
    F.want_requests = true;
  }
  if (g & kGlobalServerError) {
    const int32_t code = sserr_last_code();
    const uint32_t sub = sserr_sub_code();
    printf("server error %d: %s", code, error_text(code));
    if (sub) printf(" (sub-code %u)", sub);
    printf("\n");
  }
  if ((g & kGlobalReset) && F.ever_online) printf("model reset\n");  // start-up resets are no news
  if (g & kGlobalSignedOff) {
    // The server confirms a sign-off this program asked for the same way.
    if (ssclient_dropped())
      printf("dropped by the server\n");
    else
      printf(F.signing_off ? "signed off\n" : "signed off by the server\n");
  }
  if (g & kGlobalGaveUp) printf("the client gave up\n");
  if (F.want_requests && ssclient_is_online()) request_watch();
}

// The core lock for the length of a tick, as the terminal's frame loop
// holds it while it is awake.
class core_lock {
 public:
  core_lock() { ssclient_block(); }
  ~core_lock() { ssclient_unblock(); }
  core_lock(const core_lock&) = delete;
  core_lock& operator=(const core_lock&) = delete;
};

// Ticks until the io thread ends or `ms` pass; true when it ended.
bool tick_until_io_done(int32_t ms) {
  const int64_t until = plat_ms() + ms;
  for (;;) {
    {
      core_lock lock;
      tick();
    }
    if (F.io_done) return true;
    if (plat_ms() >= until) return false;
    plat_sleep_ms(kTickMs);
  }
}

void io_thread(void*) {
  F.io_rc = ssclient_run();
  F.io_done.store(1);
}

// ---------------------------------------------------------------------------
// Arguments

int parse_watch(const char* list, options* o) {
  std::string all = list;
  size_t at = 0;
  while (at <= all.size()) {
    size_t comma = all.find(',', at);
    if (comma == std::string::npos) comma = all.size();
    const std::string item = all.substr(at, comma - at);
    at = comma + 1;
    if (item.empty()) continue;
    if (static_cast<int>(o->watch.size()) == kWatchMax) return -1;
    o->watch.push_back(item);
  }
  return o->watch.empty() ? -1 : 0;
}

int parse_args(int argc, char** argv, options* o) {
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      fputs(kUsage, stdout);
      exit(kExitClean);
    }
    if (a == "--noupdate") {
      o->noupdate = true;
      continue;
    }
    if (i + 1 >= argc) {
      fprintf(stderr, "ambit-feed: %s needs a value or is unknown\n", a.c_str());
      return -1;
    }
    const char* v = argv[++i];
    char* end = nullptr;
    if (a == "--host" || a == "-H") {
      o->host = v;
    } else if (a == "-P") {
      o->port = strtol(v, &end, 10);
      if (!*v || *end || o->port < 1 || o->port > 65535) {
        fprintf(stderr, "ambit-feed: bad port %s\n", v);
        return -1;
      }
    } else if (a == "-u") {
      o->user = v;
    } else if (a == "-p") {
      o->password = v;
    } else if (a == "-s") {
      o->site = v;
    } else if (a == "--watch") {
      if (parse_watch(v, o) < 0) {
        fprintf(stderr, "ambit-feed: bad --watch list %s (at most %d codes)\n", v, kWatchMax);
        return -1;
      }
    } else if (a == "--seconds") {
      o->seconds = strtol(v, &end, 10);
      if (!*v || *end || o->seconds < 0 || o->seconds > kSecondsMax) {
        fprintf(stderr, "ambit-feed: bad --seconds %s\n", v);
        return -1;
      }
    } else if (a == "--reconnect-timeout") {
      o->reconnect_timeout = strtol(v, &end, 10);
      if (!*v || *end || o->reconnect_timeout < 0 || o->reconnect_timeout > kSecondsMax) {
        fprintf(stderr, "ambit-feed: bad --reconnect-timeout %s\n", v);
        return -1;
      }
    } else if (a == "--log") {
      o->log_file = v;
    } else {
      fprintf(stderr, "ambit-feed: unknown option %s\n", a.c_str());
      return -1;
    }
  }
  if (o->port == 0 || o->user.empty() || o->password.empty()) {
    fprintf(stderr, "ambit-feed: -P, -u and -p are needed\n");
    return -1;
  }
  return 0;
}

// The watch list as exchange and code; -1 for an unknown exchange.
int make_watch_list(const options& o) {
  F.default_watch = o.watch.empty();
  for (const std::string& item : o.watch) {
    watch_entry w{kExchangeAsx, item, nullptr};
    const size_t colon = item.find(':');
    if (colon != std::string::npos) {
      w.exchange = ssmodel_exchange_by_name(item.substr(0, colon).c_str());
      w.code = item.substr(colon + 1);
      if (w.exchange < 0 || w.code.empty()) {
        fprintf(stderr, "ambit-feed: bad stock %s\n", item.c_str());
        return -1;
      }
    }
    F.watched.push_back(w);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Start and stop

int start_runtime(const options& o) {
  if (plat_init() < 0 || log_init() < 0) return -1;
  if (!o.log_file.empty()) {
    if (log_set_filename(o.log_file.c_str()) < 0 || log_open("w") < 0) return -1;
    log_set_autoflush(1);
    log_set_stderr(0);
  }
  return dalloc_init();
}

void stop_runtime() {
  dalloc_fini();
  log_fini();
  plat_fini();
}

int start_client(const options& o) {
  ssio_set_default_host("");  // the server is given: no lookup of the built-in list
  if (ssclient_init(o.noupdate ? kClientOptNoUpdate : 0, kModelOptions, kExchangeFlags) < 0) return -1;
  ssclient_enable_locking();
  ssio_set_servers(0);
  ssio_set_server(o.host.c_str(), static_cast<int32_t>(o.port));
  if (!o.site.empty()) ssclient_set_login_site(o.site.c_str());
  ssclient_set_login(o.user.c_str(), o.password.c_str());
  ssclient_set_yield(kYieldThreshold, kYieldPauseMs);
  ssclient_set_reconnect_timeout(static_cast<int32_t>(o.reconnect_timeout));
  log(LOG_INFO, kSrc, "yield after %u with %u ms pauses, reconnect time-out %ds", kYieldThreshold, kYieldPauseMs,
      ssclient_reconnect_timeout());
  lazyfree_set_enabled(1);
  lazyfree_set_delay(kLazyFreeDelaySeconds);
  core_lock lock;
  return ssnotify_add_wild(kGlobalMask, on_global_change, &F, 0, 0);
}

// The run's costs: messages the dispatcher took, the process's processor
// time for them, and how long the sign-on took from the io thread's start
// (it connects at once) to online, to the user interface's tick.
void print_costs() {
  ssproto_counter counters[kProtoCounterPairs];
  {
    core_lock lock;
    ssproto_get_counters(counters);
  }
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  const double cpu_ms = (double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
                         double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3);
  const uint64_t messages = counters[0].second;
  printf("costs: %llu messages, %.0f ms of processor, %.0f ns a message", static_cast<unsigned long long>(messages),
         cpu_ms, messages ? cpu_ms * 1e6 / double(messages) : 0.0);
  if (F.started_ms && F.online_ms)
    printf(", online %lld ms after connecting", static_cast<long long>(F.online_ms - F.started_ms));
  printf("\n");
}

// Signs off, or stops the io thread when it does not end by itself, and
// joins it. True when it ended in time.
bool stop_io(plat_slot thread) {
  if (!F.io_done && ssclient_is_online()) {
    {
      core_lock lock;
      F.signing_off = true;
      ssclient_sign_off(0);
    }
    tick_until_io_done(kSignOffWaitMs);
  }
  if (!F.io_done) {
    ssclient_stop();
    if (!tick_until_io_done(kStopWaitMs)) {
      log(LOG_ERROR, kSrc, "the io thread did not stop");
      return false;
    }
  }
  plat_thread_join(thread);
  plat_thread_cancel(thread);  // the thread has ended: this frees its slot
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  options o;
  if (parse_args(argc, argv, &o) < 0) {
    fputs(kUsage, stderr);
    return kExitUsage;
  }
  if (make_watch_list(o) < 0) return kExitUsage;
  setvbuf(stdout, nullptr, _IOLBF, 0);
  signal(SIGPIPE, SIG_IGN);

  // Blocked before the first thread, so every thread inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);  // the terminal that started it went away
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  if (start_runtime(o) < 0) {
    fprintf(stderr, "ambit-feed: can't start the runtime\n");
    return kExitSignOnFailed;
  }
  if (start_client(o) < 0) {
    fprintf(stderr, "ambit-feed: can't start the client\n");
    ssclient_fini();
    stop_runtime();
    return kExitSignOnFailed;
  }
  F.started_ms = plat_ms();
  const plat_slot thread = plat_thread_create(io_thread, nullptr);
  if (thread < 0) {
    ssclient_fini();
    stop_runtime();
    return kExitSignOnFailed;
  }

  const int64_t start = plat_ms();
  const int64_t until = o.seconds > 0 ? start + o.seconds * 1000 : INT64_MAX;
  const timespec no_wait = {0, 0};
  int sig = 0;
  while (!F.io_done && plat_ms() < until) {
    {
      core_lock lock;
      tick();
    }
    sig = sigtimedwait(&stop_signals, nullptr, &no_wait);
    if (sig > 0) {
      printf("signal %d, signing off\n", sig);
      break;
    }
    plat_sleep_ms(kTickMs);
  }
  const bool ended_by_itself = F.io_done.load();
  const bool joined = stop_io(thread);
  {
    core_lock lock;
    tick();  // what the last messages recorded
    unwatch();
  }
  printf("%s after %.1f s: %llu changes, %llu trades\n", F.ever_online ? "done" : "never online",
         static_cast<double>(plat_ms() - start) / 1000.0, static_cast<unsigned long long>(F.changes),
         static_cast<unsigned long long>(F.trades));
  print_costs();
  if (!joined) {
    // The io thread still runs and may hold the model: leave without
    // stopping the modules under it.
    log_flush();
    _exit(kExitSignOnFailed);
  }
  ssclient_fini();
  stop_runtime();
  const bool clean = F.ever_online && !(ended_by_itself && F.io_rc < 0);
  return clean ? kExitClean : kExitSignOnFailed;
}
