// The market window frame and its subject. A window owns one content child
// of every kind and the tool panels from birth to deletion and shows the
// one its role selects; roles, bars and subject kinds come from one table.
// Setting an instrument converts it to the kind the role wants, or moves
// the role to suit the instrument, then passes it along links; link passing
// re-enters window_set_instrument, so its nesting is counted and cut off.
//
// Slots: reqsize, size_limits, draw, show_children, hide_children,
// after_release, and the container's layout.
#include "windows/window.h"

#include <cstring>
#include <new>

#include "action.h"
#include "charts/cstyle.h"
#include "dnd.h"
#include "keyboard.h"
#include "lib/gfx.h"
#include "lib/glapi.h"
#include "lib/tex.h"
#include "popups/place.h"
#include "popups/popups.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "log.h"
#include "quick9.h"
#include "rss/rss.h"
#include "screen/desktop.h"
#include "screen/screen.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "style.h"
#include "tools/tools.h"
#include "undo.h"
#include "export/clipboard.h"
#include "term/terminal.h"
#include "ui/gui.h"
#include "ui/key.h"
#include "windows/alerts.h"
#include "windows/content.h"
#include "windows/depthwin.h"
#include "windows/forexlist.h"
#include "windows/docwin.h"
#include "windows/histnews.h"
#include "windows/nuchart.h"
#include "windows/indexlist.h"
#include "term/terminal.h"
#include "windows/newstoday.h"
#include "windows/nuchart.h"
#include "windows/optionlist.h"
#include "windows/rsswin.h"
#include "windows/searchwin.h"
#include "windows/titlebar.h"
#include "windows/tradelist.h"
#include "windows/watchlist.h"

namespace {

const char kSrc[] = "src/windows/window";

constexpr int32_t kMinContent = 20;  // content height below which no content is laid out
constexpr int kDocRowUnit = 40;      // document rows move in pages of this many

struct role_row {
  const char *name;
  const char *legacy;
  int child;  // content child index, -1 none
  int tools;  // tool panel index, -1 none
  int title, quote;
  uint32_t subject;
};

// Rows 0-25. Rows without a name have no child, no panel and no subject.
const role_row kRoles[kRoleCount] = {
    {"none", "0", -1, -1, 0, 0, 0},
    {"watchlist", "1", kWinWatchlist, 0, 1, 0, 4},
    {"depth", "3", kWinDepth, 1, 1, 1, 1},
    {"tradechart", "4", kWinTradechart, -1, 1, 1, 1},
    {"eventlist", "5", -1, -1, 1, 1, 0},
    {"histnews", "7", kWinHistnews, 2, 1, 0, 1},
    {"indexchart", "8", kWinIndexchart, -1, 1, 1, 2},
    {"indexlist", "9", kWinIndexlist, 3, 1, 0, 4},
    {"newstoday", "10", kWinNewstoday, 4, 1, 0, 5},
    {"search", "11", kWinSearch, 5, 1, 0, 5},
    {"rss", "12", kWinRss, 6, 1, 0, 0},
    {"document", "13", kWinDoc, 7, 1, 0, 3},
    {"chart", "14", kWinChart, 8, 1, 1, 1},
    {"tradelist", "xx", kWinTradelist, 9, 1, 1, 1},
    {"terminal", "xx", kWinTerminal, -1, 1, 0, 0},
    {"log", "xx", kWinLog, -1, 1, 0, 0},
    {nullptr, nullptr, -1, -1, 1, 1, 0},
    {nullptr, nullptr, -1, -1, 1, 1, 0},
    {"forexlist", "xx", kWinForexlist, 10, 1, 0, 0},
    {"optionlist", "xx", kWinOptionlist, 11, 1, 1, 1},
    {"google", "xx", kWinGoogle, 12, 1, 0, 1},
    {nullptr, nullptr, -1, -1, 1, 1, 0},
    {nullptr, nullptr, -1, -1, 1, 1, 0},
    {nullptr, nullptr, -1, -1, 1, 1, 0},
    {nullptr, nullptr, -1, -1, 1, 1, 0},
    {"alerts", "xx", kWinAlerts, 13, 1, 0, 4},
};

const char *const kToolNames[kWindowTools] = {"scantools",  "depthtools", "histnewstools", "indextools", "newstools",
                                              "searchtools", "rsstools",   "doctools",      "charttools", "tradetools",
                                              "forextools", "optiontools", "rsstools",     "alerttools"};
const int kToolContent[kWindowTools] = {kWinWatchlist, kWinDepth,  kWinHistnews,  kWinIndexlist, kWinNewstoday,
                                        kWinSearch,    kWinRss,    kWinDoc,       kWinChart,     kWinTradelist,
                                        kWinForexlist, kWinOptionlist, kWinGoogle, kWinAlerts};

// The alive list: every window from creation to deletion, newest first.
struct alive {
  window *w;
  alive *next;
};

struct {
  alive *list;
  int count;
  int copying;
  int tools_switching;
  int link_depth;  // nesting of window_set_instrument through links
  bool (*is_focused)(const window *);
} S;

const role_row *row(uint32_t role) { return role < kRoleCount ? &kRoles[role] : nullptr; }

bool is_stock(const instr *in) { return in && in->kind == kKindStock; }
bool is_index(const instr *in) { return in && in->kind == kKindIndex; }
bool is_issuer(const instr *in) { return in && in->kind == kKindIssuer; }

// The stock of an issuer (same code, same exchange), or null.
instr *stock_of(const instr *issuer) {
  return issuer && issuer->exchange ? ssmodel_find_stock(issuer->exchange, issuer->code) : nullptr;
}

// A stock's issuer by its issuer code (its own code when it has none).
instr *issuer_of(const instr *in) {
  if (is_issuer(in)) return const_cast<instr *>(in);
  if (!is_stock(in) || !in->exchange) return nullptr;
  const auto *s = static_cast<const ss_stock *>(in);
  return ssmodel_find_issuer(in->exchange, s->issuer[0] ? s->issuer : in->code);
}

// A change of the shown instrument on a visible desktop makes the window's
// screen current and marks the desktops changed, so that the mini desktops
// take the new price trend at the next backstop.
void on_change(const ss_change *, void *own, uint64_t, uint32_t) {
  auto *w = static_cast<window *>(own);
  desktop *d = desktop_of_widget(w);
  if (!d || !widget_is_shown(d) || screen_index_of(w) < 0) return;
  if (screen_set_current_from(w) == 1) screen_mark_changed();
}

void register_change(window *w) {
  if (w->instrument && !w->registered) {
    if (ssnotify_add(w->instrument, kWindowNotifyMask, on_change, w, 0, 0) == 0) w->registered = 1;
  }
}

void unregister_change(window *w) {
  if (w->instrument && w->registered) ssnotify_remove(w->instrument, w);
  w->registered = 0;
}

bool visible(const window *w) { return widget_is_shown(w); }

widget *child(window *w, int i) { return w->child[i]; }
titlebar *tb(window *w) { return static_cast<titlebar *>(w->child[kWinTitlebar]); }

nuchart *chart_of(const window *w) {
  widget *c = w ? w->child[kWinChart] : nullptr;
  return nuchart_is(c) ? nuchart_cast(c) : nullptr;
}

terminal *term_of(const window *w) {
  widget *c = w ? w->child[kWinTerminal] : nullptr;
  return c && object_is_a(widget_obj(c), terminal_type()) ? static_cast<terminal *>(c) : nullptr;
}

void place(widget *c, rect r) {
  if (!c) return;
  c->r = r;
  if (c->cls->geometry_changed) c->cls->geometry_changed(c);
}

// Which bars the window shows now: the role's table, then the bar mode.
void bars_shown(const window *w, int *title, int *quote) {
  const role_row *rr = row(w->role);
  *title = rr ? rr->title : 1;
  *quote = rr ? rr->quote : 1;
  if (w->bar_mode == 1) *title = *quote = 0;
  if (w->bar_mode == 2) *title = 0;
  if (w->bar_mode == 3) *quote = 0;
}

bool role_has_quote_area(uint32_t role) {
  return role == kRoleDepth || role == kRoleTradelist || role == kRoleTradechart || role == kRoleChart ||
         role == kRoleOptionlist || role == kRoleIndexchart;
}

void w_layout(container *self) {
  auto *w = static_cast<window *>(self);
  const rect r = w->r;
  int show_title, show_quote;
  bars_shown(w, &show_title, &show_quote);
  // Bars count only when shown: a zoom window with the quote bar alone has
  // it at the top, not below a hidden title bar.
  int32_t th = show_title ? titlebar_height() : 0;
  int32_t qh = show_quote ? quotebar_height() : 0;
  int32_t bars = th + qh;
  widget *panel = window_get_current_tools(w);
  for (int i = 0; i < kWindowTools; i++)
    if (w->tools[i] != panel) place(w->tools[i], {r.x, r.y + r.h, r.w, 0});

  if (r.h - bars >= kMinContent) {
    place(child(w, kWinTitlebar), {r.x, r.y, r.w, th});
    place(child(w, kWinQuotebar), {r.x, r.y + th, r.w, qh});
    int32_t ph = 0;
    if (panel) {
      if (w->show_tools) {
        size want = {0, 0};
        panel->cls->reqsize(panel, &want);
        if (want.h * 2 >= r.h) {
          place(panel, {r.x, r.y + r.h, r.w, 0});
          widget_hide(panel);
        } else {
          ph = want.h;
          place(panel, {r.x, r.y + r.h - ph, r.w, ph});
          if (visible(w)) widget_show(panel);
        }
      } else {
        place(panel, {r.x, r.y + r.h, r.w, 0});
      }
    }
    for (int i = kWinDepth; i < kWindowChildren; i++) {
      widget *c = child(w, i);
      const role_row *rr = row(w->role);
      bool mine = rr && rr->child == i;
      // Contents that can stand under a quote bar start below both bars;
      // the others below the title bar only.
      uint32_t role_of_child = mine ? w->role : 0;
      bool under_quote = mine ? role_has_quote_area(role_of_child)
                              : (i == kWinDepth || i == kWinTradelist || i == kWinTradechart || i == kWinChart ||
                                 i == kWinOptionlist || i == kWinIndexchart);
      int32_t top = under_quote ? bars : th;
      place(c, {r.x, r.y + top, r.w, r.h - top - ph});
    }
    return;
  }
  // Too low for content: bars keep their heights while they fit.
  if (r.h >= bars) {
    place(child(w, kWinTitlebar), {r.x, r.y, r.w, th});
    place(child(w, kWinQuotebar), {r.x, r.y + th, r.w, qh});
  } else {
    place(child(w, kWinTitlebar), {r.x, r.y, r.w, r.h >= th ? th : 0});
    place(child(w, kWinQuotebar), {r.x, r.y + th, r.w, 0});
  }
  if (panel) place(panel, {r.x, r.y + r.h, r.w, 0});
  for (int i = kWinDepth; i < kWindowChildren; i++) place(child(w, i), {r.x, r.y + bars, r.w, 0});
}

void w_show_children(widget *self) {
  auto *w = static_cast<window *>(self);
  const role_row *rr = row(w->role);
  for (int i = kWinDepth; i < kWindowChildren; i++) widget_set_visible(child(w, i), rr && rr->child == i);
  int title, quote;
  bars_shown(w, &title, &quote);
  widget_set_visible(child(w, kWinTitlebar), title);
  widget_set_visible(child(w, kWinQuotebar), quote);
  widget *panel = window_get_current_tools(w);
  for (int i = 0; i < kWindowTools; i++) widget_set_visible(w->tools[i], w->tools[i] == panel && w->show_tools);
  register_change(w);
}

void w_hide_children(widget *self) {
  auto *w = static_cast<window *>(self);
  unregister_change(w);
  for (int i = 0; i < kWindowChildren; i++) widget_hide(child(w, i));
  for (int i = 0; i < kWindowTools; i++) widget_hide(w->tools[i]);
}

void w_reqsize(widget *, size *out) { *out = {380, 220}; }

void w_size_limits(widget *, size *min, size *max) {
  if (min) *min = {60, 60};
  if (max) *max = {0, 0};
}

// The frame: the atlas's square frame texture drawn twice round a desktop
// window, once over its rectangle in the outer colour and once a pixel
// inside in the inner colour, which gives two one-pixel rings. Only the
// texture's opaque ring is drawn (an alpha test drops its half-dark inner
// line): contents redraw only what changed, and a translucent line over
// pixels they left in place would darken them again at every frame. The
// outer ring is in the focus colour while the window is its desktop's
// focused window. The colours come from the content (a chart's background,
// a document's edge) or, by default, the style's outline and panel colours;
// a window too small for its content shows the warning-frame colour, and
// the edges beside a shown tool panel take the panel's colour.
struct frame_look {
  colour outer, inner;
};

constexpr int32_t kFrameTexture = 5;            // the atlas's square 1-pixel frame
constexpr uint32_t kFrameParts = 0x1FFu & ~16u;  // every cell but the centre
constexpr float kFrameOpaque = 0.75f;            // drawn above this alpha: the ring, not its line

colour style_or(int field, colour fallback) {
  const style *st = style_cur();
  return (st ? style_colour(st, field) : fallback) | 0xff000000u;
}

frame_look default_look() { return {style_or(SC_OUTLINE, 0xff000000u), style_or(SC_PANEL, 0xff343232u)}; }

// Whether the frame is drawn at all: desktop windows only, not the zoom copy.
bool frames_itself(const window *w) {
  return w->kind == 0 && !screen_is_zoom_window(w) && desktop_of_widget(const_cast<window *>(w));
}

frame_look look_of(window *w) {
  frame_look l = default_look();
  if (w->frame_colours[0]) l.outer = w->frame_colours[0] | 0xff000000u;
  if (w->frame_colours[1]) l.inner = w->frame_colours[1] | 0xff000000u;
  widget *list = child(w, kWinWatchlist);
  if (w->role != kRoleNone && list && (list->r.w <= 0 || list->r.h <= 0))
    l.outer = l.inner = style_or(SC_WARNING, 0xff2090f0u);
  return l;
}

colour focus_colour() { return style_or(SC_LINK, 0xfff0c060u); }

// The frame texture over the window's rectangle, limited to rows y0 to y1
// (exclusive): outside the window's own draw only the rows of the child
// that has just drawn itself again.
void paint_frame(const rect &r, int32_t y0, int32_t y1, colour outer, colour inner) {
  if (r.w < 6 || r.h < 6) return;
  if (y0 < r.y) y0 = r.y;
  if (y1 > r.y + r.h) y1 = r.y + r.h;
  if (y1 <= y0) return;
  rect band = {r.x, y0, r.w, y1 - y0};
  const rect before = gfx_clip();
  if (before.w > 0 && before.h > 0) {
    const int32_t x0 = band.x > before.x ? band.x : before.x;
    const int32_t x1 = band.x + band.w < before.x + before.w ? band.x + band.w : before.x + before.w;
    const int32_t b0 = band.y > before.y ? band.y : before.y;
    const int32_t b1 = band.y + band.h < before.y + before.h ? band.y + band.h : before.y + before.h;
    if (x1 <= x0 || b1 <= b0) return;
    band = {x0, b0, x1 - x0, b1 - b0};
  }
  rect previous{};
  gfx_set_clip(&band, &previous);
  gfx_end();
  gl->Enable(GL_ALPHA_TEST);
  gl->AlphaFunc(GL_GREATER, kFrameOpaque);
  gfx_colour(outer);
  tex_draw_parts(kFrameTexture, r.x, r.y, r.w, r.h, kFrameParts);
  gfx_colour(inner);
  tex_draw_parts(kFrameTexture, r.x + 1, r.y + 1, r.w - 2, r.h - 2, kFrameParts);
  gfx_end();
  gl->Disable(GL_ALPHA_TEST);
  gfx_set_clip(previous.w > 0 && previous.h > 0 ? &previous : nullptr, nullptr);
}

// The frame over rows y0 to y1: the content's colours, then the edges
// beside a shown tool panel in the panel's colour.
void draw_frame_rows(window *w, int32_t y0, int32_t y1) {
  if (!frames_itself(w)) {
    if (w->kind > 0) gfx_stencil_off();
    return;
  }
  const bool focused = window_is_focused(w);
  frame_look l = look_of(w);
  if (focused) l.outer = focus_colour();
  const rect &r = w->r;
  widget *panel = window_get_current_tools(w);
  if (panel && w->show_tools && widget_is_shown(panel) && panel->r.h > 0) {
    // Above the panel in the content's colours, beside it in the panel's.
    colour p = style_or(SC_PANEL, 0xff343232u);
    const int32_t top = panel->r.y, bottom = panel->r.y + panel->r.h;
    paint_frame(r, y0, y1 < top ? y1 : top, l.outer, l.inner);
    paint_frame(r, y0 > top ? y0 : top, y1 < bottom ? y1 : bottom, focused ? l.outer : p, p);
    paint_frame(r, y0 > bottom ? y0 : bottom, y1, l.outer, l.inner);
  } else {
    paint_frame(r, y0, y1, l.outer, l.inner);
  }
}

void draw_frame(window *w) {
  draw_frame_rows(w, w->r.y, w->r.y + w->r.h);
  w->frame_pending[0] = w->frame_pending[1] = 0;
}

window *holder_of(widget *c) {
  widget *p = c ? c->parent : nullptr;
  while (p && !window_is(p)) p = p->parent;
  return p ? static_cast<window *>(p) : nullptr;
}

void w_draw(widget *self) {
  auto *w = static_cast<window *>(self);
  if (w->role != kRoleNone) {
    w->drawing = 1;
    // The contents ask for their frame colours again as they draw.
    w->frame_colours[0] = w->frame_colours[1] = 0;
    for (int i = 0; i < kWindowChildren; i++) {
      widget *c = child(w, i);
      if (c && widget_is_shown(c) && c->r.w > 0 && c->r.h > 0) widget_draw(c);
    }
    // The shown tool panel stands under the content, over the window's foot.
    widget *panel = window_get_current_tools(w);
    if (panel && w->show_tools && widget_is_shown(panel) && panel->r.w > 0 && panel->r.h > 0) widget_draw(panel);
    w->drawing = 0;
    draw_frame(w);
    return;
  }
  const style *st = style_cur();
  uint32_t c = w->fill ? w->fill
                       : st ? style_colour(st, window_is_focused(w) ? SC_PANEL_LIGHT : SC_PANEL)
                            : 0xff404040u;
  gfx_fill_rect(self->r.x, self->r.y, self->r.w, self->r.h, c | 0xff000000u);
  draw_frame(w);
}

// Button 1 focuses a desktop window (a live terminal takes the keyboard)
// and closes the quote pop window when it is the one clicked; a click on
// anything but the hover preview closes the preview. While the quick window
// or the popup document is up, a click elsewhere focuses nothing.
void click_focus(window *w) {
  if (screen_index_of(w) >= 0) screen_set_current_from(w);
  const uint32_t bars = screen_current() ? screen_bars_shown() : 0;
  if ((bars & BAR_HOVER) && w != screen_popup_window()) screen_hide_popup();
  if ((bars & BAR_QUICK) && w != screen_quick_window()) return;
  if ((bars & BAR_POPUP_DOCUMENT) && w != screen_popup_document()) return;
  desktop *d = w->kind == 0 ? desktop_of_widget(w) : nullptr;
  if (d) {
    desktop_set_focus(d, w);
    widget *t = child(w, kWinTerminal);
    if (w->role == kRoleTerminal && t && !terminal_needs_reopen(static_cast<terminal *>(t))) gui_set_focus(t);
  } else if ((bars & BAR_QUOTE_POPWIN) && w == screen_quote_popwin()) {
    screen_hide_quote_popwin();
  }
}

// Button 2 focuses the window and toggles its tool panel, one undo step;
// with shift, every window of its desktop whose panel is in the same state
// toggles too, in the same step.
void w_after_release(widget *self, int32_t, int32_t, int button) {
  auto *w = static_cast<window *>(self);
  if (button == 1) {
    click_focus(w);
    return;
  }
  if (button != 2) return;
  desktop *d = desktop_of_widget(w);
  if (d && w->kind == 0) desktop_set_focus(d, w);
  const uint32_t state = w->show_tools;
  undo_begin();
  if ((key_modifiers() & 0x4) && d) {
    for (window *o : desktop_windows(d->child))
      if (o->show_tools == state) {
        undo_push_tools_toggle(o);
        window_toggle_tools(o);
      }
  } else {
    undo_push_tools_toggle(w);
    window_toggle_tools(w);
  }
  undo_end();
}

// Leaving quickly, once the pointer is more than 10 pixels outside the
// window: a floating window that is the screen's popup document, hover
// preview, quick window or quote pop window goes; a desktop window takes
// the hover preview its content opened with it, unless the pointer went
// into the preview.
bool near(const widget *w, int32_t x, int32_t y, int32_t margin) {
  return x >= w->r.x - margin && y >= w->r.y - margin && x < w->r.x + w->r.w + margin &&
         y < w->r.y + w->r.h + margin;
}

void w_leave(widget *self) {
  auto *w = static_cast<window *>(self);
  if (!gui_mouse_samples_on() || gui_dragging()) return;
  const style *st = style_cur();
  const float leave_at = st ? st->real[0] : 7.0f;
  if (gui_mouse_speed() < leave_at) return;
  int32_t x, y;
  const bool inside = gui_widget_mouse(w, &x, &y);
  if (inside && near(w, x, y, 10)) return;
  const int n = screen_index_of(w);
  if (n < 0) return;
  const bool pushed = n != screen_current_index() && screen_push(n);
  const uint32_t bars = screen_bars_shown();
  window *preview = screen_popup_window();
  if (w->kind == 0) {
    if ((bars & BAR_HOVER) && popups_owned_by(w) && !(inside && preview && near(preview, x, y, 0)))
      screen_hide_popup();
  } else if (w == screen_popup_document()) {
    screen_hide_popup_document();
  } else if (w == preview) {
    screen_hide_popup();
  } else if (w == screen_quick_window()) {
    screen_hide_quick_window();
  } else if (w == screen_quote_popwin()) {
    screen_hide_quote_popwin();
  }
  if (pushed) screen_pop();
}

void w_init(object *o) {
  auto *w = reinterpret_cast<window *>(o);
  w->row_limit = 0;
  w->child[kWinTitlebar] = titlebar_new(w);
  w->child[kWinQuotebar] = quotebar_new(w);
  w->child[kWinDepth] = depthwin_new(w);
  w->child[kWinTradelist] = tradelist_new(w);
  w->child[kWinTradechart] = tradechart_new(w);
  w->child[kWinHistnews] = histnews_new(w);
  w->child[kWinNewstoday] = newstoday_new(w);
  w->child[kWinWatchlist] = watchlist_new(w);
  w->child[kWinAlerts] = alerts_new(w);
  w->child[kWinIndexlist] = indexlist_new(w);
  w->child[kWinIndexchart] = indexchart_new(w);
  w->child[kWinSearch] = searchwin_new(w);
  w->child[kWinRss] = rsswin_new(w, 0);
  w->child[kWinGoogle] = rsswin_new(w, 1);
  w->child[kWinLog] = logwin_new(w);
  w->child[kWinDoc] = docwin_new(w);
  w->child[kWinChart] = nuchart_new(w);
  w->child[kWinTerminal] = terminal_new(w);
  w->child[kWinOptionlist] = optionlist_new(w);
  w->child[kWinForexlist] = forexlist_new(w);
  for (int i = 0; i < kWindowTools; i++) w->tools[i] = toolpanel_new(w, kToolNames[i], w->child[kToolContent[i]]);
  for (int i = 0; i < kWindowChildren; i++) widget_hide(w->child[i]);
  for (int i = 0; i < kWindowTools; i++) widget_hide(w->tools[i]);
  widget_hide(w);
  auto *node = new (std::nothrow) alive{w, S.list};
  if (!node) {
    log(LOG_ERROR, kSrc, "can't alloc alive");
    return;
  }
  S.list = node;
  S.count++;
}

void w_fini(object *o) {
  auto *w = reinterpret_cast<window *>(o);
  unregister_change(w);
  tools_link_forget(w);
  undo_forget_window(w);
  // Windows that follow this one follow nothing now.
  for (alive *a = S.list; a; a = a->next)
    if (a->w->link == w) a->w->link = nullptr;
  for (alive **p = &S.list; *p; p = &(*p)->next) {
    if ((*p)->w == w) {
      alive *gone = *p;
      *p = gone->next;
      delete gone;
      S.count--;
      return;
    }
  }
  log(LOG_ERROR, kSrc, "didn't know about %p", static_cast<void *>(w));
}

// A dropped object: the window is recorded for undo first, as one step
// with what the drop changes; kinds that change nothing leave no step.
void w_drop(widget *self, int32_t, int32_t, int, drag_record *) {
  auto *w = static_cast<window *>(self);
  const int kind = static_cast<int>(dnd_kind());
  if (kind != 1 && kind != 2 && kind != 3 && kind != 5) return;
  undo_begin();
  undo_push_window(w);
  int changed = kind == 5 ? window_show_news_item(w, dnd_subject(), dnd_news_item())
                          : window_drop_instr(w, kind, dnd_instrument());
  if (!changed) undo_cancel();
  undo_end();
}

void window_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->drop = w_drop;
  c->reqsize = w_reqsize;
  c->size_limits = w_size_limits;
  c->draw = w_draw;
  c->show_children = w_show_children;
  c->hide_children = w_hide_children;
  c->after_release = w_after_release;
  c->leave = w_leave;
  c->layout = w_layout;
}

// The services the terminal widget asks of the window holding it.
window *holder(widget *w) {
  while (w && !window_is(w)) w = w->parent;
  return static_cast<window *>(w);
}
int term_in_popup(widget *w) { return window_child_is_popup(w) ? 1 : 0; }
int term_tools_switching(widget *) { return S.tools_switching; }
// The frame around a terminal takes the terminal's background colour.
void term_frame(widget *w) {
  if (window *win = holder(w)) win->frame_colours[0] = win->frame_colours[1] = kTermBackground;
}
int term_desktop_changing() { return desktop_is_changing() ? 1 : 0; }

typeid_t register_window() {
  static const terminal_hooks kTermHooks = {term_in_popup,         term_tools_switching, term_frame,
                                            term_desktop_changing, desktop_request_relayout,
                                            keyboard_deactivate};
  terminal_set_hooks(&kTermHooks);
  return object_register_class("window", box_type(), sizeof(window), w_init, w_fini, sizeof(box_class),
                               window_class_init, nullptr);
}

void relayout(window *w) {
  if (w->cls && static_cast<container_class *>(w->cls)->layout) static_cast<container_class *>(w->cls)->layout(w);
}

void refresh(window *w) {
  relayout(w);
  if (visible(w)) w->cls->show_children(w);
  widget_redraw(w);
}

}  // namespace

typeid_t window_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_window);
}

window *window_new(widget *parent, int32_t kind) {
  auto *w = static_cast<window *>(widget_new(parent, window_type()));
  if (!w) return nullptr;
  w->kind = kind;
  w->flags |= WIDGET_KEEP_POINTER;
  const style *st = style_cur();
  if (st) container_set_bg(w, style_colour(st, SC_PANEL));
  return w;
}

window *window_cast(object *o) {
  return o && object_is_a(o, window_type()) ? reinterpret_cast<window *>(o) : nullptr;
}

// Role table -----------------------------------------------------------------

const char *window_role_name(uint32_t role) { return row(role) ? row(role)->name : nullptr; }
const char *window_role_legacy_name(uint32_t role) {
  return row(role) && row(role)->legacy ? row(role)->legacy : nullptr;
}

int32_t window_role_by_name(const char *name) {
  if (!name) return -1;
  for (uint32_t i = 0; i < kRoleCount; i++) {
    const role_row &r = kRoles[i];
    if (r.name && strcmp(r.name, name) == 0) return static_cast<int32_t>(i);
    if (r.legacy && strcmp(r.legacy, "xx") != 0 && strcmp(r.legacy, name) == 0) return static_cast<int32_t>(i);
  }
  return -1;
}

int window_role_has_titlebar(uint32_t role) { return row(role) ? row(role)->title : 1; }
int window_role_has_quotebar(uint32_t role) { return row(role) ? row(role)->quote : 1; }

uint32_t window_role_subject_kind(uint32_t role, const instr *in) {
  if (role == kRoleChart || role == kRoleOptionlist) return is_index(in) ? 2 : 1;
  return row(role) ? row(role)->subject : 0;
}

uint32_t window_subject_kind(const window *w) { return window_role_subject_kind(w->role, w->instrument); }

widget *window_get_content(window *w, uint32_t role) {
  const role_row *r = row(role);
  return r && r->child >= 0 ? w->child[r->child] : nullptr;
}

widget *window_get_tools(window *w, uint32_t role) {
  const role_row *r = row(role);
  return r && r->tools >= 0 ? w->tools[r->tools] : nullptr;
}

widget *window_get_current_tools(window *w) { return window_get_tools(w, w->role); }
titlebar *window_get_titlebar(window *w) { return tb(w); }
int window_tools_switching() { return S.tools_switching; }
int window_copying() { return S.copying; }

// Subject --------------------------------------------------------------------

namespace {

// Hands the instrument to the contents by its kind (null clears them).
void give_children(window *w, instr *in) {
  static const int kStockKids[] = {kWinQuotebar, kWinDepth, kWinTradelist, kWinTradechart, kWinHistnews,
                                   kWinChart,    kWinOptionlist, kWinGoogle};
  for (int i = kWinQuotebar; i < kWindowChildren; i++) content_set_instr(child(w, i), nullptr);
  // The depth window is a content of its own kind: it takes a stock only,
  // and only when it changes (a new instrument returns it to live).
  if (widget *d = child(w, kWinDepth); d && object_is_a(widget_obj(d), depthwin_type())) {
    instr *want = in && is_stock(in) ? in : nullptr;
    if (depthwin_get_book(d)->instrument != want) depthwin_set_instrument(d, want);
  }
  if (!in) return;
  if (is_index(in)) {
    for (int i : {kWinQuotebar, kWinOptionlist, kWinIndexchart, kWinGoogle, kWinChart})
      content_set_instr(child(w, i), in);
  } else if (is_issuer(in)) {
    content_set_instr(child(w, kWinHistnews), in);
    content_set_instr(child(w, kWinDoc), in);
    content_set_instr(child(w, kWinOptionlist), stock_of(in));
  } else if (is_stock(in)) {
    for (int i : kStockKids) content_set_instr(child(w, i), in);
  } else {
    content_set_instr(child(w, kWinGoogle), in);
  }
}

// The role a new instrument moves the window to (its current role when none).
uint32_t role_for(const window *w, const instr *in) {
  uint32_t role = w->role;
  if (is_index(in)) {
    return (role == kRoleIndexchart || role == kRoleChart || role == kRoleOptionlist) ? role : kRoleIndexchart;
  }
  if (is_issuer(in)) return (role == kRoleHistnews || role == kRoleDocument) ? role : kRoleHistnews;
  if (is_stock(in)) {
    if (role == kRoleOptionlist &&
        ((in->exchange && in->exchange->index == 3) || strlen(in->code) >= 4))
      return kRoleDepth;
    switch (role) {
      case kRoleNone: case kRoleWatchlist: case kRoleIndexlist: case kRoleSearch: case kRoleTerminal:
      case kRoleLog: case kRoleForexlist: case kRoleAlerts:
        return kRoleDepth;
      case kRoleIndexchart: return kRoleTradechart;
      case kRoleNewstoday: return kRoleHistnews;
      case kRoleRss: return kRoleGoogle;
      default: return role;
    }
  }
  return role;
}

void remember(window *w) {
  instr *cur = w->instrument;
  if (is_issuer(cur)) {
    if (instr *s = stock_of(cur)) w->last_stock = s;
  } else if (is_index(cur)) {
    w->last_index = cur;
  } else if (is_stock(cur)) {
    w->last_stock = cur;
  }
}

// Whether a window already showing `have` may skip `next` passed to it over
// a link: both concern the same issuer.
bool same_issuer(const instr *next, const instr *have) {
  if (is_index(next) || !have || !next) return false;
  instr *a = issuer_of(next), *b = issuer_of(have);
  if (!is_stock(have) && !is_issuer(have)) return a == nullptr;
  return a && a == b;
}

// An index that can itself be traded: a stock of its exchange bears its code.
bool index_traded(const instr *in) { return in->exchange && ssmodel_find_stock(in->exchange, in->code); }

// Roles in which the window moves to the nearest stock when it has none.
bool wants_stock(uint32_t role) {
  return role == kRoleDepth || role == kRoleTradechart || role == kRoleTradelist || role == kRoleOptionlist ||
         role == kRoleChart;
}

}  // namespace

void window_set_instrument(window *w, instr *in) {
  if (S.link_depth >= kWindowLinkDepth) {
    log(LOG_WARN, kSrc, "links nest deeper than %d windows: instrument not passed on", kWindowLinkDepth);
    return;
  }
  remember(w);
  if (in == w->instrument) {
    if (in) titlebar_set_instr(tb(w), in);
    return;
  }
  if (w->instrument) {
    w->selection = 0;
    w->row_limit = 0;
    unregister_change(w);
  }
  if (is_issuer(in) && !S.copying && w->role != kRoleHistnews && w->role != kRoleDocument) {
    if (instr *s = stock_of(in)) in = s;
  }
  w->instrument = in;
  bool subject = in != nullptr;
  if (in) {
    if (in->exchange) w->exchange = in->exchange;
    if (visible(w)) register_change(w);
    titlebar_set_instr(tb(w), in);
    if (!S.copying) {
      uint32_t role = role_for(w, in);
      if (role != w->role) {
        // The role change finds the instrument already in place.
        window_set_role(w, role);
      }
    }
  }
  give_children(w, in);
  if (!in) titlebar_set_instr(tb(w), nullptr);
  window_update_title(w);
  if (w->kind != 0) return;
  window_take_instr_prices(w);
  if (subject) {
    S.link_depth++;
    if (w->link) window_take_linked_instr(w->link, in);
    for (alive *a = S.list; a; a = a->next)
      if (a->w->link == w && a->w != w) window_take_linked_instr(a->w, in);
    S.link_depth--;
  } else if (w->link) {
    window_unlink(w);
  }
}

void window_take_linked_instr(window *w, instr *in) {
  if (!in || !w->instrument || is_index(in)) {
    window_set_instrument(w, in);
    return;
  }
  instr *have = w->instrument;
  if (!is_stock(have) && !is_issuer(have)) {
    if (issuer_of(in)) window_set_instrument(w, in);
    return;
  }
  if (same_issuer(in, have)) return;
  window_set_instrument(w, in);
}

void window_set_role(window *w, uint32_t role) {
  container_set_relayout(0);
  if (w->show_tools) window_hide_tools(w);
  // A window given a role without an exchange takes the default one (an
  // empty pane, role none, keeps none, as a new pane has none).
  if (!w->exchange && role != kRoleNone) w->exchange = action_default_exchange_record();
  // Leaving a role lets its content go: the grid gives up its list (the
  // role's undo record keeps it), the depth window returns to live.
  if (role != w->role) {
    if (w->role == kRoleWatchlist && watchlist_is(child(w, kWinWatchlist)))
      watchlist_set_scan(static_cast<watchlist *>(child(w, kWinWatchlist)), nullptr);
    if (w->role == kRoleDepth && child(w, kWinDepth) && object_is_a(widget_obj(child(w, kWinDepth)), depthwin_type()))
      depthwin_restart(child(w, kWinDepth));
  }
  w->role = role;
  w->selection = 0;
  w->row_limit = 0;
  instr *in = w->instrument;
  titlebar *t = tb(w);
  remember(w);
  switch (role) {
    case kRoleNone:
      titlebar_set_text(t, "");
      break;
    case kRoleWatchlist:
      // A list of instruments has no exchange of its own.
      w->instrument = nullptr;
      w->exchange = nullptr;
      titlebar_set_text(t, "");
      break;
    case kRoleDepth: case kRoleTradechart: case kRoleTradelist: case kRoleOptionlist: case kRoleChart:
      if (is_issuer(in)) {
        // A copy keeps the source's issuer as it is.
        instr *s = S.copying ? nullptr : stock_of(in);
        if (s) w->instrument = s;
      } else if (!in && role == kRoleChart) {
        // A chart takes the last stock, or the first quick slot filled.
        w->instrument = w->last_stock ? w->last_stock : quick9_first();
      } else if (!in || (is_index(in) && role != kRoleChart && role != kRoleOptionlist && !index_traded(in))) {
        w->instrument = w->last_stock ? w->last_stock : quick9_first_of_kind();
      }
      break;
    case kRoleHistnews:
      if (is_stock(in))
        w->instrument = issuer_of(in);
      else if (!in || is_index(in))
        w->instrument = issuer_of(w->last_stock ? w->last_stock : quick9_first_of_kind());
      else if (!is_issuer(in))
        w->instrument = nullptr;
      break;
    case kRoleIndexchart:
      if (!is_index(in)) w->instrument = w->last_index;
      break;
    case kRoleIndexlist: w->instrument = nullptr; titlebar_set_text(t, "Indices"); break;
    case kRoleNewstoday: w->instrument = nullptr; titlebar_set_text(t, "Recent Announcements"); break;
    case kRoleSearch: w->instrument = nullptr; titlebar_set_text(t, "Search"); break;
    case kRoleAlerts: w->instrument = nullptr; titlebar_set_text(t, "Alerts"); break;
    case kRoleRss: break;  // the feed's title: window_update_title below
    case kRoleLog: w->instrument = nullptr; titlebar_set_text(t, "Log"); break;
    case kRoleForexlist: w->instrument = nullptr; titlebar_set_text(t, "Forex"); break;
    case kRoleTerminal: {
      w->instrument = nullptr;
      terminal *term = term_of(w);
      titlebar_set_text(t, term ? terminal_caption(term) : "");
      // A session whose back end ended is opened again for the window.
      if (term && terminal_needs_reopen(term)) terminal_reopen(term);
      break;
    }
    case kRoleDocument:
      if (is_stock(in)) w->instrument = issuer_of(in) ? issuer_of(in) : in;
      break;
    default:
      break;
  }
  if (w->instrument != in) {
    if (in && w->registered) {
      ssnotify_remove(in, w);
      w->registered = 0;
    }
    if (visible(w)) register_change(w);
    give_children(w, w->instrument);
    if (w->instrument || t->stock || t->index || t->issuer) {
      if (w->instrument) titlebar_set_instr(t, w->instrument);
    }
  }
  if (w->instrument && (wants_stock(role) || role == kRoleHistnews || role == kRoleIndexchart ||
                        role == kRoleDocument || role == kRoleGoogle))
    titlebar_set_instr(t, w->instrument);
  // A document window showing an announcement is titled by it.
  if (role == kRoleDocument && is_issuer(w->instrument) && docwin_is(child(w, kWinDoc)))
    if (const ss_news *item = docwin_get_news_item(child(w, kWinDoc))) titlebar_set_news_item(t, w->instrument, item);
  window_update_title(w);
  container_set_relayout(1);
  refresh(w);
  // What lies under the pointer may have changed with the content, and the
  // mini desktops show the pane's new role at the next backstop.
  if (visible(w)) gui_recheck_hover();
  screen_mark_changed();
}

namespace {

// The exchanges the lists of the window's current role show: just `ex`, or
// with none every exchange the user may see (a watchlist's scan only when
// forced). A watchlist-scan follows its source list, never an exchange.
void set_list_exchange(window *w, ss_exchange *ex, int force) {
  const int only = ex ? static_cast<int>(ex->index) : -1;
  switch (w->role) {
    case kRoleWatchlist: {
      auto *wl = watchlist_is(w->child[kWinWatchlist]) ? static_cast<watchlist *>(w->child[kWinWatchlist]) : nullptr;
      scan *sc = wl ? watchlist_get_scan(wl) : nullptr;
      if (!sc || sc->source) break;
      if (ex) {
        scan_clear_exchanges(sc);
        scan_set_exchange(sc, only, 1);
      } else if (force) {
        scan_set_all_exchanges(sc);
      }
      break;
    }
    case kRoleIndexlist:
      if (indexlist *l = indexlist_cast(w->child[kWinIndexlist])) {
        if (ex) {
          indexlist_clear_exchanges(l);
          indexlist_include_exchange(l, only);
        } else {
          indexlist_show_all_exchanges(l, 1);
        }
      }
      break;
    case kRoleNewstoday:
      if (widget *n = w->child[kWinNewstoday]; n && newstoday_is(n)) {
        if (ex) {
          newstoday_clear_exchanges(n);
          newstoday_set_exchange_shown(n, only, 1);
        } else {
          newstoday_show_all_exchanges(n, 1);
        }
      }
      break;
    case kRoleSearch:
      if (searchwin *sw = searchwin_cast(w->child[kWinSearch])) {
        if (ex) {
          searchwin_clear_exchanges(sw);
          searchwin_include_exchange(sw, only);
        } else {
          searchwin_show_all_exchanges(sw, 1);
        }
      }
      break;
    default:
      return;
  }
  if (w->show_tools)
    if (widget *panel = window_get_current_tools(w)) tools_refresh_later(panel);
}

}  // namespace

int window_set_exchange(window *w, ss_exchange *ex, int force) {
  set_list_exchange(w, ex, force);
  if (!ex || ex == w->exchange) {
    if (ex || force) window_update_title(w);
    return 0;
  }
  w->selection = 0;
  w->row_limit = 0;
  w->exchange = ex;
  instr *in = w->instrument;
  if (in) {
    instr *again = is_issuer(in)  ? static_cast<instr *>(ssmodel_find_issuer(ex, in->code))
                   : is_index(in) ? static_cast<instr *>(ssmodel_find_index(ex, in->code))
                   : is_stock(in) ? static_cast<instr *>(ssmodel_find_stock(ex, in->code))
                                  : in;
    if (again != in) window_set_instrument(w, again);
  }
  window_update_title(w);
  return 0;
}

namespace {

void set_title(titlebar *t, const char *text) {
  if (t->stock || t->index || t->issuer || strcmp(t->text, text) != 0) titlebar_set_text(t, text);
}

// A grid's title: its list's name, or for a list without one "New
// Watchlist" (a watchlist's items) or "New Smartlist"; nothing without one.
const char *list_title(window *w) {
  widget *c = child(w, kWinWatchlist);
  scan *sc = watchlist_is(c) ? watchlist_get_scan(static_cast<watchlist *>(c)) : nullptr;
  if (!sc) return "";
  const char *name = sc->source ? wlist_name(sc->source) : sc->name;
  if (name && *name) return name;
  return sc->source ? "New Watchlist" : "New Smartlist";
}

}  // namespace

void window_update_title(window *w) {
  titlebar *t = tb(w);
  if (!t) return;
  switch (w->role) {
    case kRoleWatchlist:
      set_title(t, list_title(w));
      break;
    case kRoleRss: {
      rss_feed *feed = rsswin_get_feed(child(w, kWinRss));
      const char *title = feed ? rss_feed_title(feed) : nullptr;
      set_title(t, title && *title ? title : "RSS");
      break;
    }
    case kRoleChart:
      if (nuchart *c = nuchart_cast(child(w, kWinChart))) nuchart_update_now(c);
      break;
    case kRoleGoogle:
      if (!w->instrument) set_title(t, "Google");
      break;
    case kRoleTerminal:
      if (terminal *term = term_of(w)) set_title(t, terminal_caption(term));
      break;
    default:
      break;
  }
  widget *panel = window_get_current_tools(w);
  // A built panel's summary is the caption whether shown or not: it names
  // the settings of what the window shows.
  if (panel && tools_is(panel))
    titlebar_set_caption(t, tools_summary(panel));
  else if (panel && w->show_tools)
    titlebar_set_caption(t, static_cast<content *>(panel)->name);
  else if (t->caption[0])
    titlebar_clear_caption(t);
}

void window_set_bar_mode(window *w, uint32_t mode) {
  w->bar_mode = mode > 3 ? 0 : mode;
  if (w->instrument) titlebar_set_instr(tb(w), w->instrument);
  refresh(w);
}

// Links ----------------------------------------------------------------------

void window_link_to(window *src, window *dst) {
  if (!src || !dst || src == dst) return;
  window *to = src->link ? src->link : src;
  if (to == dst) return;
  dst->link = to;
  dst->bar_mode = 3;
  S.link_depth++;
  window_set_instrument(dst, to->instrument);
  S.link_depth--;
  if (dst->instrument) titlebar_set_instr(tb(dst), dst->instrument);
  window_update_title(dst);
  refresh(dst);
}

void window_unlink(window *w) {
  w->link = nullptr;
  if (w->bar_mode != 0) w->bar_mode = 0;
  if (w->instrument) titlebar_set_instr(tb(w), w->instrument);
  window_update_title(w);
  refresh(w);
}

void window_link(window *w, window *to) { w->link = to == w ? nullptr : to; }
window *window_linked_to(const window *w) { return w->link; }

// Copying --------------------------------------------------------------------

namespace {

// The settings of the source's role, after its instrument and role. False
// when the target keeps its tool panel hidden whatever the source shows.
bool copy_role_settings(window *target, window *source) {
  auto kid = [](window *w, int i) { return w->child[i]; };
  switch (source->role) {
    case kRoleWatchlist:
      if (watchlist_is(kid(source, kWinWatchlist)))
        window_set_wlist(target, watchlist_get_scan(static_cast<watchlist *>(kid(source, kWinWatchlist))));
      break;
    case kRoleIndexlist: {
      indexlist *to = indexlist_cast(kid(target, kWinIndexlist)), *from = indexlist_cast(kid(source, kWinIndexlist));
      if (!to || !from) break;
      for (int i = 0; i < 4; i++) indexlist_set_exchange_shown(to, i, indexlist_get_exchange_shown(from, i));
      indexlist_set_index_filter(to, indexlist_get_index_filter(from));
      indexlist_set_order(to, indexlist_get_order(from));
      indexlist_set_reversed(to, indexlist_get_reversed(from));
      break;
    }
    case kRoleDocument:
      docwin_copy(kid(target, kWinDoc), kid(source, kWinDoc));
      break;
    case kRoleDepth:
      depthwin_copy(kid(target, kWinDepth), kid(source, kWinDepth));
      break;
    case kRoleHistnews:
      histnews_copy(kid(target, kWinHistnews), kid(source, kWinHistnews));
      break;
    case kRoleTradelist:
      tradelist_copy(tradelist_cast(kid(target, kWinTradelist)), tradelist_cast(kid(source, kWinTradelist)));
      break;
    case kRoleOptionlist: {
      optionlist *to = optionlist_cast(kid(target, kWinOptionlist)),
                 *from = optionlist_cast(kid(source, kWinOptionlist));
      if (!to || !from) break;
      optionlist_set_filter(to, optionlist_get_filter(from));
      optionlist_set_max_expiry_months(to, optionlist_get_max_expiry_months(from));
      optionlist_set_order(to, from->order);
      break;
    }
    case kRoleNewstoday:
      newstoday_copy(kid(target, kWinNewstoday), kid(source, kWinNewstoday));
      break;
    case kRoleRss:
      rsswin_set_feed(kid(target, kWinRss), rsswin_get_feed(kid(source, kWinRss)));
      break;
    case kRoleGoogle:
      rsswin_set_feed(kid(target, kWinGoogle), rsswin_get_feed(kid(source, kWinGoogle)));
      break;
    case kRoleSearch: {
      searchwin *to = searchwin_cast(kid(target, kWinSearch)), *from = searchwin_cast(kid(source, kWinSearch));
      if (to && from) searchwin_copy(to, from);
      break;
    }
    case kRoleChart: {
      nuchart *to = chart_of(target), *from = chart_of(source);
      if (!to || !from) break;
      // A registered style is shared; a private one is copied, so an edit
      // of the copy (a split, a zoom) does not reach the source until it is
      // copied back.
      nuchart_apply_cstyle(to, from);
      // The quick window and the hover previews show the chart plain.
      if (target->kind > 0 && !screen_is_zoom_window(target)) {
        nuchart_set_marker(to, 0, 0);
        return false;
      }
      break;
    }
    case kRoleTerminal: {
      terminal *to = term_of(target), *from = term_of(source);
      if (to && from) terminal_copy(to, from);
      break;
    }
    default:
      break;
  }
  return true;
}

}  // namespace

void window_copy(window *target, window *source) {
  S.copying = 1;
  window_set_instrument(target, source->instrument);
  window_set_role(target, source->role);
  const bool tools_as_source = copy_role_settings(target, source);
  S.copying = 0;
  if (source->show_tools && tools_as_source)
    window_show_tools(target);
  else
    window_hide_tools(target);
  target->seen_bid = source->seen_bid;
  target->seen_offer = source->seen_offer;
  target->seen_value = source->seen_value;
  if (visible(target)) target->cls->show_children(target);
  window_update_title(target);
}

void window_copy_from(window *w, window *src) { window_copy(w, src); }

// Lists ---------------------------------------------------------------------------

namespace {

watchlist *list_child(window *w) {
  widget *c = w ? w->child[kWinWatchlist] : nullptr;
  return watchlist_is(c) ? static_cast<watchlist *>(c) : nullptr;
}

}  // namespace

int window_set_wlist(window *w, scan *s) {
  watchlist *c = list_child(w);
  if (!c) return -1;
  // A registered list is shared; an anonymous one is the window's own.
  if (s && (s->id <= 0 || scan_find(s->id) != s)) {
    scan *copy = scan_clone_temp(s);
    if (!copy) {
      log(LOG_ERROR, "window", "can't copy list");
      return -1;
    }
    s = copy;
  }
  watchlist_set_scan(c, s);
  titlebar_set_text(tb(w), s ? s->name : "");
  window_update_title(w);
  return 0;
}

int window_set_list_source(window *w, wlist *wl) {
  watchlist *c = list_child(w);
  if (!c) return -1;
  int r = watchlist_set_source(c, wl);
  titlebar_set_text(tb(w), wl ? wlist_name(wl) : "");
  window_update_title(w);
  return r;
}

// Charts ---------------------------------------------------------------------------

void window_set_chart(window *w, cstyle *style) {
  nuchart *c = chart_of(w);
  if (!c || !style) return;
  nuchart_set_cstyle(c, style);
  // The chart panel's summary names the style's settings.
  widget *panel = window_get_current_tools(w);
  if (panel && tools_is(panel)) titlebar_set_caption(tb(w), tools_summary(panel));
}

cstyle *window_get_chart(window *w) {
  nuchart *c = chart_of(w);
  return c ? nuchart_get_cstyle(c) : nullptr;
}

void window_pass_to_chart(window *w, ss_time value) {
  if (!w || w->role != kRoleChart) return;
  if (nuchart *c = chart_of(w)) nuchart_set_cursor(c, value);
}

// Going to a time -----------------------------------------------------------------

int window_goto_time(window *w, ss_time time, uint32_t flags) {
  if (!w || w->role < kRoleDepth || w->role > kRoleTradelist) return -1;
  ss_exchange *ex = w->instrument ? w->instrument->exchange : w->exchange;
  const ss_time tod = time & kSstimeSecondsMask;
  // A time of day inside the exchange's trading hours on a given date.
  auto clamped_on = [&](ss_time date) {
    ss_time open = ssmodel_exchange_open_time(ex) & kSstimeSecondsMask;
    ss_time close = ssmodel_exchange_close_time(ex) & kSstimeSecondsMask;
    ss_time t = tod < open ? open : tod > close ? close : tod;
    return (date & ~kSstimeSecondsMask) | t;
  };
  switch (w->role) {
    case kRoleDepth: {
      widget *d = w->child[kWinDepth];
      if (!ex) return -1;
      ss_time position = depthwin_get_position(d);
      ss_time target = (flags & 0x7) ? clamped_on(position ? position : ex->date)
                                     : ((ssmodel_exchange_day_start(ex) & ~kSstimeSecondsMask) | tod);
      depthwin_play_to(d, target, 1);
      return 0;
    }
    case kRoleHistnews: {
      sstime_parts p{};
      sstime_unpack(&p, time);
      ss_time t = time;
      if ((flags & 0x18) == 0x10) {
        t = sstime_pack(59, 59, 23, p.mdays, p.mon, p.year);  // the last day of the month
      } else if ((flags & 0x18) == 0x8) {
        t = sstime_pack(59, 59, 23, p.mday, 12, p.year);  // that day in December
      } else if ((flags & 0x18) == 0) {
        t = sstime_pack(59, 59, 23, 31, 12, p.year);
      }
      histnews_refilter(w->child[kWinHistnews], t);
      return 0;
    }
    case kRoleNewstoday:
      newstoday_goto_time(w->child[kWinNewstoday], time);
      return 0;
    case kRoleTradelist: {
      if (!ex) return -1;
      ss_time target = (flags & 0x7) ? clamped_on(ex->date)
                                     : ((ssmodel_exchange_day_end(ex) & ~kSstimeSecondsMask) | tod);
      tradelist_set_position(tradelist_cast(w->child[kWinTradelist]), target);
      return 0;
    }
    default:
      return -1;
  }
}

// Reference values -----------------------------------------------------------

void window_take_instr_prices(window *w) {
  w->seen_bid = w->seen_offer = w->seen_value = 0;
  instr *in = w->instrument;
  if (is_stock(in)) {
    auto *s = static_cast<ss_stock *>(in);
    w->seen_bid = s->bid;
    w->seen_offer = s->offer;
    w->seen_value = s->last;
  } else if (is_index(in)) {
    w->seen_value = static_cast<ss_index *>(in)->value;
  }
}

int window_price_trend(window *w) {
  instr *in = w->instrument;
  // An alerts window is marked while any alert has fired.
  if (!in && w->role == kRoleAlerts) return alerts_any_fired(child(w, kWinAlerts)) ? 3 : -1;
  if (!in || (in->flags & (1u << 16))) return -1;
  if (is_index(in)) {
    uint32_t v = static_cast<ss_index *>(in)->value;
    int r = v == w->seen_value ? 0 : -1;
    w->seen_value = v;
    return r;
  }
  if (is_stock(in)) {
    uint32_t last = static_cast<ss_stock *>(in)->last;
    if (last > w->seen_value) return 1;
    if (last && last < w->seen_value) return 2;
    return 0;
  }
  return -1;
}

// Rows -----------------------------------------------------------------------

namespace {

bool keeps_rows(uint32_t role) {
  switch (role) {
    case kRoleWatchlist: case kRoleHistnews: case kRoleIndexlist: case kRoleNewstoday: case kRoleSearch:
    case kRoleRss: case kRoleDocument: case kRoleTradelist: case kRoleForexlist: case kRoleOptionlist:
    case kRoleGoogle: case kRoleAlerts:
      return true;
    default:
      return false;
  }
}

void tell_content(window *w) {
  widget *c = window_get_content(w, w->role);
  if (c && c->cls->restyle) c->cls->restyle(c);
}

void select(window *w, int64_t row) {
  if (row < 0) row = 0;
  if (w->row_limit != 0xFFFFFFFFu && row > w->row_limit) row = w->row_limit;
  if (row > 0xFFFFFFFEll) row = 0xFFFFFFFEll;
  if (static_cast<uint32_t>(row) == w->selection) return;
  w->selection = static_cast<uint32_t>(row);
  tell_content(w);
}

}  // namespace

void window_select_row(window *w, int32_t row) {
  if (keeps_rows(w->role)) select(w, row);
}

void window_move_selection(window *w, int32_t step) {
  if (!keeps_rows(w->role)) return;
  int64_t unit = w->role == kRoleDocument ? kDocRowUnit : 1;
  select(w, static_cast<int64_t>(w->selection) + step * unit);
}

void window_set_row_count(window *w, int32_t limit) {
  if (!keeps_rows(w->role)) return;
  uint32_t next;
  if (limit == -1) {
    next = 0xFFFFFFFFu;
  } else if (limit < 0) {
    next = 0;
  } else if (w->role == kRoleDocument) {
    next = static_cast<uint32_t>((static_cast<int64_t>(limit) + kDocRowUnit - 1) / kDocRowUnit * kDocRowUnit);
  } else {
    next = static_cast<uint32_t>(limit);
  }
  if (next == w->row_limit) return;
  w->row_limit = next;
  if (next != 0xFFFFFFFFu && w->selection > next) {
    w->selection = next;
    tell_content(w);
  }
}

// Tool panels ----------------------------------------------------------------

namespace {

void replace_popup_document(window *w) {
  const int n = screen_index_of(w);
  if (n < 0 || !screen_push(n)) return;
  if (w == screen_popup_document()) screen_relayout_popup_document();
  screen_pop();
}

}  // namespace

void window_show_tools(window *w) {
  if (w->show_tools) return;
  w->show_tools = 1;
  widget *panel = window_get_current_tools(w);
  if (visible(w) && panel) {
    S.tools_switching = 1;
    relayout(w);
    widget_show(panel);
    window_update_title(w);
    if (tools_is(panel)) tools_refresh_later(panel);
    S.tools_switching = 0;
    // The popup document's place is worked out with its panel: it is
    // placed again now that the panel shows.
    if (w->role == kRoleDocument) replace_popup_document(w);
  } else {
    window_update_title(w);
  }
}

void window_hide_tools(window *w) {
  if (!w->show_tools) return;
  w->show_tools = 0;
  if (screen_index_of(w) >= 0) screen_hide_groupbar();
  widget *panel = window_get_current_tools(w);
  S.tools_switching = 1;
  if (panel) widget_hide(panel);
  window_update_title(w);
  relayout(w);
  S.tools_switching = 0;
}

void window_toggle_tools(window *w) {
  if (w->show_tools)
    window_hide_tools(w);
  else
    window_show_tools(w);
}

// Drops ----------------------------------------------------------------------

int window_drop_instr(window *w, int kind, instr *in) {
  switch (kind) {
    case 1:
      window_set_instrument(w, in);
      if (w->role == kRoleWatchlist || w->role == kRoleIndexchart) window_set_role(w, kRoleDepth);
      return 1;
    case 2:
      window_set_instrument(w, in);
      if (w->kind == 0) {
        if (w->role != kRoleChart) window_set_role(w, kRoleChart);
      } else if (w->role != kRoleIndexchart && w->role != kRoleChart) {
        window_set_role(w, kRoleIndexchart);
      }
      return 1;
    case 3:
      window_set_instrument(w, in);
      if (w->role != kRoleHistnews) {
        window_set_role(w, w->role == kRoleDocument ? kRoleHistnews : kRoleDepth);
        window_set_instrument(w, in);
      }
      return 1;
    default:
      return 0;  // nothing changed: nothing to record for undo
  }
}

int window_export(window *w) {
  if (!w) return 0;
  widget *c = window_get_content(w, w->role);
  switch (w->role) {
    case kRoleWatchlist: if (watchlist_is(c)) watchlist_export(static_cast<watchlist *>(c)); break;
    case kRoleDepth: depthwin_export(c); break;
    case kRoleHistnews: histnews_export(c); break;
    case kRoleIndexlist: if (indexlist *l = indexlist_cast(c)) indexlist_export(l); break;
    case kRoleNewstoday: newstoday_export(c); break;
    case kRoleSearch: if (searchwin *sw = searchwin_cast(c)) searchwin_export(sw); break;
    case kRoleTradelist: tradelist_export(tradelist_cast(c)); break;
    case kRoleForexlist: if (forexlist *f = forexlist_cast(c)) forexlist_export(f); break;
    case kRoleOptionlist: if (optionlist *o = optionlist_cast(c)) optionlist_export(o); break;
    case kRoleAlerts: alerts_export(c); break;
    case kRoleChart: if (nuchart *ch = chart_of(w)) nuchart_export(ch); break;
    default: break;  // other roles export nothing
  }
  return 0;
}

int window_export_image(window *w) {
  if (!w) return -1;
  int index = gui_window_index(w);
  if (index < 0) return -1;
  return clipboard_copy_image(index, w->r.x, w->r.y, w->r.w, w->r.h);
}

int window_show_news_item(window *w, instr *issuer, const ss_news *item) {
  widget *doc = w ? w->child[kWinDoc] : nullptr;
  if (!doc || !item || !docwin_is(doc)) return 0;
  // The item goes to the document child before the window takes the
  // issuer and the role, so the child keeps it as its subject.
  docwin_show_news_item(doc, issuer, item);
  window_set_instrument(w, issuer);
  window_set_role(w, kRoleDocument);
  docwin_goto_page(doc, 0);
  if (is_issuer(w->instrument)) titlebar_set_news_item(tb(w), w->instrument, docwin_get_news_item(doc));
  return 1;
}

bool window_equal(const window *a, const window *b) {
  if (!a || !b || a->instrument != b->instrument || a->role != b->role) return false;
  if (a->role == kRoleAlerts) return true;
  if (a->role != kRoleWatchlist) return false;
  widget *la = a->child[kWinWatchlist], *lb = b->child[kWinWatchlist];
  scan *sa = watchlist_is(la) ? watchlist_get_scan(static_cast<watchlist *>(la)) : nullptr;
  scan *sb = watchlist_is(lb) ? watchlist_get_scan(static_cast<watchlist *>(lb)) : nullptr;
  return sa && sb && scan_equal(sa, sb);
}

bool window_child_is_popup(const widget *w) {
  while (w && !window_is(w)) w = w->parent;
  return w && static_cast<const window *>(w)->kind > 0;
}

// Focus, title, alive list ---------------------------------------------------

void window_set_focus_hook(bool (*is_focused)(const window *w)) { S.is_focused = is_focused; }

bool window_is_focused(const window *w) {
  if (S.is_focused) return S.is_focused(w);
  if (!w || w->kind != 0) return false;
  desktop *d = desktop_of_widget(const_cast<window *>(w));
  return d && desktop_get_focus(d) == w;
}

// Frame requests from children --------------------------------------------------

void window_redraw_frame(widget *c) {
  window *w = holder_of(c);
  if (!w || w->role == kRoleNone) return;
  if (w->drawing) {
    w->frame_pending[0] = 1;
    return;
  }
  if (c->r.y != w->r.y && c->r.y + c->r.h != w->r.y + w->r.h) return;
  w->frame_pending[0] = 1;
  // The frame beside the child, over its rows only: the rest of the window
  // keeps what its own draw left there.
  draw_frame_rows(w, c->r.y, c->r.y + c->r.h);
}

void window_frame_child_colours(widget *c, colour outer, colour inner) {
  window *w = holder_of(c);
  if (!w || w->role == kRoleNone) return;
  const bool panel = c == window_get_current_tools(w);
  if (w->drawing) {
    // Recorded for the frame drawn at the end of the window's draw; the
    // panel's edges are drawn there in the panel colour anyway.
    if (!panel) {
      w->frame_colours[0] = outer;
      w->frame_colours[1] = inner;
    }
    w->frame_pending[1] = 1;
    return;
  }
  if (!panel) {
    w->frame_colours[0] = outer;
    w->frame_colours[1] = inner;
  }
  if (!frames_itself(w)) return;
  // Drawn alone: only the edge pieces beside this child.
  frame_look l = default_look();
  if (outer) l.outer = outer | 0xff000000u;
  if (inner) l.inner = inner | 0xff000000u;
  if (!panel) l = look_of(w);
  if (window_is_focused(w)) l.outer = focus_colour();
  paint_frame(w->r, c->r.y, c->r.y + c->r.h, l.outer, l.inner);
}

void window_frame_look(window *w, uint32_t *outer, uint32_t *inner) {
  frame_look l = look_of(w);
  if (window_is_focused(w)) l.outer = focus_colour();
  *outer = l.outer;
  *inner = l.inner;
}

void window_frame_child_default(widget *c) {
  window *w = holder_of(c);
  if (!w) return;
  window_frame_child_colours(c, w->frame_colours[0], w->frame_colours[1]);
}

const char *window_title_text(const window *w) {
  const auto *t = static_cast<const titlebar *>(w->child[kWinTitlebar]);
  return t ? t->text : "";
}

int window_count() { return S.count; }

void window_destroy_all(void) {
  while (S.list) {
    window *w = S.list->w;
    if (w->parent && w->parent->cls) {
      auto *pc = static_cast<container_class *>(w->parent->cls);
      if (object_is_a(reinterpret_cast<object *>(w->parent), container_type()) && pc->remove)
        pc->remove(static_cast<container *>(w->parent), w);
    }
    widget_delete(w);
  }
}
