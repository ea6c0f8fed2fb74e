// Desktops. The single child of a desktop is the root of its tree: one
// window or a splitter. Everything that orders windows (focus movement, the
// layout text's window numbers) uses the window map, top edge then left
// edge. Reading layout text builds nothing until the text is known good,
// and a split makes its new windows before the source leaves its place, so
// a refusal or failure leaves the tree as it was.
//
// Slots: geometry_changed, size_limits, restyle, show_children, release,
// layout, remove.
#include "screen/desktop.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "screen/screen.h"
#include "screen/splitter.h"
#include "style.h"
#include "ui/gui.h"
#include "undo.h"
#include "windows/depthwin.h"

static const char kSrc[] = "src/screen/desktop";

namespace {

struct map_frame {
  int32_t cursor;
  int32_t count;
  window *w[kDesktopMapWindows];
};

struct {
  map_frame maps[kDesktopMapFrames];
  int depth;
  bool changing;
  bool in_relayout;
  bool relayout_requested;
  int64_t sync_busy_until;
  window *split_result[10];
} S;

desktop *as_desktop(widget *w) { return static_cast<desktop *>(w); }
container *as_container(widget *w) { return static_cast<container *>(w); }

void collect(widget *w, std::vector<window *> *out) {
  if (!w) return;
  if (window_is(w)) {
    if (out->size() >= size_t(kDesktopMapWindows)) {
      log(LOG_ERROR, kSrc, "too many windows");
      return;
    }
    out->push_back(static_cast<window *>(w));
    return;
  }
  const int n = w->cls->child_count(w);
  for (int i = 0; i < n; i++) collect(w->cls->get_child(w, i), out);
}

void remove_from_parent(widget *w) {
  if (w && w->parent) container_cls(as_container(w->parent))->remove(as_container(w->parent), w);
}

void for_splitters(widget *w, void (*fn)(splitter *, void *), void *arg) {
  if (!splitter_is(w)) return;
  splitter *s = static_cast<splitter *>(w);
  for_splitters(s->child_a, fn, arg);
  for_splitters(s->child_b, fn, arg);
  fn(s, arg);
}

// The smallest positive window extent of the tree, at most 60, becomes
// every splitter's minimum pane.
void min_pane_pass(desktop *d) {
  if (!splitter_is(d->child)) return;
  int32_t m = kSplitterMinPane;
  for (window *w : desktop_windows(d->child)) {
    if (w->r.w > 0) m = std::min(m, w->r.w);
    if (w->r.h > 0) m = std::min(m, w->r.h);
  }
  for_splitters(d->child, [](splitter *s, void *arg) { s->min_pane = *static_cast<int32_t *>(arg); },
                &m);
}

void d_layout(container *self) {
  bin *b = static_cast<bin *>(self);
  if (!b->child) return;
  const int32_t G = splitter_gap();
  b->child->r = {self->r.x + G / 2, self->r.y + G / 2, self->r.w - G, self->r.h - G};
}

void d_geometry_changed(widget *self) {
  if (!gui_resizing()) desktop_relayout(as_desktop(self));
  static_cast<container_class *>(object_class_record(bin_type()))->geometry_changed(self);
}

void d_size_limits(widget *self, size *min, size *max) {
  desktop *d = as_desktop(self);
  *min = d->child ? desktop_tree_min_size(d->child) : size{60, 60};
  if (max) *max = {0, 0};
}

void d_restyle(widget *self) {
  desktop *d = as_desktop(self);
  container_set_bg(d, desktop_bg_colour());
  if (d->child) d->child->cls->restyle(d->child);
}

void d_show_children(widget *self) {
  desktop *d = as_desktop(self);
  // Windows compare prices with what the user saw when the desktop showed.
  for (window *w : desktop_windows(d->child)) window_take_instr_prices(w);
  if (d->child) widget_show_subtree(d->child);
  min_pane_pass(d);
}

void d_release(widget *self, int32_t px, int32_t py, int button) {
  if (button != 2 || gui_dragging()) return;
  uint32_t bar = desktop_edge_bar(as_desktop(self), px, py);
  if (bar) screen_toggle_bars(bar);
}

widget *d_remove(container *self, widget *child) {
  if (window_is(child)) desktop_forget_window(as_desktop(self), static_cast<window *>(child));
  return static_cast<container_class *>(object_class_record(bin_type()))->remove(self, child);
}

void desktop_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->geometry_changed = d_geometry_changed;
  c->size_limits = d_size_limits;
  c->restyle = d_restyle;
  c->show_children = d_show_children;
  c->release = d_release;
  c->layout = d_layout;
  c->remove = d_remove;
}

typeid_t register_desktop() {
  return object_register_class("desktop", bin_type(), sizeof(desktop), nullptr, nullptr,
                               sizeof(container_class), desktop_class_init, nullptr);
}

int index_in(const std::vector<window *> &v, const window *w) {
  for (size_t i = 0; i < v.size(); i++)
    if (v[i] == w) return int(i);
  return -1;
}

void write_tree(widget *w, const std::vector<window *> &map, std::string *s) {
  char buf[40];
  if (window_is(w)) {
    int i = index_in(map, static_cast<window *>(w));
    if (i < 0) {
      log(LOG_ERROR, kSrc, "didn't find window???");
      return;
    }
    snprintf(buf, sizeof buf, " W%d", i);
    *s += buf;
  } else if (splitter_is(w)) {
    splitter *sp = static_cast<splitter *>(w);
    if (!sp->child_a || !sp->child_b) {  // a half-built splitter: its one child only
      write_tree(sp->child_a ? sp->child_a : sp->child_b, map, s);
      return;
    }
    write_tree(sp->child_a, map, s);
    write_tree(sp->child_b, map, s);
    snprintf(buf, sizeof buf, " %c%.3f", sp->orientation ? 'V' : 'H', sp->ratio);
    *s += buf;
  }
}

// Builds the widget tree of a checked plain tree. The splitters are made
// first, so a failure there leaves every window where it was; then the
// windows leave their old parents and take their places.
widget *build_tree(const layout_tree &t, window **windows) {
  std::vector<splitter *> made(t.nodes.size(), nullptr);
  for (size_t i = 0; i < t.nodes.size(); i++) {
    if (t.nodes[i].win >= 0) continue;
    made[i] = splitter_new(nullptr, t.nodes[i].orientation, nullptr, nullptr, t.nodes[i].ratio);
    if (!made[i]) {
      for (splitter *s : made)
        if (s) widget_delete(s);
      return nullptr;
    }
  }
  for (const layout_node &nd : t.nodes)
    if (nd.win >= 0) remove_from_parent(windows[nd.win]);
  auto node_widget = [&](int32_t i) -> widget * {
    const layout_node &nd = t.nodes[size_t(i)];
    return nd.win >= 0 ? static_cast<widget *>(windows[nd.win]) : made[size_t(i)];
  };
  // Children precede their splitter in postfix order.
  for (size_t i = 0; i < t.nodes.size(); i++) {
    if (!made[i]) continue;
    splitter *s = made[i];
    widget *a = node_widget(t.nodes[i].a), *b = node_widget(t.nodes[i].b);
    if (container_cls(s)->add(s, a) == 0) s->child_a = a;
    if (container_cls(s)->add(s, b) == 0) s->child_b = b;
  }
  return node_widget(t.root);
}

// Empties the desktop: its windows leave the tree (not deleted), the rest of
// the tree (splitters) is deleted.
void detach_all(desktop *d) {
  for (window *w : desktop_windows(d->child)) remove_from_parent(w);
  if (d->child) {
    widget *rest = d->child;
    container_cls(d)->remove(d, rest);
    widget_delete(rest);
  }
}

void delete_window(desktop *d, window *w) {
  desktop_forget_window(d, w);
  remove_from_parent(w);
  widget_delete(w);
}

// Puts the tree of t into d with the listed windows; windows of the old tree
// or of the list left out of the new one are deleted.
int install(desktop *d, window *focus, const layout_tree &t, window **windows, int n) {
  std::vector<window *> old = desktop_windows(d->child);
  std::vector<window *> keep;
  for (int i = 0; i < n; i++)
    if (t.placed[size_t(i)]) keep.push_back(windows[i]);
  std::vector<window *> drop;
  auto kept = [&](window *w) { return std::find(keep.begin(), keep.end(), w) != keep.end(); };
  for (window *w : old)
    if (!kept(w)) drop.push_back(w);
  for (int i = 0; i < n; i++)
    if (!kept(windows[i]) && std::find(drop.begin(), drop.end(), windows[i]) == drop.end())
      drop.push_back(windows[i]);
  widget *root = build_tree(t, windows);
  if (!root) {
    log(LOG_ERROR, kSrc, "can't build the layout");
    return -1;
  }
  for (window *w : drop) delete_window(d, w);
  if (d->child) detach_all(d);
  container_cls(d)->add(d, root);
  for (window *w : keep) w->link = nullptr;
  for (auto &l : t.links) windows[l.second]->link = windows[l.first];
  if (!kept(d->focus)) d->focus = nullptr;
  if (focus && kept(focus) && focus != d->focus)
    desktop_set_focus(d, focus);
  else if (!d->focus && !keep.empty())
    desktop_set_focus(d, desktop_windows(root).front());
  d->cls->geometry_changed(d);
  if (d->flags & WIDGET_SHOWN) widget_show_subtree(root);
  return 0;
}

std::string default_text(int n) {
  std::string s = "W0";
  char buf[40];
  for (int i = 1; i < n; i++) {
    snprintf(buf, sizeof buf, " W%d H%.3f", i, double(i) / double(i + 1));
    s += buf;
  }
  return s;
}

}  // namespace

typeid_t desktop_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_desktop);
}

uint32_t desktop_bg_colour() {
  const style *st = style_cur();
  return st ? style_colour(st, SC_BACKGROUND) | 0xff000000u : 0xff202020u;
}

desktop *desktop_new(widget *scr) {
  auto *d = static_cast<desktop *>(widget_new(scr, desktop_type()));
  if (d) container_set_bg(d, desktop_bg_colour());
  return d;
}

desktop *desktop_of_widget(widget *w) {
  for (widget *p = w ? w->parent : nullptr; p; p = p->parent)
    if (desktop_is(p)) return as_desktop(p);
  return nullptr;
}

desktop *desktop_of_self(widget *w) {
  if (desktop_is(w)) return as_desktop(w);
  return desktop_of_widget(w);
}

std::vector<window *> desktop_windows(widget *subtree) {
  std::vector<window *> v;
  collect(subtree, &v);
  std::stable_sort(v.begin(), v.end(), [](const window *a, const window *b) {
    return a->r.y != b->r.y ? a->r.y < b->r.y : a->r.x < b->r.x;
  });
  return v;
}

void desktop_map_begin(widget *subtree) {
  if (S.depth >= kDesktopMapFrames) {
    log(LOG_FATAL, kSrc, "too many nested maps");
    return;
  }
  map_frame &f = S.maps[S.depth++];
  std::vector<window *> v = desktop_windows(subtree);
  f.cursor = 0;
  f.count = int32_t(v.size());
  std::copy(v.begin(), v.end(), f.w);
}

window *desktop_map_next() {
  if (S.depth == 0) return nullptr;
  map_frame &f = S.maps[S.depth - 1];
  return f.cursor < f.count ? f.w[f.cursor++] : nullptr;
}

void desktop_map_end() {
  if (S.depth == 0) {
    log(LOG_FATAL, kSrc, "unnested map");
    return;
  }
  S.depth--;
}

void desktop_relayout(desktop *d) {
  min_pane_pass(d);
  if (S.relayout_requested) {
    S.in_relayout = true;
    for (window *w : desktop_windows(d->child))
      if (w->flags & WIDGET_SHOWN) w->cls->geometry_changed(w);
    S.relayout_requested = false;
    S.in_relayout = false;
  }
  screen_desktops_changed();
  if (screen_index_of(d) >= 0) screen_update_min_size();
  widget_redraw(d);
}

void desktop_relayout_now(desktop *d) {
  S.changing = false;
  desktop_relayout(d);
}

void desktop_request_relayout() { S.relayout_requested = true; }
void desktop_set_changing() { S.changing = true; }
bool desktop_is_changing() { return S.changing || gui_resizing(); }
bool desktop_in_relayout() { return S.in_relayout; }

window *desktop_get_focus(desktop *d) { return d ? d->focus : nullptr; }

bool desktop_is_focus(window *w) {
  desktop *d = screen_current_desktop();
  return d && w && d->focus == w;
}

void desktop_set_focus(desktop *d, window *w) {
  if (!d || d->focus == w) return;
  if (d->focus) widget_redraw(d->focus);
  screen_hide_groupbar();
  if (w && !w->parent) log(LOG_ERROR, kSrc, "trying to focus on a window with no parent");
  d->focus = w;
  if (w) widget_redraw(w);
}

static window *focus_step(desktop *d, int step) {
  std::vector<window *> v = desktop_windows(d->child);
  if (v.empty()) return nullptr;
  int i = index_in(v, d->focus);
  int n = int(v.size());
  int j = i < 0 ? 0 : (i + step + n) % n;
  desktop_set_focus(d, v[size_t(j)]);
  return v[size_t(j)];
}

window *desktop_focus_prev(desktop *d) { return focus_step(d, -1); }
window *desktop_focus_next(desktop *d) { return focus_step(d, 1); }

void desktop_forget_window(desktop *d, window *w) {
  if (!d || !w) return;
  std::vector<window *> v = desktop_windows(d->child);
  if (d->focus == w) {
    d->focus = nullptr;
    for (window *o : v)
      if (o != w) {
        d->focus = o;
        break;
      }
  }
  for (window *o : v)
    if (o->link == w) o->link = nullptr;
  if (d->chart_sync_sender == w) d->chart_sync_sender = nullptr;
  int n = screen_index_of(d);
  if (n >= 0) screen_forget_window(n, w);
}

void desktop_unlink_window(desktop *, window *w) {
  if (w) window_unlink(w);
}

window *desktop_window_at(desktop *d, int32_t x, int32_t y) {
  const int32_t g = splitter_gap() / 2;
  for (window *w : desktop_windows(d->child)) {
    if (x >= w->r.x - g && x < w->r.x + w->r.w + g && y >= w->r.y - g && y < w->r.y + w->r.h + g)
      return w;
  }
  return nullptr;
}

static const char *split_text(int code) {
  switch (code) {
    case 12: return "W0 W1 H0.500";
    case 13: return "W0 W1 W2 H0.500 H0.333";
    case 21: return "W0 W1 V0.500";
    case 22: return "W0 W1 H0.500 W2 W3 H0.500 V0.500";
    case 23: return "W0 W1 V0.500 W2 W3 V0.500 W4 W5 V0.500 H0.500 H0.333";
    case 31: return "W0 W1 W2 V0.500 V0.333";
    case 32: return "W0 W1 H0.500 W2 W3 H0.500 W4 W5 H0.500 V0.500 V0.333";
    case 33:
      return "W0 W1 W2 H0.500 H0.333 W3 W4 W5 H0.500 H0.333 W6 W7 W8 H0.500 H0.333 V0.500 V0.333";
    default: return nullptr;
  }
}

window **desktop_split(desktop *d, window *w, int rows, int cols) {
  if (!d || !d->child) {
    log(LOG_ERROR, kSrc, "trying to split an empty desktop");
    return nullptr;
  }
  if (rows <= 0 || rows > 3 || cols <= 0 || cols > 3 || rows * cols == 1) {
    log(LOG_ERROR, kSrc, "won't do %dx%d split", cols, rows);
    return nullptr;
  }
  int32_t m = splitter_is(d->child) ? static_cast<splitter *>(d->child)->min_pane
                                    : kSplitterMinPane;
  const int32_t G = splitter_gap();
  if (w->r.w < (cols - 1) * G + cols * m) {
    log(LOG_WARN, kSrc, "window too narrow for split");
    return nullptr;
  }
  if (w->r.h < (rows - 1) * G + rows * m) {
    log(LOG_WARN, kSrc, "window too short for split");
    return nullptr;
  }
  widget *parent = w->parent;
  if (!parent) {
    log(LOG_ERROR, kSrc, "no parent to split");
    return nullptr;
  }
  if (!splitter_is(parent) && parent != d) {
    log(LOG_ERROR, kSrc, "unexpected window parent");
    return nullptr;
  }
  const char *text = split_text(rows * 10 + cols);
  const int n = rows * cols;
  layout_tree t;
  if (!text || layout_text_parse(text, n, &t) != 0) {
    log(LOG_ERROR, kSrc, "don't know how to do %dx%d split", cols, rows);
    return nullptr;
  }
  // The new windows first: a failure here leaves the tree untouched.
  window *ws[9] = {w};
  for (int i = 1; i < n; i++) {
    ws[i] = window_new(nullptr, 0);
    if (!ws[i]) {
      log(LOG_ERROR, kSrc, "can't create new window");
      for (int k = 1; k < i; k++) widget_delete(ws[k]);
      return nullptr;
    }
  }
  const bool shown = w->flags & WIDGET_SHOWN;
  // A placeholder keeps the source's slot while the new tree takes it.
  splitter *holder = nullptr;
  if (splitter_is(parent)) {
    holder = splitter_new(nullptr, 0, nullptr, nullptr, 0.5);
    if (!holder) {
      for (int k = 1; k < n; k++) widget_delete(ws[k]);
      return nullptr;
    }
    splitter_replace_child(static_cast<splitter *>(parent), w, holder);
  } else {
    container_cls(d)->remove(d, w);
  }
  widget *root = build_tree(t, ws);
  if (!root) {  // back as it was
    log(LOG_ERROR, kSrc, "can't create new window");
    if (holder) {
      splitter_replace_child(static_cast<splitter *>(parent), holder, w);
      widget_delete(holder);
    } else {
      container_cls(d)->add(d, w);
    }
    for (int k = 1; k < n; k++) widget_delete(ws[k]);
    return nullptr;
  }
  for (int i = 1; i < n; i++) window_hide_tools(ws[i]);
  if (holder) {
    splitter_replace_child(static_cast<splitter *>(parent), holder, root);
    widget_delete(holder);
  } else {
    container_cls(d)->add(d, root);
  }
  if (shown) widget_show_subtree(root);
  d->cls->geometry_changed(d);
  desktop_sanitize(d);
  for (int i = 1; i < n; i++) {
    window_copy_from(ws[i], w);
    undo_push_new_window(ws[i]);
    if (shown) ws[i]->cls->restyle(ws[i]);
  }
  for (int i = 0; i < 10; i++) S.split_result[i] = i < n ? ws[i] : nullptr;
  return S.split_result;
}

double desktop_snap_ratio(double r) {
  static const double kSnaps[] = {0.1, 0.2, 0.25, 0.333, 0.5, 0.666, 0.75, 0.8, 0.9};
  if (!(r > 0)) return r;
  double best = r, dist = 1.0;
  for (double c : kSnaps) {
    double dd = std::fabs(c - r) / r;
    if (dd < dist) {
      dist = dd;
      best = c;
    }
  }
  return best;
}

void desktop_snap_ratios(desktop *d) {
  for_splitters(d->child, [](splitter *s, void *) {
    double r = desktop_snap_ratio(s->ratio);
    if (r != s->ratio) s->ratio = r;
  }, nullptr);
  d->cls->geometry_changed(d);
}

int desktop_keep_only(desktop *d, window *w) {
  if (w->link) window_unlink(w);
  for (window *o : desktop_windows(d->child)) {
    if (o == w) continue;
    desktop_forget_window(d, o);
    remove_from_parent(o);
    undo_push_removed_window(o);
  }
  remove_from_parent(w);
  if (d->child) {
    widget *rest = d->child;
    container_cls(d)->remove(d, rest);
    widget_delete(rest);
  }
  container_cls(d)->add(d, w);
  if (d->flags & WIDGET_SHOWN) widget_show_subtree(w);
  d->cls->geometry_changed(d);
  desktop_sanitize(d);
  return 0;
}

void desktop_sanitize(desktop *d) {
  if (!d->child) {
    log(LOG_WARN, kSrc, "sanitizing empty desktop");
    window *w = window_new(d, 0);
    if (w && (d->flags & WIDGET_SHOWN)) widget_show_subtree(w);
    d->cls->geometry_changed(d);
  }
  if (!d->focus) {
    std::vector<window *> v = desktop_windows(d->child);
    if (!v.empty()) desktop_set_focus(d, v.front());
  }
}

uint32_t desktop_edge_bar(const desktop *d, int32_t px, int32_t py) {
  const rect r = d->r;
  const int32_t G = splitter_gap();
  if (px < r.x + G) return BAR_TOOLBAR0;
  if (px >= r.x + r.w - G - 1) return BAR_TOOLBAR1;
  if (py < r.y + G) return BAR_WATCHBAR;
  if (py >= r.y + r.h - G - 1) return BAR_MINIBAR;
  return 0;
}

void desktop_sync_charts_ex(window *w, int64_t value) {
  desktop *d = desktop_of_widget(w);
  if (!d) return;
  if (value != 0)
    d->chart_sync_sender = w;
  else if (d->chart_sync_sender != w)
    return;
  for (window *o : desktop_windows(d->child)) {
    window_pass_to_chart(o, ss_time(value));
    widget_redraw(o);
  }
}

void desktop_sync_charts(window *w, int64_t value) { desktop_sync_charts_ex(w, value); }
void desktop_clear_chart_sync(window *w) { desktop_sync_charts_ex(w, 0); }

void desktop_resync_charts(desktop *d) {
  S.sync_busy_until = gui_time_ms() + kChartSyncBusyMs;
  if (!d) return;
  // A depth window replaying sends its moment again.
  for (window *w : desktop_windows(d->child)) {
    if (w->role != kRoleDepth) continue;
    widget *c = window_get_content(w, kRoleDepth);
    const depthwin_book *b = c ? depthwin_get_book(c) : nullptr;
    if (b && b->anchor_position && b->position) desktop_sync_charts(w, b->position);
  }
}

void desktop_refresh_instr_prices(desktop *d, const instr *in) {
  if (!d || !in) return;
  for (window *w : desktop_windows(d->child))
    if (w->instrument == in) window_take_instr_prices(w);
}

bool desktop_sync_busy() {
  if (S.sync_busy_until == 0) return false;
  if (gui_time_ms() < S.sync_busy_until) return true;
  S.sync_busy_until = 0;
  return false;
}

size desktop_tree_min_size(widget *t) {
  if (!splitter_is(t)) return {60, 60};
  splitter *s = static_cast<splitter *>(t);
  if (!s->child_a || !s->child_b) return desktop_tree_min_size(s->child_a ? s->child_a : s->child_b);
  size a = desktop_tree_min_size(s->child_a), b = desktop_tree_min_size(s->child_b);
  const double r = s->ratio;
  const int32_t G = splitter_gap();
  if (s->orientation == 0)
    return {int32_t(std::lround(std::max(a.w / r, b.w / (1 - r)))) + G, std::max(a.h, b.h)};
  return {std::max(a.w, b.w), int32_t(std::lround(std::max(a.h / r, b.h / (1 - r)))) + G};
}

std::string desktop_layout_text(desktop *d) {
  std::vector<window *> map = desktop_windows(d->child);
  std::string s;
  write_tree(d->child, map, &s);
  char buf[40];
  for (size_t j = 0; j < map.size(); j++) {
    window *src = map[j]->link;
    if (!src) continue;
    int i = index_in(map, src);
    if (i < 0) {
      log(LOG_ERROR, kSrc, "can't find parent/child");
      continue;
    }
    snprintf(buf, sizeof buf, " P%d,%d", i, int(j));
    s += buf;
  }
  return s.empty() ? s : s.substr(1);
}

desktop_layout *desktop_layout_save(desktop *d) {
  std::vector<window *> map = desktop_windows(d->child);
  std::string text = desktop_layout_text(d);
  const int n = int(map.size());
  size_t bytes = sizeof(desktop_layout) + size_t(n) * sizeof(window *) + text.size() + 1;
  auto *l = static_cast<desktop_layout *>(calloc(1, bytes));
  if (!l) {
    log(LOG_ERROR, kSrc, "can't alloc %d window desktop layout", n);
    return nullptr;
  }
  l->d = d;
  l->focus = d->focus;
  l->n = n;
  l->windows = reinterpret_cast<window **>(l + 1);
  std::copy(map.begin(), map.end(), l->windows);
  l->text = reinterpret_cast<char *>(l->windows + n);
  memcpy(l->text, text.c_str(), text.size() + 1);
  return l;
}

int desktop_layout_restore(desktop_layout *l) {
  if (!l) return -1;
  return desktop_layout_apply(l->d, l->focus, l->text, l->windows, l->n);
}

void desktop_layout_free(desktop_layout *l) { free(l); }

int desktop_layout_apply(desktop *d, window *focus, const char *text, window **windows, int n) {
  if (!d || n < 0 || n > kLayoutWindowsMax || (n > 0 && !windows)) return -1;
  for (int i = 0; i < n; i++)
    for (int k = 0; k < i; k++)
      if (!windows[i] || windows[i] == windows[k]) {
        log(LOG_ERROR, kSrc, "bad window list");
        return -1;
      }
  layout_tree t;
  if (layout_text_parse(text, n, &t) == 0) return install(d, focus, t, windows, n);
  // A bad text. A desktop that holds none of the listed windows is being
  // loaded: its windows go into a default split. Otherwise the tree stays
  // and listed windows it does not hold (owned by nobody) are deleted.
  std::vector<window *> old = desktop_windows(d->child);
  bool any = false;
  for (int i = 0; i < n; i++)
    if (std::find(old.begin(), old.end(), windows[i]) != old.end()) any = true;
  if (!any && n > 0) {
    log(LOG_WARN, kSrc, "bad layout text: default split of %d windows", n);
    layout_tree dt;
    if (layout_text_parse(default_text(n).c_str(), n, &dt) == 0) install(d, focus, dt, windows, n);
    return -1;
  }
  for (int i = 0; i < n; i++)
    if (std::find(old.begin(), old.end(), windows[i]) == old.end()) delete_window(d, windows[i]);
  return -1;
}
