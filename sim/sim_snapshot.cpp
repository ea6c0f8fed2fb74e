// Generated exchange snapshots. Prices are drawn on the exchange's tenths so
// that most fields take the short relative forms a real summary is made of,
// with a few odd prices, crossed books and level-total stocks mixed in. The
// writer builds the exchange in a model of its own and hands it to encsum,
// which is the same writer the recovery snapshot uses.
#include "sim_snapshot.h"

#include <algorithm>

#include "dechdr.h"
#include "encsum.h"
#include "growbuf.h"
#include "log.h"
#include "ssbroker.h"
#include "ssmodel.h"
#include "sstrack.h"

static const char kSrc[] = "sim/sim_snapshot";

namespace {

constexpr uint32_t kSnapModelOptions = kOptNoTradeBreaks | kOptFastReset;
constexpr uint32_t kSnapExchangeFlags = kExRecord | kExTrackStreams;  // index tracks
constexpr int32_t kMaxLevels = 5;

struct snap_rng {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return uint32_t(next() % n); }
  bool chance(uint32_t percent) { return below(100) < percent; }
};

std::string code_of(char lead, uint32_t i, int letters) {
  std::string c(1, lead);
  std::string tail;
  for (int k = 0; k < letters; k++) {
    tail.insert(tail.begin(), char('A' + i % 26));
    i /= 26;
  }
  return c + tail;
}

void make_side(snap_rng& r, sim_snap_stock& s, int side, uint32_t from, uint32_t step, bool brokers) {
  const int32_t levels = int32_t(r.below(kMaxLevels + 1));
  for (int32_t l = 0; l < levels; l++) {
    sim_snap_level v;
    const uint32_t off = uint32_t(l) * step;
    v.price = side == 0 ? (from > off + step ? from - off : 0) : from + off;
    if (!v.price) break;
    if (s.totals) {
      v.count = 1 + r.below(20);
      v.orders.push_back(100 * (1 + r.below(5000)));
    } else {
      const uint32_t orders = 1 + r.below(4);
      for (uint32_t o = 0; o < orders; o++) {
        v.orders.push_back(100 * (1 + r.below(500)));
        // Learnt codes (not among the built-in ids), written in packed form.
        if (brokers) v.brokers.push_back(std::string("BRK") + char('A' + r.below(26)));
      }
    }
    s.sides[side].push_back(v);
  }
}

sim_snap_stock make_stock(snap_rng& r, uint32_t i, ss_time date, uint8_t state, bool brokers) {
  sim_snap_stock s;
  s.code = code_of('S', i, 4);
  const uint32_t step = 10 * (1 + r.below(5));
  s.close = step * (10 + r.below(20000));
  s.first = s.close;
  s.totals = r.chance(10);
  if (r.chance(70)) {
    s.open = s.close + step * r.below(5) - step * r.below(5);
    s.last = s.open + step * r.below(9) - step * r.below(9);
    if (r.chance(10)) s.last = s.close;
    if (r.chance(5)) s.last += 3;  // off the tenths
    s.high = std::max({s.open, s.last, s.open + step * r.below(3)});
    s.low = std::min({s.open, s.last});
    if (r.chance(50)) s.low = s.low > step ? s.low - step * r.below(2) : s.low;
    s.first = s.open;
    s.trades = 1 + r.below(500);
    s.volume = 100ull * (1 + r.below(100000));
    s.value = s.volume * s.last / 100;
    s.trade_time = date + 36000 + r.below(21600);
  }
  s.volume2 = s.volume;
  s.value2 = s.value;
  if (r.chance(10)) s.volume2 = s.volume + 100 * r.below(50);
  if (r.chance(5)) s.value2 = s.value + r.below(1000);
  const uint32_t mid = s.last ? s.last : s.close;
  const bool crossed = r.chance(5);
  make_side(r, s, 0, crossed ? mid + step : mid - step, step, brokers);
  make_side(r, s, 1, crossed ? mid : mid + step, step, brokers);
  const uint32_t bid = s.sides[0].empty() ? 0 : s.sides[0][0].price;
  const uint32_t offer = s.sides[1].empty() ? 0 : s.sides[1][0].price;
  if (bid && bid >= offer && r.chance(80)) {
    s.auction_price = bid;
    s.auction_volume = 100 * (1 + r.below(1000));
    s.surplus = int64_t(r.below(2000)) - 1000;
    s.auction_bid = bid;
    s.auction_bid_volume = 100 * r.below(1000);
    s.auction_offer = offer;
    s.auction_offer_volume = 100 * r.below(1000);
  }
  s.state = r.chance(5) ? uint32_t(1 + r.below(30)) : state;
  if (r.chance(5)) s.basis = r.next() >> 4;
  if (r.chance(2)) s.resume = date + 40000 + r.below(10000);
  if (r.chance(3)) s.balance = 1 + r.below(1000000);
  return s;
}

sim_snap_index make_index(snap_rng& r, uint32_t i, ss_time date) {
  sim_snap_index x;
  x.code = code_of('X', i, 3);
  x.base = 1000 * (100 + r.below(9000));
  x.time = date;
  if (r.chance(90)) {
    x.open = x.base + r.below(2000) - 1000;
    x.value = x.base + r.below(4000) - 2000;
    x.high = std::max(x.open, x.value) + r.below(500);
    x.low = std::min(x.open, x.value) - r.below(500);
    x.time = date + 36000 + r.below(21600);
  }
  return x;
}

void add_levels(ss_stock* s, int side, const std::vector<sim_snap_level>& levels, bool totals) {
  ss_depth_level* prev = nullptr;
  for (const sim_snap_level& l : levels) {
    ss_depth_level* lv = ssmodel_new_depth_level(l.price);
    if (totals) {
      lv->count = l.count;
      lv->volume = l.orders[0];
    } else {
      ss_depth_order* next = nullptr;
      for (size_t i = l.orders.size(); i-- > 0;) {
        next = ssmodel_new_depth_order(l.orders[i], 0, lv, next);
        if (i < l.brokers.size()) next->broker = ssbroker_add(l.brokers[i].c_str());
      }
      lv->orders = next;
    }
    if (prev)
      prev->next = lv;
    else
      s->levels[side] = lv;
    prev = lv;
  }
}

}  // namespace

int sim_snapshot_build(const sim_snapshot& snap, ss_exchange* ex) {
  ssmodel_set_date(ex, snap.date);
  ex->state = snap.state;
  if (snap.brokers) ssmodel_exchange_set_flags(ex, kExBrokers);
  for (const sim_snap_stock& g : snap.stocks) {
    ss_stock* s = ssmodel_get_stock(ex, g.code.c_str());
    if (!s || dechdr_add_stock_speed(s) < 0) return -1;
    s->close = g.close;
    s->open = g.open;
    s->high = g.high;
    s->low = g.low;
    s->last = g.last;
    s->first_price = g.first;
    s->volume = g.volume;
    s->value = g.value;
    s->second_volume = g.volume2;
    s->second_value = g.value2;
    s->trade_count = g.trades;
    s->last_trade_time = g.trade_time;
    if (g.totals) s->flags |= kInOutOfOrder;
    add_levels(s, 0, g.sides[0], g.totals);
    add_levels(s, 1, g.sides[1], g.totals);
    s->auction.price = g.auction_price;
    s->auction.matched = g.auction_volume;
    s->auction.surplus = g.surplus;
    s->auction.bid_price = g.auction_bid;
    s->auction.bid_volume = g.auction_bid_volume;
    s->auction.offer_price = g.auction_offer;
    s->auction.offer_volume = g.auction_offer_volume;
    s->state = g.state;
    s->quote_basis = g.basis;
    s->resume_time = g.resume;
    s->open_balance = g.balance;
  }
  for (const sim_snap_index& g : snap.indices) {
    ss_index* x = ssmodel_get_index(ex, g.code.c_str());
    if (!x || dechdr_add_index_speed(x) < 0) return -1;
    x->base = g.base;
    x->open = g.open;
    x->high = g.high;
    x->low = g.low;
    x->value = g.value;
    x->last_tick_time = g.time;
    for (const auto& [t, v] : g.track)
      if (sstrack_track_index(x, t, v) < 0) return -1;
  }
  sstrack_update();  // commits the last of each track
  return 0;
}

sim_snapshot sim_snapshot_generate(uint32_t index, ss_time date, uint8_t state, uint64_t seed, int32_t stocks,
                                   int32_t indices, bool brokers) {
  sim_snapshot snap;
  snap.index = index;
  snap.date = date;
  snap.state = state;
  snap.brokers = brokers;
  snap_rng r{seed * 0x2545f4914f6cdd1dull + 7};
  stocks = std::clamp<int32_t>(stocks, 0, int32_t(kStockSpeeds));
  indices = std::clamp<int32_t>(indices, 0, int32_t(kIndexSpeeds));
  for (int32_t i = 0; i < stocks; i++) snap.stocks.push_back(make_stock(r, uint32_t(i), date, state, brokers));
  for (int32_t i = 0; i < indices; i++) snap.indices.push_back(make_index(r, uint32_t(i), date));
  return snap;
}

int sim_snapshot_write(const sim_snapshot& snap, std::vector<uint8_t>* out) {
  if (ssmodel_init(kSnapModelOptions) < 0) return -1;
  int r = -1;
  ss_exchange* ex = nullptr;
  for (int32_t i = 0; i < kExchanges; i++) {
    ss_exchange* e = ssmodel_new_exchange(i, kSnapExchangeFlags);
    if (uint32_t(i) == snap.index) ex = e;
  }
  growbuf gb = {};
  if (ex && sim_snapshot_build(snap, ex) == 0 && growbuf_init(&gb, 1 << 20, 1 << 20) == 0) {
    if (encsum_encode_stock(&gb, ex, 0) == 0) {
      out->assign(gb.data, gb.data + gb.len);
      r = 0;
    }
    growbuf_free(&gb);
  }
  if (r < 0) log(LOG_ERROR, kSrc, "can't write the snapshot of exchange %u", snap.index);
  ssmodel_fini();
  return r;
}
