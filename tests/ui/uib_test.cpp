// The UI builder: token streams -> widget trees, asserted as a written-out
// tree (class names, texts, spans, styles), with the "if" skipping and its
// scan for the 6, 0xDEADBEAF pair, the settings that outlive a build, the
// flag stack, radio groups, the end-of-build results and their errors, a
// build continued by uib_build_more, and an unknown token ending the
// process (death tests).
#include "ui/uib.h"

#include <gtest/gtest.h>

#include <string>

#include "lib/gmap.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "log.h"
#include "testlog.h"
#include "ui/box.h"
#include "ui/button.h"
#include "ui/deck.h"
#include "ui/flyaway.h"
#include "ui/grid.h"
#include "ui/hider.h"
#include "ui/label.h"
#include "ui/sizer.h"
#include "ui/spinner.h"
#include "ui/textbox.h"
#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

int no_queue(widget *, const rect *, widget_update_fn, int) { return 0; }

const uint32_t kMark = kUibEndIf;

bool is(widget *w, typeid_t t) { return object_is_a(widget_obj(w), t); }

// The tree written out: class names, leaves' texts after ':', children in
// parentheses.
std::string tree(widget *w) {
  if (!w) return "null";
  std::string s = object_type_name(widget_obj(w));
  if (is(w, label_type())) s += std::string(":") + static_cast<label *>(w)->text;
  if (is(w, button_type())) s += std::string(":") + static_cast<button *>(w)->text;
  if (is(w, textbox_type())) s += std::string(":") + static_cast<textbox *>(w)->text;
  if (is(w, flyaway_type())) s += std::string(":") + static_cast<flyaway *>(w)->caption;
  int n = w->cls->child_count(w);
  if (n > 0) {
    s += "(";
    for (int i = 0; i < n; i++) s += (i ? "," : "") + tree(w->cls->get_child(w, i));
    s += ")";
  }
  return s;
}

class Uib : public WidgetTest {
 protected:
  widget *made = nullptr;
  void SetUp() override {
    WidgetTest::SetUp();
    uib_reset();
  }
  void TearDown() override {
    if (made) widget_delete(made);
    WidgetTest::TearDown();
  }
  // Keeps w for deletion at the end (deleting the one kept before).
  std::string keep(widget *w) {
    if (made && made != w) widget_delete(made);
    made = w;
    return tree(w);
  }
};

TEST_F(Uib, StreamsToTrees) {
  EXPECT_EQ(keep(uib_build(UIB_LABEL, "hi", UIB_END)), "label:hi");
  EXPECT_EQ(keep(uib_build(UIB_VBOX, 0, 0, UIB_LABEL, "a", UIB_END)), "vbox(label:a)");
  const char *s = "still";
  EXPECT_EQ(keep(uib_build(UIB_VBOX, 0, 4,
                             UIB_HBOX, 1, 2,
                               UIB_BUTTON, "OK", 1,
                               UIB_BUTTON2, "On", "Off", 2,
                             UIB_CLOSE,
                             UIB_TEXTBOX, "typed", 10, 0, 5,
                             UIB_GRID, 2, 2, 1,
                               UIB_LABEL, "wide", UIB_SPAN, 1, 2,
                               UIB_LABEL, "b",
                             UIB_CLOSE,
                             UIB_DECK,
                               UIB_LABEL, "p1", UIB_LABEL, "p2",
                             UIB_CLOSE,
                             UIB_HIDER, 1, UIB_LABEL, s, UIB_CLOSE,
                             UIB_BIN, 0xff102030u, UIB_LABEL, "in bin", UIB_CLOSE,
                             UIB_FBOX, 2, 0,
                               UIB_FLYAWAY, "Tools", UIB_CAPTION, "tl",
                                 UIB_LABEL, "c",
                               UIB_CLOSE,
                             UIB_CLOSE,
                           UIB_CLOSE)),
            "vbox(hbox(button:OK,button:On),textbox:typed,grid(label:wide,label:b),"
            "deck(label:p1,label:p2),hider(label:still),bin(label:in bin),"
            "fbox(flyaway:TL(label:c)))");
  vbox *v = static_cast<vbox *>(made);
  EXPECT_EQ(v->spacing, 4u);
  grid *g = static_cast<grid *>(v->cls->get_child(v, 2));
  int rs = 0, cs = 0;
  grid_span(g, g->cls->get_child(g, 0), &rs, &cs);
  EXPECT_EQ(rs, 1);
  EXPECT_EQ(cs, 2);
  EXPECT_EQ(g->spacing, 1);
  EXPECT_EQ(static_cast<hider *>(v->cls->get_child(v, 4))->keep_space, 1);
  EXPECT_EQ(static_cast<bin *>(v->cls->get_child(v, 5))->bg, 0xff102030u);
  button *b2 = static_cast<button *>(
      static_cast<hbox *>(v->cls->get_child(v, 0))->cls->get_child(v->cls->get_child(v, 0), 1));
  EXPECT_STREQ(b2->text2, "Off");
  EXPECT_EQ(b2->id, 2);
  EXPECT_EQ(uib_depth(), 0);
}

TEST_F(Uib, FloatArgumentsArriveAsDoubles) {
  size fixed = {40, 0};
  padding pad = {1, 2, 3, 4};
  widget *sp = nullptr, *ts = nullptr;
  keep(uib_build(UIB_VBOX, 0, 0,
                 UIB_SIZER, SIZER_CENTRE_H, &fixed, &pad, 0.5,
                   UIB_SPINNER, "qty", 1.5, 0.0, 10.0, 0.5, 1, 9, UIB_STORE, &sp,
                 UIB_CLOSE,
                 UIB_TIME, "at", 930, 900, 1700, 3, UIB_STORE, &ts,
                 UIB_END));
  ASSERT_EQ(tree(made), "vbox(sizer(spinner),time_spinner)");
  sizer *sz = static_cast<sizer *>(made->cls->get_child(made, 0));
  EXPECT_EQ(sz->scale, 0.5f);
  EXPECT_EQ(sz->width, 40);
  EXPECT_EQ(sz->pad.right, 4);
  EXPECT_EQ(sz->flags, SIZER_CENTRE_H);
  spinner *s = static_cast<spinner *>(sp);
  EXPECT_EQ(s->value, 1.5f);
  EXPECT_EQ(s->maximum, 10.0f);
  EXPECT_EQ(s->step, 0.5f);
  EXPECT_EQ(s->decimals, 1);
  EXPECT_EQ(s->id, 9);
  EXPECT_STREQ(s->label, "qty");
  time_spinner *t = static_cast<time_spinner *>(ts);
  EXPECT_EQ(t->value, 930);
  EXPECT_EQ(t->minimum, 900);
  EXPECT_EQ(t->maximum, 1700);
  EXPECT_EQ(t->id, 3);
}

TEST_F(Uib, IfSkipsToTheNextEndPair) {
  struct row {
    const char *what;
    widget *w;
    const char *want;
  };
  // Each stream is built in its own row; the vbox holds what survived.
  std::vector<row> rows;
  rows.push_back({"skipped button", uib_build(UIB_VBOX, 0, 0, UIB_IF, 0, UIB_BUTTON, "x", 7,
                                              UIB_ENDIF, kMark, UIB_LABEL, "after", UIB_END),
                  "vbox(label:after)"});
  rows.push_back({"kept button", uib_build(UIB_VBOX, 0, 0, UIB_IF, 1, UIB_BUTTON, "x", 7,
                                           UIB_ENDIF, kMark, UIB_LABEL, "after", UIB_END),
                  "vbox(button:x,label:after)"});
  // An argument equal to 6 not followed by the marker: scanning goes on.
  rows.push_back({"a 6 among the arguments",
                  uib_build(UIB_VBOX, 0, 0, UIB_IF, 0, UIB_BUTTON, "x", 6, UIB_LABEL, "y",
                            UIB_ENDIF, kMark, UIB_LABEL, "z", UIB_END),
                  "vbox(label:z)"});
  // Ifs do not nest: the inner pair ends the skip.
  rows.push_back({"not nested",
                  uib_build(UIB_VBOX, 0, 0, UIB_IF, 0, UIB_IF, 1, UIB_LABEL, "a", UIB_ENDIF,
                            kMark, UIB_LABEL, "b", UIB_ENDIF, kMark, UIB_END),
                  "vbox(label:b)"});
  rows.push_back({"a container in the skipped stretch",
                  uib_build(UIB_VBOX, 0, 0, UIB_IF, 0, UIB_HBOX, 0, 0, UIB_LABEL, "in",
                            UIB_CLOSE, UIB_ENDIF, kMark, UIB_END),
                  "vbox"});
  for (const row &r : rows) {
    EXPECT_EQ(tree(r.w), r.want) << r.what;
    if (r.w) widget_delete(r.w);
  }
}

TEST_F(Uib, EndsAndTheirErrors) {
  LogCapture log;
  widget *outer = nullptr;
  // Two containers open at the end: none, and "underflow @ 2".
  EXPECT_EQ(uib_build(UIB_VBOX, 0, 0, UIB_STORE_CONTAINER, &outer, UIB_HBOX, 0, 0, UIB_END),
            nullptr);
  EXPECT_TRUE(log.has("underflow @ 2"));
  // The next build warns and starts afresh.
  EXPECT_EQ(keep(uib_build(UIB_LABEL, "x", UIB_END)), "label:x");
  EXPECT_TRUE(log.has("still building something"));
  widget_delete(outer);
  // Closing with nothing open is a token error.
  EXPECT_EQ(uib_build(UIB_CLOSE, UIB_END), nullptr);
  EXPECT_TRUE(log.has("nothing to close"));
  // Closing the root ends the call: the rest of the stream is not read.
  EXPECT_EQ(keep(uib_build(UIB_VBOX, 0, 0, UIB_CLOSE, 999)), "vbox");
}

TEST_F(Uib, BuildMoreContinuesOpenContainers) {
  LogCapture log;
  EXPECT_EQ(uib_build(UIB_VBOX, 0, 0, UIB_HBOX, 0, 0, UIB_END), nullptr);
  EXPECT_EQ(uib_depth(), 2);
  EXPECT_EQ(uib_build_more(UIB_LABEL, "x", UIB_CLOSE, UIB_LABEL, "y", UIB_CLOSE), 0);
  EXPECT_EQ(keep(uib_result()), "vbox(hbox(label:x),label:y)");
  EXPECT_EQ(uib_build_more(UIB_CLOSE, UIB_END), -1);  // nothing open any more
}

TEST_F(Uib, StoresLastWidgetAndContainer) {
  widget *last = nullptr, *cont = nullptr;
  keep(uib_build(UIB_VBOX, 0, 0, UIB_LABEL, "a", UIB_STORE, &last, UIB_STORE_CONTAINER, &cont,
                 UIB_HBOX, 0, 0, UIB_CLOSE, UIB_END));
  EXPECT_EQ(tree(last), "label:a");
  EXPECT_EQ(cont, made);
  // After a close the last widget is the closed container.
  keep(uib_build(UIB_VBOX, 0, 0, UIB_HBOX, 0, 0, UIB_CLOSE, UIB_STORE, &last, UIB_END));
  EXPECT_EQ(tree(last), "hbox");
}

TEST_F(Uib, ButtonFlagsStackGroupAndCallback) {
  const uint32_t before = uib_button_flags();
  uib_build(UIB_FLAGS_PUSH_SET, 0x200, UIB_END);
  EXPECT_EQ(uib_button_flags(), before | 0x200);
  uib_build(UIB_FLAGS_POP, UIB_END);
  EXPECT_EQ(uib_button_flags(), before);
  button_group g = {reinterpret_cast<button *>(1), reinterpret_cast<button *>(1)};
  button_colours c0{}, c1{};
  int arg = 0;
  button_fn cb = [](button *, uint32_t, void *, int32_t) {};
  keep(uib_build(UIB_HBOX, 0, 0,
                 UIB_DEF_COLOURS0, &c0, UIB_DEF_COLOURS1, &c1, UIB_COLOURS1,
                 UIB_BUTTON_CALLBACK, cb, &arg,
                 UIB_FLAGS_SET, BUTTON_TOGGLE,
                 UIB_RADIO, &g, UIB_BUTTON, "a", 1, UIB_BUTTON0, "b", 2, UIB_RADIO_END,
                 UIB_FLAGS_CLEAR, BUTTON_TOGGLE,
                 UIB_ICON, 3, 4, UIB_INSENSITIVE,
                 UIB_END));
  ASSERT_EQ(tree(made), "hbox(button:a,button:b,button:)");
  auto *a = static_cast<button *>(made->cls->get_child(made, 0));
  auto *b = static_cast<button *>(made->cls->get_child(made, 1));
  auto *i = static_cast<button *>(made->cls->get_child(made, 2));
  EXPECT_EQ(a->colours, &c1);  // the selected set
  EXPECT_EQ(b->colours, &c0);  // the named set
  EXPECT_EQ(a->style & BUTTON_TOGGLE, BUTTON_TOGGLE);
  EXPECT_EQ(i->style & BUTTON_TOGGLE, 0u);
  EXPECT_EQ(a->group, &g);
  EXPECT_EQ(b->group, &g);
  EXPECT_EQ(g.active, a);  // the group record was cleared, so a became its first
  EXPECT_EQ(i->group, nullptr);
  EXPECT_EQ(a->callback, cb);
  EXPECT_EQ(a->arg, &arg);
  EXPECT_EQ(i->icon, 3);
  EXPECT_EQ(i->id, 4);
  EXPECT_FALSE(button_is_sensitive(i));
  EXPECT_TRUE(button_is_sensitive(a));
  uib_build(UIB_DEF_COLOURS0, nullptr, UIB_DEF_COLOURS1, nullptr, UIB_COLOURS0,
            UIB_BUTTON_CALLBACK, nullptr, nullptr, UIB_END);
}

TEST_F(Uib, StylesOutliveBuildsButTheLabelStyleIsReset) {
  padding pad = {1, 1, 1, 1};
  uib_build(UIB_DEF_TB0, 0, 0, -1, 1, 2, 3, 4, 5, 6, 7, 8, 9, nullptr,
            UIB_DEF_TB0 + 1, 2, 5, -1, 11, 12, 13, 14, 15, 16, 17, 18, 19, &pad,
            UIB_TB_STYLE1,
            UIB_DEF_LABEL0 + 2, 2, 9, 0, 0xffffffffu, nullptr, UIB_LABEL_STYLE0 + 2,
            UIB_END);
  widget *t = nullptr, *l = nullptr, *t0 = nullptr;
  keep(uib_build(UIB_VBOX, 0, 0, UIB_TEXTBOX, "x", 5, 0, 1, UIB_STORE, &t,
                 UIB_TEXTBOX0, "y", 5, 0, 2, UIB_STORE, &t0, UIB_LABEL, "l", UIB_STORE, &l,
                 UIB_END));
  auto *tb = static_cast<textbox *>(t);
  EXPECT_EQ(tb->style[1], 5);  // style 1 is still selected
  EXPECT_EQ(tb->style[11], 19);
  EXPECT_EQ(tb->pad.top, 1);
  EXPECT_EQ(static_cast<textbox *>(t0)->style[3], 1);
  EXPECT_EQ(static_cast<label *>(l)->font, 0);  // label style back to 0
  keep(uib_build(UIB_VBOX, 0, 0, UIB_LABEL_STYLE0 + 2, UIB_LABEL, "l", UIB_STORE, &l,
                 UIB_LABEL0 + 2, "m", UIB_END));
  EXPECT_EQ(static_cast<label *>(l)->font, 9);
  EXPECT_EQ(static_cast<label *>(made->cls->get_child(made, 1))->font, 9);
  uib_build(UIB_TB_STYLE0, UIB_END);
}

TEST_F(Uib, AddsAnExistingWidget) {
  label *l = label_new(nullptr, "mine", 0, 0, 0, 0, nullptr);
  widget *last = nullptr;
  keep(uib_build(UIB_HBOX, 0, 0, UIB_LABEL, "a", UIB_ADD, l, UIB_STORE, &last, UIB_END));
  EXPECT_EQ(tree(made), "hbox(label:a,label:mine)");
  EXPECT_EQ(tree(last), "label:a");  // the stack did not change
}

// An unknown token ends the process through the FATAL path.
void build_unknown(int32_t token) {
  log_set_stderr(1);
  widget_set_queue(no_queue);
  uib_build(UIB_VBOX, 0, 0, token, UIB_END);
}

TEST(UibDeathTest, UnknownTokenIsFatal) {
  EXPECT_DEATH(build_unknown(999), "bad ui token 999");
  EXPECT_DEATH(build_unknown(0), "bad ui token 0");
  EXPECT_DEATH(build_unknown(123), "bad ui token 123");
  EXPECT_DEATH(build_unknown(7), "bad ui token 7");
}

}  // namespace
