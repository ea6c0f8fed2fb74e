// Watchlists: the user's hand-kept lists of instruments in one ordered,
// id-numbered global list, with watchers told of every change. The design
// point a reader needs first: an instrument (and a stock's issuer) carries a
// held flag whenever some linked watchlist holds it, and the flag is
// recomputed from all watchlists whenever a list stops holding something
// (removal, unlink) and set again when a list comes back (relink), so filters
// and scans can test membership without walking the lists.
#include "lib/wlist.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/autosave.h"
#include "config/config.h"
#include "dalloc.h"
#include "lib/ids.h"
#include "lib/olist.h"
#include "log.h"
#include "pool.h"
#include "ssmodel.h"

static const char kSrc[] = "src/lib/wlist.c";
static const char kDefaultName[] = "New Watchlist";
constexpr int32_t kPoolGrowth = 10;
constexpr int32_t kMaxItems = 1000000;

static struct {
  bool started;
  pool lists;
  pool watchers;
  wlist* first;
  wlist* last;
  int32_t total;
  int32_t highest_id;
  wlist* iter;
  const wlist* item_list;
  int32_t item_index;
  bool loading;  // lists rebuilt from the configuration ask for no save
} W;

// Naming ---------------------------------------------------------------------

// The length of `name` cut before a " (" followed by a digit that is not at
// its start; the whole length when there is none. *paren receives the "(".
static size_t cut_length(const char* name, const char** paren) {
  *paren = nullptr;
  for (const char* p = strstr(name, " ("); p; p = strstr(p + 1, " (")) {
    if (p != name && p[2] >= '0' && p[2] <= '9') {
      *paren = p + 1;
      return (size_t)(p - name);
    }
  }
  return strlen(name);
}

void wlist_unique_name(char* out, const char* name, const char* default_name,
                       const char* (*next_name)(void* cursor), void* cursor) {
  char base[kWlistNameSize];
  snprintf(base, sizeof base, "%s", name ? name : default_name);
  const char* paren;
  base[cut_length(base, &paren)] = '\0';
  int64_t best = 0;
  for (const char* other = next_name(cursor); other; other = next_name(cursor)) {
    const char* op;
    size_t len = cut_length(other, &op);
    if (len != strlen(base) || strncmp(other, base, len) != 0) continue;
    // The number read after the " (" the cut found, not the first "(".
    int64_t n = op ? strtol(op + 1, nullptr, 10) : 1;
    if (!op && best) continue;
    if (n > best) best = n;
  }
  // Numbered names are cut to the 31 characters a name keeps.
  char numbered[kWlistNameSize + 32];
  if (best)
    snprintf(numbered, sizeof numbered, "%s (%lld)", base, (long long)best + 1);
  else
    snprintf(numbered, sizeof numbered, "%.31s", name ? name : default_name);
  memcpy(out, numbered, kWlistNameSize - 1);
  out[kWlistNameSize - 1] = '\0';
}

static const char* next_list_name(void* cursor) {
  wlist** w = static_cast<wlist**>(cursor);
  if (!*w) return nullptr;
  const char* name = (*w)->name;
  *w = (*w)->next;
  return name;
}

// Held flags -----------------------------------------------------------------

static ss_issuer* issuer_of(const instr* in) {
  if (in->kind != kKindStock || !in->exchange) return nullptr;
  return ssmodel_find_issuer(in->exchange, static_cast<const ss_stock*>(in)->issuer);
}

// Issuers live in their home exchange's table (AXO's in ASX's), so a stock's
// exchange is compared through the issuer lookup rather than by pointer.
static bool stock_of_issuer(const instr* it, const instr* issuer) {
  if (it->kind != kKindStock) return false;
  return strncmp(static_cast<const ss_stock*>(it)->issuer, issuer->code, kCodeSize) == 0 &&
         issuer_of(it) == issuer;
}

static void set_held(instr* in) {
  in->flags |= kInHeld;
  if (ss_issuer* is = issuer_of(in)) is->flags |= kInHeld;
}

// Clears the flags of `in` (and its issuer) unless a linked list still holds
// it (or a stock of the issuer).
static void recompute_held(instr* in) {
  bool held = false, issuer_held = false;
  ss_issuer* is = issuer_of(in);
  for (wlist* w = W.first; w; w = w->next) {
    for (int32_t i = 0; i < w->count; i++) {
      if (w->items[i] == in) held = true;
      if (is && stock_of_issuer(w->items[i], is)) issuer_held = true;
    }
  }
  if (!held) in->flags &= ~kInHeld;
  if (is && !issuer_held) is->flags &= ~kInHeld;
}

// Watchers -------------------------------------------------------------------

// Calls every watcher. The callbacks may unwatch themselves or others (and
// iterate the lists), so the watchers are taken first and each is called
// only while it is still registered.
static void notify(wlist* wl, int event, instr* in) {
  std::vector<wlist_watcher> snapshot;
  for (wlist_watcher* w = wl->first_watcher; w; w = w->next) snapshot.push_back(*w);
  for (const wlist_watcher& s : snapshot) {
    bool still = false;
    for (wlist_watcher* w = wl->first_watcher; w && !still; w = w->next)
      still = w->owner == s.owner && w->fn == s.fn;
    if (still) s.fn(wl, event, in, s.owner, s.arg, s.n);
  }
}

int wlist_watch(wlist* wl, wlist_watch_fn fn, void* owner, void* arg, uint32_t n) {
  wlist_watcher* w = static_cast<wlist_watcher*>(pool_alloc(&W.watchers));
  if (!w) {
    log(LOG_ERROR, kSrc, "can't alloc watcher");
    return -1;
  }
  *w = {fn, owner, arg, n, nullptr, nullptr};
  olist_insert_before(w, (wlist_watcher*)nullptr, wl->first_watcher, wl->last_watcher);
  wl->watcher_count++;
  return 0;
}

int wlist_unwatch(wlist* wl, void* owner) {
  wlist_watcher* w = wl->first_watcher;
  while (w && w->owner != owner) w = w->next;
  if (!w) {
    if (wl->flags & kWlistDeleting) return 0;
    log(LOG_WARN, kSrc, "can't find watch owner %p for %s", owner, wl->name);
    return -1;
  }
  olist_unlink(w, wl->first_watcher, wl->last_watcher);
  wl->watcher_count--;
  pool_free(&W.watchers, w);
  return 0;
}

int wlist_is_watched_by(const wlist* wl, const void* owner) {
  for (wlist_watcher* w = wl->first_watcher; w; w = w->next)
    if (w->owner == owner) return 1;
  return 0;
}

// Life -----------------------------------------------------------------------

int wlist_init(void) {
  if (W.started) return 0;
  W = {};
  if (pool_init(&W.lists, kPoolGrowth, sizeof(wlist)) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc wlist pool");
    return -1;
  }
  if (pool_init(&W.watchers, kPoolGrowth, sizeof(wlist_watcher)) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc watcher pool");
    pool_destroy(&W.lists);
    return -1;
  }
  W.started = true;
  return 0;
}

void wlist_fini(void) {
  if (!W.started) return;
  for (wlist* w = W.first; w;) {
    wlist* next = w->next;
    wlist_delete(w);
    w = next;
  }
  pool_destroy(&W.watchers);
  pool_destroy(&W.lists);
  W = {};
}

wlist* wlist_create(const char* name, int32_t id) {
  if (id < 1) {
    id = ids_next(W.highest_id, [](int32_t i) { return wlist_find(i) != nullptr; });
    if (id < 0) {
      log(LOG_ERROR, kSrc, "no free wlist id");
      return nullptr;
    }
  } else {
    for (wlist* w = W.first; w; w = w->next) {
      if (w->id == id) {
        log(LOG_ERROR, kSrc, "wlist id %d in use", id);
        return nullptr;
      }
    }
  }
  wlist* wl = static_cast<wlist*>(pool_alloc(&W.lists));
  if (!wl) return nullptr;
  *wl = {};
  if (id > W.highest_id) W.highest_id = id;
  wl->id = id;
  wlist* cursor = W.first;
  wlist_unique_name(wl->name, name, kDefaultName, next_list_name, &cursor);
  wl->position = (uint32_t)W.total;
  olist_insert_before(wl, (wlist*)nullptr, W.first, W.last);
  W.total++;
  return wl;
}

int wlist_is_in_use(const wlist* wl) {
  return wl->prev || wl->next || W.first == wl || W.last == wl;
}

void wlist_unlink(wlist* wl) {
  if (wl->flags & kWlistDeleting) return;
  if (wlist_is_in_use(wl)) {
    olist_unlink(wl, W.first, W.last);
    W.total--;
    // The list no longer counts for the held flags of what it holds.
    for (int32_t i = 0; i < wl->count; i++) recompute_held(wl->items[i]);
  }
  wl->flags |= kWlistDeleting;
  notify(wl, kWlistDeleted, nullptr);
  if (wl->watcher_count) log(LOG_ERROR, kSrc, "shouldn't be watching after a delete");
  wl->flags &= ~kWlistDeleting;
  config_set_dirty(2);
}

void wlist_relink(wlist* wl) {
  if (wlist_is_in_use(wl)) return;
  // Positions behind an unlinked list are kept, so the walk by stored
  // position finds the list now at its old index.
  olist_relink(wl, W.first, W.last);
  W.total++;
  for (int32_t i = 0; i < wl->count; i++) set_held(wl->items[i]);
  config_set_dirty(2);
}

void wlist_delete(wlist* wl) {
  wlist_unlink(wl);
  if (wl->watcher_count) {
    log(LOG_ERROR, kSrc, "can't delete wlist %s because people are watching", wl->name);
    return;
  }
  if (W.iter == wl) W.iter = nullptr;
  if (W.item_list == wl) W.item_list = nullptr;
  if (wl->items) dalloc_free(wl->items);
  pool_free(&W.lists, wl);
}

// Lists ----------------------------------------------------------------------

int32_t wlist_total(void) { return W.total; }

wlist* wlist_find(int32_t id) {
  for (wlist* w = W.first; w; w = w->next)
    if (w->id == id) return w;
  return nullptr;
}

wlist* wlist_iter_begin(void) {
  W.iter = W.first;
  return wlist_iter_next();
}

wlist* wlist_iter_next(void) {
  wlist* w = W.iter;
  if (w) W.iter = w->next;
  return w;
}

int32_t wlist_id(const wlist* wl) { return wl->id; }
const char* wlist_name(const wlist* wl) { return wl->name; }
uint32_t wlist_position(const wlist* wl) { return wl->position; }
int32_t wlist_count(const wlist* wl) { return wl->count; }

int32_t wlist_id_at(uint32_t position) {
  for (wlist* w = W.first; w; w = w->next)
    if (w->position == position) return w->id;
  return -1;
}

void wlist_move(uint32_t from, uint32_t to) {
  if (olist_move(W.first, W.last, W.total, from, to)) config_set_dirty(1);
}

void wlist_rename(wlist* wl, const char* name) {
  if (!name) {
    if (!wl->name[0]) return;
    wl->name[0] = '\0';
  } else {
    if (strncmp(wl->name, name, kWlistNameSize - 1) == 0) return;
    snprintf(wl->name, sizeof wl->name, "%s", name);
  }
  notify(wl, kWlistRenamed, nullptr);
}

// Items ----------------------------------------------------------------------

instr* wlist_item_begin(wlist* wl) {
  W.item_list = wl;
  W.item_index = 0;
  return wlist_item_next();
}

instr* wlist_item_next(void) {
  if (!W.item_list || W.item_index >= W.item_list->count) return nullptr;
  return W.item_list->items[W.item_index++];
}

instr* wlist_item_at(const wlist* wl, int32_t i) {
  return i >= 0 && i < wl->count ? wl->items[i] : nullptr;
}

int32_t wlist_index_of(const wlist* wl, const instr* in) {
  for (int32_t i = 0; i < wl->count; i++)
    if (wl->items[i] == in) return i;
  return -1;
}

int wlist_contains(const wlist* wl, const instr* in) {
  if (in->kind == kKindIssuer) {
    for (int32_t i = 0; i < wl->count; i++)
      if (stock_of_issuer(wl->items[i], in)) return 1;
    return 0;
  }
  return wlist_index_of(wl, in) >= 0;
}

// Stores `in` at `index` (0..count). A failed growth keeps the list as it
// was: what the user had gathered is not thrown away.
static int store_at(wlist* wl, instr* in, int32_t index) {
  if (wlist_index_of(wl, in) >= 0) {
    log(LOG_WARN, kSrc, "%s already has %s", wl->name, in->code);
    return -1;
  }
  if (wl->count == wl->capacity) {
    int32_t grown = wl->capacity + kWlistGrowth;
    if (grown > kMaxItems) {
      log(LOG_ERROR, kSrc, "can't realloc %s wlist to %d items", wl->name, grown);
      return -1;
    }
    wl->items = static_cast<instr**>(dalloc_realloc(wl->items, grown * (int32_t)sizeof(instr*)));
    wl->capacity = grown;
  }
  memmove(wl->items + index + 1, wl->items + index, (size_t)(wl->count - index) * sizeof(instr*));
  wl->items[index] = in;
  wl->count++;
  if (wlist_is_in_use(wl)) set_held(in);
  notify(wl, kWlistAdded, in);
  if (!W.loading) config_set_dirty(2);
  return 0;
}

int wlist_add_item(wlist* wl, instr* in) { return store_at(wl, in, wl->count); }

int wlist_insert_before(wlist* wl, instr* in, instr* anchor) {
  int32_t at = wlist_index_of(wl, anchor);
  if (at < 0) {
    log(LOG_ERROR, kSrc, "can't insert %s before %s in %s", in->code, anchor->code, wl->name);
    return -1;
  }
  return store_at(wl, in, at);
}

int wlist_insert_after(wlist* wl, instr* in, instr* anchor) {
  int32_t at = wlist_index_of(wl, anchor);
  if (at < 0) {
    log(LOG_ERROR, kSrc, "can't insert %s after %s in %s", in->code, anchor->code, wl->name);
    return -1;
  }
  return store_at(wl, in, at + 1);
}

int wlist_insert_at(wlist* wl, instr* in, int32_t index) {
  if (index < 0 || index > wl->count) {
    log(LOG_ERROR, kSrc, "can't insert %s at %d in %s", in->code, index, wl->name);
    return -1;
  }
  return store_at(wl, in, index);
}

int wlist_remove(wlist* wl, instr* in) {
  int32_t at = wlist_index_of(wl, in);
  if (at < 0) {
    log(LOG_ERROR, kSrc, "can't remove %s from %s", in->code, wl->name);
    return -1;
  }
  memmove(wl->items + at, wl->items + at + 1, (size_t)(wl->count - at - 1) * sizeof(instr*));
  wl->count--;
  recompute_held(in);
  notify(wl, kWlistRemoved, in);
  config_set_dirty(2);
  return 0;
}

// Configuration --------------------------------------------------------------

void wlist_save(void) {
  for (wlist* w = W.first; w; w = w->next) {
    config_printf("watchlist %d %s", w->id, w->name);
    config_out_push("watchlist");
    for (int32_t i = 0; i < w->count; i++) config_printf("instr %I", w->items[i]);
    config_out_pop();
  }
}

int wlist_load(void) {
  int made = 0;
  if (!config_enter("watchlist")) return 0;
  W.loading = true;
  while (config_next()) {
    config_cell* c = config_base();
    int32_t id = config_arg_int(0);
    const char* name = c->value_count > 1 ? config_arg_string(1) : "";
    wlist* wl = wlist_create(name, id);
    if (!wl) continue;
    // A stored name is the user's own: it comes back as it was, even where
    // the naming rule would number it against a list loaded before it.
    snprintf(wl->name, sizeof wl->name, "%s", name ? name : "");
    made++;
    if (config_enter("instr")) {
      while (config_next())
        if (instr* in = config_arg_instr(0)) wlist_add_item(wl, in);
      config_leave();
    }
  }
  config_leave();
  W.loading = false;
  return made;
}
