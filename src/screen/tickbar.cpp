// The tickbar: the alerts ticker and four market tickers stacked across the
// top of a screen. It owns its five tickers for its whole life, shows those
// whose show type says so and is as tall as the tickers it shows. Screen
// operations act on the current screen, so everything here that touches
// the screen pushes the tickbar's own screen and pops it again: a ticker of
// another screen never moves the user's current screen.
//
// It also posts the fired alerts to the alerts ticker of every open screen
// (installed as the alert list's screen hooks when the first tickbar is
// made).
#include "screen/tickbar.h"

#include "config/config.h"
#include "log.h"
#include "screen/screen.h"
#include "tools/tickertools.h"
#include "windows/alertlist.h"

static const char kSrc[] = "src/screen/tickbar";

static tickbar *as_bar(widget *w) { return static_cast<tickbar *>(w); }

static typeid_t register_tickbar();

typeid_t tickbar_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_tickbar);
}

tickbar *tickbar_of(widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), tickbar_type()) ? as_bar(w) : nullptr;
}

// Runs fn with the tickbar's screen current; nothing when it is not open.
template <class F>
static void on_screen(widget *tb, F fn) {
  int n = screen_index_of(tb);
  if (n < 0 || !screen_push(n)) return;
  fn();
  screen_pop();
}

static uint32_t bit_of(tickbar *b, const ticker *t) {
  if (t == b->alerts_ticker) return kTickbarAlertsBit;
  for (int i = 0; i < kMarketTickers; i++)
    if (b->tickers[i] == t) return 1u << i;
  return 0;
}

ticker *tickbar_get_ticker(widget *tb, int i) {
  tickbar *b = tickbar_of(tb);
  return b && i >= 0 && i < kMarketTickers ? b->tickers[i] : nullptr;
}

ticker *tickbar_alert_ticker(widget *tb) {
  tickbar *b = tickbar_of(tb);
  return b ? b->alerts_ticker : nullptr;
}

static void relayout_screen(widget *tb) {
  on_screen(tb, [] { screen_relayout(); });
}

void tickbar_show_ticker(widget *tb, ticker *t) {
  tickbar *b = tickbar_of(tb);
  uint32_t bit = b ? bit_of(b, t) : 0;
  if (!bit) {
    if (screens_up()) log(LOG_WARN, kSrc, "don't own ticker");
    return;
  }
  b->visible |= bit;
  if (!widget_is_shown(b)) {
    if (!b->on) return;
    b->on = 1;
    on_screen(tb, [] { screen_show_bars(BAR_TICKBAR); });
    widget_redraw(b);
  }
  if (widget_is_shown(b)) widget_show_subtree(t);
  relayout_screen(tb);
}

void tickbar_hide_ticker(widget *tb, ticker *t) {
  tickbar *b = tickbar_of(tb);
  uint32_t bit = b ? bit_of(b, t) : 0;
  if (!bit) return;
  b->visible &= ~bit;
  widget_hide_subtree(t);
  relayout_screen(tb);
  if (!b->visible && !b->tools_shown) on_screen(tb, [] { screen_hide_bars(BAR_TICKBAR); });
}

int tickbar_is_on(widget *tb) { return tickbar_of(tb) ? int(as_bar(tb)->on) : 0; }

void tickbar_set_on_quiet(widget *tb, int on) {
  if (tickbar *b = tickbar_of(tb)) b->on = on ? 1 : 0;
}

void tickbar_set_on(widget *tb, int on) {
  tickbar *b = tickbar_of(tb);
  if (!b) return;
  b->on = on ? 1 : 0;
  if (on)
    on_screen(tb, [] { screen_show_bars(BAR_TICKBAR); });
  else
    on_screen(tb, [] { screen_hide_bars(BAR_TICKBAR); });
  on_screen(tb, [] { screen_request_redraw(); });
}

int tickbar_ticker_visible(widget *tb, int i) {
  tickbar *b = tickbar_of(tb);
  return b && i >= 0 && i < kMarketTickers ? (b->visible >> i) & 1 : 0;
}

int tickbar_alert_ticker_visible(widget *tb) {
  tickbar *b = tickbar_of(tb);
  return b ? (b->visible & kTickbarAlertsBit) != 0 : 0;
}

template <class F>
static void each_ticker(tickbar *b, F fn) {
  if (b->alerts_ticker) fn(b->alerts_ticker);
  for (ticker *t : b->tickers)
    if (t) fn(t);
}

// Moving while shown with a visible ticker that has items to scroll: the
// screen then asks the gui for smooth frames.
int tickbar_is_moving(widget *tb) {
  tickbar *b = tickbar_of(tb);
  if (!b || !widget_is_shown(b)) return 0;
  int moving = 0;
  each_ticker(b, [&](ticker *t) {
    if (widget_is_shown(t) && !ticker_is_idle(t) && !t->frozen) moving = 1;
  });
  return moving;
}

void tickbar_reset(widget *tb) {
  if (tickbar *b = tickbar_of(tb)) each_ticker(b, [](ticker *t) { ticker_freeze(t, 0); });
}

void tickbar_advance(widget *tb) {
  if (tickbar *b = tickbar_of(tb)) each_ticker(b, [](ticker *t) { ticker_advance(t); });
}

void tickbar_relayout(widget *tb) {
  tickbar *b = tickbar_of(tb);
  if (!b) return;
  on_screen(tb, [b] {
    each_ticker(b, [](ticker *t) {
      if (t->show_type == TICKER_SHOW_AUTO) ticker_set_show(t, TICKER_SHOW_AUTO);
    });
    screen_relayout();
  });
}

// The ticker panel sits under the tickers; it is made the first time it is
// shown and lives as long as the bar.
static void make_tools(tickbar *b) {
  if (!b->tools) b->tools = ticktools_new(b, b);
}

void tickbar_show_tools(widget *tb) {
  tickbar *b = tickbar_of(tb);
  if (!b || b->tools_shown) return;
  make_tools(b);
  b->tools_shown = 1;
  if (b->tools && widget_is_shown(b)) widget_show_subtree(b->tools);
  relayout_screen(tb);
}

void tickbar_hide_tools(widget *tb) {
  tickbar *b = tickbar_of(tb);
  if (!b || !b->tools_shown) return;
  b->tools_shown = 0;
  if (b->tools) widget_hide_subtree(b->tools);
  relayout_screen(tb);
  if (!b->visible) on_screen(tb, [] { screen_hide_bars(BAR_TICKBAR); });
}

void tickbar_toggle_tools(widget *tb) {
  if (tickbar_tools_shown(tb))
    tickbar_hide_tools(tb);
  else
    tickbar_show_tools(tb);
}

int tickbar_tools_shown(widget *tb) { return tickbar_of(tb) ? int(as_bar(tb)->tools_shown) : 0; }
void tickbar_refresh_tools(widget *tb) {
  tickbar *b = tickbar_of(tb);
  if (b && b->tools) tools_refresh_later(b->tools);
}

// ---- the widget ----

static int32_t ticker_height(tickbar *b) {
  size q = {0, 0};
  if (b->alerts_ticker) b->alerts_ticker->cls->reqsize(b->alerts_ticker, &q);
  return q.h;
}

static int32_t visible_count(const tickbar *b) { return __builtin_popcount(b->visible & 0x1F); }

static void tb_reqsize(widget *self, size *out) {
  tickbar *b = as_bar(self);
  size tools = {0, 0};
  if (b->tools_shown && b->tools) b->tools->cls->reqsize(b->tools, &tools);
  *out = {0, ticker_height(b) * visible_count(b) + tools.h};
}

static void tb_layout(container *self) {
  tickbar *b = as_bar(self);
  const int32_t h = ticker_height(b);
  int32_t y = b->r.y;
  auto place = [&](ticker *t, bool shown) {
    if (!t) return;
    if (shown) {
      t->r = {b->r.x, y, b->r.w, h};
      y += h;
    } else {
      t->r = {b->r.x, b->r.y, b->r.w, 0};
    }
  };
  place(b->alerts_ticker, b->visible & kTickbarAlertsBit);
  for (int i = 0; i < kMarketTickers; i++) place(b->tickers[i], (b->visible >> i) & 1);
  if (b->tools) b->tools->r = {b->r.x, y, b->r.w, b->r.y + b->r.h - y};
}

static void tb_show_children(widget *self) {
  tickbar *b = as_bar(self);
  each_ticker(b, [b](ticker *t) {
    if (t->show_type == TICKER_SHOW_AUTO) {
      if (ticker_auto_visible(t) == 2)
        b->visible |= bit_of(b, t);
      else
        b->visible &= ~bit_of(b, t);
    }
    if (b->visible & bit_of(b, t)) widget_show_subtree(t);
  });
  if (b->tools_shown) make_tools(b);
  if (b->tools_shown && b->tools) widget_show_subtree(b->tools);
}

static void tb_hide_children(widget *self) {
  tickbar *b = as_bar(self);
  each_ticker(b, [](ticker *t) { widget_hide_subtree(t); });
  if (b->tools) widget_hide_subtree(b->tools);
}

static void tb_draw(widget *self) {
  tickbar *b = as_bar(self);
  each_ticker(b, [](ticker *t) {
    if (widget_is_shown(t) && t->r.h > 0) widget_draw(t);
  });
  if (b->tools && b->tools_shown && widget_is_shown(b->tools) && b->tools->r.h > 0) widget_draw(b->tools);
}

static void tb_release(widget *self, int32_t, int32_t, int button) {
  if (button == 2) tickbar_toggle_tools(self);
}

static void tickbar_class_init(object_class *rec) {
  auto *c = static_cast<box_class *>(rec);
  c->reqsize = tb_reqsize;
  c->layout = tb_layout;
  c->show_children = tb_show_children;
  c->hide_children = tb_hide_children;
  c->draw = tb_draw;
  c->release = tb_release;
}

static typeid_t register_tickbar() {
  return object_register_class("tickbar", box_type(), sizeof(tickbar), nullptr, nullptr, sizeof(box_class),
                               tickbar_class_init, nullptr);
}

// ---- posting alerts ----

template <class F>
static int each_alerts_ticker(F fn) {
  for (int n = 0; n < kScreens; n++) {
    if (!screen_is_open(n)) continue;
    screen *s = screen_get(n);
    tickbar *b = s ? tickbar_of(s->tickbar) : nullptr;
    if (b && widget_is_shown(b) && (b->visible & kTickbarAlertsBit)) fn(b->alerts_ticker);
  }
  return 0;
}

int screen_alert_low(instr *in, uint32_t price) {
  return each_alerts_ticker([&](ticker *t) { ticker_add_alert_low(t, in, price); });
}
int screen_alert_high(instr *in, uint32_t price) {
  return each_alerts_ticker([&](ticker *t) { ticker_add_alert_high(t, in, price); });
}
int screen_alert_volume(instr *in, uint64_t volume) {
  return each_alerts_ticker([&](ticker *t) { ticker_add_alert_volume(t, in, volume); });
}
int screen_alert_news(instr *in, ss_news *item) {
  return each_alerts_ticker([&](ticker *t) { ticker_add_alert_news(t, in, item); });
}
int screen_alert_seen(instr *in) {
  for (int n = 0; n < kScreens; n++) {
    screen *s = screen_get(n);
    if (tickbar *b = s ? tickbar_of(s->tickbar) : nullptr) ticker_mark_alert_seen(b->alerts_ticker, in);
  }
  screen_desktops_changed();
  return 0;
}

static void alerts_changed() { screen_mark_changed(); }

static const alerts_screen_hooks kAlertHooks = {screen_alert_low,  screen_alert_high, screen_alert_volume,
                                                screen_alert_news, screen_alert_seen, alerts_changed};

widget *tickbar_new(widget *screen) {
  tickbar *b = static_cast<tickbar *>(widget_new(screen, tickbar_type()));
  if (!b) return nullptr;
  b->on = 1;
  for (int i = 0; i < kMarketTickers; i++) b->tickers[i] = ticker_new(b, 0);
  b->alerts_ticker = ticker_new(b, 1);
  each_ticker(b, [](ticker *t) { widget_hide(t); });
  alerts_set_screen_hooks(&kAlertHooks);
  return b;
}

// ---- configuration ----

void tickbar_save(widget *tb) {
  tickbar *b = tickbar_of(tb);
  if (!b) return;
  config_printf("tickbar.show %b", b->on);
  config_printf("tickbar.show_tools %b", b->tools_shown);
  config_out_push("tickbar");
  for (int i = 0; i < kMarketTickers; i++) {
    config_printf("ticker %d", i);
    config_out_push("ticker");
    ticker_save(b->tickers[i]);
    config_out_pop();
  }
  config_printf("alerts_ticker");
  config_out_push("alerts_ticker");
  ticker_save(b->alerts_ticker);
  config_out_pop();
  config_out_pop();
}

void tickbar_load(widget *tb) {
  tickbar *b = tickbar_of(tb);
  if (!b || !config_enter("tickbar")) return;
  while (config_next()) {
    int on = config_get_bool("show");
    if (config_found()) b->on = on ? 1 : 0;
    int tools = config_get_bool("show_tools");
    if (config_found()) b->tools_shown = tools ? 1 : 0;
    if (config_enter("ticker")) {
      while (config_next()) {
        int32_t i = config_arg_int(0);
        if (i >= 0 && i < kMarketTickers) ticker_load(b->tickers[i]);
      }
      config_leave();
    }
    if (config_enter("alerts_ticker")) {
      while (config_next()) ticker_load(b->alerts_ticker);
      config_leave();
    }
  }
  config_leave();
}

// ---- the screen frame's names ----

int32_t tickbar_ticker_show(widget *tb, int i) {
  tickbar *b = tickbar_of(tb);
  if (!b || i < 0 || i >= kTickers) return TICKER_HIDE;
  ticker *t = i == 0 ? b->alerts_ticker : b->tickers[i - 1];
  return t ? int32_t(t->show_type) : TICKER_HIDE;
}

void tickbar_set_ticker_show(widget *tb, int i, int32_t state) {
  tickbar *b = tickbar_of(tb);
  if (!b || i < 0 || i >= kTickers) return;
  ticker *t = i == 0 ? b->alerts_ticker : b->tickers[i - 1];
  if (t) ticker_set_show(t, uint32_t(state));
}

bool tickbar_any_visible(widget *tb) {
  tickbar *b = tickbar_of(tb);
  return b && (b->visible & 0x1F) != 0;
}

bool tickbar_moving(widget *tb) { return tickbar_is_moving(tb) != 0; }
void tickbar_step(widget *tb) { tickbar_advance(tb); }
