// The index list: a temporary scan of instrument class 96 over the included
// exchanges. Every setter that changes a value rebuilds the scan while the
// list is shown; an unchanged value does nothing.
#include "windows/indexlist.h"

#include "dalloc.h"
#include "lib/scan.h"
#include "undo.h"
#include "ssuser.h"

namespace {

constexpr uint32_t kIndexClass = 96;
constexpr int kAlwaysIncluded = 2;

void il_init(object *o) {
  auto *l = reinterpret_cast<indexlist *>(o);
  l->index_filter = 7;
  l->order = 1;
  for (int i = 0; i < 4; i++) l->exchange[i] = ssuser_exchange_permitted(i) ? 1 : 0;
}

void il_show(widget *self) {
  indexlist_rebuild(static_cast<indexlist *>(self));
  watchlist_class()->show_children(self);
}

void il_class_init(object_class *rec) { static_cast<widget_class *>(rec)->show_children = il_show; }

// Undo: the exchanges shown, the index filter, order and direction.
struct saved_settings {
  int exchange[4];
  uint32_t index_filter, order, reversed;
};

void *il_save(void *object) {
  indexlist *l = indexlist_cast(static_cast<widget *>(object));
  if (!l) return nullptr;
  auto *v = static_cast<saved_settings *>(dalloc_alloc(sizeof(saved_settings)));
  for (int i = 0; i < 4; i++) v->exchange[i] = l->exchange[i];
  v->index_filter = l->index_filter;
  v->order = l->order;
  v->reversed = l->reversed;
  return v;
}

int il_restore(void *saved, void *object) {
  indexlist *l = indexlist_cast(static_cast<widget *>(object));
  if (!l) return -1;
  auto *v = static_cast<saved_settings *>(saved);
  indexlist_clear_exchanges(l);
  for (int i = 0; i < 4; i++)
    if (v->exchange[i]) indexlist_set_exchange_shown(l, i, 1);
  indexlist_set_index_filter(l, v->index_filter);
  indexlist_set_order(l, v->order);
  indexlist_set_reversed(l, v->reversed);
  return 0;
}

void il_release(void *saved, int) { dalloc_free(saved); }

const undo_record_ops kUndoOps = {il_save, il_restore, il_release};

typeid_t register_indexlist() {
  undo_register_type(UNDO_INDEXLIST, &kUndoOps);
  return watchlist_register_kind("indexlist", sizeof(indexlist), il_init, nullptr, il_class_init);
}

void rebuild_if_shown(indexlist *l) {
  if (l->flags & WIDGET_SHOWN) indexlist_rebuild(l);
}

void set_u32(indexlist *l, uint32_t *field, uint32_t v) {
  if (*field == v) return;
  *field = v;
  rebuild_if_shown(l);
}

bool may_include(int n) { return n == kAlwaysIncluded || ssuser_exchange_permitted(n); }

}  // namespace

typeid_t indexlist_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_indexlist);
}

indexlist *indexlist_cast(widget *w) {
  return w && object_is_a(widget_obj(w), indexlist_type()) ? static_cast<indexlist *>(w) : nullptr;
}

widget *indexlist_new(widget *parent) { return watchlist_make(parent, indexlist_type(), 3); }

void indexlist_rebuild(indexlist *l) {
  l->rebuilt++;
  scan *s = scan_new_temp();
  if (!s) return;
  scan_set_order(s, l->order);
  scan_set_reversed(s, static_cast<int>(l->reversed));
  scan_set_limit(s, 0);
  scan_set_instr_filter(s, kIndexClass);
  scan_set_index_filter(s, l->index_filter);
  for (int i = 0; i < 4; i++) scan_set_exchange(s, i, l->exchange[i]);
  watchlist_set_scan(l, s);
  watchlist_rows_changed(l);
}

void indexlist_set_exchange_shown(indexlist *l, int n, int on) {
  if (n < 0 || n > 3) return;
  int v = on && may_include(n) ? 1 : 0;
  if (l->exchange[n] == v) return;
  l->exchange[n] = v;
  rebuild_if_shown(l);
}

int indexlist_get_exchange_shown(const indexlist *l, int n) { return n >= 0 && n <= 3 ? l->exchange[n] : 0; }
void indexlist_hide_exchange(indexlist *l, int n) { indexlist_set_exchange_shown(l, n, 0); }
void indexlist_include_exchange(indexlist *l, int n) { indexlist_set_exchange_shown(l, n, 1); }
void indexlist_clear_exchanges(indexlist *l) { indexlist_show_all_exchanges(l, 0); }

void indexlist_show_all_exchanges(indexlist *l, int on) {
  bool changed = false;
  for (int i = 0; i < 4; i++) {
    int v = on && may_include(i) ? 1 : 0;
    changed |= l->exchange[i] != v;
    l->exchange[i] = v;
  }
  if (changed) rebuild_if_shown(l);
}

void indexlist_set_index_filter(indexlist *l, uint32_t v) { set_u32(l, &l->index_filter, v); }
void indexlist_set_filter_bits(indexlist *l, uint32_t bits, int on) {
  set_u32(l, &l->index_filter, on ? l->index_filter | bits : l->index_filter & ~bits);
}
void indexlist_set_order(indexlist *l, uint32_t v) { set_u32(l, &l->order, v); }
void indexlist_set_reversed(indexlist *l, uint32_t v) { set_u32(l, &l->reversed, v ? 1 : 0); }
uint32_t indexlist_get_index_filter(const indexlist *l) { return l->index_filter; }
uint32_t indexlist_get_order(const indexlist *l) { return l->order; }
uint32_t indexlist_get_reversed(const indexlist *l) { return l->reversed; }
uint32_t indexlist_rebuilds(const indexlist *l) { return l->rebuilt; }
void indexlist_export(indexlist *l) { watchlist_export(l); }
