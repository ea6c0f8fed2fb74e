#include "screen/help_button.h"

#include <cstdio>
#include <cstring>

#include "lib/cols.h"
#include "screen/minibar.h"
#include "screen/screen.h"
#include "trading/trading.h"
#include "ui/gui.h"
#include "ui/tooltip.h"
#include "windows/alerts.h"
#include "windows/depthtable.h"
#include "windows/newstoday.h"
#include "windows/tradelist.h"
#include "windows/watchlist.h"

namespace {

struct {
  char line[2][kHelpTipLine];
  widget *last;          // the widget served last
  typeid_t last_type;    // and its class: a new widget at a freed address is not it
  help_tip_fn last_fn;
} H;

void put(char *line, const char *text) { snprintf(line, kHelpTipLine, "%s", text ? text : ""); }

// The shown column of a cols layout that holds x, or -1.
int column_at(const cols *c, int32_t x) {
  for (int i = 0; i < c->count; i++)
    if (c->col[i].shown && x >= c->col[i].x0 && x < c->col[i].x1) return i;
  return -1;
}

void tip_watchlist(widget *w, int32_t x, int32_t y, char *l1, char *) {
  const char *t = watchlist_tooltip(static_cast<watchlist *>(w), x, y);
  put(l1, t ? t : "Watchlist");
}
void tip_orderlist(widget *w, int32_t x, int32_t, char *l1, char *) {
  const char *t = orderlist_column_name(static_cast<orderlist *>(w), x);
  put(l1, t ? t : "Orders");
}
void tip_newstoday(widget *w, int32_t x, int32_t, char *l1, char *) {
  const char *t = newstoday_tooltip(w, x);
  put(l1, t ? t : "Newstoday");
}
void tip_tradelist(widget *w, int32_t x, int32_t, char *l1, char *) {
  const int col = column_at(&static_cast<tradelist *>(w)->columns, x);
  const char *t = col >= 0 ? tradelist_column_tooltip(col) : nullptr;
  put(l1, t ? t : "Trade List");
}
void tip_depthtbl(widget *w, int32_t x, int32_t, char *l1, char *) {
  const char *t = depthtbl_tooltip(depthtbl_column_at(w, x));
  put(l1, t ? t : "Depth Table");
}
void tip_depthbars(widget *, int32_t, int32_t, char *l1, char *) { put(l1, "Depth Bar Chart"); }
void tip_watchbar(widget *, int32_t, int32_t, char *l1, char *l2) {
  put(l1, "Watchbar");
  put(l2, "Drop items to watch here");
}
void tip_mini_desktop(widget *w, int32_t, int32_t, char *l1, char *) {
  const int i = screen_desktop_index_of(static_cast<mini_desktop *>(w)->d);
  snprintf(l1, kHelpTipLine, "Desktop %d", i + 1);
}
void tip_mini_quote(widget *, int32_t, int32_t, char *l1, char *l2) {
  put(l1, "Mini Quote");
  put(l2, "Drop items to watch here");
}
void tip_clock(widget *, int32_t, int32_t, char *l1, char *) { put(l1, "Mouse over to show market status"); }
void tip_ticker(widget *, int32_t, int32_t, char *l1, char *) { put(l1, "Ticker"); }
void tip_alerts(widget *w, int32_t x, int32_t, char *l1, char *) {
  auto *g = static_cast<alerts_grid *>(w);
  const int col = column_at(&g->columns, x);
  const char *t = col >= 0 && g->current ? alerts_column_tip(g->current, col) : nullptr;
  put(l1, t ? t : "Alerts");
}

widget_class *parent_class() { return static_cast<widget_class *>(object_class_record(button_type())); }

int hb_drag_begin(widget *self, int32_t x, int32_t y, int n, drag_record *d) {
  button *b = static_cast<button *>(self);
  if (n != 1 || (b->state & BUTTON_INSENSITIVE)) return parent_class()->drag_begin(self, x, y, n, d);
  if (screen_is_up()) screen_hide_help();
  gui_set_drag_mode(1);
  return parent_class()->drag_begin(self, x, y, n, d);
}

void hb_drag_motion(widget *self, int32_t x, int32_t y, int, drag_record *) {
  widget *root = self->root ? self->root : self;
  widget *under = root->cls->find_at(root, x, y);
  help_tip_walk(under, x, y);
}

int hb_drag_release(widget *self, widget *target, int32_t x, int32_t y, int buttons, drag_record *d) {
  gui_set_drag_mode(0);
  help_tip_forget();
  parent_class()->drag_release(self, target, x, y, buttons, d);
  return 0;  // nothing is dropped
}

void hb_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->drag_begin = hb_drag_begin;
  c->drag_motion = hb_drag_motion;
  c->drag_release = hb_drag_release;
}

typeid_t register_help_button() {
  return object_register_class("help_button", button_type(), sizeof(button), nullptr, nullptr,
                               sizeof(widget_class), hb_class_init, nullptr);
}

}  // namespace

const help_tip_row kHelpTips[kHelpTipRows] = {
    {"watchlist", tip_watchlist},   {"orderlist", tip_orderlist}, {"newstoday", tip_newstoday},
    {"tradelist", tip_tradelist},   {"depthtbl", tip_depthtbl},   {"depthbars", tip_depthbars},
    {"watchbar", tip_watchbar},     {"mini_desktop", tip_mini_desktop}, {"mini_quote", tip_mini_quote},
    {"clock", tip_clock},           {"ticker", tip_ticker},       {"alerts", tip_alerts},
};

int help_tip_for(widget *w, int32_t x, int32_t y) {
  if (!w) return 0;
  const typeid_t type = static_cast<typeid_t>(w->cls->type);
  help_tip_fn fn = nullptr;
  if (w == H.last && type == H.last_type && H.last_fn) {
    fn = H.last_fn;
  } else {
    const char *name = object_type_name(widget_obj(w));
    for (const help_tip_row &r : kHelpTips)
      if (name && strcmp(name, r.type) == 0) fn = r.fn;
    if (!fn) {
      H.last_fn = nullptr;
      return 0;
    }
  }
  H.last_fn = fn;
  H.line[0][0] = H.line[1][0] = 0;
  fn(w, x, y, H.line[0], H.line[1]);
  tooltip_set_text(H.line[0]);
  tooltip_set_text2(H.line[1]);
  H.last = w;
  H.last_type = type;
  return 1;
}

widget *help_tip_walk(widget *w, int32_t x, int32_t y) {
  for (; w; w = w->parent)
    if (help_tip_for(w, x, y)) return w;
  tooltip_set_text("Help");
  return nullptr;
}

void help_tip_forget(void) {
  H.last = nullptr;
  H.last_type = -1;
  H.last_fn = nullptr;
}

const char *help_tip_line(int n) { return n == 0 || n == 1 ? H.line[n] : ""; }

typeid_t help_button_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_help_button);
}

button *help_button_new(widget *parent, const button_colours *look, button_fn callback, void *context, int32_t id) {
  auto *b = static_cast<button *>(widget_new(parent, help_button_type()));
  if (!b) return nullptr;
  button_set_text(b, "Help");
  button_set_image(b, look);
  button_set_style(b, BUTTON_DRAG_SOURCE);
  button_set_callback(b, callback, context, id);
  return b;
}
