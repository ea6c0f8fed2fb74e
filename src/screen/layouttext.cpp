// The desktop layout text reader and writer over plain trees. Reading never
// touches a desktop: the whole text is checked into a layout_tree first, so
// a bad text leaves the desktop as it was. Every count is capped (text
// length, stack depth, window list) before anything grows.
#include "screen/layouttext.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log.h"

static const char kSrc[] = "src/screen/desktop";

namespace {

// A decimal index at p (up to 9 digits); the count of digits read, 0 if none.
int read_index(const char *p, const char *end, int32_t *out) {
  int64_t v = 0;
  int k = 0;
  while (p + k < end && p[k] >= '0' && p[k] <= '9') {
    if (k == 9) return -1;
    v = v * 10 + (p[k] - '0');
    k++;
  }
  *out = int32_t(v);
  return k;
}

}  // namespace

int layout_text_parse(const char *text, int n, layout_tree *out) {
  *out = layout_tree{};
  if (!text) return -1;
  if (n < 0 || n > kLayoutWindowsMax) {
    log(LOG_ERROR, kSrc, "bad window count %d", n);
    return -1;
  }
  const size_t len = strnlen(text, kLayoutTextMax + 1);
  if (len > size_t(kLayoutTextMax)) {
    log(LOG_ERROR, kSrc, "layout text too long");
    return -1;
  }
  out->placed.assign(size_t(n), 0);
  std::vector<int32_t> stack;
  const char *p = text, *end = text + len;
  while (p < end) {
    if (*p == ' ') {
      p++;
      continue;
    }
    const char *tok = p;
    const char *tend = static_cast<const char *>(memchr(p, ' ', size_t(end - p)));
    if (!tend) tend = end;
    p = tend;
    const char c = *tok;
    if (c == 'W') {
      int32_t i = 0;
      int k = read_index(tok + 1, tend, &i);
      if (k <= 0 || tok + 1 + k != tend) {
        log(LOG_ERROR, kSrc, "bad window token");
        return -1;
      }
      if (i >= n) {
        log(LOG_ERROR, kSrc, "can't find window %d/%d", i, n);
        continue;
      }
      if (out->placed[size_t(i)]) {
        log(LOG_ERROR, kSrc, "window %d used twice", i);
        return -1;
      }
      if (stack.size() >= size_t(kLayoutStackMax)) {
        log(LOG_ERROR, kSrc, "layout stack overflow");
        return -1;
      }
      out->placed[size_t(i)] = 1;
      out->nodes.push_back({i, 0, 0.0, -1, -1});
      stack.push_back(int32_t(out->nodes.size() - 1));
    } else if (c == 'H' || c == 'V') {
      if (stack.size() < 2) {
        log(LOG_ERROR, kSrc, "underflow");
        return -1;
      }
      double r = 0.5;
      if (tend > tok + 1) {
        char num[32];
        const size_t nl = size_t(tend - tok - 1);
        if (nl >= sizeof num) {
          log(LOG_ERROR, kSrc, "bad ratio");
          return -1;
        }
        memcpy(num, tok + 1, nl);
        num[nl] = 0;
        char *stop = nullptr;
        r = strtod(num, &stop);
        if (stop != num + nl) {
          log(LOG_ERROR, kSrc, "bad ratio");
          return -1;
        }
      }
      if (!std::isfinite(r) || r <= 0 || r >= 1) {
        log(LOG_ERROR, kSrc, "ratio out of range");
        return -1;
      }
      int32_t b = stack.back();
      stack.pop_back();
      int32_t a = stack.back();
      stack.pop_back();
      out->nodes.push_back({-1, c == 'V' ? 1u : 0u, r, a, b});
      stack.push_back(int32_t(out->nodes.size() - 1));
    } else if (c == 'P') {
      int32_t a = 0, b = 0;
      int k = read_index(tok + 1, tend, &a);
      const char *q = tok + 1 + (k > 0 ? k : 0);
      int k2 = (k > 0 && q < tend && *q == ',') ? read_index(q + 1, tend, &b) : 0;
      if (k <= 0 || k2 <= 0 || q + 1 + k2 != tend) {
        log(LOG_ERROR, kSrc, "bad link token");
        return -1;
      }
      if (a >= n || b >= n) {
        log(LOG_ERROR, kSrc, "can't find window %d/%d/%d", a, b, n);
        continue;
      }
      if (a == b) {
        log(LOG_ERROR, kSrc, "window %d can't follow itself", a);
        return -1;
      }
      if (out->links.size() >= size_t(kLayoutWindowsMax)) {
        log(LOG_ERROR, kSrc, "too many links");
        return -1;
      }
      out->links.push_back({a, b});
    }
    // Other letters are skipped.
  }
  if (stack.size() != 1) {
    log(LOG_ERROR, kSrc, "top is %d", int(stack.size()));
    return -1;
  }
  out->root = stack[0];
  // A link between windows the tree does not hold would outlive them.
  std::vector<std::pair<int32_t, int32_t>> kept;
  for (auto &l : out->links) {
    if (out->placed[size_t(l.first)] && out->placed[size_t(l.second)])
      kept.push_back(l);
    else
      log(LOG_ERROR, kSrc, "can't find parent/child");
  }
  out->links.swap(kept);
  return 0;
}

static void write_node(const layout_tree &t, int32_t i, std::string *s) {
  char buf[40];
  const layout_node &nd = t.nodes[size_t(i)];
  if (nd.win >= 0) {
    snprintf(buf, sizeof buf, " W%d", nd.win);
  } else {
    write_node(t, nd.a, s);
    write_node(t, nd.b, s);
    snprintf(buf, sizeof buf, " %c%.3f", nd.orientation ? 'V' : 'H', nd.ratio);
  }
  *s += buf;
}

std::string layout_text_write(const layout_tree &t) {
  std::string s;
  if (t.root >= 0) write_node(t, t.root, &s);
  char buf[40];
  for (auto &l : t.links) {
    snprintf(buf, sizeof buf, " P%d,%d", l.first, l.second);
    s += buf;
  }
  return s.empty() ? s : s.substr(1);
}
