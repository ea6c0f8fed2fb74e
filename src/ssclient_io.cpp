// The client's io thread: connects, greets and signs on, polls the link and
// keeps it alive with heartbeats, runs the once-a-second housekeeping, and
// reconnects with back-off after the link is lost. It works on the model
// under the core lock, which it gives up while it sleeps and at the yield
// points of long decoding.
#include <algorithm>
#include <cstring>

#include "crypt.h"
#include "dalloc.h"
#include "encode.h"
#include "growbuf.h"
#include "lazyfree.h"
#include "localdata.h"
#include "log.h"
#include "md5.h"
#include "plat.h"
#include "sscache.h"
#include "ssauth.h"
#include "ssclient.h"
#include "ssclient_encode.h"
#include "ssclient_int.h"
#include "ssupdate.h"
#include "ssvcmp.h"
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

static const char kSrc[] = "src/ssclient";

using namespace ssclient_detail;

// Io thread: connection, sign-on, heartbeat and reconnect

namespace {

constexpr int64_t kEarlyDeathMs = 20000;      // a link that dies sooner backs off longer
constexpr int64_t kReplyWaitMs = 20000;       // for the answer to a heartbeat
constexpr int64_t kQuietMs = 9000;            // data at most this old: no heartbeat is due
constexpr int64_t kCatchupSilenceMs = 60000;  // silence before "Online" that drops the link
constexpr int32_t kBackoffMinSeconds = 2;
constexpr int32_t kBackoffEarlySeconds = 5;
constexpr int32_t kBackoffJitterMs = 1000;    // the wait spreads over +-500 ms
constexpr int32_t kBackoffSliceMs = 500;
constexpr int32_t kHeartbeatCapSeconds = 240;
constexpr int32_t kHeartbeatProxySeconds = 30;
constexpr int32_t kNzxHeartbeatFactor = 5;
constexpr int32_t kPreopenMargin = 600;       // seconds before the 10:00 open
constexpr int32_t kLongDayStart = 25200;      // 07:00
constexpr int32_t kLongDayEnd = 72000;        // 20:00
constexpr int32_t kFollowupPauseMs = 10;
constexpr uint32_t kGlobalOnlineBits = kGlobalMarked | kGlobalNotices | kGlobalOnlineA | kGlobalOnlineB |
                                       kGlobalExchangeState | kGlobalNewsToday | kGlobalWentOnline;
static_assert(kGlobalOnlineBits == 0x18007c);
// Exchanges whose stream positions go with the sign-on, in this order.
constexpr int32_t kSignOnExchanges[] = {kExchangeAsx, kExchangeNzx, kExchangeAxo};

// Takes the core lock for a scope unless this thread holds it already.
class core_lock_scope {
 public:
  core_lock_scope() : took_(!ssclient_io_has_lock()) {
    if (took_) ssclient_io_lock();
  }
  ~core_lock_scope() {
    if (took_ && ssclient_io_has_lock()) ssclient_io_unlock();
  }
  core_lock_scope(const core_lock_scope&) = delete;
  core_lock_scope& operator=(const core_lock_scope&) = delete;

 private:
  bool took_;
};

}  // namespace

// The core lock of one poll pass. The pass takes it at its first step that
// touches the model (the data handler, the encoding pass, the heartbeat
// check, housekeeping) and keeps it to the pass's end, whichever way the pass
// ends; it is never held while the pass waits in select(). The data handler
// finds the running pass through C.pass; called on its own (tests, fuzzing)
// it holds the lock for its own length instead.
class poll_pass_lock {
 public:
  explicit poll_pass_lock(bool pass) : pass_(pass) {
    if (pass_) C.pass = this;
  }
  ~poll_pass_lock() {
    if (pass_) C.pass = nullptr;
    release();
  }
  poll_pass_lock(const poll_pass_lock&) = delete;
  poll_pass_lock& operator=(const poll_pass_lock&) = delete;

  void take() {
    if (held_) return;
    ssclient_io_lock();
    held_ = true;
  }
  // Before the pass sleeps; the next step that needs the model takes it again.
  void release() {
    if (!held_) return;
    held_ = false;
    ssclient_io_unlock();
  }

 private:
  bool pass_;
  bool held_ = false;
};

namespace {

bool have_login() { return C.user[0] && C.password[0]; }

bool may_see(int32_t i) { return i == kExchangeGlb || ssuser_exchange_permitted(i); }

// Bytes came (or the link started or signed on): nothing is overdue.
void note_data(int64_t now) {
  C.last_data_ms = now;
  C.last_data.store(sstime_now());
  C.reply_deadline_ms = 0;
  C.idle_deadline.store(0);
}

void queue_heartbeat(int64_t now) {
  C.heartbeat_out.store(1);
  C.reply_deadline_ms = now + kReplyWaitMs;
  C.idle_deadline.store(0);
  if (ssclient_private_request(kReqHeartbeat, nullptr, 0, 0) < 0) log(LOG_WARN, kSrc, "can't queue heartbeat request");
}

int32_t handshake_handler(const uint8_t* data, int32_t len, void*, uint32_t) { return ssclient_handshake(data, len); }
int32_t data_handler(const uint8_t* data, int32_t len, void*, uint32_t) { return ssclient_on_data(data, len); }

// ---------------------------------------------------------------------------
// Sign-on message

struct program_file {
  char name[kLocaldataNameMax];
  uint8_t md5[16];
};

// The program files of this platform (or of none) in the program directory,
// in the directory's own order, each with the MD5 of its bytes: at most
// kProgramFilesMax into `out`; returns how many.
int program_files(program_file out[kProgramFilesMax]) {
  int n = 0;
  if (!localdata_ready()) return 0;
  localdata_dirent* list = nullptr;
  if (localdata_list(&list, LOCALDATA_PROGRAM) < 0) return 0;
  // The listing runs in the reverse of the directory's order: the names are
  // kept in fixed-size entries and walked back.
  growbuf names;
  if (growbuf_init(&names, kLocaldataNameMax * kProgramFilesMax, kLocaldataNameMax * kProgramFilesMax) < 0) {
    localdata_list_free(&list);
    return 0;
  }
  char name[kLocaldataNameMax];
  while (localdata_list_next(&list, name)) growbuf_append(&names, name, kLocaldataNameMax);
  for (int32_t i = names.len / kLocaldataNameMax; i-- > 0;) {
    const char* entry = reinterpret_cast<const char*>(names.data) + i * kLocaldataNameMax;
    uint32_t code = ssupdate_platform_code(entry);
    if (code != kUpdatePlatformNone && code != C.platform) continue;
    void* data = nullptr;
    uint32_t len = 0;
    if (localdata_read(LOCALDATA_PROGRAM, entry, &data, &len) < 0) continue;
    if (n == kProgramFilesMax) {
      dalloc_free(data);
      log(LOG_ERROR, kSrc, "shouldn't have more than %d progs", kProgramFilesMax);
      break;
    }
    program_file& f = out[n++];
    memcpy(f.name, entry, kLocaldataNameMax);
    md5_ctx ctx;
    md5_init(&ctx);
    md5_update(&ctx, data, len);
    md5_final(&ctx, f.md5);
    dalloc_free(data);
  }
  growbuf_free(&names);
  return n;
}

// Field writer over the reserved room of the send buffer; a field that does
// not encode marks the whole message bad.
struct field_writer {
  uint8_t* p;
  uint32_t n = 0;
  bool ok = true;
  void put(int used) {
    if (used < 0)
      ok = false;
    else
      n += static_cast<uint32_t>(used);
  }
  void byte(uint32_t v) { put(encode_byte(p + n, v)); }
  void int32(uint32_t v) { put(encode_int32(p + n, v)); }
  void string(const char* text) { put(encode_string(p + n, text)); }
  void raw(const void* src, int32_t len) { put(encode_raw(p + n, src, len)); }
};

// Writes the sign-on message into `w` (core lock held: positions and
// signatures are read from the model).
void write_sign_on(field_writer& w, const uint8_t response[kSignOnKeyBytes]) {
  program_file files[kProgramFilesMax];
  const int nfiles = program_files(files);
  uint32_t options = C.options.load();
  w.byte(C.platform);
  w.int32(0);
  w.int32(0);
  w.int32(ssproto_master_position());
  w.int32(options);
  w.byte(static_cast<uint32_t>(nfiles));
  for (int i = 0; i < nfiles; i++) {
    const program_file& f = files[i];
    w.string(f.name);
    w.raw(f.md5, sizeof f.md5);
  }
  w.string(C.site);
  w.string(C.user);
  w.raw(response, kSignOnKeyBytes);
  w.byte(sizeof kSignOnExchanges / sizeof kSignOnExchanges[0]);
  log(LOG_INFO, kSrc, "logging in as %s:%s", C.site, C.user);
  if (options) log(LOG_INFO, kSrc, "requesting options %x", options);
  for (int32_t i : kSignOnExchanges) {
    uint32_t sig = ssmodel_exchange_signature(i);
    uint32_t pos = ssproto_exchange_position(i);
    w.byte(static_cast<uint32_t>(i));
    w.int32(sig);
    w.int32(pos);
    log(LOG_INFO, kSrc, "%s pos: %u/%u", ssmodel_exchange_name(i), sig, pos);
  }
  log(LOG_INFO, kSrc, "(master: %u)", ssproto_master_position());
}

// ---------------------------------------------------------------------------
// Going online the first time in the process

// Cached fundamentals that give most stocks no issuer of their own were
// saved from a bad stream: ask for the exchange's fundamentals from the start.
void judge_fundamentals(ss_exchange* ex) {
  int32_t own = 0, other = 0;
  for (uint64_t i = 0; i < ex->stocks.count; i++) {
    const ss_stock* st = static_cast<const ss_stock*>(ex->stocks.sorted[i]);
    if (ssutil_is_cx_pm_code(st))
      other++;
    else if (!st->issuer[0] || strcmp(st->issuer, st->code) == 0)
      own++;
    else
      other++;
  }
  if (own <= other) return;
  if (other > 0 && ex->fun_position > 0)
    log(LOG_WARN, kSrc, "%s fun is probably bad %d/%d/%d @ %d", ex->name, own, other, own + other, ex->fun_position);
  ex->fun_position = -1;
}

void first_online_loads() {
  sscache_load_fun();
  for (int32_t i = 0; i < kExchanges; i++) {
    ss_exchange* ex = ssmodel_exchange(i);
    if (!ex) continue;
    if (!may_see(i)) {
      ex->fun_position = -1;
      continue;
    }
    if (i != kExchangeGlb) judge_fundamentals(ex);
    sscache_load_news_summaries(ex);
    // A waiting user-interface thread gets its turn between exchanges; with
    // none waiting the loads go on, so "Online" is not held back by pauses.
    if (C.ui_waits.load()) ssclient_io_sleep(kFollowupPauseMs);
  }
}

// ---------------------------------------------------------------------------
// Poll-pass pieces

// The first exchange whose heartbeat limit the link's silence has reached.
// With no exchange asking (all in state 0, as after a reset), the cap
// applies, so that silence is noticed whatever the exchanges' states.
bool heartbeat_due(int64_t idle_ms) {
  bool any = false;
  int proxy = ssio_proxy_in_use();
  for (int32_t i : kSignOnExchanges) {
    const ss_exchange* ex = ssmodel_exchange(i);
    if (!ex) continue;
    int32_t limit = ssclient_heartbeat_limit(ex, proxy);
    if (!limit) continue;
    any = true;
    if (idle_ms >= limit * 1000LL) return true;
  }
  return !any && idle_ms >= kHeartbeatCapSeconds * 1000LL;
}

// Once a second: due deferred frees, the event trim and GLB's date every
// five seconds; the price tracks, the stocks whose resume time has come and
// the fast reset's slice and the volume comparison's tick every second.
void housekeeping(int64_t now_ms, poll_pass_lock& lock) {
  int64_t second = now_ms / 1000;
  // Within the same second only a new track client is served: it gets its
  // values now rather than at the next second.
  if (second == C.last_second) {
    if (!sstrack_client_added()) return;
    lock.take();
    sstrack_update();
    return;
  }
  lock.take();
  ss_time wall = sstime_now();
  // A wall clock that stepped back makes the time module re-read its base at
  // once; otherwise it refreshes itself at most hourly.
  if (C.last_wall && wall < C.last_wall) sstime_refresh(1);
  C.last_wall = wall;
  if (second >= C.next_housekeeping) {
    ssevent_trim_due();
    lazyfree_tick();
    ss_exchange* glb = ssmodel_exchange(kExchangeGlb);
    ss_time today = date_of(sstime_now());
    if (glb && sstime_date_compare(glb->date, today) != 0) ssmodel_set_date(glb, today);
    sstime_refresh(0);
    C.next_housekeeping = second + C.housekeeping;
  }
  sstrack_update();
  ssvcmp_tick();
  ssevent_expire_resumes();
  ssmodel_fast_reset_free();
  C.last_second = second;
}

// After a link ended (core lock taken here).
void end_link() {
  if (C.online.load()) C.options.fetch_or(kClientOptReconnected | kClientOptResumed);
  core_lock_scope lock;
  ssclient_set_online(0);
  ssclient_clear_requested();
  // Requests the io thread made for the dead link: their requested bits were
  // just cleared, so they are made again when the next link is online.
  ssclient_private_clear();
  ssio_close_all();
  if (!C.logged_in.load()) log(LOG_WARN, kSrc, "not connected");
  C.logged_in.store(0);
  ssauth_clear_key();
}

// The thread leaves its loop: change recording, paused since the connect,
// runs again so that nothing of the model is hidden from the windows.
int leave_run(int result) {
  C.connecting.store(0);
  ssnotify_set_paused(0);
  return result;
}

int give_up(const char* why) {
  if (why) log(LOG_WARN, kSrc, "%s", why);
  C.may_reconnect.store(0);
  C.reset_flags.store(kResetAfterGiveUp);
  ssnotify_record_global(kGlobalGaveUp);
  return leave_run(-1);
}

}  // namespace

int32_t ssclient_heartbeat_limit(const ss_exchange* ex, int proxy) {
  // Through a proxy that may cut quiet connections, every exchange and
  // state gets the short limit.
  if (proxy) return kHeartbeatProxySeconds;
  int32_t limit;
  {
    ss_time now = ssmodel_exchange_now(ex);
    switch (ex->state) {
      case 0:
        return 0;
      case 10:
        limit = sstime_diff_seconds(ssmodel_exchange_open_time(ex), now) > kPreopenMargin ? 60 : 10;
        break;
      case 50:
      case 60:
      case 70:
      case 80:
      case 90:
        limit = 60;
        break;
      case 130: {
        int32_t sod = static_cast<int32_t>(now & kSstimeSecondsMask);
        limit = !sstime_is_weekend(now) && sod >= kLongDayStart && sod < kLongDayEnd ? 60 : 90;
        break;
      }
      default:
        limit = 10;
        break;
    }
  }
  if (ex->index == kExchangeNzx) limit *= kNzxHeartbeatFactor;
  return std::min(limit, kHeartbeatCapSeconds);
}

int ssclient_connect(void) {
  if (!have_login()) {
    log(LOG_WARN, kSrc, "set login details");
    return -1;
  }
  core_lock_scope lock;
  C.dropped.store(0);
  C.logged_in.store(0);
  C.session.store(0);
  C.login_done.store(0);
  ssauth_clear_key();
  ssio_rotate_server();
  const char* host = nullptr;
  int32_t port = 0;
  ssio_current_server(&host, &port);
  ssmsg_setf("Connecting to %s", host ? host : "");
  ssio_set_data_handler(handshake_handler, nullptr, 0);
  // The catch-up after sign on rebuilds much of the model: the windows hear
  // of it once, when the client is online.
  ssnotify_set_paused(1);
  ssio_start_link();
  note_data(plat_ms());
  C.heartbeat_out.store(0);
  return 0;
}

int32_t ssclient_handshake(const uint8_t* data, int32_t length) {
  ssmsg_set("Handshaking");
  if (length < kSignOnReplyBytes) return 0;
  char name[kServerNameBytes + 1];
  memcpy(name, data, kServerNameBytes);
  name[kServerNameBytes] = 0;
  const uint8_t* s = data + kSessionValueOffset;
  C.session.store(static_cast<uint32_t>(s[0]) << 24 | static_cast<uint32_t>(s[1]) << 16 |
                  static_cast<uint32_t>(s[2]) << 8 | s[3]);
  uint8_t response[kSignOnKeyBytes];
  ssauth_sign_on(C.password, data + kServerNameBytes, response);
  log(LOG_INFO, kSrc, "connected to %s", name);
  ssmsg_set("Logging in");

  core_lock_scope lock;
  growbuf_reset(&C.send);
  uint8_t* p = growbuf_reserve(&C.send, kSignOnRoom);
  if (!p) {
    log(LOG_ERROR, kSrc, "can't make room to log in");
    crypt_random(response, sizeof response);
    return -1;
  }
  field_writer w{p};
  write_sign_on(w, response);
  crypt_random(response, sizeof response);
  if (!w.ok) {
    log(LOG_ERROR, kSrc, "can't make room to log in");
    return -1;
  }
  growbuf_commit(&C.send, w.n);
  int sent = ssio_send(C.send.data, C.send.len);
  growbuf_reset(&C.send);
  if (sent < 0) {
    log(LOG_OSERR, kSrc, "couldn't write signon");
    return -1;
  }
  ssio_set_data_handler(data_handler, nullptr, 0);
  C.logged_in.store(1);
  C.signon_bytes.store(ssio_bytes_received());
  C.first_failure_ms = 0;
  note_data(plat_ms());
  log(LOG_INFO, kSrc, "sign on sent");
  ssnotify_record_global(kGlobalSignOnSent);
  return kSignOnReplyBytes;
}

int32_t ssclient_on_data(const uint8_t* data, int32_t length) {
  if (C.stopping.load()) return -1;
  note_data(plat_ms());
  C.heartbeat_out.store(0);
  poll_pass_lock own(false);
  poll_pass_lock& lock = C.pass ? *C.pass : own;
  lock.take();
  int r = ssproto_decode(data, length);
  // An incomplete message that has grown past the dispatcher's cap is garbage
  // claiming a huge length: the buffer must not grow after it.
  if (r >= 0 && length - r >= ssproto_max_pending()) {
    log(LOG_ERROR, kSrc, "%db pending in an incomplete message", length - r);
    r = -1;
  }
  if (r >= 0) return r;
  if (!C.stopping.load() && !C.abort.load()) {
    log(LOG_ERROR, kSrc, "proto error");
    C.acked.store(0);
    ssmodel_reset_all(1);
    ssproto_reset_positions();
  }
  return -1;
}

int ssclient_poll(void) {
  poll_pass_lock lock(true);  // released when the pass ends, whichever way
  C.work = 0;
  int r = ssio_loop();
  if (r != -1) {
    lock.take();
    ssclient_encode_requests();
  }
  int64_t now = plat_ms();
  if (!ssio_connected()) {
    log(LOG_WARN, kSrc, "not connected");
    return -1;
  }
  int64_t idle_deadline = C.idle_deadline.load();
  if (idle_deadline && now >= idle_deadline) queue_heartbeat(now);
  if (r < 0) return -1;
  if (r == 1) {
    note_data(now);
  } else {
    if (C.reply_deadline_ms && now >= C.reply_deadline_ms) {
      log(LOG_WARN, kSrc, "no response from server");
      C.heartbeat_out.store(0);
      return -1;
    }
    int64_t idle = now - C.last_data_ms;
    if (!C.online.load()) {
      // Until "Online" no request can go, heartbeats included: a link that
      // stays silent this long during the handshake or the catch-up is dead.
      if (idle >= kCatchupSilenceMs) {
        log(LOG_WARN, kSrc, "no data from server for %llds before online", static_cast<long long>(idle / 1000));
        return -1;
      }
    } else if (idle <= kQuietMs) {
      C.heartbeat_out.store(0);
    } else if (!C.heartbeat_out.load()) {
      lock.take();
      if (heartbeat_due(idle)) queue_heartbeat(now);
    }
    if (C.yield_enabled.load()) {
      // Nothing came on the link: wait up to the pause for whatever the next
      // pass acts on (the reply to what this pass connected or wrote, fresh
      // data), rather than sleeping the whole pause, so a sign-on or a quiet
      // market's next message is taken at once. The lock is given up first
      // (a waiting user-interface thread takes it now). With no socket to
      // wait on, or a sleep hook installed (tests that run on virtual time),
      // the pass sleeps the pause as before.
      lock.release();
      C.work = 0;
      const int32_t pause = static_cast<int32_t>(C.yield_pause.load());
      if (C.sleep_hook.load() || ssio_wait_ready(pause) < 0) plain_sleep(pause);
    }
  }
  housekeeping(plat_ms(), lock);
  return 0;
}

void ssclient_backoff_wait(int32_t ms) {
  while (ms > 0) {
    int32_t slice = std::min(ms, kBackoffSliceMs);
    if (!C.encoding.load()) {
      core_lock_scope lock;
      ssclient_encode_requests();
    }
    if (C.stopping.load() || C.abort.load()) return;
    ssclient_io_sleep(slice);
    ms -= slice;
  }
}

void ssclient_apply_reset_flags(uint32_t flags) {
  if (flags & kResetRealtime) {
    C.acked.store(0);
    ssmodel_reset_all(1);
  } else if (flags & kResetKeepPositions) {
    C.acked.store(0);
    ssmodel_reset_all(0);
  }
  if (flags & kResetStreams) {
    // Restarted streams number their instruments afresh.
    ssmodel_clear_speeds();
    ssproto_reset_positions();
  }
}

int ssclient_run(void) {
  C.first_failure_ms = 0;
  if (!C.may_reconnect.load()) {
    ssproto_reset_counters();
    C.reset_flags.fetch_or(kResetKeepPositions);
  }
  if (!have_login()) return give_up("need login details");
  C.abort.store(0);
  C.signed_off.store(0);
  C.connecting.store(1);
  int32_t n = 0;
  bool first = true;
  for (;;) {
    if (!first) {
      int32_t seconds = std::max(n, kBackoffMinSeconds);
      log(LOG_WARN, kSrc, "backing off for %ds", seconds);
      int32_t jitter = static_cast<int32_t>(static_cast<unsigned long>(plat_random()) % kBackoffJitterMs);
      ssclient_backoff_wait(jitter + seconds * 1000 - kBackoffJitterMs / 2);
      if (C.stopping.load()) return leave_run(-1);
      if (C.abort.load()) {
        log(LOG_WARN, kSrc, "connection aborted");
        return leave_run(-1);
      }
    }
    sserr_clear();
    if (ssclient_connect() < 0) return give_up("need login details");
    if (!first) log(LOG_WARN, kSrc, "reconnected");
    first = false;
    C.early_death_ms = plat_ms() + kEarlyDeathMs;

    while (!C.stopping.load() && !C.abort.load()) {
      uint32_t flags = C.reset_flags.exchange(0);
      if (flags) {
        core_lock_scope lock;
        ssclient_apply_reset_flags(flags);
      }
      if (ssclient_poll() < 0) break;
    }
    end_link();
    if (C.signed_off.load() || C.stopping.load() || C.abort.load()) return leave_run(0);

    int32_t code = sserr_last_code();
    log(LOG_WARN, kSrc, "error %d", code);
    bool may = C.auto_reconnect.load() && C.may_reconnect.load();
    switch (code) {
      case kSserrLoginDisabled:
      case kSserrUpdateRequired:
        C.login_done.store(1);
        return give_up("requesting reconnect");
      case kSserrUnknownUser:
      case kSserrBadPassword:
      case kSserrTryAgain:
        return give_up("requesting reconnect");
      case kSserrResubscribe:
        log(LOG_WARN, kSrc, "can't resubscribe");
        C.login_done.store(1);
        ssio_clear_failed();
        if (!may) return give_up("requesting reconnect");
        C.reset_flags.store(kResetAfterGiveUp);
        n = 1;
        break;
      default: {
        ssnotify_record_global(kGlobalSignOnSent);
        int64_t now = plat_ms();
        if (!C.first_failure_ms) C.first_failure_ms = std::max<int64_t>(now, 1);  // 0 means none
        if (sserr_sub_code() != 0) return give_up("requesting reconnect");
        n = 1;
        if (now < C.early_death_ms) {
          n = kBackoffEarlySeconds;
          int32_t timeout = C.reconnect_timeout.load();
          if (timeout > 0 && now - C.first_failure_ms > timeout * 1000LL) {
            log(LOG_WARN, kSrc, "unable to reconnect in %ds", timeout);
            return give_up("requesting reconnect");
          }
        }
        if (!may) return give_up("requesting reconnect");
        break;
      }
    }
  }
}

int ssclient_online_followups(void) {
  if (C.stopping.load()) return -1;
  if (!C.followups_done) {
    C.followups_done = true;
    first_online_loads();
  }
  for (int32_t i : {kExchangeAsx, kExchangeNzx, kExchangeGlb, kExchangeAxo}) {
    ss_exchange* ex = ssmodel_exchange(i);
    if (!ex || !may_see(i)) continue;
    if (ssclient_private_request(kReqFundamentals, ex, 0, 0) < 0)
      log(LOG_ERROR, kSrc, "failed to enqueue notice request");
  }
  for (int32_t i = 0; i < kExchanges; i++) {
    ss_exchange* ex = ssmodel_exchange(i);
    if (!ex || !may_see(i)) continue;
    if (ssclient_private_request(kReqNewsSummaries, ex, 0, 0) < 0)
      log(LOG_ERROR, kSrc, "failed to enqueue news summary request");
  }
  C.ack_count.store(0);
  if (ssclient_private_request(kReqAck, nullptr, 0, 0) < 0) log(LOG_ERROR, kSrc, "failed to enqueue ack request");
  C.notices_pending = true;
  ssvcmp_start();
  ssclient_set_online(1);  // also lets the notices that drop data apply
  C.login_done.store(1);
  C.may_reconnect.store(1);
  ssnotify_set_paused(0);
  ssnotify_record_global(kGlobalOnlineBits);
  return 0;
}

void ssclient_signed_off(void) {
  if (C.notices_pending) sscache_save_fun();
  ssclient_set_online(0);
  C.abort.store(1);
  C.signed_off.store(1);
}

void ssclient_unstall(void) {
  if (C.abort.load()) return;
  log(LOG_WARN, kSrc, "server stalled us, recovering now");
  if (ssclient_private_request(kReqUnstall, nullptr, 0, 0) < 0) log(LOG_ERROR, kSrc, "can't request unstall");
}

void ssclient_acked(void) {
  log(LOG_INFO, kSrc, "ACKed");
  C.acked.store(1);
  C.ack_count.fetch_add(1);
}

void ssclient_clear_requested(void) {
  for (int32_t i = 0; i < kExchanges; i++) {
    ss_exchange* ex = ssmodel_exchange(i);
    if (!ex) continue;
    for (chash* t : {&ex->stocks, &ex->indices, &ex->issuers}) {
      for (uint64_t k = 0; k < t->count; k++) {
        instr* in = static_cast<instr*>(t->sorted[k]);
        in->flags &= ~kRqAllRequested;
        for (ss_day* d = in->days.head; d; d = d->next) d->flags &= ~kRqAllRequested;
      }
    }
  }
}

uint32_t ssclient_reset_flags(void) { return C.reset_flags.load(); }
void ssclient_set_reset_flags(uint32_t flags) { C.reset_flags.store(flags); }
int ssclient_acknowledged(void) { return C.acked.load(); }
int ssclient_heartbeat_outstanding(void) { return C.heartbeat_out.load(); }
