// The button: the state entry drawn for every state, press/release/hover
// transitions through the widget's slots, toggles, radio groups, drags out
// and drops in, survival when the callback deletes the button, the size
// request, and the fill and text pixels of each visual state under Xvfb.
#include "ui/button.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "lib/font.h"
#include "lib/glrecord.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "testlog.h"
#include "ui/tooltip.h"
#include "uitest.h"
#include "widgetpix.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

struct Call {
  button *b;
  uint32_t state;
  int32_t id;
};
std::vector<Call> g_calls;
void record(button *b, uint32_t state, void *, int32_t id) { g_calls.push_back({b, state, id}); }

// A colour set whose entries differ: entry k fills with a colour of its own.
button_colours entry_colours() {
  button_colours c{};
  for (int k = 0; k < kButtonEntries; k++)
    c.entry[k] = {4, 0xff000000u | (uint32_t)(k * 15 + 10) | (uint32_t)(200 - k * 10) << 8,
                  0xffffffff, 0, 0};
  c.pad = {2, 4, 2, 4};
  return c;
}

class Button : public WidgetPixelTest {
 protected:
  button_colours colours = entry_colours();
  void SetUp() override {
    WidgetPixelTest::SetUp();
    g_calls.clear();
  }
  button *make(const char *text, uint32_t flags, button_group *g = nullptr, int32_t id = 0,
               rect r = {10, 10, 80, 24}) {
    button *b = button_new(nullptr, text, -1, 0, flags, g, &colours, record, nullptr, id);
    made.push_back(b);
    b->r = r;
    widget_show(b);
    return b;
  }
};

TEST_F(Button, StateEntries) {
  button_group g;
  button_group_init(&g);
  button *plain = make("A", 0);
  button *toggle = make("B", BUTTON_TOGGLE);
  button *member = make("C", 0, &g, 1);
  struct {
    button *b;
    uint32_t state;
    int entry;
  } cases[] = {
      {plain, 0, 0},
      {plain, BUTTON_INSENSITIVE, 16},
      {plain, BUTTON_INSENSITIVE | BUTTON_ACTIVE, 8},
      {plain, BUTTON_PRESSED | BUTTON_HOVER, 1},
      {plain, BUTTON_HOVER, 2},
      {plain, BUTTON_HOVER | BUTTON_ACTIVE, 9},
      {plain, BUTTON_ACTIVE, 8},
      {toggle, 0, 7},
      {toggle, BUTTON_HOVER, 2},
      {member, 0, 3},
      {member, BUTTON_ACTIVE, 4},
      {member, BUTTON_ACTIVE | BUTTON_HOVER, 6},
      {member, BUTTON_PRESSED | BUTTON_ACTIVE, 1},
  };
  for (auto &c : cases) {
    c.b->state = c.state;
    EXPECT_EQ(button_state_entry(c.b), c.entry) << c.b->text << " state " << c.state;
  }
}

// One step of pointer input sent straight to the button's slots.
enum Ev { kEnter, kLeave, kMotion, kPressIn, kReleaseIn, kReleaseOut, kRelease2In };

void send(button *b, Ev e) {
  int32_t ix = b->r.x + 2, iy = b->r.y + 2, ox = b->r.x + b->r.w + 5;
  switch (e) {
    case kEnter: b->cls->enter(b); break;
    case kLeave: b->cls->leave(b); break;
    case kMotion: b->cls->motion(b, ix, iy); break;
    case kPressIn: b->cls->press(b, ix, iy, 1); break;
    case kReleaseIn: b->cls->release(b, ix, iy, 1); break;
    case kReleaseOut: b->cls->release(b, ox, iy, 1); break;
    case kRelease2In: b->cls->release(b, ix, iy, 2); break;
  }
}

TEST_F(Button, Transitions) {
  struct Step {
    Ev ev;
    uint32_t state;             // after the step (without hover unless given)
    std::vector<uint32_t> told; // states passed to the callback by this step
  };
  struct {
    const char *name;
    uint32_t flags;
    std::vector<Step> steps;
  } cases[] = {
      {"click",
       0,
       {{kEnter, 4, {}}, {kPressIn, 7, {7}}, {kReleaseIn, 4, {36}}, {kLeave, 0, {}}}},
      {"released outside: no second call, pressed look cleared",
       0,
       {{kPressIn, 3, {3}}, {kLeave, 2, {}}, {kReleaseOut, 0, {}}}},
      {"leaving and coming back while held",
       0,
       {{kEnter, 4, {}}, {kPressIn, 7, {7}}, {kLeave, 2, {}}, {kEnter, 7, {}},
        {kReleaseIn, 4, {36}}}},
      {"toggle flips on each click",
       BUTTON_TOGGLE,
       {{kPressIn, 3, {3}}, {kReleaseIn, 8, {40}}, {kPressIn, 11, {11}}, {kReleaseIn, 0, {32}}}},
      {"toggle released without a press does not flip",
       BUTTON_TOGGLE,
       {{kReleaseIn, 0, {32}}}},
      {"other buttons do nothing inside", 0, {{kPressIn, 3, {3}}, {kRelease2In, 3, {}}}},
      {"motion sets hover once", 0, {{kMotion, 4, {}}, {kMotion, 4, {}}}},
      {"insensitive ignores everything",
       BUTTON_INSENSITIVE,
       {{kEnter, 16, {}}, {kMotion, 16, {}}, {kPressIn, 16, {}}, {kReleaseIn, 16, {}}}},
  };
  for (auto &c : cases) {
    button *b = make("Go", c.flags);
    for (size_t i = 0; i < c.steps.size(); i++) {
      const Step &s = c.steps[i];
      g_calls.clear();
      send(b, s.ev);
      EXPECT_EQ(b->state, s.state) << c.name << " step " << i;
      std::vector<uint32_t> told;
      for (const Call &k : g_calls) told.push_back(k.state);
      EXPECT_EQ(told, s.told) << c.name << " step " << i;
    }
  }
}

TEST_F(Button, RadioGroups) {
  button_group g;
  button_group_init(&g);
  button *a = make("A", 0, &g, 1);
  button *b = make("B", 0, &g, 2);
  EXPECT_EQ(g.active, a);  // the first member
  button *c = make("C", BUTTON_ACTIVE, &g, 3);
  EXPECT_EQ(g.active, c);  // created active: takes over
  EXPECT_FALSE(a->state & BUTTON_ACTIVE);
  EXPECT_EQ(g.first, c);  // new members go to the front

  // Clicking the active one keeps it active and still calls back.
  send(c, kPressIn);
  g_calls.clear();
  send(c, kReleaseIn);
  EXPECT_EQ(g.active, c);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_TRUE(g_calls[0].state & BUTTON_ACTIVE);
  EXPECT_EQ(g_calls[0].id, 3);
  // Clicking another moves the selection.
  send(b, kPressIn);
  send(b, kReleaseIn);
  EXPECT_EQ(g.active, b);
  EXPECT_TRUE(b->state & BUTTON_ACTIVE);
  EXPECT_FALSE(c->state & BUTTON_ACTIVE);

  EXPECT_EQ(button_group_member(&g, 2), b);
  EXPECT_EQ(button_group_member(&g, 9), nullptr);
  EXPECT_EQ(button_group_select(&g, 1), 0);
  EXPECT_EQ(g.active, a);
  EXPECT_EQ(button_group_select(&g, 9), -1);
  EXPECT_EQ(g.active, nullptr);
  EXPECT_FALSE(a->state & BUTTON_ACTIVE);

  button_group_set_active(&g, c);
  button_disable(c);
  EXPECT_EQ(g.active, nullptr);
  EXPECT_EQ(c->state, (uint32_t)BUTTON_INSENSITIVE);
  EXPECT_FALSE(button_is_sensitive(c));
  EXPECT_EQ(button_group_set_sensitive(&g, 3, 1), 0);
  EXPECT_TRUE(button_is_sensitive(c));
  EXPECT_EQ(button_group_set_sensitive(&g, 7, 1), -1);
  button_group_set_sensitive_all(&g, 0);
  for (button *m : {a, b, c}) EXPECT_FALSE(button_is_sensitive(m));

  // A deleted member leaves its group.
  made.erase(std::find(made.begin(), made.end(), b));
  widget_delete(b);
  int members = 0;
  for (button *m = g.first; m; m = m->next_member) members++;
  EXPECT_EQ(members, 2);
}

TEST_F(Button, CallbackDeletingItsButton) {
  button *b = button_new(nullptr, "X", -1, 0, 0, nullptr, &colours,
                         [](button *self, uint32_t state, void *, int32_t) {
                           if (!(state & BUTTON_HELD)) widget_delete(self);
                         },
                         nullptr, 0);
  b->r = {0, 0, 30, 20};
  LogCapture logs;
  b->cls->press(b, 5, 5, 1);
  b->cls->release(b, 5, 5, 1);  // deletes it; nothing touches it afterwards (ASan)
  EXPECT_EQ(logs.count("button killed during callback"), 1);
  EXPECT_EQ(logs.lines().size(), 1u);
}

TEST_F(Button, DragsOutAndDropsIn) {
  button *src = make("Drag me", BUTTON_DRAG_SOURCE);
  button *dst = make("Drop", BUTTON_ACCEPTS_DROPS, nullptr, 5, {100, 10, 80, 24});
  button *plain = make("Plain", 0);
  drag_record d = {12, 12, 12, 12, nullptr};
  tooltip_show_text(nullptr);
  EXPECT_EQ(src->cls->drag_begin(src, 12, 12, 1, &d), 1);
  EXPECT_EQ(d.w, src);
  EXPECT_TRUE(tooltip_visible());
  EXPECT_EQ(plain->cls->drag_begin(plain, 12, 12, 1, &d), 0);  // no parent to ask
  src->state |= BUTTON_PRESSED | BUTTON_HELD;
  g_calls.clear();
  EXPECT_EQ(src->cls->drag_release(src, dst, 120, 20, 1, &d), 0);  // the target gets no drop
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].state, (uint32_t)BUTTON_DRAGGED_OUT);
  EXPECT_EQ(src->state, 0u);
  g_calls.clear();
  dst->cls->drop(dst, 120, 20, 1, &d);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].state, (uint32_t)BUTTON_DROPPED_ON);
  EXPECT_EQ(dst->drop_x, 120);
  EXPECT_EQ(dst->state, 0u);
  button_disable(dst);
  g_calls.clear();
  dst->cls->drop(dst, 120, 20, 1, &d);
  EXPECT_TRUE(g_calls.empty());
  tooltip_show_text(nullptr);
}

TEST_F(Button, SizeRequest) {
  int32_t ascent, descent, wh[2], a[2];
  font_metrics(nullptr, nullptr, &ascent, &descent, 4);
  colours.entry[9].font = 11;  // a larger font in one measured entry
  button *b = make("Cancel", 0);
  button_set_text2(b, "Cancel all");
  size s;
  b->cls->reqsize(b, &s);
  font_text_size(wh, 11, "Cancel all");
  int32_t a11, d11;
  font_metrics(nullptr, nullptr, &a11, &d11, 11);
  EXPECT_EQ(s.w, wh[0] + 8);
  EXPECT_EQ(s.h, a11 + d11 + 4);
  colours.entry[9].font = 4;
  button_set_style(b, BUTTON_FIXED_SIZE);
  b->cls->reqsize(b, &s);
  font_text_size(a, 4, "A");
  EXPECT_EQ(s.w, a[0] + 8);
  EXPECT_EQ(s.h, ascent + descent + 4);
}

TEST_F(Button, EachVisualStateFillsWithItsEntry) {
  button_group g;
  button_group_init(&g);
  button *b = make("", 0, nullptr, 0, {40, 40, 60, 30});
  button *m = make("", 0, &g, 0, {140, 40, 60, 30});
  struct {
    button *w;
    uint32_t state;
    int entry;
  } cases[] = {{b, 0, 0},  {b, 3, 1},  {b, 4, 2},  {b, 8, 8},  {b, 12, 9}, {b, 16, 16},
               {m, 0, 3},  {m, 8, 4},  {m, 12, 6}};
  for (auto &c : cases) {
    c.w->state = c.state;
    widget_draw(c.w);
    gfx_flush();
    const rect &r = c.w->r;
    EXPECT_TRUE(pixeltest_colour_at(r.x + 2, r.y + 2, colours.entry[c.entry].fill))
        << "state " << c.state;
    EXPECT_TRUE(pixeltest_colour_at(r.x + r.w - 1, r.y + r.h - 1, colours.entry[c.entry].fill))
        << "state " << c.state;
  }
}

TEST_F(Button, TextAndSecondTextPixels) {
  colours.entry[0] = {9, 0xff400000, 0xff00ffff, 0, 0};
  colours.entry[8] = {9, 0xff400000, 0xffff00ff, 0, 0};
  button *b = make("Buy", BUTTON_CENTRE_X | BUTTON_CENTRE_Y, nullptr, 0, {40, 40, 120, 40});
  button_set_text2(b, "WWWW");
  auto count = [&](uint32_t c) {
    int n = 0;
    for (int y = 40; y < 80; y++)
      for (int x = 40; x < 160; x++) n += pixeltest_colour_at(x, y, c, 8) ? 1 : 0;
    return n;
  };
  widget_draw(b);  // not active: the second text in entry 0's colour
  gfx_flush();
  int wide = count(0xff00ffff);
  EXPECT_GT(wide, 0);
  pixeltest_clear(0xff000000);
  button_set_active(b, 1);  // active: the text in entry 8's colour
  widget_draw(b);
  gfx_flush();
  int narrow = count(0xffff00ff);
  EXPECT_GT(narrow, 0);
  EXPECT_LT(narrow, wide);  // "Buy" covers fewer pixels than "WWWW"
  EXPECT_EQ(count(0xff00ffff), 0);
}

TEST_F(Button, PanelLookWhenTheEntryHasAnOutline) {
  // The dark style's panel images: fill 39, shadow 41, outline 42.
  panel_set_textures(39, -1, 41, 42);
  colours.entry[0] = {4, 0xff306090, 0xffffffff, 0xff0000ff, 0};
  button *b = make("", 0, nullptr, 0, {40, 40, 60, 30});
  widget_draw(b);
  gfx_flush();
  EXPECT_TRUE(pixeltest_colour_at(70, 55, 0xff306090, 24));  // the fill inside
  EXPECT_FALSE(pixeltest_colour_at(40, 55, 0xff306090, 24));  // the red outline at the edge
  EXPECT_TRUE(pixeltest_colour_at(39, 55, 0xff000000));
  panel_set_textures(-1, -1, -1, -1);
}

}  // namespace

namespace {

TEST_F(Button, IconTintedAndMeasured) {
  const int32_t kIcon = 3;
  int32_t isz[2];
  tex_size(isz, kIcon);
  ASSERT_GT(isz[0], 0);
  colours.entry[0] = {4, 0xff202020, 0xff00ff00, 0, 0};
  button *b = button_new(nullptr, "", kIcon, 0, 0, nullptr, &colours, record, nullptr, 0);
  made.push_back(b);
  b->r = {40, 40, 80, 60};
  widget_show(b);
  size s;
  b->cls->reqsize(b, &s);
  EXPECT_EQ(s.w, isz[0] + 8);  // the icon alone, plus the padding
  glrecord_scope rec(true);
  widget_draw(b);
  gfx_flush();
  // Tinted with the entry's text colour, centred in a button without text.
  const auto &calls = glrecord_calls();
  auto green = std::find(calls.begin(), calls.end(), "Color4ub(0,255,0,255)");
  ASSERT_NE(green, calls.end());
  int32_t x0 = 40 + (80 - isz[0]) / 2, y0 = 40 + (60 - isz[1]) / 2;
  bool placed = false;
  for (auto it = green; it != calls.end(); ++it)
    placed |= *it == "Vertex2i(" + std::to_string(x0) + "," + std::to_string(y0) + ")";
  EXPECT_TRUE(placed);
}

}  // namespace
