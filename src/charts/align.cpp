// Time placement: which samples a chart shows, how wide their bars are and
// where each one's x pixel lies; and the widening of the price range.
//
// The span comes from three ends (from, mid, to) and the range kind; when
// the range is automatic, the pane's width decides how many samples fit and
// the span follows from that instead. Intraday charts with a clamped "now"
// lay their days side by side, each as long as its data, so that nights and
// weekends take no room.
#include "charts/align.h"

#include <algorithm>
#include <cmath>

#include "charts/alloc.h"
#include "log.h"
#include "ssmodel.h"

static const char kSrc[] = "src/charts/align";

// Bar base widths and steps for chart types 2-11; the second pair is Thick.
static const int32_t kBase[10] = {2, 1, 3, 3, 2, 3, 1, 1, 1, 3};
static const int32_t kStep[10] = {1, 1, 2, 1, 2, 3, 1, 1, 1, 1};
static const int32_t kBaseThick[10] = {3, 2, 6, 6, 4, 6, 2, 2, 2, 6};
static const int32_t kStepThick[10] = {2, 1, 2, 1, 2, 3, 2, 2, 2, 1};

static inline ss_time date_of(ss_time t) { return t & ~kSstimeSecondsMask; }
static inline ss_time day_end(ss_time t) { return date_of(t) + 86399; }

static ss_time local_or_exchange_now(const instr* in) {
  return in && in->exchange ? ssmodel_exchange_clamped_now(in->exchange) : sstime_now();
}

ss_time align_span_end(int32_t type, const instr* in, ss_time t, ss_time fallback, uint32_t options) {
  if (!t) t = fallback;
  switch (type) {
    case kSpanTime:
      return t;
    case kSpanDate:
      return t ? date_of(t) : 0;
    case kSpanDay10:
      return t ? sstime_at_hour(t, 10) : 0;
    case kSpanDay17:
      return t ? sstime_at_hour(t, 17) : 0;
    case kSpanNow: {
      ss_time now = local_or_exchange_now(in);
      const ss_exchange* ex = in ? in->exchange : nullptr;
      if (ex && (options & kChartOptOpenClamp))
        now = ssmodel_exchange_clamp_to_open(ex, now);
      else if (ex && (options & kChartOptDayClamp))
        now = ssmodel_exchange_clamp_time(ex, now);
      return now;
    }
    case kSpanFallback:
      return fallback;
    default:
      return 0;
  }
}

// The first sample at or after t (count when none), the last at or before.
static int32_t sample_at_or_after(const chart_plot* plot, ss_time t) {
  return (int32_t)(std::lower_bound(plot->times, plot->times + plot->count, t) - plot->times);
}
static int32_t sample_at_or_before(const chart_plot* plot, ss_time t) {
  return (int32_t)(std::upper_bound(plot->times, plot->times + plot->count, t) - plot->times) - 1;
}

static ss_time add_range(ss_time t, int32_t kind, int32_t count) {
  switch (kind) {
    case kRangeSeconds:
      return sstime_add_seconds(t, count);
    case kRangeMinutes:
      return sstime_add_seconds(t, count * 60);
    case kRangeHours:
      return sstime_add_seconds(t, count * 3600);
    case kRangeDays:
      return sstime_add_days(t, count);
    case kRangeMonths:
      return sstime_add_months(t, count);
    case kRangeYears:
      return sstime_add_years(t, count);
    case kRangeYearToDate: {
      sstime_parts p;
      sstime_unpack(&p, t);
      return sstime_pack(59, 59, 23, 31, 12, p.year);
    }
  }
  return t;
}

// The span [from, to] of the plot's ends and range; false when it has none.
static bool resolve_span(chart_plot* plot, int32_t width, ss_time* from_out, ss_time* to_out) {
  const instr* in = plot->main;
  int32_t n = plot->count, kind = plot->range, count = plot->range_count;
  ss_time from = align_span_end(plot->from_type, in, plot->from, plot->fallback_from, plot->options);
  ss_time mid = align_span_end(plot->mid_type, in, plot->mid, plot->times[n / 2], plot->options);
  ss_time to = align_span_end(plot->to_type, in, plot->to, plot->fallback_to, plot->options);
  int32_t usable = plot->pane_w - (width & ~1) - 2;
  int32_t fit = std::max(usable / (width + 1), 1);
  if (kind == kRangeAll || kind == kRangeFromTo) {
    if (kind == kRangeFromTo && from && to) {
      *from_out = from;
      *to_out = day_end(to);
      return true;
    }
    return false;
  }
  if (!mid && !to && from) {
    if (kind == kRangeAuto) {
      int32_t i = std::min(sample_at_or_after(plot, from) + fit, n - 1);
      to = plot->times[i];
    } else {
      to = add_range(from, kind, count);
    }
    *from_out = from;
    *to_out = to;
    return to != 0;
  }
  if (!mid && to) {
    // Now is held within the trading day, but a trade of today stamped after
    // the day's end (a late trade, a feed that trades on) is still shown:
    // the span reaches the newest sample of now's date.
    if (plot->to_type == kSpanNow) {
      const ss_time now = local_or_exchange_now(in);
      to = std::max(now, plot->fallback_to);
      const int32_t late = sample_at_or_before(plot, day_end(now));
      if (late >= 0 && late < n) to = std::max(to, plot->times[late]);
    }
    switch (kind) {
      case kRangeAuto:
        from = plot->times[std::max(sample_at_or_before(plot, to) - fit, 0)];
        break;
      case kRangeSeconds:
      case kRangeMinutes:
      case kRangeHours:
        from = add_range(to, kind, -count);
        break;
      case kRangeDays:
        from = sstime_add_days(date_of(to), -(count - 1));
        break;
      case kRangeMonths:
        from = sstime_add_months(date_of(to), -count);
        break;
      case kRangeYears:
        from = sstime_add_years(date_of(to), -count);
        break;
      case kRangeYearToDate: {
        sstime_parts p;
        sstime_unpack(&p, to);
        from = sstime_pack_date(1, 1, p.year);
        break;
      }
      default:
        return false;
    }
    if (kind >= kRangeDays && plot->to_type != kSpanNow) to = day_end(to);
    *from_out = from;
    *to_out = to;
    return from != 0;
  }
  if (mid) {
    ss_time lo = plot->fallback_from, hi = plot->fallback_to;
    if (kind == kRangeAuto) {
      int32_t half = std::max(usable / (2 * (width + 1)), 1);
      int32_t m = std::clamp(sample_at_or_before(plot, mid), 0, n - 1);
      int32_t last = std::min(m + half, n - 1);
      int32_t first = std::max(last - 2 * half, 0);
      *from_out = plot->times[first];
      *to_out = plot->times[last];
      return true;
    }
    int64_t seconds = 0;
    switch (kind) {
      case kRangeSeconds:
        seconds = count;
        break;
      case kRangeMinutes:
        seconds = (int64_t)count * 60;
        break;
      case kRangeHours:
        seconds = (int64_t)count * 3600;
        break;
      case kRangeDays:
        seconds = (int64_t)count * 86400;
        break;
      case kRangeMonths:
        seconds = (int64_t)count * 32 * 86400;
        break;
      case kRangeYears:
        seconds = (int64_t)count * 365 * 86400;
        break;
      case kRangeYearToDate: {
        sstime_parts p;
        sstime_unpack(&p, mid);
        from = std::max(sstime_pack_date(1, 1, p.year), lo);
        to = hi ? std::min(sstime_pack(59, 59, 23, 31, 12, p.year), hi) : sstime_pack(59, 59, 23, 31, 12, p.year);
        *from_out = from;
        *to_out = to;
        return true;
      }
      default:
        return false;
    }
    seconds = std::min<int64_t>(seconds, INT32_MAX / 2);
    from = sstime_add_seconds(mid, (int32_t) - (seconds / 2));
    if (lo && from < lo) from = lo;
    to = sstime_add_seconds(from, (int32_t)seconds);
    if (hi && to > hi) {
      // Laid back from the fallback end.
      to = hi;
      from = sstime_add_seconds(hi, (int32_t)-seconds);
      if (lo && from < lo) from = lo;
    }
    *from_out = from;
    *to_out = to;
    return true;
  }
  return false;
}

static int32_t half(uint32_t w) { return (int32_t)w / 2; }

void align_time_axis(chart_plot* plot) {
  int32_t n = plot->count;
  bool intraday_grid = !plot->eod && (plot->options & (kChartOptDayClamp | kChartOptOpenClamp));
  ss_time now = local_or_exchange_now(plot->main);
  if (n < 1) {
    plot->day_count = 0;
    plot->first_visible = plot->last_visible = 0;
    if (plot->bar_width && plot->capacity > 0) plot->bar_width[0] = 4;
    if (intraday_grid) align_day_positions(plot, plot->pane_x + plot->pane_w, plot->pane_w - 2, now);
    return;
  }
  // Bar width: the type's base, grown below.
  bool thick = plot->options & kChartOptThick;
  int32_t gap = thick ? 2 : 1, base = gap, step = gap;
  if (plot->type >= 2 && plot->type <= 11) {
    base = (thick ? kBaseThick : kBase)[plot->type - 2];
    step = (thick ? kStepThick : kStep)[plot->type - 2];
  }
  if (plot->options & kChartOptThin) base = 1;

  // The span and the visible samples.
  ss_time from = 0, to = 0;
  if (resolve_span(plot, base, &from, &to)) {
    int32_t first = sample_at_or_after(plot, from);
    int32_t last = sample_at_or_before(plot, to);
    if (last >= n) last = n - 1;
    if (first >= last) {
      // Widened to two samples: the first and the one before it, or the one
      // after it at the start.
      int32_t a = std::clamp(first, 0, n - 1);
      if (a > 0) {
        first = a - 1;
        last = a;
      } else {
        first = 0;
        last = std::min(1, n - 1);
      }
    }
    plot->first_visible = first;
    plot->last_visible = last;
  } else if (plot->last_visible <= plot->first_visible || plot->last_visible >= n) {
    int32_t first = sample_at_or_after(plot, plot->fallback_from);
    int32_t last = plot->fallback_to ? sample_at_or_before(plot, plot->fallback_to) : n - 1;
    plot->first_visible = std::clamp(first, 0, n - 1);
    plot->last_visible = std::clamp(std::max(last, plot->first_visible), 0, n - 1);
  }
  int32_t first = plot->first_visible, last = plot->last_visible;
  int32_t visible = last - first + 1;

  int32_t width = base;
  if (!(plot->options & kChartOptThin) && plot->range != kRangeAuto && visible > 0) {
    int32_t limit = plot->pane_w / visible - gap;
    bool grew = false;
    while (width < limit) {
      width += step;
      grew = true;
    }
    if (grew) width -= step;
    width = std::max(width, 1);
  }

  // Bar widths per visible sample.
  double vlo = 0, vhi = 0;
  bool by_volume = !(plot->options & kChartOptThin) && (plot->type == 5 || plot->type == 11);
  if (by_volume) {
    vlo = vhi = plot->volume[first];
    for (int32_t i = first; i <= last; i++) {
      vlo = std::min(vlo, plot->volume[i]);
      vhi = std::max(vhi, plot->volume[i]);
    }
  }
  for (int32_t i = first; i <= last; i++) {
    uint32_t w;
    if (plot->options & kChartOptThin) {
      w = 1;
    } else if (by_volume) {
      // 3, 5 ... 21 by tenths of the visible volume range; equal volumes
      // (indices have none) give 3.
      int32_t tenths = 0;
      if (vhi > vlo) tenths = std::clamp((int32_t)std::floor((plot->volume[i] - vlo) / (vhi - vlo) * 10), 0, 9);
      w = (uint32_t)(3 + 2 * tenths + (thick ? 1 : 0));
    } else {
      w = (uint32_t)width;
    }
    plot->bar_width[i] = w;
  }

  // x positions.
  int32_t right = plot->pane_x + plot->pane_w - half(plot->bar_width[last]) - 1;
  int32_t usable = plot->pane_w - half(plot->bar_width[first]) - half(plot->bar_width[last]) - 2;
  if (plot->range != kRangeAuto) {
    if (intraday_grid) {
      align_day_positions(plot, right, usable, now);
    } else {
      for (int32_t i = first; i <= last; i++)
        plot->xpos[i] =
            (uint32_t)(last == first ? right : right - (int32_t)((int64_t)(last - i) * usable / (last - first)));
    }
  } else {
    // Packed from the last sample leftwards, each bar its half width, one
    // pixel and the next bar's half width left of the one after it.
    int32_t left = plot->pane_x + 1;
    int32_t x = right;
    plot->xpos[last] = (uint32_t)x;
    int32_t i = last - 1;
    for (; i >= first; i--) {
      int32_t nx = x - half(plot->bar_width[i + 1]) - 1 - half(plot->bar_width[i]);
      if (nx - half(plot->bar_width[i]) <= left) break;
      x = nx;
      plot->xpos[i] = (uint32_t)x;
    }
    plot->first_visible = first = i + 1;
    if (first == 0 && last > 0 && x - half(plot->bar_width[0]) - left > width + 2) {
      // Everything fits with room to spare: spread evenly.
      for (int32_t k = 0; k <= last; k++)
        plot->xpos[k] = (uint32_t)(right - (int32_t)((int64_t)(last - k) * usable / last));
    }
  }
  // Samples left of the pane leave the visible range.
  while (plot->first_visible < plot->last_visible && (int32_t)plot->xpos[plot->first_visible] < plot->pane_x)
    plot->first_visible++;
}

void align_day_positions(chart_plot* plot, int32_t right, int32_t width, ss_time now) {
  int32_t first = plot->first_visible, last = plot->last_visible;
  plot->day_count = 0;
  if (plot->count < 1 || last < first) return;
  // Day segments, oldest first; past 32 the newest 32 are kept.
  chart_day all[kChartMaxDays];
  int32_t nd = 0, dropped = 0;
  for (int32_t i = first; i <= last; i++) {
    ss_time t = plot->times[i];
    if (nd > 0 && date_of(t) == all[nd - 1].date) {
      all[nd - 1].last = t;
      continue;
    }
    if (nd == kChartMaxDays) {
      std::copy(all + 1, all + nd, all);
      nd--;
      dropped++;
    }
    all[nd++] = {date_of(t), t, t, 0, 0};
  }
  if (dropped) log(LOG_WARN, kSrc, "should be more than %d days", kChartMaxDays);
  // An open end holds the last day at now.
  if (plot->to_type == kSpanNow && date_of(now) == all[nd - 1].date && now > all[nd - 1].last) all[nd - 1].last = now;
  int64_t total = 0;
  for (int32_t d = 0; d < nd; d++) {
    all[d].offset = total;
    all[d].length = sstime_diff_seconds(all[d].last, all[d].first);
    total += all[d].length;
  }
  std::copy(all, all + nd, plot->days);
  plot->day_count = nd;
  if (total == 0) {
    log(LOG_WARN, kSrc, "range is zero");
    for (int32_t i = first; i <= last; i++) plot->xpos[i] = (uint32_t)right;
    return;
  }
  int32_t d = nd - 1;
  for (int32_t i = last; i >= first; i--) {
    ss_time t = plot->times[i];
    while (d >= 0 && date_of(t) != plot->days[d].date) d--;
    if (d < 0) {
      log(LOG_ERROR, kSrc, "underflowed?");
      for (; i >= first; i--) plot->xpos[i] = (uint32_t)(right - width);
      return;
    }
    int64_t at = plot->days[d].offset + sstime_diff_seconds(t, plot->days[d].first);
    plot->xpos[i] = (uint32_t)(right - (int32_t)((total - at) * width / total));
  }
}

void align_pad_range(chart_plot* plot) {
  if (plot->options & kChartOptNoPad) return;
  double span = plot->value_high - plot->value_low;
  if (!(span > 1e-5)) return;
  double pad = 0.1 * span;
  if (plot->value_low >= pad) plot->value_low -= pad;
  plot->value_high += pad;
}
