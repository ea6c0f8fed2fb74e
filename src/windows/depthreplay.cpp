// The depth window's replay engine: keeps the two children in step with the
// instrument's book, either live (the children copy the live queues, then
// follow each delivered event) or at any moment of today or an earlier day,
// by applying that day's event history from its start. Time runs at a
// multiple of real time, steps one event at a time, jumps, or is held at a
// mark; running past a day's end rolls the book over to the next day's
// opening queues with the fewest synthetic add, amend and delete events.
//
// The catch-up may let the io thread in by sleeping with the core lock
// released, but never inside a change delivery: there the notify lock is
// held and the io thread, holding the core lock, would wait for it forever.
// A catch-up that does not settle inside a delivery resumes on the next tick.
#include <cassert>
#include <cmath>
#include <cstring>

#include "lib/fade.h"
#include "lib/timer.h"
#include "log.h"
#include "pool.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "ui/gui.h"
#include "windows/depthbars.h"
#include "windows/depthwin.h"

namespace {

const char kSrc[] = "src/windows/depthwin";
const char kSrcRollover[] = "src/windows/depthwin-rollover";

constexpr int kCatchupAttempts = 20;  // loads after the first
constexpr int kCatchupSleepFrom = 2;  // attempt from which the loop sleeps
constexpr int32_t kCatchupSleepMs = 10;
constexpr uint32_t kThrottledCap = 2500;
constexpr uint32_t kUnthrottledCap = 9999999;
constexpr uint32_t kSeekNear = 23;
constexpr int64_t kPrefetchMs = 5000;
constexpr uint32_t kRolloverItemsPerPage = 5000;

struct rollover_item {
  ss_time time;
  uint32_t price;
  uint64_t volume;
  rollover_item *next;
};
static_assert(sizeof(rollover_item) == 24);

struct rollover_queue {
  uint32_t count;
  rollover_item *first;
  rollover_item *last;
};

struct {
  pool items;
  bool items_made;
  int last_loads;
  void (*catchup_hook)(depthwin_book *b, int attempt);
} S;

depthwin_book *bk(widget *w) { return depthwin_get_book(w); }
widget *win(depthwin_book *b) { return b->owner; }
const depthwin_services &svc() { return *depthwin_get_services(); }
double now() { return svc().now_seconds(); }

bool is_shown(depthwin_book *b) { return widget_is_shown(win(b)); }
ss_time today(const instr *in) { return ssmodel_exchange_date(int32_t(in->exchange->index)); }
ss_time date_of(ss_time t) { return sstime_with_time_of_day(t, 0); }
bool same_day(ss_time a, ss_time b) { return date_of(a) == date_of(b); }
bool depth_complete(const instr *in) { return (in->flags & 0x7) == 0x7; }

void chart_sync(depthwin_book *b) {
  if (svc().chart_sync) svc().chart_sync(win(b), b->position);
}
void chart_clear(depthwin_book *b) {
  if (svc().chart_sync_clear) svc().chart_sync_clear(win(b));
}
void tools_redraw(depthwin_book *b) {
  if (b->tools && svc().tools_redraw) svc().tools_redraw(b->tools);
}
void tools_rebind(depthwin_book *b) {
  if (b->tools && svc().tools_rebind) svc().tools_rebind(b->tools);
}
void show_speed(depthwin_book *b) {
  if (b->tools && svc().tools_show_speed) svc().tools_show_speed(b->tools);
}

ss_day *find_day(instr *in, ss_time date) {
  for (ss_day *d = in->days.head; d; d = d->next)
    if (date_of(d->date) == date_of(date)) return d;
  return nullptr;
}

// The event list of a date: today's or its day record's (null when none).
ss_event_list *list_of(instr *in, ss_time date) {
  if (date_of(date) == date_of(today(in))) return &in->events;
  ss_day *d = find_day(in, date);
  return d ? &d->events : nullptr;
}

void live_state(depthwin_book *b) {
  b->anchor_wall = 0;
  b->anchor_position = 0;
  b->last_seek_time = 0;
  chart_clear(b);
}

void rollover_promise(void *arg, int n);

}  // namespace

void depthwin_cancel_promises(depthwin_book *b) { gui_promise_cancel(rollover_promise, b); }

void depthwin_reset_book(depthwin_book *b) {
  depthwin_cancel_promises(b);
  b->cursor = nullptr;
  ssmodel_auction_clear(&b->auction);
  DEPTHWIN_BOTH(b, reset);
}

int depthwin_last_catchup_loads() { return S.last_loads; }
void depthwin_set_catchup_hook(void (*fn)(depthwin_book *, int)) { S.catchup_hook = fn; }

// ---- catch-up ----

void depthwin_catchup(widget *w) {
  depthwin_book *b = bk(w);
  depthwin_reset_book(b);
  b->catchup_pending = 0;
  instr *in = b->instrument;
  if (!in) return;
  fade_hold();
  if (in->kind == kKindStock) ssmodel_auction_copy(&b->auction, &static_cast<ss_stock *>(in)->auction);
  depthwin_copy_day_figures(b);
  bool delivering = ssnotify_in_delivery();
  int loads = 0;
  for (int attempt = 0;; attempt++) {
    b->cursor = in->events.newest;
    DEPTHWIN_BOTH(b, reset);
    for (int side = 0; side < 2; side++) DEPTHWIN_BOTH(b, load_side, side);
    DEPTHWIN_BOTH(b, after_load);
    loads++;
    if (S.catchup_hook) S.catchup_hook(b, attempt);
    if (in->events.newest == b->cursor) break;
    if (attempt >= kCatchupSleepFrom) {
      if (delivering) {
        // Releasing the core lock here would deadlock with the io thread,
        // which waits for the notify lock this delivery holds: keep what
        // was loaded and try again on the next tick.
        b->catchup_pending = 1;
        break;
      }
      assert(!ssnotify_in_delivery());
      if (svc().sleep) svc().sleep(kCatchupSleepMs);
    }
    if (attempt >= kCatchupAttempts) {
      log(LOG_ERROR, kSrc, "couldn't accurately catchup (todo)");
      break;
    }
    log(LOG_WARN, kSrc, "trying to catchup again");
  }
  S.last_loads = loads;
  DEPTHWIN_BOTH(b, finish_load);
  if (b->tools && svc().tools_follow) svc().tools_follow(b->tools, in);
  fade_release();
  widget_redraw(w);
}

// ---- applying one event ----

namespace {

void queue_rollover(depthwin_book *b, ss_time later) { gui_promise_after_draw(rollover_promise, b, int(later)); }

void rollover_promise(void *arg, int n) {
  auto *b = static_cast<depthwin_book *>(arg);
  if (!b->cursor) return;
  b->rollover_date = date_of(ssevent_event_time(b->cursor));
  b->cursor = nullptr;
  depthwin_play_to(win(b), date_of(ss_time(uint32_t(n))), 0);
}

}  // namespace

int depthwin_apply(depthwin_book *b, ss_event *ev) {
  if (b->mark) return 0;
  if (b->show_age) depthwin_update_age_ref(b);
  if (b->anchor_position && !b->rollover_date) {
    ss_time t = ssevent_event_time(ev);
    if (t > b->position) return 0;
    if (!ev->newer && b->instrument) {
      instr *in = b->instrument;
      ss_time d = date_of(t);
      ss_time td = date_of(today(in));
      if (d == td || !t) {
        live_state(b);
      } else {
        ss_time found = 0;
        for (ss_time x = sstime_add_days(d, 1); x && x <= td; x = sstime_add_days(x, 1)) {
          if (x == td) {
            found = x;
            break;
          }
          ss_day *day = find_day(in, x);
          if (day && (day->flags & 0x8) && (!(day->flags & 0x10) || day->events.count)) {
            found = x;
            break;
          }
        }
        if (found) {
          if (!(b->target && b->cursor && same_day(b->target, ssevent_event_time(b->cursor))))
            queue_rollover(b, found);
        } else {
          live_state(b);
        }
      }
    }
  }
  b->cursor = ev;
  if (ev->kind == kEvAuction && ev->payload)
    ssmodel_auction_copy(&b->auction, &static_cast<ss_ev_auction *>(ev->payload)->auction);
  DEPTHWIN_BOTH(b, apply_event, ev);
  return 1;
}

// ---- advance ----

void depthwin_advance(widget *w) {
  depthwin_book *b = bk(w);
  instr *in = b->instrument;
  if (!in) return;
  int full = 0;
  if (!b->cursor) {
    full = 1;
    ss_time t = b->target ? b->target : (b->pinned_event ? ssevent_event_time(b->pinned_event) : 0);
    ss_event_list *list = nullptr;
    if (t) {
      ss_day *d = date_of(t) == date_of(today(in)) ? nullptr : find_day(in, t);
      if (d) list = &d->events;
    }
    if (!list) list = &in->events;
    if (!list->oldest) {
      log(LOG_ERROR, kSrc, "no events!");
      return;
    }
    ss_event *stop = nullptr;
    if (!b->pinned_event && b->target) {
      for (ss_event *e = list->newest; e; e = e->older) {
        ss_time et = ssevent_event_time(e);
        if (et && et < b->target) {
          stop = e;
          break;
        }
      }
    }
    if (stop) {
      for (ss_event *e = list->oldest; e; e = e->newer) {
        if (!depthwin_apply(b, e)) break;
        if (e == stop) break;
      }
    } else if (!depthwin_apply(b, list->oldest)) {
      DEPTHWIN_BOTH(b, end_batch, 1);
      return;
    }
  }
  if (in->kind == kKindStock && b->position > sstime_with_time_of_day(today(in), 0)) {
    depthwin_copy_day_figures(b);
  }
  if (b->cursor && b->cursor != b->pinned_event) {
    uint32_t cap = b->throttle ? kThrottledCap : kUnthrottledCap;
    uint32_t applied = 0;
    for (ss_event *e = b->cursor->newer; e && applied < cap; e = e->newer) {
      if (b->target && !(ssevent_event_time(e) < b->target)) break;
      if (!depthwin_apply(b, e)) break;
      applied++;
      if (e == b->pinned_event) break;
    }
  }
  DEPTHWIN_BOTH(b, end_batch, full);
}

// ---- seek and play ----

void depthwin_seek_event(widget *w, ss_event *e, int rebuild) {
  depthwin_book *b = bk(w);
  ss_time saved = b->mark;
  b->mark = 0;
  bool tail = true;
  if (!b->instrument || !e) {
    depthwin_reset_book(b);
    b->mark = saved;
    b->awaiting_history = 0;
    tail = false;
  } else {
    ss_time t = ssevent_event_time(e);
    if (!t) log(LOG_WARN, kSrc, "no start time");
    if (!(b->instrument->flags & 0x10)) {
      depthwin_reset_book(b);
      b->pinned_event = e;
      b->last_seek_event = nullptr;
      b->last_seek_time = 0;
      b->target = 0;
      if (svc().request_events) svc().request_events(b->instrument);
      b->awaiting_history = 1;
    } else {
      b->anchor_wall = now();
      b->anchor_position = t;
      b->next_step_wall = 0;
      b->pinned_event = e;
      // The events up to e must not be refused as later than the position
      // the window showed before the seek.
      b->position = t;
      bool near = false;
      if (!rebuild && b->last_seek_event && b->cursor) {
        uint32_t k = 0;
        for (ss_event *x = b->last_seek_event; x && k <= kSeekNear; x = x->newer, k++)
          if (x == e) {
            near = true;
            break;
          }
      }
      if (near) {
        b->busy = 1;
        depthwin_advance(w);
        b->busy = 0;
      } else {
        depthwin_reset_book(b);
        fade_hold();
        depthwin_advance(w);
        fade_release();
      }
      b->last_seek_event = e;
      b->last_seek_time = 0;
      b->pinned_event = nullptr;
      b->target = 0;
      b->awaiting_history = 0;
    }
    b->position = t;
    b->mark = saved ? t : 0;
    chart_sync(b);
  }
  (void)tail;
  tools_redraw(b);
}

namespace {

int prefetch_fn(void *arg, uint32_t, int64_t, float) {
  auto *b = static_cast<depthwin_book *>(arg);
  b->prefetch_timer = -1;
  instr *in = b->instrument;
  ss_time d = b->prefetch_date;
  if (!in || !d) return 0;
  auto ask = [&](ss_time x) {
    if (date_of(x) == date_of(today(in))) {
      if (svc().request_events) svc().request_events(in);
    } else if (svc().request_events_for_day) {
      svc().request_events_for_day(in, x);
    }
  };
  ask(d);
  if (sstime_weekday(d) == 6) {
    ask(sstime_add_days(d, 1));
    ask(sstime_add_days(d, 2));
  }
  return 0;
}

}  // namespace

void depthwin_play_to(widget *w, ss_time t, int rebuild) {
  depthwin_book *b = bk(w);
  instr *in = b->instrument;
  if (!t || (in && t >= ssmodel_exchange_now(in->exchange))) {
    depthwin_restart(w);
    return;
  }
  if (!in) {
    ss_time saved = b->mark;
    b->mark = 0;
    b->last_seek_time = 0;
    depthwin_reset_book(b);
    b->mark = saved;
    b->awaiting_history = 0;
    DEPTHWIN_BOTH(b, settings_changed, 0);
    tools_rebind(b);
    return;
  }
  ss_time saved = b->mark;
  b->mark = 0;
  b->last_seek_time = 0;
  ss_time td = date_of(today(in));
  bool loaded = false;
  // Days known to be empty are passed over at the same time of day.
  for (;;) {
    ss_time d = date_of(t);
    if (d >= td) break;
    ss_day *day = find_day(in, d);
    if (!day) break;
    if ((day->flags & 0x10) && day->events.count == 0) {
      t = sstime_add_days(t, 1);
      continue;
    }
    break;
  }
  ss_time d = date_of(t);
  if (d < td) {
    ss_day *day = find_day(in, d);
    if (day) {
      uint32_t f[5] = {day->open, day->high, day->low, day->last, day->average};
      memcpy(b->day_figures, f, sizeof f);
      loaded = day->flags & 0x10;
    }
  } else {
    depthwin_copy_day_figures(b);
    loaded = in->flags & 0x10;
  }
  if (loaded) {
    ss_time prev_seek = b->last_seek_time;
    b->anchor_wall = now();
    b->anchor_position = t;
    b->next_step_wall = 0;
    b->position = t;
    b->target = t;
    if (b->rollover_date) {
      b->busy = 1;
      DEPTHWIN_BOTH(b, begin_rebuild);
      b->rebuilding = 1;
      ss_time rt = t;
      ss_event *from = depthwin_rollover_build(in, b->rollover_date, d, depthwin_apply, b, &rt);
      b->rebuilding = 0;
      if (from) {
        b->cursor = from;
        t = rt;
        b->position = b->target = b->anchor_position = t;
      } else {
        log(LOG_WARN, kSrc, "played %s to %s", in->code, sstime_format_datetime(t));
        // Nothing was rolled over: the book still holds the previous day's
        // closing queues, which the new day's events must not land on.
        depthwin_reset_book(b);
      }
      b->rollover_date = 0;
      depthwin_advance(w);
      b->busy = 0;
    } else if (!rebuild && prev_seek && prev_seek <= t && b->cursor && (!same_day(prev_seek, t) || d == td)) {
      b->busy = 1;
      b->pinned_event = nullptr;
      depthwin_advance(w);
      b->busy = 0;
    } else {
      depthwin_reset_book(b);
      fade_hold();
      depthwin_advance(w);
      fade_release();
    }
    b->last_seek_event = b->cursor;
    b->last_seek_time = t;
    b->pinned_event = nullptr;
    b->target = 0;
    b->awaiting_history = 0;
  } else {
    if (!b->rollover_date) depthwin_reset_book(b);
    b->pinned_event = nullptr;
    b->target = t;
    b->last_seek_event = nullptr;
    b->last_seek_time = t;
    if (d >= td) {
      if (svc().request_events) svc().request_events(in);
    } else if (svc().request_events_for_day) {
      svc().request_events_for_day(in, d);
    }
    b->awaiting_history = 1;
  }
  if (d < td) {
    if (b->prefetch_timer >= 0) timer_stop(b->prefetch_timer);
    b->prefetch_date = sstime_add_days(d, 1);
    b->prefetch_timer = timer_start(kPrefetchMs, prefetch_fn, b, 0);
  }
  b->position = t;
  b->mark = saved ? t : 0;
  DEPTHWIN_BOTH(b, settings_changed, 1);
  tools_rebind(b);
}

void depthwin_play_to_live(widget *w, ss_time t, int rebuild, int live) {
  bk(w)->throttle = !live;
  depthwin_play_to(w, t, rebuild);
}

void depthwin_restart(widget *w) {
  depthwin_book *b = bk(w);
  b->anchor_wall = 0;
  b->anchor_position = 0;
  b->next_step_wall = 0;
  b->target = 0;
  b->mark = 0;
  b->pinned_event = nullptr;
  if (b->instrument) {
    b->position = ssmodel_exchange_now(b->instrument->exchange);
    depthwin_update_age_ref(b);
  }
  chart_clear(b);
  depthwin_catchup(w);
}

void depthwin_step(widget *w, int32_t n) {
  depthwin_book *b = bk(w);
  if (!b->instrument) return;
  if (b->realtime) {
    ss_time t = sstime_add_seconds(b->position, int32_t(std::lrint(double(n) * double(b->speedup))));
    depthwin_play_to(w, ssmodel_exchange_clamp_time(b->instrument->exchange, t), 0);
    return;
  }
  if (!b->cursor || n == 0) return;
  ss_event *e = n < 0 ? b->cursor->older : b->cursor->newer;
  if (e) depthwin_seek_event(w, e, 0);
}

void depthwin_step_forward(widget *w, int32_t n) { depthwin_step(w, n); }
void depthwin_step_back(widget *w, int32_t n) { depthwin_step(w, -n); }

void depthwin_set_mark(widget *w, int on) {
  depthwin_book *b = bk(w);
  if (on) {
    b->mark = b->position;
  } else if (b->mark) {
    b->anchor_wall = now();
    b->anchor_position = b->position;
    b->target = 0;
    b->mark = 0;
    b->pinned_event = nullptr;
  }
}

void depthwin_mark_position(widget *w) { bk(w)->mark = bk(w)->position; }
void depthwin_release_mark(widget *w) { depthwin_set_mark(w, 0); }

void depthwin_set_speedup(widget *w, float s) {
  depthwin_book *b = bk(w);
  if (!(s > 0) || s == b->speedup) return;
  if (b->anchor_position) {
    b->anchor_wall = now();
    b->anchor_position = b->position;
  }
  b->speedup = s;
  tools_redraw(b);
}

void depthwin_set_delay(widget *w, float d) {
  depthwin_book *b = bk(w);
  if (!(d > 0) || d == b->delay) return;
  if (b->next_step_wall) b->next_step_wall += double(d) - double(b->delay);
  b->delay = d;
}

int depthwin_set_non_realtime(widget *w, int on) {
  depthwin_book *b = bk(w);
  b->realtime = !on;
  b->next_step_wall = 0;
  b->anchor_position = b->position;
  b->anchor_wall = now();
  b->pinned_event = nullptr;
  b->target = 0;
  return 0;
}

void depthwin_update_chart(widget *w) {
  depthwin_book *b = bk(w);
  if (b->tools && svc().tools_update_chart) svc().tools_update_chart(b->tools);
}

// ---- the tick ----


void depthwin_tick(widget *w) {
  depthwin_book *b = bk(w);
  instr *in = b->instrument;
  double t_now = now();
  b->age_recomputed = 0;
  if (is_shown(b) && in && !b->awaiting_history) {
    if (b->catchup_pending) depthwin_catchup(w);
    if (b->mark) {
      DEPTHWIN_BOTH(b, end_batch, 0);
      DEPTHWIN_BOTH(b, tick);
      show_speed(b);
      chart_sync(b);
      return;
    }
    ss_time candidate = ssmodel_exchange_clamped_now(in->exchange);
    if (b->anchor_wall) {
      if (b->realtime) {
        ss_time live = candidate;
        candidate = sstime_add_seconds(b->anchor_position,
                                       int32_t(std::lrint((t_now - b->anchor_wall) * double(b->speedup))));
        if (candidate >= live) {
          b->anchor_wall = 0;
          b->anchor_position = 0;
          chart_clear(b);
          b->throttle = 1;
        }
      } else {
        if (t_now < b->next_step_wall) {
          DEPTHWIN_BOTH(b, end_batch, 0);
          DEPTHWIN_BOTH(b, tick);
          show_speed(b);
          return;
        }
        b->next_step_wall = t_now + double(b->delay);
        if (b->cursor) {
          if (b->cursor->newer) {
            ss_time nt = ssevent_event_time(b->cursor->newer);
            if (nt > b->position) b->position = nt;
          } else {
            b->anchor_wall = 0;
            b->anchor_position = 0;
          }
          // One event a step: the position stops just after the next one.
          if (depth_complete(in) || (in->flags & 0x10)) {
            ss_event *next = b->cursor->newer;
            if (next && depthwin_apply(b, next)) DEPTHWIN_BOTH(b, end_batch, 0);
          }
          DEPTHWIN_BOTH(b, tick);
          show_speed(b);
          widget_redraw(w);
          chart_clear(b);
        } else if ((in->flags & 0x10) && !b->pinned_event && !b->target) {
          depthwin_catchup(w);
        }
        return;
      }
    }
    if (candidate != b->position) {
      b->position = candidate;
      if (b->anchor_position) tools_redraw(b);
    }
    if (!(in->flags & 0x10000)) {
      if (b->cursor) {
        bool agree = ((b->history_seen & 0x10) != 0) == ((in->flags & 0x10) != 0);
        if (agree && (depth_complete(in) || (in->flags & 0x10))) depthwin_advance(w);
      } else if ((in->flags & 0x10) && !b->pinned_event && !b->target) {
        depthwin_catchup(w);
      }
    }
  }
  if (b->show_age && uint64_t(t_now * 1000.0) >= b->age_refreshed_ms + 1000) depthwin_update_age_ref(b);
  if (b->age_recomputed && b->bars) depthbars_recolour(b->bars);
  DEPTHWIN_BOTH(b, tick);
  show_speed(b);
  if (b->anchor_position) {
    chart_sync(b);
    if (b->bars) widget_redraw(b->bars);
  }
}

// ---- rollover ----

int depthwin_rollover_init() {
  if (S.items_made) return 0;
  if (pool_init(&S.items, sizeof(rollover_item), kRolloverItemsPerPage) < 0) return -1;
  S.items_made = true;
  return 0;
}

void depthwin_rollover_fini() {
  if (!S.items_made) return;
  pool_destroy(&S.items);
  S.items_made = false;
}

namespace {

const char *ymd(ss_time t, char *buf, size_t cap) {
  sstime_parts p;
  sstime_unpack(&p, t);
  snprintf(buf, cap, "%04d-%02d-%02d", p.year, p.mon, p.mday);
  return buf;
}

// The item before position p (null for p = 1); false when unreachable.
bool item_before(rollover_queue *q, uint32_t p, rollover_item **prev) {
  *prev = nullptr;
  if (p < 1) return false;
  rollover_item *it = nullptr;
  for (uint32_t k = 1; k < p; k++) {
    it = it ? it->next : q->first;
    if (!it) return false;
  }
  *prev = it;
  return true;
}

void q_insert(rollover_queue *q, uint32_t p, ss_time t, uint32_t price, uint64_t volume) {
  rollover_item *prev;
  if (!item_before(q, p, &prev)) {
    log(LOG_ERROR, kSrcRollover, "can't get to position %d", int(p));
    return;
  }
  auto *it = static_cast<rollover_item *>(pool_alloc(&S.items));
  if (!it) {
    log(LOG_ERROR, kSrcRollover, "can't alloc depth");
    return;
  }
  *it = {t, price, volume, nullptr};
  rollover_item *&link = prev ? prev->next : q->first;
  it->next = link;
  link = it;
  if (!it->next) q->last = it;
  q->count++;
}

rollover_item *q_at(rollover_queue *q, uint32_t p, rollover_item **prev) {
  if (!item_before(q, p, prev)) return nullptr;
  return *prev ? (*prev)->next : q->first;
}

void q_clear(rollover_queue *q) {
  for (rollover_item *it = q->first; it;) {
    rollover_item *n = it->next;
    pool_free(&S.items, it);
    it = n;
  }
  *q = {};
}

void q_apply(rollover_queue q[2], const ss_event *e) {
  switch (e->kind) {
    case kEvDepthAdd: {
      auto *p = static_cast<const ss_ev_depth_add *>(e->payload);
      if (p->side < 2) q_insert(&q[p->side], p->position, p->time, p->price, p->volume);
      break;
    }
    case kEvDepthAmend: {
      auto *p = static_cast<const ss_ev_depth_amend *>(e->payload);
      rollover_item *prev;
      rollover_item *it = p->side < 2 ? q_at(&q[p->side], p->position, &prev) : nullptr;
      if (!it)
        log(LOG_ERROR, kSrcRollover, "can't get to position %d", int(p->position));
      else
        it->volume = p->volume;
      break;
    }
    case kEvDepthDelete: {
      auto *p = static_cast<const ss_ev_depth_delete *>(e->payload);
      rollover_item *prev;
      rollover_item *it = p->side < 2 ? q_at(&q[p->side], p->position, &prev) : nullptr;
      if (!it) {
        log(LOG_ERROR, kSrcRollover, "can't get to position %d", int(p->position));
        break;
      }
      rollover_queue &qq = q[p->side];
      (prev ? prev->next : qq.first) = it->next;
      if (qq.last == it) qq.last = prev;
      qq.count--;
      pool_free(&S.items, it);
      break;
    }
    case kEvDepthClear: {
      auto *p = static_cast<const ss_ev_depth_clear *>(e->payload);
      if (p->sides == 0 || p->sides == 2) q_clear(&q[0]);
      if (p->sides == 1 || p->sides == 2) q_clear(&q[1]);
      break;
    }
    default:
      break;
  }
}

}  // namespace

ss_event *depthwin_rollover_build(instr *in, ss_time from_date, ss_time to_date, depthwin_apply_fn apply,
                                  depthwin_book *b, ss_time *time) {
  char d1[16], d2[16];
  ss_event_list *to = list_of(in, to_date);
  if (!to) {
    log(LOG_ERROR, kSrcRollover, "can't find %s (today) for %s", ymd(to_date, d1, sizeof d1), in->code);
    return nullptr;
  }
  if (!to->oldest)
    log(LOG_ERROR, kSrcRollover, "can't find first event on %s (today) for %s", ymd(to_date, d1, sizeof d1),
        in->code);
  ss_day *from = find_day(in, from_date);
  if (!from || date_of(from_date) == date_of(today(in))) {
    log(LOG_ERROR, kSrcRollover, "can't find %s (yesterday) for %s", ymd(from_date, d2, sizeof d2), in->code);
    return nullptr;
  }
  if (!from->events.oldest)
    log(LOG_ERROR, kSrcRollover, "can't find first event on %s (yesterday) for %s", ymd(from_date, d2, sizeof d2),
        in->code);
  depthwin_rollover_init();
  rollover_queue closing[2] = {}, opening[2] = {};
  for (const ss_event *e = from->events.oldest; e; e = e->newer) q_apply(closing, e);
  ss_event *last = nullptr;
  bool seen_add = false;
  for (ss_event *e = to->oldest; e; e = e->newer) {
    uint32_t k = e->kind;
    if (k == kEvDepthAdd || k == kEvDepthClear) {
      q_apply(opening, e);
      if (k == kEvDepthAdd) seen_add = true;
    } else if (k == kEvTradeCancel || k == kEvNews || k == kEvAlert || k == kEvTopOfBook) {
      // passed over
    } else if (k == kEvAuction) {
      last = e;
      break;
    } else if (seen_add) {
      break;
    }
    last = e;
  }
  ss_time midnight = date_of(to_date);
  ss_time rt = 0;
  for (const ss_event *e = to->oldest; e; e = e->newer) {
    ss_time et = ssevent_event_time(e);
    if (et > midnight) {
      rt = et;
      break;
    }
  }
  if (!rt) rt = ssmodel_day_start_for(int32_t(in->exchange->index), midnight);
  *time = rt;

  // The synthetic events, one record per kind, reused.
  ss_ev_depth_add add{};
  ss_ev_depth_amend amend{};
  ss_ev_depth_delete del{};
  ss_event ev{};
  auto emit = [&](uint32_t kind, void *payload) {
    ev.kind = kind;
    ev.payload = payload;
    ev.older = ev.newer = nullptr;
    apply(b, &ev);
  };
  for (uint32_t side = 0; side < 2; side++) {
    rollover_item *c = closing[side].first, *o = opening[side].first;
    uint32_t pos = 1;
    while (c && o) {
      if (c->price == o->price) {
        if (c->volume != o->volume) {
          amend = {o->time, side, pos, o->price, o->volume, c->volume};
          emit(kEvDepthAmend, &amend);
        }
        c = c->next;
        o = o->next;
        pos++;
      } else if ((side == 0 && c->price < o->price) || (side == 1 && c->price > o->price)) {
        add = {o->time, side, pos, 1, o->price, o->volume, 0};
        emit(kEvDepthAdd, &add);
        o = o->next;
        pos++;
      } else {
        del = {rt, side, pos, c->price, c->volume};
        emit(kEvDepthDelete, &del);
        c = c->next;
      }
    }
    for (; c; c = c->next) {
      del = {rt, side, pos, c->price, c->volume};
      emit(kEvDepthDelete, &del);
    }
    for (; o; o = o->next, pos++) {
      add = {o->time, side, pos, 1, o->price, o->volume, 0};
      emit(kEvDepthAdd, &add);
    }
  }
  if (last) {
    for (ss_event *e = to->oldest; e; e = e->newer) {
      if (e->kind < kEvDepthAdd || e->kind > kEvDepthClear) apply(b, e);
      if (e == last) break;
    }
  }
  for (int s = 0; s < 2; s++) {
    q_clear(&closing[s]);
    q_clear(&opening[s]);
  }
  return last;
}
