// The exchange clock (the server's offset and delta over local time, the fixed
// times of the exchange day), batches and marks, and the day reset of one
// exchange's records. The reset of whole exchanges, which also resets modules
// above the model, is in the client (ssclient_engine.cpp).
#include "ssmodel.h"
#include "ssmodel_int.h"

using namespace ssmodel_detail;

// ===========================================================================
// Exchange clock
//
// All arithmetic on packed times goes through the time module, which carries
// seconds across midnight, month and year ends; a plain difference of two
// packed values is meaningless once their dates differ.

namespace {

bool dated(ss_time t) { return t > kSstimeSecondsMask && t < kSstimeFirstInvalid; }

void set_delta_to(ss_exchange* ex, ss_time target, ss_time local) {
  int32_t delta = sstime_diff_seconds(target, local);
  ssmodel_publish(ex->delta, delta);
  char text[kSstimeDatetimeLen];
  log(LOG_INFO, kSrc, "set %s delta %+ds %+ds (%s)", ex->name, delta, ex->offset,
      sstime_format_datetime_into(text, sstime_add_seconds(local, delta)));
}

// hh:mm:00 on the date of `date` (a time of day when it has none).
ss_time day_time(ss_time date, int32_t hour, int32_t minute) {
  return sstime_set_fields(date & ~kSstimeSecondsMask, 0, minute, hour, -1, -1, -1);
}

ss_time clamp_between(ss_time t, ss_time lo, ss_time hi) { return t < lo ? lo : t > hi ? hi : t; }

}  // namespace

namespace {

// The last exchange time worked out on this thread for each exchange slot,
// with the local second and delta it came from. The sum moves only when the
// clock's second or the delta does, and may carry across days (a delta
// crossing midnight) which costs a calendar walk, so it is kept meanwhile.
struct now_memo {
  ss_time local;
  int32_t delta;
  ss_time now;
};
thread_local now_memo t_now_memo[kExchanges];  // all zero: 0 + 0 is 0

// ssmodel_track_offset's last stamp and local second on this thread, and the
// seconds between them (both dated, so never the all-zero start).
struct track_memo {
  ss_time stamp;
  ss_time local;
  int32_t target;
};
thread_local track_memo t_track_memo;

}  // namespace

ss_time ssmodel_exchange_now(const ss_exchange* ex) {
  ss_time local = sstime_now();
  if (!ex) return local;
  const int32_t delta = ssmodel_load(ex->delta);
  now_memo& m = t_now_memo[ex->index % kExchanges];
  if (m.local != local || m.delta != delta) m = {local, delta, sstime_add_seconds(local, delta)};
  return m.now;
}

void ssmodel_set_offset(ss_exchange* ex, int32_t offset) {
  if (!ex) return;
  ss_time local = sstime_now();
  ss_time now = sstime_add_seconds(local, ex->delta);
  int64_t change = (int64_t)offset - ex->offset;
  ss_time target = change < INT32_MIN || change > INT32_MAX ? 0 : sstime_add_seconds(now, (int32_t)change);
  ex->offset = offset;
  char text[kSstimeDatetimeLen];
  log(LOG_INFO, kSrc, "set %s offset %+ds (%s)", ex->name, offset, sstime_format_datetime_into(text, now));
  if (!dated(target) || !dated(local)) {
    log(LOG_WARN, kSrc, "can't move %s clock by %+llds", ex->name, (long long)change);
    return;
  }
  set_delta_to(ex, target, local);
}

void ssmodel_set_delta(ss_exchange* ex, ss_time stamp) {
  if (!ex) return;
  ss_time local = sstime_now();
  if (!dated(stamp) || !dated(local)) {
    log(LOG_WARN, kSrc, "can't set %s clock to %s", ex->name, sstime_format_datetime(stamp));
    return;
  }
  set_delta_to(ex, stamp, local);
}

void ssmodel_track_offset(ss_exchange* ex, ss_time stamp) {
  ss_time local = sstime_now();
  if (!ex || !dated(stamp) || !dated(local)) return;
  // Every depth message brings a stamp, and a second of the stream brings
  // hundreds with the same one: the difference is kept for the pair.
  if (stamp != t_track_memo.stamp || local != t_track_memo.local)
    t_track_memo = {stamp, local, sstime_diff_seconds(stamp, local)};
  int32_t target = t_track_memo.target;
  int32_t delta = ex->delta;
  int64_t gap = (int64_t)target - delta;
  if (gap == 0) return;
  if (gap > 1)
    delta++;
  else if (gap < -1)
    delta--;
  else if (delta % 100 != 0)
    delta = target;
  else
    return;  // a delta set from a whole offset is not nudged by one second
  ssmodel_publish(ex->delta, delta);
}

ss_time ssmodel_exchange_preopen_time(const ss_exchange* ex) { return ex ? day_time(ex->date, 8, 0) : 0; }

ss_time ssmodel_exchange_open_time(const ss_exchange* ex) { return ex ? day_time(ex->date, 10, 0) : 0; }

ss_time ssmodel_exchange_close_time(const ss_exchange* ex) {
  if (!ex) return 0;
  switch (ex->index) {
    case kExchangeAsx:
      return day_time(ex->date, 16, 11);
    case kExchangeNzx:
      return day_time(ex->date, 17, 0);
    default:
      return day_time(ex->date, 16, 0);
  }
}

ss_time ssmodel_exchange_day_end(const ss_exchange* ex) {
  if (!ex) return 0;
  return ex->index == kExchangeNzx ? day_time(ex->date, 18, 30) : day_time(ex->date, 19, 0);
}

ss_time ssmodel_day_start_for(int32_t index, ss_time date) {
  if (index == kExchangeAsx || index == kExchangeAxo) return kludge_day_start(date & ~kSstimeSecondsMask);
  return day_time(date, 8, 0);
}

ss_time ssmodel_exchange_day_start(const ss_exchange* ex) {
  return ex ? ssmodel_day_start_for((int32_t)ex->index, ex->date) : 0;
}

ss_time ssmodel_exchange_clamp_time(const ss_exchange* ex, ss_time t) {
  return clamp_between(t, ssmodel_exchange_day_start(ex), ssmodel_exchange_day_end(ex));
}

ss_time ssmodel_exchange_clamp_to_open(const ss_exchange* ex, ss_time t) {
  return clamp_between(t, ssmodel_exchange_open_time(ex), ssmodel_exchange_close_time(ex));
}

ss_time ssmodel_exchange_clamped_now(const ss_exchange* ex) {
  return ssmodel_exchange_clamp_time(ex, ssmodel_exchange_now(ex));
}

// ===========================================================================
// Batches, marks and the day reset

void ssmodel_batch_begin(ss_exchange* ex) {
  if (ex && !(ex->flags & kExBatch)) ex->flags |= kExBatch;
}

void ssmodel_batch_end(ss_exchange* ex) {
  if (!ex) return;
  ex->flags &= ~kExBatch;
  sstrack_update();
}

void ssmodel_mark_all_exchanges(void) {
  for (ss_exchange* ex : M.ex)
    if (ex) ex->flags |= kExMarked;
  ssnotify_record_global(kGlobalMarked);
}

namespace {

// Day records: the seven days before the cut-off go; the rest forget that
// their events were asked for.
void reset_days(instr* in, ss_time cutoff) {
  if (cutoff)
    for (int32_t d = 1; d <= kResetDays; d++) ssevent_remove_day(in, sstime_sub_days(cutoff, d));
  for (ss_day* day = in->days.head; day; day = day->next) day->flags &= ~kDayEventsRequested;
}

void reset_stock(ss_stock* s, int32_t mode, ss_time cutoff) {
  uint32_t request = 0;
  if (mode == 0) request = ssmodel_all_requested() ? kInRequestBits : kStockDayRequests;
  s->flags = (s->flags & ~kInRequestBits) | request;
  s->bid = s->offer = s->close = s->open = s->high = s->low = s->last = 0;
  s->volume = s->value = 0;
  s->change = s->change_pct = 0;
  s->disp_price = 0;
  s->disp_change = s->disp_change_pct = 0;
  s->disp_volume = s->disp_value = 0;
  s->quote_basis = 0;
  s->movement = 0;
  ssmodel_free_depth(s);
  ssmodel_free_depth_breaks(s);
  ssmodel_free_trades(s);  // the trade count too
  ssevent_free_events(s);
  if (ssmodel_extended()) sspriority_clear(s);
  ssmodel_publish(s->current.prev, nullptr);
  ssmodel_publish(s->current.next, nullptr);
  for (auto& r : s->rank) {
    ssmodel_publish(r.prev, nullptr);
    ssmodel_publish(r.next, nullptr);
  }
  s->speed = -1;
  // The stream that follows a reset tells this stock's prices from 0 again,
  // as it does for a stock it adds; a reference left from before the reset
  // would misread every relative price of the replay.
  s->price_ref = 0;
  s->stream_time = 0;
  // Yesterday's auction and second volume and value would otherwise show as
  // today's indicative price and feed today's average price.
  ssmodel_auction_clear(&s->auction);
  s->second_volume = s->second_value = 0;
  s->average_price = 0;
  s->first_price = 0;
  s->last_trade_time = 0;
  for (int i = 0; i < 3; i++) {
    s->vcmp_volume[i] = 0;
    s->vcmp_diff[i] = 0;
    s->vcmp_pct[i] = 0;
  }
  s->flags &= ~(kInHistory | kInNewsBits | kInCurrent);
  growbuf_shrink(&s->scratch);
  reset_days(s, cutoff);
}

void reset_index(ss_index* x, int32_t mode, ss_time cutoff) {
  if (mode == 0 && !ssmodel_all_requested())
    x->flags |= kIndexDayRequest;
  else
    x->flags &= ~kIndexDayRequest;
  x->base = x->open = x->high = x->low = x->value = 0;
  x->change = x->change_pct = 0;
  x->movement = 0;
  ssmodel_free_index_ticks(x);
  ssevent_free_events(x);
  ssmodel_publish(x->cur_prev, nullptr);
  ssmodel_publish(x->cur_next, nullptr);
  x->speed = -1;
  x->flags &= ~(kInHistory | kInCurrent);
  growbuf_shrink(&x->scratch);
  reset_days(x, cutoff);
}

}  // namespace

ss_time ssmodel_reset_date(ss_exchange* ex, ss_time date) {
  if (!date) return 0;
  char text[kSstimeDateLen];
  log(LOG_INFO, kSrc, "reset %s %s", ex->name, sstime_format_date_into(text, date));
  ssmodel_set_date(ex, date);
  return sstime_add_months(date & ~kSstimeSecondsMask, -1);
}

void ssmodel_reset_records(ss_exchange* ex, int32_t mode, ss_time cutoff) {
  log(LOG_INFO, kSrc, "reset %s stocks", ex->name);
  for (uint64_t i = 0; i < ex->stocks.count; i++) reset_stock(table_record<ss_stock>(&ex->stocks, i), mode, cutoff);

  log(LOG_INFO, kSrc, "reset %s indices", ex->name);
  for (uint64_t i = 0; i < ex->indices.count; i++)
    reset_index(table_record<ss_index>(&ex->indices, i), mode, cutoff);

  log(LOG_INFO, kSrc, "reset %s issuers", ex->name);
  for (uint64_t i = 0; i < ex->issuers.count; i++) {
    ss_issuer* is = table_record<ss_issuer>(&ex->issuers, i);
    ssevent_free_events(is);
    is->flags &= ~(kInNewsBits | kInCurrent);
    ssmodel_recompute_news_flags(is);
  }

  // The stocks' and indices' own links were cleared above; a reader walking
  // one of these lists meanwhile just came to an early end.
  ex->state = 0;
  ex->speed_count = 0;
  ex->index_speed_count = 0;
  dl_detach(ex->current);
  for (auto& r : ex->rank) dl_detach(r);
  dl_detach(ex->current_indices);
  memset(ex->resume_code, 0, sizeof ex->resume_code);
  ex->resume_number = 0;
  ex->resume_counter = 0;

  log(LOG_INFO, kSrc, "reset %s news", ex->name);
  if (cutoff) cut_before(ex->news, cutoff, free_chain<ss_exchange_news>);
  for (ss_exchange_news* e = ex->news.tail; e && e->time >= ex->date; e = e->prev) {
    ss_issuer* is = ssmodel_find_issuer(ex, e->code);
    if (is) ssmodel_recompute_news_flags(is);
  }
}

void ssmodel_clear_speeds(void) {
  for (ss_exchange* ex : M.ex) {
    if (!ex) continue;
    // A restarted stream tells every price and time from nothing again: a
    // reference kept from before would misread its relative fields.
    for (uint64_t i = 0; i < ex->stocks.count; i++) {
      ss_stock* s = table_record<ss_stock>(&ex->stocks, i);
      s->speed = -1;
      s->price_ref = 0;
      s->stream_time = 0;
    }
    for (uint64_t i = 0; i < ex->indices.count; i++) table_record<ss_index>(&ex->indices, i)->speed = -1;
    ex->speed_count = 0;
    ex->index_speed_count = 0;
    ex->cur_code[0] = '\0';
    ex->cur_time = 0;
  }
}
