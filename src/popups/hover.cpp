// The popups' side of the market windows' hover: the depth window's popup
// services, and the grid rows' depth previews. The depth detail popup is
// the screen's; a repeated hover over the same step of the same window
// only follows the window's book to the event it shows.
#include "popups/hover.h"

#include "popups/place.h"
#include "popups/popups.h"
#include "screen/depthdtl.h"
#include "screen/screen.h"
#include "ui/gui.h"
#include "ssmodel.h"
#include "windows/depthwin.h"
#include "windows/window.h"

namespace {

window *window_above(widget *w) {
  for (widget *p = w; p; p = p->parent)
    if (window_is(p)) return static_cast<window *>(p);
  return nullptr;
}

bool contains(const widget *ancestor, const widget *w) {
  for (const widget *p = w; p; p = p->parent)
    if (p == ancestor) return true;
  return false;
}

void set_current(widget *w) { screen_set_current_from(w); }

ss_trade *latest_trade_at(ss_stock *st, uint32_t step, uint32_t bucket, ss_time position) {
  ss_trade *found = nullptr;
  for (ss_trade *t = st->trades.head; t; t = t->next) {
    if (position > kSstimeSecondsMask && t->time > position) break;
    if (depthwin_step_of(t->price, bucket) == step) found = t;
  }
  return found;
}

// The depth window's hover popup goes when the window changes under it.
void hide_depth_popup(widget *w) {
  screen *s = screen_current();
  if (!s) return;
  if (s->depthdtl_owner && contains(w, s->depthdtl_owner)) screen_hide_depthdtl();
}

}  // namespace

bool popups_widget_in_popup(widget *w) {
  window *win = window_above(w);
  const int n = win ? screen_index_of(win) : -1;
  screen *s = n >= 0 ? screen_get(n) : nullptr;
  return s && win && (win == s->hover_window || win == s->popup_document || win == s->quote_popwin);
}

void popups_show_depth_detail(widget *w, instr *in, ss_time position, uint32_t step, uint32_t bucket, int side) {
  screen *s = screen_current();
  widget *pop = s ? s->depthdtl : nullptr;
  depthdtl *d = depthdtl_cast(pop);
  if (!d || !in) return;
  const depthwin_book *b = static_cast<depthwin_child *>(w)->book;
  ss_event *until = b ? b->cursor : nullptr;
  const int32_t form = side == 0 || side == 1 ? side : -1;
  const bool same = screen_depthdtl_owner_is(w) && (s->bars & BAR_DEPTHDTL) && d->instrument == in &&
                    d->side == form && d->step == step && d->bucket == bucket;
  if (same) {
    depthdtl_follow(pop, until);
    return;
  }
  depthdtl_set_bucket(pop, bucket);
  if (form >= 0) {
    depthdtl_show_price(pop, in, position & ~kSstimeSecondsMask, form, step, until);
  } else {
    // A trade row names a step: the latest trade of that step up to the
    // moment the window shows opens the trade form.
    ss_trade *t = in->kind == kKindStock ? latest_trade_at(static_cast<ss_stock *>(in), step, bucket, position)
                                         : nullptr;
    if (!t) {
      popups_hide_depth_detail(w);
      return;
    }
    depthdtl_show_entry(pop, in, position & ~kSstimeSecondsMask, t, until);
  }
  int win;
  int32_t mx = 0, my = 0;
  gui_mouse(&win, &mx, &my);
  screen_place_depthdtl(w, mx + 12, my);
}

void popups_hide_depth_detail(widget *w) {
  if (screen_depthdtl_owner_is(w)) screen_hide_depthdtl();
}

static void show_auction_detail(widget *w, instr *in, uint32_t price, uint64_t volume, int32_t x, int32_t y) {
  const int n = screen_index_of(w);
  const bool pushed = n >= 0 && n != screen_current_index() && screen_push(n);
  screen_show_gendtl_auction2(x + 12, y, in, price, volume);
  if (pushed) screen_pop();
}

static void hide_auction_detail(widget *w) {
  const int n = screen_index_of(w);
  const bool pushed = n >= 0 && n != screen_current_index() && screen_push(n);
  screen_hide_gendtl();
  if (pushed) screen_pop();
}

void popups_install_services() {
  depthwin_services s = *depthwin_get_services();
  s.in_popup = popups_widget_in_popup;
  s.screen_current = set_current;
  s.hide_depth_popup = hide_depth_popup;
  s.show_depth_detail = popups_show_depth_detail;
  s.hide_depth_detail = popups_hide_depth_detail;
  s.show_auction_detail = show_auction_detail;
  s.hide_auction_detail = hide_auction_detail;
  depthwin_set_services(&s);
}

void popups_hover_row(widget *grid, const rect *row, instr *in) {
  if (!grid || !row || !in) return;
  // A grid inside the hover popup itself previews nothing.
  if (popups_widget_in_popup(grid)) return;
  popups_set_owner(grid);
  popups_set_anchor_rect(row, kSideCentre | kSideBelow, 0);
  popups_push_depth(in, 0);
}

void popups_hover_end(widget *grid) {
  if (!grid || popups_widget_in_popup(grid)) return;
  const int n = screen_index_of(grid);
  const bool pushed = n >= 0 && n != screen_current_index() && screen_push(n);
  // A pointer that went into the preview keeps it: the frame's leave rule
  // closes it when the pointer leaves the preview in turn.
  window *preview = (screen_bars_shown() & BAR_HOVER) ? screen_popup_window() : nullptr;
  int32_t x = 0, y = 0;
  if (preview && gui_widget_mouse(preview, &x, &y) && x >= preview->r.x && x < preview->r.x + preview->r.w &&
      y >= preview->r.y && y < preview->r.y + preview->r.h) {
    if (pushed) screen_pop();
    return;
  }
  screen_hide_popup();
  if (pushed) screen_pop();
}
