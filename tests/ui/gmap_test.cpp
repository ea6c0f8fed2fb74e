// Drawing lists: growth arithmetic, the per-type array cache and its budget,
// marks and segments, translation, and what drawing emits (recorder).
#include "lib/gmap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/gfx.h"
#include "lib/glrecord.h"
#include "testlog.h"
#include "ui/gui.h"

namespace {

::testing::Environment *const kRuntime = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

using Calls = std::vector<std::string>;

class Gmap : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(gmap_init(kGmapBudget), 0); }
  void TearDown() override { gmap_fini(); }
};

// Fills a list with n elements 0, 1, 2, ... (coordinates).
void fill(gmap *m, int elements) {
  int per = m->type == GMAP_SINGLE ? 1 : 2;
  ASSERT_EQ(gmap_begin(m, uint32_t(elements)), 0);
  for (int i = 0; i < elements * per; i++) m->vertices[i] = i;
  gmap_set_count(m, elements * per);
}

TEST_F(Gmap, GrowsInStepsOf1024Coordinates) {
  struct Case {
    uint32_t type;
    int count;
    uint32_t n;
    int capacity;
  } cases[] = {
      {GMAP_SINGLE, 0, 1, 1024},   {GMAP_SINGLE, 0, 1025, 2048}, {GMAP_LINES, 0, 512, 1024},
      {GMAP_LINES, 0, 513, 2048},  {GMAP_QUADS, 0, 600, 2048},   {GMAP_LINES, 1000, 100, 2048},
      {GMAP_LINES, 999, 1, 1024},  // wants 1023: the 1024 it has suffice
      {GMAP_SINGLE, 0, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " " + std::to_string(c.count) + " " + std::to_string(c.n));
    gmap m;
    gmap_setup(&m, c.type, 0, 0);
    if (c.count) {
      uint32_t per = c.type == GMAP_SINGLE ? 1 : 2;
      ASSERT_EQ(gmap_grow(&m, (uint32_t(c.count) + per - 1) / per), 0);
      gmap_set_count(&m, c.count);
    }
    ASSERT_EQ(gmap_grow(&m, c.n), 0);
    EXPECT_EQ(m.capacity, c.capacity);
    EXPECT_EQ(m.texcoords != nullptr, c.type == GMAP_QUADS && c.capacity > 0);
    gmap_release(&m);
  }
  // Enough room already: nothing changes.
  gmap m;
  gmap_setup(&m, GMAP_LINES, 0, 0);
  ASSERT_EQ(gmap_grow(&m, 100), 0);
  int32_t *v = m.vertices;
  ASSERT_EQ(gmap_grow(&m, 500), 0);
  EXPECT_EQ(m.vertices, v);
  EXPECT_EQ(m.capacity, 1024);
  EXPECT_EQ(gmap_stats().in_use, 1024);
  gmap_release(&m);
  EXPECT_EQ(gmap_stats().in_use, 0);
}

TEST_F(Gmap, ReleasedArraysAreReusedLastInFirstOut) {
  gmap a, b, c, d;
  for (gmap *m : {&a, &b, &c, &d}) gmap_setup(m, GMAP_LINES, 0, 0);
  fill(&a, 1500);  // 3072 coordinates
  fill(&b, 10);    // 1024
  int32_t *pa = a.vertices, *pb = b.vertices;
  gmap_release(&a);
  gmap_release(&b);
  EXPECT_EQ(gmap_stats().cached, 3072 + 1024);
  EXPECT_EQ(gmap_stats().in_use, 0);
  EXPECT_EQ(a.capacity, 0);
  EXPECT_EQ(a.fresh, 1u);
  // The most recent arrays first, whatever their size...
  ASSERT_EQ(gmap_begin(&c, 1), 0);
  EXPECT_EQ(c.vertices, pb);
  EXPECT_EQ(c.capacity, 1024);
  // ...grown only when too small.
  ASSERT_EQ(gmap_begin(&d, 1000), 0);
  EXPECT_EQ(d.vertices, pa);
  EXPECT_EQ(d.capacity, 3072);
  EXPECT_EQ(gmap_stats().cached, 0);
  EXPECT_EQ(gmap_stats().in_use, 4096);
  // A list of another type gets none of them.
  gmap_release(&d);
  gmap q;
  gmap_setup(&q, GMAP_QUADS, 0, 0);
  ASSERT_EQ(gmap_begin(&q, 1), 0);
  EXPECT_NE(q.vertices, pa);
  EXPECT_EQ(gmap_stats().cached, 3072);
  gmap_release(&q);
  gmap_release(&c);
  gmap_flush_cache();
  EXPECT_EQ(gmap_stats().cached, 0);
}

TEST_F(Gmap, BudgetBoundsTheCache) {
  gmap_fini();
  ASSERT_EQ(gmap_init(2048), 0);
  gmap m[3];
  for (gmap &x : m) {
    gmap_setup(&x, GMAP_SINGLE, 0, 0);
    fill(&x, 1024);
  }
  gmap_release(&m[0]);
  gmap_release(&m[1]);  // cached 1024 < 2048: kept
  EXPECT_EQ(gmap_stats().cached, 2048);
  gmap_release(&m[2]);  // at the budget: freed
  EXPECT_EQ(gmap_stats().cached, 2048);
  EXPECT_EQ(gmap_stats().in_use, 0);
}

TEST_F(Gmap, PoolListsAndCounts) {
  gmap *m = gmap_new(GMAP_LINES, 77, 3);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->size_hint, 77u);
  EXPECT_EQ(m->texture, -1);
  EXPECT_EQ(m->max_marks, 3);
  fill(m, 4);
  EXPECT_EQ(gmap_count(m), 8);
  gmap_mark(m);
  gmap_clear(m);
  EXPECT_EQ(gmap_count(m), 0);
  EXPECT_EQ(m->mark_count, 0);
  EXPECT_EQ(m->marks[0], 0);
  EXPECT_GT(m->capacity, 0);  // arrays kept
  gmap_delete(m);
  EXPECT_EQ(gmap_stats().in_use, 0);
}

TEST_F(Gmap, EndDetectsOverrunAndClosesTheLastSegment) {
  gmap m;
  gmap_setup(&m, GMAP_LINES, 0, 4);
  fill(&m, 4);
  gmap_mark(&m);
  EXPECT_EQ(m.fresh, 1u);
  gmap_end(&m);
  EXPECT_EQ(m.fresh, 0u);
  EXPECT_EQ(m.mark_count, 1);
  EXPECT_EQ(m.marks[1], 8);  // closed without advancing the mark count
  LogCapture log;
  gmap_set_count(&m, 2000);
  gmap_end(&m);
  EXPECT_TRUE(log.has("overrun: type=1 n=2000 m=1024"));
  gmap_set_count(&m, 0);
  gmap_release(&m);
}

TEST_F(Gmap, TranslateMovesCoordinates) {
  gmap s, l;
  gmap_setup(&s, GMAP_SINGLE, 0, 0);
  gmap_setup(&l, GMAP_LINES, 0, 0);
  fill(&s, 4);
  fill(&l, 3);
  gmap_translate(&s, 10, 99);
  EXPECT_EQ(std::vector<int>(s.vertices, s.vertices + 4), (std::vector<int>{10, 11, 12, 13}));
  gmap_translate(&l, 10, 100);
  EXPECT_EQ(std::vector<int>(l.vertices, l.vertices + 6), (std::vector<int>{10, 101, 12, 103, 14, 105}));
  gmap_translate_stride(&l, 1, 2, 4);  // elements at coordinates 0 and 4
  EXPECT_EQ(std::vector<int>(l.vertices, l.vertices + 6), (std::vector<int>{11, 103, 12, 103, 15, 107}));
  gmap_release(&s);
  gmap_release(&l);
}

// The Vertex2i lines of the calls.
Calls vertices(const Calls &calls) {
  Calls out;
  for (const std::string &c : calls)
    if (c.rfind("Vertex2i", 0) == 0) out.push_back(c);
  return out;
}

TEST_F(Gmap, SegmentsRunBetweenMarks) {
  glrecord_scope rec;
  gmap m;
  gmap_setup(&m, GMAP_LINES, 0, 4);
  ASSERT_EQ(gmap_begin(&m, 12), 0);
  for (int i = 0; i < 24; i++) m.vertices[i] = i;
  gmap_set_count(&m, 8);
  gmap_mark(&m);
  gmap_set_count(&m, 16);
  gmap_mark(&m);
  gmap_set_count(&m, 24);
  gmap_end(&m);
  struct Case {
    int seg;
    Calls v;
  } cases[] = {
      {0, {"Vertex2i(0,1)", "Vertex2i(2,3)", "Vertex2i(4,5)", "Vertex2i(6,7)"}},
      {1, {"Vertex2i(8,9)", "Vertex2i(10,11)", "Vertex2i(12,13)", "Vertex2i(14,15)"}},
      {2, {"Vertex2i(16,17)", "Vertex2i(18,19)", "Vertex2i(20,21)", "Vertex2i(22,23)"}},
      {3, {}},
      {-1, {}},
  };
  for (const Case &c : cases) {
    glrecord_clear();
    gmap_draw_segment(&m, c.seg);
    EXPECT_EQ(glrecord_calls(), c.v) << c.seg;  // into the caller's primitive: no Begin
  }
  glrecord_clear();
  gmap_draw_segment_at(&m, 1, 100, 200);
  EXPECT_EQ(vertices(glrecord_calls())[0], "Vertex2i(108,209)");
  glrecord_clear();
  gmap_draw(&m);
  EXPECT_EQ(glrecord_calls().size(), 12u);
  gmap_release(&m);
}

TEST_F(Gmap, QuadListsDrawAsTexturedQuads) {
  glrecord_scope rec;
  gfx_reset();
  gmap m;
  gmap_setup(&m, GMAP_QUADS, 0, 0);
  ASSERT_EQ(gmap_begin(&m, 4), 0);
  const int32_t v[8] = {0, 10, 5, 10, 5, 0, 0, 0};
  const float t[8] = {0, 0.5f, 0.25f, 0.5f, 0.25f, 0, 0, 0};
  std::copy(v, v + 8, m.vertices);
  std::copy(t, t + 8, m.texcoords);
  gmap_set_count(&m, 8);
  m.texture = 5;
  gmap_end(&m);
  glrecord_clear();
  gmap_draw_at(&m, 1, 2);
  EXPECT_EQ(glrecord_calls(), (Calls{"Enable(GL_TEXTURE_2D)", "BindTexture(GL_TEXTURE_2D,5)", "Begin(GL_QUADS)",
                                     "TexCoord2f(0,0.5)", "Vertex2i(1,12)", "TexCoord2f(0.25,0.5)", "Vertex2i(6,12)",
                                     "TexCoord2f(0.25,0)", "Vertex2i(6,2)", "TexCoord2f(0,0)", "Vertex2i(1,2)"}));
  gfx_flush();
  gmap_release(&m);
}

TEST_F(Gmap, SingleListsDrawRulesAndRefuseDirectDrawing) {
  glrecord_scope rec;
  gfx_reset();
  gmap m;
  gmap_setup(&m, GMAP_SINGLE, 0, 0);
  ASSERT_EQ(gmap_begin(&m, 2), 0);
  m.vertices[0] = 5;
  m.vertices[1] = 9;
  glrecord_clear();
  gmap_draw_lines(&m, 0, 100);  // nothing stored yet
  EXPECT_TRUE(glrecord_calls().empty());
  gmap_set_count(&m, 1);
  gmap_draw_lines(&m, 0, 100);
  EXPECT_EQ(glrecord_calls(), (Calls{"Begin(GL_LINES)", "Vertex2f(0,5.5)", "Vertex2f(100,5.5)", "End()"}));
  glrecord_clear();
  gmap_draw_strip(&m, 0, 50);  // one value: nothing
  EXPECT_TRUE(glrecord_calls().empty());
  gmap_set_count(&m, 2);
  gmap_draw_strip(&m, 0, 50);
  EXPECT_EQ(glrecord_calls(), (Calls{"Begin(GL_LINES)", "Vertex2f(5.5,0)", "Vertex2f(5.5,50)", "Vertex2f(9.5,0)",
                                     "Vertex2f(9.5,50)", "End()"}));
  LogCapture log;
  glrecord_clear();
  gmap_draw(&m);
  EXPECT_TRUE(log.has("can't draw type 0"));
  EXPECT_TRUE(glrecord_calls().empty());
  gmap_release(&m);
}

TEST_F(Gmap, TooManyMarksAreRefused) {
  gmap m;
  gmap_setup(&m, GMAP_LINES, 0, 16);
  LogCapture log;
  for (int i = 0; i < 20; i++) gmap_mark(&m);
  EXPECT_EQ(m.mark_count, kGmapMaxMarks - 1);
  EXPECT_TRUE(log.has("too many marks"));
  gmap_end(&m);  // still room to close the last segment
  EXPECT_EQ(m.marks[kGmapMaxMarks - 1], 0);
}

// Last in the file: the quit flag cannot be cleared again.
TEST_F(Gmap, WhileQuittingReleasedArraysAreFreed) {
  gmap m;
  gmap_setup(&m, GMAP_LINES, 0, 0);
  fill(&m, 10);
  gui_set_quitting();
  gmap_release(&m);
  EXPECT_EQ(gmap_stats().cached, 0);
  EXPECT_EQ(gmap_stats().in_use, 0);
}

}  // namespace
