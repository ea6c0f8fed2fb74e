// The depth bars: per side a list of bars by price step, best first, each a
// stack of blocks, one per order in queue order; a third list holds the
// trades done at each step. A removed order's block stays, dead, until its
// removal fade ends, so a change is seen as movement; a positional event
// counts live blocks only.
//
// The drawing maps the shown steps' price span across the width and the
// volume scale up the height. Both are guarded: an empty or single-priced
// book, or a zero-volume scale, draws nothing rather than dividing by zero.
#include "windows/depthbars.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "lib/fade.h"
#include "lib/fmt.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/timer.h"
#include "log.h"
#include "ssevent.h"
#include "ssutil.h"
#include "style.h"
#include "windows/window.h"

namespace {

const char kSrc[] = "src/windows/depthbars";

constexpr uint32_t kAllSteps = 999999;
constexpr int32_t kMinThickness = 3;
constexpr double kRemovalLive = 0.5, kRemovalReplay = 0.32;
constexpr double kGrowthLive = 0.3, kGrowthReplay = 0.2;
constexpr int kAgedAlpha = 96;
constexpr int32_t kMinSideSteps = 5;
constexpr int32_t kNoGapSteps = 100;
constexpr int64_t kSpanLiveMs = 1000, kSpanReplayMs = 200;

struct bar {
  uint32_t count = 0;
  uint32_t step = 0;
  uint64_t volume = 0;
  std::vector<depthbars_block> blocks;
};

struct model {
  std::vector<bar> lists[3];
  uint32_t group_step = 1, half_step = 0;
  int32_t thickness = kMinThickness;
  int32_t price_gridlines = 15, volume_gridlines = 5;
  uint32_t shown[2] = {0, 0};
  uint64_t scale_top = 0;
  uint32_t lo = 0, hi = 0;            // the span drawn
  uint32_t want_lo = 0, want_hi = 0;  // the span of the steps shown now
  uint64_t volume_step = 10, scale_max = 0;
  int32_t span_timer = -1;
  uint64_t auction_price = 0, auction_volume = 0;
  rect auction_box{};         // where the auction figures were drawn; empty when none
  bool auction_shown = false;  // their detail popup is up
  bool loaded = false, recolour = false;
};

struct depthbars : depthwin_child {
  model *m;
};

model &md(depthwin_child *c) { return *static_cast<depthbars *>(c)->m; }
double frame_now() { return depthwin_get_services()->now_seconds(); }
bool before(int list, uint32_t a, uint32_t b) { return list == 0 ? a > b : a < b; }
bool out_of_order(const depthwin_child *c) {
  return c->book && c->book->instrument && (c->book->instrument->flags & kInOutOfOrder);
}

bar *get_bar(model &m, int list, uint32_t step) {
  std::vector<bar> &v = m.lists[list];
  size_t i = 0;
  while (i < v.size() && before(list, v[i].step, step)) i++;
  if (i < v.size() && v[i].step == step) return &v[i];
  bar b;
  b.step = step;
  return &*v.insert(v.begin() + long(i), std::move(b));
}

bar *find_bar(model &m, int list, uint32_t step) {
  for (bar &b : m.lists[list])
    if (b.step == step) return &b;
  return nullptr;
}

// The bar holding a queue position and the position's place among its live
// orders (from 0).
bar *locate(model &m, int side, uint32_t position, uint32_t *k) {
  uint32_t p = position;
  for (bar &b : m.lists[side]) {
    if (p >= 1 && p <= b.count) {
      *k = p - 1;
      return &b;
    }
    p -= b.count;
  }
  log(LOG_ERROR, kSrc, "can't find bar, %d more needed", int(p));
  return nullptr;
}

// The bar an amend or delete works on: by price step for a stock whose
// depth is one entry a level, else by queue position. Null (logged) when
// there is none.
bar *target_bar(model &m, bool ooo, int side, uint32_t price, uint32_t position, uint32_t *k) {
  if (!ooo) return locate(m, side, position, k);
  bar *b = find_bar(m, side, depthwin_step_of(price, m.group_step));
  if (!b || !b->count) {
    log(LOG_ERROR, kSrc, "can't get to position, no blocks");
    return nullptr;
  }
  return b;
}

// Index in b.blocks of the k-th live block (blocks.size() when past the end).
size_t live_index(const bar &b, uint32_t k) {
  for (size_t i = 0; i < b.blocks.size(); i++)
    if (b.blocks[i].live && k-- == 0) return i;
  return b.blocks.size();
}

bool replaying(const depthwin_child *c) { return c->book && (c->book->anchor_position || c->book->rebuilding); }

// Starts a block's fade from where it is drawn now to its new end; instant
// while fades are held.
void fade_block(depthbars_block &blk, double seconds) {
  double now = frame_now();
  blk.from = depthbars_block_length(&blk);
  blk.fade_at = now;
  blk.fade_for = fade_hold_count() > 0 ? 0 : seconds;
}

depthbars_block new_block(depthwin_child *c, uint64_t volume, ss_time time) {
  depthbars_block blk{volume, time, 1, 0, 0, 0, 0};
  if (fade_hold_count() == 0) {
    blk.fade_at = frame_now();
    blk.fade_for = replaying(c) ? kGrowthReplay : kGrowthLive;
  }
  return blk;
}

void kill_block(depthwin_child *c, bar &b, size_t i) {
  if (fade_hold_count() > 0) {
    b.blocks.erase(b.blocks.begin() + long(i));
    return;
  }
  depthbars_block &blk = b.blocks[i];
  fade_block(blk, replaying(c) ? kRemovalReplay : kRemovalLive);
  blk.live = 0;
  blk.gone_at = blk.fade_at + blk.fade_for;
}

void prune(depthwin_child *c) {
  double now = frame_now();
  bool held = fade_hold_count() > 0;
  for (int l = 0; l < 3; l++) {
    std::vector<bar> &v = md(c).lists[l];
    for (size_t i = 0; i < v.size();) {
      auto &bl = v[i].blocks;
      for (size_t k = 0; k < bl.size();)
        if (!bl[k].live && (held || bl[k].gone_at <= now))
          bl.erase(bl.begin() + long(k));
        else
          k++;
      if (v[i].count == 0 && bl.empty())
        v.erase(v.begin() + long(i));
      else
        i++;
    }
  }
}

void changed(depthwin_child *c) {
  if (widget_is_shown(c))
    widget_redraw(c);
  else
    md(c).loaded = true;
}

void add_order(depthwin_child *c, int side, uint32_t price, uint64_t volume, ss_time time, uint32_t position) {
  model &m = md(c);
  uint32_t step = depthwin_step_of(price, m.group_step);
  bar *b = get_bar(m, side, step);
  // Orders in bars before this one come first in the queue.
  uint32_t ahead = 0;
  for (bar &x : m.lists[side]) {
    if (&x == b) break;
    ahead += x.count;
  }
  uint32_t k = position > ahead ? position - 1 - ahead : 0;
  if (k > b->count) k = b->count;
  size_t at = live_index(*b, k);
  b->blocks.insert(b->blocks.begin() + long(at), new_block(c, volume, time));
  b->count++;
  b->volume += volume;
}

void bs_apply(depthwin_child *c, const ss_event *ev) {
  model &m = md(c);
  bool ooo = out_of_order(c);
  switch (ev->kind) {
    case kEvDepthAdd: {
      auto *p = static_cast<const ss_ev_depth_add *>(ev->payload);
      if (p->side > 1) return;
      if (ooo) {
        bar *b = get_bar(m, int(p->side), depthwin_step_of(p->price, m.group_step));
        b->blocks.push_back(new_block(c, p->volume, p->time));
        b->count++;
        b->volume += p->volume;
      } else {
        add_order(c, int(p->side), p->price, p->volume, p->time, p->position);
      }
      break;
    }
    case kEvDepthAmend: {
      auto *p = static_cast<const ss_ev_depth_amend *>(ev->payload);
      if (p->side > 1) return;
      uint32_t k = 0;
      bar *b = target_bar(m, ooo, int(p->side), p->price, p->position, &k);
      if (!b) return;
      size_t i = live_index(*b, k);
      if (i >= b->blocks.size()) {
        log(LOG_ERROR, kSrc, "can't get to position %d @ %s", int(p->position), sstime_format_datetime(p->time));
        return;
      }
      uint64_t old = b->blocks[i].volume;
      fade_block(b->blocks[i], replaying(c) ? kGrowthReplay : kGrowthLive);
      b->blocks[i].volume = p->volume;
      if (ooo)
        b->volume = p->volume;
      else
        b->volume = b->volume - old + p->volume;
      break;
    }
    case kEvDepthDelete: {
      auto *p = static_cast<const ss_ev_depth_delete *>(ev->payload);
      if (p->side > 1) return;
      uint32_t k = 0;
      bar *b = target_bar(m, ooo, int(p->side), p->price, p->position, &k);
      if (!b) return;
      size_t i = live_index(*b, k);
      if (i >= b->blocks.size()) {
        log(LOG_ERROR, kSrc, "can't get to position, %d more needed", int(k));
        return;
      }
      uint64_t vol = b->blocks[i].volume;
      if (vol != p->volume)
        log(LOG_ERROR, kSrc, "block %llu should be %llu", (unsigned long long)vol, (unsigned long long)p->volume);
      b->count--;
      b->volume -= vol;
      kill_block(c, *b, i);
      break;
    }
    case kEvDepthClear: {
      auto *p = static_cast<const ss_ev_depth_clear *>(ev->payload);
      if (p->sides == 0 || p->sides >= 2) m.lists[0].clear();
      if (p->sides == 1 || p->sides >= 2) m.lists[1].clear();
      break;
    }
    case kEvTrade: {
      auto *t = static_cast<const ss_trade *>(ev->payload);
      if (!t || !t->price || t->price == kNoPrice || !t->volume) return;
      bar *b = get_bar(m, 2, depthwin_step_of(t->price, m.group_step));
      b->count++;
      b->volume += t->volume;
      break;
    }
    case kEvTradeCancel: {
      // The table takes a cancelled trade off its step; the bars do alike.
      auto *p = static_cast<const ss_ev_trade_cancel *>(ev->payload);
      const ss_trade *t = p ? p->trade : nullptr;
      if (!t || !t->price || t->price == kNoPrice || !t->volume) return;
      bar *b = find_bar(m, 2, depthwin_step_of(t->price, m.group_step));
      if (!b) {
        log(LOG_ERROR, kSrc, "can't find trade %d", int(t->price));
        return;
      }
      if (b->count) b->count--;
      b->volume -= t->volume;
      if (!b->count) {
        auto &v = m.lists[2];
        v.erase(v.begin() + (b - v.data()));
      }
      break;
    }
    case kEvAuction: {
      auto *p = static_cast<const ss_ev_auction *>(ev->payload);
      m.auction_price = p->auction.price;
      m.auction_volume = p->auction.matched;
      break;
    }
    default:
      return;
  }
  changed(c);
}

void bs_reset(depthwin_child *c) {
  model &m = md(c);
  for (auto &v : m.lists) v.clear();
  m.shown[0] = m.shown[1] = 0;
  m.scale_top = 0;
  m.lo = m.hi = m.want_lo = m.want_hi = 0;
  if (m.span_timer >= 0) timer_stop(m.span_timer);
  m.span_timer = -1;
  m.auction_price = m.auction_volume = 0;
}

void bs_begin_rebuild(depthwin_child *) {}

void bs_load_side(depthwin_child *c, int side) {
  const depthwin_book *b = c->book;
  if (!b || !b->instrument || b->instrument->kind != kKindStock || (b->instrument->flags & 0x3) != 0x3) {
    md(c).loaded = false;
    return;
  }
  const ss_stock *s = static_cast<const ss_stock *>(b->instrument);
  model &m = md(c);
  bool ooo = out_of_order(c);
  for (const ss_depth_level *l = s->levels[side]; l; l = l->next) {
    bar *br = get_bar(m, side, depthwin_step_of(l->price, m.group_step));
    if (ooo) {
      br->blocks.push_back(new_block(c, l->volume, 0));
      br->count++;
      br->volume += l->volume;
      continue;
    }
    for (const ss_depth_order *o = l->orders; o; o = o->next) {
      br->blocks.push_back(new_block(c, o->volume, 0));
      br->count++;
      br->volume += o->volume;
    }
  }
  m.loaded = true;
}

void bs_after_load(depthwin_child *c) {
  // The trade bars come from the day's trades, as the table's block does.
  const depthwin_book *b = c->book;
  model &m = md(c);
  m.lists[2].clear();
  if (!b || !b->instrument || b->instrument->kind != kKindStock) return;
  const ss_stock *s = static_cast<const ss_stock *>(b->instrument);
  for (const ss_trade *t = s->trades.head; t; t = t->next) {
    if ((t->bits & kTradeCancelled) || !t->price || t->price == kNoPrice || !t->volume) continue;
    bar *br = get_bar(m, 2, depthwin_step_of(t->price, m.group_step));
    br->count++;
    br->volume += t->volume;
  }
}

int32_t drawing_width(depthwin_child *c) { return c->r.w; }

int32_t digit_width() { return 7; }

// Steps shown beside the spread: the sides grow in turn from their best
// prices while the ladder fits the width.
void choose_steps(depthwin_child *c) {
  model &m = md(c);
  const std::vector<bar> &bids = m.lists[0], &offers = m.lists[1];
  uint32_t n[2] = {bids.empty() ? 0u : 1u, offers.empty() ? 0u : 1u};
  const std::vector<bar> *side[2] = {&bids, &offers};
  uint64_t min_gap = 0;
  auto gap = [&](int s) -> uint64_t {
    const auto &v = *side[s];
    if (n[s] >= v.size()) return UINT64_MAX;
    uint32_t a = v[n[s] - 1].step, b = v[n[s]].step;
    return a > b ? a - b : b - a;
  };
  auto span = [&](int s) -> uint64_t {
    const auto &v = *side[s];
    if (n[s] < 1) return 0;
    uint32_t a = v[0].step, b = v[n[s] - 1].step;
    return a > b ? a - b : b - a;
  };
  auto whole = [&]() -> uint64_t {
    uint32_t lo = UINT32_MAX, hi = 0;
    for (int s = 0; s < 2; s++)
      for (uint32_t i = 0; i < n[s]; i++) {
        lo = std::min(lo, (*side[s])[i].step);
        hi = std::max(hi, (*side[s])[i].step);
      }
    return hi >= lo ? hi - lo : 0;
  };
  int32_t room = drawing_width(c) - 12 * digit_width();
  if (n[0] && n[1]) {
    for (;;) {
      bool grew = false;
      for (int s = 0; s < 2; s++) {
        int o = 1 - s;
        uint64_t g = gap(s);
        if (g == UINT64_MAX) continue;
        bool take = n[s] < 6 || g <= gap(o) || span(s) * 3 < span(o) * 2;
        if (!take) continue;
        n[s]++;
        uint64_t mg = min_gap ? std::min(min_gap, g) : g;
        if (mg && room > 0 && uint64_t(m.thickness + 1) * whole() / mg > uint64_t(room)) {
          n[s]--;
          goto done;
        }
        if (g) min_gap = mg;
        grew = true;
      }
      if (!grew) break;
    }
  }
done:
  for (int s = 0; s < 2; s++) {
    uint32_t least = min_gap ? kMinSideSteps : kNoGapSteps;
    // A crossed book shows every step beyond the other side's best.
    if (!side[1 - s]->empty()) {
      uint32_t best_other = (*side[1 - s])[0].step, beyond = 0;
      for (const bar &x : *side[s])
        if (s == 0 ? x.step >= best_other : x.step <= best_other) beyond++;
      least = std::max(least, beyond);
    }
    n[s] = std::min<uint32_t>(std::max(n[s], least), uint32_t(side[s]->size()));
  }
  m.shown[0] = n[0];
  m.shown[1] = n[1];
  // The price span over the shown steps and the trade bars.
  uint32_t lo = UINT32_MAX, hi = 0;
  for (int s = 0; s < 2; s++)
    for (uint32_t i = 0; i < n[s]; i++) {
      lo = std::min(lo, (*side[s])[i].step);
      hi = std::max(hi, (*side[s])[i].step);
    }
  for (const bar &t : m.lists[2]) {
    lo = std::min(lo, t.step);
    hi = std::max(hi, t.step);
  }
  if (lo > hi) {
    m.want_lo = m.want_hi = 0;
  } else {
    if (lo == hi) {
      int32_t ex = c->book && c->book->instrument ? int32_t(c->book->instrument->exchange->index) : 0;
      uint32_t st = ssutil_price_step(ex, lo);
      if (!st) st = 1;
      lo = lo > st ? lo - st : 0;
      hi = hi + st;
    }
    m.want_lo = lo;
    m.want_hi = hi;
  }
  // The volume scale over every bar, or the first `height` steps a side.
  uint32_t height = c->book ? c->book->height : kAllSteps;
  uint64_t top = 0;
  for (int s = 0; s < 3; s++) {
    uint32_t i = 0;
    for (const bar &x : m.lists[s]) {
      if (s < 2 && height != kAllSteps && i++ >= height) break;
      top = std::max(top, x.volume);
    }
  }
  // Gridline step from 10, 10, 50, 100, 100, 500, ... up the list until
  // the gridlines fit; the top is whole steps plus half a step.
  uint64_t step = 10;
  int32_t lines = m.volume_gridlines > 0 ? m.volume_gridlines : 1;
  for (uint64_t base = 10; base <= 5000000000ull; base *= 10) {
    for (uint64_t mult : {1ull, 5ull}) {
      step = base * mult;
      if (top / step <= uint64_t(lines)) goto scaled;
    }
  }
scaled:
  m.scale_top = top ? (top / step + 1) * step + step / 2 : 0;
  m.volume_step = step;
  m.scale_max = top;
}

// The price gridline step near span / lines from 1, 2, 5, 10, 20, 50, ...
uint32_t price_step_for(uint32_t span, int32_t lines) {
  uint64_t want = span / uint32_t(lines > 0 ? lines : 1);
  for (uint64_t base = 1; base <= 1000000000ull; base *= 10)
    for (uint64_t mult : {1ull, 2ull, 5ull})
      if (base * mult >= want) return uint32_t(base * mult);
  return 1000000000u;
}

constexpr colour kGrid = 0xFF303030;

void draw_gridlines(depthwin_child *c) {
  model &m = md(c);
  const rect &r = c->r;
  int32_t base = r.y + r.h - 1;
  uint32_t n = depthbars_volume_steps(m.scale_max, m.volume_step);
  for (uint32_t k = 1; k <= n; k++) {
    int32_t y = base - depthbars_volume_pixels(c, uint64_t(k) * m.volume_step);
    if (y > r.y) gfx_fill_rect(r.x, y, r.w, 1, kGrid);
  }
  uint32_t step = price_step_for(m.hi - m.lo, m.price_gridlines);
  for (uint64_t p = (uint64_t(m.lo) + step - 1) / step * step; p <= m.hi; p += step) {
    int32_t x;
    if (depthbars_bar_x(c, uint32_t(p), &x)) gfx_fill_rect(x, r.y, 1, r.h, kGrid);
  }
}

void apply_span(depthwin_child *c) {
  model &m = md(c);
  m.lo = m.want_lo;
  m.hi = m.want_hi;
}

int span_fired(void *arg, uint32_t, int64_t, float) {
  auto *c = static_cast<depthwin_child *>(arg);
  model &m = md(c);
  m.span_timer = -1;
  if (m.lo != m.want_lo || m.hi != m.want_hi) {
    apply_span(c);
    if (widget_is_shown(c)) widget_redraw(c);
  }
  return 0;
}

void bs_finish_load(depthwin_child *c) {
  choose_steps(c);
  apply_span(c);
  if (widget_is_shown(c)) widget_redraw(c);
}

// A changed span is taken at once after a full batch or while the book is
// busy; otherwise it waits for the span timer (1000 ms live, 200 ms while
// replaying or rebuilding), so the ladder does not jump with every order.
void bs_end_batch(depthwin_child *c, int full) {
  prune(c);
  choose_steps(c);
  model &m = md(c);
  if (m.lo != m.want_lo || m.hi != m.want_hi) {
    const depthwin_book *b = c->book;
    if (full || (b && b->busy)) {
      apply_span(c);
    } else if (m.span_timer < 0) {
      bool replay = b && (b->anchor_position || b->rebuilding);
      m.span_timer = timer_start(replay ? kSpanReplayMs : kSpanLiveMs, span_fired, c, 0);
    }
  }
  if (widget_is_shown(c)) widget_redraw(c);
}

void bs_tick(depthwin_child *c) {
  double now = frame_now();
  bool moving = false, gone = false;
  for (auto &v : md(c).lists)
    for (bar &b : v)
      for (auto &blk : b.blocks) {
        if (!blk.live && blk.gone_at <= now) gone = true;
        if (blk.fade_for > 0 && now < blk.fade_at + blk.fade_for) moving = true;
      }
  if (gone) prune(c);
  if ((gone || moving) && widget_is_shown(c)) widget_redraw(c);
}

void bs_settings_changed(depthwin_child *c, int) {
  if (c->book && c->book->show_age) md(c).recolour = true;
  if (widget_is_shown(c)) {
    choose_steps(c);
    widget_redraw(c);
  }
}

void bs_geometry_changed(widget *self) {
  auto *c = static_cast<depthwin_child *>(self);
  md(c).price_gridlines = depthbars_price_gridlines(self->r.w);
  md(c).volume_gridlines = depthbars_volume_gridlines(self->r.h);
  choose_steps(c);
  apply_span(c);
  widget_redraw(self);
}

void bs_reqsize(widget *, size *out) { *out = {400, 160}; }

void hide_auction_detail(depthwin_child *c) {
  model &m = md(c);
  if (!m.auction_shown) return;
  m.auction_shown = false;
  if (depthwin_get_services()->hide_auction_detail) depthwin_get_services()->hide_auction_detail(c);
}

// Hover: the auction figures open the general detail popup with the
// auction; the bar under the pointer opens the depth detail popup for its
// step; leaving, hiding or moving off every bar closes them.
void bs_motion(widget *self, int32_t x, int32_t y) {
  auto *c = static_cast<depthwin_child *>(self);
  model &m = md(c);
  const depthwin_services *svc = depthwin_get_services();
  const depthwin_book *b = c->book;
  const rect &a = m.auction_box;
  if (a.w > 0 && x >= a.x && x < a.x + a.w && y >= a.y && y < a.y + a.h && b && b->instrument) {
    if (svc->hide_depth_detail) svc->hide_depth_detail(self);
    if (svc->show_auction_detail) {
      svc->show_auction_detail(self, b->instrument, uint32_t(m.auction_price), m.auction_volume, x, y);
      m.auction_shown = true;
    }
    return;
  }
  hide_auction_detail(c);
  for (int s = 0; s < 3; s++) {
    uint32_t limit = s < 2 ? m.shown[s] : uint32_t(m.lists[2].size());
    for (uint32_t i = 0; i < limit && i < m.lists[s].size(); i++) {
      int32_t bx;
      if (!depthbars_bar_x(c, m.lists[s][i].step, &bx) || x < bx || x >= bx + m.thickness) continue;
      if (svc->show_depth_detail && b && b->instrument)
        svc->show_depth_detail(self, b->instrument, b->position, m.lists[s][i].step, m.group_step, s);
      return;
    }
  }
  if (svc->hide_depth_detail) svc->hide_depth_detail(self);
}

void bs_leave(widget *self) {
  if (depthwin_get_services()->hide_depth_detail) depthwin_get_services()->hide_depth_detail(self);
  hide_auction_detail(static_cast<depthwin_child *>(self));
}

void bs_hide_children(widget *self) { bs_leave(self); }

constexpr colour kBid = 0x00D08030;    // RGB, alpha added per block
constexpr colour kOffer = 0x003030D0;
constexpr colour kTrade = 0x00A0A0A0;
constexpr colour kAuctionMark = 0x96FFFFFF;  // white at alpha 150

int32_t label_font() {
  const style *st = style_cur();
  return st ? st->font[0] : 0;
}

// Each side's label: the best step's volume then price for the bids, 10
// pixels in from the left, and price then volume for the offers, ending 10
// pixels in from the right, each over a box of its side's colour.
void draw_labels(depthwin_child *c) {
  model &m = md(c);
  const rect &r = c->r;
  char text[96];
  for (int s = 0; s < 2; s++) {
    if (m.lists[s].empty()) continue;
    const bar &best = m.lists[s][0];
    char volume[40], price[40];
    snprintf(volume, sizeof volume, "%s", fmt_volume(best.volume));
    snprintf(price, sizeof price, "%s", fmt_price(best.step));
    snprintf(text, sizeof text, "%s %s", s == 0 ? volume : price, s == 0 ? price : volume);
    int32_t sz[2] = {0, 0};
    font_text_size(sz, label_font(), text);
    int32_t x = s == 0 ? r.x + 10 : r.x + r.w - 10 - sz[0];
    gfx_fill_rect(x - 2, r.y + 2, sz[0] + 4, sz[1] + 2, (s == 0 ? kBid : kOffer) | (60u << 24));
    // Placed by its top (flag 0x10), inside its box: by the baseline the
    // text would stand above the widget's top edge and be cut off.
    font_draw(text, x, r.y + 3, 0x10, label_font(), 0xFFFFFFFFu, nullptr);
  }
}

// The auction figures, centred at the top below the side labels: the
// indicative volume and price over a grey box, and a mark on the ladder at
// the auction's step. Their box is what the hover tests.
void draw_auction(depthwin_child *c) {
  model &m = md(c);
  m.auction_box = {};
  if (!m.auction_price) return;
  const rect &r = c->r;
  char volume[40], price[40], text[96];
  snprintf(volume, sizeof volume, "%s", fmt_volume(m.auction_volume));
  snprintf(price, sizeof price, "%s", fmt_price(uint32_t(m.auction_price)));
  snprintf(text, sizeof text, "IND %s @ %s", volume, price);
  int32_t sz[2] = {0, 0};
  font_text_size(sz, label_font(), text);
  int32_t x;
  if (depthbars_bar_x(c, uint32_t(m.auction_price), &x))
    gfx_fill_rect(x + m.thickness / 2, r.y, 1, r.h, kAuctionMark);
  x = r.x + (r.w - sz[0]) / 2;
  const int32_t y = r.y + 3 + sz[1] + 4;
  m.auction_box = {x - 2, y - 1, sz[0] + 4, sz[1] + 2};
  gfx_fill_rect(m.auction_box.x, m.auction_box.y, m.auction_box.w, m.auction_box.h, kTrade | (60u << 24));
  font_draw(text, x, y, 0x10, label_font(), 0xFFFFFFFFu, nullptr);
}

void bs_draw(widget *self) {
  const window_frame_guard frame(self);  // the window's edges, painted over, come back
  auto *c = static_cast<depthwin_child *>(self);
  model &m = md(c);
  gfx_fill_rect(self->r.x, self->r.y, self->r.w, self->r.h, 0xFF000000);
  if (self->r.w < 25 || self->r.h < 25) return;
  if (m.hi <= m.lo || !m.scale_top) return;
  draw_gridlines(c);
  for (int s = 0; s < 3; s++) {
    uint32_t limit = s < 2 ? m.shown[s] : uint32_t(m.lists[2].size());
    for (uint32_t i = 0; i < limit && i < m.lists[s].size(); i++) {
      const bar &b = m.lists[s][i];
      int32_t x;
      if (!depthbars_bar_x(c, b.step, &x)) continue;
      int32_t base = self->r.y + self->r.h - 1;
      if (s == 2) {
        int32_t h = depthbars_volume_pixels(c, b.volume);
        gfx_fill_rect(x, base - h, std::max(1, m.thickness / 2), h, kTrade | 0xFF000000u);
        continue;
      }
      for (const depthbars_block &blk : b.blocks) {
        int32_t h = depthbars_volume_pixels(c, uint64_t(depthbars_block_length(&blk) + 0.5));
        if (h <= 0) continue;
        int a = blk.live ? depthbars_block_alpha(c, &blk) : 60;
        gfx_fill_rect(x, base - h, m.thickness, h, (s == 0 ? kBid : kOffer) | (uint32_t(a) << 24));
        base -= h;
      }
    }
  }
  draw_labels(c);
  draw_auction(c);
  m.recolour = false;
}

void bs_init(object *o) { static_cast<depthbars *>(reinterpret_cast<depthwin_child *>(o))->m = new model; }
void bs_fini(object *o) {
  auto *b = static_cast<depthbars *>(reinterpret_cast<depthwin_child *>(o));
  if (b->m->span_timer >= 0) timer_stop(b->m->span_timer);
  delete b->m;
  b->m = nullptr;
}

void bs_class_init(object_class *rec) {
  auto *c = static_cast<depthwin_child_class *>(rec);
  c->geometry_changed = bs_geometry_changed;
  c->reqsize = bs_reqsize;
  c->draw = bs_draw;
  c->motion = bs_motion;
  c->leave = bs_leave;
  c->hide_children = bs_hide_children;
  c->tick = bs_tick;
  c->apply_event = bs_apply;
  c->reset = bs_reset;
  c->begin_rebuild = bs_begin_rebuild;
  c->load_side = bs_load_side;
  c->after_load = bs_after_load;
  c->finish_load = bs_finish_load;
  c->end_batch = bs_end_batch;
  c->settings_changed = bs_settings_changed;
}

typeid_t register_bars() {
  return object_register_class("depthbars", depthwin_child_type(), sizeof(depthbars), bs_init, bs_fini,
                               sizeof(depthwin_child_class), bs_class_init, nullptr);
}

}  // namespace

typeid_t depthbars_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_bars);
}

uint32_t depthbars_count(depthwin_child *b, int list) { return uint32_t(md(b).lists[list].size()); }

bool depthbars_bar_at(depthwin_child *b, int list, uint32_t i, depthbars_bar *out) {
  auto &v = md(b).lists[list];
  if (i >= v.size()) return false;
  *out = {v[i].count, v[i].step, v[i].volume};
  return true;
}

const depthbars_block *depthbars_blocks(depthwin_child *b, int list, uint32_t i, uint32_t *n) {
  auto &v = md(b).lists[list];
  if (i >= v.size()) {
    *n = 0;
    return nullptr;
  }
  *n = uint32_t(v[i].blocks.size());
  return v[i].blocks.data();
}

void depthbars_set_group(depthwin_child *b, uint32_t step) {
  md(b).group_step = step;
  md(b).half_step = step / 2;
}

void depthbars_set_thickness(depthwin_child *b, int32_t t) {
  int32_t v = t < kMinThickness ? kMinThickness : t;
  if (md(b).thickness == v) return;
  md(b).thickness = v;
  if (widget_is_shown(b)) bs_geometry_changed(b);
}

int32_t depthbars_get_thickness(depthwin_child *b) { return md(b).thickness; }

int32_t depthbars_price_gridlines(int32_t w) {
  static const int32_t rows[][2] = {{1000, 25}, {800, 25}, {700, 25}, {500, 20}, {400, 20},
                                    {350, 10},  {250, 10}, {200, 5},  {150, 3}};
  for (const auto &r : rows)
    if (w >= r[0]) return r[1];
  return 2;
}

int32_t depthbars_volume_gridlines(int32_t h) {
  static const int32_t rows[][2] = {{300, 10}, {200, 7}, {100, 5}, {50, 2}};
  for (const auto &r : rows)
    if (h >= r[0]) return r[1];
  return 1;
}

void depthbars_shown(depthwin_child *b, uint32_t *bids, uint32_t *offers) {
  *bids = md(b).shown[0];
  *offers = md(b).shown[1];
}

uint64_t depthbars_scale_top(depthwin_child *b) { return md(b).scale_top; }

void depthbars_span(depthwin_child *b, uint32_t *lo, uint32_t *hi) {
  *lo = md(b).lo;
  *hi = md(b).hi;
}

bool depthbars_auction_box(depthwin_child *b, rect *out) {
  *out = md(b).auction_box;
  return out->w > 0;
}

bool depthbars_bar_x(depthwin_child *b, uint32_t step, int32_t *x) {
  model &m = md(b);
  if (m.hi <= m.lo || step < m.lo || step > m.hi) return false;
  int64_t usable = int64_t(b->r.w) - 2 * m.thickness - 4;
  if (usable <= 0) return false;
  *x = b->r.x + m.thickness + 1 + int32_t(usable * int64_t(step - m.lo) / int64_t(m.hi - m.lo));
  return true;
}

int32_t depthbars_volume_pixels(depthwin_child *b, uint64_t volume) {
  model &m = md(b);
  if (!m.scale_top) return 0;
  int64_t h = int64_t(b->r.h) - 2;
  if (h <= 0) return 0;
  return int32_t((unsigned __int128)h * volume / m.scale_top);
}

int depthbars_block_alpha(depthwin_child *b, const depthbars_block *blk) {
  const depthwin_book *bk = b->book;
  if (bk && bk->show_age && blk->time < bk->age_ref) return kAgedAlpha;
  return 255;
}

void depthbars_recolour(depthwin_child *b) {
  md(b).recolour = true;
  if (widget_is_shown(b)) widget_redraw(b);
}

double depthbars_block_length(const depthbars_block *blk) {
  double end = blk->live ? double(blk->volume) : 0.0;
  if (blk->fade_for <= 0) return end;
  double k = (frame_now() - blk->fade_at) / blk->fade_for;
  if (k >= 1) return end;
  if (k <= 0) return blk->from;
  return blk->from + (end - blk->from) * k;
}

uint32_t depthbars_volume_steps(uint64_t max, uint64_t step) {
  if (!step) return 1;
  uint64_t n = max / step;
  if (n >= 1001) {
    log(LOG_WARN, kSrc, "too many steps: %llu/%llu = %d", (unsigned long long)max, (unsigned long long)step, int(n));
    return 1;
  }
  return uint32_t(n);
}
