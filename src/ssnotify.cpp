// Change notification: the io thread records change bits and applied events
// on instruments; the user-interface thread delivers them to registered
// callbacks every 10 ms. Recording fills one of two buffers of change entries
// (one entry per instrument, found through the instrument's own slot) and a
// delivery flips the current buffer under the notify lock, so recording goes
// on into the other one. The notify lock is not recursive and callbacks run
// while the delivering thread holds it, so everything that takes the lock
// skips it on the delivering thread during a delivery (t_delivering).
#include "ssnotify.h"

#include <atomic>
#include <thread>

#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "pool.h"
#include "ssevent.h"
#include "ssmodel.h"

static const char kSrc[] = "src/ssnotify";

namespace {

constexpr int32_t kNotifyPerPage = 250;
constexpr int32_t kPostponedPerPage = 100;
constexpr int32_t kFullWaitMs = 50;
// Every instrument has at most one entry per buffer, so this is far above any
// real need; it only bounds the array.
constexpr int32_t kChangeEntriesMax = 1 << 18;

struct change_buffer {
  ss_change** entries;  // entry blocks of kChangeBlock, the first of each block at i % kChangeBlock == 0
  int32_t used;
  int32_t capacity;
};

// A removal asked for during a delivery: instrument (null: wild) and owner.
struct postponed {
  instr* in;
  void* owner;
  postponed* next;
};

}  // namespace

static struct {
  bool ready;
  plat_slot lock = -1;
  // Guarded by the notify lock.
  int cur;
  change_buffer buf[2];
  uint32_t global[2];
  int32_t hold;
  // Registrations: changed under the core lock on the user-interface thread.
  ss_list<ss_notify> wild;
  std::atomic<uint32_t> wild_mask;
  pool notifies;
  pool postpones;
  postponed* postponed_head;  // the last postponed first
  // Flags any thread may read.
  std::atomic<int> enabled;
  std::atomic<int> disabled;
  std::atomic<int> paused;
  std::atomic<int> delivering;
  std::atomic<std::thread::id> ui_thread;  // the thread that last delivered
  ss_change scratch;                       // the change handed out for global bits and the reset pass
} S;

// The full-entry wait's hooks (ssnotify_set_wait_hooks).
static std::atomic<void (*)(int32_t)> g_wait_sleep{nullptr};
static std::atomic<int (*)(void)> g_wait_aborted{nullptr};

static void wait_sleep(int32_t ms) {
  if (void (*fn)(int32_t) = g_wait_sleep.load())
    fn(ms);
  else
    plat_sleep_ms(ms);
}

static int wait_aborted() {
  int (*fn)(void) = g_wait_aborted.load();
  return fn ? fn() : 0;
}

void ssnotify_set_wait_hooks(void (*sleep)(int32_t ms), int (*aborted)(void)) {
  g_wait_sleep.store(sleep);
  g_wait_aborted.store(aborted);
}

// True on the delivering thread while it holds the notify lock for a delivery.
static thread_local bool t_delivering = false;

namespace {

// The notify lock, unless this thread already holds it for a delivery (a
// guard on slot -1 takes nothing).
plat_slot notify_slot() { return t_delivering ? -1 : S.lock; }

// Marks the delivery as running for as long as it exists.
class delivery_mark {
 public:
  delivery_mark() {
    S.delivering.store(1);
    t_delivering = true;
  }
  ~delivery_mark() {
    t_delivering = false;
    S.delivering.store(0);
  }
  delivery_mark(const delivery_mark&) = delete;
  delivery_mark& operator=(const delivery_mark&) = delete;
};

// The next free entry of a buffer, growing it by a block when all are taken.
ss_change* take_entry(change_buffer* b) {
  if (b->used == b->capacity) {
    int32_t capacity = b->capacity + kChangeBlock;
    if (capacity > kChangeEntriesMax) {
      log(LOG_ERROR, kSrc, "can't alloc space for %d changes", capacity);
      return nullptr;
    }
    b->entries =
        static_cast<ss_change**>(dalloc_realloc(b->entries, static_cast<int32_t>(sizeof(ss_change*)) * capacity));
    ss_change* block = static_cast<ss_change*>(dalloc_alloc(static_cast<int32_t>(sizeof(ss_change)) * kChangeBlock));
    for (int32_t i = 0; i < kChangeBlock; i++) b->entries[b->capacity + i] = &block[i];
    b->capacity = capacity;
  }
  return b->entries[b->used++];
}

void free_buffer(change_buffer* b) {
  for (int32_t i = 0; i < b->capacity; i += kChangeBlock) dalloc_free(b->entries[i]);
  if (b->entries) dalloc_free(b->entries);
  *b = change_buffer{};
}

ss_notify* find_owner(const ss_list<ss_notify>& list, const void* owner) {
  for (ss_notify* r = list.head; r; r = r->next)
    if (r->owner == owner) return r;
  return nullptr;
}

void append(ss_list<ss_notify>* list, ss_notify* r) {
  r->next = nullptr;
  r->prev = list->tail;
  if (list->tail)
    ssmodel_publish(list->tail->next, r);
  else
    ssmodel_publish(list->head, r);
  ssmodel_publish(list->tail, r);
  ssmodel_publish(list->count, list->count + 1);
}

void unlink(ss_list<ss_notify>* list, ss_notify* r) {
  if (r->prev)
    ssmodel_publish(r->prev->next, r->next);
  else
    ssmodel_publish(list->head, r->next);
  if (r->next)
    ssmodel_publish(r->next->prev, r->prev);
  else
    ssmodel_publish(list->tail, r->prev);
  ssmodel_publish(list->count, list->count - 1);
}

void recompute_wild_mask() {
  uint32_t m = 0;
  for (ss_notify* r = S.wild.head; r; r = r->next)
    if (!r->dead) m |= r->mask;
  S.wild_mask.store(m);
}

// A re-add by the same owner during a delivery cancels its postponed removal.
void cancel_postponed(const instr* in, const void* owner) {
  for (postponed** p = &S.postponed_head; *p;) {
    if ((*p)->in == in && (*p)->owner == owner) {
      postponed* gone = *p;
      *p = gone->next;
      pool_free(&S.postpones, gone);
    } else {
      p = &(*p)->next;
    }
  }
}

int add_to(ss_list<ss_notify>* list, instr* in, uint32_t mask, ss_notify_fn callback, void* owner, uint64_t argument,
           uint32_t flags, const char* fail_text) {
  ss_notify* r = find_owner(*list, owner);
  if (r) {
    if (r->dead) cancel_postponed(in, owner);
    r->mask = mask;
    r->callback = callback;
    r->argument = argument;
    r->flags = flags;
    r->dead = 0;
    return 0;
  }
  r = static_cast<ss_notify*>(pool_alloc(&S.notifies));
  if (!r) {
    log(LOG_ERROR, kSrc, "can't alloc notify struct");
    log(LOG_ERROR, kSrc, "%s", fail_text);
    return -1;
  }
  *r = ss_notify{mask, callback, owner, argument, flags, nullptr, nullptr, 0};
  append(list, r);
  return 0;
}

int remove_from(ss_list<ss_notify>* list, instr* in, void* owner) {
  ss_notify* r = find_owner(*list, owner);
  if (!r || r->dead) {
    log(LOG_DEBUG, kSrc, "no notify of %p on %s", owner, in ? in->code : "wild list");
    return -1;
  }
  if (S.delivering.load()) {
    // The delivery may be walking this list: mark the registration dead so it
    // is not called again, and unlink it once the delivery is over.
    postponed* p = static_cast<postponed*>(pool_alloc(&S.postpones));
    if (!p) {
      log(LOG_ERROR, kSrc, "can't alloc space to postpone removal");
      return -1;
    }
    *p = postponed{in, owner, S.postponed_head};
    S.postponed_head = p;
    r->dead = 1;
    return 0;
  }
  unlink(list, r);
  pool_free(&S.notifies, r);
  return 0;
}

void carry_out_postponed() {
  while (postponed* p = S.postponed_head) {
    S.postponed_head = p->next;
    ss_list<ss_notify>* list = p->in ? &p->in->notify : &S.wild;
    ss_notify* r = find_owner(*list, p->owner);
    if (r && r->dead) {
      unlink(list, r);
      pool_free(&S.notifies, r);
    }
    pool_free(&S.postpones, p);
  }
}

// Calls the live registrations of a list whose mask meets `meet` (all of them
// when meet is 0), walking no further than the count at the start so that
// registrations added by the callbacks wait for the next delivery.
void call_list(const ss_list<ss_notify>& list, const ss_change* change, uint32_t meet) {
  uint32_t n = list.count;
  ss_notify* r = list.head;
  for (uint32_t k = 0; k < n && r; k++, r = r->next)
    if (!r->dead && (meet == 0 || (r->mask & meet))) r->callback(change, r->owner, r->argument, r->flags);
}

// Calls fn on every stock, issuer and index of every exchange in the model,
// in each table's sorted order.
template <class Fn>
void each_instrument(Fn fn) {
  for (int32_t x = 0; x < kExchanges; x++) {
    ss_exchange* ex = ssmodel_exchange(x);
    if (!ex) continue;
    for (chash* t : {&ex->stocks, &ex->issuers, &ex->indices})
      for (uint64_t i = 0; i < t->count; i++) fn(static_cast<instr*>(t->sorted[i]));
  }
}

// The model was reset: every registration of every instrument hears of it,
// whatever its mask.
void deliver_reset() {
  each_instrument([](instr* in) {
    if (!in->notify.count) return;
    S.scratch.mask = kGlobalReset;
    S.scratch.instrument = in;
    S.scratch.count = 0;
    call_list(in->notify, &S.scratch, 0);
  });
}

// Empties the registration lists and change slots of every instrument still
// in the model (the entries and registrations are about to be freed).
void forget_instruments() {
  each_instrument([](instr* in) {
    ssmodel_publish(in->notify.head, nullptr);
    ssmodel_publish(in->notify.tail, nullptr);
    ssmodel_publish(in->notify.count, 0u);
    in->change[0] = in->change[1] = nullptr;
  });
}

}  // namespace

// ===========================================================================
// Life

int ssnotify_init(void) {
  if (S.ready) ssnotify_fini();
  S.lock = plat_mutex_create();
  if (S.lock < 0) {
    log(LOG_ERROR, kSrc, "can't create notify lock");
    return -1;
  }
  if (pool_init(&S.notifies, kNotifyPerPage, sizeof(ss_notify)) < 0 ||
      pool_init(&S.postpones, kPostponedPerPage, sizeof(postponed)) < 0) {
    plat_mutex_destroy(S.lock);
    S.lock = -1;
    return -1;
  }
  S.cur = 0;
  S.global[0] = S.global[1] = 0;
  S.hold = 0;
  for (change_buffer& b : S.buf) {
    b = change_buffer{};
    take_entry(&b);  // makes the first block
    b.used = 0;
  }
  S.wild = ss_list<ss_notify>{};
  S.wild_mask.store(0);
  S.postponed_head = nullptr;
  S.enabled.store(1);
  S.disabled.store(0);
  S.paused.store(0);
  S.delivering.store(0);
  S.ui_thread.store(std::thread::id());
  S.ready = true;
  return 0;
}

void ssnotify_fini(void) {
  if (!S.ready) return;
  S.ready = false;
  forget_instruments();
  for (change_buffer& b : S.buf) free_buffer(&b);
  pool_destroy(&S.notifies);
  pool_destroy(&S.postpones);
  S.wild = ss_list<ss_notify>{};
  S.wild_mask.store(0);
  S.postponed_head = nullptr;
  plat_mutex_destroy(S.lock);
  S.lock = -1;
}

// ===========================================================================
// Registrations

int ssnotify_add(instr* in, uint32_t mask, ss_notify_fn callback, void* owner, uint64_t argument, uint32_t flags) {
  if (!in) {
    log(LOG_ERROR, kSrc, "instr is NULL");
    return -1;
  }
  return add_to(&in->notify, in, mask, callback, owner, argument, flags, "can't alloc notify");
}

int ssnotify_add_wild(uint32_t mask, ss_notify_fn callback, void* owner, uint64_t argument, uint32_t flags) {
  int rc = add_to(&S.wild, nullptr, mask, callback, owner, argument, flags, "can't alloc wild notify");
  recompute_wild_mask();
  return rc;
}

int ssnotify_remove(instr* in, void* owner) {
  if (!in) {
    log(LOG_ERROR, kSrc, "instr is NULL");
    return -1;
  }
  return remove_from(&in->notify, in, owner);
}

int ssnotify_remove_wild(void* owner) {
  int rc = remove_from(&S.wild, nullptr, owner);
  recompute_wild_mask();
  return rc;
}

uint32_t ssnotify_wild_mask(void) { return S.wild_mask.load(); }

// ===========================================================================
// Recording

namespace {

// ssnotify_record past its quick refusals: the entry of the current buffer,
// under the notify lock. Kept out of line so that the refusals, which most
// calls end in, do not pay for this part's registers and frame.
[[gnu::noinline]] int record_in_entry(instr* in, uint32_t bits, ss_event* event) {
  plat_lock_guard lk(notify_slot());
  for (;;) {
    change_buffer* b = &S.buf[S.cur];
    ss_change* e = in->change[S.cur];
    if (!e) {
      e = take_entry(b);
      if (!e) return -1;
      e->mask = bits;
      e->instrument = in;
      e->count = 0;
      if (event) e->events[e->count++] = event;
      in->change[S.cur] = e;
      return 0;
    }
    if (e->instrument != in) log(LOG_ERROR, kSrc, "owner mismatch: %s %s", e->instrument->code, in->code);
    e->mask |= bits;
    if (!event) return 0;
    if (e->count < static_cast<uint32_t>(kChangeEvents)) {
      e->events[e->count++] = event;
      return 0;
    }
    // The entry is full: only a delivery makes room.
    if (S.hold > 0) {
      log(LOG_ERROR, kSrc, "can't record %s event and locked", in->code);
      return -1;
    }
    if (t_delivering || S.ui_thread.load() == std::this_thread::get_id()) {
      // Waiting here would wait for this very thread.
      log(LOG_ERROR, kSrc, "can't record %s event on the delivering thread", in->code);
      return -1;
    }
    log(LOG_WARN, kSrc, "can't record %s event, pausing", in->code);
    lk.unlock();
    wait_sleep(kFullWaitMs);
    if (wait_aborted()) {
      log(LOG_WARN, kSrc, "dropped %s event: aborting", in->code);
      return -1;
    }
    lk.lock();
  }
}

}  // namespace

int ssnotify_record(instr* in, uint32_t bits, ss_event* event) {
  if (!S.ready || !S.enabled.load() || S.paused.load()) return 0;
  if (!in) {
    log(LOG_ERROR, kSrc, "instr is NULL");
    return 0;
  }
  if (in->flags & kInMuted) return 0;
  // Nobody listens: registrations and the wild mask change only under the
  // core lock, which the recording thread holds.
  if (!(bits & S.wild_mask.load()) && ssmodel_load(in->notify.count) == 0) return 0;
  // Depth events are many and the windows rebuild depth from the model: only
  // their bit travels.
  if (event && event->kind >= kEvDepthAdd && event->kind <= kEvDepthClear) event = nullptr;
  return record_in_entry(in, bits, event);
}

int ssnotify_record_global(uint32_t bits) {
  if (!S.ready) return 0;
  plat_lock_guard lk(notify_slot());
  S.global[S.cur] |= bits;
  return 0;
}

// ===========================================================================
// Delivery

int ssnotify_deliver(void) {
  if (!S.ready) return 0;
  if (t_delivering) {
    log(LOG_ERROR, kSrc, "can't deliver from inside a change callback");
    return -1;
  }
  plat_lock_guard lk(notify_slot());
  S.ui_thread.store(std::this_thread::get_id());
  if (S.hold > 0) return 0;
  int old = S.cur;
  S.cur = old ^ 1;
  {
    delivery_mark mark;
    change_buffer* b = &S.buf[old];
    // Entries taken by callbacks go to the other buffer, so `used` is fixed.
    for (int32_t i = 0; i < b->used; i++) {
      ss_change* e = b->entries[i];
      instr* in = e->instrument;
      call_list(in->notify, e, e->mask);
      call_list(S.wild, e, e->mask);
      in->change[old] = nullptr;
    }
    b->used = 0;
    uint32_t g = S.global[old];
    S.global[old] = 0;
    if (g) {
      S.scratch.mask = g;
      S.scratch.instrument = nullptr;
      S.scratch.count = 0;
      call_list(S.wild, &S.scratch, g);
      if (g & kGlobalReset) deliver_reset();
    }
  }
  carry_out_postponed();
  return 0;
}

int ssnotify_in_delivery(void) { return t_delivering ? 1 : 0; }

// ===========================================================================
// Switches

void ssnotify_hold(int on) {
  if (!S.ready) return;
  plat_lock_guard lk(notify_slot());
  if (on) {
    S.hold++;
  } else if (S.hold == 0) {
    log(LOG_ERROR, kSrc, "prevention underflow!");
  } else {
    S.hold--;
  }
}

void ssnotify_set_paused(int on) { S.paused.store(on ? 1 : 0); }

void ssnotify_set_enabled(int on) { S.enabled.store(on && !S.disabled.load() ? 1 : 0); }

void ssnotify_disable(void) {
  S.disabled.store(1);
  S.enabled.store(0);
}

void ssnotify_mark_instr(instr* in, int on) {
  if (!in) return;
  if (!on)
    in->flags |= kInMuted;
  else if (!S.disabled.load())
    in->flags &= ~kInMuted;
}

void ssnotify_locking_forced(void) { log(LOG_WARN, kSrc, "locking forced"); }

void ssnotify_pending_events(const instr* in, ss_event* first[2]) {
  first[0] = first[1] = nullptr;
  if (!S.ready) return;
  plat_lock_guard lk(notify_slot());
  for (int b = 0; b < 2; b++) {
    const ss_change* e = in->change[b];
    if (!e) continue;
    for (uint32_t k = 0; k < e->count; k++) {
      if (e->events[k]->kind != kEvAlert) {
        first[b] = e->events[k];
        break;
      }
    }
  }
}
