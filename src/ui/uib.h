// The UI builder: turns one variadic call into a tree of widgets. The caller
// passes a stream of tokens, each a 32-bit integer followed by its own
// arguments (ints, text and other pointers, floats passed as double), and
// the builder creates containers and leaves in order, nesting each new one
// in the container open at that point. The token numbers and argument lists
// are a shared interface: every dialog, panel and page is written this way.
//
// The builder's settings (button flags, colour sets, radio group, styles,
// callbacks) outlive a build; only the depth and the selected label style
// are reset when a build starts, so a build can continue settings of an
// earlier one, and uib_build_more continues an unfinished tree. Main thread
// only; builds must not interleave.
#pragma once

#include <cstdint>

#include "ui/widget.h"

constexpr int kUibStack = 32;
constexpr uint32_t kUibEndIf = 0xDEADBEAF;  // the word after an end-of-if token

// Tokens.
enum : int32_t {
  UIB_END = 1, UIB_CLOSE = 2, UIB_STORE = 3, UIB_STORE_CONTAINER = 4, UIB_IF = 5, UIB_ENDIF = 6,
  UIB_HBOX = 10, UIB_VBOX = 11, UIB_FBOX = 12, UIB_GRID = 13, UIB_DECK = 14,
  UIB_BUTTON = 30, UIB_BUTTON0 = 31, UIB_BUTTON1 = 32, UIB_COLOURS0 = 33, UIB_COLOURS1 = 34,
  UIB_DEF_COLOURS0 = 35, UIB_DEF_COLOURS1 = 36, UIB_FLAGS_SET = 37, UIB_FLAGS_CLEAR = 38,
  UIB_FLAGS_PUSH_SET = 39, UIB_FLAGS_PUSH_CLEAR = 40, UIB_FLAGS_POP = 41, UIB_BUTTON_CALLBACK = 42,
  UIB_RADIO = 43, UIB_RADIO_END = 44, UIB_ICON = 45, UIB_ICON0 = 46, UIB_ICON1 = 47,
  UIB_INSENSITIVE = 48, UIB_BUTTON2 = 49,
  UIB_FLYAWAY = 50, UIB_FLYAWAY0 = 51, UIB_FLYAWAY1 = 52, UIB_FLY_STYLE0 = 53,
  UIB_FLY_STYLE1 = 54, UIB_DEF_FLY0 = 55, UIB_DEF_FLY1 = 56, UIB_CAPTION = 57,
  UIB_ADD = 60, UIB_SIZER = 61, UIB_BIN = 62, UIB_HIDER = 63,
  UIB_TEXTBOX = 70, UIB_TEXTBOX0 = 71, UIB_TEXTBOX1 = 72, UIB_TB_STYLE0 = 73, UIB_TB_STYLE1 = 74,
  UIB_DEF_TB0 = 75, UIB_DEF_TB1 = 76, UIB_TB_CALLBACK = 77,
  UIB_SPINNER = 80, UIB_SPINNER0 = 81, UIB_SPINNER1 = 82, UIB_SPIN_STYLE0 = 83,
  UIB_SPIN_STYLE1 = 84, UIB_DEF_SPIN0 = 85, UIB_DEF_SPIN1 = 86, UIB_SPIN_CALLBACK = 87,
  UIB_TIME = 90, UIB_TIME0 = 91, UIB_TIME1 = 92, UIB_TIME_STYLE0 = 93, UIB_TIME_STYLE1 = 94,
  UIB_DEF_TIME0 = 95, UIB_DEF_TIME1 = 96, UIB_TIME_CALLBACK = 97,
  UIB_SPAN = 100,
  UIB_LABEL = 110, UIB_LABEL0 = 111, UIB_LABEL3 = 114, UIB_LABEL_STYLE0 = 115,
  UIB_LABEL_STYLE3 = 118, UIB_DEF_LABEL0 = 119, UIB_DEF_LABEL3 = 122,
};

// Starts a build (WARN "still building something" when containers are
// open; depth and label style back to 0), interprets the stream from
// `first` and returns the root: entry 0 when at most one container is
// still open at the end, else null after ERROR "underflow @ %d". Null after
// a token error. An unknown token is FATAL ("bad ui token %d").
widget *uib_build(int32_t first, ...);
// Goes on inside the containers still open, resetting nothing. 0, or -1
// after a token error.
int uib_build_more(int32_t first, ...);
// WARN "still building something" when containers are open; depth and
// label style to 0. 0.
int uib_reset();
// As the end of uib_build: the root, or null with "underflow @ %d".
widget *uib_result();

// The open depth (containers open), for checks.
int uib_depth();
// The current button flags (the top of the flag stack).
uint32_t uib_button_flags();
