// The alerts content: the process-wide alert list as a grid. A grid holds
// one row per alert only while it is shown (it is linked into the list of
// grids then), re-filters and re-orders after every change of the list, and
// hands its shown-row count to its window. Cell texts come from one
// function that drawing, export and the tests share.
#include "windows/alerts.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "action.h"
#include "dnd.h"
#include "export/clipboard.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/timer.h"
#include "log.h"
#include "pool.h"
#include "popups/hover.h"
#include "popups/place.h"
#include "popups/popups.h"
#include "screen/screen.h"
#include "ssmodel.h"
#include "style.h"
#include "tools/tools.h"
#include "ui/gui.h"
#include "ui/key.h"
#include "ui/tooltip.h"
#include "undo.h"
#include "windows/content.h"
#include "windows/window.h"

static const char kSrc[] = "src/windows/alerts";
constexpr int kRowsPerPage = 100;

// Width codes of the 18 columns, and the column sets tried from the widest:
// the wide set shows the second code and the first volume widths, the
// narrow one the others, the narrowest name-less set only the essentials.
static const int32_t kWidths[kAlertColumns + 1] = {1000012, 1000004, 1000007, 8, 7, 8, 13, 6, 8,
                                                   8,       8,       8,       13, 6, 13, 8, 5, 8, 0};
static uint64_t bits(std::initializer_list<int> cols) {
  uint64_t m = 0;
  for (int c : cols) m |= 1ull << c;
  return m;
}
// The column sets, widest first: names and wide codes, then narrow code and
// volume, then code, price and the triggers; narrower still the news and
// volume triggers go, then the price triggers' values (their status cells,
// the distance or the time fired, stay), then those statuses: code and
// price are left.
static const uint64_t kSets[] = {bits({0, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 14, 16, 17}),
                                 bits({0, 1, 3, 4, 5, 7, 8, 9, 10, 11, 13, 15, 16, 17}),
                                 bits({1, 3, 8, 9, 10, 11, 13, 15, 16, 17}),
                                 kColsNarrow | bits({16, 17}),
                                 kColsNarrow | bits({13, 15}),
                                 kColsNarrow | bits({8, 10}),
                                 kColsNarrow | bits({9, 11}),
                                 0};
static const char *const kTitles[8] = {"Company", "Code", "Code", "Last", "Change", "% Change", "Volume", "Volume"};

static struct {
  pool rows;
  bool ready;
  alerts_grid *grids;
} G;

static alerts_grid *as_grid(widget *w) { return static_cast<alerts_grid *>(w); }
static typeid_t register_alerts();
static typeid_t alerts_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_alerts);
}

alerts_grid *alerts_grid_of(widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), alerts_type()) ? as_grid(w) : nullptr;
}

static window *window_of(alerts_grid *g) {
  return g->parent && window_is(g->parent) ? static_cast<window *>(g->parent) : nullptr;
}

// The window's alert panel shows the current row's triggers and prices: it
// reads them again after the next redraw.
static void refresh_panel(alerts_grid *g) {
  if (window *w = window_of(g)) tools_refresh_later(window_get_tools(w, kRoleAlerts));
}

uint64_t alerts_hidden_columns(uint32_t tf) {
  uint64_t h = 0;
  if (!(tf & ALERT_LOW)) h |= bits({8, 9});
  if (!(tf & ALERT_HIGH)) h |= bits({10, 11});
  if (!(tf & ALERT_VOLUME)) h |= bits({12, 13, 14, 15});
  if (!(tf & ALERT_NEWS)) h |= bits({16, 17});
  return h;
}

// ---- rows ----

struct market_values {
  uint32_t last;
  int32_t change, pct;
  uint64_t volume;
};

static market_values values_of(const alert *a) {
  const instr *in = a->instrument;
  if (in->kind == kKindStock) {
    const ss_stock *s = static_cast<const ss_stock *>(in);
    return {s->last, s->change, s->change_pct, s->volume};
  }
  const ss_index *x = static_cast<const ss_index *>(in);
  return {x->value, x->change, x->change_pct, 0};
}

static void take_values(alerts_row *r) {
  market_values v = values_of(r->a);
  r->last = v.last;
  r->change = v.change;
  r->pct = v.pct;
  r->volume = v.volume;
}

static alerts_row *row_of(alerts_grid *g, const alert *a) {
  for (alerts_row *r = g->rows; r; r = r->next)
    if (r->a == a) return r;
  return nullptr;
}

static void add_row(alerts_grid *g, alert *a) {
  if (row_of(g, a)) return;
  auto *r = static_cast<alerts_row *>(pool_alloc(&G.rows));
  if (!r) {
    log(LOG_ERROR, kSrc, "can't alloc row");
    return;
  }
  *r = alerts_row{};
  r->a = a;
  r->next = g->rows;
  take_values(r);
  g->rows = r;
}

static void remove_row(alerts_grid *g, const alert *a) {
  for (alerts_row **link = &g->rows; *link; link = &(*link)->next)
    if ((*link)->a == a) {
      alerts_row *r = *link;
      *link = r->next;
      for (fade_value &f : r->fades) fade_stop(&f);
      pool_free(&G.rows, r);
      break;
    }
  if (g->current == a) g->current = nullptr;
}

static void remove_rows(alerts_grid *g) {
  while (g->rows) remove_row(g, g->rows->a);
}

// The trigger filter hides columns; the rest take the widest set that fits.
// Names and codes (em columns) are words in the row font; the figures
// (digit columns) are drawn in the value font, so its digits measure them.
static void fit_columns(alerts_grid *g) {
  const style *s = style_cur();
  int32_t em = 0, digit = 0, value_digit = 0;
  font_metrics(&em, &digit, nullptr, nullptr, s ? s->font[0] : 0);
  font_metrics(nullptr, &value_digit, nullptr, nullptr, s ? s->font[1] : 5);
  cols_set_hidden(&g->columns, alerts_hidden_columns(g->trigger_filter));
  cols_fit_metrics(&g->columns, g->r.x, g->r.w, em, std::max(digit, value_digit));
}

// Filters, orders and stacks the rows; the shown count goes to the window.
static void refilter(alerts_grid *g) {
  std::vector<alerts_row *> v;
  for (alerts_row *r = g->rows; r; r = r->next) v.push_back(r);
  std::stable_sort(v.begin(), v.end(), [g](alerts_row *x, alerts_row *y) {
    return alerts_compare(x->a, y->a, g->order, g->trigger_filter) < 0;
  });
  g->rows = nullptr;
  for (auto it = v.rbegin(); it != v.rend(); ++it) {
    (*it)->next = g->rows;
    g->rows = *it;
  }
  int32_t n = 0;
  for (alerts_row *r : v) {
    r->shown = alerts_passes(r->a, g->fired_filter, g->trigger_filter, g->trigger_filter_conjunctive);
    if (r->shown) {
      r->y = g->r.y + (n - g->first_shown) * g->row_h;
      n++;
    }
  }
  g->shown_count = n;
  fit_columns(g);
  if (window *w = window_of(g)) window_set_row_count(w, n);
  widget_redraw(g);
}

void alerts_refilter_all(void) {
  for (alerts_grid *g = G.grids; g; g = g->next_grid) refilter(g);
}

// ---- hooks from the alert list ----

static void on_added(alert *a) {
  for (alerts_grid *g = G.grids; g; g = g->next_grid) add_row(g, a);
  alerts_refilter_all();
}

static void on_removed(alert *a) {
  for (alerts_grid *g = G.grids; g; g = g->next_grid) remove_row(g, a);
  alerts_refilter_all();
}

static int fade_tick(void *arg, uint32_t, int64_t, float) {
  alerts_grid *g = static_cast<alerts_grid *>(arg);
  widget_redraw(g);
  if (g->fades.running) return 1;
  g->fade_timer = -1;
  return 0;  // stops the timer
}

// Starts one cell's fade through the style's ramp k.
static bool flash(alerts_grid *g, fade_value *v, int k) {
  const style *s = style_cur();
  if (!s) return false;
  return fade_restart_style(v, s->ramp[k], &g->fades, g, 0) == 0;
}

// The changed market cells flash in the up or down colour, newly fired
// status cells in the flash colour.
static void flash_row(alerts_grid *g, alerts_row *r, uint32_t fired_now) {
  constexpr int kUp = 5, kDown = 6, kFired = 11;
  const market_values v = values_of(r->a);
  bool any = false;
  auto cell = [&](int f, int64_t was, int64_t now) {
    if (was != now) any |= flash(g, &r->fades[f], now > was ? kUp : kDown);
  };
  cell(ALERT_FADE_LAST, r->last, v.last);
  cell(ALERT_FADE_CHANGE, r->change, v.change);
  cell(ALERT_FADE_PCT, r->pct, v.pct);
  cell(ALERT_FADE_VOLUME, int64_t(r->volume), int64_t(v.volume));
  static const uint32_t kBits[4] = {ALERT_LOW, ALERT_HIGH, ALERT_VOLUME, ALERT_NEWS};
  for (int k = 0; k < 4; k++)
    if (fired_now & kBits[k]) any |= flash(g, &r->fades[ALERT_FADE_LOW + k], kFired);
  take_values(r);
  if (any && g->fade_timer < 0) g->fade_timer = timer_start(0, fade_tick, g, 0);
}

static void on_changed(alert *a, uint32_t fired_now) {
  for (alerts_grid *g = G.grids; g; g = g->next_grid) {
    alerts_row *r = row_of(g, a);
    if (!r) continue;
    if (fired_now) {
      r->fired_bits |= fired_now;
      g->newly_fired = 1;
    }
    flash_row(g, r, fired_now);
    if (r->a == g->current) refresh_panel(g);
  }
  alerts_refilter_all();
}

static void on_edited(alert *a) {
  for (alerts_grid *g = G.grids; g; g = g->next_grid) {
    if (alerts_row *r = row_of(g, a)) {
      r->fired_bits = 0;
      r->shown = 0;
    }
    g->newly_fired = 0;
  }
}

static const alerts_grid_hooks kGridHooks = {on_added, on_removed, on_changed, on_edited};

// ---- cells ----

static const char *name_of(const instr *in) {
  if (!in) return "";
  return in->name1 && in->name1[0] ? in->name1 : in->code;
}

const char *alerts_cell_text(widget *, const alert *a, int column) {
  static char text[100];
  const instr *in = a->instrument;
  const bool stock = in->kind == kKindStock;
  const ss_stock *s = stock ? static_cast<const ss_stock *>(in) : nullptr;
  const ss_index *x = stock ? nullptr : static_cast<const ss_index *>(in);
  const char *t = "";
  switch (column) {
    case 0: t = stock ? name_of(a->issuer ? a->issuer : in) : name_of(in); break;
    case 1:
    case 2: t = in->code; break;
    case 3: t = fmt_price(stock ? s->last : x->value); break;
    // Plain texts (no value-font digits): the grid draws in the text font
    // and the export goes to other programs.
    case 4: t = fmt_change_trimmed(stock ? s->change : x->change); break;
    case 5: {
      const int32_t pct = stock ? s->change_pct : x->change_pct;
      if (pct) {
        snprintf(text, sizeof text, "%+.2f%%", pct / 100.0);
        return text;
      }
      break;
    }
    // The second widths of the volume columns (7, 13, 15) are narrow: they
    // show the abbreviated volume ("12.3M").
    case 6: t = stock ? fmt_volume(s->volume) : ""; break;
    case 7: t = stock ? fmt_volume_short(s->volume) : ""; break;
    case 8: t = a->min_price != kAlertNoPrice ? fmt_price(a->min_price) : ""; break;
    case 9:
      t = a->low_fired ? fmt_time_hms(a->low_fired) : a->low_diff != kAlertNoPrice ? fmt_price(a->low_diff) : "";
      break;
    case 10: t = a->max_price != kAlertNoPrice ? fmt_price(a->max_price) : ""; break;
    case 11:
      t = a->high_fired ? fmt_time_hms(a->high_fired) : a->high_diff != kAlertNoPrice ? fmt_price(a->high_diff) : "";
      break;
    case 12:
    case 13:
      t = a->min_volume == kAlertNoVolume ? "" : column == 12 ? fmt_volume(a->min_volume) : fmt_volume_short(a->min_volume);
      break;
    case 14:
    case 15:
      t = a->volume_fired ? fmt_time_hms(a->volume_fired)
          : a->volume_diff == kAlertNoVolume || a->min_volume == kAlertNoVolume ? ""
          : column == 14 ? fmt_volume(a->volume_diff)
                         : fmt_volume_short(a->volume_diff);
      break;
    case 16: t = a->news ? "NEWS" : ""; break;
    case 17:
      t = a->news_fired ? fmt_time_hms(a->news_fired) : (a->news && s && s->state == kAlertStateNewsDue) ? "PENDING" : "";
      break;
    default: break;
  }
  snprintf(text, sizeof text, "%s", t);
  return text;
}

const char *alerts_column_tip(const alert *a, int column) {
  const bool index = a && a->instrument->kind == kKindIndex;
  switch (column) {
    case 0: return index ? "Short Index Name" : "Short Company Name";
    case 1:
    case 2: return index ? "Index Code" : "Code";
    case 3: return index ? "Last Index Value" : "Last Traded Price";
    case 4: return "Change";
    case 5: return "Percent Change";
    case 6:
    case 7: return "Total Volume";
    case 8: return "Trigger when price hits this or lower";
    case 9:
      return a && a->low_fired ? "Time when price hit low trigger"
                               : "Difference in dollars between current price and low trigger price";
    case 10: return "Trigger when price hits this or higher";
    case 11:
      return a && a->high_fired ? "Time when price hit high trigger"
                                : "Difference in dollars between current price and high trigger price";
    case 12:
    case 13: return "Trigger when volume hits this";
    case 14:
    case 15:
      return a && a->volume_fired ? "Time when volume hit trigger"
                                  : "Difference between current volume and volume trigger";
    case 16: return "Trigger when stock announces";
    case 17:
      return a && a->news_fired ? "Time when stock announced"
                                : "Will show PENDING when the stock is about to announce";
    default: return nullptr;
  }
}

// ---- settings ----

#define GRID_SETTING(name)                                   \
  void alerts_set_##name(widget *w, uint32_t v) {            \
    alerts_grid *g = alerts_grid_of(w);                      \
    if (!g || g->name == v) return;                          \
    g->name = v;                                             \
    refilter(g);                                             \
  }                                                          \
  uint32_t alerts_get_##name(widget *w) {                    \
    alerts_grid *g = alerts_grid_of(w);                      \
    return g ? g->name : 0;                                  \
  }
GRID_SETTING(fired_filter)
GRID_SETTING(trigger_filter)
GRID_SETTING(trigger_filter_conjunctive)
GRID_SETTING(order)
#undef GRID_SETTING

// ---- the current row ----

alert *alerts_get_current(widget *w) {
  alerts_grid *g = alerts_grid_of(w);
  return g ? g->current : nullptr;
}

static alert *current(widget *w) { return alerts_get_current(w); }

int alerts_set_min_price(widget *w, uint32_t v) { return current(w) ? (alerts_change_min_price(current(w), v), 0) : -1; }
int alerts_set_max_price(widget *w, uint32_t v) { return current(w) ? (alerts_change_max_price(current(w), v), 0) : -1; }
int alerts_set_min_volume(widget *w, uint64_t v) {
  return current(w) ? (alerts_change_min_volume(current(w), v), 0) : -1;
}
int alerts_set_news(widget *w, uint32_t v) { return current(w) ? (alerts_change_news(current(w), v), 0) : -1; }
uint32_t alerts_get_min_price(widget *w) { return current(w) ? current(w)->min_price : kAlertNoPrice; }
uint32_t alerts_get_max_price(widget *w) { return current(w) ? current(w)->max_price : kAlertNoPrice; }
uint32_t alerts_get_news(widget *w) { return current(w) ? current(w)->news : 0; }
uint32_t alerts_current_fired(widget *w) { return current(w) ? alerts_fired_bits(current(w)) : 0; }

int alerts_select(widget *w, instr *in) {
  alerts_grid *g = alerts_grid_of(w);
  if (!g) return -1;
  const alert *a = alerts_find(in);
  if (!a || !row_of(g, a)) {
    log(LOG_ERROR, kSrc, "can't find alert row!");
    return -1;
  }
  g->current = const_cast<alert *>(a);
  widget_redraw(g);
  refresh_panel(g);
  return 0;
}

void alerts_clear_current(widget *w) {
  alerts_grid *g = alerts_grid_of(w);
  if (!g || !g->current) return;
  g->current = nullptr;
  widget_redraw(g);
  refresh_panel(g);
}

void alerts_delete_current(widget *w) {
  alert *a = current(w);
  if (!a) return;
  undo_begin();
  alerts_undo_removed(a);
  alert *gone = alerts_remove_alert(a->instrument);
  alerts_free(gone);
  undo_end();
}

void alerts_reset_current(widget *w) {
  if (alert *a = current(w)) alerts_reset(a);
}

int alerts_add_codes(widget *w, const char *text, int add) {
  int n = alerts_codes(text, add);
  if (alerts_grid *g = alerts_grid_of(w)) {
    g->first_shown = 0;
    if (window *win = window_of(g)) window_select_row(win, 0);
    refilter(g);
  }
  return n;
}

int alerts_paste(widget *w) {
  const char *text = clipboard_get_text();
  if (!text || !text[0]) return -1;
  alerts_add_codes(w, text, 1);
  return 0;
}

void alerts_clear_fired_marks(widget *w) {
  for (alerts_grid *g = G.grids; g; g = g->next_grid)
    if (!w || g == alerts_grid_of(w)) {
      g->newly_fired = 0;
      widget_redraw(g);
    }
  alerts_screens_changed();
}

int alerts_any_fired(widget *) { return alerts_any_fired_alert(); }

int32_t alerts_shown_count(widget *w) {
  alerts_grid *g = alerts_grid_of(w);
  return g ? g->shown_count : 0;
}

alert *alerts_shown_at(widget *w, int32_t i) {
  alerts_grid *g = alerts_grid_of(w);
  if (!g) return nullptr;
  for (alerts_row *r = g->rows; r; r = r->next)
    if (r->shown && i-- == 0) return r->a;
  return nullptr;
}

int alerts_export(widget *w) {
  alerts_grid *g = alerts_grid_of(w);
  if (!g) return -1;
  clipboard_reset();
  clipboard_new_row();
  for (int c = 0; c < 8; c++)
    if (g->columns.col[c].shown) clipboard_add_cell(kTitles[c]);
  clipboard_end_row();
  for (alerts_row *r = g->rows; r; r = r->next) {
    if (!r->shown) continue;
    clipboard_new_row();
    for (int c = 0; c < 8; c++)
      if (g->columns.col[c].shown) clipboard_add_cell(alerts_cell_text(w, r->a, c == 7 ? 6 : c));  // whole volumes
    clipboard_end_row();
  }
  return clipboard_put_text();
}

// ---- the widget ----

static int32_t font_of() {
  const style *s = style_cur();
  return s ? s->font[0] : 0;
}

static void g_geometry_changed(widget *self) {
  alerts_grid *g = as_grid(self);
  const style *s = style_cur();
  g->row_h = s && s->line_height > 0 ? s->line_height : 16;
  refilter(g);
}

static void g_reqsize(widget *self, size *out) { *out = {0, as_grid(self)->row_h + 1}; }

static void g_restyle(widget *self) {
  alerts_grid *g = as_grid(self);
  if (window *w = window_of(g)) g->first_shown = int32_t(window_get_selection(w));
  refilter(g);
}

static void g_draw(widget *self) {
  const window_frame_guard frame(self);  // the window's edges, painted over, come back
  alerts_grid *g = as_grid(self);
  const style *s = style_cur();
  const colour bg = s ? style_colour(s, SC_GRID_BACKGROUND) : 0xff202020u;
  const colour fg = s ? style_colour(s, SC_TEXT) : 0xffffffffu;
  const colour sel = s ? style_colour(s, SC_SELECTION) : 0xff604020u;
  const colour fired = s ? style_colour(s, SC_WARNING) : 0xff00c0ffu;
  gfx_fill_rect(g->r.x, g->r.y, g->r.w, g->r.h, bg);
  const int32_t font = font_of(), value_font = s ? s->font[1] : 5;
  static const uint32_t kCellBit[kAlertColumns] = {0, 0, 0, 0, 0, 0, 0, 0, ALERT_LOW, ALERT_LOW, ALERT_HIGH,
                                                   ALERT_HIGH, ALERT_VOLUME, ALERT_VOLUME, ALERT_VOLUME,
                                                   ALERT_VOLUME, ALERT_NEWS, ALERT_NEWS};
  static const int kCellFade[kAlertColumns] = {-1, -1, -1, ALERT_FADE_LAST, ALERT_FADE_CHANGE, ALERT_FADE_PCT,
                                               ALERT_FADE_VOLUME, ALERT_FADE_VOLUME, -1, ALERT_FADE_LOW, -1,
                                               ALERT_FADE_HIGH, -1, -1, ALERT_FADE_VOL_STATUS,
                                               ALERT_FADE_VOL_STATUS, -1, ALERT_FADE_NEWS};
  for (alerts_row *r = g->rows; r; r = r->next) {
    if (!r->shown || r->y < g->r.y || r->y + g->row_h > g->r.y + g->r.h) continue;
    if (r->a == g->current) gfx_fill_rect(g->r.x, r->y, g->r.w, g->row_h, sel);
    const uint32_t f = alerts_fired_bits(r->a);
    for (int c = 0; c < kAlertColumns; c++) {
      const cols_col &col = g->columns.col[c];
      if (!col.shown || col.width <= 0) continue;
      // A fired status cell stands out in the warning colour; a cell whose
      // fade runs is filled with the fade's colour.
      bool hot = (c == 9 || c == 11 || c == 14 || c == 15 || c == 17) && (f & kCellBit[c]);
      if (hot) gfx_fill_rect(col.x0, r->y, col.width, g->row_h, fired);
      const int fi = kCellFade[c];
      if (fi >= 0 && r->fades[fi].state) gfx_fill_rect(col.x0, r->y, col.width, g->row_h, r->fades[fi].shown.c | 0xff000000u);
      const char *text = alerts_cell_text(self, r->a, c);
      if (!text[0]) continue;
      // Figures right-aligned in the value font (small-digit cents), words
      // left in the row font; nothing reaches past its column.
      const bool right = c >= 3;
      const int32_t f = right ? value_font : font;
      font_draw(cols_cell_text(text, f, col.width - 4, right), right ? col.x1 - 2 : col.x0 + 2, r->y + g->row_h / 2,
                right ? 0x41 : 0x40, f, hot ? bg : fg, nullptr);
    }
  }
}

static void link_grid(alerts_grid *g) {
  for (alerts_grid *x = G.grids; x; x = x->next_grid)
    if (x == g) return;
  g->next_grid = G.grids;
  G.grids = g;
}

static void unlink_grid(alerts_grid *g) {
  for (alerts_grid **l = &G.grids; *l; l = &(*l)->next_grid)
    if (*l == g) {
      *l = g->next_grid;
      break;
    }
  g->next_grid = nullptr;
}

static void g_show_children(widget *self) {
  alerts_grid *g = as_grid(self);
  alerts_set_grid_hooks(&kGridHooks);
  link_grid(g);
  for (alert *a = alerts_first(); a; a = a->next) add_row(g, a);
  g->first_shown = 0;
  if (window *w = window_of(g)) window_select_row(w, 0);
  refilter(g);
}

static void stop_fades(alerts_grid *g) {
  fade_stop_owner(&g->fades);
  if (g->fade_timer >= 0) timer_stop(g->fade_timer);
  g->fade_timer = -1;
}

static void g_hide_children(widget *self) {
  alerts_grid *g = as_grid(self);
  stop_fades(g);
  remove_rows(g);
  unlink_grid(g);
}

static alert *alert_at(alerts_grid *g, int32_t y) {
  for (alerts_row *r = g->rows; r; r = r->next)
    if (r->shown && y >= r->y && y < r->y + g->row_h) return r->a;
  return nullptr;
}

static alerts_row *row_at(alerts_grid *g, int32_t y) {
  for (alerts_row *r = g->rows; r; r = r->next)
    if (r->shown && y >= r->y && y < r->y + g->row_h) return r;
  return nullptr;
}

// The code column shown (the first or the second width), or null.
static const cols_col *code_column(const alerts_grid *g) {
  for (int c : {1, 2})
    if (g->columns.col[c].shown && g->columns.col[c].width > 0) return &g->columns.col[c];
  return nullptr;
}

// The issuer flags' icon of a stock's row: the last 10 pixels of the code
// column, when the issuer has any announcement flag.
constexpr int32_t kIssuerIconWidth = 10;
static bool on_issuer_icon(const alerts_grid *g, const alert *a, int32_t x) {
  const cols_col *c = code_column(g);
  if (!c || !a || !a->issuer || a->instrument->kind != kKindStock) return false;
  if (!(a->issuer->flags & (kInNewsFlag1 | kInNewsFlag4 | kInNewsPlain))) return false;
  const int32_t end = c->x0 + c->width;
  return x >= end - kIssuerIconWidth && x < end;
}

static ss_news *latest_news(instr *issuer) {
  if (!issuer || issuer->kind != kKindIssuer) return nullptr;
  for (ss_news *n = static_cast<ss_issuer *>(issuer)->news.tail; n; n = n->prev)
    if (n->time) return n;
  return nullptr;
}

static void hide_popups(alerts_grid *g) {
  popups_hover_end(g);
  screen_hide_gendtl();
}

// A click on the issuer-flags icon: the issuer's latest announcement in
// the popup document, or without one the issuer's announcements in the
// window (one undo step).
static void open_issuer_news(alerts_grid *g, alert *a) {
  ss_issuer *is = static_cast<ss_issuer *>(a->issuer);
  if (ss_news *latest = latest_news(a->issuer)) {
    const int n = screen_index_of(g);
    const bool pushed = n >= 0 && n != screen_current_index() && screen_push(n);
    screen_show_news_popup(is, latest, 0);
    if (pushed) screen_pop();
    return;
  }
  window *w = window_of(g);
  if (!w) return;
  undo_push_window(w);
  window_set_role(w, kRoleHistnews);
  window_set_instrument(w, is);
}

// A click makes the row current (below the rows: none); with shift the
// row's instrument is shown in every window of the desktop instead. On the
// issuer flags' icon the issuer's latest announcement opens in the popup
// document, or without one the window lists the issuer's news.
static void g_release(widget *self, int32_t x, int32_t y, int button) {
  alerts_grid *g = as_grid(self);
  if (button != 1) return;
  alert *a = alert_at(g, y);
  if (a && on_issuer_icon(g, a, x) && !(key_modifiers() & 4)) {
    hide_popups(g);
    open_issuer_news(g, a);
    return;
  }
  if (a && (key_modifiers() & 4)) {
    action_show_everywhere(a->instrument);
    return;
  }
  g->current = a;
  widget_redraw(g);
  refresh_panel(g);
}

// Hover: on the issuer flags' icon the issuer's news of the day in the
// general detail popup; over the code a preview of the instrument (a
// stock's depth, an index's day chart); elsewhere, or with a button down,
// both close.
static void hover(alerts_grid *g, int32_t x, int32_t y) {
  alerts_row *r = gui_mouse_buttons() ? nullptr : row_at(g, y);
  const cols_col *c = code_column(g);
  if (!r || !c) {
    hide_popups(g);
    return;
  }
  const alert *a = r->a;
  if (on_issuer_icon(g, a, x)) {
    popups_hover_end(g);
    const int32_t end = c->x0 + c->width;
    screen_set_popup_anchor(end - kIssuerIconWidth, r->y, kIssuerIconWidth, g->row_h, kSideRight | kSideBelow);
    screen_show_gendtl_range(end, r->y + g->row_h, a->issuer);
  } else if (x >= c->x0 && x < c->x0 + c->width && !popups_widget_in_popup(g)) {
    screen_hide_gendtl();
    const rect cell = {c->x0, r->y, c->width, g->row_h};
    popups_set_owner(g);
    popups_set_anchor_rect(&cell, kSideCentre | kSideBelow, 0);
    if (a->instrument->kind == kKindStock)
      popups_push_depth(a->instrument, 0);
    else
      popups_push_day_chart(a->instrument, 0);
  } else {
    hide_popups(g);
  }
}

// The pointer over a cell shows the column's tip; leaving hides it.
static void g_motion(widget *self, int32_t x, int32_t y) {
  alerts_grid *g = as_grid(self);
  const alert *a = alert_at(g, y);
  const char *tip = nullptr;
  for (int c = 0; a && c < kAlertColumns; c++) {
    const cols_col &col = g->columns.col[c];
    if (col.shown && col.width > 0 && x >= col.x0 && x < col.x0 + col.width) tip = alerts_column_tip(a, c);
  }
  if (tip)
    tooltip_show_text(tip);
  else
    tooltip_hide_text();
  hover(g, x, y);
  widget_redraw(g);
}

static void g_leave(widget *self) {
  tooltip_hide_text();
  hide_popups(as_grid(self));
  widget_redraw(self);
}

// From the issuer-flags icon the issuer's latest announcement (or the
// issuer without one); elsewhere the row's instrument.
static int g_drag_begin(widget *self, int32_t x, int32_t y, int, drag_record *d) {
  alerts_grid *g = as_grid(self);
  alert *a = alert_at(g, y);
  if (!a) return 0;
  if (on_issuer_icon(g, a, x)) {
    ss_issuer *is = static_cast<ss_issuer *>(a->issuer);
    if (ss_news *latest = is->news.tail)
      dnd_begin_news(is, latest);
    else
      dnd_begin_issuer(is);
  } else {
    dnd_begin_instr(a->instrument);
  }
  d->w = self;
  return 1;
}

// A row dropped on a remover loses its alert, recorded for undo.
static int g_drag_release(widget *self, widget *target, int32_t, int32_t, int, drag_record *) {
  const uint32_t kind = dnd_kind();
  if (!screen_is_remover(target) || (kind != DND_STOCK && kind != DND_INDEX)) return 1;
  alert *a = alerts_find(dnd_object());
  if (!a) return 0;
  undo_begin();
  alerts_undo_removed(a);
  alerts_free(alerts_remove_alert(a->instrument));
  undo_end();
  refresh_panel(as_grid(self));
  return 0;
}

static void g_drop(widget *self, int32_t, int32_t, int, drag_record *) {
  if (dnd_kind() != DND_STOCK) return;
  instr *in = dnd_object();
  undo_begin();
  if (alerts_add_default(in) == 0) alerts_undo_added(alerts_find(in));
  undo_end();
  alerts_select(self, in);
}

static void g_init(object *o) {
  alerts_grid *g = reinterpret_cast<alerts_grid *>(o);
  g->fired_filter = 4;
  g->trigger_filter = 31;
  g->trigger_filter_conjunctive = 0;
  g->order = 0;
  g->row_h = 16;
  cols_init(&g->columns, kWidths, kSets);
  cols_set_hidden(&g->columns, alerts_hidden_columns(g->trigger_filter));
  g->fade_timer = -1;
  fade_owner_add(&g->fades, [](fade_value *, void *arg, uint32_t) { widget_redraw(static_cast<widget *>(arg)); });
}

static void g_fini(object *o) {
  alerts_grid *g = reinterpret_cast<alerts_grid *>(o);
  stop_fades(g);
  fade_owner_remove(&g->fades);
  remove_rows(g);
  unlink_grid(g);
  cols_fini(&g->columns);
}

static void alerts_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->geometry_changed = g_geometry_changed;
  c->reqsize = g_reqsize;
  c->draw = g_draw;
  c->restyle = g_restyle;
  c->show_children = g_show_children;
  c->hide_children = g_hide_children;
  c->drag_begin = g_drag_begin;
  c->drag_release = g_drag_release;
  c->drop = g_drop;
  c->release = g_release;
  c->motion = g_motion;
  c->leave = g_leave;
}

static void alerts_class_fini(object_class *) {
  alerts_fini();
  if (G.ready) pool_destroy(&G.rows);
  G.ready = false;
  G.grids = nullptr;
}

static typeid_t register_alerts() {
  if (!G.ready) {
    if (pool_init(&G.rows, kRowsPerPage, sizeof(alerts_row)) < 0) return -1;
    G.ready = true;
  }
  alerts_init();
  alerts_set_grid_hooks(&kGridHooks);
  return object_register_class("alerts", widget_type(), sizeof(alerts_grid), g_init, g_fini, sizeof(widget_class),
                               alerts_class_init, alerts_class_fini);
}

widget *alerts_new(widget *parent) { return widget_new(parent, alerts_type()); }
