// The tickbar: the strip at the top of every screen (screen bar 0x2) that
// stacks the alerts ticker and four market tickers, each one line high, the
// alerts ticker on top. A ticker's show type decides whether it is visible;
// the tickbar is as tall as its visible tickers. Main thread only.
#pragma once

#include <cstdint>

#include "screen/ticker.h"
#include "ui/box.h"

constexpr int kMarketTickers = 4;
constexpr uint32_t kTickbarAlertsBit = 0x10;  // bit of the alerts ticker in `visible`

struct tickbar : box {
  uint32_t on;       // the user's on/off setting ("tickbar.show")
  uint32_t visible;  // bit i: market ticker i visible; bit 4: the alerts ticker
  ticker *tickers[kMarketTickers];
  ticker *alerts_ticker;
  uint32_t tools_shown;  // "tickbar.show_tools"
  widget *tools;         // the ticker tool panel, made when first shown
};

typeid_t tickbar_type();
tickbar *tickbar_of(widget *w);  // w itself when it is a tickbar, else null
widget *tickbar_new(widget *screen);
ticker *tickbar_get_ticker(widget *tb, int i);  // null past 3
ticker *tickbar_alert_ticker(widget *tb);
void tickbar_show_ticker(widget *tb, ticker *t);
void tickbar_hide_ticker(widget *tb, ticker *t);
int tickbar_is_on(widget *tb);
void tickbar_set_on(widget *tb, int on);  // records it, shows or hides bar 0x2
void tickbar_set_on_quiet(widget *tb, int on);
int tickbar_ticker_visible(widget *tb, int i);
int tickbar_alert_ticker_visible(widget *tb);
int tickbar_is_moving(widget *tb);
void tickbar_reset(widget *tb);  // unfreezes all five
void tickbar_advance(widget *tb);
// Re-applies the "auto" show types and relays out the tickbar's screen
// (pushed and popped, so the current screen stays current).
void tickbar_relayout(widget *tb);
void tickbar_show_tools(widget *tb);
void tickbar_hide_tools(widget *tb);
void tickbar_toggle_tools(widget *tb);
int tickbar_tools_shown(widget *tb);
void tickbar_refresh_tools(widget *tb);

// Configuration of the screen's tickbar: "tickbar.show", "tickbar.show_tools",
// "tickbar.ticker %d" blocks and "tickbar.alerts_ticker".
void tickbar_save(widget *tb);
void tickbar_load(widget *tb);

// What the screen frame calls (kept under the names it uses): ticker i is 0
// for the alerts ticker and 1 + k for market ticker k.
constexpr int kTickers = 5;
enum : int32_t { TICKER_HIDE = 0, TICKER_SHOW = 2 };
int32_t tickbar_ticker_show(widget *tb, int i);
void tickbar_set_ticker_show(widget *tb, int i, int32_t state);
bool tickbar_any_visible(widget *tb);
bool tickbar_moving(widget *tb);
void tickbar_step(widget *tb);

// Posting the alerts to the alerts ticker of every open screen whose
// tickbar is shown and whose alerts ticker is visible. Each returns 0.
int screen_alert_low(instr *in, uint32_t price);
int screen_alert_high(instr *in, uint32_t price);
int screen_alert_volume(instr *in, uint64_t volume);
int screen_alert_news(instr *in, ss_news *item);
int screen_alert_seen(instr *in);
