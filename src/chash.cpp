// String-keyed hash sets: open addressing over an odd (from 8 on prime) number
// of slots, probing two slots on, plus a second array holding the same records
// sorted by key, so ordered walks need no sorting (records added out of order
// may wait in a short tail behind the ordered part until a merge). The one
// decision to know first: readers on another thread walk the sorted array
// without the owner's lock, so every field and array element they read is
// written through atomics, a resize publishes fully built arrays and hands the
// old ones to deferred freeing, and each shift of the sorted array is
// bracketed by the change counter.
#include "chash.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstring>

#include "dalloc.h"
#include "lazyfree.h"
#include "log.h"
#include "publish.h"

static const char kSrc[] = "src/chash";

namespace {

// Per-byte hash values: any fixed table of distinct values below 2^31 serves;
// only the order of slot walks depends on it.
constexpr uint64_t kByteHash[256] = {
    2078917053, 143302914, 1027100827, 1953210302, 1333116747, 53973113,
    1219911987, 2120649635, 395703693, 1070426430, 1318107315, 579905917,
    1867863554, 1713733561, 1025790276, 1858664305, 478569586, 1420108233,
    711696464, 1778450799, 1980099290, 559528770, 437048465, 601059857,
    919574224, 838527916, 133762947, 194432753, 862998450, 1025292013,
    1094133003, 461874397, 1946125515, 1829093308, 452919366, 2123352650,
    1758274399, 1537617714, 212674589, 399245738, 1127370001, 562233871,
    1376063803, 341473920, 839132740, 2110014276, 932551627, 1474881772,
    1639096332, 382698958, 359884620, 982560689, 1549797912, 543511953,
    1777508453, 1082322339, 1259333881, 2137016352, 1226018379, 1111951168,
    1688264040, 1815668179, 1779710287, 1550201182, 2050009585, 1746481261,
    1464884916, 1849853941, 552240281, 147508041, 1615411657, 640107961,
    1665843405, 1525769288, 693413812, 1308603576, 1482286175, 2018721636,
    510621639, 570552310, 1719823390, 1381682114, 1332505965, 672530115,
    823850749, 865490759, 1983072708, 29805867, 1087307915, 2056759401,
    545901145, 1805987819, 1431839895, 1369515634, 211210636, 2009633589,
    468014350, 1117546963, 157830471, 1220954545, 1811082748, 517816838,
    623512503, 193573168, 1842165987, 198061866, 1046327372, 1903588998,
    947458251, 1676873562, 1089994474, 1830426081, 1513041789, 48423812,
    1114276187, 286206920, 1698717147, 1333770569, 1351375658, 93979305,
    525328864, 230622233, 1546671600, 1154583763, 1549661913, 672321397,
    1138342707, 1192544813, 736572320, 1031527153, 1347112434, 416227737,
    789276462, 441525323, 1944881745, 209903279, 1307883450, 151140424,
    1614271864, 1831359107, 81172755, 1897380993, 1775441979, 80549589,
    648863155, 1098388088, 2141495022, 1390605564, 1745950429, 1038478264,
    1162839452, 64499354, 934556817, 78346460, 859743588, 253482387,
    287054482, 1560839996, 1654076903, 796295930, 2043322801, 1888510385,
    1298677627, 2073718281, 623139758, 2099035353, 1939420326, 2113385783,
    1096124734, 166702932, 528655917, 1007746538, 848857878, 1872075855,
    1417187853, 1750925131, 627431990, 386102160, 963091956, 487723358,
    1434115564, 1809577228, 814315417, 1689243745, 1420832481, 1338812781,
    1960486788, 1185662732, 1260901263, 2122846224, 1254328112, 2027685741,
    583039111, 132306597, 481256860, 102580655, 793035305, 1138101358,
    1428956225, 1927572237, 1483697588, 1474524639, 154933840, 1643405011,
    2030660446, 755900640, 1219383226, 1253523203, 244623308, 1030231008,
    1885006706, 1476685572, 1390913191, 1937357260, 171868112, 1584633657,
    76681921, 293143057, 1327789180, 360485719, 1736905171, 1498821127,
    1155819914, 551478495, 1559119392, 1694455652, 78212753, 1617564756,
    406456576, 1304069707, 1265378002, 1869284084, 789461128, 1136511878,
    2037302005, 1155270903, 1167640403, 1874913238, 1146284190, 1047549064,
    432371962, 1538079560, 1411704397, 104091699, 42590600, 1300616902,
    187085875, 739986611, 703387850, 337176652, 932812822, 1105606466,
    1003868913, 759288709, 1709693821, 443341332,
};

static_assert(kByteHash[0] == 2078917053 && kByteHash[1] == 143302914 && kByteHash[2] == 1027100827 &&
              kByteHash[3] == 1953210302 && kByteHash[uint8_t{'A'}] == 1746481261 &&
              kByteHash[uint8_t{'a'}] == 1117546963 && kByteHash[uint8_t{'0'}] == 1639096332);

void* const kEmpty = nullptr;
void* const kDeleted = reinterpret_cast<void*>(uintptr_t{1});
// Arrays are single allocator blocks, so a table holds at most this many slots.
constexpr uint64_t kMaxSlots = kDallocMax / sizeof(void*);

// Shared fields are read by lock-free walkers: loads acquire, stores release
// (publish.h); a walker re-checks the change counter around its reads.
template <class T>
T load(const T& x) {
  return load_link(x);
}
template <class T>
void store(T& x, T v) {
  publish_release(x, v);
}

const char* key_of(const void* rec) { return static_cast<const char*>(rec); }
bool is_record(const void* p) { return p != kEmpty && p != kDeleted; }

uint64_t hash_key(const char* key) {
  uint64_t h = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(key); *p; p++) h = 2 * h + kByteHash[*p];
  return h;
}

// Exact primality of an odd s >= 9 by trial division up to its square root.
bool is_prime(uint64_t s) {
  for (uint64_t d = 3; d * d <= s; d += 2)
    if (s % d == 0) return false;
  return true;
}

// Slot count for n records: odd, and from 8 on the next prime.
uint64_t table_size_for(uint64_t n) {
  uint64_t s = n % 2 == 0 ? n + 1 : n;
  if (s >= 8)
    while (!is_prime(s)) s += 2;
  return s;
}

// First position in [0, end) of `sorted` whose key is not below `key`.
int64_t lower_bound(void* const* sorted, int64_t end, const char* key) {
  int64_t lo = 0, hi = end;
  while (lo < hi) {
    int64_t mid = lo + (hi - lo) / 2;
    if (strcmp(key_of(load(sorted[mid])), key) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

// The change counter is odd while a shift is under way; the read-modify-write
// is a full barrier, so a reader that sees it even before and after its reads
// saw no shift.
void bump_changes(chash* t) { std::atomic_ref<uint64_t>(t->changes).fetch_add(1, std::memory_order_seq_cst); }

int resize_to(chash* t, uint64_t n);

bool key_less(const void* a, const void* b) { return strcmp(key_of(a), key_of(b)) < 0; }

// Puts n records in key order; false when they were in order already.
bool sort_records(void** records, uint64_t n) {
  if (std::is_sorted(records, records + n, key_less)) return false;
  std::sort(records, records + n, key_less);
  return true;
}

int insert(chash* t, void* record, int32_t keep_sorted, bool may_grow) {
  if (t->slots == nullptr && resize_to(t, 0) < 0) return -1;
  const char* key = key_of(record);
  uint64_t size = t->size;
  void** slots = t->slots;
  // Probe on to an empty slot even past deleted ones, so a key that sits
  // beyond a deleted slot is found and not added a second time; the first
  // deleted slot seen is the one reused.
  uint64_t slot = hash_key(key) % size;
  int64_t free_slot = -1;
  uint64_t free_probes = 0;
  for (uint64_t i = 0; i < size; i++) {
    void* p = slots[slot];
    if (p == kEmpty || p == kDeleted) {
      if (free_slot < 0) {
        free_slot = static_cast<int64_t>(slot);
        free_probes = i + 1;
      }
      if (p == kEmpty) break;
    } else if (strcmp(key_of(p), key) == 0) {
      log(LOG_WARN, kSrc, "%s already here", key);
      return -1;
    }
    slot = (slot + 2) % size;
  }
  if (free_slot < 0) {
    log(LOG_ERROR, kSrc, "no free slot for %s in %llu", key, static_cast<unsigned long long>(size));
    return -1;
  }

  void** sorted = t->sorted;
  int64_t n = static_cast<int64_t>(t->count);
  const bool settled = t->ordered == static_cast<uint64_t>(n);
  bool settle_after = false;
  if (n == 0 || (settled && strcmp(key, key_of(sorted[n - 1])) >= 0)) {
    // In key order after the last: the ordered part grows by one.
    store(sorted[n], record);
    store(t->ordered, static_cast<uint64_t>(n + 1));
  } else if (keep_sorted == kChashOrdered) {
    // Out of order: the entries above move up one by one (each store is atomic
    // for the walkers), O(count) per insert. Records waiting behind the
    // ordered part are merged first, so the bisection sees them all.
    if (!settled && chash_settle(t) < 0) return -1;
    sorted = t->sorted;
    int64_t pos = lower_bound(sorted, n, key);
    bump_changes(t);
    for (int64_t i = n; i > pos; i--) store(sorted[i], sorted[i - 1]);
    store(sorted[pos], record);
    bump_changes(t);
    store(t->ordered, static_cast<uint64_t>(n + 1));
  } else {
    // Behind the ordered part, until a merge puts it in place.
    store(sorted[n], record);
    settle_after = keep_sorted == kChashSettled && static_cast<uint64_t>(n + 1) - t->ordered >= kChashTail;
  }
  store(slots[free_slot], record);
  store(t->count, t->count + 1);
  if (settle_after) chash_settle(t);  // on failure the tail waits for the next merge
  // Never more records than slots (a table without growth may fill up; a
  // probe then ends after one round).
  assert(t->count <= t->size);
  if (free_probes > 1) t->collisions++;

  if (may_grow && t->count > t->size / 2) {
    // Half again, and at least two more slots, so that small tables grow too.
    uint64_t target = t->size * 3 / 2;
    if (target < t->size + 2) target = t->size + 2;
    resize_to(t, target);  // on failure the table stays as it is, still usable
  }
  // The load stays at half, unless the table is too big to grow.
  assert(!may_grow || t->count <= t->size / 2 || t->size > kMaxSlots / 2);
  return 0;
}

int resize_to(chash* t, uint64_t n) {
  uint64_t count = t->count;
  // Never fewer slots than the records need, so that putting them back
  // cannot itself trigger a resize.
  if (n < 2 * count + 1) n = 2 * count + 1;
  uint64_t s = table_size_for(n);
  if (s > kMaxSlots) {
    log(LOG_ERROR, kSrc, "can't alloc %llu hash elems", static_cast<unsigned long long>(s));
    return -1;
  }
  size_t bytes = s * sizeof(void*);
  chash nt{};
  nt.size = s;
  nt.slots = static_cast<void**>(dalloc_alloc(static_cast<int32_t>(bytes)));
  nt.sorted = static_cast<void**>(dalloc_alloc(static_cast<int32_t>(bytes)));
  memset(nt.slots, 0, bytes);
  memset(nt.sorted, 0, bytes);
  void** old_slots = t->slots;
  void** old_sorted = t->sorted;
  // The ordered array is carried over as it stands and then sorted once if
  // unsorted inserts left it out of order (before anyone can see it):
  // inserting each record in order would shift entries one by one, O(count)
  // per record.
  for (uint64_t i = 0; i < count; i++) insert(&nt, old_sorted[i], kChashAppend, false);
  sort_records(nt.sorted, count);

  // Publish the complete new arrays, then the size walkers compare.
  store(t->slots, nt.slots);
  store(t->sorted, nt.sorted);
  store(t->ordered, count);
  publish_link(t->size, s);
  // A walker may still hold the old arrays: free them only after the delay.
  if (old_slots) lazyfree_later(dalloc_free, old_slots);
  if (old_sorted) lazyfree_later(dalloc_free, old_sorted);
  return 0;
}

}  // namespace

int chash_init(chash* t, uint32_t expected) {
  memset(t, 0, sizeof(*t));
  return resize_to(t, expected);
}

int chash_resize(chash* t, int32_t count) {
  if (count < 0) {
    log(LOG_ERROR, kSrc, "can't alloc %d hash elems", count);
    return -1;
  }
  return resize_to(t, static_cast<uint64_t>(count));
}

int chash_add(chash* t, void* record) { return insert(t, record, 1, true); }

int chash_insert(chash* t, void* record, int32_t keep_sorted) { return insert(t, record, keep_sorted, true); }

int chash_sort(chash* t) {
  const uint64_t n = t->count;
  if (n < 2 || !t->sorted) return 0;
  void** sorted = t->sorted;
  if (std::is_sorted(sorted, sorted + n, key_less)) {
    store(t->ordered, n);
    return 0;
  }
  // Sorted into a fresh array of the same size, published whole: a walker
  // sees the old order or the new, never a half-sorted one. The old array
  // is freed after the deferral delay, as after a resize.
  const size_t bytes = t->size * sizeof(void*);
  void** fresh = static_cast<void**>(dalloc_alloc(static_cast<int32_t>(bytes)));
  if (!fresh) {
    log(LOG_ERROR, kSrc, "can't alloc %llu sorted hash elems", static_cast<unsigned long long>(t->size));
    return -1;
  }
  memset(fresh, 0, bytes);
  memcpy(fresh, sorted, n * sizeof(void*));
  sort_records(fresh, n);
  bump_changes(t);
  store(t->sorted, fresh);
  store(t->ordered, n);
  bump_changes(t);
  lazyfree_later(dalloc_free, sorted);
  return 0;
}

int chash_settle(chash* t) {
  const uint64_t n = t->count;
  const uint64_t m = t->ordered;
  if (m >= n) return 0;
  const uint64_t k = n - m;
  if (k > kChashTail) return chash_sort(t);  // a bulk of unsorted adds: one sort into a fresh array
  // The tail in key order, then merged from the top down: each tail record's
  // place in the ordered part is found by bisection, and the ordered records
  // above it move up past the tail records still to come. Every record moves
  // at most once and only tail records are compared, so a merge costs one
  // shift of the array plus k bisections.
  void** sorted = t->sorted;
  void* tail[kChashTail];
  for (uint64_t i = 0; i < k; i++) tail[i] = sorted[m + i];
  std::sort(tail, tail + k, key_less);
  bump_changes(t);
  int64_t p = static_cast<int64_t>(m);
  int64_t w = static_cast<int64_t>(n);
  for (int64_t q = static_cast<int64_t>(k) - 1; q >= 0; q--) {
    const int64_t at = lower_bound(sorted, p, key_of(tail[q]));
    while (p > at) {
      --w;
      --p;
      store(sorted[w], sorted[p]);
    }
    store(sorted[--w], tail[q]);
  }
  bump_changes(t);
  store(t->ordered, n);
  return 0;
}

int chash_remove(chash* t, const char* key) {
  uint64_t size = t->size;
  void** slots = t->slots;
  if (size == 0 || slots == nullptr) return -1;
  uint64_t slot = hash_key(key) % size;
  uint64_t i = 0;
  for (; i < size; i++) {
    void* p = slots[slot];
    if (p == kEmpty) return -1;
    if (p != kDeleted && strcmp(key_of(p), key) == 0) break;
    slot = (slot + 2) % size;
  }
  if (i == size) return -1;
  void* record = slots[slot];

  void** sorted = t->sorted;
  int64_t n = static_cast<int64_t>(t->count);
  const int64_t m = static_cast<int64_t>(t->ordered);
  int64_t pos = lower_bound(sorted, m, key);
  if (pos >= m || sorted[pos] != record) {
    // A record behind the ordered part (or in an array left unsorted by a
    // bulk add) is not where bisection looks: look for the record itself so
    // the count stays true.
    for (pos = 0; pos < n && sorted[pos] != record; pos++) {
    }
  }
  if (pos < n) {
    if (pos != n - 1) {
      bump_changes(t);
      for (int64_t j = pos; j < n - 1; j++) store(sorted[j], sorted[j + 1]);
      bump_changes(t);
    }
    if (pos < m) store(t->ordered, static_cast<uint64_t>(m - 1));
    store(t->count, t->count - 1);
  }
  store(slots[slot], kDeleted);
  return 0;
}

void* chash_find(const chash* t, const char* key) {
  uint64_t size = load(t->size);
  void** slots = load(t->slots);
  if (size == 0 || slots == nullptr) return nullptr;
  uint64_t slot = hash_key(key) % size;
  for (uint64_t i = 0; i < size; i++) {
    void* p = load(slots[slot]);
    if (p == kEmpty) return nullptr;
    if (p != kDeleted && strcmp(key_of(p), key) == 0) return p;
    slot = (slot + 2) % size;
  }
  return nullptr;
}

int32_t chash_sorted_index(const chash* t, const char* key) {
  int64_t n = static_cast<int64_t>(load(t->count));
  if (n < 2) return -1;
  return static_cast<int32_t>(lower_bound(load(t->sorted), n - 1, key) - 1);
}

void* chash_sorted_next(const chash* t, int32_t* cursor) {
  int32_t c = *cursor;
  uint64_t before = load(t->size);
  if (c < 0 || static_cast<uint64_t>(c) >= load(t->count)) return nullptr;
  void* rec = load(load(t->sorted)[c]);
  *cursor = c + 1;
  return load(t->size) == before ? rec : nullptr;
}

void* chash_sorted_prev(const chash* t, int32_t* cursor) {
  int32_t c = *cursor;
  uint64_t before = load(t->size);
  if (c < 1 || static_cast<uint64_t>(c) >= load(t->count)) return nullptr;
  void* rec = load(load(t->sorted)[c]);
  *cursor = c - 1;
  return load(t->size) == before ? rec : nullptr;
}

void chash_iter_init(const chash* t, chash_iter* it) {
  it->next = 0;
  it->size = load(t->size);
}

void* chash_iter_next(const chash* t, chash_iter* it) {
  uint64_t size = load(t->size);
  if (size != it->size) {
    log(LOG_WARN, kSrc, "hash size changed from %llu to %llu", static_cast<unsigned long long>(it->size),
        static_cast<unsigned long long>(size));
    return nullptr;
  }
  void** slots = load(t->slots);
  while (it->next < size) {
    void* p = load(slots[it->next++]);
    if (is_record(p)) return p;
  }
  return nullptr;
}

void chash_free(chash* t) {
  if (t->slots) dalloc_free(t->slots);
  if (t->sorted) dalloc_free(t->sorted);
  store(t->slots, static_cast<void**>(nullptr));
  store(t->sorted, static_cast<void**>(nullptr));
  store(t->count, uint64_t{0});
  store(t->ordered, uint64_t{0});
  store(t->size, uint64_t{0});
}

int chash_compare_keys(const void* a, const void* b) { return strcmp(key_of(a), key_of(b)); }
