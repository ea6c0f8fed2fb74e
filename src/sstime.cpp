// Packed local times (ss_time): building, splitting, calendar arithmetic,
// formatting and the parsers for the date texts that reach the terminal.
//
// All calendar work is integer arithmetic on the packed fields with small
// compile-time tables; nothing here allocates. The one shared state that
// moves is the clock base (the local time at the last base set and the wall
// clock at that moment). It lives in one 64-bit atomic word so that readers
// on any thread see a matching pair without taking the time lock.
#include "sstime.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "log.h"
#include "plat.h"

static const char kSrc[] = "src/sstime";

namespace {

constexpr int kYears = kSstimeLastYear - kSstimeFirstYear + 1;  // 64
constexpr int32_t kSecondsPerDay = 86400;
constexpr int kYearShift = 26;
constexpr int kMonthShift = 22;
constexpr int kDayShift = 17;
constexpr ss_time kDateMask = ~kSstimeSecondsMask;
constexpr ss_time kYearMask = 63u << kYearShift;
constexpr ss_time kMonthMask = 15u << kMonthShift;
constexpr ss_time kDayMask = 31u << kDayShift;
constexpr int32_t kWeekOffset = 4;  // 1 January 1970 (day 1) was a Thursday
constexpr int64_t kRefreshInterval = 3600;
constexpr int32_t kWeekCountBase = 372;
// A given day of the month recurs within 62 days (31 January to 31 March is
// the longest gap), so the ordinal search never needs to look further.
constexpr int kOrdinalSearchDays = 62;

constexpr bool is_leap_year(int y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

constexpr int8_t kMonthDays[2][13] = {
    {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};
constexpr int16_t kDaysBefore[2][13] = {
    {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335},
};
// Sakamoto's month keys (the codes of "-bed=pen+mad." modulo 7).
constexpr int8_t kMonthKey[13] = {0, 0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};

// Days in each year of the packed range and the days before each of them.
struct YearTables {
  int16_t days[kYears];
  int32_t before[kYears + 1];
};
constexpr YearTables make_year_tables() {
  YearTables t{};
  t.before[0] = 0;
  for (int i = 0; i < kYears; i++) {
    t.days[i] = is_leap_year(kSstimeFirstYear + i) ? 366 : 365;
    t.before[i + 1] = t.before[i] + t.days[i];
  }
  return t;
}
constexpr YearTables kYearTab = make_year_tables();
constexpr int32_t kTotalDays = kYearTab.before[kYears];

const char* const kMonthShort[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
const char* const kMonthLong[12] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                                    "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
const char* const kMailMonth[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kDayShort[7] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
const char* const kDayLong[7] = {"SUNDAY", "MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY"};
const char* const kOrdinals[4] = {"ST", "ND", "RD", "TH"};

struct ZoneWord {
  const char* word;
  int32_t seconds;
};
// Zone words of mail dates, in seconds east of UTC. The single military
// letters keep the signs that the first mail-date standard printed (A one
// hour west, N one hour east), which feeds written to it carry.
const ZoneWord kZoneWords[] = {
    {"CST", -21600}, {"CDT", -18000}, {"EST", -18000}, {"EDT", -14400}, {"MST", -25200}, {"MDT", -21600},
    {"PST", -28800}, {"PDT", -25200}, {"A", -3600},    {"N", 3600},     {"Y", 43200},    {"M", -43200},
};

}  // namespace

// Module state. The base word holds the wall-clock seconds of the last base
// set in its high half and the packed local time of that moment in its low
// half; as one atomic it can never be read half old and half new.
static struct {
  std::atomic<uint64_t> base{0};
  std::atomic<int32_t> offset{0};  // seconds east of UTC at the base
  std::atomic<time_t (*)(void)> wallclock{nullptr};
  int64_t last_refresh = 0;  // wall clock of the last refresh; time lock
  plat_slot lock = -1;
} S;

// Per thread, so that one thread's formatting or quiet split never shows
// through in another's.
static thread_local bool t_quiet = false;
static thread_local char t_datetime_buf[24];
static thread_local char t_date_buf[12];
// sstime_now's last answer on this thread and the base and wall clock it came
// from (a base of 0 is never stored, so the start never matches).
static thread_local uint64_t t_now_base = 0;
static thread_local time_t t_now_wall = 0;
static thread_local ss_time t_now = 0;
// sstime_diff_seconds's last pair of differing dates and the days between.
static thread_local uint32_t t_diff_key = 0;
static thread_local int32_t t_diff_days = 0;

namespace {

// Silences the validation messages of one split and restores the flag.
struct QuietGuard {
  bool saved;
  QuietGuard() : saved(t_quiet) { t_quiet = true; }
  ~QuietGuard() { t_quiet = saved; }
};


time_t wall_now() {
  time_t (*fn)(void) = S.wallclock.load(std::memory_order_acquire);
  return fn ? fn() : time(nullptr);
}

inline bool is_invalid(ss_time t) { return t == 0 || t >= kSstimeFirstInvalid; }
inline ss_time norm(ss_time t) { return t >= kSstimeFirstInvalid ? 0 : t; }
inline int year_index(ss_time t) { return static_cast<int>(t >> kYearShift); }
inline int month_of(ss_time t) { return static_cast<int>((t >> kMonthShift) & 15); }
inline int day_of(ss_time t) { return static_cast<int>((t >> kDayShift) & 31); }
inline int32_t sod_of(ss_time t) { return static_cast<int32_t>(t & kSstimeSecondsMask); }
inline bool has_date(ss_time t) { return (t >> kDayShift) != 0; }
// A dated value whose month and day can index the calendar tables.
inline bool date_ok(ss_time t) {
  int m = month_of(t);
  return !is_invalid(t) && m >= 1 && m <= 12 && day_of(t) >= 1;
}
inline int leap_of_index(int yi) { return kYearTab.days[yi] == 366 ? 1 : 0; }
inline int month_length(int yi, int month) { return kMonthDays[leap_of_index(yi)][month]; }

inline ss_time make_time(int yi, int month, int day, int32_t sod) {
  return (static_cast<ss_time>(yi) << kYearShift) | (static_cast<ss_time>(month) << kMonthShift) |
         (static_cast<ss_time>(day) << kDayShift) | static_cast<ss_time>(sod);
}

int32_t day_number_of(ss_time t) {
  int yi = year_index(t);
  return kYearTab.before[yi] + kDaysBefore[leap_of_index(yi)][month_of(t)] + day_of(t);
}

// The packed date (second of the day 0) of a day number in 1..kTotalDays.
ss_time date_of_day_number(int32_t dn) {
  // (dn - 1) / 365 is the year index or one above it (64 years hold only
  // 16 leap days), so the walk down takes at most one step.
  int yi = (dn - 1) / 365;
  if (yi > kYears - 1) yi = kYears - 1;
  while (yi > 0 && kYearTab.before[yi] >= dn) yi--;
  int yday = dn - kYearTab.before[yi];
  int leap = leap_of_index(yi);
  int m = 12;
  while (m > 1 && kDaysBefore[leap][m] >= yday) m--;
  return make_time(yi, m, yday - kDaysBefore[leap][m], 0);
}

int sakamoto_weekday(int year, int month, int day) {
  if (month < 3) year--;
  return (year + year / 4 - year / 100 + year / 400 + kMonthKey[month] + day) % 7;
}

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

ss_time add_days_wide(ss_time t, int64_t n) {
  t = norm(t);
  if (t == 0 || !has_date(t) || n == 0) return t;
  if (!date_ok(t)) return 0;
  int64_t day = day_of(t) + n;
  // Within the month the day field moves in place; only a day already past
  // the month's end (set without clamping) goes the long way forward.
  if (n > 0 && day <= month_length(year_index(t), month_of(t))) return (t & ~kDayMask) | (static_cast<ss_time>(day) << kDayShift);
  if (n < 0 && day >= 1) return (t & ~kDayMask) | (static_cast<ss_time>(day) << kDayShift);
  int64_t dn = day_number_of(t) + n;
  if (dn < 1 || dn > kTotalDays) return 0;
  return date_of_day_number(static_cast<int32_t>(dn)) | (t & kSstimeSecondsMask);
}

ss_time add_seconds_wide(ss_time t, int64_t n) {
  t = norm(t);
  if (n == 0) return t;
  if (!has_date(t)) {
    // No date to carry into: a time of day (or nothing) wraps at midnight.
    int64_t s = (sod_of(t) + n) % kSecondsPerDay;
    return static_cast<ss_time>(s < 0 ? s + kSecondsPerDay : s);
  }
  // Most sums stay within the day (the clock a second on, an exchange a few
  // hours off): no day moves and only the seconds change, as below.
  if (n > -kSecondsPerDay && n < kSecondsPerDay) {
    const int64_t s = sod_of(t) + n;
    if (s >= 0 && s < kSecondsPerDay) return (t & kDateMask) | static_cast<ss_time>(s);
  }
  int64_t days = n / kSecondsPerDay;
  int64_t rest = n % kSecondsPerDay;
  if (days != 0) {
    t = add_days_wide(t, days);
    if (t == 0) return 0;
  }
  int64_t s = sod_of(t) + rest;
  int64_t carry = floor_div(s, kSecondsPerDay);
  if (carry != 0) {
    t = add_days_wide(t, carry);
    if (t == 0) return 0;
    s -= carry * kSecondsPerDay;
  }
  return (t & kDateMask) | static_cast<ss_time>(s);
}

// One more decimal digit of a run, clamped at INT32_MAX as it is read: a
// long run saturates instead of wrapping ("4294967306" must not read as 10).
int64_t add_digit(int64_t v, char digit) {
  v = v * 10 + (digit - '0');
  return v > INT32_MAX ? INT32_MAX : v;
}

// Reads a decimal integer the way scanf's %d does (white space skipped, an
// optional sign), saturating at INT32_MAX (far beyond any date field)
// instead of overflowing. False when no digit follows.
bool scan_int(const char** pp, int32_t* out) {
  const char* p = *pp;
  while (isspace(static_cast<unsigned char>(*p))) p++;
  bool neg = false;
  if (*p == '+' || *p == '-') neg = *p++ == '-';
  if (!isdigit(static_cast<unsigned char>(*p))) return false;
  int64_t v = 0;
  while (isdigit(static_cast<unsigned char>(*p))) v = add_digit(v, *p++);
  *out = static_cast<int32_t>(neg ? -v : v);
  *pp = p;
  return true;
}

// Reads up to n integers separated by the character sep, as scanf reads
// "%d<sep>%d..."; returns how many were read.
int scan_ints(const char* p, char sep, int n, int32_t* out) {
  int got = 0;
  while (got < n) {
    if (got > 0) {
      if (*p != sep) break;
      p++;
    }
    if (!scan_int(&p, &out[got])) break;
    got++;
  }
  return got;
}

// A run of decimal digits at p (saturating); p moves past it.
int32_t read_digits(const char** pp) {
  const char* p = *pp;
  int64_t v = 0;
  while (isdigit(static_cast<unsigned char>(*p))) v = add_digit(v, *p++);
  *pp = p;
  return static_cast<int32_t>(v);
}

const char* skip_to_digit(const char* p) {
  while (*p && !isdigit(static_cast<unsigned char>(*p))) p++;
  return p;
}

// The zone of a mail date from its first character on, in seconds east of
// UTC. False for a numeric zone outside a day's worth of hours and minutes.
bool mail_zone(const char* p, int32_t* zone) {
  *zone = 0;
  if (*p == '+' || *p == '-') {
    int sign = *p == '-' ? -1 : 1;
    const char* q = p + 1;
    if (!isdigit(static_cast<unsigned char>(*q))) return true;
    const char* start = q;
    int32_t v = read_digits(&q);
    int32_t hh = v / 100, mm = v % 100;
    // "+11:00" also reaches us from feeds; read it as hours and minutes.
    if (q - start <= 2 && q[0] == ':' && isdigit(static_cast<unsigned char>(q[1]))) {
      q++;
      hh = v;
      mm = read_digits(&q);
    }
    if (hh > 23 || mm > 59) return false;
    *zone = sign * (hh * 60 + mm) * 60;
    return true;
  }
  // A zone word counts only as a whole word, so "AEST" is not the military
  // letter A and "MSK" is not M.
  size_t len = 0;
  while (isalpha(static_cast<unsigned char>(p[len]))) len++;
  for (const ZoneWord& z : kZoneWords) {
    if (strlen(z.word) == len && strncmp(p, z.word, len) == 0) {
      *zone = z.seconds;
      break;
    }
  }
  return true;
}

// Lowers a day past the month's end to its last day (a dated value only).
ss_time lower_day(ss_time t) {
  if (!date_ok(t)) return t;
  int md = month_length(year_index(t), month_of(t));
  if (day_of(t) > md) t = (t & ~kDayMask) | (static_cast<ss_time>(md) << kDayShift);
  return t;
}

int set_base_locked(int quiet) {
  time_t now = wall_now();
  tzset();  // pick up a changed zone setting as well as the rules in force
  struct tm tm;
  if (!localtime_r(&now, &tm)) {
    log(LOG_OSERR, kSrc, "can't get localtime");
    return -1;
  }
  int sec = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second reads as :59
  ss_time packed = sstime_pack(sec, tm.tm_min, tm.tm_hour, tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
  if (packed == 0) return -1;  // outside 1970-2033; sstime_pack logged why
  // The offset comes from the zone rules at this instant, so it carries
  // daylight saving (converting gmtime back with mktime would not).
  int32_t offset = static_cast<int32_t>(tm.tm_gmtoff);
  S.base.store((static_cast<uint64_t>(static_cast<uint32_t>(now)) << 32) | packed, std::memory_order_release);
  if (offset != S.offset.load(std::memory_order_relaxed)) {
    S.offset.store(offset, std::memory_order_release);
    if (!quiet) log(LOG_WARN, kSrc, "change local offset: %d", offset);
  }
  return 0;
}

}  // namespace

// Life cycle and clock ------------------------------------------------------

int sstime_init(void) {
  if (S.lock < 0) {
    S.lock = plat_mutex_create();
    if (S.lock < 0) {
      log(LOG_ERROR, kSrc, "can't create time lock");
      return -1;
    }
  }
  S.last_refresh = 0;
  return sstime_set_base(1);
}

void sstime_fini(void) {
  if (S.lock >= 0) plat_mutex_destroy(S.lock);
  S.lock = -1;
}

int sstime_set_base(int quiet) {
  plat_lock_guard g(S.lock);
  return set_base_locked(quiet);
}

int sstime_refresh(int force) {
  plat_lock_guard g(S.lock);
  time_t now = wall_now();
  if (now == S.last_refresh) return 0;
  struct tm tm;
  if (!localtime_r(&now, &tm)) {
    log(LOG_OSERR, kSrc, "can't get localtime");
    return -1;
  }
  // A clock that stepped back since the last refresh is due at once.
  if (!force && now > S.last_refresh && now - S.last_refresh < kRefreshInterval) return 0;
  S.last_refresh = now;
  return set_base_locked(0);
}

ss_time sstime_now(void) {
  uint64_t base = S.base.load(std::memory_order_acquire);
  const time_t wall = wall_now();
  // The stream asks several times a message; the answer changes only with
  // the wall clock's second or a new base.
  if (wall == t_now_wall && base == t_now_base) return t_now;
  int64_t elapsed = static_cast<int64_t>(wall) - static_cast<int64_t>(base >> 32);
  t_now = add_seconds_wide(static_cast<ss_time>(base), elapsed);
  t_now_wall = wall;
  t_now_base = base;
  return t_now;
}

int32_t sstime_local_offset(void) { return S.offset.load(std::memory_order_acquire); }

void sstime_set_test_wallclock(time_t (*fn)(void)) { S.wallclock.store(fn, std::memory_order_release); }

time_t sstime_wall(void) { return wall_now(); }

// Building and splitting ----------------------------------------------------

ss_time sstime_pack(int32_t sec, int32_t min, int32_t hour, int32_t day, int32_t month, int32_t year) {
  const bool quiet = t_quiet;
  if (sec < 0 || sec > 59) {
    if (!quiet) log(LOG_ERROR, kSrc, "bad seconds %d, should be in range 0-59", sec);
    return 0;
  }
  if (min < 0 || min > 59) {
    if (!quiet) log(LOG_ERROR, kSrc, "bad minutes %d, should be in range 0-59", min);
    return 0;
  }
  if (hour < 0 || hour > 23) {
    if (!quiet) log(LOG_ERROR, kSrc, "bad hour %d, should be in range 0-23", hour);
    return 0;
  }
  if (day < 1 || day > 31) {
    if (!quiet) log(LOG_ERROR, kSrc, "bad day %d, should be in range 1-31", day);
    return 0;
  }
  if (month < 1 || month > 12) {
    if (!quiet) log(LOG_ERROR, kSrc, "bad month %d, should be in range 1-12", month);
    return 0;
  }
  if (year < kSstimeFirstYear) {
    if (!quiet) log(LOG_ERROR, kSrc, "bad year %d, should be in range %d-%d", year, kSstimeFirstYear, kSstimeLastYear);
    return 0;
  }
  if (year > kSstimeLastYear) {
    if (!quiet) log(LOG_ERROR, kSrc, "bad year %d", year);
    return 0;
  }
  int yi = year - kSstimeFirstYear;
  int md = month_length(yi, month);
  return make_time(yi, month, day > md ? md : day, sstime_seconds_of_day(sec, min, hour));
}

int32_t sstime_seconds_of_day(int32_t sec, int32_t min, int32_t hour) { return hour * 3600 + min * 60 + sec; }

ss_time sstime_pack_date(int32_t day, int32_t month, int32_t year) {
  // Out-of-range fields would wrap into the neighbouring bit fields (2050
  // would pack as 1986), so they give "no time" instead.
  if (year < kSstimeFirstYear || year > kSstimeLastYear || month < 1 || month > 12 || day < 1) return 0;
  int yi = year - kSstimeFirstYear;
  int md = month_length(yi, month);
  return make_time(yi, month, day > md ? md : day, 0);
}

int sstime_unpack(sstime_parts* p, ss_time t) {
  if (is_invalid(t)) {
    memset(p, 0, sizeof *p);
    return -1;
  }
  const bool quiet = t_quiet;
  int rc = 0;
  int32_t sod = sod_of(t);
  p->sec = sod % 60;
  p->min = sod / 60 % 60;
  p->hour = sod / 3600;
  if (sod >= kSecondsPerDay) {
    if (!quiet) {
      log(LOG_WARN, kSrc, "hours are %d in %u", p->hour, t);
      log(LOG_ERROR, kSrc, "problem");
    }
    p->hour = 0;
  }
  if (!has_date(t)) {
    // A time of day: 1970 with day and month 0.
    p->mday = 0;
    p->mon = 0;
    p->year = kSstimeFirstYear;
    p->yday = 0;
    p->wday = 0;
    p->mdays = 0;
    p->leap = 0;
    p->ydays = kYearTab.days[0];
    p->weeks = (kWeekCountBase - sakamoto_weekday(kSstimeFirstYear, 1, 1)) / 7 + 1;
    return rc;
  }
  int yi = year_index(t);
  p->year = kSstimeFirstYear + yi;
  p->mday = day_of(t);
  p->mon = month_of(t);
  if (p->mday < 1 || p->mday > 31) {
    if (!quiet) {
      log(LOG_WARN, kSrc, "mday is %d in %u", p->mday, t);
      log(LOG_ERROR, kSrc, "problem");
    }
    p->mday = 1;
    rc = -1;
  }
  if (p->mon < 1 || p->mon > 12) {
    if (!quiet) {
      log(LOG_WARN, kSrc, "month is %d in %u", p->mon, t);
      log(LOG_ERROR, kSrc, "problem");
    }
    p->mon = 1;
    rc = -1;
  }
  p->leap = leap_of_index(yi);
  p->ydays = kYearTab.days[yi];
  p->mdays = kMonthDays[p->leap][p->mon];
  p->yday = kDaysBefore[p->leap][p->mon] + p->mday;
  p->wday = sakamoto_weekday(p->year, p->mon, p->mday);
  p->weeks = (kWeekCountBase + p->leap - sakamoto_weekday(p->year, 1, 1)) / 7 + 1;
  return rc;
}

ss_time sstime_set_fields(ss_time t, int32_t sec, int32_t min, int32_t hour, int32_t day, int32_t month,
                          int32_t year) {
  sstime_parts p;
  sstime_unpack(&p, norm(t));
  if (is_invalid(t)) p.year = kSstimeFirstYear;  // as time 0: no date, midnight
  if (sec != -1) p.sec = sec;
  if (min != -1) p.min = min;
  if (hour != -1) p.hour = hour;
  if (day != -1) p.mday = day;
  if (month != -1) p.mon = month;
  if (year != -1) p.year = year;
  // No range checks, but a field must fit its bits or it would spill into
  // its neighbour.
  int64_t sod = static_cast<int64_t>(p.hour) * 3600 + static_cast<int64_t>(p.min) * 60 + p.sec;
  if (sod < 0 || sod > kSstimeSecondsMask || p.mday < 0 || p.mday > 31 || p.mon < 0 || p.mon > 15 ||
      p.year < kSstimeFirstYear || p.year > kSstimeLastYear)
    return 0;
  return make_time(p.year - kSstimeFirstYear, p.mon, p.mday, static_cast<int32_t>(sod));
}

ss_time sstime_with_time_of_day(ss_time a, ss_time b) { return (norm(a) & kDateMask) | (norm(b) & kSstimeSecondsMask); }

ss_time sstime_with_date(ss_time a, ss_time b) { return (norm(a) & kSstimeSecondsMask) | (norm(b) & kDateMask); }

namespace {
// Replaces the second of the day; 0 when it would not fit its 17 bits.
ss_time with_sod(ss_time t, int64_t sod) {
  if (sod < 0 || sod > kSstimeSecondsMask) return 0;
  return (norm(t) & kDateMask) | static_cast<ss_time>(sod);
}
}  // namespace

ss_time sstime_at_hour(ss_time t, int32_t hour) { return with_sod(t, static_cast<int64_t>(hour) * 3600); }

ss_time sstime_set_hour(ss_time t, int32_t hour) {
  int32_t s = sod_of(norm(t));
  return with_sod(t, static_cast<int64_t>(hour) * 3600 + s % 3600);
}

ss_time sstime_set_minute(ss_time t, int32_t minute) {
  int32_t s = sod_of(norm(t));
  return with_sod(t, s / 3600 * 3600 + static_cast<int64_t>(minute) * 60 + s % 60);
}

ss_time sstime_set_second(ss_time t, int32_t second) {
  int32_t s = sod_of(norm(t));
  return with_sod(t, s / 60 * 60 + static_cast<int64_t>(second));
}

ss_time sstime_set_day(ss_time t, int32_t day) {
  if (day < 0 || day > 31) return 0;
  return (norm(t) & ~kDayMask) | (static_cast<ss_time>(day) << kDayShift);
}

ss_time sstime_set_month(ss_time t, int32_t month) {
  if (month < 0 || month > 15) return 0;
  return (norm(t) & ~kMonthMask) | (static_cast<ss_time>(month) << kMonthShift);
}

// Calendar queries ----------------------------------------------------------

int32_t sstime_weekday(ss_time t) {
  sstime_parts p;
  sstime_unpack(&p, t);
  return p.wday;
}

int32_t sstime_year_day(ss_time t) {
  sstime_parts p;
  sstime_unpack(&p, t);
  return p.yday;
}

int sstime_is_weekend(ss_time t) {
  if (!date_ok(t)) return 0;  // a time of day alone is no day of the week
  int32_t wd = sstime_weekday(t);
  return wd == 6 || wd == 0 ? 1 : 0;
}

int32_t sstime_day_number(ss_time t) { return date_ok(t) ? day_number_of(t) : 0; }

int32_t sstime_week_number(ss_time t) { return (sstime_day_number(t) + kWeekOffset) / 7; }

int32_t sstime_month_key(ss_time t) {
  t = norm(t);
  return year_index(t) + month_of(t);
}

int32_t sstime_date_compare(ss_time a, ss_time b) {
  return 2 * (static_cast<int32_t>(norm(a) >> kDayShift) - static_cast<int32_t>(norm(b) >> kDayShift));
}

int32_t sstime_diff_days(ss_time a, ss_time b) { return sstime_day_number(a) - sstime_day_number(b); }

int32_t sstime_diff_seconds(ss_time a, ss_time b) {
  a = norm(a);
  b = norm(b);
  const ss_time da = a >> kDayShift, db = b >> kDayShift;
  if (da == db) return sod_of(a) - sod_of(b);
  // The days between two dates depend on the dates alone, and a caller
  // comparing stamps with the clock asks about the same two dates for hours:
  // the last pair asked on this thread is remembered. (A date part is 15
  // bits, so the pair fits one key; 0 never occurs, the dates differing.)
  const uint32_t key = (da << 15) | db;
  if (key != t_diff_key) {
    // Day numbers depend only on the date bits (0 for a value without a
    // proper date, as for 0 itself).
    t_diff_days = sstime_day_number(a) - sstime_day_number(b);
    t_diff_key = key;
  }
  // 64 years of seconds (about 2.02e9) still fit a signed 32-bit value.
  return static_cast<int32_t>(static_cast<int64_t>(t_diff_days) * kSecondsPerDay + sod_of(a) - sod_of(b));
}

// Arithmetic ----------------------------------------------------------------

ss_time sstime_add_seconds(ss_time t, int32_t n) { return add_seconds_wide(t, n); }

ss_time sstime_add_days(ss_time t, int32_t n) { return add_days_wide(t, n); }

ss_time sstime_sub_days(ss_time t, int32_t n) { return add_days_wide(t, -static_cast<int64_t>(n)); }

ss_time sstime_add_months(ss_time t, int32_t n) {
  t = norm(t);
  if (t == 0 || !has_date(t) || n == 0) return t;
  if (!date_ok(t)) return 0;
  int64_t m = month_of(t) - 1 + static_cast<int64_t>(n);
  int64_t yi = year_index(t) + floor_div(m, 12);
  if (yi < 0 || yi >= kYears) return 0;
  int month = static_cast<int>(m - floor_div(m, 12) * 12) + 1;
  int md = month_length(static_cast<int>(yi), month);
  int day = day_of(t) > md ? md : day_of(t);
  return make_time(static_cast<int>(yi), month, day, sod_of(t));
}

ss_time sstime_add_years(ss_time t, int32_t n) {
  t = norm(t);
  if (t == 0 || !has_date(t)) return t;
  int64_t yi = year_index(t) + static_cast<int64_t>(n);
  if (yi < 0 || yi >= kYears) return 0;
  return (t & ~kYearMask) | (static_cast<ss_time>(yi) << kYearShift);
}

// Formatting ----------------------------------------------------------------

namespace {
// Every field is in range after the split's repairs (year 1970-2033, the
// others two digits), so fixed-width digits are exact.
void put2(char* out, int32_t v) {
  out[0] = static_cast<char>('0' + v / 10 % 10);
  out[1] = static_cast<char>('0' + v % 10);
}
// "YYYY-MM-DD" into the first ten bytes.
void put_date(char* out, const sstime_parts& p) {
  put2(out, p.year / 100);
  put2(out + 2, p.year);
  out[4] = '-';
  put2(out + 5, p.mon);
  out[7] = '-';
  put2(out + 8, p.mday);
}
}  // namespace

char* sstime_format_datetime_into(char* buf, ss_time t) {
  if (is_invalid(t)) {
    memcpy(buf, "-", 2);
    return buf;
  }
  sstime_parts p;
  sstime_unpack(&p, t);
  put_date(buf, p);
  buf[10] = ' ';
  put2(buf + 11, p.hour);
  buf[13] = ':';
  put2(buf + 14, p.min);
  buf[16] = ':';
  put2(buf + 17, p.sec);
  buf[19] = 0;
  return buf;
}

const char* sstime_format_datetime(ss_time t) { return sstime_format_datetime_into(t_datetime_buf, t); }

char* sstime_format_date_into(char* buf, ss_time t) {
  if (is_invalid(t)) {
    memcpy(buf, "-", 2);
    return buf;
  }
  sstime_parts p;
  {
    QuietGuard quiet;
    sstime_unpack(&p, t);
  }
  put_date(buf, p);
  buf[10] = 0;
  return buf;
}

const char* sstime_format_date(ss_time t) { return sstime_format_date_into(t_date_buf, t); }

// Parsers -------------------------------------------------------------------

ss_time sstime_parse_yyyymmdd(const char* text) {
  if (!text) return 0;
  int32_t n;
  if (!scan_int(&text, &n) || n < 19000000 || n > 21000000) return 0;
  return sstime_pack_date(n % 100, n / 100 % 100, n / 10000);
}

ss_time sstime_parse_ymd(const char* text) {
  if (!text) return 0;
  int32_t f[3];
  if (scan_ints(text, '-', 3, f) != 3 || f[0] < 1900 || f[0] > 2100) return 0;
  return sstime_pack_date(f[2], f[1], f[0]);
}

ss_time sstime_parse_mail_date(const char* text) {
  if (!text) return 0;
  const char* p = skip_to_digit(text);
  if (!*p) return 0;
  int32_t day = read_digits(&p);
  while (*p && !isalpha(static_cast<unsigned char>(*p))) p++;
  int month = 0;
  for (int i = 0; i < 12; i++) {
    if (strncmp(p, kMailMonth[i], 3) == 0) {
      month = i + 1;
      break;
    }
  }
  if (month == 0) return 0;
  p = skip_to_digit(p + 3);
  int32_t year = *p ? read_digits(&p) : 0;
  if (year < 50) {
    year += 2000;
  } else if (year < 100) {
    year += 1900;
  }
  if (!*p) return sstime_pack_date(day, month, year);
  p = skip_to_digit(p);
  int32_t hour = *p ? read_digits(&p) : 0;
  p = skip_to_digit(p);
  int32_t min = *p ? read_digits(&p) : 0;
  int32_t sec = 0;
  if (p[0] == ':' && isdigit(static_cast<unsigned char>(p[1]))) {
    p++;
    sec = read_digits(&p);
  }
  ss_time t = sstime_pack(sec, min, hour, day, month, year);
  if (t == 0) return 0;
  while (isspace(static_cast<unsigned char>(*p))) p++;
  if (!*p) return t;  // no zone: already local
  int32_t zone;
  if (!mail_zone(p, &zone)) return 0;
  return add_seconds_wide(t, static_cast<int64_t>(sstime_local_offset()) - zone);
}

ss_time sstime_parse_date_time(const char* text) {
  if (!text) return 0;
  int32_t d[3], h[3];
  if (scan_ints(text, '-', 3, d) != 3) return 0;
  const char* tee = strchr(text, 'T');
  if (!tee || scan_ints(tee + 1, ':', 3, h) != 3) return 0;
  ss_time t = sstime_pack(h[2], h[1], h[0], d[2], d[1], d[0]);
  if (t == 0) return 0;
  int32_t zone = 0;
  const char* z = strchr(tee, '+');
  if (!z) z = strchr(tee, '-');
  if (z) {
    int32_t hm[2];
    if (scan_ints(z + 1, ':', 2, hm) != 2 || hm[0] < 0 || hm[0] > 23 || hm[1] < 0 || hm[1] > 59) return 0;
    zone = (hm[0] * 3600 + hm[1] * 60) * (*z == '-' ? -1 : 1);
  }
  return add_seconds_wide(t, static_cast<int64_t>(sstime_local_offset()) - zone);
}

const char* sstime_find_word(const char* text, const char* word) {
  if (!text || !word || !*word) return nullptr;
  const char* p = strstr(text, word);
  if (!p) return nullptr;
  unsigned char after = static_cast<unsigned char>(p[strlen(word)]);
  if (after != 0 && !isspace(after)) return nullptr;
  if (p != text) {
    unsigned char before = static_cast<unsigned char>(p[-1]);
    if (!isspace(before) && !isdigit(before)) return nullptr;
  }
  return p;
}

ss_time sstime_parse_expression(const char* text, uint32_t* given) {
  constexpr uint32_t kHour = 0x01, kMinute = 0x02, kSecond = 0x04, kDay = 0x08, kMonth = 0x10, kYear = 0x20;
  constexpr uint32_t kDate = kDay | kMonth | kYear;
  if (given) *given = 0;
  if (!text) return 0;
  uint32_t mask = 0;
  ss_time r = sstime_now();

  if (sstime_find_word(text, "NOW") || sstime_find_word(text, "LIVE")) mask |= kDate | kHour | kMinute | kSecond;
  if (sstime_find_word(text, "TODAY")) mask |= kDate;

  // A clock time at the start. Fields may overflow their usual ranges
  // ("9:90" is 10:30), but the sum must be a time of day: anything else
  // would spill into the date bits.
  int32_t hms[3];
  int got = scan_ints(text, ':', 3, hms);
  if (got >= 2) {
    int64_t sod = static_cast<int64_t>(hms[0]) * 3600 + static_cast<int64_t>(hms[1]) * 60 + (got == 3 ? hms[2] : 0);
    if (sod >= 0 && sod < kSecondsPerDay) {
      r = (r & kDateMask) | static_cast<ss_time>(sod);
      mask |= got == 3 ? (kHour | kMinute | kSecond) : (kHour | kMinute);
    }
  }

  int weekday = -1;
  for (int i = 0; i < 7 && weekday < 0; i++)
    if (sstime_find_word(text, kDayShort[i])) weekday = i;
  for (int i = 0; i < 7 && weekday < 0; i++)
    if (sstime_find_word(text, kDayLong[i])) weekday = i;
  if (weekday >= 0) {
    int back = (sstime_weekday(r) - weekday + 7) % 7;
    ss_time d = add_days_wide(r, back == 0 ? -7 : -back);
    if (d != 0) r = d;
    mask |= kDate;
  }

  for (int y = kSstimeLastYear; y >= kSstimeFirstYear; y--) {
    char word[8];
    snprintf(word, sizeof word, "%d", y);
    if (sstime_find_word(text, word)) {
      r = (r & ~kYearMask) | (static_cast<ss_time>(y - kSstimeFirstYear) << kYearShift);
      mask |= kYear;
      break;
    }
  }

  const char* month_at = nullptr;
  int month = 0;
  for (int i = 0; i < 24 && !month_at; i++) {
    month_at = sstime_find_word(text, i < 12 ? kMonthShort[i] : kMonthLong[i - 12]);
    month = i % 12 + 1;
  }
  if (month_at) {
    r = (r & ~kMonthMask) | (static_cast<ss_time>(month) << kMonthShift);
    mask |= kMonth;
    const char* sp = strchr(month_at, ' ');
    int32_t day;
    if (sp && scan_int(&sp, &day) && day >= 1 && day <= 31) {
      r = (r & ~kDayMask) | (static_cast<ss_time>(day) << kDayShift);
      mask |= kDay;
    }
  }

  if (!(mask & kDay)) {
    const char* at = nullptr;
    for (int i = 0; i < 4 && !at; i++) at = sstime_find_word(text, kOrdinals[i]);
    if (at && at > text && isdigit(static_cast<unsigned char>(at[-1]))) {
      int day = at[-1] - '0';
      if (at - 1 > text && isdigit(static_cast<unsigned char>(at[-2]))) day += 10 * (at[-2] - '0');
      if (day >= 1 && day <= 31) {
        if (mask & kMonth) {
          r = (r & ~kDayMask) | (static_cast<ss_time>(day) << kDayShift);
          mask |= kDay;
        } else {
          // The most recent earlier date with that day of the month.
          ss_time d = r;
          for (int k = 0; k < kOrdinalSearchDays; k++) {
            d = add_days_wide(d, -1);
            if (d == 0 || day_of(d) == day) break;
          }
          if (d != 0 && day_of(d) == day) {
            r = d;
            mask |= kDate;
          }
        }
      }
    }
  }

  // A named month or year can leave the day past the month's end ("FEB" on
  // the 31st, "FEB 30"): the date is kept real by taking the last day.
  r = lower_day(r);
  if (given) *given = mask;
  return mask ? r : 0;
}
