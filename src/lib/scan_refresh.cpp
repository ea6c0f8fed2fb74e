// Scan evaluation: one linear pass over the scanned exchanges' tables with
// the per-stock checks ordered cheapest first, a sort by one of twenty
// orders, and the difference from the previous result published as events.
// The design point a reader needs first: an incremental refresh re-tests the
// previous result first and makes its worst member a moving threshold, so
// at most 600 minus the retained count candidates that sort after it are
// gathered; everything that sorts before it is always taken, so the first
// `limit` after the final sort equal those of a full evaluation. Two scratch
// fields on every instrument (old and new index) carry the marks.
#include "lib/scan_refresh.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>
#include <vector>

#include "dalloc.h"
#include "lib/filter.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "log.h"
#include "ssmodel.h"
#include "ssutil.h"

static const char kSrc[] = "src/lib/scan.c";
constexpr int32_t kStep = 1000;
constexpr int32_t kIncrementalRoom = 600;
constexpr int kRefSlots = 9;
static const int kRefMinutes[kRefSlots] = {1, 5, 10, 15, 20, 30, 60, 120, 240};
// time_filter 1..9 -> reference slot.
static const int kTimeSlot[10] = {-1, 1, 3, 6, 0, 2, 4, 5, 7, 8};
constexpr uint32_t kNoPrice = 0xFFFFFFFFu;

static struct {
  instr** cand;
  int32_t capacity;
  int32_t count;
  int32_t matched;
  ss_time ref[kExchanges][kRefSlots];
  const scan* s;
  int order;  // the primary comparator's order (3 for an unset track)
  char keyword[32];
  size_t keyword_len;
  bool keyword3;
  bool needs_issuer;
  bool any_bound;
  size_t underlying_len;
  bool chix;
  instr* threshold;
  int32_t free_slots;
} R;
// The sort's scratch of (key, candidate) pairs.
static std::vector<std::pair<uint64_t, instr*>> g_keys;

// Candidate array ------------------------------------------------------------

static int grow_to(int32_t capacity) {
  if (capacity <= R.capacity) return 0;
  if ((int64_t)capacity * (int64_t)sizeof(instr*) > kDallocMax) {
    log(LOG_ERROR, kSrc, "can't alloc scan space for %d", capacity);
    return -1;
  }
  R.cand = static_cast<instr**>(dalloc_realloc(R.cand, capacity * (int32_t)sizeof(instr*)));
  R.capacity = capacity;
  return 0;
}

int scan_refresh_init(void) {
  R = {};
  return 0;
}

void scan_refresh_fini(void) {
  if (R.cand) dalloc_free(R.cand);
  R = {};
  std::vector<std::pair<uint64_t, instr*>>().swap(g_keys);
}

int32_t scan_refresh_matched(void) { return R.matched; }

// Comparators ----------------------------------------------------------------

static int tie(const instr* a, const instr* b) {
  int c = strncmp(a->code, b->code, kCodeSize);
  if (c) return c < 0 ? -1 : 1;
  uint32_t ea = a->exchange ? a->exchange->index : 0, eb = b->exchange ? b->exchange->index : 0;
  return ea < eb ? -1 : ea > eb ? 1 : 0;
}

// Larger first.
template <class T>
static int larger_first(T a, T b) {
  return a > b ? -1 : a < b ? 1 : 0;
}

static const ss_stock* as_stock(const instr* in) {
  return in->kind == kKindStock ? static_cast<const ss_stock*>(in) : nullptr;
}
static const ss_index* as_index(const instr* in) {
  return in->kind == kKindIndex ? static_cast<const ss_index*>(in) : nullptr;
}

static uint32_t last_trade_price(const instr* in) {
  if (const ss_stock* s = as_stock(in)) return s->last;
  if (const ss_index* x = as_index(in)) return x->value;
  return 0;
}

static int64_t delta(const scan* s, int track, const instr* in) {
  uint32_t last = last_trade_price(in);
  uint32_t then = in->kind == kKindStock   ? scan_track_value(s, track, as_stock(in))
                  : in->kind == kKindIndex ? scan_track_value_index(s, track, as_index(in))
                                           : 0;
  if (!last || !then) return 0;
  return (int64_t)last - (int64_t)then;
}

// Percent delta in hundredths: 0 when either price is 0, 64-bit throughout.
static int64_t pct_delta(const scan* s, int track, const instr* in) {
  uint32_t then = in->kind == kKindStock   ? scan_track_value(s, track, as_stock(in))
                  : in->kind == kKindIndex ? scan_track_value_index(s, track, as_index(in))
                                           : 0;
  int64_t d = delta(s, track, in);
  if (!then || !d) return 0;
  return d * 10000 / (int64_t)then;
}

static uint32_t since_base(const instr* in) {
  ss_time t = 0;
  if (const ss_stock* s = as_stock(in)) t = s->last_trade_time;
  if (const ss_index* x = as_index(in)) t = x->last_tick_time;
  if (!t || !in->exchange) return 0;
  return (uint32_t)(t - ssmodel_exchange_day_start(in->exchange));
}

static float range_pos(const instr* in) {
  uint32_t last = 0, high = 0, low = 0;
  if (const ss_stock* s = as_stock(in)) {
    last = s->last;
    high = s->high;
    low = s->low;
  } else if (const ss_index* x = as_index(in)) {
    last = x->value;
    high = x->high;
    low = x->low;
  } else {
    return 0.0f;
  }
  if (high == low || last == 0) return 0.5f;
  if (last <= low) return 0.0f;
  if (last >= high) return 1.0f;
  return (float)(last - low) / (float)(high - low);
}

static bool usable(uint32_t p) { return p != 0 && p != kNoPrice; }

static float gap(const instr* in, int order) {
  const ss_stock* s = as_stock(in);
  if (!s) return 0.0f;
  uint32_t last = s->disp_price;
  uint32_t other = order == 17 ? s->bid : order == 18 ? s->offer : s->average_price;
  if (!usable(last) || !usable(other)) return 999999.0f;
  float l = (float)last, o = (float)other;
  if (order == 17) return (l - o) / l;
  if (order == 18) return (o - l) / l;
  return (l - o) / l;
}

static uint32_t spread(const instr* in) {
  const ss_stock* s = as_stock(in);
  if (!s || !s->average_price) return 0;
  uint32_t v = s->average_price;
  if (s->bid > v) return s->bid - v;
  if (s->offer && v > s->offer) return v - s->offer;
  return 0;
}

static int value_compare(const scan* s, int order, const instr* a, const instr* b) {
  const ss_stock *sa = as_stock(a), *sb = as_stock(b);
  const ss_index *xa = as_index(a), *xb = as_index(b);
  int vc = s->vcmp < 0 ? -1 : s->vcmp;
  switch (order) {
    case 1:
      return tie(a, b);
    case 2:
      return larger_first(sa ? sa->change : xa ? xa->change : 0, sb ? sb->change : xb ? xb->change : 0);
    case 3:
      return larger_first(sa ? sa->change_pct : xa ? xa->change_pct : 0,
                          sb ? sb->change_pct : xb ? xb->change_pct : 0);
    case 4:
      return larger_first(spread(a), spread(b));
    case 5:
      return larger_first(sa ? sa->volume : 0, sb ? sb->volume : 0);
    case 6:
      return larger_first(sa ? sa->value : 0, sb ? sb->value : 0);
    case 7:
    case 8:
      return larger_first(delta(s, order - 7, a), delta(s, order - 7, b));
    case 9:
    case 10:
      return larger_first(pct_delta(s, order - 9, a), pct_delta(s, order - 9, b));
    case 11:
      return larger_first(since_base(a), since_base(b));
    case 12: {
      int c = strcmp(a->name2 ? a->name2 : "", b->name2 ? b->name2 : "");
      return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    case 13:
      return larger_first(sa ? sa->market_cap : 0, sb ? sb->market_cap : 0);
    case 14:
      return larger_first(sa && vc >= 0 ? sa->vcmp_diff[vc] : 0, sb && vc >= 0 ? sb->vcmp_diff[vc] : 0);
    case 15:
      if (!sa || !sb) return sa ? -1 : sb ? 1 : 0;
      return larger_first(vc >= 0 ? sa->vcmp_pct[vc] : 0, vc >= 0 ? sb->vcmp_pct[vc] : 0);
    case 16:
      return larger_first(range_pos(a), range_pos(b));
    case 17:
    case 18:
    case 19:
      return larger_first(gap(a, order), gap(b, order));
    default:
      return 0;  // order 0 does not sort
  }
}

// The sort direction's full comparator. A reversed sort negates the primary
// and the tie comparator is negated with it, so equal values keep ascending
// codes in both directions.
static int full_compare(const scan* s, int order, const instr* a, const instr* b) {
  int v;
  if (s->compare)
    v = s->compare(a, b, s->compare_a, s->compare_b);
  else
    v = value_compare(s, order, a, b);
  if (v) return s->reversed ? -v : v;
  return tie(a, b);
}

int scan_compare(const scan* s, const instr* a, const instr* b) {
  return full_compare(s, R.s == s ? R.order : (int)s->order, a, b);
}

// Sort keys: every order but the two by text maps an instrument to one u64
// that sorts larger first exactly as value_compare does (signed values and
// floats moved into unsigned order bit for bit), so a sort computes each
// value once instead of once per comparison.
static uint64_t signed_key(int64_t v) { return (uint64_t)v ^ (1ull << 63); }
static uint64_t float_key(float f) {
  uint32_t b;
  memcpy(&b, &f, sizeof b);
  return (b & 0x80000000u) ? (uint64_t)(~b) : (uint64_t)(b | 0x80000000u);
}

static bool keyed(const scan* s, int order) { return !s->compare && order >= 2 && order != 12; }

static uint64_t sort_key(const scan* s, int order, const instr* in) {
  const ss_stock* st = as_stock(in);
  const ss_index* x = as_index(in);
  int vc = s->vcmp;
  switch (order) {
    case 2: return signed_key(st ? st->change : x ? x->change : 0);
    case 3: return signed_key(st ? st->change_pct : x ? x->change_pct : 0);
    case 4: return spread(in);
    case 5: return st ? st->volume : 0;
    case 6: return st ? st->value : 0;
    case 7: case 8: return signed_key(delta(s, order - 7, in));
    case 9: case 10: return signed_key(pct_delta(s, order - 9, in));
    case 11: return since_base(in);
    case 13: return st ? st->market_cap : 0;
    case 14: return signed_key(st && vc >= 0 ? st->vcmp_diff[vc] : 0);
    case 15: return st ? signed_key(vc >= 0 ? st->vcmp_pct[vc] : 0) : 0;  // stocks first
    case 16: return float_key(range_pos(in));
    default: return float_key(gap(in, order));  // 17 to 19
  }
}

// Sorts the first `keep` places of n candidates. Only the first `limit` are
// published, and the order is total (ties fall to code and exchange), so a
// partial sort gives exactly the head of a full sort at O(n log keep).
static void sort_candidates(instr** first, int32_t n, int32_t keep) {
  const scan* s = R.s;
  int order = R.order;
  if (!keyed(s, order)) {
    auto less = [s, order](const instr* a, const instr* b) { return full_compare(s, order, a, b) < 0; };
    if (keep < n)
      std::partial_sort(first, first + keep, first + n, less);
    else
      std::sort(first, first + n, less);
    return;
  }
  g_keys.resize((size_t)n);
  for (int32_t i = 0; i < n; i++) g_keys[(size_t)i] = {sort_key(s, order, first[i]), first[i]};
  bool rev = s->reversed != 0;
  auto less = [rev](const std::pair<uint64_t, instr*>& a, const std::pair<uint64_t, instr*>& b) {
    if (a.first != b.first) return rev ? a.first < b.first : a.first > b.first;
    return tie(a.second, b.second) < 0;
  };
  if (keep < n)
    std::partial_sort(g_keys.begin(), g_keys.begin() + keep, g_keys.end(), less);
  else
    std::sort(g_keys.begin(), g_keys.end(), less);
  for (int32_t i = 0; i < n; i++) first[i] = g_keys[(size_t)i].second;
}

// Prepare --------------------------------------------------------------------

void scan_refresh_prepare(scan* s) {
  if (s->prepare) s->prepare(s, s->prepare_a, s->prepare_b);
  scan_track_resolve(s);
  for (int e = 0; e < kExchanges; e++) {
    ss_exchange* ex = ssmodel_exchange(e);
    if (!ex) continue;
    ss_time now = ssmodel_exchange_now(ex), close = ssmodel_exchange_close_time(ex);
    ss_time moment = now < close ? now : close;
    for (int k = 0; k < kRefSlots; k++) R.ref[e][k] = sstime_add_seconds(moment, -60 * kRefMinutes[k]);
  }
  R.s = s;
  R.order = (int)s->order;
  if (R.order >= kScanOrders) {
    log(LOG_ERROR, kSrc, "unknown order %d", R.order);
    R.order = 1;
  } else if (((R.order == 7 || R.order == 9) && s->tracks[0].client < 0) ||
             ((R.order == 8 || R.order == 10) && s->tracks[1].client < 0)) {
    log(LOG_ERROR, kSrc, "attempt to order by unset track");
    R.order = 3;
  }
  R.keyword_len = strnlen(s->keyword, sizeof R.keyword - 1);
  for (size_t i = 0; i < R.keyword_len; i++) R.keyword[i] = (char)toupper((unsigned char)s->keyword[i]);
  R.keyword[R.keyword_len] = '\0';
  R.keyword3 = R.keyword_len == 3;
  R.needs_issuer = R.keyword_len || (s->group_filter && filter_has_codes(s->group_filter)) ||
                   (s->instr_filter & (kScanNews | kScanSensitive));
  R.any_bound = s->min_price != kScanNoPrice || s->max_price != kScanNoPrice ||
                s->min_volume != kScanNoU64 || s->max_volume != kScanNoU64 ||
                s->min_turnover != kScanNoU64 || s->max_turnover != kScanNoU64 ||
                s->min_mktcap != kScanNoU64 || s->max_mktcap != kScanNoU64 ||
                s->min_trades != kScanNoTrades || s->max_trades != kScanNoTrades;
  R.underlying_len = strnlen(s->underlying, sizeof s->underlying);
  R.chix = strstr(s->name, "#chix") != nullptr;
  R.threshold = nullptr;
  R.free_slots = 0;
}

// Tests ----------------------------------------------------------------------

static bool contains_upper(const char* text, const char* needle) {
  if (!text) return false;
  char up[80];
  size_t n = strnlen(text, 79);
  for (size_t i = 0; i < n; i++) up[i] = (char)toupper((unsigned char)text[i]);
  up[n] = '\0';
  return strstr(up, needle) != nullptr;
}

int scan_keyword_match(const instr* in, const instr* issuer) {
  const char* k = R.keyword;
  size_t n = R.keyword_len;
  if (!n) return 1;
  if (R.keyword3) {
    const char* c = in->code;
    size_t len = strnlen(c, kCodeSize);
    if (strncmp(c, k, 3) == 0) return 1;
    if (len >= 3 && strncmp(c + len - 3, k, 3) == 0) return 1;
    if (len >= 3 && c[0] == k[0] && (c[1] == k[1] || c[2] == k[2] || (c[1] == k[2] && c[2] == k[1])))
      return 1;
  }
  if (contains_upper(in->name1, k) || contains_upper(in->name2, k)) return 1;
  if (issuer && (contains_upper(issuer->name1, k) || contains_upper(issuer->name2, k))) return 1;
  return 0;
}

static int take(instr* in) {
  R.matched++;
  if (!R.threshold) return 1;
  if (full_compare(R.s, R.order, in, R.threshold) <= 0) return 1;
  if (R.free_slots <= 0) return 0;
  R.free_slots--;
  R.threshold = in;
  return 1;
}

static bool in_bounds(const scan* s, const ss_stock* st) {
  uint32_t last = st->disp_price;
  if (s->min_price != kScanNoPrice && last < s->min_price) return false;
  if (s->max_price != kScanNoPrice && last > s->max_price) return false;
  if (s->min_volume != kScanNoU64 && st->volume < s->min_volume) return false;
  if (s->max_volume != kScanNoU64 && st->volume > s->max_volume) return false;
  if (s->min_turnover != kScanNoU64 && st->value < s->min_turnover) return false;
  if (s->max_turnover != kScanNoU64 && st->value > s->max_turnover) return false;
  if (s->min_mktcap != kScanNoU64 && st->market_cap < s->min_mktcap) return false;
  if (s->max_mktcap != kScanNoU64 && st->market_cap > s->max_mktcap) return false;
  if (s->min_trades != kScanNoTrades && (int64_t)st->trade_count < s->min_trades) return false;
  if (s->max_trades != kScanNoTrades && (int64_t)st->trade_count > s->max_trades) return false;
  return true;
}

static bool change_ok(const scan* s, int32_t change, uint32_t last, uint32_t then) {
  switch (s->change_filter) {
    case 1:
      return change > 0;
    case 2:
      return change < 0;
    case 3:
      return last && then && (int64_t)last - (int64_t)then > 0;
    case 4:
      return last && then && (int64_t)last - (int64_t)then < 0;
    default:
      return true;
  }
}

int scan_test_stock(scan* s, ss_stock* st) {
  if (st->scan_new == 1 || !(st->flags & kInCurrent)) return 0;
  if (R.underlying_len) {
    if (st->underlying[0] && strcmp(st->underlying, s->underlying) != 0) return 0;
    if (strncmp(st->code, s->underlying, R.underlying_len) != 0 ||
        strnlen(st->code, kCodeSize) <= R.underlying_len)
      return 0;
  }
  uint32_t f = s->instr_filter;
  if (f & kScanNoStocks) return 0;
  if (R.chix && !strstr(st->code, "_CX")) return 0;
  const instr* issuer = R.needs_issuer ? ssmodel_find_issuer(st->exchange, st->issuer) : nullptr;
  if (!(f & kScanAllVenues) && ssutil_is_cx_pm_code(st)) return 0;
  if (f != kScanEverything) {
    if (!(f & kScanDerivatives) && ssutil_nzx_plain_code(st)) return 0;
    if ((f & kScanHeld) && !(st->flags & kInHeld)) return 0;
    if ((f & kScanTraded) && !st->volume) return 0;
    if ((f & kScanQuoted) && !st->bid && !st->offer) return 0;
    if (f & (kScanNews | kScanSensitive)) {
      if (!issuer || !(issuer->flags & kInNewsBits)) return 0;
      if ((f & kScanSensitive) && !(issuer->flags & kInNewsFlag1)) return 0;
    }
    uint32_t last = st->last;
    if (s->price_filter >= 1 && s->price_filter <= 8) {
      if (!last) return 0;
      bool ok = true;
      switch (s->price_filter) {
        case 1: ok = st->bid && st->bid <= last; break;
        case 2: ok = st->bid && st->bid >= last; break;
        case 3: ok = st->offer && st->offer <= last; break;
        case 4: ok = st->offer && st->offer >= last; break;
        case 5: ok = last <= st->average_price; break;
        case 6: ok = last >= st->average_price; break;
        case 7: ok = last >= st->high && st->high != st->low; break;
        case 8: ok = last <= st->low && st->high != st->low; break;
      }
      if (!ok) return 0;
    }
    if (s->time_filter >= 1 && s->time_filter <= 9) {
      ss_time t = st->last_trade_time;
      if (!t || t < R.ref[st->exchange->index][kTimeSlot[s->time_filter]]) return 0;
    }
    if (!change_ok(s, st->change, last, s->change_filter >= 3 ? scan_track_value(s, 0, st) : 0)) return 0;
    if (R.any_bound && !in_bounds(s, st)) return 0;
    if (s->group_filter && !filter_is_empty(s->group_filter) &&
        !filter_match_stock(s->group_filter, st, issuer))
      return 0;
  }
  if (R.order >= 17 && R.order <= 19) {
    uint32_t other = R.order == 17 ? st->bid : R.order == 18 ? st->offer : st->average_price;
    if (!usable(other) || !usable(st->disp_price)) return 0;
  }
  if (R.keyword_len && !scan_keyword_match(st, issuer)) return 0;
  if (s->filter_hook && !s->filter_hook(st, s->filter_a, s->filter_b)) return 0;
  return take(st);
}

int scan_test_index(scan* s, ss_index* x) {
  if (x->scan_new == 1 || R.chix) return 0;
  if (!x->base || !(x->flags & kInCurrent)) return 0;
  if (x->exchange->index == (uint32_t)kExchangeNzx && strcmp(x->code, "NZ20G") == 0) return 0;
  uint32_t f = s->instr_filter;
  if (f != kScanEverything) {
    if (!(f & kScanIndices)) return 0;
    if (s->index_filter != 7) {
      bool bench = ssutil_is_benchmark_index(x), sector = ssutil_is_sector_index(x);
      bool ok = (bench && (s->index_filter & 1)) || (sector && (s->index_filter & 2)) ||
                (!bench && !sector && (s->index_filter & 4));
      if (!ok) return 0;
    }
    if ((f & kScanHeld) && !(x->flags & kInHeld)) return 0;
    if (s->price_filter == 8 && !(x->value && x->value <= x->low)) return 0;
    if (s->price_filter == 7 && !(x->value >= x->high)) return 0;
    if (!change_ok(s, x->change, x->value, s->change_filter >= 3 ? scan_track_value_index(s, 0, x) : 0))
      return 0;
    if (s->group_filter && !filter_is_empty(s->group_filter) && !filter_match_issuer(s->group_filter, x))
      return 0;
  }
  if (R.keyword_len && !scan_keyword_match(x, nullptr)) return 0;
  return take(x);
}

// Evaluation -----------------------------------------------------------------

static int append(instr* in) {
  if (R.count == R.capacity && grow_to(((R.count + 1999) / kStep) * kStep + kStep) < 0) return -1;
  R.cand[R.count++] = in;
  return 0;
}

static bool scanned(const scan* s, int e) {
  if (e == kExchangeAxo) return s->exchanges[3] || (s->exchanges[0] && (s->instr_filter & kScanDerivatives));
  return s->exchanges[e] != 0;
}

int scan_refresh(scan* s, int full) {
  int64_t sum = 0;
  for (int e = 0; e < kExchanges; e++) {
    ss_exchange* ex = ssmodel_exchange(e);
    if (ex && scanned(s, e)) sum += (int64_t)ex->stocks.count + (int64_t)ex->indices.count;
  }
  if (R.capacity < sum + 100 && grow_to((int32_t)(((sum + 1099) / kStep) * kStep + kStep)) < 0) return -1;
  scan_refresh_prepare(s);
  R.count = 0;
  R.matched = 0;
  if (!full && s->result_count) {
    for (int32_t i = 0; i < s->result_count; i++) {
      instr* in = s->results[i];
      int ok = in->kind == kKindStock   ? scan_test_stock(s, static_cast<ss_stock*>(in))
               : in->kind == kKindIndex ? scan_test_index(s, static_cast<ss_index*>(in))
                                        : 0;
      if (!ok) continue;
      in->scan_new = 1;
      R.cand[R.count++] = in;
    }
    if (R.order != 0) sort_candidates(R.cand, R.count, R.count);
    R.matched = R.count;
    if (R.count) {
      R.threshold = R.cand[R.count - 1];
      R.free_slots = kIncrementalRoom - R.count;
    }
  }
  for (int e = 0; e < kExchanges; e++) {
    ss_exchange* ex = ssmodel_exchange(e);
    if (!ex || !scanned(s, e)) continue;
    if (!(s->instr_filter & kScanNoStocks)) {
      chash_iter it;
      chash_iter_init(&ex->stocks, &it);
      bool stop = false;
      while (!stop) {
        ss_stock* st = static_cast<ss_stock*>(chash_iter_next(&ex->stocks, &it));
        if (!st) break;
        if (scan_test_stock(s, st) && append(st) < 0) stop = true;
      }
    }
    if (s->instr_filter & kScanIndices) {
      chash_iter it;
      chash_iter_init(&ex->indices, &it);
      for (;;) {
        ss_index* x = static_cast<ss_index*>(chash_iter_next(&ex->indices, &it));
        if (!x) break;
        if (scan_test_index(s, x) && append(x) < 0) break;
      }
    }
  }
  for (int32_t i = 0; i < s->result_count; i++) {
    s->results[i]->scan_old = i;
    s->results[i]->scan_new = -1;
  }
  for (int32_t i = 0; i < R.count; i++)
    if (R.cand[i]->scan_new == 1) R.cand[i]->scan_new = -1;
  if (R.order != 0) sort_candidates(R.cand, R.count, std::min<int32_t>((int32_t)s->limit, R.count));
  s->matched = R.matched;
  scan_publish(s);
  return 0;
}

int scan_refresh_wlist(scan* s) {
  int32_t n = wlist_count(s->source);
  if (R.capacity < n + 100 && grow_to(((n + 1099) / kStep) * kStep + kStep) < 0) return -1;
  scan_refresh_prepare(s);
  R.count = 0;
  for (int32_t i = 0; i < n; i++) R.cand[R.count++] = wlist_item_at(s->source, i);
  R.matched = R.count;
  if (R.order != 0)
    sort_candidates(R.cand, R.count, std::min<int32_t>((int32_t)s->limit, R.count));
  else if (s->reversed)
    std::reverse(R.cand, R.cand + R.count);
  for (int32_t i = 0; i < s->result_count; i++) {
    s->results[i]->scan_old = i;
    s->results[i]->scan_new = -1;
  }
  s->matched = R.matched;
  scan_publish(s);
  return 0;
}

void scan_publish(scan* s) {
  int32_t n = std::min<int32_t>((int32_t)s->limit, R.count);
  for (int32_t i = 0; i < n; i++) R.cand[i]->scan_new = i;
  for (int32_t i = 0; i < s->result_count; i++) {
    instr* in = s->results[i];
    if (in->scan_new == -1) scan_notify(s, kScanRemoved, in->scan_old, in);
  }
  int32_t c = 0;
  for (int32_t i = 0; i < n; i++) {
    instr* in = R.cand[i];
    if (in->scan_old == -1)
      scan_notify(s, kScanInserted, i, in);
    else if (in->scan_old != c)
      scan_notify(s, kScanMoved, i, in);
    else
      c++;
  }
  for (int32_t i = 0; i < s->result_count; i++) s->results[i]->scan_old = s->results[i]->scan_new = -1;
  for (int32_t i = 0; i < n; i++) R.cand[i]->scan_old = R.cand[i]->scan_new = -1;
  if (scan_reserve_results(s, n) == 0) {
    if (n > 0) memcpy(s->results, R.cand, (size_t)n * sizeof(instr*));  // results may still be null
    s->result_count = n;
  }
  if (R.count == 0) scan_notify(s, kScanCleared, 0, nullptr);
}

int scan_append_result(scan* s, instr* in) {
  if (scan_reserve_results(s, s->result_count + 1) < 0) return -1;
  s->results[s->result_count++] = in;
  return 0;
}
