// The grid: a box that places its children in equal cells, in order, each
// covering a row span x column span block of cells (1 x 1 unless set).
// rows * columns <= 256. Main thread only.
#pragma once

#include <cstdint>

#include "ui/box.h"

constexpr int kGridCells = 256;

struct grid : box {
  int32_t rows, columns, spacing;
};

struct grid_class : box_class {
  int (*add_span)(grid *self, widget *child, int rows, int columns);  // 35
};

typeid_t grid_type();
grid *grid_new(widget *parent, int rows, int columns, int spacing);
// The class add: a 1 x 1 span.
int grid_add(grid *g, widget *child);
int grid_add_span(grid *g, widget *child, int rows, int columns);
// 0, or -1 after WARN "can't find child" when child is not in the grid.
int grid_set_span(grid *g, widget *child, int rows, int columns);
// The spans of a child (1 x 1 for one not in the grid).
void grid_span(grid *g, widget *child, int *rows, int *columns);
// Deletes every child, then takes the new dimensions.
void grid_resize(grid *g, int rows, int columns);
