// Chart styles: what a chart shows apart from its instrument, shared by the
// charts that watch it.
//
// Styles live in two doubly linked lists, private and registered; the
// registered list's order is the user's and every style's ordinal is its
// place in it. A style knows whether it is in a list (`linked`): unlinking
// or deleting a style that is not in one does nothing, so undo and deletion
// can meet on the same style without corrupting a list. Notices to watchers
// are guarded by the notifying bit: a notice raised while one runs on the
// same style is dropped. User-interface thread only.
#include "charts/cstyle.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "charts/alloc.h"
#include "charts/ta.h"
#include "config/autosave.h"
#include "config/config.h"
#include "lib/ids.h"
#include "log.h"
#include "pool.h"
#include "undo.h"

static const char kSrc[] = "src/charts/cstyle";

constexpr int32_t kPerPage = 10;
constexpr int32_t kMaxSupps = 64;  // settings one load reads per list
constexpr uint32_t kDefaultOptions = 0x11007;

const cstyle_preset cstyle_range_presets[] = {
    {1, -1, 0},  {3, 1, 2},  {3, 5, 3},  {3, 10, 4}, {3, 15, 5}, {3, 30, 6}, {4, 1, 7},
    {4, 2, 8},   {4, 4, 9},  {5, 1, 11}, {5, 7, 13}, {5, 14, 14}, {6, 1, 15}, {6, 3, 16},
    {6, 6, 17},  {8, -1, 18}, {7, 1, 19}, {7, 2, 20}, {7, 5, 21}, {9, -1, 22}, {-1, 0, 0},
};
const cstyle_preset cstyle_period_presets[] = {
    {0, -1, 23}, {1, 1, 1},  {2, 1, 2},  {2, 5, 3},  {2, 10, 4}, {2, 15, 5}, {2, 30, 6},
    {3, 1, 7},   {4, 1, 10}, {5, 1, 11}, {6, 1, 13}, {7, 1, 15}, {7, 3, 16}, {7, 6, 17},
    {8, 1, 19},  {8, 2, 20}, {8, 5, 21}, {9, -1, 22}, {-1, 0, 0},
};

namespace {
struct style_list {
  int32_t count;
  cstyle* head;
  cstyle* tail;
};
}  // namespace

static struct {
  int ready;
  pool styles, watchers, supps;
  style_list priv, reg;
  int32_t highest_id;
  cstyle* cursor;
  int shutting_down;
  cstyle_chart_hooks hooks;
} g;

// ---------------------------------------------------------------------------
// Chart hooks and their defaults

static chart_plot* plot_as_owner(void* owner) { return static_cast<chart_plot*>(owner); }

static void set_params(chart_ta* ta, const float params[3]) {
  for (int i = 0; i < 3; i++)
    if (params[i] != kCstyleUnset) ta->params[i] = params[i];
}
static void default_add_overlay(chart_plot* plot, int32_t type, const float params[3]) {
  if (chart_ta* ta = alloc_add_overlay(plot, type)) set_params(ta, params);
}
static void default_add_indicator(chart_plot* plot, int32_t type, const float params[3]) {
  if (chart_ta* ta = alloc_add_indicator(plot, type)) set_params(ta, params);
}
static void no_redraw(void*) {}

static const cstyle_chart_hooks kDefaultHooks = {plot_as_owner,      alloc_clear_overlays, default_add_overlay,
                                                 alloc_clear_indicators, default_add_indicator, no_redraw};

void cstyle_set_chart_hooks(const cstyle_chart_hooks* hooks) {
  g.hooks = kDefaultHooks;
  if (!hooks) return;
  if (hooks->plot_of) g.hooks.plot_of = hooks->plot_of;
  if (hooks->clear_overlays) g.hooks.clear_overlays = hooks->clear_overlays;
  if (hooks->add_overlay) g.hooks.add_overlay = hooks->add_overlay;
  if (hooks->clear_indicators) g.hooks.clear_indicators = hooks->clear_indicators;
  if (hooks->add_indicator) g.hooks.add_indicator = hooks->add_indicator;
  if (hooks->redraw) g.hooks.redraw = hooks->redraw;
}

// ---------------------------------------------------------------------------
// Lists

static style_list* list_of(const cstyle* s) { return s->id > 0 ? &g.reg : &g.priv; }

static void list_append(style_list* l, cstyle* s) {
  s->prev = l->tail;
  s->next = nullptr;
  if (l->tail)
    l->tail->next = s;
  else
    l->head = s;
  l->tail = s;
  l->count++;
  s->linked = 1;
}

static void list_insert_before(style_list* l, cstyle* at, cstyle* s) {
  if (!at) {
    list_append(l, s);
    return;
  }
  s->next = at;
  s->prev = at->prev;
  if (at->prev)
    at->prev->next = s;
  else
    l->head = s;
  at->prev = s;
  l->count++;
  s->linked = 1;
}

static void list_remove(style_list* l, cstyle* s) {
  if (s->prev)
    s->prev->next = s->next;
  else
    l->head = s->next;
  if (s->next)
    s->next->prev = s->prev;
  else
    l->tail = s->prev;
  if (g.cursor == s) g.cursor = s->next;
  s->prev = s->next = nullptr;
  l->count--;
  s->linked = 0;
}

static void renumber(void) {
  int32_t i = 0;
  for (cstyle* s = g.reg.head; s; s = s->next) s->ordinal = i++;
}

static cstyle* at_ordinal(int32_t ordinal) {
  for (cstyle* s = g.reg.head; s; s = s->next)
    if (s->ordinal == ordinal) return s;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Settings lists

static void free_supps(cstyle_supp* s) {
  while (s) {
    cstyle_supp* next = s->next;
    pool_free(&g.supps, s);
    s = next;
  }
}

static cstyle_supp* new_supp(int32_t type, const float params[3]) {
  auto* s = static_cast<cstyle_supp*>(pool_alloc(&g.supps));
  if (!s) {
    log(LOG_ERROR, kSrc, "can't alloc cstyle supp");
    return nullptr;
  }
  s->type = type;
  for (int i = 0; i < 3; i++) s->params[i] = params ? params[i] : kCstyleUnset;
  s->next = nullptr;
  return s;
}

// Appends to a list kept by its tail pointer.
static void supp_append(cstyle_supp*** tail, cstyle_supp* s) {
  **tail = s;
  *tail = &s->next;
}

// A copy of a settings list or of a chart's instance list (both carry a
// type, three parameters and a next link).
template <class T>
static cstyle_supp* supps_from(const T* src) {
  cstyle_supp* head = nullptr;
  cstyle_supp** tail = &head;
  for (; src; src = src->next)
    if (cstyle_supp* s = new_supp(src->type, src->params)) supp_append(&tail, s);
  return head;
}

static void replace_supps(cstyle* s, cstyle_supp* overlays, cstyle_supp* indicators) {
  free_supps(s->overlays);
  free_supps(s->indicators);
  s->overlays = overlays;
  s->indicators = indicators;
}

// The twelve fields of what a chart shows, between two records that name
// them alike (a style and a chart's data block).
template <class D, class S>
static void copy_spec(D* d, const S* s) {
  d->range = s->range;
  d->range_count = s->range_count;
  d->from = s->from;
  d->mid = s->mid;
  d->to = s->to;
  d->from_type = s->from_type;
  d->mid_type = s->mid_type;
  d->to_type = s->to_type;
  d->period = s->period;
  d->period_count = s->period_count;
  d->scale = s->scale;
  d->type = s->type;
}

// ---------------------------------------------------------------------------
// Styles

static void set_defaults(cstyle* s) {
  s->range = 1;
  s->range_count = 1;
  s->from = s->mid = s->to = 0;
  s->from_type = -1;
  s->mid_type = -1;
  s->to_type = 6;
  s->period = 5;
  s->period_count = 1;
  s->scale = 0;
  s->type = 4;
  s->overlays = s->indicators = nullptr;
  s->options = kDefaultOptions;
}

static cstyle* make_style(void) {
  auto* s = static_cast<cstyle*>(pool_alloc(&g.styles));
  if (!s) {
    log(LOG_ERROR, kSrc, "can't alloc cstyle");
    return nullptr;
  }
  memset(s, 0, sizeof *s);
  s->ordinal = -1;
  set_defaults(s);
  return s;
}

static void free_style(cstyle* s) {
  free_supps(s->overlays);
  free_supps(s->indicators);
  pool_free(&g.styles, s);
}

// Calls every watcher with an owner other than `skip`; the next watcher is
// read before each call since a watcher may remove itself. Dropped while a
// notice already runs on the style.
// A private style whose last chart left during the notice goes back to its
// pool at the end (so callers touch nothing after a notice).
static void notify(cstyle* s, int event, void* skip) {
  if (s->flags & kCstyleNotifying) return;
  int32_t before = s->watcher_count;
  s->flags |= kCstyleNotifying;
  for (cstyle_watcher* w = s->watch_head; w;) {
    cstyle_watcher* next = w->next;
    if (w->owner && w->owner != skip && w->callback) w->callback(s, event, w->owner, w->argument, w->n);
    w = next;
  }
  s->flags &= ~kCstyleNotifying;
  if (before > 0 && s->watcher_count == 0 && s->id == 0 && s->linked && s->holds == 0 &&
      !(s->flags & kCstyleDeleting)) {
    list_remove(&g.priv, s);
    free_style(s);
  }
}

// Every chart watching the style but `skip` takes its settings.
static void apply_to_watchers(cstyle* s, void* skip) {
  for (cstyle_watcher* w = s->watch_head; w; w = w->next) {
    if (!w->owner || w->owner == skip) continue;
    if (chart_plot* p = g.hooks.plot_of(w->owner)) cstyle_apply_spec(p, s);
  }
}

int cstyle_init(void) {
  if (g.ready) return 0;
  if (pool_init(&g.styles, kPerPage, sizeof(cstyle)) < 0) return -1;
  if (pool_init(&g.watchers, kPerPage, sizeof(cstyle_watcher)) < 0) {
    pool_destroy(&g.styles);
    return -1;
  }
  if (pool_init(&g.supps, kPerPage, sizeof(cstyle_supp)) < 0) {
    pool_destroy(&g.watchers);
    pool_destroy(&g.styles);
    return -1;
  }
  g.priv = {};
  g.reg = {};
  g.highest_id = 0;
  g.cursor = nullptr;
  g.shutting_down = 0;
  if (!g.hooks.plot_of) g.hooks = kDefaultHooks;
  g.ready = 1;
  return 0;
}

static void fini_list(style_list* l) {
  for (cstyle* s = l->head; s;) {
    cstyle* next = s->next;
    if (!(s->flags & kCstyleDeleting)) {
      cstyle_unlink(s);
      if (s->watcher_count > 0)
        log(LOG_ERROR, kSrc, "can't delete cstyle %s because people are watching", s->name);
      else
        free_style(s);
    }
    s = next;
  }
}

void cstyle_fini(void) {
  if (!g.ready) return;
  g.shutting_down = 1;
  fini_list(&g.priv);
  fini_list(&g.reg);
  pool_destroy(&g.supps);
  pool_destroy(&g.watchers);
  pool_destroy(&g.styles);
  g.priv = {};
  g.reg = {};
  g.cursor = nullptr;
  g.highest_id = 0;
  g.ready = 0;
  g.shutting_down = 0;
}

// The base of a name: cut to 31 characters, then a " (n)" suffix removed.
static void name_base(const char* name, char out[kCstyleNameSize]) {
  snprintf(out, kCstyleNameSize, "%s", name);
  char* p = strchr(out, '(');
  if (p && p != out && p[-1] == ' ' && isdigit((unsigned char)p[1])) p[-1] = 0;
}

static void make_name(const char* given, char out[kCstyleNameSize]) {
  const char* name = given && *given ? given : "New Chart";
  char base[kCstyleNameSize], other[kCstyleNameSize];
  name_base(name, base);
  bool matched = false;
  long largest = 0;
  for (cstyle* s = g.reg.head; s; s = s->next) {
    name_base(s->name, other);
    if (strcmp(other, base) != 0) continue;
    matched = true;
    if (const char* p = strchr(s->name, '(')) {
      long n = strtol(p + 1, nullptr, 10);
      if (n > largest) largest = n;
    } else if (largest == 0) {
      largest = 1;
    }
  }
  if (matched && largest > 0) {
    char longer[kCstyleNameSize + 24];
    snprintf(longer, sizeof longer, "%s (%ld)", base, largest + 1);
    memcpy(out, longer, kCstyleNameSize - 1);
    out[kCstyleNameSize - 1] = 0;
  } else
    snprintf(out, kCstyleNameSize, "%s", name);
}

cstyle* cstyle_new(const char* name, int32_t id) {
  if (id < 1) {
    id = ids_next(g.highest_id, [](int32_t i) { return cstyle_find(i) != nullptr; });
    if (id < 0) {
      log(LOG_ERROR, kSrc, "no free cstyle id");
      return nullptr;
    }
  } else {
    if (cstyle_find(id)) {
      log(LOG_ERROR, kSrc, "cstyle id %d in use", id);
      return nullptr;
    }
  }
  cstyle* s = make_style();
  if (!s) return nullptr;
  if (id > g.highest_id) g.highest_id = id;
  s->id = id;
  make_name(name, s->name);
  s->ordinal = g.reg.count;
  list_append(&g.reg, s);
  return s;
}

cstyle* cstyle_alloc(void) {
  cstyle* s = make_style();
  if (s) list_append(&g.priv, s);
  return s;
}

cstyle* cstyle_clone(const cstyle* style) {
  cstyle* s = cstyle_alloc();
  if (s) cstyle_copy(s, style);
  return s;
}

void cstyle_copy(cstyle* dst, const cstyle* src) {
  if (dst == src) return;
  copy_spec(dst, src);
  dst->options = src->options;
  replace_supps(dst, supps_from(src->overlays), supps_from(src->indicators));
}

void cstyle_assign(cstyle* dst, const cstyle* src) {
  cstyle_copy(dst, src);
  apply_to_watchers(dst, nullptr);
  notify(dst, kCstyleChanged, nullptr);
}

// ---------------------------------------------------------------------------
// The registered list

void cstyle_set_id(cstyle* style) {
  if (style->id > 0) {
    log(LOG_WARN, kSrc, "cstyle %d is already registered?", style->id);
    return;
  }
  const int32_t id = ids_next(g.highest_id, [](int32_t i) { return cstyle_find(i) != nullptr; });
  if (id < 0) {
    log(LOG_ERROR, kSrc, "no free cstyle id");
    return;
  }
  if (style->linked) list_remove(&g.priv, style);
  if (id > g.highest_id) g.highest_id = id;
  style->id = id;
  style->ordinal = g.reg.count;
  list_append(&g.reg, style);
}

void cstyle_register(cstyle* style) {
  if (style->linked) return;
  style->flags &= ~kCstyleDeleting;
  if (style->id <= 0) {
    style->ordinal = -1;
    list_append(&g.priv, style);
    return;
  }
  list_insert_before(&g.reg, at_ordinal(style->ordinal), style);
  renumber();
  config_set_dirty(2);
}

void cstyle_unlink(cstyle* style) {
  if (!style->linked) return;
  list_remove(list_of(style), style);
  style->flags |= kCstyleDeleting;
  if (g.shutting_down) return;
  if (!(style->flags & kCstyleNotifying)) notify(style, kCstyleDeleted, nullptr);
  if (style->id > 0) {
    renumber();
    config_set_dirty(2);
  }
}

void cstyle_delete(cstyle* style) {
  if (!style->linked) return;
  cstyle_unlink(style);
  if (style->watcher_count > 0) {
    log(LOG_ERROR, kSrc, "can't delete cstyle %s because people are watching", style->name);
    return;
  }
  // An undo record that holds the style frees it when it goes.
  if (style->holds == 0) free_style(style);
}

void cstyle_move(int32_t from, int32_t to) {
  if (to >= g.reg.count) to = g.reg.count - 1;
  if (to < 0 || to == from) return;
  cstyle* s = at_ordinal(from);
  if (!s) return;
  list_remove(&g.reg, s);
  // The style now at position `to` in the shortened list.
  cstyle* at = g.reg.head;
  for (int32_t i = 0; at && i < to; i++) at = at->next;
  list_insert_before(&g.reg, at, s);
  renumber();
}

cstyle* cstyle_find(int32_t id) {
  for (cstyle* s = g.reg.head; s; s = s->next)
    if (s->id == id) return s;
  return nullptr;
}

int32_t cstyle_id_at(int32_t ordinal) {
  cstyle* s = at_ordinal(ordinal);
  return s ? s->id : -1;
}

int32_t cstyle_count(void) { return g.reg.count; }
int32_t cstyle_private_count(void) { return g.priv.count; }

int cstyle_name_free(const char* name) {
  if (!name || !*name) return 0;
  for (cstyle* s = g.reg.head; s; s = s->next)
    if (strcmp(s->name, name) == 0) return 0;
  return 1;
}

void cstyle_rewind(void) { g.cursor = g.reg.head; }

cstyle* cstyle_next(void) {
  cstyle* s = g.cursor;
  if (s) g.cursor = s->next;
  return s;
}

int cstyle_is_unnamed(const cstyle* style) { return style->id == 0; }
int cstyle_id_valid(const cstyle* style) { return style->id > 0; }
int32_t cstyle_get_id(const cstyle* style) { return style->id; }
const char* cstyle_name(const cstyle* style) { return style->name; }

void cstyle_rename(cstyle* style, const char* name) {
  if (!name) {
    if (!style->name[0]) return;
    style->name[0] = 0;
  } else {
    char next[kCstyleNameSize];
    snprintf(next, sizeof next, "%s", name);
    if (strcmp(next, style->name) == 0) return;
    memcpy(style->name, next, sizeof next);
  }
  notify(style, kCstyleRenamed, nullptr);
}

// ---------------------------------------------------------------------------
// Charts

int cstyle_watch(cstyle* style, cstyle_watch_fn callback, void* owner, void* argument, int n) {
  auto* w = static_cast<cstyle_watcher*>(pool_alloc(&g.watchers));
  if (!w) {
    log(LOG_ERROR, kSrc, "can't alloc watcher");
    return -1;
  }
  *w = {callback, owner, argument, n, style->watch_tail, nullptr};
  if (style->watch_tail)
    style->watch_tail->next = w;
  else
    style->watch_head = w;
  style->watch_tail = w;
  style->watcher_count++;
  return 0;
}

int cstyle_unwatch(cstyle* style, void* owner) {
  cstyle_watcher* w = style->watch_head;
  while (w && w->owner != owner) w = w->next;
  if (!w) {
    if (style->flags & kCstyleDeleting) return 0;
    log(LOG_WARN, kSrc, "can't find watch nuchart %p for %p", owner, (void*)style);
    return -1;
  }
  if (w->prev)
    w->prev->next = w->next;
  else
    style->watch_head = w->next;
  if (w->next)
    w->next->prev = w->prev;
  else
    style->watch_tail = w->prev;
  pool_free(&g.watchers, w);
  style->watcher_count--;
  // A private style dies with its last chart; one being deleted is freed by
  // its deleter.
  if (style->watcher_count == 0 && style->id == 0 && !(style->flags & kCstyleDeleting) &&
      !(style->flags & kCstyleNotifying) && style->linked && style->holds == 0) {
    list_remove(&g.priv, style);
    free_style(style);
  }
  return 0;
}

void cstyle_apply_spec(chart_plot* plot, const cstyle* style) {
  copy_spec(plot, style);
  plot->eff_period = style->period;
  plot->eff_count = style->period_count;
  g.hooks.clear_overlays(plot);
  for (const cstyle_supp* s = style->overlays; s; s = s->next) g.hooks.add_overlay(plot, s->type, s->params);
  g.hooks.clear_indicators(plot);
  for (const cstyle_supp* s = style->indicators; s; s = s->next) g.hooks.add_indicator(plot, s->type, s->params);
  plot->options = style->options;
  plot->dirty |= kChartDirtyAll;
}

int cstyle_apply(cstyle* style, chart_plot* plot) {
  if (style->flags & kCstyleNotifying) return 0;
  void* skip = nullptr;
  if (plot) {
    copy_spec(style, plot);
    replace_supps(style, supps_from(plot->overlays), supps_from(plot->indicators));
    style->options = plot->options;
    // The watcher whose chart this is is not told.
    for (cstyle_watcher* w = style->watch_head; w; w = w->next)
      if (w->owner && g.hooks.plot_of(w->owner) == plot) skip = w->owner;
    if (!skip) skip = plot;
  }
  apply_to_watchers(style, skip);
  notify(style, kCstyleChanged, skip);
  return 0;
}

void cstyle_chart_notice(cstyle* style, int event, void* owner, void* argument, int n) {
  chart_plot* plot = g.hooks.plot_of(owner);
  if (!plot) return;
  if (event == kCstyleChanged) {
    g.hooks.redraw(owner);
    return;
  }
  if (event != kCstyleDeleted) return;
  // The chart keeps its look on a private, unnamed copy.
  cstyle* copy = cstyle_clone(style);
  if (!copy) return;
  if (cstyle_watch(copy, cstyle_chart_notice, owner, argument, n) < 0) {
    cstyle_delete(copy);
    return;
  }
  cstyle_unwatch(style, owner);
  plot->style = copy;
  g.hooks.redraw(owner);
}

// ---------------------------------------------------------------------------
// Configuration

static void save_supps(const char* block, const cstyle_supp* s) {
  for (; s; s = s->next) {
    config_printf("%s", block);
    config_out_push(block);
    config_printf("type %d", s->type);
    for (int i = 0; i < 3 && s->params[i] != kCstyleUnset; i++) config_printf("param %f", (double)s->params[i]);
    config_out_pop();
  }
}

void cstyle_save(const cstyle* style) {
  config_printf("range %d", style->range);
  config_printf("range_count %d", style->range_count);
  config_printf("from %T", style->from);
  config_printf("mid %T", style->mid);
  config_printf("to %T", style->to);
  config_printf("from_type %d", style->from_type);
  config_printf("mid_type %d", style->mid_type);
  config_printf("to_type %d", style->to_type);
  config_printf("period %d", style->period);
  config_printf("period_count %d", style->period_count);
  config_printf("scale %d", style->scale);
  config_printf("type %d", style->type);
  config_printf("options %x", style->options);
  save_supps("overlay", style->overlays);
  save_supps("indicator", style->indicators);
}

// An integer key into *field when present with a value inside [lo, hi];
// otherwise the field keeps its value and the reason is logged.
static void load_int(const cstyle* s, const char* key, int32_t* field, int32_t lo, int32_t hi) {
  config_cell* c = config_get(key);
  if (!c) {
    log(LOG_INFO, kSrc, "cstyle %s has no %s, keeping %d", s->name, key, *field);
    return;
  }
  int32_t v = config_get_int(key);
  if (!config_found() || v < lo || v > hi) {
    log(LOG_WARN, kSrc, "cstyle %s: bad %s, keeping %d", s->name, key, *field);
    return;
  }
  *field = v;
}

static bool span_type_ok(int32_t t) { return t == -1 || (t >= 1 && t <= 6); }

static bool chart_type_ok(int32_t t) {
  static const int32_t kTypes[] = {1, 2, 3, 4, 5, 6, 7, 11, 16};
  for (int32_t k : kTypes)
    if (k == t) return true;
  return false;
}

// The "overlay" or "indicator" blocks of the current level, in order.
static cstyle_supp* load_supps(const char* block, const ta_def* (*def_of)(int32_t)) {
  cstyle_supp* head = nullptr;
  cstyle_supp** tail = &head;
  if (!config_enter(block)) return nullptr;
  int32_t n = 0;
  while (config_next()) {
    if (!config_get("type")) continue;
    int32_t type = config_get_int("type");
    if (!config_found() || !def_of(type)) {
      log(LOG_WARN, kSrc, "ignoring %s of unknown type", block);
      continue;
    }
    if (n >= kMaxSupps) {
      log(LOG_WARN, kSrc, "ignoring %s past %d", block, kMaxSupps);
      continue;
    }
    cstyle_supp* s = new_supp(type, nullptr);
    if (!s) continue;
    if (config_enter("param")) {
      int i = 0;
      while (i < 3 && config_next()) {
        // A parameter that is not a finite float's number stays unset.
        const char* w = config_arg_string(0);
        char* end = nullptr;
        double v = config_found() ? strtod(w, &end) : 0;
        bool ok = end && end != w && *end == 0 && std::isfinite(v) && std::fabs(v) < kCstyleUnset;
        s->params[i++] = ok ? (float)config_arg_double(0) : kCstyleUnset;
      }
      config_leave();
    }
    supp_append(&tail, s);
    n++;
  }
  config_leave();
  return head;
}

void cstyle_load(cstyle* style) {
  load_int(style, "range", &style->range, 1, 11);
  load_int(style, "range_count", &style->range_count, 1, 0x7FFFFFFF);
  load_int(style, "from_type", &style->from_type, -1, 6);
  load_int(style, "mid_type", &style->mid_type, -1, 6);
  load_int(style, "to_type", &style->to_type, -1, 6);
  if (!span_type_ok(style->from_type)) style->from_type = -1;
  if (!span_type_ok(style->mid_type)) style->mid_type = -1;
  if (!span_type_ok(style->to_type)) style->to_type = 6;
  load_int(style, "period", &style->period, 0, 9);
  load_int(style, "period_count", &style->period_count, 1, 0x7FFFFFFF);
  load_int(style, "scale", &style->scale, 0, 0x7FFFFFFF);
  int32_t type = style->type;
  if (config_get("type"))
    load_int(style, "type", &type, 0, 0x7FFFFFFF);
  else
    load_int(style, "main.type", &type, 0, 0x7FFFFFFF);
  if (chart_type_ok(type))
    style->type = type;
  else
    log(LOG_WARN, kSrc, "cstyle %s: bad type %d, keeping %d", style->name, type, style->type);
  style->from = config_get_timestamp("from");
  style->mid = config_get_timestamp("mid");
  style->to = config_get_timestamp("to");
  if (config_get("options")) style->options = config_get_hex("options");

  if (style->range == 11 && (!style->from || !style->to)) {
    style->range = 1;
    style->range_count = 1;
  }
  if (style->from_type == 1 && !style->from) style->from_type = -1;
  if (style->mid_type == 1 && !style->mid) style->mid_type = -1;
  if (style->to_type == 1 && !style->to) style->to_type = 5;

  cstyle_supp* overlays = load_supps("overlay", ta_overlay_def);
  replace_supps(style, overlays, load_supps("indicator", ta_indicator_def));
}

// ---------------------------------------------------------------------------
// Undo

// 17: the chart's style as it was: which style the chart watched (by id,
// for a registered one) and a copy of its settings. Undo puts the chart
// back on that style with those settings. Assigning the copy to whatever
// style the chart watches now would be wrong once the chart moved to
// another registered style (a list entry chosen): undoing that would write
// the old settings into the other style and every chart on it. The copy is
// deleted whatever happened.
namespace {
struct chart_style_record {
  cstyle* copy;
  int32_t id;  // the registered style the chart watched, 0 a private one
};
}  // namespace

// Moves the chart that owns `plot` from its style to `to`, keeping its
// watch callback.
static void move_chart(void* chart, chart_plot* plot, cstyle* to) {
  cstyle_watcher* w = plot->style->watch_head;
  while (w && w->owner != chart) w = w->next;
  if (!w) return;
  const cstyle_watcher keep = *w;
  if (cstyle_watch(to, keep.callback, chart, keep.argument, keep.n) < 0) return;
  cstyle_unwatch(plot->style, chart);
  plot->style = to;
  cstyle_apply_spec(plot, to);
}

static void* save_chart_style(void* chart) {
  chart_plot* plot = chart ? g.hooks.plot_of(chart) : nullptr;
  if (!plot || !plot->style) return nullptr;
  cstyle* copy = cstyle_clone(plot->style);
  if (!copy) return nullptr;
  auto* r = new (std::nothrow) chart_style_record{copy, plot->style->id};
  if (!r) {
    log(LOG_ERROR, kSrc, "can't alloc chart style record");
    cstyle_delete(copy);
  }
  return r;
}
static int restore_chart_style(void* saved, void* chart) {
  chart_plot* plot = chart ? g.hooks.plot_of(chart) : nullptr;
  auto* r = static_cast<chart_style_record*>(saved);
  if (!plot || !plot->style || !r) return -1;
  cstyle* was = r->id > 0 ? cstyle_find(r->id) : nullptr;
  if (was && plot->style != was) {
    move_chart(chart, plot, was);
  } else if (!was && plot->style->id > 0) {
    // It had a style of its own: it gets one again.
    if (cstyle* own = cstyle_clone(r->copy)) {
      move_chart(chart, plot, own);
      if (plot->style != own) cstyle_delete(own);
    }
  }
  cstyle_assign(plot->style, r->copy);
  g.hooks.redraw(chart);
  return 0;
}
static void release_chart_style(void* saved, int) {
  auto* r = static_cast<chart_style_record*>(saved);
  if (!r) return;
  cstyle_delete(r->copy);
  delete r;
}

// 23 and 24 hold the style itself; while held it is not freed, and the last
// record to go frees it when it is out of its list and unwatched (a style
// whose creation was undone, or whose deletion stayed).
static void* save_style(void* style) {
  static_cast<cstyle*>(style)->holds++;
  return style;
}
static int restore_deleted(void* saved, void*) {
  cstyle_register(static_cast<cstyle*>(saved));
  return 0;
}
static int restore_created(void* saved, void*) {
  cstyle_unlink(static_cast<cstyle*>(saved));
  return 0;
}
static void drop_style(void* saved, int) {
  auto* s = static_cast<cstyle*>(saved);
  if (--s->holds > 0 || s->linked || s->watcher_count > 0 || !g.ready) return;
  free_style(s);
}

void cstyle_undo_register(void (*register_type)(int type, const undo_record_ops* ops)) {
  static const undo_record_ops chart_style = {save_chart_style, restore_chart_style, release_chart_style};
  static const undo_record_ops deleted = {save_style, restore_deleted, drop_style};
  static const undo_record_ops created = {save_style, restore_created, drop_style};
  if (!register_type) return;
  register_type(UNDO_CHART_STYLE, &chart_style);
  register_type(UNDO_CSTYLE_DELETED, &deleted);
  register_type(UNDO_CSTYLE_CREATED, &created);
}
