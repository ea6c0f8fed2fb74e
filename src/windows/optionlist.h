// The option list: the options and warrants over one underlying (a stock
// or an index) in a grid of mode 5, filtered by kind, attributes,
// moneyness and expiry and ordered by expiry, strike, in-the-money amount,
// volume or interest. Main thread only.
#pragma once

#include "sstime.h"
#include "windows/watchlist.h"

struct ss_stock;

// Filter bits.
enum : uint32_t {
  OPT_CALLS = 0x1, OPT_PUTS = 0x2, OPT_NEITHER = 0x4, OPT_ATTR10 = 0x10, OPT_ATTR8 = 0x20,
  OPT_CLASS_QUOTED = 0x40, OPT_CLASS_TRADED = 0x80, OPT_IN_MONEY = 0x100, OPT_OUT_MONEY = 0x200,
  OPT_AT_MONEY = 0x400, OPT_WITH_INTEREST = 0x800,
  OPT_MONEYNESS = 0x700,
};
// Option flags of a stock.
constexpr uint32_t kOptCall = 0x2, kOptPut = 0x4, kOptAttr8 = 0x8, kOptAttr10 = 0x10;

struct optionlist : watchlist {
  instr *underlying;
  uint32_t reference_price;
  uint32_t filter;             // 0xFD3B
  uint32_t order;              // 1
  uint32_t max_expiry_months;  // 0
  ss_time expiry_limit;        // 0: none
};

typeid_t optionlist_type();
optionlist *optionlist_cast(widget *w);
void optionlist_rebuild(optionlist *o);
void optionlist_set_underlying(optionlist *o, instr *in);
// The stock of the instrument's exchange with the instrument's code.
void optionlist_set_underlying_of(optionlist *o, instr *in);
void optionlist_set_filter(optionlist *o, uint32_t v);
void optionlist_set_filter_bits(optionlist *o, uint32_t bits, int on);
void optionlist_set_max_expiry_months(optionlist *o, uint32_t v);
void optionlist_set_order(optionlist *o, uint32_t v);
instr *optionlist_get_underlying(const optionlist *o);
uint32_t optionlist_get_filter(const optionlist *o);
uint32_t optionlist_get_max_expiry_months(const optionlist *o);
uint32_t optionlist_get_order(const optionlist *o);
void optionlist_export(optionlist *o);

// The scan's hooks, for tests: whether a candidate passes, the reference
// price the prepare step takes, and the comparator of an order (null for
// the scan's own orders 0 and 4).
int optionlist_match(const optionlist *o, const ss_stock *candidate);
uint32_t optionlist_reference_price(const instr *underlying);
using optionlist_compare_fn = int (*)(const instr *a, const instr *b, void *list, void *);
optionlist_compare_fn optionlist_comparator(uint32_t order);
// The interest field of an option (the model carries none: 0).
uint32_t optionlist_interest(const ss_stock *s);
