// The whole engine's start-up and stop, and the reset of whole exchanges. The
// model's life-cycle calls (ssmodel_init, ssmodel_fini, ssmodel_reset_*) keep
// their names, but they start and reset modules of every layer (deferred
// freeing, the reference tables, the codec, the dispatcher, the status line,
// the cache, the fast reset), so they live here in the client, the top layer,
// and the record store below knows none of them.
#include <cstring>

#include "chunk.h"
#include "ssclient.h"
#include "decnotice.h"
#include "decsum.h"
#include "encblk.h"
#include "fast_reset.h"
#include "gics.h"
#include "kludge.h"
#include "lazyfree.h"
#include "log.h"
#include "ssalert.h"
#include "ssbroker.h"
#include "sscache.h"
#include "sscurrency.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssmsg.h"
#include "ssnotice.h"
#include "ssnotify.h"
#include "sspriority.h"
#include "ssproto.h"
#include "sstrack.h"
#include "ssvcmp.h"

// The reset's lines keep the model's source name: they report on the model.
static const char kModelSrc[] = "src/ssmodel";

namespace {

// Every module the model starts, in start-up order. The shutdown order
// (kStopOrder) is not the reverse: it follows which module still needs which
// while the others stop.
struct module_step {
  const char* name;
  int (*init)(void);
  void (*fini)(void);
  const char* failure;  // logged at ERROR when init fails; null: the module logs
};

const module_step kModules[] = {
    {"lazyfree", lazyfree_init, lazyfree_fini, nullptr},
    {"kludge", kludge_init, kludge_fini, nullptr},
    {"chunk", chunk_init, chunk_fini, nullptr},
    {"gics", gics_init, gics_fini, nullptr},
    {"sstime", sstime_init, sstime_fini, nullptr},
    {"ssmsg", ssmsg_init, ssmsg_fini, "can't init msg"},
    {"sspriority", sspriority_init, sspriority_fini, "can't init priority"},
    {"ssevent", ssevent_init, ssevent_fini, "can't init event"},
    {"ssalert", ssalert_init, ssalert_fini, "can't init alert"},
    {"ssproto", ssproto_init, ssproto_fini, "can't init proto"},
    {"ssnotice", ssnotice_init, ssnotice_fini, nullptr},
    {"ssnotify", ssnotify_init, ssnotify_fini, nullptr},
    {"sstrack", sstrack_init, sstrack_fini, nullptr},
    {"ssvcmp", ssvcmp_init, ssvcmp_fini, nullptr},
    {"ssbroker", ssbroker_init, ssbroker_fini, nullptr},
    {"sscache", sscache_init, sscache_fini, nullptr},
    {"sscurrency", sscurrency_init, sscurrency_fini, nullptr},
    {"codec", codec_init, codec_fini, nullptr},
    {"decsum", decsum_init, decsum_fini, nullptr},
    {"fast_reset", fast_reset_init, fast_reset_fini, nullptr},
};
constexpr int kModuleCount = sizeof kModules / sizeof kModules[0];
static_assert(kModuleCount <= 32, "one bit per module in E.started");

// What the model may ask of the client: the requests the market events wish
// and the wait of a full change entry. Installed at every start, before any
// module runs.
const ssevent_requests kEventRequests = {ssclient_private_depth, ssclient_private_partial_depth,
                                         ssclient_private_events, ssclient_private_trades};

// What the summary readers ask of the client: whether to stop, its options.
const decsum_hooks kSummaryHooks = {ssclient_abort_requested, ssclient_options};

// A notice's stale data: the cache files of each kind it names, for that
// exchange and code, whatever their dates.
void forget_stale(uint32_t exchange, const char* code, uint32_t what) {
  static const struct {
    uint32_t bit;
    int kind;
  } kStale[] = {
      {kNoticeForgetPrevdayTrades, kCachePrevdayTrades}, {kNoticeForgetPrevdayStock, kCachePrevdayStock},
      {kNoticeForgetPrevdayIndex, kCachePrevdayIndex},   {kNoticeForgetStockHistory, kCacheStockHistory},
      {kNoticeForgetIndexHistory, kCacheIndexHistory},   {kNoticeForgetNewsHistory, kCacheNewsHistory},
  };
  if (!code || !*code) return;
  for (const auto& k : kStale)
    if (what & k.bit) sscache_forget(k.kind, code, static_cast<int>(exchange));
}

// What the notices ask of the client: the io thread's own history requests
// (never the user-interface ring: notices are applied on the io thread) and
// forgetting stale cached data.
const ssnotice_hooks kNoticeHooks = {ssclient_private_stock_history, ssclient_private_history, forget_stale};

// What the volume comparison asks of the client: its set requests (kind 81,
// on the io thread's own list) and whether it is logged in.
const ssvcmp_hooks kVcmpHooks = {ssclient_private_vcmp, ssclient_logged_in};

// Deferred freeing ends first (see ssmodel_fini); the exchanges are freed
// next; then the rest stop in this order.
const char* const kStopOrder[] = {
    "gics",    "decsum",   "codec",    "ssbroker",   "ssvcmp", "sstrack", "ssnotify", "ssproto", "ssalert",   "sspriority",
    "ssevent", "ssnotice", "sscache",  "sscurrency", "ssmsg",  "sstime",  "chunk",    "kludge",  "fast_reset"};
static_assert(sizeof kStopOrder / sizeof kStopOrder[0] == kModuleCount - 1, "every module but lazyfree stops here");

struct {
  uint32_t started;  // bit i: module i of kModules is running
} E;

int module_index(const char* name) {
  for (int i = 0; i < kModuleCount; i++)
    if (strcmp(kModules[i].name, name) == 0) return i;
  return -1;
}

bool started(const char* name) {
  int i = module_index(name);
  return i >= 0 && (E.started & (1u << i));
}

void stop_module(const char* name) {
  int i = module_index(name);
  if (i < 0 || !(E.started & (1u << i))) return;
  E.started &= ~(1u << i);
  kModules[i].fini();
}

// Stops whatever is running, in the shutdown order. Also the unwinding of a
// start-up that failed part way.
void stop_all() {
  stop_module("lazyfree");  // runs every pending deferred free while the pools still exist
  if (started("ssnotify")) ssnotify_disable();
  ssmodel_free_exchanges();
  for (const char* name : kStopOrder) stop_module(name);
  ssmodel_store_fini();
}

}  // namespace

int ssmodel_init(uint32_t options) {
  stop_all();
  ssevent_set_requests(&kEventRequests);
  ssevent_set_reset_hook(ssmodel_reset_exchange_keep_date);
  ssvcmp_set_hooks(&kVcmpHooks);
  ssnotify_set_wait_hooks(ssclient_io_sleep, ssclient_abort_requested);
  decsum_set_hooks(&kSummaryHooks);
  decnotice_set_work_hook(ssclient_yield_point);
  ssnotice_set_hooks(&kNoticeHooks);
  if (ssmodel_store_init(options) < 0) {
    stop_all();
    return -1;
  }
  for (int i = 0; i < kModuleCount; i++) {
    const module_step& m = kModules[i];
    if (ssmodel_test_fails(m.name) || m.init() < 0) {
      if (m.failure) log(LOG_ERROR, kModelSrc, "%s", m.failure);
      stop_all();
      return -1;
    }
    E.started |= 1u << i;
  }
  if (ssmodel_options() & kOptFastReset) fast_reset_enable(1);
  return 0;
}

void ssmodel_fini(void) { stop_all(); }

void ssmodel_reset_exchange(ss_exchange* ex, ss_time date, int32_t mode) {
  if (!ex) return;
  ss_time cutoff = ssmodel_reset_date(ex, date);
  sstrack_reset_exchange(ex);
  ssvcmp_reset_exchange(ex);
  fast_reset_queue(ex);  // takes the depth and events first when it is on
  sspriority_clear_exchange(ex);
  ssmodel_reset_records(ex, mode, cutoff);
  log(LOG_INFO, kModelSrc, "reset %s cache", ex->name);
  sscache_trim_hourly();
}

void ssmodel_reset_exchange_keep_date(ss_exchange* ex, ss_time date) { ssmodel_reset_exchange(ex, date, 0); }

void ssmodel_reset_all(int32_t mode) {
  for (int32_t i = 0; i < kExchanges; i++) {
    ss_exchange* ex = ssmodel_exchange(i);
    if (ex) ssmodel_reset_exchange(ex, ex->date, mode);
  }
  ssnotify_record_global(kGlobalReset);
}

int ssmodel_fast_reset_free(void) { return fast_reset_free(); }
