// Alert filters: a global list of filters, each naming the alert kinds it
// wants and conditions on the instrument; every alert the events raise is
// recorded once per matching filter.
//
// The list is walked in full for every alert. That is O(filters) per alert,
// which is fine for the few dozen tickers a user opens; the pools cap it.
#include "ssalert.h"

#include "log.h"
#include "pool.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssutil.h"

static const char kSrc[] = "src/ssalert";

namespace {

constexpr int32_t kFilterPoolSize = 50;
constexpr int32_t kEntryPoolSize = 100;

// The masks live in the filter, the registrations in entries of their own,
// so one filter may be registered, dropped and registered again.
struct alert_entry {
  ssalert_filter* filter;
  alert_entry* prev;
  alert_entry* next;
};

struct {
  pool filters;
  pool entries;
  alert_entry* head;
  alert_entry* tail;
  int count;
  bool ready;
} A;

// Whether each condition bit holds for the instrument.
uint32_t conditions_of(const instr* in) {
  uint32_t c = 0;
  if (in->kind == kKindIndex) c |= kAlertCondIndex;
  if (in->kind == kKindStock && ssutil_nzx_plain_code(static_cast<const ss_stock*>(in))) c |= kAlertCondPlain;
  if (in->flags & kInHeld) c |= kAlertCondHeld;
  return c;
}

}  // namespace

int ssalert_init(void) {
  A.head = A.tail = nullptr;
  A.count = 0;
  if (pool_init(&A.filters, kFilterPoolSize, sizeof(ssalert_filter)) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc alerts");
    return -1;
  }
  if (pool_init(&A.entries, kEntryPoolSize, sizeof(alert_entry)) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc proxies");
    pool_destroy(&A.filters);
    return -1;
  }
  A.ready = true;
  return 0;
}

void ssalert_fini(void) {
  if (!A.ready) return;
  pool_destroy(&A.entries);
  pool_destroy(&A.filters);
  A.head = A.tail = nullptr;
  A.count = 0;
  A.ready = false;
}

ssalert_filter* ssalert_new(void) {
  ssalert_filter* f = A.ready ? static_cast<ssalert_filter*>(pool_alloc(&A.filters)) : nullptr;
  if (!f) {
    log(LOG_ERROR, kSrc, "can't alloc alert");
    return nullptr;
  }
  *f = ssalert_filter{};
  return f;
}

void ssalert_clear_types(ssalert_filter* f) { f->kinds = 0; }
void ssalert_add_types(ssalert_filter* f, uint32_t bits) { f->kinds |= bits; }
void ssalert_clear_kinds(ssalert_filter* f) { f->require = 0; }
void ssalert_add_kinds(ssalert_filter* f, uint32_t bits) { f->require |= bits; }
void ssalert_clear_conds(ssalert_filter* f) { f->exclude = 0; }
void ssalert_add_conds(ssalert_filter* f, uint32_t bits) { f->exclude |= bits; }

int ssalert_register(ssalert_filter* f) {
  alert_entry* e = A.ready ? static_cast<alert_entry*>(pool_alloc(&A.entries)) : nullptr;
  if (!e) {
    log(LOG_ERROR, kSrc, "can't alloc proxy");
    return -1;
  }
  e->filter = f;
  e->next = nullptr;
  e->prev = A.tail;
  if (A.tail)
    A.tail->next = e;
  else
    A.head = e;
  A.tail = e;
  A.count++;
  return 0;
}

int ssalert_unregister(ssalert_filter* f) {
  alert_entry* e = A.head;
  while (e && e->filter != f) e = e->next;
  if (!e) return -1;
  (e->prev ? e->prev->next : A.head) = e->next;
  (e->next ? e->next->prev : A.tail) = e->prev;
  A.count--;
  pool_free(&A.entries, e);
  return 0;
}

int ssalert_count(void) { return A.count; }

int ssalert_match(ssalert_filter* f, instr* in, ss_time time, uint32_t bits, void* payload) {
  if (!(f->kinds & bits)) return 0;
  uint32_t c = conditions_of(in);
  if ((c & f->require) != f->require) return 0;
  if (c & f->exclude) return 0;
  ssevent_record_alert(in, f, time, bits, payload);
  return 1;
}

namespace {

// The walk of ssalert_fire, out of line so that the usual case of no
// registered filter returns before this part's frame is built.
[[gnu::noinline]] int fire_all(instr* in, ss_time time, uint32_t bits, void* payload) {
  int n = 0;
  for (alert_entry* e = A.head; e; e = e->next) n += ssalert_match(e->filter, in, time, bits, payload);
  return n;
}

}  // namespace

int ssalert_fire(instr* in, ss_time time, uint32_t bits, void* payload) {
  if (!in || !A.head) return 0;
  return fire_all(in, time, bits, payload);
}
