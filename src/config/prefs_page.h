// The preferences page of the configuration dialog: the default exchange,
// the automatic-login options, reconnection, font size, drawing quality, the
// highlight time and the graphics driver workarounds. Each control acts at
// once and records the choice in the local settings, which are saved when a
// changed page is hidden. Main thread.
#pragma once
#include "ui/button.h"
#include "ui/container.h"

struct spinner;

struct prefs_page : bin {
  button *exchange[2];       // "ASX", "NZX": commands 0, 1
  button *remember_user;     // "Username": 0
  button *remember_password; // "Password": 1
  spinner *reconnect;        // minutes * 100 + seconds
  button *forever;           // 11
  button *font_size[5];      // 6 to 10
  button *quality[3];        // 2 to 4
  button *hilight[5];        // 21, 26, 36, 46, 76
  button *software_gl;       // 13
  button *close_crash;       // 14
  button *copy_swaps;        // 15
  button *bug1;              // 5
  button *bug2;              // 12
  button_group groups[4];    // exchange, font size, quality, highlight time
  int32_t reconnect_shown;   // the number control's last value
  int32_t changed;
  int32_t refreshing;
};

typeid_t prefs_page_type();
prefs_page *prefs_page_new(widget *parent);
// Puts the settings in force into the controls (what showing the page does).
void prefs_page_refresh(prefs_page *p);
// The number control's value for a time-out in seconds, and back (minutes
// 0 to 99, seconds 0 to 59).
int32_t prefs_reconnect_to_control(int32_t seconds);
int32_t prefs_reconnect_from_control(int32_t value);
