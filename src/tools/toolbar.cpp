// The screen's left and right toolbars. Each is a bin holding a vertical box:
// a hider with the 19-pixel spacer kept for the window bar, a flyaway box of
// sections, the logo in a hider and a deck whose page 1 is "Remove".
// Every button calls toolbar_on_button, which tells by the state word what
// happened: a drop onto the button (128), the button dragged and released
// elsewhere (64) or a click (32). List entries carry their object's id plus
// the list's base, so the id alone says what the button stands for; a drag
// in its own list reorders by those ids, never by row numbers, because the
// scan list skips unnamed scans while counting them.
//
// Slots: draw (toolbar colour under the bin's), restyle, release (empty).
#include "tools/toolbar.h"

#include <algorithm>

#include <cstdio>
#include <cstring>

#include "action.h"
#include "charts/cstyle.h"
#include "config/autosave.h"
#include "config/config.h"
#include "dnd.h"
#include "keyboard.h"
#include "lib/gfx.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "log.h"
#include "quick9.h"
#include "rss/rss.h"
#include "screen/help_button.h"
#include "screen/minibar.h"
#include "screen/miniquote.h"
#include "screen/screen.h"
#include "screen/watchbar.h"
#include "ssmodel.h"
#include "ssuser.h"
#include "site.h"
#include "style.h"
#include "ui/box.h"
#include "ui/button.h"
#include "ui/deck.h"
#include "ui/flyaway.h"
#include "ui/grid.h"
#include "ui/gui.h"
#include "ui/hider.h"
#include "ui/key.h"
#include "ui/label.h"
#include "ui/sizer.h"
#include "undo.h"
#include "windows/alertlist.h"
#include "windows/window.h"

namespace {

const char kSrc[] = "toolbar";
constexpr int kSections = 10;
constexpr int32_t kTopSpacer = 19;

constexpr uint32_t kOptionsExchangeMask = 4;

enum : int32_t {
  ID_REMOVE = 0, ID_OPTIONS = 80, ID_UNDO = 43, ID_SETTINGS = 44, ID_LOGO = 45, ID_HELP = 46,
  ID_LOGOUT = 47, ID_WATCH = 39, ID_TICKER = 38, ID_MINIS = 37, ID_LEFT = 41, ID_RIGHT = 42,
  ID_MULTI = 60,
};

// Sections in fbox order.
enum { SEC_SPEED, SEC_STOCK, SEC_CHARTS, SEC_WATCH, SEC_SMART, SEC_MARKET, SEC_RSS, SEC_LAYOUT,
       SEC_DISPLAY, SEC_HIDESHOW };
const char *const kSectionTitle[kSections] = {
    "Speed Pad", "Stock Tools", "Charts", "Watchlists", "Smartlists",
    "Market",    "RSS Feeds",   "Layout", "Display",    "Hide/Show Tools"};
// Lists: 0 watchlists, 1 scans, 2 chart styles, 3 feeds.
const int kListSection[kToolbarLists] = {SEC_WATCH, SEC_SMART, SEC_CHARTS, SEC_RSS};
const int32_t kListBase[kToolbarLists] = {kToolbarWatchlistBase, kToolbarScanBase,
                                          kToolbarCstyleBase, kToolbarFeedBase};
static_assert(kToolbarWatchlistBase == kUndoListWatchlists && kToolbarScanBase == kUndoListScans &&
                  kToolbarCstyleBase == kUndoListChartStyles && kToolbarFeedBase == kUndoListFeeds,
              "a list move's undo record names its list by the entry base");
const int32_t kListNew[kToolbarLists] = {51, 52, 53, 50};
const char *const kListNoun[kToolbarLists] = {"watchlist", "scan", "chart style", "rss feed"};

struct toolbar : bin {
  int32_t side;
  fbox *sections_box;
  flyaway *sections[kSections];
  vbox *lists[kToolbarLists];
  widget *hideshow_box;
  button *toggles[5];  // Left, Right, Minis, Ticker, Watch
  hider *spacer_hider;
  button *speed[kQuickSlots];
  button *multi[kScreens];
  button *logo;
  deck *bottom;
  button *remove;
  button *undo;
  hider *logo_hider;
  hider *paging_hider[kToolbarLists];
  int32_t offset[kToolbarLists];
  button *options;
  button *paging[kToolbarLists];
  int32_t updates;
};

struct {
  typeid_t type = -1;
  button_colours logo_colours;
  bool logo_made;
} T;

toolbar *as_tb(widget *w) { return static_cast<toolbar *>(w); }

uint32_t toolbar_colour() {
  const style *s = style_cur();
  return s ? style_colour(s, SC_PANEL) : 0xff303030u;
}
uint32_t flyaway_colour() {
  const style *s = style_cur();
  return s ? style_colour(s, SC_HEADER) : 0xff505050u;
}
int32_t panel_font() {
  const style *s = style_cur();
  return s ? s->font[0] : 0;
}

// ---- slots ----

void tb_draw(widget *self) {
  gfx_fill_rect(self->r.x, self->r.y, self->r.w, self->r.h, toolbar_colour());
  static_cast<widget_class *>(object_class_record(bin_type()))->draw(self);
}

void restyle_one(widget *w, void *arg, int) {
  auto *tb = static_cast<toolbar *>(arg);
  if (object_is_a(widget_obj(w), button_type())) {
    if (w != tb->logo) button_set_image(static_cast<button *>(w), style_button_colours());
  } else if (object_is_a(widget_obj(w), flyaway_type())) {
    flyaway_set_font(static_cast<flyaway *>(w), panel_font());
    flyaway_set_bg_all(static_cast<flyaway *>(w), flyaway_colour());
  } else if (object_is_a(widget_obj(w), label_type())) {
    label_set_font(static_cast<label *>(w), panel_font());
  } else if (object_is_a(widget_obj(w), container_type())) {
    container_set_bg(static_cast<container *>(w), toolbar_colour());
  }
  w->cls->apply_children(w, restyle_one, arg, 0);
}

void tb_restyle(widget *self) {
  self->cls->apply_children(self, restyle_one, self, 0);
  auto *parent = static_cast<widget_class *>(object_class_record(bin_type()));
  if (parent->restyle) parent->restyle(self);
  container_cls(static_cast<container *>(self))->layout(static_cast<container *>(self));
}

void tb_release(widget *, int32_t, int32_t, int) {}

// A strip at least kToolbarWidth wide, and as wide as its widest section
// is when open, so that every label of every row shows whole whichever
// sections the user opens (the width stays put as they open and close);
// the height is the content's.
void tb_reqsize(widget *self, size *out) {
  static_cast<widget_class *>(object_class_record(bin_type()))->reqsize(self, out);
  auto *tb = static_cast<toolbar *>(self);
  int32_t now = 0, open = 0;
  for (flyaway *f : tb->sections) {
    if (!f) continue;
    size r{0, 0};
    f->cls->reqsize(f, &r);
    now = std::max(now, r.w);
    open = std::max(open, flyaway_open_size(f).w);
  }
  // The strip's margins around the sections stay as they are.
  out->w = std::max({out->w, out->w - now + open, kToolbarWidth});
}

void tb_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->draw = tb_draw;
  c->restyle = tb_restyle;
  c->release = tb_release;
  c->reqsize = tb_reqsize;
}

// ---- building ----

button *add_button(widget *parent, toolbar *tb, const char *text, int32_t id, uint32_t flags,
                   const button_colours *colours = nullptr) {
  return button_new(parent, text, -1, 0, flags, nullptr,
                    colours ? colours : style_button_colours(), toolbar_on_button, tb, id);
}

// The style's split picture i (0-8): its numbers 0-8 name atlas images.
int32_t split_icon(int i) {
  const style *s = style_cur();
  return s ? s->numbers[i] : 7 + i;
}

// The help button (id 46): dragged over the program it explains what lies
// under the pointer; a click or drop comes to the toolbar's callback.
button *help_button(widget *parent, toolbar *tb) {
  return help_button_new(parent, style_button_colours(), toolbar_on_button, tb, ID_HELP);
}

flyaway *section(toolbar *tb, int i) {
  padding pad{5, 3, 4, 4};
  flyaway *f = flyaway_new(tb->sections_box, kSectionTitle[i], 0, panel_font(), flyaway_colour(),
                           0, &pad);
  tb->sections[i] = f;
  flyaway_set_open(f, 1);
  return f;
}

grid *grid_of(widget *parent, const int32_t *ids, const char *const *texts, int n, int rows,
              int cols, toolbar *tb, uint32_t flags, int span_first) {
  grid *g = grid_new(parent, rows, cols, 1);
  for (int i = 0; i < n; i++) {
    button *b = add_button(g, tb, texts[i], ids[i], flags);
    if (i == 0 && span_first) grid_set_span(g, b, 1, 2);
  }
  return g;
}

void list_section(toolbar *tb, int list) {
  flyaway *f = section(tb, kListSection[list]);
  vbox *v = vbox_new(f, 0, 1);
  tb->lists[list] = vbox_new(v, 0, 1);
  hbox *row = hbox_new(v, 1, 1);
  tb->paging_hider[list] = hider_new(row, 0);
  tb->paging[list] = add_button(tb->paging_hider[list], tb, "More", kToolbarPagingFirst + list, 0);
  add_button(row, tb, "New", kListNew[list], BUTTON_DRAG_SOURCE);
}

void speed_text(toolbar *tb, int i) {
  instr *in = quick9_get(i);
  button_set_text(tb->speed[i], in ? in->code : "");
  button_set_style(tb->speed[i], in ? BUTTON_DRAG_SOURCE | BUTTON_ACCEPTS_DROPS
                                    : BUTTON_ACCEPTS_DROPS);
}

void build(toolbar *tb) {
  container_set_bg(tb, toolbar_colour());
  vbox *strip = vbox_new(tb, 0, 0);
  // The help button exists before the strip's deck takes it.
  button *help = help_button(nullptr, tb);

  tb->spacer_hider = hider_new(strip, 0);
  size fixed{1, kTopSpacer};
  sizer_new(tb->spacer_hider, 0, &fixed, nullptr, 1.0f);
  hider_set_hidden(tb->spacer_hider, 1);

  // The sections take the strip's spare height, so that they can open.
  sizer *room = sizer_new(strip, SIZER_EXPAND_V | SIZER_FILL_W | SIZER_FILL_H, nullptr, nullptr, 1.0f);
  tb->sections_box = fbox_new(room, 2, 1);
  const uint32_t drag = BUTTON_DRAG_SOURCE;

  flyaway *f = section(tb, SEC_SPEED);
  grid *g = grid_new(f, 3, 3, 1);
  for (int i = 0; i < kQuickSlots; i++) {
    tb->speed[i] = add_button(g, tb, "", kToolbarSpeedPadFirst + i, BUTTON_ACCEPTS_DROPS);
    speed_text(tb, i);
  }

  f = section(tb, SEC_STOCK);
  {
    const int32_t ids[] = {3, 7, 82, 4, 2, ID_OPTIONS, 1};
    const char *const texts[] = {"Depth", "News", "Google", "Trades", "Profile", "Options", "Search"};
    grid_of(f, ids, texts, 7, 4, 2, tb, drag, 1);
    // Depth, News and Trades centre their text vertically.
    for (int32_t id : {3, 7, 4}) {
      button *b = toolbar_button(tb, id);
      button_set_style(b, b->style | BUTTON_CENTRE_Y);
    }
  }
  list_section(tb, 2);
  list_section(tb, 0);
  list_section(tb, 1);
  f = section(tb, SEC_MARKET);
  {
    const int32_t ids[] = {9, 10, 11, 14, 12, 140, 13};
    const char *const texts[] = {"News", "Rises", "Falls", "Indices", "Volume", "Alerts", "Turnover"};
    grid_of(f, ids, texts, 7, 4, 2, tb, drag, 1);
    button *news = toolbar_button(tb, 9);
    button_set_style(news, news->style | BUTTON_CENTRE_Y);
  }
  list_section(tb, 3);

  f = section(tb, SEC_LAYOUT);
  {
    vbox *v = vbox_new(f, 0, 1);
    hbox *row = hbox_new(v, 1, 1);
    add_button(row, tb, "Tools", 48, drag);
    add_button(row, tb, "Zoom", 49, drag);
    // The split buttons show the style's nine split pictures, in id order;
    // the linked pair those of the first two.
    const int32_t split_ids[] = {19, 20, 21, 23, 24, 28, 25, 26, 22};
    const char *const split_texts[] = {"", "", "", "", "", "", "", "", ""};
    grid_of(v, split_ids, split_texts, 9, 3, 3, tb, drag, 0);
    for (int i = 0; i < 9; i++) button_set_icon(toolbar_button(tb, split_ids[i]), split_icon(i));
    row = hbox_new(v, 0, 1);
    label_new(row, "Linked", 0, panel_font(), 0, 0xffffffffu, nullptr);
    button_set_icon(add_button(row, tb, "", 83, drag | BUTTON_CENTRE_X), split_icon(0));
    button_set_icon(add_button(row, tb, "", 84, drag | BUTTON_CENTRE_X), split_icon(1));
    row = hbox_new(v, 1, 1);
    add_button(row, tb, "Clear", 29, 0);
    add_button(row, tb, "Snap", 30, 0);
  }

  f = section(tb, SEC_DISPLAY);
  {
    vbox *v = vbox_new(f, 0, 1);
    hbox *row = hbox_new(v, 1, 1);
    add_button(row, tb, "Prev", 35, 0);
    add_button(row, tb, "Next", 36, 0);
    row = hbox_new(v, 1, 1);
    tb->toggles[4] = add_button(row, tb, "Watch", ID_WATCH, BUTTON_TOGGLE);
    tb->toggles[3] = add_button(row, tb, "Ticker", ID_TICKER, BUTTON_TOGGLE);
    tb->toggles[2] = add_button(row, tb, "Minis", ID_MINIS, BUTTON_TOGGLE);
    row = hbox_new(v, 0, 1);
    label_new(row, "Toolbar", 0, panel_font(), 0, 0xffffffffu, nullptr);
    tb->toggles[0] = add_button(row, tb, "Left", ID_LEFT, BUTTON_TOGGLE);
    tb->toggles[1] = add_button(row, tb, "Right", ID_RIGHT, BUTTON_TOGGLE);
    label_new(v, "Multi Screen", 0, panel_font(), 0, 0xffffffffu, nullptr);
    row = hbox_new(v, 1, 1);
    for (int i = 0; i < kScreens; i++) {
      char t[4];
      snprintf(t, sizeof t, "%d", i + 1);
      tb->multi[i] = add_button(row, tb, t, ID_MULTI + i, BUTTON_CENTRE_X);
    }
  }

  f = section(tb, SEC_HIDESHOW);
  tb->hideshow_box = vbox_new(f, 0, 1);
  for (int i = 0; i < SEC_HIDESHOW; i++)
    button_new(tb->hideshow_box, kSectionTitle[i], -1, 0, BUTTON_TOGGLE | 8, nullptr,
               style_button_colours(), toolbar_tool_toggle, tb, kToolbarHideShowBase + i);
  for (int i = 0; i < SEC_HIDESHOW; i++)
    button_set_active(toolbar_button(tb, kToolbarHideShowBase + i), 1);
  fbox_close_flyaway(tb->sections_box, tb->sections[SEC_HIDESHOW]);

  tb->logo_hider = hider_new(strip, 0);
  if (!T.logo_made) {
    const style *s = style_cur();
    button_set_colours(&T.logo_colours, 0, s ? s->colour[0] : 0xff000000u, 0xffffffffu,
                       toolbar_colour(), 0);
    T.logo_made = true;
  }
  // The logo: the current site's picture (its second), the name only for
  // a site without one.
  const site_row *site = site_current();
  const int32_t logo = site ? site->pictures[1] : -1;
  tb->logo = add_button(tb->logo_hider, tb, logo >= 0 ? "" : "Ambit", ID_LOGO, BUTTON_CENTRE_X, &T.logo_colours);
  if (tb->logo && logo >= 0) button_set_icon(tb->logo, logo);
  hider_set_hidden(tb->logo_hider, 0);

  tb->bottom = deck_new(strip);
  grid *page0 = grid_new(tb->bottom, 2, 2, 1);
  tb->undo = add_button(page0, tb, "Undo", ID_UNDO, BUTTON_CENTRE_X | BUTTON_CENTRE_Y);
  container_cls(page0)->add(page0, help);
  add_button(page0, tb, "Settings", ID_SETTINGS, 0);
  add_button(page0, tb, "Logout", ID_LOGOUT, 0);
  tb->remove = button_new(tb->bottom, "Remove", -1, 0,
                          BUTTON_ACCEPTS_DROPS | BUTTON_CENTRE_X | BUTTON_CENTRE_Y,
                          nullptr, style_button_colours(), nullptr, nullptr, ID_REMOVE);
  deck_show_page(tb->bottom, 0);
  tb->options = toolbar_button(tb, ID_OPTIONS);
  for (int l = 0; l < kToolbarLists; l++) {
    tb->offset[l] = 0;
  }
}

void tb_init(object *o) {
  (void)o;
}

// ---- the lists ----

using visit_fn = void (*)(void *arg, int32_t position, int32_t id, const char *name);

// Walks list l in its order, counting every object (named or not).
int32_t walk(int l, visit_fn fn, void *arg) {
  int32_t n = 0;
  switch (l) {
    case 0:
      for (wlist *w = wlist_iter_begin(); w; w = wlist_iter_next(), n++)
        if (fn) fn(arg, n, wlist_id(w), wlist_name(w));
      break;
    case 1:
      for (scan *s = scan_iter_begin(); s; s = scan_iter_next(), n++)
        if (fn) fn(arg, n, scan_id(s), scan_name(s));
      break;
    case 2:
      cstyle_rewind();
      for (cstyle *c = cstyle_next(); c; c = cstyle_next(), n++)
        if (fn) fn(arg, n, cstyle_get_id(c), cstyle_name(c));
      break;
    case 3:
      for (rss_feed *f = rss_feed_iter_begin(); f; f = rss_feed_iter_next(), n++)
        if (fn) fn(arg, n, rss_feed_id(f), rss_feed_display_name(f));
      break;
    default: break;
  }
  return n;
}

struct fill_args {
  toolbar *tb;
  int list;
  int32_t first;
};

void add_entry(void *arg, int32_t position, int32_t id, const char *name) {
  auto *a = static_cast<fill_args *>(arg);
  if (position < a->first || position >= a->first + kToolbarPage) return;
  if (a->list == 1 && (!name || !name[0])) return;  // unnamed scans: counted, not listed
  if (id < 0 || id >= kToolbarRangeWidth) {
    log(LOG_WARN, kSrc, "%s id %d out of range, not listed", kListNoun[a->list], id);
    return;
  }
  uint32_t flags = BUTTON_DRAG_SOURCE;
  if (a->list == 3) flags = 0x20200;
  add_button(a->tb->lists[a->list], a->tb, name ? name : "", kListBase[a->list] + id, flags);
}

void rebuild(toolbar *tb, int l) {
  if (!tb->lists[l]) return;
  container_cls(tb->lists[l])->delete_children(tb->lists[l]);
  const int32_t n = walk(l, nullptr, nullptr);
  toolbar_page p = toolbar_page_of(tb->offset[l], n);
  tb->offset[l] = p.offset;
  fill_args a{tb, l, p.offset};
  walk(l, add_entry, &a);
  hider_set_hidden(tb->paging_hider[l], p.paging_hidden);
  if (!p.paging_hidden) button_set_text(tb->paging[l], p.text);
  for (int i = 0; i < p.spacers; i++) {
    size fixed{1, 1};
    sizer_new(tb->lists[l], 0, &fixed, nullptr, 1.0f);
  }
  // The new buttons have no place until the strip is laid out again: without
  // this the list stayed blank until something else relaid the screen.
  if (tb->r.w > 0 && tb->r.h > 0) {
    if (widget_is_shown(tb->lists[l])) widget_show_subtree(tb->lists[l]);
    container_cls(tb)->layout(tb);
    // The strip keeps its rect, so the list's own layout is not reached
    // through it: the list lays its new buttons out itself.
    container_cls(tb->lists[l])->layout(tb->lists[l]);
  }
  widget_redraw(tb);
}

// The position of the object with this id in list l, -1 when gone.
struct find_args {
  int32_t id, position;
};
int32_t position_of(int l, int32_t id) {
  find_args a{id, -1};
  walk(l, [](void *arg, int32_t pos, int32_t oid, const char *) {
    auto *f = static_cast<find_args *>(arg);
    if (oid == f->id && f->position < 0) f->position = pos;
  }, &a);
  return a.position;
}

// Lists change under a button's own callback (the dragged entry is one of
// the buttons a rebuild deletes), so every screen's lists are rebuilt by the
// next pass of the screens, which updates every toolbar.
void rebuild_everywhere(int) { screen_request_redraw(); }

window *window_of(widget *w) {
  for (; w; w = w->parent)
    if (window *win = window_cast(widget_obj(w))) return win;
  return nullptr;
}

bool inside(widget *w, widget *ancestor) {
  for (; w; w = w->parent)
    if (w == ancestor) return true;
  return false;
}

bool is_remover(widget *target) { return screen_is_remover(target); }

void redraw_all() { screen_request_redraw(); }

// Deletes what an entry button stands for.
void remove_entry(int l, int32_t oid) {
  switch (l) {
    case 0: {
      wlist *w = wlist_find(oid);
      if (!w) {
        log(LOG_ERROR, kSrc, "can't find watchlist %d to delete", oid);
        break;
      }
      undo_begin();
      wlist_unlink(w);
      undo_push_wlist_deleted(w);
      undo_end();
      screen_desktops_changed();
      break;
    }
    case 1: {
      scan *s = scan_find(oid);
      if (!s) {
        log(LOG_ERROR, kSrc, "can't find scan %d to delete", oid);
        break;
      }
      undo_begin();
      scan_unlink(s);
      undo_push_scan_deleted(s);
      undo_end();
      screen_desktops_changed();
      break;
    }
    case 2: {
      cstyle *c = cstyle_find(oid);
      if (!c) {
        log(LOG_ERROR, kSrc, "can't find chart style %d to delete", oid);
        break;
      }
      undo_push_cstyle_deleted(c);
      cstyle_unlink(c);
      break;
    }
    case 3: {
      rss_feed *f = rss_feed_find(oid);
      if (!f) {
        log(LOG_ERROR, kSrc, "can't find rss feed %d to delete", oid);
        break;
      }
      undo_begin();
      undo_push_rss_feed_deleted(f);
      rss_feed_release(f);
      undo_end();
      break;
    }
    default: break;
  }
  rebuild_everywhere(l);
}

// What a dragged entry or slot carries onto a bar.
struct carried {
  wlist *wl;
  scan *sc;
  instr *in;
};
carried carried_of(int32_t id) {
  carried c{};
  const int l = toolbar_list_of_id(id);
  if (l == 0) c.wl = wlist_find(id - kToolbarWatchlistBase);
  else if (l == 1) c.sc = scan_find(id - kToolbarScanBase);
  else if (id >= kToolbarSpeedPadFirst && id < kToolbarSpeedPadFirst + kQuickSlots)
    c.in = quick9_get(id - kToolbarSpeedPadFirst);
  return c;
}

int add_to_bar(widget *bar, const carried &c, widget *before) {
  if (c.wl) return before ? watchbar_add_wlist(bar, c.wl, before) : watchbar_append_wlist(bar, c.wl);
  if (c.sc) return before ? watchbar_add_scan(bar, c.sc, before) : watchbar_append_scan(bar, c.sc);
  if (c.in) return before ? watchbar_add_instr(bar, c.in, before) : watchbar_append_instr(bar, c.in);
  return -1;
}

void drop_on_watchbar(widget *bar, int32_t id, int32_t x) {
  const carried c = carried_of(id);
  if (!c.wl && !c.sc && !c.in) return;
  undo_push_mini_quotes(bar);
  widget *q = watchbar_item_at(bar, x);
  if (q && x < q->r.x) q = nullptr;  // right of every cell
  if (!q) {
    add_to_bar(bar, c, nullptr);
    return;
  }
  const int32_t third = q->r.w / 3;
  if (x <= q->r.x + third) {
    add_to_bar(bar, c, q);
  } else if (x >= q->r.x + q->r.w - third - 1) {
    // After this cell: before the next one, whatever its width, or at the end.
    const int32_t i = watchbar_index_of(bar, q);
    add_to_bar(bar, c, watchbar_cell(bar, i + 1));
  } else if (c.wl) {
    mini_quote_set_wlist(q, c.wl);
  } else {
    add_to_bar(bar, c, q);
  }
}

void drop_on_mini(widget *q, int32_t id) {
  const carried c = carried_of(id);
  if (c.wl) mini_quote_set_wlist(q, c.wl);
  else if (c.sc) mini_quote_set_scan(q, c.sc);
  else if (c.in) mini_quote_set_instr(q, c.in);
}

void reorder(toolbar *tb, button *dragged, int32_t id, int32_t y) {
  const int l = toolbar_list_of_id(id);
  if (l < 0 || !tb->lists[l]) return;
  box *list = tb->lists[l];
  if (y < list->r.y || y >= list->r.y + list->r.h) return;
  widget *row = nullptr;
  for (box_node *n = list->first; n; n = n->next)
    if (n->child->r.y + n->child->r.h > y) {
      row = n->child;
      break;
    }
  if (!row || !object_is_a(widget_obj(row), button_type())) return;
  const int32_t to_id = static_cast<button *>(row)->id;
  if (toolbar_list_of_id(to_id) != l) return;
  const int32_t from = position_of(l, id - kListBase[l]);
  const int32_t to = position_of(l, to_id - kListBase[l]);
  if (from < 0 || to < 0 || from == to) return;
  (void)dragged;
  undo_push_list_move(kListBase[l], from, to);
  switch (l) {
    case 0: wlist_move(uint32_t(from), uint32_t(to)); break;
    case 1: scan_move(uint32_t(from), uint32_t(to)); break;
    case 2: cstyle_move(from, to); break;
    case 3: rss_feed_move(from, to); break;
  }
  rebuild_everywhere(l);
}

// Undo of the quick slots (type 28): the slot and the instrument it held.
void *slot_save(void *arg) {
  auto *a = static_cast<const undo_toolbar_entry_args *>(arg);
  return new undo_toolbar_entry_args(*a);
}
int slot_restore(void *saved, void *) {
  auto *a = static_cast<undo_toolbar_entry_args *>(saved);
  if (quick9_set(a->slot, a->old) < 0) return -1;
  screen_request_redraw();
  return 0;
}
void slot_release(void *saved, int) { delete static_cast<undo_toolbar_entry_args *>(saved); }
const undo_record_ops kSlotOps = {slot_save, slot_restore, slot_release};

// Undo of a chart style dragged onto "Remove" (type 23), while the chart
// styles register no handling of their own: the unlinked style is kept and
// linked again, or deleted once the step can no longer be undone.
void *cstyle_save(void *style) { return style; }
int cstyle_restore(void *saved, void *) {
  cstyle_register(static_cast<cstyle *>(saved));
  screen_request_redraw();
  return 0;
}
void cstyle_release(void *saved, int reason) {
  if (reason != UNDO_PERFORMED) cstyle_delete(static_cast<cstyle *>(saved));
}
const undo_record_ops kCstyleOps = {cstyle_save, cstyle_restore, cstyle_release};

int32_t speed_slot(int32_t id) {
  return id >= kToolbarSpeedPadFirst && id < kToolbarSpeedPadFirst + kQuickSlots
             ? id - kToolbarSpeedPadFirst
             : -1;
}

}  // namespace

// ---- public ----

toolbar_page toolbar_page_of(int32_t offset, int32_t count) {
  toolbar_page p{};
  p.offset = offset >= count || offset < 0 ? 0 : offset;
  if (count <= kToolbarPage) {
    p.paging_hidden = true;
    p.offset = 0;
    return p;
  }
  const int32_t first = p.offset + kToolbarPage < count ? p.offset + kToolbarPage + 1 : 1;
  const int32_t last = first + 9 < count ? first + 9 : count;
  snprintf(p.text, sizeof p.text, ">%d-%d", first, last);
  if (p.offset + kToolbarPage > count) p.spacers = p.offset + kToolbarPage - count;
  return p;
}

int toolbar_list_of_id(int32_t id) {
  if (id < kToolbarWatchlistBase || id >= kToolbarFeedBase + kToolbarRangeWidth) return -1;
  return (id - kToolbarWatchlistBase) / kToolbarRangeWidth;
}

widget *toolbar_new(widget *parent, int side) {
  if (T.type < 0)
    T.type = object_register_class("toolbar", bin_type(), sizeof(toolbar), tb_init, nullptr,
                                   sizeof(container_class), tb_class_init, nullptr);
  if (T.type < 0) return nullptr;
  if (undo_type_ops(UNDO_TOOLBAR_ENTRY) != &kSlotOps) undo_register_type(UNDO_TOOLBAR_ENTRY, &kSlotOps);
  if (!undo_type_ops(UNDO_CSTYLE_DELETED)) undo_register_type(UNDO_CSTYLE_DELETED, &kCstyleOps);
  auto *tb = static_cast<toolbar *>(widget_new(parent, T.type));
  if (!tb) return nullptr;
  tb->side = side;
  build(tb);
  for (int l = 0; l < kToolbarLists; l++) rebuild(tb, l);
  return tb;
}

void toolbar_update_undo(widget *w) {
  button *u = as_tb(w)->undo;
  if (undo_can_undo()) button_enable(u);
  else button_disable(u);
}

void toolbar_update(widget *w) {
  toolbar *tb = as_tb(w);
  tb->updates++;
  screen *s = static_cast<screen *>(tb->parent);
  const uint32_t bars = s ? s->bars : 0;
  const uint32_t bits[5] = {BAR_TOOLBAR0, BAR_TOOLBAR1, BAR_MINIBAR, BAR_TICKBAR, BAR_WATCHBAR};
  for (int i = 0; i < 5; i++) button_set_active(tb->toggles[i], (bars & bits[i]) != 0);
  for (int i = 0; i < kQuickSlots; i++) speed_text(tb, i);
  for (int l = 0; l < kToolbarLists; l++) rebuild(tb, l);
  const int mine = screen_index_of(tb);
  for (int i = 0; i < kScreens; i++) {
    button_set_active(tb->multi[i], screen_is_open(i));
    button_set_sensitive(tb->multi[i], i != mine);
  }
  const bool logo = widget_is_shown(tb) && deck_current_page(tb->bottom) == 0 &&
                    (tb->side == 1 || !(bars & BAR_TOOLBAR1));
  hider_set_hidden(tb->logo_hider, !logo);
  const bool spacer = tb->side == 1 && s && s->maximised &&
                      !(bars & (BAR_WATCHBAR | BAR_TICKBAR));
  hider_set_hidden(tb->spacer_hider, !spacer);
  toolbar_update_undo(tb);
  if (tb->options) button_set_sensitive(tb->options, ssuser_exchange_mask(kOptionsExchangeMask) != 0);
  container_cls(tb)->layout(tb);
  widget_redraw(tb);
}

void toolbar_update_logout(widget *tb) { toolbar_update(tb); }

void toolbar_open(widget *w) {
  toolbar *tb = as_tb(w);
  deck_show_page(tb->bottom, 1);
  hider_set_hidden(tb->logo_hider, 1);
}

void toolbar_close(widget *w) {
  toolbar *tb = as_tb(w);
  if (deck_current_page(tb->bottom) != 1) return;
  deck_show_page(tb->bottom, 0);
  toolbar_update(tb);
}

widget *toolbar_remove_button(widget *tb) { return tb ? as_tb(tb)->remove : nullptr; }
int32_t toolbar_updates(widget *tb) { return as_tb(tb)->updates; }

static void focus(widget *w, int sec) {
  toolbar *tb = as_tb(w);
  fbox_open_flyaway(tb->sections_box, tb->sections[sec]);
}
void toolbar_focus_1(widget *tb) { focus(tb, SEC_WATCH); }
void toolbar_focus_2(widget *tb) { focus(tb, SEC_SMART); }
void toolbar_focus_3(widget *tb) { focus(tb, SEC_CHARTS); }
void toolbar_focus_4(widget *tb) { focus(tb, SEC_RSS); }
void toolbar_rebuild_watchlists(widget *tb) { rebuild(as_tb(tb), 0); }
void toolbar_rebuild_scans(widget *tb) { rebuild(as_tb(tb), 1); }
void toolbar_rebuild_cstyles(widget *tb) { rebuild(as_tb(tb), 2); }
void toolbar_rebuild_feeds(widget *tb) { rebuild(as_tb(tb), 3); }

const char *toolbar_item_by_key(widget *tb, int i) {
  int n = 0;
  for (box_node *b = as_tb(tb)->sections_box->first; b; b = b->next, n++)
    if (n == i) return static_cast<flyaway *>(b->child)->title;
  return nullptr;
}

static flyaway *section_by_title(toolbar *tb, const char *title) {
  if (!title) return nullptr;
  for (flyaway *f : tb->sections)
    if (f && strcmp(f->title, title) == 0) return f;
  return nullptr;
}

static bool hidden(toolbar *tb, flyaway *f) {
  fbox_entry *e = fbox_entry_of(tb->sections_box, f);
  return !e || e->state == FBOX_REMOVED;
}

bool toolbar_is_tool_hidden(widget *w, const char *title) {
  toolbar *tb = as_tb(w);
  flyaway *f = section_by_title(tb, title);
  return !f || hidden(tb, f);
}

static int section_position(toolbar *tb, flyaway *f) {
  int n = 0;
  for (box_node *b = tb->sections_box->first; b; b = b->next, n++)
    if (b->child == f) return n;
  return -1;
}

void toolbar_hide_tool(widget *w, const char *title) {
  toolbar *tb = as_tb(w);
  flyaway *f = section_by_title(tb, title);
  if (!f) return;
  fbox_hide_flyaway(tb->sections_box, f);
  if (button *b = toolbar_button(tb, kToolbarHideShowBase + section_position(tb, f)))
    button_set_active(b, 0);
}

void toolbar_tool_toggle(button *b, uint32_t state, void *arg, int32_t id) {
  if (!(state & BUTTON_IN_CALLBACK)) return;
  toolbar *tb = static_cast<toolbar *>(arg);
  const int pos = id - kToolbarHideShowBase;
  flyaway *f = nullptr;
  int n = 0;
  for (box_node *nd = tb->sections_box->first; nd; nd = nd->next, n++)
    if (n == pos) f = static_cast<flyaway *>(nd->child);
  if (!f) {
    log(LOG_ERROR, kSrc, "can't find flyaway #%d to hide/unhide", pos);
    return;
  }
  if (hidden(tb, f)) fbox_show_flyaway(tb->sections_box, f, 1);
  else fbox_hide_flyaway(tb->sections_box, f);
  if (b) button_set_active(b, !hidden(tb, f));
  config_set_dirty(1);
  widget_redraw(tb);
}

void toolbar_dropped(widget *w, button *b, int32_t id, widget *target, int32_t x, int32_t y) {
  toolbar *tb = as_tb(w);
  const int l = toolbar_list_of_id(id);
  const int32_t slot = speed_slot(id);
  screen *s = screen_current();
  if (is_remover(target)) {
    if (l >= 0) {
      remove_entry(l, id - kListBase[l]);
    } else if (slot >= 0 && quick9_get(slot)) {
      undo_push_toolbar_entry(slot, quick9_get(slot));
      quick9_set(slot, nullptr);
      redraw_all();
    }
    return;
  }
  if (id == ID_HELP) return;
  if (slot >= 0 && target && object_is_a(widget_obj(target), button_type())) {
    const int32_t other = speed_slot(static_cast<button *>(target)->id);
    if (other >= 0 && static_cast<button *>(target)->callback == toolbar_on_button) {
      if (other == slot) return;
      instr *a = quick9_get(slot), *c = quick9_get(other);
      undo_begin();
      undo_push_toolbar_entry(slot, a);
      undo_push_toolbar_entry(other, c);
      undo_end();
      quick9_set(slot, c);
      quick9_set(other, a);
      redraw_all();
      return;
    }
  }
  if (window *win = window_of(target)) {
    if (l == 0 && win->role == kRoleAlerts) alerts_add_wlist(id - kToolbarWatchlistBase);
    else action_perform(win, id);
    return;
  }
  if (s && s->watchbar && inside(target, s->watchbar)) {
    drop_on_watchbar(s->watchbar, id, x);
    return;
  }
  if (s && s->minibar) {
    for (int i = 0; i < 2; i++) {
      widget *q = minibar_get_quote(s->minibar, i);
      if (q && inside(target, q)) {
        drop_on_mini(q, id);
        return;
      }
    }
  }
  reorder(tb, b, id, y);
}

void toolbar_on_button(button *b, uint32_t state, void *arg, int32_t id) {
  toolbar *tb = static_cast<toolbar *>(arg);
  if (state & BUTTON_DROPPED_ON) {
    const int32_t slot = speed_slot(id);
    if (slot < 0) return;
    instr *in = dnd_object();
    // Only instruments go into a slot; a dragged list or scan is refused.
    const uint32_t kind = dnd_kind();
    if (!in || kind == DND_SCAN || kind == DND_TOOL_ENTRY || kind == DND_NONE) return;
    undo_push_toolbar_entry(slot, quick9_get(slot));
    quick9_set(slot, in);
    redraw_all();
    return;
  }
  if (state & BUTTON_DRAGGED_OUT) {
    int win = 0;
    int32_t x = 0, y = 0;
    gui_mouse(&win, &x, &y);
    toolbar_dropped(tb, b, id, gui_drag_data(), x, y);
    return;
  }
  if (!(state & BUTTON_IN_CALLBACK)) return;
  if (id >= kToolbarPagingFirst && id < kToolbarPagingFirst + kToolbarLists) {
    const int l = id - kToolbarPagingFirst;
    tb->offset[l] += kToolbarPage;
    rebuild(tb, l);
    return;
  }
  if (id == ID_REMOVE) return;
  if (key_modifiers() & KEY_MOD_SHIFT) action_perform(nullptr, id);
  else action_perform(desktop_get_focus(screen_current_desktop()), id);
}

bool toolbar_drag_removable(widget *w) {
  if (!w || !object_is_a(widget_obj(w), button_type())) return false;
  auto *b = static_cast<button *>(w);
  if (b->callback != toolbar_on_button) return false;
  if (toolbar_list_of_id(b->id) >= 0) return true;
  const int32_t slot = speed_slot(b->id);
  return slot >= 0 && quick9_get(slot);
}

// ---- accessors ----

namespace {
struct find_id {
  int32_t id;
  button *found;
};
void find_button(widget *w, void *arg, int) {
  auto *f = static_cast<find_id *>(arg);
  if (f->found) return;
  if (object_is_a(widget_obj(w), button_type()) && static_cast<button *>(w)->id == f->id) {
    f->found = static_cast<button *>(w);
    return;
  }
  w->cls->apply_children(w, find_button, arg, 0);
}
}  // namespace

button *toolbar_button(widget *tb, int32_t id) {
  if (!tb) return nullptr;
  find_id f{id, nullptr};
  tb->cls->apply_children(tb, find_button, &f, 0);
  return f.found;
}

int32_t toolbar_offset(widget *tb, int list) {
  return list >= 0 && list < kToolbarLists ? as_tb(tb)->offset[list] : -1;
}

widget *toolbar_section(widget *tb, const char *title) { return section_by_title(as_tb(tb), title); }
widget *toolbar_list_box(widget *tb, int list) {
  return list >= 0 && list < kToolbarLists ? as_tb(tb)->lists[list] : nullptr;
}

int toolbar_list_entries(widget *tb, int list, button **out, int max) {
  widget *l = toolbar_list_box(tb, list);
  if (!l) return 0;
  int n = 0;
  for (box_node *b = static_cast<box *>(l)->first; b; b = b->next)
    if (object_is_a(widget_obj(b->child), button_type())) {
      if (n < max && out) out[n] = static_cast<button *>(b->child);
      n++;
    }
  return n;
}

int toolbar_deck_page(widget *tb) { return deck_current_page(as_tb(tb)->bottom); }
bool toolbar_logo_shown(widget *tb) { return !hider_is_hidden(as_tb(tb)->logo_hider); }
bool toolbar_spacer_shown(widget *tb) { return !hider_is_hidden(as_tb(tb)->spacer_hider); }

void toolbar_save(widget *w) {
  toolbar *tb = as_tb(w);
  auto *s = static_cast<screen *>(tb->parent);
  const uint32_t bit = tb->side ? BAR_TOOLBAR1 : BAR_TOOLBAR0;
  const int shown = s && ((s->bars | s->bars_before_zoom) & bit) ? 1 : 0;
  config_out_push("toolbar");
  config_out_push(tb->side ? "right" : "left");
  config_printf("show %b", shown);
  for (box_node *b = tb->sections_box->first; b; b = b->next) {
    auto *f = static_cast<flyaway *>(b->child);
    if (hidden(tb, f)) config_printf("hide_tool %s", f->title);
  }
  config_out_pop();
  config_out_pop();
}

int toolbar_load(widget *w) {
  toolbar *tb = as_tb(w);
  if (!config_enter("toolbar")) return -1;
  int shown = -1;
  if (config_enter(tb->side ? "right" : "left")) {
    shown = config_get_bool("show");
    if (config_enter("hide_tool")) {
      while (config_next())
        if (const char *t = config_arg_string(0)) toolbar_hide_tool(tb, t);
      config_leave();
    }
    config_leave();
  }
  config_leave();
  const int n = screen_index_of(tb);
  if (shown >= 0 && n >= 0) {
    screen_force_context(n);
    if (shown) screen_show_toolbar(tb->side);
    else screen_hide_toolbar(tb->side);
    screen_pop();
  }
  return shown;
}
