// The ticker panel. Its controls are made once; every button carries the id
// that names its effect on the edited ticker (one undo step of the panel
// and the ticker's settings), the bound fields store typed amounts without
// undo. Typed amounts are read as exact decimals by the tools' shared
// helper. Which ticker is edited is the panel's own state: a market ticker
// of the bar, or the alerts ticker, for which only "Show" means anything,
// so refresh hides the other sections.
#include "tools/tickertools.h"

#include <cstdio>
#include <initializer_list>

#include "popups/place.h"
#include "screen/tickbar.h"
#include "screen/ticker.h"
#include "ssuser.h"
#include "style.h"
#include "tools/panelkit.h"
#include "ui/flyaway.h"
#include "ui/gui.h"
#include "ui/label.h"
#include "ui/sizer.h"
#include "ui/textbox.h"
#include "undo.h"

// Class slots over the tools class: refresh and build (no summary: the bar
// has no title).
static void tt_refresh(tools *self);
static widget *tt_build(tools *self);

static struct {
  object_type_cache type;
} S;

constexpr int32_t kIdAlerts = 34;
constexpr int32_t kIdGroups = 33;
// Bound fields: price, volume, value, minimum then maximum.
constexpr int32_t kBoundIds[kTicktoolsBounds] = {12, 13, 14, 15, 16, 17};

static ticktools *as_tt(widget *w) { return static_cast<ticktools *>(w); }

ticker *ticktools_ticker(ticktools *p) {
  if (p->ticker == kTicktoolsAlerts) return tickbar_alert_ticker(p->owner);
  return tickbar_get_ticker(p->owner, p->ticker);
}

// ---- the effects of the ids ------------------------------------------------------

int ticktools_apply_id(ticker *t, int32_t id, int on) {
  if (!t) return -1;
  switch (id) {
    case 4: ticker_set_show(t, TICKER_SHOW_SHOW); return 0;
    case 5: ticker_set_show(t, TICKER_SHOW_AUTO); return 0;
    case 6: ticker_set_show(t, TICKER_SHOW_HIDE); return 0;
    case 7: ticker_set_exchange(t, 0, on); return 0;
    case 8: ticker_set_exchange(t, 1, on); return 0;
    case 9: ticker_set_instr_filter_bit(t, 4, on); return 0;
    case 10: ticker_set_instr_filter_bit(t, 2, on); return 0;
    case 11: ticker_set_instr_filter_bit(t, 1, on); return 0;
    case 29: ticker_set_index_filter_bit(t, 1, on); return 0;
    case 30: ticker_set_index_filter_bit(t, 2, on); return 0;
    case 31: ticker_set_index_filter_bit(t, 4, on); return 0;
    case 32:
      ticker_set_instr_filter_bit(t, 1, 0);
      ticker_set_index_filter(t, 0);
      return 0;
    case 18: ticker_set_news_filter_bit(t, 1, on); return 0;
    case 19: ticker_set_news_filter_bit(t, 2, on); return 0;
    case 20: ticker_set_news_filter_bit(t, 4, on); return 0;
    case 21: ticker_set_news_filter(t, 0); return 0;
    case 26: ticker_set_quote_filter_bit(t, 1, on); return 0;
    case 25: ticker_set_quote_filter_bit(t, 2, on); return 0;
    case 23: ticker_set_quote_filter(t, 0); return 0;
    case 22: ticker_set_trade_filter(t, 0); return 0;
    case 27: ticker_set_trade_filter(t, 1); return 0;
    case 28: ticker_set_trade_filter(t, 2); return 0;
    case 24: ticker_set_trade_filter(t, 3); return 0;
    default: return -1;
  }
}

void ticktools_on_button(button *b, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<ticktools *>(arg);
  ticker *t = ticktools_ticker(p);
  undo_begin();
  undo_push_tools(p);
  if (t) undo_push_ticker(t);
  undo_end();
  if (id >= 0 && id <= 3) {
    p->ticker = id;
  } else if (id == kIdAlerts) {
    p->ticker = kTicktoolsAlerts;
  } else if (id == kIdGroups) {
    // The group bar is its own undo step: the group just opened goes.
    undo_cancel();
    if (t) screen_show_groupbar_b(t, b->r.x + b->r.w - b->r.h / 2, b->r.y + b->r.h / 2);
  } else {
    ticktools_apply_id(t, id, panelkit_is_on(b));
  }
  tools_refresh_later(p);
}

void ticktools_on_entry(textbox *tb, int code, void *arg, int32_t id) {
  if (code != TEXTBOX_ENTER && code != TEXTBOX_LEFT) return;
  auto *p = static_cast<ticktools *>(arg);
  ticker *t = ticktools_ticker(p);
  if (!t) return;
  const char *text = textbox_text(tb);
  uint64_t v = 0;
  const bool price = id == 12 || id == 13, volume = id == 14 || id == 15;
  int r = volume ? tools_parse_count(text, kTickerNoBound - 1, &v)
                 : tools_parse_cents(text, price ? kTickerNoPrice - 1 : kTickerNoBound - 1, &v);
  if (r < 0) {
    // Text that is no amount changes nothing: the field shows the bound again.
    tt_refresh(p);
    return;
  }
  const bool none = r == 1;
  switch (id) {
    case 12: ticker_set_min_price(t, none ? kTickerNoPrice : uint32_t(v)); break;
    case 13: ticker_set_max_price(t, none ? kTickerNoPrice : uint32_t(v)); break;
    case 14: ticker_set_min_volume(t, none ? kTickerNoBound : v); break;
    case 15: ticker_set_max_volume(t, none ? kTickerNoBound : v); break;
    case 16: ticker_set_min_value(t, none ? kTickerNoBound : v); break;
    case 17: ticker_set_max_value(t, none ? kTickerNoBound : v); break;
    default: break;
  }
}

// ---- build ---------------------------------------------------------------------------

static widget *tt_build(tools *self) {
  ticktools *p = as_tt(self);
  panelkit k;
  k.arg = p;
  button_group_init(&p->tickers);
  button_group_init(&p->show);
  button_group_init(&p->trades);
  auto add = [&](const char *text, int32_t id, button_group *g = nullptr, uint32_t style = 0) {
    return panelkit_button(&k, text, id, g, style, ticktools_on_button);
  };
  auto toggle = [&](const char *text, int32_t id) { return add(text, id, nullptr, BUTTON_TOGGLE); };
  hbox *top = hbox_new(nullptr, 0, 2);
  // The ticker chooser stands before the sections, two buttons a column.
  k.row = top;
  add("Alerts", kIdAlerts, &p->tickers);
  for (int32_t i = 0; i < 4; i++) {
    char name[16];
    snprintf(name, sizeof name, "Ticker %d", int(i + 1));
    add(name, i, &p->tickers);
  }
  button_group_select(&p->tickers, 0);
  // The sections take the rest of the row (the chooser keeps its width).
  padding none;
  padding_set(&none, 0, 0, 0, 0);
  sizer *rest = sizer_new(top, SIZER_FILL_W | SIZER_FILL_H | SIZER_EXPAND_V, nullptr, &none, 0.0f);
  p->box = k.box = fbox_new(rest, 1, 2);

  p->section[TICKTOOLS_SHOW] = panelkit_section(&k, "Show");
  add("Always", 4, &p->show);
  p->when_open = add("When Open", 5, &p->show);
  add("Never", 6, &p->show);

  p->section[TICKTOOLS_SELECT] = panelkit_section(&k, "Select");
  if (ssuser_multi_exchange()) {
    p->asx = toggle("ASX", 7);
    p->nzx = toggle("NZX", 8);
  }
  p->groups = toggle("Groups", kIdGroups);
  p->derivs = toggle("Derivatives", 10);
  p->indices = toggle("Indices", 11);

  p->section[TICKTOOLS_TRADES] = panelkit_section(&k, "Trades");
  {
    // A column of captions, then one column per bound kind (its title,
    // the minimum, the maximum).
    vbox *captions = vbox_new(k.row, 0, 1);
    for (const char *t : {"k,t,m,b", "Min", "Max"}) panelkit_caption(captions, t, 0);
    const char *kinds[] = {"Price", "Volume", "Value"};
    for (int r = 0; r < 3; r++) {
      vbox *col = vbox_new(k.row, 0, 1);
      panelkit_caption(col, kinds[r], 0);
      for (int j = 0; j < 2; j++) {
        uint32_t flags = TEXTBOX_NUMERIC | TEXTBOX_MAGNITUDE | (r == 0 ? uint32_t(TEXTBOX_PLAIN) : 0u);
        p->bound[r * 2 + j] = textbox_new(col, "", 8, flags, nullptr, nullptr, ticktools_on_entry, p,
                                          kBoundIds[r * 2 + j]);
      }
    }
    add("All Trades", 27, &p->trades);
    add("On Market", 28, &p->trades);
    add("Change Only", 24, &p->trades);
    p->trades_none = toggle("None", 22);
  }

  p->section[TICKTOOLS_QUOTES] = panelkit_section(&k, "Quotes");
  p->top_level = toggle("Top Level", 26);
  p->change = toggle("Change", 25);
  p->quotes_none = toggle("None", 23);

  p->section[TICKTOOLS_INDICES] = panelkit_section(&k, "Indices");
  p->major = toggle("Major", 29);
  p->sector = toggle("Sector", 30);
  p->other = toggle("Other", 31);
  p->indices_none = toggle("None", 32);

  p->section[TICKTOOLS_NEWS] = panelkit_section(&k, "News");
  p->sensitive = toggle("Sensitive", 18);
  p->related = toggle("Related", 19);
  p->regular = toggle("Regular", 20);
  p->news_none = toggle("None", 21);
  return top;
}

// ---- refresh ------------------------------------------------------------------------

static void tt_refresh(tools *self) {
  ticktools *p = as_tt(self);
  panelkit_select(&p->tickers, p->ticker == kTicktoolsAlerts ? kIdAlerts : p->ticker);
  ticker *t = ticktools_ticker(p);
  if (!t) return;
  // Without an index filter the ticker carries no indices.
  if (ticker_get_index_filter(t) == 0) t->instr_filter &= ~1u;
  const uint32_t show = ticker_get_show(t);
  panelkit_select(&p->show, show == 0 ? 6 : show == 1 ? 5 : show == 2 ? 4 : -1);
  panelkit_show_on(p->asx, ticker_get_exchange(t, 0));
  panelkit_show_on(p->nzx, ticker_get_exchange(t, 1));
  const uint32_t c = ticker_get_instr_filter(t);
  panelkit_show_on(p->derivs, (c & 2) != 0);
  panelkit_show_on(p->indices, (c & 1) != 0);
  panelkit_show_on(p->groups, ticker_has_group_filter(t));
  const uint32_t tf = ticker_get_trade_filter(t);
  panelkit_select(&p->trades, tf == 3 ? 24 : tf == 2 ? 28 : tf == 1 ? 27 : -1);
  panelkit_show_on(p->trades_none, tf == 0);
  const uint32_t q = ticker_get_quote_filter(t);
  panelkit_show_on(p->top_level, (q & 1) != 0);
  panelkit_show_on(p->change, (q & 2) != 0);
  panelkit_show_on(p->quotes_none, q == 0);
  const uint32_t x = ticker_get_index_filter(t);
  panelkit_show_on(p->major, (x & 1) != 0);
  panelkit_show_on(p->sector, (x & 2) != 0);
  panelkit_show_on(p->other, (x & 4) != 0);
  panelkit_show_on(p->indices_none, x == 0);
  const uint32_t n = ticker_get_news_filter(t);
  // Sensitive news is the narrowest choice: it stands alone.
  const bool sensitive = (n & 1) != 0;
  panelkit_show_on(p->sensitive, sensitive);
  panelkit_show_on(p->related, !sensitive && (n & 2));
  panelkit_show_on(p->regular, !sensitive && (n & 4));
  panelkit_show_on(p->news_none, !sensitive && n == 0);
  button_set_sensitive(p->related, !sensitive);
  button_set_sensitive(p->regular, !sensitive);
  uint32_t lo = ticker_get_min_price(t), hi = ticker_get_max_price(t);
  panelkit_show_amount(p->bound[0], lo, lo == kTickerNoPrice, true);
  panelkit_show_amount(p->bound[1], hi, hi == kTickerNoPrice, true);
  uint64_t b[4] = {ticker_get_min_volume(t), ticker_get_max_volume(t), ticker_get_min_value(t),
                   ticker_get_max_value(t)};
  for (int i = 0; i < 4; i++) panelkit_show_amount(p->bound[2 + i], b[i], b[i] == kTickerNoBound, i >= 2);
  const bool market = ticker_get_mode(t) == 0;
  button_set_sensitive(p->when_open, market);
  // "When Open" may just have lost its selection by going insensitive.
  if (market) panelkit_select(&p->show, show == 0 ? 6 : show == 1 ? 5 : show == 2 ? 4 : -1);
  for (int k = TICKTOOLS_SELECT; k < kTicktoolsSections; k++)
    if (p->section[k]) fbox_show_flyaway(p->box, p->section[k], market ? 1 : 0);
}

// ---- class -----------------------------------------------------------------------------

static void tt_class_init(object_class *rec) {
  // No summary: the ticker bar has no title.
  panelkit_set_ops(rec, tools_base()->summary, tt_refresh, tt_build);
}

static typeid_t register_ticktools() { return panelkit_register("ticktools", sizeof(ticktools), tt_class_init); }

typeid_t ticktools_type() { return object_cached_type(&S.type, register_ticktools); }

ticktools *ticktools_new(widget *tickbar, widget *owner) {
  // The panel starts on market ticker 1 (its zeroed `ticker`).
  return static_cast<ticktools *>(panelkit_new_panel(tickbar, ticktools_type(), owner));
}

button *ticktools_button(ticktools *p, int32_t id) { return panelkit_find_button(p, id); }

bool ticktools_section_shown(ticktools *p, int section) {
  return section >= 0 && section < kTicktoolsSections && panelkit_section_shown(p->box, p->section[section]);
}
