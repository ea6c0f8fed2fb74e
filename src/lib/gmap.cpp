// Drawing lists and their array cache.
//
// Coordinate arrays grow in steps of 1024 coordinates and are the costly
// part of a list, so a released list parks its arrays at the head of a LIFO
// chain for its type, and the next list of that type to begin takes the most
// recent ones, whatever their size, growing them only when too small. The
// cache holds at most `budget` coordinates; beyond it arrays are freed.
#include "lib/gmap.h"

#include <cstring>

#include "dalloc.h"
#include "lib/gfx.h"
#include "lib/glapi.h"
#include "ui/gui.h"
#include "lib/tex.h"
#include "log.h"
#include "pool.h"

static const char kSrc[] = "src/lib/gmap";

constexpr int kTypes = 16;
constexpr int32_t kStep = 1024;

struct gmap_node {
  int32_t capacity;
  float *texcoords;
  int32_t *vertices;
  gmap_node *next;
};

static struct {
  pool maps;
  pool nodes;
  bool ready;
  gmap_node *heads[kTypes];
  int64_t in_use;
  int64_t cached;
  int64_t budget;
} S;

// Coordinates per element: vertex array, texture array.
static int32_t vcomp(uint32_t type) { return type == GMAP_SINGLE ? 1 : 2; }
static int32_t tcomp(uint32_t type) { return type == GMAP_QUADS ? 2 : 0; }

int gmap_init(uint32_t budget) {
  if (pool_init(&S.maps, 100, int32_t(sizeof(gmap))) != 0) {
    log(LOG_ERROR, kSrc, "can't init gmap pool");
    return -1;
  }
  if (pool_init(&S.nodes, 100, int32_t(sizeof(gmap_node))) != 0) {
    log(LOG_ERROR, kSrc, "can't init tv pool");
    pool_destroy(&S.maps);
    return -1;
  }
  memset(S.heads, 0, sizeof S.heads);
  S.in_use = S.cached = 0;
  S.budget = budget;
  S.ready = true;
  return 0;
}

void gmap_flush_cache() {
  if (!S.ready) return;
  for (gmap_node *&head : S.heads) {
    while (head) {
      gmap_node *n = head;
      head = n->next;
      if (n->texcoords) dalloc_free(n->texcoords);
      if (n->vertices) dalloc_free(n->vertices);
      S.cached -= n->capacity;
      pool_free(&S.nodes, n);
    }
  }
}

void gmap_fini() {
  if (!S.ready) return;
  gmap_flush_cache();
  pool_destroy(&S.maps);
  pool_destroy(&S.nodes);
  S.ready = false;
  S.in_use = S.cached = 0;
}

gmap_totals gmap_stats() { return {S.in_use, S.cached}; }

void gmap_setup(gmap *m, uint32_t type, uint32_t size_hint, int32_t max_marks) {
  memset(m, 0, sizeof *m);
  m->type = type;
  m->texture = -1;
  m->size_hint = size_hint;
  m->max_marks = max_marks < 0 ? 0 : max_marks > kGmapMaxMarks ? kGmapMaxMarks : max_marks;
  m->fresh = 1;
}

gmap *gmap_new(uint32_t type, uint32_t size_hint, int32_t max_marks) {
  auto *m = S.ready ? static_cast<gmap *>(pool_alloc(&S.maps)) : nullptr;
  if (!m) {
    log(LOG_ERROR, kSrc, "can't alloc map from pool");
    return nullptr;
  }
  gmap_setup(m, type, size_hint, max_marks);
  return m;
}

void gmap_release(gmap *m) {
  if (m->capacity > 0) {
    gmap_node *n = nullptr;
    if (S.ready && S.cached < S.budget && !gui_quitting() && m->type < kTypes)
      n = static_cast<gmap_node *>(pool_alloc(&S.nodes));
    if (n) {
      n->capacity = m->capacity;
      n->texcoords = m->texcoords;
      n->vertices = m->vertices;
      n->next = S.heads[m->type];
      S.heads[m->type] = n;
      S.cached += m->capacity;
    } else {
      if (m->texcoords) dalloc_free(m->texcoords);
      if (m->vertices) dalloc_free(m->vertices);
    }
    S.in_use -= m->capacity;  // freed or parked, the list no longer holds it
  }
  m->count = 0;
  m->mark_count = 0;
  m->capacity = 0;
  m->texcoords = nullptr;
  m->vertices = nullptr;
  m->fresh = 1;
}

void gmap_delete(gmap *m) {
  gmap_release(m);
  pool_free(&S.maps, m);
}

int gmap_grow(gmap *m, uint32_t n) {
  int32_t v = vcomp(m->type), t = tcomp(m->type);
  int64_t vsize = (int64_t(v) * n + m->count + kStep - 1) / kStep * kStep;
  int64_t tsize = (int64_t(t) * n + m->count + kStep - 1) / kStep * kStep;
  if (vsize > 0x7FFFFFFF / 4) {
    log(LOG_ERROR, kSrc, "can't realloc gmap type %d v from %d to %lld", int(m->type), m->capacity,
        static_cast<long long>(vsize));
    return -1;
  }
  int32_t elements = int32_t((vsize - m->count) / v);
  int32_t capacity = m->count + elements * v;
  if (m->capacity >= capacity) return 0;
  auto *nv = static_cast<int32_t *>(dalloc_realloc(m->vertices, int32_t(vsize) * 4));
  if (!nv) {
    log(LOG_ERROR, kSrc, "can't realloc gmap type %d v from %d to %d", int(m->type), m->capacity, int(vsize));
    return -1;
  }
  m->vertices = nv;
  if (t > 0) {
    auto *nt = static_cast<float *>(dalloc_realloc(m->texcoords, int32_t(tsize) * 4));
    if (!nt) {
      log(LOG_ERROR, kSrc, "can't realloc gmap type %d t from %d to %d", int(m->type), m->capacity,
          int(tsize));
      return -1;
    }
    m->texcoords = nt;
  }
  S.in_use += capacity - m->capacity;
  m->capacity = capacity;
  return 0;
}

int gmap_begin(gmap *m, uint32_t n) {
  if (m->capacity == 0 && m->type < kTypes && S.heads[m->type]) {
    gmap_node *node = S.heads[m->type];
    S.heads[m->type] = node->next;
    m->capacity = node->capacity;
    m->texcoords = node->texcoords;
    m->vertices = node->vertices;
    S.in_use += node->capacity;
    S.cached -= node->capacity;
    pool_free(&S.nodes, node);
  }
  m->count = 0;
  m->mark_count = 0;
  return gmap_grow(m, n);
}

void gmap_mark(gmap *m) {
  // The slot after the last mark is where gmap_end closes the last segment.
  if (m->mark_count >= kGmapMaxMarks - 1) {
    log(LOG_ERROR, kSrc, "too many marks: %d", m->mark_count + 1);
    return;
  }
  m->marks[m->mark_count++] = m->count;
}

void gmap_end(gmap *m) {
  m->fresh = 0;
  if (m->count > m->capacity)
    log(LOG_ERROR, kSrc, "overrun: type=%d n=%d m=%d", int(m->type), m->count, m->capacity);
  m->marks[m->mark_count] = m->count;
}

int32_t gmap_count(const gmap *m) { return m->count; }
void gmap_set_count(gmap *m, int32_t n) { m->count = n; }

void gmap_clear(gmap *m) {
  m->count = 0;
  m->mark_count = 0;
  for (int32_t i = 0; i < m->max_marks; i++) m->marks[i] = 0;
}

void gmap_translate_stride(gmap *m, int32_t dx, int32_t dy, int32_t step) {
  if (step < 1) return;
  if (m->type == GMAP_SINGLE) {
    for (int32_t i = 0; i < m->count; i += step) m->vertices[i] += dx;
    return;
  }
  for (int32_t i = 0; i + 1 < m->count; i += step) {
    m->vertices[i] += dx;
    m->vertices[i + 1] += dy;
  }
}

void gmap_translate(gmap *m, int32_t dx, int32_t dy) {
  gmap_translate_stride(m, dx, dy, m->type == GMAP_SINGLE ? 1 : 2);
}

// Draws coordinates [from, to) offset by (dx, dy).
static void draw_range(gmap *m, int32_t from, int32_t to, int32_t dx, int32_t dy) {
  if (from < 0 || to > m->count || from >= to) return;
  if (m->type == GMAP_QUADS) {
    tex_draw_quads_at(uint32_t(m->texture < 0 ? 0 : m->texture), to - from, m->texcoords + from,
                      m->vertices + from, dx, dy);
  } else if (m->type == GMAP_LINES) {
    for (int32_t i = from; i + 1 < to; i += 2) gl->Vertex2i(m->vertices[i] + dx, m->vertices[i + 1] + dy);
  } else {
    log(LOG_ERROR, kSrc, "can't draw type %d", int(m->type));
  }
}

static bool segment(const gmap *m, int32_t seg, int32_t *from, int32_t *to) {
  if (seg < 0 || seg > m->mark_count) return false;
  *from = seg ? m->marks[seg - 1] : 0;
  *to = seg == m->mark_count ? m->count : m->marks[seg];
  return true;
}

void gmap_draw(gmap *m) { gmap_draw_at(m, 0, 0); }

void gmap_draw_at(gmap *m, int32_t dx, int32_t dy) {
  if (m->type != GMAP_QUADS && m->type != GMAP_LINES) {
    log(LOG_ERROR, kSrc, "can't draw type %d", int(m->type));
    return;
  }
  draw_range(m, 0, m->count, dx, dy);
}

void gmap_draw_segment(gmap *m, int32_t seg) { gmap_draw_segment_at(m, seg, 0, 0); }

void gmap_draw_segment_at(gmap *m, int32_t seg, int32_t dx, int32_t dy) {
  int32_t from, to;
  if (m->type != GMAP_QUADS && m->type != GMAP_LINES) {
    log(LOG_ERROR, kSrc, "can't draw type %d", int(m->type));
    return;
  }
  if (segment(m, seg, &from, &to)) draw_range(m, from, to, dx, dy);
}

void gmap_draw_lines(gmap *m, int32_t x1, int32_t x2) {
  if (m->count == 0) return;
  gfx_end();
  gfx_untexture();
  gfx_begin(GL_LINES);
  for (int32_t i = 0; i < m->count; i++) {
    float y = float(m->vertices[i]) + 0.5f;
    gl->Vertex2f(float(x1), y);
    gl->Vertex2f(float(x2), y);
  }
  gfx_end();
}

void gmap_draw_strip(gmap *m, int32_t y1, int32_t y2) {
  if (m->count < 2) return;
  gfx_end();
  gfx_untexture();
  gfx_begin(GL_LINES);
  for (int32_t i = 0; i < m->count; i++) {
    float x = float(m->vertices[i]) + 0.5f;
    gl->Vertex2f(x, float(y1));
    gl->Vertex2f(x, float(y2));
  }
  gfx_end();
}
