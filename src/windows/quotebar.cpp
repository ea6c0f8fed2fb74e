// The quote bar: a grid in mode 1 holding at most one row, the instrument
// its window shows. The window hands it every subject; stocks and indices
// get a row, anything else clears it.
#include "windows/quotebar.h"

#include "ssmodel.h"
#include "style.h"

namespace {

void take(widget *self, instr *in) {
  auto *q = static_cast<quotebar *>(self);
  if (in && in->kind == kKindIndex)
    quotebar_set_index(q, in);
  else
    quotebar_set_stock(q, in && in->kind == kKindStock ? in : nullptr);
}

void qb_class_init(object_class *rec) { static_cast<content_class *>(rec)->set_instr = take; }

typeid_t register_quotebar() {
  return watchlist_register_kind("quotebar", sizeof(quotebar), nullptr, nullptr, qb_class_init);
}

void replace(quotebar *q, instr *in) {
  if (q->shown) watchlist_remove_instr(q, q->shown, 0);
  q->shown = in;
  watchlist_clear_rows(q);
}

}  // namespace

typeid_t quotebar_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_quotebar);
}

quotebar *quotebar_cast(widget *w) {
  return w && object_is_a(widget_obj(w), quotebar_type()) ? static_cast<quotebar *>(w) : nullptr;
}

widget *quotebar_new(widget *parent) {
  return watchlist_make(parent, quotebar_type(), 1);
}

void quotebar_set_stock(quotebar *q, instr *stock) {
  replace(q, stock);
  if (stock && stock->kind == kKindStock) watchlist_add_stock_row(q, stock);
  else q->shown = nullptr;
}

void quotebar_set_index(quotebar *q, instr *index) {
  replace(q, index);
  if (index && index->kind == kKindIndex) watchlist_add_index_row(q, index);
  else q->shown = nullptr;
}

void quotebar_export(quotebar *q) { watchlist_export(q); }

int32_t quotebar_height() {
  const style *st = style_cur();
  return st ? st->line_height : 16;
}
