// The UI builder's interpreter. One loop reads a token and its arguments
// straight from the caller's va_list and acts on the module state below;
// the state outlives a call on purpose (see uib.h). The stack holds the open
// containers at entries 0 .. depth-1 and the last leaf at entry depth.
//
// An "if" whose value is 0 skips word by word (each va_arg one slot) up to
// the next 6, 0xDEADBEAF pair; ifs do not nest, and a skipped stretch must
// hold no floating-point argument, since floats travel in other registers.
#include "ui/uib.h"

#include <cstdarg>
#include <cstring>

#include "log.h"
#include "ui/box.h"
#include "ui/button.h"
#include "ui/deck.h"
#include "ui/flyaway.h"
#include "ui/grid.h"
#include "ui/hider.h"
#include "ui/label.h"
#include "ui/sizer.h"
#include "ui/spinner.h"
#include "ui/textbox.h"

namespace {

const char kSrc[] = "src/ui/uib";

template <int N>
struct style_rec {
  int32_t v[N];
  padding pad;
};

struct uib_state {
  widget *stack[kUibStack];
  int depth;
  // buttons
  uint32_t flags[kUibStack];
  int flag_top;
  button_group *group;
  button_fn button_cb;
  void *button_arg;
  const button_colours *colours[2];
  int colour_sel;
  // styles
  style_rec<4> fly[2];
  int fly_sel;
  style_rec<4> label[4];
  int label_sel;
  style_rec<kTextboxStyle> tb[2];
  int tb_sel;
  textbox_fn tb_cb;
  void *tb_arg;
  style_rec<kSpinnerStyle> spin[2];
  int spin_sel;
  spinner_fn spin_cb;
  void *spin_arg;
  style_rec<kSpinnerStyle> time[2];
  int time_sel;
  time_spinner_fn time_cb;
  void *time_arg;
};
uib_state S;

widget *current() { return S.depth > 0 ? S.stack[S.depth - 1] : nullptr; }

// A new container at entry depth, pushed (callers check the room first).
void push(widget *w) {
  S.stack[S.depth] = w;
  S.depth++;
  S.stack[S.depth] = nullptr;  // no leaf made inside it yet
}

void leaf(widget *w) { S.stack[S.depth] = w; }

template <int N>
void define(style_rec<N> *rec, va_list &ap) {
  for (int i = 0; i < N; i++) rec->v[i] = va_arg(ap, int32_t);
  padding_copy(&rec->pad, static_cast<const padding *>(va_arg(ap, void *)));
}

void make_button(const char *text, const char *second, int32_t icon, int32_t id, int set) {
  button *b = button_new(current(), text, icon, 0, S.flags[S.flag_top], S.group, S.colours[set],
                         S.button_cb, S.button_arg, id);
  if (b && second) button_set_text2(b, second);
  leaf(b);
}

void make_flyaway(const char *title, int rec) {
  const style_rec<4> &r = S.fly[rec];
  push(flyaway_new(current(), title, r.v[0], r.v[1], uint32_t(r.v[2]), r.v[3], &r.pad));
}

void make_label(const char *text, int rec) {
  const style_rec<4> &r = S.label[rec];
  leaf(label_new(current(), text, uint32_t(r.v[0]), r.v[1], colour(r.v[2]), colour(r.v[3]),
                 &r.pad));
}

void make_textbox(va_list &ap, int rec) {
  const char *text = va_arg(ap, const char *);
  int limit = va_arg(ap, int);
  uint32_t flags = va_arg(ap, uint32_t);
  int32_t id = va_arg(ap, int32_t);
  const auto &r = S.tb[rec];
  leaf(textbox_new(current(), text, limit, flags, r.v, &r.pad, S.tb_cb, S.tb_arg, id));
}

void make_spinner(va_list &ap, int rec) {
  const char *text = va_arg(ap, const char *);
  double value = va_arg(ap, double), lo = va_arg(ap, double), hi = va_arg(ap, double),
         step = va_arg(ap, double);
  int decimals = va_arg(ap, int);
  int32_t id = va_arg(ap, int32_t);
  const auto &r = S.spin[rec];
  leaf(spinner_new(current(), text, decimals, r.v, &r.pad, S.spin_cb, S.spin_arg, id,
                   float(value), float(lo), float(hi), float(step)));
}

void make_time(va_list &ap, int rec) {
  const char *text = va_arg(ap, const char *);
  int value = va_arg(ap, int), lo = va_arg(ap, int), hi = va_arg(ap, int);
  int32_t id = va_arg(ap, int32_t);
  const auto &r = S.time[rec];
  leaf(time_spinner_new(current(), text, value, lo, hi, r.v, &r.pad, S.time_cb, S.time_arg, id));
}

// Skips up to and including the next 6, 0xDEADBEAF pair.
void skip(va_list &ap) {
  for (;;) {
    if (va_arg(ap, int32_t) != UIB_ENDIF) continue;
    if (uint32_t(va_arg(ap, int32_t)) == kUibEndIf) return;
  }
}

// Runs the stream; 0 at its end, -1 after a token error.
int interpret(int32_t token, va_list &ap) {
  for (;; token = va_arg(ap, int32_t)) {
    if (token >= UIB_HBOX && token <= UIB_DECK && S.depth >= kUibStack - 1) {
      log(LOG_ERROR, kSrc, "overflow @ %d", S.depth);
      return -1;
    }
    switch (token) {
      case UIB_END: return 0;
      case UIB_CLOSE:
        if (S.depth == 0) {
          log(LOG_ERROR, kSrc, "nothing to close");
          return -1;
        }
        if (--S.depth == 0) return 0;
        break;
      case UIB_STORE: *static_cast<widget **>(va_arg(ap, void *)) = S.stack[S.depth]; break;
      case UIB_STORE_CONTAINER:
        *static_cast<widget **>(va_arg(ap, void *)) = current();
        break;
      case UIB_IF:
        if (va_arg(ap, int32_t) == 0) skip(ap);
        break;
      case UIB_ENDIF: (void)va_arg(ap, int32_t); break;
      case UIB_HBOX:
      case UIB_VBOX: {
        uint32_t mode = va_arg(ap, uint32_t), spacing = va_arg(ap, uint32_t);
        push(token == UIB_HBOX ? static_cast<widget *>(hbox_new(current(), mode, spacing))
                               : vbox_new(current(), mode, spacing));
        break;
      }
      case UIB_FBOX: {
        int mode = va_arg(ap, int), spacing = va_arg(ap, int);
        push(fbox_new(current(), mode, spacing));
        break;
      }
      case UIB_GRID: {
        int rows = va_arg(ap, int), columns = va_arg(ap, int), spacing = va_arg(ap, int);
        push(grid_new(current(), rows, columns, spacing));
        break;
      }
      case UIB_DECK: push(deck_new(current())); break;
      case UIB_BUTTON:
      case UIB_BUTTON0:
      case UIB_BUTTON1: {
        const char *text = va_arg(ap, const char *);
        int32_t id = va_arg(ap, int32_t);
        make_button(text, nullptr, -1, id, token == UIB_BUTTON ? S.colour_sel : token - UIB_BUTTON0);
        break;
      }
      case UIB_COLOURS0:
      case UIB_COLOURS1: S.colour_sel = token - UIB_COLOURS0; break;
      case UIB_DEF_COLOURS0:
      case UIB_DEF_COLOURS1:
        S.colours[token - UIB_DEF_COLOURS0] = static_cast<const button_colours *>(va_arg(ap, void *));
        break;
      case UIB_FLAGS_SET: S.flags[S.flag_top] |= va_arg(ap, uint32_t); break;
      case UIB_FLAGS_CLEAR: S.flags[S.flag_top] &= ~va_arg(ap, uint32_t); break;
      case UIB_FLAGS_PUSH_SET:
      case UIB_FLAGS_PUSH_CLEAR: {
        uint32_t bits = va_arg(ap, uint32_t), cur = S.flags[S.flag_top];
        if (S.flag_top + 1 >= kUibStack) {
          log(LOG_WARN, kSrc, "button flags stack full");
          break;
        }
        S.flags[++S.flag_top] = token == UIB_FLAGS_PUSH_SET ? cur | bits : cur & ~bits;
        break;
      }
      case UIB_FLAGS_POP:
        if (S.flag_top > 0)
          S.flag_top--;
        else
          log(LOG_WARN, kSrc, "button flags stack empty");
        break;
      case UIB_BUTTON_CALLBACK:
        S.button_cb = reinterpret_cast<button_fn>(va_arg(ap, void *));
        S.button_arg = va_arg(ap, void *);
        break;
      case UIB_RADIO:
        S.group = static_cast<button_group *>(va_arg(ap, void *));
        if (S.group) button_group_init(S.group);
        break;
      case UIB_RADIO_END: S.group = nullptr; break;
      case UIB_ICON:
      case UIB_ICON0:
      case UIB_ICON1: {
        int32_t icon = va_arg(ap, int32_t), id = va_arg(ap, int32_t);
        make_button(nullptr, nullptr, icon, id, token == UIB_ICON ? S.colour_sel : token - UIB_ICON0);
        break;
      }
      case UIB_INSENSITIVE:
        if (widget *w = S.stack[S.depth]) {
          if (object_is_a(widget_obj(w), button_type()))
            button_set_sensitive(static_cast<button *>(w), 0);
          else
            widget_set_insensitive(w, 1);
        }
        break;
      case UIB_BUTTON2: {
        const char *text = va_arg(ap, const char *), *second = va_arg(ap, const char *);
        int32_t id = va_arg(ap, int32_t);
        make_button(text, second, -1, id, S.colour_sel);
        break;
      }
      case UIB_FLYAWAY:
      case UIB_FLYAWAY0:
      case UIB_FLYAWAY1: {
        if (S.depth >= kUibStack - 1) {
          log(LOG_ERROR, kSrc, "overflow @ %d", S.depth);
          return -1;
        }
        const char *title = va_arg(ap, const char *);
        make_flyaway(title, token == UIB_FLYAWAY ? S.fly_sel : token - UIB_FLYAWAY0);
        break;
      }
      case UIB_FLY_STYLE0:
      case UIB_FLY_STYLE1: S.fly_sel = token - UIB_FLY_STYLE0; break;
      case UIB_DEF_FLY0:
      case UIB_DEF_FLY1: define(&S.fly[token - UIB_DEF_FLY0], ap); break;
      case UIB_CAPTION: {
        const char *text = va_arg(ap, const char *);
        widget *c = current();
        if (c && object_is_a(widget_obj(c), flyaway_type()))
          flyaway_set_caption(static_cast<flyaway *>(c), text);
        else
          log(LOG_ERROR, kSrc, "caption outside a flyaway");
        break;
      }
      case UIB_ADD: {
        widget *w = static_cast<widget *>(va_arg(ap, void *));
        container *c = static_cast<container *>(current());
        if (w && c) container_cls(c)->add(c, w);
        break;
      }
      case UIB_SIZER:
      case UIB_BIN:
      case UIB_HIDER: {
        if (S.depth >= kUibStack - 1) {
          log(LOG_ERROR, kSrc, "overflow @ %d", S.depth);
          return -1;
        }
        if (token == UIB_SIZER) {
          uint32_t flags = va_arg(ap, uint32_t);
          const size *fixed = static_cast<const size *>(va_arg(ap, void *));
          const padding *pad = static_cast<const padding *>(va_arg(ap, void *));
          double scale = va_arg(ap, double);
          push(sizer_new(current(), flags, fixed, pad, float(scale)));
        } else if (token == UIB_BIN) {
          uint32_t c = va_arg(ap, uint32_t);
          bin *b = bin_new(current());
          if (b) container_set_bg(b, c);
          push(b);
        } else {
          push(hider_new(current(), va_arg(ap, int)));
        }
        break;
      }
      case UIB_TEXTBOX: make_textbox(ap, S.tb_sel); break;
      case UIB_TEXTBOX0:
      case UIB_TEXTBOX1: make_textbox(ap, token - UIB_TEXTBOX0); break;
      case UIB_TB_STYLE0:
      case UIB_TB_STYLE1: S.tb_sel = token - UIB_TB_STYLE0; break;
      case UIB_DEF_TB0:
      case UIB_DEF_TB1: define(&S.tb[token - UIB_DEF_TB0], ap); break;
      case UIB_TB_CALLBACK:
        S.tb_cb = reinterpret_cast<textbox_fn>(va_arg(ap, void *));
        S.tb_arg = va_arg(ap, void *);
        break;
      case UIB_SPINNER: make_spinner(ap, S.spin_sel); break;
      case UIB_SPINNER0:
      case UIB_SPINNER1: make_spinner(ap, token - UIB_SPINNER0); break;
      case UIB_SPIN_STYLE0:
      case UIB_SPIN_STYLE1: S.spin_sel = token - UIB_SPIN_STYLE0; break;
      case UIB_DEF_SPIN0:
      case UIB_DEF_SPIN1: define(&S.spin[token - UIB_DEF_SPIN0], ap); break;
      case UIB_SPIN_CALLBACK:
        S.spin_cb = reinterpret_cast<spinner_fn>(va_arg(ap, void *));
        S.spin_arg = va_arg(ap, void *);
        break;
      case UIB_TIME: make_time(ap, S.time_sel); break;
      case UIB_TIME0:
      case UIB_TIME1: make_time(ap, token - UIB_TIME0); break;
      case UIB_TIME_STYLE0:
      case UIB_TIME_STYLE1: S.time_sel = token - UIB_TIME_STYLE0; break;
      case UIB_DEF_TIME0:
      case UIB_DEF_TIME1: define(&S.time[token - UIB_DEF_TIME0], ap); break;
      case UIB_TIME_CALLBACK:
        S.time_cb = reinterpret_cast<time_spinner_fn>(va_arg(ap, void *));
        S.time_arg = va_arg(ap, void *);
        break;
      case UIB_SPAN: {
        int rows = va_arg(ap, int), columns = va_arg(ap, int);
        widget *c = current();
        box_node *n = c && object_is_a(widget_obj(c), grid_type()) ? box_last_node(static_cast<box *>(c)) : nullptr;
        if (n)
          grid_set_span(static_cast<grid *>(c), n->child, rows, columns);
        else
          log(LOG_ERROR, kSrc, "span outside a grid");
        break;
      }
      case UIB_LABEL: make_label(va_arg(ap, const char *), S.label_sel); break;
      case 111: case 112: case 113: case 114:
        make_label(va_arg(ap, const char *), token - UIB_LABEL0);
        break;
      case 115: case 116: case 117: case 118: S.label_sel = token - UIB_LABEL_STYLE0; break;
      case 119: case 120: case 121: case 122: define(&S.label[token - UIB_DEF_LABEL0], ap); break;
      default:
        log(LOG_FATAL, kSrc, "bad ui token %d", token);
        return -1;
    }
  }
}

void begin() {
  if (S.depth > 0) log(LOG_WARN, kSrc, "still building something");
  S.depth = 0;
  S.label_sel = 0;
  S.stack[0] = nullptr;
}

}  // namespace

widget *uib_build(int32_t first, ...) {
  begin();
  va_list ap;
  va_start(ap, first);
  int r = interpret(first, ap);
  va_end(ap);
  if (r < 0) return nullptr;
  return uib_result();
}

int uib_build_more(int32_t first, ...) {
  va_list ap;
  va_start(ap, first);
  int r = interpret(first, ap);
  va_end(ap);
  return r;
}

int uib_reset() {
  begin();
  return 0;
}

widget *uib_result() {
  if (S.depth > 1) {
    log(LOG_ERROR, kSrc, "underflow @ %d", S.depth);
    return nullptr;
  }
  S.depth = 0;
  return S.stack[0];
}

int uib_depth() { return S.depth; }
uint32_t uib_button_flags() { return S.flags[S.flag_top]; }
