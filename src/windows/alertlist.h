// Alerts: the one process-wide list of price, volume and announcement
// alerts, one per instrument. Each alert watches its instrument (and a
// stock's issuer) through change registrations, records when each trigger
// fired, and posts what fired to the screens' alerts tickers through hooks
// the screen frame installs. The grids that show the list (alerts.h) are
// told of every change through the grid hooks. Main thread only (core lock
// held, as for every model read of the user-interface thread).
#pragma once

#include <cstdint>

#include "sstime.h"

struct instr;
struct ss_news;
struct wlist;

constexpr uint32_t kAlertNoPrice = 0xFFFFFFFFu;
constexpr uint64_t kAlertNoVolume = ~0ull;
constexpr float kAlertFar = 999999.0f;
constexpr uint32_t kAlertInstrMask = 0x183A97;  // instrument changes an alert hears
constexpr uint32_t kAlertIssuerMask = 0x80002;  // issuer changes an alert hears
constexpr uint32_t kAlertStateNewsDue = 141;     // a stock about to announce

// Trigger bits (set triggers and fired triggers alike).
enum : uint32_t {
  ALERT_LOW = 0x1,
  ALERT_HIGH = 0x2,
  ALERT_VOLUME = 0x4,
  ALERT_NEWS = 0x8,
  ALERT_NONE = 0x10,  // no trigger set
};

struct alert {
  instr *instrument;  // stock or index
  instr *issuer;      // a stock's issuer, or null
  uint32_t min_price, max_price;  // kAlertNoPrice: unset
  uint64_t min_volume;            // kAlertNoVolume: unset
  uint32_t news;                  // 1: trigger on a new announcement of the issuer
  uint32_t fresh;                 // a trigger fired since the user last saw it
  ss_time low_fired, high_fired, volume_fired, news_fired;  // 0: not fired
  ss_time time_reset;  // announcements after this fire the news trigger
  uint32_t seen_value;  // -1 at creation
  uint64_t seen_volume;
  uint32_t low_diff, high_diff;  // value minus trigger (-1 none)
  uint64_t volume_diff;
  float low_dist, high_dist, volume_dist;  // percent to the trigger; 0 once fired
  ss_news *fired_news;  // the announcement that fired the news trigger
  alert *next;
};

// What the alerts post to the screens and how they ask for a redraw; the
// screen frame installs them (null members: nothing is posted).
struct alerts_screen_hooks {
  int (*low)(instr *in, uint32_t price);
  int (*high)(instr *in, uint32_t price);
  int (*volume)(instr *in, uint64_t volume);
  int (*news)(instr *in, ss_news *item);
  int (*seen)(instr *in);
  void (*changed)(void);
};
void alerts_set_screen_hooks(const alerts_screen_hooks *hooks);
// Asks the screens for a redraw through the hooks.
void alerts_screens_changed(void);

// What the grids hear. added/removed: a row comes or goes; changed: an
// alert was evaluated or edited (fired_now: the trigger bits that fired in
// this evaluation); edited: the user changed a trigger.
struct alerts_grid_hooks {
  void (*added)(alert *a);
  void (*removed)(alert *a);
  void (*changed)(alert *a, uint32_t fired_now);
  void (*edited)(alert *a);
};
void alerts_set_grid_hooks(const alerts_grid_hooks *hooks);

// The default exchange: the user actions' unless a test installs its own.
void alerts_set_default_exchange_query(int32_t (*fn)(void));
int32_t alerts_default_exchange(void);

// Undo records of a user's change, inside the caller's group: the alert
// about to be removed (its six fields), or the alert just added.
void alerts_undo_removed(const alert *a);
void alerts_undo_added(const alert *a);

// Life: the pool; fini removes every alert.
int alerts_init(void);
void alerts_fini(void);

alert *alerts_first(void);
int32_t alerts_count(void);
alert *alerts_find(const instr *in);

// A new alert (none when the instrument already has one or isn't a stock or
// index). time_reset 0: the exchange's current time.
alert *alerts_set_alert(instr *in, uint32_t low, uint32_t high, uint64_t min_volume, uint32_t news,
                        ss_time time_reset);
int alerts_set_alert_rc(instr *in, uint32_t low, uint32_t high, uint64_t min_volume, uint32_t news,
                        ss_time time_reset);
// The default alert of the instrument: 0, or -1 when it has one already.
int alerts_add_default(instr *in);
// The default low and high triggers for a price basis (both kAlertNoPrice
// when the basis or the movement gives none).
void alerts_default_triggers(uint32_t basis, int32_t movement_pct, uint32_t *low, uint32_t *high);
// A default alert for every instrument of the watchlist, in one undo group
// (dropped when nothing was added); -1 for an unknown list.
int alerts_add_wlist(int32_t list_id);
// Unlinks the instrument's alert and drops its registrations; the caller
// frees it with alerts_free. Null when it has none.
alert *alerts_remove_alert(instr *in);
int alerts_remove_alert_rc(instr *in);
void alerts_free(alert *a);

// The trigger setters of one alert (the grid's current-row editing): an
// unchanged value does nothing (0); a change clears that trigger's fired
// state, marks the instrument's ticker items seen and evaluates afresh (1).
int alerts_change_min_price(alert *a, uint32_t v);
int alerts_change_max_price(alert *a, uint32_t v);
int alerts_change_min_volume(alert *a, uint64_t v);
int alerts_change_news(alert *a, uint32_t v);
// Clears all four fired times, time_reset to the exchange's now.
void alerts_reset(alert *a);

// Adding (add 1) or removing (add 0) by codes typed or pasted, one undo
// group for the text. The number of alerts added or removed.
int alerts_codes(const char *text, int add);
// The instrument a code names (see the .cpp for the order tried); null.
instr *alerts_lookup_code(const char *code);

// Evaluates one alert now (after creation and on every change).
void alerts_evaluate(alert *a);

// Settings saved with the list.
int32_t alerts_get_default_movement(void);
void alerts_set_default_movement(int32_t pct);
uint32_t alerts_get_default_news(void);
void alerts_set_default_news(uint32_t on);

// Filtering and order.
uint32_t alerts_triggers(const alert *a);
uint32_t alerts_fired_bits(const alert *a);
int alerts_passes(const alert *a, uint32_t fired_filter, uint32_t trigger_filter, uint32_t conjunctive);
// The nearness of the triggers selected by the filter (smaller is nearer).
float alerts_nearness(const alert *a, uint32_t trigger_filter);
// <0, 0, >0 as a sorts before b in the order (0 code, 1 nearness).
int alerts_compare(const alert *a, const alert *b, uint32_t order, uint32_t trigger_filter);

// Configuration: the "defaults" block and one "alert" block per alert.
void alerts_save(void);
int alerts_load(void);

// Tests and the test seam of the clock: true once any alert has fired.
int alerts_any_fired_alert(void);
