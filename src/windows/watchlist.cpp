// The instrument grid. Rows follow the bound scan: scan events insert, move
// and remove single rows (found by instrument, never trusted by index), and
// market notifications refresh one row, flashing its changed cells through
// colour fades. The design point a reader needs first: a row keeps its texts
// laid out in a drawing list, one segment per colour group, and lays them
// out again only when its instrument changed or the columns moved; a frame
// then costs a few fills and one list draw per row, whatever flashes run.
//
// Slots: geometry_changed, reqsize, draw, restyle, show_children,
// hide_children, drag_begin, drag_release, drop, release, motion, leave.
#include "windows/watchlist.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "action.h"
#include "dalloc.h"
#include "dnd.h"
#include "export/clipboard.h"
#include "lib/filter.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/glapi.h"
#include "lib/tex.h"
#include "lib/scan.h"
#include "lib/timer.h"
#include "lib/wlist.h"
#include "log.h"
#include "plat.h"
#include "popups/hover.h"
#include "popups/place.h"
#include "popups/popups.h"
#include "screen/screen.h"
#include "sscodes.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "ssstate.h"
#include "sstrack.h"
#include "style.h"
#include "ui/gui.h"
#include "ui/key.h"
#include "undo.h"
#include "windows/window.h"

namespace {

const char kSrc[] = "src/windows/watchlist.c";

constexpr uint32_t kNoPrice = 0xFFFFFFFFu;
constexpr uint32_t kAllEvents = 0xFFFFFFFFu;
constexpr uint32_t kNewsSensitive = 0x100000;  // issuer news flags
constexpr uint32_t kNewsAny = 0x1c0000;
constexpr float kFlashSeconds = 1.5f;
constexpr int kColourGroups = 7;
constexpr uint32_t kShowEverywhere = 0x4;  // the modifier that shows a pick in every window

// Width codes of the 37 columns, 0-terminated.
const int32_t kWidths[kWatchColumns + 1] = {
    1000012, 1000004, 1000007, 4, 7, 10, 7, 11, 7, 11, 8, 7, 8, 13, 14, 6, 7, 7, 7,
    8,       6,       7,       -41, 7, 7, 9, 7, 8, 7, 8, 2000025, 10, 4, 8, 8, 8, 8, 0};

const char *const kTitles[kWatchColumns] = {
    "Company", "Code", "Code", "Type", "Strike Price", "Expiry Date", "Bid", "Bid Volume", "Ask",
    "Ask Volume", "Last", "Change", "% Change", "Volume", "Turnover", "Volume", "Turnover", "Rel Vol",
    "Rel Vol Diff", "% Rel Vol Diff", "Open Interest", "Contract Size", nullptr, "Market Cap", nullptr,
    "Trades", "Time Last Trade", "Last @ %s", "Change", "% Change", "Name", "Quote Bases", "State",
    "Prev Close", "First", "Low", "High"};

// Descriptions: stock row text, index row text (null: the same).
const char *const kDescribe[kWatchColumns][2] = {
    {"Short Company Name", "Short Index Name"}, {"Code", "Index Code"}, {"Code", "Index Code"},
    {"Type", nullptr}, {"Strike Price", nullptr}, {"Expiry Date", nullptr}, {"Top Bid", nullptr},
    {"Total Volume at Top Bid Price", nullptr}, {"Top Offer", nullptr},
    {"Total Volume at Top Offer Price", nullptr}, {"Last Traded Price", "Last Index Value"},
    {"Change", nullptr}, {"Percent Change", nullptr}, {"Total Volume", nullptr}, {"Total Turnover", nullptr},
    {"Total Volume", nullptr}, {"Total Turnover", nullptr}, {nullptr, nullptr}, {nullptr, nullptr},
    {nullptr, nullptr}, {"Open Interest", nullptr}, {"Contract Size", nullptr},
    {"Trend of last 10 trades", "Trend of last 10 values"}, {"Market Capitalisation", nullptr},
    {"Volume Weighted Average Price", nullptr}, {"Number of Trades", nullptr},
    {"Time of Last Trade today", "Time of Last Value"}, {"Last Price at", "Last Value at"},
    {"Change since", nullptr}, {"Percent Change since", nullptr}, {"Stock Name", "Index Name"},
    {"Quote Bases", nullptr}, {"State, if different from Market", nullptr},
    {"Previous Close", "Previous Closing Index Value"}, {"First Traded Price Today", "First Index Value Today"},
    {"Lowest Traded Price Today", "Lowest Index Value Today"},
    {"Highest Traded Price Today", "Highest Index Value Today"}};

constexpr uint64_t B(int k) { return 1ull << k; }
constexpr uint64_t R(int a, int b) {
  uint64_t m = 0;
  for (int k = a; k <= b; k++) m |= B(k);
  return m;
}
constexpr uint64_t D(uint64_t m) { return kColsNarrow | m; }

// Column-set lists per mode: the widest set, then drop (narrowing) and set
// steps, 0-terminated.
const uint64_t kSets0[] = {
    B(0) | B(2) | B(6) | B(8) | R(10, 14) | R(17, 19) | R(22, 36),
    D(B(30)), D(B(32)), D(B(31)), D(B(25)), D(B(23)), D(B(26)), D(B(0)), D(B(33)), D(B(34)), D(B(19)),
    D(B(18)), D(B(17)), D(B(24)), D(B(35) | B(36)),
    B(2) | B(6) | B(8) | R(10, 14) | B(22) | B(23),
    B(2) | B(6) | B(8) | R(10, 12) | B(15) | B(16) | B(22) | B(23),
    D(B(23)), D(B(16)), D(B(12)), D(B(22)), D(B(15)), D(B(11)),
    B(1) | R(10, 12),
    D(B(12)), D(B(11)), D(B(10)), 0};
const uint64_t kSets1[] = {
    B(0) | B(2) | B(6) | B(8) | R(10, 14) | R(22, 26) | R(33, 36),
    D(B(25)), D(B(23)), D(B(0)), D(B(26)), D(B(33)), D(B(34)), D(B(24)), D(B(35) | B(36)),
    B(2) | B(6) | B(8) | R(10, 14) | B(22) | B(23),
    B(2) | B(6) | B(8) | R(10, 12) | B(15) | B(16) | B(22) | B(23),
    D(B(23)),
    B(1) | B(6) | B(8) | R(10, 12) | B(15) | B(16) | B(22),
    D(B(22)), D(B(6) | B(8)), D(B(16)), D(B(12)), D(B(15)), D(B(11)), D(B(10)), 0};
const uint64_t kSets2[] = {
    B(2) | B(6) | B(8) | R(10, 12) | B(15) | B(22),
    D(B(22)), D(B(12)), D(B(15)),
    B(2) | R(10, 12),
    D(B(12)),
    B(1) | B(10) | B(12),
    D(B(12)), D(B(10)), 0};
const uint64_t kSets3[] = {
    B(0) | B(2) | R(10, 12) | B(22) | B(26) | B(30) | R(33, 36),
    D(B(30)), D(B(33)), D(B(34)), D(B(26)), D(B(12)), D(B(0)), D(B(22)), D(B(36)), D(B(35)), D(B(11)),
    D(B(10)), 0};
const uint64_t kSets4[] = {
    B(0) | B(2) | R(10, 12) | R(30, 32),
    D(B(31)), D(B(32)), D(B(12)), D(B(11)), D(B(10)), D(B(30)), D(B(0)), 0};
const uint64_t kSets5[] = {
    B(0) | R(2, 6) | B(8) | R(10, 12) | B(15) | R(20, 22) | R(24, 30) | R(32, 36),
    D(B(31)), D(B(30)), D(B(32)), D(B(25)), D(B(26)), D(B(0)), D(B(33)), D(B(34)), D(B(24)),
    D(B(35) | B(36)),
    R(2, 6) | B(8) | R(10, 12) | B(15) | R(20, 22),
    D(B(12)), D(B(22)), D(B(21)), D(B(20)), D(B(3)), D(B(4)), D(B(5)), D(B(15)), D(B(11)),
    B(1) | R(10, 12),
    D(B(12)), D(B(11)), D(B(10)), 0};
const uint64_t *const kSets[kWatchModes] = {kSets0, kSets1, kSets2, kSets3, kSets4, kSets5};

constexpr uint64_t kTrackCols = R(27, 29);
constexpr uint64_t kRelVolCols = R(17, 19);
constexpr uint64_t kIndexQuoteBarHidden = R(6, 9) | R(13, 16) | R(23, 25) | B(31);
constexpr uint64_t kBandCols = R(13, 16) | B(22);
constexpr uint64_t kNumberCols = R(4, 29) | R(33, 36);
constexpr uint64_t kTimeCols = B(5) | B(26);

// What each fade cell rests at, by style colour code.
const int kRestColour[kWatchCells] = {93, 93, 93, 111, 93, 0, 82, 83, 61, 61, 93, 93, 83, 82};

struct flash_def {
  int code;
  int from;  // style colour the flash starts at (0: white)
  int to;    // style colour it fades back to (0: transparent)
};
const flash_def kFlashes[] = {
    {129, 73, 93},  {130, 73, 111}, {133, 76, 93}, {135, 77, 93}, {137, 73, 0},
    {138, 0, 82},   {139, 0, 83},   {140, 0, 82},  {141, 0, 83},  {142, 76, 93},
    {143, 77, 93},  {144, 0, 82},   {145, 0, 83}};

struct state {
  // The grid a drag began in: a held instrument moves only within it.
  watchlist *drag_from;
};
state S = {nullptr};

int default_exchange() {
  uint32_t ex = action_default_exchange();
  return ex < static_cast<uint32_t>(kExchanges) ? static_cast<int>(ex) : 0;
}

void scan_event(scan *s, int event, int32_t index, instr *in, void *owner, void *arg, uint32_t n);
void instr_changed(const ss_change *change, void *owner, uint64_t argument, uint32_t flags);
void reposition(watchlist *w);

bool is_stock(const instr *in) { return in && in->kind == kKindStock; }
bool is_index(const instr *in) { return in && in->kind == kKindIndex; }
const ss_stock *as_stock(const instr *in) { return is_stock(in) ? static_cast<const ss_stock *>(in) : nullptr; }
const ss_index *as_index(const instr *in) { return is_index(in) ? static_cast<const ss_index *>(in) : nullptr; }

uint32_t colour_of(int code) {
  const style *st = style_cur();
  if (code == 0) return 0;
  if (!st || code < kStyleFirstColour || code >= kStyleFirstColour + kStyleColours) return 0xffffffffu;
  return style_colour(st, code) | 0xff000000u;
}

const flash_def *flash_find(int code) {
  for (const flash_def &f : kFlashes)
    if (f.code == code) return &f;
  return nullptr;
}

// The style colour a fade cell rests at (or was set to).
void set_cell(watchlist_row *r, int cell, int code) {
  fade_set(&r->fade[cell], static_cast<int32_t>(colour_of(code)));
  r->code[cell] = static_cast<uint16_t>(code);
}

void flash_cell(watchlist *w, watchlist_row *r, int cell, int code) {
  const flash_def *f = flash_find(code);
  if (!f) return;
  uint32_t from = f->from ? colour_of(f->from) : 0xffffffffu;
  uint32_t to = f->to ? colour_of(f->to) : 0x00000000u;
  int32_t ramp = fade_colour_ramp(from, to, kFlashSeconds);
  r->code[cell] = static_cast<uint16_t>(code);
  if (ramp < 0 || fade_start(&r->fade[cell], FADE_TABLE, ramp, &w->fades, r, static_cast<uint32_t>(cell),
                             kFlashSeconds) < 0)
    set_cell(r, cell, f->to);
}

int sign_code(int64_t v) { return v > 0 ? 82 : v < 0 ? 83 : 61; }

// Value of track 0 for a row's instrument (0 when none).
uint32_t track_value(const watchlist *w, const instr *in) {
  if (!w->sc || !scan_track_set(w->sc, 0)) return 0;
  if (const ss_stock *s = as_stock(in)) return scan_track_value(w->sc, 0, s);
  if (const ss_index *x = as_index(in)) return scan_track_value_index(w->sc, 0, x);
  return 0;
}

uint32_t current_value(const instr *in) {
  if (const ss_stock *s = as_stock(in)) return s->last == kNoPrice ? 0 : s->last;
  if (const ss_index *x = as_index(in)) return x->value;
  return 0;
}

int64_t since_change(const watchlist *w, const instr *in) {
  uint32_t ref = track_value(w, in), now = current_value(in);
  if (!ref || ref == kNoPrice || !now) return 0;
  return static_cast<int64_t>(now) - static_cast<int64_t>(ref);
}

int32_t change_of(const instr *in) {
  if (const ss_stock *s = as_stock(in)) return s->disp_change ? s->disp_change : s->change;
  if (const ss_index *x = as_index(in)) return x->change;
  return 0;
}

uint32_t price_or_zero(uint32_t v) { return v == kNoPrice ? 0 : v; }

// A signed change in price units as "+12.34" / "-0.05" (plain digits: the
// same text goes to the clipboard).
const char *change_text(int64_t v, char *out) {
  uint64_t m = v < 0 ? static_cast<uint64_t>(-v) : static_cast<uint64_t>(v);
  snprintf(out, 96, "%c%llu.%02llu", v < 0 ? '-' : '+', static_cast<unsigned long long>(m / 100),
           static_cast<unsigned long long>(m % 100));
  return out;
}

void take_snapshot(watchlist_row *r) {
  if (const ss_stock *s = as_stock(r->in)) {
    r->bid = price_or_zero(s->bid);
    r->offer = price_or_zero(s->offer);
    r->last = price_or_zero(s->last);
    r->high = price_or_zero(s->high);
    r->low = price_or_zero(s->low);
    r->volume = s->volume;
  } else if (const ss_index *x = as_index(r->in)) {
    r->last = x->value;
    r->high = x->high;
    r->low = x->low;
  }
}

window *find_window(const widget *w) {
  for (widget *p = w ? w->parent : nullptr; p; p = p->parent)
    if (window_is(p)) return static_cast<window *>(p);
  return nullptr;
}

// The enclosing window for a scan event, logged when missing.
window *event_window(watchlist *w) {
  window *win = find_window(w);
  if (!win) {
    widget *p = w->mode == 0 ? w->parent : (w->parent ? w->parent->parent : nullptr);
    if (p)
      log(LOG_ERROR, kSrc, "WINDOW: %s", object_type_name(widget_obj(p)));
    else
      log(LOG_ERROR, kSrc, "WINDOW: null");
  }
  return win;
}

int32_t scroll_of(const watchlist *w) {
  if (w->mode == 1 || w->mode == 2) return 0;
  window *win = find_window(w);
  return win ? static_cast<int32_t>(window_get_selection(win)) : 0;
}

bool shown(const watchlist *w) { return w->flags & WIDGET_SHOWN; }

void mark_all(watchlist *w) {
  w->full = 2;
  widget_redraw(w);
}

void tell_scroll_range(watchlist *w, window *win) {
  if (!win || !w->sc) return;
  int32_t range = scan_shown_count(w->sc) - w->visible;
  window_set_row_count(win, range < 0 ? 0 : range);
}

watchlist_row *row_alloc() {
  auto *r = static_cast<watchlist_row *>(dalloc_alloc(sizeof(watchlist_row)));
  if (!r) return nullptr;
  memset(r, 0, sizeof *r);
  gmap_setup(&r->texts, GMAP_QUADS, 400, kColourGroups);
  return r;
}

void row_free(watchlist *w, watchlist_row *r) {
  for (fade_value &f : r->fade) fade_stop(&f);
  if (r->in) ssnotify_remove(r->in, w);
  gmap_release(&r->texts);
  dalloc_free(r);
}

void start_colours(watchlist *w, watchlist_row *r) {
  for (int c = 0; c < kWatchCells; c++) set_cell(r, c, kRestColour[c]);
  set_cell(r, WC_CHANGE_TEXT, sign_code(change_of(r->in)));
  set_cell(r, WC_SINCE_TEXT, sign_code(since_change(w, r->in)));
}

void unlink_row(watchlist *w, watchlist_row *r) {
  watchlist_row **pp = &w->rows;
  watchlist_row *prev = nullptr;
  while (*pp && *pp != r) {
    prev = *pp;
    pp = &(*pp)->next;
  }
  if (!*pp) return;
  *pp = r->next;
  if (w->first_shown == r) w->first_shown = r->next ? r->next : prev;
  if (w->current == r) w->current = r->next ? r->next : w->rows;
  w->count--;
}

void insert_row(watchlist *w, watchlist_row *r, int32_t position) {
  if (position == -1 || !w->rows) {
    if (position == -1) {
      watchlist_row **pp = &w->rows;
      while (*pp) pp = &(*pp)->next;
      *pp = r;
      r->next = nullptr;
    } else {
      r->next = w->rows;
      w->rows = r;
    }
  } else if (position < 1) {
    r->next = w->rows;
    w->rows = r;
  } else {
    watchlist_row *after = w->rows;
    for (int32_t i = 1; i < position && after->next; i++) after = after->next;
    r->next = after->next;
    after->next = r;
  }
  w->count++;
  if (!w->first_shown) w->first_shown = w->rows;
  if (!w->current) w->current = w->rows;
}

// Hidden columns, the column fit in the widget's width and the row count
// that fits.
void layout_columns(watchlist *w) {
  w->hidden = watchlist_hidden_columns(w);
  cols_set_hidden(&w->columns, w->hidden);
  const style *st = style_cur();
  int32_t font = st ? st->font[0] : 4;
  cols_fit(&w->columns, w->r.x, w->r.w, font);
  for (watchlist_row *r = w->rows; r; r = r->next) r->stale = 1;
}

int32_t row_height() {
  const style *st = style_cur();
  return st && st->line_height > 0 ? st->line_height : 16;
}

void stop_timer(watchlist *w) {
  if (w->timer >= 0) timer_stop(w->timer);
  w->timer = -1;
}

int frame_tick(void *arg, uint32_t, int64_t, float) {
  auto *w = static_cast<watchlist *>(arg);
  int64_t now = plat_ms();
  // While flashes run, and once more after the last ends (its final colour).
  if (w->fades.running || w->was_fading) widget_redraw(w);
  w->was_fading = w->fades.running != 0;
  if (w->mode == 2 && w->count >= 2 && now - w->last_rotate >= kWatchRotateMs) {
    w->last_rotate = now;
    w->current = w->current && w->current->next ? w->current->next : w->rows;
    mark_all(w);
  }
  if ((w->columns.shown & ~w->hidden & kRelVolCols) && now - w->last_relvol >= kWatchRelVolMs) {
    w->last_relvol = now;
    w->relvol_all = 1;
    for (watchlist_row *r = w->rows; r; r = r->next) r->stale = 1;
    mark_all(w);
  }
  // The window's scrollable rows follow the grid's: a window that set its
  // count aside (a role, instrument or exchange change) between the grid's
  // own tells has it back within a frame. Telling an unchanged count costs
  // a comparison.
  if (w->sc) tell_scroll_range(w, find_window(w));
  return 1;  // keep running until the grid hides
}

void fade_done(fade_value *, void *arg, uint32_t number) {
  auto *r = static_cast<watchlist_row *>(arg);
  if (number < kWatchCells) {
    const flash_def *f = flash_find(r->code[number]);
    if (f) r->code[number] = static_cast<uint16_t>(f->to);
  }
  r->draw = 2;  // the final colour goes to both buffers
}

bool row_fading(const watchlist_row *r) {
  for (const fade_value &f : r->fade)
    if (f.state) return true;
  return false;
}

// Class --------------------------------------------------------------------

void wl_init(object *o) {
  auto *w = reinterpret_cast<watchlist *>(o);
  w->timer = -1;
  w->hover_row = -1;
  w->row_h = row_height();
  fade_owner_add(&w->fades, fade_done);
}

void wl_fini(object *o) {
  auto *w = reinterpret_cast<watchlist *>(o);
  if (w->sc) scan_unwatch(w->sc, w);
  w->sc = nullptr;
  watchlist_clear_rows(w);
  ssnotify_remove_wild(w);
  fade_stop_owner(&w->fades);
  fade_owner_remove(&w->fades);
  cols_fini(&w->columns);
  stop_timer(w);
  if (S.drag_from == w) S.drag_from = nullptr;
}

void wl_geometry_changed(widget *self) {
  auto *w = static_cast<watchlist *>(self);
  w->row_h = row_height();
  int32_t visible = w->row_h > 0 ? w->r.h / w->row_h : 0;
  layout_columns(w);
  bool changed = visible != w->visible;
  w->visible = visible;
  if (changed && shown(w) && w->sc) watchlist_rows_changed(w);
  watchlist_update_limit(w);
  reposition(w);
  mark_all(w);
  // The rows the window may scroll through follow the rows that fit.
  if (shown(w)) tell_scroll_range(w, find_window(w));
}

void wl_reqsize(widget *self, size *out) {
  auto *w = static_cast<watchlist *>(self);
  int32_t h = w->row_h + 1;
  if (w->sc && w->mode != 1 && scan_count() >= 2) h = (w->row_h + 1) * scan_count();
  *out = {0, h};
}

void wl_restyle(widget *self) {
  auto *w = static_cast<watchlist *>(self);
  w->restyled++;
  if (!shown(w)) return;
  w->row_h = row_height();
  w->first_shown = watchlist_row_at(w, scroll_of(w));
  if (!w->first_shown) w->first_shown = w->rows;
  layout_columns(w);
  watchlist_update_limit(w);
  reposition(w);
  mark_all(w);
}

void wl_show(widget *self) {
  auto *w = static_cast<watchlist *>(self);
  w->flags |= WIDGET_SHOWN;  // the subtree helpers set it after this
  w->row_h = row_height();
  w->visible = w->row_h > 0 ? w->r.h / w->row_h : 0;
  layout_columns(w);
  if (w->timer < 0) w->timer = timer_start(0, frame_tick, w, 0);
  w->last_rotate = w->last_relvol = plat_ms();
  if (w->sc) {
    scan_track_resolve(w->sc);
    scan_watch_enable(w->sc, w);
    scan_refresh_now(w->sc);
    watchlist_rows_changed(w);
  } else {
    for (watchlist_row *r = w->rows; r; r = r->next) take_snapshot(r);
  }
  watchlist_update_limit(w);
  mark_all(w);
  // A grid shown after its rows and height were set tells its window the
  // rows it may scroll through here: nothing else may tell it again.
  tell_scroll_range(w, find_window(w));
}

void wl_hide(widget *self) {
  auto *w = static_cast<watchlist *>(self);
  if (w->sc) {
    scan_watch_disable(w->sc, w);
    scan_release_tracks(w->sc);
  }
  stop_timer(w);
}

// Drawing ------------------------------------------------------------------

struct draw_ctx {
  const style *st;
  int32_t font, value_font;
  uint32_t bg, band, text;
};

// Colour group of a column's text.
int text_group(int k) {
  switch (k) {
    case 6: return 1;
    case 8: return 2;
    case 11: return 3;
    case 28: case 29: return 4;
    case 35: return 5;
    case 36: return 6;
    default: return 0;
  }
}
const int kGroupCell[kColourGroups] = {-1, WC_BID_TEXT, WC_OFFER_TEXT, WC_CHANGE_TEXT, WC_SINCE_TEXT,
                                        WC_LOW_TEXT, WC_HIGH_TEXT};

// Lays a row's texts out at y 0, grouped by colour.
void lay_out_row(watchlist *w, watchlist_row *r, const draw_ctx &c) {
  uint64_t shown_cols = w->columns.shown;
  gmap_begin(&r->texts, 64);
  int32_t cy = w->row_h / 2;
  char buf[128];
  for (int g = 0; g < kColourGroups; g++) {
    for (int k = 0; k < w->columns.count; k++) {
      if (!(shown_cols >> k & 1) || text_group(k) != g || k == 22) continue;
      const cols_col &col = w->columns.col[k];
      if (col.width <= 2) continue;
      const char *t = watchlist_cell_text(w, r, k, buf);
      if (!*t) continue;
      // Figures and times in the value font, whose small digits draw the
      // formatters' cents and tenths; words in the row font. A text is
      // shortened from its end (the long name so by design), a figure that
      // does not fit shows marks: no cell reaches past its column.
      const bool number = (kNumberCols >> k & 1) != 0, time = (kTimeCols >> k & 1) != 0;
      const int32_t font = number ? c.value_font : c.font;
      uint32_t flags = 0x40;
      int32_t x = col.x0 + 2;
      if (time) {
        flags |= 2;
        x = (col.x0 + col.x1) / 2;
      } else if (number) {
        flags |= 1;
        x = col.x1 - 3;
      }
      t = cols_cell_text(t, font, col.width - 4, number);
      font_layout(&r->texts, t, x, cy, flags, font, nullptr);
    }
    if (g + 1 < kColourGroups) gmap_mark(&r->texts);
  }
  gmap_end(&r->texts);
  r->stale = 0;
  r->laid_cols = shown_cols;
  r->laid_w = w->r.w;
  w->rebuilds++;
}

// Fills of many rows go into one open primitive (a colour per quad), the
// texts of one colour group of many rows into another: a frame costs a
// handful of primitives however many rows it draws.
void fills_begin() {
  gfx_end();
  gfx_untexture();
  gfx_begin(GL_QUADS);
}

void fill(int32_t x, int32_t y, int32_t wd, int32_t h, uint32_t c) {
  if (wd <= 0 || h <= 0) return;
  gfx_colour(c);
  gl->Vertex2i(x, y);
  gl->Vertex2i(x, y + h);
  gl->Vertex2i(x + wd, y + h);
  gl->Vertex2i(x + wd, y);
}

void fill_alpha(int32_t x, int32_t y, int32_t wd, int32_t h, uint32_t c, uint32_t alpha) {
  fill(x, y, wd, h, (c & 0x00ffffffu) | (alpha << 24));
}

void draw_cell_bg(watchlist *w, watchlist_row *r, int k, int cell, int32_t y) {
  if (!(w->columns.shown >> k & 1) || !r->fade[cell].state) return;
  const cols_col &col = w->columns.col[k];
  fill(col.x0, y, col.width, w->row_h, r->fade[cell].shown.c | 0xff000000u);
}

void draw_trend(watchlist *w, watchlist_row *r, int32_t y, const draw_ctx &c) {
  if (!(w->columns.shown >> 22 & 1)) return;
  const cols_col &col = w->columns.col[22];
  uint32_t vals[10];
  int n = 0;
  if (const ss_stock *s = as_stock(r->in)) {
    for (const ss_trade *t = s->trades.tail; t && n < 10; t = t->prev) vals[n++] = t->price;
  } else if (const ss_index *x = as_index(r->in)) {
    for (const ss_tick *t = x->ticks.tail; t && n < 10; t = t->prev) vals[n++] = t->value;
  }
  if (n < 2) return;
  uint32_t lo = *std::min_element(vals, vals + n), hi = *std::max_element(vals, vals + n);
  int32_t h = w->row_h - 4;
  uint32_t colour = r->fade[WC_TREND].state ? r->fade[WC_TREND].shown.c : c.text;
  gfx_begin_lines(colour | 0xff000000u);
  for (int i = n - 1; i > 0; i--) {
    auto py = [&](uint32_t v) { return y + 2 + (hi > lo ? static_cast<int32_t>((hi - v) * int64_t(h) / (hi - lo)) : h / 2); };
    int32_t x0 = col.x0 + 2 + (n - 1 - i) * (col.width - 4) / (n - 1);
    int32_t x1 = col.x0 + 2 + (n - i) * (col.width - 4) / (n - 1);
    gfx_line(x0, py(vals[i]), x1, py(vals[i - 1]));
  }
  gfx_end_lines();
}

bool auction_shaded(const instr *in) {
  const ss_stock *s = as_stock(in);
  if (!s || !s->exchange) return false;
  bool traded_today = s->last && s->last != kNoPrice && s->last_trade_time &&
                      sstime_day_number(s->last_trade_time) == sstime_day_number(s->exchange->date);
  return !traded_today && (s->auction.price || s->auction.matched);
}

int32_t style_field(const style *st, int field) { return reinterpret_cast<const int32_t *>(st)[field]; }

// The style field of a stock's issuer news marker (0: none).
int news_marker_field(const watchlist_row *r) {
  if (!r->issuer) return 0;
  uint32_t f = r->issuer->flags;
  if (f & kInNewsFlag1) return 278;
  if (f & kInNewsFlag4) return 279;
  if (f & kInNewsPlain) return 280;
  return 0;
}

// At the right end of the wide code column: the issuer's news marker, and
// the exchange's picture for an instrument away from the default exchange.
void draw_code_marks(watchlist *w, watchlist_row *r, int32_t y, const draw_ctx &c) {
  if (!c.st || !(w->columns.shown >> 2 & 1)) return;
  const cols_col &col = w->columns.col[2];
  int32_t size[2] = {0, 0};
  int marker = w->mode == 5 ? 0 : news_marker_field(r);
  if (marker) {
    int32_t image = style_field(c.st, marker);
    tex_size(size, image);
    gfx_colour(0xffffffffu);
    tex_draw(image, col.x1 - size[0] - 1, y + (w->row_h - size[1]) / 2, size[0], size[1]);
  }
  if (!r->in->exchange) return;
  int ex = static_cast<int>(r->in->exchange->index);
  int home = default_exchange() == 3 ? 0 : default_exchange();
  if ((ex == 3 ? 0 : ex) == home) return;
  int32_t image = style_field(c.st, 282 + ex);
  tex_size(size, image);
  gfx_colour((100u << 24) | 0xffffffu);
  tex_draw(image, col.x1 - (marker ? 20 : 11) - size[0] / 2, y + (w->row_h - size[1]) / 2, size[0], size[1]);
}

// The fills of one row (inside fills_begin): row, bands, flashing cells,
// auction shading and the day-range bar.
void draw_row_fills(watchlist *w, watchlist_row *r, int32_t y, const draw_ctx &c) {
  int32_t x = w->r.x, wd = w->r.w, h = w->row_h;
  uint32_t row_c = r->fade[WC_ROW].state ? r->fade[WC_ROW].shown.c | 0xff000000u : c.bg;
  bool watched = w->sc && !w->sc->source && w->mode != 1 && action_hilight_watched() && (r->in->flags & kInHeld);
  if (watched) row_c = colour_of(SC_WATCHED);
  fill(x, y, wd, h, row_c);
  for (int k = 0; k < w->columns.count; k++) {
    if (!(w->columns.shown >> k & 1) || !(kBandCols >> k & 1)) continue;
    const cols_col &col = w->columns.col[k];
    uint32_t band = (k == 13 || k == 15) && r->fade[WC_VOLUME_BG].state ? r->fade[WC_VOLUME_BG].shown.c | 0xff000000u
                                                                        : c.band;
    fill(col.x0, y, col.width, h, band);
  }
  draw_cell_bg(w, r, 6, WC_BID_BG, y);
  draw_cell_bg(w, r, 8, WC_OFFER_BG, y);
  draw_cell_bg(w, r, 10, WC_LAST_BG, y);
  draw_cell_bg(w, r, 35, WC_LOW_BG, y);
  draw_cell_bg(w, r, 36, WC_HIGH_BG, y);
  if (!(w->columns.shown >> 10 & 1)) return;
  const cols_col &col = w->columns.col[10];
  if (auction_shaded(r->in)) {
    int32_t x1 = col.x1;
    for (int k = 11; k <= 16; k++)
      if (w->columns.shown >> k & 1) x1 = w->columns.col[k].x1;
    fill(col.x0, y, x1 - col.x0, h, colour_of(SC_AUCTION));
  }
}

// The day-range bar behind the Last column: translucent, so drawn in a
// pass of its own with blending on.
void draw_range_bar(watchlist *w, watchlist_row *r, int32_t y) {
  if (!(w->columns.shown >> 10 & 1)) return;
  const cols_col &col = w->columns.col[10];
  int32_t h = w->row_h;
  uint32_t v = current_value(r->in), lo = 0, hi = 0;
  if (const ss_stock *s = as_stock(r->in)) {
    lo = price_or_zero(s->low);
    hi = price_or_zero(s->high);
  } else if (const ss_index *ix = as_index(r->in)) {
    lo = ix->low;
    hi = ix->high;
  }
  if (!v || hi <= lo) return;
  uint32_t up = colour_of(SC_UP), down = colour_of(SC_DOWN);
  int32_t split = v <= lo ? 0 : v >= hi ? col.width : static_cast<int32_t>(int64_t(v - lo) * col.width / (hi - lo));
  fill_alpha(col.x0, y + 1, split, h - 2, up, 0x28);
  fill_alpha(col.x0 + split, y + 1, col.width - split, h - 2, down, 0x28);
}

struct drawn_row {
  watchlist_row *r;
  int32_t y;
};

// Draws the given rows in passes: fills, trends, code marks, then the texts
// colour group by colour group.
void draw_rows(watchlist *w, const drawn_row *rows, int n, const draw_ctx &c) {
  if (n == 0) return;
  // The row fills are opaque: blending off spares the rasteriser reading
  // the buffer back for every pixel of them.
  // Blending is switched outside the primitive: GL refuses state changes
  // between Begin and End (and drops them with an error).
  gfx_end();
  gl->Disable(GL_BLEND);
  fills_begin();
  for (int i = 0; i < n; i++) draw_row_fills(w, rows[i].r, rows[i].y, c);
  gfx_end();
  gl->Enable(GL_BLEND);
  fills_begin();
  for (int i = 0; i < n; i++) draw_range_bar(w, rows[i].r, rows[i].y);
  gfx_end();
  fills_begin();  // the trend bars are translucent quads too
  for (int i = 0; i < n; i++) draw_trend(w, rows[i].r, rows[i].y, c);
  gfx_end();
  for (int i = 0; i < n; i++) draw_code_marks(w, rows[i].r, rows[i].y, c);
  for (int i = 0; i < n; i++) {
    watchlist_row *r = rows[i].r;
    if (r->stale || r->laid_cols != w->columns.shown || r->laid_w != w->r.w) lay_out_row(w, r, c);
  }
  for (int g = 0; g < kColourGroups; g++) {
    for (int i = 0; i < n; i++) {
      watchlist_row *r = rows[i].r;
      gfx_colour(g == 0 ? c.text : r->fade[kGroupCell[g]].shown.c | 0xff000000u);
      gmap_draw_segment_at(&r->texts, g, 0, rows[i].y);
    }
  }
  gfx_end();
  w->row_draws += static_cast<uint32_t>(n);
}

// Whether an ancestor is being drawn in this pass (its queued redraw is
// still marked): it has painted over the grid, which must then draw whole.
bool ancestor_drawing(const widget *w) {
  for (const widget *p = w->parent; p; p = p->parent)
    if (p->flags & WIDGET_DIRTY) return true;
  return false;
}

// A full draw paints the background and every row in view; otherwise only
// the rows marked for drawing (or fading) are painted over what the kept
// back buffer holds. The gui draws every queued redraw into both buffers
// in turn, so a mark lasts two draws. A window that does not keep its back
// buffer (the gui then redraws it whole) always gets the full draw, and so
// does a grid whose parent is being drawn.
void wl_draw(widget *self) {
  const window_frame_guard frame(self);  // the window's edges, painted over, come back
  auto *w = static_cast<watchlist *>(self);
  draw_ctx c{};
  c.st = style_cur();
  c.font = c.st ? c.st->font[0] : 4;
  c.value_font = c.st ? c.st->font[1] : 5;
  c.bg = colour_of(SC_GRID_BACKGROUND);
  c.band = colour_of(SC_BAND);
  c.text = colour_of(SC_TEXT);
  const rect &r = self->r;
  gui_win *gw = gui_window_of_widget(self);
  bool full = w->full > 0 || w->relvol_all || w->mode == 2 || ancestor_drawing(self) ||
              (gw && (gw->full_redraw || !gw->plat.back_kept));
  if (full) {
    gfx_fill_rect(r.x, r.y, r.w, r.h, c.bg);
    for (int k = 0; k < w->columns.count; k++) {
      if (!(w->columns.shown >> k & 1) || !(kBandCols >> k & 1)) continue;
      gfx_fill_rect(w->columns.col[k].x0, r.y, w->columns.col[k].width, r.h, c.band);
    }
  }
  rect clip, old;
  clip = r;
  gfx_set_clip(&clip, &old);
  static std::vector<drawn_row> list;  // main thread only; kept to spare allocations
  list.clear();
  if (w->mode == 2) {
    if (w->current) list.push_back({w->current, r.y});
  } else {
    int32_t i = 0, scroll = scroll_of(w);
    for (watchlist_row *row = w->rows; row; row = row->next, i++) {
      if (i < scroll) continue;
      int32_t y = r.y + row->y;
      if (y >= r.y + r.h) break;
      if (full || row->draw > 0 || row_fading(row)) list.push_back({row, y});
      if (row->draw > 0) row->draw--;
    }
  }
  draw_rows(w, list.data(), static_cast<int>(list.size()), c);
  gfx_set_clip(old.w > 0 && old.h > 0 ? &old : nullptr, nullptr);
  w->relvol_all = 0;
  if (w->full > 0) w->full--;
}

// Pointer ------------------------------------------------------------------

bool pointer_mode(const watchlist *w) { return w->mode == 0 || w->mode >= 3; }

// The code column shown (wide or narrow), -1 none.
int code_column(const watchlist *w) {
  if (w->columns.shown >> 2 & 1) return 2;
  if (w->columns.shown >> 1 & 1) return 1;
  return -1;
}

int wl_drag_begin(widget *self, int32_t x, int32_t y, int n, drag_record *d) {
  auto *w = static_cast<watchlist *>(self);
  if (n != 1 || !pointer_mode(w)) return 0;
  watchlist_row *r = watchlist_row_at_y(w, y - w->r.y);
  if (!r) return 0;
  int code = code_column(w);
  bool grip = code >= 0 && x >= w->columns.col[code].x1 - kWatchNewsGrip && x < w->columns.col[code].x1;
  if (grip && is_stock(r->in) && r->issuer && (r->issuer->flags & kInNewsBits)) {
    // The issuer's latest news item, or the issuer when it has none.
    if (ss_news *latest = r->issuer->news.tail)
      dnd_begin_news(r->issuer, latest);
    else
      dnd_begin_issuer(r->issuer);
  } else {
    dnd_begin_instr(r->in);
  }
  S.drag_from = w;
  if (d) d->w = self;
  return 1;
}

int wl_drag_release(widget *self, widget *target, int32_t, int32_t, int, drag_record *) {
  auto *w = static_cast<watchlist *>(self);
  if (w->mode == 2) {
    log(LOG_ERROR, kSrc, "watchbar shouldn't be dragged (todo)");
    S.drag_from = nullptr;
    return 0;
  }
  // No grid drop follows a release elsewhere: this grid's part ends here.
  if (!target || !watchlist_is(target)) S.drag_from = nullptr;
  // A row dropped on a remover leaves the grid's watchlist, one undo step.
  wlist *wl = watchlist_get_source(w);
  const uint32_t kind = dnd_kind();
  if (wl && screen_is_remover(target) && (kind == DND_STOCK || kind == DND_INDEX)) {
    instr *in = dnd_object();
    const int32_t at = wlist_index_of(wl, in);
    if (at < 0) return 0;
    undo_begin();
    undo_push_wlist_remove(wl, in, at);
    wlist_remove(wl, in);
    undo_end();
    return 0;
  }
  return 1;
}

void wl_drop(widget *self, int32_t x, int32_t y, int buttons, drag_record *d) {
  auto *w = static_cast<watchlist *>(self);
  (void)x;
  (void)buttons;
  uint32_t kind = dnd_kind();
  instr *in = kind == DND_STOCK || kind == DND_INDEX ? dnd_object() : nullptr;
  watchlist *from = S.drag_from;
  S.drag_from = nullptr;
  wlist *wl = watchlist_get_source(w);
  if (w->mode == 1 || w->mode == 2 || !w->sc || !in || !wl || (!is_stock(in) && !is_index(in))) {
    if (self->parent && self->parent->cls->drop) self->parent->cls->drop(self->parent, x, y, buttons, d);
    return;
  }
  watchlist_row *target = watchlist_row_at_y(w, y - w->r.y);
  if (target && target->in == in) return;
  undo_begin();
  int32_t at = wlist_index_of(wl, in);
  bool ok = true;
  if (at >= 0) {
    if (from != w) {
      ok = false;
    } else {
      undo_push_wlist_remove(wl, in, at);
      wlist_remove(wl, in);
    }
  }
  if (ok) {
    // Before the target instrument as it stands after the removal.
    int32_t to = target ? wlist_index_of(wl, target->in) : -1;
    undo_push_wlist_add(wl, in);
    if (to >= 0)
      wlist_insert_at(wl, in, to);
    else
      wlist_add_item(wl, in);
  }
  undo_end();
  if (ok) scan_refresh_now(w->sc);
}

// The column under x (-1 none).
int column_at(const watchlist *w, int32_t x) {
  for (int k = 0; k < w->columns.count; k++) {
    const cols_col &c = w->columns.col[k];
    if ((w->columns.shown >> k & 1) && x >= c.x0 && x < c.x1) return k;
  }
  return -1;
}

// The issuer's latest dated announcement, or null.
ss_news *latest_news(ss_issuer *is) {
  if (!is) return nullptr;
  for (ss_news *n = is->news.tail; n; n = n->prev)
    if (n->time) return n;
  return nullptr;
}

void hide_details(watchlist *w) {
  w->detail_open = 0;
  w->hover_row = -1;
  popups_hover_end(w);
  screen_hide_gendtl();
}

// The general detail popup for the cell (col: the column, -2 the news
// marker) of the row, anchored at the cell; false (and the popup hidden)
// when the cell has nothing to explain.
bool show_cell_detail(watchlist *w, watchlist_row *r, int col) {
  ss_stock *s = is_stock(r->in) ? static_cast<ss_stock *>(r->in) : nullptr;
  const ss_exchange *ex = s ? s->exchange : nullptr;
  const int32_t top = w->r.y + r->y, h = w->row_h;
  const cols_col *c = col >= 0 ? &w->columns.col[col] : &w->columns.col[2];
  const int32_t cx = col >= 0 ? c->x0 : c->x1 - kWatchNewsGrip, cw = col >= 0 ? c->x1 - c->x0 : kWatchNewsGrip;
  auto anchor = [&] { screen_set_popup_anchor(cx, top, cw, h, kSideRight | kSideBelow); };
  popups_hover_end(w);
  if (!s || !ex) {
    screen_hide_gendtl();
    return false;
  }
  switch (col) {
    case -2:
      anchor();
      screen_show_gendtl_range(cx + cw, top + h, r->issuer);
      return true;
    case 32:  // State
      if (s->state == ex->state || s->state == ex->phase) break;
      anchor();
      screen_show_gendtl_value(cx + cw, top + h, s->state, s->resume_time);
      return true;
    case 31:  // Quote Bases
      if (!(s->quote_basis & ~uint64_t{2})) break;  // 0x2: the ordinary basis
      anchor();
      screen_show_gendtl_flags2(cx + cw, top + h, ex->index, s->quote_basis);
      return true;
    case 13:
    case 15:
    case 17:
    case 18:
    case 19:  // volume and relative volume
      anchor();
      screen_show_gendtl_volume(cx + cw, top + h, s);
      return true;
    case 10:  // Last
      if (!auction_shaded(s)) break;
      anchor();
      screen_show_gendtl_auction(cx + cw, top + h, s);
      return true;
    default:
      break;
  }
  screen_hide_gendtl();
  return false;
}

bool on_news_marker(const watchlist *w, const watchlist_row *r, int32_t x) {
  if (!is_stock(r->in) || !news_marker_field(r) || !(w->columns.shown >> 2 & 1)) return false;
  return x >= w->columns.col[2].x1 - kWatchNewsGrip && x < w->columns.col[2].x1;
}

void wl_release(widget *self, int32_t x, int32_t y, int button) {
  auto *w = static_cast<watchlist *>(self);
  if (button != 1 || !pointer_mode(w)) return;
  watchlist_row *r = watchlist_row_at_y(w, y - w->r.y);
  window *win = find_window(w);
  if (!r || !win) return;
  if (on_news_marker(w, r, x)) {
    // The issuer's latest announcement in the popup document; without one
    // the window shows the stock's announcements (one undo step).
    hide_details(w);
    if (ss_news *latest = latest_news(r->issuer)) {
      const int n = screen_index_of(w);
      const bool pushed = n >= 0 && n != screen_current_index() && screen_push(n);
      screen_show_news_popup(r->issuer, latest, 0);
      if (pushed) screen_pop();
    } else {
      undo_push_window(win);
      window_set_role(win, kRoleHistnews);
      window_set_instrument(win, r->in);
    }
  } else if (is_stock(r->in)) {
    if (key_modifiers() & kShowEverywhere)
      action_show_everywhere(r->in);
    else
      window_set_instrument(win, r->in);
  } else if (is_index(r->in)) {
    undo_push_window(win);
    window_set_role(win, kRoleChart);
    window_set_instrument(win, r->in);
  }
}

// Hover: details open while the pointer moves slower than style field 292
// and close once it moves at field 291 or faster. A watch bar of several
// rows shows its list; other grids explain the cell under the pointer in
// the general detail popup: the issuer's news on the news marker, a state
// of the stock's own, its quote bases, its volume against earlier periods,
// the auction of a stock shaded for one.
void wl_motion(widget *self, int32_t x, int32_t y) {
  auto *w = static_cast<watchlist *>(self);
  if (w->mode == 1) return;  // the quote bar's strip takes no pointer
  const style *st = style_cur();
  float open_below = st ? st->real[1] : 2.0f, close_at = st ? st->real[0] : 7.0f;
  float speed = gui_mouse_speed();
  watchlist_row *r = gui_mouse_buttons() ? nullptr : watchlist_row_at_y(w, y - w->r.y);
  int32_t i = 0;
  for (watchlist_row *p = w->rows; p && p != r; p = p->next) i++;
  if (!r) {
    if (w->detail_open) hide_details(w);
    return;
  }
  const int col = on_news_marker(w, r, x) ? -2 : column_at(w, x);
  if (w->detail_open && speed >= close_at) {
    hide_details(w);
  } else if (speed < open_below && (!w->detail_open || w->hover_row != i || w->hover_col != col)) {
    if (w->mode == 2 && w->count >= 2) {
      if (w->sc && !popups_widget_in_popup(w)) {
        const rect grid = w->r;
        popups_set_owner(w);
        popups_set_anchor_rect(&grid, kSideCentre | kSideBelow, 0);
        popups_push_wlist(w->sc);
        w->detail_open = 1;
      }
    } else {
      w->detail_open = show_cell_detail(w, r, col) ? 1 : 0;
    }
    w->hover_row = i;
    w->hover_col = col;
  }
}

void wl_leave(widget *self) {
  auto *w = static_cast<watchlist *>(self);
  if (w->detail_open) hide_details(w);
}

void wl_set_instr(widget *self, instr *in) {
  auto *w = static_cast<watchlist *>(self);
  if (w->mode != 1) return;
  // The quote bar shows what its window is given.
  watchlist_clear_rows(w);
  if (is_stock(in)) watchlist_add_stock_row(w, in);
  if (is_index(in)) watchlist_add_index_row(w, in);
}

void wl_class_init(object_class *rec) {
  auto *c = static_cast<content_class *>(rec);
  c->set_instr = wl_set_instr;
  c->geometry_changed = wl_geometry_changed;
  c->reqsize = wl_reqsize;
  c->draw = wl_draw;
  c->restyle = wl_restyle;
  c->show_children = wl_show;
  c->hide_children = wl_hide;
  c->drag_begin = wl_drag_begin;
  c->drag_release = wl_drag_release;
  c->drop = wl_drop;
  c->release = wl_release;
  c->motion = wl_motion;
  c->leave = wl_leave;
}

// Undo of the grid's scan: a temporary copy of it, its track clients
// released and its watch on the source watchlist dropped while it waits.
void *scan_save(void *object) {
  auto *w = static_cast<watchlist *>(object);
  if (!watchlist_is(w) || !w->sc) return nullptr;
  auto *c = static_cast<undo_scan_copy *>(dalloc_alloc(sizeof(undo_scan_copy)));
  c->id = w->sc->registered ? w->sc->id : -1;
  c->copy = scan_clone_temp(w->sc);
  if (!c->copy) {
    dalloc_free(c);
    return nullptr;
  }
  scan_release_tracks(c->copy);
  if (c->copy->source && wlist_is_watched_by(c->copy->source, c->copy)) wlist_unwatch(c->copy->source, c->copy);
  return c;
}

int scan_restore(void *saved, void *object) {
  auto *c = static_cast<undo_scan_copy *>(saved);
  auto *w = static_cast<watchlist *>(object);
  if (!watchlist_is(w) || !c->copy) return -1;
  scan *s;
  if (c->id == -1) {
    s = c->copy;  // the record gives its copy up
    c->copy = nullptr;
  } else {
    s = scan_find(c->id);
    if (!s) return -1;
    scan_copy_settings(s, c->copy);
  }
  watchlist_set_scan(w, s);
  scan_track_resolve(s);
  return 0;
}

void scan_release_copy(void *saved, int) {
  auto *c = static_cast<undo_scan_copy *>(saved);
  if (c->copy) {
    c->copy->source = nullptr;
    scan_delete(c->copy);
  }
  dalloc_free(c);
}

const undo_record_ops kScanOps = {scan_save, scan_restore, scan_release_copy};

typeid_t register_watchlist() {
  undo_register_type(UNDO_WATCHLIST_SCAN, &kScanOps);
  return object_register_class("watchlist", content_type(), sizeof(watchlist), wl_init, wl_fini,
                               sizeof(content_class), wl_class_init, nullptr);
}

// Rows and positions ---------------------------------------------------------

// Rows that moved (or a changed row count) ask for a full draw: partial
// draws paint rows only where they are.
void reposition(watchlist *w) {
  int32_t i = 0, scroll = scroll_of(w);
  bool moved = w->count != w->placed_count;
  for (watchlist_row *r = w->rows; r; r = r->next, i++) {
    int32_t y = w->mode == 2 ? 0 : (i - scroll) * w->row_h;
    if (y < 0) y = 0;  // above the view: parked at the top, not drawn
    if (y != r->y) {
      r->stale = 1;
      moved = true;
    }
    r->y = y;
  }
  w->placed_count = w->count;
  if (moved) mark_all(w);
}

void refresh_stock(watchlist *w, watchlist_row *r, int flash) {
  const ss_stock *s = static_cast<const ss_stock *>(r->in);
  uint32_t bid = price_or_zero(s->bid), offer = price_or_zero(s->offer), last = price_or_zero(s->last);
  uint32_t high = price_or_zero(s->high), low = price_or_zero(s->low);
  uint64_t volume = s->volume;
  bool any = false, change_flashed = false;
  // A quote side flashes only from a value it had: up or down in its cell,
  // and its text in the side's colour.
  auto quote_side = [&](uint32_t now, uint32_t *seen, int bg, int text, int text_colour) {
    if (now == *seen) return;
    if (flash && *seen) {
      flash_cell(w, r, bg, now > *seen ? 133 : 135);
      flash_cell(w, r, text, text_colour);
      any = true;
    }
    *seen = now;
  };
  quote_side(bid, &r->bid, WC_BID_BG, WC_BID_TEXT, 140);
  quote_side(offer, &r->offer, WC_OFFER_BG, WC_OFFER_TEXT, 141);
  if (last != r->last) {
    if (flash && r->last) {
      flash_cell(w, r, WC_LAST_BG, last > r->last ? 142 : 143);
      flash_cell(w, r, WC_CHANGE_TEXT, change_of(s) >= 0 ? 144 : 145);
      change_flashed = any = true;
    }
    r->last = last;
  }
  if (!change_flashed) set_cell(r, WC_CHANGE_TEXT, sign_code(change_of(s)));
  if (high != r->high) {
    if (flash && r->high && high > r->high) {
      flash_cell(w, r, WC_HIGH_BG, 142);
      flash_cell(w, r, WC_HIGH_TEXT, 144);
      any = true;
    }
    r->high = high;
  }
  if (low != r->low) {
    if (flash && r->low && low < r->low) {
      flash_cell(w, r, WC_LOW_BG, 143);
      flash_cell(w, r, WC_LOW_TEXT, 145);
      any = true;
    }
    r->low = low;
  }
  if (volume != r->volume) {
    if (flash && r->volume) any = true;
    r->volume = volume;
  }
  int64_t since = since_change(w, s);
  if (any) {
    flash_cell(w, r, WC_ROW, 129);
    flash_cell(w, r, WC_TREND, 137);
    flash_cell(w, r, WC_VOLUME_BG, 130);
    if (since)
      flash_cell(w, r, WC_SINCE_TEXT, since > 0 ? 138 : 139);
    else
      set_cell(r, WC_SINCE_TEXT, 61);
  } else {
    set_cell(r, WC_SINCE_TEXT, sign_code(since));
  }
}

void refresh_index(watchlist *w, watchlist_row *r, int flash) {
  const ss_index *x = static_cast<const ss_index *>(r->in);
  bool any = false;
  if (x->value != r->last) {
    if (flash && r->last && x->value) {
      flash_cell(w, r, WC_LAST_BG, x->value > r->last ? 142 : 143);
      flash_cell(w, r, WC_CHANGE_TEXT, x->change >= 0 ? 144 : 145);
      any = true;
    }
  }
  if (!any) set_cell(r, WC_CHANGE_TEXT, sign_code(x->change));
  int64_t since = since_change(w, x);
  if (any) {
    flash_cell(w, r, WC_ROW, 129);
    flash_cell(w, r, WC_TREND, 137);
    flash_cell(w, r, WC_VOLUME_BG, 130);
    if (since)
      flash_cell(w, r, WC_SINCE_TEXT, since > 0 ? 138 : 139);
    else
      set_cell(r, WC_SINCE_TEXT, 61);
  } else {
    set_cell(r, WC_SINCE_TEXT, sign_code(since));
  }
  if (x->value) {
    r->last = x->value;
    r->high = x->high;
    r->low = x->low;
  } else {
    r->last = r->high = r->low = 0;
  }
}

bool in_view(const watchlist *w, const watchlist_row *r) {
  if (w->mode == 2) return r == w->current;
  int32_t i = 0, scroll = scroll_of(w);
  for (const watchlist_row *p = w->rows; p && p != r; p = p->next) i++;
  return i >= scroll && i < scroll + std::max(w->visible, 1);
}

void instr_changed(const ss_change *change, void *owner, uint64_t argument, uint32_t) {
  auto *w = static_cast<watchlist *>(owner);
  if (!shown(w)) return;
  if (!change->instrument) {
    for (watchlist_row *r = w->rows; r; r = r->next) watchlist_refresh_row(w, r, 0);
    mark_all(w);
    return;
  }
  auto *r = reinterpret_cast<watchlist_row *>(static_cast<uintptr_t>(argument));
  if (!r || r->in != change->instrument) r = watchlist_find_row(w, change->instrument);
  if (!r) return;
  int flash = (change->mask & kWatchFlashMask) && in_view(w, r);
  watchlist_refresh_row(w, r, flash);
}

void wild_changed(const ss_change *change, void *owner, uint64_t argument, uint32_t flags) {
  // Wild registrations see global changes (and instrument changes of the
  // wild mask, which the row registrations already carry).
  if (change->instrument) return;
  instr_changed(change, owner, argument, flags);
}

void scan_event(scan *s, int event, int32_t index, instr *in, void *owner, void *, uint32_t) {
  auto *w = static_cast<watchlist *>(owner);
  if (s != w->sc) return;
  if (!shown(w) && event != kScanDeleted) return;
  window *win = event_window(w);
  switch (event) {
    case kScanInserted:
      if (w->mode == 1) {
        watchlist_rows_changed(w);
      } else if (in) {
        watchlist_add_instr(w, in, 0, index);
      }
      break;
    case kScanMoved: {
      if (w->mode == 1) {
        watchlist_rows_changed(w);
        break;
      }
      watchlist_row *r = watchlist_find_row(w, in);
      if (!r) {
        mark_all(w);
        break;
      }
      unlink_row(w, r);
      insert_row(w, r, index < 1 ? 0 : index);
      if (index < 1) w->first_shown = r;
      reposition(w);
      mark_all(w);
      break;
    }
    case kScanRemoved:
      if (w->mode == 1)
        watchlist_rows_changed(w);
      else if (in)
        watchlist_remove_instr(w, in, 0);
      break;
    case kScanCleared:
      watchlist_rows_changed(w);
      break;
    case kScanRenamed:
      if (win) window_update_title(win);
      break;
    case kScanDeleted:
      if (win) window_set_role(win, kRoleNone);
      if (w->sc) scan_unwatch(w->sc, w);
      w->sc = nullptr;
      watchlist_clear_rows(w);
      layout_columns(w);
      return;
    case kScanSettings:
      layout_columns(w);
      mark_all(w);
      break;
    default:
      break;
  }
  tell_scroll_range(w, win);
}

// Typed codes ----------------------------------------------------------------

struct code_job {
  watchlist *w;
  wlist *wl;
  int remove;
  int changed;
};

void apply_code(const char *code, void *arg) {
  auto *j = static_cast<code_job *>(arg);
  instr *in = watchlist_lookup_code(code);
  if (!in) return;
  if (j->remove) {
    int32_t at = wlist_index_of(j->wl, in);
    if (at < 0) return;
    undo_push_wlist_remove(j->wl, in, at);
    if (wlist_remove(j->wl, in) == 0) j->changed++;
  } else {
    if (wlist_index_of(j->wl, in) >= 0) return;
    undo_push_wlist_add(j->wl, in);
    if (wlist_add_item(j->wl, in) == 0) j->changed++;
  }
}

int typed_codes(watchlist *w, const char *text, int remove) {
  if (!text) return -1;
  wlist *wl = watchlist_get_source(w);
  if (!wl) {
    wl = wlist_create(nullptr, 0);
    if (!wl) {
      log(LOG_ERROR, kSrc, "can't create watchlist");
      return -1;
    }
    watchlist_set_source(w, wl);
  }
  code_job j{w, wl, remove, 0};
  undo_begin();
  watchlist_split_codes(text, apply_code, &j);
  undo_end();  // an empty group is dropped
  if (j.changed && w->sc) scan_refresh_now(w->sc);
  return 0;
}

}  // namespace

// Public ---------------------------------------------------------------------

typeid_t watchlist_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_watchlist);
}

typeid_t watchlist_register_kind(const char *name, uint32_t size, object_init_fn init, object_fini_fn fini,
                                 object_class_init_fn class_init) {
  return object_register_class(name, watchlist_type(), size, init, fini, sizeof(content_class), class_init, nullptr);
}

const widget_class *watchlist_class(void) {
  static content_class c;
  static bool made = false;
  if (!made) {
    c = content_class{};
    wl_class_init(&c);
    made = true;
  }
  return &c;
}

watchlist *watchlist_make(widget *parent, typeid_t type, int mode) {
  auto *w = static_cast<watchlist *>(widget_new(parent, type));
  if (!w) return nullptr;
  w->mode = mode < 0 || mode >= kWatchModes ? 0 : mode;
  w->name = object_type_name(widget_obj(w));
  cols_init(&w->columns, kWidths, kSets[w->mode]);
  w->hidden = watchlist_hidden_columns(w);
  cols_set_hidden(&w->columns, w->hidden);
  ssnotify_add_wild(kWatchWildMask, wild_changed, w, 0, 0);
  return w;
}

watchlist *watchlist_new(widget *parent, int mode) { return watchlist_make(parent, watchlist_type(), mode); }
widget *watchlist_new(widget *parent) { return watchlist_new(parent, 0); }

scan *watchlist_get_scan(const watchlist *w) { return w->sc; }

wlist *watchlist_get_source(const watchlist *w) { return w->sc ? w->sc->source : nullptr; }

window *watchlist_window(const watchlist *w) { return find_window(w); }

int watchlist_set_scan(watchlist *w, scan *s) {
  if (s == w->sc) return 0;
  if (w->sc) scan_unwatch(w->sc, w);
  w->sc = s;
  if (!s) {
    watchlist_clear_rows(w);
  } else {
    scan_watch(s, scan_event, w, nullptr, 0);
    if (!shown(w)) scan_watch_disable(s, w);
    watchlist_rows_changed(w);
    scan_refresh_now(s);
  }
  w->first_shown = w->rows;
  wl_geometry_changed(w);
  return 0;
}

int watchlist_set_source(watchlist *w, wlist *wl) {
  if (w->sc) scan_unwatch(w->sc, w);
  w->sc = nullptr;
  if (!wl) {
    watchlist_clear_rows(w);
    return 0;
  }
  scan *s = scan_new_temp();
  if (!s) return -1;
  scan_set_source(s, wl);
  scan_set_order(s, 0);
  scan_set_instr_filter(s, kScanEverything);
  scan_set_all_exchanges(s);
  w->sc = s;
  scan_watch(s, scan_event, w, nullptr, 0);
  if (!shown(w)) scan_watch_disable(s, w);
  watchlist_update_limit(w);
  scan_refresh_now(s);
  watchlist_rows_changed(w);
  return 0;
}

void watchlist_update_limit(watchlist *w) {
  scan *s = w->sc;
  if (!s) return;
  if (!s->source && w->mode != 5 && scan_watcher_count(s) < 2)
    scan_set_limit(s, static_cast<uint32_t>(scroll_of(w) + w->visible + 5));
  else
    scan_set_limit(s, 0);
}

watchlist_row *watchlist_find_row(const watchlist *w, const instr *in) {
  for (watchlist_row *r = w->rows; r; r = r->next)
    if (r->in == in) return r;
  return nullptr;
}

watchlist_row *watchlist_row_at(const watchlist *w, int32_t i) {
  watchlist_row *r = w->rows;
  while (r && i-- > 0) r = r->next;
  return i < 0 || !r ? r : nullptr;
}

int32_t watchlist_row_count(const watchlist *w) { return w->count; }

watchlist_row *watchlist_row_at_y(const watchlist *w, int32_t y) {
  if (y < 0 || w->row_h <= 0) return nullptr;
  if (w->mode == 2) return y < w->row_h ? w->current : nullptr;
  return watchlist_row_at(w, scroll_of(w) + y / w->row_h);
}

watchlist_row *watchlist_add_instr(watchlist *w, instr *in, int pin, int32_t position) {
  if (!in || watchlist_find_row(w, in)) return nullptr;
  watchlist_row *r = row_alloc();
  if (!r) {
    log(LOG_ERROR, kSrc, "can't alloc row");
    return nullptr;
  }
  r->in = in;
  if (const ss_stock *s = as_stock(in))
    r->issuer = ssmodel_find_issuer(s->exchange, s->issuer[0] ? s->issuer : s->code);
  start_colours(w, r);
  take_snapshot(r);
  r->stale = 1;
  insert_row(w, r, position);
  ssnotify_add(in, kAllEvents, instr_changed, w, reinterpret_cast<uintptr_t>(r), 0);
  if (pin) {
    if (!w->sc) {
      scan *s = scan_new_temp();
      if (s) {
        w->sc = s;
        scan_watch(s, scan_event, w, nullptr, 0);
        if (!shown(w)) scan_watch_disable(s, w);
      }
    }
    if (w->sc) scan_pin_instr(w->sc, in);
  }
  if (w->mode == 1) layout_columns(w);
  reposition(w);
  watchlist_row *found = watchlist_find_row(w, in);
  if (!found) log(LOG_ERROR, kSrc, "didn't find %s after add", in->code);
  return found;
}

int watchlist_add_stock_row(watchlist *w, instr *in) {
  if (!is_stock(in)) return -1;
  watchlist_row *r = watchlist_add_instr(w, in, 0, -1);
  if (!r) return -1;
  take_snapshot(r);
  mark_all(w);
  return 0;
}

int watchlist_add_index_row(watchlist *w, instr *in) {
  if (!is_index(in)) return -1;
  watchlist_row *r = watchlist_add_instr(w, in, 0, -1);
  if (!r) return -1;
  take_snapshot(r);
  mark_all(w);
  return 0;
}

int watchlist_remove_instr(watchlist *w, instr *in, int from_list) {
  watchlist_row *r = watchlist_find_row(w, in);
  if (!r) return -1;
  unlink_row(w, r);
  row_free(w, r);
  if (from_list) {
    wlist *wl = watchlist_get_source(w);
    if (!wl || wlist_remove(wl, in) < 0) log(LOG_WARN, kSrc, "couldn't remove %s from wlist", in->code);
  }
  if (w->mode == 1) layout_columns(w);
  reposition(w);
  return 0;
}

int watchlist_remove_and_redraw(watchlist *w, instr *in) {
  int rc = watchlist_remove_instr(w, in, 1);
  mark_all(w);
  return rc;
}

void watchlist_clear_rows(watchlist *w) {
  watchlist_row *r = w->rows;
  while (r) {
    watchlist_row *next = r->next;
    row_free(w, r);
    r = next;
  }
  w->rows = w->first_shown = w->current = nullptr;
  w->count = 0;
  mark_all(w);
}

int watchlist_rows_changed(watchlist *w) {
  watchlist_clear_rows(w);
  w->rows_built++;
  if (w->sc) {
    // The results are copied first: adding rows touches no scan state, but
    // the result cursor is shared by every reader.
    int32_t n = w->sc->result_count;
    for (int32_t i = 0; i < n; i++) {
      instr *in = w->sc->results[i];
      if (in) watchlist_add_instr(w, in, 0, -1);
    }
  }
  w->first_shown = watchlist_row_at(w, scroll_of(w));
  if (!w->first_shown) w->first_shown = w->rows;
  if (w->mode == 1) layout_columns(w);
  reposition(w);
  mark_all(w);
  tell_scroll_range(w, find_window(w));
  return 0;
}

void watchlist_refresh_row(watchlist *w, watchlist_row *r, int flash) {
  if (is_stock(r->in))
    refresh_stock(w, r, flash);
  else if (is_index(r->in))
    refresh_index(w, r, flash);
  r->stale = 1;
  r->draw = 2;
  if (shown(w)) widget_redraw(w);
}

uint32_t watchlist_cell_colour(const watchlist_row *r, int cell) {
  return r->fade[cell].shown.c;
}

// Columns --------------------------------------------------------------------

uint64_t watchlist_hidden_columns(const watchlist *w) {
  uint64_t h = 0;
  if (!w->sc || !scan_track_set(w->sc, 0)) h |= kTrackCols;
  if (!w->sc || w->sc->vcmp < 0) h |= kRelVolCols;
  if (w->mode == 1 && w->rows && is_index(w->rows->in)) h |= kIndexQuoteBarHidden;
  return h;
}

uint64_t watchlist_fit(watchlist *w, int32_t width, int32_t em, int32_t digit) {
  w->hidden = watchlist_hidden_columns(w);
  cols_set_hidden(&w->columns, w->hidden);
  cols_fit_metrics(&w->columns, 0, width, em, digit);
  return w->columns.shown;
}

const char *watchlist_column_title(int k) { return k >= 0 && k < kWatchColumns ? kTitles[k] : nullptr; }

const char *watchlist_cell_text(const watchlist *w, const watchlist_row *r, int k, char *out) {
  out[0] = 0;
  const instr *in = r->in;
  const ss_stock *s = as_stock(in);
  const ss_index *x = as_index(in);
  auto put = [&](const char *t) {
    snprintf(out, 96, "%s", t ? t : "");
    return out;
  };
  auto price = [&](uint32_t v) { return v && v != kNoPrice ? put(fmt_price(v)) : out; };
  switch (k) {
    case 0:
      if (s) {
        const ss_issuer *is = r->issuer;
        if (is && is->name1 && *is->name1) return put(is->name1);
        return put(is && is->code[0] ? is->code : s->issuer);
      }
      return put(in->name1 ? in->name1 : in->code);
    case 1: {
      size_t n = strlen(in->code);
      snprintf(out, 96, "%.3s%s", in->code, n > 3 ? "+" : "");
      return out;
    }
    case 2: return put(in->code);
    case 3:
      if (!s) return out;
      return put(s->option_kind & 0x2 ? "CALL" : s->option_kind & 0x4 ? "PUT" : "");
    case 4: return s && s->option_kind ? price(s->option_number) : out;
    case 5: return s && s->expiry ? put(fmt_date(s->expiry)) : out;
    case 6: return s ? price(s->bid) : out;
    case 7: return s && s->levels[0] ? put(fmt_volume(s->levels[0]->volume)) : out;
    case 8: return s ? price(s->offer) : out;
    case 9: return s && s->levels[1] ? put(fmt_volume(s->levels[1]->volume)) : out;
    case 10:
      if (s) return price(s->disp_price ? s->disp_price : s->last);
      if (x) return price(x->value ? x->value : x->base);
      return out;
    case 11:
      if (s) return s->last && s->last != kNoPrice ? change_text(change_of(s), out) : out;
      if (x) return x->value ? change_text(x->change, out) : out;
      return out;
    case 12: {
      int32_t pct = s ? (s->disp_change_pct ? s->disp_change_pct : s->change_pct) : x ? x->change_pct : 0;
      if (!current_value(in)) return out;
      snprintf(out, 96, "%+.2f%%", pct / 100.0);
      return out;
    }
    case 13: return s && s->volume ? put(fmt_volume(s->volume)) : out;
    case 14: return s && s->value ? put(fmt_money(s->value)) : out;
    case 15: return s && s->volume ? put(fmt_volume_short(s->volume)) : out;
    case 16: return s && s->value ? put(fmt_money_short(s->value)) : out;
    case 17: case 18: case 19: {
      int32_t b = w->sc ? w->sc->vcmp : -1;
      if (!s || b < 0 || b > 2) return out;
      if (k == 17) return put(fmt_volume(s->vcmp_volume[b]));
      if (k == 18) return put(fmt_volume_signed(s->vcmp_diff[b]));
      snprintf(out, 96, "%+.2f%%", s->vcmp_pct[b] / 100.0);
      return out;
    }
    case 20: return out;  // the model carries no open interest
    case 21:
      if (s && s->multiplier) snprintf(out, 96, "x%u", s->multiplier);
      return out;
    case 22: return out;
    case 23: return s && s->market_cap ? put(fmt_money_short(s->market_cap)) : out;
    case 24: return s ? price(s->average_price) : out;
    case 25: return s && s->trade_count ? put(fmt_count(s->trade_count)) : out;
    case 26:
      if (s) return s->last_trade_time ? put(fmt_time_hms(s->last_trade_time)) : out;
      return x && x->last_tick_time ? put(fmt_time_hms(x->last_tick_time)) : out;
    case 27: return price(track_value(w, in));
    case 28: case 29: {
      // Against the price at track 0's time: nothing when there was none.
      uint32_t ref = track_value(w, in), now = current_value(in);
      if (!ref || ref == kNoPrice || !now) return out;
      int64_t d = static_cast<int64_t>(now) - ref;
      if (k == 28) return change_text(d, out);
      snprintf(out, 96, "%+.2f%%", static_cast<double>(d * 10000 / ref) / 100.0);
      return out;
    }
    case 30: return put(in->name2 ? in->name2 : "");
    case 31: {
      if (!s || !s->exchange || !s->quote_basis) return out;
      uint32_t size = 96;
      if (!sscodes_quote_basis_text(out, &size, static_cast<int32_t>(s->exchange->index), s->quote_basis))
        out[0] = 0;
      return out;
    }
    case 32:
      if (!s || !s->exchange || s->state == s->exchange->phase || s->state == 90) return out;
      return put(ssstate_short_name(s->state));
    case 33:
      if (s) {
        if (s->last && s->last != kNoPrice) return price(static_cast<uint32_t>(int64_t(s->last) - s->change));
        return price(s->close);
      }
      return x ? price(x->base) : out;
    case 34: return s ? price(s->first_price ? s->first_price : s->open) : x ? price(x->open) : out;
    case 35: return s ? price(s->low) : x ? price(x->low) : out;
    case 36: return s ? price(s->high) : x ? price(x->high) : out;
    default: return out;
  }
}

const char *watchlist_tooltip(watchlist *w, int32_t x, int32_t y) {
  static char text[160];
  watchlist_row *r = watchlist_row_at_y(w, y - w->r.y);
  int k = column_at(w, x);
  if (!r || k < 0) return nullptr;
  const char *base = kDescribe[k][is_index(r->in) && kDescribe[k][1] ? 1 : 0];
  if (k >= 17 && k <= 19) {
    static const char *const kRel[3][3] = {
        {"Volume done by", "Difference between volume now and", "Percent difference between volume now and"},
        {"Average weekly volume done by", "Difference between volume now and average weekly volume done by",
         "Percent difference between volume now and average weekly volume done by"},
        {"Average monthly volume done by", "Difference between volume now and average monthly volume done by",
         "Percent difference between volume now and average monthly volume done by"}};
    int32_t b = w->sc ? w->sc->vcmp : 0;
    if (b < 0 || b > 2) b = 0;
    ss_time now = r->in->exchange ? ssmodel_exchange_now(r->in->exchange) : 0;
    const char *tail = b == 0 ? " yesterday" : "";
    if (now)
      snprintf(text, sizeof text, "%s %s%s", kRel[b][k - 17], fmt_time_hm(now), tail);
    else
      snprintf(text, sizeof text, "%s this point%s", kRel[b][k - 17], tail);
    return text;
  }
  if (k >= 27 && k <= 29) {
    ss_time t = w->sc && r->in->exchange ? scan_track_time(w->sc, 0, static_cast<int>(r->in->exchange->index)) : 0;
    if (t)
      snprintf(text, sizeof text, "%s %s", base, fmt_time_hm(t));
    else
      snprintf(text, sizeof text, "%s time given by Delta", base);
    return text;
  }
  return base;
}

void watchlist_export(watchlist *w) {
  // Column order of the export: the narrow turnover after the contract
  // size; trend and VWAP left out.
  int order[kWatchColumns];
  int n = 0;
  uint64_t cols_shown = w->columns.shown & ~w->hidden;
  for (int k = 0; k < kWatchColumns; k++) {
    if (!(cols_shown >> k & 1) || k == 22 || k == 24 || k == 16) continue;
    order[n++] = k;
    if (k == 21 && (cols_shown >> 16 & 1)) order[n++] = 16;
  }
  if ((cols_shown >> 16 & 1) && !(cols_shown >> 21 & 1)) {
    // No contract size: the narrow turnover keeps its own place.
    int at = 0;
    while (at < n && order[at] < 16) at++;
    for (int i = n; i > at; i--) order[i] = order[i - 1];
    order[at] = 16;
    n++;
  }
  clipboard_reset();
  clipboard_new_row();
  for (int i = 0; i < n; i++) {
    int k = order[i];
    if (k == 27) {
      char title[64];
      if (!w->sc) {
        snprintf(title, sizeof title, "Last @ %s", "Delta");
      } else {
        int ex = w->rows && w->rows->in->exchange ? static_cast<int>(w->rows->in->exchange->index)
                                                  : default_exchange();
        ss_time t = scan_track_time(w->sc, 0, ex);
        snprintf(title, sizeof title, "Last @ %s", t ? fmt_time_hm(t) : "Delta");
      }
      clipboard_add_cell(title);
    } else {
      clipboard_add_cell(kTitles[k]);
    }
  }
  clipboard_end_row();
  char buf[128];
  for (watchlist_row *r = w->rows; r; r = r->next) {
    clipboard_new_row();
    for (int i = 0; i < n; i++) clipboard_add_cell(watchlist_cell_text(w, r, order[i], buf));
    clipboard_end_row();
  }
  clipboard_put_text();
}

// Typed codes ----------------------------------------------------------------

int watchlist_split_codes(const char *text, void (*fn)(const char *code, void *arg), void *arg) {
  char code[kWatchCodeMax + 2];
  int len = 0, found = 0;
  bool overrun = false;
  auto finish = [&]() {
    if (len > 0 && !overrun) {
      code[len] = 0;
      fn(code, arg);
      found++;
    }
    len = 0;
    overrun = false;
  };
  for (const char *p = text; p && *p; p++) {
    unsigned char ch = static_cast<unsigned char>(*p);
    bool word = isalnum(ch) || ((ch == '.' || ch == '_') && (len > 0 || overrun));
    if (!word) {
      finish();
      continue;
    }
    if (overrun) continue;
    if (len == kWatchCodeMax) {
      code[len] = 0;
      log(LOG_ERROR, kSrc, "overrun");
      overrun = true;
      continue;
    }
    code[len++] = static_cast<char>(toupper(ch));
  }
  finish();
  return found;
}

instr *watchlist_lookup_code(const char *code) {
  const char *dot = strrchr(code, '.');
  if (dot && dot[1]) {
    for (int i = 0; i < kExchanges; i++) {
      ss_exchange *ex = ssmodel_exchange(i);
      if (!ex || strcasecmp(ex->name, dot + 1) != 0) continue;
      char base[kCodeSize];
      snprintf(base, sizeof base, "%.*s", static_cast<int>(dot - code), code);
      if (ss_stock *s = ssmodel_find_stock(ex, base)) return s;
      if (ss_index *x = ssmodel_find_index(ex, base)) return x;
      return nullptr;
    }
  }
  int order[kExchanges];
  int n = 0;
  order[n++] = default_exchange();
  for (int i = 0; i < kExchanges; i++)
    if (i != default_exchange()) order[n++] = i;
  for (int i = 0; i < n; i++) {
    ss_exchange *ex = ssmodel_exchange(order[i]);
    if (!ex) continue;
    if (ss_stock *s = ssmodel_find_stock(ex, code)) return s;
    if (ss_index *x = ssmodel_find_index(ex, code)) return x;
  }
  return nullptr;
}

int watchlist_add_codes(watchlist *w, const char *text) { return typed_codes(w, text, 0); }
int watchlist_remove_codes(watchlist *w, const char *text) { return typed_codes(w, text, 1); }
int watchlist_paste_codes(watchlist *w) {
  const char *text = clipboard_get_text();
  return text ? typed_codes(w, text, 0) : -1;
}
