// Fades. Running fades hang in one list of states from a pool; the fade
// timer (interval 0: every pass of the frame loop) walks a snapshot of that
// list, because an owner's callback may start, stop or restart any fade,
// including ones later in the same tick; a released state clears its slot
// in the snapshot (its `mark`). Owners' running counts are recounted on
// every tick rather than kept exact, so a stop never has to find an owner.
// Only owners that may have a count above 0 are kept in a short list (the
// busy owners) for that recount: a screen holds hundreds of idle owners (one
// a window), and walking them all on every pass of the loop costs more than
// the fades themselves.
//
// Times are read from the gui's frame time (gui_time_ms), so every fade of
// one pass sees the same instant and tests move time through the platform
// clock. They are kept in double seconds: a float start time would lose
// hundredths once the clock has run for a few days.
#include "lib/fade.h"

#include <cmath>
#include <cstring>

#include "dalloc.h"
#include "lib/timer.h"
#include "log.h"
#include "pool.h"
#include "ui/gui.h"

static const char kSrc[] = "src/lib/fade";

struct fade_state {
  fade_value *value;
  int32_t range;  // -1 without
  double start;   // seconds
  int32_t start_h;
  double duration;
  float fdelta;
  int32_t idelta;
  fade_owner *owner;
  void *arg;
  uint32_t number;
  fade_state *prev, *next;
  int32_t mark;
  uint32_t kind;
};

namespace {

struct fade_range {
  uint32_t kind;
  float seconds;
  uint32_t count;
  int32_t from, to;  // as asked (the lookup key)
  uint32_t *values;  // count + 1
};

struct {
  bool ready;
  pool states;
  fade_state *head, *tail;
  int32_t running;
  fade_range *ranges;
  int32_t range_count, range_cap;
  fade_state **snap;
  int32_t snap_count, snap_cap;
  int32_t hold;
  int32_t timer;
  int32_t changed;
  fade_owner *owners;
  // Every owner whose running count may be above 0 (an owner may be listed
  // twice). When the list can't grow, the next tick walks every owner.
  fade_owner **busy;
  int32_t busy_count, busy_cap;
  bool busy_lost;
} F;

double now_seconds() { return (double)gui_time_ms() / 1000.0; }

// One more fade counted for o (null: none).
void count_owner(fade_owner *o) {
  if (!o) return;
  if (o->running++ != 0) return;
  if (F.busy_count == F.busy_cap) {
    int32_t cap = F.busy_cap + 64;
    void *p = dalloc_realloc(F.busy, cap * (int32_t)sizeof(fade_owner *));
    if (!p) {
      F.busy_lost = true;
      return;
    }
    F.busy = static_cast<fade_owner **>(p);
    F.busy_cap = cap;
  }
  F.busy[F.busy_count++] = o;
}

void owner_check(fade_value *v) {
  fade_state *s = v->state;
  if (s && s->value != v)
    log(LOG_ERROR, kSrc, "bad owner f=%p p->fade=%p f->state=%p p=%p", (void *)v,
        (void *)s->value, (void *)s, (void *)s);
}

void unmark(fade_state *s) {
  if (s->mark < 0) return;
  if (s->mark >= F.snap_count) {
    log(LOG_ERROR, kSrc, "bad mark %d (%d)", s->mark, F.snap_count);
  } else {
    F.snap[s->mark] = nullptr;
  }
  s->mark = -1;
}

void release(fade_state *s) {
  unmark(s);
  if (s->prev) s->prev->next = s->next; else F.head = s->next;
  if (s->next) s->next->prev = s->prev; else F.tail = s->prev;
  F.running--;
  if (s->value && s->value->state == s) s->value->state = nullptr;
  pool_free(&F.states, s);
}

void notify(fade_owner *o, fade_value *v, void *arg, uint32_t number) {
  if (o && o->callback && !gui_quitting()) o->callback(v, arg, number);
}

// The end of a fade: shown = new, released, the owner told.
void finish(fade_state *s) {
  fade_value *v = s->value;
  fade_owner *o = s->owner;
  void *arg = s->arg;
  uint32_t number = s->number;
  v->shown = v->to;
  release(s);
  notify(o, v, arg, number);
}

uint32_t table_entry(const fade_range &r, int32_t i) {
  if (i < 0) return r.values[0];
  if ((uint32_t)i >= r.count) return r.values[r.count];
  return r.values[i];
}

int tick(void *, uint32_t, int64_t, float) {
  double now = now_seconds();
  int32_t h = (int32_t)rint(now * 100);
  F.changed = 0;
  if (F.busy_lost) {
    for (fade_owner *o = F.owners; o; o = o->next) o->running = 0;
    F.busy_lost = false;
  }
  for (int32_t i = 0; i < F.busy_count; i++) F.busy[i]->running = 0;
  F.busy_count = 0;
  if (F.running > F.snap_cap) {
    int32_t cap = (F.running / kFadeGrowth + 1) * kFadeGrowth;
    void *p = dalloc_realloc(F.snap, cap * (int32_t)sizeof(fade_state *));
    if (!p) return 1;
    F.snap = static_cast<fade_state **>(p);
    F.snap_cap = cap;
  }
  F.snap_count = 0;
  for (fade_state *s = F.head; s; s = s->next) {
    s->mark = F.snap_count;
    F.snap[F.snap_count++] = s;
  }
  int changed = 0;
  for (int32_t k = 0; k < F.snap_count; k++) {
    fade_state *s = F.snap[k];
    if (!s) continue;
    count_owner(s->owner);
    fade_value *v = s->value;
    changed++;
    if (!v->state) {
      release(s);
      continue;
    }
    if (v->state != s) {
      log(LOG_ERROR, kSrc, "a fade has changed state");
      s->value = nullptr;
      release(s);
      v->state = nullptr;
      continue;
    }
    s->mark = -1;
    F.snap[k] = nullptr;
    if (now >= s->start + s->duration) {
      finish(s);
    } else if (s->kind == FADE_TABLE) {
      v->shown.c = table_entry(F.ranges[s->range], h - s->start_h);
    } else {
      double f = 1.0 - (now - s->start) / s->duration;
      if (s->kind == FADE_FLOAT)
        v->shown.f = v->to.f - (float)(f * f * s->fdelta);
      else
        v->shown.i = v->to.i - (int32_t)trunc(f * f * s->idelta);
    }
  }
  F.snap_count = 0;
  bool owners_busy = F.busy_lost;
  for (int32_t i = 0; i < F.busy_count && !owners_busy; i++)
    if (F.busy[i]->running) owners_busy = true;
  if (!changed && !owners_busy) {
    F.timer = -1;
    return 0;
  }
  F.changed = 1;
  gui_set_stack_mode(0, 0);
  return 1;
}

int32_t add_range(uint32_t kind, int32_t from, int32_t to, float seconds) {
  for (int32_t i = 0; i < F.range_count; i++) {
    const fade_range &r = F.ranges[i];
    if (r.kind == kind && r.seconds == seconds && r.from == from && r.to == to) return i;
  }
  if (F.range_count == F.range_cap) {
    int32_t cap = F.range_cap + kFadeGrowth;
    void *p = dalloc_realloc(F.ranges, cap * (int32_t)sizeof(fade_range));
    if (!p) {
      log(LOG_ERROR, kSrc, "can't alloc %d ranges", cap);
      return -1;
    }
    log(LOG_WARN, kSrc, "realloc ranges to %d", cap);
    F.ranges = static_cast<fade_range *>(p);
    F.range_cap = cap;
  }
  // A ramp shorter than a hundredth of a second is one step: the end value.
  uint32_t count = (uint32_t)ceil(100.0 * seconds);
  if (count < 1) count = 1;
  auto *values = static_cast<uint32_t *>(dalloc_alloc((int32_t)((count + 1) * sizeof(uint32_t))));
  for (uint32_t i = 0; i < count; i++) {
    int64_t n = (int64_t)i, d = count > 1 ? (int64_t)count - 1 : 1;
    if (count == 1) n = 1;
    if (kind == FADE_RAMP_INT) {
      values[i] = (uint32_t)(from + (int32_t)((n * ((int64_t)to - from)) / d));
    } else {
      uint32_t c = 0;
      for (int sh = 0; sh < 32; sh += 8) {
        int64_t a = ((uint32_t)from >> sh) & 0xff, b = ((uint32_t)to >> sh) & 0xff;
        c |= (uint32_t)(a + (n * (b - a)) / d) << sh;
      }
      values[i] = c;
    }
  }
  values[count] = values[count - 1];
  F.ranges[F.range_count] = {kind, seconds, count, from, to, values};
  return F.range_count++;
}

}  // namespace

int fade_init() {
  if (F.ready) fade_fini();
  memset(&F, 0, sizeof F);
  F.timer = -1;
  if (pool_init(&F.states, kFadeStatesPerPage, sizeof(fade_state)) != 0) return -1;
  F.ranges = static_cast<fade_range *>(dalloc_alloc(kFadeGrowth * (int32_t)sizeof(fade_range)));
  if (!F.ranges) {
    log(LOG_ERROR, kSrc, "can't alloc space for %d fade ranges", kFadeGrowth);
    return -1;
  }
  F.range_cap = kFadeGrowth;
  F.snap = static_cast<fade_state **>(dalloc_alloc(kFadeGrowth * (int32_t)sizeof(fade_state *)));
  if (!F.snap) {
    log(LOG_ERROR, kSrc, "can't alloc space for %d fade marks", kFadeGrowth);
    return -1;
  }
  F.snap_cap = kFadeGrowth;
  F.ready = true;
  return 0;
}

void fade_fini() {
  if (F.timer >= 0) timer_stop(F.timer);
  for (int32_t i = 0; i < F.range_count; i++) dalloc_free(F.ranges[i].values);
  if (F.ranges) dalloc_free(F.ranges);
  if (F.snap) dalloc_free(F.snap);
  if (F.busy) dalloc_free(F.busy);
  for (fade_state *s = F.head; s; s = s->next)
    if (s->value && s->value->state == s) s->value->state = nullptr;
  pool_destroy(&F.states);
  memset(&F, 0, sizeof F);
  F.timer = -1;
}

void fade_clear(fade_value *v) { memset(v, 0, sizeof *v); }

static void stop_quietly(fade_value *v) {
  if (!v->state) return;
  owner_check(v);
  fade_state *s = v->state;
  if (s->value == v) release(s);
  v->state = nullptr;
}

void fade_forget(fade_value *v) {
  if (!F.ready) {  // the fades are down: nothing of theirs is left to free
    v->state = nullptr;
    return;
  }
  stop_quietly(v);
}

void fade_set(fade_value *v, int32_t n) {
  stop_quietly(v);
  v->old.i = v->shown.i = v->to.i = n;
}
void fade_set_value(fade_value *v, int32_t n) { fade_set(v, n); }
void fade_set_float(fade_value *v, float f) {
  stop_quietly(v);
  v->old.f = v->shown.f = v->to.f = f;
}

int fade_start(fade_value *v, uint32_t kind, int32_t range, fade_owner *owner, void *arg,
               uint32_t number, float seconds) {
  if (range >= 0) {
    if (range >= F.range_count) {
      log(LOG_ERROR, kSrc, "bad fade range %d", range);
      return -1;
    }
    const fade_range &r = F.ranges[range];
    v->old.c = v->shown.c = r.values[0];
    v->to.c = r.values[r.count];
  }
  if (seconds <= 0 || F.hold != 0) {
    if (v->state && v->state->value == v) {
      fade_state *s = v->state;
      s->owner = owner;  // the newest request's owner is the one told
      s->arg = arg;
      s->number = number;
      finish(s);
    } else {
      v->state = nullptr;
      v->shown = v->to;
      notify(owner, v, arg, number);
    }
    return 0;
  }
  fade_state *s = v->state;
  if (s && s->value == v) {
    unmark(s);
  } else {
    s = static_cast<fade_state *>(pool_alloc(&F.states));
    if (!s) {
      log(LOG_ERROR, kSrc, "can't alloc state");
      return -1;
    }
    s->value = v;
    s->prev = nullptr;
    s->next = F.head;
    if (F.head) F.head->prev = s; else F.tail = s;
    F.head = s;
    F.running++;
    v->state = s;
  }
  double now = now_seconds();
  s->range = range;
  s->fdelta = v->to.f - v->old.f;
  s->idelta = v->to.i - v->old.i;
  if (kind == FADE_FLOAT) s->idelta = 0; else s->fdelta = 0;
  s->start = now;
  s->start_h = (int32_t)rint(now * 100);
  s->duration = seconds;
  s->owner = owner;
  s->arg = arg;
  s->number = number;
  s->mark = -1;
  s->kind = kind;
  if (F.timer < 0) {
    F.timer = timer_start(0, tick, nullptr, 0);
    if (F.timer < 0) {
      log(LOG_ERROR, kSrc, "can't start fade timer");
      return -1;
    }
  }
  count_owner(owner);
  return 0;
}

int fade_to(fade_value *v, int32_t from, int32_t to, fade_owner *owner, void *arg,
            uint32_t number, float seconds) {
  v->old.i = v->shown.i = from;
  v->to.i = to;
  return fade_start(v, FADE_INT, -1, owner, arg, number, seconds);
}

int fade_to_float(fade_value *v, fade_owner *owner, void *arg, uint32_t number, float from,
                  float to, float seconds) {
  v->old.f = v->shown.f = from;
  v->to.f = to;
  return fade_start(v, FADE_FLOAT, -1, owner, arg, number, seconds);
}

int fade_to_floats(fade_value *v, fade_owner *owner, void *arg, uint32_t number, float from,
                   float to, float seconds) {
  return fade_to_float(v, owner, arg, number, from, to, seconds);
}

int fade_start_style(fade_value *v, int32_t range, fade_owner *owner, void *arg,
                     uint32_t number) {
  if (range < 0 || range >= F.range_count) {
    log(LOG_ERROR, kSrc, "bad fade range %d", range);
    return -1;
  }
  return fade_start(v, FADE_TABLE, range, owner, arg, number, F.ranges[range].seconds);
}

int fade_restart_style(fade_value *v, int32_t range, fade_owner *owner, void *arg,
                       uint32_t number) {
  if (!v->state || v->state->value != v) return fade_start_style(v, range, owner, arg, number);
  double now = now_seconds();
  double elapsed = now - v->state->start;
  int rc = fade_start_style(v, range, owner, arg, number);
  if (rc != 0 || !v->state) return rc;
  double r = F.ranges[range].seconds - elapsed;
  if (r > 0) {
    fade_state *s = v->state;
    s->start -= r;
    s->start_h -= (int32_t)rint(r * 100);
    v->shown.c = table_entry(F.ranges[range], (int32_t)rint(now * 100) - s->start_h);
  }
  return 0;
}

int32_t fade_stop(fade_value *v) {
  if (gui_quitting()) return v->to.i;
  v->shown = v->to;
  stop_quietly(v);
  return v->to.i;
}

void fade_owner_add(fade_owner *o, fade_owner_fn callback) {
  o->running = 0;
  o->callback = callback;
  o->next = F.owners;
  F.owners = o;
}

void fade_stop_owner(fade_owner *o) {
  if (gui_quitting()) return;
  fade_state *s = F.head;
  while (s) {
    fade_state *next = s->next;
    if (s->owner == o) {
      if (s->value && s->value->state == s) s->value->shown = s->value->to;
      release(s);
    }
    s = next;
  }
  o->running = 0;
}

void fade_owner_remove(fade_owner *o) {
  fade_stop_owner(o);
  // While quitting the states stay, but must not name an owner that goes.
  for (fade_state *s = F.head; s; s = s->next)
    if (s->owner == o) s->owner = nullptr;
  for (fade_owner **p = &F.owners; *p; p = &(*p)->next)
    if (*p == o) {
      *p = o->next;
      break;
    }
  o->next = nullptr;
  // The busy list must not keep an owner that goes.
  int32_t n = 0;
  for (int32_t i = 0; i < F.busy_count; i++)
    if (F.busy[i] != o) F.busy[n++] = F.busy[i];
  F.busy_count = n;
}

int fade_percent_left(const fade_value *v) {
  const fade_state *s = v->state;
  if (!s || s->duration <= 0) return 0;
  return (int)(100.0 - (now_seconds() - s->start) * 100.0 / s->duration);
}

void fade_hold() { F.hold++; }
void fade_release() { F.hold--; }
int fade_hold_count() { return F.hold; }
int fade_changed_count() { return F.changed; }
int fade_timer_running() { return F.timer >= 0; }

int32_t fade_ramp(int32_t from, int32_t to, float seconds) {
  return add_range(FADE_RAMP_INT, from, to, seconds);
}
int32_t fade_colour_ramp(uint32_t from, uint32_t to, float seconds) {
  return add_range(FADE_RAMP_COLOUR, (int32_t)from, (int32_t)to, seconds);
}

uint32_t fade_ramp_count(int32_t range) {
  return range >= 0 && range < F.range_count ? F.ranges[range].count : 0;
}
const uint32_t *fade_ramp_values(int32_t range) {
  return range >= 0 && range < F.range_count ? F.ranges[range].values : nullptr;
}
