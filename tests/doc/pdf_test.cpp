// PDF views and the render thread over a fake renderer that knows page
// sizes by file name: setters and what they raise, the size discovery of a
// first 0 x 0 request and its reuse by later views of the file, picture
// sizes (the 612 x 792 cases, the 4088 bound), one request per view and
// poll, a view closed while its render is out, stopping while rendering,
// and the bands and scroll clamp of the drawing through the GL recorder.
#include "doc/pdf.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "doc/pdf_server.h"
#include "docsupport.h"
#include "lib/gfx.h"
#include "lib/glrecord.h"
#include "lib/splash.h"
#include "plat.h"
#include "testlog.h"

namespace {

struct Env : ::testing::Environment {
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    ASSERT_EQ(splash_init(), 0);
  }
};
const auto* kEnv = ::testing::AddGlobalTestEnvironment(new Env);

struct Page {
  double w, h;
  int count;
};
// Files the fake renderer knows: name -> page box and count.
const std::map<std::string, Page> kFiles = {
    {"portrait", {612, 792, 3}}, {"landscape", {792, 612, 1}}, {"tall", {1, 14400, 1}}, {"wide", {14400, 1, 1}}};

struct Seen {
  std::string path;
  uint32_t w, h, rotation;
  int32_t page;
};
std::mutex g_mu;
std::vector<Seen> g_seen;
std::atomic<int> g_renders{0};
std::atomic<int> g_delay_ms{0};

void fake_render(pdf_request* r) {
  {
    std::lock_guard<std::mutex> g(g_mu);
    g_seen.push_back({r->path, r->width, r->height, r->rotation, r->page});
  }
  g_renders++;
  if (g_delay_ms) plat_sleep_ms(g_delay_ms);
  auto it = kFiles.find(r->path);
  if (it == kFiles.end()) {
    r->error = 2;
    return;
  }
  r->page_count = it->second.count;
  r->page_width = it->second.w;
  r->page_height = it->second.h;
  r->bottom_up = 1;
  if (r->pixels) memset(r->pixels, 0x80, (size_t)r->width * r->height * 4);
  r->error = 0;
}

std::vector<Seen> seen() {
  std::lock_guard<std::mutex> g(g_mu);
  return g_seen;
}

// Polls until `cond` holds (a deadline, no fixed sleep).
bool poll_until(const std::function<bool()>& cond, int ms = 5000) {
  for (int waited = 0; waited < ms; waited++) {
    pdf_poll();
    if (cond()) return true;
    plat_sleep_ms(1);
  }
  return cond();
}

class Pdf : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    g_renders = 0;
    g_delay_ms = 0;
    pdf_set_renderer(fake_render);
    ASSERT_EQ(pdf_init(), 0);
    ASSERT_TRUE(pdf_server_running());
  }
  void TearDown() override {
    pdf_shutdown();
    pdf_set_renderer(nullptr);
  }
  // Opens a view at a size and waits until its picture has arrived.
  pdf_view* open_shown(const char* path, uint32_t w, uint32_t h, uint32_t fit = 0, int32_t rotation = 0) {
    pdf_view* v = pdf_open(path);
    EXPECT_TRUE(v);
    pdf_set_fit(v, fit);
    pdf_set_rotation(v, rotation);
    pdf_set_size(v, w, h);
    size sz{0, 0};
    EXPECT_TRUE(poll_until([&] {
      splash_size(&sz, v->picture);
      return sz.w > 0 && v->changes == 0;
    }));
    return v;
  }
};

// The render thread's own tests; the suite's name puts them in the
// ThreadSanitizer run.
class PdfConcurrency : public Pdf {};

TEST_F(Pdf, SettersRaiseChangesOnlyForNewValues) {
  pdf_view* v = pdf_open("portrait");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->id, 1u);
  EXPECT_EQ(pdf_page_count(v), 1);
  EXPECT_EQ(pdf_set_size(v, 10000, 10000), 0);
  EXPECT_EQ(v->changes, 1u);
  EXPECT_EQ(pdf_set_size(v, 10001, 10), -1);
  EXPECT_EQ(pdf_set_size(v, 10, 10001), -1);
  EXPECT_EQ(v->want_width, 10000u);
  EXPECT_EQ(v->changes, 1u);
  pdf_set_page(v, 2);
  pdf_set_page(v, 2);
  EXPECT_EQ(v->changes, 2u);
  struct {
    uint32_t from;
    int32_t set;
    uint32_t want;
  } turns[] = {{0, -1, 1}, {2, -1, 3}, {3, -1, 0}, {7, -1, 0}, {1, 2, 2}};
  for (auto& t : turns) {
    v->want_rotation = t.from;
    pdf_set_rotation(v, t.set);
    EXPECT_EQ(v->want_rotation, t.want) << t.from << " " << t.set;
  }
  pdf_close(v);
  EXPECT_EQ(pdf_view_count(), 0);
}

TEST_F(PdfConcurrency, FirstRequestLearnsTheSizeThenThePictureFollows) {
  pdf_view* v = open_shown("portrait", 600, 400);
  std::vector<Seen> s = seen();
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].w, 0u);
  EXPECT_EQ(s[0].h, 0u);
  EXPECT_EQ(s[1].w, 600u);
  EXPECT_EQ(s[1].h, 776u);
  EXPECT_EQ(pdf_page_count(v), 3);
  int32_t pw, ph;
  pdf_page_size(v, &pw, &ph);
  EXPECT_EQ(pw, 612);
  EXPECT_EQ(ph, 792);
  EXPECT_EQ(pdf_take_changed(), 1);
  EXPECT_EQ(pdf_take_changed(), 0);

  // A second view of the file starts with its size: no 0 x 0 request.
  pdf_view* w = pdf_open("portrait");
  EXPECT_EQ(pdf_page_count(w), 3);
  pdf_set_size(w, 300, 300);
  ASSERT_TRUE(poll_until([&] { return w->picture->w > 0; }));
  ASSERT_EQ(seen().size(), 3u);
  EXPECT_EQ(seen()[2].w, 300u);
  EXPECT_EQ(seen()[2].h, 388u);
}

TEST_F(Pdf, PictureSizes) {
  struct Case {
    const char* file;
    uint32_t w, h, fit;
    int32_t rotation;
    uint32_t pw, ph;
  } cases[] = {
      {"portrait", 600, 400, 0, 0, 600, 776},
      {"portrait", 600, 400, 0, 1, 600, 463},
      {"portrait", 600, 400, 1, 0, 309, 400},
      {"portrait", 600, 400, 1, 3, 517, 400},
      {"landscape", 600, 400, 0, 0, 600, 463},
      // Beyond the picture holder's 4088: scaled down keeping the shape.
      {"portrait", 10000, 400, 0, 0, 3158, 4088},
      {"tall", 600, 400, 0, 0, 1, 4088},
      {"wide", 600, 10000, 1, 0, 4088, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.w) + "x" + std::to_string(c.h) + " fit " +
                 std::to_string(c.fit) + " rot " + std::to_string(c.rotation));
    g_seen.clear();
    pdf_view* v = open_shown(c.file, c.w, c.h, c.fit, c.rotation);
    ASSERT_FALSE(seen().empty());
    EXPECT_EQ(seen().back().w, c.pw);
    EXPECT_EQ(seen().back().h, c.ph);
    EXPECT_EQ(v->picture->w, (int32_t)c.pw);
    pdf_close(v);
  }
}

TEST_F(Pdf, OneRequestPerViewAndPollWithTheLatestState) {
  pdf_view* v = open_shown("portrait", 600, 400);
  size_t before = seen().size();
  for (int i = 0; i < 10; i++) {
    pdf_set_page(v, i % 3);
    pdf_set_size(v, 500 + i, 400);
    pdf_set_rotation(v, -1);
  }
  pdf_poll();
  ASSERT_TRUE(poll_until([&] { return v->width == 509; }));
  std::vector<Seen> s = seen();
  ASSERT_EQ(s.size(), before + 1);
  EXPECT_EQ(s.back().page, 0);       // 9 % 3
  EXPECT_EQ(s.back().rotation, 2u);  // ten quarter turns
  EXPECT_EQ(s.back().w, 509u);
  EXPECT_EQ(pdf_page(v), 0);
  EXPECT_EQ(pdf_rotation(v), 2);
}

TEST_F(PdfConcurrency, AViewClosedWhileItsRenderIsOutIsMissedOnce) {
  pdf_view* v = pdf_open("portrait");
  pdf_set_size(v, 100, 100);
  uint32_t id = v->id;
  LogCapture log;
  pdf_poll();  // the request goes out
  pdf_close(v);
  ASSERT_TRUE(poll_until([] { return g_renders.load() >= 1; }));
  std::string line = "can't find pdf #" + std::to_string(id);
  ASSERT_TRUE(poll_until([&] { return log.has(line); }));
  for (int i = 0; i < 20; i++) pdf_poll();
  EXPECT_EQ(log.count(line), 1);
}

TEST_F(Pdf, AFailedRenderKeepsTheOldPicture) {
  LogCapture log;
  pdf_view* v = pdf_open("missing");
  pdf_set_size(v, 100, 100);
  ASSERT_TRUE(poll_until([&] { return log.has("PDF error 2 (0)"); }));
  EXPECT_EQ(v->picture->w, 0);
  EXPECT_EQ(v->changes, 0u) << "no retry loop";
}

TEST_F(PdfConcurrency, StoppingWhileRenderingJoinsAfterTheCurrentPageAndFreesTheRest) {
  g_delay_ms = 30;
  std::vector<pdf_view*> views;
  for (int i = 0; i < 20; i++) {
    pdf_view* v = pdf_open("nothing-known");  // one 0 x 0 request each
    pdf_set_size(v, 100, 100);
    views.push_back(v);
  }
  LogCapture log;
  pdf_poll();
  ASSERT_TRUE(poll_until([] { return g_renders.load() >= 1; }));
  pdf_shutdown();  // joins after the page in hand; the others come back unrendered
  EXPECT_LE(g_renders.load(), 2);
  EXPECT_EQ(pdf_view_count(), 0);
  EXPECT_EQ(log.count("PDF error 1 (0)"), 20 - g_renders.load());
  ASSERT_EQ(pdf_init(), 0);  // for TearDown
}

TEST_F(PdfConcurrency, AStopSignalledBeforeTheThreadWaitsIsNotMissed) {
  // Each start is followed at once by a stop, often before the thread
  // reached its wait; every join must come back.
  for (int i = 0; i < 50; i++) {
    pdf_server_stop();
    ASSERT_EQ(pdf_server_start(fake_render), 0);
  }
}

// Drawing ----------------------------------------------------------------------

TEST_F(Pdf, DrawingBandsAndTheScrollClamp) {
  // A landscape page fit to the width of a tall view leaves room above and
  // below: two bands of 0xFFF2F0F0.
  pdf_view* v = open_shown("landscape", 400, 600);
  ASSERT_EQ(v->picture->w, 400);
  ASSERT_EQ(v->picture->h, 309);
  gfx_reset();
  glrecord_scope rec;
  int32_t scroll = 50;
  colour a = 0, b = 0;
  pdf_render_page(v, 10, 20, 400, 600, &scroll, &a, &b);
  EXPECT_EQ(scroll, 0) << "a page shorter than the view does not scroll";
  EXPECT_EQ(a, 0xFFFFFFFFu);
  EXPECT_EQ(b, 0xFFFFFFFFu);
  EXPECT_GE(count_calls("Color4ub(240,240,242,255)"), 1) << glrecord_text();
  EXPECT_GE(count_calls("TexCoord"), 4) << "the picture is drawn";

  // A portrait page at the width of a short view scrolls, clamped so its
  // last rows sit at the bottom.
  pdf_view* p = open_shown("portrait", 300, 200);
  ASSERT_EQ(p->picture->h, 388);
  struct {
    int32_t in, out;
  } scrolls[] = {{-5, 0}, {0, 0}, {100, 100}, {188, 188}, {189, 188}, {5000, 188}};
  for (auto& sc : scrolls) {
    int32_t s = sc.in;
    pdf_render_page(p, 0, 0, 300, 200, &s, &a, &b);
    EXPECT_EQ(s, sc.out) << sc.in;
  }
  // Drawn into a wider rectangle the same picture is scaled by 2: the
  // bound is twice the picture's height less the view.
  int32_t s = 100000;
  pdf_render_page(p, 0, 0, 600, 200, &s, &a, &b);
  EXPECT_EQ(s, 2 * 388 - 200);
}

TEST_F(Pdf, NoPictureDrawsWhite) {
  pdf_view* v = pdf_open("portrait");
  gfx_reset();
  glrecord_scope rec;
  int32_t scroll = 0;
  colour a = 0, b = 0;
  EXPECT_EQ(pdf_render_page(v, 0, 0, 100, 100, &scroll, &a, &b), 0);
  EXPECT_GE(count_calls("Color4ub(255,255,255,255)"), 1) << glrecord_text();
  EXPECT_EQ(count_calls("TexCoord"), 0);
}

}  // namespace
