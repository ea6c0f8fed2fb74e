// The course-of-sales panel. Like every panel it reads its settings back
// from the list it edits (refresh) and keeps none of its own; the one table
// of group-by ids and intervals serves the edit, the refresh and the
// summary. The VWAP toggle, the grouping and chart clicks are linked
// changes of the trade-list role (Shift reaches every course-of-sales
// window of the desktop); the range buttons change only the panel's own
// chart, as one undo step of the panel's own window.
#include "tools/tradetools.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "log.h"
#include "style.h"
#include "tools/panelkit.h"
#include "ui/box.h"
#include "ui/flyaway.h"
#include "ui/sizer.h"
#include "undo.h"
#include "windows/nuchart.h"
#include "windows/tradelist.h"
#include "windows/window.h"

static const char kSrc[] = "tradetools";

// Class slots over the tools class: summary, refresh, build.
static const char *tt_summary(tools *self);
static void tt_refresh(tools *self);
static widget *tt_build(tools *self);

static struct {
  object_type_cache type;
  std::string summary;
} S;

constexpr int32_t kChartW = 220, kChartH = 56;

// The group-by ids with an interval, and what the title calls it.
struct interval_row {
  int32_t id;
  uint32_t seconds;
  const char *text;
};
constexpr interval_row kIntervals[] = {
    {2, 300, ", IN 5 MIN INTERVALS"},    {3, 600, ", IN 10 MIN INTERVALS"}, {4, 900, ", IN 15 MIN INTERVALS"},
    {5, 1200, ", IN 20 MIN INTERVALS"},  {6, 1800, ", IN 30 MIN INTERVALS"}, {7, 3600, ", IN 1 HOUR INTERVALS"},
    {8, 7200, ", IN 2 HOUR INTERVALS"},  {9, 14400, ", IN 4 HOUR INTERVALS"}, {16, 86400, ", DAILY"}};

static tradetools *as_tt(widget *w) { return static_cast<tradetools *>(w); }
static tradelist *list_of(tradetools *p) {
  return p->owner && object_is_a(widget_obj(p->owner), tradelist_type()) ? tradelist_cast(p->owner) : nullptr;
}

// ---- the table ----------------------------------------------------------------------

int tradetools_group_of(int32_t id, uint32_t *seconds) {
  *seconds = 0;
  if (id == 1) return 1;
  if (id == 10) return 0;
  for (const interval_row &r : kIntervals)
    if (r.id == id) {
      *seconds = r.seconds;
      return 0;
    }
  return -1;
}

int32_t tradetools_group_id(uint32_t by_price, uint32_t seconds) {
  if (by_price) return 1;
  if (!seconds) return 10;
  for (const interval_row &r : kIntervals)
    if (r.seconds == seconds) return r.id;
  return -1;
}

const char *tradetools_summary_of(uint32_t vwap_only, uint32_t by_price, uint32_t seconds) {
  std::string &o = S.summary;
  o.clear();
  if (vwap_only) o += ", VWAP TRADES ONLY";
  if (by_price) {
    o += ", GROUPED BY PRICE";
  } else if (seconds) {
    const char *text = nullptr;
    for (const interval_row &r : kIntervals)
      if (r.seconds == seconds) text = r.text;
    if (text) o += text;
    else log(LOG_WARN, kSrc, "bad interval");
  }
  return o.size() >= 2 ? o.c_str() + 2 : "";
}

// ---- the linked change ------------------------------------------------------------------

static int push_list(widget *content) { return undo_push_tradelist(content); }

static void link_group(tradetools *p) {
  tools_link_begin(p->owner, kRoleTradelist);
  undo_begin();
  tools_link_push_undo(push_list);
  undo_end();
}

static tradelist *link_list(int32_t i) {
  widget *c = tools_link_content(i);
  return c && object_is_a(widget_obj(c), tradelist_type()) ? tradelist_cast(c) : nullptr;
}

static void on_select(button *b, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<tradetools *>(arg);
  uint32_t on = uint32_t(panelkit_is_on(b));
  link_group(p);
  for (int32_t i = 0; i < tools_link_count(); i++) {
    tradelist *t = link_list(i);
    if (!t) continue;
    if (id == 2) tradelist_set_pre_open(t, on);
    else if (id == 3) tradelist_set_closed(t, on);
    else if (id == 4) tradelist_set_vwap_only(t, on);
  }
  tools_link_apply();
}

static void on_group(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  uint32_t seconds = 0;
  int kind = tradetools_group_of(id, &seconds);
  if (kind < 0) return;
  link_group(static_cast<tradetools *>(arg));
  for (int32_t i = 0; i < tools_link_count(); i++) {
    tradelist *t = link_list(i);
    if (!t) continue;
    if (kind == 1) tradelist_set_group_by_price(t, 1);
    else if (seconds) tradelist_set_group_by_seconds(t, seconds);
    else tradelist_set_no_grouping(t);
  }
  tools_link_apply();
}

static void on_range(button *, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<tradetools *>(arg);
  nuchart *c = p->chart;
  window *w = tools_window_of(p);
  undo_begin();
  if (w) undo_push_window_tools(w, kRoleTradelist);
  if (list_of(p)) undo_push_tradelist(p->owner);
  undo_end();
  if (c) {
    if (id == 12) {
      nuchart_set_option_bits(c, 64);
      nuchart_clear_option_bits(c, 128);
    } else {
      nuchart_clear_option_bits(c, 64);
      nuchart_set_option_bits(c, 128);
    }
    switch (id) {
      case 13: nuchart_set_range(c, 5, 7); break;
      case 14: nuchart_set_range(c, 6, 1); break;
      default: nuchart_set_range(c, 5, 1); break;
    }
    nuchart_set_times(c, -1, 0, 5, 0);
  }
  tools_refresh_later(p);
}

static void on_chart(nuchart *, ss_time t, void *arg, int) {
  if (!t) return;
  link_group(static_cast<tradetools *>(arg));
  for (int32_t i = 0; i < tools_link_count(); i++)
    if (tradelist *l = link_list(i)) tradelist_set_position(l, t);
  tools_link_apply();
}

// ---- build --------------------------------------------------------------------------

static widget *tt_build(tools *self) {
  tradetools *p = as_tt(self);
  panelkit k;
  p->box = panelkit_begin(&k, p);
  button_group_init(&p->range_group);
  button_group_init(&p->group_group);
  const style *st = style_cur();

  // The chart first, without a parent: the day's prices as a step line
  // with volume and news, on the sections' colour, its end now.
  const int32_t overlays[] = {9, kNuchartNewsOverlay};
  uint32_t bg = st ? style_colour(st, SC_PANEL_LIGHT) | 0xff000000u : 0xff404040u;
  p->chart = tools_day_chart(bg, overlays, 2, kTradetoolsChartOptions, on_chart, p);

  p->section[TRADETOOLS_SELECT] = panelkit_section(&k, "Select");
  p->vwap_only = panelkit_button(&k, "VWAP Only", 4, nullptr, BUTTON_TOGGLE, on_select);

  p->section[TRADETOOLS_GROUP] = panelkit_section(&k, "Group By");
  struct { const char *t; int32_t id; } groups[] = {{"Price", 1}, {"5 Min", 2}, {"10", 3}, {"15", 4},
                                                    {"20", 5},    {"30", 6},    {"1 Hour", 7}, {"2", 8},
                                                    {"4", 9},     {"N/A", 10},  {"Day", 16}};
  for (auto &g : groups) panelkit_button(&k, g.t, g.id, &p->group_group, 0, on_group);

  p->section[TRADETOOLS_RANGE] = panelkit_section(&k, "Range");
  if (p->chart) {
    size fixed{kChartW, kChartH};
    sizer *sz = sizer_new(k.row, SIZER_FILL_W | SIZER_FILL_H, &fixed, nullptr, 0.0f);
    if (sz) container_cls(sz)->add(sz, p->chart);
  }
  panelkit_button(&k, "Today", 11, &p->range_group, 0, on_range);
  panelkit_button(&k, "All day", 12, &p->range_group, 0, on_range);
  panelkit_button(&k, "Week", 13, &p->range_group, 0, on_range);
  panelkit_button(&k, "Month", 14, &p->range_group, 0, on_range);
  button_group_select(&p->range_group, 12);
  fbox_set_flyaway_weight(p->box, p->section[TRADETOOLS_RANGE], 1);
  return p->box;
}

// ---- refresh ----------------------------------------------------------------------------

static void tt_refresh(tools *self) {
  tradetools *p = as_tt(self);
  tradelist *t = list_of(p);
  if (!t) return;
  button_set_active(p->vwap_only, tradelist_get_vwap_only(t) != 0);
  uint32_t by_price = tradelist_get_group_by_price(t), seconds = tradelist_get_group_by_seconds(t);
  int32_t id = tradetools_group_id(by_price, seconds);
  if (id < 0) log(LOG_WARN, kSrc, "bad time %d", int(seconds));
  else button_group_select(&p->group_group, id);
}

// ---- the list's calls ----------------------------------------------------------------------

void tradetools_set_instrument(widget *panel, instr *in) {
  if (!tradetools_is(panel)) return;
  tradetools *p = as_tt(panel);
  if (p->chart) {
    if (in) nuchart_bind(p->chart, in);
    else nuchart_unbind(p->chart);
  }
  tools_refresh_later(p);
}

void tradetools_set_marker(widget *panel, int32_t from, int32_t to) {
  if (!tradetools_is(panel)) return;
  tradetools *p = as_tt(panel);
  // The list asks on every draw; the chart is redrawn only for a new span.
  if (!p->chart || (p->marker[0] == ss_time(from) && p->marker[1] == ss_time(to))) return;
  p->marker[0] = ss_time(from);
  p->marker[1] = ss_time(to);
  nuchart_set_marker(p->chart, ss_time(from), ss_time(to));
}

// ---- class ------------------------------------------------------------------------------

static const char *tt_summary(tools *self) {
  tradelist *t = list_of(as_tt(self));
  if (!t) return "";
  return tradetools_summary_of(tradelist_get_vwap_only(t), tradelist_get_group_by_price(t),
                               tradelist_get_group_by_seconds(t));
}

static void tt_class_init(object_class *rec) { panelkit_set_ops(rec, tt_summary, tt_refresh, tt_build); }

static typeid_t register_tradetools() {
  return panelkit_register("tradetools", sizeof(tradetools), tt_class_init);
}

typeid_t tradetools_type() { return object_cached_type(&S.type, register_tradetools); }

tradetools *tradetools_new(widget *parent, widget *owner) {
  auto *p = static_cast<tradetools *>(panelkit_new_panel(parent, tradetools_type(), owner));
  if (!p) {
    log(LOG_ERROR, kSrc, "can't make the course-of-sales panel");
    return nullptr;
  }
  return p;
}

button *tradetools_button(tradetools *p, int section, int32_t id) {
  // Each section's ids are its own.
  return section >= 0 && section < kTradetoolsSections ? panelkit_find_button(p->section[section], id) : nullptr;
}
