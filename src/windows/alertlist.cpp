// Alerts: the process-wide list of price, volume and announcement alerts,
// one per instrument, newest first. An alert is evaluated when it is made
// and on every change of its instrument or issuer; each trigger fires once
// (its fired time is set) until the user edits or resets it, and what fires
// is posted once to the screens' alerts tickers. Distances are kept in
// float and products in 64 bits, so large prices and volumes neither wrap
// nor divide by zero.
//
// Every alert is the owner of its own two change registrations: two stocks
// of one issuer each hear the issuer's announcements, and dropping one
// alert's registration leaves the other's.
#include "windows/alertlist.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "action.h"
#include "config/autosave.h"
#include "config/config.h"
#include "dalloc.h"
#include "lib/wlist.h"
#include "log.h"
#include "pool.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "undo.h"

static const char kSrc[] = "src/windows/alerts";
constexpr int kAlertsPerPage = 100;
constexpr int kCodeRun = 11;  // a run this long is not a code
constexpr int kConfigLevel = 2;

static struct {
  pool items;
  bool ready;
  alert *first;
  int32_t count;
  int32_t movement_pct;
  uint32_t default_news;
  alerts_screen_hooks screen;
  alerts_grid_hooks grid;
  int32_t (*default_exchange)(void);
} A = {{}, false, nullptr, 0, 5, 0, {}, {}, nullptr};

// ---- undo ----
// The alert types' records: a removed alert keeps its six fields and is
// made again; an added alert keeps its instrument and is removed again.

static void *save_fields(void *args) {
  auto *copy = static_cast<undo_alert_args *>(dalloc_alloc(sizeof(undo_alert_args)));
  *copy = *static_cast<const undo_alert_args *>(args);
  return copy;
}

static int restore_fields(void *saved, void *) {
  const auto *f = static_cast<const undo_alert_args *>(saved);
  return alerts_set_alert_rc(f->instrument, uint32_t(f->low), uint32_t(f->high), f->min_volume, f->news,
                             f->time_reset);
}

static void *save_added(void *object) {
  auto *copy = static_cast<instr **>(dalloc_alloc(sizeof(instr *)));
  *copy = static_cast<const alert *>(object)->instrument;
  return copy;
}

static int restore_added(void *saved, void *) { return alerts_remove_alert_rc(*static_cast<instr **>(saved)); }

static void release_copy(void *saved, int) { dalloc_free(saved); }

static const undo_record_ops kRemovedOps = {save_fields, restore_fields, release_copy};
static const undo_record_ops kAddedOps = {save_added, restore_added, release_copy};

void alerts_undo_removed(const alert *a) {
  if (!a) return;
  undo_alert_args f{a->instrument, int32_t(a->min_price), int32_t(a->max_price), a->min_volume, a->news,
                    a->time_reset};
  undo_push_alert(&f);
}

void alerts_undo_added(const alert *a) {
  if (a) undo_push_alert_added(const_cast<alert *>(a));
}

// ---- helpers ----

static ss_time exchange_now(const instr *in) { return ssmodel_exchange_now(in ? in->exchange : nullptr); }

static bool has_value(uint32_t v) { return v != 0 && v != kAlertNoPrice; }

static void config_changed() { config_set_dirty(kConfigLevel); }

void alerts_screens_changed(void) {
  if (A.screen.changed) A.screen.changed();
}

static void mark_seen(instr *in) {
  if (A.screen.seen) A.screen.seen(in);
}

static void on_change(const ss_change *change, void *owner, uint64_t, uint32_t);

static void watch(alert *a) {
  ssnotify_add(a->instrument, kAlertInstrMask, on_change, a, 0, 0);
  if (a->issuer) ssnotify_add(a->issuer, kAlertIssuerMask, on_change, a, 0, 0);
}

static void unwatch(alert *a) {
  ssnotify_remove(a->instrument, a);
  if (a->issuer) ssnotify_remove(a->issuer, a);
}

// ---- life ----

void alerts_set_screen_hooks(const alerts_screen_hooks *hooks) { A.screen = hooks ? *hooks : alerts_screen_hooks{}; }
void alerts_set_grid_hooks(const alerts_grid_hooks *hooks) { A.grid = hooks ? *hooks : alerts_grid_hooks{}; }
void alerts_set_default_exchange_query(int32_t (*fn)(void)) { A.default_exchange = fn; }
int32_t alerts_default_exchange(void) {
  int32_t def = A.default_exchange ? A.default_exchange() : int32_t(action_default_exchange());
  return def >= 0 && def < kExchanges ? def : 0;
}

int alerts_init(void) {
  if (A.ready) return 0;
  if (pool_init(&A.items, kAlertsPerPage, sizeof(alert)) < 0) return -1;
  A.ready = true;
  undo_register_type(UNDO_ALERT, &kRemovedOps);
  undo_register_type(UNDO_ALERT_ADDED, &kAddedOps);
  A.first = nullptr;
  A.count = 0;
  return 0;
}

void alerts_fini(void) {
  if (!A.ready) return;
  while (A.first) {
    alert *a = A.first;
    A.first = a->next;
    if (A.grid.removed) A.grid.removed(a);
    unwatch(a);
  }
  A.count = 0;
  pool_destroy(&A.items);
  A.ready = false;
}

alert *alerts_first(void) { return A.first; }
int32_t alerts_count(void) { return A.count; }

alert *alerts_find(const instr *in) {
  for (alert *a = A.first; a; a = a->next)
    if (a->instrument == in) return a;
  return nullptr;
}

// ---- making and removing ----

alert *alerts_set_alert(instr *in, uint32_t low, uint32_t high, uint64_t min_volume, uint32_t news,
                        ss_time time_reset) {
  if (!in || (in->kind != kKindStock && in->kind != kKindIndex) || alerts_find(in)) return nullptr;
  if (!A.ready && alerts_init() < 0) return nullptr;
  alert *a = static_cast<alert *>(pool_alloc(&A.items));
  if (!a) return nullptr;
  *a = alert{};
  a->instrument = in;
  if (in->kind == kKindStock) {
    const ss_stock *s = static_cast<const ss_stock *>(in);
    a->issuer = ssmodel_find_issuer(in->exchange, s->issuer[0] ? s->issuer : in->code);
  }
  a->min_price = low;
  a->max_price = high;
  a->min_volume = min_volume;
  a->news = news ? 1 : 0;
  a->time_reset = time_reset ? time_reset : exchange_now(in);
  a->seen_value = kAlertNoPrice;
  a->seen_volume = 0;
  a->low_diff = a->high_diff = kAlertNoPrice;
  a->volume_diff = kAlertNoVolume;
  a->low_dist = a->high_dist = a->volume_dist = kAlertFar;
  a->next = A.first;
  A.first = a;
  A.count++;
  if (A.grid.added) A.grid.added(a);
  watch(a);
  alerts_evaluate(a);
  config_changed();
  return a;
}

int alerts_set_alert_rc(instr *in, uint32_t low, uint32_t high, uint64_t min_volume, uint32_t news,
                        ss_time time_reset) {
  return alerts_set_alert(in, low, high, min_volume, news, time_reset) ? 0 : -1;
}

void alerts_default_triggers(uint32_t basis, int32_t movement_pct, uint32_t *low, uint32_t *high) {
  *low = *high = kAlertNoPrice;
  if (movement_pct < 1 || !has_value(basis)) return;
  const uint64_t v = uint64_t(uint32_t(movement_pct)) * basis;
  uint64_t delta;
  if (v < 1100)
    delta = 10;
  else if (v < 10100)
    delta = (v / 100 + 5) / 10 * 10;
  else
    delta = (v / 100 + 50) / 100 * 100;
  // A basis at or below the delta has no low trigger: basis - delta would
  // wrap into a huge price that every value lies under.
  if (basis > delta) *low = uint32_t(basis - delta);
  if (uint64_t(basis) + delta < kAlertNoPrice) *high = uint32_t(basis + delta);
}

static uint32_t price_basis(const instr *in) {
  if (in->kind == kKindIndex) return static_cast<const ss_index *>(in)->value;
  const ss_stock *s = static_cast<const ss_stock *>(in);
  return has_value(s->last) ? s->last : s->close;
}

int alerts_add_default(instr *in) {
  if (!in) return -1;
  uint32_t low, high;
  alerts_default_triggers(price_basis(in), A.movement_pct, &low, &high);
  return alerts_set_alert(in, low, high, kAlertNoVolume, A.default_news, 0) ? 0 : -1;
}

int alerts_add_wlist(int32_t list_id) {
  wlist *wl = wlist_find(list_id);
  if (!wl) {
    log(LOG_ERROR, kSrc, "can't find wlist %d", list_id);
    return -1;
  }
  undo_begin();
  int added = 0;
  for (int32_t i = 0; i < wlist_count(wl); i++) {
    instr *in = wlist_item_at(wl, i);
    if (in && alerts_add_default(in) == 0) {
      alerts_undo_added(alerts_find(in));
      added++;
    }
  }
  undo_end();  // a group with nothing in it leaves no trace
  return 0;
}

alert *alerts_remove_alert(instr *in) {
  alert **link = &A.first;
  while (*link && (*link)->instrument != in) link = &(*link)->next;
  alert *a = *link;
  if (!a) return nullptr;
  *link = a->next;
  a->next = nullptr;
  A.count--;
  unwatch(a);
  if (A.grid.removed) A.grid.removed(a);
  config_changed();
  return a;
}

void alerts_free(alert *a) {
  if (a && A.ready) pool_free(&A.items, a);
}

int alerts_remove_alert_rc(instr *in) {
  alert *a = alerts_remove_alert(in);
  if (!a) return -1;
  alerts_free(a);
  return 0;
}

// ---- editing ----

static void edited(alert *a) {
  a->fresh = 0;
  mark_seen(a->instrument);
  a->seen_value = kAlertNoPrice;
  a->seen_volume = 0;
  if (A.grid.edited) A.grid.edited(a);
  alerts_evaluate(a);
  config_changed();
}

int alerts_change_min_price(alert *a, uint32_t v) {
  if (!a || a->min_price == v) return 0;
  a->min_price = v;
  a->low_fired = 0;
  a->low_diff = kAlertNoPrice;
  a->low_dist = kAlertFar;
  edited(a);
  return 1;
}

int alerts_change_max_price(alert *a, uint32_t v) {
  if (!a || a->max_price == v) return 0;
  a->max_price = v;
  a->high_fired = 0;
  a->high_diff = kAlertNoPrice;
  a->high_dist = kAlertFar;
  edited(a);
  return 1;
}

int alerts_change_min_volume(alert *a, uint64_t v) {
  if (!a || a->min_volume == v) return 0;
  a->min_volume = v;
  a->volume_fired = 0;
  a->volume_diff = kAlertNoVolume;
  a->volume_dist = kAlertFar;
  edited(a);
  return 1;
}

int alerts_change_news(alert *a, uint32_t v) {
  v = v ? 1 : 0;
  if (!a || a->news == v) return 0;
  a->news = v;
  a->news_fired = 0;
  a->fired_news = nullptr;
  a->time_reset = exchange_now(a->instrument);
  edited(a);
  return 1;
}

void alerts_reset(alert *a) {
  if (!a) return;
  a->low_fired = a->high_fired = a->volume_fired = a->news_fired = 0;
  a->fired_news = nullptr;
  a->time_reset = exchange_now(a->instrument);
  edited(a);
}

// ---- evaluation ----

// The distance in percent from value to trigger, in float: the product of
// a difference and 100 passes 32 bits for large prices and volumes.
static float distance(uint64_t diff, uint64_t value) { return value ? float(double(diff) * 100.0 / double(value)) : kAlertFar; }

// One price trigger: fires when the value has reached it, else keeps the
// difference and distance. Returns 1 when it fired now.
static int price_trigger(uint32_t value, uint32_t trigger, bool low, ss_time when, ss_time *fired,
                         uint32_t *diff, float *dist) {
  if (trigger == kAlertNoPrice || *fired) return 0;
  if (!has_value(value)) {
    *diff = kAlertNoPrice;
    *dist = kAlertFar;
    return 0;
  }
  if (low ? value <= trigger : value >= trigger) {
    *fired = when;
    *dist = 0;
    return 1;
  }
  uint32_t d = low ? value - trigger : trigger - value;
  if (d != *diff) {
    *diff = d;
    *dist = distance(d, value);
  }
  return 0;
}

static ss_news *latest_news(instr *issuer) {
  if (!issuer || issuer->kind != kKindIssuer) return nullptr;
  return static_cast<ss_issuer *>(issuer)->news.tail;
}

void alerts_evaluate(alert *a) {
  instr *in = a->instrument;
  uint32_t value;
  ss_time when;
  if (in->kind == kKindStock) {
    const ss_stock *s = static_cast<const ss_stock *>(in);
    value = s->last;
    when = s->last_trade_time;
  } else {
    const ss_index *x = static_cast<const ss_index *>(in);
    value = x->value;
    when = x->last_tick_time;
  }
  if ((when & kSstimeSecondsMask) == 0) when = exchange_now(in);
  uint32_t fired = 0;
  if (value != a->seen_value) {
    a->seen_value = value;
    if (price_trigger(value, a->min_price, true, when, &a->low_fired, &a->low_diff, &a->low_dist)) fired |= ALERT_LOW;
    if (price_trigger(value, a->max_price, false, when, &a->high_fired, &a->high_diff, &a->high_dist))
      fired |= ALERT_HIGH;
  }
  if (in->kind == kKindStock) {
    const ss_stock *s = static_cast<const ss_stock *>(in);
    if (s->volume != a->seen_volume) {
      a->seen_volume = s->volume;
      if (a->min_volume != kAlertNoVolume && !a->volume_fired) {
        if (s->volume >= a->min_volume) {
          a->volume_fired = when;
          a->volume_dist = 0;
          fired |= ALERT_VOLUME;
        } else {
          a->volume_diff = a->min_volume - s->volume;
          a->volume_dist = distance(a->volume_diff, s->volume);
        }
      }
    }
    ss_news *item = a->news && !a->news_fired ? latest_news(a->issuer) : nullptr;
    if (item && item->time > a->time_reset) {
      a->news_fired = item->time;
      a->fired_news = item;
      fired |= ALERT_NEWS;
    }
  }
  if (fired) {
    a->fresh = 1;
    alerts_screens_changed();
    if ((fired & ALERT_LOW) && A.screen.low) A.screen.low(in, value);
    if ((fired & ALERT_HIGH) && A.screen.high) A.screen.high(in, value);
    if ((fired & ALERT_VOLUME) && A.screen.volume) A.screen.volume(in, static_cast<const ss_stock *>(in)->volume);
    if ((fired & ALERT_NEWS) && A.screen.news) A.screen.news(in, a->fired_news);
  }
  if (A.grid.changed) A.grid.changed(a, fired);
}

static void on_change(const ss_change *, void *owner, uint64_t, uint32_t) {
  alerts_evaluate(static_cast<alert *>(owner));
}

// ---- codes ----

instr *alerts_lookup_code(const char *text) {
  char code[kCodeRun + 1];
  snprintf(code, sizeof code, "%s", text);
  int32_t only = -1;
  if (char *dot = strrchr(code, '.')) {
    int32_t ex = ssmodel_exchange_by_name(dot + 1);
    if (ex >= 0) {
      only = ex;
      *dot = 0;
    }
  }
  int32_t order[kExchanges + 1], n = 0;
  if (only >= 0) {
    order[n++] = only;
  } else {
    int32_t def = alerts_default_exchange();
    order[n++] = def;
    for (int32_t i = 0; i < kExchanges; i++)
      if (i != def) order[n++] = i;
  }
  for (int32_t i = 0; i < n; i++) {
    ss_exchange *ex = ssmodel_exchange(order[i]);
    if (!ex) continue;
    if (ss_stock *s = ssmodel_find_stock(ex, code)) return s;
    if (ss_index *x = ssmodel_find_index(ex, code)) return x;
  }
  return nullptr;
}

int alerts_codes(const char *text, int add) {
  if (!text) return 0;
  undo_begin();
  int changed = 0;
  char run[kCodeRun + 1];
  int32_t len = 0;
  bool too_long = false;
  auto finish = [&]() {
    if (len > 0 && !too_long) {
      run[len] = 0;
      if (instr *in = alerts_lookup_code(run)) {
        if (add) {
          if (alerts_add_default(in) == 0) {
            alerts_undo_added(alerts_find(in));
            changed++;
          }
        } else if (alert *a = alerts_remove_alert(in)) {
          alerts_undo_removed(a);
          alerts_free(a);
          changed++;
        }
      }
    }
    len = 0;
    too_long = false;
  };
  for (const char *p = text;; p++) {
    unsigned char c = static_cast<unsigned char>(*p);
    bool part = isalnum(c) || c == '.' || (c == '_' && len > 0);
    if (!part) {
      finish();
      if (!c) break;
      continue;
    }
    if (len >= kCodeRun - 1) {
      too_long = true;  // a run of 11 or more characters is no code
      continue;
    }
    run[len++] = static_cast<char>(toupper(c));
  }
  undo_end();  // a group with nothing in it leaves no trace
  return changed;
}

// ---- settings ----

int32_t alerts_get_default_movement(void) { return A.movement_pct; }
void alerts_set_default_movement(int32_t pct) {
  if (A.movement_pct == pct) return;
  A.movement_pct = pct;
  config_changed();
}
uint32_t alerts_get_default_news(void) { return A.default_news; }
void alerts_set_default_news(uint32_t on) {
  on = on ? 1 : 0;
  if (A.default_news == on) return;
  A.default_news = on;
  config_changed();
}

// ---- filtering and order ----

uint32_t alerts_triggers(const alert *a) {
  uint32_t t = 0;
  if (a->min_price != kAlertNoPrice) t |= ALERT_LOW;
  if (a->max_price != kAlertNoPrice) t |= ALERT_HIGH;
  if (a->min_volume != kAlertNoVolume) t |= ALERT_VOLUME;
  if (a->news) t |= ALERT_NEWS;
  return t ? t : ALERT_NONE;
}

uint32_t alerts_fired_bits(const alert *a) {
  uint32_t f = 0;
  if (a->low_fired) f |= ALERT_LOW;
  if (a->high_fired) f |= ALERT_HIGH;
  if (a->volume_fired) f |= ALERT_VOLUME;
  if (a->news_fired) f |= ALERT_NEWS;
  return f;
}

int alerts_passes(const alert *a, uint32_t fired_filter, uint32_t trigger_filter, uint32_t conjunctive) {
  const uint32_t t = alerts_triggers(a), f = alerts_fired_bits(a);
  switch (fired_filter) {
    case 1: if (f != t) return 0; break;
    case 2: if (!f) return 0; break;
    case 3: if (f) return 0; break;
    default: break;
  }
  return conjunctive ? t == trigger_filter : (t & trigger_filter) != 0;
}

float alerts_nearness(const alert *a, uint32_t trigger_filter) {
  float best = kAlertFar;
  auto take = [&](float d) {
    if (d < best) best = d;
  };
  if (trigger_filter & ALERT_LOW) take(a->low_dist);
  if (trigger_filter & ALERT_HIGH) take(a->high_dist);
  if (trigger_filter & ALERT_VOLUME) take(a->volume_dist);
  if (trigger_filter & ALERT_NEWS) {
    if (a->news_fired)
      take(0);
    else if (a->news && a->instrument->kind == kKindStock &&
             static_cast<const ss_stock *>(a->instrument)->state == kAlertStateNewsDue)
      take(1.0f);
  }
  return best;
}

static ss_time earliest_fired(const alert *a, uint32_t trigger_filter) {
  const ss_time never = sstime_pack_date(1, 1, 2033);
  ss_time t = never;
  auto take = [&](uint32_t bit, ss_time when) {
    if ((trigger_filter & bit) && when && when < t) t = when;
  };
  take(ALERT_LOW, a->low_fired);
  take(ALERT_HIGH, a->high_fired);
  take(ALERT_VOLUME, a->volume_fired);
  take(ALERT_NEWS, a->news_fired);
  return t;
}

int alerts_compare(const alert *a, const alert *b, uint32_t order, uint32_t trigger_filter) {
  if (order == 1) {
    float x = alerts_nearness(a, trigger_filter), y = alerts_nearness(b, trigger_filter);
    if (x != y) return x < y ? -1 : 1;
    ss_time s = earliest_fired(a, trigger_filter), t = earliest_fired(b, trigger_filter);
    if (s != t) return s < t ? -1 : 1;
  }
  int c = strcmp(a->instrument->code, b->instrument->code);
  if (c) return c;
  uint32_t ea = a->instrument->exchange ? a->instrument->exchange->index : 0;
  uint32_t eb = b->instrument->exchange ? b->instrument->exchange->index : 0;
  return ea < eb ? -1 : ea > eb;
}

int alerts_any_fired_alert(void) {
  for (alert *a = A.first; a; a = a->next)
    if (alerts_fired_bits(a)) return 1;
  return 0;
}

// ---- configuration ----

void alerts_save(void) {
  config_printf("defaults.movement_pct %d", A.movement_pct);
  config_printf("defaults.news %b", A.default_news);
  // Oldest first, so that loading (which pushes each to the front) keeps
  // the order.
  std::vector<const alert *> all;
  for (const alert *a = A.first; a; a = a->next) all.push_back(a);
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    const alert *a = *it;
    config_printf("alert");
    config_out_push("alert");
    config_printf("instr %I", a->instrument);
    config_printf("min_price %d", int32_t(a->min_price));
    config_printf("max_price %d", int32_t(a->max_price));
    config_printf("min_volume %Lu", static_cast<unsigned long long>(a->min_volume));
    config_printf("news %b", a->news);
    config_printf("time_reset %T", a->time_reset);
    config_out_pop();
  }
}

int alerts_load(void) {
  if (config_enter("defaults")) {
    while (config_next()) {
      int32_t pct = config_get_int("movement_pct");
      if (config_found()) A.movement_pct = pct;
      int news = config_get_bool("news");
      if (config_found()) A.default_news = news ? 1 : 0;
    }
    config_leave();
  }
  int made = 0;
  if (config_enter("alert")) {
    while (config_next()) {
      instr *in = config_get_instr("instr");
      if (!in) continue;
      uint32_t low = uint32_t(config_get_int("min_price"));
      uint32_t high = uint32_t(config_get_int("max_price"));
      uint64_t vol = config_get_u64("min_volume");
      if (!config_found()) vol = kAlertNoVolume;
      uint32_t news = config_get_bool("news") ? 1 : 0;
      ss_time reset = config_get_timestamp("time_reset");
      if (alerts_set_alert(in, low, high, vol, news, reset)) made++;
    }
    config_leave();
  }
  return made;
}
