// Chart periods: one pass over a plot's samples that merges consecutive
// samples of one bucket into a bar, writing in place behind the read index.
//
// Intraday kinds group by a key of the time (second, minute, hour or
// session) and never across midnight; calendar kinds group by day, week,
// month or year and keep the time of the bucket's first sample. Grouping
// resets the value range so that it is measured again afterwards.
#include "charts/period.h"

#include <algorithm>
#include <cstdint>

#include "charts/alloc.h"
#include "log.h"
#include "ssmodel.h"

static const char kSrc[] = "src/charts/period";

constexpr int32_t kNoon = 12 * 3600;
constexpr int32_t kTradingDaySeconds = 36000;  // ten hours of trading a day

static inline int32_t second_of_day(ss_time t) { return (int32_t)(t & kSstimeSecondsMask); }

ss_time period_second_key(ss_time t, int32_t) { return t; }

ss_time period_minute_key(ss_time t, int32_t count) {
  int32_t s = second_of_day(t);
  int32_t minute = (s / 60) % 60;
  if (count >= 2) minute -= minute % count;
  return (t & ~kSstimeSecondsMask) | (ss_time)((s / 3600) * 3600 + minute * 60);
}

ss_time period_hour_key(ss_time t, int32_t) {
  return (t & ~kSstimeSecondsMask) | (ss_time)(second_of_day(t) / 3600 * 3600);
}

ss_time period_session_key(ss_time t, int32_t) {
  return (t & ~kSstimeSecondsMask) | (ss_time)(second_of_day(t) < kNoon ? 10 * 3600 : kNoon);
}

static inline bool same_day(ss_time a, ss_time b) { return sstime_day_number(a) == sstime_day_number(b); }

bool period_same_second(ss_time t, ss_time b) { return second_of_day(t) == second_of_day(b) && same_day(t, b); }
bool period_same_minute(ss_time t, ss_time b) {
  return second_of_day(t) / 60 == second_of_day(b) / 60 && same_day(t, b);
}
bool period_same_hour(ss_time t, ss_time b) {
  return second_of_day(t) / 3600 == second_of_day(b) / 3600 && same_day(t, b);
}
bool period_same_session(ss_time t, ss_time b) {
  return (second_of_day(t) < kNoon) == (second_of_day(b) < kNoon) && same_day(t, b);
}

namespace {
// The shared loop: `member(j, bucket time, last close)` says whether sample j
// joins the open bucket.
template <class Opens, class Member>
void group(chart_plot* plot, Opens opens, Member member) {
  plot->value_low = kChartNoValue;
  plot->value_high = -kChartNoValue;
  int32_t n = plot->count, k = 0;
  if (n < 1) {
    plot->count = 0;
    return;
  }
  ss_time* times = plot->times;
  double *open = plot->open, *high = plot->high, *low = plot->low, *close = plot->close;
  double *change = plot->change, *volume = plot->volume;
  for (int32_t i = 0; i < n;) {
    ss_time bucket = opens(times[i]);
    double o = open[i], h = high[i], l = low[i], c = close[i], v = volume[i];
    int32_t j = i + 1;
    for (; j < n && member(j, bucket, c); j++) {
      if (high[j] > h) h = high[j];
      if (low[j] < l) l = low[j];
      c = close[j];
      v += volume[j];
    }
    times[k] = bucket;
    open[k] = o;
    high[k] = h;
    low[k] = l;
    close[k] = c;
    volume[k] = v;
    change[k] = k < 2 ? c - o : c - close[k - 1];
    k++;
    i = j;
  }
  plot->count = k;
}
}  // namespace

void period_group(chart_plot* plot, int32_t count, bool close_split, period_test_fn quick, period_key_fn key) {
  const ss_time* times = plot->times;
  const double* close = plot->close;
  group(
      plot, [&](ss_time t) { return key(t, count); },
      [&](int32_t j, ss_time bucket, double last_close) {
        ss_time t = times[j];
        bool in = quick(t, bucket) || (same_day(t, bucket) && key(t, count) == bucket);
        // A NaN close differs from everything, itself included.
        return in && !(close_split && !(close[j] == last_close));
      });
}

static void calendar_group(chart_plot* plot, int32_t kind) {
  const ss_time* times = plot->times;
  auto bucket_of = [kind](ss_time t) -> int32_t {
    switch (kind) {
      case kPeriodDays:
        return sstime_day_number(t);
      case kPeriodWeeks:
        return sstime_week_number(t);
      case kPeriodMonths:
        // The packed year and month bits: sstime_month_key tells only
        // neighbouring months apart (March and the next February agree).
        return (int32_t)(t >> 22);
      default:
        return (int32_t)(t >> 26);  // the year bits
    }
  };
  group(
      plot, [](ss_time t) { return t; },
      [&](int32_t j, ss_time bucket, double) { return bucket_of(times[j]) == bucket_of(bucket); });
}

// About one bucket a pixel: seconds or minutes and their count.
static void auto_period(chart_plot* plot, int32_t* kind, int32_t* count, bool* split) {
  *kind = kPeriodSeconds;
  *count = 1;
  *split = true;
  int32_t n = plot->count, width = plot->plot_w;
  if (n < 1 || width < 1) return;
  ss_time from, to;
  if (plot->range == 11) {
    from = plot->from;
    to = plot->to;
  } else {
    to = plot->main && plot->main->exchange ? plot->main->exchange->date : plot->times[n - 1];
    if (plot->range == 6) {
      from = sstime_add_months(to, -plot->range_count);
    } else if (plot->range == 5) {
      from = sstime_add_days(to, -plot->range_count);
    } else {
      log(LOG_WARN, kSrc, "not expecting range %d", plot->range);
      from = plot->times[0];
    }
  }
  int32_t days = sstime_diff_days(to, from);
  int64_t span =
      days < 2 ? (int64_t)sstime_diff_seconds(plot->times[n - 1], plot->times[0]) : (int64_t)days * kTradingDaySeconds;
  *split = days < 2;
  int64_t s = span / width;
  if (s <= 0) return;
  if (s <= 60) {
    *count = (int32_t)s;
  } else {
    *kind = kPeriodMinutes;
    *count = (int32_t)std::min<int64_t>(s / 60, INT32_MAX);
  }
}

static void run_group(chart_plot* plot, int32_t kind, int32_t count, bool split) {
  switch (kind) {
    case kPeriodSeconds:
      return period_group(plot, count, split, period_same_second, period_second_key);
    case kPeriodMinutes:
      return period_group(plot, count, split, period_same_minute, period_minute_key);
    case kPeriodHours:
      return period_group(plot, count, split, period_same_hour, period_hour_key);
    case kPeriodSessions:
      return period_group(plot, count, split, period_same_session, period_session_key);
    case kPeriodDays:
    case kPeriodWeeks:
    case kPeriodMonths:
    case kPeriodYears:
      return calendar_group(plot, kind);
  }
}

int period_bucket(chart_plot* plot) {
  bool automatic = (plot->options & kChartOptAutoPeriod) && !plot->eod;
  if (!automatic && (uint32_t)plot->period > kPeriodAll) {
    log(LOG_ERROR, kSrc, "unknown period %d", plot->period);
    return -1;
  }
  ss_time last = plot->count > 0 ? plot->times[plot->count - 1] : 0;
  if (automatic) {
    int32_t kind, count;
    bool split;
    auto_period(plot, &kind, &count, &split);
    run_group(plot, kind, count, split);
  } else {
    run_group(plot, plot->period, plot->period_count, false);
  }
  if (plot->count >= 1 && plot->count < plot->capacity)
    plot->times[plot->count] = plot->eod ? sstime_add_days(last, 1) : sstime_add_seconds(last, 60);
  return 0;
}
