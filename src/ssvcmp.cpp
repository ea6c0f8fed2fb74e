// Volume comparison: applies the server's quarter-hour comparison sets to the
// stocks of the exchanges the user may see, second by second on each
// exchange's clock.
//
// A set tells, per stock and reference, the volume done before its quarter
// and how the quarter's volume spreads over fifteen minutes; each marked
// minute becomes an update record in that minute's bucket, which adds its
// volume a second at a time. Every second of an exchange's clock is applied
// once: the exchange remembers the last second it applied, so a catch-up and
// the ticks that follow never count a second twice.
#include "ssvcmp.h"

#include <cmath>
#include <cstring>

#include "dalloc.h"
#include "decode.h"
#include "log.h"
#include "plat.h"
#include "ssmodel.h"
#include "ssuser.h"
#include "ssutil.h"

static const char kSrc[] = "src/ssvcmp";

const float kVcmpFactors[256] = {
    8.5719e-07f, 1.95815e-06f, 3.07927e-06f, 4.96453e-06f, 7.29185e-06f, 1.156714e-05f, 1.657015e-05f,
    2.117479e-05f, 2.68273e-05f, 3.212607e-05f, 3.796973e-05f, 4.418227e-05f, 5.41294e-05f, 6.504609e-05f,
    7.651217e-05f, 9.065399e-05f, 0.00010728693f, 0.00012319976f, 0.00013928502f, 0.00016797558f,
    0.00020109046f, 0.00023135888f, 0.000260876f, 0.00029080015f, 0.00032589905f, 0.00036837332f,
    0.00041622669f, 0.00047542484f, 0.0005377706f, 0.00059888227f, 0.0006715275f, 0.0007714367f,
    0.00084786385f, 0.00091074547f, 0.0010017345f, 0.0011201542f, 0.0012389671f, 0.0013524847f,
    0.0014533739f, 0.0015467335f, 0.0016707206f, 0.0018207065f, 0.0019540996f, 0.0021053168f, 0.002283458f,
    0.0024422132f, 0.0026137219f, 0.0027650623f, 0.0029105572f, 0.003077526f, 0.0032712666f, 0.0034775059f,
    0.003725463f, 0.003959526f, 0.004187732f, 0.004422577f, 0.004608961f, 0.004781425f, 0.005024288f,
    0.0053462205f, 0.0056948145f, 0.0059844004f, 0.006193776f, 0.006538127f, 0.0069389134f, 0.007205712f,
    0.0074229464f, 0.00782416f, 0.008235589f, 0.008496959f, 0.008869008f, 0.009278594f, 0.00960893f,
    0.010002926f, 0.010336713f, 0.010712452f, 0.011301117f, 0.011919108f, 0.012469386f, 0.013063973f,
    0.013726301f, 0.014146485f, 0.014473927f, 0.0149911055f, 0.015517409f, 0.015909558f, 0.016425004f,
    0.01697256f, 0.017378796f, 0.018132385f, 0.018818675f, 0.019248078f, 0.019775458f, 0.02026053f,
    0.020686232f, 0.021060092f, 0.021570811f, 0.0222412f, 0.022941915f, 0.02360698f, 0.0242022f, 0.024996037f,
    0.025629323f, 0.025986511f, 0.026361108f, 0.026799504f, 0.027358908f, 0.027792983f, 0.028101021f,
    0.028992701f, 0.03010971f, 0.03095291f, 0.031740796f, 0.032273084f, 0.032981306f, 0.034278147f,
    0.03556837f, 0.03635924f, 0.03728832f, 0.03825022f, 0.039024472f, 0.039748803f, 0.04050626f, 0.041373212f,
    0.042136107f, 0.042846337f, 0.04400971f, 0.04525318f, 0.0462946f, 0.048085127f, 0.049729783f,
    0.050778814f, 0.05180048f, 0.05261199f, 0.053619433f, 0.055035856f, 0.056202453f, 0.057076123f,
    0.058017496f, 0.0590069f, 0.059826534f, 0.060763236f, 0.062166605f, 0.06353933f, 0.06489537f, 0.06600677f,
    0.06684561f, 0.068052255f, 0.06945293f, 0.070778094f, 0.0719046f, 0.07292268f, 0.07395015f, 0.075569294f,
    0.077193394f, 0.07874823f, 0.080217384f, 0.081531405f, 0.0833957f, 0.08500501f, 0.08581f, 0.087217025f,
    0.08942583f, 0.091337904f, 0.09308522f, 0.095179506f, 0.09707921f, 0.09902012f, 0.10155929f, 0.104055084f,
    0.1058653f, 0.107189566f, 0.10910096f, 0.11133329f, 0.11337441f, 0.11699669f, 0.120227806f, 0.12284791f,
    0.12559935f, 0.12839592f, 0.13096347f, 0.13339044f, 0.13572314f, 0.13837692f, 0.1411245f, 0.14404275f,
    0.14920032f, 0.1542833f, 0.1581868f, 0.16076802f, 0.16406344f, 0.16709475f, 0.17060624f, 0.1737342f,
    0.17631932f, 0.17895599f, 0.18180649f, 0.18550244f, 0.19072297f, 0.19599697f, 0.20008317f, 0.2038028f,
    0.20776562f, 0.21182403f, 0.21569334f, 0.21932563f, 0.22246322f, 0.2268212f, 0.23247825f, 0.2402268f,
    0.2468046f, 0.2501613f, 0.2553697f, 0.2614029f, 0.2687571f, 0.27685767f, 0.284603f, 0.2901934f, 0.2950816f,
    0.30205306f, 0.30909276f, 0.316659f, 0.33111143f, 0.34012017f, 0.3492888f, 0.35805917f, 0.36631608f,
    0.3782678f, 0.3953702f, 0.4121645f, 0.43105727f, 0.44597754f, 0.45601702f, 0.4696746f, 0.4836921f,
    0.49912024f, 0.5079086f, 0.5208302f, 0.5343417f, 0.5531533f, 0.5762438f, 0.5961056f, 0.6216626f,
    0.6600774f, 0.68914956f, 0.7158517f, 0.73827255f, 0.76742613f, 0.80120337f, 0.82975256f, 0.86520755f,
    0.89395857f, 0.9335808f, 0.9870587f, 0.9999978f, 1.0f,
};

namespace {

constexpr int32_t kQuarterSeconds = 900;
constexpr int32_t kLastSecond = 59;
constexpr uint32_t kPreopenQuarterSkip = 800;  // never asked for as a next set
constexpr int32_t kRequestDelayMin = 120;      // next sets: 2 to 13 minutes into the quarter
constexpr int32_t kRequestDelaySpread = 660;
constexpr int32_t kTickCatchUpMax = 3600;      // seconds one tick walks at most
constexpr uint32_t kVersion = 1;
constexpr uint16_t kMinuteMask = 0x7fff;
const int32_t kComparedIndices[] = {0, 1, 3};

struct vcmp_update {
  ss_stock* stock;
  int32_t ref;
  uint64_t per_second;
  int32_t countdown;
  uint64_t end_value;
  vcmp_update* next;
};

struct vcmp_item {
  char code[kCodeSize];
  uint64_t end[kVcmpRefs];
};

struct vcmp_set {
  uint32_t quarter;
  int32_t start;  // second of the day the quarter starts
  int32_t end;    // start + 899
  int32_t count, room;
  vcmp_item* items;  // sorted by code
  vcmp_update* buckets[kVcmpMinutes];
};

struct vcmp_exchange {
  ss_exchange* ex;
  vcmp_set* current;
  vcmp_set* next;
  int32_t applied;  // last second of the exchange's day applied, -1 none
};

}  // namespace

// Module state: the comparison exchanges, the update pool, the time of the
// last tick and of the next request for next sets, the client's hooks.
static struct {
  vcmp_exchange compared[kVcmpComparedMax];
  int32_t ncompared;
  vcmp_update* pool;  // one block of kVcmpUpdatePool records
  vcmp_update* free_list;
  int32_t free_count;
  ss_time last_tick;
  ss_time next_request;
  ssvcmp_hooks hooks;
} S;

namespace {

int32_t second_of_day(ss_time t) {
  sstime_parts p;
  if (sstime_unpack(&p, t) < 0) return 0;
  return sstime_seconds_of_day(p.sec, p.min, p.hour);
}

vcmp_update* take_update() {
  vcmp_update* u = S.free_list;
  if (!u) return nullptr;
  S.free_list = u->next;
  S.free_count--;
  return u;
}

void free_set(vcmp_set* set) {
  if (!set) return;
  for (vcmp_update*& head : set->buckets) {
    while (head) {
      vcmp_update* u = head;
      head = u->next;
      u->next = S.free_list;
      S.free_list = u;
      S.free_count++;
    }
  }
  dalloc_free(set->items);
  dalloc_free(set);
}

vcmp_exchange* compared(const ss_exchange* ex) {
  for (int32_t i = 0; i < S.ncompared; i++)
    if (S.compared[i].ex == ex) return &S.compared[i];
  return nullptr;
}

void drop_sets() {
  for (int32_t i = 0; i < S.ncompared; i++) {
    free_set(S.compared[i].current);
    free_set(S.compared[i].next);
    S.compared[i].current = S.compared[i].next = nullptr;
    S.compared[i].applied = -1;
  }
}

// Every stock of the exchange: comparison volumes 0, differences recomputed.
void zero_stocks(ss_exchange* ex) {
  for (uint64_t i = 0; i < ex->stocks.count; i++) {
    ss_stock* s = static_cast<ss_stock*>(ex->stocks.sorted[i]);
    for (int r = 0; r < kVcmpRefs; r++) s->vcmp_volume[r] = 0;
    ssutil_stock_vcmp_derive(s);
  }
}

void derive_stocks(ss_exchange* ex) {
  for (uint64_t i = 0; i < ex->stocks.count; i++) ssutil_stock_vcmp_derive(static_cast<ss_stock*>(ex->stocks.sorted[i]));
}

// The position of `code` among the set's items (bisection), or where it
// would go; *found tells which.
int32_t position_of(const vcmp_set* set, const char* code, bool* found) {
  int32_t lo = 0, hi = set->count;
  *found = false;
  if (hi > 0 && strcmp(set->items[hi - 1].code, code) < 0) return hi;  // codes usually come in order
  while (lo < hi) {
    const int32_t mid = (lo + hi) / 2;
    const int c = strcmp(set->items[mid].code, code);
    if (c == 0) {
      *found = true;
      return mid;
    }
    if (c < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

// The item of `code`, added in code order when new; null when the set is full.
vcmp_item* item_for(vcmp_set* set, const char* code) {
  bool found;
  const int32_t at = position_of(set, code, &found);
  if (found) return &set->items[at];
  if (set->count >= set->room) return nullptr;
  memmove(&set->items[at + 1], &set->items[at], sizeof(vcmp_item) * static_cast<size_t>(set->count - at));
  memset(&set->items[at], 0, sizeof(vcmp_item));
  snprintf(set->items[at].code, kCodeSize, "%s", code);
  set->count++;
  return &set->items[at];
}

const vcmp_item* find_item(const vcmp_set* set, const char* code) {
  bool found = false;
  const int32_t at = set ? position_of(set, code, &found) : 0;
  return found ? &set->items[at] : nullptr;
}

// One minute's bucket at second `sec` of the minute.
void apply_bucket(vcmp_set* set, int32_t minute, int32_t sec) {
  for (vcmp_update* u = set->buckets[minute]; u; u = u->next) {
    ss_stock* s = u->stock;
    if (!s) {
      log(LOG_ERROR, kSrc, "update stock is null");
      continue;
    }
    if (u->ref < 0 || u->ref >= kVcmpRefs) {
      log(LOG_ERROR, kSrc, "update index is %d", u->ref);
      continue;
    }
    const unsigned char c0 = static_cast<unsigned char>(s->code[0]);
    if (!isalnum(c0)) {
      log(LOG_ERROR, kSrc, "update stock code starts with 0x%02x", c0);
      continue;
    }
    if (sec >= kLastSecond) {
      s->vcmp_volume[u->ref] = u->end_value;
    } else {
      s->vcmp_volume[u->ref] += u->per_second + (u->countdown == 0 ? 1 : 0);
      if (u->countdown > 0) u->countdown--;
    }
    ssutil_stock_vcmp_derive(s);
  }
}

// Applies second `s` of the exchange's day to its current set, once.
void apply_second(vcmp_exchange* e, int32_t s) {
  vcmp_set* set = e->current;
  if (!set || s <= e->applied || s < set->start || s > set->end) return;
  apply_bucket(set, (s / 60) % kVcmpMinutes, s % 60);
  e->applied = s;
}

// A new current set caught up to the exchange's clock: the minutes before
// the current one at their last second, the current minute second by second.
// The clock is bounded to the set's quarter.
void catch_up(vcmp_exchange* e) {
  vcmp_set* set = e->current;
  int32_t now = second_of_day(ssmodel_exchange_now(e->ex));
  if (now < set->start) return;
  if (now > set->end) now = set->end;
  const int32_t minute = (now - set->start) / 60;
  for (int32_t k = 0; k < minute; k++) apply_bucket(set, k, kLastSecond);
  const int32_t first = set->start + minute * 60;
  for (int32_t s = first; s <= now; s++) apply_bucket(set, minute, s % 60);
  e->applied = now;
}

void promote(vcmp_exchange* e) {
  free_set(e->current);
  e->current = e->next;
  e->next = nullptr;
}

void request(ss_exchange* ex, uint32_t quarter, int init) {
  if (S.hooks.request) S.hooks.request(static_cast<int32_t>(ex->index), quarter, init);
}

// Reads the items of one section. 1 when the section was read whole, 0 when
// the bytes ran out, -1 on bad data.
int read_section(vcmp_exchange* e, vcmp_set* set, int ref, int init, const uint8_t* p, int32_t n, int32_t* at) {
  uint32_t count;
  int r = decode_uint32(p + *at, n - *at, &count);
  if (r <= 0) return r;
  *at += r;
  for (uint32_t i = 0; i < count; i++) {
    char code[kCodeSize];
    uint64_t base = 0, total = 0;
    uint16_t mask = 0;
    uint8_t bytes[kVcmpMinutes];
    int32_t used = *at;
    if ((r = decode_code(p + used, n - used, code, kCodeSize)) <= 0) return r;
    used += r;
    if (init) {
      if ((r = decode_vlong(p + used, n - used, &base)) <= 0) return r;
      used += r;
    }
    if ((r = decode_vlong(p + used, n - used, &total)) <= 0) return r;
    used += r;
    int marked = 0;
    if (total != 0) {
      if ((r = decode_short(p + used, n - used, &mask)) <= 0) return r;
      used += r;
      mask &= kMinuteMask;
      marked = __builtin_popcount(mask);
      if (marked > 1) {
        if ((r = decode_raw(p + used, n - used, bytes, marked - 1)) <= 0) return r;
        used += r;
      }
    }
    *at = used;

    ss_stock* s = ssmodel_find_stock(e->ex, code);
    if (!init) {
      const vcmp_item* cur = find_item(e->current, code);
      base = cur && cur->end[ref] != 0 ? cur->end[ref] : s ? s->vcmp_volume[ref] : 0;
    }
    uint64_t sum = 0;
    int seen = 0;
    for (int k = 0; k < kVcmpMinutes && total != 0; k++) {
      if (!(mask & (1u << k))) continue;
      uint64_t minute;
      if (++seen < marked) {
        minute = static_cast<uint64_t>(llrint(static_cast<double>(total) * kVcmpFactors[bytes[seen - 1]]));
      } else {
        minute = total > sum ? total - sum : 0;
      }
      if (minute > total - sum) minute = total - sum;  // the running sum never passes the total
      sum += minute;
      if (!s) continue;
      vcmp_update* u = take_update();
      if (!u) {
        log(LOG_ERROR, kSrc, "unable to alloc vcmp update");
        continue;
      }
      u->stock = s;
      u->ref = ref;
      u->per_second = minute / 60;
      u->countdown = static_cast<int32_t>(60 - minute % 60);
      u->end_value = base + sum;
      const int bucket = static_cast<int>((set->start / 60 + k) % kVcmpMinutes);
      u->next = set->buckets[bucket];
      set->buckets[bucket] = u;
    }
    if (init && s) {
      s->vcmp_volume[ref] = base;
      ssutil_stock_vcmp_derive(s);
    }
    vcmp_item* item = item_for(set, code);
    if (item) item->end[ref] = base + sum;
  }
  return 1;
}

int32_t quarter_start(uint32_t quarter) { return static_cast<int32_t>(quarter / 100 * 3600 + quarter % 100 * 60); }

}  // namespace

uint32_t ssvcmp_quarter(int32_t s) {
  if (s < 0) s = 0;
  return static_cast<uint32_t>((s / kQuarterSeconds * 15) % 60 + (s / 3600) * 100);
}

void ssvcmp_set_hooks(const ssvcmp_hooks* hooks) { S.hooks = hooks ? *hooks : ssvcmp_hooks{}; }

int ssvcmp_init(void) {
  S.ncompared = 0;
  S.pool = static_cast<vcmp_update*>(dalloc_alloc(sizeof(vcmp_update) * kVcmpUpdatePool));
  S.free_list = nullptr;
  for (int32_t i = kVcmpUpdatePool; i-- > 0;) {
    S.pool[i].next = S.free_list;
    S.free_list = &S.pool[i];
  }
  S.free_count = kVcmpUpdatePool;
  S.last_tick = 0;
  S.next_request = 0;
  return 0;
}

void ssvcmp_fini(void) {
  drop_sets();
  S.ncompared = 0;
  dalloc_free(S.pool);
  S.pool = S.free_list = nullptr;
  S.free_count = 0;
}

void ssvcmp_start(void) {
  drop_sets();
  S.ncompared = 0;
  for (int32_t index : kComparedIndices) {
    ss_exchange* ex = ssmodel_exchange(index);
    if (!ex || !ssuser_exchange_permitted(index)) continue;
    S.compared[S.ncompared++] = {ex, nullptr, nullptr, -1};
  }
  ssvcmp_request_current();
}

int ssvcmp_apply(ss_exchange* ex, ss_time date, uint32_t quarter, int init, const uint8_t* data, int32_t length,
                 int32_t version) {
  (void)date;
  if (version != static_cast<int32_t>(kVersion)) {
    log(LOG_WARN, kSrc, "ignoring vcmp version %d", version);
    return 0;
  }
  vcmp_exchange* e = ex ? compared(ex) : nullptr;
  if (!e) {
    log(LOG_ERROR, kSrc, "not doing %s vcmp", ex ? ex->name : "?");
    return -1;
  }
  uint32_t announced;
  int32_t at = decode_vint(data, length, &announced);
  if (at <= 0 || announced < 1) return 0;
  // The count sizes an allocation: no more items than bytes left (an item
  // takes at least two) and a hard cap.
  int64_t room = announced;
  if (room > (length - at) / 2) room = (length - at) / 2;
  if (room > kVcmpItemMax) room = kVcmpItemMax;
  if (init) zero_stocks(ex);

  vcmp_set* set = static_cast<vcmp_set*>(dalloc_alloc(sizeof(vcmp_set)));
  memset(set, 0, sizeof *set);
  set->quarter = quarter;
  set->start = quarter_start(quarter);
  set->end = set->start + kQuarterSeconds - 1;
  set->room = static_cast<int32_t>(room);
  set->items = static_cast<vcmp_item*>(dalloc_alloc(sizeof(vcmp_item) * static_cast<size_t>(room > 0 ? room : 1)));

  for (int ref = 0; ref < kVcmpRefs && at < length; ref++) {
    const int r = read_section(e, set, ref, init, data, length, &at);
    if (r < 0) log(LOG_ERROR, kSrc, "failed");
    if (r <= 0) break;
  }

  vcmp_set** slot = init ? &e->current : &e->next;
  if (*slot) {
    log(LOG_WARN, kSrc, init ? "replacing current set" : "replacing next set");
    free_set(*slot);
  }
  *slot = set;
  if (init) {
    derive_stocks(ex);
    e->applied = -1;
    catch_up(e);
  }
  return 0;
}

void ssvcmp_tick(void) {
  const ss_time now = sstime_now();
  if (S.last_tick == 0 || sstime_diff_seconds(now, S.last_tick) > kTickCatchUpMax ||
      sstime_diff_seconds(now, S.last_tick) < 0)
    S.last_tick = sstime_add_seconds(now, -1);
  for (ss_time t = sstime_add_seconds(S.last_tick, 1); sstime_diff_seconds(now, t) >= 0; t = sstime_add_seconds(t, 1)) {
    for (int32_t i = 0; i < S.ncompared; i++) {
      vcmp_exchange* e = &S.compared[i];
      const int32_t s = second_of_day(t) + ssmodel_load(e->ex->delta);
      if (e->current && s > e->current->end) {
        promote(e);
      } else if (!e->current && e->next && s >= e->next->start && s <= e->next->end) {
        promote(e);  // a next set that came after its quarter began
      }
      apply_second(e, s);
    }
  }
  if (S.next_request != 0 && sstime_diff_seconds(now, S.next_request) >= 0 && S.hooks.logged_in &&
      S.hooks.logged_in())
    ssvcmp_request_next();
  S.last_tick = now;
}

void ssvcmp_request_current(void) {
  for (int32_t i = 0; i < S.ncompared; i++) {
    ss_exchange* ex = S.compared[i].ex;
    const int32_t s = second_of_day(ssmodel_exchange_now(ex));
    const uint32_t pre = ssvcmp_quarter(second_of_day(ssmodel_exchange_preopen_time(ex)));
    const uint32_t end = ssvcmp_quarter(second_of_day(ssmodel_exchange_day_end(ex)));
    uint32_t q = ssvcmp_quarter(s);
    if (q < pre || q >= end) q = ssvcmp_quarter(s + 59);
    request(ex, q >= pre && q < end ? q : kVcmpFallbackSet, 1);
  }
  const ss_time now = sstime_now();
  const int32_t s = second_of_day(now);
  const int32_t into = s % kQuarterSeconds;
  const int32_t delay = kRequestDelayMin + static_cast<int32_t>(static_cast<unsigned long>(plat_random()) % kRequestDelaySpread);
  S.next_request = sstime_add_seconds(now, delay - into);
  if (sstime_diff_seconds(now, S.next_request) >= 0) ssvcmp_request_next();
}

void ssvcmp_request_next(void) {
  for (int32_t i = 0; i < S.ncompared; i++) {
    ss_exchange* ex = S.compared[i].ex;
    const int32_t s = second_of_day(ssmodel_exchange_now(ex));
    const int32_t end_s = second_of_day(ssmodel_exchange_day_end(ex));
    if (s >= end_s) continue;
    const uint32_t pre = ssvcmp_quarter(second_of_day(ssmodel_exchange_preopen_time(ex)));
    const uint32_t end = ssvcmp_quarter(end_s);
    const uint32_t q = ssvcmp_quarter(s + kQuarterSeconds);
    if (q >= pre && q != kPreopenQuarterSkip && q < end) request(ex, q, 0);
  }
  if (S.next_request != 0) S.next_request = sstime_add_seconds(S.next_request, kQuarterSeconds);
}

void ssvcmp_reset_exchange(ss_exchange* ex) {
  if (!ex) return;
  zero_stocks(ex);
  drop_sets();
  log(LOG_INFO, kSrc, "reset %d %s vcmps", static_cast<int>(ex->stocks.count), ex->name);
  if (S.ncompared > 0) ssvcmp_request_current();
}

uint32_t ssvcmp_current_quarter(int32_t index) {
  for (int32_t i = 0; i < S.ncompared; i++)
    if (static_cast<int32_t>(S.compared[i].ex->index) == index && S.compared[i].current) return S.compared[i].current->quarter;
  return 0;
}

uint32_t ssvcmp_next_quarter(int32_t index) {
  for (int32_t i = 0; i < S.ncompared; i++)
    if (static_cast<int32_t>(S.compared[i].ex->index) == index && S.compared[i].next) return S.compared[i].next->quarter;
  return 0;
}

int32_t ssvcmp_free_updates(void) { return S.free_count; }
