// The index, option and forex list panels. They hold only their controls:
// every setting lives in the list window and is read back through its
// getters on refresh. The index panel's two sections reuse ids, so each
// section has its own callback and the ids never meet. The index panel edits
// its own window only; the option panel's edits are linked changes of the
// option-list role (Shift reaches every option list of the desktop, one
// undo step for all).
#include "tools/listtools.h"

#include <cstdio>
#include <string>

#include "ssmodel.h"
#include "ssuser.h"
#include "tools/panelkit.h"
#include "undo.h"
#include "windows/indexlist.h"
#include "windows/optionlist.h"
#include "windows/window.h"

static struct {
  object_type_cache index_type, option_type, forex_type;
  std::string summary;  // the summaries' scratch text
} S;

// The summary's text without the first piece's leading ", ".
static const char *summary_text() { return S.summary.size() >= 2 ? S.summary.c_str() + 2 : ""; }

// ==== index panel =================================================================

static indexlist *index_of(tools *p) { return indexlist_cast(p->owner); }

int indextools_apply_select(indexlist *l, int32_t id, int on) {
  if (!l) return -1;
  switch (id) {
    case INDEXTOOLS_MAJOR: case INDEXTOOLS_SECTORIAL: case INDEXTOOLS_OTHER:
      indexlist_set_filter_bits(l, 1u << id, on);
      return 0;
    case INDEXTOOLS_ASX: case INDEXTOOLS_NZX: case INDEXTOOLS_GLOBAL:
      indexlist_set_exchange_shown(l, id - INDEXTOOLS_ASX, on);
      return 0;
    default: return -1;
  }
}

// List order of each Order button.
struct index_order_row {
  int32_t id;
  uint32_t order;
};
constexpr index_order_row kIndexOrders[] = {
    {INDEXTOOLS_PCT_CHANGE, 3}, {INDEXTOOLS_CHANGE, 2}, {INDEXTOOLS_CODE, 1}, {INDEXTOOLS_NAME, 12}};

int indextools_apply_order(indexlist *l, int32_t id, int on) {
  if (!l) return -1;
  if (id == INDEXTOOLS_REVERSE) {
    indexlist_set_reversed(l, on ? 1 : 0);
    return 0;
  }
  for (const index_order_row &r : kIndexOrders)
    if (r.id == id) {
      indexlist_set_order(l, r.order);
      return 0;
    }
  return -1;
}

int32_t indextools_order_id(uint32_t order) {
  for (const index_order_row &r : kIndexOrders)
    if (r.order == order) return r.id;
  return -1;
}

const char *indextools_summary(const indexlist *l) {
  std::string &o = S.summary;
  o.clear();
  if (!l) return "";
  uint32_t f = indexlist_get_index_filter(l);
  if (f != 0 && f != 7) {
    static const char *const kNames[3] = {"MAJOR", "SECTOR", "OTHER"};
    std::string names;
    for (int b = 0; b < 3; b++)
      if (f & (1u << b)) names += std::string(names.empty() ? "" : " OR ") + kNames[b];
    if (!names.empty()) o += ", " + names + " ONLY";
  }
  // Exchanges 0 and 1 have a button only for a user permitted them; the
  // global one always has.
  bool every = indexlist_get_exchange_shown(l, 2);
  for (int i = 0; i < 2; i++)
    if (ssuser_exchange_permitted(i) && !indexlist_get_exchange_shown(l, i)) every = false;
  if (!every) {
    int named = 0;
    for (int i = 0; i < 3; i++) {
      if (!indexlist_get_exchange_shown(l, i)) continue;
      const char *name = ssmodel_exchange_display_name(i);
      o += ", ";
      o += name ? name : "";
      named++;
    }
    if (named) o += " ONLY";
  }
  return summary_text();
}

// One undo step of the panel's own window (never spread by Shift): the
// panel, then the list.
static void index_group(indextools *p) {
  undo_begin();
  undo_push_tools(p);
  undo_push_indexlist(p->owner);
  undo_end();
}

// A click in either section: the section's own id table applies it.
static void index_command(button *b, uint32_t state, void *arg, int32_t id, int (*apply)(indexlist *, int32_t, int)) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<indextools *>(arg);
  indexlist *l = index_of(p);
  if (!l) return;
  index_group(p);
  apply(l, id, panelkit_is_on(b));
  tools_refresh_later(p);
}

static void on_index_select(button *b, uint32_t state, void *arg, int32_t id) {
  index_command(b, state, arg, id, indextools_apply_select);
}

static void on_index_order(button *b, uint32_t state, void *arg, int32_t id) {
  index_command(b, state, arg, id, indextools_apply_order);
}

static widget *ix_build(tools *self) {
  auto *p = static_cast<indextools *>(self);
  panelkit k;
  p->box = panelkit_begin(&k, p);
  const uint32_t t = BUTTON_TOGGLE;
  panelkit_section(&k, "Select");
  if (ssuser_exchange_permitted(0)) p->asx = panelkit_button(&k, "ASX", INDEXTOOLS_ASX, nullptr, t, on_index_select);
  if (ssuser_exchange_permitted(1)) p->nzx = panelkit_button(&k, "NZX", INDEXTOOLS_NZX, nullptr, t, on_index_select);
  p->global = panelkit_button(&k, "Global", INDEXTOOLS_GLOBAL, nullptr, t, on_index_select);
  p->major = panelkit_button(&k, "Major", INDEXTOOLS_MAJOR, nullptr, t, on_index_select);
  p->sectorial = panelkit_button(&k, "Sectorial", INDEXTOOLS_SECTORIAL, nullptr, t, on_index_select);
  p->other = panelkit_button(&k, "Other", INDEXTOOLS_OTHER, nullptr, t, on_index_select);

  panelkit_section(&k, "Order");
  button_group_init(&p->order);
  panelkit_button(&k, "% Change", INDEXTOOLS_PCT_CHANGE, &p->order, 0, on_index_order);
  panelkit_button(&k, "Change", INDEXTOOLS_CHANGE, &p->order, 0, on_index_order);
  panelkit_button(&k, "Code", INDEXTOOLS_CODE, &p->order, 0, on_index_order);
  panelkit_button(&k, "Name", INDEXTOOLS_NAME, &p->order, 0, on_index_order);
  p->reverse = panelkit_button(&k, "Reverse", INDEXTOOLS_REVERSE, nullptr, t, on_index_order);
  return p->box;
}

static void ix_refresh(tools *self) {
  auto *p = static_cast<indextools *>(self);
  indexlist *l = index_of(p);
  if (!l) return;
  uint32_t f = indexlist_get_index_filter(l);
  panelkit_show_on(p->major, f & 1);
  panelkit_show_on(p->sectorial, f & 2);
  panelkit_show_on(p->other, f & 4);
  panelkit_show_on(p->asx, indexlist_get_exchange_shown(l, 0));
  panelkit_show_on(p->nzx, indexlist_get_exchange_shown(l, 1));
  panelkit_show_on(p->global, indexlist_get_exchange_shown(l, 2));
  panelkit_select(&p->order, indextools_order_id(indexlist_get_order(l)));
  panelkit_show_on(p->reverse, indexlist_get_reversed(l));
}

static const char *ix_summary(tools *self) { return indextools_summary(index_of(self)); }

static void ix_class_init(object_class *rec) { panelkit_set_ops(rec, ix_summary, ix_refresh, ix_build); }
static typeid_t register_indextools() { return panelkit_register("indextools", sizeof(indextools), ix_class_init); }
typeid_t indextools_type() { return object_cached_type(&S.index_type, register_indextools); }

indextools *indextools_new(widget *parent, widget *owner) {
  return static_cast<indextools *>(panelkit_new_panel(parent, indextools_type(), owner));
}

// ==== option panel ================================================================

// The filter-bit toggles: id, bit, label, section (0 Select, 1 Strike).
struct option_toggle_row {
  int32_t id;
  uint32_t bit;
  const char *text;
  int section;
};
constexpr option_toggle_row kOptionToggles[kOptiontoolsToggles] = {
    {1, OPT_CALLS, "Calls", 0},         {2, OPT_PUTS, "Puts", 0},
    {3, OPT_NEITHER, "Other", 0},       {4, OPT_ATTR10, "Options", 0},
    {5, OPT_ATTR8, "Warrants", 0},      {6, OPT_CLASS_QUOTED, "Quoted", 0},
    {7, OPT_CLASS_TRADED, "Traded", 0}, {16, OPT_WITH_INTEREST, "Open Int", 0},
    {8, OPT_IN_MONEY, "In the money", 1}, {10, OPT_AT_MONEY, "At the money", 1},
    {9, OPT_OUT_MONEY, "Out of the money", 1}};

// The Order buttons in their build order, with the order each sets.
struct option_order_row {
  int32_t id;
  uint32_t order;
  const char *text;
};
constexpr option_order_row kOptionOrders[] = {{12, 2, "Strike"},   {11, 1, "Expiry"},   {14, 3, "Intrinsic"},
                                              {17, 5, "Open Int"}, {13, 0, "Alphabet"}, {15, 4, "Volume"}};
constexpr int32_t kExpiryAny = 100, kExpiryLast = 112;

static optionlist *option_of(tools *p) { return optionlist_cast(p->owner); }

uint32_t optiontools_bit(int32_t id) {
  for (const option_toggle_row &r : kOptionToggles)
    if (r.id == id) return r.bit;
  return 0;
}

int32_t optiontools_order_id(uint32_t order) {
  for (const option_order_row &r : kOptionOrders)
    if (r.order == order) return r.id;
  return -1;
}

int optiontools_apply_id(optionlist *o, int32_t id, int on) {
  if (!o) return -1;
  if (uint32_t bit = optiontools_bit(id)) {
    optionlist_set_filter_bits(o, bit, on);
    return 0;
  }
  for (const option_order_row &r : kOptionOrders)
    if (r.id == id) {
      optionlist_set_order(o, r.order);
      return 0;
    }
  if (id >= kExpiryAny && id <= kExpiryLast) {
    optionlist_set_max_expiry_months(o, uint32_t(id - kExpiryAny));
    return 0;
  }
  return -1;
}

const char *optiontools_summary(const optionlist *o) {
  std::string &s = S.summary;
  s.clear();
  if (!o) return "";
  s += ", DERIVS";
  static const char *const kOrderText[6] = {", ALPHABETICAL", ", BY EXPIRY",     ", BY STRIKE",
                                            ", BY INTRINSIC", ", BY VOLUME", ", BY OPEN INTEREST"};
  uint32_t order = optionlist_get_order(o);
  if (order < 6) s += kOrderText[order];
  uint32_t f = optionlist_get_filter(o);
  if (!(f & OPT_CALLS)) s += ", NO CALLS";
  if (!(f & OPT_PUTS)) s += ", NO PUTS";
  if (!(f & OPT_NEITHER)) s += ", NO OTHERS";
  if (!(f & OPT_ATTR10)) s += ", NO OPTIONS";
  if (!(f & OPT_ATTR8)) s += ", NO WARRANTS";
  if (f & OPT_CLASS_QUOTED) s += ", QUOTED";
  if (f & OPT_CLASS_TRADED) s += ", TRADED TODAY";
  if (f & OPT_WITH_INTEREST) s += ", HAS OPEN INTEREST";
  bool in = f & OPT_IN_MONEY, at = f & OPT_AT_MONEY, out = f & OPT_OUT_MONEY;
  if ((in || at || out) && !(in && at && out)) {
    if (in) s += at ? ", IN OR AT THE MONEY" : ", IN THE MONEY";
    else if (at) s += out ? ", AT OR OUT OF THE MONEY" : ", AT THE MONEY";
    else s += ", OUT OF THE MONEY";
  }
  uint32_t m = optionlist_get_max_expiry_months(o);
  if (m == 12) {
    s += ", EXPIRES IN LESS THAN 1 YEAR";
  } else if (m != 0) {
    char b[64];
    snprintf(b, sizeof b, ", EXPIRIES IN LESS THAN %u MONTHS", m);
    s += b;
  }
  return summary_text();
}

static int push_optionlist(widget *content) { return undo_push_optionlist(content); }

static void on_option(button *b, uint32_t state, void *arg, int32_t id) {
  if (!panelkit_is_click(state)) return;
  auto *p = static_cast<optiontools *>(arg);
  if (!option_of(p)) return;
  int on = panelkit_is_on(b);
  tools_link_begin(p->owner, kRoleOptionlist);
  undo_begin();
  tools_link_push_undo(push_optionlist);
  undo_end();
  for (int32_t i = 0; i < tools_link_count(); i++)
    optiontools_apply_id(optionlist_cast(tools_link_content(i)), id, on);
  tools_link_apply();
}

static widget *op_build(tools *self) {
  auto *p = static_cast<optiontools *>(self);
  panelkit k;
  p->box = panelkit_begin(&k, p);
  button_group_init(&p->expiry);
  button_group_init(&p->order);
  panelkit_section(&k, "Select");
  for (int i = 0; i < kOptiontoolsToggles; i++)
    if (kOptionToggles[i].section == 0)
      p->toggle[i] = panelkit_button(&k, kOptionToggles[i].text, kOptionToggles[i].id, nullptr, BUTTON_TOGGLE, on_option);

  panelkit_section(&k, "Expiry");
  static const char *const kExpiryText[13] = {"1 Month", "2", "3", "4", "5", "6", "7",
                                              "8",       "9", "10", "11", "1 Year", "Any"};
  for (int i = 0; i < 13; i++) {
    int32_t id = i < 12 ? kExpiryAny + 1 + i : kExpiryAny;
    panelkit_button(&k, kExpiryText[i], id, &p->expiry, 0, on_option);
  }

  panelkit_section(&k, "Strike");
  for (int i = 0; i < kOptiontoolsToggles; i++)
    if (kOptionToggles[i].section == 1)
      p->toggle[i] = panelkit_button(&k, kOptionToggles[i].text, kOptionToggles[i].id, nullptr, BUTTON_TOGGLE, on_option);

  panelkit_section(&k, "Order");
  for (const option_order_row &r : kOptionOrders) panelkit_button(&k, r.text, r.id, &p->order, 0, on_option);
  return p->box;
}

static void op_refresh(tools *self) {
  auto *p = static_cast<optiontools *>(self);
  optionlist *o = option_of(p);
  if (!o) return;
  uint32_t f = optionlist_get_filter(o);
  for (int i = 0; i < kOptiontoolsToggles; i++) panelkit_show_on(p->toggle[i], f & kOptionToggles[i].bit);
  panelkit_select(&p->order, optiontools_order_id(optionlist_get_order(o)));
  uint32_t m = optionlist_get_max_expiry_months(o);
  panelkit_select(&p->expiry, m <= 12 ? int32_t(kExpiryAny + m) : -1);
}

static const char *op_summary(tools *self) { return optiontools_summary(option_of(self)); }

static void op_class_init(object_class *rec) { panelkit_set_ops(rec, op_summary, op_refresh, op_build); }
static typeid_t register_optiontools() { return panelkit_register("optiontools", sizeof(optiontools), op_class_init); }
typeid_t optiontools_type() { return object_cached_type(&S.option_type, register_optiontools); }

optiontools *optiontools_new(widget *parent, widget *owner) {
  return static_cast<optiontools *>(panelkit_new_panel(parent, optiontools_type(), owner));
}

// ==== forex panel =================================================================
//
// The forex list has no settings these toggles could filter: they carry id 0
// and no handler, and the panel describes nothing.

static widget *fx_build(tools *self) {
  auto *p = static_cast<forextools *>(self);
  panelkit k;
  p->box = panelkit_begin(&k, p);
  panelkit_section(&k, "Select");
  static const char *const kText[kForextoolsToggles] = {"ASX",     "NZX",      "Groups",   "Buy",
                                                        "Sell",    "Pending",  "Executed", "Cancelled"};
  for (int i = 0; i < kForextoolsToggles; i++)
    p->toggle[i] = panelkit_button(&k, kText[i], 0, nullptr, BUTTON_TOGGLE, nullptr);
  return p->box;
}

static void fx_refresh(tools *) {}
static const char *fx_summary(tools *) { return ""; }

static void fx_class_init(object_class *rec) { panelkit_set_ops(rec, fx_summary, fx_refresh, fx_build); }
static typeid_t register_forextools() { return panelkit_register("forextools", sizeof(forextools), fx_class_init); }
typeid_t forextools_type() { return object_cached_type(&S.forex_type, register_forextools); }

forextools *forextools_new(widget *parent, widget *owner) {
  return static_cast<forextools *>(panelkit_new_panel(parent, forextools_type(), owner));
}
