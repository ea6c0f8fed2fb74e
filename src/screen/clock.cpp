// The clock: a bin holding a builder-made deck of four pages. Page 0 holds
// the default exchange's time; page 1 a row per exchange 0 and 1; page 2
// one row for the default exchange; page 3 the connection state. The labels
// of pages 0 and 1 and the state line keep their first texts as sizing
// texts, so the clock does not change size as times and phases change.
//
// Slots: show_children (starts the 250 ms timer), hide_children (stops it),
// restyle, motion, leave, drag_motion.
#include "screen/clock.h"

#include <cstdio>
#include <cstring>

#include "action.h"
#include "lib/timer.h"
#include "log.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "sstime.h"
#include "ssuser.h"
#include "style.h"
#include "ui/grid.h"
#include "ui/gui.h"
#include "ui/uib.h"

namespace {
constexpr char kSrc[] = "src/screen/clock";
constexpr uint32_t kRed = 0xff0000ffu;    // RGBA 255, 0, 0, 255 as 0xAABBGGRR
constexpr uint32_t kWhite = 0xffffffffu;
// Style fields the clock reads: the large figures of text kind 6 for the
// time, the label font of kind 4 for the rest, and four phase colours.
constexpr int kTimeKind = 6;
constexpr int kLabelKind = 4;
constexpr int kPhaseColour[4] = {SC_TEXT, SC_WARNING, SC_UP, SC_DOWN};

struct phase_row {
  uint32_t code;
  const char *text;
  int kind;  // 0 default, 1 pre-open, 2 open, 3 halt
};
constexpr phase_row kPhases[] = {
    {10, "PRE OPEN", 1}, {20, "OPEN", 2},      {30, "PRE CSPA", 1},  {40, "CSPA", 2},
    {50, "ADJUST", 0},   {60, "ADJUST ON", 0}, {70, "ENQUIRE", 2},   {80, "PURGE", 0},
    {90, "SYSMAINT", 0}, {100, "LATE TRD", 0}, {110, "PRE NT", 0},   {120, "OPEN NT", 0},
    {130, "CLOSED", 0},  {140, "SUSPEND", 3},  {141, "PRE NOTICE", 0}, {142, "ABB AUCT", 0},
    {143, "HALT", 3},
};

struct {
  int (*connected)();
  int (*connecting)();
  int (*multi)();
} Q;

int read_connected() {
  if (Q.connected) return Q.connected();
  return ssclient_logged_in() || ssclient_is_stopping();
}
int read_connecting() { return Q.connecting ? Q.connecting() : ssclient_connecting(); }
int read_multi() { return Q.multi ? Q.multi() : ssuser_multi_exchange(); }

clock_widget *as_clock(widget *w) { return static_cast<clock_widget *>(w); }
container_class *bin_record() { return static_cast<container_class *>(object_class_record(bin_type())); }

int32_t font_of(int kind) {
  const style *s = style_cur();
  return s ? s->font[kind] : 0;
}
uint32_t bg_colour() {
  const style *s = style_cur();
  return s ? style_colour(s, SC_BACKGROUND) : 0xff282828u;
}

ss_exchange *default_exchange() {
  ss_exchange *ex = action_default_exchange_record();
  return ex ? ex : ssmodel_exchange(0);
}

void time_text(char *out, size_t n, ss_time t, bool seconds) {
  sstime_parts p = {};
  if (!t || sstime_unpack(&p, t) < 0) {
    snprintf(out, n, seconds ? "--:--:--" : "--:--");
    return;
  }
  if (seconds)
    snprintf(out, n, "%02d:%02d:%02d", p.hour, p.min, p.sec);
  else
    snprintf(out, n, "%02d:%02d", p.hour, p.min);
}

// A row of name, time and phase for one exchange, in its phase colour.
void fill_row(label *const row[3], ss_exchange *ex, bool set_name) {
  char t[16];
  time_text(t, sizeof t, ssmodel_exchange_now(ex), true);
  if (set_name) label_set_text(row[0], ssmodel_exchange_display_name(int32_t(ex->index)));
  label_set_text(row[1], t);
  label_set_text(row[2], clock_phase_text(ex->phase));
  const uint32_t c = clock_phase_colour(ex->phase);
  for (int i = 0; i < 3; i++) label_set_colour(row[i], c);
}

void apply_page(clock_widget *c) {
  int page;
  if (c->indicator)
    page = read_multi() ? CLOCK_PAGE_EXCHANGES : CLOCK_PAGE_DEFAULT;
  else
    page = c->connected ? CLOCK_PAGE_TIME : CLOCK_PAGE_STATE;
  if (deck_current_page(c->pages) != page) {
    deck_show_page(c->pages, page);
    widget_redraw(c);
  }
}

int clock_timer(void *arg, uint32_t, int64_t, float) {
  clock_refresh(static_cast<clock_widget *>(arg));
  return 1;
}

void on_state(const ss_change *, void *owner, uint64_t, uint32_t) { clock_state_changed(as_clock(static_cast<widget *>(owner))); }

void stop_timer(clock_widget *c) {
  if (c->timer >= 0) timer_stop(c->timer);
  c->timer = -1;
}

// ---- slots ----
void c_show_children(widget *self) {
  clock_widget *c = as_clock(self);
  if (c->timer < 0) c->timer = timer_start(kClockTimerMs, clock_timer, c, 0);
  bin_record()->show_children(self);
  clock_refresh(c);
}

void c_hide_children(widget *self) {
  clock_widget *c = as_clock(self);
  stop_timer(c);
  c->indicator = 0;
  bin_record()->hide_children(self);
}

void c_restyle(widget *self) {
  clock_widget *c = as_clock(self);
  deck_set_bg(c->pages, bg_colour());
  label_set_font(c->time, font_of(kTimeKind));
  for (auto &row : c->rows)
    for (label *l : row) label_set_font(l, font_of(kLabelKind));
  for (label *l : c->single) label_set_font(l, font_of(kLabelKind));
  label_set_font(c->error, font_of(kLabelKind));
  label_set_font(c->state, font_of(kLabelKind));
  bin_record()->restyle(self);
}

void c_motion(widget *self, int32_t, int32_t) {
  if (gui_dragging()) return;
  clock_set_indicator(as_clock(self), 1);
}

void c_leave(widget *self) { clock_set_indicator(as_clock(self), 0); }

// Before the widget joins its parent (which may show it at once).
void c_init(object *o) { reinterpret_cast<clock_widget *>(o)->timer = -1; }

void c_fini(object *o) {
  clock_widget *c = reinterpret_cast<clock_widget *>(o);
  stop_timer(c);
  ssnotify_remove_wild(c);
}

void c_class_init(object_class *rec) {
  auto *k = static_cast<container_class *>(rec);
  k->show_children = c_show_children;
  k->hide_children = c_hide_children;
  k->restyle = c_restyle;
  k->motion = c_motion;
  k->leave = c_leave;
}
}  // namespace

typeid_t clock_type() {
  static typeid_t t = -1;
  if (t < 0)
    t = object_register_class("clock", bin_type(), sizeof(clock_widget), c_init, c_fini, sizeof(container_class),
                              c_class_init, nullptr);
  return t;
}

clock_widget *clock_new(widget *parent) {
  const typeid_t t = clock_type();
  if (t < 0) return nullptr;
  auto *c = static_cast<clock_widget *>(widget_new(parent, t));
  if (!c) return nullptr;
  c->timer = -1;
  const uint32_t bg = bg_colour();
  const int32_t big = font_of(kTimeKind), small = font_of(kLabelKind);
  const uint32_t fg = kWhite;
  widget *d = uib_build(UIB_DECK,
                          UIB_DEF_LABEL0, 2, big, bg, fg, nullptr,
                          UIB_DEF_LABEL0 + 1, 0, small, bg, fg, nullptr,
                          UIB_LABEL0, "12:34", UIB_STORE, &c->time,
                          UIB_GRID, 2, 3, 4,
                            UIB_LABEL0 + 1, "ASX", UIB_STORE, &c->rows[0][0],
                            UIB_LABEL0 + 1, "12:34:56x", UIB_STORE, &c->rows[0][1],
                            UIB_LABEL0 + 1, "MMMMMMMMM", UIB_STORE, &c->rows[0][2],
                            UIB_LABEL0 + 1, "NZX", UIB_STORE, &c->rows[1][0],
                            UIB_LABEL0 + 1, "14:34:56x", UIB_STORE, &c->rows[1][1],
                            UIB_LABEL0 + 1, "MMMMMMMMM", UIB_STORE, &c->rows[1][2],
                          UIB_CLOSE,
                          UIB_GRID, 1, 3, 4,
                            UIB_LABEL0 + 1, "ASX", UIB_STORE, &c->single[0],
                            UIB_LABEL0 + 1, "12:34:56x", UIB_STORE, &c->single[1],
                            UIB_LABEL0 + 1, "MMMMMMMMM", UIB_STORE, &c->single[2],
                          UIB_CLOSE,
                          UIB_VBOX, 0, 0,
                            UIB_LABEL0 + 1, "Error", UIB_STORE, &c->error,
                            UIB_LABEL0 + 1, "Reconnecting", UIB_STORE, &c->state,
                          UIB_CLOSE,
                        UIB_CLOSE, UIB_END);
  if (!d || !c->time || !c->state) {
    log(LOG_ERROR, kSrc, "can't build clock");
    widget_delete(c);
    return nullptr;
  }
  c->pages = static_cast<deck *>(d);
  container_cls(c)->add(c, d);
  deck_set_bg(c->pages, bg);
  // Later texts keep the size of the first ones.
  label_remember_size(c->time);
  for (auto &row : c->rows)
    for (label *l : row) label_remember_size(l);
  label_remember_size(c->state);
  c->connected = read_connected();
  c->connecting = read_connecting();
  ssnotify_add_wild(kClockStateMask, on_state, c, 0, 0);
  deck_show_page(c->pages, CLOCK_PAGE_TIME);
  clock_refresh(c);
  apply_page(c);
  return c;
}

void clock_refresh(clock_widget *c) {
  c->refreshes++;
  if (ss_exchange *ex = default_exchange()) {
    char t[16];
    time_text(t, sizeof t, ssmodel_exchange_now(ex), false);
    label_set_text(c->time, t);
    // The single row names the default exchange, whichever it is.
    fill_row(c->single, ex, true);
  }
  for (int i = 0; i < 2; i++)
    if (ss_exchange *ex = ssmodel_exchange(i)) fill_row(c->rows[i], ex, false);
  const char *err = "", *state = "Connected";
  if (!c->connected) {
    if (c->connecting)
      err = "Error", state = "Reconnecting";
    else
      state = "Relogin";
  }
  label_set_text(c->error, err);
  label_set_text(c->state, state);
  label_set_bg(c->error, bg_colour());
  label_set_bg(c->state, bg_colour());
  label_set_colour(c->error, kRed);
  label_set_colour(c->state, kWhite);
}

void clock_set_indicator(clock_widget *c, int state) {
  if (state && !c->indicator) {
    c->indicator = 1;
    apply_page(c);
  } else if (!state && c->indicator) {
    c->indicator = 0;
    apply_page(c);
  }
}

void clock_state_changed(clock_widget *c) {
  c->connected = read_connected();
  c->connecting = read_connecting();
  clock_refresh(c);
  apply_page(c);
}

const char *clock_phase_text(uint32_t phase) {
  for (const phase_row &r : kPhases)
    if (r.code == phase) return r.text;
  return "";
}

int clock_phase_kind(uint32_t phase) {
  for (const phase_row &r : kPhases)
    if (r.code == phase) return r.kind;
  return 0;
}

uint32_t clock_phase_colour(uint32_t phase) {
  const style *s = style_cur();
  return s ? style_colour(s, kPhaseColour[clock_phase_kind(phase)]) : kWhite;
}

void clock_set_state_query(int (*connected)(), int (*connecting)(), int (*multi)()) {
  Q.connected = connected;
  Q.connecting = connecting;
  Q.multi = multi;
}
