// The forex list: a temporary scan of instrument class 96 over all four
// exchanges, rebuilt when shown and when a setting changes while shown.
#include "windows/forexlist.h"

#include "lib/scan.h"

namespace {

constexpr uint32_t kForexClass = 96;

void fx_init(object *o) {
  auto *f = reinterpret_cast<forexlist *>(o);
  f->index_filter = 7;
  f->order = 1;
}

void fx_show(widget *self) {
  forexlist_rebuild(static_cast<forexlist *>(self));
  watchlist_class()->show_children(self);
}

void fx_class_init(object_class *rec) { static_cast<widget_class *>(rec)->show_children = fx_show; }

typeid_t register_forexlist() {
  return watchlist_register_kind("forexlist", sizeof(forexlist), fx_init, nullptr, fx_class_init);
}

void changed(forexlist *f, uint32_t *field, uint32_t v) {
  if (*field == v) return;
  *field = v;
  if (f->flags & WIDGET_SHOWN) forexlist_rebuild(f);
}

}  // namespace

typeid_t forexlist_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_forexlist);
}

forexlist *forexlist_cast(widget *w) {
  return w && object_is_a(widget_obj(w), forexlist_type()) ? static_cast<forexlist *>(w) : nullptr;
}

widget *forexlist_new(widget *parent) { return watchlist_make(parent, forexlist_type(), 3); }

void forexlist_rebuild(forexlist *f) {
  scan *s = scan_new_temp();
  if (!s) return;
  scan_set_order(s, f->order);
  scan_set_reversed(s, static_cast<int>(f->reversed));
  scan_set_limit(s, 0);
  scan_set_instr_filter(s, kForexClass);
  scan_set_index_filter(s, f->index_filter);
  scan_set_all_exchanges(s);
  watchlist_set_scan(f, s);
  watchlist_rows_changed(f);
}

void forexlist_set_index_filter(forexlist *f, uint32_t v) { changed(f, &f->index_filter, v); }
void forexlist_set_order(forexlist *f, uint32_t v) { changed(f, &f->order, v); }
void forexlist_set_reversed(forexlist *f, uint32_t v) { changed(f, &f->reversed, v ? 1 : 0); }
uint32_t forexlist_get_index_filter(const forexlist *f) { return f->index_filter; }
uint32_t forexlist_get_order(const forexlist *f) { return f->order; }
uint32_t forexlist_get_reversed(const forexlist *f) { return f->reversed; }
void forexlist_export(forexlist *f) { watchlist_export(f); }
