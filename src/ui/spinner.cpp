// The two spinners share their pointer handling, blinking and drawing
// (templates over the two records, whose fields of the same job share
// names); they differ in their value arithmetic. The value of a `spinner`
// always equals what it shows: every change is formatted with the decimals
// and read back. Typing into a spinner starts from an empty text; typing
// into a time spinner starts from the current "h:mm".
//
// Slots of both classes: reqsize, draw, show_children, hide_children,
// press, release, motion, leave, key_press.
#include "ui/spinner.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/timer.h"
#include "ui/gui.h"
#include "ui/key.h"

namespace {

constexpr int32_t kArrow = 9;  // pixels of each arrow zone

widget_class *widget_record() {
  return static_cast<widget_class *>(object_class_record(widget_type()));
}

// ---- float arithmetic ----

bool bounded(float b) { return std::fabs(b) != FLT_MAX; }

// Clamps, formats with the decimals and reads the text back; true when it
// had to clamp.
bool settle(spinner *s, float v) {
  bool clamped = false;
  if (bounded(s->minimum) && v < s->minimum) v = s->minimum, clamped = true;
  if (bounded(s->maximum) && v > s->maximum) v = s->maximum, clamped = true;
  snprintf(s->text, sizeof s->text, "%.*f", s->decimals, double(v));
  if (sscanf(s->text, "%f", &v) == 1) s->value = v;
  return clamped;
}

void tell(spinner *s) {
  if (s->callback) s->callback(s, s->arg, s->id);
}
void tell(time_spinner *s) {
  if (s->callback) s->callback(s, s->arg, s->id);
}

void step(spinner *s, bool up) {
  float v = up ? s->value + s->step : s->value - s->step;
  if ((bounded(s->minimum) && v < s->minimum) || (bounded(s->maximum) && v > s->maximum)) return;
  settle(s, v);
  widget_redraw(s);
  tell(s);
}

// ---- time arithmetic ----

void set_hm(time_spinner *s, int h, int m) {
  s->hours = h;
  s->minutes = m;
  s->value = h * 100 + m;
}

int clamp_time(time_spinner *s, int v) { return std::clamp(v, s->minimum, std::max(s->minimum, s->maximum)); }

// A spinner whose range reaches 24:00 (a span of a whole day rather than a
// time of day) may show 24:00 itself; every other one stops at 23:59.
bool reaches_day(const time_spinner *s) { return s->maximum >= 2400; }

void step(time_spinner *s, bool up) {
  int h = s->hours, m = s->minutes, st = s->step;
  if (!up) {
    if (m < st) {
      if (h >= 1)
        h--, m += 60 - st;
      else
        m = 0;
    } else {
      m -= st;
    }
  } else {
    if (m >= 60 - st) {
      if (h < 23)
        h++, m += st - 60;
      else if (h == 23 && reaches_day(s))
        h = 24, m = 0;
      else
        m = 59;
    } else {
      m += st;
    }
  }
  int v = h * 100 + m;
  if (v < s->minimum || v > s->maximum) return;
  set_hm(s, h, m);
  widget_redraw(s);
  tell(s);
}

// ---- editing ----

void begin_text(spinner *s) { s->text[0] = 0; }
void begin_text(time_spinner *s) {
  snprintf(s->text, sizeof s->text, "%d:%02d", s->hours, s->minutes);
}

int blink(void *arg, uint32_t, int64_t, float) {
  widget *w = static_cast<widget *>(arg);
  int32_t *phase = object_is_a(widget_obj(w), spinner_type())
                       ? &static_cast<spinner *>(w)->cursor_phase
                       : &static_cast<time_spinner *>(w)->cursor_phase;
  *phase ^= 1;
  widget_redraw(w);
  return 1;
}

template <class T>
void start_blink(T *s) {
  if (s->timer < 0) s->timer = timer_start(kSpinnerBlinkMs, blink, s, 0);
}
template <class T>
void stop_blink(T *s) {
  if (s->timer >= 0) timer_stop(s->timer);
  s->timer = -1;
}

template <class T>
void begin_edit(T *s) {
  if (!s->editing) begin_text(s);
  s->editing = 1;
  s->cursor_phase = 0;
  gui_set_focus(s);
  widget_redraw(s);
  start_blink(s);
}

void read_typed(spinner *s) {
  float v = 0;
  if (sscanf(s->text, "%f", &v) == 1)
    settle(s, v);
  else
    settle(s, s->value);  // nothing readable: the value stays
}

void read_typed(time_spinner *s) {
  int h = s->hours, m = s->minutes;
  if (strchr(s->text, ':')) {
    int a = h, b = m;
    int got = sscanf(s->text, "%d:%d", &a, &b);
    if (got >= 1) h = a;
    if (got == 2) m = b;
    if (got == 0 && s->text[0] == ':' && sscanf(s->text, ":%d", &b) == 1) m = b;
  } else {
    int n = 0;
    if (sscanf(s->text, "%d", &n) == 1) h = n / 100, m = n % 100;
  }
  h = std::clamp(h, 0, reaches_day(s) ? 24 : 23);
  m = h == 24 ? 0 : std::clamp(m, 0, 59);
  if (h < 12 && h < s->minimum / 100) h += 12;  // an afternoon time typed in 12-hour form
  int v = clamp_time(s, h * 100 + m);
  set_hm(s, v / 100, v % 100);
}

template <class T>
void commit(T *s) {
  s->editing = 0;
  read_typed(s);
  gui_unfocus(s);
  widget_redraw(s);
  tell(s);
  stop_blink(s);
}

bool append_ok(spinner *s, int c) {
  size_t n = strlen(s->text);
  if (isdigit(c)) return n <= 63;
  if (c == '.') return n <= 63 && !strchr(s->text, '.');
  return false;
}
bool append_ok(time_spinner *s, int c) {
  return (isdigit(c) || c == ':') && strlen(s->text) <= 4;
}

bool read_only(spinner *s) { return s->read_only; }
bool read_only(time_spinner *) { return false; }

template <class T>
void key_press(widget *self, key_event *k) {
  T *s = static_cast<T *>(self);
  if (!s->editing) {
    widget_record()->key_press(self, k);
    return;
  }
  if (k->code == 1001) {
    commit(s);
    return;
  }
  if (k->code == 1002) {
    size_t n = strlen(s->text);
    if (n) s->text[n - 1] = 0;
    widget_redraw(s);
    return;
  }
  if (k->code == kKeyCharacter && !(k->mods & ~uint32_t(KEY_MOD_SHIFT))) {
    int c = key_to_char(k->ch, k->mods);
    if (append_ok(s, c)) {
      size_t n = strlen(s->text);
      s->text[n] = char(c);
      s->text[n + 1] = 0;
      widget_redraw(s);
      return;
    }
    if (isdigit(c) || c == '.' || c == ':') return;  // a full text takes no more
  }
  widget_record()->key_press(self, k);
}

// ---- pointer ----

template <class T>
void press(widget *self, int32_t, int32_t, int) {
  static_cast<T *>(self)->pressed = 1;
  widget_redraw(self);
}

template <class T>
void release(widget *self, int32_t x, int32_t y, int) {
  T *s = static_cast<T *>(self);
  s->pressed = 0;
  const rect &r = s->r;
  if (x < r.x || x >= r.x + r.w || y < r.y || y >= r.y + r.h || read_only(s)) {
    widget_redraw(s);
    return;
  }
  if (x > r.x + 8 && x < r.x + r.w - 9)
    begin_edit(s);
  else if (s->editing)
    commit(s);
  else
    step(s, x >= r.x + r.w / 2);
}

template <class T>
void motion(widget *self, int32_t x, int32_t) {
  T *s = static_cast<T *>(self);
  const rect &r = s->r;
  int32_t zone = x < r.x + kArrow ? SPIN_LEFT : x > r.x + r.w - 10 ? SPIN_RIGHT : SPIN_MIDDLE;
  if (zone == s->hover) return;
  s->hover = zone;
  widget_redraw(s);
}

template <class T>
void leave(widget *self) {
  T *s = static_cast<T *>(self);
  if (!s->hover && !s->pressed) return;
  s->hover = 0;
  s->pressed = 0;
  widget_redraw(s);
}

template <class T>
void show_children(widget *self) {
  T *s = static_cast<T *>(self);
  if (s->editing) start_blink(s);
}
template <class T>
void hide_children(widget *self) {
  stop_blink(static_cast<T *>(self));
}

// ---- size and drawing ----

int32_t font_of(spinner *s) { return s->style[0]; }
int32_t font_of(time_spinner *s) { return s->font; }
const char *sample(spinner *) { return "X: XXXX"; }
const char *sample(time_spinner *) { return "X: XX:XX"; }

template <class T>
void reqsize(widget *self, size *out) {
  T *s = static_cast<T *>(self);
  int32_t font = font_of(s), a[2] = {0, 0}, b[2] = {0, 0}, ascent = 0, descent = 0;
  font_text_size(a, font, s->label);
  font_text_size(b, font, sample(s));
  font_metrics(nullptr, nullptr, &ascent, &descent, font);
  out->w = a[0] + b[0] + 2 * (s->pad.left + s->pad.right);
  out->h = std::max({a[1], b[1], ascent + descent - 1}) + s->pad.top + s->pad.bottom;
}

void shown_text(spinner *s, char *out, size_t n) {
  snprintf(out, n, "%s%s%s", s->label, s->label[0] ? " " : "", s->text);
}
void shown_text(time_spinner *s, char *out, size_t n) {
  if (s->editing)
    snprintf(out, n, "%s%s%s", s->label, s->label[0] ? " " : "", s->text);
  else
    snprintf(out, n, "%s%s%d:%02d", s->label, s->label[0] ? " " : "", s->hours, s->minutes);
}

template <class T>
void draw(widget *self) {
  T *s = static_cast<T *>(self);
  const rect &r = s->r;
  colour ink = s->style[1] ? colour(s->style[1]) : 0xffffffffu;
  colour bg = s->parent ? container_get_bg(static_cast<container *>(s->parent)) : 0;
  if (s->style[2] || s->style[3]) panel_draw(&r, colour(s->style[2]), colour(s->style[3]), bg, s->style[6]);
  if (s->hover == SPIN_LEFT || s->hover == SPIN_RIGHT) {
    int32_t x = s->hover == SPIN_LEFT ? r.x : r.x + r.w - kArrow;
    if (s->style[5]) gfx_fill_rect(x, r.y, kArrow, r.h, colour(s->style[5]));
  }
  colour arrow = s->style[4] ? colour(s->style[4]) : ink;
  int32_t mid = r.y + r.h / 2;
  gfx_triangle_left(r.x + 2, mid, 3, arrow);
  gfx_triangle_right(r.x + r.w - 3, mid, 3, arrow);
  char text[160];
  shown_text(s, text, sizeof text);
  rect out = {0, 0, 0, 0};
  int32_t ascent = 0, descent = 0;
  font_metrics(nullptr, nullptr, &ascent, &descent, font_of(s));
  int32_t base = r.y + (r.h - (ascent + descent)) / 2 + ascent;
  font_draw(text, r.x + r.w / 2, base, 2, font_of(s), ink, &out);
  if (s->editing && !s->cursor_phase) gfx_fill_rect(out.x + out.w + 1, base - ascent, 1, ascent + descent, ink);
}

template <class T>
void class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->reqsize = reqsize<T>;
  c->draw = draw<T>;
  c->show_children = show_children<T>;
  c->hide_children = hide_children<T>;
  c->press = press<T>;
  c->release = release<T>;
  c->motion = motion<T>;
  c->leave = leave<T>;
  c->key_press = key_press<T>;
}

// Focus taken elsewhere while typing commits what was typed.
void focus_lost(widget *w) {
  if (object_is_a(widget_obj(w), spinner_type())) {
    if (static_cast<spinner *>(w)->editing) commit(static_cast<spinner *>(w));
  } else if (object_is_a(widget_obj(w), time_spinner_type())) {
    if (static_cast<time_spinner *>(w)->editing) commit(static_cast<time_spinner *>(w));
  }
}

void spinner_class_init(object_class *rec) {
  class_init<spinner>(rec);
  gui_add_unfocus_hook(focus_lost);
}
void time_spinner_class_init(object_class *rec) {
  class_init<time_spinner>(rec);
  gui_add_unfocus_hook(focus_lost);
}

template <class T>
void fini(object *obj) {
  stop_blink(reinterpret_cast<T *>(obj));
}

void spinner_init(object *obj) {
  spinner *s = reinterpret_cast<spinner *>(obj);
  s->minimum = s->maximum = FLT_MAX;
  s->step = 1.0f;
  s->timer = -1;
}
void time_spinner_init(object *obj) {
  time_spinner *s = reinterpret_cast<time_spinner *>(obj);
  s->maximum = 1159;
  s->step = 5;
  s->timer = -1;
}

typeid_t register_spinner() {
  return object_register_class("spinner", widget_type(), sizeof(spinner), spinner_init,
                               fini<spinner>, sizeof(widget_class), spinner_class_init, nullptr);
}
typeid_t register_time_spinner() {
  return object_register_class("time_spinner", widget_type(), sizeof(time_spinner),
                               time_spinner_init, fini<time_spinner>, sizeof(widget_class),
                               time_spinner_class_init, nullptr);
}

template <class T>
void copy_style(T *s, const int32_t *style, const padding *pad) {
  if (style) memcpy(s->style, style, sizeof s->style);
  padding_copy(&s->pad, pad);
}

}  // namespace

typeid_t spinner_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_spinner);
}

spinner *spinner_new(widget *parent, const char *label, int decimals, const int32_t *style,
                     const padding *pad, spinner_fn callback, void *arg, int32_t id, float value,
                     float minimum, float maximum, float step) {
  auto *s = static_cast<spinner *>(widget_new(parent, spinner_type()));
  if (!s) return nullptr;
  snprintf(s->label, sizeof s->label, "%s", label ? label : "");
  s->decimals = std::clamp(decimals, 0, 20);
  copy_style(s, style, pad);
  s->callback = callback;
  s->arg = arg;
  s->id = id;
  s->minimum = minimum;
  s->maximum = maximum;
  s->step = step;
  s->value = value;
  snprintf(s->text, sizeof s->text, "%.*f", s->decimals, double(value));
  return s;
}

float spinner_value(spinner *s) { return s->value; }
int spinner_value_int(spinner *s) { return int(s->value); }
int spinner_decimals(spinner *s) { return s->decimals; }

int spinner_set_value(spinner *s, float value) {
  int r = settle(s, value) ? -1 : 0;
  widget_redraw(s);
  return r;
}

void spinner_set_range(spinner *s, int decimals, float minimum, float maximum, float step) {
  s->decimals = std::clamp(decimals, 0, 20);
  s->minimum = minimum;
  s->maximum = maximum;
  s->step = step;
  settle(s, s->value);
  widget_redraw(s);
}

void spinner_set_editable(spinner *s, int on) {
  if (!on && s->editing) commit(s);
  s->read_only = on ? 0 : 1;
  widget_redraw(s);
}

typeid_t time_spinner_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_time_spinner);
}

time_spinner *time_spinner_new(widget *parent, const char *label, int value, int minimum,
                               int maximum, const int32_t *style, const padding *pad,
                               time_spinner_fn callback, void *arg, int32_t id) {
  auto *s = static_cast<time_spinner *>(widget_new(parent, time_spinner_type()));
  if (!s) return nullptr;
  snprintf(s->label, sizeof s->label, "%s", label ? label : "");
  int h = value >= 2400 ? 23 : std::max(value, 0) / 100;
  int m = std::min(std::max(value, 0) % 100, 59);
  set_hm(s, h, m);
  s->minimum = minimum;
  s->maximum = maximum;
  copy_style(s, style, pad);
  s->callback = callback;
  s->arg = arg;
  s->id = id;
  return s;
}

int time_spinner_value(time_spinner *s) { return s->value; }

int time_spinner_set_value(time_spinner *s, int value) {
  int v = clamp_time(s, value);
  int h = std::clamp(v / 100, 0, 23), m = std::clamp(v % 100, 0, 59);
  if (v >= 2400 && reaches_day(s)) h = 24, m = 0;
  set_hm(s, h, m);
  widget_redraw(s);
  return v != value ? -1 : 0;
}

void time_spinner_set_font(time_spinner *s, int32_t font) {
  s->font = font;
  if (s->parent) s->parent->cls->geometry_changed(s->parent);
  widget_redraw(s);
}

void time_spinner_set_step(time_spinner *s, int minutes) { s->step = std::clamp(minutes, 1, 59); }
