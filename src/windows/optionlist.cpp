// The option list. Its scan looks up derivatives by the underlying's first
// three characters, and a filter hook applies the kind, attribute,
// moneyness and expiry bits; a prepare hook takes the reference price
// before each evaluation. Comparators compare unsigned fields three-way:
// subtracting them would wrap for gaps above 2^31 and sort the wrong way.
#include "windows/optionlist.h"

#include <cstring>

#include "dalloc.h"
#include "lib/scan.h"
#include "undo.h"
#include "ssmodel.h"

namespace {

constexpr uint32_t kDefaultFilter = 0xFD3B;
constexpr uint32_t kNoPrice = 0xFFFFFFFFu;
constexpr bool kInterestKnown = false;  // the model has no open-interest field

int cmp(uint32_t a, uint32_t b) { return a < b ? -1 : a > b ? 1 : 0; }

const ss_stock *stock_of(const instr *in) {
  return in && in->kind == kKindStock ? static_cast<const ss_stock *>(in) : nullptr;
}

uint32_t strike(const instr *in) {
  const ss_stock *s = stock_of(in);
  return s ? s->option_number : 0;
}
uint32_t expiry(const instr *in) {
  const ss_stock *s = stock_of(in);
  return s ? s->expiry : 0;
}

// In-the-money amount: a put's strike above the reference, any other
// option's reference above its strike (signed, 64 bits: no wrap).
int64_t in_money(const optionlist *o, const instr *in) {
  const ss_stock *s = stock_of(in);
  if (!s) return 0;
  int64_t k = s->option_number, ref = o->reference_price;
  return (s->option_kind & kOptPut) ? k - ref : ref - k;
}

int by_expiry_strike(const instr *a, const instr *b, void *, void *) {
  int v = cmp(expiry(a), expiry(b));
  return v ? v : cmp(strike(b), strike(a));
}
int by_strike(const instr *a, const instr *b, void *, void *) { return cmp(strike(b), strike(a)); }
int by_money(const instr *a, const instr *b, void *list, void *) {
  auto *o = static_cast<const optionlist *>(list);
  int64_t x = in_money(o, a), y = in_money(o, b);
  int v = y < x ? -1 : y > x ? 1 : 0;
  return v ? v : cmp(strike(b), strike(a));
}
int by_interest(const instr *a, const instr *b, void *, void *) {
  const ss_stock *x = stock_of(a), *y = stock_of(b);
  int v = cmp(x ? optionlist_interest(x) : 0, y ? optionlist_interest(y) : 0);
  return v ? -v : cmp(strike(b), strike(a));
}

int filter_hook(ss_stock *stock, void *list, void *) {
  return optionlist_match(static_cast<const optionlist *>(list), stock);
}

void prepare_hook(scan *, void *list, void *) {
  auto *o = static_cast<optionlist *>(list);
  o->reference_price = optionlist_reference_price(o->underlying);
}

void op_init(object *obj) {
  auto *o = reinterpret_cast<optionlist *>(obj);
  o->filter = kDefaultFilter;
  o->order = 1;
}

void op_show(widget *self) {
  optionlist_rebuild(static_cast<optionlist *>(self));
  watchlist_class()->show_children(self);
}

void take(widget *self, instr *in);

void op_class_init(object_class *rec) {
  auto *c = static_cast<content_class *>(rec);
  c->show_children = op_show;
  c->set_instr = take;
}

// Undo: filter, months to expiry and order.
struct saved_settings {
  uint32_t filter, max_months, order;
};

void *op_save(void *object) {
  optionlist *o = optionlist_cast(static_cast<widget *>(object));
  if (!o) return nullptr;
  auto *v = static_cast<saved_settings *>(dalloc_alloc(sizeof(saved_settings)));
  *v = {o->filter, o->max_expiry_months, o->order};
  return v;
}

int op_restore(void *saved, void *object) {
  optionlist *o = optionlist_cast(static_cast<widget *>(object));
  if (!o) return -1;
  auto *v = static_cast<saved_settings *>(saved);
  optionlist_set_filter(o, v->filter);
  optionlist_set_max_expiry_months(o, v->max_months);
  optionlist_set_order(o, v->order);
  return 0;
}

void op_release(void *saved, int) { dalloc_free(saved); }

const undo_record_ops kUndoOps = {op_save, op_restore, op_release};

typeid_t register_optionlist() {
  undo_register_type(UNDO_OPTIONLIST, &kUndoOps);
  return watchlist_register_kind("optionlist", sizeof(optionlist), op_init, nullptr, op_class_init);
}

void take(widget *self, instr *in) { optionlist_set_underlying(static_cast<optionlist *>(self), in); }

void set_u32(optionlist *o, uint32_t *field, uint32_t v) {
  if (*field == v) return;
  *field = v;
  if (o->flags & WIDGET_SHOWN) optionlist_rebuild(o);
}

}  // namespace

typeid_t optionlist_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_optionlist);
}

optionlist *optionlist_cast(widget *w) {
  return w && object_is_a(widget_obj(w), optionlist_type()) ? static_cast<optionlist *>(w) : nullptr;
}

widget *optionlist_new(widget *parent) {
  watchlist *w = watchlist_make(parent, optionlist_type(), 5);
  return w;
}

uint32_t optionlist_interest(const ss_stock *) { return 0; }

uint32_t optionlist_reference_price(const instr *u) {
  if (!u) return 0;
  if (u->kind == kKindIndex) return static_cast<const ss_index *>(u)->value;
  if (const ss_stock *s = stock_of(u)) {
    // Minimal version: the model keeps no separate option reference price;
    // the underlying's last price stands for it, else its previous close.
    uint32_t last = s->last == kNoPrice ? 0 : s->last;
    return last ? last : (s->close == kNoPrice ? 0 : s->close);
  }
  return 0;
}

int optionlist_match(const optionlist *o, const ss_stock *c) {
  if (!c || c->kind != kKindStock || !o->underlying) return 0;
  uint32_t f = o->filter, kind = c->option_kind;
  bool call = kind & kOptCall, put = kind & kOptPut;
  if (call && !(f & OPT_CALLS)) return 0;
  if (put && !(f & OPT_PUTS)) return 0;
  if (!call && !put && !(f & OPT_NEITHER)) return 0;
  if ((kind & kOptAttr10) && !(f & OPT_ATTR10)) return 0;
  if ((kind & kOptAttr8) && !(f & OPT_ATTR8)) return 0;
  // The model carries no open interest: the bit that asks for it cannot
  // tell options apart, and rejecting every option would empty the list.
  if ((f & OPT_WITH_INTEREST) && kInterestKnown && optionlist_interest(c) == 0) return 0;
  if ((f & OPT_MONEYNESS) != OPT_MONEYNESS) {
    uint32_t ref = o->reference_price, k = c->option_number;
    bool itm = (call && ref > k) || (put && ref < k);
    bool otm = (call && ref < k) || (put && ref > k);
    bool atm = k == ref;
    if (!((f & OPT_IN_MONEY && itm) || (f & OPT_OUT_MONEY && otm) || (f & OPT_AT_MONEY && atm))) return 0;
  }
  if (o->expiry_limit && c->expiry && sstime_date_compare(c->expiry, o->expiry_limit) > 0) return 0;
  if (c->expiry && c->exchange && c->exchange->date &&
      sstime_date_compare(c->expiry, c->exchange->date) < 0)
    return 0;
  return 1;
}

optionlist_compare_fn optionlist_comparator(uint32_t order) {
  switch (order) {
    case 1: return by_expiry_strike;
    case 2: return by_strike;
    case 3: return by_money;
    case 5: return by_interest;
    default: return nullptr;
  }
}

void optionlist_rebuild(optionlist *o) {
  if (!o->underlying) {
    watchlist_set_scan(o, nullptr);
    return;
  }
  scan *s = scan_new_temp();
  if (!s) return;
  scan_set_order(s, o->order == 4 ? 5 : 1);
  scan_set_reversed(s, 0);
  uint32_t cls = kScanDerivatives;
  if (o->filter & OPT_CLASS_TRADED) cls |= kScanTraded;
  if (o->filter & OPT_CLASS_QUOTED) cls |= kScanQuoted;
  scan_set_instr_filter(s, cls);
  scan_clear_exchanges(s);
  scan_set_limit(s, 0);
  scan_set_filter_hook(s, filter_hook, o, nullptr);
  scan_set_prepare_hook(s, prepare_hook, o, nullptr);
  if (optionlist_compare_fn fn = optionlist_comparator(o->order)) scan_set_comparator(s, fn, o, nullptr);
  if (o->underlying->exchange) scan_set_exchange(s, static_cast<int>(o->underlying->exchange->index), 1);
  char code[4];
  snprintf(code, sizeof code, "%.3s", o->underlying->code);
  scan_set_underlying(s, code);
  o->expiry_limit = o->max_expiry_months
                        ? sstime_add_months(sstime_now(), static_cast<int32_t>(o->max_expiry_months))
                        : 0;
  o->reference_price = optionlist_reference_price(o->underlying);
  watchlist_set_scan(o, s);
  watchlist_rows_changed(o);
}

void optionlist_set_underlying(optionlist *o, instr *in) {
  if (in && in->kind != kKindStock && in->kind != kKindIndex) in = nullptr;
  if (o->underlying == in) return;
  o->underlying = in;
  if (o->flags & WIDGET_SHOWN) optionlist_rebuild(o);
}

void optionlist_set_underlying_of(optionlist *o, instr *in) {
  ss_stock *s = in && in->exchange ? ssmodel_find_stock(in->exchange, in->code) : nullptr;
  optionlist_set_underlying(o, s);
}

void optionlist_set_filter(optionlist *o, uint32_t v) { set_u32(o, &o->filter, v); }
void optionlist_set_filter_bits(optionlist *o, uint32_t bits, int on) {
  set_u32(o, &o->filter, on ? o->filter | bits : o->filter & ~bits);
}
void optionlist_set_max_expiry_months(optionlist *o, uint32_t v) { set_u32(o, &o->max_expiry_months, v); }
void optionlist_set_order(optionlist *o, uint32_t v) { set_u32(o, &o->order, v); }
instr *optionlist_get_underlying(const optionlist *o) { return o->underlying; }
uint32_t optionlist_get_filter(const optionlist *o) { return o->filter; }
uint32_t optionlist_get_max_expiry_months(const optionlist *o) { return o->max_expiry_months; }
uint32_t optionlist_get_order(const optionlist *o) { return o->order; }
void optionlist_export(optionlist *o) { watchlist_export(o); }
