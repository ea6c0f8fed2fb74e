// The alert panel. Its controls are made once; every button reports to one
// command handler by id and every text box to one entry handler, which call
// the alerts grid's setters (the current row's triggers, the order and the
// filters) and the alert list's defaults. Typed amounts are read as exact
// decimals (the tools' shared helper), never through a double, so "1.255"
// is 126 hundredths and text that is no amount changes nothing. Refresh
// reads everything back from the grid, the current alert and its
// instrument.
#include "tools/alerttools.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/autosave.h"
#include "lib/fmt.h"
#include "log.h"
#include "screen/screen.h"
#include "screen/tickbar.h"
#include "ssmodel.h"
#include "style.h"
#include "tools/panelkit.h"
#include "ui/box.h"
#include "ui/flyaway.h"
#include "ui/gui.h"
#include "ui/label.h"
#include "ui/textbox.h"
#include "undo.h"
#include "windows/alertlist.h"
#include "windows/alerts.h"
#include "windows/window.h"

static const char kSrc[] = "alerttools";

// Class slots over the tools class: restyle, summary, refresh, build.
static void at_restyle(widget *self);
static const char *at_summary(tools *self);
static void at_refresh(tools *self);
static widget *at_build(tools *self);

static struct {
  object_type_cache type;
  std::string summary;  // the summary's scratch text
} S;

// Text box ids.
enum : int32_t { kIdLow = 14, kIdHigh = 15, kIdVolume = 16, kIdCode = 18 };

// The trigger-filter toggles: id and bit.
struct bit_row {
  int32_t id;
  uint32_t bit;
};
constexpr bit_row kTriggerBits[] = {{7, ALERT_LOW}, {8, ALERT_HIGH}, {9, ALERT_VOLUME}, {10, ALERT_NEWS},
                                    {21, ALERT_NONE}};
// The default movements: id and percent.
constexpr bit_row kMovements[] = {{22, 0}, {23, 2}, {24, 5}, {25, 10}};

static alerttools *as_at(widget *w) { return static_cast<alerttools *>(w); }
static widget *grid_of(alerttools *p) { return alerts_grid_of(p->owner) ? p->owner : nullptr; }

// ---- lookup and the summary ----------------------------------------------------

instr *alerttools_lookup(const char *text) {
  if (!text) return nullptr;
  char code[kAlerttoolsCodeMax + 1];
  size_t n = 0;
  for (; text[n] && n < size_t(kAlerttoolsCodeMax); n++) code[n] = char(toupper(static_cast<unsigned char>(text[n])));
  code[n] = 0;
  int32_t ex = -1;
  if (char *dot = strchr(code, '.')) {
    *dot = 0;
    if (dot[1] == 'N') ex = 1;
    else if (dot[1] == 'A') ex = 0;
  }
  if (ex < 0) ex = alerts_default_exchange();
  // The model cuts codes at 11 characters: a longer one would name another.
  if (!code[0] || strlen(code) > size_t(kCodeMax)) return nullptr;
  ss_exchange *e = ssmodel_exchange(ex);
  if (!e) return nullptr;
  if (ss_stock *s = ssmodel_find_stock(e, code)) return s;
  if (ss_index *x = ssmodel_find_index(e, code)) return x;
  return nullptr;
}

const char *alerttools_summary_of(uint32_t order, uint32_t trigger, uint32_t fired) {
  std::string &o = S.summary;
  o.clear();
  if (order == 1) o += ", CLOSEST TO FIRING";
  else if (order == 0) o += ", ALPHABETICAL";
  switch (trigger) {
    case ALERT_LOW: o += ", HAS LOW PRICE"; break;
    case ALERT_HIGH: o += ", HAS HIGH PRICE"; break;
    case ALERT_VOLUME: o += ", HAS VOLUME"; break;
    case ALERT_NEWS: o += ", HAS NEWS"; break;
    default: break;
  }
  switch (fired) {
    case 3: o += ", NOT FIRED"; break;
    case 2: o += ", PART FIRED"; break;
    case 1: o += ", COMPLETELY FIRED"; break;
    default: break;
  }
  return o.size() >= 2 ? o.c_str() + 2 : o.c_str();
}

// ---- commands --------------------------------------------------------------------

// The window and the panel after a command or an entry (refresh updates the
// title too).
static void after_change(alerttools *p) {
  if (widget *g = grid_of(p)) widget_redraw(g);
  at_refresh(p);
}

// Makes the instrument's alert current, adding a default one (one undo
// step) when it has none. With `keep_existing` false an alert that was
// already there leaves no alert current ("New" on an existing code).
static void take_code(alerttools *p, instr *in, bool keep_existing) {
  widget *g = grid_of(p);
  if (!in) {
    alerts_clear_current(g);
    return;
  }
  if (alerts_find(in)) {
    if (keep_existing) alerts_select(g, in);
    else alerts_clear_current(g);
    return;
  }
  undo_begin();
  int added = alerts_add_default(in);
  if (added == 0) alerts_undo_added(alerts_find(in));
  undo_end();
  if (added == 0) alerts_select(g, in);
  else alerts_clear_current(g);
}

// The alerts ticker of the current screen shown (with the bar switched on)
// or hidden (with the bar switched off); the switch of the bar is one undo
// step.
static void show_alerts_ticker(bool on) {
  widget *tb = screen_tickbar();
  ticker *t = tickbar_alert_ticker(tb);
  if (!tb || !t) return;
  undo_begin();
  if (tickbar_is_on(tb)) undo_push_tickbar_was_on();
  else undo_push_tickbar_was_off();
  undo_end();
  ticker_set_show(t, on ? TICKER_SHOW_SHOW : TICKER_SHOW_HIDE);
  tickbar_set_on(tb, on ? 1 : 0);
}

static void on_button(button *b, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state) || id < 1 || id > 28) return;
  auto *p = static_cast<alerttools *>(arg);
  widget *g = grid_of(p);
  if (!g) return;
  const int on = panelkit_is_on(b);
  switch (id) {
    case 1: alerts_set_order(g, 1); break;
    case 2: alerts_set_order(g, 0); break;
    case 3: alerts_set_fired_filter(g, 4); break;
    case 5: alerts_set_fired_filter(g, 2); break;
    case 6: alerts_set_fired_filter(g, 3); break;
    case 12: alerts_set_trigger_filter_conjunctive(g, uint32_t(on)); break;
    case 13: alerts_set_trigger_filter_conjunctive(g, uint32_t(!on)); break;
    case 17: alerts_set_news(g, uint32_t(on)); break;
    case 19: take_code(p, alerttools_lookup(textbox_text(p->code)), false); break;
    case 20: alerts_reset_current(g); break;
    case 26: alerts_set_default_news(uint32_t(on)); break;
    case 27: show_alerts_ticker(on != 0); break;
    case 28: alerts_delete_current(g); break;
    default:
      for (const bit_row &r : kTriggerBits)
        if (r.id == id) {
          uint32_t f = alerts_get_trigger_filter(g);
          alerts_set_trigger_filter(g, on ? f | r.bit : f & ~r.bit);
        }
      for (const bit_row &r : kMovements)
        if (r.id == id) alerts_set_default_movement(int32_t(r.bit));
      break;
  }
  after_change(p);
}

// ---- entries -----------------------------------------------------------------------

static void on_entry(textbox *t, int code, void *arg, int32_t id) {
  if (code != TEXTBOX_ENTER && code != TEXTBOX_LEFT) return;
  auto *p = static_cast<alerttools *>(arg);
  widget *g = grid_of(p);
  if (!g) return;
  const char *text = textbox_text(t);
  if (id == kIdCode) {
    if (textbox_is_empty(t)) {
      alerts_clear_current(g);
    } else if (instr *in = alerttools_lookup(text)) {
      take_code(p, in, true);
    } else {
      // The box is emptied; the current alert, if any, stays.
      textbox_set_text(t, "");
      config_set_dirty(2);
      return;
    }
  } else {
    uint64_t v = 0;
    int r = id == kIdVolume ? tools_parse_count(text, kAlertNoVolume - 1, &v)
                            : tools_parse_cents(text, kAlertNoPrice - 1, &v);
    if (r < 0) {
      // Text that is no amount changes nothing: the box shows the trigger again.
      log(LOG_WARN, kSrc, "can't parse %s", text);
      at_refresh(p);
      return;
    }
    const bool none = r == 1;
    switch (id) {
      case kIdLow: alerts_set_min_price(g, none ? kAlertNoPrice : uint32_t(v)); break;
      case kIdHigh: alerts_set_max_price(g, none ? kAlertNoPrice : uint32_t(v)); break;
      case kIdVolume: alerts_set_min_volume(g, none ? kAlertNoVolume : v); break;
      default: return;
    }
  }
  config_set_dirty(2);
  after_change(p);
}

// ---- build -------------------------------------------------------------------------

static widget *at_build(tools *self) {
  alerttools *p = as_at(self);
  panelkit k;
  p->box = panelkit_begin(&k, p);
  button_group_init(&p->order);
  button_group_init(&p->fired);
  button_group_init(&p->movement);
  auto add = [&](const char *text, int32_t id, button_group *g = nullptr, uint32_t style = 0) {
    return panelkit_button(&k, text, id, g, style, on_button);
  };
  auto toggle = [&](const char *text, int32_t id) { return add(text, id, nullptr, BUTTON_TOGGLE); };

  p->section[ALERTTOOLS_ORDER] = panelkit_section(&k, "Order");
  add("Closest to Firing", 1, &p->order);
  add("Code", 2, &p->order);

  p->section[ALERTTOOLS_SELECT] = panelkit_section(&k, "Select");
  add("Fired", 5, &p->fired);
  add("Not Fired", 6, &p->fired);
  add("All", 3, &p->fired);
  p->low = toggle("Low Price", 7);
  p->high = toggle("High Price", 8);
  p->volume = toggle("Volume", 9);
  p->news = toggle("News", 10);
  p->unset = toggle("Show unset", 21);
  p->exact = toggle("Match Exact", 12);
  p->any = toggle("Match Any", 13);

  p->section[ALERTTOOLS_TRIGGERS] = panelkit_section(&k, "Triggers");
  {
    // One column per trigger: its caption over its box, the two information
    // labels under the prices, then the buttons.
    const uint32_t amount = TEXTBOX_NUMERIC | TEXTBOX_MAGNITUDE;
    vbox *c = vbox_new(k.row, 0, 1);
    panelkit_caption(c, "Code", 0);
    p->code = textbox_new(c, "", 12, 0, nullptr, nullptr, on_entry, p, kIdCode);
    c = vbox_new(k.row, 0, 1);
    panelkit_caption(c, "Low Price", 0);
    p->min_price = textbox_new(c, "", 8, amount | TEXTBOX_PLAIN, nullptr, nullptr, on_entry, p, kIdLow);
    p->info = panelkit_caption(c, "", 0x41);
    c = vbox_new(k.row, 0, 1);
    panelkit_caption(c, "High Price", 0);
    p->max_price = textbox_new(c, "", 8, amount | TEXTBOX_PLAIN, nullptr, nullptr, on_entry, p, kIdHigh);
    p->info2 = panelkit_caption(c, "k,t,m,b", 0x41);
    snprintf(p->info2->sizing, sizeof p->info2->sizing, "%s", "k,t,m,b");
    c = vbox_new(k.row, 0, 1);
    panelkit_caption(c, "Volume", 0);
    p->min_volume = textbox_new(c, "", 10, amount, nullptr, nullptr, on_entry, p, kIdVolume);
    c = vbox_new(k.row, 0, 1);
    panelkit_caption(c, "News", 0);
    p->news_trigger = panelkit_two_state(&k, c, "Trigger", "Ignore", 17, on_button);
    p->make_new = add("New", 19);
    p->remove = add("Remove", 28);
    p->reset = add("Reset", 20);
  }

  p->section[ALERTTOOLS_DEFAULTS] = panelkit_section(&k, "Defaults");
  panelkit_caption(panelkit_slot(&k), "Price", 0);
  add("None", 22, &p->movement);
  add("+/- 2%", 23, &p->movement);
  add("+/- 5%", 24, &p->movement);
  add("+/- 10%", 25, &p->movement);
  k.col = nullptr;  // "News" starts a column
  panelkit_caption(panelkit_slot(&k), "News", 0);
  p->default_news = panelkit_two_state(&k, nullptr, "Trigger", "Ignore", 26, on_button);

  p->section[ALERTTOOLS_TICKER] = panelkit_section(&k, "Ticker");
  p->ticker = panelkit_two_state(&k, nullptr, "Show    ", "Hide    ", 27, on_button);
  return p->box;
}

// ---- refresh -------------------------------------------------------------------------

// The current alert's instrument, prices and triggers.
static void refresh_current(alerttools *p, widget *g) {
  const alert *a = alerts_get_current(g);
  bool index = false;
  if (a) {
    const instr *in = a->instrument;
    if (!gui_has_focus(p->code)) textbox_set_text(p->code, in->code);
    if (in->kind != kKindStock) {
      index = true;
      label_set_text(p->info, fmt_cents(static_cast<const ss_index *>(in)->value));
      label_set_text(p->info2, "");
    } else {
      const auto *s = static_cast<const ss_stock *>(in);
      label_set_text(p->info, fmt_price(s->last));
      label_set_text(p->info2, fmt_count_short(s->volume));
    }
  } else {
    if (!gui_has_focus(p->code)) textbox_set_text(p->code, "");
    label_set_text(p->info, "");
    label_set_text(p->info2, "k,t,m,b");
  }
  // An index has no volume and no announcements of its own.
  textbox_set_editable(p->min_volume, !index);
  button_set_sensitive(p->news_trigger, !index);
  uint32_t lo = alerts_get_min_price(g), hi = alerts_get_max_price(g);
  panelkit_show_amount(p->min_price, lo, lo == kAlertNoPrice, true);
  panelkit_show_amount(p->max_price, hi, hi == kAlertNoPrice, true);
  uint64_t vol = a ? a->min_volume : kAlertNoVolume;
  panelkit_show_amount(p->min_volume, vol, vol == kAlertNoVolume, false);
  panelkit_show_on(p->news_trigger, alerts_get_news(g) != 0);
  button_set_sensitive(p->reset, a && alerts_fired_bits(a) != 0);
}

static void at_refresh(tools *self) {
  alerttools *p = as_at(self);
  widget *g = grid_of(p);
  if (!g) return;
  uint32_t order = alerts_get_order(g);
  panelkit_select(&p->order, order == 1 ? 1 : order == 0 ? 2 : -1);
  uint32_t fired = alerts_get_fired_filter(g);
  panelkit_select(&p->fired, fired == 2 ? 5 : fired == 3 ? 6 : fired == 4 ? 3 : -1);
  uint32_t filter = alerts_get_trigger_filter(g);
  button *toggles[] = {p->low, p->high, p->volume, p->news, p->unset};
  for (int i = 0; i < 5; i++) panelkit_show_on(toggles[i], (filter & kTriggerBits[i].bit) != 0);
  uint32_t conj = alerts_get_trigger_filter_conjunctive(g);
  panelkit_show_on(p->exact, conj != 0);
  panelkit_show_on(p->any, conj == 0);
  refresh_current(p, g);
  int32_t movement = alerts_get_default_movement();
  int32_t id = -1;
  for (const bit_row &r : kMovements)
    if (int32_t(r.bit) == movement) id = r.id;
  if (id < 0) {
    log(LOG_ERROR, kSrc, "unexpected default movement: %d", movement);
    id = 22;
  }
  panelkit_select(&p->movement, id);
  panelkit_show_on(p->default_news, alerts_get_default_news() != 0);
  // A ticker on a bar that is switched off is not on the screen.
  widget *tb = screen_tickbar();
  panelkit_show_on(p->ticker, tickbar_is_on(tb) && tickbar_alert_ticker_visible(tb));
  button_set_sensitive(p->remove, alerts_get_current(g) != nullptr);
  if (window *w = tools_window_of(p->owner)) window_update_title(w);
}

// ---- class -----------------------------------------------------------------------------

static const char *at_summary(tools *self) {
  widget *g = grid_of(as_at(self));
  if (!g) return "";
  return alerttools_summary_of(alerts_get_order(g), alerts_get_trigger_filter(g), alerts_get_fired_filter(g));
}

static void at_restyle(widget *self) {
  tools_base()->restyle(self);
  panelkit_label_look(self);
}

static void at_class_init(object_class *rec) {
  panelkit_set_ops(rec, at_summary, at_refresh, at_build);
  static_cast<tools_class_rec *>(rec)->restyle = at_restyle;
}

static typeid_t register_alerttools() { return panelkit_register("alerttools", sizeof(alerttools), at_class_init); }

typeid_t alerttools_type() { return object_cached_type(&S.type, register_alerttools); }

alerttools *alerttools_new(widget *parent, widget *alerts) {
  return static_cast<alerttools *>(panelkit_new_panel(parent, alerttools_type(), alerts));
}

button *alerttools_button(alerttools *p, int32_t id) { return panelkit_find_button(p, id); }
