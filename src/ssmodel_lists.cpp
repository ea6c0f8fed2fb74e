// The lists that hang off an instrument: depth levels and orders, trades with
// their details and per-price breaks, index ticks and constituents, capital
// adjustments and news. Every link is published with a full barrier and what
// leaves a list is freed through deferred freeing (see ssmodel.cpp).
#include "ssmodel.h"
#include "ssmodel_int.h"

using namespace ssmodel_detail;

// ===========================================================================
// Depth

ss_depth_level* ssmodel_new_depth_level(uint32_t price) {
  ss_depth_level* l = take<ss_depth_level>(&M.levels);
  if (l) l->price = price;
  return l;
}

ss_depth_order* ssmodel_new_depth_order(uint64_t volume, uint32_t value, ss_depth_level* level,
                                        ss_depth_order* next) {
  ss_depth_order* o = take<ss_depth_order>(&M.orders);
  if (!o) return nullptr;
  o->volume = volume;
  o->value = value;
  ssmodel_publish(o->next, next);
  if (level) {
    ssmodel_publish(level->count, level->count + 1);
    if (volume != UINT64_MAX) level->volume += volume;
  }
  return o;
}

ss_depth_order* ssmodel_new_depth_order_at(uint64_t volume, uint32_t value, ss_depth_level* level) {
  return ssmodel_new_depth_order(volume, value, level, nullptr);
}

void ssmodel_free_depth(ss_stock* stock) {
  // The event module's summary memo may point into these levels: drop it
  // before they are detached, so a later summary cannot link into them.
  ssevent_clear_pending();
  ssevent_forget_depth(stock);
  for (int side = 0; side < 2; side++) {
    ss_depth_level* head = stock->levels[side];
    ssmodel_publish(stock->levels[side], nullptr);
    if (head) lazyfree_later(free_level_chain, head);
  }
}

void ssmodel_free_depth_levels(ss_depth_level* first) {
  if (first) lazyfree_later(free_level_chain, first);
}

void ssmodel_free_depth_level(ss_depth_level* level) {
  if (level) give_back_later(&M.levels, level);
}

void ssmodel_free_depth_order(ss_depth_order* order) {
  if (order) give_back_later(&M.orders, order);
}

ss_depth_break* ssmodel_add_depth_break(ss_stock* stock, int side, int32_t position, uint32_t value) {
  if (side != 0 && side != 1) return nullptr;
  ss_depth_break* b = take<ss_depth_break>(&M.breaks);
  if (!b) return nullptr;
  b->position = position;
  b->value = value;
  ss_list<ss_depth_break>& l = stock->breaks[side];
  ss_depth_break* c = l.tail;
  while (c && c->position > position) c = c->prev;
  dl_insert_after(l, c, b);
  return b;
}

void ssmodel_free_depth_breaks(ss_stock* stock) {
  for (auto& l : stock->breaks) free_later(free_chain<ss_depth_break>, dl_detach(l));
}

// ===========================================================================
// Trades

// Moves the aggregate cursor to the aggregate of `price`, or to where it
// would go; returns the aggregate or null.
static ss_trade_break* seek_trade_break(ss_trade_breaks& tb, uint32_t price, ss_trade_break** before) {
  ss_trade_break* c = tb.cursor ? tb.cursor : tb.head;
  while (c && c->price < price) c = c->next;
  if (!c) c = tb.tail;
  while (c && c->price > price) c = c->prev;
  // c is now the last aggregate whose price is not above `price`, or null.
  if (c && c->price == price) {
    tb.cursor = c;
    return c;
  }
  *before = c ? c->next : tb.head;
  return nullptr;
}

static ss_list<ss_trade_break>& as_list(ss_trade_breaks& tb) {
  static_assert(offsetof(ss_trade_breaks, count) == offsetof(ss_list<ss_trade_break>, count) &&
                    offsetof(ss_trade_breaks, head) == offsetof(ss_list<ss_trade_break>, head) &&
                    offsetof(ss_trade_breaks, tail) == offsetof(ss_list<ss_trade_break>, tail),
                "the aggregate list starts like a list");
  return *reinterpret_cast<ss_list<ss_trade_break>*>(&tb);
}

static void fold_trade(ss_stock* stock, const ss_trade* t) {
  ss_trade_breaks& tb = stock->trade_breaks;
  ss_trade_break* before = nullptr;
  ss_trade_break* b = seek_trade_break(tb, t->price, &before);
  if (b) {
    b->first = std::min(b->first, t->time);
    b->last = std::max(b->last, t->time);
    b->volume += t->volume;
    b->count++;
    return;
  }
  b = take<ss_trade_break>(&M.trade_breaks);
  if (!b) {
    log(LOG_ERROR, kSrc, "can't alloc trade break");
    return;
  }
  b->first = b->last = t->time;
  b->price = t->price;
  b->volume = t->volume;
  b->count = 1;
  dl_insert_before(as_list(tb), before, b);
  tb.cursor = b;
}

// Trades vary once their prices change this often, counted from the newest.
constexpr uint32_t kTradesVaryChanges = 10;

// Whether the stock's count of price changes describes its list as it
// stands: the same tail and count as when counted. Trades join a list only
// through ssmodel_add_trade, which keeps the count; a list replaced whole
// has another tail (its records were taken while the old list still held
// its own), and a freed list clears the key, since its records may come
// back as another list.
static bool changes_known(const ss_stock* s) {
  return s->changes_tail && s->changes_tail == s->trades.tail && s->changes_count == s->trades.count;
}

// Counts the whole list afresh (once after the list was replaced or freed;
// from then on each added trade moves the count).
static void count_changes(ss_stock* s) {
  uint32_t prev = 0, n = 0;
  for (const ss_trade* t = s->trades.tail; t; t = t->prev) {
    if (t->price != prev) n++;
    prev = t->price;
  }
  s->trade_changes = n;
  s->changes_count = s->trades.count;
  s->changes_tail = s->trades.tail;
}

// The count after `t` was linked: a change is a trade whose price differs
// from the next newer one's (0 past the newest), so only the pairs around t
// move.
static void count_inserted_change(ss_stock* s, const ss_trade* t) {
  const uint32_t newer = t->next ? t->next->price : 0;
  uint32_t n = s->trade_changes;
  if (const ss_trade* older = t->prev) n = n - (older->price != newer) + (older->price != t->price);
  n += t->price != newer;
  s->trade_changes = n;
  s->changes_count = s->trades.count;
  s->changes_tail = s->trades.tail;
}

ss_trade* ssmodel_add_trade(ss_stock* stock, ss_time time, uint32_t price, uint64_t volume) {
  ss_trade* t = take<ss_trade>(&M.trades);
  if (!t) return nullptr;
  t->time = time;
  t->price = price;
  t->volume = volume;
  ss_trade* c = stock->trades.tail;
  while (c && c->time > time) c = c->prev;
  const bool counted = changes_known(stock);
  dl_insert_after(stock->trades, c, t);
  if (counted)
    count_inserted_change(stock, t);
  else
    count_changes(stock);
  stock->trade_count++;
  ss_exchange* ex = stock->exchange;
  if (ex && time > ex->date) ex->trades_today++;
  if (!(M.options & kOptNoTradeBreaks)) fold_trade(stock, t);  // ssmodel_trade_breaks_on
  return t;
}

ss_trade_break* ssmodel_find_trade_break(ss_stock* stock, uint32_t price) {
  ss_trade_break* before = nullptr;
  return seek_trade_break(stock->trade_breaks, price, &before);
}

int ssmodel_remove_trade_break(ss_stock* stock, uint32_t price) {
  ss_trade_breaks& tb = stock->trade_breaks;
  ss_trade_break* b = ssmodel_find_trade_break(stock, price);
  if (!b) {
    log(LOG_WARN, kSrc, "can't find %s trade break @ %u to remove", stock->code, price);
    return -1;
  }
  tb.cursor = b->prev ? b->prev : b->next;
  dl_unlink(as_list(tb), b);
  give_back_later(&M.trade_breaks, b);
  return 0;
}

ss_trade_detail* ssmodel_set_trade_detail(ss_trade* trade, uint64_t conditions, uint64_t second_value, uint32_t date,
                                          uint64_t buyer, uint64_t seller) {
  ss_trade_detail* d = take<ss_trade_detail>(&M.details);
  if (!d) return nullptr;
  d->conditions = conditions;
  d->second_value = second_value;
  d->date = date;
  d->buyer = buyer;
  d->seller = seller;
  ss_trade_detail* old = trade->detail;
  ssmodel_publish(trade->detail, d);
  if (old) give_back_later(&M.details, old);
  return d;
}

ss_trade_detail* ssmodel_trade_detail(const ss_trade* trade) { return ssmodel_load(trade->detail); }

int ssmodel_trades_vary(const ss_stock* stock) {
  if (changes_known(stock)) return stock->trade_changes >= kTradesVaryChanges;
  // A list not built by ssmodel_add_trade since it was replaced: walked, to
  // the tenth change at most.
  uint32_t prev = 0, changes = 0;
  for (const ss_trade* t = stock->trades.tail; t; t = t->prev) {
    if (t->price != prev && ++changes >= kTradesVaryChanges) return 1;
    prev = t->price;
  }
  return 0;
}

static void free_trade_lists(ss_list<ss_trade>& trades, ss_trade_breaks& tb) {
  free_later(free_trade_chain, dl_detach(trades));
  tb.cursor = nullptr;
  free_later(free_chain<ss_trade_break>, dl_detach(as_list(tb)));
}

void ssmodel_free_trades(ss_stock* stock) {
  free_trade_lists(stock->trades, stock->trade_breaks);
  stock->trade_count = 0;
  stock->changes_tail = nullptr;  // the records may come back as another list
}

void ssmodel_free_day_trades(ss_day* day) { free_trade_lists(day->trades, day->trade_breaks); }

void ssmodel_free_day_ticks(ss_day* day) { free_later(free_chain<ss_tick>, dl_detach(day->ticks)); }

// ===========================================================================
// Index ticks and constituents

ss_tick* ssmodel_add_index_tick(ss_index* index, int32_t time, uint32_t value) {
  ss_tick* t = take<ss_tick>(&M.ticks);
  if (!t) return nullptr;
  t->time = time;
  t->value = value;
  ss_tick* c = index->ticks.tail;
  while (c && c->time > time) c = c->prev;
  dl_insert_after(index->ticks, c, t);
  return t;
}

void ssmodel_free_index_ticks(ss_index* index) { free_later(free_chain<ss_tick>, dl_detach(index->ticks)); }

ss_index_member* ssmodel_add_index_member(ss_index* index, const char* code, uint64_t value) {
  char key[kCodeSize];
  code_key(key, code);
  ss_index_member* c = index->members.head;
  while (c && strcmp(c->code, key) < 0) c = c->next;
  ss_index_member* m = c;
  if (c && strcmp(c->code, key) == 0) {
    c->value = value;
  } else {
    m = take<ss_index_member>(&M.members);
    if (!m) return nullptr;
    memcpy(m->code, key, kCodeSize);
    m->value = value;
    dl_insert_before(index->members, c, m);
  }
  ssmodel_set_benchmark_flag(index, key, 1);
  return m;
}

void ssmodel_remove_index_member(ss_index* index, const char* code) {
  char key[kCodeSize];
  code_key(key, code);
  for (ss_index_member* m = index->members.head; m; m = m->next) {
    if (strcmp(m->code, key) == 0) {
      dl_unlink(index->members, m);
      give_back_later(&M.members, m);
      break;
    }
  }
  ssmodel_set_benchmark_flag(index, key, 0);
}

void ssmodel_set_benchmark_flag(ss_index* index, const char* code, int on) {
  ss_exchange* ex = index->exchange;
  bool benchmark = (ex->index == kExchangeAsx && strcmp(index->code, "XJO") == 0) ||
                   (ex->index == kExchangeNzx && strcmp(index->code, "NZ50") == 0);
  if (!benchmark) return;
  ss_stock* s = ssmodel_find_stock(ex, code);
  if (!s) {
    log(LOG_WARN, kSrc, "can't find %s:%s to %s benchmark flag", ex->name, code, on ? "set" : "clear");
    return;
  }
  if (on)
    s->flags |= kInBenchmark;
  else
    s->flags &= ~kInBenchmark;
}

// ===========================================================================
// Adjustments

int ssmodel_add_adjustment(ss_stock* stock, int32_t date, int32_t factor) {
  ss_adjustment* c = stock->adjustments.tail;
  while (c && c->date > date) c = c->prev;
  if (c && c->date == date) {
    c->factor = factor;
    return 0;
  }
  ss_adjustment* a = take<ss_adjustment>(&M.adjustments);
  if (!a) {
    log(LOG_ERROR, kSrc, "can't alloc adjustment");
    return -1;
  }
  a->date = date;
  a->factor = factor;
  dl_insert_after(stock->adjustments, c, a);
  return 0;
}

int ssmodel_remove_adjustment(ss_stock* stock, int32_t date, int32_t factor) {
  for (ss_adjustment* a = stock->adjustments.tail; a; a = a->prev) {
    if (a->date == date && a->factor == factor) {
      dl_unlink(stock->adjustments, a);
      give_back_later(&M.adjustments, a);
      return 0;
    }
  }
  return -1;
}

// ===========================================================================
// News

ss_news* ssmodel_add_news(instr* in, uint32_t number, ss_time time, const uint32_t* codes, uint32_t flags,
                          const char* headline) {
  ss_issuer* is = issuer_of(in);
  if (!is) {
    log(LOG_ERROR, kSrc, "no news list on %s", in ? in->code : "(null)");
    return nullptr;
  }
  ss_news* n = take<ss_news>(&M.news);
  if (!n) return nullptr;
  n->number = number;
  n->time = time;
  n->flags = flags;
  if (headline) {
    size_t len = strnlen(headline, kHeadlineSize - 1);
    memcpy(n->headline, headline, len);
  }
  for (int i = 0; codes && i < kNewsCodes; i++) {
    n->codes[i] = codes[i];
    if (!codes[i]) break;
  }
  ss_exchange* ex = in->exchange;
  if (ex->index == kExchangeAsx && (flags & kNewsFlag1) && !(flags & kNewsFlag4) && kludge_before_20100606(time) &&
      memchr(n->headline, ':', strnlen(n->headline, 6)))
    n->flags |= kNewsFlag4;

  ss_news* c = is->news.tail;
  while (c && news_after(c->time, c->number, time, number)) c = c->prev;
  if (c && c->time == time && c->number == number) {
    if (!time) {
      log(LOG_WARN, kSrc, "no need to add temp %s news item", in->code);
      give_back(n, &M.news);
      return c;
    }
    c->flags = n->flags;
    memcpy(c->codes, n->codes, sizeof c->codes);
    memcpy(c->headline, n->headline, sizeof c->headline);
    // A re-sent item keeps its body unless the new one brings its own.
    if (n->body) {
      char* old = c->body;
      c->body = n->body;
      if (old) lazyfree_later(free_block, old);
    }
    give_back(n, &M.news);
    if (ex->date && time > ex->date) {
      if (c->flags & kNewsWithdrawn)
        ssmodel_recompute_news_flags(is);  // it may have been counted before
      else
        set_news_bits(in, c);
    }
    return c;
  }
  dl_insert_after(is->news, c, n);
  if (time && (!ex->date || time > sstime_add_months(ex->date, -1))) add_exchange_news(ex, in->code, n);
  if (ex->date && time > ex->date) set_news_bits(in, n);
  return n;
}

ss_news* ssmodel_add_bare_news(instr* in, uint32_t number) {
  return ssmodel_add_news(in, number, 0, nullptr, 0, nullptr);
}

ss_news* ssmodel_find_news(instr* in, uint32_t number) {
  ss_issuer* is = issuer_of(in);
  if (!is) return nullptr;
  for (ss_news* n = is->news.tail; n; n = n->prev)
    if (n->number == number) return n;
  return nullptr;
}

void ssmodel_recompute_news_flags(ss_issuer* issuer) {
  issuer->flags &= ~kInNewsBits;
  ss_time date = issuer->exchange->date;
  for (ss_news* n = issuer->news.tail; n; n = n->prev) {
    // Items known only by their number (time 0) carry nothing to show.
    if (!n->time || n->time < date) continue;
    set_news_bits(issuer, n);
  }
}

int ssmodel_remove_news(ss_issuer* issuer, uint32_t number) {
  ss_list<ss_news_removal>& l = issuer->removals;
  ss_news_removal* c = l.tail;
  while (c && c->number > number) c = c->prev;
  if (!c || c->number != number) {
    ss_news_removal* r = take<ss_news_removal>(&M.removals);
    if (!r) {
      log(LOG_ERROR, kSrc, "can't alloc news removal");
      return -1;
    }
    r->number = number;
    dl_insert_after(l, c, r);
  }
  ss_news* item = ssmodel_find_news(issuer, number);
  if (item) {
    item->flags |= kNewsWithdrawn;
    ssmodel_recompute_news_flags(issuer);
  }
  return 0;
}

void ssmodel_apply_news_removals(ss_issuer* issuer) {
  for (ss_news_removal* r = issuer->removals.head; r; r = r->next) {
    ss_news* item = ssmodel_find_news(issuer, r->number);
    if (!item) continue;
    item->flags |= kNewsWithdrawn;
    ssmodel_recompute_news_flags(issuer);
  }
}

void ssmodel_trim_news_today(instr* in) { trim_news(in, in->exchange->date); }

void ssmodel_trim_news_month(instr* in) {
  ss_time date = in->exchange->date;
  trim_news(in, date ? sstime_add_months(date, -1) : 0);
}

// AXO's issuers and their recent news live with ASX, so a recount of AXO is a
// recount of ASX: clearing ASX's issuers from AXO's (empty) list would drop
// their bits.
void ssmodel_recount_news_flags(ss_exchange* ex) {
  ex = issuer_home(ex);
  if (!ex) return;
  for (uint64_t i = 0; i < ex->issuers.count; i++)
    table_record<ss_issuer>(&ex->issuers, i)->flags &= ~kInNewsBits;
  for (ss_exchange_news* e = ex->news.tail; e && e->time >= ex->date; e = e->prev) {
    ss_issuer* is = ssmodel_find_issuer(ex, e->code);
    ss_news* item = is ? ssmodel_find_news(is, e->number) : nullptr;
    if (item) set_news_bits(is, item);
  }
}

void ssmodel_free_news_item(ss_news* item) {
  if (item) lazyfree_later(free_news_one, item);
}

void ssmodel_free_news_list(ss_issuer* issuer) { free_later(free_news_chain, dl_detach(issuer->news)); }

void ssmodel_free_exchange_news(ss_exchange* ex) { free_later(free_chain<ss_exchange_news>, dl_detach(ex->news)); }
