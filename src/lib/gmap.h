// Drawing lists: reusable arrays of vertex coordinates that a widget fills
// when its content changes (text laid out with font_layout, line vertices)
// and draws on every frame, whole or by marked segment, optionally offset.
// Released arrays are parked in a per-type cache under a global budget and
// handed to the next list of the same type. Main thread only.
#pragma once

#include <cstdint>

constexpr int kGmapMaxMarks = 16;
constexpr uint32_t kGmapBudget = 750000;  // coordinates the cache may hold

// List types: coordinates per element in the vertex array, and in the
// texture-coordinate array.
enum gmap_type : uint32_t {
  GMAP_SINGLE = 0,  // one coordinate per element (a list of x or of y values)
  GMAP_LINES = 1,   // (x, y) line vertices
  GMAP_QUADS = 2,   // textured glyph quads: (x, y) and (s, t)
};

struct gmap {
  uint32_t type;
  int32_t texture;     // GL texture name for GMAP_QUADS, -1 until laid out
  uint32_t size_hint;  // kept, not used
  int32_t count;       // coordinates written
  int32_t capacity;    // coordinates the arrays hold (0 = no arrays)
  float *texcoords;    // GMAP_QUADS only, indexed like vertices
  int32_t *vertices;
  int32_t mark_count;
  int32_t max_marks;
  int32_t marks[kGmapMaxMarks];  // segment ends, as coordinate counts
  uint32_t fresh;                // 1 after setup and release, 0 after gmap_end
};

// 0, or -1 after "can't init gmap pool" / "can't init tv pool".
int gmap_init(uint32_t budget);
void gmap_fini();
void gmap_flush_cache();

void gmap_setup(gmap *m, uint32_t type, uint32_t size_hint, int32_t max_marks);
gmap *gmap_new(uint32_t type, uint32_t size_hint, int32_t max_marks);  // null on failure
void gmap_release(gmap *m);  // arrays to the cache or freed; the list stays usable
void gmap_delete(gmap *m);   // only for lists from gmap_new

// Starts refilling for n elements (reusing cached arrays of the type). 0 or -1.
int gmap_begin(gmap *m, uint32_t n);
// Room for n more elements beyond count. 0 or -1 (old arrays kept).
int gmap_grow(gmap *m, uint32_t n);
void gmap_mark(gmap *m);
void gmap_end(gmap *m);
int32_t gmap_count(const gmap *m);
void gmap_set_count(gmap *m, int32_t n);
void gmap_clear(gmap *m);
void gmap_translate(gmap *m, int32_t dx, int32_t dy);
void gmap_translate_stride(gmap *m, int32_t dx, int32_t dy, int32_t step);

// GMAP_QUADS: textured quads; GMAP_LINES: vertices into the primitive the
// caller opened (gfx_begin_lines).
void gmap_draw(gmap *m);
void gmap_draw_segment(gmap *m, int32_t seg);
void gmap_draw_at(gmap *m, int32_t dx, int32_t dy);
void gmap_draw_segment_at(gmap *m, int32_t seg, int32_t dx, int32_t dy);
// GMAP_SINGLE: a horizontal line x1..x2 at every stored y / a vertical line
// y1..y2 at every stored x, as one GL_LINES primitive in the current colour.
void gmap_draw_lines(gmap *m, int32_t x1, int32_t x2);
void gmap_draw_strip(gmap *m, int32_t y1, int32_t y2);

// Coordinates held by live lists and by the cache.
struct gmap_totals {
  int64_t in_use, cached;
};
gmap_totals gmap_stats();
