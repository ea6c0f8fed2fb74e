// Chart styles: naming and ids, the registered order, watchers and their
// notices, deletion under watching charts, and the saved text read back
// (with the normalisation of damaged or partial blocks).
#include "charts/cstyle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chart_fixture.h"
#include "config/autosave.h"
#include "config/config.h"
#include "sstime.h"
#include "undo.h"

namespace {

::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new ChartRuntime);

class Cstyle : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(config_init(), 0);
    ASSERT_EQ(cstyle_init(), 0);
    cstyle_set_chart_hooks(nullptr);
    config_autosave_cancel();
  }
  void TearDown() override {
    cstyle_fini();
    config_shutdown();
  }

  std::string saved(const cstyle* s) {
    config_out_reset();
    cstyle_save(s);
    return config_out_buffer(nullptr);
  }
  // Loads `text` into a fresh registered style.
  cstyle* loaded(const std::string& text) {
    EXPECT_EQ(0, config_load_buffer(text.data(), (int32_t)text.size()));
    cstyle* s = cstyle_new("loaded", 0);
    cstyle_load(s);
    return s;
  }
  std::vector<std::string> names() {
    std::vector<std::string> v;
    cstyle_rewind();
    while (cstyle* s = cstyle_next()) v.push_back(std::string(s->name) + "@" + std::to_string(s->ordinal));
    return v;
  }
};

// A watcher that records what it is told and may act on the style.
struct Seen {
  std::vector<int> events;
  int unwatch_self = 0;
  int rename_inside = 0;
  int ignore_delete = 0;
};

void record(cstyle* s, int event, void* owner, void* argument, int) {
  auto* seen = static_cast<Seen*>(argument);
  seen->events.push_back(event);
  if (seen->rename_inside) cstyle_rename(s, "nested");
  if (seen->unwatch_self) cstyle_unwatch(s, owner);
}

TEST_F(Cstyle, NamesTakeTheNextFreeSuffix) {
  struct Case {
    const char* given;
    const char* expected;
  } cases[] = {
      {nullptr, "New Chart"},
      {"", "New Chart (2)"},
      {nullptr, "New Chart (3)"},
      {"Daily (4)", "Daily (4)"},  // no style of the base "Daily" yet
      {"Daily", "Daily (5)"},
      {"Weekly", "Weekly"},
      {"Weekly", "Weekly (2)"},
      {"A name of more than thirty-one characters", "A name of more than thirty-one "},
  };
  for (const Case& c : cases) {
    cstyle* s = cstyle_new(c.given, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(c.expected, s->name) << (c.given ? c.given : "(null)");
  }
  EXPECT_EQ(0, cstyle_name_free("Weekly (2)"));
  EXPECT_EQ(1, cstyle_name_free("Monthly"));
  EXPECT_EQ(0, cstyle_name_free(""));
}

TEST_F(Cstyle, IdsAreUniqueAndFollowTheHighest) {
  cstyle* a = cstyle_new("a", 0);
  EXPECT_EQ(1, a->id);
  cstyle* b = cstyle_new("b", 7);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(7, b->id);
  {
    LogCapture log;
    EXPECT_EQ(nullptr, cstyle_new("c", 7));
    EXPECT_TRUE(log.has("cstyle id 7 in use"));
  }
  EXPECT_EQ(8, cstyle_new("d", 0)->id);
  EXPECT_EQ(3, cstyle_new("e", 3)->id);
  EXPECT_EQ(9, cstyle_new("f", -1)->id);
  EXPECT_EQ(b, cstyle_find(7));
  EXPECT_EQ(nullptr, cstyle_find(2));
  EXPECT_EQ(7, cstyle_id_at(1));
  EXPECT_EQ(-1, cstyle_id_at(6));

  // A private style named in the tool panel joins the list at its end.
  cstyle* p = cstyle_alloc();
  EXPECT_EQ(1, cstyle_is_unnamed(p));
  cstyle_set_id(p);
  EXPECT_EQ(10, p->id);
  EXPECT_EQ(5, p->ordinal);
  EXPECT_EQ(6, cstyle_count());
  LogCapture log;
  cstyle_set_id(p);
  EXPECT_TRUE(log.has("cstyle 10 is already registered?"));
  EXPECT_EQ(6, cstyle_count());
}

// A stored configuration may hold the largest id there is: a new style, made
// or named from a private one, then takes the lowest free id.
TEST_F(Cstyle, AfterTheLargestIdTheLowestFreeIsHandedOut) {
  cstyle* one = cstyle_new("one", 0);
  ASSERT_EQ(1, one->id);
  ASSERT_NE(nullptr, cstyle_new("top", INT32_MAX));
  cstyle* two = cstyle_new("two", 0);
  ASSERT_NE(nullptr, two);
  EXPECT_EQ(2, two->id);
  cstyle* p = cstyle_alloc();
  cstyle_set_id(p);
  EXPECT_EQ(3, p->id);
  EXPECT_EQ(p, cstyle_find(3));
  cstyle_delete(one);
  cstyle* again = cstyle_new("again", 0);
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(1, again->id);
  EXPECT_EQ(4, cstyle_count());
}

TEST_F(Cstyle, MovesKeepOrdinalsInListOrder) {
  cstyle_new("A", 0);
  cstyle_new("B", 0);
  cstyle_new("C", 0);
  struct Case {
    int from, to;
    std::vector<std::string> expected;
  } cases[] = {
      {0, 99, {"B@0", "C@1", "A@2"}},
      {2, 0, {"A@0", "B@1", "C@2"}},
      {1, 1, {"A@0", "B@1", "C@2"}},
      {5, 0, {"A@0", "B@1", "C@2"}},  // no style there
      {0, 1, {"B@0", "A@1", "C@2"}},
      {2, 1, {"B@0", "C@1", "A@2"}},
  };
  for (const Case& c : cases) {
    cstyle_move(c.from, c.to);
    EXPECT_EQ(c.expected, names()) << c.from << " -> " << c.to;
  }
  EXPECT_EQ(0, config_autosave_pending());  // a move asks for no save
}

TEST_F(Cstyle, UnlinkAndRegisterPutAStyleBackAtItsPlace) {
  cstyle* a = cstyle_new("A", 0);
  cstyle* b = cstyle_new("B", 0);
  cstyle* c = cstyle_new("C", 0);
  cstyle_unlink(b);
  EXPECT_EQ((std::vector<std::string>{"A@0", "C@1"}), names());
  EXPECT_EQ(1, config_autosave_pending());
  // A second unlink (or a delete) of a style out of its list does nothing.
  cstyle_unlink(b);
  cstyle_delete(b);
  EXPECT_EQ(2, cstyle_count());
  EXPECT_EQ((std::vector<std::string>{"A@0", "C@1"}), names());
  config_autosave_cancel();
  cstyle_register(b);
  EXPECT_EQ((std::vector<std::string>{"A@0", "B@1", "C@2"}), names());
  EXPECT_EQ(1, config_autosave_pending());
  EXPECT_EQ(0u, b->flags & kCstyleDeleting);
  // Registering a style already listed changes nothing.
  cstyle_register(a);
  EXPECT_EQ(3, cstyle_count());
  // An ordinal past the end appends.
  cstyle_unlink(a);
  a->ordinal = 40;
  cstyle_register(a);
  EXPECT_EQ((std::vector<std::string>{"B@0", "C@1", "A@2"}), names());
  (void)c;
  // A private style goes back to the private list.
  cstyle* p = cstyle_alloc();
  int32_t privates = cstyle_private_count();
  cstyle_unlink(p);
  EXPECT_EQ(privates - 1, cstyle_private_count());
  cstyle_register(p);
  EXPECT_EQ(privates, cstyle_private_count());
  EXPECT_EQ(-1, p->ordinal);
}

TEST_F(Cstyle, NoticesSkipTheEditorOwnerlessAndNested) {
  cstyle* s = cstyle_new("shared", 0);
  TestPlot a, b, c;
  Seen sa, sb, none, self;
  a->style = b->style = s;
  ASSERT_EQ(0, cstyle_watch(s, record, a.get(), &sa, 0));
  ASSERT_EQ(0, cstyle_watch(s, record, nullptr, &none, 0));  // no owner: never told
  self.unwatch_self = 1;
  ASSERT_EQ(0, cstyle_watch(s, record, c.get(), &self, 0));
  sb.rename_inside = 1;
  ASSERT_EQ(0, cstyle_watch(s, record, b.get(), &sb, 0));
  // Chart a is edited; the style takes its settings and passes them on.
  a->range = 5;
  a->range_count = 7;
  a->period = 2;
  a->period_count = 5;
  a->type = 1;
  a->options = 0x4;
  chart_ta* sma = alloc_add_overlay(a.get(), 2);
  sma->params[0] = 13;
  alloc_add_indicator(a.get(), 15);
  EXPECT_EQ(0, cstyle_apply(s, a.get()));
  EXPECT_TRUE(sa.events.empty());
  EXPECT_TRUE(none.events.empty());
  EXPECT_EQ(std::vector<int>{1}, self.events);  // and it left during its call
  EXPECT_EQ(std::vector<int>{1}, sb.events);    // the rename inside told nobody
  EXPECT_STREQ("nested", s->name);
  EXPECT_EQ(3, s->watcher_count);
  EXPECT_EQ(5, b->range);
  EXPECT_EQ(7, b->range_count);
  EXPECT_EQ(2, b->eff_period);
  EXPECT_EQ(5, b->eff_count);
  EXPECT_EQ(1, b->type);
  EXPECT_EQ(0x4u, b->options);
  ASSERT_NE(b->overlays, nullptr);
  EXPECT_EQ(2, b->overlays->type);
  EXPECT_EQ(13.0f, b->overlays->params[0]);
  ASSERT_NE(b->indicators, nullptr);
  EXPECT_EQ(15, b->indicators->type);
  EXPECT_EQ(14.0f, b->indicators->params[0]);  // the registry's default, carried over
  // A rename outside a notice reaches both charts.
  sb.rename_inside = 0;
  cstyle_rename(s, "renamed");
  EXPECT_EQ((std::vector<int>{2}), sa.events);
  EXPECT_EQ((std::vector<int>{1, 2}), sb.events);
  cstyle_rename(s, "renamed");  // unchanged: nobody told
  EXPECT_EQ(2u, sb.events.size());
  // Unwatching an owner that isn't there.
  LogCapture log;
  EXPECT_EQ(-1, cstyle_unwatch(s, c.get()));
  EXPECT_TRUE(log.has("can't find watch nuchart"));
  cstyle_unwatch(s, nullptr);
  cstyle_unwatch(s, a.get());
  cstyle_unwatch(s, b.get());
  EXPECT_EQ(0, s->watcher_count);
  EXPECT_EQ(s, cstyle_find(s->id));  // a registered style without watchers stays
}

TEST_F(Cstyle, DeletionLeavesEachChartOnAPrivateCopy) {
  cstyle* s = cstyle_new("Intraday", 0);
  s->range = 4;
  s->range_count = 2;
  s->period = 2;
  TestPlot a, b;
  for (TestPlot* t : {&a, &b}) {
    (*t)->style = s;
    ASSERT_EQ(0, cstyle_watch(s, cstyle_chart_notice, t->get(), nullptr, 0));
  }
  int32_t privates = cstyle_private_count();
  cstyle_delete(s);
  EXPECT_EQ(0, cstyle_count());
  EXPECT_EQ(privates + 2, cstyle_private_count());
  ASSERT_NE(a->style, b->style);
  for (TestPlot* t : {&a, &b}) {
    cstyle* copy = (*t)->style;
    EXPECT_EQ(0, copy->id);
    EXPECT_STREQ("", copy->name);
    EXPECT_EQ(4, copy->range);
    EXPECT_EQ(2, copy->range_count);
    EXPECT_EQ(2, copy->period);
    EXPECT_EQ(1, copy->watcher_count);
  }
  // The last chart leaving a private style frees it.
  cstyle_unwatch(a->style, a.get());
  EXPECT_EQ(privates + 1, cstyle_private_count());
  cstyle_unwatch(b->style, b.get());
  EXPECT_EQ(privates, cstyle_private_count());
}

TEST_F(Cstyle, DeletingAWatchedStyleKeepsItUnlinked) {
  cstyle* s = cstyle_new("kept", 0);
  Seen stubborn;
  int owner = 0;
  ASSERT_EQ(0, cstyle_watch(s, record, &owner, &stubborn, 0));
  LogCapture log;
  cstyle_delete(s);
  EXPECT_TRUE(log.has("can't delete cstyle kept because people are watching"));
  EXPECT_EQ(std::vector<int>{3}, stubborn.events);
  EXPECT_EQ(0, cstyle_count());
  EXPECT_STREQ("kept", s->name);  // alive
  EXPECT_EQ(0, cstyle_unwatch(s, &owner));
  EXPECT_EQ(0, cstyle_unwatch(s, &owner));  // silently, while deleting
  EXPECT_EQ(0, cstyle_count());
}

TEST_F(Cstyle, AssignCopiesAndEveryChartFollows) {
  cstyle* s = cstyle_new("s", 0);
  TestPlot edited, watching;
  edited->type = 7;
  edited->scale = 9;
  edited->range = 6;
  edited->range_count = 3;
  alloc_add_overlay(edited.get(), 3)->params[0] = 8;
  alloc_add_overlay(edited.get(), 2);
  cstyle* src = cstyle_alloc();
  ASSERT_EQ(0, cstyle_apply(src, edited.get()));
  Seen seen;
  ASSERT_EQ(0, cstyle_watch(s, record, watching.get(), &seen, 0));
  cstyle_assign(s, src);
  EXPECT_EQ(std::vector<int>{1}, seen.events);
  EXPECT_EQ(7, watching->type);
  EXPECT_EQ(9, watching->scale);
  EXPECT_EQ(6, watching->range);
  EXPECT_EQ(2, watching->overlay_count);
  EXPECT_EQ(3, watching->overlays->type);
  EXPECT_EQ(8.0f, watching->overlays->params[0]);
  EXPECT_EQ(kChartDirtyAll, watching->dirty & kChartDirtyAll);
  // The copy is the source's own: freeing the source leaves it whole.
  cstyle_delete(src);
  EXPECT_EQ(3, s->overlays->type);
  EXPECT_EQ(2, s->overlays->next->type);
  EXPECT_EQ(nullptr, s->overlays->next->next);
  EXPECT_STREQ("s", s->name);
  cstyle_unwatch(s, watching.get());
}

TEST_F(Cstyle, SavedTextReadsBack) {
  TestPlot plot;
  plot->range = 11;
  plot->range_count = 1;
  plot->from = sstime_pack(0, 0, 10, 2, 1, 2025);
  plot->to = sstime_pack(30, 15, 16, 28, 2, 2025);
  plot->from_type = 1;
  plot->mid_type = -1;
  plot->to_type = 2;
  plot->period = 6;
  plot->period_count = 2;
  plot->scale = 10;
  plot->type = 16;
  plot->options = 0x210004;
  chart_ta* a = alloc_add_overlay(plot.get(), 4);  // Bollinger: three parameters
  a->params[0] = 21;
  a->params[1] = kCstyleUnset;  // second unset: only the first is written
  a->params[2] = 3;
  alloc_add_overlay(plot.get(), 9);
  chart_ta* ind = alloc_add_indicator(plot.get(), 15);
  ind->params[0] = 10;
  ind->params[1] = 4;
  ind->params[2] = 2.5f;
  cstyle* s = cstyle_new("round trip", 0);
  cstyle_apply(s, plot.get());
  std::string text = saved(s);
  // The keys in their order.
  std::vector<std::string> keys;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    std::string line = text.substr(at, end - at);
    keys.push_back(line.substr(0, line.find(' ')));
    at = end + 1;
  }
  EXPECT_EQ((std::vector<std::string>{"range", "range_count", "from", "mid", "to", "from_type", "mid_type", "to_type",
                                      "period", "period_count", "scale", "type", "options", "overlay", "overlay.type",
                                      "overlay.param", "overlay", "overlay.type", "overlay.param", "indicator",
                                      "indicator.type",
                                      "indicator.param", "indicator.param", "indicator.param"}),
            keys)
      << text;
  EXPECT_NE(std::string::npos, text.find("options 210004\n"));
  EXPECT_NE(std::string::npos, text.find("mid 0\n"));

  cstyle* back = loaded(text);
  EXPECT_EQ(saved(s), saved(back));
  EXPECT_EQ(s->from, back->from);
  EXPECT_EQ(s->to, back->to);
  ASSERT_NE(back->overlays, nullptr);
  EXPECT_EQ(21.0f, back->overlays->params[0]);
  EXPECT_EQ(kCstyleUnset, back->overlays->params[1]);
  EXPECT_EQ(kCstyleUnset, back->overlays->params[2]);
  EXPECT_EQ(2.5f, back->indicators->params[2]);
}

TEST_F(Cstyle, LoadingNormalisesSpansAndKeepsDefaultsForAbsentKeys) {
  struct Case {
    const char* text;
    int32_t range, range_count, from_type, mid_type, to_type, period, type;
    const char* logged;
  } cases[] = {
      // A from-to range needs both ends.
      {"range 11\nrange_count 4\nfrom 2/1/2025-10:00:00\n", 1, 1, -1, -1, 6, 5, 4, nullptr},
      {"range 11\nfrom 2/1/2025-10:00:00\nto 3/1/2025-10:00:00\n", 11, 1, -1, -1, 6, 5, 4, nullptr},
      // A stored-time end without its time.
      {"from_type 1\nmid_type 1\nto_type 1\n", 1, 1, -1, -1, 5, 5, 4, nullptr},
      {"to_type 1\nto 3/1/2025-10:00:00\n", 1, 1, -1, -1, 1, 5, 4, nullptr},
      // "type" absent: the older "main.type".
      {"main.type 6\n", 1, 1, -1, -1, 6, 5, 6, nullptr},
      {"type 3\nmain.type 6\n", 1, 1, -1, -1, 6, 5, 3, nullptr},
      // Absent keys keep the defaults and say so.
      {"range 5\n", 5, 1, -1, -1, 6, 5, 4, "has no period"},
      // A damaged block: values out of their ranges or not numbers.
      {"range 99\nrange_count -3\nperiod x\nto_type 12\ntype 8\n", 1, 1, -1, -1, 6, 5, 4, "bad range"},
      {"period 12\ntype 16\nfrom_type -7\n", 1, 1, -1, -1, 6, 5, 16, "bad period"},
  };
  for (const Case& c : cases) {
    LogCapture log;
    cstyle* s = loaded(c.text);
    EXPECT_EQ(c.range, s->range) << c.text;
    EXPECT_EQ(c.range_count, s->range_count) << c.text;
    EXPECT_EQ(c.from_type, s->from_type) << c.text;
    EXPECT_EQ(c.mid_type, s->mid_type) << c.text;
    EXPECT_EQ(c.to_type, s->to_type) << c.text;
    EXPECT_EQ(c.period, s->period) << c.text;
    EXPECT_EQ(c.type, s->type) << c.text;
    if (c.logged) {
      EXPECT_TRUE(log.has(c.logged)) << c.text;
    }
  }
}

TEST_F(Cstyle, LoadingSkipsDamagedSettings) {
  cstyle* s = loaded(
      "overlay\noverlay.param 4\n"                      // no type: skipped
      "overlay\noverlay.type 999\n"                     // not in the registry
      "overlay\noverlay.type 2\noverlay.param nan\noverlay.param 7\n"
      "overlay\noverlay.type 3\noverlay.param 1\noverlay.param 2\noverlay.param 3\noverlay.param 4\n"
      "indicator\nindicator.type x\n"
      "indicator\nindicator.type 1\n");
  ASSERT_NE(s->overlays, nullptr);
  EXPECT_EQ(2, s->overlays->type);
  EXPECT_EQ(kCstyleUnset, s->overlays->params[0]);
  EXPECT_EQ(7.0f, s->overlays->params[1]);
  ASSERT_NE(s->overlays->next, nullptr);
  EXPECT_EQ(3, s->overlays->next->type);
  EXPECT_EQ(3.0f, s->overlays->next->params[2]);
  EXPECT_EQ(nullptr, s->overlays->next->next);
  ASSERT_NE(s->indicators, nullptr);
  EXPECT_EQ(1, s->indicators->type);
  EXPECT_EQ(nullptr, s->indicators->next);
  // Applied to a chart, an unset parameter leaves the registry's default.
  TestPlot plot;
  cstyle_apply_spec(plot.get(), s);
  ASSERT_EQ(2, plot->overlay_count);
  EXPECT_EQ(50.0f, plot->overlays->params[0]);
}

TEST_F(Cstyle, ShutdownFreesWhatNobodyWatches) {
  cstyle_new("a", 0);
  cstyle* watched = cstyle_new("b", 0);
  int owner = 0;
  Seen seen;
  cstyle_watch(watched, record, &owner, &seen, 0);
  cstyle_alloc();
  LogCapture log;
  cstyle_fini();
  EXPECT_TRUE(log.has("can't delete cstyle b because people are watching"));
  EXPECT_TRUE(seen.events.empty());  // no notices while shutting down
  ASSERT_EQ(cstyle_init(), 0);
  EXPECT_EQ(0, cstyle_count());
}

// The undo ring's registration, captured.
const undo_record_ops* g_ops[64];
void capture(int type, const undo_record_ops* ops) { g_ops[type] = ops; }

TEST_F(Cstyle, UndoRecordsPutStylesBack) {
  cstyle_undo_register(capture);
  const undo_record_ops* chart = g_ops[UNDO_CHART_STYLE];
  const undo_record_ops* deleted = g_ops[UNDO_CSTYLE_DELETED];
  const undo_record_ops* created = g_ops[UNDO_CSTYLE_CREATED];
  ASSERT_TRUE(chart && deleted && created);

  // 17: a chart's style is edited, then the edit undone: every chart on
  // the style is back, and the copy is gone.
  cstyle* s = cstyle_new("shared", 0);
  TestPlot a, b;
  for (TestPlot* t : {&a, &b}) {
    (*t)->style = s;
    cstyle_apply_spec(t->get(), s);
    ASSERT_EQ(0, cstyle_watch(s, cstyle_chart_notice, t->get(), nullptr, 0));
  }
  int32_t privates = cstyle_private_count();
  void* saved = chart->save(a.get());
  ASSERT_NE(nullptr, saved);
  EXPECT_EQ(privates + 1, cstyle_private_count());
  a->type = 16;
  a->range = 7;
  cstyle_apply(s, a.get());
  EXPECT_EQ(16, b->type);
  EXPECT_EQ(0, chart->restore(saved, a.get()));
  chart->release(saved, 0);
  EXPECT_EQ(4, s->type);
  EXPECT_EQ(4, a->type);
  EXPECT_EQ(4, b->type);
  EXPECT_EQ(1, b->range);
  EXPECT_EQ(privates, cstyle_private_count());

  // 24 then 23 in one step: a style created and then deleted. Undo runs
  // newest first: the deletion is taken back, then the creation.
  cstyle* made = cstyle_new("made", 0);
  void* c_saved = created->save(made);
  void* d_saved = deleted->save(made);
  cstyle_delete(made);  // held: unlinked, not freed
  EXPECT_EQ(nullptr, cstyle_find(made->id));
  EXPECT_EQ(0, deleted->restore(d_saved, nullptr));
  EXPECT_EQ(made, cstyle_find(made->id));
  EXPECT_EQ(1, made->ordinal);
  EXPECT_EQ(0, created->restore(c_saved, nullptr));
  EXPECT_EQ(nullptr, cstyle_find(made->id));
  EXPECT_EQ(1, cstyle_count());
  deleted->release(d_saved, 0);
  created->release(c_saved, 0);  // the last holder frees the unlinked style

  // A deletion that stays (the record dropped from a full ring) frees the
  // style when the record goes; one that was undone keeps it.
  cstyle* gone = cstyle_new("gone", 0);
  void* g_saved = deleted->save(gone);
  cstyle_delete(gone);
  deleted->release(g_saved, 3);
  EXPECT_EQ(1, cstyle_count());
  cstyle* back = cstyle_new("back", 0);
  void* b_saved = deleted->save(back);
  cstyle_delete(back);
  deleted->restore(b_saved, nullptr);
  deleted->release(b_saved, 0);
  EXPECT_EQ(back, cstyle_find(back->id));
  EXPECT_STREQ("back", back->name);
  for (TestPlot* t : {&a, &b}) cstyle_unwatch(s, t->get());
}

}  // namespace
