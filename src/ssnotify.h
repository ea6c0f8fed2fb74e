// Change notification: carries changes of the model from the thread that
// applies them (the io thread) to the user-interface thread, where registered
// callbacks react. Recording goes into one of two change buffers; each
// delivery swaps them under the notify lock and delivers the one just filled.
//
// Lock order: the core lock first, then the notify lock. Registrations are
// added and removed under the core lock; delivery runs on the user-interface
// thread under both locks, and callbacks run inside it.
#pragma once
#include <cstdint>

struct instr;
struct ss_event;

constexpr int kChangeEvents = 1024;  // events one change entry holds
constexpr int kChangeBlock = 128;    // entries made at a time

// Instrument change bits (event masks of ssnotify_add). The model's own bits
// (names 0x4, issuer 0x8, history 0x20000, news list 0x40000, alias
// 0x20000000) are named in ssmodel.h.
constexpr uint32_t kChangeSummary = 0x10;
constexpr uint32_t kChangeState = 0x20;
constexpr uint32_t kChangeQuoteBasis = 0x80;
constexpr uint32_t kChangeDepth = 0x100;
constexpr uint32_t kChangeQuote = 0x200;
constexpr uint32_t kChangeAuction = 0x400;
constexpr uint32_t kChangeTrade = 0x1000;
constexpr uint32_t kChangeTradeCancel = 0x2000;
constexpr uint32_t kChangeQueues = 0x4000;
constexpr uint32_t kChangeAllTrades = 0x8000;
constexpr uint32_t kChangeBackfill = 0x10000;
constexpr uint32_t kChangeNews = 0x80000;
constexpr uint32_t kChangeIndexTick = 0x100000;
constexpr uint32_t kChangeAlert = 0x200000;
constexpr uint32_t kChangeTrack = 0x400000;

// Global change bits (ssnotify_record_global; delivered to wild registrations).
constexpr uint32_t kGlobalOnline = 0x1;
constexpr uint32_t kGlobalReset = 0x2;  // also calls every instrument registration
constexpr uint32_t kGlobalMarked = 0x4;
constexpr uint32_t kGlobalNotices = 0x8;
constexpr uint32_t kGlobalOnlineA = 0x10;
constexpr uint32_t kGlobalOnlineB = 0x20;
constexpr uint32_t kGlobalExchangeState = 0x40;
constexpr uint32_t kGlobalNewsToday = 0x80000;
constexpr uint32_t kGlobalWentOnline = 0x100000;
constexpr uint32_t kGlobalTracks = 0x400000;
constexpr uint32_t kGlobalProgramUpdate = 0x800000;
constexpr uint32_t kGlobalServerError = 0x1000000;
constexpr uint32_t kGlobalUser = 0x2000000;
constexpr uint32_t kGlobalSignedOff = 0x4000000;
constexpr uint32_t kGlobalGaveUp = 0x8000000;
constexpr uint32_t kGlobalPassword = 0x10000000;
constexpr uint32_t kGlobalSignOnSent = 0x40000000;
constexpr uint32_t kGlobalFirstAck = 0x80000000;

// What a callback receives: the bits recorded since the last delivery, the
// instrument (null in a global change) and up to 1024 of its events in the
// order applied (depth events of kinds 1 to 4 set their bit only). Valid only
// during the call.
struct ss_change {
  uint32_t mask;
  instr* instrument;
  uint32_t count;
  ss_event* events[kChangeEvents];
};

// Called on the user-interface thread with the core and notify locks held. It
// may add and remove registrations (a removal inside a delivery takes effect
// at once for the callbacks still to come and is carried out at its end), and
// record changes, which go to the next delivery; it may not deliver.
typedef void (*ss_notify_fn)(const ss_change* change, void* owner, uint64_t argument, uint32_t flags);

// A registration, on one instrument or wild (all instruments).
struct ss_notify {
  uint32_t mask;
  ss_notify_fn callback;
  void* owner;
  uint64_t argument;
  uint32_t flags;
  ss_notify* prev;
  ss_notify* next;
  uint32_t dead;  // removed during a delivery: skipped, unlinked at its end
};

// Life: init makes the buffers, pools and the notify lock (-1 when no lock can
// be made); fini frees them and empties every registration list and change
// slot of the instruments still in the model.
int ssnotify_init(void);
void ssnotify_fini(void);

// Registrations (user-interface thread, core lock held). One owner has at
// most one registration per instrument and one wild one: registering again
// replaces mask, callback, argument and flags. 0, or -1 after an ERROR line.
int ssnotify_add(instr* in, uint32_t mask, ss_notify_fn callback, void* owner, uint64_t argument, uint32_t flags);
int ssnotify_add_wild(uint32_t mask, ss_notify_fn callback, void* owner, uint64_t argument, uint32_t flags);
// -1 when the owner has no registration there. Inside a delivery the removal
// is postponed to its end (0), and the registration is not called again.
int ssnotify_remove(instr* in, void* owner);
int ssnotify_remove_wild(void* owner);
uint32_t ssnotify_wild_mask(void);  // the union of the wild masks

// Recording (io thread, core lock held). Records bits and, unless null or a
// depth event of kinds 1 to 4, the event. 0, or -1 when the event cannot be
// stored: its entry is full and delivery is held, the caller is the thread
// that delivers, or the client is aborting while the io thread waits for a
// delivery (in 50 ms steps, core lock released).
int ssnotify_record(instr* in, uint32_t bits, ss_event* event);
int ssnotify_record_global(uint32_t bits);

// Delivery (user-interface thread, core lock held, from the 10 ms timer).
// 0; -1 after an ERROR line when called from inside a callback.
int ssnotify_deliver(void);
// 1 on the delivering thread while a delivery runs (inside callbacks): the
// core lock must not be released there.
int ssnotify_in_delivery(void);

// Holding delivery: on adds one, off takes one away ("prevention underflow!"
// below 0). Nothing is delivered while the count is above 0.
void ssnotify_hold(int on);
void ssnotify_set_paused(int on);   // nothing is recorded while paused
void ssnotify_set_enabled(int on);  // stays off after ssnotify_disable
void ssnotify_disable(void);        // recording off for good (shutdown)
// on clears the instrument's muted bit (unless disabled for good); off sets it.
void ssnotify_mark_instr(instr* in, int on);
void ssnotify_locking_forced(void);

// The wait of a full change entry on the io thread: `sleep` (which gives the
// core lock up meanwhile) and `aborted` (1 ends the wait and drops the event).
// The engine's start-up installs the client's io sleep and abort flag, so
// that the model calls nothing above it; without them the wait sleeps with
// the platform's sleep and is never aborted. Kept across init and fini.
void ssnotify_set_wait_hooks(void (*sleep)(int32_t ms), int (*aborted)(void));

// For the event module's trimming: the first event other than an alert in
// each of the instrument's two pending change entries (null where none).
void ssnotify_pending_events(const instr* in, ss_event* first[2]);
