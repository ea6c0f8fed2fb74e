// The text box: one-line text entry of up to 255 characters with a cursor,
// focus handling, an optional numeric mode (digits, a point and magnitude
// letters k/m/b/t), a password mode, a blinking cursor, an error flash for
// refused characters, and a callback told of changes (0), Enter (1) and
// leaving the box (2). Tab moves the focus to the next editable text box
// under the same parent. Main thread only.
#pragma once

#include <cstdint>

#include "lib/gmap.h"
#include "ui/container.h"  // padding
#include "ui/widget.h"

constexpr int kTextboxMax = 255;
constexpr int kTextboxStyle = 12;
constexpr int kTextboxBlinkMs = 250;

// Flags.
enum : uint32_t {
  TEXTBOX_CLEAR_ALL = 1,  // clearing the text clears the whole buffer
  TEXTBOX_NUMERIC = 2,    // digits and a point only
  TEXTBOX_MAGNITUDE = 4,  // with 2: b, k, m, t (either case) at the end
  TEXTBOX_PLAIN = 8,      // numbers shown without magnitude letters
  TEXTBOX_NO_BAR = 16,    // "|" is refused
  TEXTBOX_PASSWORD = 32,  // shown as one '*' per character
};

// Callback codes.
enum : int { TEXTBOX_CHANGED = 0, TEXTBOX_ENTER = 1, TEXTBOX_LEFT = 2 };

struct textbox;
using textbox_fn = void (*)(textbox *t, int code, void *arg, int32_t id);

// Style integers: 0 text bits (1 right, 2 centred, 0x1000 one more pixel of
// width), 1 font, 2 picture behind the text (negative none), 3-5 panel fill,
// outline (also the text colour) and relief while editable, 6-8 while
// focused, 9-11 while read-only.
struct textbox : widget {
  char text[kTextboxMax + 1];
  int32_t length, cursor;
  int32_t width;       // half-ems
  int32_t max_length;  // 0-255
  uint32_t tflags;
  int32_t style[kTextboxStyle];
  padding pad;
  textbox_fn callback;
  void *arg;
  int32_t id;
  int32_t editable;
  int32_t error_flash;
  int32_t cursor_shown, blink_phase;
  int32_t timer;  // -1 none
  gmap list;
  int32_t text_changed;    // the text must be laid out again before drawing
  int32_t laid_x, laid_y;  // where the list's text starts (left edge, baseline)
  uint32_t layouts;        // times the text was laid out (for checks)
};

typeid_t textbox_type();
// size 0-255: width and maximum length; negative: width -size, maximum 255;
// 256 or more: 255 for both. style: 12 integers (null: zeros).
textbox *textbox_new(widget *parent, const char *text, int size, uint32_t flags,
                     const int32_t *style, const padding *pad, textbox_fn callback, void *arg,
                     int32_t id);
const char *textbox_text(textbox *t);
int textbox_is_empty(textbox *t);
int textbox_is_editable(textbox *t);
void textbox_enable(textbox *t);
void textbox_disable(textbox *t);  // drops the focus when the box has it
void textbox_set_editable(textbox *t, int on);
// At most 255 characters; null: empty (with flag 1 the whole buffer is
// cleared). Length and cursor go to the end.
void textbox_set_text(textbox *t, const char *text);
// "%.6f" without trailing zeros, whole numbers shortened by k/m/b unless
// flag 8 (1500000 -> 1.5m, 0 -> empty).
void textbox_set_number(textbox *t, double value);
// The text as a number with its magnitude letter applied; 0 for an empty
// text, 0 after ERROR "can't parse %s" for one without a number.
double textbox_get_number(textbox *t);
uint32_t textbox_flags(textbox *t);
void textbox_add_flags(textbox *t, uint32_t bits);
void textbox_set_font(textbox *t, int32_t font);

// The text of a number as textbox_set_number makes it (out: 64 bytes).
void textbox_format_number(char *out, double value, uint32_t flags);
// Where pastes come from: launch_clipboard_get unless a test installs its
// own. Returns the old one.
using textbox_clip_fn = int (*)(char *buffer, uint32_t *size);
textbox_clip_fn textbox_set_clipboard(textbox_clip_fn fn);
