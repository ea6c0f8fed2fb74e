// Desktop migration: from window rectangles to a splitter tree. The search
// looks for a straight cut that separates the windows into two groups and
// recurses into both; a cut whose halves cannot both be split is passed
// over, so the search backtracks. Columns of identical windows make that
// backtracking exponential, so every layout gets a work budget (entries
// examined per candidate cut); when it runs out the search gives up and the
// windows take the even split. A cut lies strictly inside the box (a
// window of no width at its edge would otherwise give a ratio of 0, which
// no splitter can hold). Coordinates are held in 64 bits: a stored x
// near the 32-bit limit plus a width must not wrap.
#include "config/migrate_desktop.h"

#include <algorithm>
#include <cstdio>

#include "log.h"

static const char kSrc[] = "src/config/migrate_desktop";

namespace {

constexpr int32_t kMaxWidth = 4000;
constexpr int32_t kMaxHeight = 3000;
constexpr int32_t kFudgedSize = 100;

struct entry {
  void* window;
  int32_t r[4];
};

struct item {
  int32_t idx;  // table index
  int64_t x, y, w, h;
};

struct search {
  migrate_tree* t;
  int64_t g;
  int64_t budget;
  bool out_of_budget;
};

}  // namespace

static struct {
  entry table[kMigrateMaxWindows];
  int32_t n;
} M;

void migrate_desktop_reset(void) { M.n = 0; }

int migrate_desktop_add(void* window, int32_t x, int32_t y, int32_t w, int32_t h) {
  if (M.n >= kMigrateMaxWindows) {
    log(LOG_ERROR, kSrc, "too many windows");
    return -1;
  }
  if (x < 0) {
    log(LOG_WARN, kSrc, "fudging window xpos from %d", x);
    x = 0;
  }
  if (y < 0) {
    log(LOG_WARN, kSrc, "fudging window ypos from %d", y);
    y = 0;
  }
  if (w > kMaxWidth || w < 0) {
    log(LOG_WARN, kSrc, "fudging window width from %d", w);
    w = kFudgedSize;
  }
  if (h > kMaxHeight || h < 0) {
    log(LOG_WARN, kSrc, "fudging window height from %d", h);
    h = kFudgedSize;
  }
  M.table[M.n] = {window, {x, y, w, h}};
  M.n++;
  return 0;
}

int migrate_desktop_count(void) { return M.n; }

void* migrate_desktop_window(int i) { return i >= 0 && i < M.n ? M.table[i].window : nullptr; }

void migrate_desktop_rect(int i, int32_t r[4]) {
  for (int k = 0; k < 4; k++) r[k] = i >= 0 && i < M.n ? M.table[i].r[k] : 0;
}

static int32_t add_leaf(migrate_tree* t, int32_t idx) {
  t->nodes.push_back({idx, 0, 0.0, -1, -1});
  return int32_t(t->nodes.size()) - 1;
}

static int32_t add_node(migrate_tree* t, uint32_t orientation, int32_t a, int32_t b, double ratio) {
  t->nodes.push_back({-1, orientation, ratio, a, b});
  return int32_t(t->nodes.size()) - 1;
}

int32_t migrate_desktop_even(migrate_tree* t, int32_t first, int32_t n, uint32_t orientation) {
  if (n <= 1) return add_leaf(t, first);
  if (n == 2) return add_node(t, orientation, add_leaf(t, first), add_leaf(t, first + 1), 0.5);
  if (n == 3) {
    int32_t a = add_leaf(t, first);
    int32_t b = add_node(t, orientation, add_leaf(t, first + 1), add_leaf(t, first + 2), 0.5);
    return add_node(t, orientation, a, b, 0.333);
  }
  int32_t half = n / 2;
  int32_t a = migrate_desktop_even(t, first, half, orientation ^ 1u);
  int32_t b = migrate_desktop_even(t, first + half, n - half, orientation ^ 1u);
  return add_node(t, orientation, a, b, 0.5);
}

static int32_t split(search* s, std::vector<item> v);

// Splits v at c: horizontal (by bottom edge) or vertical (by right edge).
// The node, or -1 when one side is empty or a half can't be split.
static int32_t apply_cut(search* s, std::vector<item> v, bool horizontal, int64_t c, int64_t extent) {
  const size_t n = v.size();
  std::stable_sort(v.begin(), v.end(), [horizontal](const item& a, const item& b) {
    return horizontal ? a.y + a.h < b.y + b.h : a.x + a.w < b.x + b.w;
  });
  size_t k = 0;
  while (k < n && (horizontal ? v[k].y + v[k].h : v[k].x + v[k].w) <= c) k++;
  if (k == 0 || k == n) return -1;
  const size_t mark = s->t->nodes.size();
  int32_t a = split(s, std::vector<item>(v.begin(), v.begin() + long(k)));
  int32_t b = a < 0 ? -1 : split(s, std::vector<item>(v.begin() + long(k), v.end()));
  if (a < 0 || b < 0) {
    s->t->nodes.resize(mark);
    return -1;
  }
  return add_node(s->t, horizontal ? 1u : 0u, a, b, double(c) / double(extent));
}

static bool straddles(const item& e, bool horizontal, int64_t c) {
  int64_t start = horizontal ? e.y : e.x;
  int64_t end = start + (horizontal ? e.h : e.w);
  return start < c && end > c;
}

static bool charge(search* s, int64_t units) {
  s->t->work += units;
  if (s->t->work > s->budget) s->out_of_budget = true;
  return !s->out_of_budget;
}

static int32_t split(search* s, std::vector<item> v) {
  const size_t n = v.size();
  if (n == 1) return add_leaf(s->t, v[0].idx);
  if (s->out_of_budget || !charge(s, int64_t(n))) return -1;
  int64_t x0 = v[0].x, y0 = v[0].y, x1 = v[0].x + v[0].w, y1 = v[0].y + v[0].h;
  for (const item& e : v) {
    x0 = std::min(x0, e.x);
    y0 = std::min(y0, e.y);
    x1 = std::max(x1, e.x + e.w);
    y1 = std::max(y1, e.y + e.h);
  }
  for (item& e : v) {
    e.x -= x0;
    e.y -= y0;
  }
  const int64_t W = x1 - x0, H = y1 - y0, g = s->g;

  // a, b: cuts beside an entry that spans the whole width or height.
  for (int pass = 0; pass < 2; pass++) {
    const bool horizontal = pass == 0;
    for (size_t i = 0; i < n; i++) {
      const item& e = v[i];
      bool spans = horizontal ? (e.x == 0 && e.w == W) : (e.y == 0 && e.h == H);
      if (!spans) continue;
      int64_t pos = horizontal ? e.y : e.x, size = horizontal ? e.h : e.w, extent = horizontal ? H : W;
      if (pos + size + g < extent && pos + size + g > 0) {
        int32_t r = apply_cut(s, v, horizontal, pos + size + g, extent);
        if (r >= 0) return r;
      }
      if (pos > g) {
        int32_t r = apply_cut(s, v, horizontal, pos - g, extent);
        if (r >= 0) return r;
      }
      if (s->out_of_budget) return -1;
    }
  }
  // c, d: cuts beside any entry that no entry straddles.
  for (int pass = 0; pass < 2; pass++) {
    const bool horizontal = pass == 0;
    const int64_t extent = horizontal ? H : W;
    for (size_t i = 0; i < n; i++) {
      const item& e = v[i];
      int64_t pos = horizontal ? e.y : e.x, size = horizontal ? e.h : e.w;
      int64_t cuts[2] = {pos + size + g, pos - g};
      bool ok[2] = {cuts[0] < extent && cuts[0] > 0, pos > g};
      for (int j = 0; j < 2; j++) {
        if (!ok[j]) continue;
        if (!charge(s, int64_t(n))) return -1;
        bool clean = true;
        for (const item& o : v)
          if (straddles(o, horizontal, cuts[j])) {
            clean = false;
            break;
          }
        if (!clean) continue;
        int32_t r = apply_cut(s, v, horizontal, cuts[j], extent);
        if (r >= 0) return r;
        if (s->out_of_budget) return -1;
      }
    }
  }
  // e: the cheapest straddled cut, with the straddling entries trimmed.
  bool best_h = false;
  int64_t best_c = 0, best_cost = -1;
  for (size_t i = 0; i < n; i++) {
    const item& e = v[i];
    struct { bool horizontal; int64_t c; bool ok; } cand[4] = {
        {false, e.x + e.w + g, e.x + e.w + g < W && e.x + e.w + g > 0},
        {false, e.x - g, e.x > g},
        {true, e.y + e.h + g, e.y + e.h + g < H && e.y + e.h + g > 0},
        {true, e.y - g, e.y > g},
    };
    for (auto& k : cand) {
      if (!k.ok) continue;
      if (!charge(s, int64_t(n))) return -1;
      int64_t cost = 0;
      for (const item& o : v) {
        if (!straddles(o, k.horizontal, k.c)) continue;
        int64_t start = k.horizontal ? o.y : o.x, end = start + (k.horizontal ? o.h : o.w);
        cost += std::min(k.c - start, end - k.c);
      }
      if (cost >= 1 && (best_cost < 0 || cost < best_cost)) {
        best_cost = cost;
        best_h = k.horizontal;
        best_c = k.c;
      }
    }
  }
  if (best_cost < 0) return -1;
  for (item& o : v) {
    if (!straddles(o, best_h, best_c)) continue;
    int64_t& start = best_h ? o.y : o.x;
    int64_t& size = best_h ? o.h : o.w;
    int64_t end = start + size;
    if (best_c - start >= end - best_c) {
      size = std::max<int64_t>(0, best_c - g - start);
    } else {
      start = best_c + g;
      size = std::max<int64_t>(0, end - start);
    }
  }
  return apply_cut(s, v, best_h, best_c, best_h ? H : W);
}

int migrate_desktop_build(int32_t g, int64_t budget, migrate_tree* out) {
  out->nodes.clear();
  out->root = -1;
  out->work = 0;
  out->even = 0;
  if (M.n < 1) return -1;
  std::vector<item> v;
  for (int32_t i = 0; i < M.n; i++) {
    const entry& e = M.table[i];
    v.push_back({i, e.r[0], e.r[1], e.r[2], e.r[3]});
  }
  search s{out, std::max<int32_t>(0, g), budget, false};
  out->root = split(&s, v);
  if (out->root < 0) {
    if (s.out_of_budget) log(LOG_WARN, kSrc, "no straight cuts within %lld units, even split", (long long)budget);
    out->nodes.clear();
    out->even = 1;
    out->root = migrate_desktop_even(out, 0, M.n, 1);
  }
  return 0;
}

static void write_node(const migrate_tree& t, int32_t i, std::string* text) {
  const migrate_node& nd = t.nodes[size_t(i)];
  char buf[32];
  if (nd.win >= 0) {
    snprintf(buf, sizeof buf, "W%d", nd.win);
  } else {
    write_node(t, nd.a, text);
    write_node(t, nd.b, text);
    double r = std::clamp(nd.ratio, 0.001, 0.999);
    snprintf(buf, sizeof buf, "%c%.3f", nd.orientation ? 'V' : 'H', r);
  }
  if (!text->empty()) *text += ' ';
  *text += buf;
}

std::string migrate_desktop_text(const migrate_tree& t) {
  std::string text;
  if (t.root >= 0) write_node(t, t.root, &text);
  return text;
}
