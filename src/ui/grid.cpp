// The grid. Each child's spans live in its box node's data (two int32:
// rows, columns). Layout walks the children in order and drops each into the
// next free cell of a 256-cell occupancy map, scanning rows from the top and
// columns from the left; more children than cells is a programming error and
// stops the program.
//
// Slots: reqsize, layout, add, add_span (its own, slot 35).
#include "ui/grid.h"

#include <algorithm>
#include <cstring>

#include "log.h"

namespace {

const char kSrc[] = "src/ui/grid";

// The occupancy map of the layout in progress.
struct grid_state {
  uint8_t taken[kGridCells];
};
grid_state S;

grid *as_grid(widget *w) { return static_cast<grid *>(w); }
box_class *box_record() { return static_cast<box_class *>(object_class_record(box_type())); }

struct spans {
  int32_t rows, columns;
};

spans *spans_of(box_node *n) { return reinterpret_cast<spans *>(n->data); }

box_node *node_of(grid *g, widget *child) {
  for (box_node *n = g->first; n; n = n->next)
    if (n->child == child) return n;
  return nullptr;
}

void g_reqsize(widget *self, size *out) {
  grid *g = as_grid(self);
  int32_t mw = 0, mh = 0;
  for (box_node *n = g->first; n; n = n->next) {
    size r = {0, 0};
    n->child->cls->reqsize(n->child, &r);
    const spans *s = spans_of(n);
    mw = std::max(mw, r.w / std::max(s->columns, 1));
    mh = std::max(mh, r.h / std::max(s->rows, 1));
  }
  out->w = mw * g->columns + (g->columns - 1) * g->spacing;
  out->h = mh * g->rows + (g->rows - 1) * g->spacing;
}

// Offset and length of cell run [first, first + n) along one axis.
void run(int32_t origin, int32_t first_len, int32_t cell, int32_t spacing, int first, int n,
         int32_t *pos, int32_t *len) {
  *pos = first == 0 ? origin : origin + first_len + spacing + (first - 1) * (cell + spacing);
  int32_t l = 0;
  for (int i = first; i < first + n; i++) l += (i == 0 ? first_len : cell);
  *len = l + (n - 1) * spacing;
}

void g_layout(container *self) {
  grid *g = as_grid(self);
  const int R = g->rows, C = g->columns, sp = g->spacing;
  if (R <= 0 || C <= 0) return;
  const rect b = g->r;
  int32_t cw = (b.w - (C - 1) * sp) / C, ch = (b.h - (R - 1) * sp) / R;
  int32_t first_w = b.w - (C - 1) * (cw + sp), first_h = b.h - (R - 1) * (ch + sp);
  memset(S.taken, 0, sizeof S.taken);
  int cell = 0;  // the next cell to try, row-major
  for (box_node *n = g->first; n; n = n->next) {
    while (cell < R * C && S.taken[cell]) cell++;
    if (cell >= R * C) {
      log(LOG_FATAL, kSrc, "too many children in grid");
      return;
    }
    int row = cell / C, col = cell % C;
    int rs = std::clamp(spans_of(n)->rows, 1, R - row);
    int cs = std::clamp(spans_of(n)->columns, 1, C - col);
    bool bad = false;
    for (int r = row; r < row + rs; r++)
      for (int c = col; c < col + cs; c++) {
        if (S.taken[r * C + c]) bad = true;
        S.taken[r * C + c] = 1;
      }
    if (bad) log(LOG_WARN, kSrc, "bad grid layout");
    rect out;
    run(b.x, first_w, cw, sp, col, cs, &out.x, &out.w);
    run(b.y, first_h, ch, sp, row, rs, &out.y, &out.h);
    n->child->r = out;
  }
}

int g_add_span(grid *self, widget *child, int rows, int columns) {
  if (box_record()->add(self, child) < 0) return -1;
  *spans_of(box_last_node(self)) = {rows, columns};
  return 0;
}

int g_add(container *self, widget *child) { return g_add_span(as_grid(self), child, 1, 1); }

void grid_class_init(object_class *rec) {
  auto *c = static_cast<grid_class *>(rec);
  c->reqsize = g_reqsize;
  c->layout = g_layout;
  c->add = g_add;
  c->add_span = g_add_span;
}

typeid_t register_grid() {
  return object_register_class("grid", box_type(), sizeof(grid), nullptr, nullptr,
                               sizeof(grid_class), grid_class_init, nullptr);
}

}  // namespace

typeid_t grid_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_grid);
}

grid *grid_new(widget *parent, int rows, int columns, int spacing) {
  if (rows * columns > kGridCells || rows < 0 || columns < 0) {
    log(LOG_ERROR, kSrc, "grid of %d x %d is more than %d cells", rows, columns, kGridCells);
    return nullptr;
  }
  auto *g = static_cast<grid *>(widget_new(parent, grid_type()));
  if (!g) return nullptr;
  g->rows = rows;
  g->columns = columns;
  g->spacing = spacing;
  return g;
}

int grid_add(grid *g, widget *child) { return container_cls(g)->add(g, child); }

int grid_add_span(grid *g, widget *child, int rows, int columns) {
  return static_cast<grid_class *>(g->cls)->add_span(g, child, rows, columns);
}

int grid_set_span(grid *g, widget *child, int rows, int columns) {
  box_node *n = node_of(g, child);
  if (!n) {
    log(LOG_WARN, kSrc, "can't find child");
    return -1;
  }
  *spans_of(n) = {rows, columns};
  return 0;
}

void grid_span(grid *g, widget *child, int *rows, int *columns) {
  box_node *n = node_of(g, child);
  *rows = n ? spans_of(n)->rows : 1;
  *columns = n ? spans_of(n)->columns : 1;
}

void grid_resize(grid *g, int rows, int columns) {
  container_cls(g)->delete_children(g);
  if (rows * columns > kGridCells) {
    log(LOG_ERROR, kSrc, "grid of %d x %d is more than %d cells", rows, columns, kGridCells);
    return;
  }
  g->rows = rows;
  g->columns = columns;
}
