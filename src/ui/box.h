// The box family: `box` keeps an ordered list of children in link nodes
// (each with 64 bytes of per-child layout data for its subclass) and lays
// them all over its whole rect; `hbox` and `vbox` lay them out in a row or a
// column, at their natural sizes (mode 0) or in equal cells (any other
// mode), with a spacing between neighbours. Main thread.
#pragma once

#include <cstdint>

#include "ui/container.h"

constexpr int kBoxNodeData = 64;
constexpr int kBoxNodesPerPage = 1000;

struct box_node {
  widget *child;
  box_node *next;
  uint8_t data[kBoxNodeData];  // the box subclass's, zeroed on insertion
};

struct box : container {
  uint32_t count;
  box_node *first;
  box_node *last_added;  // the node of the child added most recently
};

struct box_class : container_class {
  int (*add_before)(box *self, widget *child, widget *other);  // 33
  int (*add_after)(box *self, widget *child, widget *other);   // 34
};

struct hbox : box {
  uint32_t mode;     // 0 natural sizes, else equal cells
  uint32_t spacing;  // pixels between neighbours
};
using vbox = hbox;

inline box_class *box_cls(const box *b) { return static_cast<box_class *>(b->cls); }

typeid_t box_type();
typeid_t hbox_type();
typeid_t vbox_type();
hbox *hbox_new(widget *parent, uint32_t mode, uint32_t spacing);
vbox *vbox_new(widget *parent, uint32_t mode, uint32_t spacing);
// The link node of the child added most recently (null once it is removed).
box_node *box_last_node(box *b);
// Number of box link nodes in use (all boxes together).
int box_nodes_in_use();
