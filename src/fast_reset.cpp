// Fast reset: lets the daily reset of a large exchange hand every stock's
// depth and event lists to a queue in one move per stock; the io thread's
// housekeeping then frees the queue in slices of at most 250 ms.
//
// A slice copies a record's fields into a zeroed scratch stock and lets the
// model free them from there, so the freeing itself (and its deferral past
// lock-free readers) is the model's ordinary code, not a second copy here.
#include "fast_reset.h"

#include "log.h"
#include "plat.h"
#include "pool.h"
#include "ssevent.h"
#include "ssmodel.h"

static const char kSrc[] = "src/fast_reset";

namespace {

constexpr int32_t kRecordsPerPage = 10000;
constexpr int32_t kScratchSet = 3;  // the model's work set a slice borrows

// The detached fields of one stock.
struct reset_record {
  ss_list<ss_depth_break> breaks[2];
  ss_depth_level* levels[2];
  ss_event_list events;
  reset_record* prev;
  reset_record* next;
};

struct {
  int enabled;
  bool ready;
  pool records;
  reset_record* head;  // oldest
  reset_record* tail;
  int count;
} F;

reset_record* take_oldest(void) {
  reset_record* r = F.head;
  if (!r) return nullptr;
  F.head = r->next;
  if (F.head)
    F.head->prev = nullptr;
  else
    F.tail = nullptr;
  F.count--;
  return r;
}

// Hands one record's lists to the model's freeing and gives the record back.
void free_record(reset_record* r) {
  ss_stock* s = ssmodel_scratch_stock(kScratchSet);
  for (int side = 0; side < 2; side++) {
    s->breaks[side] = r->breaks[side];
    s->levels[side] = r->levels[side];
  }
  s->events = r->events;
  ssmodel_free_depth(s);
  ssmodel_free_depth_breaks(s);
  ssevent_free_events(s);
  pool_free(&F.records, r);
}

}  // namespace

int fast_reset_init(void) {
  F.enabled = 0;
  F.head = F.tail = nullptr;
  F.count = 0;
  if (pool_init(&F.records, kRecordsPerPage, sizeof(reset_record)) < 0) return -1;
  F.ready = true;
  return 0;
}

void fast_reset_fini(void) {
  if (!F.ready) return;
  // The model stops this module after the events and deferred freeing, just
  // before it destroys its pools, which hold every level, order, break and
  // event still queued: the records are dropped, not walked.
  F.head = F.tail = nullptr;
  F.count = 0;
  pool_destroy(&F.records);
  F.enabled = 0;
  F.ready = false;
}

void fast_reset_enable(int on) { F.enabled = on ? 1 : 0; }

int fast_reset_enabled(void) { return F.enabled; }

int fast_reset_pending(void) { return F.count; }

int fast_reset_queue(ss_exchange* ex) {
  if (!F.enabled || !F.ready || !ex) return 0;
  int64_t start = plat_ms();
  int queued = 0;
  // The event module's summary memo may name a level that leaves here.
  ssevent_clear_pending();
  for (uint64_t i = 0; i < ex->stocks.count; i++) {
    ss_stock* s = static_cast<ss_stock*>(ex->stocks.sorted[i]);
    if (!s->levels[0] && !s->levels[1] && !s->breaks[0].head && !s->breaks[1].head && !s->events.oldest) continue;
    auto* r = static_cast<reset_record*>(pool_alloc(&F.records));
    if (!r) break;  // the reset frees what is left itself
    for (int side = 0; side < 2; side++) {
      r->breaks[side] = s->breaks[side];
      ssmodel_publish(s->breaks[side].count, 0u);
      ssmodel_publish(s->breaks[side].head, nullptr);
      ssmodel_publish(s->breaks[side].tail, nullptr);
      r->levels[side] = s->levels[side];
      ssmodel_publish(s->levels[side], nullptr);
    }
    ssevent_forget_depth(s);
    r->events = s->events;
    ssmodel_publish(s->events.count, 0u);
    ssmodel_publish(s->events.newest, nullptr);
    ssmodel_publish(s->events.oldest, nullptr);
    r->next = nullptr;
    r->prev = F.tail;
    (F.tail ? F.tail->next : F.head) = r;
    F.tail = r;
    F.count++;
    queued++;
  }
  log(LOG_INFO, kSrc, "%d stocks queued for reset in %ldms", F.count, static_cast<long>(plat_ms() - start));
  return queued;
}

int fast_reset_free(void) {
  if (!F.head) return 0;
  int64_t start = plat_ms();
  int freed = 0;
  while (F.head) {
    free_record(take_oldest());
    freed++;
    if (plat_ms() - start >= kFastResetSliceMs) break;
  }
  log(LOG_INFO, kSrc, "freed %d/%d", freed, freed + F.count);
  return 1;
}
