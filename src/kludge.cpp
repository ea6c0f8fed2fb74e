// Cut-over dates and data fix-ups. The exchanges and the server changed
// rules and formats on known days; rather than let every decoder compare
// dates, the dates live here as packed times made once at start, and each
// rule is one named test. The day-level tests compare dates, not times, so a
// record stamped late on the last day of a period still falls inside it.
// The trade-condition rewrite moves three flags between the bits the wire of
// exchanges 0 and 3 uses and bits 61-63 of the model's mask.
#include "kludge.h"

#include <cstring>

#include "log.h"

static const char kSrc[] = "src/kludge";

namespace {

enum cutover : int {
  k20070501,
  k20070727,
  k20080304,
  k20090610,
  k20090615,
  k20090616,
  k20090612,
  k20090623,
  k20100606,
  k20100628,
  k20130201,
  k20140210,
  k20140211,
  k20140221,
  k20140429,
  k20140515,
  kCutovers
};

struct ymd {
  int32_t year, month, day;
};

// In the order kludge_init makes them; indexed by `cutover`.
constexpr ymd kCutoverDates[kCutovers] = {
    {2007, 5, 1},  {2007, 7, 27}, {2008, 3, 4},  {2009, 6, 10}, {2009, 6, 15}, {2009, 6, 16},
    {2009, 6, 12}, {2009, 6, 23}, {2010, 6, 6},  {2010, 6, 28}, {2013, 2, 1},  {2014, 2, 10},
    {2014, 2, 11}, {2014, 2, 21}, {2014, 4, 29}, {2014, 5, 15},
};

// Module state.
struct kludge_state {
  ss_time date[kCutovers];  // each at 00:00:00
};

kludge_state g;

// Index ticks of these codes sent in the bad window are dropped.
constexpr const char* kMainIndices[] = {"XAO", "XAT", "XJO", "XKO", "XLD", "XMD", "XNJ", "XTO"};
constexpr int32_t kBadTicksFrom = 10 * 3600 + 13 * 60 + 20;  // 10:13:20
constexpr int32_t kBadTicksTo = 10 * 3600 + 13 * 60 + 40;    // 10:13:40, inclusive

constexpr int32_t kDayStartHourBefore2013 = 8;
constexpr int32_t kDayStartHour = 7;

// Wire bits of exchange 0 ("_CX" stocks: quote board and bulletin board
// trades; other stocks and exchange 3: OTC).
constexpr uint64_t kWireQuoteBoard = 1ull << 48;
constexpr uint64_t kWireBulletinBoard = 1ull << 32;
constexpr uint64_t kWireOtc = 1ull << 4;
constexpr uint64_t kHighFlags = kTradeLargePortfolio | kTradeLargePrinciple | kTradeOtc;
// A mask exchange 0 sent for one kind of trade that means another.
constexpr uint64_t kMisreportedMask = 0x800000000100ull;
constexpr uint64_t kMisreportedMaskFixed = 0x800080000001ull;

const char* const kExchangeNames[] = {"ASX", "NZX", "GLB", "AXO"};

const char* exchange_name(int32_t exchange) { return exchange >= 0 && exchange < 4 ? kExchangeNames[exchange] : "?"; }

const char* shown(const char* code) { return code != nullptr ? code : "?"; }

bool is_cx(const char* code) { return code != nullptr && strstr(code, "_CX") != nullptr; }

bool before_date(ss_time t, cutover c) { return sstime_date_compare(t, g.date[c]) < 0; }
bool on_or_after_date(ss_time t, cutover c) { return sstime_date_compare(t, g.date[c]) >= 0; }
bool on_or_before_date(ss_time t, cutover c) { return sstime_date_compare(t, g.date[c]) <= 0; }

// Conditions of exchange 3 and of exchange 0 outside "_CX": only the OTC flag
// has a wire bit.
uint64_t out_otc_only(int32_t exchange, const char* code, uint64_t c) {
  if (c & kTradeLargePortfolio)
    log(LOG_ERROR, kSrc, "can't kludge %s:%s large portfolio", exchange_name(exchange), shown(code));
  if (c & kTradeLargePrinciple)
    log(LOG_ERROR, kSrc, "can't kludge %s:%s large principle", exchange_name(exchange), shown(code));
  uint64_t out = c & ~kHighFlags;
  if (c & kTradeOtc) out |= kWireOtc;
  return out;
}

}  // namespace

int kludge_init(void) {
  for (int i = 0; i < kCutovers; i++)
    g.date[i] = sstime_pack_date(kCutoverDates[i].day, kCutoverDates[i].month, kCutoverDates[i].year);
  return 0;
}

void kludge_fini(void) {}

int kludge_within_20070501(ss_time t) { return on_or_after_date(t, k20070501) && before_date(t, k20070727); }

int kludge_after_20080304(ss_time t) { return on_or_after_date(t, k20080304); }

int kludge_before_20090610(ss_time t) {
  return before_date(t, k20090610) || t == g.date[k20090615] || t == g.date[k20090616];
}

int kludge_within_20090612(ss_time t) { return on_or_after_date(t, k20090612) && on_or_before_date(t, k20090623); }

int kludge_before_20100606(ss_time t) { return before_date(t, k20100606); }

int kludge_is_main_index(ss_time t, const char* index_code) {
  // The date bits of the cut-over are exact, so the window is a range of
  // packed values on that one day.
  if (t < g.date[k20100628] + kBadTicksFrom || t > g.date[k20100628] + kBadTicksTo) return 0;
  if (index_code == nullptr) return 0;
  for (const char* main : kMainIndices)
    if (strcmp(main, index_code) == 0) return 1;
  return 0;
}

ss_time kludge_day_start(ss_time t) {
  return sstime_at_hour(t, t < g.date[k20130201] ? kDayStartHourBefore2013 : kDayStartHour);
}

int kludge_is_20140210(int32_t exchange, ss_time date) {
  return exchange == 0 && sstime_date_compare(date, g.date[k20140210]) == 0;
}

ss_time kludge_date_20140211(void) { return g.date[k20140211]; }
ss_time kludge_date_20140221(void) { return g.date[k20140221]; }
ss_time kludge_date_20140429(void) { return g.date[k20140429]; }
ss_time kludge_date_20140515(void) { return g.date[k20140515]; }

void kludge_trade_in(int32_t exchange, const char* code, uint64_t* conditions) {
  uint64_t c = *conditions;
  if (exchange == 0) {
    if (c == kMisreportedMask) {
      *conditions = kMisreportedMaskFixed;
      return;
    }
    if (is_cx(code)) {
      if (c & kWireQuoteBoard) c = (c & ~kWireQuoteBoard) | kTradeLargePrinciple;
      if (c & kWireBulletinBoard) c = (c & ~kWireBulletinBoard) | kTradeLargePortfolio;
      *conditions = c;
      return;
    }
  } else if (exchange != 3) {
    return;
  }
  if (c & kWireOtc) *conditions = (c & ~kWireOtc) | kTradeOtc;
}

uint64_t kludge_trade(int32_t exchange, const char* code, uint64_t conditions) {
  const uint64_t c = conditions;
  if (exchange == 3 || (exchange == 0 && !is_cx(code))) return out_otc_only(exchange, code, c);
  if (exchange == 0) {
    uint64_t out = c & ~kHighFlags;
    if (out & kWireQuoteBoard) {
      log(LOG_ERROR, kSrc, "can't kludge %s:%s quote board trade", exchange_name(exchange), shown(code));
      out &= ~kWireQuoteBoard;
    }
    if (out & kWireBulletinBoard) {
      log(LOG_ERROR, kSrc, "can't kludge %s:%s bulletin board trade", exchange_name(exchange), shown(code));
      out &= ~kWireBulletinBoard;
    }
    if (c & kTradeLargePrinciple) out |= kWireQuoteBoard;
    if (c & kTradeLargePortfolio) out |= kWireBulletinBoard;
    if (c & kTradeOtc) log(LOG_ERROR, kSrc, "can't kludge %s:%s OTC trade", exchange_name(exchange), shown(code));
    return out;
  }
  // The other exchanges have no wire bits for any of the three flags.
  if ((c & kHighFlags) == 0) return c;
  log(LOG_ERROR, kSrc, "can't kludge %s:%s%s%s%s trade", exchange_name(exchange), shown(code),
      (c & kTradeLargePortfolio) ? " large portfolio" : "", (c & kTradeLargePrinciple) ? " large principle" : "",
      (c & kTradeOtc) ? " OTC" : "");
  return c & ~kHighFlags;
}
