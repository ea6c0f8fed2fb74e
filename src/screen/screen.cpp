// The screens. Four records, each the root widget of one OS window (a box
// whose layout is its own), each with ten desktops and one of every bar and
// floating window; the bar mask is the only record of which are shown. All
// operations act on the current screen; fan-outs push each open screen in
// turn. Operations only mark work (relayout_pending, desktops_changed); the
// backstop that the timer module runs on every pass does it for every open
// screen, and decides when a whole window must be redrawn.
//
// Slots: geometry_changed, reqsize, size_limits, find_at, draw,
// show_children, hide_children, wheel, key_press, layout.
#include "screen/screen.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "lib/fade.h"
#include "lib/gfx.h"
#include "lib/timer.h"
#include "dnd.h"
#include "log.h"
#include "config/configbox.h"
#include "screen/helpwin.h"
#include "keyboard.h"
#include "popups/place.h"
#include "screen/depthdtl.h"
#include "screen/gendtl.h"
#include "screen/groupbar.h"
#include "screen/minibar.h"
#include "screen/splitter.h"
#include "screen/tickbar.h"
#include "screen/ticker.h"
#include "screen/watchbar.h"
#include "ssclient.h"
#include "style.h"
#include "tools/toolbar.h"
#include "ui/gui.h"
#include "undo.h"
#include "windows/titlebar.h"
#include "windows/watchlist.h"

static const char kSrc[] = "src/screen/screen";

namespace {

constexpr int32_t kMinW = 640, kMinH = 480;
constexpr int32_t kCapW = 800, kCapH = 600;
constexpr uint32_t kDimQuad = 0x64000000u;  // black, alpha 100

struct {
  screen *screens[kScreens];
  screen *current;
  screen *stack[kScreenStack];
  int depth;
  int overflow;  // pushes refused beyond the stack, popped without effect
  bool up;
  bool screens_up;
  bool relayout_pending;
  bool desktops_changed;
  bool toolbar_refresh_pending;
  bool relayout_suppressed;
  int cascade;
  int32_t last_scroll;
  int32_t forwarding_key;  // a key is being handed to the configuration dialog
  size warned;  // the window size last warned about
  size min_set[kScreens];
  int64_t (*clock)();
  int (*logged_in)();
  uint32_t refreshes;
  char title[256];
} S;

screen *as_screen(widget *w) { return static_cast<screen *>(w); }
int64_t now_ms() { return S.clock ? S.clock() : gui_time_ms(); }
bool online() { return S.logged_in ? S.logged_in() != 0 : ssclient_logged_in() != 0; }
int index_of_screen(const screen *s) {
  for (int i = 0; i < kScreens; i++)
    if (S.screens[i] && S.screens[i] == s) return i;
  return -1;
}
bool is_open(const screen *s) { return s && s->os_window != -1; }

// The child that a bar bit names (the desktop bit: the current desktop).
widget *bar_child(screen *s, uint32_t bit) {
  switch (bit) {
    case BAR_WATCHBAR: return s->watchbar;
    case BAR_TICKBAR: return s->tickbar;
    case BAR_MINIBAR: return s->minibar;
    case BAR_QUOTE_POPWIN: return s->quote_popwin;
    case BAR_DESKTOP: return s->desktops[s->current_desktop];
    case BAR_TOOLBAR0: return s->toolbars[0];
    case BAR_TOOLBAR1: return s->toolbars[1];
    case BAR_HOVER: return s->hover_window;
    case BAR_DEPTHDTL: return s->depthdtl;
    case BAR_GENDTL: return s->gendtl;
    case BAR_POPUP_DOCUMENT: return s->popup_document;
    case BAR_ZOOM: return s->zoom_window;
    case BAR_QUICK: return s->quick_window;
    case BAR_HELP: return s->helpwin;
    case BAR_CONFIGBOX: return s->config_box;
    case BAR_WINBAR: return s->winbar;
    case BAR_GROUPBAR: return s->groupbar;
    default: return nullptr;
  }
}

// The fixed orders of showing and hiding.
const uint32_t kShowOrder[] = {BAR_WINBAR, BAR_HELP, BAR_CONFIGBOX, BAR_WATCHBAR, BAR_TICKBAR,
                               BAR_TOOLBAR0, BAR_TOOLBAR1, BAR_MINIBAR, BAR_DESKTOP,
                               BAR_QUOTE_POPWIN, BAR_ZOOM, BAR_POPUP_DOCUMENT, BAR_GROUPBAR,
                               BAR_HOVER, BAR_QUICK, BAR_DEPTHDTL, BAR_GENDTL};

struct level_entry {
  uint32_t bit;
  uint32_t level;
};
const level_entry kLevels[] = {
    {BAR_WATCHBAR, 4},  {BAR_TICKBAR, 5},        {BAR_MINIBAR, 3},  {BAR_QUOTE_POPWIN, 8},
    {BAR_TOOLBAR0, 3},  {BAR_TOOLBAR1, 3},       {BAR_HOVER, 13},   {BAR_DEPTHDTL, 14},
    {BAR_GENDTL, 15},   {BAR_POPUP_DOCUMENT, 12}, {BAR_ZOOM, 10},   {BAR_QUICK, 9},
    {BAR_CONFIGBOX, 17}, {BAR_WINBAR, 19},        {BAR_GROUPBAR, 11}};

void relayout_step(screen *s) {
  if (!S.screens_up || S.relayout_suppressed) return;
  s->cls->geometry_changed(s);
  S.relayout_pending = true;
  if (is_open(s)) gui_invalidate_window(s->os_window);
  gui_recheck_hover();
  if ((s->bars & BAR_MINIBAR) && s->minibar) widget_redraw(s->minibar);
}

void show_bars(screen *s, uint32_t mask, int relayout) {
  if (!S.screens_up) {
    s->bars |= mask;
    return;
  }
  for (uint32_t bit : kShowOrder) {
    if (!(mask & bit) || (s->bars & bit)) continue;
    widget *c = bar_child(s, bit);
    if (c) widget_show_subtree(c);
    if (bit == BAR_TICKBAR && s->tickbar && !tickbar_any_visible(s->tickbar)) {
      log(LOG_WARN, kSrc, "forced to show first ticker");
      tickbar_set_ticker_show(s->tickbar, 1, TICKER_SHOW);
    }
  }
  s->bars |= mask;
  if (relayout) relayout_step(s);
}

void hide_bars(screen *s, uint32_t mask, int relayout) {
  if (!S.screens_up) {
    s->bars &= ~mask;
    return;
  }
  for (uint32_t bit : kShowOrder) {
    if (!(mask & bit) || !(s->bars & bit)) continue;
    if (bit == BAR_DESKTOP) {
      for (desktop *d : s->desktops)
        if (d) widget_hide_subtree(d);
      continue;
    }
    widget *c = bar_child(s, bit);
    if (c) widget_hide_subtree(c);
  }
  s->bars &= ~mask;
  if (relayout) relayout_step(s);
  if (is_open(s)) gui_invalidate_window(s->os_window);
}

// ---- the widget operations ----

void reqsize_of(widget *w, size *out) {
  *out = {0, 0};
  if (w) w->cls->reqsize(w, out);
}

void sc_layout(container *self) {
  screen *s = as_screen(self);
  const rect whole = s->r;
  int32_t x = whole.x, y = whole.y, w = whole.w, h = whole.h;
  size q;
  if (s->winbar) {
    reqsize_of(s->winbar, &q);
    s->winbar->r = {x + w - q.w, y, q.w, q.h};
  }
  if (s->tickbar) {
    reqsize_of(s->tickbar, &q);
    s->tickbar->r = {x, y, w, q.h};
    if (s->bars & BAR_TICKBAR) y += q.h, h -= q.h;
  }
  size mq = {0, 0};
  reqsize_of(s->minibar, &mq);
  if (s->watchbar) {
    s->watchbar->r = {x, y, w, mq.h};
    if (s->bars & BAR_WATCHBAR) y += mq.h, h -= mq.h;
  }
  if (s->minibar) {
    s->minibar->r = {x, y + h - mq.h, w, mq.h};
    if (s->bars & BAR_MINIBAR) h -= mq.h;
  }
  if ((s->bars & BAR_TOOLBAR0) && s->toolbars[0]) {
    reqsize_of(s->toolbars[0], &q);
    s->toolbars[0]->r = {x, y, q.w, h};
    x += q.w, w -= q.w;
  }
  if ((s->bars & BAR_TOOLBAR1) && s->toolbars[1]) {
    reqsize_of(s->toolbars[1], &q);
    s->toolbars[1]->r = {x + w - q.w, y, q.w, h};
    w -= q.w;
  }
  const rect rest = {x, y, std::max(w, 0), std::max(h, 0)};
  for (desktop *d : s->desktops)
    if (d) d->r = rest;
  auto centre = [](widget *c, const rect &in, const rect &clamp) {
    size z;
    reqsize_of(c, &z);
    z.w = std::min(z.w, clamp.w);
    z.h = std::min(z.h, clamp.h);
    c->r = {in.x + (in.w - z.w) / 2, in.y + (in.h - z.h) / 2, z.w, z.h};
  };
  if (s->helpwin) centre(s->helpwin, whole, whole);
  if (s->config_box) centre(s->config_box, rest, whole);
  if (s->zoom_window) s->zoom_window->r = rest;
  if (s->quick_window && s->quick_window->r.w <= 0)
    s->quick_window->r = {rest.x + rest.w / 4, rest.y + rest.h / 4, rest.w / 2, rest.h / 2};
  if (memcmp(&s->laid_out, &whole, sizeof whole) != 0 && S.screens_up) {
    S.relayout_suppressed = true;
    hide_bars(s, BAR_HOVER | BAR_GENDTL | BAR_DEPTHDTL, 0);
    S.relayout_suppressed = false;
  }
  s->laid_out = whole;
  S.relayout_pending = true;
}

void sc_geometry_changed(widget *self) {
  screen *s = as_screen(self);
  if (!(s->flags & WIDGET_SHOWN) || s->r.w <= 0 || s->r.h <= 0 || !is_open(s)) return;
  rect f;
  gui_window_frame(s->os_window, &f);
  if (gui_window_state(s->os_window) == 0) s->frame = f;
  gui_window_prev_frame(s->os_window, &s->normal_frame);
  static_cast<container_class *>(object_class_record(box_type()))->geometry_changed(self);
  s->prev = s->r;
}

void sc_reqsize(widget *self, size *out) {
  screen *s = as_screen(self);
  *out = {s->frame.w, s->frame.h};
}

void sc_size_limits(widget *self, size *min, size *max) {
  screen *s = as_screen(self);
  size m = {0, 0};
  for (desktop *d : s->desktops) {
    if (!d) continue;
    size lo = {0, 0}, hi = {0, 0};
    d->cls->size_limits(d, &lo, &hi);
    m.w = std::max(m.w, lo.w);
    m.h = std::max(m.h, lo.h);
  }
  size q;
  for (widget *t : s->toolbars) reqsize_of(t, &q), m.w += q.w;
  for (widget *b : {s->minibar, s->watchbar, s->tickbar}) reqsize_of(b, &q), m.h += q.h;
  *min = m;
  if (max) *max = {0, 0};
}

bool shown(const widget *w) { return w && (w->flags & WIDGET_SHOWN); }

bool overlaps(const rect &a, const rect &b) {
  return a.w > 0 && a.h > 0 && b.w > 0 && b.h > 0 && a.x < b.x + b.w && b.x < a.x + a.w &&
         a.y < b.y + b.h && b.y < a.y + a.h;
}

// The floating windows drawn over the bars and desktops; while one shows,
// a partial update under it would paint over it.
constexpr uint32_t kFloating = BAR_QUOTE_POPWIN | BAR_HOVER | BAR_DEPTHDTL | BAR_GENDTL |
                               BAR_POPUP_DOCUMENT | BAR_QUICK | BAR_HELP | BAR_CONFIGBOX |
                               BAR_GROUPBAR;

// The help window is the only floating window shown (no keypad either): it
// is opaque and drawn above everything but the window bar, so a partial
// update under it needs only the panel drawn again after it.
bool only_help_floats(screen *s) {
  return (s->bars & kFloating) == BAR_HELP && !keypad_visible(s->keypad) && shown(s->helpwin);
}

// Showing or hiding the help window changes no other child's place: the
// layout only centres it in the whole screen. When the screen is laid out
// at its present size and nothing else floats, the toggle places the panel
// alone instead of laying the whole screen out again.
bool help_alone(screen *s) {
  return S.screens_up && !S.relayout_suppressed && is_open(s) && s->helpwin && s->r.w > 0 &&
         s->r.h > 0 && memcmp(&s->laid_out, &s->r, sizeof s->r) == 0 &&
         (s->bars & kFloating & ~BAR_HELP) == 0 && !keypad_visible(s->keypad);
}

// The help window where the layout puts it: its requested size, at most the
// screen's, centred in the whole screen.
void place_help(screen *s) {
  size z;
  reqsize_of(s->helpwin, &z);
  const rect &whole = s->r;
  z.w = std::min(z.w, whole.w);
  z.h = std::min(z.h, whole.h);
  const rect r = {whole.x + (whole.w - z.w) / 2, whole.y + (whole.h - z.h) / 2, z.w, z.h};
  if (memcmp(&r, &s->helpwin->r, sizeof r) == 0) return;
  s->helpwin->r = r;
  s->helpwin->cls->geometry_changed(s->helpwin);
}

void draw_if(widget *w) {
  if (shown(w) && w->r.w > 0 && w->r.h > 0) widget_draw(w);
}

void reapply_bars(void *, int n) {
  screen *s = screen_get(n);
  if (!s) return;
  uint32_t saved = s->bars;
  s->bars = 0;
  show_bars(s, saved, 1);
}

void sc_draw(widget *self) {
  screen *s = as_screen(self);
  if (s->r.w <= 0 || s->r.h <= 0) return;
  if (!S.screens_up) {
    log(LOG_INFO, kSrc, "screen is up");
    S.screens_up = true;
    gui_promise_after_draw(reapply_bars, nullptr, index_of_screen(s));
  }
  container_fill_bg(s);
  if (!shown(s->zoom_window)) {
    draw_if(s->desktops[s->current_desktop]);
    draw_if(s->watchbar);
    draw_if(s->tickbar);
    draw_if(s->minibar);
    draw_if(s->toolbars[0]);
    draw_if(s->toolbars[1]);
    if (s->front_popup == BAR_QUICK) {
      draw_if(s->popup_document);
      draw_if(s->quick_window);
    } else {
      draw_if(s->quick_window);
      draw_if(s->popup_document);
    }
    draw_if(s->quote_popwin);
  }
  draw_if(s->zoom_window);
  draw_if(s->groupbar);
  draw_if(s->hover_window);
  draw_if(s->depthdtl);
  draw_if(s->gendtl);
  if (keypad_visible(s->keypad)) draw_if(s->keypad);
  draw_if(s->helpwin);
  if (!online()) gfx_fill_rect(s->r.x, s->r.y, s->r.w, s->r.h, kDimQuad);
  draw_if(s->config_box);
  draw_if(s->winbar);
}

widget *hit(widget *w, int32_t x, int32_t y) {
  if (!shown(w) || (w->flags & WIDGET_INSENSITIVE)) return nullptr;
  return w->cls->find_at(w, x, y);
}

widget *sc_find_at(widget *self, int32_t x, int32_t y) {
  screen *s = as_screen(self);
  if (!widget_default_find_at(self, x, y)) return nullptr;
  widget *h;
  if ((h = hit(s->winbar, x, y))) return h;
  if (shown(s->config_box)) {
    if ((h = hit(s->config_box, x, y))) return h;
    if (!online()) return nullptr;
  }
  if ((h = hit(s->helpwin, x, y))) return h;
  if ((h = hit(s->quote_popwin, x, y))) return h;
  widget *quick = s->quick_window, *doc = s->popup_document;
  // A popup document waiting for its page size is passed over.
  if (screen_document_waiting()) doc = nullptr;
  widget *first = s->front_popup == BAR_POPUP_DOCUMENT ? doc : quick;
  widget *second = first == quick ? doc : quick;
  if ((h = hit(first, x, y))) return h;
  if ((h = hit(second, x, y))) return h;
  if ((h = hit(s->groupbar, x, y))) return h;
  if (shown(s->zoom_window)) return hit(s->zoom_window, x, y);
  if ((h = hit(s->watchbar, x, y))) return h;
  if ((h = hit(s->tickbar, x, y))) return h;
  widget *d = s->desktops[s->current_desktop];
  if ((h = hit(d, x, y))) return h;
  if ((h = hit(s->minibar, x, y))) return h;
  if ((h = hit(s->toolbars[0], x, y))) return h;
  if ((h = hit(s->toolbars[1], x, y))) return h;
  return self;
}

void sc_show_children(widget *self) {
  screen *s = as_screen(self);
  widget_set_visible(s->watchbar, (s->bars & BAR_WATCHBAR) != 0);
  widget_set_visible(s->tickbar, (s->bars & BAR_TICKBAR) != 0);
  widget_set_visible(s->toolbars[0], (s->bars & BAR_TOOLBAR0) != 0);
  widget_set_visible(s->toolbars[1], (s->bars & BAR_TOOLBAR1) != 0);
  widget_set_visible(s->minibar, (s->bars & BAR_MINIBAR) != 0);
  for (uint32_t bit : {BAR_QUOTE_POPWIN, BAR_ZOOM, BAR_POPUP_DOCUMENT, BAR_HOVER, BAR_QUICK,
                       BAR_DEPTHDTL, BAR_GENDTL, BAR_CONFIGBOX, BAR_HELP, BAR_GROUPBAR}) {
    widget *c = bar_child(s, bit);
    if (!c) continue;
    if (s->bars & bit)
      widget_show_subtree(c);
    else
      widget_hide_subtree(c);
  }
  for (int i = 0; i < kDesktops; i++)
    if (i != s->current_desktop) widget_hide_subtree(s->desktops[i]);
  if (s->bars & BAR_DESKTOP) widget_show_subtree(s->desktops[s->current_desktop]);
  if (s->bars & BAR_WINBAR) widget_show_subtree(s->winbar);
  else widget_hide_subtree(s->winbar);
  widget_hide_subtree(s->keypad);
}

void sc_hide_children(widget *self) {
  screen *s = as_screen(self);
  const int n = self->cls->child_count(self);
  for (int i = 0; i < n; i++) widget_hide_subtree(self->cls->get_child(self, i));
  (void)s;
}

// The wheel's position is cumulative: the step since the last event moves
// the selection of the zoom window, the popup document or the quick window
// when shown, else of the desktop window under the pointer, else of the
// desktop's focused window.
void sc_wheel(widget *self, int position) {
  screen *s = as_screen(self);
  const int32_t step = S.last_scroll - position;
  S.last_scroll = position;
  if (!step) return;
  window *w = nullptr;
  if (s->bars & BAR_ZOOM) {
    w = s->zoom_window;
  } else if (s->bars & BAR_POPUP_DOCUMENT) {
    w = s->popup_document;
  } else if (s->bars & BAR_QUICK) {
    w = s->quick_window;
  } else if (desktop *d = s->desktops[s->current_desktop]) {
    int32_t x, y;
    if (gui_widget_mouse(self, &x, &y)) w = desktop_window_at(d, x, y);
    if (!w) w = desktop_get_focus(d);
  }
  if (w) window_move_selection(w, step);
}

void sc_key_press(widget *self, key_event *k) {
  screen *s = as_screen(self);
  if (shown(s->config_box)) {
    // A key the dialog does not take comes back up to the screen, its
    // parent: it ends there instead of going round again.
    if (S.forwarding_key) return;
    S.forwarding_key = 1;
    s->config_box->cls->key_press(s->config_box, k);
    S.forwarding_key = 0;
    return;
  }
  keyboard_key(k);
}

void sc_fini(object *obj) {
  screen *s = reinterpret_cast<screen *>(obj);
  if (S.current == s) S.current = nullptr;
  for (int i = 0; i < S.depth; i++)
    if (S.stack[i] == s) S.stack[i] = nullptr;
}

void screen_class_init(object_class *rec) {
  auto *c = static_cast<box_class *>(rec);
  c->geometry_changed = sc_geometry_changed;
  c->reqsize = sc_reqsize;
  c->size_limits = sc_size_limits;
  c->find_at = sc_find_at;
  c->draw = sc_draw;
  c->show_children = sc_show_children;
  c->hide_children = sc_hide_children;
  c->wheel = sc_wheel;
  c->key_press = sc_key_press;
  c->layout = sc_layout;
}

typeid_t register_screen() {
  return object_register_class("screen", box_type(), sizeof(screen), nullptr, sc_fini,
                               sizeof(box_class), screen_class_init, nullptr);
}

// ---- creation ----

screen *screen_new() {
  auto *s = static_cast<screen *>(widget_new(nullptr, screen_type()));
  if (!s) return nullptr;
  S.current = s;
  s->os_window = -1;
  s->bars = kScreenBarsInitial;
  rect disp = {0, 0, 1024, 768};
  if (gui_monitor_count() > 0) gui_monitor_rect(0, &disp);
  const int32_t off = 40 + 20 * S.cascade++;
  s->frame = {disp.x + off, disp.y + off, disp.w - 80, disp.h - 80};
  container_set_bg(s, desktop_bg_colour());
  bool ok = true;
  for (int i = 0; i < kDesktops; i++) ok &= (s->desktops[i] = desktop_new(s)) != nullptr;
  ok &= (s->toolbars[0] = toolbar_new(s, 0)) != nullptr;
  ok &= (s->toolbars[1] = toolbar_new(s, 1)) != nullptr;
  ok &= (s->watchbar = watchbar_new(s)) != nullptr;
  ok &= (s->minibar = minibar_new(s)) != nullptr;
  ok &= (s->tickbar = tickbar_new(s)) != nullptr;
  ok &= (s->quote_popwin = window_new(s, 1)) != nullptr;
  ok &= (s->zoom_window = window_new(s, 0)) != nullptr;
  ok &= (s->quick_window = window_new(s, 2)) != nullptr;
  ok &= (s->hover_window = window_new(s, 2)) != nullptr;
  ok &= (s->popup_document = window_new(s, 2)) != nullptr;
  ok &= (s->depthdtl = depthdtl_new(s)) != nullptr;
  ok &= (s->gendtl = gendtl_new(s)) != nullptr;
  ok &= (s->keypad = keypad_new(s)) != nullptr;
  ok &= (s->config_box = configbox_new(s)) != nullptr;
  ok &= (s->helpwin = helpwin_new(s)) != nullptr;
  ok &= (s->winbar = winbar_new(s)) != nullptr;
  ok &= (s->groupbar = groupbar_new(s)) != nullptr;
  if (!ok) {
    widget_delete(s);
    if (S.current == s) S.current = nullptr;
    return nullptr;
  }
  for (const level_entry &e : kLevels) widget_set_level(bar_child(s, e.bit), e.level);
  for (desktop *d : s->desktops) widget_set_level(d, 2);
  widget_set_level(s->keypad, 16);
  // Drawn after the keypad and before the configuration box, in partial
  // updates as in whole frames.
  widget_set_level(s->helpwin, 16);
  widget_hide(s->keypad);
  window_set_role(s->quick_window, 2);
  s->popup_document->flags |= WIDGET_MOVABLE | WIDGET_RESIZABLE;
  s->quick_window->flags |= WIDGET_MOVABLE | WIDGET_RESIZABLE;
  s->groupbar->flags |= WIDGET_MOVABLE;
  s->config_box->flags |= WIDGET_MOVABLE;
  s->helpwin->flags |= WIDGET_MOVABLE | WIDGET_RESIZABLE;
  for (desktop *d : s->desktops) desktop_sanitize(d);
  return s;
}

template <typename F>
void for_each_open(F fn) {
  for (int i = 0; i < kScreens; i++) {
    screen *s = S.screens[i];
    if (!is_open(s)) continue;
    if (S.depth < kScreenStack) {
      S.stack[S.depth++] = S.current;
      S.current = s;
      fn(s, i);
      screen_pop();
    } else {
      fn(s, i);
    }
  }
}

// ---- hooks into the gui ----

void on_window_closed(int index) {
  for (screen *s : S.screens)
    if (s && s->os_window == index) {
      s->os_window = -1;
      S.relayout_pending = true;
    }
}

// The window manager minimised, maximised or restored a screen's window.
void on_window_state(int index, int state) {
  for (int i = 0; i < kScreens; i++)
    if (S.screens[i] && S.screens[i]->os_window == index) screen_gui_state(i, state);
}

int on_close_query(int index) {
  for (int i = 0; i < kScreens; i++) {
    screen *s = S.screens[i];
    if (!s || s->os_window != index) continue;
    if (screen_count_open() == 1) {
      // Closing the last open screen shows the logout page instead, from
      // which the user logs out or quits.
      screen_select(i);
      screen_open_configbox_state();
      return 0;
    }
    screen_close(i);
    return 0;
  }
  return 1;
}

void on_current_window(int index) {
  for (screen *s : S.screens)
    if (s && s->os_window == index) S.current = s;
}

// A drag that can end on a remover hides the hover popup and opens both
// toolbars' "Remove": a chart panel's tool entry; a grid row of a list
// that is a watchlist; a toolbar list entry or filled Speed Pad slot; any
// other source carrying an object (a mini quote, an alerts row). Tickers
// and title bars drag nothing removable, and neither does a news item
// (an announcement is dropped on a window to be read, never removed).
bool drag_can_remove(widget *source) {
  if (dnd_is_tool_entry()) return true;
  if (!source || dnd_news_item()) return false;
  if (object_is_a(widget_obj(source), ticker_type()) || object_is_a(widget_obj(source), titlebar_type()))
    return false;
  if (watchlist_is(source)) {
    auto *w = static_cast<watchlist *>(source);
    return w->mode != 1 && w->mode != 2 && watchlist_get_source(w) != nullptr;
  }
  if (object_is_a(widget_obj(source), button_type())) return toolbar_drag_removable(source);
  return dnd_kind() != 0;
}

void on_drag_start(widget *pressed, drag_record *d) {
  screen *s = S.current;
  widget *source = d && d->w ? d->w : pressed;
  if (!s || !drag_can_remove(source)) return;
  hide_bars(s, BAR_HOVER, 0);
  for (widget *t : s->toolbars) toolbar_open(t);
}

// After the drop target took what it wanted: the drag state ends (a
// dragged scan is no longer held) and open toolbar lists close.
void on_drag_end(widget *, drag_record *) {
  dnd_clear();
  for (screen *s : S.screens)
    if (s)
      for (widget *t : s->toolbars) toolbar_close(t);
}

void backstop_cb(void *, uint32_t, float) { screen_backstop(); }

void refresh_hook() {
  for_each_open([](screen *, int) { screen_refresh(); });
}


void opened(void *, int n) {
  screen *s = screen_get(n);
  if (!is_open(s)) return;
  if (!screen_push(n)) return;
  s->cls->geometry_changed(s);
  S.relayout_pending = true;
  gui_invalidate_window(s->os_window);
  gui_recheck_hover();
  widget_set_visible(s->tickbar, (s->bars & BAR_TICKBAR) != 0);
  widget_set_visible(s->watchbar, (s->bars & BAR_WATCHBAR) != 0);
  widget_set_visible(s->toolbars[0], (s->bars & BAR_TOOLBAR0) != 0);
  widget_set_visible(s->toolbars[1], (s->bars & BAR_TOOLBAR1) != 0);
  widget_set_visible(s->minibar, (s->bars & BAR_MINIBAR) != 0);
  widget_set_visible(s->zoom_window, (s->bars & BAR_ZOOM) != 0);
  s->cls->show_children(s);
  s->cls->geometry_changed(s);
  S.relayout_pending = true;
  if (s->maximised) screen_maximise();
  screen_pop();
}

}  // namespace

typeid_t screen_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_screen);
}

// ---- life cycle ----

int screen_init() {
  if (S.up) return 0;
  S.cascade = 0;
  for (int i = 0; i < kScreens; i++) {
    screen *s = screen_new();
    if (!s) {
      log(LOG_ERROR, kSrc, "can't alloc screen %d", i);
      screen_shutdown();
      return -1;
    }
    S.screens[i] = s;
    widget_hide(s);
  }
  S.current = S.screens[0];
  if (timer_set_backstop(backstop_cb, nullptr, 0) != 0) {
    log(LOG_ERROR, kSrc, "can't start backstop!");
    screen_shutdown();
    return -1;
  }
  style_set_refresh_hook(refresh_hook);
  gui_set_window_closed_hook(on_window_closed);
  gui_set_close_query(on_close_query);
  gui_set_window_state_hook(on_window_state);
  gui_set_current_window_hook(on_current_window);
  gui_set_drag_start_hook(on_drag_start);
  gui_set_drop_hook(on_drag_end);
  S.up = true;
  return 0;
}

void screen_shutdown() {
  S.relayout_pending = false;
  if (S.up) {
    timer_clear_backstop();
    style_set_refresh_hook(nullptr);
    gui_set_window_closed_hook(nullptr);
    gui_set_close_query(nullptr);
    gui_set_window_state_hook(nullptr);
    gui_set_current_window_hook(nullptr);
    gui_set_drag_start_hook(nullptr);
    gui_set_drop_hook(nullptr);
  }
  for (int i = 0; i < kScreens; i++) {
    screen *s = S.screens[i];
    if (!s) continue;
    if (is_open(s)) gui_window_close(s->os_window);
    widget_hide_subtree(s);
    S.screens[i] = nullptr;
    widget_delete(s);
  }
  S.current = nullptr;
  S.depth = 0;
  S.overflow = 0;
  S.screens_up = false;
  S.warned = {0, 0};
  S.up = false;
}

bool screen_is_up() { return S.up; }
screen *screen_get(int n) { return n >= 0 && n < kScreens ? S.screens[n] : nullptr; }

// ---- current screen and stack ----

int screen_current_index() {
  int i = index_of_screen(S.current);
  return i < 0 ? 0 : i;
}
screen *screen_current() { return S.current; }

int screen_index_of(widget *w) {
  if (!w) return -1;
  widget *root = w;
  while (root->parent) root = root->parent;
  return index_of_screen(static_cast<screen *>(root));
}

int screen_set_current_from(widget *w) {
  widget *root = w;
  while (root && root->parent) root = root->parent;
  if (!w || root == w) {
    log(LOG_ERROR, kSrc, "%s has no gui root", w ? object_type_name(widget_obj(w)) : "null");
    return -1;
  }
  int i = index_of_screen(static_cast<screen *>(root));
  if (i < 0) {
    log(LOG_ERROR, kSrc, "%s root %s is not a screen", object_type_name(widget_obj(w)),
        object_type_name(widget_obj(root)));
    return 0;
  }
  S.current = S.screens[i];
  return 1;
}

bool screen_select(int n) {
  screen *s = screen_get(n);
  if (!s) return false;
  S.current = s;
  return is_open(s);
}

static bool push_current(screen *next) {
  if (S.depth >= kScreenStack) {
    log(LOG_ERROR, kSrc, "screen stack overflow");
    S.overflow++;
    return false;
  }
  S.stack[S.depth++] = S.current;
  S.current = next;
  return true;
}

void screen_force_context(int n) {
  if (n < 0 || n >= kScreens) {
    log(LOG_ERROR, kSrc, "can't force context %d", n);
    return;
  }
  push_current(S.screens[n]);
}

bool screen_push(int n) {
  screen *s = screen_get(n);
  if (!is_open(s)) return false;
  // Beyond the stack's depth the push is refused: false, so the caller
  // does not pop for it.
  if (S.depth >= kScreenStack) {
    log(LOG_ERROR, kSrc, "screen stack overflow");
    return false;
  }
  return push_current(s);
}

void screen_pop() {
  if (S.overflow > 0) {  // the pop of a push that was refused
    S.overflow--;
    return;
  }
  if (S.depth == 0) {
    log(LOG_ERROR, kSrc, "underflow");
    return;
  }
  screen *s = S.stack[--S.depth];
  if (s) S.current = s;
}

int screen_stack_depth() { return S.depth; }

// ---- bars ----

uint32_t screen_bars_shown() { return S.current ? S.current->bars : 0; }
uint32_t screen_bars_saved() {
  return S.current ? S.current->bars | S.current->bars_before_zoom : 0;
}
void screen_show_bars_ex(uint32_t mask, int relayout) {
  if (S.current) show_bars(S.current, mask, relayout);
}
void screen_hide_bars_ex(uint32_t mask, int relayout) {
  if (S.current) hide_bars(S.current, mask, relayout);
}
void screen_show_bars(uint32_t mask) { screen_show_bars_ex(mask, 1); }
void screen_hide_bars(uint32_t mask) { screen_hide_bars_ex(mask, 1); }

void screen_toggle_bars(uint32_t mask) {
  if (!S.current) return;
  undo_push_screen_bars();
  uint32_t on = S.current->bars & mask;
  screen_hide_bars(on);
  screen_show_bars(mask & ~on);
}

static uint32_t toolbar_bits(int i) {
  return i == 0 ? BAR_TOOLBAR0 : i == 1 ? BAR_TOOLBAR1 : i == 2 ? BAR_TOOLBAR0 | BAR_TOOLBAR1 : 0;
}
void screen_show_tickbar() { screen_show_bars(BAR_TICKBAR); }
void screen_hide_tickbar() { screen_hide_bars(BAR_TICKBAR); }
void screen_hide_watchbar() { screen_hide_bars(BAR_WATCHBAR); }
void screen_hide_minibar() { screen_hide_bars(BAR_MINIBAR); }
void screen_show_toolbar(int i) {
  if (toolbar_bits(i)) screen_show_bars(toolbar_bits(i));
}
void screen_hide_toolbar(int i) {
  if (toolbar_bits(i)) screen_hide_bars(toolbar_bits(i));
}
void screen_show_configbox() { screen_show_bars(BAR_CONFIGBOX); }
void screen_hide_configbox() { screen_hide_bars_ex(BAR_CONFIGBOX, 0); }
bool screen_configbox_shown() { return S.current && (S.current->bars & BAR_CONFIGBOX); }
void screen_open_configbox() {
  if (!S.current) return;
  configbox_show_login(S.current->config_box);
  screen_show_configbox();
}
void screen_open_configbox_state() {
  if (!S.current) return;
  configbox_show_logout(S.current->config_box);
  screen_show_configbox();
}
void screen_show_help(int topic) {
  screen *s = S.current;
  if (!s) return;
  helpwin_set_topic(s->helpwin, topic);
  if (!(s->bars & BAR_HELP) && help_alone(s)) {
    // The panel is opaque: drawing it (and the window bar, drawn over it)
    // is the whole change.
    widget_show_subtree(s->helpwin);
    s->bars |= BAR_HELP;
    place_help(s);
    widget_redraw(s->helpwin);
    if ((s->bars & BAR_WINBAR) && overlaps(s->winbar->r, s->helpwin->r)) widget_redraw(s->winbar);
    gui_recheck_hover();
    return;
  }
  screen_show_bars(BAR_HELP);
}
void screen_hide_help() {
  screen *s = S.current;
  if (s && (s->bars & BAR_HELP) && help_alone(s)) {
    // What the panel covered is drawn again; nothing else moves.
    widget_hide_subtree(s->helpwin);
    s->bars &= ~BAR_HELP;
    gui_invalidate_window(s->os_window);
    gui_recheck_hover();
    return;
  }
  screen_hide_bars(BAR_HELP);
}
void screen_hide_groupbar() { screen_hide_bars_ex(BAR_GROUPBAR, 0); }

void screen_show_quick_window() {
  screen *s = S.current;
  if (!s || !s->quick_window) return;
  window_set_bar_mode(s->quick_window, 0);
  screen_show_bars(BAR_QUICK);
  s->front_popup = BAR_QUICK;
}

void screen_hide_quick_window() {
  screen *s = S.current;
  if (!s) return;
  screen_hide_bars(BAR_QUICK);
  s->front_popup = (s->bars & BAR_POPUP_DOCUMENT) ? uint32_t(BAR_POPUP_DOCUMENT) : 0u;
}

void screen_zoom_window(window *w) {
  screen *s = S.current;
  if (!s || !w || !s->zoom_window || w == s->zoom_window) return;
  s->zoom_source = w;
  screen_hide_popups(1);
  s->bars_before_zoom = s->bars & ~BAR_ZOOM;
  window_copy(s->zoom_window, w);
  window_set_bar_mode(s->zoom_window, 2);
  hide_bars(s, BAR_WATCHBAR | BAR_TICKBAR | BAR_MINIBAR | BAR_QUOTE_POPWIN | BAR_DESKTOP |
                   BAR_TOOLBAR0 | BAR_TOOLBAR1 | BAR_HOVER | BAR_DEPTHDTL | BAR_GENDTL |
                   BAR_POPUP_DOCUMENT | BAR_QUICK | BAR_WINBAR, 0);
  show_bars(s, BAR_ZOOM, 1);
}

void screen_unzoom() {
  screen *s = S.current;
  if (!s || !(s->bars & BAR_ZOOM)) return;
  window *src = s->zoom_source;
  if (src) window_copy(src, s->zoom_window);
  s->zoom_source = nullptr;
  hide_bars(s, BAR_ZOOM, 0);
  uint32_t back = s->bars_before_zoom;
  if (s->maximised) back |= BAR_WINBAR;
  s->bars_before_zoom = 0;
  show_bars(s, back, 1);
  if (src) src->cls->geometry_changed(src);
  S.relayout_pending = true;
  if (desktop *d = screen_current_desktop()) desktop_resync_charts(d);
}

bool screen_is_zoom_window(const window *w) { return S.current && w && S.current->zoom_window == w; }
window *screen_zoom_source() { return S.current ? S.current->zoom_source : nullptr; }

// screen_place_keypad: in screen/minibar.cpp, beside the keypad it places.

#define CHILD(name, field, type) \
  type name() { return S.current ? S.current->field : nullptr; }
CHILD(screen_watchbar, watchbar, widget *)
CHILD(screen_tickbar, tickbar, widget *)
CHILD(screen_minibar, minibar, widget *)
CHILD(screen_quote_popwin, quote_popwin, window *)
CHILD(screen_quick_window, quick_window, window *)
CHILD(screen_zoom_window_get, zoom_window, window *)
CHILD(screen_popup_document, popup_document, window *)
CHILD(screen_popup_window, hover_window, window *)
CHILD(screen_depthdtl, depthdtl, widget *)
CHILD(screen_configbox, config_box, configbox *)
#undef CHILD
widget *screen_toolbar(int i) {
  return S.current && (i == 0 || i == 1) ? S.current->toolbars[i] : nullptr;
}
uint32_t screen_front_popup() { return S.current ? S.current->front_popup : 0; }

void screen_relayout() {
  screen *s = S.current;
  if (!s) return;
  s->cls->geometry_changed(s);
  S.relayout_pending = true;
  if (is_open(s)) gui_invalidate_window(s->os_window);
  gui_recheck_hover();
}

void screen_refresh() {
  S.refreshes++;
  screen *s = S.current;
  if (!s) return;
  s->cls->restyle(s);
  for (int i = 0; i < s->cls->child_count(s); i++) {
    widget *c = s->cls->get_child(s, i);
    c->cls->restyle(c);
  }
  screen_relayout();
  // The general detail popup takes its new size where it stands.
  if ((s->bars & BAR_GENDTL) && s->gendtl) screen_place_gendtl(s->gendtl->r.x, s->gendtl->r.y);
}

uint32_t screen_refresh_count() { return S.refreshes; }
void screen_request_redraw() { S.relayout_pending = true; }
void screen_request_toolbar_refresh() { S.toolbar_refresh_pending = true; }

bool screen_is_remover(widget *w) {
  screen *s = S.current;
  if (!s || !w) return false;
  if (s->current_desktop >= 0 && s->current_desktop < kDesktops &&
      w == s->desktops[s->current_desktop])
    return true;
  for (widget *t : s->toolbars)
    if (t && w == toolbar_remove_button(t)) return true;
  return false;
}

// The toolbars of every screen rebuild one list; closed screens too, so a
// screen opened later shows the lists as they are.
static void rebuild_toolbar_lists(void (*rebuild)(widget *)) {
  for (screen *s : S.screens)
    if (s)
      for (widget *t : s->toolbars)
        if (t) rebuild(t);
  S.relayout_pending = true;
}
void screen_toolbars_rebuild_list0() { rebuild_toolbar_lists(toolbar_rebuild_watchlists); }
void screen_toolbars_rebuild_list1() { rebuild_toolbar_lists(toolbar_rebuild_scans); }
void screen_toolbars_rebuild_list2() { rebuild_toolbar_lists(toolbar_rebuild_cstyles); }
void screen_toolbars_rebuild_list3() { rebuild_toolbar_lists(toolbar_rebuild_feeds); }
void screen_desktops_changed() { S.desktops_changed = true; }
void screen_mark_changed() { S.desktops_changed = true; }

// ---- desktops ----

int screen_desktop_index() { return S.current ? S.current->current_desktop : 0; }
int screen_desktop_index_of(desktop *d) {
  screen *s = d ? static_cast<screen *>(static_cast<widget *>(d)->parent) : nullptr;
  if (index_of_screen(s) < 0) return -1;
  for (int i = 0; i < kDesktops; i++)
    if (s->desktops[i] == d) return i;
  return -1;
}
desktop *screen_current_desktop() {
  return S.current ? S.current->desktops[S.current->current_desktop] : nullptr;
}
desktop *screen_get_desktop(int i) {
  return S.current && i >= 0 && i < kDesktops ? S.current->desktops[i] : nullptr;
}

void screen_select_desktop(int i, int show) {
  screen *s = S.current;
  if (!s || i < 0 || i >= kDesktops || i == s->current_desktop) return;
  s->current_desktop = i;
  for (int k = 0; k < kDesktops; k++)
    if (k != i) widget_hide_subtree(s->desktops[k]);
  if (show) widget_show_subtree(s->desktops[i]);
  screen_hide_popups(1);
  S.relayout_pending = true;
  S.desktops_changed = true;
  gui_recheck_hover();
}

void screen_switch_desktop(int i) { screen_select_desktop(i, 1); }
void screen_select_desktop_quiet(int i) { screen_select_desktop(i, 0); }
void screen_prev_desktop() {
  screen_select_desktop((screen_desktop_index() + kDesktops - 1) % kDesktops, 1);
}
void screen_next_desktop() { screen_select_desktop((screen_desktop_index() + 1) % kDesktops, 1); }

void screen_sanitize_desktops(int n) {
  screen *s = screen_get(n);
  if (!s) return;
  for (desktop *d : s->desktops) desktop_sanitize(d);
}

void screen_forget_window(int n, window *w) {
  screen *s = screen_get(n);
  if (!s) return;
  if (s->zoom_source == w) s->zoom_source = nullptr;
  if (s->zoom_window == w) s->zoom_window = nullptr;
}

void screen_hide_popups(int all) {
  if (!S.current) return;
  uint32_t m = BAR_QUOTE_POPWIN | BAR_HOVER | BAR_DEPTHDTL | BAR_GENDTL;
  if (all) {
    m |= BAR_QUICK | BAR_POPUP_DOCUMENT;
    S.current->front_popup = 0;
  }
  hide_bars(S.current, m, 0);
}

// ---- OS window ----

int screen_open(int n) {
  screen *s = screen_get(n);
  if (!s) return -1;
  if (is_open(s)) {
    log(LOG_WARN, kSrc, "screen %d is already displayed", n);
    return -1;
  }
  // Saved places come through frame (the configuration reader sets it):
  // normal_frame is used when it has a width, else frame.
  rect r = s->normal_frame.w > 0 ? s->normal_frame : s->frame;
  if (gui_monitor_count() > 0) gui_clamp_to_screen(&r);
  widget_hide(s);
  fade_hold();
  int idx = gui_window_open(s, r.w > 0 ? &r : nullptr, 0);
  fade_release();
  if (idx < 0) {
    log(LOG_ERROR, kSrc, "can't open screen %d", n);
    return -1;
  }
  s->os_window = idx;
  S.relayout_pending = true;
  gui_promise_after_draw(opened, nullptr, n);
  screen *prev = S.current;
  S.current = s;
  screen_set_title(nullptr);
  S.current = prev;
  return 0;
}

int screen_close(int n) {
  screen *s = screen_get(n);
  if (!s) return -1;
  if (!is_open(s)) {
    widget_hide_subtree(s);
    return -1;
  }
  if (gui_window_state(s->os_window) == 0) gui_window_frame(s->os_window, &s->frame);
  gui_window_prev_frame(s->os_window, &s->normal_frame);
  int idx = s->os_window;
  s->os_window = -1;
  gui_window_close(idx);
  S.relayout_pending = true;
  return 0;
}

bool screen_is_open(int n) { return is_open(screen_get(n)); }
int screen_count_open() {
  int c = 0;
  for (screen *s : S.screens) c += is_open(s);
  return c;
}
int screen_window_state(int n) {
  screen *s = screen_get(n);
  return is_open(s) ? gui_window_state(s->os_window) : -1;
}

void screen_set_state(int n, int state) {
  if (!screen_push(n)) return;
  switch (state) {
    case -1: screen_close(n); break;
    case 0: screen_restore(); break;
    case 1: screen_minimise(); break;
    case 2: screen_maximise(); break;
    default: break;
  }
  screen_pop();
}

void screen_minimise() {
  screen *s = S.current;
  if (!is_open(s)) return;
  gui_window_set_state(s->os_window, 1);
  S.relayout_pending = true;
}

void screen_maximise() {
  screen *s = S.current;
  if (!is_open(s)) return;
  gui_window_set_state(s->os_window, 2);
  int st = gui_window_state(s->os_window);
  log(LOG_INFO, kSrc, "check state %d %d", s->os_window, st);
  if (st == 2) {
    s->maximised = 1;
    winbar_set_maximised(s->winbar, 1);
    show_bars(s, BAR_WINBAR, 1);
  }
  S.relayout_pending = true;
}

void screen_restore() {
  screen *s = S.current;
  if (!is_open(s)) return;
  gui_window_set_state(s->os_window, 0);
  if (s->normal_frame.w > 0) gui_window_set_frame(s->os_window, &s->normal_frame);
  gui_window_set_border(s->os_window);
  winbar_set_maximised(s->winbar, 0);
  hide_bars(s, BAR_WINBAR, 1);
  S.relayout_pending = true;
  s->maximised = 0;
}

void screen_gui_state(int n, int state) {
  screen *s = screen_get(n);
  if (!is_open(s)) return;
  if (state == 2) {
    s->maximised = 1;
    winbar_set_maximised(s->winbar, 1);
    s->bars &= ~BAR_WINBAR;
    show_bars(s, BAR_WINBAR, 1);
    gui_window_set_borderless(s->os_window);
  } else {
    // Maximised by the manager, the window lost its border to the window
    // bar; back from it (or minimised from it), it gets the border again, as
    // from screen_restore, or nothing would be left to move it by.
    if (s->maximised) gui_window_set_border(s->os_window);
    s->maximised = 0;
    hide_bars(s, BAR_WINBAR, 1);
  }
}

bool screen_is_minimised() { return is_open(S.current) && gui_window_state(S.current->os_window) == 1; }
bool screen_is_maximised() { return is_open(S.current) && gui_window_state(S.current->os_window) == 2; }
bool screen_window_shown() {
  return !is_open(S.current) || gui_window_has_border(S.current->os_window);
}
void screen_show_window() {
  if (is_open(S.current)) gui_window_set_border(S.current->os_window);
  S.relayout_pending = true;
}
void screen_hide_window() {
  if (is_open(S.current)) gui_window_set_borderless(S.current->os_window);
  S.relayout_pending = true;
}

rect screen_get_rect() {
  screen *s = S.current;
  if (!s) return {0, 0, 0, 0};
  if (is_open(s)) gui_window_prev_frame(s->os_window, &s->normal_frame);
  return s->normal_frame;
}

void screen_set_rect(const rect *r) {
  screen *s = S.current;
  if (!s || !r) return;
  s->frame = *r;
  if (is_open(s)) gui_window_set_frame(s->os_window, r);
}

void screen_store_rect(const rect *r) {
  if (S.current && r) S.current->normal_frame = *r;
}

void screen_update_min_size() {
  screen *s = S.current;
  if (!is_open(s)) return;
  size m = {0, 0}, hi = {0, 0};
  s->cls->size_limits(s, &m, &hi);
  m.w = std::max(m.w, kMinW);
  m.h = std::max(m.h, kMinH);
  int32_t cw = 0, ch = 0;
  gui_window_size(s->os_window, &cw, &ch);
  if (m.w > cw || m.h > ch) {
    if (S.warned.w != cw || S.warned.h != ch) {
      log(LOG_WARN, kSrc, "%dx%d too small to set min size to %dx%d", cw, ch, m.w, m.h);
      S.warned = {cw, ch};
    }
    m.w = std::min(m.w, kCapW);
    m.h = std::min(m.h, kCapH);
  }
  gui_window_set_min_size(s->os_window, &m);
  S.min_set[index_of_screen(s)] = m;
}

size screen_min_size_set(int n) { return n >= 0 && n < kScreens ? S.min_set[n] : size{0, 0}; }

const char *screen_title_for(int n, const char *text) {
  if (n >= 1 && n <= 3)
    snprintf(S.title, sizeof S.title, "Ambit (%d)", n + 1);
  else
    snprintf(S.title, sizeof S.title, "Ambit");
  if (text && *text) {
    // Texts longer than the scratch space are left off, as a whole.
    if (strlen(S.title) + 2 + strlen(text) < 65536) {
      static std::string full;
      full = S.title;
      full += ": ";
      full += text;
      return full.c_str();
    }
  }
  return S.title;
}

void screen_set_title(const char *text) {
  screen *s = S.current;
  const char *t = screen_title_for(index_of_screen(s), text);
  if (!is_open(s)) return;
  const char *cur = gui_window_title(s->os_window);
  if (cur && strncmp(cur, t, sizeof(gui_win::title) - 1) == 0) return;
  gui_window_set_title(s->os_window, t);
}

// ---- the backstop ----

void screen_backstop() {
  if (S.relayout_pending) {
    if (!gui_dragging() || splitter_dragging()) {
      for_each_open([](screen *s, int) {
        for (widget *t : s->toolbars) toolbar_update(t);
        s->cls->geometry_changed(s);
      });
      S.relayout_pending = false;
      S.toolbar_refresh_pending = false;
    }
  } else if (S.toolbar_refresh_pending) {
    for_each_open([](screen *s, int) {
      for (widget *t : s->toolbars) toolbar_update_logout(t);
    });
    S.toolbar_refresh_pending = false;
  }
  // One screen that animates keeps the loop at its working pace, whichever
  // screen comes last.
  bool busy = fade_timer_running() != 0;
  for_each_open([&busy](screen *s, int) {
    if (!shown(s->zoom_window)) tickbar_step(s->tickbar);
    if (tickbar_moving(s->tickbar) || shown(s->config_box)) busy = true;
  });
  gui_set_frame_mode(busy ? 0 : 1);
  // A popup document waiting for its page size is placed again each pass.
  if (screen_document_waiting() && S.current && (S.current->bars & BAR_POPUP_DOCUMENT))
    screen_place_popup_document(0);
  const int64_t t = now_ms();
  // The mini desktops follow their windows: a role, an instrument or a
  // trend that changes reaches no desktop operation, so they are also laid
  // out again four times a second (only a changed one redraws).
  static int64_t minis_at = 0;
  if (S.desktops_changed || t - minis_at >= 250) {
    for_each_open([](screen *s, int) { minibar_refresh(s->minibar); });
    S.desktops_changed = false;
    minis_at = t;
  }
  for_each_open([t](screen *s, int) {
    gui_win *gw = gui_window_record(s->os_window);
    if (!gw) return;
    auto full = [&]() {
      gui_invalidate_window(s->os_window);
      s->last_full_redraw = int32_t(t);
      s->full_redraw_pending = 0;
    };
    if (gw->full_redraw) {
      s->last_full_redraw = int32_t(t);
      s->full_redraw_pending = 0;
    } else if (s->full_redraw_pending && t > int64_t(s->last_full_redraw) + kScreenFullRedrawMs) {
      full();
    } else if (gui_dragging()) {
      full();
    } else if (gw->update_count > 0) {
      if (only_help_floats(s)) {
        // Whatever changed under the help window is covered again by it.
        const rect &hr = s->helpwin->r;
        for (int i = 0; i < gw->update_count; i++) {
          const gui_update &u = gw->updates[i];
          if (u.w && u.w != s->helpwin && (overlaps(u.r, hr) || overlaps(u.w->r, hr))) {
            widget_redraw(s->helpwin);
            break;
          }
        }
        if (s->bars & BAR_WINBAR) widget_redraw(s->winbar);
        s->full_redraw_pending = 1;
      } else if (keypad_visible(s->keypad) || (s->bars & kFloating)) {
        full();
      } else {
        if (s->bars & BAR_WINBAR) widget_redraw(s->winbar);
        s->full_redraw_pending = 1;
      }
    }
  });
  for_each_open([](screen *s, int) {
    if (shown(s->zoom_window) && (s->bars & BAR_ZOOM))
      screen_set_title(window_title_text(s->zoom_window));
    else
      screen_set_title(nullptr);
  });
}

void screen_set_clock(int64_t (*now)()) { S.clock = now; }
void screen_set_online_query(int (*logged_in)()) { S.logged_in = logged_in; }
bool screen_relayout_pending() { return S.relayout_pending; }
bool screen_toolbar_refresh_pending() { return S.toolbar_refresh_pending; }
bool screen_desktops_changed_pending() { return S.desktops_changed; }
bool screens_up() { return S.screens_up; }
