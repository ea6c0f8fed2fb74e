// Boxes: an ordered list of children in link nodes taken from one node pool
// shared by every box (1000 nodes a page, set up by the box class's own
// class_init and torn down by its class_fini). The plain box overlays its
// children; hbox and vbox replace reqsize and layout with the row and column
// arithmetic below. All divisions truncate toward zero, as C++'s do.
//
// Slots written by the classes of this file:
//   box:  apply_children, child_count, get_child, reqsize, find_at, draw,
//         draw_area, layout, add, remove, delete_children, add_before,
//         add_after
//   hbox: reqsize, layout         vbox: reqsize, layout
#include "ui/box.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "log.h"
#include "pool.h"
#include "ui/sizer.h"

namespace {

const char kSrc[] = "src/ui/box";

struct box_state {
  pool nodes = {};
  int in_use = 0;
};
box_state S;

enum where { kAppend, kBefore, kAfter };

box *as_box(widget *w) { return static_cast<box *>(w); }
hbox *as_hbox(widget *w) { return static_cast<hbox *>(w); }

int insert(box *b, widget *child, widget *other, where at) {
  auto *node = static_cast<box_node *>(pool_alloc(&S.nodes));
  if (!node) return -1;
  node->child = child;
  node->next = nullptr;
  memset(node->data, 0, sizeof node->data);
  if (!b->first) {
    b->first = node;
  } else if (at == kAfter) {
    box_node *o = b->first;
    while (o && o->child != other) o = o->next;
    if (!o) {
      pool_free(&S.nodes, node);
      log(LOG_ERROR, kSrc, "can't add widget after other widget");
      return -1;
    }
    node->next = o->next;
    o->next = node;
  } else if (at == kBefore) {
    box_node **link = &b->first;
    while (*link && (*link)->child != other) link = &(*link)->next;
    if (!*link) {
      pool_free(&S.nodes, node);
      log(LOG_ERROR, kSrc, "can't add widget before other widget");
      return -1;
    }
    node->next = *link;
    *link = node;
  } else {
    box_node *o = b->first;
    while (o->next) o = o->next;
    o->next = node;
  }
  S.in_use++;
  b->count++;
  b->last_added = node;
  container_attach(b, child);
  return 0;
}

// box

void x_apply_children(widget *self, widget_apply_fn fn, void *arg, int n) {
  for (box_node *node = as_box(self)->first; node;) {
    box_node *next = node->next;  // fn may remove the child
    fn(node->child, arg, n);
    node = next;
  }
}
int x_child_count(widget *self) { return int(as_box(self)->count); }
widget *x_get_child(widget *self, int i) {
  box_node *node = as_box(self)->first;
  for (; node && i > 0; i--) node = node->next;
  return node && i == 0 ? node->child : nullptr;
}
void x_reqsize(widget *self, size *out) {
  size m = {0, 0};
  for (box_node *node = as_box(self)->first; node; node = node->next) {
    size r = {0, 0};
    node->child->cls->reqsize(node->child, &r);
    m.w = std::max(m.w, r.w);
    m.h = std::max(m.h, r.h);
  }
  *out = m;
}
widget *x_find_at(widget *self, int32_t x, int32_t y) {
  if (!widget_default_find_at(self, x, y)) return nullptr;
  for (box_node *node = as_box(self)->first; node; node = node->next) {
    widget *c = node->child;
    if (!(c->flags & WIDGET_SHOWN)) continue;
    widget *hit = c->cls->find_at(c, x, y);
    if (hit) return hit;
  }
  return self;
}
void x_draw(widget *self) {
  container_fill_bg(static_cast<container *>(self));
  for (box_node *node = as_box(self)->first; node; node = node->next) {
    widget *c = node->child;
    if ((c->flags & WIDGET_SHOWN) && c->r.w >= 1 && c->r.h >= 1) widget_draw(c);
  }
}
void x_draw_area(widget *self, const rect *a) {
  for (box_node *node = as_box(self)->first; node; node = node->next) {
    widget *c = node->child;
    if (c->r.x < a->x + a->w && a->x < c->r.x + c->r.w && c->r.y < a->y + a->h &&
        a->y < c->r.y + c->r.h)
      widget_draw(c);
  }
}
void x_layout(container *self) {
  for (box_node *node = static_cast<box *>(self)->first; node; node = node->next)
    node->child->r = self->r;
}
int x_add(container *self, widget *child) {
  return insert(static_cast<box *>(self), child, nullptr, kAppend);
}
widget *x_remove(container *self, widget *child) {
  box *b = static_cast<box *>(self);
  box_node **link = &b->first;
  while (*link && (*link)->child != child) link = &(*link)->next;
  if (!*link) {
    log(LOG_WARN, kSrc, "box does not have child %p", static_cast<void *>(child));
    return nullptr;
  }
  container_detach(self, child);
  box_node *node = *link;
  *link = node->next;
  if (b->last_added == node) b->last_added = nullptr;
  pool_free(&S.nodes, node);
  S.in_use--;
  b->count--;
  return child;
}
void x_delete_children(container *self) {
  box *b = static_cast<box *>(self);
  while (b->first) {
    widget *c = x_remove(self, b->first->child);
    widget_delete(c);
  }
}
int x_add_before(box *self, widget *child, widget *other) {
  return insert(self, child, other, kBefore);
}
int x_add_after(box *self, widget *child, widget *other) {
  return insert(self, child, other, kAfter);
}

void box_class_init(object_class *rec) {
  // The node pool is the box class's one-time set-up, on its own record.
  if (object_class_first_init(box_type())) {
    pool_init(&S.nodes, kBoxNodesPerPage, sizeof(box_node));
    S.in_use = 0;
  }
  auto *c = static_cast<box_class *>(rec);
  c->apply_children = x_apply_children;
  c->child_count = x_child_count;
  c->get_child = x_get_child;
  c->reqsize = x_reqsize;
  c->find_at = x_find_at;
  c->draw = x_draw;
  c->draw_area = x_draw_area;
  c->layout = x_layout;
  c->add = x_add;
  c->remove = x_remove;
  c->delete_children = x_delete_children;
  c->add_before = x_add_before;
  c->add_after = x_add_after;
}

// Runs once for every class record of the box family at shutdown; the
// pool's destroy may be repeated.
void box_class_fini(object_class *) {
  if (object_class_fini_flag(box_type())) pool_destroy(&S.nodes);
}

void box_fini(object *obj) {
  box *b = reinterpret_cast<box *>(obj);
  box_node *node = b->first;
  b->first = nullptr;
  b->last_added = nullptr;
  while (node) {
    box_node *next = node->next;
    widget_delete(node->child);
    pool_free(&S.nodes, node);
    S.in_use--;
    b->count--;
    node = next;
  }
}

typeid_t register_box() {
  return object_register_class("box", container_type(), sizeof(box), nullptr, box_fini,
                               sizeof(box_class), box_class_init, box_class_fini);
}

// hbox and vbox

bool is_sizer(widget *c) { return object_is_a(widget_obj(c), sizer_type()); }

// An expanding child: a sizer that fills along the box and has no fixed
// size in that direction.
bool expands(widget *c, bool across) {
  if (!is_sizer(c)) return false;
  auto *s = static_cast<sizer *>(c);
  return across ? (s->flags & SIZER_FILL_W) && s->width == 0
                : (s->flags & SIZER_EXPAND_V) && s->height == 0;
}

struct kid {
  widget *w;
  size req;
  bool expand;
};

std::vector<kid> kids(box *b, bool across) {
  std::vector<kid> v;
  v.reserve(b->count);
  for (box_node *node = b->first; node; node = node->next) {
    kid k{node->child, {0, 0}, expands(node->child, across)};
    node->child->cls->reqsize(node->child, &k.req);
    v.push_back(k);
  }
  return v;
}

// The requested size of a row (across) or a column: the natural size sums
// the children along the box and takes the largest across it; equal cells
// take the largest along times the count. The row of a shown hbox skips its
// children that are not shown; the spacing counts every child.
void line_reqsize(hbox *h, bool across, size *out) {
  bool skip_hidden = across && (h->flags & WIDGET_SHOWN);
  int64_t sum = 0, max_along = 0, max_across = 0;
  for (box_node *node = h->first; node; node = node->next) {
    widget *c = node->child;
    if (skip_hidden && !(c->flags & WIDGET_SHOWN)) continue;
    size r = {0, 0};
    c->cls->reqsize(c, &r);
    int32_t along = across ? r.w : r.h, other = across ? r.h : r.w;
    sum += along;
    max_along = std::max<int64_t>(max_along, along);
    max_across = std::max<int64_t>(max_across, other);
  }
  int64_t n = h->count;
  int64_t len = h->mode == 0 ? sum : max_along * n;
  // An empty box adds no spacing (not a negative one).
  if (n > 1) len += int64_t(h->spacing) * (n - 1);
  *out = across ? size{int32_t(len), int32_t(max_across)} : size{int32_t(max_across), int32_t(len)};
}

void h_reqsize(widget *self, size *out) { line_reqsize(as_hbox(self), true, out); }
void v_reqsize(widget *self, size *out) { line_reqsize(as_hbox(self), false, out); }

// Natural sizes along the box: the fixed children get their requests, the
// expanding ones share what is left, the remainder is spread evenly and
// the first child takes what does not divide. `clamp` (hbox) keeps the
// shares at 0 or more and cuts children at the box's end; the vbox lets
// them go negative and cuts nothing.
struct along {
  int32_t pos, len;
};
std::vector<along> natural(const std::vector<kid> &v, int32_t start, int32_t total,
                           int32_t spacing, bool across, bool clamp) {
  int64_t n = int64_t(v.size());
  int64_t expanding = 0, sum = 0;
  for (const kid &k : v) {
    if (k.expand)
      expanding++;
    else
      sum += across ? k.req.w : k.req.h;
  }
  int64_t used = int64_t(spacing) * (n - 1) + sum;
  int64_t share = 0;
  if (expanding > 0) {
    share = (total - used) / expanding;
    if (clamp) share = std::max<int64_t>(share, 0);
    used += expanding * share;
  }
  int64_t raw = (total - used) / n;
  int64_t extra = clamp ? std::max<int64_t>(raw, 0) : raw;
  int64_t bonus = std::max<int64_t>(total - used - (n - 1) * raw, 0);

  std::vector<along> out(v.size());
  for (size_t i = 0; i < v.size(); i++) {
    int64_t base = v[i].expand ? share : (across ? v[i].req.w : v[i].req.h);
    if (i == 0)
      out[i] = {start, int32_t(base + bonus)};
    else
      out[i] = {out[i - 1].pos + out[i - 1].len + spacing, int32_t(base + extra)};
  }
  if (!clamp) return out;

  // Cutting at the box's end.
  int32_t right = start + total - 1;
  bool past = false;
  for (size_t i = 0; i < v.size(); i++) {
    along &a = out[i];
    if (past || a.pos >= right) {
      a = {right, 0};
      past = true;
      continue;
    }
    if (int64_t(a.pos) + a.len > int64_t(start) + total) {
      int32_t cut = std::max(right - a.pos, 0);
      int64_t base = v[i].expand ? share : v[i].req.w;
      widget *c = v[i].w;
      if (cut < base && !is_sizer(c) && !object_is_a(widget_obj(c), hbox_type())) {
        a.len = 0;
        past = true;
      } else {
        a.len = cut;
      }
    }
  }
  return out;
}

void h_layout(container *self) {
  hbox *h = static_cast<hbox *>(self);
  if (h->count < 1) return;
  const rect b = h->r;
  int32_t sp = int32_t(h->spacing);
  std::vector<kid> v = kids(h, true);
  int32_t right = b.x + b.w - 1;

  if (h->mode == 0) {
    std::vector<along> xs = natural(v, b.x, b.w, sp, true, true);
    for (size_t i = 0; i < v.size(); i++) {
      // A sizer marked to expand vertically gets the box's height, every
      // other child (expanding sizers too) its requested height.
      bool full = is_sizer(v[i].w) && (static_cast<sizer *>(v[i].w)->flags & SIZER_EXPAND_V);
      v[i].w->r = {xs[i].pos, b.y, xs[i].len, full ? b.h : v[i].req.h};
    }
    return;
  }

  int64_t n = int64_t(v.size());
  int64_t maxw = 0;
  for (const kid &k : v)
    if (!k.expand) maxw = std::max<int64_t>(maxw, k.req.w);
  int64_t avail = int64_t(b.w) - (n - 1) * sp;
  int64_t cell = std::max<int64_t>(avail / n, maxw);
  int64_t bonus = avail - n * cell;
  size_t i = 0;
  while (i < v.size() && !(v[i].w->flags & WIDGET_SHOWN)) i++;
  int64_t pos = b.x;
  for (int64_t k = 0; i < v.size(); i++, k++) {
    rect r = {int32_t(pos), b.y, int32_t(k < bonus ? cell + 1 : cell), b.h};
    if (r.x >= right) {
      r.x = right;
      r.w = 0;
    } else if (int64_t(r.x) + r.w > int64_t(b.x) + b.w) {
      r.w = 0;
    } else {
      pos += r.w + sp;
    }
    v[i].w->r = r;
  }
}

void v_layout(container *self) {
  hbox *h = static_cast<hbox *>(self);
  if (h->count < 1) return;
  const rect b = h->r;
  int32_t sp = int32_t(h->spacing);
  std::vector<kid> v = kids(h, false);
  if (h->mode == 0) {
    std::vector<along> ys = natural(v, b.y, b.h, sp, false, false);
    for (size_t i = 0; i < v.size(); i++) v[i].w->r = {b.x, ys[i].pos, b.w, ys[i].len};
    return;
  }
  int64_t n = int64_t(v.size());
  int64_t cell = (int64_t(b.h) - (n - 1) * sp) / n;
  int64_t y = b.y, ht = int64_t(b.h) - (n - 1) * sp - (n - 1) * cell;
  for (size_t i = 0; i < v.size(); i++) {
    if (i > 0) {
      y += ht + sp;
      ht = cell;
    }
    v[i].w->r = {b.x, int32_t(y), b.w, int32_t(ht)};
  }
}

void hbox_class_init(object_class *rec) {
  auto *c = static_cast<box_class *>(rec);
  c->reqsize = h_reqsize;
  c->layout = h_layout;
}

void vbox_class_init(object_class *rec) {
  auto *c = static_cast<box_class *>(rec);
  c->reqsize = v_reqsize;
  c->layout = v_layout;
}

typeid_t register_hbox() {
  return object_register_class("hbox", box_type(), sizeof(hbox), nullptr, nullptr,
                               sizeof(box_class), hbox_class_init, nullptr);
}

typeid_t register_vbox() {
  return object_register_class("vbox", box_type(), sizeof(vbox), nullptr, nullptr,
                               sizeof(box_class), vbox_class_init, nullptr);
}

hbox *new_line(widget *parent, typeid_t type, uint32_t mode, uint32_t spacing) {
  auto *h = static_cast<hbox *>(widget_new(parent, type));
  if (!h) return nullptr;
  h->mode = mode;
  h->spacing = spacing;
  return h;
}

}  // namespace

typeid_t box_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_box);
}

typeid_t hbox_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_hbox);
}

typeid_t vbox_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_vbox);
}

hbox *hbox_new(widget *parent, uint32_t mode, uint32_t spacing) {
  return new_line(parent, hbox_type(), mode, spacing);
}

vbox *vbox_new(widget *parent, uint32_t mode, uint32_t spacing) {
  return new_line(parent, vbox_type(), mode, spacing);
}

box_node *box_last_node(box *b) { return b->last_added; }

int box_nodes_in_use() { return S.in_use; }
