// The text box. The text is laid out into the box's drawing list only when
// it, the font or the flags changed; when only the box moved (or its width
// moved the aligned text) the list is shifted instead. Each frame draws the
// panel, the list and the cursor. The blink timer runs while the box is shown: each
// tick clears the error flash and blinks the cursor of the focused box.
// Focus loss reaches the box through the gui's unfocus hook, which this
// class installs when it registers.
//
// Slots: reqsize, geometry_changed, restyle, draw, show_children,
//        hide_children, press, key_press.
#include "ui/textbox.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "log.h"
#include "ui/gui.h"
#include "ui/key.h"
#include "ui/launch-linux.h"

namespace {

const char kSrc[] = "src/ui/textbox";
constexpr int32_t kInset = 2;  // pixels between the padding and the text

struct textbox_state {
  textbox_clip_fn clip = launch_clipboard_get;
};
textbox_state S;

textbox *as_tb(widget *w) { return static_cast<textbox *>(w); }
widget_class *widget_record() {
  return static_cast<widget_class *>(object_class_record(widget_type()));
}

bool is_textbox(widget *w) { return w && object_is_a(widget_obj(w), textbox_type()); }

void tell(textbox *t, int code) {
  if (t->callback) t->callback(t, code, t->arg, t->id);
}

void relayout(textbox *t) {
  t->text_changed = 1;
  widget_redraw(t);
}

// What is shown: the text, or a '*' per character in password mode.
const char *shown(textbox *t, char *buf) {
  if (!(t->tflags & TEXTBOX_PASSWORD)) return t->text;
  memset(buf, '*', size_t(t->length));
  buf[t->length] = 0;
  return buf;
}

int32_t text_width(int32_t font, const char *s, int n) {
  char buf[kTextboxMax + 1];
  memcpy(buf, s, size_t(n));
  buf[n] = 0;
  int32_t sz[2] = {0, 0};
  font_text_size(sz, font, buf);
  return sz[0];
}

// The x of the text's left edge, by the alignment bits.
int32_t text_left(textbox *t) {
  char buf[kTextboxMax + 1];
  const char *s = shown(t, buf);
  int32_t inner_l = t->r.x + t->pad.left + kInset;
  int32_t inner_w = t->r.w - t->pad.left - t->pad.right - 2 * kInset;
  int32_t w = text_width(t->style[1], s, t->length);
  if (t->style[0] & 1) return inner_l + inner_w - w;
  if (t->style[0] & 2) return inner_l + (inner_w - w) / 2;
  return inner_l;
}

int32_t baseline(textbox *t) {
  int32_t ascent = 0, descent = 0;
  font_metrics(nullptr, nullptr, &ascent, &descent, t->style[1]);
  int32_t inner_h = t->r.h - t->pad.top - t->pad.bottom;
  return t->r.y + t->pad.top + (inner_h - (ascent + descent)) / 2 + ascent;
}

int blink(void *arg, uint32_t, int64_t, float) {
  textbox *t = static_cast<textbox *>(arg);
  t->error_flash = 0;
  if (t->editable && gui_has_focus(t)) {
    t->cursor_shown = 1;
    t->blink_phase ^= 1;
  } else if (t->cursor_shown) {
    t->cursor_shown = 0;
  }
  widget_redraw(t);
  return 1;
}

void restart_blink(textbox *t) {
  if (t->timer >= 0)
    timer_restart(t->timer);
  else if (widget_is_shown(t))
    t->timer = timer_start(kTextboxBlinkMs, blink, t, 0);
}

void stop_blink(textbox *t) {
  if (t->timer >= 0) timer_stop(t->timer);
  t->timer = -1;
}

void refuse(textbox *t) {
  t->error_flash = 1;
  restart_blink(t);
  widget_redraw(t);
}

// Inserts c at the cursor (refused when full or a barred "|").
void insert(textbox *t, int c) {
  if (t->length >= t->max_length || (c == '|' && (t->tflags & TEXTBOX_NO_BAR))) {
    refuse(t);
    return;
  }
  memmove(t->text + t->cursor + 1, t->text + t->cursor, size_t(t->length - t->cursor + 1));
  t->text[t->cursor] = char(c);
  t->cursor++;
  t->length++;
  relayout(t);
  tell(t, TEXTBOX_CHANGED);
}

bool magnitude_letter(int c) { return c && strchr("BKMTbkmt", c); }

// A typed character (shift already applied), numeric rules included.
void typed(textbox *t, int c, uint32_t mods) {
  if (!(t->tflags & TEXTBOX_NUMERIC)) {
    insert(t, c);
    return;
  }
  if (mods == 0 && (isdigit(c) || c == '.')) {
    insert(t, c);
  } else if ((t->tflags & TEXTBOX_MAGNITUDE) && magnitude_letter(c) && t->cursor == t->length) {
    insert(t, c);
  } else {
    refuse(t);
  }
}

void paste(textbox *t) {
  // One read for the usual short text; a second only for a longer one.
  std::vector<char> buf(1024, 0);
  uint32_t n = uint32_t(buf.size());
  int r = S.clip(buf.data(), &n);
  if (r != 0 && n > buf.size()) {
    buf.assign(n, 0);
    r = S.clip(buf.data(), &n);
  }
  if (r != 0) return;
  for (const char *p = buf.data(); *p; p++) {
    int c = (unsigned char)*p;
    typed(t, c < 32 || c == 127 ? ' ' : c, 0);
  }
  tell(t, TEXTBOX_CHANGED);
}

// The editable text boxes under w, depth-first.
void collect(widget *w, std::vector<textbox *> *out) {
  int n = w->cls->child_count(w);
  for (int i = 0; i < n; i++) {
    widget *c = w->cls->get_child(w, i);
    if (!c) continue;
    if (is_textbox(c)) {
      if (as_tb(c)->editable) out->push_back(as_tb(c));
    } else {
      collect(c, out);
    }
  }
}

void take_focus(textbox *t) {
  gui_set_focus(t);
  t->cursor_shown = 1;
  t->blink_phase = 0;
  restart_blink(t);
  widget_redraw(t);
}

// Tab: the next editable box under the same parent; false when this is the
// only one.
bool tab(textbox *t) {
  if (!t->parent) return false;
  std::vector<textbox *> boxes;
  collect(t->parent, &boxes);
  size_t i = 0;
  while (i < boxes.size() && boxes[i] != t) i++;
  if (boxes.size() < 2 || i == boxes.size()) return false;
  textbox *next = boxes[(i + 1) % boxes.size()];
  next->cursor = next->length;
  widget_redraw(t);
  take_focus(next);
  return true;
}

void t_key_press(widget *self, key_event *k) {
  textbox *t = as_tb(self);
  uint32_t mods = k->mods;
  int c = k->code == kKeyCharacter ? key_to_char(k->ch, mods & KEY_MOD_SHIFT) : 0;
  // Paste: the command key, or control as Linux users type it.
  if (k->code == kKeyCharacter && (mods & (KEY_MOD_COMMAND | KEY_MOD_CONTROL)) &&
      !(mods & KEY_MOD_ALT) && (c == 'v' || c == 'V') && t->editable) {
    paste(t);
    return;
  }
  if ((mods & ~uint32_t(KEY_MOD_SHIFT)) || k->code < 1001 || k->code > 1015 || !t->editable) {
    widget_record()->key_press(self, k);
    return;
  }
  switch (k->code) {
    case 1001:
      tell(t, TEXTBOX_ENTER);
      gui_unfocus(t);
      relayout(t);
      break;
    case 1002:
      if (t->cursor > 0) {
        memmove(t->text + t->cursor - 1, t->text + t->cursor, size_t(t->length - t->cursor + 1));
        t->cursor--;
        t->length--;
        relayout(t);
        tell(t, TEXTBOX_CHANGED);
      }
      break;
    case 1003:
      if (t->cursor < t->length) {
        memmove(t->text + t->cursor, t->text + t->cursor + 1, size_t(t->length - t->cursor));
        t->length--;
        relayout(t);
        tell(t, TEXTBOX_CHANGED);
      }
      break;
    case 1004:
      if (t->tflags & TEXTBOX_NUMERIC)
        refuse(t);
      else
        insert(t, ' ');
      break;
    case 1006:
      tell(t, TEXTBOX_LEFT);
      relayout(t);
      if (!tab(t)) widget_record()->key_press(self, k);
      break;
    case 1007: t->cursor = 0; widget_redraw(t); break;
    case 1008: t->cursor = t->length; widget_redraw(t); break;
    case 1013: if (t->cursor > 0) t->cursor--; widget_redraw(t); break;
    case 1014: if (t->cursor < t->length) t->cursor++; widget_redraw(t); break;
    case kKeyCharacter: typed(t, c, mods); break;
    default: break;
  }
}

void t_press(widget *self, int32_t x, int32_t, int) {
  textbox *t = as_tb(self);
  if (!t->editable) return;
  char buf[kTextboxMax + 1];
  const char *s = shown(t, buf);
  int32_t left = text_left(t) - font_glyph_width('a', t->style[1]) / 2;
  int i = 0;
  while (i < t->length && left + text_width(t->style[1], s, i + 1) <= x) i++;
  t->cursor = i;
  take_focus(t);
}

void t_reqsize(widget *self, size *out) {
  textbox *t = as_tb(self);
  int32_t em = 0, ascent = 0, descent = 0;
  font_metrics(&em, nullptr, &ascent, &descent, t->style[1]);
  out->w = em * t->width / 2 + ((t->style[0] & 0x1000) ? 1 : 0) + t->pad.left + t->pad.right;
  out->h = ascent + descent - 1 + t->pad.top + t->pad.bottom;
}

void t_geometry_changed(widget *self) { widget_redraw(self); }
void t_restyle(widget *self) { relayout(as_tb(self)); }

void t_show_children(widget *self) {
  textbox *t = as_tb(self);
  if (t->timer < 0) t->timer = timer_start(kTextboxBlinkMs, blink, t, 0);
}

void t_hide_children(widget *self) { stop_blink(as_tb(self)); }

// The panel set in use: read-only, focused or plain.
const int32_t *panel_values(textbox *t) {
  if (!t->editable) return t->style + 9;
  return gui_has_focus(t) ? t->style + 6 : t->style + 3;
}

void t_draw(widget *self) {
  textbox *t = as_tb(self);
  const int32_t *p = panel_values(t);
  colour fill = colour(p[0]), ink = colour(p[1]);
  colour bg = t->parent ? container_get_bg(static_cast<container *>(t->parent)) : 0;
  if (t->error_flash) fill = 0xff3030d0u;  // refused key: a red panel until the next blink
  if (fill || ink) panel_draw(&t->r, fill, ink, bg, p[2]);
  if (t->style[2] >= 0) {
    gfx_colour(colour(t->editable && gui_has_focus(t) ? t->style[6] : t->style[3]));
    tex_draw_rect(t->style[2], &t->r);
  }
  char buf[kTextboxMax + 1];
  const char *s = shown(t, buf);
  int32_t left = text_left(t), base = baseline(t);
  if (t->text_changed) {
    gmap_begin(&t->list, uint32_t(t->length * 4 + 4));
    rect out;
    font_layout(&t->list, s, left, base, 0, t->style[1], &out);
    gmap_end(&t->list);
    t->text_changed = 0;
    t->layouts++;
    t->laid_x = left;
    t->laid_y = base;
  } else if (left != t->laid_x || base != t->laid_y) {
    gmap_translate(&t->list, left - t->laid_x, base - t->laid_y);
    t->laid_x = left;
    t->laid_y = base;
  }
  if (!ink) ink = 0xffffffffu;
  rect clip_prev;
  rect inner = {t->r.x + t->pad.left, t->r.y + t->pad.top, t->r.w - t->pad.left - t->pad.right,
                t->r.h - t->pad.top - t->pad.bottom};
  gfx_set_clip(&inner, &clip_prev);
  gfx_colour(ink);
  gmap_draw(&t->list);
  if (t->editable && gui_has_focus(t) && t->cursor_shown && !t->blink_phase) {
    int32_t ascent = 0, descent = 0;
    font_metrics(nullptr, nullptr, &ascent, &descent, t->style[1]);
    int32_t cx = left + text_width(t->style[1], s, t->cursor);
    gfx_fill_rect(cx, base - ascent, 1, ascent + descent, ink);
  }
  gfx_set_clip(clip_prev.w > 0 ? &clip_prev : nullptr, nullptr);
}

// The gui's unfocus hook: a text box that loses the focus has been left.
void focus_lost(widget *w) {
  if (!is_textbox(w)) return;
  tell(as_tb(w), TEXTBOX_LEFT);
}

void textbox_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->reqsize = t_reqsize;
  c->geometry_changed = t_geometry_changed;
  c->restyle = t_restyle;
  c->draw = t_draw;
  c->show_children = t_show_children;
  c->hide_children = t_hide_children;
  c->press = t_press;
  c->key_press = t_key_press;
  gui_add_unfocus_hook(focus_lost);
}

void textbox_init(object *obj) {
  textbox *t = reinterpret_cast<textbox *>(obj);
  t->editable = 1;
  t->timer = -1;
  t->style[2] = -1;
  gmap_setup(&t->list, GMAP_QUADS, 64, 0);
}

void textbox_fini(object *obj) {
  textbox *t = reinterpret_cast<textbox *>(obj);
  stop_blink(t);
  gmap_release(&t->list);
}

typeid_t register_textbox() {
  return object_register_class("textbox", widget_type(), sizeof(textbox), textbox_init,
                               textbox_fini, sizeof(widget_class), textbox_class_init, nullptr);
}

}  // namespace

typeid_t textbox_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_textbox);
}

textbox *textbox_new(widget *parent, const char *text, int size, uint32_t flags,
                     const int32_t *style, const padding *pad, textbox_fn callback, void *arg,
                     int32_t id) {
  auto *t = static_cast<textbox *>(widget_new(parent, textbox_type()));
  if (!t) return nullptr;
  if (size < 0) {
    t->width = -size;
    t->max_length = kTextboxMax;
  } else {
    t->width = t->max_length = size > kTextboxMax ? kTextboxMax : size;
  }
  t->tflags = flags;
  if (style) memcpy(t->style, style, sizeof t->style);
  padding_copy(&t->pad, pad);
  t->callback = callback;
  t->arg = arg;
  t->id = id;
  textbox_set_text(t, text);
  return t;
}

const char *textbox_text(textbox *t) { return t->text; }
int textbox_is_empty(textbox *t) { return t->length == 0; }
int textbox_is_editable(textbox *t) { return t->editable; }
void textbox_enable(textbox *t) { textbox_set_editable(t, 1); }
void textbox_disable(textbox *t) { textbox_set_editable(t, 0); }

void textbox_set_editable(textbox *t, int on) {
  t->editable = on ? 1 : 0;
  if (!on && gui_has_focus(t)) gui_unfocus(t);
  widget_redraw(t);
}

void textbox_set_text(textbox *t, const char *text) {
  if (!text) {
    if (t->tflags & TEXTBOX_CLEAR_ALL)
      memset(t->text, 0, sizeof t->text);
    else
      t->text[0] = 0;
  } else {
    snprintf(t->text, sizeof t->text, "%s", text);
  }
  t->length = t->cursor = int32_t(strlen(t->text));
  relayout(t);
}

void textbox_format_number(char *out, double value, uint32_t flags) {
  char s[400];
  snprintf(s, sizeof s, "%.6f", value);
  char *dot = strchr(s, '.');
  if (dot) {
    char *e = s + strlen(s) - 1;
    while (e > dot && *e == '0') *e-- = 0;
    if (e == dot) *e = 0;
  }
  int n = int(strlen(s));
  auto zeros = [&](int z) {
    if (n <= z) return false;
    for (int i = n - z; i < n; i++)
      if (s[i] != '0') return false;
    return true;
  };
  // The rest, optionally a point and the next digit, then the letter.
  auto cut = [&](int z, bool digit, char letter) {
    int keep = n - z;
    if (digit) {
      char d = s[keep];
      snprintf(out, 64, "%.*s.%c%c", keep, s, d, letter);
    } else {
      snprintf(out, 64, "%.*s%c", keep, s, letter);
    }
  };
  if (!strchr(s, '.') && !(flags & TEXTBOX_PLAIN)) {
    if (n >= 10 && zeros(9)) return cut(9, false, 'b');
    if (n >= 10 && zeros(8)) return cut(9, true, 'b');
    if (n >= 7 && zeros(6)) return cut(6, false, 'm');
    if (n >= 7 && zeros(5)) return cut(6, true, 'm');
    if (n >= 4 && zeros(3)) return cut(3, false, 'k');
    if (n >= 4 && zeros(2)) return cut(3, true, 'k');
    if (n == 1 && s[0] == '0') {
      out[0] = 0;
      return;
    }
  }
  snprintf(out, 64, "%.63s", s);
}

void textbox_set_number(textbox *t, double value) {
  char s[64];
  textbox_format_number(s, value, t->tflags);
  textbox_set_text(t, s);
}

double textbox_get_number(textbox *t) {
  if (t->length == 0) return 0;
  double v = 0;
  if (sscanf(t->text, "%lf", &v) != 1) {
    log(LOG_ERROR, kSrc, "can't parse %s", t->text);
    return 0;
  }
  switch (t->text[t->length - 1]) {
    case 'k': case 'K': case 't': case 'T': v *= 1000; break;
    case 'm': case 'M': v *= 1000000; break;
    case 'b': case 'B': v *= 1000000000; break;
    default: break;
  }
  return v;
}

uint32_t textbox_flags(textbox *t) { return t->tflags; }
void textbox_add_flags(textbox *t, uint32_t bits) {
  t->tflags |= bits;
  relayout(t);
}

void textbox_set_font(textbox *t, int32_t font) {
  t->style[1] = font;
  if (t->parent) t->parent->cls->geometry_changed(t->parent);
  relayout(t);
}

textbox_clip_fn textbox_set_clipboard(textbox_clip_fn fn) {
  textbox_clip_fn old = S.clip;
  S.clip = fn ? fn : launch_clipboard_get;
  return old;
}
