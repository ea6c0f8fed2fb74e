// The in-memory market: exchanges, their instrument tables and the lists that
// hang off each instrument, with their pools and work sets, the exchange
// clocks and the day reset of one exchange's records. The order in which the
// engine's modules start and stop, and the reset of whole exchanges, belong to
// the client (ssclient_engine.cpp).
//
// The io thread writes it under the core lock; the user-interface thread reads it under the
// same lock and may keep walking a list across a hand-over of the lock. So
// every list link and count is published with a full barrier, unlinked records
// keep their own links, and nothing another thread may still hold goes back to
// its pool at once: a reset detaches lists and frees them through lazyfree.
#include "ssmodel.h"
#include "ssmodel_int.h"

#include <algorithm>

using namespace ssmodel_detail;

model_state ssmodel_state;

static const ss_exchange_row kRows[kExchanges] = {
    {'A', "ASX", "ASX", 75000, 10000, 100, 10000, 100000000, 1200},
    {'N', "NZX", "NZX", 2000, 2500, 100, 750, 100000000, 1200},
    {'I', "GLB", "GLOBAL", 100, 100, 100, 10, 1000000, 0},
    {'O', "AXO", "AXO", 100000, 100, 100, 10, 100000000, 1200},
};

// ===========================================================================
// Life

namespace {

bool test_fails(const char* step) { return M.test_fail && strcmp(M.test_fail, step) == 0; }

struct pool_row {
  pool* p;
  int32_t per_page;
  int32_t size;
};

int32_t stock_record_size(uint32_t options) {
  return (options & kOptExtended) ? (int32_t)sizeof(ss_stock_ext) : (int32_t)sizeof(ss_stock);
}

void destroy_pools() {
  if (!M.pools_made) return;
  for (pool* p : {&M.stocks, &M.issuers, &M.indices, &M.members, &M.trades, &M.details, &M.trade_breaks, &M.news,
                  &M.xnews, &M.removals, &M.orders, &M.levels, &M.breaks, &M.ticks, &M.adjustments, &M.aliases})
    destroy_pool(p);
  M.pools_made = false;
}

int make_pools() {
  int32_t order_size = (M.options & kOptExtended) ? sizeof(ss_depth_order_ext) : sizeof(ss_depth_order);
  const pool_row rows[] = {
      {&M.stocks, kStocksPerPage, stock_record_size(M.options)},
      {&M.issuers, kIssuersPerPage, sizeof(ss_issuer)},
      {&M.indices, kIndicesPerPage, sizeof(ss_index)},
      {&M.members, kMembersPerPage, sizeof(ss_index_member)},
      {&M.trades, kTradesPerPage, sizeof(ss_trade)},
      {&M.details, kDetailsPerPage, sizeof(ss_trade_detail)},
      {&M.trade_breaks, kTradeBreaksPerPage, sizeof(ss_trade_break)},
      {&M.news, kNewsPerPage, sizeof(ss_news)},
      {&M.xnews, kExchangeNewsPerPage, sizeof(ss_exchange_news)},
      {&M.removals, kRemovalsPerPage, sizeof(ss_news_removal)},
      {&M.orders, kOrdersPerPage, order_size},
      {&M.levels, kLevelsPerPage, sizeof(ss_depth_level)},
      {&M.breaks, kBreaksPerPage, sizeof(ss_depth_break)},
      {&M.ticks, kTicksPerPage, sizeof(ss_tick)},
      {&M.adjustments, kAdjustmentsPerPage, sizeof(ss_adjustment)},
      {&M.aliases, kAliasesPerPage, sizeof(ss_alias)},
  };
  // pool_init maps nothing, so a later failure leaves nothing behind: every
  // pool is set up (or zeroed) before the flag says they can be destroyed.
  for (const pool_row& r : rows) memset(r.p, 0, sizeof *r.p);
  M.pools_made = true;
  for (const pool_row& r : rows)
    if (pool_init(r.p, r.per_page, r.size) < 0) return -1;
  return 0;
}

void free_work_sets() {
  for (work_set& w : M.work) {
    if (w.stock) growbuf_free(&w.stock->scratch);
    if (w.index) growbuf_free(&w.index->scratch);
    if (w.buffer_made) growbuf_free(&w.buffer);
    // A set that was never made (a first start, or a start that failed
    // part-way) holds null pointers, which dalloc_free reports as errors.
    if (w.ex) dalloc_free(w.ex);
    if (w.stock) dalloc_free(w.stock);
    if (w.index) dalloc_free(w.index);
    if (w.issuer) dalloc_free(w.issuer);
    memset(&w, 0, sizeof w);
  }
}

void* zeroed_block(size_t n) {
  void* p = dalloc_alloc((int32_t)n);
  memset(p, 0, n);
  return p;
}

int make_work_sets() {
  for (int i = 0; i < kWorkSets; i++) {
    work_set& w = M.work[i];
    w.ex = static_cast<ss_exchange*>(zeroed_block(sizeof(ss_exchange)));
    w.stock = static_cast<ss_stock*>(zeroed_block((size_t)stock_record_size(M.options)));
    w.index = static_cast<ss_index*>(zeroed_block(sizeof(ss_index)));
    w.issuer = static_cast<ss_issuer*>(zeroed_block(sizeof(ss_issuer)));
    if (test_fails("work") && i == kWorkSets - 1) {
      log(LOG_ERROR, kSrc, "can't alloc work buffer %d", i);
      return -1;
    }
    if (growbuf_init(&w.buffer, kWorkBufferSize, kWorkBufferStep) < 0) {
      log(LOG_ERROR, kSrc, "can't alloc work buffer %d", i);
      return -1;
    }
    w.buffer_made = true;
  }
  return 0;
}

// Frees what an exchange owns outside the pools (which go whole at the end),
// then the exchange. Runs after deferred freeing has ended, so every free
// below happens at once.
// Minute bars of an instrument's day records are allocated, not pooled.
void free_day_bars(instr* in) {
  for (ss_day* d = in->days.head; d; d = d->next) {
    ssevent_free_day_record(d->bars);
    d->bars = nullptr;
  }
}

void free_exchange_contents(ss_exchange* ex) {
  for (uint64_t i = 0; i < ex->stocks.count; i++) {
    ss_stock* s = table_record<ss_stock>(&ex->stocks, i);
    free_day_bars(s);
    if (s->history) dalloc_free(s->history);
    s->history = nullptr;
    growbuf_free(&s->scratch);
  }
  for (uint64_t i = 0; i < ex->indices.count; i++) {
    ss_index* x = table_record<ss_index>(&ex->indices, i);
    free_day_bars(x);
    if (x->history) dalloc_free(x->history);
    x->history = nullptr;
    growbuf_free(&x->scratch);
  }
  for (uint64_t i = 0; i < ex->issuers.count; i++) {
    ss_issuer* is = table_record<ss_issuer>(&ex->issuers, i);
    ssmodel_free_news_list(is);
    ssnotify_record(is, kChangeNewsList, nullptr);
  }
  // The alias table names stocks and issuers that their own tables own; the
  // alias records themselves go with their pool.
  free_exchange(ex);
}

}  // namespace

int ssmodel_store_init(uint32_t options) {
  M.options = options;
  if (options & kOptAllRequested) M.options |= kOptExtended;
  if (make_pools() < 0 || make_work_sets() < 0) return -1;
  memset(M.ex, 0, sizeof M.ex);
  M.news_sequence = 0;
  return 0;
}

void ssmodel_free_exchanges(void) {
  for (ss_exchange*& ex : M.ex) {
    if (!ex) continue;
    free_exchange_contents(ex);
    ex = nullptr;
  }
}

void ssmodel_store_fini(void) {
  free_work_sets();
  destroy_pools();
}

int ssmodel_test_fails(const char* step) { return test_fails(step) ? 1 : 0; }

void ssmodel_set_test_failure(const char* step) { M.test_fail = step; }

uint32_t ssmodel_options(void) { return M.options; }
int ssmodel_extended(void) { return (M.options & kOptExtended) ? 1 : 0; }
int ssmodel_all_requested(void) { return (M.options & kOptAllRequested) ? 1 : 0; }
int ssmodel_trade_breaks_on(void) { return (M.options & kOptNoTradeBreaks) ? 0 : 1; }
int32_t ssmodel_stock_size(void) { return stock_record_size(M.options); }

// ===========================================================================
// Work sets

namespace {

work_set* work(int32_t set) { return set >= 0 && set < kWorkSets && M.work[set].ex ? &M.work[set] : nullptr; }

// The speed tables are left as they are: with the counts at 0 nothing reads
// them, and they are most of the record's 0.5 MB.
void zero_exchange(ss_exchange* x) { memset(x, 0, offsetof(ss_exchange, speeds)); }

// A scratch record's own buffer is freed before the record is zeroed, so
// reusing a scratch record leaks nothing.
void zero_stock(ss_stock* s) {
  growbuf_free(&s->scratch);
  memset(s, 0, (size_t)ssmodel_stock_size());
}

void zero_index(ss_index* x) {
  growbuf_free(&x->scratch);
  memset(x, 0, sizeof *x);
}

ss_exchange* scratch_exchange_for(work_set* w, const ss_exchange* ex) {
  memcpy(w->ex->name, ex->name, kCodeSize);
  w->ex->index = ex->index;
  w->ex->flags = ex->flags;
  return w->ex;
}

void name_scratch(instr* in, ss_exchange* ex, const char* code, uint32_t kind) {
  code_key(in->code, code);
  in->exchange = ex;
  in->kind = kind;
  in->id = -1;
  in->scan_old = in->scan_new = -1;
  in->name1 = in->name2 = in->code;
}

}  // namespace

ss_exchange* ssmodel_scratch_exchange(int32_t set) {
  work_set* w = work(set);
  if (!w) return nullptr;
  zero_exchange(w->ex);
  return w->ex;
}

ss_stock* ssmodel_scratch_stock(int32_t set) {
  work_set* w = work(set);
  if (!w) return nullptr;
  zero_stock(w->stock);
  return w->stock;
}

ss_index* ssmodel_scratch_index(int32_t set) {
  work_set* w = work(set);
  if (!w) return nullptr;
  zero_index(w->index);
  return w->index;
}

ss_stock* ssmodel_scratch_stock_for(int32_t set, const ss_exchange* ex, const char* code) {
  work_set* w = work(set);
  if (!w || !ex || !code) return nullptr;
  ss_stock* s = w->stock;
  zero_stock(s);
  name_scratch(s, scratch_exchange_for(w, ex), code, kKindStock);
  memcpy(s->issuer, s->code, 3);
  s->speed = -1;
  growbuf_init(&s->scratch, 0, kStockScratchStep);
  return s;
}

ss_index* ssmodel_scratch_index_for(int32_t set, const ss_exchange* ex, const char* code) {
  work_set* w = work(set);
  if (!w || !ex || !code) return nullptr;
  ss_index* x = w->index;
  zero_index(x);
  name_scratch(x, scratch_exchange_for(w, ex), code, kKindIndex);
  x->speed = -1;
  growbuf_init(&x->scratch, 0, kIndexScratchStep);
  return x;
}

ss_issuer* ssmodel_scratch_issuer_for(int32_t set, const ss_exchange* ex, const char* code) {
  work_set* w = work(set);
  if (!w || !ex || !code) return nullptr;
  ss_issuer* is = w->issuer;
  memset(is, 0, sizeof *is);
  name_scratch(is, scratch_exchange_for(w, ex), code, kKindIssuer);
  return is;
}

growbuf* ssmodel_work_buffer(int32_t i, int empty) {
  work_set* w = work(i);
  if (!w) return nullptr;
  if (empty) growbuf_reset(&w->buffer);
  return &w->buffer;
}


// ===========================================================================
// Exchanges

const ss_exchange_row* ssmodel_exchange_row(int32_t index) {
  return index >= 0 && index < kExchanges ? &kRows[index] : nullptr;
}

ss_exchange* ssmodel_new_exchange(int32_t index, uint32_t flags) {
  const ss_exchange_row* row = ssmodel_exchange_row(index);
  if (!row) return nullptr;
  if (M.ex[index]) return M.ex[index];
  ss_exchange* ex = static_cast<ss_exchange*>(dalloc_alloc(sizeof(ss_exchange)));
  memset(ex, 0, sizeof *ex);
  strncpy(ex->name, row->name, kCodeSize - 1);
  ex->index = (uint32_t)index;
  ex->constant = row->constant;
  ex->flags = flags;
  ex->notice_seq = -1;
  if (chash_init(&ex->stocks, row->stocks) < 0 || chash_init(&ex->issuers, row->issuers) < 0 ||
      chash_init(&ex->indices, row->indices) < 0 || chash_init(&ex->aliases, row->aliases) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc exchange");
    free_exchange(ex);
    return nullptr;
  }
  // Without streams the buffers start empty, but keep a real growth step.
  if (growbuf_init(&ex->stream, (flags & kExStreams) ? row->stream_size : 0, row->stream_size / 2) < 0) {
    log(LOG_ERROR, kSrc, "can't init exchange growbuf");
    free_exchange(ex);
    return nullptr;
  }
  growbuf_set_relocate(&ex->stream, on_stream_relocate, ex);
  if (growbuf_init(&ex->zstream, (flags & kExStreams) ? kZStreamSize : 0, kZStreamStep) < 0) {
    log(LOG_ERROR, kSrc, "can't init exchange z growbuf");
    free_exchange(ex);
    return nullptr;
  }
  M.ex[index] = ex;
  return ex;
}

ss_exchange* ssmodel_exchange(int32_t index) {
  return index >= 0 && index < kExchanges ? M.ex[index] : nullptr;
}

const char* ssmodel_exchange_name(int32_t index) {
  const ss_exchange_row* row = ssmodel_exchange_row(index);
  return row ? row->name : nullptr;
}

const char* ssmodel_exchange_display_name(int32_t index) {
  const ss_exchange_row* row = ssmodel_exchange_row(index);
  return row ? row->display_name : nullptr;
}

int32_t ssmodel_exchange_by_name(const char* text) {
  if (!text) return -1;
  static const struct {
    const char* name;
    int32_t index;
  } kNames[] = {{"ASX", 0}, {"NZX", 1}, {"GLB", 2}, {"AXO", 3}, {"A", 0},    {"N", 1},
                {"I", 2},   {"O", 3},   {"NZSE", 1}, {"ASXOPT", 3}};
  for (const auto& n : kNames)
    if (strcasecmp(text, n.name) == 0) return n.index;
  return -1;
}

void ssmodel_exchange_set_flags(ss_exchange* ex, uint32_t bits) { ex->flags |= bits; }

void ssmodel_set_date(ss_exchange* ex, ss_time t) {
  ss_time date = t & ~kSstimeSecondsMask;
  if (date == ex->date) return;
  ex->date = date;
  log(LOG_INFO, kSrc, "set %s date %04d-%02d-%02d", ex->name, (int)(date >> 26) + kSstimeFirstYear,
      (int)((date >> 22) & 0xF), (int)((date >> 17) & 0x1F));
}

ss_time ssmodel_exchange_date(int32_t index) {
  ss_exchange* ex = ssmodel_exchange(index);
  return ex ? ex->date : 0;
}

int32_t ssmodel_exchange_offset(int32_t index) {
  ss_exchange* ex = ssmodel_exchange(index);
  return ex ? ex->offset : 0;
}

uint32_t ssmodel_exchange_phase(int32_t index) {
  ss_exchange* ex = ssmodel_exchange(index);
  return ex ? ex->phase : 0;
}

uint32_t ssmodel_exchange_signature(int32_t index) {
  ss_exchange* ex = ssmodel_exchange(index);
  return ex ? ex->signature : 0;
}

void ssmodel_set_signature(int32_t index, uint32_t value) {
  ss_exchange* ex = ssmodel_exchange(index);
  if (!ex) return;
  ex->signature = value;
  ex->reset_since_signature = 0;
  log(LOG_INFO, kSrc, "set %s sig %u", ex->name, value);
}

// ===========================================================================
// Instruments

int ssmodel_code_compare(const char* a, const char* b) { return strcmp(a, b); }

ss_stock* ssmodel_find_stock(ss_exchange* ex, const char* code) {
  if (!ex || !code) return nullptr;
  char key[kCodeSize];
  code_key(key, code);
  return static_cast<ss_stock*>(chash_find(&ex->stocks, key));
}

ss_stock* ssmodel_get_stock(ss_exchange* ex, const char* code) {
  ss_stock* s = ssmodel_find_stock(ex, code);
  return s ? s : ssmodel_add_stock(ex, code);
}

namespace {

ss_issuer* add_issuer(ss_exchange* ex, const char* code, int keep_sorted);

// Adds a stock; keep_sorted (a chash placing, kChashAppend for a bulk add to
// sort once) applies to the tables' ordered arrays: stocks, and issuers made
// on the way.
ss_stock* add_stock(ss_exchange* ex, const char* code, int keep_sorted) {
  if (!ex || !code) return nullptr;
  char key[kCodeSize];
  code_key(key, code);
  if (!key[0]) return nullptr;
  if (!upper_or_digit(key[0])) {
    if (!strstr(key, "_CX")) log(LOG_ERROR, kSrc, "won't add stock with code %s", key);
    return nullptr;
  }
  if (strstr(key, "__")) return nullptr;
  ss_stock* s = take<ss_stock>(&M.stocks);
  if (!s) return nullptr;
  memcpy(s->code, key, kCodeSize);
  s->exchange = ex;
  s->kind = kKindStock;
  s->id = -1;
  s->scan_old = s->scan_new = -1;
  s->name1 = s->name2 = s->code;
  s->speed = -1;
  memcpy(s->issuer, key, 3);
  if (ssmodel_all_requested()) s->flags |= kInRequestBits;
  growbuf_init(&s->scratch, 0, kStockScratchStep);
  if (chash_insert(&ex->stocks, s, keep_sorted) < 0) {
    give_back(s, &M.stocks);
    return nullptr;
  }
  if (!ssmodel_find_issuer(ex, s->issuer)) add_issuer(ex, s->issuer, keep_sorted);
  if (ex->index == kExchangeAsx && (strstr(key, "_CX") || strstr(key, "_PM"))) {
    char base[kCodeSize];
    memcpy(base, key, kCodeSize);
    *strrchr(base, '_') = 0;
    ss_stock* b = ssmodel_find_stock(ex, base);
    if (b) {
      s->name1 = b->name1;
      s->name2 = b->name2;
    }
  }
  return s;
}

}  // namespace

// A stock the stream names for the first time waits behind the table's ordered
// part until a merge (kChashSettled): stocks first named in random order would
// otherwise shift the ordered array once each.
ss_stock* ssmodel_add_stock(ss_exchange* ex, const char* code) { return add_stock(ex, code, kChashSettled); }

int32_t ssmodel_add_stocks(ss_exchange* ex, const char* const* codes, int32_t n, ss_stock** out) {
  if (!ex || !codes || n <= 0) return 0;
  // Room for all of them first: a table that grows half way re-places every
  // record it holds.
  const uint64_t want = ex->stocks.count + uint64_t(n);
  if (ex->stocks.size / 2 < want && chash_resize(&ex->stocks, int32_t(std::min<uint64_t>(want, INT32_MAX))) < 0)
    log(LOG_WARN, kSrc, "can't presize %s for %d more stocks", ex->name, n);
  int32_t added = 0;
  for (int32_t i = 0; i < n; i++) {
    ss_stock* s = codes[i] ? ssmodel_find_stock(ex, codes[i]) : nullptr;
    if (!s && codes[i]) {
      s = add_stock(ex, codes[i], kChashAppend);
      if (s) added++;
    }
    if (out) out[i] = s;
  }
  // One sort each, published whole; the unsorted tail was only ever seen in
  // the ordered arrays, and only by walkers that take no lock.
  chash_sort(&ex->stocks);
  if (ss_exchange* home = issuer_home(ex)) chash_sort(&home->issuers);
  return added;
}

ss_index* ssmodel_find_index(ss_exchange* ex, const char* code) {
  if (!ex || !code) return nullptr;
  char key[kCodeSize];
  code_key(key, code);
  return static_cast<ss_index*>(chash_find(&ex->indices, key));
}

ss_index* ssmodel_get_index(ss_exchange* ex, const char* code) {
  ss_index* x = ssmodel_find_index(ex, code);
  return x ? x : ssmodel_add_index(ex, code);
}

ss_index* ssmodel_add_index(ss_exchange* ex, const char* code) {
  if (!ex || !code) return nullptr;
  char key[kCodeSize];
  code_key(key, code);
  if (!key[0]) return nullptr;  // an empty key could never be found again
  ss_index* x = take<ss_index>(&M.indices);
  if (!x) return nullptr;
  memcpy(x->code, key, kCodeSize);
  x->exchange = ex;
  x->kind = kKindIndex;
  x->id = -1;
  x->scan_old = x->scan_new = -1;
  x->name1 = x->name2 = x->code;
  x->speed = -1;
  x->sector = gics_code_for_index((int32_t)ex->index, key);
  if (ssmodel_all_requested()) x->flags |= kInRequestBits;
  if (ex->index == kExchangeGlb) x->flags |= kInCurrent;
  growbuf_init(&x->scratch, 0, kIndexScratchStep);
  if (chash_add(&ex->indices, x) < 0) {
    give_back(x, &M.indices);
    return nullptr;
  }
  return x;
}

ss_issuer* ssmodel_find_issuer(ss_exchange* ex, const char* code) {
  if (!ex || !code) return nullptr;
  chash* t = issuer_table(ex);
  if (!t) return nullptr;
  char key[kCodeSize];
  code_key(key, code);
  return static_cast<ss_issuer*>(chash_find(t, key));
}

ss_issuer* ssmodel_get_issuer(ss_exchange* ex, const char* code) {
  ss_issuer* is = ssmodel_find_issuer(ex, code);
  return is ? is : ssmodel_add_issuer(ex, code);
}

ss_issuer* ssmodel_add_issuer(ss_exchange* ex, const char* code) { return add_issuer(ex, code, kChashSettled); }

namespace {

ss_issuer* add_issuer(ss_exchange* ex, const char* code, int keep_sorted) {
  if (!ex || !code) return nullptr;
  char key[kCodeSize];
  code_key(key, code);
  if (!upper_or_digit(key[0])) {
    log(LOG_ERROR, kSrc, "won't add issuer with code %s", key);
    return nullptr;
  }
  ss_exchange* home = issuer_home(ex);
  if (!home) return nullptr;
  ss_issuer* is = take<ss_issuer>(&M.issuers);
  if (!is) return nullptr;
  memcpy(is->code, key, kCodeSize);
  is->exchange = home;
  is->kind = kKindIssuer;
  is->id = -1;
  is->scan_old = is->scan_new = -1;
  is->name1 = is->name2 = is->code;
  if (chash_insert(&home->issuers, is, keep_sorted) < 0) {
    give_back(is, &M.issuers);
    return nullptr;
  }
  return is;
}

}  // namespace

ss_alias* ssmodel_find_alias(ss_exchange* ex, const char* code) {
  if (!ex || !code) return nullptr;
  char key[kCodeSize];
  code_key(key, code);
  return static_cast<ss_alias*>(chash_find(&ex->aliases, key));
}

ss_stock* ssmodel_find_stock_or_alias(ss_exchange* ex, const char* code) {
  ss_alias* a = ssmodel_find_alias(ex, code);
  if (a) {
    ss_stock* s = ssmodel_find_stock(ex, a->to);
    if (s) return s;
  }
  return ssmodel_find_stock(ex, code);
}

ss_issuer* ssmodel_find_issuer_or_alias(ss_exchange* ex, const char* code) {
  ss_alias* a = ssmodel_find_alias(ex, code);
  if (a) {
    ss_issuer* is = ssmodel_find_issuer(ex, a->to);
    if (is) return is;
  }
  return ssmodel_find_issuer(ex, code);
}

static void remove_alias(ss_exchange* ex, ss_alias* a) {
  chash_remove(&ex->aliases, a->from);
  give_back_later(&M.aliases, a);
}

int ssmodel_add_alias(ss_exchange* ex, const char* from, const char* to) {
  if (!ex || !from || !to) return -1;
  char fk[kCodeSize], tk[kCodeSize];
  code_key(fk, from);
  code_key(tk, to);
  ss_alias* a = ssmodel_find_alias(ex, fk);
  if (a) {
    if (strcmp(a->to, tk) == 0) return 0;
    if (strcmp(fk, tk) == 0) {
      remove_alias(ex, a);
      return 0;
    }
    memcpy(a->to, tk, kCodeSize);
  } else {
    if (strcmp(fk, tk) == 0) return 0;
    ss_alias* r = ssmodel_find_alias(ex, tk);
    if (r && strcmp(r->to, fk) == 0) remove_alias(ex, r);
    a = take<ss_alias>(&M.aliases);
    if (!a) {
      log(LOG_ERROR, kSrc, "can't alloc alias");
      return -1;
    }
    memcpy(a->from, fk, kCodeSize);
    memcpy(a->to, tk, kCodeSize);
    if (chash_add(&ex->aliases, a) < 0) {
      log(LOG_ERROR, kSrc, "can't add alias %s:%s->%s", ex->name, fk, tk);
      give_back(a, &M.aliases);
      return -1;
    }
  }
  a->issuer = ssmodel_find_issuer(ex, fk);
  a->stock = ssmodel_find_stock(ex, fk);
  int result = 0;
  if (strlen(fk) <= 3 && strlen(tk) <= 3) {
    ss_issuer* fi = a->issuer;
    ss_issuer* ti = ssmodel_get_issuer(ex, tk);
    if (!ti) {
      result = -1;
    } else {
      // The from-issuer's recent news moves to the to-issuer.
      for (ss_exchange_news* e = ex->news.head; e;) {
        ss_exchange_news* next = e->next;
        if (strcmp(e->code, fk) == 0) {
          dl_unlink(ex->news, e);
          give_back_later(&M.xnews, e);
          ss_news* item = fi ? ssmodel_find_news(fi, e->number) : nullptr;
          if (item && !ssmodel_find_news(ti, e->number))
            ssmodel_add_news(ti, item->number, item->time, item->codes, item->flags, item->headline);
        }
        e = next;
      }
      if (fi && (ex->flags & kExRecord) && !(ti->flags & kInMuted)) ssnotify_record(fi, kChangeAlias, nullptr);
    }
  }
  ss_stock* ts = ssmodel_get_stock(ex, tk);
  if (!ts)
    result = -1;
  else if (a->stock && (ex->flags & kExRecord) && !(ts->flags & kInMuted))
    ssnotify_record(a->stock, kChangeAlias, nullptr);
  return result;
}

// ===========================================================================
// Current lists and rankings

void ssmodel_link_current(ss_stock* stock) {
  ss_exchange* ex = stock->exchange;
  if (in_current(ex, stock)) return;
  link_in_code_order(ex->current, &ex->stocks, stock, current_links(),
                     [ex](ss_stock* c) { return in_current(ex, c); });
}

void ssmodel_stock_make_current(ss_stock* stock) {
  ss_exchange* ex = stock->exchange;
  stock->flags |= kInCurrent;
  ssmodel_link_current(stock);
  if (ex->flags & kExRankings)
    for (int i = 0; i < kRankings; i++)
      if (!in_rank(ex, stock, i)) rank_insert(ex, stock, i);
  mark_issuer_current(stock);
}

void ssmodel_link_index_current(ss_index* index) {
  ss_exchange* ex = index->exchange;
  index->flags |= kInCurrent;
  if (in_index_current(ex, index)) return;
  link_in_code_order(ex->current_indices, &ex->indices, index, index_links(),
                     [ex](ss_index* c) { return in_index_current(ex, c); });
}

void ssmodel_clear_current(ss_exchange* ex) {
  clear_list(ex->current, current_links());
  for (int i = 0; i < kRankings; i++) clear_list(ex->rank[i], rank_links{i});
  for (uint64_t i = 0; i < ex->stocks.count; i++) table_record<ss_stock>(&ex->stocks, i)->flags &= ~kInCurrent;
}

void ssmodel_rebuild_current(ss_exchange* ex) {
  clear_list(ex->current, current_links());
  for (int i = 0; i < kRankings; i++) clear_list(ex->rank[i], rank_links{i});
  // The table's sorted array in code order (stocks waiting behind the ordered
  // part merged first) gives the list its order.
  chash_settle(&ex->stocks);
  uint32_t n = 0;
  for (uint64_t i = 0; i < ex->stocks.count; i++) {
    ss_stock* s = table_record<ss_stock>(&ex->stocks, i);
    if (!(s->flags & kInCurrent)) continue;
    append(ex->current, s, current_links());
    n++;
  }
  if (!n) log(LOG_WARN, kSrc, "no stocks in %s", ex->name);
  if (n && (ex->flags & kExRankings)) {
    // One array of the current stocks from the allocator (which ends the
    // process rather than fail), sorted once per ranking.
    ss_stock** order = static_cast<ss_stock**>(dalloc_alloc(static_cast<int32_t>(n * sizeof(ss_stock*))));
    for (int r = 0; r < kRankings; r++) {
      uint32_t k = 0;
      for (ss_stock* s = ex->current.head; s && k < n; s = s->current.next) order[k++] = s;
      std::stable_sort(order, order + k,
                       [r](const ss_stock* a, const ss_stock* b) { return kRankCompare[r](a, b) < 0; });
      for (uint32_t i = 0; i < k; i++) append(ex->rank[r], order[i], rank_links{r});
    }
    dalloc_free(order);
  }
  ss_exchange* home = issuer_home(ex);
  if (home) recompute_issuer_current(home);
}

void ssmodel_clear_index_current(ss_exchange* ex) {
  clear_list(ex->current_indices, index_links());
  for (uint64_t i = 0; i < ex->indices.count; i++)
    table_record<ss_index>(&ex->indices, i)->flags &= ~kInCurrent;
}

void ssmodel_rebuild_index_current(ss_exchange* ex) {
  clear_list(ex->current_indices, index_links());
  chash_settle(&ex->indices);
  for (uint64_t i = 0; i < ex->indices.count; i++) {
    ss_index* x = table_record<ss_index>(&ex->indices, i);
    if (x->flags & kInCurrent) append(ex->current_indices, x, index_links());
  }
}

int ssmodel_rank_change_compare(const ss_stock* a, const ss_stock* b) {
  if (a->change_pct != b->change_pct) return a->change_pct < b->change_pct ? -1 : 1;
  if (a->close && b->close) {
    double ra = (double)a->change / a->close, rb = (double)b->change / b->close;
    if (ra != rb) return ra < rb ? -1 : 1;
  }
  int c = strcmp(a->code, b->code);
  return a->change_pct <= 0 ? c : -c;
}

int ssmodel_rank_volume_compare(const ss_stock* a, const ss_stock* b) {
  if (a->volume != b->volume) return a->volume < b->volume ? -1 : 1;
  return strcmp(a->code, b->code);
}

int ssmodel_rank_value_compare(const ss_stock* a, const ss_stock* b) {
  if (a->value != b->value) return a->value < b->value ? -1 : 1;
  return strcmp(a->code, b->code);
}

// ===========================================================================
// Names and fundamentals

// Replaces each given name that is not empty and differs from the code and
// from the present one. True when either changed.
static bool apply_names(instr* s, const char* name1, const char* name2) {
  bool changed = false;
  const char* names[2] = {name1, name2};
  const char** slots[2] = {&s->name1, &s->name2};
  for (int i = 0; i < 2; i++) {
    const char* n = names[i];
    if (!n || !n[0] || strcmp(n, s->code) == 0 || strcmp(n, *slots[i]) == 0) continue;
    const char* copy = copy_name(n);
    if (!copy) continue;
    *slots[i] = copy;
    changed = true;
  }
  return changed;
}

void ssmodel_set_stock_names(ss_stock* stock, const char* name1, const char* name2) {
  ss_exchange* ex = stock->exchange;
  if (apply_names(stock, name1, name2)) {
    stock->flags |= kInNamed;
    if (!(stock->flags & kInMuted) && (ex->flags & kExRecord)) ssnotify_record(stock, kChangeNames, nullptr);
  }
  if (ex->index == kExchangeAsx && stock->kind == kKindStock && strlen(stock->code) < 8) {
    for (const char* suffix : {"_CX", "_PM"}) {
      char code[kCodeSize + 4];
      snprintf(code, sizeof code, "%s%s", stock->code, suffix);
      ss_stock* other = ssmodel_find_stock(ex, code);
      if (other && apply_names(other, name1, name2)) other->flags |= kInNamed;
    }
  }
}

void ssmodel_set_names(instr* in, const char* name1, const char* name2) {
  if (in->kind == kKindStock) {
    ssmodel_set_stock_names(static_cast<ss_stock*>(in), name1, name2);
    return;
  }
  if (apply_names(in, name1, name2)) {
    in->flags |= kInNamed;
    if (!(in->flags & kInMuted) && (in->exchange->flags & kExRecord)) ssnotify_record(in, kChangeNames, nullptr);
  }
}

void ssmodel_set_issuer_code(ss_stock* stock, const char* code) {
  char key[kCodeSize];
  code_key(key, code);
  if (strcmp(key, stock->issuer) == 0) return;
  memcpy(stock->issuer, key, kCodeSize);
  if (stock->flags & kInCurrent) mark_issuer_current(stock);
  ssnotify_record(stock, kChangeIssuer, nullptr);
}

void ssmodel_set_capital(ss_stock* stock, uint32_t a, uint32_t b, uint32_t c, uint64_t shares) {
  const uint32_t figures[3] = {a, b, c};
  for (int i = 0; i < 3; i++)
    if (figures[i] != kCapitalUnchanged) stock->capital[i] = figures[i];
  if (shares == UINT64_MAX || shares == stock->shares) return;
  stock->shares = shares;
  uint32_t price = stock->last ? stock->last : stock->close;
  stock->market_cap = clamp64((unsigned __int128)price * shares / 100);
}

void ssmodel_set_option(ss_stock* stock, const char* underlying, uint32_t kind, ss_time expiry, uint32_t first,
                        uint32_t second) {
  code_key(stock->underlying, underlying);
  stock->option_kind = kind;
  stock->expiry = expiry;
  stock->option_number = first;
  stock->multiplier = second;
}

void ssmodel_set_sector(instr* in, uint32_t number) {
  if (in->kind == kKindIndex) static_cast<ss_index*>(in)->sector = number;
  else if (in->kind == kKindIssuer) static_cast<ss_issuer*>(in)->sector = number;
}

void ssmodel_set_history_from(instr* in, ss_time date) {
  in->history_from = date;
  if (!date) return;
  if (in->kind == kKindIssuer) {
    ss_issuer* is = static_cast<ss_issuer*>(in);
    if (cut_before(is->news, date, free_news_chain)) ssnotify_record(in, kChangeNewsList, nullptr);
  } else if (in->kind == kKindStock) {
    if (drop_points_before(static_cast<ss_stock*>(in)->history, date)) ssnotify_record(in, kChangeHistory, nullptr);
  } else if (in->kind == kKindIndex) {
    if (drop_points_before(static_cast<ss_index*>(in)->history, date)) ssnotify_record(in, kChangeHistory, nullptr);
  }
}

static bool has_underlying(ss_exchange* ex, const char* key) {
  if (!ex) return false;
  for (uint64_t i = 0; i < ex->stocks.count; i++) {
    ss_stock* s = table_record<ss_stock>(&ex->stocks, i);
    if (s->option_kind && strcmp(s->underlying, key) == 0) return true;
  }
  return false;
}

int ssmodel_is_underlying(ss_exchange* ex, const char* code) {
  if (!ex || !code) return 0;
  char key[kCodeSize];
  code_key(key, code);
  if (ex->index == kExchangeAsx) return has_underlying(ex, key);
  if (ex->index == kExchangeAxo) return has_underlying(ex, key) || has_underlying(M.ex[kExchangeAsx], key);
  return 0;
}

int ssmodel_is_main_index(const char* code) {
  if (!code || ssmodel_all_requested()) return 0;
  if (strcmp(code, "XAO") == 0 && ssuser_exchange_permitted(kExchangeAsx)) return 1;
  if (strcmp(code, "NZ50") == 0 && ssuser_exchange_permitted(kExchangeNzx)) return 1;
  return 0;
}

// Every figure is computed in wider integers (or double) and clamped to its
// field, so extreme prices and volumes saturate rather than wrap.
void ssmodel_stock_derive(ss_stock* s) {
  uint32_t base = s->close ? s->close : s->open;
  uint32_t indicative = (uint32_t)s->auction.price;
  if (s->last) {
    int64_t change = base ? (int64_t)s->last - base : 0;
    s->change = clamp32(change);
    s->change_pct = percent_of(change, base);
    s->disp_price = s->last;
    s->disp_change = s->change;
    s->disp_change_pct = s->change_pct;
    s->disp_volume = s->volume;
    s->disp_value = s->value;
  } else if (indicative) {
    int64_t change = base ? (int64_t)indicative - base : 0;
    s->change = 0;
    s->change_pct = 0;
    s->disp_price = indicative;
    s->disp_change = clamp32(change);
    s->disp_change_pct = percent_of(change, base);
    s->disp_volume = add_sat(s->volume, s->auction.matched);
    uint64_t mult = s->multiplier > 1 ? s->multiplier : 1;
    unsigned __int128 extra = (unsigned __int128)mult * indicative * s->auction.matched;
    // (x × 100) / 10000 is x / 100 in integers, and cannot overflow.
    s->disp_value = add_sat(s->value, clamp64(extra / 100));
  } else {
    s->change = 0;
    s->change_pct = 0;
    s->disp_price = s->close;
    s->disp_change = 0;
    s->disp_change_pct = 0;
    s->disp_volume = s->volume;
    s->disp_value = s->value;
  }
  s->market_cap = clamp64((unsigned __int128)s->disp_price * s->shares / 100);
  ssutil_stock_vcmp_derive(s);
}

void ssmodel_auction_clear(ss_auction* a) { memset(a, 0, sizeof *a); }

void ssmodel_auction_copy(ss_auction* dst, const ss_auction* src) { memcpy(dst, src, sizeof *dst); }

int ssmodel_auction_differs(const ss_auction* a, const ss_auction* b) {
  return a->price != b->price || a->matched != b->matched || a->surplus != b->surplus ||
         a->bid_price != b->bid_price || a->bid_volume != b->bid_volume || a->offer_price != b->offer_price ||
         a->offer_volume != b->offer_volume;
}

void ssmodel_stock_copy_auction(const ss_stock* live, ss_stock* scratch) {
  ssmodel_auction_copy(&scratch->auction, &live->auction);
}

void ssmodel_stock_clear_auction(ss_stock* stock) { ssmodel_auction_clear(&stock->auction); }

int ssmodel_reserve_history(ss_stock* stock, uint32_t n) {
  return reserve_points<ss_stock_history, ss_stock_point>(stock->history, n);
}

int ssmodel_reserve_index_history(ss_index* index, uint32_t n) {
  return reserve_points<ss_index_history, ss_index_point>(index->history, n);
}

void ssmodel_free_history(ss_stock* stock) {
  ss_stock_history* h = stock->history;
  ssmodel_publish(stock->history, nullptr);
  if (h) lazyfree_later(free_block, h);
  stock->flags &= ~kInHistory;
}

void ssmodel_free_index_history(ss_index* index) {
  ss_index_history* h = index->history;
  ssmodel_publish(index->history, nullptr);
  if (h) lazyfree_later(free_block, h);
  index->flags &= ~kInHistory;
}
