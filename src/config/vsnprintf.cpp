// The configuration formatter. One pass over the format writes into a sink
// that either stores bytes (bounded by the caller's buffer) or only counts
// them, so the line writer can size a line before it formats it.
//
// Strings are written so the parser gives back the same bytes: control bytes
// (which would cut the line) become blanks, and a string is quoted when it is
// empty, holds a blank or a double quote, or ends with a backslash (which
// would otherwise escape the separator after it). Inside quotes both '"' and
// '\' are preceded by a backslash. Text written by older versions, which
// escaped only '"', still reads as it always did.
#include "config/vsnprintf.h"

#include <cstdio>
#include <cstring>

#include "log.h"
#include "ssmodel.h"
#include "sstime.h"

static const char kSrc[] = "src/config/vsnprintf";

namespace {

struct Sink {
  char* buf;      // null when only measuring
  int64_t cap;    // bytes that may be stored (the NUL excluded)
  int64_t n;      // bytes produced
  bool overflow;  // storing and n passed cap

  void put(char c) {
    if (buf) {
      if (n >= cap) {
        overflow = true;
        return;
      }
      buf[n] = c;
    }
    n++;
  }
  void put(const char* s, size_t len) {
    for (size_t i = 0; i < len; i++) put(s[i]);
  }
  void put(const char* s) { put(s, strlen(s)); }
};

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7f; }

void put_string(Sink* out, const char* s) {
  if (!s) s = "";
  size_t len = strlen(s);
  bool quote = len == 0 || s[len - 1] == '\\';
  for (size_t i = 0; i < len && !quote; i++) {
    unsigned char c = (unsigned char)s[i];
    if (c == ' ' || c == '"' || is_control(c)) quote = true;
  }
  if (!quote) {
    out->put(s, len);
    return;
  }
  out->put('"');
  for (size_t i = 0; i < len; i++) {
    char c = is_control((unsigned char)s[i]) ? ' ' : s[i];
    if (c == '"' || c == '\\') out->put('\\');
    out->put(c);
  }
  out->put('"');
}

template <typename... A>
void put_printf(Sink* out, const char* fmt, A... args) {
  char tmp[64];
  int k = snprintf(tmp, sizeof tmp, fmt, args...);
  if (k > 0) out->put(tmp, (size_t)k < sizeof tmp ? (size_t)k : sizeof tmp - 1);
}

// Doubles need more than 64 bytes for "%f" of large values.
void put_double(Sink* out, double v) {
  char tmp[400];
  int k = snprintf(tmp, sizeof tmp, "%f", v);
  if (k > 0) out->put(tmp, (size_t)k < sizeof tmp ? (size_t)k : sizeof tmp - 1);
}

// A time of day without a date is the second of the day itself.
bool undated(ss_time t) { return t != 0 && t <= kSstimeSecondsMask; }

// -1 when the value cannot be split (written as "0" by the callers).
int split_time(ss_time t, sstime_parts* p) {
  if (t == 0 || t >= kSstimeFirstInvalid) return -1;
  if (undated(t)) {
    if (t >= 86400) return -1;
    memset(p, 0, sizeof *p);
    p->hour = (int32_t)(t / 3600);
    p->min = (int32_t)(t / 60 % 60);
    p->sec = (int32_t)(t % 60);
    return 0;
  }
  return sstime_unpack(p, t);
}

// "%D" the date, "%S" the time of day, "%T" both ("d/m/y-h:m:s"); "0" for
// no time. "%T" of a time of day without a date writes the time of day
// alone, which the timestamp reader takes back as such; "%D" of it writes the
// date such a value holds, day 0 of month 0 of 1970.
void put_time(Sink* out, ss_time t, char conv) {
  if (conv == 'D' && undated(t)) {
    put_printf(out, "%d/%d/%d", 0, 0, kSstimeFirstYear);
    return;
  }
  sstime_parts p;
  bool date = conv == 'D' || (conv == 'T' && !undated(t));
  bool clock = conv == 'S' || conv == 'T';
  if (split_time(t, &p) < 0) {
    out->put('0');
    return;
  }
  if (date) put_printf(out, "%d/%d/%d", p.mday, p.mon, p.year);
  if (date && clock) out->put('-');
  if (clock) put_printf(out, "%d:%d:%d", p.hour, p.min, p.sec);
}

// The core: returns 0, or -1 after a log line for a bad format or argument.
int format(Sink* out, const char* fmt, va_list ap) {
  for (const char* f = fmt; *f; f++) {
    if (*f != '%') {
      out->put(*f);
      continue;
    }
    char c = *++f;
    if (c == '\0') {
      log(LOG_ERROR, kSrc, "premature end of format");
      return -1;
    }
    int64_t before = out->n;
    switch (c) {
      case '%':
        out->put('%');
        break;
      case 'd':
        put_printf(out, "%d", va_arg(ap, int));
        break;
      case 'x':
        put_printf(out, "%x", va_arg(ap, unsigned int));
        break;
      case 'f':
        put_double(out, va_arg(ap, double));
        break;
      case 's':
        put_string(out, va_arg(ap, const char*));
        break;
      case 'b':
        out->put(va_arg(ap, int) ? 't' : 'f');
        break;
      case 'L': {
        char l = *++f;
        if (l == 'd') {
          put_printf(out, "%lld", (long long)va_arg(ap, int64_t));
        } else if (l == 'u') {
          put_printf(out, "%llu", (unsigned long long)va_arg(ap, uint64_t));
        } else if (l == '\0') {
          log(LOG_ERROR, kSrc, "premature end of format");
          return -1;
        } else {
          log(LOG_ERROR, kSrc, "unknown format L%c", l);
          continue;  // nothing written, no argument taken
        }
        break;
      }
      case 'D':
      case 'S':
      case 'T':
        put_time(out, va_arg(ap, unsigned int), c);
        break;
      case 'R': {
        const int32_t* r = va_arg(ap, const int32_t*);
        if (!r) {
          log(LOG_ERROR, kSrc, "no rectangle for %%R");
          return -1;
        }
        put_printf(out, "%d:%d:%d:%d", r[0], r[1], r[2], r[3]);
        break;
      }
      case 'E': {
        const ss_exchange* ex = va_arg(ap, const ss_exchange*);
        if (!ex) {
          out->put('-');
        } else {
          size_t len = strnlen(ex->name, sizeof ex->name);
          out->put(ex->name, len);
        }
        break;
      }
      case 'I': {
        const instr* in = va_arg(ap, const instr*);
        if (!in) {
          out->put('-');
          break;
        }
        if (!in->exchange) {
          log(LOG_ERROR, kSrc, "instrument %.*s has no exchange", kCodeSize, in->code);
          return -1;
        }
        char kind = in->kind == kKindStock ? 'S' : in->kind == kKindIssuer ? 'C' : 'I';
        char work[32];
        int k = snprintf(work, sizeof work, "%c:%.*s:%.*s", kind, kCodeSize, in->exchange->name, kCodeSize,
                         in->code);
        if (k < 0 || k >= (int)sizeof work) return -1;
        put_string(out, work);
        break;
      }
      default:
        log(LOG_ERROR, kSrc, "unknown format %c", c);
        return -1;
    }
    if (out->n == before) return -1;  // a conversion that gave nothing
  }
  return 0;
}

}  // namespace

int config_vsnprintf(char* buf, int32_t size, const char* fmt, va_list ap) {
  if (size < 1) return size;
  Sink out{buf, (int64_t)size - 1, 0, false};
  if (format(&out, fmt, ap) < 0 || out.overflow) {
    buf[0] = '\0';
    return -1;
  }
  buf[out.n] = '\0';
  return (int)out.n;
}

int config_snprintf(char* buf, int32_t size, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = config_vsnprintf(buf, size, fmt, ap);
  va_end(ap);
  return n;
}

int32_t config_vmeasure(const char* fmt, va_list ap) {
  Sink out{nullptr, 0, 0, false};
  if (format(&out, fmt, ap) < 0) return -1;
  if (out.n > INT32_MAX - 1) return -1;
  return (int32_t)out.n;
}
