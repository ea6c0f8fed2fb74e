// Inside the client: what the client's face (ssclient.cpp), its io thread
// (ssclient_io.cpp) and the request encoder (ssclient_encode.cpp) share. Not
// part of the client's face; the tests of the client include it to look at
// the ring and the private list.
#pragma once
#include <atomic>
#include <cstdint>

#include "growbuf.h"
#include "plat.h"
#include "pool.h"
#include "ssclient.h"
#include "ssmodel.h"

// What the request encoder uses ----------------------------------------------

// Io thread side of the ring: the span [*tail, *head) to encode (slots
// modulo 256), a slot, and the new tail once the span is done.
void ssclient_ring_span(uint32_t* tail, uint32_t* head);
ss_request* ssclient_ring_slot(uint32_t slot);
void ssclient_ring_consume(uint32_t new_tail);

// The io thread's private list (filled by ssclient_private_request).
int32_t ssclient_private_count(void);
ss_request* ssclient_private_entry(int32_t i);
void ssclient_private_clear(void);

// Records the request pools hand out; the encoder gives them back.
void ssclient_free_http_request(ss_http_request* req);
void ssclient_free_request_buffer(growbuf* gb);

// The send buffer every encoding pass fills, and the pass-running mark.
growbuf* ssclient_send_buffer(void);
void ssclient_set_encoding(int on);
int ssclient_encoding(void);
// Idle deadline of the link: 0, or a time on the monotonic clock (plat_ms)
// after which a quiet link gets a heartbeat; set when a request set went.
void ssclient_set_idle_deadline(int64_t ms);
int64_t ssclient_idle_deadline(void);

// The client's state (ssclient.cpp and ssclient_io.cpp) ------------------------

constexpr int kLoginField = 32;  // bytes, the last always 0
constexpr int32_t kDefaultReconnectTimeout = 20;
constexpr int32_t kHousekeepingInterval = 5;
constexpr uint32_t kDefaultYieldThreshold = 10000;
constexpr uint32_t kDefaultYieldPause = 100;
constexpr uint32_t kPlatformCode = 6;  // Linux x86_64; its program files carry "_L64"

// A news item or company profile the user opened.
struct usage_rec {
  uint32_t kind;  // 110 or 111
  uint32_t exchange;
  char code[kCodeSize];
  uint32_t number;
  ss_time time;
  usage_rec* next;
};

class poll_pass_lock;  // ssclient_io.cpp

struct client_state {
  // Set once by init, widened by the io thread after a link that was online.
  std::atomic<uint32_t> options{0};
  char site[kLoginField];
  char user[kLoginField];
  char password[kLoginField];

  // Client state flags, read through the getters from either thread.
  std::atomic<int> logged_in{0}, connecting{0}, online{0}, login_done{0}, restart_pending{0};
  std::atomic<int> may_reconnect{0}, stopping{0}, abort{0}, signed_off{0}, dropped{0};
  std::atomic<uint32_t> session{0};
  std::atomic<ss_time> last_data{0};
  std::atomic<int64_t> idle_deadline{0};  // plat_ms; written by the encoding pass
  std::atomic<uint32_t> ack_count{0};
  std::atomic<uint64_t> signon_bytes{0};
  std::atomic<int> encoding{0};

  // Settings.
  std::atomic<int32_t> reconnect_timeout{kDefaultReconnectTimeout};
  std::atomic<int> auto_reconnect{1};
  std::atomic<int> requests_enabled{1};
  int32_t housekeeping = kHousekeepingInterval;
  std::atomic<uint32_t> yield_threshold{kDefaultYieldThreshold};
  std::atomic<uint32_t> yield_pause{kDefaultYieldPause};
  std::atomic<int> yield_enabled{1};
  std::atomic<ssclient_sleep_fn> sleep_hook{nullptr};
  uint32_t platform = kPlatformCode;

  // Core lock and who holds or wants it.
  std::atomic<plat_slot> core_lock{-1};
  std::atomic<int> io_holds{0}, ui_holds{0}, ui_waits{0};
  uint32_t work = 0;          // io thread only
  uint32_t quick_yields = 0;  // io thread only
  std::atomic<int> threshold_set{0};

  // The request ring: head is written by the user-interface thread only,
  // tail by the io thread only.
  ss_request ring[kRequestRingSlots];
  std::atomic<uint32_t> head{0}, tail{0};

  // The io thread's private list.
  ss_request priv[kPrivateRequestsMax];
  int32_t priv_count = 0;
  // Partial depth requests made per stock (io thread).

  // Usage log, oldest first.
  usage_rec* usage_head = nullptr;
  usage_rec* usage_tail = nullptr;
  int32_t usage_count = 0;

  pool http_pool{}, subsys_pool{}, growbuf_pool{}, usage_pool{};
  growbuf send{};
  int stage = 0;  // init_stage of ssclient.cpp
  std::atomic<int32_t> http_ids{0};

  // The io thread's link. Every deadline is on the monotonic clock (plat_ms,
  // 0 for none), so a wall-clock step or a daylight-saving change neither
  // fires nor suppresses one.
  int64_t early_death_ms = 0;     // the link died early before this: back off longer
  int64_t last_data_ms = 0;       // bytes came, or the link started or signed on
  int64_t reply_deadline_ms = 0;  // a heartbeat went and wants an answer by then
  int64_t first_failure_ms = 0;   // the first lost link since the last sign on
  int64_t last_second = -1;       // of the last once-a-second housekeeping
  int64_t next_housekeeping = 0;  // second of the next five-second housekeeping
  ss_time last_wall = 0;          // local time at the last housekeeping
  std::atomic<int> heartbeat_out{0};  // read by tests from another thread
  bool followups_done = false;    // the once-only part of going online
  bool notices_pending = false;   // minimal: the notices module keeps it later
  std::atomic<uint32_t> reset_flags{0};
  std::atomic<int> acked{0};      // the acknowledged state
  poll_pass_lock* pass = nullptr; // the running poll pass's core lock (io thread)
};

extern client_state ssclient_state;

namespace ssclient_detail {

inline client_state& C = ssclient_state;

// The platform sleep, or the installed sleep hook; touches no lock.
void plain_sleep(int32_t ms);

inline ss_time date_of(ss_time t) { return t & ~kSstimeSecondsMask; }

}  // namespace ssclient_detail
