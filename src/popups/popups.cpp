// The hover previews. One popup at a time: the state below says what the
// hover popup window shows, so a second hover over the same thing only
// places it again. Every push acts on the owner's screen: pushed as current
// for the push and popped after it, and only when it was pushed (a screen
// that is not open is refused and nothing else happens). What a push does
// to screens and windows goes through an operation table, the real one by
// default, a recording one in tests.
#include "popups/popups.h"

#include "lib/scan.h"
#include "charts/cstyle.h"
#include "log.h"
#include "popups/place.h"
#include "screen/screen.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "ui/gui.h"
#include "windows/depthwin.h"
#include "windows/nuchart.h"
#include "windows/window.h"

namespace {

const char kSrc[] = "popups";

struct pending_anchor {
  rect r;
  uint32_t side, flag;
};

struct {
  popups_state st = {kPopupNone, nullptr, nullptr, 0, nullptr, -1, 0, 0, 0};
  pending_anchor anchor = {{0, 0, 0, 0}, 0, 0};  // r.w 0: none pending
  popups_ops ops;
  bool ops_set = false;
  const window *owner_window = nullptr;  // the window whose content asked last (compared, never read)
} S;

// ---- the real operations ----

void real_place(int32_t w, int32_t h) {
  int win;
  int32_t x = 0, y = 0;
  gui_mouse(&win, &x, &y);
  if (w < 0 && h < 0)
    screen_place_popup(x, y);
  else
    screen_place_popup_ex(x, y, -1, -1, w, h, 0);
}
void real_place_default(window *p) {
  screen *s = screen_current();
  if (!s) return;
  size least = place_hover_min(s->r.w, s->r.h, 16);
  p->r = {0, 0, least.w, least.h};
}
void real_show(window *p, uint32_t role, instr *in) {
  window_set_role(p, role);
  window_set_instrument(p, in);
}
nuchart *real_chart(window *p) {
  widget *c = window_get_content(p, kRoleChart);
  return c && object_is_a(reinterpret_cast<object *>(c), nuchart_type()) ? nuchart_cast(c) : nullptr;
}
void real_depth_copy(window *p, window *quick) {
  widget *dst = window_get_content(p, kRoleDepth);
  widget *src = quick ? window_get_content(quick, kRoleDepth) : nullptr;
  if (dst && src) depthwin_copy(dst, src);
}
void real_depth_play_mark(window *p, ss_time t) {
  widget *d = window_get_content(p, kRoleDepth);
  if (!d) return;
  depthwin_play_to(d, t, 1);
  depthwin_mark_position(d);
}
void real_show_list(window *p, scan *list) {
  window_set_role(p, kRoleWatchlist);
  window_set_wlist(p, list);
}

popups_ops defaults() {
  popups_ops o = {};
  o.push_screen = screen_push;
  o.pop_screen = screen_pop;
  o.popup_window = screen_popup_window;
  o.quick_window = screen_quick_window;
  o.set_anchor = screen_set_popup_anchor;
  o.place = real_place;
  o.place_default = real_place_default;
  o.copy_window = window_copy;
  o.equal = window_equal;
  o.show = real_show;
  o.chart = real_chart;
  o.depth_copy = real_depth_copy;
  o.depth_play_mark = real_depth_play_mark;
  o.show_list = real_show_list;
  o.request_trades_for_day = ssclient_request_trades_for_day;
  o.scan_equal = scan_equal;
  return o;
}

const popups_ops &ops() {
  if (!S.ops_set) {
    S.ops = defaults();
    S.ops_set = true;
  }
  return S.ops;
}

// The owner's screen made current for one push; popped only when pushed.
class owner_guard {
 public:
  owner_guard() {
    const int n = S.st.owner;
    S.st.owner = -1;
    if (n < 0) return;
    if (!ops().push_screen(n)) {
      log(LOG_ERROR, kSrc, "won't push %d", n);
      refused_ = true;
      return;
    }
    pushed_ = true;
  }
  ~owner_guard() {
    if (pushed_) ops().pop_screen();
  }
  bool refused() const { return refused_; }

 private:
  bool pushed_ = false, refused_ = false;
};

// A pending anchor goes to the screen, then the window is placed and shown.
void place(int32_t w, int32_t h) {
  if (S.anchor.r.w != 0) {
    ops().set_anchor(S.anchor.r.x, S.anchor.r.y, S.anchor.r.w, S.anchor.r.h, S.anchor.side);
    S.anchor.r.w = 0;
  }
  ops().place(w, h);
}

ss_time date_of(ss_time t) { return t & ~kSstimeSecondsMask; }
ss_time tod(ss_time t) { return t & kSstimeSecondsMask; }

void set_chart_common(nuchart *c, int o1, int o2, int o3, int32_t range_kind) {
  nuchart_set_range(c, range_kind, 1);
  nuchart_set_period(c, 5, 1);
  nuchart_set_type(c, 4);
  nuchart_clear_overlays(c);
  const float one[3] = {1.0f, kCstyleUnset, kCstyleUnset};
  nuchart_add_overlay(c, 9, one);
  const float bands[3] = {o1 ? 1.0f : 0.0f, o2 ? 1.0f : 0.0f, o3 ? 1.0f : 0.0f};
  nuchart_add_overlay(c, 13, bands);
  nuchart_clear_indicators(c);
  nuchart_set_options(c, 0x201013);
}

void push_chart(instr *in, ss_time centre, ss_time marker, int o1, int o2, int o3, int form) {
  owner_guard g;
  if (g.refused()) return;
  window *p = ops().popup_window();
  if (!p || !in) return;
  nuchart *c = nullptr;
  // Around a time and over a range share the kind: the form decides too.
  if (!(S.st.kind == kPopupChart && S.st.item == in && S.st.chart_form == form)) {
    S.st.kind = kPopupChart;
    S.st.item = in;
    S.st.list = nullptr;
    S.st.chart_form = form;
    ops().show(p, kRoleChart, in);
    if ((c = ops().chart(p))) {
      set_chart_common(c, o1, o2, o3, form == 0 ? 1 : 6);
      if (form == 1) {
        ss_time today = in->exchange ? in->exchange->date : 0;
        nuchart_set_times(c, -1, 0, 2, int32_t(today));
      }
    }
  }
  if (!c) c = ops().chart(p);
  // The chart is centred on the time (its span kept) and marks it.
  if (form == 0) {
    S.st.centre = centre;
    if (c) nuchart_center_on(c, 1, centre);
  }
  S.st.marker = marker;
  if (c && marker) nuchart_set_marker_at(c, marker);
  place(kPopupChartW, kPopupChartH);
}

}  // namespace

const popups_state *popups_get_state() { return &S.st; }

void popups_set_ops(const popups_ops *o) {
  S.ops = o ? *o : defaults();
  S.ops_set = true;
}

void popups_reset() {
  S.st.kind = kPopupNone;
  S.st.item = nullptr;
  S.st.list = nullptr;
  S.st.time = 0;
  S.st.copied_from = nullptr;
  S.st.chart_form = 0;
}

void popups_set_owner(widget *w) {
  S.st.owner = w ? screen_index_of(w) : -1;
  S.owner_window = nullptr;
  for (widget *p = w; p; p = p->parent)
    if (window_is(p)) {
      S.owner_window = static_cast<window *>(p);
      break;
    }
}

bool popups_owned_by(const window *w) { return w && S.owner_window == w; }
void popups_set_owner_index(int32_t n) { S.st.owner = n; }

void popups_set_anchor(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t side, uint32_t flag) {
  S.anchor = {{x, y, w, h}, side, flag};
}

void popups_set_anchor_rect(const rect *r, uint32_t side, uint32_t flag) {
  if (r) popups_set_anchor(r->x, r->y, r->w, r->h, side, flag);
}

void popups_push_window(window *source) {
  owner_guard g;
  if (g.refused()) return;
  window *p = ops().popup_window();
  if (!p || !source) return;
  instr *in = window_get_instrument(source);
  if (!(S.st.kind == kPopupWindow && S.st.item == in && ops().equal(p, source))) {
    S.st.item = in;
    S.st.kind = kPopupWindow;
    S.st.list = nullptr;
    if (source != S.st.copied_from) {
      if (p->r.w <= 0 || p->r.h <= 0) ops().place_default(p);
      ops().copy_window(p, source);
      S.st.copied_from = source;
    }
  }
  place(-1, -1);
}

day_span popups_day_span(ss_time open, ss_time close, ss_time day_start, ss_time day_end, ss_time today,
                         ss_time time, bool is_index, ss_time index_last_update) {
  day_span d = {};
  d.before_open = time != 0 && tod(time) < tod(open);
  d.after_close = time != 0 && tod(time) > tod(close);
  const ss_time date = time ? date_of(time) : date_of(today);
  if (is_index && index_last_update && date_of(index_last_update) == date &&
      tod(index_last_update) > tod(close))
    d.after_close = true;
  d.options = d.before_open || d.after_close ? kDayChartOptionsClosed : kDayChartOptionsOpen;
  d.from = date | tod(d.before_open ? day_start : open);
  d.to = date | tod(d.after_close ? day_end : close);
  if (date == date_of(today) && !d.after_close) d.to = 0;
  return d;
}

void popups_push_day_chart(instr *in, ss_time time) {
  owner_guard g;
  if (g.refused()) return;
  window *p = ops().popup_window();
  if (!p || !in) return;
  if (!(S.st.kind == kPopupDayChart && S.st.item == in && S.st.time == time)) {
    S.st.kind = kPopupDayChart;
    S.st.item = in;
    S.st.time = time;
    S.st.list = nullptr;
    ops().show(p, kRoleChart, in);
    if (nuchart *c = ops().chart(p)) {
      nuchart_set_range(c, 5, 1);
      nuchart_set_period(c, 0, 1);
      nuchart_set_type(c, 16);
      nuchart_clear_overlays(c);
      const float bands[3] = {0.0f, 1.0f, 1.0f};
      nuchart_add_overlay(c, 13, bands);
      nuchart_add_overlay(c, 1, nullptr);
      nuchart_add_overlay(c, 0, nullptr);
      nuchart_add_overlay(c, 14, nullptr);
      nuchart_clear_indicators(c);
      if (in->kind == kKindStock) {
        const float one[3] = {1.0f, kCstyleUnset, kCstyleUnset};
        nuchart_add_indicator(c, 2, one);
      }
      const ss_exchange *ex = in->exchange;
      const ss_time today = ex ? ex->date : 0;
      const ss_time last = in->kind == kKindIndex ? static_cast<ss_index *>(in)->last_tick_time : 0;
      day_span d = ex ? popups_day_span(ssmodel_exchange_open_time(ex), ssmodel_exchange_close_time(ex),
                                        ssmodel_exchange_day_start(ex), ssmodel_exchange_day_end(ex),
                                        today, time, in->kind == kKindIndex, last)
                      : popups_day_span(0, 0, 0, 0, 0, time, false, 0);
      nuchart_set_options(c, d.options);
      nuchart_set_times(c, 1, d.from, 1, d.to);  // both ends at their stored times
      if (time && date_of(time) != date_of(today)) ops().request_trades_for_day(in, date_of(time));
      if (time) nuchart_set_marker_at(c, time);
    }
    S.st.marker = time;
  }
  place(-1, -1);
}

void popups_push_depth(instr *in, ss_time time) {
  owner_guard g;
  if (g.refused()) return;
  window *p = ops().popup_window();
  if (!p || !in) return;
  if (!(S.st.kind == kPopupDepth && S.st.item == in && S.st.time == time)) {
    S.st.kind = kPopupDepth;
    S.st.item = in;
    S.st.time = time;
    S.st.list = nullptr;
    ops().depth_copy(p, ops().quick_window());
    ops().show(p, kRoleDepth, in);
    if (time) ops().depth_play_mark(p, time);
  }
  place(-1, -1);
}

void popups_push_chart_at(instr *in, ss_time centre, ss_time marker, int o1, int o2, int o3) {
  push_chart(in, centre, marker, o1, o2, o3, 0);
}

void popups_push_chart(instr *in, ss_time marker, int o1, int o2, int o3) {
  push_chart(in, 0, marker, o1, o2, o3, 1);
}

void popups_push_wlist(scan *list) {
  owner_guard g;
  if (g.refused()) return;
  window *p = ops().popup_window();
  if (!p || !list) return;
  if (!(S.st.kind == kPopupList && S.st.list && ops().scan_equal(S.st.list, list))) {
    S.st.item = nullptr;
    S.st.kind = kPopupList;
    S.st.list = list;
    ops().show_list(p, list);
  }
  place(-1, -1);
}
