// The depth panel. The design decision a reader needs first: the panel keeps
// no replay state of its own; everything it shows is read back from the
// depth window's book (refresh), and every command goes through the linked
// change of the depth role, so one table of effects serves the clicked
// window and, with Shift, every other depth window of the desktop. Button
// ids repeat from section to section, so each section (replay, display,
// thickness, aggregate, age, chart range) has its own callback. The chart
// range buttons change only the panel's own chart and leave no undo step.
// The only values the panel remembers are what its two labels last showed,
// so the per-tick speed display writes a label only when its text changes.
#include "tools/depthtools.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "log.h"
#include "ssmodel.h"
#include "tools/panelkit.h"
#include "style.h"
#include "ui/box.h"
#include "ui/flyaway.h"
#include "ui/key.h"
#include "ui/label.h"
#include "ui/sizer.h"
#include "ui/spinner.h"
#include "undo.h"
#include "windows/depthbars.h"
#include "windows/depthwin.h"
#include "windows/nuchart.h"
#include "windows/window.h"

static const char kSrc[] = "depthtools";

// Class slots over the tools class: restyle, summary, refresh, build.
static void dt_restyle(widget *self);
static const char *dt_summary(tools *self);
static void dt_refresh(tools *self);
static widget *dt_build(tools *self);

static struct {
  object_type_cache type;
  std::string summary;  // the summary's scratch text
} S;

constexpr float kSpeedSteps[kDepthtoolsSpeedSteps] = {0.1f, 0.25f, 0.5f, 1,   2,   5,    10,  20,
                                                      30,   60,    120,  300, 600, 1800, 3600};
constexpr float kDelaySteps[kDepthtoolsDelaySteps] = {1.0f, 0.5f, 0.3333f, 0.25f, 0.2f, 0.1f};
constexpr int32_t kReplaySteps = 5;           // events a Forward or Back moves
constexpr int32_t kTimeFont = 5, kSpeedFont = 7;
constexpr int kLabelColour = 97;              // the labels' and the chart's background
constexpr int32_t kChartW = 200, kChartH = 56;

// Age split presets: kind and count; a count of 0 matches any count.
struct age_preset {
  uint32_t kind, count;
};
constexpr age_preset kAgePresets[14] = {{1, 0}, {2, 0}, {3, 0}, {4, 5}, {4, 15}, {4, 30}, {5, 1},
                                        {5, 2}, {5, 4}, {6, 1}, {6, 2}, {6, 5},  {6, 10}, {6, 15}};

static depthtools *as_dt(widget *w) { return static_cast<depthtools *>(w); }
static widget *depth_of(depthtools *p) {
  return p->owner && object_is_a(widget_obj(p->owner), depthwin_type()) ? p->owner : nullptr;
}

// ---- the pure parts -------------------------------------------------------------

float depthtools_faster_speedup(float v) {
  for (float s : kSpeedSteps)
    if (s > v) return s;
  return kSpeedSteps[kDepthtoolsSpeedSteps - 1];
}

float depthtools_slower_speedup(float v) {
  for (int i = kDepthtoolsSpeedSteps - 1; i >= 0; i--)
    if (kSpeedSteps[i] < v) return kSpeedSteps[i];
  return kSpeedSteps[0];
}

// The delays run from the longest (slowest) to the shortest.
float depthtools_faster_delay(float d) {
  for (float s : kDelaySteps)
    if (s < d) return s;
  return kDelaySteps[kDepthtoolsDelaySteps - 1];
}

float depthtools_slower_delay(float d) {
  for (int i = kDepthtoolsDelaySteps - 1; i >= 0; i--)
    if (kDelaySteps[i] > d) return kDelaySteps[i];
  return kDelaySteps[0];
}

uint32_t depthtools_toggle_bars(uint32_t mode) {
  if (mode & 1) return (mode & 2) ? 2 : mode;
  return mode | 1;
}

uint32_t depthtools_toggle_table(uint32_t mode) {
  if (mode & 2) return (mode & 1) ? 1 : mode;
  return mode | 2;
}

void depthtools_age_split(int32_t id, int32_t hhmm, uint32_t *kind, uint32_t *count) {
  if (id == 0) {
    *kind = 1;
    *count = uint32_t(hhmm);
  } else if (id >= 1 && id <= 13) {
    *kind = kAgePresets[id].kind;
    *count = kAgePresets[id].count ? kAgePresets[id].count : 1;
  } else {
    *kind = 0;
    *count = 1;
  }
}

int32_t depthtools_age_id(uint32_t kind, uint32_t count) {
  if (kind == 1) return 0;
  for (int32_t id = 1; id <= 13; id++)
    if (kAgePresets[id].kind == kind && (kAgePresets[id].count == 0 || kAgePresets[id].count == count)) return id;
  return -1;
}

// A fraction of `unit` written with the digits it needs: whole values
// bare, others with at least `min_places` places and no trailing zeros past
// them. The grouping of 15000 is "$1.50", of 50 "0.5" cents.
static std::string fraction(uint32_t v, uint32_t unit, int places, int min_places) {
  char b[48];
  uint32_t whole = v / unit, rest = v % unit;
  if (!rest) {
    snprintf(b, sizeof b, "%u", whole);
    return b;
  }
  snprintf(b, sizeof b, "%u.%0*u", whole, places, rest);
  std::string s = b;
  size_t point = s.find('.');
  while (s.size() > point + 1 + size_t(min_places) && s.back() == '0') s.pop_back();
  return s;
}

const char *depthtools_summary_of(uint32_t g) {
  std::string &o = S.summary;
  o.clear();
  if (g < 2) return "";
  // Groupings are in ten-thousandths of a dollar: a whole dollar and up as
  // dollars, below it as cents, each with its fraction (an integer division
  // would print "0 CENT" for 2 to 99 and "$1" for 15000).
  if (g >= 10000) o = ", IN $" + fraction(g, 10000, 4, 2) + " INTERVALS";
  else o = ", IN " + fraction(g, 100, 2, 1) + " CENT INTERVALS";
  return o.c_str() + 2;
}

// ---- the linked change ------------------------------------------------------------

static int push_depth(widget *content) { return undo_push_depthwin(content); }

// Collects the windows of the command and records them as one undo group.
static void link_group(depthtools *p) {
  tools_link_begin(p->owner, kRoleDepth);
  undo_begin();
  tools_link_push_undo(push_depth);
  undo_end();
}

static void set_marker(depthtools *p, ss_time t) {
  if (!p->chart) return;
  const chart_plot &pl = p->chart->plot;
  if (pl.marked.from == t && pl.marked.to == t) return;
  nuchart_set_marker_at(p->chart, t);
}

// The chart range command: option bits, range, open ends; the choice kept.
static void apply_range(depthtools *p, int32_t choice) {
  if (choice < 0 || choice > 3) return;
  p->chart_range = choice;
  nuchart *c = p->chart;
  if (!c) return;
  if (choice == 1) {
    nuchart_set_option_bits(c, 64);
    nuchart_clear_option_bits(c, 128);
  } else {
    nuchart_clear_option_bits(c, 64);
    nuchart_set_option_bits(c, 128);
  }
  if (choice == 3) nuchart_set_range(c, 6, 1);
  else nuchart_set_range(c, 5, choice == 2 ? 7 : 1);
  nuchart_set_times(c, -1, 0, 5, 0);
}

static void on_replay(button *b, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<depthtools *>(arg);
  int on = panelkit_is_on(b);
  link_group(p);
  if (id == 10) set_marker(p, 0);
  for (int32_t i = 0; i < tools_link_count(); i++) {
    widget *w = tools_link_content(i);
    depthwin_book *bk = depthwin_get_book(w);
    switch (id) {
      case 0:
        if (on) depthwin_mark_position(w);
        else depthwin_release_mark(w);
        break;
      case 1: depthwin_step_forward(w, kReplaySteps); break;
      case 2: depthwin_step_back(w, kReplaySteps); break;
      case 3:
        if (!bk->realtime) depthwin_set_delay(w, depthtools_faster_delay(bk->delay));
        else depthwin_set_speedup(w, depthtools_faster_speedup(bk->speedup));
        break;
      case 4:
        if (!bk->realtime) depthwin_set_delay(w, depthtools_slower_delay(bk->delay));
        else depthwin_set_speedup(w, depthtools_slower_speedup(bk->speedup));
        break;
      case 9: depthwin_set_non_realtime(w, on); break;
      case 10:
        depthwin_set_non_realtime(w, 0);
        depthwin_restart(w);
        break;
      default: break;
    }
  }
  tools_link_apply();
}

static void on_range(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<depthtools *>(arg);
  // Only the panel's own chart changes, so the range leaves no undo step.
  // No group is opened at all: opening one and cancelling it would drop the
  // user's previous step whenever nothing was recorded (an empty group
  // vanishes at its end, and during an undo nothing is pushed).
  tools_link_begin(p->owner, kRoleDepth);
  apply_range(p, id - 5);
  tools_link_apply();
}

static void on_display(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<depthtools *>(arg);
  widget *own = depth_of(p);
  if (!own) return;
  // Show Age and Show Trades follow the panel's own window, so a Shift
  // click leaves every window alike.
  uint32_t age = !depthwin_get_show_age(own), trades = !depthwin_get_show_trades(own);
  link_group(p);
  for (int32_t i = 0; i < tools_link_count(); i++) {
    widget *w = tools_link_content(i);
    switch (id) {
      case 0: depthwin_set_show_age(w, age); break;
      case 1: depthwin_set_show_trades(w, trades); break;
      case 2: depthwin_set_show_mode(w, depthtools_toggle_bars(depthwin_get_show_mode(w))); break;
      case 3: depthwin_set_show_mode(w, depthtools_toggle_table(depthwin_get_show_mode(w))); break;
      default: break;
    }
  }
  tools_link_apply();
}

static void on_thickness(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  link_group(static_cast<depthtools *>(arg));
  for (int32_t i = 0; i < tools_link_count(); i++) {
    depthwin_child *bars = depthwin_get_child(tools_link_content(i), 1);
    if (bars) depthbars_set_thickness(bars, id);
  }
  tools_link_apply();
}

static void on_aggregate(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  link_group(static_cast<depthtools *>(arg));
  for (int32_t i = 0; i < tools_link_count(); i++) depthwin_set_group_by(tools_link_content(i), id);
  tools_link_apply();
}

static void apply_age(depthtools *p, int32_t id) {
  uint32_t kind, count;
  depthtools_age_split(id, p->age_time ? time_spinner_value(p->age_time) : kDepthtoolsAgeStart, &kind, &count);
  link_group(p);
  for (int32_t i = 0; i < tools_link_count(); i++) {
    widget *w = tools_link_content(i);
    depthwin_set_age_split(w, 0, kind, count);
    depthwin_set_show_age(w, 1);
  }
  tools_link_apply();
}

static void on_age(button *, uint32_t state, void *arg, int32_t id) {
  if (panelkit_is_click(state)) apply_age(static_cast<depthtools *>(arg), id);
}

static void on_age_time(time_spinner *, void *arg, int32_t) {
  auto *p = static_cast<depthtools *>(arg);
  button_group_select(&p->age_group, 0);
  apply_age(p, 0);
}

static void on_chart(nuchart *, ss_time t, void *arg, int) {
  if (!t) return;
  auto *p = static_cast<depthtools *>(arg);
  int shift = (key_modifiers() & KEY_MOD_SHIFT) ? 1 : 0;
  link_group(p);
  for (int32_t i = 0; i < tools_link_count(); i++) depthwin_play_to_live(tools_link_content(i), t, 1, shift);
  set_marker(p, t);
  tools_link_apply();
}

// ---- build ------------------------------------------------------------------------

namespace {

uint32_t label_bg() {
  const style *st = style_cur();
  return st ? style_colour(st, kLabelColour) | 0xff000000u : 0xff202020u;
}

// The labels' fonts and background from the visual style.
void style_labels(depthtools *p) {
  const style *st = style_cur();
  if (!st) return;
  if (p->time_label) {
    label_set_font(p->time_label, st->font[kTimeFont]);
    label_set_bg(p->time_label, label_bg());
  }
  if (p->speed_label) {
    label_set_font(p->speed_label, st->font[kSpeedFont]);
    label_set_bg(p->speed_label, label_bg());
  }
}

}  // namespace

static widget *dt_build(tools *self) {
  depthtools *p = as_dt(self);
  panelkit k;
  p->box = panelkit_begin(&k, p);
  // A two-state button: its first text while on, the second while off.
  const auto two_state = [&](const char *on, const char *off, int32_t id, button_fn fn) {
    return panelkit_two_state(&k, nullptr, on, off, id, fn);
  };
  button_group_init(&p->range_group);
  button_group_init(&p->thickness_group);
  button_group_init(&p->aggregate_group);
  button_group_init(&p->age_group);

  // The replay chart first, without a parent: a day of the instrument as a
  // step line with volume and news, its end now.
  const int32_t overlays[] = {9, kNuchartNewsOverlay, 1};
  p->chart = tools_day_chart(label_bg(), overlays, 3, kDepthtoolsChartOptions, on_chart, p);

  p->section[DEPTHTOOLS_REPLAY] = panelkit_section(&k, "Replay");
  p->pause = panelkit_button(&k, "Pause", 0, nullptr, BUTTON_TOGGLE, on_replay);
  p->faster = panelkit_button(&k, "Faster", 3, nullptr, 0, on_replay);
  p->forward = panelkit_button(&k, "Forward", 1, nullptr, 0, on_replay);
  p->slower = panelkit_button(&k, "Slower", 4, nullptr, 0, on_replay);
  p->back = panelkit_button(&k, "Back", 2, nullptr, 0, on_replay);
  p->live = panelkit_button(&k, "Live", 10, nullptr, BUTTON_TOGGLE, on_replay);
  {
    const style *st = style_cur();
    padding pad;
    padding_set(&pad, 1, 3, 1, 3);
    p->speed_label = label_new(panelkit_slot(&k), "x3600", 0, st ? st->font[kSpeedFont] : 0, label_bg(), 0xffffffffu, &pad);
    p->time_label = label_new(panelkit_slot(&k), "12:34:56", 0, st ? st->font[kTimeFont] : 0, label_bg(), 0xffffffffu, &pad);
  }
  p->mode = two_state("By Event", "By Time", 9, on_replay);
  if (p->chart) {
    size fixed{kChartW, kChartH};
    sizer *sz = sizer_new(k.row, SIZER_FILL_W | SIZER_FILL_H, &fixed, nullptr, 0.0f);
    if (sz) container_cls(sz)->add(sz, p->chart);
    k.col = nullptr;
  }
  panelkit_button(&k, "Today", 5, &p->range_group, 0, on_range);
  panelkit_button(&k, "All day", 6, &p->range_group, 0, on_range);
  panelkit_button(&k, "Week", 7, &p->range_group, 0, on_range);
  panelkit_button(&k, "Month", 8, &p->range_group, 0, on_range);

  p->section[DEPTHTOOLS_DISPLAY] = panelkit_section(&k, "Display");
  p->show_trades = two_state("Show Trades", "Hide Trades", 1, on_display);
  p->show_bars = two_state("Show Bars", "Hide Bars", 2, on_display);
  p->show_table = two_state("Show Table", "Hide Table", 3, on_display);
  p->show_age = two_state("Show Age", "Hide Age", 0, on_display);
  panelkit_button(&k, "Thinest", 3, &p->thickness_group, 0, on_thickness);
  panelkit_button(&k, "Thin", 5, &p->thickness_group, 0, on_thickness);
  panelkit_button(&k, "Normal", 7, &p->thickness_group, 0, on_thickness);
  panelkit_button(&k, "Thick", 9, &p->thickness_group, 0, on_thickness);

  p->section[DEPTHTOOLS_AGGREGATE] = panelkit_section(&k, "Aggregate");
  struct { const char *t; int32_t id; } aggregates[] = {{"None", 0},       {"Auto", -1},     {"1 cent", 100},
                                                        {"5 cents", 500},  {"10 cent", 1000}, {"20 cent", 2000},
                                                        {"50 cent", 5000}, {"1 dollar", 10000}};
  for (auto &a : aggregates) panelkit_button(&k, a.t, a.id, &p->aggregate_group, 0, on_aggregate);

  p->section[DEPTHTOOLS_AGE] = panelkit_section(&k, "Age");
  panelkit_button(&k, "Custom", 0, &p->age_group, 0, on_age);
  p->age_time = time_spinner_new(panelkit_slot(&k), "", kDepthtoolsAgeStart, kDepthtoolsAgeMin, kDepthtoolsAgeMax, nullptr,
                                 nullptr, on_age_time, p, 0);
  struct { const char *t; int32_t id; } ages[] = {{"5 Mins", 3}, {"15", 4}, {"30", 5},    {"1 Hour", 6}, {"2", 7},
                                                  {"4", 8},      {"1 Day", 9}, {"2", 10}, {"5", 11}};
  for (auto &a : ages) panelkit_button(&k, a.t, a.id, &p->age_group, 0, on_age);

  // The labels keep the width of their sizing texts and start empty.
  for (label *l : {p->speed_label, p->time_label}) {
    if (!l) continue;
    label_remember_size(l);
    label_set_text(l, "");
  }
  style_labels(p);
  fbox_set_flyaway_weight(p->box, p->section[DEPTHTOOLS_REPLAY], 1);
  fbox_touch_flyaway(p->box, p->section[DEPTHTOOLS_REPLAY]);
  if (p->live) button_set_active(p->live, 1);
  // "All day" is what the chart starts with (option bit 64, one day), so
  // the remembered choice starts there too: a choice of "Today" copied or
  // restored into a new panel must not be taken as already in force.
  button_group_select(&p->range_group, 6);
  p->chart_range = 1;
  return p->box;
}

// ---- the speed display --------------------------------------------------------------

void depthtools_show_speed(widget *panel) {
  if (!depthtools_is(panel)) return;
  depthtools *p = as_dt(panel);
  widget *w = depth_of(p);
  if (!w || !p->time_label || !p->speed_label) return;
  const depthwin_book *b = depthwin_get_book(w);
  if (depthwin_is_replaying(w)) {
    if (b->position != p->shown_time) {
      uint32_t s = b->position & kSstimeSecondsMask;
      label_printf(p->time_label, "%2d:%02d:%02d", int(s / 3600), int(s / 60 % 60), int(s % 60));
      p->shown_time = b->position;
    }
    if (!b->realtime) {
      if (p->shown_speed != -1 || p->shown_delay != b->delay) {
        label_printf(p->speed_label, "%.0f/s", b->delay > 0 ? 1.0 / double(b->delay) : 0.0);
        p->shown_delay = b->delay;
      }
      p->shown_speed = -1;
    } else if (b->speedup != p->shown_speed) {
      label_printf(p->speed_label, "%.*fx", b->speedup < 1 ? 1 : 0, double(b->speedup));
      p->shown_speed = b->speedup;
    }
    set_marker(p, b->position);
    return;
  }
  if (p->shown_speed == 0) return;
  label_set_text(p->time_label, "");
  label_set_text(p->speed_label, "");
  p->shown_time = 0;
  if (p->live) button_set_active(p->live, 1);
  set_marker(p, 0);
  p->shown_speed = 0;
  dt_refresh(p);
}

// ---- the chart and the window's services -------------------------------------------

int depthtools_rebind_chart(widget *panel) {
  if (!depthtools_is(panel)) return -1;
  depthtools *p = as_dt(panel);
  widget *w = depth_of(p);
  if (p->chart) {
    instr *in = w ? depthwin_get_book(w)->instrument : nullptr;
    if (in) nuchart_bind(p->chart, in);
    else nuchart_unbind(p->chart);
  }
  dt_refresh(p);
  return 0;
}

void depthtools_follow_instrument(widget *panel) { depthtools_rebind_chart(panel); }

void depthtools_update_chart(widget *panel) {
  if (!depthtools_is(panel)) return;
  depthtools *p = as_dt(panel);
  widget *w = depth_of(p);
  if (!w) return;
  const depthwin_book *b = depthwin_get_book(w);
  if (!b->instrument || !b->position) return;
  ss_time d = sstime_with_time_of_day(b->position, 0);
  ss_time latest = sstime_with_time_of_day(ssmodel_exchange_date(int32_t(b->instrument->exchange->index)), 0);
  int32_t choice = d > latest ? 1 : d > sstime_add_days(latest, -7) ? 2 : 3;
  apply_range(p, choice);
  button_group_select(&p->range_group, choice + 5);
}

int32_t depthtools_get_chart_range(widget *panel) {
  return depthtools_is(panel) ? as_dt(panel)->chart_range : 0;
}

void depthtools_set_chart_range(widget *panel, int32_t choice) {
  if (!depthtools_is(panel)) return;
  depthtools *p = as_dt(panel);
  if (choice < 0 || choice > 3 || choice == p->chart_range) return;
  apply_range(p, choice);
  button_group_select(&p->range_group, choice + 5);
}

int32_t depthtools_get_age_time(widget *panel, int index) {
  if (!depthtools_is(panel) || index != 0) return 0;
  depthtools *p = as_dt(panel);
  return p->age_time ? time_spinner_value(p->age_time) : kDepthtoolsAgeStart;
}

void depthtools_set_age_time(widget *panel, int index, int32_t hhmm) {
  if (!depthtools_is(panel) || index != 0) return;
  depthtools *p = as_dt(panel);
  if (p->age_time) time_spinner_set_value(p->age_time, hhmm);
  dt_refresh(p);
}

// ---- refresh ----------------------------------------------------------------------

static void dt_refresh(tools *self) {
  depthtools *p = as_dt(self);
  widget *w = depth_of(p);
  if (!w) return;
  const depthwin_book *b = depthwin_get_book(w);
  // Sensitivity first: making a button insensitive also clears its state.
  uint32_t mode = depthwin_get_show_mode(w);
  button_set_sensitive(p->show_bars, mode != 1);
  button_set_sensitive(p->show_table, mode != 2);
  bool replaying = depthwin_is_replaying(w);
  for (button *k : {p->faster, p->slower, p->forward, p->mode}) button_set_sensitive(k, replaying);
  button_set_sensitive(p->back, 1);
  button_set_active(p->show_age, depthwin_get_show_age(w) != 0);
  button_set_active(p->show_trades, depthwin_get_show_trades(w) != 0);
  button_set_active(p->show_bars, (mode & 1) != 0);
  button_set_active(p->show_table, (mode & 2) != 0);
  button_set_active(p->mode, !b->realtime);
  button_set_active(p->live, !replaying);
  button_set_active(p->pause, depthwin_has_mark(w));
  // "Auto" is id -1, which the kit's select takes for none.
  if (button_group_select(&p->aggregate_group, depthwin_get_group_by(w)) < 0)
    button_group_set_active(&p->aggregate_group, nullptr);

  uint32_t kind = 0, count = 0;
  depthwin_get_age_split(w, 0, &kind, &count);
  int32_t age = depthtools_age_id(kind, count);
  if (age == 0 && p->age_time) time_spinner_set_value(p->age_time, int32_t(count));
  panelkit_select(&p->age_group, age);
  depthwin_child *bars = depthwin_get_child(w, 1);
  panelkit_select(&p->thickness_group, bars ? depthbars_get_thickness(bars) : -1);

  // The controls are laid out again through the panel's sizer: the panel's
  // own relayout would run this refresh a second time.
  if (p->child) p->child->cls->geometry_changed(p->child);
  widget_redraw(p);
  if (window *win = tools_window_of(p)) window_update_title(win);
}

// ---- class ------------------------------------------------------------------------

static const char *dt_summary(tools *self) {
  widget *w = depth_of(as_dt(self));
  return w ? depthtools_summary_of(depthwin_get_group_step(w)) : "";
}

static void dt_restyle(widget *self) {
  tools_base()->restyle(self);
  style_labels(as_dt(self));
}

static void dt_class_init(object_class *rec) {
  panelkit_set_ops(rec, dt_summary, dt_refresh, dt_build);
  static_cast<tools_class_rec *>(rec)->restyle = dt_restyle;
}

// The chart is a child of the panel's tree and goes with it; nothing else
// is owned.
static typeid_t register_depthtools() {
  return panelkit_register("depthtools", sizeof(depthtools), dt_class_init);
}

typeid_t depthtools_type() { return object_cached_type(&S.type, register_depthtools); }

depthtools *depthtools_new(widget *parent, widget *depthwin) {
  auto *p = static_cast<depthtools *>(panelkit_new_panel(parent, depthtools_type(), depthwin));
  if (!p) {
    log(LOG_ERROR, kSrc, "can't make the depth panel");
    return nullptr;
  }
  if (depth_of(p)) depthwin_set_tools(depthwin, p);
  return p;
}

button *depthtools_button(depthtools *p, int section, int32_t id) {
  switch (section) {
    // The show buttons come before the thickness buttons in their section.
    case DEPTHTOOLS_REPLAY: case DEPTHTOOLS_DISPLAY: return panelkit_find_button(p->section[section], id);
    case DEPTHTOOLS_AGGREGATE: return button_group_member(&p->aggregate_group, id);
    case DEPTHTOOLS_AGE: return button_group_member(&p->age_group, id);
    case kDepthtoolsThickness: return button_group_member(&p->thickness_group, id);
    case kDepthtoolsRange: return button_group_member(&p->range_group, id);
    default: return nullptr;
  }
}
