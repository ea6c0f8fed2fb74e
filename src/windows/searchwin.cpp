// The search window. Typing a keyword fires a setter per key, so setters
// only store and queue one rerun through a deferred call before the next
// redraw; the rerun builds a temporary scan from the flags, exchanges and
// keyword and binds the grid to it.
#include "windows/searchwin.h"

#include <cctype>
#include <cstdio>

#include "dalloc.h"
#include "lib/scan.h"
#include "undo.h"
#include "ssuser.h"
#include "ui/gui.h"

namespace {

void run_queued(void *arg, int) {
  auto *s = static_cast<searchwin *>(arg);
  s->rerun_queued = 0;
  searchwin_rerun(s);
}

void queue(searchwin *s) {
  if (!(s->flags & WIDGET_SHOWN) || s->rerun_queued) return;
  if (gui_promise(run_queued, s, 0) == 0) s->rerun_queued = 1;
}

void sw_init(object *o) {
  auto *s = reinterpret_cast<searchwin *>(o);
  s->derivatives = 1;
  s->indices = 1;
  for (int i = 0; i < 4; i++) s->exchange[i] = ssuser_exchange_permitted(i) ? 1 : 0;
}

void sw_fini(object *o) {
  auto *s = reinterpret_cast<searchwin *>(o);
  if (s->rerun_queued) gui_promise_cancel(run_queued, s);
}

void sw_show(widget *self) {
  searchwin_rerun(static_cast<searchwin *>(self));
  watchlist_class()->show_children(self);
}

void sw_class_init(object_class *rec) { static_cast<widget_class *>(rec)->show_children = sw_show; }

// Undo: the seven flags, the exchanges shown and the keyword (every setting
// the search panel edits, so each of its steps undoes).
struct saved_settings {
  uint32_t derivatives, indices, news_only, sensitive_news_only, traded_only, all_venues, quoted_only;
  int exchange[4];
  char keyword[kSearchKeyword];
};

void *sw_save(void *object) {
  searchwin *s = searchwin_cast(static_cast<widget *>(object));
  if (!s) return nullptr;
  auto *v = static_cast<saved_settings *>(dalloc_alloc(sizeof(saved_settings)));
  *v = {s->derivatives, s->indices, s->news_only, s->sensitive_news_only, s->traded_only,
        s->all_venues,  s->quoted_only, {}, {}};
  for (int i = 0; i < 4; i++) v->exchange[i] = s->exchange[i];
  snprintf(v->keyword, sizeof v->keyword, "%s", s->keyword);
  return v;
}

int sw_restore(void *saved, void *object) {
  searchwin *s = searchwin_cast(static_cast<widget *>(object));
  if (!s) return -1;
  auto *v = static_cast<saved_settings *>(saved);
  searchwin_clear_exchanges(s);
  for (int i = 0; i < 4; i++)
    if (v->exchange[i]) searchwin_set_exchange_shown(s, i, 1);
  searchwin_set_derivatives(s, v->derivatives);
  searchwin_set_indices(s, v->indices);
  searchwin_set_news_only(s, v->news_only);
  searchwin_set_sensitive_news_only(s, v->sensitive_news_only);
  searchwin_set_traded_only(s, v->traded_only);
  searchwin_set_all_venues(s, v->all_venues);
  searchwin_set_quoted_only(s, v->quoted_only);
  searchwin_set_keyword(s, v->keyword);
  return 0;
}

void sw_release(void *saved, int) { dalloc_free(saved); }

const undo_record_ops kUndoOps = {sw_save, sw_restore, sw_release};

typeid_t register_searchwin() {
  undo_register_type(UNDO_SEARCHWIN, &kUndoOps);
  return watchlist_register_kind("searchwin", sizeof(searchwin), sw_init, sw_fini, sw_class_init);
}

void set_flag(searchwin *s, uint32_t *field, uint32_t on) {
  *field = on ? 1 : 0;
  queue(s);
}

}  // namespace

typeid_t searchwin_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_searchwin);
}

searchwin *searchwin_cast(widget *w) {
  return w && object_is_a(widget_obj(w), searchwin_type()) ? static_cast<searchwin *>(w) : nullptr;
}

widget *searchwin_new(widget *parent) { return watchlist_make(parent, searchwin_type(), 4); }

uint32_t searchwin_class_bits(const searchwin *s) {
  uint32_t bits = 0;
  if (s->derivatives) bits |= kScanDerivatives;
  if (s->all_venues) bits |= kScanAllVenues;
  if (s->indices) bits |= kScanIndices;
  if (s->traded_only) bits |= kScanTraded;
  if (s->quoted_only) bits |= kScanQuoted;
  if (s->news_only) bits |= kScanNews;
  if (s->sensitive_news_only) bits |= kScanSensitive;
  return bits;
}

void searchwin_rerun(searchwin *s) {
  s->reruns++;
  scan *sc = scan_new_temp();
  if (!sc) return;
  scan_set_order(sc, 1);
  scan_set_limit(sc, 0);
  scan_set_instr_filter(sc, searchwin_class_bits(s));
  for (int i = 0; i < 4; i++) scan_set_exchange(sc, i, s->exchange[i]);
  scan_set_keyword(sc, s->keyword);
  watchlist_set_scan(s, sc);
  watchlist_rows_changed(s);
}

void searchwin_set_traded_only(searchwin *s, uint32_t on) { set_flag(s, &s->traded_only, on); }
void searchwin_set_quoted_only(searchwin *s, uint32_t on) { set_flag(s, &s->quoted_only, on); }
void searchwin_set_indices(searchwin *s, uint32_t on) { set_flag(s, &s->indices, on); }
void searchwin_set_derivatives(searchwin *s, uint32_t on) { set_flag(s, &s->derivatives, on); }
void searchwin_set_all_venues(searchwin *s, uint32_t on) { set_flag(s, &s->all_venues, on); }
void searchwin_set_news_only(searchwin *s, uint32_t on) { set_flag(s, &s->news_only, on); }
void searchwin_set_sensitive_news_only(searchwin *s, uint32_t on) { set_flag(s, &s->sensitive_news_only, on); }
uint32_t searchwin_get_traded_only(const searchwin *s) { return s->traded_only; }
uint32_t searchwin_get_quoted_only(const searchwin *s) { return s->quoted_only; }
uint32_t searchwin_get_indices(const searchwin *s) { return s->indices; }
uint32_t searchwin_get_derivatives(const searchwin *s) { return s->derivatives; }
uint32_t searchwin_get_all_venues(const searchwin *s) { return s->all_venues; }
uint32_t searchwin_get_news_only(const searchwin *s) { return s->news_only; }
uint32_t searchwin_get_sensitive_news_only(const searchwin *s) { return s->sensitive_news_only; }

void searchwin_set_keyword(searchwin *s, const char *text) {
  snprintf(s->keyword, sizeof s->keyword, "%s", text ? text : "");
  int i = 0;
  for (; s->keyword[i]; i++) s->keyword_upper[i] = static_cast<char>(toupper(static_cast<unsigned char>(s->keyword[i])));
  s->keyword_upper[i] = 0;
  queue(s);
}

void searchwin_clear_keyword(searchwin *s) { searchwin_set_keyword(s, ""); }
const char *searchwin_get_keyword(const searchwin *s) { return s->keyword; }
const char *searchwin_get_keyword_upper(const searchwin *s) { return s->keyword_upper; }
int searchwin_has_keyword(const searchwin *s) { return s->keyword_upper[0] && s->keyword_upper[1]; }

void searchwin_set_exchange_shown(searchwin *s, int n, int on) {
  if (n < 0 || n > 3) return;
  s->exchange[n] = on && ssuser_exchange_permitted(n) ? 1 : 0;
  queue(s);
}
int searchwin_get_exchange_shown(const searchwin *s, int n) { return n >= 0 && n <= 3 ? s->exchange[n] : 0; }
void searchwin_hide_exchange(searchwin *s, int n) { searchwin_set_exchange_shown(s, n, 0); }
void searchwin_include_exchange(searchwin *s, int n) { searchwin_set_exchange_shown(s, n, 1); }
void searchwin_clear_exchanges(searchwin *s) { searchwin_show_all_exchanges(s, 0); }
void searchwin_show_all_exchanges(searchwin *s, int on) {
  for (int i = 0; i < 4; i++) s->exchange[i] = on && ssuser_exchange_permitted(i) ? 1 : 0;
  queue(s);
}

void searchwin_copy(searchwin *t, const searchwin *s) {
  t->derivatives = s->derivatives;
  t->all_venues = s->all_venues;
  t->indices = s->indices;
  t->news_only = s->news_only;
  t->sensitive_news_only = s->sensitive_news_only;
  t->traded_only = s->traded_only;
  t->quoted_only = s->quoted_only;
  searchwin_set_keyword(t, s->keyword);
}

void searchwin_export(searchwin *s) { watchlist_export(s); }
