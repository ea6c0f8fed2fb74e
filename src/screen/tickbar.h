// The tickbar: the alerts ticker and four market tickers across the top of a screen.
//
// Minimal version: a placeholder of the real type name and size (see
// screen/placeholder.h); the module itself comes with its own issue.
#pragma once

#include <cstdint>

#include "ui/widget.h"

constexpr int kTickers = 5;  // 0 the alerts ticker, 1-4 market tickers 0-3
enum : int32_t { TICKER_HIDE = 0, TICKER_SHOW = 2 };
widget *tickbar_new(widget *screen);
// Show state of ticker i (0 alerts, 1 + k market ticker k).
int32_t tickbar_ticker_show(widget *tb, int i);
void tickbar_set_ticker_show(widget *tb, int i, int32_t state);
bool tickbar_any_visible(widget *tb);
bool tickbar_moving(widget *tb);
void tickbar_step(widget *tb);
