// The progress page of the configuration dialog: follows a login or a logout
// with the client's status line and a percentage bar, and offers "Stop" once
// the wait has lasted 2.5 seconds. Main thread.
#pragma once
#include <cstdint>

#include "ui/container.h"

struct button;
struct hider;
struct label;
struct sizer;

// Modes: 0 login in progress, 1 logout in progress, 2 complete; other values
// draw as half done.
struct progress_page : bin {
  int32_t timer;      // -1 none
  int32_t mode;
  label *status;
  sizer *bar;         // the bar area
  hider *stop_hider;
  button *stop;
  uint64_t base;      // bytes received when the login began
};

typeid_t progress_page_type();
progress_page *progress_page_new(widget *parent);
void progress_page_set_mode(progress_page *p, int32_t mode);
// The percentage the page draws now.
int32_t progress_page_value(progress_page *p);

// Login progress from the steps expected (n), the current step count (c) and
// the count when the login began (b): 0 when n < 1 or c <= b, else
// (c - b) * 100 / n, read as 100 from 99 on.
int32_t progress_login_percent(int64_t n, int64_t c, int64_t b);
// The percentage of a mode, given the login progress.
int32_t progress_mode_percent(int32_t mode, int32_t login);
// Whether "Stop" is to be shown after t seconds in the mode, given whether it
// is shown already.
int progress_stop_shown(float t, int32_t mode, int shown);
