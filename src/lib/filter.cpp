// Instrument filters: industry codes with their level masks, watchlist ids
// and the wild / anti-wild flags, matched against an instrument's
// classification code and its held-in-a-watchlist flag. Lists are single
// blocks grown by ten; an absent list and an empty one mean the same, so
// equality compares sorted copies and treats both alike.
#include "lib/filter.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "dalloc.h"
#include "gics.h"
#include "lib/wlist.h"
#include "log.h"
#include "pool.h"
#include "ssmodel.h"

static const char kSrc[] = "src/lib/filter.c";
constexpr int32_t kListStep = 10;
constexpr int32_t kMaxList = 100000;
constexpr int kMaxMissing = 16;

static struct {
  bool started;
  pool records;
  std::string describe;
} F;

// Lists ----------------------------------------------------------------------

static int32_t list_count(const filter_list* l) { return l ? l->count : 0; }

static int32_t list_find(const filter_list* l, uint32_t v) {
  for (int32_t i = 0; i < list_count(l); i++)
    if (l->values[i] == v) return i;
  return -1;
}

static int list_append(filter_list** lp, uint32_t v) {
  filter_list* l = *lp;
  if (!l || l->count == l->capacity) {
    int32_t cap = l ? l->capacity + kListStep : kListStep;
    if (cap > kMaxList) {
      log(LOG_ERROR, kSrc, "can't realloc %d item filter list", cap);
      return -1;
    }
    l = static_cast<filter_list*>(
        dalloc_realloc(l, (int32_t)(sizeof(filter_list) + (size_t)cap * sizeof(uint32_t))));
    if (!*lp) l->count = 0;
    l->capacity = cap;
    *lp = l;
  }
  l->values[l->count++] = v;
  return 0;
}

static void list_remove_at(filter_list* l, int32_t i) {
  memmove(l->values + i, l->values + i + 1, (size_t)(l->count - i - 1) * sizeof(uint32_t));
  l->count--;
}

static void list_free(filter_list** lp) {
  if (*lp) dalloc_free(*lp);
  *lp = nullptr;
}

// Life -----------------------------------------------------------------------

int filter_init(void) {
  if (F.started) return 0;
  if (pool_init(&F.records, kListStep, sizeof(filter)) < 0) return -1;
  F.started = true;
  return 0;
}

void filter_fini(void) {
  if (!F.started) return;
  pool_destroy(&F.records);
  F.started = false;
  std::string().swap(F.describe);
}

filter* filter_alloc(void) {
  filter* f = static_cast<filter*>(pool_alloc(&F.records));
  if (f) *f = {};
  return f;
}

void filter_free(filter* f) {
  if (!f) return;
  list_free(&f->codes);
  list_free(&f->masks);
  list_free(&f->watchlists);
  pool_free(&F.records, f);
}

void filter_clear(filter* f) {
  list_free(&f->codes);
  list_free(&f->masks);
  list_free(&f->watchlists);
}

int filter_copy(filter* dst, const filter* src) {
  if (dst == src) return 0;
  filter_clear(dst);
  dst->flags = src->flags;
  int rc = 0;
  for (int32_t i = 0; i < list_count(src->codes); i++)
    if (filter_add_code(dst, src->codes->values[i]) < 0) rc = -1;
  for (int32_t i = 0; i < list_count(src->watchlists); i++)
    if (filter_add_watchlist(dst, (int32_t)src->watchlists->values[i]) < 0) rc = -1;
  return rc;
}

filter* filter_clone(const filter* f) {
  filter* c = filter_alloc();
  if (c && filter_copy(c, f) < 0) {
    filter_free(c);
    return nullptr;
  }
  return c;
}

int filter_is_empty(const filter* f) {
  return !list_count(f->codes) && !list_count(f->watchlists) &&
         !(f->flags & (kFilterWild | kFilterAntiWild));
}

int filter_has_codes(const filter* f) { return list_count(f->codes) > 0; }

int filter_add_code(filter* f, uint32_t code) {
  if (list_find(f->codes, code) >= 0) return 0;
  if (list_append(&f->codes, code) < 0) return -1;
  if (list_append(&f->masks, gics_level(code)) < 0) {
    f->codes->count--;
    return -1;
  }
  return 0;
}

int filter_remove_code(filter* f, uint32_t code) {
  int32_t i = list_find(f->codes, code);
  if (i < 0) return -1;
  list_remove_at(f->codes, i);
  list_remove_at(f->masks, i);
  return 0;
}

int filter_set_code(filter* f, uint32_t code, int on) {
  return on ? filter_add_code(f, code) : filter_remove_code(f, code);
}

int filter_has_code(const filter* f, uint32_t code) { return list_find(f->codes, code) >= 0; }

int filter_add_watchlist(filter* f, int32_t id) {
  if (list_find(f->watchlists, (uint32_t)id) >= 0) return 0;
  if (!wlist_find(id)) {
    log(LOG_WARN, kSrc, "watchlist %d doesn't exist for filter", id);
    return -1;
  }
  return list_append(&f->watchlists, (uint32_t)id);
}

int filter_set_watchlist(filter* f, int32_t id, int on) {
  if (on) return filter_add_watchlist(f, id);
  int32_t i = list_find(f->watchlists, (uint32_t)id);
  if (i < 0) return -1;
  list_remove_at(f->watchlists, i);
  return 0;
}

int filter_has_watchlist(const filter* f, int32_t id) {
  return list_find(f->watchlists, (uint32_t)id) >= 0;
}

void filter_set_wild(uint32_t* flags, int on) {
  *flags &= ~(kFilterWild | kFilterAntiWild);
  if (on) *flags |= kFilterWild;
}

void filter_set_anti_wild(uint32_t* flags, int on) {
  *flags &= ~(kFilterWild | kFilterAntiWild);
  if (on) *flags |= kFilterAntiWild;
}

int filter_wild(uint32_t flags) { return (flags & kFilterWild) != 0; }
int filter_anti_wild(uint32_t flags) { return (flags & kFilterAntiWild) != 0; }

// Matching -------------------------------------------------------------------

static int match(filter* f, const instr* in, uint32_t g) {
  bool codes_given = list_count(f->codes) > 0;
  if (codes_given && g) {
    for (int32_t i = 0; i < f->codes->count; i++)
      if ((f->masks->values[i] & g) == f->codes->values[i]) return 1;
  }
  bool held = (in->flags & kInHeld) != 0;
  if (f->flags & kFilterWild) return held;
  if (f->flags & kFilterAntiWild) return !held;
  if (!list_count(f->watchlists)) return !codes_given;
  if (!held && in->kind != kKindIssuer) return 0;
  int32_t missing[kMaxMissing];
  int n_missing = 0;
  int result = 0;
  for (int32_t i = 0; i < f->watchlists->count; i++) {
    int32_t id = (int32_t)f->watchlists->values[i];
    wlist* wl = wlist_find(id);
    if (!wl) {
      if (n_missing < kMaxMissing) missing[n_missing++] = id;
      continue;
    }
    if (wlist_contains(wl, in)) {
      result = 1;
      break;
    }
  }
  for (int k = 0; k < n_missing; k++) {
    log(LOG_WARN, kSrc, "wlist %d has been removed", missing[k]);
    filter_set_watchlist(f, missing[k], 0);
  }
  return result;
}

static uint32_t own_code(const instr* in) {
  if (in->kind == kKindIndex) return static_cast<const ss_index*>(in)->sector;
  if (in->kind == kKindIssuer) return static_cast<const ss_issuer*>(in)->sector;
  return 0;
}

int filter_match_stock(filter* f, const ss_stock* stock, const instr* issuer) {
  uint32_t g = 0;
  if (filter_has_codes(f)) {
    if (!issuer) issuer = ssmodel_find_issuer(stock->exchange, stock->issuer);
    if (!issuer) return 0;
    g = own_code(issuer);
  }
  return match(f, stock, g);
}

int filter_match_issuer(filter* f, const instr* issuer_or_index) {
  return match(f, issuer_or_index, own_code(issuer_or_index));
}

int filter_match_instr(filter* f, const instr* in) {
  if (in->kind == kKindStock) return filter_match_stock(f, static_cast<const ss_stock*>(in), nullptr);
  if (in->kind == kKindIndex || in->kind == kKindIssuer) return filter_match_issuer(f, in);
  return 0;
}

// Equality and description ---------------------------------------------------

static bool lists_equal(const filter_list* a, const filter_list* b) {
  if (list_count(a) != list_count(b)) return false;
  if (!list_count(a)) return true;
  std::vector<uint32_t> x(a->values, a->values + a->count), y(b->values, b->values + b->count);
  std::sort(x.begin(), x.end());
  std::sort(y.begin(), y.end());
  return x == y;
}

int filter_equal(const filter* a, const filter* b) {
  return a->flags == b->flags && lists_equal(a->codes, b->codes) &&
         lists_equal(a->watchlists, b->watchlists);
}

// Appends names joined by ", " with " OR " before the last.
static void join(std::string& out, const std::vector<const char*>& names) {
  for (size_t i = 0; i < names.size(); i++) {
    if (i) out += i + 1 == names.size() ? " OR " : ", ";
    out += names[i];
  }
}

const char* filter_describe(const filter* f) {
  F.describe.clear();
  if (!f) return F.describe.c_str();
  bool printed = false;
  if (f->flags & kFilterWild) {
    F.describe += ", IN ANY WATCHLIST";
    printed = true;
  } else if (f->flags & kFilterAntiWild) {
    F.describe += ", NOT IN ANY WATCHLIST";
    printed = true;
  } else if (list_count(f->watchlists)) {
    // Missing watchlists are dropped before the separators are chosen.
    std::vector<const char*> names;
    for (int32_t i = 0; i < f->watchlists->count; i++)
      if (wlist* wl = wlist_find((int32_t)f->watchlists->values[i])) names.push_back(wlist_name(wl));
    if (!names.empty()) {
      F.describe += ", IN ";
      join(F.describe, names);
      printed = true;
    }
  }
  if (list_count(f->codes)) {
    std::vector<const char*> names;
    for (int32_t i = 0; i < f->codes->count; i++)
      if (const char* n = gics_name(f->codes->values[i])) names.push_back(n);
    if (!names.empty()) {
      F.describe += printed ? ", OR IN " : ", IN ";
      join(F.describe, names);
    }
  }
  for (char& c : F.describe) c = (char)toupper((unsigned char)c);
  return F.describe.c_str();
}

// Configuration --------------------------------------------------------------

void filter_save(const filter* f) {
  if (f->flags & kFilterWild)
    config_printf("wild_watchlists %b", 1);
  else if (f->flags & kFilterAntiWild)
    config_printf("anti_wild_watchlists %b", 1);
  if (list_count(f->codes)) {
    config_printf("gics");
    config_out_push("gics");
    for (int32_t i = 0; i < f->codes->count; i++) config_printf("code %x", f->codes->values[i]);
    config_out_pop();
  }
  if (list_count(f->watchlists)) {
    config_printf("watchlists");
    config_out_push("watchlists");
    for (int32_t i = 0; i < f->watchlists->count; i++)
      config_printf("id %d", (int32_t)f->watchlists->values[i]);
    config_out_pop();
  }
}

void filter_load(filter* f) {
  int wild = config_get_bool("wild_watchlists");
  int anti = config_get_bool("anti_wild_watchlists");
  if (config_enter("gics")) {
    if (config_enter("code")) {
      while (config_next()) filter_add_code(f, config_arg_hex(0));
      config_leave();
    }
    config_leave();
  }
  if (config_enter("watchlists")) {
    if (config_enter("id")) {
      while (config_next()) filter_add_watchlist(f, config_arg_int(0));
      config_leave();
    }
    config_leave();
  }
  if (wild)
    filter_set_wild(&f->flags, 1);
  else if (anti)
    filter_set_anti_wild(&f->flags, 1);
}
