// The tool panels of the instrument-list windows: "indextools" for the
// index list (filter by kind and exchange, four orders and reverse, its own
// window only), "optiontools" for the option list (kinds, attributes,
// moneyness, maximum expiry and six orders, a linked change: with Shift it
// reaches every option list of the desktop) and "forextools" for the forex
// list (toggles that filter nothing yet). Each describes its list in the
// window's title. Main thread only.
#pragma once

#include <cstdint>

#include "tools/tools.h"
#include "ui/button.h"

struct fbox;
struct indexlist;
struct optionlist;

// ---- index panel -----------------------------------------------------------------
// Its two sections reuse ids (Select 0-5, Order 0-4): each has its own
// callback, and the ids below are per section.
enum : int32_t {
  INDEXTOOLS_MAJOR = 0, INDEXTOOLS_SECTORIAL = 1, INDEXTOOLS_OTHER = 2,
  INDEXTOOLS_ASX = 3, INDEXTOOLS_NZX = 4, INDEXTOOLS_GLOBAL = 5,
};
enum : int32_t {
  INDEXTOOLS_PCT_CHANGE = 0, INDEXTOOLS_CHANGE = 1, INDEXTOOLS_CODE = 2, INDEXTOOLS_NAME = 3,
  INDEXTOOLS_REVERSE = 4,
};

struct indextools : tools {
  fbox *box;
  // ASX and NZX exist only for a user permitted that exchange.
  button *asx, *nzx, *global, *major, *sectorial, *other;
  button *reverse;
  button_group order;
};

typeid_t indextools_type();
inline bool indextools_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), indextools_type());
}
indextools *indextools_new(widget *parent, widget *owner);
// What a Select id, respectively an Order id, does to an index list with
// the toggle now `on`; -1 for an id the section does not have.
int indextools_apply_select(indexlist *l, int32_t id, int on);
int indextools_apply_order(indexlist *l, int32_t id, int on);
// The Order id that shows a list order (-1: none).
int32_t indextools_order_id(uint32_t order);
// The description of an index list (never null; lives until the next call).
const char *indextools_summary(const indexlist *l);

// ---- option panel ----------------------------------------------------------------
constexpr int kOptiontoolsToggles = 11;  // the filter-bit toggles
constexpr int kOptiontoolsExpiries = 13;  // "Any" and 1 to 12 months

struct optiontools : tools {
  fbox *box;
  button *toggle[kOptiontoolsToggles];  // in the order of optiontools_bit's ids
  button_group expiry, order;
};

typeid_t optiontools_type();
inline bool optiontools_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), optiontools_type());
}
optiontools *optiontools_new(widget *parent, widget *owner);
// The filter bit of a toggle id (0: not a toggle's).
uint32_t optiontools_bit(int32_t id);
// What an id does to an option list with the toggle now `on`; -1 for an id
// no control carries.
int optiontools_apply_id(optionlist *o, int32_t id, int on);
// The Order id that shows an order (-1: none).
int32_t optiontools_order_id(uint32_t order);
// The description of an option list (never null; lives until the next call).
const char *optiontools_summary(const optionlist *o);

// ---- forex panel -----------------------------------------------------------------
constexpr int kForextoolsToggles = 8;

struct forextools : tools {
  fbox *box;
  button *toggle[kForextoolsToggles];
};

typeid_t forextools_type();
inline bool forextools_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), forextools_type());
}
forextools *forextools_new(widget *parent, widget *owner);
