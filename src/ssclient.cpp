// The client: start and stop, login fields and settings, the core lock, the
// request senders, and the io thread that connects, signs on, keeps the link
// alive and reconnects. Requests cross threads through a lock-free ring of 256
// slots: the user-interface thread writes a slot, then publishes it by moving
// head (release); the io thread reads head (acquire), encodes up to it and
// hands the slots back by moving tail (release). One slot stays empty, so
// head == tail is empty and head + 1 == tail full.
#include "ssclient.h"
#include "ssnotice.h"
#include "ssclient_int.h"

#include <atomic>
#include <cassert>
#include <cstring>

#include <algorithm>
#include <string>
#include <vector>

#include "bigdata.h"
#include "crypt.h"
#include "dalloc.h"
#include "encblk.h"
#include "encode.h"
#include "growbuf.h"
#include "kludge.h"
#include "lazyfree.h"
#include "localdata.h"
#include "log.h"
#include "md5.h"
#include "oob.h"
#include "plat.h"
#include "pool.h"
#include "ssauth.h"
#include "ssclient_encode.h"
#include "sserr.h"
#include "ssevent.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssmsg.h"
#include "ssnotify.h"
#include "ssproto.h"
#include "sstrack.h"
#include "ssuser.h"
#include "ssutil.h"
#include "ssupdate.h"
#include "subsys.h"

static const char kSrc[] = "src/ssclient";

client_state ssclient_state;
using namespace ssclient_detail;

void ssclient_detail::plain_sleep(int32_t ms) {
  ssclient_sleep_fn hook = C.sleep_hook.load();
  if (hook)
    hook(ms);
  else
    plat_sleep_ms(ms);
}

namespace {

constexpr int32_t kPoolPage = 16;
constexpr int32_t kSendBufferSize = 4096;
constexpr int32_t kSendBufferStep = 4096;
constexpr int32_t kSubsysRequestBytes = 4 + 4112;  // length word and data
constexpr int32_t kRequestBufferStep = 4096;
constexpr int32_t kQueueFullPauseMs = 500;
constexpr int32_t kDisconnectPollMs = 50;
constexpr uint32_t kYieldFloor = 50;            // work below this never yields
constexpr uint32_t kYieldFloorUnset = 1000;     // the same before ssclient_set_yield
constexpr uint32_t kQuickYields = 10;           // every tenth quick yield sleeps the pause
constexpr int32_t kUsageKeepSeconds = 86400;
constexpr int kPartialRequestsBeforeFull = 3;
constexpr int kDayWalkMax = 64;  // more than the month a day walk can cover
constexpr uint64_t kVcmpFlag = 0x10000;

// Flag masks of the senders' rules: a request is skipped while the
// instrument (or day record) has any bit of its mask.
constexpr uint32_t kEventsMask = kRqEvents | kRqEventsLoaded;
constexpr uint32_t kHistoryMask = kRqHistory | kRqHistoryLoaded;
constexpr uint32_t kDayTradesMask = kEventsMask | kRqTrades | kRqTradesLoaded;
constexpr uint32_t kAllTradesMask = kRqTrades | kRqTradesLoaded;
constexpr uint32_t kBidMask = kRqFullBid | kRqBidLoaded;
constexpr uint32_t kOfferMask = kRqFullOffer | kRqOfferLoaded;
constexpr uint32_t kQueuesMask = kBidMask | kOfferMask;
constexpr uint32_t kAnyTradesMask = kAllTradesMask | kRqRecent | kRqRecentLoaded;
constexpr uint32_t kQueuesAllTradesMask = kQueuesMask | kAllTradesMask;
constexpr uint32_t kPartialBidMask = kEventsMask | kBidMask;
constexpr uint32_t kPartialOfferMask = kEventsMask | kOfferMask;
static_assert(kEventsMask == 0x1010 && kHistoryMask == 0x2020 && kDayTradesMask == 0x1818);
static_assert(kAllTradesMask == 0x808 && kBidMask == 0x41 && kOfferMask == 0x102 && kQueuesMask == 0x143);
static_assert(kAnyTradesMask == 0xc0c && kQueuesAllTradesMask == 0x94b);
static_assert(kPartialBidMask == 0x1051 && kPartialOfferMask == 0x1112);

enum init_stage : int {
  STAGE_NONE = 0,
  STAGE_BUFFERS,
  STAGE_LOCALDATA,
  STAGE_BIGDATA,
  STAGE_OOB,
  STAGE_SUBSYS,
  STAGE_USER,
  STAGE_MODEL,
  STAGE_IO,
};

void copy_field(char* dst, const char* src) {
  strncpy(dst, src, kLoginField - 1);
  dst[kLoginField - 1] = 0;
}

int exchange_of(const instr* in) { return in && in->exchange ? static_cast<int>(in->exchange->index) : 0; }

// ---------------------------------------------------------------------------
// Sleeping and the core lock

void ui_take_lock() {
  plat_slot lock = C.core_lock.load();
  C.ui_waits.store(1);
  plat_mutex_lock(lock);
  C.ui_holds.store(1);
  C.ui_waits.store(0);
}

void ui_release_lock() {
  C.ui_holds.store(0);
  plat_mutex_unlock(C.core_lock.load());
}

// ---------------------------------------------------------------------------
// Usage log

void usage_prune(ss_time now) {
  while (C.usage_head && sstime_diff_seconds(now, C.usage_head->time) >= kUsageKeepSeconds) {
    usage_rec* old = C.usage_head;
    C.usage_head = old->next;
    if (!C.usage_head) C.usage_tail = nullptr;
    pool_free(&C.usage_pool, old);
    C.usage_count--;
  }
}

bool usage_find(uint32_t kind, const instr* in, uint32_t number) {
  for (const usage_rec* r = C.usage_head; r; r = r->next)
    if (r->kind == kind && r->exchange == static_cast<uint32_t>(exchange_of(in)) && r->number == number &&
        strcmp(r->code, in->code) == 0)
      return true;
  return false;
}

void usage_append(uint32_t kind, const instr* in, uint32_t number, ss_time now) {
  usage_rec* r = static_cast<usage_rec*>(pool_alloc(&C.usage_pool));
  if (!r) return;  // the pool logged it; the request has gone anyway
  r->kind = kind;
  r->exchange = static_cast<uint32_t>(exchange_of(in));
  const size_t n = strnlen(in->code, kCodeMax);
  memcpy(r->code, in->code, n);
  r->code[n] = 0;
  r->number = number;
  r->time = now;
  r->next = nullptr;
  if (C.usage_tail)
    C.usage_tail->next = r;
  else
    C.usage_head = r;
  C.usage_tail = r;
  C.usage_count++;
}

void usage_clear() {
  while (C.usage_head) {
    usage_rec* r = C.usage_head;
    C.usage_head = r->next;
    pool_free(&C.usage_pool, r);
  }
  C.usage_tail = nullptr;
  C.usage_count = 0;
}

// 110 and 111: sent once per item per day.
int log_usage(uint32_t kind, instr* in, uint32_t number, const char* fail_text) {
  ss_time now = sstime_now();
  usage_prune(now);
  if (usage_find(kind, in, number)) return 0;
  if (ssclient_enqueue(kind, in, number, 0, 0) < 0) {
    log(LOG_ERROR, kSrc, "%s", fail_text);
    return -1;
  }
  usage_append(kind, in, number, now);
  return 0;
}

// ---------------------------------------------------------------------------
// Sender helpers

// Queues `kind` for `in` unless its flags have any of `skip`; sets `set` once
// the request is queued.
int request_flagged(instr* in, uint32_t kind, uint32_t skip, uint32_t set) {
  if (in->flags & skip) return 0;
  if (ssclient_enqueue(kind, in, 0, 0, 0) < 0) {
    log(LOG_ERROR, kSrc, "failed to enqueue %s request", in->code);
    return -1;
  }
  in->flags |= set;
  return 0;
}

// The same through the io thread's private list.
int private_flagged(instr* in, uint32_t kind, uint32_t skip, uint32_t set, const char* fail_fmt) {
  if (in->flags & skip) return 0;
  if (ssclient_private_request(kind, in, 0, 0) < 0) {
    log(LOG_ERROR, kSrc, fail_fmt, in->code);
    return -1;
  }
  in->flags |= set;
  return 0;
}

ss_time month_back(const ss_exchange* ex) { return sstime_add_months(date_of(ex->date), -1); }

bool before_month_back(const instr* in, ss_time date) {
  return sstime_date_compare(date, month_back(in->exchange)) < 0;
}

bool today_or_later(const instr* in, ss_time date) {
  return sstime_date_compare(date, in->exchange->date) >= 0;
}

// A day request (62, 63, 70) for an earlier day: skipped while the day record
// has any of `skip`; marks the record with `set` once queued.
int request_day(instr* in, uint32_t kind, ss_time date, uint32_t skip, uint32_t set) {
  ss_day* day = ssevent_get_day(in, date);
  if (!day) {
    log(LOG_ERROR, kSrc, "can't add day to request %s", in->code);
    return -1;
  }
  if (day->flags & skip) return 0;
  if (ssclient_enqueue(kind, in, date, 0, 0) < 0) {
    log(LOG_ERROR, kSrc, "failed to enqueue %s request", in->code);
    return -1;
  }
  day->flags = (day->flags & ~kDayPrevdayWanted) | set;
  return 0;
}

// Trades over days (64, or 262 for previous-day trades): marks each day of
// the walk and queues one request from the first to the last day marked.
int request_days(ss_stock* stock, ss_time from, ss_time to, bool prevday) {
  ss_exchange* ex = stock->exchange;
  ss_time exdate = date_of(ex->date);
  ss_time first = month_back(ex);
  if (from && sstime_date_compare(from, first) > 0) first = date_of(from);
  ss_time day_before = sstime_sub_days(exdate, 1);
  ss_time last = (to && sstime_date_compare(to, day_before) <= 0) ? date_of(to) : day_before;
  if (sstime_date_compare(last, first) < 0) last = first;

  // The days marked, so that a request that cannot be queued leaves them clear.
  ss_day* marked[kDayWalkMax];
  int nmarked = 0;
  ss_time first_marked = 0, last_marked = 0;
  char datebuf[kSstimeDateLen];
  for (ss_time d = first; d && sstime_date_compare(d, last) <= 0; d = sstime_add_days(d, 1)) {
    if (kludge_is_20140210(static_cast<int32_t>(ex->index), d)) {
      log(LOG_WARN, kSrc, "forcing %s events instead of trades on %s", stock->code,
          sstime_format_date_into(datebuf, d));
      ssclient_request_events_for_day(stock, d);
      continue;
    }
    ss_day* day = ssevent_get_day(stock, d);
    if (!day) {
      log(LOG_ERROR, kSrc, "can't add day to request prevday trades");
      continue;
    }
    if (prevday)
      day->flags |= kDayPrevdayWanted;
    else
      day->flags &= ~kDayPrevdayWanted;
    if (day->flags & kDayTradesMask) continue;
    day->flags |= kRqTrades;
    if (nmarked < kDayWalkMax) marked[nmarked++] = day;
    if (!first_marked) first_marked = d;
    last_marked = d;
  }
  if (!first_marked) return 0;
  if (ssclient_enqueue(prevday ? kReqPrevdayTrades : kReqDaysTrades, stock, first_marked, last_marked, 0) < 0) {
    log(LOG_ERROR, kSrc, "failed to enqueue %s request", stock->code);
    for (int i = 0; i < nmarked; i++) marked[i]->flags &= ~kRqTrades;
    return -1;
  }
  return 0;
}

void reset_settings() {
  C.options.store(0);
  ssupdate_set_refused(0);
  memset(C.site, 0, sizeof C.site);
  memset(C.user, 0, sizeof C.user);
  memset(C.password, 0, sizeof C.password);
  for (std::atomic<int>* f : {&C.logged_in, &C.connecting, &C.online, &C.login_done, &C.restart_pending,
                              &C.may_reconnect, &C.stopping, &C.abort, &C.signed_off, &C.dropped, &C.encoding,
                              &C.io_holds, &C.ui_holds, &C.ui_waits, &C.threshold_set})
    f->store(0);
  C.session.store(0);
  C.last_data.store(0);
  C.idle_deadline.store(0);
  C.early_death_ms = C.last_data_ms = C.reply_deadline_ms = C.first_failure_ms = 0;
  C.last_second = -1;
  C.next_housekeeping = 0;
  C.last_wall = 0;
  C.heartbeat_out.store(0);
  C.followups_done = false;
  C.notices_pending = false;
  C.reset_flags.store(0);
  C.acked.store(0);
  C.ack_count.store(0);
  C.signon_bytes.store(0);
  C.reconnect_timeout.store(kDefaultReconnectTimeout);
  C.auto_reconnect.store(1);
  C.requests_enabled.store(1);
  C.housekeeping = kHousekeepingInterval;
  C.yield_threshold.store(kDefaultYieldThreshold);
  C.yield_pause.store(kDefaultYieldPause);
  C.yield_enabled.store(1);
  C.sleep_hook.store(nullptr);
  C.work = 0;
  C.quick_yields = 0;
  C.head.store(0);
  C.tail.store(0);
  C.priv_count = 0;
  C.http_ids.store(0);
}

}  // namespace

// ===========================================================================
// Start and stop

int ssclient_init(uint32_t options, uint32_t model_mode, uint32_t exchange_flags) {
  if (C.stage != STAGE_NONE) ssclient_fini();
  C.options.store(options);
  ssupdate_set_refused((options & kClientOptNoUpdate) != 0);
  if (growbuf_init(&C.send, kSendBufferSize, kSendBufferStep) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc send buffer");
    return -1;
  }
  C.stage = STAGE_BUFFERS;
  struct {
    pool* p;
    int32_t size;
    const char* text;
  } pools[] = {
      {&C.http_pool, sizeof(ss_http_request), "can't alloc http req pool"},
      {&C.subsys_pool, kSubsysRequestBytes, "can't alloc subsys req pool"},
      {&C.growbuf_pool, sizeof(growbuf), "can't alloc growbuf pool"},
      {&C.usage_pool, sizeof(usage_rec), "can't alloc logged pool"},
  };
  for (auto& p : pools) {
    if (pool_init(p.p, kPoolPage, p.size) < 0) {
      log(LOG_ERROR, kSrc, "%s", p.text);
      ssclient_fini();
      return -1;
    }
  }
  struct {
    int (*start)(void);
    const char* text;
    int stage;
  } parts[] = {
      {localdata_init, "can't init local data", STAGE_LOCALDATA},
      {bigdata_init, "can't init bigdata", STAGE_BIGDATA},
      {oob_init, "can't init oob", STAGE_OOB},
      {subsys_init, "can't init subsys", STAGE_SUBSYS},
      // The user lock guards the stored configuration that both threads
      // reach; it is made here because ssclient_fini stops the user table.
      {ssuser_init, "can't init user table", STAGE_USER},
  };
  for (auto& p : parts) {
    if (p.start() < 0) {
      log(LOG_ERROR, kSrc, "%s", p.text);
      ssclient_fini();
      return -1;
    }
    C.stage = p.stage;
  }
  if (ssmodel_init(model_mode) < 0) {
    log(LOG_ERROR, kSrc, "can't init model");
    ssclient_fini();
    return -1;
  }
  C.stage = STAGE_MODEL;
  if (ssio_init() < 0) {
    log(LOG_ERROR, kSrc, "can't init io");
    ssclient_fini();
    return -1;
  }
  C.stage = STAGE_IO;
  for (int32_t i = 0; i < kExchanges; i++) {
    if (!ssmodel_new_exchange(i, exchange_flags)) {
      log(LOG_ERROR, kSrc, "can't add %s", ssmodel_exchange_name(i));
      ssclient_fini();
      return -1;
    }
  }
  ssmodel_reset_all(0);
  ss_exchange* glb = ssmodel_exchange(kExchangeGlb);
  ss_time today = date_of(sstime_now());
  if (glb && sstime_date_compare(glb->date, today) != 0) ssmodel_set_date(glb, today);
  return 0;
}

void ssclient_fini(void) {
  plat_slot lock = C.core_lock.exchange(-1);
  if (lock >= 0) plat_mutex_destroy(lock);
  if (C.stage >= STAGE_IO) ssio_fini();
  if (C.stage >= STAGE_USER) ssuser_fini();
  if (C.stage >= STAGE_MODEL) ssmodel_fini();
  if (C.stage >= STAGE_SUBSYS) subsys_fini();
  ssupdate_fini();
  if (C.stage >= STAGE_OOB) oob_fini();
  if (C.stage >= STAGE_BIGDATA) bigdata_fini();
  if (C.stage >= STAGE_LOCALDATA) localdata_fini();
  if (C.stage >= STAGE_BUFFERS) {
    usage_clear();
    pool_destroy(&C.http_pool);
    pool_destroy(&C.subsys_pool);
    pool_destroy(&C.growbuf_pool);
    pool_destroy(&C.usage_pool);
    growbuf_free(&C.send);
  }
  C.stage = STAGE_NONE;
  reset_settings();
}

void ssclient_enable_locking(void) {
  if (C.core_lock.load() >= 0) return;
  plat_slot lock = plat_mutex_create();
  if (lock < 0) {
    log(LOG_ERROR, kSrc, "can't create core lock");
    return;
  }
  C.core_lock.store(lock);
  ssnotify_locking_forced();
}

void ssclient_stop(void) {
  C.stopping.store(1);
  C.abort.store(1);
}

void ssclient_request_abort(void) { C.abort.store(1); }
int ssclient_is_stopping(void) { return C.stopping.load(); }
int ssclient_abort_requested(void) { return C.abort.load(); }

int ssclient_wait_disconnect(int32_t seconds) {
  // Counted in polls rather than clock time, so a replaced sleep counts too.
  int64_t polls = static_cast<int64_t>(seconds) * 1000 / kDisconnectPollMs;
  for (int64_t i = 0;; i++) {
    if (!C.online.load()) return 0;
    if (C.abort.load() || C.stopping.load() || sserr_last_code() != 0 || i >= polls) return -1;
    ssclient_sleep(kDisconnectPollMs);
  }
}

// ===========================================================================
// Settings

void ssclient_set_login_site(const char* site) {
  if (site) copy_field(C.site, site);
}

const char* ssclient_get_login_site(void) { return C.site; }

void ssclient_set_login(const char* user, const char* password) {
  if (user) copy_field(C.user, user);
  if (password) copy_field(C.password, password);
  C.login_done.store(0);
}

int ssclient_get_login(const char** site, const char** user, const char** password) {
  if (site) *site = C.site[0] ? C.site : nullptr;
  if (user) *user = C.user[0] ? C.user : nullptr;
  if (password) *password = C.password[0] ? C.password : nullptr;
  return C.user[0] && C.password[0] ? 0 : -1;
}

void ssclient_set_reconnect_timeout(int32_t seconds) { C.reconnect_timeout.store(seconds); }
int32_t ssclient_reconnect_timeout(void) { return C.reconnect_timeout.load(); }
void ssclient_set_auto_reconnect(int on) { C.auto_reconnect.store(on ? 1 : 0); }
int ssclient_auto_reconnect(void) { return C.auto_reconnect.load(); }
void ssclient_set_sleep_hook(ssclient_sleep_fn fn) { C.sleep_hook.store(fn); }
void ssclient_enable_requests(int on) { C.requests_enabled.store(on ? 1 : 0); }
int ssclient_requests_enabled(void) { return C.requests_enabled.load(); }

void ssclient_set_restart(int on) {
  C.restart_pending.store(on ? 1 : 0);
  C.may_reconnect.store(on ? 1 : 0);
}

void ssclient_set_yield(uint32_t threshold, uint32_t pause_ms) {
  C.yield_threshold.store(threshold);
  C.yield_pause.store(pause_ms);
  C.threshold_set.store(1);
  ssio_set_select_timeout(static_cast<int32_t>(pause_ms));
}

void ssclient_enable_yield(int on) { C.yield_enabled.store(on ? 1 : 0); }
int ssclient_yield_enabled(void) { return C.yield_enabled.load(); }

// ===========================================================================
// Getters and the state the io thread writes

uint32_t ssclient_session_value(void) { return C.session.load(); }
int ssclient_restart_pending(void) { return C.restart_pending.load(); }
uint32_t ssclient_options(void) { return C.options.load(); }
int ssclient_logged_in(void) { return C.logged_in.load(); }
int ssclient_connecting(void) { return C.connecting.load(); }
int ssclient_is_online(void) { return C.online.load(); }
int ssclient_login_done(void) { return C.login_done.load(); }
int ssclient_may_reconnect(void) { return C.may_reconnect.load(); }
int ssclient_signed_off_flag(void) { return C.signed_off.load(); }
int ssclient_dropped(void) { return C.dropped.load(); }
void ssclient_set_dropped(int on) { C.dropped.store(on ? 1 : 0); }
ss_time ssclient_last_data_time(void) { return C.last_data.load(); }
uint32_t ssclient_ack_count(void) { return C.ack_count.load(); }

int32_t ssclient_load_progress(void) {
  uint64_t total = ssproto_expected_bytes();
  uint64_t received = ssio_bytes_received();
  uint64_t base = C.signon_bytes.load();
  received = received > base ? received - base : 0;
  if (!total || !received) return 0;
  uint64_t pct = received * 100 / total;  // 64 bits: a large load must not wrap
  return pct >= 99 ? 100 : static_cast<int32_t>(pct);
}

void ssclient_set_online(int on) {
  C.online.store(on ? 1 : 0);
  ssnotice_set_pending(on);  // notices that drop data apply from now on
}
void ssclient_set_logged_in(int on) { C.logged_in.store(on ? 1 : 0); }
void ssclient_set_connecting(int on) { C.connecting.store(on ? 1 : 0); }
void ssclient_set_login_done(int on) { C.login_done.store(on ? 1 : 0); }
void ssclient_set_session_value(uint32_t value) { C.session.store(value); }
void ssclient_set_last_data_time(ss_time t) { C.last_data.store(t); }
void ssclient_set_options(uint32_t bits) {
  C.options.fetch_or(bits);
  if (bits & kClientOptNoUpdate) ssupdate_set_refused(1);
}
void ssclient_set_signon_bytes(uint64_t received) { C.signon_bytes.store(received); }
growbuf* ssclient_send_buffer(void) { return &C.send; }
void ssclient_set_encoding(int on) { C.encoding.store(on ? 1 : 0); }
int ssclient_encoding(void) { return C.encoding.load(); }
void ssclient_set_idle_deadline(int64_t ms) { C.idle_deadline.store(ms); }
int64_t ssclient_idle_deadline(void) { return C.idle_deadline.load(); }

// ===========================================================================
// Core lock

void ssclient_block(void) {
  if (C.core_lock.load() < 0) {
    log(LOG_WARN, kSrc, "blocking not enabled");
    return;
  }
  ui_take_lock();
}

void ssclient_unblock(void) {
  if (C.core_lock.load() < 0) return;
  ui_release_lock();
}

void ssclient_sleep(int32_t ms) {
  bool held = C.core_lock.load() >= 0 && C.ui_holds.load();
  if (held) ui_release_lock();
  plain_sleep(ms);
  if (held) ui_take_lock();
}

void ssclient_io_lock(void) {
  if (C.io_holds.load()) {
    log(LOG_ERROR, kSrc, "core already has lock");
    return;
  }
  // Give the processor away first, so a waiting user-interface thread gets
  // the lock before the io thread takes it again.
  if (C.ui_waits.load()) plain_sleep(0);
  plat_slot lock = C.core_lock.load();
  if (lock >= 0) plat_mutex_lock(lock);
  C.io_holds.store(1);
}

void ssclient_io_unlock(void) {
  if (!C.io_holds.load()) {
    log(LOG_ERROR, kSrc, "core doesn't have lock");
    return;
  }
  plat_slot lock = C.core_lock.load();
  if (lock >= 0) plat_mutex_unlock(lock);
  C.io_holds.store(0);
  C.work = 0;
}

int ssclient_io_has_lock(void) { return C.io_holds.load(); }
int ssclient_ui_has_lock(void) { return C.ui_holds.load(); }
int ssclient_ui_waits(void) { return C.ui_waits.load(); }

void ssclient_io_sleep(int32_t ms) {
  bool held = C.io_holds.load();
  if (held) ssclient_io_unlock();
  plain_sleep(ms);
  if (held) ssclient_io_lock();
}

void ssclient_yield_point(uint32_t units) {
  C.work += units;
  if (!C.yield_enabled.load()) return;
  uint32_t floor = C.threshold_set.load() ? kYieldFloor : kYieldFloorUnset;
  if (C.work < floor) return;
  if (C.ui_waits.load()) {
    C.work = 0;
    C.quick_yields = 0;
    ssclient_io_sleep(static_cast<int32_t>(C.yield_pause.load()));
    return;
  }
  if (C.work < C.yield_threshold.load()) return;
  C.work = 0;
  if (++C.quick_yields < kQuickYields) {
    ssclient_io_sleep(0);
  } else {
    C.quick_yields = 0;
    ssclient_io_sleep(static_cast<int32_t>(C.yield_pause.load()));
  }
}

void ssclient_deliver(void) {
  subsys_deliver();
  ssnotify_deliver();
}

// ===========================================================================
// Request ring

int ssclient_enqueue(uint32_t kind, void* pointer, uint64_t a, uint64_t b, uint64_t c) {
  if (C.stopping.load()) {
    log(LOG_WARN, kSrc, "ignoring request %d", static_cast<int>(kind));
    return -1;
  }
  uint32_t head = C.head.load(std::memory_order_relaxed);
  uint32_t next = (head + 1) % kRequestRingSlots;
  if (next == C.tail.load(std::memory_order_acquire)) {
    log(LOG_ERROR, kSrc, "queue full");
    // The pause lets the io thread drain the ring. Inside a change delivery
    // the notify lock is held, and releasing the core lock there would take
    // the locks out of order: the request fails at once instead.
    if (!ssnotify_in_delivery()) ssclient_sleep(kQueueFullPauseMs);
    return -1;
  }
  assert(head < kRequestRingSlots);
  C.ring[head] = ss_request{kind, pointer, a, b, c};
  C.head.store(next, std::memory_order_release);
  return 0;
}

int32_t ssclient_ring_count(void) {
  uint32_t head = C.head.load(std::memory_order_acquire);
  uint32_t tail = C.tail.load(std::memory_order_acquire);
  return static_cast<int32_t>((head + kRequestRingSlots - tail) % kRequestRingSlots);
}

void ssclient_ring_span(uint32_t* tail, uint32_t* head) {
  *tail = C.tail.load(std::memory_order_relaxed);
  *head = C.head.load(std::memory_order_acquire);
  assert(*tail < kRequestRingSlots && *head < kRequestRingSlots);
}

ss_request* ssclient_ring_slot(uint32_t slot) { return &C.ring[slot % kRequestRingSlots]; }

void ssclient_ring_consume(uint32_t new_tail) {
  // The new tail lies within the span the encoder was given: from the old
  // tail up to the head, modulo the ring.
  [[maybe_unused]] const uint32_t tail = C.tail.load(std::memory_order_relaxed);
  [[maybe_unused]] const uint32_t head = C.head.load(std::memory_order_acquire);
  assert((new_tail + kRequestRingSlots - tail) % kRequestRingSlots <=
         (head + kRequestRingSlots - tail) % kRequestRingSlots);
  C.tail.store(new_tail % kRequestRingSlots, std::memory_order_release);
}

// ===========================================================================
// Request senders

int ssclient_request_events(instr* in) { return request_flagged(in, kReqEvents, kEventsMask, kRqEvents); }

int ssclient_request_stock_events(ss_stock* stock, int all_trades) {
  uint32_t f = stock->flags;
  if (all_trades) {
    if (!(f & kQueuesAllTradesMask))
      return request_flagged(stock, kReqQueuesAllTrades, 0, kRqFullBid | kRqFullOffer | kRqTrades);
    if (request_flagged(stock, kReqFullBid, kBidMask, kRqFullBid) < 0) return -1;
    if (request_flagged(stock, kReqFullOffer, kOfferMask, kRqFullOffer) < 0) return -1;
    return request_flagged(stock, kReqAllTrades, kAllTradesMask, kRqTrades);
  }
  // Recent trades are wanted unless trades are loaded or asked for, or the
  // stock's trade list already shows enough price changes.
  bool want_recent = !(f & kAnyTradesMask) && !ssmodel_trades_vary(stock);
  if (want_recent && !(f & kQueuesMask))
    return request_flagged(stock, kReqQueuesRecentTrades, 0, kRqFullBid | kRqFullOffer | kRqRecent);
  if (request_flagged(stock, kReqFullBid, kBidMask, kRqFullBid) < 0) return -1;
  if (request_flagged(stock, kReqFullOffer, kOfferMask, kRqFullOffer) < 0) return -1;
  if (want_recent) return request_flagged(stock, kReqRecentTrades, 0, kRqRecent);
  return 0;
}

int ssclient_request_events_for_day(instr* in, ss_time date) {
  if (before_month_back(in, date)) {
    log(LOG_ERROR, kSrc, "won't request %s events older than a month", in->code);
    return -1;
  }
  if (today_or_later(in, date)) return ssclient_request_events(in);
  return request_day(in, kReqDayEvents, date_of(date), kEventsMask, kRqEvents);
}

int ssclient_request_trades_for_day(instr* in, ss_time date) {
  if (before_month_back(in, date)) {
    log(LOG_ERROR, kSrc, "won't request %s trades older than a month", in->code);
    return -1;
  }
  if (today_or_later(in, date)) return ssclient_request_events(in);
  if (kludge_is_20140210(exchange_of(in), date)) {
    char buf[kSstimeDateLen];
    log(LOG_WARN, kSrc, "forcing %s events instead of trades on %s", in->code, sstime_format_date_into(buf, date));
    return ssclient_request_events_for_day(in, date);
  }
  return request_day(in, kReqDayTrades, date_of(date), kDayTradesMask, kRqTrades);
}

int ssclient_request_day_trades(ss_stock* stock, ss_time from, ss_time to) {
  return request_days(stock, from, to, false);
}

int ssclient_request_prevday_trades(ss_stock* stock, ss_time from, ss_time to) {
  return request_days(stock, from, to, true);
}

int ssclient_request_stock_history(ss_stock* stock) {
  return request_flagged(stock, kReqStockHistory, kHistoryMask, kRqHistory);
}

int ssclient_request_index_events(ss_index* index) {
  if (index->flags & kEventsMask) return 0;
  if (exchange_of(index) == kExchangeGlb) {
    log(LOG_WARN, kSrc, "not loading global index");
    index->flags |= kRqEventsLoaded;
    return 0;
  }
  return request_flagged(index, kReqIndexEvents, kEventsMask, kRqEvents);
}

int ssclient_request_index_day(ss_index* index, ss_time date) {
  date = date_of(date);
  if (exchange_of(index) == kExchangeGlb) {
    ss_day* day = ssevent_get_day(index, date);
    if (!day) {
      log(LOG_ERROR, kSrc, "can't add day to request %s", index->code);
      return -1;
    }
    if (day->flags & kEventsMask) return 0;
    log(LOG_WARN, kSrc, "not loading global index");
    day->flags |= kRqEventsLoaded;
    return 0;
  }
  return request_day(index, kReqIndexDay, date, kEventsMask, kRqEvents);
}

int ssclient_request_index_history(ss_index* index) {
  return request_flagged(index, kReqIndexHistory, kHistoryMask, kRqHistory);
}

int ssclient_request_history(ss_issuer* issuer) {
  return request_flagged(issuer, kReqNewsHistory, kHistoryMask, kRqHistory);
}

int ssclient_save_data(int flag) {
  if (ssclient_enqueue(kReqSaveData, nullptr, flag ? 1 : 0, 0, 0) < 0) {
    log(LOG_ERROR, kSrc, "failed to enqueue save data request");
    return -1;
  }
  return 0;
}

int ssclient_change_password(const char* text) {
  uint8_t* block = ssauth_encrypt_password(text);
  if (!block) {
    log(LOG_ERROR, kSrc, "can't save new passwd");
    return -1;
  }
  if (ssclient_enqueue(kReqChangePassword, nullptr, reinterpret_cast<uintptr_t>(block), 0, 0) < 0) {
    log(LOG_ERROR, kSrc, "failed to enqueue change passwd request");
    dalloc_free(block);
    return -1;
  }
  return 0;
}

int ssclient_sign_off(int flag) {
  sserr_clear();
  ssio_mark_sign_off();
  if (ssclient_enqueue(kReqSignOff, nullptr, static_cast<uint8_t>(flag), 0, 0) < 0) {
    log(LOG_ERROR, kSrc, "failed to enqueue sign off request");
    return -1;
  }
  return 0;
}

int ssclient_log_news_item(instr* in, const uint32_t* number) {
  if (!number) {
    log(LOG_ERROR, kSrc, "failed to enqueue log news item request");
    return -1;
  }
  return log_usage(kReqLogNews, in, *number, "failed to enqueue log news item request");
}

int ssclient_log_profile(instr* in) {
  return log_usage(kReqLogProfile, in, 0, "failed to enqueue log profile request");
}

int32_t ssclient_request_http(const char* url, ss_http_handler handler, void* context, uint32_t argument,
                              ssio_progress* progress) {
  if (!url || strlen(url) > static_cast<size_t>(kSsHttpUrlMax)) {
    log(LOG_ERROR, kSrc, "url too long: %.80s", url ? url : "(null)");
    return -1;
  }
  ss_http_request* req = static_cast<ss_http_request*>(pool_alloc(&C.http_pool));
  if (!req) {
    log(LOG_ERROR, kSrc, "can't alloc http request");
    return -1;
  }
  if (progress) memset(progress, 0, sizeof *progress);
  int32_t id = C.http_ids.fetch_add(1) + 1;
  memcpy(req->url, url, strlen(url) + 1);
  req->handler = handler;
  req->context = context;
  req->argument = argument;
  req->progress = progress;
  req->id = id;
  if (ssclient_enqueue(kReqHttp, nullptr, 0, 0, reinterpret_cast<uintptr_t>(req)) < 0) {
    log(LOG_ERROR, kSrc, "failed to enqueue http request");
    pool_free(&C.http_pool, req);
    return -1;
  }
  return id;
}

int ssclient_cancel_http(int32_t id) {
  if (ssclient_enqueue(kReqHttpCancel, nullptr, static_cast<uint64_t>(static_cast<int64_t>(id)), 0, 0) < 0) {
    log(LOG_ERROR, kSrc, "failed to enqueue http cancel request");
    return -1;
  }
  return 0;
}

int ssclient_send_block(uint32_t number, const void* data, int32_t length) {
  growbuf* gb = static_cast<growbuf*>(pool_alloc(&C.growbuf_pool));
  if (!gb || growbuf_init(gb, 0, kRequestBufferStep) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc growbuf");
    if (gb) pool_free(&C.growbuf_pool, gb);
    return -1;
  }
  if (encblk_write_encrypted_checked(1, gb, data, length) < 0) {
    log(LOG_ERROR, kSrc, "can't encode send buf");
    ssclient_free_request_buffer(gb);
    return -1;
  }
  if (ssclient_enqueue(kReqSendBlock, nullptr, number, 0, reinterpret_cast<uintptr_t>(gb)) < 0) {
    log(LOG_ERROR, kSrc, "failed to enqueue sendbuf request");
    ssclient_free_request_buffer(gb);
    return -1;
  }
  return 0;
}

void ssclient_free_http_request(ss_http_request* req) {
  if (req) pool_free(&C.http_pool, req);
}

void ssclient_free_request_buffer(growbuf* gb) {
  if (!gb) return;
  growbuf_free(gb);
  pool_free(&C.growbuf_pool, gb);
}

int32_t ssclient_usage_count(void) { return C.usage_count; }

// ===========================================================================
// The io thread's private list and the senders' private twins

int ssclient_private_request(uint32_t kind, void* pointer, uint64_t a, uint64_t b) {
  if (kind != kReqHttp) {
    for (int32_t i = 0; i < C.priv_count; i++) {
      const ss_request& r = C.priv[i];
      if (r.kind == kind && r.pointer == pointer && r.a == a && r.b == b) return 0;
    }
  }
  if (C.priv_count >= kPrivateRequestsMax) {
    log(LOG_ERROR, kSrc, "max private requests (%d) exceeded", kPrivateRequestsMax);
    return -1;
  }
  C.priv[C.priv_count++] = ss_request{kind, pointer, a, b, 0};
  return 0;
}

int32_t ssclient_private_count(void) { return C.priv_count; }
ss_request* ssclient_private_entry(int32_t i) { return i >= 0 && i < C.priv_count ? &C.priv[i] : nullptr; }
void ssclient_private_clear(void) { C.priv_count = 0; }

int ssclient_private_trades(ss_stock* stock) {
  return private_flagged(stock, kReqAllTrades, kAllTradesMask, kRqTrades, "failed to enqueue %s trades request");
}

int ssclient_private_depth(ss_stock* stock) {
  uint32_t f = stock->flags;
  if (!(f & kQueuesMask)) return 0;
  if ((f & kBidMask) && private_flagged(stock, kReqFullBid, 0, kRqFullBid, "failed to enqueue %s bid request") < 0)
    return -1;
  if ((f & kOfferMask) &&
      private_flagged(stock, kReqFullOffer, 0, kRqFullOffer, "failed to enqueue %s offer request") < 0)
    return -1;
  return 0;
}

int ssclient_private_partial_depth(ss_stock* stock, int side) {
  bool bid = side == 0;
  uint32_t skip = bid ? kPartialBidMask : kPartialOfferMask;
  uint32_t partial_bit = bid ? kRqPartialBid : kRqPartialOffer;
  if (stock->flags & skip) return 0;
  if (stock->partial_requests < kPartialRequestsBeforeFull) {
    if (stock->flags & partial_bit) return 0;
    stock->partial_requests++;
    return private_flagged(stock, bid ? kReqPartialBid : kReqPartialOffer, 0, partial_bit,
                           "failed to enqueue %s partial request");
  }
  const char* side_name = bid ? "bid" : "offer";
  log(LOG_WARN, kSrc, "requesting %s %s full %s queue instead of partial", stock->exchange->name, stock->code,
      side_name);
  return private_flagged(stock, bid ? kReqFullBid : kReqFullOffer, 0, bid ? kRqFullBid : kRqFullOffer,
                         "failed to enqueue %s partial request");
}

int ssclient_private_events(instr* in) {
  return private_flagged(in, kReqEvents, kEventsMask, kRqEvents, "failed to enqueue %s request");
}

int ssclient_private_stock_history(ss_stock* stock) {
  return private_flagged(stock, kReqStockHistory, 0, kRqHistory, "failed to enqueue %s request");
}

int ssclient_private_history(ss_issuer* issuer) {
  return private_flagged(issuer, kReqNewsHistory, 0, kRqHistory, "failed to enqueue %s request");
}

int ssclient_private_vcmp(int32_t exchange, uint32_t set, int flag) {
  if (exchange == kExchangeGlb || !ssuser_exchange_permitted(exchange)) return 0;
  ss_exchange* ex = ssmodel_exchange(exchange);
  uint64_t b = set + (flag ? kVcmpFlag : 0);
  if (ssclient_private_request(kReqVcmp, ex, static_cast<uint64_t>(exchange), b) < 0) {
    log(LOG_ERROR, kSrc, "failed to enqueue %s vcmp request", ssmodel_exchange_name(exchange));
    return -1;
  }
  return 0;
}
