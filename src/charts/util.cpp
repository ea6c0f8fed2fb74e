// The chart's time axis and its time/sample/pixel conversions.
//
// Labels are laid out left to right with the box of the last one kept: a
// calendar label that would overlap it replaces it (the later boundary is
// the more telling one), a minute mark that would overlap is left out. The
// unit of the labels follows the room a day (or a minute) gets on the plot.
// Charts placed by time (intraday, option 0x40 or 0x80) find x through the
// day table, where nights and weekends take no room.
#include "charts/util.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "charts/alloc.h"
#include "charts/period.h"
#include "log.h"
#include "ssmodel.h"

static const char kSrc[] = "util";

static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
static const char* const kDayLetters[] = {"S", "M", "T", "W", "T", "F", "S"};

static inline ss_time date_of(ss_time t) { return t & ~kSstimeSecondsMask; }
static inline int32_t sec_of(ss_time t) { return (int32_t)(t & kSstimeSecondsMask); }

int32_t chart_text_width(const chart_fonts* f, int32_t small, const char* text) {
  int32_t w = 0, h = 0;
  f->text_size(f->ctx, small, text, &w, &h);
  return w;
}

std::string util_minute_mark(int32_t minute) {
  std::string s = ":";
  s += (char)('a' + minute / 10 % 10);
  s += (char)('a' + minute % 10);
  return s;
}
const char* util_month_name(int32_t month) { return month >= 1 && month <= 12 ? kMonths[month - 1] : ""; }
const char* util_weekday_name(int32_t wday) { return wday >= 0 && wday <= 6 ? kDays[wday] : ""; }
const char* util_weekday_letter(int32_t wday) { return wday >= 0 && wday <= 6 ? kDayLetters[wday] : ""; }

static int time_proportional(const chart_plot* p) {
  return !p->eod && (p->options & (kChartOptDayClamp | kChartOptOpenClamp)) != 0;
}

static int64_t day_total(const chart_plot* p) {
  const chart_day& d = p->days[p->day_count - 1];
  return d.offset + d.length;
}

// ---------------------------------------------------------------------------
// Labels

int util_label(chart_list<chart_label>* list, const char* text, int32_t x, int32_t y, int32_t small,
               const chart_fonts* fonts, util_box* last, const util_box& clip) {
  int32_t w = 0, h = 0;
  fonts->text_size(fonts->ctx, small, text, &w, &h);
  if (x >= clip.x + clip.w - kUtilRightMargin) {
    if (x < clip.x || y < clip.y || x + w > clip.x + clip.w || y + h > clip.y + clip.h) return 0;
  }
  size_t n = strlen(text);
  if (!list->add(chart_label{text, x, y, w, h, small}, n)) return 0;
  *last = {x, y, w, h};
  return 1;
}

namespace {

// One layout pass of the time axis.
struct walker {
  chart_plot* p;
  chart_axes* a;
  util_box last{0, 0, 0, 0};
  util_box clip;
  int32_t y;
  int32_t edge_cut;  // lines at or left of this x are left out

  void line(int major, int32_t x) {
    if (x <= edge_cut) return;
    (major ? a->time.major : a->time.minor).add(x);
  }
  // A calendar label at grid line x: replaces an overlapping earlier label.
  void calendar(const char* text, int32_t x, int32_t small = 0) {
    x += 2;
    auto& labels = a->time.labels;
    if (last.w > 0 && x < last.x + last.w && !labels.items.empty()) {
      int32_t w = chart_text_width(&a->fonts, small, text);
      // Only give up the earlier label when the later one will stand.
      if (x >= clip.x + clip.w - kUtilRightMargin && x + w > clip.x + clip.w) return;
      labels.used -= labels.items.back().text.size();
      labels.items.pop_back();
      last = {0, 0, 0, 0};
    }
    util_label(&labels, text, x, y, small, &a->fonts, &last, clip);
  }
  // A minute mark's label: left out when it would overlap.
  void mark(const char* text, int32_t x) {
    x += 2;
    if (last.w > 0 && x < last.x + last.w) return;
    util_label(&a->time.labels, text, x, y, 1, &a->fonts, &last, clip);
  }
};

}  // namespace

static ss_time exchange_today(const chart_plot* p, const chart_axes* a) {
  if (a->today) return date_of(a->today);
  if (p->main && p->main->exchange) return date_of(p->main->exchange->date);
  return date_of(sstime_now());
}

// End-of-day unit flags from the room per day. Each level is tried in turn;
// a level whose labels fit adds them and ends the choice, one whose lines fit
// adds those and goes on to the next, coarser level.
uint32_t util_eod_flags(int32_t d, int32_t width, int32_t w) {
  if (d <= 0 || w <= 0) return 0;
  int32_t D = width / d;
  if (D >= 3 * w) return 0x25;
  uint32_t flags = D >= 2 * w ? 0x1000 : 0;
  auto room = [&](int32_t per) { return d / per > 0 ? width / (d / per) : width; };
  if (d >= 5) {
    int32_t D5 = room(5);
    if (D5 >= 4 * w) return flags | 38;
    if (D5 >= 2 * w) flags |= 0x2000;
  }
  if (d >= 20) {
    int32_t D20 = room(20);
    if (D20 >= 5 * w) return flags | 36;
    if (D20 >= 2 * w) flags |= 0x4000;
  }
  if (d >= 120) {
    int32_t D120 = room(120);
    if (D120 >= 5 * w) return flags | 48;
    if (D120 >= 2 * w) flags |= 0x8000;
  }
  if (d >= 240) {
    int32_t D240 = room(240);
    if (D240 >= 6 * w) return flags | 32;
    if (D240 >= 3 * w) return flags | 64;
    if (d >= 480 && room(480) >= 3 * w) return flags | 128;
    if (d >= 960 && room(960) >= 3 * w) return flags | 0x100;
    return flags | 0x10000;
  }
  return flags;
}

static void eod_walk(walker& k, uint32_t f) {
  chart_plot* p = k.p;
  char buf[16];
  for (int32_t i = p->first_visible + 1; i <= p->last_visible; i++) {
    ss_time a = p->times[i - 1], t = p->times[i];
    if (date_of(a) == date_of(t)) continue;
    int32_t x = (int32_t)p->xpos[i];
    sstime_parts ap, tp;
    sstime_unpack(&ap, a);
    sstime_unpack(&tp, t);
    // The coarsest boundary crossed speaks first; a boundary its flags say
    // nothing about is drawn as the finer one it also is.
    if (ap.year != tp.year) {
      if (f & 32) {
        snprintf(buf, sizeof buf, "%04d", tp.year);
        k.line(1, x);
        k.calendar(buf, x);
        continue;
      }
      if (f & (64 | 128 | 0x100)) {
        k.line(1, x);
        if ((f & 64) || ((f & 128) && tp.year % 2 == 0) || ((f & 0x100) && tp.year % 4 == 0)) {
          snprintf(buf, sizeof buf, "%02d", tp.year % 100);
          k.calendar(buf, x);
        }
        continue;
      }
      if (f & 0x10000) {
        k.line(1, x);
        continue;
      }
    }
    if (sstime_month_key(a) != sstime_month_key(t)) {
      if (tp.mon == 7 && (f & 16)) {
        k.line(!(f & (4 | 32)), x);
        continue;
      }
      if (tp.mon == 7 && (f & 0x8000)) {
        k.line(0, x);
        continue;
      }
      if (f & (1 | 4)) {
        k.line(1, x);
        k.calendar(util_month_name(tp.mon), x);
        continue;
      }
      if (f & 0x4000) {
        k.line(0, x);
        continue;
      }
    }
    if (sstime_week_number(a) != sstime_week_number(t)) {
      if (f & (1 | 2)) {
        k.line(!(f & 4), x);
        snprintf(buf, sizeof buf, "%d", tp.mday);
        k.calendar(buf, x);
        continue;
      }
      if (f & 0x2000) {
        k.line(0, x);
        continue;
      }
    }
    if (f & 1) {
      k.line(!(f & 4), x);
      snprintf(buf, sizeof buf, "%d", tp.mday);
      k.calendar(buf, x);
    } else if (f & 0x1000) {
      k.line(0, x);
    }
  }
}

static void sample_walk(walker& k) {
  chart_plot* p = k.p;
  const chart_fonts* fonts = &k.a->fonts;
  int32_t w = chart_text_width(fonts, 0, "0");
  ss_time first = p->times[p->first_visible], lastt = p->times[p->last_visible];
  int32_t d = sstime_diff_days(lastt, first);
  uint32_t f;
  int day_letter = 0, day_hour = 0;
  if (d >= 2) {
    f = 128;
    int32_t D = p->plot_w / d;
    if (D <= 4 * w) day_letter = 1;
    if (D < 2 * w) f = 0;
  } else {
    if (p->eff_period == kPeriodMinutes) {
      int32_t c = p->eff_count;
      f = (c == 1 || c == 5 || c == 10) ? 36 : c == 15 ? 40 : c == 30 ? 48 : 32;
    } else {
      static const uint32_t kByHours[] = {34, 36, 40, 48, 48};
      int32_t h = sstime_diff_seconds(lastt, first) / 3600;
      f = h >= 0 && h < 5 ? kByHours[h] : 32;
    }
    day_hour = date_of(first) > exchange_today(p, k.a);
  }
  int32_t step = (f & 16) ? 30 : (f & 8) ? 15 : (f & 4) ? 10 : (f & 2) ? 5 : 0;
  char buf[16];
  int32_t next = step ? (sec_of(first) / 60 % 60 / step + 1) * step : 60;
  for (int32_t i = p->first_visible + 1; i <= p->last_visible; i++) {
    ss_time a = p->times[i - 1], t = p->times[i];
    int32_t x = (int32_t)p->xpos[i];
    int32_t hour = sec_of(t) / 3600, minute = sec_of(t) / 60 % 60;
    bool new_day = date_of(a) != date_of(t);
    bool new_hour = new_day || sec_of(a) / 3600 != hour;
    if (new_hour) next = step ? step : 60;
    if (new_day && ((f & 128) || sstime_week_number(a) != sstime_week_number(t))) {
      int32_t wd = sstime_weekday(t);
      k.line(1, x);
      if (day_hour) {
        snprintf(buf, sizeof buf, "%d", hour);
        k.calendar(buf, x);
      } else {
        k.calendar(day_letter ? util_weekday_letter(wd) : util_weekday_name(wd), x);
      }
    } else if (new_hour && (f & 32)) {
      k.line(!(f & 128), x);
      snprintf(buf, sizeof buf, "%d", hour);
      k.calendar(buf, x);
    } else if (!new_hour && step && next <= 59 && minute >= next) {
      int32_t at = minute / step * step;
      k.line(0, x);
      k.mark(util_minute_mark(at).c_str(), x);
      next = at + step;
    }
  }
}

static void time_walk(walker& k) {
  chart_plot* p = k.p;
  const chart_fonts* fonts = &k.a->fonts;
  int32_t W = p->plot_w;
  char buf[16];
  if (p->day_count > 1) {
    int32_t w = chart_text_width(fonts, 0, "0");
    int letter = 4 * w >= W / p->day_count;
    for (int32_t d = 0; d < p->day_count; d++) {
      const chart_day& day = p->days[d];
      int32_t x = util_sample_at(p, day.first);
      if (x < 0) continue;
      int major = d > 0 && sstime_week_number(p->days[d - 1].date) != sstime_week_number(day.date);
      int32_t wd = sstime_weekday(day.date);
      k.line(major, x);
      k.calendar(letter ? util_weekday_letter(wd) : util_weekday_name(wd), x);
    }
    return;
  }
  const chart_day& day = p->days[0];
  int64_t s = std::max<int64_t>(1, day.length);
  int32_t w = chart_text_width(fonts, 1, "0");
  int32_t from = sec_of(day.first), to = sec_of(day.last);
  auto x_at = [&](int32_t sec) { return util_sample_at(p, date_of(day.date) | (ss_time)sec); };
  if (5 * w >= W * 3600 / s) {
    int32_t hstep = 1;
    bool labels = true;
    if (2 * w >= W * 3600 / s) hstep = 2;
    if (hstep == 2 && 2 * w >= W * 7200 / s) {
      hstep = 4;
      labels = 2 * w < W * 14400 / s;
    }
    for (int32_t h = (from + 3599) / 3600; h * 3600 <= to; h++) {
      if (h % hstep) continue;
      int32_t x = x_at(h * 3600);
      k.line(1, x);
      snprintf(buf, sizeof buf, "%d", h);
      if (labels && x > k.edge_cut) k.calendar(buf, x);
    }
    return;
  }
  static const int32_t kSteps[] = {1, 5, 10, 15, 30};
  int32_t m = 30;
  bool mark_labels = false;
  for (int32_t c : kSteps)
    if (W * 60 * c / s > 5 * w) {
      m = c;
      mark_labels = true;
      break;
    }
  for (int32_t at = (from + 60 * m - 1) / (60 * m) * (60 * m); at <= to; at += 60 * m) {
    int32_t x = x_at(at);
    if (at % 3600 == 0) {
      k.line(1, x);
      snprintf(buf, sizeof buf, "%d:%02d", at / 3600, at / 60 % 60);
      if (x > k.edge_cut) k.calendar(buf, x);
    } else {
      k.line(0, x);
      if (mark_labels && x > k.edge_cut) k.mark(util_minute_mark(at / 60 % 60).c_str(), x);
    }
  }
}

int util_time_labels(chart_plot* p, chart_axes* a) {
  chart_axis_lists& out = a->time;
  if (p->count < 1 || p->plot_w <= 0 || p->last_visible < p->first_visible || p->first_visible < 0) {
    out.clear();
    return -1;
  }
  int32_t digit = std::max(1, chart_text_width(&a->fonts, 0, "0"));
  int32_t d = sstime_diff_days(p->times[p->last_visible], p->times[p->first_visible]);
  if (p->eod) {
    if (d <= 0) {
      out.clear();
      return -1;
    }
    int32_t q = p->plot_w / digit;
    out.major.begin(2 * q + 20);
    out.minor.begin(2 * q + 20);
    out.labels.begin(5 * (8 * q + 80));
  } else {
    if (time_proportional(p) && p->day_count < 1) {
      out.clear();
      return -1;
    }
    int32_t m = std::max(50, 2 * p->plot_w / digit);
    out.major.begin(2 * m);
    out.minor.begin(2 * m);
    out.labels.begin(40 * m);
  }
  walker k{p, a, {0, 0, 0, 0}, {0, 0, 0, 0}, 0, 0};
  int32_t lh = a->fonts.line_height(a->fonts.ctx, 0);
  k.y = p->axis_y;
  k.clip = {p->plot_x, p->axis_y, p->plot_w, std::max(p->axis_h, lh)};
  k.edge_cut = (time_proportional(p) && (p->options & kChartOptEdgeCut)) ? p->plot_x + 3 : INT32_MIN;
  if (p->eod)
    eod_walk(k, util_eod_flags(d, p->plot_w, digit));
  else if (time_proportional(p))
    time_walk(k);
  else
    sample_walk(k);
  out.major.end();
  out.minor.end();
  out.labels.end();
  return 0;
}

// ---------------------------------------------------------------------------
// Conversions

int32_t util_index_at_time(const chart_plot* p, ss_time t, int32_t dir) {
  int32_t n = p->count;
  if (n < 1) return -1;
  if (t == 0) return 0;
  if (t >= p->times[n - 1]) return n - 1;
  // Halving to the neighbourhood, then a short scan for the exact pair.
  int32_t lo = 0, hi = n - 1;
  while (hi - lo > 1) {
    int32_t mid = lo + (hi - lo) / 2;
    if (p->times[mid] <= t)
      lo = mid;
    else
      hi = mid;
  }
  for (int32_t k = std::max(0, lo - 5); k < std::min(n - 1, lo + 5); k++) {
    if (p->times[k] <= t && t < p->times[k + 1]) {
      if (dir <= 0) return k;
      int32_t j = k + 1;
      while (j + 1 < n && p->times[j + 1] == p->times[j]) j++;
      return j;
    }
  }
  return dir < 0 ? std::max(0, lo) : std::min(n - 1, lo);
}

int32_t util_index_at_x(const chart_plot* p, int32_t x) {
  if (p->count < 1 || p->first_visible < 0 || p->last_visible < p->first_visible) return -1;
  if (x < p->plot_x || x >= p->plot_x + p->plot_w) return -1;
  int32_t lo = p->first_visible, hi = p->last_visible + 1;  // first with xpos >= x
  while (lo < hi) {
    int32_t mid = lo + (hi - lo) / 2;
    if ((int32_t)p->xpos[mid] < x)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo == p->first_visible) return lo;
  if (lo > p->last_visible) return p->last_visible;
  int64_t before = x - (int64_t)p->xpos[lo - 1], after = (int64_t)p->xpos[lo] - x;
  return after <= before ? lo : lo - 1;
}

// The last visible sample at or left of x (the first when none).
static int32_t visible_at_or_left(const chart_plot* p, int32_t x) {
  int32_t lo = p->first_visible, hi = p->last_visible;
  while (lo < hi) {
    int32_t mid = lo + (hi - lo + 1) / 2;
    if ((int32_t)p->xpos[mid] <= x)
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}

ss_time util_time_at_x(const chart_plot* p, int32_t x) {
  if (time_proportional(p)) {
    if (p->day_count < 1) return 0;
    int64_t S = day_total(p);
    if (S == 0) {
      log(LOG_WARN, kSrc, "day range is 0");
      return 0;
    }
    const ss_exchange* ex = p->main ? p->main->exchange : nullptr;
    if (x >= p->plot_x + p->plot_w) {
      const chart_day& d = p->days[p->day_count - 1];
      ss_time end = ex ? ssmodel_exchange_day_end(ex) : d.last;
      return date_of(d.date) | (ss_time)sec_of(end);
    }
    if (x < p->plot_x) {
      const chart_day& d = p->days[0];
      ss_time start = ex ? ssmodel_day_start_for((int32_t)ex->index, date_of(d.date)) : d.first;
      return date_of(d.date) | (ss_time)sec_of(start);
    }
    int32_t day = 0;
    for (int32_t i = 0; i < p->day_count; i++)
      if (util_sample_at(p, p->days[i].first) <= x) day = i;
    const chart_day& d = p->days[day];
    int64_t left = util_sample_at(p, d.first), right = util_sample_at(p, d.last);
    int64_t off = std::clamp<int64_t>((int64_t)d.length * (x - left) / (right - left + 1), 0, d.length);
    return date_of(d.date) | (ss_time)(sec_of(d.first) + off);
  }
  if (p->count < 1 || p->first_visible < 0 || p->last_visible < p->first_visible) return 0;
  if (x <= p->plot_x) return p->times[p->first_visible];
  if (x >= p->plot_x + p->plot_w - 1) return p->times[p->last_visible];
  return p->times[visible_at_or_left(p, x)];
}

int32_t util_sample_at(const chart_plot* p, ss_time t) {
  if (p->count < 1) return p->plot_x;
  if (time_proportional(p)) {
    const chart_day* day = nullptr;
    for (int32_t i = 0; i < p->day_count; i++)
      if (date_of(p->days[i].date) == date_of(t)) day = &p->days[i];
    if (!day) return -1;
    int64_t sec = std::clamp(sec_of(t), sec_of(day->first), sec_of(day->last));
    int64_t S = day_total(p);
    if (S == 0) {
      log(LOG_WARN, kSrc, "empty range");
      return -1;
    }
    int64_t back = sec_of(day->first) - sec + S - day->offset;
    return (int32_t)(p->plot_x + p->plot_w - 1 - back * p->plot_w / S);
  }
  if (p->first_visible < 0 || p->last_visible < p->first_visible) return p->plot_x;
  int32_t lo = p->first_visible, hi = p->last_visible;
  if (p->times[lo] > t) return (int32_t)p->xpos[lo];
  while (lo < hi) {
    int32_t mid = lo + (hi - lo + 1) / 2;
    if (p->times[mid] <= t)
      lo = mid;
    else
      hi = mid - 1;
  }
  return (int32_t)p->xpos[lo];
}
