// Value formatters. One static 32-byte buffer carries every result, so a
// formatter is a print plus a few byte edits and never allocates; the price
// of that is that a result lives only until the next call. Trimming and the
// small-digit marks are edits of the printed text, done from the right.
#include "lib/fmt.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/strbuf.h"

constexpr int kFmtBuf = 32;

static struct {
  char buf[kFmtBuf];
  char vol_signed[kFmtBuf];
  char vol_short_signed[kFmtBuf];
} S;

// Constant texts. Writable but never written.
static char kDash[] = "-";
static char kEmpty[] = "";
static char kZero[] = "0";
static char kZeroPct[] = "0%";
static char kZeroMark[] = "-` ";
static char kWideZeroMark[] = "-`   ";
static char kBelowCap[] = "<10000%";
static char kAboveCap[] = ">10000%";

static const char *const kMonths[13] = {"???",  "January", "February",  "March",   "April",    "May",     "June",
                                         "July", "August",  "September", "October", "November", "December"};
static const char *const kWeekdays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
static const char *const kWeekdayShort[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
static const char *const kWeekdayLetter[7] = {"S", "M", "T", "W", "T", "F", "S"};

static char small(char digit) { return static_cast<char>(digit + kFmtSmall); }

// Inserts ',' before every third digit from the right of the digits that
// start at s (numbers of fewer than four digits are left alone).
static void group(char *s) {
  size_t n = strlen(s);
  if (n < 4) return;
  size_t commas = (n - 1) / 3;
  char *src = s + n, *dst = s + n + commas;
  *dst = 0;
  for (size_t i = 0; i < n; i++) {
    *--dst = *--src;
    if (i % 3 == 2 && i + 1 < n) *--dst = ',';
  }
}

// "%u.%02u" of v / 100, v % 100, returning the text's length.
static size_t print_units(char *out, uint64_t v) {
  return static_cast<size_t>(snprintf(out, kFmtBuf, "%llu.%02u", static_cast<unsigned long long>(v / 100),
                                      static_cast<unsigned>(v % 100)));
}

// Cuts trailing zero decimals: 12.50 -> 12.5, 12.00 -> 12.
static void trim(char *s, size_t n) {
  if (n && s[n - 1] == '0') {
    s[--n] = 0;
    if (n && s[n - 1] == '0') {
      s[--n] = 0;
      if (n && s[n - 1] == '.') s[--n] = 0;
    }
  }
}

// Cent marks of the small-cents family on "d...d.cc" of length n.
enum CentStyle { kCentsMark, kCentsBlank, kCentsFixed };
static void small_cents(char *s, size_t n, CentStyle style) {
  char *tens = s + n - 2, *units = s + n - 1, *point = s + n - 3;
  if (*units != '0') {
    *tens = small(*tens);
    *units = small(*units);
    return;
  }
  if (*tens != '0') {
    *tens = small(*tens);
    if (style == kCentsFixed)
      *units = ' ';
    else
      *units = 0;
    return;
  }
  switch (style) {
    case kCentsMark:  // "123` "
      *point = kFmtFiller;
      *tens = ' ';
      *units = 0;
      break;
    case kCentsBlank:  // "123"
      *point = 0;
      break;
    case kCentsFixed:  // "123`  "
      *point = kFmtFiller;
      *tens = ' ';
      *units = ' ';
      break;
  }
}

// Drops a '0' standing right before the point, at position at (after any
// sign): "0.f" -> ".f", "+0.25" -> "+.25".
static void drop_leading_zero(char *s, size_t at) {
  if (s[at] == '0' && s[at + 1] == '.') memmove(s + at, s + at + 1, strlen(s + at + 1) + 1);
}

static uint32_t magnitude(int32_t v) { return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v); }

// Prices and changes -------------------------------------------------------

const char *fmt_int(int32_t v) {
  if (v == 0) return kEmpty;
  snprintf(S.buf, kFmtBuf, "%d", v);
  return S.buf;
}

const char *fmt_price(uint32_t v) {
  if (v == 0 || v == 0xFFFFFFFFu) return kEmpty;
  trim(S.buf, print_units(S.buf, v));
  return S.buf;
}

const char *fmt_cents(uint32_t v) { return fmt_price(v); }

const char *fmt_price_small_cents(uint32_t v) {
  if (v == 0 || v == 0xFFFFFFFFu) return kZeroMark;
  small_cents(S.buf, print_units(S.buf, v), kCentsMark);
  drop_leading_zero(S.buf, 0);
  return S.buf;
}

const char *fmt_price_small_cents_blank(uint32_t v) {
  if (v == 0 || v == 0xFFFFFFFFu) return kEmpty;
  small_cents(S.buf, print_units(S.buf, v), kCentsBlank);
  return S.buf;
}

const char *fmt_price_small_cents_fixed(uint32_t v) {
  if (v == 0) return kEmpty;
  small_cents(S.buf, print_units(S.buf, v), kCentsFixed);
  return S.buf;
}

// Sign then "%u.%02u" of the magnitude; the text's length.
static size_t print_signed_units(int32_t v) {
  S.buf[0] = v < 0 ? '-' : '+';
  return 1 + print_units(S.buf + 1, magnitude(v));
}

static const char *change(int32_t v, CentStyle style) {
  if (v == 0) return style == kCentsFixed ? kWideZeroMark : kZeroMark;
  small_cents(S.buf, print_signed_units(v), style);
  drop_leading_zero(S.buf, 1);
  return S.buf;
}

const char *fmt_change(int32_t v) { return change(v, kCentsMark); }
const char *fmt_change_fixed(int32_t v) { return change(v, kCentsFixed); }

const char *fmt_change_trimmed(int32_t v) {
  if (v == 0) return kEmpty;
  trim(S.buf, print_signed_units(v));
  drop_leading_zero(S.buf, 1);
  return S.buf;
}

const char *fmt_percent_change_trimmed(int32_t v) { return fmt_change_trimmed(v); }
const char *fmt_change_ticker(int32_t v) { return fmt_change_trimmed(v); }

const char *fmt_change_percent(int32_t v) {
  if (v == 0) return kWideZeroMark;
  size_t n = print_signed_units(v);
  S.buf[n - 2] = small(S.buf[n - 2]);
  S.buf[n - 1] = small(S.buf[n - 1]);
  S.buf[n] = '%';
  S.buf[n + 1] = 0;
  drop_leading_zero(S.buf, 1);
  return S.buf;
}

const char *fmt_percent_capped(int32_t v) {
  if (v < -1000000) return kBelowCap;
  if (v > 1000000) return kAboveCap;
  uint32_t whole = magnitude(v) / 100;
  // A truncated zero would print "+0%" or "-0%": no value worth showing.
  if (whole == 0) return kDash;
  snprintf(S.buf, kFmtBuf, "%c%u%%", v < 0 ? '-' : '+', whole);
  return S.buf;
}

// Floats print only when finite and within a printable range; "%.2f" of a
// value near FLT_MAX needs 40 characters, more than the buffer holds.
static bool printable(float v) { return std::isfinite(v) && std::fabs(v) < 1e15f; }

const char *fmt_percent(float v) {
  if (v == 0.0f) return kZeroMark;
  if (!printable(v)) return kDash;
  snprintf(S.buf, kFmtBuf, "%.2f%%", static_cast<double>(v));
  return S.buf;
}

const char *fmt_percent_whole(float v) {
  if (v == 0.0f) return kZeroMark;
  if (!printable(v)) return kDash;
  snprintf(S.buf, kFmtBuf, "%.0f%%", static_cast<double>(v));
  return S.buf[0] == '0' ? kEmpty : S.buf;
}

const char *fmt_float_percent(float v) {
  if (v == 0.0f) return kZeroPct;
  if (!printable(v)) return kDash;
  snprintf(S.buf, kFmtBuf, "%.2f%%", static_cast<double>(v));
  return S.buf;
}

// Volumes, counts and money ------------------------------------------------

static const char *grouped(char *out, const char *prefix, uint64_t v) {
  size_t p = strlen(prefix);
  memcpy(out, prefix, p);
  snprintf(out + p, kFmtBuf - p, "%llu", static_cast<unsigned long long>(v));
  group(out + p);
  return out;
}

const char *fmt_volume(uint64_t v) {
  if (v == 0 || v == ~0ull) return kDash;
  return grouped(S.buf, "", v);
}

const char *fmt_count(uint32_t v) {
  if (v == 0 || v == 0xFFFFFFFFu) return kDash;
  return grouped(S.buf, "", v);
}

static uint64_t magnitude64(int64_t v) { return v < 0 ? 0ull - static_cast<uint64_t>(v) : static_cast<uint64_t>(v); }

const char *fmt_volume_signed(int64_t v) {
  if (v == 0) return kDash;
  return grouped(S.vol_signed, v < 0 ? "-" : "+", magnitude64(v));
}

// The tenths form: whole units of size tenth * 10 with a small tenth digit
// (or a plain one), rounded to the tenth unless the truncated tenth is 0.
static void tenths(char *out, size_t cap, const char *prefix, uint64_t v, uint64_t tenth, char letter,
                   bool small_digit) {
  unsigned long long q = v / tenth;
  if (q % 10 == 0) {
    snprintf(out, cap, "%s%llu%c", prefix, q / 10, letter);
    return;
  }
  unsigned long long r = (v + tenth / 2) / tenth;
  if (r % 10 == 0)
    snprintf(out, cap, "%s%llu%c", prefix, r / 10, letter);
  else
    snprintf(out, cap, "%s%llu.%c%c", prefix, r / 10, static_cast<char>((small_digit ? 'a' : '0') + r % 10),
             letter);
}

static void volume_short(char *out, uint64_t v) {
  if (v >= 10000000000ull) {
    tenths(out, kFmtBuf, "", v, 100000000ull, 'B', true);
  } else if (v >= 10000000ull) {
    snprintf(out, kFmtBuf, "%lluM", static_cast<unsigned long long>((v + 500000) / 1000000));
  } else if (v >= 1000000ull) {
    tenths(out, kFmtBuf, "", v, 100000ull, 'M', true);
  } else if (v >= 1000ull) {
    unsigned r = static_cast<unsigned>((v + 50) / 100);
    if (r % 10 == 0)
      snprintf(out, kFmtBuf, "%uK", r / 10);
    else
      snprintf(out, kFmtBuf, "%u.%cK", r / 10, static_cast<char>('a' + r % 10));
  } else {
    snprintf(out, kFmtBuf, "%u", static_cast<unsigned>(v));
  }
}

const char *fmt_volume_short(uint64_t v) {
  if (v == 0 || v == ~0ull) return kDash;
  volume_short(S.buf, v);
  return S.buf;
}

const char *fmt_volume_short_signed(int64_t v) {
  if (v == 0) return kDash;
  S.vol_short_signed[0] = v < 0 ? '-' : '+';
  volume_short(S.vol_short_signed + 1, magnitude64(v));
  return S.vol_short_signed;
}

const char *fmt_count_short(uint64_t v) {
  if (v == 0 || v == ~0ull) return kDash;
  if (v >= 10000000000ull)
    tenths(S.buf, kFmtBuf, "", v, 100000000ull, 'B', false);
  else if (v >= 10000000ull)
    snprintf(S.buf, kFmtBuf, "%lluM", static_cast<unsigned long long>((v + 500000) / 1000000));
  else if (v >= 1000000ull)
    tenths(S.buf, kFmtBuf, "", v, 100000ull, 'M', false);
  else if (v >= 1000ull)
    snprintf(S.buf, kFmtBuf, "%lluK", static_cast<unsigned long long>((v + 499) / 1000));
  else
    snprintf(S.buf, kFmtBuf, "%llu", static_cast<unsigned long long>(v));
  return S.buf;
}

const char *fmt_money(uint64_t cents) {
  if (cents == 0) return kDash;
  uint64_t dollars = cents / 100 + (cents % 100 + 49) / 100;  // (cents + 49) / 100 without overflow
  return grouped(S.buf, "$", dollars);
}

const char *fmt_money_short(uint64_t cents) {
  if (cents < 51) return kDash;
  uint64_t d = cents / 100 + (cents % 100 + 49) / 100;
  if (cents >= 100000000000ull)
    tenths(S.buf, kFmtBuf, "$", d, 100000000ull, 'B', true);
  else if (cents >= 1000000000ull)
    snprintf(S.buf, kFmtBuf, "$%lluM", static_cast<unsigned long long>((d + 500000) / 1000000));
  else if (cents >= 100000000ull)
    tenths(S.buf, kFmtBuf, "$", d, 100000ull, 'M', true);
  else if (cents >= 100000ull)
    snprintf(S.buf, kFmtBuf, "$%lluK", static_cast<unsigned long long>((d + 500) / 1000));
  else
    snprintf(S.buf, kFmtBuf, "$%llu", static_cast<unsigned long long>(d));
  return S.buf;
}

const char *fmt_money_float_short(uint64_t cents) {
  if (cents < 100) return kDash;
  double d = static_cast<double>(cents) / 100.0;
  if (d >= 1e9)
    snprintf(S.buf, kFmtBuf, "$%.0fB", d / 1e9);
  else if (d >= 1e6)
    snprintf(S.buf, kFmtBuf, "$%.0fM", d / 1e6);
  else if (d >= 1000)
    snprintf(S.buf, kFmtBuf, "$%.0fK", d / 1000);
  else
    snprintf(S.buf, kFmtBuf, "$%.0f", d);
  return S.buf;
}

const char *fmt_float_price(float v) {
  if (v == 0.0f) return kZero;
  if (!std::isfinite(v)) return kDash;
  double c = std::rint(static_cast<double>(v) * 100.0);
  // Prices are unsigned 32-bit units: outside that they have no text.
  if (c < 0 || c >= 4294967295.0) return kDash;
  return fmt_price(static_cast<uint32_t>(c));
}

const char *fmt_float_value(float v) { return fmt_float_price(v); }

const char *fmt_float_volume(float v) {
  if (v == 0.0f) return kZero;
  if (!std::isfinite(v) || v < 0 || v >= 18446744073709551616.0f) return kDash;
  return fmt_volume(static_cast<uint64_t>(v));
}

static const char *float_places(float v, int places) {
  if (v == 0.0f) return kZero;
  if (!printable(v)) return kDash;
  snprintf(S.buf, kFmtBuf, "%.*f", places, static_cast<double>(v));
  return S.buf;
}

const char *fmt_float(float v) { return float_places(v, 0); }
const char *fmt_float1(float v) { return float_places(v, 1); }
const char *fmt_float2(float v) { return float_places(v, 2); }
const char *fmt_float3(float v) { return float_places(v, 3); }

const char *fmt_bytes(int32_t n, const char *suffix) {
  if (n < 1) return kDash;
  if (!suffix) suffix = "";
  unsigned u = static_cast<unsigned>(n);
  if (u < 1000) {
    snprintf(S.buf, kFmtBuf, "%ub%s", u, suffix);
  } else if (u < 1000000) {
    snprintf(S.buf, kFmtBuf, "%uKb%s", (u + 499) / 1000, suffix);
  } else if (u < 10000000) {
    if (u / 100000 % 10 == 0) {
      snprintf(S.buf, kFmtBuf, "%uMb%s", u / 1000000, suffix);
    } else {
      unsigned m = u + 49999;
      unsigned tenth = m / 100000 % 10;
      if (tenth)
        snprintf(S.buf, kFmtBuf, "%u.%cMb%s", m / 1000000, static_cast<char>('0' + tenth), suffix);
      else
        snprintf(S.buf, kFmtBuf, "%uMb%s", m / 1000000, suffix);
    }
  } else {
    snprintf(S.buf, kFmtBuf, "%uMb%s", (u + 499999) / 1000000, suffix);
  }
  return S.buf;
}

const char *fmt_upper(const char *text) {
  char *out = strbuf_get(0);
  if (!out) {
    if (strbuf_init() != 0) return kEmpty;
    out = strbuf_get(0);
  }
  size_t i = 0;
  for (; text && text[i] && i + 1 < static_cast<size_t>(kStrbufSize); i++)
    out[i] = static_cast<char>(toupper(static_cast<unsigned char>(text[i])));
  out[i] = 0;
  return out;
}

// Times and dates -----------------------------------------------------------

static sstime_parts parts(ss_time t) {
  sstime_parts p{};
  sstime_unpack(&p, t);
  if (p.mon < 0 || p.mon > 12) p.mon = 0;
  if (p.wday < 0 || p.wday > 6) p.wday = 0;
  return p;
}

const char *fmt_hour(ss_time t) {
  snprintf(S.buf, kFmtBuf, "%d", parts(t).hour);
  return S.buf;
}

const char *fmt_minute_small(ss_time t) {
  int m = parts(t).min;
  S.buf[0] = ':';
  S.buf[1] = small(static_cast<char>('0' + m / 10 % 10));
  S.buf[2] = small(static_cast<char>('0' + m % 10));
  S.buf[3] = 0;
  return S.buf;
}

const char *fmt_time_hm(ss_time t) {
  if (t == 0) return kDash;
  sstime_parts p = parts(t);
  snprintf(S.buf, kFmtBuf, "%2d:%02d", p.hour, p.min);
  return S.buf;
}

const char *fmt_time_hms(ss_time t) {
  if (t == 0) return kDash;
  sstime_parts p = parts(t);
  snprintf(S.buf, kFmtBuf, "%2d:%02d:%02d", p.hour, p.min, p.sec);
  return S.buf;
}

const char *fmt_time_hm_short(ss_time t) {
  if (t == 0) return kDash;
  sstime_parts p = parts(t);
  snprintf(S.buf, kFmtBuf, "%d:%02d", p.hour, p.min);
  return S.buf;
}

const char *fmt_time_hms_short(ss_time t) {
  if (t == 0) return kDash;
  sstime_parts p = parts(t);
  snprintf(S.buf, kFmtBuf, "%d:%02d:%02d", p.hour, p.min, p.sec);
  return S.buf;
}

const char *fmt_time_12h(ss_time t) {
  if (t == 0) return kDash;
  sstime_parts p = parts(t);
  int h = p.hour % 12 == 0 ? 12 : p.hour % 12;
  snprintf(S.buf, kFmtBuf, "%d:%02d%cm", h, p.min, p.hour < 12 ? 'a' : 'p');
  return S.buf;
}

const char *fmt_date(ss_time t) {
  sstime_parts p = parts(t);
  snprintf(S.buf, kFmtBuf, "%2d %.3s %04d", p.mday, kMonths[p.mon], p.year);
  return S.buf;
}

const char *fmt_date_short_year(ss_time t) {
  sstime_parts p = parts(t);
  snprintf(S.buf, kFmtBuf, "%2d %.3s %02d", p.mday, kMonths[p.mon], p.year % 100);
  return S.buf;
}

const char *fmt_date_short(ss_time t) {
  sstime_parts p = parts(t);
  snprintf(S.buf, kFmtBuf, "%2d %.3s", p.mday, kMonths[p.mon]);
  return S.buf;
}

const char *fmt_date_iso(ss_time t) {
  sstime_parts p = parts(t);
  snprintf(S.buf, kFmtBuf, "%04d-%02d-%02d", p.year, p.mon, p.mday);
  return S.buf;
}

const char *fmt_year(ss_time t) {
  snprintf(S.buf, kFmtBuf, "%04d", parts(t).year);
  return S.buf;
}

const char *fmt_year2(ss_time t) {
  snprintf(S.buf, kFmtBuf, "%02d", parts(t).year % 100);
  return S.buf;
}

const char *fmt_month_short(ss_time t) {
  snprintf(S.buf, kFmtBuf, "%.3s", kMonths[parts(t).mon]);
  return S.buf;
}

const char *fmt_month(ss_time t) {
  snprintf(S.buf, kFmtBuf, "%s", kMonths[parts(t).mon]);
  return S.buf;
}

const char *fmt_day_month(ss_time t) {
  sstime_parts p = parts(t);
  snprintf(S.buf, kFmtBuf, "%d %s", p.mday, kMonths[p.mon]);
  return S.buf;
}

const char *fmt_day(ss_time t) {
  snprintf(S.buf, kFmtBuf, "%d", parts(t).mday);
  return S.buf;
}

const char *fmt_day_ordinal(ss_time t) {
  static const char *const kSuffix[10] = {"th", "st", "nd", "rd", "th", "th", "th", "th", "th", "th"};
  int d = parts(t).mday;
  // 11th, 12th and 13th, not 11st, 12nd and 13rd.
  const char *suffix = (d >= 11 && d <= 13) ? "th" : kSuffix[d % 10];
  snprintf(S.buf, kFmtBuf, "%d%s", d, suffix);
  return S.buf;
}

const char *fmt_weekday_short(ss_time t) { return strcpy(S.buf, kWeekdayShort[parts(t).wday]); }
const char *fmt_weekday_letter(ss_time t) { return strcpy(S.buf, kWeekdayLetter[parts(t).wday]); }
const char *fmt_weekday(ss_time t) { return strcpy(S.buf, kWeekdays[parts(t).wday]); }

const char *fmt_duration(int32_t seconds) {
  if (seconds < 0) return kDash;
  if (seconds < 60)
    snprintf(S.buf, kFmtBuf, ":%02d", seconds);
  else if (seconds < 3600)
    snprintf(S.buf, kFmtBuf, "%02d:%02d", seconds / 60, seconds % 60);
  else
    snprintf(S.buf, kFmtBuf, "%d:%02d", seconds / 3600, seconds / 60 % 60);
  return S.buf;
}
